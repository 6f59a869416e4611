// Indexing, member and swizzle selection, and the conditional operator.
#include <cstring>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

// Swizzle letters (x, y, z, w or r, g, b, a) or matrix element names (_11 or
// _m00 forms) as component indices; false for anything else.
bool ParseSwizzle(const char* text, const TypeNode& t, std::uint32_t* indices, std::uint32_t* count) {
  *count = 0;
  if (t.shape == kShapeMatrix) {
    if (text[0] != '_') return false;
    const bool zeroBased = text[1] == 'm';
    const std::size_t step = zeroBased ? 4 : 3;
    const char low = zeroBased ? '0' : '1';
    for (const char* s = text; *s; s += step) {
      if (*count == 4 || s[0] != '_' || (zeroBased && s[1] != 'm')) return false;
      const char* digits = s + (zeroBased ? 2 : 1);
      if (digits[0] < low || digits[0] > low + 3 || digits[1] < low || digits[1] > low + 3) return false;
      const std::uint32_t row = static_cast<std::uint32_t>(digits[0] - low);
      const std::uint32_t column = static_cast<std::uint32_t>(digits[1] - low);
      if (row >= t.rows || column >= t.columns) return false;
      indices[(*count)++] = row * t.columns + column;
    }
    return *count > 0;
  }
  const std::uint32_t size = t.shape == kShapeVector ? t.columns : 1;
  const char* set = std::strchr("xyzw", text[0]) ? "xyzw" : "rgba";
  for (const char* s = text; *s; ++s) {
    const char* at = std::strchr(set, *s);
    if (*count == 4 || !at || static_cast<std::uint32_t>(at - set) >= size) return false;
    indices[(*count)++] = static_cast<std::uint32_t>(at - set);
  }
  return *count > 0;
}

}  // namespace

ParseNode* HlslParser::MakeIndex(ParseNode* base, ParseNode* index) {
  ParseNodeKind13* b = AsExpression(base);
  ParseNodeKind13* i = AsExpression(index);
  if (!b || !i) return nullptr;
  const SourceToken& at = i->token;
  const ParseNode* t = ResolveType(b->type);
  const bool isConst = IsConst(b->type);
  ParseNode* element = nullptr;
  std::uint32_t dimension = 0;
  if (t && t->kind == NodeKind::ArrayType) {
    const auto* array = static_cast<const ArrayTypeNode*>(t);
    dimension = array->dimension;
    element = isConst ? ConstCopy(array->element) : array->element;
    if (array->element && !element) return nullptr;
  } else if (const TypeNode* n = AsTypeNode(t); n && (n->shape == kShapeVector || n->shape == kShapeMatrix)) {
    const std::uint32_t flags = isConst ? TypeNode::kConst : 0;
    if (n->shape == kShapeVector) {
      dimension = n->columns;
      element = new TypeNode(kShapeScalar, n->baseType, 1, 1, flags);
    } else {
      dimension = n->rows;
      element = new TypeNode(kShapeVector, n->baseType, 1, n->columns, flags);
    }
    if (!element) return OutOfMemory();
  } else {
    GXL_HLSL_REPORT(*this, &at, msg::kArrayExpected);
    return nullptr;
  }
  if (!IsScalarType(i->type)) {
    GXL_HLSL_REPORT(*this, &at, msg::kScalarExpected);
    return nullptr;
  }
  ParseNode* offset = i;
  if (IsLiteral(i)) {
    std::int32_t value = 0;
    if (FAILED(EvaluateLiteralInt(i, &value))) return nullptr;
    // Unsigned, so that a negative index is out of bounds too.
    if (static_cast<std::uint32_t>(value) >= dimension) {
      GXL_HLSL_REPORT(*this, &at, msg::kFoldIndexOutOfBounds);
      return nullptr;
    }
    auto* type = new TypeNode(kShapeScalar, kBaseLiteralInt, 1, 1, 0);
    const std::uint32_t components = static_cast<std::uint32_t>(value) * ComponentCount(element);
    if (!type || !(offset = MakeLiteralNode(type, FoldedValue{{kComponentInt, components}}, at)))
      return type ? nullptr : OutOfMemory();
  }
  return Finish(NewExpression(element, kExprIndex, b, offset, at));
}

