// The part of the pixel codec family that every codec shares: construction,
// range adaptation, sRGB curves, colour keys, palettes and error diffusion.
#include "gxl/tex/pixel_codec.h"

#include <cstring>
#include <new>

#include "gxl/math/reciprocal_sqrt.h"
#include "platform/d3d9_api.h"

// ---------------------------------------------------------------------------
// sRGB curves and small helpers

namespace {

// [0, 1], with NaN taken as 0 so that table indices stay in range.
float ClampUnit(float x) {
  if (!(x > 0.0f)) return 0.0f;
  return x < 1.0f ? x : 1.0f;
}

// Linear interpolation in a 256-entry table at t in [0, 254].
float Interpolate(const float* table, float t) {
  std::int32_t i = static_cast<std::int32_t>(t);
  if (i > 254) i = 254;
  return table[i] + (table[i + 1] - table[i]) * (t - static_cast<float>(i));
}

// The approximate square root of the encode; 0 for x <= 0 (and NaN), where
// the reciprocal estimate has no meaning.
float FastSqrt(float x) { return x > 0.0f ? x * FastReciprocalSqrt(x) : 0.0f; }

}  // namespace

float LinearToSrgb(float x) {
  x = ClampUnit(x);
  // sqrt(x) scaled to 0..254 indexes a table of u^(1/1.1): x^(1/2.2) overall.
  const float t = FastSqrt(x) * 254.0f;
  return Interpolate(SrgbEncodeTable, t);
}

float SrgbToLinear(float x) {
  x = ClampUnit(x);
  const float t = x * x * 254.0f;
  return Interpolate(SrgbDecodeTable, t);
}

ColorF ColorFromArgb(std::uint32_t argb) {
  constexpr float k = 1.0f / 255.0f;
  return ColorF(static_cast<float>((argb >> 16) & 0xFF) * k, static_cast<float>((argb >> 8) & 0xFF) * k,
                static_cast<float>(argb & 0xFF) * k, static_cast<float>(argb >> 24) * k);
}

ColorF AddColor(const ColorF& a, const ColorF& b) { return ColorF(a.r + b.r, a.g + b.g, a.b + b.b, a.a + b.a); }

ColorF SubtractColor(const ColorF& a, const ColorF& b) {
  return ColorF(a.r - b.r, a.g - b.g, a.b - b.b, a.a - b.a);
}

