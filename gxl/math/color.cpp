// Colour adjustment and the Fresnel term.
#include "gxl/math/color.h"

#include <cmath>

#include "gxl/math/detail.h"

using gxl::math::detail::F;

ColorF* ColorAdjustSaturation(ColorF* out, const ColorF* c, float s) {
  const ColorF v = *c;
  const double lum = 0.2125 * v.r + 0.7154 * v.g + 0.0721 * v.b;
  *out = ColorF(F(lum + s * (v.r - lum)), F(lum + s * (v.g - lum)), F(lum + s * (v.b - lum)), v.a);
  return out;
}

ColorF* ColorAdjustContrast(ColorF* out, const ColorF* c, float s) {
  const ColorF v = *c;
  *out = ColorF(F(0.5 + s * (v.r - 0.5)), F(0.5 + s * (v.g - 0.5)), F(0.5 + s * (v.b - 0.5)), v.a);
  return out;
}

float FresnelTerm(float cosine, float refractionIndex) {
  if (cosine < kSmallestNormalFloat) return 1.0f;  // grazing (NaN goes on)
  const double c = cosine, n = refractionIndex;
  const double k = 1.0 - c * c;
  const double g2 = std::fabs(n * n - k);
  const double g = std::sqrt(g2);
  const double gc = g * c;
  const double e = (gc - k) / (gc + k);
  const float u = F(g2 + c * c);
  const float v = F(2.0 * g * c);
  const double f = 0.5 * (static_cast<double>(u) - v) / (static_cast<double>(u) + v) * (e * e + 1.0);
  if (f > 1.0) return 1.0f;
  if (f < 0.0) return 0.0f;
  return F(f);
}
