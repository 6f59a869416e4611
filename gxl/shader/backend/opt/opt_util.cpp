#include "gxl/shader/backend/opt/opt_util.h"

#include <algorithm>

namespace gxl::shader::opt {

std::uint32_t Root(const ShaderProgram& p, std::uint32_t value) {
  const std::uint32_t* const map[2] = {&value, &value};
  return p.FindRenumberedRoot(map, 0, 0, 0);
}

void Redirect(ShaderProgram& p, std::uint32_t value, std::uint32_t target) {
  const std::uint32_t root = Root(p, target);
  if (IrValue* v = p.values[value]; v && root != value) v->renumber = root;
}

void ForwardRedirections(ShaderProgram& p) {
  // Roots first, so that every link below takes one step.
  bool redirected = false;
  for (std::uint32_t i = 0; i < p.values.Count(); ++i) {
    if (IrValue* v = p.values[i]) {
      // Most values are their own root: no chain to follow, and their lines stay clean.
      const std::uint32_t root = v->renumber == i ? i : Root(p, i);
      if (v->renumber != root) v->renumber = root;
      redirected |= root != i;
    }
  }
  // Every value its own root: the links stay and the numbering stands.
  if (!redirected) return;
  auto forward = [&p](std::uint32_t& index) {
    if (const IrValue* v = p.values[index]) index = v->renumber;
  };
  for (std::uint32_t i = 0; i < p.values.Count(); ++i) {
    if (IrValue* v = p.values[i]) {
      forward(v->relativeIndex);
      forward(v->predicate);
      forward(v->alias);
    }
  }
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    if (IrInstruction* inst = p.instructions[i])
      std::for_each(inst->arguments, inst->arguments + inst->argumentCount, forward);
  }
  p.NumberValues();
}

namespace {

// The guard one step further out: the guard of the predicate value itself.
Guard Outer(const ShaderProgram& p, Guard g) {
  const IrValue* v = p.values.Peek(g.predicate);
  return v ? GuardOf(*v) : Guard{};
}

}  // namespace

Guard CommonGuard(const ShaderProgram& p, Guard a, Guard b) {
  // Chains are as deep as the nesting of blocks; a cycle ends at the bound.
  const std::uint32_t bound = p.values.Count() + 1;
  for (std::uint32_t i = 0; i < bound; ++i, a = Outer(p, a)) {
    Guard c = b;
    for (std::uint32_t j = 0; j < bound; ++j, c = Outer(p, c)) {
      if (c == a) return a;
      if (c.predicate == kNoIndex) break;
    }
    if (a.predicate == kNoIndex) break;
  }
  return Guard{};
}

std::unique_ptr<bool[]> ComponentFlags(const ShaderProgram& p) {
  std::uint32_t widest = 0;
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position)
    if (const IrInstruction* inst = p.instructions.Peek(position)) widest = std::max(widest, inst->Width());
  return NewArray<bool>(widest);
}

bool KeepComponents(IrInstruction& i, const bool* keep) {
  const std::uint32_t width = i.Width();
  const std::uint32_t groups = width ? i.argumentCount / width : 0;
  std::uint32_t kept = 0;
  for (std::uint32_t k = 0; k < width; ++k) kept += keep[k] ? 1 : 0;
  if (kept == width) return false;
  if (kept == 0) {
    Empty(i);
    return true;
  }
  // Moving entries down in place: each target slot is at or before its source.
  for (std::uint32_t g = 0; g < groups; ++g) {
    std::uint32_t out = g * kept;
    for (std::uint32_t k = 0; k < width; ++k)
      if (keep[k]) i.arguments[out++] = i.arguments[g * width + k];
  }
  std::uint32_t out = 0;
  for (std::uint32_t k = 0; k < width; ++k)
    if (keep[k]) i.results[out++] = i.results[k];
  i.word = IrWord(i.Group(), kept);
  i.argumentCount = groups * kept;
  i.resultCount = kept;
  return true;
}

std::uint32_t ResultSlot(const IrInstruction& i, std::uint32_t value) {
  for (std::uint32_t r = 0; r < i.resultCount; ++r)
    if (i.results[r] == value) return r;
  return kNoIndex;
}

}  // namespace gxl::shader::opt
