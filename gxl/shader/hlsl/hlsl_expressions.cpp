// Expression nodes: literals, names, operators, constructors and initialiser
// lists, each type-checked as it is built, with implicit conversions made
// explicit and literal operands folded at once.
#include <algorithm>
#include <vector>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

// The operator levels below an operand: an expression's own depth, a list's
// deepest element.
std::uint32_t DepthOf(const ParseNode* node) {
  if (!node) return 0;
  if (node->kind == NodeKind::Kind13) return static_cast<const ParseNodeKind13*>(node)->depth;
  std::uint32_t depth = 0;
  if (node->kind == NodeKind::List) {
    for (const ParseNode* c = node; c && c->kind == NodeKind::List; c = c->second)
      depth = std::max(depth, DepthOf(c->first));
  }
  return depth;
}

bool IsNumericTypeNode(const ParseNode* type) {
  const TypeNode* t = AsTypeNode(type);
  return t && t->shape <= kShapeMatrix;
}

bool IsBoolTypeNode(const ParseNode* type) {
  const TypeNode* t = AsTypeNode(type);
  return t && t->shape <= kShapeMatrix && t->baseType == kBaseBool;
}

}  // namespace

ParseNodeKind13* HlslParser::NewExpression(const ParseNode* type, std::uint32_t op, ParseNode* left, ParseNode* right,
                                           const SourceToken& token) {
  const std::uint32_t depth = 1 + std::max(DepthOf(left), DepthOf(right));
  if (depth > kMaxExpressionDepth) {
    GXL_HLSL_INTERNAL_ERROR(*this, &token, msg::kInternalExpressionTooComplex);
    return nullptr;
  }
  auto* node = new ParseNodeKind13(const_cast<ParseNode*>(type), op, left, right, 1, token);
  if (!node) return OutOfMemory();
  node->depth = depth;
  const ParseNode* t = ResolveType(type);
  if (!t) {
    node->rows = node->columns = 0;
  } else if (t->kind == NodeKind::Type) {
    const auto* n = static_cast<const TypeNode*>(t);
    node->rows = n->shape == kShapeMatrix ? n->rows : 1;
    node->columns = n->shape == kShapeVector || n->shape == kShapeMatrix ? n->columns : 1;
  } else {
    node->rows = 1;
    node->columns = ComponentCount(t);
  }
  return node;
}

ParseNode* HlslParser::Finish(ParseNodeKind13* node) {
  if (!node || !IsFoldable(node)) return node;
  ParseNode* literal = FoldToLiteral(node);
  return literal ? literal : node;
}

ParseNode* HlslParser::Convert(ParseNode* expression, const ParseNode* type) {
  ParseNodeKind13* e = AsExpression(expression);
  if (!e) return nullptr;
  if (TypesEqual(e->type, type)) return e;
  return Finish(NewExpression(type, kExprValue, e, nullptr, e->token));
}

bool HlslParser::IsLiteral(const ParseNode* expression) const {
  const ParseNode* e = expression;
  if (!e || e->kind != NodeKind::Kind13) return false;
  const auto* n = static_cast<const ParseNodeKind13*>(e);
  if (n->op != kExprValue || !n->left || n->left->kind != NodeKind::List) return false;
  for (const ParseNode* c = n->left; c; c = c->second) {
    if (c->kind != NodeKind::List || !c->first || c->first->kind != NodeKind::Expression) return false;
    if (static_cast<const ExpressionNode*>(c->first)->value.subKind > kComponentObject) return false;
  }
  return true;
}

ParseNode* HlslParser::MakeVariableReference(ParseNodeKind11* variable, const ParseNode* type, const SourceToken& at) {
  auto* value = new ExpressionNode();
  if (!value) return OutOfMemory();
  value->value.subKind = kValueVariable;
  value->value.word = variable->symbol;
  value->value.node = variable;
  value->value.third = variable->valueCount;
  value->token = at;
  return NewExpression(type, kExprValue, value, nullptr, at);
}

