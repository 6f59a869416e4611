// Settling of a flow-control loop's simulation. A loop of uniform length is
// simulated through every pass it may run, up to the iteration limit, so its
// work grows as the limit times its body. Where the condition and step alone
// decide the trip count (with the body's indexes at the counter, which may
// end it), the simulation need not lower the body at each pass: after a few
// exact passes, the rest of the trip runs through the condition and step
// alone (the trip count, its certainty and the counter come out as from the
// full simulation), and the body is lowered once more
// from entry facts that cover every pass left. Each symbol the body moved
// enters as a loop-entry value whose facts are those met so far, each bound
// that moved opened to infinity (as the widened entries of inner loops,
// loop_widening.cpp); the counter enters with the range of the passes left.
// Where the pass's results fall outside its entry facts, these widen again.
//
// The facts stay sound for every real pass: each one enters within the entry
// facts, and the body maps facts within them to facts within them. What the
// settled pass cannot vouch for (an index past its array, a return, a
// message, an error, a loop abandoned) sends the simulation back to its
// exact passes.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

bool ShaderCompiler::SettlesAt(const LoopRun& run, std::uint32_t pass, std::uint64_t builtPerPass) {
  if (run.init || !run.condition || pass >= run.limit) return false;
  const LoopFrame& f = m_loop->loopFrames[run.frame];
  if (!(f.decided || f.indexesKnown) || !f.step || !f.plainBody) return false;
  // Cheap passes are simulated to the end: a short loop, and every loop
  // that costs the budget little, keeps exactly its facts and code.
  if (builtPerPass * (run.limit - pass) <= kSettleInstructions) return false;
  // The rehearsal replays the condition and the step alone (a trip count
  // they decide means the body writes nothing they read): the condition
  // writes nothing.
  std::vector<std::uint8_t> byCondition;
  if (!LoopWrites(nullptr, run.condition, nullptr, &byCondition)) return false;
  return std::none_of(byCondition.begin(), byCondition.end(), [](std::uint8_t w) { return w != 0; });
}

HRESULT ShaderCompiler::RehearseRest(LoopRun& run, std::uint32_t pass, LoopState& st,
                                     const std::vector<std::uint8_t>& stepped, PodArray<ValueRange>* left,
                                     PodArray<std::uint32_t>* leftFacts) {
  const std::size_t slots = valueMap.Size();
  const std::uint32_t messages = reportedMessages, errors = errorFlag;
  auto clean = [&] {
    return !outOfBounds && !returned && !discarded && errorFlag == errors && reportedMessages == messages;
  };
  const ParseNode* step = m_loop->loopFrames[run.frame].step;
  PodArray<std::uint32_t> start, snapshot;
  if (!start.Append(valueMap.Data(), slots)) return E_OUTOFMEMORY;
  for (std::size_t s = 0; s < slots; ++s) {
    (*left)[s] = kEmpty;
    (*leftFacts)[s] = kRangeFacts;
  }
  HRESULT hr = S_OK;
  run.n = run.limit;
  // As the exact passes, for the symbols the step moves (and at the first
  // pass, where all stand as they are, for all): the others stand still
  // here, and the settled pass covers them.
  PodArray<ValueRange> leftBefore;
  PodArray<std::uint32_t> leftFactsBefore;
  for (std::uint32_t k = pass; k < run.limit; ++k) {
    loopCounter = {static_cast<double>(k), static_cast<double>(k) + 1};
    snapshot.Clear();
    leftBefore.Clear();
    leftFactsBefore.Clear();
    if (!snapshot.Append(valueMap.Data(), slots) || !leftBefore.Append(left->Data(), slots) ||
        !leftFactsBefore.Append(leftFacts->Data(), slots))
      return E_OUTOFMEMORY;
    std::uint32_t c = kNoIndex;
    if (FAILED(hr = LowerExpression(run.condition, &c, 0))) return hr;
    if (FAILED(hr = Emit2(run.node, kOpMultiply, 1, &run.accumulated, &run.accumulated, &c, kValueComparison)))
      return hr;
    if (!clean()) return S_FALSE;
    double known = 0;
    const bool constant = SUCCEEDED(GetConstantValue(run.accumulated, &known));
    run.guessed = run.guessed || !constant;
    const bool running = constant && known != 0;
    for (std::size_t s = 0; s < slots; ++s) {
      const std::uint32_t x = valueMap[s];
      if ((!stepped[s] && k > pass) || x == run.startMap[s]) continue;
      NoteExitFacts(st, s, x, running);
    }
    ValueRange r;
    if (SUCCEEDED(EvaluateRange(c, &r))) {
      if (r.low == 0 && r.high == 0) {
        run.n = k;
        break;
      }
      if (!Excludes0(r)) run.certain = false;
    } else {
      run.certain = false;
    }
    if (c >= run.valuesBefore) Value(c)->rangeLow = Value(c)->rangeHigh = 1.0;
    for (std::size_t s = 0; s < slots; ++s) {
      const std::uint32_t x = snapshot[s];
      if (!stepped[s] && k > pass) continue;
      const IrValue* v = Value(x);
      ValueRange got;
      const bool ok = v && SUCCEEDED(EvaluateRange(x, &got));
      // What the settled pass enters with: the passes left alone, and
      // nothing where a range is not known.
      (*left)[s] = ok && !IsFull((*left)[s]) ? Hull((*left)[s], got) : kFull;
      (*leftFacts)[s] &= v ? v->flags : 0;
      if (x == run.startMap[s]) continue;
      if (!IsFull(st.head[s])) st.head[s] = ok ? Hull(st.head[s], got) : kEmpty;
      st.headFlags[s] &= v ? v->flags : 0;
    }
    if (st.counter)
      st.counter = !run.certain && MatchLoopCounter(c, k, &st.counterSlot, &st.counterFinal);
    // An index of the body past its array ends the loop here, the pass's
    // body unfinished: no settled pass runs it.
    bool past = false;
    for (const ParseNode* index : m_loop->loopFrames[run.frame].indexes) {
      const std::uint32_t attempt = loopAttempt;
      loopAttempt = 1;
      hr = LowerExpression(index, nullptr, 0);
      loopAttempt = attempt;
      if (FAILED(hr)) return target->workExhausted || hr == E_OUTOFMEMORY ? hr : S_FALSE;
      if ((past = outOfBounds != 0)) break;
      if (!clean()) return S_FALSE;
    }
    if (past) {
      if (returned || discarded || errorFlag != errors || reportedMessages != messages) return S_FALSE;
      std::copy(leftBefore.Data(), leftBefore.Data() + slots, left->Data());
      std::copy(leftFactsBefore.Data(), leftFactsBefore.Data() + slots, leftFacts->Data());
      run.n = k;
      break;
    }
    if (FAILED(hr = LowerLoopBody(step))) return hr;
    if (!clean()) return S_FALSE;
  }
  // The body's pass starts from the symbols as they were.
  std::copy(start.Data(), start.Data() + slots, valueMap.Data());
  return S_OK;
}

