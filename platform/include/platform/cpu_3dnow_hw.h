// Hw3DNow: the 3DNow! instruction policy of platform/cpu_3dnow.h on the real
// instructions. Include it only in a translation unit compiled with
// -mno-sse2 -m3dnow -m3dnowa: with SSE2 enabled, g++ keeps 64-bit vectors in SSE
// registers and lowers some of these intrinsics to SSE arithmetic, which has
// other numerics. Code built on it may run only where
// platform::cpu::Use3DNowHardware() is true.
#pragma once

#if !defined(__3dNOW__) || !defined(__3dNOW_A__) || defined(__SSE2__)
#error "compile with -mno-sse2 -m3dnow -m3dnowa"
#endif

#include <mm3dnow.h>
#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

namespace platform::cpu {

struct Hw3DNow {
  using V = __m64;

  static V load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static V load32(const void* p) {
    int i;
    std::memcpy(&i, p, sizeof i);
    return _mm_cvtsi32_si64(i);
  }
  static void store(void* p, V v) { std::memcpy(p, &v, sizeof v); }
  static void store32(void* p, V v) {
    const int i = _mm_cvtsi64_si32(v);
    std::memcpy(p, &i, sizeof i);
  }
  static V set(std::uint32_t lo, std::uint32_t hi) { return _mm_set_pi32(static_cast<int>(hi), static_cast<int>(lo)); }
  static std::uint32_t lo32(V v) { return static_cast<std::uint32_t>(_mm_cvtsi64_si32(v)); }
  static void femms() { _m_femms(); }

  static V pfadd(V a, V b) { return _m_pfadd(a, b); }
  static V pfsub(V a, V b) { return _m_pfsub(a, b); }
  static V pfsubr(V a, V b) { return _m_pfsubr(a, b); }
  static V pfmul(V a, V b) { return _m_pfmul(a, b); }
  static V pfacc(V a, V b) { return _m_pfacc(a, b); }
  static V pfcmpgt(V a, V b) { return _m_pfcmpgt(a, b); }
  static V pfcmpge(V a, V b) { return _m_pfcmpge(a, b); }
  static V pfcmpeq(V a, V b) { return _m_pfcmpeq(a, b); }
  static V pfmin(V a, V b) { return _m_pfmin(a, b); }
  static V pfmax(V a, V b) { return _m_pfmax(a, b); }
  static V pf2id(V a) { return _m_pf2id(a); }
  static V pi2fd(V a) { return _m_pi2fd(a); }
  static V pfrcp(V a) { return _m_pfrcp(a); }
  static V pfrsqrt(V a) { return _m_pfrsqrt(a); }
  static V pfrcpit1(V b, V x0) { return _m_pfrcpit1(b, x0); }
  static V pfrsqit1(V x0Squared, V b) { return _m_pfrsqit1(x0Squared, b); }
  static V pfrcpit2(V e, V x0) { return _m_pfrcpit2(e, x0); }

  static V pfnacc(V a, V b) { return _m_pfnacc(a, b); }
  static V pfpnacc(V a, V b) { return _m_pfpnacc(a, b); }
  static V pswapd(V a) { return _m_pswapd(a); }

  static V pand(V a, V b) { return _mm_and_si64(a, b); }
  static V pandn(V a, V b) { return _mm_andnot_si64(a, b); }
  static V por(V a, V b) { return _mm_or_si64(a, b); }
  static V pxor(V a, V b) { return _mm_xor_si64(a, b); }
  static V paddd(V a, V b) { return _mm_add_pi32(a, b); }
  static V psubd(V a, V b) { return _mm_sub_pi32(a, b); }
  static V pcmpeqd(V a, V b) { return _mm_cmpeq_pi32(a, b); }
  static V pcmpgtd(V a, V b) { return _mm_cmpgt_pi32(a, b); }
  static V paddw(V a, V b) { return _mm_add_pi16(a, b); }
  static V pcmpeqw(V a, V b) { return _mm_cmpeq_pi16(a, b); }
  static V pslld(V a, int n) { return _mm_slli_pi32(a, n); }
  static V psrld(V a, int n) { return _mm_srli_pi32(a, n); }
  static V psrad(V a, int n) { return _mm_srai_pi32(a, n); }
  static V psllq(V a, int n) { return _mm_slli_si64(a, n); }
  static V psrlq(V a, int n) { return _mm_srli_si64(a, n); }
  static V punpckldq(V a, V b) { return _mm_unpacklo_pi32(a, b); }
  static V punpckhdq(V a, V b) { return _mm_unpackhi_pi32(a, b); }
  static V punpcklwd(V a, V b) { return _mm_unpacklo_pi16(a, b); }
  static V punpckhwd(V a, V b) { return _mm_unpackhi_pi16(a, b); }
  static V packssdw(V a, V b) { return _mm_packs_pi32(a, b); }

  static int pmovmskb(V a) { return _m_pmovmskb(a); }
};

}  // namespace platform::cpu
