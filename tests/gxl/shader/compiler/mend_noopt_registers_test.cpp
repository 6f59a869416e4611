// Unoptimised code around an unrolled loop that calls a function: the
// second phase merges equal instructions of the unrolled passes, which keeps
// the first pass's copies of the call's work live into the last, and in the
// lowered order the values then outgrew the temporaries (X4004) where the
// optimised compile, and vs_2_0's loop, fit them. Each program compiles at
// its profiles, optimised and with option 0x4, and the token kit's
// interpreter runs it against values worked out by hand or in C++. A
// program whose values cannot fit in any order is still refused once.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kTexCoord;

// The reproducer: a two-pass loop around a call, under a branch on TEXCOORD1.x.
const char kCallInLoop[] = R"(
float4 u0;
float s0;
float s1;

float4 f0(float2 p0, float4 p1)
{
    return (float4)(((u0.x > 0.125) ? (p1 / 0.5) : (float4(0.5, 0.5, 0.5, 0.5) + s0)) >= (1.87 + s1));
}

void main(float4 itc1 : TEXCOORD1, float4 itc3 : TEXCOORD3, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 v4 = float4(0.5, 0.5, 0.5, 0.5);
    float4 v5 = float4(-2.91, 0.3, 0.9, -1.0);
    if (itc1.x <= 1.07)
    {
    }
    else
    {
        for (int i6 = 0; i6 < 2; i6++)
        {
            v4 = ((float4(0.5, 0.5, 0.5, 0.5) >= ((f0(float2(0.5, 0.5), v4) > float4(0.5, 0.5, 0.5, 0.5)) ? (v5 / float4(1.0, 1.0, 1.0, 1.0)) : (itc1 - float4(0.5, 0.5, 0.5, 0.5)))) ? float4(0.5, 0.5, 0.5, 0.5) : float4(0.5, 0.5, 0.5, 0.5));
            itc3 -= 0.5;
            v5 = float4(1.0, 1.0, 1.0, 1.0);
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = ((itc3 + v5) + v4);
}
)";

void ExpectNear(const Float4& got, const Float4& want, const std::string& what) {
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-5 * (1 + std::fabs(want[k]))) << what << " [" << k << "]";
}

TEST(GxlCompilerMend, NoOptCallInUnrolledLoopFitsTheTemporaries) {
  const shadertest::Uniforms uniforms = {{"u0", {0.3, 0, 0, 0}}, {"s0", {0.2}}, {"s1", {0.1}}};
  const Float4 itc3(0.1f, 0.2f, 0.3f, 0.4f);
  // The loop runs where TEXCOORD1.x passes 1.07: both passes leave v4 at 0.5,
  // take 1.0 off itc3 and set v5 to 1.
  const struct {
    Float4 itc1, otc;
  } rows[] = {
      {Float4(1.5f, 0, 0, 0), Float4(0.6f, 0.7f, 0.8f, 0.9f)},
      {Float4(0, 0, 0, 0), Float4(-2.31f, 1.0f, 1.7f, -0.1f)},
  };
  for (const char* profile : {"vs_1_1", "vs_2_0"})
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kCallInLoop, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      for (const auto& row : rows) {
        const shadertest::LaneInputs inputs = {{In(kTexCoord, 1), row.itc1}, {In(kTexCoord, 3), itc3}};
        Float4 otc, opos;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(c, uniforms, inputs, {kTexCoord, 0}, &otc, &error)) << error << "\n" << c.text;
        ASSERT_TRUE(shadertest::RunLane(c, uniforms, inputs, {nura::shtok::kUsagePosition, 0}, &opos, &error)) << error;
        ExpectNear(otc, row.otc, "otc at TEXCOORD1.x " + std::to_string(row.itc1[0]));
        ExpectNear(opos, Float4(0.5f, 0.5f, 0.5f, 0.5f), "opos");
      }
    }
}

