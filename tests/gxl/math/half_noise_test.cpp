// Half-float conversions (against g++'s _Float16 and plain arithmetic) and noise.
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "math_test_util.h"

namespace {

float HalfToFloat(std::uint16_t h) {
  const Float16 in{h};
  float out;
  HalfToFloatArray(&out, &in, 1);
  return out;
}

std::uint16_t FloatToHalf(float f) {
  Float16 out{0xDEAD};
  FloatToHalfArray(&out, &f, 1);
  return out.bits;
}

// The value of a half with exponent 31 read as an ordinary exponent.
double HalfValue(std::uint16_t h) {
  const int e = (h >> 10) & 31, m = h & 0x3FF;
  const double v = e ? std::ldexp(1024.0 + m, e - 25) : std::ldexp(static_cast<double>(m), -24);
  return (h & 0x8000) ? -v : v;
}

// Nearest half to a non-negative finite x, ties to the even pattern, saturating
// at 0x7FFF from 131040 (the midpoint past the largest value) up.
std::uint16_t ReferenceHalf(double x) {
  if (x >= 131040.0) return 0x7FFF;
  std::uint16_t lo = 0, hi = 0x7FFF;
  while (hi - lo > 1) {
    const std::uint16_t mid = static_cast<std::uint16_t>((lo + hi) / 2);
    (HalfValue(mid) <= x ? lo : hi) = mid;
  }
  const double dl = x - HalfValue(lo), dh = HalfValue(hi) - x;
  if (dl < dh) return lo;
  if (dh < dl) return hi;
  return (lo & 1) ? hi : lo;
}

TEST(MathHalf, EdgeValues) {
  EXPECT_EQ(FloatToHalf(1.0f), 0x3C00);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7BFF);
  EXPECT_EQ(FloatToHalf(65536.0f), 0x7C00);  // exponent 31 is a finite value
  EXPECT_EQ(FloatToHalf(131008.0f), 0x7FFF);
  EXPECT_EQ(FloatToHalf(1e9f), 0x7FFF);
  EXPECT_EQ(FloatToHalf(std::numeric_limits<float>::infinity()), 0x7FFF);
  EXPECT_EQ(FloatToHalf(-std::numeric_limits<float>::infinity()), 0xFFFF);
  EXPECT_EQ(FloatToHalf(std::numeric_limits<float>::quiet_NaN()), 0x7FFF);
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -24)), 0x0001);
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -26)), 0x0000);
  EXPECT_EQ(FloatToHalf(-0.0f), 0x8000);
  EXPECT_EQ(FloatToHalf(70000.0f) >> 10, 31);

  EXPECT_EQ(HalfToFloat(0x7C00), 65536.0f);
  EXPECT_EQ(HalfToFloat(0x7FFF), 131008.0f);
  EXPECT_EQ(HalfToFloat(0x0001), std::ldexp(1.0f, -24));
  EXPECT_TRUE(std::signbit(HalfToFloat(0x8000)) && HalfToFloat(0x8000) == 0.0f);
}

TEST(MathHalf, EveryHalfRoundTrips) {
  std::vector<Float16> halves(65536), back(65536);
  std::vector<float> floats(65536);
  for (int h = 0; h < 65536; ++h) halves[h].bits = static_cast<std::uint16_t>(h);
  HalfToFloatArray(floats.data(), halves.data(), 65536);
  FloatToHalfArray(back.data(), floats.data(), 65536);
  for (int h = 0; h < 65536; ++h) {
    ASSERT_EQ(back[h].bits, h);
    ASSERT_EQ(static_cast<double>(floats[h]), HalfValue(static_cast<std::uint16_t>(h))) << h;
  }
}

// Floats just around every half and every midpoint between neighbours, and a
// strided sweep over all bit patterns.
std::vector<std::uint32_t> InterestingFloatBits() {
  std::vector<std::uint32_t> bits;
  for (std::uint32_t h = 0; h < 0x7FFF; ++h) {
    const double mid = (HalfValue(static_cast<std::uint16_t>(h)) + HalfValue(static_cast<std::uint16_t>(h + 1))) / 2;
    const std::uint32_t m = std::bit_cast<std::uint32_t>(static_cast<float>(mid));
    const std::uint32_t v = std::bit_cast<std::uint32_t>(static_cast<float>(HalfValue(static_cast<std::uint16_t>(h))));
    for (std::uint32_t d : {m - 1, m, m + 1, v, v + 1}) bits.push_back(d);
  }
  for (std::uint64_t b = 0; b < 0x7F800000u; b += 9973) bits.push_back(static_cast<std::uint32_t>(b));
  return bits;
}

