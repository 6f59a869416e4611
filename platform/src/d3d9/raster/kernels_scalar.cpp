// The scalar reference kernels. They define the pixel arithmetic; the SSE2 and
// AVX2 kernels reproduce it bit for bit and call these for what they leave out.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/raster/raster.h"
#include "platform/d3d9_types.h"

namespace platform::d3d9::raster {
namespace {

int Mod(int x, int m) {
  const int r = x % m;
  return r < 0 ? r + m : r;
}

inline std::uint32_t Fetch(const SampleParams& p, int x, int y) {
  const int tx = AddressTexel(x, p.level.width, p.addrU);
  const int ty = AddressTexel(y, p.level.height, p.addrV);
  if (tx < 0 || ty < 0) return p.border;
  return p.level.texels[ty * p.level.pitch + tx] | p.level.alphaOr;
}

inline std::uint32_t SampleOne(const SampleParams& p, std::int32_t s, std::int32_t t) {
  if (!p.linear) return Fetch(p, (s + 0x8000) >> 16, (t + 0x8000) >> 16);
  const int x0 = s >> 16, y0 = t >> 16;
  const unsigned fx = (s >> 8) & 0xFF, fy = (t >> 8) & 0xFF;
  return Bilinear(Fetch(p, x0, y0), Fetch(p, x0 + 1, y0), Fetch(p, x0, y0 + 1), Fetch(p, x0 + 1, y0 + 1), fx, fy);
}

void Sample(const SampleParams& p, const std::int32_t* s, const std::int32_t* t, std::uint32_t* out, int n) {
  for (int k = 0; k < n; ++k) out[k] = SampleOne(p, s[k], t[k]);
}

void SampleLine(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt,
                std::uint32_t* out, int n) {
  std::uint32_t s = static_cast<std::uint32_t>(s0), t = static_cast<std::uint32_t>(t0);
  for (int k = 0; k < n; ++k, s += static_cast<std::uint32_t>(ds), t += static_cast<std::uint32_t>(dt))
    out[k] = SampleOne(p, static_cast<std::int32_t>(s), static_cast<std::int32_t>(t));
}

void Lerp(const std::uint32_t* a, const std::uint32_t* b, unsigned w, std::uint32_t* out, int n) {
  for (int k = 0; k < n; ++k) {
    std::uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8)
      v |= ((((a[k] >> shift) & 0xFF) * (256 - w) + ((b[k] >> shift) & 0xFF) * w + 128) >> 8) << shift;
    out[k] = v;
  }
}

void Gouraud(const std::int32_t* start, const std::int32_t* step, std::uint32_t* out, int n) {
  for (int k = 0; k < n; ++k) {
    std::uint32_t v = 0;
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t fixed =
          static_cast<std::uint32_t>(start[c]) + static_cast<std::uint32_t>(k) * static_cast<std::uint32_t>(step[c]);
      const std::int32_t value = static_cast<std::int32_t>(fixed + 0x8000) >> 16;
      v |= static_cast<std::uint32_t>(std::clamp(value, 0, 255)) << (8 * c);
    }
    out[k] = v;
  }
}

void Modulate(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t* out, int n, std::uint32_t modMask,
              std::uint32_t aMask, std::uint32_t bMask) {
  for (int k = 0; k < n; ++k) {
    std::uint32_t m = 0;
    for (int shift = 0; shift < 32; shift += 8)
      m |= Div255(((a[k] >> shift) & 0xFF) * ((b[k] >> shift) & 0xFF)) << shift;
    out[k] = (m & modMask) | (a[k] & aMask) | (b[k] & bMask);
  }
}

void ModulateConst(const std::uint32_t* a, std::uint32_t b, std::uint32_t* out, int n, std::uint32_t modMask,
                   std::uint32_t aMask, std::uint32_t bMask) {
  for (int k = 0; k < n; ++k) Modulate(a + k, &b, out + k, 1, modMask, aMask, bMask);
}

int AlphaTest(const std::uint32_t* c, std::uint8_t* live, int n, unsigned func, unsigned ref) {
  int count = 0;
  for (int k = 0; k < n; ++k) {
    live[k] = live[k] && Compare(func, c[k] >> 24, ref);
    count += live[k];
  }
  return count;
}

int Depth(const DepthParams& p, void* row, std::uint8_t* live, int n) {
  int count = 0;
  for (int k = 0; k < n; ++k) {
    const float z = p.zRow + static_cast<float>(p.firstX + k) * p.dzdx;
    const std::uint32_t q = QuantiseDepth(z, p.format);
    bool pass;
    if (p.format == DepthFormat::D16) {
      std::uint16_t* d = static_cast<std::uint16_t*>(row) + k;
      pass = Compare(p.func, q, *d);
      if (pass && live[k] && p.write) *d = static_cast<std::uint16_t>(q);
    } else {
      std::uint32_t* d = static_cast<std::uint32_t*>(row) + k;
      if (p.format == DepthFormat::D24) {
        pass = Compare(p.func, q, *d >> 8);
        if (pass && live[k] && p.write) *d = (q << 8) | (*d & 0xFF);
      } else {
        pass = Compare(p.func, q, *d);
        if (pass && live[k] && p.write) *d = q;
      }
    }
    live[k] = live[k] && pass;
    count += live[k];
  }
  return count;
}

inline std::uint32_t BlendFast(BlendKind kind, std::uint32_t s, std::uint32_t d) {
  if (kind == BlendKind::Replace) return s;
  const unsigned sa = s >> 24;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const unsigned sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
    unsigned v;
    switch (kind) {
      case BlendKind::SrcAlpha: v = Div255(sc * sa + dc * (255 - sa)); break;
      case BlendKind::SrcAlphaAdd: v = std::min(255u, Div255(sc * sa) + dc); break;
      default: v = std::min(255u, sc + dc); break;
    }
    out |= v << shift;
  }
  return out;
}

