// Conversions between HLSL types, the base type two operands share, the
// result type of an operation, and the type constructors of the grammar.
#include <algorithm>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {
namespace {

// What the shape rules look at: a TypeNode, or an aggregate seen as a vector.
struct Shape {
  std::uint32_t shape;
  std::uint32_t base;
  std::uint64_t rows;
  std::uint64_t columns;
};

Shape ShapeOf(const TypeNode& t) {
  switch (t.shape) {
    case kShapeScalar:
      return {kShapeScalar, t.baseType, 1, 1};
    case kShapeVector:
      return {kShapeVector, t.baseType, 1, t.columns};
    case kShapeMatrix:
      return {kShapeMatrix, t.baseType, t.rows, t.columns};
    default:
      return {kShapeObject, t.baseType, 1, 1};
  }
}

bool IsTexture(std::uint32_t base) { return base >= kBaseTexture && base < kBaseSampler; }
bool IsSampler(std::uint32_t base) { return base >= kBaseSampler && base < kBasePixelShader; }

// "NULL" becomes any object; the generic texture and sampler types and their
// sized kinds become each other.
bool ObjectConverts(std::uint32_t target, std::uint32_t source) {
  if (target == source || source == kBaseNull) return true;
  if (IsTexture(target) && IsTexture(source)) return target == kBaseTexture || source == kBaseTexture;
  if (IsSampler(target) && IsSampler(source)) return target == kBaseSampler || source == kBaseSampler;
  return false;
}

bool ShapesConvert(const Shape& t, const Shape& s) {
  switch (t.shape) {
    case kShapeScalar:
      return s.shape != kShapeObject;
    case kShapeVector: {
      const std::uint64_t c = t.columns;
      if (s.shape == kShapeScalar) return true;
      if (s.shape == kShapeVector) return c <= s.columns;
      if (s.shape != kShapeMatrix) return false;
      if ((s.rows == 1 && c > s.columns) || (s.columns == 1 && c > s.rows)) return false;
      return s.rows == 1 || s.columns == 1 || s.rows * s.columns == c;
    }
    case kShapeMatrix: {
      const std::uint64_t r = t.rows, c = t.columns;
      if (s.shape == kShapeScalar) return true;
      if (s.shape == kShapeVector) {
        if ((r == 1 && c > s.columns) || (c == 1 && r > s.columns)) return false;
        return r == 1 || c == 1 || r * c == s.columns;
      }
      if (s.shape == kShapeMatrix) return r <= s.rows && c <= s.columns;
      return false;
    }
    case kShapeObject:
      return s.shape == kShapeObject && ObjectConverts(t.base, s.base);
    default:
      return false;
  }
}

Shape ComponentShape(const ScalarComponent& c) { return {c.object ? kShapeObject : kShapeScalar, c.base, 1, 1}; }

}  // namespace

bool HlslParser::ShapeRulesAllow(const ParseNode* target, const ParseNode* source, bool flatten) {
  const ParseNode* t = ResolveType(target);
  const ParseNode* s = ResolveType(source);
  auto shapeOf = [&](const ParseNode* type, Shape* out) {
    if (type->kind == NodeKind::Type) {
      *out = ShapeOf(*static_cast<const TypeNode*>(type));
      return true;
    }
    if (flatten && IsNumericType(type)) {
      *out = {kShapeVector, kBaseFloat, 1, ComponentCount64(type)};
      return true;
    }
    return false;  // an aggregate
  };
  Shape ts, ss;
  if (shapeOf(t, &ts) && shapeOf(s, &ss)) return ShapesConvert(ts, ss);
  return AggregateAllows(t, s, flatten);
}

