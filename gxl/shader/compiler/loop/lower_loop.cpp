// Lowering of loops. Where the target has loops, the loop is first
// simulated iteration by iteration to learn its trip count and the ranges
// its variables take; a loop worth keeping is then emitted once as a
// flow-control loop. Otherwise, or when the attempt fails, the loop is
// unrolled: each iteration guarded by the conditions met so far.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

using namespace loops;

HRESULT ShaderCompiler::LowerLoopBody(const ParseNode* body) { return LowerStatement(body, nullptr); }

ValueRange ShaderCompiler::EnteredRange(std::uint32_t value) {
  ValueRange r = kEmpty;
  if (Value(value) && FAILED(EvaluateRange(value, &r))) r = kEmpty;
  return r;
}

std::uint32_t ShaderCompiler::EnteredFacts(std::uint32_t value) const {
  const IrValue* v = Value(value);
  return !v || v->bank == target->StandardBankIndex(StandardBank::Undefined) ? kRangeFacts : v->flags & kRangeFacts;
}

void ShaderCompiler::NoteExitFacts(LoopState& st, std::size_t slot, std::uint32_t value, bool running) {
  const IrValue* v = Value(value);
  ValueRange r;
  const bool ok = v && SUCCEEDED(EvaluateRange(value, &r));
  if (running) {
    // Only the range facts: a pass's constant flag, or its exactness, is no
    // fact of the values the later passes leave.
    st.exit[slot] = ok ? r : kEmpty;
    st.exitFlags[slot] = v ? v->flags & kRangeFacts : 0;
  } else {
    if (!IsFull(st.exit[slot])) st.exit[slot] = ok ? Hull(st.exit[slot], r) : kEmpty;
    st.exitFlags[slot] &= v ? v->flags : 0;
  }
}

bool ShaderCompiler::FailsWithoutPastRead(std::uint32_t test) {
  ValueRange r;
  if (!outOfBounds || !Value(test) || FAILED(EvaluateRange(test, &r)) || r.low != 0 || r.high != 0) return false;
  outOfBounds = 0;
  return true;
}

HRESULT ShaderCompiler::MoveIntoSlot(const ParseNode* node, std::uint32_t slot, std::uint32_t from) {
  if (slot >= valueMap.Size() || !Value(valueMap[slot]) || !Value(from)) return E_FAIL;
  std::uint32_t named = valueMap[slot];
  return SUCCEEDED(EmitInstruction(node, IrWord(kOpMove, 1), &named, &from, nullptr, 0)) ? S_OK : E_FAIL;
}

bool ShaderCompiler::UnrollsLoop(const ParseNode* loop) const {
  for (std::size_t i = 0; m_unrolledLoops && i < m_unrolledLoops->Size(); ++i)
    if ((*m_unrolledLoops)[i] == loop) return true;
  return false;
}

HRESULT ShaderCompiler::LowerLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                  const ParseNode* body, const ParseNode* step) {
  if (!target) return E_FAIL;
  if (!m_loop->firstPassOnly && LoopIsDead(node)) return LowerDeadLoop(node, init, condition, body, step);
  return LowerLiveLoop(node, init, condition, body, step);
}

