// Texture coordinate outputs take only the write masks .x, .xy, .xyz and
// .xyzw. Programs whose outputs the vertex target once wrote in other pieces
// (the validator refused the compiler's own code): each is compiled,
// validated, run in the token kit's interpreter and its outputs compared
// with the values worked out by hand from the HLSL.
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using nura::shtok::kUsageTexCoord;
using shadertest::CheckFlowProgram;
using shadertest::FlowProgram;

using shadertest::kBoth;

// Both outputs are written in pieces (.xzw, then .y) on the else side of a
// real branch, and the pieces of TEXCOORD1 start before the last piece of
// TEXCOORD0: each must still be gathered into one write.
//   v1 = (8, 7): rows (48, 42, 0, 0) and (7, 5, 0, 0); 7 <= -8 is false, so
//   the else side runs: (48, 43, 0, 1), (7, 5, 0, 1); 3 / 4 = 0 gives
//   _m01 = 0 + 1; the int2x4 is (0, 2, 0, 0 | 0, 0, 8, -8), [1][2] = 8,
//   _m11 = 5 - 8.
//   v1 = (-8, 7): 7 <= 8, the empty side: rows as built.
TEST(GxlFlowWrongCode, BranchSideWritesTwoOutputsInInterleavedPieces) {
  const char* source =
      "int2 v0; int2 v1; int v5; int v13;\n"
      "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0,\n"
      "          out float4 o1 : TEXCOORD1) {\n"
      "  pos = p;\n"
      "  int2x4 r = int2x4(6 * v1, 0, 0, v1.y, 5, 0, 0);\n"
      "  if (r._m10 <= -v1.x) {\n"
      "  } else {\n"
      "    r += int2x4(0, 1, 0, 1, 0, 0, 0, 1);\n"
      "    r._m01 = int4(0, -2, 0, 0)[3 / v5] + 1;\n"
      "    r._m11 -= int2x4(int3(0, 2, 0), false, float2(0.5, 0), v0)[v13][2];\n"
      "  }\n"
      "  o0 = r[0];\n"
      "  o1 = r[1];\n"
      "}\n";
  const std::vector<const char*>& profiles = shadertest::kVertex2Up;
  const shadertest::Uniforms elseSide = {{"v0", {8, -8}}, {"v1", {8, 7}}, {"v5", {4}}, {"v13", {1}}};
  const shadertest::Uniforms thenSide = {{"v0", {8, -8}}, {"v1", {-8, 7}}, {"v5", {4}}, {"v13", {1}}};
  const FlowProgram rows[] = {
      {"else, TEXCOORD0", source, profiles, kBoth, elseSide, {}, {kUsageTexCoord, 0}, Float4(48, 1, 0, 1)},
      {"else, TEXCOORD1", source, profiles, kBoth, elseSide, {}, {kUsageTexCoord, 1}, Float4(7, -3, 0, 1)},
      {"then, TEXCOORD0", source, profiles, kBoth, thenSide, {}, {kUsageTexCoord, 0}, Float4(-48, 42, 0, 0)},
      {"then, TEXCOORD1", source, profiles, kBoth, thenSide, {}, {kUsageTexCoord, 1}, Float4(7, 5, 0, 0)},
  };
  for (const FlowProgram& row : rows) CheckFlowProgram(row);
}

// vs_1_1's frc writes .xy only, so frac of three or four components takes
// more than one write; into an output they must arrive as one.
//   frac(1.25, -2.75, 3.5, -0.125) = (0.25, 0.25, 0.5, 0.875).
TEST(GxlFlowWrongCode, VertexOneFractionIntoOutputIsOneWrite) {
  const char* head =
      "float4 u; row_major float4x4 m;\n"
      "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o1 : TEXCOORD1) {\n"
      "  pos = p;\n";
  const shadertest::Uniforms uniforms = {
      {"u", {1.25, -2.75, 3.5, -0.125}},
      {"m", {0, 0, 0, 0, 1.25, -2.75, 3.5, -0.125, 0, 0, 0, 0, 0, 0, 0, 0}}};
  const std::vector<const char*> profiles = {"vs_1_1", "vs_2_0"};
  const struct {
    const char* name;
    const char* body;
    Float4 expected;
  } rows[] = {
      {"four", "  o1 = frac(u);\n", Float4(0.25f, 0.25f, 0.5f, 0.875f)},
      {"three and a literal", "  o1.xyz = frac(u.xyz); o1.w = 1;\n", Float4(0.25f, 0.25f, 0.5f, 1)},
      {"x then yzw", "  o1.x = frac(u.x); o1.yzw = frac(u.yzw);\n", Float4(0.25f, 0.25f, 0.5f, 0.875f)},
      {"matrix row by pieces", "  float4x4 r = frac(m); o1.x = r._m10; o1.yzw = r._m11_m12_m13;\n",
       Float4(0.25f, 0.25f, 0.5f, 0.875f)},
  };
  for (const auto& row : rows)
    CheckFlowProgram({row.name, std::string(head) + row.body + "}\n", profiles, kBoth, uniforms, {},
                      {kUsageTexCoord, 1}, row.expected});
}

}  // namespace
