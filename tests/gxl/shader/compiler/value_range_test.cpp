// The value-range analysis: a table of rules per operation group against
// closed forms and libm, the facts it adds and trusts, and the property that
// matters most: every value the IR interpreter computes lies in its range.
#include <cmath>
#include <random>

#include "compiler_fixture.h"

namespace compilertest {
namespace {

constexpr double kInf = INFINITY;
constexpr double kP = 3.1415927410125732, kH = 1.5707963705062866;
constexpr ValueRange kFull{-kInf, kInf};

bool Same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b || std::fabs(a - b) <= 1e-12 * std::fmax(1.0, std::fabs(a));
}

class GxlCompilerObjectRange : public CompilerTest {
 protected:
  // An input whose range the analysis already holds.
  std::uint32_t Ranged(ValueRange r) {
    const std::uint32_t v = Input(next++);
    IrValue& x = *program->Value(v);
    x.flags |= kValueRangeCached;
    x.rangeLow = r.low;
    x.rangeHigh = r.high;
    return v;
  }
  // Records each instruction as the definition of its results.
  void Define() {
    for (std::uint32_t i = 0; i < program->instructions.Count(); ++i) {
      const IrInstruction& inst = *program->Instruction(i);
      for (std::uint32_t k = 0; k < inst.resultCount; ++k) program->Value(inst.results[k])->definingPosition = i;
    }
  }
  ValueRange RangeOf(std::uint32_t v) {
    ValueRange r{};
    EXPECT_EQ(compiler.EvaluateRange(v, &r), S_OK);
    return r;
  }
  std::uint32_t next = 0;
};

TEST_F(GxlCompilerObjectRange, RulesPerOperationGroup) {
  struct Row {
    std::uint32_t group, width;
    std::vector<ValueRange> args;
    std::uint32_t component, flags;
    ValueRange expected;
  };
  const Row rows[] = {
      {0x107, 1, {{0, 4}}, 0, 0, {0.5, kInf}},
      {0x107, 1, {{-1, 4}}, 0, 0, kFull},
      {0x103, 1, {{-1, 1}}, 0, 0, kFull},
      {0x103, 1, {{2, 4}}, 0, 0, {0.25, 0.5}},
      {0x204, 1, {{-1, 1}, {-1, 2}}, 0, kValueNonNegative, {0, 3}},  // the asserted sign cuts {-2, 3}
      {0x202, 1, {{0, 1}, {2, 3}}, 0, 0, {1, 1}},
      {0x202, 1, {{0, 5}, {2, 3}}, 0, 0, {0, 1}},
      {0x202, 1, {{3, 5}, {2, 3}}, 0, 0, {0, 0}},
      {0x100, 1, {{-2, 5}}, 0, 0, {-2, 5}},
      {0x101, 1, {{-2, 5}}, 0, 0, {-5, 2}},
      {0x102, 1, {{2, 3}}, 0, 0, {2, 3 + 1e-6}},
      {0x102, 1, {{-3, -2}}, 0, 0, {-3 - 1e-6, -2}},
      {0x102, 1, {{0, 0}}, 0, 0, {0, 0}},
      {0x104, 1, {{2.75, 2.75}}, 0, 0, {0.75, 0.75}},
      {0x104, 1, {{1, 3}}, 0, 0, {0, 1}},
      {0x104, 1, {{kInf, kInf}}, 0, 0, {0, 0}},
      {0x105, 1, {{-1, 3}}, 0, 0, {0.5, 8}},
      {0x106, 1, {{0.25, 8}}, 0, 0, {-2, 3}},
      {0x106, 1, {{-1, 4}}, 0, 0, {-kInf, 2}},
      {0x108, 1, {{0.5, 0.5}}, 0, 0, {std::sin(0.5), std::sin(0.5)}},
      {0x108, 1, {{0, 1}}, 0, 0, {-1, 1}},
      {0x109, 1, {{0.5, 0.5}}, 0, 0, {std::cos(0.5), std::cos(0.5)}},
      {0x10A, 1, {{-0.5, 1}}, 0, 0, {std::asin(-0.5), std::asin(1.0)}},
      {0x10A, 1, {{-2, 0}}, 0, 0, {-kH, kH}},
      {0x10B, 1, {{-0.5, 0.5}}, 0, 0, {std::acos(0.5), std::acos(-0.5)}},
      {0x10B, 1, {{0, 2}}, 0, 0, {0, kP}},
      {0x10C, 1, {{1, 1}}, 0, 0, {std::atan(1.0), std::atan(1.0)}},
      {0x10C, 1, {{0, 1}}, 0, 0, {-kH, kH}},
      {0x10D, 1, {{3, 3}}, 0, 0, {0, 0}},
      {0x10E, 1, {{0, 1}}, 0, 0, kFull},
      {0x110, 1, {{1, 1}}, 0, 0, kFull},
      {0x200, 1, {{0, 4}, {1, 2}}, 0, 0, {0, 2}},
      {0x201, 1, {{0, 4}, {1, 2}}, 0, 0, {1, 4}},
      {0x203, 1, {{2, 3}, {0, 1}}, 0, 0, {1, 1}},
      {0x203, 1, {{0, 1}, {2, 3}}, 0, 0, {0, 0}},
      {0x203, 1, {{0, 2}, {1, 3}}, 0, 0, {0, 1}},
      {0x204, 1, {{1, 2}, {-kInf, 3}}, 0, 0, {-kInf, 5}},
      {0x204, 1, {{-kInf, -kInf}, {kInf, kInf}}, 0, 0, kFull},  // inf - inf bounds nothing
      {0x205, 1, {{-2, 3}, {-1, 4}}, 0, 0, {-8, 12}},
      {0x205, 1, {{0, 0}, kFull}, 0, 0, {0, 0}},
      {0x205, 1, {{0, 0}, kFull}, 0, kValueExact, {NAN, NAN}},
      {0x206, 1, {{1, 1}, {-1, -1}}, 0, 0, {std::atan2(1, -1), std::atan2(1, -1)}},
      {0x206, 1, {{0, 1}, {1, 1}}, 0, 0, {-kP, kP}},
      {0x207, 1, {{0, 1}, {3, 4}}, 0, 0, {0, 4}},
      {0x209, 1, {{0, 1}, {3, 4}}, 0, 0, kFull},
      {0x300, 1, {{1, 2}, {5, 6}, {-3, -2}}, 0, 0, {5, 6}},
      {0x300, 1, {{-2, -1}, {5, 6}, {-3, -2}}, 0, 0, {-3, -2}},
      {0x300, 1, {{-1, 1}, {5, 6}, {-3, -2}}, 0, 0, {-3, 6}},
      {0x500, 2, {{1, 2}, {-1, 1}, {3, 4}, {2, 2}}, 0, 0, {1, 10}},
      {0x501, 4, {{-1, 1}, {0.5, 2}, {0, 0}, {2, 2}}, 0, 0, {1, 1}},
      {0x501, 4, {{-1, 1}, {0.5, 2}, {0, 0}, {2, 2}}, 1, 0, {0, 1}},
      {0x501, 4, {{-1, 1}, {0.5, 2}, {0, 0}, {2, 2}}, 2, 0, {0, 4}},  // 0 where x <= 0
      {0x501, 4, {{-1, 1}, {0.5, 2}, {0, 0}, {2, 2}}, 3, 0, {1, 1}},
      {0x501, 4, {{-2, -1}, {0.5, 2}, {0, 0}, {2, 2}}, 2, 0, {0, 0}},
      {0x501, 4, {{1, 2}, {2, 3}, {0, 0}, {-1, 2}}, 2, 0, {1.0 / 3, 9}},  // a negative power at the corner
      {0x503, 4, {{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}, 0, 0, {std::cos(0.5), std::cos(0.5)}},
      {0x503, 4, {{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}, 1, 0, {std::sin(0.5), std::sin(0.5)}},
      {0x503, 4, {{0, 1}, {0, 1}, {0, 1}, {0, 1}}, 1, 0, {-1, 1}},
      {0x503, 4, {{0, 1}, {0, 1}, {0, 1}, {0, 1}}, 2, 0, kFull},
      {0x100, 1, {{-2, 3}}, 0, kValueNonPositive, {-2, 0}},
      {0x100, 1, {{-3, 0.5}}, 0, kValueUnitMagnitude, {-1, 0.5}},
  };
  for (const Row& row : rows) {
    Start();
    next = 0;
    Values args;
    for (const ValueRange& r : row.args) args.push_back(Ranged(r));
    const Values out = B().Emit(row.group, args, row.width);
    Define();
    program->Value(out[row.component])->flags |= row.flags;
    const ValueRange r = RangeOf(out[row.component]);
    EXPECT_TRUE(Same(r.low, row.expected.low) && Same(r.high, row.expected.high))
        << "row " << (&row - rows) << ": group " << std::hex << row.group << std::dec << " gives {" << r.low << ", "
        << r.high << "}, expected {" << row.expected.low << ", " << row.expected.high << "}";
  }
}

TEST_F(GxlCompilerObjectRange, FactsFollowTheRangeAndTheCacheIsTrusted) {
  struct Row {
    ValueRange a, b;
    std::uint32_t set, clear;
  };
  const Row rows[] = {
      {{1, 1}, {2, 2}, kValueConstant | kValueInteger | kValueNonNegative, kValueBoolean},
      {{0.5, 0.5}, {0.5, 0.5}, kValueConstant | kValueBoolean | kValueInteger, kValueNonPositive},
      {{1.5e9, 1.5e9}, {1.5e9, 1.5e9}, kValueConstant | kValueInteger, kValueBoolean},  // 3e9 is whole
      {{1.25, 1.25}, {1, 1}, kValueConstant, kValueInteger},
      {{-1, 0}, {-0.5, 0}, kValueNonPositive, kValueConstant | kValueUnitMagnitude},
      {{-0.25, 0}, {0, 0.5}, kValueUnitMagnitude | kValueRangeCached, kValueNonNegative | kValueNonPositive},
  };
  for (const Row& row : rows) {
    const std::uint32_t sum = B().Add({Ranged(row.a)}, {Ranged(row.b)})[0];
    Define();
    compiler.EvaluateRange(sum, nullptr);
    const std::uint32_t flags = program->Value(sum)->flags;
    EXPECT_EQ(flags & row.set, row.set) << "row " << (&row - rows);
    EXPECT_EQ(flags & row.clear, 0u) << "row " << (&row - rows);
  }
  // A cached range is returned as it stands; a literal is its own point.
  const std::uint32_t cached = Ranged({7, 9});
  EXPECT_EQ(RangeOf(cached).low, 7);
  EXPECT_EQ(RangeOf(Literal(2.5)).high, 2.5);
  double x = 0;
  EXPECT_EQ(compiler.GetConstantValue(Literal(2.5), &x), S_OK);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(compiler.GetConstantValue(Literal(NAN), &x), E_FAIL);
  EXPECT_EQ(compiler.GetConstantValue(cached, &x), E_FAIL);
  EXPECT_EQ(compiler.EvaluateRange(kNoIndex - 1, nullptr), E_FAIL);
}

TEST_F(GxlCompilerObjectRange, MultiplyRangesTable) {
  struct Row {
    ValueRange a, b;
    std::uint32_t flags;
    ValueRange expected;
  };
  const Row rows[] = {
      {{2, 2}, {3, 3}, 0, {6, 6}},
      {{-2, 3}, {-1, 4}, 0, {-8, 12}},
      {{-3, -2}, {-5, -4}, 0, {8, 15}},
      {{1, 2}, {-kInf, 3}, 0, {-kInf, 6}},
      {{-1, 0}, {1, kInf}, 0, {-kInf, 0}},
      {{0, 0}, kFull, 0, {0, 0}},  // 0 x inf counts as 0
      {{0, 1}, {1, kInf}, 0, {0, kInf}},
      {{0, 1}, {1, kInf}, kValueExact, {NAN, NAN}},
      {{2, 3}, {4, 5}, kValueExact, {8, 15}},
  };
  for (const Row& row : rows) {
    ValueRange r{};
    ShaderCompiler::MultiplyRanges(&r, row.a, row.b, row.flags);
    EXPECT_TRUE(Same(r.low, row.expected.low) && Same(r.high, row.expected.high)) << "row " << (&row - rows);
  }
}

TEST_F(GxlCompilerObjectRange, IndexedValuesTakeTheRangeOfTheRegisterPicked) {
  const std::uint32_t constants = Bank(StandardBank::FloatConstants);
  for (std::uint32_t r = 0; r < 3; ++r) {
    IrValue& v = *program->Value(program->AddValue(constants, 4 + r, 1, 0.0));
    v.flags |= kValueRangeCached;
    v.rangeLow = v.rangeHigh = 10.0 * r;
  }
  struct Row {
    std::uint32_t index;
    ValueRange expected;
  };
  const Row rows[] = {{Literal(2), {20, 20}}, {Literal(1.75), {10, 10}}, {Literal(1e30), kFull},
                      {Literal(NAN), kFull},  {Literal(-5), kFull},      {Input(9), kFull}};
  for (const Row& row : rows) {
    const std::uint32_t indexed = program->AddValue(constants, 4, 1, 0.0);
    program->Value(indexed)->indexValue = row.index;
    const ValueRange r = RangeOf(indexed);
    EXPECT_TRUE(Same(r.low, row.expected.low) && Same(r.high, row.expected.high)) << "row " << (&row - rows);
  }
  // A literal table read through an index keeps its literal.
  const std::uint32_t literal = program->AddValue(Bank(StandardBank::Literals), 0, 0, 4.0);
  const std::uint32_t indexed = program->AddValue(Bank(StandardBank::Literals), 0, 0, 6.0);
  program->Value(indexed)->relativeIndex = Input(10);
  program->Value(indexed)->flags = 0;  // no literal of its own: a register of the table
  program->Value(indexed)->indexValue = Literal(0);
  EXPECT_EQ(RangeOf(indexed).low, 4.0);
  EXPECT_EQ(program->Value(indexed)->rangeLow, 6.0);
  EXPECT_EQ(program->Value(literal)->rangeLow, 4.0);
}

// --- The soundness property --------------------------------------------------------------

double RandomNumber(std::mt19937_64& rng) {
  switch (rng() % 6) {
    case 0:
      return static_cast<double>(static_cast<int>(rng() % 9) - 4);
    case 1:
      return std::uniform_real_distribution<double>(-10, 10)(rng);
    case 2:
      return (rng() % 2 ? 1 : -1) * std::exp2(std::uniform_real_distribution<double>(-20, 20)(rng));
    case 3:
      return std::uniform_real_distribution<double>(-1, 1)(rng);
    case 4:
      return rng() % 2 ? 0.5 : -0.5;
    default:
      return rng() % 16 ? 0.0 : 1e30;
  }
}

ValueRange RandomRange(std::mt19937_64& rng) {
  const double a = RandomNumber(rng), b = RandomNumber(rng);
  const ValueRange interval{std::fmin(a, b), std::fmax(a, b)};
  switch (rng() % 6) {
    case 0:
      return {a, a};
    case 1:
      return {-kInf, interval.high};
    case 2:
      return {interval.low, kInf};
    case 3:
      return kFull;
    default:
      return interval;
  }
}

double Spread(std::mt19937_64& rng) { return std::pow(10.0, std::uniform_real_distribution<double>(-3, 6)(rng)); }

// A number inside the range: an end, or a point between.
double Draw(std::mt19937_64& rng, const ValueRange& r) {
  if (r.low == r.high) return r.low;
  const int k = static_cast<int>(rng() % 8);
  const bool infinite = rng() % 4 == 0;  // infinite ends now and then
  if (k == 0 && (infinite || std::isfinite(r.low))) return r.low;
  if (k == 1 && (infinite || std::isfinite(r.high))) return r.high;
  const double lo = std::isfinite(r.low) ? r.low : (std::isfinite(r.high) ? r.high : 0) - Spread(rng);
  const double hi = std::isfinite(r.high) ? r.high : lo + Spread(rng);
  return std::clamp(std::uniform_real_distribution<double>(lo, hi)(rng), r.low, r.high);
}

TEST_F(GxlCompilerObjectRange, EvaluatedRangesHoldEveryComputedValue) {
  std::mt19937_64 rng(0x5EED0011);
  const std::uint32_t unary[] = {0x100, 0x101, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107,
                                 0x108, 0x109, 0x10A, 0x10B, 0x10C, 0x10D, 0x10E};
  std::uint64_t checked = 0;
  for (int batch = 0; batch < 200; ++batch) {
    Start();
    next = 0;
    std::vector<std::pair<std::uint32_t, ValueRange>> inputs;  // register, range
    Values leaves, pool;
    for (int i = 0; i < 6; ++i) {
      const ValueRange r = RandomRange(rng);
      inputs.emplace_back(next, r);
      leaves.push_back(Ranged(r));
    }
    for (int i = 0; i < 4; ++i) leaves.push_back(B().Literal(RandomNumber(rng)));
    auto pick = [&] {
      const std::size_t recent = std::min<std::size_t>(pool.size(), 8);
      return rng() % 4 ? pool[pool.size() - 1 - rng() % recent] : pool[rng() % pool.size()];
    };
    auto picks = [&](std::uint32_t n) {
      Values v;
      for (std::uint32_t i = 0; i < n; ++i) v.push_back(pick());
      return v;
    };
    for (int expression = 0; expression < 50; ++expression) {
      pool = leaves;  // each expression a tree of its own over the leaves
      for (int steps = 1 + static_cast<int>(rng() % 5); steps > 0; --steps) {
        Values out;
        switch (rng() % 8) {
          case 0:
          case 1:
            out = B().Unary(unary[rng() % std::size(unary)], {pick()});
            break;
          case 2:
          case 3:
            out = B().Binary(0x200 + static_cast<std::uint32_t>(rng() % 7), {pick()}, {pick()});
            break;
          case 4: {
            const std::uint32_t guard = pick();
            out = B().Select({guard}, {rng() % 3 ? pick() : guard}, {rng() % 3 ? pick() : guard});
            break;
          }
          case 5: {
            const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % 4);
            out = {B().Dot(picks(n), picks(n))};
            break;
          }
          case 6:
            out = B().Emit(kOpLit, picks(4), 4);
            break;
          default:
            out = B().Emit(kOpSinCos, Values(4, pick()), 4), out.resize(2);
            break;  // 2, 3: undefined
        }
        pool.insert(pool.end(), out.begin(), out.end());
      }
    }
    Define();
    // Ranges from the last value back in half the batches: deep chains first.
    std::vector<std::pair<std::uint32_t, ValueRange>> ranges;
    for (std::uint32_t i = 0; i < program->instructions.Count(); ++i) {
      const IrInstruction& inst = *program->Instruction(i);
      for (std::uint32_t k = 0; k < inst.resultCount; ++k) ranges.emplace_back(inst.results[k], ValueRange{});
    }
    if (batch % 2) std::reverse(ranges.begin(), ranges.end());
    for (auto& [v, r] : ranges) ASSERT_EQ(compiler.EvaluateRange(v, &r), S_OK);

    for (int run = 0; run < 6; ++run) {
      irkit::IrInterpreter interpreter(*program);
      for (const auto& [reg, r] : inputs) interpreter.SetRegister(Bank(StandardBank::Inputs), reg, 0, Draw(rng, r));
      ASSERT_TRUE(interpreter.Run()) << interpreter.Error();
      const std::vector<bool> tainted = NanReached(*program, interpreter);
      for (const auto& [v, r] : ranges) {
        const double x = interpreter.Value(v);
        if (tainted[v] || std::isnan(x)) continue;
        ++checked;
        const IrInstruction& inst = *program->Instruction(program->Value(v)->definingPosition);
        ASSERT_TRUE(r.low <= x && x <= r.high)
            << "batch " << batch << ": value " << v << " of group " << std::hex << inst.Group() << std::dec << " is "
            << x << ", outside {" << r.low << ", " << r.high << "}";
      }
    }
  }
  EXPECT_GT(checked, 50000u);  // the property was exercised, not skipped
}

}  // namespace
}  // namespace compilertest
