// Scopes, the names declared in them, and name lookup with overload ranking.
// Each scope's names live in the parser's ordered index (byte order, newest
// declaration first per name), which stays balanced as names arrive.
#include <cstring>
#include <functional>
#include <vector>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

const char* const kClassNames[] = {"type", "variable", "function", "techinque", "pass"};

const char* ClassName(std::uint32_t declClass) { return declClass < 5 ? kClassNames[declClass] : "unknown"; }

DeclarationNode* DeclarationIn(const ParseNode* cell) {
  const ParseNode* value = cell ? cell->first : nullptr;
  return value && value->kind == NodeKind::Declaration
             ? const_cast<DeclarationNode*>(static_cast<const DeclarationNode*>(value))
             : nullptr;
}

bool IsLoopVariable(const DeclarationNode* d) { return (d->flags & kDeclLoopControl) != 0; }

// Whether a chain holds a declaration that is no loop control variable.
bool HoldsOrdinary(const ParseNode* chain) {
  for (; chain; chain = chain->second) {
    const DeclarationNode* d = DeclarationIn(chain);
    if (d && !IsLoopVariable(d)) return true;
  }
  return false;
}

}  // namespace

std::size_t HlslParser::NameHash::operator()(const NameKey& k) const {
  return std::hash<std::string_view>()(k.name) ^ (std::hash<const void*>()(k.scope) * 0x9E3779B97F4A7C15ull);
}

bool HlslParser::NameEqual::operator()(const NameKey& a, const NameKey& b) const {
  return a.scope == b.scope && std::strcmp(a.name, b.name) == 0;
}

HRESULT HlslParser::PushScope(std::uint32_t kind, const char* ownerName) {
  auto* scope = new ScopeNode(kind, ownerName, nullptr, nullptr, m_scope);
  if (!scope) {
    OutOfMemory();
    return E_OUTOFMEMORY;
  }
  m_scope = scope;
  return S_OK;
}

HRESULT HlslParser::PopScope() {
  ScopeNode* closing = m_scope;
  if (!closing) {
    GXL_HLSL_INTERNAL_ERROR(*this, &m_token, msg::kInternalScopeUnderflow);
    return E_FAIL;
  }
  ScopeNode* parent = closing->parent;
  if (closing->ownerKind == kScopeFor && parent && parent->ownerKind != kScopeFor && closing->declarations) {
    // A "for" header's variables stay visible after the loop, marked as such.
    std::vector<ParseNode*> cells;
    for (ParseNode* c = closing->declarations; c; c = c->second) cells.push_back(c);
    for (auto it = cells.rbegin(); it != cells.rend(); ++it) {
      DeclarationNode* d = DeclarationIn(*it);
      if (!d) continue;
      d->flags |= kDeclLoopControl;
      if (FAILED(AddName(parent, d))) return E_OUTOFMEMORY;
    }
    cells.back()->second = parent->declarations;
    parent->declarations = closing->declarations;
  }
  if (auto names = m_scopeNames.find(closing); names != m_scopeNames.end()) {
    for (const char* name : names->second) m_names.erase({closing, name});
    m_scopeNames.erase(names);
  }
  m_structComponents.erase(closing);
  m_scope = parent;
  return S_OK;
}

ParseNode* HlslParser::FindNames(const char* name, const ScopeNode* scope) const {
  if (!name || !scope) return nullptr;
  auto it = m_names.find({scope, name});
  return it == m_names.end() ? nullptr : it->second->declarations;
}

HRESULT HlslParser::AddName(ScopeNode* scope, DeclarationNode* declaration) {
  const char* name = IdentifierText(declaration->name);
  if (!name) return S_OK;
  auto [it, inserted] = m_names.try_emplace({scope, name}, nullptr);
  if (inserted && !(it->second = new ParseNodeKind2(name, nullptr, nullptr, nullptr))) {
    m_names.erase(it);
    OutOfMemory();
    return E_OUTOFMEMORY;
  }
  if (inserted) m_scopeNames[scope].push_back(name);
  auto* cell = new ListNode(declaration, it->second->declarations, "Stmts");
  if (!cell) {
    OutOfMemory();
    return E_OUTOFMEMORY;
  }
  it->second->declarations = cell;
  return S_OK;
}

HRESULT HlslParser::DeclareSymbol(DeclarationNode* declaration, bool replace, DeclarationNode** entered) {
  if (entered) *entered = nullptr;
  ScopeNode* scope = m_scope;
  if (!scope) {
    GXL_HLSL_INTERNAL_ERROR(*this, &m_token, msg::kInternalScopeMissing);
    return E_FAIL;
  }
  const char* name = IdentifierText(declaration->name);
  const SourceToken* at = declaration->name ? &static_cast<const TokenNode*>(declaration->name)->token : &m_token;
  for (ParseNode* c = FindNames(name, scope); c; c = c->second) {
    DeclarationNode* existing = DeclarationIn(c);
    if (!existing || IsLoopVariable(existing)) continue;
    if (existing->declClass == kDeclFunction && declaration->declClass == kDeclFunction) continue;
    if (replace && NodesEqual(existing, declaration)) {
      if (entered) *entered = existing;
      return S_OK;
    }
    GXL_HLSL_REPORT(*this, at, msg::kRedefinition, name);
    return E_FAIL;
  }
  if (scope->ownerKind == kScopeBlock && scope->parent && scope->parent->ownerKind == kScopeParameters &&
      FindNames(name, scope->parent)) {
    GXL_HLSL_REPORT(*this, at, msg::kFormalParameterRedefinition, name);
    return E_FAIL;
  }
  auto* copy = new DeclarationNode(*declaration);
  auto* cell = copy ? new ListNode(copy, scope->declarations, "Stmts") : nullptr;
  if (!cell) {
    OutOfMemory();
    return E_OUTOFMEMORY;
  }
  copy->scopeText = scope->ownerName;
  copy->number = ++m_declarationCounter;
  scope->declarations = cell;
  if (FAILED(AddName(scope, copy))) return E_OUTOFMEMORY;
  if (entered) *entered = copy;
  return S_OK;
}

