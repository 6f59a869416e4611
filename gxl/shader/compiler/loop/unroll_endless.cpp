// Unrollings that run to the iteration limit, told before they get there.
// A loop whose end its condition and step cannot tell alone (the body moves
// what the condition reads, or may end the loop) is unrolled pass by pass to
// find its end; one that never ends builds its 1,024 passes, and each pass
// lowers the loops inside it again, only for the unrolling to be refused (or,
// inside a flow-control loop's attempt, given up), and an unrolling inside
// the passes of another loop does so at each of them. What decides the trip
// count is a slice of the loop (LoopTripSlice): the condition, and the
// statements that move what it reads or may end the loop; the others change
// nothing the slice reads and cannot end the loop. So the unrolling watches
// the slice's state at each pass's start (its symbols, the conditions so far
// and the attempt mode, each value by its facts):
// - the same state as at the last pass's start: every later pass does what
//   the last one did, none ends the loop, and it runs to the limit;
// - past the first passes, where the slice holds no loop and no call, the
//   slice alone is rehearsed through the passes left: where none ends the
//   loop, neither would the full passes;
// - the same state as one from which an unrolling of the loop was found to
//   run to the limit (at that pass or a later one) runs there again: the
//   rehearsal is done once per state, not again at each pass of a loop
//   around it; and an unrolling that ran to its limit leaves the state of
//   its first watched pass, so that one met again from there (inside a
//   flow-control loop's attempt that failed for it, then where the loop
//   around is unrolled) is not built to its limit again. The same holds for
//   the rehearsal of a condition and step that alone decide the trip count
//   (RehearseTrip), whose state is kept by what tells that condition false:
//   each value's range and range facts and which symbols share a value, not
//   how each value was made, which differs at each pass, covering round and
//   attempt of the loops around (EndlessKey).
// Either way the unrolling is refused at once, as at its limit; a later pass
// of the other statements that would have failed fails the unrolling too.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

bool ShaderCompiler::TripState(const std::vector<std::uint8_t>& slots, const std::uint32_t* map,
                               std::uint32_t accumulated, std::vector<double>* state) {
  struct ByFacts {
    bool& on;
    explicit ByFacts(bool& flag) : on(flag) { on = true; }
    ~ByFacts() { on = false; }
  } byFacts(m_loop->describeByFacts);
  std::vector<std::uint32_t> seen;
  state->clear();
  for (std::uint32_t s = 0; s < slots.size() && s < valueMap.Size(); ++s)
    if (slots[s]) {
      state->push_back(s);
      if (!DescribeValue(map[s], state, &seen, 0)) return false;
    }
  if (!DescribeValue(accumulated, state, &seen, 0)) return false;
  state->push_back(loopAttempt);
  return true;
}

// The facts of a value an endless key keeps.
constexpr std::uint32_t kKeyFacts = kRangeFacts | kValueConstant;

void ShaderCompiler::EndlessKey(const std::vector<std::uint8_t>& slots, const std::uint32_t* map,
                                std::uint32_t accumulated, std::vector<double>* state) {
  state->clear();
  auto facts = [&](std::uint32_t x) {
    const IrValue* v = Value(x);
    ValueRange r{0, 0};
    const bool known = v && SUCCEEDED(EvaluateRange(x, &r));
    state->insert(state->end(), {known ? 1.0 : 0.0, known ? r.low : 0.0, known ? r.high : 0.0,
                                 double(v ? v->flags & kKeyFacts : 0u)});
  };
  std::vector<std::uint32_t> seen;
  for (std::uint32_t s = 0; s < slots.size() && s < valueMap.Size(); ++s)
    if (slots[s]) {
      state->push_back(s);
      facts(map[s]);
      const auto first = std::find(seen.begin(), seen.end(), map[s]);
      state->push_back(static_cast<double>(first - seen.begin()));
      if (first == seen.end()) seen.push_back(map[s]);
    }
  facts(accumulated);
  state->push_back(loopAttempt);
}

