// The expression matcher on hand-built trees: the pattern tables' shape,
// strict and relaxed passes, operand exchange, captures aligned with the
// root's components, negated reads and the exclusivity of inner results.
#include <set>

#include "select_fixture.h"

namespace selecttest {
namespace {

class GxlSelectMatch : public SelectTest {
 protected:
  void SetUp() override {
    Make(TestTarget::kVs30);
    b = std::make_unique<IrBuilder>(*target);
    for (std::uint32_t r = 0; r < 3; ++r) in[r] = b->Input(r);
  }
  // Matches `pattern` at the last instruction of `group` on fresh use analysis.
  HRESULT MatchAt(std::uint32_t group, std::uint32_t pattern, bool relaxed, std::uint32_t maxWidth = 4) {
    EXPECT_EQ(target->ResetSelectionState(), S_OK);
    list.count = 0;
    captures.Clear();
    return MatchExpressionPattern(*target, Find(*target, group), Pattern(pattern), list, captures,
                                  ComponentMap::Identity(), maxWidth, relaxed);
  }
  Values Sub(std::uint32_t r, std::uint32_t n) const { return Values(in[r].begin(), in[r].begin() + n); }
  Values Capture(std::uint32_t k, std::uint32_t n) const { return Values(captures.slot[k], captures.slot[k] + n); }

