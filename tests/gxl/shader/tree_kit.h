// Syntax-tree pieces for tests that need declarations without a parser:
// types, folded values, register annotations and variable declarations in
// the shapes the HLSL parser builds, drawn from a page pool made current for
// the fixture's life.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/syntax_tree.h"

namespace shadertest {

// Makes a pool current; node pointers stay valid while it lives.
class TreePool {
 public:
  TreePool() : m_previous(SetCurrentPool(&m_pool)) {}
  ~TreePool() { SetCurrentPool(m_previous); }
  TreePool(const TreePool&) = delete;
  TreePool& operator=(const TreePool&) = delete;

 private:
  PagePool m_pool{0x100000, 0x10000};
  PagePool* m_previous;
};

inline SourceToken IdentifierToken(const char* text, const char* file = nullptr, std::uint32_t line = 0) {
  SourceToken t{};
  t.kind = kTokenIdentifier;
  t.value.text = text;
  t.file = file;
  t.line = line;
  return t;
}

// Shapes 0 scalar, 1 vector, 2 matrix, 3 object; base 0 bool, 4 int, 11 float, 20-24 samplers.
enum : std::uint32_t { kScalar = 0, kVector = 1, kMatrix = 2, kObject = 3 };
enum : std::uint32_t { kBool = 0, kInt = 4, kFloat = 11, kSampler = 20, kSampler2D = 22 };
constexpr std::uint32_t kRowMajor = 0x400;

inline TypeNode* Type(std::uint32_t shape, std::uint32_t base, std::uint32_t rows, std::uint32_t columns,
                      std::uint32_t flags = 0) {
  return new TypeNode(shape, base, rows, columns, flags);
}
inline ParseNode* Array(ParseNode* element, std::uint32_t dimension) { return new ArrayTypeNode(element, dimension); }

struct Component {
  std::uint32_t kind;  // 0 bool, 1 int, 2 unsigned, 3 float
  double value;
};
inline Component F(double v) { return {3, v}; }
inline Component I(std::int32_t v) { return {1, static_cast<double>(v)}; }
inline Component B(bool v) { return {0, v ? 1.0 : 0.0}; }

// A list of the nodes, one cell each, with a tag.
template <class Nodes>
ParseNode* ListOf(const Nodes& nodes, const char* tag) {
  ParseNode* head = nullptr;
  ParseNode* last = nullptr;
  for (ParseNode* n : nodes) {
    auto* cell = new ListNode(n, nullptr, tag);
    (last ? last->second : head) = cell;
    last = cell;
  }
  return head;
}

// A folded value: code 0 over a "Value" list.
inline ParseNode* Literal(std::initializer_list<Component> components) {
  const SourceToken at = IdentifierToken("literal");
  std::vector<ParseNode*> values;
  for (const Component& c : components)
    values.push_back(
        c.kind == 3 ? new ExpressionNode(3, c.value, at)
                    : new ExpressionNode(c.kind, static_cast<std::uint32_t>(static_cast<std::int64_t>(c.value)), at));
  return new ParseNodeKind13(nullptr, 0, ListOf(values, "Value"), nullptr, 1, at);
}

// register(profile, name) as the grammar keeps it: the register part a list
// of the profile (when given) and the register; a null profile for register(name).
inline ParseNode* Register(const char* profile, const char* name) {
  std::vector<ParseNode*> tokens;
  if (profile) tokens.push_back(new TokenNode(IdentifierToken(profile)));
  tokens.push_back(new TokenNode(IdentifierToken(name)));
  return new ParseNodeKind17(nullptr, ListOf(tokens, "Semantics"));
}
// The semantics node of a declarator with register annotations.
inline ParseNode* Bindings(std::initializer_list<ParseNode*> registers) {
  return new ParseNodeKind17(nullptr, ListOf(registers, "Semantics"));
}

inline DeclarationNode* Variable(const char* name, ParseNode* type, ParseNode* value = nullptr,
                                 std::uint32_t storage = 0x40, ParseNode* semantics = nullptr) {
  auto* description = new ParseNodeKind11(0, 0, 0, storage, type, nullptr, value, nullptr, semantics);
  return new DeclarationNode(1, new TokenNode(IdentifierToken(name)), description, nullptr);
}

// A struct type: a "Decls" list of member declarations.
inline ParseNode* Struct(std::initializer_list<DeclarationNode*> members) { return ListOf(members, "Decls"); }

}  // namespace shadertest
