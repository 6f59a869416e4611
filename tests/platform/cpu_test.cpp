#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/cpu.h"
#include "platform/testing.h"

namespace {

struct Expect {
  const char* profile;
  bool mmx, sse, sse2, amd3dnow;
  int family;
};

TEST(PlatformCpu, ProfileTable) {
  const Expect table[] = {
      {"none", false, false, false, false, 0},   {"mmx", true, false, false, false, 5},
      {"sse", true, true, false, false, 6},      {"sse2", true, true, true, false, 15},
      {"k6-3dnow", true, false, false, true, 5}, {"athlon", true, false, false, true, 6},
      {"athlon-xp", true, true, false, true, 6}, {"athlon64", true, true, true, true, 15},
  };
  for (const Expect& e : table) {
    SCOPED_TRACE(e.profile);
    ASSERT_TRUE(platform::test::ForceCpuProfile(e.profile));
    EXPECT_EQ(IsProcessorFeaturePresent(PF_MMX_INSTRUCTIONS_AVAILABLE) != 0, e.mmx);
    EXPECT_EQ(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0, e.sse);
    EXPECT_EQ(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0, e.sse2);
    EXPECT_EQ(IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE) != 0, e.amd3dnow);
    EXPECT_EQ(platform::cpu::EffectiveFamily(), e.family);
  }
  EXPECT_FALSE(platform::test::ForceCpuProfile("pentium-9"));
}

// The names PLATFORM_CPU's message lists are exactly the ones a run accepts.
TEST(PlatformCpu, ProfileNamesAreTheAcceptedOnes) {
  const std::string names = platform::cpu::ProfileNames();
  std::size_t listed = 0;
  for (std::size_t at = 0; at < names.size(); ++listed) {
    const std::size_t end = std::min(names.find(", ", at), names.size());
    EXPECT_TRUE(platform::test::ForceCpuProfile(names.substr(at, end - at).c_str())) << names.substr(at, end - at);
    at = end + 2;
  }
  EXPECT_EQ(listed, 9u) << names;
  for (const char* name : {"", "Athlon", "sse3", "host ", "athlon64,", "k6"})
    EXPECT_FALSE(platform::test::ForceCpuProfile(name)) << '"' << name << '"';
}

TEST(PlatformCpu, ExtendedBitsOfTheAthlon) {
  platform::test::ForceCpuProfile("athlon");
  int r[4];
  PlatformCpuid(0x80000000u, r);
  EXPECT_GE(static_cast<unsigned>(r[0]), 0x80000001u);
  PlatformCpuid(0x80000001u, r);
  EXPECT_NE(r[3] & (1 << 30), 0);  // extended 3DNow!
  EXPECT_NE(r[3] & (1 << 22), 0);  // MMX extensions
  platform::test::ForceCpuProfile("k6-3dnow");
  PlatformCpuid(0x80000001u, r);
  EXPECT_EQ(r[3] & (1 << 30), 0);
}

TEST(PlatformCpu, NoneHasNoLeaves) {
  platform::test::ForceCpuProfile("none");
  int r[4];
  PlatformCpuid(0, r);
  EXPECT_EQ(r[0], 0);
  PlatformCpuid(1, r);
  EXPECT_EQ(r[3], 0);
  PlatformCpuid(0x80000000u, r);
  EXPECT_EQ(r[0], 0);
}

TEST(PlatformCpu, HostHasSse2AndResetReturnsToIt) {
  platform::test::ForceCpuProfile("mmx");
  platform::test::ResetAll();
  // Every x86-64 processor has SSE2.
  EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
  EXPECT_TRUE(IsProcessorFeaturePresent(PF_RDTSC_INSTRUCTION_AVAILABLE));
  EXPECT_FALSE(IsProcessorFeaturePresent(12345));
}

TEST(PlatformCpu, WideVectorsFollowTheHostUntilAProfileIsForced) {
  __builtin_cpu_init();
  const bool host = __builtin_cpu_supports("avx2") != 0;
  EXPECT_EQ(platform::cpu::WideVectorsAvailable(), host);
  for (const char* profile : {"sse2", "host"}) {
    ASSERT_TRUE(platform::test::ForceCpuProfile(profile));
    EXPECT_FALSE(platform::cpu::WideVectorsAvailable()) << profile;
    platform::test::ClearCpuForce();
    EXPECT_EQ(platform::cpu::WideVectorsAvailable(), host) << profile;
  }
  ASSERT_TRUE(platform::test::ForceCpuProfile("athlon"));
  platform::test::ResetAll();
  EXPECT_EQ(platform::cpu::WideVectorsAvailable(), host);
}

}  // namespace
