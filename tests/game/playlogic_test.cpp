// The play logic from a stage's start to its miss: the preview and the
// count-down, steering and scrolling, enemies, leaving the floor, the time
// limit, lives and the continue choice in both modes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "game/settings.h"
#include "platform/testing.h"
#include "qel/appbase/qelmouse.h"
#include "tests/game/playlogic_fixture.h"

namespace nura::game_test {
namespace {

using P = C_PlayLogic;
using testing::ElementsAre;

TEST_F(PlayLogicTest, StartSequenceTimeline) {
  Start({Corridor(1)});
  Logic().BeginPlay(1);
  EXPECT_FALSE(Logic().IsStarted());
  EXPECT_EQ(Frame(), 0);
  // The first frame starts the stage and sets up the preview.
  EXPECT_TRUE(Logic().IsStarted());
  EXPECT_EQ(Logic().GetPhase(), P::kPhasePreview);
  EXPECT_EQ(Logic().GetBody().GetX(), 100.0f);
  EXPECT_EQ(Logic().GetScrollX(), 0) << "Clamp(100 - 240, 10000, 0)";
  EXPECT_FALSE(Item(P::kItemReady).shown);

  // The preview: path {right, 5} pans 5 frames out and 40 back, and the
  // ready picture slides in at 10 px per frame.
  Frame();
  EXPECT_EQ(Logic().GetScrollX(), 10);
  EXPECT_TRUE(Item(P::kItemReady).shown);
  EXPECT_EQ(Item(P::kItemReady).x, -100);
  EXPECT_EQ(Item(P::kItemReady).y, 200);
  EXPECT_EQ(FramesWhilePhase(P::kPhasePreview), 45);
  EXPECT_EQ(Logic().GetScrollX(), 1) << "50 out, 49 back";
  EXPECT_EQ(Logic().GetScrollY(), 0);

  // The count-down: 3, 2, 1 for 60 frames each, then play.
  ASSERT_EQ(Logic().GetPhase(), P::kPhaseCountDown);
  int frames = 0;
  std::vector<int> shownAt;
  while (Logic().GetPhase() == P::kPhaseCountDown) {
    Frame();
    ++frames;
    for (int item = 1; item <= 3; ++item)
      if (Item(item).shown && (shownAt.size() < static_cast<std::size_t>(item))) shownAt.push_back(frames);
    ASSERT_LE(Item(1).shown + Item(2).shown + Item(3).shown, 1);
  }
  EXPECT_EQ(frames, 180);
  EXPECT_THAT(shownAt, ElementsAre(1, 60, 120));
  EXPECT_FALSE(Item(P::kItemReady).shown);
  EXPECT_EQ(Item(2).x, 200);
  EXPECT_FALSE(Item(3).shown);
  EXPECT_EQ(Logic().GetPhase(), P::kPhasePlaying);
  EXPECT_EQ(Logic().GetBody().GetX(), 100.0f) << "the body waits for play";
}

TEST_F(PlayLogicTest, AClickSkipsThePreview) {
  StageSpec far = Corridor(1);
  far.floors = {{0, 0, 1440, 1440}};
  far.startX = 600;
  far.startY = 500;
  far.path = {{3, 30}};
  Start({far});
  Logic().BeginPlay(1);
  Frame();
  Frame();
  Frame();
  EXPECT_EQ(Logic().GetScrollX(), 360);
  EXPECT_EQ(Logic().GetScrollY(), 280);
  ClickAt(300, 300);
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseCountDown);
  EXPECT_EQ(Logic().GetScrollY(), 260) << "back to the view around the start";
  EXPECT_EQ(FramesWhilePhase(P::kPhaseCountDown), 180);
}

TEST_F(PlayLogicTest, SteeringFollowsTheCursorOffsetAndHoldsItOnTheCircle) {
  Start({Corridor(1)});
  Logic().BeginPlay(1);
  SkipToPlay();
  Steer(100, 0);
  Frame();
  EXPECT_FLOAT_EQ(Logic().GetBody().GetVX(), 0.1f) << "this frame steers with the 100 px read";
  EXPECT_FLOAT_EQ(Logic().GetMouseDistance(), 100.0f);
  Mouse().Update();
  int x = 0, y = 0;
  Mouse().GetPosition(&x, &y);
  EXPECT_EQ(x, 610) << "the cursor is put back on the circle of radius 50";
  EXPECT_EQ(y, 400);
  Steer(-30, -40);  // exactly on the circle: left alone
  Frame();
  Mouse().Update();
  Mouse().GetPosition(&x, &y);
  EXPECT_EQ(x, 530);
  EXPECT_EQ(y, 360);
  EXPECT_FLOAT_EQ(Logic().GetBody().GetVY(), -0.04f);
}

TEST_F(PlayLogicTest, TheViewFollowsTheBodyAndNeverScrollsBeyond959) {
  StageSpec big = Corridor(1);
  big.floors = {{0, 0, 3000, 3000}};
  big.startX = 5000;  // outside the field: only the start may place the view so far
  big.startY = 5000;
  big.goal = {0, 0, 0, 0};
  StageSpec open = big;
  open.number = 2;
  open.startX = 100;
  open.startY = 100;
  Start({big, open});
  Logic().BeginPlay(1);
  Frame();
  EXPECT_EQ(Logic().GetScrollX(), 4760);
  EXPECT_EQ(Logic().GetScrollY(), 4760);
  SkipToPlay();
  Frame();
  EXPECT_EQ(Logic().GetScrollX(), 959);
  EXPECT_EQ(Logic().GetScrollY(), 959);

  Start({big, open});
  Logic().BeginPlay(2);
  SkipToPlay();
  for (int f = 0; f < 700; ++f) {
    Steer(30, 40);
    Frame();
    ASSERT_EQ(Logic().GetPhase(), P::kPhasePlaying) << f;
    const float bx = Logic().GetBody().GetX(), by = Logic().GetBody().GetY();
    const int sx = Logic().GetScrollX(), sy = Logic().GetScrollY();
    ASSERT_GE(sx, 0);
    ASSERT_LE(sx, 959);
    ASSERT_LE(sy, 959);
    if (sx > 0 && sx < 959) {
      ASSERT_GE(bx - sx, 199.0f) << f;
      ASSERT_LE(bx - sx, 281.0f) << f;
    }
    if (sy > 0 && sy < 959) {
      ASSERT_LE(by - sy, 281.0f) << f;
    }
  }
  EXPECT_EQ(Logic().GetScrollX(), 959);
  EXPECT_EQ(Logic().GetScrollY(), 959);
}

TEST_F(PlayLogicTest, CourseLivesThenTheContinueChoice) {
  Start({Deadly(1)});
  Logic().BeginPlay(-1);
  EXPECT_EQ(Logic().GetLives(), 4);
  for (int miss = 1; miss <= 5; ++miss) {
    SkipToPlay();
    Frame();
    ASSERT_EQ(Logic().GetPhase(), P::kPhaseHit) << miss;
    Frame();  // the miss sequence begins
    EXPECT_TRUE(Item(P::kItemMiss).shown);
    EXPECT_EQ(Item(P::kItemMiss).x, -100);
    EXPECT_EQ(FramesWhilePhase(P::kPhaseHit), 60) << "60 frames of the miss picture, then the next";
    EXPECT_FALSE(Item(P::kItemMiss).shown);
    if (miss < 5) {
      EXPECT_EQ(Logic().GetLives(), 4 - miss);
      EXPECT_EQ(Logic().GetPhase(), P::kPhaseSetUp);
      EXPECT_FALSE(Logic().IsStarted()) << "the stage restarts next frame";
    }
  }
  EXPECT_EQ(Logic().GetLives(), -1);
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseContinue);
  EXPECT_THAT(SoundsPlayed(), ElementsAre("bom25", "bom25", "bom25", "bom25", "bom25"));

