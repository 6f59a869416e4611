// Loops whose counters, breaks and constant reads once compiled into code
// that validated but gave other values than the program's: each program is
// compiled for the profiles named, validated by the platform, decoded by the
// token kit and run in its interpreter with the uniforms placed where the
// constant table says, and its output compared with the value the HLSL
// source computes (worked out by hand in each comment).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Declaration;
using nura::shtok::Float4;
using nura::shtok::Interpreter;
using nura::shtok::Lane;
using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;
using shadertest::Uniforms;

constexpr DWORD kNoOptimisation = 0x4;

using Inputs = shadertest::LaneInputs;
using Output = shadertest::LaneOutput;
using Program = shadertest::FlowProgram;
using shadertest::In;
using shadertest::RunLane;

void Check(const Program& p, const nura::shtok::Sampler& sampler = nullptr) {
  shadertest::CheckFlowProgram(p, sampler);
}

const std::vector<const char*> kPixel3 = {"ps_3_0", "ps_3_sw"};
using shadertest::kBoth;
using shadertest::kVertex2Up;
// Also unvalidated: the code itself must hold nothing the profile cannot.
constexpr DWORD kNoValidation = 0x2;
const std::vector<DWORD> kAll = {0u, kNoOptimisation, kNoValidation, kNoValidation | kNoOptimisation};

// A loop left by a break on its counter against a uniform: the break
// compares with the uniform as it is. n0 = 3: three passes of r += 1.
TEST(GxlFlowWrongCode, CounterBreakAgainstUniformKeepsItsSign) {
  Check({"uniform bound",
         "float n0; float4 main() : COLOR0 { float4 r = 0; for (int i = 0; i < n0; i++) r += 1; return r; }",
         kPixel3,
         kBoth,
         {{"n0", {3}}},
         {},
         {},
         Float4(3, 3, 3, 3)});
  // i = 0 and i = 2 pass (s0 = -1.5 <= 0.75), i = 4 ends it: t = 2.
  Check({"two conditions",
         "float s0; float4 main() : COLOR0 { float t = 0;\n"
         "  for (int i = 0; i < 3 && s0 <= 0.75; i += 2) t += 1; return t; }",
         kPixel3,
         kBoth,
         {{"s0", {-1.5}}},
         {},
         {},
         Float4(2, 2, 2, 2)});
}

// A uniform array read by the counter inside a loop: the constant table
// places the array where the code reads it. s1 = 0, ua[k].z = k + 1,
// POSITION = 1: p = 1 * (1 + 4) * (1 + 3) = 20.
TEST(GxlFlowWrongCode, ArrayReadByCounterWhereTheTableSays) {
  Check({"ua[3 - i]",
         "float s1; float4 ua[4];\n"
         "void main(float4 p : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
         "  for (int i = 0; i < 2; i++) p *= exp2(s1) + ua[3 - i].z;\n"
         "  opos = p; otc = (p > 0.5) ? float4(1.41, 1.79, 1.57, 0.1) : 0.5; }",
         kVertex2Up,
         kBoth,
         {{"s1", {0}}, {"ua", {0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0}}},
         {{In(nura::shtok::kUsagePosition), Float4(1, 1, 1, 1)}},
         {nura::shtok::kUsagePosition, 0},
         Float4(20, 20, 20, 20)});
}

// A pixel shader has no address register: a uniform array read by the loop
// counter is read through aL. v.y takes ua[1].x in the last pass:
// (0.5, 7, 7, 0.5).
TEST(GxlFlowWrongCode, PixelArrayReadByCounterGoesThroughTheLoopRegister) {
  Check({"ua[i]",
         "float4 u0; float4 ua[2];\n"
         "float4 main() : COLOR0 { float2 v = 0.5;\n"
         "  for (int i = 0; i < 2; i++) { float d = length(float2(0.9, u0.y)); v.y = ua[i].x; }\n"
         "  return v.xyyx; }",
         kPixel3,
         kAll,
         {{"u0", {0, 2, 0, 0}}, {"ua", {5, 0, 0, 0, 7, 0, 0, 0}}},
         {},
         {},
         Float4(0.5, 7, 7, 0.5)});
}

