// The first optimiser phase on hand-built programs: its rounds and their
// limit, the skip option, the use-before-write check, what merges and what
// must stay apart, outputs written directly, and running out of memory at
// every allocation in turn.
#include <gtest/gtest.h>

#include <string>

#include "../fail_alloc.h"
#include "../log_text.h"
#include "gxl/shader/core/syntax_tree.h"
#include "ir_fixture.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/random_program.h"

namespace {

using namespace gxl::shader;
using irkit::IrBuilder;
using irkit::Values;
using shadertest::LogText;

struct GxlOpt1A : irtest::IrFixture {
  IrBuilder b{program};

  std::uint32_t Count(std::uint32_t group) const {
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i)
      if (const IrInstruction* inst = program.Instruction(i); inst && inst->Group() == group) ++n;
    return n;
  }
  // Output register 0 after running the program on input v0 = xs.
  std::vector<double> Output(std::initializer_list<double> xs, std::uint32_t width) {
    irkit::IrInterpreter run(program);
    run.SetRegister(StandardBank::Inputs, 0, xs);
    EXPECT_TRUE(run.Run()) << run.Error();
    std::vector<double> out;
    for (std::uint32_t c = 0; c < width; ++c) out.push_back(run.Register(Bank(StandardBank::Outputs), 0, c));
    return out;
  }
  // A variable declaration named `name`, drawn from a pool of the fixture.
  DeclarationNode* Variable(const char* name) {
    PagePool* previous = SetCurrentPool(&nodes);
    SourceToken token{};
    token.kind = kTokenIdentifier;
    token.value.text = name;
    token.file = "t.fx";
    token.line = 3;
    auto* d = new DeclarationNode(kDeclVariable, new TokenNode(token), nullptr, nullptr);
    SetCurrentPool(previous);
    return d;
  }

  PagePool nodes{0, 0x10000};
};

std::uint32_t g_rounds = 0;

TEST_F(GxlOpt1A, RoundsEndWhenNothingChanges) {
  // An add that writes the output itself: no move to fold, nothing to merge.
  const Values x = b.Input(0), y = b.Input(1), out = b.Register(StandardBank::Outputs, 0, 4);
  IrInstruction& add = *program.Instruction(program.AddInstruction(IrWord(kOpAdd, 4), kNoIndex, kNoIndex));
  std::copy(x.begin(), x.end(), add.arguments);
  std::copy(y.begin(), y.end(), add.arguments + 4);
  std::copy(out.begin(), out.end(), add.results);
  program.optimizerRoundHook = [](ShaderProgram&) -> HRESULT { return ++g_rounds, S_FALSE; };
  g_rounds = 0;
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(g_rounds, 1u);
  EXPECT_EQ(LogText(log), "<null>");
  EXPECT_EQ(program.optimisedFlag, 1u);
}

TEST_F(GxlOpt1A, RoundsThatNeverSettleWarnOnceAndGoOn) {
  b.Output(0, b.Mul(b.Input(0), b.Literals({1, 1, 1, 1})));
  program.optimizerRoundHook = [](ShaderProgram&) -> HRESULT { return ++g_rounds, S_OK; };
  g_rounds = 0;
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(g_rounds, 256u);
  EXPECT_EQ(LogText(log), "internal warning: optimization did not converge\n");
  EXPECT_EQ(log.ErrorCount(), 0u);
  EXPECT_EQ(program.optimisedFlag, 1u);
  EXPECT_EQ(Count(kOpMultiply), 0u);  // the rounds did their work all the same
  EXPECT_EQ(Output({1, 2, 3, 4}, 4), (std::vector<double>{1, 2, 3, 4}));
}

// Rounds that keep changing past their first 64 take at most half of the
// work the compile had left when they started, then end as the round limit
// ends them: the program compiles with the warning where it used to end at
// the work bound. Each budget holds some hundred to two hundred rounds,
// never 256.
struct GxlOpt1ABudget : GxlOpt1A, ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(GxlOpt1ABudget, RoundsThatNeverSettleStopAtHalfTheWorkLeft) {
  const std::uint64_t budget = GetParam();
  b.Output(0, b.Mul(b.Input(0), b.Literals({1, 1, 1, 1})));
  program.optimizerRoundHook = [](ShaderProgram&) -> HRESULT { return ++g_rounds, S_OK; };
  program.workLeft = budget;
  g_rounds = 0;
  ASSERT_EQ(program.Optimize(), S_OK) << LogText(log);
  EXPECT_GT(g_rounds, gxl::shader::kLongOptimizerRounds);
  EXPECT_LT(g_rounds, 256u);
  EXPECT_FALSE(program.workExhausted);
  EXPECT_GE(program.workLeft, budget / 4);  // the later phases keep their share
  EXPECT_EQ(LogText(log), "internal warning: optimization did not converge\n");
  EXPECT_EQ(Count(kOpMultiply), 0u);
  EXPECT_EQ(Output({1, 2, 3, 4}, 4), (std::vector<double>{1, 2, 3, 4}));
}

