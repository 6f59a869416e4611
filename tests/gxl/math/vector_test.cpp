// Vector operations: transforms, normalisation, the 4-D cross product, curves
// and the viewport mapping.
#include <glm/glm.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <cmath>
#include <limits>

#include "math_test_util.h"

namespace {

using mathtest::Mat;
using mathtest::RecordNear;
using mathtest::SameBits;

// Our row-major memory read as GLM's column-major matrix is the transpose, so
// v x M is GLM's M' * v.
glm::mat4 AsGlm(const Matrix4& m) { return glm::make_mat4(static_cast<const float*>(m)); }

TEST(MathVector, NormalizeEdgeCases) {
  mathtest::UsePortableBodies();
  Vec3 out;
  const Vec3 zero(0, 0, 0);
  EXPECT_TRUE(SameBits(*Vec3Normalize(&out, &zero), zero));
  const Vec3 tiny(1e-20f, 0, 0);  // square below the smallest normal float
  EXPECT_TRUE(SameBits(*Vec3Normalize(&out, &tiny), zero));
  const Vec3 unit(1, 0, 0);
  EXPECT_TRUE(SameBits(*Vec3Normalize(&out, &unit), unit));
  const Vec3 almost(0.99999994f, 0, 0);  // squared length exactly 2^-23 below 1: copied
  EXPECT_TRUE(SameBits(*Vec3Normalize(&out, &almost), almost));
  const Vec3 v(3, 4, 0);
  EXPECT_TRUE(RecordNear(*Vec3Normalize(&out, &v), Vec3(0.6f, 0.8f, 0), 1e-7f));
  const Vec3 huge(1e20f, -1e20f, 0);  // the squared length overflows f32
  EXPECT_TRUE(RecordNear(*Vec3Normalize(&out, &huge), Vec3(0.70710678f, -0.70710678f, 0), 1e-7f));
  const Vec3 nan(std::numeric_limits<float>::quiet_NaN(), 0, 0);
  EXPECT_TRUE(std::isnan(Vec3Normalize(&out, &nan)->x));

  Vec2 v2(0, -5), o2;
  EXPECT_TRUE(SameBits(*Vec2Normalize(&o2, &v2), Vec2(0, -1)));
  Vec4 v4(1, 1, 1, 1), o4;
  EXPECT_TRUE(RecordNear(*Vec4Normalize(&o4, &v4), Vec4(0.5f, 0.5f, 0.5f, 0.5f), 1e-7f));
  const Vec4 zero4(0, 0, 0, 0);
  EXPECT_TRUE(SameBits(*Vec4Normalize(&o4, &zero4), zero4));

  mathtest::Rng rng;
  for (int i = 0; i < 200; ++i) {
    Vec3 r = rng.V3(100);
    Vec3Normalize(&r, &r);
    EXPECT_NEAR(Vec3Length(&r), 1.0f, 2e-7f);
  }
}

TEST(MathVector, TransformsMatchGlm) {
  mathtest::Rng rng(3);
  for (int i = 0; i < 100; ++i) {
    const Matrix4 m = rng.M();
    const glm::mat4 g = AsGlm(m);
    const Vec4 v4 = rng.V4();
    Vec4 o4;
    Vec4Transform(&o4, &v4, &m);
    const glm::vec4 e4 = g * glm::vec4(v4.x, v4.y, v4.z, v4.w);
    EXPECT_TRUE(RecordNear(o4, Vec4(e4.x, e4.y, e4.z, e4.w), 1e-5f));

    const Vec3 v3 = rng.V3();
    Vec3Transform(&o4, &v3, &m);
    const glm::vec4 e3 = g * glm::vec4(v3.x, v3.y, v3.z, 1);
    EXPECT_TRUE(RecordNear(o4, Vec4(e3.x, e3.y, e3.z, e3.w), 1e-5f));
    Vec3 p;
    Vec3TransformPoint(&p, &v3, &m);
    EXPECT_TRUE(RecordNear(p, Vec3(e3.x / e3.w, e3.y / e3.w, e3.z / e3.w), 1e-4f));
    Vec3TransformDirection(&p, &v3, &m);
    const glm::vec4 d3 = g * glm::vec4(v3.x, v3.y, v3.z, 0);
    EXPECT_TRUE(RecordNear(p, Vec3(d3.x, d3.y, d3.z), 1e-5f));

    const Vec2 v2 = rng.V2();
    Vec2Transform(&o4, &v2, &m);  // all four components of (x, y, 0, 1) x M
    const glm::vec4 e2 = g * glm::vec4(v2.x, v2.y, 0, 1);
    EXPECT_TRUE(RecordNear(o4, Vec4(e2.x, e2.y, e2.z, e2.w), 1e-5f));
    Vec2 q;
    Vec2TransformPoint(&q, &v2, &m);
    EXPECT_TRUE(RecordNear(q, Vec2(e2.x / e2.w, e2.y / e2.w), 1e-4f));
    Vec2TransformDirection(&q, &v2, &m);
    const glm::vec4 d2 = g * glm::vec4(v2.x, v2.y, 0, 0);
    EXPECT_TRUE(RecordNear(q, Vec2(d2.x, d2.y), 1e-5f));
  }
}

TEST(MathVector, TransformPointDividesOnlyWhenWIsNotNearlyOne) {
  mathtest::UsePortableBodies();
  Matrix4 m = mathtest::Identity();
  m.m[3][3] = 1.0000001f;  // w = 1 + 2^-23: left undivided
  const Vec3 v(3, 5, 7);
  Vec3 out;
  EXPECT_TRUE(SameBits(*Vec3TransformPoint(&out, &v, &m), v));
  m.m[3][3] = 2.0f;
  EXPECT_TRUE(SameBits(*Vec3TransformPoint(&out, &v, &m), Vec3(1.5f, 2.5f, 3.5f)));
  m.m[3][3] = 0.0f;  // w = 0: infinities, no check
  Vec3TransformPoint(&out, &v, &m);
  EXPECT_TRUE(std::isinf(out.x) && std::isinf(out.y) && std::isinf(out.z));
  const Vec2 v2(4, 6);
  Vec2 o2;
  m.m[3][3] = 2.0f;
  EXPECT_TRUE(SameBits(*Vec2TransformPoint(&o2, &v2, &m), Vec2(2, 3)));
}

TEST(MathVector, CrossProductIsOrthogonalAndGivesTheDeterminant) {
  mathtest::UsePortableBodies();
  const Vec4 ex(1, 0, 0, 0), ey(0, 1, 0, 0), ez(0, 0, 1, 0);
  Vec4 out;
  EXPECT_TRUE(SameBits(*Vec4Cross(&out, &ex, &ey, &ez), Vec4(0, 0, 0, -1)));
  mathtest::Rng rng(5);
  for (int i = 0; i < 100; ++i) {
    const Vec4 u = rng.V4(), v = rng.V4(), w = rng.V4(), x = rng.V4();
    Vec4Cross(&out, &u, &v, &w);
    EXPECT_NEAR(Vec4Dot(&out, &u), 0.0f, 1e-4f);
    EXPECT_NEAR(Vec4Dot(&out, &v), 0.0f, 1e-4f);
    EXPECT_NEAR(Vec4Dot(&out, &w), 0.0f, 1e-4f);
    const Matrix4 rows = Mat({u.x, u.y, u.z, u.w, v.x, v.y, v.z, v.w, w.x, w.y, w.z, w.w, x.x, x.y, x.z, x.w});
    EXPECT_NEAR(Vec4Dot(&out, &x), -MatrixDeterminant(&rows), 1e-3f);
  }
}

TEST(MathVector, CurvesPassThroughTheirPoints) {
  mathtest::Rng rng(11);
  for (int i = 0; i < 20; ++i) {
    const Vec3 p0 = rng.V3(), p1 = rng.V3(), p2 = rng.V3(), p3 = rng.V3();
    Vec3 out;
    EXPECT_TRUE(SameBits(*Vec3Hermite(&out, &p0, &p1, &p2, &p3, 0.0f), p0));
    EXPECT_TRUE(SameBits(*Vec3Hermite(&out, &p0, &p1, &p2, &p3, 1.0f), p2));
    // Its slope at 0 is the first tangent.
    Vec3 a, b;
    Vec3Hermite(&a, &p0, &p1, &p2, &p3, 0.001f);
    Vec3Hermite(&b, &p0, &p1, &p2, &p3, -0.001f);
    EXPECT_TRUE(RecordNear((a - b) / 0.002f, p1, 2e-3f));
    EXPECT_TRUE(SameBits(*Vec3CatmullRom(&out, &p0, &p1, &p2, &p3, 0.0f), p1));
    EXPECT_TRUE(SameBits(*Vec3CatmullRom(&out, &p0, &p1, &p2, &p3, 1.0f), p2));
    // Catmull-Rom's slope at p1 is half the chord p2 - p0.
    Vec3CatmullRom(&a, &p0, &p1, &p2, &p3, 0.001f);
    Vec3CatmullRom(&b, &p0, &p1, &p2, &p3, -0.001f);
    EXPECT_TRUE(RecordNear((a - b) / 0.002f, (p2 - p0) * 0.5f, 2e-3f));
    EXPECT_TRUE(SameBits(*Vec3Barycentric(&out, &p0, &p1, &p2, 0, 0), p0));
    EXPECT_TRUE(RecordNear(*Vec3Barycentric(&out, &p0, &p1, &p2, 1, 0), p1, 1e-6f));
    EXPECT_TRUE(RecordNear(*Vec3Barycentric(&out, &p0, &p1, &p2, 0, 1), p2, 1e-6f));
    EXPECT_TRUE(RecordNear(*Vec3Barycentric(&out, &p0, &p1, &p2, 0.25f, 0.5f),
                           p0 + (p1 - p0) * 0.25f + (p2 - p0) * 0.5f, 1e-6f));

    const Vec2 a2 = rng.V2(), b2 = rng.V2(), c2 = rng.V2(), d2 = rng.V2();
    Vec2 o2;
    EXPECT_TRUE(SameBits(*Vec2Hermite(&o2, &a2, &b2, &c2, &d2, 1.0f), c2));
    EXPECT_TRUE(SameBits(*Vec2CatmullRom(&o2, &a2, &b2, &c2, &d2, 0.0f), b2));
    EXPECT_TRUE(RecordNear(*Vec2Barycentric(&o2, &a2, &b2, &c2, 0, 1), c2, 1e-6f));
    const Vec4 a4 = rng.V4(), b4 = rng.V4(), c4 = rng.V4(), d4 = rng.V4();
    Vec4 o4;
    EXPECT_TRUE(SameBits(*Vec4Hermite(&o4, &a4, &b4, &c4, &d4, 0.0f), a4));
    EXPECT_TRUE(SameBits(*Vec4CatmullRom(&o4, &a4, &b4, &c4, &d4, 1.0f), c4));
    EXPECT_TRUE(RecordNear(*Vec4Barycentric(&o4, &a4, &b4, &c4, 1, 0), b4, 1e-6f));
  }
}

TEST(MathVector, ViewportMapping) {
  mathtest::UsePortableBodies();
  const Viewport vp{0, 0, 640, 480, 0.0f, 1.0f};
  Vec3 out;
  const Vec3 centre(0, 0, 0.5f), corner(-1, 1, 0);
  EXPECT_TRUE(SameBits(*Vec3ToViewport(&out, &centre, &vp, nullptr, nullptr, nullptr), Vec3(320, 240, 0.5f)));
  EXPECT_TRUE(SameBits(*Vec3ToViewport(&out, &corner, &vp, nullptr, nullptr, nullptr), Vec3(0, 0, 0)));
  EXPECT_TRUE(SameBits(*Vec3FromViewport(&out, &out, &vp, nullptr, nullptr, nullptr), corner));
  // No viewport: the transformed point.
  Matrix4 t;
  MatrixTranslation(&t, 1, 2, 3);
  EXPECT_TRUE(SameBits(*Vec3ToViewport(&out, &centre, nullptr, nullptr, &t, nullptr), Vec3(1, 2, 3.5f)));

  // Round trips through projection, view and world, and the array forms.
  mathtest::Rng rng(9);
  const Viewport odd{10, 20, 300, 200, 0.25f, 0.75f};
  Matrix4 projection, view;
  MatrixPerspectiveFovLH(&projection, 0.8f, 1.5f, 1.0f, 50.0f);
  const Vec3 eye(1, 2, -10), at(0, 0, 0), up(0, 1, 0);
  MatrixLookAtLH(&view, &eye, &at, &up);
  const Matrix4 world = rng.Affine();
  Vec3 in[8], screen[8], back[8];
  for (Vec3& v : in) v = rng.V3(1);
  Vec3ToViewportArray(screen, sizeof(Vec3), in, sizeof(Vec3), &odd, &projection, &view, &world, 8);
  Vec3FromViewportArray(back, sizeof(Vec3), screen, sizeof(Vec3), &odd, &projection, &view, &world, 8);
  for (int i = 0; i < 8; ++i) {
    Vec3 s, b;
    Vec3ToViewport(&s, &in[i], &odd, &projection, &view, &world);
    EXPECT_TRUE(RecordNear(s, screen[i], 2e-5f));
    Vec3FromViewport(&b, &s, &odd, &projection, &view, &world);
    EXPECT_TRUE(RecordNear(b, in[i], 2e-3f));
    EXPECT_TRUE(RecordNear(back[i], in[i], 2e-3f));
  }
}

TEST(MathVector, SingularCombinationCountsAsIdentity) {
  mathtest::UsePortableBodies();
  Matrix4 flat;
  MatrixScaling(&flat, 1, 1, 0);  // no inverse
  const Viewport vp{0, 0, 640, 480, 0.0f, 1.0f};
  const Vec3 screen(320, 240, 0.5f);
  Vec3 out, none;
  Vec3FromViewport(&out, &screen, &vp, &flat, nullptr, nullptr);
  Vec3FromViewport(&none, &screen, &vp, nullptr, nullptr, nullptr);
  EXPECT_TRUE(SameBits(out, none));
  EXPECT_TRUE(SameBits(out, Vec3(0, 0, 0.5f)));
  Vec3 arr[2] = {screen, screen};
  Vec3FromViewportArray(arr, sizeof(Vec3), arr, sizeof(Vec3), &vp, &flat, nullptr, nullptr, 2);
  EXPECT_TRUE(RecordNear(arr[1], none, 1e-6f));
}

}  // namespace
