// The work of lowering a loop nest is bounded by the program's size and
// nest depth, never by its trip counts: nests whose trip counts grow while
// their text stays the same are compiled with the lowering's bound cut, and
// the instructions the lowering builds (those of simulations given up
// included) must not grow with the trip counts; the code, with inner loops
// covered where their cost sits, must compute what the source does. Endless
// unrollings are told once, and an attempt that fails inside a covering
// pass leaves that pass standing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dead_loop_nests.h"
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

// Endless unrollings told without building them to their limit, each way
// the watch of their passes has: the same state as at the last pass (here
// with a call in the slice, which no rehearsal of it may lower), and a state
// found endless before, met again in each attempt of the loops around it
// (the slice rehearsed once, not at each meeting). The work stays a small
// share of the budget; refused at the limit each time, it would not.
TEST(GxlLoopWork, EndlessUnrollingsAreToldOnce) {
  const struct {
    const char* name;
    const char* source;
    const char* profile;
    std::uint64_t share;  // of the budget, at most
  } kEndless[] = {
      {"a call in the slice, its state the same at each pass",
       "float f(float x) { return x * 0.5; }\n"
       "float4 main(float4 a : TEXCOORD0, float4 b : TEXCOORD1) : COLOR0 {\n"
       "  float x = 0;\n  while (x < 5) { x = f(x); a = a * 0.5 + b; }\n  return a;\n}\n",
       "ps_2_0", 1024},
      {"a counter that never ends it, in each attempt of four loops around",
       "int n;\nfloat4 main(float4 a : TEXCOORD0) : COLOR0 {\n"
       "  for (int i0 = 0; i0 < n; i0++)\n   for (int i1 = 0; i1 < n; i1++)\n    for (int i2 = 0; i2 < n; i2++)\n"
       "     for (int i3 = 0; i3 < n; i3++) {\n       int k = 0;\n       while (k >= 0) { k++; a.x += 1; }\n     }\n"
       "  return a;\n}\n",
       "ps_3_0", 16},
  };
  for (const auto& e : kEndless) {
    SCOPED_TRACE(e.name);
    const LoopCompile r = shadertest::CompileLoops(e.source, e.profile, 0);
    EXPECT_EQ(r.c.hr, E_FAIL);
    EXPECT_NE(r.c.log.find("error X3511"), std::string::npos) << r.c.log;
    EXPECT_LE(r.workSpent, r.workGranted / e.share);
  }
}

// Inside a covering pass the loop of four passes is first attempted as a
// kept loop, covered in one pass with its counter bare: its `return` then
// stands under a condition it cannot tell, and the attempt reports that
// returns differ (held) and fails. Unrolled, each pass knows x: nothing is
// reported, and the covering pass stands. What the failed attempt reported
// must not count there, or the covering pass fails, and the uniform loop
// around is unrolled to the iteration limit (refused, past the budget).
TEST(GxlLoopWork, AttemptFailedInsideACoveringPassReportsNothing) {
  const V4 a0 = {0.5f, -0.75f, 1.25f, 0.125f}, b0 = {0.25f, -0.5f, 0.75f, -1}, c = {0.125f, -0.25f, 0.0625f, 0.375f};
  const Body body = shadertest::MakeLoopPairs(4, 5);
  for (const int t : {16, 64}) {
    SCOPED_TRACE("trip count " + std::to_string(t));
    const std::string loops = "for (int k = 0; k < n; k++) {\n  for (int i = 0; i < " + std::to_string(t) +
                              "; i++) {\n" + body.text +
                              "  }\n  for (int j = 0; j < 4; j++) {\n    float x = j * 2;\n    if (x > 10) return a;\n"
                              "    a = a / (abs(a) + 2.0);\n  }\n}\n";
    LoopCompileOptions o;
    o.builds = kCutBound;
    const LoopCompile r =
        shadertest::CompileLoops(shadertest::LoopPairsProgram("int n; int m; float4 c;\n", loops, true), "ps_3_0", 0, o);
    ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
    EXPECT_GT(r.covered, 0u);
    EXPECT_LE(r.workSpent, r.workGranted / 16);
    for (const int n : {0, 1, 3}) {
      V4 a = a0, b = b0;
      for (int k = 0; k < n; ++k) {
        for (int i = 0; i < t; ++i) RunBody(body, i, a, b, c);
        for (int j = 0; j < 4; ++j)
          for (float& x : a) x = x / (std::fabs(x) + 2.0f);
      }
      Float4 got;
      std::string error;
      ASSERT_TRUE(shadertest::RunLoopPairsLane(r.c, true, n, 0, c, a0, b0, &got, &error)) << error;
      for (int e = 0; e < 4; ++e)
        EXPECT_NEAR(got[e], a[e] + b[e], 1e-4 * (1 + std::fabs(a[e] + b[e]))) << "n " << n << " [" << e << "]";
    }
  }
}

