#include "tests/game/screen_fixture.h"

#include <filesystem>

#include "game/gameaudio.h"
#include "platform/com.h"
#include "platform/testing.h"
#include "platform/win_user.h"
#include "tests/platform/audio_files.h"
#include "tests/support/message_pump.h"

namespace nura::game_test {

namespace {

LRESULT ScreenWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MouseHook(hWnd, msg, wParam, lParam);
  C_Music::PollEvents(hWnd, msg, wParam, lParam);
  return DefWindowProcA(hWnd, msg, wParam, lParam);
}

constexpr const char* kEffects[] = {"bom25", "don11", "crash17", "chari08", "noise01", "cursor04", "cursor08"};

}  // namespace

// --- GameWindowTest ------------------------------------------------------------

void GameWindowTest::SetUp() {
  platform::test::UseFakeClock();
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = &ScreenWndProc;
  cls.lpszClassName = "ScreenTestClass";
  RegisterClassExA(&cls);
  m_hWnd = CreateWindowExA(0, "ScreenTestClass", "screen", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr,
                           nullptr);
  ASSERT_NE(m_hWnd, nullptr);
  ShowWindow(m_hWnd, SW_SHOW);
  test::PumpMessages();
  ASSERT_TRUE(InitMusic());
  ASSERT_TRUE(InitSound(m_hWnd));

  std::filesystem::create_directory("SE");
  for (std::size_t i = 0; i < std::size(kEffects); ++i) {
    std::vector<std::uint8_t> samples(1000 + 100 * i);
    for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<std::uint8_t>(k * (i + 3) + i);
    test::WriteFileBytes(std::string("SE/") + kEffects[i] + ".wav", test::MakeWave(1, 1, 22050, 16, samples));
    m_SoundByCrc[platform::test::AudioCrc32(samples.data(), samples.size())] = kEffects[i];
  }
  test::WriteFileBytes("Fjord.mp3", test::MakeWave(1, 1, 22050, 16, std::vector<std::uint8_t>(44100, 0x20)));
  MoveTo(320, 470);
}

void GameWindowTest::TearDown() {
  g_Music.Close();
  ShutdownSound();
  CoUninitialize();
  if (m_hWnd) DestroyWindow(m_hWnd);
  test::PumpMessages();
  UnregisterClassA("ScreenTestClass", nullptr);
}

void GameWindowTest::Input(const std::string& event) { test::InputAndPump(event); }

// --- ScreenLogicTest -----------------------------------------------------------

void ScreenLogicTest::SetUp() {
  GameWindowTest::SetUp();
  m_pMouse = std::make_unique<C_Mouse>();
  g_pGameSystem = reinterpret_cast<C_GameSystem*>(m_pMouse.get());
  // Past the mouse's start-up lock.
  m_pMouse->Update();
  m_pMouse->Update();
}

void ScreenLogicTest::TearDown() {
  g_pGameSystem = nullptr;
  m_pMouse.reset();
  GameWindowTest::TearDown();
}

int ScreenLogicTest::Frame(C_StateLogic& logic) {
  platform::test::AdvanceClock(kFrameMs);
  test::PumpMessages();
  m_pMouse->Update();
  return logic.Update();
}

int ScreenLogicTest::ClickAt(C_StateLogic& logic, int x, int y) {
  MoveTo(x, y);
  Input("ldown");
  const int result = Frame(logic);
  Input("lup");
  return result;
}

int ScreenLogicTest::RightClickAt(C_StateLogic& logic, int x, int y) {
  MoveTo(x, y);
  Input("rdown");
  const int result = Frame(logic);
  Input("rup");
  return result;
}

// --- GameSystemTest ------------------------------------------------------------

void GameSystemTest::TearDown() {
  m_pSystem.reset();
  GameWindowTest::TearDown();
}

void GameSystemTest::Build() {
  m_pSystem = std::make_unique<C_GameSystem>();
  m_pSystem->Init();
  PublishGameObjects(m_pSystem.get());
  // As the application does once it has started.
  m_pSystem->GetPlayLogic()->GetFloorData().PrepareScoreFile();
  m_Trace = {m_pSystem->GetState()};
}

int GameSystemTest::Frame() {
  platform::test::AdvanceClock(kFrameMs);
  test::PumpMessages();
  m_pSystem->UpdateFrame();
  const int state = m_pSystem->GetState();
  if (state != m_Trace.back()) m_Trace.push_back(state);
  return state;
}

int GameSystemTest::ClickAt(int x, int y) {
  MoveTo(x, y);
  Input("ldown");
  const int state = Frame();
  Input("lup");
  return state;
}

bool GameSystemTest::RunWhileState(int state, int limit) {
  for (int n = 0; n < limit; ++n) {
    if (m_pSystem->GetState() != state) return true;
    Frame();
  }
  return m_pSystem->GetState() != state;
}

void GameSystemTest::HurryClear() {
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
  for (int f = 0; f < 70; ++f) Frame();
  ClickAt(300, 300);
  Frame();
  ClickAt(300, 300);
}

void GameSystemTest::MissUntilGameOver() {
  for (int miss = 0; miss < 10 && Play().GetPhase() != C_PlayLogic::kPhaseContinue; ++miss) {
    SkipToPlay();
    Frame();  // the enemy at the start point hits
    ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseHit);
    for (int n = 0; n < 100 && Play().GetPhase() == C_PlayLogic::kPhaseHit; ++n) Frame();
  }
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseContinue);
  MoveTo(400, 250);
  Frame();
  ClickAt(400, 250);  // "no"
}

}  // namespace nura::game_test
