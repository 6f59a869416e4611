// The name-entry screen: the entered letters in their slots, the 26 letter
// keys, the end button and a scrolling belt.
#pragma once

#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_NameEntryScene : public C_Scene {
 public:
  C_NameEntryScene();
  void Draw() override;

 private:
  C_QuadSprite m_Background;
  C_QuadSprite m_Belt;
  C_SpriteTexture m_Letters;
  C_SpriteTexture m_EndButton;
  C_SpriteTexture m_BeltPicture;
};
