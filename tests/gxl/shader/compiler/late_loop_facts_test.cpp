// What a long loop's first passes show and its later ones change. A loop
// whose simulation settles (or that is covered where the simulation meets
// the bound) keeps only the facts its later passes leave: a symbol that is
// a whole number through the first passes and then takes halves must not
// have frac() of it folded to 0, and a condition known to hold through the
// first passes and unknown later leaves the trip count unknown, so the loop
// stays a loop instead of an unrolling of its 100 passes. Each program is
// compiled as shipped (the simulation settles), with the lowering's bound
// cut (the loop is covered), and under the reference switch, whose checks
// of settled and covered simulations and of kept inner ones must agree.
#include <gtest/gtest.h>

#include <algorithm>
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
using shadertest::kTexCoord;
using shadertest::LoopCompile;
using shadertest::LoopCompileOptions;
using V4 = std::array<float, 4>;

using Pairs = shadertest::LoopPairs;
using shadertest::RunLoopPairs;

Pairs MakePairs(int pairs) { return shadertest::MakeLoopPairs(0, pairs); }

const V4 kA = {0.5f, -0.75f, 1.25f, 0.125f}, kB = {0.25f, -0.5f, 0.75f, -1}, kC = {0.125f, -0.25f, 0.0625f, 0.375f};

// The ways each program is compiled: as shipped, with the bound cut, and
// under the reference switch both ways; what each must have done.
enum class Way { kSettled, kCovered };
constexpr std::uint64_t kCutBound = 20000;

LoopCompile Compile(const std::string& source, const char* profile, DWORD flags, Way way, bool reference) {
  LoopCompileOptions o;
  if (way == Way::kCovered) o.builds = kCutBound;
  o.reference = reference;
  o.checkMemos = reference ? 1 : 0;
  return shadertest::CompileLoops(source, profile, flags, o);
}

// The body's pairs each way: long enough for the simulation to settle, and
// short enough for it not to, so that it meets the cut bound (the 100
// passes of the bounded loop over twice as many as the 255 of the other).
const Pairs& PairsFor(Way way, int settling) {
  static const Pairs fraction = MakePairs(75), bound = MakePairs(100), fractionShort = MakePairs(12),
                     boundShort = MakePairs(24);
  if (way == Way::kCovered) return settling == 75 ? fractionShort : boundShort;
  return settling == 75 ? fraction : bound;
}

// A program of the body's pairs (vertex or pixel), and its value at n.
struct Case {
  std::string (*source)(const Pairs& body, bool pixel);
  Float4 (*value)(const Pairs& body, int n);
  int settlingPairs;
};

// Compiles the case each way and runs it at each n.
void CheckEachWay(const Case& k, const std::vector<int>& counts, const std::vector<Way>& ways) {
  for (const Way way : ways)
    for (const bool pixel : {false, true})
      for (const DWORD flags : shadertest::kBoth) {
        const char* profile = pixel ? "ps_3_0" : "vs_3_0";
        const Pairs& body = PairsFor(way, k.settlingPairs);
        const std::string source = k.source(body, pixel);
        SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags) +
                     (way == Way::kCovered ? " covered" : " settled"));
        const LoopCompile r = Compile(source, profile, flags, way, false);
        ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
        EXPECT_GT(way == Way::kCovered ? r.covered : r.settled, 0u);
        EXPECT_TRUE(shadertest::HasLoop(r.c)) << r.c.text;
        // One loop body, not an unrolling of its passes.
        EXPECT_LT(std::count(r.c.text.begin(), r.c.text.end(), '\n'), 1500) << r.c.text;
        for (const int n : counts) {
          const Float4 want = k.value(body, n);
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLane(r.c, {{"n", {double(n)}}, {"c", {kC.begin(), kC.end()}}},
                                          {{In(kTexCoord, 0), Float4(kA[0], kA[1], kA[2], kA[3])},
                                           {In(kTexCoord, 1), Float4(kB[0], kB[1], kB[2], kB[3])}},
                                          pixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{kTexCoord, 0},
                                          &got, &error))
              << error;
          for (int e = 0; e < 4; ++e)
            EXPECT_NEAR(got[e], want[e], 1e-4 * (1 + std::fabs(want[e]))) << "n " << n << " [" << e << "]";
        }
        // The reference switch: the same code, and every check agrees.
        const LoopCompile checked = Compile(source, profile, flags, way, true);
        EXPECT_TRUE(checked.c.code == r.c.code) << checked.c.log;
        EXPECT_EQ(checked.settleMismatches, 0u);
        EXPECT_EQ(checked.coverMismatches, 0u);
        EXPECT_EQ(checked.memoMismatches, 0u);
        EXPECT_GT(way == Way::kCovered ? checked.coverChecks : checked.settleChecks, 0u);
      }
}

