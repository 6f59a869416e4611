// The rules of the x87-tuned, SSE and SSE2 bodies that differ from the portable
// ones: thresholds, zero tests, refinement, the array block rule, and the
// faults they mend.
#include <cfloat>
#include <cmath>
#include <limits>

#include "gxl/math/portable.h"
#include "math_variants.h"

namespace {

namespace x87 = gxl::math::x87;
namespace sse = gxl::math::sse;
namespace sse2 = gxl::math::sse2;
using mathtest::Family;
using mathtest::RecordNear;
using mathtest::SameBits;

int CountBodies(const MathDispatchTable& t) {
  int n = 0;
  for (int k = 0; k < kMathDispatchPositions; ++k) n += mathtest::Entry(t, k) != nullptr;
  return n;
}

bool AllNaN(const float* f, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isnan(f[i])) return false;
  return true;
}

TEST(MathVariant, SetsFillTheirPositions) {
  EXPECT_EQ(CountBodies(MathX87Set()), 9);
  EXPECT_EQ(CountBodies(MathSseSet()), 44);
  EXPECT_EQ(CountBodies(MathSse2Set()), 43);
  EXPECT_EQ(MathSse2Set().QuaternionInverse, nullptr);
  // Every SSE2 body is the SSE body or its SSE2 copy.
  for (int k = 0; k < kMathDispatchPositions; ++k)
    EXPECT_EQ(mathtest::Entry(MathSse2Set(), k) == nullptr, mathtest::Entry(MathSseSet(), k) == nullptr || k == 45);
}

// The thresholds and the zero and not-a-number rules, by the family of the body
// each variant holds at that position.
TEST_P(MathConformance, ThresholdsAndZeros) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Vec3 o3;
  const Vec3 zero3(0, 0, 0);
  EXPECT_TRUE(SameBits(*Vec3Normalize(&o3, &zero3), zero3));
  const Vec3 denormalSquare(1e-20f, 0, 0);
  EXPECT_TRUE(SameBits(*Vec3Normalize(&o3, &denormalSquare), zero3));
  const Vec3 small(1e-10f, 0, 0), nearlyUnit(1.000004f, 0, 0), notANumber(nan, 0, 0);
  Vec3Normalize(&o3, &small);
  EXPECT_TRUE(mathtest::BodyFamily(7) == Family::Sse ? SameBits(o3, zero3) : RecordNear(o3, Vec3(1, 0, 0), 2e-6f));
  Vec3Normalize(&o3, &nearlyUnit);
  if (mathtest::BodyFamily(7) == Family::X87) {
    EXPECT_TRUE(SameBits(o3, nearlyUnit));
  } else {
    EXPECT_TRUE(RecordNear(o3, Vec3(1, 0, 0), 5e-7f));
  }
  // 3DNow! arithmetic reads NaN as FLT_MAX and never produces NaN.
  Vec3Normalize(&o3, &notANumber);
  EXPECT_TRUE(mathtest::BodyFamily(7) == Family::Now3D ? std::isfinite(o3.x) : std::isnan(o3.x));

  // Four-component normalisation and the quaternion inverse of zeros.
  const bool sse8 = mathtest::BodyFamily(8) == Family::Sse, sse21 = mathtest::BodyFamily(21) == Family::Sse;
  const bool sse45 = mathtest::BodyFamily(45) == Family::Sse;
  const Vec4 zero4(0, 0, 0, 0);
  Vec4 o4;
  Vec4Normalize(&o4, &zero4);
  EXPECT_TRUE(sse8 ? AllNaN(&o4.x, 4) : SameBits(o4, zero4));
  const Quaternion zq(0, 0, 0, 0);
  Quaternion oq;
  QuaternionNormalize(&oq, &zq);
  EXPECT_TRUE(sse21 ? AllNaN(&oq.x, 4) : SameBits(oq, zq));
  QuaternionInverse(&oq, &zq);
  EXPECT_TRUE(sse45 ? AllNaN(&oq.x, 4) : SameBits(oq, zq));

  // w = 0 and w = 1 in the point transform.
  Matrix4 m = mathtest::Identity();
  const Vec3 p(3, 5, 7);
  Vec3TransformPoint(&o3, &p, &m);
  EXPECT_TRUE(mathtest::BodyFamily(10) == Family::Sse ? RecordNear(o3, p, 5e-7f) : SameBits(o3, p));
  m.m[3][3] = 0;
  Vec3TransformPoint(&o3, &p, &m);
  switch (mathtest::BodyFamily(10)) {
    case Family::Sse:
      EXPECT_TRUE(AllNaN(&o3.x, 3));
      break;
    case Family::Now3D:  // 1/0 and the products saturate
      EXPECT_TRUE(o3.x == FLT_MAX && o3.y == FLT_MAX && o3.z == FLT_MAX);
      break;
    default:
      EXPECT_TRUE(std::isinf(o3.x) && std::isinf(o3.z));
  }

  // Collinear points: zeros from the portable normalisation, not-a-number without its zero test.
  Plane pl;
  const Vec3 a(0, 0, 0), b(1, 1, 1), c(2, 2, 2);
  PlaneFromPoints(&pl, &a, &b, &c);
  EXPECT_TRUE(mathtest::BodyFamily(14) == Family::Sse ? AllNaN(&pl.a, 4) : pl.a == 0 && pl.b == 0 && pl.c == 0);

  // A plane without a normal casts the zero matrix.
  const Plane noNormal(0, 0, 0, 5);
  const Vec4 light(1, 2, 3, 1);
  MatrixPlanarShadow(&m, &light, &noNormal);
  for (const auto& row : m.m)
    for (float e : row) EXPECT_EQ(e, 0.0f);

  // No inverse: null, out untouched, the determinant written all the same.
  for (const float scale : {0.0f, 1e-15f}) {
    SCOPED_TRACE(scale);
    Matrix4 singular;
    MatrixScaling(&singular, scale, scale, scale);
    mathtest::Guarded<Matrix4> out;
    float det = 7;
    EXPECT_EQ(MatrixInverse(out.ptr(), &det, &singular), nullptr);
    EXPECT_TRUE(out.Untouched());
    // 3DNow! arithmetic flushes the denormal product to 0.
    EXPECT_EQ(det, mathtest::BodyFamily(19) == Family::Now3D ? 0.0f : scale * scale * scale);
  }
  // A parallel line, and one so nearly parallel that t overflows: null, out untouched.
  const Plane wall(1, 0, 0, -1);
  const Vec3 origin(0, 0, 0), along(0, 1, 0), barely(1e-39f, 0, 0);
  mathtest::Guarded<Vec3> hit;
  EXPECT_EQ(PlaneIntersectLine(hit.ptr(), &wall, &origin, &along), nullptr);
  EXPECT_EQ(PlaneIntersectLine(hit.ptr(), &wall, &origin, &barely), nullptr);
  EXPECT_TRUE(hit.Untouched());
}

