// Loops compiled from facts that cover every pass, where their exact
// simulation meets the lowering's bound (loop_cover.cpp). The bound is cut
// here so that programs of a few dozen statements meet it: the code they
// give must compute what the source does, and under the reference switch
// each covered loop is also simulated in full (where that fits four times
// the bound), whose facts the covering ones must hold: the trip count where the
// condition and step decide it, the counter, the carried symbols, ranges
// that contain the full simulation's and flags no more than its.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "loop_bound_compile.h"
#include "tests/gxl/shader/nested_loop_programs.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using shadertest::LoopCompile;
using shadertest::LoopCompileOptions;
using V4 = std::array<float, 4>;

// The cut bound: a loop of 255 passes over a body of some 70 instructions
// meets it, the code of such a loop fits it many times over.
constexpr std::uint64_t kCutBound = 20000;

using Body = shadertest::LoopPairs;

Body MakeBody(std::uint32_t seed, int pairs) { return shadertest::MakeLoopPairs(seed, pairs); }

void RunBody(const Body& body, int i, V4& a, V4& b, const V4& c) { shadertest::RunLoopPairs(body, i, a, b, c); }

// Loops around the body over the uniforms n and m, and the same loops here.
struct Shape {
  const char* name;
  const char* open;  // up to the body
  const char* close;
  void (*run)(const Body& body, int n, int m, V4& a, V4& b, const V4& c);
};

const Shape kShapes[] = {
    // The condition and step decide the trip count.
    {"i < n", "for (int i = 0; i < n; i++) {", "}",
     [](const Body& body, int n, int, V4& a, V4& b, const V4& c) {
       for (int i = 0; i < n; ++i) RunBody(body, i, a, b, c);
     }},
    // The condition reads what the body writes.
    {"i < n && a.x < 40", "for (int i = 0; i < n && a.x < 40; i++) {", "}",
     [](const Body& body, int n, int, V4& a, V4& b, const V4& c) {
       for (int i = 0; i < n && a[0] < 40; ++i) RunBody(body, i, a, b, c);
     }},
    // The body moves the counter too.
    {"counter moved by the body", "for (int i = 0; i < n; i++) { if (b.y > a.x) i += 1;", "}",
     [](const Body& body, int n, int, V4& a, V4& b, const V4& c) {
       for (int i = 0; i < n; ++i) {
         if (b[1] > a[0]) i += 1;
         RunBody(body, i, a, b, c);
       }
     }},
    // An inner loop over m inside.
    {"j < m in i < n", "for (int i = 0; i < n; i++) for (int j = 0; j < m; j++) {", "}",
     [](const Body& body, int n, int m, V4& a, V4& b, const V4& c) {
       for (int i = 0; i < n; ++i)
         for (int j = 0; j < m; ++j) RunBody(body, i, a, b, c);
     }},
    // A do loop.
    {"do while", "int i = 0; do {", "i++; } while (i < n);",
     [](const Body& body, int n, int, V4& a, V4& b, const V4& c) {
       int i = 0;
       do {
         RunBody(body, i, a, b, c);
         ++i;
       } while (i < n);
     }},
};

std::string Program(const Shape& shape, const Body& body, bool pixel) {
  const std::string head = "int n; int m; float4 c;\n";
  const std::string loops = std::string(shape.open) + "\n" + body.text + shape.close + "\n";
  return shadertest::LoopPairsProgram(head, loops, pixel);
}

TEST(GxlCompilerMend, CoveredLoopsComputeWhatTheirSourceDoes) {
  const V4 a0 = {0.5f, -0.75f, 1.25f, 0.125f}, b0 = {0.25f, -0.5f, 0.75f, -1}, c = {0.125f, -0.25f, 0.0625f, 0.375f};
  constexpr int kM = 3;
  for (std::uint32_t s = 0; s < std::size(kShapes); ++s) {
    const Shape& shape = kShapes[s];
    const Body body = MakeBody(s, 12);
    for (const bool pixel : {false, true})
      for (const DWORD flags : shadertest::kBoth) {
        const char* profile = pixel ? "ps_3_0" : "vs_3_0";
        SCOPED_TRACE(std::string(shape.name) + " " + profile + " flags " + std::to_string(flags));
        LoopCompileOptions o;
        o.builds = kCutBound;
        const LoopCompile r = shadertest::CompileLoops(Program(shape, body, pixel), profile, flags, o);
        ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
        EXPECT_GT(r.covered, 0u);
        EXPECT_TRUE(shadertest::HasLoop(r.c)) << r.c.text;
        for (const int n : {0, 1, 4, 9, 30}) {
          V4 a = a0, b = b0;
          shape.run(body, n, kM, a, b, c);
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLoopPairsLane(r.c, pixel, n, kM, c, a0, b0, &got, &error)) << error;
          for (int e = 0; e < 4; ++e)
            EXPECT_NEAR(got[e], a[e] + b[e], 1e-4 * (1 + std::fabs(a[e] + b[e]))) << "n " << n << " [" << e << "]";
        }
      }
  }
}

