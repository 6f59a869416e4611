// The stage tables: their byte format, and for every stage the rules that make
// it playable (start on a floor, goal reachable, everything inside the field,
// floors that never overlap, a preview that ends on the goal, times in order).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <queue>
#include <string>

#include "tests/assets/stage_model.h"
#include "tests/support/test_util.h"

namespace nura::assets_test {
namespace {

constexpr int kField = 1440;  // coordinates run 0..1439
constexpr int kBody = 13;     // the body's reference point lies 13 px inside its top-left

Table TableOf(const std::string& text) { return ReadTable(std::vector<std::uint8_t>(text.begin(), text.end())); }

TEST(AssetsTables, ReaderFollowsTheGameRules) {
  Table t = TableOf("1,2\r\n3,4\r\n");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(VisitedRows(t), 2u);
  EXPECT_EQ(t[1], (std::vector<std::string>{"3", "4"}));
  EXPECT_EQ(t[2], (std::vector<std::string>{""}));
  EXPECT_EQ(VisitedRows(TableOf("1,2\r\n3")), 1u) << "a last line without CR LF is not visited";
  EXPECT_EQ(TableOf("a,,b\r\n")[0], (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(TableOf("a\nb\r\n")[0], (std::vector<std::string>{"a\nb"}));
  EXPECT_EQ(TableOf("1\rX2\r\n")[1], (std::vector<std::string>{"2"})) << "the byte after CR is skipped";
}

TEST(AssetsTables, EveryLineEndsWithCrLfTheLastToo) {
  for (const char* name : {"Floor.dat", "StageData.dat"}) {
    std::vector<std::uint8_t> b = test::ReadFileBytes(DataPath(name));
    ASSERT_GE(b.size(), 2u) << name;
    EXPECT_EQ(b[b.size() - 2], '\r') << name;
    EXPECT_EQ(b[b.size() - 1], '\n') << name;
    for (size_t i = 0; i < b.size(); ++i) {
      if (b[i] == '\r') {
        ASSERT_TRUE(i + 1 < b.size() && b[i + 1] == '\n') << name << " offset " << i;
      }
      if (b[i] == '\n') {
        ASSERT_TRUE(i > 0 && b[i - 1] == '\r') << name << " offset " << i;
      }
    }
  }
}

TEST(AssetsTables, BothTablesParseIntoTwentyCompleteStages) {
  Stages s = LoadStages();
  for (const std::string& p : s.problems) ADD_FAILURE() << p;
  ASSERT_EQ(s.byNumber.size(), 20u);
  for (int n = 1; n <= 20; ++n) {
    ASSERT_TRUE(s.byNumber.count(n)) << "stage " << n;
    const Stage& st = s.byNumber.at(n);
    EXPECT_EQ(st.starts, 1) << "stage " << n;
    EXPECT_EQ(st.goals, 1) << "stage " << n;
    EXPECT_EQ(st.times, 1) << "stage " << n;
    EXPECT_FALSE(st.floors.empty()) << "stage " << n;
    EXPECT_FALSE(st.path.empty()) << "stage " << n;
  }
}

TEST(AssetsStages, TimesAreOrderedAndCoursesFitInTenMinutes) {
  Stages s = LoadStages();
  int course[4] = {0, 0, 0, 0};
  for (const auto& [n, st] : s.byNumber) {
    EXPECT_LT(0, st.timeA) << "stage " << n;
    EXPECT_LT(st.timeA, st.timeB) << "stage " << n;
    EXPECT_LT(st.timeB, st.limit) << "stage " << n;
    EXPECT_LT(st.limit, 600) << "stage " << n;
    course[n <= 8 ? 1 : (n <= 16 ? 2 : 3)] += st.limit;
  }
  for (int c = 1; c <= 3; ++c) EXPECT_LT(course[c], 600) << "course " << c;
}

bool InField(int v) { return v >= 0 && v < kField; }

TEST(AssetsStages, EverythingLiesInsideTheField) {
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) {
    SCOPED_TRACE("stage " + std::to_string(n));
    for (const Box& f : st.floors) {
      EXPECT_TRUE(InField(f.left) && InField(f.top) && InField(f.right) && InField(f.bottom));
      EXPECT_LT(f.left, f.right);
      EXPECT_LT(f.top, f.bottom);
    }
    const Box& g = st.goal;
    EXPECT_TRUE(InField(g.left) && InField(g.top) && InField(g.right) && InField(g.bottom));
    EXPECT_LT(g.left, g.right);
    EXPECT_LT(g.top, g.bottom);
    EXPECT_TRUE(InField(st.startX) && InField(st.startY + kBody * 2));
    EXPECT_TRUE(InField(st.startX + kBody * 2) && InField(st.startY));
    for (const Enemy& e : st.enemies) {
      // The extent each enemy sweeps (homing ones start inside and chase).
      int x0 = e.c, y0 = e.d, x1 = e.c, y1 = e.d;
      if (e.race == 1) x1 += e.a;
      if (e.race == 5) y1 += e.a;
      if (e.race == 2) x0 -= e.a, y0 -= e.a, x1 += e.a, y1 += e.a;
      EXPECT_TRUE(InField(x0) && InField(y0) && InField(x1 + 2 * kBody) && InField(y1 + 2 * kBody))
          << "enemy race " << e.race << " at " << e.c << "," << e.d;
    }
  }
}

TEST(AssetsStages, EnemiesAreKnownRacesThatMove) {
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber)
    for (const Enemy& e : st.enemies) {
      SCOPED_TRACE("stage " + std::to_string(n) + " race " + std::to_string(e.race));
      ASSERT_TRUE(e.race >= 1 && e.race <= 5);
      if (e.race == 1 || e.race == 5) {
        EXPECT_GT(e.a, 0);
        EXPECT_GT(e.b, 0);
      }
      if (e.race == 2) {
        EXPECT_GT(e.a, 0);
        EXPECT_NE(e.b, 0);
      }
      // Where it stands at the start (a circling enemy starts at angle 0) is
      // well away from the body, so no stage opens with a hit.
      double ex = e.race == 2 ? e.c + e.a : e.c, ey = e.d;
      EXPECT_GT(std::hypot(ex - st.startX, ey - st.startY), 100.0);
    }
}

TEST(AssetsStages, FloorsNeverOverlap) {
  // An edge of one floor inside another would stop the body like an outer edge.
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber)
    for (size_t i = 0; i < st.floors.size(); ++i)
      for (size_t j = i + 1; j < st.floors.size(); ++j) {
        const Box &a = st.floors[i], &b = st.floors[j];
        bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
        EXPECT_FALSE(overlap) << "stage " << n << " floors " << i << " and " << j;
      }
}

// The union of the floors on a 1-px grid (a floor covers [left, right) x [top, bottom)).
std::vector<std::uint8_t> FloorGrid(const Stage& st) {
  std::vector<std::uint8_t> g(static_cast<size_t>(kField) * kField, 0);
  for (const Box& f : st.floors)
    for (int y = std::max(f.top, 0); y < std::min(f.bottom, kField); ++y)
      std::fill(g.begin() + static_cast<long>(y) * kField + std::max(f.left, 0),
                g.begin() + static_cast<long>(y) * kField + std::min(f.right, kField), 1);
  return g;
}

bool OnFloor(const std::vector<std::uint8_t>& g, int x, int y) {
  return x >= 0 && y >= 0 && x < kField && y < kField && g[static_cast<size_t>(y) * kField + x];
}

// Flood fill from the start's reference point; true when it reaches the goal.
bool GoalReachable(const Stage& st, std::vector<std::uint8_t> grid) {
  int sx = st.startX + kBody, sy = st.startY + kBody;
  if (!OnFloor(grid, sx, sy)) return false;
  std::deque<std::pair<int, int>> q{{sx, sy}};
  grid[static_cast<size_t>(sy) * kField + sx] = 2;
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop_front();
    if (x >= st.goal.left && x <= st.goal.right && y >= st.goal.top && y <= st.goal.bottom) return true;
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    for (int k = 0; k < 4; ++k) {
      int nx = x + dx[k], ny = y + dy[k];
      if (OnFloor(grid, nx, ny) && grid[static_cast<size_t>(ny) * kField + nx] == 1) {
        grid[static_cast<size_t>(ny) * kField + nx] = 2;
        q.emplace_back(nx, ny);
      }
    }
  }
  return false;
}

