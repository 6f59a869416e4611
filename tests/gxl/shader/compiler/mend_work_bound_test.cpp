// The compile's work bound refuses only work that grows past the program,
// and says so: a loop nest nothing reads costs no more than its messages
// need (its own rehearsal's bound, mend_dead_loop_messages_test.cpp), straight
// code gets budget in proportion to its size, a loop the profile cannot
// unroll is named (X3511) where the bound ends its unrolling, and the
// bound's own message names the bound, not registers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <utility>

#include "bounded_run.h"
#include "dead_loop_nests.h"
#include "flow_lane.h"
#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "pool_peak.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using shadertest::kDeadPixelNest;
using shadertest::kDeadVertexNest;
using shadertest::BoundedRun;
using shadertest::Bounds;
using shadertest::CheckFlowProgram;
using shadertest::CompiledHlsl;
using shadertest::FlowProgram;
using shadertest::In;
using shadertest::kBoth;

constexpr char kBound[] = "error X4004: program too complex; the compile exceeded its work bound";
constexpr char kRegisters[] = "more active values than registers";
constexpr char kIterationLimit[] =
    "error X3511: loop does not appear to terminate in a timely manner (1024 iterations)";
constexpr int kColor = nura::shtok::kUsageColor, kPosition = nura::shtok::kUsagePosition,
              kTexCoord = nura::shtok::kUsageTexCoord;

Float4 Splat(float x) { return Float4(x, x, x, x); }

const shadertest::Uniforms kNestUniforms = {
    {"n0", {5}}, {"u1", {0.25, 0.5, 0.75, 1}}, {"ua", {0.5, -1, 2, 0.25, 1, 0.75, -0.5, 3, 2, 1, 0, -2, 0.1, 0.2, 0.3, 0.4}}};

TEST(GxlCompilerMend, DeadLoopNestsCompileToTheirConstantOutputs) {
  const shadertest::LaneInputs vertexIn = {{In(kTexCoord, 2), Float4(0.25f, -0.5f, 1, 2)}};
  for (const int usage : {kPosition, kTexCoord})
    CheckFlowProgram(FlowProgram{"dead vertex nest", kDeadVertexNest, {"vs_2_a", "vs_2_sw", "vs_3_0"}, kBoth,
                                 kNestUniforms, vertexIn, {usage, 0}, Splat(0.5f)});
  CheckFlowProgram(FlowProgram{"dead pixel nest", kDeadPixelNest, {"ps_3_0", "ps_3_sw"}, kBoth, kNestUniforms,
                               {{In(kColor), Float4(0.5f, 0.25f, 1, 0.75f)}}, {kColor, 0}, Splat(0.5f)});
}

// What the dead nests cost: their rehearsal as live loops to its own bound,
// a small share of the compile's budget, then one pass of each loop and
// what the rest of the program needs.
TEST(GxlCompilerMend, DeadLoopNestsCostASmallShareOfTheBudget) {
  for (const DWORD flags : kBoth) {
    for (const char* profile : {"vs_2_a", "vs_2_sw", "vs_3_0"}) {
      const BoundedRun run(kDeadVertexNest, profile, flags);
      EXPECT_EQ(run.hr, S_OK) << profile << " " << flags << "\n" << run.log;
      EXPECT_LT(run.spent, 2 * gxl::shader::loops::kDeadLoopWork) << profile << " " << flags;
    }
    for (const char* profile : {"ps_3_0", "ps_3_sw"}) {
      const BoundedRun run(kDeadPixelNest, profile, flags);
      EXPECT_EQ(run.hr, S_OK) << profile << " " << flags << "\n" << run.log;
      EXPECT_LT(run.spent, 2 * gxl::shader::loops::kDeadLoopWork) << profile << " " << flags;
    }
  }
}

// The deep dead nest walks the syntax of its inner bodies once per pass of
// the loops around them, most of its lowering's time and little of what it
// builds: those walks count against the cap, beside the budget the
// lowering decides by.
TEST(GxlCompilerMend, BodyWalksOfADeepNestCountAgainstTheCap) {
  const std::string vertex = std::regex_replace(std::string(shadertest::kDeepFloatCounterNest),
                                                std::regex(": COLOR0"), ": POSITION");
  for (const auto& [text, profile] : {std::pair{std::string(shadertest::kDeepFloatCounterNest), "ps_3_0"},
                                      std::pair{vertex, "vs_2_sw"}}) {
    const BoundedRun run(text, profile, 0);
    ASSERT_EQ(run.hr, S_OK) << profile << "\n" << run.log;
    EXPECT_GT(run.charged, run.spent + run.spent / 8) << profile << ": " << run.spent << " spent";
  }
}

