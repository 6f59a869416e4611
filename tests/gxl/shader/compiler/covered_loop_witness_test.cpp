// Programs each of which once let a one-line fault of the loop lowering
// through every test: a covering pass that returns, a condition that moves
// what it tests, a start value without a fact the later passes have, a
// loop test reading past its array, and a warning said once when the
// compile starts over to unroll. The covered ones are compiled with the
// lowering's bound cut, as the covered-loop tests do, over the same body
// of twelve pairs, and run in the interpreter against the loops run here.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "loop_bound_compile.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kBoth;
using shadertest::kTexCoord;
using shadertest::LoopCompile;
using shadertest::LoopCompileOptions;
using V4 = std::array<float, 4>;

// The bound of the covered-loop tests: a loop of 255 passes over the body
// meets it.
constexpr std::uint64_t kCutBound = 20000;

// The body over the counter `counter`.
shadertest::LoopPairs Body(std::uint32_t seed, const std::string& counter) {
  shadertest::LoopPairs b = shadertest::MakeLoopPairs(seed, 12);
  for (std::size_t at = 0; (at = b.text.find("(float)i", at)) != std::string::npos; at += 7)
    b.text.replace(at, 8, "(float)" + counter);
  return b;
}

std::string Program(const std::string& code, bool pixel) {
  return std::string("int n; int m; float4 c;\nfloat4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : ") +
         (pixel ? "COLOR0" : "POSITION") + " {\n" + code + "}\n";
}

const V4 kC = {0.125f, -0.25f, 0.0625f, 0.375f};

struct Inputs {
  int n, m;
  V4 a, b;
};

Float4 Run(const shadertest::CompiledHlsl& c, const Inputs& in, bool pixel) {
  Float4 got;
  std::string error;
  EXPECT_TRUE(shadertest::RunLane(
      c, {{"n", {double(in.n)}}, {"m", {double(in.m)}}, {"c", {kC.begin(), kC.end()}}},
      {{In(kTexCoord, 0), Float4(in.a[0], in.a[1], in.a[2], in.a[3])},
       {In(kTexCoord, 1), Float4(in.b[0], in.b[1], in.b[2], in.b[3])}},
      pixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{nura::shtok::kUsagePosition, 0}, &got, &error))
      << error;
  return got;
}

// Compiles `code` at ps_3_0 and vs_3_0 both ways with the bound cut, and
// compares each run with `expected`.
template <typename Expected>
void CheckCovered(const std::string& code, const std::vector<Inputs>& inputs, Expected expected) {
  for (const bool pixel : {true, false})
    for (const DWORD flags : kBoth) {
      const char* profile = pixel ? "ps_3_0" : "vs_3_0";
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      LoopCompileOptions o;
      o.builds = kCutBound;
      const LoopCompile r = shadertest::CompileLoops(Program(code, pixel), profile, flags, o);
      ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
      EXPECT_GT(r.covered, 0u) << "no loop met the cut bound";
      for (const Inputs& in : inputs) {
        const V4 want = expected(in);
        const Float4 got = Run(r.c, in, pixel);
        for (int e = 0; e < 4; ++e)
          EXPECT_NEAR(got[e], want[e], 1e-4 * (1 + std::fabs(want[e])))
              << "n " << in.n << " m " << in.m << " [" << e << "]\n"
              << r.c.text;
      }
    }
}

const V4 kA = {0.5f, -0.75f, 1.25f, 0.125f}, kB = {0.25f, -0.5f, 0.75f, -1};

V4 Sum(const V4& a, const V4& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]}; }

