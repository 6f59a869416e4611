#include "d3d9/raster/texture_cache.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/surface.h"
#include "testing/failure.h"

namespace platform::d3d9::raster {
namespace {

constexpr std::uint32_t kMagenta = 0xFFFF00FFu;

inline std::uint32_t Argb(unsigned a, unsigned r, unsigned g, unsigned b) { return a << 24 | r << 16 | g << 8 | b; }
inline unsigned Widen5(unsigned v) { return (v << 3) | (v >> 2); }
inline unsigned Widen6(unsigned v) { return (v << 2) | (v >> 4); }
inline unsigned Widen3(unsigned v) { return (v << 5) | (v << 2) | (v >> 1); }
inline unsigned Widen10(unsigned v) { return (v * 255 + 511) / 1023; }
inline unsigned Widen16(unsigned v) { return (v * 255 + 32767) / 65535; }

unsigned FromFloat(float f) {
  if (!(f > 0.0f)) return 0;  // negative and NaN
  if (f >= 1.0f) return 255;
  return static_cast<unsigned>(std::nearbyint(f * 255.0f));
}

float FromHalf(std::uint16_t h) {
  const unsigned sign = h >> 15, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  float v;
  if (exponent == 0) v = std::ldexp(static_cast<float>(mantissa), -24);
  else if (exponent == 31) v = mantissa ? NAN : INFINITY;
  else v = std::ldexp(static_cast<float>(mantissa | 0x400), static_cast<int>(exponent) - 25);
  return sign ? -v : v;
}

std::uint32_t From565(std::uint16_t c) { return Argb(255, Widen5(c >> 11), Widen6((c >> 5) & 0x3F), Widen5(c & 0x1F)); }

// The four-entry palette of a DXT colour block; `threeColour` allows DXT1's
// transparent-black entry.
void ColourPalette(const std::uint8_t* block, bool allowTransparent, std::uint32_t palette[4]) {
  const std::uint16_t c0 = Load<std::uint16_t>(block), c1 = Load<std::uint16_t>(block + 2);
  palette[0] = From565(c0);
  palette[1] = From565(c1);
  auto mix = [&](unsigned w0, unsigned w1, unsigned div) {
    std::uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8)
      out |= (((palette[0] >> shift & 0xFF) * w0 + (palette[1] >> shift & 0xFF) * w1 + div / 2) / div) << shift;
    return out;
  };
  if (c0 > c1 || !allowTransparent) {
    palette[2] = mix(2, 1, 3);
    palette[3] = mix(1, 2, 3);
  } else {
    palette[2] = mix(1, 1, 2);
    palette[3] = 0;  // transparent black
  }
}

// Marks the texels of alpha 0 (SampleCache::clear), when some row holds a run
// of 8 of them, which a draw might skip.
void MarkClearTexels(const std::uint32_t* texels, std::ptrdiff_t pitch, std::int32_t width, std::int32_t height,
                     SampleCache& cache) {
  cache.clear = nullptr;
  const std::size_t words = (std::size_t(width) + 63) / 64;
  if (!cache.clearStorage.Allocate(std::uint64_t(height) * words * 8)) return;
  auto* marks = reinterpret_cast<std::uint64_t*>(cache.clearStorage.Data());  // zeroed
  std::uint64_t groups = 0;  // aligned groups of 8 clear texels
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint32_t* row = texels + y * pitch;
    std::uint64_t* out = marks + std::size_t(y) * words;
    for (std::int32_t x = 0; x < width; ++x) out[x / 64] |= std::uint64_t(row[x] < 0x01000000u) << (x % 64);
    for (std::int32_t g = 0; g < width / 8; ++g) groups += (out[g / 8] >> (8 * (g % 8)) & 0xFF) == 0xFF;
  }
  if (groups) {
    cache.clear = marks;
    cache.clearWords = words;
    cache.clearShare = static_cast<unsigned>(groups * 256 / (std::uint64_t(height) * std::uint64_t(width / 8)));
  }
}

}  // namespace

void DecodeDxtBlock(D3DFORMAT format, const std::uint8_t* block, std::uint32_t out[16]) {
  const bool dxt1 = format == D3DFMT_DXT1;
  const std::uint8_t* colour = dxt1 ? block : block + 8;
  std::uint32_t palette[4];
  ColourPalette(colour, dxt1, palette);
  const std::uint32_t indices = Load<std::uint32_t>(colour + 4);
  for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
  if (dxt1) return;
  if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
    const std::uint64_t bits = Load<std::uint64_t>(block);
    for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0xFFFFFF) | static_cast<std::uint32_t>(((bits >> (4 * i)) & 0xF) * 17) << 24;
    return;
  }
  const unsigned a0 = block[0], a1 = block[1];
  unsigned alpha[8] = {a0, a1};
  if (a0 > a1) {
    for (unsigned j = 1; j <= 6; ++j) alpha[j + 1] = ((7 - j) * a0 + j * a1 + 3) / 7;
  } else {
    for (unsigned j = 1; j <= 4; ++j) alpha[j + 1] = ((5 - j) * a0 + j * a1 + 2) / 5;
    alpha[6] = 0;
    alpha[7] = 255;
  }
  std::uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= std::uint64_t(block[2 + i]) << (8 * i);
  for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0xFFFFFF) | alpha[(bits >> (3 * i)) & 7] << 24;
}

