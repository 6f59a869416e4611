// Helpers of selection that the operand fix-ups, the flow-control mapping
// and the targets call: producers of argument groups, alias chains, result
// order, splitting, address-register loads and the placement of a combined
// instruction.
#include <algorithm>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kCapTextureReadsAnywhere = 0x20000000;

bool Commutative(std::uint32_t group) {
  return group == kOpMin || group == kOpMax || group == kOpAdd || group == kOpMultiply || group == kOpDot;
}

}  // namespace

HRESULT FindGroupProducers(const ShaderProgram& p, std::uint32_t code, const IrInstruction& inst,
                           std::uint32_t* producers, std::uint32_t factor) {
  const std::uint32_t n = inst.Width();
  const std::uint32_t groups = n ? inst.argumentCount / n : 0;
  const std::uint32_t temporaries = p.StandardBankIndex(StandardBank::Temporaries);
  bool any = false;
  for (std::uint32_t k = 0; k < groups; ++k) {
    producers[k] = kNoIndex;
    const std::uint32_t* group = inst.arguments + k * n;
    std::uint32_t at = kNoIndex;
    bool ok = true;
    for (std::uint32_t i = 0; i < n && ok; ++i) {
      const IrValue* v = p.values[group[i]];
      ok = v && v->bank == temporaries && v->binding == 0 && v->alias == kNoIndex && v->useCount == 1 &&
           v->definingPosition != kNoIndex && (i == 0 || v->definingPosition == at);
      if (ok) at = v->definingPosition;
    }
    const IrInstruction* producer = ok ? p.instructions[at] : nullptr;
    ok = producer && producer->Group() == code && producer->Width() == producer->resultCount &&
         producer->argumentCount <= producer->Width() * factor && producer->resultCount &&
         std::find(group, group + n, producer->results[0]) != group + n;
    // A producer of several results gives exactly the group, in order.
    if (ok && producer->resultCount >= 2)
      ok = producer->resultCount == n && std::equal(group, group + n, producer->results);
    if (ok) {
      producers[k] = at;
      any = true;
    }
  }
  return any ? S_OK : S_FALSE;
}

HRESULT CheckProducerFusion(ShaderProgram& p, std::uint32_t code, std::uint32_t position, std::uint32_t* out,
                            std::uint32_t factor, std::uint32_t count) {
  const IrInstruction* inst = p.instructions[position];
  if (!inst || inst->word < 0x100000 || inst->resultCount == 0) return S_FALSE;
  const IrValue* first = p.values[inst->results[0]];
  const std::uint32_t at = first ? first->firstUse : kNoIndex;
  IrInstruction* reader = at != kNoIndex ? p.instructions[at] : nullptr;
  if (!reader || at <= position || reader->Group() != code || reader->Width() != reader->resultCount ||
      reader->argumentCount > reader->Width() * factor)
    return S_FALSE;
  const std::uint32_t reads = inst->resultCount == 1 ? reader->Width() * count : count;
  for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
    const IrValue* v = p.values[inst->results[r]];
    if (!v || v->firstUse != at || v->lastUse != at || v->useCount != reads) return S_FALSE;
  }
  const std::uint32_t temporaries = p.StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
    const IrValue* v = p.values[inst->arguments[a]];
    if (v && v->bank == temporaries && WrittenBetween(p, inst->arguments[a], position, at)) return S_FALSE;
  }
  // The group holding the first result goes first, where the order is free.
  const std::uint32_t n = reader->Width();
  const std::uint32_t* hit = std::find(reader->arguments, reader->arguments + reader->argumentCount, inst->results[0]);
  const std::uint32_t group = n ? static_cast<std::uint32_t>(hit - reader->arguments) / n : 0;
  if (hit == reader->arguments + reader->argumentCount) return S_FALSE;
  if (group != 0) {
    if (!Commutative(reader->Group())) return S_FALSE;
    std::swap_ranges(reader->arguments, reader->arguments + n, reader->arguments + group * n);
  }
  *out = at;
  return S_OK;
}

