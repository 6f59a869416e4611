#include <gtest/gtest.h>
#include <fenv.h>
#include <cmath>
#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/cpu.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

TEST(PlatformSystem, SystemInfoFollowsTheProcessorProfile) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
  EXPECT_EQ(si.dwPageSize, 4096u);
  EXPECT_EQ(si.dwAllocationGranularity, 65536u);
  EXPECT_GE(si.dwNumberOfProcessors, 1u);
  EXPECT_EQ(si.wProcessorLevel, platform::cpu::EffectiveFamily());
  ASSERT_TRUE(platform::test::ForceCpuProfile("k6-3dnow"));
  GetSystemInfo(&si);
  EXPECT_EQ(si.wProcessorLevel, platform::cpu::EffectiveFamily());
  EXPECT_EQ(si.wProcessorLevel, 5);
}

TEST(PlatformSystem, VersionChecksTheSize) {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&v));
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(v.dwMinorVersion, 1u);
}

std::string Format(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

TEST(PlatformGuards, NumericLocaleIsRestored) {
  nura::test::TempDir dir;
  locale_t de = nura::test::MakeCommaDecimalLocale(dir);
  NURA_REQUIRE_OUTSIDE_INPUT(de, "a comma-decimal locale");
  locale_t old = uselocale(de);
  EXPECT_EQ(Format(1.5), "1,5");
  {
    platform::ScopedCNumericLocale c;
    EXPECT_EQ(Format(1.5), "1.5");
    EXPECT_EQ(std::strtod("2.25", nullptr), 2.25);
  }
  EXPECT_EQ(Format(1.5), "1,5");
  uselocale(old);
  freelocale(de);
}

TEST(PlatformGuards, FpEnvMasksTrapsAndRestores) {
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_DIVBYZERO);
  {
    platform::ScopedFpEnv guard;
    EXPECT_EQ(fegetexcept() & FE_DIVBYZERO, 0);
    volatile double zero = 0.0;
    volatile double r = 1.0 / zero;  // would trap without the guard
    EXPECT_TRUE(std::isinf(r));
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    EXPECT_EQ(cw & 0x0300, 0x0300);
    EXPECT_EQ(fegetround(), FE_TONEAREST);
  }
  EXPECT_EQ(fegetexcept() & FE_DIVBYZERO, FE_DIVBYZERO);
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
}

TEST(PlatformGuards, FpEnvLeavesRoundingAlone) {
  fesetround(FE_TOWARDZERO);
  {
    platform::ScopedFpEnv guard;
    EXPECT_EQ(fegetround(), FE_TOWARDZERO);
  }
  EXPECT_EQ(fegetround(), FE_TOWARDZERO);
  fesetround(FE_TONEAREST);
}

}  // namespace
