// The codecs of the formats that store texels in pairs of 16-bit words
// sharing colour information: "YUY2" and "UYVY" (a luma byte per texel, the
// pair's Cb and Cr in the other bytes) and "GRGB" and "RGBG" (a green byte per
// texel, the pair's red and blue). Each keeps one pair-aligned row as float
// texels; a changed row is stored when another row is selected or the codec
// is destroyed.
#include <algorithm>
#include <cstring>
#include <new>

#include "gxl/tex/codec_families.h"
#include "gxl/tex/dxt_block_internal.h"
#include "platform/d3d9_types.h"

namespace gxl::tex::detail {
namespace {

class PackedYuvCodec final : public PixelCodec {
 public:
  // yuv: Y, Cb, Cr samples (else G, R, B); the shifts: where the per-texel
  // and the shared byte stand in each word.
  PackedYuvCodec(const ImageRegion& region, bool yuv, unsigned lumaShift, unsigned chromaShift,
                 std::uint32_t spanRight)
      : PixelCodec(region, 0, ChannelRange::Unorm),
        m_spanLeft(m_box.left & ~1u),
        m_pairWidth(spanRight - m_spanLeft),
        m_yuv(yuv),
        m_lumaShift(lumaShift),
        m_chromaShift(chromaShift) {
    m_pairRow.reset(new (std::nothrow) ColorF[m_pairWidth ? m_pairWidth : 1]);
  }
  ~PackedYuvCodec() override { FlushRow(); }

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override {
    if (FAILED(SelectRow(m_box.top + y, m_box.front + z, true))) return;
    std::memcpy(out, m_pairRow.get() + (m_box.left - m_spanLeft), std::size_t{m_width} * sizeof(ColorF));
    FinishRead(out);
  }

  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override {
    row = PrepareRowForWrite(row);
    // A partner texel outside the box is stored again from its decoded colour.
    if (FAILED(SelectRow(m_box.top + y, m_box.front + z, m_pairWidth != m_width))) return;
    std::memcpy(m_pairRow.get() + (m_box.left - m_spanLeft), row, std::size_t{m_width} * sizeof(ColorF));
    m_dirty = true;
  }

  // The key is compared with the decoded colour as it was given.
  void QuantizeColorKey() override {}

 private:
  HRESULT SelectRow(std::uint32_t row, std::uint32_t slice, bool load);
  void FlushRow();
  std::uint8_t* Words(std::uint32_t row, std::uint32_t slice) const {
    return m_pixels + std::uint64_t{row} * m_rowPitch + std::uint64_t{slice} * m_slicePitch +
           std::uint64_t{m_spanLeft} * 2;
  }
  void DecodeYuv(const std::uint8_t* words);
  void DecodeRgb(const std::uint8_t* words);
  void EncodeYuv(std::uint8_t* words) const;
  void EncodeRgb(std::uint8_t* words) const;

