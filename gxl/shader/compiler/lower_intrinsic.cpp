// Lowering of intrinsic calls: the arguments are lowered, the expansion of
// the intrinsic's id is emitted as plain IR, and output parameters are
// stored. This file holds the call and the element-wise expansions; the
// larger forms (mul, determinant, lit, the tests, samples) have their own.
#include "gxl/shader/compiler/lower_intrinsic.h"

#include <algorithm>
#include <cmath>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kUnitInteger = kValueInteger | kValueUnitMagnitude;  // 0x12

// Constants taken in extended precision from 2 and 10, rounded to double.
const double kInverseLn2 = static_cast<double>(1.0L / std::log(2.0L));
const double kLn2 = static_cast<double>(std::log(2.0L));
const double kLog10Of2 = static_cast<double>(std::log(2.0L) / std::log(10.0L));

}  // namespace

HRESULT ShaderCompiler::LowerIntrinsic(const ParseNode* node, std::uint32_t* results) {
  if (!node) return results ? E_FAIL : S_OK;
  const ParseNodeKind13* e = AsExpression(node);
  if (!e || e->op != kExprIntrinsic || !target) return E_FAIL;
  const ParseNode* function = e->left;
  const IntrinsicRecord* row =
      function && function->kind == NodeKind::Expression &&
              static_cast<const ExpressionNode*>(function)->value.subKind == kValueFunction
          ? static_cast<const IntrinsicRecord*>(static_cast<const ExpressionNode*>(function)->value.address)
          : nullptr;
  if (!row) return E_FAIL;
  struct Restore {
    ShaderCompiler& c;
    std::uint32_t precision;
    const std::uint32_t* arguments;
    ~Restore() {
      c.defaultPrecision = precision;
      c.callArguments = arguments;
    }
  } restore{*this, defaultPrecision, callArguments};

  // The argument arrays: an input's values, or room for an output's.
  IntrinsicCall call{};
  call.node = e;
  call.row = row;
  call.results = results;
  call.n = e->rows * e->columns;
  call.parameters = row->ParameterCount();
  const ParseNode* inputs = e->right && e->right->kind == NodeKind::List ? e->right->first : nullptr;
  const ParseNode* outputs =
      e->right && e->right->second && e->right->second->kind == NodeKind::List ? e->right->second->first : nullptr;
  std::uint64_t total = 0;
  const ParseNode* input = inputs;
  for (std::uint32_t p = 0; p < call.parameters; ++p) {
    if (row->entries[1 + p].usage & kIntrinsicIn) {
      if (!input || input->kind != NodeKind::List || !(call.expressions[p] = AsExpression(input->first))) return E_FAIL;
      call.sizes[p] = call.expressions[p]->rows * call.expressions[p]->columns;
      input = input->second;
    } else {
      call.sizes[p] = call.sizes[0];
    }
    total += call.sizes[p];
  }
  if (total > (1u << 24)) return OutOfMemory(e);
  WordBlock words(*this, static_cast<std::uint32_t>(total));
  if (!words) return OutOfMemory(e);
  FillIndicesWithNone(words.Get(), static_cast<std::uint32_t>(total));
  std::uint32_t precision = kValuePrecisionMask;
  bool any = false;
  for (std::uint32_t p = 0, offset = 0; p < call.parameters; offset += call.sizes[p++]) {
    call.args[p] = words.Get() + offset;
    if (!call.expressions[p]) continue;
    const HRESULT hr = LowerExpression(call.expressions[p], call.args[p], 0);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < call.sizes[p]; ++i) {
      precision &= Value(call.args[p][i])->flags;
      any = true;
    }
  }
  // The results share the precision all the arguments share.
  defaultPrecision = any ? precision : 0;
  call.id = row->id;
  if (call.id >= kIntrinsicIdCount) {
    const char* name = e->token.kind == kTokenIdentifier && e->token.value.text ? e->token.value.text : row->Name();
    GXL_SHADER_REPORT(*this, e, msg::kIntrinsicNotImplemented, name);
    return E_FAIL;
  }
  HRESULT hr = ExpandIntrinsic(call);
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(e) : hr;

  // Output parameters: each assignment reads its argument's values.
  const ParseNode* output = outputs;
  for (std::uint32_t p = 0; p < call.parameters; ++p) {
    if (!(row->entries[1 + p].usage & kIntrinsicOut)) continue;
    if (!output || output->kind != NodeKind::List) return E_FAIL;
    callArguments = call.args[p];
    if (FAILED(hr = LowerExpression(output->first, nullptr, 0))) return hr;
    output = output->second;
  }
  return S_OK;
}

