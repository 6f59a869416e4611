// Shared by the ps_1_x tests of the kit: a procedural texture per stage, a
// loader, and corpus programs assembled by the shader tool.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/shader/goldens.h"
#include "tests/support/shader/interp.h"

namespace nura::shtok::ps1test {

// The texture bound to a stage: linear in the coordinates, so a reference
// can evaluate it, and different per stage, so a wrong stage shows.
inline Float4 Texel(int stage, const Float4& c) {
  return Float4(0.5f + 0.25f * c[0] - 0.0625f * stage, 0.25f + 0.5f * c[1], 0.125f + 0.75f * c[2] + 0.03125f * c[3],
                0.125f * (stage + 1) + 0.25f * c[0] * c[1]);
}

inline Sampler TexelSampler() {
  return [](const SampleRequest& r) { return Texel(r.sampler, r.coord); };
}

inline ::testing::AssertionResult LoadHex(Interpreter& interp, const std::string& hex) {
  const std::vector<std::uint32_t> words = Tokens(hex.c_str());
  std::string error;
  if (!interp.Load(words.data(), words.size(), &error)) return ::testing::AssertionFailure() << error;
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Near(const Float4& got, const Float4& want, double tolerance = 1e-5) {
  for (int c = 0; c < 4; ++c) {
    const bool bothNaN = std::isnan(got[c]) && std::isnan(want[c]);
    if (!bothNaN && !(std::fabs(got[c] - want[c]) <= tolerance * (1 + std::fabs(want[c]))))
      return ::testing::AssertionFailure() << "component " << c << ": got " << got[c] << ", want " << want[c];
  }
  return ::testing::AssertionSuccess();
}

// A corpus file assembled by the shader tool (gxlsh asm), as token words.
// Fails the test under CI when the corpus or the tool is missing; skips
// otherwise (empty result).
std::vector<std::uint32_t> AssembleCorpusFile(const std::string& relative);

}  // namespace nura::shtok::ps1test
