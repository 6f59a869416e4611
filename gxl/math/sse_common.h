// Register helpers of the SSE and SSE2 bodies. Only the processor-specific
// source files include this header, each compiled for its own instruction set;
// the helpers stay in an anonymous namespace so that every file keeps its own
// copies (the linker could otherwise merge an inline helper compiled for SSE2
// into the SSE set).
#pragma once

#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

#include "gxl/math/records.h"

namespace {

// Lane selectors: lanes (a, b, c, d) of v, lane 0 first.
#define GXL_LANES(v, a, b, c, d) _mm_shuffle_ps((v), (v), _MM_SHUFFLE(d, c, b, a))

inline __m128 Splat(float f) { return _mm_set1_ps(f); }
inline __m128 Lane0(__m128 v) { return GXL_LANES(v, 0, 0, 0, 0); }
inline __m128 Lane1(__m128 v) { return GXL_LANES(v, 1, 1, 1, 1); }
inline __m128 Lane2(__m128 v) { return GXL_LANES(v, 2, 2, 2, 2); }
inline __m128 Lane3(__m128 v) { return GXL_LANES(v, 3, 3, 3, 3); }

// A vector of four 32-bit masks.
inline __m128 Mask(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  union {
    std::uint32_t u[4];
    __m128 v;
  } m = {{a, b, c, d}};
  return m.v;
}
constexpr std::uint32_t kSign = 0x80000000u;

// The sum of the four lanes, in every lane.
inline __m128 SumLanes(__m128 v) {
  const __m128 t = _mm_add_ps(v, _mm_movehl_ps(v, v));  // (0+2, 1+3, ...)
  return Lane0(_mm_add_ps(t, GXL_LANES(t, 1, 1, 1, 1)));
}
inline __m128 Dot4(__m128 a, __m128 b) { return SumLanes(_mm_mul_ps(a, b)); }

// The refined reciprocal square root: one Newton-Raphson step on the
// processor's estimate, 0.5 r0 (3 - x r0 r0). x = 0 gives not-a-number.
inline __m128 RsqrtN(__m128 x) {
  const __m128 r0 = _mm_rsqrt_ps(x);
  const __m128 t = _mm_sub_ps(Splat(3.0f), _mm_mul_ps(_mm_mul_ps(x, r0), r0));
  return _mm_mul_ps(_mm_mul_ps(Splat(0.5f), r0), t);
}
// The refined reciprocal: (r0 + r0) - x r0 r0. x = 0 gives not-a-number.
inline __m128 RcpN(__m128 x) {
  const __m128 r0 = _mm_rcp_ps(x);
  return _mm_sub_ps(_mm_add_ps(r0, r0), _mm_mul_ps(_mm_mul_ps(x, r0), r0));
}

// Records never need more than 4-byte alignment; 8-byte halves go through the
// __m64 forms of the loads and stores.
inline const __m64* Half(const float* p) { return reinterpret_cast<const __m64*>(p); }
inline __m64* Half(float* p) { return reinterpret_cast<__m64*>(p); }

inline __m128 Load4(const float* p) { return _mm_loadu_ps(p); }
inline void Store4(float* p, __m128 v) { _mm_storeu_ps(p, v); }
// (x, y, 0, 0) and (0, 0, x, y).
inline __m128 LoadLow2(const float* p) { return _mm_loadl_pi(_mm_setzero_ps(), Half(p)); }
inline __m128 LoadHigh2(const float* p) { return _mm_loadh_pi(_mm_setzero_ps(), Half(p)); }
inline void StoreLow2(float* p, __m128 v) { _mm_storel_pi(Half(p), v); }
inline void StoreHigh2(float* p, __m128 v) { _mm_storeh_pi(Half(p), v); }

// A Vec3 as (z, 0, x, y): a 4-byte load of z clears the other lanes, then
// (x, y) goes into lanes 2 and 3. Never read or written past its 12 bytes.
inline __m128 LoadZ0XY(const Vec3* v) { return _mm_loadh_pi(_mm_load_ss(&v->z), Half(&v->x)); }
inline void StoreZ0XY(Vec3* out, __m128 v) {
  StoreHigh2(&out->x, v);
  _mm_store_ss(&out->z, v);
}
// A Vec3 as (x, y, z, 0).
inline __m128 LoadXYZ0(const float* p) { return _mm_movelh_ps(LoadLow2(p), _mm_load_ss(p + 2)); }
// Stores lanes 0 to 2 as a Vec3.
inline void StoreXYZ(float* p, __m128 v) {
  StoreLow2(p, v);
  _mm_store_ss(p + 2, _mm_movehl_ps(v, v));
}

// The rows of a matrix: aligned loads when the matrix is 16-byte aligned, else
// 8-byte halves; the values are the same either way.
struct Rows {
  __m128 r[4];
};
inline Rows LoadRowsTested(const Matrix4* m) {
  Rows rows;
  const float* p = &m->m[0][0];
  if ((reinterpret_cast<std::uintptr_t>(p) & 15) == 0) {
    for (int i = 0; i < 4; ++i) rows.r[i] = _mm_load_ps(p + 4 * i);
  } else {
    for (int i = 0; i < 4; ++i) rows.r[i] = _mm_loadh_pi(LoadLow2(p + 4 * i), Half(p + 4 * i + 2));
  }
  return rows;
}
inline Rows LoadRows(const Matrix4* m) {
  Rows rows;
  for (int i = 0; i < 4; ++i) rows.r[i] = Load4(m->m[i]);
  return rows;
}

// The 4-dimensional cross product by lane rotations. With a = j+1, b = j+2,
// c = j+3 (mod 4), lane j of the cyclic expansion is
// u_a P(b, c) + u_b P(c, a) + u_c P(a, b), P the 2x2 minors of v and w; lanes y
// and w then change sign. x . Cross4(u, v, w) = det[x; u; v; w].
#define GXL_R1(v) GXL_LANES(v, 1, 2, 3, 0)
#define GXL_R2(v) GXL_LANES(v, 2, 3, 0, 1)
#define GXL_R3(v) GXL_LANES(v, 3, 0, 1, 2)
struct PairMinors {
  __m128 bc, ca, ab;
};
inline PairMinors MinorsOf(__m128 v, __m128 w) {
  const __m128 v1 = GXL_R1(v), v2 = GXL_R2(v), v3 = GXL_R3(v);
  const __m128 w1 = GXL_R1(w), w2 = GXL_R2(w), w3 = GXL_R3(w);
  return {_mm_sub_ps(_mm_mul_ps(v2, w3), _mm_mul_ps(v3, w2)), _mm_sub_ps(_mm_mul_ps(v3, w1), _mm_mul_ps(v1, w3)),
          _mm_sub_ps(_mm_mul_ps(v1, w2), _mm_mul_ps(v2, w1))};
}
inline __m128 Expand(__m128 u, const PairMinors& p) {
  __m128 d = _mm_add_ps(_mm_mul_ps(GXL_R1(u), p.bc), _mm_mul_ps(GXL_R2(u), p.ca));
  d = _mm_add_ps(d, _mm_mul_ps(GXL_R3(u), p.ab));
  return _mm_xor_ps(d, Mask(0, kSign, 0, kSign));
}
inline __m128 Cross4(__m128 u, __m128 v, __m128 w) { return Expand(u, MinorsOf(v, w)); }
inline __m128 Negate(__m128 v) { return _mm_xor_ps(v, Mask(kSign, kSign, kSign, kSign)); }

// The polynomials and reduction shared by both forms of the sine and cosine
// kernels. v = |a|; kf = the nearest integer to v 2/pi, as a float.
constexpr float kTwoOverPi = 0.63661975f;
constexpr float kRoundShift = 8388608.0f;  // 2^23
inline __m128 RoundedQuadrant(__m128 v) { return _mm_add_ps(_mm_mul_ps(v, Splat(kTwoOverPi)), Splat(kRoundShift)); }
// v - kf pi/2, with pi/2 in four parts.
inline __m128 ReduceQuadrant(__m128 v, __m128 kf) {
  v = _mm_sub_ps(v, _mm_mul_ps(kf, Splat(1.5703125f)));
  v = _mm_sub_ps(v, _mm_mul_ps(kf, Splat(4.8375130e-4f)));
  v = _mm_sub_ps(v, _mm_mul_ps(kf, Splat(7.5495336e-8f)));
  return _mm_sub_ps(v, _mm_mul_ps(kf, Splat(2.5633441e-12f)));
}
// sin r and cos r on the reduced range.
inline __m128 SinPoly(__m128 r, __m128 z) {
  __m128 p = _mm_add_ps(_mm_mul_ps(Splat(-1.9515282e-4f), z), Splat(8.3321603e-3f));
  p = _mm_sub_ps(_mm_mul_ps(p, z), Splat(0.16666655f));
  return _mm_mul_ps(r, _mm_add_ps(_mm_mul_ps(p, z), Splat(1.0f)));
}
inline __m128 CosPoly(__m128 z) {
  __m128 p = _mm_sub_ps(_mm_mul_ps(Splat(2.4433157e-5f), z), Splat(1.3887316e-3f));
  p = _mm_add_ps(_mm_mul_ps(p, z), Splat(0.041666646f));
  p = _mm_sub_ps(_mm_mul_ps(p, z), Splat(0.5f));
  return _mm_add_ps(_mm_mul_ps(p, z), Splat(1.0f));
}
// Picks a where the mask is set, else b.
inline __m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }
// The sine and cosine of four lanes from the quadrant masks: odd (all ones
// where n is odd), sineFlip and cosineFlip (the sign bit where that result
// changes sign), sx the sign bits of the angles.
inline void FinishSinCos(__m128 S, __m128 C, __m128 odd, __m128 sineFlip, __m128 cosineFlip, __m128 sx, __m128* sine,
                         __m128* cosine) {
  *sine = _mm_xor_ps(_mm_xor_ps(Select(odd, C, S), sineFlip), sx);
  *cosine = _mm_xor_ps(Select(odd, S, C), cosineFlip);
}