TEST(MathHalf, RoundingMatchesCompilerHalvesBelow65520) {
#ifndef __FLT16_MAX__
  GTEST_SKIP() << "this compiler has no _Float16 arithmetic type on this target";
#else
  for (std::uint32_t b : InterestingFloatBits()) {
    for (std::uint32_t sign : {0u, 0x80000000u}) {
      const float f = std::bit_cast<float>(b | sign);
      if (!(std::fabs(f) < 65520.0f)) continue;
      const _Float16 expected = static_cast<_Float16>(f);
      ASSERT_EQ(FloatToHalf(f), std::bit_cast<std::uint16_t>(expected)) << f;
    }
  }
#endif
}

TEST(MathHalf, RoundingMatchesArithmeticWithExponent31) {
  for (std::uint32_t b : InterestingFloatBits()) {
    const float f = std::bit_cast<float>(b);
    ASSERT_EQ(FloatToHalf(f), ReferenceHalf(f)) << f;
    ASSERT_EQ(FloatToHalf(-f), ReferenceHalf(f) | 0x8000) << f;
  }
  EXPECT_EQ(FloatToHalf(131039.99f), 0x7FFF);
  EXPECT_EQ(FloatToHalf(65520.0f), 0x7C00);  // the tie goes to the even pattern
}

TEST(MathHalf, ArraysAndInPlaceUse) {
  std::vector<float> f = {1.0f, -2.5f, 0.0f, 65504.0f, 1e-5f};
  struct Five {
    Float16 h[5];
  };
  mathtest::Guarded<Five> halves;
  FloatToHalfArray(halves.ptr()->h, f.data(), 5);
  EXPECT_TRUE(halves.Intact());
  std::uint16_t expect[5];
  for (int i = 0; i < 5; ++i) expect[i] = static_cast<std::uint16_t>(FloatToHalf(f[i]));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(halves.value().h[i].bits, expect[i]);
  mathtest::Guarded<Five> untouched;
  FloatToHalfArray(untouched.ptr()->h, f.data(), 0);
  EXPECT_TRUE(untouched.Untouched());
  mathtest::Guarded<float> back;
  EXPECT_EQ(HalfToFloatArray(back.ptr(), halves.ptr()->h, 1), back.ptr());
  EXPECT_EQ(back.value(), 1.0f);
  EXPECT_TRUE(back.Intact());

  // The same buffer as both the floats and the halves, either way round.
  std::vector<float> buffer = f;
  auto* asHalves = reinterpret_cast<Float16*>(buffer.data());
  FloatToHalfArray(asHalves, buffer.data(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(asHalves[i].bits, expect[i]);
  HalfToFloatArray(buffer.data(), asHalves, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(buffer[i], HalfToFloat(expect[i]));
}

TEST(MathNoise, LatticeZerosRangeAndSafety) {
  mathtest::Rng rng(1);
  for (int i = 0; i < 200; ++i) {
    const Vec3 p(std::round(rng.Uniform(-300, 300)), std::round(rng.Uniform(-300, 300)),
                 std::round(rng.Uniform(-300, 300)));
    EXPECT_EQ(Noise3(&p), 0.0f);
  }
  float lo = 0, hi = 0;
  for (int i = 0; i < 5000; ++i) {
    const Vec3 p = rng.V3(50);
    const float n = Noise3(&p);
    lo = std::fmin(lo, n), hi = std::fmax(hi, n);
    // Continuous: a tiny step changes it a little.
    const Vec3 q(p.x + 1e-3f, p.y, p.z);
    EXPECT_NEAR(Noise3(&q), n, 0.01f);
  }
  EXPECT_LT(lo, -0.3f);
  EXPECT_GT(hi, 0.3f);
  EXPECT_GE(lo, -2.0f);
  EXPECT_LE(hi, 2.0f);
  // Periodic over 256 cells.
  const Vec3 a(0.3f, 1.7f, 2.2f), b(256.3f, 1.7f, 2.2f);
  EXPECT_NEAR(Noise3(&a), Noise3(&b), 5e-3f);

  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const Vec3 bad[] = {{nan, 0, 0}, {0, inf, 0}, {0, 0, -inf}};
  for (const Vec3& p : bad) EXPECT_TRUE(std::isnan(Noise3(&p)));
  const Vec3 huge(1e30f, -1e30f, 3e38f);
  EXPECT_EQ(Noise3(&huge), 0.0f);

  EXPECT_EQ(NoisePermutation[2], 109u);
  for (int i = 0; i < 256; ++i) {
    EXPECT_LT(NoisePermutation[i], 256u);
    EXPECT_EQ(NoisePermutation[i], NoisePermutation[i + 256]);
  }
}

}  // namespace
