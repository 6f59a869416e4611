// The 3DNow! path: which bodies the dispatcher stores for the 3DNow!
// processors, the rules of the set that differ from the portable bodies, the
// refinement of every estimate, the array block rule, the half-float bodies
// and the faults the set mends.
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "gxl/math/portable.h"
#include "math_variants.h"
#include "platform/testing.h"

namespace {

using mathtest::Entry;
using mathtest::Rng;
using mathtest::SameBits;
namespace now3d = gxl::math::now3d;

const char kKey[] = "HKLM\\Software\\Platform\\Direct3D";

int CountBodies(const MathDispatchTable& t) {
  int n = 0;
  for (int k = 0; k < kMathDispatchPositions; ++k) n += Entry(t, k) != nullptr;
  return n;
}

void UseAll3DNowSets() { gxl::math::test::ForceMathDispatch({kMathVariant3DNow, true, true, true}); }

TEST(Math3DNow, SetsFillTheirPositions) {
  EXPECT_EQ(CountBodies(Math3DNowSet()), 59);
  EXPECT_EQ(CountBodies(Math3DNowExtSet()), 5);
  EXPECT_EQ(CountBodies(MathAmdSseSet()), 8);
  for (int k = 0; k < kMathDispatchPositions; ++k) {
    EXPECT_EQ(Entry(Math3DNowSet(), k) != nullptr, k != 12 && k < 60) << k;
    EXPECT_EQ(Entry(Math3DNowExtSet(), k) != nullptr, k == 16 || k == 19 || k == 25 || k == 39 || k == 40) << k;
    EXPECT_EQ(Entry(MathAmdSseSet(), k) != nullptr, (k >= 60 && k <= 66) || k == 69) << k;
  }
}

// The first call on each forced processor stores the sets its flags allow:
// the extended bodies over the base ones, the SSE array bodies beside them.
TEST(Math3DNow, ProcessorProfilesStoreThe3DNowSets) {
  struct Row {
    const char* profile;
    DWORD disablePsgp;
    std::uint32_t variant;
    bool ext, amdSse;
  };
  const Row rows[] = {{"k6-3dnow", 0, kMathVariant3DNow, false, false},
                      {"athlon", 0, kMathVariant3DNow, true, false},
                      {"athlon-xp", 0, kMathVariant3DNow, true, true},
                      {"athlon64", 0, kMathVariant3DNow, true, true},
                      {"athlon64", 2, kMathVariantSse2, false, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.profile << " DisablePSGP " << r.disablePsgp);
    ASSERT_TRUE(platform::test::ForceCpuProfile(r.profile));
    platform::test::RegistrySetDword(kKey, "DisablePSGP", r.disablePsgp);
    gxl::math::test::ResetDispatchState();
    Matrix4 m;
    MatrixScaling(&m, 1, 2, 3);
    EXPECT_EQ(CurrentMathVariant(), r.variant);
    for (int k = 0; k < kMathDispatchPositions; ++k) {
      const void* want = Entry(MathDefaultTable(), k);
      for (const MathDispatchTable* set : {&MathX87Set(), &Math3DNowSet(), &Math3DNowExtSet(), &MathAmdSseSet()}) {
        if (r.variant != kMathVariant3DNow && set != &MathX87Set()) continue;
        if ((set == &Math3DNowExtSet() && !r.ext) || (set == &MathAmdSseSet() && !r.amdSse)) continue;
        if (Entry(*set, k)) want = Entry(*set, k);
      }
      if (r.variant == kMathVariantSse2 && Entry(MathSse2Set(), k)) want = Entry(MathSse2Set(), k);
      EXPECT_EQ(Entry(gxl::math::test::LiveDispatchTable(), k), want) << k;
    }
  }
}

TEST(Math3DNow, RulesOfTheSet) {
  UseAll3DNowSets();
  const Quaternion tooLong(0.1f, 0.2f, 0.3f, 1.5f);
  float angle = 7;
  QuaternionToAxisAngle(&tooLong, nullptr, &angle);
  EXPECT_EQ(angle, 0.0f);  // |w| > 1 gives arc cosine 0

  // The major component of the matrix quaternion, ties going to x.
  struct Major {
    Matrix4 m;
    Quaternion want;
  };
  const float h = std::sqrt(0.5f);
  const Major majors[] = {{mathtest::Identity(), Quaternion(0, 0, 0, 1)},
                          {mathtest::Mat({-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), Quaternion(0, 0, 1, 0)},
                          {mathtest::Mat({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}), Quaternion(h, 0, 0, 0)}};
  for (const Major& c : majors) {
    Quaternion q;
    EXPECT_TRUE(mathtest::RecordNear(*QuaternionFromMatrix(&q, &c.m), c.want, 1e-6f));
  }

  // A dot product of exactly 0 counts as negative: the second weight flips.
  const Quaternion x(1, 0, 0, 0), y(0, 1, 0, 0);
  Quaternion s;
  EXPECT_TRUE(mathtest::RecordNear(*QuaternionSlerp(&s, &x, &y, 0.5f), Quaternion(h, -h, 0, 0), 1e-6f));

  // The viewport body without a viewport, and without matrices.
  const Vec3 v(0.25f, -0.5f, 0.5f);
  const Matrix4 proj = Rng(3).M();
  Vec3 a, b;
  Vec3ToViewport(&a, &v, nullptr, &proj, nullptr, nullptr);
  EXPECT_TRUE(SameBits(a, *Vec3TransformPoint(&b, &v, &proj)));
  const Viewport vp{0, 0, 640, 480, 0, 1};
  const Vec3 centre(0, 0, 0.5f), corner(-1, 1, 0);
  EXPECT_TRUE(mathtest::RecordNear(*Vec3ToViewport(&a, &centre, &vp, nullptr, nullptr, nullptr), Vec3(320, 240, 0.5f)));
  EXPECT_TRUE(mathtest::RecordNear(*Vec3ToViewport(&a, &corner, &vp, nullptr, nullptr, nullptr), Vec3(0, 0, 0)));
}

// Bodies for the extended instructions gather their operands differently but
// perform the same float operations: the same bits as the base bodies.
TEST(Math3DNow, ExtendedBodiesGiveTheSameBits) {
  const MathDispatchTable &base = Math3DNowSet(), &ext = Math3DNowExtSet();
  Rng rng(11);
  const Viewport vp{10, 20, 320, 240, 0.1f, 0.9f};
  for (int i = 0; i < 200; ++i) {
    const Matrix4 m = rng.M(), w = rng.Affine();
    Matrix4 ma, mb;
    float da = 0, db = 1;
    ASSERT_EQ(base.MatrixInverse(&ma, &da, &m) != nullptr, ext.MatrixInverse(&mb, &db, &m) != nullptr);
    EXPECT_TRUE(SameBits(ma, mb) && da == db);
    const Quaternion q = rng.Q(), r = rng.Q();
    EXPECT_TRUE(SameBits(*base.MatrixFromQuaternion(&ma, &q), *ext.MatrixFromQuaternion(&mb, &q)));
    Quaternion qa, qb;
    EXPECT_TRUE(SameBits(*base.QuaternionFromMatrix(&qa, &ma), *ext.QuaternionFromMatrix(&qb, &ma)));
    const Vec3 c = rng.V3(), sc = rng.V3(), t = rng.V3(), rc = rng.V3();
    EXPECT_TRUE(SameBits(*base.MatrixCompose(&ma, &c, &q, &sc, &rc, &r, &t),
                         *ext.MatrixCompose(&mb, &c, &q, &sc, &rc, &r, &t)));
    EXPECT_TRUE(SameBits(*base.MatrixCompose(&ma, &c, nullptr, &sc, nullptr, &r, nullptr),
                         *ext.MatrixCompose(&mb, &c, nullptr, &sc, nullptr, &r, nullptr)));
    const Vec3 p(rng.Uniform(10, 330), rng.Uniform(20, 260), rng.Uniform(0.1f, 0.9f));
    Vec3 pa, pb;
    EXPECT_TRUE(SameBits(*base.Vec3FromViewport(&pa, &p, &vp, &w, &m, nullptr),
                         *ext.Vec3FromViewport(&pb, &p, &vp, &w, &m, nullptr)));
  }
}

// With every estimate off by 2^-14 (which a result that skipped its
// refinement would show), each reciprocal and reciprocal square root of the
// emulated set stays within 2^-21 of the exact value.
TEST(Math3DNow, EveryEstimateIsRefined) {
  const MathDispatchTable& set = now3d::EmulatedSets().base;
  const MathDispatchTable& ext = now3d::EmulatedSets().extended;
  Rng rng(12);
  for (int direction : {1, -1}) {
    platform::test::Force3DNowWorstCaseEstimates(direction);
    for (int i = 0; i < 200; ++i) {
      const float s = std::ldexp(rng.Uniform(1, 2), static_cast<int>(rng.Uniform(-30, 30)));
      std::vector<double> got;
      Vec2 v2(0, s), o2;
      Vec3 v3(s, 0, 0), o3;
      Vec4 v4(0, 0, 0, s), o4;
      got.push_back(set.Vec2Normalize(&o2, &v2)->y);
      got.push_back(set.Vec3Normalize(&o3, &v3)->x);
      got.push_back(set.Vec4Normalize(&o4, &v4)->w);
      const Quaternion q(0, 0, 0, s);
      Quaternion oq;
      got.push_back(set.QuaternionNormalize(&oq, &q)->w);
      got.push_back(set.QuaternionInverse(&oq, &q)->w * s);
      const Plane pl(s, 0, 0, s);
      Plane op;
      got.push_back(set.PlaneNormalize(&op, &pl)->d);
      Matrix4 m = mathtest::Identity(), inv;
      m.m[3][3] = s;
      const Vec2 one2(1, 1);
      const Vec3 one3(1, 1, 1);
      got.push_back(set.Vec2TransformPoint(&o2, &one2, &m)->y * s);
      got.push_back(set.Vec3TransformPoint(&o3, &one3, &m)->z * s);
      MatrixScaling(&m, s, s, s);
      got.push_back(set.MatrixInverse(&inv, nullptr, &m)->m[1][1] * s);
      got.push_back(ext.MatrixInverse(&inv, nullptr, &m)->m[2][2] * s);
      const Quaternion w = *set.QuaternionFromMatrix(&oq, &m);  // w = sqrt(3s + 1) / 2
      got.push_back(w.w / (0.5 * std::sqrt(3.0 * s + 1)));
      const Plane wall(1, 0, 0, 0);
      const Vec3 p1(s, 0, 0), p2(0, 1, 0);  // meets the wall at y = 1
      got.push_back(set.PlaneIntersectLine(&o3, &wall, &p1, &p2)->y);
      const Viewport vp{0, 0, static_cast<std::uint32_t>(rng.Uniform(1, 1e6f)), 100, 0, 1};
      const Vec3 edge(static_cast<float>(vp.Width), 0, 0);
      got.push_back(set.Vec3FromViewport(&o3, &edge, &vp, nullptr, nullptr, nullptr)->x);
      for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_LE(std::fabs(got[k] - 1), 0x1p-21) << "check " << k << " s " << s << " direction " << direction;
    }
  }
}

// Short arrays go to the 3DNow! single-element bodies; longer ones through
// blocks of four whose last block stores only what is not yet written, so in
// place they give the same bits as into a separate array.
TEST(Math3DNow, AmdSseArrays) {
  const MathDispatchTable& amd = MathAmdSseSet();
  Rng rng(13);
  Matrix4 m = rng.M();
  m.m[0][3] = 0.1f;
  std::vector<Vec3> in(9), out(9);
  for (Vec3& v : in) v = rng.V3();
  amd.Vec3TransformPointArray(out.data(), sizeof(Vec3), in.data(), sizeof(Vec3), &m, 3);
  for (int i = 0; i < 3; ++i) {
    Vec3 single;
    EXPECT_TRUE(SameBits(out[i], *Math3DNowSet().Vec3TransformPoint(&single, &in[i], &m)));
  }
  for (std::uint32_t n = 4; n <= 9; ++n) {
    std::vector<Vec3> shared = in;
    amd.Vec3TransformPointArray(out.data(), sizeof(Vec3), in.data(), sizeof(Vec3), &m, n);
    amd.Vec3TransformPointArray(shared.data(), sizeof(Vec3), shared.data(), sizeof(Vec3), &m, n);
    for (std::uint32_t i = 0; i < n; ++i) EXPECT_TRUE(SameBits(shared[i], out[i])) << n << " " << i;
    std::vector<Vec2> flat(n), flatShared(n);
    for (std::uint32_t i = 0; i < n; ++i) flat[i] = flatShared[i] = rng.V2();
    std::vector<Vec2> flatOut(n);
    amd.Vec2TransformPointArray(flatOut.data(), 8, flat.data(), 8, &m, n);
    amd.Vec2TransformPointArray(flatShared.data(), 8, flatShared.data(), 8, &m, n);
    EXPECT_EQ(std::memcmp(flatOut.data(), flatShared.data(), n * 8), 0) << n;
  }
  // Counts of 0, and counts read as negative, write nothing.
  for (std::uint32_t n : {0u, 0x80000000u}) {
    mathtest::Guarded<Vec4> g;
    EXPECT_EQ(amd.Vec2TransformArray(g.ptr(), 16, reinterpret_cast<const Vec2*>(in.data()), 8, &m, n), g.ptr());
    EXPECT_EQ(amd.Vec4TransformArray(g.ptr(), 16, g.ptr(), 16, &m, n), g.ptr());
    EXPECT_TRUE(g.Untouched() && g.Intact());
  }
}

// The half-float bodies: every half to its float, the documented edge values,
// every run length (the last block of four overlapping) and in-place use.
TEST(Math3DNow, HalfFloatBodies) {
  const MathDispatchTable& set = Math3DNowSet();
  std::vector<Float16> all(65536);
  for (std::uint32_t h = 0; h < 65536; ++h) all[h].bits = static_cast<std::uint16_t>(h);
  std::vector<float> want(65536), got(65536);
  gxl::math::portable::HalfToFloatArray(want.data(), all.data(), 65536);
  set.HalfToFloatArray(got.data(), all.data(), 65536);
  ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * 4), 0);
  // Every half value comes back from its float.
  std::vector<Float16> back(65536);
  set.FloatToHalfArray(back.data(), want.data(), 65536);
  ASSERT_EQ(std::memcmp(back.data(), all.data(), all.size() * 2), 0);

