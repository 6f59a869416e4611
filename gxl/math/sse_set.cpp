// The SSE set, for processors with SSE but not SSE2: this file is compiled with
// -mno-sse2 so that no SSE2 instruction can appear in it. It holds the bodies
// shared with the SSE2 set (the .inc files) and the forms of its own: the
// half-float conversion with MMX integer code, the sine and cosine kernels
// that derive their quadrant masks with general-purpose integers, and the
// kernels that only unplaced routines use.
#include <mmintrin.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "gxl/math/portable.h"
#include "gxl/math/processor_bodies.h"
#include "gxl/math/sse_common.h"
#include "gxl/math/vector.h"

namespace gxl::math::sse {
namespace {
constexpr std::uint32_t kBlockAbove = 12;  // arrays of 12 or fewer go one at a time
}  // namespace
}  // namespace gxl::math::sse

#define GXL_SSE_SET sse
#include "gxl/math/sse_set_array.inc"
#include "gxl/math/sse_set_matrix.inc"
#include "gxl/math/sse_set_vector.inc"
#undef GXL_SSE_SET

namespace gxl::math::sse {

namespace {

// The quadrant masks through a 16-byte-aligned stack area and integer registers.
void GeneralMasks(__m128 k, __m128* odd, __m128* sineFlip, __m128* cosineFlip) {
  alignas(16) std::uint32_t n[4], o[4], s[4], c[4];
  _mm_store_ps(reinterpret_cast<float*>(n), k);
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t b = n[i], bit0 = b & 1u;
    o[i] = bit0 ? ~0u : 0u;
    s[i] = ((b - bit0) & 2u) << 30;
    c[i] = ((b + bit0) & 2u) << 30;
  }
  *odd = _mm_load_ps(reinterpret_cast<const float*>(o));
  *sineFlip = _mm_load_ps(reinterpret_cast<const float*>(s));
  *cosineFlip = _mm_load_ps(reinterpret_cast<const float*>(c));
}

// The helpers take an __m64 by reference and never return one: by value the
// calling convention passes it in an SSE2 register, which this file must not
// use (an unoptimised clang build, which keeps the calls, refuses them).

// Two __m64 as the low and high halves of a register, through memory.
__m128 Join(const __m64& lo, const __m64& hi) {
  alignas(16) __m64 both[2] = {lo, hi};
  return _mm_load_ps(reinterpret_cast<const float*>(both));
}

// Four halves to four floats by the multiply rule, in MMX registers.
__m128 FourHalves(const __m64& h) {
  const __m64 zero = _mm_setzero_si64();
  const __m64 e = _mm_and_si64(h, _mm_set1_pi16(0x7C00));
  const __m64 m = _mm_and_si64(h, _mm_set1_pi16(0x03FF));
  const __m64 s = _mm_and_si64(h, _mm_set1_pi16(static_cast<short>(0x8000)));
  const __m64 M = _mm_or_si64(m, _mm_and_si64(_mm_cmpgt_pi16(e, zero), _mm_set1_pi16(0x0400)));
  const __m64 E = _mm_max_pi16(e, _mm_set1_pi16(0x0400));
  const __m64 bias = _mm_set1_pi32(0x19800);
  const __m64 lo =
      _mm_or_si64(_mm_slli_pi32(_mm_add_pi32(_mm_unpacklo_pi16(E, zero), bias), 13), _mm_unpacklo_pi16(zero, s));
  const __m64 hi =
      _mm_or_si64(_mm_slli_pi32(_mm_add_pi32(_mm_unpackhi_pi16(E, zero), bias), 13), _mm_unpackhi_pi16(zero, s));
  return _mm_mul_ps(_mm_cvtpi16_ps(M), Join(lo, hi));
}

// Four halves into an MMX value.
void LoadFourHalves(const Float16* in, __m64* h) { std::memcpy(h, in, sizeof *h); }

// The polynomial of the four-lane sine on |x| <= pi/2.
__m128 SinePoly(__m128 x) {
  const __m128 z = _mm_mul_ps(x, x);
  __m128 p = _mm_sub_ps(_mm_mul_ps(Splat(2.608e-6f), z), Splat(1.98107e-4f));
  p = _mm_add_ps(_mm_mul_ps(p, z), Splat(8.3330749e-3f));
  p = _mm_sub_ps(_mm_mul_ps(p, z), Splat(0.16666658f));
  return _mm_mul_ps(x, _mm_add_ps(_mm_mul_ps(p, z), Splat(1.0f)));
}

bool AllLanes(__m128 mask) { return _mm_movemask_ps(mask) == 15; }

// The arc sine polynomial of the arc cosine kernels: asin(x) = x P(x^2).
__m128 AsinPoly(__m128 t) {
  __m128 p = _mm_add_ps(_mm_mul_ps(t, Splat(0.042417344f)), Splat(0.023994016f));
  p = _mm_add_ps(_mm_mul_ps(t, p), Splat(0.045520633f));
  p = _mm_add_ps(_mm_mul_ps(t, p), Splat(0.074946970f));
  p = _mm_add_ps(_mm_mul_ps(t, p), Splat(0.16666782f));
  return _mm_add_ps(_mm_mul_ps(t, p), Splat(1.0f));
}

// 2 acos x of four lanes: 2 (pi/2 - x P(x^2)) for |x| <= 0.5; otherwise, with
// z = (1 - |x|)/2, 2 (2 sqrt(z) P(z)) for x > 0 and 2 (pi - 2 sqrt(z) P(z)).
__m128 TwoAcosLanes(__m128 x) {
  const __m128 ax = _mm_andnot_ps(Mask(kSign, kSign, kSign, kSign), x);
  const __m128 small =
      _mm_mul_ps(Splat(2.0f), _mm_sub_ps(Splat(1.5707964f), _mm_mul_ps(x, AsinPoly(_mm_mul_ps(x, x)))));
  const __m128 z = _mm_mul_ps(_mm_sub_ps(Splat(1.0f), ax), Splat(0.5f));
  const __m128 q = _mm_mul_ps(_mm_mul_ps(Splat(2.0f), _mm_sqrt_ps(z)), AsinPoly(z));
  const __m128 large =
      _mm_mul_ps(Splat(2.0f), Select(_mm_cmplt_ps(x, _mm_setzero_ps()), _mm_sub_ps(Splat(3.1415927f), q), q));
  return Select(_mm_cmple_ps(ax, Splat(0.5f)), small, large);
}

// The arc tangent reduction: base angles (high part, low-order correction) for
// |y|/|x| below 0.375, 0.890625, 1.75, 2.6875 and above.
constexpr double kAtanHalf = 0.46364760900080611621, kQuarterPi = 0.78539816339744830962;
constexpr double kAtanTwo = 1.10714871779409050302, kHalfPi = 1.57079632679489661923;
constexpr float kBaseHigh[5] = {0.0f, 0.46364760f, 0.78539800f, 1.10714912f, 1.57079601f};
constexpr float kBaseLow[5] = {0.0f, static_cast<float>(kAtanHalf - static_cast<double>(0.46364760f)),
                               static_cast<float>(kQuarterPi - static_cast<double>(0.78539800f)),
                               static_cast<float>(kAtanTwo - static_cast<double>(1.10714912f)),
                               static_cast<float>(kHalfPi - static_cast<double>(1.57079601f))};

}  // namespace