std::uint32_t CombineAliasBindings(std::uint32_t outer, std::uint32_t inner) {
  // A negated read of a negated value reads it plainly; the other modifiers
  // only stack where one of the two reads has none.
  return ((outer | inner) & ~kNegateBit) | ((outer ^ inner) & kNegateBit);
}

namespace {

void FlattenAliasChain(ShaderProgram& p, std::uint32_t i) {
  const std::uint32_t count = p.values.Count();
  IrValue* v = p.values[i];
  if (!v || v->alias == kNoIndex || v->alias == i) return;
  std::uint32_t end = v->alias, binding = v->binding;
  for (std::uint32_t steps = 0; steps < count; ++steps) {
    const IrValue* next = p.values[end];
    if (!next || next->alias == kNoIndex || next->alias == end || next->alias == i) break;
    binding = CombineAliasBindings(binding, next->binding);
    end = next->alias;
  }
  v->binding = binding;
  if (end != v->alias && p.values[end]) {
    // A read of the chain's end reads it at its relative index too: the use
    // analysis copies the register over, not the index.
    v->alias = end;
    v->relativeIndex = p.values[end]->relativeIndex;
    v->CopyVariableFields(p.values[end]);
  }
}

}  // namespace

HRESULT FlattenAliasChains(ShaderProgram& p) {
  for (std::uint32_t i = 0; i < p.values.Count(); ++i) FlattenAliasChain(p, i);
  return S_OK;
}

HRESULT FlattenAliasChains(ShaderProgram& p, std::uint32_t* candidates, std::size_t count) {
  // In index order, as the whole walk meets them: a flattened chain is
  // what the values after it follow.
  std::sort(candidates, candidates + count);
  const std::uint32_t* end = std::unique(candidates, candidates + count);
  for (const std::uint32_t* c = candidates; c != end; ++c) FlattenAliasChain(p, *c);
  return S_OK;
}

std::uint32_t IsReadByTextureInstruction(const ShaderProgram& p, std::uint32_t value, std::uint32_t first,
                                         std::uint32_t last) {
  if ((p.profileLimits.capabilities & kCapTextureReadsAnywhere) || first > last) return 0;
  for (std::uint32_t position = first; position <= last && position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (!inst || inst->word < 0x100000 || inst->Class() != 6) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
      if (inst->arguments[a] == value || p.ResolveAlias(inst->arguments[a]) == value) return 1;
  }
  return 0;
}

std::uint32_t IsDerivativeOperation(const IrInstruction& instruction) {
  return instruction.Group() == kOpDdx || instruction.Group() == kOpDdy;
}

HRESULT ShaderTarget::SortAllResultsByComponent() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    if (!Instruction(i)) continue;
    SetCurrentInstruction(i);
    const HRESULT hr = SortResultsByComponent();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ShaderTarget::SortResultsByComponent() {
  IrInstruction* inst = current;
  if (!inst) return S_FALSE;
  const std::uint32_t n = inst->Width();
  if (n != inst->resultCount || n < 1 || n > 4 || inst->argumentCount % n || InOperationSet1(inst->word) ||
      (IsSpecialOperation(inst->word) && !InOperationSet4(inst->word)))
    return S_FALSE;
  auto component = [&](std::uint32_t j) {
    const IrValue* v = Value(inst->results[j]);
    return v ? v->component : kNoIndex;
  };
  const std::uint32_t groups = inst->argumentCount / n;
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (std::uint32_t j = 0; j + 1 < n; ++j) {
      if (component(j) <= component(j + 1)) continue;
      std::swap(inst->results[j], inst->results[j + 1]);
      for (std::uint32_t g = 0; g < groups; ++g) std::swap(inst->arguments[g * n + j], inst->arguments[g * n + j + 1]);
      swapped = true;
    }
  }
  return S_OK;
}