  // Yes: four lives again, and the course counts as continued.
  EXPECT_EQ(ClickAt(200, 250), 0);
  EXPECT_EQ(Logic().GetLives(), 4);
  EXPECT_TRUE(Logic().IsContinueUsed());
  Frame();
  EXPECT_EQ(Logic().GetPhase(), P::kPhasePreview);
  for (int miss = 1; miss <= 5; ++miss) {
    SkipToPlay();
    ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() != P::kPhasePlaying && Logic().GetPhase() != P::kPhaseHit; }));
  }
  ASSERT_EQ(Logic().GetPhase(), P::kPhaseContinue);
  // No: course play is given up.
  EXPECT_EQ(ClickAt(400, 250), 1);
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseDeclined);
  EXPECT_FALSE(Logic().IsStarted());
}

TEST_F(PlayLogicTest, SingleStageMissGoesStraightToTheContinueChoice) {
  Start({Deadly(3)});
  Logic().BeginPlay(3);
  EXPECT_EQ(Logic().GetLives(), 0);
  SkipToPlay();
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseContinue; }, 100));
  EXPECT_EQ(Frame(), 0);
  // Yes is selected at first: "yes selected" and "no" plain.
  EXPECT_TRUE(Item(P::kItemYesSelected).shown);
  EXPECT_TRUE(Item(P::kItemNo).shown);
  EXPECT_FALSE(Item(P::kItemYes).shown);
  EXPECT_FALSE(Item(P::kItemNoSelected).shown);
  EXPECT_EQ(Item(P::kItemYes).x, 220);
  EXPECT_EQ(Item(P::kItemNoSelected).x, 360);
  MoveTo(400, 250);
  Frame();
  EXPECT_TRUE(Item(P::kItemYes).shown);
  EXPECT_TRUE(Item(P::kItemNoSelected).shown);
  EXPECT_FALSE(Item(P::kItemYesSelected).shown);
  // A click outside the box changes nothing.
  EXPECT_EQ(ClickAt(600, 100), 0);
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseContinue);
  Frame();  // the button is seen up between two clicks
  // Yes restarts the stage with no life again.
  EXPECT_EQ(ClickAt(140, 180), 0);
  EXPECT_EQ(Logic().GetLives(), 0);
  for (int i = P::kItemYes; i <= P::kItemNoSelected; ++i) EXPECT_FALSE(Item(i).shown) << i;
  SkipToPlay();
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseContinue; }, 100));
  Frame();
  EXPECT_TRUE(Item(P::kItemYesSelected).shown) << "each choice starts on yes";
  EXPECT_EQ(ClickAt(539, 320), -1) << "no: single-stage play ends";
}

