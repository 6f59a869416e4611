// Comparison and deep copy of syntax-tree nodes. A clone starts as a copy of
// its source's fields; then every node field is replaced by its own clone, so
// that a copy shares no node with its source.
#include "gxl/shader/core/syntax_tree.h"

#include <cstring>

namespace {

template <class T>
const T& As(const ParseNode* node) {
  return *static_cast<const T*>(node);
}

// Replaces a non-null node field, or each of an array of them, by its clone;
// false when a clone fails.
template <class Node>
bool CloneMember(Node*& field) {
  return !field || (field = static_cast<Node*>(field->Clone())) != nullptr;
}

template <std::size_t N>
bool CloneMember(ParseNode* (&fields)[N]) {
  for (ParseNode*& f : fields)
    if (!CloneMember(f)) return false;
  return true;
}

template <std::size_t N>
bool AllEqual(ParseNode* const (&a)[N], ParseNode* const (&b)[N]) {
  for (std::size_t i = 0; i < N; ++i)
    if (!NodesEqual(a[i], b[i])) return false;
  return true;
}

// A pool copy of n words; null source or n == 0 copies nothing.
bool CopyWords(std::uint32_t*& words, std::uint32_t n) {
  if (!words || n == 0) return true;
  auto* copy = static_cast<std::uint32_t*>(PoolAlloc(std::size_t{n} * sizeof(std::uint32_t)));
  if (!copy) return false;
  std::memcpy(copy, words, std::size_t{n} * sizeof(std::uint32_t));
  words = copy;
  return true;
}

bool TextsEqual(const char* a, const char* b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

// The copy of a node, then its node fields cloned: null when any step fails.
template <class T, class... Members>
T* CloneWith(const T& source, Members T::*... members) {
  T* copy = new T(source);
  return copy && (CloneMember(copy->*members) && ...) ? copy : nullptr;
}

}  // namespace

bool NodesEqual(const ParseNode* a, const ParseNode* b) { return a ? a->Equals(b) : b == nullptr; }

ParseNode* CloneNode(const ParseNode* a) { return a ? a->Clone() : nullptr; }

ParseNode* AppendToList(ParseNode* list, ParseNode* cell) {
  if (!list) return cell;
  ParseNode* last = list;
  while (last->second) last = last->second;
  last->second = cell;
  return list;
}

const ParseNode* ResolveType(const ParseNode* type) {
  for (;;) {
    if (!type) return nullptr;
    if (type->kind == NodeKind::Declaration) {
      type = static_cast<const DeclarationNode*>(type)->description;
    } else if (type->kind == NodeKind::Kind11) {
      type = static_cast<const ParseNodeKind11*>(type)->nodes[0];
    } else {
      return type;
    }
  }
}

const TypeNode* AsTypeNode(const ParseNode* type) {
  type = ResolveType(type);
  return type && type->kind == NodeKind::Type ? static_cast<const TypeNode*>(type) : nullptr;
}

bool TokensEqual(const SourceToken& a, const SourceToken& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case kTokenVersion:
    case kTokenInt:
    case kTokenIntL:
    case kTokenIntU:
      return a.value.number == b.value.number;
    case kTokenPunctuator:
      return std::strncmp(a.value.punctuator, b.value.punctuator, sizeof a.value.punctuator) == 0;
    case kTokenFloat:
    case kTokenFloatH:
    case kTokenFloatF:
    case kTokenFloatL:
      return a.value.real == b.value.real;
    case kTokenIdentifier:
    case kTokenString:
      return TextsEqual(a.value.text, b.value.text);
    default:
      return true;
  }
}

// --- The base: kind only ---------------------------------------------------

bool ParseNode::Equals(const ParseNode* other) const { return SameKind(other); }

ParseNode* ParseNode::Clone() const {
  auto* copy = new ParseNode;
  if (copy) copy->kind = kind;
  return copy;
}

// --- 1 ListNode: cell by cell, without recursion along the list -------------

bool ListNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const ParseNode* a = this;
  const ParseNode* b = other;
  for (; a && a->kind == NodeKind::List; a = a->second, b = b->second) {
    if (!b || b->kind != NodeKind::List) return false;
    if (!NodesEqual(a->first, b->first)) return false;
  }
  // This list ended (equal whatever the other holds), or it ends in a node of
  // another kind.
  return !a || NodesEqual(a, b);
}

ParseNode* ListNode::Clone() const {
  ListNode* head = nullptr;
  ListNode* tail = nullptr;
  const ParseNode* cell = this;
  for (; cell && cell->kind == NodeKind::List; cell = cell->second) {
    auto* copy = new ListNode(cell->first, nullptr, As<ListNode>(cell).tag);
    if (!copy || !CloneMember(copy->first)) return nullptr;
    if (tail)
      tail->second = copy;
    else
      head = copy;
    tail = copy;
  }
  if (cell && !(tail->second = cell->Clone())) return nullptr;
  return head;
}

