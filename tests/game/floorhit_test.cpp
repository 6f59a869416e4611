// Leaving the floor: outer edges hit, edges shared by two floors do not,
// T-junctions, and on random sets of floors a move hits exactly when it
// leaves their union (checked against a point-sampling oracle). Standing on
// a floor takes the crossing test's sides of its lines.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "game/floorhit.h"

namespace {

using Floors = std::vector<RECT>;

bool Hit(const Floors& f, int px, int py, int cx, int cy) { return CrossesFloorEdge(f, px, py, cx, cy); }

TEST(PlayLogicFloorHit, OuterEdgesHitInsideMovesDoNot) {
  const Floors one{{100, 100, 200, 200}};
  EXPECT_FALSE(Hit(one, 150, 150, 153, 148));
  EXPECT_FALSE(Hit(one, 150, 150, 150, 150));
  EXPECT_TRUE(Hit(one, 199, 150, 202, 150)) << "right";
  EXPECT_TRUE(Hit(one, 101, 150, 99, 151)) << "left";
  EXPECT_TRUE(Hit(one, 150, 101, 151, 98)) << "top";
  EXPECT_TRUE(Hit(one, 150, 199, 150, 201)) << "bottom";
  EXPECT_TRUE(Hit(one, 198, 198, 201, 201)) << "diagonally through the corner";
  // A line is crossed from x <= X to x > X, or back.
  EXPECT_TRUE(Hit(one, 200, 150, 201, 150));
  EXPECT_FALSE(Hit(one, 199, 150, 200, 150));
  EXPECT_TRUE(Hit(one, 101, 150, 100, 150));
  // Entering from outside crosses an outer edge too.
  EXPECT_TRUE(Hit(one, 90, 150, 110, 150));
  EXPECT_FALSE(Hit({}, 0, 0, 500, 500)) << "no floors, no edges";
}

TEST(PlayLogicFloorHit, CornerRulesOfTheTwoEdgeKinds) {
  const Floors one{{100, 100, 200, 200}};
  // A vertical edge covers its ends; a horizontal one does not.
  EXPECT_TRUE(Hit(one, 199, 200, 201, 200));
  EXPECT_TRUE(Hit(one, 199, 100, 201, 100));
  EXPECT_FALSE(Hit(one, 200, 199, 200, 201));
  EXPECT_FALSE(Hit(one, 100, 199, 100, 201));
}

TEST(PlayLogicFloorHit, SharedEdgesCancel) {
  const Floors side{{100, 100, 200, 200}, {200, 100, 300, 200}};
  EXPECT_FALSE(Hit(side, 190, 150, 210, 150));
  EXPECT_FALSE(Hit(side, 210, 120, 190, 180));
  EXPECT_TRUE(Hit(side, 290, 150, 310, 150));
  const Floors stacked{{100, 100, 200, 200}, {100, 200, 200, 300}};
  EXPECT_FALSE(Hit(stacked, 150, 190, 150, 210));
  EXPECT_TRUE(Hit(stacked, 150, 290, 150, 310));
  EXPECT_TRUE(Hit(stacked, 195, 250, 205, 250));
}

TEST(PlayLogicFloorHit, TJunctions) {
  // A tall floor with a short one against the middle of its right edge.
  const Floors t{{100, 100, 200, 300}, {200, 150, 300, 250}};
  EXPECT_FALSE(Hit(t, 195, 200, 205, 200)) << "into the short floor";
  EXPECT_TRUE(Hit(t, 195, 120, 205, 120)) << "above it";
  EXPECT_TRUE(Hit(t, 195, 280, 205, 280)) << "below it";
  EXPECT_TRUE(Hit(t, 250, 240, 250, 260)) << "out of the short floor's bottom";
  // Two floors side by side under one wide floor.
  const Floors u{{100, 100, 300, 200}, {100, 200, 180, 300}, {180, 200, 300, 300}};
  EXPECT_FALSE(Hit(u, 150, 190, 150, 210));
  EXPECT_FALSE(Hit(u, 250, 190, 250, 210));
  EXPECT_FALSE(Hit(u, 170, 250, 190, 250));
  EXPECT_TRUE(Hit(u, 250, 290, 250, 310));
}

// Random floors that tile part of a 10-px lattice: a region split again and
// again at lattice lines, some pieces dropped. Points sit at cell centres and
// moves go 10 px along an axis or (10, 20) and (20, 10) diagonally, so no move
// ever passes through a lattice corner and every crossing lies clear of edge
// ends: where a move crosses, the answer is the same under any edge rule.
struct Cell {
  int x0, y0, x1, y1;  // in lattice units
};

void Split(const Cell& c, std::mt19937& rng, std::vector<Cell>* out) {
  const int w = c.x1 - c.x0, h = c.y1 - c.y0;
  if ((w <= 1 && h <= 1) || rng() % 4 == 0) {
    out->push_back(c);
    return;
  }
  if (w > 1 && (h <= 1 || rng() % 2)) {
    const int at = c.x0 + 1 + static_cast<int>(rng() % (w - 1));
    Split({c.x0, c.y0, at, c.y1}, rng, out);
    Split({at, c.y0, c.x1, c.y1}, rng, out);
  } else {
    const int at = c.y0 + 1 + static_cast<int>(rng() % (h - 1));
    Split({c.x0, c.y0, c.x1, at}, rng, out);
    Split({c.x0, at, c.x1, c.y1}, rng, out);
  }
}

bool InUnion(const Floors& floors, double x, double y) {
  for (const RECT& f : floors)
    if (f.left < x && x < f.right && f.top < y && y < f.bottom) return true;
  return false;
}

// The oracle: points along the move, never on a lattice line, sampled finely
// enough to visit every cell the move passes through.
bool LeavesUnion(const Floors& floors, int px, int py, int cx, int cy) {
  for (int k = 0; k < 16; ++k) {
    const double t = (k + 0.5) / 16;
    if (!InUnion(floors, px + t * (cx - px), py + t * (cy - py))) return true;
  }
  return !InUnion(floors, cx, cy);
}

TEST(PlayLogicFloorHit, RandomFloorsHitExactlyWhenTheMoveLeavesTheirUnion) {
  std::mt19937 rng(1998);
  const int moves[][2] = {{10, 0}, {-10, 0}, {0, 10}, {0, -10}, {10, 20}, {-10, 20}, {10, -20}, {-10, -20},
                          {20, 10}, {-20, 10}, {20, -10}, {-20, -10}};
  int hits = 0, stays = 0;
  for (int set = 0; set < 300; ++set) {
    std::vector<Cell> cells;
    Split({0, 0, 14, 14}, rng, &cells);
    Floors floors;
    for (const Cell& c : cells)
      if (rng() % 10 < 7) floors.push_back({100 + 10 * c.x0, 100 + 10 * c.y0, 100 + 10 * c.x1, 100 + 10 * c.y1});
    if (floors.empty()) continue;
    std::shuffle(floors.begin(), floors.end(), rng);
    auto randomInside = [&](int* x, int* y) {
      const RECT& f = floors[rng() % floors.size()];
      *x = f.left + 5 + 10 * static_cast<int>(rng() % ((f.right - f.left) / 10));
      *y = f.top + 5 + 10 * static_cast<int>(rng() % ((f.bottom - f.top) / 10));
    };
    int x = 0, y = 0;
    randomInside(&x, &y);
    for (int m = 0; m < 200; ++m) {
      const int* d = moves[rng() % 12];
      const int cx = x + d[0], cy = y + d[1];
      const bool expected = LeavesUnion(floors, x, y, cx, cy);
      ASSERT_EQ(CrossesFloorEdge(floors, x, y, cx, cy), expected)
          << "set " << set << " move " << m << " from (" << x << "," << y << ") to (" << cx << "," << cy << ")";
      if (expected) {
        ++hits;
        randomInside(&x, &y);
      } else {
        ++stays;
        x = cx;
        y = cy;
      }
    }
  }
  // Both answers occur often, so the comparison means something.
  EXPECT_GT(hits, 5000);
  EXPECT_GT(stays, 20000);
}

// Where a body stands: a line at X parts x <= X from x > X, so a floor holds
// left < x <= right and top < y <= bottom; a rectangle meets a floor when one
// of its points, edges included, stands on it.
TEST(PlayLogicFloorHit, StandingOnAFloorTakesTheCrossingTestsSides) {
  const Floors one{{100, 100, 200, 200}};
  const struct {
    int x, y;
    bool on;
  } points[] = {{150, 150, true}, {200, 200, true}, {101, 101, true}, {100, 150, false},
                {150, 100, false}, {201, 150, false}, {150, 201, false}, {700, 700, false}};
  for (const auto& p : points) EXPECT_EQ(OnFloor(one, p.x, p.y), p.on) << p.x << "," << p.y;
  EXPECT_FALSE(OnFloor({}, 150, 150));
  const struct {
    RECT rect;
    bool meets;
  } rects[] = {{{50, 50, 100, 300}, false},  {{50, 50, 101, 300}, true},  {{200, 150, 260, 160}, true},
               {{201, 150, 260, 160}, false}, {{120, 40, 130, 100}, false}, {{120, 200, 130, 260}, true},
               {{20, 20, 400, 400}, true},    {{160, 160, 140, 170}, false}};
  for (const auto& r : rects)
    EXPECT_EQ(MeetsFloor(one, r.rect), r.meets)
        << r.rect.left << "," << r.rect.top << " to " << r.rect.right << "," << r.rect.bottom;
}

// On random tilings, a one-pixel step that does not run along an edge's line
// crosses an edge exactly when it goes between a floor and the void; a
// rectangle meets the floors exactly when one of its points stands on them.
TEST(PlayLogicFloorHit, StandingOnAFloorAgreesWithTheCrossingTest) {
  std::mt19937 rng(2024);
  const int steps[][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  int changes = 0, meets = 0;
  for (int set = 0; set < 100; ++set) {
    std::vector<Cell> cells;
    Split({0, 0, 14, 14}, rng, &cells);
    Floors floors;
    std::set<int> columns, rows;  // the lines of vertical and of horizontal edges
    for (const Cell& c : cells)
      if (rng() % 10 < 7) {
        floors.push_back({100 + 10 * c.x0, 100 + 10 * c.y0, 100 + 10 * c.x1, 100 + 10 * c.y1});
        columns.insert({floors.back().left, floors.back().right});
        rows.insert({floors.back().top, floors.back().bottom});
      }
    auto coordinate = [&] { return 90 + static_cast<int>(rng() % 161); };
    for (int n = 0; n < 400; ++n) {
      const int x = coordinate(), y = coordinate();
      for (const auto& d : steps) {
        if (d[0] == 0 ? columns.count(x) > 0 : rows.count(y) > 0) continue;  // along an edge's line
        const bool changed = OnFloor(floors, x, y) != OnFloor(floors, x + d[0], y + d[1]);
        ASSERT_EQ(CrossesFloorEdge(floors, x, y, x + d[0], y + d[1]), changed)
            << "set " << set << " from (" << x << "," << y << ") by (" << d[0] << "," << d[1] << ")";
        changes += changed;
      }
      const RECT rect{x, y, x + static_cast<int>(rng() % 12), y + static_cast<int>(rng() % 12)};
      bool anyOn = false;
      for (int px = rect.left; px <= rect.right; ++px)
        for (int py = rect.top; py <= rect.bottom; ++py) anyOn = anyOn || OnFloor(floors, px, py);
      ASSERT_EQ(MeetsFloor(floors, rect), anyOn) << "set " << set << " at (" << x << "," << y << ")";
      meets += anyOn;
    }
  }
  // Both answers occur often, so the comparisons mean something.
  EXPECT_GT(changes, 1000);
  EXPECT_GT(meets, 5000);
  EXPECT_LT(meets, 35000);
}

}  // namespace
