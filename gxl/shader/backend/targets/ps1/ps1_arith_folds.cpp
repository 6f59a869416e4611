// The 1.x rewrites of single instructions before placement: saturating moves
// of texture coordinates (already clamped on ps_1_1-1_3), negated constants,
// products and doublings folded into the producer's result shift, and adds
// fused with a product into mad.
#include <algorithm>
#include <cmath>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_arith.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kLiteralBankType = 785;
constexpr std::uint32_t kCapNegateSaturated = 0x20000;
constexpr std::uint32_t kResultBits = mod::kSaturate | mod::kResultShiftBits;

bool Live(const IrInstruction* inst) { return inst && inst->word >= 0x100000; }

// The result bit of a scale factor, tried in this order.
struct Scale {
  double factor;
  std::uint32_t bit;
};
constexpr Scale kScales[] = {{2.0, 0x400}, {4.0, 0x800}, {8.0, 0x1000}, {0.5, 0x2000}, {0.25, 0x4000}, {0.125, 0x8000}};

std::uint32_t ScaleBit(const ShaderTarget& t, double f) {
  for (const Scale& s : kScales)
    if (std::fabs(f) == s.factor) return (t.profileLimits.capabilities & s.bit) ? s.bit : 0;
  return 0;
}

// The factor of a product by one literal (same in every component) or of a
// doubling x + x, with the group it scales; false when neither.
bool FindFactor(const PixelShader1Target& t, const IrInstruction& inst, double* f, const std::uint32_t** scaled) {
  const std::uint32_t n = inst.Width();
  const std::uint32_t* a = inst.arguments;
  auto temporaries = [&](const std::uint32_t* g) {
    for (std::uint32_t c = 0; c < n; ++c)
      if (!t.IsTemporaryValue(g[c])) return false;
    return true;
  };
  if (inst.Group() == kOpMultiply) {
    for (std::uint32_t g = 0; g < 2; ++g) {
      const std::uint32_t* literals = a + g * n;
      bool same = IsAnyLiteral(t, literals[0]);
      for (std::uint32_t c = 1; c < n && same; ++c) same = IsLiteral(t, literals[c], t.Value(literals[0])->rangeLow);
      if (!same || !temporaries(a + (1 - g) * n)) continue;
      *f = t.Value(literals[0])->rangeLow;
      *scaled = a + (1 - g) * n;
      return true;
    }
    return false;
  }
  if (!temporaries(a)) return false;
  const bool negated = t.Value(a[0])->binding & mod::kNegate;
  for (std::uint32_t c = 0; c < n; ++c)
    if (!SameOperand(t, a[c], a[n + c]) || ((t.Value(a[c])->binding & mod::kNegate) != 0) != negated) return false;
  *f = negated ? -2.0 : 2.0;
  *scaled = a;
  return true;
}

// New results of a producer: its own result r_j becomes the scaled
// instruction's result at the component reading r_j; a dot product's one
// scalar may fill several. False when the producer does not map so.
bool ProducerResults(const PixelShader1Target& t, const IrInstruction& producer, const IrInstruction& inst,
                     const std::uint32_t* scaled, std::uint32_t* out, std::uint32_t* count) {
  const std::uint32_t n = inst.Width();
  *count = 0;
  if (producer.Group() == kOpDot) {
    for (std::uint32_t c = 0; c < n; ++c)
      if (std::find(producer.results, producer.results + producer.resultCount, t.ResolveAlias(scaled[c])) !=
          producer.results + producer.resultCount)
        out[(*count)++] = inst.results[c];
    return *count > 0;
  }
  if (producer.resultCount != producer.Width() || producer.resultCount > 4) return false;
  for (std::uint32_t j = 0; j < producer.resultCount; ++j) {
    std::uint32_t readAt = kNoIndex;
    for (std::uint32_t c = 0; c < n; ++c) {
      if (t.ResolveAlias(scaled[c]) != producer.results[j]) continue;
      if (readAt != kNoIndex) return false;  // one result into two components
      readAt = c;
    }
    if (readAt == kNoIndex) return false;
    out[j] = inst.results[readAt];
  }
  *count = producer.resultCount;
  return true;
}

}  // namespace

HRESULT Ps1StandardRules::ForwardTextureCoordinateMove(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (t.Is14() || !Live(inst) || inst->Group() != kOpMove) return 1;
  if (inst->resultCount == 0 || inst->Width() == 0) {
    inst->word = 0;
    return S_OK;
  }
  const std::uint32_t n = inst->resultCount;
  if (inst->argumentCount != n || n > 4) return 1;
  for (std::uint32_t j = 0; j < n; ++j) {
    const IrValue* r = t.Value(inst->results[j]);
    const IrValue* a = t.Value(inst->arguments[j]);
    if (!r || !a || !t.IsTemporaryValue(inst->results[j]) || (r->binding & kResultBits) != mod::kSaturate) return 1;
    if (!t.IsInputValue(inst->arguments[j]) || Ps1KindOf(t.SemanticOf(inst->arguments[j])) != kPs1Texcoord ||
        (a->binding & kPs1Modifiers) || a->relativeIndex != kNoIndex)
      return 1;
  }
  std::uint32_t from[4], to[4];
  for (std::uint32_t j = 0; j < n; ++j) {
    from[j] = inst->results[j];
    to[j] = inst->arguments[j];
    t.Value(to[j])->binding |= mod::kSaturate;  // known clamped
  }
  const HRESULT hr = t.InputRemap(0, t.instructions.Count() - 1, index, from, to, n);
  if (FAILED(hr)) return hr;
  t.Instruction(index)->word = 0;
  return S_OK;
}

