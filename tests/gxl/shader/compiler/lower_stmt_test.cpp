// Lowering of functions and statements: inlining, parameters, semantics and
// outputs of the entry, discards, register binding, and the forms of if.
#include <functional>

#include "lower_run.h"
#include "tests/support/hlslgen/hlslgen.h"

namespace compilertest {
namespace {

TEST(GxlLowerStmt, CallsAreInlinedWithTheirParameters) {
  LowerRun run(R"(
static float k = 3;
float scaled(float x, out float twice, inout float acc) { twice = x * 2; acc += x; return x * k; }
float4 main(float2 uv : TEXCOORD0, float c : COLOR0) : COLOR {
  float t, acc = 1;
  float r = scaled(uv.x, t, acc) + scaled(uv.y, t, acc);
  if (c > 0.5) r = r + t; else r = r - acc;
  return float4(r, t, acc, 1);
})",
               "main", Ps30());
  ASSERT_EQ(run.hr, S_OK) << run.log;
  // The second call's outputs win; both calls add to acc.
  EXPECT_EQ(run.Run({{"uv", {0.25, 0.5}}, {"c", {0.75}}}), (std::vector<double>{3 * 0.75 + 1, 1, 1.75, 1}));
  EXPECT_EQ(run.Run({{"uv", {0.25, 0.5}}, {"c", {0.25}}}), (std::vector<double>{3 * 0.75 - 1.75, 1, 1.75, 1}));
}

// A chain of calls to distinct functions, each inlined into the next.
std::string CallChain(int n) {
  std::string text = "float f0(float x) { return x + 1; }\n";
  for (int i = 1; i < n; ++i)
    text += "float f" + std::to_string(i) + "(float x) { return f" + std::to_string(i - 1) + "(x) + 1; }\n";
  return text + "float4 main(float a : TEXCOORD0) : COLOR { return f" + std::to_string(n - 1) + "(a); }\n";
}

TEST(GxlLowerStmt, AChainOf300DistinctCallsInlines) {
  LowerRun run(CallChain(300), "main", Ps30());
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.Run({{"a", {0.5}}}), (std::vector<double>{300.5, 300.5, 300.5, 300.5}));
  // Deeper than 1024 inlined calls is refused before the stack runs out.
  LowerRun deep(CallChain(1030), "main", Ps30());
  EXPECT_EQ(deep.hr, E_FAIL);
  EXPECT_TRUE(deep.Logged("internal error: expression too complex")) << deep.log.substr(0, 200);
}

// The messages of the function lowering, with their positions.
TEST(GxlLowerStmt, FunctionErrorsAreReported) {
  struct Case {
    const char* text;
    const char* message;
    HRESULT hr;
  };
  const Case kCases[] = {
      {"float f(float x) { return f(x); }\nfloat4 main(float a : TEXCOORD0) : COLOR { return f(a); }",
       "(1): error X3500: 'f': recursive functions not yet implemented", E_NOTIMPL},
      {"float g(float x);\nfloat f(float x) { return g(x); }\nfloat g(float x) { return f(x); }\n"
       "float4 main(float a : TEXCOORD0) : COLOR { return f(a); }",
       "(2): error X3500: 'f': recursive functions not yet implemented", E_NOTIMPL},
      {"float4 main(float a) : COLOR { return a; }", "(1): error X3502: 'main': input parameter 'a' missing semantics",
       E_FAIL},
      {"float4 main(float a : TEXCOORD0) { return a; }",
       "(1): error X3503: 'main': function return value missing semantics", E_FAIL},
      {"void main(float a : TEXCOORD0, out float4 c) { c = a; }",
       "(1): error X3503: 'main': output parameter 'c' missing semantics", E_FAIL},
      {"void main(float a : TEXCOORD0, out float4 c : COLOR) { float4 d = a; }",
       "(1): error X3508: 'main': output parameter 'c' never assigned a value", E_FAIL},
      {"float f(float x) { }\nfloat4 main(float a : TEXCOORD0) : COLOR { return f(a); }",
       "(1): error X3507: 'f': function must return a value", E_FAIL},
      {"float4 main(float a : TEXCOORD0) : COLOR { if (a > 0) return 1; float b = a * 2; return b; }",
       "(1): error X3500: asymetric returns from if statements not yet implemented", E_NOTIMPL},
  };
  for (const Case& c : kCases) {
    LowerRun run(c.text, "main", Ps30());
    EXPECT_EQ(run.hr, c.hr) << c.text << "\n" << run.log;
    EXPECT_TRUE(run.Logged(c.message)) << c.text << "\n" << run.log;
  }
}

