// The 3DNow! instruction policy: a two-lane 64-bit register type and the
// operations of the 3DNow!, extended 3DNow!, MMX and MMX-extension instruction
// sets, as static functions named after the instructions. Code written as a
// template over a policy runs on Emu3DNow everywhere; Hw3DNow
// (platform/cpu_3dnow_hw.h) executes the real instructions where the host has
// them (platform::cpu::Use3DNowHardware()).
//
// Emu3DNow follows the published numeric model of the instructions:
//  - inputs: denormals read as +-0; infinities and NaN act as +-FLT_MAX;
//  - results: round to nearest; underflow flushes to +-0, overflow saturates to
//    +-FLT_MAX; no infinity or NaN is ever produced;
//  - pf2id truncates and saturates to the int32 range;
//  - pfrcp and pfrsqrt read lane 0, write both lanes and keep 14 and 15
//    mantissa bits; pfrcp(+-0) = +-FLT_MAX, pfrsqrt takes the magnitude and
//    keeps the sign; pfrcpit1(b, x0) = 1 - b x0, pfrsqit1(x0^2, b) =
//    (1 - b x0^2) / 2 and pfrcpit2(e, x0) = x0 + x0 e, each rounded once, so
//    one Newton-Raphson step lands within about 1 ulp.
// Lanes are numbered from 0 (the low 32 bits).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace platform::cpu {

// One 64-bit MMX register: two f32 or i32 lanes, four i16 lanes or eight bytes.
union M64 {
  std::uint64_t q;
  std::uint32_t u[2];
  std::int32_t i[2];
  float f[2];
  std::int16_t w[4];
  std::uint8_t b[8];
};

// The estimates of pfrcp and pfrsqrt for one lane (with the magnitude and
// sign rules above); they follow the test knob of platform/testing.h.
float Emu3DNowReciprocal(float x);
float Emu3DNowReciprocalSqrt(float x);

namespace emu3dnow {

inline std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }
inline float FromBits(std::uint32_t b) { return std::bit_cast<float>(b); }
constexpr float kMax = 3.40282347e+38f;
constexpr float kMinNormal = 1.17549435e-38f;

// An operand as the instructions read it.
inline float In(float x) {
  const std::uint32_t b = Bits(x), e = b & 0x7F800000u;
  if (e == 0) return FromBits(b & 0x80000000u);
  if (e == 0x7F800000u) return FromBits((b & 0x80000000u) | Bits(kMax));
  return x;
}

// A result: the exact (or correctly rounded double) value rounded to f32, with
// underflow flushed and overflow saturated. Rounding a double that holds the
// correctly rounded sum, product or difference of two floats once more to f32
// gives the correctly rounded f32 result.
inline float Out(double d) {
  const std::uint32_t sign = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(d) >> 63) << 31;
  const double a = sign ? -d : d;
  if (a < static_cast<double>(kMinNormal)) return FromBits(sign);
  if (a >= static_cast<double>(kMax)) return FromBits(sign | Bits(kMax));
  return FromBits(sign | Bits(static_cast<float>(a)));
}

inline M64 Lanes(float a, float b) {
  M64 r;
  r.f[0] = a;
  r.f[1] = b;
  return r;
}
inline M64 Masks(bool a, bool b) {
  M64 r;
  r.u[0] = a ? ~0u : 0u;
  r.u[1] = b ? ~0u : 0u;
  return r;
}
template <typename Op>
M64 EachFloat(M64 a, M64 b, Op op) {
  return Lanes(Out(op(static_cast<double>(In(a.f[0])), static_cast<double>(In(b.f[0])))),
               Out(op(static_cast<double>(In(a.f[1])), static_cast<double>(In(b.f[1])))));
}
template <typename Op>
M64 EachU32(M64 a, M64 b, Op op) {
  M64 r;
  r.u[0] = op(a.u[0], b.u[0]);
  r.u[1] = op(a.u[1], b.u[1]);
  return r;
}
template <typename Op>
M64 EachI16(M64 a, M64 b, Op op) {
  M64 r;
  for (int k = 0; k < 4; ++k) r.w[k] = static_cast<std::int16_t>(op(a.w[k], b.w[k]));
  return r;
}
inline std::int32_t Truncate(float x) {
  x = In(x);
  if (x >= 2147483648.0f) return 2147483647;
  if (x <= -2147483648.0f) return static_cast<std::int32_t>(0x80000000u);
  return static_cast<std::int32_t>(x);
}

}  // namespace emu3dnow

