// Preshader extraction on programs built with the IR kit: what moves, what
// stays, the constants that join the two programs, and random programs whose
// main part plus preshader compute what the program computed whole.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "../fail_alloc.h"
#include "../log_text.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/targets/expression_target.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"
#include "tests/support/ir/random_program.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;
using irkit::Concat;
using irkit::IrBuilder;
using irkit::Values;

constexpr DWORD kVs20 = 0xFFFE0200;
constexpr std::uint32_t kPreshaderConstants = 0x80251;

class GxlPreshader : public ::testing::Test {
 protected:
  GxlPreshader() : scope(&pages) {}

  ShaderProgram& Make(std::uint32_t options = 0) {
    program = std::make_unique<ShaderProgram>();
    EXPECT_EQ(program->Init(nullptr, &log, kVs20, options), S_OK);
    return *program;
  }
  std::uint32_t Bank(StandardBank b) const { return program->StandardBankIndex(b); }
  std::uint32_t BankType(const ShaderProgram& p, std::uint32_t value) const {
    return p.Bank(p.Value(value)->bank)->type;
  }
  // The live instructions of a program by operation group.
  static std::vector<std::uint32_t> Groups(const ShaderProgram& p) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i)
      if (const IrInstruction* in = p.Instruction(i); in && in->word) out.push_back(in->Group());
    return out;
  }
  static long Count(const ShaderProgram& p, std::uint32_t group) {
    const std::vector<std::uint32_t> groups = Groups(p);
    return std::count(groups.begin(), groups.end(), group);
  }
  // The main program's values in the preshader's constant bank.
  std::vector<std::uint32_t> PreshaderConstants() const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < program->values.Count(); ++i)
      if (const IrValue* v = program->Value(i); v && BankType(*program, i) == kPreshaderConstants) out.push_back(i);
    return out;
  }
  // Runs the preshader, hands its results to the main program's constants,
  // then runs the main program: the output components of `built`.
  bool RunSplit(const irkit::RandomProgram& built, std::uint32_t index, std::vector<double>& out, std::string* error) {
    irkit::IrInterpreter pre(*program->preshader);
    built.LoadInputs(pre, index);
    if (!pre.Run()) return *error = "preshader: " + pre.Error(), false;
    irkit::IrInterpreter run(*program);
    built.LoadInputs(run, index);
    for (std::uint32_t c : PreshaderConstants()) {
      const IrValue* v = program->Value(c);
      if (v->preshaderOutput == kNoIndex) return *error = "a constant without its preshader output", false;
      run.SetRegister(v->bank, v->reg, v->component, pre.Value(v->preshaderOutput));
    }
    if (!run.Run()) return *error = "main: " + run.Error(), false;
    out.clear();
    for (const auto& s : built.Outputs()) out.push_back(run.Register(s.bank, s.reg, s.component));
    return true;
  }

  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  MessageLog log;
  std::unique_ptr<ShaderProgram> program;  // destroyed first: its nodes go back before the pools go
};

TEST_F(GxlPreshader, OptionsThatForbidAPreshader) {
  for (std::uint32_t options : {kOptionNoPreshader, kOptionNoOptimisation, 0u}) {
    SCOPED_TRACE(options);
    IrBuilder b(Make(options));
    const Values product = b.Mul(b.Constant(0, 4), b.Constant(1, 4));
    b.Output(0, b.Add(product, b.Input(0, 4)));
    ASSERT_EQ(program->Optimize(), S_OK) << shadertest::LogText(log);
    if (options) {
      EXPECT_EQ(program->preshader, nullptr);
      EXPECT_EQ(program->ExtractPreshader(), S_FALSE);
      EXPECT_TRUE(PreshaderConstants().empty());
      EXPECT_EQ(Count(*program, kOpMultiply), 1);
    } else {
      ASSERT_NE(program->preshader, nullptr);
      EXPECT_EQ(program->preshader->versionToken, 0x46580201u);
      EXPECT_TRUE(program->preshader->options & kOptionNoPreshader);
      EXPECT_EQ(Count(*program, kOpMultiply), 0);
      EXPECT_EQ(PreshaderConstants().size(), 4u);
    }
  }
}

