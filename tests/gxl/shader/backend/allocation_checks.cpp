#include "allocation_checks.h"

#include <algorithm>
#include <map>
#include <vector>

namespace irtest {

using namespace gxl::shader;

namespace {

struct Guard {
  std::uint32_t predicate, sense;
};

// The guard path of a point from the top: (predicate, sense) pairs, outermost first.
std::vector<Guard> PathOf(const ShaderProgram& p, Guard g) {
  std::vector<Guard> path;
  while (g.predicate != kNoIndex && path.size() <= p.values.Count()) {
    path.push_back(g);
    const IrValue* v = p.Value(g.predicate);
    if (!v) break;
    g = {v->predicate, v->predicateSense};
  }
  std::reverse(path.begin(), path.end());
  return path;
}

// Points on one path: at the first level where the paths part, they do not
// name the same predicate with opposite senses.
bool OnOnePath(const std::vector<Guard>& a, const std::vector<Guard>& b) {
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
    if (a[k].predicate != b[k].predicate) return true;
    if (a[k].sense != b[k].sense) return false;
  }
  return true;
}

bool Contains(const std::vector<Guard>& path, std::uint32_t predicate) {
  return std::any_of(path.begin(), path.end(), [&](const Guard& g) { return g.predicate == predicate; });
}

Guard GuardOfValue(const IrValue& v) { return {v.predicate, v.predicateSense}; }

// Where an instruction runs: under the guard of its first result.
Guard RunsUnder(const ShaderProgram& p, const IrInstruction& inst) {
  const IrValue* r = inst.resultCount ? p.Value(inst.results[0]) : nullptr;
  return r ? GuardOfValue(*r) : Guard{kNoIndex, 1};
}

bool ClosesBlock(std::uint32_t group) { return group == kOpIfMerge || group == kOpBreakMerge || group == kOpLoopEnd; }

bool Live(const IrInstruction* i) { return i && i->word >= 0x100000; }

}  // namespace

std::string TopologicalFault(const ShaderProgram& p) {
  std::map<std::uint32_t, std::uint32_t> definedAt;
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!Live(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) definedAt[inst->results[r]] = i;
  }
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!Live(inst)) continue;
    std::vector<std::uint32_t> reads;
    auto chain = [&](std::uint32_t v, std::uint32_t IrValue::*link) {
      for (std::uint32_t steps = 0; v != kNoIndex && steps < 64; ++steps) {
        reads.push_back(v);
        const IrValue* value = p.Value(v);
        v = value ? value->*link : kNoIndex;
      }
    };
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
      chain(p.ResolveAlias(inst->arguments[a]), &IrValue::relativeIndex);
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = p.Value(inst->results[r]);
      if (!v) continue;
      chain(v->relativeIndex, &IrValue::relativeIndex);
      chain(v->predicate, &IrValue::predicate);
    }
    for (std::uint32_t v : reads) {
      const auto it = definedAt.find(v);
      if (it != definedAt.end() && it->second >= i && it->second != i)
        return "instruction " + std::to_string(i) + " reads value " + std::to_string(v) + " defined at " +
               std::to_string(it->second);
    }
  }
  return "";
}

// The path a block end runs inside: its first argument's, since it closes the block.
std::vector<Guard> InnerPath(const ShaderProgram& p, const IrInstruction& inst) {
  const IrValue* a = ClosesBlock(inst.Group()) && inst.argumentCount ? p.Value(inst.arguments[0]) : nullptr;
  return PathOf(p, a ? GuardOfValue(*a) : RunsUnder(p, inst));
}

std::string RegionFault(const ShaderProgram& p, bool loopsOnly) {
  // Each block's opening and last position; an instruction whose result is
  // the block value opens it.
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> extent;
  std::vector<std::vector<Guard>> inner(p.instructions.Count());
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!Live(inst)) continue;
    inner[i] = InnerPath(p, *inst);
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (p.BankOf(*p.Value(inst->results[r]))->type & (loopsOnly ? kBankLoop : kBankBlockValues | kBankLoop))
        extent[inst->results[r]] = {i, i};
    for (const Guard& g : inner[i])
      if (extent.count(g.predicate)) extent[g.predicate].second = i;
  }
  for (const auto& [block, range] : extent)
    for (std::uint32_t i = range.first + 1; i < range.second; ++i)
      if (Live(p.Instruction(i)) && !Contains(inner[i], block))
        return "instruction " + std::to_string(i) + " stands inside the block of value " + std::to_string(block);
  return "";
}

