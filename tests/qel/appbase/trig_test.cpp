#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "qel/appbase/qeltrigtable.h"

namespace {

TEST(TrigTable, SineEntriesAreTruncatedLibmValues) {
  C_TrigTable t;
  for (int i = 0; i < 512; ++i) {
    double exact = std::sin(i * std::numbers::pi / 256.0) * 65536.0;
    EXPECT_EQ(t.Sin(i), static_cast<std::int32_t>(std::trunc(exact))) << i;
  }
  EXPECT_EQ(t.Sin(128), 65536);
  EXPECT_EQ(t.Sin(64), 46340);
  EXPECT_EQ(t.Sin(320), -46340);
  EXPECT_EQ(t.Sin(256), 0);
}

TEST(TrigTable, ArctangentEntriesAreTruncatedLibmValues) {
  C_TrigTable t;
  for (int i = 0; i < 256; ++i) {
    double exact = std::atan(i / 256.0) * 32768.0 / std::numbers::pi;
    EXPECT_EQ(t.Atan(i), static_cast<std::int16_t>(std::trunc(exact))) << i;
  }
  EXPECT_EQ(t.Atan(128), 4836);
  EXPECT_EQ(t.Atan(255), 8171);
}

TEST(TrigTable, WaveIsMinusCosineAndWraps) {
  C_TrigTable t;
  EXPECT_EQ(t.GetWave(512), t.GetWave(0));
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
  EXPECT_EQ(t.GetScaledWave(0, 20), -20);
  EXPECT_EQ(t.GetScaledWave(128, 20), 0);
  EXPECT_EQ(t.GetScaledWave(256, 20), 20);
  for (int a = 0; a < 512; ++a) {
    std::int64_t product = static_cast<std::int64_t>(t.GetWave(a)) * 20;
    double exact = product / 65536.0;
    std::int32_t got = t.GetScaledWave(a, 20);
    EXPECT_EQ(got, static_cast<std::int32_t>(std::floor(exact + 0.5))) << a;
    EXPECT_GE(got, -20);
    EXPECT_LE(got, 20);
  }
}

}  // namespace
