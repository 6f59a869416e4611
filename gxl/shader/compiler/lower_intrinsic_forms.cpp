// The larger intrinsic expansions: all and any, determinants, the tests for
// finite, infinite and NaN values, lit, modf and frexp, mul with its three
// schemes, refract, smoothstep and the texture samples.
#include <algorithm>

#include "gxl/shader/compiler/lower_intrinsic.h"
#include "gxl/shader/hlsl/hlsl_types.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kExactTest = kValueComparison | kValueExact;  // 0x57
constexpr std::uint32_t kExactNegatedTest =
    kValueExact | kValueUnitMagnitude | kValueNonPositive | kValueInteger;  // 0x5A

}  // namespace

HRESULT ShaderCompiler::ExpandAllAny(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t k = call.sizes[0];
  const std::uint32_t* x = call.args[0];
  std::uint32_t* r = call.results;
  WordBlock words(*this, 3 * k);
  if (!words || k == 0) return E_OUTOFMEMORY;
  std::uint32_t *q = words.Get(), *t = q + k, *z = t + k;
  std::uint32_t d = kNoIndex, e = kNoIndex, p = x[0], m = kNoIndex, negated = kNoIndex;
  HRESULT hr = S_OK;
  if (call.id == kIntrinsicAny) {
    // 1 where the sum of squares is above 0.
    hr = EmitInstruction(node, IrWord(kOpDot, k), &d, x, x, kNonNegative);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &e, &d, kValueNonPositive);
    return SUCCEEDED(hr) ? Emit2(node, kOpLess, 1, r, &e, &d, kValueComparison) : hr;
  }
  if (k >= 4) {
    // The number of zero components, tested for 0.
    hr = Emit2(node, kOpMultiply, k, q, x, x, kNonNegative);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, k, t, q, kValueNonPositive);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, k, z, t, q, kValueComparison);
    if (SUCCEEDED(hr)) hr = EmitInstruction(node, IrWord(kOpDot, k), &d, z, z, kValueInteger | kNonNegative);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &e, &d, kValueInteger | kValueNonPositive);
    return SUCCEEDED(hr) ? Emit2(node, kOpGreaterEqual, 1, r, &e, &d, kValueComparison) : hr;
  }
  // The product of the components, tested for being other than 0.
  for (std::uint32_t i = 1; i < k && SUCCEEDED(hr); ++i) hr = Emit2(node, kOpMultiply, 1, &p, &p, &x[i]);
  if (SUCCEEDED(hr)) hr = EmitComparisonOperands(node, &m, &negated, &p, 1);
  return SUCCEEDED(hr) ? Emit2(node, kOpLess, 1, r, &negated, &m, kValueComparison) : hr;
}

