// The ps_1_4 phase carry-over: a texld or texcrd in slot k of phase two
// writes rk, so a result of phase one's slot k that phase two still reads
// after that slot is first copied, at the end of phase one, into one of the
// target's scratch temporaries, and phase two reads the copy. The phase
// keeps the colour of the registers but not their alpha: a phase-one alpha
// that phase two's arithmetic reads crosses in a colour component of a
// scratch register and is moved back into an alpha after phase two's
// texture slots. The balancing runs the carry-over again after each
// instruction it moves, so a run first undoes the last one of the same trial.
#include <algorithm>
#include <utility>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSlots = 6;

}  // namespace

HRESULT Ps1StandardRules::MarkPhaseOne(const PixelShader1Target& t) {
  const std::uint32_t count = t.instructions.Count();
  m_inPhaseOne.Clear();
  if (!m_inPhaseOne.Reserve(count)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) m_inPhaseOne.Append(0);
  for (std::uint32_t k = 0; k < t.phaseOneList.Count(); ++k)
    if (t.phaseOneList[k] < count) m_inPhaseOne[t.phaseOneList[k]] = 1;
  return S_OK;
}

void Ps1StandardRules::UndoCarryOver(PixelShader1Target& t) {
  if (m_carryTrial != t.scratchTrial) {
    // A new trial: its snapshot restore dropped the last one's moves and reads.
    m_carryTrial = t.scratchTrial;
    m_carriedReads.Clear();
    m_spareMoves.Clear();
    m_carryBaseMoves = t.scratchMoveCount;
    m_carryBaseCursor = t.scratchTemporaryCursor;
    return;
  }
  for (std::size_t i = m_carriedReads.Size(); i-- > 0;) {
    const CarriedRead& r = m_carriedReads[i];
    t.Instruction(r.instruction)->arguments[r.argument] = r.value;
  }
  m_carriedReads.Clear();
  const std::uint32_t* moves = t.scratchMoves + m_carryBaseMoves;
  const std::uint32_t moveCount = t.scratchMoveCount - m_carryBaseMoves;
  auto isMove = [&](std::uint32_t entry) {
    for (std::uint32_t m = 0; m < moveCount; ++m)
      if (moves[m] == entry) return true;
    return false;
  };
  for (Ps1List* list : {&t.phaseOneList, &t.stageList}) {
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < list->Count(); ++k)
      if (k < kSlots || !isMove((*list)[k])) list->At(kept++) = (*list)[k];
    list->Truncate(kept);
  }
  for (std::uint32_t m = 0; m < moveCount; ++m) {
    t.Instruction(moves[m])->word = 0;
    m_spareMoves.Append(moves[m]);  // reserved when made: cannot fail
  }
  t.scratchMoveCount = m_carryBaseMoves;
  t.scratchTemporaryCursor = m_carryBaseCursor;
}

std::uint32_t Ps1StandardRules::ScratchValue(PixelShader1Target& t, std::uint32_t component) {
  const std::uint32_t value = t.scratchTemporaries[t.scratchTemporaryCursor++];
  IrValue* v = t.Value(value);
  v->component = component;
  v->reg = kNoIndex;
  v->alias = kNoIndex;
  v->binding = 0;
  v->flags = 0;
  return value;
}

