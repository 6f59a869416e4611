// One intrinsic call being expanded: the row it matched, the values of its
// arguments (outputs get fresh room), and where its results go.
#pragma once

#include <cstdint>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_intrinsics.h"

namespace gxl::shader {

// The facts expansions give their results.
constexpr std::uint32_t kNonNegative = kValueNonNegative;
constexpr std::uint32_t kFraction = kValueNonNegative | kValueUnitMagnitude;         // [0, 1): 0x14
constexpr std::uint32_t kNegatedFraction = kValueNonPositive | kValueUnitMagnitude;  // (-1, 0]: 0x18

struct ShaderCompiler::IntrinsicCall {
  const ParseNodeKind13* node;
  const IntrinsicRecord* row;
  std::uint32_t id;
  std::uint32_t parameters;
  std::uint32_t* args[4];  // per parameter, sizes[p] values
  std::uint32_t sizes[4];
  const ParseNodeKind13* expressions[4];  // null for an output-only parameter
  std::uint32_t* results;                 // n values, or null when the value is not used
  std::uint32_t n;
};

}  // namespace gxl::shader