bool HlslParser::IsLValue(const ParseNode* expression) const {
  for (const ParseNode* e = expression; e && e->kind == NodeKind::Kind13;) {
    const auto* n = static_cast<const ParseNodeKind13*>(e);
    switch (n->op) {
      case kExprValue:
        return n->left && n->left->kind == NodeKind::Expression &&
               static_cast<const ExpressionNode*>(n->left)->value.subKind == kValueVariable;
      case kExprIndex:
        e = n->left;
        break;
      case kExprSelect:
        // A swizzle that names a component twice cannot be written.
        for (const ParseNode* c = n->right; c && c->kind == NodeKind::List; c = c->second)
          for (const ParseNode* d = c->second; d && d->kind == NodeKind::List; d = d->second)
            if (NodesEqual(c->first, d->first)) return false;
        e = n->left;
        break;
      default:
        return false;
    }
  }
  return false;
}

bool HlslParser::HasSideEffects(const ParseNode* expression) const {
  std::vector<const ParseNode*> stack{expression};
  while (!stack.empty()) {
    const ParseNode* node = stack.back();
    stack.pop_back();
    if (!node) continue;
    if (node->kind == NodeKind::List) {
      stack.push_back(node->first);
      stack.push_back(node->second);
    } else if (node->kind == NodeKind::Kind13) {
      const auto* n = static_cast<const ParseNodeKind13*>(node);
      switch (n->op) {
        case kExprPreIncrement:
        case kExprPreDecrement:
        case kExprInitialise:
        case kExprAssign:
          return true;
        case kExprCall:
        case kExprIntrinsic:
          // The second cell of the "Parameters" list holds the outputs.
          if (n->right && n->right->second && n->right->second->first) return true;
          break;
        default:
          break;
      }
      stack.push_back(n->left);
      stack.push_back(n->right);
    }
  }
  return false;
}

ParseNode* HlslParser::MakeLiteral(const SourceToken& token) {
  std::uint32_t base;
  FoldedComponent c;
  switch (token.kind) {
    case kTokenInt:
      base = token.value.number < 0x80000000u ? kBaseLiteralInt : kBaseLiteralUint;
      c = {ComponentKindOfBase(base), token.value.number};
      break;
    case kTokenIntL:
      base = kBaseInt, c = {kComponentInt, token.value.number};
      break;
    case kTokenIntU:
      base = kBaseUint, c = {kComponentUint, token.value.number};
      break;
    case kTokenFloat:
      base = kBaseLiteralFloat;
      break;
    case kTokenFloatH:
      base = kBaseHalf;
      break;
    case kTokenFloatF:
      base = kBaseFloat;
      break;
    case kTokenFloatL:
      base = kBaseDouble;
      break;
    default:
      return nullptr;
  }
  if (base >= kBaseLiteralFloat) c = StoreDouble(token.value.real, kComponentFloat);
  auto* type = new TypeNode(kShapeScalar, base, 1, 1, 0);
  return type ? MakeLiteralNode(type, FoldedValue{c}, token) : OutOfMemory();
}

ParseNode* HlslParser::MakeBoolLiteral(bool value, const SourceToken& token) {
  auto* type = new TypeNode(kShapeScalar, kBaseBool, 1, 1, 0);
  return type ? MakeLiteralNode(type, FoldedValue{{kComponentBool, value ? 1u : 0u}}, token) : OutOfMemory();
}