// SinCos4 of both forms. masks(k, &odd, &sineFlip, &cosineFlip) derives the
// quadrant masks from k = |a| 2/pi + 2^23, whose low 23 bits hold n: odd where
// bit 0 of n is set, the sign bit where bit 1 of n - (n & 1), or of n + (n & 1),
// is set.
template <typename Masks>
void SinCos4Body(const float* angles, float* sines, float* cosines, Masks masks) {
  const __m128 a = _mm_load_ps(angles);
  const __m128 sx = _mm_and_ps(a, Mask(kSign, kSign, kSign, kSign));
  const __m128 v = _mm_andnot_ps(Mask(kSign, kSign, kSign, kSign), a);
  const __m128 k = RoundedQuadrant(v);
  const __m128 r = ReduceQuadrant(v, _mm_sub_ps(k, Splat(kRoundShift)));
  const __m128 z = _mm_mul_ps(r, r);
  __m128 odd, sineFlip, cosineFlip, s, c;
  masks(k, &odd, &sineFlip, &cosineFlip);
  FinishSinCos(SinPoly(r, z), CosPoly(z), odd, sineFlip, cosineFlip, sx, &s, &c);
  _mm_store_ps(sines, s);
  _mm_store_ps(cosines, c);
}

// SinCos1 of both forms: one angle in every lane, (cos, sin, cos, sin) out.
// The four parts of pi/2 are multiplied at once and subtracted while rotating,
// so that lane 0 takes them largest first, as SinCos4 does; its result then
// serves every lane. S and C are evaluated side by side from paired
// coefficients.
template <typename Masks>
__m128 SinCos1Body(__m128 a, Masks masks) {
  const __m128 sx = _mm_and_ps(a, Mask(kSign, kSign, kSign, kSign));
  const __m128 v = _mm_andnot_ps(Mask(kSign, kSign, kSign, kSign), a);
  const __m128 k = RoundedQuadrant(v);
  __m128 parts = _mm_mul_ps(_mm_sub_ps(k, Splat(kRoundShift)),
                            _mm_setr_ps(1.5703125f, 4.8375130e-4f, 7.5495336e-8f, 2.5633441e-12f));
  __m128 r = v;
  for (int i = 0; i < 4; ++i) {
    r = _mm_sub_ps(r, parts);
    parts = GXL_R1(parts);
  }
  r = Lane0(r);
  const __m128 z = _mm_mul_ps(r, r);
  __m128 p = _mm_setr_ps(-1.9515282e-4f, 2.4433157e-5f, -1.9515282e-4f, 2.4433157e-5f);
  p = _mm_add_ps(_mm_mul_ps(p, z), _mm_setr_ps(8.3321603e-3f, -1.3887316e-3f, 8.3321603e-3f, -1.3887316e-3f));
  p = _mm_add_ps(_mm_mul_ps(p, z), _mm_setr_ps(-0.16666655f, 0.041666646f, -0.16666655f, 0.041666646f));
  p = _mm_add_ps(_mm_mul_ps(p, z), _mm_setr_ps(1.0f, -0.5f, 1.0f, -0.5f));
  const __m128 sc = _mm_add_ps(_mm_mul_ps(p, _mm_unpacklo_ps(r, z)), _mm_setr_ps(0, 1, 0, 1));  // (S, C, S, C)
  __m128 odd, sineFlip, cosineFlip;
  masks(k, &odd, &sineFlip, &cosineFlip);
  const __m128 flips = _mm_unpacklo_ps(cosineFlip, _mm_xor_ps(sineFlip, sx));
  return _mm_xor_ps(Select(odd, sc, GXL_LANES(sc, 1, 0, 1, 0)), flips);
}

