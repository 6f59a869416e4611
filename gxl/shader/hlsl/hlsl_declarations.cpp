// Variable and function declarations: storage classes and modifiers checked
// per context, array dimensions, symbol slots, initial and default values.
#include <algorithm>
#include <vector>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

const char* const kContextNames[] = {"global variables", "structure members",      "function parameters",
                                     "local variables",  "loop control variables", "annotation members"};
const char* const kValueNames[] = {"initial value", "initializer",   "default value",
                                   "initial value", "initial value", "value"};

// The last TokenNode of a semantics list (or of the list a ParseNodeKind17 holds).
ParseNode* LastSemantic(const ParseNode* semantics) {
  if (semantics && semantics->kind == NodeKind::Kind17)
    semantics = static_cast<const ParseNodeKind17*>(semantics)->semantics;
  ParseNode* last = nullptr;
  for (const ParseNode* c = semantics; c && c->kind == NodeKind::List; c = c->second)
    if (c->first && c->first->kind == NodeKind::Token) last = c->first;
  return last;
}

}  // namespace

bool HlslParser::SameParameters(const DeclarationNode* a, const DeclarationNode* b) {
  const ParseNodeKind10* f = FunctionDescription(a);
  const ParseNodeKind10* g = FunctionDescription(b);
  if (!f || !g) return false;
  const ParseNode* p = f->parameters;
  const ParseNode* q = g->parameters;
  for (; p && q; p = p->second, q = q->second) {
    const ParseNodeKind11* x = VariableDescription(p->first);
    const ParseNodeKind11* y = VariableDescription(q->first);
    if (!x || !y || (x->storage & kUsageInOut) != (y->storage & kUsageInOut) || !TypesEqual(x->nodes[0], y->nodes[0]))
      return false;
  }
  return !p && !q;
}

bool HlslParser::SameFunction(const DeclarationNode* a, const DeclarationNode* b) {
  const ParseNodeKind10* f = FunctionDescription(a);
  const ParseNodeKind10* g = FunctionDescription(b);
  return f && g && TypesEqual(f->returnType, g->returnType) && SameParameters(a, b);
}

ParseNode* HlslParser::ImplicitZero(const ParseNode* type, const SourceToken& at) {
  auto* literalInt = new TypeNode(kShapeScalar, kBaseLiteralInt, 1, 1, 0);
  ParseNode* zero = literalInt ? MakeLiteralNode(literalInt, FoldedValue{{kComponentInt, 0}}, at) : OutOfMemory();
  return zero ? Convert(zero, type) : nullptr;
}

