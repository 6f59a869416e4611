// Pacing and stopwatches on the fake clock, which moves only when the code
// sleeps or the test advances it.
#include <gtest/gtest.h>

#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "qel/appbase/qelframelimiter.h"
#include "qel/appbase/qelstopwatch.h"
#include "qel/appbase/qeltimesource.h"

namespace {

using platform::test::AdvanceClock;

constexpr DWORD kPeriod60 = 1092266;  // 65536000 / 60

// The schedule's time after n early frames: the truncated 16.16 period summed.
DWORD ScheduleAfter(DWORD n) { return static_cast<DWORD>(static_cast<std::uint64_t>(n) * kPeriod60 / 65536); }

class FrameLimiter : public testing::Test {
 protected:
  void SetUp() override { platform::test::UseFakeClock(); }
};

TEST_F(FrameLimiter, EarlyFramesFollowTheFractionalSchedule) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  const DWORD start = timeGetTime();
  const DWORD base = limiter.GetBaseTime();
  for (DWORD n = 1; n <= 600; ++n) {
    limiter.Wait();  // no work: every frame is early and sleeps out its period
    ASSERT_EQ(timeGetTime() - start, ScheduleAfter(n)) << n;
    ASSERT_EQ(limiter.GetBaseTime() - base, ScheduleAfter(n)) << n;
    ASSERT_FALSE(limiter.IsSkip());
  }
  EXPECT_EQ(ScheduleAfter(60), 999u);
  EXPECT_EQ(ScheduleAfter(600), 9999u);
  EXPECT_EQ(limiter.GetFrameCount(), 600u);
  EXPECT_EQ(limiter.GetTotal(), 0u);  // no work was done in any frame
}

TEST_F(FrameLimiter, WorkIsSleptAroundAndTotalled) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  const DWORD start = timeGetTime();
  for (DWORD n = 1; n <= 60; ++n) {
    AdvanceClock(5);
    limiter.Wait();
    ASSERT_EQ(timeGetTime() - start, ScheduleAfter(n)) << n;
  }
  EXPECT_EQ(limiter.GetTotal(), 300u);
  limiter.ClearTotal();
  EXPECT_EQ(limiter.GetTotal(), 0u);
  // Work slots 0 to 15 hold 5 ms each: 100 - 80 * 60 / 160.
  EXPECT_EQ(limiter.GetIdlePercent(), 70u);
}

TEST_F(FrameLimiter, AFrameLateByAFewPeriodsSkipsButKeepsTheSchedule) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  for (int i = 0; i < 3; ++i) limiter.Wait();  // targets 16, 17, 16
  DWORD base = limiter.GetBaseTime();
  // The next target is 17 ms; arrive 100 ms after it.
  AdvanceClock(17 + 100);
  const DWORD before = timeGetTime();
  limiter.Wait();
  EXPECT_EQ(timeGetTime(), before) << "a late frame does not sleep";
  EXPECT_TRUE(limiter.IsSkip());
  EXPECT_EQ(limiter.GetBaseTime() - base, 17u);

  // The delay is kept: the next frame, at once, is still 83 ms late.
  limiter.Wait();
  EXPECT_TRUE(limiter.IsSkip());
}

TEST_F(FrameLimiter, AFrameLateByLessThanThreePeriodsDoesNotSkip) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  limiter.Wait();  // target 16
  const DWORD base = limiter.GetBaseTime();
  AdvanceClock(17 + 40);  // target 17; 40 < 51
  limiter.Wait();
  EXPECT_FALSE(limiter.IsSkip());
  EXPECT_EQ(limiter.GetBaseTime() - base, 17u);
}

TEST_F(FrameLimiter, AFrameLateBy250MsOrMoreRestartsTheSchedule) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  limiter.Wait();  // target 16
  AdvanceClock(17 + 300);
  limiter.Wait();
  EXPECT_FALSE(limiter.IsSkip());
  // The next frame is measured from now: an immediate Wait sleeps a whole period.
  const DWORD now = timeGetTime();
  limiter.Wait();
  EXPECT_EQ(timeGetTime() - now, 16u);
}

