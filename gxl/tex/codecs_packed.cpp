// The codecs of the formats stored as packed bit fields: unsigned colour,
// luminance and signed formats. One template converts a whole row; each format
// is a layout, so every format gets its own tight loop.
#include <immintrin.h>

#include <new>

#include "gxl/math/vector.h"
#include "gxl/tex/codec_families.h"
#include "gxl/tex/codec_layouts.h"
#include "gxl/tex/codec_quantize.h"
#include "gxl/tex/pixel_format.h"
#include "platform/cpu.h"

namespace gxl::tex::detail {
namespace {

// Four-byte texels of byte channels two a register with AVX2: the same
// arithmetic as the SSE2 reads. kOrder: the read order's shuffle; an absent
// alpha reads 1. Returns the texels done.
template <int kOrder, bool kAlpha>
__attribute__((target("avx2"))) std::uint32_t ReadBytesAvx2(const std::uint8_t* src, ColorF* out, std::uint32_t width) {
  const __m256 scale = _mm256_set1_ps(1.0f / 255.0f);
  const __m256 keep = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, kAlpha ? -1 : 0, -1, -1, -1, kAlpha ? -1 : 0));
  const __m256 absent = _mm256_setr_ps(0, 0, 0, kAlpha ? 0.0f : 1.0f, 0, 0, 0, kAlpha ? 0.0f : 1.0f);
  std::uint32_t x = 0;
  for (; x + 2 <= width; x += 2) {
    const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 4 * x));
    const __m256i texels = _mm256_shuffle_epi32(_mm256_cvtepu8_epi32(two), kOrder);
    const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(texels), scale);
    _mm256_storeu_ps(&out[x].r, _mm256_or_ps(_mm256_and_ps(f, keep), absent));
  }
  return x;
}

// Unsigned four-byte texels eight at a time with AVX2: the same arithmetic as
// Quantizer4::Lanes lane for lane, two texels a register. kOrder: the write
// order's shuffle. Returns the texels done.
template <int kOrder>
__attribute__((target("avx2"))) std::uint32_t EncodeUnsignedBytesAvx2(const Quantizer4& quantize, const float offset[4],
                                                                      const ColorF* row, std::uint32_t width,
                                                                      std::uint8_t* dst) {
  const __m256 scale = _mm256_set_m128(quantize.scale, quantize.scale);
  const __m256 lo = _mm256_set_m128(quantize.lo, quantize.lo);
  const __m256 hi = _mm256_set_m128(quantize.hi, quantize.hi);
  // Texels 4m + {0, 1} and 4m + {2, 3}.
  const __m256 d01 = _mm256_set_m128(_mm_set1_ps(offset[1]), _mm_set1_ps(offset[0]));
  const __m256 d23 = _mm256_set_m128(_mm_set1_ps(offset[3]), _mm_set1_ps(offset[2]));
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  std::uint32_t x = 0;
  for (; x + 8 <= width; x += 8, dst += 32) {
    __m256i q[4];
    for (int i = 0; i < 4; ++i) {
      __m256 t = _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(&row[x + 2 * i].r), scale), i % 2 ? d23 : d01);
      t = _mm256_min_ps(_mm256_max_ps(t, lo), hi);
      q[i] = _mm256_shuffle_epi32(_mm256_cvttps_epi32(t), kOrder);
    }
    // Lanes hold texels (0 2 4 6 | 1 3 5 7) after the packs; the permute puts them in order.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permutevar8x32_epi32(bytes, order));
  }
  return x;
}

// The byte places of a layout whose stored channels are all whole unsigned
// bytes, read as they stand (no luminance or derived channel); bytes 0 otherwise.
constexpr ByteChannels ByteChannelsOf(const PackedLayout& l) {
  ByteChannels b{l.bytes, {-1, -1, -1, -1}};
  const Field fields[4] = {l.r, l.g, l.b, l.a};
  if (l.range != kUnorm || l.luminance || l.blackRgb || l.derivedBlue) return ByteChannels{};
  for (int c = 0; c < 4; ++c) {
    if (!fields[c].bits) continue;
    if (fields[c].bits != 8 || fields[c].shift % 8 || fields[c].isSigned) return ByteChannels{};
    b.offset[c] = static_cast<std::int8_t>(fields[c].shift / 8);
  }
  return b;
}

template <PackedLayout L>
class PackedCodec final : public PixelCodec {
 public:
  explicit PackedCodec(const ImageRegion& region) : PixelCodec(region, L.bytes * 8, L.range) {}

