// Source-modifier folding: an instruction computing a modifier of its
// argument (negate, abs, bias, times two, complement, signed scale) goes, and
// its readers read the argument through the modifier instead.
#include <algorithm>
#include <cmath>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kCapUniformModifiers = 0x10;  // uniforms take no source modifier
constexpr std::uint32_t kCapForceNegateOfSaturated = 0x20000;
constexpr std::uint32_t kCapModifiersNeedClamped = 0x40000;  // bias and complement want [0, 1] sources
constexpr std::uint32_t kCapTimesTwoNeedsBias = 0x80000;     // only _bx2
constexpr std::uint32_t kCapDerivedReadersTakeModifiers = 0x800000;
constexpr std::uint32_t kCapArgumentsStayPut = 0x10000000;

bool Live(const IrInstruction* inst) { return inst && inst->word >= 0x100000; }

// The modifier of reading through `existing` and then `modifier`, as one
// token modifier; false where the instruction sets have none or it would
// apply them in the other order.
bool Combine(std::uint32_t existing, std::uint32_t modifier, std::uint32_t* out) {
  existing &= mod::kSourceBits;
  const std::uint32_t body = existing & ~mod::kNegate;
  switch (modifier) {
    case mod::kNegate:
      if (body & mod::kComplement) return false;
      *out = existing ^ mod::kNegate;
      return true;
    case mod::kTimesTwo:  // 2(-x) = -(2x); 2(x - 0.5) is the signed scale
      if (body != 0 && body != mod::kBias) return false;
      *out = existing | mod::kTimesTwo;
      return true;
    default:  // bias, complement, signed scale and abs apply to the plain source
      if (existing) return false;
      *out = modifier;
      return true;
  }
}

// Whether value `v` is one of the results or reads one through its alias.
bool IsResult(const ShaderProgram& p, const IrInstruction& inst, std::uint32_t v) {
  const std::uint32_t root = p.ResolveAlias(v);
  return std::find(inst.results, inst.results + inst.resultCount, root) != inst.results + inst.resultCount ||
         std::find(inst.results, inst.results + inst.resultCount, v) != inst.results + inst.resultCount;
}

// Whether a reader reads a result through a modified copy of its own that
// the fold would stack onto `combined` (each result's argument modifier):
// the alias chains join the two (CombineAliasBindings), which stands only
// where that is what applying the copy's modifier after the fold's means
// (-(2x) is the negated times two, -(-x) is x; -(1 - x) and 1 - 2x have no
// token modifier). Among `readers`, the instructions that may read such
// copies (null: every one).
bool StacksModifiers(const ShaderTarget& t, const IrInstruction& inst, const std::uint32_t* combined,
                     const PodArray<std::uint32_t>* readers) {
  const std::uint32_t count = readers ? static_cast<std::uint32_t>(readers->Size()) : t.instructions.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction* reader = t.Instruction(readers ? (*readers)[i] : i);
    if (!Live(reader) || reader == &inst) continue;
    for (std::uint32_t a = 0; a < reader->argumentCount; ++a) {
      const std::uint32_t v = reader->arguments[a];
      const IrValue* w = t.Value(v);
      if (!w || w->alias == kNoIndex || !(w->binding & mod::kSourceBits)) continue;
      const std::uint32_t* result = std::find(inst.results, inst.results + inst.resultCount, t.ResolveAlias(v));
      if (result == inst.results + inst.resultCount || *result == v) continue;
      const std::uint32_t own = combined[result - inst.results], copy = w->binding & mod::kSourceBits;
      std::uint32_t both = 0;
      if (!Combine(own, copy, &both) || both != (CombineAliasBindings(copy, own) & mod::kSourceBits)) return true;
    }
  }
  return false;
}