// Orthogonal quaternions whose dot product is exactly 0 or exactly -0 (every
// product -0). Only the short-way rule decides the sign of the second weight:
// the portable rule (and the unplaced SSE2 body's) flips below 0 alone, the
// 3DNow! rule at 0 too, and -0 is 0 to both. The weights are those of a
// quarter turn, sin((1 - t) pi/2) and sin(t pi/2), from libm.
struct OrthogonalPair {
  const char* name;
  Quaternion q1, q2;
  bool negativeZero;
};
const OrthogonalPair kOrthogonalPairs[] = {
    {"axes, dot 0", Quaternion(1, 0, 0, 0), Quaternion(0, 1, 0, 0), false},
    {"four products, dot 0", Quaternion(0.5f, 0.5f, 0.5f, 0.5f), Quaternion(0.5f, -0.5f, -0.5f, 0.5f), false},
    {"dot -0", Quaternion(0.6f, -0.0f, 0.8f, -0.0f), Quaternion(-0.0f, 0.8f, -0.0f, 0.6f), true},
    {"axes, dot -0", Quaternion(1, 0, 0, 0), Quaternion(-0.0f, -1, -0.0f, -0.0f), true},
};
const float kSlerpSteps[] = {0.1f, 0.25f, 0.5f, 0.75f, 0.9f, 1.0f};

double DotOf(const Quaternion& a, const Quaternion& b) {
  return double{a.x} * b.x + double{a.y} * b.y + double{a.z} * b.z + double{a.w} * b.w;
}

// k1 q1 + k2 q2 with the quarter-turn weights, the second negated when `flip`;
// the portable formula's roundings: theta and 1 / sqrt(1 - d^2) (here 1) to float.
Quaternion QuarterTurn(const Quaternion& a, const Quaternion& b, float t, bool flip) {
  const float theta = static_cast<float>(std::atan2(1.0, 0.0));
  const double k1 = std::sin((1.0 - t) * theta), k2 = std::sin(double{t} * theta) * (flip ? -1 : 1);
  return Quaternion(static_cast<float>(k1 * a.x + k2 * b.x), static_cast<float>(k1 * a.y + k2 * b.y),
                    static_cast<float>(k1 * a.z + k2 * b.z), static_cast<float>(k1 * a.w + k2 * b.w));
}

