// Merging of equal values: duplicate literals and duplicate reads of bound
// registers, and equal components inside one instruction.
#include <algorithm>
#include <cmath>

#include "gxl/shader/backend/ir/heap_sort.h"
#include "gxl/shader/backend/ir/value_keys.h"
#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

// Sorts `keys` (taken from the values once, so that the sort's comparisons
// read one array instead of a record each; the same heap sort and order as
// the comparators', so the runs and the order within them are theirs), then
// merges every run that compares equal into its element of lowest index;
// `merge` (survivor, other) adjusts the survivor. True when anything merged.
template <class Key, class Merge>
bool MergeRuns(ShaderProgram& p, Key* keys, std::uint32_t count, Merge merge) {
  HeapSortBy(keys, count, [](const Key& a, const Key& b) { return a.Compare(b); });
  bool merged = false;
  for (std::uint32_t start = 0, end; start < count; start = end) {
    std::uint32_t survivor = keys[start].index;
    for (end = start + 1; end < count && keys[start].Compare(keys[end]) == 0; ++end)
      survivor = std::min(survivor, keys[end].index);
    for (std::uint32_t i = start; i < end; ++i) {
      if (keys[i].index == survivor) continue;
      merge(survivor, keys[i].index);
      opt::Redirect(p, keys[i].index, survivor);
      opt::Discard(p, keys[i].index);
      merged = true;
    }
  }
  return merged;
}

}  // namespace

bool opt::MergesAsLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  const std::uint32_t type = opt::BankTypeOf(p, value);
  return v && v->bank != p.StandardBankIndex(StandardBank::Undefined) && (type & kBankLiteral) &&
         !(type & (kBankRelative | kBankKeepValues)) && v->relativeIndex == kNoIndex && !std::isnan(v->rangeLow);
}

bool opt::MergesAsRegisterRead(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(value);
  return v && v->bank != p.StandardBankIndex(StandardBank::Undefined) &&
         (p.registerTableFlag || (opt::BankTypeOf(p, value) & kBankBound)) && v->reg != kNoIndex &&
         v->component != kNoIndex;
}

void opt::MergeRegisterRead(ShaderProgram& p, std::uint32_t keep, std::uint32_t other) {
  IrValue &s = *p.values[keep], &o = *p.values[other];
  const opt::Guard common = opt::CommonGuard(p, opt::GuardOf(s), opt::GuardOf(o));
  s.predicate = common.predicate;
  s.predicateSense = common.sense;
  opt::TakeOver(s, o);
}

HRESULT ShaderProgram::MergeDuplicateValues() {
  PodArray<LiteralKey> literals;
  PodArray<ReadKey> reads;
  NumberValues();

  // Literals of one bank and value. A NaN equals nothing, not even itself.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (!opt::MergesAsLiteral(*this, i)) continue;
    if (!literals.Append(LiteralKey::Of(*values.Peek(i), i))) return E_OUTOFMEMORY;
  }
  bool changed = MergeRuns(*this, literals.Data(), static_cast<std::uint32_t>(literals.Size()),
                           [](std::uint32_t, std::uint32_t) {});

  // Reads of one register of a bound bank (of any bank once registers are
  // assigned) under one guard. A value without a register names no register.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (!opt::MergesAsRegisterRead(*this, i)) continue;
    if (!reads.Append(ReadKey::Of(*values.Peek(i), i))) return E_OUTOFMEMORY;
  }
  changed |= MergeRuns(*this, reads.Data(), static_cast<std::uint32_t>(reads.Size()),
                       [this](std::uint32_t keep, std::uint32_t other) { opt::MergeRegisterRead(*this, keep, other); });

  if (changed) opt::ForwardRedirections(*this);
  return changed ? S_OK : S_FALSE;
}

bool opt::MergeComponentsAt(ShaderProgram& p, std::uint32_t position, bool* keep) {
  auto leftAlone = [&p](std::uint32_t value) {
    return (opt::BankTypeOf(p, value) & (kBankBlockMoves | kBankOutput)) || !opt::Replaceable(p, value);
  };
  IrInstruction* inst = p.instructions[position];
  if (opt::IsEmpty(inst) || !inst->IsArithmetic()) return false;
  const std::uint32_t width = inst->Width(), groups = inst->Class();
  const bool swappable = groups == 2 && opt::IsCommutative(inst->Group());
  auto column = [&](std::uint32_t g, std::uint32_t k) { return opt::Root(p, opt::Column(*inst, g, k)); };
  auto sameColumns = [&](std::uint32_t j, std::uint32_t k) {
    bool same = true;
    for (std::uint32_t g = 0; g < groups && same; ++g) same = column(g, j) == column(g, k);
    return same || (swappable && column(0, j) == column(1, k) && column(1, j) == column(0, k));
  };
  for (std::uint32_t k = 0; k < width; ++k) {
    keep[k] = true;
    const std::uint32_t rk = inst->results[k];
    if (leftAlone(rk)) continue;
    for (std::uint32_t j = 0; j < k; ++j) {
      const std::uint32_t rj = inst->results[j];
      if (!keep[j] || leftAlone(rj) || !(opt::GuardOf(*p.values[rj]) == opt::GuardOf(*p.values[rk])) ||
          !sameColumns(j, k))
        continue;
      opt::Redirect(p, rk, rj);
      keep[k] = false;
      break;
    }
  }
  return opt::KeepComponents(*inst, keep);
}

HRESULT ShaderProgram::MergeDuplicateComponents() {
  NumberValues();
  auto keep = opt::ComponentFlags(*this);
  if (!keep) return E_OUTOFMEMORY;
  bool changed = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    changed |= opt::MergeComponentsAt(*this, position, keep.get());
  if (changed) opt::ForwardRedirections(*this);
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
