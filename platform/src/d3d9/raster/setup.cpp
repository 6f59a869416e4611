// Primitive setup: the attribute planes of a triangle, line or point, computed
// once in double from the snapped vertices and rounded to fixed point, and the
// mip levels each texture stage reads.
#include <algorithm>
#include <cmath>

#include "d3d9/raster/shade.h"

namespace platform::d3d9::raster {
namespace {

// An 8.16 colour value rounded as the interpolators round it.
std::uint32_t ChannelOf(double v) {
  const std::int64_t fixed = ToFixed(v * 65536.0);
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>((fixed + 0x8000) >> 16, 0, 255));
}

// Gradients of attributes over a triangle, from its snapped vertices.
struct Gradients {
  double x0, y0;    // vertex 0
  double e1x, e1y, e2x, e2y, det;
  double ox, oy;    // origin pixel relative to vertex 0

  Gradients(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, int originX, int originY) {
    x0 = a.X / 256.0;
    y0 = a.Y / 256.0;
    e1x = b.X / 256.0 - x0;
    e1y = b.Y / 256.0 - y0;
    e2x = c.X / 256.0 - x0;
    e2y = c.Y / 256.0 - y0;
    det = e1x * e2y - e2x * e1y;
    ox = originX - x0;
    oy = originY - y0;
  }
  // The plane through (a0, a1, a2), as its value at the origin pixel and steps.
  DoublePlane Plane(double a0, double a1, double a2) const {
    const double d1 = a1 - a0, d2 = a2 - a0;
    DoublePlane p;
    p.dx = (d1 * e2y - d2 * e1y) / det;
    p.dy = (d2 * e1x - d1 * e2x) / det;
    p.v0 = a0 + p.dx * ox + p.dy * oy;
    return p;
  }
};

// The planes' origin: the pixel nearest the first vertex.
void SetOrigin(const ScreenVertex& a, Primitive* p) {
  p->ox = static_cast<int>(std::floor(a.X / 256.0 + 0.5));
  p->oy = static_cast<int>(std::floor(a.Y / 256.0 + 0.5));
}

FixedPlane Fixed(const DoublePlane& p, double scale, double offset = 0.0) {
  return FixedPlane{ToFixed((p.v0 * scale + offset) * 65536.0), ToFixed(p.dx * scale * 65536.0),
                    ToFixed(p.dy * scale * 65536.0)};
}

// Texture planes and levels of an affine primitive's stage.
void SetupStage(const StageConfig& sc, const DoublePlane& u, const DoublePlane& v, double rho, StagePrim* sp) {
  int a, b;
  bool linear;
  ChooseLevels(sc, std::log2(rho) + sc.lodBias, &a, &b, &sp->mipWeight, &linear);
  sp->mip2 = b >= 0;
  const int levels[2] = {a, b};
  for (int i = 0; i < (sp->mip2 ? 2 : 1); ++i) {
    const TexLevel& l = sc.level[levels[i]];
    sp->p[i] = ParamsFor(sc, levels[i], linear);
    sp->s[i] = Fixed(u, l.width, -0.5);
    sp->t[i] = Fixed(v, l.height, -0.5);
  }
}

bool StageOpaque(const StageConfig& sc) {
  for (int i = 0; i < sc.levels; ++i)
    if (!sc.level[i].opaque) return false;
  const bool border = sc.addrU == kBorder || sc.addrV == kBorder;
  return !border || sc.border >= 0xFF000000u;
}

// Whether every depth in [zlo, zhi] passes `func` against every stored depth in [lo, hi].
bool AllPass(unsigned func, std::uint32_t zlo, std::uint32_t zhi, std::uint32_t lo, std::uint32_t hi) {
  switch (func) {
    case D3DCMP_ALWAYS: return true;
    case D3DCMP_LESS: return zhi < lo;
    case D3DCMP_LESSEQUAL: return zhi <= lo;
    case D3DCMP_GREATER: return zlo > hi;
    case D3DCMP_GREATEREQUAL: return zlo >= hi;
    case D3DCMP_EQUAL: return zlo == zhi && lo == hi && zlo == lo;
    case D3DCMP_NOTEQUAL: return zhi < lo || zlo > hi;
    default: return false;
  }
}

// The depth treatment of a primitive whose vertices span depths [zmin, zmax],
// against the surface's bound, which it then widens by what it may write.
void DepthSetup(const DrawConfig& dc, double zmin, double zmax, Primitive* p) {
  p->depthMode = DepthMode::Test;
  p->depthFunc = static_cast<std::uint8_t>(dc.depthFunc);
  if (!dc.depth) return;
  DepthBound* bound = dc.depthBound;
  if (!bound) return;
  const bool constant = p->dzx == 0.0f && p->dzy == 0.0f;
  std::uint32_t zlo, zhi;
  if (constant) {
    zlo = zhi = QuantiseDepth(p->z0, dc.depthFormat);
  } else {
    // The single-precision plane may stray a little beyond its vertices.
    const std::uint32_t margin = dc.depthFormat == DepthFormat::D16 ? 2 : 512;
    const std::uint32_t top = dc.depthFormat == DepthFormat::D16 ? 0xFFFF : 0xFFFFFF;
    zlo = QuantiseDepth(static_cast<float>(zmin), dc.depthFormat);
    zhi = QuantiseDepth(static_cast<float>(zmax), dc.depthFormat);
    zlo = zlo > margin ? zlo - margin : 0;
    zhi = std::min(top, zhi + margin);
  }
  if (bound->known && AllPass(dc.depthFunc, zlo, zhi, bound->lo, bound->hi) && !dc.alphaTest) {
    if (!dc.depthWrite || (constant && bound->lo == zlo && bound->hi == zlo)) {
      p->depthMode = DepthMode::Skip;
    } else if (constant) {
      p->depthMode = DepthMode::Fill;
      p->depthFill = zlo;
    } else {
      p->depthFunc = D3DCMP_ALWAYS;
    }
  }
  if (dc.depthWrite) {
    if (bound->known) {
      bound->lo = std::min(bound->lo, zlo);
      bound->hi = std::max(bound->hi, zhi);
    }
  }
}

// The share of clear groups of 8 texels (in 256ths) from which a level's
// transparent runs are worth looking for.
constexpr unsigned kMostlyClear = 192;

// What depends on the primitive's colours: the reduced combiner masks and
// whether the blend can skip reading the destination.
void Finish(const DrawConfig& dc, Primitive* p) {
  p->modMask = dc.modMask;
  p->texMask = dc.texMask;
  p->diffMask = dc.diffMask;
  p->write = dc.write;
  if (dc.combine == Combine::Masks && p->diffuseConst) {
    // Modulating by white changes nothing.
    std::uint32_t white = 0;
    if ((p->diffuseValue & 0x00FFFFFFu) == 0x00FFFFFFu) white |= 0x00FFFFFFu;
    if (p->diffuseValue >= 0xFF000000u) white |= 0xFF000000u;
    p->texMask |= p->modMask & white;
    p->modMask &= ~white;
  }
  p->sampleAny = dc.combine == Combine::General ? dc.stages > 0 : (p->modMask | p->texMask) != 0;
  bool opaque = false;
  if (dc.combine == Combine::Masks) {
    const bool fromTexture = ((p->modMask | p->texMask) & 0xFF000000u) != 0;
    const bool fromDiffuse = ((p->modMask | p->diffMask) & 0xFF000000u) != 0;
    opaque = (!fromTexture || (dc.stages > 0 && dc.stage[0].sampled && StageOpaque(dc.stage[0]))) &&
             (!fromDiffuse || (p->diffuseConst && p->diffuseValue >= 0xFF000000u));
  }
  if (opaque && !dc.alphaTest) {
    if (p->write.kind == BlendKind::SrcAlpha) p->write.kind = BlendKind::Replace;
    else if (p->write.kind == BlendKind::SrcAlphaAdd) p->write.kind = BlendKind::Add;
  }
  // Where the texture reads alpha 0 the source alpha is 0, and these blends
  // then leave the target as it was: such pixels may be skipped when a whole
  // row of the primitive reads one texture row (and no alpha test decides).
  // Finding them costs about what shading them does, so only levels that are
  // mostly clear are searched.
  p->skipClear = false;
  if (dc.combine == Combine::Masks && !dc.alphaTest && !p->perspective && p->sampleAny &&
      ((p->texMask | p->modMask) & 0xFF000000u) &&
      (p->write.kind == BlendKind::SrcAlpha || p->write.kind == BlendKind::SrcAlphaAdd)) {
    const StagePrim& sp = p->stage[0];
    p->skipClear = true;
    for (int i = 0; i < (sp.mip2 ? 2 : 1); ++i) {
      const TexLevel& l = sp.p[i].level;
      p->skipClear = p->skipClear && l.clear && l.clearShare >= kMostlyClear && sp.t[i].dx == 0;
    }
  }
}

void ConstantColours(const DrawConfig& dc, const ScreenVertex& v, Primitive* p) {
  p->diffuseConst = p->specularConst = true;
  p->diffuseValue = p->specularValue = 0;
  for (int c = 0; c < 4; ++c) {
    p->diffuseValue |= ChannelOf(v.a[kDiffuse + c]) << (8 * c);
    if (dc.needSpecular) p->specularValue |= ChannelOf(v.a[kSpecular + c]) << (8 * c);
  }
}

}  // namespace

