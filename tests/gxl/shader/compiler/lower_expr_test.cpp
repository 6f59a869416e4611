// Expression lowering: every operator over scalars, vectors and matrices
// against the same expression in C++, on targets that compare and select in
// each of their ways; conversions, stores into the value map, member and
// swizzle picks, the conditional, literals, messages and deep trees.
#include <cmath>
#include <functional>
#include <random>

#include "lower_fixture.h"

namespace compilertest {
namespace {

class GxlLowerExpr : public LowerTest {
 protected:
  std::string Fresh() { return "x" + std::to_string(m_names++); }
  int m_names = 0;
};

// The targets' ways of comparing, selecting and testing for zero.
struct Target {
  std::uint32_t operationCaps, flowCaps;
};
constexpr Target kTargets[] = {{0, 0},
                               {kCapCompareBySelect, kFlowComparison},
                               {kCapBlendedSelect, 0},
                               {kCapCompareBySelect | kCapSelectOneGuard, 0}};

using Binary = std::function<double(double, double)>;

TEST_F(GxlLowerExpr, OperatorsMatchCOnEveryShapeAndTarget) {
  struct Row {
    std::uint32_t code;
    std::uint32_t base, rows, columns;  // the operands' type (rows 0: a vector)
    bool scalarRight;                   // the right operand a scalar the left's shape spreads
    Binary f;
  };
  const Binary divide = [](double x, double y) { return x / y; };
  const Binary intDivide = [](double x, double y) { return std::trunc(x / y); };
  const Binary truth = [](double x, double) { return x == 0.0; };
  const Row rows[] = {
      {kExprMultiply, kBaseFloat, 0, 3, false, std::multiplies<double>()},
      {kExprMultiply, kBaseInt, 2, 3, false, std::multiplies<double>()},
      {kExprMultiply, kBaseFloat, 0, 4, true, std::multiplies<double>()},
      {kExprDivide, kBaseFloat, 3, 2, false, divide},
      {kExprDivide, kBaseInt, 0, 4, false, intDivide},
      {kExprDivide, kBaseInt, 0, 1, false, intDivide},
      {kExprModulo, kBaseFloat, 0, 4, false, [](double x, double y) { return std::fmod(x, y); }},
      {kExprModulo, kBaseInt, 0, 4, true, [](double x, double y) { return std::fmod(x, y); }},
      {kExprAdd, kBaseFloat, 2, 2, false, std::plus<double>()},
      {kExprAdd, kBaseInt, 0, 3, true, std::plus<double>()},
      {kExprSubtract, kBaseFloat, 0, 1, false, std::minus<double>()},
      {kExprSubtract, kBaseInt, 4, 2, false, std::minus<double>()},
      {kExprLess, kBaseFloat, 0, 4, false, [](double x, double y) { return x < y; }},
      {kExprGreater, kBaseInt, 0, 3, false, [](double x, double y) { return x > y; }},
      {kExprLessEqual, kBaseFloat, 0, 4, false, [](double x, double y) { return x <= y; }},
      {kExprGreaterEqual, kBaseInt, 0, 2, true, [](double x, double y) { return x >= y; }},
      {kExprEqual, kBaseFloat, 2, 3, false, [](double x, double y) { return x == y; }},
      {kExprNotEqual, kBaseInt, 0, 4, false, [](double x, double y) { return x != y; }},
      {kExprAnd, kBaseBool, 0, 4, false, [](double x, double y) { return x != 0 && y != 0; }},
      {kExprAnd, kBaseFloat, 0, 3, false, [](double x, double y) { return x != 0 && y != 0; }},
      {kExprOr, kBaseBool, 0, 2, false, [](double x, double y) { return x != 0 || y != 0; }},
      {kExprOr, kBaseInt, 0, 4, false, [](double x, double y) { return x != 0 || y != 0; }},
      {kExprNot, kBaseFloat, 0, 4, false, truth},
      {kExprNot, kBaseBool, 0, 3, false, truth},
      {kExprNegate, kBaseFloat, 3, 3, false, [](double x, double) { return -x; }},
      {kExprNegate, kBaseInt, 0, 1, false, [](double x, double) { return -x; }},
      {kExprPlus, kBaseFloat, 0, 2, false, [](double x, double) { return x; }},
  };
  // Values with ties, zeros and both signs; divisors whose reciprocals are exact.
  const double floats[] = {-2.5, -1, 0, 0.5, 1, 3.25, 4, -0.75};
  const double divisors[] = {-2, -0.5, 0.25, 1, 4};
  std::mt19937 random(12);
  auto pick = [&](const auto& set) { return set[random() % std::size(set)]; };
  for (const Target& target : kTargets) {
    for (const Row& row : rows) {
      SCOPED_TRACE("operator " + std::to_string(row.code) + " base " + std::to_string(row.base) + " caps " +
                   std::to_string(target.operationCaps));
      Start(target.operationCaps, target.flowCaps);
      auto type = [&](bool scalar) -> ParseNode* {
        if (scalar || (row.rows == 0 && row.columns == 1)) return Scalar(row.base);
        return row.rows ? static_cast<ParseNode*>(Mat(row.base, row.rows, row.columns)) : Vec(row.base, row.columns);
      };
      const std::uint32_t n = (row.rows ? row.rows : 1) * row.columns;
      const bool divides = row.code == kExprDivide || row.code == kExprModulo;
      std::vector<double> a, b;
      for (std::uint32_t i = 0; i < n; ++i) {
        const bool integral = row.base != kBaseFloat;
        const double x = row.base == kBaseBool ? random() % 2 : integral ? int(random() % 19) - 9.0 : pick(floats);
        const double y = row.base == kBaseBool ? random() % 2
                         : divides
                             ? (integral ? double(int(random() % 9) + 1) * (random() % 2 ? 1 : -1) : pick(divisors))
                         : integral ? int(random() % 7) - 3.0
                                    : pick(floats);
        a.push_back(x);
        b.push_back(y);
      }
      if (row.scalarRight) b.assign(n, b[0]);
      const std::string left = Fresh(), right = Fresh();
      Input(left, type(false), a);
      Input(right, type(row.scalarRight), std::vector<double>(b.begin(), b.begin() + (row.scalarRight ? 1 : n)));
      const bool unary = row.code <= kExprPlus;
      ParseNode* e = parser.MakeOperator(row.code, Var(left), unary ? nullptr : Var(right));
      const std::vector<double> got = LowerAndRun(e);
      ASSERT_EQ(got.size(), n);
      for (std::uint32_t i = 0; i < n; ++i) {
        const double want = row.f(a[i], b[i]);
        EXPECT_NEAR(got[i], want, 1e-12 * std::max(1.0, std::fabs(want)))
            << "component " << i << " of " << a[i] << ", " << b[i];
      }
    }
  }
}

TEST_F(GxlLowerExpr, IntegerQuotientsAndRemaindersAreExactAtEveryMultiple) {
  // a x (1 / b) lands below a whole quotient for many pairs (49 x (1 / 49) < 1).
  Start();
  std::vector<double> a, b;
  for (int x = -60; x <= 60; ++x)
    for (int y : {-49, -7, -3, 1, 3, 7, 10, 49}) a.push_back(x), b.push_back(y);
  std::vector<std::uint32_t> quotients, remainders;
  for (std::size_t i = 0; i < a.size(); i += 4) {
    const std::string x = Fresh(), y = Fresh();
    Input(x, Vec(kBaseInt, 4), {a.begin() + i, a.begin() + i + 4});
    Input(y, Vec(kBaseInt, 4), {b.begin() + i, b.begin() + i + 4});
    for (std::uint32_t v : Lower(parser.MakeOperator(kExprDivide, Var(x), Var(y)))) quotients.push_back(v);
    for (std::uint32_t v : Lower(parser.MakeOperator(kExprModulo, Var(x), Var(y)))) remainders.push_back(v);
  }
  const std::vector<double> q = Run(quotients), r = Run(remainders);
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(q[i], std::trunc(a[i] / b[i])) << a[i] << " / " << b[i];
    EXPECT_EQ(r[i], std::fmod(a[i], b[i])) << a[i] << " % " << b[i];
  }
}

TEST_F(GxlLowerExpr, ConversionsTruncateTowardZeroAndTestAgainstZero) {
  struct Row {
    ParseNode* to;
    ParseNode* from;
    std::vector<double> in, out;
  };
  const Row rows[] = {
      {Vec(kBaseInt, 4), Vec(kBaseFloat, 4), {-2.5, 2.5, -0.5, 3.999}, {-2, 2, 0, 3}},
      {Vec(kBaseInt, 3), Vec(kBaseFloat, 3), {-3, 7.25, -7.75}, {-3, 7, -7}},
      {Vec(kBaseBool, 4), Vec(kBaseFloat, 4), {0, -0.25, 3, 0}, {0, 1, 1, 0}},
      {Vec(kBaseBool, 2), Vec(kBaseInt, 2), {-1, 0}, {1, 0}},
      {Vec(kBaseFloat, 2), Vec(kBaseFloat, 4), {1, 2, 3, 4}, {1, 2}},
      {Vec(kBaseFloat, 3), Scalar(kBaseFloat), {1.5}, {1.5, 1.5, 1.5}},
      {Mat(kBaseFloat, 2, 2), Mat(kBaseFloat, 3, 3), {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 4, 5}},
      {Mat(kBaseInt, 2, 2), Vec(kBaseFloat, 4), {1.5, -1.5, 2, -2}, {1, -1, 2, -2}},
      {Scalar(kBaseFloat), Vec(kBaseFloat, 3), {6, 7, 8}, {6}},
      {Scalar(kBaseInt), Scalar(kBaseBool), {1}, {1}},
  };
  for (const Row& row : rows) {
    const std::string x = Fresh();
    Input(x, row.from, row.in);
    EXPECT_EQ(LowerAndRun(parser.MakeConstructor(row.to, Var(x), true, false)), row.out) << TypeText(row.to);
  }
  // A constructor gathers its arguments' components, converting each.
  const std::string f = Fresh(), i = Fresh();
  Input(f, Vec(kBaseFloat, 2), {-1.75, 0.5});
  Input(i, Scalar(kBaseInt), {9});
  EXPECT_EQ(LowerAndRun(parser.MakeConstructor(Vec(kBaseInt, 4), Args({Var(f), Var(i), Float(-6.5)}), false, false)),
            (std::vector<double>{-1, 0, 9, -6}));
}

TEST_F(GxlLowerExpr, StoresReplaceTheSymbolsValues) {
  const std::string x = Fresh(), y = Fresh(), k = Fresh();
  Input(x, Vec(kBaseFloat, 2), {1.5, -2});
  Input(k, Scalar(kBaseInt), {4});
  const std::vector<std::uint32_t> local = Variable(y, Vec(kBaseFloat, 2), BankOf(StandardBank::Undefined));
  auto slotValues = [&](const std::string& name) {
    const auto* value = static_cast<ExpressionNode*>(E(Var(name))->left);
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < value->value.third; ++i) out.push_back(compiler.valueMap[value->value.word + i]);
    return out;
  };
  // ++x gives the new values, which the map now holds.
  const std::vector<std::uint32_t> incremented = Lower(parser.MakeOperator(kExprPreIncrement, Var(x), nullptr));
  EXPECT_EQ(slotValues(x), incremented);
  // y = x * 2 writes y; x++ gives x's old values and stores x + 1.
  const std::vector<std::uint32_t> assigned =
      Lower(parser.MakeOperator(kExprAssign, Var(y), parser.MakeOperator(kExprMultiply, Var(x), Float(2))));
  EXPECT_EQ(slotValues(y), assigned);
  EXPECT_NE(assigned, local);
  const std::vector<std::uint32_t> before = Lower(parser.MakeOperator(kExprPostIncrement, Var(x), nullptr));
  const std::vector<std::uint32_t> decremented = Lower(parser.MakeOperator(kExprPreDecrement, Var(k), nullptr));
  std::vector<std::uint32_t> all = incremented;
  for (auto* part : {&assigned, &before, &decremented}) all.insert(all.end(), part->begin(), part->end());
  for (std::uint32_t v : slotValues(x)) all.push_back(v);
  EXPECT_EQ(Run(all), (std::vector<double>{2.5, -1, 5, -2, 2.5, -1, 3, 3.5, 0}));
  // An initialisation of a symbol that holds a value stores nothing.
  const std::uint32_t count = program->instructions.Count();
  EXPECT_EQ(Lower(parser.MakeOperator(kExprInitialise, Var(x), Float(7), true)), slotValues(x));
  EXPECT_EQ(program->instructions.Count(), count);
  // A store into values without a slot is an internal error.
  auto* literalTarget = new ParseNodeKind13(Scalar(kBaseFloat), kExprAssign, Float(1), Float(2), 1, SourceToken{});
  literalTarget->rows = literalTarget->columns = 1;
  Lower(literalTarget, E_FAIL);
  EXPECT_TRUE(Logged("(1): internal error: l-value expected")) << Log();
}

