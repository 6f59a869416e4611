#include "game/stripsprite.h"

void C_StripSprite::SetSize(float, float, D3DCOLOR color, float z) {
  const float corners[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (int i = 0; i < 4; ++i) {
    QuadVertex& v = m_aVertex[i];
    v.x = corners[i][0] * kSize;
    v.y = corners[i][1] * kSize;
    v.z = z;
    v.rhw = 1.0f;
    v.color = color;
    v.u = corners[i][0] * kRepeats;
    v.v = corners[i][1] * kRepeats;
  }
  m_bSized = 1;
}