TEST_P(MathConformance, SlerpAtADotProductOfZeroTakesItsBodysShortWay) {
  const bool now3d = mathtest::BodyFamily(36) == Family::Now3D;
  ASSERT_EQ(now3d, mathtest::Is3DNow(GetParam()));
  for (const OrthogonalPair& p : kOrthogonalPairs) {
    SCOPED_TRACE(p.name);
    const double d = DotOf(p.q1, p.q2);
    ASSERT_EQ(d, 0.0);
    ASSERT_EQ(std::signbit(d), p.negativeZero);
    for (const float t : kSlerpSteps) {
      SCOPED_TRACE(t);
      Quaternion out;
      QuaternionSlerp(&out, &p.q1, &p.q2, t);
      if (now3d) {
        EXPECT_TRUE(RecordNear(out, QuarterTurn(p.q1, p.q2, t, true), 2e-6f));
      } else {
        EXPECT_TRUE(SameBits(out, QuarterTurn(p.q1, p.q2, t, false)));
      }
    }
  }
}

TEST(MathVariant, Sse2SlerpAtADotProductOfZeroKeepsTheSecondWeight) {
  for (const OrthogonalPair& p : kOrthogonalPairs) {
    SCOPED_TRACE(p.name);
    for (const float t : kSlerpSteps) {
      SCOPED_TRACE(t);
      Quaternion out;
      EXPECT_TRUE(RecordNear(*sse2::QuaternionSlerp(&out, &p.q1, &p.q2, t), QuarterTurn(p.q1, p.q2, t, false), 2e-6f));
    }
  }
}

TEST(MathVariant, X87NormalizeThresholds) {
  Vec3 out;
  const Vec3 nearlyUnit(1.000004f, 0, 0);  // |s - 1| within 1e-5: copied
  EXPECT_TRUE(SameBits(*x87::Vec3Normalize(&out, &nearlyUnit), nearlyUnit));
  const Vec3 underflow(1e-30f, 0, 0), zero(0, 0, 0);
  EXPECT_TRUE(SameBits(*x87::Vec3Normalize(&out, &underflow), zero));
  // A denormal squared length gives zeros, not a vector of the wrong length.
  const Vec3 denormal(1e-20f, 1e-20f, 0);
  EXPECT_TRUE(SameBits(*x87::Vec3Normalize(&out, &denormal), zero));
  mathtest::Rng rng(3);
  for (int i = 0; i < 500; ++i) {
    Vec3 v = rng.V3(50);
    x87::Vec3Normalize(&v, &v);
    EXPECT_NEAR(Vec3Length(&v), 1.0f, 2e-6f);
  }
}

TEST(MathVariant, X87ProductsWithAliasedOutputs) {
  mathtest::Rng rng(4);
  for (int i = 0; i < 20; ++i) {
    const Matrix4 A = rng.M(), B = rng.M();
    Matrix4 ab, aa, abT;
    x87::MatrixMultiply(&ab, &A, &B);
    x87::MatrixMultiply(&aa, &A, &A);
    x87::MatrixMultiplyTranspose(&abT, &A, &B);
    Matrix4 a = A, b = B;
    EXPECT_TRUE(SameBits(*x87::MatrixMultiply(&b, &A, &b), ab));
    EXPECT_TRUE(SameBits(*x87::MatrixMultiply(&a, &a, &B), ab));
    a = A;
    EXPECT_TRUE(SameBits(*x87::MatrixMultiply(&a, &a, &a), aa));
    a = A, b = B;
    EXPECT_TRUE(SameBits(*x87::MatrixMultiplyTranspose(&a, &a, &B), abT));
    EXPECT_TRUE(SameBits(*x87::MatrixMultiplyTranspose(&b, &A, &b), abT));
  }
}

// One Newton-Raphson step leaves the reciprocal and the reciprocal square root
// within 2^-21 of the exact ones (the estimate alone is good to about 2^-12).
TEST(MathVariant, RefinedReciprocalsWithin2Pow21) {
  const double bound = std::ldexp(1.0, -21);
  mathtest::Rng rng(5);
  for (int i = 0; i < 2000; ++i) {
    const float w = std::ldexp(rng.Uniform(1, 2), static_cast<int>(rng.Uniform(-60, 60)));
    Matrix4 m = mathtest::Identity();
    m.m[3][3] = w;
    const Vec3 one(1, 1, 1);
    Vec3 r1, r2;
    sse::Vec3TransformPoint(&r1, &one, &m);  // 1 times the refined 1/w
    sse2::Vec3TransformPoint(&r2, &one, &m);
    ASSERT_LE(std::fabs(r1.x * static_cast<double>(w) - 1), bound) << w;
    ASSERT_LE(std::fabs(r2.x * static_cast<double>(w) - 1), bound) << w;
    const Vec4 v(w, 0, 0, 0);
    Vec4 n;
    sse::Vec4Normalize(&n, &v);  // w times the refined 1/sqrt(w^2)
    ASSERT_LE(std::fabs(n.x - 1.0), bound) << w;
  }
}

