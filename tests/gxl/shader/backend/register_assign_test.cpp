// Register assignment: random programs through both phases on a target with
// slot 5, checked by an interference checker that recomputes live ranges
// from the final order, by the value interpreter and by the interpreter
// reading physical registers; and the cases that decide the rules.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "../log_text.h"
#include "../tree_kit.h"
#include "gxl/shader/core/syntax_tree.h"
#include "phase2_fixture.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;
using irkit::IrInterpreter;
using irkit::Values;
using irtest::AllocRun;
using irtest::PhaseLimits;

struct Setting {
  std::uint32_t temporaries, capabilities, secondFlags, options, relativePercent;
};
// Tight limits, fixed components, parity bias, no-overlap everywhere, no
// optimisation, no rotation cost, co-issue pairing.
constexpr Setting kSettings[] = {
    {12, 0, 0, 0, 0},
    {6, 0, 0, 0, 0},
    {8, 0x2, 0, 0, 10},
    {8, 0x6, 0x1, 0, 0},
    {6, 0x80000000u, 0x2, 0, 10},
    {8, 0, 0, kOptionNoOptimisation, 0},
    {5, 0x40000000, 0x1, 0, 0},
    {8, 0, 0x8, 0, 0},
};

TEST(GxlRegAssign, RandomProgramsKeepTheirResultsInPhysicalRegisters) {
  const std::uint32_t kPrograms = nura::test::LongOrShare(2000, 300), kVectors = 2;
  std::uint32_t tooComplex = 0;
  for (std::uint32_t seed = 1; seed <= kPrograms; ++seed) {
    const Setting& s = kSettings[seed % std::size(kSettings)];
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 16;
    shape.relativePercent = s.relativePercent;
    AllocRun run(PhaseLimits(s.temporaries, s.capabilities, s.secondFlags), s.options);
    const irkit::RandomProgram generated(run.program, seed, shape);
    ShaderProgram& p = run.program;
    ASSERT_EQ(p.Optimize(), S_OK) << seed;
    // The second phase is checked against the program it starts from.
    const auto want = irtest::Outputs(generated, p, kVectors);
    const HRESULT hr = p.ScheduleAndAllocate();
    if (hr == E_FAIL && run.log.ErrorCount() == 1 && shadertest::LogText(run.log).find("X4004") != std::string::npos) {
      ++tooComplex;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << seed << "\n" << shadertest::LogText(run.log);
    const std::string what = "seed " + std::to_string(seed);
    ASSERT_EQ(irtest::TopologicalFault(p), "") << what;
    // Pairing may draw an arm's instruction past the end of an if that has no
    // merge; nothing crosses into or out of a loop.
    ASSERT_EQ(irtest::RegionFault(p, true), "") << what;
    ASSERT_EQ(irtest::InterferenceFault(p, run.Bank(StandardBank::Temporaries), s.temporaries), "") << what;
    ASSERT_EQ(irtest::InterferenceFault(p, run.Bank(StandardBank::Predicates), 1), "") << what;
    ASSERT_TRUE(irtest::SameOutputs(want, irtest::Outputs(generated, p, kVectors))) << what;
    ASSERT_TRUE(
        irtest::SameOutputs(want, irtest::Outputs(generated, p, kVectors, IrInterpreter::Mode::kPhysicalRegisters)))
        << what;
  }
  // The tight settings reject a few programs; most fit.
  EXPECT_LT(tooComplex, kPrograms / 20);
}

struct GxlRegAssignCase : irtest::PhaseCase {
  AllocRun& Start(std::uint32_t temporaries, std::uint32_t capabilities = 0, std::uint32_t options = 0) {
    ProfileLimits limits = PhaseLimits(temporaries, capabilities);
    limits.samplers = 16;
    return PhaseCase::Start(limits, options, options & 0x10000 ? 0xFFFF0200 : 0xFFFE0300);
  }
  // Every register and component the values of the temporaries occupy.
  std::set<std::pair<std::uint32_t, std::uint32_t>> Places(const std::vector<const IrValue*>& values) const {
    std::set<std::pair<std::uint32_t, std::uint32_t>> places;
    for (const IrValue* v : values) places.insert({v->reg, v->component});
    return places;
  }
};

// k four-component products, all live until a sum of them in reverse:
// they fit k registers, and k + 1 products give error 4004 at the first sum,
// the instruction whose inputs are placed last.
TEST_F(GxlRegAssignCase, OneLiveVectorMoreThanRegistersIsError4004) {
  shadertest::TreePool trees;
  constexpr std::uint32_t kLimit = 4;
  for (std::uint32_t products : {kLimit, kLimit + 1}) {
    AllocRun& r = Start(kLimit);
    std::vector<Values> a;
    for (std::uint32_t i = 0; i < products; ++i) a.push_back(r.b.Mul(r.b.Input(i), r.b.Input(i)));
    Values sum = a.back();
    std::uint32_t firstSum = kNoIndex;
    for (std::uint32_t i = products - 1; i-- > 0;) {
      sum = r.b.Add(sum, a[i]);
      if (firstSum == kNoIndex) firstSum = r.program.instructions.Count() - 1;
    }
    r.b.Output(0, sum);
    for (std::uint32_t i = 0; i < r.program.instructions.Count(); ++i)
      r.program.Instruction(i)->sourcePosition = new TokenNode(shadertest::IdentifierToken("x", "s.fx", 100 + i));
    ASSERT_EQ(r.program.PackVectors(), S_OK);
    const HRESULT hr = r.program.AssignRegisters();
    if (products == kLimit) {
      EXPECT_EQ(hr, S_OK) << shadertest::LogText(r.log);
      EXPECT_EQ(irtest::InterferenceFault(r.program, r.Bank(StandardBank::Temporaries), kLimit), "");
    } else {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(shadertest::LogText(r.log), "s.fx(" + std::to_string(100 + firstSum) +
                                                "): error X4004: program too complex; there are more active "
                                                "values than registers\n");
    }
  }
}

// A copy whose source dies at it takes the source's place and goes.
TEST_F(GxlRegAssignCase, CopyTakesItsSourcesPlaceAndGoes) {
  AllocRun& r = Start(8);
  const Values x = r.b.Mul(r.b.Input(0), r.b.Input(0));
  r.b.Output(0, r.b.Add(r.b.Move(x), r.b.Input(1)));
  const std::vector<double> want = Run({1, 2, 3, 4}, {5, 6, 7, 8}, 4);
  ASSERT_EQ(r.program.PackVectors(), S_OK);
  ASSERT_EQ(r.program.AssignRegisters(), S_OK);
  for (std::uint32_t i = 0; i < r.program.instructions.Count(); ++i) {
    const IrInstruction& inst = *r.program.Instruction(i);
    if (inst.Group() == kOpMove) {
      EXPECT_EQ(V(inst.results[0]).bank, r.Bank(StandardBank::Outputs));
    }
  }
  EXPECT_EQ(r.program.instructions.Count(), 3u);
  EXPECT_EQ(Run({1, 2, 3, 4}, {5, 6, 7, 8}, 4, IrInterpreter::Mode::kPhysicalRegisters), want);
}

// A value of each arm of one if/else, both live up to the merge, share one
// component; a value read inside a loop and defined before it keeps its
// place to the loop's end.
TEST_F(GxlRegAssignCase, ArmsShareAndLoopsHoldTheirInputs) {
  AllocRun& r = Start(3);
  irkit::IrBuilder& b = r.b;
  const Values v = b.Input(0);
  const std::uint32_t test = b.Binary(kOpLess, {v[0]}, {v[1]})[0];
  std::uint32_t inThen = kNoIndex, inElse = kNoIndex;
  const Values merged = b.If(
      test, [&] { return Values{inThen = b.Mul({v[0]}, {v[2]})[0]}; },
      [&] { return Values{inElse = b.Add({v[1]}, {v[3]})[0]}; });
  const std::uint32_t held = b.Mul(merged, {v[1]})[0];
  std::vector<std::uint32_t> laterInLoop;
  const Values after = b.Loop(3, {v[2]}, [&](const Values& entry) {
    const Values u = b.Add(entry, {held});
    const Values w = b.Mul(u, u);
    const Values z = b.Add(w, entry);
    laterInLoop = {u[0], w[0], z[0]};
    return z;
  });
  b.Output(0, after);
  const std::vector<double> want = Run({0.5, 0.75, 0.25, 1.5}, {0, 0, 0, 0}, 1);
  ASSERT_EQ(r.program.PackVectors(), S_OK);
  const IrValue *thenValue = &V(inThen), *elseValue = &V(inElse), *heldValue = &V(held);
  std::vector<const IrValue*> loopValues;
  for (std::uint32_t x : laterInLoop) loopValues.push_back(&V(x));
  ASSERT_EQ(r.program.AssignRegisters(), S_OK);
  EXPECT_EQ(Places({thenValue}), Places({elseValue}));
  for (const IrValue* x : loopValues) EXPECT_EQ(Places({x}).count({heldValue->reg, heldValue->component}), 0u);
  EXPECT_EQ(Run({0.5, 0.75, 0.25, 1.5}, {0, 0, 0, 0}, 1, IrInterpreter::Mode::kPhysicalRegisters), want);
}

// Components stay where capability 0x2 (vectors) or 0x4 (scalars) fixes
// them; a free scalar from x tries w first.
TEST_F(GxlRegAssignCase, FixedComponentsStay) {
  struct Row {
    std::uint32_t capabilities;
    std::vector<std::uint32_t> components, expected;
  };
  const Row rows[] = {{0x4, {2}, {2}}, {0, {0}, {3}}, {0x2, {1, 2}, {1, 2}}, {0x6, {0}, {0}}};
  for (const Row& row : rows) {
    AllocRun& r = Start(8, row.capabilities);
    const auto n = static_cast<std::uint32_t>(row.components.size());
    const Values x = r.b.Mul(r.b.Input(0, n), r.b.Input(1, n));
    for (std::uint32_t k = 0; k < n; ++k) {
      V(x[k]).reg = 3;
      V(x[k]).component = row.components[k];
    }
    const Values y = r.b.Add(x, r.b.Input(0, n));
    for (std::uint32_t k = 0; k < n; ++k) V(y[k]).reg = 4, V(y[k]).component = k;
    r.b.Output(0, y);
    ASSERT_EQ(r.program.AssignRegisters(), S_OK);
    for (std::uint32_t k = 0; k < n; ++k) EXPECT_EQ(V(x[k]).component, row.expected[k]) << row.capabilities;
  }
}

// Without optimisation the low half of the registers is used in turn.
TEST_F(GxlRegAssignCase, RotationWithoutOptimisation) {
  for (std::uint32_t options : {0u, kOptionNoOptimisation}) {
    AllocRun& r = Start(8, 0, options);
    Values x = r.b.Input(0);
    std::vector<std::uint32_t> chain;
    for (int k = 0; k < 8; ++k) chain.push_back((x = r.b.Add(x, r.b.Input(1)))[0]);
    r.b.Output(0, x);
    ASSERT_EQ(r.program.PackVectors(), S_OK);
    std::vector<const IrValue*> values;
    for (std::uint32_t v : chain) values.push_back(&V(v));
    ASSERT_EQ(r.program.AssignRegisters(), S_OK);
    std::set<std::uint32_t> registers;
    for (const IrValue* v : values) registers.insert(v->reg);
    const std::set<std::uint32_t> expected = options ? std::set<std::uint32_t>{0, 1, 2, 3} : std::set<std::uint32_t>{0};
    EXPECT_EQ(registers, expected);
  }
}

// Address values that do not fit the address registers become temporaries;
// one that fits stays an address register.
TEST_F(GxlRegAssignCase, AddressValuesFallBackToTemporaries) {
  for (std::uint32_t width : {1u, 4u}) {
    ProfileLimits limits = PhaseLimits(8);
    limits.addressRegisters = 1;
    AllocRun& r = PhaseCase::Start(limits);
    irkit::IrBuilder& b = r.b;
    const Values zero = b.Mul(b.Input(0, width), Values(width, b.Literal(0)));
    const Values a1 = b.Emit(kOpMove, zero, width, kNoIndex, StandardBank::Address);
    const Values a2 = b.Emit(kOpMove, zero, width, kNoIndex, StandardBank::Address);
    const Values read1 = b.RelativeRegister(StandardBank::FloatConstants, 1, a1[0], 1);
    const Values read2 = b.RelativeRegister(StandardBank::FloatConstants, 2, a2[0], 1);
    Values sum = b.Add(read1, read2);
    for (std::uint32_t k = 1; k < width; ++k) sum = b.Add(sum, b.Add({a1[k]}, {a2[k]}));
    b.Output(0, sum);
    const std::vector<double> want = Run({1, 2, 3, 4}, {0, 0, 0, 0}, 1);
    ASSERT_EQ(r.program.PackVectors(), S_OK);
    const IrValue* address = &V(a1[0]);
    ASSERT_EQ(r.program.AssignRegisters(), S_OK);
    EXPECT_EQ(address->bank, r.Bank(width == 1 ? StandardBank::Address : StandardBank::Temporaries)) << width;
    EXPECT_EQ(Run({1, 2, 3, 4}, {0, 0, 0, 0}, 1, IrInterpreter::Mode::kPhysicalRegisters), want) << width;
  }
}

// The kit's physical mode: two values that share a register while both are
// live give another result than by value.
TEST_F(GxlRegAssignCase, PhysicalInterpreterSeesSharedRegisters) {
  AllocRun& r = Start(8);
  const Values x = r.b.Mul(r.b.Input(0), r.b.Input(0));
  const Values y = r.b.Add(x, r.b.Input(1));
  r.b.Output(0, r.b.Add(x, y));
  for (std::uint32_t k = 0; k < 4; ++k) V(x[k]).reg = 0, V(x[k]).component = V(y[k]).component = k;
  for (std::uint32_t k = 0; k < 4; ++k) V(y[k]).reg = 1;
  const std::vector<double> want = Run({1, 2, 3, 4}, {1, 1, 1, 1}, 4);
  EXPECT_EQ(Run({1, 2, 3, 4}, {1, 1, 1, 1}, 4, IrInterpreter::Mode::kPhysicalRegisters), want);
  for (std::uint32_t k = 0; k < 4; ++k) V(y[k]).reg = 0;
  EXPECT_NE(Run({1, 2, 3, 4}, {1, 1, 1, 1}, 4, IrInterpreter::Mode::kPhysicalRegisters), want);
}

// Hoisting: nothing on a target without texture phases; on one with them an
// independent read joins the read before it, when the temporaries fit; when
// they fit nowhere it gives up without a message.
TEST_F(GxlRegAssignCase, TextureReadsHoistWhileTheTemporariesFit) {
  struct Row {
    std::uint32_t capabilities, temporaries;
    HRESULT status;
    bool hoisted;
  };
  for (const Row& row : {Row{0, 8, S_FALSE, false}, Row{0x04000000, 8, S_OK, true}, Row{0x04000000, 0, S_OK, false}}) {
    AllocRun& r = Start(row.temporaries, row.capabilities, kOptionNoOptimisation | 0x10000);
    irkit::IrBuilder& b = r.b;
    const Values first = b.Sample(0x605, b.Sampler(0), 2, b.Input(0, 2));
    const Values scaled = b.Mul(first, b.Input(1));
    const Values second = b.Sample(0x605, b.Sampler(1), 2, b.Input(1, 2));
    b.Output(0, b.Add(scaled, second));
    ASSERT_EQ(r.program.PackVectors(), S_OK);
    ASSERT_EQ(r.program.ScheduleInstructions(), S_FALSE);  // levels only
    const auto listing = irtest::Listing(r.program);
    EXPECT_EQ(r.program.HoistTextureReads(), row.status);
    EXPECT_EQ(r.log.ErrorCount(), 0u);
    if (!row.hoisted) {
      EXPECT_EQ(irtest::Listing(r.program), listing);
    } else {
      EXPECT_EQ(r.program.Instruction(0)->Class(), 6u);
      EXPECT_EQ(r.program.Instruction(1)->Class(), 6u);
      EXPECT_EQ(r.program.CountTexturePhases(), 0u);
    }
  }
}

// Hoisting tries the arrangements that tie with the best found last first,
// the reference switch each as it comes: the same arrangements are kept, on
// programs of independent and dependent reads with few or many temporaries.
TEST(GxlHoisting, ReferenceSwitchKeepsTheSameArrangements) {
  std::uint32_t hoisted = 0;
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    std::vector<std::vector<std::uint32_t>> listings[2];
    for (int reference = 0; reference < 2; ++reference) {
      std::mt19937 rng(seed);
      ProfileLimits limits = PhaseLimits(2 + rng() % 7, rng() % 3 ? 0x04000000 : 0x08000000);
      limits.samplers = 16;
      AllocRun run(limits, kOptionNoOptimisation | 0x10000, 0xFFFF0200);
      irkit::IrBuilder& b = run.b;
      std::vector<Values> made{b.Input(0), b.Input(1)};
      const std::uint32_t reads = 3 + rng() % 12;
      for (std::uint32_t k = 0; k < reads; ++k) {
        // A read of an input or of something computed, then arithmetic on what there is.
        const Values& at = rng() % 3 ? made[rng() % 2] : made[rng() % made.size()];
        made.push_back(b.Sample(0x605, b.Sampler(k % 16), 2, Values(at.begin(), at.begin() + 2)));
        for (std::uint32_t a = rng() % 3; a-- > 0;) {
          const Values& x = made[rng() % made.size()];
          const Values& y = made[rng() % made.size()];
          const Values x2(x.begin(), x.begin() + 2), y2(y.begin(), y.begin() + 2);
          made.push_back(rng() % 2 ? b.Mul(x2, y2) : b.Add(x2, y2));
        }
      }
      Values sum(made.back().begin(), made.back().begin() + 2);
      for (std::size_t k = 2; k + 1 < made.size(); ++k) sum = b.Add(sum, Values(made[k].begin(), made[k].begin() + 2));
      b.Output(0, sum);
      ShaderProgram& p = run.program;
      ASSERT_EQ(p.PackVectors(), S_OK);
      ASSERT_EQ(p.ScheduleInstructions(), S_FALSE);  // levels only
      p.referenceSearches = reference != 0;
      const auto before = irtest::Listing(p);
      ASSERT_TRUE(SUCCEEDED(p.HoistTextureReads())) << "seed " << seed;
      // Behind each trial the bound answers, the assignment agrees; each
      // move's local count of phases is the full count.
      EXPECT_EQ(p.refutedFitProofs, 0u) << "seed " << seed;
      EXPECT_EQ(p.phaseCountMismatches, 0u) << "seed " << seed;
      EXPECT_EQ(p.reassignMismatches, 0u) << "seed " << seed;
      listings[reference] = irtest::Listing(p);
      if (reference) hoisted += listings[reference] != before;
    }
    ASSERT_EQ(listings[0], listings[1]) << "seed " << seed;
  }
  EXPECT_GT(hoisted, 25u);
}

