// Generated expressions against the generator's own values: built through
// the parser's operations or parsed from the generator's HLSL text, lowered
// with the variables as inputs, and as literals with folding on and off.
#include "tests/support/hlslgen/hlslgen.h"

#include <cmath>
#include <functional>
#include <map>

#include "generated_vertex_body.h"
#include "lower_fixture.h"
#include "lower_run.h"
#include "tests/gxl/shader/hlsl_parse_run.h"

namespace compilertest {
namespace {

using hlslgen::Base;
using hlslgen::Generator;
using hlslgen::Kind;
using hlslgen::Op;

constexpr std::uint32_t kSeeds = 2000;
constexpr std::uint32_t kBatches = 20;

std::uint32_t ExpressionCode(Op op) {
  static const std::map<Op, std::uint32_t> kCodes = {{Op::Negate, kExprNegate},
                                                     {Op::Plus, kExprPlus},
                                                     {Op::Not, kExprNot},
                                                     {Op::Add, kExprAdd},
                                                     {Op::Subtract, kExprSubtract},
                                                     {Op::Multiply, kExprMultiply},
                                                     {Op::Divide, kExprDivide},
                                                     {Op::Modulo, kExprModulo},
                                                     {Op::Less, kExprLess},
                                                     {Op::Greater, kExprGreater},
                                                     {Op::LessEqual, kExprLessEqual},
                                                     {Op::GreaterEqual, kExprGreaterEqual},
                                                     {Op::Equal, kExprEqual},
                                                     {Op::NotEqual, kExprNotEqual},
                                                     {Op::And, kExprAnd},
                                                     {Op::Or, kExprOr}};
  return kCodes.at(op);
}

// The first return statement of a function body.
const StatementNode* FindReturn(const ParseNode* node, std::uint32_t depth = 0) {
  if (!node || depth > 64) return nullptr;
  if (node->kind == NodeKind::Statement) {
    const auto* s = static_cast<const StatementNode*>(node);
    if (s->code == kStatementReturn) return s;
    for (const ParseNode* c : s->children)
      if (const StatementNode* r = FindReturn(c, depth + 1)) return r;
    return nullptr;
  }
  for (const ParseNode* c = node; c && c->kind == NodeKind::List; c = c->second)
    if (const StatementNode* r = FindReturn(c->first, depth + 1)) return r;
  return nullptr;
}

// Within 1e-5 of the generator's value, relative to its size.
::testing::AssertionResult Near(const std::vector<double>& got, const std::vector<double>& want) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values for " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (!(std::fabs(got[i] - want[i]) <= 1e-5 * std::max(1.0, std::fabs(want[i]))))
      return ::testing::AssertionFailure() << "component " << i << ": " << got[i] << " for " << want[i];
  return ::testing::AssertionSuccess();
}

// A target per seed: each way of comparing, selecting and indexing.
struct Target {
  std::uint32_t operationCaps, flowCaps;
};
constexpr Target kTargets[] = {{0, 0},
                               {kCapCompareBySelect, kFlowComparison | kFlowRelativeArrays},
                               {kCapBlendedSelect, kFlowRelativeArrays},
                               {kCapCompareBySelect | kCapSelectOneGuard | kCapFractionalIndex, 0}};

class GxlHlslGen : public LowerTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  ParseNode* TypeNodeOf(const hlslgen::Type& t) {
    const std::uint32_t base = t.base == Base::Bool ? kBaseBool : t.base == Base::Int ? kBaseInt : kBaseFloat;
    return t.matrix ? static_cast<ParseNode*>(Mat(base, t.rows, t.columns)) : Vec(base, t.columns);
  }
  // The generator's tree through the parser's operations.
  ParseNode* Build(const Generator& g, std::uint32_t i, const std::string& prefix) {
    const hlslgen::Node& n = g.At(i);
    auto child = [&](std::size_t k) { return Build(g, n.children[k], prefix); };
    switch (n.kind) {
      case Kind::Literal: {
        const double x = n.value[0];
        if (n.type.base == Base::Bool) return Bool(x != 0);
        ParseNode* magnitude =
            n.type.base == Base::Int ? Int(static_cast<std::uint32_t>(std::fabs(x))) : Float(std::fabs(x));
        return x < 0 ? parser.MakeOperator(kExprNegate, magnitude, nullptr) : magnitude;
      }
      case Kind::Variable:
        return Var(prefix + g.Variables()[n.variable].name);
      case Kind::Unary:
        return parser.MakeOperator(ExpressionCode(n.op), child(0), nullptr);
      case Kind::Binary:
        return parser.MakeOperator(ExpressionCode(n.op), child(0), child(1));
      case Kind::Conditional:
        return parser.MakeConditional(child(0), child(1), child(2));
      case Kind::Cast:
        return parser.MakeConstructor(TypeNodeOf(n.type), child(0), true, false);
      case Kind::Construct: {
        ParseNode* list = nullptr;
        for (std::size_t k = 0; k < n.children.size(); ++k)
          list = AppendToList(list, new ListNode(child(k), nullptr, "Arguments"));
        return parser.MakeConstructor(TypeNodeOf(n.type), list, false, false);
      }
      case Kind::Swizzle: {
        const std::string text = g.Text(i);
        return parser.MakeSelection(child(0), Name(text.substr(text.rfind('.') + 1)));
      }
      case Kind::Index:
        return parser.MakeIndex(child(0), n.picks.empty() ? child(1) : Int(n.picks[0]));
      case Kind::Call: {
        ParseNode* list = nullptr;
        for (std::size_t k = 0; k < n.children.size(); ++k)
          list = AppendToList(list, new ListNode(child(k), nullptr, "Arguments"));
        return parser.ResolveCall(Name(hlslgen::FnName(n.fn)), list, false);
      }
      case Kind::Local:  // only in flow-control programs
      case Kind::Element:
      case Kind::LocalElement:
      case Kind::Parameter:
      case Kind::UserCall:
        break;
    }
    return nullptr;
  }
};

