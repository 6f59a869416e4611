// IR emission: every instruction of the lowering is appended here, expanded
// where the target lacks the operation, given fresh result values, folded to
// literals when its results are known numbers, and its results given the
// facts (boolean, integer) later lowering decisions rely on.
#include <algorithm>

#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

bool IsComparisonLike(std::uint32_t group) {
  return group == kOpMin || group == kOpMax || group == kOpLess || group == kOpGreaterEqual;
}

}  // namespace

HRESULT ShaderCompiler::EmitInstruction(const ParseNode* node, std::uint32_t word, std::uint32_t* results,
                                        const std::uint32_t* arguments, const std::uint32_t* further,
                                        std::uint32_t resultFlags) {
  if (!target) return E_FAIL;
  const std::uint32_t group = IrGroup(word), n = IrWidth(word);
  if (group == kOpMultiply && (resultFlags & kValueNonNegative) && n && arguments && further) {
    // b x b of a boolean b is b.
    bool same = true;
    for (std::uint32_t i = 0; i < n && same; ++i) {
      const IrValue* a = Value(arguments[i]);
      same = arguments[i] == further[i] && a && (a->flags & kValueBoolean);
    }
    if (same) return AppendInstruction(node, IrWord(kOpMove, n), results, arguments, nullptr, resultFlags);
  }
  if (group == kOpDot && n == 1)
    return AppendInstruction(node, IrWord(kOpMultiply, 1), results, arguments, further, resultFlags);
  if (group == kOpDot && n == 2 && !(OperationCaps() & kCapDot2) && arguments && further)
    return EmitDotOfTwo(node, results, arguments, further, resultFlags);
  if (IsComparisonLike(group) && (OperationCaps() & kCapCompareBySelect) && n && arguments && further)
    return EmitCompareBySelect(node, group, n, results, arguments, further, resultFlags);
  return AppendInstruction(node, word, results, arguments, further, resultFlags);
}

HRESULT ShaderCompiler::EmitDotOfTwo(const ParseNode* node, std::uint32_t* results, const std::uint32_t* a,
                                     const std::uint32_t* b, std::uint32_t resultFlags) {
  std::uint32_t products[2];
  for (std::uint32_t i = 0; i < 2; ++i) {
    products[i] = kNoIndex;
    const HRESULT hr = EmitInstruction(node, IrWord(kOpMultiply, 1), &products[i], a + i, b + i, 0);
    if (FAILED(hr)) return hr;
  }
  return EmitInstruction(node, IrWord(kOpAdd, 1), results, &products[0], &products[1], resultFlags);
}

HRESULT ShaderCompiler::EmitCompareBySelect(const ParseNode* node, std::uint32_t group, std::uint32_t n,
                                            std::uint32_t* results, const std::uint32_t* a, const std::uint32_t* b,
                                            std::uint32_t resultFlags) {
  // d = a - b, then select(d, x, y) takes x where a >= b.
  WordBlock w(*this, 4 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *negated = w.Get(), *difference = negated + n, *choices = difference + n;
  HRESULT hr = Emit1(node, kOpNegate, n, negated, b);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, difference, a, negated);
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t& x = choices[i];
    std::uint32_t& y = choices[n + i];
    switch (group) {
      case kOpMin:
        x = b[i], y = a[i];
        break;
      case kOpMax:
        x = a[i], y = b[i];
        break;
      case kOpLess:
        x = Zero(), y = One();
        break;
      default:
        x = One(), y = Zero();
        break;
    }
    if (x == kNoIndex || y == kNoIndex) return E_OUTOFMEMORY;
  }
  return EmitInstruction(node, IrWord(kOpSelect, n), results, difference, choices, resultFlags);
}