TEST_F(GxlLowerExpr, TheCommaLowersItsLeftExpressionFirst) {
  const std::string y = Fresh();
  Variable(y, Scalar(kBaseFloat), BankOf(StandardBank::Undefined));
  // (y = 5, y + 1): the parser keeps the left expression as the second operand.
  ParseNode* store = parser.MakeOperator(kExprAssign, Var(y), Float(5));
  ParseNode* comma = parser.MakeOperator(kExprSequence, parser.MakeOperator(kExprAdd, Var(y), Float(1)), store);
  ASSERT_EQ(E(comma)->flag, 0u);
  EXPECT_EQ(LowerAndRun(comma), std::vector<double>{6});
}

TEST_F(GxlLowerExpr, CallsAndIntrinsicsGoToTheirLowering) {
  // A call is inlined: a body that never returns fails the call, which
  // leaves the inline depth as it found it; an intrinsic is expanded.
  ParseNode* stmts = Function("twice", Scalar(kBaseFloat), {{"p", Scalar(kBaseFloat)}}, true);
  ASSERT_NE(stmts, nullptr);
  compiler.tree = new ProgramNode(0, 0, parser.SymbolSlotCount(), stmts);
  Lower(parser.ResolveCall(Name("twice"), Args({Float(1)}), false), E_FAIL);
  EXPECT_TRUE(Logged("error X3507: 'twice': function must return a value")) << Log();
  EXPECT_EQ(compiler.inlineDepth, 0u);
  const std::string x = Fresh();
  Input(x, Scalar(kBaseFloat), {2.5});
  EXPECT_EQ(LowerAndRun(parser.ResolveCall(Name("floor"), Args({Var(x)}), false)), (std::vector<double>{2}));
}