ParseNode* HlslParser::CheckDeclarationModifiers(const DeclarationNode* declarator, const ParseNodeKind7* usageType,
                                                 ParseNode* semantics, ParseNode* initialValue) {
  if (!declarator || !usageType) return nullptr;
  std::uint32_t k = m_scope ? m_scope->ownerKind : kScopeGlobal;
  if (k > kScopeAnnotation) k = kScopeBlock;  // technique and state blocks declare like blocks
  const auto* nameNode = static_cast<const TokenNode*>(declarator->name);
  const char* name = IdentifierText(nameNode, "");
  const SourceToken& at = nameNode ? nameNode->token : m_token;
  const char* context = kContextNames[k];
  const char* valueName = kValueNames[k];
  std::uint32_t usage = usageType->usage;

  // The declarator's dimensions wrap the declared type, the innermost last.
  std::vector<const ParseNode*> dimensions;
  for (const ParseNode* c = declarator->description; c && c->kind == NodeKind::List; c = c->second)
    dimensions.push_back(c->first);
  ParseNode* type = usageType->parts[1];
  bool implicit = false;
  for (std::size_t i = dimensions.size(); i-- > 0;) {
    if (!dimensions[i]) {
      if (i != 0) {
        GXL_HLSL_REPORT(*this, &at, msg::kSecondaryDimensionsNotExplicit, name);
        return nullptr;
      }
      implicit = true;
      continue;
    }
    std::int32_t n = 0;
    if (!LiteralDimension(dimensions[i], &n)) {
      GXL_HLSL_REPORT(*this, &at, msg::kNamedArrayDimensionsNotLiteral, name);
      return nullptr;
    }
    if (!(type = new ArrayTypeNode(type, n < 1 ? 0u : static_cast<std::uint32_t>(std::min(n, 65537)))))
      return OutOfMemory();
  }
  if (implicit) {
    if (k == kScopeStruct || k == kScopeParameters) {
      GXL_HLSL_REPORT(*this, &at, msg::kArrayDimensionsNotExplicit, name, context);
      return nullptr;
    }
    if (!initialValue || initialValue->kind != NodeKind::List) {
      GXL_HLSL_REPORT(*this, &at, msg::kImplicitArrayMissing, name, valueName);
      return nullptr;
    }
    if (!(initialValue = MakeInitializerList(initialValue, at))) return nullptr;
    const std::uint64_t element = ComponentCount64(type);
    const std::uint64_t total = ComponentCount64(static_cast<ParseNodeKind13*>(initialValue)->type);
    if (element == 0 || total % element != 0) {
      GXL_HLSL_REPORT(*this, &at, msg::kImplicitArrayMismatch, name, valueName);
      return nullptr;
    }
    if (!(type = new ArrayTypeNode(type, static_cast<std::uint32_t>(std::min<std::uint64_t>(total / element, 65537)))))
      return OutOfMemory();
  }
  if (!CheckElementCount(type, nameNode)) return nullptr;
  const std::uint32_t count = ComponentCount(type);
  if (k == kScopeStruct) {
    std::uint64_t& members = m_structComponents[m_scope];
    if ((members += count) > kMaxTypeComponents) {
      GXL_HLSL_REPORT(*this, &at, msg::kArrayDimensionRange, name);
      return nullptr;
    }
  }
  std::uint32_t slot = kNoSlot;
  if (m_scope && m_scope->parent) {
    slot = m_symbolSlots;
    m_symbolSlots = count > kNoSlot - m_symbolSlots ? kNoSlot : m_symbolSlots + count;
  }

  if (usageType->parts[0]) GXL_HLSL_REPORT(*this, &at, msg::kCannotBeTargetSpecific, name, context);
  if (usage & kUsageInline) {
    GXL_HLSL_REPORT(*this, &at, msg::kCannotBeInline, name, context);
    usage &= ~kUsageInline;
  }
  const bool isConst = IsConst(type);
  if (k == kScopeStruct && isConst) GXL_HLSL_REPORT(*this, &at, msg::kCannotBeConst, name, context);
  if (k == kScopeParameters && isConst && (usage & kUsageInOut) == kUsageOut)
    GXL_HLSL_REPORT(*this, &at, msg::kOutputParameterConst, name);
  if ((k == kScopeBlock || k == kScopeFor) && !IsNumericType(type))
    GXL_HLSL_REPORT(*this, &at, msg::kMustBeNumeric, name, context);
  if (k == kScopeParameters && !(usage & kUsageInOut)) usage |= kUsageIn;

  if (k == kScopeGlobal) {
    if ((usage & kUsageStatic) && (usage & kUsageExtern)) {
      GXL_HLSL_REPORT(*this, &at, msg::kExternCannotBeStatic, name, context);
      usage &= ~kUsageStatic;
    }
    if ((usage & kUsageStatic) && (usage & kUsageUniform)) {
      GXL_HLSL_REPORT(*this, &at, msg::kUniformCannotBeStatic, name, context);
      usage &= ~kUsageStatic;
    }
    if (!(usage & kUsageStatic)) usage |= kUsageExtern | kUsageUniform;
  } else {
    if ((usage & kUsageStatic) && k != kScopeBlock && k != kScopeFor) {
      GXL_HLSL_REPORT(*this, &at, msg::kCannotBeStatic, name, context);
      usage &= ~kUsageStatic;
    }
    if ((usage & kUsageUniform) && k != kScopeParameters) {
      GXL_HLSL_REPORT(*this, &at, msg::kCannotBeUniform, name, context);
      usage &= ~kUsageUniform;
    }
    if ((usage & kUsageUniform) && (usage & kUsageOut)) {
      GXL_HLSL_REPORT(*this, &at, msg::kCannotBeUniformOut, name, context);
      usage &= ~kUsageUniform;
    }
    if (usage & kUsageExtern) {
      GXL_HLSL_REPORT(*this, &at, msg::kCannotBeExtern, name, context);
      usage &= ~kUsageExtern;
    }
    if (usage & kUsageShared) {
      GXL_HLSL_REPORT(*this, &at, msg::kCannotBeShared, name, context);
      usage &= ~kUsageShared;
    }
  }
  if ((usage & kUsageVolatile) && k != kScopeParameters && k != kScopeBlock && k != kScopeFor) {
    GXL_HLSL_REPORT(*this, &at, msg::kCannotBeVolatile, name, context);
    usage &= ~kUsageVolatile;
  }
  if (k == kScopeAnnotation) {
    if (!(type = ConstCopy(type))) return nullptr;
    usage |= kUsageUniform;
  }
  const bool finalConst = IsConst(type);

  // The initial value: checked, converted, then kept, made the default, or
  // assigned by a statement after the declaration.
  ParseNode* value = initialValue;
  bool implicitZero = false;
  if (!value) {
    const bool zeroed = k == kScopeGlobal || k == kScopeBlock || k == kScopeFor;
    if ((usage & kUsageStatic) && !finalConst && zeroed) {
      if (!(value = ImplicitZero(type, at))) return nullptr;
      implicitZero = true;
    } else if ((finalConst && (k == kScopeBlock || k == kScopeFor)) ||
               (finalConst && (usage & kUsageStatic) && k == kScopeGlobal) || k == kScopeAnnotation) {
      GXL_HLSL_REPORT(*this, &at, msg::kMissingValue, name, valueName);
    }
  } else if (k == kScopeStruct) {
    GXL_HLSL_REPORT(*this, &at, msg::kCannotHave, name, context, valueName);
    value = nullptr;
  } else if (k == kScopeParameters && !IsNumericType(type)) {
    GXL_HLSL_REPORT(*this, &at, msg::kNonNumericUniformCannotHave, name, context, valueName);
    value = nullptr;
  } else if (k == kScopeParameters && (usage & kUsageInOut) == kUsageOut) {
    GXL_HLSL_REPORT(*this, &at, msg::kOutputOnlyCannotHave, name, context, valueName);
    value = nullptr;
  }
  if (value && !implicitZero && (implicit || value->kind == NodeKind::List)) {
    // Braces give one value of their elements' types, converted as a whole.
    if (!implicit && !(value = MakeInitializerList(value, at))) return nullptr;
    const ParseNode* listType = static_cast<ParseNodeKind13*>(value)->type;
    if (ComponentCount64(listType) != count) {
      ReportConversionError(&at, name, type, listType, true);
      value = nullptr;
    } else if (!(value = Convert(value, type))) {
      return nullptr;
    }
  }
  if (value && value->kind != NodeKind::Kind13) value = nullptr;
  // Numeric inputs and uniforms need literals; object values (shaders,
  // samplers) are kept as they are.
  const bool numeric = IsNumericType(type);
  if (value && !implicitZero && (usage & (kUsageIn | kUsageUniform)) && numeric) {
    ParseNode* folded = IsLiteral(value) ? value : FoldToLiteral(value);
    if (!folded) GXL_HLSL_REPORT(*this, &at, msg::kMustBeLiteral, name, valueName);
    value = folded;
  }
  if (value && !implicitZero) {
    const ParseNode* valueType = static_cast<ParseNodeKind13*>(value)->type;
    if (!CanConvert(type, valueType, false)) {
      ReportConversionError(&at, name, type, valueType, false);
      value = nullptr;
    } else if (!(value = Convert(value, type))) {
      return nullptr;
    }
  }
  ParseNode* kept = nullptr;
  ParseNode* defaultValue = nullptr;
  bool initialise = false;
  if (value) {
    if (k == kScopeParameters || (usage & kUsageUniform)) {
      defaultValue = IsLiteral(value) || !numeric ? value : FoldToLiteral(value);
    } else if (finalConst && !(usage & kUsageIn) && IsLiteral(value)) {
      kept = value;
    } else {
      initialise = true;
    }
  }

  if (semantics && k != kScopeGlobal && k != kScopeStruct && k != kScopeParameters) {
    GXL_HLSL_REPORT(*this, &at, msg::kCannotHaveSemantics, name, context);
    semantics = nullptr;
  }
  ParseNode* annotations = declarator->contents;
  if (annotations && k != kScopeGlobal && k != kScopeParameters) {
    GXL_HLSL_REPORT(*this, &at, msg::kCannotHaveAnnotations, name, context);
    annotations = nullptr;
  }

  auto* description =
      new ParseNodeKind11(slot, count, k, usage, type, kept, defaultValue, LastSemantic(semantics), semantics);
  auto* declaration =
      description ? new DeclarationNode(kDeclVariable, declarator->name, description, annotations) : nullptr;
  if (!declaration) return OutOfMemory();
  declaration->registerIndex = declarator->registerIndex;
  DeclarationNode* entered = nullptr;
  if (FAILED(DeclareSymbol(declaration, false, &entered))) return nullptr;
  auto* result = new ListNode(entered, nullptr, "Stmts");
  if (!result) return OutOfMemory();
  if (initialise) {
    ParseNode* target = MakeVariableReference(description, type, at);
    ParseNode* statement =
        target ? MakeExpressionStatement(MakeOperator(kExprInitialise, target, value, true)) : nullptr;
    if (!statement) return nullptr;
    result->second = statement;
  }
  return result;
}

