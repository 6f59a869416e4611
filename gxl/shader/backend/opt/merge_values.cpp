// Merging of equal values: duplicate literals and duplicate reads of bound
// registers, and equal components inside one instruction.
#include <cmath>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

// Merges every run of `list` (sorted) whose elements compare equal into its
// element of lowest index; `merge` (survivor, other) adjusts the survivor.
// True when anything merged.
template <class Merge>
bool MergeRuns(ShaderProgram& p, std::uint32_t* list, std::uint32_t count, IndexComparator compare, Merge merge) {
  bool merged = false;
  for (std::uint32_t start = 0, end; start < count; start = end) {
    std::uint32_t survivor = list[start];
    for (end = start + 1; end < count && compare(list[start], list[end], &p) == 0; ++end)
      survivor = std::min(survivor, list[end]);
    for (std::uint32_t i = start; i < end; ++i) {
      if (list[i] == survivor) continue;
      merge(survivor, list[i]);
      opt::Redirect(p, list[i], survivor);
      opt::Discard(p, list[i]);
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
  auto list = opt::NewArray<std::uint32_t>(values.Count());
  if (!list) return E_OUTOFMEMORY;
  NumberValues();

  // Literals of one bank and value. A NaN equals nothing, not even itself.
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (opt::MergesAsLiteral(*this, i)) list[count++] = i;
  SortIndicesByComparator(CompareLiteralValues, list.get(), count, this);
  bool changed = MergeRuns(*this, list.get(), count, CompareLiteralValues, [](std::uint32_t, std::uint32_t) {});

  // Reads of one register of a bound bank (of any bank once registers are
  // assigned) under one guard. A value without a register names no register.
  count = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (opt::MergesAsRegisterRead(*this, i)) list[count++] = i;
  SortIndicesByComparator(CompareValueKeys, list.get(), count, this);
  changed |= MergeRuns(*this, list.get(), count, CompareValueKeys,
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
