#include "game/scenemanager.h"

#include "game/gamesystem.h"

void C_SceneManager::Draw() {
  const C_GameSystem* system = g_GameObjects.system;
  if (!system) return;
  switch (system->GetState()) {
    case kStateLogo:
      m_LogoScene.Draw();
      break;
    case kStateTitle:
      m_TitleScene.Draw();
      break;
    case kStateSingleStage:
    case kStateCourse:
      m_PlayScene.Draw();
      break;
    case kStateGameOver:
      m_GameOverScene.Draw();
      break;
    case kStateEnding:
      m_EndingScene.Draw();
      break;
    case kStateNameEntry:
      m_NameEntryScene.Draw();
      break;
    default:
      break;
  }
}

std::vector<std::string> C_SceneManager::MissingPictures() const {
  std::vector<std::string> names;
  m_PlayScene.AddMissingPictures(&names);
  m_TitleScene.AddMissingPictures(&names);
  return names;
}
