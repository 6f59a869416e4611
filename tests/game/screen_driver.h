// Scripted steps through the screens around play, shared by the fixtures that
// drive the game system directly and through the whole application. The
// fixture supplies Frame(), ClickAt(x, y), RunWhileState(), State(), Title()
// and Play(), and names this class a friend.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "game/gamesystem.h"
#include "game/nameentrylogic.h"
#include "game/playlogic.h"
#include "game/titlelogic.h"

namespace nura::game_test {

// The key of letter i on the name-entry screen, at its centre.
inline int KeyCentreX(int letter) { return C_NameEntryLogic::GetKeyX(letter) + 25; }
inline int KeyCentreY(int letter) { return C_NameEntryLogic::GetKeyY(letter) + 48; }

template <class Fixture>
class ScreenDriver {
 protected:
  // From the logo to the title (a click cuts the logo short).
  void SkipLogo() {
    ASSERT_EQ(F().State(), kStateLogo);
    // Past the mouse's start-up lock; a click starts the fade-out.
    F().Frame();
    F().Frame();
    F().ClickAt(320, 240);
    ASSERT_TRUE(F().RunWhileState(kStateLogo, 100));
    ASSERT_EQ(F().State(), kStateTitle);
  }

  // From the title's first screen to its menu.
  void OpenMenu() {
    ASSERT_EQ(F().State(), kStateTitle);
    F().Frame();
    F().ClickAt(320, 450);
    ASSERT_EQ(F().Title().GetSubState(), C_TitleLogic::kOpeningMenu);
    RunUntilSubState(C_TitleLogic::kMenu);
  }

  // From the menu: course c (1 to 3).
  void ChooseCourse(int course) {
    F().ClickAt(320, 190);
    ASSERT_EQ(F().Title().GetSubState(), C_TitleLogic::kOpeningCourses);
    RunUntilSubState(C_TitleLogic::kCourses);
    F().ClickAt(320, 160 + 80 * (course - 1));
    ASSERT_EQ(F().State(), kStateCourse);
  }

  // From the menu to the stage list.
  void OpenStageList() {
    F().ClickAt(320, 290);
    ASSERT_EQ(F().Title().GetSubState(), C_TitleLogic::kOpeningStages);
    RunUntilSubState(C_TitleLogic::kStages);
  }

  // From the menu: the stage on page p, row r of the stage list.
  void ChooseStage(int page, int row) {
    OpenStageList();
    for (int p = 0; p < page; ++p) {
      F().ClickAt(420, 415);
      F().Frame();
    }
    ASSERT_EQ(F().Title().GetPage(), page);
    F().ClickAt(300, 95 + 30 * row);
    ASSERT_EQ(F().State(), kStateSingleStage);
  }

  // In play: the preview skipped with a click, the count-down run out.
  void SkipToPlay() {
    C_PlayLogic& play = F().Play();
    for (int n = 0; n < 200 && !(play.IsStarted() && play.GetPhase() == C_PlayLogic::kPhasePreview); ++n) F().Frame();
    ASSERT_EQ(play.GetPhase(), C_PlayLogic::kPhasePreview);
    F().ClickAt(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY);
    ASSERT_EQ(play.GetPhase(), C_PlayLogic::kPhaseCountDown);
    for (int n = 0; n < 200 && play.GetPhase() == C_PlayLogic::kPhaseCountDown; ++n) F().Frame();
    ASSERT_EQ(play.GetPhase(), C_PlayLogic::kPhasePlaying);
  }

  // Letters by name ("ABC"), then the end button.
  void EnterName(const std::string& letters) {
    ASSERT_EQ(F().State(), kStateNameEntry);
    for (char c : letters) {
      F().ClickAt(KeyCentreX(c - 'A'), KeyCentreY(c - 'A'));
      F().Frame();
    }
    F().ClickAt(570, 390);
  }

 private:
  Fixture& F() { return static_cast<Fixture&>(*this); }

  void RunUntilSubState(int sub) {
    for (int n = 0; n < 100 && F().Title().GetSubState() != sub; ++n) F().Frame();
    ASSERT_EQ(F().Title().GetSubState(), sub);
  }
};

}  // namespace nura::game_test
