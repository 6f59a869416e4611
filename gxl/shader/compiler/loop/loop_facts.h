// What the loop lowerings (flow-control loops, unrolling and their
// rehearsals) track of a symbol across iterations: its range and the facts
// of its flags, with the limits they run to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader::loops {

// Iterations an unrolling builds before X3511, and the trip count a
// flow-control loop simulates when the target gives none.
constexpr std::uint32_t kMaxUnrolledIterations = 1024;
constexpr std::uint32_t kDefaultIterationLimit = 255;
// The work a rehearsal of a loop's condition and step may take once the
// work bound has ended the loop's unrolling (ClaimEndlessUnrolling): a
// condition of some hundred instructions to the iteration limit.
constexpr std::uint64_t kClaimWork = std::uint64_t{1} << 23;
// The work a dead loop's rehearsal as a live loop may take (LowerDeadLoop):
// a 64th of the compile's budget, some 32,000 instructions built, far past
// what a loop that fits a profile builds.
constexpr std::uint64_t kDeadLoopWork = std::uint64_t{1} << 20;

// A simulation of a loop whose condition and step alone decide its trip
// count settles after this many exact passes (SettleLoop): enough that the
// facts of a short loop stay exact, and that a value which grows shows it.
constexpr std::uint32_t kExactPasses = 3;
// ... where the passes left would build more instructions than this: some
// 1/16 of the compile's work budget at the 32 steps the lowering charges for
// each, so that a loop below it costs the budget little, and one above it
// (with a few such loops, or one inside another) would soon exhaust it.
constexpr std::uint64_t kSettleInstructions = kCompileWorkBudget / 16 / 32;
// Rounds of the settled pass: each one that its results leave uncovered
// widens the entry facts (a moved bound opens to infinity, a fact goes).
constexpr std::uint32_t kSettleRounds = 4;

// Entries under one run of an outer simulation that start from their own
// facts before symbols met otherwise are widened (loop_widening.cpp): enough
// that an outer loop of a few fixed passes keeps its exact facts.
constexpr std::uint32_t kExactEntries = 3;
// The passes a simulation runs before a projection may give it up: past the
// exact ones and the inner loops' exact entries, with the pass at which those
// widen, so that the last two passes show what reused inner simulations cost.
constexpr std::uint32_t kProjectedPasses = kExactPasses + kExactEntries;

// The share of the lowering's bound and of the work budget that an exact
// simulation leaves to the rest of the compile: 1 / kReservedShare.
constexpr std::uint64_t kReservedShare = 8;
// An outermost exact simulation may spend 1 / kProjectedShare of what is left
// of them, short of that reserve, when it begins (loop_projection.cpp).
constexpr std::uint64_t kProjectedShare = 2;

// Operations a fixed loop unrolls into as cheaply as it loops over them.
inline bool IsCheapLoopOperation(std::uint32_t word) {
  switch (IrGroup(word)) {
    case kOpNop:
    case kOpMove:
    case kOpNegate:
    case kOpKeptMove:
    case kOpFraction:
    case kOpMin:
    case kOpMax:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpAdd:
    case kOpMultiply:
    case kOpSelect:
      return true;
    default:
      return false;
  }
}

inline bool IsCostlyLoopOperation(std::uint32_t word) { return !IsCheapLoopOperation(word); }
// An instruction that takes implicit derivatives.
inline bool TakesDerivatives(std::uint32_t word) { return IsFlowControlOperation(word); }

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr ValueRange kEmpty{kInfinity, -kInfinity};
constexpr ValueRange kFull{-kInfinity, kInfinity};
constexpr std::uint32_t kRangeFacts =
    kValueBoolean | kValueInteger | kValueNonNegative | kValueNonPositive | kValueUnitMagnitude;  // 0x1F

inline bool IsEmpty(const ValueRange& r) { return !(r.low <= r.high); }
inline bool IsFull(const ValueRange& r) { return r.low == -kInfinity && r.high == kInfinity; }
inline ValueRange Hull(const ValueRange& a, const ValueRange& b) {
  return {std::min(a.low, b.low), std::max(a.high, b.high)};
}
inline bool Excludes0(const ValueRange& r) { return r.low > 0 || r.high < 0; }
// Whether `outer` holds every value of `inner` (an empty one holds none).
inline bool Within(const ValueRange& outer, const ValueRange& inner) {
  if (IsFull(outer)) return true;
  if (IsEmpty(outer) || IsEmpty(inner)) return false;
  return outer.low <= inner.low && inner.high <= outer.high;
}
// Covers `hull` and `r`; a bound `r` passes opens to infinity, so that a
// symbol widens at most twice.
inline ValueRange Widen(const ValueRange& hull, const ValueRange& r) {
  if (IsEmpty(r)) return kFull;
  return {r.low < hull.low ? -kInfinity : hull.low, r.high > hull.high ? kInfinity : hull.high};
}

}  // namespace gxl::shader::loops
