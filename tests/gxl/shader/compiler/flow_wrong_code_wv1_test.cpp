// Loops whose relative reads share the address register: each program is
// compiled for the profiles named, validated, decoded by the token kit and
// run in its interpreter with the uniforms placed where the constant table
// says; its output is compared with the value the HLSL source computes
// (worked out by hand in each comment).
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using Program = shadertest::FlowProgram;

using shadertest::kBoth;
using shadertest::kVertex2Up;

// v10 rows (x, y, z): (1.875, 3.4375, 2.8125), (0.25, 0.125, -3.125),
// (3.5625, 3.6875, 2.5), (-3.875, 2.1875, 0.3125).
const shadertest::Uniforms kV10 = {
    {"v10", {1.875, 3.4375, 2.8125, 0.25, 0.125, -3.125, 3.5625, 3.6875, 2.5, -3.875, 2.1875, 0.3125}}};

// The component index v7 is the same on every pass, so its address load may
// stand before the loop; the loop's own relative read through 3 - d must then
// take another component of a0, or the second pass reads v10[d] through the
// clobbered one.
TEST(GxlFlowWrongCode, AddressLoadBeforeLoopSurvivesLoopRelativeRead) {
  shadertest::Uniforms u = kV10;
  u["v7"] = {1};
  // d = 1: a[2].z = 7; d = 2: a[1].z = 3; d = 3: a[0].z = v10[3].y = 2.1875.
  shadertest::CheckFlowProgram({"component index through a0",
                                "uniform int v7; uniform float3 v10[4];\n"
                                "void main(float4 p : POSITION, out float4 pos : POSITION,\n"
                                "          out float4 o0 : TEXCOORD0) {\n"
                                "  pos = p; o0 = 0; int d = 0;\n"
                                "  do {\n"
                                "    d += 1;\n"
                                "    float4 a[3] = { (float4)v10[d][v7], float4(1, 2, 3, 4), float4(5, 6, 7, 8) };\n"
                                "    o0.x += a[3 - d].z;\n"
                                "  } while (d < 3);\n"
                                "}\n",
                                kVertex2Up,
                                kBoth,
                                u,
                                {},
                                {nura::shtok::kUsageTexCoord, 0},
                                Float4(12.1875f, 0, 0, 0)});

  // Inside an outer loop the load stands before both: it must outlive the
  // inner loop's relative read on every outer pass. Two passes of 12.1875.
  shadertest::CheckFlowProgram({"nested loops",
                                "uniform int v7; uniform float3 v10[4];\n"
                                "void main(float4 p : POSITION, out float4 pos : POSITION,\n"
                                "          out float4 o0 : TEXCOORD0) {\n"
                                "  pos = p; o0 = 0;\n"
                                "  for (int j = 0; j < 2; j++) {\n"
                                "    int d = 0;\n"
                                "    do {\n"
                                "      d += 1;\n"
                                "      float4 a[3] = { (float4)v10[d][v7], float4(1, 2, 3, 4), float4(5, 6, 7, 8) };\n"
                                "      o0.x += a[3 - d].z;\n"
                                "    } while (d < 3);\n"
                                "    o0.y += 1;\n"
                                "  }\n"
                                "}\n",
                                kVertex2Up,
                                kBoth,
                                u,
                                {},
                                {nura::shtok::kUsageTexCoord, 0},
                                Float4(24.375f, 2, 0, 0)});

  // The same read scaling a loop-carried value. r = (-4, -5, 6); each pass
  // r.z *= 4 + a[3 - d].y: d = 1: 4 + 2; d = 2: 4 + 9; d = 3: 4 + v9[1].y *
  // v10[3].y = 4 - 2.5 * 2.1875. r.z = 6 * 6 * 13 * -1.46875 = -687.375.
  u["v9"] = {2.5625, -0.5, 3.875, -1.5, -2.1875, -2.5, 3.8125, -0.6875};
  shadertest::CheckFlowProgram({"loop-carried product",
                                "uniform int v7; uniform float4 v9[2]; uniform float3 v10[4];\n"
                                "void main(float4 p : POSITION, out float4 pos : POSITION,\n"
                                "          out float4 o0 : TEXCOORD0) {\n"
                                "  pos = p; o0 = 0;\n"
                                "  float3 r = float3(-4, -5, 6); int d1 = 0;\n"
                                "  do {\n"
                                "    d1 += 1;\n"
                                "    float4 a3[3] = { v9[1] * (v10[d1])[v7], float4(1.8125, 9, 7, 7), float4(1, 2, 3, 4) };\n"
                                "    r.yz *= -r.x + a3[3 - d1].zy;\n"
                                "  } while (d1 < 3);\n"
                                "  o0.z = r.z;\n"
                                "}\n",
                                kVertex2Up,
                                kBoth,
                                u,
                                {},
                                {nura::shtok::kUsageTexCoord, 0},
                                Float4(0, 0, -687.375f, 0)});
}

// The same clash through a local array read by the counter and then by a
// uniform component. r = degrees(-v0[0]) = (-71.6197, 132.4965); a2[i][1] is
// 0, 0, 1, so only i = 2 adds: (1 / ldexp(v7[1].y, 1)) % 0.1875 = 1.6 % 0.1875
// = 0.1.
TEST(GxlFlowWrongCode, AddressLoadBeforeLoopSurvivesCounterArrayRead) {
  shadertest::CheckFlowProgram(
      {"local array by counter and component",
       "uniform row_major float4x2 v0; uniform int v6; uniform float2 v7[4];\n"
       "void main(float4 p : POSITION, float v5 : TEXCOORD0, out float4 pos : POSITION,\n"
       "          out float4 o0 : TEXCOORD0) {\n"
       "  pos = p; o0 = 0;\n"
       "  float2 r = degrees(-v0)[0];\n"
       "  float2 a2[4] = { float2(0, 0), float2(0, 0), float2(1.9375, 1), -(float2)r[v6] };\n"
       "  for (int i = 0; i < 3; i++) r.y += (a2[i][v6] / ldexp(v7[3 - i].y, a2[i].y)) % v5;\n"
       "  o0.xy = r;\n"
       "}\n",
       kVertex2Up,
       kBoth,
       {{"v0", {1.25, -2.3125, -0.75, 1.375, -0.125, 0.6875, -3.875, 2.6875}},
        {"v6", {1}},
        {"v7", {-3.8125, 0.9375, -0.9375, 0.3125, -1.5625, 1.875, 1.0625, 0.5625}}},
       {{shadertest::In(nura::shtok::kUsageTexCoord), Float4(0.1875f, 0, 0, 0)}},
       {nura::shtok::kUsageTexCoord, 0},
       Float4(-71.6197244f, 132.5964901f, 0, 0)});
}

}  // namespace
