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
  // VFACE inputs are read through no port; only constant-file operands count
  // toward `uniformOperands`; banks beyond the standard ones count as well
  // (shader model 3).
  bool faceUncounted = false;
  bool constantOperandsOnly = false;
  bool everyBank = false;
};

// 1 when the instruction's argument groups break the limits, the position of
// the first group over a limit through `group` (optional); else 0.
std::uint32_t FindReadPortViolation(const ShaderProgram& p, const IrInstruction& instruction,
                                    const ReadPortLimits& limits, std::uint32_t* group);

// 1 when an argument is a temporary defined before `position` by an
// instruction that computes something.
std::uint32_t ReadsEarlierTemporary(const ShaderProgram& p, const IrInstruction& instruction, std::uint32_t position);

// Fragment mode: the input's register under "v_<semantic><index>" (or with
// another prefix, "o_" for outputs) and, with debug information,
// "n_<variable>"; the value's key through `key` (optional).
HRESULT NameFragmentInput(ShaderTarget& t, std::uint32_t value, DWORD* key, const char* prefix = "v");

// A source token followed, when it is relatively addressed, by the address
// token of 2.0 and later: aL for an index in the loop-counter bank, else the
// a0 component holding the index.
HRESULT WriteAddressedSourceToken(ShaderTarget& t, DWORD registerBits, DWORD swizzleBits, std::uint32_t relative);
// Whether such a token can name the index value `relative`: aL, or an
// address register where the version has one.
bool CanWriteRelativeIndex(const ShaderTarget& t, std::uint32_t relative);

// dcl of a sampler register with the kind its sampling instructions gave it
// (2-D, volume, cube); nothing in fragment mode.
HRESULT DeclareSamplerRegister(ShaderTarget& t, std::uint32_t value);

// Partial precision added to a destination's bits where the compile asks for
// it everywhere, or every result carries it or is never read.
void AddPartialPrecision(const ShaderTarget& t, const std::uint32_t* values, std::uint32_t count, DWORD* bits);

// The pixel outputs: DEPTH a scalar, every COLOR written whole, COLOR0
// written, the colours contiguous. E_FAIL when something was reported.
HRESULT CheckColorAndDepthWrites(ShaderTarget& t);

// The vertex outputs: all of POSITION written, PSIZE (and with `fogScalar`
// FOG) a scalar. E_FAIL when something was reported.
HRESULT CheckPositionWrites(ShaderTarget& t, bool fogScalar);

}  // namespace gxl::shader