// A loop of `passes` around f, whose `calls` factors are products of the
// inputs (the same in every pass), beside `kept` values made before the loop
// and read after it. Vertex code writes the sum to TEXCOORD0, pixel code to
// COLOR.
struct LoopShape {
  int calls, kept, passes;
  const char* profile;
};

// The factor pairs f multiplies, over its parameters a, b, c and d.
constexpr int kPairs[][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}, {0, 3}, {1, 2}};

std::string ShapeSource(const LoopShape& s, bool pixel) {
  const char* names = "abcd";
  std::string body = "p";
  for (int j = 0; j < s.calls; ++j)
    body = "(" + body + (j % 2 ? " * " : " + ") + "(" + names[kPairs[j][0]] + " * " + names[kPairs[j][1]] + " + " +
           std::to_string(j + 1) + ".0))";
  std::string text = "float4 f(float4 p, float4 a, float4 b, float4 c, float4 d)\n{\n    return " + body + ";\n}\n";
  std::string inputs;
  for (int i = 0; i < 5; ++i)
    inputs += (i ? ", " : "") + std::string("float4 t") + std::to_string(i) + " : TEXCOORD" + std::to_string(i);
  text += pixel ? "float4 main(" + inputs + ") : COLOR\n{\n"
                : "void main(" + inputs + ", out float4 opos : POSITION, out float4 otc : TEXCOORD0)\n{\n";
  std::string sum = "acc";
  for (int k = 0; k < s.kept; ++k) {
    const std::string w = "w" + std::to_string(k);
    text += "    float4 " + w + " = t" + std::to_string(k % 5) + " * " + std::to_string(k + 2) + ".0 + t" +
            std::to_string((k + 1) % 5) + ";\n";
    sum += " + " + w;
  }
  text += "    float4 acc = t0;\n    for (int i = 0; i < " + std::to_string(s.passes) +
          "; i++)\n        acc = f(acc, t1, t2, t3, t4) * 0.125;\n";
  text += pixel ? "    return " + sum + ";\n}\n" : "    opos = t0;\n    otc = " + sum + ";\n}\n";
  return text;
}

// What the shape computes, one component at a time.
Float4 ShapeValue(const LoopShape& s, const Float4 t[5]) {
  Float4 out;
  for (int k = 0; k < 4; ++k) {
    const double x[4] = {t[1][k], t[2][k], t[3][k], t[4][k]};
    double acc = t[0][k];
    for (int pass = 0; pass < s.passes; ++pass) {
      for (int j = 0; j < s.calls; ++j) {
        const double factor = x[kPairs[j][0]] * x[kPairs[j][1]] + (j + 1);
        acc = j % 2 ? acc * factor : acc + factor;
      }
      acc *= 0.125;
    }
    for (int w = 0; w < s.kept; ++w) acc += double{t[w % 5][k]} * (w + 2) + t[(w + 1) % 5][k];
    out[k] = static_cast<float>(acc);
  }
  return out;
}

TEST(GxlCompilerMend, NoOptUnrolledLoopShapesFitTheTemporaries) {
  // With option 0x4 each outgrows the twelve temporaries in its lowered
  // order; the first four fit there when the passes do not share the call's
  // products, the last not even then.
  const LoopShape shapes[] = {
      {6, 4, 2, "vs_1_1"}, {4, 6, 2, "vs_1_1"}, {6, 4, 3, "vs_1_1"}, {6, 4, 2, "ps_2_0"}, {6, 8, 3, "vs_1_1"},
  };
  const Float4 t[5] = {Float4(0.5f, -0.25f, 0.75f, 1.0f), Float4(0.25f, 0.5f, -0.5f, 0.125f),
                       Float4(-0.75f, 0.25f, 0.5f, 0.375f), Float4(0.125f, -0.5f, 0.25f, 0.625f),
                       Float4(0.375f, 0.75f, -0.125f, -0.25f)};
  shadertest::LaneInputs inputs;
  for (int i = 0; i < 5; ++i) inputs[In(kTexCoord, i)] = t[i];
  for (const LoopShape& s : shapes) {
    const bool pixel = s.profile[0] == 'p';
    const std::string source = ShapeSource(s, pixel);
    const Float4 want = ShapeValue(s, t);
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(s.profile) + " calls " + std::to_string(s.calls) + " kept " + std::to_string(s.kept) +
                   " passes " + std::to_string(s.passes) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", s.profile, flags);
      EXPECT_EQ(c.hr, S_OK) << c.log << source;
      if (FAILED(c.hr)) continue;
      Float4 got;
      std::string error;
      EXPECT_TRUE(shadertest::RunLane(c, {}, inputs, {pixel ? nura::shtok::kUsageColor : kTexCoord, 0}, &got, &error))
          << error << "\n"
          << c.text;
      if (error.empty()) ExpectNear(got, want, "sum");
    }
  }
}

