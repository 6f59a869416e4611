// Limits of kept loops and of slots, known where they show. A loop of
// exactly the iteration limit's passes is kept (its count holds them);
// kept loops whose counts pass the integer constant registers are unrolled
// before the optimiser runs over them; a relative read that only a counted
// loop around a loop of uniform length can make constant unrolls that loop;
// and an optimised program whose slots plainly pass the profile's limit is
// refused with the limit's message before scheduling and allocation. Each
// program that compiles is run in the token kit's interpreter against the
// same arithmetic done here in float32.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bounded_run.h"
#include "flow_lane.h"
#include "loop_bound_compile.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using shadertest::BoundedRun;
using shadertest::Bounds;
using shadertest::CompiledHlsl;
using shadertest::In;
using shadertest::kBoth;
using shadertest::kTexCoord;

const Float4 kT(0.3f, -1.0f, 2.0f, 0.5f);

// The nested triangle: a = a * 0.5 + t for every j < i < n.
std::string Triangle(int n, bool vertex) {
  const std::string loops = "  float4 a = t;\n  for (int i = 0; i < " + std::to_string(n) +
                            "; i++)\n    for (int j = 0; j < i; j++)\n      a = a * 0.5 + t;\n";
  if (vertex)
    return "void main(float4 t : TEXCOORD0, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n" + loops +
           "  opos = a;\n  otc = t;\n}\n";
  return "float4 main(float4 t : TEXCOORD0) : COLOR {\n" + loops + "  return a;\n}\n";
}

Float4 TriangleValue(int n) {
  Float4 a = kT;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j)
      for (int c = 0; c < 4; ++c) a[c] = a[c] * 0.5f + kT[c];
  return a;
}

shadertest::LaneOutput Position() { return {nura::shtok::kUsagePosition, 0}; }

// The reproducer (ps_3_0, and as a vertex function at vs_3_0): the outer
// loop runs the iteration limit's 255 passes. Its simulation, which stops
// at the limit, took it for one that may run on and unrolled it, keeping
// each inner copy with a count of its own: 80 integer registers, X4551
// after the optimiser's minute. Its test after the last pass shows it ends
// there: both loops are kept, and the compile is quick.
TEST(GxlCompilerMend, LoopOfTheIterationLimitsPassesIsKept) {
  const Float4 want = TriangleValue(255);
  for (const bool vertex : {false, true})
    for (const DWORD flags : kBoth) {
      const char* profile = vertex ? "vs_3_0" : "ps_3_0";
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::LoopCompile c = shadertest::CompileLoops(Triangle(255, vertex), profile, flags);
      ASSERT_EQ(c.c.hr, S_OK) << c.c.log;
      EXPECT_EQ(c.c.Lines("rep ").size() + c.c.Lines("loop ").size(), 2u) << c.c.text;
      EXPECT_LT(c.workSpent, c.workGranted / 8);
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLane(c.c, {}, {{In(kTexCoord, 0), kT}},
                                      vertex ? Position() : shadertest::LaneOutput{}, &got, &error))
          << error;
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-5 * (1 + std::fabs(want[k]))) << k;
    }
}

