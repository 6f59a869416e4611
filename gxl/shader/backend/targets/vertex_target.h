// The target of the vertex profiles vs_1_1, vs_2_0, vs_2_a and vs_2_sw: their
// limits, the selection and code-generation passes, the vs 1.x forms of
// address loads, fraction, exponent and logarithm, the read-port rule (one
// input and one constant register per instruction), the output registers
// and the checks of what a vertex shader must write.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// Second flag word bits of the vertex profiles.
constexpr std::uint32_t kVertexTargetFlag = 0x40;      // messages name the vertex shader
constexpr std::uint32_t kVertexBreakCompare = 0x4;     // breakc (vs_2_a, vs_2_sw)
constexpr std::uint32_t kVertexFractionForm = 0x2000;  // frc writes only x and y (vs_1_1)

// Opcodes of the partial-precision exponent and logarithm.
constexpr DWORD kOpcodeExpp = 78;
constexpr DWORD kOpcodeLogp = 79;

class VertexShaderTarget : public ShaderTarget {
 public:
  explicit VertexShaderTarget(bool fragment);

  // --- Slots
  using ShaderTarget::Compile;
  HRESULT Compile(DataBuffer** code) override;
  HRESULT SetupProfileLimits() override;
  HRESULT SelectInstructions() override;
  HRESULT FinishSelection() override;
  std::uint32_t NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) override;
  HRESULT MapOperation() override;
  HRESULT GenerateCode() override;
  HRESULT CheckOutputWrites() override;
  std::uint32_t ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) override;
  HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key) override;
  HRESULT WriteInstructionLength() override;
  HRESULT WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) override;
  HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                            std::uint32_t* fullMask) override;
  HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) override;

  // --- vs 1.x address register: a0.x loaded with the index value (and first
  // the index of that index); nothing when a0.x holds it already.
  HRESULT LoadAddressRegister(std::uint32_t index);

  // --- Vertex emission rules of the current instruction
  HRESULT EmitVertexExp();
  HRESULT EmitVertexLog();
  HRESULT EmitVertexFraction();

  // --- Code-generation peepholes on the current instruction: 0 rewritten,
  // 1 nothing changed, or a failure.
  // dst from its pattern: x = 1, y = a * b, z = p, w = q.
  HRESULT MatchDistanceVector();
  // A dot product copied into outputs writes them itself; from vs_2_0 a
  // vector scaled by the reciprocal square root of its dp3 becomes nrm.
  using ShaderProgram::FoldDotProduct;
  HRESULT FoldDotProduct();

  bool Version2() const { return (versionToken & 0xFFFF) >= 0x200; }

 private:
  // exp and log: the full-precision opcode, the partial one, and whether the
  // vs 1.x partial form writes x and w exactly as well as z.
  HRESULT EmitVertexExpLog(DWORD full, DWORD partial, bool exactXW);
  // Output registers written in pieces other than .x, .xy, .xyz, .xyzw
  // are written whole by one move at the end.
  HRESULT OrderOutputWrites();
  // From vs_2_0: the current dp3 of a vector with itself, its rsq and the
  // multiply that scales the vector by it become nrm.
  HRESULT FoldNormalize();
};

}  // namespace gxl::shader
