// The game-over screen: fades from black to white and waits for a click.
#pragma once

#include <cstdint>

#include "game/statelogic.h"
#include "platform/d3d9_types.h"

class C_GameOverLogic : public C_StateLogic {
 public:
  void Init() override;
  // -3 (to the title) on a click, else 0.
  std::int32_t Update() override;

  // Opaque grey of level counter, opaque white from 256 frames on.
  D3DCOLOR GetFadeColour() const;
  std::int32_t GetCounter() const { return m_nCounter; }

 private:
  std::int32_t m_nCounter = 0;
};
