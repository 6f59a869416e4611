// RoundUpkeep: the images of the program, their comparison after each pass,
// the index of readers and writers with the use analysis set from it, and
// the redirection passes over what may be redirected.
#include "gxl/shader/backend/opt/round_upkeep.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <malloc.h>
#include <new>
#include <type_traits>

#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/backend/opt/round_upkeep_parts.h"
#include "gxl/shader/backend/opt/round_upkeep_stores.h"

namespace gxl::shader {

namespace {

using upkeep::Grow;
using upkeep::SameApartFromUses;

bool SameBank(const RegisterBank& a, const RegisterBank& b) {
  return a.name == b.name && a.type == b.type && a.registerCount == b.registerCount && a.components == b.components &&
         a.registersUsed == b.registersUsed && a.word5 == b.word5 && a.word6 == b.word6 && a.word7 == b.word7 &&
         a.definitions == b.definitions && a.word9 == b.word9 && a.firstRelativeUse == b.firstRelativeUse &&
         a.lastRelativeUse == b.lastRelativeUse && a.relativeUseCount == b.relativeUseCount;
}

}  // namespace

// Tests that serve every program (roundUpkeepFrom 0) serve it from the first
// round on, whatever the upkeep costs, so that its check meets every road.
RoundUpkeep::RoundUpkeep(ShaderProgram& p)
    : m_p(p), m_everyRound(p.roundUpkeepFrom == 0), m_retryRound(m_everyRound ? 1 : 2) {}

RoundUpkeep::~RoundUpkeep() { Drop(); }

// --- Running the passes ---------------------------------------------------------------

HRESULT RoundUpkeep::Run(RoundPass pass) {
  if (pass == RoundPass::Fold) {
    ++m_round;
    if (m_ready && ++m_readyRounds == 8) m_retryGap = 1;  // it holds: a later loss is no pattern
    // The first rounds run as they always did: the first is where most of
    // the lowering's leftovers go, all at once, and most programs are done
    // after two or three; the upkeep's set-up pays off over more.
    if (!m_ready && m_round >= m_retryRound && m_p.instructions.Count() >= m_p.roundUpkeepFrom) {
      m_readyRounds = 0;
      if (!Build()) Shed();
    }
  }
  if (!m_ready) return ChargeOwed(RunOwn(pass));
  std::unique_ptr<Shadow> shadow = m_p.checkRoundUpkeep ? MakeShadow(pass) : nullptr;
  const HRESULT hr = RunIncremental(pass);
  if (shadow) Compare(*shadow, hr);
  return ChargeOwed(hr);
}

HRESULT RoundUpkeep::ChargeOwed(HRESULT status) {
  const std::uint64_t owed = m_owed;
  m_owed = 0;
  if (FAILED(status) || owed == 0) return status;
  const HRESULT hr = m_p.ChargeWork(owed);
  return FAILED(hr) ? hr : status;
}

HRESULT RunRoundPass(ShaderProgram& p, RoundPass pass) {
  static constexpr std::uint32_t kRates[] = {workrate::kFold,       workrate::kDeadCode,   workrate::kComponents,
                                             workrate::kCommon,     workrate::kEquivalent, workrate::kArithmetic,
                                             workrate::kIndexes,    workrate::kPredicates, workrate::kGuards};
  if (const HRESULT hr = p.ChargeWalk(kRates[static_cast<std::uint32_t>(pass)]); FAILED(hr)) return hr;
  switch (pass) {
    case RoundPass::Fold: return p.FoldConstants();
    case RoundPass::DeadCode: return p.RemoveDeadCode();
    case RoundPass::Components: return p.MergeDuplicateComponents();
    case RoundPass::Common: return p.MergeCommonInstructions(0);
    case RoundPass::Equivalent: return p.MergeEquivalentValues();
    case RoundPass::Arithmetic: return p.SimplifyArithmetic();
    case RoundPass::Indexes: return p.ResolveConstantIndexes();
    case RoundPass::Predicates: return p.SimplifyPredicates();
    case RoundPass::Guards: return p.RecomputePredicates();
  }
  return E_FAIL;
}

HRESULT RoundUpkeep::RunOwn(RoundPass pass) { return RunRoundPass(m_p, pass); }

HRESULT RoundUpkeep::RunIncremental(RoundPass pass) {
  ++m_p.roundUpkeepPasses;
  switch (pass) {
    case RoundPass::Fold: return FoldConstants();
    case RoundPass::DeadCode: return RemoveDeadCode();
    case RoundPass::Components: return MergeDuplicateComponents();
    case RoundPass::Common: return MergeCommonInstructions();
    case RoundPass::Equivalent: return MergeEquivalentValues();
    case RoundPass::Arithmetic: return SimplifyArithmetic();
    case RoundPass::Indexes: return ResolveConstantIndexes();
    case RoundPass::Predicates: return SimplifyPredicates();
    case RoundPass::Guards: return RecomputePredicates();
  }
  return E_FAIL;
}

HRESULT RoundUpkeep::RunFull(RoundPass pass) {
  if (m_watching) Stop();
  const HRESULT hr = RunOwn(pass);
  if (SUCCEEDED(hr)) Collect(true);
  return hr;
}

HRESULT RoundUpkeep::Finish() {
  Drop();
  if (const HRESULT hr = ChargeOwed(S_OK); FAILED(hr)) return hr;
  // Incremental refreshes leave the coalescing links as they were; the last
  // pass's full rebuild would have set them, with every other field as it
  // stands (its changes, to guards, touch none).
  return m_refreshed ? m_p.RebuildDefUse() : S_OK;
}

// --- Set-up ---------------------------------------------------------------------------

void RoundUpkeep::Shed() {
  Drop();
  // A program that leaves the class, or changes wholesale, mostly goes on
  // so: look again later, and less often each time.
  m_retryRound = m_round + m_retryGap;
  m_retryGap = std::min(m_retryGap * 2, 64u);
}

bool RoundUpkeep::Build() {
  Drop();
  try {
    const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
    Owe(std::uint64_t{valueCount} + count, workrate::kUpkeepSetup);
    for (std::uint32_t v = 0; v < valueCount; ++v)
      if (!upkeep::ValueInClass(m_p.values.Peek(v), v)) return false;
    for (std::uint32_t p = 0; p < count; ++p) {
      const IrInstruction* inst = m_p.instructions.Peek(p);
      if (inst && !upkeep::WordInClass(inst->word, inst->resultCount)) return false;
    }
    m_banks.clear();
    for (std::uint32_t b = 0; b < m_p.banks.Count(); ++b) {
      const RegisterBank* bank = m_p.banks.Peek(b);
      m_banks.push_back(bank ? *bank : RegisterBank{});
    }
    m_images.reset(new upkeep::ValueImages);
    m_images->SetTemplate(valueCount, [&](std::uint32_t v) { return m_p.values.Peek(v); });
    m_images->Grow(valueCount);
    for (std::uint32_t v = 0; v < valueCount; ++v) m_images->Take(v, m_p.values.Peek(v));
    m_instructions.assign(count, InstructionImage{});
    m_operands.clear();
    for (std::uint32_t p = 0; p < count; ++p) TakeImage(p);
    m_valueCount = valueCount;
    m_instructionCount = count;

    m_readers.reset(new upkeep::ReaderLists);
    m_readers->Grow(valueCount);
    m_writer.assign(valueCount, kNoIndex);
    m_uses.assign(valueCount, 0);
    for (std::uint32_t p = 0; p < count; ++p) {
      const IrInstruction* inst = m_p.instructions.Peek(p);
      if (!inst) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t v = inst->arguments[a];
        if (v >= valueCount) continue;
        m_readers->Insert(v, p);
        m_uses[v] += !opt::IsEmpty(inst);
      }
      for (std::uint32_t r = 0; r < inst->resultCount && !opt::IsEmpty(inst); ++r) {
        const std::uint32_t v = inst->results[r];
        if (v >= valueCount) continue;
        if (m_writer[v] != kNoIndex) return false;  // written twice
        m_writer[v] = p;
      }
    }
    m_positionStamps.assign(count, 0);
    for (std::uint32_t p = 0; p < count; ++p)
      if (!Topological(p)) return false;
    m_flow = false;
    for (std::uint32_t v = 0; v < valueCount && !m_flow; ++v) {
      const IrValue* x = m_p.values.Peek(v);
      m_flow = x && x->predicate != kNoIndex;
    }
    for (std::uint32_t p = 0; p < count && !m_flow; ++p) {
      const IrInstruction* inst = m_p.instructions.Peek(p);
      m_flow = inst && upkeep::IsFlowWord(inst->word);
    }

    // The use fields of every value are set at the first refresh, as the
    // passes' next rebuild would set them.
    m_useStamps.assign(valueCount, 0);
    m_useDirty.clear();
    for (std::uint32_t v = 0; v < valueCount; ++v) MarkUses(v);
    m_unnumbered.clear();
    m_redirectedTo.clear();
    m_unnumberedMark.assign(valueCount, 0);
    for (std::uint32_t v = 0; v < valueCount; ++v) {
      const IrValue* x = m_p.values.Peek(v);
      if (x && x->renumber != v) {
        m_unnumbered.push_back(v);
        m_unnumberedMark[v] = 1;
        m_redirectedTo[x->renumber].push_back(v);
      }
    }
    m_changedPosition.assign(count, 0);
    m_visitStamps.assign(count, 0);
    m_reachStamps.assign(valueCount, 0);
    m_reachLeft.assign(valueCount, 0);
    m_reachBuckets.assign(upkeep::kReach + 2, {});
    for (Pending& q : m_pending) {
      q.marked.assign(count, 0);
      q.list.clear();
      q.all = true;
    }
    m_tables.reset(new Tables);
    BuildTables();
    m_outOfClass = 0;
    m_tangled = m_flowChanged = false;
    m_ready = true;
    return true;
  } catch (const std::bad_alloc&) {
    Drop();
    return false;
  }
}

