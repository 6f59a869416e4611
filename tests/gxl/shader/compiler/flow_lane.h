// One lane of compiled code run in the token kit's interpreter: uniforms
// placed where the constant table says, inputs by declared usage, and one
// output read back.
#pragma once

#include <map>
#include <string>

#include "place_constants.h"
#include "tests/gxl/shader/compiled_hlsl.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace shadertest {

// Inputs by declared usage and index (usage << 8 | index).
using Inputs = std::map<int, nura::shtok::Float4>;
constexpr int In(int usage, int index = 0) { return usage << 8 | index; }

// The output a program writes: COLOR0 for pixel code, else the vertex
// output of this usage and index.
struct Output {
  int usage = nura::shtok::kUsageColor;
  int index = 0;
};

// Runs one lane of compiled code and reads `out`; false with the reason.
inline bool RunLane(const CompiledHlsl& c, const Uniforms& uniforms, const Inputs& inputs, Output out,
                    nura::shtok::Float4* value, std::string* error, const nura::shtok::Sampler& sampler = nullptr) {
  nura::shtok::Interpreter interp;
  if (!interp.Load(c.code.data(), c.code.size(), error)) return false;
  if (!PlaceConstants(c.table.Get(), uniforms, interp, error)) return false;
  if (sampler) interp.SetSampler(sampler);
  nura::shtok::Lane lane;
  for (const nura::shtok::Declaration& d : interp.Declarations()) {
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
  if (const nura::shtok::Declaration* d = interp.FindDeclaration(out.usage, out.index, true)) {
    *value = lane.o[d->number];
    return true;
  }
  // Before shader model 3 vertex outputs are undeclared.
  if (out.usage == nura::shtok::kUsagePosition) *value = lane.oPos;
  else if (out.usage == nura::shtok::kUsageTexCoord) *value = lane.o[out.index];
  else return *error = "no such output", false;
  return true;
}

}  // namespace shadertest
