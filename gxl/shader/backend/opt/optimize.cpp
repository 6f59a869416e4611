// The first optimiser phase: set-up passes, then rounds of machine-independent
// rewriting until no pass changes the program, then the clean-up that leaves
// outputs written directly and the lists compact.
#include <algorithm>

#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/backend/opt/round_upkeep.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kMaxRounds = 256;

// The optimiser's rounds may spend what the compile has left but what the
// later phases need. Where those need more than half of what is left when the
// rounds begin, the later phases cannot run over the program as it stands:
// only the rounds can shrink it (a chain that settles one link a round and
// then folds whole), so they may spend half of it.
class RoundsShare {
 public:
  explicit RoundsShare(ShaderProgram& p) : m_p(p), m_half((p.workCap - std::min(p.workCap, p.workCharged)) / 2) {
    Renew();
  }
  // What the later phases need follows the program's size, which the
  // rounds change: a pass that folds the program whole leaves them little
  // to need.
  void Renew() {
    m_p.workShareFloor = std::min(m_p.LaterPhasesWork(), m_half);
    m_p.workShareSpent = m_p.workCap - std::min(m_p.workCap, m_p.workCharged) < m_p.workShareFloor;
  }
  ~RoundsShare() {
    m_p.workShareFloor = 0;
    m_p.workShareSpent = false;
  }
  RoundsShare(const RoundsShare&) = delete;
  RoundsShare& operator=(const RoundsShare&) = delete;

 private:
  ShaderProgram& m_p;
  const std::uint64_t m_half;
};

}  // namespace

HRESULT ShaderProgram::Optimize() {
  HRESULT hr;
  if (FAILED(hr = ChargeWalk(workrate::kOptimizerSetup))) return hr;
  for (HRESULT (ShaderProgram::*pass)() :
       {&ShaderProgram::CheckUninitializedUse, &ShaderProgram::RemoveDeadCode, &ShaderProgram::MergeDuplicateValues,
        &ShaderProgram::CompactInstructions, &ShaderProgram::RemoveUnusedValues}) {
    if (FAILED(hr = (this->*pass)())) return hr;
  }

  // Kept moves have served the passes above; from here on they are plain moves.
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction* inst = instructions[i];
    if (inst && inst->Group() == kOpKeptMove) inst->word = IrWord(kOpMove, inst->resultCount);
  }

  if (options & kOptionNoOptimisation) {
    optimisedFlag = 1;
    return S_OK;
  }

  if (FAILED(hr = ChargeWalk(workrate::kOptimizerOther)) || FAILED(hr = PackVectors()) ||
      FAILED(hr = RouteOutputsThroughTemporaries()))
    return hr;

  // A long program whose rounds change little is kept in step incrementally
  // (not under the reference switch, nor with a hook that rewrites behind it).
  // The upkeep allocates nothing until it is set up.
  RoundUpkeep upkeep(*this);
  const bool kept = !referenceSearches && !optimizerRoundHook;
  // Rounds in their long tail may spend half of what the compile had left
  // when they started. Rounds that keep changing past it (a chain settled one
  // link a round) end as the round limit ends them, leaving the later phases
  // the other half, rather than refusing a program whose every round is
  // correct code. Rounds that settle early are never cut short.
  const std::uint64_t roundsStart = WorkRemaining(), roundsShare = roundsStart / 2;
  // Nor may rounds take what the later phases need (the cap bounds a
  // compile's time): the round in whose pass the rounds' share runs out is
  // the last, and the program goes on as that pass left it.
  RoundsShare share(*this);
  // A round after one that folded half the program or more away is taken
  // whatever the share: it costs less than that one, and where a chain
  // folded whole it costs nothing and sees the rounds settled.
  std::uint64_t lastRound = 0, lastRecords = 0;
  bool settled = true;
  std::uint32_t round = 0;
  for (; round < kMaxRounds; ++round) {
    const std::uint64_t before = WorkRemaining(), records = std::uint64_t{instructions.Count()} + values.Count();
    const bool halved = records * 2 <= lastRecords;
    if (workShareSpent ||
        (round >= kLongOptimizerRounds && !halved && roundsStart - before + lastRound > roundsShare)) {
      settled = false;
      break;
    }
    optimizerRound = round;
    bool changed = false;
    for (RoundPass pass : {RoundPass::Fold, RoundPass::DeadCode, RoundPass::Components, RoundPass::Common,
                           RoundPass::Equivalent, RoundPass::Arithmetic, RoundPass::Indexes, RoundPass::Predicates,
                           RoundPass::Guards}) {
      if (FAILED(hr = kept ? upkeep.Run(pass) : RunRoundPass(*this, pass))) return hr;
      changed |= hr == S_OK;
      share.Renew();
      if (workShareSpent) break;
    }
    if (optimizerRoundHook) {
      if (FAILED(hr = optimizerRoundHook(*this))) return hr;
      changed |= hr == S_OK;
      share.Renew();
    }
    lastRound = before - WorkRemaining();
    lastRecords = records;
    if (!changed) break;
  }
  optimizerRound = 0;
  if (FAILED(hr = upkeep.Finish())) return hr;
  if (round == kMaxRounds || !settled) GXL_SHADER_REPORT(*this, nullptr, msg::kOptimizationDidNotConverge);
  if (FAILED(hr = ChargeWalk(workrate::kOptimizerTail))) return hr;

  // Literal-valued banks other than the array kinds hand their values to "l".
  const std::uint32_t literals = StandardBankIndex(StandardBank::Literals);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    const RegisterBank* bank = v ? banks[v->bank] : nullptr;
    if (bank && (bank->type & kBankLiteral) && !(bank->type & (kBankRelative | kBankKeepValues))) {
      v->bank = literals;
      v->reg = v->component = kNoIndex;
    }
  }

  if (FAILED(hr = ExtractPreshader())) return hr;
  if (FAILED(hr = WriteOutputsDirectly())) return hr;
  for (HRESULT (ShaderProgram::*pass)() : {&ShaderProgram::MergeDuplicateValues, &ShaderProgram::CompactInstructions,
                                           &ShaderProgram::RemoveUnusedValues}) {
    if (FAILED(hr = (this->*pass)())) return hr;
  }
  optimisedFlag = 1;
  return S_OK;
}

}  // namespace gxl::shader
