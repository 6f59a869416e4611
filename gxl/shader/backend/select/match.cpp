// The matcher of the selection patterns. All of its state lives on the stack:
// a match either succeeds whole or leaves the caller's list and captures as
// they were. Which instruction defines an argument, and who reads a result,
// come from the use analysis (ShaderTarget::ResetSelectionState).
#include <algorithm>

#include "gxl/shader/backend/select/expression_pattern.h"

namespace gxl::shader {

namespace {

// The class 7 minimum and maximum are the same operations as the class 2
// ones, with the same operand layout.
std::uint32_t CanonicalGroup(std::uint32_t group) {
  if (group == 0x70B) return 0x200;
  if (group == 0x70C) return 0x201;
  return group;
}

std::uint32_t DefinerOf(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values.Peek(p.ResolveAlias(value));
  return v ? v->definingPosition : kNoIndex;
}

// Every read of a result of the listed instructions is made by the listed
// instructions or by `root`, and no capture stands for such a result.
bool Exclusive(const ShaderProgram& p, const MatchedList& list, std::uint32_t root, const Captures& a,
               const Captures& b) {
  std::uint32_t readers[kMaxMatched + 1];
  std::copy(list.position, list.position + list.count, readers);
  readers[list.count] = root;
  for (std::uint32_t i = 0; i < list.count; ++i) {
    const IrInstruction* x = p.instructions.Peek(list.position[i]);
    for (std::uint32_t r = 0; x && r < x->resultCount; ++r) {
      const IrValue* v = p.values.Peek(p.ResolveAlias(x->results[r]));
      if (v && CountReadsAt(p, x->results[r], readers, list.count + 1) != v->useCount) return false;
    }
  }
  for (const Captures* c : {&a, &b})
    for (std::uint32_t k = 0; k < kCaptureSlots; ++k)
      for (std::uint32_t e : c->slot[k]) {
        if (e == kNoIndex) continue;
        const IrValue* v = p.values.Peek(e);
        if (list.Contains(v ? v->definingPosition : kNoIndex) || list.Contains(DefinerOf(p, e))) return false;
      }
  return true;
}

struct Attempt {
  const ShaderProgram& p;
  std::uint32_t position;
  const IrInstruction& inst;
  const ExpressionPattern* record;
  const ComponentMap& map;
  std::uint32_t maxWidth;
  bool relaxed;
  bool exclusive;

  // One attempt with the operand descriptors in `specs`.
  bool Run(const std::uint32_t* specs, MatchedList& list, Captures& local, Captures& children) const {
    const std::uint32_t n = inst.Width();
    for (std::uint32_t k = 0; k < record->operandCount; ++k) {
      if (map.entry[0] >= 4 || (k + 1) * n > inst.argumentCount) return false;
      const std::uint32_t* group = inst.arguments + k * n;
      const std::uint32_t spec = specs[k];
      if (spec >= kCaptureBase) {
        if (spec - kCaptureBase >= kCaptureSlots) return false;
        for (std::uint32_t c = 0; c < 4; ++c)
          local.slot[spec - kCaptureBase][c] = map.entry[c] < n ? group[map.entry[c]] : kNoIndex;
        continue;
      }
      if (map.entry[0] >= n || spec < record->node) return false;
      const ExpressionPattern* child = record + (spec - record->node);
      const std::uint32_t def = DefinerOf(p, group[map.entry[0]]);
      const IrInstruction* c = def != kNoIndex ? p.instructions.Peek(def) : nullptr;
      if (!c || def == position) return false;
      ComponentMap childMap;
      if (MatchOperandComponents(p, *c, group, n, map, childMap, child->binding, relaxed) != S_OK) return false;
      if (MatchExpressionPattern(p, def, child, list, children, childMap, maxWidth, relaxed) != S_OK) return false;
    }
    // Leaves: no captured argument may be computed inside the match.
    for (std::uint32_t k = 0; k < record->operandCount; ++k) {
      if (specs[k] < kCaptureBase) continue;
      for (std::uint32_t i = 0; i < n; ++i)
        if (list.Contains(DefinerOf(p, inst.arguments[k * n + i]))) return false;
    }
    return !exclusive || Exclusive(p, list, position, local, children);
  }
};

}  // namespace

void Captures::Clear() { std::fill(&slot[0][0], &slot[0][0] + kCaptureSlots * 4, kNoIndex); }

bool MatchedList::Contains(std::uint32_t p) const {
  return p != kNoIndex && std::find(position, position + count, p) != position + count;
}

bool ListsIntersect(const std::uint32_t* a, std::uint32_t countA, const std::uint32_t* b, std::uint32_t countB) {
  for (std::uint32_t i = 0; i < countA; ++i)
    if (std::find(b, b + countB, a[i]) != b + countB) return true;
  return false;
}

std::uint32_t CountReadsAt(const ShaderProgram& p, std::uint32_t value, const std::uint32_t* positions,
                           std::uint32_t count) {
  const std::uint32_t target = p.ResolveAlias(value);
  std::uint32_t reads = 0;
  // A read of `index` reads it and, along its relative index, each value that addresses it.
  auto chain = [&](std::uint32_t index) {
    for (std::uint32_t steps = 0; index != kNoIndex && steps <= p.values.Count(); ++steps) {
      const std::uint32_t resolved = p.ResolveAlias(index);
      const IrValue* v = p.values.Peek(resolved);
      if (!v) return;
      reads += resolved == target;
      index = v->relativeIndex;
    }
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction* inst = p.instructions.Peek(positions[i]);
    if (!inst || inst->word < 0x100000) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) chain(inst->arguments[a]);
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (const IrValue* v = p.values.Peek(inst->results[r])) chain(v->relativeIndex);
  }
  return reads;
}