// --- 2 ParseNodeKind2 ---------------------------------------------------------

bool ParseNodeKind2::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind2>(other);
  return name == o.name && declarations == o.declarations && NodesEqual(first, o.first) &&
         NodesEqual(second, o.second);
}

ParseNode* ParseNodeKind2::Clone() const {
  auto* copy = new ParseNodeKind2(*this);
  return copy && CloneMember(copy->first) && CloneMember(copy->second) ? copy : nullptr;
}

// --- 3 TokenNode --------------------------------------------------------------

bool TokenNode::Equals(const ParseNode* other) const {
  return SameKind(other) && TokensEqual(token, As<TokenNode>(other).token);
}

ParseNode* TokenNode::Clone() const { return CloneWith(*this); }

// --- 4 ProgramNode ------------------------------------------------------------

bool ProgramNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ProgramNode>(other);
  return techniqueCount == o.techniqueCount && untitledCounter == o.untitledCounter &&
         slotCounter == o.slotCounter && NodesEqual(statements, o.statements);
}

ParseNode* ProgramNode::Clone() const { return CloneWith(*this, &ProgramNode::statements); }

// --- 5 ScopeNode --------------------------------------------------------------

bool ScopeNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ScopeNode>(other);
  return ownerKind == o.ownerKind && ownerName == o.ownerName && NodesEqual(declarations, o.declarations) &&
         NodesEqual(names, o.names) && NodesEqual(parent, o.parent);
}

ParseNode* ScopeNode::Clone() const {
  return CloneWith(*this, &ScopeNode::declarations, &ScopeNode::names, &ScopeNode::parent);
}

// --- 6 DeclarationNode ----------------------------------------------------------

bool DeclarationNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<DeclarationNode>(other);
  return declClass == o.declClass && scopeText == o.scopeText && registerIndex == o.registerIndex &&
         number == o.number && flags == o.flags && NodesEqual(name, o.name) && NodesEqual(description, o.description) &&
         NodesEqual(contents, o.contents);
}

ParseNode* DeclarationNode::Clone() const {
  auto* copy = CloneWith(*this, &DeclarationNode::name, &DeclarationNode::description, &DeclarationNode::contents);
  if (copy) copy->serial = NextSerial();  // a declaration of its own
  return copy;
}

std::uint32_t DeclarationNode::NextSerial() {
  // Process-wide like the current pool, and touched only under the shader-tool lock.
  static std::uint32_t s_next = 0;
  return s_next++;
}

// --- 7 ParseNodeKind7 ---------------------------------------------------------

bool ParseNodeKind7::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind7>(other);
  return usage == o.usage && AllEqual(parts, o.parts);
}

ParseNode* ParseNodeKind7::Clone() const { return CloneWith(*this, &ParseNodeKind7::parts); }

// --- 8 ArrayTypeNode ----------------------------------------------------------

bool ArrayTypeNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ArrayTypeNode>(other);
  return dimension == o.dimension && NodesEqual(element, o.element);
}

ParseNode* ArrayTypeNode::Clone() const { return CloneWith(*this, &ArrayTypeNode::element); }

// --- 9 TypeNode ---------------------------------------------------------------

bool TypeNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<TypeNode>(other);
  return shape == o.shape && baseType == o.baseType && rows == o.rows && columns == o.columns && flags == o.flags;
}

ParseNode* TypeNode::Clone() const { return CloneWith(*this); }

// --- 10 ParseNodeKind10 -------------------------------------------------------

bool ParseNodeKind10::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind10>(other);
  return returnSlot == o.returnSlot && returnComponents == o.returnComponents && flags == o.flags &&
         lowering == o.lowering && hasBody == o.hasBody && NodesEqual(profile, o.profile) &&
         NodesEqual(returnType, o.returnType) && NodesEqual(parameters, o.parameters) && NodesEqual(body, o.body) &&
         AllEqual(more, o.more);
}

ParseNode* ParseNodeKind10::Clone() const {
  return CloneWith(*this, &ParseNodeKind10::profile, &ParseNodeKind10::returnType, &ParseNodeKind10::parameters,
                   &ParseNodeKind10::body, &ParseNodeKind10::more);
}

// --- 11 ParseNodeKind11 -------------------------------------------------------

bool ParseNodeKind11::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind11>(other);
  if (symbol != o.symbol || valueCount != o.valueCount || extra != o.extra || storage != o.storage ||
      count != o.count || !AllEqual(nodes, o.nodes))
    return false;
  if (count == 0 || counted == o.counted) return true;
  return counted && o.counted && std::memcmp(counted, o.counted, std::size_t{count} * sizeof *counted) == 0;
}