void RoundUpkeep::Drop() {
  if (m_watching) {
    m_p.values.Watch(nullptr);
    m_p.instructions.Watch(nullptr);
    m_watching = false;
  }
  m_ready = false;
  m_tables.reset();
  m_images.reset();
  std::vector<IrValue>().swap(m_oldValues);
  std::vector<std::uint8_t>().swap(m_oldPresent);
  std::vector<InstructionImage>().swap(m_instructions);
  std::vector<std::uint32_t>().swap(m_operands);
  m_readers.reset();
  std::vector<std::uint32_t>().swap(m_uses);
  std::vector<std::uint32_t>().swap(m_writer);
  std::vector<std::uint32_t>().swap(m_useDirty);
  std::vector<std::uint32_t>().swap(m_useStamps);
  std::vector<std::uint32_t>().swap(m_unnumbered);
  m_redirectedTo.clear();
  std::vector<std::uint8_t>().swap(m_unnumberedMark);
  for (Pending& q : m_pending) {
    std::vector<std::uint8_t>().swap(q.marked);
    std::vector<std::uint32_t>().swap(q.list);
    q.all = false;
  }
  const bool held = m_valueCount != 0;
  m_valueCount = m_instructionCount = 0;
  m_outOfClass = 0;
  m_tangled = m_flow = m_flowChanged = false;
  // What the upkeep held goes back to the system, so that the later phases
  // do not stand on top of it.
  if (held) malloc_trim(0);
}

