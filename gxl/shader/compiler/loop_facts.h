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

}  // namespace gxl::shader::loops
