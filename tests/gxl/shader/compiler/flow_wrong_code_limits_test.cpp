// Loops whose unrolling or flow-control rehearsal once grew without bound
// (every iteration's IR kept, nested loops multiplying the bodies) and ended
// in "internal error: out of memory" after seconds and a gigabyte: each now
// ends in the iteration limit or a "program too complex" limit, or compiles
// where the profile keeps the loop.
#include <gtest/gtest.h>

#include <string>

#include "tests/gxl/shader/compiled_hlsl.h"

namespace {

using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

constexpr char kIterationLimit[] =
    "error X3511: loop does not appear to terminate in a timely manner (1024 iterations)";
constexpr char kTooComplex[] = "program too complex";

enum class Outcome { kIterationLimit, kAnyLimit, kCode };

TEST(GxlFlowWrongCode, UnboundedLoopShapesEndInALimit) {
  struct Row {
    const char* name;
    const char* profiles;  // space-separated
    Outcome outcome;
    const char* source;
  } rows[] = {
      {"body rewrites the counter", "ps_2_b", Outcome::kIterationLimit,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) { r = r * 0.5 + sin(r); if (r.x > 100) i = 0; } return r; }"},
      // 1,024 x 16 bodies: more than the lowering holds, so a limit of either kind.
      {"nested constant loops, counter rewritten", "ps_2_0", Outcome::kAnyLimit,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) { for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++)\n"
       "    r = r * 0.5 + sin(r); if (r.x > 100) i = 0; } return r; }"},
      {"indexed literal matrix in a do-while", "vs_1_1 vs_2_0", Outcome::kIterationLimit,
       "float n; int k;\n"
       "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
       "  pos = p; float r = 0;\n"
       "  for (int i = 0; i <= n; i++) { bool go = true; float d = 0;\n"
       "    do { d += 1; if (r >= i) { go = false; }\n"
       "         else { r += float2x3(1, 0, 0.625, 2.875, 0, 0.0625)[k].x; } } while (d < 5 && go); }\n"
       "  o0 = r; }"},
      {"indexed literal vector in the condition", "vs_2_a", Outcome::kIterationLimit,
       "int n; int m; int k;\n"
       "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
       "  pos = p; int r = 0;\n"
       "  for (int i = 0; i <= n; i++) {\n"
       "    if (r == int3(1, 0, 1)[int4(0, 7, 2, 4)[n]]) { for (int j = 0; j < m; j++) r += j; }\n"
       "    else { r += i; bool go = true; for (int l = 0; l < k && l < 3 && go; l++) r += l; } }\n"
       "  o0 = r; }"},
      // Literal matrices indexed by uniforms in bodies that must unroll. An
      // index whose operands the loop does not change has one range in every
      // iteration, so only the first iteration could end the loop early.
      {"indexed literal matrices in nested loops", "vs_1_1", Outcome::kIterationLimit,
       "uniform float v6;\n"
       "uniform int v7;\n"
       "uniform int v8;\n"
       "void main(float4 p : POSITION, float v0 : TEXCOORD0, float3 v3 : TEXCOORD1, float v4 : TEXCOORD2,"
       " out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
       "  pos = p;\n"
       "  o0 = 0;\n"
       "  float3 r = v3;\n"
       "  for (int i1 = 0; i1 <= v6; i1++) {\n"
       "    float3 a3[4] = {v3, v3, v3, (r).yzx};\n"
       "    for (int i3 = 0; ((i3 < 5) && (v8 > i3)); i3++) {\n"
       "      if (((r).y > v4)) {\n"
       "        a3[2].xy += ((sqrt((abs(v0) + 0.25)) ? (-float2((-2.0), (-2.8125))) : ((float2)i1)) ?"
       " (float4x2(3.9375, (-3.1875), 1.9375, 3.8125, (-3.5), 2.4375, (-2.75), 1.125))[min(v8, v7)] :"
       " float2((v8 ? v8 : 7), (int3((-9), (-1), 5))[v7]));\n"
       "      }\n"
       "      r.xy -= (((v4 < v4) ? (v6 ? float4x2((-0.3125), 3.0625, (-3.25), 1.75, (-0.1875), (-3.0),"
       " 0.875, (-0.625)) : float4x2(3.625, (-0.875), (-2.625), 3.25, 2.375, (-0.9375), 0.1875, (-1.125)))"
       " : (float4x2((-0.6875), 3.6875, (-1.25), (-1.375), 2.1875, (-3.625), (-2.25), (-2.375)) /"
       " float4x2((-2.3125), 3.25, (-1.25), 3.8125, (-0.625), (-1.125), (-3.0), (-1.6875)))))[(v7 /"
       " (int3(9, 6, 5))[v7])];\n"
       "    }\n"
       "  }\n"
       "  o0.xyz = r;\n"
       "}\n"},
      {"indexed literal matrix scaling a local array", "ps_2_0", Outcome::kAnyLimit,
       "uniform float v2;\n"
       "uniform int v6;\n"
       "uniform float4 v11[3];\n"
       "uniform float v12;\n"
       "uniform float2 v13[2];\n"
       "uniform int v15;\n"
       "void main(float2 v3 : TEXCOORD0, out float4 o0 : COLOR0) {\n"
       "  o0 = 0;\n"
       "  bool r = false;\n"
       "  float4 a1[4] = {v11[2], v11[1], v11[0], v11[0]};\n"
       "  for (int i1 = 0; (i1 <= v12); i1++) {\n"
       "    for (int i2 = 0; (i2 < 4); i2++) {\n"
       "      a1[i2] -= float4((((int2)bool2(false, true)) && (v3 / v12)), (bool4(((bool2)i2), (v13[0]).y,"
       " 3.5))[1], v2);\n"
       "      if ((i2 != ((((int2)(a1[(3 - i2)]).yy))[v6] - (true ? (-6) : v6)))) {\n"
       "        if ((v12 == v12)) {\n"
       "          a1[(3 - i2)] *= (float3x4(0.5625, -0.625, 2.5, -3.5, -3.3125, 0.4375, 2.1875, 0.3125,"
       " 0.375, 3.0, 2.0625, 1.25)[v15]);\n"
       "        }\n"
       "      } else {\n"
       "        r = ((bool)((int4)(a1[(3 - i2)]).wxyy));\n"
       "      }\n"
       "    }\n"
       "  }\n"
       "  o0.x = (float)r;\n"
       "}\n"},
      // Indexes the loop changes, through a local of the body or a variable it
      // writes: the array's end stops them, so no iteration limit.
      {"index through a local of the body", "vs_1_1 vs_2_0", Outcome::kCode,
       "float n0; float4 ua[8]; float4 main(float4 t : POSITION) : POSITION { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) { int j = i + 6; r += ua[j]; } return r; }"},
      {"index through a variable the body writes", "vs_1_1 vs_2_0", Outcome::kCode,
       "float n0; float4 ua[8]; float4 main(float4 t : POSITION) : POSITION { float4 r = t; int j = 0;\n"
       "  for (int i = 0; i < n0; i++) { r += ua[j]; j += 3; } return r; }"},
      // Indexes only the step changes: the rehearsal of the conditions and
      // step finds where one leaves its array, or that none does.
      {"index the step keeps inside the array", "ps_2_0 ps_2_b", Outcome::kIterationLimit,
       "float n0; float4 ua[8]; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) r = r * ua[(i + 3) % 8] + t.yzwx; return r; }"},
      {"index the step moves past the array", "vs_1_1 vs_2_0", Outcome::kCode,
       "float n0; float4 ua[8]; float4 main(float4 t : POSITION) : POSITION { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) r += ua[i + 5]; return r; }"},
      // Fits ps_3_0 as a real loop around the unrolled inner ones.
      {"nested constant loops kept as a loop", "ps_3_0", Outcome::kCode,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++)\n"
       "    r = r * 0.5 + sin(r); return r; }"},
  };
  for (const Row& row : rows) {
    std::string profiles = row.profiles;
    for (std::size_t at = 0; at < profiles.size();) {
      std::size_t end = profiles.find(' ', at);
      if (end == std::string::npos) end = profiles.size();
      const std::string profile = profiles.substr(at, end - at);
      at = end + 1;
      SCOPED_TRACE(std::string(row.name) + " " + profile);
      const CompiledHlsl c = CompileHlsl(row.source, "main", profile.c_str(), 0);
      EXPECT_FALSE(c.Logged("internal error")) << c.log;
      if (row.outcome == Outcome::kCode) {
        EXPECT_EQ(c.hr, S_OK) << c.log;
        continue;
      }
      EXPECT_EQ(c.hr, E_FAIL) << c.log;
      if (row.outcome == Outcome::kIterationLimit)
        EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
      else
        EXPECT_TRUE(c.Logged(kIterationLimit) || c.Logged(kTooComplex)) << c.log;
    }
  }
}

}  // namespace