TEST_P(GxlHlslGen, ParserBuiltTreesGiveTheGeneratorsValues) {
  std::uint32_t folded = 0, unfolded = 0;
  for (std::uint32_t seed = GetParam(); seed < kSeeds; seed += kBatches) {
    const Generator g(seed);
    const std::string prefix = "s" + std::to_string(seed) + "_";
    std::vector<ParseNode*> declarations;
    for (const hlslgen::Variable& v : g.Variables())
      declarations.push_back(Declare(prefix + v.name, TypeNodeOf(v.type)));
    ParseNode* tree = Build(g, g.Root(), prefix);
    ASSERT_NE(tree, nullptr) << g.Text(g.Root()) << "\n" << Log();
    const std::vector<double>& want = g.At(g.Root()).value;
    const Target& target = kTargets[seed % std::size(kTargets)];
    // Inputs; then literals, with folding on and off.
    for (std::uint32_t run = 0; run < 3; ++run) {
      Start(target.operationCaps, target.flowCaps, run == 2 ? kOptionNoOptimisation : 0);
      for (std::size_t k = 0; k < declarations.size(); ++k) {
        if (run == 0)
          BindInput(declarations[k], g.Variables()[k].value);
        else
          Bind(declarations[k], BankOf(StandardBank::Literals), 0, &g.Variables()[k].value);
      }
      EXPECT_TRUE(Near(LowerAndRun(tree), want)) << "seed " << seed << ", run " << run << ": " << g.Text(g.Root());
      // Literals fold: what is left is mostly moves of literals (the
      // truncation's kept move widens its range on purpose, so it stays).
      std::uint32_t computed = 0;
      for (std::uint32_t i = 0; i < program->instructions.Count(); ++i)
        computed += program->Instruction(i)->Group() != kOpMove;
      if (run) (run == 1 ? folded : unfolded) += computed;
    }
  }
  EXPECT_LT(2 * folded, unfolded);
}