  const float edges[] = {70000.0f, 131040.0f, -0.0f, 1e9f, -INFINITY, 65504.0f, 0x1p-24f, 0x1p-26f};
  const std::uint16_t edgeHalves[] = {0x7C46, 0x7FFF, 0x8000, 0x7FFF, 0xFFFF, 0x7BFF, 0x0001, 0x0000};
  Float16 h[8];
  set.FloatToHalfArray(h, edges, 8);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(h[k].bits, edgeHalves[k]) << edges[k];

  for (std::uint32_t n = 0; n <= 17; ++n) {
    SCOPED_TRACE(n);
    const std::uint32_t start = 0x3BF5 + 977 * n;
    struct Run {
      float f[17];
    };
    mathtest::Guarded<Run> out(8);
    EXPECT_EQ(set.HalfToFloatArray(out.ptr()->f, &all[start], n), out.ptr()->f);
    EXPECT_TRUE(out.Intact());
    EXPECT_EQ(std::memcmp(out.ptr()->f, &want[start], n * 4), 0);
    std::vector<float> shared(n + 1);
    std::memcpy(shared.data(), &all[start], n * 2);
    set.HalfToFloatArray(shared.data(), reinterpret_cast<const Float16*>(shared.data()), n);
    EXPECT_EQ(std::memcmp(shared.data(), &want[start], n * 4), 0) << "in place";
    std::memcpy(shared.data(), &want[start], n * 4);
    set.FloatToHalfArray(reinterpret_cast<Float16*>(shared.data()), shared.data(), n);
    EXPECT_EQ(std::memcmp(shared.data(), &all[start], n * 2), 0) << "in place";
  }
}

