// The game's random-number generator: MT19937 with the 1998 linear-congruential
// seeding. An unseeded generator seeds itself with 4357 on first use.
#pragma once

#include <cstdint>

class C_MersenneTwister {
 public:
  static constexpr int kN = 624;

  constexpr C_MersenneTwister() : m_aState{}, m_nNext(kN + 1) {}
  virtual ~C_MersenneTwister() = default;

  void Seed(std::uint32_t seed);
  std::uint32_t Next();
  // The next output modulo n; 0 without drawing an output when n is 0.
  std::uint32_t NextBelow(std::uint32_t n) { return n == 0 ? 0 : Next() % n; }
  // Seeds with the tick count.
  void SeedFromTickCount();

  // The state words, for tests that compare against other generators.
  const std::uint32_t* State() const { return m_aState; }

 private:
  void Regenerate();

  std::uint32_t m_aState[kN];
  std::int32_t m_nNext;  // kN + 1: never seeded
};

extern C_MersenneTwister g_Random;
