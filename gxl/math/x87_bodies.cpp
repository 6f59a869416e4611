// The x87-tuned bodies of the eight most called operations: sums in 80-bit
// extended precision, rounded to f32 when stored. They serve the portable set
// and stay wherever a processor set has no body of its own.
#include <cstdint>
#include <cstring>

#include "gxl/math/processor_bodies.h"
#include "gxl/math/reciprocal_sqrt.h"
#include "gxl/math/scalar.h"

namespace gxl::math::x87 {

namespace {

using Ext = long double;

float F(Ext v) { return static_cast<float>(v); }

// (x, y, z, w) x m in extended precision, all four columns.
void RowTimesMatrix(Ext x, Ext y, Ext z, Ext w, const Matrix4* m, float r[4]) {
  const auto& a = m->m;
  for (int c = 0; c < 4; ++c) r[c] = F(x * a[0][c] + y * a[1][c] + z * a[2][c] + w * a[3][c]);
}

Vec4* StoreVec4(Vec4* out, const float r[4]) {
  *out = Vec4(r[0], r[1], r[2], r[3]);
  return out;
}

// Element (r, c) of a x b.
float ProductElement(const Matrix4* a, const Matrix4* b, int r, int c) {
  return F(static_cast<Ext>(a->m[r][0]) * b->m[0][c] + static_cast<Ext>(a->m[r][1]) * b->m[1][c] +
           static_cast<Ext>(a->m[r][2]) * b->m[2][c] + static_cast<Ext>(a->m[r][3]) * b->m[3][c]);
}

// Below this the squared length is treated as zero: the table-driven 1/sqrt
// serves only normal numbers.
constexpr float kSmallestNormal = 1.1754944e-38f;
constexpr float kNearlyOne = 9.9999997e-6f;

}  // namespace

Vec4* Vec2Transform(Vec4* out, const Vec2* v, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(v->x, v->y, 0, 1, m, r);
  return StoreVec4(out, r);
}

Vec4* Vec3Transform(Vec4* out, const Vec3* v, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(v->x, v->y, v->z, 1, m, r);
  return StoreVec4(out, r);
}

Vec4* Vec4Transform(Vec4* out, const Vec4* v, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(v->x, v->y, v->z, v->w, m, r);
  return StoreVec4(out, r);
}

// A plane transforms as a row 4-vector: the same body as Vec4Transform.
Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(p->a, p->b, p->c, p->d, m, r);
  *out = Plane(r[0], r[1], r[2], r[3]);
  return out;
}

Vec2* Vec2TransformDirection(Vec2* out, const Vec2* v, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(v->x, v->y, 0, 0, m, r);
  *out = Vec2(r[0], r[1]);
  return out;
}

Vec3* Vec3TransformDirection(Vec3* out, const Vec3* v, const Matrix4* m) {
  float r[4];
  RowTimesMatrix(v->x, v->y, v->z, 0, m, r);
  *out = Vec3(r[0], r[1], r[2]);
  return out;
}

Matrix4* MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  Matrix4 copy;
  if (out == b && out == a) {
    copy = *b;
    a = b = &copy;
  }
  if (out == b) {
    // Column by column: each column of b is read before it is overwritten, and
    // no other column is touched meanwhile.
    for (int c = 0; c < 4; ++c) {
      const Ext b0 = b->m[0][c], b1 = b->m[1][c], b2 = b->m[2][c], b3 = b->m[3][c];
      float col[4];
      for (int r = 0; r < 4; ++r) col[r] = F(a->m[r][0] * b0 + a->m[r][1] * b1 + a->m[r][2] * b2 + a->m[r][3] * b3);
      for (int r = 0; r < 4; ++r) out->m[r][c] = col[r];
    }
    return out;
  }
  // Row by row: each row of a is read before it is overwritten.
  for (int r = 0; r < 4; ++r) {
    float row[4];
    for (int c = 0; c < 4; ++c) row[c] = ProductElement(a, b, r, c);
    std::memcpy(out->m[r], row, sizeof row);
  }
  return out;
}

Matrix4* MatrixMultiplyTranspose(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  Matrix4 t;
  Matrix4* dst = (out == a || out == b) ? &t : out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) dst->m[c][r] = ProductElement(a, b, r, c);
  if (dst != out) *out = t;
  return out;
}

Vec3* Vec3Normalize(Vec3* out, const Vec3* v) {
  const Ext x = v->x, y = v->y, z = v->z;
  const float s = F(x * x + y * y + z * z);
  // A squared length that is zero or denormal gives zeros (the table does not
  // serve denormals, and their vectors would not come out of unit length).
  if (s < kSmallestNormal) {
    *out = Vec3(0, 0, 0);
    return out;
  }
  if (FloatAbs(s - 1.0f) <= kNearlyOne) {
    if (out != v) *out = *v;
    return out;
  }
  const Ext r = FastReciprocalSqrt(s);
  *out = Vec3(F(x * r), F(y * r), F(z * r));
  return out;
}

}  // namespace gxl::math::x87
