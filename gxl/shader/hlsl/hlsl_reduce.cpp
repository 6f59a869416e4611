// Grammar actions for usages, types, declarations, functions, statements,
// techniques and passes.
#include "gxl/shader/hlsl/hlsl_reduce.h"

#include <vector>

namespace gxl::shader {
namespace {

// Marks a pushed usage whose type failed: its declarators declare nothing.
constexpr std::uint32_t kUsageFailed = 0x80000000u;

}  // namespace

// --- Usages and types -------------------------------------------------------------

ParseNode* HlslGrammar::Usage(std::uint32_t bits) {
  auto* usage = new ParseNodeKind7(bits, nullptr, nullptr);
  return usage ? usage : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::TargetUsage(ParseNode* name) {
  auto* usage = new ParseNodeKind7(0, name, nullptr);
  return usage ? usage : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::MergeUsage(ParseNode* accumulated, ParseNode* added, const SourceToken* at) {
  auto* a = static_cast<ParseNodeKind7*>(accumulated);
  const auto* b = static_cast<const ParseNodeKind7*>(added);
  if (!a || !b) return nullptr;
  if (a->usage & b->usage) GXL_HLSL_REPORT(m_parser, at, msg::kDuplicateUsages);
  if (a->parts[0] && b->parts[0]) SyntaxError(at ? *at : m_parser.m_token);
  a->usage |= b->usage;
  if (!a->parts[0]) a->parts[0] = b->parts[0];
  return a;
}

ParseNode* HlslGrammar::ScalarType(std::uint32_t base) { return VectorType(base, 1, 1); }

ParseNode* HlslGrammar::VectorType(std::uint32_t base, std::uint32_t rows, std::uint32_t columns) {
  const std::uint32_t shape = rows > 1 ? kShapeMatrix : columns > 1 ? kShapeVector : kShapeScalar;
  auto* type = new TypeNode(shape, base, rows, columns, 0);
  return type ? type : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::ObjectType(std::uint32_t base) {
  auto* type = new TypeNode(kShapeObject, base, 1, 1, 0);
  return type ? type : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::NamedType(ParseNode* name, bool structOnly) {
  TokenNode* token = AsToken(name);
  ParseNode* found = nullptr;
  if (!token ||
      m_parser.LookupName(kDeclType, token, nullptr, 0, m_parser.m_scope, kLookupReport, &found, nullptr) != S_OK)
    return nullptr;
  const ParseNode* type = ResolveType(found);
  if (structOnly && !(type && type->kind == NodeKind::List)) {
    GXL_HLSL_REPORT(m_parser, &token->token, msg::kInvalidUse, IdentifierText(token, ""));
    return nullptr;
  }
  // A built-in name comes back as a new node; a declared one is copied.
  return found && found->kind == NodeKind::Type ? found : Made(m_parser.CopyType(found));
}

ParseNode* HlslGrammar::SizedVector(ParseNode* element, ParseNode* size) {
  if (!element || !(size = Operand(size))) return nullptr;
  return Made(m_parser.MakeVectorType(element, size));
}

ParseNode* HlslGrammar::SizedMatrix(ParseNode* element, ParseNode* rows, ParseNode* columns) {
  if (!element || !(rows = Operand(rows)) || !(columns = Operand(columns))) return nullptr;
  return Made(m_parser.MakeMatrixType(element, rows, columns));
}

void HlslGrammar::OpenStruct() { m_parser.PushScope(kScopeStruct, nullptr); }

ParseNode* HlslGrammar::CloseStruct(ParseNode* name, ParseNode* members) {
  if (FAILED(m_parser.PopScope())) return nullptr;
  // The members as the struct type holds them: declarations, objects left out.
  ParseNode* type = nullptr;
  for (ParseNode* c = members; c; c = c->second) {
    ParseNode* member = c->first;
    const ParseNodeKind11* variable = VariableDescription(member);
    if (!variable) continue;
    if (!m_parser.IsNumericType(variable->nodes[0])) {
      const auto* memberName = static_cast<const TokenNode*>(static_cast<DeclarationNode*>(member)->name);
      GXL_HLSL_REPORT(m_parser, memberName ? &memberName->token : &m_parser.m_token, msg::kObjectInStruct);
      continue;
    }
    type = Append(type, Cell(member, "Decls"));
    if (m_parser.IsFatal()) return nullptr;
  }
  if (name && type) {
    auto* declaration = new DeclarationNode(kDeclType, name, type, nullptr);
    if (!declaration) return m_parser.OutOfMemory();
    m_parser.DeclareSymbol(declaration, false, nullptr);  // a clash is reported; the type still serves
  }
  return type;
}

ParseNode* HlslGrammar::PushUsage(ParseNode* usage, ParseNode* type, bool isVoid) {
  ParseNodeKind7* entry = m_parser.PushUsageType(static_cast<ParseNodeKind7*>(usage), type, &m_parser.m_token);
  if (!entry) return nullptr;
  if (!isVoid && !type) {
    entry->usage |= kUsageFailed;
    return nullptr;
  }
  return entry;
}

// --- Declarations -----------------------------------------------------------------

ParseNode* HlslGrammar::Declarator(ParseNode* name, ParseNode* dimensions, ParseNode* semantics, ParseNode* annotations,
                                   ParseNode* value) {
  const ParseNodeKind7* usage = m_parser.CurrentUsageType();
  if (!name || !usage || (usage->usage & kUsageFailed)) return nullptr;
  DeclarationNode declarator(kDeclVariable, name, dimensions, annotations);
  return Made(m_parser.CheckDeclarationModifiers(&declarator, usage, semantics, value));
}

ParseNode* HlslGrammar::EndDeclaration(ParseNode* declarations) {
  m_parser.PopUsageType();
  return declarations;
}

ParseNode* HlslGrammar::Dimension(ParseNode* size) {
  if ((size = Operand(size))) return size;
  SourceToken one = m_parser.m_token;
  one.kind = kTokenInt;
  one.value.number = 1;
  return Made(m_parser.MakeLiteral(one));
}

ParseNode* HlslGrammar::Typedef(ParseNode* name, ParseNode* dimensions) {
  const ParseNodeKind7* usage = m_parser.CurrentUsageType();
  TokenNode* token = AsToken(name);
  if (!token || !usage || (usage->usage & kUsageFailed)) return nullptr;
  // The dimensions wrap the type, the innermost last.
  ParseNode* type = usage->parts[1];
  std::vector<ParseNode*> levels;
  for (ParseNode* c = dimensions; c; c = c->second) levels.push_back(c->first);
  for (auto level = levels.rbegin(); level != levels.rend(); ++level)
    if (!(type = m_parser.MakeArrayType(type, Operand(*level), token))) return nullptr;
  auto* declaration = new DeclarationNode(kDeclType, token, type, nullptr);
  if (!declaration) return m_parser.OutOfMemory();
  if (FAILED(m_parser.DeclareSymbol(declaration, false, nullptr))) return nullptr;
  return Cell(token, "TypeDefs");
}

ParseNode* HlslGrammar::Semantics(ParseNode* items) {
  ParseNode* semantics = nullptr;
  ParseNode* registers = nullptr;
  for (ParseNode* c = items; c; c = c->second) {
    ParseNode* item = c->first;
    if (!item) continue;
    if (item->kind == NodeKind::Kind17) {
      registers = static_cast<ParseNodeKind17*>(item)->registers;
    } else {
      semantics = Append(semantics, Cell(item, "Semantics"));
    }
  }
  if (m_parser.IsFatal()) return nullptr;
  auto* binding = new ParseNodeKind17(semantics, registers);
  return binding ? binding : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::Register(ParseNode* profile, ParseNode* name) {
  // The register part: the profile when one is named, then the register.
  ParseNode* registers = Append(profile ? Cell(profile, "Semantics") : nullptr, Cell(name, "Semantics"));
  if (m_parser.IsFatal()) return nullptr;
  auto* binding = new ParseNodeKind17(nullptr, registers);
  return binding ? binding : m_parser.OutOfMemory();
}

void HlslGrammar::OpenAnnotations() { m_parser.PushScope(kScopeAnnotation, nullptr); }

ParseNode* HlslGrammar::CloseAnnotations(ParseNode* declarations) {
  return FAILED(m_parser.PopScope()) ? nullptr : declarations;
}

// --- Functions ----------------------------------------------------------------------

void HlslGrammar::OpenParameters(ParseNode* functionName) {
  m_parser.PushScope(kScopeParameters, IdentifierText(functionName));
}

ParseNode* HlslGrammar::Parameter(ParseNode* name, ParseNode* dimensions, ParseNode* semantics, ParseNode* annotations,
                                  ParseNode* value) {
  ParseNode* declared = Declarator(name, dimensions, semantics, annotations, value);
  m_parser.PopUsageType();
  return declared;
}

ParseNode* HlslGrammar::DeclareFunction(ParseNode* usageType, ParseNode* name, ParseNode* parameters,
                                        ParseNode* semantics) {
  auto* usage = static_cast<ParseNodeKind7*>(usageType);
  ParseNode* declared = nullptr;
  if (usage && AsToken(name)) declared = Made(m_parser.DeclareFunction(usage, AsToken(name), parameters, semantics));
  m_parser.PopUsageType();
  return declared;
}

ParseNode* HlslGrammar::EndFunction(ParseNode* function, bool defined, ParseNode* body) {
  // Closes the parameter scope whether or not the declaration succeeded.
  m_parser.EndFunction(defined && function, body);
  return function;
}

// --- Statements -------------------------------------------------------------------

void HlslGrammar::OpenScope(std::uint32_t kind) { m_parser.PushScope(kind, nullptr); }

ParseNode* HlslGrammar::CloseBlock(ParseNode* statements) { return FAILED(m_parser.PopScope()) ? nullptr : statements; }

ParseNode* HlslGrammar::ExpressionStatement(ParseNode* expression) {
  if (!(expression = Operand(expression))) return nullptr;
  return Made(m_parser.MakeExpressionStatement(expression));
}

ParseNode* HlslGrammar::Return(ParseNode* value, bool hasValue) {
  if (hasValue && !(value = Operand(value))) return nullptr;
  return Made(m_parser.MakeReturn(value, m_parser.m_token));
}

ParseNode* HlslGrammar::Discard() { return Made(m_parser.MakeDiscard()); }

ParseNode* HlslGrammar::If(ParseNode* condition, ParseNode* then, ParseNode* otherwise) {
  if (!(condition = Operand(condition))) return nullptr;
  return Made(m_parser.MakeIf(condition, then, otherwise));
}

ParseNode* HlslGrammar::While(ParseNode* condition, ParseNode* body) {
  if (!(condition = Operand(condition))) return nullptr;
  return Made(m_parser.MakeLoop(kStatementWhile, nullptr, condition, nullptr, body));
}

ParseNode* HlslGrammar::Do(ParseNode* body, ParseNode* condition) {
  if (!(condition = Operand(condition))) return nullptr;
  return Made(m_parser.MakeLoop(kStatementDo, nullptr, condition, nullptr, body));
}

ParseNode* HlslGrammar::ForHeader(ParseNode* init, ParseNode* condition, ParseNode* step) {
  auto* header = new StatementNode(kStatementFor, init, Operand(condition), Operand(step), nullptr);
  return header ? header : m_parser.OutOfMemory();
}

ParseNode* HlslGrammar::For(ParseNode* header, ParseNode* body) {
  const auto* h = static_cast<const StatementNode*>(header);
  ParseNode* loop =
      h ? Made(m_parser.MakeLoop(kStatementFor, h->children[0], h->children[1], h->children[2], body)) : nullptr;
  // The loop's variables move out to the enclosing scope.
  return FAILED(m_parser.PopScope()) ? nullptr : loop;
}

// --- Techniques and passes ---------------------------------------------------------

void HlslGrammar::OpenTechnique() { m_parser.PushScope(kScopeTechnique, nullptr); }

ParseNode* HlslGrammar::Technique(ParseNode* name, ParseNode* annotations, ParseNode* passes) {
  if (FAILED(m_parser.PopScope())) return nullptr;
  auto* technique = new DeclarationNode(kDeclTechnique, name, annotations, passes);
  if (!technique) return m_parser.OutOfMemory();
  DeclarationNode* entered = nullptr;
  if (FAILED(m_parser.DeclareSymbol(technique, false, &entered))) return nullptr;
  ++m_parser.m_techniqueCount;
  return Cell(entered, "Stmts");
}

ParseNode* HlslGrammar::Pass(ParseNode* name, ParseNode* annotations, ParseNode* states) {
  auto* pass = new DeclarationNode(kDeclPass, name, annotations, states);
  if (!pass) return m_parser.OutOfMemory();
  DeclarationNode* entered = nullptr;
  if (FAILED(m_parser.DeclareSymbol(pass, false, &entered))) return nullptr;
  return Cell(entered, "Passes");
}

}  // namespace gxl::shader