HRESULT Ps1StandardRules::AddScratchMove(PixelShader1Target& t, const std::uint32_t* from, const std::uint32_t* to,
                                         std::uint32_t n, std::uint32_t near, bool phaseOne) {
  std::uint32_t move = kNoIndex;
  if (!m_spareMoves.Empty()) {
    move = m_spareMoves.Back();
    m_spareMoves.PopBack();
    IrInstruction* inst = t.Instruction(move);
    inst->word = IrWord(kOpMove, n);
    inst->argumentCount = inst->resultCount = n;  // at most 4: the inline arrays
    for (std::uint32_t j = 0; j < n; ++j) inst->arguments[j] = from[j], inst->results[j] = to[j];
    if (const IrInstruction* source = t.Instruction(near)) inst->CopySourcePosition(source);
  } else {
    move = t.AddFilledInstruction(IrWord(kOpMove, n), from, n, to, n, near);
    // Undoing returns the move to the spares, which must not fail then.
    if (move == kNoIndex || !m_spareMoves.Reserve(PixelShader1Target::kScratchObjects)) return E_OUTOFMEMORY;
  }
  for (std::uint32_t j = 0; j < n; ++j) t.Value(to[j])->definingPosition = move;
  t.scratchMoves[t.scratchMoveCount++] = move;
  if (!phaseOne) {
    // First in phase two's arithmetic, after its texture slots.
    Ps1List& two = t.stageList;
    const HRESULT hr = AppendEntry(t, two, move);
    if (FAILED(hr)) return hr;
    for (std::uint32_t k = two.Count() - 1; k > kSlots; --k) std::swap(two.At(k), two.At(k - 1));
    return S_OK;
  }
  const HRESULT hr = AppendEntry(t, t.phaseOneList, move);
  if (FAILED(hr)) return hr;
  while (m_inPhaseOne.Size() <= move)
    if (!m_inPhaseOne.Append(0)) return E_OUTOFMEMORY;
  m_inPhaseOne[move] = 1;
  return S_OK;
}

HRESULT Ps1StandardRules::RedirectRead(PixelShader1Target& t, std::uint32_t instruction, std::uint32_t argument,
                                       std::uint32_t value, std::uint32_t copy) {
  IrInstruction* inst = t.Instruction(instruction);
  const std::uint32_t original = inst->arguments[argument];
  std::uint32_t read = copy;
  if (original != value) {
    // A read through a modified alias keeps its modifier on the copy.
    if ((read = t.AddValueCopy(t.Value(original))) == kNoIndex) return E_OUTOFMEMORY;
    t.Value(read)->alias = copy;
  }
  if (!m_carriedReads.Append(CarriedRead{instruction, argument, original})) return E_OUTOFMEMORY;
  t.Instruction(instruction)->arguments[argument] = read;
  return S_OK;
}

HRESULT Ps1StandardRules::CarryAlphas14(PixelShader1Target& t) {
  const Ps1List& two = t.stageList;
  auto isSlot = [&](std::uint32_t i) {
    for (std::uint32_t k = 0; k < kSlots; ++k)
      if (two[k] == i) return true;
    return false;
  };
  // Calls `read(instruction, argument, alpha)` for every read of a phase-one
  // alpha by phase two's arithmetic.
  auto forEachRead = [&](auto read) {
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      const IrInstruction* inst = t.Instruction(i);
      if (!inst || inst->word == 0 || InPhaseOne(i) || isSlot(i)) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t root = t.ResolveAlias(inst->arguments[a]);
        if (t.IsTemporaryValue(root) && t.Value(root)->component == 3 && InPhaseOne(t.ProducerOf(root)))
          read(i, a, root);
      }
    }
  };
  PodArray<std::uint32_t> alphas;
  bool full = false;
  forEachRead([&](std::uint32_t, std::uint32_t, std::uint32_t alpha) {
    if (std::find(alphas.Data(), alphas.Data() + alphas.Size(), alpha) == alphas.Data() + alphas.Size())
      full = full || !alphas.Append(alpha);
  });
  if (full) return E_OUTOFMEMORY;
  if (alphas.Empty()) return S_OK;
  // Two moves and two scratch values each; past them the layout does not fit.
  const auto n = static_cast<std::uint32_t>(alphas.Size());
  if (t.scratchMoveCount + 2 * n > PixelShader1Target::kScratchObjects ||
      t.scratchTemporaryCursor + 2 * n > t.scratchTemporaryCount)
    return 1;
  PodArray<std::uint32_t> restored;
  if (!restored.Reserve(n)) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t alpha = alphas[k], producer = t.ProducerOf(alpha);
    const std::uint32_t colour = ScratchValue(t, 0), back = ScratchValue(t, 3);
    HRESULT hr = AddScratchMove(t, &alpha, &colour, 1, producer, true);
    if (SUCCEEDED(hr)) hr = AddScratchMove(t, &colour, &back, 1, producer, false);
    if (FAILED(hr)) return hr;
    restored.Append(back);  // reserved
  }
  HRESULT hr = S_OK;
  forEachRead([&](std::uint32_t i, std::uint32_t a, std::uint32_t alpha) {
    if (FAILED(hr)) return;
    const std::size_t k = std::find(alphas.Data(), alphas.Data() + n, alpha) - alphas.Data();
    hr = RedirectRead(t, i, a, alpha, restored[k]);
  });
  return hr;
}

