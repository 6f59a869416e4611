// Widened entries of inner loops. An outer loop's simulation lowers an inner
// loop in each of its passes; where a symbol the inner loop touches stands
// otherwise at each pass (the outer counter, a value that grows with it),
// no two entries share their facts and the inner loop would be simulated
// anew every time. After a few exact entries such symbols enter the inner
// simulation as loop-entry values whose facts cover every entry met so far,
// each bound that moved opened to infinity: the entries then agree, and the
// simulation's findings are reused (loop_memo.cpp).
//
// The findings stay sound for each real entry: ranges from wider facts are
// wider, a trip count known under them is the real one, and one not known
// gives a loop that breaks on its condition; the code emitted for the pass
// still reads the real values, and the final code of the inner loop comes
// from the outer loop's own emission. Two findings could be lost: that the
// loop runs past the iteration limit on every pass, which a probe from the
// real entry settles first, and the facts an enclosing loop's trip count
// depends on, so a loop that writes a symbol deciding one is not widened
// while that loop's simulation still knows its condition.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

void ShaderCompiler::WidenLoopEntry(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                    const ParseNode* body, const LoopState& st, WideEntry* out) {
  *out = WideEntry{};
  // Held facts go to the next if, and a call's arguments are read outside
  // the map: entries are told apart by neither.
  if (m_loop->loopFrames.empty() || heldFacts || callArguments) return;
  const std::size_t own = m_loop->loopFrames.size() - 1;
  std::size_t outer = own;
  for (std::size_t f = own; f-- > 0;)
    if (m_loop->loopFrames[f].simulating) {
      outer = f;
      break;
    }
  if (outer == own) return;  // no outer simulation

  PodArray<std::uint8_t> touched;
  std::vector<double> context;
  std::vector<std::uint32_t> seen;
  if (!LoopTouches(init, condition, body, &touched) || !DescribeLoopContext(node, init, condition, &context, &seen))
    return;
  std::vector<LoopHistory>& histories = m_loop->loopFrames[outer].histories;
  auto found = std::find_if(histories.begin(), histories.end(),
                            [&](const LoopHistory& h) { return h.node == node && h.context == context; });
  if (found == histories.end()) {
    LoopHistory h;
    h.node = node;
    h.context = std::move(context);
    for (std::uint32_t s = 0; s < touched.Size(); ++s)
      if (touched[s]) h.slots.push_back(s);
    const std::size_t n = h.slots.size();
    h.described.resize(n);
    h.hull.assign(n, kEmpty);
    h.wide.assign(n, kEmpty);
    h.hullFacts.assign(n, kRangeFacts);
    h.wideFacts.assign(n, kRangeFacts);
    h.widened.assign(n, 0);
    histories.push_back(std::move(h));
    found = histories.end() - 1;
  }
  out->frame = outer;
  out->history = static_cast<std::size_t>(found - histories.begin());
  out->tracked = true;
  LoopHistory& h = *found;
  if (h.stopped) return;
  const std::uint32_t entry = h.entries++;

  std::vector<std::uint8_t> written;
  const bool widenable = LoopWrites(init, condition, body, &written) && !DecidesEnclosingTrip(own, written);
  if (!widenable) {
    h.stopped = true;
    return;
  }

  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  for (std::size_t t = 0; t < h.slots.size(); ++t) {
    const std::uint32_t s = h.slots[t];
    std::vector<double> described;
    std::vector<std::uint32_t> met;
    if (!DescribeValue(valueMap[s], &described, &met, 0)) {
      h.stopped = true;
      out->slots.clear();
      return;
    }
    const IrValue* v = Value(valueMap[s]);
    const bool valued = v && v->bank != undefined;
    const ValueRange& r = st.head[s];
    const std::uint32_t facts = st.headFlags[s];
    if (h.widened[t]) {
      h.wide[t] = Widen(h.wide[t], r);
      h.wideFacts[t] &= facts;
    } else if (entry >= kExactEntries && valued && described != h.described[t]) {
      h.widened[t] = 1;
      h.wide[t] = Widen(h.hull[t], r);
      h.wideFacts[t] = h.hullFacts[t] & facts;
    }
    h.hull[t] = Hull(h.hull[t], r);
    h.hullFacts[t] &= facts;
    h.described[t] = std::move(described);
    if (h.widened[t] && valued) {
      out->slots.push_back(s);
      out->ranges.push_back(h.wide[t]);
      out->facts.push_back(h.wideFacts[t]);
    }
  }
}

