// The syntax tree that the assembler and the HLSL parser build: a common node
// header and nineteen node kinds, compared with Equals and deep-copied with
// Clone. Nodes live in the current page pool: they are never freed one by
// one and go with the pool.
//
// Field conventions: a "node" field is a ParseNode* child, compared through
// NodesEqual and replaced by its clone when a tree is copied; words are
// 32-bit values; addresses of texts, code bytes and table rows are pointers
// compared and copied by identity.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/source_token.h"

enum class NodeKind : std::uint32_t {
  None = 0,  // a bare ParseNode only
  List = 1,
  Kind2 = 2,
  Token = 3,
  Program = 4,
  Scope = 5,
  Declaration = 6,
  Kind7 = 7,
  ArrayType = 8,
  Type = 9,
  Kind10 = 10,
  Kind11 = 11,
  Statement = 12,
  Kind13 = 13,
  Expression = 14,
  AsmBlock = 15,
  Kind16 = 16,
  Kind17 = 17,
  AsmInstruction = 18,
  AsmOperand = 19,
};

class ParseNode {
 public:
  // `new` draws from the current pool; when the pool is exhausted it yields
  // null and no constructor runs. `delete` gives nothing back.
  static void* operator new(std::size_t size) noexcept { return PoolAlloc(size); }
  static void operator delete(void*) noexcept {}

  ParseNode() = default;
  virtual ~ParseNode() = default;

  // Same kind and, per kind, the same compared fields (the kinds list theirs).
  virtual bool Equals(const ParseNode* other) const;
  // A deep copy from the current pool, or null when any allocation fails.
  virtual ParseNode* Clone() const;

  NodeKind kind = NodeKind::None;
  ParseNode* first = nullptr;   // ListNode: the value; ParseNodeKind2: left subtree
  ParseNode* second = nullptr;  // ListNode: the next cell; ParseNodeKind2: right subtree

 protected:
  explicit ParseNode(NodeKind k, ParseNode* a = nullptr, ParseNode* b = nullptr) : kind(k), first(a), second(b) {}
  ParseNode(const ParseNode&) = default;
  bool SameKind(const ParseNode* other) const { return other && other->kind == kind; }
};

// 1: one cell of a list. Equals compares the values cell by cell as far as
// this list goes (a longer other list still compares equal); tags are not
// compared.
class ListNode final : public ParseNode {
 public:
  ListNode() : ParseNode(NodeKind::List) {}
  ListNode(ParseNode* value, ParseNode* next, const char* tag) : ParseNode(NodeKind::List, value, next), tag(tag) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ParseNode* Value() const { return first; }
  ParseNode* Next() const { return second; }

  const char* tag = nullptr;  // a constant label: "Stmts", "Decls", "Arguments", ...
};

// 2: one node of a scope's binary search tree of names; first and second are
// the left and right subtrees.
class ParseNodeKind2 final : public ParseNode {
 public:
  ParseNodeKind2() : ParseNode(NodeKind::Kind2) {}
  ParseNodeKind2(const char* name, ParseNode* left, ParseNode* right, ParseNode* declarations)
      : ParseNode(NodeKind::Kind2, left, right), name(name), declarations(declarations) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  const char* name = nullptr;
  ParseNode* declarations = nullptr;  // a "Stmts" chain held by address: not copied
};

// 3: one token (a declaration's name, a profile name, a macro body element).
class TokenNode final : public ParseNode {
 public:
  TokenNode() : ParseNode(NodeKind::Token) {}
  explicit TokenNode(const SourceToken& token) : ParseNode(NodeKind::Token), token(token) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  SourceToken token{};
};

// 4: the root of one parsed source.
class ProgramNode final : public ParseNode {
 public:
  ProgramNode() : ParseNode(NodeKind::Program) {}
  ProgramNode(std::uint32_t techniques, std::uint32_t untitled, std::uint32_t slots, ParseNode* statements)
      : ParseNode(NodeKind::Program), techniqueCount(techniques), untitledCounter(untitled), slotCounter(slots),
        statements(statements) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t techniqueCount = 0;
  std::uint32_t untitledCounter = 0;
  std::uint32_t slotCounter = 0;  // symbol slots handed out so far
  ParseNode* statements = nullptr;
};

// 5: a declaration scope.
class ScopeNode final : public ParseNode {
 public:
  ScopeNode() : ParseNode(NodeKind::Scope) {}
  // Without an owner name of its own, a scope takes its parent's.
  ScopeNode(std::uint32_t ownerKind, const char* ownerName, ParseNode* declarations, ParseNode* names,
            ScopeNode* parent)
      : ParseNode(NodeKind::Scope), ownerKind(ownerKind),
        ownerName(ownerName || !parent ? ownerName : parent->ownerName), declarations(declarations),
        names(names), parent(parent) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t ownerKind = 0;
  const char* ownerName = nullptr;  // the enclosing function's name
  ParseNode* declarations = nullptr;  // a list
  ParseNode* names = nullptr;         // root of a ParseNodeKind2 tree
  ScopeNode* parent = nullptr;
};

