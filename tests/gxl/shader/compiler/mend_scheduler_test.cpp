// A long block with branches whose scheduling search used to grow with the
// square of its length (ps_3_0, a mutation of the corpus's ntsc filter):
// it compiles and validates at ps_3_0, and the optimised code, whose
// search stops at the per-instruction bound, computes what the unoptimised
// code computes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "flow_lane.h"
#include "scheduler_long_block.h"

namespace {

using nura::shtok::Float4;
using shadertest::kSchedulerLongBlock;

// A texture that varies in every channel across the coordinates.
Float4 Texel(const nura::shtok::SampleRequest& r) {
  const float u = r.coord[0], v = r.coord[1];
  return Float4(0.5f + 0.5f * std::sin(7 * u + 3 * v), 0.5f + 0.25f * std::cos(5 * u - 2 * v), u * v, 0.75f);
}

TEST(GxlCompilerMend, SchedulerLongBlockCompilesAndKeepsItsValue) {
  const shadertest::CompiledHlsl optimised = shadertest::CompileHlsl(kSchedulerLongBlock, "ps_main", "ps_3_0");
  ASSERT_EQ(optimised.hr, S_OK) << optimised.log;
  EXPECT_EQ(optimised.log.find("error"), std::string::npos) << optimised.log;
  const shadertest::CompiledHlsl plain = shadertest::CompileHlsl(kSchedulerLongBlock, "ps_main", "ps_3_0", 0x4);
  ASSERT_EQ(plain.hr, S_OK) << plain.log;
  // Small carrier constants keep the sines' arguments within a few turns,
  // where a different order of the same arithmetic changes little.
  const shadertest::Uniforms uniforms = {{"vbk", {256, 240}}, {"vbl", {1, 1}}, {"vaz", {0.25}}, {"ve", {1.5}}};
  for (const Float4& at : {Float4(0.25f, 0.5f, 0, 0), Float4(0.625f, 0.125f, 0, 0), Float4(0.9f, 0.8f, 0, 0)}) {
    const shadertest::LaneInputs inputs = {{shadertest::In(shadertest::kTexCoord), at}};
    Float4 got, want;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(optimised, uniforms, inputs, {}, &got, &error, Texel)) << error;
    ASSERT_TRUE(shadertest::RunLane(plain, uniforms, inputs, {}, &want, &error, Texel)) << error;
    // The colour sums 96 small terms: a few units in the last place of each.
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got[k], want[k], 1e-5 + 1e-4 * std::fabs(want[k])) << "component " << k << " at " << at[0] << ", "
                                                                       << at[1];
  }
}

}  // namespace