ParseNode* HlslParser::MakeSelection(ParseNode* base, const TokenNode* name) {
  ParseNodeKind13* b = AsExpression(base);
  if (!b || !name || name->token.kind != kTokenIdentifier) return nullptr;
  const char* text = name->token.value.text;
  const SourceToken& at = name->token;
  const ParseNode* t = ResolveType(b->type);
  const bool isConst = IsConst(b->type);
  ParseNode* resultType = nullptr;
  ParseNode* record = nullptr;
  if (t && t->kind == NodeKind::List) {
    std::uint32_t offset = 0;
    const ParseNode* member = nullptr;
    for (const ParseNode* c = t; c && c->kind == NodeKind::List; c = c->second) {
      const ParseNode* m = c->first;
      const char* memberName = IdentifierText(
          m && m->kind == NodeKind::Declaration ? static_cast<const DeclarationNode*>(m)->name : nullptr);
      if (memberName && std::strcmp(memberName, text) == 0) {
        member = m;
        break;
      }
      offset += ComponentCount(m);
    }
    if (!member) {
      GXL_HLSL_REPORT(*this, &at, msg::kInvalidSubscript, text);
      return nullptr;
    }
    const ParseNode* memberType = ResolveType(member);
    resultType = isConst ? ConstCopy(memberType) : const_cast<ParseNode*>(memberType);
    if (memberType && !resultType) return nullptr;
    if (!(record = new ExpressionNode(kComponentUint, offset, at))) return OutOfMemory();
  } else if (const TypeNode* n = AsTypeNode(t); n && n->shape <= kShapeMatrix) {
    std::uint32_t indices[4], count = 0;
    if (!ParseSwizzle(text, *n, indices, &count)) {
      GXL_HLSL_REPORT(*this, &at, msg::kInvalidSubscript, text);
      return nullptr;
    }
    const std::uint32_t flags = isConst ? TypeNode::kConst : 0;
    resultType = count == 1 ? new TypeNode(kShapeScalar, n->baseType, 1, 1, flags)
                            : new TypeNode(kShapeVector, n->baseType, 1, count, flags);
    if (!resultType) return OutOfMemory();
    for (std::uint32_t k = count; k-- > 0;) {
      auto* index = new ExpressionNode(kComponentUint, indices[k], at);
      auto* cell = index ? new ListNode(index, record, "Swizzle") : nullptr;
      if (!cell) return OutOfMemory();
      record = cell;
    }
  } else {
    GXL_HLSL_REPORT(*this, &at, msg::kInvalidSubscript, text);
    return nullptr;
  }
  return Finish(NewExpression(resultType, kExprSelect, b, record, at));
}

ParseNode* HlslParser::MakeConditional(ParseNode* condition, ParseNode* whenTrue, ParseNode* whenFalse) {
  ParseNodeKind13* c = AsExpression(condition);
  ParseNodeKind13* t = AsExpression(whenTrue);
  ParseNodeKind13* e = AsExpression(whenFalse);
  if (!c || !t || !e) return nullptr;
  const SourceToken& at = c->token;
  const TypeNode* ct = AsTypeNode(c->type);
  if (!ct || ct->shape > kShapeMatrix) {
    GXL_HLSL_REPORT(*this, &at, msg::kConditionalNotNumeric);
    return nullptr;
  }
  ParseNode* type = nullptr;
  if (!CombineOperandTypes(t->type, e->type, false, &type)) {
    GXL_HLSL_REPORT(*this, &at, msg::kConditionalValuesMismatch);
    return nullptr;
  }
  ParseNode* test = c;
  if (ct->shape != kShapeScalar) {
    // A vector condition chooses per component.
    ParseNode* mask = CopyType(type);
    if (!mask) return nullptr;
    static_cast<TypeNode*>(mask)->baseType = kBaseBool;
    if (!CanConvert(mask, c->type, false)) {
      GXL_HLSL_REPORT(*this, &at, msg::kConditionalDimension);
      return nullptr;
    }
    if (!(test = Convert(c, mask))) return nullptr;
  }
  ParseNode* first = Convert(t, type);
  ParseNode* second = first ? Convert(e, type) : nullptr;
  if (!second) return nullptr;
  auto* types = new ListNode(type, new ListNode(type, nullptr, "Types"), "Types");
  auto* values = new ListNode(first, new ListNode(second, nullptr, "Value"), "Value");
  if (!types || !types->second || !values || !values->second) return OutOfMemory();
  ParseNode* pair = Finish(NewExpression(types, kExprValue, values, nullptr, at));
  return pair ? Finish(NewExpression(type, kExprConditional, test, pair, at)) : nullptr;
}

}  // namespace gxl::shader
