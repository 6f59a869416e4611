// The generator's procedural samplers behind the token kit's interpreter: the
// constant table maps the generator's sampler names (s0, s1, ...) to sampler
// registers, and each lookup returns that sampler's texel.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "gxl/shader/compiler/constant_table.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/shader/interp.h"

namespace hlslgen {

inline nura::shtok::Sampler ProceduralSampler(ConstantTable* table) {
  std::map<int, std::uint32_t> samplers;
  for (std::uint32_t k = 0; k < 8; ++k) {
    const INT index = table->SamplerIndex(table->ConstantByName(nullptr, ("s" + std::to_string(k)).c_str()));
    if (index >= 0) samplers[index] = k;
  }
  return [samplers](const nura::shtok::SampleRequest& r) {
    const auto found = samplers.find(r.sampler);
    const double coordinate[3] = {r.coord[0], r.coord[1], r.coord[2]};
    double texel[4];
    ProceduralTexel(found == samplers.end() ? 0 : found->second, coordinate, r.textureType == 3 ? 3 : 2, texel);
    return nura::shtok::Float4(static_cast<float>(texel[0]), static_cast<float>(texel[1]), static_cast<float>(texel[2]),
                               static_cast<float>(texel[3]));
  };
}

}  // namespace hlslgen
