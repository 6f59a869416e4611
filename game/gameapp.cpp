#include "game/gameapp.h"

#include "game/settings.h"
#include "qel/appbase/qelrandom.h"

C_GameApp::C_GameApp() {
  m_nWidth = 640;
  m_nHeight = 480;
  m_pszTitle = kTitle;
  m_bFullScreen = 1;
  m_FrameLimiter.SetFps(kFps);
  m_GameSystem.Init();
  PublishGameObjects(&m_GameSystem);
  m_SceneManager.Init();
  g_Random.SeedFromTickCount();
  g_Settings.Load();
}

HRESULT C_GameApp::UpdateFrame() {
  // The play timer stops while the game does not run.
  m_GameSystem.GetPlayLogic()->SetActive(IsActive());
  if (!IsActive()) return S_OK;
  m_fFps = static_cast<float>(m_FrameLimiter.GetMeasuredFps());
  return m_GameSystem.UpdateFrame() ? S_OK : E_FAIL;
}

HRESULT C_GameApp::DrawFrame() {
  if (!IsActive()) return S_OK;
  m_SceneManager.Draw();
  m_FrameLimiter.Wait();
  return S_OK;
}

int WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
  C_GameApp app;
  // A failed start (no window, no device) must not look like a normal quit.
  if (FAILED(app.Create(hInstance, nCmdShow))) return 1;
  return app.Run();
}
