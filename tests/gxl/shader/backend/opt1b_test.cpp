// The first optimiser phase's arithmetic, index and guard passes: each on
// random programs against the interpreter, the whole phase on programs with
// relative reads under several capability words, and the cases that decide
// their rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "../log_text.h"
#include "ir_validation.h"
#include "limits_fixture.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;
using irkit::Values;
using shadertest::LogText;

const std::uint32_t kPrograms = nura::test::LongOrShare(2000, 300);
constexpr std::uint32_t kVectors = 3;

irkit::RandomShape WithRelativeReads(std::uint32_t seed) {
  irkit::RandomShape shape;
  shape.steps = 10 + seed % 20;
  shape.relativePercent = 15;
  return shape;
}

// Capability words the phase reads, one per seed in turn.
ProfileLimits VariedLimits(std::uint32_t seed) {
  static constexpr std::uint32_t kCapabilities[] = {
      0, cap::kDot2, cap::kTruncatedIndex, cap::kUnitCoefficients, 0x6, cap::kOutputsByOrderedMove};
  ProfileLimits limits = irtest::BaseLimits();
  limits.capabilities = kCapabilities[seed % std::size(kCapabilities)];
  return limits;
}

struct PassCase {
  const char* name;
  HRESULT (*rewrite)(ShaderProgram&);
  bool relative;
};
void PrintTo(const PassCase& pass, std::ostream* out) { *out << pass.name; }

const PassCase kPasses[] = {
    {"SimplifyArithmetic", [](ShaderProgram& p) { return p.SimplifyArithmetic(); }, false},
    {"ResolveConstantIndexes", [](ShaderProgram& p) { return p.ResolveConstantIndexes(); }, true},
    // Conditions are known to be conditions once folding has learnt it.
    {"SimplifyPredicates",
     [](ShaderProgram& p) {
       const HRESULT hr = p.FoldConstants();
       return FAILED(hr) ? hr : p.SimplifyPredicates();
     },
     false},
    {"RecomputePredicates", [](ShaderProgram& p) { return p.RecomputePredicates(); }, false},
    {"PackVectors", [](ShaderProgram& p) { return p.PackVectors(); }, false},
    {"Optimize", [](ShaderProgram& p) { return p.Optimize(); }, true},
};

class GxlOpt1BValidation : public ::testing::TestWithParam<PassCase> {};

TEST_P(GxlOpt1BValidation, OutputsUnchangedOnRandomPrograms) {
  const PassCase& pass = GetParam();
  irtest::ValidationPlan plan;
  plan.programs = kPrograms;
  plan.vectors = kVectors;
  if (pass.relative) plan.shape = WithRelativeReads;
  plan.limits = VariedLimits;
  std::uint32_t changed = 0;
  irtest::ValidateRewrite(pass.name, pass.rewrite, plan, &changed);
  if (HasFatalFailure()) return;
  EXPECT_GT(changed, kPrograms / 20) << pass.name;  // each pass had work
}

INSTANTIATE_TEST_SUITE_P(Passes, GxlOpt1BValidation, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return std::string(info.param.name); });

// After the phase no pass of a round finds work, and running the phase again
// computes the same.
TEST(GxlOpt1BFixedPoint, NoRoundPassChangesTheOptimisedProgram) {
  using Pass = HRESULT (ShaderProgram::*)();
  const Pass round[] = {&ShaderProgram::FoldConstants,
                        &ShaderProgram::RemoveDeadCode,
                        &ShaderProgram::MergeDuplicateComponents,
                        &ShaderProgram::MergeEquivalentValues,
                        &ShaderProgram::SimplifyArithmetic,
                        &ShaderProgram::ResolveConstantIndexes,
                        &ShaderProgram::SimplifyPredicates,
                        &ShaderProgram::RecomputePredicates};
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    // Without a preshader: the work its extraction leaves behind is a further round's.
    irtest::ProgramRun run(VariedLimits(seed), kOptionNoPreshader), reference(VariedLimits(seed), kOptionNoPreshader);
    const irkit::RandomShape shape = WithRelativeReads(seed);
    const irkit::RandomProgram generated(run.program, seed, shape), original(reference.program, seed, shape);
    std::vector<std::vector<double>> want(kVectors);
    for (std::uint32_t v = 0; v < kVectors; ++v) ASSERT_TRUE(original.Evaluate(reference.program, v, want[v]));
    ASSERT_EQ(run.program.Optimize(), S_OK) << seed;
    for (std::size_t i = 0; i < std::size(round); ++i)
      ASSERT_EQ((run.program.*round[i])(), S_FALSE) << "seed " << seed << " pass " << i;
    ASSERT_EQ(run.program.MergeCommonInstructions(0), S_FALSE) << seed;
    ASSERT_EQ(run.program.Optimize(), S_OK) << seed;
    irtest::ExpectOutputs("second run, seed " + std::to_string(seed), generated, run.program, want);
    if (HasFatalFailure()) return;
  }
}