HRESULT Ps1StandardRules::NegateConstant(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (!Live(inst) || inst->Group() != kOpNegate) return 1;
  const std::uint32_t n = inst->Width();
  if (n == 0 || n > 4 || inst->argumentCount != n || inst->resultCount != n) return 1;
  const bool saturatedToo = t.profileLimits.capabilities & kCapNegateSaturated;
  for (std::uint32_t c = 0; c < n; ++c) {
    const std::uint32_t a = inst->arguments[c];
    const IrValue* root = t.Value(t.ResolveAlias(a));
    const bool constant = BankTypeOf(t, a) & kBankUniform;
    const bool saturated = (t.Value(a)->binding & mod::kSaturate) || (root && (root->binding & mod::kSaturate));
    if (!constant && !(saturatedToo && saturated)) return 1;
  }
  const std::uint32_t bank = t.AddRegisterBank("c", kLiteralBankType, 1, 4);
  const std::uint32_t minusOne = bank == kNoIndex ? kNoIndex : t.AddValue(bank, 0, 0, -1.0);
  if (minusOne == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t arguments[8];
  std::copy(inst->arguments, inst->arguments + n, arguments);
  std::fill(arguments + n, arguments + 2 * n, minusOne);
  t.SetCurrentInstruction(index);
  return ReplaceCurrentWith(t, IrWord(kOpMultiply, n), arguments, 2 * n);
}

HRESULT Ps1StandardRules::FoldResultScale(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (!Live(inst) || (inst->Group() != kOpAdd && inst->Group() != kOpMultiply)) return 1;
  const std::uint32_t n = inst->Width();
  if (n == 0 || n > 4 || inst->resultCount != n || inst->argumentCount != 2 * n) return 1;
  double f = 0;
  const std::uint32_t* scaled = nullptr;
  if (!FindFactor(t, *inst, &f, &scaled)) return 1;
  const std::uint32_t bit = ScaleBit(t, f);
  if (!bit) return 1;
  // A negative factor goes to the reads of the results, so they must be read.
  for (std::uint32_t c = 0; c < n; ++c) {
    const IrValue* r = t.Value(inst->results[c]);
    if ((r->binding & mod::kResultShiftBits) ||
        (f < 0 && ((r->binding & mod::kSaturate) || !t.IsTemporaryValue(inst->results[c]))))
      return 1;
  }
  // Every scaled value is read here only, from a producer that gives all its
  // results here and takes a shift: not a sample or texture operation, and
  // not already shifted or saturated (the shift goes before the clamp).
  // (-x) + (-x) carries its negation in the factor; a product's does not.
  const std::uint32_t allowed = f < 0 && inst->Group() == kOpAdd ? mod::kNegate : 0;
  std::uint32_t producers[4], producerCount = 0;
  for (std::uint32_t c = 0; c < n; ++c) {
    const std::uint32_t root = t.ResolveAlias(scaled[c]);
    const IrValue* v = t.Value(root);
    if ((t.Value(scaled[c])->binding & 0x1FFE00 & ~allowed) || !v || v->firstUse != index || v->lastUse != index)
      return 1;
    const std::uint32_t p = t.ProducerOf(scaled[c]);
    const IrInstruction* producer = t.Instruction(p);
    if (!Live(producer) || p >= index || producer->word >> 28 == 6 || (producer->Group() & 0xFF0) == 0x720) return 1;
    for (std::uint32_t r = 0; r < producer->resultCount; ++r) {
      const IrValue* pr = t.Value(producer->results[r]);
      if (!pr || pr->firstUse != index || pr->lastUse != index || (pr->binding & kResultBits)) return 1;
    }
    if (std::find(producers, producers + producerCount, p) == producers + producerCount) producers[producerCount++] = p;
  }
  std::uint32_t newResults[4][4], counts[4];
  for (std::uint32_t k = 0; k < producerCount; ++k)
    if (!ProducerResults(t, *t.Instruction(producers[k]), *inst, scaled, newResults[k], &counts[k])) return 1;
  // A negative factor negates every read of the results: each must take it.
  PodArray<std::uint32_t> reads;  // (instruction, argument) pairs
  if (f < 0) {
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      const IrInstruction* reader = t.Instruction(i);
      if (!Live(reader) || i == index) continue;
      for (std::uint32_t a = 0; a < reader->argumentCount; ++a) {
        const std::uint32_t arg = reader->arguments[a];
        if (std::find(inst->results, inst->results + n, t.ResolveAlias(arg)) == inst->results + n) continue;
        if (t.Value(arg)->binding & mod::kComplement) return 1;
        // A modified read is a value of its own, toggled once however often read.
        bool seen = false;
        for (std::size_t k = 0; k < reads.Size() && !seen; k += 2)
          seen = t.Instruction(reads[k])->arguments[reads[k + 1]] == arg && t.Value(arg)->alias != kNoIndex;
        if (!seen && (!reads.Append(i) || !reads.Append(a))) return E_OUTOFMEMORY;
      }
    }
  }
  for (std::uint32_t k = 0; k < producerCount; ++k) {
    IrInstruction* producer = t.Instruction(producers[k]);
    if (counts[k] != producer->resultCount) {
      IrInstruction* rebuilt = NewInstruction(producer->word, producer->argumentCount, counts[k]);
      if (!rebuilt) return E_OUTOFMEMORY;
      rebuilt->CopyFields(*producer);
      std::copy(producer->arguments, producer->arguments + producer->argumentCount, rebuilt->arguments);
      IrInstruction*& slot = t.instructions.Slot(producers[k]);
      rebuilt->CopySourcePosition(slot);
      delete slot;
      slot = producer = rebuilt;
    }
    std::copy(newResults[k], newResults[k] + counts[k], producer->results);
  }
  for (std::uint32_t c = 0; c < n; ++c) t.Value(inst->results[c])->binding |= bit;
  for (std::size_t k = 0; k < reads.Size(); k += 2) {
    std::uint32_t& arg = t.Instruction(reads[k])->arguments[reads[k + 1]];
    if (t.Value(arg)->alias != kNoIndex) {
      t.Value(arg)->binding ^= mod::kNegate;
      continue;
    }
    HRESULT hr = S_OK;
    const std::uint32_t negated = NegatedValue(t, arg, &hr);
    if (negated == kNoIndex) return FAILED(hr) ? hr : E_FAIL;
    t.Value(negated)->binding &= mod::kSourceBits;  // a read, not the write's own modifiers
    arg = negated;
  }
  t.Instruction(index)->word = 0;
  return t.ResetSelectionState();
}

