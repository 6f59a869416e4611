// The first optimiser phase: set-up passes, then rounds of machine-independent
// rewriting until no pass changes the program, then the clean-up that leaves
// outputs written directly and the lists compact.
#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/backend/opt/round_upkeep.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kMaxRounds = 256;

}  // namespace

HRESULT ShaderProgram::Optimize() {
  HRESULT hr;
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

  if (FAILED(hr = PackVectors()) || FAILED(hr = RouteOutputsThroughTemporaries())) return hr;

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
  const std::uint64_t roundsStart = workLeft, roundsShare = workLeft / 2;
  std::uint64_t lastRound = 0;
  bool settled = true;
  std::uint32_t round = 0;
  for (; round < kMaxRounds; ++round) {
    const std::uint64_t before = workLeft;
    if (round >= kLongOptimizerRounds && roundsStart - before + lastRound > roundsShare) {
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
    }
    if (optimizerRoundHook) {
      if (FAILED(hr = optimizerRoundHook(*this))) return hr;
      changed |= hr == S_OK;
    }
    lastRound = before - workLeft;
    if (!changed) break;
  }
  optimizerRound = 0;
  if (FAILED(hr = upkeep.Finish())) return hr;
  if (round == kMaxRounds || !settled) GXL_SHADER_REPORT(*this, nullptr, msg::kOptimizationDidNotConverge);

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
  WriteOutputsDirectly();
  for (HRESULT (ShaderProgram::*pass)() : {&ShaderProgram::MergeDuplicateValues, &ShaderProgram::CompactInstructions,
                                           &ShaderProgram::RemoveUnusedValues}) {
    if (FAILED(hr = (this->*pass)())) return hr;
  }
  optimisedFlag = 1;
  return S_OK;
}

}  // namespace gxl::shader