void SetupTriangle(const DrawConfig& dc, const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                   const ScreenVertex& flat, Primitive* p, const ScreenVertex* fourth) {
  SetOrigin(a, p);
  const Gradients g(a, b, c, p->ox, p->oy);
  p->perspective = !(a.q == b.q && b.q == c.q);

  // Depth: a single-precision plane.
  const DoublePlane z = g.Plane(a.z, b.z, c.z);
  p->z0 = static_cast<float>(z.v0);
  p->dzx = static_cast<float>(z.dx);
  p->dzy = static_cast<float>(z.dy);

  // Colours: constant ones are exact; the others are interpolated.
  const int channels = dc.needSpecular ? 8 : 4;
  if (p->perspective) p->q = g.Plane(a.q, b.q, c.q);
  if (dc.flat) {
    ConstantColours(dc, flat, p);
  } else {
    bool same[2] = {true, true};
    for (int i = 0; i < channels; ++i)
      if (a.a[i] != b.a[i] || a.a[i] != c.a[i]) same[i / 4] = false;
    for (int i = 0; i < channels; ++i) {
      if (same[i / 4]) continue;
      if (p->perspective)
        p->attr[i] = g.Plane(a.a[i] * a.q, b.a[i] * b.q, c.a[i] * c.q);
      else
        p->color[i] = Fixed(g.Plane(a.a[i], b.a[i], c.a[i]), 1.0);
    }
    ConstantColours(dc, a, p);
    p->diffuseConst = same[0];
    p->specularConst = same[1];
  }

  // Texture stages.
  for (int s = 0; s < dc.stages; ++s) {
    const StageConfig& sc = dc.stage[s];
    if (!sc.sampled) continue;
    const int iu = kTexCoord + 2 * sc.texSet, iv = iu + 1;
    StagePrim& sp = p->stage[s];
    if (p->perspective) {
      sp.u = g.Plane(a.a[iu] * a.q, b.a[iu] * b.q, c.a[iu] * c.q);
      sp.v = g.Plane(a.a[iv] * a.q, b.a[iv] * b.q, c.a[iv] * c.q);
      continue;
    }
    const DoublePlane u = g.Plane(a.a[iu], b.a[iu], c.a[iu]);
    const DoublePlane v = g.Plane(a.a[iv], b.a[iv], c.a[iv]);
    const double w0 = sc.level[0].width, h0 = sc.level[0].height;
    const double rho = std::max(std::hypot(u.dx * w0, v.dx * h0), std::hypot(u.dy * w0, v.dy * h0));
    SetupStage(sc, u, v, rho, &sp);
  }
  const double d = fourth ? fourth->z : a.z;
  DepthSetup(dc, std::min({a.z, b.z, c.z, d}), std::max({a.z, b.z, c.z, d}), p);
  Finish(dc, p);
}

