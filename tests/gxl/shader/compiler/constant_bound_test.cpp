// Optimised, a long constant loop folds each pass's counter into a literal
// of its own. Where those literals, packed, and the uniforms certainly pass
// the profile's float constant registers, the program is refused with the
// binding's message before scheduling and allocation; where they fit, the
// compile goes the whole way and computes what the source does (run in the
// token kit's interpreter against the same arithmetic in float32 here).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "flow_lane.h"
#include "loop_bound_compile.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;

const Float4 kT(0.3f, -1.0f, 2.0f, 0.5f);
const Float4 kU(0.5f, 0.25f, -0.75f, 1.0f);
const Float4 kBig0(1.0f, 2.0f, 3.0f, 4.0f), kBig1(-0.5f, 0.125f, 0.0f, 2.0f);

// `passes` passes of s = s * 0.5 + sin(t * u + i * 0.01) * 0.25 (at least
// one literal per pass), then, with an array, a loop of uniform length over
// its elements (the whole array bound to constant registers).
std::string Sines(int passes, int array) {
  std::string text = "float4 u;\nfloat n;\n";
  if (array) text += "float4 big[" + std::to_string(array) + "];\n";
  text += "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 s = t;\n  for (int i = 0; i < " +
          std::to_string(passes) + "; i++)\n    s = s * 0.5 + sin(t * u + (float)i * 0.01) * 0.25;\n";
  if (array) text += "  for (int j = 0; j < n; j++) s += big[j];\n";
  return text + "  return s;\n}\n";
}

Float4 SinesValue(int passes, bool array) {
  Float4 s = kT;
  for (int i = 0; i < passes; ++i)
    for (int k = 0; k < 4; ++k)
      s[k] = s[k] * 0.5f + std::sin(kT[k] * kU[k] + static_cast<float>(i) * 0.01f) * 0.25f;
  if (array)
    for (int k = 0; k < 4; ++k) s[k] = s[k] + kBig0[k] + kBig1[k];
  return s;
}

TEST(GxlConstantBound, LiteralsPastTheConstantRegistersAreRefusedBeforeScheduling) {
  // ps_3_0 has 224 float constant registers.
  const struct {
    int passes;
    int array;  // elements of the uniform array, or none
    bool fits;
  } rows[] = {
      {1000, 0, false},  // about 250 rows of literals
      {500, 150, false},  // about 125 rows and the array's 150
      {800, 0, true},    // about 200 rows
      {500, 50, true},
  };
  // Were the second phase reached past the literal packing, the compile
  // would end with the hook's code.
  shadertest::LoopCompileOptions before;
  before.secondPhaseStepHook = [](gxl::shader::ShaderProgram&, std::uint32_t step, HRESULT) {
    return step > 10 ? E_ABORT : S_OK;
  };
  // An array past the registers alone is the binding's to name, at its
  // own declaration: no early refusal, so the compile reaches scheduling.
  {
    const shadertest::LoopCompile c = shadertest::CompileLoops(Sines(500, 300), "ps_3_0", 0, before);
    EXPECT_EQ(c.c.hr, E_ABORT) << c.c.log;
    EXPECT_FALSE(c.c.Logged("X4507")) << c.c.log;
  }
  for (const auto& row : rows) {
    SCOPED_TRACE("passes " + std::to_string(row.passes) + " array " + std::to_string(row.array));
    const std::string source = Sines(row.passes, row.array);
    if (!row.fits) {
      const shadertest::LoopCompile c = shadertest::CompileLoops(source, "ps_3_0", 0, before);
      EXPECT_EQ(c.c.hr, E_FAIL) << c.c.log;
      EXPECT_TRUE(c.c.Logged("error X4507: maximum constant register index exceeded")) << c.c.log;
      EXPECT_FALSE(c.c.Logged("X4004")) << c.c.log;
      continue;
    }
    // Within the registers: no early refusal, so no compile made again.
    const shadertest::LoopCompile c = shadertest::CompileLoops(source, "ps_3_0", 0);
    ASSERT_EQ(c.c.hr, S_OK) << c.c.log;
    EXPECT_EQ(c.secondCompiles, 0u);
    shadertest::Uniforms uniforms = {{"u", {kU[0], kU[1], kU[2], kU[3]}}};
    if (row.array) {
      uniforms["n"] = {2};
      uniforms["big"] = {kBig0[0], kBig0[1], kBig0[2], kBig0[3], kBig1[0], kBig1[1], kBig1[2], kBig1[3]};
    }
    Float4 got;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(c.c, uniforms, {{In(kTexCoord), kT}}, {}, &got, &error))
        << error;
    // The vector sine is a series good to 9.4e-5; the loop weighs the sine
    // of the k-th pass from the end by 0.25 * 0.5^k, so s carries at most
    // half of that, besides rounding.
    const Float4 want = SinesValue(row.passes, row.array != 0);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 4.7e-5 + 1e-6 * (1 + std::fabs(want[k]))) << k;
  }
}

}  // namespace