TEST_F(GxlLowerExpr, ExpressionProgramsMoveTheirValuesIntoTheOutputBank) {
  const std::string x = Fresh();
  Input(x, Vec(kBaseFloat, 2), {1.5, -2});
  ASSERT_EQ(compiler.LowerExpressionProgram(parser.MakeOperator(kExprMultiply, Var(x), Float(3))), S_OK);
  std::vector<std::uint32_t> outputs;
  for (std::uint32_t i = 0; i < program->values.Count(); ++i)
    if (program->Value(i)->bank == BankOf(StandardBank::Outputs)) outputs.push_back(i);
  ASSERT_EQ(outputs.size(), 2u);
  irkit::IrInterpreter run(*program);
  run.SetRegister(BankOf(StandardBank::Inputs), 0, 0, 1.5);
  run.SetRegister(BankOf(StandardBank::Inputs), 0, 1, -2);
  ASSERT_TRUE(run.Run()) << run.Error();
  EXPECT_EQ(run.Values(outputs), (std::vector<double>{4.5, -6}));
  // Anything but an expression is no program; an earlier error fails it.
  EXPECT_EQ(compiler.LowerExpressionProgram(Name("n")), S_OK);
  compiler.errorFlag = 1;
  EXPECT_EQ(compiler.LowerExpressionProgram(Float(1)), E_FAIL);
}

