// The enemies: the patrol, circle and homing sequences, the still enemy, the
// touch distance and the race numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "game/enemy.h"

namespace {

std::vector<int> Xs(C_EnemyMove& e, int frames, int px = 0, int py = 0) {
  std::vector<int> xs;
  for (int f = 0; f < frames; ++f) {
    e.Move(px, py);
    xs.push_back(e.GetX());
  }
  return xs;
}

TEST(Enemy, HorizontalPatrolLosesTheFractionEveryFrame) {
  C_EnemyPatrolX e(100, 25, 0, 70);
  EXPECT_EQ(e.GetX(), 0);
  EXPECT_EQ(e.GetY(), 70);
  std::vector<int> expected;
  for (int x = 2; x <= 100; x += 2) expected.push_back(x);  // 2, 4, ..., 100
  expected.push_back(100);                                  // the turning frame
  for (int x = 97; x >= 1; x -= 3) expected.push_back(x);   // 97, 94, ..., 1
  expected.push_back(-1);                                   // trunc(1 - 2.5)
  expected.push_back(0);                                    // the turning frame
  expected.push_back(2);
  expected.push_back(4);
  EXPECT_EQ(Xs(e, static_cast<int>(expected.size())), expected);
  EXPECT_EQ(e.GetY(), 70);
  EXPECT_EQ(e.GetHistoryX(0), 4);
  EXPECT_EQ(e.GetHistoryX(1), 2);
  EXPECT_EQ(e.GetHistoryX(2), 0);
}

TEST(Enemy, VerticalPatrolMovesDownFirst) {
  C_EnemyPatrolY e(30, 100, 15, 200);
  std::vector<int> ys;
  for (int f = 0; f < 10; ++f) {
    e.Move(0, 0);
    ys.push_back(e.GetY());
    EXPECT_EQ(e.GetX(), 15);
  }
  EXPECT_EQ(ys, (std::vector<int>{210, 220, 230, 230, 220, 210, 200, 200, 210, 220}));
}

TEST(Enemy, CircleRunsRoundItsCentre) {
  C_EnemyCircle e(100, 5, 500, 400);  // 0.05 rad per frame
  EXPECT_EQ(e.GetX(), 600) << "starts at angle 0";
  EXPECT_EQ(e.GetY(), 400);
  EXPECT_EQ(e.GetHistoryX(239), 600);
  double angle = 0;
  for (int f = 0; f < 200; ++f) {
    e.Move(0, 0);
    angle += 0.05f;
    ASSERT_EQ(e.GetX(), static_cast<int>(std::cos(angle) * 100 + 500)) << f;
    ASSERT_EQ(e.GetY(), static_cast<int>(std::sin(angle) * 100 + 400)) << f;
    const double r = std::hypot(e.GetX() - 500, e.GetY() - 400);
    // Truncation moves each axis by less than a pixel.
    ASSERT_GT(r, 100 - std::sqrt(2.0));
    ASSERT_LT(r, 100 + std::sqrt(2.0));
  }
}

TEST(Enemy, HomingMovesAlongWholeNumberSlopes) {
  {
    C_EnemyHoming e(0, 0);
    EXPECT_EQ(Xs(e, 3, 100, 50), (std::vector<int>{2, 4, 6})) << "slope 50/100 = 0: straight right";
    EXPECT_EQ(e.GetY(), 0);
  }
  {
    C_EnemyHoming e(0, 0);
    EXPECT_EQ(Xs(e, 3, -100, 50), (std::vector<int>{-2, -4, -6})) << "heading pi";
    EXPECT_EQ(e.GetY(), 0);
  }
  {
    C_EnemyHoming e(0, 0);
    e.Move(100, 100);  // slope 1: 45 degrees, 1.41 px truncated to 1 on each axis
    EXPECT_EQ(e.GetX(), 1);
    EXPECT_EQ(e.GetY(), 1);
  }
  {
    C_EnemyHoming e(10, 10);
    e.Move(20, 40);  // slope 3: about 72 degrees
    EXPECT_EQ(e.GetX(), 10);
    EXPECT_EQ(e.GetY(), 11);
  }
  {
    C_EnemyHoming e(300, 100);
    for (int f = 1; f <= 3; ++f) {
      e.Move(300, 500);  // straight below
      EXPECT_EQ(e.GetY(), 100 + 2 * f);
    }
    e.Move(300, 106);  // on top of the player: up
    EXPECT_EQ(e.GetY(), 104);
    EXPECT_EQ(e.GetX(), 300);
  }
}

TEST(Enemy, StillEnemyNeverMoves) {
  C_EnemyStill e(33, 44);
  for (int f = 0; f < 10; ++f) e.Move(f * 100, -f);
  EXPECT_EQ(e.GetX(), 33);
  EXPECT_EQ(e.GetY(), 44);
  EXPECT_EQ(e.GetHistoryY(5), 44);
}

TEST(Enemy, TouchesOnlyCloserThan25Pixels) {
  C_EnemyStill e(100, 100);
  EXPECT_FALSE(e.HitTest(125, 100));
  EXPECT_FALSE(e.HitTest(115, 120)) << "exactly 25 (15, 20)";
  EXPECT_FALSE(e.HitTest(76, 93)) << "exactly 25 (-24, -7)";
  EXPECT_TRUE(e.HitTest(124, 100));
  EXPECT_TRUE(e.HitTest(115, 119));
  EXPECT_TRUE(e.HitTest(100, 100));
  EXPECT_FALSE(e.HitTest(INT32_MIN, INT32_MAX)) << "far away, no overflow";
  int inside = 0;
  for (int dy = -30; dy <= 30; ++dy)
    for (int dx = -30; dx <= 30; ++dx) {
      const bool hit = e.HitTest(100 + dx, 100 + dy);
      ASSERT_EQ(hit, dx * dx + dy * dy < 625) << dx << "," << dy;
      inside += hit;
    }
  EXPECT_EQ(inside, 1941) << "lattice points strictly inside a circle of radius 25";
}

TEST(Enemy, RacesOneToFiveAndNoOther) {
  EXPECT_NE(dynamic_cast<C_EnemyPatrolX*>(CreateEnemy(1, 10, 10, 5, 6).get()), nullptr);
  EXPECT_NE(dynamic_cast<C_EnemyCircle*>(CreateEnemy(2, 10, 10, 5, 6).get()), nullptr);
  EXPECT_NE(dynamic_cast<C_EnemyHoming*>(CreateEnemy(3, 10, 10, 5, 6).get()), nullptr);
  EXPECT_NE(dynamic_cast<C_EnemyStill*>(CreateEnemy(4, 10, 10, 5, 6).get()), nullptr);
  EXPECT_NE(dynamic_cast<C_EnemyPatrolY*>(CreateEnemy(5, 10, 10, 5, 6).get()), nullptr);
  for (int race : {0, 6, -1}) EXPECT_EQ(CreateEnemy(race, 1, 2, 3, 4), nullptr) << race;
  auto still = CreateEnemy(4, 1, 2, 3, 4);
  EXPECT_EQ(still->GetX(), 3);
  EXPECT_EQ(still->GetY(), 4);
  auto patrol = CreateEnemy(5, 1, 2, 3, 4);
  EXPECT_EQ(patrol->GetX(), 3);
  EXPECT_EQ(patrol->GetY(), 4);
}

}  // namespace
