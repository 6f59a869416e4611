// The pixel shader 1.x target's own rules behind the Ps1Rules seam: the
// arithmetic rewrites and modifier folds, register and constant assignment
// with co-issue, and the ps_1_4 texture phases. One object per target; its
// state lives only for one compile.
#pragma once

#include "gxl/shader/backend/targets/ps1/ps1_rules.h"

namespace gxl::shader {

class Ps1StandardRules : public Ps1Rules {
 public:
  // --- Arithmetic rewrites and modifiers
  HRESULT ForwardTextureCoordinateMove(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT NegateConstant(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT FoldResultScale(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT FuseMultiplyAdd(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT LegaliseOperands(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT EmulateSwizzles(PixelShader1Target& t) override;
  HRESULT EmulateWriteMasks(PixelShader1Target& t) override;
  HRESULT LowerConditionals(PixelShader1Target& t) override;

  // --- Registers, constants, co-issue
  HRESULT AssignRegisters(PixelShader1Target& t, bool trial) override;
  HRESULT AssignConstants(PixelShader1Target& t) override;
  HRESULT MarkCoIssue(PixelShader1Target& t, bool phaseOne) override;
  HRESULT WarnClampedCoordinates(PixelShader1Target& t) override;

  // --- ps_1_4 phases
  HRESULT ProjectiveRewrite(PixelShader1Target& t, std::uint32_t index) override;
  HRESULT PreparePhases14(PixelShader1Target& t) override;
  HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override;
  HRESULT BalancePhases14(PixelShader1Target& t) override;
  HRESULT PlacePhaseTwo14(PixelShader1Target& t) override;
};

}  // namespace gxl::shader
