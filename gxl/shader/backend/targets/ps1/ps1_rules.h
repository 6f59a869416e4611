// The seam between the pixel shader 1.x target's compile flow and its
// arithmetic, register and phase rules: the flow calls every rule through
// this interface, so the rules can be built (and tests can stand in for
// them) apart from the flow. The default rules change nothing: each answers
// 1 ("did not apply"), placement stays as the flow left it.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace gxl::shader {

class PixelShader1Target;

class Ps1Rules {
 public:
  virtual ~Ps1Rules() = default;

  // --- Per instruction (the index of an instruction of the program): 0
  // rewritten, 1 nothing to do, or a failure.
  virtual HRESULT ForwardTextureCoordinateMove(PixelShader1Target&, std::uint32_t) { return 1; }
  virtual HRESULT NegateConstant(PixelShader1Target&, std::uint32_t) { return 1; }
  virtual HRESULT FoldResultScale(PixelShader1Target&, std::uint32_t) { return 1; }
  virtual HRESULT FuseMultiplyAdd(PixelShader1Target&, std::uint32_t) { return 1; }
  virtual HRESULT LegaliseOperands(PixelShader1Target&, std::uint32_t) { return 1; }

  // --- Over the placed lists (ps_1_1-1_3)
  virtual HRESULT EmulateSwizzles(PixelShader1Target&) { return 1; }
  virtual HRESULT EmulateWriteMasks(PixelShader1Target&) { return 1; }
  virtual HRESULT LowerConditionals(PixelShader1Target&) { return 1; }
  // Registers of every list; in trial mode no register free fails silently.
  virtual HRESULT AssignRegisters(PixelShader1Target&, bool /*trial*/) { return 1; }
  virtual HRESULT AssignConstants(PixelShader1Target&) { return 1; }
  // Marks co-issued pairs in the phase-one list (`phaseOne`) or the stage list.
  virtual HRESULT MarkCoIssue(PixelShader1Target&, bool /*phaseOne*/) { return 1; }
  virtual HRESULT WarnClampedCoordinates(PixelShader1Target&) { return 1; }

  // --- ps_1_4 phases
  virtual HRESULT ProjectiveRewrite(PixelShader1Target&, std::uint32_t) { return 1; }
  // After the folds, the refusal of a program that preparation's check
  // refuses for its size anyway, before placement and pairing spend time on
  // it: a failure when refused.
  virtual HRESULT CheckSize14(PixelShader1Target&) { return 1; }
  // Texture-coordinate preparation, ordering and the dependent-chain checks:
  // a failure when the checks reported errors.
  virtual HRESULT PreparePhases14(PixelShader1Target&) { return 1; }
  // The two lists for a partition mask (bit k: texture operation k goes to
  // phase two): 1 when the mask is feasible, 0 when not, or a failure.
  virtual HRESULT BuildPhaseLists14(PixelShader1Target&, std::uint32_t /*mask*/, bool /*trial*/) { return 1; }
  // Arithmetic distributed between the phases: 1 when the trial does not fit.
  virtual HRESULT BalancePhases14(PixelShader1Target&) { return 0; }
  // Carry-over of phase-one results overwritten in phase two: 1 when the
  // layout cannot be carried.
  virtual HRESULT PlacePhaseTwo14(PixelShader1Target&) { return 0; }
};

}  // namespace gxl::shader