bool ShaderCompiler::DecidesEnclosingTrip(std::size_t own, const std::vector<std::uint8_t>& written, bool mark) {
  // The slots that may decide a frame's trip count, found once.
  auto trip = [this](LoopFrame& f) -> const std::vector<std::uint8_t>* {
    if (f.trip == LoopFrame::Trip::kUnknown)
      f.trip = LoopTripSlots(f.condition, f.body, f.plainBody, f.step, &f.tripSlots) ? LoopFrame::Trip::kKnown
                                                                                    : LoopFrame::Trip::kAny;
    return f.trip == LoopFrame::Trip::kKnown ? &f.tripSlots : nullptr;
  };
  bool decides = false;
  for (std::size_t f = 0; f < own && f < m_loop->loopFrames.size(); ++f) {
    // A loop whose simulation no longer knows its condition can no longer
    // be found to run past the limit, and wider facts only make it end later.
    LoopFrame& frame = m_loop->loopFrames[f];
    if (frame.open) continue;
    const std::vector<std::uint8_t>* enclosing = trip(frame);
    bool here = !enclosing;
    for (std::size_t s = 0; !here && s < written.size() && s < enclosing->size(); ++s)
      here = written[s] && (*enclosing)[s];
    if (!here) continue;
    if (!mark) return true;
    frame.tripCovered = decides = true;
  }
  return decides;
}

void ShaderCompiler::TaintEnclosingTrips(std::size_t own, const ParseNode* init, const ParseNode* condition,
                                         const ParseNode* body) {
  std::vector<std::uint8_t> written;
  // What it writes unknown: every symbol.
  if (!LoopWrites(init, condition, body, &written)) written.assign(valueMap.Size(), 1);
  DecidesEnclosingTrip(own, written, true);
}

HRESULT ShaderCompiler::EnterWidened(const ParseNode* node, const WideEntry& wide, LoopState& st) {
  const auto m = static_cast<std::uint32_t>(wide.slots.size());
  if (m == 0) return S_OK;
  WordBlock words(*this, 2 * m);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *before = words.Get(), *entry = before + m;
  for (std::uint32_t k = 0; k < m; ++k) before[k] = valueMap[wide.slots[k]];
  FillIndicesWithNone(entry, m);
  const HRESULT hr = EmitInstruction(node, IrWord(kOpLoopEntry, m), entry, before, nullptr, 0);
  if (FAILED(hr)) return hr;
  // As the entry values of an emitted loop: the variable fields of the value
  // each one stands for, and the facts given.
  for (std::uint32_t k = 0; k < m; ++k) {
    const std::uint32_t s = wide.slots[k];
    const ValueRange& r = wide.ranges[k];
    PlaceIn(entry[k], StandardBank::BlockMoves);
    IrValue* v = Value(entry[k]);
    v->CopyVariableFields(Value(before[k]));
    v->symbolSlot = s;
    v->rangeLow = r.low;
    v->rangeHigh = r.high;
    v->flags |= kValueRangeCached | (r.low == r.high ? std::uint32_t{kValueConstant} : 0u) | wide.facts[k];
    valueMap[s] = entry[k];
    st.head[s] = st.exit[s] = r;
    st.headFlags[s] = st.exitFlags[s] = wide.facts[k];
  }
  return S_OK;
}

ShaderCompiler::WideEntry ShaderCompiler::EntryOf(const std::vector<std::uint8_t>& entered,
                                                  const std::vector<ValueRange>& ranges,
                                                  const std::vector<std::uint32_t>& facts) {
  WideEntry wide;
  for (std::uint32_t s = 0; s < entered.size(); ++s)
    if (entered[s]) {
      wide.slots.push_back(s);
      wide.ranges.push_back(ranges[s]);
      wide.facts.push_back(facts[s]);
    }
  return wide;
}

void ShaderCompiler::StopWidening(const WideEntry& wide) {
  if (wide.tracked) m_loop->loopFrames[wide.frame].histories[wide.history].stopped = true;
}

