// The span shader: a span is cut into chunks, and each chunk runs the passes
// the draw's pipeline selected (colour, sampling, combiner, alpha test, depth,
// blend and write), each through the active instruction set's kernels. Affine
// primitives step fixed-point planes; perspective ones divide per pixel here,
// in common code.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/raster/shade.h"

namespace platform::d3d9::raster {
namespace {

constexpr std::int64_t kCoordLimit = std::int64_t(1) << 30;

struct Chunk {
  alignas(64) std::uint32_t diffuse[kChunk];
  alignas(64) std::uint32_t specular[kChunk];
  alignas(64) std::uint32_t tex[kStageCount][kChunk];
  alignas(64) std::uint32_t tmp[kChunk];
  alignas(64) std::uint32_t out[kChunk];
  alignas(64) std::int32_t s[kChunk];
  alignas(64) std::int32_t t[kChunk];
  alignas(64) std::uint8_t live[kChunk];
};

inline std::int64_t At(const FixedPlane& f, const Primitive& p, int x, int y) {
  return f.v0 + std::int64_t(x - p.ox) * f.dx + std::int64_t(y - p.oy) * f.dy;
}

inline std::int64_t Mod64(std::int64_t v, std::int64_t m) {
  if ((m & (m - 1)) == 0) return v & (m - 1);  // powers of two, the common case
  const std::int64_t r = v % m;
  return r < 0 ? r + m : r;
}

bool Periodic(std::uint8_t mode) { return mode == kWrap || mode == kMirror; }
std::int64_t Period(int size, std::uint8_t mode) { return std::int64_t(mode == kMirror ? 2 * size : size) << 16; }

// One coordinate brought into 32 bits without changing the texels it
// addresses: periodic modes reduce it modulo their period, the others
// saturate far outside the texture.
std::int32_t ReduceOne(std::int64_t v, int size, std::uint8_t mode) {
  if (Periodic(mode)) return static_cast<std::int32_t>(Mod64(v, Period(size, mode)));
  return static_cast<std::int32_t>(std::clamp(v, -kCoordLimit, kCoordLimit));
}

// A chunk's coordinates v + k dv as a 32-bit start and step, when every one
// of them fits (after the periodic reduction); false otherwise.
bool Reduce(std::int64_t v, std::int64_t dv, int size, std::uint8_t mode, int n, std::int32_t* start,
            std::int32_t* step) {
  if (Periodic(mode)) {
    const std::int64_t period = Period(size, mode);
    v = Mod64(v, period);
    dv = Mod64(dv, period);
    if (dv > period / 2) dv -= period;
  }
  const std::int64_t last = v + std::int64_t(n - 1) * dv;
  if (v < -kCoordLimit || v > kCoordLimit || last < -kCoordLimit || last > kCoordLimit) return false;
  *start = static_cast<std::int32_t>(v);
  *step = static_cast<std::int32_t>(dv);
  return true;
}

void Coordinates(std::int64_t v, std::int64_t dv, int size, std::uint8_t mode, int n, std::int32_t* out) {
  std::int32_t start, step;
  if (Reduce(v, dv, size, mode, n, &start, &step)) {
    for (int k = 0; k < n; ++k) out[k] = start + k * step;
    return;
  }
  for (int k = 0; k < n; ++k) out[k] = ReduceOne(v + k * dv, size, mode);
}

// The texels a 1:1 row reads as they are: point sampling, or linear sampling
// at texel centres, of n texels of one row inside the level, which stores
// alpha. Null otherwise.
const std::uint32_t* InPlace(const SampleParams& pp, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt,
                             int n) {
  const TexLevel& l = pp.level;
  if (ds != 65536 || dt != 0 || l.alphaOr) return nullptr;
  if (pp.linear && ((s0 | t0) & 0xFF00)) return nullptr;
  const int half = pp.linear ? 0 : 0x8000;
  const std::int64_t x = (std::int64_t(s0) + half) >> 16, row = (std::int64_t(t0) + half) >> 16;
  if (x < 0 || x + n > l.width || row < 0 || row >= l.height) return nullptr;
  return l.texels + row * l.pitch + x;
}

// Samples stage `sp` for pixels [x, x + n) of row y into `out`; returns the
// texels, which `inPlace` allows to be the texture's own row.
const std::uint32_t* SampleAffine(const Kernels& k, const StagePrim& sp, const Primitive& p, int x, int y, int n,
                                  std::uint32_t* out, Chunk& c, bool inPlace) {
  for (int i = 0; i < (sp.mip2 ? 2 : 1); ++i) {
    std::uint32_t* dst = i == 0 ? out : c.tmp;
    const SampleParams& pp = sp.p[i];
    const std::int64_t s = At(sp.s[i], p, x, y), t = At(sp.t[i], p, x, y);
    std::int32_t s0, ds, t0, dt;
    if (Reduce(s, sp.s[i].dx, pp.level.width, pp.addrU, n, &s0, &ds) &&
        Reduce(t, sp.t[i].dx, pp.level.height, pp.addrV, n, &t0, &dt)) {
      if (inPlace && !sp.mip2)
        if (const std::uint32_t* row = InPlace(pp, s0, ds, t0, dt, n)) return row;
      k.sampleLine(pp, s0, ds, t0, dt, dst, n);
      continue;
    }
    Coordinates(s, sp.s[i].dx, pp.level.width, pp.addrU, n, c.s);
    Coordinates(t, sp.t[i].dx, pp.level.height, pp.addrV, n, c.t);
    k.sample(pp, c.s, c.t, dst, n);
  }
  if (sp.mip2) k.lerp(out, c.tmp, sp.mipWeight, out, n);
  return out;
}

// Perspective primitives: coordinates and level of detail per pixel.
void SamplePerspective(const Kernels& k, const StageConfig& sc, const StagePrim& sp, const Primitive& p, int x, int y,
                       int n, std::uint32_t* out) {
  const double w0 = sc.level[0].width, h0 = sc.level[0].height;
  const double dy = y - p.oy;
  for (int i = 0; i < n; ++i) {
    const double dx = x + i - p.ox;
    double q = p.q.At(dx, dy);
    if (!(q > 0)) q = 1e-300;
    const double U = sp.u.At(dx, dy), V = sp.v.At(dx, dy);
    const double u = U / q, v = V / q, q2 = q * q;
    const double dudx = (sp.u.dx * q - U * p.q.dx) / q2, dvdx = (sp.v.dx * q - V * p.q.dx) / q2;
    const double dudy = (sp.u.dy * q - U * p.q.dy) / q2, dvdy = (sp.v.dy * q - V * p.q.dy) / q2;
    const double rho = std::max(std::hypot(dudx * w0, dvdx * h0), std::hypot(dudy * w0, dvdy * h0));
    int levels[2];
    unsigned weight;
    bool linear;
    ChooseLevels(sc, std::log2(rho) + sc.lodBias, &levels[0], &levels[1], &weight, &linear);
    std::uint32_t texel[2];
    for (int j = 0; j < (levels[1] >= 0 ? 2 : 1); ++j) {
      const SampleParams pp = ParamsFor(sc, levels[j], linear);
      const std::int32_t s32 = ReduceOne(ToFixed((u * pp.level.width - 0.5) * 65536.0), pp.level.width, pp.addrU);
      const std::int32_t t32 = ReduceOne(ToFixed((v * pp.level.height - 0.5) * 65536.0), pp.level.height, pp.addrV);
      k.sample(pp, &s32, &t32, &texel[j], 1);
    }
    if (levels[1] >= 0) k.lerp(&texel[0], &texel[1], weight, &texel[0], 1);
    out[i] = texel[0];
  }
}

void PerspectiveColours(const Primitive& p, int first, int x, int y, int n, std::uint32_t* out) {
  const double dy = y - p.oy;
  for (int i = 0; i < n; ++i) {
    const double dx = x + i - p.ox;
    double q = p.q.At(dx, dy);
    if (!(q > 0)) q = 1e-300;
    std::uint32_t v = 0;
    for (int c = 0; c < 4; ++c) {
      const std::int64_t fixed = ToFixed(p.attr[first + c].At(dx, dy) / q * 65536.0);
      v |= static_cast<std::uint32_t>(std::clamp<std::int64_t>((fixed + 0x8000) >> 16, 0, 255)) << (8 * c);
    }
    out[i] = v;
  }
}

void Colours(const Kernels& k, const Primitive& p, int first, bool constant, std::uint32_t value, int x, int y, int n,
             std::uint32_t* out) {
  if (constant) {
    std::fill(out, out + n, value);
  } else if (p.perspective) {
    PerspectiveColours(p, first, x, y, n, out);
  } else {
    std::int32_t start[4], step[4];
    for (int c = 0; c < 4; ++c) {
      // Interpolated colours stay near 0-255 x 65536, so 32-bit wrapping
      // arithmetic gives them exactly.
      start[c] = static_cast<std::int32_t>(static_cast<std::uint32_t>(At(p.color[first + c], p, x, y)));
      step[c] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.color[first + c].dx));
    }
    k.gouraud(start, step, out, n);
  }
}

