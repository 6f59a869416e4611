// Lowering of expressions: the operands in the order the parser asks for,
// the IR of each operator, stores into the value map, and the conversion of
// the results to the expression's type. The recursion follows the tree,
// whose depth the parser bounds, so each level keeps its frame small and its
// value arrays on the word stack.
#include <algorithm>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/hlsl/hlsl_types.h"

namespace gxl::shader {

struct ShaderCompiler::Operands {
  const std::uint32_t* a;  // the first operand's values
  std::uint32_t na;
  const std::uint32_t* b;  // the second's
  std::uint32_t nb;
  const ParseNodeKind13* left;
  std::uint32_t offset;  // a literal index's component offset, or kNoIndex
};

namespace {

std::uint32_t ComponentsOf(const ParseNodeKind13& e) {
  const std::uint64_t n = std::uint64_t{e.rows} * e.columns;
  return n < kNoIndex ? static_cast<std::uint32_t>(n) : kNoIndex;
}

// The component offset an index folded by the parser holds: a literal of one
// whole, non-negative component.
bool LiteralOffset(const ParseNode* index, std::uint32_t* offset) {
  const ParseNodeKind13* e = AsExpression(index);
  if (!e || e->op != kExprValue || !e->left || e->left->kind != NodeKind::List || e->left->second) return false;
  const ParseNode* item = e->left->first;
  if (!item || item->kind != NodeKind::Expression) return false;
  const ExpressionValue& v = static_cast<const ExpressionNode*>(item)->value;
  switch (v.subKind) {
    case kComponentInt:
    case kComponentUint:
      *offset = v.integer;
      return true;
    case kComponentFloat:
      if (!(v.number >= 0 && v.number < 4294967295.0) || v.number != static_cast<std::uint32_t>(v.number)) return false;
      *offset = static_cast<std::uint32_t>(v.number);
      return true;
    default:
      return false;
  }
}

// `values` as n components: itself, or one value repeated into `room`.
const std::uint32_t* Spread(const std::uint32_t* values, std::uint32_t count, std::uint32_t n, std::uint32_t* room) {
  if (count == n) return values;
  if (count != 1) return nullptr;
  std::fill_n(room, n, values[0]);
  return room;
}

}  // namespace

HRESULT ShaderCompiler::OutOfMemory(const ParseNode* node) {
  GXL_SHADER_REPORT(*this, node, msg::kInternalOutOfMemory);
  return E_OUTOFMEMORY;
}

HRESULT ShaderCompiler::LowerExpression(const ParseNode* node, std::uint32_t* results, std::uint32_t targetFlag) {
  if (!node) return results ? E_FAIL : S_OK;
  const ParseNodeKind13* e = AsExpression(node);
  if (!e) return E_FAIL;
  const ParseNodeKind13* left = AsExpression(e->left);
  const ParseNodeKind13* right = AsExpression(e->right);
  std::uint32_t offset = kNoIndex;
  if (e->op == kExprIndex && LiteralOffset(e->right, &offset)) right = nullptr;  // picked, not computed
  const std::uint32_t n = ComponentsOf(*e), na = left ? ComponentsOf(*left) : 0, nb = right ? ComponentsOf(*right) : 0;
  if (n == kNoIndex || na == kNoIndex || nb == kNoIndex) return OutOfMemory(e);
  WordBlock words(*this, na + nb + n);
  if (!words) return OutOfMemory(e);
  std::uint32_t *a = words.Get(), *b = a + na, *out = b + nb;
  FillIndicesWithNone(a, na + nb + n);

  const std::uint32_t op = e->op;
  const std::uint32_t leftFlag = op == kExprInitialise || op == kExprAssign                         ? 1
                                 : op <= kExprPreDecrement || op == kExprIndex || op == kExprSelect ? targetFlag
                                                                                                    : 0;
  HRESULT hr = S_OK;
  if (e->flag) {
    if (left) hr = LowerExpression(left, a, leftFlag);
    if (SUCCEEDED(hr) && right) hr = LowerExpression(right, b, 0);
  } else {
    if (right) hr = LowerExpression(right, b, 0);
    if (SUCCEEDED(hr) && left) hr = LowerExpression(left, a, leftFlag);
  }
  if (FAILED(hr)) return hr;
  if (op > kExprIntrinsic) {
    GXL_SHADER_REPORT(*this, e, msg::kInternalUnrecognizedExpression);
    return E_FAIL;
  }
  const Operands operands{a, na, b, nb, left, offset};
  if (FAILED(hr = ApplyOperator(*e, out, n, operands, targetFlag, results != nullptr))) return hr;
  if (!results) return S_OK;
  if (!targetFlag && FAILED(hr = ConvertToType(*e, out, n))) return hr;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (!Value(out[i])) {
      GXL_SHADER_REPORT(*this, e, msg::kInternalResultRegisterInvalid);
      return E_FAIL;
    }
  }
  std::copy_n(out, n, results);
  return S_OK;
}