HRESULT ShaderCompiler::AppendInstruction(const ParseNode* node, std::uint32_t word, std::uint32_t* results,
                                          const std::uint32_t* arguments, const std::uint32_t* further,
                                          std::uint32_t resultFlags) {
  // Each instruction the lowering makes (even one it rolls back) costs the
  // compile's budget (kLoweringWork).
  // An exact simulation or a covering pass that meets the lowering's bound
  // stops here, and the loop is covered or unrolled instead (loop_cover.cpp).
  if ((m_loop->exactSimulations || m_loop->coverPasses || m_loop->checkCeiling) && PastCeiling()) return E_FAIL;
  const HRESULT charged = target->ChargeWork(kLoweringWork);
  if (FAILED(charged)) return charged;
  ++m_loop->instructionsBuilt;
  // Unrolled and rehearsed loops grow the IR by their iterations times their
  // bodies, nested loops by the product of theirs: a program that needs more
  // than the lowering's bounds could not fit any profile's instruction slots.
  // A check's own rebuilding (UnmeteredWork) counts neither.
  if ((!target->unmeteredWork && ++loweringBuilt > loweringBuildLimit) ||
      std::uint64_t{ValueCount()} + InstructionCount() >= loweringRecordLimit) {
    const HRESULT exhausted = target->ChargeWork(~std::uint64_t{0});
    return FAILED(exhausted) ? exhausted : E_FAIL;
  }
  const std::uint32_t index = target->AddInstruction(word, kNoIndex, kNoIndex);
  IrInstruction* inst = Instruction(index);
  if (!inst) return E_OUTOFMEMORY;
  const std::uint32_t argumentCount = inst->argumentCount, resultCount = inst->resultCount;
  if (argumentCount == 0 && resultCount == 0) {
    inst->word = kOpNop;
    return S_OK;
  }
  // A malformed request leaves an empty instruction behind.
  auto abandon = [inst](HRESULT hr) {
    inst->word = kOpNop;
    inst->argumentCount = inst->resultCount = 0;
    return hr;
  };
  const std::uint32_t first = std::min(IrWidth(word), argumentCount);
  for (std::uint32_t i = 0; i < argumentCount; ++i) {
    const std::uint32_t* from = i < first ? arguments : further;
    const std::uint32_t v = from ? from[i < first ? i : i - first] : kNoIndex;
    if (!Value(v)) {
      GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedValue);
      return abandon(E_FAIL);
    }
    inst->arguments[i] = v;
  }
  for (std::uint32_t i = 0; i < resultCount; ++i) {
    if (results && results[i] != kNoIndex && !Value(results[i])) {
      GXL_SHADER_REPORT(*this, node, msg::kInternalResultRegisterInvalid);
      return abandon(E_FAIL);
    }
  }
  for (std::uint32_t i = 0; i < argumentCount; ++i) ++Value(inst->arguments[i])->useCount;

  HRESULT status = S_OK;
  const std::uint32_t temporaries = target->StandardBankIndex(StandardBank::Temporaries);
  const std::uint32_t precision = (resultFlags & kValuePrecisionMask) ? 0 : defaultPrecision;
  for (std::uint32_t i = 0; i < resultCount; ++i) {
    const std::uint32_t fresh = target->AddValue(temporaries, kNoIndex, kNoIndex, 0.0);
    IrValue* r = Value(fresh);
    if (!r) {
      for (std::uint32_t k = 0; k < argumentCount; ++k) --Value(inst->arguments[k])->useCount;
      return abandon(E_OUTOFMEMORY);
    }
    r->flags = resultFlags | precision;
    r->definingPosition = index;
    r->predicate = blockContext;
    r->predicateSense = polarity;
    if (results && results[i] != kNoIndex) {
      // The result is the named variable's new value.
      const std::uint32_t named = results[i];
      const IrValue* old = Value(named);
      r->symbolSlot = old->symbolSlot;
      r->declaration = old->declaration;
      r->variableComponent = old->variableComponent;
      if (old->symbolSlot != kNoIndex) {
        if (!old->declaration) {
          GXL_SHADER_REPORT(*this, node, msg::kInternalArgumentMissingContext, named);
          status = E_FAIL;
        }
        if (old->symbolSlot < valueMap.Size()) valueMap[old->symbolSlot] = fresh;
      }
    }
    inst->results[i] = fresh;
    if (results) results[i] = fresh;
  }

  for (std::uint32_t i = 0; i < resultCount; ++i) EvaluateRange(inst->results[i], nullptr);
  if (!(options & kOptionNoOptimisation) && !IsSpecialOperation(inst->word)) {
    bool constant = true;
    for (std::uint32_t i = 0; i < resultCount && constant; ++i)
      constant =
          !(Value(inst->results[i])->flags & kValueExact) && SUCCEEDED(GetConstantValue(inst->results[i], nullptr));
    if (constant) {
      const HRESULT hr = FoldToLiterals(*inst);
      if (FAILED(hr)) return hr;
    }
  }
  PropagateFlags(*inst);
  inst->sourcePosition = node;
  inst->inlineDepth = inlineDepth;
  return status;
}

