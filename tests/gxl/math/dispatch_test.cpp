// The dispatch table: the choice of bodies, the set-up stubs, the processor
// queries and the registry switches.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "gxl/math/math_testing.h"
#include "math_variants.h"
#include "platform/testing.h"
#include "platform/win_registry.h"

namespace {

using gxl::math::test::LiveDispatchTable;
using gxl::math::test::StubTable;

const char kKey[] = "HKLM\\Software\\Platform\\Direct3D";

int CountEqual(const MathDispatchTable& a, const MathDispatchTable& b) {
  int n = 0;
  for (int k = 0; k < kMathDispatchPositions; ++k) n += mathtest::Entry(a, k) == mathtest::Entry(b, k);
  return n;
}

MathDispatchInputs Inputs(std::optional<DWORD> psgp, std::optional<DWORD> gxlPsgp, bool amd3DNow, std::uint32_t sse,
                          bool hasSse, std::uint32_t amd) {
  MathDispatchInputs in;
  in.disablePsgp = psgp;
  in.disableGxlPsgp = gxlPsgp;
  in.has3DNow = amd3DNow;
  in.cpuidSseFlags = sse;
  in.hasSse = hasSse;
  in.amdFlags = amd;
  return in;
}

constexpr std::uint32_t kAthlon64 =
    kAmdAlways | kAmdStandardLeaves | kAmdExtendedLeaves | kAmdMmx | kAmdSse | kAmd3DNow | kAmd3DNowExt | kAmdMmxExt;

TEST(MathDispatch, TruthTableOfTheChoice) {
  struct Row {
    const char* what;
    MathDispatchInputs in;
    std::uint32_t variant;
    bool amd3DNow, amdExt, amdSse;
  };
  const std::uint32_t sse2 = kCpuidSse | kCpuidSse2;
  const Row rows[] = {
      {"no features", Inputs({}, {}, false, 0, false, kAmdAlways), kMathVariantPortable, false, false, false},
      {"SSE only", Inputs({}, {}, false, kCpuidSse, true, 0), kMathVariantSse, false, false, false},
      {"SSE2", Inputs({}, {}, false, sse2, true, 0), kMathVariantSse2, false, false, false},
      {"DisablePSGP 1 keeps the portable set", Inputs(1, {}, false, sse2, true, 0), kMathVariantPortable, false, false,
       false},
      {"DisableGXLPSGP 0 overrides DisablePSGP 1", Inputs(1, 0, false, sse2, true, 0), kMathVariantSse2, false, false,
       false},
      {"DisableGXLPSGP 1 alone", Inputs({}, 1, true, sse2, true, kAthlon64), kMathVariantPortable, false, false, false},
      {"3DNow! wins over SSE2", Inputs({}, {}, true, sse2, true, kAthlon64), kMathVariant3DNow, true, true, true},
      {"DisablePSGP 2 removes only the 3DNow! step", Inputs(2, {}, true, sse2, true, kAthlon64), kMathVariantSse2,
       false, false, false},
      {"DisablePSGP 2 on a 3DNow! part without SSE", Inputs(2, {}, true, 0, false, kAthlon64 & ~kAmdSse),
       kMathVariantPortable, false, false, false},
      {"other values act like 0", Inputs(3, {}, true, sse2, true, kAthlon64), kMathVariant3DNow, true, true, true},
      {"3DNow! feature without the set's own flags", Inputs({}, {}, true, 0, false, kAmdAlways), kMathVariant3DNow,
       false, false, false},
      {"extended bodies need both extension flags",
       Inputs({}, {}, true, 0, false, kAmdAlways | kAmdMmx | kAmd3DNow | kAmd3DNowExt), kMathVariant3DNow, true, false,
       false},
      {"extensions without the base set store nothing",
       Inputs({}, {}, true, 0, false, kAmd3DNow | kAmd3DNowExt | kAmdMmxExt), kMathVariant3DNow, false, false, false},
      {"AMD SSE array bodies without the 3DNow! set", Inputs({}, {}, true, kCpuidSse, true, kAmdSse | kAmd3DNow),
       kMathVariant3DNow, false, false, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const MathDispatchPlan plan = PlanMathDispatch(r.in);
    EXPECT_EQ(plan.variant, r.variant);
    EXPECT_EQ(plan.amd3DNow, r.amd3DNow);
    EXPECT_EQ(plan.amd3DNowExt, r.amdExt);
    EXPECT_EQ(plan.amdSse, r.amdSse);
  }
}

TEST(MathDispatch, ProcessorProfilesChooseTheirVariant) {
  struct Row {
    const char* profile;
    std::uint32_t variant;
    bool amdExt, amdSse;
  };
  const Row rows[] = {
      {"none", kMathVariantPortable, false, false},  {"mmx", kMathVariantPortable, false, false},
      {"sse", kMathVariantSse, false, false},        {"sse2", kMathVariantSse2, false, false},
      {"k6-3dnow", kMathVariant3DNow, false, false}, {"athlon", kMathVariant3DNow, true, false},
      {"athlon-xp", kMathVariant3DNow, true, true},  {"athlon64", kMathVariant3DNow, true, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.profile);
    ASSERT_TRUE(platform::test::ForceCpuProfile(r.profile));
    const MathDispatchPlan plan = PlanMathDispatch(GatherMathDispatchInputs());
    EXPECT_EQ(plan.variant, r.variant);
    EXPECT_EQ(plan.amd3DNow, r.variant == kMathVariant3DNow);
    EXPECT_EQ(plan.amd3DNowExt, r.amdExt);
    EXPECT_EQ(plan.amdSse, r.amdSse);
  }
}

TEST(MathDispatch, RegistrySwitchesAreReadAsDwordsOnly) {
  platform::test::ForceCpuProfile("sse2");
  platform::test::RegistrySetDword(kKey, "DisablePSGP", 1);
  EXPECT_EQ(PlanMathDispatch(GatherMathDispatchInputs()).variant, kMathVariantPortable);
  platform::test::RegistrySetDword(kKey, "DisableGXLPSGP", 0);
  EXPECT_EQ(PlanMathDispatch(GatherMathDispatchInputs()).variant, kMathVariantSse2);
  platform::test::RegistryRemove(kKey, "DisableGXLPSGP");
  platform::test::RegistrySetString(kKey, "DisablePSGP", "1");  // a string counts as absent
  EXPECT_EQ(PlanMathDispatch(GatherMathDispatchInputs()).variant, kMathVariantSse2);

  DWORD value = 7;
  EXPECT_EQ(ReadDirect3DRegistryValue(REG_DWORD, "DisablePSGP", &value, sizeof value), 0);
  EXPECT_EQ(ReadDirect3DRegistryValue(REG_DWORD, "Missing", &value, sizeof value), 0);
  platform::test::RegistrySetDword(kKey, "DisableMMX", 5);
  EXPECT_EQ(ReadDirect3DRegistryValue(REG_DWORD, "DisableMMX", &value, sizeof value), 1);
  EXPECT_EQ(value, 5u);
  platform::test::RegistryClear();
  EXPECT_EQ(ReadDirect3DRegistryValue(REG_DWORD, "DisableMMX", &value, sizeof value), 0);
}

TEST(MathDispatch, FirstCallOfAnyOperationChoosesEveryBody) {
  platform::test::ForceCpuProfile("sse2");
  EXPECT_EQ(CurrentMathVariant(), kMathVariantUnset);
  EXPECT_EQ(CountEqual(LiveDispatchTable(), StubTable()), kMathDispatchPositions);

  Matrix4 m;
  ASSERT_EQ(MatrixScaling(&m, 2.0f, 3.0f, 4.0f), &m);  // floats pass through the stub unchanged
  EXPECT_TRUE(mathtest::SameBits(m, mathtest::Mat({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1})));
  EXPECT_EQ(CurrentMathVariant(), kMathVariantSse2);
  EXPECT_EQ(CountEqual(LiveDispatchTable(), StubTable()), 0);

  MathDispatchTable expected;
  FillMathDispatch(&expected, PlanMathDispatch(GatherMathDispatchInputs()));
  EXPECT_EQ(CountEqual(LiveDispatchTable(), expected), kMathDispatchPositions);

  // The choice is made once: a changed switch no longer matters.
  platform::test::RegistrySetDword(kKey, "DisablePSGP", 1);
  EXPECT_EQ(InitMathDispatch(1), kMathVariantSse2);
}

TEST(MathDispatch, DisabledSwitchKeepsPortableBodies) {
  platform::test::ForceCpuProfile("athlon64");
  platform::test::RegistrySetDword(kKey, "DisablePSGP", 1);
  Vec3 v(3, 4, 0);
  Vec3Normalize(&v, &v);
  EXPECT_EQ(CurrentMathVariant(), kMathVariantPortable);
  MathDispatchTable expected;
  FillMathDispatch(&expected, MathDispatchPlan{});
  EXPECT_EQ(CountEqual(LiveDispatchTable(), expected), kMathDispatchPositions);
}

TEST(MathDispatch, ModeZeroRestoresThePortableBodies) {
  EXPECT_NE(InitMathDispatch(1), kMathVariantUnset);
  EXPECT_EQ(InitMathDispatch(0), kMathVariantUnset);
  EXPECT_EQ(CurrentMathVariant(), kMathVariantUnset);
  EXPECT_EQ(CountEqual(LiveDispatchTable(), MathDefaultTable()), kMathDispatchPositions);
  // Portable bodies, not stubs: calls no longer choose.
  Matrix4 m;
  MatrixRotationZ(&m, 0.5f);
  EXPECT_EQ(CurrentMathVariant(), kMathVariantUnset);
  EXPECT_NE(InitMathDispatch(1), kMathVariantUnset);
}

TEST(MathDispatch, RacingFirstCallsAllGetTheChosenBodies) {
  for (int round = 0; round < 20; ++round) {
    gxl::math::test::ResetDispatchState();
    std::atomic<int> ready{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < 6) {
        }
        Matrix4 m;
        MatrixTranslation(&m, 1.0f + t, 2.0f, 3.0f);
        Vec3 p(0, 0, 0), q;
        Vec3TransformPoint(&q, &p, &m);
        if (!mathtest::RecordNear(q, Vec3(1.0f + t, 2.0f, 3.0f), 1e-6f)) wrong.fetch_add(1);
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_NE(CurrentMathVariant(), kMathVariantUnset);
    EXPECT_EQ(CountEqual(LiveDispatchTable(), StubTable()), 0);
  }
}

TEST(MathDispatch, EveryEntryReachesItsOwnPosition) {
  // Swap in a marker body at one position and see the public entry take it.
  static int calls = 0;
  InitMathDispatch(1);
  LiveDispatchTable().MatrixDeterminant = [](const Matrix4*) -> float {
    ++calls;
    return 42.0f;
  };
  const Matrix4 m = mathtest::Identity();
  EXPECT_EQ(MatrixDeterminant(&m), 42.0f);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(offsetof(MathDispatchTable, MatrixDeterminant), 11 * sizeof(void*));
  EXPECT_EQ(offsetof(MathDispatchTable, PlaneTransform), 35 * sizeof(void*));
  EXPECT_EQ(offsetof(MathDispatchTable, MatrixComposeAffine2D), 73 * sizeof(void*));
}

TEST(MathDispatch, ProcessorQueriesFollowTheProfile) {
  struct Row {
    const char* profile;
    std::uint32_t sseFlags, amdFlags;
    int mmx;
  };
  const std::uint32_t base = kAmdAlways | kAmdStandardLeaves;
  const Row rows[] = {
      {"none", 0, kAmdAlways, 0},
      {"mmx", 0, base | kAmdMmx, 1},
      {"sse", kCpuidSse, base | kAmdMmx | kAmdSse, 1},
      {"sse2", kCpuidSse | kCpuidSse2, base | kAmdMmx | kAmdSse, 1},
      {"k6-3dnow", 0, base | kAmdExtendedLeaves | kAmdMmx | kAmd3DNow, 1},
      {"athlon", 0, base | kAmdExtendedLeaves | kAmdMmx | kAmd3DNow | kAmd3DNowExt | kAmdMmxExt, 1},
      {"athlon64", kCpuidSse | kCpuidSse2, kAthlon64, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.profile);
    ASSERT_TRUE(platform::test::ForceCpuProfile(r.profile));
    EXPECT_EQ(QueryCpuidSseFlags(), r.sseFlags);
    EXPECT_EQ(QueryAmdFeatureFlags(), r.amdFlags);
    EXPECT_EQ(CpuHasMmx(), r.mmx);
    EXPECT_EQ(ProbeCpuid(), std::strcmp(r.profile, "none") != 0);
    EXPECT_EQ(ProbeSse2(), (r.sseFlags & kCpuidSse2) != 0);
    EXPECT_EQ(ProbeSse(), (r.sseFlags & kCpuidSse) != 0);
    EXPECT_EQ(IsCpuFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0, (r.sseFlags & kCpuidSse2) != 0);
    EXPECT_EQ(IsCpuFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0, (r.sseFlags & kCpuidSse) != 0);
  }
}

TEST(MathDispatch, ProbeFillLeavesTheVariantAlone) {
  platform::test::ForceCpuProfile("sse2");
  MathDispatchTable t = MathDefaultTable();
  InitMathDispatchByProbe(&t);
  EXPECT_EQ(CurrentMathVariant(), kMathVariantUnset);
  MathDispatchTable expected = MathDefaultTable();
  FillDispatchSse2(&expected);
  EXPECT_EQ(CountEqual(t, expected), kMathDispatchPositions);
}

}  // namespace
