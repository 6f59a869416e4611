#include "game/enemy.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#include "game/gamehelpers.h"

namespace {

// One patrol step along an axis: forward by speed until origin + range, back
// until origin; the turning frames stand on the ends.
void PatrolStep(std::int32_t& pos, bool& returning, std::int32_t origin, std::int32_t range, float speed) {
  const std::int64_t end = std::int64_t{origin} + range;
  if (!returning) {
    if (pos >= end) {
      pos = static_cast<std::int32_t>(std::clamp<std::int64_t>(end, INT32_MIN, INT32_MAX));
      returning = true;
    } else {
      pos = Trunc(static_cast<float>(pos) + speed);
    }
  } else if (pos <= origin) {
    pos = origin;
    returning = false;
  } else {
    pos = Trunc(static_cast<float>(pos) - speed);
  }
}

}  // namespace

bool C_EnemyMove::HitTest(std::int32_t px, std::int32_t py) const {
  const double dx = static_cast<double>(m_nX) - px;
  const double dy = static_cast<double>(m_nY) - py;
  // Truncating a non-negative square to an integer and comparing with 625 is
  // comparing the square itself.
  return dx * dx + dy * dy < 625.0;
}

void C_EnemyMove::RecordHistory() {
  m_HistoryX.Push(m_nX);
  m_HistoryY.Push(m_nY);
}

void C_EnemyMove::FillHistory() {
  m_HistoryX.Fill(m_nX);
  m_HistoryY.Fill(m_nY);
}

C_EnemyPatrolX::C_EnemyPatrolX(std::int32_t range, std::int32_t speed, std::int32_t origin, std::int32_t y)
    : C_EnemyMove(origin, y), m_nRange(range), m_fSpeed(static_cast<float>(speed) / 10), m_nOrigin(origin) {
  FillHistory();
}

void C_EnemyPatrolX::Move(std::int32_t, std::int32_t) {
  PatrolStep(m_nX, m_bReturning, m_nOrigin, m_nRange, m_fSpeed);
  RecordHistory();
}

C_EnemyPatrolY::C_EnemyPatrolY(std::int32_t range, std::int32_t speed, std::int32_t x, std::int32_t origin)
    : C_EnemyMove(x, origin), m_nRange(range), m_fSpeed(static_cast<float>(speed) / 10), m_nOrigin(origin) {
  FillHistory();
}

void C_EnemyPatrolY::Move(std::int32_t, std::int32_t) {
  PatrolStep(m_nY, m_bReturning, m_nOrigin, m_nRange, m_fSpeed);
  RecordHistory();
}

C_EnemyCircle::C_EnemyCircle(std::int32_t radius, std::int32_t speed, std::int32_t cx, std::int32_t cy)
    : C_EnemyMove(Trunc(static_cast<double>(cx) + radius), cy),
      m_fSpeed(static_cast<float>(speed) / 100),
      m_nRadius(radius),
      m_nCenterX(cx),
      m_nCenterY(cy) {
  FillHistory();
}

void C_EnemyCircle::Move(std::int32_t, std::int32_t) {
  m_dAngle += m_fSpeed;
  m_nX = Trunc(std::cos(m_dAngle) * m_nRadius + m_nCenterX);
  m_nY = Trunc(std::sin(m_dAngle) * m_nRadius + m_nCenterY);
  RecordHistory();
}

C_EnemyHoming::C_EnemyHoming(std::int32_t x, std::int32_t y) : C_EnemyMove(x, y) { FillHistory(); }

void C_EnemyHoming::Move(std::int32_t px, std::int32_t py) {
  const std::int64_t dx = std::int64_t{px} - m_nX;
  const std::int64_t dy = std::int64_t{py} - m_nY;
  if (dx != 0) {
    // The slope is a whole number: a shallow difference gives slope 0.
    const std::int64_t slope = dy / dx;
    m_dHeading = std::atan(static_cast<double>(slope));
    if (dx < 0) m_dHeading += std::numbers::pi;
    m_nX = Trunc(2 * std::cos(m_dHeading) + m_nX);
    m_nY = Trunc(2 * std::sin(m_dHeading) + m_nY);
  } else if (dy < 1) {
    m_nY = Trunc(static_cast<double>(m_nY) - 2);
  } else {
    m_nY = Trunc(static_cast<double>(m_nY) + 2);
  }
  RecordHistory();
}

C_EnemyStill::C_EnemyStill(std::int32_t x, std::int32_t y) : C_EnemyMove(x, y) { FillHistory(); }

std::unique_ptr<C_EnemyMove> CreateEnemy(std::int32_t race, std::int32_t a, std::int32_t b, std::int32_t c,
                                         std::int32_t d) {
  switch (race) {
    case 1: return std::make_unique<C_EnemyPatrolX>(a, b, c, d);
    case 2: return std::make_unique<C_EnemyCircle>(a, b, c, d);
    case 3: return std::make_unique<C_EnemyHoming>(c, d);
    case 4: return std::make_unique<C_EnemyStill>(c, d);
    case 5: return std::make_unique<C_EnemyPatrolY>(a, b, c, d);
    default: return nullptr;
  }
}
