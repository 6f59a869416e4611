// A long block with branches whose scheduling search used to grow with the
// square of its length (ps_3_0, a mutation of the corpus's ntsc filter):
// it compiles and validates at ps_3_0, and the optimised code, whose
// search stops at its bound, computes what the unoptimised code computes.
// Pairing's trial assignments after it stay in proportion to the program.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "flow_lane.h"
#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/data_buffer.h"
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

// Pairing as the compile hands it the long block (before slot 5): its trial
// assignments, and the instructions.
struct PairingSeen {
  std::uint32_t trials = 0, count = 0;
  HRESULT status = E_FAIL;
};
PairingSeen* g_pairing = nullptr;

HRESULT PairBeforeSlot5(gxl::shader::ShaderProgram& p, std::uint32_t step, HRESULT status) {
  if (step != 13 || FAILED(status)) return status;
  gxl::shader::InstructionPairing pairing(p);
  g_pairing->status = pairing.Run();
  g_pairing->trials = pairing.Trials();
  g_pairing->count = p.instructions.Count();
  return E_ABORT;  // the rest of the compile is the test above's
}

TEST(GxlCompilerMend, SchedulerLongBlockPairingTrialsInProportion) {
  PairingSeen seen;
  g_pairing = &seen;
  gxl::shader::ShaderPreprocessor pp;
  gxl::shader::ShaderCompiler compiler;
  compiler.secondPhaseStepHook = PairBeforeSlot5;
  const std::string text = kSchedulerLongBlock;
  DataBuffer* code = nullptr;
  ConstantTable* table = nullptr;
  ASSERT_EQ(pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr), S_OK);
  EXPECT_TRUE(FAILED(compiler.CompileSource(&pp, nullptr, "ps_main", 0, "ps_3_0", 0x100, &code, &table)));
  g_pairing = nullptr;
  if (code) code->Release();
  if (table) table->Release();
  ASSERT_EQ(seen.status, S_OK);
  // The block would take hundreds of trials; it stops at 128, a whole
  // assignment's walk over the program each.
  EXPECT_GT(seen.count, 1000u);
  EXPECT_EQ(seen.trials, 128u) << seen.count << " instructions";
}

}  // namespace
