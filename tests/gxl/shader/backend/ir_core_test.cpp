// The IR records: counts derived from operation words, operand groups, list
// growth, literal properties, the node pools and the heap sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../fail_alloc.h"
#include "gxl/shader/backend/ir/heap_sort.h"
#include "gxl/shader/core/syntax_tree.h"
#include "ir_fixture.h"

namespace {

using namespace gxl::shader;
using irtest::IrFixture;
using GxlIrCore = IrFixture;

bool IsInline(const IrInstruction& inst, const std::uint32_t* array) {
  const auto* begin = reinterpret_cast<const char*>(&inst);
  const auto* p = reinterpret_cast<const char*>(array);
  return p >= begin && p < begin + sizeof inst;
}

TEST_F(GxlIrCore, CountsDerivedFromTheWord) {
  struct Case {
    std::uint32_t word, arguments, results;  // given counts
    std::uint32_t wantArguments, wantResults;  // kNoIndex: the instruction is refused
  };
  const Case cases[] = {
      {0x20500004, kNoIndex, kNoIndex, 8, 4},
      {0x50000003, kNoIndex, kNoIndex, 6, 1},
      {0x50000003, kNoIndex, 3, 6, 3},
      {0x50200004, kNoIndex, kNoIndex, 4, 1},
      {0x60B00000, kNoIndex, kNoIndex, 12, 4},
      {0x00000007, kNoIndex, kNoIndex, 0, 0},
      {0x30000002, 6, 2, 6, 2},
      {0x70000000, kNoIndex, kNoIndex, kNoIndex, kNoIndex},  // class 7 needs given counts
      {0x70000000, 3, kNoIndex, kNoIndex, kNoIndex},
      {0x70000000, 3, 5, 3, 5},
      {0x10000004, 3, kNoIndex, kNoIndex, kNoIndex},  // differs from the derived 4
      {0x10000004, kNoIndex, 5, kNoIndex, kNoIndex},
  };
  for (const Case& c : cases) {
    const std::uint32_t i = program.AddInstruction(c.word, c.arguments, c.results);
    SCOPED_TRACE(testing::Message() << std::hex << c.word);
    if (c.wantArguments == kNoIndex) {
      EXPECT_EQ(i, kNoIndex);
      continue;
    }
    ASSERT_NE(i, kNoIndex);
    const IrInstruction& inst = *program.Instruction(i);
    EXPECT_EQ(inst.argumentCount, c.wantArguments);
    EXPECT_EQ(inst.resultCount, c.wantResults);
    EXPECT_EQ(IsInline(inst, inst.arguments), c.wantArguments <= 8);
    EXPECT_EQ(IsInline(inst, inst.results), c.wantResults <= 4);
    EXPECT_TRUE(std::all_of(inst.arguments, inst.arguments + inst.argumentCount, [](auto v) { return v == kNoIndex; }));
  }
}

// The sample operations against the table of texture functions: the
// sampler repeated over the width, then one coordinate group, or three with
// gradients; only plain, projected and biased samples take derivatives.
TEST_F(GxlIrCore, SampleCountsAndDerivativesFollowTheTextureFunctions) {
  const std::uint32_t widths[4] = {2, 2, 3, 3};  // 1D, 2D, 3D, cube (plain and gradient forms)
  for (std::uint32_t group = 0x600; group <= 0x613; ++group) {
    const std::uint32_t kind = (group - 0x600) / 5, mode = (group - 0x600) % 5;  // plain, grad, proj, bias, lod
    const std::uint32_t w = mode <= 1 ? widths[kind] : 4, groups = mode == 1 ? 3 : 1;
    const std::uint32_t i = program.AddInstruction(IrWord(group, w), kNoIndex, kNoIndex);
    ASSERT_NE(i, kNoIndex) << std::hex << group;
    EXPECT_EQ(program.Instruction(i)->argumentCount, w * (1 + groups)) << std::hex << group;
    EXPECT_EQ(program.Instruction(i)->ResultGroupWidth(), 4u);
    EXPECT_EQ(IsFlowControlOperation(IrWord(group, w)), mode == 0 || mode == 2 || mode == 3) << std::hex << group;
  }
}

TEST_F(GxlIrCore, OperandGroups) {
  IrInstruction& add = *program.Instruction(program.AddInstruction(0x20400004, kNoIndex, kNoIndex));
  std::uint32_t* group = nullptr;
  EXPECT_EQ(add.ArgumentGroup(1, &group), 4u);
  EXPECT_EQ(group, add.arguments + 4);
  EXPECT_EQ(add.ArgumentGroup(2, &group), 0u);
  EXPECT_EQ(group, nullptr);
  EXPECT_EQ(add.ArgumentGroupCount(), 2u);
  EXPECT_EQ(add.ResultGroup(0, &group), 4u);
  EXPECT_EQ(add.ResultGroup(1, &group), 0u);

  IrInstruction& dot = *program.Instruction(program.AddInstruction(0x50000003, kNoIndex, 2));
  EXPECT_EQ(dot.ResultGroup(0, &group), 2u);  // the whole result count
  IrInstruction& noise = *program.Instruction(program.AddInstruction(0x50200003, kNoIndex, kNoIndex));
  EXPECT_EQ(noise.ResultGroupWidth(), 1u);
  // A width of 0 has no groups rather than a division by zero.
  IrInstruction& custom = *program.Instruction(program.AddInstruction(0x70300000, 5, 1));
  EXPECT_EQ(custom.ArgumentGroupCount(), 0u);
}

TEST_F(GxlIrCore, ListsDoubleWhenFull) {
  const std::uint32_t banks = program.banks.Count();
  EXPECT_EQ(program.banks.Capacity(), 32u);  // the 18 standard banks grew it once
  EXPECT_EQ(program.values.Capacity(), 0u);
  for (std::uint32_t i = 0; i < 1025; ++i) {
    EXPECT_EQ(program.values.Capacity(), i < 1 ? 0u : i <= 1024 ? 1024u : 2048u);
    ASSERT_EQ(program.AddValue(Bank(StandardBank::Temporaries), kNoIndex, kNoIndex, 0.0), i);
  }
  EXPECT_EQ(program.values.Capacity(), 2048u);
  for (std::uint32_t i = 0; i < 257; ++i) ASSERT_EQ(program.AddInstruction(0x10000001, kNoIndex, kNoIndex), i);
  EXPECT_EQ(program.instructions.Capacity(), 512u);
  EXPECT_EQ(program.banks.Count(), banks);
  EXPECT_EQ(program.Value(5000), nullptr);
}

TEST_F(GxlIrCore, LiteralProperties) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double x;
    std::uint32_t flags;
  } cases[] = {
      {1.0, 0x80 | 0x1 | 0x2 | 0x4 | 0x10}, {-0.5, 0x80 | 0x8 | 0x10}, {3.0000001, 0x80 | 0x2 | 0x4},
      {0.0, 0x9F}, {-0.0, 0x9F}, {std::nan(""), 0x80}, {inf, 0x84}, {-inf, 0x88},
      {3e9, 0x86},  // whole although it has no 32-bit form
      {-3e9, 0x8A}, {0.9999995, 0x94},  // truncation, not rounding: just below 1 is not whole
  };
  for (const auto& c : cases) {
    const std::uint32_t v = program.AddValue(Bank(StandardBank::Literals), kNoIndex, kNoIndex, c.x);
    EXPECT_EQ(program.Value(v)->flags, c.flags) << c.x;
    EXPECT_EQ(program.Value(program.AddValueCopy(program.Value(v)))->flags, c.flags) << c.x;
  }
  // Other banks, and relatively addressed literals, get no properties.
  EXPECT_EQ(program.Value(program.AddValue(Bank(StandardBank::FloatConstants), 0, 0, 1.0))->flags, 0u);
  IrValue relative;
  relative.Init(Bank(StandardBank::Literals), 0, 0, 1.0);
  relative.relativeIndex = 0;
  EXPECT_EQ(program.Value(program.AddValueCopy(&relative))->flags, 0u);
}

