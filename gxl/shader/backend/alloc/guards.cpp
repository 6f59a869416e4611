#include "gxl/shader/backend/alloc/guards.h"

#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace alloc {

std::uint32_t InstructionGuard(const ShaderProgram& p, const IrInstruction& inst) {
  const std::uint32_t g = inst.Group();
  if ((g == kOpIfMerge || g == kOpBreakMerge || g == kOpLoopEnd) && inst.argumentCount)
    return PredicateOf(p, inst.arguments[0]);
  if (inst.resultCount == 0) return kNoIndex;
  const std::uint32_t first = inst.results[0];
  if (BankTypeOf(p, first) & kBankPredicate) return first;
  return PredicateOf(p, first);
}

std::uint32_t GuardDepth(const ShaderProgram& p, std::uint32_t predicate) {
  std::uint32_t depth = 0;
  for (const std::uint32_t bound = p.values.Count(); predicate != kNoIndex && depth <= bound; ++depth) {
    const IrValue* v = p.values[predicate];
    if (!v) break;
    predicate = v->predicate;
  }
  return depth;
}

bool InRegion(const ShaderProgram& p, std::uint32_t value, std::uint32_t predicate, std::uint32_t sense) {
  for (std::uint32_t steps = 0, bound = p.values.Count(); steps <= bound; ++steps) {
    const IrValue* v = p.values[value];
    if (!v) return false;
    if (v->predicate == predicate) return v->predicateSense == sense;
    if (v->predicate == kNoIndex) return false;
    value = v->predicate;
  }
  return false;
}

void ExtendGuardRanges(ShaderProgram& p) {
  for (std::uint32_t position = 0; position < p.instructions.Count(); ++position) {
    const IrInstruction* inst = p.instructions[position];
    if (IsEmpty(inst)) continue;
    std::uint32_t guard = InstructionGuard(p, *inst);
    for (std::uint32_t steps = 0, bound = p.values.Count(); guard != kNoIndex && steps <= bound; ++steps) {
      IrValue* v = p.values[guard];
      if (!v) break;
      // RebuildDefUse leaves an unread value's last use at 0.
      v->lastUse = std::max(v->lastUse, position);
      guard = v->predicate;
    }
  }
}

}  // namespace alloc

std::uint32_t ShaderProgram::ArmsExclusive(std::uint32_t a, std::uint32_t senseA, std::uint32_t b,
                                           std::uint32_t senseB) const {
  std::uint32_t depthA = alloc::GuardDepth(*this, a), depthB = alloc::GuardDepth(*this, b);
  auto lift = [this](std::uint32_t& predicate, std::uint32_t& sense) {
    const IrValue* v = values[predicate];
    sense = v ? v->predicateSense : 1;
    predicate = v ? v->predicate : kNoIndex;
  };
  for (; depthA > depthB; --depthA) lift(a, senseA);
  for (; depthB > depthA; --depthB) lift(b, senseB);
  for (; a != b && depthA > 0; --depthA) {
    lift(a, senseA);
    lift(b, senseB);
  }
  return senseA != senseB ? 1 : 0;
}

}  // namespace gxl::shader
