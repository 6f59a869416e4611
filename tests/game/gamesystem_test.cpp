// The game system's state machine driven through whole runs with scripted
// clicks on the fake clock: every move between the seven states, the
// diversions to name entry, the score file written when it ends, the sounds
// in order and the state trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "game/gamesystem.h"
#include "platform/testing.h"
#include "tests/game/playlogic_fixture.h"
#include "tests/game/screen_fixture.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

class GameSystemRunTest : public GameSystemTest {
 protected:
  void WriteScore(const std::vector<SlotValue>& slots, const std::string& flags = "") {
    test::WriteFileBytes("score.dat", PythonScoreImage(slots, flags));
  }
  // Plays one stage whose start lies in its goal, through its clear.
  void ClearInstantly() {
    SkipToPlay();
    Frame();
    HurryClear();
    Frame();  // the end of the clear sequence
  }
  void DeclineContinue() {
    SkipToPlay();
    Frame();
    for (int n = 0; n < 100 && Play().GetPhase() == C_PlayLogic::kPhaseHit; ++n) Frame();
    ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseContinue) << "a single stage has no lives";
    MoveTo(400, 250);
    Frame();
    ClickAt(400, 250);
  }
  std::vector<std::uint8_t> ScoreFile() { return test::ReadFileBytes("score.dat"); }
};

TEST_F(GameSystemRunTest, TheGameSystemIsTheMouseAndPublishesItsLogics) {
  WriteStages({Corridor(1)});
  Build();
  EXPECT_EQ(System().GetState(), kStateLogo);
  EXPECT_EQ(GetGameMouse(), &System().GetMouse());
  EXPECT_EQ(g_GameObjects.system, &System());
  EXPECT_EQ(g_GameObjects.logo, System().GetLogoLogic());
  EXPECT_EQ(g_GameObjects.title, System().GetTitleLogic());
  EXPECT_EQ(g_GameObjects.nameEntry, System().GetNameEntryLogic());
  EXPECT_EQ(g_GameObjects.play, System().GetPlayLogic());
  EXPECT_EQ(g_GameObjects.gameOver, System().GetGameOverLogic());
  EXPECT_EQ(g_GameObjects.ending, System().GetEndingLogic());
  // The mouse the logics read is the one the window feeds.
  Frame();
  Frame();
  MoveTo(123, 45);
  Frame();
  int x = 0;
  int y = 0;
  GetGameMouse()->GetPosition(&x, &y);
  EXPECT_EQ(x, 123);
  EXPECT_EQ(y, 45);
  m_pSystem.reset();
  EXPECT_EQ(g_pGameSystem, nullptr);
  EXPECT_EQ(g_GameObjects.system, nullptr);
  EXPECT_EQ(g_GameObjects.play, nullptr);
}

TEST_F(GameSystemRunTest, TheLogoHandsOverToTheTitleOnceFadedOut) {
  WriteStages({});
  Build();
  int frames = 0;
  while (System().GetState() == kStateLogo && frames < 1000) {
    Frame();
    ++frames;
  }
  EXPECT_EQ(frames, 322);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2));
  EXPECT_TRUE(SoundsPlayed().empty());
}

TEST_F(GameSystemRunTest, ACourseStartsAtItsFirstStageWithFourLives) {
  WriteStages({Corridor(9)});
  WriteScore({}, "QZ");
  Build();
  ToMenu();
  ChooseCourse(2);
  EXPECT_EQ(Play().GetStage(), 9);
  EXPECT_EQ(Play().GetLives(), 4);
  EXPECT_FALSE(Play().IsSingleStage());
  EXPECT_FALSE(Play().IsContinueUsed());
  auto opens = platform::test::AudioEventsOf(platform::test::AudioEventKind::GraphOpen);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_NE(opens[0].name.find("Fjord.mp3"), std::string::npos);
  Frame();
  EXPECT_TRUE(Play().IsStarted());
  EXPECT_EQ(Play().GetFloorData().nStage(), 9);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4));
}

TEST_F(GameSystemRunTest, AStageFromTheListStartsSingleStagePlay) {
  WriteStages({Corridor(13)});
  WriteScore({{13, 5000, "ABC"}});
  Build();
  ToMenu();
  ChooseStage(1, 2);
  EXPECT_EQ(Play().GetStage(), 13);
  EXPECT_EQ(Play().GetLives(), 0);
  EXPECT_TRUE(Play().IsSingleStage());
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3));
}

TEST_F(GameSystemRunTest, SingleStagePlayWithoutANewRecordReturnsToTheTitle) {
  // Stage 3 is lost, stage 4 cleared in 16 ms against a record of 10 ms.
  WriteStages({Deadly(3), InstantClear(4)});
  WriteScore({{3, 5000, "ABC"}, {4, 10, "DEF"}});
  const std::vector<std::uint8_t> before = PythonScoreImage({{3, 5000, "ABC"}, {4, 10, "DEF"}});
  Build();
  ToMenu();
  ChooseStage(0, 2);
  DeclineContinue();
  EXPECT_EQ(System().GetState(), kStateTitle);

  OpenMenu();
  ChooseStage(0, 3);
  ClearInstantly();
  EXPECT_EQ(System().GetState(), kStateTitle);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 2, 3, 2));
  EXPECT_EQ(ScoreFile(), before);
}