TEST_F(GxlIrCore, TruncToInt32AsX86) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double x;
    std::int32_t want;
  } cases[] = {{-1.5, -1},          {2.99, 2},           {2147483647.9, INT32_MAX}, {-2147483648.9, INT32_MIN},
               {2147483648.0, INT32_MIN}, {3e9, INT32_MIN}, {-3e9, INT32_MIN},   {std::nan(""), INT32_MIN},
               {inf, INT32_MIN},    {-inf, INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(TruncToInt32(c.x), c.want) << c.x;
}

TEST_F(GxlIrCore, RegisterKeys) {
  constexpr RegisterKeyFormat keys;
  EXPECT_EQ(keys.Pack(3, 5), 0x00050003u);
  EXPECT_EQ(keys.Type(keys.Pack(0x12345, 0xABCD)), 0x2345u);
  EXPECT_EQ(keys.Index(keys.Pack(0x12345, 0xABCD)), 0xABCDu);
}

TEST_F(GxlIrCore, FreedNodesAreReusedUntilThePoolIsBoundAgain) {
  const std::uint32_t v = program.AddValue(Bank(StandardBank::Temporaries), 1, 2, 0.0);
  IrValue* node = program.Value(v);
  delete program.values.Slot(v);
  program.values.Slot(v) = nullptr;
  EXPECT_EQ(program.Value(program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0)), node);
  const std::uint32_t i = program.AddInstruction(0x10000001, kNoIndex, kNoIndex);
  IrInstruction* inst = program.Instruction(i);
  program.instructions.Slot(i)->Destroy(1);
  program.instructions.Slot(i) = nullptr;
  // Binding empties the free lists: the next nodes are new.
  AttachInstructionPool(&pages);
  AttachValuePool(&pages);
  EXPECT_NE(program.Instruction(program.AddInstruction(0x10000001, kNoIndex, kNoIndex)), inst);
  const std::uint32_t w = program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0);
  IrValue* freed = program.Value(w);
  delete program.values.Slot(w);
  program.values.Slot(w) = nullptr;
  AttachValuePool(&pages);
  EXPECT_NE(program.Value(program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0)), freed);
}