void SinCos4(const float* angles, float* sines, float* cosines) { SinCos4Body(angles, sines, cosines, GeneralMasks); }

__m128 SinCos1(__m128 angle) { return SinCos1Body(angle, GeneralMasks); }

// Back to front, so that the floats never overwrite halves not yet read when
// both share one buffer: first the rest one at a time, then runs of eight.
float* HalfToFloatArray(float* out, const Float16* in, std::uint32_t count) {
  const std::uint32_t head = count & ~7u;
  for (std::uint32_t i = count; i-- > head;) HalfByScale(out + i, in + i);
  if (head == 0) return out;
  for (std::uint32_t b = head; b > 0;) {
    b -= 8;
    __m64 h0, h1;
    LoadFourHalves(in + b, &h0);
    LoadFourHalves(in + b + 4, &h1);
    const __m128 v0 = FourHalves(h0), v1 = FourHalves(h1);
    StoreLow2(out + b, v0);
    StoreHigh2(out + b + 2, v0);
    StoreLow2(out + b + 4, v1);
    StoreHigh2(out + b + 6, v1);
  }
  _mm_empty();
  return out;
}

// Four sines: the polynomial directly when every |x| <= pi/2; otherwise the
// nearest multiple n of pi is taken off (pi in three parts, or in x87
// arithmetic when some |x| exceeds 10000) and odd n negates.
__m128 Sin4(__m128 x) {
  const __m128 ax = _mm_andnot_ps(Mask(kSign, kSign, kSign, kSign), x);
  if (AllLanes(_mm_cmple_ps(ax, Splat(1.5707964f)))) return SinePoly(x);
  const __m128 q = _mm_mul_ps(x, Splat(0.31830987f));
  const __m64 n01 = _mm_cvtps_pi32(q), n23 = _mm_cvtps_pi32(_mm_movehl_ps(q, q));
  const __m128 n = _mm_cvtpi32x2_ps(n01, n23);
  const __m64 one = _mm_set1_pi32(1);
  const __m128 odd = Join(_mm_slli_pi32(_mm_and_si64(n01, one), 31), _mm_slli_pi32(_mm_and_si64(n23, one), 31));
  _mm_empty();
  __m128 r;
  if (AllLanes(_mm_cmple_ps(ax, Splat(10000.0f)))) {
    r = _mm_sub_ps(x, _mm_mul_ps(n, Splat(3.1416015625f)));
    r = _mm_sub_ps(r, _mm_mul_ps(n, Splat(-8.9071691e-6f)));
    r = _mm_sub_ps(r, _mm_mul_ps(n, Splat(-1.7411032e-9f)));
  } else {
    alignas(16) float xs[4], ns[4];
    _mm_store_ps(xs, x);
    _mm_store_ps(ns, n);
    for (int i = 0; i < 4; ++i)
      xs[i] = static_cast<float>(xs[i] - static_cast<long double>(ns[i]) * 3.14159265358979323846);
    r = _mm_load_ps(xs);
  }
  return _mm_xor_ps(SinePoly(r), odd);
}

