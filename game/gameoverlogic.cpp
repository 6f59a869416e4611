#include "game/gameoverlogic.h"

#include "game/gameinput.h"

void C_GameOverLogic::Init() {
  m_nCounter = 0;
  m_bInitialized = true;
}

std::int32_t C_GameOverLogic::Update() {
  if (!m_bInitialized) Init();
  ++m_nCounter;
  if (GameLeftPressed()) {
    m_bInitialized = false;
    return -3;
  }
  return 0;
}

D3DCOLOR C_GameOverLogic::GetFadeColour() const {
  if (m_nCounter < 0 || m_nCounter >= 256) return 0xFFFFFFFFu;
  return 0xFF000000u + static_cast<D3DCOLOR>(m_nCounter) * 0x010101u;
}