// Loops whose writes something outside them reads, one way or another,
// stay: each program's value depends on its loop.
TEST(GxlCompilerMend, LoopsWhoseWritesAreReadStay) {
  const Float4 t(0.25f, 0.5f, 0.75f, 1);
  const shadertest::LaneInputs in = {{In(kTexCoord), t}};
  const std::vector<const char*> profiles = {"ps_2_0", "ps_3_0"};
  const FlowProgram programs[] = {
      {"read in the enclosing loop before the loop",
       "float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 s = 0; float4 a = t;\n"
       "  for (int j = 0; j < 3; j++) { s += a; for (int k = 0; k < 2; k++) a += 1; }\n"
       "  return s; }",
       profiles, kBoth, {}, in, {kColor, 0}, Float4(6.75f, 7.5f, 8.25f, 9)},
      {"written through a called function's inout parameter",
       "void bump(inout float4 a, float k) { a = a * 0.5 + k; }\n"
       "float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 x = t;\n"
       "  for (int i = 0; i < 3; i++) bump(x, i);\n"
       "  return x; }",
       profiles, kBoth, {}, in, {kColor, 0}, Float4(2.53125f, 2.5625f, 2.59375f, 2.625f)},
      {"a static global another function reads",
       "static float g = 1;\n"
       "float get() { return g; }\n"
       "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n"
       "  for (int i = 0; i < 3; i++) g = g * 2 + t.x;\n"
       "  return get(); }",
       profiles, kBoth, {}, in, {kColor, 0}, Splat(9.75f)},
      {"an output parameter",
       "void main(float4 t : TEXCOORD0, out float4 o : COLOR0) { o = t;\n"
       "  for (int i = 0; i < 3; i++) o = o * 2; }",
       profiles, kBoth, {}, in, {kColor, 0}, Float4(2, 4, 6, 8)},
      {"the counter read after the loop",
       "float4 main(float4 t : TEXCOORD0) : COLOR0 { int i;\n"
       "  for (i = 0; i < 3; i++) {}\n"
       "  return t * i; }",
       profiles, kBoth, {}, in, {kColor, 0}, Float4(0.75f, 1.5f, 2.25f, 3)},
  };
  for (const FlowProgram& p : programs) CheckFlowProgram(p);
}

// A loop that writes nothing read but discards (clip, discard) stays.
TEST(GxlCompilerMend, LoopsThatDiscardStay) {
  const char* sources[] = {
      "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n"
      "  for (int i = 0; i < 2; i++) { float d = t.x - i; clip(d); }\n"
      "  return t; }",
      "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n"
      "  for (int i = 0; i < 2; i++) { float d = t.x - i; if (d < 0) discard; }\n"
      "  return t; }",
  };
  for (const char* source : sources) {
    for (const char* profile : {"ps_2_0", "ps_3_0"}) {
      for (const DWORD flags : kBoth) {
        SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags) + "\n" + source);
        const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
        ASSERT_EQ(c.hr, S_OK) << c.log;
        for (const float x : {0.5f, 1.5f}) {
          nura::shtok::Interpreter interp;
          std::string error;
          ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
          nura::shtok::Lane lane;
          for (const nura::shtok::Declaration& d : interp.Declarations())
            if (nura::shtok::Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
              *slot = Float4(x, 0, 0, 1);
          ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
          EXPECT_EQ(lane.killed, x < 1) << x << "\n" << c.text;
        }
      }
    }
  }
}

// The straight chain: each statement reads the ones before it.
std::string Chain(int statements) {
  const char* kinds[] = {"a = a * b + c;", "b = sin(a) * 0.5 + b;", "c = c * a - b;", "a = a + cos(c) * 0.25;"};
  std::string text = "float4 b0; float4 c0;\nfloat4 main(float4 p : POSITION) : POSITION {\n"
                     "  float4 a = p; float4 b = b0; float4 c = c0;\n";
  for (int i = 0; i < statements; ++i) text += std::string("  ") + kinds[i % 4] + "\n";
  return text + "  return a + b + c;\n}\n";
}

// The phases after the lowering spend what the compile's cap leaves of it,
// however little of the budget the lowering needed: a chain whose later
// phases take many times the lowering's budget compiles, and a cap cut
// below what they need ends in the bound.
TEST(GxlCompilerMend, LaterPhasesSpendWhatTheCapLeaves) {
  gxl::shader::ShaderPreprocessor pp;
  const std::string text = Chain(400);
  ASSERT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
  gxl::shader::ShaderCompiler compiler;
  compiler.workBudget = gxl::shader::kCompileWorkBudget / 64;
  gxl::ComRef<DataBuffer> code;
  EXPECT_EQ(compiler.CompileSource(&pp, nullptr, "main", 0, "vs_3_0", 0, code.Put(), nullptr), S_OK)
      << shadertest::LogText(pp.Log());
  EXPECT_GT(compiler.workCharged, compiler.workBudget) << "the lowering's budget alone would have ended it";

  Bounds starved;
  starved.budget = compiler.workCharged / 4;
  const BoundedRun cut(text, "vs_3_0", 0, starved);
  EXPECT_EQ(cut.hr, E_FAIL);
  EXPECT_EQ(cut.log, std::string(kBound) + "\n");
}