std::string Program(const std::string& head, const std::string& loop, const std::string& out, bool pixel) {
  const std::string uniforms = "int n; float4 c;\n";
  return pixel ? uniforms + "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR0 {\n" + head + loop +
                     "  return " + out + ";\n}\n"
               : uniforms +
                     "void main(float4 a : TEXCOORD0, float4 b : TEXCOORD1, out float4 p : POSITION, "
                     "out float4 o : TEXCOORD0) {\n" +
                     head + loop + "  p = a; o = " + out + ";\n}\n";
}

// x is 1, 2, 3, ... through the first five passes and grows by halves
// after; the condition reads a too where `flagged`.
template <bool flagged>
Float4 FractionValues(const Pairs& body, int n) {
  V4 a = kA, b = kB;
  float x = 0;
  for (int i = 0; i < n && (!flagged || a[0] < 1000); ++i) {
    x += i >= 5 ? 0.5f : 1;
    RunLoopPairs(body, i, a, b, kC);
  }
  return Float4(x - std::floor(x), x, a[0] + b[0], a[3]);
}

template <bool flagged>
std::string FractionProgram(const Pairs& body, bool pixel) {
  return Program("  float x = 0;\n",
                 std::string("  for (int i = 0; i < n") + (flagged ? " && a.x < 1000" : "") +
                     "; i++) {\n  x += (i >= 5) ? 0.5 : 1;\n" + body.text + "  }\n",
                 "float4(frac(x), x, a.x + b.x, a.w)", pixel);
}

TEST(GxlCompilerMend, FactsALongLoopLosesAfterItsFirstPassesAreNotKept) {
  const std::vector<int> counts = {6, 0, 3, 5, 8, 40};
  // The condition and step decide the trip count: settled, or covered from
  // the first pass on.
  CheckEachWay({FractionProgram<false>, FractionValues<false>, 75}, counts, {Way::kSettled, Way::kCovered});
  // The condition reads what the body writes: covered with a break.
  CheckEachWay({FractionProgram<true>, FractionValues<true>, 75}, counts, {Way::kCovered});
}

// i < m holds through the first ten passes (m = max(n, 10)), then depends on n.
Float4 BoundValues(const Pairs& body, int n) {
  V4 a = kA, b = kB;
  const int m = std::max(n, 10);
  for (int i = 0; i < m && i < 100; ++i) RunLoopPairs(body, i, a, b, kC);
  return Float4(a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]);
}

std::string BoundProgram(const Pairs& body, bool pixel) {
  return Program("  int m = max(n, 10);\n", "  for (int i = 0; i < m && i < 100; i++) {\n" + body.text + "  }\n",
                 "a + b", pixel);
}

TEST(GxlCompilerMend, ConditionUnknownAfterTheFirstPassesKeepsTheLoop) {
  CheckEachWay({BoundProgram, BoundValues, 100}, {0, 50, 150, 9, 11, 100}, {Way::kSettled, Way::kCovered});
}

}  // namespace
