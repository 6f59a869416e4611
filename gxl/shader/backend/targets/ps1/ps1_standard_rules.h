// The pixel shader 1.x target's own rules behind the Ps1Rules seam: the
// arithmetic rewrites and modifier folds, register and constant assignment
// with co-issue, and the ps_1_4 texture phases. One object per target; its
// state lives only for one compile.
#pragma once

#include "gxl/shader/backend/targets/ps1/ps1_rules.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

class Ps1List;

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
  HRESULT CheckSize14(PixelShader1Target& t) override;
  HRESULT PreparePhases14(PixelShader1Target& t) override;
  HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override;
  HRESULT BalancePhases14(PixelShader1Target& t) override;
  HRESULT PlacePhaseTwo14(PixelShader1Target& t) override;

 private:
  // --- ps_1_4 phases: state of one compile
  // A read the carry-over redirected to a copy: undone before it runs again.
  struct CarriedRead {
    std::uint32_t instruction, argument, value;
  };
  // Undoes the carry-over of this trial, if it ran: reads, moves, scratch counts.
  void UndoCarryOver(PixelShader1Target& t);
  // The next scratch temporary, fresh, in `component`.
  static std::uint32_t ScratchValue(PixelShader1Target& t, std::uint32_t component);
  // A scratch move of n components (a spare one when there is), at the end of
  // phase one or first in phase two's arithmetic.
  HRESULT AddScratchMove(PixelShader1Target& t, const std::uint32_t* from, const std::uint32_t* to, std::uint32_t n,
                         std::uint32_t near, bool phaseOne);
  // Makes an argument that reads `value` (directly or through an alias) read
  // `copy`, to be undone with the trial.
  HRESULT RedirectRead(PixelShader1Target& t, std::uint32_t instruction, std::uint32_t argument, std::uint32_t value,
                       std::uint32_t copy);
  // Phase-one alphas that phase two's arithmetic reads, carried in a colour
  // component across the phase; 1 when they do not fit.
  HRESULT CarryAlphas14(PixelShader1Target& t);
  // 1 for the instructions of the phase-one list, 0 for the others (per instruction).
  HRESULT MarkPhaseOne(const PixelShader1Target& t);
  bool InPhaseOne(std::uint32_t instruction) const {
    return instruction < m_inPhaseOne.Size() && m_inPhaseOne[instruction] != 0;
  }
  // 4514 "program too big" at the instruction (once: trials run thousands
  // of times) and E_FAIL; AppendEntry gives it past a list's limit.
  HRESULT TooBig(PixelShader1Target& t, std::uint32_t instruction);
  HRESULT AppendEntry(PixelShader1Target& t, Ps1List& list, std::uint32_t instruction);
  // Distinct phase-one results that phase two reads, `moved` counted in phase one.
  std::uint32_t CarriedComponents(const PixelShader1Target& t, std::uint32_t moved);
  // BalancePhases14 by slots (PixelShader1Target::slotBalance14), after the
  // arithmetic that must run in phase one is there; `carriable` components
  // of phase one's results may cross into phase two.
  HRESULT BalanceBySlots14(PixelShader1Target& t, int carriable);
  // The first entry of the balance table that may move into phase one with
  // at most `carriable` components carried across: kBalanceTableSize when
  // none may, kNoIndex out of memory. `beforeCarry` judges an instruction by
  // what it read before the carry-over; `keepAlpha` keeps w writes in phase two.
  std::uint32_t MovableEntry(PixelShader1Target& t, int carriable, bool beforeCarry, bool keepAlpha);
  // Moves entry `n` of the balance table to the end of phase one.
  HRESULT MoveToPhaseOne(PixelShader1Target& t, std::uint32_t n);
  // What argument `argument` of an instruction read before this trial's
  // carry-over redirected it (`value` when it did not).
  std::uint32_t ReadBeforeCarry(std::uint32_t instruction, std::uint32_t argument, std::uint32_t value) const;

  PodArray<CarriedRead> m_carriedReads;
  std::uint32_t m_carryTrial = ~0u;  // the target's scratch trial the reads belong to
  std::uint32_t m_carryBaseMoves = 0, m_carryBaseCursor = 0;
  PodArray<std::uint32_t> m_spareMoves;  // undone moves of this trial, made again first
  PodArray<std::uint8_t> m_inPhaseOne;
  PodArray<std::uint32_t> m_valueStamps;  // per value: the last count that saw it
  std::uint32_t m_stamp = 0;
  // The balancing's table: arithmetic not yet placed, in program order.
  static constexpr std::uint32_t kBalanceTableSize = 512;
  std::uint32_t m_balanceTable[kBalanceTableSize] = {};
  std::uint32_t m_balanceCount = 0;
  bool m_reportedTooBig = false;
};

}  // namespace gxl::shader
