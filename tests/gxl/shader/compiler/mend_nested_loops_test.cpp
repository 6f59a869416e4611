// Nested loops kept as loops on shader model 3 whose inner loop meets new
// facts at every pass of the outer one: a value that grows with the outer
// counter, an inner loop inside an if of the outer loop, a loop ended by a
// flag inside a loop over a uniform count. The outer loop's simulation used
// to simulate the inner loop anew at each of its 255 passes and ran into
// the work budget (X4004); each program here compiles and computes, in the
// interpreter, what the same arithmetic done here gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../log_text.h"
#include "flow_lane.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/nested_loop_programs.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kBoth;
using shadertest::kTexCoord;

// The reproducer: two statements in two loops of uniform length, four live
// values.
constexpr char kFourLiveValues[] =
    "float n0;\n"
    "float n1;\n"
    "float4 u0;\n"
    "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 otc : TEXCOORD0)\n"
    "{\n"
    "    float4 acc = t0;\n"
    "    float4 b = u0;\n"
    "    for (int i = 0; i < n0; i++)\n"
    "        for (int j = 0; j < n1; j++)\n"
    "        {\n"
    "            acc = acc * 0.5 + b * 0.25;\n"
    "            b = b + (float)j * 0.125 - (float)i * 0.0625;\n"
    "        }\n"
    "    opos = acc;\n"
    "    otc = b;\n"
    "}\n";

TEST(GxlCompilerMend, NestedUniformLoopsWithFourLiveValues) {
  const shadertest::Uniforms uniforms = {{"n0", {2}}, {"n1", {3}}, {"u0", {1, 0.5, -0.5, 2}}};
  const shadertest::LaneInputs inputs = {{In(kTexCoord, 0), Float4(0.5f, -1, 2, 0.25f)}};
  for (const auto& [output, expected] :
       {std::pair{shadertest::LaneOutput{nura::shtok::kUsagePosition, 0},
                  Float4(0.66015625f, 0.390625f, -0.0546875f, 1.1484375f)},
        std::pair{shadertest::LaneOutput{kTexCoord, 0}, Float4(1.5625f, 1.0625f, 0.0625f, 2.5625f)}})
    shadertest::CheckFlowProgram(
        {"four live values", kFourLiveValues, {"vs_3_0", "vs_3_sw"}, kBoth, uniforms, inputs, output, expected});
}

// --- Generated families ------------------------------------------------------------------

using V4 = std::array<float, 4>;

V4 Add(V4 a, const V4& b) {
  for (int c = 0; c < 4; ++c) a[c] += b[c];
  return a;
}
V4 Scale(V4 a, float k) {
  for (float& x : a) x *= k;
  return a;
}
V4 Splat(float x) { return {x, x, x, x}; }
using shadertest::Num;

// The uniforms and the input the programs read.
struct Inputs {
  float n0, n1, m, w;
  V4 u0, u1, t0;
};

// One program of a family: its body (after `float4 acc = t0;`, leaving its
// result in acc) and the same computation done here.
struct Family {
  std::string body;
  std::function<V4(const Inputs&)> value;
};

// A value that grows with each outer pass, read by the inner body, and the
// outer counter read there too.
Family Growing(std::uint32_t seed) {
  const float ca = seed % 2 ? 0.5f : 0.25f, cb = 0.125f * float(1 + seed % 3), g0 = 0.5f * float(seed % 4);
  const float ga = seed % 3 ? 1.0f : 1.5f, gb = 0.25f + 0.125f * float(seed % 5), cj = 0.125f, ci = 0.0625f;
  Family f;
  f.body = "float4 b = u0; float g = " + Num(g0) +
           ";\n"
           "for (int i = 0; i < n0; i++) {\n"
           "  g = g * " + Num(ga) + " + " + Num(gb) +
           ";\n"
           "  for (int j = 0; j < n1; j++) {\n"
           "    acc = acc * " + Num(ca) + " + b * " + Num(cb) +
           " + g;\n"
           "    b = b + (float)j * " + Num(cj) + " - (float)i * " + Num(ci) +
           ";\n"
           "  }\n"
           "}\n"
           "acc = acc + b * 0.5;\n";
  f.value = [=](const Inputs& in) {
    V4 acc = in.t0, b = in.u0;
    float g = g0;
    for (int i = 0; i < in.n0; ++i) {
      g = g * ga + gb;
      for (int j = 0; j < in.n1; ++j) {
        acc = Add(Add(Scale(acc, ca), Scale(b, cb)), Splat(g));
        b = Add(b, Splat(float(j) * cj - float(i) * ci));
      }
    }
    return Add(acc, Scale(b, 0.5f));
  };
  return f;
}

