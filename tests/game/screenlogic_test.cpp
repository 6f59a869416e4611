// The logo, game-over, ending and name-entry logics, each driven frame by
// frame with scripted clicks on the fake clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "game/endinglogic.h"
#include "game/gameoverlogic.h"
#include "game/logologic.h"
#include "game/nameentrylogic.h"
#include "platform/testing.h"
#include "tests/game/screen_fixture.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;

// --- Logo --------------------------------------------------------------------

class LogoLogicTest : public ScreenLogicTest {
 protected:
  C_LogoLogic m_Logo;
};

TEST_F(LogoLogicTest, FadesInHoldsAndFadesOutUntouched) {
  std::vector<int> alphas;
  int result = 0;
  int updates = 0;
  while (result == 0 && updates < 1000) {
    result = Frame(m_Logo);
    alphas.push_back(m_Logo.GetAlpha());
    ++updates;
  }
  EXPECT_EQ(result, 1) << "to the title";
  // 64 frames of fade-in (the last clamped to 255), the hold until the frame
  // counter passes 256, then 64 frames of fade-out to -1.
  EXPECT_EQ(updates, 322);
  EXPECT_EQ(alphas[0], 4);
  EXPECT_EQ(alphas[62], 252);
  EXPECT_EQ(alphas[63], 255);
  EXPECT_EQ(alphas[64], 255);
  EXPECT_EQ(alphas[257], 255) << "the update that starts the fade-out";
  EXPECT_EQ(alphas[258], 251);
  EXPECT_EQ(alphas.back(), -1);
  for (std::size_t i = 1; i < 63; ++i) EXPECT_EQ(alphas[i], alphas[i - 1] + 4) << i;
  for (std::size_t i = 259; i < alphas.size(); ++i) EXPECT_EQ(alphas[i], alphas[i - 1] - 4) << i;
}

TEST_F(LogoLogicTest, AClickDuringTheFadeInFadesOutFromTheCurrentAlpha) {
  for (int i = 0; i < 9; ++i) Frame(m_Logo);
  EXPECT_EQ(ClickAt(m_Logo, 100, 100), 0);
  EXPECT_EQ(m_Logo.GetPhase(), C_LogoLogic::kPhaseFadeOut);
  EXPECT_EQ(m_Logo.GetAlpha(), 40);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(Frame(m_Logo), 0) << i;
  EXPECT_EQ(m_Logo.GetAlpha(), 4);
  EXPECT_EQ(Frame(m_Logo), 1) << "alpha 0 ends the logo";
}

TEST_F(LogoLogicTest, TheHoldWinsOverAClickInTheLastFadeInFrame) {
  for (int i = 0; i < 64; ++i) Frame(m_Logo);
  ClickAt(m_Logo, 100, 100);  // frame counter 64
  EXPECT_EQ(m_Logo.GetPhase(), C_LogoLogic::kPhaseHold);
  Frame(m_Logo);
  ClickAt(m_Logo, 100, 100);
  EXPECT_EQ(m_Logo.GetPhase(), C_LogoLogic::kPhaseFadeOut) << "a click during the hold";
  EXPECT_EQ(m_Logo.GetAlpha(), 255);
  int updates = 1;
  while (Frame(m_Logo) == 0 && updates < 200) ++updates;
  EXPECT_EQ(updates, 64);
}

// --- Game over -----------------------------------------------------------------

class GameOverLogicTest : public ScreenLogicTest {
 protected:
  C_GameOverLogic m_GameOver;
};

TEST_F(GameOverLogicTest, FadesFromBlackToWhiteAndWaitsForAClick) {
  EXPECT_EQ(m_GameOver.GetFadeColour(), 0xFF000000u);
  std::vector<D3DCOLOR> colours;
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(Frame(m_GameOver), 0) << "no click, no change";
    colours.push_back(m_GameOver.GetFadeColour());
  }
  EXPECT_EQ(colours[0], 0xFF010101u);
  EXPECT_EQ(colours[1], 0xFF020202u);
  EXPECT_EQ(colours[127], 0xFF808080u);
  EXPECT_EQ(colours[254], 0xFFFFFFFFu) << "255";
  for (std::size_t i = 255; i < colours.size(); ++i) EXPECT_EQ(colours[i], 0xFFFFFFFFu) << i;
  EXPECT_EQ(ClickAt(m_GameOver, 10, 10), -3);
  EXPECT_TRUE(SoundsPlayed().empty());

  // The next visit starts black again.
  EXPECT_EQ(Frame(m_GameOver), 0);
  EXPECT_EQ(m_GameOver.GetCounter(), 1);
  EXPECT_EQ(ClickAt(m_GameOver, 10, 10), -3) << "a click in the first frame";
}

