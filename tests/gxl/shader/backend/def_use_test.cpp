// The use analysis against a brute-force recomputation: 1,000 random
// programs with relative windows, moves to coalesce, register chains and
// aliases; dependency lists against all pairs of instructions. Its upkeep
// across rewrites against the full rebuild, on the same programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <memory>
#include <vector>

#include "gxl/shader/backend/ir/def_use_upkeep.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/core/page_pool.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;

struct GxlIrDefUse : ::testing::Test {
  GxlIrDefUse() : scope(&pages) {}
  std::uint32_t Bank(StandardBank b) const { return P().StandardBankIndex(b); }

  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  MessageLog log;
  std::unique_ptr<ShaderProgram> owner = std::make_unique<ShaderProgram>();
  std::mt19937 rng{0x5E5};

  // A new, empty program in place of the last.
  ShaderProgram& P() const { return *owner; }
  ShaderProgram& Fresh() {
    owner = std::make_unique<ShaderProgram>();
    return *owner;
  }

  // A fresh program of `moves` moves of one input, lowered or not, with the
  // memory it committed charged.
  ShaderProgram& Moves(std::uint32_t moves, bool lowered) {
    ShaderProgram& program = Fresh();
    EXPECT_EQ(program.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    const std::uint32_t a = program.AddValue(Bank(StandardBank::Inputs), 0, 0, 0.0);
    for (std::uint32_t i = 0; i < moves; ++i) {
      const std::uint32_t at = program.AddInstruction(IrWord(kOpMove, 1), kNoIndex, kNoIndex);
      program.Instruction(at)->arguments[0] = a;
      program.Instruction(at)->results[0] = program.AddValue(Bank(StandardBank::Temporaries), i, 0, 0.0);
    }
    if (lowered) program.GrantRestOfCap(gxl::shader::kCompileWorkBudget);
    EXPECT_EQ(program.ChargeWork(0), S_OK);
    return program;
  }

  std::uint32_t Pick(const std::vector<std::uint32_t>& from) { return from[rng() % from.size()]; }
  bool Chance(unsigned percent) { return rng() % 100 < percent; }

  // A random program in which every value is written at most once and read
  // only after it is written (or never written: inputs), so that the moves
  // form a forest whose trees are the coalescing cycles.
  void Generate() {
    const StandardBank sources[] = {StandardBank::Inputs, StandardBank::FloatConstants, StandardBank::Literals};
    const StandardBank results[] = {StandardBank::Temporaries, StandardBank::BlockMoves, StandardBank::Outputs,
                                    StandardBank::LoopEntries, StandardBank::Address};
    std::vector<std::uint32_t> readable, plain;  // plain: no alias, so fit as index or predicate
    for (int i = 0; i < 12; ++i) {
      const std::uint32_t v = P().AddValue(Bank(sources[rng() % 3]), rng() % 6, rng() % 4, 0.5);
      P().Value(v)->binding = Chance(15) ? 1 : 0;
      readable.push_back(v);
      plain.push_back(v);
    }
    const std::uint32_t count = 8 + rng() % 28;
    for (std::uint32_t n = 0; n < count; ++n) {
      const std::uint32_t width = 1 + rng() % 4, kind = rng() % 6;
      std::uint32_t index;
      if (kind == 5) {  // operands under a word the analysis skips
        auto* inst = new IrInstruction;
        inst->Init(0x00000002, 2, 1, true);
        index = P().instructions.Append(inst);
      } else {
        const std::uint32_t words[] = {IrWord(kOpMove, width), IrWord(kOpMove, width), IrWord(kOpAdd, width),
                                       IrWord(kOpSelect, width), IrWord(kOpDot, width)};
        index = P().AddInstruction(words[kind], kNoIndex, kNoIndex);
      }
      IrInstruction& inst = *P().Instruction(index);
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) inst.arguments[a] = Chance(5) ? kNoIndex : Pick(readable);
      std::vector<std::uint32_t> written;
      for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
        const std::uint32_t reg = Chance(40) ? kNoIndex : rng() % 5;
        const std::uint32_t v = P().AddValue(Bank(results[rng() % 5]), reg, Chance(5) ? kNoIndex : rng() % 4, 0.0);
        IrValue& value = *P().Value(v);
        if (Chance(10)) value.relativeIndex = Pick(plain);
        if (Chance(20)) value.predicate = Pick(plain);
        value.predicateSense = rng() % 2;
        value.binding = Chance(10) ? 2 : 0;
        inst.results[r] = v;
        written.push_back(v);
      }
      for (std::uint32_t v : written) {
        readable.push_back(v);
        if (Chance(15)) {  // a relatively addressed copy of a register, read later
          const std::uint32_t element = P().AddValueCopy(P().Value(v));
          P().Value(element)->relativeIndex = Pick(plain);
          readable.push_back(element);
        } else if (Chance(15) && P().optimisedFlag) {
          const std::uint32_t alias = P().AddValue(Bank(StandardBank::Temporaries), kNoIndex, kNoIndex, 0.0);
          P().Value(alias)->alias = Pick(plain);
          readable.push_back(alias);
        } else {
          plain.push_back(v);
        }
      }
    }
    for (int holes = rng() % 3; holes > 0; --holes) {  // deleted instructions
      const std::uint32_t i = rng() % P().instructions.Count();
      delete P().instructions.Slot(i);
      P().instructions.Slot(i) = nullptr;
    }
  }

  // One rewrite of the kinds recognisers make, reached through the lists.
  void Rewrite() {
    ShaderProgram& p = P();
    const std::uint32_t values = p.values.Count(), count = p.instructions.Count();
    auto anyValue = [&] { return static_cast<std::uint32_t>(rng() % values); };
    IrValue& v = *p.Value(anyValue());
    const std::uint32_t at = rng() % count;
    IrInstruction* inst = p.Instruction(at);
    switch (rng() % 12) {
      case 0:  // an argument reads another value, none, or one past the list
        if (inst && inst->argumentCount)
          inst->arguments[rng() % inst->argumentCount] = Chance(10) ? kNoIndex : Chance(5) ? values + 2 : anyValue();
        break;
      case 1:  // retired
        if (inst) inst->word = 0;
        break;
      case 2: {  // replaced by a copy of another instruction
        const IrInstruction* model = p.Instruction(rng() % count);
        if (!model) break;
        auto* copy = new IrInstruction;
        ASSERT_EQ(copy->CopyFrom(model), S_OK);
        delete p.instructions.Slot(at);
        p.instructions.Slot(at) = copy;
        break;
      }
      case 3:  // deleted
        delete p.instructions.Slot(at);
        p.instructions.Slot(at) = nullptr;
        break;
      case 4: {  // appended, writing a new temporary
        const std::uint32_t i = p.AddInstruction(IrWord(kOpMove, 1), kNoIndex, kNoIndex);
        p.Instruction(i)->arguments[0] = anyValue();
        p.Instruction(i)->results[0] = p.AddValue(Bank(StandardBank::Temporaries), rng() % 5, rng() % 4, 0.0);
        break;
      }
      case 5: {  // a new value standing for another (a negated read, say)
        const std::uint32_t alias = p.AddValueCopy(&v);
        p.Value(alias)->alias = anyValue();
        if (inst && inst->argumentCount) inst->arguments[rng() % inst->argumentCount] = alias;
        break;
      }
      case 6:
        v.alias = Chance(30) ? kNoIndex : anyValue();
        break;
      case 7:
        v.relativeIndex = Chance(50) ? kNoIndex : anyValue();
        break;
      case 8:
        v.bank = rng() % p.banks.Count();
        break;
      case 9:  // a recogniser's own note of where a value is now defined
        v.definingPosition = rng() % (count + 1);
        v.firstUse = rng() % (count + 1);
        break;
      case 10:
        if (inst && inst->resultCount) inst->results[rng() % inst->resultCount] = anyValue();
        break;
      default:  // only read (v above)
        break;
    }
  }

  // --- The model: every read of every instruction, then each value's
  // fields gathered over all of them.
  struct Read {
    std::uint32_t position, value;
    bool relative;  // the value was addressed relatively: its bank's window
  };

  std::uint32_t Resolve(std::uint32_t v) const {
    const IrValue* value = P().Value(v);
    return value && value->alias != kNoIndex ? value->alias : v;
  }

  void ReadsOf(std::uint32_t position, std::uint32_t v, std::vector<Read>& out) const {
    while (v != kNoIndex) {
      const std::uint32_t r = Resolve(v);
      const IrValue* value = P().Value(r);
      if (!value) return;
      out.push_back({position, r, value->relativeIndex != kNoIndex});
      v = value->relativeIndex;
    }
  }

  std::vector<Read> AllReads() const {
    std::vector<Read> reads;
    for (std::uint32_t p = 0; p < P().instructions.Count(); ++p) {
      const IrInstruction* inst = P().Instruction(p);
      if (!inst || inst->word < 0x100000) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) ReadsOf(p, inst->arguments[a], reads);
      for (std::uint32_t r = 0; r < inst->resultCount; ++r)
        if (const IrValue* v = P().Value(inst->results[r])) ReadsOf(p, v->relativeIndex, reads);
    }
    return reads;
  }

  std::uint32_t Definer(std::uint32_t v) const {
    std::uint32_t last = kNoIndex;
    for (std::uint32_t p = 0; p < P().instructions.Count(); ++p) {
      const IrInstruction* inst = P().Instruction(p);
      if (inst && inst->word >= 0x100000 && std::count(inst->results, inst->results + inst->resultCount, v)) last = p;
    }
    return last;
  }

  struct Expected {
    std::uint32_t first = kNoIndex, last = 0, uses = 0, definer = kNoIndex, earliest = kNoIndex,
                  latest = kNoIndex, bank = 0, reg = 0, component = 0;
  };

  std::vector<Expected> Model() const {
    const std::uint32_t n = P().values.Count();
    std::vector<Expected> e(n);
    const std::vector<Read> reads = AllReads();
    struct Window {
      std::uint32_t first = kNoIndex, last = 0, count = 0;
    };
    std::vector<Window> windows(P().banks.Count());
    for (const Read& r : reads) {
      if (!r.relative) continue;
      Window& w = windows[P().Value(r.value)->bank];
      w.first = std::min(w.first, r.position), w.last = std::max(w.last, r.position), ++w.count;
    }
    for (std::uint32_t v = 0; v < n; ++v) {
      const IrValue* value = P().Value(v);
      if (!value) continue;
      for (const Read& r : reads) {
        if (r.value != v) continue;
        e[v].first = std::min(e[v].first, r.position), e[v].last = std::max(e[v].last, r.position), ++e[v].uses;
      }
      if (const Window& w = windows[value->bank]; w.count) {
        e[v].first = std::min(e[v].first, w.first), e[v].last = std::max(e[v].last, w.last);
      }
      e[v].definer = Definer(v);
      e[v].bank = value->bank, e[v].reg = value->reg, e[v].component = value->component;
    }
    if (P().registerTableFlag) {
      for (std::uint32_t v = 0; v < n; ++v) {
        const IrValue* value = P().Value(v);
        if (!value) continue;
        // The nearest earlier and later definitions of the same register component.
        std::uint32_t previous = kNoIndex, next = kNoIndex;
        const std::uint32_t type = P().Bank(value->bank)->type;
        const bool chained = (type & kBankWritable) && !(type & kBankBound) && value->reg != kNoIndex &&
                             value->component < 4 && e[v].definer != kNoIndex;
        for (std::uint32_t u = 0; chained && u < n; ++u) {
          const IrValue* other = P().Value(u);
          if (u == v || !other || other->bank != value->bank || other->reg != value->reg ||
              other->component != value->component || e[u].definer == kNoIndex)
            continue;
          // Results are fresh per instruction, in order of creation.
          const bool before = e[u].definer < e[v].definer || (e[u].definer == e[v].definer && u < v);
          if (before && (previous == kNoIndex || e[u].definer > e[previous].definer ||
                         (e[u].definer == e[previous].definer && u > previous)))
            previous = u;
          if (!before && (next == kNoIndex || e[u].definer < e[next].definer ||
                          (e[u].definer == e[next].definer && u < next)))
            next = u;
        }
        e[v].earliest = previous == kNoIndex ? 0 : e[previous].uses ? e[previous].last : e[previous].definer + 1;
        e[v].latest = next == kNoIndex ? kNoIndex : std::max(e[next].first, e[next].definer);
      }
    }
    if (P().optimisedFlag) {
      for (std::uint32_t v = 0; v < n; ++v) {
        const IrValue* value = P().Value(v);
        if (!value || value->alias == kNoIndex || value->alias == v) continue;
        Expected& t = e[value->alias];
        e[v].bank = t.bank, e[v].reg = t.reg, e[v].component = t.component;
        e[v].definer = t.definer, e[v].earliest = t.earliest, e[v].latest = t.latest;
        e[v].first = t.first = std::min(e[v].first, t.first);
        e[v].last = t.last = std::max(e[v].last, t.last);
      }
    }
    return e;
  }

  // The coalescing cycles: the trees of the qualifying moves.
  std::vector<std::uint32_t> MoveTrees() const {
    std::vector<std::uint32_t> root(P().values.Count());
    std::iota(root.begin(), root.end(), 0u);
    auto find = [&](std::uint32_t x) {
      while (root[x] != x) x = root[x] = root[root[x]];
      return x;
    };
    if (P().options & kOptionNoOptimisation) return root;
    for (std::uint32_t p = 0; p < P().instructions.Count(); ++p) {
      const IrInstruction* inst = P().Instruction(p);
      if (!inst || inst->Group() != kOpMove) continue;
      for (std::uint32_t i = 0; i < inst->argumentCount; ++i) {
        const IrValue *d = P().Value(inst->results[i]), *s = P().Value(inst->arguments[i]);
        if (!d || !s || s->binding) continue;
        const std::uint32_t type = P().Bank(d->bank)->type;
        if ((type & 1) && !(type & 0x1020)) root[find(inst->results[i])] = find(inst->arguments[i]);
      }
    }
    for (std::uint32_t& r : root) r = find(r);
    return root;
  }
};