// Strided blocks of four elements, shared by the array bodies of the SSE sets
// and of the 3DNow! path.

// Vector k = element k of m (row by row) in all four lanes.
__m128* SplatMatrix(__m128* block, const Matrix4* m) {
  const float* e = &m->m[0][0];
  for (int k = 0; k < 16; ++k) block[k] = _mm_load1_ps(e + k);
  return block;
}

enum class Form { Transform, Point, Direction };

// Four elements of N components at p, p + stride, ... gathered into one
// register per component. Each element is read as 8-byte halves and a 4-byte
// scalar (or 16 bytes for N = 4), never past its end.
template <int N>
void LoadBlock(const unsigned char* p, std::size_t stride, __m128 c[4]) {
  const float* e[4];
  for (int i = 0; i < 4; ++i) e[i] = reinterpret_cast<const float*>(p + i * stride);
  if constexpr (N == 4) {
    for (int i = 0; i < 4; ++i) c[i] = Load4(e[i]);
    _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
  } else {
    const __m128 a = _mm_loadh_pi(LoadLow2(e[0]), Half(e[1]));  // x0 y0 x1 y1
    const __m128 b = _mm_loadh_pi(LoadLow2(e[2]), Half(e[3]));  // x2 y2 x3 y3
    c[0] = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    c[1] = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    if constexpr (N == 3) {
      const __m128 z01 = _mm_unpacklo_ps(_mm_load_ss(e[0] + 2), _mm_load_ss(e[1] + 2));
      const __m128 z23 = _mm_unpacklo_ps(_mm_load_ss(e[2] + 2), _mm_load_ss(e[3] + 2));
      c[2] = _mm_movelh_ps(z01, z23);
    }
  }
}

