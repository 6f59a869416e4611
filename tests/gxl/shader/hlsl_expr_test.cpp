// Expressions and calls: the intrinsic table, the forms of mul, overload
// costs, operator typing and rewriting, indexing and selection, statements,
// and expressions too deep to build.
#include <cstring>
#include <set>

#include "hlsl_fixture.h"

namespace {

using namespace shadertest;

class GxlHlslExpr : public HlslTest {
 protected:
  GxlHlslExpr() {
    int i = 0;
    for (TypeNode* t : {Scalar(kBaseFloat), Vec(kBaseFloat, 2), Vec(kBaseFloat, 3), Vec(kBaseFloat, 4),
                        Mat(kBaseFloat, 2, 3), Mat(kBaseFloat, 3, 2), Mat(kBaseFloat, 3, 4), Mat(kBaseFloat, 4, 3),
                        Mat(kBaseFloat, 4, 4), Scalar(kBaseInt), Obj(22), Scalar(kBaseHalf)})
      Declare(kNames[i++], t);
  }
  static constexpr const char* kNames[] = {"f1", "f2", "f3", "f4", "m23", "m32", "m34", "m43", "m44", "i1", "s2", "h1"};

  ParseNode* Call(const char* name, std::initializer_list<ParseNode*> args) {
    return parser.ResolveCall(Name(name), Args(args), false);
  }
  static const IntrinsicRecord* RowOf(ParseNode* call) {
    return static_cast<const IntrinsicRecord*>(static_cast<ExpressionNode*>(E(call)->left)->value.address);
  }
  // Enters a function body of the given return type.
  void EnterFunction(ParseNode* returnType) {
    Function("body" + std::to_string(++m_functions), returnType, {}, true, 0, nullptr, true);
    parser.PushScope(kScopeBlock, nullptr);
  }
  int m_functions = 0;
};

TEST_F(GxlHlslExpr, IntrinsicTableIsSortedWithEveryId) {
  std::set<std::uint32_t> ids;
  for (std::size_t i = 0; i < kIntrinsicCount; ++i) {
    const IntrinsicRecord& r = IntrinsicTable[i];
    ASSERT_NE(r.Name(), nullptr) << "row " << i;
    if (i) {
      EXPECT_LE(std::strcmp(IntrinsicTable[i - 1].Name(), r.Name()), 0) << r.Name();
    }
    ids.insert(r.id);
    EXPECT_LE(r.ParameterCount(), 4u);
    const IntrinsicRows rows = FindIntrinsics(r.Name());
    EXPECT_TRUE(&r >= rows.first && &r < rows.first + rows.count) << r.Name();
  }
  EXPECT_EQ(ids.size(), 90u);
  EXPECT_EQ(*ids.rbegin(), 89u);
  EXPECT_STREQ(IntrinsicTable[0].Name(), "D3DCOLORtoUBYTE4");
  const IntrinsicRows mul = FindIntrinsics("mul");
  ASSERT_EQ(mul.count, 9u);
  for (std::uint32_t i = 0; i < 9; ++i) {
    EXPECT_EQ(mul.first[i].id, 41 + i);
  }
  EXPECT_EQ(FindIntrinsics("tex2Dgrad").first->id, FindIntrinsics("tex2D").first[1].id);
  EXPECT_EQ(FindIntrinsics("nosuch").count, 0u);
  EXPECT_EQ(FindIntrinsics("").count, 0u);
}

TEST_F(GxlHlslExpr, TheNineFormsOfMul) {
  const struct {
    const char *a, *b;
    std::uint32_t id;
    const char* result;
  } cases[] = {
      {"f1", "f1", 41, "float"},     {"f1", "f3", 42, "float3"},  {"f1", "m23", 43, "float2x3"},
      {"f3", "f1", 44, "float3"},    {"f3", "f3", 45, "float"},   {"f4", "m44", 46, "float4"},
      {"m32", "f1", 47, "float3x2"}, {"m44", "f4", 48, "float4"}, {"m23", "m34", 49, "float2x4"},
      {"f3", "m44", 46, "float4"},   {"m43", "f4", 48, "float4"}, {"i1", "i1", 41, "int"},
      {"h1", "f3", 42, "float3"},
  };
  for (const auto& c : cases) {
    ParseNode* call = Call("mul", {Var(c.a), Var(c.b)});
    ASSERT_NE(call, nullptr) << c.a << " " << c.b << Log();
    EXPECT_EQ(E(call)->op, kExprIntrinsic);
    EXPECT_EQ(RowOf(call)->id, c.id) << c.a << " " << c.b;
    EXPECT_EQ(TypeText(TypeOf(call)), c.result) << c.a << " " << c.b;
  }
  // The matrix operand of the vector form takes the column-major parameter type.
  ParseNode* call = Call("mul", {Var("f3"), Var("m44")});
  ParseNode* b = E(call)->right->first->second->first;
  EXPECT_EQ(TypeText(TypeOf(b)), "float3x4");
  EXPECT_EQ(static_cast<TypeNode*>(TypeOf(b))->flags & kTypeColumnMajor, kTypeColumnMajor);
  EXPECT_EQ(Log(), "<null>");
}

TEST_F(GxlHlslExpr, OverloadCosts) {
  const struct {
    TypeNode *to, *from;
    std::uint32_t cost;
  } costs[] = {
      {Scalar(kBaseFloat), Scalar(kBaseFloat), 0},     {Scalar(kBaseFloat), Scalar(kBaseHalf), 0x10000},
      {Scalar(kBaseHalf), Scalar(kBaseFloat), 0x200},  {Scalar(kBaseInt), Scalar(kBaseFloat), 0x200},
      {Scalar(kBaseFloat), Scalar(kBaseInt), 0x10000}, {Scalar(kBaseFloat), Scalar(kBaseLiteralFloat), 0},
      {Scalar(kBaseInt), Scalar(kBaseLiteralInt), 0},  {Vec(kBaseFloat, 2), Vec(kBaseFloat, 4), 0x800000},
      {Vec(kBaseFloat, 4), Scalar(kBaseFloat), 0},     {Scalar(kBaseFloat), Obj(22), 0x10200},
      {Vec(kBaseHalf, 2), Vec(kBaseInt, 3), 0x810200}, {Scalar(kBaseFloat), Scalar(kBaseBool), 0x10000},
  };
  for (const auto& c : costs) {
    EXPECT_EQ(parser.ConversionCost(c.to, c.from), c.cost) << TypeText(c.from) << " -> " << TypeText(c.to);
  }
  EXPECT_FALSE(HlslParser::BaseTypesDiffer(kBaseInt8, kBaseLiteralUint));
  EXPECT_TRUE(HlslParser::BaseTypesDiffer(kBaseInt8, kBaseInt16));
  EXPECT_FALSE(HlslParser::BaseTypesDiffer(kBaseUint, kBaseInt));
  EXPECT_TRUE(HlslParser::BaseTypesDiffer(kBaseHalf, kBaseDouble));
  EXPECT_TRUE(HlslParser::BaseTypesDiffer(kBaseBool, kBaseLiteralInt));

  Function("g", Scalar(kBaseFloat), {{"x", Scalar(kBaseFloat)}}, true);
  Function("g", Scalar(kBaseFloat), {{"x", Scalar(kBaseHalf)}}, true);
  ParseNode* call = parser.ResolveCall(Name("g"), Args({Float(1, kTokenFloatH)}), false);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(E(call)->op, kExprCall);
  auto* chosen = static_cast<const DeclarationNode*>(static_cast<ExpressionNode*>(E(call)->left->first)->value.address);
  auto* parameter =
      static_cast<const DeclarationNode*>(static_cast<ParseNodeKind10*>(chosen->description)->parameters->first);
  EXPECT_EQ(TypeText(parameter), "half");
  EXPECT_EQ(parser.ResolveCall(Name("g"), Args({Int(1)}), false), nullptr);
  EXPECT_EQ(Log(), "(7): error X3067: 'g': ambiguous function call\n");
  pp.Log().Reset();
  // No matching overload: the binding of a user function reports the mismatch.
  EXPECT_EQ(parser.ResolveCall(Name("g"), Args({Var("s2")}), false), nullptr);
  EXPECT_EQ(Log(), "(7): error X3017: 'g': cannot implicitly convert from 'sampler2D' to 'half'\n");
}

TEST_F(GxlHlslExpr, CallsBindInputsOutputsAndDefaults) {
  const struct {
    const char* name;
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {"tex2D", {"s2", "f2", "f2"}, "(7): error X3013: 'tex2D': intrinsic function does not take 3 parameters\n"},
      {"normalize", {"f3", "f3"}, "(7): error X3013: 'normalize': intrinsic function does not take 2 parameters\n"},
      {"nosuch", {"f1"}, "(7): error X3004: undeclared identifier 'nosuch'\n"},
      {"cross", {"f2", "f3"}, "(7): error X3013: 'cross': intrinsic function does not take 2 parameters\n"},
      {"f1", {"f1"}, "(7): error X3005: 'f1': identifier represents a variable, not a function\n"},
  };
  for (const auto& c : cases) {
    pp.Log().Reset();
    ParseNode* args = nullptr;
    for (const char* a : c.args) args = AppendToList(args, new ListNode(Var(a), nullptr, "Arguments"));
    EXPECT_EQ(parser.ResolveCall(Name(c.name), args, false), nullptr);
    EXPECT_EQ(Log(), c.message);
  }
  pp.Log().Reset();
  ParseNode* sincos = Call("sincos", {Var("f3"), Var("f3"), Var("f3")});
  ASSERT_NE(sincos, nullptr);
  EXPECT_EQ(TypeOf(sincos), nullptr);
  ParseNode* outputs = E(sincos)->right->second->first;
  ASSERT_NE(outputs, nullptr);
  EXPECT_EQ(E(outputs->first)->op, kExprAssign);
  EXPECT_NE(outputs->second, nullptr);
  EXPECT_EQ(Call("sincos", {Var("f3"), Float(1), Var("f3")}), nullptr);
  EXPECT_TRUE(Logged("error X3025: l-value specifies const object"));

  pp.Log().Reset();
  Function("h", Scalar(kBaseFloat),
           {{"a", Vec(kBaseFloat, 2)}, {"b", Scalar(kBaseFloat), kUsageOut}, {"c", Scalar(kBaseFloat), 0, Int(4)}},
           true);
  ParseNode* call = parser.ResolveCall(Name("h"), Args({Var("f1"), Var("f1")}), false);
  ASSERT_NE(call, nullptr) << Log();
  ParseNode* inputs = E(call)->right->first;
  EXPECT_EQ(TypeText(TypeOf(inputs->first)), "float2");  // widened from float
  EXPECT_EQ(Values(inputs->second->first), (std::vector<double>{4}));
  EXPECT_EQ(parser.ResolveCall(Name("h"), Args({Var("f1")}), false), nullptr);
  EXPECT_EQ(Log(), "(7): error X3013: 'h': function does not take 1 parameter\n");
}

TEST_F(GxlHlslExpr, OperatorsTypeConvertAndRewrite) {
  // v += 1 becomes v = v + (float4)1.
  ParseNode* add = parser.MakeOperator(kExprAdd + 21, Var("f4"), Int(1));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(E(add)->op, kExprAssign);
  EXPECT_EQ(E(E(add)->right)->op, kExprAdd);
  EXPECT_EQ(Values(E(E(add)->right)->right), (std::vector<double>{1, 1, 1, 1}));

  ParseNode* sum = parser.MakeOperator(kExprAdd, Var("f2"), Var("f3"));
  EXPECT_EQ(TypeText(TypeOf(sum)), "float2");
  EXPECT_EQ(E(E(sum)->right)->op, kExprValue);  // the float3 truncated
  EXPECT_EQ(TypeText(TypeOf(parser.MakeOperator(kExprLess, Var("f3"), Var("f1")))), "bool3");
  EXPECT_EQ(TypeText(TypeOf(parser.MakeOperator(kExprNegate, Var("m23"), nullptr))), "const float2x3");

  ParseNode* post = parser.MakeOperator(kExprPostIncrement, Var("f1"), nullptr);
  EXPECT_EQ(E(post)->op, kExprSequence);
  EXPECT_EQ(E(E(post)->right)->op, kExprPreIncrement);
  EXPECT_EQ(E(post)->flag, 1u);
  EXPECT_EQ(E(parser.MakeOperator(kExprSequence, Var("f1"), Var("f2")))->flag, 0u);
  parser.PushScope(kScopeStates, nullptr);
  EXPECT_NE(parser.MakeOperator(kExprSequence, Var("f1"), Var("f2")), nullptr);
  EXPECT_EQ(Log(), "(7): warning X3081: comma expression used where an initializer list may have been intended\n");
  parser.PopScope();

  const struct {
    std::uint32_t op;
    ParseNode *a, *b;
    const char* message;
  } bad[] = {
      {kExprAdd, Var("s2"), Int(1), "error X3022: scalar, vector, or matrix expected"},
      {kExprAdd, Var("m44"), Var("f4"), "error X3020: type mismatch"},
      {kExprAssign, Int(1), Int(2), "error X3025: l-value specifies const object"},
      {kExprAssign, Var("f4"), Var("f2"), "error X3017: cannot implicitly convert from 'float2' to 'float4'"},
      {kExprAssign, parser.MakeSelection(Var("f4"), Name("xx")), Var("f2"), "error X3025"},
      {kExprPreIncrement, Var("s2"), nullptr, "error X3022"},
  };
  for (const auto& c : bad) {
    pp.Log().Reset();
    EXPECT_EQ(parser.MakeOperator(c.op, c.a, c.b), nullptr);
    EXPECT_TRUE(Logged(c.message)) << Log();
  }

  // Constants: a literal one is no l-value; other consts keep their const type.
  EnterFunction(nullptr);
  Declare("c", Scalar(kBaseFloat), kUsageConst, Float(2));
  Declare("d", Scalar(kBaseFloat), kUsageConst, Var("f1"));
  Declare("s", Obj(22));
  for (const char* name : {"c", "d"}) {
    pp.Log().Reset();
    EXPECT_EQ(parser.MakeOperator(kExprAssign, Var(name), Float(3)), nullptr);
    EXPECT_EQ(parser.MakeOperator(kExprAdd + 21, Var(name), Float(3)), nullptr);
    EXPECT_EQ(Log(),
              "(1): error X3025: l-value specifies const object\n(1): error X3025: l-value specifies const object\n");
  }
  pp.Log().Reset();
  EXPECT_EQ(parser.MakeOperator(kExprAssign, Var("s"), Var("s2")), nullptr);
  EXPECT_EQ(Log(), "(7): error X3065: object assignments are not allowed inside functions\n");

  // x[i++] += 1 would increment i twice.
  pp.Log().Reset();
  ParseNode* index = parser.MakeOperator(kExprPostIncrement, Var("i1"), nullptr);
  EXPECT_EQ(parser.MakeOperator(kExprAdd + 21, parser.MakeIndex(Var("f4"), index), Int(1)), nullptr);
  EXPECT_EQ(Log(), "(1): error X3500: compound assignment to an expression with side effects not yet implemented\n");
  EXPECT_NE(parser.MakeOperator(kExprAdd + 21, parser.MakeIndex(Var("f4"), Var("i1")), Int(1)), nullptr);
}

// Arithmetic counts truth values as ints; logic and comparisons keep bool.
TEST_F(GxlHlslExpr, ArithmeticOnTruthValuesIsInt) {
  auto less = [&](const char* a, const char* b) { return parser.MakeOperator(kExprLess, Var(a), Var(b)); };
  const struct {
    std::uint32_t op;
    ParseNode *a, *b;
    const char* type;
  } cases[] = {
      {kExprAdd, less("f1", "f1"), less("f1", "f1"), "int"},
      {kExprSubtract, less("f3", "f3"), less("f3", "f3"), "int3"},
      {kExprMultiply, less("f2", "f2"), less("f1", "f1"), "int2"},
      {kExprDivide, less("f1", "f1"), less("f1", "f1"), "int"},
      {kExprModulo, less("f1", "f1"), less("f1", "f1"), "int"},
      {kExprNegate, less("f4", "f4"), nullptr, "const int4"},
      {kExprAdd, less("f1", "f1"), Var("f1"), "float"},
      {kExprAdd, less("f1", "f1"), Var("i1"), "int"},
      {kExprPlus, less("f1", "f1"), nullptr, "const bool"},
      {kExprNot, less("f1", "f1"), nullptr, "const bool"},
      {kExprAnd, less("f1", "f1"), less("f1", "f1"), "bool"},
      {kExprEqual, less("f1", "f1"), less("f1", "f1"), "bool"},
  };
  for (const auto& c : cases) {
    ParseNode* e = parser.MakeOperator(c.op, c.a, c.b);
    ASSERT_NE(e, nullptr) << c.op << Log();
    EXPECT_EQ(TypeText(TypeOf(e)), c.type) << c.op;
  }
}

TEST_F(GxlHlslExpr, IndexSelectionConditionalAndConstructors) {
  ParseNode* row = parser.MakeIndex(Var("m34"), Int(2));
  EXPECT_EQ(TypeText(TypeOf(row)), "float4");
  EXPECT_EQ(Values(E(row)->right), (std::vector<double>{8}));  // the component offset
  EXPECT_EQ(TypeText(TypeOf(parser.MakeSelection(Var("m44"), Name("_m00_m33")))), "float2");
  EXPECT_EQ(TypeText(TypeOf(parser.MakeSelection(Var("f3"), Name("bgr")))), "float3");
  EXPECT_EQ(TypeText(TypeOf(parser.MakeSelection(Var("f1"), Name("x")))), "float");
  ParseNode* s = Declare("st", Struct({Vec(kBaseFloat, 3), Scalar(kBaseInt)}));
  ASSERT_NE(s, nullptr);
  ParseNode* member = parser.MakeSelection(Var("st"), Name("m1"));
  EXPECT_EQ(TypeText(TypeOf(member)), "int");
  EXPECT_EQ(static_cast<ExpressionNode*>(E(member)->right)->value.integer, 3u);
  ParseNode* pick = parser.MakeConditional(Var("f1"), Var("f2"), Int(0));
  EXPECT_EQ(TypeText(TypeOf(pick)), "float2");
  EXPECT_EQ(TypeText(TypeOf(parser.MakeConditional(Var("f2"), Var("f2"), Var("f2")))), "float2");
  EXPECT_NE(parser.MakeConstructor(Vec(kBaseFloat, 3), Args({Var("f2"), Var("f1")}), false, false), nullptr);
  EXPECT_EQ(TypeText(TypeOf(parser.MakeConstructor(Vec(kBaseHalf, 2), Var("f4"), true, false))), "half2");
  EXPECT_EQ(Log(), "<null>");

  const struct {
    ParseNode* expression;
    const char* message;
  } bad[] = {
      {parser.MakeIndex(Var("f4"), Int(0xFFFFFFFFu)), "error X3030: array index out of bounds"},
      {parser.MakeIndex(Var("f4"), Int(4)), "error X3030"},
      {parser.MakeIndex(Var("f1"), Int(0)), "error X3021: array expected"},
      {parser.MakeIndex(Var("f4"), Var("f2")), "error X3051: scalar expected"},
      {parser.MakeSelection(Var("f3"), Name("xyzw")), "error X3018: invalid subscript 'xyzw'"},
      {parser.MakeSelection(Var("f3"), Name("xg")), "error X3018: invalid subscript 'xg'"},
      {parser.MakeSelection(Var("m44"), Name("_11_m00")), "error X3018"},
      {parser.MakeSelection(Var("m32"), Name("_13")), "error X3018"},
      {parser.MakeSelection(Var("f4"), Name("xyzwx")), "error X3018"},
      {parser.MakeSelection(Var("st"), Name("m2")), "error X3018: invalid subscript 'm2'"},
      {parser.MakeConditional(Var("s2"), Var("f1"), Var("f1")), "error X3020: conditional must be numeric"},
      {parser.MakeConditional(Var("f1"), Var("m44"), Var("f4")),
       "error X3020: type mismatch between conditional values"},
      {parser.MakeConditional(Var("f2"), Var("f3"), Var("f3")),
       "error X3020: dimension of conditional does not match value"},
      {parser.MakeConstructor(Vec(kBaseFloat, 3), Args({Var("f1"), Var("f1")}), false, false),
       "error X3014: incorrect number of arguments to numeric-type constructor"},
      {parser.MakeConstructor(Vec(kBaseFloat, 3), Args({Var("f2"), Var("s2")}), false, false),
       "error X3017: cannot convert from 'object type' to 'numeric type'"},
      {parser.MakeConstructor(Obj(22), Args({Var("f1")}), false, false),
       "error X3037: constructors only defined for numeric base types"},
      {parser.MakeConstructor(Vec(kBaseFloat, 4), Var("f2"), true, false),
       "error X3017: cannot convert from 'float2' to 'float4'"},
  };
  int line = 0;
  for (const auto& c : bad) {
    EXPECT_EQ(c.expression, nullptr) << line;
    ++line;
  }
  const std::string log = Log();
  for (const auto& c : bad) {
    EXPECT_NE(log.find(c.message), std::string::npos) << c.message;
  }
}

TEST_F(GxlHlslExpr, Statements) {
  EXPECT_EQ(parser.MakeReturn(Var("f1"), SourceToken{}), nullptr);  // outside a function: nothing
  EnterFunction(Scalar(kBaseFloat));
  ParseNode* ret = parser.MakeReturn(Int(1), SourceToken{});
  ASSERT_NE(ret, nullptr);
  EXPECT_EQ(TypeText(TypeOf(static_cast<StatementNode*>(ret->first)->children[0])), "const float");
  EXPECT_EQ(parser.MakeReturn(nullptr, Identifier("x")), nullptr);
  EnterFunction(nullptr);
  EXPECT_EQ(parser.MakeReturn(Var("f1"), SourceToken{}), nullptr);
  EXPECT_NE(parser.MakeReturn(nullptr, SourceToken{}), nullptr);
  EXPECT_EQ(parser.MakeIf(Var("f2"), nullptr, nullptr), nullptr);
  EXPECT_EQ(parser.MakeLoop(kStatementWhile, nullptr, Var("f3"), nullptr, nullptr), nullptr);
  ParseNode* loop = parser.MakeLoop(kStatementDo, nullptr, Var("f1"), nullptr, parser.MakeDiscard());
  ASSERT_NE(loop, nullptr);
  auto* s = static_cast<StatementNode*>(loop->first);
  EXPECT_EQ(s->children[0], s->children[3]);
  EXPECT_EQ(Log(),
            "(7): error X3080: 'body1': function must return a value\n"
            "(7): error X3079: 'body2': void functions cannot return a value\n"
            "(7): error X3019: float expected\n"
            "(7): error X3019: float expected\n");
}

TEST_F(GxlHlslExpr, ExpressionsTooDeepStopWithOneFatalError) {
  // 1 + 1 + ... folds as it grows: no depth at all.
  ParseNode* ones = Int(1);
  for (int i = 1; i < 10000; ++i) ones = parser.MakeOperator(kExprAdd, ones, Int(1));
  EXPECT_EQ(Values(ones), (std::vector<double>{10000}));
  // a + a + ... of 100,000 terms is refused once too deep.
  ParseNode* chain = Var("f1");
  for (int i = 1; i < 100000 && chain; ++i) chain = parser.MakeOperator(kExprAdd, chain, Var("f1"));
  EXPECT_EQ(chain, nullptr);
  EXPECT_TRUE(parser.IsFatal());
  EXPECT_EQ(Log(), "(7): internal error: expression too complex\n");
}

TEST_F(GxlHlslExpr, PostfixChainsTooDeepStopToo) {
  ParseNode* deep = Var("f4");
  int built = 0;
  for (; built < 5000 && deep; ++built) deep = parser.MakeSelection(deep, Name("wzyx"));
  EXPECT_EQ(deep, nullptr);
  EXPECT_EQ(built, static_cast<int>(HlslParser::kMaxExpressionDepth));
  EXPECT_TRUE(parser.IsFatal());
}

TEST_F(GxlHlslExpr, CompileExpressions) {
  Function("vs", Vec(kBaseFloat, 4), {{"n", Scalar(kBaseInt), kUsageUniform}, {"p", Vec(kBaseFloat, 4)}}, true);
  ParseNode* compiled = parser.MakeCompileExpression(Name("vs_2_0"), Name("vs"), Args({Int(3)}), false);
  ASSERT_NE(compiled, nullptr) << Log();
  EXPECT_EQ(E(compiled)->op, kExprCompile);
  EXPECT_EQ(TypeText(TypeOf(compiled)), "vertexshader");
  EXPECT_EQ(TypeText(TypeOf(parser.MakeCompileExpression(Name("ps_2_0"), Name("vs"), Args({Int(3)}), true))),
            "pixelfragment");
  // A shader variable keeps its compile expression as its value.
  ParseNode* shader = Declare("shader", Obj(kBaseVertexShader), 0, compiled);
  ASSERT_NE(shader, nullptr);
  EXPECT_EQ(VariableOf(shader)->nodes[2], compiled);
  EXPECT_EQ(parser.MakeCompileExpression(Name("xs_9_9"), Name("vs"), Args({Int(3)}), false), nullptr);
  EXPECT_EQ(Log(), "(7): error X3041: unsupported compiler target 'xs_9_9'\n");
  // Messages are cut at 255 characters.
  pp.Log().Reset();
  parser.ReportError(nullptr, 3000, "%s", std::string(400, 'a').c_str());
  EXPECT_EQ(Log(), "error X3000: " + std::string(255, 'a') + "\n");
}

}  // namespace
