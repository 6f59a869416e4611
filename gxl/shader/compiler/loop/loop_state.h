// The state of the loop lowering for one compile run, in one place: what
// the simulations, covering passes, unrollings and dead loops' rehearsals
// open at a time keep, what they count, and what they keep for later in
// the run. The compiler holds it (ShaderCompiler::m_loop); the loop
// lowering (this folder) alone reads and writes it.
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/compiler/loop/loop_memo.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

// What an unrolling forced below the kept depth left, for its reuse from the
// same entry: the symbols it moved with the facts of their values, the banks
// and statement numbers it took, whether its passes held a costly operation.
struct ShaderCompiler::KeptUnrolling {
  const ParseNode* loop = nullptr;
  std::vector<double> key;
  std::vector<std::uint32_t> slots, flags;
  std::vector<ValueRange> ranges;
  std::vector<RegisterBank> banks;
  std::uint32_t statements = 0;
  bool costly = false;
};

struct ShaderCompiler::LoopLowering {
  // The loops being lowered, innermost last (loop_widening.cpp): what
  // decides each one's trip count, and while one simulates itself, what the
  // loops inside it met at their entries.
  std::vector<LoopFrame> loopFrames;
  // The loops of the run LoopIsDead has judged.
  PodArray<DeadLoop> deadLoops;
  // Dead loops rehearsed as live ones: where met again, only their first
  // passes are lowered.
  PodArray<const ParseNode*> rehearsedDeadLoops;
  // Loops lowered for their first pass only (a dead loop's rehearsal past
  // its work), and the unrollings of the run refused as endless
  // (RefuseEndlessLoop) with the last one's loop.
  std::uint32_t firstPassOnly = 0;
  std::uint32_t endlessRefusals = 0;
  const ParseNode* lastEndless = nullptr;
  // Nested flow-control loops: the outer loop's simulation lowers the inner
  // loop in each of its iterations, and each time the inner loop simulates
  // itself anew, so nesting multiplies the iteration limits. An inner loop
  // reached again under the same entry facts simulates the same way: what
  // its first simulation found is kept for the length of the outermost one,
  // rollbacks inside it included (what it keeps names no value made there).
  std::uint32_t simulating = 0;      // simulations open
  std::uint32_t simulationBase = 0;  // the value count when the outermost one began
  std::uint32_t memoChecks = 0;      // simulations run to check a memo, open
  std::uint32_t settleChecks = 0;    // full simulations run to check a settled one, open
  std::uint64_t instructionsBuilt = 0;  // by the lowering, metered or not
  // Of those, built where the other mode does not build them, and by exact
  // simulations given up for covering facts (SimulationWork).
  std::uint64_t rerunBuilt = 0, refundedBuilt = 0;
  // The work budget reuses of kept simulations charged for their banks (or,
  // where a check or a rerun stands for a reuse, would have).
  std::uint64_t reusedBankWork = 0;
  std::uint32_t reruns = 0;  // RerunScopes open
  // Exact simulations open (the outermost takes a ceiling's stop), whether
  // one has met the ceiling, and inside a reference check the instruction
  // count at which its simulation stops instead (0 outside).
  std::uint32_t exactSimulations = 0;
  // Covering passes open: the innermost takes a ceiling's stop outside simulations.
  std::uint32_t coverPasses = 0;
  std::uint32_t deadRehearsals = 0;  // dead loops' rehearsals open: no ceiling there
  bool pastCeiling = false;
  bool ceilingOfBudget = false;  // the work budget's ceiling was met (not only the lowering's)
  std::uint64_t checkCeiling = 0;
  // The exact simulations open that may be given up, outermost first, and
  // with pastCeiling the one to give up (kNoLevel: a covering pass outside
  // any).
  std::vector<Projection> levels;
  std::size_t cutLevel = kNoLevel;
  bool projected = false;  // the ceiling's stop is a projection's
  bool projectedEnd = false;  // of a loop whose condition and step end it
  std::vector<const LoopRun*> openRuns;  // simulations open (SimulateLoop), outermost first
  // Loops whose exact simulation passed the bound: covered wherever met again.
  PodArray<const ParseNode*> coveredNodes;
  // Under the reference switch, the keys of simulations the compile without
  // it would keep: a simulation under one of them is a rerun.
  std::vector<std::vector<double>> referenceKeys;
  // Of those, built by simulations of inner loops kept for reuse, or that
  // would be under the reference switch (which keeps none): work a pass of
  // the outer simulation need not do again.
  std::uint64_t keptBuilt = 0;
  bool reused = false;               // the last SimulateOrReuse reused a memo
  std::vector<LoopMemo> loopMemos;
  // The loop LowerFlowControlLoop kept last was covered, with code a loop
  // around it cannot hold (LowerLiveLoop hands that on).
  bool coveredAbandon = false;
  // DescribeValue describes every value by its facts, none by its index
  // (keys that stay valid for the whole run).
  bool describeByFacts = false;
  // Unrollings found to run to the iteration limit (unroll_endless.cpp): the
  // loop, the pass from which, and the state of its slice there (TripState),
  // or of its condition and step where they alone decide it (EndlessKey).
  struct EndlessState {
    const ParseNode* loop;
    std::uint32_t pass;
    std::vector<double> state;
    bool certain;  // every pass known to run (from its first pass)
  };
  std::vector<EndlessState> endless;
  // Unrollings forced below the kept depth, by their entries (unroll_memo.cpp).
  std::vector<KeptUnrolling> keptUnrollings;
  // Per value, 1 + the value its chain of moves ends at (ShaderCompiler::
  // MoveRoot), 0 where not yet walked. A move's source is made before it (or,
  // folded to a literal, in the same emission), and neither field the walk
  // reads changes once made but where values are placed in a bank (which
  // forgets them all): a rollback keeps the roots below its count.
  std::vector<std::uint32_t> moveRoots;
};

// While an exact simulation counts as a rerun (the compile without the
// reference switch reuses or skips it, or it is a check): what it builds is
// left out of SimulationWork. Reruns inside one count with it.
struct ShaderCompiler::RerunScope {
  ShaderCompiler& c;
  bool active, counts;
  std::uint64_t from;
  RerunScope(ShaderCompiler& compiler, bool rerun)
      : c(compiler), active(rerun), counts(rerun && compiler.m_loop->reruns == 0), from(compiler.m_loop->instructionsBuilt) {
    c.m_loop->reruns += active;
  }
  ~RerunScope() {
    c.m_loop->reruns -= active;
    if (counts) c.m_loop->rerunBuilt += c.m_loop->instructionsBuilt - from;
  }
  RerunScope(const RerunScope&) = delete;
  RerunScope& operator=(const RerunScope&) = delete;
};

inline bool ShaderCompiler::Unmeasured() const {
  return m_loop->memoChecks || m_loop->settleChecks || m_loop->reruns || m_loop->deadRehearsals;
}
inline std::uint64_t ShaderCompiler::SimulationWork() const {
  return m_loop->instructionsBuilt - m_loop->rerunBuilt - m_loop->refundedBuilt;
}
inline std::uint64_t ShaderCompiler::SimulationBudgetWork() const {
  return kLoweringWork * SimulationWork() + m_loop->reusedBankWork;
}
inline ShaderCompiler::SpentWork ShaderCompiler::SpentSoFar() const {
  return {SimulationWork(), loweringBuilt, target->workLeft, m_loop->reusedBankWork};
}
inline bool ShaderCompiler::InsideCoverPass() const {
  return m_loop->coverPasses > (m_loop->levels.empty() ? 0u : m_loop->levels.back().coverPasses);
}

}  // namespace gxl::shader
