// Power, normalize, two-component dot-add, lerp, scalar results written
// through their one move, the sincos destination and forwarding moves.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kLerp = 0x701, kNormalize = 0x702, kMad = 0x703, kPower = 0x70D;
constexpr std::uint32_t kDotAdd2Word = 0x70800002, kDot2Word = 0x50000002;
constexpr std::uint32_t kCapLerpNeedsSaturate = 0x2000000;
constexpr std::uint32_t kCapOutputsByOrderedMove = 0x1;
constexpr std::uint32_t kBankForwarded = 0x80000000u;

HRESULT Match(ShaderTarget& t, std::uint32_t pattern, bool relaxed, std::uint32_t maxWidth, MatchedList& list,
              Captures& captures) {
  list.count = 0;
  captures.Clear();
  return MatchExpressionPattern(t, t.currentIndex, Pattern(pattern), list, captures, ComponentMap::Identity(), maxWidth,
                                relaxed);
}

// Puts `node` in place of the current instruction and retires the matched
// instructions only it read.
void Commit(ShaderTarget& t, IrInstruction* node, const MatchedList& list) {
  const std::uint32_t mask = RetirableMask(t, list, t.currentIndex, node->arguments, node->argumentCount);
  ReplaceCurrent(t, node);
  Retire(t, list, mask);
}

IrInstruction* NewWithCurrentResults(const ShaderTarget& t, std::uint32_t word, const std::uint32_t* arguments,
                                     std::uint32_t argumentCount) {
  IrInstruction* node = NewInstruction(word, argumentCount, t.current->resultCount);
  if (!node) return nullptr;
  std::copy(arguments, arguments + argumentCount, node->arguments);
  std::copy(t.current->results, t.current->results + t.current->resultCount, node->results);
  return node;
}

// The target's operand rules accept `node` (slot 8).
bool Accepted(ShaderTarget& t, const IrInstruction& node) {
  std::uint32_t group = 0;
  return t.NextArgumentToCopy(node, &group) == 0;
}

// Instruction `node` goes in right after `position`.
HRESULT InsertAfter(ShaderProgram& p, std::uint32_t position, IrInstruction* node) {
  const std::uint32_t last = p.instructions.Append(node);
  if (last == kNoIndex) return E_OUTOFMEMORY;
  for (std::uint32_t i = last; i > position + 1; --i) std::swap(p.instructions.Slot(i), p.instructions.Slot(i - 1));
  return S_OK;
}

}  // namespace

HRESULT RecognizePower(ShaderTarget& t) {
  const IrInstruction* cur = t.current;
  if (!cur || cur->word != IrWord(kOpExp2, 1) || cur->resultCount != 1 ||
      (BankTypeOf(t, cur->results[0]) & kBankOutput))
    return S_FALSE;
  MatchedList list;
  Captures c;
  if (Match(t, 41, false, 1, list, c) != S_OK) return S_FALSE;
  const std::uint32_t arguments[2] = {c.slot[1][0], c.slot[0][0]};  // base, exponent
  if (arguments[0] == kNoIndex || arguments[1] == kNoIndex) return S_FALSE;
  IrInstruction* node = NewWithCurrentResults(t, IrWord(kPower, 1), arguments, 2);
  if (!node) return E_OUTOFMEMORY;
  Commit(t, node, list);
  return S_OK;
}

HRESULT RecognizeNormalize(ShaderTarget& t) {
  const IrInstruction* cur = t.current;
  // nrm scales by the length of x, y and z alone: only three components are a normalize.
  if (!cur || cur->word != IrWord(kOpMultiply, 3)) return S_FALSE;
  const std::uint32_t n = cur->Width();
  MatchedList list;
  Captures c;
  if (Match(t, 17, false, n, list, c) != S_OK) return S_FALSE;
  std::uint32_t arguments[4];
  for (std::uint32_t i = 0; i < n; ++i) {
    arguments[i] = c.slot[0][i];
    if (arguments[i] == kNoIndex || c.slot[1][i] == kNoIndex || c.slot[2][i] == kNoIndex ||
        !SameOperand(t, arguments[i], c.slot[1][i]) || !SameOperand(t, arguments[i], c.slot[2][i]))
      return S_FALSE;
  }
  IrInstruction* node = NewWithCurrentResults(t, IrWord(kNormalize, n), arguments, n);
  if (!node) return E_OUTOFMEMORY;
  Commit(t, node, list);
  return S_OK;
}

