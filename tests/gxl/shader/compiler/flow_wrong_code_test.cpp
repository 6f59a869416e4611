// Loops and branches that once compiled to code giving other values than the
// program's, or to code the profile cannot hold. Each program is compiled
// for the profiles named, validated by the platform during the compile, run
// in the token kit's interpreter and compared with its value worked out from
// the HLSL by hand (or evaluated here, written as the program reads).
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "place_constants.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/shader/interp.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::Interpreter;
using nura::shtok::Lane;
using shadertest::CompiledHlsl;
using shadertest::Uniforms;

constexpr DWORD kOptimised = 0, kNoOptimisation = 0x4, kPreferFlowControl = 0x400;

// An input the lane receives, by declared usage and index.
struct Input {
  int usage;
  int index;
  Float4 value;
};

// One run of a program: its uniforms and inputs, and the value it leaves in
// TEXCOORD0 (vertex) or COLOR0 (pixel).
struct Setting {
  Uniforms uniforms;
  std::vector<Input> inputs;
  Float4 want;
};

constexpr int kPosition = nura::shtok::kUsagePosition, kTexCoord = nura::shtok::kUsageTexCoord,
              kColor = nura::shtok::kUsageColor;

Float4 Splat(float x) { return Float4(x, x, x, x); }

// The value of TEXCOORD0 or COLOR0 after one lane ran the compiled code.
::testing::AssertionResult Execute(const CompiledHlsl& c, const Setting& run, Float4* out) {
  Interpreter interp;
  std::string error;
  if (!interp.Load(c.code.data(), c.code.size(), &error)) return ::testing::AssertionFailure() << "load: " << error;
  if (!shadertest::PlaceConstants(c.table.Get(), run.uniforms, interp, &error))
    return ::testing::AssertionFailure() << error;
  Lane lane;
  for (const Input& in : run.inputs) {
    const nura::shtok::Declaration* d = interp.FindDeclaration(in.usage, in.index);
    if (Float4* slot = d ? nura::shtok::DeclaredSlot(lane, *d) : nullptr) *slot = in.value;
  }
  if (!interp.Run(&lane, 1, &error)) return ::testing::AssertionFailure() << "run: " << error;
  const bool vertex = (c.code[0] >> 16) == 0xFFFE;
  if (!vertex) {
    *out = lane.oC[0];
  } else if ((c.code[0] & 0xFFFF) >= 0x300) {
    const nura::shtok::Declaration* d = interp.FindDeclaration(kTexCoord, 0, true);
    if (!d) return ::testing::AssertionFailure() << "no TEXCOORD0 output declared";
    *out = lane.o[d->number];
  } else {
    *out = lane.o[0];
  }
  return ::testing::AssertionSuccess();
}

// Compiles `source` for one profile and checks every run's value.
void CheckProfile(const std::string& source, const char* profile, DWORD flags, const std::vector<Setting>& runs) {
  SCOPED_TRACE(std::string(profile) + (flags & kNoOptimisation ? " noopt" : ""));
  const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
  ASSERT_EQ(c.hr, S_OK) << c.log;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    Float4 got;
    ASSERT_TRUE(Execute(c, runs[r], &got)) << c.text;
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got[k], runs[r].want[k], 1e-4 * (1 + std::fabs(runs[r].want[k])))
          << "run " << r << " component " << k << "\n"
          << c.text;
  }
}

void Check(const std::string& source, std::initializer_list<const char*> profiles,
           std::initializer_list<DWORD> flagSets, const std::vector<Setting>& runs) {
  for (const char* profile : profiles)
    for (const DWORD flags : flagSets) CheckProfile(source, profile, flags, runs);
}

constexpr std::initializer_list<DWORD> kBoth = {kOptimised, kNoOptimisation};

// `body` in a pixel function of TEXCOORD0 and in a vertex function of
// POSITION, both named t, whose value is `value`: for the pixel profiles
// given and every vertex profile, optimised and not.
void CheckStages(const std::string& globals, const std::string& body, const std::string& value,
                 std::initializer_list<const char*> pixelProfiles, const std::vector<Setting>& runs) {
  Check(globals + "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n" + body + "  return " + value + "; }\n",
        pixelProfiles, kBoth, runs);
  Check(globals + "void main(float4 t : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n" + body +
            "  opos = t; otc = " + value + "; }\n",
        {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth, runs);
}

}  // namespace