TEST_F(FrameLimiter, SkippedFramesAreCountedPerBlockOfFps) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  for (int i = 0; i < 60; ++i) {
    // 60 ms late: at least three periods; the frames after it catch up
    // (about 43, 27 and 10 ms late) without skipping.
    if (i % 20 == 5) AdvanceClock(17 + 60);
    limiter.Wait();
  }
  EXPECT_EQ(limiter.GetSkippedFrames(), 0u) << "counted only when a block of 60 frames is complete";
  limiter.Wait();  // the 61st frame closes the block
  EXPECT_EQ(limiter.GetSkippedFrames(), 3u);
}

TEST_F(FrameLimiter, MeasuredRateNeedsSixteenFrames) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  for (int n = 1; n <= 15; ++n) {
    limiter.Wait();
    EXPECT_EQ(limiter.GetMeasuredFps(), 0u) << n;
    EXPECT_EQ(limiter.GetIdlePercent(), 0u) << n;
  }
  limiter.Wait();
  EXPECT_EQ(limiter.GetMeasuredFps(), 60u);
  for (int n = 17; n <= 200; ++n) {
    limiter.Wait();
    ASSERT_EQ(limiter.GetMeasuredFps(), 60u) << n;
  }
  EXPECT_EQ(limiter.GetIdlePercent(), 100u);
  // SetFps starts the statistics over.
  limiter.SetFps(60);
  EXPECT_EQ(limiter.GetMeasuredFps(), 0u);
  EXPECT_EQ(limiter.GetFrameCount(), 0u);
}

TEST_F(FrameLimiter, MeasuredRateFollowsTheFrameSpacing) {
  C_FrameLimiter limiter;
  limiter.SetFps(0);  // unpaced: the test spaces the frames
  for (int n = 0; n < 16; ++n) {
    limiter.Wait();
    AdvanceClock(25);
  }
  // 15 intervals of 25 ms: 40 frames per second.
  EXPECT_EQ(limiter.GetMeasuredFps(), 40u);
  for (int n = 0; n < 40; ++n) {
    limiter.Wait();
    AdvanceClock(n % 3 == 0 ? 33 : 34);
  }
  // 31 intervals over about 1,043 ms: 29.7, rounded to 30.
  EXPECT_EQ(limiter.GetMeasuredFps(), 30u);
}

TEST_F(FrameLimiter, NoPacingAtZeroFps) {
  C_FrameLimiter limiter;
  limiter.SetFps(0);
  const DWORD start = timeGetTime();
  for (int i = 0; i < 20; ++i) limiter.Wait();
  EXPECT_EQ(timeGetTime(), start);
  EXPECT_EQ(limiter.GetFps(), 0u);
  EXPECT_EQ(limiter.GetIdlePercent(), 100u);
  EXPECT_EQ(limiter.GetMeasuredFps(), 0u) << "all frames at the same time";
}

TEST_F(FrameLimiter, ScheduleCrossesTheClockWrap) {
  platform::test::UseFakeClock(0xFFFFFE00u);
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  const DWORD start = timeGetTime();
  for (DWORD n = 1; n <= 60; ++n) limiter.Wait();
  EXPECT_EQ(timeGetTime() - start, 999u);
  EXPECT_LT(timeGetTime(), start) << "the clock wrapped";
  EXPECT_EQ(limiter.GetMeasuredFps(), 60u);
  EXPECT_FALSE(limiter.IsSkip());
}

TEST_F(FrameLimiter, SlowStartUpRestartsAtTheFirstFrame) {
  C_FrameLimiter limiter;
  limiter.SetFps(60);
  AdvanceClock(400);  // the device and pictures took 400 ms
  limiter.Wait();
  const DWORD now = timeGetTime();
  limiter.Wait();
  EXPECT_EQ(timeGetTime() - now, 17u) << "the second target of the schedule";
}

// --- Stopwatches -------------------------------------------------------------------