// vs_2_a keeps one loop level: the outer loop unrolled, the inner copies
// past the lowering's share were kept with breaks against their own
// bounds, which the loop mapping makes counts, one integer register each
// (X4551 after about a minute at 225 and 250). Seen before the optimiser,
// the inner loop is unrolled as vs_2_0 unrolls it: the straight triangle
// settles at 2t. In CI a smaller triangle meets the same with a smaller
// lowering bound; the reproducer's bounds run in the long mode.
TEST(GxlCompilerMend, KeptLoopCountsPastTheIntegerRegistersAreUnrolled) {
  struct Case {
    const char* profile;
    int n;
    std::uint64_t builds;
  };
  // Past 255 rows ps_3_0 and vs_3_0 unroll the outer loop too, and keep its
  // last rows' copies (with the other forms of the break).
  std::vector<Case> cases = {{"vs_2_a", 48, gxl::shader::kLoweringBuildLimit / 64}};
  if (nura::test::LongMode())
    cases.insert(cases.end(), {{"vs_2_a", 225, gxl::shader::kLoweringBuildLimit},
                               {"vs_2_a", 250, gxl::shader::kLoweringBuildLimit},
                               {"ps_3_0", 256, gxl::shader::kLoweringBuildLimit},
                               {"vs_3_0", 256, gxl::shader::kLoweringBuildLimit}});
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.profile) + " n = " + std::to_string(k.n));
    const bool vertex = k.profile[0] == 'v';
    const Float4 want = TriangleValue(k.n);
    shadertest::LoopCompileOptions o;
    o.builds = k.builds;
    const shadertest::LoopCompile c = shadertest::CompileLoops(Triangle(k.n, vertex), k.profile, 0, o);
    ASSERT_EQ(c.c.hr, S_OK) << c.c.log;
    EXPECT_EQ(c.c.Lines("rep ").size() + c.c.Lines("loop ").size(), 0u) << c.c.text;
    std::vector<std::pair<shadertest::LaneOutput, Float4>> outputs = {{shadertest::LaneOutput{}, want}};
    if (vertex) outputs = {{Position(), want}, {shadertest::LaneOutput{kTexCoord, 0}, kT}};
    for (const auto& [output, expected] : outputs) {
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLane(c.c, {}, {{In(kTexCoord, 0), kT}}, output, &got, &error)) << error;
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], expected[i], 1e-5 * (1 + std::fabs(expected[i]))) << i;
    }
  }
}

// The reproducer: ua[3 - i] read in a do loop of uniform length inside a
// 3-pass constant loop (ps_3_0, ps_3_sw: X4511). Only aL can address a
// pixel shader's constants, and it counts up: the do loop, which cannot be
// unrolled, was asked for; the constant loop around it is, and each pass
// reads its row. The uniform outer loop of the same read stays refused.
TEST(GxlCompilerMend, RelativeReadUnrollsTheCountedLoopAroundAUniformOne) {
  const std::string source =
      "float n0;\n"
      "float4 ua[4];\n"
      "float4 main(float4 icol : COLOR0) : COLOR0 {\n"
      "  for (int i = 0; i < BOUND; i++) {\n"
      "    int k = 0;\n"
      "    do {\n"
      "      icol.x = icol.x * 0.5 + ua[3 - i].w;\n"
      "      k++;\n"
      "    } while (k < n0 + 1);\n"
      "  }\n"
      "  return icol;\n"
      "}\n";
  auto with = [&](const std::string& bound) {
    std::string s = source;
    s.replace(s.find("BOUND"), 5, bound);
    return s;
  };
  std::vector<double> ua(16, 0.0);
  for (int row = 1; row <= 3; ++row) ua[row * 4 + 3] = 4 - row;  // ua[3].w = 1, ua[2].w = 2, ua[1].w = 3
  const Float4 color(0.0f, 0.25f, 0.5f, 1.0f);
  float x = color[0];
  for (int i = 0; i < 3; ++i)
    for (int pass = 0; pass < 2; ++pass) x = x * 0.5f + static_cast<float>(ua[(3 - i) * 4 + 3]);
  ASSERT_EQ(x, 5.34375f);  // the reproducer's header
  shadertest::CheckFlowProgram({"reverse", with("3"), {"ps_3_0", "ps_3_sw"}, kBoth, {{"n0", {1.0}}, {"ua", ua}},
                                {{In(nura::shtok::kUsageColor, 0), color}}, {nura::shtok::kUsageColor, 0},
                                Float4(x, color[1], color[2], color[3])});
  for (const DWORD flags : kBoth) {
    const CompiledHlsl c = shadertest::CompileHlsl(with("n0"), "main", "ps_3_0", flags);
    EXPECT_EQ(c.hr, E_FAIL);
    EXPECT_NE(c.log.find("X4511"), std::string::npos) << c.log;
  }
}