TEST_F(GxlIrCore, AFailedAppendGivesTheNodeBack) {
  for (std::uint32_t i = 0; i < 1024; ++i) program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0);
  IrValue* const node = program.Value(5);
  delete program.values.Slot(5);
  program.values.Slot(5) = nullptr;
  shadertest::FailNextAllocation();  // growing the full list
  EXPECT_EQ(program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0), kNoIndex);
  EXPECT_EQ(program.values.Count(), 1024u);
  // The refused value went back to the free list.
  EXPECT_EQ(program.Value(program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0)), node);
}

TEST_F(GxlIrCore, CopiesOwnTheirOperands) {
  const std::uint32_t i = program.AddInstruction(0x60B00003, kNoIndex, kNoIndex);
  IrInstruction& source = *program.Instruction(i);
  for (std::uint32_t k = 0; k < 12; ++k) source.arguments[k] = k;
  source.orderKey = 7;
  const std::uint32_t j = program.AddInstructionCopy(&source);
  ASSERT_NE(j, kNoIndex);
  IrInstruction& copy = *program.Instruction(j);
  ASSERT_NE(copy.arguments, source.arguments);
  EXPECT_TRUE(std::equal(copy.arguments, copy.arguments + 12, source.arguments));
  EXPECT_EQ(copy.orderKey, 7);
  copy.arguments[3] = 99;
  EXPECT_EQ(source.arguments[3], 3u);
  EXPECT_EQ(copy.CopyFrom(nullptr), E_FAIL);
  EXPECT_EQ(program.AddInstructionCopy(nullptr), kNoIndex);
}

// --- Heap sort --------------------------------------------------------------------

std::int32_t ByKey(std::uint32_t a, std::uint32_t b, const void* keys) {
  const auto& k = *static_cast<const std::vector<int>*>(keys);
  return (k[a] > k[b]) - (k[a] < k[b]);
}

std::int32_t Arbitrary(std::uint32_t, std::uint32_t, const void* rng) {
  return static_cast<std::int32_t>((*static_cast<std::mt19937*>(const_cast<void*>(rng)))() % 3) - 1;
}

// The heap sort as described: built from the middle down, each sift
// taking the larger child and stopping at the first that does not order
// after the moving element. Ties must come out in its order.
void TopDownHeapSort(std::vector<std::uint32_t>& a, const std::vector<int>& keys) {
  auto sift = [&](std::size_t i, std::size_t end) {
    const std::uint32_t moving = a[i];
    for (std::size_t child; (child = 2 * i + 1) < end; i = child) {
      if (child + 1 < end && ByKey(a[child + 1], a[child], &keys) > 0) ++child;
      if (ByKey(a[child], moving, &keys) < 1) break;
      a[i] = a[child];
    }
    a[i] = moving;
  };
  for (std::size_t start = a.size() / 2; start-- > 0;) sift(start, a.size());
  for (std::size_t end = a.size(); end-- > 1;) {
    std::swap(a[0], a[end]);
    sift(0, end);
  }
}

