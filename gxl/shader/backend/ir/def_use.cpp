// Use analysis: where each value is defined and read, the relative-use
// windows of banks, coalescing cycles of moves, per-register definition
// chains, and the dependency lists between instructions. Every pass calls it
// after rewriting the program, so it runs in time linear in the program.
#include <algorithm>
#include <memory>
#include <utility>

#include "gxl/shader/backend/ir/def_use_walk.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

namespace {

// The definition table is four words per register; more than this many is no
// program a source can describe, and would only exhaust memory.
constexpr std::uint64_t kMaxTableEntries = std::uint64_t{1} << 26;

std::uint32_t BankType(const ShaderProgram& p, const IrValue& v) {
  const RegisterBank* bank = p.banks[v.bank];
  return bank ? bank->type : 0;
}

// Calls `visit` on `index` and on each value along the chain that `link`
// follows from it (relative indexes, predicates). A cycle in the chain ends
// once every value could have been seen.
template <class Visit>
void WalkChain(const ShaderProgram& p, std::uint32_t index, std::uint32_t IrValue::*link, Visit visit) {
  for (std::uint32_t steps = 0; index != kNoIndex && steps <= p.values.Count(); ++steps) {
    const IrValue* v = p.values.Peek(index);
    if (!v) return;
    visit(index);
    index = v->*link;
  }
}

// Sizes the writable, unbound banks to their highest register (`highest`,
// one entry per bank) and hands each its share of one table of four entries
// per register, all kNoIndex.
HRESULT BuildDefinitionTable(ShaderProgram& p, const std::uint32_t* highest, std::unique_ptr<std::uint32_t[]>& table) {
  const std::uint32_t bankCount = p.banks.Count();
  auto inTable = [](const RegisterBank* b) { return b && (b->type & kBankWritable) && !(b->type & kBankBound); };
  std::uint64_t entries = 0;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    RegisterBank* bank = p.banks[b];
    if (!inTable(bank)) continue;
    if (bank->registerCount == kNoIndex || bank->registerCount < highest[b]) bank->registerCount = highest[b];
    entries += std::uint64_t{bank->registerCount} * 4;
  }
  if (entries > kMaxTableEntries) return E_OUTOFMEMORY;
  table.reset(new (std::nothrow) std::uint32_t[entries ? entries : 1]);
  if (!table) return E_OUTOFMEMORY;
  std::fill(table.get(), table.get() + entries, kNoIndex);
  std::uint64_t offset = 0;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    RegisterBank* bank = p.banks[b];
    if (!inTable(bank)) continue;
    bank->definitions = table.get() + offset;
    offset += std::uint64_t{bank->registerCount} * 4;
  }
  return S_OK;
}

// Links the definition `index` to the previous one of its register component.
void ChainDefinition(ShaderProgram& p, std::uint32_t index) {
  IrValue& v = *p.values[index];
  const RegisterBank* bank = p.banks[v.bank];
  if (!bank || !bank->definitions || v.reg >= bank->registerCount || v.component >= 4) return;
  std::uint32_t& slot = bank->definitions[std::size_t{v.reg} * 4 + v.component];
  if (slot != kNoIndex && slot != index) {
    p.values[slot]->latestDefinition = index;
    v.earliestDefinition = slot;
  }
  slot = index;
}

// Plain moves put destination and source into one coalescing cycle.
void CoalesceMove(ShaderProgram& p, const IrInstruction& move) {
  const std::uint32_t n = std::min(move.argumentCount, move.resultCount);
  for (std::uint32_t i = 0; i < n; ++i) {
    IrValue* destination = p.values[move.results[i]];
    IrValue* source = p.values[move.arguments[i]];
    if (!destination || !source || source->binding != 0) continue;
    const std::uint32_t type = BankType(p, *destination);
    if ((type & kBankReadable) && !(type & (kBankOutput | kBankBlockMoves)))
      std::swap(destination->coalesceLink, source->coalesceLink);
  }
}