INSTANTIATE_TEST_SUITE_P(Seeds, GxlHlslGen, ::testing::Range(0u, kBatches));

// The generator's text, parsed as the body of a function whose parameters
// are the variables, lowers to the same values.
TEST(GxlHlslGenText, ParsedTextGivesTheGeneratorsValues) {
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    const Generator g(seed);
    const std::string text =
        g.At(g.Root()).type.Name() + " f(" + g.Parameters() + ") { return " + g.Text(g.Root()) + "; }\n";
    shadertest::ParseRun parse(text);
    ASSERT_EQ(parse.hr, S_OK) << text << parse.log;
    const ParseNodeKind10* f = FunctionDescription(parse.Find("f"));
    ASSERT_NE(f, nullptr);
    const StatementNode* ret = FindReturn(f->body);
    ASSERT_NE(ret, nullptr) << text;

    PagePool irPages{0x100000, 0x10000};
    IrPoolScope scope{&irPages};
    ShaderCompiler compiler;
    const Target& target = kTargets[seed % std::size(kTargets)];
    irkit::RecordingTarget* program =
        StartProgram(compiler, parse.pp, irkit::RecordingTarget::Limits(target.operationCaps, target.flowCaps), 0);
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(compiler.ResetValueMap(parse.parser.SymbolSlotCount()), S_OK);
    std::uint32_t reg = 0;
    for (const ParseNode* p = f->parameters; p; p = p->second) {
      const ParseNodeKind11* v = VariableDescription(p->first);
      ASSERT_NE(v, nullptr);
      std::vector<std::uint32_t> values;
      for (std::uint32_t i = 0; i < v->valueCount; ++i, ++reg) {
        values.push_back(program->AddValue(program->StandardBankIndex(StandardBank::Inputs), reg, 0, 0.0));
        IrValue* x = program->Value(values.back());
        x->symbolSlot = v->symbol + i;
        x->declaration = static_cast<DeclarationNode*>(p->first);
        compiler.valueMap[v->symbol + i] = values.back();
      }
      ASSERT_EQ(compiler.ApplyTypeFlags(v->nodes[0], values.data(), v->valueCount), S_OK);
    }
    std::vector<double> inputs;
    for (const hlslgen::Variable& v : g.Variables()) inputs.insert(inputs.end(), v.value.begin(), v.value.end());
    const ParseNodeKind13* e = AsExpression(ret->children[0]);
    ASSERT_NE(e, nullptr);
    std::vector<std::uint32_t> out(e->rows * e->columns, kNoIndex);
    ASSERT_EQ(compiler.LowerExpression(e, out.data(), 0), S_OK) << text << shadertest::LogText(parse.pp.Log());
    // Moved into temporaries, so that parameters returned as they are are read too.
    std::vector<std::uint32_t> moved(out.size(), kNoIndex);
    ASSERT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, static_cast<std::uint32_t>(out.size())), moved.data(),
                                       out.data(), nullptr, 0),
              S_OK);
    irkit::IrInterpreter interpreter(*program);
    for (std::uint32_t r = 0; r < inputs.size(); ++r)
      interpreter.SetRegister(program->StandardBankIndex(StandardBank::Inputs), r, 0, inputs[r]);
    ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
    EXPECT_TRUE(Near(interpreter.Values(moved), g.At(g.Root()).value)) << "seed " << seed << ": " << text;
  }
}

