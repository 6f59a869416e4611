// The trigonometry tables against values worked out to 40 digits elsewhere,
// and against identities that hold for any correct table.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "qel/appbase/qeltrigtable.h"

namespace {

TEST(TrigTable, SineEntriesAreTruncatedTowardZero) {
  C_TrigTable t;
  // 65536 sin(i pi / 256); several with fractions above one half, on both signs.
  const struct {
    int i;
    std::int32_t value;
  } known[] = {{0, 0},         {1, 804},          {21, 16702},   {42, 32302},   {64, 46340},   {100, 61705},
               {128, 65536},   {200, 41575},      {256, 0},      {320, -46340}, {384, -65536}, {427, -56621},
               {511, -804}};
  for (const auto& k : known) EXPECT_EQ(t.Sin(k.i), k.value) << k.i;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(t.Sin(i + 256), -t.Sin(i)) << i;
    EXPECT_EQ(t.Sin(256 - i), t.Sin(i)) << i;
    if (i < 128) {
      EXPECT_LT(t.Sin(i), t.Sin(i + 1)) << i;
    }
  }
}

TEST(TrigTable, ArctangentEntriesAreTruncated) {
  C_TrigTable t;
  // 32768 atan(i / 256) / pi.
  const struct {
    int i;
    std::int16_t value;
  } known[] = {{0, 0}, {1, 40}, {64, 2555}, {128, 4836}, {192, 6711}, {200, 6917}, {255, 8171}};
  for (const auto& k : known) EXPECT_EQ(t.Atan(k.i), k.value) << k.i;
  // The tangent of an entry lies at or just below its slope: never above
  // (truncated), and less than one step's worth below.
  for (int i = 0; i < 256; ++i) {
    const double slope = std::tan(t.Atan(i) * std::numbers::pi / 32768.0) * 256.0;
    EXPECT_LE(slope, i + 1e-9) << i;
    EXPECT_GT(slope, i - 0.06) << i;
  }
}

TEST(TrigTable, WaveIsMinusCosineAndWraps) {
  C_TrigTable t;
  EXPECT_EQ(t.GetWave(0), -65536);
  EXPECT_EQ(t.GetWave(256), 65536);
  for (int a = -2048; a < 2048; a += 7) {
    EXPECT_EQ(t.GetWave(a), t.GetWave(a + 512)) << a;
    EXPECT_NEAR(t.GetWave(a) / 65536.0, -std::cos(a * std::numbers::pi / 256.0), 1.0 / 65536) << a;
  }
  // Extreme steps wrap through their low bits.
  EXPECT_EQ(t.GetWave(INT32_MAX), t.GetWave(511));
  EXPECT_EQ(t.GetWave(INT32_MIN), t.GetWave(0));
}

TEST(TrigTable, ScaledWaveRoundsHalfUp) {
  C_TrigTable t;
  // 5 x -46340 / 65536 = -3.54 and its mirror 3.54: rounding, not truncation.
  const struct {
    int a, scale, value;
  } known[] = {{0, 20, -20}, {128, 20, 0}, {256, 20, 20}, {64, 5, -4}, {192, 5, 4}, {64, 20, -14}};
  for (const auto& k : known) EXPECT_EQ(t.GetScaledWave(k.a, k.scale), k.value) << k.a << " x " << k.scale;
  for (int a = 0; a < 512; ++a) {
    EXPECT_GE(t.GetScaledWave(a, 20), -20) << a;
    EXPECT_LE(t.GetScaledWave(a, 20), 20) << a;
  }
}

}  // namespace
