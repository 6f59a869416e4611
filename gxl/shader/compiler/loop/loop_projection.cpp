// The projection that decides, early, whether a loop's exact simulation may
// run to its end. A loop of uniform length is simulated through every pass
// it may run, and loops inside it at each of those passes, so a short
// program can ask for more than the lowering's bound holds; waiting for the
// bound to stop such a simulation spends most of it on one loop, and leaves
// too little for the next. Instead, from the first exact passes on, the
// simulation work of a pass (the cheaper of the last two, loops inside
// included) times the passes the loop may still run is added to what the
// outermost simulation has spent, and set against that simulation's share of
// what was left of the bound and the work budget when it began: past it, the
// simulation is given up and the loop compiled from covering facts
// (loop_cover.cpp). Each such loop costs a few passes, and each loop that
// runs to its end at most its share of what is left, so a program's cost
// stays within the bound however many costly loops it holds.
#include <algorithm>
#include <cstdint>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

using namespace loops;

ShaderCompiler::Projection ShaderCompiler::OpenProjection() const {
  Projection p;
  p.on = true;
  p.start = SimulationWork();
  p.startBudget = SimulationBudgetWork();
  p.outermost = m_loop->openRuns.size();
  p.coverPasses = m_loop->coverPasses;
  if (m_loop->levels.empty()) {
    const std::uint64_t ceiling = loweringBuildLimit - loweringBuildLimit / kReservedShare;
    const std::uint64_t budgetCeiling = workGranted - workGranted / kReservedShare;
    p.share = (ceiling > p.start ? ceiling - p.start : 0) / kProjectedShare;
    p.budgetShare = (budgetCeiling > p.startBudget ? budgetCeiling - p.startBudget : 0) / kProjectedShare;
    return p;
  }
  // Inside another simulation: a share of what that one has left, so that
  // the loops inside a pass never take more than the pass may.
  const Projection& outer = m_loop->levels.back();
  const std::uint64_t spent = outer.Spent(p.start), spentBudget = outer.SpentBudget(p.startBudget);
  p.share = (outer.share > spent ? outer.share - spent : 0) / kProjectedShare;
  p.budgetShare = (outer.budgetShare > spentBudget ? outer.budgetShare - spentBudget : 0) / kProjectedShare;
  return p;
}

bool ShaderCompiler::LevelCoverable(std::size_t index) {
  const Projection& level = m_loop->levels[index];
  if (level.unrolling || level.outermost >= m_loop->openRuns.size()) return false;
  const LoopRun& first = *m_loop->openRuns[level.outermost];
  const LoopFrame& f = m_loop->loopFrames[first.frame];
  // Where the condition and step alone decide the trip count, the covering
  // facts take it from them as the simulation would (the settled pass).
  const bool decided = !first.init && first.condition && f.step && f.plainBody && (f.decided || f.indexesKnown);
  return first.guessed || (first.end && first.end < first.limit) || decided;
}

bool ShaderCompiler::UnrollingPastShare() const {
  if (m_loop->levels.empty() || !m_loop->levels.back().unrolling) return false;
  const Projection& p = m_loop->levels.back();
  return p.Spent(SimulationWork()) >= p.share || p.SpentBudget(SimulationBudgetWork()) >= p.budgetShare;
}

std::size_t ShaderCompiler::OutermostSimulation() const {
  for (std::size_t i = 0; i < m_loop->levels.size(); ++i)
    if (!m_loop->levels[i].unrolling) return i;
  return kNoLevel;
}

std::size_t ShaderCompiler::LevelPastShare(bool* outermostCut) {
  const std::uint64_t work = SimulationWork(), budget = SimulationBudgetWork();
  const std::size_t outermost = OutermostSimulation();
  for (std::size_t i = m_loop->levels.size(); i-- > 0;) {
    const Projection& p = m_loop->levels[i];
    if (p.Spent(work) <= p.share && p.SpentBudget(budget) <= p.budgetShare) continue;
    if (!p.unrolling) {
      if (outermost != kNoLevel && i > outermost && LevelCoverable(i)) return i;
      continue;
    }
    if (!p.rehearsal) continue;
    // Its code serves only the simulation or covering pass around it: that
    // one is given up instead of building the rest of its passes.
    for (std::size_t j = i; j-- > 0;)
      if (!m_loop->levels[j].unrolling && LevelCoverable(j)) {
        *outermostCut = j == outermost;
        return j;
      }
    if (InsideCoverPass()) return kCoverPassLevel;
  }
  return kNoLevel;
}

