// Loops the profile cannot keep as loops, and exit tests that read past
// their arrays: refusals where unrolling gives the program. A loop's last
// exit test may read past the array it indexes where that read only ends the
// loop; kept loops beyond vs_2_0's count of static flow-control
// instructions, or nested deeper in static blocks than 2.x allows, are
// unrolled; a pixel-shader loop whose index the loop counter cannot address
// is unrolled. Where nothing can be unrolled the compile ends with the
// limit's own message before any code is emitted. Each program that
// compiles is validated (the compile does), run in the token kit's
// interpreter and compared with the same arithmetic done here.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::CompiledHlsl;
using shadertest::In;
using shadertest::kBoth;
using shadertest::kTexCoord;

const std::vector<const char*> kVertexAll = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};

// Static flow-control instructions of compiled code: if on a bool, rep, loop.
int StaticFlowInstructions(const CompiledHlsl& c) {
  int n = 0;
  for (const char* op : {"if b", "if !b", "rep ", "loop "}) n += static_cast<int>(c.Lines(op).size());
  return n;
}

// The reproducer reads ua[3 - i3] in the test of a loop that runs while
// i3 < 4: with every test passing the last one, at i3 = 4, reads ua[-1],
// which only ends the loop. The live form writes the passes into otc.x.
constexpr char kExitTestPastArray[] =
    "float4 ua[4];\n"
    "void main(out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
    "  for (int i3 = 0; i3 < 4 && ((ua[3 - i3]).z > 0.46); i3++) {}\n"
    "  opos = float4(0.5, 0.5, 0.5, 0.5);\n"
    "  otc = float4(0.5, 0.5, 0.5, 0.5);\n"
    "}\n";
constexpr char kExitTestPastArrayLive[] =
    "float4 ua[4];\n"
    "void main(out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
    "  int i3;\n"
    "  for (i3 = 0; i3 < 4 && ((ua[3 - i3]).z > 0.46); i3++) {}\n"
    "  opos = float4(0.5, 0.5, 0.5, 0.5);\n"
    "  otc = float4(i3, 0.5, 0.5, 0.5);\n"
    "}\n";

TEST(GxlCompilerMend, ExitTestReadingPastTheArrayEndsTheUnrolledLoop) {
  const Float4 half(0.5f, 0.5f, 0.5f, 0.5f);
  // ua[k].z for k = 0..3: every test passes, or the test fails at ua[3], ua[1].
  const std::array<float, 4> kColumns[] = {{1, 1, 1, 1}, {1, 1, 1, 0}, {1, 0, 1, 1}};
  for (const auto& z : kColumns) {
    std::vector<double> ua;
    for (int k = 0; k < 4; ++k) ua.insert(ua.end(), {0.25 * k, -0.5, z[k], 2.0});
    int passes = 0;
    while (passes < 4 && z[3 - passes] > 0.46f) ++passes;
    const std::string what = "passes " + std::to_string(passes);
    for (const shadertest::LaneOutput out : {shadertest::LaneOutput{nura::shtok::kUsagePosition, 0},
                                             shadertest::LaneOutput{kTexCoord, 0}})
      shadertest::CheckFlowProgram({what.c_str(), kExitTestPastArray, kVertexAll, kBoth, {{"ua", ua}}, {}, out, half});
    shadertest::CheckFlowProgram({what.c_str(), kExitTestPastArrayLive, kVertexAll, kBoth, {{"ua", ua}}, {},
                                  {kTexCoord, 0}, Float4(static_cast<float>(passes), 0.5f, 0.5f, 0.5f)});
  }
}