// --- Ending --------------------------------------------------------------------

class EndingLogicTest : public ScreenLogicTest {
 protected:
  // Updates until the counter reaches c (the counter of the next update).
  void RunTo(int c) {
    while (m_Ending.GetCounter() < c) ASSERT_EQ(Frame(m_Ending), 0);
  }
  // Runs the update whose counter is c.
  void RunAt(int c) {
    RunTo(c);
    ASSERT_EQ(m_Ending.GetCounter(), c);
    ASSERT_EQ(Frame(m_Ending), 0);
  }
  void ExpectPicture(int i, bool shown, int x, int y, int alpha, float scale) {
    SCOPED_TRACE(testing::Message() << "picture " << i << " at counter " << m_Ending.GetCounter() - 1);
    EXPECT_EQ(m_Ending.IsShown(i), shown);
    EXPECT_EQ(m_Ending.GetX(i), x);
    EXPECT_EQ(m_Ending.GetY(i), y);
    EXPECT_EQ(m_Ending.GetAlpha(i), alpha);
    EXPECT_NEAR(m_Ending.GetScale(i), scale, 1e-6);
  }

  C_EndingLogic m_Ending;
};

TEST_F(EndingLogicTest, TheSequenceOfPairsVeilAndClosingPicture) {
  for (int i = 0; i < C_EndingLogic::kPictureCount; ++i) ASSERT_FALSE(m_Ending.IsShown(i));
  RunAt(0);
  EXPECT_EQ(m_Ending.GetOverlayAlpha(), 0);
  EXPECT_FALSE(m_Ending.IsShown(10));

  // Pair (11, 10) enters: from (160, 480) at scale 1.4 towards (192, 120).
  RunAt(20);
  ExpectPicture(10, true, 160, 480, 0, 1.4f);
  ExpectPicture(11, true, 160, 480, 255, 1.4f);
  RunAt(45);  // dt 25
  ExpectPicture(10, true, 186, 180, 127, static_cast<float>(1.4 - 0.4 * 25 / 30));
  ExpectPicture(11, true, 186, 180, 127, static_cast<float>(1.4 - 0.4 * 25 / 30));
  RunAt(49);  // dt 29
  ExpectPicture(10, true, 190, 132, 229, static_cast<float>(1.4 - 0.4 * 29 / 30));
  ExpectPicture(11, true, 190, 132, 25, static_cast<float>(1.4 - 0.4 * 29 / 30));
  RunAt(100);
  ExpectPicture(10, true, 192, 120, 255, 1.0f);
  ExpectPicture(11, true, 192, 120, 1, 1.0f);

  // (11, 10) leaves upward while (13, 12) enters.
  RunAt(150);  // dt 10
  ExpectPicture(10, true, 182, 0, 0, static_cast<float>(1.0 + 0.4 * 10 / 30));
  ExpectPicture(11, true, 182, 0, 255, static_cast<float>(1.0 + 0.4 * 10 / 30));
  ExpectPicture(12, true, 170, 360, 0, static_cast<float>(1.4 - 0.4 * 10 / 30));
  ExpectPicture(13, true, 170, 360, 255, static_cast<float>(1.4 - 0.4 * 10 / 30));
  RunAt(170);
  EXPECT_FALSE(m_Ending.IsShown(10));
  EXPECT_FALSE(m_Ending.IsShown(11));
  ExpectPicture(12, true, 192, 120, 255, 1.0f);

  RunAt(300);
  EXPECT_FALSE(m_Ending.IsShown(12));
  EXPECT_TRUE(m_Ending.IsShown(14));
  RunAt(420);
  EXPECT_FALSE(m_Ending.IsShown(14));
  ExpectPicture(16, true, 192, 120, 255, 1.0f);
  ExpectPicture(17, true, 192, 120, 1, 1.0f);
  RunAt(529);  // the last frame of the leave
  EXPECT_EQ(m_Ending.GetY(16), 120 - 348);

  // The veil rises over 30 frames, then the closing picture slides in.
  RunAt(540);
  EXPECT_FALSE(m_Ending.IsShown(16));
  EXPECT_FALSE(m_Ending.IsShown(17));
  EXPECT_EQ(m_Ending.GetOverlayAlpha(), 85);
  EXPECT_FALSE(m_Ending.IsShown(C_EndingLogic::kClosingPicture));
  RunAt(630);
  ExpectPicture(18, true, 475, 420, 127, 1.0f);
  EXPECT_EQ(m_Ending.GetOverlayAlpha(), 255);
  RunAt(660);
  ExpectPicture(18, true, 500, 420, 255, 1.0f);
  for (int i = 10; i < 18; ++i) EXPECT_FALSE(m_Ending.IsShown(i)) << i;
  for (int i : {0, 9, 19, 29}) EXPECT_FALSE(m_Ending.IsShown(i)) << i;
  EXPECT_EQ(m_Ending.GetBackgroundAlpha(), 255);

  RunTo(900);
  EXPECT_EQ(Frame(m_Ending), -4) << "to the title";
  EXPECT_TRUE(SoundsPlayed().empty());
}