// --- The general combiner --------------------------------------------------------

struct Inputs {
  std::uint32_t diffuse, current, texture, tfactor, specular;
};

std::uint32_t Argument(DWORD arg, const Inputs& in) {
  std::uint32_t v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = in.diffuse; break;
    case D3DTA_TEXTURE: v = in.texture; break;
    case D3DTA_TFACTOR: v = in.tfactor; break;
    case D3DTA_SPECULAR: v = in.specular; break;
    default: v = in.current; break;  // CURRENT (TEMP and CONSTANT are not kept)
  }
  if (arg & D3DTA_ALPHAREPLICATE) v = (v >> 24) * 0x01010101u;
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  return v;
}

std::uint32_t Operation(DWORD op, std::uint32_t a, std::uint32_t b, const Inputs& in) {
  unsigned alpha = 0;
  switch (op) {
    case D3DTOP_BLENDDIFFUSEALPHA: alpha = in.diffuse >> 24; break;
    case D3DTOP_BLENDTEXTUREALPHA: alpha = in.texture >> 24; break;
    case D3DTOP_BLENDFACTORALPHA: alpha = in.tfactor >> 24; break;
    case D3DTOP_BLENDCURRENTALPHA: alpha = in.current >> 24; break;
    default: break;
  }
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int x = static_cast<int>((a >> shift) & 0xFF), y = static_cast<int>((b >> shift) & 0xFF);
    int v;
    switch (op) {
      case D3DTOP_SELECTARG2: v = y; break;
      case D3DTOP_MODULATE: v = static_cast<int>(Div255(x * y)); break;
      case D3DTOP_MODULATE2X: v = std::min(255, 2 * static_cast<int>(Div255(x * y))); break;
      case D3DTOP_MODULATE4X: v = std::min(255, 4 * static_cast<int>(Div255(x * y))); break;
      case D3DTOP_ADD: v = std::min(255, x + y); break;
      case D3DTOP_ADDSIGNED: v = std::clamp(x + y - 128, 0, 255); break;
      case D3DTOP_SUBTRACT: v = std::max(0, x - y); break;
      case D3DTOP_BLENDDIFFUSEALPHA:
      case D3DTOP_BLENDTEXTUREALPHA:
      case D3DTOP_BLENDFACTORALPHA:
      case D3DTOP_BLENDCURRENTALPHA:
        v = static_cast<int>(Div255(x * alpha + y * (255 - alpha)));
        break;
      default: v = x; break;  // SELECTARG1 and unknown operations
    }
    out |= static_cast<std::uint32_t>(v) << shift;
  }
  return out;
}