bool ColorsEqual(const ColorF& a, const ColorF& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

std::int32_t TruncatingRoundMode(float x) {
  if (!(x > -2147483648.0f)) return x != x ? 0 : INT32_MIN;
  if (!(x < 2147483648.0f)) return INT32_MAX;
  return static_cast<std::int32_t>(x);
}

// ---------------------------------------------------------------------------
// Construction

PixelCodec::PixelCodec(const ImageRegion& region, std::uint32_t bits, ChannelRange range)
    : m_format(region.format),
      m_range(range),
      m_addressable(bits != 0),
      m_srgb(region.srgb != 0),
      m_colourKey(region.colourKey),
      m_palettized(region.format == D3DFMT_A8P8 || region.format == D3DFMT_P8),
      m_pixels(static_cast<std::uint8_t*>(region.pixels)),
      m_roundingTable(region.orderedDither ? DitherTable.ordered : DitherTable.rounding),
      m_palette(region.palette),
      m_box(region.box),
      m_rowPitch(region.rowPitch),
      m_slicePitch(region.slicePitch),
      m_width(region.box.right - region.box.left),
      m_height(region.box.bottom - region.box.top),
      m_depth(region.box.back - region.box.front),
      m_rowBytes(0),
      m_bytesPerTexel(bits / 8) {
  // Signed texels carry no sRGB, except the luminance of L6V5U5.
  if (range == ChannelRange::SnormAll) m_srgb = false;
  if (range == ChannelRange::SnormColor && region.format != D3DFMT_L6V5U5) m_srgb = false;
  if (m_colourKey) m_keyColour = ColorFromArgb(m_colourKey);
  // CreatePixelCodec has checked that this fits in 32 bits.
  m_rowBytes = static_cast<std::uint32_t>(std::uint64_t{m_width} * m_bytesPerTexel);
  if (m_addressable) {
    m_pixels += std::uint64_t{m_box.left} * m_bytesPerTexel + std::uint64_t{m_box.top} * m_rowPitch +
                std::uint64_t{m_box.front} * m_slicePitch;
    m_box = ImageBox{0, 0, m_width, m_height, 0, m_depth};
  }
  if (region.errorDiffusion) {
    // Without it the codec simply writes without diffusion.
    m_diffusionRow.reset(new (std::nothrow) ColorF[std::uint64_t{m_width} + 2]);
    if (m_diffusionRow) std::memset(m_diffusionRow.get(), 0, (std::uint64_t{m_width} + 2) * sizeof(ColorF));
  }
}

PixelCodec::~PixelCodec() = default;

void PixelCodec::ReadRow(std::uint32_t, std::uint32_t, ColorF*) {}

void PixelCodec::ReadSpan(std::uint32_t y, std::uint32_t z, std::uint32_t x, std::uint32_t count, ColorF* out) {
  // The codec narrowed to the span for one row: every addressable codec reads
  // each texel on its own.
  std::uint8_t* const pixels = m_pixels;
  const std::uint32_t width = m_width;
  const std::uint32_t rowBytes = m_rowBytes;
  m_pixels += std::uint64_t{x} * m_bytesPerTexel;
  m_width = count;
  m_rowBytes = count * m_bytesPerTexel;
  ReadRow(y, z, out);
  m_pixels = pixels;
  m_width = width;
  m_rowBytes = rowBytes;
}

HRESULT PixelCodec::BuildPaletteColors() {
  m_paletteColours.reset(new (std::nothrow) ColorF[256]);
  if (!m_paletteColours) return E_OUTOFMEMORY;
  constexpr float k = 1.0f / 255.0f;
  for (int i = 0; i < 256; ++i) {
    if (m_palette) {
      const PaletteEntry& e = m_palette[i];
      m_paletteColours[i] = ColorF(e.red * k, e.green * k, e.blue * k, e.flags * k);
    } else {
      m_paletteColours[i] = ColorF(1, 1, 1, 1);
    }
  }
  return S_OK;
}

HRESULT PixelCodec::AllocateAdaptRow() {
  if (m_adaptRowStorage) return S_OK;
  m_adaptRowStorage.reset(new (std::nothrow) ColorF[m_width ? m_width : 1]);
  if (!m_adaptRowStorage) return E_OUTOFMEMORY;
  m_adaptRow = m_adaptRowStorage.get();
  return S_OK;
}

HRESULT PixelCodec::PrepareForFloatRows() {
  if (m_range != ChannelRange::Float) m_otherRange = ChannelRange::Float;
  if (m_otherRange != ChannelRange::None || m_srgb) return AllocateAdaptRow();
  return S_OK;
}

HRESULT PreparePixelCodecPair(PixelCodec* destination, PixelCodec* source) {
  if (!destination || !source) return E_FAIL;
  if (destination->m_range != source->m_range && destination->m_range != ChannelRange::Float)
    destination->m_otherRange = source->m_range;
  if (destination->m_otherRange == ChannelRange::None && !destination->m_srgb) return S_OK;
  const HRESULT hr = destination->AllocateAdaptRow();
  if (FAILED(hr)) return hr;
  if (destination->m_srgb && source->m_srgb) destination->m_srgbBoth = source->m_srgbBoth = true;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Row helpers

namespace {

inline float Map(float x) { return (x + 1.0f) * 0.5f; }
inline float Unmap(float x) { return 2.0f * x - 1.0f; }
inline float Clamp(float x, float lo, float hi) { return x < lo ? lo : (x > hi ? hi : x); }

}  // namespace

ColorF* PixelCodec::AdaptRowRange(const ColorF* row) {
  // Without a prepared adapt row the caller's row is converted in place.
  ColorF* out = m_adaptRow ? m_adaptRow : const_cast<ColorF*>(row);
  const std::uint32_t w = m_width;
  const ChannelRange from = m_otherRange;
  switch (m_range) {
    case ChannelRange::Unorm:
      if (from == ChannelRange::SnormColor) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Map(row[x].r), Map(row[x].g), Map(row[x].b), row[x].a);
      } else if (from == ChannelRange::SnormAll) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Map(row[x].r), Map(row[x].g), Map(row[x].b), Map(row[x].a));
      } else if (from == ChannelRange::Float) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Clamp(row[x].r, 0, 1), Clamp(row[x].g, 0, 1), Clamp(row[x].b, 0, 1),
                          Clamp(row[x].a, 0, 1));
      } else if (out != row) {
        std::memcpy(out, row, w * sizeof(ColorF));
      }
      break;
    case ChannelRange::SnormColor:
      if (from == ChannelRange::Unorm) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Unmap(row[x].r), Unmap(row[x].g), Unmap(row[x].b), row[x].a);
      } else if (from == ChannelRange::SnormAll) {
        for (std::uint32_t x = 0; x < w; ++x) out[x] = ColorF(row[x].r, row[x].g, row[x].b, Map(row[x].a));
      } else if (from == ChannelRange::Float) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Clamp(row[x].r, -1, 1), Clamp(row[x].g, -1, 1), Clamp(row[x].b, -1, 1),
                          Clamp(row[x].a, 0, 1));
      } else if (out != row) {
        std::memcpy(out, row, w * sizeof(ColorF));
      }
      break;
    case ChannelRange::SnormAll:
      if (from == ChannelRange::Unorm) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Unmap(row[x].r), Unmap(row[x].g), Unmap(row[x].b), Unmap(row[x].a));
      } else if (from == ChannelRange::SnormColor) {
        for (std::uint32_t x = 0; x < w; ++x) out[x] = ColorF(row[x].r, row[x].g, row[x].b, Unmap(row[x].a));
      } else if (from == ChannelRange::Float) {
        for (std::uint32_t x = 0; x < w; ++x)
          out[x] = ColorF(Clamp(row[x].r, -1, 1), Clamp(row[x].g, -1, 1), Clamp(row[x].b, -1, 1),
                          Clamp(row[x].a, -1, 1));
      } else if (out != row) {
        std::memcpy(out, row, w * sizeof(ColorF));
      }
      break;
    default:  // float codecs are never adapted
      if (out != row) std::memcpy(out, row, w * sizeof(ColorF));
      break;
  }
  return out;
}

