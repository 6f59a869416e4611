// The enemies: small movers of five races built from a stage's enemy entries
// (race, a, b, c, d). Each moves once per frame on integer pixels, keeps its
// last 240 positions for its trail and touches the player within 25 px.
#pragma once

#include <cstdint>
#include <memory>

#include "game/history.h"

class C_EnemyMove {
 public:
  C_EnemyMove(const C_EnemyMove&) = delete;
  C_EnemyMove& operator=(const C_EnemyMove&) = delete;

  // One frame, given the player's position truncated to integers.
  virtual void Move(std::int32_t px, std::int32_t py) = 0;
  virtual ~C_EnemyMove() = default;

  // Closer than 25 px to (px, py); exactly 25 px does not touch.
  bool HitTest(std::int32_t px, std::int32_t py) const;

  std::int32_t GetX() const { return m_nX; }
  std::int32_t GetY() const { return m_nY; }
  std::int32_t GetHistoryX(std::int32_t i) const { return m_HistoryX.Get(i); }
  std::int32_t GetHistoryY(std::int32_t i) const { return m_HistoryY.Get(i); }
  // Puts the current position in front of the history.
  void RecordHistory();

 protected:
  C_EnemyMove(std::int32_t x, std::int32_t y) : m_nX(x), m_nY(y) {}
  // Every race's constructor ends here, once its starting position is set.
  void FillHistory();

  C_History<std::int32_t> m_HistoryX;
  C_History<std::int32_t> m_HistoryY;
  std::int32_t m_nX;
  std::int32_t m_nY;
};

// Race 1: to and fro between origin and origin + range along x, speed in
// tenths of a pixel per frame.
class C_EnemyPatrolX : public C_EnemyMove {
 public:
  C_EnemyPatrolX(std::int32_t range, std::int32_t speed, std::int32_t origin, std::int32_t y);
  void Move(std::int32_t px, std::int32_t py) override;

 private:
  bool m_bReturning = false;
  std::int32_t m_nRange;
  float m_fSpeed;
  std::int32_t m_nOrigin;
};

// Race 2: round a centre, angular speed in hundredths of a radian per frame.
class C_EnemyCircle : public C_EnemyMove {
 public:
  C_EnemyCircle(std::int32_t radius, std::int32_t speed, std::int32_t cx, std::int32_t cy);
  void Move(std::int32_t px, std::int32_t py) override;

 private:
  double m_dAngle = 0;
  float m_fSpeed;
  std::int32_t m_nRadius;
  std::int32_t m_nCenterX;
  std::int32_t m_nCenterY;
};

// Race 3: 2 px per frame towards the player along a heading whose slope is a
// whole number, so it moves at 0, 45, about 63 degrees and so on.
class C_EnemyHoming : public C_EnemyMove {
 public:
  C_EnemyHoming(std::int32_t x, std::int32_t y);
  void Move(std::int32_t px, std::int32_t py) override;

 private:
  double m_dHeading = 0;
};

// Race 4: stands still.
class C_EnemyStill : public C_EnemyMove {
 public:
  C_EnemyStill(std::int32_t x, std::int32_t y);
  void Move(std::int32_t, std::int32_t) override {}
};

// Race 5: to and fro between origin and origin + range along y, moving down first.
class C_EnemyPatrolY : public C_EnemyMove {
 public:
  C_EnemyPatrolY(std::int32_t range, std::int32_t speed, std::int32_t x, std::int32_t origin);
  void Move(std::int32_t px, std::int32_t py) override;

 private:
  bool m_bReturning = false;
  std::int32_t m_nRange;
  float m_fSpeed;
  std::int32_t m_nOrigin;
};

// Races are numbered from 1 to this.
constexpr std::int32_t kLastEnemyRace = 5;

// The enemy of race (1 to 5) with its entry's values; null for another race.
std::unique_ptr<C_EnemyMove> CreateEnemy(std::int32_t race, std::int32_t a, std::int32_t b, std::int32_t c,
                                         std::int32_t d);