// Over many seeds the generator reaches every kind of node and every operator.
TEST(GxlHlslGenCoverage, EveryKindAndOperatorOccurs) {
  std::map<Kind, int> kinds;
  std::map<Op, int> ops;
  std::map<hlslgen::Fn, int> calls;
  int literalIndexes = 0, variableIndexes = 0, matrices = 0;
  for (std::uint32_t seed = 0; seed < 500; ++seed) {
    const Generator g(seed, hlslgen::Options{.samplers = true});
    for (const hlslgen::Node& n : g.Nodes()) {
      ++kinds[n.kind];
      ++ops[n.op];
      ++calls[n.fn];
      if (n.kind == Kind::Index) ++(n.picks.empty() ? variableIndexes : literalIndexes);
      matrices += n.type.matrix;
      // Every value stays finite and within the generator's bound.
      for (double x : n.value) EXPECT_TRUE(std::isfinite(x) && std::fabs(x) <= 1e4) << "seed " << seed;
    }
  }
  for (Kind k : {Kind::Literal, Kind::Variable, Kind::Unary, Kind::Binary, Kind::Conditional, Kind::Cast,
                 Kind::Construct, Kind::Swizzle, Kind::Index, Kind::Call})
    EXPECT_GT(kinds[k], 20) << static_cast<int>(k);
  for (std::uint32_t f = 1; f < static_cast<std::uint32_t>(hlslgen::Fn::Count); ++f)
    EXPECT_GT(calls[static_cast<hlslgen::Fn>(f)], 0) << hlslgen::FnName(static_cast<hlslgen::Fn>(f));
  for (std::uint32_t op = static_cast<std::uint32_t>(Op::Negate); op <= static_cast<std::uint32_t>(Op::Or); ++op)
    EXPECT_GT(ops[static_cast<Op>(op)], 10) << hlslgen::OpText(static_cast<Op>(op));
  EXPECT_GT(literalIndexes, 10);
  EXPECT_GT(variableIndexes, 10);
  EXPECT_GT(matrices, 50);
}

// --- Flow control ------------------------------------------------------------------

using hlslgen::Statement;

struct FlowTarget {
  const char* name;
  ProfileLimits limits;
  std::uint32_t version;
};
// Targets with loops and dynamic ifs, and targets that unroll and guard.
const FlowTarget kFlowTargets[] = {{"vs_3_0", Vs30(), 0xFFFE0300},
                                   {"ps_3_0", Ps30(), 0xFFFF0300},
                                   {"vs_2_0", Vs20(), 0xFFFE0200},
                                   {"ps_2_0", Ps20(), 0xFFFF0200}};

// A vertex function over uniforms that computes r in `body` and writes its
// rows to TEXCOORD0 to 3, lowered for the target and run: r's components.
std::vector<double> LowerAndRunBody(const std::string& uniforms, const std::string& body, const hlslgen::Type& t,
                                    std::map<std::string, std::vector<double>> values, const FlowTarget& target,
                                    std::string* text) {
  *text = uniforms +
          "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 t0 : TEXCOORD0, out float4 t1 : "
          "TEXCOORD1, out float4 t2 : TEXCOORD2, out float4 t3 : TEXCOORD3) {\n" +
          body + "}\n";
  LowerRun run(*text, "main", target.limits, 0, target.version);
  EXPECT_EQ(run.hr, S_OK) << target.name << "\n" << *text << run.log;
  if (FAILED(run.hr)) return {};
  values["p"] = {0, 0, 0, 1};
  for (auto at = values.begin(); at != values.end();)  // variables the program does not read
    at = run.Placed(at->first).empty() ? values.erase(at) : std::next(at);
  const std::vector<double> out = run.Run(values);
  std::vector<double> r;
  for (std::uint32_t i = 0; i < t.rows; ++i)  // pos first, then a register per row
    for (std::uint32_t j = 0; j < t.columns && 4 * (i + 1) + j < out.size(); ++j) r.push_back(out[4 * (i + 1) + j]);
  return r;
}