TEST_F(EndingLogicTest, LastsNineHundredUpdatesOrThreeHundredWithTheButtonHeld) {
  int updates = 0;
  while (Frame(m_Ending) == 0 && updates < 2000) ++updates;
  EXPECT_EQ(updates, 900);

  MoveTo(320, 240);
  Input("ldown");
  updates = 0;
  while (Frame(m_Ending) == 0 && updates < 2000) ++updates;
  EXPECT_EQ(updates, 300) << "a new visit, three times as fast";
  Input("lup");
}

TEST_F(EndingLogicTest, ASecondEndingStartsWithoutTheFirstOnesPictures) {
  while (Frame(m_Ending) == 0) {
  }
  ASSERT_TRUE(m_Ending.IsShown(C_EndingLogic::kClosingPicture));
  ASSERT_EQ(m_Ending.GetOverlayAlpha(), 255);

  EXPECT_EQ(Frame(m_Ending), 0);
  for (int i = 0; i < C_EndingLogic::kPictureCount; ++i) {
    EXPECT_FALSE(m_Ending.IsShown(i)) << i;
    EXPECT_EQ(m_Ending.GetScale(i), 1.0f) << i;
  }
  EXPECT_EQ(m_Ending.GetOverlayAlpha(), 0);
  RunAt(600);
  EXPECT_FALSE(m_Ending.IsShown(C_EndingLogic::kClosingPicture)) << "not before its key";
}

// --- Name entry ------------------------------------------------------------------

class NameEntryTest : public ScreenLogicTest {
 protected:
  // A click on the letter's key, then a frame with the button up.
  int Letter(char c) {
    const int result = ClickAt(m_Entry, KeyCentreX(c - 'A'), KeyCentreY(c - 'A'));
    Frame(m_Entry);
    return result;
  }
  int End() { return ClickAt(m_Entry, 572, 392); }

  C_NameEntryLogic m_Entry;
};

TEST_F(NameEntryTest, AFourthLetterShiftsTheFirstOut) {
  for (char c : std::string("ABCD")) EXPECT_EQ(Letter(c), 0);
  EXPECT_EQ(m_Entry.GetLetterCount(), 3);
  EXPECT_EQ(End(), -5);
  EXPECT_STREQ(m_Entry.GetName(), "BCD");
  EXPECT_THAT(SoundsPlayed(), ElementsAre("cursor04", "cursor04", "cursor04", "cursor04", "cursor08"));
}

