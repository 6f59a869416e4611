// Portable bodies of the plane operations.
#include <cmath>

#include "gxl/math/detail.h"
#include "gxl/math/plane.h"
#include "gxl/math/portable.h"
#include "gxl/math/vector.h"

namespace gxl::math::portable {

using detail::F;

Plane* PlaneFromPointNormal(Plane* out, const Vec3* point, const Vec3* normal) {
  const Vec3 n = *normal;
  const double d = static_cast<double>(point->x) * n.x + static_cast<double>(point->y) * n.y +
                   static_cast<double>(point->z) * n.z;
  *out = Plane(n.x, n.y, n.z, F(-d));
  return out;
}

Plane* PlaneFromPoints(Plane* out, const Vec3* p1, const Vec3* p2, const Vec3* p3) {
  const Vec3 a = *p1;
  const Vec3 e1 = a - *p2, e2 = a - *p3;
  Vec3 n;
  Vec3Cross(&n, &e1, &e2);
  ::Vec3Normalize(&n, &n);
  const double d = static_cast<double>(n.x) * a.x + static_cast<double>(n.y) * a.y + static_cast<double>(n.z) * a.z;
  *out = Plane(n.x, n.y, n.z, F(-d));
  return out;
}

Plane* PlaneNormalize(Plane* out, const Plane* p) {
  const Plane v = *p;
  const double sum = static_cast<double>(v.a) * v.a + static_cast<double>(v.b) * v.b + static_cast<double>(v.c) * v.c;
  const float s = F(sum);
  if (FloatNearlyEqual(s, 1.0f)) {
    *out = v;
  } else if (s < kSmallestNormalFloat) {
    *out = Plane(0, 0, 0, 0);
  } else {
    const double r = 1.0 / std::sqrt(sum);
    *out = Plane(F(v.a * r), F(v.b * r), F(v.c * r), F(v.d * r));
  }
  return out;
}

Vec3* PlaneIntersectLine(Vec3* out, const Plane* p, const Vec3* p1, const Vec3* p2) {
  const double a = p->a, b = p->b, c = p->c;
  const Vec3 u = *p1, v = *p2;
  const double n1 = a * u.x + b * u.y + c * u.z;
  const double n2 = a * v.x + b * v.y + c * v.z;
  const double den = n1 - n2;
  if (den == 0.0) return nullptr;
  const float t = F((n1 + p->d) / den);
  if (!std::isfinite(t)) return nullptr;
  *out = Vec3(F(u.x + static_cast<double>(t) * (static_cast<double>(v.x) - u.x)),
              F(u.y + static_cast<double>(t) * (static_cast<double>(v.y) - u.y)),
              F(u.z + static_cast<double>(t) * (static_cast<double>(v.z) - u.z)));
  return out;
}

Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix4* m) {
  const double a = p->a, b = p->b, c = p->c, d = p->d;
  float r[4];
  for (int k = 0; k < 4; ++k) r[k] = F(a * m->m[0][k] + b * m->m[1][k] + c * m->m[2][k] + d * m->m[3][k]);
  *out = Plane(r[0], r[1], r[2], r[3]);
  return out;
}

Plane* PlaneTransformArray(Plane* out, std::uint32_t outStride, const Plane* in, std::uint32_t inStride,
                           const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Plane* o, const Plane* v) { portable::PlaneTransform(o, v, &mm); });
}

}  // namespace gxl::math::portable