// Merging register classes: each bank counts one past its highest register,
// where a value with no register yet counts for nothing (and keeps none),
// and its registers follow those of the banks before it.
TEST_F(GxlRegAssignCase, MergedBanksFollowEachOtherPastUnassignedValues) {
  AllocRun& r = Start(8);
  ShaderProgram& p = r.program;
  constexpr std::uint32_t kMark = 0x100000;  // a type bit only these banks have
  const std::uint32_t target = p.AddRegisterBank("m", 0x3, 0, 4);
  const std::uint32_t a = p.AddRegisterBank("x", 0x3 | kMark, 0, 4), b = p.AddRegisterBank("y", 0x3 | kMark, 0, 4),
                      c = p.AddRegisterBank("z", 0x3 | kMark | kBankRelative, 0, 4);
  struct Row {
    std::uint32_t bank, reg, merged;
  };
  const Row rows[] = {{a, 0, 0}, {a, 2, 2}, {a, kNoIndex, kNoIndex}, {b, kNoIndex, kNoIndex}, {c, kNoIndex, kNoIndex},
                      {c, 1, 4}, {c, 0, 3}};
  std::vector<std::uint32_t> values;
  for (const Row& row : rows) values.push_back(p.AddValue(row.bank, row.reg, 0, 0));
  ASSERT_EQ(p.MergeRegisterClass(target, 0x3 | kMark, 0), S_OK);
  for (std::size_t k = 0; k < std::size(rows); ++k) {
    EXPECT_EQ(V(values[k]).bank, target) << k;
    EXPECT_EQ(V(values[k]).reg, rows[k].merged) << k;
  }
  EXPECT_EQ(p.Bank(target)->registerCount, 5u);  // 3 + 0 + 2
  EXPECT_NE(p.Bank(target)->type & kBankRelative, 0u);
  for (std::uint32_t bank : {a, b, c}) EXPECT_EQ(p.Bank(bank)->word6, target);
}

}  // namespace
