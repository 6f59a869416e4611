// Loops whose effect on the program the loop lowering must see beyond the
// loop's own variables: a return as a loop's only effect (a loop judged
// dead compiled to the return after it), a called function's arguments in
// a loop's condition (an inner loop whose reuse ignored them took one trip
// count for every outer pass), and an inner loop entered with widened facts
// at later outer passes. Each program runs in the interpreter against the
// same arithmetic done here, across profiles, options and inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "tests/gxl/shader/loop_effect_programs.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;

const char* const kProfiles[] = {"vs_3_0", "ps_3_0", "vs_2_a"};
// vs_2_a holds no loop inside another over a uniform count (X3511).
const char* const kNestingProfiles[] = {"vs_3_0", "ps_3_0", "vs_2_sw"};

const Float4 kInputs[] = {Float4(0.5f, -1.25f, 2.0f, 3.0f), Float4(-0.75f, 0.25f, 1.5f, -2.0f)};

// One run of a program: its uniforms, its input p and the value it returns.
struct LaneRun {
  std::string name;
  shadertest::Uniforms uniforms;
  Float4 p, expected;
};

Float4 Affine(float scale, const Float4& p, float offset) {
  return Float4(scale * p[0] + offset, scale * p[1] + offset, scale * p[2] + offset, scale * p[3] + offset);
}

// The program for the profile's stage, compiled with and without
// optimisation, and each run of it in the interpreter.
void CheckRuns(const std::function<std::string(bool vertex)>& program, const char* profile,
               const std::vector<LaneRun>& runs) {
  const std::string source = program(profile[0] == 'v');
  const shadertest::LaneOutput output =
      profile[0] == 'v' ? shadertest::LaneOutput{nura::shtok::kUsagePosition, 0} : shadertest::LaneOutput{};
  for (const DWORD flags : shadertest::kBoth) {
    SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
    ASSERT_EQ(c.hr, S_OK) << c.log << "\n" << source;
    for (const LaneRun& run : runs) {
      SCOPED_TRACE(run.name);
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLane(c, run.uniforms, {{In(kTexCoord, 0), run.p}}, output, &got, &error))
          << error << "\n"
          << c.text;
      for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], run.expected[i], 1e-5 * (1 + std::fabs(run.expected[i]))) << "[" << i << "]\n"
                                                                                      << source << c.text;
    }
  }
}

TEST(GxlLoopEffects, LoopWhoseOnlyEffectIsAReturnEndsTheFunction) {
  for (const shadertest::ReturnOnlyLoop& loop : shadertest::kReturnOnlyLoops) {
    SCOPED_TRACE(loop.name);
    std::vector<LaneRun> runs;
    for (const Float4& p : kInputs)
      for (const float t : {0.0f, 1.0f})
        runs.push_back({"p.x " + std::to_string(p[0]) + " t " + std::to_string(t),
                        {{"k", {7, 8, 9, 10}}, {"t", {t}}},
                        p,
                        Affine(!loop.choice || p[0] > t ? 2.0f : 3.0f, p, 0)});
    for (const char* profile : kProfiles)
      CheckRuns([&](bool vertex) { return shadertest::LoopEffectProgram(vertex, loop.declarations, loop.body); },
                profile, runs);
  }
}

TEST(GxlLoopEffects, CallArgumentsDecideAnInnerLoopsTripCount) {
  std::vector<LaneRun> runs;
  for (const int n : {0, 1, 2, 5, 200, 220, 255}) {
    float s = 0;
    for (int i = 0; i < n; ++i) {
      const auto g = [](float x) { return std::min(x, 3.0f) + 2; };
      float t = 0;
      s += g(0);
      for (int j = 0; j < g(float(i)); ++j) t += 1;
      s += t;
    }
    runs.push_back(
        {"n " + std::to_string(n), {{"n", {double(n)}}}, kInputs[0], Affine(s < 1500 ? 1 : -1, kInputs[0], s)});
  }
  for (const char* profile : kProfiles) CheckRuns(shadertest::CallBoundLoopsProgram, profile, runs);
}

TEST(GxlLoopEffects, InnerLoopEnteredWithWidenedFacts) {
  std::vector<LaneRun> runs;
  for (const int n : {0, 3, 8})
    for (const int m : {0, 1, 3}) {
      float s = 0;
      for (int i = 0; i < n; ++i) {
        float t = 10.0f - float(i);
        for (int j = 0; j < m; ++j) {
          if (t >= 5) s += 1;
          t = 5;
        }
      }
      runs.push_back({"n " + std::to_string(n) + " m " + std::to_string(m),
                      {{"n", {double(n)}}, {"m", {double(m)}}},
                      kInputs[1],
                      Affine(1, kInputs[1], s)});
    }
  for (const char* profile : kNestingProfiles) CheckRuns(shadertest::WidenedFactsLoopsProgram, profile, runs);
}

// A condition on one component of a matrix that starts known: the body
// moves that component, alone or with another, so the condition cannot
// decide the trip count alone (by itself it would never end the loop).
TEST(GxlLoopEffects, ConditionOnOneMatrixComponentDecidesWithTheBodyThatMovesIt) {
  const struct {
    const char* body;
    void (*pass)(float (&r)[4], int k);  // r as _m00, _m01, _m10, _m11
  } kBodies[] = {
      {"r._m10 += 2; r._m11 -= k;",
       [](float (&r)[4], int k) {
         r[2] += 2;
         r[3] -= float(k);
       }},
      {"r._m10_m11 += int2(3, k);",
       [](float (&r)[4], int k) {
         r[2] += 3;
         r[3] += float(k);
       }},
  };
  for (const auto& b : kBodies) {
    SCOPED_TRACE(b.body);
    std::vector<LaneRun> runs;
    for (const float u : {-2.0f, 7.0f}) {
      float r[4] = {u, 2, 0, 5}, s = 0;
      for (int k = 0; r[2] < 4; ++k) {
        b.pass(r, k);
        s += 1;
      }
      runs.push_back({"u " + std::to_string(u),
                      {{"u", {u, 2, 9, 5}}},
                      kInputs[0],
                      Float4(kInputs[0][0] + s, kInputs[0][1] + r[2], kInputs[0][2] + r[3], kInputs[0][3] + r[0])});
    }
    const std::string body = std::string("  int2x2 r = int2x2(u.x, u.y, 0, u.w);\n  float s = 0;\n"
                                         "  for (int k = 0; r._m10 < 4; k++) { ") +
                             b.body + " s += 1; }\n  return p + float4(s, r._m10, r._m11, r._m00);\n";
    for (const char* profile : {"ps_2_0", "vs_2_0", "ps_3_0"})
      CheckRuns([&](bool vertex) { return shadertest::LoopEffectProgram(vertex, "int4 u;", body); }, profile, runs);
  }
}

}  // namespace