void RoundUpkeep::Attach() {
  if (!m_ready || m_watching) return;
  m_valueJournal.NextRound();
  m_valueJournal.SetBase(m_valueCount);
  m_instructionJournal.NextRound();
  m_instructionJournal.SetBase(m_instructionCount);
  m_p.values.Watch(&m_valueJournal);
  m_p.instructions.Watch(&m_instructionJournal);
  m_watching = true;
}

bool RoundUpkeep::Stop() {
  if (!m_watching) return m_ready;
  const bool held = Collect(false);
  if (m_watching) {
    m_p.values.Watch(nullptr);
    m_p.instructions.Watch(nullptr);
    m_watching = false;
  }
  return held;
}

// --- Comparison -------------------------------------------------------------------------

bool RoundUpkeep::ValueChanged(std::uint32_t v) const {
  const IrValue* x = m_p.values.Peek(v);
  if (!x || !m_images->Present(v)) return (x != nullptr) != m_images->Present(v);
  return !m_images->Same(v, *x);
}

bool RoundUpkeep::InstructionChanged(std::uint32_t position) const {
  const IrInstruction* x = m_p.instructions.Peek(position);
  const InstructionImage& i = m_instructions[position];
  if (x != i.node) return true;
  if (!x) return false;
  if (x->word != i.word || x->argumentCount != i.argumentCount || x->resultCount != i.resultCount ||
      x->pinned != i.pinned || x->word10 != i.word10 || x->level != i.level || x->predicate != i.predicate ||
      x->word14 != i.word14 || x->statementSequence != i.statementSequence || x->inlineDepth != i.inlineDepth ||
      x->orderKey != i.orderKey || x->sourcePosition != i.sourcePosition)
    return true;
  const std::uint32_t* operands = m_operands.data() + i.offset;
  return !std::equal(x->arguments, x->arguments + x->argumentCount, operands) ||
         !std::equal(x->results, x->results + x->resultCount, operands + x->argumentCount);
}

