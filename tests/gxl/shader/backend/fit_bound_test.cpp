// The fit bound of instruction pairing: on random straight-line programs
// under random moves, every order it proves is one the register assignment
// fits, and what it keeps up move by move is what it measures afresh. With
// the reference switch, pairing runs every assignment and no proof is
// refuted.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "gxl/shader/backend/alloc/fit_bound.h"
#include "gxl/shader/backend/alloc/pairing.h"
#include "phase2_fixture.h"

namespace {

using namespace gxl::shader;
using irtest::AllocRun;
using irtest::PhaseLimits;

HRESULT StopBeforeSlot5(ShaderProgram&, std::uint32_t step, HRESULT status) {
  return step == 13 && SUCCEEDED(status) ? E_ABORT : status;
}

// A random straight-line program as pairing receives it.
void Prepare(AllocRun& run, std::uint32_t seed) {
  irkit::RandomShape shape;
  shape.steps = 10 + seed % 30;
  shape.ifPercent = shape.loopPercent = 0;
  const irkit::RandomProgram generated(run.program, seed, shape);
  ASSERT_EQ(run.program.Optimize(), S_OK);
  run.program.secondPhaseStepHook = StopBeforeSlot5;
  ASSERT_EQ(run.program.ScheduleAndAllocate(), E_ABORT);
  run.program.secondPhaseStepHook = nullptr;
  ASSERT_TRUE(SUCCEEDED(run.program.CompactInstructions()));
}

// A bound prepared over the program as it stands, with its assignment at
// `limit` registers; moves made to the program and the order alike.
struct Bounded {
  RegisterAssignment context;
  std::vector<IrInstruction*> table;
  std::vector<std::uint32_t> order;
  FitBound bound;

  testing::AssertionResult Start(ShaderProgram& p, std::uint32_t bank, std::uint32_t limit) {
    const std::uint32_t count = p.instructions.Count();
    if (context.Build(p, bank, limit) != S_OK || context.Assign(false) == E_OUTOFMEMORY)
      return testing::AssertionFailure() << "no assignment";
    table.assign(&p.instructions.Slot(0), &p.instructions.Slot(0) + count);
    order.resize(count);
    for (std::uint32_t k = 0; k < count; ++k) order[k] = k;
    if (bound.Prepare(p, context, table.data(), order.data(), count) != S_OK || !bound.Serves())
      return testing::AssertionFailure() << "no bound";
    return testing::AssertionSuccess();
  }
  void Move(ShaderProgram& p, std::uint32_t to, std::uint32_t from) {
    MoveInstruction(p, to, from);
    if (from < to)
      std::rotate(order.begin() + from, order.begin() + from + 1, order.begin() + to + 1);
    else
      std::rotate(order.begin() + to, order.begin() + from, order.begin() + from + 1);
  }
};

TEST(GxlFitBound, ProvesOnlyWhatTheAssignmentFitsAndKeepsItsCount) {
  std::uint32_t proven = 0, refused = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    AllocRun run(PhaseLimits(8));
    Prepare(run, seed);
    ShaderProgram& p = run.program;
    const std::uint32_t count = p.instructions.Count(), bank = p.StandardBankIndex(StandardBank::Temporaries);
    if (count < 3) continue;
    Bounded b;
    ASSERT_TRUE(b.Start(p, bank, 8)) << "seed " << seed;
    RegisterAssignment& context = b.context;
    std::vector<std::uint32_t>& order = b.order;
    FitBound& bound = b.bound;
    for (std::uint32_t step = 0; step < 40; ++step) {
      // Any move, dependences or not: the bound must hold for every order.
      const std::uint32_t from = rng() % count, to = rng() % count;
      b.Move(p, to, from);
      bound.Moved(order.data(), to, from);
      const std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step);
      // Any limit it proves, the assignment fits.
      const std::uint32_t limit = 1 + rng() % 12;
      RegisterAssignment trial;
      ASSERT_EQ(trial.Build(p, bank, limit), S_OK);
      const HRESULT fits = trial.Assign(false);
      ASSERT_NE(fits, E_OUTOFMEMORY);
      std::vector<IrInstruction*> now(&p.instructions.Slot(0), &p.instructions.Slot(0) + count);
      std::vector<std::uint32_t> identity(count);
      for (std::uint32_t k = 0; k < count; ++k) identity[k] = k;
      FitBound proof;
      ASSERT_EQ(proof.Prepare(p, trial, now.data(), identity.data(), count), S_OK);
      if (proof.SurelyFits()) {
        ++proven;
        EXPECT_EQ(fits, S_OK) << what << ", limit " << limit;
      } else {
        refused += FAILED(fits);
      }
      // What the bound keeps move by move is what it measures afresh.
      FitBound fresh;
      ASSERT_EQ(fresh.Prepare(p, context, now.data(), identity.data(), count), S_OK);
      ASSERT_EQ(bound.SurelyFits(), fresh.SurelyFits()) << what;
      for (std::uint32_t vreg = 0; vreg < context.VirtualCount(); ++vreg) {
        ASSERT_EQ(bound.BlockersOf(vreg), fresh.BlockersOf(vreg)) << what << ", register " << vreg;
        ASSERT_EQ(bound.BlockerComponentsOf(vreg), fresh.BlockerComponentsOf(vreg)) << what << ", register " << vreg;
      }
    }
  }
  // Both ways occur: proofs, and orders that really do not fit.
  EXPECT_GT(proven, 1000u);
  EXPECT_GT(refused, 300u);
}