// Fifteen taps of a uniform array of offsets and one of weights: the
// reference sums w[i] * texel(uv + off[i]) over a texture whose texel at
// (u, v) is (u, v, u + v, u v).
TEST(GxlFlowWrongCode, FifteenTapAccumulation) {
  Program p{"15 taps",
            "sampler2D s; float2 off[15]; float w[15];\n"
            "float4 main(float2 uv : TEXCOORD0) : COLOR0 { float4 acc = 0; float2 uv2;\n"
            "  for (int i = 0; i < 15; i++) { uv2 = uv + off[i]; acc += w[i] * tex2D(s, uv2); }\n"
            "  return acc; }",
            kPixel3,
            kBoth,
            {},
            {{In(nura::shtok::kUsageTexCoord), Float4(0.3f, 0.6f, 0, 0)}},
            {},
            {}};
  std::vector<double> offsets, weights;
  double want[4] = {};
  for (int i = 0; i < 15; ++i) {
    const double du = 0.01 * i - 0.07, dv = 0.5 - 0.03 * i, weight = 1.0 / (i + 1);
    offsets.insert(offsets.end(), {du, dv});
    weights.push_back(weight);
    // The shader adds the float uniforms to the float coordinates.
    const double u = static_cast<double>(0.3f) + static_cast<float>(du);
    const double v = static_cast<double>(0.6f) + static_cast<float>(dv);
    const double texel[4] = {u, v, u + v, u * v};
    for (int k = 0; k < 4; ++k) want[k] += weight * texel[k];
  }
  p.uniforms = {{"off", offsets}, {"w", weights}};
  p.expected = Float4(static_cast<float>(want[0]), static_cast<float>(want[1]), static_cast<float>(want[2]),
                      static_cast<float>(want[3]));
  Check(p, [](const nura::shtok::SampleRequest& r) {
    const float u = r.coord[0], v = r.coord[1];
    return Float4(u, v, u + v, u * v);
  });
}

// Counters a pixel shader's aL can stand for, over a uniform array whose
// element k is (k + 1, 0, 0, 0), with n0 = 3.
TEST(GxlFlowWrongCode, PixelCounterFormsReadThroughTheLoopRegister) {
  struct Row {
    const char* name;
    const char* loop;
    float sum;
  } rows[] = {
      {"uniform bound", "for (int i = 0; i < n0; i++) r += ua[i];", 1 + 2 + 3},
      {"from 1", "for (int i = 1; i < n0; i++) r += ua[i];", 2 + 3},
      {"downwards", "for (int i = 7; i > n0; i--) r += ua[i];", 8 + 7 + 6 + 5},
      {"by 2", "for (int i = 0; i < n0; i += 2) r += ua[i];", 1 + 3},
      {"twice the counter", "for (int i = 0; i < n0; i++) r += ua[i * 2];", 1 + 3 + 5},
      {"offset", "for (int i = 0; i < n0; i++) r += ua[i + 2];", 3 + 4 + 5},
      {"neighbours", "for (int i = 0; i < n0; i++) r += ua[i] * ua[i + 1];", 1 * 2 + 2 * 3 + 3 * 4},
      {"nested", "for (int i = 0; i < n0; i++) for (int j = 0; j < n0; j++) r += ua[i] * ub[j];", 6 * 6},
      {"fixed, offset by a uniform", "for (int i = 0; i < 4; i++) r += ua[i + (int)n0];", 4 + 5 + 6 + 7},
  };
  std::vector<double> elements;
  for (int k = 0; k < 8; ++k) elements.insert(elements.end(), {k + 1.0, 0, 0, 0});
  for (const Row& row : rows)
    Check({row.name,
           std::string("float n0; float4 ua[8]; float4 ub[8];\n"
                       "float4 main() : COLOR0 { float4 r = 0;\n") +
               row.loop + " return r; }",
           kPixel3,
           kAll,
           {{"n0", {3}}, {"ua", elements}, {"ub", elements}},
           {},
           {},
           Float4(row.sum, 0, 0, 0)});
}

