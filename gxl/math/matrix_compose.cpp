// Portable bodies of the matrix decomposition and composition.
#include <cmath>

#include "gxl/math/detail.h"
#include "gxl/math/matrix.h"
#include "gxl/math/portable.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/vector.h"

namespace gxl::math::portable {

using detail::F;

namespace {

constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x8876086Cu);
constexpr float kDegenerateScale = 0.0001f;

void AddTranslation(Matrix4* m, float x, float y, float z) {
  m->m[3][0] += x;
  m->m[3][1] += y;
  m->m[3][2] += z;
}

// out = out x rotation, about a centre when one is given.
void RotateAbout(Matrix4* out, const Matrix4& rotation, const float* centre, int components) {
  if (centre)
    for (int k = 0; k < components; ++k) out->m[3][k] -= centre[k];
  ::MatrixMultiply(out, out, &rotation);
  if (centre)
    for (int k = 0; k < components; ++k) out->m[3][k] += centre[k];
}

// Axes ordered by scale: a the largest, then b, then c, ties resolved in a fixed way.
void OrderAxes(const float s[3], int* a, int* b, int* c) {
  const float x = s[0], y = s[1], z = s[2];
  if (y <= x && z <= x) {
    *a = 0;
    if (z <= y) {
      *b = 1, *c = 2;
    } else {
      *b = 2, *c = 1;
    }
  } else if (y <= x) {  // x < z
    *a = 2, *b = 0, *c = 1;
  } else if (z <= y) {  // x < y
    *a = 1;
    if (z <= x) {
      *b = 0, *c = 2;
    } else {
      *b = 2, *c = 0;
    }
  } else {
    *a = 2, *b = 1, *c = 0;
  }
}

// Scaling by (sx, sy, sz) about a centre when one is given, along the axes
// that `turn` takes to the standard ones when it is given: T(-c) Qt S Q T(c).
// `components` is 3, or 2 for the plane (the centre has no z then).
Matrix4 ScalingAbout(float sx, float sy, float sz, const float* centre, int components, const Matrix4* turn) {
  Matrix4 r;
  if (!turn) {
    ::MatrixScaling(&r, sx, sy, sz);
    if (centre) {
      const float s[3] = {sx, sy, sz};
      for (int k = 0; k < components; ++k) r.m[3][k] = F((1.0 - s[k]) * centre[k]);
    }
    return r;
  }
  Matrix4 qt, d;
  ::MatrixTranspose(&qt, turn);
  ::MatrixScaling(&d, sx, sy, sz);
  if (centre) {
    ::MatrixTranslation(&r, -centre[0], -centre[1], components == 3 ? -centre[2] : 0.0f);
    ::MatrixMultiply(&r, &r, &qt);
  } else {
    r = qt;
  }
  ::MatrixMultiply(&r, &r, &d);
  ::MatrixMultiply(&r, &r, turn);
  if (centre) AddTranslation(&r, centre[0], centre[1], components == 3 ? centre[2] : 0.0f);
  return r;
}

// The end of every composition: r turned by `rotation` (when given) about its
// centre, then moved by the translation, and written to out.
Matrix4* RotateTranslate(Matrix4* out, Matrix4 r, const Matrix4* rotation, const float* rotationCentre,
                         int components, const float* translation) {
  if (rotation) RotateAbout(&r, *rotation, rotationCentre, components);
  if (translation) AddTranslation(&r, translation[0], translation[1], components == 3 ? translation[2] : 0.0f);
  *out = r;
  return out;
}

Matrix4 BasisMatrix(const Vec3 basis[3]) {
  Matrix4 m;
  MatrixIdentity(&m);
  for (int r = 0; r < 3; ++r) {
    m.m[r][0] = basis[r].x;
    m.m[r][1] = basis[r].y;
    m.m[r][2] = basis[r].z;
  }
  return m;
}

}  // namespace