HRESULT ShaderCompiler::LowerLiveLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const ParseNode* step) {
  const bool bodyFirst = init && init == body;
  // A for loop's step runs after its body.
  const ParseNode* plainBody = body;
  StatementNode* stepStatement = nullptr;
  if (step) {
    stepStatement = new StatementNode(kStatementExpression, const_cast<ParseNode*>(step), nullptr, nullptr, nullptr);
    auto* tail = stepStatement ? new ListNode(stepStatement, nullptr, "Stmts") : nullptr;
    auto* full = tail ? new ListNode(const_cast<ParseNode*>(body), tail, "Stmts") : nullptr;
    if (!full) return OutOfMemory(node);
    body = full;
  }
  // Open for the loop's lowering: what decides its trip count, and while it
  // simulates itself, what the loops inside it met.
  m_loop->loopFrames.emplace_back();
  struct Frame {
    ShaderCompiler& c;
    ~Frame() { c.m_loop->loopFrames.pop_back(); }
  } frame{*this};
  LoopFrame& own = m_loop->loopFrames.back();
  own.condition = condition;
  own.body = body;
  own.plainBody = bodyFirst ? nullptr : plainBody;
  own.step = stepStatement;
  const ParseNode* handOn = nullptr;
  if (bodyFirst && (FlowCaps() & kFlowInLoops)) {
    handOn = body;  // every iteration runs the body before the condition
  } else if (init) {
    const HRESULT hr = LowerStatement(init, nullptr);
    if (FAILED(hr) || returned || discarded) return hr;
  }

  const std::uint32_t values = ValueCount(), instructions = InstructionCount();
  PodArray<std::uint32_t> start;
  if (!start.Append(valueMap.Data(), valueMap.Size())) return OutOfMemory(node);
  // A dead loop's rehearsal past its work takes the first pass alone (the
  // body of a do loop has run once already: only its condition follows).
  if (m_loop->firstPassOnly)
    return UnrollLoop(node, handOn, condition, bodyFirst ? nullptr : body, start.Data(), stepStatement,
                      Trip::kDependsOnBody, nullptr, 1);
  // Where the condition and step alone decide the trip count, what needs
  // the trip count is found without building bodies: whether a target
  // without breaks could hold the loop, and whether unrolling runs into its
  // limit.
  const bool decided = !handOn && TripCountWithoutBody(condition, plainBody, stepStatement);
  m_loop->loopFrames.back().decided = decided;  // (the init may have grown the frames)
  PodArray<const ParseNode*> indexes;
  const Trip trip = decided ? Trip::kDecided
                    : handOn || !TripCountWithoutBody(condition, plainBody, stepStatement, true)
                        ? Trip::kDependsOnBody
                    : TripCountWithoutBody(condition, plainBody, stepStatement, false, &indexes) ? Trip::kIndexesKnown
                                                                                                 : Trip::kWithoutBody;
  if (trip == Trip::kIndexesKnown) {
    LoopFrame& f = m_loop->loopFrames.back();
    f.indexesKnown = true;
    f.indexes.assign(indexes.Data(), indexes.Data() + indexes.Size());
  }
  if (target->profileLimits.word13 && !UnrollsLoop(node) &&
      !(decided && !(FlowCaps() & kFlowInLoops) && loopDepth < target->profileLimits.word13 &&
        LoopNeedsBreak(condition, stepStatement))) {
    const std::uint32_t attempt = loopAttempt, outside = outOfBounds, abandon = abandonLoop, errors = errorFlag;
    const std::uint32_t messages = reportedMessages;
    loopAttempt = 1;
    outOfBounds = abandonLoop = 0;
    m_loop->coveredAbandon = false;
    const HRESULT hr = LowerFlowControlLoop(node, handOn, condition, body, start.Data());
    loopAttempt = attempt;
    outOfBounds = outside;
    // A covered loop kept with what an exact simulation could have left to
    // an unrolling (whose code a loop around cannot hold): it tells that loop.
    abandonLoop = abandon || (SUCCEEDED(hr) && m_loop->coveredAbandon);
    returned = discarded = 0;
    if (SUCCEEDED(hr)) return S_OK;
    // An outer simulation met the lowering's bound: it is given up whole.
    if (m_loop->pastCeiling) return E_FAIL;
    // Nothing of the attempt stays: no IR and no error (inside a covering
    // pass, whose messages are all held, no message either: the pass covers
    // the loop only where the lowering it stands for reports nothing).
    errorFlag = errors;
    if (InsideCoverPass()) reportedMessages = messages;
    RollBackIr(values, instructions, start.Data());
    if (guard == kNoIndex) guard = One();
  }
  const bool bounded = !target->workExhausted;
  HRESULT hr;
  {
    // The loops inside the passes share what the unrolling may spend, as
    // those inside a simulation's passes do.
    const bool level = !m_loop->checkCeiling && !Unmeasured();
    if (level) {
      Projection passes = OpenProjection();
      passes.unrolling = true;
      passes.rehearsal = m_loop->exactSimulations || m_loop->coverPasses;
      // Inside a covering pass it stays inside it.
      passes.coverPasses = m_loop->levels.empty() ? 0 : m_loop->levels.back().coverPasses;
      m_loop->levels.push_back(passes);
    }
    hr = UnrollOrReuse(node, handOn, condition, body, start.Data(), stepStatement, trip, &indexes);
    if (level) m_loop->levels.pop_back();
  }
  // The work bound ended this loop's own unrolling: where its condition and
  // step would not end it within the iteration limit either, the loop is
  // what the profile cannot hold, and it says so.
  if (FAILED(hr) && bounded && target->workExhausted && !target->workReported && loopDepth == 0)
    ClaimEndlessUnrolling(node, handOn, condition, body, stepStatement, trip == Trip::kDependsOnBody, values,
                          instructions, start.Data());
  return hr;
}