TEST_F(GameSystemRunTest, ASingleStageImprovementOverwritesOnlyItsSlot) {
  WriteStages({InstantClear(3), Corridor(4)});
  WriteScore({{3, 5000, "QQQ"}, {4, 7000, "RRR"}}, "Q");
  Build();
  ToMenu();
  ChooseStage(0, 2);
  ClearInstantly();
  EXPECT_EQ(System().GetState(), kStateNameEntry) << "16 ms beats 5000 ms";
  EnterName("AB");
  EXPECT_EQ(System().GetState(), kStateTitle);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 7, 2));
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{3, kFrameMs, "AB"}, {4, 7000, "RRR"}}, "Q"));
  EXPECT_FALSE(Play().GetFloorData().HasPendingRecords());

  // The title shows the new record at its next visit.
  Frame();
  EXPECT_EQ(Title().GetStageRecord(3), kFrameMs);
  EXPECT_STREQ(Title().GetStageName(3), "AB");
}

TEST_F(GameSystemRunTest, NameEntryWithoutLettersStoresAnEmptyName) {
  WriteStages({InstantClear(5)});
  WriteScore({{5, 5000, "QQQ"}});
  Build();
  ToMenu();
  ChooseStage(0, 4);
  ClearInstantly();
  EnterName("");
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 7, 2));
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{5, kFrameMs, std::string(4, '\0')}}));
}

TEST_F(GameSystemRunTest, CourseGameOverWithoutARecordReturnsToTheTitle) {
  WriteStages({Deadly(1)});
  Build();
  ToMenu();
  ChooseCourse(1);
  MissUntilGameOver();
  EXPECT_EQ(System().GetState(), kStateGameOver);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Frame(), kStateGameOver) << "no click, no change";
  EXPECT_EQ(System().GetGameOverLogic()->GetFadeColour(), 0xFFFFFFFFu);
  EXPECT_EQ(ClickAt(10, 10), kStateTitle);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 5, 2));
}

// A fresh score file; course 1: stage 1 cleared, stage 2 lost until the
// game is over; the pending record of stage 1 is named "ABC" after the
// game-over screen.
TEST_F(GameSystemRunTest, CoursePlayToGameOverAndNameEntry) {
  WriteStages({InstantClear(1), Deadly(2)});
  ASSERT_FALSE(std::filesystem::exists("score.dat"));
  Build();
  ASSERT_EQ(ScoreFile(), PythonScoreImage({})) << "created at start-up";
  ToMenu();
  ChooseCourse(1);
  ClearInstantly();
  EXPECT_EQ(Play().GetStage(), 2);
  EXPECT_TRUE(Play().GetFloorData().HasPendingRecords());
  MissUntilGameOver();
  ASSERT_EQ(System().GetState(), kStateGameOver) << "course play never diverts directly";
  Frame();
  EXPECT_EQ(ClickAt(300, 300), kStateNameEntry) << "the game-over screen diverts when it is left";
  Frame();
  EnterName("ABC");

  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 5, 7, 2));
  const std::vector<std::uint8_t> score = ScoreFile();
  EXPECT_EQ(score.size(), 880u);
  EXPECT_EQ(score, PythonScoreImage({{1, kFrameMs, "ABC"}}));
  EXPECT_THAT(SoundsPlayed(),
              ElementsAreArray({"cursor08", "cursor08", "cursor08",                // title: screen, menu, course
                                "crash17", "chari08", "noise01",                   // stage 1 cleared
                                "bom25", "bom25", "bom25", "bom25", "bom25",       // stage 2: five misses
                                "cursor04", "cursor04", "cursor04", "cursor08"}));  // the name
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
}

// Course 1 cleared without a continue: the ending, then name entry for the
// eight new records, and course 2 opens.
TEST_F(GameSystemRunTest, ClearingCourseOneRunsTheEndingAndOpensCourseTwo) {
  std::vector<StageSpec> stages;
  for (int s = 1; s <= 8; ++s) stages.push_back(InstantClear(s));
  WriteStages(stages);
  Build();
  ToMenu();
  ChooseCourse(1);
  for (int s = 1; s <= 8; ++s) {
    SCOPED_TRACE(testing::Message() << "stage " << s);
    ASSERT_EQ(Play().GetStage(), s);
    ClearInstantly();
  }
  ASSERT_EQ(System().GetState(), kStateEnding);
  int frames = 0;
  while (System().GetState() == kStateEnding && frames < 2000) {
    Frame();
    ++frames;
  }
  EXPECT_EQ(frames, 901);
  EXPECT_EQ(System().GetState(), kStateNameEntry);
  EnterName("XYZ");
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 6, 7, 2));

  std::vector<SlotValue> slots;
  for (int s = 1; s <= 8; ++s) slots.push_back({s, kFrameMs, "XYZ"});
  EXPECT_EQ(ScoreFile(), PythonScoreImage(slots, "Q"));

  OpenMenu();
  ChooseCourse(2);
  EXPECT_EQ(Title().GetCursor(), 2);
  EXPECT_EQ(Play().GetStage(), 9);
}

TEST_F(GameSystemRunTest, AnEndingWithoutANewRecordReturnsToTheTitle) {
  std::vector<StageSpec> stages;
  std::vector<SlotValue> records;
  for (int s = 1; s <= 8; ++s) {
    stages.push_back(InstantClear(s));
    records.push_back({s, 1, "REC"});
  }
  WriteStages(stages);
  WriteScore(records);
  Build();
  ToMenu();
  ChooseCourse(1);
  for (int s = 1; s <= 8; ++s) ClearInstantly();
  ASSERT_EQ(System().GetState(), kStateEnding);
  // Held down, the button runs the ending three times as fast.
  Input("ldown");
  int frames = 0;
  while (System().GetState() == kStateEnding && frames < 2000) {
    Frame();
    ++frames;
  }
  Input("lup");
  EXPECT_EQ(frames, 301);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 6, 2));
  EXPECT_EQ(ScoreFile(), PythonScoreImage(records, "Q")) << "only the course flag changed";
}

}  // namespace
}  // namespace nura::game_test
