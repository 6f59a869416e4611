// Scopes and declarations: every storage class in every declaration context,
// the variables of "for" headers, functions and their bodies, array
// dimensions, slots and name lookup.
#include <regex>
#include <set>

#include "hlsl_fixture.h"

namespace {

using namespace shadertest;

class GxlHlslScopes : public HlslTest {
 protected:
  // The codes the log holds, in order.
  std::vector<int> Codes() {
    std::vector<int> codes;
    const std::string log = Log();
    const std::regex code(R"(X(\d+))");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), code); it != std::sregex_iterator(); ++it)
      codes.push_back(std::stoi((*it)[1]));
    return codes;
  }
  ParseNode* Semantic() { return new ParseNodeKind17(new ListNode(Name("COLOR0"), nullptr, "Semantics"), nullptr); }
};

TEST_F(GxlHlslScopes, EveryUsageInEveryContext) {
  const std::uint32_t out = kUsageOut, in = kUsageIn;
  const struct {
    std::uint32_t usage;
    std::vector<std::vector<int>> codes;  // per context 0-5
  } rows[] = {
      {0, {{}, {}, {}, {}, {}, {}}},
      {kUsageStatic, {{}, {3007}, {3007}, {}, {}, {3007}}},
      {kUsageExtern, {{}, {3006}, {3006}, {3006}, {3006}, {3006}}},
      {kUsageUniform, {{}, {3047}, {}, {3047}, {3047}, {3047}}},
      {kUsageVolatile, {{3008}, {3008}, {}, {}, {}, {3008}}},
      {kUsageShared, {{}, {3054}, {3054}, {3054}, {3054}, {3054}}},
      {kUsageInline, {{3055}, {3055}, {3055}, {3055}, {3055}, {3055}}},
      {kUsageConst, {{}, {3035}, {}, {3012}, {3012}, {}}},
      {kUsageStatic | kUsageConst, {{3012}, {3035, 3007}, {3007}, {3012}, {3012}, {3007}}},
      {kUsageStatic | kUsageExtern, {{3007}, {3007, 3006}, {3007, 3006}, {3006}, {3006}, {3007, 3006}}},
      {kUsageStatic | kUsageUniform, {{3007}, {3007, 3047}, {3007}, {3047}, {3047}, {3007, 3047}}},
      {kUsageUniform | out, {{}, {3047}, {3062}, {3047}, {3047}, {3047}}},
      {kUsageConst | out, {{}, {3035}, {3046}, {3012}, {3012}, {}}},
      {in | out, {{}, {}, {}, {}, {}, {}}},
  };
  int n = 0;
  for (const auto& row : rows) {
    for (std::uint32_t k = 0; k <= kScopeAnnotation; ++k) {
      if (k) parser.PushScope(k, nullptr);
      pp.Log().Reset();
      ParseNode* value = k == kScopeAnnotation ? Int(1) : nullptr;  // annotation members need one
      ParseNode* d = Declare("v" + std::to_string(n++), Scalar(kBaseFloat), row.usage, value);
      EXPECT_EQ(Codes(), row.codes[k]) << "usage " << row.usage << " context " << k << "\n" << Log();
      EXPECT_NE(d, nullptr);
      if (k) parser.PopScope();
    }
  }
  // Semantics and annotations, value and parameter rules per context.
  const std::vector<std::vector<int>> expected[] = {
      {{}, {}, {}, {3043}, {3043}, {3043}},      // a semantic
      {{}, {3040}, {}, {3040}, {3040}, {3040}},  // an annotation
      {{}, {3009}, {}, {}, {}, {}},              // a value
  };
  for (int form = 0; form < 3; ++form) {
    for (std::uint32_t k = 0; k <= kScopeAnnotation; ++k) {
      if (k) parser.PushScope(k, nullptr);
      pp.Log().Reset();
      ParseNode* value = form == 2 || k == kScopeAnnotation ? Int(1) : nullptr;
      Declare("w" + std::to_string(n++), Scalar(kBaseFloat), 0, value, {}, form == 0 ? Semantic() : nullptr,
              form == 1 ? new ListNode(nullptr, nullptr, "Decls") : nullptr);
      EXPECT_EQ(Codes(), expected[form][k]) << "form " << form << " context " << k << "\n" << Log();
      if (form == 2 && k == kScopeStruct) {
        EXPECT_TRUE(Logged("structure members cannot have initializers")) << Log();
      }
      if (k) parser.PopScope();
    }
  }
}