HRESULT ShaderTarget::SplitByComponents(const std::uint8_t* keep, std::uint32_t groupCount, std::uint32_t width) {
  const IrInstruction* inst = current;
  if (!inst || !keep) return E_FAIL;
  const std::uint32_t n = inst->Width();
  if (inst->resultCount != n || inst->argumentCount < groupCount * n || width == 0 || width > n) return E_FAIL;
  IrInstruction* part = NewInstruction(IrWord(inst->Group(), width), groupCount * width, width);
  if (!part) return E_OUTOFMEMORY;
  std::uint32_t k = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    if (!keep[j]) continue;
    if (k == width) break;
    part->results[k] = inst->results[j];
    for (std::uint32_t g = 0; g < groupCount; ++g) part->arguments[g * width + k] = inst->arguments[g * n + j];
    ++k;
  }
  if (k != width) {
    delete part;
    return E_FAIL;
  }
  part->CopyFields(*inst);
  return instructions.Append(part) == kNoIndex ? E_OUTOFMEMORY : S_OK;
}

HRESULT ShaderTarget::LoadAddressRegisters() {
  IrInstruction* inst = current;
  if (!inst || inst->word < 0x100000) return S_FALSE;
  const std::uint32_t n = inst->Width();
  // The indexes the groups read through, where they lie outside the address
  // register, each loaded once: into w when there is one, else into the
  // component of the first group reading it (or a free one).
  std::uint32_t distinct[4], component[4], loads = 0;
  bool taken[4] = {};
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
    const IrValue* v = Value(inst->arguments[a]);
    if (!v || v->relativeIndex == kNoIndex || (BankTypeOf(*this, v->relativeIndex) & kBankAddress) ||
        std::find(distinct, distinct + loads, v->relativeIndex) != distinct + loads)
      continue;
    if (loads == 4) return E_FAIL;  // the address register has four components
    const std::uint32_t group = n ? std::min(a / n, 3u) : 0;
    component[loads] = group;
    distinct[loads++] = v->relativeIndex;
  }
  if (loads == 0) return S_FALSE;
  // Components holding an address loaded before this instruction and read
  // at or after it are not free: a load into one would overwrite it. A read
  // inside a loop the load stands before comes again on the next pass, so
  // the address lives to that loop's end.
  const std::uint32_t bank = StandardBankIndex(StandardBank::Address);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    if (!v || v->bank != bank || v->reg != 0 || v->component >= 4 || v->definingPosition == kNoIndex ||
        v->definingPosition >= currentIndex || v->lastUse == kNoIndex)
      continue;
    std::uint32_t live = v->lastUse;
    for (bool grew = true; grew;) {
      grew = false;
      for (std::size_t k = 0; k + 1 < m_addressPassLoops.Size(); k += 2) {
        const std::uint32_t open = m_addressPassLoops[k], close = m_addressPassLoops[k + 1];
        if (v->definingPosition < open && live >= open && live < close) live = close, grew = true;
      }
    }
    if (live >= currentIndex) taken[v->component] = true;
  }
  if (loads > static_cast<std::uint32_t>(std::count(taken, taken + 4, false))) return E_FAIL;
  for (std::uint32_t d = 0; d < loads; ++d) {
    if (loads == 1) component[d] = 3;
    while (taken[component[d]]) component[d] = (component[d] + 1) % 4;
    taken[component[d]] = true;
  }
  const IrValue* guard = inst->resultCount ? Value(inst->results[0]) : nullptr;
  std::uint32_t address[4];
  for (std::uint32_t d = 0; d < loads; ++d) {
    address[d] = AddValue(bank, 0, component[d], 0.0);
    if (address[d] == kNoIndex) return E_OUTOFMEMORY;
    if (guard) {
      Value(address[d])->predicate = guard->predicate;
      Value(address[d])->predicateSense = guard->predicateSense;
    }
  }
  IrInstruction* load = NewInstruction(IrWord(kOpMove, loads), loads, loads);
  if (!load) return E_OUTOFMEMORY;
  std::copy(distinct, distinct + loads, load->arguments);
  std::copy(address, address + loads, load->results);
  load->CopySourcePosition(inst);
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
    const IrValue* v = Value(inst->arguments[a]);
    const std::uint32_t* d = v ? std::find(distinct, distinct + loads, v->relativeIndex) : distinct + loads;
    if (d == distinct + loads) continue;
    const std::uint32_t copy = AddValueCopy(v);
    if (copy == kNoIndex) {
      delete load;
      return E_OUTOFMEMORY;
    }
    Value(copy)->relativeIndex = address[d - distinct];
    inst->arguments[a] = copy;
  }
  return instructions.Append(load) == kNoIndex ? E_OUTOFMEMORY : S_OK;
}