// Arrays above the block threshold go through blocks of four and finish one at
// a time; the Vec2 forms finish through the public entries, which a marker body
// counts.
int g_singleCalls = 0;
Vec4* CountingVec2Transform(Vec4* out, const Vec2* v, const Matrix4* m) {
  ++g_singleCalls;
  return gxl::math::portable::Vec2Transform(out, v, m);
}

TEST(MathVariant, ArrayBlockRule) {
  struct Row {
    decltype(&sse::Vec2TransformArray) body;
    std::uint32_t count;
    int singles;
  };
  const Row rows[] = {{&sse::Vec2TransformArray, 12, 12},  {&sse::Vec2TransformArray, 13, 1},
                      {&sse::Vec2TransformArray, 16, 0},   {&sse::Vec2TransformArray, 0, 0},
                      {&sse2::Vec2TransformArray, 10, 10}, {&sse2::Vec2TransformArray, 11, 3},
                      {&sse2::Vec2TransformArray, 12, 0},  {&sse2::Vec2TransformArray, 15, 3}};
  mathtest::Rng rng(6);
  const Matrix4 m = rng.M();
  InitMathDispatch(1);
  gxl::math::test::LiveDispatchTable().Vec2Transform = &CountingVec2Transform;
  for (const Row& r : rows) {
    std::vector<Vec2> in(r.count);
    std::vector<Vec4> out(r.count), want(r.count);
    for (std::uint32_t i = 0; i < r.count; ++i) {
      in[i] = rng.V2();
      gxl::math::portable::Vec2Transform(&want[i], &in[i], &m);
    }
    g_singleCalls = 0;
    EXPECT_EQ(r.body(out.data(), sizeof(Vec4), in.data(), sizeof(Vec2), &m, r.count), out.data());
    EXPECT_EQ(g_singleCalls, r.singles) << r.count;
    for (std::uint32_t i = 0; i < r.count; ++i) EXPECT_TRUE(RecordNear(out[i], want[i], 1e-5f));
  }
}

TEST(MathVariant, HalfToFloatBitEqualAcrossBodies) {
  std::vector<Float16> all(65536);
  for (std::uint32_t h = 0; h < 65536; ++h) all[h].bits = static_cast<std::uint16_t>(h);
  std::vector<float> want(65536), got(65536);
  gxl::math::portable::HalfToFloatArray(want.data(), all.data(), 65536);
  for (auto body : {&sse::HalfToFloatArray, &sse2::HalfToFloatArray}) {
    body(got.data(), all.data(), 65536);
    ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * 4), 0);
    // Every run length 0-17 at an odd start, into a guarded run, and in place.
    for (std::uint32_t n = 0; n <= 17; ++n) {
      const std::uint32_t start = 0x3BF5 + 977 * n;  // zeros, denormals and exponent 31 come by in turn
      struct Run {
        float f[17];
      };
      mathtest::Guarded<Run> out(8);
      EXPECT_EQ(body(out.ptr()->f, &all[start], n), out.ptr()->f);
      EXPECT_TRUE(out.Intact());
      EXPECT_EQ(std::memcmp(out.ptr()->f, &want[start], n * 4), 0) << n;
      std::vector<float> shared(n + 1);
      std::memcpy(shared.data(), &all[start], n * 2);
      body(shared.data(), reinterpret_cast<const Float16*>(shared.data()), n);
      EXPECT_EQ(std::memcmp(shared.data(), &want[start], n * 4), 0) << "in place " << n;
    }
  }
  // Eight values with one zero among them take the multiply rule for all eight.
  const Float16 mixed[8] = {{0x3C00}, {0x0000}, {0x7FFF}, {0x8001}, {0x7C00}, {0x0001}, {0xBC00}, {0x0400}};
  float a[8], b[8];
  sse2::HalfToFloatArray(a, mixed, 8);
  gxl::math::portable::HalfToFloatArray(b, mixed, 8);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

