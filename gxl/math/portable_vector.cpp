// Portable bodies of the vector operations. Sums are formed in double and
// rounded to f32 when stored; every body reads its inputs before its first store.
#include <cmath>

#include "gxl/math/detail.h"
#include "gxl/math/matrix.h"
#include "gxl/math/portable.h"
#include "gxl/math/vector.h"

namespace gxl::math::portable {

using detail::F;

namespace {

// (x, y, z, w) x m, all four columns.
void RowTimesMatrix(double x, double y, double z, double w, const Matrix4* m, double r[4]) {
  const auto& a = m->m;
  for (int c = 0; c < 4; ++c) r[c] = x * a[0][c] + y * a[1][c] + z * a[2][c] + w * a[3][c];
}

// x, y, z divided by w unless w is nearly 1 (w = 0 gives infinities).
void DivideByW(double r[4]) {
  const float w = F(r[3]);
  if (FloatNearlyEqual(w, 1.0f)) return;
  const double inv = 1.0 / static_cast<double>(w);
  r[0] *= inv;
  r[1] *= inv;
  r[2] *= inv;
}

// The four spline weights, rounded to f32 before they are applied.
void HermiteWeights(float s, float w[4]) {
  const double s1 = s, s2 = s1 * s1, s3 = s2 * s1;
  w[0] = F(2 * s3 - 3 * s2 + 1);
  w[1] = F(s3 - 2 * s2 + s1);
  w[2] = F(-2 * s3 + 3 * s2);
  w[3] = F(s3 - s2);
}

void CatmullRomWeights(float s, float w[4]) {
  const double s1 = s, s2 = s1 * s1, s3 = s2 * s1;
  w[0] = F(0.5 * (-s3 + 2 * s2 - s1));
  w[1] = F(0.5 * (3 * s3 - 5 * s2 + 2));
  w[2] = F(0.5 * (-3 * s3 + 4 * s2 + s1));
  w[3] = F(0.5 * (s3 - s2));
}

// out = w0 a + w1 b + w2 c + w3 d over n floats.
void Weighted(float* out, const float* a, const float* b, const float* c, const float* d, const float w[4], int n) {
  float tmp[4];
  for (int k = 0; k < n; ++k) {
    tmp[k] = F(static_cast<double>(w[0]) * a[k] + static_cast<double>(w[1]) * b[k] +
               static_cast<double>(w[2]) * c[k] + static_cast<double>(w[3]) * d[k]);
  }
  for (int k = 0; k < n; ++k) out[k] = tmp[k];
}

void BarycentricFloats(float* out, const float* p1, const float* p2, const float* p3, float f, float g, int n) {
  float tmp[4];
  for (int k = 0; k < n; ++k) {
    const double a = p1[k];
    tmp[k] = F(a + f * (p2[k] - a) + g * (p3[k] - a));
  }
  for (int k = 0; k < n; ++k) out[k] = tmp[k];
}

// world x view x projection of the matrices present; false (and the identity)
// when none is.
bool CombineMatrices(Matrix4* out, const Matrix4* projection, const Matrix4* view, const Matrix4* world) {
  const Matrix4* order[3] = {world, view, projection};
  bool any = false;
  for (const Matrix4* m : order) {
    if (!m) continue;
    if (any) {
      ::MatrixMultiply(out, out, m);
    } else {
      *out = *m;
    }
    any = true;
  }
  if (!any) MatrixIdentity(out);
  return any;
}

// The inverse of the combined matrix; the identity when no matrix is present or
// the combination is singular.
void CombinedInverse(Matrix4* out, const Matrix4* projection, const Matrix4* view, const Matrix4* world) {
  Matrix4 combined;
  if (!CombineMatrices(&combined, projection, view, world)) {
    MatrixIdentity(out);
    return;
  }
  if (!::MatrixInverse(out, nullptr, &combined)) MatrixIdentity(out);
}

}  // namespace

Vec4* Vec2Transform(Vec4* out, const Vec2* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, 0, 1, m, r);
  *out = Vec4(F(r[0]), F(r[1]), F(r[2]), F(r[3]));
  return out;
}

Vec4* Vec3Transform(Vec4* out, const Vec3* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, v->z, 1, m, r);
  *out = Vec4(F(r[0]), F(r[1]), F(r[2]), F(r[3]));
  return out;
}

Vec4* Vec4Transform(Vec4* out, const Vec4* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, v->z, v->w, m, r);
  *out = Vec4(F(r[0]), F(r[1]), F(r[2]), F(r[3]));
  return out;
}

Vec2* Vec2TransformDirection(Vec2* out, const Vec2* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, 0, 0, m, r);
  *out = Vec2(F(r[0]), F(r[1]));
  return out;
}