void SetupLine(const DrawConfig& dc, const ScreenVertex& a, const ScreenVertex& b, bool xMajor, Primitive* p) {
  // Attributes follow the parameter of the major axis: affine in that
  // coordinate, constant across it.
  SetOrigin(a, p);
  p->perspective = false;
  const double span = xMajor ? (b.X - a.X) / 256.0 : (b.Y - a.Y) / 256.0;
  const double offset = xMajor ? p->ox - a.X / 256.0 : p->oy - a.Y / 256.0;
  auto plane = [&](double va, double vb) {
    DoublePlane d;
    const double slope = (vb - va) / span;
    d.v0 = va + slope * offset;
    (xMajor ? d.dx : d.dy) = slope;
    return d;
  };
  const DoublePlane z = plane(a.z, b.z);
  p->z0 = static_cast<float>(z.v0);
  p->dzx = static_cast<float>(z.dx);
  p->dzy = static_cast<float>(z.dy);
  const int channels = dc.needSpecular ? 8 : 4;
  if (dc.flat) {
    ConstantColours(dc, a, p);
  } else {
    for (int i = 0; i < channels; ++i) p->color[i] = Fixed(plane(a.a[i], b.a[i]), 1.0);
    p->diffuseConst = p->specularConst = false;
  }
  for (int s = 0; s < dc.stages; ++s) {
    const StageConfig& sc = dc.stage[s];
    if (!sc.sampled) continue;
    const int iu = kTexCoord + 2 * sc.texSet;
    const DoublePlane u = plane(a.a[iu], b.a[iu]), v = plane(a.a[iu + 1], b.a[iu + 1]);
    const double rho = std::hypot((u.dx + u.dy) * sc.level[0].width, (v.dx + v.dy) * sc.level[0].height);
    SetupStage(sc, u, v, rho, &p->stage[s]);
  }
  DepthSetup(dc, std::min(a.z, b.z), std::max(a.z, b.z), p);
  Finish(dc, p);
}