struct GxlOpt1B : irtest::TargetFixture {
  // A read of float constant `base` + index, component `component`, where
  // the constants have `count` registers.
  std::uint32_t Relative(std::uint32_t base, std::uint32_t component, std::uint32_t index) {
    const std::uint32_t v = program.AddValue(Bank(StandardBank::FloatConstants), base, component, 0.0);
    V(v).relativeIndex = index;
    return v;
  }
};

// Constant indexes round to nearest, or truncate under 0x1000000; outside the
// array is an error, decided before the index becomes a register number.
TEST_F(GxlOpt1B, ConstantIndexesRoundAndCheckBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::uint32_t capabilities;
    std::uint32_t base;
    double index;
    std::int32_t reg;  // -1: X4007
  } const cases[] = {
      {0, 0, 0.49, 0},         {0, 0, 0.51, 1},          {0, 1, 2.4, 3},          {0, 0, 4.0, -1},
      {0, 1, 2.6, -1},         {0, 0, -1.0, -1},         {0, 0, -0.7, -1},        {0, 0, -0.4, 0},
      {0, 0, nan, -1},         {0, 0, 1e300, -1},        {0x1000000, 0, -0.7, 0}, {0x1000000, 0, 0.99, 0},
      {0x1000000, 0, 3.99, 3}, {0x1000000, 0, -1.0, -1}, {0x1000000, 2, 1.5, 3},
  };
  for (const Case& c : cases) {
    irtest::ProgramRun run(irkit::RecordingTarget::Limits(c.capabilities));
    ShaderProgram& p = run.program;
    p.Bank(p.StandardBankIndex(StandardBank::FloatConstants))->registerCount = 4;
    irkit::IrBuilder build(p);
    const std::uint32_t read = p.AddValue(p.StandardBankIndex(StandardBank::FloatConstants), c.base, 2, 0.0);
    p.Value(read)->relativeIndex = build.Literal(c.index);
    build.Output(0, {read});
    const std::string what = "index " + std::to_string(c.index) + " caps " + std::to_string(c.capabilities);
    if (c.reg < 0) {
      EXPECT_EQ(p.ResolveConstantIndexes(), E_FAIL) << what;
      EXPECT_NE(LogText(run.log).find("error X4007: array index out of bounds"), std::string::npos) << what;
      continue;
    }
    EXPECT_EQ(p.ResolveConstantIndexes(), S_OK) << what;
    EXPECT_EQ(p.Value(read)->relativeIndex, kNoIndex) << what;
    EXPECT_EQ(p.Value(read)->reg, static_cast<std::uint32_t>(c.reg)) << what;
    irkit::IrInterpreter interpreter(p);
    interpreter.SetRegister(p.StandardBankIndex(StandardBank::FloatConstants), c.reg, 2, 7.0 + c.reg);
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    EXPECT_EQ(interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 0), 7.0 + c.reg) << what;
    EXPECT_EQ(run.log.ErrorCount(), 0u) << what;
  }
}

TEST_F(GxlOpt1B, ConstantIndexReadsTheElementAlreadyRead) {
  Start();
  const Values direct = b.Constant(2, 4);
  const std::uint32_t read = Relative(1, 3, b.Literal(1));
  const Values sum = b.Add({direct[3]}, {read});
  b.Output(0, sum);
  ASSERT_EQ(program.ResolveConstantIndexes(), S_OK);
  EXPECT_EQ(program.Instruction(0)->arguments[1], direct[3]);
  EXPECT_EQ(Run({0, 0, 0, 0}, 1), (std::vector<double>{46}));
}

// An index c + y with c a whole literal moves c into the register offset.
TEST_F(GxlOpt1B, LiteralPartOfAnIndexMovesIntoTheOffset) {
  Start();
  const Values test = b.Binary(kOpLess, b.Input(0, 1), b.Input(1, 1));
  V(test[0]).flags |= kValueComparison;
  const std::uint32_t index = b.Add(b.Literals({2}), test)[0];
  const std::uint32_t read = Relative(0, 1, index);
  b.Output(0, {read});
  const std::vector<double> below = Run({1, 0, 0, 0}, 1, 0, {2, 0, 0, 0}),
                            above = Run({3, 0, 0, 0}, 1, 0, {2, 0, 0, 0});
  ASSERT_EQ(program.ResolveConstantIndexes(), S_OK);
  EXPECT_EQ(V(read).reg, 2u);
  EXPECT_EQ(V(read).relativeIndex, test[0]);
  EXPECT_EQ(Run({1, 0, 0, 0}, 1, 0, {2, 0, 0, 0}), below);
  EXPECT_EQ(Run({3, 0, 0, 0}, 1, 0, {2, 0, 0, 0}), above);
  EXPECT_EQ(below, (std::vector<double>{31}));
  EXPECT_EQ(above, (std::vector<double>{21}));
}

