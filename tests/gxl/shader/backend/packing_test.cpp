// Vector packing and the operand passes of the second phase: the whole
// sequence of second-phase passes on random programs against the
// interpreter, with every operand group and result checked to be one
// register after operands are legal, and the cases that decide the rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "../fail_alloc.h"
#include "ir_validation.h"
#include "limits_fixture.h"
#include "tests/support/test_util.h"

namespace {

using namespace gxl::shader;
using irkit::Values;

// Where one value lies.
struct Place {
  std::uint32_t bank, relative, reg;
  bool operator==(const Place&) const = default;
};
Place PlaceOf(const IrValue& v) { return {v.bank, v.relativeIndex, v.reg}; }

// Every operand group reads one register and every instruction writes at
// most four distinct components of one register. After literal packing on
// a target with fixed operands, the literals of a group may stand in
// several registers. Returns the first fault found, or "".
std::string AddressabilityFault(const ShaderProgram& p, bool literalsMaySplit) {
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.instructions[i];
    if (!inst || inst->word < 0x100000) continue;
    const std::string at = "instruction " + std::to_string(i) + " group " + std::to_string(inst->Group());
    if (inst->resultCount > 4) return at + ": more than four results";
    std::set<std::uint32_t> components;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue& v = *p.values[inst->results[r]];
      if (!(PlaceOf(v) == PlaceOf(*p.values[inst->results[0]]))) return at + ": results in two registers";
      if (v.component > 3 || !components.insert(v.component).second) return at + ": result components";
    }
    std::uint32_t* group;
    for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g) {
      bool literals = true;
      for (std::uint32_t k = 0; k < w; ++k)
        literals = literals && (p.banks[p.values[group[k]]->bank]->type & kBankLiteral);
      if (literals && literalsMaySplit) continue;
      for (std::uint32_t k = 0; k < w; ++k) {
        const IrValue& v = *p.values[group[k]];
        if (!(PlaceOf(v) == PlaceOf(*p.values[group[0]]))) return at + ": argument group in two registers";
        const bool unplacedLiteral = (p.banks[v.bank]->type & kBankLiteral) && v.reg == kNoIndex;
        if (!unplacedLiteral && v.component > 3) return at + ": argument component";
      }
    }
  }
  return "";
}

bool HasIdentityMove(const ShaderProgram& p) {
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.instructions[i];
    if (!inst || inst->word < 0x100000 || inst->Group() != kOpMove) continue;
    for (std::uint32_t k = 0; k < inst->resultCount; ++k) {
      const IrValue &r = *p.values[inst->results[k]], &a = *p.values[inst->arguments[k]];
      if (PlaceOf(r) == PlaceOf(a) && r.component == a.component && r.predicate == a.predicate &&
          r.predicateSense == a.predicateSense)
        return true;
    }
  }
  return false;
}

std::vector<std::uint32_t> Words(const ShaderProgram& p) {
  std::vector<std::uint32_t> words;
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction& inst = *p.instructions[i];
    words.push_back(inst.word);
    words.insert(words.end(), inst.arguments, inst.arguments + inst.argumentCount);
    words.insert(words.end(), inst.results, inst.results + inst.resultCount);
  }
  return words;
}

// Capability words, sampler limits and options of the second phase, one per seed in turn.
struct Setting {
  std::uint32_t capabilities, samplers, secondFlags, options;
};
constexpr Setting kSettings[] = {
    {0, 0, 0x200, 0},
    {cap::kDot2, 16, 0, 0},
    {cap::kOutputsByOrderedMove | cap::kDot2, 16, 0x20, 0},
    {0x2, 8, 0, 0},
    {0x6, 8, 0, 0},
    {0, 16, 0, kOptionNoOptimisation},
    {cap::kOutputsByOrderedMove, 0, 0x200, kOptionNoOptimisation},
};