// The readers of the results can take the modifier.
bool ReadersAccept(const ShaderTarget& t, const IrInstruction& inst, std::uint32_t first, std::uint32_t last) {
  const bool derivedOk = t.profileLimits.capabilities & kCapDerivedReadersTakeModifiers;
  for (std::uint32_t i = first; i <= last && i < t.instructions.Count(); ++i) {
    const IrInstruction* reader = t.Instruction(i);
    if (!Live(reader) || reader == &inst) continue;
    const std::uint32_t n = reader->Width();
    bool reads = false;
    for (std::uint32_t a = 0; a < reader->argumentCount && !reads; ++a) reads = IsResult(t, inst, reader->arguments[a]);
    if (!reads) continue;
    const std::uint32_t group = reader->Group();
    if (group == 0x705 || group == 0x706 || group == 0x707) return false;
    if (!derivedOk && (reader->Class() == 6 || group == kOpDdx || group == kOpDdy || group == kOpDiscard)) return false;
    // One modifier per source: a group may not mix folded and other values.
    const std::uint32_t groups = n && reader->argumentCount % n == 0 ? reader->argumentCount / n : 0;
    for (std::uint32_t g = 0; g < groups; ++g) {
      std::uint32_t folded = 0;
      for (std::uint32_t c = 0; c < n; ++c) folded += IsResult(t, inst, reader->arguments[g * n + c]);
      if (folded != 0 && folded != n) return false;
    }
  }
  return true;
}

std::uint32_t NewFlags(std::uint32_t flags, std::uint32_t modifier) {
  const std::uint32_t kept = flags & ~(kValueComparison | kValueNonPositive | kValueConstant | kValueRangeCached);
  const std::uint32_t nonNegative = kValueNonNegative, nonPositive = kValueNonPositive;
  switch (modifier & ~mod::kNegate) {
    case 0:  // negate alone: the sign flags swap
      return kept | (flags & (kValueInteger | kValueUnitMagnitude)) | (flags & nonNegative ? nonPositive : 0u) |
             (flags & nonPositive ? nonNegative : 0u);
    case mod::kAbsolute:
      return kept | (flags & (kValueInteger | kValueUnitMagnitude)) |
             (modifier & mod::kNegate ? nonPositive : nonNegative);
    default:
      return kept;
  }
}

// A literal of a bank that merges equal values: one value per number.
bool IsMergedLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.Value(value);
  const std::uint32_t type = BankTypeOf(p, value);
  return v && v->relativeIndex == kNoIndex && (type & kBankLiteral) && !(type & (kBankRelative | kBankKeepValues)) &&
         !std::isnan(v->rangeLow);
}

// The literal x read through the token modifier `modifier`.
double ModifiedLiteral(double x, std::uint32_t modifier) {
  switch (modifier & ~(mod::kNegate | mod::kAbsolute)) {
    case mod::kComplement:
      x = 1.0 - x;
      break;
    case mod::kBias:
      x -= 0.5;
      break;
    case mod::kTimesTwo:
      x *= 2.0;
      break;
    case mod::kSignedScale:
      x = 2.0 * x - 1.0;
      break;
    default:
      break;
  }
  if (modifier & mod::kAbsolute) x = std::fabs(x);
  return modifier & mod::kNegate ? -x : x;
}

// Where the readers cannot take the modifier on top of their own, the
// instruction stays as a move of its arguments read through it.
HRESULT MoveThroughModifiedCopies(ShaderTarget& t, IrInstruction& inst, const std::uint32_t* arguments,
                                  const std::uint32_t* combined, std::uint32_t modifier) {
  const std::uint32_t n = inst.resultCount;
  std::uint32_t copies[4];
  for (std::uint32_t i = 0; i < n; ++i)
    if (IsMergedLiteral(t, arguments[i])) return S_FALSE;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue& a = *t.Value(arguments[i]);
    copies[i] = t.AddValueCopy(&a);
    if (copies[i] == kNoIndex) return E_OUTOFMEMORY;
    IrValue& copy = *t.Value(copies[i]);
    copy.binding = (a.binding & ~mod::kSourceBits) | combined[i];
    copy.alias = a.alias != kNoIndex ? a.alias : arguments[i];
    copy.flags = NewFlags(a.flags, modifier);
  }
  std::copy(copies, copies + n, inst.arguments);
  inst.argumentCount = n;
  inst.word = IrWord(kOpMove, n);
  return S_OK;
}

}  // namespace