// Each array is copied by its own length, so that a variable without counted
// words keeps its values in the copy.
ParseNode* ParseNodeKind11::Clone() const {
  auto* copy = CloneWith(*this, &ParseNodeKind11::nodes);
  return copy && CopyWords(copy->counted, count) && CopyWords(copy->values, valueCount) ? copy : nullptr;
}

// --- 12 StatementNode ---------------------------------------------------------

bool StatementNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<StatementNode>(other);
  return code == o.code && AllEqual(children, o.children);
}

ParseNode* StatementNode::Clone() const { return CloneWith(*this, &StatementNode::children); }

// --- 13 ParseNodeKind13 -------------------------------------------------------

bool ParseNodeKind13::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind13>(other);
  return rows == o.rows && columns == o.columns && op == o.op && flag == o.flag && TokensEqual(token, o.token) &&
         NodesEqual(type, o.type) && NodesEqual(left, o.left) && NodesEqual(right, o.right);
}

ParseNode* ParseNodeKind13::Clone() const {
  return CloneWith(*this, &ParseNodeKind13::type, &ParseNodeKind13::left, &ParseNodeKind13::right);
}

// --- 14 ExpressionNode --------------------------------------------------------

ExpressionNode::ExpressionNode(std::uint32_t subKind, std::uint32_t second, const SourceToken& token)
    : ParseNode(NodeKind::Expression), token(token) {
  value.subKind = subKind;
  value.integer = second;
}

ExpressionNode::ExpressionNode(std::uint32_t subKind, double number, const SourceToken& token)
    : ParseNode(NodeKind::Expression), token(token) {
  value.subKind = subKind;
  value.number = number;
}

ExpressionNode::ExpressionNode(std::uint32_t subKind, ParseNode* node, const SourceToken& token)
    : ParseNode(NodeKind::Expression), token(token) {
  value.subKind = subKind;
  value.node = node;
}

ExpressionNode::ExpressionNode(std::uint32_t subKind, const void* address, std::uint32_t third,
                               const SourceToken& token)
    : ParseNode(NodeKind::Expression), token(token) {
  value.subKind = subKind;
  value.address = address;
  value.third = third;
}

ExpressionNode::ExpressionNode(std::uint32_t subKind, std::uint32_t second, std::uint32_t third,
                               const SourceToken& token)
    : ParseNode(NodeKind::Expression), token(token) {
  value.subKind = subKind;
  value.integer = second;
  value.third = third;
}

ExpressionNode* ExpressionNode::FromValue(const ExpressionValue& v, const SourceToken& token) {
  auto* node = new ExpressionNode;
  if (!node) return nullptr;
  node->value = v;
  node->token = token;
  return v.subKind != 4 || CloneMember(node->value.node) ? node : nullptr;
}

bool ExpressionNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const ExpressionValue& a = value;
  const ExpressionValue& b = As<ExpressionNode>(other).value;
  if (a.subKind != b.subKind) return false;
  if (a.word == b.word && a.bits == b.bits && a.third == b.third) return true;
  return a.subKind == 4 && NodesEqual(a.node, b.node);
}

ParseNode* ExpressionNode::Clone() const { return FromValue(value, token); }

// --- 15 AsmBlockNode ----------------------------------------------------------

bool AsmBlockNode::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<AsmBlockNode>(other);
  return code == o.code && codeSize == o.codeSize && TokensEqual(token, o.token);
}

ParseNode* AsmBlockNode::Clone() const { return CloneWith(*this); }

// --- 16, 17 -------------------------------------------------------------------

bool ParseNodeKind16::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind16>(other);
  return NodesEqual(stateName, o.stateName) && NodesEqual(index, o.index) && NodesEqual(value, o.value);
}

ParseNode* ParseNodeKind16::Clone() const {
  return CloneWith(*this, &ParseNodeKind16::stateName, &ParseNodeKind16::index, &ParseNodeKind16::value);
}

bool ParseNodeKind17::Equals(const ParseNode* other) const {
  if (!SameKind(other)) return false;
  const auto& o = As<ParseNodeKind17>(other);
  return NodesEqual(semantics, o.semantics) && NodesEqual(registers, o.registers);
}

ParseNode* ParseNodeKind17::Clone() const {
  return CloneWith(*this, &ParseNodeKind17::semantics, &ParseNodeKind17::registers);
}

// --- 18, 19: compared by kind; cloned in full ---------------------------------

ParseNode* AsmInstructionNode::Clone() const {
  return CloneWith(*this, &AsmInstructionNode::destination, &AsmInstructionNode::predicate,
                   &AsmInstructionNode::sources);
}

ParseNode* AsmOperandNode::Clone() const { return CloneWith(*this, &AsmOperandNode::relative); }