TEST(GxlPackingSecondPhase, PassesKeepResultsAndLegalOperands) {
  const std::uint32_t kPrograms = nura::test::LongOrShare(2000, 200), kVectors = 2;
  const char* names[] = {"PackVectors",      "LegalizeOperands",    "RenameTemporaries(1)", "MergeCommonInstructions",
                         "ExpandOperations", "CombineInstructions", "RenameTemporaries(0)", "PackLiterals",
                         "CoalesceMoves",    "CanonicalizeOperands"};
  std::uint32_t changed[std::size(names)] = {};
  for (std::uint32_t seed = 1; seed <= kPrograms; ++seed) {
    const Setting& setting = kSettings[seed % std::size(kSettings)];
    ProfileLimits limits = irkit::RecordingTarget::Limits(setting.capabilities, setting.secondFlags);
    limits.samplers = setting.samplers;
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 16;
    shape.relativePercent = seed % 3 == 0 ? 10 : 0;
    irtest::ProgramRun before(limits, setting.options), run(limits, setting.options);
    const irkit::RandomProgram reference(before.program, seed, shape), generated(run.program, seed, shape);
    std::vector<std::vector<double>> want(kVectors);
    for (std::uint32_t v = 0; v < kVectors; ++v) ASSERT_TRUE(reference.Evaluate(before.program, v, want[v]));
    ShaderProgram& p = run.program;
    ASSERT_EQ(p.Optimize(), S_OK) << seed;

    const auto step = [&](std::uint32_t index) -> HRESULT {
      switch (index) {
        case 0:
          return p.PackVectors();
        case 1:
          return p.LegalizeOperands();
        case 2:
          return p.RenameTemporaries(1);
        case 3: {
          HRESULT hr = S_OK;
          for (std::uint32_t round = 0; round < 256 && (hr = p.MergeCommonInstructions(1)) == S_OK; ++round) {
          }
          return hr;
        }
        case 4:
          return p.ExpandOperations();
        case 5:
          return p.CombineInstructions();
        case 6:
          return p.RenameTemporaries(0);
        case 7:
          return p.PackLiterals();
        case 8:
          return p.CoalesceMoves();
        default: {
          HRESULT hr = p.CompactInstructions();
          if (SUCCEEDED(hr)) hr = p.RemoveUnusedValues();
          return SUCCEEDED(hr) ? p.CanonicalizeOperands() : hr;
        }
      }
    };
    for (std::uint32_t index = 0; index < std::size(names); ++index) {
      const std::string what = std::string(names[index]) + ", seed " + std::to_string(seed);
      const HRESULT hr = step(index);
      ASSERT_TRUE(SUCCEEDED(hr)) << what << " " << std::hex << hr;
      changed[index] += hr == S_OK;
      ASSERT_EQ(run.log.ErrorCount(), 0u) << what;
      irtest::ExpectOutputs(what, generated, p, want);
      if (HasFatalFailure()) return;
      if (index >= 1) {
        ASSERT_EQ(AddressabilityFault(p, index >= 7 && (setting.capabilities & 0x6)), "") << what;
      }
      if (index == 8) {
        ASSERT_FALSE(HasIdentityMove(p)) << what;
      }
    }
    const std::vector<std::uint32_t> canonical = Words(p);
    ASSERT_EQ(p.CanonicalizeOperands(), S_OK);
    ASSERT_EQ(Words(p), canonical) << "canonical order moved again, seed " << seed;
  }
  // Every pass had work on a share of the programs. Renaming again after
  // the first renaming, and copies between like components, are rare.
  for (std::uint32_t index : {0u, 1u, 2u, 4u, 5u, 7u, 9u}) EXPECT_GT(changed[index], kPrograms / 20) << names[index];
  EXPECT_GT(changed[8], kPrograms / 100) << names[8];
}

struct GxlPacking : irtest::TargetFixture {
  std::vector<const IrInstruction*> Instructions(std::uint32_t group) const {
    std::vector<const IrInstruction*> found;
    for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
      const IrInstruction* inst = program.Instruction(i);
      if (inst && inst->word >= 0x100000 && inst->Group() == group) found.push_back(inst);
    }
    return found;
  }
};

