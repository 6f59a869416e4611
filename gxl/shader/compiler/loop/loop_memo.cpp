// The reuse of an inner loop's simulation inside an outer one: the facts
// that decide the simulation (the key), and what it found.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "gxl/shader/compiler/loop/loop_state.h"

namespace gxl::shader {

using namespace loops;

namespace {

// Values a description follows from one to the next (a predicate's block,
// a relative index): past this, no key.
constexpr std::uint32_t kMaxDescribedDepth = 32;

}  // namespace

bool ShaderCompiler::DescribeValue(std::uint32_t x, std::vector<double>* out, std::vector<std::uint32_t>* seen,
                                   std::uint32_t depth) {
  const IrValue* v = Value(x);
  if (!v) {
    out->push_back(-1.0);
    return true;
  }
  const auto first = std::find(seen->begin(), seen->end(), x);
  if (first != seen->end()) {
    out->insert(out->end(), {-3.0, static_cast<double>(first - seen->begin())});
    return true;
  }
  if (depth > kMaxDescribedDepth) return false;
  seen->push_back(x);
  // A value from before the simulations is the same one each time, but an
  // unrolled iteration around the loop may lend it other facts for a while.
  // (Described by facts alone, every value counts as new.)
  const std::uint32_t base = m_loop->describeByFacts ? 0 : m_loop->simulationBase;
  if (x < base) {
    out->insert(out->end(), {double(x), v->rangeLow, v->rangeHigh, double(v->flags)});
    return true;
  }
  // A value made by an outer simulation is new in each of its iterations
  // and counts by what the lowering can learn of it: its fields, the values
  // they name, and the value its moves copy (a loop's counter is found
  // through them).
  ValueRange r;
  const bool ok = SUCCEEDED(EvaluateRange(x, &r));
  const std::uint32_t source = MoveRoot(x);
  out->insert(out->end(), {-2.0, ok ? 1.0 : 0.0, r.low, r.high, double(v->flags), double(v->bank), double(v->reg),
                           double(v->component), double(v->predicateSense), double(v->symbolSlot),
                           source == x ? -1.0 : source < base ? double(source) : -2.0});
  for (const std::uint32_t named : {v->relativeIndex, v->predicate, v->indexValue})
    if (!DescribeValue(named, out, seen, depth + 1)) return false;
  return !m_loop->describeByFacts || source == x || DescribeValue(source, out, seen, depth + 1);
}

std::uint32_t ShaderCompiler::MoveRoot(std::uint32_t x) {
  std::vector<std::uint32_t>& roots = m_loop->moveRoots;
  std::uint32_t source = x, walked = 0;
  for (std::uint32_t steps = 0; steps < ValueCount(); ++steps) {
    if (source < roots.size() && roots[source]) {
      source = roots[source] - 1;
      break;
    }
    const IrValue* moved = Value(source);
    if (!moved || moved->reg != kNoIndex || !Value(moved->moveSource)) break;
    source = moved->moveSource;
    ++walked;
  }
  moveChainSteps += walked;
  // The values passed end where this walk ended.
  if (roots.size() < ValueCount()) roots.resize(ValueCount(), 0);
  for (std::uint32_t v = x, k = 0; k < walked && v < roots.size() && !roots[v]; ++k) {
    roots[v] = source + 1;
    v = Value(v)->moveSource;
  }
  return source;
}

bool ShaderCompiler::DescribeLoopContext(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                         std::vector<double>* out, std::vector<std::uint32_t>* seen) {
  auto id = [](const void* p) { return static_cast<double>(reinterpret_cast<std::uintptr_t>(p)); };
  // A for loop's body is built anew around its step at each lowering: the
  // loop's own node names it.
  out->insert(out->end(), {id(node), init ? 1.0 : 0.0, id(condition), double(inlineDepth), double(polarity),
                           double(loopDepth), double(returned), double(discarded), double(outOfBounds),
                           double(abandonLoop), double(loopAttempt), double(staticIfs), double(dynamicIfs),
                           double(defaultPrecision)});
  // The block and the guard an outer simulation made are new in each of
  // its iterations too.
  for (const std::uint32_t x : {blockContext, guard, one, zero, minusOne})
    if (!DescribeValue(x, out, seen, 0)) return false;
  // Which enclosing loops no longer know their conditions decides which
  // loops inside may be widened.
  for (const LoopFrame& f : m_loop->loopFrames) out->push_back(f.open ? 1.0 : 0.0);
  return true;
}

std::vector<double> ShaderCompiler::LoopMemoKey(const ParseNode* node, const ParseNode* init,
                                                const ParseNode* condition, const ParseNode* body) {
  // Held facts go to the next if, and a call's arguments are read outside
  // the map: the key sees neither.
  if (heldFacts || callArguments) return {};
  PodArray<std::uint8_t> touched;
  if (!LoopTouches(init, condition, body, &touched)) return {};
  std::vector<double> key;
  std::vector<std::uint32_t> seen;  // the values described so far, for which ones recur
  if (!DescribeLoopContext(node, init, condition, &key, &seen)) return {};
  for (std::uint32_t s = 0; s < touched.Size(); ++s) {
    if (!touched[s]) continue;
    key.push_back(s);
    if (!DescribeValue(valueMap[s], &key, &seen, 0)) return {};
  }
  return key;
}

HRESULT ShaderCompiler::SimulateOrReuse(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                        const ParseNode* body, const std::uint32_t* startMap,
                                        std::uint32_t valuesBefore, std::uint32_t limit, LoopState& st,
                                        LoopFindings* found, bool* unknown) {
  // Inside an outer simulation, the same loop under the same entry facts
  // simulates the same way: its first simulation's findings are reused.
  std::vector<double> key;
  if (m_loop->simulating) key = LoopMemoKey(node, init, condition, body);
  // Under the reference switch nothing is kept, but the key still tells
  // which simulations would be (m_loop->keptBuilt), so that both settle alike.
  const bool keyed = !key.empty();
  // Under the switch, a simulation under a key the compile without it keeps
  // is a rerun of that one.
  std::vector<double> referenceKey;
  bool rerun = false;
  if (referenceSearches) {
    rerun = keyed && std::find(m_loop->referenceKeys.begin(), m_loop->referenceKeys.end(), key) != m_loop->referenceKeys.end();
    referenceKey = std::move(key);
    key.clear();
  }
  // A copy: the simulation below keeps and forgets memos of its own.
  std::optional<LoopMemo> memo;
  bool checking = false;
  for (LoopMemo& m : m_loop->loopMemos)
    if (!key.empty() && m.key == key) {
      // The first reuse of each memo is checked, then every n-th reuse;
      // reuses inside a check's own simulation are not checked again.
      checking = checkLoopMemos && !m_loop->memoChecks && (m.reuses == 0 || loopMemoHits % checkLoopMemos == 0);
      if (!m_loop->memoChecks) ++m.reuses;
      ++loopMemoHits;
      loopMemoChecks += checking;
      memo = m;
      break;
    }
  HRESULT hr = S_OK;
  m_loop->reused = false;
  if (memo && !checking) {
    if (FAILED(hr = ReplayLoopMemo(*memo))) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
    ApplyLoopMemo(*memo, st, found);
    // A probe asks where the simulation would have stopped.
    if (unknown) *unknown = found->unknownGuard;
    m_loop->reused = true;
    return S_OK;
  }

  const std::size_t slots = valueMap.Size();
  PodArray<ValueRange> entryHead;
  PodArray<std::uint32_t> entryFlags;
  if (!key.empty() && (!entryHead.Append(st.head.Data(), slots) || !entryFlags.Append(st.headFlags.Data(), slots)))
    return OutOfMemory(node);
  // What the reuse would have supplied, to check against the simulation.
  LoopState reused;
  LoopFindings reusedFound;
  if (checking) {
    if (!reused.head.Append(st.head.Data(), slots) || !reused.exit.Append(st.exit.Data(), slots) ||
        !reused.headFlags.Append(st.headFlags.Data(), slots) || !reused.exitFlags.Append(st.exitFlags.Data(), slots))
      return OutOfMemory(node);
    ApplyLoopMemo(*memo, reused, &reusedFound);
  }
  {
    struct Simulating {
      ShaderCompiler& c;
      bool check;
      Simulating(ShaderCompiler& compiler, bool checking) : c(compiler), check(checking) {
        if (c.m_loop->simulating++ == 0) c.m_loop->simulationBase = c.ValueCount();
        c.m_loop->memoChecks += check;
      }
      ~Simulating() {
        c.m_loop->memoChecks -= check;
        if (--c.m_loop->simulating == 0) {
          c.m_loop->loopMemos.clear();
          c.m_loop->referenceKeys.clear();
        }
      }
    } simulating(*this, checking);
    // A check runs the simulation as if nothing were kept: its work is not
    // charged, and its messages are counted, not shown.
    std::optional<UnmeteredWork> unmetered;
    std::optional<MessageHold> hold;
    if (checking) {
      unmetered.emplace(*target);
      hold.emplace(*this);
    }
    const RerunScope counted(*this, checking || rerun);
    const std::uint64_t built = m_loop->instructionsBuilt, kept = m_loop->keptBuilt;
    hr = SimulateLoop(node, init, condition, body, startMap, valuesBefore, limit, st, found,
                      checking ? nullptr : unknown);
    // A check stands in for a reuse, which builds nothing.
    if (checking || (SUCCEEDED(hr) && !(unknown && *unknown) && keyed && found->LeavesNothing() &&
                     !found->counterAfterStart))
      m_loop->keptBuilt = kept + (m_loop->instructionsBuilt - built);
  }
  m_loop->reused = false;
  if (checking && unknown) *unknown = found->unknownGuard;
  // A check, or a rerun under the switch, stands for a reuse: its banks count.
  if ((checking || rerun) && SUCCEEDED(hr) && !m_loop->reruns)
    m_loop->reusedBankWork += kReusedBankWork * found->banks.size();
  if (referenceSearches && !rerun && SUCCEEDED(hr) && !(unknown && *unknown) && keyed && found->LeavesNothing() &&
      !found->counterAfterStart)
    m_loop->referenceKeys.push_back(std::move(referenceKey));
  if (checking) {
    loopMemoMismatches += FAILED(hr) || !SameLoopFindings(reused, reusedFound, st, *found) ||
                          !found->LeavesNothing() || found->counterAfterStart;
  } else if (SUCCEEDED(hr) && !(unknown && *unknown) && !key.empty() && found->LeavesNothing() &&
             !found->counterAfterStart) {
    LoopMemo made;
    MakeLoopMemo(std::move(key), entryHead, entryFlags, st, *found, &made);
    m_loop->loopMemos.push_back(std::move(made));
  }
  return hr;
}

void ShaderCompiler::MakeLoopMemo(std::vector<double> key, const PodArray<ValueRange>& entryHead,
                                  const PodArray<std::uint32_t>& entryFlags, const LoopState& st,
                                  const LoopFindings& found, LoopMemo* out) {
  LoopMemo& m = *out;
  m.key = std::move(key);
  m.found = found;
  m.counter = st.counter;
  m.counterSlot = st.counterSlot;
  m.counterFinal = st.counterFinal;
  // The exit facts start as the entry facts too.
  auto same = [](const ValueRange& a, const ValueRange& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  };
  for (std::uint32_t s = 0; s < entryHead.Size(); ++s) {
    if (same(st.head[s], entryHead[s]) && same(st.exit[s], entryHead[s]) && st.headFlags[s] == entryFlags[s] &&
        st.exitFlags[s] == entryFlags[s])
      continue;
    m.slots.push_back(s);
    m.head.push_back(st.head[s]);
    m.exit.push_back(st.exit[s]);
    m.headFlags.push_back(st.headFlags[s]);
    m.exitFlags.push_back(st.exitFlags[s]);
  }
}

HRESULT ShaderCompiler::ReplayLoopMemo(const LoopMemo& memo) {
  const std::uint64_t work = kReusedBankWork * memo.found.banks.size();
  if (!m_loop->reruns) m_loop->reusedBankWork += work;  // (a check's own reuses: its whole run counts)
  const HRESULT hr = target->ChargeWork(work);
  if (FAILED(hr)) return hr;
  for (const RegisterBank& b : memo.found.banks)
    if (target->AddRegisterBankCopy(&b) == kNoIndex) return E_OUTOFMEMORY;
  // The statements the simulation would have lowered keep their numbers.
  m_statementSequence += memo.found.statements;
  return S_OK;
}

void ShaderCompiler::ApplyLoopMemo(const LoopMemo& memo, LoopState& st, LoopFindings* found) {
  *found = memo.found;
  st.counter = memo.counter;
  st.counterSlot = memo.counterSlot;
  st.counterFinal = memo.counterFinal;
  for (std::size_t k = 0; k < memo.slots.size(); ++k) {
    const std::uint32_t s = memo.slots[k];
    st.head[s] = memo.head[k];
    st.exit[s] = memo.exit[k];
    st.headFlags[s] = memo.headFlags[k];
    st.exitFlags[s] = memo.exitFlags[k];
  }
}

bool ShaderCompiler::SameLoopFindings(const LoopState& a, const LoopFindings& f, const LoopState& b,
                                      const LoopFindings& g) {
  auto bits = [](const PodArray<ValueRange>& x, const PodArray<ValueRange>& y) {
    return x.Size() == y.Size() && (x.Empty() || std::memcmp(x.Data(), y.Data(), x.Size() * sizeof x[0]) == 0);
  };
  auto same = [](const PodArray<std::uint32_t>& x, const PodArray<std::uint32_t>& y) {
    return std::equal(x.Data(), x.Data() + x.Size(), y.Data(), y.Data() + y.Size());
  };
  auto sameBanks = [](const std::vector<RegisterBank>& x, const std::vector<RegisterBank>& y) {
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const RegisterBank& p, const RegisterBank& q) {
      return p.name == q.name && p.type == q.type && p.registerCount == q.registerCount &&
             p.components == q.components && p.registersUsed == q.registersUsed && p.word5 == q.word5 &&
             p.word6 == q.word6 && p.word7 == q.word7 && p.definitions == q.definitions && p.word9 == q.word9 &&
             p.firstRelativeUse == q.firstRelativeUse && p.lastRelativeUse == q.lastRelativeUse &&
             p.relativeUseCount == q.relativeUseCount;
    });
  };
  return f.iterations == g.iterations && f.certain == g.certain && f.outOfBounds == g.outOfBounds &&
         f.abandon == g.abandon && f.running == g.running && f.unknownGuard == g.unknownGuard &&
         f.derivatives == g.derivatives &&
         f.notCheap == g.notCheap && f.carried == g.carried && f.statements == g.statements &&
         f.messages == g.messages && f.errors == g.errors && f.guardChanged == g.guardChanged &&
         f.blockChanged == g.blockChanged && f.identityMade == g.identityMade && f.valuesMade == g.valuesMade &&
         f.instructionsMade == g.instructionsMade && sameBanks(f.banks, g.banks) &&
         f.counterAfterStart == g.counterAfterStart && a.counter == b.counter && a.counterSlot == b.counterSlot &&
         a.counterFinal == b.counterFinal && bits(a.head, b.head) && bits(a.exit, b.exit) &&
         same(a.headFlags, b.headFlags) && same(a.exitFlags, b.exitFlags);
}

}  // namespace gxl::shader