TEST_F(PlayLogicTest, InfiniteLifeNeverCostsALife) {
  Start({Deadly(1)});
  g_Settings.LIFE_INFINITY = true;
  Logic().BeginPlay(1);
  for (int miss = 0; miss < 3; ++miss) {
    SkipToPlay();
    ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseSetUp; }, 100));
    EXPECT_EQ(Logic().GetLives(), 0);
  }
  g_Settings.LIFE_INFINITY = false;
}

TEST_F(PlayLogicTest, LeavingTheFloorMakesTheBodyFall) {
  Start({Corridor(1)});
  Logic().BeginPlay(-1);
  SkipToPlay();
  Steer(-50, 0);
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() != P::kPhasePlaying; }, 200));
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseFell);
  EXPECT_LE(static_cast<int>(Logic().GetBody().GetX() + 13), 0) << "the reference point left through x = 0";
  EXPECT_THAT(SoundsPlayed(), ElementsAre("don11"));
  const float vy = Logic().GetBody().GetVY();
  float y = Logic().GetBody().GetY();
  const float extra[] = {0.0f, 0.75f, 1.5f};
  for (int f = 0; f < 3; ++f) {
    Frame();
    EXPECT_FLOAT_EQ(Logic().GetBody().GetY() - y, vy + extra[f]);
    EXPECT_EQ(Logic().GetBody().IsSunk(), f >= 1);
    y = Logic().GetBody().GetY();
  }
  EXPECT_TRUE(Item(P::kItemMiss).shown);
  EXPECT_EQ(FramesWhilePhase(P::kPhaseFell), 58) << "61 frames of the miss picture in all";
  EXPECT_EQ(Logic().GetLives(), 3);
}

TEST_F(PlayLogicTest, TimeUpShowsItsOwnPicture) {
  StageSpec s = Corridor(1);
  s.limit = 1;
  Start({s});
  Logic().BeginPlay(1);
  SkipToPlay();
  int frames = 0;
  while (Logic().GetPhase() == P::kPhasePlaying) {
    Frame();
    ++frames;
  }
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseTimeUp);
  EXPECT_GT(Logic().GetElapsed(), 1000u);
  EXPECT_EQ(frames, 63) << "16 ms frames: 1008 ms is the first time above 1000";
  Frame();
  EXPECT_TRUE(Item(P::kItemTimeUp).shown);
  EXPECT_FALSE(Item(P::kItemMiss).shown);
  EXPECT_TRUE(SoundsPlayed().empty());
}

