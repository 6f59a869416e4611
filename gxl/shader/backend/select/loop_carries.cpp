// The values a loop carries from pass to pass: where register assignment put
// a loop merge's result apart from the entry value the next pass reads, moves
// carry it across, ordered as a parallel copy.
#include <algorithm>
#include <utility>
#include <vector>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

using namespace sel;

namespace {

// The entry value a loop merge's k-th result carries into the next pass:
// the argument of the entry copy its second group reads.
std::uint32_t EntryOf(const ShaderProgram& p, const IrInstruction& merge, std::uint32_t k) {
  const std::uint32_t n = merge.Width();
  const IrValue* copy = p.Value(merge.arguments[n + k]);
  const IrInstruction* d = copy && copy->definingPosition != kNoIndex ? p.Instruction(copy->definingPosition) : nullptr;
  if (!d || d->Group() != kOpLoopEntryCopy) return kNoIndex;
  const std::uint32_t* at = std::find(d->results, d->results + d->resultCount, merge.arguments[n + k]);
  return at == d->results + d->resultCount ? kNoIndex : d->arguments[at - d->results];
}

// One move of each pair's source into a copy of its target value (guarded
// as `guard` is) at `at`, ordered so that no move overwrites what a later one
// reads; a cycle goes through a spare temporary. 0 or a failure.
struct CopyPair {
  std::uint32_t to, from;
};
HRESULT InsertParallelCopy(ShaderTarget& t, std::vector<CopyPair> pending, const IrValue& guard, std::uint32_t at,
                           const IrInstruction& origin) {
  std::vector<IrInstruction*> moves;
  auto move = [&](std::uint32_t to, std::uint32_t from) {
    IrInstruction* m = NewInstruction(IrWord(kOpMove, 1), 1, 1);
    const std::uint32_t copy = m ? t.AddValueCopy(t.Value(to)) : kNoIndex;
    if (copy == kNoIndex) {
      delete m;
      return false;
    }
    t.Value(copy)->predicate = guard.predicate;
    t.Value(copy)->predicateSense = guard.predicateSense;
    m->arguments[0] = from;
    m->results[0] = copy;
    m->CopySourcePosition(&origin);
    moves.push_back(m);
    return true;
  };
  HRESULT hr = S_OK;
  while (!pending.empty() && SUCCEEDED(hr)) {
    // A move whose target no other pending move still reads.
    auto ready = std::find_if(pending.begin(), pending.end(), [&](const CopyPair& q) {
      return std::none_of(pending.begin(), pending.end(),
                          [&](const CopyPair& o) { return &o != &q && SameRegisterComponent(t, o.from, q.to); });
    });
    if (ready != pending.end()) {
      if (!move(ready->to, ready->from)) hr = E_OUTOFMEMORY;
      pending.erase(ready);
      continue;
    }
    const std::uint32_t temporaries = t.StandardBankIndex(StandardBank::Temporaries);
    std::uint32_t spare = 0;
    for (std::uint32_t v = 0; v < t.values.Count(); ++v)
      if (const IrValue* x = t.Value(v); x && x->bank == temporaries && x->reg != kNoIndex)
        spare = std::max(spare, x->reg + 1);
    if (spare >= t.profileLimits.temporaries) {
      GXL_SHADER_REPORT(t, origin.sourcePosition, msg::kTooManyActiveValues);
      hr = E_FAIL;
      break;
    }
    const std::uint32_t held = t.AddValue(temporaries, spare, 0, 0.0);
    if (held == kNoIndex || !move(held, pending.front().from)) {
      hr = E_OUTOFMEMORY;
      break;
    }
    pending.front().from = held;
  }
  // Appended, then turned into place in front of `at`.
  const std::uint32_t first = t.instructions.Count();
  for (IrInstruction* m : moves) {
    if (FAILED(hr) || t.instructions.Append(m) == kNoIndex) {
      if (SUCCEEDED(hr)) hr = E_OUTOFMEMORY;  // Append destroyed it
      else delete m;
    }
  }
  if (FAILED(hr)) {
    for (std::uint32_t i = first; i < t.instructions.Count(); ++i) delete t.instructions.Slot(i);
    t.instructions.Truncate(first);
    return hr;
  }
  for (std::uint32_t k = 0; k < t.instructions.Count() - first; ++k)
    for (std::uint32_t i = first + k; i > at + k; --i) std::swap(t.instructions.Slot(i), t.instructions.Slot(i - 1));
  return S_OK;
}

// A loop's next pass reads its values where the entry left them, and the
// code after the loop where its merges left them. Where the registers put a
// merge's result elsewhere than its entry, moves after the loop's last merge
// carry the results into the entries, and moves at the loop's exit carry them
// back (every way out of the loop leaves them in the entries: the exit of a
// break runs the loop's tail too). The way back goes first thing after the
// loop: register assignment saw no read of the entries past the loop, so the
// code there may reuse their registers.
}  // namespace

HRESULT CarryLoopValuesIntoEntries(ShaderTarget& t, std::uint32_t loop) {
  // Moves inserted since the last use analysis moved the definitions.
  const HRESULT analysed = t.RebuildDefUse();
  if (FAILED(analysed)) return analysed;
  std::vector<CopyPair> pairs;
  std::uint32_t last = kNoIndex;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
    const IrInstruction* merge = t.Instruction(i);
    if (!merge || merge->Group() != kOpLoopMerge || merge->resultCount == 0 ||
        t.Value(merge->results[0])->predicate != loop || merge->argumentCount != 2 * merge->Width())
      continue;
    last = i;
    for (std::uint32_t k = 0; k < merge->resultCount; ++k) {
      const std::uint32_t entry = EntryOf(t, *merge, k);
      if (entry != kNoIndex && !SameRegisterComponent(t, entry, merge->results[k]))
        pairs.push_back({entry, merge->results[k]});
    }
  }
  if (pairs.empty()) return S_FALSE;
  // The loop's end: the first instruction after the last merge that reads a
  // result; the way back is needed only where there is one.
  std::uint32_t end = kNoIndex;
  for (std::uint32_t i = last + 1; i < t.instructions.Count() && end == kNoIndex; ++i) {
    const IrInstruction* inst = t.Instruction(i);
    if (inst && inst->Group() == kOpLoopEnd && inst->resultCount)
      for (const CopyPair& p : pairs)
        if (std::find(inst->arguments, inst->arguments + inst->argumentCount, p.from) !=
            inst->arguments + inst->argumentCount)
          end = i;
  }
  // The exit: the first instruction after the last merge outside the body.
  std::uint32_t exit = last + 1;
  while (exit < end) {
    const IrInstruction* inst = t.Instruction(exit);
    if (inst && inst->word && inst->resultCount && t.Value(inst->results[0])->predicate != loop) break;
    ++exit;
  }
  std::vector<CopyPair> back;
  for (const CopyPair& p : pairs) back.push_back({p.from, p.to});
  const IrInstruction& origin = *t.Instruction(last);
  // Back first: inserting after the last merge moves the exit.
  HRESULT hr = end == kNoIndex ? S_OK : InsertParallelCopy(t, back, *t.Value(t.Instruction(end)->results[0]), exit, origin);
  if (SUCCEEDED(hr)) hr = InsertParallelCopy(t, pairs, *t.Value(origin.results[0]), last + 1, origin);
  return FAILED(hr) ? hr : S_OK;
}


}  // namespace gxl::shader