  std::unique_ptr<IrBuilder> b;
  Values in[3];
  MatchedList list;
  Captures captures;
};

TEST_F(GxlSelectMatch, PatternTablesAreTrees) {
  for (std::uint32_t number = 1; number <= kPatternCount; ++number) {
    const ExpressionPattern* p = Pattern(number);
    std::uint32_t end = 0;
    while (p[end].operation != 0) ++end;
    std::multiset<std::uint32_t> children;
    std::set<std::uint32_t> slots;
    for (std::uint32_t i = 0; i < end; ++i) {
      EXPECT_EQ(p[i].node, i) << "pattern " << number;
      EXPECT_TRUE(p[i].operandCount >= 1 && p[i].operandCount <= 3) << "pattern " << number;
      EXPECT_TRUE(p[i].swapCount == 0 || p[i].operandCount == 2) << "pattern " << number;
      EXPECT_TRUE(p[i].binding == 0 || (p[i].binding == 0x80000 && i > 0)) << "pattern " << number;
      for (std::uint32_t k = 0; k < p[i].operandCount; ++k) {
        const std::uint32_t o = p[i].operand[k];
        if (o >= kCaptureBase) {
          EXPECT_LT(o - kCaptureBase, kCaptureSlots) << "pattern " << number;
          EXPECT_TRUE(slots.insert(o).second) << "pattern " << number << " captures slot " << o - 16 << " twice";
        } else {
          EXPECT_TRUE(o > i && o < end) << "pattern " << number << " record " << i;
          children.insert(o);
        }
      }
    }
    EXPECT_EQ(p[end].node, end) << "pattern " << number;
    for (std::uint32_t i = 1; i < end; ++i) EXPECT_EQ(children.count(i), 1u) << "pattern " << number << " node " << i;
    // The combining patterns record their capture count at the end.
    if (number <= 8 || number == 52 || number == 53) {
      EXPECT_EQ(p[end].operandCount, slots.size()) << "pattern " << number;
    }
  }
}

TEST_F(GxlSelectMatch, CapturesFollowTheRootsComponents) {
  struct Row {
    const char* what;
    bool swapped;  // the product on the right of the add
  };
  for (const Row& row : {Row{"mul + c", false}, Row{"c + mul", true}}) {
    SetUp();
    const Values m = b->Mul(Sub(0, 3), Sub(1, 3));
    const Values sum = row.swapped ? b->Add(Sub(2, 3), m) : b->Add(m, Sub(2, 3));
    ASSERT_EQ(MatchAt(kOpAdd, 1, false), S_OK) << row.what;
    EXPECT_EQ(Capture(0, 3), Sub(0, 3)) << row.what;
    EXPECT_EQ(Capture(1, 3), Sub(1, 3)) << row.what;
    EXPECT_EQ(Capture(2, 3), Sub(2, 3)) << row.what;
    EXPECT_EQ(captures.slot[0][3], kNoIndex) << row.what;
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.position[0], Find(*target, kOpMultiply));
    EXPECT_EQ(list.position[1], Find(*target, kOpAdd));
    (void)sum;
  }
  // The add reads the product's components crossed: the captures cross with it.
  SetUp();
  const Values m = b->Mul(Sub(0, 2), Sub(1, 2));
  b->Add({m[1], m[0]}, Sub(2, 2));
  ASSERT_EQ(MatchAt(kOpAdd, 1, false), S_OK);
  EXPECT_EQ(Capture(0, 2), (Values{in[0][1], in[0][0]}));
  EXPECT_EQ(Capture(2, 2), Sub(2, 2));
}

TEST_F(GxlSelectMatch, OrderNegationAndWidth) {
  struct Row {
    const char* what;
    std::function<void(IrBuilder&, const Values*)> build;
    std::uint32_t pattern;
    bool relaxed;
    std::uint32_t maxWidth;
    HRESULT want;
  };
  const auto x = [](const Values* in, std::uint32_t r, std::uint32_t n) {
    return Values(in[r].begin(), in[r].begin() + n);
  };
  const Row rows[] = {
      {"add(add) is pattern 3",
       [&](IrBuilder& b, const Values* in) { b.Add(b.Add(x(in, 0, 1), x(in, 1, 1)), x(in, 2, 1)); }, 3, false, 4, S_OK},
      {"add(c, add) is not pattern 3",
       [&](IrBuilder& b, const Values* in) { b.Add(x(in, 2, 1), b.Add(x(in, 0, 1), x(in, 1, 1))); }, 3, false, 4,
       S_FALSE},
      {"add(c, add) is pattern 5",
       [&](IrBuilder& b, const Values* in) { b.Add(x(in, 2, 1), b.Add(x(in, 0, 1), x(in, 1, 1))); }, 5, false, 4, S_OK},
      {"a negated product is pattern 2",
       [&](IrBuilder& b, const Values* in) {
         b.Add(Negated(b.Program(), b.Mul(x(in, 0, 2), x(in, 1, 2))), x(in, 2, 2));
       },
       2, false, 4, S_OK},
      {"a negated product is not pattern 1",
       [&](IrBuilder& b, const Values* in) {
         b.Add(Negated(b.Program(), b.Mul(x(in, 0, 2), x(in, 1, 2))), x(in, 2, 2));
       },
       1, false, 4, S_FALSE},
      {"a plain product is not pattern 2",
       [&](IrBuilder& b, const Values* in) { b.Add(b.Mul(x(in, 0, 2), x(in, 1, 2)), x(in, 2, 2)); }, 2, false, 4,
       S_FALSE},
      {"wider than the limit, strict",
       [&](IrBuilder& b, const Values* in) { b.Add(b.Mul(x(in, 0, 2), x(in, 1, 2)), x(in, 2, 2)); }, 1, false, 1,
       S_FALSE},
      {"wider than the limit, relaxed",
       [&](IrBuilder& b, const Values* in) { b.Add(b.Mul(x(in, 0, 2), x(in, 1, 2)), x(in, 2, 2)); }, 1, true, 1, S_OK},
      {"a product read in part, strict",
       [&](IrBuilder& b, const Values* in) { b.Add({b.Mul(x(in, 0, 2), x(in, 1, 2))[0]}, x(in, 2, 1)); }, 1, false, 4,
       S_FALSE},
      {"a product read in part, relaxed",
       [&](IrBuilder& b, const Values* in) { b.Add({b.Mul(x(in, 0, 2), x(in, 1, 2))[0]}, x(in, 2, 1)); }, 1, true, 4,
       S_OK},
  };
  for (const Row& row : rows) {
    SetUp();
    row.build(*b, in);
    EXPECT_EQ(MatchAt(kOpAdd, row.pattern, row.relaxed, row.maxWidth), row.want) << row.what;
  }
}

TEST_F(GxlSelectMatch, InnerResultsReadElsewhere) {
  // A product also read by a third instruction: only the relaxed pass matches.
  const Values m = b->Mul(Sub(0, 2), Sub(1, 2));
  b->Add(m, Sub(2, 2));
  b->Output(0, m);
  EXPECT_EQ(MatchAt(kOpAdd, 1, false), S_FALSE);
  EXPECT_EQ(MatchAt(kOpAdd, 1, true), S_OK);

  // A capture that is a result inside the tree fails either way.
  SetUp();
  const Values p = b->Mul(Sub(0, 1), Sub(1, 1));
  b->Add(p, p);
  EXPECT_EQ(MatchAt(kOpAdd, 1, false), S_FALSE);
  EXPECT_EQ(MatchAt(kOpAdd, 1, true), S_FALSE);

  // A failed match leaves the caller's list and captures as they were.
  list.count = 1;
  list.position[0] = 77;
  captures.Clear();
  captures.slot[3][1] = 5;
  EXPECT_EQ(MatchExpressionPattern(*target, Find(*target, kOpAdd), Pattern(1), list, captures, ComponentMap::Identity(),
                                   4, true),
            S_FALSE);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(list.position[0], 77u);
  for (std::uint32_t k = 0; k < kCaptureSlots; ++k)
    for (std::uint32_t c = 0; c < 4; ++c) EXPECT_EQ(captures.slot[k][c], k == 3 && c == 1 ? 5u : kNoIndex);
}

TEST_F(GxlSelectMatch, RelaxedMatchKeepsTheSharedInstruction) {
  // cmp(x - y, x, y) whose difference is also an output: the max is made, the add stays.
  const Values d = b->Add(Sub(0, 2), Negated(*target, Sub(1, 2)));
  b->Select(d, Sub(0, 2), Sub(1, 2));
  b->Output(0, d);
  ASSERT_EQ(RunAt(*target, kOpSelect, RecognizeMinMaxFromCompare), S_OK);
  EXPECT_NE(Find(*target, 0x70C), kNoIndex);
  EXPECT_NE(Find(*target, kOpAdd), kNoIndex) << "the shared add is kept";
}

TEST_F(GxlSelectMatch, OperandComponents) {
  const Values m = b->Mul(Sub(0, 3), Sub(1, 3));
  const std::uint32_t d = b->Dot(Sub(0, 2), Sub(1, 2));
  ASSERT_EQ(target->ResetSelectionState(), S_OK);
  const IrInstruction& product = *target->Instruction(Find(*target, kOpMultiply));
  const IrInstruction& dot = *target->Instruction(Find(*target, kOpDot));
  struct Row {
    const char* what;
    const IrInstruction* child;
    Values group;
    ComponentMap parent;
    bool relaxed;
    HRESULT want;
    ComponentMap child_map;
  };
  const Row rows[] = {
      {"all three, crossed",
       &product,
       {m[2], m[0], m[1]},
       ComponentMap::Identity(),
       false,
       S_OK,
       {{2, 0, 1, kNoComponent}}},
      {"two of three, strict", &product, {m[0], m[1]}, ComponentMap::Identity(), false, S_FALSE, {}},
      {"two of three, relaxed",
       &product,
       {m[1], m[0]},
       ComponentMap::Identity(),
       true,
       S_OK,
       {{1, 0, kNoComponent, kNoComponent}}},
      {"a value the child does not write",
       &product,
       {m[0], in[0][0], m[2]},
       ComponentMap::Identity(),
       false,
       S_FALSE,
       {}},
      {"a dot product read twice",
       &dot,
       {d, d},
       ComponentMap::Identity(),
       false,
       S_OK,
       {{0, 1, kNoComponent, kNoComponent}}},
      {"a dot product and another value", &dot, {d, m[0]}, ComponentMap::Identity(), false, S_FALSE, {}},
  };
  for (const Row& row : rows) {
    ComponentMap got{};
    EXPECT_EQ(MatchOperandComponents(*target, *row.child, row.group.data(),
                                     static_cast<std::uint32_t>(row.group.size()), row.parent, got, 0, row.relaxed),
              row.want)
        << row.what;
    for (std::uint32_t c = 0; c < 4 && row.want == S_OK; ++c) {
      EXPECT_EQ(got.entry[c], row.child_map.entry[c]) << row.what << " " << c;
    }
  }
  // A read through a negated value needs the negated binding.
  const std::uint32_t n = Negated(*target, m[0]);
  ComponentMap got{};
  EXPECT_EQ(MatchOperandComponents(*target, product, &n, 1, ComponentMap::Identity(), got, 0x80000, true), S_OK);
  EXPECT_EQ(MatchOperandComponents(*target, product, &n, 1, ComponentMap::Identity(), got, 0, true), S_FALSE);
}

TEST_F(GxlSelectMatch, ListsIntersect) {
  const std::uint32_t a[] = {3, 9, 4}, b2[] = {1, 4}, c[] = {7};
  EXPECT_TRUE(ListsIntersect(a, 3, b2, 2));
  EXPECT_FALSE(ListsIntersect(a, 3, c, 1));
  EXPECT_FALSE(ListsIntersect(a, 0, b2, 2));
}

}  // namespace
}  // namespace selecttest
