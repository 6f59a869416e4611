// The three courses and the stages each plays in turn. Course play goes from a
// course's first stage to its last without asking the tables, so the start
// check requires every one of these stages in both tables.
#pragma once

#include <cstdint>

struct C_CourseStages {
  std::int32_t first;
  std::int32_t last;
};

inline constexpr C_CourseStages kCourseStages[3] = {{1, 8}, {9, 16}, {17, 20}};
// The stages the courses play lie in 1 to this, one after another.
inline constexpr std::int32_t kLastCourseStage = kCourseStages[2].last;
static_assert(kCourseStages[0].first == 1 && kCourseStages[1].first == kCourseStages[0].last + 1 &&
                  kCourseStages[2].first == kCourseStages[1].last + 1,
              "the courses play stages 1 to kLastCourseStage without a gap");