HRESULT RecognizeDotAdd2(ShaderTarget& t) {
  const IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpAdd) return S_FALSE;
  const std::uint32_t n = cur->Width();
  for (std::uint32_t pattern : {52u, 53u}) {
    MatchedList list;
    Captures c;
    if (Match(t, pattern, true, n, list, c) != S_OK) continue;
    // The dot product's only reader is this add.
    const IrInstruction* dot = t.Instruction(list.position[0]);
    if (list.count != 2 || !dot || dot->word != kDot2Word || dot->resultCount != 1) continue;
    const IrValue* product = t.Value(dot->results[0]);
    if (!product || CountReadsAt(t, dot->results[0], &t.currentIndex, 1) != product->useCount) continue;
    std::uint32_t arguments[6] = {c.slot[0][0], c.slot[0][1], c.slot[1][0], c.slot[1][1], c.slot[2][0], c.slot[2][0]};
    if (std::find(arguments, arguments + 6, kNoIndex) != arguments + 6) continue;
    bool scalar = true;
    for (std::uint32_t i = 1; i < n; ++i)
      scalar = scalar && c.slot[2][i] != kNoIndex && SameOperand(t, c.slot[2][i], arguments[4]);
    if (!scalar) continue;
    // -dot(a, b) + c is dot(a, -b) + c.
    for (std::uint32_t k = 2; pattern == 53 && k < 4; ++k) {
      HRESULT hr;
      if ((arguments[k] = NegatedValue(t, arguments[k], &hr)) == kNoIndex) return FAILED(hr) ? hr : S_FALSE;
    }
    IrInstruction* node = NewWithCurrentResults(t, kDotAdd2Word, arguments, 6);
    if (!node) return E_OUTOFMEMORY;
    if (t.NeedsSwizzleFix(*node)) {
      delete node;
      return S_FALSE;
    }
    Commit(t, node, list);
    return S_OK;
  }
  return S_FALSE;
}

HRESULT ConvertDot2ToDotAdd2(ShaderTarget& t) {
  const IrInstruction* cur = t.current;
  if (!cur || cur->word != kDot2Word || cur->argumentCount != 4) return S_FALSE;
  std::uint32_t arguments[6];
  std::copy(cur->arguments, cur->arguments + 4, arguments);
  for (std::uint32_t k = 4; k < 6; ++k)
    if ((arguments[k] = LiteralValue(t, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
  IrInstruction* node = NewWithCurrentResults(t, kDotAdd2Word, arguments, 6);
  if (!node) return E_OUTOFMEMORY;
  if (t.NeedsSwizzleFix(*node)) {
    delete node;
    return S_FALSE;
  }
  ReplaceCurrent(t, node);
  return S_OK;
}

HRESULT RecognizeLerpFromMad(ShaderTarget& t, bool warn) {
  const IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kMad) return S_FALSE;
  const std::uint32_t n = cur->Width();
  const bool saturatedFactor = t.profileLimits.capabilities & kCapLerpNeedsSaturate;
  for (std::uint32_t pattern : {7u, 8u}) {
    MatchedList list;
    Captures c;
    if (n == 0 || n > 4 || Match(t, pattern, false, n, list, c) != S_OK) continue;
    // mad(a + (-e), f, e) is lrp(f, a, e).
    std::uint32_t arguments[12];
    bool shape = true;
    for (std::uint32_t i = 0; i < n && shape; ++i) {
      const std::uint32_t a = c.slot[0][i], negated = c.slot[1][i], f = c.slot[2][i], e = c.slot[3][i];
      shape = a != kNoIndex && negated != kNoIndex && f != kNoIndex && e != kNoIndex;
      if (shape && saturatedFactor)
        shape = t.ResolveAlias(negated) == t.ResolveAlias(e) &&
                (t.Value(negated)->binding ^ t.Value(e)->binding) == kNegateBit;
      else if (shape)
        shape = IsNegation(t, negated, e);
      arguments[i] = f;
      arguments[n + i] = a;
      arguments[2 * n + i] = e;
    }
    if (!shape) continue;
    IrInstruction* node = NewWithCurrentResults(t, IrWord(kLerp, n), arguments, 3 * n);
    if (!node) return E_OUTOFMEMORY;
    bool factorOk = true;
    for (std::uint32_t i = 0; i < n && saturatedFactor; ++i) {
      const IrValue* f = t.Value(arguments[i]);
      const std::uint32_t unit = kValueNonNegative | kValueUnitMagnitude;
      factorOk = factorOk && ((f->binding & kSaturateBinding) ||
                              ((BankTypeOf(t, arguments[i]) & kBankLiteral) && (f->flags & unit) == unit));
    }
    if (!factorOk || !Accepted(t, *node)) {
      delete node;
      if (!factorOk && warn) GXL_SHADER_REPORT(t, cur->sourcePosition, msg::kLerpNotSaturated);
      return S_FALSE;
    }
    Commit(t, node, list);
    return S_OK;
  }
  return S_FALSE;
}

HRESULT MatchOneMinusFactor(const ShaderProgram& p, const std::uint32_t* complement, const std::uint32_t* factor,
                            std::uint32_t n, std::uint32_t* adds) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t value = p.ResolveAlias(complement[i]);
    const IrValue* v = p.values[value];
    const IrValue* read = p.values[complement[i]];
    const IrInstruction* add = v && v->definingPosition != kNoIndex ? p.instructions[v->definingPosition] : nullptr;
    if (!add || add->Group() != kOpAdd || read->binding != 0 || v->useCount != 1) return S_FALSE;
    const std::uint32_t w = add->Width();
    const std::uint32_t j =
        static_cast<std::uint32_t>(std::find(add->results, add->results + add->resultCount, value) - add->results);
    if (j >= add->resultCount || j >= w || add->argumentCount != 2 * w) return S_FALSE;
    bool found = false;
    for (const auto& [one, other] :
         {std::pair{add->arguments[j], add->arguments[w + j]}, std::pair{add->arguments[w + j], add->arguments[j]}}) {
      const IrValue* o = p.values[other];
      found = found || (IsLiteral(p, one, 1.0) && o && (o->binding & kSourceModifierBits) == kNegateBit &&
                        IsNegation(p, other, factor[i]));
    }
    if (!found) return S_FALSE;
    if (adds) adds[i] = v->definingPosition;
  }
  return S_OK;
}