bool DecodeRow(D3DFORMAT format, const std::uint8_t* p, int width, std::uint32_t* out) {
  for (int x = 0; x < width; ++x) {
    std::uint32_t v;
    switch (format) {
      case D3DFMT_A8R8G8B8: v = Load<std::uint32_t>(p + 4 * x); break;
      case D3DFMT_X8R8G8B8: v = Load<std::uint32_t>(p + 4 * x) | 0xFF000000u; break;
      case D3DFMT_A8B8G8R8:
      case D3DFMT_X8B8G8R8: {
        const std::uint32_t c = Load<std::uint32_t>(p + 4 * x);
        v = (c & 0xFF00FF00u) | (c >> 16 & 0xFF) | (c & 0xFF) << 16;
        if (format == D3DFMT_X8B8G8R8) v |= 0xFF000000u;
        break;
      }
      case D3DFMT_R5G6B5: v = From565(Load<std::uint16_t>(p + 2 * x)); break;
      case D3DFMT_X1R5G5B5:
      case D3DFMT_A1R5G5B5: {
        const unsigned c = Load<std::uint16_t>(p + 2 * x);
        const unsigned a = format == D3DFMT_X1R5G5B5 || (c & 0x8000) ? 255 : 0;
        v = Argb(a, Widen5(c >> 10 & 0x1F), Widen5(c >> 5 & 0x1F), Widen5(c & 0x1F));
        break;
      }
      case D3DFMT_A4R4G4B4:
      case D3DFMT_X4R4G4B4: {
        const unsigned c = Load<std::uint16_t>(p + 2 * x);
        const unsigned a = format == D3DFMT_X4R4G4B4 ? 255 : (c >> 12) * 17;
        v = Argb(a, (c >> 8 & 0xF) * 17, (c >> 4 & 0xF) * 17, (c & 0xF) * 17);
        break;
      }
      case D3DFMT_R3G3B2:
      case D3DFMT_A8R3G3B2: {
        const bool alpha = format == D3DFMT_A8R3G3B2;
        const unsigned c = alpha ? Load<std::uint16_t>(p + 2 * x) : p[x];
        v = Argb(alpha ? c >> 8 : 255, Widen3(c >> 5 & 7), Widen3(c >> 2 & 7), (c & 3) * 85);
        break;
      }
      case D3DFMT_A8: v = std::uint32_t(p[x]) << 24; break;
      case D3DFMT_L8: v = Argb(255, p[x], p[x], p[x]); break;
      case D3DFMT_A8L8: v = Argb(p[2 * x + 1], p[2 * x], p[2 * x], p[2 * x]); break;
      case D3DFMT_A4L4: {
        const unsigned l = (p[x] & 0xF) * 17;
        v = Argb((p[x] >> 4) * 17, l, l, l);
        break;
      }
      case D3DFMT_L16: {
        const unsigned l = Widen16(Load<std::uint16_t>(p + 2 * x));
        v = Argb(255, l, l, l);
        break;
      }
      case D3DFMT_A2B10G10R10:
      case D3DFMT_A2R10G10B10: {
        const std::uint32_t c = Load<std::uint32_t>(p + 4 * x);
        unsigned r = Widen10(c & 0x3FF), g = Widen10(c >> 10 & 0x3FF), b = Widen10(c >> 20 & 0x3FF);
        if (format == D3DFMT_A2R10G10B10) std::swap(r, b);
        v = Argb((c >> 30) * 85, r, g, b);
        break;
      }
      case D3DFMT_G16R16: {
        const std::uint32_t c = Load<std::uint32_t>(p + 4 * x);
        v = Argb(255, Widen16(c & 0xFFFF), Widen16(c >> 16), 255);
        break;
      }
      case D3DFMT_A16B16G16R16: {
        const std::uint8_t* t = p + 8 * x;
        v = Argb(Widen16(Load<std::uint16_t>(t + 6)), Widen16(Load<std::uint16_t>(t)), Widen16(Load<std::uint16_t>(t + 2)),
                 Widen16(Load<std::uint16_t>(t + 4)));
        break;
      }
      // Float formats: channels a format lacks read 1.0.
      case D3DFMT_R16F: v = Argb(255, FromFloat(FromHalf(Load<std::uint16_t>(p + 2 * x))), 255, 255); break;
      case D3DFMT_G16R16F:
        v = Argb(255, FromFloat(FromHalf(Load<std::uint16_t>(p + 4 * x))),
                 FromFloat(FromHalf(Load<std::uint16_t>(p + 4 * x + 2))), 255);
        break;
      case D3DFMT_A16B16G16R16F: {
        const std::uint8_t* t = p + 8 * x;
        v = Argb(FromFloat(FromHalf(Load<std::uint16_t>(t + 6))), FromFloat(FromHalf(Load<std::uint16_t>(t))),
                 FromFloat(FromHalf(Load<std::uint16_t>(t + 2))), FromFloat(FromHalf(Load<std::uint16_t>(t + 4))));
        break;
      }
      case D3DFMT_R32F: v = Argb(255, FromFloat(Load<float>(p + 4 * x)), 255, 255); break;
      case D3DFMT_G32R32F:
        v = Argb(255, FromFloat(Load<float>(p + 8 * x)), FromFloat(Load<float>(p + 8 * x + 4)), 255);
        break;
      case D3DFMT_A32B32G32R32F: {
        const std::uint8_t* t = p + 16 * x;
        v = Argb(FromFloat(Load<float>(t + 12)), FromFloat(Load<float>(t)), FromFloat(Load<float>(t + 4)),
                 FromFloat(Load<float>(t + 8)));
        break;
      }
      default: return false;
    }
    out[x] = v;
  }
  return true;
}