// atan2(y, x) of four lanes by reduction to |t| <= 0.375 around a base angle;
// x = 0 and non-finite operands go to the x87 arc tangent.
__m128 Atan4(const float* yp, const float* xp) {
  const __m128 y = Load4(yp), x = Load4(xp);
  const __m128 magnitude = Mask(~kSign, ~kSign, ~kSign, ~kSign);
  const __m128 ay = _mm_and_ps(y, magnitude), ax = _mm_and_ps(x, magnitude);
  const __m128 ratio = _mm_div_ps(ay, ax);
  // ratio < FLT_MAX fails for infinities and NaN; x = 0 gives one of those or NaN.
  if (!AllLanes(_mm_cmplt_ps(ratio, Splat(3.4028235e38f))) || !AllLanes(_mm_cmpgt_ps(ax, _mm_setzero_ps())) ||
      !AllLanes(_mm_cmplt_ps(ax, Splat(3.4028235e38f)))) {
    alignas(16) float out[4];
    for (int i = 0; i < 4; ++i) out[i] = static_cast<float>(std::atan2(static_cast<long double>(yp[i]), xp[i]));
    return _mm_load_ps(out);
  }
  // Per interval: t = num / den around the base angle.
  __m128 num = ratio, den = Splat(1.0f), high = _mm_setzero_ps(), low = _mm_setzero_ps();
  const float breaks[4] = {0.375f, 0.890625f, 1.75f, 2.6875f};
  const __m128 nums[4] = {_mm_sub_ps(ratio, Splat(0.5f)), _mm_sub_ps(ratio, Splat(1.0f)),
                          _mm_sub_ps(ratio, Splat(2.0f)), Splat(-1.0f)};
  const __m128 dens[4] = {_mm_add_ps(Splat(1.0f), _mm_mul_ps(ratio, Splat(0.5f))), _mm_add_ps(ratio, Splat(1.0f)),
                          _mm_add_ps(Splat(1.0f), _mm_mul_ps(ratio, Splat(2.0f))), ratio};
  for (int i = 0; i < 4; ++i) {
    const __m128 in = _mm_cmpge_ps(ratio, Splat(breaks[i]));
    num = Select(in, nums[i], num);
    den = Select(in, dens[i], den);
    high = Select(in, Splat(kBaseHigh[i + 1]), high);
    low = Select(in, Splat(kBaseLow[i + 1]), low);
  }
  const __m128 t = _mm_div_ps(num, den), z = _mm_mul_ps(t, t);
  __m128 p = _mm_add_ps(_mm_mul_ps(Splat(0.085112676f), z), Splat(-0.139974415f));
  p = _mm_add_ps(_mm_mul_ps(p, z), Splat(0.199870035f));
  p = _mm_add_ps(_mm_mul_ps(p, z), Splat(-0.333331496f));
  const __m128 atanT = _mm_add_ps(t, _mm_mul_ps(_mm_mul_ps(t, z), p));
  __m128 a = _mm_add_ps(high, _mm_add_ps(low, atanT));
  // Into the quadrant of (x, y).
  a = Select(_mm_cmplt_ps(x, _mm_setzero_ps()), _mm_sub_ps(Splat(3.14159274f), a), a);
  return _mm_xor_ps(a, _mm_and_ps(y, Mask(kSign, kSign, kSign, kSign)));
}

void TwoAcos4(const float* in, float* out) { _mm_store_ps(out, TwoAcosLanes(_mm_load_ps(in))); }

void TwoAcos1(float x, float* out) { _mm_store_ss(out, TwoAcosLanes(Splat(x))); }

}  // namespace gxl::math::sse
