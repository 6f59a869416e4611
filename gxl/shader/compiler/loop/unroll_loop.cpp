// Unrolling of loops: each iteration lowered twice side by side, guarded
// by the conditions met so far (the program's copy) and without a guard (the
// copy whose conditions build that guard), until the guard is known to be 0
// or the iteration limit is reached.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

HRESULT ShaderCompiler::UnrollLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                   const ParseNode* body, const std::uint32_t* startMap, const ParseNode* step,
                                   Trip trip, const PodArray<const ParseNode*>* indexes, std::uint32_t passes) {
  if (!target) return E_FAIL;
  (void)startMap;  // the map is copied after the init
  const std::uint32_t attempt = loopAttempt, outside = outOfBounds;
  bool remembered = false;
  struct Restore {
    ShaderCompiler& c;
    std::uint32_t attempt, outside;
    bool& remembered;
    ~Restore() {
      c.loopAttempt = attempt;
      c.outOfBounds = outside || remembered;
    }
  } restore{*this, attempt, outside, remembered};
  outOfBounds = 0;
  HRESULT hr = S_OK;
  if (init) {
    if (FAILED(hr = LowerLoopBody(init))) return hr;
    remembered = outOfBounds != 0;  // stays set: the first iteration is undone
    if (returned || discarded) return S_OK;
  }

  // A: the value map of guarded iterations, which becomes the result. C:
  // the same iterations without guards, whose conditions build the guard.
  const std::size_t slots = valueMap.Size();
  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  PodArray<std::uint32_t> a, c, savedA, savedC;
  PodArray<ValueRange> ranges, savedRanges;
  PodArray<std::uint32_t> facts, savedFacts;
  PodArray<HeldFacts> held;
  if (!a.Append(valueMap.Data(), slots) || !c.Append(valueMap.Data(), slots) || !ranges.Reserve(slots) ||
      !facts.Reserve(slots))
    return OutOfMemory(node);
  for (std::size_t s = 0; s < slots; ++s) {
    const IrValue* v = Value(valueMap[s]);
    ValueRange r = kEmpty;
    if (v && FAILED(EvaluateRange(valueMap[s], &r))) r = kEmpty;
    ranges.Append(r);
    facts.Append(!v || v->bank == undefined ? kRangeFacts : v->flags & kRangeFacts);
  }
  auto use = [&](const PodArray<std::uint32_t>& map) {
    std::memcpy(valueMap.Data(), map.Data(), slots * sizeof(std::uint32_t));
  };
  auto keep = [&](PodArray<std::uint32_t>& map) {
    std::memcpy(map.Data(), valueMap.Data(), slots * sizeof(std::uint32_t));
  };
  std::uint32_t accumulated = One();
  if (accumulated == kNoIndex) return OutOfMemory(node);
  // Where the body changes nothing the conditions read, they tell before
  // any body is built whether every iteration is known to run (then the
  // unguarded copy is the guarded one) and, where nothing else ends the
  // loop, whether it runs into the limit.
  // Found once to reach the limit from the same facts, they do again.
  TripFacts known;
  std::vector<double> tripState;
  std::vector<std::uint8_t> tripSlots;
  const bool toLimit = trip == Trip::kDecided || trip == Trip::kIndexesKnown;
  const bool described =
      toLimit && LoopReads({condition, step}, &tripSlots) &&
      (trip != Trip::kIndexesKnown || std::all_of(indexes->Data(), indexes->Data() + indexes->Size(),
                                                  [&](const ParseNode* index) {
                                                    std::vector<std::uint8_t> read;
                                                    if (!LoopReads({index}, &read)) return false;
                                                    for (std::size_t s = 0; s < read.size(); ++s) tripSlots[s] |= read[s];
                                                    return true;
                                                  })) &&
      (EndlessKey(tripSlots, valueMap.Data(), accumulated, &tripState), true);
  if (described && FoundEndless(node, 0, tripState, &known.certain)) {
    known.endless = true;
  } else if (trip != Trip::kDependsOnBody) {
    known = RehearseTrip(node, condition, step, toLimit, trip == Trip::kIndexesKnown ? indexes : nullptr);
    if (described && known.endless) m_loop->endless.push_back({node, 0, std::move(tripState), known.certain});
  }
  const bool share = known.certain && !referenceSearches;
  bool certain = false, ran = true, counter = true, ended = false, leftReturned = false, leftDiscarded = false;
  std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex, completed = 0;
  const ParseNode* conditionNode = condition ? condition : node;
  const std::uint32_t limit = passes ? std::min(passes, kMaxUnrolledIterations) : kMaxUnrolledIterations;
  // Where the conditions alone cannot tell the end, the passes are watched
  // for one that shows the unrolling will run to the limit.
  const bool watching = !passes && !known.endless && (trip == Trip::kDependsOnBody || trip == Trip::kWithoutBody);
  EndlessWatch watch;
  for (std::uint32_t k = 0; k < limit && !ended; ++k) {
    if (watching && k > 0 && RunsToLimit(watch, node, condition, body, c, accumulated, k))
      return RefuseEndlessLoop(node);
    // A loop that would run into the limit stops after its first iteration
    // (which may have ended it where the rehearsal could not look).
    if (k == 1 && known.endless) return RefuseEndlessLoop(node);
    const std::uint32_t valuesBefore = ValueCount(), instructionsBefore = InstructionCount(), errors = errorFlag;
    savedA.Clear();
    savedC.Clear();
    savedRanges.Clear();
    savedFacts.Clear();
    if (!savedA.Append(a.Data(), slots) || !savedC.Append(c.Data(), slots) ||
        !savedRanges.Append(ranges.Data(), slots) || !savedFacts.Append(facts.Data(), slots))
      return OutOfMemory(node);
    bool stopped = false;
    std::uint32_t test = kNoIndex;
    if (condition) {
      // The test as an attempt: an index past its array may only end the
      // loop (ExitTestPastArray).
      const std::uint32_t attemptBefore = loopAttempt;
      loopAttempt = 1;
      use(a);
      returned = discarded = 0;
      if (FAILED(hr = LowerExpression(condition, nullptr, 0))) return hr;
      stopped = returned || discarded;
      keep(a);
      use(c);
      returned = discarded = 0;
      if (FAILED(hr = LowerExpression(condition, &test, 0))) return hr;
      stopped = stopped || returned || discarded;
      keep(c);
      loopAttempt = attemptBefore;
      if (FAILED(hr = Emit2(node, kOpMultiply, 1, &accumulated, &accumulated, &test, kValueComparison))) return hr;
      if (outOfBounds && !attemptBefore && FAILED(hr = ExitTestPastArray(condition, accumulated, savedA, savedC)))
        return hr;
      returned = discarded = 0;
      if (stopped && !loopAttempt) break;
    }
    ValueRange g = kFull;
    if (FAILED(EvaluateRange(accumulated, &g))) g = kFull;
    if (Excludes0(g)) certain = true;
    // The unguarded values are those after the passes so far: they replace
    // what the earlier tests saw only where all those passes surely ran;
    // after one that may not have, they widen it.
    const bool replace = certain && ran;
    ran = Excludes0(g);
    for (std::size_t s = 0; s < slots; ++s) {
      const IrValue* v = Value(c[s]);
      if (!v) continue;
      ValueRange r;
      const bool ok = SUCCEEDED(EvaluateRange(c[s], &r));
      if (replace) {
        ranges[s] = ok ? r : kEmpty;
        facts[s] = v->flags & kRangeFacts;
      } else {
        ranges[s] = Hull(ranges[s], ok ? r : kFull);
        facts[s] &= v->flags;
      }
    }
    if (g.low == 0 && g.high == 0) break;
    if (!Excludes0(g)) loopAttempt = 1;
    if (counter) counter = !certain && test != kNoIndex && MatchLoopCounter(test, k, &counterSlot, &counterFinal);
    // Inside the guarded body every earlier iteration ran, so the guarded
    // values know what the unguarded ones do; the side that skips the body
    // reads them as they are, so the if puts their own facts back to merge.
    constexpr std::uint32_t kShared = kRangeFacts | kValueConstant | kValueRangeCached;
    held.Clear();
    for (std::size_t s = 0; s < slots; ++s) {
      IrValue* x = a[s] != c[s] ? Value(a[s]) : nullptr;
      const IrValue* y = x ? Value(c[s]) : nullptr;
      if (!y) continue;
      if (!held.Append(HeldFacts{a[s], x->flags, x->rangeLow, x->rangeHigh})) return OutOfMemory(node);
      x->flags = (x->flags & ~kShared) | (y->flags & kShared);
      x->rangeLow = y->rangeLow;
      x->rangeHigh = y->rangeHigh;
    }
    if (body) {
      // Every iteration known to run, and the two copies alike: the guarded
      // copy lowers its body plainly, and the unguarded one would repeat it
      // instruction for instruction (messages included) only to feed
      // conditions already known, so it is left out and only counted.
      const bool alike = share && std::memcmp(a.Data(), c.Data(), slots * sizeof(std::uint32_t)) == 0;
      // The last of a set number of passes feeds no further condition.
      const bool last = passes && k + 1 == limit;
      const std::uint32_t bodyStart = InstructionCount(), messages = reportedMessages;
      use(a);
      returned = discarded = 0;
      heldFacts = &held;
      hr = LowerIf(conditionNode, accumulated, body, nullptr);
      heldFacts = nullptr;
      if (FAILED(hr)) return hr;
      stopped = returned || discarded;
      leftReturned = leftReturned || returned;
      leftDiscarded = leftDiscarded || discarded;
      keep(a);
      if (alike && reportedMessages == messages) {
        if (!AddSkipped(EmittedSince(bodyStart))) return OutOfMemory(node);
        std::memcpy(c.Data(), a.Data(), slots * sizeof(std::uint32_t));
      } else if (!last) {
        use(c);
        returned = discarded = 0;
        // Under the reference switch this copy stands for one the compile
        // without it leaves out.
        const RerunScope rerun(*this, known.certain && referenceSearches && reportedMessages == messages);
        if (FAILED(hr = LowerLoopBody(body))) return hr;
        stopped = stopped || returned || discarded;
        keep(c);
      }
      returned = discarded = 0;
      if (stopped && !loopAttempt) ended = true;
    }
    RestoreFacts(held);
    if (outOfBounds) {
      // The iteration reached past an array: it does not happen.
      std::memcpy(a.Data(), savedA.Data(), slots * sizeof(std::uint32_t));
      std::memcpy(ranges.Data(), savedRanges.Data(), slots * sizeof(ValueRange));
      std::memcpy(facts.Data(), savedFacts.Data(), slots * sizeof(std::uint32_t));
      RollBackIr(valuesBefore, instructionsBefore, a.Data());
      if (guard == kNoIndex) guard = One();
      errorFlag = errors;
      remembered = remembered || k == 0;
      outOfBounds = 0;
      break;
    }
    ++completed;
    if (!passes && k + 1 == kMaxUnrolledIterations && !ended) {
      // Met again from its first watched state, it is refused there.
      if (!watch.first.empty()) m_loop->endless.push_back({node, watch.firstPass, std::move(watch.first), false});
      return RefuseEndlessLoop(node);
    }
  }

  // The variables after the loop carry what every iteration could leave;
  // a range never evaluated says nothing and is not written.
  for (std::size_t s = 0; s < slots; ++s) {
    IrValue* v = Value(a[s]);
    const ValueRange& r = ranges[s];
    if (!v || IsEmpty(r)) continue;
    v->rangeLow = r.low;
    v->rangeHigh = r.high;
    v->flags = (v->flags & ~(kRangeFacts | kValueConstant)) | facts[s] | kValueRangeCached |
               (r.low == r.high ? std::uint32_t{kValueConstant} : 0u);
  }
  use(a);
  // A return or discard of the guarded iterations ends what follows the loop too.
  returned = leftReturned;
  discarded = leftDiscarded;
  if (completed && counter && !returned && !discarded) return MoveIntoSlot(node, counterSlot, counterFinal);
  return S_OK;
}

HRESULT ShaderCompiler::ExitTestPastArray(const ParseNode* condition, std::uint32_t accumulated,
                                          const PodArray<std::uint32_t>& a, const PodArray<std::uint32_t>& c) {
  ValueRange g = kFull;
  if (FAILED(EvaluateRange(accumulated, &g))) g = kFull;
  outOfBounds = 0;
  // Known to fail there, the test only ends the loop: what it read past the
  // array decides nothing.
  if (g.low == 0 && g.high == 0) return S_OK;
  // It decides more: lowered again from the iteration's start outside the
  // attempt (the guarded copy first, as the iteration lowers it), it
  // reports the index where it is.
  const std::size_t slots = valueMap.Size();
  std::memcpy(valueMap.Data(), a.Data(), slots * sizeof(std::uint32_t));
  HRESULT hr = LowerExpression(condition, nullptr, 0);
  if (SUCCEEDED(hr)) {
    std::memcpy(valueMap.Data(), c.Data(), slots * sizeof(std::uint32_t));
    hr = LowerExpression(condition, nullptr, 0);
  }
  if (SUCCEEDED(hr)) GXL_SHADER_REPORT(*this, condition, msg::kLoweringIndexOutOfBounds);
  return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace gxl::shader
