// The helpers around emission: flags from types, move chains and literal
// binding, the loop-counter pattern and "def" pragmas.
#include "compiler_fixture.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace compilertest {
namespace {

class GxlIrEmitHelpers : public CompilerTest {
 protected:
  static TypeNode* Scalar(std::uint32_t base) { return new TypeNode(kShapeScalar, base, 1, 1, 0); }
  static ParseNode* Member(ParseNode* type) {
    auto* d = new ParseNodeKind11(0, 1, 1, 0, type, nullptr, nullptr, nullptr, nullptr);
    return new ListNode(new DeclarationNode(kDeclVariable, nullptr, d, nullptr), nullptr, "Decls");
  }
};

TEST_F(GxlIrEmitHelpers, TypeFlagsPerComponent) {
  constexpr std::uint32_t H = kValueHalf, F = kValueFloat, D = kValueDouble, I = kValueInteger;
  struct Row {
    ParseNode* type;
    std::uint32_t options;
    std::vector<std::uint32_t> flags;
  };
  ParseNode* structure = AppendToList(Member(Scalar(kBaseBool)), Member(new TypeNode(kShapeVector, kBaseInt, 1, 2, 0)));
  const Row rows[] = {
      {Scalar(kBaseBool), 0, {kValueComparison}},
      {Scalar(kBaseUint8), 0, {I | H}},
      {Scalar(kBaseInt16), 0, {I | F}},
      {Scalar(kBaseLiteralFloat), 0, {0}},
      {new TypeNode(kShapeVector, kBaseFloat, 1, 3, 0), 0, {F, F, F}},
      {new ArrayTypeNode(new TypeNode(kShapeVector, kBaseDouble, 1, 2, 0), 2), 0, {D, D, D, D}},
      {structure, 0, {kValueComparison, I | D, I | D}},
      {structure, kOptionPartialPrecision, {kValueComparison, I | H, I | H}},
      {new TypeNode(kShapeMatrix, kBaseFloat, 2, 2, 0), kOptionPartialPrecision, {H, H, H, H}},
      {new TypeNode(kShapeObject, 22, 1, 1, 0), 0, {0}},
  };
  for (const Row& row : rows) {
    compiler.options = row.options;
    std::vector<std::uint32_t> flags(8, 0xDEAD);
    std::uint32_t count = 0;
    ASSERT_EQ(compiler.TypeFlagsOf(row.type, flags.data(), 8, &count), S_OK);
    flags.resize(count);
    EXPECT_EQ(flags, row.flags) << "row " << (&row - rows);
  }
  // Applied to values, ORed in.
  compiler.options = 0;
  const std::uint32_t values[3] = {Input(0), Input(1), Input(2)};
  program->Value(values[0])->flags = kValueExact;
  ASSERT_EQ(compiler.ApplyTypeFlags(structure, values, 3), S_OK);
  EXPECT_EQ(program->Value(values[0])->flags, kValueExact | kValueComparison);
  EXPECT_EQ(program->Value(values[2])->flags, I | D);
  // A node that is no type.
  StatementNode bad;
  std::uint32_t count = 0;
  EXPECT_EQ(compiler.TypeFlagsOf(&bad, nullptr, 0, &count), E_FAIL);
  EXPECT_NE(Log().find("internal error: unknown node"), std::string::npos);
}

TEST_F(GxlIrEmitHelpers, MoveChainsResolveToTheirSource) {
  Start(0, 0, kOptionNoOptimisation);
  DeclarationNode declaration;
  const std::uint32_t x = Input(0);
  const std::uint32_t m1 = Emit1(kOpMove, x), m2 = Emit1(kOpMove, m1), sum = Emit2(kOpAdd, m2, x);
  program->Value(m2)->declaration = &declaration;
  program->Value(m2)->variableComponent = 3;
  std::uint32_t values[3] = {m2, sum, m1};
  ASSERT_EQ(compiler.ResolveMoveSources(nullptr, values, 3), S_OK);
  EXPECT_EQ(values[0], x);
  EXPECT_EQ(values[1], sum);  // no move
  EXPECT_EQ(values[2], x);
  EXPECT_EQ(program->Value(m1)->declaration, &declaration);  // passed along the chain
  EXPECT_EQ(program->Value(x)->declaration, &declaration);
  EXPECT_EQ(program->Value(x)->variableComponent, 3u);
}

TEST_F(GxlIrEmitHelpers, LiteralOperandsAreBoundInTheTypesLayout) {
  const double numbers[4] = {1.5, -2, 0.25, 8};
  std::uint32_t values[4];
  for (int i = 0; i < 4; ++i) values[i] = Emit1(kOpMove, Literal(numbers[i]));  // folded: moves of literals
  TypeNode matrix(kShapeMatrix, kBaseFloat, 2, 2, kTypeRowMajor);
  const std::uint32_t banks = program->banks.Count();
  ASSERT_EQ(compiler.ResolveMoveSources(&matrix, values, 4), S_OK);
  ASSERT_EQ(program->banks.Count(), banks + 1);
  const RegisterBank& table = *program->Bank(banks);
  EXPECT_STREQ(table.name, "l");
  EXPECT_EQ(table.registerCount, 2u);
  for (std::uint32_t i = 0; i < 4; ++i) {
    const IrValue& v = *program->Value(values[i]);
    EXPECT_EQ(v.bank, banks);
    EXPECT_EQ(v.reg, i / 2);
    EXPECT_EQ(v.component, i % 2);
    EXPECT_EQ(v.rangeLow, numbers[i]);
    EXPECT_TRUE(v.flags & kValueConstant);
  }
  // An operand with a value that is no literal stays as it is.
  std::uint32_t mixed[2] = {Literal(1), Input(0)};
  const std::uint32_t kept[2] = {mixed[0], mixed[1]};
  TypeNode vector(kShapeVector, kBaseFloat, 1, 2, 0);
  ASSERT_EQ(compiler.ResolveMoveSources(&vector, mixed, 2), S_OK);
  EXPECT_EQ(mixed[0], kept[0]);
  EXPECT_EQ(mixed[1], kept[1]);
}

TEST_F(GxlIrEmitHelpers, LoopCounterPatterns) {
  for (std::uint32_t caps : {0u, std::uint32_t{kCapCompareBySelect}}) {
    Start(caps);
    auto uniform = [&](std::uint32_t reg, std::uint32_t slot, bool integer) {
      const std::uint32_t v = program->AddValue(Bank(StandardBank::FloatConstants), reg, 0, 0.0);
      program->Value(v)->symbolSlot = slot;
      if (integer) program->Value(v)->flags |= kValueInteger;
      return v;
    };
    const std::uint32_t counter = uniform(0, 5, true), real = uniform(1, 6, false), input = Input(0);
    program->Value(input)->flags |= kValueInteger;
    const std::uint32_t test = Emit2(kOpLess, Literal(3), counter, kValueComparison);
    const std::uint32_t throughMoves = Emit1(kOpMove, Emit2(kOpMultiply, test, Literal(1)));
    struct Row {
      std::uint32_t condition, iterations;
      bool matches;
    };
    const Row rows[] = {
        {test, 3, true},
        {throughMoves, 3, true},
        {test, 4, false},
        {Emit2(kOpLess, counter, Literal(3), kValueComparison), 3, false},  // the count must come first
        {Emit2(kOpLess, Literal(3), real, kValueComparison), 3, false},     // not an integer
        {Emit2(kOpLess, Literal(3), input, kValueComparison), 3, false},    // not a uniform
        {Emit2(kOpMultiply, test, Literal(2)), 3, false},
    };
    for (const Row& row : rows) {
      std::uint32_t slot = kNoIndex, found = kNoIndex;
      EXPECT_EQ(compiler.MatchLoopCounter(row.condition, row.iterations, &slot, &found), row.matches)
          << "caps " << caps << " row " << (&row - rows);
      if (row.matches) {
        EXPECT_EQ(slot, 5u);
        EXPECT_EQ(found, counter);
      }
    }
    std::uint32_t other = real, slot = kNoIndex;
    EXPECT_FALSE(compiler.MatchLoopCounter(test, 3, &slot, &other));  // a different counter than before
  }
}

TEST_F(GxlIrEmitHelpers, DefPragmasBecomeLiteralBanksForTheirProfile) {
  const char* text =
      "#pragma def(ps_2_0, c1, 1, 2, 3, 4)\n#pragma def(ps, C1, 5, 6, 7, 8)\n#pragma def(ps, c2, 9, 10, 11, 12)\n"
      "#pragma def(vs, c3, 13, 14, 15, 16)\n#pragma def(no_such, c4, 0, 0, 0, 0)\nx\n";
  ASSERT_EQ(pp.StartFromMemory(text, 0xFFFFFFFF, nullptr, nullptr), S_OK);
  SourceToken t;
  do ASSERT_EQ(pp.NextToken(&t), S_OK);
  while (t.kind != kTokenEndOfInput);
  struct Row {
    std::uint32_t version;
    std::vector<std::pair<std::string, double>> banks;  // name and first number
  };
  const Row rows[] = {
      {0xFFFF0200, {{"c1", 1}, {"c2", 9}}},  // the exact profile wins; the bare type elsewhere
      {0xFFFF0300, {{"C1", 5}, {"c2", 9}}},
      {0xFFFE0200, {{"c3", 13}}},  // the pixel rows are ignored
  };
  for (const Row& row : rows) {
    Start(0, 0, 0, row.version);
    const std::uint32_t before = program->banks.Count();
    ASSERT_EQ(compiler.ApplyPragmaDefs(), S_OK);
    ASSERT_EQ(program->banks.Count() - before, row.banks.size()) << std::hex << row.version;
    for (std::uint32_t i = 0; i < row.banks.size(); ++i) {
      const RegisterBank& bank = *program->Bank(before + i);
      EXPECT_EQ(bank.name, row.banks[i].first);
      EXPECT_EQ(bank.type, 2897u);
      EXPECT_EQ(bank.registerCount, 1u);
      std::vector<double> numbers;
      for (std::uint32_t v = 0; v < program->values.Count(); ++v)
        if (program->Value(v)->bank == before + i) numbers.push_back(program->Value(v)->rangeLow);
      const double first = row.banks[i].second;
      EXPECT_EQ(numbers, (std::vector<double>{first, first + 1, first + 2, first + 3}));
    }
  }
}

}  // namespace
}  // namespace compilertest