HRESULT ShaderCompiler::ApplyOperator(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n, const Operands& o,
                                      std::uint32_t targetFlag, bool wanted) {
  const std::uint32_t op = e.op;
  if (op == kExprValue || op == kExprSequence) {
    if (!o.left) return LowerValue(e.left, wanted ? out : nullptr, n);
    if (o.na == 1) {
      std::fill_n(out, n, o.a[0]);
    } else if (o.na == n) {
      std::copy_n(o.a, n, out);
    } else if (e.rows == 1 && n <= o.na) {
      std::copy_n(o.a, n, out);
    } else {
      // A smaller matrix: the leading columns of the leading rows.
      if (e.rows > o.left->rows || e.columns > o.left->columns) return E_FAIL;
      for (std::uint32_t r = 0; r < e.rows; ++r) std::copy_n(o.a + r * o.left->columns, e.columns, out + r * e.columns);
    }
    return S_OK;
  }
  if (op == kExprIndex) {
    if (o.offset != kNoIndex) {
      if (std::uint64_t{o.offset} + n > o.na) {
        GXL_SHADER_REPORT(*this, &e, msg::kLoweringIndexOutOfBounds);
        return E_FAIL;
      }
      std::copy_n(o.a + o.offset, n, out);
      return S_OK;
    }
    if (!AsExpression(e.right) || !o.left) return E_FAIL;
    return LowerArrayAccess(&e, wanted ? out : nullptr, n, o.a, o.na, o.left->type, o.b, targetFlag);
  }
  if (op == kExprSelect) {
    if (!o.left || !e.right) return E_FAIL;
    if (e.right->kind == NodeKind::Expression) {
      const ExpressionValue& member = static_cast<const ExpressionNode*>(e.right)->value;
      if (member.subKind != kComponentUint || std::uint64_t{member.integer} + n > o.na) return E_FAIL;
      std::copy_n(o.a + member.integer, n, out);
      return S_OK;
    }
    std::uint32_t i = 0;
    for (const ParseNode* cell = e.right; cell; cell = cell->second, ++i) {
      const ParseNode* item = cell->kind == NodeKind::List ? cell->first : nullptr;
      if (i == n || !item || item->kind != NodeKind::Expression) return E_FAIL;
      const std::uint32_t k = static_cast<const ExpressionNode*>(item)->value.integer;
      if (k >= o.na) return E_FAIL;
      out[i] = o.a[k];
    }
    return i == n ? S_OK : E_FAIL;
  }
  if (op == kExprCall) {
    const char* name = nullptr;
    ParseNodeKind10* function = FindEntryPointByDeclaration(e.left, &name);
    if (!function) {
      const char* called = e.token.kind == kTokenIdentifier && e.token.value.text ? e.token.value.text : "";
      GXL_SHADER_REPORT(*this, &e, msg::kMissingImplementation, called);
      return E_FAIL;
    }
    ++inlineDepth;
    const HRESULT hr = LowerFunction(name, function, e.right, out, 0, 0);
    --inlineDepth;
    return hr;
  }
  if (op == kExprIntrinsic) return LowerIntrinsic(&e, out);
  if (op == kExprConditional) return LowerConditional(e, out, n, o);

  // The rest are element-wise over operands of the expression's shape.
  WordBlock room(*this, 2 * n);
  if (!room) return OutOfMemory(&e);
  const std::uint32_t* a = o.left ? Spread(o.a, o.na, n, room.Get()) : nullptr;
  const std::uint32_t* b = AsExpression(e.right) ? Spread(o.b, o.nb, n, room.Get() + n) : nullptr;
  const bool binary = op >= kExprMultiply && op <= kExprAssign;
  if (!a || (binary && !b)) {
    GXL_SHADER_REPORT(*this, &e, msg::kInternalUnrecognizedExpression);
    return E_FAIL;
  }
  HRESULT hr;
  switch (op) {
    case kExprPreIncrement:
    case kExprPreDecrement: {
      const std::uint32_t step = op == kExprPreIncrement ? One() : MinusOne();
      if (step == kNoIndex) return OutOfMemory(&e);
      std::fill_n(room.Get() + n, n, step);
      return StoreInto(e, out, n, o.a, kOpAdd, a, room.Get() + n);
    }
    case kExprInitialise:
      if (const IrValue* held = Value(o.a[0]);
          held && held->bank != target->StandardBankIndex(StandardBank::Undefined)) {
        std::copy_n(o.a, n, out);  // the declaration already gave it a value
        return S_OK;
      }
      return StoreInto(e, out, n, o.a, kOpMove, b, nullptr);
    case kExprAssign:
      return StoreInto(e, out, n, o.a, kOpMove, b, nullptr);
    case kExprNot:
      hr = EmitTruth(&e, out, a, n, true);
      break;
    case kExprNegate:
      hr = Emit1(&e, kOpNegate, n, out, a);
      break;
    case kExprPlus:
      hr = Emit1(&e, kOpMove, n, out, a);
      break;
    default:
      return LowerBinary(e, out, n, a, b);
  }
  return hr == E_OUTOFMEMORY ? OutOfMemory(&e) : hr;
}

