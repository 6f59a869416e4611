// Loops whose values once left them wrong with optimisation off: a value a
// loop carried was read back from its register after code past the loop had
// reused it, and a counted loop's step went missing so that its counter never
// moved. Each program is compiled, validated, run in the token kit's
// interpreter and its output compared with the value worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;
using shadertest::In;

constexpr int kTexCoord = nura::shtok::kUsageTexCoord;
const std::vector<DWORD> kBoth = {0u, 0x4u};

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

}  // namespace