// Every instruction is rebuilt at the end of the list behind the address
// loads it needs, so the loads stand right before their readers.
HRESULT ShaderTarget::LoadAddressRegistersInPasses() {
  constexpr std::uint32_t kAddressPasses = 16;
  for (std::uint32_t pass = 0; pass <= kAddressPasses; ++pass) {
    const bool last = pass == kAddressPasses;
    bool finished = true;
    const std::uint32_t count = instructions.Count();
    if (const HRESULT found = FindAddressPassLoops(); FAILED(found)) return found;
    for (std::uint32_t i = 0; i < count; ++i) {
      SetCurrentInstruction(i);
      if (!current || current->word == 0) continue;
      const HRESULT hr = LoadAddressRegisters();
      if (hr == E_FAIL) {
        finished = false;
        if (last) GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kRelativeTooDeep);
      } else if (FAILED(hr)) {
        return hr;
      }
      if (AddInstructionCopy(current) == kNoIndex) return E_OUTOFMEMORY;
      Instruction(i)->word = 0;
    }
    m_addressPassLoops.Clear();
    HRESULT hr = CompactInstructions();
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (FAILED(hr)) return hr;
    if (finished) return S_OK;
  }
  return E_FAIL;
}

HRESULT ShaderTarget::FindAddressPassLoops() {
  m_addressPassLoops.Clear();
  PodArray<std::uint32_t> open;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    const std::uint32_t group = inst ? inst->Group() : kOpNop;
    if (group == kOpLoopBegin || group == flow::kLoop || group == flow::kRep) {
      if (!open.Append(i)) return E_OUTOFMEMORY;
    } else if ((group == kOpLoopEnd || group == flow::kEndLoop || group == flow::kEndRep) && !open.Empty()) {
      if (!m_addressPassLoops.Append(open.Back()) || !m_addressPassLoops.Append(i)) return E_OUTOFMEMORY;
      open.PopBack();
    }
  }
  return S_OK;
}

HRESULT ShaderTarget::PlaceCombinedInstruction(IrInstruction* combined, const std::uint32_t* matched,
                                               std::uint32_t count) {
  std::uint32_t group = 0;
  if (!combined || count == 0 || count > kMaxMatched || NextArgumentToCopy(*combined, &group) != 0) return S_FALSE;
  MatchedList list;
  std::copy(matched, matched + count, list.position);
  list.count = count;
  std::uint32_t order[kMaxMatched];
  std::copy(matched, matched + count, order);
  std::sort(order, order + count);
  const std::uint32_t root = order[count - 1];
  for (std::uint32_t c = 0; c < count; ++c) {
    const std::uint32_t at = order[c];
    bool fits = true;
    // Its arguments are written before the position and stay until it.
    for (std::uint32_t a = 0; a < combined->argumentCount && fits; ++a) {
      const IrValue* v = Value(ResolveAlias(combined->arguments[a]));
      const std::uint32_t def = v ? v->definingPosition : kNoIndex;
      fits = v && (def == kNoIndex || (def < at && !list.Contains(def))) &&
             !WrittenBetween(*this, combined->arguments[a], def, at, &list);
    }
    // Its results may be written there instead of at the root.
    for (std::uint32_t r = 0; r < combined->resultCount && fits; ++r) {
      const IrValue* v = Value(combined->results[r]);
      fits = v && (!registerTableFlag || v->earliestDefinition == kNoIndex || v->earliestDefinition <= at) &&
             RegisterQuietBetween(*this, combined->results[r], at, root + 1, &list);
    }
    if (!fits || ReadsEarlierResult(*combined, at) != 0) continue;
    Retire(*this, list, (1u << count) - 1);
    IrInstruction*& slot = instructions.Slot(at);
    delete slot;
    slot = combined;
    for (std::uint32_t r = 0; r < combined->resultCount; ++r)
      if (IrValue* v = Value(combined->results[r])) v->definingPosition = at;
    return S_OK;
  }
  return S_FALSE;
}

}  // namespace gxl::shader