void ShaderCompiler::ClaimEndlessUnrolling(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                           const ParseNode* body, const ParseNode* step, bool bodyDecides,
                                           std::uint32_t values, std::uint32_t instructions,
                                           const std::uint32_t* startMap) {
  RollBackIr(values, instructions, startMap);
  if (guard == kNoIndex) guard = One();
  // The rehearsal gets a budget of its own, as the compile ends either way.
  struct Grace {
    ShaderCompiler& c;
    std::uint64_t left, built;
    ~Grace() {
      c.target->workLeft = left;
      c.target->workExhausted = true;
      c.loweringBuilt = built;
    }
  } grace{*this, target->workLeft, loweringBuilt};
  target->workExhausted = false;
  target->workLeft = kClaimWork;
  loweringBuilt = 0;
  // Where the body moves what the condition reads, the statements that do
  // (with what they read) are rehearsed with it; an early end the body may
  // reach otherwise is not looked for, as the compile ends either way.
  // (A loop that runs its body after its condition is first taken for one
  // whose condition and step alone decide its trip count.)
  bool endless = !init && RehearseTrip(node, condition, step, true).endless;
  std::vector<const ParseNode*> slice;
  std::vector<std::uint8_t> slots;
  bool plain = false;
  PodArray<std::uint32_t> map;
  if (!endless && !target->workExhausted && (init || bodyDecides) &&
      LoopTripSlice(condition, body, &slice, &slots, &plain, false) && plain &&
      map.Append(valueMap.Data(), valueMap.Size()) && One() != kNoIndex)
    endless = RehearseSlice(node, condition, slice, map, One(), 0, init != nullptr) == Endless::kRuns;
  if (!endless || target->workExhausted) return;
  target->workReported = true;
  GXL_SHADER_REPORT(*this, node, msg::kLoopDoesNotTerminate, static_cast<int>(kMaxUnrolledIterations));
}

HRESULT ShaderCompiler::LowerFlowControlLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                             const ParseNode* body, const std::uint32_t* startMap) {
  if (!target || loopDepth >= target->profileLimits.word13) return E_FAIL;
  struct Restore {
    ShaderCompiler& c;
    std::uint32_t depth, block, polarity;
    ValueRange counter;
    ~Restore() {
      c.loopDepth = depth;
      c.blockContext = block;
      c.polarity = polarity;
      c.loopCounter = counter;
    }
  } restore{*this, loopDepth, blockContext, polarity, loopCounter};
  ++loopDepth;

  // What each symbol holds at the loop's start: the bounds and facts the
  // head and the exit of the loop are refined from.
  const std::uint32_t valuesBefore = ValueCount(), instructionsBefore = InstructionCount();
  const std::size_t slots = valueMap.Size();
  LoopState st;
  if (!st.head.Reserve(slots) || !st.headFlags.Reserve(slots)) return OutOfMemory(node);
  for (std::size_t s = 0; s < slots; ++s) {
    st.head.Append(EnteredRange(valueMap[s]));
    st.headFlags.Append(EnteredFacts(valueMap[s]));
  }
  if (!st.exit.Append(st.head.Data(), slots) || !st.exitFlags.Append(st.headFlags.Data(), slots))
    return OutOfMemory(node);

  if (One() == kNoIndex) return OutOfMemory(node);
  const std::uint32_t limit =
      target->profileLimits.loopIterations ? target->profileLimits.loopIterations : kDefaultIterationLimit;
  LoopFindings found;
  HRESULT hr = FindLoopFacts(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, st,
                             &found);
  if (FAILED(hr)) return hr;
  // A loop inside it was covered that may have taken the facts that would
  // have shown the condition holding through the limit: a loop found to
  // run to the limit without a known condition may run past it, and is
  // unrolled, which tests the condition at every pass.
  if (m_loop->loopFrames.back().tripCovered && !found.covered && found.iterations >= limit && !found.running)
    return E_FAIL;
  std::uint32_t n = found.iterations;
  const bool certain = found.certain;
  outOfBounds = found.outOfBounds;
  abandonLoop = found.abandon;
  m_loop->coveredAbandon = found.covered && found.abandon;
  PodArray<std::uint32_t> carried;
  if (!carried.Append(found.carried.data(), found.carried.size())) return OutOfMemory(node);

  // Whether a flow-control loop is possible and pays.
  if (n < 2) return E_FAIL;
  if (n < limit) {
    if (abandonLoop || (options & kOptionAvoidFlowControl)) return E_FAIL;
    if (!outOfBounds) st.counter = false;
  }
  if (!certain && !st.counter && (!(FlowCaps() & kFlowInLoops) || found.derivatives)) return E_FAIL;
  if (outOfBounds) {
    n = limit;
    outOfBounds = 0;
  }
  // Every pass of an exact simulation ran: where the condition and step
  // alone decide the trip count, their rehearsal from the entry tells a loop
  // of exactly the limit's passes, which the count holds, from one that
  // runs on.
  if (n == limit && found.running && found.certain && !found.covered && !init &&
      m_loop->loopFrames.back().decided) {
    RollBackIr(valuesBefore, instructionsBefore, startMap);
    const ParseNode* step = m_loop->loopFrames.back().step;
    found.running = RehearseEntryTrip(node, condition, step, limit) != EntryTrip::kRunning ||
                    RehearseEntryTrip(node, condition, step, limit + 1) != EntryTrip::kEnds;
  }
  if (n == limit && found.running) return E_FAIL;
  if (n < limit && certain && !(options & kOptionPreferFlowControl) && !found.notCheap) return E_FAIL;
  st.iterations = n;
  PodArray<std::uint32_t> missed;
  const std::uint32_t block = blockContext, outerPolarity = polarity;
  do {
    RollBackIr(valuesBefore, instructionsBefore, startMap);
    blockContext = block;
    polarity = outerPolarity;
    loopCounter = {0.0, static_cast<double>(n)};
    if (!carried.Append(missed.Data(), missed.Size())) return OutOfMemory(node);
    // Covering facts know nothing of a symbol their pass left alone.
    for (std::size_t k = 0; found.covered && k < missed.Size(); ++k) {
      st.head[missed[k]] = st.exit[missed[k]] = kFull;
      st.headFlags[missed[k]] = st.exitFlags[missed[k]] = 0;
    }
    std::sort(carried.Data(), carried.Data() + carried.Size());  // slot order
    missed.Clear();
    hr = EmitFlowControlLoop(node, init, condition, body, carried, st, startMap, &missed);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  } while (hr == S_FALSE);
  // Variables declared in the body end with it: the loop carries none of
  // their values out, and a value written inside it may never have been.
  for (std::size_t s = 0; s < slots; ++s)
    if (startMap[s] == kNoIndex) valueMap[s] = kNoIndex;
  return hr;
}