TEST_F(GxlPreshader, EveryComputationVaryingLeavesAnEmptyPreshader) {
  IrBuilder b(Make());
  b.Output(0, b.Mul(b.Input(0, 4), b.Add(b.Input(1, 4), b.Constant(0, 4))));
  ASSERT_EQ(program->Optimize(), S_OK);
  ASSERT_NE(program->preshader, nullptr);
  EXPECT_TRUE(Groups(*program->preshader).empty());
  // Its compile makes no code, so no "PRES" block is written.
  auto* target = dynamic_cast<ExpressionTarget*>(program->preshader.get());
  ASSERT_NE(target, nullptr);
  gxl::ComRef<DataBuffer> code;
  EXPECT_EQ(target->Compile(code.Put()), S_FALSE);
  EXPECT_FALSE(code);
}

TEST_F(GxlPreshader, NegationStaysAndSharedProductsShareAConstant) {
  IrBuilder b(Make());
  const Values product = b.Mul(b.Constant(0, 1), b.Constant(1, 1));
  const Values negated = b.Unary(kOpNegate, product);
  b.Output(0, Concat(b.Add(negated, b.Input(0, 1)), b.Mul(product, b.Input(0, 1))));
  b.Output(1, b.Add(product, b.Input(1, 1)));
  ASSERT_EQ(program->Optimize(), S_OK) << shadertest::LogText(log);
  ASSERT_NE(program->preshader, nullptr);
  // The product alone moved; the negation reads its constant in the main program.
  const std::vector<std::uint32_t> pre = Groups(*program->preshader);
  EXPECT_EQ(std::count(pre.begin(), pre.end(), kOpMultiply), 1);
  EXPECT_EQ(std::count(pre.begin(), pre.end(), kOpNegate), 0);
  const std::vector<std::uint32_t> constants = PreshaderConstants();
  ASSERT_EQ(constants.size(), 1u) << "three readers of one product, one constant";
  bool negationReadsIt = false;
  for (std::uint32_t i = 0; i < program->instructions.Count(); ++i) {
    const IrInstruction* in = program->Instruction(i);
    if (in && in->IsNegate()) negationReadsIt = in->arguments[0] == constants[0];
  }
  EXPECT_TRUE(negationReadsIt);
}

TEST_F(GxlPreshader, UniformIndexComesFromAConstant) {
  IrBuilder b(Make());
  const std::uint32_t index = b.Mul(b.Constant(0, 1), b.Constant(1, 1))[0];
  const Values element = b.RelativeRegister(StandardBank::FloatConstants, 2, index, 1);
  b.Output(0, b.Add(element, b.Input(0, 1)));
  ASSERT_EQ(program->Optimize(), S_OK) << shadertest::LogText(log);
  ASSERT_NE(program->preshader, nullptr);
  std::uint32_t indexed = 0;
  for (std::uint32_t i = 0; i < program->values.Count(); ++i) {
    const IrValue* v = program->Value(i);
    if (v && v->relativeIndex != kNoIndex) {
      ++indexed;
      EXPECT_EQ(BankType(*program, v->relativeIndex), kPreshaderConstants);
    }
  }
  EXPECT_GT(indexed, 0u);
  const std::vector<std::uint32_t> pre = Groups(*program->preshader);
  EXPECT_EQ(std::count(pre.begin(), pre.end(), kOpMultiply), 1);
}

