// Predicate chains as the scheduler and the register assignment read them:
// an instruction's guard, the region of a guard in the instruction order,
// and whether a point lies inside a region. A chain runs from a value to its
// predicate, that predicate's predicate and so on; walks are bounded by the
// value count, so a malformed cycle ends.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader::alloc {

// The predicate of a value (kNoIndex for none or a missing value).
inline std::uint32_t PredicateOf(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return v ? v->predicate : kNoIndex;
}

// The guard an instruction runs under: its first result when that is a
// predicate itself, else the first result's predicate; the block ends (if
// and break merges, loop ends) take their first argument's, since they close
// the block. kNoIndex for none.
std::uint32_t InstructionGuard(const ShaderProgram& p, const IrInstruction& inst);

// Number of predicates from `predicate` outward (0 for kNoIndex).
std::uint32_t GuardDepth(const ShaderProgram& p, std::uint32_t predicate);

// True when the chain of `value` meets `predicate` through sense `sense`:
// the point lies in that region (kNoIndex: the top level).
bool InRegion(const ShaderProgram& p, std::uint32_t value, std::uint32_t predicate, std::uint32_t sense);

// Block and loop values are read by no instruction, only named as guards.
// After RebuildDefUse, each predicate's last use becomes at least the
// position of the last instruction it guards, directly or through nested
// blocks, so that its live range is its region.
void ExtendGuardRanges(ShaderProgram& p);

}  // namespace gxl::shader::alloc
