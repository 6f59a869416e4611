// Loops over uniform bounds nested in one another stay loops on shader model
// 3. The outer loop's simulation lowers the inner loop in each of its
// iterations, and the inner loop was simulated to the iteration limit each
// time: about 255 x 255 bodies, past the compile's work budget (X4004) for
// programs every loop profile holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "generated_program.h"
#include "tests/gxl/shader/nested_loop_programs.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;
using shadertest::In;
using shadertest::kBoth;

constexpr int kTexCoord = nura::shtok::kUsageTexCoord;

TEST(GxlFlowWrongCode, FlagEndedLoopInUniformLoopCompiles) {
  const shadertest::Uniforms uniforms = {{"n", {2}}, {"m", {2}}, {"w", {1}}};
  CheckFlowProgram({"vertex",
                    shadertest::FlagEndedLoopsProgram(true),
                    {"vs_3_0"},
                    {0u},
                    uniforms,
                    {},
                    {kTexCoord, 0},
                    Float4(5, 5, 5, 5)});
  CheckFlowProgram(
      {"pixel", shadertest::FlagEndedLoopsProgram(false), {"ps_3_0"}, {0u}, uniforms, {}, {}, Float4(5, 5, 5, 5)});
}

// A generated pixel program: an inner loop over a float uniform inside one
// over an int uniform, adding products of literal matrices and vectors
// indexed by uniforms. The generator's own evaluator gives the values.
TEST(GxlFlowWrongCode, GeneratedNestedUniformLoopsCompile) {
  constexpr std::uint64_t kSeed = 7;
  const hlslgen::Generator g(kSeed, shadertest::NestedLoopShapes(kSeed));
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

TEST(GxlFlowWrongCode, ThreeNestedUniformLoopsCompile) {
  constexpr int kCount = 2;
  const float a[4] = {0.5f, -0.25f, 0.125f, 1.0f};
  float r[4] = {a[0], a[1], a[2], a[3]};
  for (int pass = 0; pass < kCount * kCount * kCount; ++pass) {
    const float was[4] = {r[0], r[1], r[2], r[3]};
    for (int c = 0; c < 4; ++c) r[c] = was[c] * a[c] + was[(c + 1) % 4];
  }
  CheckFlowProgram({"vertex",
                    shadertest::kThreeNestedLoopsProgram,
                    {"vs_3_0"},
                    kBoth,
                    {{"n", {kCount}}},
                    {{In(kTexCoord, 0), Float4(a[0], a[1], a[2], a[3])}},
                    {kTexCoord, 0},
                    Float4(r[0], r[1], r[2], r[3])});
}

// The inner loop meets x with another upper bound at each outer pass.
TEST(GxlFlowWrongCode, ValueNarrowedFromAboveInNestedLoops) {
  constexpr int kOuter = 2, kInner = 3;
  const float a[4] = {0.5f, -0.25f, 0.125f, 1.0f};
  float x = std::clamp(a[0], 0.0f, 1.0f), y = 0, r[4] = {a[0], a[1], a[2], a[3]};
  for (int i = 0; i < kOuter; ++i) {
    x *= 0.5f;
    for (int j = 0; j < kInner; ++j) {
      y += x;
      for (float& c : r) c = c * 0.5f + y;
    }
  }
  CheckFlowProgram({"vertex",
                    shadertest::kNarrowedValueLoopsProgram,
                    {"vs_3_0", "vs_3_sw"},
                    kBoth,
                    {{"n", {kOuter}}, {"m", {kInner}}},
                    {{In(kTexCoord, 0), Float4(a[0], a[1], a[2], a[3])}},
                    {kTexCoord, 0},
                    Float4(r[0] + y, r[1] + y, r[2] + y, r[3] + y)});
}

// The inner loop calls functions that read a static global the outer loop
// moves, one of them writing an out parameter.
TEST(GxlFlowWrongCode, FunctionCalledInNestedUniformLoops) {
  constexpr int kOuter = 3, kInner = 2;
  const float a[4] = {0.5f, -0.25f, 0.125f, 1.5f};
  float r[4], g = 0, t = 0;
  for (int c = 0; c < 4; ++c) r[c] = std::clamp(a[c], 0.0f, 1.0f);
  for (int i = 0; i < kOuter; ++i) {
    g += 0.25f;
    float most = 0;
    for (int j = 0; j < kInner; ++j) {
      const float k = float(j) * 0.125f, d = k * 0.5f;
      for (float& c : r) c = (c * 0.5f + k + g) * 0.5f + d;
      most = std::max(most, g);
    }
    t += most;
  }
  for (float& c : r) c += t;
  CheckFlowProgram({"vertex",
                    shadertest::kCallInNestedLoopsProgram,
                    {"vs_3_0", "vs_3_sw"},
                    kBoth,
                    {{"n", {kOuter}}, {"m", {kInner}}},
                    {{In(kTexCoord, 0), Float4(a[0], a[1], a[2], a[3])}},
                    {kTexCoord, 0},
                    Float4(r[0], r[1], r[2], r[3])});
}

// The benchmark's program (900 lines after the loops); the value is checked
// against the same arithmetic done here.
TEST(GxlFlowWrongCode, LongProgramWithNestedUniformLoopsCompiles) {
  constexpr int kAfter = 900, kOuter = 2, kInner = 3;
  using shadertest::NestedLoopLine;
  std::vector<double> k(32);
  for (int e = 0; e < 32; ++e) k[e] = 0.25 + 0.0625 * (e % 7);
  const double a[4] = {0.5, -0.25, 0.125, 1.0};
  double r[4] = {a[0], a[1], a[2], a[3]};
  auto run = [&](int l) {
    double next[4];
    for (int c = 0; c < 4; ++c)
      next[c] = static_cast<float>(r[c] * k[(l % 8) * 4 + NestedLoopLine::kOrder[l % 6][c]] +
                                   a[NestedLoopLine::kOrder[(l / 6) % 6][c]]);
    for (int c = 0; c < 4; ++c) r[c] = next[c];
  };
  for (int i = 0; i < kOuter; ++i) {
    for (int l = 0; l < 5; ++l) run(l);
    for (int j = 0; j < kInner; ++j)
      for (int l = 5; l < 25; ++l) run(l);
  }
  for (int l = 25; l < 25 + kAfter; ++l) run(l);
  CheckFlowProgram({"vertex",
                    shadertest::NestedUniformLoopsProgram(kAfter),
                    {"vs_3_0"},
                    {0u},
                    {{"k", k}, {"n", {kOuter}}, {"m", {kInner}}},
                    {{In(kTexCoord, 0), Float4(float(a[0]), float(a[1]), float(a[2]), float(a[3]))}},
                    {kTexCoord, 0},
                    Float4(float(r[0]), float(r[1]), float(r[2]), float(r[3]))});
}

}  // namespace
