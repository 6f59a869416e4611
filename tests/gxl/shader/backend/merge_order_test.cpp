// MergeCommonInstructions merges what its reference rounds merge whatever
// the order of the instructions: copies of one computation, some with their
// commutative arguments exchanged, in program order and shuffled, so that a
// merge can make an earlier instruction equal to another (its reader keyed
// again), and a value merged into one that is itself merged later.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/backend/opt/opt_util.h"
#include "phase2_fixture.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::ShaderProgram;
using irkit::Values;

struct Step {
  std::uint32_t group;
  std::uint32_t a, b, c;  // indexes into the values so far (c: a select's third)
  bool swapped;           // in copies after the first, a and b exchanged
};

struct Built {
  std::vector<Values> outputs;  // per copy, the output it writes
};

// `copies` copies of the steps over two inputs and a literal, each read by an
// output of its own, then the instructions shuffled when `shuffle` is set.
Built Build(ShaderProgram& p, const std::vector<Step>& steps, std::uint32_t copies, bool shuffle,
            std::uint32_t seed) {
  irkit::IrBuilder build(p);
  const Values in0 = build.Input(0, 1), in1 = build.Input(1, 1);
  const std::uint32_t half = build.Literal(0.5);
  Built out;
  for (std::uint32_t copy = 0; copy < copies; ++copy) {
    std::vector<Values> v = {in0, in1, {half}};
    for (const Step& s : steps) {
      const bool swap = copy > 0 && s.swapped && s.group != gxl::shader::kOpSelect;
      const Values& a = v[swap ? s.b : s.a];
      const Values& b = v[swap ? s.a : s.b];
      v.push_back(s.group == gxl::shader::kOpSelect ? build.Select(a, b, v[s.c]) : build.Binary(s.group, a, b));
    }
    out.outputs.push_back(build.Output(copy, v.back()));
  }
  if (shuffle) {
    std::mt19937 rng(seed);
    for (std::uint32_t i = p.instructions.Count(); i > 1; --i)
      std::swap(p.instructions.Slot(i - 1), p.instructions.Slot(rng() % i));
  }
  return out;
}

// What an output's move reads.
std::uint32_t OutputSource(const ShaderProgram& p, std::uint32_t output) {
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const gxl::shader::IrInstruction* inst = p.Instruction(i);
    if (!gxl::shader::opt::IsEmpty(inst) && inst->resultCount == 1 && inst->results[0] == output)
      return inst->arguments[0];
  }
  return gxl::shader::kNoIndex;
}

TEST(GxlMergeOrder, ValueNumberingMergesAsTheReferenceRoundsInAnyOrder) {
  const std::uint32_t programs = nura::test::LongOrShare(3000, 300);
  const std::uint32_t groups[] = {gxl::shader::kOpAdd, gxl::shader::kOpMultiply, gxl::shader::kOpMin,
                                  gxl::shader::kOpMax, gxl::shader::kOpSelect};
  std::uint32_t merged = 0;
  for (std::uint32_t seed = 1; seed <= programs; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
    std::vector<Step> steps(2 + pick(14));
    for (std::size_t k = 0; k < steps.size(); ++k) {
      const std::uint32_t known = static_cast<std::uint32_t>(3 + k);
      // Mostly the value just made, so that the copies are chains.
      const std::uint32_t last = known - 1;
      // Braces take their elements in order.
      steps[k] = {groups[pick(std::size(groups))], pick(3) ? last : pick(known), pick(known), pick(known), pick(2) == 0};
    }
    const std::uint32_t copies = 2 + seed % 3;
    const bool shuffle = seed % 4 != 0;
    SCOPED_TRACE("seed " + std::to_string(seed));
    irtest::ProgramRun run, reference;
    reference.program.referenceSearches = true;
    const Built ours = Build(run.program, steps, copies, shuffle, seed);
    Build(reference.program, steps, copies, shuffle, seed);
    const HRESULT hr = run.program.MergeCommonInstructions(0);
    ASSERT_EQ(hr, reference.program.MergeCommonInstructions(0));
    ASSERT_TRUE(irtest::Listing(run.program) == irtest::Listing(reference.program));
    // Copies of one computation end as one value, whichever merged first.
    ASSERT_EQ(hr, S_OK);
    const std::uint32_t first = OutputSource(run.program, ours.outputs[0][0]);
    ASSERT_NE(first, gxl::shader::kNoIndex);
    for (std::uint32_t copy = 1; copy < copies; ++copy)
      EXPECT_EQ(OutputSource(run.program, ours.outputs[copy][0]), first) << "copy " << copy;
    ++merged;
  }
  EXPECT_EQ(merged, programs);
}

}  // namespace