// At vs_2_a the first try keeps the triangle's loops and asks for them
// unrolled; the unrolled code passes the slot limit, and the try before it,
// made again, runs out of what the unrolled try left of the compile's cap:
// the limit's refusal stands, not the bound's.
TEST(GxlCompilerMend, UnrolledTrysLimitStandsWhereTheTryMadeAgainRunsOut) {
  const std::string source =
      "float4 main(float4 t : TEXCOORD0) : POSITION {\n  float4 a = t;\n  for (int i = 0; i < 150; i++)\n"
      "    for (int j = 0; j < i; j++) {\n      a = a * 0.5 + t;\n      if (a.x > t.x) a += 1;\n    }\n"
      "  return a;\n}\n";
  // vs_2_0 unrolls at once: what the unrolled try costs.
  const BoundedRun alone(source, "vs_2_0", 0);
  ASSERT_EQ(alone.hr, E_FAIL);
  ASSERT_NE(alone.log.find("instruction slots exceed vs_2_0's 256"), std::string::npos) << alone.log;
  Bounds tight;
  tight.cap = alone.charged + alone.charged / 4;
  const BoundedRun run(source, "vs_2_a", 0, tight);
  const std::string& log = run.log;
  EXPECT_EQ(run.hr, E_FAIL);
  EXPECT_NE(log.find("error X5020"), std::string::npos) << log;
  EXPECT_NE(log.find("instruction slots exceed vs_2_x's 256"), std::string::npos) << log;
  EXPECT_EQ(log.find("X4004"), std::string::npos) << log;
}

// The triangle of 200 with a branch at ps_2_0, optimised: its unrolled
// program cannot fit, and the later phases' share of the compile's cap ends
// the optimiser's rounds after the first, which does most of their work,
// before the second round sets up the incremental upkeep (that round alone
// took 1.6 s). The slot bound then refuses it.
TEST(GxlCompilerMend, RoundsOfATriangleThatCannotFitEndAtTheCapsShare) {
  const std::string source =
      "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 a = t;\n  for (int i = 0; i < 200; i++)\n"
      "    for (int j = 0; j < i; j++) {\n      a = a * 0.5 + t;\n      if (a.x > t.x) a += 1;\n    }\n"
      "  return a;\n}\n";
  gxl::shader::ShaderPreprocessor pp;
  ASSERT_EQ(pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr), S_OK);
  gxl::shader::ShaderCompiler compiler;
  gxl::ComRef<DataBuffer> code;
  EXPECT_EQ(compiler.CompileSource(&pp, nullptr, "main", 0, "ps_2_0", 0, code.Put(), nullptr), E_FAIL);
  const std::string log = shadertest::LogText(pp.Log());
  EXPECT_NE(log.find("arithmetic slots exceed ps_2_0's 32 + 64"), std::string::npos) << log;
  EXPECT_NE(log.find("optimization did not converge"), std::string::npos) << log;
  EXPECT_EQ(compiler.roundUpkeepPasses, 0u);
}

// Where optimised code passes the slot limit, the program is compiled again
// with 0x4, but only that code's fitting matters: where it fails, the first
// compile's refusal stands. So the second compile meets the slot bound at
// any size and never reaches its second phase when the bound already
// passes the limit (the cube as a vertex function at vs_2_a spent 2 s there).
std::uint32_t g_heardSteps = 0, g_unheardSteps = 0;

TEST(GxlCompilerMend, SecondCompileOfAProgramPastTheSlotsStopsAtTheBound) {
  const std::string chain = "float4 c0;\nfloat4 main(float4 t : TEXCOORD0) : POSITION {\n  float4 a = t;\n"
                            "  for (int i = 0; i < 400; i++) a = a * c0 + t;\n  return a;\n}\n";
  shadertest::LoopCompileOptions o;
  o.secondPhaseStepHook = [](gxl::shader::ShaderProgram& p, std::uint32_t, HRESULT) {
    ++(p.refusalUnheard ? g_unheardSteps : g_heardSteps);
    return S_OK;
  };
  g_heardSteps = g_unheardSteps = 0;
  const shadertest::LoopCompile c = shadertest::CompileLoops(chain, "vs_2_0", 0, o);
  EXPECT_EQ(c.c.hr, E_FAIL);
  EXPECT_EQ(c.secondCompiles, 1u);
  EXPECT_GT(g_heardSteps, 0u) << "the optimised compile is refused by the validator";
  EXPECT_EQ(g_unheardSteps, 0u);
  EXPECT_NE(c.c.log.find("instruction slots exceed vs_2_0's 256"), std::string::npos) << c.c.log;
  EXPECT_EQ(shadertest::CompileHlsl(chain, "main", "vs_2_0", 0).log, c.c.log);
}

