// Play on the fake clock, on the screen-logic fixture's headless window,
// scripted mouse, sound effects and music; the data tables live in the
// test's own folder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "game/playlogic.h"
#include "tests/game/game_test_util.h"
#include "tests/game/screen_fixture.h"

namespace nura::game_test {

class PlayLogicTest : public ScreenLogicTest {
 protected:
  void TearDown() override;

  // Writes the tables and builds the play logic (which reads them and the
  // score file); the mouse is past its start-up lock.
  void Start(const std::vector<StageSpec>& stages);
  // One frame: the clock advances, input is dispatched, the mouse is sampled
  // and the logic runs; its result.
  int Frame() { return ScreenLogicTest::Frame(*m_pLogic); }
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
  // A click at (x, y) in client pixels in one frame.
  int ClickAt(int x, int y) { return ScreenLogicTest::ClickAt(*m_pLogic, x, y); }
  // The cursor held at offset (dx, dy) from the steering centre.
  void Steer(int dx, int dy) { MoveTo(C_PlayLogic::kSteerX + dx, C_PlayLogic::kSteerY + dy); }

  C_PlayLogic& Logic() { return *m_pLogic; }
  C_Mouse& Mouse() { return *m_pMouse; }
  const C_MessageItem& Item(int i) { return m_pLogic->GetMessageItem(i); }

  std::unique_ptr<C_PlayLogic> m_pLogic;
};

// A corridor (0, 0)-(1000, 200) with the body near its left end and the goal
// 300 px to the right.
StageSpec Corridor(int number);
// A stage whose start lies inside its goal: cleared on the first playing frame.
StageSpec InstantClear(int number);
// A corridor whose start lies on a still enemy: hit on the first playing frame.
StageSpec Deadly(int number);

}  // namespace nura::game_test