HRESULT ShaderCompiler::LowerBinary(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n,
                                    const std::uint32_t* a, const std::uint32_t* b) {
  WordBlock words(*this, 6 * n);
  if (!words) return OutOfMemory(&e);
  std::uint32_t *t = words.Get(), *u = t + n, *v = u + n, *w = v + n, *x = w + n, *y = x + n;
  HRESULT hr = S_OK;
  // a x (1 / b) may land just below a whole quotient (49 x (1 / 49) < 1), and
  // integer results are truncated: a quotient nudged up by 2^-40 of itself
  // truncates right, and no true fraction of 32-bit integers lies that close.
  const TypeNode* type = AsTypeNode(e.type);
  const bool integral = type && (BaseClassMask(type->baseType) & kClassInteger) && type->baseType != kBaseBool;
  auto nudged = [&](std::uint32_t* q, std::uint32_t* into) {
    return integral ? Emit2Constant(&e, kOpMultiply, n, into, q, 1.0 + 0x1p-40) : (std::copy_n(q, n, into), S_OK);
  };
  auto allBoolean = [this, n](const std::uint32_t* values) {
    for (std::uint32_t i = 0; i < n; ++i)
      if (!(Value(values[i])->flags & kValueBoolean)) return false;
    return true;
  };
  switch (e.op) {
    case kExprMultiply:
      hr = Emit2(&e, kOpMultiply, n, out, a, b);
      break;
    case kExprDivide:
      hr = Emit1(&e, kOpReciprocal, n, t, b);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpMultiply, n, u, a, t);
      if (SUCCEEDED(hr)) hr = nudged(u, out);
      break;
    case kExprModulo:
      // d is b with the sign of a x b, so that d x frac(a / d) takes the sign of a.
      hr = Emit2(&e, kOpMultiply, n, t, a, b);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpNegate, n, u, t);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpGreaterEqual, n, v, t, u, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpNegate, n, w, b);
      if (SUCCEEDED(hr)) FillIndicesWithNone(x, n), hr = EmitSelect(&e, x, w, b, v, n);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpReciprocal, n, y, x, kValueExact);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpMultiply, n, t, a, y);
      if (SUCCEEDED(hr)) hr = nudged(t, w);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpFraction, n, u, w, kValueNonNegative);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpMultiply, n, out, x, u);
      break;
    case kExprAdd:
      hr = Emit2(&e, kOpAdd, n, out, a, b);
      break;
    case kExprSubtract:
      hr = Emit1(&e, kOpNegate, n, t, b);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpAdd, n, out, a, t);
      break;
    case kExprLess:
      hr = Emit2(&e, kOpLess, n, out, a, b);
      break;
    case kExprGreater:
      hr = Emit2(&e, kOpLess, n, out, b, a);
      break;
    case kExprLessEqual:  // a <= b is b >= a
      hr = Emit2(&e, kOpGreaterEqual, n, out, b, a);
      break;
    case kExprGreaterEqual:
      hr = Emit2(&e, kOpGreaterEqual, n, out, a, b);
      break;
    case kExprEqual:
    case kExprNotEqual:
      hr = Emit1(&e, kOpNegate, n, t, b);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpAdd, n, u, a, t);
      if (SUCCEEDED(hr)) hr = EmitTruth(&e, out, u, n, e.op == kExprEqual);
      break;
    case kExprAnd:
      if (allBoolean(a) && allBoolean(b)) {
        hr = Emit2(&e, kOpMultiply, n, out, a, b, kValueComparison);
      } else {
        hr = Emit2(&e, kOpMultiply, n, t, a, b);
        if (SUCCEEDED(hr)) hr = EmitTruth(&e, out, t, n, false);
      }
      break;
    case kExprOr:
      // |a| + |b| (or their squares) is above 0 exactly where either is not 0.
      hr = EmitComparisonOperands(&e, t, u, a, n);
      if (SUCCEEDED(hr)) hr = EmitComparisonOperands(&e, v, u, b, n);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpAdd, n, w, t, v, kValueNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpNegate, n, x, w, kValueNonPositive);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpLess, n, out, x, w, kValueComparison);
      break;
    default:
      GXL_SHADER_REPORT(*this, &e, msg::kInternalUnrecognizedExpression);
      return E_FAIL;
  }
  return hr == E_OUTOFMEMORY ? OutOfMemory(&e) : hr;
}