void RoundUpkeep::TakeImage(std::uint32_t position) {
  const IrInstruction* x = m_p.instructions.Peek(position);
  InstructionImage& i = m_instructions[position];
  i.node = x;
  if (!x) {
    i.word = i.argumentCount = i.resultCount = 0;
    return;
  }
  i.word = x->word;
  i.argumentCount = x->argumentCount;
  i.resultCount = x->resultCount;
  i.pinned = x->pinned;
  i.word10 = x->word10;
  i.level = x->level;
  i.predicate = x->predicate;
  i.word14 = x->word14;
  i.statementSequence = x->statementSequence;
  i.inlineDepth = x->inlineDepth;
  i.orderKey = x->orderKey;
  i.sourcePosition = x->sourcePosition;
  const std::uint32_t n = x->argumentCount + x->resultCount;
  if (n > i.capacity) {
    i.offset = static_cast<std::uint32_t>(m_operands.size());
    i.capacity = n;
    m_operands.resize(m_operands.size() + n);
  }
  std::copy(x->arguments, x->arguments + x->argumentCount, m_operands.begin() + i.offset);
  std::copy(x->results, x->results + x->resultCount, m_operands.begin() + i.offset + x->argumentCount);
}

const std::uint32_t* RoundUpkeep::ImageArguments(std::uint32_t position) const {
  return m_operands.data() + m_instructions[position].offset;
}

const std::uint32_t* RoundUpkeep::ImageResults(std::uint32_t position) const {
  return ImageArguments(position) + m_instructions[position].argumentCount;
}

