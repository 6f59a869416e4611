// ps_1_4 phase balancing: phase one holds what phase two's texture
// operations read; of the rest, arithmetic moves into phase one, earliest
// first, while phase two is long and phase one can take it, within what
// phase two's registers leave for the results it carries across.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSlots = 6;
constexpr std::uint32_t kLongPhase = 8;
constexpr std::uint32_t kPhaseSlots = 8;
// Components phase two can hold for phase one, and what each of its texture
// registers takes of them.
constexpr int kCarriedComponents = 18, kComponentsPerTexture = 3;

bool IsArithmetic(const IrInstruction* inst) {
  return inst && inst->word != 0 && !PixelShader1Target::IsTextureOperation(inst->Group()) &&
         inst->Group() != kOpTexcoord;
}

}  // namespace

HRESULT Ps1StandardRules::TooBig(PixelShader1Target& t, std::uint32_t instruction) {
  if (!m_reportedTooBig) {
    m_reportedTooBig = true;
    t.SetCurrentInstruction(instruction);
    GXL_SHADER_REPORT(t, t.currentSource, msg::kProgramTooBig);
  }
  return E_FAIL;
}

HRESULT Ps1StandardRules::AppendEntry(PixelShader1Target& t, Ps1List& list, std::uint32_t instruction) {
  const HRESULT hr = list.Append(instruction);
  return hr == E_FAIL ? TooBig(t, instruction) : hr;
}

std::uint32_t Ps1StandardRules::CarriedComponents(const PixelShader1Target& t, std::uint32_t moved) {
  if (!m_valueStamps.Reserve(t.values.Count())) return kNoIndex;
  while (m_valueStamps.Size() < t.values.Count()) m_valueStamps.Append(0);
  if (++m_stamp == 0) {
    for (std::size_t v = 0; v < m_valueStamps.Size(); ++v) m_valueStamps[v] = 0;
    m_stamp = 1;
  }
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
    const IrInstruction* inst = t.Instruction(i);
    if (!inst || inst->word == 0 || InPhaseOne(i) || i == moved) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t root = t.ResolveAlias(inst->arguments[a]);
      const std::uint32_t producer = t.ProducerOf(root);
      if (producer == kNoIndex || !(InPhaseOne(producer) || producer == moved) || root >= m_valueStamps.Size() ||
          m_valueStamps[root] == m_stamp)
        continue;
      m_valueStamps[root] = m_stamp;
      ++count;
    }
  }
  return count;
}

HRESULT Ps1StandardRules::BalancePhases14(PixelShader1Target& t) {
  Ps1List &one = t.phaseOneList, &two = t.stageList;
  HRESULT hr = MarkPhaseOne(t);
  if (FAILED(hr)) return hr;
  // What feeds a texture operation runs in phase one; the rest waits in the table.
  m_balanceCount = 0;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
    const IrInstruction* inst = t.Instruction(i);
    if (!IsArithmetic(inst) || InPhaseOne(i)) continue;
    if (inst->pinned == 1) {
      if (FAILED(hr = AppendEntry(t, one, i))) return hr;
      m_inPhaseOne[i] = 1;
    } else if (m_balanceCount == kBalanceTableSize) {
      return TooBig(t, i);
    } else {
      m_balanceTable[m_balanceCount++] = i;
    }
  }
  std::uint32_t twoTextures = 0;
  for (std::uint32_t k = 0; k < kSlots; ++k) {
    const IrInstruction* inst = t.Instruction(two[k]);
    twoTextures += inst && inst->Group() != kOpDiscard;
  }
  const int carriable = kCarriedComponents - kComponentsPerTexture * static_cast<int>(twoTextures);
  if (t.slotBalance14) return BalanceBySlots14(t, carriable);

  // The first pass keeps w writes in phase two and stops once phase two is
  // no longer than phase one; the second only shortens a long phase two.
  for (const bool first : {true, false}) {
    for (;;) {
      hr = PlacePhaseTwo14(t);
      if (hr == 1 || FAILED(hr)) return hr;
      if (FAILED(hr = MarkPhaseOne(t))) return hr;
      std::uint32_t oneTextures = 0, oneArithmetic = 0;
      for (std::uint32_t k = 0; k < one.Count(); ++k) {
        const IrInstruction* inst = t.Instruction(one[k]);
        if (k < kSlots)
          oneTextures += inst != nullptr;
        else if (inst && inst->word != 0 && PixelShader1Target::CoIssueMark(*inst) != 1)
          ++oneArithmetic;
      }
      const std::uint32_t twoArithmetic = m_balanceCount;
      if (twoArithmetic < kLongPhase && (!first || oneTextures + oneArithmetic == 0 || twoArithmetic <= oneArithmetic))
        break;
      // A phase runs at most 8 arithmetic slots: a full phase one takes no more.
      if (oneArithmetic >= kPhaseSlots) break;
      const std::uint32_t chosen = MovableEntry(t, carriable, false, first);
      if (chosen == kNoIndex) return E_OUTOFMEMORY;
      if (chosen == kBalanceTableSize) break;
      if (FAILED(hr = MoveToPhaseOne(t, chosen))) return hr;
    }
  }
  for (std::uint32_t n = 0; n < m_balanceCount; ++n)
    if (FAILED(hr = AppendEntry(t, two, m_balanceTable[n]))) return hr;
  return S_OK;
}