ParseNode* HlslParser::MakeOperator(std::uint32_t code, ParseNode* a, ParseNode* b, bool initialising) {
  ParseNodeKind13* x = AsExpression(a);
  ParseNodeKind13* y = AsExpression(b);
  const bool binary = code == kExprSequence || (code >= kExprMultiply && code <= kExprAssign) ||
                      (code >= kExprMultiplyAssign && code <= kExprSubtractAssign);
  if (!x || (b && !y) || (binary && !y)) return nullptr;
  const SourceToken& token = y ? y->token : x->token;

  if (code >= kExprMultiplyAssign && code <= kExprSubtractAssign) {
    // The target appears twice in the rewritten tree, so it must be free of effects.
    if (HasSideEffects(x)) {
      GXL_HLSL_REPORT(*this, &token, msg::kCompoundAssignmentSideEffects);
      return nullptr;
    }
    ParseNode* operation = MakeOperator(code - (kExprMultiplyAssign - kExprMultiply), x, y);
    return operation ? MakeOperator(kExprAssign, x, operation) : nullptr;
  }
  if (code == kExprPostIncrement || code == kExprPostDecrement) {
    ParseNode* prefix = MakeOperator(code - (kExprPostIncrement - kExprPreIncrement), x, nullptr);
    if (!prefix) return nullptr;
    ParseNode* type = ConstCopy(x->type);
    if (x->type && !type) return nullptr;
    return NewExpression(type, kExprSequence, x, prefix, token);  // the value, then the increment
  }
  if (code > kExprOr && code != kExprInitialise && code != kExprAssign) return nullptr;

  const bool anyOperand = code == kExprValue || code == kExprSequence || code == kExprEqual || code == kExprNotEqual ||
                          code == kExprInitialise || code == kExprAssign;
  if (!anyOperand && (!IsNumericTypeNode(x->type) || (y && !IsNumericTypeNode(y->type)))) {
    GXL_HLSL_REPORT(*this, &token, msg::kNumericExpected);
    return nullptr;
  }
  const bool writes =
      code == kExprPreIncrement || code == kExprPreDecrement || code == kExprInitialise || code == kExprAssign;
  if (writes) {
    if (!IsLValue(x) || (IsConst(x->type) && !(initialising && code == kExprInitialise))) {
      GXL_HLSL_REPORT(*this, &token, msg::kConstLValue);
      return nullptr;
    }
    if (y && m_scope && (m_scope->ownerKind == kScopeBlock || m_scope->ownerKind == kScopeFor) &&
        !IsNumericType(y->type)) {
      GXL_HLSL_REPORT(*this, &token, msg::kObjectAssignmentInFunction);
      return nullptr;
    }
  }

  ParseNode* resultType = nullptr;
  ParseNode* left = x;
  ParseNode* right = y;
  if (code == kExprInitialise || code == kExprAssign) {
    if (!CanConvert(x->type, y->type, false)) {
      ReportConversionError(&token, nullptr, x->type, y->type, false);
      return nullptr;
    }
    resultType = x->type;
    if (!(right = Convert(y, x->type))) return nullptr;
  } else if (code == kExprValue) {
    resultType = x->type;
  } else if (code == kExprNegate && IsBoolTypeNode(x->type)) {
    // Arithmetic on truth values counts in int, as in C: -true is -1.
    ParseNode* counted = CopyType(x->type);
    if (!counted) return nullptr;
    static_cast<TypeNode*>(counted)->baseType = kBaseInt;
    if (!(left = Convert(x, counted)) || !(resultType = ConstCopy(counted))) return nullptr;
  } else if (code <= kExprPlus) {
    if (!(resultType = ConstCopy(x->type)) && x->type) return nullptr;
  } else {
    ParseNode* operandType = nullptr;
    if (!CombineOperandTypes(x->type, y->type, false, &operandType)) {
      GXL_HLSL_REPORT(*this, &token, msg::kTypeMismatch);
      return nullptr;
    }
    // Arithmetic on truth values counts in int, as in C: true + true is 2.
    if (code >= kExprMultiply && code <= kExprSubtract && IsBoolTypeNode(operandType)) {
      if (!(operandType = CopyType(operandType))) return nullptr;
      static_cast<TypeNode*>(operandType)->baseType = kBaseInt;
    }
    resultType = operandType;
    if (code >= kExprLess) {
      if (!(resultType = CopyType(operandType))) return nullptr;
      static_cast<TypeNode*>(resultType)->baseType = kBaseBool;
    }
    if (!(left = Convert(x, operandType)) || !(right = Convert(y, operandType))) return nullptr;
  }
  ParseNodeKind13* node = NewExpression(resultType, code, left, right, token);
  if (!node) return nullptr;
  if (code == kExprSequence) {
    node->flag = 0;  // the comma's left expression, its second operand, comes first
    if (m_scope && m_scope->ownerKind == kScopeStates) GXL_HLSL_REPORT(*this, &token, msg::kCommaForInitializerList);
  }
  return Finish(node);
}

