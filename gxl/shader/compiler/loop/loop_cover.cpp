// Loops whose exact simulation would pass the lowering's bound. A loop of
// uniform length is simulated through every pass it may run, and loops
// inside it in each of those passes: each shape taught to the simulation
// (settling, memos, widened entries) leaves the next one past the bound.
// Where the outermost exact simulation would pass its share of what is left
// of the bound (a projection after a few passes, loop_projection.cpp), or
// meets the bound's ceiling, it is given up (its work refunded, its messages
// dropped) and the loop is compiled from
// facts that cover every pass: each symbol the loop moves enters as a
// loop-entry value whose facts cover its start and whatever a pass makes of
// them (widened until a pass stays within them), the counter over its whole
// range, and where the condition and step alone do not decide the trip
// count, a break on the condition up to the iteration limit. Where they do,
// the settled pass from the first pass on (loop_settle.cpp) gives the trip
// count as the full simulation would. Such a loop is covered wherever it is
// met again in the compile. A program whose loops are cheap to simulate
// never takes this path, so its code stays as it was.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

using namespace loops;

namespace {

// Simulations given up may be refunded up to this many times the lowering's
// bound in all: past it the compile ends at the bound.
constexpr std::uint64_t kRefundedBounds = 2;
// Rounds of the covering pass that widen its entry facts; past them every
// symbol it moves enters with no facts at all.
constexpr std::uint32_t kCoverRounds = 6;
// A simulation or covering pass that meets the bounds is refunded only where
// it began with more than 1 / kRoomShare of the lowering's bound left, and
// short of the work budget's ceiling.
constexpr std::uint64_t kRoomShare = 4;
// The work a reference check's full simulation may take, in the lowering's
// bounds.
constexpr std::uint64_t kCheckedBounds = 4;

}  // namespace

bool ShaderCompiler::PastCeiling() {
  if (m_loop->pastCeiling) return true;
  if (m_loop->checkCeiling) return m_loop->pastCeiling = m_loop->instructionsBuilt >= m_loop->checkCeiling;
  if ((!m_loop->exactSimulations && !m_loop->coverPasses) || Unmeasured()) return false;
  // A simulation inside another past its share is given up on its own: the
  // loops around it go on, it covered. (So is the simulation around an
  // unrolling past its share, or the covering pass around it.)
  bool outermost = false;
  const std::size_t level = LevelPastShare(&outermost);
  if (level != kNoLevel) {
    m_loop->cutLevel = level == kCoverPassLevel ? kNoLevel : level;
    m_loop->projected = outermost;
    return m_loop->pastCeiling = true;
  }
  // An eighth of the lowering's bound and of the work budget stays for the
  // loop's own code and the rest of the program.
  const std::uint64_t ceiling = loweringBuildLimit - loweringBuildLimit / kReservedShare;
  m_loop->ceilingOfBudget = SimulationBudgetWork() >= workGranted - workGranted / kReservedShare;
  bool past = SimulationWork() >= ceiling || m_loop->ceilingOfBudget;
  // Without the reference switch the simulation work is the metered work,
  // and the budgets it is metered against stop it as well.
  if (!referenceSearches && !target->unmeteredWork)
    past = past || loweringBuilt >= ceiling ||
           std::uint64_t{ValueCount()} + InstructionCount() >=
               loweringRecordLimit - loweringRecordLimit / kReservedShare;
  if (past) m_loop->cutLevel = OutermostSimulation();
  return m_loop->pastCeiling = past;
}

bool ShaderCompiler::Refund(const SpentWork& at, bool projected) {
  const std::uint64_t wasted = SimulationWork() - at.simulation;
  if (target->workExhausted || m_loop->refundedBuilt + wasted > kRefundedBounds * loweringBuildLimit) return false;
  // Begun with little of the bounds left, it met them for what the program
  // had spent before it: the compile is at its bound. (A projection gives
  // up a few passes, within the share of what was left.)
  if (!projected && (at.simulation >= loweringBuildLimit - loweringBuildLimit / kRoomShare ||
                     kLoweringWork * at.simulation + at.bankWork >= workGranted - workGranted / kReservedShare))
    return false;
  m_loop->refundedBuilt += wasted;
  m_loop->reusedBankWork = at.bankWork;
  loweringBuilt = at.built;
  target->workLeft = at.left;
  return true;
}