// The same with a local array whose values the compiler knows: every test
// before the last is known to pass, and the last, at i = 4, is known to
// fail on i < 4 whatever a[-1] holds. A test whose read past the array
// decides whether the loop goes on is still refused.
TEST(GxlCompilerMend, ExitTestPastAKnownArrayEndsTheLoopOnlyWhereTheReadDecidesNothing) {
  const struct {
    const char* condition;
    const char* body;  // of the loop, s its sum; the expected sum is that of a[3 - i] * t.x
    const char* values;
    std::function<bool(const std::array<float, 4>&, int)> test;  // null: refused with X3504
  } kLoops[] = {
      {"i < 4 && a[3 - i] > 0", "s += a[3 - i] * t.x", "1, 2, 3, 4",
       [](const auto& a, int i) { return i < 4 && a[3 - i] > 0; }},
      {"i < 4 && a[3 - i] > 0", "s += a[3 - i] * t.x", "1, -2, 3, 4",
       [](const auto& a, int i) { return i < 4 && a[3 - i] > 0; }},
      {"a[i] > 0", "s += t.x", "1, 2, 3, 4", nullptr},
  };
  for (const auto& loop : kLoops)
    for (const bool pixel : {false, true}) {
      const std::string source = std::string("float4 main(float4 t : TEXCOORD0) : ") +
                                 (pixel ? "COLOR0" : "POSITION") + " {\n  float a[4] = {" + loop.values +
                                 "};\n  int i;\n  float s = 0;\n  for (i = 0; " + loop.condition +
                                 "; i++) " + loop.body + ";\n  return float4(s, i, 0, 1);\n}\n";
      const std::vector<const char*> profiles =
          pixel ? std::vector<const char*>{"ps_2_0", "ps_2_sw", "ps_3_0", "ps_3_sw"} : kVertexAll;
      if (!loop.test) {
        for (const char* profile : profiles)
          for (const DWORD flags : kBoth) {
            const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
            EXPECT_NE(c.hr, S_OK) << profile << " " << flags << "\n" << c.text;
            EXPECT_TRUE(c.Logged("error X3504: array index out of bounds")) << profile << " " << flags << "\n" << c.log;
          }
        continue;
      }
      std::array<float, 4> a{};
      std::sscanf(loop.values, "%f, %f, %f, %f", &a[0], &a[1], &a[2], &a[3]);
      const float tx = 0.75f;
      float s = 0;
      int i = 0;
      for (; loop.test(a, i); ++i) s += a[3 - i] * tx;
      shadertest::CheckFlowProgram({loop.values, source, profiles, kBoth, {},
                                    {{In(kTexCoord, 0), Float4(tx, 0, 0, 0)}},
                                    {pixel ? nura::shtok::kUsageColor : nura::shtok::kUsagePosition, 0},
                                    Float4(s, static_cast<float>(i), 0, 1)});
    }
}

// The reproducer: two do loops that unroll (4 x 3 passes at most), with a
// two-pass loop inside that vs_2_0 kept as a rep in every copy, 18 in all,
// past the 16 static flow-control instructions vs_2_0 allows: its own
// validation refused the code (X5018). The inner loop is unrolled instead.
constexpr char kKeptLoopsInUnrolledLoops[] =
    "float n0;\n"
    "void main(float4 itc0 : TEXCOORD0, float4 itc2 : TEXCOORD2, float4 icol : COLOR0, out float4 opos : POSITION,\n"
    "          out float4 otc : TEXCOORD0) {\n"
    "  float w17 = 0;\n"
    "  do {\n"
    "    float w18 = 0;\n"
    "    do {\n"
    "      for (int i22 = 0; i22 < 3; i22 += 2) {\n"
    "        itc2.zwxy = itc2;\n"
    "        icol.w *= sin(itc0.w);\n"
    "      }\n"
    "      w18 += 1;\n"
    "    } while (w18 < 3.0 && (n0 >= 0.5));\n"
    "    w17 += 1;\n"
    "  } while (w17 < 4.0 && (0.7 > itc2.z));\n"
    "  opos = float4(0.5, 0.5, 0.5, 0.5);\n"
    "  otc = itc2;\n"
    "}\n";

TEST(GxlCompilerMend, KeptLoopsPastTheStaticFlowCountAreUnrolled) {
  const Float4 itc0(0.3f, -0.2f, 0.9f, 1.1f);
  for (const double n0 : {0.0, 1.0})
    for (const Float4& start : {Float4(0.1f, 0.2f, 0.3f, 0.4f), Float4(0.1f, 0.2f, 0.9f, 0.4f)}) {
      Float4 itc2 = start;
      float w17 = 0;
      do {
        float w18 = 0;
        do {
          for (int i22 = 0; i22 < 3; i22 += 2) itc2 = Float4(itc2[2], itc2[3], itc2[0], itc2[1]);
          w18 += 1;
        } while (w18 < 3.0f && n0 >= 0.5);
        w17 += 1;
      } while (w17 < 4.0f && 0.7f > itc2[2]);
      const shadertest::LaneInputs inputs = {{In(kTexCoord, 0), itc0}, {In(kTexCoord, 2), start}};
      const std::string what = "n0 " + std::to_string(n0) + " itc2.z " + std::to_string(start[2]);
      shadertest::CheckFlowProgram({what.c_str(), kKeptLoopsInUnrolledLoops, kVertexAll, kBoth, {{"n0", {n0}}},
                                    inputs, {kTexCoord, 0}, itc2});
      shadertest::CheckFlowProgram({what.c_str(), kKeptLoopsInUnrolledLoops, kVertexAll, kBoth, {{"n0", {n0}}},
                                    inputs, {nura::shtok::kUsagePosition, 0}, Float4(0.5f, 0.5f, 0.5f, 0.5f)});
    }
}

