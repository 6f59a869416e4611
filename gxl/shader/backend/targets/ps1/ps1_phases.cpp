// The ps_1_4 partition search: every split of the texture operations between
// the two phases is tried on a snapshot of the program, scored by the
// instruction slots of both phases, and the best one is built for real.
#include <algorithm>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kNoScore = 0xFFFFFFFFu;
constexpr std::uint32_t kTextureSlots14 = 6;
constexpr std::uint32_t kPhaseSlots14 = 8;  // arithmetic slots of a phase

}  // namespace

std::uint32_t PixelShader1Target::ScorePartition(const PartitionCounts& c) {
  std::uint32_t score =
      std::max(c.phaseOneArithmetic, 2 * c.phaseOneTextures) + std::max(c.phaseTwoArithmetic, 2 * c.phaseTwoTextures);
  if (c.phaseOneTextures + c.phaseOneArithmetic > 0) score += 10;
  if (c.phaseOneArithmetic > 8) score += 20;
  if (c.phaseTwoArithmetic > 8) score += 20;
  return score;
}

// Texture slots occupied, and arithmetic entries with a co-issued pair counted once.
PixelShader1Target::PartitionCounts PixelShader1Target::CountPartition() const {
  auto count = [this](const Ps1List& list, std::uint32_t* textures, std::uint32_t* arithmetic) {
    *textures = *arithmetic = 0;
    for (std::uint32_t k = 0; k < list.Count(); ++k) {
      IrInstruction* inst = Instruction(list[k]);
      if (!inst) continue;
      if (k < kTextureSlots14)
        ++*textures;
      else if (inst->word != 0 && CoIssueMark(*inst) != 1)
        ++*arithmetic;
    }
  };
  PartitionCounts c{};
  count(phaseOneList, &c.phaseOneTextures, &c.phaseOneArithmetic);
  count(stageList, &c.phaseTwoTextures, &c.phaseTwoArithmetic);
  return c;
}

bool PixelShader1Target::PhasesFit14(bool fewest) const {
  std::uint32_t end = stageList.Count();
  if (fewest && OutputMoveFolds()) --end;
  const std::uint32_t one = fewest ? FewestSlots(phaseOneList, phaseOneList.Count()) : CountSlots(phaseOneList);
  const std::uint32_t two = fewest ? FewestSlots(stageList, end) : CountSlots(stageList);
  return one <= kPhaseSlots14 && two <= kPhaseSlots14;
}

void PixelShader1Target::ClearSamplerRecords() {
  for (SamplerRecord& r : samplerRecords) r = SamplerRecord{};
}

void PixelShader1Target::ForgetScratchMoves() {
  scratchMoveCount = 0;
  ++scratchTrial;
}

HRESULT PixelShader1Target::TakeSnapshot() {
  for (std::size_t i = 0; i < instructionSnapshot.Size(); ++i) delete instructionSnapshot[i];
  for (std::size_t i = 0; i < valueSnapshot.Size(); ++i) delete valueSnapshot[i];
  instructionSnapshot.Reset();
  valueSnapshot.Reset();
  if (!instructionSnapshot.Reserve(instructions.Count() + 1) || !valueSnapshot.Reserve(values.Count() + 1))
    return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction* copy = nullptr;
    if (const IrInstruction* inst = Instruction(i)) {
      copy = new IrInstruction;
      if (!copy) return E_OUTOFMEMORY;
      if (FAILED(copy->CopyFrom(inst))) {
        delete copy;
        return E_OUTOFMEMORY;
      }
      copy->CopyFields(*inst);
    }
    instructionSnapshot.Append(copy);
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* copy = nullptr;
    if (const IrValue* v = Value(i)) {
      copy = new IrValue;
      if (!copy) return E_OUTOFMEMORY;
      if (FAILED(copy->CopyFrom(v))) {
        delete copy;
        return E_OUTOFMEMORY;
      }
    }
    valueSnapshot.Append(copy);
  }
  return S_OK;
}

