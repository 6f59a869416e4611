// Clean-ups of the rebuilt blocks: boolean ifs nested in an if on the same
// condition, and else blocks left with nothing to do.
#include <new>
#include <utility>
#include <vector>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

using namespace sel;

namespace {

struct Level {
  std::uint32_t condition;  // kNoIndex: not a boolean block
  std::uint32_t sense;      // of the side being walked
  bool removed;             // its if went; its else becomes the opposite if
  bool turned;              // its else became the opposite if: the endif's groups swap
};

bool Live(const IrInstruction* inst) { return inst && inst->word >= 0x100000; }

// The endif of a removed if: its results now come from the then side alone.
void RemoveEndIf(ShaderTarget& t, IrInstruction& end) {
  const std::uint32_t n = end.Width();
  bool inPlace = true;
  for (std::uint32_t i = 0; i < n && inPlace; ++i) {
    const IrValue* a = t.Value(end.arguments[i]);
    const IrValue* r = t.Value(end.results[i]);
    inPlace = a && r && a->bank == r->bank && a->reg != kNoIndex && a->reg == r->reg && a->component == r->component &&
              a->relativeIndex == r->relativeIndex && a->binding == r->binding;
  }
  // Values without registers of their own still need the merge as a move.
  end.word = inPlace ? 0 : IrWord(kOpMove, n);
  end.argumentCount = inPlace ? end.argumentCount : n;
}

bool SelfMove(const ShaderTarget& t, const IrInstruction& inst) {
  if (inst.Group() != kOpMove || inst.argumentCount != inst.resultCount) return false;
  for (std::uint32_t i = 0; i < inst.argumentCount; ++i) {
    const IrValue* a = t.Value(inst.arguments[i]);
    const IrValue* r = t.Value(inst.results[i]);
    if (!a || !r || a->alias != r->alias || a->binding != r->binding || a->bank != r->bank ||
        a->relativeIndex != r->relativeIndex || a->reg != r->reg || a->component != r->component)
      return false;
  }
  return true;
}

}  // namespace

HRESULT SimplifyNestedBoolConditions(ShaderTarget& t) try {
  std::vector<Level> stack;
  std::uint32_t boolDepth = 0;
  for (std::uint32_t i = t.currentIndex; i < t.instructions.Count(); ++i) {
    IrInstruction* inst = t.Instruction(i);
    if (!Live(inst)) continue;
    const std::uint32_t group = inst->Group();
    if (group == flow::kIf || group == flow::kIfNot) {
      if (++boolDepth > flow::kMaxBoolNesting) {
        GXL_SHADER_REPORT(t, inst->sourcePosition, msg::kConditionalBlockTooComplex);
        return E_FAIL;
      }
      const std::uint32_t condition = t.ResolveAlias(inst->arguments[0]);
      const std::uint32_t sense = group == flow::kIf;
      bool redundant = false;
      for (const Level& l : stack) redundant |= l.condition == condition && l.sense == sense;
      if (redundant) inst->word = 0;
      stack.push_back({condition, sense, redundant, false});
    } else if ((group >= flow::kIfCompare && group < flow::kIfCompare + 4)) {
      stack.push_back({kNoIndex, 1, false, false});
    } else if (InOperationSet7(inst->word)) {
      if (stack.empty()) continue;
      Level& level = stack.back();
      if (level.removed && (group == flow::kElse || group == flow::kElseNot)) {
        inst->word = IrWord(group == flow::kElse ? flow::kIfNot : flow::kIf, 1);
        level.removed = false;
        level.turned = true;
      }
      level.sense ^= 1;
    } else if (group == flow::kEndIf) {
      if (stack.empty()) continue;
      const Level level = stack.back();
      stack.pop_back();
      if (level.condition != kNoIndex) --boolDepth;
      const std::uint32_t n = inst->Width();
      if (level.removed)
        RemoveEndIf(t, *inst);
      else if (level.turned)
        std::swap_ranges(inst->arguments, inst->arguments + n, inst->arguments + n);
    }
  }
  return S_OK;
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}

HRESULT RemoveEmptyConditionalBlocks(ShaderTarget& t) {
  for (bool changed = true; changed;) {
    changed = false;
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      IrInstruction* opener = t.Instruction(i);
      if (!Live(opener) || !InOperationSet7(opener->word)) continue;
      bool empty = true;
      std::uint32_t j = i + 1;
      for (; j < t.instructions.Count(); ++j) {
        const IrInstruction* inst = t.Instruction(j);
        if (!Live(inst)) continue;
        if (InOperationSet8(inst->word)) break;
        if (!SelfMove(t, *inst)) {
          empty = false;
          break;
        }
      }
      if (!empty || j == t.instructions.Count()) continue;
      for (std::uint32_t k = i; k < j; ++k)
        if (IrInstruction* inst = t.Instruction(k)) inst->word = 0;
      changed = true;
    }
  }
  return S_OK;
}

}  // namespace gxl::shader
