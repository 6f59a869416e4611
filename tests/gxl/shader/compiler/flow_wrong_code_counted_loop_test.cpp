// Counted loops (loop aL over an integer constant) that once compiled into
// code giving other values than the program's, or into a loop the validator
// refused: each program is compiled for every vertex profile with flow
// control, optimised and not, validated during the compile, run in the
// token kit's interpreter with the uniforms placed where the constant table
// says, and its TEXCOORD0 compared with the value worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;

struct Input {
  int index;  // TEXCOORDn
  Float4 value;
};

struct Program {
  const char* source;
  shadertest::Uniforms uniforms;
  std::vector<Input> inputs;
  Float4 want;  // TEXCOORD0
};

void Check(const Program& p) {
  shadertest::LaneInputs inputs;
  for (const Input& in : p.inputs) inputs[shadertest::In(nura::shtok::kUsageTexCoord, in.index)] = in.value;
  shadertest::CheckFlowProgram({"counted loop",
                                p.source,
                                {"vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"},
                                {0x0u, 0x4u},
                                p.uniforms,
                                inputs,
                                {nura::shtok::kUsageTexCoord, 0},
                                p.want});
}

}  // namespace

// Three unrolled passes of d each hold a counted loop over i = 0, 1 that
// reads v12 by its counter; an int3 literal indexed by a uniform moves the
// literals so that reads before the loop need copies of its constants.
// r starts at (-0.4375, -1, -0.375, v3.z = 3.5625); only i = 1 counts,
// r -= v12[2] - v12[d - 1]: 99, 90 and 0 times (1, 2, 3, 4).
TEST(GxlFlowWrongCode, CountedLoopStepsByOneBesideAnIndexedIntLiteral) {
  Check({"int v0; int v6; float4 v12[3]; float v13; int v7;\n"
         "void main(float4 p : POSITION, float v1 : TEXCOORD0, float3 v3 : TEXCOORD2,\n"
         "          out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
         "  pos = p;\n"
         "  float4 r = v0 ? float4(v1, -1, -0.375, v3[v7]) : 0;\n"
         "  int d = 0;\n"
         "  do {\n"
         "    d += 1;\n"
         "    float4 w = float2x4(1, 2, 3, 4, 5, 6, 7, 8)[int3(1, 1, 0)[v6]];\n"
         "    for (int i = 0; i < 2 && v13 > i; i++) r -= (v12[i + 1] - v12[d - 1]) * i;\n"
         "  } while (d < 3);\n"
         "  o0 = r;\n"
         "}\n",
         {{"v0", {5}},
          {"v6", {1}},
          {"v7", {2}},
          {"v13", {2.25}},
          {"v12", {1, 2, 3, 4, 10, 20, 30, 40, 100, 200, 300, 400}}},
         {{0, Float4(-0.4375f, 0, 0, 0)}, {2, Float4(2.0625f, 1.0625f, 3.5625f, 0)}},
         Float4(-189.4375f, -379, -567.375f, -752.4375f)});
}

// A do-while whose counter indexes uniform arrays, beside constant reads
// that need copies: the loop's count stays in an integer register.
// r = float4(0, 0, 1, 1)[2] = 1 (TEXCOORD0 >= v1 is (1, 0, 0)), then
// r += v6[1].y = -1.125 and r += v6[0].y = -1.5.
TEST(GxlFlowWrongCode, CountedLoopCountStaysAnIntegerConstant) {
  Check({"uniform int3 v1; uniform int v2; uniform int v3; uniform int v5;\n"
         "uniform float2 v6[2]; uniform int v7; uniform float3 v8[4]; uniform int v9;\n"
         "void main(float4 p : POSITION, float3 v0 : TEXCOORD0,\n"
         "          out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
         "  pos = p;\n"
         "  o0 = 0;\n"
         "  float r = (((float4)((v0 >= v1)).zzxx))[(4 + ((v2 * (-6)) ? (v2 + v3) : (int3((-3), 8, 2))[v5]))];\n"
         "  float2 w1 = float2(1, 1);\n"
         "  int d1 = 0;\n"
         "  do {\n"
         "    d1 += 1;\n"
         "    r += (r ? v6[2 - d1].y / w1[v7] : -v8[d1 + 1].y);\n"
         "  } while ((d1 < 2));\n"
         "  o0.x = (float)r;\n"
         "}\n",
         {{"v1", {-2, 9, 2}}, {"v2", {2}}, {"v3", {-4}}, {"v5", {0}}, {"v6", {-0.5, -1.5, 2.5, -1.125}}, {"v7", {0}}},
         {{0, Float4(-0.75f, -3.0625f, -2.8125f, 0)}},
         Float4(-1.625f, 0, 0, 0)});
}