// A condition read under a block it decides is a literal there.
TEST_F(GxlOpt1B, ConditionDecidedByItsBlockBecomesLiteral) {
  Start();
  const Values x = b.Input(0, 1);
  const std::uint32_t test = b.Binary(kOpLess, x, b.Literals({0.5}))[0];
  V(test).flags |= kValueComparison;
  std::uint32_t thenProduct = kNoIndex, elseProduct = kNoIndex;
  const Values merged = b.If(
      test, [&] { return Values{thenProduct = b.Mul({test}, b.Input(1, 1))[0]}; },
      [&] { return Values{elseProduct = b.Add({test}, b.Input(1, 1))[0]}; });
  b.Output(0, merged);
  const std::vector<double> low = Run({0.25, 0, 0, 0}, 1, 0, {3, 0, 0, 0}),
                            high = Run({2, 0, 0, 0}, 1, 0, {3, 0, 0, 0});
  ASSERT_EQ(program.SimplifyPredicates(), S_OK);
  const IrInstruction& product = *program.Instruction(V(thenProduct).definingPosition);
  const IrInstruction& sum = *program.Instruction(V(elseProduct).definingPosition);
  EXPECT_EQ(V(product.arguments[0]).rangeLow, 1.0);
  EXPECT_EQ(V(sum.arguments[0]).rangeLow, 0.0);
  EXPECT_EQ(Run({0.25, 0, 0, 0}, 1, 0, {3, 0, 0, 0}), low);
  EXPECT_EQ(Run({2, 0, 0, 0}, 1, 0, {3, 0, 0, 0}), high);
  EXPECT_EQ(program.SimplifyPredicates(), S_FALSE);
}

// A block whose condition is a literal is always or never entered: what the
// other side computes goes, and the merge is the side that runs.
TEST_F(GxlOpt1B, KnownConditionsDropTheSideNeverRun) {
  for (double condition : {0.0, 3.0}) {
    irtest::ProgramRun run;
    ShaderProgram& p = run.program;
    irkit::IrBuilder build(p);
    const Values x = build.Input(0, 2);
    const Values merged = build.If(
        build.Literal(condition), [&] { return build.Mul(x, x); }, [&] { return build.Add(x, x); });
    build.Output(0, merged);
    ASSERT_EQ(p.SimplifyPredicates(), S_OK);
    std::uint32_t products = 0, sums = 0, merges = 0;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction* inst = p.instructions[i];
      if (!inst || inst->word < 0x100000) continue;
      products += inst->Group() == kOpMultiply;
      sums += inst->Group() == kOpAdd;
      merges += inst->Group() == kOpIfMerge;
    }
    EXPECT_EQ(products, condition != 0 ? 1u : 0u);
    EXPECT_EQ(sums, condition != 0 ? 0u : 1u);
    EXPECT_EQ(merges, 0u);
    irkit::IrInterpreter interpreter(p);
    interpreter.SetRegister(StandardBank::Inputs, 0, {3, 5});
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    const double want = condition != 0 ? 25 : 10;
    EXPECT_EQ(interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 1), want);
  }
}

