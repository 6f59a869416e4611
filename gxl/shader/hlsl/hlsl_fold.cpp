// Constant folding in the syntax tree: components are evaluated as doubles and
// stored in the kinds of the result type. Only operations whose operands are
// already literals fold, so folding never walks more than one level.
#include <bit>
#include <cmath>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

double ComponentToDouble(const FoldedComponent& c) {
  const auto word = static_cast<std::uint32_t>(c.bits);
  switch (c.kind) {
    case kComponentBool:
      return word ? 1.0 : 0.0;
    case kComponentInt:
      return static_cast<std::int32_t>(word);
    case kComponentUint:
      return word;
    case kComponentFloat:
      return std::bit_cast<double>(c.bits);
    default:
      return 0.0;
  }
}

FoldedComponent StoreDouble(double value, std::uint32_t kind) {
  switch (kind) {
    case kComponentBool:
      return {kind, value != 0.0 ? 1u : 0u};  // NaN counts as non-zero
    case kComponentInt:
    case kComponentUint: {
      const double nudged = value >= 0.0 ? value + 1e-6 : value - 1e-6;
      return {kind, static_cast<std::uint32_t>(static_cast<std::uint64_t>(TruncToInt64(nudged)))};
    }
    case kComponentFloat:
      return {kind, std::bit_cast<std::uint64_t>(value)};
    default:
      return {kind, 0};
  }
}

bool ConvertComponent(const FoldedComponent& c, std::uint32_t kind, FoldedComponent* out) {
  if (c.kind == kind) {
    *out = c;
    return true;
  }
  if (c.kind > kComponentFloat || kind > kComponentFloat) return false;
  *out = StoreDouble(ComponentToDouble(c), kind);
  return true;
}

namespace {

// The component kinds of a type in storage order; false when the type is too
// large to fold or holds no type.
bool ComponentKinds(const ParseNode* type, std::vector<std::uint32_t>* kinds) {
  kinds->clear();
  TypeComponentWalker walker(type);
  ScalarComponent c;
  while (walker.Next(&c)) {
    if (kinds->size() >= kMaxFoldComponents) return false;
    kinds->push_back(ComponentKindOfBase(c.base));
  }
  return !walker.Malformed();
}

FoldedComponent FromValue(const ExpressionNode& v) {
  if (v.value.subKind == kComponentFloat) return {kComponentFloat, std::bit_cast<std::uint64_t>(v.value.number)};
  if (v.value.subKind <= kComponentUint) return {v.value.subKind, v.value.integer};
  return {v.value.subKind, v.value.bits};
}

// Converts each component to the kind at its place; false when an object
// would change kind.
bool ConvertAll(FoldedValue* value, const std::vector<std::uint32_t>& kinds) {
  if (value->size() != kinds.size()) return false;
  for (std::size_t i = 0; i < kinds.size(); ++i)
    if (!ConvertComponent((*value)[i], kinds[i], &(*value)[i])) return false;
  return true;
}

// Writes, user calls and compile expressions stay as they are.
bool NeverFolds(std::uint32_t op) {
  return op == kExprPreIncrement || op == kExprPreDecrement || op == kExprInitialise || op == kExprAssign ||
         op == kExprCall || op == kExprCompile;
}

bool IsExcludedIntrinsic(std::uint32_t id) {
  return id == kIntrinsicClip || id == kIntrinsicFrexp || id == kIntrinsicModf || id == kIntrinsicSincos ||
         (id >= kIntrinsicTexFirst && id <= kIntrinsicTexLast);
}

const IntrinsicRecord* CalledIntrinsic(const ParseNodeKind13& call) {
  const ParseNode* f = call.left;
  return f && f->kind == NodeKind::Expression
             ? static_cast<const IntrinsicRecord*>(static_cast<const ExpressionNode*>(f)->value.address)
             : nullptr;
}

}  // namespace

bool HlslParser::IsFoldable(const ParseNode* expression) const {
  if (!expression || expression->kind != NodeKind::Kind13) return false;
  const auto* e = static_cast<const ParseNodeKind13*>(expression);
  // An operand folds when it is a literal (a foldable expression was folded when built).
  auto operandFolds = [this](const ParseNode* n, auto& self) -> bool {
    if (!n) return true;
    switch (n->kind) {
      case NodeKind::Expression:
        return static_cast<const ExpressionNode*>(n)->value.subKind != kValueVariable;
      case NodeKind::Kind13:
        return IsLiteral(n);
      case NodeKind::List:
        for (const ParseNode* c = n; c; c = c->second)
          if (c->kind != NodeKind::List || !self(c->first, self)) return false;
        return true;
      default:
        return false;
    }
  };
  if (NeverFolds(e->op)) return false;
  switch (e->op) {
    case kExprIntrinsic: {
      const IntrinsicRecord* row = CalledIntrinsic(*e);
      const ParseNode* parameters = e->right;
      if (!row || IsExcludedIntrinsic(row->id) || !parameters || (parameters->second && parameters->second->first))
        return false;
      return operandFolds(parameters->first, operandFolds);
    }
    default:
      return operandFolds(e->left, operandFolds) && operandFolds(e->right, operandFolds);
  }
}