TEST_F(NameEntryTest, NoLettersGiveAnEmptyNameAndFewerLettersAShortOne) {
  EXPECT_EQ(End(), -5);
  EXPECT_STREQ(m_Entry.GetName(), "");
  EXPECT_THAT(SoundsPlayed(), ElementsAre("cursor08"));

  // The next visit starts empty.
  EXPECT_EQ(Frame(m_Entry), 0);
  EXPECT_EQ(m_Entry.GetLetterCount(), 0);
  Letter('Z');
  Letter('Q');
  EXPECT_FALSE(m_Entry.HasLetter(2));
  EXPECT_EQ(End(), -5);
  EXPECT_STREQ(m_Entry.GetName(), "ZQ");
}

TEST_F(NameEntryTest, EveryKeyEntersItsLetterAndOnlyOne) {
  for (int i = 0; i < C_NameEntryLogic::kLetters; ++i) {
    // Each key at its four corners.
    const int x = C_NameEntryLogic::GetKeyX(i);
    const int y = C_NameEntryLogic::GetKeyY(i);
    const int corners[4][2] = {{x + 1, y}, {x + 49, y}, {x + 1, y + 96}, {x + 49, y + 96}};
    for (const auto& p : corners) {
      ClickAt(m_Entry, p[0], p[1]);
      Frame(m_Entry);
      ASSERT_EQ(m_Entry.GetLetter(2 < m_Entry.GetLetterCount() ? 2 : m_Entry.GetLetterCount() - 1), i)
          << "key " << i << " at " << p[0] << ", " << p[1];
    }
  }
  EXPECT_EQ(SoundsPlayed().size(), 4u * C_NameEntryLogic::kLetters);

  // The edge two keys share takes one letter.
  platform::test::ClearAudioEvents();
  ClickAt(m_Entry, 110, 150);
  Frame(m_Entry);
  EXPECT_EQ(m_Entry.GetLetter(2), 0) << "A";
  EXPECT_EQ(m_Entry.GetLetter(1), 25) << "the Z before it";
  EXPECT_EQ(SoundsPlayed().size(), 1u);

  // Clicks beside the keys enter nothing.
  for (auto [x, y] : {std::pair{59, 150}, {30, 30}, {400, 380}, {300, 439}, {539, 390}}) {
    ClickAt(m_Entry, x, y);
    Frame(m_Entry);
  }
  EXPECT_EQ(SoundsPlayed().size(), 1u);
  EXPECT_EQ(End(), -5);
  EXPECT_STREQ(m_Entry.GetName(), "ZZA") << "Z four times, then A";
}

TEST_F(NameEntryTest, TheNewestLetterRisesIntoItsSlot) {
  ClickAt(m_Entry, KeyCentreX(2), KeyCentreY(2));
  std::vector<int> tops;
  for (int i = 0; i < 8; ++i) {
    const RECT r = m_Entry.GetSlotRect(0);
    EXPECT_EQ(r.left, 96);
    EXPECT_EQ(r.right, 143);
    EXPECT_EQ(r.bottom, 95);
    tops.push_back(r.top);
    Frame(m_Entry);
  }
  EXPECT_THAT(tops, ElementsAre(79, 63, 47, 31, 15, 0, 0, 0));
  ClickAt(m_Entry, KeyCentreX(0), KeyCentreY(0));
  EXPECT_EQ(m_Entry.GetSlotRect(0).top, 0) << "only the newest letter rises";
  EXPECT_EQ(m_Entry.GetSlotRect(1).top, 79);
  EXPECT_EQ(m_Entry.GetSlotRect(1).left, 0);
  EXPECT_EQ(m_Entry.GetSlotRect(2).right, 0) << "an empty slot";
  EXPECT_EQ(C_NameEntryLogic::GetSlotX(2), 365);
}

TEST_F(NameEntryTest, TheBeltRunsLeftAndWraps) {
  Frame(m_Entry);
  EXPECT_EQ(m_Entry.GetBeltX(), 636);
  for (int i = 1; i < 599; ++i) Frame(m_Entry);
  EXPECT_EQ(m_Entry.GetBeltX(), 640 - 599 * 4);
  Frame(m_Entry);
  EXPECT_EQ(m_Entry.GetBeltX(), 640);
}

}  // namespace
}  // namespace nura::game_test
