// A per-pixel reference of the rendering rules, written for the tests only and
// independently of the pipeline: coverage by the snapped positions and the
// top-left rule in double precision, attributes by barycentric weights in
// double, one texture stage, alpha test and blending straight from their
// definitions. No fixed point, no spans, no planes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/d3d9_types.h"

namespace reference {

struct Vertex {
  double x, y;  // screen position (pre-transformed)
  std::uint32_t color;
  double u, v;
  double rhw = 1.0;  // attributes are interpolated perspective-correctly
};

struct State {
  // Texture (none when texels is empty).
  int width = 0, height = 0;
  std::vector<std::uint32_t> texels;
  bool linear = false;
  DWORD addrU = D3DTADDRESS_WRAP, addrV = D3DTADDRESS_WRAP;
  std::uint32_t border = 0;
  // Stage 0.
  DWORD colorOp = D3DTOP_MODULATE, colorArg1 = D3DTA_TEXTURE, colorArg2 = D3DTA_DIFFUSE;
  DWORD alphaOp = D3DTOP_SELECTARG1, alphaArg1 = D3DTA_TEXTURE, alphaArg2 = D3DTA_DIFFUSE;
  std::uint32_t tfactor = 0xFFFFFFFF;
  // Alpha test and blending.
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_ALWAYS, alphaRef = 0;
  bool blend = false;
  DWORD srcBlend = D3DBLEND_ONE, dstBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
};

inline double Snap(double v) { return std::nearbyint(v * 256.0) / 256.0; }

// Whether the centre of pixel (i, j) belongs to the triangle.
inline bool Covers(const Vertex t[3], int i, int j) {
  double x[3], y[3];
  for (int k = 0; k < 3; ++k) x[k] = Snap(t[k].x), y[k] = Snap(t[k].y);
  const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  if (area == 0) return false;
  for (int k = 0; k < 3; ++k) {
    const int a = k, b = (k + 1) % 3, c = (k + 2) % 3;
    // Which side of edge a-b the centre and the opposite vertex lie on.
    const double side = (x[b] - x[a]) * (j - y[a]) - (y[b] - y[a]) * (i - x[a]);
    const double inside = (x[b] - x[a]) * (y[c] - y[a]) - (y[b] - y[a]) * (x[c] - x[a]);
    if (side * inside < 0) return false;
    if (side == 0) {
      // On the edge: only top edges (horizontal, triangle below) and left
      // edges (triangle to their right) keep it.
      const bool horizontal = y[a] == y[b];
      const bool top = horizontal && y[c] > y[a];
      const double xAtC = x[a] + (x[b] - x[a]) * (y[c] - y[a]) / (y[b] - y[a]);
      const bool left = !horizontal && x[c] > xAtC;
      if (!top && !left) return false;
    }
  }
  return true;
}

inline int Channel(std::uint32_t c, int i) { return int((c >> (8 * i)) & 0xFF); }
inline int Round255(long v) { return v <= 0 ? 0 : int(std::min<long>(255, (v + 127) / 255)); }

inline int Address(int x, int size, DWORD mode) {
  switch (mode) {
    case D3DTADDRESS_CLAMP: return std::clamp(x, 0, size - 1);
    case D3DTADDRESS_BORDER: return x < 0 || x >= size ? -1 : x;
    case D3DTADDRESS_MIRROR: {
      int m = ((x % (2 * size)) + 2 * size) % (2 * size);
      return m < size ? m : 2 * size - 1 - m;
    }
    case D3DTADDRESS_MIRRORONCE: return std::min(x < 0 ? -x - 1 : x, size - 1);
    default: return ((x % size) + size) % size;
  }
}

inline std::uint32_t Texel(const State& s, int x, int y) {
  const int tx = Address(x, s.width, s.addrU), ty = Address(y, s.height, s.addrV);
  return tx < 0 || ty < 0 ? s.border : s.texels[std::size_t(ty) * s.width + tx];
}

// Texel centres at (i + 1/2) / size; LINEAR weights are the fraction's top 8 bits.
inline std::uint32_t Sample(const State& st, double u, double v) {
  const double s = u * st.width - 0.5, t = v * st.height - 0.5;
  if (!st.linear) return Texel(st, int(std::floor(s + 0.5)), int(std::floor(t + 0.5)));
  const int x0 = int(std::floor(s)), y0 = int(std::floor(t));
  const int fx = int((s - x0) * 256), fy = int((t - y0) * 256);
  std::uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const long sum = long(Channel(Texel(st, x0, y0), c)) * (256 - fx) * (256 - fy) +
                     long(Channel(Texel(st, x0 + 1, y0), c)) * fx * (256 - fy) +
                     long(Channel(Texel(st, x0, y0 + 1), c)) * (256 - fx) * fy +
                     long(Channel(Texel(st, x0 + 1, y0 + 1), c)) * fx * fy;
    out |= std::uint32_t((sum + 32768) >> 16) << (8 * c);
  }
  return out;
}

