// The second phase as a whole: its nineteen steps in order with the target
// slots in their places, its edge cases, allocation failures at every
// point, and straight-line programs compiled to code that the platform's
// validator accepts and the token kit's interpreter runs to the values the
// IR interpreter gives.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "../fail_alloc.h"
#include "../log_text.h"
#include "phase2_fixture.h"
#include "target_fixture.h"

namespace {

using namespace gxl::shader;
using irkit::Values;
using irtest::AllocRun;
using irtest::PhaseLimits;

// What the spy saw: steps as numbers, slots by name.
std::vector<std::string>* g_seen = nullptr;
std::vector<HRESULT>* g_statuses = nullptr;

HRESULT Record(ShaderProgram& p, std::uint32_t step, HRESULT status) {
  g_seen->push_back(std::to_string(step));
  g_statuses->push_back(status);
  // The register-table flag is set by step 10 (literal packing, step 9, sets it too).
  if (step < 9 || step >= 10) {
    EXPECT_EQ(p.registerTableFlag, step >= 10 ? 1u : 0u) << "step " << step;
  }
  return S_OK;
}

class SpyTarget : public irtest::AllocTarget {
 public:
  using AllocTarget::AllocTarget;
  HRESULT SelectInstructions() override {
    g_seen->push_back("select");
    return AllocTarget::SelectInstructions();
  }
  HRESULT AllocateRegisters() override {
    g_seen->push_back("pair");
    return failPairing ? E_FAIL : AllocTarget::AllocateRegisters();
  }
  HRESULT FinishSelection() override {
    g_seen->push_back("finish");
    return AllocTarget::FinishSelection();
  }
  bool failPairing = false;
};

struct GxlPhase2 : ::testing::Test {
  GxlPhase2() : scope(&pages) {
    g_seen = &seen;
    g_statuses = &statuses;
  }
  ~GxlPhase2() override { g_seen = nullptr, g_statuses = nullptr; }

