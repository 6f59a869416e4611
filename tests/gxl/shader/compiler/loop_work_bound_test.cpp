// The work of lowering a loop nest is bounded by the program's size and
// nest depth, never by its trip counts: nests whose trip counts grow while
// their text stays the same are compiled with the lowering's bound cut, and
// the instructions the lowering builds (those of simulations given up
// included) must not grow with the trip counts; the code, with inner loops
// covered where their cost sits, must compute what the source does.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "flow_lane.h"
#include "loop_bound_compile.h"

namespace {

using nura::shtok::Float4;
using shadertest::LoopCompile;
using shadertest::LoopCompileOptions;
using V4 = std::array<float, 4>;
using Body = shadertest::LoopPairs;

// As the covered-loop tests cut it: a loop of 255 passes over a body of
// some 70 instructions meets it.
constexpr std::uint64_t kCutBound = 20000;

// The body of the innermost loop reads the counter `i`; "T" in the text
// stands for the trip count that grows.
struct Nest {
  const char* name;
  const char* functions;
  const char* loops;
  void (*run)(const Body& body, int t, int n, int m, V4& a, V4& b, const V4& c);
};

void RunBody(const Body& body, int i, V4& a, V4& b, const V4& c) { shadertest::RunLoopPairs(body, i, a, b, c); }

const Nest kNests[] = {
    // The cost sits in a nest inside each pass of a loop of two passes.
    {"uniform triangle in a constant loop in a two-pass loop", "",
     "for (int w = 0; w < 2; w++) for (int i = 0; i < T; i++) for (int j = 0; j < n - i; j++) {\n@}\n",
     [](const Body& body, int t, int n, int, V4& a, V4& b, const V4& c) {
       for (int w = 0; w < 2; ++w)
         for (int i = 0; i < t; ++i)
           for (int j = 0; j < n - i; ++j) RunBody(body, i, a, b, c);
     }},
    // A covering pass of the outer loop meets the constant and uniform loops.
    {"constant and uniform loops in a uniform loop", "",
     "for (int k = 0; k < n; k++) for (int i = 0; i < T; i++) for (int j = 0; j < m; j++) {\n@}\n",
     [](const Body& body, int t, int n, int m, V4& a, V4& b, const V4& c) {
       for (int k = 0; k < n; ++k)
         for (int i = 0; i < t; ++i)
           for (int j = 0; j < m; ++j) RunBody(body, i, a, b, c);
     }},
    // A nest whose results nothing reads, in each pass (the division keeps
    // the constant loop a loop: one of cheap operations alone is unrolled).
    {"dead nest in a constant loop in a uniform loop", "",
     "for (int k = 0; k < n; k++) for (int i = 0; i < T; i++) {\n"
     "  for (int p = 0; p < n; p++) for (int q = 0; q < 4 * p; q++) { float d = q * 0.5; }\n"
     "  a = a / (abs(a) + 2.0);\n@}\n",
     [](const Body& body, int t, int n, int, V4& a, V4& b, const V4& c) {
       for (int k = 0; k < n; ++k)
         for (int i = 0; i < t; ++i) {
           for (float& x : a) x = x / (std::fabs(x) + 2.0f);
           RunBody(body, i, a, b, c);
         }
     }},
    // A call holding a uniform loop, in each pass.
    {"call holding a uniform loop", "float4 halve(float4 x, int i) {\n"
                                    "  for (int j = 0; j < n - i; j++) x = x * 0.5 + 0.25;\n  return x;\n}\n",
     "for (int k = 0; k < n; k++) for (int i = 0; i < T; i++) {\n  b = halve(b, i);\n@}\n",
     [](const Body& body, int t, int n, int, V4& a, V4& b, const V4& c) {
       for (int k = 0; k < n; ++k)
         for (int i = 0; i < t; ++i) {
           for (int j = 0; j < n - i; ++j)
             for (float& x : b) x = x * 0.5f + 0.25f;
           RunBody(body, i, a, b, c);
         }
     }},
};

std::string Program(const Nest& nest, const Body& body, int t, bool pixel) {
  std::string loops = nest.loops;
  loops.replace(loops.find('T'), 1, std::to_string(t));
  loops.replace(loops.find('@'), 1, body.text);
  const std::string head = std::string("int n; int m; float4 c;\n") + nest.functions;
  return shadertest::LoopPairsProgram(head, loops, pixel);
}

LoopCompile Compile(const Nest& nest, const Body& body, int t, bool pixel, DWORD flags) {
  LoopCompileOptions o;
  o.builds = kCutBound;
  return shadertest::CompileLoops(Program(nest, body, t, pixel), pixel ? "ps_3_0" : "vs_3_0", flags, o);
}

TEST(GxlLoopWork, LoweringWorkDoesNotGrowWithTripCounts) {
  const Body body = shadertest::MakeLoopPairs(5, 4);
  for (const Nest& nest : kNests)
    for (const bool pixel : {false, true}) {
      SCOPED_TRACE(std::string(nest.name) + (pixel ? " ps_3_0" : " vs_3_0"));
      std::uint64_t most = 0, at16 = 0;
      for (const int t : {4, 16, 64, 250}) {
        const LoopCompile r = Compile(nest, body, t, pixel, 0);
        ASSERT_EQ(r.c.hr, S_OK) << "trip count " << t << "\n" << r.c.log;
        // What a simulation may spend, what may be refunded of those given
        // up, and the covering passes: a few times the bound, whatever
        // the trip counts.
        EXPECT_LE(r.built, 4 * kCutBound) << "trip count " << t;
        if (t == 16) at16 = r.built;
        most = std::max(most, r.built);
      }
      // Past the trip count whose simulation meets the bound, the loops are
      // covered: the work stays where it was.
      EXPECT_LE(most, 2 * at16 + kCutBound) << "at 16 passes " << at16;
    }
}

TEST(GxlLoopWork, InnerLoopsCoveredWhereTheirCostSitsComputeWhatTheSourceDoes) {
  const V4 a0 = {0.5f, -0.75f, 1.25f, 0.125f}, b0 = {0.25f, -0.5f, 0.75f, -1}, c = {0.125f, -0.25f, 0.0625f, 0.375f};
  constexpr int kM = 3, kTrips = 3;
  std::uint32_t covered = 0;
  for (std::uint32_t s = 0; s < std::size(kNests); ++s) {
    const Nest& nest = kNests[s];
    const Body body = shadertest::MakeLoopPairs(s + 3, 12);
    for (const bool pixel : {false, true})
      for (const DWORD flags : shadertest::kBoth) {
        SCOPED_TRACE(std::string(nest.name) + (pixel ? " ps_3_0" : " vs_3_0") + " flags " + std::to_string(flags));
        const LoopCompile r = Compile(nest, body, kTrips, pixel, flags);
        ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
        covered += r.covered;
        for (const int n : {0, 1, 2, 5}) {
          V4 a = a0, b = b0;
          nest.run(body, kTrips, n, kM, a, b, c);
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLoopPairsLane(r.c, pixel, n, kM, c, a0, b0, &got, &error)) << error;
          for (int e = 0; e < 4; ++e)
            EXPECT_NEAR(got[e], a[e] + b[e], 1e-4 * (1 + std::fabs(a[e] + b[e]))) << "n " << n << " [" << e << "]";
        }
      }
  }
  // The cut bound makes the nests' loops covered (else nothing here is).
  EXPECT_GT(covered, 0u);
}

}  // namespace