TEST(GxlLowerStmt, EntryParametersAndOutputs) {
  // Two inputs with one semantic read one register: the second is the first.
  LowerRun same("float4 main(float2 a : TEXCOORD1, float2 b : TEXCOORD1) : COLOR { return float4(a, b); }", "main",
                Ps30());
  ASSERT_EQ(same.hr, S_OK) << same.log;
  EXPECT_EQ(same.Run({{"a", {1, 2}}, {"b", {3, 4}}}), (std::vector<double>{1, 2, 1, 2}));
  EXPECT_EQ(same.program->semanticChecks.size(), 4u + 4u);  // the inputs, then the outputs
  // A uniform parameter is named apart from the globals: $scale.
  LowerRun scale("float4 main(uniform float scale, float4 a : TEXCOORD0) : COLOR { return a * scale; }", "main",
                 Ps30());
  ASSERT_EQ(scale.hr, S_OK) << scale.log;
  EXPECT_TRUE(scale.Placed("scale").empty());
  EXPECT_EQ(scale.Run({{"$scale", {2}}, {"a", {1, 2, 3, 4}}}), (std::vector<double>{2, 4, 6, 8}));
  // A refused semantic fails the function.
  LowerRun refused("float4 main(float4 a : TEXCOORD0) : COLOR { return a; }", "main", Ps30(), 0, 0xFFFF0300, true);
  EXPECT_EQ(refused.hr, E_FAIL);
  // Struct members carry their own semantics, each counting registers from 0.
  LowerRun members(R"(
struct In { float2 uv : TEXCOORD2; float4x2 m : TEXCOORD4; float4 c : COLOR1; };
struct Out { float4 p : POSITION; float2 t : TEXCOORD0; };
Out main(In i) { Out o; o.p = i.c; o.t = i.uv + i.m[3]; return o; })",
                   "main", Vs30(), 0, 0xFFFE0300);
  ASSERT_EQ(members.hr, S_OK) << members.log;
  std::map<std::uint32_t, std::uint32_t> keys;  // semantic word -> components
  for (const IrValue* v : members.Placed("i")) ++keys[v->registerKey];
  // The matrix lies by columns: two registers of four.
  EXPECT_EQ(keys, (std::map<std::uint32_t, std::uint32_t>{{0x20006, 2}, {0x40006, 4}, {0x50006, 4}, {0x1000B, 4}}));
  EXPECT_EQ(members.Run({{"i", {1, 2, 0, 0, 0, 0, 0, 0, 5, 6, 7, 8, 9, 10}}}),
            (std::vector<double>{7, 8, 9, 10, 6, 8}));
}

TEST(GxlLowerStmt, DiscardsAtTheTopOfTheEntryZeroTheOutputs) {
  LowerRun top(
      "float4 main(float4 a : TEXCOORD0, out float4 b : COLOR1) : COLOR0 { b = a; float4 x = a * 2;"
      " discard; return x; }",
      "main", Ps30());
  ASSERT_EQ(top.hr, S_OK) << top.log;
  bool discarded = false;
  EXPECT_EQ(top.Run({{"a", {1, 2, 3, 4}}}, &discarded), std::vector<double>(8, 0.0));
  EXPECT_TRUE(discarded);
  EXPECT_EQ(top.Count(kOpDiscard), 1u);
  // A discard under a condition discards where it holds, and the function goes on.
  LowerRun guarded("float4 main(float4 a : TEXCOORD0) : COLOR { if (a.x < 0) discard; return a * 2; }", "main", Ps20());
  ASSERT_EQ(guarded.hr, S_OK) << guarded.log;
  for (const double x : {-1.0, 1.0}) {
    EXPECT_EQ(guarded.Run({{"a", {x, 2, 3, 4}}}, &discarded), (std::vector<double>{2 * x, 4, 6, 8}));
    EXPECT_EQ(discarded, x < 0);
  }
}