TEST(AssetsStages, StartIsOnAFloorAndTheGoalOverlapsOne) {
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) {
    std::vector<std::uint8_t> g = FloorGrid(st);
    // Inside with a margin: the first frame's small move must not leave the floor.
    int x = st.startX + kBody, y = st.startY + kBody;
    EXPECT_TRUE(OnFloor(g, x, y) && OnFloor(g, x - 8, y - 8) && OnFloor(g, x + 8, y + 8)) << "stage " << n;
    int covered = 0;
    for (int gy = st.goal.top; gy <= st.goal.bottom; ++gy)
      for (int gx = st.goal.left; gx <= st.goal.right; ++gx) covered += OnFloor(g, gx, gy);
    EXPECT_GT(covered, 0) << "stage " << n;
  }
}

TEST(AssetsStages, GoalIsReachableFromTheStartOverTheFloors) {
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) EXPECT_TRUE(GoalReachable(st, FloorGrid(st))) << "stage " << n;
}

TEST(AssetsStages, GoalStaysReachableAroundEnemiesThatStandStill) {
  // A standing enemy hits within 25 px: the way must pass it with room to spare.
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) {
    std::vector<std::uint8_t> g = FloorGrid(st);
    for (const Enemy& e : st.enemies) {
      if (e.race != 4) continue;
      for (int y = e.d - 30; y <= e.d + 30; ++y)
        for (int x = e.c - 30; x <= e.c + 30; ++x)
          if (std::hypot(x - e.c, y - e.d) < 30 && OnFloor(g, x + kBody, y + kBody))
            g[static_cast<size_t>(y + kBody) * kField + x + kBody] = 0;
    }
    EXPECT_TRUE(GoalReachable(st, std::move(g))) << "stage " << n;
  }
}

