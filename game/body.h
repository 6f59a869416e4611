// The player's body: the mouse sets its acceleration, its speed is capped at
// 3 px per frame, and off the floor it falls. It keeps its last 240 positions,
// which the play scene draws as a trail.
#pragma once

#include <cstdint>

#include "game/history.h"

class C_Body {
 public:
  static constexpr float kMaxSpeed = 3.0f;

  C_Body() = default;

  // Places the body at rest at (x, y) and fills the history with it.
  void Reset(std::int32_t x, std::int32_t y);
  // One frame. Steering: (ax, ay) / 1000 is added to the velocity. Falling:
  // the velocity is kept and a growing fall speed is added to y; the history
  // stays as it was.
  void Move(float ax, float ay, bool falling);

  float GetX() const { return m_fX; }
  float GetY() const { return m_fY; }
  float GetVX() const { return m_fVX; }
  float GetVY() const { return m_fVY; }
  // Set from the second falling frame on; the body is then drawn beneath the floors.
  bool IsSunk() const { return m_bSunk; }
  // The position i frames ago (0 = now).
  float GetHistoryX(std::int32_t i) const { return m_HistoryX.Get(i); }
  float GetHistoryY(std::int32_t i) const { return m_HistoryY.Get(i); }

 private:
  float m_fX = 0;
  float m_fY = 0;
  float m_fVX = 0;
  float m_fVY = 0;
  float m_fFall = 0;
  bool m_bSunk = false;
  C_History<float> m_HistoryX;
  C_History<float> m_HistoryY;
};