  std::string Seen() const {
    std::string text;
    for (const std::string& s : seen) text += (text.empty() ? "" : " ") + s;
    return text;
  }

  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  MessageLog log;
  std::vector<std::string> seen;
  std::vector<HRESULT> statuses;
};

constexpr const char* kAllSteps = "1 2 3 4 5 6 select 7 8 9 10 11 12 13 pair 14 finish 15 16 17 18 19";

TEST_F(GxlPhase2, StepsRunInOrderWithTheSlotsInTheirPlaces) {
  for (const bool empty : {false, true}) {
    seen.clear();
    SpyTarget target(PhaseLimits(16));
    ASSERT_EQ(target.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    if (!empty) irkit::RandomProgram generated(target, 5, irkit::RandomShape{});
    target.secondPhaseStepHook = Record;
    std::uint32_t result = 7;
    EXPECT_EQ(target.Compile(&result), S_OK);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(target.optimisedFlag, 1u);
    EXPECT_EQ(Seen(), kAllSteps) << empty;
  }
}

// A failing slot ends the phase with its status; later steps do not run.
TEST_F(GxlPhase2, FirstFailureEndsThePhase) {
  SpyTarget target(PhaseLimits(16));
  ASSERT_EQ(target.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
  irkit::RandomProgram generated(target, 5, irkit::RandomShape{});
  target.failPairing = true;
  target.secondPhaseStepHook = Record;
  std::uint32_t result;
  EXPECT_EQ(target.Compile(&result), E_FAIL);
  EXPECT_EQ(Seen(), "1 2 3 4 5 6 select 7 8 9 10 11 12 13 pair 14");
  EXPECT_EQ(statuses.back(), E_FAIL);
}

// The base program's slots 4, 5 and 6 report "nothing to do" and leave the
// program as it was.
TEST_F(GxlPhase2, BaseSlotsChangeNothing) {
  irtest::ProgramRun run(PhaseLimits(16));
  irkit::RandomProgram generated(run.program, 9, irkit::RandomShape{});
  static std::vector<std::vector<std::uint32_t>> before;
  static int checked;
  checked = 0;
  run.program.secondPhaseStepHook = [](ShaderProgram& p, std::uint32_t step, HRESULT status) -> HRESULT {
    if (step == 6 || step == 13) before = irtest::Listing(p);
    if (step == 7 || step == 14 || step == 15) {
      EXPECT_EQ(status, S_FALSE) << step;
      EXPECT_EQ(irtest::Listing(p), before) << step;
      ++checked;
    }
    return S_OK;
  };
  std::uint32_t result;
  EXPECT_EQ(run.program.Compile(&result), S_OK);
  EXPECT_EQ(checked, 3);
}

// Merging runs once when it finds nothing, twice when its first run merges
// (a run merges to a fixed point), and stops after 256 runs without a message
// when every run reports a change.
TEST_F(GxlPhase2, MergingRunsAtMost256Times) {
  struct Row {
    bool duplicate, alwaysChanged;
    std::uint32_t runs;
  };
  for (const Row& row : {Row{false, false, 1}, Row{true, false, 2}, Row{true, true, 256}}) {
    irtest::ProgramRun run(PhaseLimits(16));
    irkit::IrBuilder b(run.program);
    const Values v = b.Input(0);
    const Values x = b.Mul({v[0]}, {v[1]}), y = b.Mul({v[0]}, row.duplicate ? Values{v[1]} : Values{v[2]});
    b.Output(0, b.Add(x, y));
    if (row.alwaysChanged) run.program.secondPhaseMergeHook = [](ShaderProgram&, HRESULT) -> HRESULT { return S_OK; };
    static bool reachedStep5;
    reachedStep5 = false;
    run.program.secondPhaseStepHook = [](ShaderProgram&, std::uint32_t step, HRESULT status) -> HRESULT {
      reachedStep5 = reachedStep5 || step == 5;
      return status;
    };
    EXPECT_EQ(run.program.ScheduleAndAllocate(), S_OK);
    EXPECT_EQ(run.program.secondPhaseMergeRuns, row.runs);
    EXPECT_TRUE(reachedStep5);
    EXPECT_EQ(shadertest::LogText(run.log), "<null>");
  }
}

TEST_F(GxlPhase2, EveryFailedAllocationIsOutOfMemory) {
  irkit::RandomShape shape;
  shape.steps = 30;
  const ProfileLimits limits = PhaseLimits(12, 0, 0x8);
  std::uint64_t total;
  {
    AllocRun run(limits);
    irkit::RandomProgram generated(run.program, 11, shape);
    ASSERT_EQ(run.program.Optimize(), S_OK);
    shadertest::FailNthAllocation(~std::uint64_t{0});
    ASSERT_EQ(run.program.ScheduleAndAllocate(), S_OK);
    total = shadertest::AllocationsCounted();
    shadertest::FailNthAllocation(0);
  }
  ASSERT_GT(total, 50u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    AllocRun run(limits);
    irkit::RandomProgram generated(run.program, 11, shape);
    ASSERT_EQ(run.program.Optimize(), S_OK);
    shadertest::FailNthAllocation(n);
    const HRESULT hr = run.program.ScheduleAndAllocate();
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << n;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n << " of " << total;
  }
}

}  // namespace

namespace targettest {
namespace {

// The test target with the optimiser phases of a real compile.
class PhasedTarget : public TestTarget {
 public:
  using TestTarget::Compile;
  using TestTarget::TestTarget;
  HRESULT Compile(std::uint32_t* result) override { return ShaderProgram::Compile(result); }
};

class GxlPhase2Code : public TargetTest {};

// Straight-line vertex programs over v0, with and without optimisation:
// valid code computing what the IR interpreter computes.
TEST_F(GxlPhase2Code, CompiledCodeComputesWhatTheProgramDoes) {
  using Build = std::function<Values(irkit::IrBuilder&, const Values&)>;
  const Build programs[] = {
      [](irkit::IrBuilder& b, const Values& v) { return b.Add(b.Mul(v, v), v); },
      [](irkit::IrBuilder& b, const Values& v) {
        const Values s = b.Mul(v, b.Literals({0.5, 2, -1, 3}));
        const std::uint32_t d = b.Dot({v[0], v[1], v[2]}, {s[2], s[1], s[0]});
        return b.Add(b.Binary(kOpMax, s, Values(4, d)), b.Binary(kOpMin, v, s));
      },
      [](irkit::IrBuilder& b, const Values& v) {
        Values x = v;
        for (int k = 0; k < 12; ++k) x = b.Add(b.Mul(x, b.Literals({0.5, 0.25, 0.125, 1})), {x[3], x[0], x[1], x[2]});
        return b.Add(x, b.Unary(kOpReciprocal, b.Add(b.Mul(v, v), b.Literals({1, 1, 1, 1}))));
      },
  };
  const float input[4] = {0.5f, -1.25f, 2.0f, 3.0f};
  for (std::size_t row = 0; row < std::size(programs); ++row) {
    for (std::uint32_t options : {0u, kOptionNoOptimisation}) {
      target = std::make_unique<PhasedTarget>(kVs20);
      ASSERT_EQ(target->Init(nullptr, &log, kVs20, options), S_OK);
      irkit::IrBuilder b(*target);
      const Values v = target->Reg(StandardBank::Inputs, 0);
      target->SetSemantic(v, "POSITION");
      const Values out = target->Reg(StandardBank::Outputs, 0);
      target->SetSemantic(out, "POSITION");
      target->Put(kOpMove, 4, programs[row](b, v), out);
      irkit::IrInterpreter expected(*target);
      for (std::uint32_t c = 0; c < 4; ++c) expected.SetRegister(Bank(StandardBank::Inputs), 0, c, input[c]);
      ASSERT_TRUE(expected.Run()) << expected.Error();

      const Code code = MustCompile();
      ASSERT_FALSE(code.empty()) << row << " " << options << "\n" << shadertest::LogText(log);
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
      nura::shtok::Lane lane;
      lane.v[0] = nura::shtok::Float4(input[0], input[1], input[2], input[3]);
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
      for (std::uint32_t c = 0; c < 4; ++c) {
        const double want = expected.Register(Bank(StandardBank::Outputs), 0, c);
        EXPECT_NEAR(lane.oPos[c], want, 1e-4 * (1 + std::fabs(want))) << row << " " << options << " " << c << "\n"
                                                                      << Text(code);
      }
      target.reset();
    }
  }
}

}  // namespace
}  // namespace targettest