INSTANTIATE_TEST_SUITE_P(Budgets, GxlOpt1ABudget,
                         ::testing::Values(std::uint64_t{1} << 15, std::uint64_t{3} << 14, std::uint64_t{1} << 16));

// Rounds are never cut short before their long tail: a budget that does not
// hold 64 of them ends at the work bound as before.
TEST_F(GxlOpt1A, RoundsThatSpendTheWorkEarlyEndAtTheWorkBound) {
  b.Output(0, b.Mul(b.Input(0), b.Literals({1, 1, 1, 1})));
  program.optimizerRoundHook = [](ShaderProgram&) -> HRESULT { return ++g_rounds, S_OK; };
  program.workLeft = std::uint64_t{1} << 10;
  g_rounds = 0;
  EXPECT_EQ(program.Optimize(), E_FAIL);
  EXPECT_LT(g_rounds, gxl::shader::kLongOptimizerRounds);
  EXPECT_TRUE(program.workExhausted);
  EXPECT_EQ(LogText(log), "error X4004: program too complex; the compile exceeded its work bound\n");
}

// A round that folds a long program away (a chain settled one link a round,
// then whole) may spend past the rounds' share: the round after it costs a
// fraction of that one and is taken, and it sees the rounds settled.
TEST_F(GxlOpt1A, RoundAfterOneThatFoldedTheProgramAwayIsTaken) {
  b.Output(0, b.Mul(b.Input(0), b.Literals({1, 1, 1, 1})));
  static constexpr std::uint64_t kBudget = std::uint64_t{1} << 27;
  static constexpr std::uint32_t kFold = gxl::shader::kLongOptimizerRounds + 2;
  program.workLeft = program.workCap = kBudget;
  program.optimizerRoundHook = [](ShaderProgram& p) -> HRESULT {
    const std::uint32_t round = g_rounds++;
    if (round > kFold) return S_FALSE;
    // Values nothing reads (the passes remove them) stand for a long
    // program, past the size from which the later phases keep a share.
    while (p.values.Count() < (1u << 15))
      if (p.AddValue(p.StandardBankIndex(StandardBank::Temporaries), p.values.Count(), 0, 0.0) == kNoIndex)
        return E_OUTOFMEMORY;
    if (round < kFold) return FAILED(p.ChargeWork(kBudget / 1000)) ? E_FAIL : S_OK;
    // The fold: it costs all but what the later phases of the long program
    // would need, and leaves the program short.
    if (FAILED(p.ChargeWork(p.WorkRemaining() - p.LaterPhasesWork() / 2))) return E_FAIL;
    const HRESULT hr = p.RemoveUnusedValues();
    return FAILED(hr) ? hr : S_OK;
  };
  g_rounds = 0;
  ASSERT_EQ(program.Optimize(), S_OK) << LogText(log);
  EXPECT_EQ(g_rounds, kFold + 2);
  EXPECT_FALSE(program.workExhausted);
  EXPECT_EQ(LogText(log), "<null>");
  EXPECT_EQ(Output({1, 2, 3, 4}, 4), (std::vector<double>{1, 2, 3, 4}));
}

TEST_F(GxlOpt1A, SkipOptionRunsOnlyTheSetUp) {
  program.options = kOptionNoOptimisation;
  const Values x = b.Input(0, 2);
  b.Mul(x, x);  // dead
  const Values kept = b.Emit(kOpKeptMove, x, 2);
  b.Output(0, b.Mul(kept, b.Literals({1, 1})));
  program.optimizerRoundHook = [](ShaderProgram&) -> HRESULT { return ++g_rounds, S_FALSE; };
  g_rounds = 0;
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(g_rounds, 0u);
  EXPECT_EQ(Count(kOpKeptMove), 0u);
  EXPECT_EQ(Count(kOpMove), 2u);      // the kept move is plain now, and the output move stays
  EXPECT_EQ(Count(kOpMultiply), 1u);  // x * 1 is not folded, the dead product is gone
  EXPECT_EQ(program.optimisedFlag, 1u);
}