ColorF* PixelCodec::LinearToSrgbRow(const ColorF* row) {
  ColorF* out = m_adaptRow ? m_adaptRow : const_cast<ColorF*>(row);
  const std::uint32_t w = m_width;
  const bool alphaOnly = m_range == ChannelRange::SnormColor || m_range == ChannelRange::SnormAll;
  if (m_srgbBoth) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const ColorF& c = row[x];
      out[x] = alphaOnly ? ColorF(c.r, c.g, c.b, FastSqrt(c.a))
                         : ColorF(FastSqrt(c.r), FastSqrt(c.g), FastSqrt(c.b), c.a);
    }
  } else {
    for (std::uint32_t x = 0; x < w; ++x) {
      const ColorF& c = row[x];
      out[x] = alphaOnly ? ColorF(c.r, c.g, c.b, LinearToSrgb(c.a))
                         : ColorF(LinearToSrgb(c.r), LinearToSrgb(c.g), LinearToSrgb(c.b), c.a);
    }
  }
  return out;
}

void PixelCodec::SrgbToLinearRow(ColorF* row) {
  const std::uint32_t w = m_width;
  const bool alphaOnly = m_range == ChannelRange::SnormColor || m_range == ChannelRange::SnormAll;
  for (std::uint32_t x = 0; x < w; ++x) {
    ColorF& c = row[x];
    if (m_srgbBoth) {
      if (alphaOnly) {
        c.a = c.a * c.a;
      } else {
        c.r = c.r * c.r;
        c.g = c.g * c.g;
        c.b = c.b * c.b;
      }
    } else if (alphaOnly) {
      c.a = SrgbToLinear(c.a);
    } else {
      c.r = SrgbToLinear(c.r);
      c.g = SrgbToLinear(c.g);
      c.b = SrgbToLinear(c.b);
    }
  }
}