bool HlslParser::AggregateAllows(const ParseNode* target, const ParseNode* source, bool flatten) {
  const std::uint64_t targetCount = ComponentCount64(target);
  const std::uint64_t sourceCount = ComponentCount64(source);
  if (!flatten) {
    if (target->kind == NodeKind::Type || source->kind == NodeKind::Type || targetCount != sourceCount) return false;
  } else if (targetCount > sourceCount) {
    return false;
  }
  TypeComponentWalker t(target), s(source);
  ScalarComponent tc, sc;
  while (t.Next(&tc)) {
    if (!s.Next(&sc)) return false;
    const bool ok =
        flatten ? ShapesConvert(ComponentShape(tc), ComponentShape(sc)) : tc.base == sc.base && tc.object == sc.object;
    if (!ok) return false;
  }
  return !t.Malformed() || UnknownNode();
}

bool HlslParser::CanConvert(const ParseNode* target, const ParseNode* source, bool flatten) {
  const ParseNode* t = ResolveType(target);
  const ParseNode* s = ResolveType(source);
  if (!t) return flatten || !s;
  if (!s) return false;
  for (const ParseNode* n : {t, s})
    if (n->kind != NodeKind::Type && n->kind != NodeKind::ArrayType && n->kind != NodeKind::List) return UnknownNode();
  return ShapeRulesAllow(t, s, flatten);
}

void HlslParser::ReportConversionError(const SourceToken* at, const char* name, const ParseNode* target,
                                       const ParseNode* source, bool explicitCast) {
  const ParseNode* t = ResolveType(target);
  const ParseNode* s = ResolveType(source);
  // Only a conversion that a cast would allow is "implicit".
  bool castable = explicitCast || !t;
  if (!castable && s) {
    const bool aggregate = t->kind != NodeKind::Type || s->kind != NodeKind::Type;
    castable =
        aggregate ? AggregateAllows(t, s, true)
                  : ShapesConvert(ShapeOf(*static_cast<const TypeNode*>(t)), ShapeOf(*static_cast<const TypeNode*>(s)));
  }
  const char* word = castable ? "" : "implicitly ";
  char targetText[kTypeTextSize], sourceText[kTypeTextSize];
  TypeToText(t, targetText);
  TypeToText(s, sourceText);
  if (name) {
    GXL_HLSL_REPORT(*this, at, msg::kNamedConversion, name, word, sourceText, targetText);
  } else {
    GXL_HLSL_REPORT(*this, at, msg::kConversion, word, sourceText, targetText);
  }
}

int HlslParser::CommonBaseType(const ParseNode* a, const ParseNode* b) {
  const TypeNode* x = AsTypeNode(a);
  const TypeNode* y = AsTypeNode(b);
  return x && y ? CommonBase(x->baseType, y->baseType) : -1;
}

int CommonBase(std::uint32_t p, std::uint32_t q) {
  if (p == q) return static_cast<int>(p);
  if (p >= kBaseTypeCount || q >= kBaseTypeCount) return -1;
  const std::uint32_t w = std::max(kHlslBaseTypes[p].width, kHlslBaseTypes[q].width);
  const std::uint32_t m = kHlslBaseTypes[p].classMask & kHlslBaseTypes[q].classMask;
  auto byWidth = [w](int w0, int w8, int w16, int w32) { return w == 0 ? w0 : w == 8 ? w8 : w == 16 ? w16 : w32; };
  if (m & kClassBool) return kBaseBool;
  if (m & kClassUnsigned) return byWidth(kBaseLiteralUint, kBaseUint8, kBaseUint16, kBaseUint);
  if (m & kClassInteger) return byWidth(kBaseLiteralInt, kBaseInt8, kBaseInt16, kBaseInt);
  if (m & kClassNumeric)
    return w == 64 ? int{kBaseDouble} : byWidth(kBaseLiteralFloat, kBaseHalf, kBaseHalf, kBaseFloat);
  if (m & kClassObject) {
    if (p == kBaseNull) return static_cast<int>(q);
    if (q == kBaseNull) return static_cast<int>(p);
    if ((IsTexture(p) && IsTexture(q)) || (IsSampler(p) && IsSampler(q))) {
      if (p == kBaseTexture || p == kBaseSampler) return static_cast<int>(q);
      if (q == kBaseTexture || q == kBaseSampler) return static_cast<int>(p);
    }
  }
  return -1;
}