std::vector<double> LowerAndRun(const Generator& g, const FlowTarget& target, std::string* text) {
  std::string uniforms;
  std::map<std::string, std::vector<double>> values;
  for (const hlslgen::Variable& v : g.Variables()) {
    uniforms += "uniform " + std::string(v.type.matrix ? "row_major " : "") + v.type.Name() + " " + v.name + ";\n";
    values[v.name] = v.value;
  }
  return LowerAndRunBody(uniforms, shadertest::GeneratedVertexBody(g), g.ResultType(), values, target, text);
}

// Programs written by hand in the generator's shapes, through the same
// lowering and run, against values worked out here: the yardstick for the
// generated ones below.
TEST(GxlHlslGenFlow, HandWrittenProgramsGiveTheirValues) {
  struct Case {
    const char* body;
    std::vector<double> want;  // r's four components, for a = 1.5, b = -2, n = 3
  };
  const Case kCases[] = {
      {"float4 r = float4(a, b, 0, 1);\nfor (int i0 = 0; (i0 < 5); i0++) {\n  r += (float4(1, 0.5, 0, 0) * "
       "((float)i0));\n}\n",
       {1.5 + 10, -2 + 5, 0, 1}},
      // Nested loops; the inner one reads both counters.
      {"float4 r = 0;\nfor (int i0 = 0; (i0 < 4); i0++) {\n  for (int i1 = 0; (i1 < 3); i1++) {\n    r.x += "
       "((float)(i0 * i1));\n  }\n  r.y -= a;\n}\n",
       {6 * 3, -6, 0, 0}},
      // A condition on r ends the loop early: 0, 1.5, 3, 4.5.
      {"float4 r = 0;\nfor (int i0 = 0; ((i0 < 8) && (r.x < 4)); i0++) {\n  r.x += a;\n  r.w = i0;\n}\n",
       {4.5, 0, 0, 2}},
      // ... and one on a uniform, before the first iteration.
      {"float4 r = 1;\nfor (int i0 = 0; ((i0 < 8) && (b > 0)); i0++) {\n  r *= 2;\n}\n", {1, 1, 1, 1}},
      {"float4 r = float4(n, 0, 0, 0);\nif ((a > 1)) {\n  if ((b < 0)) {\n    r.y = 1;\n  } else {\n    r.y = 2;\n  "
       "}\n  r.x -= 7;\n} else {\n  r.z = 3;\n}\n",
       {-4, 1, 0, 0}},
      // An if inside a loop, on the counter.
      {"float4 r = 0;\nfor (int i0 = 0; (i0 < 6); i0++) {\n  if ((i0 >= n)) {\n    r.x += i0;\n  } else {\n    r.y "
       "-= 1;\n  }\n}\n",
       {3 + 4 + 5, -3, 0, 0}},
      // A comparison of what the loop made.
      {"float4 r = float4(b, 0, 0, 0);\nfor (int i0 = 0; (i0 < 3); i0++) {\n  r.x = (r.x * a);\n}\nif ((r.x < (-6))) "
       "{\n  r.w = 1;\n}\n",
       {-6.75, 0, 0, 1}},
  };
  const std::map<std::string, std::vector<double>> values = {{"a", {1.5}}, {"b", {-2}}, {"n", {3}}};
  const hlslgen::Type float4{Base::Float, 1, 4, false};
  for (const Case& c : kCases)
    for (const FlowTarget& target : kFlowTargets) {
      std::string text;
      const std::vector<double> got =
          LowerAndRunBody("uniform float a;\nuniform float b;\nuniform int n;\n",
                          std::string("  t1 = 0;\n  t2 = 0;\n  t3 = 0;\n  pos = p;\n") + c.body + "  t0 = r;\n", float4,
                          values, target, &text);
      EXPECT_TRUE(Near(got, c.want)) << target.name << "\n" << text;
    }
}