// No form fits a read whose index is the counter plus a uniform in a loop of
// uniform length: the compile says so instead of writing a relative read that
// no pixel shader has a register for, with or without validation.
TEST(GxlFlowWrongCode, PixelRelativeReadWithoutTheLoopRegisterIsRefused) {
  const char source[] =
      "float n0; float4 ua[8];\n"
      "float4 main() : COLOR0 { float4 r = 0; for (int i = 0; i < n0; i++) r += ua[i + (int)n0]; return r; }";
  for (const char* profile : kPixel3)
    for (const DWORD flags : kAll) {
      const CompiledHlsl c = CompileHlsl(source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL) << profile << " " << flags << "\n" << c.text;
      EXPECT_TRUE(c.Logged("error X4511: relative addressing not allowed for pixel shaders")) << c.log;
      EXPECT_TRUE(c.code.empty());
    }
}

// A loop of uniform length unrolled where the profile has no loops that
// break stops at the iteration limit with X3511, not with an internal error
// after building a thousand bodies; loops that their bodies end, or that an
// array's end cuts short, still compile.
TEST(GxlFlowWrongCode, UnrollingStopsAtItsLimit) {
  const std::vector<const char*> profiles = {"ps_1_1", "ps_1_4", "ps_2_0", "ps_2_a", "ps_2_b",
                                             "ps_2_sw", "vs_1_1", "vs_2_0"};
  const char kLimit[] = "error X3511: loop does not appear to terminate in a timely manner (1024 iterations)";
  struct Row {
    const char* name;
    const char* body;  // of a function with float4 r = t on entry, and uniforms n0, w and ua[8]
    bool refused;
    float x;  // else r.x afterwards, with t = (1, 1, 1, 1), n0 = 3, w = 1, ua[k].x = k + 1
  } rows[] = {
      {"nested sin", "for (int i = 0; i < n0; i++) for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++)\n"
                     "  r = r * 0.5 + sin(r);", true, 0},
      {"while on a uniform", "while (w > 0) r += 1;", true, 0},
      {"through a function", "for (int i = 0; i < n0; i++) r = Grow(r);", true, 0},
      {"the body moves the bound", "float m = n0; for (int i = 0; i < m; i++) { r += 1; m = 2; }", false, 3},
      {"cut short by the array", "for (int i = 0; i < n0; i++) r += ua[i].x;", false, 7},
  };
  for (const Row& row : rows)
    for (const char* profile : profiles) {
      const bool vertex = profile[0] == 'v';
      const std::string source = std::string("float n0, w; float4 ua[8];\n") +
                                 "float4 Grow(float4 x) { return x * 0.5 + sin(x); }\n" +
                                 (vertex ? "float4 Out(float4 r) { return float4(r.x, 0, 0, 1); }\n"
                                           "float4 main(float4 t : POSITION) : POSITION { float4 r = t;\n"
                                         : "float4 Out(float4 r) { return r; }\n"
                                           "float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n") +
                                 row.body + "\n  return Out(r); }";
      SCOPED_TRACE(std::string(row.name) + " " + profile);
      const CompiledHlsl c = CompileHlsl(source, "main", profile, 0);
      EXPECT_FALSE(c.Logged("internal error")) << c.log;
      if (row.refused) {
        EXPECT_EQ(c.hr, E_FAIL);
        EXPECT_TRUE(c.Logged(kLimit)) << c.log;
        continue;
      }
      if (!vertex) continue;  // the values: on the vertex profiles, whose inputs need no texture stage
      ASSERT_EQ(c.hr, S_OK) << c.log;
      std::vector<double> elements;
      for (int k = 0; k < 8; ++k) elements.insert(elements.end(), {k + 1.0, 0, 0, 0});
      Float4 got;
      std::string error;
      ASSERT_TRUE(RunLane(c, {{"n0", {3}}, {"w", {1}}, {"ua", elements}},
                      {{In(nura::shtok::kUsagePosition), Float4(1, 1, 1, 1)}},
                      {nura::shtok::kUsagePosition, 0}, &got, &error))
          << error << "\n" << c.text;
      EXPECT_NEAR(got[0], row.x, 1e-5) << c.text;
    }
}


