// Trial assignments that take over the run before them (Reassign) must
// answer and place as the full assignment does, over random reorderings of
// programs of texture reads and arithmetic near the register limit, with and
// without the rotation of unoptimised code; and over random moves within the
// blocks of programs with branches and loops.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/backend/alloc/register_assignment.h"
#include "phase2_fixture.h"

namespace {

using namespace gxl::shader;
using irkit::Values;
using irtest::AllocRun;
using irtest::PhaseLimits;

// The programs' shapes: reads, arithmetic after each, the widest result,
// and the profile's capabilities beyond phases by level.
struct Shape {
  std::uint32_t reads, moreReads, arithmetic, widest, capabilities;
};
constexpr std::uint32_t kResultsApartFromArguments = 0x80000000u;

// A program of reads and sums of what was made, levelled for hoisting.
void BuildReads(irkit::IrBuilder& b, std::mt19937& rng, const Shape& shape) {
  std::vector<Values> made{b.Input(0), b.Input(1)};
  const std::uint32_t reads = shape.reads + rng() % shape.moreReads;
  for (std::uint32_t k = 0; k < reads; ++k) {
    const Values& picked = rng() % 3 ? made[rng() % 2] : made[rng() % made.size()];
    const Values& at = picked.size() >= 2 ? picked : made[0];
    made.push_back(b.Sample(0x605, b.Sampler(k % 16), 2, Values(at.begin(), at.begin() + 2)));
    for (std::uint32_t a = rng() % shape.arithmetic; a-- > 0;) {
      const Values& x = made[rng() % made.size()];
      const Values& y = made[rng() % made.size()];
      const std::uint32_t w = 1 + rng() % shape.widest;
      const Values xw(x.begin(), x.begin() + std::min<std::size_t>(w, x.size()));
      const Values yw(y.begin(), y.begin() + std::min<std::size_t>(w, y.size()));
      if (xw.size() == yw.size()) made.push_back(rng() % 2 ? b.Mul(xw, yw) : b.Add(xw, yw));
    }
  }
  const Values& last = made.back().size() >= 2 ? made.back() : made[0];
  Values sum(last.begin(), last.begin() + 2);
  for (std::size_t k = 2; k + 1 < made.size(); ++k)
    if (made[k].size() >= 2) sum = b.Add(sum, Values(made[k].begin(), made[k].begin() + 2));
  b.Output(0, sum);
}

TEST(GxlAssignReplay, AnswersAndPlacesAsTheFullAssignment) {
  // Wide results; many narrow ones that packing puts together, so that a
  // register holds values whose ranges end on both sides of a move; results
  // that must not share a register with their arguments.
  const Shape shapes[] = {{4, 16, 4, 4, 0}, {8, 24, 6, 2, 0}, {4, 16, 4, 4, kResultsApartFromArguments}};
  for (const Shape& shape : shapes) {
    std::uint32_t reused = 0, fits = 0, fails = 0;
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
      std::mt19937 rng(seed);
      const std::uint32_t options = seed % 2 ? kOptionNoOptimisation | 0x10000 : 0x10000;
      ProfileLimits limits = PhaseLimits(3 + rng() % 10, 0x04000000 | shape.capabilities);
      limits.samplers = 16;
      AllocRun run(limits, kOptionNoOptimisation | 0x10000, 0xFFFF0200);
      BuildReads(run.b, rng, shape);
      ShaderProgram& p = run.program;
      ASSERT_EQ(p.PackVectors(), S_OK);
      ASSERT_EQ(p.ScheduleInstructions(), S_FALSE);  // levels only
      ASSERT_TRUE(SUCCEEDED(p.CompactInstructions()));
      p.options = options;
      const std::uint32_t count = p.instructions.Count();
      RegisterAllocatorContext replays, full;
      const std::uint32_t bank = p.StandardBankIndex(StandardBank::Temporaries);
      // Most seeds at the fewest registers the first order fits: the moves
      // then go either way.
      std::uint32_t limit = limits.temporaries;
      for (std::uint32_t fewest = 1; seed % 4 != 0 && fewest < limit; ++fewest) {
        ASSERT_EQ(full.Build(p, bank, fewest), S_OK);
        const bool fits = SUCCEEDED(full.Assign(false));
        full.Release();
        if (fits) limit = fewest;
      }
      p.allocator = nullptr;
      ASSERT_EQ(replays.Build(p, bank, limit), S_OK);
      ASSERT_EQ(replays.KeepReplays(), S_OK);
      replays.Assign(false);
      for (std::uint32_t step = 0; step < 40; ++step) {
        // A read moved earlier, or two neighbours of one level swapped back.
        const std::uint32_t at = 1 + rng() % (count - 1);
        if (!p.MoveTextureEarlier(at)) continue;
        const HRESULT hr = replays.Reassign();
        reused += replays.Reused();
        std::vector<std::uint32_t> physical(replays.Placements(), replays.Placements() + replays.VirtualCount());
        std::vector<std::uint32_t> components(replays.PlacedComponents(),
                                              replays.PlacedComponents() + 4 * replays.VirtualCount());
        ASSERT_EQ(full.Build(p, bank, limit), S_OK);
        const HRESULT expected = full.Assign(false);
        ASSERT_EQ(SUCCEEDED(hr), SUCCEEDED(expected)) << "seed " << seed << " step " << step;
        (SUCCEEDED(hr) ? fits : fails) += 1;
        if (SUCCEEDED(hr)) {
          EXPECT_TRUE(full.SamePlacements(physical.data(), components.data())) << "seed " << seed << " step " << step;
        }
        full.Release();
        p.allocator = nullptr;
      }
    }
    // The runs took over their predecessors, and both answers came up.
    EXPECT_GT(reused, 500u) << fits << " fit, " << fails << " not";
    EXPECT_GT(fits, 100u);
    EXPECT_GT(fails, 20u);
  }
}