// Loops whose pass ends in a return on either arm: a covering pass cannot
// stand for them. A do loop around a loop of uniform length (its first pass
// returns); and three loops of three passes, the return in the first pass
// of the innermost after a nest of uniform length over a loop below the
// four levels kept: that unrolling passes its share, the loop of three
// around it is covered and its covering pass returns. Taken as covered, the
// return is lost and the compile meets the work bound.
TEST(GxlCoveredLoopWitness, LoopThatReturnsInItsPassKeepsTheReturn) {
  const shadertest::LoopPairs body = Body(3, "j");
  const struct {
    const char* name;
    std::string code;
    int passes;  // of the loop over the body, per pass of the loop of m
  } kShapes[] = {
      {"do loop", "int i = 0;\ndo {\n  for (int j = 0; j < m; j++) {\n" + body.text +
                      "  }\n  if (a.x > 0) return a * 2; else return b;\n} while (i < n);\nreturn a + b;\n",
       1},
      {"loops of three around a nest",
       "for (int k1 = 0; k1 < 3; k1++) for (int k2 = 0; k2 < 3; k2++) for (int k3 = 0; k3 < 3; k3++) {\n"
       "  for (int k = 0; k < m; k++) for (int j = 0; j < 6; j++) {\n" +
           body.text + "  }\n  if (a.x > 0) return a * 2; else return b;\n}\nreturn a + b;\n",
       6},
  };
  for (const auto& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    std::vector<Inputs> inputs;
    for (const int m : {0, 1, 3, 7})
      for (const V4& a : {kA, V4{-4, 1, 0.5f, 2}}) inputs.push_back({2, m, a, kB});
    CheckCovered(shape.code, inputs, [&](const Inputs& in) {
      V4 a = in.a, b = in.b;
      for (int k = 0; k < in.m; ++k)
        for (int j = 0; j < shape.passes; ++j) shadertest::RunLoopPairs(body, shape.passes == 1 ? k : j, a, b, kC);
      return a[0] > 0 ? V4{a[0] * 2, a[1] * 2, a[2] * 2, a[3] * 2} : b;
    });
  }
}

// The condition moves x at every test, the last one included: after the
// loop x is 1, whatever the body set it to.
TEST(GxlCoveredLoopWitness, ExitFactsHoldWhatTheConditionMoves) {
  const shadertest::LoopPairs body = Body(5, "i");
  const std::string code = "float x = 0;\nfor (int i = 0; x++ < 1000 && i < n; i++) {\n" + body.text +
                           "  x = 0;\n}\nreturn a + b + (x > 0.5 ? 10 : 0);\n";
  std::vector<Inputs> inputs;
  for (const int n : {0, 1, 3, 12}) inputs.push_back({n, 0, kA, kB});
  CheckCovered(code, inputs, [&](const Inputs& in) {
    V4 a = in.a, b = in.b;
    float x = 0;
    for (int i = 0; x++ < 1000 && i < in.n; ++i) {
      shadertest::RunLoopPairs(body, i, a, b, kC);
      x = 0;
    }
    const V4 s = Sum(a, b);
    const float k = x > 0.5f ? 10.0f : 0.0f;
    return V4{s[0] + k, s[1] + k, s[2] + k, s[3] + k};
  });
}

// x starts at 0.5 and every pass leaves it a whole number: frac(x) is 0.5
// in the first pass, so it cannot fold to 0.
TEST(GxlCoveredLoopWitness, StartValueWithoutTheFactsOfLaterPasses) {
  const shadertest::LoopPairs body = Body(6, "i");
  const std::string code = "float x = 0.5;\nfor (int i = 0; i < n && a.x < 40; i++) {\n" + body.text +
                           "  a.y += frac(x);\n  x = floor(x * 2 + 1);\n}\nreturn a + b;\n";
  std::vector<Inputs> inputs;
  for (const int n : {0, 1, 2, 5}) inputs.push_back({n, 0, kA, kB});
  CheckCovered(code, inputs, [&](const Inputs& in) {
    V4 a = in.a, b = in.b;
    float x = 0.5f;
    for (int i = 0; i < in.n && a[0] < 40; ++i) {
      shadertest::RunLoopPairs(body, i, a, b, kC);
      a[1] += x - std::floor(x);
      x = std::floor(x * 2 + 1);
    }
    return Sum(a, b);
  });
}