// Under SSE2 position 45 keeps the portable body and its zero rule.
TEST(MathVariant, Sse2KeepsThePortableQuaternionInverse) {
  MathDispatchPlan plan;
  plan.variant = kMathVariantSse2;
  gxl::math::test::ForceMathDispatch(plan);
  EXPECT_EQ(gxl::math::test::LiveDispatchTable().QuaternionInverse, MathDefaultTable().QuaternionInverse);
  const Quaternion zero(0, 0, 0, 0), two(0, 0, 0, 2);
  Quaternion out;
  EXPECT_TRUE(SameBits(*QuaternionInverse(&out, &zero), zero));
  EXPECT_TRUE(SameBits(*QuaternionInverse(&out, &two), Quaternion(-0.0f, -0.0f, -0.0f, 0.5f)));
  sse::QuaternionInverse(&out, &zero);  // the SSE body has no zero test
  EXPECT_TRUE(AllNaN(&out.x, 4));
}

TEST(MathVariant, UnplacedRoutines) {
  mathtest::Rng rng(8);
  for (int i = 0; i < 100; ++i) {
    const float angle = rng.Uniform(-10, 10);
    Matrix4 want, got;
    gxl::math::portable::MatrixRotationX(&want, angle);
    EXPECT_TRUE(RecordNear(*sse::MatrixRotationX(&got, angle), want, 2e-7f));
    EXPECT_TRUE(RecordNear(*sse2::MatrixRotationX(&got, angle), want, 2e-7f));
    gxl::math::portable::MatrixRotationY(&want, angle);
    EXPECT_TRUE(RecordNear(*sse::MatrixRotationY(&got, angle), want, 2e-7f));
    EXPECT_TRUE(RecordNear(*sse2::MatrixRotationY(&got, angle), want, 2e-7f));

    const ColorF c(rng.Uniform(0, 1), rng.Uniform(0, 1), rng.Uniform(0, 1), rng.Uniform(0, 1));
    const float s = rng.Uniform(-1, 2);
    ColorF cw, cg;
    ColorAdjustSaturation(&cw, &c, s);
    sse::ColorAdjustSaturation(&cg, &c, s);
    EXPECT_TRUE(RecordNear(cg, cw, 1e-6f));
    EXPECT_EQ(cg.a, c.a);

    const Vec2 v = rng.V2();
    Vec2 nw, ng;
    gxl::math::portable::Vec2Normalize(&nw, &v);
    EXPECT_TRUE(RecordNear(*sse::Vec2Normalize(&ng, &v), nw, 1e-6f));

    const Quaternion q = rng.Q() * rng.Uniform(0.5f, 2), q2 = rng.Q();
    Quaternion a, b;
    EXPECT_TRUE(SameBits(*sse2::QuaternionInverse(&a, &q), *sse::QuaternionInverse(&b, &q)));
    for (const Quaternion& other : {q2, -q2, rng.Q() * -1.0f}) {
      const float t = rng.Uniform(0, 1);
      gxl::math::portable::QuaternionSlerp(&a, &q2, &other, t);
      EXPECT_TRUE(RecordNear(*sse2::QuaternionSlerp(&b, &q2, &other, t), a, 2e-6f));
    }
  }
  const Vec2 tiny(1e-8f, 0);
  Vec2 out;
  EXPECT_TRUE(SameBits(*sse::Vec2Normalize(&out, &tiny), Vec2(0, 0)));  // 1e-16 is below 2^-46
}

// Vertices past the 68-float working buffer, or without a full position, are
// served by the portable body.
TEST(MathVariant, PatchVertexSizesOutsideTheBuffer) {
  mathtest::Rng rng(9);
  const Vec3 normals[3] = {Vec3(0, 0, 1), Vec3(0, 1, 0), Vec3(1, 0, 0)};
  const Vec2 uv[2] = {Vec2(0.2f, 0.3f), Vec2(0.5f, 0.1f)};
  for (std::uint32_t size : {1u, 2u, 3u, 68u, 69u, 80u}) {
    std::vector<float> v[3];
    for (auto& c : v) {
      c.resize(size);
      for (float& x : c) x = rng.Uniform(-1, 1);
    }
    std::vector<float> want(2 * size), got(2 * size);
    gxl::math::portable::EvaluateTrianglePatch(normals, uv, 2, want.data(), v[0].data(), v[1].data(), v[2].data(),
                                               size);
    sse::EvaluateTrianglePatch(normals, uv, 2, got.data(), v[0].data(), v[1].data(), v[2].data(), size);
    EXPECT_TRUE(mathtest::Near(got.data(), want.data(), 2 * size, 1e-6f)) << size;
  }
}

}  // namespace
