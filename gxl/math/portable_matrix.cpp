// Portable bodies of the matrix products, algebra and elementary transforms.
#include <cmath>
#include <cstring>

#include "gxl/math/detail.h"
#include "gxl/math/matrix.h"
#include "gxl/math/plane.h"
#include "gxl/math/portable.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/vector.h"

namespace gxl::math::portable {

using detail::F;

namespace {

void Product(const Matrix4* a, const Matrix4* b, double r[4][4]) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r[i][j] = static_cast<double>(a->m[i][0]) * b->m[0][j] + static_cast<double>(a->m[i][1]) * b->m[1][j] +
                static_cast<double>(a->m[i][2]) * b->m[2][j] + static_cast<double>(a->m[i][3]) * b->m[3][j];
    }
  }
}

void Zero(Matrix4* out) { std::memset(out->m, 0, sizeof out->m); }

// The 2x2 minors of a row pair, by column pair: (01, 02, 03, 12, 13, 23).
struct PairMinors {
  double m01, m02, m03, m12, m13, m23;
};

PairMinors Minors(const float* r0, const float* r1) {
  auto minor = [&](int i, int j) {
    return static_cast<double>(r0[i]) * r1[j] - static_cast<double>(r0[j]) * r1[i];
  };
  return {minor(0, 1), minor(0, 2), minor(0, 3), minor(1, 2), minor(1, 3), minor(2, 3)};
}

// The 3x3 minors, by left-out column, of row r together with the row pair whose
// 2x2 minors are p (r first or last: the sign pattern is the same).
void ThreeByThree(const float* r, const PairMinors& p, double out[4]) {
  out[0] = r[1] * p.m23 - r[2] * p.m13 + r[3] * p.m12;
  out[1] = r[0] * p.m23 - r[2] * p.m03 + r[3] * p.m02;
  out[2] = r[0] * p.m13 - r[1] * p.m03 + r[3] * p.m01;
  out[3] = r[0] * p.m12 - r[1] * p.m02 + r[2] * p.m01;
}

// The 16 cofactors c[r][col] of m.
void Cofactors(const Matrix4* m, double c[4][4]) {
  const PairMinors upper = Minors(m->m[0], m->m[1]);
  const PairMinors lower = Minors(m->m[2], m->m[3]);
  double minor[4][4];
  ThreeByThree(m->m[1], lower, minor[0]);  // rows 1, 2, 3
  ThreeByThree(m->m[0], lower, minor[1]);  // rows 0, 2, 3
  ThreeByThree(m->m[3], upper, minor[2]);  // rows 0, 1, 3 (row 3 last: same sign pattern)
  ThreeByThree(m->m[2], upper, minor[3]);  // rows 0, 1, 2
  for (int r = 0; r < 4; ++r)
    for (int col = 0; col < 4; ++col) c[r][col] = ((r + col) & 1) ? -minor[r][col] : minor[r][col];
}

}  // namespace

Matrix4* MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  double r[4][4];
  Product(a, b, r);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = F(r[i][j]);
  return out;
}

Matrix4* MatrixMultiplyTranspose(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  double r[4][4];
  Product(a, b, r);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[j][i] = F(r[i][j]);
  return out;
}

Matrix4* MatrixTranspose(Matrix4* out, const Matrix4* m) {
  const Matrix4 t = *m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[j][i] = t.m[i][j];
  return out;
}

float MatrixDeterminant(const Matrix4* m) {
  double c[4][4];
  Cofactors(m, c);
  return F(m->m[0][0] * c[0][0] + m->m[0][1] * c[0][1] + m->m[0][2] * c[0][2] + m->m[0][3] * c[0][3]);
}

Matrix4* MatrixInverse(Matrix4* out, float* determinant, const Matrix4* m) {
  double c[4][4];
  Cofactors(m, c);
  const float d = F(m->m[0][0] * c[0][0] + m->m[1][0] * c[1][0] + m->m[2][0] * c[2][0] + m->m[3][0] * c[3][0]);
  if (determinant) *determinant = d;
  if (d == 0.0f) return nullptr;
  const float r = F(1.0 / d);
  if (!std::isfinite(r)) return nullptr;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[j][i] = F(c[i][j] * r);
  return out;
}

