// Building blocks of the plain codecs (internal): texel loads and stores, the
// read of one bit field, and the write-side quantiser with its rounding offset,
// clamping and Floyd-Steinberg error diffusion.
#pragma once

#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "gxl/math/records.h"

namespace gxl::tex::detail {

// Texels are little-endian words of N bytes.
template <unsigned N>
inline std::uint64_t LoadTexel(const std::uint8_t* p) {
  std::uint64_t w = 0;
  std::memcpy(&w, p, N);
  return w;
}
template <unsigned N>
inline void StoreTexel(std::uint8_t* p, std::uint64_t w) {
  std::memcpy(p, &w, N);
}

// One bit field of a texel; bits 0 means the channel is not stored.
struct Field {
  std::uint8_t shift = 0;
  std::uint8_t bits = 0;
  bool isSigned = false;
};

// The largest code of a field: 2^n - 1 unsigned, 2^(n-1) - 1 signed.
constexpr std::int32_t LargestCode(Field f) {
  return f.isSigned ? (std::int32_t{1} << (f.bits - 1)) - 1 : static_cast<std::int32_t>((std::uint64_t{1} << f.bits) - 1);
}

// The field's value: code / largest code, the most negative signed code raised
// by one first so that both lowest codes read as -1.
template <Field F>
inline float ReadField(std::uint64_t w) {
  constexpr std::int32_t kLargest = LargestCode(F);
  constexpr float kScale = 1.0f / static_cast<float>(kLargest);
  constexpr std::uint64_t kMask = (std::uint64_t{1} << F.bits) - 1;
  const auto raw = static_cast<std::int32_t>((w >> F.shift) & kMask);
  if constexpr (F.isSigned) {
    std::int32_t v = raw >= (std::int32_t{1} << (F.bits - 1)) ? raw - (std::int32_t{1} << F.bits) : raw;
    if (v < -kLargest) v = -kLargest;
    return static_cast<float>(v) * kScale;
  } else {
    return static_cast<float>(raw) * kScale;
  }
}

// Floor for the quantiser: exact for |t| < 2^23, where truncation toward zero
// and floor agree on non-negative values; larger magnitudes, infinities and
// NaN are returned as they are (and clamped later).
inline float FloorF(float t) {
  if (!(std::fabs(t) < 8388608.0f)) return t;
  const float i = static_cast<float>(static_cast<std::int32_t>(t));
  return i > t ? i - 1.0f : i;
}

// Clamps a quantised value into [lo, hi]; NaN gives lo.
inline std::int32_t ClampCode(float q, std::int32_t lo, std::int32_t hi) {
  if (q > static_cast<float>(hi)) return hi;
  if (q >= static_cast<float>(lo)) return static_cast<std::int32_t>(q);
  return lo;
}

// The carried and diffused error of one row, in processing order.
struct Diffusion {
  ColorF* row;    // next row's error; column x at x + 1 (null: no diffusion)
  std::int64_t x;  // column of the texel being written
  std::int64_t dir;
  float carry[4] = {0, 0, 0, 0};
};

// Quantises channel C (0 r, 1 g, 2 b, 3 a) of a texel for a field with largest
// code S: q = floor((carry + value) x S + d), clamped to [0, S] (unsigned) or
// [-S, S] (signed). With diffusion, the error (v - q) / S goes 7/16 to the next
// texel in processing order and 3/16, 5/16, 1/16 to the row below.
template <int C, bool kDiffuse>
inline std::int32_t QuantizeChannel(const ColorF& texel, float d, float scale, std::int32_t lo, std::int32_t hi,
                                    Diffusion& diff) {
  const float value = (&texel.r)[C];
  if constexpr (!kDiffuse) {
    return ClampCode(FloorF(value * scale + d), lo, hi);
  } else {
    const float v = (diff.carry[C] + value) * scale;
    const float q = FloorF(v + d);
    float e = (v - q) / scale;
    if (!(std::fabs(e) <= 1.0f)) e = 0.0f;  // an infinite or NaN input spreads nothing
    (&diff.row[diff.x - diff.dir + 1].r)[C] += e * (3.0f / 16.0f);
    (&diff.row[diff.x + 1].r)[C] += e * (5.0f / 16.0f);
    (&diff.row[diff.x + diff.dir + 1].r)[C] += e * (1.0f / 16.0f);
    diff.carry[C] = e * (7.0f / 16.0f);
    return ClampCode(q, lo, hi);
  }
}

// A quantised code placed in its field.
template <Field F>
inline std::uint64_t Pack(std::int32_t q) {
  constexpr std::uint64_t kMask = (std::uint64_t{1} << F.bits) - 1;
  return (static_cast<std::uint64_t>(static_cast<std::int64_t>(q)) & kMask) << F.shift;
}

// Quantises channel C into field F of word w.
template <Field F, int C, bool kDiffuse>
inline void PackChannel(std::uint64_t& w, const ColorF& texel, float d, Diffusion& diff) {
  if constexpr (F.bits != 0) {
    constexpr std::int32_t kLargest = LargestCode(F);
    w |= Pack<F>(QuantizeChannel<C, kDiffuse>(texel, d, static_cast<float>(kLargest), F.isSigned ? -kLargest : 0,
                                              kLargest, diff));
  }
}

// The quantiser without diffusion, for all four channels at once (SSE2 is part
// of every x86-64 processor). Per lane: t = value x S + d, clamped to [lo, hi]
// (NaN gives lo), then floored; clamping first gives the same codes as
// flooring first, since the bounds are whole numbers. Absent channels have
// S = lo = hi = 0.
struct Quantizer4 {
  __m128 scale, lo, hi;

  Quantizer4(const float s[4], const float l[4], const float h[4])
      : scale(_mm_loadu_ps(s)), lo(_mm_loadu_ps(l)), hi(_mm_loadu_ps(h)) {}

  // The four codes, in the lanes of r, g, b, a. kUnsigned: every lower bound
  // is 0 or more, so no clamped value is negative.
  template <bool kUnsigned = false>
  __m128i Lanes(const ColorF& texel, __m128 d) const {
    __m128 t = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(&texel.r), scale), d);
    t = _mm_min_ps(_mm_max_ps(t, lo), hi);  // maxps yields its second operand for a NaN
    const __m128i q = _mm_cvttps_epi32(t);
    if constexpr (kUnsigned) return q;
    // Truncation rounds negative values up: step those back by one.
    return _mm_add_epi32(q, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(q), t)));
  }
  __m128i Lanes(const ColorF& texel, float d) const { return Lanes(texel, _mm_set1_ps(d)); }

  void operator()(const ColorF& texel, float d, std::int32_t out[4]) const {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Lanes(texel, d));
  }
};

}  // namespace gxl::tex::detail
