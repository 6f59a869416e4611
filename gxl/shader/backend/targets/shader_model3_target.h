// The one code-generating target of the shader model 3 profiles "vs_3_0",
// "vs_3_sw", "ps_3_0" and "ps_3_sw": one limit set for all four (32
// temporaries, 16 inputs, relative addressing, loops, breakc, level-of-detail
// and gradient sampling), declared o# outputs with usages in the vertex
// profiles, declared v# inputs with usages in the pixel profiles, and the
// special pixel inputs VFACE and VPOS (misc registers 1 and 0) with the rules
// for where VFACE may be read. Second flag word bit 0x40 tells the vertex
// profiles from the pixel ones throughout.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

class ShaderModel3Target : public ShaderTarget {
 public:
  explicit ShaderModel3Target(bool fragment);

  using ShaderTarget::Compile;
  HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags) override;
  HRESULT SetupProfileLimits() override;
  HRESULT SelectInstructions() override;
  HRESULT FinishSelection() override;
  std::uint32_t FormatValueName(std::uint32_t value, char* buffer, std::uint32_t size) const override;
  std::uint32_t NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) override;
  HRESULT MapOperation() override;
  HRESULT GenerateCode() override;
  HRESULT CheckOutputWrites() override;
  HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key) override;
  HRESULT DeclareSampler(std::uint32_t value) override;
  HRESULT WriteInstructionLength() override;
  HRESULT WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative) override;
  HRESULT EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                std::uint32_t fullMask) override;
  HRESULT MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) override;
  HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                            std::uint32_t* fullMask) override;
  HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) override;
  std::uint32_t CanReadFace(const IrInstruction& instruction, std::uint32_t group) override;
  bool ReadsFace(const IrInstruction& instruction, std::uint32_t group) override;
  HRESULT CheckSemanticConsistency() override;

  // Pixel profiles: every argument reading VFACE, but for cmp's condition,
  // reads a temporary computed once, before the first instruction, as 1.0
  // for front faces and -1.0 otherwise. S_OK or E_OUTOFMEMORY.
  HRESULT ReplaceFaceReads();

  bool Vertex() const { return profileLimits.secondFlags & 0x40; }

 private:
  // The current instruction through its rule: E_NOTIMPL where the profile
  // has none.
  HRESULT EmitCurrent();
  HRESULT StageSampledOutputs();
  void DropUnreadInputs();
  // Whether a value is an input of the given semantic usage.
  bool IsSpecialInput(std::uint32_t value, std::uint32_t usage) const;
};

}  // namespace gxl::shader