TEST_F(GxlLowerExpr, MembersAndSwizzlesPickTheirComponents) {
  const std::string v = Fresh(), s = Fresh();
  Input(v, Vec(kBaseFloat, 4), {1, 2, 3, 4});
  Input(s, Struct({Vec(kBaseFloat, 2), Scalar(kBaseInt), Vec(kBaseFloat, 3)}), {10, 11, 12, 13, 14, 15});
  EXPECT_EQ(LowerAndRun(parser.MakeSelection(Var(v), Name("zx"))), (std::vector<double>{3, 1}));
  EXPECT_EQ(LowerAndRun(parser.MakeSelection(Var(v), Name("wwy"))), (std::vector<double>{4, 4, 2}));
  EXPECT_EQ(LowerAndRun(parser.MakeSelection(Var(s), Name("m2"))), (std::vector<double>{13, 14, 15}));
  EXPECT_EQ(LowerAndRun(parser.MakeSelection(Var(s), Name("m1"))), (std::vector<double>{12}));
  // Picks keep their slots, so a swizzle is written through.
  const std::vector<std::uint32_t> before(compiler.valueMap.Data(), compiler.valueMap.Data() + 4);
  const std::vector<std::uint32_t> written =
      Lower(parser.MakeOperator(kExprAssign, parser.MakeSelection(Var(v), Name("zx")), Floats({7, 8})));
  const std::vector<std::uint32_t> after(compiler.valueMap.Data(), compiler.valueMap.Data() + 4);
  EXPECT_EQ(after[1], before[1]);
  EXPECT_EQ(after[3], before[3]);
  EXPECT_EQ(after[2], written[0]);
  EXPECT_EQ(after[0], written[1]);
  EXPECT_EQ(Run(after), (std::vector<double>{8, 2, 7, 4}));
}