// The 6,400 statements at vs_3_0, optimised, end at the profile's
// own limit (the validator's slot count), as with option 0x4; the
// scheduler leaves a program past its score bitsets unscored.
TEST(GxlCompilerMend, LongStraightChainEndsAtTheProfileLimit) {
  if (!nura::test::LongMode()) GTEST_SKIP() << "NURA_LONG: some 15 s under the sanitizers";
  const BoundedRun run(Chain(6400), "vs_3_0", 0);
  EXPECT_EQ(run.hr, E_FAIL);
  EXPECT_NE(run.log.find("error X5020:"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("X4004"), std::string::npos) << run.log;
}

// A loop over a uniform count with a flag, around constant loops whose
// unrolled bodies make each pass large: profiles without loops must unroll
// it, cannot learn where it ends, and say so (X3511) where the work bound
// ends the unrolling. With a constant count as well its end is known, and
// the bound it meets is the bound.
std::string FlaggedLoop(const char* count) {
  return std::string("float n0; float4 ua[8];\n"
                     "float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t; bool go = true;\n"
                     "  for (int i = 0; ") +
         count +
         " && go; i++) {\n"
         "    for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++) r = r * ua[(j + k) % 8] + sin(r.yzwx);\n"
         "    if (r.x > 100) go = false;\n"
         "  }\n"
         "  return r; }";
}

TEST(GxlCompilerMend, UniformLoopsWithoutLoopsInTheProfileGiveTheLoopsMessage) {
  // The lowering's bounds cut to 1/16: the same outcome sooner.
  Bounds cut;
  cut.loweringRecords = gxl::shader::kLoweringRecordLimit / 16;
  cut.loweringBuilds = gxl::shader::kLoweringBuildLimit / 16;
  for (const char* profile : {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_sw"}) {
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags));
      const BoundedRun uniform(FlaggedLoop("i < n0"), profile, flags, cut);
      EXPECT_EQ(uniform.hr, E_FAIL);
      EXPECT_FALSE(uniform.made);
      EXPECT_EQ(uniform.log, "(3): " + std::string(kIterationLimit) + "\n") << uniform.log;
      const BoundedRun counted(FlaggedLoop("i < 300"), profile, flags, cut);
      EXPECT_EQ(counted.hr, E_FAIL);
      EXPECT_EQ(counted.log, std::string(kBound) + "\n") << counted.log;
    }
  }
  // A flagged uniform loop inside another: vs_2_a keeps one level of loops
  // (as do vs_2_0, and vs_1_1 none), so one of the two must be unrolled.
  // At the compile's own bounds: cut ones end it inside the outer loop's
  // simulation instead, where no loop is named.
  const std::string nested =
      "float n0, n1; float4 ua[8];\n"
      "float4 main(float4 p : POSITION) : POSITION { float4 r = p;\n"
      "  for (int i = 0; i < n0; i++) { bool go = true;\n"
      "    for (int j = 0; j < n1 && go; j++) { r = r * ua[j % 8] + sin(r); if (r.x > 10) go = false; } }\n"
      "  return r; }";
  for (const char* profile : {"vs_2_a"}) {
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " " + std::to_string(flags));
      const BoundedRun run(nested, profile, flags);
      EXPECT_EQ(run.hr, E_FAIL);
      EXPECT_NE(run.log.find(kIterationLimit), std::string::npos) << run.log;
      EXPECT_EQ(run.log.find("X4004"), std::string::npos) << run.log;
    }
  }
  // And at the compile's own bounds.
  const CompiledHlsl c = shadertest::CompileHlsl(FlaggedLoop("i < n0"), "main", "ps_2_b", 0);
  EXPECT_EQ(c.hr, E_FAIL);
  EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
  EXPECT_FALSE(c.Logged("X4004")) << c.log;
}

