// Test hooks of the math library. Programs never include this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/math/dispatch.h"

namespace gxl::math::test {

// Back to the state at process start: set-up stubs in the table, MathVariant
// unset, the MMX answer unknown, SetDebugMute's state and caches cleared, the
// allocator check not yet run.
void ResetMathState();

// The live table, for tests that look at it or swap a body in.
MathDispatchTable& LiveDispatchTable();
// The set-up stubs, by position.
const MathDispatchTable& StubTable();

// Fills the live table as the plan says and makes its variant current, whatever
// the processor and the registry.
std::uint32_t ForceMathDispatch(const MathDispatchPlan& plan);

// True when the 3DNow! sets are the ones on the real instructions (the host has
// them and the build made them), false when they are the emulated ones.
bool Uses3DNowHardware();

// The allocator check with the given allocation and release functions, run
// every time (CheckNewDeleteConformance runs it once, with the global operators).
void RunNewDeleteCheck(void* (*allocate)(std::size_t), void (*release)(void*));

// The parts of ResetMathState, each owned by its file.
void ResetDispatchState();
void ResetMmxState();
void ResetServiceState();

}  // namespace gxl::math::test