// The failure proof of texture hoisting's trials: under random moves, every
// order it proves overfull is one no assignment fits, and a bound prepared
// once and brought to the new order in one step measures what a fresh one does
// (or, asked only for failures, proves those alike and no fit).
TEST(GxlFitBound, ProvesOnlyFailuresAndFollowsAnyReorder) {
  std::uint32_t failed = 0, proven = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    const std::uint32_t limit = 1 + seed % 6;
    AllocRun run(PhaseLimits(8));
    Prepare(run, seed);
    ShaderProgram& p = run.program;
    const std::uint32_t count = p.instructions.Count(), bank = p.StandardBankIndex(StandardBank::Temporaries);
    if (count < 3) continue;
    Bounded b;
    ASSERT_TRUE(b.Start(p, bank, limit)) << "seed " << seed;
    RegisterAssignment& context = b.context;
    std::vector<std::uint32_t>& order = b.order;
    FitBound& bound = b.bound;
    for (std::uint32_t step = 0; step < 20; ++step) {
      // Several moves at once, then the whole order handed over; on odd
      // steps one move told as such, after whatever the last order left.
      const bool single = step % 2;
      std::uint32_t from = 0, to = 0;
      for (std::uint32_t m = single ? 1 : 1 + rng() % 4; m-- > 0;) {
        from = rng() % count, to = rng() % count;
        b.Move(p, to, from);
      }
      HRESULT reordered = S_OK;
      if (single) {
        bound.Moved(order.data(), to, from);
        reordered = bound.SurelyFails() ? S_FALSE : S_OK;
      } else {
        reordered = bound.Reordered(order.data(), step % 4 != 2);
      }
      // Asked only for failures, it proves no fit and counts nothing till later.
      const bool failuresOnly = !single && step % 4 == 2;
      ASSERT_TRUE(reordered == S_OK || reordered == S_FALSE);
      const std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step);
      RegisterAssignment trial;
      ASSERT_EQ(trial.Build(p, bank, limit), S_OK);
      const HRESULT fits = trial.Assign(false);
      ASSERT_NE(fits, E_OUTOFMEMORY);
      failed += FAILED(fits);
      std::vector<IrInstruction*> now(&p.instructions.Slot(0), &p.instructions.Slot(0) + count);
      std::vector<std::uint32_t> identity(count);
      for (std::uint32_t k = 0; k < count; ++k) identity[k] = k;
      FitBound fresh;
      ASSERT_EQ(fresh.Prepare(p, context, now.data(), identity.data(), count), S_OK);
      const bool fails = bound.SurelyFails();
      ASSERT_EQ(fails, reordered == S_FALSE) << what;
      ASSERT_EQ(fails, fresh.SurelyFails()) << what;
      ASSERT_EQ(bound.SurelyFits(), fresh.SurelyFits() && !failuresOnly) << what;
      // An overfull order's counts wait for the next order.
      for (std::uint32_t vreg = 0; vreg < context.VirtualCount() && !(fails && !single) && !failuresOnly; ++vreg)
        ASSERT_EQ(bound.BlockersOf(vreg), fresh.BlockersOf(vreg)) << what << ", register " << vreg;
      if (fails) {
        ++proven;
        EXPECT_TRUE(FAILED(fits)) << what << ", limit " << limit;
      }
    }
  }
  // Proofs are made, and orders that fail without one remain for the assignment.
  EXPECT_GT(proven, 200u);
  EXPECT_GT(failed, proven);
}

// Pairing with the reference switch runs the assignment behind every proof.
TEST(GxlFitBound, PairingRefutesNoProof) {
  std::uint32_t moved = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    const std::uint32_t limit = 3 + seed % 10;
    AllocRun run(PhaseLimits(limit));
    Prepare(run, seed);
    run.program.referenceSearches = true;
    const auto before = irtest::Listing(run.program);
    const HRESULT hr = InstructionPairing(run.program).Run();
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << "seed " << seed;
    EXPECT_EQ(run.program.refutedFitProofs, 0u) << "seed " << seed;
    moved += irtest::Listing(run.program) != before;
  }
  EXPECT_GT(moved, 30u);
}

}  // namespace