struct Emu3DNow {
  using V = M64;

  // Moves: 8 bytes, or 4 bytes into lane 0 with lane 1 cleared (movd).
  static V load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static V load32(const void* p) {
    V v{};
    std::memcpy(&v.u[0], p, 4);
    return v;
  }
  static void store(void* p, V v) { std::memcpy(p, &v, sizeof v); }
  static void store32(void* p, V v) { std::memcpy(p, &v.u[0], 4); }
  static V set(std::uint32_t lo, std::uint32_t hi) {
    V v;
    v.u[0] = lo;
    v.u[1] = hi;
    return v;
  }
  static std::uint32_t lo32(V v) { return v.u[0]; }
  static void femms() {}

  // 3DNow! arithmetic.
  static V pfadd(V a, V b) {
    return emu3dnow::EachFloat(a, b, [](double x, double y) { return x + y; });
  }
  static V pfsub(V a, V b) {
    return emu3dnow::EachFloat(a, b, [](double x, double y) { return x - y; });
  }
  static V pfsubr(V a, V b) { return pfsub(b, a); }
  static V pfmul(V a, V b) {
    return emu3dnow::EachFloat(a, b, [](double x, double y) { return x * y; });
  }
  // (a0 + a1, b0 + b1).
  static V pfacc(V a, V b) { return pfadd(emu3dnow::Lanes(a.f[0], b.f[0]), emu3dnow::Lanes(a.f[1], b.f[1])); }
  static V pfcmpgt(V a, V b) {
    using emu3dnow::In;
    return emu3dnow::Masks(In(a.f[0]) > In(b.f[0]), In(a.f[1]) > In(b.f[1]));
  }
  static V pfcmpge(V a, V b) {
    using emu3dnow::In;
    return emu3dnow::Masks(In(a.f[0]) >= In(b.f[0]), In(a.f[1]) >= In(b.f[1]));
  }
  static V pfcmpeq(V a, V b) {
    using emu3dnow::In;
    return emu3dnow::Masks(In(a.f[0]) == In(b.f[0]), In(a.f[1]) == In(b.f[1]));
  }
  static V pfmin(V a, V b) {
    using emu3dnow::In;
    return emu3dnow::Lanes(In(b.f[0]) < In(a.f[0]) ? In(b.f[0]) : In(a.f[0]),
                           In(b.f[1]) < In(a.f[1]) ? In(b.f[1]) : In(a.f[1]));
  }
  static V pfmax(V a, V b) {
    using emu3dnow::In;
    return emu3dnow::Lanes(In(b.f[0]) > In(a.f[0]) ? In(b.f[0]) : In(a.f[0]),
                           In(b.f[1]) > In(a.f[1]) ? In(b.f[1]) : In(a.f[1]));
  }
  static V pf2id(V a) {
    V r;
    r.i[0] = emu3dnow::Truncate(a.f[0]);
    r.i[1] = emu3dnow::Truncate(a.f[1]);
    return r;
  }
  static V pi2fd(V a) { return emu3dnow::Lanes(static_cast<float>(a.i[0]), static_cast<float>(a.i[1])); }
  static V pfrcp(V a) {
    const float r = Emu3DNowReciprocal(emu3dnow::In(a.f[0]));
    return emu3dnow::Lanes(r, r);
  }
  static V pfrsqrt(V a) {
    const float r = Emu3DNowReciprocalSqrt(emu3dnow::In(a.f[0]));
    return emu3dnow::Lanes(r, r);
  }
  static V pfrcpit1(V b, V x0) {
    return emu3dnow::EachFloat(b, x0, [](double v, double x) { return 1.0 - v * x; });
  }
  static V pfrsqit1(V x0Squared, V b) {
    return emu3dnow::EachFloat(x0Squared, b, [](double s, double v) { return (1.0 - v * s) * 0.5; });
  }
  static V pfrcpit2(V e, V x0) {
    return emu3dnow::EachFloat(e, x0, [](double d, double x) { return x + x * d; });
  }

