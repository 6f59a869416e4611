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
  Matrix4 r;
  if (!scaling) {
    MatrixIdentity(&r);
  } else if (!scalingRotation) {
    ::MatrixScaling(&r, scaling->x, scaling->y, scaling->z);
    if (scalingCentre) {
      r.m[3][0] = F((1.0 - scaling->x) * scalingCentre->x);
      r.m[3][1] = F((1.0 - scaling->y) * scalingCentre->y);
      r.m[3][2] = F((1.0 - scaling->z) * scalingCentre->z);
    }
  } else {
    Matrix4 q, qt, d;
    ::MatrixFromQuaternion(&q, scalingRotation);
    ::MatrixTranspose(&qt, &q);
    ::MatrixScaling(&d, scaling->x, scaling->y, scaling->z);
    if (scalingCentre) {
      ::MatrixTranslation(&r, -scalingCentre->x, -scalingCentre->y, -scalingCentre->z);
      ::MatrixMultiply(&r, &r, &qt);
    } else {
      r = qt;
    }
    ::MatrixMultiply(&r, &r, &d);
    ::MatrixMultiply(&r, &r, &q);
    if (scalingCentre) AddTranslation(&r, scalingCentre->x, scalingCentre->y, scalingCentre->z);
  }
  if (rotation) {
    Matrix4 p;
    ::MatrixFromQuaternion(&p, rotation);
    RotateAbout(&r, p, rotationCentre ? &rotationCentre->x : nullptr, 3);
  }
  if (translation) AddTranslation(&r, translation->x, translation->y, translation->z);
  *out = r;
  return out;
}

Matrix4* MatrixComposeAffine(Matrix4* out, float scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                             const Vec3* translation) {
  Matrix4 r;
  ::MatrixScaling(&r, scaling, scaling, scaling);
  if (rotation) {
    Matrix4 p;
    ::MatrixFromQuaternion(&p, rotation);
    RotateAbout(&r, p, rotationCentre ? &rotationCentre->x : nullptr, 3);
  }
  if (translation) AddTranslation(&r, translation->x, translation->y, translation->z);
  *out = r;
  return out;
}

Matrix4* MatrixCompose2D(Matrix4* out, const Vec2* scalingCentre, float scalingRotation, const Vec2* scaling,
                         const Vec2* rotationCentre, float rotation, const Vec2* translation) {
  Matrix4 r;
  if (!scaling) {
    MatrixIdentity(&r);
  } else if (scalingRotation == 0.0f) {
    ::MatrixScaling(&r, scaling->x, scaling->y, 1.0f);
    if (scalingCentre) {
      r.m[3][0] = F((1.0 - scaling->x) * scalingCentre->x);
      r.m[3][1] = F((1.0 - scaling->y) * scalingCentre->y);
    }
  } else {
    Matrix4 q, qt, d;
    ::MatrixRotationZ(&q, scalingRotation);
    ::MatrixTranspose(&qt, &q);
    ::MatrixScaling(&d, scaling->x, scaling->y, 1.0f);
    if (scalingCentre) {
      ::MatrixTranslation(&r, -scalingCentre->x, -scalingCentre->y, 0.0f);
      ::MatrixMultiply(&r, &r, &qt);
    } else {
      r = qt;
    }
    ::MatrixMultiply(&r, &r, &d);
    ::MatrixMultiply(&r, &r, &q);
    if (scalingCentre) AddTranslation(&r, scalingCentre->x, scalingCentre->y, 0.0f);
  }
  if (rotation != 0.0f) {
    Matrix4 p;
    ::MatrixRotationZ(&p, rotation);
    RotateAbout(&r, p, rotationCentre ? &rotationCentre->x : nullptr, 2);
  }
  if (translation) AddTranslation(&r, translation->x, translation->y, 0.0f);
  *out = r;
  return out;
}

Matrix4* MatrixComposeAffine2D(Matrix4* out, float scaling, const Vec2* rotationCentre, float rotation,
                               const Vec2* translation) {
  Matrix4 r;
  ::MatrixScaling(&r, scaling, scaling, 1.0f);
  if (rotation != 0.0f) {
    Matrix4 p;
    ::MatrixRotationZ(&p, rotation);
    RotateAbout(&r, p, rotationCentre ? &rotationCentre->x : nullptr, 2);
  }
  if (translation) AddTranslation(&r, translation->x, translation->y, 0.0f);
  *out = r;
  return out;
}

}  // namespace gxl::math::portable
