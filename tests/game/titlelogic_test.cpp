// The title screen's logic: opening the menu, the course choice as the course
// flags allow, the stage list with its records and pages, right clicks back,
// the menu box, and the title's scroll, swing and blink.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "game/titlelogic.h"
#include "platform/testing.h"
#include "tests/game/screen_fixture.h"

namespace nura::game_test {
namespace {

using T = C_TitleLogic;
using testing::ElementsAre;

class TitleLogicTest : public ScreenLogicTest {
 protected:
  // The score file: the given slots and flags over the creation values.
  void WriteScore(const std::vector<SlotValue>& slots, const std::string& flags = "") {
    test::WriteFileBytes("score.dat", PythonScoreImage(slots, flags));
  }
  // A click, then a frame with the button up; the click's result.
  int Click(int x, int y) {
    const int result = ClickAt(m_Title, x, y);
    if (result == 0) Frame(m_Title);
    return result;
  }
  void RunUntilSubState(int sub) {
    for (int n = 0; n < 100 && m_Title.GetSubState() != sub; ++n) Frame(m_Title);
    ASSERT_EQ(m_Title.GetSubState(), sub);
  }
  void ToMenu() {
    Frame(m_Title);
    Click(320, 450);
    RunUntilSubState(T::kMenu);
  }
  void ToCourses() {
    ToMenu();
    Click(320, 200);
    RunUntilSubState(T::kCourses);
  }
  void ToStages() {
    ToMenu();
    Click(320, 300);
    RunUntilSubState(T::kStages);
  }
  // The centre of row i of the stage list.
  static int RowY(int i) { return 95 + 30 * i; }

  C_TitleLogic m_Title;
};

TEST_F(TitleLogicTest, AClickOpensTheMenuOverTwentyFrames) {
  EXPECT_EQ(Frame(m_Title), 0);
  EXPECT_EQ(m_Title.GetSubState(), T::kWaiting);
  EXPECT_FALSE(std::filesystem::exists("score.dat")) << "the title's table is read only: it creates no file";

  MoveTo(320, 450);
  Input("ldown");
  EXPECT_EQ(Frame(m_Title), 0);
  Input("lup");
  EXPECT_EQ(m_Title.GetSubState(), T::kOpeningMenu);
  EXPECT_EQ(m_Title.GetBoxHeight(), 10) << "the opening step ran in the same frame";
  EXPECT_EQ(m_Title.GetBoxTop(), 140);
  EXPECT_EQ(m_Title.GetBoxLeft(), 120);
  int frames = 1;
  while (m_Title.GetSubState() == T::kOpeningMenu) {
    Frame(m_Title);
    ++frames;
  }
  EXPECT_EQ(frames, 21);
  EXPECT_EQ(m_Title.GetSubState(), T::kMenu);
  EXPECT_EQ(m_Title.GetBoxHeight(), 199);
  EXPECT_THAT(SoundsPlayed(), ElementsAre("cursor08"));

  // Hovering the two items.
  MoveTo(300, 150);
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 1);
  MoveTo(300, 339);
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 2);
  MoveTo(300, 350);
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 0);

  // A right click closes the menu.
  RightClickAt(m_Title, 300, 350);
  EXPECT_EQ(m_Title.GetSubState(), T::kWaiting);
  EXPECT_EQ(m_Title.GetBoxHeight(), 0);
}