bool HlslParser::CombineOperandTypes(const ParseNode* a, const ParseNode* b, bool makeConst, ParseNode** result) {
  const ParseNode* x = ResolveType(a);
  const ParseNode* y = ResolveType(b);
  *result = nullptr;
  if (!x || !y) return !x && !y;
  const ParseNode* picked = nullptr;
  if (ComponentCount64(x) >= ComponentCount64(y) && CanConvert(x, y, false)) {
    picked = x;
  } else if (CanConvert(y, x, false)) {
    picked = y;
  } else if (CanConvert(x, y, false)) {
    picked = x;
  } else {
    return false;
  }
  const int base = CommonBaseType(x, y);
  if (base < 0) return false;
  ParseNode* type = const_cast<ParseNode*>(picked);
  if (AsTypeNode(picked)->baseType != static_cast<std::uint32_t>(base) || makeConst) {
    type = CopyType(picked);
    if (!type) return false;
    static_cast<TypeNode*>(type)->baseType = static_cast<std::uint32_t>(base);
    if (makeConst) SetConst(type, true);
  }
  *result = type;
  return true;
}

// --- Type constructors ------------------------------------------------------------

bool HlslParser::LiteralDimension(const ParseNode* expression, std::int32_t* value) {
  return expression && SUCCEEDED(EvaluateLiteralInt(expression, value));
}

ParseNode* HlslParser::MakeVectorType(const ParseNode* element, const ParseNode* size) {
  const TypeNode* t = AsTypeNode(element);
  if (!t || t->shape > kShapeMatrix) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kNumericExpected);
    return nullptr;
  }
  std::int32_t n = 0;
  if (!LiteralDimension(size, &n)) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kVectorDimensionNotLiteral);
    return nullptr;
  }
  if (n < 1 || n > 4) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kVectorDimensionRange, 4u);
    return nullptr;
  }
  auto* v = new TypeNode(kShapeVector, t->baseType, 1, static_cast<std::uint32_t>(n), 0);
  return v ? v : OutOfMemory();
}

ParseNode* HlslParser::MakeMatrixType(const ParseNode* element, const ParseNode* rows, const ParseNode* columns) {
  const TypeNode* t = AsTypeNode(element);
  if (!t || t->shape > kShapeMatrix) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kNumericExpected);
    return nullptr;
  }
  std::int32_t r = 0, c = 0;
  if (!LiteralDimension(rows, &r) || !LiteralDimension(columns, &c)) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kMatrixDimensionsNotLiteral);
    return nullptr;
  }
  if (r < 1 || r > 4 || c < 1 || c > 4) {
    GXL_HLSL_REPORT(*this, &m_token, msg::kMatrixDimensionsRange, 4u);
    return nullptr;
  }
  auto* m = new TypeNode(kShapeMatrix, t->baseType, static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c), 0);
  return m ? m : OutOfMemory();
}

bool HlslParser::CheckElementCount(const ParseNode* type, const TokenNode* name) {
  std::uint64_t elements = 1;
  for (const ParseNode* t = ResolveType(type); t && t->kind == NodeKind::ArrayType;
       t = ResolveType(static_cast<const ArrayTypeNode*>(t)->element)) {
    elements *= static_cast<const ArrayTypeNode*>(t)->dimension;
    if (elements == 0 || elements > 65536) break;
  }
  if (elements >= 1 && elements <= 65536 && ComponentCount64(type) <= kMaxTypeComponents) return true;
  char text[kTypeTextSize];
  const SourceToken* at = name ? &name->token : &m_token;
  const char* shown = name && name->token.kind == kTokenIdentifier ? name->token.value.text : TypeToText(type, text);
  GXL_HLSL_REPORT(*this, at, msg::kArrayDimensionRange, shown);
  return false;
}

