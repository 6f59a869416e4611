// Scheduling: random programs checked by a dependence checker and a block
// checker written from the IR's meaning, the pressure DependencyGraph leaves
// measured here from scratch, texture levels, the same order in every run
// and process, and the cases that decide the rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>

#include "gxl/shader/backend/alloc/dependency_graph.h"
#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/backend/alloc/subtree_scores.h"
#include "../log_text.h"
#include "phase2_fixture.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;
using irkit::Values;
using irtest::AllocRun;
using irtest::PhaseLimits;

constexpr std::uint32_t kTexturePhases = 0x04000000;

// Stops the second phase once the register-table flag is set: the program as
// scheduling receives it.
HRESULT StopBeforeScheduling(ShaderProgram&, std::uint32_t step, HRESULT status) {
  return step == 10 && SUCCEEDED(status) ? E_ABORT : status;
}

void PrepareForScheduling(ShaderProgram& p) {
  ASSERT_EQ(p.Optimize(), S_OK);
  p.secondPhaseStepHook = StopBeforeScheduling;
  ASSERT_EQ(p.ScheduleAndAllocate(), E_ABORT);
  p.secondPhaseStepHook = nullptr;
}

struct Pressure {
  std::uint64_t total = 0;
  std::uint32_t peak = 0;
};

// A value counts when an instruction writes it outside the output banks and
// an instruction reads it (an argument, along a relative index, or the guard
// of a result it writes): live before each position after its definition up
// to its last read.
Pressure Measure(const ShaderProgram& p) {
  std::map<std::uint32_t, std::uint32_t> defined, lastRead;
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction& inst = *p.Instruction(i);
    auto read = [&](std::uint32_t v) {
      for (int steps = 0; v != kNoIndex && steps < 64; ++steps) {
        v = p.ResolveAlias(v);
        if (!(p.BankOf(*p.Value(v))->type & kBankInitialised)) lastRead[v] = i;
        v = p.Value(v)->relativeIndex;
      }
    };
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) read(inst.arguments[a]);
    for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
      const IrValue& v = *p.Value(inst.results[r]);
      if (!(p.BankOf(v)->type & kBankOutput)) defined[inst.results[r]] = i;
      read(v.predicate);
    }
  }
  Pressure out;
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    std::uint32_t live = 0;
    for (const auto& [v, at] : defined) {
      const auto last = lastRead.find(v);
      live += last != lastRead.end() && at < i && i <= last->second;
    }
    out.total += live;
    out.peak = std::max(out.peak, live);
  }
  return out;
}

TEST(GxlSchedule, RandomProgramsKeepDependencesBlocksAndResults) {
  const std::uint32_t kPrograms = nura::test::LongOrShare(600, 120);
  std::uint32_t improved = 0;
  for (std::uint32_t seed = 1; seed <= kPrograms; ++seed) {
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 24;
    if (seed % 3 == 0) shape.ifPercent = shape.loopPercent = 0;  // straight-line code
    const std::string what = "seed " + std::to_string(seed);
    {
      AllocRun run(PhaseLimits(32));
      const irkit::RandomProgram generated(run.program, seed, shape);
      ShaderProgram& p = run.program;
      PrepareForScheduling(p);
      const auto want = irtest::Outputs(generated, p, 2);
      ASSERT_TRUE(SUCCEEDED(p.ScheduleInstructions())) << what;
      ASSERT_EQ(irtest::TopologicalFault(p), "") << what;
      ASSERT_EQ(irtest::RegionFault(p), "") << what;
      ASSERT_TRUE(irtest::SameOutputs(want, irtest::Outputs(generated, p, 2))) << what;
    }
    // DependencyGraph alone, from the order scheduling receives (where the
    // first phase may have left loop-invariant code inside a loop).
    AllocRun run(PhaseLimits(32));
    const irkit::RandomProgram generated(run.program, seed, shape);
    ShaderProgram& p = run.program;
    PrepareForScheduling(p);
    ASSERT_EQ(p.CompactInstructions(), S_FALSE);
    ASSERT_EQ(p.BuildDependencyLists(), S_OK);
    const Pressure before = Measure(p);
    DependencyGraph graph(&p);
    ASSERT_EQ(graph.Run(1), S_OK) << what;
    const Pressure after = Measure(p);
    EXPECT_LE(after.total, before.total) << what;
    EXPECT_LE(after.peak, before.peak) << what;
    improved += after.total < before.total || after.peak < before.peak;
    ASSERT_EQ(irtest::TopologicalFault(p), "") << what;
  }
  EXPECT_GT(improved, kPrograms / 10);
}