  // Extended 3DNow!.
  static V pfnacc(V a, V b) { return pfsub(emu3dnow::Lanes(a.f[0], b.f[0]), emu3dnow::Lanes(a.f[1], b.f[1])); }
  // (a0 - a1, b0 + b1).
  static V pfpnacc(V a, V b) { return emu3dnow::Lanes(pfsub(a, pswapd(a)).f[0], pfadd(b, pswapd(b)).f[0]); }
  static V pswapd(V a) { return set(a.u[1], a.u[0]); }

  // MMX.
  static V pand(V a, V b) { return set(a.u[0] & b.u[0], a.u[1] & b.u[1]); }
  static V pandn(V a, V b) { return set(~a.u[0] & b.u[0], ~a.u[1] & b.u[1]); }
  static V por(V a, V b) { return set(a.u[0] | b.u[0], a.u[1] | b.u[1]); }
  static V pxor(V a, V b) { return set(a.u[0] ^ b.u[0], a.u[1] ^ b.u[1]); }
  static V paddd(V a, V b) {
    return emu3dnow::EachU32(a, b, [](std::uint32_t x, std::uint32_t y) { return x + y; });
  }
  static V psubd(V a, V b) {
    return emu3dnow::EachU32(a, b, [](std::uint32_t x, std::uint32_t y) { return x - y; });
  }
  static V pcmpeqd(V a, V b) { return emu3dnow::Masks(a.i[0] == b.i[0], a.i[1] == b.i[1]); }
  static V pcmpgtd(V a, V b) { return emu3dnow::Masks(a.i[0] > b.i[0], a.i[1] > b.i[1]); }
  static V paddw(V a, V b) {
    return emu3dnow::EachI16(a, b, [](int x, int y) { return x + y; });
  }
  static V pcmpeqw(V a, V b) {
    return emu3dnow::EachI16(a, b, [](int x, int y) { return x == y ? -1 : 0; });
  }
  static V pslld(V a, int n) { return set(n > 31 ? 0 : a.u[0] << n, n > 31 ? 0 : a.u[1] << n); }
  static V psrld(V a, int n) { return set(n > 31 ? 0 : a.u[0] >> n, n > 31 ? 0 : a.u[1] >> n); }
  static V psrad(V a, int n) {
    V r;
    r.i[0] = a.i[0] >> (n > 31 ? 31 : n);
    r.i[1] = a.i[1] >> (n > 31 ? 31 : n);
    return r;
  }
  static V psllq(V a, int n) {
    V r;
    r.q = n > 63 ? 0 : a.q << n;
    return r;
  }
  static V psrlq(V a, int n) {
    V r;
    r.q = n > 63 ? 0 : a.q >> n;
    return r;
  }
  // (a0, b0) and (a1, b1).
  static V punpckldq(V a, V b) { return set(a.u[0], b.u[0]); }
  static V punpckhdq(V a, V b) { return set(a.u[1], b.u[1]); }
  // (a.w0, b.w0, a.w1, b.w1) and (a.w2, b.w2, a.w3, b.w3).
  static V punpcklwd(V a, V b) {
    V r;
    r.w[0] = a.w[0], r.w[1] = b.w[0], r.w[2] = a.w[1], r.w[3] = b.w[1];
    return r;
  }
  static V punpckhwd(V a, V b) {
    V r;
    r.w[0] = a.w[2], r.w[1] = b.w[2], r.w[2] = a.w[3], r.w[3] = b.w[3];
    return r;
  }
  // Two i32 lanes of each to four saturated i16 lanes (a's first).
  static V packssdw(V a, V b) {
    auto sat = [](std::int32_t x) -> std::int16_t { return x > 32767 ? 32767 : x < -32768 ? -32768 : x; };
    V r;
    r.w[0] = sat(a.i[0]), r.w[1] = sat(a.i[1]), r.w[2] = sat(b.i[0]), r.w[3] = sat(b.i[1]);
    return r;
  }

  // MMX extensions: the sign bits of the eight bytes.
  static int pmovmskb(V a) {
    int m = 0;
    for (int k = 0; k < 8; ++k) m |= (a.b[k] >> 7) << k;
    return m;
  }
};

}  // namespace platform::cpu
