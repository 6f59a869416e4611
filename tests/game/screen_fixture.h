// The screens around play and the game system on the fake clock: a headless
// pop-up window (its client area the whole 640 x 480) feeds the game's mouse
// through the window procedure, scripted input moves and clicks it, every
// frame advances the clock by 16 ms, and each sound effect has samples of its
// own so that the platform's recorder tells which one played.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "game/gamesystem.h"
#include "game/statelogic.h"
#include "qel/appbase/qelmouse.h"
#include "tests/game/game_test_util.h"
#include "tests/game/screen_driver.h"

namespace nura::game_test {

class GameWindowTest : public testing::Test {
 protected:
  static constexpr int kFrameMs = 16;

  void SetUp() override;
  void TearDown() override;

  // Delivers one input event ("move X Y", "ldown", ...) and dispatches it.
  void Input(const std::string& event);
  void MoveTo(int x, int y) { Input("move " + std::to_string(x) + " " + std::to_string(y)); }
  // The effects played since the last reset, by file name, in order.
  std::vector<std::string> SoundsPlayed() const { return EffectsPlayed(m_SoundByCrc); }

  GameFolder m_Dir;
  HWND m_hWnd = nullptr;
  std::map<std::uint32_t, std::string> m_SoundByCrc;
};

// One screen logic with a mouse of its own standing in for the game system.
class ScreenLogicTest : public GameWindowTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One frame of the logic: the clock advances, the mouse is sampled, the
  // logic runs; its result.
  int Frame(C_StateLogic& logic);
  // A click at (x, y) in one frame; the button is released after it.
  int ClickAt(C_StateLogic& logic, int x, int y);
  int RightClickAt(C_StateLogic& logic, int x, int y);

  std::unique_ptr<C_Mouse> m_pMouse;
};

// The whole state machine.
class GameSystemTest : public GameWindowTest, public ScreenDriver<GameSystemTest> {
  friend class ScreenDriver<GameSystemTest>;

 protected:
  void TearDown() override;

  // Builds the game system (it reads the tables and the score file),
  // publishes it and prepares the score file as the application does.
  void Build();
  // One frame of the game system; the state after it. Every change of state
  // is appended to the trace.
  int Frame();
  int ClickAt(int x, int y);
  // Frames until the state differs from `state` (at most limit); false when
  // it never changed.
  bool RunWhileState(int state, int limit = 5000);
  void ToMenu() {
    SkipLogo();
    OpenMenu();
  }
  // From the first frame of the clear sequence to its last, hurried by two
  // clicks.
  void HurryClear();
  // Misses until the continue choice, then declines it.
  void MissUntilGameOver();

  C_GameSystem& System() { return *m_pSystem; }
  int State() { return m_pSystem->GetState(); }
  C_TitleLogic& Title() { return *m_pSystem->GetTitleLogic(); }
  C_PlayLogic& Play() { return *m_pSystem->GetPlayLogic(); }

  std::unique_ptr<C_GameSystem> m_pSystem;
  std::vector<int> m_Trace;
};

}  // namespace nura::game_test