// The inner loop inside an if of the outer loop, on a condition the outer
// counter moves.
Family InsideIf(std::uint32_t seed) {
  const float d = seed % 2 ? 0.25f : -0.5f, ca = 0.5f, cb = 0.25f * float(1 + seed % 2), ci = 0.125f;
  const float ce = 0.5f + float(seed % 3);
  Family f;
  f.body = "for (int i = 0; i < n0; i++) {\n"
           "  if (acc.x > u1.x + (float)i * " + Num(d) +
           ") {\n"
           "    for (int j = 0; j < n1; j++) acc = acc * " + Num(ca) + " + u0 * " + Num(cb) + " + (float)i * " +
           Num(ci) +
           ";\n"
           "  } else {\n"
           "    acc.yw = acc.yw * 0.5 + " + Num(ce) +
           ";\n"
           "  }\n"
           "}\n";
  f.value = [=](const Inputs& in) {
    V4 acc = in.t0;
    for (int i = 0; i < in.n0; ++i) {
      if (acc[0] > in.u1[0] + float(i) * d) {
        for (int j = 0; j < in.n1; ++j) acc = Add(Add(Scale(acc, ca), Scale(in.u0, cb)), Splat(float(i) * ci));
      } else {
        acc[1] = acc[1] * 0.5f + ce;
        acc[3] = acc[3] * 0.5f + ce;
      }
    }
    return acc;
  };
  return f;
}

// A loop ended by a flag inside a loop over a uniform count; with odd seeds
// the flag's threshold moves with the outer counter.
Family FlagEnded(std::uint32_t seed) {
  const float limit = 2.0f + float(seed % 3), li = seed % 2 ? 0.75f : 0.0f, ca = 0.5f, ci = 0.25f;
  Family f;
  f.body = "float r = 0;\n"
           "for (int i = 0; i < n0; i++) {\n"
           "  bool go = true;\n"
           "  for (int j = 0; j <= m && go; j++) {\n"
           "    r += w;\n"
           "    if (r > " + Num(limit) + " + (float)i * " + Num(li) +
           ") go = false;\n"
           "    acc = acc * " + Num(ca) + " + (float)i * " + Num(ci) +
           ";\n"
           "  }\n"
           "}\n"
           "acc.x += r;\n";
  f.value = [=](const Inputs& in) {
    V4 acc = in.t0;
    float r = 0;
    for (int i = 0; i < in.n0; ++i) {
      bool go = true;
      for (int j = 0; float(j) <= in.m && go; ++j) {
        r += in.w;
        if (r > limit + float(i) * li) go = false;
        acc = Add(Scale(acc, ca), Splat(float(i) * ci));
      }
    }
    acc[0] += r;
    return acc;
  };
  return f;
}

// A value narrowed from above by the outer body: entries of the inner loop
// whose facts share the lower bound and differ in the upper one.
Family Narrowed(std::uint32_t seed) {
  const float ca = seed % 2 ? 0.5f : 0.75f;
  Family f;
  f.body = "float x = saturate(t0.x); float y = 0;\n"
           "for (int i = 0; i < n0; i++) {\n"
           "  x = x * 0.5;\n"
           "  for (int j = 0; j < n1; j++) { y = y + x; acc = acc * " + Num(ca) +
           " + y; }\n"
           "}\n"
           "acc.z += y;\n";
  f.value = [=](const Inputs& in) {
    V4 acc = in.t0;
    float x = std::clamp(in.t0[0], 0.0f, 1.0f), y = 0;
    for (int i = 0; i < in.n0; ++i) {
      x *= 0.5f;
      for (int j = 0; j < in.n1; ++j) {
        y += x;
        acc = Add(Scale(acc, ca), Splat(y));
      }
    }
    acc[2] += y;
    return acc;
  };
  return f;
}

