#include "qel/appbase/qelrandom.h"

#include "platform/mm_timer.h"

C_MersenneTwister g_Random;

namespace {
constexpr int kM = 397;
constexpr std::uint32_t kMatrix = 0x9908B0DFu;
constexpr std::uint32_t kUpper = 0x80000000u;
constexpr std::uint32_t kLower = 0x7FFFFFFFu;
constexpr std::uint32_t kDefaultSeed = 4357;
}  // namespace

void C_MersenneTwister::Seed(std::uint32_t seed) {
  std::uint32_t s = seed;
  for (int i = 0; i < kN; ++i) {
    std::uint32_t word = s & 0xFFFF0000u;
    s = 69069u * s + 1u;
    m_aState[i] = word | (s >> 16);
    s = 69069u * s + 1u;
  }
  m_nNext = kN;
}

void C_MersenneTwister::SeedFromTickCount() { Seed(GetTickCount()); }

void C_MersenneTwister::Regenerate() {
  for (int i = 0; i < kN; ++i) {
    std::uint32_t y = (m_aState[i] & kUpper) | (m_aState[(i + 1) % kN] & kLower);
    m_aState[i] = m_aState[(i + kM) % kN] ^ (y >> 1) ^ ((y & 1u) ? kMatrix : 0u);
  }
  m_nNext = 0;
}

std::uint32_t C_MersenneTwister::Next() {
  if (m_nNext >= kN) {
    if (m_nNext == kN + 1) Seed(kDefaultSeed);
    Regenerate();
  }
  std::uint32_t y = m_aState[m_nNext++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}