HRESULT ShaderCompiler::ExpandDeterminant(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t* x = call.args[0];
  std::uint32_t* r = call.results;
  const std::uint32_t k = call.sizes[0], rows = call.expressions[0]->rows, columns = call.expressions[0]->columns;
  if (k == 1) {
    r[0] = x[0];
    return S_OK;
  }
  if (rows != columns || rows < 2 || rows > 4) return E_FAIL;
  auto m = [&](std::uint32_t i, std::uint32_t j) { return x[i * columns + j]; };
  HRESULT hr = S_OK;
  if (rows == 2) {
    const std::uint32_t a[2] = {m(0, 0), m(0, 1)}, b[2] = {m(1, 1), m(1, 0)};
    std::uint32_t p[2], t = kNoIndex;
    hr = Emit2(node, kOpMultiply, 2, p, a, b);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &t, &p[1]);
    return SUCCEEDED(hr) ? Emit2(node, kOpAdd, 1, r, &p[0], &t) : hr;
  }
  if (rows == 3) {
    // The cofactors of the first column, then their dot product with it.
    const std::uint32_t p1[3] = {m(1, 1), m(2, 1), m(0, 1)}, p2[3] = {m(2, 2), m(0, 2), m(1, 2)};
    const std::uint32_t q1[3] = {m(2, 1), m(0, 1), m(1, 1)}, q2[3] = {m(1, 2), m(2, 2), m(0, 2)};
    const std::uint32_t column[3] = {m(0, 0), m(1, 0), m(2, 0)};
    std::uint32_t p[3], q[3], t[3], c[3];
    hr = Emit2(node, kOpMultiply, 3, p, p1, p2);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 3, q, q1, q2);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 3, t, q);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 3, c, p, t);
    if (SUCCEEDED(hr)) r[0] = kNoIndex, hr = EmitInstruction(node, IrWord(kOpDot, 3), r, c, column, 0);
    return hr;
  }
  // 4 x 4: each cofactor of the first column from three 2 x 2 minors.
  static constexpr std::uint8_t kP[4][6] = {
      {22, 32, 12, 33, 13, 23}, {32, 2, 22, 23, 33, 3}, {12, 32, 2, 33, 3, 13}, {22, 2, 12, 13, 23, 3}};
  static constexpr std::uint8_t kQ[4][6] = {
      {32, 12, 22, 23, 33, 13}, {22, 32, 2, 33, 3, 23}, {32, 2, 12, 13, 33, 3}, {12, 22, 2, 23, 3, 13}};
  static constexpr std::uint8_t kC[4][3] = {{11, 21, 31}, {1, 21, 31}, {1, 11, 31}, {1, 11, 21}};
  auto at = [&](std::uint8_t ij) { return m(ij / 10, ij % 10); };
  std::uint32_t p[4][3], q[4][3], t[4][3], v[4][3], c[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  for (std::uint32_t i = 0; i < 4 && SUCCEEDED(hr); ++i) {
    const std::uint32_t a[3] = {at(kP[i][0]), at(kP[i][1]), at(kP[i][2])},
                        b[3] = {at(kP[i][3]), at(kP[i][4]), at(kP[i][5])};
    hr = Emit2(node, kOpMultiply, 3, p[i], a, b);
  }
  for (std::uint32_t i = 0; i < 4 && SUCCEEDED(hr); ++i) {
    const std::uint32_t a[3] = {at(kQ[i][0]), at(kQ[i][1]), at(kQ[i][2])},
                        b[3] = {at(kQ[i][3]), at(kQ[i][4]), at(kQ[i][5])};
    hr = Emit2(node, kOpMultiply, 3, q[i], a, b);
  }
  for (std::uint32_t i = 0; i < 4 && SUCCEEDED(hr); ++i) hr = Emit1(node, kOpNegate, 3, t[i], q[i]);
  for (std::uint32_t i = 0; i < 4 && SUCCEEDED(hr); ++i) hr = Emit2(node, kOpAdd, 3, v[i], p[i], t[i]);
  for (std::uint32_t i = 0; i < 4 && SUCCEEDED(hr); ++i) {
    const std::uint32_t minors[3] = {at(kC[i][0]), at(kC[i][1]), at(kC[i][2])};
    hr = EmitInstruction(node, IrWord(kOpDot, 3), &c[i], v[i], minors, 0);
  }
  const std::uint32_t column[4] = {m(0, 0), m(1, 0), m(2, 0), m(3, 0)};
  if (SUCCEEDED(hr)) r[0] = kNoIndex, hr = EmitInstruction(node, IrWord(kOpDot, 4), r, c, column, 0);
  return hr;
}

HRESULT ShaderCompiler::ExpandFiniteTest(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t n = call.n;
  const std::uint32_t* x = call.args[0];
  std::uint32_t* r = call.results;
  if (One() == kNoIndex || Zero() == kNoIndex) return E_OUTOFMEMORY;
  const bool finite = call.id == kIntrinsicIsfinite, infinite = call.id == kIntrinsicIsinf;
  if (OperationCaps() & kCapNoInfinities) {
    std::fill_n(r, n, finite ? one : zero);
    return S_OK;
  }
  // The test, exact so that nothing folds x - x to 0.
  WordBlock words(*this, 5 * n);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *t = words.Get(), *d = t + n, *s = d + n, *u = s + n, *g = u + n;
  HRESULT hr;
  if (finite) {
    hr = Emit1(node, kOpNegate, n, t, x, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, d, x, t, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, s, d, d, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, s, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, r, u, s, kExactTest);
  } else if (infinite) {
    hr = Emit1(node, kOpReciprocal, n, t, x, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, s, t, t, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, s, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, r, u, s, kExactTest);
  } else {
    hr = Emit2(node, kOpMultiply, n, s, x, x, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, s, kValueExact);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, g, s, u, kExactTest);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, t, g, kExactNegatedTest);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, r, t, g, kExactTest);
  }
  if (FAILED(hr)) return hr;
  // Where the argument's range decides, the literal answer names the result.
  for (std::uint32_t i = 0; i < n; ++i) {
    ValueRange range{-infinity, infinity};
    if (FAILED(EvaluateRange(x[i], &range))) range = {-infinity, infinity};
    const bool bounded = range.low > -infinity && range.high < infinity;
    const bool infiniteOnly = range.low == infinity || range.high == -infinity;
    if (bounded) {
      r[i] = finite ? one : zero;
    } else if (infiniteOnly) {
      r[i] = infinite ? one : zero;
    } else if (!finite && !infinite && !(range.low == -infinity && range.high == infinity)) {
      r[i] = zero;
    }
  }
  return S_OK;
}