// Generated programs lowered for each kind of target give the generator's
// own values: 400 seeds, a quarter per target.
class GxlHlslGenFlowTargets : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(GxlHlslGenFlowTargets, FrontEndGivesTheGeneratorsValues) {
  const FlowTarget& target = kFlowTargets[GetParam()];
  std::uint32_t compared = 0;
  for (std::uint32_t seed = GetParam(); seed < 400; seed += std::size(kFlowTargets)) {
    const Generator g(seed, hlslgen::Options{.maxDepth = 4, .flowControl = true});
    std::string text;
    const std::vector<double> got = LowerAndRun(g, target, &text);
    EXPECT_TRUE(Near(got, g.Result())) << "seed " << seed << "\n" << text;
    compared += got.size() == g.Result().size();
  }
  EXPECT_EQ(compared, 100u);
}

INSTANTIATE_TEST_SUITE_P(Targets, GxlHlslGenFlowTargets, ::testing::Range(0u, 4u),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                           return std::string(kFlowTargets[info.param].name);
                         });

// A seed gives one program and one value; every loop keeps to its bounds and
// every program to the instruction estimate; and over many seeds the
// programs hold every shape the option promises.
TEST(GxlHlslGenFlow, ProgramsAreRepeatableBoundedAndVaried) {
  std::map<std::string, int> shapes;
  for (std::uint32_t seed = 0; seed < 250; ++seed) {
    const hlslgen::Options options{.maxDepth = 4, .flowControl = true, .maxLoopCount = 6, .maxInstructions = 400};
    const Generator g(seed, options);
    if (seed % 5 == 0) {
      const Generator again(seed, options);
      ASSERT_EQ(g.Body(), again.Body()) << "seed " << seed;
      ASSERT_EQ(g.Result(), again.Result()) << "seed " << seed;
    }
    const std::vector<Statement>& program = g.Statements();
    ASSERT_FALSE(g.TopLevel().empty());
    EXPECT_TRUE(program[g.TopLevel()[0]].declares);
    if (g.TopLevel().size() > 1) {
      EXPECT_LE(g.EstimatedInstructions(), 400u) << "seed " << seed;
    }
    for (double x : g.Result()) EXPECT_TRUE(std::isfinite(x) && std::fabs(x) <= 1e4) << "seed " << seed;
    // Loops: counts within the option, nests within 1,024 iterations.
    std::function<void(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t)> walk =
        [&](std::uint32_t k, std::uint32_t ifs, std::uint32_t loops, std::uint32_t iterations) {
          const Statement& s = program[k];
          if (s.kind == Statement::Kind::For) {
            EXPECT_GE(s.count, 1u);
            EXPECT_LE(s.count, 6u);
            iterations *= s.count;
            EXPECT_LE(iterations, 1024u);
            ++shapes[loops ? "nested loop" : "loop"];
            if (g.At(s.value).op == Op::And) ++shapes["loop ending early"];
            ++loops;
            const std::string text = g.Text(program[s.body[0]].value);
            if (text.find(g.Locals()[s.counter].name) != std::string::npos) ++shapes["counter read in the body"];
          } else if (s.kind == Statement::Kind::If) {
            ++shapes[ifs ? "nested if" : "if"];
            if (!s.otherwise.empty()) ++shapes["else"];
            ++ifs;
          } else if (s.component >= 0) {
            ++shapes["component written"];
          } else if (s.op != Op::None) {
            ++shapes["accumulation"];
          }
          EXPECT_LE(ifs, options.maxIfDepth);
          EXPECT_LE(loops, options.maxLoopDepth);
          for (std::uint32_t b : s.body) walk(b, ifs, loops, iterations);
          for (std::uint32_t b : s.otherwise) walk(b, ifs, loops, iterations);
        };
    for (std::uint32_t k : g.TopLevel()) walk(k, 0, 0, 1);
  }
  for (const char* shape : {"loop", "nested loop", "loop ending early", "counter read in the body", "if", "nested if",
                            "else", "component written", "accumulation"})
    EXPECT_GT(shapes[shape], 20) << shape;
}

}  // namespace
}  // namespace compilertest
