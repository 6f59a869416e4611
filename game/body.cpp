#include "game/body.h"

#include <cmath>

void C_Body::Reset(std::int32_t x, std::int32_t y) {
  m_fX = static_cast<float>(x);
  m_fY = static_cast<float>(y);
  m_fVX = m_fVY = m_fFall = 0;
  m_bSunk = false;
  m_HistoryX.Fill(m_fX);
  m_HistoryY.Fill(m_fY);
}

void C_Body::Move(float ax, float ay, bool falling) {
  if (falling) {
    m_fX += m_fVX;
    m_fY += m_fVY + m_fFall;
    m_fFall += 0.75f;
    if (m_fFall > 1.0f) m_bSunk = true;
    return;
  }
  m_fVX += ax / 1000;
  m_fVY += ay / 1000;
  float speed = std::sqrt(m_fVX * m_fVX + m_fVY * m_fVY);
  if (speed > kMaxSpeed) {
    // The cap keeps the direction.
    m_fVX = static_cast<float>(m_fVX * 3.0 / speed);
    m_fVY = static_cast<float>(m_fVY * 3.0 / speed);
  }
  m_fX += m_fVX;
  m_fY += m_fVY;
  m_HistoryX.Push(m_fX);
  m_HistoryY.Push(m_fY);
}