HRESULT ShaderCompiler::SimulateLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                     const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                     std::uint32_t limit, LoopState& st, LoopFindings* found, bool* unknown) {
  const std::uint32_t instructionsBefore = InstructionCount();
  const std::uint32_t messagesBefore = reportedMessages, errorsBefore = errorFlag, guardBefore = guard;
  const std::uint32_t blockBefore = blockContext, polarityBefore = polarity, statementsBefore = m_statementSequence;
  const std::uint32_t banksBefore = target->banks.Count(), identityBefore = m_identityTable;
  const std::size_t slots = valueMap.Size();
  LoopRun run(node, init, condition, body, startMap, valuesBefore, instructionsBefore, limit, m_loop->loopFrames.size() - 1,
              One());
  if (run.accumulated == kNoIndex) return OutOfMemory(node);
  if (!m_loop->levels.empty()) run.level = m_loop->levels.size() - 1;
  m_loop->openRuns.push_back(&run);
  struct Opened {
    std::vector<const LoopRun*>& runs;
    ~Opened() { runs.pop_back(); }
  } opened{m_loop->openRuns};
  // Whether the condition is still known, for the loops inside the body (by
  // index: they add frames).
  struct Open {
    std::vector<LoopFrame>& frames;
    std::size_t at;
    void Set(bool value) { frames[at].open = value; }
    ~Open() { Set(false); }
  } open{m_loop->loopFrames, run.frame};
  PodArray<std::uint32_t> snapshot;
  // The pass's values at its test, into the head facts.
  auto noteHead = [&] {
    for (std::size_t s = 0; s < slots; ++s) {
      const std::uint32_t x = snapshot[s];
      if (x == startMap[s]) continue;
      const IrValue* v = Value(x);
      ValueRange r;
      if (!IsFull(st.head[s])) st.head[s] = v && SUCCEEDED(EvaluateRange(x, &r)) ? Hull(st.head[s], r) : kEmpty;
      st.headFlags[s] &= v ? v->flags : 0;
    }
  };
  // One exact pass: S_FALSE where a probe ends at it, *stop where the loop
  // ends (run.n set).
  const LoopPass pass = [&](std::uint32_t k, bool* stop) -> HRESULT {
    HRESULT hr = S_OK;
    loopCounter = {static_cast<double>(k), static_cast<double>(k) + 1};
    if (init) {
      if (FAILED(hr = LowerLoopBody(init))) return hr;
      if (outOfBounds) {
        run.n = k;
        *stop = true;
        return S_OK;
      }
      if (returned || discarded) return E_FAIL;
    }
    snapshot.Clear();
    if (!snapshot.Append(valueMap.Data(), slots)) return OutOfMemory(node);
    std::uint32_t c = kNoIndex;
    if (condition) {
      if (FAILED(hr = LowerExpression(condition, &c, 0))) return hr;
      if (FAILED(hr = Emit2(node, kOpMultiply, 1, &run.accumulated, &run.accumulated, &c, kValueComparison)))
        return hr;
      if (outOfBounds && !FailsWithoutPastRead(c)) {
        // The loop may run on to the limit, left through its break: this
        // test is reached, and may end it, with the values it read.
        double known = 0;
        const bool running = SUCCEEDED(GetConstantValue(run.accumulated, &known)) && known != 0;
        for (std::size_t s = 0; s < slots; ++s)
          if (valueMap[s] != startMap[s]) NoteExitFacts(st, s, valueMap[s], running);
        noteHead();
        run.n = k;
        *stop = true;
        return S_OK;
      }
      if (returned || discarded) return E_FAIL;
    }
    double known = 0;
    const bool constant = SUCCEEDED(GetConstantValue(run.accumulated, &known));
    // Past here the accumulated condition is not known: the loop cannot be
    // one that runs past the limit, which is all a probe asks.
    run.guessed = run.guessed || !constant;
    open.Set(run.guessed);
    if (unknown && !constant) {
      *unknown = found->unknownGuard = true;
      *stop = true;
      return S_FALSE;
    }
    const bool running = constant && known != 0;
    for (std::size_t s = 0; s < slots; ++s) {
      const std::uint32_t x = valueMap[s];
      if (x != startMap[s]) NoteExitFacts(st, s, x, running);
    }
    if (c != kNoIndex) {
      ValueRange r;
      if (SUCCEEDED(EvaluateRange(c, &r))) {
        if (r.low == 0 && r.high == 0) {
          // A body run first ran in this iteration too.
          run.n = init ? k + 1 : k;
          *stop = true;
          return S_OK;
        }
        if (!Excludes0(r)) run.certain = false;
      } else {
        run.certain = false;
      }
      // The rest of the iteration runs as if the condition held; only a
      // value of this simulation may say so.
      if (c >= valuesBefore) Value(c)->rangeLow = Value(c)->rangeHigh = 1.0;
    }
    noteHead();
    if (st.counter)
      st.counter = !run.certain && c != kNoIndex && MatchLoopCounter(c, k, &st.counterSlot, &st.counterFinal);
    if (!init) {
      if (FAILED(hr = LowerLoopBody(body))) return hr;
      if (outOfBounds) {
        run.n = k;
        *stop = true;
        return S_OK;
      }
      if (returned || discarded) return E_FAIL;
    }
    return S_OK;
  };
  // At the start of the last pass: the instructions built, and those of
  // them that inner loops' kept simulations built (reused at later passes).
  std::uint64_t built = m_loop->instructionsBuilt, kept = m_loop->keptBuilt;
  PassCosts costs;
  for (std::uint32_t k = 0; k < limit; ++k) {
    // Where the passes left would cost much, and the condition and step
    // alone decide the trip count, the simulation settles.
    if (k == kExactPasses && !unknown &&
        SettlesAt(run, k, (m_loop->instructionsBuilt - built) - (m_loop->keptBuilt - kept))) {
      const HRESULT settled = SettleLoop(run, k, st, pass);
      if (FAILED(settled)) return settled;
      if (settled == S_OK) break;
    }
    // Past the first exact passes, one whose rest would pass its share is
    // given up (the loop covered instead).
    if (k >= kProjectedPasses && ProjectionStops(run, k, costs)) return E_FAIL;
    built = m_loop->instructionsBuilt;
    kept = m_loop->keptBuilt;
    bool stop = false;
    BeginPass(costs);
    const HRESULT hr = pass(k, &stop);
    EndPass(costs);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return S_OK;  // the probe's end
    if (stop) break;
  }
  const std::uint32_t n = run.n;
  const bool certain = run.certain, guessed = run.guessed;
  const std::uint32_t accumulated = run.accumulated;

  double known = 0;
  found->iterations = n;
  found->certain = certain;
  found->outOfBounds = outOfBounds != 0;
  found->abandon = abandonLoop != 0;
  found->running = SUCCEEDED(GetConstantValue(accumulated, &known)) && known != 0;
  found->unknownGuard = guessed;
  found->derivatives = AnyInstructionSince(run.instructionsBefore, TakesDerivatives, run.settledEntry);
  found->notCheap = AnyInstructionSince(run.instructionsBefore, IsCostlyLoopOperation, run.settledEntry);
  for (std::uint32_t s = 0; s < slots; ++s)
    if (startMap[s] != kNoIndex && valueMap[s] != startMap[s]) found->carried.push_back(s);
  found->statements = m_statementSequence - statementsBefore;
  found->messages = reportedMessages - messagesBefore;
  found->errors = errorFlag != errorsBefore;
  found->guardChanged = guard != guardBefore;
  found->blockChanged = blockContext != blockBefore || polarity != polarityBefore;
  found->valuesMade = ValueCount() - valuesBefore;
  found->instructionsMade = InstructionCount() - instructionsBefore;
  for (std::uint32_t b = banksBefore; b < target->banks.Count(); ++b) found->banks.push_back(*target->Bank(b));
  found->identityMade = m_identityTable != identityBefore;
  found->counterAfterStart = st.counterFinal != kNoIndex && st.counterFinal >= m_loop->simulationBase;
  return S_OK;
}

