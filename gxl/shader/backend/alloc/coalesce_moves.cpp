// Copies between registers made so that the registers may become one:
// after a move whose source and destination differ only in the register,
// later readers of the source read the destination; a move onto its own
// register component goes, its readers reading the source. Merges, which
// tell by their arguments which side of a block ran, keep what they read.
#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

bool SameComponentAndGuard(const IrValue& a, const IrValue& b) {
  return a.bank == b.bank && a.relativeIndex == b.relativeIndex && a.component == b.component &&
         opt::GuardOf(a) == opt::GuardOf(b);
}

// Values by the register component they occupy.
std::int32_t ComparePlaces(std::uint32_t a, std::uint32_t b, const void* program) {
  const ShaderProgram& p = *static_cast<const ShaderProgram*>(program);
  const IrValue &x = *p.values[a], &y = *p.values[b];
  const std::uint32_t kx[4] = {x.bank, x.relativeIndex, x.reg, x.component};
  const std::uint32_t ky[4] = {y.bank, y.relativeIndex, y.reg, y.component};
  for (std::uint32_t k = 0; k < 4; ++k)
    if (kx[k] != ky[k]) return kx[k] < ky[k] ? -1 : 1;
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

HRESULT ShaderProgram::CoalesceMoves() {
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = values[i]) v->renumber = kNoIndex;
  // A register may be written more than once (a group built up in place): a
  // copy stands in for its source only while its register component still
  // holds it. Each value gets the number of its place, and the walk keeps the
  // value last written to each place.
  const std::uint32_t count = values.Count();
  auto sorted = opt::NewArray<std::uint32_t>(count);
  auto place = opt::NewArray<std::uint32_t>(count);
  auto holder = opt::NewArray<std::uint32_t>(count);
  if (!sorted || !place || !holder) return E_OUTOFMEMORY;
  std::uint32_t present = 0;
  for (std::uint32_t i = 0; i < count; ++i)
    if (values[i]) sorted[present++] = i;
  if (referenceSearches) {
    SortIndicesByComparator(ComparePlaces, sorted.get(), present, this);
  } else {
    // The order is total (indexes differ), so any sort leaves the heap
    // sort's; the keys read once instead of at each comparison.
    struct Place {
      std::uint32_t key[4];
      std::uint32_t index;
    };
    auto places = opt::NewArray<Place>(present);
    if (!places) return E_OUTOFMEMORY;
    for (std::uint32_t k = 0; k < present; ++k) {
      const IrValue& v = *values[sorted[k]];
      places[k] = {{v.bank, v.relativeIndex, v.reg, v.component}, sorted[k]};
    }
    std::sort(places.get(), places.get() + present, [](const Place& x, const Place& y) {
      return std::lexicographical_compare(x.key, x.key + 4, y.key, y.key + 4) ||
             (std::equal(x.key, x.key + 4, y.key) && x.index < y.index);
    });
    for (std::uint32_t k = 0; k < present; ++k) sorted[k] = places[k].index;
  }
  for (std::uint32_t k = 0, places = 0; k < present; ++k) {
    const IrValue& v = *values[sorted[k]];
    const IrValue* before = k ? values[sorted[k - 1]] : nullptr;
    const bool shared = before && v.reg != kNoIndex && v.component != kNoIndex && before->bank == v.bank &&
                        before->relativeIndex == v.relativeIndex && before->reg == v.reg &&
                        before->component == v.component;
    place[sorted[k]] = shared ? places - 1 : places++;
    holder[place[sorted[k]]] = kNoIndex;
  }
  auto replacement = [&](std::uint32_t value) {
    const IrValue* v = values[value];
    const std::uint32_t r = v ? v->renumber : kNoIndex;
    return r != kNoIndex && holder[place[r]] == r ? r : kNoIndex;
  };
  auto keep = opt::ComponentFlags(*this);
  if (!keep) return E_OUTOFMEMORY;

  bool changed = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    IrInstruction* inst = instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    const std::uint32_t group = inst->Group();
    if (group != kOpIfMerge && group != kOpBreakMerge && group != kOpLoopMerge) {
      std::uint32_t* operands;
      for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &operands)) != 0; ++g) {
        const std::uint32_t first = replacement(operands[0]);
        if (first == kNoIndex) continue;
        bool together = true;
        for (std::uint32_t k = 1; k < w && together; ++k)
          together = replacement(operands[k]) != kNoIndex && SameRegisterIndex(first, replacement(operands[k]));
        if (!together) continue;
        for (std::uint32_t k = 0; k < w; ++k) operands[k] = replacement(operands[k]);
        changed = true;
      }
    }
    // What the instruction writes now holds its place; a copy onto its own
    // place leaves the place holding what it held.
    auto written = [&](const bool* kept) {
      for (std::uint32_t k = 0; k < inst->resultCount; ++k)
        if (values[inst->results[k]] && (!kept || kept[k])) holder[place[inst->results[k]]] = inst->results[k];
    };
    if (group != kOpMove || inst->Class() != 1 || inst->resultCount == 0) {
      written(nullptr);
      continue;
    }
    const IrValue& lead = *values[inst->results[0]];
    bool dropped = false;
    for (std::uint32_t k = 0; k < inst->Width(); ++k) {
      keep[k] = true;
      IrValue& result = *values[inst->results[k]];
      IrValue& argument = *values[inst->arguments[k]];
      if (!SameComponentAndGuard(result, argument) || !(opt::GuardOf(result) == opt::GuardOf(lead)) ||
          result.binding != 0 || argument.alias != kNoIndex || result.alias != kNoIndex ||
          (alloc::BankTypeOf(*this, inst->results[k]) & (kBankOutput | kBankBlockMoves)))
        continue;
      if (result.reg == argument.reg) {
        // Onto itself: nothing to copy.
        result.renumber = inst->arguments[k];
        keep[k] = false;
        dropped = true;
      } else {
        argument.renumber = inst->results[k];
      }
    }
    written(inst->Width() == inst->resultCount ? keep.get() : nullptr);
    if (dropped) {
      opt::KeepComponents(*inst, keep.get());
      changed = true;
    }
  }
  NumberValues();
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