// A 16-component sum whose readers read four groups of four becomes four
// sums, each holding one reader's group.
TEST_F(GxlPacking, WideSumSplitsTheWayItIsRead) {
  Start();
  Values x;
  for (std::uint32_t p = 0; p < 16; ++p) x.push_back(b.Constant(p % 4, 4)[p / 4]);
  Values ones;
  for (std::uint32_t p = 0; p < 16; ++p) ones.push_back(b.Literal(p));
  const Values sum = b.Add(x, ones);
  for (std::uint32_t k = 0; k < 4; ++k) b.Output(k, {sum[k], sum[k + 4], sum[k + 8], sum[k + 12]});
  std::vector<std::vector<double>> before;
  for (std::uint32_t k = 0; k < 4; ++k) before.push_back(Run({1, 2, 3, 4}, 4, k, {5, 6, 7, 8}));
  ASSERT_EQ(program.PackVectors(), S_OK);
  const auto sums = Instructions(kOpAdd);
  ASSERT_EQ(sums.size(), 4u);
  std::set<std::set<std::uint32_t>> groups;
  for (const IrInstruction* s : sums) {
    ASSERT_EQ(s->Width(), 4u);
    groups.insert(std::set<std::uint32_t>(s->results, s->results + 4));
  }
  for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(groups.count({sum[k], sum[k + 4], sum[k + 8], sum[k + 12]}), 1u) << k;
  for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(Run({1, 2, 3, 4}, 4, k, {5, 6, 7, 8}), before[k]);
}

TEST_F(GxlPacking, ScalarOperationsSplitPerComponent) {
  Start();
  b.Output(0, b.Unary(kOpReciprocal, b.Input(0, 3)));
  ASSERT_EQ(program.PackVectors(), S_OK);
  const auto reciprocals = Instructions(kOpReciprocal);
  ASSERT_EQ(reciprocals.size(), 3u);
  for (const IrInstruction* r : reciprocals) EXPECT_EQ(r->Width(), 1u);
  EXPECT_EQ(Run({2, 4, 8, 0}, 3), (std::vector<double>{0.5, 0.25, 0.125}));
}

// Eight pairs over two registers on each side: two four-component dot
// products and one sum of them.
TEST_F(GxlPacking, EightPairDotProductSplitsPerRegister) {
  Start();
  const Values a = irkit::Concat(b.Input(0), b.Input(1)), c = irkit::Concat(b.Constant(0), b.Constant(1));
  b.Output(0, {b.Dot(a, c)});
  const std::vector<double> before = Run({1, 2, 3, 4}, 1, 0, {5, 6, 7, 8});
  ASSERT_EQ(program.PackVectors(), S_OK);
  const auto dots = Instructions(kOpDot);
  ASSERT_EQ(dots.size(), 2u);
  for (const IrInstruction* d : dots) EXPECT_EQ(d->Width(), 4u);
  ASSERT_EQ(Instructions(kOpAdd).size(), 1u);
  EXPECT_EQ(Instructions(kOpAdd)[0]->Width(), 1u);
  EXPECT_EQ(Run({1, 2, 3, 4}, 1, 0, {5, 6, 7, 8}), before);
  EXPECT_EQ(before, (std::vector<double>{0 + 2 + 6 + 12 + 50 + 66 + 84 + 104}));
}

TEST_F(GxlPacking, WritesToTwoOutputRegistersSplit) {
  Start();
  const Values x = b.Input(0, 4);
  const Values out = irkit::Concat(b.Register(StandardBank::Outputs, 0, 2), b.Register(StandardBank::Outputs, 1, 2));
  IrInstruction& move = *program.Instruction(program.AddInstruction(IrWord(kOpMove, 4), kNoIndex, kNoIndex));
  std::copy(x.begin(), x.end(), move.arguments);
  std::copy(out.begin(), out.end(), move.results);
  ASSERT_EQ(program.PackVectors(), S_OK);
  const auto moves = Instructions(kOpMove);
  ASSERT_EQ(moves.size(), 2u);
  for (const IrInstruction* m : moves) {
    ASSERT_EQ(m->Width(), 2u);
    EXPECT_EQ(V(m->results[0]).reg, V(m->results[1]).reg);
  }
  EXPECT_EQ(Run({1, 2, 3, 4}, 2, 1), (std::vector<double>{3, 4}));
}

TEST_F(GxlPacking, MoveFromTwoConstantRegistersSplits) {
  Start();
  const std::uint32_t x = b.Constant(0, 1)[0], y = b.Constant(1, 2)[1];
  const Values copy = b.Move({x, y});
  b.Output(0, b.Add(copy, b.Input(0, 2)));
  ASSERT_EQ(program.PackVectors(), S_OK);
  ASSERT_EQ(program.LegalizeOperands(), S_OK);
  const auto moves = Instructions(kOpMove);
  std::uint32_t fromConstants = 0;
  for (const IrInstruction* m : moves) {
    if (V(m->arguments[0]).bank != Bank(StandardBank::FloatConstants)) continue;
    ++fromConstants;
    EXPECT_EQ(m->Width(), 1u);
  }
  EXPECT_EQ(fromConstants, 2u);
  EXPECT_EQ(AddressabilityFault(program, false), "");
  EXPECT_EQ(Run({1, 2, 0, 0}, 2), (std::vector<double>{1, 13}));
}

