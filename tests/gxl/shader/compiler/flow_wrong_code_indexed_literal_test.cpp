// A literal vector or matrix indexed by a uniform inside nested loops with
// uniform bounds: the element read was known only to lie between 0 and the
// sum of the elements, so a flag-ended inner loop that adds it could never
// be shown to end early, and its rehearsal ran to the iteration limit inside
// every one of the outer loop's. The compile ran out of its work budget
// (X4004) on a program every loop profile holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "generated_program.h"

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

// A generated pixel program: an inner loop over a float uniform inside one
// over an int uniform, adding products of literal matrices and vectors
// indexed by uniforms. The generator's own evaluator gives the values.
TEST(GxlFlowWrongCode, GeneratedIndexedLiteralsInNestedUniformLoopsFit) {
  constexpr std::uint64_t kSeed = 7;
  hlslgen::Options o;
  o.flowControl = true;
  o.statements = 12;
  o.maxLoopCount = 64;
  o.maxInstructions = 2000;
  o.maxIfDepth = 3;
  o.uniformBounds = true;
  o.arrays = true;
  o.carried = true;
  const hlslgen::Generator g(kSeed, o);
  const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, false, kSeed);
  ASSERT_NE(p.source.find("for (int i4 = 0; (i4 <= v14); i4++)"), std::string::npos) << p.source;
  for (const DWORD flags : kBoth) {
    SCOPED_TRACE(flags);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(p.source, "main", "ps_3_0", flags);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    std::vector<float> got;
    std::string error;
    ASSERT_TRUE(shadertest::RunGeneratedProgram(c, g, p, &got, &error)) << error;
    ASSERT_EQ(got.size(), g.Result().size());
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_NEAR(got[i], g.Result()[i], 1e-5 * (1 + std::fabs(g.Result()[i]))) << "[" << i << "]\n" << c.text;
  }
}

}  // namespace
