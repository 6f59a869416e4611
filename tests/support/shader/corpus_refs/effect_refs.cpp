// The pixel functions of mame's shader model 3 effects (post, ntsc,
// distortion) in C++, written from their sources. Each returns COLOR0.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace corpusref::pixel {
namespace {

constexpr double kPi = 3.1415927;
using Row = std::vector<double>;

struct Vec2 {
  double x, y;
};
Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
Vec2 operator*(Vec2 a, Vec2 b) { return {a.x * b.x, a.y * b.y}; }
Vec2 operator/(Vec2 a, Vec2 b) { return {a.x / b.x, a.y / b.y}; }
Vec2 operator*(Vec2 a, double s) { return {a.x * s, a.y * s}; }
Vec2 Two(const Row& r) { return {r[0], r[1]}; }
Vec2 Two(const V4& v) { return {v[0], v[1]}; }
Vec2 Swapped(Vec2 v, bool swap) { return swap ? Vec2{v.y, v.x} : v; }
double Length(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

double Frac(double x) { return x - std::floor(x); }
double Lerp(double a, double b, double t) { return a + (b - a) * t; }
double Saturate(double x) { return std::min(std::max(x, 0.0), 1.0); }
double Smoothstep(double edge0, double edge1, double x) {
  const double t = Saturate((x - edge0) / (edge1 - edge0));
  return t * t * (3 - 2 * t);
}
double One(const Values& u, const char* name) { return u.at(name)[0]; }
bool Flag(const Values& u, const char* name) { return One(u, name) != 0; }
Outputs Color(const V4& c) { return {{"COLOR0", {c[0], c[1], c[2], c[3]}}}; }

}  // namespace

// Scanlines, shadow mask, colour floor and power, and the hum bar; the bools
// and the tile mode arrive as 0 or 1.
Outputs Post(const Inputs& in, const Values& u) {
  const Vec2 screenDims = Two(u.at("ScreenDims")), sourceDims = Two(u.at("SourceDims"));
  const Vec2 sourceRect = Two(u.at("SourceRect"));
  const bool swap = Flag(u, "SwapXY"), bloom = Flag(u, "PrepareBloom"), vector = Flag(u, "PrepareVector");
  const Vec2 screenCoord = Two(in.at("TEXCOORD1")) / screenDims;
  // The texture coordinate scaled about the source rectangle's centre, then
  // moved by the screen offset.
  const Vec2 centre = sourceRect * 0.5;
  Vec2 base = Two(in.at("TEXCOORD0"));
  base = (base - centre) / Two(u.at("ScreenScale")) + centre;
  base = base + centre * 2.0 * Two(u.at("ScreenOffset"));

  V4 color = Texel("DiffuseSampler", base.x, base.y);
  color[3] = 1;
  if (base.x < 0 || base.y < 0) color[0] = color[1] = color[2] = 0;
  const double shadowAlpha = One(u, "ShadowAlpha");
  if (!bloom && shadowAlpha > 0) {
    const bool byScreen = One(u, "ShadowTileMode") == 0;
    const Vec2 shadowDims = Swapped(Two(u.at("ShadowDims")), swap);
    const Vec2 coord = Swapped(byScreen ? screenCoord : base, swap);
    const Vec2 count = Swapped(Two(u.at("ShadowCount")), swap);
    const Vec2 texel = byScreen ? Vec2{1 / screenDims.x, 1 / screenDims.y} : Vec2{1 / sourceDims.x, 1 / sourceDims.y};
    const Vec2 tile = Swapped(texel * count, swap);
    const Vec2 ratio = coord / tile;
    const Vec2 shadowCoord = Vec2{Frac(ratio.x), Frac(ratio.y)} * Two(u.at("ShadowUV")) + Vec2{0.5, 0.5} / shadowDims;
    const V4 shadow = Texel("ShadowSampler", shadowCoord.x, shadowCoord.y);
    const double clear = (1 - shadow[3]) * shadowAlpha;
    for (int c = 0; c < 3; ++c)
      color[c] = Lerp(color[c] * Lerp(1, shadow[c], shadowAlpha), u.at("BackColor")[c], clear);
  }
  if (!bloom)
    for (int c = 0; c < 3; ++c) color[c] = u.at("Floor")[c] + (1 - u.at("Floor")[c]) * color[c];
  for (int c = 0; c < 3; ++c) color[c] = std::pow(color[c], u.at("Power")[c]);
  if (!bloom && !vector) {
    const double scanlineAlpha = One(u, "ScanlineAlpha");
    if (scanlineAlpha > 0) {
      const double coordinate = base.y * sourceDims.y * One(u, "ScanlineScale") * kPi;
      const double sine = std::sin(coordinate + One(u, "ScanlineOffset") * 1.618034);
      const double scaled = std::pow(sine * sine, One(u, "ScanlineHeight"));
      const double brightness = scaled * One(u, "ScanlineBrightScale") + 1 + One(u, "ScanlineBrightOffset");
      for (int c = 0; c < 3; ++c) color[c] *= Lerp(1, brightness * 0.5, scanlineAlpha);
    }
    const double humAlpha = One(u, "HumBarAlpha");
    if (humAlpha > 0) {
      const double step = Frac(One(u, "TimeMilliseconds") * One(u, "HumBarHertzRate"));
      const double brightness = 1 - Frac(base.y / sourceRect.y + step) * humAlpha;
      for (int c = 0; c < 3; ++c) color[c] *= brightness;
    }
  }
  const V4& vertex = in.at("COLOR0");
  for (int c = 0; c < 3; ++c) color[c] *= vector ? vertex[c] + 1 : vertex[c];
  color[3] = 1;
  return Color(color);
}

// The composite signal of four neighbouring texels at one coordinate.
namespace {

struct Ntsc {
  const Values& u;
  Vec2 sourceDims, sourceRect;
  double w, hOffset, vScale;
  explicit Ntsc(const Values& values)
      : u(values), sourceDims(Two(u.at("SourceDims"))), sourceRect(Two(u.at("SourceRect"))) {
    w = 2 * kPi * One(u, "CCValue") * One(u, "ScanTime");
    hOffset = (One(u, "BValue") + One(u, "SignalOffset")) / (w / kPi);
    vScale = One(u, "AValue") * sourceDims.y * sourceRect.y / (w / kPi);
  }
  V4 Composite(Vec2 coord) const {
    static const double kY[4] = {0.299, 0.587, 0.114, 0}, kI[4] = {0.595716, -0.274453, -0.321263, 0},
                        kQ[4] = {0.211456, -0.522591, 0.311135, 0};
    V4 out{};
    for (int k = 0; k < 4; ++k) {
      const double x = coord.x + One(u, "PValue") / sourceDims.x * (0.25 * k);
      const V4 t = Texel("DiffuseSampler", x, coord.y);
      double y = 0, i = 0, q = 0;
      for (int c = 0; c < 4; ++c) y += t[c] * kY[c], i += t[c] * kI[c], q += t[c] * kQ[c];
      const double phase = (x / sourceRect.x + hOffset + coord.y / sourceRect.y * vScale) * w;
      out[k] = y + i * std::cos(phase) + q * std::sin(phase);
    }
    return out;
  }
};

double Sinc(double x) { return x != 0 ? std::sin(x) / x : 1; }

}  // namespace

// The composite signal filtered back into YIQ over 64 samples, then RGB.
Outputs NtscDecode(const Inputs& in, const Values& u) {
  const Ntsc ntsc(u);
  const V4& t = in.at("TEXCOORD0");
  const double timePerSample = One(u, "ScanTime") / (ntsc.sourceDims.x * ntsc.sourceRect.x * 4);
  const double cc = One(u, "CCValue"), notch = One(u, "NotchHalfWidth");
  const double fy1 = (cc - notch) * timePerSample, fy2 = (cc + notch) * timePerSample;
  const double fy3 = One(u, "YFreqResponse") * timePerSample, fi = One(u, "IFreqResponse") * timePerSample,
               fq = One(u, "QFreqResponse") * timePerSample;
  double yiq[3] = {0, 0, 0};
  for (int i = 0; i < 64; i += 4) {
    const double n = i - 32;
    const V4 c = ntsc.Composite({t[0] + 1 / ntsc.sourceDims.x * (n * 0.25), t[1]});
    for (int k = 0; k < 4; ++k) {
      const double n4 = n + k;
      const double x = t[0] + 1 / ntsc.sourceDims.x * (n4 * 0.25);
      const double phase =
          ntsc.w * (x / ntsc.sourceRect.x + ntsc.hOffset + t[1] / ntsc.sourceRect.y * ntsc.vScale) + One(u, "OValue");
      const double kernel = 0.54 + 0.46 * std::cos(2 * kPi / 64 * n4);
      const double idealY = (2 * fy1 * Sinc(2 * kPi * fy1 * n4) - 2 * fy2 * Sinc(2 * kPi * fy2 * n4)) +
                            2 * fy3 * Sinc(2 * kPi * fy3 * n4);
      yiq[0] += c[k] * kernel * idealY;
      yiq[1] += c[k] * std::cos(phase) * kernel * 2 * fi * Sinc(2 * kPi * fi * n4);
      yiq[2] += c[k] * std::sin(phase) * kernel * 2 * fq * Sinc(2 * kPi * fq * n4);
    }
  }
  yiq[1] *= 2;
  yiq[2] *= 2;
  const double r = yiq[0] + 0.956 * yiq[1] + 0.621 * yiq[2], g = yiq[0] - 0.272 * yiq[1] - 0.647 * yiq[2],
               b = yiq[0] - 1.106 * yiq[1] + 1.703 * yiq[2];
  return Color({r, g, b, Texel("DiffuseSampler", t[0], t[1])[3]});
}

// Screen curvature, vignetting and rounded corners. The reflection spot is
// left out: the table draws its amount below zero, where the shader
// saturates the spot to zero and the pseudo-random noise on it (a fraction
// of a large cosine, which no reference can reproduce) multiplies nothing.
Outputs Distortion(const Inputs& in, const Values& u) {
  const double amount = One(u, "DistortionAmount"), cubic = One(u, "CubicDistortionAmount");
  const double cubicAmount = cubic > 0 ? cubic * 1.1 : cubic * 1.2;
  const double cornerAmount = std::max(One(u, "DistortCornerAmount"), amount + cubic);
  const double roundAmount = One(u, "RoundCornerAmount") * 0.5, smoothAmount = One(u, "SmoothBorderAmount") * 0.5;
  const bool swap = Flag(u, "SwapXY"), single = One(u, "ScreenCount") == 1;
  const Vec2 targetDims = Two(u.at("TargetDims")), quadDims = Two(u.at("QuadDims"));
  const Vec2 baseTargetDims = Swapped(targetDims / Two(u.at("TargetScale")), swap);
  const Vec2 quadScale = single ? baseTargetDims / quadDims : Vec2{1, 1};
  auto distorted = [](Vec2 c, double k, double kcube) {
    const double r2 = c.x * c.x + c.y * c.y;
    double f = kcube == 0 ? 1 + r2 * k : 1 + r2 * (k + kcube * std::sqrt(r2));
    f /= 1 + k * 0.25 + kcube * 0.125;
    return c * f;
  };
  const Vec2 t = Two(in.at("TEXCOORD0"));
  const Vec2 base = distorted(t - Vec2{0.5, 0.5}, amount, cubicAmount) + Vec2{0.5, 0.5};
  const Vec2 quad = distorted((t - Vec2{0.5, 0.5}) * quadScale, cornerAmount, 0);
  if (base.x < -1 / targetDims.x || base.y < -1 / targetDims.y || base.x > 1 + 1 / targetDims.x ||
      base.y > 1 + 1 / targetDims.y)
    return Color({0, 0, 0, 1});
  V4 color = Texel("DiffuseSampler", base.x, base.y);
  color[3] = 1;

  const double vignetteAmount = One(u, "VignettingAmount");
  const double radius = 1 - vignetteAmount * 0.25, blur = vignetteAmount * 0.75 + 0.25;
  const double vignette = Saturate(Smoothstep(radius, radius - blur, Length(quad)));

  const Vec2 bounds = Swapped(single ? quadDims : baseTargetDims, swap);
  const double smoothing = std::min(smoothAmount, roundAmount);
  const double range = std::min(bounds.x, bounds.y), minimum = 1 / range;
  const double cornerRadius = range * std::max(roundAmount, minimum);
  const double smooth = 1 / (range * std::max(smoothing, minimum * 2));
  const Vec2 p = bounds * (quad * 2.0);
  const Vec2 outside{std::max(std::fabs(p.x) - bounds.x + cornerRadius, 0.0),
                     std::max(std::fabs(p.y) - bounds.y + cornerRadius, 0.0)};
  const double box = (Length(outside) - cornerRadius) * smooth + 1 - std::pow(smooth * 0.5, 0.5);
  const double border = Saturate(Smoothstep(1, 0, box));
  for (int c = 0; c < 3; ++c) color[c] *= vignette * border;
  return Color(color);
}

}  // namespace corpusref::pixel