TEST_F(GxlIrDefUse, ThousandRandomProgramsAgainstABruteForceModel) {
  for (int round = 0; round < nura::test::LongOrShare(1000, 400); ++round) {
    ShaderProgram& program = Fresh();
    ASSERT_EQ(program.Init(nullptr, &log, 0xFFFE0300, Chance(20) ? kOptionNoOptimisation : 0), S_OK);
    program.registerTableFlag = rng() % 2;
    program.optimisedFlag = rng() % 2;
    Generate();
    const std::vector<Expected> expected = Model();
    const std::vector<std::uint32_t> trees = MoveTrees();
    std::vector<std::uint32_t> highest(program.banks.Count(), 0);
    for (std::uint32_t v = 0; v < program.values.Count(); ++v)
      if (program.Value(v)->reg != kNoIndex)
        highest[program.Value(v)->bank] = std::max(highest[program.Value(v)->bank], program.Value(v)->reg + 1);

    ASSERT_EQ(program.RebuildDefUse(), S_OK);
    SCOPED_TRACE(round);
    for (std::uint32_t v = 0; v < program.values.Count(); ++v) {
      const IrValue& value = *program.Value(v);
      const Expected& e = expected[v];
      ASSERT_EQ(value.firstUse, e.first) << v;
      ASSERT_EQ(value.lastUse, e.last) << v;
      ASSERT_EQ(value.useCount, e.uses) << v;
      ASSERT_EQ(value.definingPosition, e.definer) << v;
      ASSERT_EQ(value.earliestDefinition, program.registerTableFlag ? e.earliest : kNoIndex) << v;
      ASSERT_EQ(value.latestDefinition, e.latest) << v;
      ASSERT_EQ(value.bank, e.bank);
      ASSERT_EQ(value.reg, e.reg);
      // The cycle through v is exactly v's tree of moves.
      std::uint32_t length = 0;
      for (std::uint32_t u = v; (length == 0 || u != v) && length <= program.values.Count();
           u = program.Value(u)->coalesceLink, ++length)
        ASSERT_EQ(trees[u], trees[v]);
      ASSERT_EQ(length, static_cast<std::uint32_t>(std::count(trees.begin(), trees.end(), trees[v])));
    }
    for (std::uint32_t b = 0; b < program.banks.Count(); ++b) {
      const RegisterBank& bank = *program.Bank(b);
      EXPECT_EQ(bank.definitions, nullptr);
      if (program.registerTableFlag && (bank.type & 2) && !(bank.type & 0x40)) {
        ASSERT_EQ(bank.registerCount, highest[b]) << bank.name;  // register -1 does not wrap the count
      }
    }

    // Dependency lists: each pair of instructions tested directly.
    ASSERT_EQ(program.BuildDependencyLists(), S_OK);
    auto dependsOn = [&](std::uint32_t reader, std::uint32_t definer) {
      const IrInstruction* inst = program.Instruction(reader);
      auto chain = [&](std::uint32_t v, bool relative, bool predicate) {
        for (; v != kNoIndex; v = relative ? program.Value(v)->relativeIndex : program.Value(v)->predicate) {
          const IrValue* value = program.Value(Resolve(v));
          if ((program.Bank(value->bank)->type & 2) && value->definingPosition == definer) return true;
          if (!relative && !predicate) break;
        }
        return false;
      };
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
        const std::uint32_t v = inst->arguments[a];
        if (v == kNoIndex) continue;
        if (chain(v, false, false) || chain(program.Value(Resolve(v))->relativeIndex, true, false)) return true;
      }
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
        const IrValue* value = program.Value(inst->results[r]);
        if (value && (chain(value->relativeIndex, true, false) || chain(value->predicate, false, true))) return true;
      }
      return false;
    };
    const std::uint32_t n = program.instructions.Count();
    std::vector<std::vector<std::uint32_t>> predecessors(n), successors(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      for (std::uint32_t j = 0; program.Instruction(i) && j < n; ++j) {
        if (program.Instruction(j) && dependsOn(i, j)) {
          predecessors[i].push_back(j);
          successors[j].push_back(i);
        }
      }
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (const IrInstruction* inst = program.Instruction(i)) {
        ASSERT_EQ(std::vector<std::uint32_t>(inst->predecessors, inst->predecessors + inst->predecessorCount),
                  predecessors[i]) << i;
        ASSERT_EQ(std::vector<std::uint32_t>(inst->successors, inst->successors + inst->successorCount),
                  successors[i]) << i;
      }
    }
  }
}

}  // namespace