// Float-to-half: the same halves as the portable body, except for magnitudes
// below 2^-14, where adding 2^-14 as floats rounds once before the half
// rounding does; such a double rounding moves the half by at most 1.
TEST(Math3DNow, FloatToHalfRoundingBelowTheNormalHalves) {
  Rng rng(14);
  std::vector<float> in(20000);
  for (std::size_t k = 0; k < in.size(); ++k)
    in[k] = std::ldexp(rng.Uniform(-2, 2), static_cast<int>(rng.Uniform(-30, 18)));
  std::vector<Float16> want(in.size()), got(in.size());
  gxl::math::portable::FloatToHalfArray(want.data(), in.data(), static_cast<std::uint32_t>(in.size()));
  Math3DNowSet().FloatToHalfArray(got.data(), in.data(), static_cast<std::uint32_t>(in.size()));
  for (std::size_t k = 0; k < in.size(); ++k) {
    if (std::fabs(in[k]) >= 0x1p-14f) {
      ASSERT_EQ(got[k].bits, want[k].bits) << in[k];
    } else {
      ASSERT_LE(std::abs(got[k].bits - want[k].bits), 1) << in[k];
    }
  }
}

// Mended: with f + g = 0 (and g not 0) the set used to extrapolate with
// g / 0; it copies q1 as the portable body does.
TEST(Math3DNow, BarycentricWithoutWeightCopiesQ1) {
  UseAll3DNowSets();
  Rng rng(15);
  const Quaternion q1 = rng.Q(), q2 = rng.Q(), q3 = rng.Q();
  Quaternion out;
  EXPECT_TRUE(SameBits(*QuaternionBarycentric(&out, &q1, &q2, &q3, 0.3f, -0.3f), q1));
  EXPECT_TRUE(mathtest::RecordNear(*QuaternionBarycentric(&out, &q1, &q2, &q3, 0.0f, 1e-3f), q1, 1e-2f));
}