// One pixel blended and written through the mask.
inline void Put(const WriteParams& p, std::uint32_t src, std::uint32_t* dst) {
  const std::uint32_t d = *dst;
  *dst = (BlendPixel(p, src, d) & ~p.keep) | (d & p.keep) | p.alphaOr;
}

void Write(const WriteParams& p, const std::uint32_t* src, std::uint32_t* dst, const std::uint8_t* live, int n) {
  for (int k = 0; k < n; ++k)
    if (!live || live[k]) Put(p, src[k], dst + k);
}

void Fill(const WriteParams& p, std::uint32_t colour, std::uint32_t* dst, const std::uint8_t* live, int n) {
  for (int k = 0; k < n; ++k)
    if (!live || live[k]) Put(p, colour, dst + k);
}

unsigned Factor(unsigned f, int shift, std::uint32_t s, std::uint32_t d, std::uint32_t blendFactor) {
  const unsigned sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF, sa = s >> 24, da = d >> 24;
  switch (f) {
    case D3DBLEND_ZERO: return 0;
    case D3DBLEND_SRCCOLOR: return sc;
    case D3DBLEND_INVSRCCOLOR: return 255 - sc;
    case D3DBLEND_SRCALPHA: return sa;
    case D3DBLEND_INVSRCALPHA: return 255 - sa;
    case D3DBLEND_DESTALPHA: return da;
    case D3DBLEND_INVDESTALPHA: return 255 - da;
    case D3DBLEND_DESTCOLOR: return dc;
    case D3DBLEND_INVDESTCOLOR: return 255 - dc;
    case D3DBLEND_SRCALPHASAT: return shift == 24 ? 255 : std::min(sa, 255 - da);
    case D3DBLEND_BLENDFACTOR: return (blendFactor >> shift) & 0xFF;
    case D3DBLEND_INVBLENDFACTOR: return 255 - ((blendFactor >> shift) & 0xFF);
    default: return 255;  // ONE (and codes resolved before drawing)
  }
}

}  // namespace

int AddressTexel(int x, int size, std::uint8_t mode) {
  const bool pow2 = (size & (size - 1)) == 0;
  switch (mode) {
    case kMirror: {
      const int m = pow2 ? x & (2 * size - 1) : Mod(x, 2 * size);
      return m < size ? m : 2 * size - 1 - m;
    }
    case kClamp: return x < 0 ? 0 : x >= size ? size - 1 : x;
    case kBorder: return x < 0 || x >= size ? -1 : x;
    case kMirrorOnce:
      if (x < 0) x = -(x + 1);
      return x >= size ? size - 1 : x;
    default: return pow2 ? x & (size - 1) : Mod(x, size);
  }
}

std::uint32_t QuantiseDepth(float z, DepthFormat format) {
  if (!(z > 0.0f)) z = 0.0f;  // NaN reads as 0
  if (z > 1.0f) z = 1.0f;
  switch (format) {
    case DepthFormat::D16: return static_cast<std::uint32_t>(std::nearbyint(z * 65535.0f));
    case DepthFormat::D24: return static_cast<std::uint32_t>(std::nearbyint(static_cast<double>(z) * 16777215.0));
    case DepthFormat::D32: return static_cast<std::uint32_t>(std::nearbyint(static_cast<double>(z) * 4294967295.0));
    default: {
      std::uint32_t bits;
      std::memcpy(&bits, &z, 4);
      return bits;  // non-negative floats order like their bit patterns
    }
  }
}

bool Compare(unsigned func, std::uint32_t value, std::uint32_t reference) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return value < reference;
    case D3DCMP_EQUAL: return value == reference;
    case D3DCMP_LESSEQUAL: return value <= reference;
    case D3DCMP_GREATER: return value > reference;
    case D3DCMP_NOTEQUAL: return value != reference;
    case D3DCMP_GREATEREQUAL: return value >= reference;
    default: return true;
  }
}

std::uint32_t BlendPixel(const WriteParams& p, std::uint32_t s, std::uint32_t d) {
  if (p.kind != BlendKind::General) return BlendFast(p.kind, s, d);
  d |= p.alphaOr;  // the destination alpha of an X8 target reads 255
  const BlendState& b = p.blend;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const bool alpha = shift == 24;
    const unsigned op = alpha ? b.opAlpha : b.opColor;
    const int sc = static_cast<int>((s >> shift) & 0xFF), dc = static_cast<int>((d >> shift) & 0xFF);
    int v;
    if (op == D3DBLENDOP_MIN) {
      v = std::min(sc, dc);
    } else if (op == D3DBLENDOP_MAX) {
      v = std::max(sc, dc);
    } else {
      const int fs = static_cast<int>(Factor(alpha ? b.srcAlpha : b.srcColor, shift, s, d, b.factor));
      const int fd = static_cast<int>(Factor(alpha ? b.dstAlpha : b.dstColor, shift, s, d, b.factor));
      int x = op == D3DBLENDOP_SUBTRACT      ? sc * fs - dc * fd
              : op == D3DBLENDOP_REVSUBTRACT ? dc * fd - sc * fs
                                             : sc * fs + dc * fd;
      v = x <= 0 ? 0 : std::min(255, (x + 127) / 255);
    }
    out |= static_cast<std::uint32_t>(v) << shift;
  }
  return out;
}

const Kernels& ScalarKernels() {
  static const Kernels k{Sample, SampleLine, Lerp, Gouraud, Modulate, ModulateConst, AlphaTest, Depth, Write, Fill, true};
  return k;
}

}  // namespace platform::d3d9::raster