// Length in px of the shortest way from the start's reference point to the
// goal over the floors, on a grid of 4-px cells with diagonal steps.
double ShortestWay(const Stage& st) {
  const int cell = 4, n = kField / cell;
  std::vector<std::uint8_t> floor = FloorGrid(st);
  auto open = [&](int cx, int cy) { return OnFloor(floor, cx * cell + cell / 2, cy * cell + cell / 2); };
  std::vector<double> dist(static_cast<size_t>(n) * n, 1e18);
  using Item = std::pair<double, int>;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
  int s = ((st.startY + kBody) / cell) * n + (st.startX + kBody) / cell;
  dist[s] = 0;
  q.push({0, s});
  while (!q.empty()) {
    auto [d, i] = q.top();
    q.pop();
    if (d > dist[i]) continue;
    int cx = i % n, cy = i / n, px = cx * cell + cell / 2, py = cy * cell + cell / 2;
    if (px >= st.goal.left && px <= st.goal.right && py >= st.goal.top && py <= st.goal.bottom) return d;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        int nx = cx + dx, ny = cy + dy;
        if ((!dx && !dy) || nx < 0 || ny < 0 || nx >= n || ny >= n || !open(nx, ny)) continue;
        // A diagonal step must not cut a corner of the floor.
        if (dx && dy && (!open(cx + dx, cy) || !open(cx, cy + dy))) continue;
        double nd = d + cell * ((dx && dy) ? std::sqrt(2.0) : 1.0);
        int j = ny * n + nx;
        if (nd < dist[j]) {
          dist[j] = nd;
          q.push({nd, j});
        }
      }
  }
  return -1;
}

TEST(AssetsStages, GradeThresholdsLeaveRoomOverTheShortestWay) {
  // The body tops out at 3 px per frame (180 px/s) and needs a second to get
  // there; corners and enemies cost more. Grade A must be reachable with room
  // to spare, and the limit must forgive a slow first try.
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) {
    double way = ShortestWay(st);
    ASSERT_GT(way, 0) << "stage " << n;
    double ideal = way / 180.0 + 1.0;
    EXPECT_GE(st.timeA, 1.4 * ideal) << "stage " << n << ": shortest way " << way << " px";
    EXPECT_GE(st.limit, 3.0 * ideal) << "stage " << n << ": shortest way " << way << " px";
  }
}

TEST(AssetsStages, PreviewPanStaysInTheFieldAndEndsOnTheGoal) {
  Stages s = LoadStages();
  for (const auto& [n, st] : s.byNumber) {
    SCOPED_TRACE("stage " + std::to_string(n));
    // The view starts around the body and moves 10 px per frame per step.
    int vx = std::clamp(st.startX - 240, 0, 10000), vy = std::clamp(st.startY - 240, 0, 10000);
    EXPECT_LE(vx, 960);
    EXPECT_LE(vy, 960);
    int frames = 0;
    for (auto [dir, count] : st.path) {
      ASSERT_TRUE(dir >= 0 && dir <= 3);
      ASSERT_GT(count, 0);
      frames += count;
      for (int f = 0; f < count; ++f) {
        vx += dir == 0 ? -10 : (dir == 2 ? 10 : 0);
        vy += dir == 1 ? -10 : (dir == 3 ? 10 : 0);
        ASSERT_TRUE(vx >= 0 && vx <= 960 && vy >= 0 && vy <= 960) << "view " << vx << "," << vy;
      }
    }
    EXPECT_LE(frames, 420) << "a preview longer than 7 s";
    // The play area is the left 480 x 480 of the screen.
    EXPECT_TRUE(st.goal.left >= vx && st.goal.right <= vx + 480 && st.goal.top >= vy && st.goal.bottom <= vy + 480)
        << "the last view " << vx << "," << vy << " misses the goal";
  }
}

}  // namespace
}  // namespace nura::assets_test
