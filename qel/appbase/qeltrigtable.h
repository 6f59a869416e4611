// Fixed-point sine and arctangent tables with two wave lookups.
#pragma once

#include <cstdint>

class C_TrigTable {
 public:
  static constexpr int kSinSteps = 512;   // one full turn
  static constexpr int kAtanSteps = 256;  // slopes 0 .. 255/256

  C_TrigTable();

  // sin(i * pi / 256) in 16.16 fixed point.
  std::int32_t Sin(int i) const { return m_aSin[i & (kSinSteps - 1)]; }
  // atan(i / 256) with 32768 standing for pi.
  std::int16_t Atan(int i) const { return m_aAtan[i]; }

  // The sine a quarter turn before step a (-cos(a * pi / 256)), 16.16.
  std::int32_t GetWave(std::int32_t a) const;
  // GetWave scaled to an amplitude of scale, rounded half up.
  std::int32_t GetScaledWave(std::int32_t a, std::int32_t scale) const;

 private:
  std::int32_t m_aSin[kSinSteps];
  std::int16_t m_aAtan[kAtanSteps];
};

extern C_TrigTable g_TrigTable;