  const ByteChannels* ByteChannelLayout() const override { return kByteChannels.bytes ? &kByteChannels : nullptr; }

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    constexpr float kAbsent = L.blackRgb ? 0.0f : 1.0f;
    std::uint32_t x = 0;
    if constexpr (kFourBytes) x = ReadBytes(src, out);
    for (src += x * L.bytes; x < m_width; ++x, src += L.bytes) {
      const std::uint64_t w = LoadTexel<L.bytes>(src);
      float r = kAbsent, g = kAbsent, b = kAbsent, a = 1.0f;
      if constexpr (L.r.bits != 0) r = ReadField<L.r>(w);
      if constexpr (L.g.bits != 0) g = ReadField<L.g>(w);
      if constexpr (L.b.bits != 0) b = ReadField<L.b>(w);
      if constexpr (L.a.bits != 0) a = ReadField<L.a>(w);
      if constexpr (L.luminance) g = b = r;
      if constexpr (L.derivedBlue) {
        const float s = 1.0f - r * r - g * g;
        b = s > 0.0f ? std::sqrt(s) : 0.0f;
      }
      out[x] = ColorF(r, g, b, a);
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    if constexpr (L.luminance) {
      for (std::uint32_t x = 0; x < m_width; ++x) row[x].r = Luminance(row[x]);
    }
    if constexpr (L.derivedBlue) {
      for (std::uint32_t x = 0; x < m_width; ++x) {
        Vec3 n(row[x].r, row[x].g, row[x].b);
        Vec3Normalize(&n, &n);
        row[x].r = n.x;
        row[x].g = n.y;
        row[x].b = n.z;
      }
    }
    QuantizeRow(y, z, row,
                [&](auto diffuse, const RowTarget& t, const ColorF* r) { Encode<decltype(diffuse)::value>(t, r); });
  }

 private:
  static constexpr ByteChannels kByteChannels = ByteChannelsOf(L);
  // 32-bit texels of byte channels, four at a time: texel byte n is the
  // channel kept there (alpha, which reads 0 when absent, where none is), and
  // the reverse for reading (an absent alpha reads lane 0, then 1).
  static constexpr bool kFourBytes = kByteChannels.bytes == 4 && L.r.bits && L.g.bits && L.b.bits;
  static constexpr int kWriteOrder = [] {
    int order = 0;
    for (int n = 0; n < 4; ++n) {
      int lane = 3;
      for (int c = 0; c < 4; ++c)
        if (kByteChannels.offset[c] == n) lane = c;
      order |= lane << (2 * n);
    }
    return order;
  }();
  static constexpr int kReadOrder = [] {
    int order = 0;
    for (int c = 0; c < 4; ++c) order |= (kByteChannels.offset[c] < 0 ? 0 : kByteChannels.offset[c]) << (2 * c);
    return order;
  }();

  // Four texels at a time, with the scalar reads' arithmetic; returns the
  // texels done.
  std::uint32_t ReadBytes(const std::uint8_t* src, ColorF* out) const {
    std::uint32_t x =
        platform::cpu::WideVectorsAvailable() ? ReadBytesAvx2<kReadOrder, L.a.bits != 0>(src, out, m_width) : 0;
    const __m128 scale = _mm_set1_ps(1.0f / 255.0f);
    // An absent alpha reads 1.
    const __m128 keep = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, L.a.bits ? -1 : 0));
    const __m128 absent = _mm_setr_ps(0.0f, 0.0f, 0.0f, L.a.bits ? 0.0f : 1.0f);
    const __m128i zero = _mm_setzero_si128();
    for (; x + 4 <= m_width; x += 4) {
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
      const __m128i lo = _mm_unpacklo_epi8(w, zero), hi = _mm_unpackhi_epi8(w, zero);
      const __m128i texel[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
      for (int i = 0; i < 4; ++i) {
        const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_shuffle_epi32(texel[i], kReadOrder)), scale);
        _mm_storeu_ps(&out[x + i].r, _mm_or_ps(_mm_and_ps(f, keep), absent));
      }
    }
    return x;
  }

  template <bool kDiffuse>
  static void Encode(const RowTarget& t, const ColorF* row);
};