// The searches measure each step locally, the reference switch in full: the
// same orders, with and without flow control, in short and long programs.
TEST(GxlSchedule, ReferenceSwitchGivesTheSameOrders) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 60;
    if (seed % 4 == 0) shape.ifPercent = shape.loopPercent = 0;
    std::vector<std::vector<std::uint32_t>> orders[2];
    for (int reference = 0; reference < 2; ++reference) {
      AllocRun run(PhaseLimits(32));
      const irkit::RandomProgram generated(run.program, seed, shape);
      PrepareForScheduling(run.program);
      run.program.referenceSearches = reference != 0;
      ASSERT_TRUE(SUCCEEDED(run.program.ScheduleInstructions())) << "seed " << seed;
      orders[reference] = irtest::Listing(run.program);
    }
    ASSERT_EQ(orders[0], orders[1]) << "seed " << seed;
  }
}

// With the work of the rounds cut short, both ways stop at the same place,
// with every dependence kept and the pressure no worse than at the start.
TEST(GxlSchedule, RoundsCutShortStopAlike) {
  std::uint32_t cut = 0;
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    irkit::RandomShape shape;
    shape.steps = 20 + seed % 40;
    std::vector<std::vector<std::uint32_t>> orders[3];  // reference, local, local without the cut
    Pressure before, after;
    for (int run = 0; run < 3; ++run) {
      AllocRun r(PhaseLimits(32));
      const irkit::RandomProgram generated(r.program, seed, shape);
      ShaderProgram& p = r.program;
      PrepareForScheduling(p);
      p.referenceSearches = run == 0;
      ASSERT_EQ(p.CompactInstructions(), S_FALSE);
      ASSERT_EQ(p.BuildDependencyLists(), S_OK);
      before = Measure(p);
      DependencyGraph graph(&p);
      if (run < 2) graph.SetWorkLimit(50 + seed * 7);
      ASSERT_EQ(graph.Run(1), S_OK) << "seed " << seed;
      ASSERT_EQ(irtest::TopologicalFault(p), "") << "seed " << seed;
      if (run == 1) after = Measure(p);
      orders[run] = irtest::Listing(p);
    }
    ASSERT_EQ(orders[0], orders[1]) << "seed " << seed;
    EXPECT_LE(after.total, before.total) << "seed " << seed;
    EXPECT_LE(after.peak, before.peak) << "seed " << seed;
    cut += orders[1] != orders[2];
  }
  EXPECT_GT(cut, 10u);  // the cut does bind
}