bool RoundUpkeep::Collect(bool all, bool banks) {
  if (!m_ready) return false;
  try {
    const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
    bool lost = (m_watching && (m_valueJournal.Lost() || m_instructionJournal.Lost())) || valueCount < m_valueCount ||
                count < m_instructionCount || m_p.banks.Count() != m_banks.size();
    for (std::uint32_t b = 0; banks && b < m_p.banks.Count() && !lost; ++b) {
      const RegisterBank* bank = m_p.banks.Peek(b);
      lost = !bank || !SameBank(*bank, m_banks[b]);
    }
    if (lost) {
      Shed();
      return false;
    }
    m_changedValues.clear();
    m_changedPositions.clear();
    if (all || !m_watching) {
      Owe(std::uint64_t{m_valueCount} + m_instructionCount, workrate::kUpkeepCompare);
      for (std::uint32_t v = 0; v < m_valueCount; ++v)
        if (ValueChanged(v)) m_changedValues.push_back(v);
      for (std::uint32_t p = 0; p < m_instructionCount; ++p)
        if (InstructionChanged(p)) m_changedPositions.push_back(p);
    } else {
      const std::uint32_t* noted = m_valueJournal.Noted();
      for (std::size_t k = 0; k < m_valueJournal.NotedCount(); ++k)
        if (noted[k] < m_valueCount && ValueChanged(noted[k])) m_changedValues.push_back(noted[k]);
      noted = m_instructionJournal.Noted();
      for (std::size_t k = 0; k < m_instructionJournal.NotedCount(); ++k)
        if (noted[k] < m_instructionCount && InstructionChanged(noted[k])) m_changedPositions.push_back(noted[k]);
    }
    for (std::uint32_t v = m_valueCount; v < valueCount; ++v) m_changedValues.push_back(v);
    for (std::uint32_t p = m_instructionCount; p < count; ++p) m_changedPositions.push_back(p);
    if (m_watching) {
      m_valueJournal.NextRound();
      m_instructionJournal.NextRound();
    }
    // Most of the program changed: the upkeep costs more than the passes.
    if (!m_everyRound && (m_changedValues.size() + m_changedPositions.size()) * 8 > std::uint64_t{valueCount} + count) {
      Shed();
      return false;
    }
    if (!m_changedValues.empty() || !m_changedPositions.empty()) {
      m_oldValues.resize(m_changedValues.size());
      m_oldPresent.resize(m_changedValues.size());
      for (std::size_t k = 0; k < m_changedValues.size(); ++k) {
        const std::uint32_t v = m_changedValues[k];
        m_oldPresent[k] = v < m_valueCount && m_images->Get(v, &m_oldValues[k]);
      }
      Dispatch();
      m_images->Grow(valueCount);
      for (std::uint32_t v : m_changedValues) m_images->Take(v, m_p.values.Peek(v));
      Grow(m_instructions, count);
      for (std::uint32_t p : m_changedPositions) TakeImage(p);
      m_valueCount = valueCount;
      m_instructionCount = count;
    }
    if (m_watching) {
      m_valueJournal.SetBase(m_valueCount);
      m_instructionJournal.SetBase(m_instructionCount);
    }
    if (m_outOfClass || m_tangled) {
      Drop();
      return false;
    }
    if (m_flowChanged) {
      // The blocks moved: set up again once they have settled.
      Shed();
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    Drop();
    return false;
  }
}

// --- What changed ------------------------------------------------------------------------

void RoundUpkeep::Dispatch() {
  const std::uint32_t valueCount = m_p.values.Count(), count = m_p.instructions.Count();
  m_readers->Grow(valueCount);
  Grow(m_writer, valueCount, kNoIndex);
  Grow(m_uses, valueCount, 0u);
  Grow(m_useStamps, valueCount, 0u);
  Grow(m_unnumberedMark, valueCount, std::uint8_t{0});
  Grow(m_changedPosition, count, std::uint8_t{0});
  Grow(m_positionStamps, count, 0u);
  Grow(m_visitStamps, count, 0u);
  Grow(m_reachStamps, valueCount, 0u);
  Grow(m_reachLeft, valueCount, 0u);
  for (Pending& q : m_pending) Grow(q.marked, count, std::uint8_t{0});

  // The index, and the class, of what the instructions name: writers that
  // stopped first, so that a value's new writer finds it free.
  for (std::uint32_t p : m_changedPositions) {
    if (p >= m_instructionCount || !m_instructions[p].node) continue;
    const std::uint32_t* results = ImageResults(p);
    for (std::uint32_t r = 0; r < m_instructions[p].resultCount; ++r)
      if (results[r] < m_writer.size() && m_writer[results[r]] == p) m_writer[results[r]] = kNoIndex;
  }
  for (std::uint32_t p : m_changedPositions) {
    m_changedPosition[p] = 1;
    const std::uint32_t* oldArguments = nullptr;
    std::uint32_t oldCount = 0;
    if (p < m_instructionCount && m_instructions[p].node) {
      const InstructionImage& old = m_instructions[p];
      if (!upkeep::WordInClass(old.word, old.resultCount)) --m_outOfClass;
      m_flowChanged |= upkeep::IsFlowWord(old.word);
      const std::uint32_t* operands = ImageArguments(p);
      for (std::uint32_t k = 0; k < old.argumentCount + old.resultCount; ++k) MarkUses(operands[k]);
      oldArguments = operands;
      oldCount = old.argumentCount;
      if (old.word >= 0x100000)
        for (std::uint32_t a = 0; a < old.argumentCount; ++a)
          if (operands[a] < m_uses.size()) --m_uses[operands[a]];
    }
    if (const IrInstruction* inst = m_p.instructions.Peek(p)) {
      if (!upkeep::WordInClass(inst->word, inst->resultCount)) ++m_outOfClass;
      m_flowChanged |= upkeep::IsFlowWord(inst->word);
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t v = inst->arguments[a];
        if (v >= valueCount) continue;
        m_uses[v] += !opt::IsEmpty(inst);
        MarkUses(v);
        // Sorted, each reader once; a reader that stopped is dropped when met.
        if (std::find(oldArguments, oldArguments + oldCount, v) != oldArguments + oldCount) continue;
        m_readers->Insert(v, p);
      }
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
        const std::uint32_t v = inst->results[r];
        if (v >= valueCount) continue;
        MarkUses(v);
        if (opt::IsEmpty(inst)) continue;
        m_tangled |= m_writer[v] != kNoIndex;  // a second writer
        m_writer[v] = p;
      }
    }
  }
  bool redirected = false;
  for (std::size_t k = 0; k < m_changedValues.size(); ++k) {
    const std::uint32_t v = m_changedValues[k];
    const IrValue* old = OldValue(k);
    const IrValue* x = m_p.values.Peek(v);
    if (!upkeep::ValueInClass(old, v)) --m_outOfClass;
    if (!upkeep::ValueInClass(x, v)) ++m_outOfClass;
    m_flowChanged |= FlowChange(old, x);
    if (!old) MarkUses(v);
    if (x && x->renumber != v) {
      m_redirectedTo[x->renumber].push_back(v);
      if (!m_unnumberedMark[v]) {
        m_unnumberedMark[v] = 1;
        m_unnumbered.push_back(v);
      }
    }
    redirected |= old && x && old->renumber != x->renumber;
  }
  if (m_outOfClass || m_flowChanged) return;

  // An instruction reads what an earlier one wrote, once.
  for (std::uint32_t p : m_changedPositions) {
    m_tangled |= !Topological(p);
    if (const IrInstruction* inst = m_p.instructions.Peek(p)) {
      for (std::uint32_t r = 0; r < inst->resultCount && !m_tangled; ++r) {
        Readers(inst->results[r], m_list2);
        for (std::uint32_t q : m_list2) m_tangled |= !Topological(q);
      }
    }
  }
  if (m_tangled) return;

  for (std::uint32_t p : m_changedPositions) {
    TablesNoteInstruction(p, p < m_instructionCount);
    if (m_flow) IndexGuarded(p);
  }
  for (std::size_t k = 0; k < m_changedValues.size(); ++k) TablesNoteValue(m_changedValues[k], OldValue(k));
  TablesSettle();

  // The walks: what each step reads, as far as it looks.
  for (std::uint32_t p : m_changedPositions) {
    MarkWalk(kComponentWalk, p);
    MarkWalk(kDropWalk, p);
    MarkReach(p);
    // What reads its results, as they were and are.
    if (const IrInstruction* inst = m_p.instructions.Peek(p))
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) Spread(inst->results[r], upkeep::kReach);
    if (p < m_instructionCount && m_instructions[p].node) {
      const std::uint32_t* results = ImageResults(p);
      for (std::uint32_t r = 0; r < m_instructions[p].resultCount; ++r) Spread(results[r], upkeep::kReach);
    }
  }
  for (std::size_t k = 0; k < m_changedValues.size(); ++k) {
    const std::uint32_t v = m_changedValues[k];
    const IrValue* old = OldValue(k);
    const IrValue* x = m_p.values.Peek(v);
    if (old && x && SameApartFromUses(*old, *x)) {
      // Only the use fields: the folds and the simplifier ask how often a
      // computed value is read, of their own arguments and results.
      if (old->useCount == x->useCount || !(opt::BankTypeOf(m_p, v) & kBankWritable)) continue;
      Writers(v, m_list);
      for (std::uint32_t w : m_list) MarkReach(w);
      Readers(v, m_list);
      for (std::uint32_t r : m_list) MarkReach(r);
      continue;
    }
    const bool guard = !old || !x || old->bank != x->bank || old->predicate != x->predicate ||
                       old->predicateSense != x->predicateSense || old->relativeIndex != x->relativeIndex;
    Writers(v, m_list);
    for (std::uint32_t w : m_list) {
      if (guard) MarkWalk(kComponentWalk, w);
      if (guard) MarkWalk(kDropWalk, w);
      MarkReach(w);
    }
    Readers(v, m_list);
    for (std::uint32_t r : m_list) {
      if (!old || !x || old->renumber != x->renumber) MarkWalk(kComponentWalk, r);
      // A merge drops the side that is never written.
      if (guard && m_flow) MarkWalk(kDropWalk, r);
    }
    Spread(v, upkeep::kReach + 1);
  }
  // A redirection moves the root of every value redirected to the one moved.
  if (redirected) {
    std::vector<std::uint32_t> moved;
    for (std::size_t k = 0; k < m_changedValues.size(); ++k) {
      const IrValue* old = OldValue(k);
      const IrValue* x = m_p.values.Peek(m_changedValues[k]);
      if (old && x && old->renumber != x->renumber) moved.push_back(m_changedValues[k]);
    }
    while (!moved.empty()) {
      const std::uint32_t target = moved.back();
      moved.pop_back();
      const auto to = m_redirectedTo.find(target);
      if (to == m_redirectedTo.end()) continue;
      for (std::uint32_t u : to->second) {
        const IrValue* x = m_p.values.Peek(u);
        if (!x || x->renumber != target || u == target) continue;
        moved.push_back(u);
        Readers(u, m_list);
        for (std::uint32_t r : m_list) MarkWalk(kComponentWalk, r);
        Spread(u, upkeep::kReach + 1);
      }
    }
  }
  Reach();
  for (std::uint32_t p : m_changedPositions) m_changedPosition[p] = 0;
}

