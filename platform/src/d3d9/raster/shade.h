// What a draw and its primitives hand to the span shader: the per-draw
// configuration (the pipeline the state reduces to) and the per-primitive
// attribute planes, then the shader itself.
#pragma once

#include <cmath>
#include <cstdint>

#include "d3d9/raster/geometry.h"
#include "d3d9/raster/raster.h"
#include "d3d9/memory.h"
#include "d3d9/state.h"

namespace platform::d3d9::raster {

constexpr int kMaxLevels = 16;

// How the combiner reduces for the common single-stage cases: each channel
// group (colour, alpha) comes from the texture, the diffuse colour or their
// product. Anything else runs the general combiner.
enum class Combine : std::uint8_t { Masks, General };

struct StageConfig {
  DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
  bool sampled = false;  // a texture is bound here and the stage reads it
  int texSet = 0;        // texture coordinate set
  std::uint8_t addrU = kWrap, addrV = kWrap;
  bool magLinear = false, minLinear = false;
  DWORD mipFilter = 0;
  float lodBias = 0.0f;
  int finest = 0;  // MAXMIPLEVEL, within the chain
  std::uint32_t border = 0;
  int levels = 0;
  TexLevel level[kMaxLevels];
};

// Whether a stage operation reads argument `which` (a D3DTA_ selector).
inline bool ReadsArg(DWORD op, DWORD arg1, DWORD arg2, DWORD which) {
  if (op == D3DTOP_DISABLE) return false;
  const bool one = (arg1 & D3DTA_SELECTMASK) == which, two = (arg2 & D3DTA_SELECTMASK) == which;
  if (op == D3DTOP_SELECTARG1) return one;
  if (op == D3DTOP_SELECTARG2) return two;
  return one || two;
}

// Whether a stage operation reads its texture (BLENDTEXTUREALPHA does without naming it).
inline bool ReadsTexture(DWORD op, DWORD arg1, DWORD arg2) {
  return op == D3DTOP_BLENDTEXTUREALPHA || ReadsArg(op, arg1, arg2, D3DTA_TEXTURE);
}

// Level `a` and filter for a level-of-detail value (log2 of texels per
// pixel); `b` is the level blended in with `weight` (-1: none).
void ChooseLevels(const StageConfig& sc, double lambda, int* a, int* b, unsigned* weight, bool* linear);

// How one level of a stage is sampled.
inline SampleParams ParamsFor(const StageConfig& sc, int level, bool linear) {
  SampleParams p;
  p.level = sc.level[level];
  p.addrU = sc.addrU;
  p.addrV = sc.addrV;
  p.linear = linear;
  p.border = sc.border;
  return p;
}

struct DrawConfig {
  const Kernels* k = nullptr;
  int stages = 0;  // stages before the first colour DISABLE
  StageConfig stage[kStageCount];
  Combine combine = Combine::Masks;
  std::uint32_t modMask = 0, texMask = 0, diffMask = 0xFFFFFFFFu;
  bool specularAdd = false;
  bool needSpecular = false;
  std::uint32_t tfactor = 0xFFFFFFFFu;
  bool alphaTest = false;
  unsigned alphaFunc = 8, alphaRef = 0;
  bool depth = false;
  DepthFormat depthFormat = DepthFormat::D16;
  unsigned depthFunc = 4;
  bool depthWrite = true;
  std::uint8_t* depthBits = nullptr;
  std::size_t depthPitch = 0;
  DepthBound* depthBound = nullptr;  // D16 and D24 surfaces keep one
  int depthWidth = 0, depthHeight = 0;
  WriteParams write;
  std::uint8_t* target = nullptr;
  std::size_t targetPitch = 0;
  int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;  // viewport within the target
  bool flat = false;
  bool lastPixel = true;
  DWORD cull = 3;
  int attrs = kTexCoord;
};

// A double rounded to the nearest integer for fixed-point use: NaN reads as 0
// and magnitudes stop at 2^46, which keeps plane arithmetic inside 64 bits.
inline std::int64_t ToFixed(double v) {
  constexpr double kLimit = 70368744177664.0;
  if (!(v == v)) return 0;
  v = v < -kLimit ? -kLimit : v > kLimit ? kLimit : v;
  return static_cast<std::int64_t>(std::nearbyint(v));
}

// An affine function of the pixel position in fixed point: the value at the
// origin pixel and the steps per pixel in x and y.
struct FixedPlane {
  std::int64_t v0 = 0, dx = 0, dy = 0;
};

struct DoublePlane {
  double v0 = 0, dx = 0, dy = 0;
  double At(double x, double y) const { return v0 + dx * x + dy * y; }
};

struct StagePrim {
  bool mip2 = false;         // a second level is blended in
  unsigned mipWeight = 0;    // weight of the second level (0-255)
  SampleParams p[2];
  FixedPlane s[2], t[2];     // 16.16 texel coordinates per level
  DoublePlane u, v;          // perspective: u/w and v/w
};

// How a primitive treats the depth surface: test it per pixel, or, when the
// surface's bound shows that every pixel passes, only write a constant depth
// or nothing at all.
enum class DepthMode : std::uint8_t { Test, Fill, Skip };

struct Primitive {
  int ox = 0, oy = 0;  // origin pixel of the planes
  DepthMode depthMode = DepthMode::Test;
  std::uint8_t depthFunc = 8;
  std::uint32_t depthFill = 0;
  bool perspective = false;
  bool diffuseConst = false, specularConst = false;
  std::uint32_t diffuseValue = 0, specularValue = 0;
  FixedPlane color[8];  // 8.16: diffuse B, G, R, A, specular B, G, R, A
  DoublePlane q;        // perspective: 1/w
  DoublePlane attr[8];  // perspective: colour/w
  float z0 = 0.0f, dzx = 0.0f, dzy = 0.0f;
  StagePrim stage[kStageCount];
  WriteParams write;
  std::uint32_t modMask = 0, texMask = 0, diffMask = 0;
  bool sampleAny = false;
  bool skipClear = false;  // pixels whose texels all read alpha 0 leave the target as it was
};

// Fills everything in `prim` but the planes' geometry-independent parts from
// three screen vertices (a line or point passes its own planes); `flat` is
// the vertex whose colours flat shading uses.
// `fourth`, when given, is the rectangle corner the triangle's plane extends to.
void SetupTriangle(const DrawConfig& dc, const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                   const ScreenVertex& flat, Primitive* prim, const ScreenVertex* fourth = nullptr);
// A line: attributes vary along the major axis only.
void SetupLine(const DrawConfig& dc, const ScreenVertex& a, const ScreenVertex& b, bool xMajor, Primitive* prim);
// A point: constant attributes.
void SetupPoint(const DrawConfig& dc, const ScreenVertex& a, Primitive* prim);

// Shades pixels [x0, x1) of row y.
void ShadeSpan(const DrawConfig& dc, const Primitive& prim, int y, int x0, int x1);

}  // namespace platform::d3d9::raster