// Three loops over uniform counts; a value grows at each pass of the middle one.
Family ThreeDeep(std::uint32_t seed) {
  const float step = 0.25f * float(1 + seed % 2);
  Family f;
  f.body = "float g = 0;\n"
           "for (int i = 0; i < n0; i++)\n"
           "  for (int j = 0; j < n1; j++) {\n"
           "    g += " + Num(step) +
           ";\n"
           "    for (int k = 0; k < n1; k++) acc = acc * 0.5 + g * 0.125 + (float)i;\n"
           "  }\n";
  f.value = [=](const Inputs& in) {
    V4 acc = in.t0;
    float g = 0;
    for (int i = 0; i < in.n0; ++i)
      for (int j = 0; j < in.n1; ++j) {
        g += step;
        for (int k = 0; k < in.n1; ++k) acc = Add(Scale(acc, 0.5f), Splat(g * 0.125f + float(i)));
      }
    return acc;
  };
  return f;
}

std::string Program(const std::string& body, bool pixel) {
  const std::string uniforms = "float n0; float n1; float m; float w; float4 u0; float4 u1;\n";
  return pixel ? uniforms + "float4 main(float4 t0 : TEXCOORD0) : COLOR0 {\nfloat4 acc = t0;\n" + body +
                     "return acc;\n}\n"
               : uniforms +
                     "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n"
                     "float4 acc = t0;\n" +
                     body + "opos = t0; o0 = acc;\n}\n";
}

Inputs InputsFor(std::uint32_t seed) {
  Inputs in;
  in.n0 = float(seed % 5);
  in.n1 = float(1 + seed % 4);
  in.m = float(seed % 4);
  in.w = 0.75f + 0.25f * float(seed % 3);
  in.u0 = {1.0f, 0.5f, -0.5f, 2.0f};
  in.u1 = {0.25f * float(seed % 3), -1.0f, 0.5f, 1.5f};
  in.t0 = {0.5f + 0.25f * float(seed % 2), -1.0f, 2.0f, 0.25f};
  return in;
}

struct Kind {
  const char* name;
  Family (*make)(std::uint32_t seed);
};
constexpr Kind kFamilies[] = {
    {"growing", Growing}, {"inside an if", InsideIf}, {"flag-ended", FlagEnded},
    {"narrowed", Narrowed}, {"three deep", ThreeDeep},
};

// Without NURA_LONG three programs of each family run.
TEST(GxlCompilerMend, GeneratedNestedUniformLoopFamilies) {
  const auto seeds = static_cast<std::uint32_t>(nura::test::LongOrShare(8, 3));
  for (const Kind& kind : kFamilies)
    for (std::uint32_t seed = 0; seed < seeds; ++seed) {
      const Family f = kind.make(seed);
      const Inputs in = InputsFor(seed + 1);
      const V4 want = f.value(in);
      const shadertest::Uniforms uniforms = {{"n0", {in.n0}},
                                             {"n1", {in.n1}},
                                             {"m", {in.m}},
                                             {"w", {in.w}},
                                             {"u0", {in.u0.begin(), in.u0.end()}},
                                             {"u1", {in.u1.begin(), in.u1.end()}}};
      const shadertest::LaneInputs inputs = {{In(kTexCoord, 0), Float4(in.t0[0], in.t0[1], in.t0[2], in.t0[3])}};
      const Float4 expected(want[0], want[1], want[2], want[3]);
      const std::string name = std::string(kind.name) + " seed " + std::to_string(seed);
      SCOPED_TRACE(name + "\n" + f.body);
      shadertest::CheckFlowProgram(
          {name.c_str(), Program(f.body, false), {"vs_3_0"}, kBoth, uniforms, inputs, {kTexCoord, 0}, expected});
      shadertest::CheckFlowProgram(
          {name.c_str(), Program(f.body, true), {"ps_3_0"}, kBoth, uniforms, inputs, {}, expected});
    }
}