// The bound's message names the bound; "more active values than registers"
// stays for what it says: a dozen and more vectors live at once at ps_2_0.
TEST(GxlCompilerMend, TheBoundsMessageNamesTheBound) {
  Bounds small;
  small.budget = 20000;
  const BoundedRun bounded(Chain(40), "vs_2_0", 0, small);
  EXPECT_EQ(bounded.hr, E_FAIL);
  EXPECT_EQ(bounded.log, std::string(kBound) + "\n");
  EXPECT_EQ(bounded.log.find(kRegisters), std::string::npos);

  std::string pressure = "sampler s; float4 k[16];\nfloat4 main(float4 t : TEXCOORD0) : COLOR0 {\n";
  constexpr int kLive = 16;
  for (int i = 0; i < kLive; ++i)
    pressure += "  float4 a" + std::to_string(i) + " = tex2D(s, t.xy + k[" + std::to_string(i) + "].xy);\n";
  pressure += "  float4 r = 0;\n";
  for (int i = 0; i < kLive; ++i)
    for (int j = i + 1; j < kLive; ++j)
      pressure += "  r += a" + std::to_string(i) + " * a" + std::to_string(j) + ";\n";
  pressure += "  return r;\n}\n";
  const BoundedRun registers(pressure, "ps_2_0", 0);
  EXPECT_EQ(registers.hr, E_FAIL);
  EXPECT_NE(registers.log.find(kRegisters), std::string::npos) << registers.log;
  EXPECT_EQ(registers.log.find("work bound"), std::string::npos) << registers.log;
}


// A triangle of passes whose unrolled chain settles one link a round and
// then folds whole. Over the program as the lowering leaves it the later
// phases would need more than is left: only the rounds can make it fit, so
// they keep half of what is left when they begin, and a cap of twice what
// the compile takes gives the code it gives uncut (cut at the start, the
// later phases ran out of the cap).
TEST(GxlCompilerMend, RoundsThatShrinkAProgramPastTheLaterPhasesShareGoOn) {
  const std::string text =
      "void main(float4 t : TEXCOORD0, out float4 o : POSITION) {\n"
      "  float4 a = t;\n"
      "  for (int i = 0; i < 100; i++)\n"
      "    for (int j = 0; j < i; j++) a = a * 0.5 + t;\n"
      "  o = a;\n}\n";
  struct Run {
    CompiledHlsl c;
    std::uint64_t charged = 0;
  };
  auto compile = [&](std::uint64_t cap) {
    Run r;
    gxl::shader::ShaderPreprocessor pp;
    EXPECT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
    gxl::shader::ShaderCompiler compiler;
    compiler.workCap = cap;
    gxl::ComRef<DataBuffer> code;
    r.c.hr = compiler.CompileSource(&pp, nullptr, "main", 0, "vs_2_0", 0, code.Put(), r.c.table.Put());
    r.c.log = shadertest::LogText(pp.Log());
    if (code) {
      const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
      r.c.code.assign(words, words + code->GetSize() / 4);
    }
    r.charged = compiler.workCharged;
    return r;
  };
  const Run whole = compile(gxl::shader::kCompileWorkCap);
  ASSERT_EQ(whole.c.hr, S_OK) << whole.c.log;
  const Run twice = compile(whole.charged * 2);
  ASSERT_EQ(twice.c.hr, S_OK) << twice.c.log;
  EXPECT_EQ(twice.c.log.find("did not converge"), std::string::npos) << twice.c.log;
  EXPECT_EQ(twice.c.code, whole.c.code);

  const Float4 t(0.3f, -1.0f, 2.0f, 0.5f);
  Float4 want = t, got;
  for (int i = 0; i < 100; ++i)
    for (int j = 0; j < i; ++j)
      for (int k = 0; k < 4; ++k) want[k] = want[k] * 0.5f + t[k];
  std::string error;
  ASSERT_TRUE(shadertest::RunLane(twice.c, {}, {{In(nura::shtok::kUsageTexCoord, 0), t}},
                                  {nura::shtok::kUsagePosition, 0}, &got, &error))
      << error;
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-5 * (1 + std::fabs(want[k]))) << k;
}

// The memory a compile commits counts against its cap: a dead nest whose
// simulation at vs_2_0 takes 350 MB for 14 M units of lowering ends, under
// a cap of 2^24 units, before its pool passes what the cap pays for (2^24
// units at the rate per fresh page: 256 MB), instead of running on to its
// loop's message.
TEST(GxlCompilerMend, FreshMemoryCountsAgainstTheCap) {
  const std::string text = shadertest::kDeadNestWithCalls;
  constexpr std::uint64_t kCap = std::uint64_t{1} << 24;
  gxl::shader::ShaderPreprocessor pp;
  ASSERT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
  gxl::shader::ShaderCompiler compiler;
  compiler.workCap = kCap;
  gxl::ComRef<DataBuffer> code;
  const shadertest::PoolPeak peak;
  EXPECT_EQ(compiler.CompileSource(&pp, nullptr, "main", 0, "vs_2_0", 0, code.Put(), nullptr), E_FAIL);
  const std::string log = shadertest::LogText(pp.Log());
  EXPECT_NE(log.find(kBound), std::string::npos) << log;
  // What the cap pays for, and the pool's first region and step besides.
  const std::size_t paid = kCap / gxl::shader::workrate::kFreshPage * gxl::shader::workrate::kPageBytes;
  EXPECT_LE(peak.Bytes(), paid + (std::size_t{2} << 20)) << log;
}

}  // namespace
