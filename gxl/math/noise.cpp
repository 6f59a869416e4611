// 3-D gradient noise over a hashed lattice with a cubic fade.
#include "gxl/math/noise.h"

#include <cmath>

#include "gxl/math/detail.h"
#include "gxl/math/noise_tables.h"

using gxl::math::detail::F;

namespace {

struct Cell {
  int index;  // lattice coordinate & 255
  float f;    // offset inside the cell
};

// The coordinate moved by 10000 so that truncation is the floor for inputs above
// -10000. The lattice index comes from the float's own integer part, so huge
// values need no integer conversion; a value that is not finite gives cell 0 and
// a NaN or infinite offset, and so a NaN result.
Cell Split(float coordinate) {
  const float q = coordinate + 10000.0f;
  if (!std::isfinite(q)) return {0, q};
  const float i = std::trunc(q);
  const int index = static_cast<int>(std::fmod(i, 256.0f)) & 255;
  return {index, q - i};
}

float Fade(float t) { return F((3.0 - 2.0 * t) * t * t); }

float Lerp(float a, float b, float t) { return F(a + static_cast<double>(t) * (static_cast<double>(b) - a)); }

float Corner(std::uint32_t index, float x, float y, float z) {
  const float* g = gxl::math::detail::kNoiseGradients[index];
  return F(static_cast<double>(g[0]) * x + static_cast<double>(g[1]) * y + static_cast<double>(g[2]) * z);
}

}  // namespace

float Noise3(const Vec3* p) {
  const Cell cx = Split(p->x), cy = Split(p->y), cz = Split(p->z);
  const int X = cx.index, Y = cy.index, Z = cz.index, Z1 = (Z + 1) & 255;
  const float fx = cx.f, fy = cy.f, fz = cz.f;
  const float u = Fade(fx), v = Fade(fy), w = Fade(fz);

  const std::uint32_t* P = NoisePermutation;
  const std::uint32_t A = P[X], B = P[(X + 1) & 255];
  const std::uint32_t AA = P[A + Y], AB = P[A + ((Y + 1) & 255)];
  const std::uint32_t BA = P[B + Y], BB = P[B + ((Y + 1) & 255)];

  const float near = Lerp(Lerp(Corner(AA + Z, fx, fy, fz), Corner(BA + Z, fx - 1, fy, fz), u),
                          Lerp(Corner(AB + Z, fx, fy - 1, fz), Corner(BB + Z, fx - 1, fy - 1, fz), u), v);
  const float far = Lerp(Lerp(Corner(AA + Z1, fx, fy, fz - 1), Corner(BA + Z1, fx - 1, fy, fz - 1), u),
                         Lerp(Corner(AB + Z1, fx, fy - 1, fz - 1), Corner(BB + Z1, fx - 1, fy - 1, fz - 1), u), v);
  return F(Lerp(near, far, w) * 1.5);
}
