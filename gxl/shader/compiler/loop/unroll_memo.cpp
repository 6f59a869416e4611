// Unrollings forced below the depth at which a profile keeps loops, reused
// where their code is thrown away. A loop nested deeper than the profile
// keeps loops is unrolled wherever it is met; inside a kept loop of uniform
// length that unrolling (hundreds of guarded passes) is rebuilt at every pass
// of the simulations, covering rounds and emission attempts around it, whose
// code is rolled back and whose findings read only the facts the unrolling
// leaves. So there its effects are kept by its entry (the loop, the
// lowering's state and every symbol it touches, each value by its facts):
// met again from the same entry, the symbols it moved enter with the facts
// it left, through one instruction, and nothing is built again. Where the
// code stays (the emission outside any simulation or covering pass) the loop
// is unrolled in full.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

namespace {

// An unrolling that builds fewer instructions is built again each time: its
// effects are not worth the key.
constexpr std::uint32_t kKeptUnrolling = 1024;

}  // namespace

bool ShaderCompiler::UnrollingReusable() const {
  const std::uint32_t kept = target->profileLimits.word13;
  return kept && loopDepth >= kept && (m_loop->exactSimulations || m_loop->coverPasses) && !m_loop->memoChecks &&
         !m_loop->settleChecks && !m_loop->reruns && !m_loop->checkCeiling && !m_loop->firstPassOnly &&
         !referenceSearches;
}

std::vector<double> ShaderCompiler::UnrollingKey(const ParseNode* node, const ParseNode* init,
                                                 const ParseNode* condition, const ParseNode* body) {
  struct ByFacts {
    bool& on;
    bool was;
    explicit ByFacts(bool& flag) : on(flag), was(flag) { on = true; }
    ~ByFacts() { on = was; }
  } byFacts(m_loop->describeByFacts);
  std::vector<double> key = LoopMemoKey(node, init, condition, body);
  if (!key.empty()) key.insert(key.end(), {loopCounter.low, loopCounter.high});
  return key;
}

HRESULT ShaderCompiler::UnrollOrReuse(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const std::uint32_t* startMap, const ParseNode* step,
                                      Trip trip, const PodArray<const ParseNode*>* indexes) {
  if (!UnrollingReusable()) return UnrollLoop(node, init, condition, body, startMap, step, trip, indexes);
  std::vector<double> key = UnrollingKey(node, init, condition, body);
  // Describing the entry reads each value it names once.
  HRESULT hr = target->ChargeWork(key.size());
  if (FAILED(hr)) return hr;
  if (key.empty()) return UnrollLoop(node, init, condition, body, startMap, step, trip, indexes);
  for (const KeptUnrolling& kept : m_loop->keptUnrollings) {
    if (kept.loop != node) continue;
    if (FAILED(hr = target->ChargeWork(kept.key.size() / 8))) return hr;
    if (kept.key == key) return ReuseUnrolling(node, kept);
  }

  const LoweringMark before(*this);
  if (!before.Saved()) return OutOfMemory(node);
  std::vector<std::uint8_t> tainted;
  for (const LoopFrame& f : m_loop->loopFrames) tainted.push_back(f.tripCovered);
  hr = UnrollLoop(node, init, condition, body, startMap, step, trip, indexes);
  // Only an unrolling that left nothing but its symbols' values is kept: no
  // message, no return, no index past its array, no loop around it told.
  if (hr != S_OK || m_loop->pastCeiling || InstructionCount() - before.instructions < kKeptUnrolling ||
      reportedMessages != before.reportedMessages || errorFlag != before.errorFlag || returned || discarded ||
      outOfBounds != before.outOfBounds || abandonLoop != before.abandonLoop || guard != before.guard ||
      blockContext != before.blockContext || polarity != before.polarity ||
      m_identityTable != before.identityTable || m_identityValues != before.identityValues ||
      AnyInstructionSince(before.instructions, TakesDerivatives) ||
      AnyInstructionSince(before.instructions, [](std::uint32_t word) { return IrClass(word) == 6; }))
    return hr;
  for (std::size_t f = 0; f < tainted.size() && f < m_loop->loopFrames.size(); ++f)
    if (m_loop->loopFrames[f].tripCovered != (tainted[f] != 0)) return hr;
  KeptUnrolling kept;
  kept.loop = node;
  kept.statements = m_statementSequence - before.statements;
  kept.costly = AnyInstructionSince(before.instructions, IsCostlyLoopOperation);
  for (std::uint32_t s = 0; s < valueMap.Size(); ++s) {
    if (valueMap[s] == before.map[s]) continue;
    const IrValue* v = Value(valueMap[s]);
    ValueRange r;
    if (!v || FAILED(EvaluateRange(valueMap[s], &r))) return hr;
    kept.slots.push_back(s);
    kept.flags.push_back(v->flags);
    kept.ranges.push_back(r);
  }
  for (std::uint32_t b = before.banks; b < target->banks.Count(); ++b) kept.banks.push_back(*target->Bank(b));
  kept.key = std::move(key);
  m_loop->keptUnrollings.push_back(std::move(kept));
  return hr;
}

HRESULT ShaderCompiler::ReuseUnrolling(const ParseNode* node, const KeptUnrolling& kept) {
  HRESULT hr = target->ChargeWork(kReusedBankWork * kept.banks.size() + kLoweringWork * kept.slots.size());
  if (FAILED(hr)) return hr;
  for (const RegisterBank& b : kept.banks)
    if (target->AddRegisterBankCopy(&b) == kNoIndex) return OutOfMemory(node);
  m_statementSequence += kept.statements;
  ++reusedUnrollings;
  const auto m = static_cast<std::uint32_t>(kept.slots.size());
  if (m == 0) return S_OK;
  WordBlock words(*this, 2 * m);
  if (!words || Zero() == kNoIndex) return OutOfMemory(node);
  std::uint32_t *entered = words.Get(), *results = entered + m;
  for (std::uint32_t k = 0; k < m; ++k)
    entered[k] = Value(valueMap[kept.slots[k]]) ? valueMap[kept.slots[k]] : zero;
  FillIndicesWithNone(results, m);
  // One instruction stands for the passes, of their kind: a costly one
  // where they held one (what decides whether a loop around pays).
  hr = kept.costly ? EmitInstruction(node, IrWord(kOpLoopEntry, m), results, entered, nullptr, 0)
                   : AppendInstruction(node, IrWord(kOpMax, m), results, entered, entered, 0);
  if (FAILED(hr)) return hr;
  for (std::uint32_t k = 0; k < m; ++k) {
    const std::uint32_t s = kept.slots[k];
    PlaceIn(results[k], StandardBank::BlockMoves);
    IrValue* v = Value(results[k]);
    v->CopyVariableFields(Value(entered[k]));
    v->symbolSlot = s;
    v->flags = kept.flags[k] | kValueRangeCached;
    v->rangeLow = kept.ranges[k].low;
    v->rangeHigh = kept.ranges[k].high;
    valueMap[s] = results[k];
  }
  return S_OK;
}

}  // namespace gxl::shader
