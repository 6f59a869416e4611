// Literal packing: where literals are placed, which values operand groups
// read afterwards, and that every literal read still has its value.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "limits_fixture.h"

namespace {

using namespace gxl::shader;
using irkit::Values;

struct GxlLiterals : irtest::TargetFixture {
  // One instruction of `group` over `arguments` writing output register `reg`.
  std::uint32_t Direct(std::uint32_t group, const Values& arguments, std::uint32_t width, std::uint32_t reg) {
    const std::uint32_t index = program.AddInstruction(IrWord(group, width), kNoIndex, kNoIndex);
    IrInstruction& inst = *program.Instruction(index);
    std::copy(arguments.begin(), arguments.end(), inst.arguments);
    const Values out = b.Register(StandardBank::Outputs, reg, width);
    std::copy(out.begin(), out.end(), inst.results);
    return index;
  }
  const IrInstruction& At(std::uint32_t index) const { return *program.Instruction(index); }
  // The literal each argument reads, by position over the program.
  std::vector<double> LiteralsRead() const {
    std::vector<double> read;
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
      const IrInstruction& inst = *program.Instruction(i);
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
        const IrValue& v = *program.Value(inst.arguments[a]);
        if (program.Bank(v.bank)->type & kBankLiteral) read.push_back(v.rangeLow);
      }
    }
    return read;
  }
  void Pack() {
    const std::vector<double> before = LiteralsRead();
    ASSERT_EQ(program.PackLiterals(), S_OK);
    EXPECT_EQ(LiteralsRead(), before);
    const RegisterBank& l = *program.Bank(Bank(StandardBank::Literals));
    EXPECT_TRUE(l.type & kBankBound);
    EXPECT_EQ(program.registerTableFlag, 1u);
    // Every literal read has a place of its own value.
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
      const IrInstruction& inst = *program.Instruction(i);
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
        const IrValue& v = *program.Value(inst.arguments[a]);
        if (v.bank != Bank(StandardBank::Literals)) continue;
        EXPECT_LT(v.reg, l.registerCount);
        EXPECT_LT(v.component, 4u);
      }
    }
  }
  bool OneRegister(const IrInstruction& inst, std::uint32_t group) const {
    std::uint32_t* values;
    const std::uint32_t w = inst.ArgumentGroup(group, &values);
    std::set<std::uint32_t> registers;
    for (std::uint32_t k = 0; k < w; ++k) registers.insert(program.Value(values[k])->reg);
    return registers.size() == 1;
  }
  std::pair<std::uint32_t, std::uint32_t> Where(std::uint32_t value) const {
    return {program.Value(value)->reg, program.Value(value)->component};
  }
};

// Literals read together share a register; the same literal read elsewhere
// reads the same component.
TEST_F(GxlLiterals, ReadTogetherShareARowEqualOnesAComponent) {
  Start();
  const std::uint32_t together = Direct(kOpAdd, irkit::Concat(b.Input(0, 3), b.Literals({1.0, 0.0, 0.5})), 3, 0);
  const std::uint32_t alone = Direct(kOpMultiply, {b.Input(1, 1)[0], b.Literal(0.5)}, 1, 1);
  const std::uint32_t other = Direct(kOpAdd, {b.Input(1, 1)[0], b.Literal(0.5)}, 1, 2);
  const std::vector<double> before = Run({1, 2, 3, 0}, 3);
  Pack();
  EXPECT_TRUE(OneRegister(At(together), 1));
  EXPECT_EQ(Where(At(alone).arguments[1]), Where(At(together).arguments[5]));
  EXPECT_EQ(Where(At(other).arguments[1]), Where(At(together).arguments[5]));
  EXPECT_EQ(Run({1, 2, 3, 0}, 3), before);
  EXPECT_EQ(before, (std::vector<double>{2, 2, 3.5}));
}

// A literal placed below the position that reads it is still found: 1.0 at
// x, then (2.0, 1.0) read as .yx.
TEST_F(GxlLiterals, GroupFindsALiteralBelowItsPosition) {
  Start();
  Direct(kOpAdd, {b.Input(0, 1)[0], b.Literal(1.0)}, 1, 0);
  const std::uint32_t pair = Direct(kOpMultiply, irkit::Concat(b.Input(1, 2), b.Literals({2.0, 1.0})), 2, 1);
  Pack();
  const IrInstruction& inst = At(pair);
  EXPECT_TRUE(OneRegister(inst, 1));
  EXPECT_EQ(program.Value(inst.arguments[2])->rangeLow, 2.0);
  EXPECT_EQ(program.Value(inst.arguments[3])->rangeLow, 1.0);
  EXPECT_EQ(Where(inst.arguments[3]).second, 0u);
  EXPECT_EQ(Run({0, 0, 0, 0}, 2, 1, {3, 4, 0, 0}), (std::vector<double>{6, 4}));
}