// Option 0x4 means nothing to ps_1_x, whose compile is always optimised: a
// call in an unrolled loop there computes as at ps_2_0. The colours are v0
// and v1 at every pixel profile (ps_1_x declares none).
TEST(GxlCompilerMend, NoOptCallInUnrolledLoopAtPixel1x) {
  const char source[] = R"(
float4 k0;

float4 f(float4 p, float4 a, float4 b)
{
    return p * a + b * k0;
}

float4 main(float4 c0 : COLOR0, float4 c1 : COLOR1) : COLOR
{
    float4 acc = c0;
    for (int i = 0; i < 2; i++)
        acc = f(acc, c1, c0) * 0.5;
    return acc;
}
)";
  const Float4 c0(0.5f, 0.25f, 0.75f, 1.0f), c1(0.5f, 0.5f, 0.25f, 0.75f), k0(0.25f, -0.5f, 0.5f, 0.125f);
  Float4 want;
  for (int k = 0; k < 4; ++k) {
    double acc = c0[k];
    for (int pass = 0; pass < 2; ++pass) acc = (acc * c1[k] + double{c0[k]} * k0[k]) * 0.5;
    want[k] = static_cast<float>(acc);
  }
  for (const char* profile : {"ps_1_1", "ps_1_3", "ps_1_4", "ps_2_0"})
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      nura::shtok::Interpreter interp;
      std::string error;
      ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
      ASSERT_TRUE(shadertest::PlaceConstants(c.table.Get(), {{"k0", {k0[0], k0[1], k0[2], k0[3]}}}, interp, &error))
          << error;
      nura::shtok::Lane lane;
      lane.v[0] = c0;
      lane.v[1] = c1;
      ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
      ExpectNear(lane.oC[0], want, "colour\n" + c.text);
    }
}

// Thirteen float4 values each read twice, once for their sum and once after
// it: every order holds them all at once, one more than vs_1_1's twelve.
// Without optimisation (which computes them again where they are read) the
// refusal comes once.
TEST(GxlCompilerMend, NoOptValuesBeyondTheTemporariesStillRefused) {
  std::string source = "float4 k[13];\n\nfloat4 main(";
  for (int i = 0; i < 13; ++i)
    source += (i ? ", " : "") + std::string("float4 t") + std::to_string(i) + " : TEXCOORD" + std::to_string(i);
  source += ") : POSITION\n{\n";
  std::string sum = "0", weighted = "0";
  for (int i = 0; i < 13; ++i) {
    const std::string a = "a" + std::to_string(i);
    source += "    float4 " + a + " = t" + std::to_string(i) + " * k[" + std::to_string(i) + "];\n";
    sum += " + " + a;
    weighted += " + " + a + " * s";
  }
  source += "    float4 s = " + sum + ";\n    return " + weighted + ";\n}\n";
  const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", "vs_1_1", 0x4);
  EXPECT_EQ(c.hr, E_FAIL) << c.text;
  std::size_t count = 0;
  for (std::size_t at = c.log.find("error X4004"); at != std::string::npos; at = c.log.find("error X4004", at + 1))
    ++count;
  EXPECT_EQ(count, 1u) << c.log;
}

}  // namespace