HRESULT ShaderCompiler::ExpandLit(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  std::uint32_t* r = call.results;
  if (call.n != 4) return E_FAIL;
  const std::uint32_t l = call.args[0][0], h = call.args[1][0], m = call.args[2][0];
  if (OperationCaps() & kCapNativeLit) {
    const std::uint32_t arguments[4] = {l, h, m, m};
    FillIndicesWithNone(r, 4);
    return EmitInstruction(node, IrWord(kOpLit, 4), r, arguments, nullptr, 0);
  }
  if (One() == kNoIndex) return E_OUTOFMEMORY;
  // y = max(l, 0); z = h^m where l > 0 and h > 0; x = w = 1.
  std::uint32_t t = kNoIndex, p = kNoIndex, u = kNoIndex, q = kNoIndex, g = kNoIndex, w = kNoIndex;
  HRESULT hr = Emit1(node, kOpNegate, 1, &t, &l);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, 1, &p, &t, &l, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &r[1], &p, &l);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &u, &h);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, 1, &q, &u, &h, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &g, &p, &q, kValueComparison);
  if (SUCCEEDED(hr)) hr = EmitPower(node, &w, &h, &m, 1);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &r[2], &w, &g, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpMove, 1, &r[0], &one, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpMove, 1, &r[3], &one, kValueComparison);
  return hr;
}

HRESULT ShaderCompiler::ExpandModfFrexp(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  if (call.parameters < 2) return E_FAIL;
  const std::uint32_t n = call.sizes[0];
  const std::uint32_t* x = call.args[0];
  std::uint32_t* out = call.args[1];  // the output parameter's fresh values
  std::uint32_t* r = call.results;
  WordBlock words(*this, 10 * n);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *a = words.Get(), *f = a + n, *t = f + n, *i = t + n, *u = i + n, *p = u + n, *v = p + n, *q = v + n,
                *g = q + n, *w = g + n;
  HRESULT hr;
  if (call.id == kIntrinsicModf) {
    // The whole part rounded toward zero: floor, plus 1 below 0 with a fraction.
    hr = Emit1(node, kOpKeptMove, n, a, x);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, n, f, a, kFraction);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, t, f, kNegatedFraction);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, i, t, a, kValueInteger);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, x);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, p, x, u, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, v, f);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, q, v, f, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, g, p, q, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, out, i, g, kValueInteger);
    if (FAILED(hr) || !r) return hr;
    hr = Emit1(node, kOpNegate, n, w, out, kValueInteger);
    return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, x, w, kValueUnitMagnitude) : hr;
  }
  // The exponent: log2 |x| rounded up (0 for x = 0); the mantissa x / 2^e.
  if (SUCCEEDED(hr = Emit1(node, kOpNegate, n, t, x))) hr = Emit2(node, kOpMax, n, a, t, x, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, a, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, p, u, a, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, v, p, a, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpLog2, n, i, v);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, q, i);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, n, f, q, kFraction);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, out, i, f, kValueInteger);
  if (FAILED(hr) || !r) return hr;
  hr = Emit1(node, kOpExp2, n, g, out, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, w, g, kNonNegative);
  return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, x, w) : hr;
}