// Turns the definition chains into the window in which each value may be
// defined; with `relative`, in the same sweep, widens each value to its
// bank's relative window first. The neighbours' ranges are read as widened
// whether or not the sweep has reached them (widening twice changes nothing).
void SetDefinitionWindows(ShaderProgram& p, bool relative) {
  auto widened = [&p, relative](const IrValue& v) {
    std::uint32_t first = v.firstUse, last = v.lastUse;
    if (const RegisterBank* bank = relative ? p.banks[v.bank] : nullptr; bank && bank->relativeUseCount) {
      defuse::Widen(first, last, bank->firstRelativeUse);
      defuse::Widen(first, last, bank->lastRelativeUse);
    }
    return std::pair{first, last};
  };
  for (std::uint32_t i = 0; i < p.values.Count(); ++i) {
    IrValue* v = p.values[i];
    if (!v) continue;
    if (relative) defuse::WidenToRelativeWindow(p, *v);
    const IrValue* previous = v->earliestDefinition != kNoIndex ? p.values[v->earliestDefinition] : nullptr;
    const IrValue* next = v->latestDefinition != kNoIndex ? p.values[v->latestDefinition] : nullptr;
    v->earliestDefinition = !previous                  ? 0
                            : previous->useCount != 0 ? widened(*previous).second
                                                      : previous->definingPosition + 1;
    const std::uint32_t nextFirst = next ? widened(*next).first : kNoIndex;
    v->latestDefinition = !next ? kNoIndex : nextFirst < next->definingPosition ? next->definingPosition : nextFirst;
  }
}

}  // namespace

HRESULT ShaderProgram::RebuildDefUse() {
  for (std::uint32_t b = 0; b < banks.Count(); ++b) {
    if (RegisterBank* bank = banks[b]) {
      bank->firstRelativeUse = kNoIndex;
      bank->lastRelativeUse = bank->relativeUseCount = 0;
      bank->definitions = nullptr;
    }
  }
  // Each pass over the values costs a cache miss per value: the ones that
  // alias another are noted on the way, for the merge at the end, and so are
  // the banks' highest registers, for the definition table.
  const std::uint32_t bankCount = banks.Count();
  std::unique_ptr<std::uint32_t[]> highest;
  if (registerTableFlag) {
    highest.reset(new (std::nothrow) std::uint32_t[bankCount + 1]());
    if (!highest) return E_OUTOFMEMORY;
  }
  PodArray<std::uint32_t> aliased;
  bool allAliased = !aliased.Reserve(64);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (IrValue* v = values[i]) {
      v->coalesceLink = i;
      v->firstUse = kNoIndex;
      v->lastUse = v->useCount = 0;
      v->definingPosition = v->earliestDefinition = v->latestDefinition = kNoIndex;
      if (v->alias != kNoIndex && v->alias != i && !allAliased) allAliased = !aliased.Append(i);
      // Register kNoIndex is "not assigned" and must not wrap to a count of 0.
      if (highest && v->bank < bankCount && v->reg != kNoIndex)
        highest[v->bank] = std::max(highest[v->bank], v->reg + 1);
    }
  }
  std::unique_ptr<std::uint32_t[]> table;
  if (registerTableFlag) {
    const HRESULT hr = BuildDefinitionTable(*this, highest.get(), table);
    if (FAILED(hr)) {
      for (std::uint32_t b = 0; b < banks.Count(); ++b)
        if (banks[b]) banks[b]->definitions = nullptr;
      return hr;
    }
  }

  const bool coalesce = !(options & kOptionNoOptimisation);
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    // A read widens the value's range (and a relative one its bank's window).
    defuse::VisitInstruction(
        *this, position, [](std::uint32_t) {},
        [&](std::uint32_t, IrValue& v) {
          defuse::Widen(v.firstUse, v.lastUse, position);
          ++v.useCount;
        },
        [&](std::uint32_t, RegisterBank& bank) {
          defuse::Widen(bank.firstRelativeUse, bank.lastRelativeUse, position);
          ++bank.relativeUseCount;
        },
        [&](std::uint32_t value, IrValue& v) {
          v.definingPosition = position;
          if (table) ChainDefinition(*this, value);
        });
    const IrInstruction* inst = instructions[position];
    if (coalesce && inst && inst->word >= 0x100000 && inst->Group() == kOpMove) CoalesceMove(*this, *inst);
  }

  // Only banks read relatively widen their values.
  bool relative = false;
  for (std::uint32_t b = 0; b < banks.Count() && !relative; ++b)
    relative = banks[b] && banks[b]->relativeUseCount != 0;
  if (registerTableFlag) {
    SetDefinitionWindows(*this, relative);
  } else {
    for (std::uint32_t i = 0; i < values.Count() && relative; ++i)
      if (IrValue* v = values[i]) defuse::WidenToRelativeWindow(*this, *v);
  }
  if (optimisedFlag && allAliased) {
    for (std::uint32_t i = 0; i < values.Count(); ++i) defuse::MergeAlias(*this, i);
  } else if (optimisedFlag) {
    for (std::size_t k = 0; k < aliased.Size(); ++k) defuse::MergeAlias(*this, aliased[k]);
  }
  for (std::uint32_t b = 0; b < banks.Count(); ++b)
    if (banks[b]) banks[b]->definitions = nullptr;
  // The passes run it after most steps: its cost measures theirs.
  return ChargeWalk(workrate::kUseAnalysis);
}