// The rounds' work grows with the program, not with its square, and past
// a length no more: long programs with branches, whose search would go on
// far past the bound, stop there (the longest at the bound in all), with
// every dependence kept and the pressure no worse than at the start;
// shorter ones end below it.
TEST(GxlSchedule, SearchWorkGrowsWithTheProgram) {
  struct Row {
    std::uint32_t steps, seed;
    bool bound;  // the search reaches the bound
  } rows[] = {{100, 4, false}, {200, 5, false}, {400, 3, true}, {400, 6, true}};
  for (const Row& row : rows) {
    const std::string what = std::to_string(row.steps) + " steps, seed " + std::to_string(row.seed);
    irkit::RandomShape shape;
    shape.steps = row.steps;
    shape.ifPercent = 6;
    shape.loopPercent = 2;
    shape.maxDepth = 1;
    AllocRun run(PhaseLimits(32));
    const irkit::RandomProgram generated(run.program, row.seed, shape);
    ShaderProgram& p = run.program;
    PrepareForScheduling(p);
    ASSERT_EQ(p.CompactInstructions(), S_FALSE);
    ASSERT_EQ(p.BuildDependencyLists(), S_OK);
    const Pressure before = Measure(p);
    const std::uint64_t count = p.instructions.Count(), bound = ImproveWorkBound(count);
    DependencyGraph graph(&p);
    ASSERT_EQ(graph.Run(1), S_OK) << what;
    EXPECT_LE(graph.WorkSpent(), bound) << what;
    // Both bounds hold: per instruction, and in all (the longest rows).
    EXPECT_LE(graph.WorkSpent(), kImproveWorkPerInstruction * count) << what;
    EXPECT_LE(graph.WorkSpent(), kImproveWorkInAll) << what;
    // At the bound, what is left is less than the next step's positions: a
    // round's measurement or a swap, neither longer than the program.
    EXPECT_EQ(graph.WorkSpent() + count > bound, row.bound) << what << ": " << graph.WorkSpent() << " of " << bound << ", " << count << " instructions";
    ASSERT_EQ(irtest::TopologicalFault(p), "") << what;
    const Pressure after = Measure(p);
    EXPECT_LE(after.total, before.total) << what;
    EXPECT_LE(after.peak, before.peak) << what;
  }
}

// A digest of the orders scheduling gives the first programs.
std::uint64_t OrderDigest() {
  std::uint64_t digest = 1469598103934665603ull;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    irkit::RandomShape shape;
    shape.steps = 10 + seed % 20;
    AllocRun run(PhaseLimits(32));
    const irkit::RandomProgram generated(run.program, seed, shape);
    PrepareForScheduling(run.program);
    EXPECT_TRUE(SUCCEEDED(run.program.ScheduleInstructions()));
    for (const auto& words : irtest::Listing(run.program))
      for (std::uint32_t w : words) digest = (digest ^ w) * 1099511628211ull;
  }
  return digest;
}

TEST(GxlSchedule, SameOrderInTwoRunsAndTwoProcesses) {
  const std::uint64_t digest = OrderDigest();
  // The second process this test starts only prints its digest.
  if (std::getenv("NURA_PRINT_ORDER_DIGEST")) {
    std::printf("order digest %016llx\n", static_cast<unsigned long long>(digest));
    return;
  }
  EXPECT_EQ(OrderDigest(), digest);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string command =
      std::string("NURA_PRINT_ORDER_DIGEST=1 '") + self + "' --gtest_filter=GxlSchedule.SameOrderInTwoRunsAndTwoProcesses";
  std::string output;
  EXPECT_TRUE(nura::test::RunTool(command, &output));
  unsigned long long other = 0;
  bool found = false;
  for (std::size_t at = output.find("order digest "); at != std::string::npos && !found;
       at = output.find("order digest ", at + 1))
    found = std::sscanf(output.c_str() + at, "order digest %llx", &other) == 1;
  ASSERT_TRUE(found);
  EXPECT_EQ(other, digest);
}

struct GxlScheduleCase : irtest::PhaseCase {
  AllocRun& Start(std::uint32_t capabilities = 0, std::uint32_t options = 0, std::uint32_t version = 0xFFFE0300) {
    ProfileLimits limits = PhaseLimits(32, capabilities);
    limits.samplers = 16;
    return PhaseCase::Start(limits, options, version);
  }
};

TEST_F(GxlScheduleCase, OneInstructionKeepsItsPlace) {
  AllocRun& r = Start();
  r.b.Output(0, r.b.Input(0));
  const auto listing = irtest::Listing(r.program);
  EXPECT_EQ(r.program.ScheduleInstructions(), S_OK);
  EXPECT_EQ(irtest::Listing(r.program), listing);
}