TEST_F(GxlLowerExpr, ConditionalsFoldWhatTheirRangesDecide) {
  for (const Target& target : kTargets) {
    Start(target.operationCaps, target.flowCaps);
    const std::string t = Fresh(), f = Fresh(), c = Fresh(), k = Fresh();
    Input(t, Vec(kBaseFloat, 3), {1.5, 2.5, 3.5});
    Input(f, Vec(kBaseFloat, 3), {-1, -2, -3});
    Input(c, Vec(kBaseBool, 3), {1, 0, 1});
    Input(k, Scalar(kBaseFloat), {-0.25});
    // Known conditions: one move of the chosen values.
    std::uint32_t from = program->instructions.Count();
    const std::vector<std::uint32_t> known = Lower(parser.MakeConditional(Bool(true), Var(t), Var(f)));
    EXPECT_EQ(Groups(from), std::vector<std::uint32_t>{kOpMove});
    EXPECT_EQ(Run(known), (std::vector<double>{1.5, 2.5, 3.5}));
    from = program->instructions.Count();
    ParseNode* mixed =
        parser.MakeConstructor(Vec(kBaseFloat, 3), Args({Float(0), Float(-2), Float(0.5)}), false, false);
    const std::vector<std::uint32_t> decided = Lower(parser.MakeConditional(mixed, Var(t), Var(f)));
    EXPECT_EQ(Groups(from), std::vector<std::uint32_t>{kOpMove});
    EXPECT_EQ(Run(decided), (std::vector<double>{-1, 2.5, 3.5}));
    // Unknown ones select, per component or by one scalar.
    EXPECT_EQ(LowerAndRun(parser.MakeConditional(Var(c), Var(t), Var(f))), (std::vector<double>{1.5, -2, 3.5}));
    EXPECT_EQ(LowerAndRun(parser.MakeConditional(Var(k), Var(t), Var(f))), (std::vector<double>{1.5, 2.5, 3.5}));
  }
}

