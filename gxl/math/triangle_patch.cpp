// Portable body of the cubic triangle patch (a cubic Bezier triangle built from
// corner positions and normals).
#include <algorithm>
#include <bit>
#include <vector>

#include "gxl/math/detail.h"
#include "gxl/math/portable.h"
#include "gxl/math/vertex_ops.h"

namespace gxl::math::portable {

namespace {

struct Point {
  double v[3];
};

Point Add(const Point& a, const Point& b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2]}}; }
Point Scale(const Point& a, double s) { return {{a.v[0] * s, a.v[1] * s, a.v[2] * s}}; }

// q plus a third of the edge towards p, with the edge's component along q's
// normal n removed.
Point EdgePoint(const Point& p, const Point& q, const Point& n) {
  constexpr double kThird = 0.33333334f;
  const double e[3] = {p.v[0] - q.v[0], p.v[1] - q.v[1], p.v[2] - q.v[2]};
  const double along = e[0] * n.v[0] + e[1] * n.v[1] + e[2] * n.v[2];
  Point r;
  for (int k = 0; k < 3; ++k) r.v[k] = q.v[k] + kThird * (e[k] - along * n.v[k]);
  return r;
}

}  // namespace

void EvaluateTrianglePatch(const Vec3* normals, const Vec2* samples, std::uint32_t sampleCount, float* out,
                           const float* vertex0, const float* vertex1, const float* vertex2,
                           std::uint32_t floatsPerVertex) {
  if (sampleCount == 0 || floatsPerVertex == 0) return;
  // Position coordinates a vertex does not have are neither read nor written.
  const std::uint32_t coordinates = std::min<std::uint32_t>(floatsPerVertex, 3);
  const float* corner[3] = {vertex0, vertex1, vertex2};
  Point P[3] = {}, n[3];
  for (int i = 0; i < 3; ++i) {
    for (std::uint32_t k = 0; k < coordinates; ++k) P[i].v[k] = corner[i][k];
    n[i] = {{normals[i].x, normals[i].y, normals[i].z}};
  }
  // The other floats of the corners, copied first in case the output overlaps them.
  const std::uint32_t extra = floatsPerVertex - coordinates;
  std::vector<float> rest(3 * static_cast<std::size_t>(extra));
  for (int i = 0; i < 3; ++i) std::copy(corner[i] + coordinates, corner[i] + floatsPerVertex, rest.data() + i * extra);

  const Point b01 = EdgePoint(P[1], P[0], n[0]), b02 = EdgePoint(P[2], P[0], n[0]);
  const Point b10 = EdgePoint(P[0], P[1], n[1]), b20 = EdgePoint(P[0], P[2], n[2]);
  const Point b12 = EdgePoint(P[2], P[1], n[1]), b21 = EdgePoint(P[1], P[2], n[2]);
  // The f32 0.166666, a little below 1/6.
  const double kSixth = std::bit_cast<float>(0x3E2AAA7Eu);
  const Point edges = Add(Add(Add(b01, b02), Add(b10, b20)), Add(b12, b21));
  const Point corners = Add(Add(P[0], P[1]), P[2]);
  const Point c = Add(Scale(edges, 0.25), Scale(corners, -kSixth));

  for (std::uint32_t s = 0; s < sampleCount; ++s) {
    const double u = samples[s].x, v = samples[s].y, w = 1.0 - u - v;
    const double weights[10] = {v * v * v,     3 * w * v * v, 3 * u * v * v, 3 * w * w * v, 6 * u * v * w,
                                3 * u * u * v, w * w * w,     3 * w * w * u, 3 * w * u * u, u * u * u};
    const Point* points[10] = {&P[0], &b01, &b02, &b10, &c, &b20, &P[1], &b12, &b21, &P[2]};
    for (std::uint32_t k = 0; k < coordinates; ++k) {
      double sum = 0;
      for (int t = 0; t < 10; ++t) sum += weights[t] * points[t]->v[k];
      out[k] = detail::F(sum);
    }
    for (std::uint32_t k = 0; k < extra; ++k)
      out[coordinates + k] = detail::F(w * rest[extra + k] + v * rest[k] + u * rest[2 * extra + k]);
    out += floatsPerVertex;
  }
}

}  // namespace gxl::math::portable