TexLevel MagentaLevel() {
  static const std::uint32_t texel = kMagenta;
  TexLevel l;
  l.texels = &texel;
  l.width = l.height = 1;
  l.pitch = 1;
  l.opaque = true;
  return l;
}

void ResolveLevel(Surface& s, TexLevel* out) {
  const D3DFORMAT format = s.Format();
  SampleCache& cache = s.Cache();
  TexLevel l;
  l.width = static_cast<std::int32_t>(s.Width());
  l.height = static_cast<std::int32_t>(s.Height());
  if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8) {
    l.texels = reinterpret_cast<const std::uint32_t*>(s.Bits());
    l.pitch = s.Pitch() / 4;
    if (format == D3DFMT_X8R8G8B8) {
      l.alphaOr = 0xFF000000u;
      cache.opaque = true;
    } else if (cache.dirty) {
      // Render targets change with every draw; only other levels are scanned.
      bool opaque = !s.IsRenderTarget();
      for (std::int32_t y = 0; opaque && y < l.height; ++y)
        for (std::int32_t x = 0; x < l.width; ++x)
          if (l.texels[y * l.pitch + x] < 0xFF000000u) {
            opaque = false;
            break;
          }
      cache.opaque = opaque;
      cache.clear = nullptr;
      if (!opaque && !s.IsRenderTarget()) MarkClearTexels(l.texels, l.pitch, l.width, l.height, cache);
    }
    cache.dirty = false;
    l.opaque = cache.opaque;
    if (format == D3DFMT_A8R8G8B8) {
      l.clear = cache.clear;
      l.clearWords = static_cast<std::ptrdiff_t>(cache.clearWords);
      l.clearShare = cache.clearShare;
    }
    *out = l;
    return;
  }
  if (l.width > 8192 || l.height > 8192) {
    platform::detail::CountDiagnostic("d3d9.unsampled-format");
    *out = MagentaLevel();
    return;
  }
  if (cache.dirty || !cache.texels) {
    const std::size_t count = std::size_t(l.width) * l.height;
    if (!cache.texels && !cache.storage.Allocate(count * 4)) {
      platform::detail::CountDiagnostic("d3d9.sample-copy-memory");
      *out = MagentaLevel();
      return;
    }
    auto* texels = reinterpret_cast<std::uint32_t*>(cache.storage.Data());
    bool ok = true;
    if (IsDxt(format)) {
      std::uint32_t block[16];
      const UINT blockBytes = s.Info().bytes;
      for (std::int32_t by = 0; by < (l.height + 3) / 4; ++by)
        for (std::int32_t bx = 0; bx < (l.width + 3) / 4; ++bx) {
          DecodeDxtBlock(format, s.Bits() + std::size_t(by) * s.Pitch() + std::size_t(bx) * blockBytes, block);
          for (int i = 0; i < 16; ++i) {
            const std::int32_t x = bx * 4 + i % 4, y = by * 4 + i / 4;
            if (x < l.width && y < l.height) texels[std::size_t(y) * l.width + x] = block[i];
          }
        }
    } else {
      for (std::int32_t y = 0; ok && y < l.height; ++y)
        ok = DecodeRow(format, s.Bits() + std::size_t(y) * s.Pitch(), l.width, texels + std::size_t(y) * l.width);
    }
    if (!ok) {
      platform::detail::CountDiagnostic("d3d9.unsampled-format");
      *out = MagentaLevel();
      return;
    }
    bool opaque = true;
    for (std::size_t i = 0; i < count && opaque; ++i) opaque = texels[i] >= 0xFF000000u;
    cache.texels = texels;
    cache.opaque = opaque;
    cache.dirty = false;
    cache.clear = nullptr;
    if (!opaque) MarkClearTexels(texels, l.width, l.width, l.height, cache);
  }
  l.texels = cache.texels;
  l.pitch = l.width;
  l.opaque = cache.opaque;
  l.clear = cache.clear;
  l.clearWords = static_cast<std::ptrdiff_t>(cache.clearWords);
  l.clearShare = cache.clearShare;
  *out = l;
}

}  // namespace platform::d3d9::raster