// A flag-ended loop whose flag falls at j == i, in a loop over a uniform
// count, multiplying by a row of a literal matrix picked by a uniform (a
// construct its widened simulation says the loop cannot hold, as its exact
// one does): r is the product, over i < n, of (t.x ? 2.0625 : M[k].x)
// wherever i <= m.
TEST(GxlCompilerMend, FlagEndedLoopMeetingTheOuterCounter) {
  const std::string source =
      "int n; float m; int k; float4 main(float2 t : TEXCOORD1) : COLOR0 { float r = 1;\n"
      "  for (int i = 0; i < n; i++) { bool go = true; for (int j = 0; j <= m && go; j++)\n"
      "    if (j == i) { r *= t.x ? 2.0625 : float3x2(1, 2, 3, 4, 5, 6)[k].x; go = false; } }\n"
      "  return r; }\n";
  const struct {
    float n, m, k, t;
  } rows[] = {{3, 5, 1, 1}, {3, 5, 1, 0}, {3, 1, 2, 0}, {0, 1, 2, 0}, {4, 2, 0, 0}};
  for (const DWORD flags : kBoth) {
    SCOPED_TRACE(flags);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", "ps_3_0", flags);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    for (const auto& row : rows) {
      float r = 1;
      for (int i = 0; i < row.n; ++i)
        if (float(i) <= row.m) r *= row.t != 0 ? 2.0625f : 1.0f + 2.0f * row.k;
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLane(c, {{"n", {row.n}}, {"m", {row.m}}, {"k", {row.k}}},
                                      {{In(kTexCoord, 1), Float4(row.t, 0, 0, 0)}}, {}, &got, &error))
          << error;
      EXPECT_FLOAT_EQ(got[0], r) << row.n << " " << row.m << " " << row.k << " " << row.t << "\n" << c.text;
    }
  }
}

// The facts an inner loop is entered with once widened cover the entry at
// hand, not only those before it: over a fixed four outer passes x is 0,
// 0.4 and 0.8 (whole numbers at first), then 1.5 at the fourth, and what
// the inner loop leaves in acc decides code after the loops (a comparison
// that would fold, an index that would lose its floor).
TEST(GxlCompilerMend, WidenedFactsCoverTheEntryAtHand) {
  const std::string head =
      "float n1; float4 k[4];\n"
      "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n"
      "  float acc = 0;\n"
      "  for (int i = 0; i < 4; i++) {\n";
  const std::vector<double> k = {10, 0, 0, 0, 11, 0, 0, 0, 12, 0, 0, 0, 13, 0, 0, 0};
  // Past every earlier entry's range: acc reaches 1.5 > 1.
  shadertest::CheckFlowProgram({"range",
                                head +
                                    "    float x = i == 3 ? 1.5 : i * 0.4;\n"
                                    "    for (int j = 0; j < n1; j++) acc = max(acc, x);\n"
                                    "  }\n"
                                    "  opos = t0; o0 = acc > 1.0 ? 1 : 0;\n}\n",
                                {"vs_3_0", "vs_3_sw"},
                                kBoth,
                                {{"n1", {2}}},
                                {},
                                {kTexCoord, 0},
                                Float4(1, 1, 1, 1)});
  // Whole at every earlier entry, not at the last: k[1.5] reads k[1].
  shadertest::CheckFlowProgram({"facts",
                                head +
                                    "    float x = i == 3 ? 1.5 : i;\n"
                                    "    for (int j = 0; j < n1; j++) acc = x;\n"
                                    "  }\n"
                                    "  opos = t0; o0 = k[acc];\n}\n",
                                {"vs_3_0", "vs_3_sw"},
                                kBoth,
                                {{"n1", {2}}, {"k", k}},
                                {},
                                {kTexCoord, 0},
                                Float4(11, 0, 0, 0)});
}

// --- What the simulations did ------------------------------------------------------------

struct Counted {
  HRESULT hr = E_FAIL;
  std::string log;
  std::uint32_t widened = 0;
};

