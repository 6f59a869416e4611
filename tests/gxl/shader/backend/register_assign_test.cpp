// Register assignment: random programs through both phases on a target with
// slot 5, checked by an interference checker that recomputes live ranges
// from the final order, by the value interpreter and by the interpreter
// reading physical registers; and the cases that decide the rules.
#include <gtest/gtest.h>

#include <set>

#include "../log_text.h"
#include "../tree_kit.h"
#include "phase2_fixture.h"

namespace {

using namespace gxl::shader;
using irkit::IrInterpreter;
using irkit::Values;
using irtest::AllocRun;
using irtest::PhaseLimits;

struct Setting {
  std::uint32_t temporaries, capabilities, secondFlags, options, relativePercent;
};
// Tight limits, fixed components, parity bias, no-overlap everywhere, no
// optimisation, no rotation cost, co-issue pairing.
constexpr Setting kSettings[] = {
    {12, 0, 0, 0, 0},          {6, 0, 0, 0, 0},     {8, 0x2, 0, 0, 10},         {8, 0x6, 0x1, 0, 0},
    {6, 0x80000000u, 0x2, 0, 10}, {8, 0, 0, kOptionNoOptimisation, 0}, {5, 0x40000000, 0x1, 0, 0}, {8, 0, 0x8, 0, 0},
};

TEST(GxlRegAssign, RandomProgramsKeepTheirResultsInPhysicalRegisters) {
  constexpr std::uint32_t kPrograms = 2000, kVectors = 2;
  std::uint32_t tooComplex = 0;
  for (std::uint32_t seed = 1; seed <= kPrograms; ++seed) {
    const Setting& s = kSettings[seed % std::size(kSettings)];
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 16;
    shape.relativePercent = s.relativePercent;
    AllocRun run(PhaseLimits(s.temporaries, s.capabilities, s.secondFlags), s.options);
    const irkit::RandomProgram generated(run.program, seed, shape);
    ShaderProgram& p = run.program;
    ASSERT_EQ(p.Optimize(), S_OK) << seed;
    // The second phase is checked against the program it starts from.
    const auto want = irtest::Outputs(generated, p, kVectors);
    const HRESULT hr = p.ScheduleAndAllocate();
    if (hr == E_FAIL && run.log.ErrorCount() == 1 && shadertest::LogText(run.log).find("X4004") != std::string::npos) {
      ++tooComplex;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << seed << "\n" << shadertest::LogText(run.log);
    const std::string what = "seed " + std::to_string(seed);
    ASSERT_EQ(irtest::TopologicalFault(p), "") << what;
    // Pairing may draw an arm's instruction past the end of an if that has no
    // merge; nothing crosses into or out of a loop.
    ASSERT_EQ(irtest::RegionFault(p, true), "") << what;
    ASSERT_EQ(irtest::InterferenceFault(p, run.Bank(StandardBank::Temporaries), s.temporaries), "") << what;
    ASSERT_EQ(irtest::InterferenceFault(p, run.Bank(StandardBank::Predicates), 1), "") << what;
    ASSERT_TRUE(irtest::SameOutputs(want, irtest::Outputs(generated, p, kVectors))) << what;
    ASSERT_TRUE(irtest::SameOutputs(want, irtest::Outputs(generated, p, kVectors, IrInterpreter::Mode::kPhysicalRegisters)))
        << what;
  }
  // The tight settings reject a few programs; most fit.
  EXPECT_LT(tooComplex, kPrograms / 20);
}

}  // namespace