Matrix4* MatrixTranslation(Matrix4* out, float x, float y, float z) {
  MatrixIdentity(out);
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
  return out;
}

Matrix4* MatrixScaling(Matrix4* out, float sx, float sy, float sz) {
  Zero(out);
  out->m[0][0] = sx;
  out->m[1][1] = sy;
  out->m[2][2] = sz;
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixRotationX(Matrix4* out, float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  Zero(out);
  out->m[0][0] = 1.0f;
  out->m[1][1] = c;
  out->m[1][2] = s;
  out->m[2][1] = -s;
  out->m[2][2] = c;
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixRotationY(Matrix4* out, float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  Zero(out);
  out->m[0][0] = c;
  out->m[0][2] = -s;
  out->m[1][1] = 1.0f;
  out->m[2][0] = s;
  out->m[2][2] = c;
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixRotationZ(Matrix4* out, float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  Zero(out);
  out->m[0][0] = c;
  out->m[0][1] = s;
  out->m[1][0] = -s;
  out->m[1][1] = c;
  out->m[2][2] = 1.0f;
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixRotationAxis(Matrix4* out, const Vec3* axis, float angle) {
  Vec3 n;
  ::Vec3Normalize(&n, axis);
  float sf, cf;
  SinCos(angle, &sf, &cf);
  const double s = sf, c = cf, k = 1.0 - c;
  const double x = n.x, y = n.y, z = n.z;
  Zero(out);
  out->m[0][0] = F(x * x * k + c);
  out->m[0][1] = F(x * y * k + z * s);
  out->m[0][2] = F(x * z * k - y * s);
  out->m[1][0] = F(x * y * k - z * s);
  out->m[1][1] = F(y * y * k + c);
  out->m[1][2] = F(y * z * k + x * s);
  out->m[2][0] = F(x * z * k + y * s);
  out->m[2][1] = F(y * z * k - x * s);
  out->m[2][2] = F(z * z * k + c);
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixFromQuaternion(Matrix4* out, const Quaternion* q) {
  const double x = q->x, y = q->y, z = q->z, w = q->w;
  Zero(out);
  out->m[0][0] = F(1 - 2 * y * y - 2 * z * z);
  out->m[0][1] = F(2 * x * y + 2 * z * w);
  out->m[0][2] = F(2 * x * z - 2 * y * w);
  out->m[1][0] = F(2 * x * y - 2 * z * w);
  out->m[1][1] = F(1 - 2 * x * x - 2 * z * z);
  out->m[1][2] = F(2 * y * z + 2 * x * w);
  out->m[2][0] = F(2 * x * z + 2 * y * w);
  out->m[2][1] = F(2 * y * z - 2 * x * w);
  out->m[2][2] = F(1 - 2 * x * x - 2 * y * y);
  out->m[3][3] = 1.0f;
  return out;
}

Matrix4* MatrixFromYawPitchRoll(Matrix4* out, float yaw, float pitch, float roll) {
  Quaternion q;
  ::QuaternionFromYawPitchRoll(&q, yaw, pitch, roll);
  return ::MatrixFromQuaternion(out, &q);
}

Matrix4* MatrixPlanarShadow(Matrix4* out, const Vec4* light, const Plane* plane) {
  Plane p;
  ::PlaneNormalize(&p, plane);
  const double P[4] = {p.a, p.b, p.c, p.d};
  const double L[4] = {light->x, light->y, light->z, light->w};
  const double d = P[0] * L[0] + P[1] * L[1] + P[2] * L[2] + P[3] * L[3];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out->m[r][c] = F(-P[r] * L[c] + (r == c ? d : 0.0));
  return out;
}

Matrix4* MatrixPlaneReflection(Matrix4* out, const Plane* plane) {
  Plane p;
  ::PlaneNormalize(&p, plane);
  const double P[4] = {p.a, p.b, p.c, p.d};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 3; ++c) out->m[r][c] = F(-2.0 * P[r] * P[c] + (r == c ? 1.0 : 0.0));
    out->m[r][3] = r == 3 ? 1.0f : 0.0f;
  }
  return out;
}

}  // namespace gxl::math::portable