// Guards come from the readers, never from a block value computed later;
// work that reads nothing of a loop's iteration is guarded as the loop is.
TEST_F(GxlOpt1B, GuardsFollowReadersAndLeaveLoops) {
  Start();
  const Values x = b.Input(0, 1);
  const Values early = b.Mul(x, x);  // read only inside the block opened after it
  const Values unread = b.Add(x, b.Literals({1}));
  const std::uint32_t test = b.Binary(kOpLess, x, b.Literals({1}))[0];
  const Values merged = b.If(
      test, [&] { return b.Add(early, early); }, [&] { return x; });
  std::uint32_t invariant = kNoIndex;
  const Values after = b.Loop(2, merged, [&](const Values& entry) {
    invariant = b.Mul(x, b.Literals({3}))[0];
    return b.Add(entry, {invariant});
  });
  b.Output(0, after);
  const std::vector<double> small = Run({0.5, 0, 0, 0}, 1), large = Run({2, 0, 0, 0}, 1);
  ASSERT_EQ(program.RecomputePredicates(), S_OK);
  EXPECT_EQ(V(early[0]).predicate, kNoIndex);
  EXPECT_EQ(V(early[0]).predicateSense, 1u);
  EXPECT_EQ(V(unread[0]).predicate, kNoIndex);
  EXPECT_EQ(V(unread[0]).predicateSense, 0u);  // never needed
  EXPECT_EQ(V(invariant).predicate, kNoIndex);
  EXPECT_EQ(V(invariant).predicateSense, 1u);
  EXPECT_EQ(Run({0.5, 0, 0, 0}, 1), small);
  EXPECT_EQ(Run({2, 0, 0, 0}, 1), large);
  EXPECT_EQ(small, (std::vector<double>{0.25 + 0.25 + 1.5 + 1.5}));
  EXPECT_EQ(program.RecomputePredicates(), S_FALSE);
}

// Each rule of arithmetic simplification on the instruction that writes the
// output: its operation and literal afterwards, and the same results.
TEST_F(GxlOpt1B, ArithmeticRules) {
  struct Rule {
    const char* name;
    std::uint32_t capabilities;
    Values (*build)(irkit::IrBuilder&, const Values& x);
    std::uint32_t group;  // of the output's definer afterwards
    double literal;       // its literal operand afterwards; NaN: none expected
  };
  const double none = std::numeric_limits<double>::quiet_NaN();
  const Rule rules[] = {
      {"sum of a sum", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Add(b.Add(x, b.Literals({1})), b.Literals({2})); }, kOpAdd,
       3},
      {"product of a product", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Mul(b.Literals({3}), b.Mul(x, b.Literals({2}))); },
       kOpMultiply, 6},
      {"coefficients add", 0, [](irkit::IrBuilder& b, const Values& x) { return b.Add(b.Mul(x, b.Literals({2})), x); },
       kOpMultiply, 3},
      {"negations add", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Add(b.Unary(kOpNegate, x), b.Unary(kOpNegate, x)); },
       kOpMultiply, -2},
      {"negations add, unit coefficients only", cap::kUnitCoefficients,
       [](irkit::IrBuilder& b, const Values& x) { return b.Add(b.Unary(kOpNegate, x), b.Unary(kOpNegate, x)); }, kOpAdd,
       none},
      {"halves add", 0,
       [](irkit::IrBuilder& b, const Values& x) {
         return b.Add(b.Mul(x, b.Literals({0.5})), b.Mul(b.Literals({0.5}), x));
       },
       kOpMove, none},
      {"negated product", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Mul(b.Unary(kOpNegate, x), b.Literals({4})); }, kOpMultiply,
       -4},
      {"two upper bounds", 0,
       [](irkit::IrBuilder& b, const Values& x) {
         return b.Mul(b.Binary(kOpLess, x, b.Literals({3})), b.Binary(kOpLess, x, b.Literals({5})));
       },
       kOpLess, 3},
      {"two lower bounds", 0,
       [](irkit::IrBuilder& b, const Values& x) {
         return b.Mul(b.Binary(kOpLess, b.Literals({-1}), x), b.Binary(kOpLess, b.Literals({0.5}), x));
       },
       kOpLess, 0.5},
      {"fraction of a whole shift", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Unary(kOpFraction, b.Add(x, b.Literals({2}))); },
       kOpFraction, none},
      {"sign of a double", 0,
       [](irkit::IrBuilder& b, const Values& x) { return b.Select(b.Add(x, x), b.Literals({1}), b.Literals({-1})); },
       kOpSelect, none},
  };
  for (const Rule& rule : rules) {
    irtest::ProgramRun run(irkit::RecordingTarget::Limits(rule.capabilities));
    ShaderProgram& p = run.program;
    irkit::IrBuilder build(p);
    const Values out = rule.build(build, build.Input(0, 1));
    build.Output(0, out);
    auto evaluate = [&](double x) {
      irkit::IrInterpreter interpreter(p);
      interpreter.SetRegister(StandardBank::Inputs, 0, {x});
      EXPECT_TRUE(interpreter.Run()) << rule.name << ": " << interpreter.Error();
      return interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 0);
    };
    const double inputs[] = {-1.75, -0.25, 0.75, 4.5};
    double before[4];
    for (int i = 0; i < 4; ++i) before[i] = evaluate(inputs[i]);
    for (int round = 0; round < 4 && p.SimplifyArithmetic() == S_OK; ++round) {
    }
    // Values were renumbered: the output's move leads to the instruction.
    ASSERT_EQ(p.RebuildDefUse(), S_OK);
    const IrInstruction& move = *p.instructions[p.instructions.Count() - 1];
    ASSERT_EQ(move.Group(), kOpMove) << rule.name;
    const IrInstruction& last = *p.instructions[p.values[move.arguments[0]]->definingPosition];
    EXPECT_EQ(last.Group(), rule.group) << rule.name;
    if (!std::isnan(rule.literal)) {
      const IrValue& operand = *p.values[last.arguments[last.argumentCount - 1]];
      const IrValue& other = *p.values[last.arguments[0]];
      EXPECT_TRUE(operand.rangeLow == rule.literal || other.rangeLow == rule.literal) << rule.name;
    }
    if (rule.group == kOpFraction || rule.group == kOpSelect) {
      EXPECT_EQ(p.values[last.arguments[0]]->bank, p.StandardBankIndex(StandardBank::Inputs)) << rule.name;
    }
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(evaluate(inputs[i]), before[i], 1e-12) << rule.name << " x=" << inputs[i];
  }
}

