// The integer 2x2 box kernels and the one-time choice of the 32-bit ones.
#include "gxl/tex/box_kernels.h"

#include <emmintrin.h>

#include <cstring>

#include "gxl/math/cpu_detect.h"

namespace {

// A packed texel of `bytes` bytes with up to four bit fields.
struct BoxLayout {
  std::uint8_t bytes;
  std::uint8_t count;
  std::uint8_t shift[4];
  std::uint8_t bits[4];
};

template <unsigned N>
inline std::uint32_t Load(const std::uint8_t* p) {
  std::uint32_t w = 0;
  std::memcpy(&w, p, N);
  return w;
}

template <unsigned N>
inline void Store(std::uint8_t* p, std::uint32_t w) {
  std::memcpy(p, &w, N);
}

// One destination texel from the four texels of a block.
template <BoxLayout L>
inline std::uint32_t AverageBlock(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  std::uint32_t out = 0;
  for (unsigned f = 0; f < L.count; ++f) {
    const unsigned s = L.shift[f];
    const std::uint32_t m = (std::uint32_t{1} << L.bits[f]) - 1;
    const std::uint32_t sum = ((a >> s) & m) + ((b >> s) & m) + ((c >> s) & m) + ((d >> s) & m) + 2;
    out |= (sum >> 2) << s;
  }
  return out;
}

// Destination texels [first, last) of one row pair.
template <BoxLayout L>
inline void HalveRowSpan(std::uint8_t* out, const std::uint8_t* r0, const std::uint8_t* r1, std::uint32_t first,
                         std::uint32_t last) {
  constexpr unsigned B = L.bytes;
  for (std::uint32_t x = first; x < last; ++x) {
    const std::size_t s = std::size_t{x} * 2 * B;
    Store<B>(out + std::size_t{x} * B,
             AverageBlock<L>(Load<B>(r0 + s), Load<B>(r0 + s + B), Load<B>(r1 + s), Load<B>(r1 + s + B)));
  }
}

template <BoxLayout L>
HRESULT BoxHalveFields(void* destination, const void* source, std::uint32_t width, std::uint32_t height,
                       std::uint32_t sourcePitch, std::uint32_t destinationPitch) {
  const auto* src = static_cast<const std::uint8_t*>(source);
  auto* dst = static_cast<std::uint8_t*>(destination);
  for (std::uint32_t y = 0; y < height / 2; ++y) {
    const std::uint8_t* r0 = src + std::size_t{2} * y * sourcePitch;
    HalveRowSpan<L>(dst + std::size_t{y} * destinationPitch, r0, r0 + sourcePitch, 0, width / 2);
  }
  return 0;
}

// clang-format off
constexpr BoxLayout kArgb32   {4, 4, {0, 8, 16, 24}, {8, 8, 8, 8}};
constexpr BoxLayout kXrgb32   {4, 3, {0, 8, 16},     {8, 8, 8}};
constexpr BoxLayout kR5G6B5   {2, 3, {0, 5, 11},     {5, 6, 5}};
constexpr BoxLayout kX1R5G5B5 {2, 3, {0, 5, 10},     {5, 5, 5}};
constexpr BoxLayout kA1R5G5B5 {2, 4, {0, 5, 10, 15}, {5, 5, 5, 1}};
constexpr BoxLayout kA4R4G4B4 {2, 4, {0, 4, 8, 12},  {4, 4, 4, 4}};
constexpr BoxLayout kX4R4G4B4 {2, 3, {0, 4, 8},      {4, 4, 4}};
constexpr BoxLayout kR3G3B2   {1, 3, {0, 2, 5},      {2, 3, 3}};
constexpr BoxLayout kA8R3G3B2 {2, 4, {0, 2, 5, 8},   {2, 3, 3, 8}};
constexpr BoxLayout kByte     {1, 1, {0},            {8}};
constexpr BoxLayout kTwoBytes {2, 2, {0, 8},         {8, 8}};
constexpr BoxLayout kA4L4     {1, 2, {0, 4},         {4, 4}};
// clang-format on

// Four destination texels per step: eight source texels of each row, widened
// to 16 bits, summed vertically, then in horizontal pairs, rounded and narrowed.
template <bool kClearTop>
HRESULT BoxHalve32Vector(void* destination, const void* source, std::uint32_t width, std::uint32_t height,
                         std::uint32_t sourcePitch, std::uint32_t destinationPitch) {
  const auto* src = static_cast<const std::uint8_t*>(source);
  auto* dst = static_cast<std::uint8_t*>(destination);
  const std::uint32_t outWidth = width / 2;
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  const __m128i keep = _mm_set1_epi32(kClearTop ? 0x00FFFFFF : -1);
  auto halve = [&](__m128i top, __m128i bottom) {
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
    const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
    return _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
  };
  for (std::uint32_t y = 0; y < height / 2; ++y) {
    const std::uint8_t* r0 = src + std::size_t{2} * y * sourcePitch;
    const std::uint8_t* r1 = r0 + sourcePitch;
    std::uint8_t* out = dst + std::size_t{y} * destinationPitch;
    std::uint32_t x = 0;
    for (; x + 4 <= outWidth; x += 4) {
      const std::size_t s = std::size_t{x} * 8;
      const __m128i a = halve(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + s)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + s)));
      const __m128i b = halve(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + s + 16)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + s + 16)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + std::size_t{x} * 4),
                       _mm_and_si128(_mm_packus_epi16(a, b), keep));
    }
    HalveRowSpan<kClearTop ? kXrgb32 : kArgb32>(out, r0, r1, x, outWidth);
  }
  return 0;
}

