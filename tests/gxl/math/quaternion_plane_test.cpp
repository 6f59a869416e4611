// Quaternion, plane and colour operations.
#include <cmath>
#include <limits>

#include "gxl/math/portable.h"
#include "math_test_util.h"

namespace {

using mathtest::Mat;
using mathtest::RecordNear;
using mathtest::SameBits;

constexpr float kPi = 3.14159265358979f;

Matrix4 RotationOf(const Quaternion& q) {
  Matrix4 m;
  MatrixFromQuaternion(&m, &q);
  return m;
}

TEST(MathQuaternion, FromMatrixRoundTripsThroughEachBranch) {
  // Rotations that take the trace branch and each of the three axis branches.
  const Quaternion cases[] = {
      Quaternion(0.1f, 0.2f, 0.3f, 0.927362f),  // w largest
      Quaternion(0.9f, 0.3f, 0.2f, 0.244949f),  // x largest
      Quaternion(0.2f, 0.9f, 0.3f, 0.244949f),  // y largest
      Quaternion(0.3f, 0.2f, 0.9f, 0.244949f),  // z largest
  };
  for (Quaternion q : cases) {
    QuaternionNormalize(&q, &q);
    const Matrix4 m = RotationOf(q);
    Quaternion back;
    QuaternionFromMatrix(&back, &m);
    if (back.w * q.w < 0) back = -back;
    EXPECT_TRUE(RecordNear(back, q, 2e-6f));
  }
  mathtest::Rng rng(1);
  for (int i = 0; i < 500; ++i) {
    const Quaternion q = rng.Q();
    const Matrix4 m = RotationOf(q);
    Quaternion back;
    QuaternionFromMatrix(&back, &m);
    EXPECT_TRUE(RecordNear(RotationOf(back), m, 2e-6f));
  }
  const Matrix4 flip = Mat({1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1});
  Quaternion q;
  EXPECT_TRUE(SameBits(*QuaternionFromMatrix(&q, &flip), Quaternion(1, 0, 0, 0)));
}

TEST(MathQuaternion, ProductRotatesByTheFirstThenTheSecond) {
  const Vec3 xAxis(1, 0, 0), zAxis(0, 0, 1);
  Quaternion qz, qx, both;
  QuaternionFromAxisAngle(&qz, &zAxis, kPi / 2);
  QuaternionFromAxisAngle(&qx, &xAxis, kPi / 2);
  QuaternionMultiply(&both, &qz, &qx);
  // (1,0,0) about z to (0,1,0), then about x to (0,0,1).
  const Matrix4 m = RotationOf(both);
  Vec3 p;
  EXPECT_TRUE(RecordNear(*Vec3TransformDirection(&p, &xAxis, &m), zAxis, 1e-6f));
  Quaternion self = qz;
  QuaternionMultiply(&self, &self, &self);
  Quaternion half;
  QuaternionFromAxisAngle(&half, &zAxis, kPi);
  EXPECT_TRUE(RecordNear(self, half, 1e-6f));
}

TEST(MathQuaternion, InverseNormalizeAndAxisAngle) {
  mathtest::UsePortableBodies();
  Quaternion out;
  const Quaternion zero(0, 0, 0, 0), two(0, 0, 0, 2);
  EXPECT_TRUE(SameBits(*QuaternionInverse(&out, &zero), zero));
  EXPECT_TRUE(SameBits(*QuaternionInverse(&out, &two), Quaternion(-0.0f, -0.0f, -0.0f, 0.5f)));
  mathtest::Rng rng(2);
  for (int i = 0; i < 100; ++i) {
    const Quaternion q = rng.Q() * rng.Uniform(0.5f, 2.0f);
    Quaternion inv, prod;
    QuaternionInverse(&inv, &q);
    QuaternionMultiply(&prod, &q, &inv);
    EXPECT_TRUE(RecordNear(prod, Quaternion(0, 0, 0, 1), 1e-6f));
    QuaternionNormalize(&out, &q);
    EXPECT_NEAR(Vec4LengthSq(reinterpret_cast<const Vec4*>(&out)), 1.0f, 1e-6f);
  }
  EXPECT_TRUE(SameBits(*QuaternionNormalize(&out, &zero), zero));

  const Quaternion q(0.5f, 0.5f, 0.5f, 0.5f);
  Vec3 axis(9, 9, 9);
  float angle = 9;
  QuaternionToAxisAngle(&q, nullptr, nullptr);
  QuaternionToAxisAngle(&q, &axis, &angle);
  EXPECT_TRUE(SameBits(axis, Vec3(0.5f, 0.5f, 0.5f)));  // not normalised
  EXPECT_NEAR(angle, 2 * kPi / 3, 1e-6f);
  Quaternion fromAxis;
  const Vec3 unnormalised(0, 3, 0);
  QuaternionFromAxisAngle(&fromAxis, &unnormalised, 1.0f);
  EXPECT_TRUE(RecordNear(fromAxis, Quaternion(0, std::sin(0.5f), 0, std::cos(0.5f)), 1e-7f));
}

TEST(MathQuaternion, LnAndExpAreInverse) {
  Quaternion out;
  const Quaternion identity(0, 0, 0, 1);
  EXPECT_TRUE(SameBits(*QuaternionLn(&out, &identity), Quaternion(0, 0, 0, 0)));
  const Quaternion pure(0, 0, 0, 5);
  EXPECT_TRUE(SameBits(*QuaternionExp(&out, &pure), Quaternion(0, 0, 0, 1)));
  mathtest::Rng rng(3);
  for (int i = 0; i < 200; ++i) {
    Quaternion q = rng.Q(), l, e;
    if (q.w < 0) q = -q;
    QuaternionLn(&l, &q);
    EXPECT_EQ(l.w, 0.0f);
    QuaternionExp(&e, &l);
    EXPECT_TRUE(RecordNear(e, q, 2e-6f));
  }
  // An angle near pi: sin t is tiny but t is not, and the axis keeps its length.
  const Quaternion nearPi(0, 0, 3.14159f, 0);
  QuaternionExp(&out, &nearPi);
  EXPECT_NEAR(out.w, -1.0f, 1e-6f);
  EXPECT_NEAR(out.z, std::sin(3.14159f), 1e-7f);
  EXPECT_GT(out.z, 0.0f);
  const Quaternion atPi(0, kPi, 0, 0);
  QuaternionExp(&out, &atPi);
  EXPECT_NEAR(out.y, 0.0f, 1e-6f);
  EXPECT_NEAR(out.w, -1.0f, 1e-6f);
}

TEST(MathQuaternion, SlerpEndpointsShortWayAndConstantSpeed) {
  mathtest::Rng rng(4);
  for (int i = 0; i < 100; ++i) {
    const Quaternion a = rng.Q(), b = rng.Q();
    Quaternion out;
    EXPECT_TRUE(RecordNear(*QuaternionSlerp(&out, &a, &b, 0.0f), a, 1e-6f));
    const Quaternion bNear = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w < 0 ? -b : b;
    EXPECT_TRUE(RecordNear(*QuaternionSlerp(&out, &a, &b, 1.0f), bNear, 1e-5f));
    // Equal steps of t turn through equal angles.
    Quaternion q[5];
    for (int k = 0; k < 5; ++k) QuaternionSlerp(&q[k], &a, &b, k * 0.25f);
    const float d0 = q[0].x * q[1].x + q[0].y * q[1].y + q[0].z * q[1].z + q[0].w * q[1].w;
    for (int k = 1; k < 4; ++k) {
      const float d = q[k].x * q[k + 1].x + q[k].y * q[k + 1].y + q[k].z * q[k + 1].z + q[k].w * q[k + 1].w;
      EXPECT_NEAR(d, d0, 1e-5f);
    }
  }
  // q and -q: the short way gives q back at the midpoint.
  const Quaternion q(0.5f, 0.5f, 0.5f, 0.5f);
  const Quaternion negated = -q;
  Quaternion out;
  EXPECT_TRUE(SameBits(*QuaternionSlerp(&out, &q, &negated, 0.5f), q));
  // Nearly identical quaternions interpolate linearly.
  const Quaternion p1(0, 0, 0, 1), p2(0, 0, 1e-4f, 0.999999995f);
  QuaternionSlerp(&out, &p1, &p2, 0.25f);
  EXPECT_EQ(out.z, 0.25f * 1e-4f);
}

// The portable interpolation bit for bit against its formula written out
// with the arc tangent: d, the short way, s = sqrt(1 - c^2), theta =
// atan2(s, c) and 1 / s rounded to float, the weights in double.
TEST(MathQuaternion, SlerpGivesTheBitsOfItsArcTangentFormula) {
  mathtest::Rng rng(12);
  for (int i = 0; i < 20000; ++i) {
    const Quaternion a = rng.Q(), b = i % 3 ? rng.Q() : Quaternion(a.x, a.y + 0.01f * (i % 7), a.z, -a.w);
    const float t = rng.Uniform(-0.25f, 1.25f);
    const float d = static_cast<float>(double{a.x} * b.x + double{a.y} * b.y + double{a.z} * b.z + double{a.w} * b.w);
    const float sign = d >= 0.0f ? 1.0f : -1.0f, c = sign * d;
    double k1 = 1.0 - t, k2 = t;
    if (1.0f - c > 1.1920929e-7f) {
      const double sine = std::sqrt(1.0 - double{c} * c);
      const float theta = static_cast<float>(std::atan2(sine, double{c})), r = static_cast<float>(1.0 / sine);
      k1 = std::sin((1.0 - t) * theta) * r;
      k2 = std::sin(double{t} * theta) * r;
    }
    k2 *= sign;
    const Quaternion expected(static_cast<float>(k1 * a.x + k2 * b.x), static_cast<float>(k1 * a.y + k2 * b.y),
                              static_cast<float>(k1 * a.z + k2 * b.z), static_cast<float>(k1 * a.w + k2 * b.w));
    Quaternion out;
    ASSERT_TRUE(SameBits(*gxl::math::portable::QuaternionSlerp(&out, &a, &b, t), expected)) << i;
  }
}

TEST(MathQuaternion, SplineThroughItsControlPointsAndBarycentric) {
  mathtest::Rng rng(5);
  for (int i = 0; i < 30; ++i) {
    const Quaternion q0 = rng.Q(), q1 = rng.Q(), q2 = rng.Q(), q3 = rng.Q();
    Quaternion a, b, c, out;
    QuaternionSplineSetup(&a, &b, &c, &q0, &q1, &q2, &q3);
    QuaternionSpline(&out, &q1, &a, &b, &c, 0.0f);
    EXPECT_TRUE(RecordNear(out, q1, 1e-5f));
    QuaternionSpline(&out, &q1, &a, &b, &c, 1.0f);
    EXPECT_TRUE(RecordNear(out, c, 1e-5f));
    EXPECT_TRUE(SameBits(c, q2) || SameBits(c, -q2));
    EXPECT_TRUE(RecordNear(RotationOf(c), RotationOf(q2), 1e-6f));

    EXPECT_TRUE(SameBits(*QuaternionBarycentric(&out, &q0, &q1, &q2, 0.0f, 0.0f), q0));
    QuaternionBarycentric(&out, &q0, &q1, &q2, 1.0f, 0.0f);
    EXPECT_TRUE(RecordNear(RotationOf(out), RotationOf(q1), 2e-5f));
    QuaternionBarycentric(&out, &q0, &q1, &q2, 0.0f, 1.0f);
    EXPECT_TRUE(RecordNear(RotationOf(out), RotationOf(q2), 2e-5f));
  }
  // Yaw, pitch and roll agree with the matrix built from the three rotations.
  Quaternion ypr;
  QuaternionFromYawPitchRoll(&ypr, 1.0f, 0.5f, -0.3f);
  Matrix4 m;
  MatrixFromYawPitchRoll(&m, 1.0f, 0.5f, -0.3f);
  EXPECT_TRUE(RecordNear(RotationOf(ypr), m, 1e-7f));
  const Vec3 yAxis(0, 1, 0);
  Quaternion yaw;
  QuaternionFromAxisAngle(&yaw, &yAxis, 1.0f);
  QuaternionFromYawPitchRoll(&ypr, 1.0f, 0, 0);
  EXPECT_TRUE(RecordNear(ypr, yaw, 1e-7f));
}

TEST(MathPlane, ConstructionNormalisationAndTransform) {
  mathtest::UsePortableBodies();
  const Vec3 p1(1, 0, 0), p2(0, 1, 0), p3(0, 0, 1);
  Plane pl;
  PlaneFromPoints(&pl, &p1, &p2, &p3);
  const float k = 1.0f / std::sqrt(3.0f);
  EXPECT_TRUE(RecordNear(pl, Plane(k, k, k, -k), 1e-6f));  // (p1-p2) x (p1-p3) points away from the origin
  for (const Vec3* p : {&p1, &p2, &p3}) EXPECT_NEAR(PlaneDotPoint(&pl, p), 0.0f, 1e-6f);
  const Vec3 point(1, 2, 3), normal(0, 0, 2);
  EXPECT_TRUE(SameBits(*PlaneFromPointNormal(&pl, &point, &normal), Plane(0, 0, 2, -6)));
  EXPECT_TRUE(SameBits(*PlaneNormalize(&pl, &pl), Plane(0, 0, 1, -3)));
  const Plane noNormal(0, 0, 0, 5);
  EXPECT_TRUE(SameBits(*PlaneNormalize(&pl, &noNormal), Plane(0, 0, 0, 0)));

  // A plane moves with its points under the inverse transpose.
  mathtest::Rng rng(6);
  for (int i = 0; i < 50; ++i) {
    const Matrix4 m = rng.Affine();
    Matrix4 inv, invT;
    MatrixInverse(&inv, nullptr, &m);
    MatrixTranspose(&invT, &inv);
    const Vec3 a = rng.V3(), b = rng.V3(), c = rng.V3();
    PlaneFromPoints(&pl, &a, &b, &c);
    Plane moved, arr[1];
    PlaneTransform(&moved, &pl, &invT);
    PlaneTransformArray(arr, sizeof(Plane), &pl, sizeof(Plane), &invT, 1);
    EXPECT_TRUE(SameBits(arr[0], moved));
    Vec3 ma;
    Vec3TransformPoint(&ma, &a, &m);
    EXPECT_NEAR(PlaneDotPoint(&moved, &ma), 0.0f, 1e-4f);
  }
}

TEST(MathPlane, LineIntersection) {
  mathtest::UsePortableBodies();
  const Plane floor(0, 1, 0, -2);  // y = 2
  const Vec3 a(1, 0, 3), b(1, 4, 3);
  Vec3 out;
  ASSERT_EQ(PlaneIntersectLine(&out, &floor, &a, &b), &out);
  EXPECT_TRUE(SameBits(out, Vec3(1, 2, 3)));
  mathtest::Rng rng(7);
  for (int i = 0; i < 100; ++i) {
    const Plane p = rng.P();
    const Vec3 u = rng.V3(), v = rng.V3();
    if (!PlaneIntersectLine(&out, &p, &u, &v)) continue;
    Plane unit;
    PlaneNormalize(&unit, &p);
    EXPECT_NEAR(PlaneDotPoint(&unit, &out), 0.0f, 1e-4f * std::fmax(1.0f, Vec3Length(&out)));
    // On the line: out - u is parallel to v - u.
    Vec3 d1 = out - u, d2 = v - u, cross;
    Vec3Cross(&cross, &d1, &d2);
    EXPECT_NEAR(Vec3Length(&cross), 0.0f, 1e-3f * std::fmax(1.0f, Vec3Length(&d1)));
  }
  // Parallel to the plane: null and the output untouched.
  const Vec3 c(0, 5, 0), d(3, 5, -1);
  mathtest::Guarded<Vec3> g;
  EXPECT_EQ(PlaneIntersectLine(g.ptr(), &floor, &c, &d), nullptr);
  EXPECT_TRUE(g.Untouched() && g.Intact());
}

TEST(MathPlane, ColourAndFresnel) {
  const ColorF c(0.2f, 0.6f, 0.9f, 0.5f);
  ColorF out;
  const float lum = 0.2125f * 0.2f + 0.7154f * 0.6f + 0.0721f * 0.9f;
  EXPECT_TRUE(RecordNear(*ColorAdjustSaturation(&out, &c, 0.0f), ColorF(lum, lum, lum, 0.5f), 1e-6f));
  EXPECT_TRUE(RecordNear(*ColorAdjustSaturation(&out, &c, 1.0f), c, 1e-6f));
  EXPECT_TRUE(RecordNear(*ColorAdjustContrast(&out, &c, 0.0f), ColorF(0.5f, 0.5f, 0.5f, 0.5f), 1e-7f));
  EXPECT_TRUE(RecordNear(*ColorAdjustContrast(&out, &c, 2.0f), ColorF(-0.1f, 0.7f, 1.3f, 0.5f), 1e-6f));

  EXPECT_EQ(FresnelTerm(0.0f, 1.5f), 1.0f);
  // Head-on: ((n - 1) / (n + 1))^2.
  EXPECT_NEAR(FresnelTerm(1.0f, 1.5f), 0.04f, 1e-6f);
  float previous = 0;
  for (float cosine = 1.0f; cosine > 0.01f; cosine -= 0.05f) {
    const float f = FresnelTerm(cosine, 1.33f);
    EXPECT_GE(f, previous);  // more reflection towards grazing angles
    EXPECT_LE(f, 1.0f);
    previous = f;
  }
}

}  // namespace
