// A loop with a data-dependent exit whose first pass is certain, unrolled
// where a profile keeps no such loop: the counter after it once came out as
// if every pass had run, since the passes after the certain one replaced its
// range instead of widening it. Each program is compiled, run in the token
// kit's interpreter and compared with the loop worked out in C++.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "generated_program.h"

namespace {

using nura::shtok::Float4;
using shadertest::kBoth;
using shadertest::kTexCoord;
using shadertest::kVertex2Up;

// The counter j is read twice after the loop, so that it is folded where
// its range says it is a constant.
constexpr char kSource[] =
    "float4 u; float f; float4 w;\n"
    "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p; float4 r = u; bool k = true; float j = 0;\n"
    "  while (j < 4.0 && k) { if (r.z != frac(f)) k = false; else r += w; j += 1; }\n"
    "  r.xy += (j != 0 ? float2(-3.8125, -0.125) : float2(1, 1)) + j;\n"
    "  o0 = r; }";

Float4 Expected(const Float4& u, float f, const Float4& w) {
  Float4 r = u;
  bool k = true;
  float j = 0;
  while (j < 4.0f && k) {
    if (r[2] != f - std::floor(f)) {
      k = false;
    } else {
      for (int i = 0; i < 4; ++i) r[i] += w[i];
    }
    j += 1;
  }
  r[0] += (j != 0 ? -3.8125f : 1.0f) + j;
  r[1] += (j != 0 ? -0.125f : 1.0f) + j;
  return r;
}

struct Case {
  const char* name;
  Float4 u;
  float f;
  Float4 w;
};

const Case kCases[] = {
    // Ends after its first pass (seed 24395, where j came out as 4).
    {"one pass", Float4(1.375f, -3.625f, -0.625f, -0.625f), -2.0625f, Float4(2.25f, 3.125f, -0.375f, 2.4375f)},
    // Ends after its second: the first pass moves r.z off frac(f).
    {"two passes", Float4(0.5f, 1.5f, 0.25f, -1.0f), 1.25f, Float4(1.0f, -2.0f, 0.5f, 0.75f)},
    // Runs all four.
    {"four passes", Float4(-1.5f, 2.0f, 0.75f, 3.0f), -0.25f, Float4(0.5f, 0.25f, 0.0f, -1.0f)},
};

TEST(GxlFlowWrongCode, CounterAfterLoopWhoseFirstPassIsCertain) {
  for (const Case& c : kCases) {
    const Float4 u = c.u, w = c.w;
    shadertest::CheckFlowProgram({c.name,
                                  kSource,
                                  kVertex2Up,
                                  kBoth,
                                  {{"u", {u[0], u[1], u[2], u[3]}}, {"f", {c.f}}, {"w", {w[0], w[1], w[2], w[3]}}},
                                  {},
                                  {kTexCoord, 0},
                                  Expected(c.u, c.f, c.w)});
  }
}

// The generated program it was reduced from, against the generator's values.
// Without optimisation vs_2_0 cannot hold the unrolled loops.
TEST(GxlFlowWrongCode, GeneratedCounterAfterLoopWhoseFirstPassIsCertain) {
  constexpr std::uint64_t kSeed = 24395;
  const hlslgen::Generator g(kSeed, shadertest::LaterShapes(kSeed, true));
  const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, true, kSeed);
  for (const char* profile : kVertex2Up)
    for (const DWORD flags : kBoth) {
      if (std::string(profile) == "vs_2_0" && flags != 0) continue;
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(p.source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      std::vector<float> got;
      std::string error;
      ASSERT_TRUE(shadertest::RunGeneratedProgram(c, g, p, &got, &error)) << error;
      EXPECT_TRUE(shadertest::Matches(got, g.Result(), g.FloatRange(), g.ResultError())) << c.text;
    }
}

}  // namespace
