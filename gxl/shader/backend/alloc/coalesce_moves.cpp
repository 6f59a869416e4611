// Copies between registers made so that the registers may become one:
// after a move whose source and destination differ only in the register,
// later readers of the source read the destination; a move onto its own
// register component goes, its readers reading the source. Merges, which
// tell by their arguments which side of a block ran, keep what they read.
#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

bool SameComponentAndGuard(const IrValue& a, const IrValue& b) {
  return a.bank == b.bank && a.relativeIndex == b.relativeIndex && a.component == b.component &&
         opt::GuardOf(a) == opt::GuardOf(b);
}

}  // namespace

HRESULT ShaderProgram::CoalesceMoves() {
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = values[i]) v->renumber = kNoIndex;
  auto replacement = [this](std::uint32_t value) {
    const IrValue* v = values[value];
    return v ? v->renumber : kNoIndex;
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
    if (group != kOpMove || inst->Class() != 1 || inst->resultCount == 0) continue;
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
    if (dropped) {
      opt::KeepComponents(*inst, keep.get());
      changed = true;
    }
  }
  NumberValues();
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