// The balance for a program the standard one leaves too long for a phase:
// it counts slots (pairs once, the carry-over's moves included) instead of
// instructions, and moves arithmetic into phase one in program order, w
// writes too, while phase two is longer than a phase. An instruction is
// judged by the values it read before the carry-over redirected them: the
// carry-over is made anew after each move.
HRESULT Ps1StandardRules::BalanceBySlots14(PixelShader1Target& t, int carriable) {
  Ps1List& two = t.stageList;
  for (;;) {
    HRESULT hr = PlacePhaseTwo14(t);
    if (hr == 1 || FAILED(hr)) return hr;
    if (FAILED(hr = MarkPhaseOne(t))) return hr;
    // Phase two as it will be listed: its carry-over moves, then the table.
    const std::uint32_t listed = two.Count();
    bool complete = true;
    for (std::uint32_t n = 0; n < m_balanceCount && complete; ++n) complete = two.Append(m_balanceTable[n]) == S_OK;
    const std::uint32_t twoSlots = t.CountSlots(two);
    two.Truncate(listed);
    // Phase one may overflow on the way: the carry-over of an alpha ends
    // once its readers follow it into phase one.
    if (complete && twoSlots <= kPhaseSlots) break;
    const std::uint32_t chosen = MovableEntry(t, carriable, true, false);
    if (chosen == kNoIndex) return E_OUTOFMEMORY;
    if (chosen == kBalanceTableSize) break;
    if (FAILED(hr = MoveToPhaseOne(t, chosen))) return hr;
  }
  for (std::uint32_t n = 0; n < m_balanceCount; ++n)
    if (HRESULT hr = AppendEntry(t, two, m_balanceTable[n]); FAILED(hr)) return hr;
  return S_OK;
}

std::uint32_t Ps1StandardRules::MovableEntry(PixelShader1Target& t, int carriable, bool beforeCarry,
                                             bool keepAlpha) {
  for (std::uint32_t n = 0; n < m_balanceCount; ++n) {
    const std::uint32_t i = m_balanceTable[n];
    const IrInstruction& inst = *t.Instruction(i);
    bool movable = true;
    for (std::uint32_t a = 0; a < inst.argumentCount && movable; ++a) {
      const std::uint32_t read = beforeCarry ? ReadBeforeCarry(i, a, inst.arguments[a]) : inst.arguments[a];
      const std::uint32_t root = t.ResolveAlias(read);
      const std::uint32_t producer = t.ProducerOf(root);
      // Colour inputs are read in phase two only.
      movable = !(t.IsInputValue(root) && Ps1KindOf(t.SemanticOf(root)) == kPs1Color) &&
                (producer == kNoIndex || InPhaseOne(producer));
    }
    for (std::uint32_t r = 0; r < inst.resultCount && movable; ++r) {
      const IrValue* v = t.Value(inst.results[r]);
      movable = v && v->bank != t.StandardBankIndex(StandardBank::Outputs) && !(keepAlpha && v->component == 3);
    }
    if (!movable) continue;
    const std::uint32_t carried = CarriedComponents(t, i);
    if (carried == kNoIndex) return kNoIndex;
    if (static_cast<int>(carried) <= carriable) return n;
  }
  return kBalanceTableSize;
}

HRESULT Ps1StandardRules::MoveToPhaseOne(PixelShader1Target& t, std::uint32_t n) {
  const std::uint32_t moved = m_balanceTable[n];
  for (std::uint32_t k = n + 1; k < m_balanceCount; ++k) m_balanceTable[k - 1] = m_balanceTable[k];
  --m_balanceCount;
  return AppendEntry(t, t.phaseOneList, moved);
}

std::uint32_t Ps1StandardRules::ReadBeforeCarry(std::uint32_t instruction, std::uint32_t argument,
                                                std::uint32_t value) const {
  for (std::size_t i = 0; i < m_carriedReads.Size(); ++i)
    if (m_carriedReads[i].instruction == instruction && m_carriedReads[i].argument == argument)
      return m_carriedReads[i].value;
  return value;
}

}  // namespace gxl::shader
