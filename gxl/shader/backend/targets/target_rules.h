// Rules the vertex and pixel targets share: the read-port rule (how many
// distinct registers of each file one instruction may read), the test for an
// instruction that reads a result computed before a given position, and the
// register names of fragment inputs.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

struct ReadPortLimits {
  // Distinct registers one instruction may read of each file.
  std::uint32_t inputs;
  std::uint32_t temporaries;
  std::uint32_t constants;
  std::uint32_t samplers;  // sampler banks count only with `samplerFile`
  // Operands from uniform banks, distinct or not (kNoIndex: no limit).
  std::uint32_t uniformOperands;
  // Sampler banks form a file of their own, and banks beyond the standard
  // ones are not counted.
  bool samplerFile;
};

// 1 when the instruction's argument groups break the limits, the position of
// the first group over a limit through `group` (optional); else 0.
std::uint32_t FindReadPortViolation(const ShaderProgram& p, const IrInstruction& instruction,
                                    const ReadPortLimits& limits, std::uint32_t* group);

// 1 when an argument is a temporary defined before `position` by an
// instruction that computes something.
std::uint32_t ReadsEarlierTemporary(const ShaderProgram& p, const IrInstruction& instruction, std::uint32_t position);

// Fragment mode: the input's register under "v_<semantic><index>" and, with
// debug information, "n_<variable>"; the value's key through `key` (optional).
HRESULT NameFragmentInput(ShaderTarget& t, std::uint32_t value, DWORD* key);

}  // namespace gxl::shader