void CombineGeneral(const DrawConfig& dc, const Chunk& c, const std::uint32_t* diffuse, const std::uint32_t* specular,
                    int n, std::uint32_t* out) {
  for (int i = 0; i < n; ++i) {
    Inputs in{diffuse[i], diffuse[i], 0, dc.tfactor, specular ? specular[i] : 0};
    for (int s = 0; s < dc.stages; ++s) {
      const StageConfig& sc = dc.stage[s];
      in.texture = sc.sampled ? c.tex[s][i] : 0;
      std::uint32_t colour = in.current, alpha = in.current;
      if (sc.sampled || !ReadsTexture(sc.colorOp, sc.colorArg1, sc.colorArg2))
        colour = Operation(sc.colorOp, Argument(sc.colorArg1, in), Argument(sc.colorArg2, in), in);
      if (sc.alphaOp != D3DTOP_DISABLE && (sc.sampled || !ReadsTexture(sc.alphaOp, sc.alphaArg1, sc.alphaArg2)))
        alpha = Operation(sc.alphaOp, Argument(sc.alphaArg1, in), Argument(sc.alphaArg2, in), in);
      in.current = (alpha & 0xFF000000u) | (colour & 0x00FFFFFFu);
    }
    std::uint32_t v = in.current;
    if (dc.specularAdd) {
      std::uint32_t sum = v & 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8)
        sum |= std::min(255u, ((v >> shift) & 0xFF) + ((in.specular >> shift) & 0xFF)) << shift;
      v = sum;
    }
    out[i] = v;
  }
}