// Twenty loops side by side, each of which vs_2_0 keeps as a rep; the
// input has `semantic`.
std::string TwentyLoops(const char* semantic) {
  std::string source = std::string("float4 main(float4 p : ") + semantic + ") : POSITION {\n  float r = p.x;\n";
  for (int k = 0; k < 20; ++k)
    source += "  for (int i" + std::to_string(k) + " = 0; i" + std::to_string(k) + " < 2; i" + std::to_string(k) +
              "++) r = 1.0 / (r * r + " + std::to_string(k + 1) + ".5);\n";
  return source + "  return float4(r, r, r, p.w);\n}\n";
}

// Four of the twenty loops are unrolled, no more, and the value is that of
// every pass.
TEST(GxlCompilerMend, OnlyAsManyKeptLoopsAsTheCountNeedsAreUnrolled) {
  const std::string source = TwentyLoops("TEXCOORD0");
  const Float4 p(0.5f, -1.0f, 2.0f, 0.25f);
  float r = p[0];
  for (int k = 0; k < 20; ++k)
    for (int pass = 0; pass < 2; ++pass) r = 1.0f / (r * r + (static_cast<float>(k) + 1.5f));
  for (const DWORD flags : kBoth) {
    const CompiledHlsl c = shadertest::CompileHlsl(source, "main", "vs_2_0", flags);
    ASSERT_EQ(c.hr, S_OK) << flags << "\n" << c.log;
    EXPECT_EQ(StaticFlowInstructions(c), 16) << flags << "\n" << c.text;
    Float4 got;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(c, {}, {{In(kTexCoord, 0), p}}, {nura::shtok::kUsagePosition, 0}, &got, &error))
        << error;
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got[k], k < 3 ? r : p[3], 1e-5) << flags << " [" << k << "]\n" << c.text;
  }
}

// The program is lowered again with the loops unrolled: what the first try
// said (here the deprecated semantic's warning) is said once.
TEST(GxlCompilerMend, MessagesOfTheTryBeforeTheUnrollingAreTakenBack) {
  for (const DWORD flags : kBoth) {
    const CompiledHlsl c = shadertest::CompileHlsl(TwentyLoops("DIFFUSE"), "main", "vs_2_0", flags);
    ASSERT_EQ(c.hr, S_OK) << flags << "\n" << c.log;
    EXPECT_EQ(StaticFlowInstructions(c), 16) << flags << "\n" << c.text;
    const std::string warning = "warning X4705: input semantics 'DIFFUSE' has been deprecated; use 'Color0' instead";
    const std::size_t first = c.log.find(warning);
    EXPECT_NE(first, std::string::npos) << c.log;
    EXPECT_EQ(c.log.find(warning, first + 1), std::string::npos) << c.log;
  }
}

