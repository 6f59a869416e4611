// The library's MMX test.
#include <gtest/gtest.h>

#include "gxl/math/cpu_detect.h"
#include "platform/testing.h"

namespace {

const char kKey[] = "HKLM\\Software\\Platform\\Direct3D";

TEST(MathMmx, FollowsTheProcessorAndRemembersTheAnswer) {
  platform::test::ForceCpuProfile("mmx");  // family 5 with MMX
  EXPECT_EQ(IsMmxAvailable(), 1u);
  platform::test::ForceCpuProfile("none");
  EXPECT_EQ(IsMmxAvailable(), 1u);  // decided once
}

TEST(MathMmx, NeedsBothTheFeatureAndAFamilyOfFiveOrMore) {
  platform::test::ForceCpuProfile("none");
  EXPECT_EQ(IsMmxAvailable(), 0u);
}

TEST(MathMmx, OlderFamiliesDoNotCount) {
  platform::cpu::Profile p;
  ASSERT_TRUE(platform::cpu::NamedProfile("mmx", &p));
  p.leaf1[0] = (4 << 8) | (8 << 4);  // family 4, MMX bit still set
  platform::test::ForceCpuProfile(p);
  EXPECT_EQ(IsMmxAvailable(), 0u);
}

TEST(MathMmx, DisableSwitchTurnsItOffForGood) {
  platform::test::ForceCpuProfile("sse");
  platform::test::RegistrySetString(kKey, "DisableMMX", "1");  // not a DWORD: ignored
  EXPECT_EQ(IsMmxAvailable(), 1u);
  platform::test::RegistrySetDword(kKey, "DisableMMX", 0);
  EXPECT_EQ(IsMmxAvailable(), 1u);
  platform::test::RegistrySetDword(kKey, "DisableMMX", 1);
  EXPECT_EQ(IsMmxAvailable(), 0u);
  platform::test::RegistryRemove(kKey, "DisableMMX");
  EXPECT_EQ(IsMmxAvailable(), 0u);
}

}  // namespace