HRESULT ShaderCompiler::FoldToLiterals(IrInstruction& inst) {
  const std::uint32_t n = inst.resultCount;
  if (inst.Group() == kOpMove) {
    // Already a move of literals: new copies would change nothing.
    bool literals = true;
    for (std::uint32_t i = 0; i < inst.argumentCount && literals; ++i) {
      const IrValue* a = Value(inst.arguments[i]);
      const RegisterBank* bank = a ? Bank(a->bank) : nullptr;
      literals = bank && (bank->type & kBankLiteral) && a->relativeIndex == kNoIndex && (a->flags & kValueConstant);
    }
    if (literals) return S_OK;
  }
  WordBlock w(*this, 2 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *kept = w.Get(), *literals = kept + n;
  for (std::uint32_t i = 0; i < n; ++i) {
    double x = 0;
    GetConstantValue(inst.results[i], &x);
    kept[i] = inst.results[i];
    if ((literals[i] = NewLiteral(x)) == kNoIndex) return E_OUTOFMEMORY;
  }
  const std::uint32_t oldCount = inst.argumentCount;
  const std::uint32_t* oldArguments = inst.arguments;
  for (std::uint32_t i = 0; i < oldCount; ++i)
    if (IrValue* a = Value(oldArguments[i]); a && a->useCount) --a->useCount;
  if (FAILED(inst.Init(IrWord(kOpMove, n), kNoIndex, kNoIndex))) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < n; ++i) {
    inst.results[i] = kept[i];
    inst.arguments[i] = literals[i];
    ++Value(literals[i])->useCount;
  }
  return S_OK;
}

void ShaderCompiler::PropagateFlags(const IrInstruction& inst) {
  const std::uint32_t group = inst.Group(), n = inst.Width();
  auto arg = [&](std::uint32_t k) { return Value(k < inst.argumentCount ? inst.arguments[k] : kNoIndex); };
  auto both = [](const IrValue* a, const IrValue* b, std::uint32_t flag) {
    return a && b && (a->flags & flag) && (b->flags & flag);
  };
  for (std::uint32_t i = 0; i < inst.resultCount; ++i) {
    IrValue* r = Value(inst.results[i]);
    switch (group) {
      case kOpMove:
        if (const IrValue* s = arg(i)) {
          r->flags |= s->flags & ~kValuePrecisionMask;
          if (s->flags & (kValueRangeCached | kValueConstant)) {
            r->rangeLow = s->rangeLow;
            r->rangeHigh = (s->flags & kValueRangeCached) ? s->rangeHigh : s->rangeLow;
            r->flags |= kValueRangeCached;
          }
          r->moveSource = inst.arguments[i];
        }
        break;
      case kOpNegate:
        if (const IrValue* s = arg(i)) r->flags |= s->flags & kValueInteger;
        break;
      case kOpAdd:
        if (both(arg(i), arg(n + i), kValueInteger)) r->flags |= kValueInteger;
        break;
      case kOpMin:
      case kOpMax:
      case kOpMultiply:
      case kOpIfMerge:
      case kOpBreakMerge:
      case kOpSelect: {
        const std::uint32_t k = group == kOpSelect ? n + i : i;
        if (both(arg(k), arg(k + n), kValueBoolean))
          r->flags |= kValueComparison;
        else if (both(arg(k), arg(k + n), kValueInteger))
          r->flags |= kValueInteger;
        break;
      }
      case kOpDot: {
        bool integer = true;
        for (std::uint32_t k = 0; k < n && integer; ++k) integer = both(arg(k), arg(n + k), kValueInteger);
        if (integer) r->flags |= kValueInteger;
        break;
      }
      default:
        break;
    }
  }
}