// --- Index ------------------------------------------------------------------------------

bool RoundUpkeep::Reads(std::uint32_t position, std::uint32_t value) const {
  const IrInstruction* inst = m_p.instructions.Peek(position);
  return inst &&
         std::find(inst->arguments, inst->arguments + inst->argumentCount, value) != inst->arguments + inst->argumentCount;
}

void RoundUpkeep::Readers(std::uint32_t value, std::vector<std::uint32_t>& out) {
  out.clear();
  if (value >= m_readers->Size()) return;
  m_readers->Filter(value, [&](std::uint32_t p) { return Reads(p, value); });
  out.assign(m_readers->Begin(value), m_readers->Begin(value) + m_readers->Count(value));
}

// The first and last non-empty instruction reading the value (0 for none,
// as RebuildDefUse leaves lastUse); readers that stopped at either end go.
void RoundUpkeep::UseWindow(std::uint32_t value, std::uint32_t* first, std::uint32_t* last) {
  *first = kNoIndex;
  *last = 0;
  if (value >= m_readers->Size() || m_uses[value] == 0) return;
  const std::uint32_t* list = m_readers->Begin(value);
  std::uint32_t from = 0, to = m_readers->Count(value);
  while (from < to && !Reads(list[from], value)) ++from;
  while (to > from && !Reads(list[to - 1], value)) --to;
  m_readers->Trim(value, from, to);
  const std::uint32_t n = m_readers->Count(value);
  for (std::uint32_t k = 0; k < n; ++k) {
    if (opt::IsEmpty(m_p.instructions.Peek(list[k])) || !Reads(list[k], value)) continue;
    *first = list[k];
    break;
  }
  for (std::uint32_t k = n; k-- > 0;) {
    if (opt::IsEmpty(m_p.instructions.Peek(list[k])) || !Reads(list[k], value)) continue;
    *last = list[k];
    break;
  }
  // Stopped readers in between are dropped once they outnumber the rest.
  if (n > 2 * std::size_t{m_uses[value]} + 16) Readers(value, m_list2);
}

