// The plain matrix operations: identity, view and projection builders, and the
// product operators of the records.
#include <cmath>
#include <cstring>

#include "gxl/math/detail.h"
#include "gxl/math/matrix.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/vector.h"

using gxl::math::detail::F;

namespace {

Matrix4* Zero(Matrix4* out) {
  std::memset(out->m, 0, sizeof out->m);
  return out;
}

// Columns x, y, z and the eye moved to the origin.
Matrix4* LookAt(Matrix4* out, const Vec3* eye, const Vec3& zDirection, const Vec3* up) {
  Vec3 z, x, y;
  ::Vec3Normalize(&z, &zDirection);
  Vec3Cross(&x, up, &z);
  ::Vec3Normalize(&x, &x);
  Vec3Cross(&y, &z, &x);
  const Vec3 e = *eye;
  Zero(out);
  out->m[0][0] = x.x, out->m[0][1] = y.x, out->m[0][2] = z.x;
  out->m[1][0] = x.y, out->m[1][1] = y.y, out->m[1][2] = z.y;
  out->m[2][0] = x.z, out->m[2][1] = y.z, out->m[2][2] = z.z;
  auto dot = [](const Vec3& a, const Vec3& b) {
    return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y + static_cast<double>(a.z) * b.z;
  };
  out->m[3][0] = F(-dot(x, e));
  out->m[3][1] = F(-dot(y, e));
  out->m[3][2] = F(-dot(z, e));
  out->m[3][3] = 1.0f;
  return out;
}

// The depth terms shared by the perspective forms: [2][2], [2][3], [3][2].
void PerspectiveDepth(Matrix4* out, float zn, float zf, bool rightHanded) {
  const double n = zn, f = zf;
  if (rightHanded) {
    out->m[2][2] = F(f / (n - f));
    out->m[2][3] = -1.0f;
    out->m[3][2] = F(n * f / (n - f));
  } else {
    out->m[2][2] = F(f / (f - n));
    out->m[2][3] = 1.0f;
    out->m[3][2] = F(-n * f / (f - n));
  }
}

void OrthoDepth(Matrix4* out, float zn, float zf, bool rightHanded) {
  const double n = zn, f = zf;
  if (rightHanded) {
    out->m[2][2] = F(1.0 / (n - f));
    out->m[3][2] = F(n / (n - f));
  } else {
    out->m[2][2] = F(1.0 / (f - n));
    out->m[3][2] = F(-n / (f - n));
  }
  out->m[3][3] = 1.0f;
}

Matrix4* PerspectiveFov(Matrix4* out, float fovy, float aspect, float zn, float zf, bool rightHanded) {
  float s, c;
  SinCos(fovy * 0.5f, &s, &c);
  const float y = c / s;
  Zero(out);
  out->m[0][0] = y / aspect;
  out->m[1][1] = y;
  PerspectiveDepth(out, zn, zf, rightHanded);
  return out;
}

Matrix4* PerspectiveOffCenter(Matrix4* out, float l, float r, float b, float t, float zn, float zf,
                              bool rightHanded) {
  const double n = zn, w = 1.0 / (static_cast<double>(r) - l), h = 1.0 / (static_cast<double>(t) - b);
  Zero(out);
  out->m[0][0] = F(2 * n * w);
  out->m[1][1] = F(2 * n * h);
  const double sx = (static_cast<double>(l) + r) * w, sy = (static_cast<double>(t) + b) * h;
  out->m[2][0] = F(rightHanded ? sx : -sx);
  out->m[2][1] = F(rightHanded ? sy : -sy);
  PerspectiveDepth(out, zn, zf, rightHanded);
  return out;
}

Matrix4* OrthoOffCenter(Matrix4* out, float l, float r, float b, float t, float zn, float zf, bool rightHanded) {
  const double w = 1.0 / (static_cast<double>(r) - l), h = 1.0 / (static_cast<double>(t) - b);
  Zero(out);
  out->m[0][0] = F(2 * w);
  out->m[1][1] = F(2 * h);
  out->m[3][0] = F(-(static_cast<double>(l) + r) * w);
  out->m[3][1] = F(-(static_cast<double>(t) + b) * h);
  OrthoDepth(out, zn, zf, rightHanded);
  return out;
}

}  // namespace

Matrix4* MatrixIdentity(Matrix4* out) {
  Zero(out);
  out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
  return out;
}

Matrix4 Matrix4::operator*(const Matrix4& n) const {
  Matrix4 result;
  MatrixMultiply(&result, this, &n);
  return result;
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
  Quaternion result;
  QuaternionMultiply(&result, this, &q);
  return result;
}

Matrix4* MatrixLookAtLH(Matrix4* out, const Vec3* eye, const Vec3* at, const Vec3* up) {
  return LookAt(out, eye, Vec3(at->x - eye->x, at->y - eye->y, at->z - eye->z), up);
}

Matrix4* MatrixLookAtRH(Matrix4* out, const Vec3* eye, const Vec3* at, const Vec3* up) {
  return LookAt(out, eye, Vec3(eye->x - at->x, eye->y - at->y, eye->z - at->z), up);
}

Matrix4* MatrixPerspectiveLH(Matrix4* out, float w, float h, float zn, float zf) {
  Zero(out);
  out->m[0][0] = F(2.0 * zn / w);
  out->m[1][1] = F(2.0 * zn / h);
  PerspectiveDepth(out, zn, zf, false);
  return out;
}

Matrix4* MatrixPerspectiveRH(Matrix4* out, float w, float h, float zn, float zf) {
  Zero(out);
  out->m[0][0] = F(2.0 * zn / w);
  out->m[1][1] = F(2.0 * zn / h);
  PerspectiveDepth(out, zn, zf, true);
  return out;
}

Matrix4* MatrixPerspectiveFovLH(Matrix4* out, float fovy, float aspect, float zn, float zf) {
  return PerspectiveFov(out, fovy, aspect, zn, zf, false);
}

Matrix4* MatrixPerspectiveFovRH(Matrix4* out, float fovy, float aspect, float zn, float zf) {
  return PerspectiveFov(out, fovy, aspect, zn, zf, true);
}

Matrix4* MatrixPerspectiveOffCenterLH(Matrix4* out, float l, float r, float b, float t, float zn, float zf) {
  return PerspectiveOffCenter(out, l, r, b, t, zn, zf, false);
}

Matrix4* MatrixPerspectiveOffCenterRH(Matrix4* out, float l, float r, float b, float t, float zn, float zf) {
  return PerspectiveOffCenter(out, l, r, b, t, zn, zf, true);
}

Matrix4* MatrixOrthoLH(Matrix4* out, float w, float h, float zn, float zf) {
  Zero(out);
  out->m[0][0] = F(2.0 / w);
  out->m[1][1] = F(2.0 / h);
  OrthoDepth(out, zn, zf, false);
  return out;
}

Matrix4* MatrixOrthoRH(Matrix4* out, float w, float h, float zn, float zf) {
  Zero(out);
  out->m[0][0] = F(2.0 / w);
  out->m[1][1] = F(2.0 / h);
  OrthoDepth(out, zn, zf, true);
  return out;
}

Matrix4* MatrixOrthoOffCenterLH(Matrix4* out, float l, float r, float b, float t, float zn, float zf) {
  return OrthoOffCenter(out, l, r, b, t, zn, zf, false);
}

Matrix4* MatrixOrthoOffCenterRH(Matrix4* out, float l, float r, float b, float t, float zn, float zf) {
  return OrthoOffCenter(out, l, r, b, t, zn, zf, true);
}
