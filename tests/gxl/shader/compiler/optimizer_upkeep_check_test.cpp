// The optimiser's incremental rounds (RoundUpkeep) on the flow and nest
// generator's programs, with its check switch: every pass it runs
// incrementally is also run in full on a copy and the two programs compared,
// and the compile ends in the code, messages and status of the compile whose
// rounds run every pass in full. The programs hold branches, loops kept or
// unrolled, breaks and guards, so the upkeep serves programs with blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "generated_program.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/test_util.h"
#include "upkeep_run.h"

namespace {

using shadertest::kUpkeepNever;
using shadertest::UpkeepRun;

struct Family {
  const char* name;
  // Programs of the share, in CI and in long mode.
  std::uint32_t share, full;
  std::string (*source)(std::uint64_t seed, bool vertex);
};

const Family kFamilies[] = {
    {"digest", 24, 400,
     [](std::uint64_t seed, bool vertex) {
       return hlslgen::Generator(0xD16E0000u + seed, hlslgen::DigestShapes(seed, !vertex)).UniformProgram(!vertex);
     }},
    {"later shapes", 8, 120,
     [](std::uint64_t seed, bool vertex) {
       const hlslgen::Generator g(seed, shadertest::LaterShapes(seed, vertex));
       return shadertest::MakeGeneratedProgram(g, vertex, seed).source;
     }},
    {"nest shapes", 6, 90,
     [](std::uint64_t seed, bool vertex) {
       const hlslgen::Generator g(seed, shadertest::NestShapes(seed, vertex));
       return shadertest::MakeGeneratedProgram(g, vertex, seed).source;
     }},
};

// Profiles that unroll every loop and profiles that keep them.
const char* const kVertexProfiles[] = {"vs_2_0", "vs_2_a", "vs_3_0"};
const char* const kPixelProfiles[] = {"ps_2_0", "ps_2_b", "ps_3_0"};

TEST(GxlOptimizerUpkeep, GeneratedProgramsGiveTheFullPassesCodePassByPass) {
  const bool isLong = nura::test::LongMode();
  std::uint64_t passes = 0;
  for (const Family& family : kFamilies) {
    const std::uint32_t programs = isLong ? family.full : family.share;
    for (std::uint32_t k = 0; k < programs; ++k) {
      // The share spreads over the seeds of the long run.
      const std::uint32_t stride = family.full / family.share;
      const std::uint64_t seed = isLong ? k : k * stride + 115 % stride;
      const bool vertex = seed % 2 == 0;
      const std::string text = family.source(seed, vertex);
      const char* const* profiles = vertex ? kVertexProfiles : kPixelProfiles;
      for (std::size_t i = 0; i < std::size(kVertexProfiles); ++i) {
        if (!isLong && i != (k + seed) % std::size(kVertexProfiles)) continue;
        SCOPED_TRACE(std::string(family.name) + " seed " + std::to_string(seed) + " " + profiles[i] + "\n" + text);
        const UpkeepRun full(text, profiles[i], 0, kUpkeepNever, false);
        const UpkeepRun kept(text, profiles[i], 0, 0, true);
        EXPECT_EQ(kept.mismatches, 0u);
        EXPECT_EQ(kept.hr, full.hr);
        EXPECT_EQ(kept.log, full.log);
        EXPECT_TRUE(kept.code == full.code);
        passes += kept.passes;
      }
    }
  }
  std::printf("passes run incrementally: %llu\n", static_cast<unsigned long long>(passes));
}

}  // namespace
