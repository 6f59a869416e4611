// The optimiser's rounds kept in step incrementally (RoundUpkeep) give the
// code the full passes give, on programs whose unrolled loops take it through
// many rounds; the nested triangle of the issue, whose 31,125 unrolled passes
// the rounds used to take minutes over, compiles to a program that computes
// its value; and ps_1_x refuses a program far past its size with its own
// limit, at once, where the work bound used to end it after seconds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "generated_program.h"
#include "upkeep_run.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;

using shadertest::UpkeepRun;

constexpr std::uint32_t kNever = shadertest::kUpkeepNever;

// Statements whose unrolled copies the passes fold, merge and simplify over
// many rounds: literal coefficients that settle one copy per round, identities,
// duplicates, dead stores and swizzled writes.
const char* const kStatements[] = {
    "a = a * 0.5 + t;",
    "b = b * 0.75 - a * 0.25;",
    "a = -(-a) + 0;",
    "b = b * 1 + a * 0;",
    "a = saturate(a) * 2;",
    "b = min(b, a) + 0.5;",
    "a = max(a, -b);",
    "b = frac(b + 1);",
    "a = a + a;",
    "b = b * 2 * 0.5;",
    "a = (a * 3) * 0.25;",
    "b = lerp(a, b, 0.5);",
    "a = abs(a) - 0.125;",
    "b = b / 2;",
    "a = a * k.x + b;",
    "b = dot(a, b) * 0.01 + b;",
    "a = a - a * 0.5;",
    "b = 1 - (1 - b);",
    "a.xy = a.yx * 0.5;",
    "b.z = a.w + b.x;",
    "c = a * 0.5; a = c + c;",
    "c = b; b = a; a = c * 0.5;",
    "a = a * t + t * a;",
    "b = b * 0.5 + b * 0.5;",
    "if (i > 2) a = a * 0.5 + t;",
    "a = sqrt(abs(a) + 1) - 1;",
};

// A program of loops the profiles without loops unroll: `loops` of them, each
// of a few random statements, some nested in a triangle.
std::string UnrolledProgram(std::uint32_t seed, bool vertex) {
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  std::string text = "float4 k;\nfloat4 main(float4 t : TEXCOORD0, float4 u : TEXCOORD1) : ";
  text += vertex ? "POSITION" : "COLOR";
  text += " {\n  float4 a = t, b = u, c = 0;\n";
  for (std::uint32_t loop = 0, loops = 1 + pick(3); loop < loops; ++loop) {
    const std::uint32_t n = 8 + pick(40);
    text += "  for (int i = 0; i < " + std::to_string(n) + "; i++) {\n";
    const bool nested = pick(3) == 0;
    if (nested) text += "    for (int j = 0; j < i % 5; j++) {\n";
    for (std::uint32_t s = 0, count = 1 + pick(3); s < count; ++s)
      text += std::string("    ") + kStatements[pick(std::size(kStatements))] + "\n";
    if (nested) text += "    }\n";
    text += "  }\n";
  }
  return text + "  return a + b + c;\n}\n";
}

// Every incremental pass leaves the program as the full pass does, and the
// compile ends in the same code, messages and status. A share in CI, more
// in long mode.
TEST(GxlOptimizerGrowth, IncrementalRoundsGiveTheFullPassesCode) {
  const std::uint32_t programs = nura::test::LongMode() ? 400 : 24;
  std::vector<std::uint32_t> seeds;
  for (std::uint32_t seed = 0; seed < programs; ++seed) seeds.push_back(seed);
  // At vs_2_0 a pass leaves a new literal that nothing reads each round; the
  // guard pass still gives it the guard its (absent) readers ask for.
  if (!nura::test::LongMode()) seeds.push_back(76);
  std::uint64_t passes = 0;
  for (const std::uint32_t seed : seeds) {
    const bool vertex = seed % 3 == 1;
    const std::string text = UnrolledProgram(seed, vertex);
    for (const char* profile : vertex ? std::vector<const char*>{"vs_1_1", "vs_2_0"}
                                      : std::vector<const char*>{"ps_2_0", "ps_2_b"}) {
      SCOPED_TRACE(std::string(profile) + " seed " + std::to_string(seed) + "\n" + text);
      const UpkeepRun full(text, profile, 0, kNever, false);
      const UpkeepRun kept(text, profile, 0, 0, true);
      EXPECT_EQ(full.passes, 0u);
      EXPECT_EQ(kept.mismatches, 0u);
      EXPECT_EQ(kept.hr, full.hr);
      EXPECT_EQ(kept.log, full.log);
      EXPECT_TRUE(kept.code == full.code);
      passes += kept.passes;
    }
  }
  // The programs keep the rounds going: most passes ran incrementally.
  EXPECT_GT(passes, 100u * programs);
}