HRESULT ShaderCompiler::FindLoopFacts(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                      std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st,
                                      LoopFindings* found) {
  // A reference check simulates every loop, as the compile without covering.
  const bool checking = m_loop->checkCeiling != 0;
  if (!checking && std::find(m_loop->coveredNodes.Data(), m_loop->coveredNodes.Data() + m_loop->coveredNodes.Size(), node) !=
                       m_loop->coveredNodes.Data() + m_loop->coveredNodes.Size()) {
    // Inside a covering pass, or inside a simulation, its facts serve that
    // pass alone (its code comes where the loop around it is emitted): one
    // pass covers it, in a simulation unless it writes what decides the trip
    // count of a loop around it.
    std::vector<std::uint8_t> written;
    if (!Unmeasured() && (InsideCoverPass() || UnrollingPastShare() || (OutermostSimulation() != kNoLevel &&
                                                 LoopWrites(init, condition, body, &written) &&
                                                 !DecidesEnclosingTrip(m_loop->loopFrames.size() - 1, written))))
      return CoverInsidePass(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st,
                             found);
    // Nothing covers it here: the loop is unrolled instead.
    const HRESULT covered =
        CoverLoop(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
    return covered == S_FALSE ? E_FAIL : covered;
  }
  // A covering pass simulates nothing: what it meets is covered in one pass;
  // so do the passes of an unrolling that has spent its share.
  if (!checking && !Unmeasured() && (InsideCoverPass() || UnrollingPastShare()))
    return CoverInsidePass(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
  if (checking || (m_loop->exactSimulations && (Unmeasured() || m_loop->levels.empty()))) {
    const OpenCount open(m_loop->exactSimulations);
    const HRESULT hr =
        SimulateEntry(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
    return m_loop->pastCeiling ? E_FAIL : hr;
  }
  return SimulateLevel(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
}

HRESULT ShaderCompiler::SimulateLevel(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                      std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st,
                                      LoopFindings* found) {
  // Where the simulation passes its share, all it did is undone, its
  // messages with it.
  LoweringMark mark(*this);
  if (!mark.Saved()) return OutOfMemory(node);
  const SpentWork spent = SpentSoFar();
  const bool outermost = m_loop->levels.empty();
  CaughtMessages caught;
  HRESULT hr;
  if (outermost) m_loop->projected = false;
  const std::size_t level = m_loop->levels.size();
  const Projection projection = OpenProjection();
  {
    const MessageCatch catching(*this, caught);
    const OpenCount open(m_loop->exactSimulations);
    m_loop->levels.push_back(projection);
    struct Projecting {
      ShaderCompiler& c;
      ~Projecting() { c.m_loop->levels.pop_back(); }
    } projecting{*this};
    hr = SimulateEntry(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
  }
  if (!m_loop->pastCeiling) {
    // Delivered again, they count once.
    reportedMessages -= static_cast<std::uint32_t>(caught.lines.Size());
    for (std::size_t i = 0; i < caught.lines.Size(); ++i) {
      const CaughtMessages::Line& line = caught.lines[i];
      Deliver(line.at, line.severity, line.code, caught.texts.Data() + line.text, line.held);
    }
    return caught.lost ? OutOfMemory(node) : hr;
  }
  // A simulation around this one is given up: it goes on giving up.
  if (m_loop->cutLevel != level) return E_FAIL;
  m_loop->pastCeiling = false;
  m_loop->cutLevel = kNoLevel;
  const bool projected = std::exchange(m_loop->projected, false);
  const bool ended = std::exchange(m_loop->projectedEnd, false);
  mark.RollBack();
  // Inside another simulation its work stays that one's (whose share bounds
  // it); the outermost's is refunded, within the bound on refunds.
  if ((outermost && !Refund(spent, projected)) || !m_loop->coveredNodes.Append(node)) {
    target->ChargeWork(~std::uint64_t{0});
    return E_FAIL;
  }
  projectedLoops += projected;
  const HRESULT covered = CoverLoop(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit,
                                    st, found, projected && ended ? projection.share : 0);
  return covered == S_FALSE ? E_FAIL : covered;
}

HRESULT ShaderCompiler::CoverLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                  const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                  std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st,
                                  LoopFindings* found, std::uint64_t projectedShare) {
  ++coveredLoops;
  TaintEnclosingTrips(m_loop->loopFrames.size() - 1, init, condition, body);
  const std::size_t slots = valueMap.Size();
  auto enter = [&](LoopState& s) {
    for (std::size_t k = 0; k < slots; ++k) {
      s.head[k] = s.exit[k] = EnteredRange(valueMap[k]);
      s.headFlags[k] = s.exitFlags[k] = EnteredFacts(valueMap[k]);
    }
    s.counter = true;
    s.counterSlot = s.counterFinal = kNoIndex;
  };
  enter(st);
  *found = LoopFindings{};
  LoweringMark mark(*this);
  if (!mark.Saved()) return OutOfMemory(node);
  const std::size_t frame = m_loop->loopFrames.size() - 1;
  const LoopFrame& f = m_loop->loopFrames[frame];
  // The condition and step alone decide the trip count, as where a
  // simulation may settle.
  std::vector<std::uint8_t> byCondition;
  const bool decided = !init && condition && f.step && f.plainBody && (f.decided || f.indexesKnown) &&
                       LoopWrites(nullptr, condition, nullptr, &byCondition) &&
                       std::none_of(byCondition.begin(), byCondition.end(), [](std::uint8_t w) { return w != 0; });

  // Under the reference switch: the full simulation first, where it fits
  // four times the lowering's bound, unmetered and its messages held.
  LoopState full;
  LoopFindings fullFound;
  bool fits = false;
  if (referenceSearches && !m_loop->checkCeiling) {
    if (!full.head.Append(st.head.Data(), slots) || !full.exit.Append(st.exit.Data(), slots) ||
        !full.headFlags.Append(st.headFlags.Data(), slots) || !full.exitFlags.Append(st.exitFlags.Data(), slots))
      return OutOfMemory(node);
    {
      const RerunScope rerun(*this, true);
      const UnmeteredWork unmetered(*target);
      const MessageHold hold(*this);
      const std::uint64_t from = m_loop->instructionsBuilt;
      m_loop->checkCeiling = from + kCheckedBounds * loweringBuildLimit;
      HRESULT hr;
      {
        const OpenCount open(m_loop->exactSimulations);
        hr = SimulateEntry(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, full,
                           &fullFound);
      }
      fits = SUCCEEDED(hr) && !m_loop->pastCeiling;
      // A simulation the projection gave up must have passed its share: the
      // full one (which reuses no inner simulation) is no cheaper.
      if (projectedShare && (fits || m_loop->pastCeiling)) {
        ++projectionChecks;
        projectionMisses += fits && m_loop->instructionsBuilt - from <= projectedShare;
      }
      m_loop->pastCeiling = false;
      m_loop->checkCeiling = 0;
    }
    mark.RollBack();
  }

  // The covering pass meets the bound too where the loop is more than the
  // lowering can hold (an unrolling inside it runs long): it is then given
  // up for an unrolling, which the profile's limits may name.
  const SpentWork spent = SpentSoFar();
  HRESULT hr = S_FALSE;
  bool rehearsed = false;
  const OpenCount covering(m_loop->coverPasses);
  if (decided) {
    LoopRun run(node, nullptr, condition, body, startMap, valuesBefore, instructionsBefore, limit, frame, One());
    if (run.accumulated == kNoIndex) return OutOfMemory(node);
    struct Open {
      std::vector<LoopFrame>& frames;
      std::size_t at;
      ~Open() { frames[at].open = false; }
    } open{m_loop->loopFrames, frame};
    hr = SettleOnce(run, 0, st);
    if ((rehearsed = hr == S_OK)) {
      double known = 0;
      found->iterations = run.n;
      found->certain = run.certain;
      found->running = SUCCEEDED(GetConstantValue(run.accumulated, &known)) && known != 0;
      found->unknownGuard = run.guessed;
      found->outOfBounds = outOfBounds != 0;
      found->abandon = abandonLoop != 0;
      found->derivatives = AnyInstructionSince(instructionsBefore, TakesDerivatives, run.settledEntry);
      found->notCheap = AnyInstructionSince(instructionsBefore, IsCostlyLoopOperation, run.settledEntry);
      for (std::uint32_t s = 0; s < slots; ++s)
        if (startMap[s] != kNoIndex && valueMap[s] != startMap[s]) found->carried.push_back(s);
    } else if (SUCCEEDED(hr)) {
      mark.RollBack();
      enter(st);
    }
  }
  if (hr == S_FALSE && !m_loop->pastCeiling)
    hr = CoverPass(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found);
  // A simulation around the loop is given up: so is its covering.
  if (m_loop->pastCeiling && m_loop->cutLevel != kNoLevel) return E_FAIL;
  if (m_loop->pastCeiling) {
    m_loop->pastCeiling = false;
    mark.RollBack();
    // Past the work budget's ceiling the compile is at its bound; past the
    // lowering's own (an unrolling inside the loop holds too much), the loop
    // is unrolled instead.
    if (m_loop->ceilingOfBudget || !Refund(spent)) target->ChargeWork(~std::uint64_t{0});
    return E_FAIL;
  }
  if (hr == S_FALSE) {
    // Nothing covers it: the loop is unrolled instead (S_FALSE).
    mark.RollBack();
    return S_FALSE;
  }
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  found->covered = true;
  if (fits) CheckCoveredLoop(st, *found, full, fullFound, startMap, limit, rehearsed);
  return S_OK;
}

HRESULT ShaderCompiler::CoverPass(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                  const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                  std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st,
                                  LoopFindings* found, const std::vector<std::uint8_t>* bare) {
  const std::size_t slots = valueMap.Size();
  LoweringMark mark(*this);
  if (!mark.Saved()) return E_OUTOFMEMORY;
  // Per symbol: whether it enters widened, and with what.
  std::vector<std::uint8_t> entered(slots, 0);
  std::vector<ValueRange> ranges(slots, kFull);
  std::vector<std::uint32_t> facts(slots, 0);
  // A symbol entered bare keeps only what its type gives every value it
  // holds (a conversion of the write would drop more).
  for (std::size_t s = 0; bare && s < slots && s < bare->size(); ++s)
    if ((entered[s] = (*bare)[s] && startMap[s] != kNoIndex && Value(valueMap[s])))
      facts[s] = EnteredFacts(startMap[s]) & DeclaredFacts(startMap[s]);
  PodArray<std::uint32_t> entryMap;
  const std::uint32_t messages = reportedMessages, errors = errorFlag;
  for (std::uint32_t round = 0;; ++round) {
    if (round) mark.RollBack();
    // Rounds past the widening ones take every fact away: only a symbol
    // met for the first time adds one more.
    if (round >= kCoverRounds)
      for (std::size_t s = 0; s < slots; ++s)
        if (entered[s]) {
          ranges[s] = kFull;
          facts[s] = 0;
        }
    if (round > kCoverRounds + slots) return S_FALSE;
    const WideEntry wide = EntryOf(entered, ranges, facts);
    for (std::size_t s = 0; s < slots; ++s) {
      st.head[s] = st.exit[s] = EnteredRange(valueMap[s]);
      st.headFlags[s] = st.exitFlags[s] = EnteredFacts(valueMap[s]);
    }
    const std::uint32_t entryAt = InstructionCount();
    HRESULT hr = EnterWidened(node, wide, st);
    if (FAILED(hr)) return hr;
    const std::uint32_t settledEntry = wide.slots.empty() ? kNoIndex : entryAt;
    entryMap.Clear();
    if (!entryMap.Append(valueMap.Data(), slots)) return E_OUTOFMEMORY;
    loopCounter = {0.0, static_cast<double>(limit)};
    std::uint32_t c = kNoIndex, accumulated = One();
    if (accumulated == kNoIndex) return E_OUTOFMEMORY;
    ValueRange test = kFull;
    {
      const MessageHold hold(*this);
      if (init) hr = LowerLoopBody(init);
      if (SUCCEEDED(hr) && condition && SUCCEEDED(hr = LowerExpression(condition, &c, 0)))
        hr = Emit2(node, kOpMultiply, 1, &accumulated, &accumulated, &c, kValueComparison);
      if (SUCCEEDED(hr) && c != kNoIndex) {
        if (FAILED(EvaluateRange(c, &test))) test = kFull;
        // At the exit test the symbols the condition moved stand as it left them.
        for (std::size_t s = 0; s < slots; ++s) {
          if (valueMap[s] == entryMap[s] || startMap[s] == kNoIndex) continue;
          const IrValue* v = Value(valueMap[s]);
          ValueRange r;
          const bool ok = v && SUCCEEDED(EvaluateRange(valueMap[s], &r));
          if (!IsFull(st.exit[s])) st.exit[s] = ok && !IsEmpty(st.exit[s]) ? Hull(st.exit[s], r) : kFull;
          st.exitFlags[s] &= v ? v->flags : 0;
        }
        // The rest of the pass runs as if the condition held.
        if (c >= valuesBefore) Value(c)->rangeLow = Value(c)->rangeHigh = 1.0;
      }
      if (SUCCEEDED(hr) && !init && !(test.low == 0 && test.high == 0)) hr = LowerLoopBody(body);
    }
    if (FAILED(hr)) return target->workExhausted || m_loop->pastCeiling || hr == E_OUTOFMEMORY ? hr : S_FALSE;
    if (returned || discarded || reportedMessages != messages || errorFlag != errors) return S_FALSE;
    // Covered: every symbol the pass moves ends within its entry facts.
    bool covered = true;
    for (std::size_t s = 0; s < slots; ++s) {
      if (startMap[s] == kNoIndex || valueMap[s] == entryMap[s]) continue;
      const IrValue* v = Value(valueMap[s]);
      ValueRange r = kEmpty;
      if (v && FAILED(EvaluateRange(valueMap[s], &r))) r = kEmpty;
      const std::uint32_t got = v ? v->flags & kRangeFacts : 0;
      if (!entered[s]) {
        entered[s] = 1;
        ranges[s] = Widen(EnteredRange(startMap[s]), r);
        facts[s] = EnteredFacts(startMap[s]) & got;
        covered = false;
      } else if (!Within(ranges[s], r) || (facts[s] & ~got) != 0) {
        ranges[s] = Widen(ranges[s], r);
        facts[s] &= got;
        covered = false;
      }
    }
    if (!covered) continue;

    double known = 0;
    const bool ends = test.low == 0 && test.high == 0;
    // Under covering facts a condition that holds holds at every pass.
    found->certain = Excludes0(test);
    found->iterations = ends ? (init ? 1 : 0) : limit;
    found->running = SUCCEEDED(GetConstantValue(accumulated, &known)) && known != 0;
    found->unknownGuard = !found->running;
    found->outOfBounds = outOfBounds != 0;
    found->abandon = abandonLoop != 0;
    found->derivatives = AnyInstructionSince(instructionsBefore, TakesDerivatives, settledEntry);
    found->notCheap = AnyInstructionSince(instructionsBefore, IsCostlyLoopOperation, settledEntry);
    found->carried.clear();
    for (std::uint32_t s = 0; s < slots; ++s)
      if (startMap[s] != kNoIndex && valueMap[s] != startMap[s]) found->carried.push_back(s);
    st.counter = false;
    return S_OK;
  }
}

std::uint32_t ShaderCompiler::DeclaredFacts(std::uint32_t value) {
  const IrValue* v = Value(value);
  const ParseNodeKind11* variable = v && v->declaration ? VariableDescription(v->declaration) : nullptr;
  if (!variable || !variable->nodes[0]) return 0;
  std::uint32_t count = 0;
  const MessageHold hold(*this);
  const std::uint32_t errors = errorFlag, messages = reportedMessages;
  if (FAILED(TypeFlagsOf(variable->nodes[0], nullptr, 0, &count)) || v->variableComponent >= count) {
    errorFlag = errors;
    reportedMessages = messages;
    return 0;
  }
  std::vector<std::uint32_t> flags(count, 0);
  if (FAILED(TypeFlagsOf(variable->nodes[0], flags.data(), count, &count))) return 0;
  return flags[v->variableComponent] & kRangeFacts;
}

HRESULT ShaderCompiler::CoverInsidePass(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                        const ParseNode* body, const std::uint32_t* startMap,
                                        std::uint32_t valuesBefore, std::uint32_t instructionsBefore,
                                        std::uint32_t limit, LoopState& st, LoopFindings* found) {
  TaintEnclosingTrips(m_loop->loopFrames.size() - 1, init, condition, body);
  const std::size_t slots = valueMap.Size();
  for (std::size_t k = 0; k < slots; ++k) {
    st.head[k] = st.exit[k] = EnteredRange(valueMap[k]);
    st.headFlags[k] = st.exitFlags[k] = EnteredFacts(valueMap[k]);
  }
  st.counter = true;
  st.counterSlot = st.counterFinal = kNoIndex;
  *found = LoopFindings{};
  // What the loop may write enters bare; where that cannot be told, every
  // symbol does.
  std::vector<std::uint8_t> written;
  if (!LoopWrites(init, condition, body, &written)) written.assign(slots, 1);
  written.resize(slots, 0);
  const HRESULT hr =
      CoverPass(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st, found, &written);
  // Nothing covers it: unrolled instead, as where the round's covering pass fails.
  if (hr == S_FALSE) return E_FAIL;
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  found->covered = true;
  return S_OK;
}

void ShaderCompiler::CheckCoveredLoop(const LoopState& covered, const LoopFindings& c, const LoopState& full,
                                      const LoopFindings& f, const std::uint32_t* startMap, std::uint32_t limit,
                                      bool decided) {
  ++coverChecks;
  // A range kept unknown (empty) covers any; flags may only be fewer.
  auto covers = [](const ValueRange& a, const ValueRange& b) {
    return IsEmpty(a) || (!IsEmpty(b) && a.low <= b.low && b.high <= a.high);
  };
  auto within = [](const std::vector<std::uint32_t>& small, const std::vector<std::uint32_t>& large) {
    return std::includes(large.begin(), large.end(), small.begin(), small.end());
  };
  // Where the condition and step decide the trip count it is the full
  // simulation's; elsewhere the loop breaks on its condition up to the limit.
  bool same = decided ? c.iterations == f.iterations && c.certain == f.certain && c.running == f.running &&
                            covered.counter == full.counter &&
                            (!covered.counter || covered.counterSlot == full.counterSlot)
                      : c.iterations == limit && f.iterations <= limit && (!c.certain || f.certain) &&
                            (!covered.counter || (full.counter && covered.counterSlot == full.counterSlot));
  same = same && (!f.derivatives || c.derivatives) && (!f.abandon || c.abandon) && within(f.carried, c.carried);
  // Facts of symbols the loop may carry: those with a value at its start.
  for (std::size_t s = 0; s < full.head.Size() && same; ++s)
    same = startMap[s] == kNoIndex ||
           (covers(covered.head[s], full.head[s]) && covers(covered.exit[s], full.exit[s]) &&
            (covered.headFlags[s] & ~full.headFlags[s] & kRangeFacts) == 0 &&
            (covered.exitFlags[s] & ~full.exitFlags[s] & kRangeFacts) == 0);
  coverMismatches += !same;
}

}  // namespace gxl::shader