// Three groups of four distinct literals in one instruction need three
// rows where two per instruction were foreseen.
TEST_F(GxlLiterals, TableGrowsForWideLiteralInstructions) {
  Start(0, 0, 0x200, kOptionNoOptimisation);
  const std::uint32_t select = Direct(kOpSelect, b.Literals({-1, 2, -3, 4, 10, 11, 12, 13, 20, 21, 22, 23}), 4, 0);
  Pack();
  std::set<std::uint32_t> rows;
  for (std::uint32_t g = 0; g < 3; ++g) {
    EXPECT_TRUE(OneRegister(At(select), g)) << g;
    rows.insert(program.Value(At(select).arguments[4 * g])->reg);
  }
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(Run({0, 0, 0, 0}, 4), (std::vector<double>{20, 11, 22, 13}));
}

// On targets with fixed operands a literal stands in the component that
// reads it; one freely placed literal goes to w with 0x4.
TEST_F(GxlLiterals, FixedOperandsKeepComponents) {
  Start(0x6);
  const std::uint32_t pair = Direct(kOpAdd, irkit::Concat(b.Input(0, 2), b.Literals({0.25, 0.75})), 2, 0);
  const std::uint32_t same = Direct(kOpAdd, irkit::Concat(b.Input(1, 2), b.Literals({0.5, 0.5})), 2, 1);
  Pack();
  EXPECT_EQ(Where(At(pair).arguments[2]).second, 0u);
  EXPECT_EQ(Where(At(pair).arguments[3]).second, 1u);
  EXPECT_EQ(Where(At(same).arguments[2]), Where(At(same).arguments[3]));
  EXPECT_EQ(Where(At(same).arguments[2]).second, 3u);
  EXPECT_EQ(Run({1, 1, 0, 0}, 2, 0), (std::vector<double>{1.25, 1.75}));
}

// A group that cannot share one register has each literal placed by itself.
TEST_F(GxlLiterals, UnplaceableGroupPlacesEachLiteral) {
  Start(0x6);
  const Values x = irkit::Concat(b.Input(0, 4), b.Input(1, 1));
  const std::uint32_t dot = b.Dot(b.Literals({1, 2, 3, 4, 5}), x);
  b.Output(0, {dot});
  const std::vector<double> before = Run({1, 1, 1, 1}, 1, 0, {1, 0, 0, 0});
  Pack();
  EXPECT_EQ(Run({1, 1, 1, 1}, 1, 0, {1, 0, 0, 0}), before);
  EXPECT_EQ(before, (std::vector<double>{15}));
}

// A bound table of literals read through an index joins "l" apart from the
// placed literals, and reads the same elements.
TEST_F(GxlLiterals, BoundTablesJoinShifted) {
  Start();
  const std::uint32_t table = program.AddRegisterBank("l", 0x751, 2, 4);
  for (std::uint32_t r = 0; r < 2; ++r)
    for (std::uint32_t c = 0; c < 4; ++c) program.AddValue(table, r, c, 100.0 * r + c);
  const std::uint32_t index = b.Binary(kOpLess, b.Input(0, 1), b.Literals({0}))[0];
  const std::uint32_t element = program.AddValue(table, 0, 2, 0.0);
  V(element).relativeIndex = index;
  Direct(kOpAdd, {element, b.Literal(0.5)}, 1, 0);
  const double negative = Run({-1, 0, 0, 0}, 1)[0], positive = Run({1, 0, 0, 0}, 1)[0];
  Pack();
  EXPECT_EQ(V(element).bank, Bank(StandardBank::Literals));
  EXPECT_TRUE(program.Bank(Bank(StandardBank::Literals))->type & kBankRelative);
  EXPECT_EQ(Run({-1, 0, 0, 0}, 1)[0], negative);
  EXPECT_EQ(Run({1, 0, 0, 0}, 1)[0], positive);
  EXPECT_EQ(negative, 102.5);
  EXPECT_EQ(positive, 2.5);
}

}  // namespace
