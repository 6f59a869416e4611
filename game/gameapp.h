// The game's application: the frame pacer, the game system and the scene
// manager on the framework's application base. Each frame runs the game
// system once, draws the current scene and paces the frame to 60 per second;
// while the window is inactive the game neither runs nor draws.
#pragma once

#include "game/gamemessage.h"
#include "game/gamesystem.h"
#include "game/scenemanager.h"
#include "platform/win_types.h"
#include "qel/appbase/qeldxappbase.h"
#include "qel/appbase/qelframelimiter.h"

class C_GameApp : public C_DxAppBase {
 public:
  static constexpr const char* kTitle = kGameTitle;
  static constexpr DWORD kFps = 60;

  // Builds everything (the pictures load later, with the device), publishes
  // the game objects for the scenes, seeds the random numbers and reads the
  // settings.
  C_GameApp();

  // Once the pictures have loaded: checks that the game can be played (its
  // tables and what they give each stage, and the pictures of the body, the
  // floors and the title); when it cannot, one message box names what is
  // missing or damaged and where it was looked for, and E_FAIL results.
  // Otherwise the score file is made ready. Under WinMain the error log is
  // held until here: started where none of the data is, the held lines are
  // dropped (no log is left in that folder) and one line on stderr says it.
  HRESULT OneTimeInit() override;
  HRESULT UpdateFrame() override;
  HRESULT DrawFrame() override;
  // False once OneTimeInit has found the game unplayable.
  bool IsPlayable() const { return m_bPlayable; }

  C_FrameLimiter& GetFrameLimiter() { return m_FrameLimiter; }
  C_GameSystem& GetGameSystem() { return m_GameSystem; }
  C_SceneManager& GetSceneManager() { return m_SceneManager; }

 private:
  C_FrameLimiter m_FrameLimiter;
  C_GameSystem m_GameSystem;
  C_SceneManager m_SceneManager;
  bool m_bPlayable = true;
};

// The program's entry: builds the application, creates its window and device
// and runs the loop. The loop's exit code, or 1 when creation failed or the
// game cannot be played.
int WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
