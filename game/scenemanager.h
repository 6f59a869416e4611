// Owns the six scenes and draws the one of the current game state.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "game/endingscene.h"
#include "game/gameoverscene.h"
#include "game/logoscene.h"
#include "game/nameentryscene.h"
#include "game/playscene.h"
#include "game/scene.h"
#include "game/titlescene.h"

class C_SceneManager : public C_Scene {
 public:
  // Nothing to prepare: the scenes' pictures load with the device.
  void Init() {}
  // Draws nothing for a state outside 1 to 7.
  void Draw() override;

  // The pictures without which the game cannot be played (the body, the floor
  // tile, the title) that did not load; asked once the device has loaded them.
  static constexpr std::size_t kEssentialPictures = 3;
  std::vector<std::string> MissingPictures() const;

  C_PlayScene& GetPlayScene() { return m_PlayScene; }
  C_TitleScene& GetTitleScene() { return m_TitleScene; }

 private:
  C_LogoScene m_LogoScene;
  C_TitleScene m_TitleScene;
  C_PlayScene m_PlayScene;
  C_NameEntryScene m_NameEntryScene;
  C_GameOverScene m_GameOverScene;
  C_EndingScene m_EndingScene;
};
