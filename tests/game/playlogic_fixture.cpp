#include "tests/game/playlogic_fixture.h"

namespace nura::game_test {

void PlayLogicTest::TearDown() {
  m_pLogic.reset();
  ScreenLogicTest::TearDown();
}

void PlayLogicTest::Start(const std::vector<StageSpec>& stages) {
  WriteStages(stages);
  m_pLogic = std::make_unique<C_PlayLogic>();
  m_pLogic->GetFloorData().PrepareScoreFile();  // as the application does once started
  MoveTo(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY);
  m_pMouse->Update();
  m_pMouse->Update();
  ASSERT_FALSE(m_pMouse->IsLocked());
}

int PlayLogicTest::FramesWhilePhase(int phase, int limit) {
  int n = 0;
  while (m_pLogic->GetPhase() == phase && n < limit) {
    Frame();
    ++n;
  }
  return n;
}

bool PlayLogicTest::RunUntil(const std::function<bool()>& pred, int limit) {
  for (int n = 0; n < limit; ++n) {
    if (pred()) return true;
    Frame();
  }
  return pred();
}

void PlayLogicTest::SkipToPlay() {
  ASSERT_TRUE(RunUntil([&] { return m_pLogic->IsStarted() && m_pLogic->GetPhase() == C_PlayLogic::kPhasePreview; }));
  ClickAt(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY);
  ASSERT_EQ(m_pLogic->GetPhase(), C_PlayLogic::kPhaseCountDown);
  ASSERT_EQ(FramesWhilePhase(C_PlayLogic::kPhaseCountDown), 180);
  ASSERT_EQ(m_pLogic->GetPhase(), C_PlayLogic::kPhasePlaying);
}

int PlayLogicTest::HurryClear() {
  EXPECT_EQ(m_pLogic->GetPhase(), C_PlayLogic::kPhaseGoal);
  for (int f = 0; f < 70; ++f) Frame();
  ClickAt(300, 300);
  Frame();
  ClickAt(300, 300);
  return Frame();
}

StageSpec Corridor(int number) {
  StageSpec s;
  s.number = number;
  s.floors = {{0, 0, 1000, 200}};
  s.startX = 100;
  s.startY = 87;
  s.goal = {400, 50, 500, 150};
  s.timeA = 2;
  s.timeB = 3;
  s.limit = 20;
  s.path = {{2, 5}};
  return s;
}

StageSpec InstantClear(int number) {
  StageSpec s = Corridor(number);
  s.goal = {50, 50, 200, 150};
  return s;
}

StageSpec Deadly(int number) {
  StageSpec s = Corridor(number);
  s.enemies = {{4, 0, 0, 100, 87}};
  return s;
}

}  // namespace nura::game_test