namespace {

// Calls `depend(definer)` for every value instruction `position` reads:
// its arguments (through aliases) with their relative-index chains, and the
// relative-index and predicate chains of its results. Values of banks that
// are not written by instructions carry no dependency.
template <class Depend>
void ForEachDependency(const ShaderProgram& p, const IrInstruction& inst, Depend depend) {
  auto read = [&](std::uint32_t index) {
    const IrValue* v = p.values.Peek(p.ResolveAlias(index));
    if (!v || !(BankType(p, *v) & kBankWritable)) return;
    const std::uint32_t definer = v->definingPosition;
    if (p.instructions.Peek(definer)) depend(definer);
  };
  auto readChain = [&](std::uint32_t index, std::uint32_t IrValue::*link) { WalkChain(p, index, link, read); };
  for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
    const std::uint32_t index = inst.arguments[a];
    read(index);
    if (const IrValue* v = p.values.Peek(p.ResolveAlias(index))) readChain(v->relativeIndex, &IrValue::relativeIndex);
  }
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    if (const IrValue* v = p.values.Peek(inst.results[r])) {
      readChain(v->relativeIndex, &IrValue::relativeIndex);
      readChain(v->predicate, &IrValue::predicate);
    }
  }
}

// Sorts a list ascending and drops repeats; the new length.
std::uint32_t SortUnique(std::uint32_t* list, std::uint32_t count) {
  std::sort(list, list + count);  // equal entries are alike: any sort leaves the same list
  return static_cast<std::uint32_t>(std::unique(list, list + count) - list);
}

}  // namespace

HRESULT ShaderProgram::BuildDependencyLists() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (IrInstruction* inst = instructions[i]) {
      inst->predecessorCount = inst->successorCount = 0;
      inst->predecessors = inst->successors = nullptr;
    }
  }
  // Count, draw the lists, then fill them.
  for (std::uint32_t i = 0; i < count; ++i) {
    if (IrInstruction* inst = instructions[i]) {
      ForEachDependency(*this, *inst, [&](std::uint32_t definer) {
        ++inst->predecessorCount;
        ++instructions[definer]->successorCount;
      });
    }
  }
  PagePool* pages = InstructionPagePool();
  auto draw = [pages](std::uint32_t*& list, std::uint32_t& n) {
    if (n == 0) return true;
    list = pages ? static_cast<std::uint32_t*>(pages->Allocate(std::size_t{n} * sizeof(std::uint32_t), 16)) : nullptr;
    n = 0;
    return list != nullptr;
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    IrInstruction* inst = instructions[i];
    if (inst && !(draw(inst->predecessors, inst->predecessorCount) && draw(inst->successors, inst->successorCount))) {
      for (std::uint32_t j = 0; j < count; ++j) {
        if (IrInstruction* other = instructions[j]) {
          other->predecessorCount = other->successorCount = 0;
          other->predecessors = other->successors = nullptr;
        }
      }
      return E_OUTOFMEMORY;
    }
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (IrInstruction* inst = instructions[i]) {
      ForEachDependency(*this, *inst, [&](std::uint32_t definer) {
        IrInstruction& d = *instructions[definer];
        inst->predecessors[inst->predecessorCount++] = definer;
        d.successors[d.successorCount++] = i;
      });
    }
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (IrInstruction* inst = instructions[i]) {
      inst->predecessorCount = SortUnique(inst->predecessors, inst->predecessorCount);
      inst->successorCount = SortUnique(inst->successors, inst->successorCount);
    }
  }
  return S_OK;
}

void ShaderProgram::NumberValues() {
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = values[i]; v && v->renumber != i) v->renumber = i;  // a line left clean needs no write-back
}

void ShaderProgram::RenumberValueLinks() {
  auto renumber = [this](std::uint32_t& index) {
    const IrValue* v = values[index];
    index = v ? v->renumber : kNoIndex;
  };
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (IrValue* v = values[i]) {
      renumber(v->relativeIndex);
      renumber(v->predicate);
      renumber(v->alias);
      renumber(v->moveSource);
      renumber(v->indexValue);
    }
  }
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    if (IrInstruction* inst = instructions[i]) {
      std::for_each(inst->arguments, inst->arguments + inst->argumentCount, renumber);
      std::for_each(inst->results, inst->results + inst->resultCount, renumber);
    }
  }
}

}  // namespace gxl::shader