HRESULT ShaderCompiler::EmitSelect(const ParseNode* node, std::uint32_t* results, const std::uint32_t* a,
                                   const std::uint32_t* b, const std::uint32_t* guard, std::uint32_t n) {
  const std::uint32_t caps = OperationCaps();
  WordBlock w(*this, 4 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *t = w.Get(), *u = t + n, *p = u + n, *q = p + n;
  if (caps & kCapCompareBySelect) {
    bool booleans = true;
    for (std::uint32_t i = 0; i < n && booleans; ++i) {
      const IrValue* g = Value(guard[i]);
      booleans = g && (g->flags & kValueBoolean) && (!(caps & kCapSelectOneGuard) || guard[i] == guard[0]);
    }
    if (booleans) {
      // select(-g, a, b): a where -g >= 0, i.e. g = 0.
      std::copy_n(a, n, p);
      std::copy_n(b, n, q);
      HRESULT hr = Emit1(node, kOpNegate, n, t, guard, kValueInteger | kValueNonPositive | kValueUnitMagnitude);
      return SUCCEEDED(hr) ? EmitInstruction(node, IrWord(kOpSelect, n), results, t, p, 0) : hr;
    }
  }
  HRESULT hr;
  if (caps & kCapBlendedSelect) {
    // (1 - g) a + g b
    const std::uint32_t unit = One();
    if (unit == kNoIndex) return E_OUTOFMEMORY;
    std::fill_n(q, n, unit);
    hr = Emit1(node, kOpNegate, n, t, guard);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, u, t, q);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, p, u, a);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, q, guard, b);
    return SUCCEEDED(hr) ? EmitInstruction(node, IrWord(kOpAdd, n), results, p, q, 0) : hr;
  }
  // a + g (b - a)
  std::copy_n(a, n, q);
  hr = Emit1(node, kOpNegate, n, t, a);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, u, b, t);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, p, guard, u);
  return SUCCEEDED(hr) ? EmitInstruction(node, IrWord(kOpAdd, n), results, q, p, 0) : hr;
}

HRESULT ShaderCompiler::EmitComparisonOperands(const ParseNode* node, std::uint32_t* first, std::uint32_t* second,
                                               const std::uint32_t* x, std::uint32_t n) {
  WordBlock w(*this, 3 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *m = w.Get(), *negated = m + n, *t = negated + n;
  HRESULT hr = S_OK;
  if (FlowCaps() & kFlowComparison) {
    // m = |x|
    hr = Emit1(node, kOpNegate, n, t, x);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, m, x, t, kValueNonNegative);
  } else {
    bool nonNegative = true;
    for (std::uint32_t i = 0; i < n && nonNegative; ++i) {
      const IrValue* v = Value(x[i]);
      nonNegative = v && (v->flags & kValueNonNegative);
    }
    if (nonNegative)
      std::copy_n(x, n, m);
    else
      hr = Emit2(node, kOpMultiply, n, m, x, x, kValueNonNegative);
  }
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, negated, m, kValueNonPositive);
  if (FAILED(hr)) return hr;
  std::copy_n(m, n, first);
  std::copy_n(negated, n, second);
  return S_OK;
}

// --- Helpers of the expansions --------------------------------------------------------------

HRESULT ShaderCompiler::Emit1(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out,
                              const std::uint32_t* a, std::uint32_t flags) {
  return Emit2(node, group, n, out, a, nullptr, flags);
}

HRESULT ShaderCompiler::Emit2(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out,
                              const std::uint32_t* a, const std::uint32_t* b, std::uint32_t flags) {
  WordBlock r(*this, n);
  if (!r) return E_OUTOFMEMORY;
  FillIndicesWithNone(r.Get(), n);
  const HRESULT hr = EmitInstruction(node, IrWord(group, n), r.Get(), a, b, flags);
  if (SUCCEEDED(hr)) std::copy_n(r.Get(), n, out);
  return hr;
}

HRESULT ShaderCompiler::Emit2Constant(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out,
                                      const std::uint32_t* a, double x, std::uint32_t flags) {
  WordBlock c(*this, n);
  const std::uint32_t literal = ExpansionConstant(x);
  if (!c || literal == kNoIndex) return E_OUTOFMEMORY;
  std::fill_n(c.Get(), n, literal);
  return Emit2(node, group, n, out, a, c.Get(), flags);
}

}  // namespace gxl::shader