TEST_F(GxlHlslScopes, StorageOfGlobalsParametersAndLocals) {
  ParseNodeKind11* plain = VariableOf(Declare("g", Scalar(kBaseFloat)));
  EXPECT_EQ(plain->storage, kUsageExtern | kUsageUniform);
  EXPECT_EQ(plain->symbol, kNoSlot);
  ParseNodeKind11* both = VariableOf(Declare("h", Scalar(kBaseFloat), kUsageStatic | kUsageUniform));
  EXPECT_EQ(both->storage & (kUsageStatic | kUsageUniform), kUsageUniform);
  EXPECT_TRUE(Logged("error X3007: 'h': uniform global variables cannot be declared 'static'"));

  // A static global is zeroed by a statement; a uniform keeps its literal default.
  ParseNode* s = Declare("s", Vec(kBaseFloat, 2), kUsageStatic);
  ASSERT_NE(s->second, nullptr);
  auto* init = E(static_cast<StatementNode*>(s->second->first)->children[0]);
  EXPECT_EQ(init->op, kExprInitialise);
  EXPECT_EQ(Values(init->right), (std::vector<double>{0, 0}));
  ParseNodeKind11* u = VariableOf(Declare("u", Vec(kBaseFloat, 2), 0, Int(3)));
  EXPECT_EQ(Values(u->nodes[2]), (std::vector<double>{3, 3}));
  Declare("w", Scalar(kBaseFloat), 0, Var("g"));
  EXPECT_TRUE(Logged("error X3011: 'w': initial value must be a literal expression"));

  // Locals take slots by their component count; a const local keeps its value.
  parser.PushScope(kScopeParameters, "f");
  parser.PushScope(kScopeBlock, nullptr);
  const std::uint32_t first = parser.SymbolSlotCount();
  EXPECT_EQ(VariableOf(Declare("a", Mat(kBaseFloat, 3, 3)))->symbol, first);
  EXPECT_EQ(VariableOf(Declare("b", Scalar(kBaseFloat)))->symbol, first + 9);
  ParseNode* c = Declare("c", Scalar(kBaseFloat), kUsageConst, Float(2.5));
  EXPECT_EQ(c->second, nullptr);
  EXPECT_EQ(Values(Var("c")), (std::vector<double>{2.5}));  // the constant folds into uses
  ParseNode* d = Declare("d", Scalar(kBaseFloat), 0, Var("b"));
  ASSERT_NE(d->second, nullptr);  // assigned by a statement
  EXPECT_EQ(VariableOf(d)->nodes[1], nullptr);
}