// A product of less-than tests of one value against literals, each product
// the last times one more test (the passes of a kept loop): in the rounds'
// long tail one arithmetic pass reads the chain whole and leaves the
// tightest test, wherever in the chain it stands; earlier, one link a pass.
// Tests on both sides of the value, or of other values, stay a product.
TEST_F(GxlOpt1B, ChainsOfRangeTestsTightenWholeInTheLongTail) {
  struct Chain {
    const char* name;
    std::vector<double> bounds;  // in product order
    std::vector<bool> upper;     // x < bound, else bound < x
    double tightest;             // NaN: not one test
  };
  const double none = std::numeric_limits<double>::quiet_NaN();
  const Chain chains[] = {
      {"below, tightest inside", {5, 3, 4, 6}, {true, true, true, true}, 3},
      {"above, tightest inside", {1, 4, 2, 0, 3}, {false, false, false, false, false}, 4},
      {"below, tightest first", {-1, 0.5, 2, 7}, {true, true, true, true}, -1},
      {"both sides", {5, 1, 4}, {true, false, true}, none},
  };
  for (const Chain& chain : chains) {
    for (const std::uint32_t round : {0u, kLongOptimizerRounds}) {
      SCOPED_TRACE(std::string(chain.name) + " round " + std::to_string(round));
      irtest::ProgramRun run(irkit::RecordingTarget::Limits(0));
      ShaderProgram& p = run.program;
      irkit::IrBuilder build(p);
      const Values x = build.Input(0, 1);
      auto test = [&](std::size_t k) {
        const Values bound = build.Literals({chain.bounds[k]});
        return chain.upper[k] ? build.Binary(kOpLess, x, bound) : build.Binary(kOpLess, bound, x);
      };
      Values product = build.Mul(test(0), test(1));
      for (std::size_t k = 2; k < chain.bounds.size(); ++k) product = build.Mul(product, test(k));
      build.Output(0, product);
      auto evaluate = [&](double at) {
        irkit::IrInterpreter interpreter(p);
        interpreter.SetRegister(StandardBank::Inputs, 0, {at});
        EXPECT_TRUE(interpreter.Run()) << interpreter.Error();
        return interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 0);
      };
      const double inputs[] = {-1.75, -0.5, 0.25, 0.75, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 8};
      p.optimizerRound = round;
      ASSERT_TRUE(SUCCEEDED(p.SimplifyArithmetic()));
      ASSERT_EQ(p.RebuildDefUse(), S_OK);
      const IrInstruction& move = *p.instructions[p.instructions.Count() - 1];
      ASSERT_EQ(move.Group(), kOpMove);
      const IrInstruction& last = *p.instructions[p.values[move.arguments[0]]->definingPosition];
      const bool whole = round >= kLongOptimizerRounds && !std::isnan(chain.tightest);
      EXPECT_EQ(last.Group(), whole ? kOpLess : kOpMultiply);
      if (whole) {
        const bool upper = chain.upper[0];
        EXPECT_EQ(p.values[last.arguments[upper ? 1 : 0]]->rangeLow, chain.tightest);
        EXPECT_EQ(p.values[last.arguments[upper ? 0 : 1]]->bank, p.StandardBankIndex(StandardBank::Inputs));
      }
      for (const double at : inputs) {
        double want = 1;
        for (std::size_t k = 0; k < chain.bounds.size(); ++k)
          want *= chain.upper[k] ? at < chain.bounds[k] : chain.bounds[k] < at;
        EXPECT_EQ(evaluate(at), want) << "x=" << at;
      }
    }
  }
}

}  // namespace