HRESULT RecognizeLerp(ShaderTarget& t, const std::uint32_t* a, const std::uint32_t* complement, const std::uint32_t* b,
                      const std::uint32_t* factor) {
  if (!t.current) return S_FALSE;
  const std::uint32_t n = t.current->Width();
  std::uint32_t adds[4];
  if (n == 0 || n > 4 || MatchOneMinusFactor(t, complement, factor, n, adds) != S_OK) return S_FALSE;
  std::uint32_t arguments[12];
  for (std::uint32_t i = 0; i < n; ++i) {
    arguments[i] = factor[i];
    arguments[n + i] = b[i];
    arguments[2 * n + i] = a[i];
  }
  IrInstruction* node = NewWithCurrentResults(t, IrWord(kLerp, n), arguments, 3 * n);
  if (!node) return E_OUTOFMEMORY;
  if (!Accepted(t, *node)) {
    delete node;
    return S_FALSE;
  }
  // The adds that only the replaced instruction read go with it.
  MatchedList retired;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrInstruction* add = t.Instruction(adds[i]);
    bool only = !retired.Contains(adds[i]);
    for (std::uint32_t r = 0; only && r < add->resultCount; ++r) {
      const IrValue* v = t.Value(t.ResolveAlias(add->results[r]));
      only = v && CountReadsAt(t, add->results[r], &t.currentIndex, 1) == v->useCount;
    }
    if (only) retired.position[retired.count++] = adds[i];
  }
  ReplaceCurrent(t, node);
  Retire(t, retired, (1u << retired.count) - 1);
  return S_OK;
}

HRESULT FoldMoveIntoScalarResult(ShaderTarget& t) {
  const IrInstruction* cur = t.current;
  static constexpr std::uint32_t kScalar[] = {kOpDot, kOpExp2, kOpLog2, kOpReciprocal, kOpRsq};
  if (!cur || std::find(std::begin(kScalar), std::end(kScalar), cur->Group()) == std::end(kScalar) ||
      cur->resultCount != 1)
    return S_FALSE;
  const std::uint32_t result = cur->results[0];
  const IrValue* r = t.Value(result);
  const std::uint32_t at = r ? r->firstUse : kNoIndex;
  IrInstruction* move = at != kNoIndex ? t.Instruction(at) : nullptr;
  if (!move || move->Group() != kOpMove || move->resultCount == 0 || move->argumentCount != move->resultCount ||
      move->resultCount > 4 || at <= t.currentIndex)
    return S_FALSE;
  for (std::uint32_t i = 0; i < move->argumentCount; ++i) {
    const IrValue* a = t.Value(move->arguments[i]);
    const std::uint32_t type = BankTypeOf(t, move->results[i]);
    const IrValue* out = t.Value(move->results[i]);
    if (!a || !out || t.ResolveAlias(move->arguments[i]) != result || a->binding != 0 || (type & kBankAddress) ||
        ((t.profileLimits.capabilities & kCapOutputsByOrderedMove) && (type & kBankOutput)) ||
        out->predicate != r->predicate || out->predicateSense != r->predicateSense ||
        !RegisterQuietBetween(t, move->results[i], t.currentIndex, at))
      return S_FALSE;
  }
  // Other readers: the result stays, when the move writes its register.
  bool keep = CountReadsAt(t, result, &at, 1) != r->useCount;
  if (keep) {
    bool sameRegister = false;
    for (std::uint32_t i = 0; i < move->resultCount; ++i) {
      const IrValue* out = t.Value(move->results[i]);
      sameRegister |=
          out->bank == r->bank && r->reg != kNoIndex && out->reg == r->reg && out->relativeIndex == r->relativeIndex;
    }
    if (!sameRegister) return S_FALSE;
  }
  std::uint32_t results[5];
  std::uint32_t count = move->resultCount;
  std::copy(move->results, move->results + count, results);
  if (keep) results[count++] = result;
  // One instruction writes every result alike: a saturating move cannot
  // join a result read unsaturated.
  for (std::uint32_t i = 1; i < count; ++i)
    if ((t.Value(results[i])->binding ^ t.Value(results[0])->binding) & (mod::kSaturate | mod::kResultShiftBits)) return S_FALSE;
  bool assigned = true;
  for (std::uint32_t i = 0; i < count; ++i) assigned = assigned && t.Value(results[i])->component < 4;
  if (assigned) {
    std::stable_sort(results, results + count,
                     [&](std::uint32_t x, std::uint32_t y) { return t.Value(x)->component < t.Value(y)->component; });
    for (std::uint32_t i = 1; i < count; ++i)
      if (t.Value(results[i])->component == t.Value(results[i - 1])->component) {
        GXL_SHADER_REPORT(t, cur->sourcePosition, msg::kMultipleWriteToOutput);
        return E_FAIL;
      }
  }
  IrInstruction* node = NewInstruction(cur->word, cur->argumentCount, count);
  if (!node) return E_OUTOFMEMORY;
  std::copy(cur->arguments, cur->arguments + cur->argumentCount, node->arguments);
  std::copy(results, results + count, node->results);
  ReplaceCurrent(t, node);
  move->word = 0;
  return S_OK;
}