TEST_F(GxlHlslScopes, ForHeaderVariablesAndTheLoopWarning) {
  parser.PushScope(kScopeParameters, "f");
  parser.PushScope(kScopeBlock, nullptr);
  // for (int i...) {} int i;  uses the later i without a message.
  parser.PushScope(kScopeFor, nullptr);
  ParseNodeKind11* loopI = VariableOf(Declare("i", Scalar(kBaseInt)));
  parser.PopScope();
  ParseNodeKind11* laterI = VariableOf(Declare("i", Scalar(kBaseInt)));
  ASSERT_NE(laterI, nullptr);
  auto referenced = [&](ParseNode* e) {
    return static_cast<ParseNodeKind11*>(static_cast<ExpressionNode*>(E(e)->left)->value.node);
  };
  EXPECT_EQ(referenced(Var("i")), laterI);
  EXPECT_NE(loopI, laterI);
  EXPECT_EQ(Log(), "<null>");

  // float j; for (int j...) {}  uses the loop's j, warning once.
  ParseNodeKind11* outerJ = VariableOf(Declare("j", Scalar(kBaseFloat)));
  parser.PushScope(kScopeFor, nullptr);
  ParseNodeKind11* loopJ = VariableOf(Declare("j", Scalar(kBaseInt)));
  parser.PopScope();
  EXPECT_EQ(referenced(Var("j")), loopJ);
  EXPECT_EQ(referenced(Var("j")), loopJ);
  EXPECT_NE(outerJ, loopJ);
  EXPECT_EQ(Log(),
            "(7): warning X3078: 'j': loop control variable used outside for-loop scope conflicts with a previous "
            "declaration in the outer scope; most recent definition used\n");

  // A "for" header inside another keeps its variables to itself.
  parser.PushScope(kScopeFor, nullptr);
  parser.PushScope(kScopeFor, nullptr);
  Declare("k", Scalar(kBaseInt));
  parser.PopScope();
  EXPECT_EQ(Var("k"), nullptr);
  EXPECT_TRUE(Logged("error X3004: undeclared identifier 'k'"));
}

TEST_F(GxlHlslScopes, FunctionsPrototypesAndBodies) {
  ASSERT_NE(Function("f", Scalar(kBaseFloat), {{"x", Scalar(kBaseFloat)}}, false), nullptr);
  ASSERT_NE(Function("f", Scalar(kBaseFloat), {{"y", Scalar(kBaseFloat)}}, true), nullptr);
  EXPECT_EQ(Log(), "<null>");
  EXPECT_EQ(parser.FunctionCount(), 1u);
  Function("f", Scalar(kBaseFloat), {{"z", Scalar(kBaseFloat)}}, true);
  EXPECT_EQ(Log(), "(7): error X3069: 'f' already has a body\n");
  pp.Log().Reset();
  Function("f", Scalar(kBaseHalf), {{"x", Scalar(kBaseFloat)}}, false);
  EXPECT_EQ(Log(), "(7): error X3068: 'f': function return value differs from prototype\n");
  pp.Log().Reset();
  ASSERT_NE(Function("f", Scalar(kBaseFloat), {{"x", Scalar(kBaseHalf)}}, true), nullptr);  // an overload
  EXPECT_EQ(parser.FunctionCount(), 2u);
  EXPECT_EQ(Log(), "<null>");

  const struct {
    const char* text;
    std::uint32_t usage;
    ParseNode* returnType;
    bool semantic;
  } bad[] = {
      {"(7): error X3076: 'g0': void function cannot have a semantic\n", 0, nullptr, true},
      {"(7): error X3047: 'g1': functions cannot be declared 'uniform'\n", kUsageUniform, Scalar(kBaseFloat), false},
      {"(7): error X3006: 'g2': functions cannot be declared 'extern'\n", kUsageExtern, Scalar(kBaseFloat), false},
      {"(7): error X3038: 'g3': function return value must be numeric\n", 0, Obj(22), false},
  };
  int i = 0;
  for (const auto& b : bad) {
    pp.Log().Reset();
    Function("g" + std::to_string(i++), b.returnType, {}, true, b.usage,
             b.semantic ? new ParseNodeKind17(nullptr, nullptr) : nullptr);
    EXPECT_EQ(Log(), b.text);
  }
  pp.Log().Reset();
  Function("h", nullptr, {{"a", Scalar(kBaseFloat), 0, Int(1)}, {"b", Scalar(kBaseFloat)}}, true);
  EXPECT_EQ(Log(), "(7): error X3044: 'h': missing default value for parameter 'b'\n");

  // A body's own declaration may not reuse a parameter's name.
  pp.Log().Reset();
  Function("k", nullptr, {{"p", Scalar(kBaseFloat)}}, true, 0, nullptr, true);
  parser.PushScope(kScopeBlock, nullptr);
  EXPECT_EQ(Declare("p", Scalar(kBaseFloat)), nullptr);
  parser.PopScope();
  parser.EndFunction(true, nullptr);
  Declare("k", Scalar(kBaseFloat));
  EXPECT_EQ(Var("k"), nullptr);
  EXPECT_EQ(Log(),
            "(7): error X3036: redefinition of formal parameter 'p'\n"
            "(7): error X3003: redefinition of 'k'\n"
            "(7): error X3005: 'k': identifier represents a function, not a variable\n");
  EXPECT_EQ(parser.CurrentScope()->ownerKind, kScopeGlobal);
}