// Static flow control of bools bound to b registers, which stays flow
// control, loops nested in loops, and loops of 200 passes, which vs_2_0 keeps and whose unrolling
// would pass its 256 instruction slots: the count and nesting the versions
// allow compile, one more is refused with the limit's message before
// emission, never by the validator's refusal of the compiler's own code.
TEST(GxlCompilerMend, StaticFlowPastTheLimitsThatNoUnrollingFitsIsRefusedBeforeEmission) {
  // The 2.x versions have 16 b registers: the seventeenth if tests b0 again.
  auto sideBySide = [](int n) {
    std::string s;
    for (int k = 0; k < 16; ++k) s += "bool b" + std::to_string(k) + " : register(b" + std::to_string(k) + ");\n";
    s += "float4 main(float4 p : TEXCOORD0) : POSITION {\n  float4 r = p;\n";
    for (int k = 0; k < n; ++k)
      s += "  if (b" + std::to_string(k % 16) + ") r = r * " + std::to_string(k) + ".5 + 1;\n";
    return s + "  return r;\n}\n";
  };
  auto nested = [](int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s += "bool b" + std::to_string(k) + " : register(b" + std::to_string(k) + ");\n";
    s += "float4 main(float4 p : TEXCOORD0) : POSITION {\n  float4 r = p;\n";
    for (int k = 0; k < n; ++k) s += "  if (b" + std::to_string(k) + ") { r = r * " + std::to_string(k) + ".5 + 1;\n";
    return s + std::string(static_cast<std::size_t>(n), '}') + "\n  return r;\n}\n";
  };
  auto longLoops = [](int n) {
    std::string s = "float4 main(float4 p : TEXCOORD0) : POSITION {\n  float r = p.x;\n";
    for (int k = 0; k < n; ++k) {
      const std::string i = "i" + std::to_string(k);
      s += "  for (int " + i + " = 0; " + i + " < 200; " + i + "++) r = 1.0 / (r * r + " + std::to_string(k) + ".5);\n";
    }
    return s + "  return float4(r, r, r, p.w);\n}\n";
  };
  // Kept loops nested one in another: the lowering keeps no more of them
  // nested than the version allows, and unrolls the rest.
  auto nestedLoops = [](int n) {
    std::string s = "float4 main(float4 p : TEXCOORD0) : POSITION {\n  float4 r = p;\n";
    for (int k = 0; k < n; ++k) {
      const std::string i = "i" + std::to_string(k);
      s += "  for (int " + i + " = 0; " + i + " < 2; " + i + "++) { r = 1.0 / (r * r + " + std::to_string(k) + ".5);\n";
    }
    return s + std::string(static_cast<std::size_t>(n), '}') + "\n  return r;\n}\n";
  };
  const struct {
    const char* profile;
    std::string source;
    const char* refusal;  // null: compiles
  } kCases[] = {
      {"vs_2_0", nestedLoops(2), nullptr},
      {"vs_2_a", nestedLoops(3), nullptr},
      {"vs_2_sw", nestedLoops(5), nullptr},
      {"vs_3_0", nestedLoops(5), nullptr},
      {"vs_2_0", longLoops(16), nullptr},
      {"vs_2_0", longLoops(17), "error X4500: more than 16 static flow-control instructions"},
      {"vs_2_0", sideBySide(16), nullptr},
      {"vs_2_0", sideBySide(17), "error X4500: more than 16 static flow-control instructions"},
      {"vs_2_a", sideBySide(17), nullptr},
      {"vs_2_a", nested(4), nullptr},
      {"vs_2_a", nested(5), "error X4500: static flow control nested deeper than 4"},
      {"vs_2_sw", nested(5), "error X4500: static flow control nested deeper than 4"},
      {"vs_3_0", nested(5), nullptr},
  };
  for (const auto& c : kCases)
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(c.profile) + " flags " + std::to_string(flags) + "\n" + c.source);
      const CompiledHlsl compiled = shadertest::CompileHlsl(c.source, "main", c.profile, flags);
      EXPECT_EQ(compiled.hr == S_OK, c.refusal == nullptr) << compiled.log;
      if (c.refusal) {
        EXPECT_TRUE(compiled.Logged(c.refusal)) << compiled.log;
      }
      EXPECT_FALSE(compiled.Logged("X50")) << compiled.log;
    }
}

// A kept loop inside four bools' if blocks is a fifth static block, one
// more than vs_2_a and vs_2_sw nest: the loop is unrolled, and the program
// computes what it says for each choice of the bools.
TEST(GxlCompilerMend, KeptLoopNestedPastTheStaticDepthIsUnrolled) {
  const std::string source =
      "bool b0 : register(b0); bool b1 : register(b1); bool b2 : register(b2); bool b3 : register(b3);\n"
      "float4 main(float4 p : TEXCOORD0) : POSITION {\n"
      "  float4 r = p;\n"
      "  if (b0) { r += 1; if (b1) { r *= 2; if (b2) { r -= 0.5; if (b3) {\n"
      "    for (int i = 0; i < 3; i++) r = 1.0 / (r * r + 1.5);\n"
      "  } } } }\n"
      "  return r;\n"
      "}\n";
  const Float4 p(0.5f, -1.0f, 2.0f, 0.0f);
  for (const char* profile : {"vs_2_a", "vs_2_sw"})
    for (const DWORD flags : kBoth) {
      const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << profile << " " << flags << "\n" << c.log;
      for (int bools = 0; bools < 16; ++bools) {
        nura::shtok::Interpreter interp;
        std::string error;
        ASSERT_TRUE(interp.Load(c.code.data(), c.code.size(), &error)) << error;
        for (int k = 0; k < 4; ++k) interp.SetBool(k, (bools >> k) & 1);
        nura::shtok::Lane lane;
        for (const nura::shtok::Declaration& d : interp.Declarations())
          if (Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr) *slot = p;
        ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
        for (int k = 0; k < 4; ++k) {
          float r = p[k];
          if (bools & 1) r += 1;
          if ((bools & 3) == 3) r *= 2;
          if ((bools & 7) == 7) r -= 0.5f;
          for (int i = 0; (bools & 15) == 15 && i < 3; ++i) r = 1.0f / (r * r + 1.5f);
          EXPECT_NEAR(lane.oPos[k], r, 1e-5 * (1 + std::fabs(r))) << profile << " " << flags << " bools " << bools << " [" << k << "]";
        }
      }
    }
}

