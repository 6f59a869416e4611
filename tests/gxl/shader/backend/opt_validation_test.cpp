// Translation validation of the first optimiser phase: each pass alone, and
// the whole phase, on 2,000 random programs; the interpreter's outputs on 50
// input vectors must not change. A second run of the phase changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ir_validation.h"

namespace {

using namespace gxl::shader;
using irtest::Close;
using irtest::ProgramRun;

using Rewrite = HRESULT (*)(ShaderProgram&);

struct PassCase {
  const char* name;
  Rewrite rewrite;
};
void PrintTo(const PassCase& pass, std::ostream* out) { *out << pass.name; }

const PassCase kPasses[] = {
    {"CheckUninitializedUse", [](ShaderProgram& p) { return p.CheckUninitializedUse(); }},
    {"RemoveDeadCode", [](ShaderProgram& p) { return p.RemoveDeadCode(); }},
    {"MergeDuplicateValues", [](ShaderProgram& p) { return p.MergeDuplicateValues(); }},
    {"CompactInstructions",
     [](ShaderProgram& p) {
       const HRESULT hr = p.RemoveDeadCode();
       return FAILED(hr) ? hr : p.CompactInstructions();
     }},
    {"RemoveUnusedValues", [](ShaderProgram& p) { return p.RemoveUnusedValues(); }},
    {"RouteOutputsThroughTemporaries", [](ShaderProgram& p) { return p.RouteOutputsThroughTemporaries(); }},
    {"FoldConstants", [](ShaderProgram& p) { return p.FoldConstants(); }},
    {"MergeDuplicateComponents", [](ShaderProgram& p) { return p.MergeDuplicateComponents(); }},
    {"MergeCommonInstructions", [](ShaderProgram& p) { return p.MergeCommonInstructions(0); }},
    {"MergeEquivalentValues", [](ShaderProgram& p) { return p.MergeEquivalentValues(); }},
    {"WriteOutputsDirectly",
     [](ShaderProgram& p) {
       const HRESULT hr = p.RouteOutputsThroughTemporaries();
       return FAILED(hr) ? hr : p.WriteOutputsDirectly();
     }},
    {"Optimize", [](ShaderProgram& p) { return p.Optimize(); }},
};

class GxlOpt1AValidation : public ::testing::TestWithParam<PassCase> {};

TEST_P(GxlOpt1AValidation, OutputsUnchangedOnRandomPrograms) {
  const PassCase& pass = GetParam();
  std::uint32_t changed = 0;
  irtest::ValidationPlan plan;
  irtest::ValidateRewrite(pass.name, pass.rewrite, plan, &changed);
  if (HasFatalFailure()) return;
  // A pass that never applies proves nothing: each must have had work.
  if (std::string(pass.name) != "CheckUninitializedUse") {
    EXPECT_GT(changed, plan.programs / 20) << pass.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Passes, GxlOpt1AValidation, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return std::string(info.param.name); });

// The program as the passes see it, with values numbered in order of first
// reference, so that two programs alike but for the indexes of their
// values compare equal. Registers and components of unbound banks are
// labels that vector packing hands out afresh, to the values that exist
// when it runs: they do not count.
class Snapshot {
 public:
  explicit Snapshot(const ShaderProgram& p) : m_p(p), m_ids(p.values.Count(), kNoIndex) {
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction& inst = *p.instructions[i];
      words.push_back(inst.word);
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) words.push_back(Id(inst.arguments[a]));
      for (std::uint32_t r = 0; r < inst.resultCount; ++r) words.push_back(Id(inst.results[r]));
    }
  }
  std::vector<std::uint64_t> words;

 private:
  std::uint64_t Id(std::uint32_t value) {
    const IrValue* v = m_p.values[value];
    if (!v) return kNoIndex;
    if (m_ids[value] == kNoIndex) {
      m_ids[value] = m_next++;
      const std::uint64_t predicate = Id(v->predicate), index = Id(v->relativeIndex);
      std::uint64_t literal;
      std::memcpy(&literal, &v->rangeLow, sizeof literal);
      const RegisterBank* bank = m_p.banks[v->bank];
      const bool label = bank && !(bank->type & kBankBound);
      words.insert(words.end(), {v->bank, label ? kNoIndex : v->reg, label ? kNoIndex : v->component, predicate,
                                 v->predicateSense, index, v->flags, literal});
    }
    return m_ids[value];
  }
  const ShaderProgram& m_p;
  std::vector<std::uint32_t> m_ids;
  std::uint32_t m_next = 0;
};

// The phase ends at a fixed point: no pass of a round finds work in what it
// left. A second run, whose outputs go through temporaries and back again,
// may group the output moves otherwise, but computes the same.
TEST(GxlOpt1AFixedPoint, SecondOptimizeChangesNothing) {
  using Pass = HRESULT (*)(ShaderProgram&);
  const Pass round[] = {
      [](ShaderProgram& p) { return p.FoldConstants(); },
      [](ShaderProgram& p) { return p.RemoveDeadCode(); },
      [](ShaderProgram& p) { return p.MergeDuplicateComponents(); },
      [](ShaderProgram& p) { return p.MergeCommonInstructions(0); },
      [](ShaderProgram& p) { return p.MergeEquivalentValues(); },
      [](ShaderProgram& p) { return p.MergeDuplicateValues(); },
      [](ShaderProgram& p) { return p.CompactInstructions(); },
      [](ShaderProgram& p) { return p.RemoveUnusedValues(); },
  };
  std::uint32_t identical = 0;
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    // Without a preshader: the work its extraction leaves behind is a further round's.
    ProgramRun run(irtest::BaseLimits(), kOptionNoPreshader), reference(irtest::BaseLimits(), kOptionNoPreshader);
    const irkit::RandomProgram generated(run.program, seed), original(reference.program, seed);
    ASSERT_EQ(run.program.Optimize(), S_OK) << seed;
    const std::vector<std::uint64_t> once = Snapshot(run.program).words;
    for (std::size_t i = 0; i < std::size(round); ++i) ASSERT_EQ(round[i](run.program), S_FALSE) << seed << " " << i;
    ASSERT_EQ(Snapshot(run.program).words, once) << "seed " << seed;

    ASSERT_EQ(run.program.Optimize(), S_OK) << seed;
    identical += Snapshot(run.program).words == once;
    for (std::uint32_t vector = 0; vector < 5; ++vector) {
      std::vector<double> want, got;
      ASSERT_TRUE(original.Evaluate(reference.program, vector, want));
      ASSERT_TRUE(generated.Evaluate(run.program, vector, got)) << seed;
      for (std::size_t i = 0; i < want.size(); ++i) ASSERT_TRUE(Close(want[i], got[i])) << seed;
    }
    EXPECT_EQ(run.log.ErrorCount(), 0u);
  }
  EXPECT_GT(identical, 250u);
}

}  // namespace
