// The two ps_1_4 lists for one partition mask: each texture operation goes
// to the phase its bit names and takes a texture slot of that phase's list.
// A stage samples with one sampler in both phases, so the sampler records
// are shared by the two lists.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSlots = 6;
constexpr std::uint32_t kProjective2D = 0x607;

class PhaseLists {
 public:
  PhaseLists(PixelShader1Target& t, std::uint32_t mask, bool trial) : m_t(t), m_mask(mask), m_trial(trial) {}
  // 1 feasible, 0 not, or a failure.
  HRESULT Run();

 private:
  enum Sweep { kBoundSamplers, kOtherLoads, kUnsampled };
  bool PhaseTwo(std::uint32_t k) const { return (m_mask >> k & 1) != 0; }
  std::uint32_t SamplerOf(const IrInstruction& inst) const {
    return PixelShader1Target::IsTextureLoad(inst.Group()) && inst.Width() && inst.argumentCount ? inst.arguments[0]
                                                                                                 : kNoIndex;
  }
  bool Bound(std::uint32_t sampler) const {
    const RegisterBank* b = m_t.BankOf(*m_t.Value(sampler));
    return (b->type & kBankKeepValues) || (b->registerCount != kNoIndex && b->registerCount > 1);
  }
  Sweep SweepOf(const IrInstruction& inst) const {
    const std::uint32_t sampler = SamplerOf(inst);
    if (sampler == kNoIndex) return kUnsampled;
    return Bound(sampler) ? kBoundSamplers : kOtherLoads;
  }
  bool RecordAdmits(std::uint32_t stage, std::uint32_t sampler) const {
    const PixelShader1Target::SamplerRecord& r = m_t.samplerRecords[stage];
    if (r.value == kNoIndex || sampler == kNoIndex) return true;
    const IrValue *a = m_t.Value(r.value), *b = m_t.Value(sampler);
    return r.value == sampler || (a && b && a->bank == b->bank && a->reg == b->reg);
  }
  // False when the operation finds no slot.
  bool Place(std::uint32_t k, Sweep sweep, Ps1List& list);
  HRESULT Rename();
  HRESULT RenameList(Ps1List& list);

  PixelShader1Target& m_t;
  std::uint32_t m_mask;
  bool m_trial;
  PodArray<std::uint32_t> m_replaced;  // sampler values the placed operations no longer read
};

bool PhaseLists::Place(std::uint32_t k, Sweep sweep, Ps1List& list) {
  const IrInstruction& inst = *m_t.Instruction(m_t.textureOperations[k]);
  const std::uint32_t sampler = SamplerOf(inst);
  std::uint32_t slot = kNoIndex;
  if (sweep == kBoundSamplers) {
    const std::uint32_t reg = m_t.Value(sampler)->reg;
    if (reg < kSlots && list[reg] == kNoIndex && RecordAdmits(reg, sampler)) slot = reg;
  } else {
    for (std::uint32_t s = 0; s < kSlots && slot == kNoIndex; ++s)
      if (list[s] == kNoIndex && (sweep == kUnsampled || RecordAdmits(s, sampler))) slot = s;
  }
  if (slot == kNoIndex) return false;
  list.At(slot) = m_t.textureOperations[k];
  if (sampler != kNoIndex) m_t.samplerRecords[slot] = {m_t.Value(sampler)->bank, sampler};
  return true;
}

HRESULT PhaseLists::Run() {
  const std::uint32_t count = m_t.textureOperationCount;
  std::uint32_t phaseTwo = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    const IrInstruction* inst = m_t.Instruction(m_t.textureOperations[k]);
    if (!inst) return E_FAIL;
    const std::uint32_t group = inst->Group();
    // Dividing by w reads a texture coordinate only.
    if (group == kProjective2D && PlainTexcoordOf(m_t, *inst) == kNoIndex) return 0;
    if (PhaseTwo(k)) {
      ++phaseTwo;
      if (inst->pinned == 1) return 0;  // it feeds another texture operation
    } else if (group == kOpDiscard ||
               (PixelShader1Target::IsTextureLoad(group) && PlainTexcoordOf(m_t, *inst) == kNoIndex)) {
      return 0;
    }
  }
  if (phaseTwo > kSlots || count - phaseTwo > kSlots) return 0;

  Ps1List* lists[2] = {&m_t.phaseOneList, &m_t.stageList};
  for (Ps1List* list : lists) {
    list->Truncate(0);
    for (std::uint32_t s = 0; s < kSlots; ++s)
      if (FAILED(list->Append(kNoIndex))) return E_OUTOFMEMORY;
  }
  m_t.ClearSamplerRecords();
  for (const Sweep sweep : {kBoundSamplers, kOtherLoads, kUnsampled})
    for (std::uint32_t phase = 0; phase < 2; ++phase)
      for (std::uint32_t k = 0; k < count; ++k)
        if (PhaseTwo(k) == (phase == 1) && SweepOf(*m_t.Instruction(m_t.textureOperations[k])) == sweep &&
            !Place(k, sweep, *lists[phase]))
          return 0;
  if (m_trial) return 1;
  const HRESULT hr = Rename();
  return FAILED(hr) ? hr : 1;
}

// The lists for real: each load reads the sampler of its stage, each slot's
// results are the register of its stage.
HRESULT PhaseLists::Rename() {
  HRESULT hr = RenameList(m_t.phaseOneList);
  if (SUCCEEDED(hr)) hr = RenameList(m_t.stageList);
  if (FAILED(hr)) return hr;
  // A sampler no placed operation reads any more leaves for bank "x".
  auto read = [this](std::uint32_t sampler) {
    for (const Ps1List* list : {&m_t.phaseOneList, &m_t.stageList})
      for (std::uint32_t slot = 0; slot < kSlots; ++slot) {
        const IrInstruction* inst = m_t.Instruction((*list)[slot]);
        if (inst && SamplerOf(*inst) == sampler) return true;
      }
    return false;
  };
  for (std::size_t i = 0; i < m_replaced.Size(); ++i)
    if (!read(m_replaced[i])) m_t.Value(m_replaced[i])->bank = m_t.StandardBankIndex(StandardBank::Undefined);
  return S_OK;
}

HRESULT PhaseLists::RenameList(Ps1List& list) {
  for (std::uint32_t slot = 0; slot < kSlots; ++slot) {
    IrInstruction* inst = m_t.Instruction(list[slot]);
    if (!inst) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      IrValue* v = m_t.Value(inst->results[r]);
      if (!v) continue;
      if (v->alias != kNoIndex) {
        m_t.SetCurrentInstruction(list[slot]);
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTexldAliasFound);
        return E_FAIL;
      }
      if (m_t.IsTemporaryValue(inst->results[r])) v->reg = slot;
    }
    const std::uint32_t sampler = SamplerOf(*inst);
    if (sampler == kNoIndex || m_t.Value(sampler)->reg == slot) continue;
    const std::uint32_t made = m_t.AddValueCopy(m_t.Value(sampler));
    if (made == kNoIndex || !m_replaced.Append(sampler)) return E_OUTOFMEMORY;
    m_t.Value(made)->reg = slot;
    inst = m_t.Instruction(list[slot]);
    for (std::uint32_t a = 0; a < inst->Width() && a < inst->argumentCount; ++a)
      if (inst->arguments[a] == sampler) inst->arguments[a] = made;
  }
  return S_OK;
}

}  // namespace

HRESULT Ps1StandardRules::BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) {
  return PhaseLists(t, mask, trial).Run();
}

}  // namespace gxl::shader