Vec3* Vec3TransformDirection(Vec3* out, const Vec3* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, v->z, 0, m, r);
  *out = Vec3(F(r[0]), F(r[1]), F(r[2]));
  return out;
}

Vec2* Vec2TransformPoint(Vec2* out, const Vec2* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, 0, 1, m, r);
  DivideByW(r);
  *out = Vec2(F(r[0]), F(r[1]));
  return out;
}

Vec3* Vec3TransformPoint(Vec3* out, const Vec3* v, const Matrix4* m) {
  double r[4];
  RowTimesMatrix(v->x, v->y, v->z, 1, m, r);
  DivideByW(r);
  *out = Vec3(F(r[0]), F(r[1]), F(r[2]));
  return out;
}

Vec4* Vec2TransformArray(Vec4* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;  // the matrix may lie in the output
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec4* o, const Vec2* v) { portable::Vec2Transform(o, v, &mm); });
}

Vec2* Vec2TransformPointArray(Vec2* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                              const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec2* o, const Vec2* v) { portable::Vec2TransformPoint(o, v, &mm); });
}

Vec2* Vec2TransformDirectionArray(Vec2* out, std::uint32_t outStride, const Vec2* in, std::uint32_t inStride,
                                  const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec2* o, const Vec2* v) { portable::Vec2TransformDirection(o, v, &mm); });
}

Vec4* Vec3TransformArray(Vec4* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec4* o, const Vec3* v) { portable::Vec3Transform(o, v, &mm); });
}

Vec3* Vec3TransformPointArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                              const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec3* o, const Vec3* v) { portable::Vec3TransformPoint(o, v, &mm); });
}

Vec3* Vec3TransformDirectionArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                                  const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec3* o, const Vec3* v) { portable::Vec3TransformDirection(o, v, &mm); });
}

Vec4* Vec4TransformArray(Vec4* out, std::uint32_t outStride, const Vec4* in, std::uint32_t inStride,
                         const Matrix4* m, std::uint32_t count) {
  const Matrix4 mm = *m;
  return detail::ForEachStrided(out, outStride, in, inStride, count,
                                [&](Vec4* o, const Vec4* v) { portable::Vec4Transform(o, v, &mm); });
}

Vec2* Vec2Normalize(Vec2* out, const Vec2* v) {
  detail::NormalizeFloats(&out->x, &v->x, 2);
  return out;
}

Vec3* Vec3Normalize(Vec3* out, const Vec3* v) {
  detail::NormalizeFloats(&out->x, &v->x, 3);
  return out;
}

Vec4* Vec4Normalize(Vec4* out, const Vec4* v) {
  detail::NormalizeFloats(&out->x, &v->x, 4);
  return out;
}

Vec4* Vec4Cross(Vec4* out, const Vec4* u, const Vec4* v, const Vec4* w) {
  const double vx = v->x, vy = v->y, vz = v->z, vw = v->w;
  const double wx = w->x, wy = w->y, wz = w->z, ww = w->w;
  const double a = vx * wy - vy * wx, b = vx * wz - vz * wx, c = vx * ww - vw * wx;
  const double d = vy * wz - vz * wy, e = vy * ww - vw * wy, f = vz * ww - vw * wz;
  const double ux = u->x, uy = u->y, uz = u->z, uw = u->w;
  *out = Vec4(F(uy * f - uz * e + uw * d), F(-ux * f + uz * c - uw * b), F(ux * e - uy * c + uw * a),
              F(-ux * d + uy * b - uz * a));
  return out;
}

Vec2* Vec2Hermite(Vec2* out, const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, float s) {
  float w[4];
  HermiteWeights(s, w);
  Weighted(&out->x, &p1->x, &t1->x, &p2->x, &t2->x, w, 2);
  return out;
}

Vec3* Vec3Hermite(Vec3* out, const Vec3* p1, const Vec3* t1, const Vec3* p2, const Vec3* t2, float s) {
  float w[4];
  HermiteWeights(s, w);
  Weighted(&out->x, &p1->x, &t1->x, &p2->x, &t2->x, w, 3);
  return out;
}

Vec4* Vec4Hermite(Vec4* out, const Vec4* p1, const Vec4* t1, const Vec4* p2, const Vec4* t2, float s) {
  float w[4];
  HermiteWeights(s, w);
  Weighted(&out->x, &p1->x, &t1->x, &p2->x, &t2->x, w, 4);
  return out;
}

Vec2* Vec2CatmullRom(Vec2* out, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, float s) {
  float w[4];
  CatmullRomWeights(s, w);
  Weighted(&out->x, &p0->x, &p1->x, &p2->x, &p3->x, w, 2);
  return out;
}

