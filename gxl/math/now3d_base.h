// What every 3DNow! body builds on: the instruction policy's operations
// brought into scope, record loads and stores as 8-byte halves, constant pairs,
// lane moves, lane sums, the refined reciprocals and the mask zero test.
//
// Only the 3DNow! source files include this header (and the tests of the
// emulated set); each source is compiled once per policy.
#pragma once

#include <bit>
#include <cstdint>

#include "gxl/math/records.h"

namespace gxl::math::now3d {

template <class P>
struct Base : P {
  using V = typename P::V;
  using Policy = P;
  // Whether the extended 3DNow! and MMX-extension instructions may be used.
  static constexpr bool kExtended = false;

  static constexpr std::uint32_t kSign = 0x80000000u;
  static constexpr std::uint32_t kMagnitude = 0x7FFFFFFFu;
  // 2^-23: what counts as nearly zero.
  static constexpr float kNearlyZero = 1.1920929e-7f;

  static std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }
  static float Float(std::uint32_t b) { return std::bit_cast<float>(b); }

  // Constant pairs, lane 0 first.
  static V Pair(float a, float b) { return P::set(Bits(a), Bits(b)); }
  static V Splat(float a) { return Pair(a, a); }
  static V Ints(std::uint32_t a) { return P::set(a, a); }
  static V Zero() { return P::set(0, 0); }

  // (v0, v0), (v1, v1), (v1, v0) with base MMX moves only, and lane 0 as a float.
  static V Lane0(V v) { return P::punpckldq(v, v); }
  static V Lane1(V v) { return P::punpckhdq(v, v); }
  static V Swap(V v) { return P::punpckldq(P::psrlq(v, 32), v); }
  static float First(V v) { return Float(P::lo32(v)); }

  // Bitwise choice: a where the mask is set, else b.
  static V Select(V mask, V a, V b) { return P::por(P::pand(mask, a), P::pandn(mask, b)); }
  static V Negate(V v) { return P::pxor(v, Ints(kSign)); }
  static V Abs(V v) { return P::pand(v, Ints(kMagnitude)); }
  static V SignOf(V v) { return P::pand(v, Ints(kSign)); }

  // (v0 + v1) in both lanes.
  static V Sum(V v) { return P::pfacc(v, v); }
  // Lane sums of the squares and products: (x x' + z z') + y y', and
  // (x x' + z z') + (y y' + w w') for four components.
  static V Dot3(V axy, V az0, V bxy, V bz0) { return Sum(P::pfadd(P::pfmul(axy, bxy), P::pfmul(az0, bz0))); }
  static V Dot4(V axy, V azw, V bxy, V bzw) { return Sum(P::pfadd(P::pfmul(axy, bxy), P::pfmul(azw, bzw))); }

  // The estimates refined by one Newton-Raphson step with the iteration
  // instructions; both read lane 0 of x.
  static V Rcp(V x) {
    const V r = P::pfrcp(x);
    return P::pfrcpit2(P::pfrcpit1(x, r), r);
  }
  static V Rsqrt(V x) {
    const V r = P::pfrsqrt(x);
    return P::pfrcpit2(P::pfrsqit1(P::pfmul(r, r), x), r);
  }

  // The zero test: all ones where q exceeds the smallest normal float, so that
  // inputs ANDed with it give exact zeros for zero and denormal lengths.
  static V Positive(V q) { return P::pfcmpgt(q, Ints(0x00800000u)); }

  // Records as 8-byte halves: components (0, 1) and (2, 3); a Vec3's z as (z, 0)
  // from a 4-byte load, so nothing is read or written past its 12 bytes.
  static V Lo(const float* p) { return P::load(p); }
  static V Hi(const float* p) { return P::load(p + 2); }
  static V Z(const float* p) { return P::load32(p + 2); }
  static void Put(float* p, V lo, V hi) {
    P::store(p, lo);
    P::store(p + 2, hi);
  }
  static void Put3(float* p, V xy, V z) {
    P::store(p, xy);
    P::store32(p + 2, z);
  }

  // A matrix as its rows' halves.
  struct Rows {
    V lo[4], hi[4];
  };
  static Rows LoadRows(const Matrix4* m) {
    Rows r;
    for (int i = 0; i < 4; ++i) {
      r.lo[i] = Lo(m->m[i]);
      r.hi[i] = Hi(m->m[i]);
    }
    return r;
  }
  static void PutRows(Matrix4* m, const Rows& r) {
    for (int i = 0; i < 4; ++i) Put(m->m[i], r.lo[i], r.hi[i]);
  }
};

// Brings the policy's operations and Base's helpers into a group of bodies
// (names of a dependent base are not found unqualified).
#define GXL_NOW3D_NAMES                                                                                            \
  using B = Base<P>;                                                                                               \
  using V = typename B::V;                                                                                         \
  using typename B::Rows;                                                                                          \
  using typename B::Policy;                                                                                        \
  using B::femms, B::load, B::load32, B::lo32, B::set, B::store, B::store32;                                       \
  using B::pf2id, B::pfacc, B::pfadd, B::pfcmpeq, B::pfcmpge, B::pfcmpgt, B::pfmax, B::pfmin, B::pfmul, B::pfrcp,  \
      B::pfrcpit1, B::pfrcpit2, B::pfrsqit1, B::pfrsqrt, B::pfsub, B::pfsubr, B::pi2fd;                            \
  using B::pand, B::pandn, B::por, B::pxor, B::paddd, B::psubd, B::paddw, B::pcmpeqd, B::pcmpeqw, B::pcmpgtd,      \
      B::pslld, B::psrld, B::psrad, B::psllq, B::psrlq, B::punpckldq, B::punpckhdq, B::punpcklwd, B::punpckhwd,    \
      B::packssdw;                                                                                                 \
  using B::kSign, B::kMagnitude, B::kNearlyZero, B::Bits, B::Float, B::Pair, B::Splat, B::Ints, B::Zero, B::Lane0, \
      B::Lane1, B::Swap, B::First, B::Select, B::Negate, B::Abs, B::SignOf, B::Sum, B::Dot3, B::Dot4, B::Rcp,      \
      B::Rsqrt, B::Positive, B::Lo, B::Hi, B::Z, B::Put, B::Put3, B::LoadRows, B::PutRows

}  // namespace gxl::math::now3d
