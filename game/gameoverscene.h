// The game-over screen: a fade from black to white under the game-over picture.
#pragma once

#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_GameOverScene : public C_Scene {
 public:
  C_GameOverScene();
  void Draw() override;

 private:
  C_QuadSprite m_Fade;
  C_SpriteTexture m_GameOver;
};