HRESULT ShaderCompiler::LowerConditional(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n,
                                         const Operands& o) {
  // The second operand holds the true values, then the false ones.
  if (!o.left || o.nb != 2 * n || (o.na != n && o.na != 1)) {
    GXL_SHADER_REPORT(*this, &e, msg::kInternalUnrecognizedExpression);
    return E_FAIL;
  }
  const std::uint32_t *whenTrue = o.b, *whenFalse = o.b + n;
  WordBlock words(*this, 2 * n + o.na);
  if (!words) return OutOfMemory(&e);
  std::uint32_t *chosen = words.Get(), *guards = chosen + n, *m = guards + n;
  bool decided = true;
  for (std::uint32_t i = 0; i < n && decided; ++i) {
    ValueRange r;
    if (FAILED(EvaluateRange(o.a[o.na == 1 ? 0 : i], &r))) {
      decided = false;
    } else if (r.low > 0 || r.high < 0) {
      chosen[i] = whenTrue[i];
    } else {
      decided = r.low == 0 && r.high == 0;
      chosen[i] = whenFalse[i];
    }
  }
  HRESULT hr;
  if (decided) {
    hr = Emit1(&e, kOpMove, n, out, chosen);
  } else {
    hr = EmitTruth(&e, m, o.a, o.na, false);
    if (SUCCEEDED(hr)) {
      for (std::uint32_t i = 0; i < n; ++i) guards[i] = m[o.na == 1 ? 0 : i];
      hr = EmitSelect(&e, out, whenFalse, whenTrue, guards, n);
    }
  }
  return hr == E_OUTOFMEMORY ? OutOfMemory(&e) : hr;
}