TEST_F(GxlPreshader, DroppedConstantsAreNoLongerWritten) {
  IrBuilder b(Make());
  const Values a = b.Mul(b.Constant(0, 1), b.Constant(1, 1));
  const Values c = b.Add(b.Constant(0, 1), b.Constant(1, 1));
  b.Output(0, Concat(b.Add(a, b.Input(0, 1)), b.Add(c, b.Input(0, 1))));
  ASSERT_EQ(program->Optimize(), S_OK) << shadertest::LogText(log);
  const std::vector<std::uint32_t> constants = PreshaderConstants();
  ASSERT_EQ(constants.size(), 2u);
  // The main program drops its reader of the second constant; the first goes to c7.x.
  for (std::uint32_t i = 0; i < program->instructions.Count(); ++i) {
    IrInstruction* in = program->Instruction(i);
    for (std::uint32_t k = 0; in && k < in->argumentCount; ++k)
      if (in->arguments[k] == constants[1]) in->arguments[k] = b.Literals({0.0})[0];
  }
  ASSERT_EQ(program->RemoveUnusedValues(), S_OK);
  for (std::uint32_t i = 0; i < program->values.Count(); ++i)
    if (IrValue* v = program->Value(i); v && BankType(*program, i) == kPreshaderConstants) v->reg = 7;
  ASSERT_EQ(program->MapPreshaderOutputs(), S_OK);
  const ShaderProgram& pre = *program->preshader;
  std::uint32_t written = 0;
  for (std::uint32_t i = 0; i < pre.instructions.Count(); ++i) {
    const IrInstruction* in = pre.Instruction(i);
    for (std::uint32_t r = 0; in && in->word && r < in->resultCount; ++r) {
      const IrValue* v = pre.Value(in->results[r]);
      if (pre.Bank(v->bank)->type & kBankOutput) {
        ++written;
        EXPECT_EQ(v->reg, 7u);
        EXPECT_NE(v->preshaderOutput, kNoIndex);
      }
    }
  }
  EXPECT_EQ(written, 1u);
}

TEST_F(GxlPreshader, FailingEachAllocationLeaksNothing) {
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    IrBuilder b(Make());
    const Values product = b.Mul(b.Constant(0, 2), b.Constant(1, 2));
    b.Output(0, b.Add(b.Unary(kOpNegate, product), b.Input(0, 2)));
    shadertest::FailNthAllocation(n);
    const HRESULT hr = program->Optimize();
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    if (!failed) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_NE(program->preshader, nullptr);
      break;
    }
    ASSERT_LT(n, 5000u);
  }
}

// Random programs with uniform subexpressions: the main program after
// extraction, fed by the preshader's results, computes what the whole
// program computed.
TEST_F(GxlPreshader, RandomProgramsSplitWithoutChange) {
  irkit::RandomShape shape;
  shape.inputs = 2;
  shape.constants = 4;
  shape.steps = 20;
  shape.relativePercent = 5;
  std::uint32_t withWork = 0;
  const std::uint32_t kSeeds = nura::test::LongOrShare(500, 200);
  for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
    SCOPED_TRACE(seed);
    MessageLog referenceLog;
    ShaderProgram reference;
    ASSERT_EQ(reference.Init(nullptr, &referenceLog, kVs20, kOptionNoPreshader), S_OK);
    const irkit::RandomProgram whole(reference, seed, shape);
    Make();
    const irkit::RandomProgram built(*program, seed, shape);
    ASSERT_EQ(program->Optimize(), S_OK) << shadertest::LogText(log);
    ASSERT_NE(program->preshader, nullptr);
    withWork += !Groups(*program->preshader).empty();
    for (std::uint32_t input = 0; input < 2; ++input) {
      std::vector<double> expected, got;
      std::string error;
      ASSERT_TRUE(whole.Evaluate(reference, input, expected, &error)) << error;
      ASSERT_TRUE(RunSplit(built, input, got, &error)) << error;
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t k = 0; k < got.size(); ++k)
        EXPECT_NEAR(got[k], expected[k], 1e-9 * std::max(1.0, std::fabs(expected[k]))) << "output " << k;
    }
  }
  EXPECT_GT(withWork, kSeeds / 2) << "most programs have uniform work to move";
}

}  // namespace