HRESULT HlslParser::FoldOperands(const ParseNode* operand, FoldedValue* out) {
  if (operand && operand->kind == NodeKind::Kind13) return FoldExpression(operand, out);
  return E_FAIL;
}

HRESULT HlslParser::FoldConversion(const ParseNodeKind13* node, FoldedValue* out) {
  FoldedValue source;
  if (FAILED(FoldExpression(node->left, &source))) return E_FAIL;
  const std::uint64_t count = ComponentCount64(node->type);
  const TypeNode* to = AsTypeNode(node->type);
  const TypeNode* from = AsTypeNode(static_cast<const ParseNodeKind13*>(node->left)->type);
  out->clear();
  if (source.size() == 1) {
    out->assign(count, source[0]);
  } else if (source.size() == count) {
    *out = std::move(source);
  } else if (to && from && to->shape == kShapeMatrix && from->shape == kShapeMatrix && to->rows <= from->rows &&
             to->columns <= from->columns) {
    // Each row keeps its first columns.
    for (std::uint32_t r = 0; r < to->rows; ++r)
      for (std::uint32_t c = 0; c < to->columns; ++c) out->push_back(source[r * from->columns + c]);
  } else if (source.size() > count) {
    out->assign(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(count));
  } else {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT HlslParser::FoldExpression(const ParseNode* expression, FoldedValue* out) {
  if (!expression || expression->kind != NodeKind::Kind13) return E_FAIL;
  const auto* n = static_cast<const ParseNodeKind13*>(expression);
  std::vector<std::uint32_t> kinds;
  if (!ComponentKinds(n->type, &kinds) || std::uint64_t{n->rows} * n->columns != kinds.size()) return E_FAIL;
  const std::size_t count = kinds.size();
  out->clear();
  if (NeverFolds(n->op)) return E_FAIL;
  switch (n->op) {
    case kExprIntrinsic:
      return FoldIntrinsicCall(n, out);
    case kExprValue: {
      const ParseNode* v = n->left;
      if (v && v->kind == NodeKind::Kind13) {
        if (FAILED(FoldConversion(n, out))) return E_FAIL;
      } else if (v && v->kind == NodeKind::Expression) {
        if (static_cast<const ExpressionNode*>(v)->value.subKind > kComponentObject) return E_FAIL;
        out->push_back(FromValue(*static_cast<const ExpressionNode*>(v)));
      } else {
        for (const ParseNode* c = v; c; c = c->second) {
          const ParseNode* element = c->kind == NodeKind::List ? c->first : nullptr;
          if (element && element->kind == NodeKind::Expression &&
              static_cast<const ExpressionNode*>(element)->value.subKind <= kComponentObject) {
            out->push_back(FromValue(*static_cast<const ExpressionNode*>(element)));
          } else {
            FoldedValue part;
            if (FAILED(FoldOperands(element, &part))) return E_FAIL;
            out->insert(out->end(), part.begin(), part.end());
          }
          if (out->size() > count) return E_FAIL;
        }
      }
      break;
    }
    case kExprSequence:
      if (FAILED(FoldOperands(n->left, out))) return E_FAIL;
      break;
    case kExprIndex:
    case kExprSelect: {
      FoldedValue base, index;
      if (FAILED(FoldOperands(n->left, &base))) return E_FAIL;
      const ParseNode* r = n->right;
      if (n->op == kExprIndex || (r && r->kind == NodeKind::Expression)) {
        std::uint64_t offset;
        if (n->op == kExprIndex) {
          FoldedComponent i;
          if (FAILED(FoldOperands(r, &index)) || index.size() != 1 || !ConvertComponent(index[0], kComponentUint, &i))
            return E_FAIL;
          offset = static_cast<std::uint32_t>(i.bits);
        } else {
          offset = static_cast<const ExpressionNode*>(r)->value.integer;
        }
        if (offset + count > base.size()) {
          GXL_HLSL_REPORT(*this, &n->token, msg::kFoldIndexOutOfBounds);
          return E_FAIL;
        }
        out->assign(base.begin() + static_cast<std::ptrdiff_t>(offset),
                    base.begin() + static_cast<std::ptrdiff_t>(offset + count));
      } else {
        for (const ParseNode* c = r; c && c->kind == NodeKind::List; c = c->second) {
          const std::uint32_t i = static_cast<const ExpressionNode*>(c->first)->value.integer;
          if (i >= base.size()) return E_FAIL;
          out->push_back(base[i]);
        }
      }
      break;
    }
    case kExprConditional: {
      FoldedValue test, pair;
      if (FAILED(FoldOperands(n->left, &test)) || FAILED(FoldOperands(n->right, &pair)) || pair.size() != 2 * count ||
          (test.size() != 1 && test.size() != count))
        return E_FAIL;
      for (std::size_t i = 0; i < count; ++i)
        out->push_back(ComponentToDouble(test[test.size() == 1 ? 0 : i]) != 0.0 ? pair[i] : pair[count + i]);
      break;
    }
    default: {
      if (n->op > kExprOr) return E_FAIL;
      FoldedValue a, b;
      if (FAILED(FoldOperands(n->left, &a)) || (n->right && FAILED(FoldOperands(n->right, &b)))) return E_FAIL;
      if ((a.size() != 1 && a.size() != count) || (n->right && b.size() != 1 && b.size() != count)) return E_FAIL;
      bool divisionByZero = false;
      for (std::size_t i = 0; i < count; ++i) {
        const FoldedComponent& ac = a[a.size() == 1 ? 0 : i];
        const FoldedComponent bc = n->right ? b[b.size() == 1 ? 0 : i] : FoldedComponent{};
        const double x = ComponentToDouble(ac), y = ComponentToDouble(bc);
        const bool objects = ac.kind > kComponentFloat || bc.kind > kComponentFloat;
        double r = 0.0;
        switch (n->op) {
          case kExprNot:
            r = x == 0.0;
            break;
          case kExprNegate:
            r = -x;
            break;
          case kExprPlus:
            r = x;
            break;
          case kExprMultiply:
            r = x * y;
            break;
          case kExprDivide:
          case kExprModulo:
            divisionByZero |= y == 0.0;
            r = n->op == kExprDivide ? x / y : std::fmod(x, y);
            break;
          case kExprAdd:
            r = x + y;
            break;
          case kExprSubtract:
            r = x - y;
            break;
          case kExprLess:
            r = x < y;
            break;
          case kExprGreater:
            r = x > y;
            break;
          case kExprLessEqual:
            r = x <= y;
            break;
          case kExprGreaterEqual:
            r = x >= y;
            break;
          case kExprEqual:
            r = objects ? ac.bits == bc.bits : x == y;
            break;
          case kExprNotEqual:
            r = objects ? ac.bits != bc.bits : x != y;
            break;
          case kExprAnd:
            r = x != 0.0 && y != 0.0;
            break;
          case kExprOr:
            r = x != 0.0 || y != 0.0;
            break;
          default:
            return E_FAIL;
        }
        out->push_back(StoreDouble(r, kinds[i]));
      }
      if (divisionByZero) GXL_HLSL_REPORT(*this, &n->token, msg::kFoldDivisionByZero);
      return S_OK;
    }
  }
  return ConvertAll(out, kinds) ? S_OK : E_FAIL;
}

ParseNode* HlslParser::MakeLiteralNode(const ParseNode* type, const FoldedValue& value, const SourceToken& token) {
  ParseNode* head = nullptr;
  ParseNode* last = nullptr;
  for (const FoldedComponent& c : value) {
    ExpressionNode* v = c.kind == kComponentFloat
                            ? new ExpressionNode(kComponentFloat, std::bit_cast<double>(c.bits), token)
                            : new ExpressionNode(c.kind, static_cast<std::uint32_t>(c.bits), token);
    auto* cell = v ? new ListNode(v, nullptr, "Value") : nullptr;
    if (!cell) return OutOfMemory();
    if (c.kind > kComponentFloat) v->value.bits = c.bits;
    (last ? last->second : head) = cell;
    last = cell;
  }
  return NewExpression(type, kExprValue, head, nullptr, token);
}

ParseNode* HlslParser::FoldToLiteral(const ParseNode* expression) {
  FoldedValue value;
  if (FAILED(FoldExpression(expression, &value))) return nullptr;
  const auto* e = static_cast<const ParseNodeKind13*>(expression);
  return MakeLiteralNode(e->type, value, e->token);
}

HRESULT HlslParser::EvaluateLiteralInt(const ParseNode* expression, std::int32_t* value) {
  if (!expression || expression->kind != NodeKind::Kind13 ||
      !IsScalarType(static_cast<const ParseNodeKind13*>(expression)->type))
    return E_FAIL;
  FoldedValue folded;
  FoldedComponent integer;
  if (FAILED(FoldExpression(expression, &folded)) || folded.size() != 1 ||
      !ConvertComponent(folded[0], kComponentInt, &integer))
    return E_FAIL;
  *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(integer.bits));
  return S_OK;
}

}  // namespace gxl::shader
