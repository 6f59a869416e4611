// The SSE2 span kernels: the shared vector bodies over 128-bit registers,
// four pixels at a time. SSE2 is part of x86-64, so no dispatch is needed.
#include <emmintrin.h>

#include "d3d9/raster/kernels_simd.h"

namespace platform::d3d9::raster {
namespace {

struct Sse2 {
  using R = __m128i;
  using F = __m128;
  static constexpr int N = 4;
  static constexpr bool kPermute = false;

  static R Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void Store(void* p, R v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static R Zero() { return _mm_setzero_si128(); }
  static R LoadN(const void* p, int m) {
    alignas(16) std::uint32_t v[4] = {0, 0, 0, 0};
    std::memcpy(v, p, static_cast<std::size_t>(m) * 4);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(v));
  }
  static void StoreN(void* p, R r, int m) {
    alignas(16) std::uint32_t v[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(v), r);
    std::memcpy(p, v, static_cast<std::size_t>(m) * 4);
  }
  static R Set32(std::uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static R Set16(std::uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static R Iota() { return _mm_setr_epi32(0, 1, 2, 3); }

  static bool AllZero(R a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF; }
  static R And(R a, R b) { return _mm_and_si128(a, b); }
  static R Or(R a, R b) { return _mm_or_si128(a, b); }
  static R AndNot(R a, R b) { return _mm_andnot_si128(a, b); }
  static R Xor(R a, R b) { return _mm_xor_si128(a, b); }

  static R Add16(R a, R b) { return _mm_add_epi16(a, b); }
  static R Sub16(R a, R b) { return _mm_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm_mullo_epi16(a, b); }
  static R MulHi16(R a, R b) { return _mm_mulhi_epu16(a, b); }
  template <int n> static R Shr16(R a) { return _mm_srli_epi16(a, n); }
  static R AddSat8(R a, R b) { return _mm_adds_epu8(a, b); }

  static R Add32(R a, R b) { return _mm_add_epi32(a, b); }
  static R Sub32(R a, R b) { return _mm_sub_epi32(a, b); }
  template <int n> static R Shr32(R a) { return _mm_srli_epi32(a, n); }
  template <int n> static R Sar32(R a) { return _mm_srai_epi32(a, n); }
  static R CmpGt32(R a, R b) { return _mm_cmpgt_epi32(a, b); }
  static R CmpEq32(R a, R b) { return _mm_cmpeq_epi32(a, b); }
  // Texel indices (see VectorModes): a's 32-bit lanes hold sign-extended
  // 16-bit values, the limit and the pitch are below 2^15. The 16-bit
  // forms then give the 32-bit results, the upper halves staying 0.
  static R ClampIndex(R x, R limit) { return _mm_min_epi16(_mm_max_epi16(x, _mm_setzero_si128()), limit); }
  static R MulIndex(R row, R pitch) { return _mm_madd_epi16(row, pitch); }

  static R Lo8(R a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
  static R Hi8(R a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
  static R Pack(R lo, R hi) { return _mm_packus_epi16(lo, hi); }
  static R PackS32(R a, R b) { return _mm_packs_epi32(a, b); }
  static R Unpacklo8(R a, R b) { return _mm_unpacklo_epi8(a, b); }
  static R Unpacklo16(R a, R b) { return _mm_unpacklo_epi16(a, b); }
  static R Unpacklo32(R a, R b) { return _mm_unpacklo_epi32(a, b); }
  template <int n> static R ShiftBytesRight(R a) { return _mm_srli_si128(a, n); }
  static R BroadcastAlpha(R a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xFF), 0xFF); }
  // 32-bit per-pixel values (<= 256) spread over their pixel's four 16-bit channels.
  // Bits 8-15 of each pixel's 32-bit lane, in its four 16-bit channels.
  static R WeightLo(R v) { return SpreadLo(_mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xFF))); }
  static R WeightHi(R v) { return SpreadHi(_mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xFF))); }
  // Each pixel's alpha byte in its four 16-bit channels (Lo8 / Hi8 layouts).
  static R AlphaLo(R v) { return BroadcastAlpha(Lo8(v)); }
  static R AlphaHi(R v) { return BroadcastAlpha(Hi8(v)); }
  static R SpreadLo(R w) {
    const R t = _mm_packs_epi32(w, w), u = _mm_unpacklo_epi16(t, t);
    return _mm_unpacklo_epi32(u, u);
  }
  static R SpreadHi(R w) {
    const R t = _mm_packs_epi32(w, w), u = _mm_unpacklo_epi16(t, t);
    return _mm_unpackhi_epi32(u, u);
  }

  static R Gather(const std::uint32_t* base, R index) {
    alignas(16) std::int32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
    return _mm_setr_epi32(static_cast<int>(base[i[0]]), static_cast<int>(base[i[1]]), static_cast<int>(base[i[2]]),
                          static_cast<int>(base[i[3]]));
  }

  // The texels at base[index] (lo) and base[index + 1] (hi), by 8-byte loads.
  static void GatherPairs(const std::uint32_t* base, R index, R* lo, R* hi) {
    alignas(16) std::int32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
    std::int64_t q[4];
    for (int k = 0; k < 4; ++k) std::memcpy(&q[k], base + i[k], 8);
    const __m128 a = _mm_castsi128_ps(_mm_set_epi64x(q[1], q[0]));
    const __m128 b = _mm_castsi128_ps(_mm_set_epi64x(q[3], q[2]));
    *lo = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    *hi = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  }

  static R LiveMask(const std::uint8_t* live) {
    std::int32_t v;
    std::memcpy(&v, live, 4);
    const R zero = _mm_setzero_si128();
    const R b = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero), zero);
    return _mm_cmpgt_epi32(b, zero);
  }
  static void StoreLive(std::uint8_t* live, R mask) {
    const R bytes = _mm_and_si128(_mm_packs_epi16(_mm_packs_epi32(mask, mask), mask), _mm_set1_epi8(1));
    const std::int32_t v = _mm_cvtsi128_si32(bytes);
    std::memcpy(live, &v, 4);
  }
  static int Count(R mask) { return __builtin_popcount(static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(mask)))); }

  static R LoadU16(const std::uint16_t* p) {
    return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
  }
  static void StoreU16(std::uint16_t* p, R v) {
    // 0-65535 through a signed pack: offset, pack, flip back.
    const R bias = _mm_set1_epi32(32768);
    const R packed = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(v, bias), bias), _mm_set1_epi16(-32768));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
  }

  static F SetF(float v) { return _mm_set1_ps(v); }
  static F CvtF(R a) { return _mm_cvtepi32_ps(a); }
  static R CvtI(F a) { return _mm_cvtps_epi32(a); }
  static F AddF(F a, F b) { return _mm_add_ps(a, b); }
  static F MulF(F a, F b) { return _mm_mul_ps(a, b); }
  static F MaxF(F a, F b) { return _mm_max_ps(a, b); }
  static F MinF(F a, F b) { return _mm_min_ps(a, b); }
};

}  // namespace

const Kernels& Sse2Kernels() {
  static const Kernels k = MakeKernels<Sse2>();
  return k;
}

}  // namespace platform::d3d9::raster
