// Outputs during the rounds are written through temporaries and copied out
// by moves at the end, so the passes treat them as any other value; after
// the rounds the instruction that computes an output writes it itself again.
#include <algorithm>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

// Outputs one move may write: one register of one bank, under one guard.
bool SameMove(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  const IrValue &x = *p.values[a], &y = *p.values[b];
  return x.reg != kNoIndex && x.bank == y.bank && x.relativeIndex == y.relativeIndex && x.reg == y.reg &&
         opt::GuardOf(x) == opt::GuardOf(y) && x.alias == y.alias && x.binding == y.binding;
}

// The first instruction that is not a move on the way back from `value`
// through the moves that define it.
const IrInstruction* ComputingInstruction(const ShaderProgram& p, std::uint32_t value) {
  const IrInstruction* found = nullptr;
  for (std::uint32_t steps = 0; steps <= p.instructions.Count(); ++steps) {
    const IrValue* v = p.values[value];
    const IrInstruction* d = v ? p.instructions[v->definingPosition] : nullptr;
    if (opt::IsEmpty(d)) break;
    found = d;
    const std::uint32_t slot = opt::ResultSlot(*d, value);
    if (d->Group() != kOpMove || slot >= d->argumentCount) break;
    value = d->arguments[slot];
  }
  return found;
}

}  // namespace

HRESULT ShaderProgram::RouteOutputsThroughTemporaries() {
  const std::uint32_t count = values.Count();
  auto outputs = opt::NewArray<std::uint32_t>(count);
  auto twins = opt::NewArray<std::uint32_t>(count);
  if (!outputs || !twins) return E_OUTOFMEMORY;
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < count; ++i)
    if (values[i] && (opt::BankTypeOf(*this, i) & kBankOutput)) outputs[n++] = i;
  if (n == 0) return S_FALSE;

  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t k = 0; k < n; ++k) {
    twins[k] = AddValue(temporaries, kNoIndex, kNoIndex, 0.0);
    if (twins[k] == kNoIndex) return E_OUTOFMEMORY;  // the twins made so far are unread
    IrValue &twin = *values[twins[k]], &output = *values[outputs[k]];
    twin.predicate = output.predicate;
    twin.predicateSense = output.predicateSense;
  }
  // Instructions write and read the twins from here on.
  NumberValues();
  for (std::uint32_t k = 0; k < n; ++k) values[outputs[k]]->renumber = twins[k];
  RenumberValueLinks();
  NumberValues();
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;

  // The twin of each output, found again after sorting the outputs.
  for (std::uint32_t k = 0; k < n; ++k) values[outputs[k]]->renumber = twins[k];
  SortIndicesByComparator(CompareValueKeys, outputs.get(), n, this);
  for (std::uint32_t start = 0, end; start < n; start = end) {
    for (end = start + 1; end < n && end - start < 4 && SameMove(*this, outputs[start], outputs[end]); ++end) {
    }
    const std::uint32_t width = end - start;
    const std::uint32_t index = AddInstruction(IrWord(kOpMove, width), kNoIndex, kNoIndex);
    if (index == kNoIndex) {
      NumberValues();
      return E_OUTOFMEMORY;
    }
    IrInstruction& move = *instructions[index];
    for (std::uint32_t k = 0; k < width; ++k) {
      move.arguments[k] = values[outputs[start + k]]->renumber;
      move.results[k] = outputs[start + k];
    }
    for (std::uint32_t k = 0; k < width && !move.sourcePosition; ++k) {
      if (const IrInstruction* origin = ComputingInstruction(*this, move.arguments[k])) move.CopySourcePosition(origin);
    }
  }
  NumberValues();
  return S_OK;
}

HRESULT ShaderProgram::WriteOutputsDirectly() {
  if (profileLimits.capabilities & 0x1) return S_FALSE;
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  bool changed = false;
  for (std::uint32_t position = instructions.Count(); position-- > 0;) {
    IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst) || (inst->Group() != kOpMove && inst->Group() != kOpIfMerge) || inst->resultCount == 0)
      continue;
    const bool merge = inst->Group() == kOpIfMerge;
    const std::uint32_t n = inst->resultCount;
    auto fits = [&](std::uint32_t a) {
      const std::uint32_t argument = inst->arguments[a], result = inst->results[a % n];
      const IrValue* v = values[argument];
      const IrValue* out = values[result];
      if (!v || !out || !(opt::BankTypeOf(*this, result) & kBankOutput) ||
          !(opt::BankTypeOf(*this, argument) & kBankWritable) || v->relativeIndex != kNoIndex || v->useCount != 1 ||
          v->firstUse != position || v->definingPosition >= position)
        return false;
      // The argument must be written exactly when the output is: under the
      // same guard, or for a merge under one side of a block that has it.
      const opt::Guard guard = opt::GuardOf(*v);
      const IrValue* block = values[guard.predicate];
      if (merge ? !block || !(opt::GuardOf(*block) == opt::GuardOf(*out)) || guard.sense != (a < n ? 1u : 0u)
                : !(guard == opt::GuardOf(*out)))
        return false;
      // A whole-list operation writes its k-th result to component k.
      const IrInstruction& d = *instructions[v->definingPosition];
      return d.IsArithmetic() || opt::ResultSlot(d, argument) == out->component;
    };
    // A merge whose output register other instructions write too stays: the
    // target may have to gather the register's pieces into one write, which
    // it can for writes outside blocks only.
    auto sharesRegister = [&] {
      for (std::uint32_t i = 0; i < values.Count(); ++i) {
        const IrValue* v = values[i];
        if (!v || v->definingPosition == kNoIndex || v->definingPosition == position) continue;
        for (std::uint32_t r = 0; r < n; ++r) {
          const IrValue* out = values[inst->results[r]];
          if (out && v->bank == out->bank && v->reg == out->reg && v->relativeIndex == out->relativeIndex) return true;
        }
      }
      return false;
    };
    bool all = !merge || !sharesRegister();
    for (std::uint32_t a = 0; a < inst->argumentCount && all; ++a) all = fits(a);
    if (!all || inst->argumentCount != (merge ? 2 * n : n)) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      IrValue& v = *values[inst->arguments[a]];
      const IrValue& out = *values[inst->results[a % n]];
      v.bank = out.bank;
      v.relativeIndex = out.relativeIndex;
      v.reg = out.reg;
      v.component = out.component;
      opt::TakeOver(v, out);
      v.semantic = out.semantic;
      v.registerKey = out.registerKey;
      v.variableOffset = out.variableOffset;
    }
    for (std::uint32_t r = 0; r < n; ++r) opt::Discard(*this, inst->results[r]);
    opt::Empty(*inst);
    changed = true;
  }
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