void RoundUpkeep::Writers(std::uint32_t value, std::vector<std::uint32_t>& out) {
  out.clear();
  if (const std::uint32_t w = Writer(value); w != kNoIndex) out.push_back(w);
}

std::uint32_t RoundUpkeep::Writer(std::uint32_t value) const {
  return value < m_writer.size() ? m_writer[value] : kNoIndex;
}

bool RoundUpkeep::Topological(std::uint32_t position) const {
  const IrInstruction* inst = m_p.instructions.Peek(position);
  if (opt::IsEmpty(inst)) return true;
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
    const std::uint32_t w = Writer(inst->arguments[a]);
    if (w != kNoIndex && w >= position) return false;
  }
  for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
    const IrValue* x = m_p.values.Peek(inst->results[r]);
    if (!x) return false;
    // Its guard stands before it (RemoveDeadCode raises guards as it walks back).
    const std::uint32_t w = x->predicate != kNoIndex ? Writer(x->predicate) : kNoIndex;
    if (w != kNoIndex && w >= position) return false;
  }
  return true;
}

void RoundUpkeep::MarkUses(std::uint32_t value) {
  if (value >= m_useStamps.size() || m_useStamps[value] == m_useRound) return;
  m_useStamps[value] = m_useRound;
  m_useDirty.push_back(value);
}