// Without diffusion the processing order only picks the dither offsets, so the
// row is converted left to right with the offset of each column's place in the
// serpentine order.
template <PackedLayout L>
template <bool kDiffuse>
void PackedCodec<L>::Encode(const RowTarget& t, const ColorF* row) {
  if constexpr (!kDiffuse) {
    static constexpr Field kFields[4] = {L.r, L.g, L.b, L.a};
    float scale[4], lo[4], hi[4];
    for (int c = 0; c < 4; ++c) {
      const float s = kFields[c].bits ? static_cast<float>(LargestCode(kFields[c])) : 0.0f;
      scale[c] = s;
      hi[c] = s;
      lo[c] = kFields[c].isSigned ? -s : 0.0f;
    }
    const Quantizer4 quantize(scale, lo, hi);
    float offset[4];
    for (std::uint32_t i = 0; i < 4; ++i) offset[i] = t.dither[t.rightToLeft ? (t.width - 1 - i) & 3 : i];
    std::uint8_t* dst = t.texels;
    std::uint32_t x = 0;
    if constexpr (kFourBytes) {
      // Four texels' codes (each at most 255) packed into sixteen bytes.
      constexpr bool kUnsigned = !L.r.isSigned && !L.g.isSigned && !L.b.isSigned && !L.a.isSigned;
      if constexpr (kUnsigned) {
        if (platform::cpu::WideVectorsAvailable()) {
          x = EncodeUnsignedBytesAvx2<kWriteOrder>(quantize, offset, row, t.width, dst);
          dst += 4 * x;
        }
      }
      __m128 d[4];
      for (int i = 0; i < 4; ++i) d[i] = _mm_set1_ps(offset[i]);
      for (; x + 4 <= t.width; x += 4, dst += 16) {
        __m128i q[4];
        for (int i = 0; i < 4; ++i)
          q[i] = _mm_shuffle_epi32(quantize.Lanes<kUnsigned>(row[x + i], d[i]), kWriteOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                         _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
      }
    }
    for (; x < t.width; ++x, dst += L.bytes) {
      std::int32_t q[4];
      quantize(row[x], offset[x & 3], q);
      std::uint64_t w = 0;
      if constexpr (L.r.bits != 0) w |= Pack<L.r>(q[0]);
      if constexpr (L.g.bits != 0) w |= Pack<L.g>(q[1]);
      if constexpr (L.b.bits != 0) w |= Pack<L.b>(q[2]);
      if constexpr (L.a.bits != 0) w |= Pack<L.a>(q[3]);
      StoreTexel<L.bytes>(dst, w);
    }
  } else {
    const std::int64_t dir = t.rightToLeft ? -1 : 1;
    std::int64_t x = t.rightToLeft ? std::int64_t{t.width} - 1 : 0;
    Diffusion diff{t.diffusion, 0, dir};
    for (std::uint32_t n = 0; n < t.width; ++n, x += dir) {
      diff.x = x;
      const float d = t.dither[n & 3];
      std::uint64_t w = 0;
      PackChannel<L.r, 0, true>(w, row[x], d, diff);
      PackChannel<L.g, 1, true>(w, row[x], d, diff);
      PackChannel<L.b, 2, true>(w, row[x], d, diff);
      PackChannel<L.a, 3, true>(w, row[x], d, diff);
      StoreTexel<L.bytes>(t.texels + x * L.bytes, w);
    }
  }
}

// The classes of the formats.
using PixelCodecR8G8B8 = PackedCodec<kR8G8B8>;
using PixelCodecA8R8G8B8 = PackedCodec<kA8R8G8B8>;
using PixelCodecX8R8G8B8 = PackedCodec<kX8R8G8B8>;
using PixelCodecR5G6B5 = PackedCodec<kR5G6B5>;
using PixelCodecX1R5G5B5 = PackedCodec<kX1R5G5B5>;
using PixelCodecA1R5G5B5 = PackedCodec<kA1R5G5B5>;
using PixelCodecA4R4G4B4 = PackedCodec<kA4R4G4B4>;
using PixelCodecR3G3B2 = PackedCodec<kR3G3B2>;
using PixelCodecA8 = PackedCodec<kA8>;
using PixelCodecA8R3G3B2 = PackedCodec<kA8R3G3B2>;
using PixelCodecX4R4G4B4 = PackedCodec<kX4R4G4B4>;
using PixelCodecA2B10G10R10 = PackedCodec<kA2B10G10R10>;
using PixelCodecA8B8G8R8 = PackedCodec<kA8B8G8R8>;
using PixelCodecX8B8G8R8 = PackedCodec<kX8B8G8R8>;
using PixelCodecG16R16 = PackedCodec<kG16R16>;
using PixelCodecA2R10G10B10 = PackedCodec<kA2R10G10B10>;
using PixelCodecA16B16G16R16 = PackedCodec<kA16B16G16R16>;
using PixelCodecR16G16B16 = PackedCodec<kR16G16B16>;
using PixelCodecL8 = PackedCodec<kL8>;
using PixelCodecA8L8 = PackedCodec<kA8L8>;
using PixelCodecA4L4 = PackedCodec<kA4L4>;
using PixelCodecL16 = PackedCodec<kL16>;
using PixelCodecA16L16 = PackedCodec<kA16L16>;
using PixelCodecD16Lockable = PackedCodec<kD16Lockable>;
using PixelCodecV8U8 = PackedCodec<kV8U8>;
using PixelCodecL6V5U5 = PackedCodec<kL6V5U5>;
using PixelCodecX8L8V8U8 = PackedCodec<kX8L8V8U8>;
using PixelCodecQ8W8V8U8 = PackedCodec<kQ8W8V8U8>;
using PixelCodecV16U16 = PackedCodec<kV16U16>;
using PixelCodecA2W10V10U10 = PackedCodec<kA2W10V10U10>;
using PixelCodecQ16W16V16U16 = PackedCodec<kQ16W16V16U16>;
using PixelCodecCxV8U8 = PackedCodec<kCxV8U8>;

template <class Codec>
PixelCodec* New(const ImageRegion& region) {
  return new (std::nothrow) Codec(region);
}

struct PackedFormat {
  std::uint32_t format;
  const PackedLayout* layout;
  PixelCodec* (*make)(const ImageRegion&);
};

const PackedFormat* FindPackedFormat(std::uint32_t format) {
  static constexpr PackedFormat kFormats[] = {
      {D3DFMT_R8G8B8, &kR8G8B8, New<PixelCodecR8G8B8>},
      {D3DFMT_A8R8G8B8, &kA8R8G8B8, New<PixelCodecA8R8G8B8>},
      {D3DFMT_X8R8G8B8, &kX8R8G8B8, New<PixelCodecX8R8G8B8>},
      {D3DFMT_R5G6B5, &kR5G6B5, New<PixelCodecR5G6B5>},
      {D3DFMT_X1R5G5B5, &kX1R5G5B5, New<PixelCodecX1R5G5B5>},
      {D3DFMT_A1R5G5B5, &kA1R5G5B5, New<PixelCodecA1R5G5B5>},
      {D3DFMT_A4R4G4B4, &kA4R4G4B4, New<PixelCodecA4R4G4B4>},
      {D3DFMT_R3G3B2, &kR3G3B2, New<PixelCodecR3G3B2>},
      {D3DFMT_A8, &kA8, New<PixelCodecA8>},
      {D3DFMT_A8R3G3B2, &kA8R3G3B2, New<PixelCodecA8R3G3B2>},
      {D3DFMT_X4R4G4B4, &kX4R4G4B4, New<PixelCodecX4R4G4B4>},
      {D3DFMT_A2B10G10R10, &kA2B10G10R10, New<PixelCodecA2B10G10R10>},
      {D3DFMT_A8B8G8R8, &kA8B8G8R8, New<PixelCodecA8B8G8R8>},
      {D3DFMT_X8B8G8R8, &kX8B8G8R8, New<PixelCodecX8B8G8R8>},
      {D3DFMT_G16R16, &kG16R16, New<PixelCodecG16R16>},
      {D3DFMT_A2R10G10B10, &kA2R10G10B10, New<PixelCodecA2R10G10B10>},
      {D3DFMT_A16B16G16R16, &kA16B16G16R16, New<PixelCodecA16B16G16R16>},
      {kFormatR16, &kR16G16B16, New<PixelCodecR16G16B16>},
      {D3DFMT_L8, &kL8, New<PixelCodecL8>},
      {D3DFMT_A8L8, &kA8L8, New<PixelCodecA8L8>},
      {D3DFMT_A4L4, &kA4L4, New<PixelCodecA4L4>},
      {D3DFMT_L16, &kL16, New<PixelCodecL16>},
      {kFormatAL16, &kA16L16, New<PixelCodecA16L16>},
      {D3DFMT_D16_LOCKABLE, &kD16Lockable, New<PixelCodecD16Lockable>},
      {D3DFMT_V8U8, &kV8U8, New<PixelCodecV8U8>},
      {D3DFMT_L6V5U5, &kL6V5U5, New<PixelCodecL6V5U5>},
      {D3DFMT_X8L8V8U8, &kX8L8V8U8, New<PixelCodecX8L8V8U8>},
      {D3DFMT_Q8W8V8U8, &kQ8W8V8U8, New<PixelCodecQ8W8V8U8>},
      {D3DFMT_V16U16, &kV16U16, New<PixelCodecV16U16>},
      {D3DFMT_A2W10V10U10, &kA2W10V10U10, New<PixelCodecA2W10V10U10>},
      {D3DFMT_Q16W16V16U16, &kQ16W16V16U16, New<PixelCodecQ16W16V16U16>},
      {D3DFMT_CxV8U8, &kCxV8U8, New<PixelCodecCxV8U8>},
  };
  for (const PackedFormat& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

}  // namespace

PixelCodec* NewPackedCodec(const ImageRegion& region) {
  const PackedFormat* f = FindPackedFormat(region.format);
  return f ? f->make(region) : nullptr;
}

const PackedLayout* FindPackedLayout(std::uint32_t format) {
  const PackedFormat* f = FindPackedFormat(format);
  return f ? f->layout : nullptr;
}

}  // namespace gxl::tex::detail