TEST(GxlLowerStmt, UniformsAreBoundToBanksOfTheirOwn) {
  LowerRun run(R"(
float4 k : register(c4);
float4 table[3];
sampler2D s : register(ps, s2);
bool flag;
uniform float3 v = {1, 2, 3};
float4 main(float i : TEXCOORD0) : COLOR { return flag ? k + table[i] : tex2D(s, v.xy) * v.z; })",
               "main", Vs30(), 0, 0xFFFE0300);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  auto bankOf = [&](const char* name) { return run.program->Bank(run.Placed(name).at(0)->bank); };
  EXPECT_STREQ(bankOf("k")->name, "c4");
  EXPECT_EQ(bankOf("k")->type & (kBankKeepValues | kBankBound | kBankRelative),
            kBankKeepValues | kBankBound | kBankRelative);
  // The annotation for another profile does not apply: the sampler keeps its bank's name.
  EXPECT_STREQ(bankOf("s")->name, "s");
  EXPECT_TRUE(bankOf("s")->type & kBankSampler);
  EXPECT_TRUE(bankOf("flag")->type & kBankBoolean);
  // The array's elements take consecutive registers of one bank.
  const std::vector<const IrValue*> table = run.Placed("table");
  ASSERT_EQ(table.size(), 12u);
  for (std::uint32_t i = 0; i < 12; ++i) {
    EXPECT_EQ(table[i]->bank, table[0]->bank);
    EXPECT_EQ(table[i]->reg, i / 4);
    EXPECT_EQ(table[i]->component, i % 4);
  }
  // Each uniform is declared with where its elements stand in the source.
  ASSERT_EQ(run.compiler.uniforms.Size(), 5u);
  const UniformRecord& declared = run.compiler.uniforms[4];
  ASSERT_EQ(declared.count, 3u);
  ASSERT_EQ(declared.positions, 3u);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_NE(declared.byOrdinal[i], nullptr);
}

// --- If statements -------------------------------------------------------------------

// A program of generated expressions: the expressions' variables become
// inputs, and nested ifs choose among them.
struct IfProgram {
  std::vector<hlslgen::Generator> parts;
  std::string text;
  std::map<std::string, std::vector<double>> inputs;
  std::vector<double> want;
};

IfProgram MakeIfProgram(std::uint64_t seed) {
  IfProgram p;
  std::uint64_t next = seed * 1000;
  auto make = [&](hlslgen::Base base) -> std::string {
    for (;;) {
      hlslgen::Generator g(next++, hlslgen::Options{3, 3, false});
      const hlslgen::Type& t = g.At(g.Root()).type;
      if (t.base != base || !t.IsScalar()) continue;
      const std::string prefix = "p" + std::to_string(p.parts.size()) + "_";
      std::string text = g.Text(g.Root());
      for (std::size_t i = g.Variables().size(); i-- > 0;) {
        const std::string name = g.Variables()[i].name;
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + prefix.size() + 1))
          if (at + name.size() == text.size() || !std::isdigit(static_cast<unsigned char>(text[at + name.size()])))
            text.insert(at, prefix);
      }
      p.parts.push_back(std::move(g));
      return text;
    }
  };
  const std::string e[5] = {make(hlslgen::Base::Float), make(hlslgen::Base::Float), make(hlslgen::Base::Float),
                            make(hlslgen::Base::Float), make(hlslgen::Base::Float)};
  const std::string c[2] = {make(hlslgen::Base::Bool), make(hlslgen::Base::Bool)};
  std::string parameters;
  int semantic = 0;
  for (std::size_t k = 0; k < p.parts.size(); ++k) {
    for (const hlslgen::Variable& v : p.parts[k].Variables()) {
      const std::string name = "p" + std::to_string(k) + "_" + v.name;
      parameters +=
          (parameters.empty() ? "" : ", ") + v.type.Name() + " " + name + " : TEXCOORD" + std::to_string(semantic);
      semantic += v.type.matrix ? v.type.rows : 1;
      p.inputs[name] = v.value;
    }
  }
  p.text = "float4 main(" + parameters + ") : COLOR {\n  float r0 = " + e[0] + ", r1 = " + e[1] + ";\n  if (" + c[0] +
           ") {\n    r0 = " + e[2] + ";\n    if (" + c[1] + ") r1 = " + e[3] + ";\n  } else {\n    r1 = " + e[4] +
           ";\n  }\n  return float4(r0, r1, 0, 1);\n}\n";
  auto value = [&](std::size_t k) { return p.parts[k].At(p.parts[k].Root()).value[0]; };
  double r0 = value(0), r1 = value(1);
  if (value(5) != 0) {
    r0 = value(2);
    if (value(6) != 0) r1 = value(3);
  } else {
    r1 = value(4);
  }
  p.want = {r0, r1, 0, 1};
  return p;
}

// For every kind of if block a target has and every option, the same values.
TEST(GxlLowerStmt, IfFormsAgreeOnGeneratedPrograms) {
  const ProfileLimits kTargets[] = {TargetLimits(0x80, 0x1000, 0, 0, 0), TargetLimits(0, 0, 8, 0, 0),
                                    TargetLimits(0x80, 0x1000, 8, 24, 4)};
  std::uint32_t blocks = 0;
  for (std::uint64_t seed = 0; seed < 24; ++seed) {
    const IfProgram p = MakeIfProgram(seed);
    for (const ProfileLimits& limits : kTargets) {
      for (const std::uint32_t options : {0u, kOptionAvoidFlowControl, kOptionPreferFlowControl}) {
        LowerRun run(p.text, "main", limits, options);
        ASSERT_EQ(run.hr, S_OK) << p.text << run.log;
        const std::vector<double> got = run.Run(p.inputs);
        ASSERT_EQ(got.size(), 4u);
        for (int i = 0; i < 4; ++i) {
          EXPECT_NEAR(got[i], p.want[i], 1e-5 * std::max(1.0, std::fabs(p.want[i]))) << p.text;
        }
        blocks += run.Count(kOpIfBegin);
        if (!limits.word12 || (options & kOptionAvoidFlowControl)) {
          EXPECT_EQ(run.Count(kOpIfBegin), 0u) << p.text;
        }
      }
    }
  }
  EXPECT_GT(blocks, 24u);
}