std::string InterferenceFault(const ShaderProgram& p, std::uint32_t bank, std::uint32_t limit) {
  const std::uint32_t count = p.instructions.Count();
  // Guard paths of the points, and each loop's last point.
  std::vector<std::vector<Guard>> runs(count);
  std::map<std::uint32_t, std::uint32_t> loopEnd;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!Live(inst)) continue;
    runs[i] = PathOf(p, RunsUnder(p, *inst));
    for (const Guard& g : InnerPath(p, *inst))
      if (p.BankOf(*p.Value(g.predicate))->type & kBankLoop) loopEnd[g.predicate] = i;
  }
  // Definition and uses (position and the path the read is on) of each value of the bank.
  struct Use {
    std::uint32_t at;
    std::vector<Guard> path;
  };
  std::map<std::uint32_t, std::uint32_t> definedAt;
  std::map<std::uint32_t, std::vector<Use>> uses;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!Live(inst)) continue;
    auto read = [&](std::uint32_t v, const std::vector<Guard>& path) {
      for (std::uint32_t steps = 0; v != kNoIndex && steps < 64; ++steps) {
        v = p.ResolveAlias(v);
        const IrValue* value = p.Value(v);
        if (!value) return;
        if (value->bank == bank) uses[v].push_back({i, path});
        v = value->relativeIndex;
      }
    };
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const IrValue* v = p.Value(inst->arguments[a]);
      read(inst->arguments[a], ClosesBlock(inst->Group()) && v ? PathOf(p, GuardOfValue(*v)) : runs[i]);
    }
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = p.Value(inst->results[r]);
      if (!v) continue;
      read(v->relativeIndex, runs[i]);
      read(v->predicate, runs[i]);
      if (v->bank == bank) definedAt[inst->results[r]] = i;
    }
  }
  // A use within a loop's run of instructions of a value defined before the
  // loop holds it to the loop's end: whatever stands there runs on every
  // iteration.
  std::map<std::uint32_t, std::uint32_t> loopBegin;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction* inst = p.Instruction(i);
    for (std::uint32_t r = 0; Live(inst) && r < inst->resultCount; ++r)
      if (loopEnd.count(inst->results[r])) loopBegin[inst->results[r]] = i;
  }
  for (auto& [v, list] : uses) {
    const auto d = definedAt.find(v);
    if (d == definedAt.end()) continue;
    std::vector<Use> extra;
    for (const Use& u : list)
      for (const auto& [loop, begin] : loopBegin)
        if (d->second < begin && begin < u.at && u.at <= loopEnd[loop])
          extra.push_back({loopEnd[loop], PathOf(p, {loop, 1})});
    list.insert(list.end(), extra.begin(), extra.end());
  }

  // Values by their place.
  std::map<std::uint64_t, std::vector<std::uint32_t>> byPlace;
  for (std::uint32_t v = 0; v < p.values.Count(); ++v) {
    const IrValue* value = p.Value(v);
    if (!value || value->bank != bank || value->alias != kNoIndex) continue;
    if (!definedAt.count(v) && !uses.count(v)) continue;
    if (value->reg >= limit || value->component > 3)
      return "value " + std::to_string(v) + " in register " + std::to_string(value->reg) + "." +
             std::to_string(value->component) + " outside the limit " + std::to_string(limit);
    byPlace[std::uint64_t{value->reg} * 4 + value->component].push_back(v);
  }
  // Needed after point i on the path of i: defined at or before i on that
  // path and read later on it.
  auto neededAfter = [&](std::uint32_t v, std::uint32_t i) {
    const auto d = definedAt.find(v);
    if (d != definedAt.end() && (d->second > i || !OnOnePath(runs[d->second], runs[i]))) return false;
    const auto u = uses.find(v);
    if (u == uses.end()) return false;
    return std::any_of(u->second.begin(), u->second.end(),
                       [&](const Use& use) { return use.at > i && OnOnePath(use.path, runs[i]); });
  };
  for (const auto& [place, list] : byPlace) {
    if (list.size() < 2) continue;
    for (std::uint32_t w : list) {
      const auto d = definedAt.find(w);
      if (d == definedAt.end()) continue;
      for (std::uint32_t v : list)
        if (v != w && neededAfter(v, d->second))
          return "value " + std::to_string(w) + " written at " + std::to_string(d->second) + " over value " +
                 std::to_string(v) + " in register " + std::to_string(place / 4) + "." + std::to_string(place % 4);
    }
  }
  return "";
}

}  // namespace irtest