TEST(GxlIrCoreSort, TenThousandRandomArrays) {
  std::mt19937 rng(35);
  for (int round = 0; round < 10000; ++round) {
    const std::uint32_t n = rng() % 100;
    std::vector<int> keys(n + 1);
    for (int& k : keys) k = static_cast<int>(rng() % (n / 4 + 2));  // many ties
    std::vector<std::uint32_t> indices(n);
    for (std::uint32_t& i : indices) i = rng() % (n + 1);
    // Plain indexes: exactly std::sort's order.
    std::vector<std::uint32_t> plain = indices, reference = indices;
    SortIndicesByComparator(CompareIndexes, plain.data(), n, nullptr);
    std::sort(reference.begin(), reference.end());
    ASSERT_EQ(plain, reference);
    // By key with ties: ordered, and the same multiset.
    std::vector<std::uint32_t> byKey = indices;
    SortIndicesByComparator(ByKey, byKey.data(), n, &keys);
    ASSERT_TRUE(std::is_sorted(byKey.begin(), byKey.end(), [&](auto a, auto b) { return keys[a] < keys[b]; }));
    std::vector<std::uint32_t> described = indices;
    TopDownHeapSort(described, keys);
    ASSERT_EQ(byKey, described);
    std::sort(byKey.begin(), byKey.end());
    ASSERT_EQ(byKey, reference);
    // No ordering at all: still a permutation, nothing written outside.
    std::vector<std::uint32_t> chaos = indices;
    SortIndicesByComparator(Arbitrary, chaos.data(), n, &rng);
    std::sort(chaos.begin(), chaos.end());
    ASSERT_EQ(chaos, reference);
  }
}

// Sorting keys packed beside their index (as common-value merging does)
// must leave the order the index sort with a key comparator leaves, ties
// included, since later merging takes the first of each run of equal keys.
TEST(GxlIrCoreSort, PackedKeysKeepTheIndexSortsOrder) {
  std::mt19937 rng(36);
  for (int round = 0; round < 2000; ++round) {
    const std::uint32_t n = rng() % 300;
    std::vector<int> keys(n);
    for (int& k : keys) k = static_cast<int>(rng() % (round % 3 == 0 ? 2 : n / 8 + 1));
    std::vector<std::uint32_t> order(n);
    std::vector<std::uint64_t> packed(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      order[i] = i;
      packed[i] = std::uint64_t(keys[i]) << 32 | i;
    }
    SortIndicesByComparator(ByKey, order.data(), n, &keys);
    HeapSortBy(packed.data(), n,
               [](std::uint64_t a, std::uint64_t b) { return (a >> 32 > b >> 32) - (a >> 32 < b >> 32); });
    for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(order[i], static_cast<std::uint32_t>(packed[i])) << round;
  }
}

TEST_F(GxlIrCore, DebugOrderTiesOnCreationNotAddress) {
  SetCurrentPool(&pages);
  SourceToken name;
  name.kind = kTokenIdentifier;
  name.value.text = "v";
  auto* first = new DeclarationNode(kDeclVariable, new TokenNode(name), nullptr, nullptr);
  auto* second = new DeclarationNode(kDeclVariable, new TokenNode(name), nullptr, nullptr);
  SetCurrentPool(nullptr);
  ASSERT_TRUE(first && second);
  EXPECT_LT(first->serial, second->serial);
  std::swap(first->serial, second->serial);  // now the first-made declaration sorts last
  std::vector<std::uint32_t> order;
  for (DeclarationNode* d : {first, second, first}) {
    order.push_back(program.AddValue(Bank(StandardBank::Temporaries), 0, 0, 0.0));
    program.Value(order.back())->declaration = d;
  }
  SortIndicesByComparator(CompareDebugValues, order.data(), 3, &program);
  EXPECT_EQ(program.Value(order[0])->declaration, second);
  EXPECT_EQ(program.Value(order[2])->declaration, first);
}

}  // namespace
