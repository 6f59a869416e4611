// The numeric model of the emulated 3DNow! instructions, on edge values and
// against double-precision references.
#include "platform/cpu_3dnow.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <random>

#include "platform/testing.h"

namespace {

using E = platform::cpu::Emu3DNow;
using platform::cpu::M64;

M64 F(float a, float b) { return E::set(platform::cpu::emu3dnow::Bits(a), platform::cpu::emu3dnow::Bits(b)); }
M64 F(float a) { return F(a, a); }
std::uint32_t Bits(float f) { return platform::cpu::emu3dnow::Bits(f); }

constexpr float kDenormal = 1e-40f;
const float kInf = INFINITY, kNaN = NAN;

TEST(Emu3DNow, ArithmeticOnEdgeValues) {
  struct Row {
    const char* what;
    M64 (*op)(M64, M64);
    float a, b, want;
  };
  const Row rows[] = {
      {"a denormal reads as 0", E::pfadd, kDenormal, 0.0f, 0.0f},
      {"a negative denormal as -0", E::pfmul, -kDenormal, 5.0f, -0.0f},
      {"infinity acts as FLT_MAX", E::pfadd, kInf, -1e30f, FLT_MAX},
      {"NaN acts as FLT_MAX with its sign", E::pfmul, -kNaN, 1.0f, -FLT_MAX},
      {"underflow flushes to 0", E::pfmul, 1e-30f, 1e-10f, 0.0f},
      {"with its sign", E::pfmul, -1e-30f, 1e-10f, -0.0f},
      {"a sum below the smallest normal flushes", E::pfsub, 1.5e-38f, 1.4e-38f, 0.0f},
      {"overflow saturates", E::pfmul, 1e30f, 1e30f, FLT_MAX},
      {"negative overflow", E::pfadd, -FLT_MAX, -FLT_MAX, -FLT_MAX},
      {"round to nearest even", E::pfadd, 1.0f, 0x1p-24f, 1.0f},
      {"just above a tie rounds up", E::pfadd, 1.0f + 0x1p-23f, 0x1p-24f + 0x1p-47f, 1.0f + 0x1p-22f},
      {"subtract reversed", E::pfsubr, 1.0f, 3.0f, 2.0f},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const M64 got = r.op(F(r.a), F(r.b));
    EXPECT_EQ(Bits(got.f[0]), Bits(r.want));
    EXPECT_EQ(Bits(got.f[1]), Bits(r.want));
  }
}

TEST(Emu3DNow, ConversionsTruncateAndSaturate) {
  const float in[] = {2.7f, -2.7f, 3e9f, -3e9f, kNaN, -kInf, 2147483520.0f, -0.9f};
  const int want[] = {2, -2, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 2147483520, 0};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(E::pf2id(F(in[k], 0)).i[0], want[k]) << in[k];
  M64 i;
  i.i[0] = 16777217, i.i[1] = -3;
  const M64 f = E::pi2fd(i);
  EXPECT_EQ(f.f[0], 16777216.0f);
  EXPECT_EQ(f.f[1], -3.0f);
}

TEST(Emu3DNow, ComparisonsLaneMovesAndAccumulates) {
  EXPECT_EQ(E::pfcmpeq(F(kDenormal, 1), F(0, 1)).q, ~0ull);  // denormal equals zero
  EXPECT_EQ(E::pfcmpgt(F(2, 1), F(1, 1)).q, 0x00000000FFFFFFFFull);
  EXPECT_EQ(E::pfcmpge(F(-0.0f, 1), F(0, 2)).q, 0x00000000FFFFFFFFull);
  const M64 a = F(1, 2), b = F(10, 30);
  EXPECT_EQ(E::pfacc(a, b).f[0], 3.0f);
  EXPECT_EQ(E::pfacc(a, b).f[1], 40.0f);
  EXPECT_EQ(E::pfnacc(a, b).f[0], -1.0f);
  EXPECT_EQ(E::pfnacc(a, b).f[1], -20.0f);
  EXPECT_EQ(E::pfpnacc(a, b).f[0], -1.0f);
  EXPECT_EQ(E::pfpnacc(a, b).f[1], 40.0f);
  EXPECT_EQ(E::pswapd(a).f[0], 2.0f);
  EXPECT_EQ(E::pfmin(F(3, -kInf), F(2, 0)).f[0], 2.0f);
  EXPECT_EQ(E::pfmin(F(3, -kInf), F(2, 0)).f[1], -FLT_MAX);
  EXPECT_EQ(E::pfmax(F(3, kNaN), F(2, 0)).f[1], FLT_MAX);
  M64 bytes;
  bytes.q = 0x80FF00017F800001ull;
  EXPECT_EQ(E::pmovmskb(bytes), 0xC4);
  M64 words;
  words.i[0] = 70000, words.i[1] = -70000;
  const M64 packed = E::packssdw(words, words);
  EXPECT_EQ(packed.w[0], 32767);
  EXPECT_EQ(packed.w[1], -32768);
  EXPECT_EQ(E::psrad(words, 40).i[1], -1);
}

// The estimates keep 14 (reciprocal) and 15 (reciprocal square root) mantissa
// bits, read lane 0 and fill both lanes; one Newton-Raphson step with the
// iteration instructions then lands within 1 ulp of the exact value.
TEST(Emu3DNow, EstimatesAndOneRefinementStep) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
  std::uniform_int_distribution<int> exponent(-120, 120);
  for (int k = 0; k < 20000; ++k) {
    const float x = std::ldexp(mantissa(gen), exponent(gen)) * (k & 1 ? -1.0f : 1.0f);
    const M64 v = F(x, 5.0f);
    const M64 r = E::pfrcp(v), s = E::pfrsqrt(v);
    ASSERT_EQ(r.q >> 32, r.q & 0xFFFFFFFFu);
    ASSERT_EQ(Bits(r.f[0]) & 0x1FFu, 0u) << x;
    ASSERT_EQ(Bits(s.f[0]) & 0xFFu, 0u) << x;
    const double exact = 1.0 / x, exactRoot = 1.0 / std::sqrt(std::fabs(static_cast<double>(x)));
    ASSERT_LE(std::fabs(r.f[0] / exact - 1), 0x1p-15) << x;
    ASSERT_LE(std::fabs(std::fabs(s.f[0]) / exactRoot - 1), 0x1p-16) << x;
    ASSERT_EQ(std::signbit(s.f[0]), std::signbit(x));
    const float refined = E::pfrcpit2(E::pfrcpit1(v, r), r).f[0];
    const M64 magnitude = F(std::fabs(x)), root = E::pfrsqrt(magnitude);
    const float refinedRoot = E::pfrcpit2(E::pfrsqit1(E::pfmul(root, root), magnitude), root).f[0];
    ASSERT_LE(std::fabs(refined - static_cast<float>(exact)), std::ldexp(1.0, std::ilogb(refined) - 23)) << x;
    ASSERT_LE(std::fabs(refinedRoot - static_cast<float>(exactRoot)), std::ldexp(1.0, std::ilogb(refinedRoot) - 23))
        << x;
  }
  EXPECT_EQ(E::pfrcp(F(0.0f)).f[0], FLT_MAX);
  EXPECT_EQ(E::pfrcp(F(-kDenormal)).f[0], -FLT_MAX);
  EXPECT_EQ(E::pfrsqrt(F(0.0f)).f[0], FLT_MAX);
  EXPECT_EQ(Bits(E::pfrcp(F(-3e38f)).f[0]), Bits(-0.0f));  // |1/x| below the smallest normal
}