// Coordinates of a read taken from another read: the dependent read is at
// level 1, the arithmetic feeding it at 2 and the first read at 3; with
// optimisation skipped the levels are set and the order stays.
TEST_F(GxlScheduleCase, DependentTextureReadsTakeOddLevels) {
  for (std::uint32_t options : {0u, kOptionNoOptimisation}) {
    AllocRun& r = Start(kTexturePhases, options, 0xFFFF0200);
    const Values first = r.b.Sample(0x605, r.b.Sampler(0), 2, r.b.Input(0, 2));
    const Values coordinates = r.b.Add({first[0], first[1]}, r.b.Input(1, 2));
    const Values second = r.b.Sample(0x605, r.b.Sampler(1), 2, coordinates);
    r.b.Output(0, second);
    const auto listing = irtest::Listing(r.program);
    EXPECT_EQ(r.program.ScheduleInstructions(), options ? S_FALSE : S_OK);
    EXPECT_EQ(r.program.Instruction(Position(second[0]))->level, 1u) << options;
    EXPECT_EQ(r.program.Instruction(Position(coordinates[0]))->level, 2u) << options;
    EXPECT_EQ(r.program.Instruction(Position(first[0]))->level, 3u) << options;
    EXPECT_EQ(r.program.Instruction(r.program.instructions.Count() - 1)->level, 0u) << options;
    if (options) {
      EXPECT_EQ(irtest::Listing(r.program), listing);
    }
    // Every input stands at the level of its reader or above, a texture
    // read's inputs above its own.
    ASSERT_EQ(r.program.BuildDependencyLists(), S_OK);
    for (std::uint32_t i = 0; i < r.program.instructions.Count(); ++i) {
      const IrInstruction& inst = *r.program.Instruction(i);
      for (std::uint32_t k = 0; k < inst.predecessorCount; ++k)
        EXPECT_GE(r.program.Instruction(inst.predecessors[k])->level, inst.level + (inst.Class() == 6));
    }
  }
}

// Random mixes of texture reads and arithmetic: texture reads take odd
// levels and everything else even ones, every input stands at its reader's
// level or above (above a texture read's), and the order keeps dependences.
TEST_F(GxlScheduleCase, TextureLevelsOrderEveryDependence) {
  for (std::uint32_t seed = 1; seed <= 80; ++seed) {
    AllocRun& r = Start(kTexturePhases, 0, 0xFFFF0200);
    std::mt19937 rng(seed);
    std::vector<Values> pool{r.b.Input(0, 2), r.b.Input(1, 2)};
    for (std::uint32_t k = 0; k < 14; ++k) {
      const Values a = pool[rng() % pool.size()], c = pool[rng() % pool.size()];
      switch (rng() % 3) {
        case 0: {
          const Values texel = r.b.Sample(0x605, r.b.Sampler(rng() % 4), 2, a);
          pool.push_back({texel[0], texel[1]});
          break;
        }
        case 1:
          pool.push_back(r.b.Add(a, c));
          break;
        default:
          pool.push_back(r.b.Mul(a, c));
      }
    }
    r.b.Output(0, pool.back());
    r.b.Output(1, pool[pool.size() / 2]);
    ShaderProgram& p = r.program;
    ASSERT_EQ(p.PackVectors(), S_OK);
    ASSERT_EQ(p.ScheduleInstructions(), S_OK);
    ASSERT_EQ(irtest::TopologicalFault(p), "") << seed;
    ASSERT_EQ(p.BuildDependencyLists(), S_OK);
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
      const IrInstruction& inst = *p.Instruction(i);
      const bool texture = inst.Class() == 6;
      EXPECT_EQ(inst.level % 2, texture ? 1u : 0u) << seed << " " << i;
      for (std::uint32_t k = 0; k < inst.predecessorCount; ++k)
        EXPECT_GE(p.Instruction(inst.predecessors[k])->level, inst.level + texture) << seed << " " << i;
    }
  }
}