HRESULT RoundUpkeep::RefreshUses() {
  if (!m_ready) return m_p.RebuildDefUse();
  m_refreshed = true;
  std::uint64_t work = m_useDirty.size();
  try {
    for (std::uint32_t v : m_useDirty) {
      const IrValue* x = m_p.values.Peek(v);
      if (!x) continue;
      std::uint32_t first, last;
      UseWindow(v, &first, &last);
      const std::uint32_t uses = m_uses[v];
      const std::uint32_t defining = Writer(v);
      if (x->firstUse != first || x->lastUse != last || x->useCount != uses || x->definingPosition != defining ||
          x->earliestDefinition != kNoIndex || x->latestDefinition != kNoIndex) {
        IrValue& y = *m_p.values[v];
        y.firstUse = first;
        y.lastUse = last;
        y.useCount = uses;
        y.definingPosition = defining;
        y.earliestDefinition = y.latestDefinition = kNoIndex;
      }
    }
  } catch (const std::bad_alloc&) {
    // The index is out of step: the full rebuild, and the upkeep ends.
    Drop();
    return m_p.RebuildDefUse();
  }
  m_useDirty.clear();
  if (++m_useRound == 0) {
    std::fill(m_useStamps.begin(), m_useStamps.end(), 0u);
    m_useRound = 1;
  }
  return m_p.ChargeWork(work);
}

void RoundUpkeep::NumberValues() {
  if (!m_ready) return m_p.NumberValues();
  for (std::uint32_t u : m_unnumbered) {
    const IrValue* x = m_p.values.Peek(u);
    if (x && x->renumber != u) m_p.values[u]->renumber = u;
    m_unnumberedMark[u] = 0;
  }
  m_unnumbered.clear();
  m_redirectedTo.clear();
}

bool RoundUpkeep::ForwardRedirections() {
  if (!Collect(false)) {
    // The arguments as ShaderProgram's pass leaves them (a rerun of the
    // pass over what the upkeep forwarded is a no-op).
    opt::ForwardRedirections(m_p);
    return true;
  }
  try {
    m_list.clear();
    for (std::uint32_t u : m_unnumbered) {
      const IrValue* x = m_p.values.Peek(u);
      if (x && opt::Root(m_p, u) != u) m_list.push_back(u);
    }
    if (m_list.empty()) return false;
    const std::vector<std::uint32_t> redirected = m_list;
    for (std::uint32_t u : redirected) {
      const std::uint32_t root = opt::Root(m_p, u);
      Readers(u, m_list);
      for (std::uint32_t p : m_list) {
        IrInstruction& inst = *m_p.instructions[p];
        std::replace(inst.arguments, inst.arguments + inst.argumentCount, u, root);
      }
    }
  } catch (const std::bad_alloc&) {
    Drop();
    opt::ForwardRedirections(m_p);
    return true;
  }
  NumberValues();
  return true;
}

}  // namespace gxl::shader