HRESULT ShaderTarget::FoldIntoSourceModifier(std::uint32_t modifier, std::uint32_t allowed,
                                             const std::uint32_t* arguments, std::uint32_t required,
                                             IrInstruction* instruction, bool keep) {
  IrInstruction* inst = instruction ? instruction : current;
  if (!Live(inst) || !arguments || inst->resultCount == 0 || inst->Width() != inst->resultCount) return S_FALSE;
  const std::uint32_t n = inst->resultCount;
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  if (Value(inst->results[0])->bank != temporaries) return S_FALSE;
  const std::uint32_t caps = profileLimits.capabilities;
  bool forced = false;
  std::uint32_t combined[4];
  if (n > 4) return S_FALSE;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* r = Value(inst->results[i]);
    const IrValue* a = Value(arguments[i]);
    if (!r || !a || (r->binding & (mod::kResultShiftBits | mod::kSaturate))) return S_FALSE;
    const bool uniform = (caps & kCapUniformModifiers) && (BankTypeOf(*this, arguments[i]) & kBankUniform);
    const bool outside =
        (a->binding & mod::kSourceBits & ~allowed) != 0 || !Combine(a->binding, modifier, &combined[i]);
    if (uniform)
      forced |= modifier == mod::kNegate && inst->Group() == kOpNegate;
    else if (outside)
      forced |= required != 0 && modifier == required;
    else if ((caps & kCapForceNegateOfSaturated) && modifier == mod::kNegate && (a->binding & mod::kSaturate))
      forced = true;
    if ((uniform || outside) && !forced) return S_FALSE;
  }
  if (forced) {
    // The results stay and carry the modifier; the instruction moves the source.
    for (std::uint32_t i = 0; i < n; ++i) {
      Value(inst->results[i])->binding = (Value(inst->results[i])->binding & ~mod::kSourceBits) | modifier;
      inst->arguments[i] = arguments[i];
    }
    inst->word = IrWord(kOpMove, n);
    inst->argumentCount = n;
    return S_OK;
  }
  // Where the results are read.
  std::uint32_t first = kNoIndex, last = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* r = Value(inst->results[i]);
    if (r->firstUse != kNoIndex) first = std::min(first, r->firstUse);
    if (r->lastUse != kNoIndex) last = std::max(last, r->lastUse);
  }
  const std::uint32_t position = Value(inst->results[0])->definingPosition;
  bool refused = first != kNoIndex && !ReadersAccept(*this, *inst, first, last);
  for (std::uint32_t i = 0; i < n && !refused && first != kNoIndex; ++i) {
    refused = IsReadByTextureInstruction(*this, inst->results[i], first, last) != 0;
    if (!keep && !(caps & kCapArgumentsStayPut) && position != kNoIndex)
      refused |= WrittenBetween(*this, arguments[i], position, last + 1);
  }
  if (!refused && missedChance == 1) {
    missedChance = 2;
    refused = true;
  }
  if (refused) return S_FALSE;
  if (StacksModifiers(*inst, combined)) return MoveThroughModifiedCopies(*this, *inst, arguments, combined, modifier);
  for (std::uint32_t i = 0; i < n; ++i) {
    IrValue& r = *Value(inst->results[i]);
    const IrValue& a = *Value(arguments[i]);
    r.bank = a.bank;
    r.relativeIndex = a.relativeIndex;
    r.reg = a.reg;
    r.component = a.component;
    r.predicate = a.predicate;
    r.predicateSense = a.predicateSense;
    r.definingPosition = a.definingPosition;
    r.rangeLow = a.rangeLow;
    r.rangeHigh = a.rangeHigh;
    r.binding = (a.binding & ~mod::kSourceBits) | combined[i];
    r.alias = a.alias != kNoIndex ? a.alias : arguments[i];
    r.flags = NewFlags(a.flags, modifier);
    r.CopyVariableFields(&a);
    if (IsMergedLiteral(*this, arguments[i])) {
      // Literals merge by number alone, so a modified read of one would fall
      // into the plain literal: the result becomes the modified number.
      const double x = ModifiedLiteral(a.rangeLow, combined[i]);
      r.rangeLow = r.rangeHigh = x;
      r.binding = a.binding & ~mod::kSourceBits;
      r.alias = kNoIndex;
      r.flags =
          (a.flags & ~(kValueComparison | kValueNonPositive | kValueConstant | kValueRangeCached)) | ClassifyLiteral(x);
    }
  }
  inst->word = 0;
  // Readers of the results now read through chains of aliases.
  PodArray<std::uint32_t> chained;
  return m_upkeep.ChainCandidates(chained) ? FlattenAliasChains(*this, chained.Data(), chained.Size())
                                           : FlattenAliasChains(*this);
}