// Shapes that take the upkeep down its other roads, each checked pass by
// pass and against the full passes' code: two chains that settle alike, or
// become equal as they settle (the common instructions it hands to the full
// pass), a chain that dies when its reader folds away, a branch on a uniform
// inside the loop (outside the class: never set up, tried again less often),
// branches on the counter (inside it once unrolled), a swizzled write,
// reciprocals and negations that the folds look through at any depth, and a
// value saved part-way and read after the loop, whose coefficient its reader
// takes over once the loop's own reader of it dies. Each
// settles all at once at the end, a change too large for the upkeep, which
// it drops there.
TEST(GxlOptimizerGrowth, IncrementalRoundsOnEveryRoad) {
  const char* const bodies[] = {
      "a = a * 0.5 + t; b = b * 0.5 + u;",
      "a = a * 0.5 + t; b = b * 0.5 + t;",
      "a = a * 0.5 + t; c = c * 0.75 + u;",
      "a = a * 0.5 + t; if (k.x > 0) b = b * 0.5 + u;",
      "a = a * 0.5 + t; if (i % 3 == 1) b = b * 0.5 + u; else b = b - a * 0.125;",
      "a = a * 0.5 + t; b = -(1 / (-(1 / (a + 2))));",
      "a = a * 0.5 + t; c.xy = a.zw * 0.25; b = b * 0.5 + c;",
      "a = a * 0.5 + t; if (i == 6) c = a;",
  };
  const char* const tails[] = {"a + b", "a + b", "a + c * 0", "a + b", "a + b", "a + b", "a + b + c", "a + c * 3"};
  for (std::size_t k = 0; k < std::size(bodies); ++k) {
    for (const bool vertex : {false, true}) {
      const std::string text = std::string("float4 k;\nfloat4 main(float4 t : TEXCOORD0, float4 u : TEXCOORD1) : ") +
                               (vertex ? "POSITION" : "COLOR") + " {\n  float4 a = t, b = u, c = 0;\n" +
                               "  for (int i = 0; i < " + std::to_string(nura::test::LongMode() ? 24 : 12) +
                               "; i++)\n    for (int j = 0; j < i; j++) { " + bodies[k] +
                               " }\n  return " + tails[k] + ";\n}\n";
      const char* profile = vertex ? "vs_2_0" : "ps_2_0";
      SCOPED_TRACE(std::string(profile) + "\n" + text);
      const UpkeepRun full(text, profile, 0, kNever, false);
      const UpkeepRun kept(text, profile, 0, 0, true);
      EXPECT_EQ(kept.mismatches, 0u);
      EXPECT_EQ(kept.hr, full.hr);
      EXPECT_EQ(kept.log, full.log);
      EXPECT_TRUE(kept.code == full.code);
    }
  }
}

// Code whose passes settle at 2t (+ `plus`), run on t = (0.3, -1, 2, 0.5).
void ExpectTwiceTheInput(const shadertest::CompiledHlsl& c, bool vertex, float plus = 0) {
  const Float4 t(0.3f, -1, 2, 0.5f);
  Float4 got;
  std::string error;
  const shadertest::LaneOutput out{vertex ? nura::shtok::kUsagePosition : nura::shtok::kUsageColor, 0};
  ASSERT_TRUE(shadertest::RunLane(c, {}, {{shadertest::In(shadertest::kTexCoord), t}}, out, &got, &error))
      << error << "\n" << c.text;
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(got[i], 2 * t[i] + plus) << i << "\n" << c.text;
}

// The nested triangle: for (i < n) for (j < i) a = a * 0.5 + t; the
// passes settle at 2t in float32. The full n = 250 (31,125 unrolled passes)
// in long mode, n = 60 (1,770) in CI; and with every incremental pass
// checked against the full one, n = 60 in long mode, 30 in CI.
TEST(GxlOptimizerGrowth, NestedTriangleComputesTwiceItsInput) {
  const bool full = nura::test::LongMode();
  auto source = [](std::uint32_t n, bool vertex) {
    return std::string("float4 main(float4 t : TEXCOORD0) : ") + (vertex ? "POSITION" : "COLOR") +
           "\n{\n    float4 a = t;\n    for (int i = 0; i < " + std::to_string(n) +
           "; i++)\n        for (int j = 0; j < i; j++)\n            a = a * 0.5 + t;\n    return a;\n}\n";
  };
  for (const char* profile : {"ps_2_0", "ps_2_a", "ps_2_b", "vs_1_1", "vs_2_0"}) {
    const bool vertex = profile[0] == 'v';
    SCOPED_TRACE(profile);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source(full ? 250 : 60, vertex), "main", profile, 0);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    ExpectTwiceTheInput(c, vertex);
    if (!full && profile != std::string("ps_2_0") && profile != std::string("vs_2_0")) continue;
    const UpkeepRun kept(source(full ? 60 : 30, vertex), profile, 0, 0, true);
    EXPECT_EQ(kept.hr, S_OK) << kept.log;
    EXPECT_GT(kept.passes, 300u);
    EXPECT_EQ(kept.mismatches, 0u);
  }
}

