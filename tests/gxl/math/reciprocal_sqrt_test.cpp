// The table-driven reciprocal square root against the exact one.
#include "gxl/math/reciprocal_sqrt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

TEST(MathFastRsqrt, ExactAtPowersOfFour) {
  for (int k = -63; k <= 63; ++k) EXPECT_EQ(FastReciprocalSqrt(std::ldexp(1.0f, 2 * k)), std::ldexp(1.0f, -k)) << k;
  EXPECT_NEAR(FastReciprocalSqrt(2.0f), 0.70710678f, 0.70710678f * 1.5e-6f);
}

TEST(MathFastRsqrt, TableRowsOfTheFirstAndLastSegments) {
  EXPECT_EQ(ReciprocalSqrtTable.pair[0].slope, -1.41009521484375f);
  EXPECT_NEAR(ReciprocalSqrtTable.pair[0].intercept, 2.1192612648f, 1e-7f);
  EXPECT_EQ(ReciprocalSqrtTable.pair[255].slope, -0.500732421875f);
  EXPECT_EQ(ReciprocalSqrtTable.pair[255].intercept, 1.500732421875f);
  EXPECT_EQ(ReciprocalSqrtTable.pair[256].slope, -0.49853515625f);
  EXPECT_EQ(ReciprocalSqrtTable.pair[256].intercept, 1.49853515625f);
  EXPECT_EQ(ReciprocalSqrtTable.pair[511].slope, -0.177032470703125f);
  EXPECT_NEAR(ReciprocalSqrtTable.pair[511].intercept, 1.0611717701f, 1e-7f);
  for (const ReciprocalSqrtPair& p : ReciprocalSqrtTable.pair) {
    std::uint32_t bits;
    std::memcpy(&bits, &p.slope, 4);
    EXPECT_EQ(bits & 0x1FFu, 0u);  // 15 significant bits
  }
}

// Every 997th normal float: within 2e-6 of the exact reciprocal square root.
TEST(MathFastRsqrt, RelativeErrorOverTheNormalRange) {
  double worst = 0;
  for (std::uint32_t b = 0x00800000u; b < 0x7F800000u; b += 997) {
    float x;
    std::memcpy(&x, &b, sizeof x);
    const double r = FastReciprocalSqrt(x) * std::sqrt(static_cast<double>(x));
    worst = std::max(worst, std::fabs(r - 1));
  }
  EXPECT_LT(worst, 2e-6);
}

}  // namespace