TEST_F(TitleLogicTest, CoursesOpenWithTheirFlags) {
  struct Case {
    std::string flags;
    int courses;
  };
  // Flag 0 opens course 2; flag 1 opens course 3, alone as well.
  for (const Case& c : {Case{"", 1}, Case{"Q", 2}, Case{std::string("\0Z", 2), 3}, Case{"QZ", 3}, Case{"QZX", 3},
                        Case{"X", 1}}) {
    SCOPED_TRACE(testing::Message() << "flags of " << c.courses << " courses, " << c.flags.size() << " bytes");
    WriteScore({}, c.flags);
    C_TitleLogic title;
    for (int n = 0; n < 2; ++n) Frame(title);
    ClickAt(title, 320, 450);
    Frame(title);
    for (int n = 0; n < 25; ++n) Frame(title);
    ASSERT_EQ(title.GetSubState(), T::kMenu);
    ClickAt(title, 320, 200);
    Frame(title);
    for (int n = 0; n < 25; ++n) Frame(title);
    ASSERT_EQ(title.GetSubState(), T::kCourses);
    EXPECT_EQ(title.GetCourseCount(), c.courses);
    for (int course = 1; course <= 3; ++course) {
      MoveTo(300, 160 + 80 * (course - 1));
      Frame(title);
      EXPECT_EQ(title.GetCursor(), course <= c.courses ? course : 0) << course;
    }
    // A click on a closed course does nothing; on the last open one it starts.
    if (c.courses < 3) {
      EXPECT_EQ(ClickAt(title, 300, 160 + 80 * c.courses), 0);
      Frame(title);
    }
    EXPECT_EQ(ClickAt(title, 300, 160 + 80 * (c.courses - 1)), 2);
    EXPECT_EQ(title.GetCursor(), c.courses);
  }
}

TEST_F(TitleLogicTest, ChoosingACourseEndsTheVisit) {
  ToCourses();
  EXPECT_EQ(m_Title.GetBoxHeight(), 199);
  platform::test::ClearAudioEvents();
  MoveTo(519, 199);  // the corner of course 1's row
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 1);
  EXPECT_EQ(ClickAt(m_Title, 519, 199), 2);
  EXPECT_THAT(SoundsPlayed(), ElementsAre("cursor08"));
  // The next update begins a new visit.
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetSubState(), T::kWaiting);
  EXPECT_EQ(m_Title.GetPage(), 0);
}

TEST_F(TitleLogicTest, RightClicksLeadBackThroughTheMenu) {
  ToCourses();
  RightClickAt(m_Title, 10, 10);
  EXPECT_EQ(m_Title.GetSubState(), T::kOpeningMenu);
  RunUntilSubState(T::kMenu);
  Click(320, 300);
  RunUntilSubState(T::kStages);
  RightClickAt(m_Title, 10, 10);
  EXPECT_EQ(m_Title.GetSubState(), T::kOpeningMenu);
  EXPECT_EQ(m_Title.GetBoxTop(), 140);
}

TEST_F(TitleLogicTest, TheStageListOpensOverFortyFramesAtTheTop) {
  ToMenu();
  ClickAt(m_Title, 320, 300);
  EXPECT_EQ(m_Title.GetSubState(), T::kOpeningStages);
  EXPECT_EQ(m_Title.GetBoxTop(), 40);
  EXPECT_EQ(m_Title.GetBoxHeight(), 0) << "the click frame ends at once";
  int frames = 0;
  while (m_Title.GetSubState() == T::kOpeningStages) {
    Frame(m_Title);
    ++frames;
    if (frames == 20) {
      EXPECT_EQ(m_Title.GetBoxHeight(), 200);
    }
  }
  EXPECT_EQ(frames, 41);
  EXPECT_EQ(m_Title.GetBoxHeight(), 399);
}

TEST_F(TitleLogicTest, OnlyStagesWithARecordCanBeChosen) {
  WriteScore({{3, 12340, "ABC"}, {15, 1000000, "Z"}, {4, 1000001, "NOP"}, {1, 3000000, "QZX"}});
  ToStages();
  EXPECT_EQ(m_Title.GetStageRecord(3), 12340);
  EXPECT_STREQ(m_Title.GetStageName(3), "ABC");
  EXPECT_EQ(m_Title.GetStageRecord(15), 1000000) << "at most 1000000 is a record";
  EXPECT_EQ(m_Title.GetStageRecord(4), 0);
  EXPECT_EQ(m_Title.GetStageRecord(1), 0);
  platform::test::ClearAudioEvents();

  // Rows of stages 1, 2 and 4 ignore the cursor and clicks.
  for (int row : {0, 1, 3, 9}) {
    MoveTo(300, RowY(row));
    Frame(m_Title);
    EXPECT_EQ(m_Title.GetCursor(), 0) << row;
    EXPECT_EQ(Click(300, RowY(row)), 0) << row;
  }
  EXPECT_TRUE(SoundsPlayed().empty());
  EXPECT_EQ(m_Title.GetSubState(), T::kStages);

  MoveTo(300, RowY(2));
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 3);
  EXPECT_EQ(ClickAt(m_Title, 300, RowY(2)), 1);
  EXPECT_EQ(m_Title.GetPage(), 0);
  EXPECT_EQ(m_Title.GetCursor(), 3) << "stage 10 x 0 + 3";
  EXPECT_THAT(SoundsPlayed(), ElementsAre("cursor08"));
}

