#include <gtest/gtest.h>

#include "game/gamehelpers.h"

namespace {

TEST(GameHelpers, ClampTakesUpperThenLower) {
  EXPECT_EQ(Clamp(5, 3, 0), 3);
  EXPECT_EQ(Clamp(-1, 3, 0), 0);
  EXPECT_EQ(Clamp(2, 3, 0), 2);
  EXPECT_EQ(Clamp(3, 3, 0), 3);
  // Reversed bounds: the upper test comes first.
  EXPECT_EQ(Clamp(5, 0, 3), 0);
}

TEST(GameHelpers, RectanglesIncludeTheirEdges) {
  const RECT r{10, 20, 30, 40};
  for (int x = 5; x <= 35; ++x) {
    for (int y = 15; y <= 45; ++y) {
      bool inside = x >= 10 && x <= 30 && y >= 20 && y <= 40;
      EXPECT_EQ(PointInRect(10, 20, 30, 40, x, y), inside) << x << "," << y;
      EXPECT_EQ(RectContains(r, x, y), inside) << x << "," << y;
    }
  }
}

TEST(GameHelpers, IntToStringPadsOnTheLeft) {
  EXPECT_EQ(IntToString(7, 3), "  7");
  EXPECT_EQ(IntToString(12345, 3), "12345");
  EXPECT_EQ(IntToString(0, 2), " 0");
  EXPECT_EQ(IntToString(10, 2), "10");
  EXPECT_EQ(IntToString(99, 4), "  99");
  EXPECT_EQ(IntToString(100, 4), " 100");
  EXPECT_EQ(IntToString(-5, 3), "0");
  EXPECT_EQ(IntToString(5, 0), "5");
  EXPECT_EQ(IntToString(2147483647, 12), "  2147483647");
}

TEST(GameHelpers, SignOfADouble) {
  EXPECT_EQ(Sign(2.5), 1);
  EXPECT_EQ(Sign(-0.1), -1);
  EXPECT_EQ(Sign(0.0), 0);
  EXPECT_EQ(Sign(-0.0), 0);
}

}  // namespace
