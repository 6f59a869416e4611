// Loops over uniform bounds nested in one another stay loops on shader model
// 3. The outer loop's simulation lowers the inner loop in each of its
// iterations, and the inner loop was simulated to the iteration limit each
// time: about 255 x 255 bodies, past the compile's work budget (X4004) for
// programs every loop profile holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CheckFlowProgram;
using shadertest::In;

constexpr int kTexCoord = nura::shtok::kUsageTexCoord;

// r grows by w in each inner pass until it passes 4: with n = 2, m = 2 and
// w = 1, three passes of i = 0 (r = 3), then two of i = 1 (r = 5).
constexpr char kFlagEnded[] =
    "  for (int i = 0; i < n; i++) {\n"
    "    bool go = true;\n"
    "    for (int j = 0; j <= m && go; j++) { r += w; if (r > 4) go = false; }\n"
    "  }\n";

TEST(GxlFlowWrongCode, FlagEndedLoopInUniformLoopCompiles) {
  const shadertest::Uniforms uniforms = {{"n", {2}}, {"m", {2}}, {"w", {1}}};
  CheckFlowProgram({"vertex",
                    std::string("int n; float m; float w;\n"
                                "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                                "  pos = p; float r = 0;\n") +
                        kFlagEnded + "  o0 = r; }\n",
                    {"vs_3_0"},
                    {0u},
                    uniforms,
                    {},
                    {kTexCoord, 0},
                    Float4(5, 5, 5, 5)});
  CheckFlowProgram({"pixel",
                    std::string("int n; float m; float w;\nfloat4 main() : COLOR0 {\n  float r = 0;\n") + kFlagEnded +
                        "  return r; }\n",
                    {"ps_3_0"},
                    {0u},
                    uniforms,
                    {},
                    {},
                    Float4(5, 5, 5, 5)});
}

// Five lines around an inner loop of twenty, then many lines after both,
// all reading a uniform array; the value is checked against the same
// arithmetic done here.
TEST(GxlFlowWrongCode, LongProgramWithNestedUniformLoopsCompiles) {
  constexpr int kAfter = 300, kOuter = 2, kInner = 3;
  const char* swizzles[] = {"xyzw", "yzwx", "zwxy", "wxyz", "xxyy", "zzww"};
  const int order[6][4] = {{0, 1, 2, 3}, {1, 2, 3, 0}, {2, 3, 0, 1}, {3, 0, 1, 2}, {0, 0, 1, 1}, {2, 2, 3, 3}};
  std::vector<double> k(32);
  for (int e = 0; e < 32; ++e) k[e] = 0.25 + 0.0625 * (e % 7);
  const double a[4] = {0.5, -0.25, 0.125, 1.0};
  double r[4] = {a[0], a[1], a[2], a[3]};
  std::string text;
  auto line = [&](int l) {
    text += "      r = r * k[" + std::to_string(l % 8) + "]." + swizzles[l % 6] + " + a." + swizzles[(l / 6) % 6] +
            ";\n";
  };
  auto run = [&](int l) {
    double next[4];
    for (int c = 0; c < 4; ++c)
      next[c] = static_cast<float>(r[c] * k[(l % 8) * 4 + order[l % 6][c]] + a[order[(l / 6) % 6][c]]);
    for (int c = 0; c < 4; ++c) r[c] = next[c];
  };
  text = "float4 k[8]; int n, m;\nvoid main(float4 p : POSITION, float4 a : TEXCOORD0, out float4 pos : POSITION,"
         " out float4 o0 : TEXCOORD0) {\n  float4 r = a;\n  for (int i = 0; i < n; i++) {\n";
  for (int l = 0; l < 5; ++l) line(l);
  text += "    for (int j = 0; j < m; j++) {\n";
  for (int l = 5; l < 25; ++l) line(l);
  text += "    }\n  }\n";
  for (int l = 25; l < 25 + kAfter; ++l) line(l);
  text += "  pos = p; o0 = r;\n}\n";
  for (int i = 0; i < kOuter; ++i) {
    for (int l = 0; l < 5; ++l) run(l);
    for (int j = 0; j < kInner; ++j)
      for (int l = 5; l < 25; ++l) run(l);
  }
  for (int l = 25; l < 25 + kAfter; ++l) run(l);
  CheckFlowProgram({"vertex",
                    text,
                    {"vs_3_0"},
                    {0u},
                    {{"k", k}, {"n", {kOuter}}, {"m", {kInner}}},
                    {{In(kTexCoord, 0), Float4(float(a[0]), float(a[1]), float(a[2]), float(a[3]))}},
                    {kTexCoord, 0},
                    Float4(float(r[0]), float(r[1]), float(r[2]), float(r[3]))});
}

}  // namespace