// The inverse of LoadBlock for results of N components; elements before
// `first` are left alone.
template <int N>
void StoreBlock(unsigned char* p, std::size_t stride, __m128 c[4], int first = 0) {
  float* e[4];
  for (int i = 0; i < 4; ++i) e[i] = reinterpret_cast<float*>(p + i * stride);
  if constexpr (N == 4) {
    _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
    for (int i = first; i < 4; ++i) Store4(e[i], c[i]);
  } else {
    const __m128 lo = _mm_unpacklo_ps(c[0], c[1]), hi = _mm_unpackhi_ps(c[0], c[1]);
    const __m128 xy[4] = {lo, _mm_movehl_ps(lo, lo), hi, _mm_movehl_ps(hi, hi)};
    const __m128 z[4] = {c[2], Lane1(c[2]), _mm_movehl_ps(c[2], c[2]), Lane3(c[2])};
    for (int i = first; i < 4; ++i) {
      StoreLow2(e[i], xy[i]);
      if constexpr (N == 3) _mm_store_ss(e[i] + 2, z[i]);
    }
  }
}

// Output component j of four elements of In components: the sum of component
// times splatted element, plus the splatted translation for affine forms; the
// point forms scale by reciprocal(w) of the four elements at once.
template <int In, Form form, __m128 (*reciprocal)(__m128) = RcpN>
void TransformBlock(const __m128 c[4], const __m128* S, __m128 o[4]) {
  for (int j = 0; j < 4; ++j) {
    __m128 r = _mm_add_ps(_mm_mul_ps(c[0], S[j]), _mm_mul_ps(c[1], S[4 + j]));
    if constexpr (In >= 3) r = _mm_add_ps(r, _mm_mul_ps(c[2], S[8 + j]));
    if constexpr (In == 4) {
      r = _mm_add_ps(r, _mm_mul_ps(c[3], S[12 + j]));
    } else if constexpr (form != Form::Direction) {
      r = _mm_add_ps(r, S[12 + j]);
    }
    o[j] = r;
  }
  if constexpr (form == Form::Point) {
    const __m128 rw = reciprocal(o[3]);
    for (int j = 0; j < 3; ++j) o[j] = _mm_mul_ps(o[j], rw);
  }
}

// One half by the multiply rule: M = m | 0x400 where the exponent e is not 0,
// E = max(e, 0x400), value = M times the f32 of bits ((E + 0x19800) << 13) with
// the sign, in an x87 multiply. Exact for every half.
inline void HalfByScale(float* out, const Float16* in) {
  std::uint16_t h;
  std::memcpy(&h, in, sizeof h);
  const std::uint32_t e = h & 0x7C00u, m = h & 0x3FFu, s = h & 0x8000u;
  const std::uint32_t M = e ? (m | 0x400u) : m;
  const std::uint32_t scaleBits = (((e > 0x400u ? e : 0x400u) + 0x19800u) << 13) | (s << 16);
  float scale;
  std::memcpy(&scale, &scaleBits, sizeof scale);
  const float value = static_cast<float>(static_cast<long double>(M) * scale);
  std::memcpy(out, &value, sizeof value);
}

}  // namespace
