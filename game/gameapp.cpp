#include "game/gameapp.h"

#include <string>
#include <vector>

#include "game/datafolder.h"
#include "game/settings.h"
#include "qel/appbase/qelrandom.h"

namespace {

// What the player is told when the game cannot be played.
std::string UnplayableText(const std::vector<std::string>& missing, bool nothingFound) {
  const std::string here = FullPath(".");
  if (nothingFound) {
    std::string text = std::string(kGameTitle) + " found none of its data in the folder it was started from:\n" +
                       here + "\n\nStart it from its data folder, the one that holds cg/, SE/, StageData.dat and " +
                       "Floor.dat";
    const std::string built = BuiltDataFolder();
    return text + (built.empty() || built == here ? "." : ":\n" + built);
  }
  std::string text = std::string(kGameTitle) + " cannot be played: these files of its data folder\n" + here +
                     "\nare missing or damaged:\n";
  for (const std::string& name : missing) text += "\n    " + name;
  return text + "\n\nErrorLog.txt there, and standard error, say why.";
}

}  // namespace

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

HRESULT C_GameApp::OneTimeInit() {
  std::vector<std::string> missing = m_GameSystem.GetPlayLogic()->GetFloorData().UnusableTables();
  const std::vector<std::string> pictures = m_SceneManager.MissingPictures();
  // Neither table and none of the pictures: the wrong folder, not a damaged one.
  const bool nothingFound = missing.size() == 2 && pictures.size() == C_SceneManager::kEssentialPictures;
  missing.insert(missing.end(), pictures.begin(), pictures.end());
  if (!missing.empty()) {
    m_bPlayable = false;
    ShowGameMessage(UnplayableText(missing, nothingFound));
    return E_FAIL;
  }
  m_GameSystem.GetPlayLogic()->GetFloorData().PrepareScoreFile();
  return S_OK;
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
  // A failed start (no window, no device, data missing) must not look like a
  // normal quit.
  if (FAILED(app.Create(hInstance, nCmdShow)) || !app.IsPlayable()) return 1;
  return app.Run();
}