TEST_F(GxlOpt1A, VariableReadBeforeWrittenReportedOnce) {
  DeclarationNode* v = Variable("v");
  const Values t = b.Register(StandardBank::Temporaries, 0, 4);  // never written
  for (std::uint32_t c : t) program.Value(c)->declaration = v;
  b.Output(0, b.Add(t, b.Input(0)));
  EXPECT_EQ(program.Optimize(), E_FAIL);
  EXPECT_EQ(LogText(log), "t.fx(3): error X4000: variable 'v' used without having been completely initialized\n");
}

TEST_F(GxlOpt1A, UninitialisedUseCases) {
  // A temporary nobody reads or writes passes; an unwritten output and an
  // anonymous read do not.
  b.Register(StandardBank::Temporaries, 1, 1);
  b.Output(0, b.Input(0, 1));
  ASSERT_EQ(program.CheckUninitializedUse(), S_OK);
  const std::uint32_t unwritten = b.Register(StandardBank::Outputs, 1, 1)[0];
  program.Value(unwritten)->declaration = Variable("o");
  EXPECT_EQ(program.CheckUninitializedUse(), E_FAIL);
  const std::uint32_t anonymous = b.Register(StandardBank::Temporaries, 2, 1)[0];
  b.Output(2, {anonymous});
  EXPECT_EQ(program.CheckUninitializedUse(), E_FAIL);
  const std::string text = LogText(log);
  EXPECT_NE(text.find("X4000: variable 'o' used"), std::string::npos) << text;
  EXPECT_NE(text.find("argument used without having been initialized (A" + std::to_string(anonymous) + ", I1)"),
            std::string::npos)
      << text;
}

TEST_F(GxlOpt1A, ProductsMergeInEitherOrderDifferencesDoNot) {
  const Values a = b.Input(0, 1), c = b.Input(1, 1);
  const Values ab = b.Mul(a, c), ba = b.Mul(c, a);
  const Values aMinusC = b.Add(a, b.Unary(kOpNegate, c)), cMinusA = b.Add(c, b.Unary(kOpNegate, a));
  b.Output(0, Values{ab[0], ba[0], aMinusC[0], cMinusA[0]});
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(Count(kOpMultiply), 1u);
  EXPECT_EQ(Count(kOpNegate) + Count(kOpAdd), 4u);
  irkit::IrInterpreter run(program);
  run.SetRegister(StandardBank::Inputs, 0, {3});
  run.SetRegister(StandardBank::Inputs, 1, {5});
  ASSERT_TRUE(run.Run()) << run.Error();
  const std::uint32_t o = Bank(StandardBank::Outputs);
  EXPECT_EQ(run.Register(o, 0, 0), 15);
  EXPECT_EQ(run.Register(o, 0, 1), 15);
  EXPECT_EQ(run.Register(o, 0, 2), -2);
  EXPECT_EQ(run.Register(o, 0, 3), 2);
}

TEST_F(GxlOpt1A, WorkUnderDifferentGuardsStaysApart) {
  const Values x = b.Input(0, 1), y = b.Input(1, 1);
  const std::uint32_t test = b.Binary(kOpLess, x, y)[0];
  const Values merged = b.If(
      test, [&] { return b.Mul(x, y); }, [&] { return b.Mul(x, y); });
  const Values same1 = b.Mul(y, x), same2 = b.Mul(x, y);
  b.Output(0, irkit::Concat(merged, irkit::Concat(same1, same2)));
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(Count(kOpMultiply), 3u);  // one per branch, one for the two alike outside
  for (double xs : {2.0, 9.0}) {
    irkit::IrInterpreter run(program);
    run.SetRegister(StandardBank::Inputs, 0, {xs});
    run.SetRegister(StandardBank::Inputs, 1, {5});
    ASSERT_TRUE(run.Run()) << run.Error();
    for (std::uint32_t c = 0; c < 3; ++c) EXPECT_EQ(run.Register(Bank(StandardBank::Outputs), 0, c), xs * 5);
  }
}

TEST_F(GxlOpt1A, OutputThroughTemporaryWrittenDirectly) {
  const Values sum = b.Add(b.Input(0), b.Input(1));
  b.Output(0, b.Move(sum));
  ASSERT_EQ(program.Optimize(), S_OK);
  ASSERT_EQ(program.instructions.Count(), 1u);
  const IrInstruction& add = *program.Instruction(0);
  EXPECT_EQ(add.Group(), kOpAdd);
  for (std::uint32_t c = 0; c < 4; ++c) {
    const IrValue& r = *program.Value(add.results[c]);
    EXPECT_EQ(r.bank, Bank(StandardBank::Outputs));
    EXPECT_EQ(r.reg, 0u);
    EXPECT_EQ(r.component, c);
  }
}

