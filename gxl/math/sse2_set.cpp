// The SSE2 set: the SSE bodies compiled a second time in their own namespace,
// with arrays going through blocks of four from 11 elements on, plus the
// routines that use SSE2 integer instructions: the half-float conversion, the
// sine and cosine kernels, and the unplaced spherical interpolation.
#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "gxl/math/portable.h"
#include "gxl/math/processor_bodies.h"
#include "gxl/math/sse_common.h"
#include "gxl/math/vector.h"

namespace gxl::math::sse2 {
namespace {
constexpr std::uint32_t kBlockAbove = 10;  // arrays of 10 or fewer go one at a time
}  // namespace
}  // namespace gxl::math::sse2

#define GXL_SSE_SET sse2
#include "gxl/math/sse_set_array.inc"
#include "gxl/math/sse_set_matrix.inc"
#include "gxl/math/sse_set_vector.inc"
#undef GXL_SSE_SET

namespace gxl::math::sse2 {

namespace {

// The quadrant masks in registers.
void IntegerMasks(__m128 k, __m128* odd, __m128* sineFlip, __m128* cosineFlip) {
  const __m128i n = _mm_castps_si128(k), one = _mm_set1_epi32(1), two = _mm_set1_epi32(2);
  const __m128i bit0 = _mm_and_si128(n, one);
  *odd = _mm_castsi128_ps(_mm_cmpeq_epi32(bit0, one));
  *sineFlip = _mm_castsi128_ps(_mm_slli_epi32(_mm_and_si128(_mm_sub_epi32(n, bit0), two), 30));
  *cosineFlip = _mm_castsi128_ps(_mm_slli_epi32(_mm_and_si128(_mm_add_epi32(n, bit0), two), 30));
}

// Four 16-bit values of v (the low or the high half) widened to 32-bit lanes.
__m128i Widen(__m128i v, bool high) {
  return high ? _mm_unpackhi_epi16(v, _mm_setzero_si128()) : _mm_unpacklo_epi16(v, _mm_setzero_si128());
}
// The sign of four halves in place in f32 lanes (shifted left 16).
__m128i SignBits(__m128i s, bool high) {
  return high ? _mm_unpackhi_epi16(_mm_setzero_si128(), s) : _mm_unpacklo_epi16(_mm_setzero_si128(), s);
}

}  // namespace

void SinCos4(const float* angles, float* sines, float* cosines) { SinCos4Body(angles, sines, cosines, IntegerMasks); }

__m128 SinCos1(__m128 angle) { return SinCos1Body(angle, IntegerMasks); }

// Eight halves per step in one register. Without zero exponents among them the
// bits are rebiased directly; otherwise all eight take the multiply rule. Both
// give the same values. Back to front, like the SSE form, for in-place use.
float* HalfToFloatArray(float* out, const Float16* in, std::uint32_t count) {
  const std::uint32_t head = count & ~7u;
  for (std::uint32_t i = count; i-- > head;) HalfByScale(out + i, in + i);
  const __m128i zero = _mm_setzero_si128();
  for (std::uint32_t b = head; b > 0;) {
    b -= 8;
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + b));
    const __m128i e = _mm_and_si128(h, _mm_set1_epi16(0x7C00));
    const __m128i m = _mm_and_si128(h, _mm_set1_epi16(0x03FF));
    const __m128i s = _mm_and_si128(h, _mm_set1_epi16(static_cast<short>(0x8000)));
    __m128 v[2];
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(e, zero)) == 0) {
      const __m128i em = _mm_or_si128(e, m);
      for (int k = 0; k < 2; ++k) {
        const __m128i bits = _mm_slli_epi32(_mm_add_epi32(Widen(em, k), _mm_set1_epi32(0x1C000)), 13);
        v[k] = _mm_castsi128_ps(_mm_or_si128(bits, SignBits(s, k)));
      }
    } else {
      const __m128i M = _mm_or_si128(m, _mm_andnot_si128(_mm_cmpeq_epi16(e, zero), _mm_set1_epi16(0x0400)));
      const __m128i E = _mm_max_epi16(e, _mm_set1_epi16(0x0400));
      for (int k = 0; k < 2; ++k) {
        const __m128i scale = _mm_slli_epi32(_mm_add_epi32(Widen(E, k), _mm_set1_epi32(0x19800)), 13);
        v[k] = _mm_mul_ps(_mm_cvtepi32_ps(Widen(M, k)), _mm_castsi128_ps(_mm_or_si128(scale, SignBits(s, k))));
      }
    }
    StoreLow2(out + b, v[0]);
    StoreHigh2(out + b + 2, v[0]);
    StoreLow2(out + b + 4, v[1]);
    StoreHigh2(out + b + 6, v[1]);
  }
  return out;
}

// Unplaced: d = q1 . q2 in x87 arithmetic; the shorter way round; linear
// weights when d >= 0.99999988, else sin((1 - t) theta) and sin(t theta) with
// theta = atan2(sqrt(1 - d^2), d) from the four-lane kernels, both times the
// refined 1/sqrt(1 - d^2).
Quaternion* QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t) {
  const __m128 a = Load4(&q1->x), b = Load4(&q2->x);
  float d = static_cast<float>(static_cast<long double>(q1->x) * q2->x + static_cast<long double>(q1->y) * q2->y +
                               static_cast<long double>(q1->z) * q2->z + static_cast<long double>(q1->w) * q2->w);
  float sign = 1.0f;
  if (d < 0.0f) {
    d = -d;
    sign = -1.0f;
  }
  __m128 w1 = Splat(1.0f - t), w2 = Splat(t);
  if (!(d >= 0.99999988f)) {
    const __m128 s = _mm_sqrt_ss(Splat(1.0f - d * d));
    alignas(16) float ys[4], xs[4];
    _mm_store_ps(ys, Lane0(s));
    _mm_store_ps(xs, Splat(d));
    const __m128 theta = sse::Atan4(ys, xs);
    const __m128 sines = _mm_mul_ps(sse::Sin4(_mm_mul_ps(_mm_setr_ps(1.0f - t, t, 0, 0), theta)), RcpN(Lane0(s)));
    w1 = Lane0(sines);
    w2 = Lane1(sines);
  }
  w2 = _mm_mul_ps(w2, Splat(sign));
  Store4(&out->x, _mm_add_ps(_mm_mul_ps(w1, a), _mm_mul_ps(w2, b)));
  return out;
}

}  // namespace gxl::math::sse2
