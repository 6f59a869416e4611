// The palette codecs: P8 (an index) and A8P8 (an index and an alpha byte).
#include <cfloat>
#include <new>

#include "gxl/tex/codec_families.h"
#include "gxl/tex/codec_quantize.h"
#include "platform/d3d9_types.h"

namespace gxl::tex::detail {
namespace {

// The palette entry nearest to c by the sum of squared differences over R, G,
// B (and A when kWithAlpha); the lowest index wins a tie.
template <bool kWithAlpha>
std::uint8_t NearestIndex(const ColorF* palette, const ColorF& c) {
  float best = FLT_MAX;
  std::uint32_t index = 0;
  for (std::uint32_t i = 0; i < 256; ++i) {
    const ColorF& p = palette[i];
    const float dr = c.r - p.r, dg = c.g - p.g, db = c.b - p.b;
    float dist = dr * dr + dg * dg + db * db;
    if constexpr (kWithAlpha) {
      const float da = c.a - p.a;
      dist += da * da;
    }
    if (dist < best) {
      best = dist;
      index = i;
    }
  }
  return static_cast<std::uint8_t>(index);
}

// P8: the nearest colour over all four channels, without rounding offsets,
// dither or diffusion.
class PixelCodecP8 final : public PixelCodec {
 public:
  explicit PixelCodecP8(const ImageRegion& region) : PixelCodec(region, 8, ChannelRange::Unorm) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    const ColorF* palette = m_paletteColours.get();
    for (std::uint32_t x = 0; x < m_width; ++x) out[x] = palette[src[x]];
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    std::uint8_t* dst = RowAddress(y, z);
    const ColorF* palette = m_paletteColours.get();
    for (std::uint32_t x = 0; x < m_width; ++x) dst[x] = NearestIndex<true>(palette, row[x]);
  }
};

// A8P8: the nearest colour over R, G and B; the alpha byte goes through the
// common rounding, dither and diffusion.
class PixelCodecA8P8 final : public PixelCodec {
 public:
  explicit PixelCodecA8P8(const ImageRegion& region) : PixelCodec(region, 16, ChannelRange::Unorm) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    const std::uint8_t* src = RowAddress(y, z);
    const ColorF* palette = m_paletteColours.get();
    for (std::uint32_t x = 0; x < m_width; ++x) {
      ColorF c = palette[src[2 * x]];
      c.a = static_cast<float>(src[2 * x + 1]) * (1.0f / 255.0f);
      out[x] = c;
    }
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    QuantizeRow(y, z, row,
                [&](auto diffuse, const RowTarget& t, const ColorF* r) { Encode<decltype(diffuse)::value>(t, r); });
  }

 private:
  template <bool kDiffuse>
  void Encode(const RowTarget& t, const ColorF* row) const {
    const ColorF* palette = m_paletteColours.get();
    const std::int64_t dir = t.rightToLeft ? -1 : 1;
    std::int64_t x = t.rightToLeft ? std::int64_t{t.width} - 1 : 0;
    Diffusion diff{t.diffusion, 0, dir};
    for (std::uint32_t n = 0; n < t.width; ++n, x += dir) {
      diff.x = x;
      const std::int32_t alpha = QuantizeChannel<3, kDiffuse>(row[x], t.dither[n & 3], 255.0f, 0, 255, diff);
      t.texels[2 * x] = NearestIndex<false>(palette, row[x]);
      t.texels[2 * x + 1] = static_cast<std::uint8_t>(alpha);
    }
  }
};

}  // namespace

PixelCodec* NewPaletteCodec(const ImageRegion& region) {
  switch (region.format) {
    case D3DFMT_P8: return new (std::nothrow) PixelCodecP8(region);
    case D3DFMT_A8P8: return new (std::nothrow) PixelCodecA8P8(region);
    default: return nullptr;
  }
}

}  // namespace gxl::tex::detail
