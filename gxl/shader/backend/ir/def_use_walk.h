// What one instruction reads and writes as the use analysis counts it: the
// one walk behind ShaderProgram::RebuildDefUse and its incremental upkeep
// (def_use_upkeep.h), so that both count alike.
#pragma once

#include <algorithm>
#include <cstdint>

#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader::defuse {

// Calls, for the instruction at `position` (nothing for an empty one):
//   mention(raw)          each value index a read starts from or passes
//                         through, before its alias is resolved;
//   use(value, v)         each value read (an argument through its alias;
//                         along a relative index, each index value in turn);
//   relative(b, bank)     each relative read of a bank;
//   define(value, v)      each result, before the reads of its relative index.
template <class Mention, class Use, class Relative, class Define>
void VisitInstruction(const ShaderProgram& p, std::uint32_t position, Mention mention, Use use, Relative relative,
                      Define define) {
  const IrInstruction* inst = p.instructions[position];
  if (!inst || inst->word < 0x100000) return;
  auto read = [&](std::uint32_t index) {
    for (std::uint32_t steps = 0; index != kNoIndex && steps <= p.values.Count(); ++steps) {
      mention(index);
      const std::uint32_t resolved = p.ResolveAlias(index);
      IrValue* v = p.values[resolved];
      if (!v) return;
      use(resolved, *v);
      if (v->relativeIndex == kNoIndex) return;
      if (RegisterBank* bank = p.banks[v->bank]) relative(v->bank, *bank);
      index = v->relativeIndex;
    }
  };
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) read(inst->arguments[a]);
  for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
    const std::uint32_t index = inst->results[r];
    IrValue* v = p.values[index];
    if (!v) continue;
    define(index, *v);
    read(v->relativeIndex);
  }
}

inline void Widen(std::uint32_t& first, std::uint32_t& last, std::uint32_t position) {
  first = std::min(first, position);  // stores unconditionally: no branch to mispredict
  last = std::max(last, position);
}

// A relatively read array is live wherever any element is read relatively.
inline void WidenToRelativeWindow(const ShaderProgram& p, IrValue& v) {
  const RegisterBank* bank = p.banks[v.bank];
  if (bank && bank->relativeUseCount) {
    Widen(v.firstUse, v.lastUse, bank->firstRelativeUse);
    Widen(v.firstUse, v.lastUse, bank->lastRelativeUse);
  }
}

// Value `index`, when it aliases another, takes over the place and the
// definition of the value it stands for, and both are live over the union
// of their ranges (once the analysis of every value stands).
inline void MergeAlias(const ShaderProgram& p, std::uint32_t index) {
  IrValue* v = p.values[index];
  IrValue* target = v && v->alias != index ? p.values[v->alias] : nullptr;
  if (!target) return;
  v->bank = target->bank;
  v->reg = target->reg;
  v->component = target->component;
  v->definingPosition = target->definingPosition;
  v->earliestDefinition = target->earliestDefinition;
  v->latestDefinition = target->latestDefinition;
  v->firstUse = target->firstUse = std::min(v->firstUse, target->firstUse);
  v->lastUse = target->lastUse = std::max(v->lastUse, target->lastUse);
}

}  // namespace gxl::shader::defuse