// Mended: the exponential kept x, y, z whenever sin t was tiny, also at
// t = pi where sin t / t is tiny too; only a vanishing angle keeps them.
TEST(Math3DNow, ExponentialNearAHalfTurn) {
  UseAll3DNowSets();
  const Quaternion halfTurn(3.14159274f, 0, 0, 0), zero(0, 0, 0, 5), tiny(1e-9f, 0, 0, 0);
  Quaternion out;
  QuaternionExp(&out, &halfTurn);
  EXPECT_LT(std::fabs(out.x), 1e-6f);
  EXPECT_NEAR(out.w, -1.0f, 1e-6f);
  EXPECT_TRUE(SameBits(*QuaternionExp(&out, &zero), Quaternion(0, 0, 0, 1)));
  EXPECT_TRUE(SameBits(*QuaternionExp(&out, &tiny), Quaternion(1e-9f, 0, 0, 1)));
}

// Run under an emulated processor with 3DNow! (qemu, label qemu): the real
// instructions agree with their emulation up to the estimates' accuracy.
TEST(Hw3DNow, AgreesWithTheEmulation) {
  if (!gxl::math::test::Uses3DNowHardware()) GTEST_SKIP() << "this processor has no 3DNow!";
  const MathDispatchTable &hw = Math3DNowSet(), &emu = now3d::EmulatedSets().base;
  Rng rng(16);
  for (int i = 0; i < 200; ++i) {
    const Matrix4 m = rng.M();
    Matrix4 a, b;
    EXPECT_TRUE(mathtest::RecordNear(*hw.MatrixInverse(&a, nullptr, &m), *emu.MatrixInverse(&b, nullptr, &m), 1e-6f));
    const Quaternion q = rng.Q(), r = rng.Q();
    const float t = rng.Uniform(0, 1);
    Quaternion qa, qb;
    EXPECT_TRUE(mathtest::RecordNear(*hw.QuaternionSlerp(&qa, &q, &r, t), *emu.QuaternionSlerp(&qb, &q, &r, t), 1e-6f));
    EXPECT_TRUE(mathtest::RecordNear(*hw.QuaternionLn(&qa, &q), *emu.QuaternionLn(&qb, &q), 1e-6f));
    const Vec3 v = rng.V3(10);
    Vec3 va, vb;
    EXPECT_TRUE(mathtest::RecordNear(*hw.Vec3Normalize(&va, &v), *emu.Vec3Normalize(&vb, &v), 1e-6f));
  }
}

}  // namespace
