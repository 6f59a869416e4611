// The stage map's drawing aid: the current stage's floors scaled by 1/12 at
// (500, 200), where the play scene draws the mini map.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

class C_FloorData;

class C_MiniMap {
 public:
  explicit C_MiniMap(C_FloorData* floorData) : m_pFloorData(floorData) {}

  void Setup(std::int32_t stage, std::int32_t, std::int32_t lives);
  void Update() {}
  // Floor n: each side divided by 12 (integer division), moved to (500, 200).
  RECT GetFloorRect(std::int32_t n) const;

  std::int32_t GetStage() const { return m_nStage; }
  std::int32_t GetLives() const { return m_nLives; }
  std::int32_t GetFloorCount() const { return m_nFloorCount; }

 private:
  C_FloorData* m_pFloorData;
  std::int32_t m_nStage = 0;
  std::int32_t m_nLives = 0;
  std::int32_t m_nFloorCount = 0;
};
