// Matrix operations: identities, GLM as an independent reference, the
// decomposition and the composition.
#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <cmath>

#include "gxl/math/math_testing.h"
#include "math_test_util.h"

namespace {

using mathtest::Identity;
using mathtest::Mat;
using mathtest::RecordNear;
using mathtest::SameBits;

constexpr float kPi = 3.14159265358979f;

glm::mat4 AsGlm(const Matrix4& m) { return glm::make_mat4(static_cast<const float*>(m)); }
Matrix4 FromGlm(const glm::mat4& g) {
  Matrix4 m;
  std::memcpy(&m, glm::value_ptr(g), sizeof m);
  return m;
}

TEST(MathMatrix, ProductIsGlmsProductInReverse) {
  mathtest::Rng rng(1);
  for (int i = 0; i < 100; ++i) {
    const Matrix4 a = rng.M(), b = rng.M();
    Matrix4 ab;
    ASSERT_EQ(MatrixMultiply(&ab, &a, &b), &ab);
    EXPECT_TRUE(RecordNear(ab, FromGlm(AsGlm(b) * AsGlm(a)), 1e-5f));
    Matrix4 t;
    MatrixMultiplyTranspose(&t, &a, &b);
    EXPECT_TRUE(RecordNear(t, FromGlm(glm::transpose(AsGlm(b) * AsGlm(a))), 1e-5f));
    // Into either operand, or with both operands the same, as into a separate record.
    Matrix4 x = a;
    MatrixMultiply(&x, &x, &b);
    EXPECT_TRUE(SameBits(x, ab));
    x = b;
    MatrixMultiply(&x, &a, &x);
    EXPECT_TRUE(SameBits(x, ab));
    Matrix4 aa;
    MatrixMultiply(&aa, &a, &a);
    x = a;
    MatrixMultiply(&x, &x, &x);
    EXPECT_TRUE(SameBits(x, aa));
    x = a;
    MatrixMultiplyTranspose(&x, &x, &b);
    EXPECT_TRUE(SameBits(x, t));
  }
  const Matrix4 m = rng.M();
  Matrix4 t = m, tt;
  MatrixTranspose(&t, &t);
  EXPECT_TRUE(SameBits(t, FromGlm(glm::transpose(AsGlm(m)))));
  EXPECT_TRUE(SameBits(*MatrixTranspose(&tt, &t), m));
}

TEST(MathMatrix, InverseAndDeterminant) {
  mathtest::Rng rng(2);
  for (int i = 0; i < 100; ++i) {
    const Matrix4 a = rng.M(), b = rng.M();
    float det = 0;
    Matrix4 inv, prod;
    ASSERT_EQ(MatrixInverse(&inv, &det, &a), &inv);
    EXPECT_NEAR(det, MatrixDeterminant(&a), 1e-3f * std::fabs(det));
    EXPECT_NEAR(det, glm::determinant(AsGlm(a)), 1e-3f * std::fabs(det));
    EXPECT_TRUE(RecordNear(inv, FromGlm(glm::inverse(AsGlm(a))), 1e-4f));
    EXPECT_TRUE(RecordNear(*MatrixMultiply(&prod, &a, &inv), Identity(), 1e-5f));
    EXPECT_TRUE(RecordNear(*MatrixMultiply(&prod, &inv, &a), Identity(), 1e-5f));
    MatrixMultiply(&prod, &a, &b);
    const float da = MatrixDeterminant(&a), db = MatrixDeterminant(&b);
    EXPECT_NEAR(MatrixDeterminant(&prod), da * db, 1e-4f * std::fabs(da * db));
    Matrix4 self = a;
    MatrixInverse(&self, nullptr, &self);
    EXPECT_TRUE(SameBits(self, inv));
  }
  // No inverse: null, and the output as it was.
  const Matrix4 singular = Mat({1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 0});
  mathtest::Guarded<Matrix4> out;
  float det = 5;
  EXPECT_EQ(MatrixInverse(out.ptr(), &det, &singular), nullptr);
  EXPECT_EQ(det, 0.0f);
  EXPECT_TRUE(out.Untouched() && out.Intact());
  // A non-zero determinant whose reciprocal overflows: null, determinant written.
  Matrix4 tiny = Identity();
  tiny.m[0][0] = 1e-45f;
  det = 0;
  EXPECT_EQ(MatrixInverse(out.ptr(), &det, &tiny), nullptr);
  EXPECT_EQ(det, 1e-45f);
  EXPECT_TRUE(out.Untouched());
}

TEST(MathMatrix, RotationsAreProperOrthonormalAndMatchGlm) {
  mathtest::Rng rng(3);
  for (int i = 0; i < 50; ++i) {
    const float angle = rng.Uniform(-7, 7);
    Vec3 axis = rng.V3();
    Matrix4 r[4];
    MatrixRotationX(&r[0], angle);
    MatrixRotationY(&r[1], angle);
    MatrixRotationZ(&r[2], angle);
    MatrixRotationAxis(&r[3], &axis, angle);
    const glm::vec3 axes[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {axis.x, axis.y, axis.z}};
    for (int k = 0; k < 4; ++k) {
      SCOPED_TRACE(k);
      EXPECT_TRUE(RecordNear(r[k], FromGlm(glm::rotate(glm::mat4(1), angle, glm::normalize(axes[k]))), 2e-6f));
      Matrix4 rt, prod;
      MatrixTranspose(&rt, &r[k]);
      EXPECT_TRUE(RecordNear(*MatrixMultiply(&prod, &r[k], &rt), Identity(), 1e-6f));
      EXPECT_NEAR(MatrixDeterminant(&r[k]), 1.0f, 1e-6f);
    }
  }
  Matrix4 z;
  MatrixRotationZ(&z, 0.3f);
  const Vec3 x(1, 0, 0);
  Vec3 turned;
  Vec3TransformDirection(&turned, &x, &z);
  EXPECT_TRUE(RecordNear(turned, Vec3(std::cos(0.3f), std::sin(0.3f), 0), 1e-7f));
}

TEST(MathMatrix, QuaternionMatricesMultiplyLikeTheirQuaternions) {
  mathtest::Rng rng(4);
  for (int i = 0; i < 100; ++i) {
    const Quaternion q1 = rng.Q(), q2 = rng.Q();
    Quaternion q12;
    QuaternionMultiply(&q12, &q1, &q2);
    Matrix4 m1, m2, m12, prod;
    MatrixFromQuaternion(&m1, &q1);
    MatrixFromQuaternion(&m2, &q2);
    MatrixFromQuaternion(&m12, &q12);
    EXPECT_TRUE(RecordNear(m12, *MatrixMultiply(&prod, &m1, &m2), 1e-6f));
    const glm::quat g(q1.w, q1.x, q1.y, q1.z);
    EXPECT_TRUE(RecordNear(m1, FromGlm(glm::mat4_cast(g)), 1e-6f));
  }
  // Yaw about y, pitch about x, roll about z: roll first, then pitch, then yaw.
  Matrix4 ypr, ry, rx, rz, expect;
  MatrixFromYawPitchRoll(&ypr, 0.4f, -0.7f, 1.1f);
  MatrixRotationY(&ry, 0.4f);
  MatrixRotationX(&rx, -0.7f);
  MatrixRotationZ(&rz, 1.1f);
  MatrixMultiply(&expect, &rz, &rx);
  MatrixMultiply(&expect, &expect, &ry);
  EXPECT_TRUE(RecordNear(ypr, expect, 1e-6f));
}

TEST(MathMatrix, ViewAndProjectionBuildersMatchGlm) {
  const Vec3 eye(1, 2, -5), at(0.5f, -1, 3), up(0, 1, 0);
  const glm::vec3 ge(1, 2, -5), ga(0.5f, -1, 3), gu(0, 1, 0);
  Matrix4 m;
  EXPECT_TRUE(RecordNear(*MatrixLookAtLH(&m, &eye, &at, &up), FromGlm(glm::lookAtLH(ge, ga, gu)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixLookAtRH(&m, &eye, &at, &up), FromGlm(glm::lookAtRH(ge, ga, gu)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixPerspectiveFovLH(&m, 0.9f, 1.6f, 0.5f, 80.0f),
                         FromGlm(glm::perspectiveLH_ZO(0.9f, 1.6f, 0.5f, 80.0f)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixPerspectiveFovRH(&m, 0.9f, 1.6f, 0.5f, 80.0f),
                         FromGlm(glm::perspectiveRH_ZO(0.9f, 1.6f, 0.5f, 80.0f)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixPerspectiveLH(&m, 4, 3, 1, 10), FromGlm(glm::frustumLH_ZO(-2.f, 2.f, -1.5f, 1.5f, 1.f, 10.f)),
                         1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixPerspectiveRH(&m, 4, 3, 1, 10), FromGlm(glm::frustumRH_ZO(-2.f, 2.f, -1.5f, 1.5f, 1.f, 10.f)),
                         1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixPerspectiveOffCenterRH(&m, -1, 3, -2, 0.5f, 1, 10),
                         FromGlm(glm::frustumRH_ZO(-1.f, 3.f, -2.f, 0.5f, 1.f, 10.f)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixOrthoLH(&m, 640, 480, 0, 1), FromGlm(glm::orthoLH_ZO(-320.f, 320.f, -240.f, 240.f, 0.f, 1.f)),
                         1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixOrthoRH(&m, 640, 480, 0.5f, 9), FromGlm(glm::orthoRH_ZO(-320.f, 320.f, -240.f, 240.f, 0.5f, 9.f)),
                         1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixOrthoOffCenterLH(&m, 0, 640, 480, 0, 0, 1),
                         FromGlm(glm::orthoLH_ZO(0.f, 640.f, 480.f, 0.f, 0.f, 1.f)), 1e-6f));
  EXPECT_TRUE(RecordNear(*MatrixOrthoOffCenterRH(&m, -3, 5, -1, 7, -2, 4),
                         FromGlm(glm::orthoRH_ZO(-3.f, 5.f, -1.f, 7.f, -2.f, 4.f)), 1e-6f));

  // The left-handed off-centre frustum maps its own corners to the clip cube.
  MatrixPerspectiveOffCenterLH(&m, -1, 3, -2, 0.5f, 1, 10);
  const Vec3 nearCorner(-1, -2, 1), farCorner(30, 5, 10);
  Vec3 p;
  EXPECT_TRUE(RecordNear(*Vec3TransformPoint(&p, &nearCorner, &m), Vec3(-1, -1, 0), 1e-6f));
  EXPECT_TRUE(RecordNear(*Vec3TransformPoint(&p, &farCorner, &m), Vec3(1, 1, 1), 1e-6f));

  MatrixPerspectiveFovLH(&m, kPi / 4, 4.0f / 3.0f, 1, 100);
  EXPECT_NEAR(m.m[1][1], 2.4142135f, 1e-6f);
  EXPECT_NEAR(m.m[0][0], 1.8106601f, 1e-6f);
  EXPECT_FLOAT_EQ(m.m[2][2], 100.0f / 99.0f);
  EXPECT_FLOAT_EQ(m.m[3][2], -100.0f / 99.0f);
  EXPECT_EQ(m.m[2][3], 1.0f);
  EXPECT_EQ(m.m[3][3], 0.0f);
}

TEST(MathMatrix, ShadowFlattensOntoThePlaneAndReflectionIsAnInvolution) {
  mathtest::Rng rng(6);
  for (int i = 0; i < 50; ++i) {
    const Plane plane = rng.P();
    Plane unit;
    PlaneNormalize(&unit, &plane);
    const Vec4 lights[2] = {Vec4(rng.Uniform(5, 9), rng.Uniform(5, 9), rng.Uniform(5, 9), 1),  // a point
                            Vec4(rng.Uniform(-1, 1), 3, rng.Uniform(-1, 1), 0)};              // a direction
    for (const Vec4& light : lights) {
      Matrix4 shadow;
      MatrixPlanarShadow(&shadow, &light, &plane);
      const Vec3 v = rng.V3();
      Vec3 s;
      Vec3TransformPoint(&s, &v, &shadow);
      EXPECT_NEAR(PlaneDotPoint(&unit, &s), 0.0f, 2e-4f * std::fmax(1.0f, Vec3Length(&s)));
    }
    Matrix4 r, rr;
    MatrixPlaneReflection(&r, &plane);
    EXPECT_TRUE(RecordNear(*MatrixMultiply(&rr, &r, &r), Identity(), 1e-5f));
    EXPECT_NEAR(MatrixDeterminant(&r), -1.0f, 1e-5f);
    // A point on the plane stays; its mirror lies on the other side at the same distance.
    const Vec3 v = rng.V3();
    Vec3 m;
    Vec3TransformPoint(&m, &v, &r);
    EXPECT_NEAR(PlaneDotPoint(&unit, &m), -PlaneDotPoint(&unit, &v), 1e-5f);
  }
}

TEST(MathMatrix, DecomposeExamples) {
  Vec3 scale, translation;
  Quaternion rotation;
  Matrix4 m;
  MatrixScaling(&m, 2, 2, 2);
  m.m[3][0] = 1, m.m[3][1] = 2, m.m[3][2] = 3;
  EXPECT_EQ(MatrixDecompose(&scale, &rotation, &translation, &m), S_OK);
  EXPECT_TRUE(SameBits(scale, Vec3(2, 2, 2)));
  EXPECT_TRUE(SameBits(rotation, Quaternion(-0.0f, -0.0f, -0.0f, -1)));
  EXPECT_TRUE(SameBits(translation, Vec3(1, 2, 3)));

  MatrixScaling(&m, -1, 1, 1);  // a mirror: the largest axis takes the sign
  EXPECT_EQ(MatrixDecompose(&scale, &rotation, &translation, &m), S_OK);
  EXPECT_TRUE(SameBits(scale, Vec3(-1, 1, 1)));

  const Matrix4 zero = Mat({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(MatrixDecompose(&scale, &rotation, &translation, &zero), S_OK);
  EXPECT_TRUE(SameBits(scale, Vec3(0, 0, 0)));
  // The basis rebuilt as (1,0,0), (0,-1,0), (0,0,-1): a half turn about x.
  Matrix4 r;
  MatrixFromQuaternion(&r, &rotation);
  EXPECT_TRUE(RecordNear(r, Mat({1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}), 1e-7f));
  EXPECT_EQ(std::fabs(rotation.x), 1.0f);

  // A shear is no scaled rotation: failure, with scale and translation written.
  const Matrix4 shear = Mat({1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1});
  mathtest::Guarded<Quaternion> rot;
  EXPECT_EQ(MatrixDecompose(&scale, rot.ptr(), &translation, &shear), static_cast<HRESULT>(0x8876086Cu));
  EXPECT_TRUE(rot.Untouched());
  EXPECT_TRUE(SameBits(translation, Vec3(4, 5, 6)));
  EXPECT_NEAR(scale.y, std::sqrt(2.0f), 1e-6f);
}

TEST(MathMatrix, ComposeOfDecomposeGivesTheMatrixBack) {
  mathtest::Rng rng(8);
  for (int i = 0; i < 200; ++i) {
    const Quaternion q = rng.Q();
    const Vec3 s(rng.Uniform(0.2f, 3), rng.Uniform(0.2f, 3), rng.Uniform(0.2f, 3) * (i % 3 == 0 ? -1 : 1));
    const Vec3 t = rng.V3(10);
    Matrix4 m;
    MatrixCompose(&m, nullptr, nullptr, &s, nullptr, &q, &t);
    Vec3 scale, translation;
    Quaternion rotation;
    ASSERT_EQ(MatrixDecompose(&scale, &rotation, &translation, &m), S_OK);
    Matrix4 back;
    MatrixCompose(&back, nullptr, nullptr, &scale, nullptr, &rotation, &translation);
    EXPECT_TRUE(RecordNear(back, m, 2e-5f)) << i;
    // The rotation is the same rotation, up to the quaternion's sign.
    Matrix4 rq, rr;
    MatrixFromQuaternion(&rq, &q);
    MatrixFromQuaternion(&rr, &rotation);
    if (i % 3 != 0) {
      EXPECT_TRUE(RecordNear(rq, rr, 2e-5f)) << i;
    }
  }
}

TEST(MathMatrix, ComposeSteps) {
  mathtest::Rng rng(10);
  const Quaternion q = rng.Q(), sq = rng.Q();
  const Vec3 s(2, 3, 0.5f), t(1, -2, 3), sc(4, 5, 6), rc(-1, 0, 2);
  Matrix4 m, expect, rot, tr;
  // Null scaling: identity, whatever the scaling centre.
  MatrixCompose(&m, &sc, &sq, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(SameBits(m, Identity()));
  // Rotation and translation only: the rotation followed by the translation.
  MatrixCompose(&m, nullptr, nullptr, nullptr, nullptr, &q, &t);
  MatrixFromQuaternion(&rot, &q);
  MatrixTranslation(&tr, t.x, t.y, t.z);
  MatrixMultiply(&expect, &rot, &tr);
  EXPECT_TRUE(RecordNear(m, expect, 1e-6f));
  // The scaling centre and the rotation centre stay where they are.
  Vec3 p;
  MatrixCompose(&m, &sc, &sq, &s, nullptr, nullptr, nullptr);
  EXPECT_TRUE(RecordNear(*Vec3TransformPoint(&p, &sc, &m), sc, 1e-5f));
  MatrixCompose(&m, nullptr, nullptr, nullptr, &rc, &q, nullptr);
  EXPECT_TRUE(RecordNear(*Vec3TransformPoint(&p, &rc, &m), rc, 1e-5f));
  // The scaling happens along the scaling rotation's axes.
  MatrixCompose(&m, nullptr, &sq, &s, nullptr, nullptr, nullptr);
  Matrix4 sr, srt, d;
  MatrixFromQuaternion(&sr, &sq);
  MatrixTranspose(&srt, &sr);
  MatrixScaling(&d, s.x, s.y, s.z);
  MatrixMultiply(&expect, &srt, &d);
  MatrixMultiply(&expect, &expect, &sr);
  EXPECT_TRUE(RecordNear(m, expect, 1e-6f));
  // The affine form is the full form with a uniform scaling.
  const Vec3 uniform(1.5f, 1.5f, 1.5f);
  Matrix4 affine;
  MatrixComposeAffine(&affine, 1.5f, &rc, &q, &t);
  MatrixCompose(&m, nullptr, nullptr, &uniform, &rc, &q, &t);
  EXPECT_TRUE(RecordNear(affine, m, 1e-6f));
}

int g_products;
Matrix4* CountingMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  ++g_products;
  return MathDefaultTable().MatrixMultiply(out, a, b);
}

TEST(MathMatrix, PlaneCompositionMatchesTheSpatialOne) {
  const Vec2 sc(3, 1), s(2, 0.5f), rc(-1, 4), t(7, 8);
  const float sa = 0.7f, ra = -1.2f;
  Matrix4 m2, m3;
  MatrixCompose2D(&m2, &sc, sa, &s, &rc, ra, &t);
  const Vec3 sc3(3, 1, 0), s3(2, 0.5f, 1), rc3(-1, 4, 0), t3(7, 8, 0);
  const Vec3 zAxis(0, 0, 1);
  Quaternion sq, rq;
  QuaternionFromAxisAngle(&sq, &zAxis, sa);
  QuaternionFromAxisAngle(&rq, &zAxis, ra);
  MatrixCompose(&m3, &sc3, &sq, &s3, &rc3, &rq, &t3);
  EXPECT_TRUE(RecordNear(m2, m3, 1e-5f));
  Matrix4 a2;
  MatrixComposeAffine2D(&a2, 2.5f, &rc, ra, &t);
  const Vec3 uniform(2.5f, 2.5f, 1);
  MatrixCompose(&m3, nullptr, nullptr, &uniform, &rc3, &rq, &t3);
  EXPECT_TRUE(RecordNear(a2, m3, 1e-5f));

  // Angles of exactly 0 skip their products.
  InitMathDispatch(1);
  gxl::math::test::LiveDispatchTable().MatrixMultiply = &CountingMultiply;
  g_products = 0;
  MatrixCompose2D(&m2, &sc, 0.0f, &s, &rc, 0.0f, &t);
  EXPECT_EQ(g_products, 0);
  EXPECT_TRUE(SameBits(m2, Mat({2, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, -3 + 7, 0.5f + 8, 0, 1})));
  MatrixComposeAffine2D(&m2, 2, nullptr, 0.0f, nullptr);
  EXPECT_EQ(g_products, 0);
  MatrixCompose2D(&m2, nullptr, 0.0f, &s, nullptr, 0.5f, nullptr);
  EXPECT_EQ(g_products, 1);
}

}  // namespace