TEST_F(PlayLogicTest, ThePlayTimerStopsWhileTheWindowIsInactive) {
  Start({Corridor(1)});
  Logic().BeginPlay(1);
  SkipToPlay();
  Frame();
  const DWORD before = Logic().GetElapsed();
  Logic().SetActive(false);
  Logic().SetActive(false);  // repeated calls nest nothing
  platform::test::AdvanceClock(60000);
  Logic().SetActive(true);
  Frame();
  EXPECT_EQ(Logic().GetElapsed(), before + kFrameMs);
  EXPECT_EQ(Logic().GetPhase(), P::kPhasePlaying);
  // Without the pause a minute away is a time up.
  platform::test::AdvanceClock(60000);
  Frame();
  EXPECT_EQ(Logic().GetPhase(), P::kPhaseTimeUp);
}

TEST_F(PlayLogicTest, TheTimerStartsPausedWhenTheCountDownEndsInactive) {
  Start({Corridor(1)});
  Logic().BeginPlay(1);
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseCountDown; }));
  Logic().SetActive(false);
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhasePlaying; }));
  platform::test::AdvanceClock(5000);
  Logic().SetActive(true);
  Frame();
  EXPECT_EQ(Logic().GetElapsed(), static_cast<DWORD>(kFrameMs));
}

TEST_F(PlayLogicTest, EnemiesOfUnknownRacesAreReportedAndSkipped) {
  StageSpec s = Corridor(1);
  s.enemies = {{1, 100, 10, 600, 50}, {9, 0, 0, 0, 0}, {3, 0, 0, 700, 100}};
  Start({s});
  Logic().BeginPlay(1);
  Frame();
  ASSERT_EQ(Logic().GetEnemies().size(), 2u);
  EXPECT_THAT(ErrorLogTexts(), ElementsAre("不正な敵キャラ番号を検出しました。 race = 9"));
  // Enemies move from the stage's first frame on; the homing one heads for the body.
  EXPECT_EQ(Logic().GetEnemies()[0]->GetX(), 601);
  EXPECT_EQ(Logic().GetEnemies()[1]->GetX(), 698);
  Frame();
  EXPECT_EQ(Logic().GetEnemies()[0]->GetX(), 602);
  EXPECT_EQ(Logic().GetEnemies()[1]->GetX(), 696);
}

}  // namespace
}  // namespace nura::game_test

namespace nura::game_test {
namespace {

// Extreme values in the tables: positions at the ends of the 32-bit range,
// huge and negative path steps, enemies with absurd ranges and speeds. Play
// goes on (the sanitizers watch every step) and ends by the time limit.
TEST_F(PlayLogicTest, AbsurdStageDataDoesNotBreakPlay) {
  StageSpec s;
  s.number = 1;
  s.floors = {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {5, 5, -5, -5}};
  s.startX = INT32_MAX;
  s.startY = INT32_MIN;
  s.goal = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  s.timeA = INT32_MAX;
  s.timeB = INT32_MIN;
  s.limit = 1;
  s.enemies = {{1, INT32_MAX, INT32_MAX, INT32_MAX, 0},  {5, INT32_MIN, -50, 0, INT32_MIN},
               {2, INT32_MAX, INT32_MAX, INT32_MIN, 0}, {3, 0, 0, INT32_MIN, INT32_MAX},
               {3, 0, 0, INT32_MAX, INT32_MIN},         {4, 0, 0, INT32_MIN, INT32_MIN}};
  s.path = {{2, INT32_MAX}, {0, -5}, {7, 3}, {3, INT32_MIN}};
  Start({s});
  Logic().BeginPlay(1);
  for (int f = 0; f < 300; ++f) {
    Steer(f % 2 ? 50 : -50, 20);
    Frame();
  }
  ASSERT_TRUE(RunUntil([&] { return Logic().GetPhase() == P::kPhaseContinue; }, 1000));
  EXPECT_EQ(ClickAt(400, 250), -1);
}

}  // namespace
}  // namespace nura::game_test
