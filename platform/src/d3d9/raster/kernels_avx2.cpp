// The AVX2 span kernels: the shared vector bodies over 256-bit registers,
// eight pixels at a time. This file alone is compiled for AVX2 (its own
// compile flag, never a build-wide one), so it defines nothing a processor
// without AVX2 could reach but FillAvx2Kernels, which the dispatcher calls
// only on processors that have it: everything else here has internal linkage,
// and a test checks that the object shares no inline or template code.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "d3d9/raster/kernels_simd.h"

namespace platform::d3d9::raster {
namespace {

struct Avx2 {
  using R = __m256i;
  using F = __m256;
  static constexpr int N = 8;
  static constexpr bool kPermute = true;

  static R Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static void Store(void* p, R v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  static R Zero() { return _mm256_setzero_si256(); }
  static R FirstLanes(int m) { return _mm256_cmpgt_epi32(_mm256_set1_epi32(m), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)); }
  static R LoadN(const void* p, int m) { return _mm256_maskload_epi32(static_cast<const int*>(p), FirstLanes(m)); }
  static void StoreN(void* p, R v, int m) { _mm256_maskstore_epi32(static_cast<int*>(p), FirstLanes(m), v); }
  static R Set32(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static R Set16(std::uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static R Iota() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }

  static bool AllZero(R a) { return _mm256_testz_si256(a, a) != 0; }
  static R And(R a, R b) { return _mm256_and_si256(a, b); }
  static R Or(R a, R b) { return _mm256_or_si256(a, b); }
  static R AndNot(R a, R b) { return _mm256_andnot_si256(a, b); }
  static R Xor(R a, R b) { return _mm256_xor_si256(a, b); }

  static R Add16(R a, R b) { return _mm256_add_epi16(a, b); }
  static R Sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm256_mullo_epi16(a, b); }
  static R MulHi16(R a, R b) { return _mm256_mulhi_epu16(a, b); }
  template <int n> static R Shr16(R a) { return _mm256_srli_epi16(a, n); }
  static R AddSat8(R a, R b) { return _mm256_adds_epu8(a, b); }

  static R Add32(R a, R b) { return _mm256_add_epi32(a, b); }
  template <int n> static R Shr32(R a) { return _mm256_srli_epi32(a, n); }
  template <int n> static R Sar32(R a) { return _mm256_srai_epi32(a, n); }
  static R CmpGt32(R a, R b) { return _mm256_cmpgt_epi32(a, b); }
  static R CmpEq32(R a, R b) { return _mm256_cmpeq_epi32(a, b); }
  static R ClampIndex(R x, R limit) { return _mm256_min_epi32(_mm256_max_epi32(x, _mm256_setzero_si256()), limit); }
  static R MulIndex(R row, R pitch) { return _mm256_madd_epi16(row, pitch); }
  static R Sub32(R a, R b) { return _mm256_sub_epi32(a, b); }
  // Lanes of a chosen by index (0-7).
  static R Permute8(R a, R index) { return _mm256_permutevar8x32_epi32(a, index); }
  // Lanes of the 16 values a:b chosen by index (0-15).
  static R Permute16(R a, R b, R index) {
    const R high = _mm256_cmpgt_epi32(index, _mm256_set1_epi32(7));
    return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(a, index), _mm256_permutevar8x32_epi32(b, index), high);
  }