enum DeclarationClass : std::uint32_t {
  kDeclType = 0,
  kDeclVariable = 1,
  kDeclFunction = 2,
  kDeclTechnique = 3,
  kDeclPass = 4,
};

// 6: one declaration.
class DeclarationNode final : public ParseNode {
 public:
  DeclarationNode() : ParseNode(NodeKind::Declaration), serial(NextSerial()) {}
  DeclarationNode(std::uint32_t declClass, ParseNode* name, ParseNode* description, ParseNode* contents)
      : ParseNode(NodeKind::Declaration), declClass(declClass), name(name), description(description),
        contents(contents), serial(NextSerial()) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t declClass = kDeclType;
  ParseNode* name = nullptr;         // a TokenNode
  ParseNode* description = nullptr;  // ParseNodeKind10 for a function, ParseNodeKind11 for a variable
  ParseNode* contents = nullptr;
  const char* scopeText = nullptr;   // the declaring scope's owner name; compared by address
  std::uint32_t registerIndex = 0xFFFFFFFFu;  // none
  std::uint32_t number = 0;  // the parser's running declaration number
  std::uint32_t flags = 0;   // kDeclLoopControl, kDeclLoopWarned
  // Creation order, not compared: orders that tie on equal names use it
  // instead of the address, which would make output follow the address layout.
  std::uint32_t serial;

 private:
  static std::uint32_t NextSerial();
};

// DeclarationNode flags.
constexpr std::uint32_t kDeclLoopControl = 1;  // moved out of a "for" header
constexpr std::uint32_t kDeclLoopWarned = 2;   // its use outside the loop was warned about
constexpr std::uint32_t kDeclUninitReported = 4;  // its use before initialisation was reported

// 7: the storage classes and modifiers of a declaration.
class ParseNodeKind7 final : public ParseNode {
 public:
  ParseNodeKind7() : ParseNode(NodeKind::Kind7) {}
  ParseNodeKind7(std::uint32_t usage, ParseNode* a, ParseNode* b)
      : ParseNode(NodeKind::Kind7), usage(usage), parts{a, b} {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t usage = 0;  // modifier bits
  ParseNode* parts[2] = {};  // the target-specific part
};

// 8: an array type.
class ArrayTypeNode final : public ParseNode {
 public:
  ArrayTypeNode() : ParseNode(NodeKind::ArrayType) {}
  ArrayTypeNode(ParseNode* element, std::uint32_t dimension)
      : ParseNode(NodeKind::ArrayType), element(element), dimension(dimension) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ParseNode* element = nullptr;
  std::uint32_t dimension = 0;
};

// 9: a scalar, vector, matrix or object type; by default a plain float.
class TypeNode final : public ParseNode {
 public:
  static constexpr std::uint32_t kConst = 0x200;  // flags bit

  TypeNode() : ParseNode(NodeKind::Type) {}
  TypeNode(std::uint32_t shape, std::uint32_t baseType, std::uint32_t rows, std::uint32_t columns,
           std::uint32_t flags)
      : ParseNode(NodeKind::Type), shape(shape), baseType(baseType), rows(rows), columns(columns), flags(flags) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t shape = 0;     // 0 scalar, 1 vector, 2 matrix, others objects
  std::uint32_t baseType = 9;  // 0-29; 9 float
  std::uint32_t rows = 0;
  std::uint32_t columns = 0;   // a vector's component count
  std::uint32_t flags = 0;
};

// 10: the description of a function.
class ParseNodeKind10 final : public ParseNode {
 public:
  static constexpr std::uint32_t kNotEntryPoint = 0x2;  // flags bit