void PixelCodec::ApplyColorKey(ColorF* row) {
  const ColorF k = m_keyColour;
  for (std::uint32_t x = 0; x < m_width; ++x)
    if (row[x].r == k.r && row[x].g == k.g && row[x].b == k.b && row[x].a == k.a) row[x] = ColorF(0, 0, 0, 0);
}

void PixelCodec::AddDiffusedError(ColorF* row) {
  ColorF* d = m_diffusionRow.get();
  for (std::uint32_t x = 0; x < m_width; ++x) {
    row[x].r += d[x + 1].r;
    row[x].g += d[x + 1].g;
    row[x].b += d[x + 1].b;
    row[x].a += d[x + 1].a;
  }
  std::memset(d, 0, (std::uint64_t{m_width} + 2) * sizeof(ColorF));
}

ColorF* PixelCodec::PrepareRowForWrite(ColorF* row) {
  if (m_otherRange != ChannelRange::None) row = AdaptRowRange(row);
  if (m_srgb) row = LinearToSrgbRow(row);
  return row;
}

PixelCodec::RowTarget PixelCodec::TargetRow(std::uint32_t y, std::uint32_t z) const {
  return RowTarget{RowAddress(y, z), m_width, (y & 1) != 0, m_roundingTable + (y & 3) * 8 + (z & 3),
                   m_diffusionRow.get()};
}

// ---------------------------------------------------------------------------
// Colour keys

void PixelCodec::QuantizeColorKey() {
  // Narrow the codec to one scratch texel and let the key make the round trip
  // through the format. The key is compared with texels as stored (before any
  // sRGB decode), so the sRGB conversions stay out of the round trip.
  alignas(16) std::uint8_t scratch[16] = {};
  std::uint8_t* const pixels = m_pixels;
  const std::uint32_t width = m_width;
  const std::uint32_t rowBytes = m_rowBytes;
  const std::uint32_t colourKey = m_colourKey;
  const float* const roundingTable = m_roundingTable;
  ColorF* const adaptRow = m_adaptRow;
  const ChannelRange otherRange = m_otherRange;
  const bool srgb = m_srgb;
  std::unique_ptr<ColorF[]> diffusion = std::move(m_diffusionRow);

  m_pixels = scratch;
  m_width = 1;
  m_rowBytes = m_bytesPerTexel;
  m_colourKey = 0;
  m_roundingTable = DitherTable.rounding;
  m_adaptRow = &m_keyColour;
  m_srgb = false;
  if (m_range == ChannelRange::SnormColor || m_range == ChannelRange::SnormAll) {
    m_otherRange = ChannelRange::Unorm;
    AdaptRowRange(&m_keyColour);
  }
  m_otherRange = ChannelRange::None;
  WriteRow(0, 0, &m_keyColour);
  ReadRow(0, 0, &m_keyColour);

  m_pixels = pixels;
  m_width = width;
  m_rowBytes = rowBytes;
  m_colourKey = colourKey;
  m_roundingTable = roundingTable;
  m_adaptRow = adaptRow;
  m_otherRange = otherRange;
  m_srgb = srgb;
  m_diffusionRow = std::move(diffusion);
}
