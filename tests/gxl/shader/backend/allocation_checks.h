// Independent checks of a scheduled and allocated program, recomputed from
// its final instruction order: dependences (def-use and guards) respected,
// and no two values that one execution needs at once sharing a register
// component. Written from the meaning of the IR, not from the passes.
#pragma once

#include <cstdint>
#include <string>

#include "gxl/shader/backend/ir/shader_program.h"

namespace irtest {

// "" when every instruction comes after the instructions that define what
// it reads (arguments, relative indexes, guards of its results); else the
// first violation.
std::string TopologicalFault(const gxl::shader::ShaderProgram& p);

// "" when every block (an if's block value, a break or a loop; only loops
// with `loopsOnly`) is one run of instructions: from the instruction that
// opens it to the last one it guards, nothing stands that it does not guard.
// Else the first intruder. Code outside a loop that stood inside it would run
// once per iteration.
std::string RegionFault(const gxl::shader::ShaderProgram& p, bool loopsOnly = false);

// "" when the values of `bank` lie within `limit` registers and no value is
// defined where another value of the same register component is still
// needed on a path through that point; else the first collision.
//
// Liveness is path-aware: two points lie on one path unless they are in
// different arms under their nearest common guard; a use inside a loop of a
// value defined before it holds the value to the loop's last instruction.
std::string InterferenceFault(const gxl::shader::ShaderProgram& p, std::uint32_t bank, std::uint32_t limit);

}  // namespace irtest