// A loop of uniform length inside a loop that the profile cannot nest it in
// (vs_2_a and vs_2_sw keep one loop level): while the outer loop is tried as
// a loop, the inner one is unrolled and runs into the iteration limit; the
// outer loop is then unrolled and the inner one kept as a loop. The compile
// succeeds without the limit's message. n0 = 3, POSITION = 1: z = 1 + 2 n0.
TEST(GxlFlowWrongCode, AbandonedLoopAttemptLeavesNoMessage) {
  const Program p{"nested",
                  "float n0; float4 main(float4 t : POSITION) : POSITION { float4 r = t;\n"
                  "  for (int i = 0; i < 2; i++) for (int j = 0; j < n0; j++) r.z += t.x; return r; }",
                  {"vs_2_a", "vs_2_sw", "vs_3_0"},
                  kBoth,
                  {{"n0", {3}}},
                  {{In(nura::shtok::kUsagePosition), Float4(1, 1, 1, 1)}},
                  {nura::shtok::kUsagePosition, 0},
                  Float4(1, 1, 7, 1)};
  Check(p);
  for (const char* profile : p.profiles) EXPECT_EQ(CompileHlsl(p.source, "main", profile, 0).log, "") << profile;
}

// A loop over aL (its count an int in an integer register) around a loop
// over a uniform float: the inner loop keeps the outer's aL for ua[i] and
// reads ub[j] through a0, optimised and not. n = 3, m = 2, ua[k].x = k + 1,
// ub[k].x = 1, POSITION = 1: x = 1 + 3 (1 + 2 + 3) = 19.
TEST(GxlFlowWrongCode, InnerLoopKeepsTheOuterLoopRegister) {
  const char source[] =
      "int n : register(i0); float m; float4 ua[8]; float4 ub[8];\n"
      "float4 main(float4 p : POSITION) : POSITION { float4 r = p;\n"
      "  for (int i = 0; i < n; i++) { r += ua[i]; for (int j = 0; j < m; j++) r += ua[i] * ub[j]; }\n"
      "  return r; }";
  std::vector<double> ua, ub;
  for (int k = 0; k < 8; ++k) {
    ua.insert(ua.end(), {k + 1.0, 0, 0, 0});
    ub.insert(ub.end(), {1, 0, 0, 0});
  }
  for (const char* profile : {"vs_3_0", "vs_3_sw"})
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const CompiledHlsl c = CompileHlsl(source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      ASSERT_TRUE(shadertest::PlaceConstants(c.table.Get(), {{"m", {2}}, {"ua", ua}, {"ub", ub}}, interp, &error));
      c.Set(interp, "n", Float4(3, 0, 1, 0));
      Lane lane;
      for (const Declaration& d : interp.Declarations())
        if (Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
          *slot = Float4(1, 1, 1, 1);
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << c.text;
      const Declaration* out = interp.FindDeclaration(nura::shtok::kUsagePosition, 0, true);
      ASSERT_NE(out, nullptr);
      EXPECT_NEAR(lane.o[out->number][0], 19, 1e-4) << c.text;
    }
}

// Two relative reads in one expression, each through its own index: the
// second index is loaded into another component of a0 than the first, which
// is still to be read. v3 = ((1, 2), (3, 4), (5, 6)), v1 = 1, v6 = 0: 5.
TEST(GxlFlowWrongCode, TwoIndexesTakeTwoAddressComponents) {
  Check({"v3[1 + v1][v6]",
         "row_major float3x2 v3; int v1; int v6;\n"
         "void main(float4 p : POSITION, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
         "  opos = p; otc = ((v3)[(1 + v1)])[v6]; }",
         kVertex2Up,
         kBoth,
         {{"v3", {1, 2, 3, 4, 5, 6}}, {"v1", {1}}, {"v6", {0}}},
         {},
         {nura::shtok::kUsageTexCoord, 0},
         Float4(5, 5, 5, 5)});
}




}  // namespace
