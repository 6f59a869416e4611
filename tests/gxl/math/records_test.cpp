// The records: their layout and their operators.
#include <cmath>
#include <cstddef>

#include "math_test_util.h"

namespace {

using mathtest::Mat;
using mathtest::SameBits;

TEST(MathRecords, LayoutIsTightlyPackedFloats) {
  EXPECT_EQ(offsetof(Vec3, z), 8u);
  EXPECT_EQ(offsetof(Vec4, w), 12u);
  EXPECT_EQ(offsetof(Quaternion, w), 12u);
  EXPECT_EQ(offsetof(Plane, d), 12u);
  EXPECT_EQ(offsetof(ColorF, a), 12u);
  EXPECT_EQ(offsetof(Viewport, MinZ), 16u);
  EXPECT_EQ(offsetof(Viewport, MaxZ), 20u);
  Matrix4 m = Mat({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
  const float* f = m;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(f[i], static_cast<float>(i));
  EXPECT_EQ(m.m[3][1], 13.0f);  // element (r, c) at 4r + c
  Vec3 arr[3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  EXPECT_EQ(static_cast<const float*>(arr[0])[5], 6.0f);
  Plane p(1, 2, 3, 4);
  EXPECT_EQ(static_cast<float*>(p), &p.a);
}

TEST(MathRecords, VectorOperatorsWorkComponentWise) {
  Vec3 a(1, 2, 3);
  const Vec3 b(4, -5, 6);
  EXPECT_TRUE(SameBits(a + b, Vec3(5, -3, 9)));
  EXPECT_TRUE(SameBits(a - b, Vec3(-3, 7, -3)));
  EXPECT_TRUE(SameBits(-a, Vec3(-1, -2, -3)));
  EXPECT_TRUE(SameBits(a * 2.0f, Vec3(2, 4, 6)));
  EXPECT_TRUE(SameBits(2.0f * a, a * 2.0f));
  a += b;
  EXPECT_TRUE(SameBits(a, Vec3(5, -3, 9)));
  a -= b;
  a *= 3.0f;
  EXPECT_TRUE(SameBits(a, Vec3(3, 6, 9)));
  Vec4 v(1, 2, 3, 4);
  EXPECT_TRUE(SameBits(v + v, Vec4(2, 4, 6, 8)));
  EXPECT_TRUE(SameBits(-v, Vec4(-1, -2, -3, -4)));
  EXPECT_TRUE(SameBits(ColorF(1, 2, 3, 4) * 0.5f, ColorF(0.5f, 1, 1.5f, 2)));
  EXPECT_TRUE(SameBits(Quaternion(1, 2, 3, 4) - Quaternion(1, 1, 1, 1), Quaternion(0, 1, 2, 3)));
}

TEST(MathRecords, DivisionMultipliesByOneReciprocal) {
  // 1/3 rounded once, then products: differs from true division in the last bit.
  const float r = 1.0f / 3.0f;
  const Vec3 v = Vec3(1, 2, 10) / 3.0f;
  EXPECT_EQ(v.z, 10.0f * r);
  Vec2 w(10, 1);
  w /= 3.0f;
  EXPECT_EQ(w.x, 10.0f * r);
  EXPECT_EQ((Plane(10, 0, 0, 0) / 3.0f).a, 10.0f * r);
  // Division by zero: infinities, and NaN for a zero component.
  const Vec3 z = Vec3(1, -1, 0) / 0.0f;
  EXPECT_TRUE(std::isinf(z.x) && z.x > 0);
  EXPECT_TRUE(std::isinf(z.y) && z.y < 0);
  EXPECT_TRUE(std::isnan(z.z));
}

TEST(MathRecords, ProductOperatorsApplyTheLeftOperandFirst) {
  mathtest::UsePortableBodies();
  Matrix4 t, s;
  MatrixTranslation(&t, 1, 0, 0);
  MatrixScaling(&s, 2, 2, 2);
  const Vec3 origin(0, 0, 0);
  Vec3 p;
  const Matrix4 ts = t * s;
  Vec3TransformPoint(&p, &origin, &ts);
  EXPECT_EQ(p.x, 2.0f);  // moved, then scaled
  const Matrix4 st = s * t;
  Vec3TransformPoint(&p, &origin, &st);
  EXPECT_EQ(p.x, 1.0f);
  const Matrix4 id = mathtest::Identity();
  mathtest::Rng rng;
  const Matrix4 a = rng.M();
  EXPECT_TRUE(SameBits(a * id, a));
  EXPECT_TRUE(SameBits(id * a, a));

  const Quaternion qx(std::sin(0.25f), 0, 0, std::cos(0.25f));  // 0.5 rad about x
  const Quaternion qy(0, std::sin(0.25f), 0, std::cos(0.25f));
  Quaternion product;
  QuaternionMultiply(&product, &qx, &qy);
  EXPECT_TRUE(SameBits(qx * qy, product));
  EXPECT_FALSE(SameBits(qx * qy, qy * qx));
}

}  // namespace
