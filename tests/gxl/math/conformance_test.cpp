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

template <typename T>
const T* Arg(const T& v) {
  return &v;
}
float Arg(float f) { return f; }

// *fn(&out, inputs...) as floats; records go by address, floats by value.
template <typename Out, typename... P, typename... A>
Floats Rec(Out* (*fn)(Out*, P...), const A&... args) {
  Out out;
  Floats f;
  Put(f, *fn(&out, Arg(args)...));
  return f;
}

template <typename Out, typename In>
using ArrayFn = Out* (*)(Out*, std::uint32_t, const In*, std::uint32_t, const Matrix4*, std::uint32_t);
template <typename Out, typename In>
Floats Array(Rng& r, ArrayFn<Out, In> fn, const Matrix4& m) {
  return StridedCall<Out, In>(
      r, [&](Out* o, std::uint32_t os, const In* i, std::uint32_t is, std::uint32_t n) { fn(o, os, i, is, &m, n); });
}

struct Op {
  int position;
  float tolerance;
  std::function<Floats(Rng&)> run;
};

// Inputs are drawn in argument order, the same in both runs of an operation.
std::vector<Op> Operations() {
  const float tol = 1e-5f;
  return {
      {0, tol, [](Rng& r) { return Rec(Vec2Transform, r.V2(), r.M()); }},
      {1, tol, [](Rng& r) { return Rec(Vec3Transform, r.V3(), r.M()); }},
      {2, tol, [](Rng& r) { return Rec(Vec4Transform, r.V4(), r.M()); }},
      {3, tol, [](Rng& r) { return Rec(MatrixMultiply, r.M(), r.M()); }},
      {4, tol, [](Rng& r) { return Rec(MatrixMultiplyTranspose, r.M(), r.M()); }},
      {5, tol, [](Rng& r) { return Rec(Vec2TransformDirection, r.V2(), r.M()); }},
      {6, tol, [](Rng& r) { return Rec(Vec3TransformDirection, r.V3(), r.M()); }},
      {7, tol, [](Rng& r) { return Rec(Vec3Normalize, r.V3()); }},
      {8, tol, [](Rng& r) { return Rec(Vec4Normalize, r.V4()); }},
      {9, tol, [](Rng& r) { return Rec(Vec2TransformPoint, r.V2(), Projective(r)); }},
      {10, tol, [](Rng& r) { return Rec(Vec3TransformPoint, r.V3(), Projective(r)); }},
      {11, tol,
       [](Rng& r) {
         const Matrix4 m = r.M();
         return Floats{MatrixDeterminant(&m) / 256};
       }},
      {12, tol,
       [](Rng& r) {
         const Vec3 s(r.Uniform(0.5f, 2), r.Uniform(0.5f, 2), r.Uniform(0.5f, 2)), t = r.V3();
         const Quaternion q = r.Q();
         Matrix4 m;
         MatrixCompose(&m, nullptr, nullptr, &s, nullptr, &q, &t);
         Vec3 so, to;
         Quaternion qo;
         Floats f{MatrixDecompose(&so, &qo, &to, &m) == S_OK ? 1.0f : 0.0f};
         Put(f, so), Put(f, qo), Put(f, to);
         return f;
       }},
      {13, tol, [](Rng& r) { return Rec(PlaneFromPointNormal, r.V3(), r.V3()); }},
      {14, tol, [](Rng& r) { return Rec(PlaneFromPoints, r.V3(), r.V3(), r.V3()); }},
      {15, 1e-4f,  // screen coordinates scale the error of the point by the viewport size

       [](Rng& r) { return Rec(Vec3ToViewport, r.V3(), SomeViewport(), Projective(r), r.Affine(), r.Affine()); }},
      {16, 1e-4f,
       [](Rng& r) {
         const Vec3 v(r.Uniform(10, 330), r.Uniform(20, 260), r.Uniform(0.1f, 0.9f));
         return Rec(Vec3FromViewport, v, SomeViewport(), r.Affine(), r.Affine(), r.Affine());
       }},
      {17, tol, [](Rng& r) { return Rec(Vec4Cross, r.V4(), r.V4(), r.V4()); }},
      {18, tol, [](Rng& r) { return Rec(Vec2Hermite, r.V2(), r.V2(), r.V2(), r.V2(), r.Uniform(0, 1)); }},
      {19, tol,
       [](Rng& r) {
         const Matrix4 m = r.M();
         Matrix4 o;
         Floats f(1);
         Flag(f, MatrixInverse(&o, &f[0], &m));
         f[0] /= 256;
         Put(f, o);
         return f;
       }},
      {20, tol, [](Rng& r) { return Rec(QuaternionMultiply, r.Q(), r.Q()); }},
      {21, tol, [](Rng& r) { return Rec(QuaternionNormalize, r.Q() * r.Uniform(0.5f, 2)); }},
      {22, tol, [](Rng& r) { return Rec(PlaneNormalize, r.P()); }},
      {23, tol,
       [](Rng& r) {  // points on both sides of a plane facing x
         const Plane p(r.Uniform(0.5f, 1), r.Uniform(-0.5f, 0.5f), r.Uniform(-0.5f, 0.5f), r.Uniform(-1, 1));
         const Vec3 a(r.Uniform(1.5f, 3), r.Uniform(-1, 1), r.Uniform(-1, 1));
         const Vec3 b(r.Uniform(-3, -1.5f), r.Uniform(-1, 1), r.Uniform(-1, 1));
         Vec3 o(0, 0, 0);
         Floats f;
         Flag(f, PlaneIntersectLine(&o, &p, &a, &b));
         Put(f, o);
         return f;
       }},
      {24, tol,
       [](Rng& r) {
         const Quaternion q = r.Q();
         Floats f(1);
         Vec3 axis;
         QuaternionToAxisAngle(&q, &axis, &f[0]);
         Put(f, axis);
         return f;
       }},
      {25, tol,
       [](Rng& r) {
         Quaternion q = r.Q();
         if (q.w < 0) q = -q;
         Matrix4 m;
         MatrixFromQuaternion(&m, &q);
         return Rec(QuaternionFromMatrix, m);
       }},
      {26, tol,
       [](Rng& r) { return Rec(QuaternionFromYawPitchRoll, r.Uniform(-3, 3), r.Uniform(-3, 3), r.Uniform(-3, 3)); }},
      {27, 0, [](Rng& r) { return Rec(MatrixTranslation, r.Uniform(-9, 9), r.Uniform(-9, 9), r.Uniform(-9, 9)); }},
      {28, tol, [](Rng& r) { return Rec(MatrixPlanarShadow, r.V4(), r.P()); }},
      {29, tol, [](Rng& r) { return Rec(MatrixPlaneReflection, r.P()); }},
      {30, tol, [](Rng& r) { return Rec(QuaternionFromAxisAngle, r.V3(), r.Uniform(-6, 6)); }},
      {31, tol, [](Rng& r) { return Rec(MatrixRotationX, r.Uniform(-6, 6)); }},
      {32, tol, [](Rng& r) { return Rec(MatrixRotationY, r.Uniform(-6, 6)); }},
      {33, tol, [](Rng& r) { return Rec(MatrixRotationZ, r.Uniform(-6, 6)); }},
      {34, 0, [](Rng& r) { return Rec(MatrixScaling, r.Uniform(-9, 9), r.Uniform(-9, 9), r.Uniform(-9, 9)); }},
      {35, tol, [](Rng& r) { return Rec(PlaneTransform, r.P(), r.M()); }},
      {36, tol, [](Rng& r) { return Rec(QuaternionSlerp, r.Q(), r.Q(), r.Uniform(0, 1)); }},
      {37, tol,
       [](Rng& r) {
         return Rec(QuaternionBarycentric, r.Q(), r.Q(), r.Q(), r.Uniform(0.1f, 0.5f), r.Uniform(0.1f, 0.5f));
       }},
      {38, 0, [](Rng& r) { return Rec(MatrixTranspose, r.M()); }},
      {39, tol, [](Rng& r) { return Rec(MatrixFromQuaternion, r.Q()); }},
      {40, tol, [](Rng& r) { return Rec(MatrixCompose, r.V3(), r.Q(), r.V3(), r.V3(), r.Q(), r.V3()); }},
      {41, tol,
       [](Rng& r) { return Rec(MatrixFromYawPitchRoll, r.Uniform(-3, 3), r.Uniform(-3, 3), r.Uniform(-3, 3)); }},
      {42, tol, [](Rng& r) { return Rec(MatrixComposeAffine, r.Uniform(0.5f, 2), r.V3(), r.Q(), r.V3()); }},
      {43, tol, [](Rng& r) { return Rec(MatrixRotationAxis, r.V3(), r.Uniform(-6, 6)); }},
      {44, tol, [](Rng& r) { return Rec(QuaternionSpline, r.Q(), r.Q(), r.Q(), r.Q(), r.Uniform(0, 1)); }},
      {45, tol, [](Rng& r) { return Rec(QuaternionInverse, r.Q() * r.Uniform(0.5f, 2)); }},
      {46, 1e-4f,
       [](Rng& r) {
         const Quaternion q0 = r.Q(), q1 = r.Q(), q2 = r.Q(), q3 = r.Q();
         Quaternion a, b, c;
         QuaternionSplineSetup(&a, &b, &c, &q0, &q1, &q2, &q3);
         Floats f;
         Put(f, a), Put(f, b), Put(f, c);
         return f;
       }},
      {47, tol, [](Rng& r) { return Rec(Vec2Normalize, r.V2()); }},
      {48, tol, [](Rng& r) { return Rec(Vec2CatmullRom, r.V2(), r.V2(), r.V2(), r.V2(), r.Uniform(0, 1)); }},
      {49, tol, [](Rng& r) { return Rec(Vec2Barycentric, r.V2(), r.V2(), r.V2(), r.Uniform(0, 1), r.Uniform(0, 1)); }},
      {50, tol, [](Rng& r) { return Rec(Vec3Hermite, r.V3(), r.V3(), r.V3(), r.V3(), r.Uniform(0, 1)); }},
      {51, tol, [](Rng& r) { return Rec(Vec3CatmullRom, r.V3(), r.V3(), r.V3(), r.V3(), r.Uniform(0, 1)); }},
      {52, tol, [](Rng& r) { return Rec(Vec3Barycentric, r.V3(), r.V3(), r.V3(), r.Uniform(0, 1), r.Uniform(0, 1)); }},
      {53, tol, [](Rng& r) { return Rec(Vec4Hermite, r.V4(), r.V4(), r.V4(), r.V4(), r.Uniform(0, 1)); }},
      {54, tol, [](Rng& r) { return Rec(Vec4CatmullRom, r.V4(), r.V4(), r.V4(), r.V4(), r.Uniform(0, 1)); }},
      {55, tol, [](Rng& r) { return Rec(Vec4Barycentric, r.V4(), r.V4(), r.V4(), r.Uniform(0, 1), r.Uniform(0, 1)); }},
      {56, tol,
       [](Rng& r) {
         Quaternion q = r.Q();
         q.w = std::min(q.w, 0.99f);
         return Rec(QuaternionLn, q);
       }},
      {57, tol, [](Rng& r) { return Rec(QuaternionExp, Pure(r)); }},
      {58, 0,
       [](Rng& r) {
         float in[19];
         for (float& x : in) x = r.Uniform(-70000, 70000);
         Float16 h[19];
         FloatToHalfArray(h, in, 19);
         Floats f;
         for (const Float16& x : h) f.push_back(x.bits);
         return f;
       }},
      {59, 0,
       [](Rng& r) {
         Float16 h[19];
         for (Float16& x : h) x.bits = static_cast<std::uint16_t>(r.Uniform(0, 65535.9f));
         Floats f(19);
         HalfToFloatArray(f.data(), h, 19);
         return f;
       }},
      {60, tol, [](Rng& r) { return Array(r, Vec2TransformArray, r.M()); }},
      {61, tol, [](Rng& r) { return Array(r, Vec2TransformPointArray, Projective(r)); }},
      {62, tol, [](Rng& r) { return Array(r, Vec2TransformDirectionArray, r.M()); }},
      {63, tol, [](Rng& r) { return Array(r, Vec3TransformArray, r.M()); }},
      {64, tol, [](Rng& r) { return Array(r, Vec3TransformPointArray, Projective(r)); }},
      {65, tol, [](Rng& r) { return Array(r, Vec3TransformDirectionArray, r.M()); }},
      {66, tol, [](Rng& r) { return Array(r, Vec4TransformArray, r.M()); }},
      {67, 1e-4f,  // the viewport folded into the matrix rounds differently
       [](Rng& r) {
         const Matrix4 m = Projective(r);
         const Viewport vp = SomeViewport();
         return StridedCall<Vec3, Vec3>(
             r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
               Vec3ToViewportArray(o, os, i, is, &vp, &m, nullptr, nullptr, n);
             });
       }},
      {68, 1e-4f,
       [](Rng& r) {
         const Matrix4 m = r.Affine();
         const Viewport vp = SomeViewport();
         return StridedCall<Vec3, Vec3>(
             r, [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
               Vec3FromViewportArray(o, os, i, is, &vp, nullptr, &m, nullptr, n);
             });
       }},
      {69, tol, [](Rng& r) { return Array(r, PlaneTransformArray, r.M()); }},
      {70, tol,
       [](Rng& r) {  // a position and a normal, two vertices, two influences on the first
         const Matrix4 bones[2] = {r.Affine(), r.Affine()};
         const Vec3 src[2][2] = {{r.V3(), r.V3()}, {r.V3(), r.V3()}};
         Vec3 dst[2][2];
         const Vec3* se[2] = {&src[0][0], &src[0][1]};
         Vec3* de[2] = {&dst[0][0], &dst[0][1]};
         const std::uint8_t usages[2] = {0, 3};
         const float influences[] = {0.25f, 2.75f, -1, 2.5f, -1};
         BlendVertices(bones, nullptr, src, dst, 2, sizeof src[0], se, de, usages, 2, influences);
         Floats f;
         Put(f, dst);
         return f;
       }},
      {71, tol,
       [](Rng& r) {
         float v[3][5];
         for (auto& c : v)
           for (float& x : c) x = r.Uniform(-2, 2);
         Vec3 n[3] = {r.V3(), r.V3(), r.V3()};
         for (Vec3& x : n) x = x / Vec3Length(&x);
         const Vec2 uv[3] = {Vec2(0.2f, 0.3f), Vec2(r.Uniform(0, 0.5f), r.Uniform(0, 0.5f)), Vec2(0, 1)};
         Floats f(15);
         EvaluateTrianglePatch(n, uv, 3, f.data(), v[0], v[1], v[2], 5);
         return f;
       }},
      {72, tol,
       [](Rng& r) { return Rec(MatrixCompose2D, r.V2(), r.Uniform(-3, 3), r.V2(), r.V2(), r.Uniform(-3, 3), r.V2()); }},
      {73, tol,
       [](Rng& r) { return Rec(MatrixComposeAffine2D, r.Uniform(0.5f, 2), r.V2(), r.Uniform(-3, 3), r.V2()); }},
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

INSTANTIATE_TEST_SUITE_P(Variants, MathConformance, ::testing::ValuesIn(mathtest::MathVariantsWhere(false)),
                         mathtest::VariantName);
INSTANTIATE_TEST_SUITE_P(Math3DNow, MathConformance, ::testing::ValuesIn(mathtest::MathVariantsWhere(true)),
                         mathtest::VariantName);

}  // namespace