bool ShaderTarget::StacksModifiers(const IrInstruction& inst, const std::uint32_t* combined) {
  // The instructions reading a value that aliases a result: read where
  // the upkeep names them, else every instruction.
  PodArray<std::uint32_t> copies, readers;
  bool known = true;
  for (std::uint32_t r = 0; r < inst.resultCount && known; ++r) known = m_upkeep.AliasCandidates(inst.results[r], copies);
  for (std::size_t i = 0; i < copies.Size() && known; ++i) {
    const IrValue* w = Value(copies[i]);
    if (w && w->alias != kNoIndex && w->alias != copies[i] &&
        std::find(inst.results, inst.results + inst.resultCount, w->alias) != inst.results + inst.resultCount)
      known = m_upkeep.ReaderCandidates(copies[i], readers);
  }
  return ::gxl::shader::StacksModifiers(*this, inst, combined, known ? &readers : nullptr);
}

// --- The peepholes ---------------------------------------------------------------------

namespace {

// The group of `inst` that is all the literal x: 0 or 1, or kNoIndex.
std::uint32_t LiteralGroup(const ShaderProgram& p, const IrInstruction& inst, double x) {
  const std::uint32_t n = inst.Width();
  if (n == 0 || inst.argumentCount != 2 * n) return kNoIndex;
  for (std::uint32_t g = 0; g < 2; ++g) {
    bool all = true;
    for (std::uint32_t c = 0; c < n && all; ++c) all = IsLiteral(p, inst.arguments[g * n + c], x);
    if (all) return g;
  }
  return kNoIndex;
}

bool IsAdd(const IrInstruction* inst) { return Live(inst) && inst->Group() == kOpAdd; }

bool Clamped(const IrValue& v) { return (v.binding & mod::kSaturate) || (v.flags & kValueNonNegative); }

// The sources of a negated group, read without the negation (made as needed).
HRESULT UnnegatedGroup(ShaderTarget& t, const std::uint32_t* group, std::uint32_t n, std::uint32_t* out) {
  for (std::uint32_t c = 0; c < n; ++c) {
    const IrValue* v = t.Value(group[c]);
    if (!v || (v->binding & mod::kSourceBits) != mod::kNegate || IsAnyLiteral(t, group[c])) return S_FALSE;
  }
  for (std::uint32_t c = 0; c < n; ++c) {
    HRESULT hr;
    out[c] = NegatedValue(t, group[c], &hr);
    if (out[c] == kNoIndex) return FAILED(hr) ? hr : S_FALSE;
  }
  return S_OK;
}

// 1 - y folded into the readers of `add`; warning 4702 where y's clamp spoils it.
HRESULT FoldComplementOf(ShaderTarget& t, IrInstruction& add, const std::uint32_t* y) {
  const std::uint32_t n = add.Width();
  t.missedChance = 0;
  if (t.profileLimits.capabilities & kCapModifiersNeedClamped)
    for (std::uint32_t c = 0; c < n; ++c)
      if (t.Value(y[c])->binding & mod::kSaturate) t.missedChance = 1;
  const HRESULT hr = t.FoldIntoSourceModifier(mod::kComplement, 0, y, 0, &add, false);
  if (hr == S_FALSE && t.missedChance == 2) GXL_SHADER_REPORT(t, add.sourcePosition, msg::kComplementMissed);
  t.missedChance = 0;
  return hr;
}

// x - 0.5 written to an output register: no reader there can take the bias,
// so the add becomes a move of the producer's results read through biased
// copies (the -0.5 constant goes). Clearing the add instead would leave the
// output unwritten.
HRESULT FoldBiasIntoOutput(ShaderTarget& t, IrInstruction& add, std::uint32_t group) {
  const std::uint32_t n = add.Width();
  if (n > 4 || add.resultCount != n) return S_FALSE;
  for (std::uint32_t c = 0; c < n; ++c)
    if (!(BankTypeOf(t, add.results[c]) & kBankOutput)) return S_FALSE;
  const IrValue* first = t.Value(add.arguments[group * n]);
  const IrInstruction* producer =
      first && first->definingPosition != kNoIndex ? t.Instruction(first->definingPosition) : nullptr;
  std::uint32_t producers[2] = {kNoIndex, kNoIndex};
  if (!Live(producer) || FindGroupProducers(t, producer->Group(), add, producers, 3) != S_OK ||
      producers[group] == kNoIndex)
    return S_FALSE;
  if (t.missedChance == 1) {
    t.missedChance = 2;
    return S_FALSE;
  }
  std::uint32_t biased[4];
  for (std::uint32_t c = 0; c < n; ++c) {
    const std::uint32_t x = add.arguments[group * n + c];
    biased[c] = t.AddValueCopy(t.Value(x));
    if (biased[c] == kNoIndex) return E_OUTOFMEMORY;
    IrValue& copy = *t.Value(biased[c]);
    copy.binding = mod::kBias;
    copy.alias = x;
  }
  std::copy(biased, biased + n, add.arguments);
  add.argumentCount = n;
  add.word = IrWord(kOpMove, n);
  return S_OK;
}

}  // namespace