TEST_F(TitleLogicTest, PagesStayWithinZeroAndOne) {
  WriteScore({{15, 5000, "AB"}});
  ToStages();
  std::vector<int> pages;
  auto press = [&](int x) {
    Click(x, 415);
    pages.push_back(m_Title.GetPage());
  };
  press(220);  // previous
  press(420);  // next
  press(420);
  press(420);
  press(220);
  press(220);
  EXPECT_THAT(pages, ElementsAre(0, 1, 1, 1, 0, 0));

  // The shared edge of the two buttons belongs to "previous": one click, at
  // most one page.
  MoveTo(320, 415);
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), T::kCursorPrevPage);
  press(320);
  press(420);
  press(320);
  EXPECT_THAT(pages, ElementsAre(0, 1, 1, 1, 0, 0, 0, 1, 0));
  MoveTo(321, 430);
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), T::kCursorNextPage);

  // Page 1 holds stages 11 to 20.
  press(420);
  MoveTo(300, RowY(4));
  Frame(m_Title);
  EXPECT_EQ(m_Title.GetCursor(), 5);
  EXPECT_EQ(ClickAt(m_Title, 300, RowY(4)), 1);
  EXPECT_EQ(C_TitleLogic::kStagesPerPage * m_Title.GetPage() + m_Title.GetCursor(), 15);
}

TEST_F(TitleLogicTest, ScrollSwingAndBlink) {
  std::vector<float> scroll;
  std::vector<int> bob;
  std::vector<bool> blink;
  for (int i = 0; i < 240; ++i) {
    Frame(m_Title);
    scroll.push_back(m_Title.GetScroll());
    bob.push_back(m_Title.GetBob());
    blink.push_back(m_Title.IsBlinkOn());
    ASSERT_EQ(m_Title.GetStripX(), 0);
  }
  // Still for 15 frames, down by 0.3 x (3 + ... + 62) = 585, then back by
  // 0.3 x 40 over the next 80 frames: 12 px.
  EXPECT_EQ(scroll[0], -256.0f);
  EXPECT_EQ(scroll[14], -256.0f);
  EXPECT_NEAR(scroll[15], -256 + 0.9, 1e-4);
  EXPECT_NEAR(scroll[74], -256 + 585.0, 1e-3);
  EXPECT_NEAR(scroll[154], -256 + 585.0 - 12.0, 1e-3);
  EXPECT_EQ(scroll[239], scroll[154]);
  // Two swings from -10 to 10 in every 120 frames.
  EXPECT_EQ(bob[0], -10);
  EXPECT_EQ(bob[20], 10);
  EXPECT_EQ(bob[21], -10);
  EXPECT_EQ(bob[41], 10);
  EXPECT_EQ(bob[119], 10);
  EXPECT_EQ(bob[130], 0);
  // On for 40 frames of every 60.
  for (int i = 0; i < 240; ++i) EXPECT_EQ(blink[i], i % 60 < 40) << i;
}

TEST_F(TitleLogicTest, EveryVisitReadsTheScoreFileAgain) {
  ToCourses();
  EXPECT_EQ(m_Title.GetCourseCount(), 1);
  EXPECT_EQ(ClickAt(m_Title, 300, 160), 2);
  WriteScore({{7, 4321, "JKL"}}, "Q");
  Frame(m_Title);
  EXPECT_TRUE(m_Title.GetCourseFlag(0));
  EXPECT_FALSE(m_Title.GetCourseFlag(1));
  EXPECT_EQ(m_Title.GetStageRecord(7), 4321);
  EXPECT_STREQ(m_Title.GetStageName(7), "JKL");
}

}  // namespace
}  // namespace nura::game_test