// Depth writes of a primitive every pixel of which passes: one value.
void FillDepth(const DrawConfig& dc, const Primitive& p, int y, int x, int n) {
  if (dc.depthFormat == DepthFormat::D16) {
    std::uint16_t* row = reinterpret_cast<std::uint16_t*>(dc.depthBits + std::size_t(y) * dc.depthPitch) + x;
    const auto value = static_cast<std::uint16_t>(p.depthFill);
    // Pairs of values go through the colour kernels' fill, 32 bits at a time.
    if (n > 0 && reinterpret_cast<std::uintptr_t>(row) % 4 != 0) {
      *row++ = value;
      --n;
    }
    const WriteParams replace;
    dc.k->fill(replace, value * 0x10001u, reinterpret_cast<std::uint32_t*>(row), nullptr, n / 2);
    if (n % 2) row[n - 1] = value;
  } else {
    std::uint32_t* row = reinterpret_cast<std::uint32_t*>(dc.depthBits + std::size_t(y) * dc.depthPitch) + x;
    for (int i = 0; i < n; ++i) row[i] = (p.depthFill << 8) | (row[i] & 0xFF);
  }
}

// The depth pass of pixels [x, x + n) of row y; `live` becomes the pixels that
// passed (null: all of them). False when none did.
bool Depth(const DrawConfig& dc, const Primitive& p, int y, int x, int n, Chunk& c, const std::uint8_t** live) {
  if (dc.depth && p.depthMode == DepthMode::Fill) {
    FillDepth(dc, p, y, x, n);
  } else if (dc.depth && p.depthMode == DepthMode::Test) {
    if (!*live) std::memset(c.live, 1, static_cast<std::size_t>(n));
    DepthParams dp;
    dp.format = dc.depthFormat;
    dp.func = p.depthFunc;
    dp.write = dc.depthWrite;
    dp.zRow = p.z0 + static_cast<float>(y - p.oy) * p.dzy;
    dp.dzdx = p.dzx;
    dp.firstX = x - p.ox;
    const std::size_t bytes = dc.depthFormat == DepthFormat::D16 ? 2 : 4;
    void* row = dc.depthBits + std::size_t(y) * dc.depthPitch + std::size_t(x) * bytes;
    if (dc.k->depth(dp, row, c.live, n) == 0) return false;
    *live = c.live;
  }
  return true;
}

void ShadeChunk(const DrawConfig& dc, const Primitive& p, int y, int x, int n, Chunk& c) {
  const Kernels& k = *dc.k;
  const bool general = dc.combine == Combine::General;
  if (!general && p.diffMask == 0xFFFFFFFFu && p.diffuseConst && !dc.alphaTest &&
      (!dc.depth || p.depthMode != DepthMode::Test)) {
    // A constant colour: no pass but the depth fill and the blend.
    if (dc.depth && p.depthMode == DepthMode::Fill) FillDepth(dc, p, y, x, n);
    k.fill(p.write, p.diffuseValue, reinterpret_cast<std::uint32_t*>(dc.target + std::size_t(y) * dc.targetPitch) + x,
           nullptr, n);
    return;
  }
  // A constant diffuse colour in the reduced combiner is passed by value.
  const bool constDiffuse = !general && p.diffuseConst;
  const bool needDiffuse = general || (!constDiffuse && (p.modMask | p.diffMask) != 0);
  if (needDiffuse) Colours(k, p, 0, p.diffuseConst, p.diffuseValue, x, y, n, c.diffuse);
  if (dc.needSpecular) Colours(k, p, 4, p.specularConst, p.specularValue, x, y, n, c.specular);
  const std::uint32_t* tex0 = c.tex[0];  // stage 0's texels for the reduced combiner
  if (p.sampleAny) {
    for (int s = 0; s < dc.stages; ++s) {
      const StageConfig& sc = dc.stage[s];
      if (!sc.sampled) continue;
      if (p.perspective)
        SamplePerspective(k, sc, p.stage[s], p, x, y, n, c.tex[s]);
      else if (general)
        SampleAffine(k, p.stage[s], p, x, y, n, c.tex[s], c, false);
      else
        tex0 = SampleAffine(k, p.stage[s], p, x, y, n, c.tex[s], c, !k.reference);
      if (!general) break;  // the reduced combiner reads stage 0 only
    }
  }

  const std::uint32_t* src;
  if (general) {
    CombineGeneral(dc, c, c.diffuse, dc.needSpecular ? c.specular : nullptr, n, c.out);
    src = c.out;
  } else if (p.texMask == 0xFFFFFFFFu) {
    src = tex0;
  } else if (p.diffMask == 0xFFFFFFFFu) {
    if (constDiffuse) std::fill(c.diffuse, c.diffuse + n, p.diffuseValue);
    src = c.diffuse;
  } else if (constDiffuse) {
    k.modulateConst(tex0, p.diffuseValue, c.out, n, p.modMask, p.texMask, p.diffMask);
    src = c.out;
  } else {
    k.modulate(tex0, c.diffuse, c.out, n, p.modMask, p.texMask, p.diffMask);
    src = c.out;
  }

  const std::uint8_t* live = nullptr;
  if (dc.alphaTest) {
    std::memset(c.live, 1, static_cast<std::size_t>(n));
    if (k.alphaTest(src, c.live, n, dc.alphaFunc, dc.alphaRef) == 0) return;
    live = c.live;
  }
  if (!Depth(dc, p, y, x, n, c, &live)) return;
  auto* dst = reinterpret_cast<std::uint32_t*>(dc.target + std::size_t(y) * dc.targetPitch) + x;
  k.write(p.write, src, dst, live, n);
}