HRESULT ShaderCompiler::StoreInto(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n,
                                  const std::uint32_t* target, std::uint32_t group, const std::uint32_t* a,
                                  const std::uint32_t* b) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* v = Value(target[i]);
    if (!v || v->symbolSlot == kNoIndex) {
      GXL_SHADER_REPORT(*this, &e, msg::kInternalLValueExpected);
      return E_FAIL;
    }
  }
  // Results that name the target's values replace them in the value map.
  std::copy_n(target, n, out);
  const HRESULT hr = EmitInstruction(&e, IrWord(group, n), out, a, b, 0);
  return hr == E_OUTOFMEMORY ? OutOfMemory(&e) : hr;
}

HRESULT ShaderCompiler::ConvertToType(const ParseNodeKind13& e, std::uint32_t* values, std::uint32_t n) {
  WordBlock words(*this, 3 * n);
  if (!words) return OutOfMemory(&e);
  std::uint32_t *flags = words.Get(), *picked = flags + n, *converted = picked + n;
  std::uint32_t count = 0;
  HRESULT hr = TypeFlagsOf(e.type, flags, n, &count);
  if (FAILED(hr)) return hr;
  count = std::min(count, n);
  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  // Booleans first, then integers, each as one instruction sequence over the
  // components that need it.
  for (const std::uint32_t fact : {std::uint32_t{kValueBoolean}, std::uint32_t{kValueInteger}}) {
    std::uint32_t k = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const IrValue* v = Value(values[i]);
      if (!v) {
        GXL_SHADER_REPORT(*this, &e, msg::kInternalResultRegisterInvalid);
        return E_FAIL;
      }
      const bool wanted = fact == kValueBoolean ? (flags[i] & kValueBoolean) : !(flags[i] & kValueBoolean);
      if (wanted && (flags[i] & fact) && !(v->flags & fact) && v->bank != undefined) picked[k++] = i;
    }
    if (k == 0) continue;
    WordBlock scratch(*this, 8 * k);
    if (!scratch) return OutOfMemory(&e);
    std::uint32_t* x = scratch.Get();
    for (std::uint32_t j = 0; j < k; ++j) x[j] = values[picked[j]];
    if (fact == kValueBoolean) {
      hr = EmitTruth(&e, converted, x, k, false);
    } else {
      // Truncation toward zero: floor(x), plus 1 where x < 0 has a fraction.
      std::uint32_t *t = x + k, *f = t + k, *nf = f + k, *fl = nf + k, *nx = fl + k, *s1 = nx + k, *s2 = s1 + k;
      hr = Emit1(&e, kOpKeptMove, k, t, x);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpFraction, k, f, t, kValueNonNegative | kValueUnitMagnitude);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpNegate, k, nf, f, kValueNonPositive | kValueUnitMagnitude);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpAdd, k, fl, nf, t, kValueInteger);
      if (SUCCEEDED(hr)) hr = Emit1(&e, kOpNegate, k, nx, x);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpLess, k, s1, x, nx, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpLess, k, s2, nf, f, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpMultiply, k, t, s1, s2, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit2(&e, kOpAdd, k, converted, fl, t, kValueInteger);
    }
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(&e) : hr;
    for (std::uint32_t j = 0; j < k; ++j) values[picked[j]] = converted[j];
  }
  return S_OK;
}

HRESULT ShaderCompiler::EmitTruth(const ParseNode* node, std::uint32_t* out, const std::uint32_t* x, std::uint32_t n,
                                  bool zero) {
  WordBlock words(*this, 2 * n);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *m = words.Get(), *negated = m + n;
  const HRESULT hr = EmitComparisonOperands(node, m, negated, x, n);
  if (FAILED(hr)) return hr;
  return Emit2(node, zero ? kOpGreaterEqual : kOpLess, n, out, negated, m, kValueComparison);
}

}  // namespace gxl::shader
