// Operand fix-ups: argument groups that break the target's read rules (slot
// 8) are read through temporaries. Before register assignment is final the
// copies are per reader; after it, one copy of an offending register serves
// every later reader of the same predicate chain while the register lives.
#include <algorithm>
#include <utility>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kPortTypeMask = 0x12BF;

bool Live(const IrInstruction* inst) { return inst && inst->word >= 0x100000; }

// A counted loop's count, start and step become one integer constant: its
// operands are no reads of the float files, and a copy into a temporary
// would leave it no literal to take.
bool ReadsThroughPorts(const IrInstruction* inst) { return Live(inst) && inst->Group() != flow::kLoop; }

bool SameRegisterOf(const IrValue& a, const IrValue& b) {
  return a.bank == b.bank && a.reg == b.reg && a.relativeIndex == b.relativeIndex;
}

std::uint32_t GroupWidth(const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  return n && inst.argumentCount % n == 0 ? n : 0;
}

}  // namespace

HRESULT ShaderTarget::InsertOperandCopies() {
  HRESULT hr = ResetSelectionState();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = instructions.Count();
  // The new order: each instruction after the moves made for it. The list
  // keeps the old order until the new one is complete.
  PodArray<IrInstruction*> order;
  PodArray<IrInstruction*> moves;
  auto fail = [&](HRESULT status) {
    for (std::size_t k = 0; k < moves.Size(); ++k) delete moves[k];
    return status;
  };
  if (!order.Reserve(count)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst) continue;
    const std::uint32_t n = GroupWidth(*inst);
    // Registers taken and groups copied for this instruction.
    std::uint32_t excluded[8], done[8], copies = 0;
    std::uint32_t group = 0;
    while (inst->Group() != 0 && inst->Group() != 0x741 && n && n <= 4 && copies < 8 &&
           NextArgumentToCopy(*inst, &group) && group < inst->argumentCount / n &&
           std::find(done, done + copies, group) == done + copies) {
      std::uint32_t temporaries[4];
      hr = FindFreeTemporary(i, n, temporaries, excluded, copies);
      if (FAILED(hr)) return fail(hr);
      excluded[copies] = Value(temporaries[0])->reg;
      IrInstruction* move = NewInstruction(IrWord(kOpMove, n), n, n);
      if (!move) return fail(E_OUTOFMEMORY);
      if (!moves.Append(move)) {
        delete move;
        return fail(E_OUTOFMEMORY);
      }
      move->CopySourcePosition(inst);
      const IrValue* guard = inst->resultCount ? Value(inst->results[0]) : nullptr;
      for (std::uint32_t c = 0; c < n; ++c) {
        std::uint32_t& argument = inst->arguments[group * n + c];
        move->arguments[c] = argument;
        move->results[c] = temporaries[c];
        if (guard) {
          Value(temporaries[c])->predicate = guard->predicate;
          Value(temporaries[c])->predicateSense = guard->predicateSense;
        }
        argument = temporaries[c];
      }
      if (!order.Append(move)) return fail(E_OUTOFMEMORY);
      done[copies++] = group;
    }
    if (!order.Append(inst)) return fail(E_OUTOFMEMORY);
  }
  if (moves.Empty()) return S_FALSE;
  instructions.Truncate(0);
  for (std::size_t k = 0; k < order.Size(); ++k)
    if (instructions.Append(order[k]) == kNoIndex) {  // which destroyed order[k]
      for (std::size_t r = k + 1; r < order.Size(); ++r) delete order[r];
      return E_OUTOFMEMORY;
    }
  return S_OK;
}

