#include "game/fielddrawer.h"

#include <cstdlib>

#include "game/gamehelpers.h"
#include "gxl/math/matrix.h"
#include "qel/appbase/qelrandom.h"
#include "qel/appbase/qeltrigtable.h"

namespace {

constexpr D3DCOLOR kBlack = 0xFF000000;
constexpr float kDegree = 0.017453292f;

}  // namespace

C_FieldDrawer::C_FieldDrawer() {
  m_Ground.SetSize(640.0f, 480.0f, kBlack, 0.0f);
  m_ScanLine.SetSize(480.0f, 1.0f, kBlack, 0.0f);
  m_Square.SetFile("cg/square.png");
  m_LineVer.SetFile("cg/Line_ver.png");
  m_LineHor.SetFile("cg/Line_hor.png");
  m_Snow1.SetFile("cg/snow1.png");
  m_Snow2.SetFile("cg/snow2.png");
}

void C_FieldDrawer::SetMode(std::int32_t mode) {
  m_nFrame = 0;
  m_nMode = mode;
  for (std::int32_t i = 0; i < kLines; ++i) m_afPosition[i] = m_afVelocity[i] = 0.0f;
  m_fSpacing = 50.0f;
}

void C_FieldDrawer::Draw() {
  m_Ground.Draw(0.0f, 0.0f);
  switch (m_nMode) {
    case 1:
      DrawShrinkingSquares();
      break;
    case 2:
      DrawDriftingLines();
      break;
    case 3:
      DrawBreathingGrid();
      break;
    case 4:
      DrawSnow();
      break;
    case 5:
      DrawTurningSquares();
      break;
    default:
      break;
  }
  const float offset = static_cast<float>(m_nFrame % 6);
  for (std::int32_t i = 0; i < 80; ++i) {
    m_ScanLine.Draw(0.0f, static_cast<float>(6 * i) + offset);
    m_ScanLine.Draw(0.0f, static_cast<float>(6 * i) + offset);
  }
  ++m_nFrame;
}

void C_FieldDrawer::DrawShrinkingSquares() {
  for (std::int32_t i = 0; i < 4; ++i) {
    const std::int32_t t = (50 * i + m_nFrame) % 200;
    const std::int32_t s = 200 - t;
    const float scale = 2.0f * static_cast<float>(s) / 512.0f + 0.21875f;
    // Fades in over the first ten steps and out over the last ten.
    const int alpha = static_cast<int>(Clamp(100 - std::abs(t - 100), 10, 0) * 255 / 10);
    m_Square.DrawScaled(static_cast<float>(t), static_cast<float>(t), scale, scale, 0.0f, 0.0f, alpha);
  }
}

void C_FieldDrawer::DrawDriftingLines() {
  for (std::int32_t i = 0; i < kLines; ++i) m_LineVer.Draw(m_afPosition[i], 0.0f);
  if (m_nFrame % 60 == 0) {
    for (std::int32_t i = 0; i < kLines; ++i) {
      // A new target somewhere from just left of the field to its right edge.
      const std::int32_t target = static_cast<std::int32_t>(g_Random.NextBelow(600)) - 60;
      m_afVelocity[i] = static_cast<float>(Clamp(target - m_afPosition[i], 200, -200) / 60);
    }
  }
  for (std::int32_t i = 0; i < kLines; ++i) m_afPosition[i] += m_afVelocity[i];
}

void C_FieldDrawer::DrawBreathingGrid() {
  static const C_TrigTable trig;
  m_fSpacing = static_cast<float>(70 + trig.GetScaledWave(3 * m_nFrame, 20));
  for (std::int32_t i = 0; i < kLines; ++i) {
    const float at = static_cast<float>(i - 5) * m_fSpacing + 252.0f;
    m_LineVer.Draw(at, 0.0f);
    m_LineHor.Draw(0.0f, at);
  }
}

void C_FieldDrawer::DrawSnow() {
  const std::int32_t f = m_nFrame;
  for (std::int32_t k : {0, 150}) m_Snow1.Draw(0.0f, static_cast<float>((f + k) % 400 * 1024 / 300 - 512));
  for (std::int32_t x : {-128, 256}) {
    for (std::int32_t k : {0, 140, 280}) {
      const float y = static_cast<float>((f + k) % 600 * 1152 / 600 - 768);
      m_Snow2.DrawScaled(static_cast<float>(x), y, 0.75f, 0.75f, 0.0f, 0.0f);
    }
  }
  for (std::int32_t x : {0, 256}) {
    for (std::int32_t k : {0, 270, 540}) {
      const float y = static_cast<float>((f + k) % 810 * 768 / 810 - 256);
      m_Snow2.DrawScaled(static_cast<float>(x), y, 0.5f, 0.5f, 0.0f, 0.0f);
    }
  }
}

void C_FieldDrawer::DrawTurningSquares() {
  for (std::int32_t i = 0; i < 3; ++i) {
    const float t = static_cast<float>((100 * i + m_nFrame) % 300) / 300.0f;
    Matrix4 toCentre, scale, turn, place, m;
    MatrixTranslation(&toCentre, -240.0f, -240.0f, 0.0f);
    MatrixScaling(&scale, 2.0f * t + 0.1f, 2.0f * t + 0.1f, 1.0f);
    MatrixRotationZ(&turn, 360.0f * t * kDegree);
    MatrixTranslation(&place, 256.0f, 256.0f, 0.0f);
    MatrixMultiply(&m, &toCentre, &scale);
    MatrixMultiply(&m, &m, &turn);
    MatrixMultiply(&m, &m, &place);
    // Fades as it grows.
    m_Square.DrawTransformed(m, static_cast<int>(255.0f * (1.0f - t)));
  }
}
