// Operation expansion and instruction combining on hand-built programs, per
// capability word: what the instructions become, and that they compute the
// same.
#include <gtest/gtest.h>

#include <vector>

#include "ir_validation.h"
#include "limits_fixture.h"

namespace {

using namespace gxl::shader;
using irkit::Values;

struct GxlExpandCombine : irtest::TargetFixture {
  // Packs, legalises and renames as the second phase does before expansion.
  void Prepare() {
    ASSERT_EQ(program.PackVectors(), S_OK);
    ASSERT_EQ(program.LegalizeOperands(), S_OK);
    ASSERT_TRUE(SUCCEEDED(program.RenameTemporaries(1)));
  }
  std::vector<const IrInstruction*> Live() const {
    std::vector<const IrInstruction*> found;
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i)
      if (const IrInstruction* inst = program.Instruction(i); inst && inst->word >= 0x100000) found.push_back(inst);
    return found;
  }
  std::uint32_t Words(std::uint32_t word) const {
    std::uint32_t n = 0;
    for (const IrInstruction* inst : Live()) n += inst->word == word;
    return n;
  }
};

TEST_F(GxlExpandCombine, TwoComponentDotProductExpandsWithoutTheOperation) {
  for (const std::uint32_t capabilities : {0u, cap::kDot2}) {
    irtest::ProgramRun run(irkit::RecordingTarget::Limits(capabilities));
    ShaderProgram& p = run.program;
    irkit::IrBuilder build(p);
    build.Output(0, {build.Dot(build.Input(0, 2), build.Input(1, 2))});
    ASSERT_EQ(p.PackVectors(), S_OK);
    ASSERT_EQ(p.LegalizeOperands(), S_OK);
    EXPECT_EQ(p.ExpandOperations(), capabilities ? S_FALSE : S_OK);
    std::uint32_t dots = 0, products = 0, sums = 0, at = 0, productAt = 0, sumAt = 0;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i, ++at) {
      const std::uint32_t word = p.instructions[i]->word;
      dots += word == IrWord(kOpDot, 2);
      if (word == IrWord(kOpMultiply, 2)) ++products, productAt = at;
      if (word == IrWord(kOpAdd, 1)) ++sums, sumAt = at;
    }
    EXPECT_EQ(dots, capabilities ? 1u : 0u);
    EXPECT_EQ(products, capabilities ? 0u : 1u);
    EXPECT_EQ(sums, capabilities ? 0u : 1u);
    if (!capabilities) {
      EXPECT_EQ(sumAt, productAt + 1);  // where the dot product stood, before the output
    }
    irkit::IrInterpreter interpreter(p);
    interpreter.SetRegister(StandardBank::Inputs, 0, {2, 3});
    interpreter.SetRegister(StandardBank::Inputs, 1, {5, 7});
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    EXPECT_EQ(interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 0), 31.0);
  }
}

// Targets that write outputs only by a move reading components in order
// (ps_2_x) get a temporary and a move; a move already in order stays.
TEST_F(GxlExpandCombine, OutputsWrittenThroughAnOrderedMove) {
  Start(cap::kOutputsByOrderedMove);
  const Values sum = b.Add(b.Input(0, 2), b.Input(1, 2));
  const Values out = b.Register(StandardBank::Outputs, 0, 2);
  const std::uint32_t add = program.AddInstruction(IrWord(kOpAdd, 2), kNoIndex, kNoIndex);
  const Values x = b.Input(0, 4);
  const Values operands{x[3], x[1], x[2], x[0]};
  std::copy(operands.begin(), operands.end(), program.Instruction(add)->arguments);
  std::copy(out.begin(), out.end(), program.Instruction(add)->results);
  b.Output(1, sum);
  ASSERT_EQ(program.PackVectors(), S_OK);
  ASSERT_EQ(program.LegalizeOperands(), S_OK);
  ASSERT_EQ(program.ExpandOperations(), S_OK);
  for (const IrInstruction* inst : Live()) {
    const IrValue& result = V(inst->results[0]);
    if (!(program.Bank(result.bank)->type & kBankOutput)) continue;
    EXPECT_EQ(inst->Group(), kOpMove);
    for (std::uint32_t k = 0; k < inst->argumentCount; ++k) EXPECT_EQ(V(inst->arguments[k]).component, k);
  }
  EXPECT_EQ(Run({1, 2, 3, 4}, 2, 0), (std::vector<double>{4 + 3, 2 + 1}));
  EXPECT_EQ(Run({1, 2, 3, 4}, 2, 1, {10, 20, 0, 0}), (std::vector<double>{11, 22}));
}