ParseNode* HlslParser::MakeIdentifier(const TokenNode* name) {
  ParseNode* found = nullptr;
  if (LookupName(kDeclVariable, name, nullptr, 0, m_scope, kLookupReport, &found, nullptr) != S_OK) return nullptr;
  ParseNodeKind11* variable = VariableDescription(found);
  if (!variable) return nullptr;
  const ParseNode* type = variable->nodes[0];
  if (IsConst(type) && IsLiteral(variable->nodes[1])) {
    // A constant's value takes its place, so that it folds; it is no l-value.
    auto* copy = static_cast<ParseNodeKind13*>(CloneNode(variable->nodes[1]));
    if (!copy) return OutOfMemory();
    if (!(copy->type = CopyType(type)) && type) return nullptr;
    SetConst(copy->type, false);
    copy->token = name->token;
    return copy;
  }
  return MakeVariableReference(variable, type, name->token);
}

ParseNode* HlslParser::MakeInitializerList(ParseNode* elements, const SourceToken& at) {
  ParseNode* types = nullptr;
  ParseNode* values = nullptr;
  ParseNode* lastType = nullptr;
  ParseNode* lastValue = nullptr;
  for (ParseNode* c = elements; c && c->kind == NodeKind::List; c = c->second) {
    ParseNode* element = c->first;
    if (element && element->kind == NodeKind::List) element = MakeInitializerList(element, at);
    ParseNodeKind13* e = AsExpression(element);
    if (!e) return nullptr;
    auto* typeCell = new ListNode(e->type, nullptr, "Types");
    auto* valueCell = typeCell ? new ListNode(e, nullptr, "Value") : nullptr;
    if (!valueCell) return OutOfMemory();
    (lastType ? lastType->second : types) = typeCell;
    (lastValue ? lastValue->second : values) = valueCell;
    lastType = typeCell;
    lastValue = valueCell;
  }
  return Finish(NewExpression(types, kExprValue, values, nullptr, at));
}

ParseNode* HlslParser::MakeConstructor(const ParseNode* type, ParseNode* arguments, bool cast, bool flatten) {
  if (cast) {
    ParseNodeKind13* e = AsExpression(arguments);
    if (!e) return nullptr;
    if (!CanConvert(type, e->type, flatten)) {
      ReportConversionError(&e->token, nullptr, type, e->type, true);
      return nullptr;
    }
    const ParseNode* target = type;
    if (IsConst(e->type) && !(target = ConstCopy(type)) && type) return nullptr;
    return Finish(NewExpression(target, kExprValue, e, nullptr, e->token));
  }
  const SourceToken& at = arguments && AsExpression(arguments->first) ? AsExpression(arguments->first)->token : m_token;
  if (!IsNumericTypeNode(type)) {
    GXL_HLSL_REPORT(*this, &at, msg::kConstructorNotNumeric);
    return nullptr;
  }
  std::uint64_t components = 0;
  for (ParseNode* c = arguments; c && c->kind == NodeKind::List; c = c->second) {
    ParseNodeKind13* e = AsExpression(c->first);
    if (!e) return nullptr;
    if (!IsNumericType(e->type)) {
      GXL_HLSL_REPORT(*this, &e->token, msg::kObjectToNumeric);
      return nullptr;
    }
    components += ComponentCount64(e->type);
  }
  if (components != ComponentCount64(type)) {
    GXL_HLSL_REPORT(*this, &at, msg::kConstructorArgumentCount);
    return nullptr;
  }
  return Finish(NewExpression(type, kExprValue, arguments, nullptr, at));
}

}  // namespace gxl::shader