Vec3* Vec3CatmullRom(Vec3* out, const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3, float s) {
  float w[4];
  CatmullRomWeights(s, w);
  Weighted(&out->x, &p0->x, &p1->x, &p2->x, &p3->x, w, 3);
  return out;
}

Vec4* Vec4CatmullRom(Vec4* out, const Vec4* p0, const Vec4* p1, const Vec4* p2, const Vec4* p3, float s) {
  float w[4];
  CatmullRomWeights(s, w);
  Weighted(&out->x, &p0->x, &p1->x, &p2->x, &p3->x, w, 4);
  return out;
}

Vec2* Vec2Barycentric(Vec2* out, const Vec2* p1, const Vec2* p2, const Vec2* p3, float f, float g) {
  BarycentricFloats(&out->x, &p1->x, &p2->x, &p3->x, f, g, 2);
  return out;
}

Vec3* Vec3Barycentric(Vec3* out, const Vec3* p1, const Vec3* p2, const Vec3* p3, float f, float g) {
  BarycentricFloats(&out->x, &p1->x, &p2->x, &p3->x, f, g, 3);
  return out;
}

Vec4* Vec4Barycentric(Vec4* out, const Vec4* p1, const Vec4* p2, const Vec4* p3, float f, float g) {
  BarycentricFloats(&out->x, &p1->x, &p2->x, &p3->x, f, g, 4);
  return out;
}

Vec3* Vec3ToViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection, const Matrix4* view,
                     const Matrix4* world) {
  Matrix4 combined;
  CombineMatrices(&combined, projection, view, world);
  Vec3 p;
  ::Vec3TransformPoint(&p, v, &combined);
  if (vp) {
    const double x = vp->X, y = vp->Y, width = vp->Width, height = vp->Height;
    p = Vec3(F(x + width * (p.x + 1.0) * 0.5), F(y + height * (1.0 - p.y) * 0.5),
             F(vp->MinZ + p.z * (static_cast<double>(vp->MaxZ) - vp->MinZ)));
  }
  *out = p;
  return out;
}

Vec3* Vec3FromViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection, const Matrix4* view,
                       const Matrix4* world) {
  Matrix4 inverse;
  CombinedInverse(&inverse, projection, view, world);
  Vec3 q = *v;
  if (vp) {
    const double x = vp->X, y = vp->Y, width = vp->Width, height = vp->Height;
    q = Vec3(F(2.0 * (v->x - x) / width - 1.0), F(-(2.0 * (v->y - y) / height - 1.0)),
             F((v->z - static_cast<double>(vp->MinZ)) / (static_cast<double>(vp->MaxZ) - vp->MinZ)));
  }
  return ::Vec3TransformPoint(out, &q, &inverse);
}

Vec3* Vec3ToViewportArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                          const Viewport* vp, const Matrix4* projection, const Matrix4* view, const Matrix4* world,
                          std::uint32_t count) {
  if (count == 0) return out;
  Matrix4 m;
  CombineMatrices(&m, projection, view, world);
  if (vp) {
    const float halfWidth = F(vp->Width * 0.5), halfHeight = F(vp->Height * 0.5);
    Matrix4 screen;
    MatrixIdentity(&screen);
    screen.m[0][0] = halfWidth;
    screen.m[1][1] = -halfHeight;
    screen.m[2][2] = vp->MaxZ - vp->MinZ;
    screen.m[3][0] = F(vp->X + static_cast<double>(halfWidth));
    screen.m[3][1] = F(vp->Y + static_cast<double>(halfHeight));
    screen.m[3][2] = vp->MinZ;
    ::MatrixMultiply(&m, &m, &screen);
  }
  return ::Vec3TransformPointArray(out, outStride, in, inStride, &m, count);
}

Vec3* Vec3FromViewportArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                            const Viewport* vp, const Matrix4* projection, const Matrix4* view, const Matrix4* world,
                            std::uint32_t count) {
  if (count == 0) return out;
  Matrix4 m;
  CombinedInverse(&m, projection, view, world);
  if (vp) {
    const double sx = 2.0 / vp->Width, sy = 2.0 / vp->Height;
    const double sz = 1.0 / (static_cast<double>(vp->MaxZ) - vp->MinZ);
    Matrix4 unscreen;
    MatrixIdentity(&unscreen);
    unscreen.m[0][0] = F(sx);
    unscreen.m[1][1] = F(-sy);
    unscreen.m[2][2] = F(sz);
    unscreen.m[3][0] = F(-(vp->X * sx) - 1.0);
    unscreen.m[3][1] = F(vp->Y * sy + 1.0);
    unscreen.m[3][2] = F(-(vp->MinZ * sz));
    ::MatrixMultiply(&m, &unscreen, &m);
  }
  return ::Vec3TransformPointArray(out, outStride, in, inStride, &m, count);
}

}  // namespace gxl::math::portable