TEST_F(GxlHlslScopes, ArrayDimensions) {
  auto list = [&](int n) {
    ParseNode* l = nullptr;
    for (int i = 0; i < n; ++i) l = AppendToList(l, new ListNode(Int(i), nullptr, "Values"));
    return l;
  };
  ParseNode* a = Declare("a", Scalar(kBaseFloat), 0, list(4), {nullptr});
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(TypeText(VariableOf(a)->nodes[0]), "float[4]");
  EXPECT_EQ(Values(VariableOf(a)->nodes[2]), (std::vector<double>{0, 1, 2, 3}));
  const struct {
    ParseNode* type;
    ParseNode* value;
    std::vector<ParseNode*> dims;
    const char* message;
  } cases[] = {
      {Vec(kBaseFloat, 2), list(3), {nullptr}, "error X3075: 'x': implicit array type does not match initial value"},
      {Scalar(kBaseFloat), nullptr, {nullptr}, "error X3074: 'x': implicit array missing initial value"},
      {Scalar(kBaseFloat), nullptr, {Int(2), nullptr}, "error X3073: 'x': secondary array dimensions must be explicit"},
      {Scalar(kBaseFloat), nullptr, {Int(0)}, "error X3059: 'x': array dimension must be between 1 and 65536"},
      {Scalar(kBaseFloat), nullptr, {Int(0xFFFFFFFFu)}, "error X3059"},
      {Scalar(kBaseFloat), nullptr, {Int(65537), Int(65535)}, "error X3059"},
      {Scalar(kBaseFloat), nullptr, {Int(256), Int(257)}, "error X3059"},
      {Array(Scalar(kBaseFloat), 256), nullptr, {Int(257)}, "error X3059"},
      {Vec(kBaseFloat, 4), nullptr, {Int(65536), Int(65)}, "error X3059"},
      {Mat(kBaseFloat, 4, 4), nullptr, {Int(65536), Int(1), Int(1)}, nullptr},
      {Struct({Array(Mat(kBaseFloat, 4, 4), 4096)}), nullptr, {Int(512)}, "error X3059"},
      {Scalar(kBaseFloat), nullptr, {Float(2.9999995)}, nullptr},
      {Scalar(kBaseFloat),
       nullptr,
       {Var("a")},
       "error X3058: 'x': array dimensions must be literal scalar expressions"},
  };
  for (const auto& c : cases) {
    pp.Log().Reset();
    ParseNode* d = Declare("x", c.type, kUsageStatic, c.value, c.dims);
    EXPECT_EQ(d == nullptr, c.message != nullptr) << Log();
    if (c.message) {
      EXPECT_TRUE(Logged(c.message)) << Log();
    } else {
      parser.PopScope();  // each accepted x goes with its scope
      parser.PushScope(kScopeGlobal, nullptr);
    }
  }
  parser.PushScope(kScopeStruct, nullptr);
  EXPECT_EQ(Declare("m", Scalar(kBaseFloat), 0, list(2), {nullptr}), nullptr);
  EXPECT_TRUE(Logged("error X3072: 'm': array dimensions of structure members must be explicit"));
  // A struct's members together stay within the component limit.
  for (int i = 0; i < 16; ++i) {
    EXPECT_NE(Declare("m" + std::to_string(i), Mat(kBaseFloat, 4, 4), 0, nullptr, {Int(65536)}), nullptr);
  }
  EXPECT_EQ(Declare("last", Scalar(kBaseFloat)), nullptr);
  EXPECT_TRUE(Logged("error X3059: 'last'"));
}