// The knob moves every estimate by 2^-14 of the exact value: an unrefined
// result then misses a 2^-21 tolerance, a refined one still meets it.
TEST(Emu3DNow, WorstCaseEstimatesShowAMissingRefinement) {
  for (int direction : {1, -1}) {
    platform::test::Force3DNowWorstCaseEstimates(direction);
    for (float x : {1.0f, 3.0f, 0.7f, 1e-20f, 4e20f}) {
      const M64 v = F(x), r = E::pfrcp(v), s = E::pfrsqrt(v);
      EXPECT_NEAR(r.f[0] * static_cast<double>(x), 1 + direction * 0x1p-14, 0x1p-23) << x;
      EXPECT_GT(std::fabs(s.f[0] * std::sqrt(static_cast<double>(x)) - 1), 0x1p-21) << x;
      EXPECT_LE(std::fabs(E::pfrcpit2(E::pfrcpit1(v, r), r).f[0] * static_cast<double>(x) - 1), 0x1p-21) << x;
      const float root = E::pfrcpit2(E::pfrsqit1(E::pfmul(s, s), v), s).f[0];
      EXPECT_LE(std::fabs(root * std::sqrt(static_cast<double>(x)) - 1), 0x1p-21) << x;
    }
  }
  platform::test::ResetAll();
  EXPECT_EQ(E::pfrcp(F(1.0f)).f[0], 1.0f);
}

}  // namespace