TEST_F(GxlExpandCombine, TextureCoordinatesAndDiscardsInComponentOrder) {
  Start(0, 8, 0);
  const Values x = b.Input(0, 4);
  const std::uint32_t sampler = b.Sampler(2);
  const Values texel = b.Sample(0x605, sampler, 2, {x[1], x[0]});
  b.Output(0, texel);
  const Values kept = b.Emit(kOpDiscard, {x[3], x[2], x[1], x[0]}, 4, kNoIndex, StandardBank::Clip);
  const Values narrow = b.Emit(kOpDiscard, {x[2], x[0]}, 2, kNoIndex, StandardBank::Clip);
  auto discarded = [&](std::initializer_list<double> xs) {
    irkit::IrInterpreter interpreter(program);
    interpreter.SetRegister(StandardBank::Inputs, 0, xs);
    EXPECT_TRUE(interpreter.Run()) << interpreter.Error();
    return interpreter.Discarded();
  };
  const std::vector<double> colour = Run({0.25, 0.5, 1, 1}, 4);
  ASSERT_EQ(program.PackVectors(), S_OK);
  ASSERT_EQ(program.LegalizeOperands(), S_OK);
  ASSERT_EQ(program.ExpandOperations(), S_OK);
  std::uint32_t samples = 0, discards = 0;
  for (const IrInstruction* inst : Live()) {
    if (inst->Class() == 6) {
      ++samples;
      for (std::uint32_t k = 0; k < 2; ++k) EXPECT_EQ(V(inst->arguments[2 + k]).component, k);
    }
    if (inst->Group() == kOpDiscard) {
      ++discards;
      ASSERT_EQ(inst->argumentCount, 4u);
      for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(V(inst->arguments[k]).component, k);
    }
  }
  EXPECT_EQ(samples, 1u);
  EXPECT_EQ(discards, 2u);
  (void)kept;
  (void)narrow;
  EXPECT_EQ(Run({0.25, 0.5, 1, 1}, 4), colour);
  EXPECT_FALSE(discarded({1, 1, 1, 1}));
  EXPECT_TRUE(discarded({1, 1, 1, -1}));  // the four-component test
  EXPECT_TRUE(discarded({-1, 1, 1, 1}));  // both
}

// With fixed operands a move gathering the results of two instructions
// becomes one move per instruction.
TEST_F(GxlExpandCombine, MovesSplitPerSourceWithFixedOperands) {
  Start(0x6);
  const Values a = b.Mul(b.Input(0, 1), b.Input(1, 1));
  const Values c = b.Add(b.Input(0, 1), b.Input(1, 1));
  IrInstruction& move = *program.Instruction(program.AddInstruction(IrWord(kOpMove, 2), kNoIndex, kNoIndex));
  const Values gathered = b.Register(StandardBank::Temporaries, 40, 2);
  move.arguments[0] = a[0];
  move.arguments[1] = c[0];
  std::copy(gathered.begin(), gathered.end(), move.results);
  b.Output(0, b.Mul(gathered, gathered));
  b.Output(1, {a[0], c[0]});  // read elsewhere too: the move stays a move
  ASSERT_EQ(program.RebuildDefUse(), S_OK);
  ASSERT_EQ(program.ExpandOperations(), S_OK);
  std::uint32_t moves = 0;
  for (const IrInstruction* inst : Live()) {
    if (inst->Group() != kOpMove || (program.Bank(V(inst->results[0]).bank)->type & kBankOutput)) continue;
    ++moves;
    EXPECT_EQ(inst->Width(), 1u);
  }
  EXPECT_EQ(moves, 2u);
  EXPECT_EQ(Run({2, 0, 0, 0}, 2, 0, {3, 0, 0, 0}), (std::vector<double>{36, 25}));
}

// A move that only copies one instruction's results, read by nothing else,
// goes: the instruction writes the move's destination.
TEST_F(GxlExpandCombine, CopiedResultsWrittenInPlace) {
  Start();
  const Values sum = b.Add(b.Input(0, 2), b.Input(1, 2));
  const Values copy = b.Move({sum[1], sum[0]});
  b.Output(0, b.Mul(copy, b.Input(0, 2)));
  Prepare();
  const std::vector<double> before = Run({1, 2, 0, 0}, 2, 0, {3, 4, 0, 0});
  ASSERT_EQ(program.ExpandOperations(), S_OK);
  EXPECT_EQ(Count(kOpMove), 1u);  // the output's only
  EXPECT_EQ(V(program.Instruction(V(copy[0]).definingPosition)->results[0]).reg, V(copy[0]).reg);
  ASSERT_EQ(program.RebuildDefUse(), S_OK);
  EXPECT_EQ(program.Instruction(V(copy[0]).definingPosition)->Group(), kOpAdd);
  EXPECT_EQ(Run({1, 2, 0, 0}, 2, 0, {3, 4, 0, 0}), before);
  EXPECT_EQ(before, (std::vector<double>{6, 8}));
}