// The triangle's chain settles one link a round and then folds whole: in
// that round each fold reaches far along the readers (260 links), and the
// walk gives way to the full pass once what it spread passes a third of the
// program, not after visiting a third of it.
TEST(GxlOptimizerGrowth, ChainThatFoldsWholeGivesWayToTheFullPass) {
  const std::string text =
      "float4 main(float4 t : TEXCOORD0) : POSITION\n{\n    float4 a = t;\n"
      "    for (int i = 0; i < 100; i++)\n        for (int j = 0; j < i; j++)\n            a = a * 0.5 + t;\n"
      "    return a;\n}\n";
  const UpkeepRun kept(text, "vs_2_0", 0, gxl::shader::kRoundUpkeepFrom, false);
  ASSERT_EQ(kept.hr, S_OK) << kept.log;
  EXPECT_GT(kept.passes, 300u);
  // About 186,000 here over the 14,850 unrolled instructions; 2.7 million when
  // only the positions visited counted.
  EXPECT_LT(kept.readersMet, 500000u);
}

// Constant nests whose passes settle at 2t in float32, where the profiles
// with loops keep some loops around long unrolled bodies: the rectangle
// for (i < n) for (j < n / 2) and the cube for (i < n) for (j < n) for
// (k < n). Full sizes (250, 40) in long mode, where the lowering keeps
// loops, and sizes that unroll in CI.
TEST(GxlOptimizerGrowth, KeptLoopsAroundUnrolledBodiesComputeTwiceTheirInput) {
  const bool full = nura::test::LongMode();
  auto source = [](bool cube, std::uint32_t n, bool vertex) {
    const std::string bound = std::to_string(n), inner = std::to_string(cube ? n : n / 2);
    std::string text = std::string("float4 main(float4 t : TEXCOORD0) : ") + (vertex ? "POSITION" : "COLOR") +
                       "\n{\n    float4 a = t;\n    for (int i = 0; i < " + bound + "; i++)\n" +
                       "        for (int j = 0; j < " + inner + "; j++)\n";
    if (cube) text += "            for (int k = 0; k < " + bound + "; k++)\n";
    return text + "                a = a * 0.5 + t;\n    return a;\n}\n";
  };
  struct Case {
    bool cube;
    std::uint32_t ci, longMode;
  };
  const Case kCases[] = {{false, 64, 250}, {true, 12, 40}};
  for (const Case& k : kCases)
    for (const char* profile : {"ps_3_0", "vs_3_0"}) {
      const bool vertex = profile[0] == 'v';
      const std::string text = source(k.cube, full ? k.longMode : k.ci, vertex);
      SCOPED_TRACE(std::string(profile) + "\n" + text);
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(text, "main", profile, 0);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      ExpectTwiceTheInput(c, vertex);
    }
}

// The triangle with a branch on data, at the profiles that keep its loops:
// every pass after the first adds 1, so it settles at 2t + 2. (Where it is
// unrolled the slot limit refuses it: GxlCompilerMend's slot-limit tests.)
TEST(GxlOptimizerGrowth, TriangleWithABranchComputesItsValueWhereLoopsAreKept) {
  for (const char* profile : {"ps_3_0", "vs_3_0"}) {
    const bool vertex = profile[0] == 'v';
    SCOPED_TRACE(profile);
    const std::string text = std::string("float4 main(float4 t : TEXCOORD0) : ") + (vertex ? "POSITION" : "COLOR") +
                             "\n{\n    float4 a = t;\n    for (int i = 0; i < 200; i++)\n"
                             "        for (int j = 0; j < i; j++)\n        {\n            a = a * 0.5 + t;\n"
                             "            if (a.x > t.x)\n                a += 1;\n        }\n    return a;\n}\n";
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(text, "main", profile, 0);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    ExpectTwiceTheInput(c, vertex, 2);
  }
}

// The seven statements: a 1,000-pass constant loop that no 1.x
// program can hold (about 28,000 instructions after the optimiser).
constexpr char kLongConstantLoop[] =
    "float4 u1;\nfloat s1;\nfloat n0;\nfloat4 ua[4];\n"
    "float4 main() : COLOR0\n{\n"
    "    float2 b = float2(0.25, 0.5);\n    float s = -0.8;\n"
    "    for (int i = 0; i < 1000; i++)\n    {\n"
    "        b = b * 0.75 + saturate(float2(u1.x, n0) + (float)i * 0.01) * 0.25;\n"
    "        if (s1 > ua[0].z)\n        {\n            b *= 0.5;\n        }\n"
    "        s += cos(ua[0].x * u1.w + (float)i * 0.01) * 0.0009765625;\n    }\n"
    "    return float4(s, s, s, s) + b.xyxy * 2.0;\n}\n";

