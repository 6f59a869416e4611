#include "tests/game/playlogic_fixture.h"

#include <filesystem>

#include "game/gameaudio.h"
#include "platform/com.h"
#include "platform/testing.h"
#include "platform/win_user.h"
#include "qel/appbase/qelmouse.h"
#include "tests/platform/audio_files.h"

namespace nura::game_test {

namespace {

LRESULT PlayWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MouseHook(hWnd, msg, wParam, lParam);
  C_Music::PollEvents(hWnd, msg, wParam, lParam);
  return DefWindowProcA(hWnd, msg, wParam, lParam);
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void Input(const std::string& event) {
  std::string error;
  ASSERT_TRUE(platform::test::InputNow(event, &error)) << error;
  Pump();
}

constexpr const char* kEffects[] = {"bom25", "don11", "crash17", "chari08", "noise01"};

}  // namespace

void PlayLogicTest::SetUp() {
  platform::test::UseFakeClock();
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = &PlayWndProc;
  cls.lpszClassName = "PlayLogicTestClass";
  RegisterClassExA(&cls);
  // A pop-up window: its client area is the whole 640 x 480, as in full screen.
  m_hWnd = CreateWindowExA(0, "PlayLogicTestClass", "play", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr,
                           nullptr);
  ASSERT_NE(m_hWnd, nullptr);
  ShowWindow(m_hWnd, SW_SHOW);
  Pump();
  ASSERT_TRUE(InitMusic());
  ASSERT_TRUE(InitSound(m_hWnd));

  // Each effect: a short mono tone of its own; the music: a WAVE file under
  // the music's name (the player reads either).
  std::filesystem::create_directory("SE");
  for (std::size_t i = 0; i < std::size(kEffects); ++i) {
    std::vector<std::uint8_t> samples(2000);
    for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<std::uint8_t>(k * (i + 3) + i);
    test::WriteFileBytes(std::string("SE/") + kEffects[i] + ".wav", test::MakeWave(1, 1, 22050, 16, samples));
    m_SoundByCrc[platform::test::AudioCrc32(samples.data(), samples.size())] = kEffects[i];
  }
  test::WriteFileBytes("Fjord.mp3", test::MakeWave(1, 1, 22050, 16, std::vector<std::uint8_t>(44100, 0x20)));

  m_pMouse = std::make_unique<C_Mouse>();
  g_pGameSystem = reinterpret_cast<C_GameSystem*>(m_pMouse.get());
}

void PlayLogicTest::TearDown() {
  m_pLogic.reset();
  g_Music.Close();
  ShutdownSound();
  CoUninitialize();
  g_pGameSystem = nullptr;
  m_pMouse.reset();
  if (m_hWnd) DestroyWindow(m_hWnd);
  Pump();
  UnregisterClassA("PlayLogicTestClass", nullptr);
}

void PlayLogicTest::Start(const std::vector<StageSpec>& stages) {
  WriteStages(stages);
  m_pLogic = std::make_unique<C_PlayLogic>();
  MoveTo(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY);
  m_pMouse->Update();
  m_pMouse->Update();
  ASSERT_FALSE(m_pMouse->IsLocked());
}

int PlayLogicTest::Frame() {
  platform::test::AdvanceClock(kFrameMs);
  Pump();
  m_pMouse->Update();
  return m_pLogic->Update();
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

void PlayLogicTest::MoveTo(int x, int y) { Input("move " + std::to_string(x) + " " + std::to_string(y)); }

int PlayLogicTest::ClickAt(int x, int y) {
  MoveTo(x, y);
  Input("ldown");
  const int result = Frame();
  Input("lup");
  return result;
}

std::vector<std::string> PlayLogicTest::SoundsPlayed() const {
  std::vector<std::string> names;
  for (const auto& e : platform::test::AudioEventsOf(platform::test::AudioEventKind::BufferPlay)) {
    auto it = m_SoundByCrc.find(e.crc);
    names.push_back(it == m_SoundByCrc.end() ? "?" : it->second);
  }
  return names;
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
