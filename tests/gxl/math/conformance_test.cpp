// Every dispatched position, run through its public entry on random
// well-conditioned inputs under each variant, against the portable bodies.
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "math_variants.h"

namespace {

using mathtest::Rng;
using Floats = std::vector<float>;

template <typename T>
void Put(Floats& out, const T& record) {
  const auto* f = reinterpret_cast<const float*>(&record);
  out.insert(out.end(), f, f + sizeof(T) / sizeof(float));
}
void Flag(Floats& out, const void* result) { out.push_back(result ? 1.0f : 0.0f); }

// An affine transform with a small projective w column: w stays near 1.
Matrix4 Projective(Rng& r) {
  Matrix4 m = r.Affine();
  for (int i = 0; i < 3; ++i) m.m[i][3] = r.Uniform(-0.05f, 0.05f);
  return m;
}
Quaternion Pure(Rng& r) { return Quaternion(r.Uniform(-1, 1), r.Uniform(-1, 1), r.Uniform(-1, 1), 0); }
Viewport SomeViewport() { return Viewport{10, 20, 320, 240, 0.1f, 0.9f}; }

// A strided array of n random records of In, the operation's output of Out.
template <typename Out, typename In, typename Call>
Floats StridedCall(Rng& r, Call call, std::uint32_t n = 37) {
  constexpr std::uint32_t inStride = sizeof(In) + 4, outStride = sizeof(Out) + 8;
  std::vector<unsigned char> in(n * inStride, 0), out(n * outStride, 0);
  for (std::size_t k = 0; k < in.size() / 4; ++k) {
    const float f = r.Uniform(-2, 2);
    std::memcpy(in.data() + 4 * k, &f, 4);
  }
  call(reinterpret_cast<Out*>(out.data()), outStride, reinterpret_cast<const In*>(in.data()), inStride, n);
  Floats f(out.size() / 4);
  std::memcpy(f.data(), out.data(), out.size());
  return f;
}

struct Op {
  int position;
  float tolerance;
  std::function<Floats(Rng&)> run;
};

std::vector<Op> Operations() {
  return {
      {0, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec2 v = r.V2(); const Matrix4 m = r.M(); Put(f, *Vec2Transform(&o, &v, &m)); return f; }},
      {1, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec3 v = r.V3(); const Matrix4 m = r.M(); Put(f, *Vec3Transform(&o, &v, &m)); return f; }},
      {2, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 v = r.V4(); const Matrix4 m = r.M(); Put(f, *Vec4Transform(&o, &v, &m)); return f; }},
      {3, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Matrix4 a = r.M(), b = r.M(); Put(f, *MatrixMultiply(&o, &a, &b)); return f; }},
      {4, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Matrix4 a = r.M(), b = r.M(); Put(f, *MatrixMultiplyTranspose(&o, &a, &b)); return f; }},
      {5, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 v = r.V2(); const Matrix4 m = r.M(); Put(f, *Vec2TransformDirection(&o, &v, &m)); return f; }},
      {6, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 v = r.V3(); const Matrix4 m = r.M(); Put(f, *Vec3TransformDirection(&o, &v, &m)); return f; }},
      {7, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 v = r.V3(); Put(f, *Vec3Normalize(&o, &v)); return f; }},
      {8, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 v = r.V4(); Put(f, *Vec4Normalize(&o, &v)); return f; }},
      {9, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 v = r.V2(); const Matrix4 m = Projective(r); Put(f, *Vec2TransformPoint(&o, &v, &m)); return f; }},
      {10, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 v = r.V3(); const Matrix4 m = Projective(r); Put(f, *Vec3TransformPoint(&o, &v, &m)); return f; }},
      {11, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return Floats{MatrixDeterminant(&m) / 256}; }},
      {12, 1e-5f, [](Rng& r) {
         Floats f; Matrix4 m; const Vec3 s(r.Uniform(0.5f, 2), r.Uniform(0.5f, 2), r.Uniform(0.5f, 2)), t = r.V3(); const Quaternion q = r.Q();
         MatrixCompose(&m, nullptr, nullptr, &s, nullptr, &q, &t);
         Vec3 so, to; Quaternion qo;
         f.push_back(MatrixDecompose(&so, &qo, &to, &m) == S_OK);
         Put(f, so), Put(f, qo), Put(f, to); return f; }},
      {13, 1e-5f, [](Rng& r) { Floats f; Plane o; const Vec3 p = r.V3(), n = r.V3(); Put(f, *PlaneFromPointNormal(&o, &p, &n)); return f; }},
      {14, 1e-5f, [](Rng& r) { Floats f; Plane o; const Vec3 a = r.V3(), b = r.V3(), c = r.V3(); Put(f, *PlaneFromPoints(&o, &a, &b, &c)); return f; }},
      {15, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 v = r.V3(); const Viewport vp = SomeViewport(); const Matrix4 a = Projective(r), b = r.Affine();
         Put(f, *Vec3ToViewport(&o, &v, &vp, &a, &b, nullptr)); return f; }},
      {16, 1e-4f, [](Rng& r) { Floats f; Vec3 o; const Vec3 v(r.Uniform(10, 330), r.Uniform(20, 260), r.Uniform(0.1f, 0.9f)); const Viewport vp = SomeViewport(); const Matrix4 a = r.Affine(), b = r.Affine();
         Put(f, *Vec3FromViewport(&o, &v, &vp, &a, nullptr, &b)); return f; }},
      {17, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 u = r.V4(), v = r.V4(), w = r.V4(); Put(f, *Vec4Cross(&o, &u, &v, &w)); return f; }},
      {18, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 a = r.V2(), b = r.V2(), c = r.V2(), d = r.V2(); Put(f, *Vec2Hermite(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {19, 1e-5f, [](Rng& r) { Floats f(1); Matrix4 o; const Matrix4 m = r.M(); Flag(f, MatrixInverse(&o, &f[0], &m)); f[0] /= 256; Put(f, o); return f; }},
      {20, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion a = r.Q(), b = r.Q(); Put(f, *QuaternionMultiply(&o, &a, &b)); return f; }},
      {21, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion q = r.Q() * r.Uniform(0.5f, 2); Put(f, *QuaternionNormalize(&o, &q)); return f; }},
      {22, 1e-5f, [](Rng& r) { Floats f; Plane o; const Plane p = r.P(); Put(f, *PlaneNormalize(&o, &p)); return f; }},
      {23, 1e-5f, [](Rng& r) { Floats f; Vec3 o(0, 0, 0); const Plane p(r.Uniform(0.5f, 1), r.Uniform(-0.5f, 0.5f), r.Uniform(-0.5f, 0.5f), r.Uniform(-1, 1));
         const Vec3 a(r.Uniform(1.5f, 3), r.Uniform(-1, 1), r.Uniform(-1, 1)), b(r.Uniform(-3, -1.5f), r.Uniform(-1, 1), r.Uniform(-1, 1));
         Flag(f, PlaneIntersectLine(&o, &p, &a, &b)); Put(f, o); return f; }},
      {24, 1e-5f, [](Rng& r) { Floats f(1); Vec3 axis; const Quaternion q = r.Q(); QuaternionToAxisAngle(&q, &axis, &f[0]); Put(f, axis); return f; }},
      {25, 1e-5f, [](Rng& r) { Floats f; Quaternion q = r.Q(), o; if (q.w < 0) q = -q; Matrix4 m; MatrixFromQuaternion(&m, &q); Put(f, *QuaternionFromMatrix(&o, &m)); return f; }},
      {26, 1e-5f, [](Rng& r) { Floats f; Quaternion o; Put(f, *QuaternionFromYawPitchRoll(&o, r.Uniform(-3, 3), r.Uniform(-3, 3), r.Uniform(-3, 3))); return f; }},
      {27, 0.0f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixTranslation(&o, r.Uniform(-9, 9), r.Uniform(-9, 9), r.Uniform(-9, 9))); return f; }},
      {28, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec4 l = r.V4(); const Plane p = r.P(); Put(f, *MatrixPlanarShadow(&o, &l, &p)); return f; }},
      {29, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Plane p = r.P(); Put(f, *MatrixPlaneReflection(&o, &p)); return f; }},
      {30, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Vec3 a = r.V3(); Put(f, *QuaternionFromAxisAngle(&o, &a, r.Uniform(-6, 6))); return f; }},
      {31, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixRotationX(&o, r.Uniform(-6, 6))); return f; }},
      {32, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixRotationY(&o, r.Uniform(-6, 6))); return f; }},
      {33, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixRotationZ(&o, r.Uniform(-6, 6))); return f; }},
      {34, 0.0f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixScaling(&o, r.Uniform(-9, 9), r.Uniform(-9, 9), r.Uniform(-9, 9))); return f; }},
      {35, 1e-5f, [](Rng& r) { Floats f; Plane o; const Plane p = r.P(); const Matrix4 m = r.M(); Put(f, *PlaneTransform(&o, &p, &m)); return f; }},
      {36, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion a = r.Q(), b = r.Q(); Put(f, *QuaternionSlerp(&o, &a, &b, r.Uniform(0, 1))); return f; }},
      {37, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion a = r.Q(), b = r.Q(), c = r.Q(); Put(f, *QuaternionBarycentric(&o, &a, &b, &c, r.Uniform(0.1f, 0.5f), r.Uniform(0.1f, 0.5f))); return f; }},
      {38, 0.0f, [](Rng& r) { Floats f; Matrix4 o; const Matrix4 m = r.M(); Put(f, *MatrixTranspose(&o, &m)); return f; }},
      {39, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Quaternion q = r.Q(); Put(f, *MatrixFromQuaternion(&o, &q)); return f; }},
      {40, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec3 sc = r.V3(), s = r.V3(), rc = r.V3(), t = r.V3(); const Quaternion sr = r.Q(), q = r.Q();
         Put(f, *MatrixCompose(&o, &sc, &sr, &s, &rc, &q, &t)); return f; }},
      {41, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; Put(f, *MatrixFromYawPitchRoll(&o, r.Uniform(-3, 3), r.Uniform(-3, 3), r.Uniform(-3, 3))); return f; }},
      {42, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec3 rc = r.V3(), t = r.V3(); const Quaternion q = r.Q(); Put(f, *MatrixComposeAffine(&o, r.Uniform(0.5f, 2), &rc, &q, &t)); return f; }},
      {43, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec3 a = r.V3(); Put(f, *MatrixRotationAxis(&o, &a, r.Uniform(-6, 6))); return f; }},
      {44, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion a = r.Q(), b = r.Q(), c = r.Q(), d = r.Q(); Put(f, *QuaternionSpline(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {45, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion q = r.Q() * r.Uniform(0.5f, 2); Put(f, *QuaternionInverse(&o, &q)); return f; }},
      {46, 1e-4f, [](Rng& r) { Floats f; Quaternion a, b, c; const Quaternion q0 = r.Q(), q1 = r.Q(), q2 = r.Q(), q3 = r.Q();
         QuaternionSplineSetup(&a, &b, &c, &q0, &q1, &q2, &q3); Put(f, a), Put(f, b), Put(f, c); return f; }},
      {47, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 v = r.V2(); Put(f, *Vec2Normalize(&o, &v)); return f; }},
      {48, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 a = r.V2(), b = r.V2(), c = r.V2(), d = r.V2(); Put(f, *Vec2CatmullRom(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {49, 1e-5f, [](Rng& r) { Floats f; Vec2 o; const Vec2 a = r.V2(), b = r.V2(), c = r.V2(); Put(f, *Vec2Barycentric(&o, &a, &b, &c, r.Uniform(0, 1), r.Uniform(0, 1))); return f; }},
      {50, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 a = r.V3(), b = r.V3(), c = r.V3(), d = r.V3(); Put(f, *Vec3Hermite(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {51, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 a = r.V3(), b = r.V3(), c = r.V3(), d = r.V3(); Put(f, *Vec3CatmullRom(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {52, 1e-5f, [](Rng& r) { Floats f; Vec3 o; const Vec3 a = r.V3(), b = r.V3(), c = r.V3(); Put(f, *Vec3Barycentric(&o, &a, &b, &c, r.Uniform(0, 1), r.Uniform(0, 1))); return f; }},
      {53, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 a = r.V4(), b = r.V4(), c = r.V4(), d = r.V4(); Put(f, *Vec4Hermite(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {54, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 a = r.V4(), b = r.V4(), c = r.V4(), d = r.V4(); Put(f, *Vec4CatmullRom(&o, &a, &b, &c, &d, r.Uniform(0, 1))); return f; }},
      {55, 1e-5f, [](Rng& r) { Floats f; Vec4 o; const Vec4 a = r.V4(), b = r.V4(), c = r.V4(); Put(f, *Vec4Barycentric(&o, &a, &b, &c, r.Uniform(0, 1), r.Uniform(0, 1))); return f; }},
      {56, 1e-5f, [](Rng& r) { Floats f; Quaternion q = r.Q(), o; if (q.w > 0.999f) q.w = 0.5f; Put(f, *QuaternionLn(&o, &q)); return f; }},
      {57, 1e-5f, [](Rng& r) { Floats f; Quaternion o; const Quaternion q = Pure(r); Put(f, *QuaternionExp(&o, &q)); return f; }},
      {58, 0.0f, [](Rng& r) { Float16 h[19]; float in[19]; for (float& x : in) x = r.Uniform(-70000, 70000);
         FloatToHalfArray(h, in, 19); Floats f; for (const Float16& x : h) f.push_back(x.bits); return f; }},
      {59, 0.0f, [](Rng& r) { Float16 h[19]; for (Float16& x : h) x.bits = static_cast<std::uint16_t>(r.Uniform(0, 65535.9f));
         Floats f(19); HalfToFloatArray(f.data(), h, 19); return f; }},
      {60, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Vec4, Vec2>(r, [&](Vec4* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) { Vec2TransformArray(o, os, i, is, &m, n); }); }},
      {61, 1e-5f, [](Rng& r) { const Matrix4 m = Projective(r); return StridedCall<Vec2, Vec2>(r, [&](Vec2* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) { Vec2TransformPointArray(o, os, i, is, &m, n); }); }},
      {62, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Vec2, Vec2>(r, [&](Vec2* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) { Vec2TransformDirectionArray(o, os, i, is, &m, n); }); }},
      {63, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Vec4, Vec3>(r, [&](Vec4* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) { Vec3TransformArray(o, os, i, is, &m, n); }); }},
      {64, 1e-5f, [](Rng& r) { const Matrix4 m = Projective(r); return StridedCall<Vec3, Vec3>(r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) { Vec3TransformPointArray(o, os, i, is, &m, n); }); }},
      {65, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Vec3, Vec3>(r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) { Vec3TransformDirectionArray(o, os, i, is, &m, n); }); }},
      {66, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Vec4, Vec4>(r, [&](Vec4* o, std::uint32_t os, const Vec4* i, std::uint32_t is, std::uint32_t n) { Vec4TransformArray(o, os, i, is, &m, n); }); }},
      {67, 1e-4f, [](Rng& r) { const Matrix4 m = Projective(r); const Viewport vp = SomeViewport();
         return StridedCall<Vec3, Vec3>(r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) { Vec3ToViewportArray(o, os, i, is, &vp, &m, nullptr, nullptr, n); }); }},
      {68, 1e-4f, [](Rng& r) { const Matrix4 m = r.Affine(); const Viewport vp = SomeViewport();
         return StridedCall<Vec3, Vec3>(r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) { Vec3FromViewportArray(o, os, i, is, &vp, nullptr, &m, nullptr, n); }); }},
      {69, 1e-5f, [](Rng& r) { const Matrix4 m = r.M(); return StridedCall<Plane, Plane>(r, [&](Plane* o, std::uint32_t os, const Plane* i, std::uint32_t is, std::uint32_t n) { PlaneTransformArray(o, os, i, is, &m, n); }); }},
      {70, 1e-5f, [](Rng& r) {
         Matrix4 bones[2] = {r.Affine(), r.Affine()};
         Vec3 src[2][2] = {{r.V3(), r.V3()}, {r.V3(), r.V3()}}, dst[2][2];
         const Vec3* se[2] = {&src[0][0], &src[0][1]};
         Vec3* de[2] = {&dst[0][0], &dst[0][1]};
         const std::uint8_t usages[2] = {0, 3};
         const float influences[] = {0.25f, 2.75f, -1, 2.5f, -1};
         BlendVertices(bones, nullptr, src, dst, 2, sizeof src[0], se, de, usages, 2, influences);
         Floats f; Put(f, dst); return f; }},
      {71, 1e-5f, [](Rng& r) {
         float v[3][5]; for (auto& c : v) for (float& x : c) x = r.Uniform(-2, 2);
         Vec3 n[3] = {r.V3(), r.V3(), r.V3()}; for (Vec3& x : n) Vec3Normalize(&x, &x);
         const Vec2 uv[3] = {Vec2(0.2f, 0.3f), Vec2(r.Uniform(0, 0.5f), r.Uniform(0, 0.5f)), Vec2(0, 1)};
         Floats f(15); EvaluateTrianglePatch(n, uv, 3, f.data(), v[0], v[1], v[2], 5); return f; }},
      {72, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec2 sc = r.V2(), s = r.V2(), rc = r.V2(), t = r.V2();
         Put(f, *MatrixCompose2D(&o, &sc, r.Uniform(-3, 3), &s, &rc, r.Uniform(-3, 3), &t)); return f; }},
      {73, 1e-5f, [](Rng& r) { Floats f; Matrix4 o; const Vec2 rc = r.V2(), t = r.V2(); Put(f, *MatrixComposeAffine2D(&o, r.Uniform(0.5f, 2), &rc, r.Uniform(-3, 3), &t)); return f; }},
  };
}


TEST_P(MathConformance, EveryPositionAgreesWithThePortableBody) {
  const std::vector<Op> ops = Operations();
  std::set<int> positions;
  for (const Op& op : ops) positions.insert(op.position);
  ASSERT_EQ(positions.size(), static_cast<std::size_t>(kMathDispatchPositions));
  for (const Op& op : ops) {
    SCOPED_TRACE(::testing::Message() << "position " << op.position);
    for (unsigned trial = 0; trial < 25; ++trial) {
      const unsigned seed = 1000 * op.position + trial;
      mathtest::UsePortableBodies();
      Rng r1(seed);
      const Floats want = op.run(r1);
      mathtest::Activate(GetParam());
      Rng r2(seed);
      const Floats got = op.run(r2);
      ASSERT_EQ(got.size(), want.size());
      ASSERT_TRUE(mathtest::Near(got.data(), want.data(), static_cast<int>(got.size()), op.tolerance))
          << "trial " << trial;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, MathConformance, ::testing::ValuesIn(mathtest::MathVariants()),
                         mathtest::VariantName);

}  // namespace
