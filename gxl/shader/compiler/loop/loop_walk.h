// What the syntax-tree walks over a loop's parts share (loop_effects.cpp,
// loop_slice.cpp, dead_loops.cpp).
#pragma once

#include <cstdint>
#include <vector>

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

// A node of a variable's description that holds its initialiser.
inline bool IsInitialiser(const ParseNode* node) {
  return node && (node->kind == NodeKind::Kind13 || node->kind == NodeKind::Expression || node->kind == NodeKind::List);
}

// Whether a return or a discard stands among the statements of `node`.
inline bool Stops(const ParseNode* node, std::uint32_t depth = 0) {
  if (!node || depth > kMaxDepth) return node != nullptr;
  if (node->kind == NodeKind::List) {
    for (; node && node->kind == NodeKind::List; node = node->second)
      if (Stops(node->first, depth + 1)) return true;
    return Stops(node, depth + 1);
  }
  if (node->kind != NodeKind::Statement) return false;
  const auto* s = static_cast<const StatementNode*>(node);
  if (s->code == kStatementReturn || s->code == kStatementDiscard) return true;
  for (const ParseNode* child : s->children)
    if (Stops(child, depth + 1)) return true;
  return false;
}

// The statements of a body, its nested lists flattened.
inline bool Statements(const ParseNode* node, std::vector<const ParseNode*>* out, std::uint32_t depth = 0) {
  if (!node) return true;
  if (depth > kMaxDepth) return false;
  if (node->kind != NodeKind::List) {
    out->push_back(node);
    return true;
  }
  for (; node && node->kind == NodeKind::List; node = node->second)
    if (!Statements(node->first, out, depth + 1)) return false;
  return Statements(node, out, depth + 1);
}

}  // namespace gxl::shader::loopwalk