ParseNode* HlslParser::DeclareFunction(const ParseNodeKind7* usageType, const TokenNode* name, ParseNode* parameters,
                                       ParseNode* semantics) {
  const char* text = IdentifierText(name, "");
  const SourceToken& at = name ? name->token : m_token;
  const std::uint32_t usage = usageType ? usageType->usage : 0;
  const ParseNode* returnType = usageType ? usageType->parts[1] : nullptr;
  if (usage & kUsageUniform) GXL_HLSL_REPORT(*this, &at, msg::kFunctionCannotBeUniform, text);
  if (usage & kUsageExtern) GXL_HLSL_REPORT(*this, &at, msg::kFunctionCannotBeExtern, text);
  if (!IsNumericType(returnType)) GXL_HLSL_REPORT(*this, &at, msg::kReturnNotNumeric, text);
  bool defaults = false;
  for (const ParseNode* c = parameters; c && c->kind == NodeKind::List; c = c->second) {
    const ParseNodeKind11* p = VariableDescription(c->first);
    if (!p) continue;
    if (defaults && !p->nodes[2]) {
      GXL_HLSL_REPORT(*this, &at, msg::kMissingDefaultValue, text,
                      IdentifierText(static_cast<const DeclarationNode*>(c->first)->name, ""));
    }
    defaults |= p->nodes[2] != nullptr;
  }
  if (!returnType && semantics) {
    GXL_HLSL_REPORT(*this, &at, msg::kVoidFunctionSemantic, text);
    semantics = nullptr;
  }
  ParseNode* constReturn = returnType ? ConstCopy(returnType) : nullptr;
  if (returnType && !constReturn) return nullptr;

  if ((!m_scope || m_scope->ownerKind != kScopeParameters) && FAILED(PushScope(kScopeParameters, text))) return nullptr;
  ScopeNode* parameterScope = m_scope;
  ScopeNode* declaringScope = parameterScope->parent;
  auto* description = new ParseNodeKind10(0, ComponentCount(constReturn), 0, usageType ? usageType->parts[0] : nullptr,
                                          constReturn, parameters, nullptr, semantics, nullptr, nullptr);
  auto* declaration =
      description ? new DeclarationNode(kDeclFunction, const_cast<TokenNode*>(name), description, nullptr) : nullptr;
  if (!declaration) return OutOfMemory();

  // An earlier declaration of the same signature lends its slot and body.
  const DeclarationNode* earlier = nullptr;
  for (const ParseNode* c = declaringScope ? FindNames(text, declaringScope) : nullptr; c; c = c->second) {
    const auto* e = static_cast<const DeclarationNode*>(c->first);
    if (e->declClass != kDeclFunction || !SameParameters(e, declaration)) continue;
    if (!earlier || (!FunctionDescription(earlier)->hasBody && FunctionDescription(e)->hasBody)) earlier = e;
  }
  m_scope = declaringScope;
  DeclarationNode* entered = nullptr;
  const HRESULT hr = DeclareSymbol(declaration, true, &entered);
  m_scope = parameterScope;
  if (FAILED(hr)) return nullptr;
  if (earlier) {
    const ParseNodeKind10* e = FunctionDescription(earlier);
    if (!TypesEqual(e->returnType, constReturn)) GXL_HLSL_REPORT(*this, &at, msg::kReturnDiffersFromPrototype, text);
    description->returnSlot = e->returnSlot;
    description->body = e->body;
    description->hasBody = e->hasBody;
  } else {
    description->returnSlot = m_symbolSlots;
    m_symbolSlots += std::min(description->returnComponents, kNoSlot - m_symbolSlots);
    ++m_functionCount;
  }
  parameterScope->ownerName = text;
  m_currentFunction = entered;
  auto* result = new ListNode(entered, nullptr, "Stmts");
  return result ? result : OutOfMemory();
}

HRESULT HlslParser::EndFunction(bool defined, ParseNode* body) {
  if (ParseNodeKind10* f = FunctionDescription(m_currentFunction); f && defined) {
    const auto* name = static_cast<const TokenNode*>(m_currentFunction->name);
    if (f->hasBody) {
      GXL_HLSL_REPORT(*this, name ? &name->token : &m_token, msg::kAlreadyHasBody, IdentifierText(name, ""));
    } else {
      f->body = body;
      f->hasBody = 1;
    }
  }
  m_currentFunction = nullptr;
  return m_scope && m_scope->ownerKind == kScopeParameters ? PopScope() : S_OK;
}

}  // namespace gxl::shader