HRESULT HlslParser::LookupName(std::uint32_t declClass, const TokenNode* name, ParseNode* arguments,
                               std::uint32_t argumentCount, const ScopeNode* scope, std::uint32_t options,
                               ParseNode** declaration, ParseNode** candidates, const TokenNode* target) {
  (void)argumentCount;  // the argument list carries its own length
  if (declaration) *declaration = nullptr;
  if (candidates) *candidates = nullptr;
  const char* text = IdentifierText(name);
  const SourceToken* at = name ? &name->token : &m_token;
  DeclarationNode* found[kMaxCandidates];
  std::uint32_t count = 0, best = kNoMatch;
  for (const ScopeNode* s = scope; text && s && count == 0; s = s->parent) {
    const ParseNode* chain = FindNames(text, s);
    for (const ParseNode* c = chain; c; c = c->second) {
      DeclarationNode* d = DeclarationIn(c);
      if (!d) continue;
      if (d->declClass != declClass) {
        if (options & (kLookupReport | kLookupCost))
          GXL_HLSL_REPORT(*this, at, msg::kIdentifierClassMismatch, text, ClassName(d->declClass),
                          ClassName(declClass));
        return E_FAIL;
      }
      const std::uint32_t cost = (options & kLookupCost) ? ArgumentCost(d, target, arguments, options) : 0;
      if (cost == kNoMatch) continue;
      if (cost < best) {
        best = cost;
        count = 0;
      }
      if (cost == best && count < kMaxCandidates) found[count++] = d;
      if (IsLoopVariable(d) && cost == 0 && !(d->flags & kDeclLoopWarned)) {
        const bool outerConflict =
            s->parent && s->parent->ownerKind == kScopeFor && HoldsOrdinary(FindNames(text, s->parent));
        if (outerConflict || HoldsOrdinary(c->second)) {
          GXL_HLSL_REPORT(*this, at, msg::kLoopVariableOutsideScope, text);
          d->flags |= kDeclLoopWarned;
        }
      }
    }
  }
  if (count == 0) {
    TypeNode* builtin = nullptr;
    if (!(options & kLookupItself) && !candidates && text) {
      if (declClass == kDeclVariable && std::strcmp(text, "NULL") == 0) {
        if (!declaration) return S_OK;
        auto* type = new TypeNode(kShapeObject, kBaseNull, 1, 1, TypeNode::kConst);
        ParseNode* value = type ? MakeLiteralNode(type, FoldedValue{{kComponentObject, 0}}, *at) : nullptr;
        auto* description =
            value ? new ParseNodeKind11(kNoSlot, 1, 0, 0, type, value, nullptr, nullptr, nullptr) : nullptr;
        auto* null = description
                         ? new DeclarationNode(kDeclVariable, const_cast<TokenNode*>(name), description, nullptr)
                         : nullptr;
        if (!null) return OutOfMemory(), E_OUTOFMEMORY;
        *declaration = null;
        return S_OK;
      }
      if (declClass == kDeclType && (builtin = BuiltinType(text)) != nullptr) {
        if (declaration) *declaration = builtin;
        return S_OK;
      }
    }
    if (options & kLookupReport) GXL_HLSL_REPORT(*this, at, msg::kUndeclaredIdentifier, text ? text : "");
    return S_FALSE;
  }
  if ((options & kLookupCost) && count > 1) {
    for (std::uint32_t i = 1; i < count; ++i) {
      if (!SameFunction(found[0], found[i])) {
        GXL_HLSL_REPORT(*this, at, msg::kAmbiguousCall, text);
        return E_FAIL;
      }
    }
  }
  if (declaration) {
    *declaration = (options & kLookupItself) ? found[0] : new DeclarationNode(*found[0]);
    if (!*declaration) return OutOfMemory(), E_OUTOFMEMORY;
  }
  if (candidates) {
    ParseNode* list = nullptr;
    for (std::uint32_t i = count; i-- > 0;) {
      auto* value = new ExpressionNode(kValueFunction, static_cast<const void*>(found[i]), 0, *at);
      auto* cell = value ? new ListNode(value, list, "Values") : nullptr;
      if (!cell) return OutOfMemory(), E_OUTOFMEMORY;
      list = cell;
    }
    *candidates = list;
  }
  return S_OK;
}

}  // namespace gxl::shader
