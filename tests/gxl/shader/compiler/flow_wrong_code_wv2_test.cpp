// Loops whose values once came out wrong through the address register: a
// load of a0 that scheduling lifted out of a loop was overwritten by a load
// placed later inside the loop, so every pass after the first read through
// the wrong address. Each program is compiled, validated, run in the token
// kit's interpreter and its output compared with the value worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;
using shadertest::In;

using shadertest::kTexCoord;
using shadertest::kBoth;
using shadertest::kVertexLoops;

// ((int2)d)[k] reads the identity rows through a0 loaded from the uniform k
// (hoisted before the loop); u[3 - d] needs a second load inside the loop.
// d = 1, 2, 3 (the loop goes on while n > d): 100 * 1 + 10 * 2 + 1 * 3.
TEST(GxlFlowWrongCode, HoistedAddressLoadSurvivesTheLoop) {
  CheckFlowProgram({"seed 18154",
                    "float4 u[3]; int k; float n;\n"
                    "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                    "  pos = p; float r = 0; int d = 0;\n"
                    "  do { d += 1; r += u[3 - d].w * ((int2)d)[k]; } while (n > d);\n"
                    "  o0 = r; }",
                    kVertexLoops,
                    kBoth,
                    {{"u", {0, 0, 0, 1, 0, 0, 0, 10, 0, 0, 0, 100}}, {"k", {1}}, {"n", {3}}},
                    {},
                    {kTexCoord, 0},
                    Float4(123, 123, 123, 123)});
}

// The same under loop aL on shader model 3: v9[i][v10] reads v9[i] through
// aL and the identity row through a0 loaded from v10 ahead of the loop,
// v8[1 - i] loads a0 again inside it.
// r = 1 - (v9[0].z + v8[1].w) - (v9[1].z + v8[0].w) = 1 + 2.0625 - 1.3125 + 2.3125 - 0.5.
TEST(GxlFlowWrongCode, HoistedAddressLoadSurvivesCountedLoop) {
  CheckFlowProgram({"seed 18043",
                    "float4 v8[3]; float3 v9[3]; int v10;\n"
                    "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                    "  pos = p; float r = 1;\n"
                    "  for (int i = 0; i < 2; i++) { r -= v9[i][v10]; r -= v8[1 - i].w; }\n"
                    "  o0 = r; }",
                    kVertexLoops,
                    kBoth,
                    {{"v8", {-0.5, -2.0625, 0.875, 0.5, -0.9375, 0.875, 0.75, 1.3125, 2.3125, 3.0625, -0.1875, 2.9375}},
                     {"v9", {2.625, -2.1875, -2.0625, -1.4375, 0, -2.3125, -2.75, 0.3125, -2.1875}},
                     {"v10", {2}}},
                    {},
                    {kTexCoord, 0},
                    Float4(3.5625, 3.5625, 3.5625, 3.5625)});
}

}  // namespace