// Sums of products read once become dot products: two products only where
// the target has a two-component dot product, a product and a
// two-component dot product on every target without fixed operands.
TEST_F(GxlExpandCombine, DotProductsFormedFromSumsOfProducts) {
  struct Case {
    std::uint32_t capabilities;
    bool wideSide;           // the second side a two-component dot product
    std::uint32_t dotWidth;  // 0: unchanged
  } const cases[] = {{cap::kDot2, false, 2}, {0, false, 0},  {0, true, 3},
                     {cap::kDot2, true, 3},  {0x2, true, 0}, {0x6, true, 0}};
  for (const Case& c : cases) {
    irtest::ProgramRun run(irkit::RecordingTarget::Limits(c.capabilities));
    ShaderProgram& p = run.program;
    irkit::IrBuilder build(p);
    const Values x = build.Input(0, 4), y = build.Input(1, 4);
    const Values product = build.Mul({x[0]}, {y[0]});
    const Values other = c.wideSide ? Values{build.Dot({x[1], x[2]}, {y[1], y[2]})} : build.Mul({x[1]}, {y[1]});
    build.Output(0, build.Add(product, other));
    ASSERT_EQ(p.PackVectors(), S_OK);
    ASSERT_EQ(p.LegalizeOperands(), S_OK);
    ASSERT_TRUE(SUCCEEDED(p.CombineInstructions()));
    std::uint32_t widest = 0, sums = 0;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction& inst = *p.instructions[i];
      if (inst.IsDot()) widest = std::max(widest, inst.Width());
      sums += inst.word == IrWord(kOpAdd, 1);
    }
    if (c.dotWidth) {
      EXPECT_EQ(widest, c.dotWidth) << c.capabilities;
      EXPECT_EQ(sums, 0u) << c.capabilities;
    } else {
      EXPECT_EQ(sums, 1u) << c.capabilities;
    }
    irkit::IrInterpreter interpreter(p);
    interpreter.SetRegister(StandardBank::Inputs, 0, {1, 2, 3, 4});
    interpreter.SetRegister(StandardBank::Inputs, 1, {5, 6, 7, 8});
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    EXPECT_EQ(interpreter.Register(p.StandardBankIndex(StandardBank::Outputs), 0, 0),
              c.wideSide ? 5 + 12 + 21 : 5 + 12);
  }
}

// Two like instructions that read one register each merge into one wider
// instruction; with fixed operands only moves merge.
TEST_F(GxlExpandCombine, LikeInstructionsMerge) {
  for (const std::uint32_t capabilities : {0u, 0x6u}) {
    irtest::ProgramRun run(irkit::RecordingTarget::Limits(capabilities));
    ShaderProgram& p = run.program;
    irkit::IrBuilder build(p);
    const Values x = build.Input(0, 4), c = build.Constant(0, 4);
    const Values low = build.Add({x[0], x[1]}, {c[0], c[1]});
    const Values high = build.Add({x[2], x[3]}, {c[2], c[3]});
    build.Output(0, build.Mul(low, build.Input(1, 2)));
    build.Output(1, build.Mul(high, build.Input(1, 2)));
    ASSERT_EQ(p.PackVectors(), S_OK);
    ASSERT_EQ(p.LegalizeOperands(), S_OK);
    ASSERT_TRUE(SUCCEEDED(p.RenameTemporaries(1)));
    ASSERT_TRUE(SUCCEEDED(p.CombineInstructions()));
    std::uint32_t sums = 0, width = 0;
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction& inst = *p.instructions[i];
      if (inst.Group() != kOpAdd) continue;
      ++sums;
      width = std::max(width, inst.Width());
    }
    EXPECT_EQ(sums, capabilities ? 2u : 1u);
    EXPECT_EQ(width, capabilities ? 2u : 4u);
    irkit::IrInterpreter interpreter(p);
    interpreter.SetRegister(StandardBank::Inputs, 0, {1, 2, 3, 4});
    interpreter.SetRegister(StandardBank::Inputs, 1, {2, 3});
    interpreter.SetRegister(StandardBank::FloatConstants, 0, {10, 20, 30, 40});
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    const std::uint32_t outputs = p.StandardBankIndex(StandardBank::Outputs);
    EXPECT_EQ(interpreter.Register(outputs, 0, 1), 22.0 * 3);
    EXPECT_EQ(interpreter.Register(outputs, 1, 0), 33.0 * 2);
  }
}

}  // namespace
