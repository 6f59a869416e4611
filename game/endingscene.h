// The ending: on a white ground, four pairs of pictures glide in and out, a
// white veil rises and the closing picture slides in over it.
#pragma once

#include "game/endinglogic.h"
#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_EndingScene : public C_Scene {
 public:
  C_EndingScene();
  void Draw() override;

 private:
  C_QuadSprite m_Background;
  C_SpriteTexture m_Character;
  // 0 to 4 are loaded but not drawn; 10 to 18 are the ending's pictures.
  C_SpriteTexture m_aPictures[C_EndingLogic::kPictureCount];
  C_QuadSprite m_Overlay;
};
