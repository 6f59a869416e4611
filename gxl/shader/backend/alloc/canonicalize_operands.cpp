// The final order of operands: components of results and groups ascending,
// and the operand groups of commutative two-argument operations ordered by
// where they are defined, then by bank and register.
#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

// Applies `order` (positions) to `width`-wide rows of `values`.
void Permute(std::uint32_t* values, std::uint32_t rows, std::uint32_t width, const std::uint32_t* order) {
  std::uint32_t row[16];
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint32_t* base = values + r * width;
    for (std::uint32_t k = 0; k < width; ++k) row[k] = base[order[k]];
    std::copy(row, row + width, base);
  }
}

}  // namespace

HRESULT ShaderProgram::CanonicalizeOperands() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  std::uint32_t order[16];
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    IrInstruction* inst = instructions[position];
    const std::uint32_t w = inst ? inst->Width() : 0;
    if (alloc::IsEmpty(inst) || w == 0 || w > 16) continue;
    // A loop's entry takes, from the second iteration on, what its end reads,
    // place by place: neither may be reordered alone.
    if (inst->Group() == kOpLoopEntry || inst->Group() == kOpLoopEnd) continue;
    if (inst->IsDot() && inst->argumentCount == 2 * w) {
      // Where the target reads few swizzles, the order it reads stays when
      // the sorted one is not among them (z, x has one; x, z none).
      std::uint32_t before[32];
      std::copy(inst->arguments, inst->arguments + 2 * w, before);
      const bool readable = NeedsSwizzleFix(*inst) == 0;
      alloc::SortGroupByComponent(*this, inst->arguments + w, order, w);
      Permute(inst->arguments, 2, w, order);
      if (readable && NeedsSwizzleFix(*inst)) std::copy(before, before + 2 * w, inst->arguments);
    } else if (inst->IsArithmetic() && inst->resultCount == w) {
      alloc::SortGroupByComponent(*this, inst->results, order, w);
      Permute(inst->results, 1, w, order);
      Permute(inst->arguments, inst->argumentCount / w, w, order);
    }

    if (!inst->IsArithmetic() || inst->Class() != 2 || !InOperationSet3(inst->word)) continue;
    // The group defined first goes first; a group without definition last.
    std::uint32_t defined[2] = {kNoIndex, kNoIndex};
    for (std::uint32_t g = 0; g < 2; ++g)
      for (std::uint32_t k = 0; k < w; ++k)
        if (const IrValue* v = values[opt::Column(*inst, g, k)]) defined[g] = std::min(defined[g], v->definingPosition);
    bool swap = defined[0] > defined[1];
    if (defined[0] == defined[1]) {
      const IrValue &a = *values[inst->arguments[0]], &b = *values[inst->arguments[w]];
      const std::uint32_t ta = banks[a.bank]->type, tb = banks[b.bank]->type;
      swap = ta != tb ? ta > tb : a.bank != b.bank ? a.bank > b.bank : a.reg > b.reg;
    }
    if (swap)
      for (std::uint32_t k = 0; k < w; ++k) std::swap(inst->arguments[k], inst->arguments[w + k]);
  }
  return S_OK;
}

}  // namespace gxl::shader
