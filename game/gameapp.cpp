#include "game/gameapp.h"

#include <cstdio>
#include <string>
#include <vector>

#include "game/datafolder.h"
#include "game/settings.h"
#include "platform/win_user.h"
#include "qel/appbase/qelerrorlog.h"
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
  const bool nothingFound = missing == std::vector<std::string>{C_FloorData::kFloorFile, C_FloorData::kStageFile} &&
                            pictures.size() == C_SceneManager::kEssentialPictures;
  missing.insert(missing.end(), pictures.begin(), pictures.end());
  if (nothingFound) {
    // A line per file would bury the one thing to say, and a log would
    // litter a folder that is not the game's.
    const std::size_t unread = g_ErrorLog.Discard();
    const std::string built = BuiltDataFolder();
    std::fprintf(stderr, "%s: none of its data is in %s, the folder it was started from (%zu files could not be "
                 "opened); start it from %s\n", kTitle, FullPath(".").c_str(), unread,
                 built.empty() ? "its data folder" : built.c_str());
  } else {
    g_ErrorLog.Release();
  }
  if (!missing.empty()) {
    m_bPlayable = false;
    // Where no box can be seen (headless), the line above says it all; the
    // box's stand-in would say it again over five lines.
    if (!nothingFound || GetSystemMetrics(SM_CMONITORS) > 0) ShowGameMessage(UnplayableText(missing, nothingFound));
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
  // The log is held until the start has seen whether this is the data folder
  // (OneTimeInit); whatever ends the start earlier (no display, no device) is
  // logged on the way out, unless the folder holds no stage table: what ended
  // it (the platform's line on the display) is then all that is said, and
  // nothing is left in a folder that is not the game's.
  struct HeldLog {
    HeldLog() { g_ErrorLog.Hold(); }
    ~HeldLog() {
      if (g_ErrorLog.Holding() && FolderIfItHoldsTheData(FullPath(".")).empty()) g_ErrorLog.Discard();
      g_ErrorLog.Release();
    }
  } held;
  C_GameApp app;
  // A failed start (no window, no device, data missing) must not look like a
  // normal quit.
  if (FAILED(app.Create(hInstance, nCmdShow)) || !app.IsPlayable()) return 1;
  return app.Run();
}