HRESULT ShaderCompiler::ExpandMul(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  std::uint32_t* r = call.results;
  const std::uint32_t n = call.n;
  std::uint32_t *a = call.args[0], *b = call.args[1];
  if (call.parameters < 2) return E_FAIL;
  WordBlock spread(*this, n);
  if (!spread) return E_OUTOFMEMORY;
  switch (call.id) {
    case kIntrinsicMulFirst:
    case kIntrinsicMulFirst + 1:
    case kIntrinsicMulFirst + 2:  // scalar times anything
      std::fill_n(spread.Get(), n, a[0]);
      return Emit2(node, kOpMultiply, n, r, spread.Get(), b);
    case kIntrinsicMulFirst + 3:
    case kIntrinsicMulFirst + 6:  // anything times a scalar
      std::fill_n(spread.Get(), n, b[0]);
      return Emit2(node, kOpMultiply, n, r, a, spread.Get());
    default:
      break;
  }
  // Vectors and matrices: the operands in the layouts a product reads them in.
  const TypeNode* lt = AsTypeNode(call.expressions[0]->type);
  const TypeNode* rt = AsTypeNode(call.expressions[1]->type);
  if (!lt || !rt) return E_FAIL;
  const bool leftMatrix = lt->shape == kShapeMatrix, rightMatrix = rt->shape == kShapeMatrix;
  const ParseNode* leftType = lt;
  const ParseNode* rightType = rt;
  if (leftMatrix && !(leftType = new TypeNode(kShapeMatrix, lt->baseType, lt->rows, lt->columns, kTypeRowMajor)))
    return E_OUTOFMEMORY;
  if (rightMatrix && !(rightType = new TypeNode(kShapeMatrix, rt->baseType, rt->rows, rt->columns, kTypeColumnMajor)))
    return E_OUTOFMEMORY;
  const std::uint32_t rows = leftMatrix ? lt->rows : 1, inner = call.sizes[0] / rows;
  const std::uint32_t inner2 = rightMatrix ? rt->rows : call.sizes[1], columns = rightMatrix ? rt->columns : 1;
  if (inner != inner2 || inner == 0 || n != rows * columns || call.sizes[0] != rows * inner ||
      call.sizes[1] != inner2 * columns)
    return E_FAIL;
  WordBlock words(*this, call.sizes[0] + call.sizes[1] + 4 * std::max(rows, columns) + inner * columns);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *left = words.Get(), *right = left + call.sizes[0], *line = right + call.sizes[1];
  std::uint32_t *other = line + std::max(rows, columns), *product = other + std::max(rows, columns);
  std::uint32_t *sum = product + std::max(rows, columns), *transposed = sum + std::max(rows, columns);
  std::copy_n(a, call.sizes[0], left);
  std::copy_n(b, call.sizes[1], right);
  HRESULT hr = ResolveMoveSources(leftType, left, call.sizes[0]);
  if (SUCCEEDED(hr)) hr = ResolveMoveSources(rightType, right, call.sizes[1]);
  if (FAILED(hr)) return hr;
  const bool byRows = CheckRowLayout(left, lt->shape, rows, inner);
  const bool byColumns = CheckColumnLayout(right, rt->shape, inner, columns);
  if (byRows && byColumns) {
    // One dot product per result component: row i of the left, column j of the right.
    for (std::uint32_t j = 0; j < columns; ++j)
      for (std::uint32_t k = 0; k < inner; ++k) transposed[j * inner + k] = right[k * columns + j];
    for (std::uint32_t i = 0; i < rows; ++i) {
      for (std::uint32_t j = 0; j < columns; ++j) {
        r[i * columns + j] = kNoIndex;
        hr = EmitInstruction(node, IrWord(kOpDot, inner), &r[i * columns + j], left + i * inner, transposed + j * inner,
                             0);
        if (FAILED(hr)) return hr;
      }
    }
    return S_OK;
  }
  // Sums of products: down the columns of the left, or along the rows of the right.
  const bool down = !byRows;
  const std::uint32_t width = down ? rows : columns, lines = down ? columns : rows;
  for (std::uint32_t o = 0; o < lines; ++o) {
    for (std::uint32_t k = 0; k < inner; ++k) {
      for (std::uint32_t i = 0; i < width; ++i) {
        line[i] = down ? left[i * inner + k] : right[k * columns + i];
        other[i] = down ? right[k * columns + o] : left[o * inner + k];
      }
      hr = down ? Emit2(node, kOpMultiply, width, product, line, other)
                : Emit2(node, kOpMultiply, width, product, other, line);
      if (FAILED(hr)) return hr;
      if (k == 0)
        std::copy_n(product, width, sum);
      else if (FAILED(hr = Emit2(node, kOpAdd, width, sum, sum, product)))
        return hr;
    }
    for (std::uint32_t i = 0; i < width; ++i) r[down ? i * columns + o : o * columns + i] = sum[i];
  }
  return S_OK;
}