void SetupPoint(const DrawConfig& dc, const ScreenVertex& a, Primitive* p) {
  SetOrigin(a, p);
  p->perspective = false;
  p->z0 = static_cast<float>(a.z);
  p->dzx = p->dzy = 0.0f;
  ConstantColours(dc, a, p);
  for (int s = 0; s < dc.stages; ++s) {
    const StageConfig& sc = dc.stage[s];
    if (!sc.sampled) continue;
    const int iu = kTexCoord + 2 * sc.texSet;
    DoublePlane u, v;
    u.v0 = a.a[iu];
    v.v0 = a.a[iu + 1];
    SetupStage(sc, u, v, 0.0, &p->stage[s]);
  }
  DepthSetup(dc, a.z, a.z, p);
  Finish(dc, p);
}

void ChooseLevels(const StageConfig& sc, double lambda, int* a, int* b, unsigned* weight, bool* linear) {
  const int last = sc.levels - 1;
  *b = -1;
  *weight = 0;
  if (!(lambda > 0.0)) {  // magnification (NaN included)
    *a = sc.finest;
    *linear = sc.magLinear;
    return;
  }
  *linear = sc.minLinear;
  lambda = std::min(lambda, 64.0);
  if (sc.mipFilter == D3DTEXF_NONE || last == sc.finest) {
    *a = sc.finest;
  } else if (sc.mipFilter == D3DTEXF_POINT) {
    *a = std::clamp(static_cast<int>(std::floor(lambda + 0.5)), sc.finest, last);
  } else {
    const double l = std::clamp(lambda, double(sc.finest), double(last));
    const int i = static_cast<int>(std::floor(l));
    const unsigned w = static_cast<unsigned>((l - i) * 256.0);
    *a = i;
    if (i < last && w > 0) {
      *b = i + 1;
      *weight = w;
    }
  }
}

}  // namespace platform::d3d9::raster
