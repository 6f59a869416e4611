// A do loop kept as a loop (exp2 at each pass makes it dear to unroll) whose
// counter leaves it at its bound, after a pass whose test read it a step
// lower with the loop known to go on. That pass's constant flag stayed on
// the counter's exit facts beside their range, so the value after the loop
// read as that lower constant where the lowering asks for a constant: pow(x,
// d) came out x^4 for x^5 (the flow differential's seed 26264 at every
// vertex profile, both ways). Each program runs in the token kit's
// interpreter and is compared with the loop run here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "generated_program.h"
#include "loop_bound_compile.h"

namespace {

using nura::shtok::Float4;
using shadertest::kBoth;
using shadertest::kTexCoord;
using shadertest::kVertex2Up;
using shadertest::Num;
using shadertest::Uniforms;

const Uniforms kValues = {{"v6", {0.9375, 0, 3.125, 3.8125, 4, -0.9375, -2.8125, -2.625, 1.5, -0.5, 2}},
                          {"v7", {1, -1.5, 4, -1.3125}}};

struct Loop {
  int step;
  int bound;
};

TEST(GxlFlowWrongCode, CountedDoLoopLeavesItsLastCounter) {
  // Seed 26264's loop, then one by twos that ends two past the last test it
  // passed.
  for (const Loop l : {Loop{1, 5}, Loop{2, 9}}) {
    const std::string source =
        "uniform float v6[11];\nuniform float4 v7;\n"
        "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
        "  pos = p;\n"
        "  float w = 0;\n"
        "  int d = 0;\n"
        "  do {\n"
        "    d += " + std::to_string(l.step) + ";\n"
        "    w -= exp2(v6[d]);\n"
        "  } while (d < " + std::to_string(l.bound) + ");\n"
        "  o0 = pow(abs(v7) + 0.25, (float4)d) / -v7 + w;\n"
        "}\n";
    // The loop here: w and d after it.
    const std::vector<double>& v6 = kValues.at("v6");
    const std::vector<double>& v7 = kValues.at("v7");
    float w = 0;
    int d = 0;
    do {
      d += l.step;
      w -= std::exp2(static_cast<float>(v6[d]));
    } while (d < l.bound);
    Float4 expected;
    for (int i = 0; i < 4; ++i) {
      const auto x = static_cast<float>(v7[i]);
      expected[i] = std::pow(std::fabs(x) + 0.25f, static_cast<float>(d)) / -x + w;
    }
    const std::string name = "by " + Num(l.step) + " to " + Num(l.bound);
    shadertest::CheckFlowProgram({name.c_str(), source, kVertex2Up, kBoth, kValues, {}, {kTexCoord, 0},
         expected});
  }
}

// The generated program itself, against the generator's values.
TEST(GxlFlowWrongCode, GeneratedDoLoopExitAtEveryVertexProfile) {
  const std::uint64_t seed = 26264;
  const hlslgen::Generator g(seed, shadertest::LaterShapes(seed, true));
  const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, true, seed);
  for (const char* profile : kVertex2Up)
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::LoopCompile c = shadertest::CompileLoops(p.source, profile, flags);
      ASSERT_EQ(c.c.hr, S_OK) << c.c.log;
      std::vector<float> got;
      std::string error;
      ASSERT_TRUE(shadertest::RunGeneratedProgram(c.c, g, p, &got, &error)) << error;
      EXPECT_TRUE(shadertest::Matches(got, g.Result(), g.FloatRange(), g.ResultError())) << c.c.text;
    }
}

}  // namespace
