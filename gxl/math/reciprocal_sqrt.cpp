#include "gxl/math/reciprocal_sqrt.h"

#include <cstdint>
#include <cstring>

namespace {

// sqrt(a) for a in [0.5, 2] by Newton's iteration from 1, usable at compile
// time with any compiler (std::sqrt is not constexpr everywhere). Converges
// to within an ulp of the double result after a handful of steps.
constexpr double NewtonSqrt(double a) {
  double x = 1.0;
  for (int i = 0; i < 8; ++i) x = 0.5 * (x + a / x);
  return x;
}

// d rounded to nearest with 15 significant bits.
constexpr double RoundTo15Bits(double d) {
  const double a = d < 0 ? -d : d;
  double top = 1.0;  // a lies in [top, 2 top)
  while (a >= 2 * top) top *= 2;
  while (a < top) top /= 2;
  const double unit = top / 16384.0;
  const double q = static_cast<double>(static_cast<std::int64_t>(a / unit + 0.5)) * unit;
  return d < 0 ? -q : q;
}

// The line through 1/sqrt at both ends of segment i, its slope rounded to 15
// bits and its intercept chosen so that it still meets the left end.
constexpr ReciprocalSqrtPair MakePair(int i) {
  const double a = i < 256 ? 0.5 + i / 512.0 : 1.0 + (i - 256) / 256.0;
  const double w = i < 256 ? 1.0 / 512.0 : 1.0 / 256.0;
  const double fa = 1.0 / NewtonSqrt(a);
  const double fb = 1.0 / NewtonSqrt(a + w);
  const double slope = RoundTo15Bits((fb - fa) / w);
  return {static_cast<float>(slope), static_cast<float>(fa - slope * a)};
}

constexpr ReciprocalSqrtPairs MakeTable() {
  ReciprocalSqrtPairs t{};
  for (int i = 0; i < 512; ++i) t.pair[i] = MakePair(i);
  return t;
}

}  // namespace

constexpr ReciprocalSqrtPairs ReciprocalSqrtTable = MakeTable();

float FastReciprocalSqrt(float x) {
  std::uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  // The lowest exponent bit and the top 8 mantissa bits pick the segment; the
  // mantissa with exponent -1 or 0 lies in that segment's half of [0.5, 2).
  const ReciprocalSqrtPair& p = ReciprocalSqrtTable.pair[(b >> 15) & 0x1FFu];
  const std::uint32_t mb = (b & 0xFFFFFFu) | 0x3F000000u;
  float m;
  std::memcpy(&m, &mb, sizeof m);
  const float r = m * p.slope + p.intercept;
  // A power of two that halves the unbiased exponent and negates it.
  const std::uint32_t sb = ((0xBEFFFFFFu - b) >> 24) << 23;
  float scale;
  std::memcpy(&scale, &sb, sizeof scale);
  return r * scale;
}