// A group whose components are linear in one register is rebuilt from it;
// a product of values from two registers is split per register.
TEST_F(GxlPacking, GroupsRebuiltFromOneRegisterOrSplit) {
  Start();
  const Values x = b.Input(0, 2);
  const Values negated = b.Unary(kOpNegate, {x[1]});
  const Values scaled = b.Mul({x[0]}, b.Literals({3}));
  const Values shifted = b.Add(scaled, b.Literals({0.5}));
  // One lit-style operation reads (x.x * 3 + 0.5, -x.y, 2, x.x): rebuilt.
  const std::uint32_t lit = program.AddInstruction(IrWord(kOpLit, 4), kNoIndex, kNoIndex);
  const Values group{shifted[0], negated[0], b.Literal(2), x[0]};
  const Values results = b.Register(StandardBank::Temporaries, 9, 4);
  std::copy(group.begin(), group.end(), program.Instruction(lit)->arguments);
  std::copy(results.begin(), results.end(), program.Instruction(lit)->results);
  b.Output(0, b.Mul(results, irkit::Concat(b.Input(1, 2), b.Input(0, 2))));
  const std::vector<double> before = Run({0.5, 0.25, 0, 0}, 4, 0, {2, 3, 0, 0});
  ASSERT_EQ(program.PackVectors(), S_OK);
  // A temporary without a register does not make the next free register wrap to 0.
  program.AddValue(Bank(StandardBank::Temporaries), kNoIndex, kNoIndex, 0.0);
  std::uint32_t highest = 0;
  for (std::uint32_t i = 0; i < program.values.Count(); ++i)
    if (V(i).bank == Bank(StandardBank::Temporaries) && V(i).reg != kNoIndex) highest = std::max(highest, V(i).reg);
  ASSERT_EQ(program.LegalizeOperands(), S_OK);
  EXPECT_EQ(AddressabilityFault(program, false), "");
  ASSERT_EQ(Instructions(kOpLit).size(), 1u);
  EXPECT_EQ(V(Instructions(kOpLit)[0]->arguments[0]).reg, highest + 1);
  EXPECT_EQ(Instructions(kOpMultiply).size(), 3u);  // x.x * 3 rebuilt once, the product split in two
  EXPECT_EQ(Run({0.5, 0.25, 0, 0}, 4, 0, {2, 3, 0, 0}), before);
}

TEST_F(GxlPacking, CanonicalOrderPutsTheEarlierOperandFirst) {
  Start();
  const Values early = b.Mul(b.Input(0, 2), b.Input(0, 2));
  const Values late = b.Add(b.Input(1, 2), b.Input(1, 2));
  const Values sum = b.Add(late, early);
  b.Output(0, sum);
  ASSERT_EQ(program.PackVectors(), S_OK);
  ASSERT_EQ(program.CanonicalizeOperands(), S_OK);
  const IrInstruction& add = *program.Instruction(V(sum[0]).definingPosition);
  EXPECT_EQ(add.arguments[0], early[0]);
  EXPECT_EQ(add.arguments[2], late[0]);
  EXPECT_EQ(Run({1, 2, 0, 0}, 2, 0, {3, 4, 0, 0}), (std::vector<double>{7, 12}));
}

// After a copy between registers later readers read the copy; a copy onto
// its own register component goes.
TEST_F(GxlPacking, CopiesCoalesce) {
  Start();
  const Values x = b.Mul(b.Input(0, 2), b.Input(0, 2));
  const Values copy = b.Move(x);
  const Values onto = b.Move(copy);
  const Values later = b.Add(x, onto);
  b.Output(0, later);
  ASSERT_EQ(program.PackVectors(), S_OK);
  for (std::uint32_t k = 0; k < 2; ++k) {
    V(onto[k]).reg = V(copy[k]).reg;
    V(onto[k]).component = V(copy[k]).component;
  }
  ASSERT_EQ(program.CoalesceMoves(), S_OK);
  const IrInstruction& sum = *program.Instruction(program.instructions.Count() - 2);
  EXPECT_EQ(sum.arguments[0], copy[0]);  // x read as its copy
  EXPECT_EQ(sum.arguments[2], copy[0]);  // the copy onto itself is gone
  EXPECT_FALSE(HasIdentityMove(program));
  EXPECT_EQ(Run({3, 4, 0, 0}, 2), (std::vector<double>{18, 32}));
}

