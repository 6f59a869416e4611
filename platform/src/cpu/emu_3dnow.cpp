// The estimates of the emulated 3DNow! reciprocal instructions, and the test
// knob that makes them as poor as the documented accuracy allows.
#include <atomic>
#include <cmath>

#include "platform/cpu_3dnow.h"
#include "platform/testing.h"

namespace {

// 0: the model's own estimates; +1 or -1: every estimate off by +-2^-14.
std::atomic<int> g_worstCase{0};

void ResetEstimates() { g_worstCase.store(0); }
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetEstimates), true);

// The estimate of an exact positive value r: r rounded to f32 and then to
// keepBits mantissa bits, or r off by 2^-14 under the knob; flushed below the
// smallest normal float.
float Estimate(double r, int keepBits) {
  using namespace platform::cpu::emu3dnow;
  if (const int worst = g_worstCase.load(std::memory_order_relaxed)) return Out(r * (1.0 + worst * 0x1p-14));
  const std::uint32_t drop = 23 - keepBits;
  const std::uint32_t b = Bits(Out(r));
  if (b == 0) return 0.0f;
  return FromBits((b + (1u << (drop - 1))) & ~((1u << drop) - 1u));
}

}  // namespace

namespace platform::cpu {

float Emu3DNowReciprocal(float x) {
  const std::uint32_t sign = emu3dnow::Bits(x) & 0x80000000u;
  const float a = std::fabs(x);
  const float r = a == 0.0f ? emu3dnow::kMax : Estimate(1.0 / a, 14);
  return emu3dnow::FromBits(sign | emu3dnow::Bits(r));
}

float Emu3DNowReciprocalSqrt(float x) {
  const std::uint32_t sign = emu3dnow::Bits(x) & 0x80000000u;
  const float a = std::fabs(x);
  const float r = a == 0.0f ? emu3dnow::kMax : Estimate(1.0 / std::sqrt(static_cast<double>(a)), 15);
  return emu3dnow::FromBits(sign | emu3dnow::Bits(r));
}

}  // namespace platform::cpu

namespace platform::test {

void Force3DNowWorstCaseEstimates(int direction) { g_worstCase.store(direction > 0 ? 1 : direction < 0 ? -1 : 0); }

}  // namespace platform::test
