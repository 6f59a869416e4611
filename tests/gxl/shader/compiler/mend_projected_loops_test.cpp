// Generated programs of a few statements (the flow differential's long mode,
// later shapes) that the work bound refused: uniform loops side by side, one
// of them a nest whose inner bound follows the outer counter, so that its
// exact simulation costs the square of the iteration limit. Waiting for the
// bound to stop that simulation spent most of it, and the loops after it
// found too little left (X4004). Decided by projection after a few passes,
// the costly loop is covered at once: the programs compile, and compute the
// generator's values, at a small part of the work budget; where the profile
// cannot hold the nest it names the loop instead.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "generated_program.h"
#include "loop_bound_compile.h"

namespace {

constexpr std::uint64_t kPixelSeeds = 1u << 24;
constexpr DWORD kNoOptimisation = 0x4;
constexpr char kIterationLimit[] = "error X3511";

struct Refused {
  std::uint64_t seed;
  std::vector<const char*> compiles;  // profiles that must give code, both ways
  std::vector<const char*> limits;    // profiles that must name a limit, both ways
};

const Refused kRefused[] = {
    // Three uniform loops, one a nest whose inner bound is twice the outer
    // counter (vs_2_a optimised: the nest's simulation ran to the bound, then
    // the optimiser's rounds spent the budget).
    {20425, {"vs_2_sw", "vs_3_0", "vs_3_sw"}, {"vs_2_a"}},
    // A nest of the same kind, then two more nests: the first one's
    // simulation left the last one too little (vs_3_0 and vs_3_sw, both ways).
    {25866, {"vs_2_sw", "vs_3_0", "vs_3_sw"}, {"vs_2_a"}},
};

TEST(GxlCompilerMend, ShortProgramsWithCostlyLoopsCompileByProjection) {
  for (const Refused& r : kRefused) {
    const bool vertex = r.seed < kPixelSeeds;
    const hlslgen::Generator g(r.seed, shadertest::LaterShapes(r.seed, vertex));
    const shadertest::GeneratedProgram p = shadertest::MakeGeneratedProgram(g, vertex, r.seed);
    ASSERT_LT(g.StatementCount(), 60u) << r.seed;
    auto compile = [&](const char* profile, DWORD flags) {
      SCOPED_TRACE("seed " + std::to_string(r.seed) + " " + profile + " flags " + std::to_string(flags));
      shadertest::LoopCompile c = shadertest::CompileLoops(p.source, profile, flags);
      EXPECT_EQ(c.c.log.find("X4004"), std::string::npos) << c.c.log;
      EXPECT_GT(c.projected, 0u);
      // A few passes of the costly loop, not most of the bound.
      EXPECT_LT(c.workSpent, c.workGranted / 8) << c.c.log;
      return c;
    };
    for (const char* profile : r.compiles)
      for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
        const shadertest::LoopCompile c = compile(profile, flags);
        ASSERT_EQ(c.c.hr, S_OK) << r.seed << " " << profile << " " << flags << "\n" << c.c.log << p.source;
        std::vector<float> got;
        std::string error;
        ASSERT_TRUE(shadertest::RunGeneratedProgram(c.c, g, p, &got, &error)) << error;
        EXPECT_TRUE(shadertest::Matches(got, g.Result(), g.FloatRange(), g.ResultError()))
            << r.seed << " " << profile << " " << flags << "\n" << c.c.text;
      }
    for (const char* profile : r.limits)
      for (const DWORD flags : {DWORD{0}, kNoOptimisation}) {
        const shadertest::LoopCompile c = compile(profile, flags);
        EXPECT_EQ(c.c.hr, E_FAIL) << r.seed << " " << profile << " " << flags;
        EXPECT_NE(c.c.log.find(kIterationLimit), std::string::npos) << c.c.log;
      }
  }
}

}  // namespace