inline std::uint32_t Argument(DWORD arg, std::uint32_t diffuse, std::uint32_t texture, std::uint32_t tfactor) {
  std::uint32_t v = (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE   ? texture
                    : (arg & D3DTA_SELECTMASK) == D3DTA_TFACTOR ? tfactor
                                                                : diffuse;  // DIFFUSE, CURRENT at stage 0
  if (arg & D3DTA_ALPHAREPLICATE) v = (v >> 24) * 0x01010101u;
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  return v;
}

inline int Op(DWORD op, int a, int b, int textureAlpha, int diffuseAlpha) {
  switch (op) {
    case D3DTOP_SELECTARG1: return a;
    case D3DTOP_SELECTARG2: return b;
    case D3DTOP_MODULATE: return Round255(long(a) * b);
    case D3DTOP_ADD: return std::min(255, a + b);
    case D3DTOP_SUBTRACT: return std::max(0, a - b);
    case D3DTOP_ADDSIGNED: return std::clamp(a + b - 128, 0, 255);
    case D3DTOP_BLENDTEXTUREALPHA: return Round255(long(a) * textureAlpha + long(b) * (255 - textureAlpha));
    case D3DTOP_BLENDDIFFUSEALPHA: return Round255(long(a) * diffuseAlpha + long(b) * (255 - diffuseAlpha));
    default: return a;
  }
}

inline bool Reads(DWORD op, DWORD a1, DWORD a2, DWORD which) {
  if (op == D3DTOP_BLENDTEXTUREALPHA && which == D3DTA_TEXTURE) return true;
  const bool one = (a1 & D3DTA_SELECTMASK) == which, two = (a2 & D3DTA_SELECTMASK) == which;
  return op == D3DTOP_SELECTARG1 ? one : op == D3DTOP_SELECTARG2 ? two : one || two;
}

inline bool Passes(DWORD func, int a, int ref) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return a < ref;
    case D3DCMP_EQUAL: return a == ref;
    case D3DCMP_LESSEQUAL: return a <= ref;
    case D3DCMP_GREATER: return a > ref;
    case D3DCMP_NOTEQUAL: return a != ref;
    case D3DCMP_GREATEREQUAL: return a >= ref;
    default: return true;
  }
}

inline int Factor(DWORD f, int channel, std::uint32_t s, std::uint32_t d) {
  const int sa = int(s >> 24), da = int(d >> 24), sc = Channel(s, channel), dc = Channel(d, channel);
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
    default: return 255;
  }
}

// The pixel's new value over `dst`, or nothing when the alpha test rejects
// it; (du, dv) moves the texture coordinates and dc the colours (to bound
// what rounding at a boundary may give).
inline std::optional<std::uint32_t> Shade(const State& st, const Vertex t[3], int i, int j, std::uint32_t dst,
                                          double du = 0, double dv = 0, double dc = 0) {
  double x[3], y[3];
  for (int k = 0; k < 3; ++k) x[k] = Snap(t[k].x), y[k] = Snap(t[k].y);
  const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  double w[3];
  for (int k = 0; k < 3; ++k) {
    const int a = (k + 1) % 3, b = (k + 2) % 3;
    w[k] = ((x[b] - x[a]) * (j - y[a]) - (y[b] - y[a]) * (i - x[a])) / area;
  }
  // Perspective: attribute / w is linear on the screen.
  const double q = w[0] * t[0].rhw + w[1] * t[1].rhw + w[2] * t[2].rhw;
  for (int k = 0; k < 3; ++k) w[k] *= t[k].rhw / q;
  std::uint32_t diffuse = 0;
  for (int c = 0; c < 4; ++c) {
    const double value = w[0] * Channel(t[0].color, c) + w[1] * Channel(t[1].color, c) + w[2] * Channel(t[2].color, c);
    diffuse |= std::uint32_t(std::clamp(int(std::floor(value + dc + 0.5)), 0, 255)) << (8 * c);
  }
  const bool textured = !st.texels.empty();
  std::uint32_t texture = 0;
  if (textured) {
    const double u = w[0] * t[0].u + w[1] * t[1].u + w[2] * t[2].u + du;
    const double v = w[0] * t[0].v + w[1] * t[1].v + w[2] * t[2].v + dv;
    texture = Sample(st, u, v);
  }
  // Stage 0; a stage reading a missing texture passes the diffuse colour on.
  std::uint32_t src = diffuse;
  const int ta = int(texture >> 24), da = int(diffuse >> 24);
  if (textured || !Reads(st.colorOp, st.colorArg1, st.colorArg2, D3DTA_TEXTURE)) {
    const std::uint32_t a = Argument(st.colorArg1, diffuse, texture, st.tfactor);
    const std::uint32_t b = Argument(st.colorArg2, diffuse, texture, st.tfactor);
    src &= 0xFF000000u;
    for (int c = 0; c < 3; ++c) src |= std::uint32_t(Op(st.colorOp, Channel(a, c), Channel(b, c), ta, da)) << (8 * c);
  }
  if (textured || !Reads(st.alphaOp, st.alphaArg1, st.alphaArg2, D3DTA_TEXTURE)) {
    const std::uint32_t a = Argument(st.alphaArg1, diffuse, texture, st.tfactor);
    const std::uint32_t b = Argument(st.alphaArg2, diffuse, texture, st.tfactor);
    src = (src & 0xFFFFFFu) | std::uint32_t(Op(st.alphaOp, Channel(a, 3), Channel(b, 3), ta, da)) << 24;
  }
  if (st.alphaTest && !Passes(st.alphaFunc, int(src >> 24), int(st.alphaRef & 0xFF))) return std::nullopt;
  if (!st.blend) return src;
  std::uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const long s = Channel(src, c) * long(Factor(st.srcBlend, c, src, dst));
    const long d = Channel(dst, c) * long(Factor(st.dstBlend, c, src, dst));
    int v;
    switch (st.blendOp) {
      case D3DBLENDOP_SUBTRACT: v = Round255(s - d); break;
      case D3DBLENDOP_REVSUBTRACT: v = Round255(d - s); break;
      case D3DBLENDOP_MIN: v = std::min(Channel(src, c), Channel(dst, c)); break;
      case D3DBLENDOP_MAX: v = std::max(Channel(src, c), Channel(dst, c)); break;
      default: v = Round255(s + d); break;
    }
    out |= std::uint32_t(v) << (8 * c);
  }
  return out;
}

}  // namespace reference
