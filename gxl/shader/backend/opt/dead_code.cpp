// Dead-code removal over components, and the two compactions that drop
// emptied instructions and values nobody defines or reads.
#include <algorithm>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

constexpr std::uint8_t kDead = 0;
constexpr std::uint8_t kThroughMerge = 1;  // needed only by a loop merge, so far
constexpr std::uint8_t kLive = 2;

class Liveness {
 public:
  Liveness(ShaderProgram& p, std::uint8_t* level) : m_p(p), m_level(level) {}

  // Raises a value, the values on its relative-index and predicate chains
  // and the value it aliases, to `to`; true when anything rose.
  // Whatever stands at a level has had both its chains and its alias raised
  // to it, so a walk ends at the first value already there (the reference
  // path walks every chain to its end).
  bool Raise(std::uint32_t value, std::uint8_t to) {
    const bool full = m_p.referenceSearches;
    if (!full && m_p.values[value] && m_level[value] >= to) return false;
    bool rose = false;
    for (std::uint32_t IrValue::*link : {&IrValue::relativeIndex, &IrValue::predicate}) {
      std::uint32_t index = value;
      for (std::uint32_t steps = 0; index != kNoIndex && steps <= m_p.values.Count(); ++steps) {
        const IrValue* v = m_p.values[index];
        if (!v) break;
        if (!full && steps > 0 && m_level[index] >= to) break;
        if (m_level[index] < to) {
          m_level[index] = to;
          rose = true;
          // The other chain of a value reached along this one.
          if (link == &IrValue::predicate) Raise(v->relativeIndex, to);
          if (link == &IrValue::relativeIndex && index != value) Raise(v->predicate, to);
          // A value that reads another register's contents (an alias, left by
          // a folded source modifier) keeps that value alive too.
          if (v->alias != kNoIndex && v->alias != index) Raise(v->alias, to);
        }
        index = v->*link;
      }
    }
    return rose;
  }

  std::uint8_t Level(std::uint32_t value) const { return m_p.values[value] ? m_level[value] : kDead; }

  // One walk from the last instruction to the first.
  void WalkBackwards() {
    for (std::uint32_t position = m_p.instructions.Count(); position-- > 0;) {
      const IrInstruction* inst = m_p.instructions[position];
      if (opt::IsEmpty(inst)) continue;
      if (inst->IsArithmetic()) {
        const std::uint32_t width = inst->Width(), groups = width ? inst->argumentCount / width : 0;
        for (std::uint32_t k = 0; k < width && k < inst->resultCount; ++k) {
          const std::uint8_t level = Level(inst->results[k]);
          if (level == kDead) continue;
          Raise(inst->results[k], level);
          for (std::uint32_t g = 0; g < groups; ++g) Raise(opt::Column(*inst, g, k), level);
        }
      } else {
        std::uint8_t level = kDead;
        for (std::uint32_t r = 0; r < inst->resultCount; ++r) level = std::max(level, Level(inst->results[r]));
        if (level == kDead) continue;
        for (std::uint32_t r = 0; r < inst->resultCount; ++r) Raise(inst->results[r], level);
        for (std::uint32_t a = 0; a < inst->argumentCount; ++a) Raise(inst->arguments[a], level);
      }
    }
  }

  // A loop carries its values through four instructions the IR does not
  // link: the entry (0x112) takes, from the second iteration on, what the
  // loop end (0x115) reads. A component stays in all four when it is live in
  // any, so the entry and the end keep one width; this also lets a loop merge
  // result take the liveness of the entry value it feeds. True when anything rose.
  bool AlignLoops() {
    bool rose = false;
    for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
      const IrInstruction* end = m_p.instructions[position];
      if (opt::IsEmpty(end) || end->Group() != kOpLoopEnd) continue;
      for (std::uint32_t k = 0; k < end->resultCount && k < end->argumentCount; ++k) {
        std::uint32_t chain[4];
        opt::CarriedGroup(*end, k, [&](std::uint32_t v, std::uint32_t g) { return Definer(v, g); }, chain);
        if (!std::any_of(std::begin(chain), std::end(chain),
                         [&](std::uint32_t v) { return v != kNoIndex && Level(v) == kLive; }))
          continue;
        for (std::uint32_t v : chain)
          if (v != kNoIndex) rose |= Raise(v, kLive);
      }
    }
    return rose;
  }

 private:
  const IrInstruction* Definer(std::uint32_t value, std::uint32_t group) const {
    const IrValue* v = m_p.values[value];
    const IrInstruction* d = v ? m_p.instructions[v->definingPosition] : nullptr;
    return d && !opt::IsEmpty(d) && d->Group() == group ? d : nullptr;
  }

  ShaderProgram& m_p;
  std::uint8_t* m_level;
};

}  // namespace