namespace {

// The upkeep's refreshes against the full rebuild (the reference switch
// compares every field after each): random programs, each taken through 40
// batches of random rewrites.
TEST_F(GxlIrDefUse, UpkeepAgreesWithTheFullRebuildAcrossRandomRewrites) {
  for (int round = 0; round < 300; ++round) {
    ShaderProgram& program = Fresh();
    ASSERT_EQ(program.Init(nullptr, &log, 0xFFFE0300, Chance(20) ? kOptionNoOptimisation : 0), S_OK);
    program.optimisedFlag = rng() % 2;
    program.referenceSearches = true;
    Generate();
    SCOPED_TRACE(round);
    DefUseUpkeep upkeep(program);
    ASSERT_EQ(upkeep.Refresh(), S_OK);
    for (int batch = 0; batch < 40; ++batch) {
      for (int k = 1 + rng() % 3; k > 0; --k) Rewrite();
      ASSERT_EQ(upkeep.Refresh(), S_OK);
      ASSERT_TRUE(upkeep.Running());
      ASSERT_EQ(program.defUseUpkeepMismatches, 0u) << batch;
    }
  }
}

// What the upkeep names as candidates for the passes that look values up by
// their alias holds every value (and reader) a scan of the whole program
// finds, also between refreshes, with rewrites not yet taken up.
TEST_F(GxlIrDefUse, UpkeepCandidatesHoldEveryAliasChainAndReader) {
  for (int round = 0; round < 200; ++round) {
    ShaderProgram& program = Fresh();
    ASSERT_EQ(program.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    program.optimisedFlag = 1;
    Generate();
    SCOPED_TRACE(round);
    DefUseUpkeep upkeep(program);
    ASSERT_EQ(upkeep.Refresh(), S_OK);
    for (int batch = 0; batch < 30; ++batch) {
      for (int k = 1 + rng() % 3; k > 0; --k) Rewrite();
      PodArray<std::uint32_t> chains;
      ASSERT_TRUE(upkeep.ChainCandidates(chains));
      const std::set<std::uint32_t> chained(chains.Data(), chains.Data() + chains.Size());
      const std::uint32_t target = rng() % program.values.Count();
      PodArray<std::uint32_t> aliasers, readers;
      ASSERT_TRUE(upkeep.AliasCandidates(target, aliasers));
      ASSERT_TRUE(upkeep.ReaderCandidates(target, readers));
      const std::set<std::uint32_t> aliasing(aliasers.Data(), aliasers.Data() + aliasers.Size());
      const std::set<std::uint32_t> reading(readers.Data(), readers.Data() + readers.Size());
      for (std::uint32_t v = 0; v < program.values.Count(); ++v) {
        if (DefUseUpkeep::HasAliasChain(program, v)) {
          ASSERT_TRUE(chained.count(v)) << batch << " " << v;
        }
        const IrValue* x = program.Value(v);
        if (x && x->alias == target && v != target) {
          ASSERT_TRUE(aliasing.count(v)) << batch << " " << v;
        }
      }
      for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
        const IrInstruction* inst = program.Instruction(i);
        if (inst && inst->word >= 0x100000 &&
            std::count(inst->arguments, inst->arguments + inst->argumentCount, target)) {
          ASSERT_TRUE(reading.count(i)) << batch << " " << i;
        }
      }
      if (rng() % 2) {
        ASSERT_EQ(upkeep.Refresh(), S_OK);
      }
    }
  }
}

// A change the journals cannot see (through a pointer taken before the last
// refresh) is what the comparison exists to catch.
TEST_F(GxlIrDefUse, TheReferenceComparisonCountsWhatTheUpkeepMissed) {
  ShaderProgram& program = Fresh();
  ASSERT_EQ(program.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
  program.referenceSearches = true;
  const std::uint32_t a = program.AddValue(Bank(StandardBank::Inputs), 0, 0, 0.0);
  const std::uint32_t b = program.AddValue(Bank(StandardBank::Inputs), 0, 1, 0.0);
  const std::uint32_t r = program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0);
  const std::uint32_t at = program.AddInstruction(IrWord(kOpMove, 1), kNoIndex, kNoIndex);
  IrInstruction* move = program.Instruction(at);
  move->arguments[0] = a;
  move->results[0] = r;
  DefUseUpkeep upkeep(program);
  ASSERT_EQ(upkeep.Refresh(), S_OK);
  ASSERT_EQ(upkeep.Refresh(), S_OK);
  EXPECT_EQ(program.defUseUpkeepMismatches, 0u);
  move->arguments[0] = b;  // unseen: the pointer predates the journals' round
  ASSERT_EQ(upkeep.Refresh(), S_OK);
  EXPECT_EQ(program.defUseUpkeepMismatches, 2u);  // a is no longer read, b is
  EXPECT_EQ(program.Value(b)->useCount, 1u);      // the reference's fields stand
}

// A value read by every instruction: each reread that takes a reader out of
// the front of its list shifts the rest of the list, and the refresh charges
// for it; the same number of readers taken from the back shifts nothing.
TEST_F(GxlIrDefUse, UpkeepChargesTheListEntriesItShifts) {
  constexpr std::uint32_t kReaders = 8192, kChanged = kReaders / 2;
  auto charged = [&](bool front) {
    ShaderProgram& program = Fresh();
    EXPECT_EQ(program.Init(nullptr, &log, 0xFFFE0300, 0), S_OK);
    const std::uint32_t a = program.AddValue(Bank(StandardBank::Inputs), 0, 0, 0.0);
    const std::uint32_t b = program.AddValue(Bank(StandardBank::Inputs), 0, 1, 0.0);
    for (std::uint32_t i = 0; i < kReaders; ++i) {
      const std::uint32_t at = program.AddInstruction(IrWord(kOpMove, 1), kNoIndex, kNoIndex);
      IrInstruction* move = program.Instruction(at);
      move->arguments[0] = a;
      move->results[0] = program.AddValue(Bank(StandardBank::Temporaries), i, 0, 0.0);
    }
    DefUseUpkeep upkeep(program);
    EXPECT_EQ(upkeep.Refresh(), S_OK);
    for (std::uint32_t k = 0; k < kChanged; ++k)
      program.Instruction(front ? k : kReaders - 1 - k)->arguments[0] = b;
    const std::uint64_t before = program.workCharged;
    EXPECT_EQ(upkeep.Refresh(), S_OK);
    EXPECT_EQ(program.Value(a)->useCount, kReaders - kChanged);
    return program.workCharged - before;
  };
  const std::uint64_t back = charged(false), front = charged(true);
  EXPECT_GT(front, 2 * back) << "front " << front << ", back " << back;
}

// Once the lowering has ended, a walk over a program past the caches
// charges more per record, as its time grows; the lowering's own walks stay
// at the plain rate, so that its budget decides as it always did.
TEST_F(GxlIrDefUse, WalksOverProgramsPastTheCachesChargeMoreOnceLowered) {
  auto perRecord = [&](std::uint32_t moves, bool lowered) {
    ShaderProgram& program = Moves(moves, lowered);
    const std::uint64_t before = program.workCharged;
    EXPECT_EQ(program.RebuildDefUse(), S_OK);
    return static_cast<double>(program.workCharged - before) /
           (program.instructions.Count() + program.values.Count());
  };
  const double small = perRecord(1u << 10, false), large = perRecord(1u << 17, false);
  EXPECT_NEAR(large, small, 0.05);
  EXPECT_NEAR(perRecord(1u << 10, true), small, 0.05);
  EXPECT_GT(perRecord(1u << 17, true), 2 * small);
}

// The later phases' walks go down the lists in order, and their time per
// record holds past the caches: their charge per record does too, where the
// first phase's grows.
TEST_F(GxlIrDefUse, LaterPhasesWalksChargeThePlainRateAtAnySize) {
  auto perRecord = [&](std::uint32_t moves, bool later) {
    ShaderProgram& program = Moves(moves, true);
    const std::uint64_t before = program.workCharged;
    EXPECT_EQ(later ? program.ChargeLaterWalk(gxl::shader::workrate::kSchedule)
                    : program.ChargeWalk(gxl::shader::workrate::kSchedule),
              S_OK);
    return static_cast<double>(program.workCharged - before) /
           (program.instructions.Count() + program.values.Count());
  };
  const double small = perRecord(1u << 10, true);
  EXPECT_NEAR(small, gxl::shader::workrate::kSchedule / 16.0, 0.05);
  EXPECT_NEAR(perRecord(1u << 17, true), small, 0.05);
  EXPECT_GT(perRecord(1u << 17, false), 2 * small);
}

}  // namespace
