// The logo screen: the logo fading on black.
#pragma once

#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_LogoScene : public C_Scene {
 public:
  C_LogoScene();
  void Draw() override;

 private:
  C_QuadSprite m_Background;
  C_SpriteTexture m_Logo;
};