// Programs far past a profile's slots: the uniform nest of vs_2_a (a kept
// uniform loop holding an unrolled nest: 13,762 slots after 10-45 s
// optimised, X4004 after 8-49 s with 0x4, its read-port copies each
// rebuilding the def-use information of the whole program) and the
// triangle with a branch on data at ps_2_0 and vs_2_0 (about 99,500 slots
// after 18-35 s; 150 rows with 0x4: 89,402 after 7 s). A lower bound on
// their slots, taken from the optimised program, passes the limit before
// scheduling, allocation and emission: the limit's message, without the
// second phase. The optimised reproducers run in the long mode.
TEST(GxlCompilerMend, SlotsPlainlyPastTheLimitAreRefusedBeforeScheduling) {
  // The reproducer as found (14 statements, nest depth 4).
  const std::string nest =
      "float4 u0;\n"
      "float4 u1;\n"
      "float3 u2;\n"
      "float2 u3;\n"
      "float s0;\n"
      "float s1;\n"
      "float n0;\n"
      "float4 ua[4];\n"
      "float4 fl0(float3 p0, float4 p1)\n"
      "{\n"
      "    float4 acc = (float4(0.75, 0.3, -0.79, 2.0)).zzyz;\n"
      "    for (int i1 = 0; i1 < n0 + 1; i1++)\n"
      "    {\n"
      "        p1 = lerp(p1, (((((float4)(s1)) >= s0.xxxx) ? p1.zxwy : ua[2]) + (((float4)(s0)) / (float4(3"
      ".0, 1.0, 2.73, 1.2011226) * float4(3.0, 1.0, 2.73, 1.2011226) + 1.0))), 0.25);\n"
      "    }\n"
      "    return acc;\n"
      "}\n"
      "void main(float4 itc1 : TEXCOORD1, float4 ipos : POSITION, float4 itc3 : TEXCOORD3, out float4 opos "
      ": POSITION, out float4 otc : TEXCOORD0)\n"
      "{\n"
      "    for (int i2 = 0; i2 < n0; i2++)\n"
      "    {\n"
      "        for (int i3 = 0; i3 < 4; i3++)\n"
      "        {\n"
      "            for (int i4 = 0; i4 < i2 * i3; i4++)\n"
      "            {\n"
      "                for (int i5 = 0; i5 < 1; i5++)\n"
      "                {\n"
      "                    itc3.zwx = ((itc3.zwx * 0.5) + (((ua[3]).xzw * float3(n0, n0, n0)) + n0.xxx));\n"
      "                    float v6 = (((0.0 * itc3.x) + u2.y) / (sin(u2.x) * sin(u2.x) + 1.0));\n"
      "                }\n"
      "            }\n"
      "        }\n"
      "        float2 v7 = (((u0.zx - (ua[1]).zz) * float2(u3.x, s0)) + saturate(itc1.yz));\n"
      "    }\n"
      "    float2 v8 = ((min(((ua[1]).zy).yx, (float2(s1, s1) - (ua[0]).w)) > lerp(float2(0.87, -1.0), (((u"
      "a[3]).wx * (ua[3]).zw) + (ua[1]).zy), (ua[2]).zx)) ? (((ua[2]).yx - ipos.wx) - (-itc1.xw)) : float2("
      "(((-2.0) < n0) ? 1.0 : 0.0), ((itc1.w >= 2.45) ? 1.0 : 0.0)));\n"
      "    float4 v9 = (floor((step(ua[1], ipos) / (abs(s1.xxxx) + 1.0)))).xzwy;\n"
      "    for (int i10 = 0; i10 < n0; i10++)\n"
      "    {\n"
      "        float h19 = sin(u1.w);\n"
      "    }\n"
      "    opos = (((itc3 + (ipos * 2.0)) + (v8.xyxx * 0.25)) + (v9 * 0.75));\n"
      "    otc = (v8.xxyx + (v9 * 0.5));\n"
      "}\n";
  auto branch = [](int n, bool vertex) {
    return std::string(vertex ? "float4 main(float4 t : TEXCOORD0) : POSITION {\n"
                              : "float4 main(float4 t : TEXCOORD0) : COLOR {\n") +
           "  float4 a = t;\n  for (int i = 0; i < " + std::to_string(n) +
           "; i++)\n    for (int j = 0; j < i; j++) {\n      a = a * 0.5 + t;\n      if (a.x > t.x) a += 1;\n"
           "    }\n  return a;\n}\n";
  };
  struct Case {
    std::string source;
    const char* profile;
    DWORD flags;
    const char* limit;
  };
  std::vector<Case> cases = {
      {nest, "vs_2_a", 0x4, "instruction slots exceed vs_2_x's 256"},
      {branch(150, false), "ps_2_0", 0x4, "arithmetic slots exceed ps_2_0's 32 + 64"},
      {branch(150, true), "vs_2_0", 0x4, "instruction slots exceed vs_2_0's 256"},
      // The targets of ps_2_a and ps_2_b keep their profile's version token.
      {branch(150, false), "ps_2_a", 0x4, "instruction slots exceed ps_2_x's 512"},
      {branch(150, false), "ps_2_b", 0x4, "instruction slots exceed ps_2_x's 512"},
      // ps_1_x (which always optimises) says so in its own words.
      {branch(150, false), "ps_1_1", 0x4, "error X4500: program is order of magnitude too large to compile to ps_1_1"},
      {branch(150, false), "ps_1_4", 0x4, "error X4500: program is order of magnitude too large to compile to ps_1_4"},
  };
  if (nura::test::LongMode())
    cases.insert(cases.end(), {{nest, "vs_2_a", 0, "instruction slots exceed vs_2_x's 256"},
                               {branch(200, false), "ps_2_0", 0, "arithmetic slots exceed ps_2_0's 32 + 64"},
                               {branch(200, true), "vs_2_0", 0, "instruction slots exceed vs_2_0's 256"}});
  // The second phase is not to be reached: were it, it would end the
  // compile with its own code.
  shadertest::LoopCompileOptions o;
  o.secondPhaseStepHook = [](gxl::shader::ShaderProgram&, std::uint32_t, HRESULT) { return E_ABORT; };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.profile) + " flags " + std::to_string(k.flags));
    const shadertest::LoopCompile c = shadertest::CompileLoops(k.source, k.profile, k.flags, o);
    EXPECT_EQ(c.c.hr, E_FAIL);
    if (k.profile[3] != '1') {
      EXPECT_NE(c.c.log.find("error X5020"), std::string::npos) << c.c.log;
    }
    EXPECT_NE(c.c.log.find(k.limit), std::string::npos) << c.c.log;
    EXPECT_EQ(c.c.log.find("X4004"), std::string::npos) << c.c.log;
    if (k.flags && k.profile[3] != '1') {
      EXPECT_LT(c.workSpent, c.workGranted / 4);
    }
  }
  // Short of the bound's reach the compile goes the whole way, and the
  // validator's message counts the slots of the code exactly: the same
  // program without validation emits that many (single-slot) instructions.
  const std::string rows = branch(50, false);
  const CompiledHlsl whole = shadertest::CompileHlsl(rows, "main", "ps_2_0", 0x4);
  const CompiledHlsl unchecked = shadertest::CompileHlsl(rows, "main", "ps_2_0", 0x4 | 0x2);
  ASSERT_EQ(unchecked.hr, S_OK) << unchecked.log;
  std::size_t slots = 0;
  for (const char* op : {"add ", "mul ", "mad ", "cmp ", "mov "}) slots += unchecked.Lines(op).size();
  EXPECT_GT(slots, 64u);
  EXPECT_EQ(whole.hr, E_FAIL);
  EXPECT_NE(whole.log.find("0 texture and " + std::to_string(slots) + " arithmetic slots exceed ps_2_0's 32 + 64"),
            std::string::npos)
      << whole.log;
}

}  // namespace
