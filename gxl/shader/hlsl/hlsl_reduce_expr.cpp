// Grammar actions for expressions, state blocks and object literals.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "gxl/shader/hlsl/hlsl_reduce.h"

namespace gxl::shader {
namespace {

// A copy of a token with another text (of the pool); null without memory.
TokenNode* WithText(const TokenNode& token, const char* text) {
  auto* node = new TokenNode(token.token);
  if (node) node->token.value.text = text;
  return node;
}

}  // namespace

ParseNode* HlslGrammar::Operand(ParseNode* node) {
  if (TokenNode* name = AsToken(node)) {
    GXL_HLSL_REPORT(m_parser, &name->token, msg::kUndeclaredIdentifier, IdentifierText(name, ""));
    return nullptr;
  }
  return node;
}

ParseNode* HlslGrammar::Identifier(ParseNode* name) {
  TokenNode* token = AsToken(name);
  if (!token) return nullptr;
  // A state value may name what nothing declares (LINEAR, TRUE): it stays a name.
  if (m_parser.m_scope && m_parser.m_scope->ownerKind == kScopeStates &&
      m_parser.LookupName(kDeclVariable, token, nullptr, 0, m_parser.m_scope, 0, nullptr, nullptr) != S_OK)
    return token;
  return Made(m_parser.MakeIdentifier(token));
}

ParseNode* HlslGrammar::JoinNumber(ParseNode* number, ParseNode* name) {
  const TokenNode* digits = AsToken(number);
  const TokenNode* word = AsToken(name);
  if (!digits || !word) return nullptr;
  // Only a number written right against the name joins it ("2D"); a blank or
  // a line between them leaves two tokens that nothing accepts.
  const SourceToken& d = digits->token;
  if (!d.start || d.start + d.length != word->token.start) {
    SyntaxError(word->token);
    return nullptr;
  }
  const char* text = IdentifierText(word, "");
  // Sized from both parts: up to ten digits and the whole name.
  const std::size_t capacity = 11 + std::strlen(text);
  auto* joined = static_cast<char*>(PoolAlloc(capacity));
  if (!joined) return m_parser.OutOfMemory();
  std::snprintf(joined, capacity, "%u%s", digits->token.value.number, text);
  TokenNode* node = WithText(*word, joined);
  if (!node) return m_parser.OutOfMemory();
  node->token.file = digits->token.file;
  node->token.line = digits->token.line;
  return node;
}

ParseNode* HlslGrammar::Number(ParseNode* token) {
  const TokenNode* t = AsToken(token);
  return t ? Made(m_parser.MakeLiteral(t->token)) : nullptr;
}

ParseNode* HlslGrammar::Bool(bool value) { return Made(m_parser.MakeBoolLiteral(value, m_parser.m_token)); }

ParseNode* HlslGrammar::JoinStrings(ParseNode* first, ParseNode* second) {
  const TokenNode* a = AsToken(first);
  const TokenNode* b = AsToken(second);
  if (!a || !b) return nullptr;
  const char* x = a->token.value.text ? a->token.value.text : "";
  const char* y = b->token.value.text ? b->token.value.text : "";
  const std::size_t nx = std::strlen(x), ny = std::strlen(y);
  auto* joined = static_cast<char*>(PoolAlloc(nx + ny + 1));
  if (!joined) return m_parser.OutOfMemory();
  std::memcpy(joined, x, nx);
  std::memcpy(joined + nx, y, ny + 1);
  TokenNode* node = WithText(*a, joined);
  return node ? node : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::String(ParseNode* token) {
  const TokenNode* t = AsToken(token);
  if (!t) return nullptr;
  auto* type = new TypeNode(kShapeObject, kBaseString, 1, 1, 0);
  if (!type) return m_parser.OutOfMemory();
  const auto address = reinterpret_cast<std::uintptr_t>(t->token.value.text);
  return Made(m_parser.MakeLiteralNode(type, FoldedValue{{kComponentObject, address}}, t->token));
}

ParseNode* HlslGrammar::Operator(std::uint32_t code, ParseNode* a, ParseNode* b) {
  if (!(a = Operand(a))) return nullptr;
  if (b && !(b = Operand(b))) return nullptr;
  return Made(m_parser.MakeOperator(code, a, b));
}

ParseNode* HlslGrammar::Sequence(ParseNode* left, ParseNode* right) {
  if (!(left = Operand(left)) || !(right = Operand(right))) return nullptr;
  return Made(m_parser.MakeOperator(kExprSequence, right, left));
}

ParseNode* HlslGrammar::Index(ParseNode* base, ParseNode* index) {
  if (!(base = Operand(base)) || !(index = Operand(index))) return nullptr;
  return Made(m_parser.MakeIndex(base, index));
}

ParseNode* HlslGrammar::Select(ParseNode* base, ParseNode* name) {
  if (!(base = Operand(base)) || !AsToken(name)) return nullptr;
  return Made(m_parser.MakeSelection(base, AsToken(name)));
}

ParseNode* HlslGrammar::Conditional(ParseNode* condition, ParseNode* whenTrue, ParseNode* whenFalse) {
  if (!(condition = Operand(condition)) || !(whenTrue = Operand(whenTrue)) || !(whenFalse = Operand(whenFalse)))
    return nullptr;
  return Made(m_parser.MakeConditional(condition, whenTrue, whenFalse));
}

ParseNode* HlslGrammar::Argument(ParseNode* list, ParseNode* value) {
  // A failed argument stays as an empty cell: the call then builds nothing.
  return Append(list, Cell(Operand(value), "Arguments"));
}

ParseNode* HlslGrammar::Constructor(ParseNode* type, ParseNode* arguments) {
  if (!type) return nullptr;
  for (const ParseNode* c = arguments; c; c = c->second)
    if (!c->first) return nullptr;
  return Made(m_parser.MakeConstructor(type, arguments, false, false));
}

ParseNode* HlslGrammar::Cast(ParseNode* type, ParseNode* value) {
  if (!type || !(value = Operand(value))) return nullptr;
  // A cast may flatten: (S)0 fills a struct, (float4)s reads one.
  return Made(m_parser.MakeConstructor(type, value, true, true));
}

ParseNode* HlslGrammar::Call(ParseNode* name, ParseNode* arguments) {
  if (!AsToken(name)) return nullptr;
  for (const ParseNode* c = arguments; c; c = c->second)
    if (!c->first) return nullptr;
  return Made(m_parser.ResolveCall(AsToken(name), arguments, false));
}

ParseNode* HlslGrammar::Compile(ParseNode* profile, ParseNode* name, ParseNode* arguments, bool fragment) {
  if (!AsToken(profile) || !AsToken(name)) return nullptr;
  for (const ParseNode* c = arguments; c; c = c->second)
    if (!c->first) return nullptr;
  auto* compile = static_cast<ParseNodeKind13*>(
      Made(m_parser.MakeCompileExpression(AsToken(profile), AsToken(name), arguments, fragment)));
  if (!compile) return nullptr;
  // As a value, the expression is held by an object literal of its type.
  auto* value = new ExpressionNode(kValueNode, static_cast<ParseNode*>(compile), compile->token);
  const TypeNode* type = AsTypeNode(compile->type);
  return value && type ? ObjectLiteral(type->baseType, value) : m_parser.OutOfMemory();
}

// --- State blocks and object literals -----------------------------------------------

bool HlslGrammar::InsideFunction() const {
  for (const ScopeNode* s = m_parser.m_scope; s; s = s->parent)
    if (s->ownerKind == kScopeParameters || s->ownerKind == kScopeBlock || s->ownerKind == kScopeFor) return true;
  return false;
}

void HlslGrammar::UpdateObjectKeywords() {
  m_parser.m_objectKeywords = !(m_parser.m_scope && m_parser.m_scope->ownerKind == kScopeStates);
}

void HlslGrammar::OpenStates() {
  m_parser.PushScope(kScopeStates, nullptr);
  UpdateObjectKeywords();
}

ParseNode* HlslGrammar::CloseStates(ParseNode* states) {
  const HRESULT hr = m_parser.PopScope();
  UpdateObjectKeywords();
  return FAILED(hr) ? nullptr : states;
}

ParseNode* HlslGrammar::State(ParseNode* name, ParseNode* index, ParseNode* value) {
  if (index && !(index = Operand(index))) return nullptr;
  auto* state = new ParseNodeKind16(name, index, value);
  return state ? Cell(state, "States") : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::ObjectLiteral(std::uint32_t base, ExpressionNode* value) {
  auto* type = new TypeNode(kShapeObject, base, 1, 1, 0);
  auto* cell = type && value ? new ListNode(value, nullptr, "Value") : nullptr;
  if (!cell) return m_parser.OutOfMemory();
  return Made(m_parser.NewExpression(type, kExprValue, cell, nullptr, value->token));
}

ParseNode* HlslGrammar::StateObject(std::uint32_t base, ParseNode* states) {
  if (InsideFunction()) {
    GXL_HLSL_REPORT(m_parser, &m_parser.m_token, msg::kObjectLiteralInFunction);
    return nullptr;
  }
  auto* value = new ExpressionNode(kValueNode, states, m_parser.m_token);
  return value ? ObjectLiteral(base, value) : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::AsmValue(ParseNode* block) {
  if (!block) return nullptr;  // nothing assembled: no value
  const auto* asmBlock = static_cast<const AsmBlockNode*>(block);
  if (InsideFunction()) {
    GXL_HLSL_REPORT(m_parser, &asmBlock->token, msg::kObjectLiteralInFunction);
    return nullptr;
  }
  std::uint32_t version;
  std::memcpy(&version, asmBlock->code, sizeof version);
  std::uint32_t base;
  switch (version >> 16) {
    case 0xFFFE:
      base = kBaseVertexShader;
      break;
    case 0xFFFF:
      base = kBasePixelShader;
      break;
    case 0x7FFE:
      base = kBaseVertexFragment;
      break;
    case 0x7FFF:
      base = kBasePixelFragment;
      break;
    default:
      return nullptr;
  }
  auto* value = new ExpressionNode(kValueCode, asmBlock->code, asmBlock->codeSize, asmBlock->token);
  return value ? ObjectLiteral(base, value) : m_parser.OutOfMemory();
}

}  // namespace gxl::shader
