// The play field's moving background, one of five patterns chosen at every
// stage start, under a black ground and with scrolling scan lines on top:
// 1 squares shrinking into the distance, 2 drifting vertical lines, 3 a grid
// that breathes, 4 two layers of falling snow, 5 squares turning and growing.
#pragma once

#include <cstdint>

#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_FieldDrawer : public C_Scene {
 public:
  static constexpr std::int32_t kModes = 5;
  static constexpr std::int32_t kLines = 10;

  C_FieldDrawer();

  void Draw() override;
  // Restarts the animation in the given pattern (1 to 5; another draws none).
  void SetMode(std::int32_t mode);

  std::int32_t GetMode() const { return m_nMode; }
  std::int32_t GetFrame() const { return m_nFrame; }
  float GetSpacing() const { return m_fSpacing; }
  float GetLinePosition(std::int32_t i) const { return m_afPosition[i]; }
  float GetLineVelocity(std::int32_t i) const { return m_afVelocity[i]; }

 private:
  void DrawShrinkingSquares();
  void DrawDriftingLines();
  void DrawBreathingGrid();
  void DrawSnow();
  void DrawTurningSquares();

  C_QuadSprite m_Ground;
  C_QuadSprite m_ScanLine;
  C_SpriteTexture m_Square;
  C_SpriteTexture m_LineVer;
  float m_afPosition[kLines] = {};
  float m_afVelocity[kLines] = {};
  C_SpriteTexture m_LineHor;
  float m_fSpacing = 50.0f;
  C_SpriteTexture m_Snow1;
  C_SpriteTexture m_Snow2;
  std::int32_t m_nFrame = 0;
  std::int32_t m_nMode = 0;
};