// Pixels whose texels all read alpha 0: the blend leaves their colour, so only
// the depth pass runs, and X8 targets get their X byte as every write gives it.
void ShadeClear(const DrawConfig& dc, const Primitive& p, int y, int x, int n, Chunk& c) {
  Stats().skipped += static_cast<std::uint64_t>(n);
  const std::uint8_t* live = nullptr;
  if (!Depth(dc, p, y, x, n, c, &live) || !p.write.alphaOr) return;
  auto* dst = reinterpret_cast<std::uint32_t*>(dc.target + std::size_t(y) * dc.targetPitch) + x;
  std::uint32_t x8 = p.write.alphaOr;
  for (int i = 0; i < n; ++i) x8 &= dst[i];
  if (x8 == p.write.alphaOr) return;  // every X byte is set already: nothing to write
  WriteParams unchanged;  // adds 0: the destination as it is, X byte set
  unchanged.kind = BlendKind::Add;
  unchanged.alphaOr = p.write.alphaOr;
  dc.k->fill(unchanged, 0, dst, live, n);
}

// Whether bits first .. last of a row of marks are all set.
bool AllMarked(const std::uint64_t* row, std::int64_t first, std::int64_t last) {
  for (std::int64_t w = first >> 6; w <= last >> 6; ++w) {
    std::uint64_t want = ~std::uint64_t(0);
    if (w == first >> 6) want &= want << (first & 63);
    if (w == last >> 6) want &= ~std::uint64_t(0) >> (63 - (last & 63));
    if ((row[w] & want) != want) return false;
  }
  return true;
}

// One bit for each group of 8 of n <= kChunk pixels.
inline std::uint32_t GroupsOf(int n) {
  static_assert(kChunk <= 256);
  return n > 248 ? ~0u : (1u << ((n + 7) / 8)) - 1;
}

// Bits first .. first + 63 of a row of `words` marks (0 <= first < 64 words;
// bits past the row read as 0).
inline std::uint64_t Window(const std::uint64_t* row, std::ptrdiff_t words, std::int64_t first) {
  const std::uint64_t lo = row[first >> 6];
  if ((first & 63) == 0) return lo;
  const std::uint64_t hi = (first >> 6) + 1 < words ? row[(first >> 6) + 1] : 0;
  return lo >> (first & 63) | hi << (64 - (first & 63));
}

// ClearGroups for a single level sampled 1:1 (one texel a pixel, no weight
// on a neighbour): pixel k reads texel first + k, so the groups are the bytes
// of the marks from `first` on. False when the case does not apply.
bool ClearGroupsUnit(const Primitive& p, int y, int x, int n, std::uint32_t* mask) {
  const StagePrim& sp = p.stage[0];
  const TexLevel& l = sp.p[0].level;
  if (sp.mip2 || sp.s[0].dx != 65536) return false;
  const bool linear = sp.p[0].linear;
  const std::int64_t half = linear ? 0 : 0x8000;
  const std::int64_t s = At(sp.s[0], p, x, y) + half, t = At(sp.t[0], p, x, y) + half;
  if (linear && ((s | t) & 0xFF00)) return false;
  const std::int64_t first = s >> 16, row = t >> 16;
  if (first < 0 || first + n > l.width || row < 0 || row >= l.height) return false;
  const std::uint64_t* marks = l.clear + row * l.clearWords;
  // Each group of 8 marks is a byte: all set exactly when its complement is 0.
  constexpr std::uint64_t k7F = 0x7F7F7F7F7F7F7F7Full, k80 = 0x8080808080808080ull;
  *mask = 0;
  for (int g = 0; g < (n + 7) / 8; g += 8) {
    std::uint64_t w = ~Window(marks, l.clearWords, first + 8 * g);
    if (n - 8 * g < 64) w |= ~std::uint64_t(0) << (n - 8 * g);  // past the span: not clear
    const std::uint64_t nonzero = (((w & k7F) + k7F) | w) & k80;  // bit 7 of each byte not all clear
    *mask |= static_cast<std::uint32_t>((((~nonzero & k80) >> 7) * 0x0102040810204080ull) >> 56) << g;
  }
  *mask &= GroupsOf(n);
  return true;
}