Counted CompileCounted(const std::string& source, const char* profile) {
  Counted r;
  gxl::shader::ShaderPreprocessor pp;
  r.hr = pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr);
  if (SUCCEEDED(r.hr)) {
    gxl::ComRef<DataBuffer> code;
    gxl::shader::ShaderCompiler compiler;
    r.hr = compiler.CompileSource(&pp, nullptr, "main", 0, profile, 0x100, code.Put(), nullptr);
    r.widened = compiler.widenedSimulations;
  }
  r.log = shadertest::LogText(pp.Log());
  return r;
}

// An inner loop met at each outer pass under new facts settles on widened
// facts after a few passes: few simulations start from them, not one per pass.
TEST(GxlCompilerMend, WidenedInnerLoopsSettle) {
  const Counted reproducer = CompileCounted(kFourLiveValues, "vs_3_0");
  ASSERT_EQ(reproducer.hr, S_OK) << reproducer.log;
  EXPECT_GE(reproducer.widened, 1u);
  EXPECT_LE(reproducer.widened, 2u);
  for (const Kind& kind : kFamilies) {
    const Counted c = CompileCounted(Program(kind.make(1).body, false), "vs_3_0");
    ASSERT_EQ(c.hr, S_OK) << kind.name << "\n" << c.log;
    EXPECT_GE(c.widened, 1u) << kind.name;
    EXPECT_LE(c.widened, 12u) << kind.name;
  }
  // A call's callee is part of what the inner loop touches.
  const Counted call = CompileCounted(shadertest::kCallInNestedLoopsProgram, "vs_3_0");
  ASSERT_EQ(call.hr, S_OK) << call.log;
  EXPECT_GE(call.widened, 1u);
  EXPECT_LE(call.widened, 4u);
}

// An inner loop whose trip count moves with the outer counter and runs past
// the iteration limit at every pass is unrolled there, as from its own
// entry: widened facts would only say that it may end, so the probe from
// the entry decides and no simulation starts widened.
TEST(GxlCompilerMend, InnerLoopRunningPastTheLimitIsNotWidened) {
  const std::string source =
      "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n"
      "  float t = t0.x;\n"
      "  for (int i = 0; i < 6; i++)\n"
      "    for (int j = 0; j < 258 - i * 0.25; j++) t = t * 0.5 + 1;\n"
      "  opos = t0; o0 = t;\n"
      "}\n";
  const Counted c = CompileCounted(source, "vs_3_0");
  ASSERT_EQ(c.hr, S_OK) << c.log;
  EXPECT_EQ(c.widened, 0u);
  float t = 0.75f;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; float(j) < 258 - float(i) * 0.25f; ++j) t = t * 0.5f + 1;
  shadertest::CheckFlowProgram({"running inner loop", source, {"vs_3_0"}, {0u}, {},
                                {{In(kTexCoord, 0), Float4(0.75f, 0, 0, 0)}}, {kTexCoord, 0}, Float4(t, t, t, t)});
}

// An inner loop that writes what an outer loop's trip count depends on is
// never widened: an outer loop that runs past the iteration limit (300
// passes here) would look as if it might end within it, and keep only 255
// of them. It is refused for its cost, or runs all 300.
TEST(GxlCompilerMend, InnerLoopDecidingTheOuterTripCountIsNotWidened) {
  const std::string source =
      "float n1;\n"
      "void main(float4 t0 : TEXCOORD0, out float4 opos : POSITION, out float4 o0 : TEXCOORD0) {\n"
      "  float t = 0; float count = 0;\n"
      "  for (int i = 0; i < 300 && t < 0.5; i++) {\n"
      "    for (int j = 0; j < n1; j++) t += frac(i * 1.0);\n"
      "    count += 1;\n"
      "  }\n"
      "  opos = t0; o0 = count;\n"
      "}\n";
  for (const char* profile : {"vs_3_0"}) {
    SCOPED_TRACE(profile);
    const Counted counted = CompileCounted(source, profile);
    EXPECT_EQ(counted.widened, 0u);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile);
    if (FAILED(c.hr)) {
      EXPECT_TRUE(c.Logged("X4004")) << c.log;
      continue;
    }
    Float4 got;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(c, {{"n1", {2}}}, {}, {kTexCoord, 0}, &got, &error)) << error;
    EXPECT_EQ(got[0], 300.0f) << c.text;
  }
}

}  // namespace