// Results read in a group together with another instruction's keep their
// register; the others move to registers of their own from component 0.
TEST_F(GxlPacking, RenamingLeavesSharedRegistersAlone) {
  Start();
  const Values a = b.Mul(b.Input(0, 1), b.Input(0, 1));
  const Values c = b.Add(b.Input(0, 1), b.Input(1, 1));
  const Values d = b.Add(b.Input(1, 2), b.Input(1, 2));
  b.Output(0, b.Mul({a[0], c[0]}, d));
  ASSERT_EQ(program.PackVectors(), S_OK);
  V(c[0]).reg = V(a[0]).reg;  // a and c share one register, read as one group
  V(c[0]).component = 1;
  V(d[0]).component = 2;
  V(d[1]).component = 3;
  const std::uint32_t shared = V(a[0]).reg;
  ASSERT_EQ(program.RenameTemporaries(1), S_OK);
  EXPECT_EQ(V(a[0]).reg, shared);
  EXPECT_EQ(V(c[0]).reg, shared);
  EXPECT_EQ(V(d[0]).component, 0u);
  EXPECT_EQ(V(d[1]).component, 1u);
  EXPECT_NE(V(d[0]).reg, shared);
  EXPECT_EQ(Run({2, 0, 0, 0}, 2, 0, {3, 4, 0, 0}), (std::vector<double>{4 * 6, 5 * 8}));

  // Renaming only results that leave component 0 unused keeps their components.
  V(d[0]).component = 2;
  V(d[1]).component = 3;
  const std::uint32_t before = V(d[0]).reg;
  ASSERT_EQ(program.RenameTemporaries(0), S_OK);
  EXPECT_NE(V(d[0]).reg, before);
  EXPECT_EQ(V(d[0]).component, 2u);
  EXPECT_EQ(V(a[0]).reg, shared);
}

}  // namespace

namespace {

// The second-phase passes in order; the first failure is returned.
HRESULT SecondPhase(ShaderProgram& p) {
  HRESULT hr;
  if (FAILED(hr = p.PackVectors()) || FAILED(hr = p.LegalizeOperands()) || FAILED(hr = p.RenameTemporaries(1)) ||
      FAILED(hr = p.MergeCommonInstructions(1)) || FAILED(hr = p.ExpandOperations()) ||
      FAILED(hr = p.CombineInstructions()) || FAILED(hr = p.RenameTemporaries(0)) || FAILED(hr = p.PackLiterals()) ||
      FAILED(hr = p.CoalesceMoves()) || FAILED(hr = p.CompactInstructions()) || FAILED(hr = p.RemoveUnusedValues()) ||
      FAILED(hr = p.CanonicalizeOperands()))
    return hr;
  return S_OK;
}

TEST(GxlPackingSecondPhase, EveryFailedAllocationIsOutOfMemory) {
  ProfileLimits limits = irkit::RecordingTarget::Limits(cap::kOutputsByOrderedMove);
  limits.samplers = 8;
  irkit::RandomShape shape;
  shape.steps = 60;
  std::uint64_t total;
  {
    irtest::ProgramRun run(limits);
    const irkit::RandomProgram generated(run.program, 11, shape);
    ASSERT_EQ(run.program.Optimize(), S_OK);
    shadertest::FailNthAllocation(~std::uint64_t{0});
    ASSERT_EQ(SecondPhase(run.program), S_OK);
    total = shadertest::AllocationsCounted();
    shadertest::FailNthAllocation(0);
  }
  ASSERT_GT(total, 20u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    irtest::ProgramRun run(limits);
    const irkit::RandomProgram generated(run.program, 11, shape);
    ASSERT_EQ(run.program.Optimize(), S_OK);
    shadertest::FailNthAllocation(n);
    const HRESULT hr = SecondPhase(run.program);
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << n;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n << " of " << total;
  }
}

}  // namespace
