// A literal vector or matrix indexed by a uniform inside nested loops with
// uniform bounds: the element read was known only to lie between 0 and the
// sum of the elements, so a flag-ended inner loop that adds it could never
// be shown to end early, and its rehearsal ran to the iteration limit inside
// every one of the outer loop's. The compile ran out of its work budget
// (X4004) on a program every loop profile holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;

constexpr int kTexCoord = nura::shtok::kUsageTexCoord;
const std::vector<DWORD> kBoth = {0u, 0x4u};

// Row k = 1 of the matrix is (0.5, 1, 2): each pass adds 1. Three passes of
// i = 0 (r = 3), then two of i = 1 until r = 5 > 4.
constexpr char kLoops[] =
    "  for (int i = 0; i < n; i++) {\n"
    "    bool go = true;\n"
    "    for (int j = 0; j <= m && go; j++) { r += float2x3(2, 3, 0.25, 0.5, 1, 2)[k].y; if (r > 4) go = false; }\n"
    "  }\n";

TEST(GxlFlowWrongCode, IndexedLiteralInNestedUniformLoopsFits) {
  const shadertest::Uniforms uniforms = {{"n", {2}}, {"k", {1}}, {"m", {2}}};
  CheckFlowProgram({"vertex",
                    std::string("int n; int k; float m;\n"
                                "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                                "  pos = p; float r = 0;\n") +
                        kLoops + "  o0 = r; }\n",
                    {"vs_2_sw", "vs_3_0"},
                    kBoth,
                    uniforms,
                    {},
                    {kTexCoord, 0},
                    Float4(5, 5, 5, 5)});
  CheckFlowProgram({"pixel",
                    std::string("int n; int k; float m;\nfloat4 main() : COLOR0 {\n  float r = 0;\n") + kLoops +
                        "  return r; }\n",
                    {"ps_3_0"},
                    kBoth,
                    uniforms,
                    {},
                    {},
                    Float4(5, 5, 5, 5)});
}

}  // namespace