  ParseNodeKind10() : ParseNode(NodeKind::Kind10) {}
  ParseNodeKind10(std::uint32_t returnSlot, std::uint32_t returnComponents, std::uint32_t flags, ParseNode* profile,
                  ParseNode* returnType, ParseNode* parameters, ParseNode* body, ParseNode* n5, ParseNode* n6,
                  ParseNode* n7)
      : ParseNode(NodeKind::Kind10), returnSlot(returnSlot), returnComponents(returnComponents), flags(flags),
        profile(profile), returnType(returnType), parameters(parameters), body(body), more{n5, n6, n7} {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t returnSlot = 0;
  std::uint32_t returnComponents = 0;  // 0 for void
  std::uint32_t flags = 0;
  ParseNode* profile = nullptr;  // a TokenNode naming a target profile
  ParseNode* returnType = nullptr;
  ParseNode* parameters = nullptr;  // declarations
  ParseNode* body = nullptr;        // statements
  ParseNode* more[3] = {};
  std::uint32_t lowering = 0;  // 1 while the lowering is inside: the recursion guard
  std::uint32_t hasBody = 0;   // 1 once the function got its body
};

// 11: the description of a variable. `counted` holds `count` words; `values`
// holds `valueCount` words.
class ParseNodeKind11 final : public ParseNode {
 public:
  ParseNodeKind11() : ParseNode(NodeKind::Kind11) {}
  ParseNodeKind11(std::uint32_t symbol, std::uint32_t valueCount, std::uint32_t extra, std::uint32_t storage,
                  ParseNode* n1, ParseNode* n2, ParseNode* n3, ParseNode* n4, ParseNode* n5)
      : ParseNode(NodeKind::Kind11), symbol(symbol), valueCount(valueCount), extra(extra), storage(storage),
        nodes{n1, n2, n3, n4, n5} {}
  bool Equals(const ParseNode* other) const override;  // `values` is not compared
  ParseNode* Clone() const override;

  std::uint32_t symbol = 0;  // the symbol's index
  std::uint32_t valueCount = 0;
  std::uint32_t extra = 0;
  std::uint32_t storage = 0;  // storage flags
  ParseNode* nodes[5] = {};
  std::uint32_t count = 0;
  std::uint32_t* counted = nullptr;
  std::uint32_t* values = nullptr;
};

enum StatementCode : std::uint32_t {
  kStatementExpression = 0,  // the expression is children[0]
  kStatementFor = 3,
  kStatementWhile = 4,
  kStatementDo = 5,
};

// 12: one statement.
class StatementNode final : public ParseNode {
 public:
  StatementNode() : ParseNode(NodeKind::Statement) {}
  StatementNode(std::uint32_t code, ParseNode* a, ParseNode* b, ParseNode* c, ParseNode* d)
      : ParseNode(NodeKind::Statement), code(code), children{a, b, c, d} {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  std::uint32_t code = kStatementExpression;
  ParseNode* children[4] = {};
};

// 13: an expression: an operation on two operands, located by its token.
class ParseNodeKind13 final : public ParseNode {
 public:
  ParseNodeKind13() : ParseNode(NodeKind::Kind13) {}
  ParseNodeKind13(ParseNode* type, std::uint32_t op, ParseNode* left, ParseNode* right, std::uint32_t flag,
                  const SourceToken& token)
      : ParseNode(NodeKind::Kind13), type(type), op(op), left(left), right(right), flag(flag), token(token) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ParseNode* type = nullptr;  // the result type
  std::uint32_t rows = 0;
  std::uint32_t columns = 0;
  std::uint32_t op = 0;  // operation code
  ParseNode* left = nullptr;
  ParseNode* right = nullptr;
  std::uint32_t flag = 1;
  SourceToken token{};
  // Operator levels from this node down to its deepest leaf; derived from the
  // operands, so Equals does not compare it.
  std::uint32_t depth = 1;
};

// The value of an ExpressionNode: a sub-kind and three words, the second of
// which is wide enough for a double or an address.
struct ExpressionValue {
  std::uint32_t subKind = 3;
  std::uint32_t word = 0;
  union {
    std::uint64_t bits = 0;
    std::uint32_t integer;
    double number;          // sub-kind 3: a literal number
    ParseNode* node;        // sub-kind 4: e.g. the ParseNodeKind13 of a compile expression
    const void* address;    // sub-kind 2: an intrinsic table row; 5: compiled code bytes
  };
  std::uint32_t third = 0;  // sub-kind 5: size of the code in bytes
};

// 14: a value, the leaf operand of an expression. Equal values have the same
// sub-kind and the same words, or are sub-kind 4 with equal nodes; the token
// is not compared.
class ExpressionNode final : public ParseNode {
 public:
  ExpressionNode() : ParseNode(NodeKind::Expression) {}
  ExpressionNode(std::uint32_t subKind, std::uint32_t second, const SourceToken& token);
  ExpressionNode(std::uint32_t subKind, double number, const SourceToken& token);
  ExpressionNode(std::uint32_t subKind, ParseNode* node, const SourceToken& token);  // keeps node itself
  ExpressionNode(std::uint32_t subKind, const void* address, std::uint32_t third, const SourceToken& token);
  ExpressionNode(std::uint32_t subKind, std::uint32_t second, std::uint32_t third, const SourceToken& token);
  // A node over a copy of `value`, whose sub-kind 4 node is cloned; null when
  // the pool is exhausted.
  static ExpressionNode* FromValue(const ExpressionValue& value, const SourceToken& token);
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ExpressionValue value;
  SourceToken token{};
};

// 15: an asm block, assembled while parsing. Clones share the code bytes.
class AsmBlockNode final : public ParseNode {
 public:
  AsmBlockNode() : ParseNode(NodeKind::AsmBlock) {}
  AsmBlockNode(const SourceToken& token, const void* code, std::uint32_t codeSize)
      : ParseNode(NodeKind::AsmBlock), token(token), code(code), codeSize(codeSize) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  SourceToken token{};
  const void* code = nullptr;  // pool bytes, compared by address
  std::uint32_t codeSize = 0;
};

// 16: one state assignment of a "States" list.
class ParseNodeKind16 final : public ParseNode {
 public:
  ParseNodeKind16() : ParseNode(NodeKind::Kind16) {}
  ParseNodeKind16(ParseNode* stateName, ParseNode* index, ParseNode* value)
      : ParseNode(NodeKind::Kind16), stateName(stateName), index(index), value(value) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ParseNode* stateName = nullptr;
  ParseNode* index = nullptr;
  ParseNode* value = nullptr;
};

// 17: the semantic or register binding of a declarator.
class ParseNodeKind17 final : public ParseNode {
 public:
  ParseNodeKind17() : ParseNode(NodeKind::Kind17) {}
  ParseNodeKind17(ParseNode* semantics, ParseNode* registers)
      : ParseNode(NodeKind::Kind17), semantics(semantics), registers(registers) {}
  bool Equals(const ParseNode* other) const override;
  ParseNode* Clone() const override;

