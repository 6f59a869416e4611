// The play logic from the goal on: the clear sequence with its layout, sounds
// and clicks, best times queued only when strictly better, course flags (none
// after a continue), and the music of a visit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/testing.h"
#include "tests/game/playlogic_fixture.h"

namespace nura::game_test {
namespace {

using P = C_PlayLogic;
using platform::test::AudioEventKind;
using testing::ElementsAre;

TEST_F(PlayLogicTest, ClearSequenceTimelineAndSounds) {
  Start({InstantClear(1)});
  Logic().BeginPlay(1);
  SkipToPlay();
  EXPECT_EQ(Frame(), 0);
  ASSERT_EQ(Logic().GetPhase(), P::kPhaseGoal);
  EXPECT_EQ(Logic().GetElapsed(), static_cast<DWORD>(kFrameMs));

  std::vector<std::string> events;
  int result = 0;
  int frames = 0;
  while (result == 0 && frames < 2000) {
    result = Frame();
    ++frames;
    const int counter = frames - 1;  // the clear counter this frame used
    switch (counter) {
      case 0:
        EXPECT_TRUE(Item(P::kItemClear).shown);
        EXPECT_EQ(Item(P::kItemClear).x, -100);
        EXPECT_EQ(Logic().GetGrade(), 0) << "16 ms is within threshold A";
        break;
      case 59:
        EXPECT_EQ(Item(P::kItemClear).x, 15 * 59 - 100);
        break;
      case 60:
        EXPECT_FALSE(Item(P::kItemClear).shown);
        EXPECT_EQ(Item(P::kItemOpening).y, 480);
        break;
      case 79:
        EXPECT_EQ(Item(P::kItemOpening).y, 328);
        break;
      case 80:
        EXPECT_EQ(Item(P::kItemOpening).y, 320);
        EXPECT_EQ(Item(P::kItemScoreScreen).x, -300);
        EXPECT_EQ(Item(P::kItemScoreScreen).y, 180);
        break;
      case 119:
        EXPECT_EQ(Item(P::kItemOpening).y, 160) << "clamped";
        EXPECT_EQ(Item(P::kItemScoreScreen).x, 250) << "clamped";
        EXPECT_FALSE(Item(P::kItemTimeLine).shown);
        break;
      case 120:
        EXPECT_EQ(Item(P::kItemTimeLine).x, 640);
        EXPECT_EQ(Item(P::kItemTimeLine).y, 225);
        break;
      case 145:
        EXPECT_EQ(Item(P::kItemTimeLine).x, 300);
        EXPECT_EQ(Item(P::kItemTimeLine + 1).x, 540);
        break;
      case 170:
        EXPECT_EQ(Item(P::kItemTimeLine + 2).x, 440);
        EXPECT_EQ(Item(P::kItemTimeLine + 2).y, 385);
        EXPECT_EQ(Item(P::kItemBalloon).y, 0);
        EXPECT_FALSE(Item(P::kItemGradeStamp).shown);
        break;
      case 190:
      case 198:
      case 199:
      case 799: {
        const int widths[] = {0, 240, 255, 255};
        const int w = widths[counter == 190 ? 0 : counter == 198 ? 1 : counter == 199 ? 2 : 3];
        for (int i = P::kItemOpening; i <= P::kItemGradeStamp; ++i) EXPECT_TRUE(Item(i).shown) << i;
        EXPECT_EQ(Item(P::kItemGradeStamp).x, 190);
        EXPECT_EQ(Item(P::kItemTimeLine + 2).x, 300);
        EXPECT_EQ(Logic().GetGradeRect().right, w) << counter;
        EXPECT_EQ(Logic().GetGradeRect().bottom, 28);
        break;
      }
      default:
        break;
    }
  }
  EXPECT_EQ(frames, 801) << "key 8 at frame 800 ends it";
  EXPECT_EQ(result, -1) << "single-stage play returns to the title";
  for (int i = 20; i <= 27; ++i) EXPECT_FALSE(Item(i).shown) << i;
  EXPECT_FALSE(Logic().IsStarted());
  EXPECT_EQ(Logic().GetTotalTime(), static_cast<DWORD>(kFrameMs));
  EXPECT_THAT(SoundsPlayed(), ElementsAre("crash17", "chari08", "chari08", "chari08", "noise01"));
  auto plays = platform::test::AudioEventsOf(AudioEventKind::BufferPlay);
  // The time lines ring 17 frames into keys 4, 5 and 6.
  ASSERT_EQ(plays.size(), 5u);
  EXPECT_EQ(plays[2].timeMs - plays[1].timeMs, 20u * kFrameMs);
  EXPECT_EQ(plays[3].timeMs - plays[2].timeMs, 20u * kFrameMs);
  EXPECT_EQ(plays[1].timeMs - plays[0].timeMs, 137u * kFrameMs);

  // The music: opened when play began, running from the first frame,
  // stopped when play ends.
  auto opens = platform::test::AudioEventsOf(AudioEventKind::GraphOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_NE(opens[0].name.find("Fjord.mp3"), std::string::npos);
  EXPECT_FALSE(platform::test::AudioEventsOf(AudioEventKind::GraphRun).empty());
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphStop).size(), 1u);
}

TEST_F(PlayLogicTest, ClicksJumpToTheFinalLayoutAndThenToTheEnd) {
  Start({InstantClear(1)});
  Logic().BeginPlay(1);
  SkipToPlay();
  Frame();
  ASSERT_EQ(Logic().GetPhase(), P::kPhaseGoal);
  for (int f = 0; f < 30; ++f) Frame();
  platform::test::ClearAudioEvents();
  ClickAt(300, 300);  // key 1: no jump
  EXPECT_TRUE(Item(P::kItemClear).shown);
  for (int f = 0; f < 40; ++f) Frame();  // into key 2
  ClickAt(300, 300);
  EXPECT_THAT(SoundsPlayed(), ElementsAre("chari08"));
  Frame();
  EXPECT_TRUE(Item(P::kItemGradeStamp).shown) << "the final layout at once";
  EXPECT_EQ(Logic().GetGradeRect().right, 0);
  EXPECT_EQ(ClickAt(300, 300), 0);
  EXPECT_EQ(Frame(), -1) << "the click at key 7 ends the sequence on the next frame";
  EXPECT_THAT(SoundsPlayed(), ElementsAre("chari08", "noise01"));
}

TEST_F(PlayLogicTest, GradesFollowTheThresholds) {
  // Stand still for a while on a corridor, then walk to the goal.
  for (int wait : {0, 100, 190}) {
    StageSpec s = Corridor(1);
    s.timeA = 3;
    s.timeB = 5;
    Start({s});
    Logic().BeginPlay(1);
    SkipToPlay();
    for (int f = 0; f < wait; ++f) Frame();
    Steer(50, 0);
    ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseGoal; }, 400));
    Frame();
    const DWORD t = Logic().GetElapsed();
    EXPECT_EQ(Logic().GetGrade(), t <= 3000 ? 0 : (t <= 5000 ? 1 : 2)) << t;
    EXPECT_EQ(Logic().GetGrade(), wait == 0 ? 0 : (wait == 100 ? 1 : 2)) << t;
  }
}

