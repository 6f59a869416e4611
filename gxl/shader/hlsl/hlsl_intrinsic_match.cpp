// Matching a call against one intrinsic row: the arguments bind the row's
// shape, base and size variables, which are then settled against the allowed
// lists and turn into the parameter and result types.
#include <algorithm>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

constexpr int kUnbound = -1;
constexpr std::uint32_t kUnsetSize = 0xFFFFFFFFu;

bool InList(const std::uint32_t* list, std::uint32_t end, std::uint32_t value) {
  for (; *list != end; ++list)
    if (*list == value) return true;
  return false;
}

struct Bindings {
  int shape[5] = {kUnbound, kUnbound, kUnbound, kUnbound, kUnbound};
  int base[5] = {kUnbound, kUnbound, kUnbound, kUnbound, kUnbound};
  std::uint32_t size[5] = {kUnsetSize, kUnsetSize, kUnsetSize, kUnsetSize, kUnsetSize};

  std::uint32_t Size(std::int32_t descriptor) const {
    return descriptor < 0 ? size[-descriptor] : static_cast<std::uint32_t>(descriptor);
  }
};

// A size of the descriptor against the argument's; false rejects the row.
bool BindSize(Bindings& b, std::int32_t descriptor, std::uint32_t argument) {
  if (descriptor < 0) {
    b.size[-descriptor] = std::min(b.size[-descriptor], argument);
    return true;
  }
  return argument >= static_cast<std::uint32_t>(descriptor);
}

}  // namespace

bool HlslParser::MatchIntrinsic(const IntrinsicRecord& row, ParseNode* arguments, IntrinsicMatch* match) {
  Bindings b;
  const std::uint32_t count = row.ParameterCount();
  std::uint32_t i = 0;
  for (const ParseNode* c = arguments; c; c = c->second, ++i) {
    if (i >= count) return false;
    const auto* argument = static_cast<const ParseNodeKind13*>(c->first);
    const IntrinsicEntry& p = row.entries[1 + i];
    if ((p.usage & kIntrinsicOut) && IsConst(argument->type)) return false;
    const TypeNode* t = AsTypeNode(argument->type);
    if (!t) return false;  // aggregates and void match no intrinsic
    const int shape = static_cast<int>(std::min<std::uint32_t>(t->shape, kShapeObject));
    int& boundShape = b.shape[p.shapeGroup];
    if (boundShape == kUnbound || (boundShape == kShapeScalar && (shape == kShapeVector || shape == kShapeMatrix))) {
      boundShape = shape;
    } else if (shape != kShapeScalar && shape != boundShape) {
      return false;
    }
    int& boundBase = b.base[p.baseGroup];
    boundBase = boundBase == kUnbound ? static_cast<int>(t->baseType)
                                      : CommonBase(static_cast<std::uint32_t>(boundBase), t->baseType);
    if (boundBase < 0) return false;
    if (shape == kShapeVector || shape == kShapeMatrix) {
      const std::uint32_t rows = shape == kShapeVector ? 1 : t->rows;
      if (!BindSize(b, p.rows, rows) || !BindSize(b, p.columns, t->columns)) return false;
    }
  }
  if (i < count) return false;

  const IntrinsicEntry& result = row.entries[0];
  if (result.shapes) {
    if (b.shape[result.shapeGroup] == kUnbound) b.shape[result.shapeGroup] = static_cast<int>(result.shapes[0]);
    if (b.base[result.baseGroup] == kUnbound) b.base[result.baseGroup] = static_cast<int>(result.bases[0]);
  }
  for (std::uint32_t d = result.shapes ? 0 : 1; d <= count; ++d) {
    const IntrinsicEntry& e = row.entries[d];
    int& shape = b.shape[e.shapeGroup];
    if (shape == kShapeScalar && (e.shapes[0] == kShapeVector || e.shapes[0] == kShapeMatrix)) {
      shape = static_cast<int>(e.shapes[0]);
    } else if (!InList(e.shapes, kIntrinsicShapeEnd, static_cast<std::uint32_t>(shape))) {
      return false;
    }
    int& base = b.base[e.baseGroup];
    if (!InList(e.bases, kIntrinsicBaseEnd, static_cast<std::uint32_t>(base))) base = static_cast<int>(e.bases[0]);
  }
  for (std::uint32_t& s : b.size)
    if (s == kUnsetSize) s = 1;

  // The types of the settled bindings; a 1 x 1 vector or matrix is a scalar.
  auto typeOf = [&](const IntrinsicEntry& e) -> ParseNode* {
    const auto shape = static_cast<std::uint32_t>(b.shape[e.shapeGroup]);
    const auto base = static_cast<std::uint32_t>(b.base[e.baseGroup]);
    const std::uint32_t rows = b.Size(e.rows), columns = b.Size(e.columns);
    TypeNode* t;
    if (shape == kShapeObject) {
      t = new TypeNode(kShapeObject, base, 1, 1, 0);
    } else if (shape == kShapeScalar || (shape == kShapeVector && columns == 1) ||
               (shape == kShapeMatrix && rows == 1 && columns == 1)) {
      t = new TypeNode(kShapeScalar, base, 1, 1, 0);
    } else if (shape == kShapeVector) {
      t = new TypeNode(kShapeVector, base, 1, columns, 0);
    } else {
      t = new TypeNode(kShapeMatrix, base, rows, columns, e.usage & (kTypeRowMajor | kTypeColumnMajor));
    }
    return t ? t : OutOfMemory();
  };
  match->row = &row;
  match->result = nullptr;
  if (result.shapes && !(match->result = typeOf(result))) return false;
  for (std::uint32_t d = 0; d < count; ++d) {
    const IntrinsicEntry& e = row.entries[1 + d];
    ParseNode* type = typeOf(e);
    if (!type) return false;
    match->parameters[d] = {e.usage & kUsageInOut, type, nullptr, nullptr};
  }
  match->count = count;
  return true;
}

}  // namespace gxl::shader
