// A tiled quad: whatever size is asked for, it covers 2048 x 2048 pixels from
// the origin with texture coordinates 0 to 64, so a 32-pixel picture repeats
// across it (the quad draws with wrapping texture addresses).
#pragma once

#include "qel/appbase/qelquadsprite.h"

class C_StripSprite : public C_QuadSprite {
 public:
  static constexpr float kSize = 2048.0f;
  static constexpr float kRepeats = 64.0f;

  // Ignores width and height.
  void SetSize(float width, float height, D3DCOLOR color, float z) override;
};
