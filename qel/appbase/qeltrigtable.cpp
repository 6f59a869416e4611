#include "qel/appbase/qeltrigtable.h"

#include <cmath>
#include <numbers>

C_TrigTable g_TrigTable;

C_TrigTable::C_TrigTable() {
  const double pi = std::numbers::pi;
  for (int i = 0; i < kSinSteps; ++i)
    m_aSin[i] = static_cast<std::int32_t>(std::sin(i * pi / 256.0) * 65536.0);
  for (int i = 0; i < kAtanSteps; ++i)
    m_aAtan[i] = static_cast<std::int16_t>(std::atan(i / 256.0) * 32768.0 / pi);
}

std::int32_t C_TrigTable::GetWave(std::int32_t a) const {
  // Unsigned arithmetic keeps the wrap defined for any a.
  std::uint32_t index = (static_cast<std::uint32_t>(a) + 384u) & (kSinSteps - 1);
  return m_aSin[index];
}

std::int32_t C_TrigTable::GetScaledWave(std::int32_t a, std::int32_t scale) const {
  std::int64_t product = static_cast<std::int64_t>(GetWave(a)) * scale + 0x8000;
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(product >> 16));
}
