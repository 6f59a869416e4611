#include <gtest/gtest.h>

#include <vector>

#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

TEST(PlatformClock, FakeClockStartsAt100000AndMovesOnlyBySleep) {
  EXPECT_EQ(timeGetTime(), 100000u);
  EXPECT_EQ(GetTickCount(), 100000u);
  Sleep(0);
  EXPECT_EQ(timeGetTime(), 100000u);
  Sleep(16);
  Sleep(17);
  EXPECT_EQ(timeGetTime(), 100033u);
  platform::test::AdvanceClock(1000);
  EXPECT_EQ(GetTickCount(), 101033u);
}

TEST(PlatformClock, WrapsModulo2To32) {
  platform::test::UseFakeClock(0xFFFFFF00u);
  DWORD before = timeGetTime();
  Sleep(0x180);
  DWORD after = timeGetTime();
  EXPECT_EQ(after, 0x80u);
  EXPECT_EQ(after - before, 0x180u);  // unsigned differences survive the wrap
}

// The frame pacing of a 60-fps limiter: a 16.16 period, sleeping out each frame.
TEST(PlatformClock, SixtyEarlyFramesTake999Ms) {
  const DWORD period = 65536000u / 60;  // 1092266
  DWORD phase = 0;
  DWORD base = timeGetTime();
  DWORD start = base;
  std::vector<DWORD> targets;
  for (int frame = 0; frame < 60; ++frame) {
    DWORD now = timeGetTime();
    phase = (phase & 0xFFFF) + period;
    DWORD target = phase >> 16;
    targets.push_back(target);
    DWORD work = now - base;
    ASSERT_LT(work, target);
    Sleep(target - work);
    base += target;
  }
  EXPECT_EQ(timeGetTime() - start, 999u);
  EXPECT_EQ(targets[0], 16u);
  EXPECT_EQ(targets[1], 17u);
}

TEST(PlatformClock, DevCapsAndPeriodsAreRecorded) {
  TIMECAPS caps{};
  EXPECT_EQ(timeGetDevCaps(&caps, 4), TIMERR_NOCANDO);
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_EQ(caps.wPeriodMax, 1000000u);
  EXPECT_EQ(timeBeginPeriod(caps.wPeriodMin), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO);  // never begun
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  auto calls = platform::test::TimerPeriodCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_TRUE(calls[0].begin);
  EXPECT_EQ(calls[0].period, 1u);
  EXPECT_EQ(calls[1].result, TIMERR_NOCANDO);
  EXPECT_FALSE(calls[3].begin);
  EXPECT_EQ(calls[3].result, TIMERR_NOERROR);
  platform::test::ResetAll();
  EXPECT_TRUE(platform::test::TimerPeriodCalls().empty());
}

TEST(PlatformClock, LocalTimeIsTheWallBasePlusElapsed) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2005);
  EXPECT_EQ(t.wMonth, 3);
  EXPECT_EQ(t.wDay, 22);
  EXPECT_EQ(t.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(t.wHour, 14);
  EXPECT_EQ(t.wMinute, 7);
  EXPECT_EQ(t.wSecond, 9);
  EXPECT_EQ(t.wMilliseconds, 0);
  Sleep(86400000u + 51000u + 250u);  // a day, 51 s and a quarter second later
  GetLocalTime(&t);
  EXPECT_EQ(t.wDay, 23);
  EXPECT_EQ(t.wDayOfWeek, 3);
  EXPECT_EQ(t.wMinute, 8);
  EXPECT_EQ(t.wSecond, 0);
  EXPECT_EQ(t.wMilliseconds, 250);
  platform::test::SetWallClockBase({1999, 12, 5, 31, 23, 59, 59, 0});
  platform::test::UseFakeClock(5);
  Sleep(1000);
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2000);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 6);
}

TEST(PlatformClock, RealClockMoves) {
  platform::test::UseRealClock();
  DWORD a = timeGetTime();
  Sleep(20);
  DWORD b = GetTickCount();
  EXPECT_GE(b - a, 19u);  // the tick count and the timer read the same clock
  EXPECT_LT(b - a, 5000u);
  SYSTEMTIME t;
  GetLocalTime(&t);
  EXPECT_GE(t.wYear, 2023);
}

}  // namespace