// A do-while whose exit test reads a uniform: the last pass's writes reach
// the value after the loop (they were committed past the break, in registers
// the exit test had reused).
TEST(GxlFlowWrongCode, DoWhileKeepsTheLastPassesWrites) {
  const std::string body =
      "  float4 v = 0.5; float w = 0;\n"
      "  do { v.xyz = 1; w += 1; } while (w < 2 && n0 < 0);\n";
  const std::vector<Setting> runs = {{{{"n0", {1}}}, {}, Float4(1, 1, 1, 0.5f)},
                                 {{{"n0", {-1}}}, {}, Float4(1, 1, 1, 0.5f)}};
  CheckStages("float n0;\n", body, "v", {"ps_2_0", "ps_2_a", "ps_2_sw", "ps_3_0", "ps_3_sw"}, runs);
}

// A counted loop nested in a do-while, unoptimised: the second outer pass's
// values leave the loop, not the first's.
TEST(GxlFlowWrongCode, NestedLoopInDoWhileLeavesTheLastPass) {
  const char source[] =
      "float4 main(float4 t : TEXCOORD0) : COLOR0 {\n"
      "  float2 v = 0.5; float w = 0;\n"
      "  do {\n"
      "    for (int i = 0; i < 2; i++) { v = log2(abs(t.yw) + 0.5); v = t.xz - i; }\n"
      "    t = 0.5; w += 1;\n"
      "  } while (w < 2);\n"
      "  return v.yxxx; }\n";
  Check(source, {"ps_2_0", "ps_2_sw", "ps_3_0", "ps_3_sw"}, kBoth,
        {{{}, {{kTexCoord, 0, Float4(-0.56f, -1.49f, -1.01f, -0.93f)}}, Splat(-0.5f)}});
}