HRESULT Ps1StandardRules::FuseMultiplyAdd(PixelShader1Target& t, std::uint32_t index) {
  t.SetCurrentInstruction(index);
  IrInstruction* add = t.current;
  if (!Live(add) || add->Group() != kOpAdd) return 1;
  const std::uint32_t n = add->Width();
  if (n == 0 || n > 4 || add->resultCount != n || add->argumentCount != 2 * n) return 1;
  for (const std::uint32_t pattern : {1u, 2u}) {
    MatchedList list;
    Captures captures;
    captures.Clear();
    if (MatchExpressionPattern(t, index, Pattern(pattern), list, captures, ComponentMap::Identity(), n, false) != S_OK)
      continue;
    std::uint32_t arguments[12];
    bool complete = true, constantFactors = true, complementA = false, complementB = false;
    for (std::uint32_t k = 0; k < 3; ++k)
      for (std::uint32_t c = 0; c < n; ++c) complete &= (arguments[k * n + c] = Capture(captures, k, c)) != kNoIndex;
    if (!complete) continue;
    for (std::uint32_t c = 0; c < n; ++c) {
      constantFactors &=
          t.IsConstantValue(t.ResolveAlias(arguments[c])) && t.IsConstantValue(t.ResolveAlias(arguments[n + c]));
      complementA |= (t.Value(arguments[c])->binding & mod::kComplement) != 0;
      complementB |= (t.Value(arguments[n + c])->binding & mod::kComplement) != 0;
    }
    const bool negated = pattern == 2;
    if (negated) {
      // c - a b negates a constant factor, which 1.x cannot read negated.
      if (constantFactors) return 1;
      // The second factor is read negated: a complement (1 - x) has no
      // negated form, so the factors change places, or there is no mad.
      if (complementB && complementA) return 1;
      if (complementB) std::swap_ranges(arguments, arguments + n, arguments + n);
    }
    IrInstruction* node = NewInstruction(IrWord(negated ? kOpPs1MadNegated : kOpPs1Mad, n), 3 * n, n);
    if (!node) return E_OUTOFMEMORY;
    std::copy(arguments, arguments + 3 * n, node->arguments);
    std::copy(add->results, add->results + n, node->results);
    std::uint32_t group = 0;
    if (t.NextArgumentToCopy(*node, &group) != 0) {
      delete node;
      return 1;
    }
    const std::uint32_t mask = RetirableMask(t, list, index, node->arguments, node->argumentCount);
    ReplaceCurrent(t, node);
    Retire(t, list, mask);
    return t.ResetSelectionState();
  }
  return 1;
}

}  // namespace gxl::shader
