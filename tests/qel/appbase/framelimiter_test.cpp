// Pacing and stopwatches on the fake clock, which moves only when the code
// sleeps or the test advances it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

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

TEST_F(FrameLimiter, LateFrames) {
  // Late by less than three periods: on schedule; by three or more: skipped,
  // the delay kept for the next frame; by 250 ms or more: the schedule starts
  // over from now, so the next frame sleeps a whole period.
  const struct {
    DWORD late;
    bool skips;
    bool restarts;
  } cases[] = {{40, false, false}, {100, true, false}, {300, false, true}};
  for (const auto& c : cases) {
    C_FrameLimiter limiter;
    limiter.SetFps(60);
    limiter.Wait();  // target 16
    const DWORD base = limiter.GetBaseTime();
    AdvanceClock(17 + c.late);  // the next target is 17 ms on
    DWORD before = timeGetTime();
    limiter.Wait();
    EXPECT_EQ(timeGetTime(), before) << c.late << ": a late frame does not sleep";
    EXPECT_EQ(limiter.IsSkip(), c.skips) << c.late;
    if (!c.restarts) {
      EXPECT_EQ(limiter.GetBaseTime() - base, 17u) << c.late;
    }
    before = timeGetTime();
    limiter.Wait();
    EXPECT_EQ(timeGetTime() - before, c.restarts ? 16u : 0u) << c.late;
    EXPECT_EQ(limiter.IsSkip(), c.skips) << c.late << ": the next frame";
  }
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

// Scripts of steps: "+n" advances the clock, "=n" expects Elapsed, "s n" sets
// it, "p" pauses, "r" resumes, "0" resets.
TEST_F(StopWatch, Scripts) {
  const struct {
    DWORD clock;
    const char* steps;
  } scripts[] = {
      {100000, "=0 +123 =123 s 1000 =1000 +5 =1005 0 =0"},
      {100000, "+10 p +20 p +30 r +40 =10 r =10 +7 =17"},        // nested pauses
      {100000, "p +50 s 500 =500 +50 r =500 +1 =501"},           // set while paused
      {100000, "r +8 =8 p +8 =16"},                              // an unmatched resume
      {0xFFFFFFF0u, "+32 =32 p +100 r =32"},                     // across the clock's wrap
  };
  for (const auto& script : scripts) {
    platform::test::UseFakeClock(script.clock);
    C_StopWatch w;
    std::istringstream in(script.steps);
    for (std::string step; in >> step;) {
      const char op = step[0];
      if (op == 's') {
        DWORD ms = 0;
        in >> ms;
        w.SetElapsed(ms);
      } else if (op == '+') {
        AdvanceClock(std::stoul(step.substr(1)));
      } else if (op == '=') {
        EXPECT_EQ(w.Elapsed(), std::stoul(step.substr(1))) << script.steps << " at " << step;
      } else {
        op == 'p' ? w.Pause() : op == 'r' ? w.Resume() : w.Reset();
      }
    }
  }
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
