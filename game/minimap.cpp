#include "game/minimap.h"

#include "game/floordata.h"

void C_MiniMap::Setup(std::int32_t stage, std::int32_t, std::int32_t lives) {
  m_nStage = stage;
  m_nLives = lives;
  m_nFloorCount = m_pFloorData->FloorCount();
}

RECT C_MiniMap::GetFloorRect(std::int32_t n) const {
  C_FloorData& floors = *m_pFloorData;
  return RECT{floors.xLeft(n) / 12 + 500, floors.GetTop(n) / 12 + 200, floors.GetRight(n) / 12 + 500,
              floors.GetBottom(n) / 12 + 200};
}