// ps_1_x refuses it with its own size limit, not with the work bound that
// its folds and co-issue pairing used to reach after 10 to 30 s (ps_1_1 and
// ps_1_4 in CI, every 1.x profile in long mode).
TEST(GxlOptimizerGrowth, Ps1xRefusesAProgramPastItsSizeWithItsLimit) {
  const std::vector<const char*> profiles = nura::test::LongMode()
                                               ? std::vector<const char*>{"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4"}
                                               : std::vector<const char*>{"ps_1_1", "ps_1_4"};
  for (const char* profile : profiles) {
    for (const DWORD flags : {0u, 0x4u}) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kLongConstantLoop, "main", profile, flags);
      EXPECT_TRUE(FAILED(c.hr));
      EXPECT_TRUE(c.Logged(std::string("error X4500: program is order of magnitude too large to compile to ") + profile))
          << c.log;
      EXPECT_FALSE(c.Logged("work bound")) << c.log;
    }
  }
}

// Five loops deep over a uniform count: the compile keeps the innermost loop's
// 255 possible passes, each tested against the count, and the arithmetic pass
// tightened that chain of tests one link a round, so the rounds never
// settled: they spent the whole compile's work and ended at the work bound.
// Once in their long tail the pass reads the chain whole and they settle.
constexpr char kTightenedChain[] =
    "float n0;\n"
    "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
    "  pos = p;\n"
    "  float3 r = 0;\n"
    "  for (int i = 0; i < n0; i++)\n"
    "    for (int j = i; j < n0; j++)\n"
    "      for (int k = i; k < 2; k++)\n"
    "        for (int l = 0; l < k + 1; l++)\n"
    "          for (int m = 0; n0 > m; m++)\n"
    "            r += float3(7, 4, -3) - (m ? n0 : -1.0);\n"
    "  o0 = float4(r, 1);\n"
    "}\n";

// The loops above, run on the count.
nura::shtok::Float4 TightenedChainValue(double n0) {
  double r[3] = {0, 0, 0};
  const double row[3] = {7, 4, -3};
  for (int i = 0; i < n0; i++)
    for (int j = i; j < n0; j++)
      for (int k = i; k < 2; k++)
        for (int l = 0; l < k + 1; l++)
          for (int m = 0; n0 > m; m++)
            for (int c = 0; c < 3; ++c) r[c] += row[c] - (m ? n0 : -1.0);
  return nura::shtok::Float4(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]), 1);
}

TEST(GxlOptimizerGrowth, ChainOfPassTestsSettlesAndComputesItsValue) {
  // Each optimised compile takes a second or so: one count and profile in CI.
  const bool isLong = nura::test::LongMode();
  for (const char* profile : isLong ? std::vector<const char*>{"vs_3_0", "vs_3_sw"} : std::vector<const char*>{"vs_3_0"})
    for (const DWORD flags : shadertest::kBoth) {
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(kTightenedChain, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << profile << " flags " << flags << "\n" << c.log;
      EXPECT_FALSE(c.Logged("did not converge")) << c.log;
      for (const double n0 : isLong ? std::vector<double>{3.0, 1.5, 0.0} : std::vector<double>{3.0}) {
        SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags) + " n0 " + std::to_string(n0));
        nura::shtok::Float4 got;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(c, {{"n0", {n0}}}, {}, {shadertest::kTexCoord, 0}, &got, &error)) << error;
        const nura::shtok::Float4 want = TightenedChainValue(n0);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-5 * (1 + std::fabs(want[i]))) << i;
      }
    }
}

// The generated program the chain above was reduced from (the flow
// differential's nest shapes, vertex seed 6100: 43 statements), against the
// generator's own values; its rounds settle too.
TEST(GxlOptimizerGrowth, GeneratedNestSettlesAndComputesItsValue) {
  const std::uint64_t seed = 6100;
  const hlslgen::Generator g(seed, shadertest::NestShapes(seed, true));
  const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, true, seed);
  for (const char* profile : nura::test::LongMode() ? std::vector<const char*>{"vs_3_0", "vs_3_sw"}
                                                    : std::vector<const char*>{"vs_3_sw"}) {
    SCOPED_TRACE(profile);
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(p.source, "main", profile, 0);
    ASSERT_EQ(c.hr, S_OK) << c.log;
    EXPECT_FALSE(c.Logged("did not converge")) << c.log;
    std::vector<float> got;
    std::string error;
    ASSERT_TRUE(shadertest::RunGeneratedProgram(c, g, p, &got, &error)) << error;
    EXPECT_TRUE(shadertest::Matches(got, g.Result(), g.FloatRange(), g.ResultError()));
  }
}

}  // namespace