HRESULT ShaderCompiler::ExpandIntrinsic(IntrinsicCall& call) {
  const ParseNode* node = call.node;
  const std::uint32_t n = call.n, k = call.sizes[0];
  std::uint32_t* r = call.results;
  std::uint32_t** a = call.args;
  // Arguments read by the expansion must be there.
  auto need = [&](std::uint32_t count) { return count <= call.parameters; };
  switch (call.id) {
    case kIntrinsicClip:
      return need(1) ? EmitDiscard(node, a[0], k) : E_FAIL;
    case kIntrinsicSincos:
      return need(1) && call.parameters == 3 ? EmitSinCos(node, a[0], a[1], a[2], k) : E_FAIL;
    case kIntrinsicModf:
    case kIntrinsicFrexp:
      return ExpandModfFrexp(call);
    default:
      break;
  }
  if (!r) return S_OK;
  WordBlock words(*this, 8 * std::max(n, k) + 8);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *t = words.Get(), *u = t + std::max(n, k), *v = u + std::max(n, k), *w = v + std::max(n, k);
  std::uint32_t *x = w + std::max(n, k), *y = x + std::max(n, k), *z = y + std::max(n, k), *b = z + std::max(n, k);
  auto broadcast = [&](std::uint32_t* into, std::uint32_t value, std::uint32_t count) {
    std::fill_n(into, count, value);
    return value != kNoIndex;
  };
  HRESULT hr = S_OK;
  switch (call.id) {
    case kIntrinsicAbs:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpNegate, n, t, a[0]);
      return SUCCEEDED(hr) ? Emit2(node, kOpMax, n, r, a[0], t, kNonNegative) : hr;
    case kIntrinsicAcos:
      return need(1) ? EmitArcSinCos(node, a[0], nullptr, r, n) : E_FAIL;
    case kIntrinsicAsin:
      return need(1) ? EmitArcSinCos(node, a[0], r, nullptr, n) : E_FAIL;
    case kIntrinsicAll:
    case kIntrinsicAny:
      return need(1) ? ExpandAllAny(call) : E_FAIL;
    case kIntrinsicAtan:
      return need(1) ? EmitArcTan(node, a[0], nullptr, r, n) : E_FAIL;
    case kIntrinsicAtan2:
      return need(2) ? EmitArcTan(node, a[0], a[1], r, n) : E_FAIL;
    case kIntrinsicCeil:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpNegate, n, t, a[0]);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, n, u, t, kFraction);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, a[0], u, kValueInteger) : hr;
    case kIntrinsicClamp:
      if (!need(3)) return E_FAIL;
      hr = Emit2(node, kOpMax, n, t, a[0], a[1]);
      return SUCCEEDED(hr) ? Emit2(node, kOpMin, n, r, t, a[2]) : hr;
    case kIntrinsicCos:
      return need(1) ? EmitSinCos(node, a[0], nullptr, r, n) : E_FAIL;
    case kIntrinsicCosh:
    case kIntrinsicSinh:
    case kIntrinsicTanh:
      // From e^x and e^-x, as powers of 2.
      if (!need(1)) return E_FAIL;
      hr = Emit2Constant(node, kOpMultiply, n, t, a[0], kInverseLn2);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpExp2, n, u, t, kNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, v, t);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpExp2, n, w, v, kNonNegative);
      if (FAILED(hr)) return hr;
      if (call.id == kIntrinsicCosh) {
        hr = Emit2(node, kOpAdd, n, x, u, w, kNonNegative);
        return SUCCEEDED(hr) ? Emit2Constant(node, kOpMultiply, n, r, x, 0.5, kNonNegative) : hr;
      }
      hr = Emit1(node, kOpNegate, n, x, w, kValueNonPositive);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, y, u, x);
      if (FAILED(hr)) return hr;
      if (call.id == kIntrinsicSinh) return Emit2Constant(node, kOpMultiply, n, r, y, 0.5);
      hr = Emit2(node, kOpAdd, n, z, u, w, kNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, b, z, kNonNegative);
      return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, y, b) : hr;
    case kIntrinsicCross: {
      if (!need(2) || call.sizes[0] < 3 || call.sizes[1] < 3) return E_FAIL;
      const std::uint32_t* p = a[0];
      const std::uint32_t* q = a[1];
      const std::uint32_t l1[3] = {p[1], p[2], p[0]}, r1[3] = {q[2], q[0], q[1]};
      const std::uint32_t l2[3] = {p[2], p[0], p[1]}, r2[3] = {q[1], q[2], q[0]};
      hr = Emit2(node, kOpMultiply, 3, t, l1, r1);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 3, u, l2, r2);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 3, v, u);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, 3, r, t, v) : hr;
    }
    case kIntrinsicDdx:
    case kIntrinsicDdy:
      return need(1) ? Emit1(node, call.id == kIntrinsicDdx ? kOpDdx : kOpDdy, n, r, a[0]) : E_FAIL;
    case kIntrinsicDegrees:
      return need(1) ? Emit2Constant(node, kOpMultiply, n, r, a[0], 57.29577791868205) : E_FAIL;
    case kIntrinsicDeterminant:
      return need(1) ? ExpandDeterminant(call) : E_FAIL;
    case kIntrinsicDistance:
    case kIntrinsicLength: {
      const bool distance = call.id == kIntrinsicDistance;
      if (!need(distance ? 2 : 1)) return E_FAIL;
      const std::uint32_t* d = a[0];
      if (distance) {
        hr = Emit1(node, kOpNegate, k, t, a[1]);
        if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, k, u, a[0], t);
        if (FAILED(hr)) return hr;
        d = u;
      } else if (k == 1) {
        hr = Emit1(node, kOpNegate, 1, t, a[0]);
        return SUCCEEDED(hr) ? Emit2(node, kOpMax, 1, r, a[0], t, kNonNegative) : hr;
      }
      std::uint32_t s = kNoIndex, q = kNoIndex;
      hr = EmitInstruction(node, IrWord(kOpDot, k), &s, d, d, kNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpRsq, 1, &q, &s, kNonNegative);
      return SUCCEEDED(hr) ? Emit1(node, kOpReciprocal, 1, r, &q, kNonNegative) : hr;
    }
    case kIntrinsicDot:
      if (!need(2)) return E_FAIL;
      r[0] = kNoIndex;
      return EmitInstruction(node, IrWord(kOpDot, k), r, a[0], a[1], 0);
    case kIntrinsicDst: {
      if (!need(2) || call.sizes[0] < 4 || call.sizes[1] < 4 || !broadcast(t, One(), 1)) return E_FAIL;
      const std::uint32_t l[4] = {one, a[0][1], a[0][2], one}, m[4] = {one, a[1][1], one, a[1][3]};
      return Emit2(node, kOpMultiply, 4, r, l, m);
    }
    case kIntrinsicExp:
      if (!need(1)) return E_FAIL;
      hr = Emit2Constant(node, kOpMultiply, n, t, a[0], kInverseLn2);
      return SUCCEEDED(hr) ? Emit1(node, kOpExp2, n, r, t, kNonNegative) : hr;
    case kIntrinsicExp2:
      return need(1) ? Emit1(node, kOpExp2, n, r, a[0], kNonNegative) : E_FAIL;
    case kIntrinsicFaceforward: {
      if (!need(3)) return E_FAIL;
      // N where dot(I, Ng) < 0, else -N: N + (d >= 0) x (-2N).
      std::uint32_t d = kNoIndex, g = kNoIndex;
      if (Zero() == kNoIndex) return E_OUTOFMEMORY;
      hr = EmitInstruction(node, IrWord(kOpDot, n), &d, a[1], a[2], 0);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, 1, &g, &d, &zero, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, t, a[0]);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, u, t, t);
      if (SUCCEEDED(hr) && broadcast(v, g, n)) hr = Emit2(node, kOpMultiply, n, w, u, v);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, a[0], w) : hr;
    }
    case kIntrinsicFloor:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpFraction, n, t, a[0], kFraction);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, t, kNegatedFraction);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, a[0], u, kValueInteger) : hr;
    case kIntrinsicFmod:
      // f = frac(|a / b|) with the sign of a / b, times b.
      if (!need(2)) return E_FAIL;
      hr = Emit1(node, kOpReciprocal, n, t, a[1]);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, u, a[0], t);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, v, u);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, w, u, v, kNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, n, x, w, kFraction);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, y, u, v, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, z, x);
      if (SUCCEEDED(hr)) FillIndicesWithNone(t, n), hr = EmitSelect(node, t, z, x, y, n);
      return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, t, a[1]) : hr;
    case kIntrinsicFrac:
      return need(1) ? Emit1(node, kOpFraction, n, r, a[0]) : E_FAIL;
    case kIntrinsicFwidth:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpDdx, n, t, a[0]);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, t);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, v, u, t, kNonNegative);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpDdy, n, w, a[0]);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, x, w);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, y, x, w, kNonNegative);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, v, y, kNonNegative) : hr;
    case kIntrinsicIsfinite:
    case kIntrinsicIsinf:
    case kIntrinsicIsnan:
      return need(1) ? ExpandFiniteTest(call) : E_FAIL;
    case kIntrinsicLdexp:
      if (!need(2)) return E_FAIL;
      hr = Emit1(node, kOpExp2, n, t, a[1], kNonNegative);
      return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, a[0], t) : hr;
    case kIntrinsicLerp:
      if (!need(3)) return E_FAIL;
      return EmitSelect(node, r, a[0], a[1], a[2], n);
    case kIntrinsicLit:
      return need(3) ? ExpandLit(call) : E_FAIL;
    case kIntrinsicLog:
    case kIntrinsicLog10:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpLog2, n, t, a[0]);
      if (SUCCEEDED(hr) && !broadcast(u, ExpansionConstant(call.id == kIntrinsicLog ? kLn2 : kLog10Of2), n))
        hr = E_OUTOFMEMORY;
      return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, u, t) : hr;
    case kIntrinsicLog2:
      return need(1) ? Emit1(node, kOpLog2, n, r, a[0]) : E_FAIL;
    case kIntrinsicMax:
    case kIntrinsicMin:
      return need(2) ? Emit2(node, call.id == kIntrinsicMax ? kOpMax : kOpMin, n, r, a[0], a[1]) : E_FAIL;
    case kIntrinsicNoise:
      if (!need(1)) return E_FAIL;
      r[0] = kNoIndex;
      return EmitInstruction(node, IrWord(kOpNoise, k), r, a[0], nullptr, kValueUnitMagnitude);
    case kIntrinsicNormalize:
    case kIntrinsicSign: {
      if (!need(1)) return E_FAIL;
      if (call.id == kIntrinsicNormalize && n > 1) {
        std::uint32_t s = kNoIndex, q = kNoIndex;
        hr = EmitInstruction(node, IrWord(kOpDot, n), &s, a[0], a[0], kNonNegative);
        if (SUCCEEDED(hr)) hr = Emit1(node, kOpRsq, 1, &q, &s, kNonNegative);
        if (SUCCEEDED(hr) && broadcast(t, q, n)) hr = Emit2(node, kOpMultiply, n, r, a[0], t);
        return hr;
      }
      // The sign: (x > 0) - (x < 0); normalize of one component is its sign.
      hr = Emit1(node, kOpNegate, n, t, a[0]);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, u, t, a[0], kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, v, a[0], t, kValueComparison);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, w, v, kValueInteger | kNegatedFraction);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, u, w, kUnitInteger) : hr;
    }
    case kIntrinsicPow:
      return need(2) ? EmitPower(node, r, a[0], a[1], n) : E_FAIL;
    case kIntrinsicRadians:
      return need(1) ? Emit2Constant(node, kOpMultiply, n, r, a[0], 0.017453293005625408) : E_FAIL;
    case kIntrinsicReflect: {
      // i - 2 dot(i, n) n
      if (!need(2)) return E_FAIL;
      std::uint32_t d = kNoIndex, d2 = kNoIndex, f = kNoIndex;
      hr = EmitInstruction(node, IrWord(kOpDot, n), &d, a[0], a[1], 0);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, &d2, &d, &d);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &f, &d2);
      if (SUCCEEDED(hr) && broadcast(t, f, n)) hr = Emit2(node, kOpMultiply, n, u, a[1], t);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, u, a[0]) : hr;
    }
    case kIntrinsicRefract:
      return need(3) ? ExpandRefract(call) : E_FAIL;
    case kIntrinsicRound:
      if (!need(1)) return E_FAIL;
      hr = Emit2Constant(node, kOpAdd, n, t, a[0], 0.5);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, n, u, t, kFraction);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, v, u, kNegatedFraction);
      return SUCCEEDED(hr) ? Emit2(node, kOpAdd, n, r, t, v, kValueInteger) : hr;
    case kIntrinsicRsqrt:
      return need(1) ? Emit1(node, kOpRsq, n, r, a[0], kNonNegative) : E_FAIL;
    case kIntrinsicSaturate:
      if (!need(1) || !broadcast(t, Zero(), n) || !broadcast(u, One(), n)) return E_FAIL;
      hr = Emit2(node, kOpMax, n, v, a[0], t, kNonNegative);
      return SUCCEEDED(hr) ? Emit2(node, kOpMin, n, r, v, u, kFraction) : hr;
    case kIntrinsicSin:
      return need(1) ? EmitSinCos(node, a[0], r, nullptr, n) : E_FAIL;
    case kIntrinsicSmoothstep:
      return need(3) ? ExpandSmoothstep(call) : E_FAIL;
    case kIntrinsicSqrt:
      if (!need(1)) return E_FAIL;
      hr = Emit1(node, kOpRsq, n, t, a[0], kNonNegative);
      return SUCCEEDED(hr) ? Emit1(node, kOpReciprocal, n, r, t, kNonNegative) : hr;
    case kIntrinsicStep:
      return need(2) ? Emit2(node, kOpGreaterEqual, n, r, a[1], a[0], kValueComparison) : E_FAIL;
    case kIntrinsicTan:
      if (!need(1)) return E_FAIL;
      hr = EmitSinCos(node, a[0], t, u, n);
      if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, v, u);
      return SUCCEEDED(hr) ? Emit2(node, kOpMultiply, n, r, t, v) : hr;
    case kIntrinsicTranspose: {
      // No instruction: the result names the argument's values transposed.
      if (!need(1)) return E_FAIL;
      const ParseNodeKind13* x0 = call.expressions[0];
      const std::uint32_t rows = x0->rows, columns = x0->columns;
      if (rows * columns != n) return E_FAIL;
      for (std::uint32_t i = 0; i < rows; ++i)
        for (std::uint32_t j = 0; j < columns; ++j) r[j * rows + i] = a[0][i * columns + j];
      return S_OK;
    }
    case kIntrinsicColorToUbyte4: {
      if (!need(1) || k < 4) return E_FAIL;
      const std::uint32_t swapped[4] = {a[0][2], a[0][1], a[0][0], a[0][3]};
      return Emit2Constant(node, kOpMultiply, 4, r, swapped, 255.001953125, kValueInteger | kValueNonNegative);
    }
    default:
      if (call.id >= kIntrinsicMulFirst && call.id <= kIntrinsicMulLast) return ExpandMul(call);
      if (call.id >= kIntrinsicTexFirst && call.id <= kIntrinsicTexLast) return ExpandSample(call);
      return E_FAIL;
  }
}

}  // namespace gxl::shader