// A loop left through a breakc inside 24 if blocks (each keeps its block
// for its texture read): the breakc is a 25th dynamic level, one more than
// the versions allow. The loop is unrolled.
TEST(GxlCompilerMend, LoopBreakPastTheDynamicDepthIsUnrolled) {
  constexpr int kLevels = 24;
  std::string source = "sampler s;\nfloat4 main(float4 p : TEXCOORD0) : COLOR0 {\n  float4 r = p;\n";
  for (int k = 0; k < kLevels; ++k)
    source += "  if (p.x > " + shadertest::Num(0.01 * (k + 1)) + ") { r += tex2Dlod(s, float4(r.xy, 0, 0));\n";
  source += "  for (int i = 0; i < 10 && r.y < 5; i++) r.y += 1;\n  " + std::string(kLevels, '}') +
            "\n  return r;\n}\n";
  const Float4 texel(0.125f, 0.25f, 0, 0);
  const nura::shtok::Sampler sampler = [&](const nura::shtok::SampleRequest&) { return texel; };
  for (const float x : {0.155f, 0.5f}) {
    const Float4 p(x, -3.0f, 0.5f, 1.0f);
    Float4 r = p;
    int levels = 0;
    for (; levels < kLevels && p[0] > static_cast<float>(0.01 * (levels + 1)); ++levels)
      for (int k = 0; k < 4; ++k) r.v[k] += texel[k];
    for (int i = 0; levels == kLevels && i < 10 && r[1] < 5; ++i) r.v[1] += 1;
    shadertest::CheckFlowProgram({"levels", source, {"ps_3_0", "ps_3_sw"}, kBoth, {},
                                  {{In(kTexCoord, 0), p}}, {nura::shtok::kUsageColor, 0}, r},
                                 sampler);
  }
}

// The reproducer: a three-pass loop reading ua[3 - i5], which the pixel
// shaders of model 3 can address only through the loop counter, counting
// from 0 by 1: they refused it (X4511). Unrolled, each pass reads its row.
// A loop that reads ua[i] counting up stays a loop over aL.
TEST(GxlCompilerMend, LoopIndexTheCounterCannotAddressIsUnrolledInPixelShaders) {
  const std::string reverse =
      "float4 ua[4];\n"
      "float4 main() : COLOR0 {\n"
      "  float3 v3 = float3(0.5, 0.5, 0.5);\n"
      "  for (int i5 = 3; i5 >= 1; i5--) {\n"
      "    v3 = (ua[3 - i5]).zxx;\n"
      "    v3.z *= sin((float)i5);\n"
      "  }\n"
      "  return v3.zzzz;\n"
      "}\n";
  const std::string forward =
      "float4 ua[4];\n"
      "float4 main(float4 p : TEXCOORD0) : COLOR0 {\n"
      "  float4 r = p;\n"
      "  for (int i = 0; i < 3; i++) r = r * ua[i] + exp2(r);\n"
      "  return r;\n"
      "}\n";
  std::vector<double> ua;
  for (int k = 0; k < 4; ++k) ua.insert(ua.end(), {0.5 + k, -0.25 * k, 1.5 - k, 0.125});
  float z = 0.5f;
  for (int i5 = 3; i5 >= 1; --i5) z = static_cast<float>(ua[(3 - i5) * 4]) * std::sin(static_cast<float>(i5));
  shadertest::CheckFlowProgram({"reverse", reverse, {"ps_2_0", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"}, kBoth,
                                {{"ua", ua}}, {}, {nura::shtok::kUsageColor, 0}, Float4(z, z, z, z)});
  const Float4 p(0.5f, -1.0f, 0.25f, 2.0f);
  Float4 want;
  for (int c = 0; c < 4; ++c) {
    float r = p[c];
    for (int i = 0; i < 3; ++i) r = r * static_cast<float>(ua[i * 4 + c]) + std::exp2(r);
    want[c] = r;
  }
  for (const char* profile : {"ps_3_0", "ps_3_sw"})
    for (const DWORD flags : kBoth) {
      const CompiledHlsl c = shadertest::CompileHlsl(forward, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      EXPECT_EQ(c.Lines("loop ").size(), 1u) << profile << " " << flags << "\n" << c.text;
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLane(c, {{"ua", ua}}, {{In(kTexCoord, 0), p}}, {nura::shtok::kUsageColor, 0}, &got,
                                      &error))
          << error;
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-4 * (1 + std::fabs(want[k]))) << profile << flags;
    }
}

}  // namespace
