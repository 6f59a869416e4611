// Loops whose values once came out wrong: a value a loop carried was read
// back from its register after code past the loop had reused it, and a
// counted loop's step went missing so that its counter never moved. Each program is compiled, validated, run in the token kit's
// interpreter and its output compared with the value worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;
using shadertest::In;

using shadertest::kTexCoord;
using shadertest::kBoth;

// A do-while inside an if carries row 3 of r, and code after the loop takes
// the register of r._m33's loop entry before the value is read back from it.
// The do-while runs once (v8 = 0.5), so r = v0 with r._m32 += 0.5; then the
// pass i5 = 1 adds row 3 of the built matrix, (-1, -5, 0.1875, -3.75):
// o3 = (6, 0, -3, -7) + (0, 0, 0.5, 0) + (-1, -5, 0.1875, -3.75).
TEST(GxlFlowWrongCode, LoopValuesAreReadBackBeforeTheirRegistersAreReused) {
  CheckFlowProgram(
      {"seed 7011",
       "uniform row_major int4x4 v0;\n"
       "uniform int v2;\n"
       "uniform row_major float4x4 v3;\n"
       "uniform float v8;\n"
       "uniform int v11;\n"
       "void main(float4 p : POSITION, float2 v5 : TEXCOORD0, out float4 pos : POSITION, out float4 o0 : TEXCOORD0,"
       " out float4 o1 : TEXCOORD1, out float4 o2 : TEXCOORD2, out float4 o3 : TEXCOORD3) {\n"
       "  pos = p;\n"
       "  float4x4 r = (v0 - v3);\n"
       "  float a1[3] = {1, v5.x, 0};\n"
       "  if (((r)._m10 <= 0.25)) {\n"
       "    float d2 = 0;\n"
       "    do {\n"
       "      d2 += 1;\n"
       "      r += v3;\n"
       "      r._m32 += v8;\n"
       "    } while ((d2 < 5 && v8 < -1.875));\n"
       "  }\n"
       "  for (int i5 = 0; i5 < 2; i5++) {\n"
       "    r += (float4x4(float3(1.1875, -0.75, -0.4375), ((-int2x3(4, 5, 8, (-1), 1, 5)))[(v11 - v2)],"
       " ((bool3)a1[i5]), float2(1, 1), -3.0625, float2(-1, -5), float4x2(-1.0, -0.0625, 0.1875, -3.75, -3.375,"
       " 2.5, 2.25, -3.1875)[v11]) * ((float)i5));\n"
       "  }\n"
       "  o0.xyzw = (float4)r._m00_m01_m02_m03;\n"
       "  o1.x = (float)r._m10;\n"
       "  o1.yzw = (float3)r._m11_m12_m13;\n"
       "  o2.x = (float)r._m20;\n"
       "  o2.y = (float)r._m21;\n"
       "  o2.z = (float)r._m22;\n"
       "  o2.w = (float)r._m23;\n"
       "  o3.xy = (float2)r._m30_m31;\n"
       "  o3.zw = (float2)r._m32_m33;\n"
       "}\n",
       {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"},
       kBoth,
       {{"v0", {-6, -5, -3, -6, -6, 8, 9, 7, 8, 8, 0, 1, 6, 0, -3, -7}},
        {"v2", {0}},
        {"v3", {2.0625, -1.0625, 3.3125, 1.5, 1.875, -0.9375, -1.3125, -2, -2.875, -0.8125, -0.25, 3.9375, -0.25,
                -1.125, 2.5, -2.3125}},
        {"v8", {0.5}},
        {"v11", {1}}},
       {{In(kTexCoord, 0), Float4(2.3125, 1.5, 0, 0)}},
       {kTexCoord, 3},
       Float4(5, -5, -2.3125, -10.75)});
}

// A do-while whose counter indexes a uniform array becomes a counted loop
// over aL, whose count, start and step go into one integer constant; the
// step once went missing (0), so every pass read the first element.
TEST(GxlFlowWrongCode, DoWhileReadFollowsItsCounter) {
  // r = (1, -2, 0, 1); d = 1 subtracts v7[1].w = 2, r.y <= -1.5625 goes on,
  // d = 2 subtracts v7[2].w = 4.
  CheckFlowProgram({"do-while over v7[d]",
                    "uniform float4 v7[3]; uniform float4 u;\n"
                    "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                    "  pos = p; float4 r = u * float4(0, 1, 1, 0) + float4(1, 0, 0, 1); int d = 0;\n"
                    "  do { d += 1; r.x -= v7[d].w; } while (d < 2 && r.y <= -1.5625);\n"
                    "  o0 = r; }",
                    {"vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"},
                    kBoth,
                    {{"v7", {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4}}, {"u", {0, -2, 0, 0}}},
                    {},
                    {kTexCoord, 0},
                    Float4(-5, -2, 0, 1)});

  // The generator's program of the same loop (seed 6213). r starts as
  // lerp(A, transpose(cosh(B)), S) with S = (1, 0), (-1.6875, 0), (1, 1),
  // (1, 0); less (1, 0), (12, 1), (1, 1), (42, 0.625): r._m30 = cosh(3.1875)
  // - 42, r._m31 = -2.625 - 0.625. The do-while runs twice (r._m10 = -6.21
  // <= -1.5625, r._m00 = cosh(1.25) - 1 is not 0) and subtracts v7[1].w =
  // 0.9375, then v7[2].w = 1.
  const float m30 = static_cast<float>(std::cosh(3.1875) - 42 - 0.9375 - 1);
  CheckFlowProgram(
      {"seed 6213",
       "uniform int v0;\n"
       "uniform float v1;\n"
       "uniform int v2;\n"
       "uniform bool v3;\n"
       "uniform row_major float4x2 v4;\n"
       "uniform bool v5;\n"
       "uniform float3 v6[3];\n"
       "uniform float4 v7[3];\n"
       "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0,"
       " out float4 o1 : TEXCOORD1, out float4 o2 : TEXCOORD2, out float4 o3 : TEXCOORD3) {\n"
       "  pos = p;\n"
       "  o0 = 0;\n"
       "  o1 = 0;\n"
       "  o2 = 0;\n"
       "  o3 = 0;\n"
       "  float4x2 r = ((((true ? int2(7, (-4)) : int2((-3), (-4))) * v0))[v2] ? lerp(float4x2(3.75, 1.25, 2.8125,"
       " (-0.25), (-1.5625), (-3.1875), 0.125, (-2.625)), transpose(cosh(float2x4(1.25, 0.3125, (-3.5625), 3.1875,"
       " 3.875, 0.0, 3.9375, 1.6875))), (saturate(v1) ? float4x2(v2, float2(0.0, (-1.6875)), bool4(false, true,"
       " true, true), v3) : exp2(v4))) : (degrees((+v4)) - float4x2((-2.375), 0.375, 3.875, (-3.375), 0.25,"
       " (-1.1875), 0.375, (-3.4375))));\n"
       "  float3 w1 = float3((+(-4)), v5, ((int)(+(r)._m10)));\n"
       "  float3 a2[4] = {float3(((bool3)(w1).zzz)), v6[1], (((-v2) ? (float3(0.8125, (-2.5), (-2.0)))[v2] :"
       " (float4((-3.3125), (-2.6875), 0.5625, 1.125))[0]) * (float3(v1, bool2(false, true)) ? cosh(float3(3.0625,"
       " 0.8125, (-3.25))) : (v6[2] * float3(2.8125, (-1.625), (-3.9375))))), float3((((r)._m01 ? float3x4(4.0,"
       " (-2.0), (-3.3125), 2.625, 0.5, (-3.625), (-0.0625), (-1.125), 2.0, 0.4375, (-3.5625), (-1.5625)) :"
       " float3x4(1.5, 0.1875, (-1.625), (-3.4375), (-2.625), 3.1875, 3.8125, 1.5625, (-3.0), (-2.75), (-1.0625),"
       " (-2.125))))._m12_m20, dot((((bool)(w1).z) ? int4(9, 0, 4, (-3)) : int4(9, 0, 2, (-3))), int4((-5), 6,"
       " (-9), 2)))};\n"
       "  r -= float4x2(v2, float2(v3, (((int)(a2[1]).x) * ((int)(w1).x))), (log10((abs(float3((-1.0625), (-1.5),"
       " (-0.9375))) + 0.25)) != (((int4)(a2[1]).zyyx)).w), (((int)v1) * (v0 + v0)), (float3x4((-0.8125), 0.625,"
       " (-1.0625), (-1.875), (-3.8125), (-2.375), 2.4375, (-3.875), (-1.875), (-3.0), 0.375, 0.9375))._m01);\n"
       "  bool k3 = true;\n"
       "  int d3 = 0;\n"
       "  do {\n"
       "    d3 += 1;\n"
       "    r._m30 -= v7[d3].w;\n"
       "    if (((r)._m00 == 0)) {\n"
       "      k3 = false;\n"
       "    } else {\n"
       "    }\n"
       "  } while ((((d3 < 2) && (r._m10 <= -1.5625)) && k3));\n"
       "  o2.y = (float)r._m21;\n"
       "  o3.xy = (float2)r._m30_m31;\n"
       "}\n",
       {"vs_3_0", "vs_3_sw"},
       kBoth,
       {{"v0", {7}},
        {"v1", {3.125}},
        {"v2", {1}},
        {"v3", {0}},
        {"v4", {3.0625, -0.6875, -3.125, -3.875, 0.0625, -3.625, -1.1875, -1.875}},
        {"v5", {0}},
        {"v6", {0.1875, 3.9375, 2.75, -3.6875, -1.375, 1.375, -1.625, -2.25, -2.25}},
        {"v7", {0.625, -2.3125, 0.8125, 3.1875, 1.125, -0.5, 1.3125, 0.9375, 0.6875, 4, 3.5, 1}}},
       {},
       {kTexCoord, 3},
       Float4(m30, -3.25, 0, 0)});
}

}  // namespace