// A loop bounded by a uniform: the values it starts from, its counter among
// them, are set once before the loop, not on every pass.
TEST(GxlFlowWrongCode, LoopEntryCopiesStayOutsideTheLoop) {
  const char source[] =
      "float n0;\n"
      "void main(float4 a : TEXCOORD1, float4 b : TEXCOORD2, float4 p : POSITION, float4 c : TEXCOORD3,\n"
      "          out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
      "  for (int i = 0; i < n0; i++) {\n"
      "    if (abs(a.y) < c.y + b.w) p.z = 0.5 * c.z;\n"
      "    if (c.y != -0.94) b.w += 0.5;\n"
      "    if (0.5 <= (n0 > -1 ? c.y : i * 0.5)) a *= float4(0.84, 0.99, -1.0, -2.65) / c.z;\n"
      "    c.zy = 1;\n"
      "  }\n"
      "  opos = 0.5; otc = p + a; }\n";
  const std::vector<Input> inputs = {
      {kTexCoord, 1, Splat(1)}, {kTexCoord, 2, Splat(0)}, {kPosition, 0, Splat(0)}, {kTexCoord, 3, Splat(1)}};
  Check(source, {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth,
        {{{{"n0", {2}}}, inputs, Float4(0.7056f, 0.9801f, 1.5f, 7.0225f)},
         {{{"n0", {0}}}, inputs, Float4(1, 1, 1, 1)},
         {{{"n0", {1}}}, inputs, Float4(0.84f, 0.99f, -1, -2.65f)}});
}

// An if/else whose else holds two nested one-pass loops: the output the
// if/else computes is written (the final move to it was dropped, and the
// validator took a vertex shader that wrote no TEXCOORD0).
TEST(GxlFlowWrongCode, ElseWithNestedLoopsWritesTheOutput) {
  const char source[] =
      "void main(float4 c : COLOR0, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
      "  float4 v = 1;\n"
      "  if (!(0.5 > c.x)) { } else for (int i = 0; i < 1; i++) for (int j = 0; j < 1; j += 2) v = 0.5;\n"
      "  opos = 0.5; otc = v; }\n";
  Check(source, {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth,
        {{{}, {{kColor, 0, Splat(0.25f)}}, Splat(0.5f)}, {{}, {{kColor, 0, Splat(0.75f)}}, Splat(1)}});
}

// A do-while around a loop that never runs, both exits reading values the
// loop carries: the blocks' predicates agree (X4832 "if block with non
// matching predicates").
TEST(GxlFlowWrongCode, DoWhileAroundAnEmptyLoopCompiles) {
  const char source[] =
      "void main(float4 p : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
      "  float w = 0;\n"
      "  do { for (int i = 0; i <= 0 && w > w; i++) p.y += 0.5; w += 1; } while (w < 2 && 0.5 > p.y);\n"
      "  opos = 0.5; otc = p; }\n";
  const Float4 p(0.25f, -0.5f, 2, 3);
  Check(source, {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth,
        {{{}, {{kPosition, 0, p}}, p}});
}

// A loop that may run once, then an if/else whose then side adds to x and
// runs a do-while and whose else side writes another variable: the output
// is written once per component (X5012 on vs_2_a and vs_2_sw).
TEST(GxlFlowWrongCode, IfElseAfterLoopWritesEachComponentOnce) {
  const char source[] =
      "float4 u1; float4 ua[4];\n"
      "void main(float4 p : POSITION, float4 c : COLOR0, float4 t : TEXCOORD1,\n"
      "          out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
      "  for (int i = 0; i <= 0 && 0.5 <= u1.z; i++) p = 0.5;\n"
      "  if (0.5 < ua[1].x) { p.x += 0.5; float w = 0; do { w += 1; } while (w < 3); }\n"
      "  else t = (0.5 > c.y) ? 1.0 : 0.0;\n"
      "  opos = 0.5; otc = p; }\n";
  const Float4 p(0.25f, -0.5f, 2, 3);
  const std::vector<Input> inputs = {{kPosition, 0, p}, {kColor, 0, Splat(0.25f)}, {kTexCoord, 1, Splat(7)}};
  std::vector<Setting> runs;
  for (const double z : {0.0, 1.0})
    for (const double x : {0.0, 1.0}) {
      Float4 want = z >= 0.5 ? Splat(0.5f) : p;
      if (x > 0.5) want[0] += 0.5f;
      runs.push_back({{{"u1", {0, 0, z, 0}}, {"ua", {0, 0, 0, 0, x, 0, 0, 0}}}, inputs, want});
    }
  Check(source, {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, kBoth, runs);
}

// Both sides of an if/else write .yzw of a texture coordinate output whose x
// is written outside the block, before or after it: before vs_3_0 such an
// output takes only .x, .xy, .xyz or .xyzw writes (X5012).
TEST(GxlFlowWrongCode, IfElseWritingYzwBesideX) {
  const std::string inputs =
      "void main(float4 p : POSITION, float4 c : COLOR0, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n";
  const std::string block = "  if (c.x > 0.5) otc.yzw = p.xyz * 2; else otc.yzw = p.zyx + c.yzw;\n";
  const std::string x = "  otc.x = p.w * 3;\n";
  const Float4 p(1, 2, 3, 4);
  const std::vector<Setting> runs = {{{}, {{kPosition, 0, p}, {kColor, 0, Float4(0.75f, 1, 1, 1)}}, Float4(12, 2, 4, 6)},
                                     {{}, {{kPosition, 0, p}, {kColor, 0, Float4(0.25f, 1, 2, 3)}}, Float4(12, 4, 4, 4)}};
  for (const std::string& source : {inputs + x + block + "  opos = p; }\n", inputs + block + x + "  opos = p; }\n"})
    Check(source, {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"},
          {kOptimised, kNoOptimisation, kPreferFlowControl}, runs);
}

// A do-while whose test the optimiser finds always false (x > x) runs its
// body once: the break that is always taken leaves the loop after one pass,
// it is not dropped with the pass after it.
TEST(GxlFlowWrongCode, AlwaysTakenBreakEndsTheLoopAfterOnePass) {
  const std::string loop =
      "  float4 v = t; float w = 0;\n"
      "  do { v.x += 1; w += 1; } while (w < 3 && (u0.y > u0.y));\n";
  const std::vector<Setting> runs = {
      {{{"u0", {1, 1, 1, 1}}}, {{kTexCoord, 0, Float4(1, 2, 3, 4)}, {kPosition, 0, Float4(1, 2, 3, 4)}},
       Float4(2, 2, 3, 4)}};
  CheckStages("float4 u0;\n", loop, "v", {"ps_2_0", "ps_2_sw", "ps_3_0", "ps_3_sw"}, runs);
}

// A do-while and a loop holding a do-while, their values carried from pass
// to pass: each pass reads the values the pass before left, though the
// registers put a merge's results apart from the loop's entry (worked out by
// hand: (1.37109375, 0.13770676 - 0.75, -1.75, -0.125)).
TEST(GxlFlowWrongCode, LoopCarriedValuesReachTheNextPass) {
  const std::string body =
      "  float4 v0 = t.wyxz * t.zzxy;\n"
      "  float4 v1 = v0.xywx;\n"
      "  float4 v2 = max(u0.yzzw, 0.75);\n"
      "  float w1 = 0;\n"
      "  do {\n"
      "    v0.xy *= v0.zy + 0.5;\n"
      "    v0.yzw *= v2.xzx;\n"
      "    w1 += 1;\n"
      "  } while (w1 < 3 && max(v1.x, u0.w) <= 0.5);\n"
      "  for (int i = 0; i < 1; i++) {\n"
      "    float w2 = 0;\n"
      "    do { v0.zw = t.zw; w2 += 1; } while (w2 < 3 && u0.w != i * u1.y);\n"
      "  }\n";
  const Float4 t(-1, 1, -1, -0.5f);
  const std::vector<Setting> runs = {{{{"u0", {1.5, -0.5, 0.5, 0.5}}, {"u1", {1.5, 0.25, 0.5, -0.5}}},
                                      {{kTexCoord, 0, t}, {kPosition, 0, t}},
                                      Float4(1.37109375f, 0.13770676f - 0.75f, -1.75f, -0.125f)}};
  CheckStages("float4 u0, u1;\n", body, "v0 + v1 * v2.wzyx", {"ps_2_sw", "ps_3_0", "ps_3_sw"}, runs);
}

// The differential's do-while reproducers (values worked out by hand): an
// exit after some passes, a pass that runs once with its result written to
// outputs in parts, a flag cleared in the last pass and read after the loop,
// and a carried value whose register the exit test reused.
TEST(GxlFlowWrongCode, KitDoWhileExitsKeepTheLastPass) {
  const std::string vertex =
      "void main(float4 p : POSITION, float b : TEXCOORD1, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
      "  pos = p;\n";
  const std::initializer_list<const char*> profiles = {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
  Check("float s;\n" + vertex +
            "  float2 r = 0; float d = 0;\n"
            "  do { d += 1; if (s > -3) { r += 1; } } while (s > 1.125 && d < 3);\n"
            "  o0 = r.xyxy; }\n",
        profiles, kBoth, {{{{"s", {2.4375}}}, {}, Splat(3)}, {{{"s", {0.5}}}, {}, Splat(1)}});
  Check("float a;\n" + vertex +
            "  float4 r = 0; bool k = true;\n"
            "  do { if (a < b) { k = false; } else { r.z -= 0.5; } } while (k);\n"
            "  r.w = k; o0 = r; }\n",
        profiles, kBoth, {{{{"a", {-0.5625}}}, {{kTexCoord, 1, Splat(2.625f)}}, Splat(0)}});
  Check("float v2;\n" + vertex +
            "  int4 r = 0; float d0 = 0;\n"
            "  do { d0 += 1; r -= 0; } while (((d0 < 5) && (v2 > 0.9375)));\n"
            "  r.xy -= 0; o0.xyzw = (float4)r.xyzw; }\n",
        profiles, kBoth, {{{{"v2", {-0.375}}}, {}, Splat(0)}, {{{"v2", {1}}}, {}, Splat(0)}});
  Check("float v9;\nvoid main(out float4 o0 : COLOR0, out float4 o1 : COLOR1) {\n"
        "  o0 = 0; o1 = 0; float4 r = 0; int d = 0;\n"
        "  do { d += 1; r -= 1; } while (d < 4 && v9 >= 0.3125);\n"
        "  o0.xy = r.xy; o1.x = r.z; o1.y = r.w; }\n",
        {"ps_3_0", "ps_3_sw"}, kBoth,
        {{{{"v9", {-1.5}}}, {}, Float4(-1, -1, 0, 0)}, {{{"v9", {1}}}, {}, Float4(-4, -4, 0, 0)}});
}

// An if block that clears a loop's flag, unrolled inside an else inside a
// loop: the moves that place each side of the flag's merge in its block stay
// (a side replaced by the literal it moves left the merge outside every
// block: X4832 "if block with non matching predicates").
TEST(GxlFlowWrongCode, MergeSidesKeepTheirBlocks) {
  const char source[] =
      "float v4, v6; float4 v8[2]; int v9;\n"
      "float4 main() : COLOR0 {\n"
      "  float4 r = v8[0];\n"
      "  bool k3 = true;\n"
      "  for (int i3 = 0; i3 <= v6 && k3; i3++) {\n"
      "    if (i3 < i3) {\n"
      "    } else {\n"
      "      bool k6 = true;\n"
      "      for (int i6 = 0; i6 < 4 && k6; i6++) {\n"
      "        if (r.w != v4) {\n"
      "          float w8 = dot(((v4 / v8[1].x) * (int3(8, 3, -2) % v6)),\n"
      "                         (exp(float2x3(3.75, -2.875, 3.125, 3.0, 3.4375, 1.0625)))[v9]);\n"
      "          k6 = false;\n"
      "          r.xyz = float3(-3.0, -3.9375, -1.8125);\n"
      "          float4 w9 = 1;\n"
      "        }\n"
      "      }\n"
      "    }\n"
      "  }\n"
      "  return r; }\n";
  const Uniforms base = {{"v8", {1, 2, 3, 4, 0.5, 0, 0, 0}}, {"v9", {0}}};
  auto with = [&](double v4, double v6) {
    Uniforms u = base;
    u["v4"] = {v4};
    u["v6"] = {v6};
    return u;
  };
  Check(source, {"ps_3_0", "ps_3_sw"}, kBoth,
        {{with(2, 1), {}, Float4(-3, -3.9375f, -1.8125f, 4)},
         {with(4, 1), {}, Float4(1, 2, 3, 4)},
         {with(2, -1), {}, Float4(1, 2, 3, 4)}});
}