HRESULT FoldNegate(ShaderTarget& t, bool keep) {
  t.missedChance = 0;
  IrInstruction* cur = t.current;
  if (!Live(cur) || cur->Group() != kOpNegate || cur->argumentCount != cur->Width()) return S_FALSE;
  return t.FoldIntoSourceModifier(mod::kNegate, 0xE0000, cur->arguments, mod::kNegate, cur, keep);
}

HRESULT FoldAbsolute(ShaderTarget& t) {
  t.missedChance = 0;
  IrInstruction* cur = t.current;
  if (!Live(cur) || cur->Group() != 0x700 || cur->argumentCount != cur->Width()) return S_FALSE;
  for (std::uint32_t a = 0; a < cur->argumentCount; ++a)
    if (BankTypeOf(t, cur->arguments[a]) & kBankUniform) return S_FALSE;
  return t.FoldIntoSourceModifier(mod::kAbsolute, 0, cur->arguments, 0, cur, false);
}

HRESULT FoldBias(ShaderTarget& t) {
  t.missedChance = 0;
  IrInstruction* cur = t.current;
  if (!IsAdd(cur)) return S_FALSE;
  const std::uint32_t g = LiteralGroup(t, *cur, -0.5);
  if (g == kNoIndex) return S_FALSE;
  const std::uint32_t n = cur->Width();
  const std::uint32_t* x = cur->arguments + (1 - g) * n;
  if (t.profileLimits.capabilities & kCapModifiersNeedClamped)
    for (std::uint32_t c = 0; c < n; ++c)
      if (!Clamped(*t.Value(x[c]))) t.missedChance = 1;
  const bool output = cur->resultCount && (BankTypeOf(t, cur->results[0]) & kBankOutput);
  const HRESULT hr =
      output ? FoldBiasIntoOutput(t, *cur, 1 - g) : t.FoldIntoSourceModifier(mod::kBias, 0, x, 0, cur, false);
  if (hr == S_FALSE && t.missedChance == 2) GXL_SHADER_REPORT(t, cur->sourcePosition, msg::kBiasMissed);
  t.missedChance = 0;
  return hr;
}