HRESULT ShaderCompiler::SimulateEntry(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                                      std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st,
                                      LoopFindings* found) {
  // While the loop simulates itself, the loops inside it keep their
  // histories in its frame.
  const std::size_t frame = m_loop->loopFrames.size() - 1;
  auto simulate = [&](const std::uint32_t* map, std::uint32_t values, bool* unknown) {
    m_loop->loopFrames[frame].simulating = true;
    const HRESULT hr = SimulateOrReuse(node, init, condition, body, map, values, limit, st, found, unknown);
    m_loop->loopFrames[frame].simulating = false;
    m_loop->loopFrames[frame].histories.clear();
    return hr;
  };
  WideEntry wide;
  WidenLoopEntry(node, init, condition, body, st, &wide);
  // From the entry's own facts the simulation starts at the noted count (the
  // literal 1 just made counts as made by it).
  if (wide.slots.empty()) return simulate(startMap, valuesBefore, nullptr);

  // What a simulation changes besides the IR and the map, for starting again.
  const std::uint32_t errors = errorFlag, messages = reportedMessages, guardBefore = guard;
  const std::uint32_t block = blockContext, sense = polarity, statements = m_statementSequence;
  auto restart = [&] {
    RollBackIr(valuesBefore, instructionsBefore, startMap);
    errorFlag = errors;
    reportedMessages = messages;
    guard = guardBefore;
    blockContext = block;
    polarity = sense;
    m_statementSequence = statements;
    returned = discarded = outOfBounds = abandonLoop = 0;
    for (std::size_t s = 0; s < valueMap.Size(); ++s) {
      st.head[s] = st.exit[s] = EnteredRange(valueMap[s]);
      st.headFlags[s] = st.exitFlags[s] = EnteredFacts(valueMap[s]);
    }
    st.counter = true;
    st.counterSlot = st.counterFinal = kNoIndex;
    *found = LoopFindings{};
    return One() != kNoIndex;
  };
  auto exact = [&] { return restart() ? simulate(startMap, valuesBefore, nullptr) : OutOfMemory(node); };

  // Widened facts cannot tell a loop that runs past the limit on every pass
  // (which is unrolled) from one that may end: a probe from the entry's own
  // facts runs while the accumulated condition is known. Where the condition
  // and step alone decide the trip count, they alone are the probe, so that
  // a trip count that follows the outer counter (j < i) costs its passes of
  // them and not of the body. Otherwise the probe is the simulation itself:
  // held back, its messages are the simulation's own, and where it has any,
  // the loop is simulated again to report them.
  HRESULT hr;
  if (m_loop->loopFrames[frame].decided) {
    const EntryTrip trip = RehearseEntryTrip(node, condition, m_loop->loopFrames[frame].step, limit);
    if (target->workExhausted) return E_FAIL;
    if (trip == EntryTrip::kUnclear || trip == EntryTrip::kRunning) return exact();
  } else {
    bool unknown = false;
    {
      const MessageHold hold(*this);
      hr = simulate(startMap, valuesBefore, &unknown);
    }
    if (target->workExhausted || hr == E_OUTOFMEMORY) return hr;
    if (reportedMessages != messages) return exact();
    if (!unknown) return hr;  // the probe ran the whole simulation
  }

  PodArray<std::uint32_t> widened;
  if (!restart() || FAILED(EnterWidened(node, wide, st)) || !widened.Append(valueMap.Data(), valueMap.Size()))
    return OutOfMemory(node);
  {
    const MessageHold hold(*this);
    hr = simulate(widened.Data(), ValueCount(), nullptr);
  }
  widenedSimulations += !m_loop->reused;
  if (target->workExhausted || hr == E_OUTOFMEMORY) return hr;
  // A widened simulation that would report something or fail may owe it to
  // the facts it lost (an index it cannot place, a write it cannot make):
  // the loop is simulated from its own entry instead, and no longer widened
  // in this outer simulation. (An index past its array under widened facts
  // is past it under the entry's own too, and a construct the loop cannot
  // hold only makes it unrolled.)
  if (SUCCEEDED(hr) && found->LeavesNothing() && !found->counterAfterStart) return hr;
  StopWidening(wide);
  return exact();
}

}  // namespace gxl::shader