// The integer constant that counts the passes of the code's one loop
// (`rep iN` or `loop aL, iN`), or -1.
int LoopCount(const shadertest::CompiledHlsl& c) {
  std::vector<std::string> counts;
  for (const std::string& l : c.Lines("rep ")) counts.push_back(l.substr(4));
  for (const std::string& l : c.Lines("loop aL, ")) counts.push_back(l.substr(9));
  if (counts.size() != 1) return -1;
  const std::string def = "defi " + counts[0] + ", ";
  for (const std::string& d : c.Lines(def)) return std::stoi(d.substr(def.size()));
  return -1;
}

// The test at i0 = 7 reads v6[7], past the array, and i0 < 7 beside the read
// fails there: the loop runs 7 passes at most, its count the integer
// constant of its loop, not the iteration limit with a break.
TEST(GxlCoveredLoopWitness, LoopTestReadingPastItsArrayCountsItsBound) {
  const std::string uniforms = "uniform float4 v6[7];\nuniform int v3;\n";
  const std::string loop =
      "  int r = 0;\n"
      "  for (int i0 = 0; ((i0 < 7) && ((v6[i0]).z < ((float)i0))); i0++) {\n"
      "    r -= (v3 + i0);\n"
      "  }\n";
  // v6[k].z = k - 1 lets every pass go on, but v6[4].z = 9 ends it after four.
  for (const bool early : {false, true}) {
    std::vector<double> v6(28, 0);
    for (int k = 0; k < 7; ++k) v6[4 * k + 2] = k - 1;
    if (early) v6[4 * 4 + 2] = 9;
    int r = 0;
    for (int i0 = 0; i0 < 7 && v6[4 * i0 + 2] < i0; ++i0) r -= 2 + i0;
    for (const bool pixel : {true, false}) {
      const std::string source =
          uniforms + (pixel ? "float4 main() : COLOR0 {\n" : "float4 main(float4 p : POSITION) : POSITION {\n") + loop +
          "  return float4(r, 0.5, 0, 1);\n}\n";
      for (const char* profile : pixel ? std::vector<const char*>{"ps_3_0", "ps_3_sw"}
                                       : std::vector<const char*>{"vs_2_a", "vs_3_0", "vs_3_sw"})
        for (const DWORD flags : kBoth) {
          SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
          const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
          ASSERT_EQ(c.hr, S_OK) << c.log;
          EXPECT_EQ(LoopCount(c), 7) << c.text;
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLane(
              c, {{"v6", v6}, {"v3", {2}}}, {},
              pixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{nura::shtok::kUsagePosition, 0}, &got, &error))
              << error;
          EXPECT_EQ(got[0], float(r)) << c.text;
        }
    }
  }
}

// Twenty loops that vs_2_0 keeps as rep blocks, four too many: the compile
// starts over with four unrolled. A warning to be said once is said once,
// not kept back by the try before.
TEST(GxlCoveredLoopWitness, WarningSaidOnceSurvivesTheUnrollingRetry) {
  std::string source = "#pragma warning(once: 4705)\nfloat4 main(float4 p : DIFFUSE) : POSITION {\n  float r = p.x;\n";
  for (int k = 0; k < 20; ++k) {
    const std::string i = "i" + std::to_string(k);
    source +=
        "  for (int " + i + " = 0; " + i + " < 2; " + i + "++) r = 1.0 / (r * r + " + std::to_string(k + 1) + ".5);\n";
  }
  source += "  return float4(r, r, r, p.w);\n}\n";
  const std::string warning = "warning X4705: input semantics 'DIFFUSE' has been deprecated; use 'Color0' instead";
  for (const DWORD flags : kBoth) {
    const shadertest::CompiledHlsl c = shadertest::CompileHlsl(source, "main", "vs_2_0", flags);
    ASSERT_EQ(c.hr, S_OK) << flags << "\n" << c.log;
    EXPECT_EQ(c.Lines("rep ").size(), 16u) << flags << "\n" << c.text;
    const std::size_t first = c.log.find(warning);
    EXPECT_NE(first, std::string::npos) << flags << "\n" << c.log;
    EXPECT_EQ(c.log.find(warning, first + 1), std::string::npos) << flags << "\n" << c.log;
  }
}

}  // namespace