TEST(GxlLowerStmt, IfFormFollowsWhatTheBranchesHold) {
  struct Form {
    const char* then;
    std::uint32_t options;
    bool block;
  };
  std::string seventeen, sixteen;
  for (int i = 0; i < 17; ++i) (i < 16 ? sixteen : seventeen) += "x" + std::to_string(i) + " = a.x;";
  seventeen = sixteen + seventeen;
  std::string long_ = "x0 = a.x";
  for (int i = 0; i < 17; ++i) long_ += " * a.y + " + std::to_string(i);
  long_ += ";";
  const Form kForms[] = {
      {"x0 = a.x + 1;", 0, false},
      {"x0 = a.x + 1;", kOptionPreferFlowControl, true},
      {sixteen.c_str(), 0, false},
      {seventeen.c_str(), 0, true},
      {long_.c_str(), 0, true},
      {"x0 = tex2Dlod(s, a).x;", 0, true},
      {"x0 = tex2Dlod(s, a).x;", kOptionAvoidFlowControl, false},
      // Derivatives need the whole quad: guarded even when blocks are asked for.
      {"x0 = ddx(a.x);", kOptionPreferFlowControl, false},
      {"x0 = tex2D(s, a.xy).x;", kOptionPreferFlowControl, false},
  };
  std::string locals;
  for (int i = 0; i < 17; ++i) locals += "float x" + std::to_string(i) + " = 0;";
  for (const Form& f : kForms) {
    const std::string text = "sampler2D s; float4 main(float4 a : TEXCOORD0) : COLOR {" + locals + " if (a.w > 0) {" +
                             f.then + "} return float4(x0, x16, x15, 0); }";
    LowerRun run(text, "main", Ps30(), f.options);
    ASSERT_EQ(run.hr, S_OK) << text << run.log;
    EXPECT_EQ(run.Count(kOpIfBegin), f.block ? 1u : 0u) << f.then << " options " << f.options;
  }
  // A known condition lowers one branch only.
  LowerRun known("float4 main(float4 a : TEXCOORD0) : COLOR { if (1) return a * 2; else return a * 3; }", "main",
                 Ps30(), kOptionNoOptimisation);
  ASSERT_EQ(known.hr, S_OK) << known.log;
  EXPECT_EQ(known.Count(kOpMultiply), 1u);
  EXPECT_EQ(known.Run({{"a", {1, 2, 3, 4}}}), (std::vector<double>{2, 4, 6, 8}));
}

// A boolean uniform bound to a boolean register opens a block on a target
// with static if blocks however deep they nest; without them it guards.
TEST(GxlLowerStmt, BooleanRegisterConditionsAreStatic) {
  std::string body = "float4 r = a;";
  for (int i = 0; i < 10; ++i) body += " if (b) { r = r * 2 + " + std::to_string(i) + ";";
  body += std::string(10, '}');
  const std::string text = "bool b : register(b0); float4 main(float4 a : TEXCOORD0) : COLOR {" + body + " return r; }";
  LowerRun withBlocks(text, "main", TargetLimits(0, 0, 8, 0, 0));
  ASSERT_EQ(withBlocks.hr, S_OK) << withBlocks.log;
  EXPECT_EQ(withBlocks.Count(kOpIfBegin), 10u);
  LowerRun without(text, "main", TargetLimits(0, 0, 0, 24, 0));
  ASSERT_EQ(without.hr, S_OK) << without.log;
  EXPECT_EQ(without.Count(kOpIfBegin), 0u);
  for (LowerRun* run : {&withBlocks, &without}) {
    double want = 0.5;
    for (int i = 0; i < 10; ++i) want = want * 2 + i;
    EXPECT_EQ(run->Run({{"b", {1}}, {"a", {0.5, 0.5, 0.5, 0.5}}}), std::vector<double>(4, want));
    EXPECT_EQ(run->Run({{"b", {0}}, {"a", {0.5, 0.5, 0.5, 0.5}}}), std::vector<double>(4, 0.5));
  }
}

}  // namespace
}  // namespace compilertest