HRESULT MatrixDecompose(Vec3* scale, Quaternion* rotation, Vec3* translation, const Matrix4* m) {
  const Matrix4 mm = *m;
  Vec3 basis[3];
  float s[3];
  for (int r = 0; r < 3; ++r) {
    basis[r] = Vec3(mm.m[r][0], mm.m[r][1], mm.m[r][2]);
    const double x = basis[r].x, y = basis[r].y, z = basis[r].z;
    s[r] = F(std::sqrt(x * x + y * y + z * z));
  }
  *translation = Vec3(mm.m[3][0], mm.m[3][1], mm.m[3][2]);

  int a, b, c;
  OrderAxes(s, &a, &b, &c);
  // Rebuild the axes whose scale vanished from the ones that did not.
  if (s[a] < kDegenerateScale) basis[a] = Vec3(a == 0, a == 1, a == 2);
  ::Vec3Normalize(&basis[a], &basis[a]);
  if (s[b] < kDegenerateScale) {
    const float ax = std::fabs(basis[a].x), ay = std::fabs(basis[a].y), az = std::fabs(basis[a].z);
    int k = 0;
    float smallest = ax;
    if (ay <= smallest) k = 1, smallest = ay;
    if (az <= smallest) k = 2;
    const Vec3 axis(k == 0, k == 1, k == 2);
    Vec3Cross(&basis[b], &basis[a], &axis);
  }
  ::Vec3Normalize(&basis[b], &basis[b]);
  if (s[c] < kDegenerateScale) Vec3Cross(&basis[c], &basis[a], &basis[b]);
  ::Vec3Normalize(&basis[c], &basis[c]);

  Matrix4 bm = BasisMatrix(basis);
  float d = ::MatrixDeterminant(&bm);
  if (d < 0) {
    s[a] = -s[a];
    basis[a] = -basis[a];
    d = -d;
    bm = BasisMatrix(basis);
  }
  *scale = Vec3(s[0], s[1], s[2]);
  if ((d - 1.0f) * (d - 1.0f) > 0.0001f) return kInvalidCall;

  // All four components negated: the same rotation as the basis, never its inverse.
  Quaternion q;
  ::QuaternionFromMatrix(&q, &bm);
  *rotation = -q;
  return S_OK;
}

Matrix4* MatrixCompose(Matrix4* out, const Vec3* scalingCentre, const Quaternion* scalingRotation,
                       const Vec3* scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                       const Vec3* translation) {
  Matrix4 r, q, p;
  if (!scaling) {
    MatrixIdentity(&r);
  } else {
    if (scalingRotation) ::MatrixFromQuaternion(&q, scalingRotation);
    r = ScalingAbout(scaling->x, scaling->y, scaling->z, scalingCentre ? &scalingCentre->x : nullptr, 3,
                     scalingRotation ? &q : nullptr);
  }
  if (rotation) ::MatrixFromQuaternion(&p, rotation);
  return RotateTranslate(out, r, rotation ? &p : nullptr, rotationCentre ? &rotationCentre->x : nullptr, 3,
                         translation ? &translation->x : nullptr);
}

Matrix4* MatrixComposeAffine(Matrix4* out, float scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                             const Vec3* translation) {
  Matrix4 r, p;
  ::MatrixScaling(&r, scaling, scaling, scaling);
  if (rotation) ::MatrixFromQuaternion(&p, rotation);
  return RotateTranslate(out, r, rotation ? &p : nullptr, rotationCentre ? &rotationCentre->x : nullptr, 3,
                         translation ? &translation->x : nullptr);
}

Matrix4* MatrixCompose2D(Matrix4* out, const Vec2* scalingCentre, float scalingRotation, const Vec2* scaling,
                         const Vec2* rotationCentre, float rotation, const Vec2* translation) {
  Matrix4 r, q, p;
  if (!scaling) {
    MatrixIdentity(&r);
  } else {
    if (scalingRotation != 0.0f) ::MatrixRotationZ(&q, scalingRotation);
    r = ScalingAbout(scaling->x, scaling->y, 1.0f, scalingCentre ? &scalingCentre->x : nullptr, 2,
                     scalingRotation != 0.0f ? &q : nullptr);
  }
  if (rotation != 0.0f) ::MatrixRotationZ(&p, rotation);
  return RotateTranslate(out, r, rotation != 0.0f ? &p : nullptr, rotationCentre ? &rotationCentre->x : nullptr, 2,
                         translation ? &translation->x : nullptr);
}

Matrix4* MatrixComposeAffine2D(Matrix4* out, float scaling, const Vec2* rotationCentre, float rotation,
                               const Vec2* translation) {
  Matrix4 r, p;
  ::MatrixScaling(&r, scaling, scaling, 1.0f);
  if (rotation != 0.0f) ::MatrixRotationZ(&p, rotation);
  return RotateTranslate(out, r, rotation != 0.0f ? &p : nullptr, rotationCentre ? &rotationCentre->x : nullptr, 2,
                         translation ? &translation->x : nullptr);
}

}  // namespace gxl::math::portable