TEST_F(GxlScheduleCase, IndependentChainsAreNotInterleaved) {
  AllocRun& r = Start();
  Values a = r.b.Input(0), c = r.b.Input(1);
  std::vector<std::uint32_t> chainA, chainB;
  for (int k = 0; k < 4; ++k) {
    a = r.b.Mul(a, r.b.Add(a, r.b.Input(0)));
    c = r.b.Mul(c, r.b.Add(c, r.b.Input(1)));
    chainA.push_back(a[0]);
    chainB.push_back(c[0]);
  }
  r.b.Output(0, a);
  r.b.Output(1, c);
  ASSERT_EQ(r.program.PackVectors(), S_OK);
  ASSERT_EQ(r.program.ScheduleInstructions(), S_OK);
  std::uint32_t lastA = 0, firstB = kNoIndex;
  for (std::uint32_t v : chainA) lastA = std::max(lastA, Position(v));
  for (std::uint32_t v : chainB) firstB = std::min(firstB, Position(v));
  EXPECT_LT(lastA, firstB);
}

// 20,000 dependent instructions: the walks keep their own stacks.
TEST_F(GxlScheduleCase, LongChainsNeedNoDeepStack) {
  AllocRun& r = Start();
  Values x = r.b.Input(0, 1);
  for (int k = 0; k < 20000; ++k) x = r.b.Add(x, r.b.Input(0, 1));
  r.b.Output(0, x);
  ShaderProgram& p = r.program;
  ASSERT_EQ(p.PackVectors(), S_OK);
  ASSERT_EQ(p.ScheduleInstructions(), S_OK);
  EXPECT_EQ(irtest::TopologicalFault(p), "");
  ASSERT_EQ(p.BuildDependencyLists(), S_OK);
  const std::uint32_t n = p.instructions.Count();
  std::vector<IrInstruction*> table(&p.instructions.Slot(0), &p.instructions.Slot(0) + n);
  using Stamp = HRESULT (*)(IrInstruction* const*, std::uint32_t, std::uint32_t);
  const struct {
    Stamp stamp;
    std::uint32_t start, IrInstruction::*field;
  } walks[] = {{StampPredecessors, n - 1, &IrInstruction::pinned},
               {StampSuccessors, 0, &IrInstruction::pinned},
               {StampPredecessorsAlt, n - 1, &IrInstruction::word10},
               {StampSuccessorsAlt, 0, &IrInstruction::word10}};
  std::uint32_t stamp = 100;
  for (const auto& walk : walks) {
    ASSERT_EQ(walk.stamp(table.data(), walk.start, ++stamp), S_OK);
    for (IrInstruction* inst : table) ASSERT_EQ(inst->*walk.field, stamp);
  }
}

// The straight-line scheduler's walks (the reference switch's, and those of
// a program whose inputs do not all stand before their readers) charge the
// compile's work budget: a program whose scheduling alone passes a small
// budget ends in the bound's message, and within the full budget it is
// scheduled.
TEST_F(GxlScheduleCase, SubtreeWalksChargeTheWorkBudget) {
  for (const std::uint64_t budget : {std::uint64_t{2000}, kCompileWorkBudget}) {
    AllocRun& r = Start();
    // Sums of pairs of recent values: every instruction has two inputs to order.
    std::vector<Values> made{r.b.Input(0), r.b.Input(1)};
    for (std::size_t k = 0; k < 120; ++k)
      made.push_back(r.b.Add(made[made.size() - 1], made[made.size() - 2 - k % 2]));
    r.b.Output(0, made.back());
    ShaderProgram& p = r.program;
    ASSERT_EQ(p.PackVectors(), S_OK);
    p.referenceSearches = true;
    p.workLeft = budget;
    const HRESULT hr = p.ScheduleInstructions();
    const std::string log = shadertest::LogText(r.log);
    if (budget == kCompileWorkBudget) {
      EXPECT_EQ(hr, S_OK) << log;
      EXPECT_LT(p.workLeft, budget - 2000);  // what the small budget could not pay
      EXPECT_EQ(irtest::TopologicalFault(p), "");
      continue;
    }
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_TRUE(p.workExhausted);
    // The message the bound itself gives, from a program with nothing left.
    AllocRun spent(PhaseLimits(32));
    spent.program.workLeft = 0;
    ASSERT_EQ(spent.program.ChargeWork(1), E_FAIL);
    const std::string message = shadertest::LogText(spent.log);
    ASSERT_EQ(message.rfind("error X", 0), 0u) << message;
    EXPECT_EQ(log, message);
  }
}

