// Play on the fake clock: a headless window feeds the game's mouse through
// the window procedure, scripted input moves and clicks it, every frame
// advances the clock by 16 ms, and the sound effects, music and data tables
// live in the test's own folder. Each effect has its own samples, so the
// platform's recorder tells which one played.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "game/playlogic.h"
#include "qel/appbase/qelmouse.h"
#include "tests/game/game_test_util.h"

namespace nura::game_test {

class PlayLogicTest : public testing::Test {
 protected:
  static constexpr int kFrameMs = 16;

  void SetUp() override;
  void TearDown() override;

  // Writes the tables and builds the play logic (which reads them and the
  // score file); the mouse is past its start-up lock.
  void Start(const std::vector<StageSpec>& stages);
  // One frame: the clock advances, input is dispatched, the mouse is sampled
  // and the logic runs; its result.
  int Frame();
  // Frames until the phase is no longer `phase` (at most limit); how many ran.
  int FramesWhilePhase(int phase, int limit = 5000);
  // Runs frames until pred holds (at most limit); false when it never did.
  bool RunUntil(const std::function<bool()>& pred, int limit = 5000);
  // From the start of a stage to its first playing frame, the preview
  // skipped with a click.
  void SkipToPlay();
  // From the first frame of the clear sequence to its end, hurried by two
  // clicks (to the final layout, then to the end); the result of its last frame.
  int HurryClear();
  // The cursor at (x, y) in client pixels, and a click there in one frame.
  void MoveTo(int x, int y);
  int ClickAt(int x, int y);
  // The cursor held at offset (dx, dy) from the steering centre.
  void Steer(int dx, int dy) { MoveTo(C_PlayLogic::kSteerX + dx, C_PlayLogic::kSteerY + dy); }
  // The effects played since the last reset, by file name, in order.
  std::vector<std::string> SoundsPlayed() const;

  C_PlayLogic& Logic() { return *m_pLogic; }
  C_Mouse& Mouse() { return *m_pMouse; }
  const C_MessageItem& Item(int i) { return m_pLogic->GetMessageItem(i); }

  GameFolder m_Dir;
  HWND m_hWnd = nullptr;
  std::unique_ptr<C_Mouse> m_pMouse;
  std::unique_ptr<C_PlayLogic> m_pLogic;
  std::map<std::uint32_t, std::string> m_SoundByCrc;
};

// A corridor (0, 0)-(1000, 200) with the body near its left end and the goal
// 300 px to the right.
StageSpec Corridor(int number);
// A stage whose start lies inside its goal: cleared on the first playing frame.
StageSpec InstantClear(int number);
// A corridor whose start lies on a still enemy: hit on the first playing frame.
StageSpec Deadly(int number);

}  // namespace nura::game_test