class StopWatch : public testing::Test {
 protected:
  void SetUp() override { platform::test::UseFakeClock(); }
};

TEST_F(StopWatch, CountsTheClock) {
  C_StopWatch w;
  EXPECT_EQ(w.Elapsed(), 0u);
  AdvanceClock(123);
  EXPECT_EQ(w.Elapsed(), 123u);
  w.SetElapsed(1000);
  EXPECT_EQ(w.Elapsed(), 1000u);
  AdvanceClock(5);
  EXPECT_EQ(w.Elapsed(), 1005u);
  w.Reset();
  EXPECT_EQ(w.Elapsed(), 0u);
}

TEST_F(StopWatch, NestedPausesFreezeFromFirstPauseToLastResume) {
  C_StopWatch w;
  AdvanceClock(10);
  w.Pause();
  AdvanceClock(20);
  w.Pause();
  AdvanceClock(30);
  w.Resume();
  AdvanceClock(40);
  EXPECT_EQ(w.Elapsed(), 10u);
  w.Resume();
  EXPECT_EQ(w.Elapsed(), 10u);
  AdvanceClock(7);
  EXPECT_EQ(w.Elapsed(), 17u);
}

TEST_F(StopWatch, SetElapsedWhilePaused) {
  C_StopWatch w;
  w.Pause();
  AdvanceClock(50);
  w.SetElapsed(500);
  EXPECT_EQ(w.Elapsed(), 500u);
  AdvanceClock(50);
  w.Resume();
  EXPECT_EQ(w.Elapsed(), 500u);
  AdvanceClock(1);
  EXPECT_EQ(w.Elapsed(), 501u);
}

TEST_F(StopWatch, UnmatchedResumeKeepsRunning) {
  C_StopWatch w;
  w.Resume();
  AdvanceClock(8);
  EXPECT_EQ(w.Elapsed(), 8u);
  w.Pause();  // back to depth 0: still running
  AdvanceClock(8);
  EXPECT_EQ(w.Elapsed(), 16u);
}

TEST_F(StopWatch, ElapsedCrossesTheClockWrap) {
  platform::test::UseFakeClock(0xFFFFFFF0u);
  C_StopWatch w;
  AdvanceClock(0x20);
  EXPECT_EQ(w.Elapsed(), 0x20u);
  w.Pause();
  AdvanceClock(100);
  w.Resume();
  EXPECT_EQ(w.Elapsed(), 0x20u);
}

TEST_F(StopWatch, CachedValueChangesOnlyOnUpdate) {
  C_CachedStopWatch w;
  AdvanceClock(40);
  EXPECT_EQ(w.GetCached(), 0u);
  w.Update();
  EXPECT_EQ(w.GetCached(), 40u);
  AdvanceClock(10);
  EXPECT_EQ(w.GetCached(), 40u);
  w.Pause();
  AdvanceClock(10);
  w.Update();
  EXPECT_EQ(w.GetCached(), 50u);
  w.Resume();
  w.SetElapsed(7);
  w.Update();
  EXPECT_EQ(w.GetCached(), 7u);
  w.Reset();
  w.Update();
  EXPECT_EQ(w.GetCached(), 0u);
}

TEST_F(StopWatch, TheSharedClockLivesWhileAStopwatchDoes) {
  EXPECT_EQ(GetTimeSource(), nullptr);
  {
    C_StopWatch a;
    C_TimeSource* source = GetTimeSource();
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->UsesMultimediaTimer());
    {
      C_StopWatch b;
      EXPECT_EQ(GetTimeSource(), source);
    }
    EXPECT_EQ(GetTimeSource(), source);
  }
  EXPECT_EQ(GetTimeSource(), nullptr);
  // The timer resolution was raised once and restored once, with the same period.
  auto calls = platform::test::TimerPeriodCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].begin);
  EXPECT_FALSE(calls[1].begin);
  EXPECT_EQ(calls[0].period, 1u);
  EXPECT_EQ(calls[1].period, 1u);
}

}  // namespace