TEST(GxlFlowNested, CoveredLoopsCoverTheFullSimulation) {
  std::uint32_t checks = 0, covered = 0, projected = 0, ended = 0;
  auto check = [&](const std::string& source, const char* profile, std::uint64_t bound, const std::string& what) {
    LoopCompileOptions o;
    o.builds = bound;
    o.reference = true;
    LoopCompile r = shadertest::CompileLoops(source, profile, 0, o);
    EXPECT_EQ(r.coverMismatches, 0u) << what << "\n" << r.c.log;
    EXPECT_EQ(r.settleMismatches, 0u) << what << "\n" << r.c.log;
    // A simulation given up by projection where the loop's condition and
    // step told its passes would not have fitted its share.
    EXPECT_EQ(r.projectionMisses, 0u) << what << "\n" << r.c.log;
    EXPECT_EQ(r.c.log.find("internal error"), std::string::npos) << what << "\n" << r.c.log;
    checks += r.coverChecks;
    covered += r.covered;
    projected += r.projected;
    ended += r.projectionChecks;
    return r;
  };
  for (std::uint32_t s = 0; s < std::size(kShapes); ++s)
    for (const bool pixel : {false, true}) {
      const Body body = MakeBody(s + 7, 12);
      const LoopCompile r = check(Program(kShapes[s], body, pixel), pixel ? "ps_3_0" : "vs_3_0", kCutBound,
                                  std::string(kShapes[s].name) + (pixel ? " pixel" : " vertex"));
      EXPECT_EQ(r.c.hr, S_OK) << kShapes[s].name << "\n" << r.c.log;
      EXPECT_GT(r.coverChecks, 0u) << kShapes[s].name;
    }
  // Nests of the flow tests, at a bound each meets.
  for (const std::uint64_t bound : {kCutBound / 4, kCutBound}) {
    check(shadertest::FlagEndedLoopsProgram(true), "vs_3_0", bound, "flag-ended loops");
    check(shadertest::kThreeNestedLoopsProgram, "vs_3_0", bound, "three nested loops");
    check(shadertest::kNarrowedValueLoopsProgram, "vs_3_0", bound, "a value narrowed from above");
    check(shadertest::kCallInNestedLoopsProgram, "vs_3_0", bound, "a call in nested loops");
    check(shadertest::NestedUniformLoopsProgram(20), "vs_3_0", bound, "benchmark's nested loops");
  }
  static const char* const kProfiles[] = {"vs_3_0", "ps_3_0", "vs_2_a", "vs_2_sw"};
  const auto count = static_cast<std::uint32_t>(nura::test::LongOrShare(120, 24));
  std::vector<std::uint32_t> seeds;
  for (std::uint32_t seed = 0; seed < count; ++seed) seeds.push_back(seed);
  // Seeds whose projection stops at a loop its condition and step end (53:
  // where the rehearsal of that condition counted as simulation work); seeds
  // whose covered loops start from values without a fact their passes give
  // (55, 73: a start value taking the passes' facts shows there).
  for (const std::uint32_t seed : {33u, 53u, 55u, 57u, 73u, 111u})
    if (seed >= count) seeds.push_back(seed);
  for (const std::uint32_t seed : seeds) {
    const char* profile = kProfiles[seed % std::size(kProfiles)];
    const hlslgen::Generator nested(0x4E570000u + seed, shadertest::NestedUniformLoopOptions(seed));
    check(nested.UniformProgram(profile[0] == 'p'), profile, kCutBound / 4, "nested seed " + std::to_string(seed));
  }
  EXPECT_GT(checks, 20u);
  EXPECT_GT(projected, 10u);
  EXPECT_GT(ended, 0u);
  std::printf("[ cover ] %u covered loops checked of %u; %u projected, %u of them at a loop its condition ends\n",
              checks, covered, projected, ended);
}

}  // namespace