HRESULT FoldTimesTwo(ShaderTarget& t) {
  t.missedChance = 0;
  IrInstruction* cur = t.current;
  if (!Live(cur) || cur->Width() == 0 || cur->argumentCount != 2 * cur->Width()) return S_FALSE;
  const std::uint32_t n = cur->Width();
  const std::uint32_t* x = nullptr;
  if (cur->Group() == kOpMultiply) {
    const std::uint32_t g = LiteralGroup(t, *cur, 2.0);
    if (g != kNoIndex) x = cur->arguments + (1 - g) * n;
  } else if (cur->Group() == kOpAdd) {
    bool same = true;
    for (std::uint32_t c = 0; c < n && same; ++c) same = SameOperand(t, cur->arguments[c], cur->arguments[n + c]);
    if (same) x = cur->arguments;
  }
  if (!x) return S_FALSE;
  if (t.profileLimits.capabilities & kCapTimesTwoNeedsBias)
    for (std::uint32_t c = 0; c < n; ++c)
      if ((t.Value(x[c])->binding & mod::kSourceBits & ~mod::kNegate) != mod::kBias) return S_FALSE;
  return t.FoldIntoSourceModifier(mod::kTimesTwo, mod::kBias | mod::kNegate, x, 0, cur, false);
}

HRESULT FoldComplement(ShaderTarget& t, IrInstruction* instruction) {
  t.missedChance = 0;
  IrInstruction* add = instruction ? instruction : t.current;
  if (!IsAdd(add)) return S_FALSE;
  const std::uint32_t g = LiteralGroup(t, *add, 1.0);
  if (g == kNoIndex) return S_FALSE;
  const std::uint32_t n = add->Width();
  std::uint32_t y[4];
  if (n > 4) return S_FALSE;
  const HRESULT hr = UnnegatedGroup(t, add->arguments + (1 - g) * n, n, y);
  return hr == S_OK ? FoldComplementOf(t, *add, y) : hr;
}

HRESULT FoldNegatedMultiply(ShaderTarget& t) {
  t.missedChance = 0;
  IrInstruction* mul = t.current;
  if (!Live(mul) || mul->Group() != kOpMultiply || LiteralGroup(t, *mul, -1.0) != 1) return S_FALSE;
  const std::uint32_t n = mul->Width();
  std::uint32_t at = kNoIndex;
  if (n > 4 || mul->resultCount != n || CheckProducerFusion(t, kOpAdd, t.currentIndex, &at, 2, 1) != S_OK)
    return S_FALSE;
  IrInstruction* add = t.Instruction(at);
  // The fusion check put the product's group first: 1 must be the other.
  if (LiteralGroup(t, *add, 1.0) != 1) return S_FALSE;
  for (std::uint32_t c = 0; c < n; ++c)
    if (add->arguments[c] != mul->results[c]) return S_FALSE;
  const HRESULT hr = FoldComplementOf(t, *add, mul->arguments);
  if (hr == S_OK) mul->word = 0;
  return hr;
}

HRESULT FoldSignedScale(ShaderTarget& t) {
  t.missedChance = 0;
  IrInstruction* cur = t.current;
  if (!IsAdd(cur)) return S_FALSE;
  const std::uint32_t g = LiteralGroup(t, *cur, -1.0);
  const std::uint32_t n = cur->Width();
  if (g == kNoIndex || n > 4) return S_FALSE;
  // Only (x + x) - 1 is 2(x - 0.5); x - 0.5 is left to the bias.
  std::uint32_t producers[2] = {kNoIndex, kNoIndex};
  if (FindGroupProducers(t, kOpAdd, *cur, producers, 2) != S_OK || producers[1 - g] == kNoIndex) return S_FALSE;
  IrInstruction* doubled = t.Instruction(producers[1 - g]);
  const std::uint32_t* group = cur->arguments + (1 - g) * n;
  std::uint32_t x[4];
  for (std::uint32_t c = 0; c < n; ++c) {
    const std::uint32_t j =
        static_cast<std::uint32_t>(std::find(doubled->results, doubled->results + n, group[c]) - doubled->results);
    if (j >= n || !SameOperand(t, doubled->arguments[j], doubled->arguments[n + j])) return S_FALSE;
    x[c] = doubled->arguments[j];
  }
  const HRESULT hr = t.FoldIntoSourceModifier(mod::kSignedScale, 0, x, 0, cur, false);
  if (hr == S_OK) doubled->word = 0;
  return hr;
}

}  // namespace gxl::shader
