// Instruction selection under test: programs built twice over the IR kit,
// one of them rewritten by a recogniser, both interpreted on the same
// inputs; and the selection walk of a target, in the order the shader model
// 3 driver runs the recognisers.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/backend/select/expression_pattern.h"
#include "gxl/shader/backend/select/selection.h"
#include "ir_validation.h"
#include "target_fixture.h"
#include "tests/support/ir/ir_interpreter.h"

namespace selecttest {

using namespace gxl::shader;
using irkit::Concat;
using irkit::IrBuilder;
using irkit::IrInterpreter;
using irkit::TestTarget;
using irkit::Values;
using Recognizer = std::function<HRESULT(ShaderTarget&)>;

// A value reading `v` negated: a copy with the negate bit, standing for v.
inline std::uint32_t Negated(ShaderProgram& p, std::uint32_t v) {
  const std::uint32_t copy = p.AddValueCopy(p.Value(v));
  p.Value(copy)->binding ^= 0x80000;
  p.Value(copy)->alias = v;
  return copy;
}
inline Values Negated(ShaderProgram& p, const Values& vs) {
  Values out;
  for (std::uint32_t v : vs) out.push_back(Negated(p, v));
  return out;
}

// The last live instruction of `group` (kNoIndex when none): the root of a
// tree built children first.
inline std::uint32_t Find(const ShaderProgram& p, std::uint32_t group) {
  for (std::uint32_t i = p.instructions.Count(); i-- > 0;)
    if (const IrInstruction* inst = p.instructions[i]; inst && inst->word >= 0x100000 && inst->Group() == group)
      return i;
  return kNoIndex;
}

// Runs `recognizer` on the last instruction of `group` after a fresh use analysis.
inline HRESULT RunAt(ShaderTarget& t, std::uint32_t group, const Recognizer& recognizer) {
  const std::uint32_t at = Find(t, group);
  if (at == kNoIndex) return E_INVALIDARG;
  EXPECT_EQ(t.ResetSelectionState(), S_OK);
  t.SetCurrentInstruction(at);
  return recognizer(t);
}

// The recognisers a selection walk runs, by trigger group, in its order;
// the use analysis is refreshed after every rewrite. The first failure.
HRESULT SelectionWalk(ShaderTarget& t);

class SelectTest : public targettest::TargetTest {
 public:
  // Inputs v0-v2 of four components each; `build` returns the values to compare.
  using Build = std::function<Values(IrBuilder&, const Values in[3])>;
  using Inputs = std::function<double(std::mt19937&)>;

  static double Signed(std::mt19937& rng) {
    const double x = std::uniform_real_distribution<double>(0.0625, 2.0)(rng);
    return rng() % 2 ? x : -x;
  }
  static double Positive(std::mt19937& rng) { return std::uniform_real_distribution<double>(0.0625, 2.0)(rng); }

 protected:
  // Builds the program twice; `select` rewrites the second (its status must
  // be `want`); both give the same values on `vectors` inputs. The rewritten
  // program through `rewritten` when asked.
  void ExpectSame(const std::string& what, TestTarget::Flavour flavour, const Build& build,
                  const std::function<HRESULT(TestTarget&)>& select, HRESULT want, const Inputs& inputs = Signed,
                  std::uint32_t vectors = 1000, const std::function<void(TestTarget&)>& check = {}) {
    TestTarget& a = Make(flavour);
    auto before = std::move(target);
    TestTarget& b = Make(flavour);
    Values observed[2];
    for (int k = 0; k < 2; ++k) {
      IrBuilder builder(k ? b : a);
      Values in[3];
      for (std::uint32_t r = 0; r < 3; ++r) in[r] = builder.Input(r);
      observed[k] = build(builder, in);
    }
    ASSERT_EQ(observed[0], observed[1]) << what;
    EXPECT_EQ(select(b), want) << what << "\n" << shadertest::LogText(log);
    if (check) check(b);
    std::mt19937 rng(7);
    bool computed = false;
    for (std::uint32_t n = 0; n < vectors; ++n) {
      IrInterpreter runA(a), runB(b);
      for (std::uint32_t r = 0; r < 3; ++r)
        for (std::uint32_t c = 0; c < 4; ++c) {
          const double x = inputs(rng);
          runA.SetRegister(a.StandardBankIndex(StandardBank::Inputs), r, c, x);
          runB.SetRegister(b.StandardBankIndex(StandardBank::Inputs), r, c, x);
        }
      ASSERT_TRUE(runA.Run()) << what << ": " << runA.Error();
      ASSERT_TRUE(runB.Run()) << what << " rewritten: " << runB.Error();
      for (std::uint32_t v : observed[0]) {
        computed |= !std::isnan(runA.Value(v));
        ASSERT_TRUE(irtest::Close(runA.Value(v), runB.Value(v)))
            << what << " input " << n << ": " << runA.Value(v) << " became " << runB.Value(v);
      }
    }
    EXPECT_TRUE(computed) << what << ": the program computes nothing";
    target = std::move(before);  // both go before the pools
  }

  // Random programs built twice, the flavour and shape by seed; `rewrite`
  // changes the second, which must compute what the first does on `vectors`
  // input vectors.
  void ValidateOnRandomPrograms(const std::string& name, std::uint32_t programs,
                                const std::function<TestTarget::Flavour(std::uint32_t)>& flavour,
                                const std::function<irkit::RandomShape(std::uint32_t)>& shape,
                                const std::function<void(TestTarget&, std::uint32_t seed)>& rewrite,
                                std::uint32_t vectors = 8) {
    for (std::uint32_t seed = 1; seed <= programs; ++seed) {
      TestTarget& reference = Make(flavour(seed));
      auto kept = std::move(target);
      TestTarget& subject = Make(flavour(seed));
      const irkit::RandomProgram generated(reference, seed, shape(seed)), again(subject, seed, shape(seed));
      std::vector<std::vector<double>> want(vectors);
      for (std::uint32_t v = 0; v < vectors; ++v) {
        std::string error;
        ASSERT_TRUE(generated.Evaluate(reference, v, want[v], &error)) << seed << ": " << error;
      }
      rewrite(subject, seed);
      irtest::ExpectOutputs(name + " seed " + std::to_string(seed), again, subject, want);
      target = std::move(kept);
      if (HasFatalFailure()) return;
    }
  }
};

}  // namespace selecttest