HRESULT ShaderProgram::RemoveDeadCode() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  auto level = opt::NewArray<std::uint8_t>(values.Count());
  if (!level) return E_OUTOFMEMORY;
  Liveness live(*this, level.get());
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (opt::BankTypeOf(*this, i) & (kBankOutput | kBankClip)) live.Raise(i, kLive);
  bool throughMerge = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    const IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst) || !inst->IsLoopMerge()) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) throughMerge |= live.Raise(inst->results[r], kThroughMerge);
  }
  do {
    live.WalkBackwards();
  } while (throughMerge && live.AlignLoops());

  auto keep = opt::ComponentFlags(*this);
  if (!keep) return E_OUTOFMEMORY;
  bool changed = false;
  auto isLive = [&live](std::uint32_t value) { return live.Level(value) == kLive; };
  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    changed |= opt::RemoveDeadAt(instructions[position], keep.get(), isLive);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    if (live.Level(i) == kLive) continue;  // before the node: most are live, and each is a cache miss
    changed |= opt::DiscardDead(*this, i);
  }
  return changed ? S_OK : S_FALSE;
}

bool opt::DiscardDead(ShaderProgram& p, std::uint32_t value) {
  const std::uint32_t undefined = p.StandardBankIndex(StandardBank::Undefined);
  IrValue* v = p.values[value];
  if (!v || v->bank == undefined) return false;
  const std::uint32_t type = opt::BankTypeOf(p, value);
  if ((v->relativeIndex == kNoIndex && (type & kBankRelative)) ||
      (type & (kBankLiteral | kBankKeepValues)) == (kBankLiteral | kBankKeepValues))
    return false;
  v->bank = undefined;
  return true;
}

HRESULT ShaderProgram::CompactInstructions() {
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction*& slot = instructions.Slot(i);
    if (opt::IsEmpty(slot)) {
      delete slot;
      slot = nullptr;
    } else {
      std::swap(instructions.Slot(kept++), slot);
    }
  }
  const bool removed = kept != instructions.Count();
  instructions.Truncate(kept);
  return removed ? S_OK : S_FALSE;
}

HRESULT ShaderProgram::RemoveUnusedValues() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  bool changed = false;
  for (std::uint32_t b = 0; b < banks.Count(); ++b) {
    RegisterBank* bank = banks[b];
    if (bank && (bank->type & kBankRelative) && bank->relativeUseCount == 0) {
      bank->type &= ~kBankRelative;
      changed = true;
    }
  }

  const std::uint32_t count = values.Count();
  auto keep = opt::NewArray<bool>(count);
  auto pending = opt::NewArray<std::uint32_t>(count);
  if (!keep || !pending) return E_OUTOFMEMORY;
  std::uint32_t top = 0;
  auto mark = [&](std::uint32_t i) {
    if (i < count && values[i] && !keep[i]) {
      keep[i] = true;
      pending[top++] = i;
    }
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrValue* v = values[i];
    const std::uint32_t type = opt::BankTypeOf(*this, i);
    // A table of literals read through relative indexes keeps every entry:
    // the reads name none of them.
    const bool table = (type & (kBankLiteral | kBankRelative)) == (kBankLiteral | kBankRelative) &&
                       v && v->relativeIndex == kNoIndex;
    if (v && (v->useCount || v->definingPosition != kNoIndex || table ||
              (type & (kBankLiteral | kBankKeepValues)) == (kBankLiteral | kBankKeepValues)))
      mark(i);
  }
  // Reads through an alias count as uses of the value it stands for: what a
  // live instruction names stays in any case.
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = instructions[i];
    if (opt::IsEmpty(inst)) continue;
    for (std::uint32_t k = 0; k < inst->argumentCount; ++k) mark(inst->arguments[k]);
  }
  // What a kept value links to stays too.
  while (top) {
    const IrValue* v = values[pending[--top]];
    mark(v->relativeIndex);
    mark(v->predicate);
    mark(v->alias);
  }

  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < count; ++i)
    if (IrValue* v = values[i]) {
      const std::uint32_t to = keep[i] ? next++ : kNoIndex;
      if (v->renumber != to) v->renumber = to;  // mostly numbered so already: the line stays clean
    }
  if (next == count) return changed ? S_OK : S_FALSE;
  RenumberValueLinks();
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    IrValue*& slot = values.Slot(i);
    if (keep[i]) {
      std::swap(values.Slot(kept++), slot);
    } else {
      delete slot;
      slot = nullptr;
    }
  }
  values.Truncate(kept);
  return S_OK;
}

}  // namespace gxl::shader