HRESULT ShaderCompiler::EmitFlowControlLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                            const ParseNode* body, const PodArray<std::uint32_t>& carried,
                                            LoopState& st, const std::uint32_t* startMap,
                                            PodArray<std::uint32_t>* missed) {
  const auto m = static_cast<std::uint32_t>(carried.Size());
  WordBlock words(*this, 9 * m);
  const std::uint32_t count = NewLiteral(st.iterations);
  if (!words || count == kNoIndex || Zero() == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t *entry = words.Get(), *copies = entry + m, *before = copies + m, *after = before + m;
  std::uint32_t *movedAfter = after + m, *movedBefore = movedAfter + m, *loopCarried = movedBefore + m;
  std::uint32_t *moved = loopCarried + m, *merged = moved + m;
  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  auto current = [&](std::uint32_t s) {
    const IrValue* v = Value(valueMap[s]);
    return !v || v->bank == undefined ? zero : valueMap[s];
  };
  auto placeAll = [&](const std::uint32_t* values, StandardBank bank) {
    for (std::uint32_t k = 0; k < m; ++k) PlaceIn(values[k], bank);
  };
  // The symbol's new value: in the map, with the variable fields of the old one.
  auto takeOver = [&](std::uint32_t s, std::uint32_t value, const ValueRange& r, std::uint32_t flags) {
    IrValue* v = Value(value);
    if (const IrValue* old = Value(valueMap[s])) v->CopyVariableFields(old);
    v->symbolSlot = s;
    if (!IsEmpty(r)) {
      v->rangeLow = r.low;
      v->rangeHigh = r.high;
      v->flags |= kValueRangeCached | (r.low == r.high ? std::uint32_t{kValueConstant} : 0u);
    }
    v->flags |= flags;
    valueMap[s] = value;
  };

  // Symbols with a value before the loop that the body changed and the loop
  // does not carry.
  auto changedUncarried = [&] {
    for (std::uint32_t s = 0; s < valueMap.Size(); ++s)
      if (startMap[s] != kNoIndex && valueMap[s] != startMap[s] &&
          !std::binary_search(carried.Data(), carried.Data() + carried.Size(), s) && !missed->Append(s))
        return false;
    return true;
  };

  const std::uint32_t outerBlock = blockContext, outerPolarity = polarity;
  std::uint32_t loop = kNoIndex;
  HRESULT hr = Emit1(node, kOpLoopBegin, 1, &loop, &count);
  if (FAILED(hr)) return hr;
  PlaceIn(loop, StandardBank::Loops);
  blockContext = loop;
  polarity = 1;
  for (std::uint32_t k = 0; k < m; ++k) before[k] = current(carried[k]);
  FillIndicesWithNone(entry, m);
  if (FAILED(hr = EmitInstruction(node, IrWord(kOpLoopEntry, m), entry, before, nullptr, 0))) return hr;
  placeAll(entry, StandardBank::BlockMoves);
  for (std::uint32_t k = 0; k < m; ++k) takeOver(carried[k], entry[k], st.head[carried[k]], st.headFlags[carried[k]]);
  if (FAILED(hr = Emit1(node, kOpLoopEntryCopy, m, copies, entry))) return hr;
  placeAll(copies, StandardBank::LoopEntries);

  if (init && FAILED(hr = LowerLoopBody(init))) return hr;
  std::uint32_t c = kNoIndex;
  if (condition && FAILED(hr = LowerExpression(condition, &c, 0))) return hr;
  ValueRange r;
  if (c == kNoIndex || (SUCCEEDED(EvaluateRange(c, &r)) && Excludes0(r))) {
    if (!init && FAILED(hr = LowerLoopBody(body))) return hr;
    if (!changedUncarried()) return E_OUTOFMEMORY;
    if (!missed->Empty()) return S_FALSE;
    for (std::uint32_t k = 0; k < m; ++k) loopCarried[k] = current(carried[k]);
  } else {
    // The body under a break on the condition; the values it leaves, or
    // those before it when the loop breaks, are carried. Where the target
    // has no break, only a counted loop can take it over: a loop that stops
    // early, or whose condition no counter decides, is unrolled.
    if (!(FlowCaps() & kFlowInLoops) &&
        (st.iterations < (target->profileLimits.loopIterations ? target->profileLimits.loopIterations
                                                                : kDefaultIterationLimit) ||
         !st.counter))
      return E_FAIL;
    for (std::uint32_t k = 0; k < m; ++k) before[k] = current(carried[k]);
    std::uint32_t broken = kNoIndex;
    if (FAILED(hr = Emit1(node, kOpBreak, 1, &broken, &c))) return hr;
    PlaceIn(broken, StandardBank::BlockValues);
    blockContext = broken;
    if (!init && FAILED(hr = LowerLoopBody(body))) return hr;
    if (!changedUncarried()) return E_OUTOFMEMORY;
    if (!missed->Empty()) return S_FALSE;
    for (std::uint32_t k = 0; k < m; ++k) after[k] = current(carried[k]);
    if (FAILED(hr = Emit1(node, kOpMove, m, movedAfter, after))) return hr;
    polarity = 0;
    if (FAILED(hr = Emit1(node, kOpMove, m, movedBefore, before))) return hr;
    blockContext = loop;
    polarity = 1;
    FillIndicesWithNone(loopCarried, m);
    if (FAILED(hr = EmitInstruction(node, IrWord(kOpBreakMerge, m), loopCarried, movedAfter, movedBefore, 0)))
      return hr;
    placeAll(movedAfter, StandardBank::BlockMoves);
    placeAll(movedBefore, StandardBank::BlockMoves);
    placeAll(loopCarried, StandardBank::BlockMoves);
  }
  if (FAILED(hr = Emit1(node, kOpMove, m, moved, loopCarried))) return hr;
  FillIndicesWithNone(merged, m);
  if (FAILED(hr = EmitInstruction(node, IrWord(kOpLoopMerge, m), merged, moved, copies, 0))) return hr;
  placeAll(moved, StandardBank::BlockMoves);
  placeAll(merged, StandardBank::BlockMoves);
  blockContext = outerBlock;
  polarity = outerPolarity;
  if (FAILED(hr = Emit1(node, kOpLoopEnd, m, entry, merged))) return hr;
  for (std::uint32_t k = 0; k < m; ++k) takeOver(carried[k], entry[k], st.exit[carried[k]], st.exitFlags[carried[k]]);
  if (st.counter && !returned && !discarded) return MoveIntoSlot(node, st.counterSlot, st.counterFinal);
  return S_OK;
}

HRESULT ShaderCompiler::RefuseEndlessLoop(const ParseNode* node) {
  ++m_loop->endlessRefusals;
  m_loop->lastEndless = node;
  // Inside a flow-control loop's attempt the failure only ends the attempt:
  // the enclosing loop is then unrolled, and this one tried again there.
  if (loopDepth == 0)
    GXL_SHADER_REPORT(*this, node, msg::kLoopDoesNotTerminate, static_cast<int>(kMaxUnrolledIterations));
  return E_FAIL;
}

ShaderCompiler::TripFacts ShaderCompiler::RehearseTrip(const ParseNode* node, const ParseNode* condition,
                                                      const ParseNode* step, bool toLimit,
                                                      const PodArray<const ParseNode*>* indexes) {
  TripFacts facts;
  ConditionPass pass(*this);
  if (!pass.Save()) return facts;
  const MessageHold hold(*this);
  const std::uint32_t messages = reportedMessages;
  auto clean = [&] { return pass.Clean() && reportedMessages == messages; };
  std::uint32_t accumulated = One();
  bool certain = accumulated != kNoIndex;
  for (std::uint32_t k = 0; k < kMaxUnrolledIterations && (certain || toLimit); ++k) {
    std::uint32_t test = kNoIndex;
    if (condition && (FAILED(LowerExpression(condition, &test, 0)) ||
                      FAILED(Emit2(node, kOpMultiply, 1, &accumulated, &accumulated, &test, kValueComparison))))
      return facts;
    if (!clean()) return facts;
    ValueRange g = kFull;
    if (FAILED(EvaluateRange(accumulated, &g))) g = kFull;
    if (g.low == 0 && g.high == 0) {
      facts.certain = certain;
      return facts;
    }
    certain = certain && Excludes0(g);
    // An index of the body past its array would end the loop here.
    for (std::size_t i = 0; indexes && i < indexes->Size(); ++i) {
      const std::uint32_t attempt = loopAttempt;
      loopAttempt = 1;
      const HRESULT hr = LowerExpression((*indexes)[i], nullptr, 0);
      loopAttempt = attempt;
      if (FAILED(hr) || !clean()) return facts;
    }
    if ((step && FAILED(LowerLoopBody(step))) || !clean()) return facts;
  }
  // Every rehearsed iteration ran: only the body (an index past its array,
  // a return) can end the loop before the limit.
  facts.certain = certain;
  facts.endless = toLimit;
  return facts;
}

ShaderCompiler::EntryTrip ShaderCompiler::RehearseEntryTrip(const ParseNode* node, const ParseNode* condition,
                                                            const ParseNode* step, std::uint32_t limit) {
  ConditionPass pass(*this);
  if (!pass.Save()) return EntryTrip::kUnclear;
  const MessageHold hold(*this);
  const std::uint32_t messages = reportedMessages;
  auto clean = [&] { return pass.Clean() && reportedMessages == messages; };
  std::uint32_t accumulated = One();
  if (accumulated == kNoIndex) return EntryTrip::kUnclear;
  for (std::uint32_t k = 0; k < limit; ++k) {
    loopCounter = {static_cast<double>(k), static_cast<double>(k) + 1};
    std::uint32_t test = kNoIndex;
    if (condition && (FAILED(LowerExpression(condition, &test, 0)) ||
                      FAILED(Emit2(node, kOpMultiply, 1, &accumulated, &accumulated, &test, kValueComparison))))
      return EntryTrip::kUnclear;
    if (!clean()) return EntryTrip::kUnclear;
    double known = 0;
    if (FAILED(GetConstantValue(accumulated, &known))) return EntryTrip::kOpen;
    if (known == 0) return EntryTrip::kEnds;
    if ((step && FAILED(LowerLoopBody(step))) || !clean()) return EntryTrip::kUnclear;
  }
  return EntryTrip::kRunning;
}

bool ShaderCompiler::LoopNeedsBreak(const ParseNode* condition, const ParseNode* step) {
  ConditionPass pass(*this);
  if (!pass.Save()) return false;
  // A rehearsal: its messages are the lowering's to give (an index that the
  // test reads past its array only ends the loop).
  const MessageHold hold(*this);
  const std::uint32_t limit =
      target->profileLimits.loopIterations ? target->profileLimits.loopIterations : kDefaultIterationLimit;
  // The flags of the simulation, from the same tests.
  bool certain = true, counter = true;
  std::uint32_t n = limit, counterSlot = kNoIndex, counterFinal = kNoIndex;
  for (std::uint32_t k = 0; k < limit; ++k) {
    loopCounter = {static_cast<double>(k), static_cast<double>(k) + 1};
    std::uint32_t c = kNoIndex;
    if (condition && FAILED(LowerExpression(condition, &c, 0))) return false;
    if (!pass.Clean()) return false;
    if (c != kNoIndex) {
      ValueRange r;
      if (SUCCEEDED(EvaluateRange(c, &r))) {
        if (r.low == 0 && r.high == 0) {
          n = k;
          break;
        }
        if (!Excludes0(r)) certain = false;
      } else {
        certain = false;
      }
      if (c >= pass.values) Value(c)->rangeLow = Value(c)->rangeHigh = 1.0;
    }
    if (counter) counter = !certain && c != kNoIndex && MatchLoopCounter(c, k, &counterSlot, &counterFinal);
    if ((step && FAILED(LowerLoopBody(step))) || !pass.Clean()) return false;
  }
  if (n < limit) counter = false;
  return n < 2 || (!certain && !counter);
}

}  // namespace gxl::shader