HRESULT FixSinCosDestination(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpSinCos) return S_FALSE;
  // From version 3.0 sincos takes its one source alone.
  if ((t.versionToken & 0xFF00) < 0x300) t.sinCosConstants = true;
  bool needed = false;
  for (std::uint32_t i = 0; i < cur->resultCount; ++i)
    needed |= !(BankTypeOf(t, cur->results[i]) & kBankReadable) || t.Value(cur->results[i])->binding != 0;
  if (!needed || cur->resultCount > 4) return S_FALSE;
  // A register above every one in use; unassigned values do not count.
  const std::uint32_t temporaries = t.StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t reg = 0;
  for (std::uint32_t i = 0; i < t.values.Count(); ++i) {
    const IrValue* v = t.values[i];
    if (v && v->bank == temporaries && v->reg != kNoIndex) reg = std::max(reg, v->reg + 1);
  }
  // Only cos and sin (x and y) are defined; the move copies what is read or must be written.
  std::uint32_t fresh[4], copied[4], targets[4], count = 0;
  for (std::uint32_t c = 0; c < cur->resultCount; ++c) {
    const IrValue* old = t.Value(cur->results[c]);
    if ((fresh[c] = t.AddValue(temporaries, reg, c, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
    t.Value(fresh[c])->predicate = old->predicate;
    t.Value(fresh[c])->predicateSense = old->predicateSense;
    if (c < 2 && (!(BankTypeOf(t, cur->results[c]) & kBankReadable) || old->useCount != 0)) {
      copied[count] = fresh[c];
      targets[count++] = cur->results[c];
    }
  }
  IrInstruction* move = count ? NewInstruction(IrWord(kOpMove, count), count, count) : nullptr;
  if (count && !move) return E_OUTOFMEMORY;
  if (move) {
    std::copy(copied, copied + count, move->arguments);
    std::copy(targets, targets + count, move->results);
    move->CopySourcePosition(cur);
    const HRESULT hr = InsertAfter(t, t.currentIndex, move);
    if (FAILED(hr)) return hr;
  }
  std::copy(fresh, fresh + cur->resultCount, cur->results);
  return S_OK;
}

HRESULT RemoveForwardingMove(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpMove || cur->resultCount == 0 || cur->argumentCount < cur->resultCount) return S_FALSE;
  // The representative: renumbering links followed until a value names itself.
  auto representative = [&](std::uint32_t v) {
    for (std::uint32_t steps = 0; steps <= t.values.Count(); ++steps) {
      const IrValue* value = t.Value(v);
      if (!value || value->renumber == v || value->renumber == kNoIndex) return v;
      v = value->renumber;
    }
    return v;
  };
  if (!(BankTypeOf(t, representative(cur->arguments[0])) & kBankForwarded)) return S_FALSE;
  for (std::uint32_t i = 0; i < cur->resultCount; ++i)
    if (IrValue* r = t.Value(cur->results[i])) r->renumber = representative(cur->arguments[i]);
  cur->word = 0;
  return S_OK;
}

}  // namespace gxl::shader