  // Unpacks and packs work within each 128-bit half, so pixels 0-3 and 4-7
  // stay in their halves throughout.
  static R Lo8(R a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
  static R Hi8(R a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
  static R Pack(R lo, R hi) { return _mm256_packus_epi16(lo, hi); }
  static R PackS32(R a, R b) { return _mm256_packs_epi32(a, b); }
  static R Unpacklo8(R a, R b) { return _mm256_unpacklo_epi8(a, b); }
  static R Unpacklo16(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
  static R Unpacklo32(R a, R b) { return _mm256_unpacklo_epi32(a, b); }
  template <int n> static R ShiftBytesRight(R a) { return _mm256_srli_si256(a, n); }
  // Bits 8-15 of each pixel's 32-bit lane, in its four 16-bit channels
  // (Lo8 layout: pixels 0-1 of each half; Hi: pixels 2-3).
  static R WeightLo(R v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(1, -1, 1, -1, 1, -1, 1, -1, 5, -1, 5, -1, 5, -1, 5, -1, 1, -1, 1,
                                                   -1, 1, -1, 1, -1, 5, -1, 5, -1, 5, -1, 5, -1));
  }
  static R WeightHi(R v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(9, -1, 9, -1, 9, -1, 9, -1, 13, -1, 13, -1, 13, -1, 13, -1, 9, -1,
                                                   9, -1, 9, -1, 9, -1, 13, -1, 13, -1, 13, -1, 13, -1));
  }
  // Each pixel's alpha byte in its four 16-bit channels (Lo8 / Hi8 layouts).
  static R AlphaLo(R v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1, 3, -1, 3,
                                                   -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1));
  }
  static R AlphaHi(R v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1,
                                                   11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1));
  }

  // Scalar loads: hardware gathers are slow on processors with the gather
  // data sampling mitigation, and never faster here.
  static R Gather(const std::uint32_t* base, R index) {
    alignas(32) std::int32_t i[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
    return _mm256_setr_epi32(static_cast<int>(base[i[0]]), static_cast<int>(base[i[1]]), static_cast<int>(base[i[2]]),
                             static_cast<int>(base[i[3]]), static_cast<int>(base[i[4]]), static_cast<int>(base[i[5]]),
                             static_cast<int>(base[i[6]]), static_cast<int>(base[i[7]]));
  }

  // The texels at base[index] (lo) and base[index + 1] (hi), by 8-byte loads.
  static void GatherPairs(const std::uint32_t* base, R index, R* lo, R* hi) {
    alignas(32) std::int32_t i[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
    std::int64_t q[8];
    for (int k = 0; k < 8; ++k) std::memcpy(&q[k], base + i[k], 8);
    const __m256 a = _mm256_castsi256_ps(_mm256_set_epi64x(q[5], q[4], q[1], q[0]));
    const __m256 b = _mm256_castsi256_ps(_mm256_set_epi64x(q[7], q[6], q[3], q[2]));
    *lo = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    *hi = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  }

  static R LiveMask(const std::uint8_t* live) {
    const R b = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(live)));
    return _mm256_cmpgt_epi32(b, _mm256_setzero_si256());
  }
  static void StoreLive(std::uint8_t* live, R mask) {
    const R p = _mm256_packs_epi16(_mm256_packs_epi32(mask, mask), mask);
    const std::int32_t lo = _mm_cvtsi128_si32(_mm256_castsi256_si128(p)) & 0x01010101;
    const std::int32_t hi = _mm_cvtsi128_si32(_mm256_extracti128_si256(p, 1)) & 0x01010101;
    std::memcpy(live, &lo, 4);
    std::memcpy(live + 4, &hi, 4);
  }
  static int Count(R mask) { return __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)))); }

  static R LoadU16(const std::uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  static void StoreU16(std::uint16_t* p, R v) {
    const R packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  }

  static F SetF(float v) { return _mm256_set1_ps(v); }
  static F CvtF(R a) { return _mm256_cvtepi32_ps(a); }
  static R CvtI(F a) { return _mm256_cvtps_epi32(a); }
  static F AddF(F a, F b) { return _mm256_add_ps(a, b); }
  static F MulF(F a, F b) { return _mm256_mul_ps(a, b); }
  static F MaxF(F a, F b) { return _mm256_max_ps(a, b); }
  static F MinF(F a, F b) { return _mm256_min_ps(a, b); }
};

}  // namespace

void FillAvx2Kernels(Kernels* k) { *k = MakeKernels<Avx2>(); }

}  // namespace platform::d3d9::raster