HRESULT StopBeforePairing(ShaderProgram&, std::uint32_t step, HRESULT status) {
  return step == 13 && SUCCEEDED(status) ? E_ABORT : status;
}

// A move of one instruction within its block that keeps it after its inputs
// and before its readers, as pairing makes them: S_OK, or S_FALSE when the
// instruction at `from` has no such place.
struct BlockMoves {
  std::vector<IrInstruction*> table;  // the instructions the dependency lists index

  explicit BlockMoves(ShaderProgram& p)
      : table(&p.instructions.Slot(0), &p.instructions.Slot(0) + p.instructions.Count()) {}
  static bool Fixed(const IrInstruction* inst) { return inst->word < 0x100000 || IsSpecialOperation(inst->word); }
  HRESULT Move(ShaderProgram& p, std::mt19937& rng) {
    const auto count = static_cast<std::uint32_t>(table.size());
    const std::uint32_t from = rng() % count;
    IrInstruction* x = p.instructions[from];
    if (Fixed(x)) return S_FALSE;
    const bool down = rng() % 2;
    std::vector<std::uint8_t> stop(count, 0);  // by table index: inputs above, readers below
    for (std::uint32_t k = 0; k < (down ? x->successorCount : x->predecessorCount); ++k)
      stop[down ? x->successors[k] : x->predecessors[k]] = 1;
    std::uint32_t to = from;
    for (std::uint32_t steps = 1 + rng() % 6; steps-- > 0;) {
      const std::uint32_t next = down ? to + 1 : to - 1;
      if (down ? to + 1 >= count : to == 0) break;
      const IrInstruction* there = p.instructions[next];
      const std::uint32_t at = static_cast<std::uint32_t>(std::find(table.begin(), table.end(), there) - table.begin());
      if (Fixed(there) || stop[at]) break;
      to = next;
    }
    if (to == from) return S_FALSE;
    MoveInstruction(p, to, from);
    return S_OK;
  }
};

TEST(GxlAssignReplay, BlocksAnswerAndPlaceAsTheFullAssignment) {
  std::uint32_t reused = 0, fits = 0, fails = 0, withBlocks = 0;
  for (std::uint32_t seed = 1; seed <= 240; ++seed) {
    std::mt19937 rng(seed);
    irkit::RandomShape shape;
    shape.steps = 12 + seed % 40;
    shape.ifPercent = 15;
    shape.loopPercent = 15;
    AllocRun run(PhaseLimits(32));
    const irkit::RandomProgram generated(run.program, seed, shape);
    ShaderProgram& p = run.program;
    ASSERT_EQ(p.Optimize(), S_OK) << "seed " << seed;
    p.secondPhaseStepHook = StopBeforePairing;
    ASSERT_EQ(p.ScheduleAndAllocate(), E_ABORT) << "seed " << seed;
    p.secondPhaseStepHook = nullptr;
    ASSERT_TRUE(SUCCEEDED(p.CompactInstructions()));
    ASSERT_EQ(p.BuildDependencyLists(), S_OK);
    const std::uint32_t count = p.instructions.Count(), bank = p.StandardBankIndex(StandardBank::Temporaries);
    if (count < 3) continue;
    bool blocks = false;
    for (std::uint32_t k = 0; k < count; ++k) blocks = blocks || BlockMoves::Fixed(p.instructions[k]);
    // At the fewest registers the first order fits, for most seeds: the
    // moves then go either way.
    RegisterAllocatorContext replays, full;
    std::uint32_t limit = 32;
    for (std::uint32_t fewest = 1; seed % 4 != 0 && fewest < limit; ++fewest) {
      ASSERT_EQ(full.Build(p, bank, fewest), S_OK);
      const bool fit = SUCCEEDED(full.Assign(false));
      full.Release();
      if (fit) limit = fewest;
    }
    p.allocator = nullptr;
    ASSERT_EQ(replays.Build(p, bank, limit), S_OK);
    ASSERT_EQ(replays.KeepReplays(true), S_OK);
    replays.Assign(false);
    BlockMoves moves(p);
    std::uint32_t tookOver = 0;
    for (std::uint32_t step = 0; step < 40; ++step) {
      if (moves.Move(p, rng) != S_OK) continue;
      const HRESULT hr = replays.Reassign();
      ASSERT_NE(hr, E_OUTOFMEMORY);
      tookOver += replays.Reused();
      std::vector<std::uint32_t> physical(replays.Placements(), replays.Placements() + replays.VirtualCount());
      std::vector<std::uint32_t> components(replays.PlacedComponents(),
                                            replays.PlacedComponents() + 4 * replays.VirtualCount());
      ASSERT_EQ(full.Build(p, bank, limit), S_OK);
      const HRESULT expected = full.Assign(false);
      const std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step);
      ASSERT_EQ(SUCCEEDED(hr), SUCCEEDED(expected)) << what;
      (SUCCEEDED(hr) ? fits : fails) += 1;
      if (SUCCEEDED(hr)) {
        EXPECT_TRUE(full.SamePlacements(physical.data(), components.data())) << what;
      }
      full.Release();
      p.allocator = nullptr;
    }
    reused += tookOver;
    withBlocks += blocks && tookOver > 0;
  }
  // Programs with blocks took over their predecessors, and both answers came up.
  EXPECT_GT(withBlocks, 150u) << reused << " reused, " << fits << " fit, " << fails << " not";
  EXPECT_GT(reused, 2000u);
  EXPECT_GT(fits, 2000u);
  EXPECT_GT(fails, 100u);
}

}  // namespace