  ParseNode* semantics = nullptr;  // the "Semantics" list
  ParseNode* registers = nullptr;  // the optional register part
};

// 18: one assembler instruction; compared by kind only.
class AsmInstructionNode final : public ParseNode {
 public:
  AsmInstructionNode() : ParseNode(NodeKind::AsmInstruction) {}
  AsmInstructionNode(const SourceToken& token, std::uint32_t opcode, std::uint32_t resultModifier,
                     std::uint32_t control)
      : ParseNode(NodeKind::AsmInstruction), token(token), opcode(opcode), resultModifier(resultModifier),
        control(control) {}
  ParseNode* Clone() const override;

  SourceToken token{};  // its file and line are the instruction's position
  std::uint32_t opcode = 0;
  std::uint32_t resultModifier = 0;
  std::uint32_t control = 0;
  ParseNode* destination = nullptr;
  ParseNode* predicate = nullptr;
  ParseNode* sources[4] = {};
  std::uint32_t coissue = 0;
  std::uint32_t tokenOffset = 0;  // byte offset of its first token
};

// 19: one register operand of an assembler instruction; compared by kind only.
class AsmOperandNode final : public ParseNode {
 public:
  AsmOperandNode() : ParseNode(NodeKind::AsmOperand) {}
  AsmOperandNode(std::uint32_t registerType, std::uint32_t sourceModifier, std::uint32_t registerNumber,
                 std::uint32_t scalar, ParseNode* relative)
      : ParseNode(NodeKind::AsmOperand), registerType(registerType), sourceModifier(sourceModifier),
        registerNumber(registerNumber), scalar(scalar), relative(relative) {}
  ParseNode* Clone() const override;

  std::uint32_t registerType = 0;
  std::uint32_t sourceModifier = 0;
  std::uint32_t registerNumber = 0;
  std::uint32_t scalar = 0;
  std::uint32_t writeMask = 0x000F0000u;  // all four components
  std::uint32_t swizzle = 0x00E40000u;    // the identity swizzle
  ParseNode* relative = nullptr;          // the relative-address operand
};

// Both null, or a equals b.
bool NodesEqual(const ParseNode* a, const ParseNode* b);
// Null for null, else a's clone (null when the pool is exhausted).
ParseNode* CloneNode(const ParseNode* a);
// Puts `cell` (a list) behind the last cell of `list`; returns the joined list.
ParseNode* AppendToList(ParseNode* list, ParseNode* cell);
// The comparison of tokens that nodes carry: by kind, then by value (texts by
// their characters, numbers by value).
bool TokensEqual(const SourceToken& a, const SourceToken& b);
// A type reference looked through declarations and variable descriptions:
// null (void), a TypeNode, an ArrayTypeNode or a ListNode (struct members or a
// "Types" list). Any other node comes back as it is, for the caller to refuse.
const ParseNode* ResolveType(const ParseNode* type);
// The TypeNode itself, or null when the type is anything else.
const TypeNode* AsTypeNode(const ParseNode* type);