// The 8-pixel groups of pixels [x, x + n) of row y (n <= kChunk) whose samples
// all read texels of alpha 0: the texels they weigh (a tap of weight 0 is left
// out) lie inside the level and are marked clear. Bit g: pixels x + 8g on.
std::uint32_t ClearGroups(const Primitive& p, int y, int x, int n) {
  const StagePrim& sp = p.stage[0];
  const int groups = (n + 7) / 8;
  if (std::uint32_t unit; ClearGroupsUnit(p, y, x, n, &unit)) return unit;
  std::uint32_t mask = GroupsOf(n);
  for (int i = 0; i < (sp.mip2 ? 2 : 1) && mask; ++i) {
    const TexLevel& l = sp.p[i].level;
    const bool linear = sp.p[i].linear;
    const std::int64_t half = linear ? 0 : 0x8000, ds = sp.s[i].dx;
    const std::int64_t t = At(sp.t[i], p, x, y) + half;
    // Linear samples weigh the next column and row unless their fraction is 0
    // at every pixel (whole-texel steps from a fraction of 0).
    const std::int64_t s = At(sp.s[i], p, x, y) + half;
    const int nextColumn = linear && ((s & 0xFF00) || (ds & 0xFFFF));
    const std::int64_t top = t >> 16, bottom = top + (linear && (t & 0xFF00));
    if (top < 0 || bottom >= l.height) return 0;
    const std::uint64_t* rows[2] = {l.clear + top * l.clearWords, l.clear + bottom * l.clearWords};
    for (int g = 0; g < groups; ++g) {
      const std::int64_t s0 = s + 8 * g * ds, s1 = s0 + std::int64_t(std::min(8, n - 8 * g) - 1) * ds;
      const std::int64_t first = std::min(s0, s1) >> 16, last = (std::max(s0, s1) >> 16) + nextColumn;
      if (first < 0 || last >= l.width || !AllMarked(rows[0], first, last) || !AllMarked(rows[1], first, last))
        mask &= ~(1u << g);
    }
  }
  return mask;
}

// Pixels [x, x + n) of row y of a primitive that may skip clear texels: runs
// of clear groups leave the target as it is; the rest is shaded.
void ShadeSkipping(const DrawConfig& dc, const Primitive& p, int y, int x, int n, Chunk& c) {
  const std::uint32_t clear = ClearGroups(p, y, x, n), shaded = ~clear & GroupsOf(n);
  // Alternate runs: shaded groups up to the next clear one, then clear groups
  // up to the next shaded one.
  for (int g = 0; 8 * g < n;) {
    const int from = g;
    g += clear >> g ? __builtin_ctz(clear >> g) : 32;
    if (8 * g > 8 * from) ShadeChunk(dc, p, y, x + 8 * from, std::min(n, 8 * g) - 8 * from, c);
    if (8 * g >= n) break;
    const int start = g;
    g += shaded >> g ? __builtin_ctz(shaded >> g) : 32;
    ShadeClear(dc, p, y, x + 8 * start, std::min(n, 8 * g) - 8 * start, c);
  }
}

}  // namespace

void ShadeSpan(const DrawConfig& dc, const Primitive& p, int y, int x0, int x1) {
  Stats().pixels += static_cast<std::uint64_t>(x1 - x0);
  Chunk c;
  const bool skip = p.skipClear && !dc.k->reference;
  for (int x = x0; x < x1; x += kChunk) {
    if (skip) ShadeSkipping(dc, p, y, x, std::min(kChunk, x1 - x), c);
    else ShadeChunk(dc, p, y, x, std::min(kChunk, x1 - x), c);
  }
}

}  // namespace platform::d3d9::raster