TEST_F(GxlLowerExpr, LiteralsCarryTheirKindsFacts) {
  struct Row {
    ParseNode* literal;
    double value;
    std::uint32_t flags;
  };
  const Row rows[] = {
      {Bool(true), 1.0, kValueComparison},
      {Bool(false), 0.0, kValueComparison},
      {Int(3, kTokenIntU), 3.0, kValueInteger},
      {Int(3), 3.0, kValueInteger},
      {Float(-2.5), -2.5, 0},
  };
  for (const Row& row : rows) {
    const std::vector<std::uint32_t> v = Lower(row.literal);
    ASSERT_EQ(v.size(), 1u);
    const IrValue* x = program->Value(v[0]);
    EXPECT_EQ(x->bank, BankOf(StandardBank::Literals));
    EXPECT_EQ(x->symbolSlot, kNoIndex);
    EXPECT_EQ(x->rangeLow, row.value);
    EXPECT_EQ(x->flags & row.flags, row.flags);
  }
  // A division is a reciprocal of the right operand and a multiply.
  const std::string a = Fresh(), b = Fresh();
  Input(a, Scalar(kBaseFloat), {3});
  Input(b, Scalar(kBaseFloat), {8});
  const std::uint32_t from = program->instructions.Count();
  const std::vector<std::uint32_t> quotient = Lower(parser.MakeOperator(kExprDivide, Var(a), Var(b)));
  EXPECT_EQ(Groups(from), (std::vector<std::uint32_t>{kOpReciprocal, kOpMultiply}));
  EXPECT_EQ(Run(quotient), std::vector<double>{0.375});
}

TEST_F(GxlLowerExpr, MessagesAndMalformedNodes) {
  // A call of a function that has no body.
  ASSERT_NE(Function("helper", Scalar(kBaseFloat), {{"p", Scalar(kBaseFloat)}}, false), nullptr);
  Lower(parser.ResolveCall(Name("helper"), Args({Float(1)}), false), E_FAIL);
  EXPECT_TRUE(Logged("(7): error X3510: function 'helper' missing implementation")) << Log();
  // Nodes the lowering cannot read.
  std::uint32_t one = kNoIndex;
  EXPECT_EQ(compiler.LowerExpression(nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(compiler.LowerExpression(nullptr, &one, 0), E_FAIL);
  EXPECT_EQ(compiler.LowerExpression(Name("n"), &one, 0), E_FAIL);
  EXPECT_EQ(compiler.LowerValue(Name("n"), &one, 1), E_FAIL);
  EXPECT_TRUE(Logged("(7): internal error: unrecognized value")) << Log();
  auto* unknown = new ParseNodeKind13(Scalar(kBaseFloat), kExprCompile + 3, Float(1), nullptr, 1, Identifier("u"));
  unknown->rows = unknown->columns = 1;
  Lower(unknown, E_FAIL);
  EXPECT_TRUE(Logged("(7): internal error: unrecognized expression")) << Log();
}

TEST_F(GxlLowerExpr, TreesAtTheParsersDepthBoundLower) {
  const std::string x = Fresh();
  Input(x, Scalar(kBaseFloat), {0.5});
  ParseNode* chain = Var(x);
  std::uint32_t terms = 1;
  for (ParseNode* next; (next = parser.MakeOperator(terms % 2 ? kExprAdd : kExprSubtract, chain, Var(x)));) {
    chain = next;
    ++terms;
  }
  EXPECT_EQ(E(chain)->depth, HlslParser::kMaxExpressionDepth);
  // x + x - x + x - ...: the adds and subtracts pair off.
  EXPECT_EQ(LowerAndRun(chain), std::vector<double>{terms % 2 ? 0.5 : 1.0});
}

}  // namespace
}  // namespace compilertest