void ShaderCompiler::BeginPass(PassCosts& costs) const {
  costs.atWork = SimulationWork();
  costs.atBudget = SimulationBudgetWork();
}

void ShaderCompiler::EndPass(PassCosts& costs) const {
  costs.work[1] = costs.work[0];
  costs.budget[1] = costs.budget[0];
  costs.work[0] = SimulationWork() - costs.atWork;
  costs.budget[0] = SimulationBudgetWork() - costs.atBudget;
}

bool ShaderCompiler::ProjectionStops(LoopRun& run, std::uint32_t pass, const PassCosts& costs) {
  static_assert(kProjectedPasses >= 2, "the cheaper of the last two passes needs two");
  if (run.level >= m_loop->levels.size() || m_loop->checkCeiling || Unmeasured() || pass >= run.limit) return false;
  const Projection& p = m_loop->levels[run.level];
  const std::uint64_t work = std::min(costs.work[0], costs.work[1]);
  const std::uint64_t budget = std::min(costs.budget[0], costs.budget[1]);
  auto past = [&](std::uint32_t passes) {
    return p.Spent(SimulationWork()) + work * passes > p.share ||
           p.SpentBudget(SimulationBudgetWork()) + budget * passes > p.budgetShare;
  };
  if (!past(run.limit - pass) || !past(PassesLeft(run, pass))) return false;
  // The loop covered is the level's: an exact simulation unrolls it where
  // its conditions hold, known, through the limit, which covering facts
  // cannot tell from a loop that may end.
  if (!LevelCoverable(run.level)) return false;
  m_loop->pastCeiling = m_loop->projected = true;
  m_loop->cutLevel = run.level;
  m_loop->projectedEnd = run.endFound;
  return true;
}

std::uint32_t ShaderCompiler::PassesLeft(LoopRun& run, std::uint32_t pass) {
  if (run.end) return run.end > pass ? run.end - pass : 0;
  const std::uint32_t all = run.limit - pass;
  const LoopFrame& f = m_loop->loopFrames[run.frame];
  if (run.init || !run.condition || !f.step || !f.plainBody || !(f.decided || f.indexesKnown)) return all;
  // Until the condition is known to fail: an index of the body past its
  // array may end the loop sooner, never later.
  run.end = run.limit;
  struct Counted {
    ShaderCompiler& c;
    std::uint64_t work = c.SimulationWork(), budget = c.SimulationBudgetWork();
    ~Counted() {
      for (Projection& p : c.m_loop->levels) {
        p.rehearsed += c.SimulationWork() - work;
        p.rehearsedBudget += c.SimulationBudgetWork() - budget;
      }
    }
  } counted{*this};
  ConditionPass rehearsal(*this);
  if (!rehearsal.Save()) return all;
  const MessageHold hold(*this);
  const std::uint32_t messages = reportedMessages;
  auto clean = [&] { return rehearsal.Clean() && reportedMessages == messages; };
  for (std::uint32_t k = pass; k < run.limit; ++k) {
    loopCounter = {static_cast<double>(k), static_cast<double>(k) + 1};
    std::uint32_t test = kNoIndex;
    if (FAILED(LowerExpression(run.condition, &test, 0)) || !clean()) break;
    ValueRange r;
    if (SUCCEEDED(EvaluateRange(test, &r)) && r.low == 0 && r.high == 0) {
      run.end = k;
      run.endFound = true;
      break;
    }
    if (test >= rehearsal.values) Value(test)->rangeLow = Value(test)->rangeHigh = 1.0;
    if (FAILED(LowerLoopBody(f.step)) || !clean()) break;
  }
  return run.end - pass;
}

}  // namespace gxl::shader