// The program as the snapshot holds it: what a trial added is dropped, what
// it changed is copied back.
HRESULT PixelShader1Target::RestoreSnapshot() {
  const auto instructionCount = static_cast<std::uint32_t>(instructionSnapshot.Size());
  const auto valueCount = static_cast<std::uint32_t>(valueSnapshot.Size());
  for (std::uint32_t i = instructionCount; i < instructions.Count(); ++i) {
    delete instructions.Slot(i);
    instructions.Slot(i) = nullptr;
  }
  instructions.Truncate(instructionCount);
  for (std::uint32_t i = valueCount; i < values.Count(); ++i) {
    delete values.Slot(i);
    values.Slot(i) = nullptr;
  }
  values.Truncate(valueCount);
  for (std::uint32_t i = 0; i < instructionCount && i < instructions.Count(); ++i) {
    const IrInstruction* saved = instructionSnapshot[i];
    IrInstruction*& slot = instructions.Slot(i);
    if (!saved) {
      delete slot;
      slot = nullptr;
      continue;
    }
    if (!slot && !(slot = new IrInstruction)) return E_OUTOFMEMORY;
    // Operand arrays of the same size are reused: thousands of trials must
    // not draw new ones from the pool each time.
    if (slot->argumentCount == saved->argumentCount && slot->resultCount == saved->resultCount) {
      slot->word = saved->word;
      std::copy(saved->arguments, saved->arguments + saved->argumentCount, slot->arguments);
      std::copy(saved->results, saved->results + saved->resultCount, slot->results);
    } else if (FAILED(slot->CopyFrom(saved))) {
      return E_OUTOFMEMORY;
    }
    slot->CopyFields(*saved);
  }
  for (std::uint32_t i = 0; i < valueCount && i < values.Count(); ++i) {
    const IrValue* saved = valueSnapshot[i];
    IrValue*& slot = values.Slot(i);
    if (!saved) {
      delete slot;
      slot = nullptr;
      continue;
    }
    if (!slot && !(slot = new IrValue)) return E_OUTOFMEMORY;
    if (FAILED(slot->CopyFrom(saved))) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT PixelShader1Target::SearchPartitions14() {
  HRESULT hr = phaseOneList.Allocate(0);
  if (SUCCEEDED(hr)) hr = stageList.Allocate(0);
  if (FAILED(hr)) return hr;
  hr = rules->PreparePhases14(*this);
  if (FAILED(hr)) return hr;

  textureOperationCount = 0;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || !(IsTextureLoad(inst->Group()) || inst->Group() == kOpTexcoord || inst->Group() == kOpDiscard))
      continue;
    if (textureOperationCount == kTextureOperationLimit14) {
      SetCurrentInstruction(i);
      GXL_SHADER_REPORT(*this, currentSource, msg::kTooManyTextureLoads);
      return E_FAIL;
    }
    textureOperations[textureOperationCount++] = i;
  }
  if (FAILED(hr = TakeSnapshot())) return hr;
  if (scratchTemporaryCount == 0) {
    const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
    for (std::uint32_t& t : scratchTemporaries)
      if ((t = AddValue(temporaries, kNoIndex, 0, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
    scratchTemporaryCount = kScratchTemporaries;
    // The scratch temporaries outlive every trial.
    if (FAILED(hr = TakeSnapshot())) return hr;
  }

  auto clearLists = [this] {
    phaseOneList.Truncate(0);
    stageList.Truncate(0);
    ClearSamplerRecords();
    scratchTemporaryCursor = 0;
  };
  // A trial that does not fit answers 1; memory running out ends the search.
  auto fit = [this]() -> HRESULT {
    HRESULT r = RestoreSnapshot();
    if (FAILED(r)) return r;
    ForgetScratchMoves();
    scratchTemporaryCursor = 0;
    r = rules->BalancePhases14(*this);
    if (r == E_OUTOFMEMORY || r == 1) return r == 1 ? 1 : r;
    if (FAILED(r)) return 1;
    r = rules->PlacePhaseTwo14(*this);
    if (r == E_OUTOFMEMORY || r == 1) return r;
    if (FAILED(r)) return 1;
    r = rules->AssignRegisters(*this, true);
    if (r == E_OUTOFMEMORY) return r;
    return FAILED(r) ? 1 : 0;
  };

  // Every partition in turn; `slots`: only those whose phases fit their
  // slots as placed. Whether the winner can fit at all comes with it.
  std::uint32_t best = kNoScore, winner = 0;
  bool winnerCanFit = false;
  auto search = [&](bool slots) -> HRESULT {
    best = kNoScore;
    const std::uint32_t masks = 1u << textureOperationCount;
    for (std::uint32_t mask = 0; mask < masks; ++mask) {
      clearLists();
      HRESULT r = rules->BuildPhaseLists14(*this, mask, true);
      if (FAILED(r)) return r;
      if (r != 1) continue;
      r = fit();
      if (FAILED(r)) return r;
      if (r == 1 || (slots && !PhasesFit14(false))) continue;
      const std::uint32_t score = ScorePartition(CountPartition());
      if (score < best) {
        best = score;
        winner = mask;
        winnerCanFit = PhasesFit14(true);
      }
    }
    return S_OK;
  };
  slotBalance14 = false;
  if (FAILED(hr = search(false))) return hr;
  // The standard balance counts instructions: when the phases it leaves
  // cannot fit whatever the pairs, or no partition fits the registers, the
  // balance by slots gets its own search, and wins when it fits.
  if (best == kNoScore || !winnerCanFit) {
    const std::uint32_t standardBest = best, standardWinner = winner;
    slotBalance14 = true;
    if (FAILED(hr = search(true))) return hr;
    if (best == kNoScore) {
      slotBalance14 = false;
      best = standardBest;
      winner = standardWinner;
    }
  }
  clearLists();
  ForgetScratchMoves();
  if (best == kNoScore) {
    if (FAILED(hr = RestoreSnapshot())) return hr;
    GXL_SHADER_REPORT(*this, nullptr, msg::kTooComplexForPs14);
    return E_FAIL;
  }
  // The winner is built on the program as it was before the trials, so
  // nothing the final build adds is dropped again.
  hr = RestoreSnapshot();
  if (SUCCEEDED(hr)) hr = rules->BuildPhaseLists14(*this, winner, false);
  if (SUCCEEDED(hr)) hr = rules->BalancePhases14(*this);
  if (SUCCEEDED(hr)) hr = rules->PlacePhaseTwo14(*this);
  if (SUCCEEDED(hr)) hr = rules->AssignRegisters(*this, false);
  if (FAILED(hr)) return hr;
  bool emptyPhaseOne = phaseOneList.Count() == kTextureSlots14;
  for (std::uint32_t k = 0; k < phaseOneList.Count() && emptyPhaseOne; ++k) emptyPhaseOne = phaseOneList[k] == kNoIndex;
  if (emptyPhaseOne) phaseOneList.Truncate(0);
  return S_OK;
}

}  // namespace gxl::shader