// A loop below the four levels ps_3_x keeps, unrolled in each pass of the
// simulations around it and reused from the entries met before: its sum
// decides the trip count of the loop around it (`s < 500`), so facts that
// did not hold for it would leave that loop the wrong passes.
TEST(GxlLoopWork, UnrollingReusedBelowTheKeptDepthComputesWhatTheSourceDoes) {
  const char* source =
      "int n;\nfloat4 main(float4 a : TEXCOORD0) : COLOR0 {\n  float s = 0;\n"
      "  for (int i0 = 0; i0 < n; i0++)\n   for (int i1 = 0; i1 < 2; i1++)\n    for (int i2 = 0; i2 < 2; i2++)\n"
      "     for (int i3 = 0; i3 < 3 && s < 500; i3++) {\n       float t = 0;\n"
      "       for (int i4 = 0; i4 < 2 * i0 + 40; i4++) t += a.y;\n       s += t;\n     }\n  return a + s;\n}\n";
  for (const char* profile : {"ps_3_0", "ps_3_sw"})
    for (const DWORD flags : shadertest::kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const LoopCompile r = shadertest::CompileLoops(source, profile, flags);
      ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
      EXPECT_GT(r.reused, 0u);
      EXPECT_LE(r.workSpent, r.workGranted / 4);
      for (const int n : {0, 1, 2, 5})
        for (const float y : {0.5f, 2.0f, -1.0f}) {
          float s = 0;
          for (int i0 = 0; i0 < n; ++i0)
            for (int i1 = 0; i1 < 2; ++i1)
              for (int i2 = 0; i2 < 2; ++i2)
                for (int i3 = 0; i3 < 3 && s < 500; ++i3) {
                  float t = 0;
                  for (int i4 = 0; i4 < 2 * i0 + 40; ++i4) t += y;
                  s += t;
                }
          const Float4 a(0.25f, y, -0.5f, 1);
          Float4 got;
          std::string error;
          ASSERT_TRUE(shadertest::RunLane(r.c, {{"n", {double(n)}}}, {{shadertest::In(shadertest::kTexCoord, 0), a}},
                                          shadertest::LaneOutput{}, &got, &error))
              << error;
          for (int e = 0; e < 4; ++e)
            EXPECT_NEAR(got[e], a[e] + s, 1e-4 * (1 + std::fabs(a[e] + s))) << "n " << n << " y " << y << " [" << e << "]";
        }
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

// A value handed through an inout argument at every pass of an unrolled
// nest, in a loop of uniform length the lowering simulates to its limit:
// its chain of moves grows with every pass, and the key of each unrolling
// describes it. Each link is walked once, not once a key (that took 78
// million steps and most of 20 s here).
TEST(GxlLoopWork, ChainsOfMovesAreWalkedOnce) {
  const std::string source = shadertest::kDeadNestWithCalls;
  const LoopCompile r = shadertest::CompileLoops(source, "vs_2_a", 0x4);
  ASSERT_EQ(r.c.hr, S_OK) << r.c.log;
  EXPECT_LE(r.moveChainSteps, r.built) << "instructions built " << r.built;
}

}  // namespace
