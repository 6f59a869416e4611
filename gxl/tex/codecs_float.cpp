// The codecs of the half and single float formats: no range adaptation,
// rounding, dither or diffusion; only the sRGB conversions when asked for.
#include <cstring>
#include <new>

#include "gxl/math/half.h"
#include "gxl/tex/codec_families.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/rgbe_texel.h"
#include "platform/d3d9_types.h"

namespace gxl::tex::detail {
namespace {

// Floats of a row of texels, r g b a r g b a ...
inline float* Floats(ColorF* row) { return &row[0].r; }

// Spreads n stored channels per texel (packed at the row's end or start) into
// whole texels, the missing channels 1. Works forwards in place: texel x is
// written after its own values are read and never reaches later values.
template <unsigned N>
void Spread(ColorF* row, const float* packed, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    float v[N];
    for (unsigned c = 0; c < N; ++c) v[c] = packed[N * x + c];
    ColorF t(1, 1, 1, 1);
    for (unsigned c = 0; c < N; ++c) (&t.r)[c] = v[c];
    row[x] = t;
  }
}

// Packs the first N channels of each texel to the row's start, in place.
template <unsigned N>
float* Gather(ColorF* row, std::uint32_t width) {
  float* f = Floats(row);
  for (std::uint32_t x = 0; x < width; ++x)
    for (unsigned c = 0; c < N; ++c) f[N * x + c] = f[4 * x + c];
  return f;
}

// Half formats of N channels (R16F, G16R16F, A16B16G16R16F).
template <unsigned N>
class HalfCodec final : public PixelCodec {
 public:
  explicit HalfCodec(const ImageRegion& region) : PixelCodec(region, 16 * N, ChannelRange::Float) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const auto* src = reinterpret_cast<const Float16*>(RowAddress(y, z));
    if constexpr (N == 4) {
      HalfToFloatArray(Floats(out), src, m_width * 4);
    } else {
      // Convert the whole row into the tail of out, then spread it forwards.
      float* packed = Floats(out) + std::uint64_t{m_width} * (4 - N);
      HalfToFloatArray(packed, src, m_width * N);
      Spread<N>(out, packed, m_width);
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    auto* dst = reinterpret_cast<Float16*>(RowAddress(y, z));
    const float* values = N == 4 ? Floats(row) : Gather<N>(row, m_width);
    FloatToHalfArray(dst, values, m_width * N);
  }
};

// Single float formats of N channels (R32F, G32R32F, A32B32G32R32F; the
// lockable float depth is R32F; the HDR reader's " R32" is three channels
// that take a colour key as it is, see RgbeCodec).
template <unsigned N, bool kKeyAsGiven = false>
class FloatCodec final : public PixelCodec {
 public:
  explicit FloatCodec(const ImageRegion& region) : PixelCodec(region, 32 * N, ChannelRange::Float) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    if constexpr (N == 4) {
      std::memcpy(out, src, std::uint64_t{m_width} * sizeof(ColorF));
    } else {
      float* packed = Floats(out) + std::uint64_t{m_width} * (4 - N);
      std::memcpy(packed, src, std::uint64_t{m_width} * N * sizeof(float));
      Spread<N>(out, packed, m_width);
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    const float* values = N == 4 ? Floats(row) : Gather<N>(row, m_width);
    std::memcpy(RowAddress(y, z), values, std::uint64_t{m_width} * N * sizeof(float));
  }

  void QuantizeColorKey() override {
    if constexpr (!kKeyAsGiven) PixelCodec::QuantizeColorKey();
  }
};

// The HDR reader's "RGBE": the file's texels, converted as they are read.
// Its pictures stand for A32B32G32R32F ones, whose round trip leaves a key
// as it is: so does this codec, rather than quantising the key to 8 bits of
// mantissa.
class RgbeCodec final : public PixelCodec {
 public:
  explicit RgbeCodec(const ImageRegion& region) : PixelCodec(region, 32, ChannelRange::Float) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    for (std::uint32_t x = 0; x < m_width; ++x, src += 4) {
      RgbeToFloat(src, &out[x].r);
      out[x].a = 1.0f;
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    std::uint8_t* dst = RowAddress(y, z);
    for (std::uint32_t x = 0; x < m_width; ++x) FloatToRgbe(reinterpret_cast<const std::uint8_t*>(&row[x].r), dst + 4 * x);
  }

  void QuantizeColorKey() override {}
};

using PixelCodecR16F = HalfCodec<1>;
using PixelCodecG16R16F = HalfCodec<2>;
using PixelCodecA16B16G16R16F = HalfCodec<4>;
using PixelCodecR32F = FloatCodec<1>;
using PixelCodecG32R32F = FloatCodec<2>;
using PixelCodecA32B32G32R32F = FloatCodec<4>;
using PixelCodecD32FLockable = FloatCodec<1>;
using PixelCodecR32 = FloatCodec<3, true>;

template <class Codec>
PixelCodec* New(const ImageRegion& region) {
  return new (std::nothrow) Codec(region);
}

}  // namespace

PixelCodec* NewFloatCodec(const ImageRegion& region) {
  switch (region.format) {
    case D3DFMT_R16F: return New<PixelCodecR16F>(region);
    case D3DFMT_G16R16F: return New<PixelCodecG16R16F>(region);
    case D3DFMT_A16B16G16R16F: return New<PixelCodecA16B16G16R16F>(region);
    case D3DFMT_R32F: return New<PixelCodecR32F>(region);
    case D3DFMT_G32R32F: return New<PixelCodecG32R32F>(region);
    case D3DFMT_A32B32G32R32F: return New<PixelCodecA32B32G32R32F>(region);
    case D3DFMT_D32F_LOCKABLE: return New<PixelCodecD32FLockable>(region);
    case kFormatRgbe: return New<RgbeCodec>(region);
    case kFormatR32: return New<PixelCodecR32>(region);
    default: return nullptr;
  }
}

}  // namespace gxl::tex::detail
