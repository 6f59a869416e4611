// The ps_1_4 phase carry-over: a texld or texcrd in slot k of phase two
// writes rk, so a result of phase one's slot k that phase two still reads
// after that slot is first copied, at the end of phase one, into one of the
// target's scratch temporaries, and phase two reads the copy. The balancing
// runs it again after each instruction it moves, so a run first undoes the
// last one of the same trial.
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
  Ps1List& one = t.phaseOneList;
  std::uint32_t kept = 0;
  for (std::uint32_t k = 0; k < one.Count(); ++k)
    if (k < kSlots || !isMove(one[k])) one.At(kept++) = one[k];
  one.Truncate(kept);
  for (std::uint32_t m = 0; m < moveCount; ++m) {
    t.Instruction(moves[m])->word = 0;
    m_spareMoves.Append(moves[m]);  // reserved when made: cannot fail
  }
  t.scratchMoveCount = m_carryBaseMoves;
  t.scratchTemporaryCursor = m_carryBaseCursor;
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
  // Calls `read(instruction, argument, slot, result)` for every phase-two read of an overwritten result.
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
  if (moves == 0) return S_OK;
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
      const std::uint32_t copy = t.scratchTemporaries[t.scratchTemporaryCursor++];
      IrValue* v = t.Value(copy);
      v->component = t.Value(held->results[r])->component;
      v->reg = kNoIndex;
      v->alias = kNoIndex;
      v->binding = 0;
      v->flags = 0;
      from[n] = held->results[r];
      to[n++] = copyOf[k][r] = copy;
    }
    std::uint32_t move = kNoIndex;
    if (!m_spareMoves.Empty()) {
      move = m_spareMoves.Back();
      m_spareMoves.PopBack();
      IrInstruction* inst = t.Instruction(move);
      inst->word = IrWord(kOpMove, n);
      inst->argumentCount = inst->resultCount = n;  // at most 4: the inline arrays
      for (std::uint32_t j = 0; j < n; ++j) inst->arguments[j] = from[j], inst->results[j] = to[j];
    } else {
      move = t.AddFilledInstruction(IrWord(kOpMove, n), from, n, to, n, one[k]);
      // Undoing returns the move to the spares, which must not fail then.
      if (move == kNoIndex || !m_spareMoves.Reserve(PixelShader1Target::kScratchObjects)) return E_OUTOFMEMORY;
    }
    for (std::uint32_t j = 0; j < n; ++j) t.Value(to[j])->definingPosition = move;
    t.scratchMoves[t.scratchMoveCount++] = move;
    if (FAILED(hr = AppendEntry(t, t.phaseOneList, move))) return hr;
    while (m_inPhaseOne.Size() <= move)
      if (!m_inPhaseOne.Append(0)) return E_OUTOFMEMORY;
    m_inPhaseOne[move] = 1;
  }
  hr = S_OK;
  forEachRead([&](std::uint32_t i, std::uint32_t a, std::uint32_t k, std::uint32_t r) {
    if (FAILED(hr) || r >= 4) return;
    IrInstruction* inst = t.Instruction(i);
    const std::uint32_t original = inst->arguments[a];
    std::uint32_t read = copyOf[k][r];
    if (original != t.Instruction(one[k])->results[r]) {
      // A read through a modified alias keeps its modifier on the copy.
      if ((read = t.AddValueCopy(t.Value(original))) == kNoIndex) {
        hr = E_OUTOFMEMORY;
        return;
      }
      t.Value(read)->alias = copyOf[k][r];
    }
    if (!m_carriedReads.Append(CarriedRead{i, a, original})) {
      hr = E_OUTOFMEMORY;
      return;
    }
    t.Instruction(i)->arguments[a] = read;
  });
  return hr;
}

}  // namespace gxl::shader