ParseNode* HlslParser::MakeArrayType(ParseNode* element, const ParseNode* dimension, const TokenNode* name) {
  const SourceToken* at = name ? &name->token : &m_token;
  std::int32_t n = 0;
  if (!LiteralDimension(dimension, &n)) {
    if (name && name->token.kind == kTokenIdentifier) {
      GXL_HLSL_REPORT(*this, at, msg::kNamedArrayDimensionsNotLiteral, name->token.value.text);
    } else {
      GXL_HLSL_REPORT(*this, at, msg::kArrayDimensionsNotLiteral);
    }
    return nullptr;
  }
  // Zero, negative and oversized dimensions all fail the element count.
  auto* array = new ArrayTypeNode(element, n < 1 ? 0u : static_cast<std::uint32_t>(std::min(n, 65537)));
  if (!array) return OutOfMemory();
  return CheckElementCount(array, name) ? array : nullptr;
}

ParseNode* HlslParser::ApplyUsage(const ParseNodeKind7* usage, const ParseNode* type, const SourceToken* at) {
  const std::uint32_t bits = usage ? usage->usage : 0;
  const ParseNode* element = ResolveType(type);
  while (element && element->kind == NodeKind::ArrayType)
    element = ResolveType(static_cast<const ArrayTypeNode*>(element)->element);
  const TypeNode* t = AsTypeNode(element);
  const bool matrix = t && t->shape == kShapeMatrix;
  std::uint32_t order = bits & (kUsageRowMajor | kUsageColumnMajor);
  if (order && !matrix) {
    GXL_HLSL_REPORT(*this, at, msg::kMatrixOrderOnNonMatrix);
    order = 0;
  }
  if (order == (kUsageRowMajor | kUsageColumnMajor)) order = kUsageRowMajor;
  if (matrix && !order) {
    order = m_preprocessor ? m_preprocessor->PackMatrix() : 0;
    if (!order)
      order = (m_options & 0x8)    ? std::uint32_t{kUsageRowMajor}
              : (m_options & 0x10) ? std::uint32_t{kUsageColumnMajor}
                                   : 0u;
  }
  if (!order && !(bits & kUsageConst)) return const_cast<ParseNode*>(ResolveType(type));
  ParseNode* copy = CopyType(type);
  if (!copy) return nullptr;
  if (order) {
    ParseNode* m = copy;
    while (m && m->kind == NodeKind::ArrayType) m = static_cast<ArrayTypeNode*>(m)->element;
    if (m && m->kind == NodeKind::Type) {
      auto* matrixType = static_cast<TypeNode*>(m);
      matrixType->flags = (matrixType->flags & ~(kTypeRowMajor | kTypeColumnMajor)) | order;
    }
  }
  if (bits & kUsageConst) SetConst(copy, true);
  return copy;
}

ParseNodeKind7* HlslParser::PushUsageType(const ParseNodeKind7* usage, const ParseNode* type, const SourceToken* at) {
  ParseNode* checked = ApplyUsage(usage, type, at);
  if (type && !checked) return nullptr;
  auto* entry = new ParseNodeKind7(usage ? usage->usage : 0, usage ? usage->parts[0] : nullptr, checked);
  auto* cell = entry ? new ListNode(entry, m_usageStack, "UsageType") : nullptr;
  if (!cell) return OutOfMemory();
  m_usageStack = cell;
  return entry;
}

void HlslParser::PopUsageType() {
  if (m_usageStack) m_usageStack = m_usageStack->second;
}

ParseNodeKind7* HlslParser::CurrentUsageType() const {
  return m_usageStack ? static_cast<ParseNodeKind7*>(m_usageStack->first) : nullptr;
}

}  // namespace gxl::shader