TEST_F(PlayLogicTest, ARecordIsQueuedOnlyWhenStrictlyBetter) {
  // The instant clear takes exactly one 16 ms frame.
  for (auto [stored, queued] : {std::pair{16, false}, {17, true}, {15, false}, {3000000, true}}) {
    test::WriteFileBytes("score.dat", PythonScoreImage({{2, stored, "OLD"}}));
    Start({InstantClear(2)});
    Logic().BeginPlay(2);
    SkipToPlay();
    Frame();
    EXPECT_EQ(HurryClear(), -1);
    EXPECT_EQ(Logic().GetFloorData().HasPendingRecords(), queued) << stored;
    Logic().GetFloorData().StoreRecords("NEW");
    EXPECT_EQ(test::ReadFileBytes("score.dat"), queued ? PythonScoreImage({{2, 16, "NEW"}})
                                                       : PythonScoreImage({{2, stored, "OLD"}}))
        << stored;
  }
}

TEST_F(PlayLogicTest, GoalAndEnemyInTheSameFrameClears) {
  StageSpec s = InstantClear(1);
  s.enemies = {{4, 0, 0, 100, 87}};
  Start({s});
  Logic().BeginPlay(1);
  SkipToPlay();
  Frame();
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseGoal);
  Frame();
  EXPECT_THAT(SoundsPlayed(), ElementsAre("bom25", "crash17"));
}

TEST_F(PlayLogicTest, ACourseClearedWithoutContinueSetsItsFlag) {
  std::vector<StageSpec> stages;
  for (int n = 1; n <= 20; ++n) stages.push_back(InstantClear(n));
  for (int course = 1; course <= 3; ++course) {
    std::filesystem::remove("score.dat");
    Start(stages);
    Logic().BeginPlay(-course);
    const int first = course == 1 ? 1 : (course == 2 ? 9 : 17);
    const int last = course == 1 ? 8 : (course == 2 ? 16 : 20);
    for (int stage = first; stage <= last; ++stage) {
      SkipToPlay();
      EXPECT_EQ(Logic().GetStage(), stage);
      Frame();
      ASSERT_EQ(Logic().GetPhase(), P::kPhaseGoal);
      const int result = HurryClear();
      EXPECT_EQ(result, stage == last ? 2 : 0) << "course " << course << " stage " << stage;
      // Every stage had no record: each clear queues one.
    }
    EXPECT_EQ(Logic().GetTotalTime(), static_cast<DWORD>(kFrameMs * (last - first + 1)));
    std::string flags(3, '\0');
    flags[course - 1] = "QZX"[course - 1];
    EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}, flags)) << "course " << course;
    EXPECT_TRUE(Logic().GetFloorData().HasPendingRecords());
  }
}

TEST_F(PlayLogicTest, ACourseClearedAfterAContinueSetsNoFlag) {
  // Stage 1 can be lost (steer left off the floor) or won (steer right).
  StageSpec first = Corridor(1);
  first.startX = 10;
  first.goal = {100, 50, 200, 150};
  std::vector<StageSpec> stages{first};
  for (int n = 2; n <= 8; ++n) stages.push_back(InstantClear(n));
  Start(stages);
  Logic().BeginPlay(-1);
  for (int miss = 0; miss < 5; ++miss) {
    SkipToPlay();
    Steer(-50, 0);
    ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseFell; }, 200));
    ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() != P::kPhaseFell; }, 100));
  }
  ASSERT_EQ(Logic().GetPhase(), P::kPhaseContinue);
  Frame();
  EXPECT_EQ(ClickAt(200, 250), 0);
  EXPECT_EQ(Logic().GetLives(), 4);
  SkipToPlay();
  Steer(50, 0);
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseGoal; }, 200));
  EXPECT_EQ(HurryClear(), 0);
  for (int stage = 2; stage <= 8; ++stage) {
    SkipToPlay();
    Frame();
    EXPECT_EQ(HurryClear(), stage == 8 ? 2 : 0);
  }
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({})) << "no flag after a continue";
}

}  // namespace
}  // namespace nura::game_test