HRESULT ShaderTarget::CheckPortConstraints() {
  HRESULT hr = ResetSelectionState();
  if (FAILED(hr)) return hr;
  const std::uint32_t temporaryBank = StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t nextTemporary = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (const IrValue* v = Value(i); v && v->bank == temporaryBank && v->reg != kNoIndex)
      nextTemporary = std::max(nextTemporary, v->reg + 1);
  bool changed = false;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!ReadsThroughPorts(inst)) continue;
    const std::uint32_t n = GroupWidth(*inst);
    if (n == 0) continue;
    const std::uint32_t groups = inst->argumentCount / n;
    std::uint32_t group = 0;
    for (std::uint32_t guard = 0; guard <= groups && NextArgumentToCopy(*inst, &group); ++guard) {
      if (group >= groups) break;
      if (BankTypeOf(*this, inst->arguments[group * n]) & kBankWritable) {
        GXL_SHADER_REPORT(*this, inst->sourcePosition, msg::kInternalResultPortConstraints);
        return E_FAIL;
      }
      // The most used register of the offending kind is the one to copy.
      const std::uint32_t kind = BankTypeOf(*this, inst->arguments[group * n]) & kPortTypeMask;
      std::uint32_t best = kNoIndex, bestUses = 0;
      for (std::uint32_t k = 0; k < groups; ++k) {
        const std::uint32_t type = BankTypeOf(*this, inst->arguments[k * n]);
        if (ReadsFace(*inst, k) || !(type & kBankBound) || (type & kPortTypeMask) != kind) continue;
        std::uint32_t uses = 0;
        for (std::uint32_t c = 0; c < n; ++c) uses += Value(inst->arguments[k * n + c])->useCount;
        if (best == kNoIndex || uses > bestUses) best = k, bestUses = uses;
      }
      if (best == kNoIndex) {
        GXL_SHADER_REPORT(*this, inst->sourcePosition, msg::kInternalPoolPortConstraints);
        return E_FAIL;
      }
      const IrValue pick = *Value(inst->arguments[best * n]);
      // One value per component of that register still live here.
      std::uint32_t old[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex}, lastUse = i;
      for (std::uint32_t v = 0; v < values.Count(); ++v) {
        const IrValue* w = Value(v);
        if (!w || !SameRegisterOf(*w, pick) || w->alias != kNoIndex || w->component >= 4 || w->lastUse == kNoIndex ||
            w->lastUse < i || (w->firstUse != kNoIndex && w->firstUse > i))
          continue;
        if (old[w->component] == kNoIndex) old[w->component] = v;
        lastUse = std::max(lastUse, w->lastUse);
      }
      std::uint32_t components[4], fresh[4], m = 0;
      const IrValue* guardValue = inst->resultCount ? Value(inst->results[0]) : nullptr;
      const std::uint32_t predicate = guardValue ? guardValue->predicate : kNoIndex;
      const std::uint32_t sense = guardValue ? guardValue->predicateSense : 1;
      for (std::uint32_t c = 0; c < 4; ++c) {
        if (old[c] == kNoIndex) continue;
        const std::uint32_t made = AddValue(temporaryBank, nextTemporary, c, 0.0);
        if (made == kNoIndex) return E_OUTOFMEMORY;
        IrValue& t = *Value(made);
        t.CopyVariableFields(Value(old[c]));
        t.semantic = nullptr;
        t.registerKey = kNoIndex;
        t.variableOffset = 0;
        t.predicate = predicate;
        t.predicateSense = sense;
        components[m] = c;
        fresh[m++] = made;
      }
      if (m == 0) break;
      IrInstruction* move = NewInstruction(IrWord(kOpMove, m), m, m);
      if (!move) return E_OUTOFMEMORY;
      move->CopySourcePosition(inst);
      for (std::uint32_t k = 0; k < m; ++k) {
        move->arguments[k] = old[components[k]];
        move->results[k] = fresh[k];
      }
      // In front of the instruction.
      const std::uint32_t at = instructions.Append(move);
      if (at == kNoIndex) return E_OUTOFMEMORY;
      for (std::uint32_t p = at; p > i; --p) std::swap(instructions.Slot(p), instructions.Slot(p - 1));
      ++i;
      ++lastUse;
      ++nextTemporary;
      changed = true;
      // This and every later constrained reader of the same predicate chain
      // read the copy while the old values live.
      for (std::uint32_t j = i; j <= lastUse && j < instructions.Count(); ++j) {
        IrInstruction* reader = Instruction(j);
        const IrValue* first = ReadsThroughPorts(reader) && reader->resultCount ? Value(reader->results[0]) : nullptr;
        std::uint32_t ignored = 0;
        if (!first || first->predicate != predicate || first->predicateSense != sense ||
            (j != i && !NextArgumentToCopy(*reader, &ignored)))
          continue;
        // A group reads one register: it moves to the copy only when the
        // copy holds every component it reads (a later reader may read
        // components that were not live here).
        const std::uint32_t width = std::max(GroupWidth(*reader), 1u);
        auto covered = [&](std::uint32_t a) {
          for (std::uint32_t b = a - a % width; b < a - a % width + width && b < reader->argumentCount; ++b) {
            const IrValue* w = Value(reader->arguments[b]);
            if (w && SameRegisterOf(*w, pick) && (w->component >= 4 || old[w->component] == kNoIndex)) return false;
          }
          return true;
        };
        for (std::uint32_t a = 0; a < reader->argumentCount; ++a) {
          const IrValue* w = Value(reader->arguments[a]);
          if (!w || !SameRegisterOf(*w, pick) || w->component >= 4 || old[w->component] == kNoIndex || !covered(a))
            continue;
          const std::uint32_t k =
              static_cast<std::uint32_t>(std::find(components, components + m, w->component) - components);
          std::uint32_t replacement = fresh[k];
          // A modified read keeps its modifier over the copy.
          if (w->binding & kSourceModifierBits) {
            replacement = AddValueCopy(Value(fresh[k]));
            if (replacement == kNoIndex) return E_OUTOFMEMORY;
            Value(replacement)->binding = Value(reader->arguments[a])->binding;
            Value(replacement)->alias = fresh[k];
          }
          reader->arguments[a] = replacement;
        }
      }
      hr = ResetSelectionState();
      if (FAILED(hr)) return hr;
      inst = Instruction(i);
    }
  }
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