bool ShaderCompiler::FoundEndless(const ParseNode* loop, std::uint32_t pass, const std::vector<double>& state,
                                  bool* certain) const {
  for (const LoopLowering::EndlessState& e : m_loop->endless)
    if (e.loop == loop && e.pass <= pass && e.state == state) {
      if (certain) *certain = e.certain;
      return true;
    }
  return false;
}

bool ShaderCompiler::RunsToLimit(EndlessWatch& w, const ParseNode* node, const ParseNode* condition,
                                 const ParseNode* body, const PodArray<std::uint32_t>& c, std::uint32_t accumulated,
                                 std::uint32_t pass) {
  if (!w.sliced) {
    w.sliced = true;
    w.usable = LoopTripSlice(condition, body, &w.slice, &w.slots, &w.plain);
  }
  if (!w.usable) return false;
  // The state the rest of the unrolling's trip depends on.
  std::vector<double> state;
  if (!TripState(w.slots, c.Data(), accumulated, &state)) {
    w.last.clear();
    return false;
  }
  // As at the last pass's start; or as at a pass of an unrolling of the
  // loop found before to run to the limit from there.
  if (state == w.last || FoundEndless(node, pass, state)) return true;
  if (w.first.empty()) {
    w.first = state;
    w.firstPass = pass;
  }
  w.last = state;
  // Past its first passes, the slice rehearsed once.
  if (w.rehearsed || !w.plain || pass < 2) return false;
  w.rehearsed = true;
  if (RehearseSlice(node, condition, w.slice, c, accumulated, pass) != Endless::kRuns) return false;
  m_loop->endless.push_back({node, pass, std::move(state), false});
  return true;
}

ShaderCompiler::Endless ShaderCompiler::RehearseSlice(const ParseNode* node, const ParseNode* condition,
                                   const std::vector<const ParseNode*>& slice, const PodArray<std::uint32_t>& c,
                                   std::uint32_t accumulated, std::uint32_t pass, bool bodyFirst) {
  LoweringMark mark(*this);
  if (!mark.Saved()) return Endless::kUnclear;
  struct Back {
    LoweringMark& m;
    ~Back() { m.RollBack(); }
  } back{mark};
  const MessageHold hold(*this);
  const std::uint32_t messages = reportedMessages, errors = errorFlag;
  std::memcpy(valueMap.Data(), c.Data(), valueMap.Size() * sizeof(std::uint32_t));
  returned = discarded = outOfBounds = 0;
  auto clean = [&] { return reportedMessages == messages && errorFlag == errors && !outOfBounds; };
  // A stop ends the loop outside an attempt; inside one the pass's rest is skipped.
  auto stops = [&] {
    const bool stopped = returned || discarded;
    returned = discarded = 0;
    return stopped && !loopAttempt;
  };
  if (bodyFirst) {
    for (const ParseNode* statement : slice) {
      if (FAILED(LowerStatement(statement, nullptr)) || !clean()) return Endless::kUnclear;
      if (returned || discarded) break;
    }
    if (stops()) return Endless::kEnds;
  }
  for (std::uint32_t k = pass; k < kMaxUnrolledIterations; ++k) {
    // The test as the unrolling lowers it, as an attempt.
    if (condition) {
      std::uint32_t test = kNoIndex;
      const std::uint32_t attempt = loopAttempt;
      loopAttempt = 1;
      const HRESULT hr = LowerExpression(condition, &test, 0);
      loopAttempt = attempt;
      if (FAILED(hr) || !clean() ||
          FAILED(Emit2(node, kOpMultiply, 1, &accumulated, &accumulated, &test, kValueComparison)))
        return Endless::kUnclear;
      if (stops()) return Endless::kEnds;
    }
    ValueRange g = kFull;
    if (FAILED(EvaluateRange(accumulated, &g))) g = kFull;
    if (g.low == 0 && g.high == 0) return Endless::kEnds;
    if (!Excludes0(g)) loopAttempt = 1;
    for (const ParseNode* statement : slice) {
      if (FAILED(LowerStatement(statement, nullptr)) || !clean()) return Endless::kUnclear;
      if (returned || discarded) break;
    }
    if (stops()) return Endless::kEnds;
  }
  return Endless::kRuns;
}

}  // namespace gxl::shader