  std::unique_ptr<ColorF[]> m_pairRow;
  bool m_cached = false;
  std::uint32_t m_cachedRow = 0;
  std::uint32_t m_cachedSlice = 0;
  std::uint32_t m_spanLeft;
  std::uint32_t m_pairWidth;
  bool m_dirty = false;
  bool m_yuv;
  unsigned m_lumaShift;
  unsigned m_chromaShift;
};

HRESULT PackedYuvCodec::SelectRow(std::uint32_t row, std::uint32_t slice, bool load) {
  if (!m_pairRow) return E_OUTOFMEMORY;
  if (m_cached && m_cachedRow == row && m_cachedSlice == slice) return S_OK;
  FlushRow();
  m_cached = true;
  m_cachedRow = row;
  m_cachedSlice = slice;
  if (load) {
    if (m_yuv)
      DecodeYuv(Words(row, slice));
    else
      DecodeRgb(Words(row, slice));
  }
  return S_OK;
}

void PackedYuvCodec::FlushRow() {
  if (!m_dirty || !m_pairRow) return;
  if (m_yuv)
    EncodeYuv(Words(m_cachedRow, m_cachedSlice));
  else
    EncodeRgb(Words(m_cachedRow, m_cachedSlice));
  m_dirty = false;
}

void PackedYuvCodec::DecodeYuv(const std::uint8_t* words) {
  const std::int32_t pairs = static_cast<std::int32_t>(m_pairWidth / 2);
  auto sample = [&](std::int32_t t, unsigned shift) {
    return static_cast<std::int32_t>((Load16(words + 2 * std::int64_t{t}) >> shift) & 0xFF);
  };
  // Pair k's Cb (word 2k) or Cr (word 2k + 1), k clamped to the span.
  auto chroma = [&](std::int32_t k, int which) {
    return sample(2 * std::clamp(k, 0, pairs - 1) + which, m_chromaShift);
  };
  // Odd texels sit between two pairs: a four-tap (-1, 9, 9, -1) / 16 filter.
  auto between = [&](std::int32_t k, int which) {
    return (9 * (chroma(k, which) + chroma(k + 1, which)) - chroma(k - 1, which) - chroma(k + 2, which) + 8) >> 4;
  };
  auto convert = [](std::int32_t y, std::int32_t u, std::int32_t v) {
    const float luma = static_cast<float>(y - 16) * 0.00456621f;
    const float cb = static_cast<float>(u - 128);
    const float cr = static_cast<float>(v - 128);
    auto unit = [](float c) { return std::clamp(c, 0.0f, 1.0f); };
    return ColorF(unit(luma + 0.00625893f * cr), unit(luma - 0.00153632f * cb - 0.00318811f * cr),
                  unit(luma + 0.00791071f * cb), 1.0f);
  };
  ColorF* out = m_pairRow.get();
  for (std::int32_t k = 0; k < pairs; ++k) {
    out[2 * k] = convert(sample(2 * k, m_lumaShift), chroma(k, 0), chroma(k, 1));
    out[2 * k + 1] = convert(sample(2 * k + 1, m_lumaShift), between(k, 0), between(k, 1));
  }
}

void PackedYuvCodec::DecodeRgb(const std::uint8_t* words) {
  constexpr float k = 1.0f / 255.0f;
  for (std::uint32_t p = 0; p < m_pairWidth / 2; ++p) {
    const std::uint32_t w0 = Load16(words + 4 * std::uint64_t{p});
    const std::uint32_t w1 = Load16(words + 4 * std::uint64_t{p} + 2);
    const float r = static_cast<float>((w0 >> m_chromaShift) & 0xFF) * k;
    const float b = static_cast<float>((w1 >> m_chromaShift) & 0xFF) * k;
    m_pairRow[2 * p] = ColorF(r, static_cast<float>((w0 >> m_lumaShift) & 0xFF) * k, b, 1.0f);
    m_pairRow[2 * p + 1] = ColorF(r, static_cast<float>((w1 >> m_lumaShift) & 0xFF) * k, b, 1.0f);
  }
}

// x + 0.5 truncated, within a byte.
inline std::uint32_t Byte(float x) { return static_cast<std::uint32_t>(std::clamp(Trunc(x + 0.5f), 0, 255)); }
inline std::uint32_t Byte(std::int32_t base, float x) {
  return static_cast<std::uint32_t>(std::clamp(base + Trunc(x + 0.5f), 0, 255));
}

void PackedYuvCodec::EncodeYuv(std::uint8_t* words) const {
  // The pair's chroma is that of its first texel.
  for (std::uint32_t p = 0; p < m_pairWidth / 2; ++p) {
    const ColorF& t0 = m_pairRow[2 * p];
    const ColorF& t1 = m_pairRow[2 * p + 1];
    const std::uint32_t y0 = Byte(16, 65.481f * t0.r + 128.553f * t0.g + 24.966f * t0.b);
    const std::uint32_t y1 = Byte(16, 65.481f * t1.r + 128.553f * t1.g + 24.966f * t1.b);
    const std::uint32_t u = Byte(128, 112.0f * t0.b - 74.203f * t0.g - 37.797f * t0.r);
    const std::uint32_t v = Byte(128, 112.0f * t0.r - 93.786f * t0.g - 18.214f * t0.b);
    Store16(words + 4 * std::uint64_t{p}, y0 << m_lumaShift | u << m_chromaShift);
    Store16(words + 4 * std::uint64_t{p} + 2, y1 << m_lumaShift | v << m_chromaShift);
  }
}

void PackedYuvCodec::EncodeRgb(std::uint8_t* words) const {
  // Red and blue of the first texel; the second's are dropped.
  for (std::uint32_t p = 0; p < m_pairWidth / 2; ++p) {
    const ColorF& t0 = m_pairRow[2 * p];
    const ColorF& t1 = m_pairRow[2 * p + 1];
    Store16(words + 4 * std::uint64_t{p}, Byte(t0.g * 255.0f) << m_lumaShift | Byte(t0.r * 255.0f) << m_chromaShift);
    Store16(words + 4 * std::uint64_t{p} + 2,
            Byte(t1.g * 255.0f) << m_lumaShift | Byte(t0.b * 255.0f) << m_chromaShift);
  }
}

}  // namespace

PixelCodec* NewPackedYuvCodec(const ImageRegion& region) {
  bool yuv;
  unsigned luma;
  switch (region.format) {
    case D3DFMT_YUY2: yuv = true, luma = 0; break;
    case D3DFMT_UYVY: yuv = true, luma = 8; break;
    case D3DFMT_G8R8_G8B8: yuv = false, luma = 8; break;  // "GRGB": R G0 B G1
    case D3DFMT_R8G8_B8G8: yuv = false, luma = 0; break;  // "RGBG": G0 R G1 B
    default: return nullptr;
  }
  // The span covers whole pairs: the box's right rounded up to even.
  const std::uint64_t spanRight = (std::uint64_t{region.box.right} + 1) & ~std::uint64_t{1};
  if (spanRight > 0xFFFFFFFFu) return nullptr;
  auto* codec = new (std::nothrow)
      PackedYuvCodec(region, yuv, luma, 8 - luma, static_cast<std::uint32_t>(spanRight));
  return codec;
}

}  // namespace gxl::tex::detail
