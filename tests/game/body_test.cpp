// The player's body: steering with a capped speed, falling, and its history.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "game/body.h"

namespace {

double Speed(const C_Body& b) { return std::hypot(b.GetVX(), b.GetVY()); }

TEST(Body, ResetPlacesItAtRestWithAFullHistory) {
  C_Body body;
  body.Move(500, -500, false);
  body.Reset(120, -40);
  EXPECT_EQ(body.GetX(), 120.0f);
  EXPECT_EQ(body.GetY(), -40.0f);
  EXPECT_EQ(body.GetVX(), 0.0f);
  EXPECT_FALSE(body.IsSunk());
  for (int i : {0, 1, 100, 239}) {
    EXPECT_EQ(body.GetHistoryX(i), 120.0f) << i;
    EXPECT_EQ(body.GetHistoryY(i), -40.0f) << i;
  }
}

TEST(Body, AccelerationIsAThousandthOfTheSteeringOffset) {
  C_Body body;
  body.Reset(0, 0);
  body.Move(50, -20, false);
  EXPECT_FLOAT_EQ(body.GetVX(), 0.05f);
  EXPECT_FLOAT_EQ(body.GetVY(), -0.02f);
  body.Move(50, -20, false);
  EXPECT_FLOAT_EQ(body.GetX(), 0.05f + 0.1f);
  EXPECT_FLOAT_EQ(body.GetY(), -0.02f - 0.04f);
  // The history holds every position, newest first.
  EXPECT_FLOAT_EQ(body.GetHistoryX(0), body.GetX());
  EXPECT_FLOAT_EQ(body.GetHistoryX(1), 0.05f);
  EXPECT_FLOAT_EQ(body.GetHistoryX(2), 0.0f);
}

TEST(Body, SpeedStaysAtThreeUnderFurtherAcceleration) {
  C_Body body;
  body.Reset(0, 0);
  for (int f = 0; f < 200; ++f) body.Move(30, 40, false);
  EXPECT_NEAR(Speed(body), 3.0, 1e-6);
  // 3 px per frame along the steering direction (3/5, 4/5).
  const float x = body.GetX(), y = body.GetY();
  body.Move(30, 40, false);
  EXPECT_NEAR(body.GetVX(), 1.8, 1e-6);
  EXPECT_NEAR(body.GetVY(), 2.4, 1e-6);
  EXPECT_NEAR(std::hypot(body.GetX() - x, body.GetY() - y), 3.0, 1e-3);
}

TEST(Body, SpeedNeverExceedsThreeUnderAnyInput) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> offset(-5000.0f, 5000.0f);
  C_Body body;
  body.Reset(0, 0);
  for (int f = 0; f < 20000; ++f) {
    float ax = offset(rng), ay = offset(rng);
    if (f % 7 == 0) ay = 0;
    if (f % 11 == 0) ax = -ax * 1e-3f;
    const float x = body.GetX(), y = body.GetY();
    body.Move(ax, ay, false);
    ASSERT_LE(Speed(body), 3.0 + 1e-6) << f;
    ASSERT_LE(std::hypot(body.GetX() - x, body.GetY() - y), 3.0 + 1e-3) << f;
  }
}

TEST(Body, FallingAddsAGrowingFallSpeedAndKeepsTheVelocity) {
  C_Body body;
  body.Reset(100, 100);
  for (int f = 0; f < 10; ++f) body.Move(100, 50, false);
  const float vx = body.GetVX(), vy = body.GetVY();
  const float hx = body.GetHistoryX(0), hy = body.GetHistoryY(0);
  float x = body.GetX(), y = body.GetY();
  const float extra[] = {0.0f, 0.75f, 1.5f, 2.25f};
  for (int f = 0; f < 4; ++f) {
    body.Move(0, 0, true);
    EXPECT_FLOAT_EQ(body.GetX() - x, vx) << f;
    EXPECT_FLOAT_EQ(body.GetY() - y, vy + extra[f]) << f;
    EXPECT_EQ(body.IsSunk(), f >= 1) << "sunk from the second falling frame on";
    x = body.GetX();
    y = body.GetY();
  }
  EXPECT_EQ(body.GetVX(), vx);
  EXPECT_EQ(body.GetVY(), vy);
  EXPECT_EQ(body.GetHistoryX(0), hx) << "no history while falling";
  EXPECT_EQ(body.GetHistoryY(0), hy);
  body.Reset(0, 0);
  EXPECT_FALSE(body.IsSunk());
}

TEST(Body, HistoryKeeps240Positions) {
  C_Body body;
  body.Reset(0, 0);
  for (int f = 0; f < 400; ++f) body.Move(1e6f, 0, false);
  for (int i = 0; i < 240; ++i) EXPECT_NEAR(body.GetHistoryX(i), body.GetX() - 3.0f * i, 1e-2) << i;
  EXPECT_EQ(body.GetHistoryX(240), body.GetHistoryX(239)) << "ages beyond the history read its oldest entry";
  EXPECT_EQ(body.GetHistoryX(-1), body.GetHistoryX(0));
}

}  // namespace