void ChooseKernels() {
  const bool vector = IsMmxAvailable() != 0;
  BoxHalveKernelPtr.fourChannel.store(vector ? BoxHalveArgbVector : BoxHalveArgb, std::memory_order_relaxed);
  BoxHalveKernelPtr.unusedTopByte.store(vector ? BoxHalveXrgbVector : BoxHalveXrgb, std::memory_order_relaxed);
}

HRESULT FourChannelStub(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                        std::uint32_t dp) {
  ChooseKernels();
  return BoxHalveKernelPtr.fourChannel.load(std::memory_order_relaxed)(d, s, w, h, sp, dp);
}

HRESULT UnusedTopByteStub(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                          std::uint32_t dp) {
  ChooseKernels();
  return BoxHalveKernelPtr.unusedTopByte.load(std::memory_order_relaxed)(d, s, w, h, sp, dp);
}

HRESULT CallFourChannel(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                        std::uint32_t dp) {
  return BoxHalveKernelPtr.fourChannel.load(std::memory_order_relaxed)(d, s, w, h, sp, dp);
}

HRESULT CallUnusedTopByte(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                          std::uint32_t dp) {
  return BoxHalveKernelPtr.unusedTopByte.load(std::memory_order_relaxed)(d, s, w, h, sp, dp);
}

}  // namespace

BoxHalveKernelPtrs BoxHalveKernelPtr{{FourChannelStub}, {UnusedTopByteStub}};

HRESULT BoxHalveArgb(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp, std::uint32_t dp) {
  return BoxHalveFields<kArgb32>(d, s, w, h, sp, dp);
}

HRESULT BoxHalveXrgb(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp, std::uint32_t dp) {
  return BoxHalveFields<kXrgb32>(d, s, w, h, sp, dp);
}

HRESULT BoxHalveArgbVector(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                           std::uint32_t dp) {
  return BoxHalve32Vector<false>(d, s, w, h, sp, dp);
}

HRESULT BoxHalveXrgbVector(void* d, const void* s, std::uint32_t w, std::uint32_t h, std::uint32_t sp,
                           std::uint32_t dp) {
  return BoxHalve32Vector<true>(d, s, w, h, sp, dp);
}

BoxHalveKernel FindBoxHalveKernel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A8B8G8R8: return CallFourChannel;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_X8B8G8R8: return CallUnusedTopByte;
    case D3DFMT_R5G6B5: return BoxHalveFields<kR5G6B5>;
    case D3DFMT_X1R5G5B5: return BoxHalveFields<kX1R5G5B5>;
    case D3DFMT_A1R5G5B5: return BoxHalveFields<kA1R5G5B5>;
    case D3DFMT_A4R4G4B4: return BoxHalveFields<kA4R4G4B4>;
    case D3DFMT_X4R4G4B4: return BoxHalveFields<kX4R4G4B4>;
    case D3DFMT_R3G3B2: return BoxHalveFields<kR3G3B2>;
    case D3DFMT_A8R3G3B2: return BoxHalveFields<kA8R3G3B2>;
    case D3DFMT_A8:
    case D3DFMT_L8: return BoxHalveFields<kByte>;
    case D3DFMT_A8L8: return BoxHalveFields<kTwoBytes>;
    case D3DFMT_A4L4: return BoxHalveFields<kA4L4>;
    default: return nullptr;
  }
}