// Past what the score bitsets hold, the walks that would stand in for them
// cost the square of the program: a chain that long keeps its inputs in
// their order instead, within work that grows with it.
TEST(GxlSchedule, ChainsPastTheScoreBitsetsScheduleInLinearWork) {
  AllocRun run(PhaseLimits(32));
  ShaderProgram& p = run.program;
  constexpr std::uint32_t kLinks = 24000;
  ASSERT_FALSE(SubtreeScores::Fits(kLinks));
  Values a = run.b.Input(0, 1), b = run.b.Input(1, 1);
  for (std::uint32_t k = 0; k < kLinks; ++k) {
    Values c = k % 2 ? run.b.Add(a, b) : run.b.Mul(a, b);
    a = std::move(b);
    b = std::move(c);
  }
  run.b.Output(0, b);
  p.workLeft = 64 * (std::uint64_t{p.instructions.Count()} + p.values.Count());
  ASSERT_EQ(p.ScheduleInstructions(), S_OK);
  EXPECT_FALSE(p.workExhausted);
  EXPECT_EQ(irtest::TopologicalFault(p), "");
}

// SubtreeScores against the walks of SubtreeScore on random dependence
// graphs, under random sequences of scores (any instruction, often again,
// so that old marks meet new ones) and of instructions scheduled once their
// inputs are: the same sizes and scores throughout and the same marks left.
TEST(GxlSubtreeScores, AgreeWithTheWalks) {
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    std::mt19937 rng(seed);
    AllocRun run(PhaseLimits(32));
    ShaderProgram& p = run.program;
    std::vector<Values> made{run.b.Input(0, 1), run.b.Input(1, 1)};
    const std::uint32_t size = 20 + seed % 140;
    // Each reads one or two recent values, or an old one: chains, fans and joins.
    auto pick = [&] {
      const auto n = static_cast<std::uint32_t>(made.size());
      return made[rng() % 4 ? n - 1 - rng() % std::min(n, 6u) : rng() % n];
    };
    for (std::uint32_t k = 0; k < size; ++k) made.push_back(rng() % 3 ? run.b.Add(pick(), pick()) : run.b.Mul(pick(), pick()));
    run.b.Output(0, made.back());
    ASSERT_EQ(p.BuildDependencyLists(), S_OK);
    const std::uint32_t count = p.instructions.Count();
    for (std::uint32_t i = 0; i < count; ++i) {
      p.Instruction(i)->pinned = 0;
      p.Instruction(i)->word14 = kNoIndex;
    }
    SubtreeScores scores(p);
    ASSERT_EQ(scores.Prepare(), S_OK);
    for (std::uint32_t step = 0; step < 6 * count; ++step) {
      const std::uint32_t q = rng() % count;
      if (rng() % 3 == 0) {
        IrInstruction& inst = *p.Instruction(q);
        bool ready = !inst.pinned;
        for (std::uint32_t k = 0; k < inst.predecessorCount && ready; ++k)
          ready = p.Instruction(inst.predecessors[k])->pinned != 0;
        if (!ready) continue;
        inst.pinned = 1;
        scores.Scheduled(q);
        continue;
      }
      std::uint32_t walkSize = 0, fastSize = 0;
      std::int32_t walkScore = 0, fastScore = 0;
      ASSERT_EQ(p.SubtreeScore(q, &walkSize, &walkScore, q), S_OK);
      ASSERT_EQ(scores.Score(q, &fastSize, &fastScore), S_OK);
      ASSERT_EQ(fastSize, walkSize) << "seed " << seed << " step " << step;
      ASSERT_EQ(fastScore, walkScore) << "seed " << seed << " step " << step;
    }
    std::vector<std::uint32_t> marks(count);
    for (std::uint32_t i = 0; i < count; ++i) marks[i] = p.Instruction(i)->word14;
    scores.Finish();
    for (std::uint32_t i = 0; i < count; ++i) ASSERT_EQ(p.Instruction(i)->word14, marks[i]) << "seed " << seed;
  }
}

}  // namespace
