// One lane of compiled HLSL run in the token kit's interpreter, and the
// check the flow-control tests make of it: compile for each profile and
// option, validate (the compile does), decode, place the uniforms where the
// constant table says, run, and compare one output with the value the HLSL
// source computes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "place_constants.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace shadertest {

// A float as an HLSL literal that reads back as the same float.
inline std::string Num(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", x);
  return text;
}

// Inputs by declared usage and index (usage << 8 | index).
using LaneInputs = std::map<int, nura::shtok::Float4>;
constexpr int In(int usage, int index = 0) { return usage << 8 | index; }

// The output a program writes: COLOR0 for pixel code, else the vertex
// output of this usage and index.
struct LaneOutput {
  int usage = nura::shtok::kUsageColor;
  int index = 0;
};

// Runs one lane of compiled code and reads `out`; false with the reason.
inline bool RunLane(const CompiledHlsl& c, const Uniforms& uniforms, const LaneInputs& inputs, LaneOutput out,
                    nura::shtok::Float4* value, std::string* error, const nura::shtok::Sampler& sampler = nullptr) {
  using nura::shtok::Declaration;
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  if (!PlaceConstants(c.table.Get(), uniforms, interp, error)) return false;
  if (sampler) interp.SetSampler(sampler);
  nura::shtok::Lane lane;
  for (const Declaration& d : interp.Declarations()) {
    const auto given = inputs.find(In(d.usage, d.usageIndex));
    if (nura::shtok::Float4* slot = !d.output && d.usage >= 0 ? nura::shtok::DeclaredSlot(lane, d) : nullptr)
      *slot = given != inputs.end() ? given->second : nura::shtok::Float4();
  }
  if (!interp.Run(&lane, 1, error)) return false;
  const bool pixel = (c.code[0] & 0xFFFF0000) == 0xFFFF0000;
  if (pixel) {
    *value = lane.oC[out.index];
    return true;
  }
  if (const Declaration* d = interp.FindDeclaration(out.usage, out.index, true)) {
    *value = lane.o[d->number];
    return true;
  }
  // Before shader model 3 vertex outputs are undeclared.
  if (out.usage == nura::shtok::kUsagePosition) *value = lane.oPos;
  else if (out.usage == nura::shtok::kUsageTexCoord) *value = lane.o[out.index];
  else return *error = "no such output", false;
  return true;
}

// What the flow tests compile with: optimised, and with option 0x4.
inline const std::vector<DWORD> kBoth = {0u, 0x4u};
// The vertex profiles from 2.0 on, and those that keep a loop as a loop.
inline const std::vector<const char*> kVertex2Up = {"vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
inline const std::vector<const char*> kVertexLoops = {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
constexpr int kTexCoord = nura::shtok::kUsageTexCoord;

struct FlowProgram {
  const char* name;
  std::string source;
  std::vector<const char*> profiles;
  std::vector<DWORD> flags;
  Uniforms uniforms;
  LaneInputs inputs;
  LaneOutput output;
  nura::shtok::Float4 expected;
};

// Compiles `p` for each of its profiles and options and checks the value.
inline void CheckFlowProgram(const FlowProgram& p, const nura::shtok::Sampler& sampler = nullptr) {
  for (const char* profile : p.profiles)
    for (const DWORD flags : p.flags) {
      SCOPED_TRACE(std::string(p.name) + " " + profile + " flags " + std::to_string(flags));
      const CompiledHlsl c = CompileHlsl(p.source, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      ASSERT_EQ(c.text.rfind("undecodable", 0), std::string::npos) << c.text;
      nura::shtok::Float4 got;
      std::string error;
      ASSERT_TRUE(RunLane(c, p.uniforms, p.inputs, p.output, &got, &error, sampler)) << error << "\n" << c.text;
      for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], p.expected[i], 1e-5 * (1 + std::fabs(p.expected[i]))) << "[" << i << "]\n" << c.text;
    }
}

}  // namespace shadertest
