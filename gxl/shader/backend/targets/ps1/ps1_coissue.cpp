// Co-issue of the 1.x arithmetic: an instruction writing the colour half and
// the next writing only alpha share one instruction slot. Both read before
// either writes, so a pair may not read what the other writes.
#include <utility>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

// The register a value names for the pairing check: outputs are r0.
struct Place {
  std::uint32_t bank, reg, component;
};

Place PlaceOf(const PixelShader1Target& t, std::uint32_t value) {
  const IrValue* v = t.Value(value);
  const std::uint32_t temporaries = t.StandardBankIndex(StandardBank::Temporaries);
  if (!v) return {kNoIndex, kNoIndex, kNoIndex};
  if (t.BankOf(*v)->type & kBankOutput) return {temporaries, 0, v->component};
  return {v->bank, v->reg, v->component};
}

// Components written, 0 when a result lies outside the temporaries and COLOR0.
std::uint32_t WriteMask(const PixelShader1Target& t, const IrInstruction& inst) {
  std::uint32_t mask = 0;
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    const IrValue* v = t.Value(inst.results[r]);
    if (!v || v->component > 3) return 0;
    const bool colour =
        (t.BankOf(*v)->type & kBankOutput) && t.SemanticOf(inst.results[r]) == Ps1SemanticWord(kPs1Color, 0);
    if (!t.IsTemporaryValue(inst.results[r]) && !colour) return 0;
    mask |= 1u << v->component;
  }
  return mask;
}

std::uint32_t Bits(std::uint32_t mask) {
  std::uint32_t n = 0;
  for (; mask; mask &= mask - 1) ++n;
  return n;
}

// Operations that emit one instruction of the arithmetic block.
bool Pairable(const PixelShader1Target& t, const IrInstruction& inst) {
  const std::uint32_t g = inst.Group();
  if (PixelShader1Target::IsTextureOperation(g) || (g >= 0x720 && g <= 0x72F) || g == kOpPs1Kill) return false;
  if (g == kOpDot && (inst.Width() == 4 || inst.Width() == 2)) return false;  // emulated on some models
  if (g == kOpPs1MadNegated) return false;                                    // may need a copy first
  if (t.IsIdentityMove(inst)) return false;                                   // emits nothing
  return g == kOpMove || g == kOpNegate || g == kOpAdd || g == kOpMultiply || g == kOpSelect || g == kOpDot ||
         g == kOpPs1Lerp || g == kOpPs1Mad || g == kOpPs1Cnd;
}

// Whether `reader` reads a component that `writer` changes (written
// components `written`, the colour half whole on ps_1_1-1_3).
bool ReadsWrite(const PixelShader1Target& t, const IrInstruction& reader, const IrInstruction& writer,
                std::uint32_t written) {
  for (std::uint32_t a = 0; a < reader.argumentCount; ++a) {
    const Place p = PlaceOf(t, reader.arguments[a]);
    for (std::uint32_t r = 0; r < writer.resultCount; ++r) {
      if (reader.arguments[a] == writer.results[r] || t.ResolveAlias(reader.arguments[a]) == writer.results[r])
        return true;
      const Place w = PlaceOf(t, writer.results[r]);
      if (p.bank == w.bank && p.reg == w.reg && p.reg != kNoIndex && p.component < 4 && (written >> p.component & 1))
        return true;
    }
  }
  return false;
}

// Whether `reader` reads a result of `writer` itself (through an alias too).
bool ReadsResult(const PixelShader1Target& t, const IrInstruction& reader, const IrInstruction& writer) {
  for (std::uint32_t a = 0; a < reader.argumentCount; ++a)
    for (std::uint32_t r = 0; r < writer.resultCount; ++r)
      if (reader.arguments[a] == writer.results[r] || t.ResolveAlias(reader.arguments[a]) == writer.results[r])
        return true;
  return false;
}

// The walk over the arithmetic of a list's entries [0, end): pairs marked
// (when `mark`), and the instruction slots counted. `fewest` judges a pair
// only by what its halves write and whether one reads the other's result:
// the registers and read ports that may still refuse it are left out, so
// that the count is the fewest slots any marking can give.
std::uint32_t PairWalk(PixelShader1Target& t, Ps1List& list, bool mark, bool fewest, std::uint32_t end) {
  std::uint32_t slots = 0, previous = kNoIndex;
  for (std::uint32_t k = t.Stages(); k < end && k < list.Count(); ++k) {
    IrInstruction* inst = t.Instruction(list[k]);
    if (!inst || inst->word == 0) continue;
    slots += !t.IsIdentityMove(*inst);  // it emits nothing, yet stands between its neighbours
    if (previous == kNoIndex) {
      previous = k;
      continue;
    }
    const std::uint32_t first = previous;
    IrInstruction* a = t.Instruction(list[first]);
    IrInstruction* b = inst;
    std::uint32_t ma = WriteMask(t, *a), mb = WriteMask(t, *b);
    // The alpha-only instruction goes second.
    bool swap = ma == 0x8 && mb != 0x8;
    if (swap) {
      std::swap(a, b);
      std::swap(ma, mb);
    }
    const bool halves = !t.Is14();
    const std::uint32_t writtenA = halves ? 0x7 : ma;
    const bool pair =
        ma && mb == 0x8 && !(ma & 0x8) && Bits(ma) < 4 && Pairable(t, *a) && Pairable(t, *b) &&
        (fewest ? !ReadsResult(t, *a, *b) && !ReadsResult(t, *b, *a)
                : !ReadsWrite(t, *a, *b, 0x8) && !ReadsWrite(t, *b, *a, writtenA) && t.ExceedsPairReadPorts(*a, *b) == 0);
    if (!pair) {
      previous = k;
      continue;
    }
    --slots;
    previous = kNoIndex;
    if (!mark) continue;
    if (swap) std::swap(list.At(first), list.At(k));
    PixelShader1Target::CoIssueMark(*b) = 1;
  }
  return slots;
}

}  // namespace

std::uint32_t PixelShader1Target::CountSlots(const Ps1List& list) const {
  return PairWalk(const_cast<PixelShader1Target&>(*this), const_cast<Ps1List&>(list), false, false, list.Count());
}

std::uint32_t PixelShader1Target::FewestSlots(const Ps1List& list, std::uint32_t end) const {
  return PairWalk(const_cast<PixelShader1Target&>(*this), const_cast<Ps1List&>(list), false, true, end);
}

HRESULT Ps1StandardRules::MarkCoIssue(PixelShader1Target& t, bool phaseOne) {
  Ps1List& list = phaseOne ? t.phaseOneList : t.stageList;
  for (std::uint32_t k = 0; k < list.Count(); ++k)
    if (IrInstruction* inst = t.Instruction(list[k])) PixelShader1Target::CoIssueMark(*inst) = 0;
  PairWalk(t, list, true, false, list.Count());
  return S_OK;
}

}  // namespace gxl::shader
