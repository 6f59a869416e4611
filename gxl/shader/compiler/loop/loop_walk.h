// What the syntax-tree walks over a loop's parts share (loop_effects.cpp,
// dead_loops.cpp).
#pragma once

#include <cstdint>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader::loopwalk {

// Nesting the walks follow, through statements, expressions and the bodies
// of called functions.
constexpr std::uint32_t kMaxDepth = 256;
constexpr std::uint32_t kMaxCallDepth = 16;

// An expression operation that writes its first operand.
inline bool IsWrite(std::uint32_t op) {
  return op == kExprPreIncrement || op == kExprPreDecrement || op == kExprInitialise || op == kExprAssign ||
         (op >= kExprMultiplyAssign && op <= kExprPostDecrement);
}

}  // namespace gxl::shader::loopwalk