HRESULT Ps1StandardRules::PlacePhaseTwo14(PixelShader1Target& t) {
  UndoCarryOver(t);
  HRESULT hr = MarkPhaseOne(t);
  if (FAILED(hr)) return hr;
  const Ps1List &one = t.phaseOneList, &two = t.stageList;
  // carried[k] bit r: result r of phase one's slot k is read after phase two's slot k overwrote it.
  std::uint32_t carried[kSlots] = {};
  std::uint32_t slotOf[kSlots], overwritten = 0;
  for (std::uint32_t k = 0; k < kSlots; ++k) {
    slotOf[k] = two[k];
    const IrInstruction* writer = t.Instruction(two[k]);
    const IrInstruction* held = t.Instruction(one[k]);
    if (writer && writer->Group() != kOpDiscard && held && held->resultCount) overwritten |= 1u << k;
  }
  // Calls `read(instruction, argument, slot, result)` for every phase-two read
  // of an overwritten result; alphas are left to CarryAlphas14.
  auto forEachRead = [&](auto read) {
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
      const IrInstruction* inst = t.Instruction(i);
      if (!inst || inst->word == 0 || InPhaseOne(i)) continue;
      std::uint32_t at = kSlots;  // phase two's arithmetic follows its texture slots
      for (std::uint32_t j = 0; j < kSlots; ++j)
        if (slotOf[j] == i) at = j;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t root = t.ResolveAlias(inst->arguments[a]);
        const std::uint32_t producer = t.ProducerOf(root);
        if (t.Value(root)->component == 3) continue;
        for (std::uint32_t k = 0; k < at; ++k) {
          if (!(overwritten >> k & 1) || one[k] != producer) continue;
          const IrInstruction* held = t.Instruction(one[k]);
          for (std::uint32_t r = 0; r < held->resultCount && r < 32; ++r)
            if (held->results[r] == root) read(i, a, k, r);
        }
      }
    }
  };
  forEachRead([&](std::uint32_t, std::uint32_t, std::uint32_t k, std::uint32_t r) { carried[k] |= 1u << r; });
  std::uint32_t moves = 0, copies = 0;
  for (const std::uint32_t bits : carried) {
    moves += bits != 0;
    copies += static_cast<std::uint32_t>(__builtin_popcount(bits));
  }
  if (moves == 0) return CarryAlphas14(t);
  // Past the scratch moves or temporaries the layout does not fit.
  if (t.scratchMoveCount + moves > PixelShader1Target::kScratchObjects ||
      t.scratchTemporaryCursor + copies > t.scratchTemporaryCount)
    return 1;

  std::uint32_t copyOf[kSlots][4] = {};
  for (std::uint32_t k = 0; k < kSlots; ++k) {
    if (!carried[k]) continue;
    const IrInstruction* held = t.Instruction(one[k]);
    std::uint32_t from[4], to[4], n = 0;
    for (std::uint32_t r = 0; r < held->resultCount && r < 4; ++r) {
      if (!(carried[k] >> r & 1)) continue;
      from[n] = held->results[r];
      to[n++] = copyOf[k][r] = ScratchValue(t, t.Value(held->results[r])->component);
    }
    if (FAILED(hr = AddScratchMove(t, from, to, n, one[k], true))) return hr;
  }
  forEachRead([&](std::uint32_t i, std::uint32_t a, std::uint32_t k, std::uint32_t r) {
    if (SUCCEEDED(hr) && r < 4) hr = RedirectRead(t, i, a, t.Instruction(one[k])->results[r], copyOf[k][r]);
  });
  return FAILED(hr) ? hr : CarryAlphas14(t);
}

}  // namespace gxl::shader