TEST_F(GxlHlslScopes, NamesInOneScopeAndLookupByClass) {
  // Many names: every one found, byte order (case) kept apart, newest first.
  for (int i = 0; i < 3000; ++i) Declare("n" + std::to_string(i * 7919 % 3000), Scalar(kBaseFloat));
  Declare("N1", Scalar(kBaseInt));
  for (int i = 0; i < 3000; ++i) {
    ASSERT_NE(parser.FindNames(("n" + std::to_string(i)).c_str(), parser.CurrentScope()), nullptr);
  }
  EXPECT_EQ(TypeText(TypeOf(Var("N1"))), "int");
  EXPECT_EQ(TypeText(TypeOf(Var("n1"))), "float");

  ParseNode* found = nullptr;
  EXPECT_EQ(parser.LookupName(kDeclType, Name("n1"), nullptr, 0, parser.CurrentScope(), 0, &found, nullptr), E_FAIL);
  EXPECT_EQ(Log(), "<null>");  // a silent class check
  EXPECT_EQ(parser.LookupName(kDeclType, Name("n1"), nullptr, 0, parser.CurrentScope(), kLookupReport, &found, nullptr),
            E_FAIL);
  EXPECT_TRUE(Logged("'n1': identifier represents a variable, not a type"));
  EXPECT_EQ(parser.LookupName(kDeclVariable, Name("zz"), nullptr, 0, parser.CurrentScope(), 0, &found, nullptr),
            S_FALSE);
  // "NULL" is a constant object whose value folds into uses.
  ParseNode* null = Var("NULL");
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(TypeText(TypeOf(null)), "NULL");
  EXPECT_TRUE(parser.IsLiteral(null));
  EXPECT_EQ(parser.PopScope(), S_OK);
  EXPECT_EQ(parser.PopScope(), E_FAIL);
  EXPECT_TRUE(parser.IsFatal());
}

// Closing a scope drops its names and no other scope's: nested scopes that
// each shadow "x" resolve to the innermost open one at every depth.
TEST_F(GxlHlslScopes, ClosingAScopeDropsOnlyItsNames) {
  Declare("x", Scalar(kBaseFloat));
  std::vector<const ScopeNode*> closed;
  constexpr int kDepth = 40;
  for (int d = 1; d <= kDepth; ++d) {
    ASSERT_EQ(parser.PushScope(kScopeBlock, nullptr), S_OK);
    Declare("x", Scalar(d % 2 ? kBaseInt : kBaseFloat));
    Declare("y" + std::to_string(d), Scalar(kBaseBool));
  }
  for (int d = kDepth; d >= 1; --d) {
    EXPECT_EQ(TypeText(TypeOf(Var("x"))), d % 2 ? "int" : "float") << d;
    EXPECT_NE(parser.FindNames(("y" + std::to_string(d)).c_str(), parser.CurrentScope()), nullptr) << d;
    closed.push_back(parser.CurrentScope());
    ASSERT_EQ(parser.PopScope(), S_OK);
    EXPECT_EQ(parser.FindNames(("y" + std::to_string(d)).c_str(), parser.CurrentScope()), nullptr) << d;
  }
  EXPECT_EQ(TypeText(TypeOf(Var("x"))), "float");
  for (const ScopeNode* scope : closed) EXPECT_EQ(parser.FindNames("x", scope), nullptr);
  EXPECT_EQ(Log(), "<null>");
}

}  // namespace