HRESULT MatchOperandComponents(const ShaderProgram& p, const IrInstruction& child, const std::uint32_t* group,
                               std::uint32_t width, const ComponentMap& parentMap, ComponentMap& childMap,
                               std::uint32_t binding, bool relaxed) {
  auto reads = [&](std::uint32_t argument, std::uint32_t result) {
    const IrValue* a = p.values.Peek(argument);
    return a && (argument == result || a->alias == result) && a->binding == binding;
  };
  if (child.Group() == kOpDot || child.Group() == 0x708) {
    if (child.resultCount == 0) return S_FALSE;
    for (std::uint32_t i = 0; i < width; ++i)
      if (!reads(group[i], child.results[0])) return S_FALSE;
    for (std::uint32_t c = 0; c < 4; ++c) childMap.entry[c] = c < child.Width() ? c : kNoComponent;
    return S_OK;
  }
  std::uint8_t recorded[4] = {kNoComponent, kNoComponent, kNoComponent, kNoComponent};
  bool used[IrInstruction::kInlineResults * 4] = {};
  if (child.resultCount > std::size(used) || width > 4) return S_FALSE;
  for (std::uint32_t i = 0; i < width; ++i) {
    if (relaxed && std::find(parentMap.entry, parentMap.entry + 4, i) == parentMap.entry + 4) continue;
    std::uint32_t j = 0;
    while (j < child.resultCount && !reads(group[i], child.results[j])) ++j;
    if (j == child.resultCount) return S_FALSE;
    recorded[i] = static_cast<std::uint8_t>(j);
    used[j] = true;
  }
  if (!relaxed && child.Width())
    for (std::uint32_t j = 0; j < child.resultCount; ++j)
      if (!used[j]) return S_FALSE;
  for (std::uint32_t c = 0; c < 4; ++c)
    childMap.entry[c] = parentMap.entry[c] < 4 ? recorded[parentMap.entry[c]] : kNoComponent;
  return S_OK;
}

HRESULT MatchExpressionPattern(const ShaderProgram& p, std::uint32_t position, const ExpressionPattern* record,
                               MatchedList& list, Captures& captures, const ComponentMap& map, std::uint32_t maxWidth,
                               bool relaxed) {
  const IrInstruction* inst = p.instructions.Peek(position);
  if (!inst || inst->word < 0x100000 || !record || record->operandCount > 3) return S_FALSE;
  if (CanonicalGroup(inst->Group()) != record->operation >> 20) return S_FALSE;
  if (list.count + 1 > kMaxMatched) return S_FALSE;
  const bool root = record->node == 0;
  const std::uint32_t passes = root && relaxed ? 2 : 1;
  for (std::uint32_t pass = 0; pass < passes; ++pass) {
    const bool relaxedPass = passes == 2 ? pass == 1 : relaxed;
    if (!relaxedPass && inst->Width() > maxWidth) continue;
    const Attempt attempt{p, position, *inst, record, map, maxWidth, relaxedPass, root && pass == 0};
    for (std::uint32_t s = 0; s <= record->swapCount && s < 2; ++s) {
      std::uint32_t specs[3] = {record->operand[0], record->operand[1], record->operand[2]};
      if (s == 1) std::swap(specs[0], specs[1]);
      MatchedList tried = list;
      Captures local, children;
      local.Clear();
      children.Clear();
      if (!attempt.Run(specs, tried, local, children)) continue;
      // A shared child matched by two nodes is listed once.
      if (!tried.Contains(position)) tried.position[tried.count++] = position;
      list = tried;
      for (std::uint32_t k = 0; k < kCaptureSlots; ++k)
        for (std::uint32_t c = 0; c < 4; ++c) {
          if (local.slot[k][c] != kNoIndex)
            captures.slot[k][c] = local.slot[k][c];
          else if (children.slot[k][c] != kNoIndex)
            captures.slot[k][c] = children.slot[k][c];
        }
      return S_OK;
    }
  }
  return S_FALSE;
}

}  // namespace gxl::shader