HRESULT ShaderCompiler::SettleOnce(LoopRun& run, std::uint32_t pass, LoopState& st) {
  const std::size_t slots = valueMap.Size();
  std::vector<std::uint8_t> stepped;
  if (!LoopWrites(nullptr, nullptr, m_loop->loopFrames[run.frame].step, &stepped)) return S_FALSE;
  PodArray<ValueRange> left;
  PodArray<std::uint32_t> leftFacts;
  if (!left.Reserve(slots) || !leftFacts.Reserve(slots)) return E_OUTOFMEMORY;
  for (std::size_t s = 0; s < slots; ++s) {
    left.Append(kEmpty);
    leftFacts.Append(0);
  }
  // The entry facts: a symbol the body moved, from what its passes met so
  // far (before the rehearsal adds the pass it stands at); the step's own
  // symbols from the passes left.
  std::vector<std::uint8_t> entered(slots, 0);
  std::vector<ValueRange> ranges(slots, kFull);
  std::vector<std::uint32_t> facts(slots, 0);
  for (std::size_t s = 0; s < slots; ++s) {
    const IrValue* v = Value(valueMap[s]);
    if (!v || stepped[s] || valueMap[s] == run.startMap[s]) continue;
    ValueRange r;
    entered[s] = 1;
    ranges[s] = Widen(st.head[s], SUCCEEDED(EvaluateRange(valueMap[s], &r)) ? r : kEmpty);
    facts[s] = st.headFlags[s] & v->flags & kRangeFacts;
  }
  HRESULT hr;
  {
    const MessageHold hold(*this);
    hr = RehearseRest(run, pass, st, stepped, &left, &leftFacts);
  }
  if (hr != S_OK) return hr;
  if (run.n <= pass) return S_OK;  // no pass is left to run the body
  // Where an index ended the loop, the passes before it run in full.
  const std::uint32_t ended = std::exchange(outOfBounds, 0u);

  for (std::size_t s = 0; s < slots; ++s)
    if (stepped[s] && Value(valueMap[s])) {
      entered[s] = 1;
      ranges[s] = left[s];
      facts[s] = leftFacts[s] & kRangeFacts;
    }

  // Each round starts from here: the rehearsal's IR stays, for the
  // accumulated condition it leaves.
  LoweringMark mark(*this);
  const std::vector<LoopHistory> histories = m_loop->loopFrames[run.frame].histories;
  if (!mark.Saved()) return E_OUTOFMEMORY;
  LoopState scratch;
  if (!scratch.head.Append(st.head.Data(), slots) || !scratch.exit.Append(st.exit.Data(), slots) ||
      !scratch.headFlags.Append(st.headFlags.Data(), slots) || !scratch.exitFlags.Append(st.exitFlags.Data(), slots))
    return E_OUTOFMEMORY;
  PodArray<std::uint32_t> entryMap;
  for (std::uint32_t round = 0; round < kSettleRounds; ++round) {
    if (round) {
      mark.RollBack();
      m_loop->loopFrames[run.frame].histories = histories;
    }
    const WideEntry wide = EntryOf(entered, ranges, facts);
    const std::uint32_t entryAt = InstructionCount();
    if (FAILED(hr = EnterWidened(run.node, wide, scratch))) return hr;
    run.settledEntry = wide.slots.empty() ? kNoIndex : entryAt;
    entryMap.Clear();
    if (!entryMap.Append(valueMap.Data(), slots)) return E_OUTOFMEMORY;
    loopCounter = {static_cast<double>(pass), static_cast<double>(run.n)};
    m_loop->loopFrames[run.frame].open = run.guessed;
    const std::uint32_t messages = reportedMessages, errors = errorFlag, abandon = abandonLoop;
    {
      const MessageHold hold(*this);
      hr = LowerLoopBody(run.body);
    }
    if (FAILED(hr)) return target->workExhausted || hr == E_OUTOFMEMORY ? hr : S_FALSE;
    if (outOfBounds || returned || discarded || reportedMessages != messages || errorFlag != errors ||
        abandonLoop != abandon)
      return S_FALSE;
    // Covered: every symbol the pass moves ends within its entry facts.
    bool covered = true;
    for (std::size_t s = 0; s < slots; ++s) {
      if (stepped[s] || valueMap[s] == entryMap[s]) continue;
      const IrValue* v = Value(valueMap[s]);
      ValueRange r = kEmpty;
      if (v && FAILED(EvaluateRange(valueMap[s], &r))) r = kEmpty;
      const std::uint32_t got = v ? v->flags & kRangeFacts : 0;
      if (!entered[s]) {
        // Met in no exact pass: from its facts there and before.
        const IrValue* before = Value(entryMap[s]);
        if (!before) return S_FALSE;
        ValueRange b;
        entered[s] = 1;
        ranges[s] = Widen(SUCCEEDED(EvaluateRange(entryMap[s], &b)) ? Hull(st.head[s], b) : kEmpty, r);
        facts[s] = st.headFlags[s] & before->flags & got;
        covered = false;
        continue;
      }
      if (Within(ranges[s], r) && (facts[s] & ~got) == 0) continue;
      ranges[s] = Widen(ranges[s], r);
      facts[s] &= got;
      covered = false;
    }
    if (!covered) continue;
    for (std::size_t s = 0; s < slots; ++s) {
      if (!entered[s] || stepped[s]) continue;
      if (!IsFull(st.head[s])) st.head[s] = IsEmpty(st.head[s]) ? kFull : Hull(st.head[s], ranges[s]);
      if (!IsFull(st.exit[s])) st.exit[s] = IsEmpty(st.exit[s]) ? kFull : Hull(st.exit[s], ranges[s]);
      st.headFlags[s] &= facts[s];
      st.exitFlags[s] &= facts[s];
    }
    outOfBounds = ended;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT ShaderCompiler::SettleLoop(LoopRun& run, std::uint32_t pass, LoopState& st, const LoopPass& exactPass) {
  const std::size_t slots = valueMap.Size();
  // All as it was, for the exact passes to go on from (and, under the
  // reference switch, for the full simulation to compare with).
  LoweringMark mark(*this);
  const LoopRun before = run;
  LoopState saved;
  saved.counter = st.counter;
  saved.counterSlot = st.counterSlot;
  saved.counterFinal = st.counterFinal;
  const std::vector<LoopHistory> histories = m_loop->loopFrames[run.frame].histories;
  if (!mark.Saved() || !saved.head.Append(st.head.Data(), slots) || !saved.exit.Append(st.exit.Data(), slots) ||
      !saved.headFlags.Append(st.headFlags.Data(), slots) || !saved.exitFlags.Append(st.exitFlags.Data(), slots))
    return OutOfMemory(run.node);
  auto restore = [&] {
    mark.RollBack();
    m_loop->loopFrames[run.frame].histories = histories;
    run = before;
    std::copy(saved.head.Data(), saved.head.Data() + slots, st.head.Data());
    std::copy(saved.exit.Data(), saved.exit.Data() + slots, st.exit.Data());
    std::copy(saved.headFlags.Data(), saved.headFlags.Data() + slots, st.headFlags.Data());
    std::copy(saved.exitFlags.Data(), saved.exitFlags.Data() + slots, st.exitFlags.Data());
    st.counter = saved.counter;
    st.counterSlot = saved.counterSlot;
    st.counterFinal = saved.counterFinal;
  };
  // What the settled pass cannot vouch for is left to the exact passes.
  auto settle = [&]() -> HRESULT {
    const HRESULT hr = SettleOnce(run, pass, st);
    if (hr == S_OK) return S_OK;
    if (hr == E_OUTOFMEMORY) return OutOfMemory(run.node);
    if (FAILED(hr) && target->workExhausted) return hr;
    restore();
    return S_FALSE;
  };
  HRESULT hr = settle();
  if (hr != S_OK || !referenceSearches || m_loop->settleChecks) {
    settledSimulations += hr == S_OK;
    return hr;
  }

  // The reference: the full simulation from here on, unmetered and its
  // messages held, whose findings the settled ones must cover.
  struct Summary {
    std::uint32_t n = 0;
    bool certain = false, running = false, outOfBounds = false, abandon = false, derivatives = false;
    bool notCheap = false;
    bool counter = false;
    std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex;
    std::vector<std::uint32_t> carried;
    std::vector<ValueRange> head, exit;
    std::vector<std::uint32_t> headFlags, exitFlags;
  };
  auto summarize = [&] {
    Summary m;
    double known = 0;
    m.n = run.n;
    m.certain = run.certain;
    m.running = SUCCEEDED(GetConstantValue(run.accumulated, &known)) && known != 0;
    m.outOfBounds = outOfBounds != 0;
    m.abandon = abandonLoop != 0;
    m.derivatives = AnyInstructionSince(run.instructionsBefore, TakesDerivatives, run.settledEntry);
    m.notCheap = AnyInstructionSince(run.instructionsBefore, IsCostlyLoopOperation, run.settledEntry);
    m.counter = st.counter;
    m.counterSlot = st.counterSlot;
    m.counterFinal = st.counterFinal;
    for (std::uint32_t s = 0; s < slots; ++s)
      if (run.startMap[s] != kNoIndex && valueMap[s] != run.startMap[s]) m.carried.push_back(s);
    m.head.assign(st.head.Data(), st.head.Data() + slots);
    m.exit.assign(st.exit.Data(), st.exit.Data() + slots);
    m.headFlags.assign(st.headFlags.Data(), st.headFlags.Data() + slots);
    m.exitFlags.assign(st.exitFlags.Data(), st.exitFlags.Data() + slots);
    return m;
  };
  const Summary settled = summarize();
  restore();
  std::optional<Summary> full;
  {
    ++m_loop->settleChecks;
    const RerunScope rerun(*this, true);
    const UnmeteredWork unmetered(*target);
    const MessageHold hold(*this);
    HRESULT step = S_OK;
    bool stop = false;
    for (std::uint32_t k = pass; k < run.limit && !stop && step == S_OK; ++k) step = exactPass(k, &stop);
    --m_loop->settleChecks;
    if (step == S_OK) full = summarize();
  }
  restore();
  hr = settle();
  // (A full simulation past the lowering's bounds is not compared.)
  if (full) {
    ++settleChecks;
    // A range kept unknown (empty) covers any; flags may only be fewer.
    auto covers = [](const ValueRange& a, const ValueRange& b) {
      return IsEmpty(a) || (!IsEmpty(b) && a.low <= b.low && b.high <= a.high);
    };
    bool same = hr == S_OK && settled.n == full->n && settled.certain == full->certain &&
                settled.running == full->running && settled.outOfBounds == full->outOfBounds &&
                settled.abandon == full->abandon && settled.derivatives == full->derivatives &&
                settled.notCheap == full->notCheap &&
                settled.counter == full->counter && settled.counterSlot == full->counterSlot &&
                settled.counterFinal == full->counterFinal && settled.carried == full->carried;
    for (std::size_t s = 0; s < slots && same; ++s)
      same = covers(settled.head[s], full->head[s]) && covers(settled.exit[s], full->exit[s]) &&
             (settled.headFlags[s] & ~full->headFlags[s] & kRangeFacts) == 0 &&
             (settled.exitFlags[s] & ~full->exitFlags[s] & kRangeFacts) == 0;
    settleMismatches += !same;
  }
  settledSimulations += hr == S_OK;
  return hr;
}

}  // namespace gxl::shader