TEST_F(GxlOpt1A, DeadInstructionBecomesNopNotWidthZero) {
  const Values x = b.Input(0, 3);
  b.Mul(x, x);
  b.Output(0, x);
  ASSERT_EQ(program.RemoveDeadCode(), S_OK);
  EXPECT_EQ(program.Instruction(0)->word, IrWord(kOpNop, 0));
  EXPECT_EQ(program.Instruction(0)->ArgumentGroupCount(), 0u);
  ASSERT_EQ(program.CompactInstructions(), S_OK);
  EXPECT_EQ(program.instructions.Count(), 1u);
}

// A folded negation leaves an alias of the constant, read negated: dead-code
// removal keeps the constant it stands for, and the alias stays named.
TEST_F(GxlOpt1A, AliasesKeepTheValueTheyStandFor) {
  const Values x = b.Input(0, 3);
  const Values c = b.Constant(0, 3);
  Values negated;
  for (std::uint32_t v : c) {
    const std::uint32_t copy = program.AddValueCopy(program.Value(v));
    ASSERT_NE(copy, kNoIndex);
    program.Value(copy)->alias = v;
    program.Value(copy)->binding |= 0x80000;  // negate
    negated.push_back(copy);
  }
  b.Output(0, b.Add(x, negated));
  for (const auto pass : {&ShaderProgram::RemoveDeadCode, &ShaderProgram::RemoveUnusedValues}) {
    ASSERT_TRUE(SUCCEEDED((program.*pass)()));
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
      const IrInstruction* inst = program.Instruction(i);
      for (std::uint32_t k = 0; inst && k < inst->argumentCount; ++k) {
        const IrValue* v = program.Value(inst->arguments[k]);
        ASSERT_NE(v, nullptr) << "instruction " << i << " argument " << k;
        EXPECT_NE(v->bank, Bank(StandardBank::Undefined)) << "instruction " << i << " argument " << k;
      }
    }
  }
  irkit::IrInterpreter run(program);
  run.SetRegister(StandardBank::Inputs, 0, {1, 2, 3});
  run.SetRegister(StandardBank::FloatConstants, 0, {0.5, 0.25, 1});
  ASSERT_TRUE(run.Run()) << run.Error();
  for (std::uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(run.Register(Bank(StandardBank::Outputs), 0, i), (std::vector<double>{0.5, 1.75, 2})[i]);
}

// A loop's carried component that only feeds another one stays, and the
// loop's entry and end keep one width.
TEST_F(GxlOpt1A, LoopCarriesWhatTheNextIterationNeeds) {
  const Values start = b.Input(0, 2);
  const Values after = b.Loop(3, start, [&](const Values& e) {
    const Values a = b.Add({e[0]}, b.Literals({1}));
    const Values s = b.Add({e[1]}, {e[0]});
    return Values{a[0], s[0]};
  });
  b.Output(0, {after[1]});
  ASSERT_EQ(program.Optimize(), S_OK);
  EXPECT_EQ(Output({1, 10}, 1), (std::vector<double>{10 + 1 + 2 + 3}));
}

TEST_F(GxlOpt1A, EveryFailedAllocationIsOutOfMemory) {
  irkit::RandomShape shape;
  shape.steps = 110;
  auto build = [&](ShaderProgram& p) {
    const irkit::RandomProgram generated(p, 7, shape);
    return generated.InstructionCount();
  };
  std::uint64_t total;
  {
    ShaderProgram p;
    ASSERT_EQ(p.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    EXPECT_GE(build(p), 200u);
    shadertest::FailNthAllocation(~std::uint64_t{0});
    ASSERT_EQ(p.Optimize(), S_OK);
    total = shadertest::AllocationsCounted();
    RecordProperty("allocations", std::to_string(total));
    shadertest::FailNthAllocation(0);
  }
  ASSERT_GT(total, 20u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    PagePool pages(0x100000, 0x10000);
    IrPoolScope scope(&pages);
    ShaderProgram p;
    ASSERT_EQ(p.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    build(p);
    shadertest::FailNthAllocation(n);
    const HRESULT hr = p.Optimize();
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << n;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n << " of " << total;
  }
}

}  // namespace