HRESULT ShaderCompiler::ExpandRefract(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t n = call.n;
  const std::uint32_t *i = call.args[0], *normal = call.args[1], ri = call.args[2][0];
  std::uint32_t* r = call.results;
  if (One() == kNoIndex || Zero() == kNoIndex) return E_OUTOFMEMORY;
  // k = 1 - ri^2 (1 - c^2) with c = dot(i, n); where k < 0 everything is 0.
  std::uint32_t c = kNoIndex, c2 = kNoIndex, r2 = kNoIndex, t = kNoIndex, u = kNoIndex, v = kNoIndex, w = kNoIndex;
  std::uint32_t k = kNoIndex, g = kNoIndex, kg = kNoIndex, a = kNoIndex, bb = kNoIndex, q = kNoIndex, s = kNoIndex;
  std::uint32_t m = kNoIndex;
  HRESULT hr = EmitInstruction(node, IrWord(kOpDot, n), &c, i, normal, 0);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &c2, &c, &c, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &r2, &ri, &ri, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &t, &c2, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, &u, &one, &t);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &v, &r2, &u);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &w, &v);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, &k, &one, &w);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, 1, &g, &k, &zero, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &kg, &k, &g, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &a, &ri, &g);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &bb, &a, &c);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpRsq, 1, &q, &kg, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, 1, &s, &q, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, &m, &bb, &s);
  if (FAILED(hr)) return hr;
  // a i - m n
  WordBlock words(*this, 4 * n);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *spread = words.Get(), *p = spread + n, *q2 = p + n, *t2 = q2 + n;
  std::fill_n(spread, n, a);
  if (FAILED(hr = Emit2(node, kOpMultiply, n, p, spread, i))) return hr;
  std::fill_n(spread, n, m);
  if (SUCCEEDED(hr = Emit2(node, kOpMultiply, n, q2, spread, normal))) hr = Emit1(node, kOpNegate, n, t2, q2);
  return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, p, t2) : hr;
}

HRESULT ShaderCompiler::ExpandSmoothstep(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t n = call.n;
  const std::uint32_t *a = call.args[0], *b = call.args[1], *x = call.args[2];
  std::uint32_t* r = call.results;
  WordBlock words(*this, 10 * n);
  if (!words || One() == kNoIndex || Zero() == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t *zeros = words.Get(), *ones = zeros + n, *t0 = ones + n, *w = t0 + n, *d = w + n, *v = d + n;
  std::uint32_t *t = v + n, *t1 = t + n, *t2 = t1 + n, *u = t2 + n;
  std::fill_n(zeros, n, zero);
  std::fill_n(ones, n, one);
  // t = saturate((x - a) / (b - a)); t^2 (3 - 2t)
  HRESULT hr = Emit1(node, kOpNegate, n, t0, a);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, w, b, t0);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, d, x, t0);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, v, w);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, t, d, v);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, t1, t, zeros, kNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMin, n, t2, t1, ones, kFraction);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, n, u, t2, -2.0, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, n, t0, u, 3.0);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, t, t2, t2, kFraction);
  return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, t0, t) : hr;
}

HRESULT ShaderCompiler::ExpandSample(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t id = call.id;
  if (call.n != 4 || call.parameters < 2) return E_FAIL;
  // Per kind (1D, 2D, 3D, cube): plain and gradient samples address the
  // coordinate's own width (a 1D one as two components); the rest four.
  const std::uint32_t form = (id - kIntrinsicTexFirst) % 5, kind = (id - kIntrinsicTexFirst) / 5;
  const std::uint32_t width = form >= 2 ? 4 : kind == 0 ? 2 : kind == 1 ? 2 : 3;
  const std::uint32_t groups = form == 1 ? 3 : 1;
  if (call.parameters < 1 + groups) return E_FAIL;
  WordBlock words(*this, width * (1 + groups));
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *sampler = words.Get(), *coordinates = sampler + width;
  std::fill_n(sampler, width, call.args[0][0]);
  for (std::uint32_t g = 0; g < groups; ++g) {
    const std::uint32_t size = call.sizes[1 + g];
    if (size == 0) return E_FAIL;
    for (std::uint32_t i = 0; i < width; ++i) coordinates[g * width + i] = call.args[1 + g][std::min(i, size - 1)];
  }
  if (id == kIntrinsicTexFirst) {
    // A one-component input coordinate makes the lookup a dependent read.
    std::uint32_t resolved = call.args[1][0];
    if (FAILED(ResolveMoveSources(nullptr, &resolved, 1))) return E_FAIL;
    const IrValue* v = Value(call.args[1][0]);
    const RegisterBank* bank = v ? Bank(v->bank) : nullptr;
    if (bank && (bank->type & kBankInitialised) && v->component == 0 && v->reg != kNoIndex) {
      bool wide = false;
      for (std::uint32_t i = 0; i < ValueCount() && !wide; ++i) {
        const IrValue* w = Value(i);
        wide = w && w->bank == v->bank && w->reg == v->reg && w->component == 1;
      }
      if (!wide) GXL_SHADER_REPORT(*this, node, msg::kTex1DDependent);
    }
  }
  FillIndicesWithNone(call.results, 4);
  return EmitInstruction(node, IrWord(kOpTex1D + (id - kIntrinsicTexFirst), width), call.results, sampler, coordinates,
                         0);
}

}  // namespace gxl::shader
