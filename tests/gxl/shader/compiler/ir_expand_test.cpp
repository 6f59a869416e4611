// The expansions of sine, cosine, arc sine, arc cosine, arc tangent and
// power, run through the IR interpreter and measured against glibc's libm.
#include <bit>
#include <cmath>

#include "compiler_fixture.h"

namespace compilertest {
namespace {

class GxlIrExpand : public CompilerTest {
 protected:
  std::vector<std::uint32_t> Groups() const {
    std::vector<std::uint32_t> g;
    for (std::uint32_t i = 0; i < program->instructions.Count(); ++i) g.push_back(program->Instruction(i)->Group());
    return g;
  }
  // The worst error of f's components against `want` over the inputs xs (register 0).
  double WorstError(const std::vector<std::uint32_t>& out, const std::vector<double>& xs, double (*want)(double)) {
    double worst = 0;
    for (double x : xs)
      for (double got : Run(out, {x})) worst = std::fmax(worst, std::fabs(got - want(x)));
    return worst;
  }
  static std::vector<double> Grid(double lo, double hi, int steps) {
    std::vector<double> xs;
    for (int i = 0; i <= steps; ++i) xs.push_back(lo + (hi - lo) * i / steps);
    return xs;
  }
};

double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Asin(double x) { return std::asin(x); }
double Acos(double x) { return std::acos(x); }

TEST_F(GxlIrExpand, SineAndCosineWithinATenThousandth) {
  const std::vector<double> xs = Grid(-20, 20, 4001);
  struct Row {
    std::uint32_t caps;
    bool sameComponents, sine, cosine;
    std::uint32_t firstGroup;
  };
  const Row rows[] = {
      {0, false, true, true, kOpMultiply},          {0, true, true, false, kOpMultiply},
      {0, false, false, true, kOpMultiply},         {kCapSinCos, true, true, true, kOpMultiply},
      {kCapSinCos, false, true, true, kOpMultiply}, {kCapNativeTrig, false, true, true, kOpSin},
  };
  for (const Row& row : rows) {
    Start(row.caps);
    // Three components: the same value, or it and two moves of it.
    const std::uint32_t x = Input(0);
    const std::uint32_t in[3] = {x, row.sameComponents ? x : Emit1(kOpMove, x),
                                 row.sameComponents ? x : Emit1(kOpMove, x)};
    const std::uint32_t before = InstructionCount();
    std::uint32_t s[3], c[3];
    ASSERT_EQ(compiler.EmitSinCos(nullptr, in, row.sine ? s : nullptr, row.cosine ? c : nullptr, 3), S_OK);
    EXPECT_EQ(program->Instruction(before)->Group(), row.firstGroup) << "row " << (&row - rows);
    if (row.caps == kCapSinCos && row.sameComponents) {
      EXPECT_EQ(Groups().back(), kOpSinCos);
    }
    if (row.sine) {
      EXPECT_LE(WorstError({s[0], s[1], s[2]}, xs, Sin), 1e-4) << "row " << (&row - rows);
    }
    if (row.cosine) {
      EXPECT_LE(WorstError({c[0], c[1], c[2]}, xs, Cos), 1e-4) << "row " << (&row - rows);
    }
  }
  // An angle known to lie in [-pi, pi] needs no reduction.
  Start(kCapSinCos);
  std::uint32_t angle = Input(0);
  program->Value(angle)->flags |= kValueRangeCached;
  program->Value(angle)->rangeLow = -3;
  program->Value(angle)->rangeHigh = 3;
  std::uint32_t s, c;
  ASSERT_EQ(compiler.EmitSinCos(nullptr, &angle, &s, &c, 1), S_OK);
  EXPECT_EQ(Groups(), std::vector<std::uint32_t>{kOpSinCos});
  EXPECT_LE(WorstError({s}, Grid(-3, 3, 600), Sin), 1e-12);
}

TEST_F(GxlIrExpand, ArcSineAndCosineWithinSevenHundredThousandths) {
  const std::vector<double> xs = Grid(-1, 1, 4000);
  for (std::uint32_t caps : {0u, std::uint32_t{kCapNativeTrig}, std::uint32_t{kCapCompareBySelect}}) {
    Start(caps);
    const std::uint32_t x[2] = {Input(0), Input(0)};
    std::uint32_t as[2], ac[2], only[2];
    ASSERT_EQ(compiler.EmitArcSinCos(nullptr, x, as, ac, 2), S_OK);
    ASSERT_EQ(compiler.EmitArcSinCos(nullptr, x, nullptr, only, 2), S_OK);
    if (caps == kCapNativeTrig) {
      EXPECT_EQ(Groups(), (std::vector<std::uint32_t>{kOpAsin, kOpAcos, kOpAcos}));
    }
    EXPECT_LE(WorstError({as[0], as[1]}, xs, Asin), 7e-5) << caps;
    EXPECT_LE(WorstError({ac[0], ac[1], only[0], only[1]}, xs, Acos), 7e-5) << caps;
  }
}

TEST_F(GxlIrExpand, ArcTangentWithinTwelveMillionthsInEveryQuadrant) {
  for (std::uint32_t caps : {0u, std::uint32_t{kCapNativeTrig}, std::uint32_t{kCapCompareBySelect}}) {
    Start(caps);
    const std::uint32_t y = Input(0), x = Input(1);
    std::uint32_t twoArguments, oneArgument;
    ASSERT_EQ(compiler.EmitArcTan(nullptr, &y, &x, &twoArguments, 1), S_OK);
    ASSERT_EQ(compiler.EmitArcTan(nullptr, &y, nullptr, &oneArgument, 1), S_OK);
    if (caps == kCapNativeTrig) {
      EXPECT_EQ(Groups(), (std::vector<std::uint32_t>{kOpAtan2, kOpAtan}));
    }
    double worst = 0;
    for (double radius : {1e-3, 1.0, 50.0}) {
      for (int i = -720; i <= 720; ++i) {
        const double angle = M_PI * i / 720;
        double py = radius * std::sin(angle), px = radius * std::cos(angle);
        if (i % 720 == 0) py = 0;  // exactly on an axis
        if (std::abs(i) == 360) px = 0;
        const std::vector<double> got = Run({twoArguments, oneArgument}, {py, px});
        worst = std::fmax(worst, std::fabs(got[0] - std::atan2(py, px)));
        worst = std::fmax(worst, std::fabs(got[1] - std::atan(py)));
      }
    }
    EXPECT_LE(worst, 1.2e-5) << caps;
  }
}

TEST_F(GxlIrExpand, PowerOfZeroAndOneIsAMove) {
  for (double b : {0.0, 1.0}) {
    Start();
    const std::uint32_t base[2] = {Literal(b), Literal(b)}, exponent[2] = {Input(0), Input(1)};
    std::uint32_t out[2];
    ASSERT_EQ(compiler.EmitPower(nullptr, out, base, exponent, 2), S_OK);
    EXPECT_EQ(Groups(), std::vector<std::uint32_t>{kOpMove});
    EXPECT_EQ(Run({out[0], out[1]}, {-2.0, 0.5}), (std::vector<double>{b, b}));
  }
}

TEST_F(GxlIrExpand, IntegerPowersMultiplyWithinTheTargetsBudget) {
  struct Budget {
    std::uint32_t caps, options, powerCost, n;
  };
  const Budget budgets[] = {{0, 0, 1, 1},
                            {0, 0, 0, 3},
                            {0, 0, 10, 1},
                            {kCapNativeLit, kOptionPartialPrecision, 1, 1},
                            {kCapNativeLit, 0, 1, 1}};
  const double bases[3] = {1.7, 0.9, 2.5};
  for (const Budget& budget : budgets) {
    for (int k = -9; k <= 9; ++k) {
      Start(budget.caps, 0, budget.options, 0xFFFE0200, budget.powerCost);
      std::vector<std::uint32_t> base, exponent(budget.n, Literal(k)), out(budget.n);
      std::vector<double> inputs;
      for (std::uint32_t i = 0; i < budget.n; ++i) base.push_back(Input(i)), inputs.push_back(bases[i]);
      ASSERT_EQ(compiler.EmitPower(nullptr, out.data(), base.data(), exponent.data(), budget.n), S_OK);
      const std::uint32_t magnitude = std::abs(k);
      std::uint32_t cost = magnitude ? (std::bit_width(magnitude) - 1) + (std::popcount(magnitude) - 1) : 0;
      if (k < 0) cost += budget.n;
      const std::uint32_t factor = budget.powerCost ? budget.powerCost : 1;
      const std::uint32_t limit = budget.options ? budget.n + 1 : 2 * factor * budget.n + 1;
      const std::uint32_t multiplied =
          1 + (magnitude ? 1 + std::popcount(magnitude) + std::bit_width(magnitude) - 1 : 0) + (k < 0);
      EXPECT_EQ(InstructionCount(), cost <= limit ? multiplied : 3u) << "k " << k << " budget " << (&budget - budgets);
      const std::vector<double> got = Run(out, inputs);
      for (std::uint32_t i = 0; i < budget.n; ++i)
        EXPECT_NEAR(got[i], std::pow(bases[i], k), 1e-12 * std::pow(bases[i], k)) << "k " << k;
    }
  }
  // A negative base is fine where the power multiplies.
  Start();
  const std::uint32_t base = Input(0), three = Literal(3);
  std::uint32_t cube;
  ASSERT_EQ(compiler.EmitPower(nullptr, &cube, &base, &three, 1), S_OK);
  EXPECT_DOUBLE_EQ(Run1(cube, {-1.3}), -1.3 * -1.3 * -1.3);
}

TEST_F(GxlIrExpand, OtherExponentsTakeRootsOrLogarithms) {
  struct Row {
    double exponent;
    std::vector<std::uint32_t> groups;
  };
  const Row rows[] = {
      {0.5, {kOpRsq, kOpReciprocal}},
      {-0.5, {kOpRsq}},
      {0.5000001, {kOpRsq, kOpReciprocal}},
      {3.0000001, {kOpMove, kOpMove, kOpMultiply, kOpMultiply, kOpMultiply}},
      {-2.9999999, {kOpLog2, kOpMultiply, kOpExp2}},  // truncates to -2: no integer
      {2.5, {kOpLog2, kOpMultiply, kOpExp2}},
      {1e30, {kOpLog2, kOpMultiply, kOpExp2}},
      {-3e9, {kOpLog2, kOpMultiply, kOpExp2}},
      {NAN, {kOpLog2, kOpMultiply, kOpExp2}},
      {INFINITY, {kOpLog2, kOpMultiply, kOpExp2}},
  };
  for (const Row& row : rows) {
    Start();
    const std::uint32_t base = Input(0), exponent = Literal(row.exponent);
    std::uint32_t out;
    ASSERT_EQ(compiler.EmitPower(nullptr, &out, &base, &exponent, 1), S_OK);
    EXPECT_EQ(Groups(), row.groups) << row.exponent;
    const double got = Run1(out, {1.7}), want = std::pow(1.7, row.exponent);
    if (std::isnan(want) || std::isinf(want))
      EXPECT_TRUE(std::isnan(got) ? std::isnan(want) : got == want) << row.exponent;
    else
      EXPECT_NEAR(got, want, 1e-6 * want) << row.exponent;
  }
  // Exponents that differ per component take the general form.
  Start();
  const std::uint32_t base[2] = {Input(0), Input(0)}, exponent[2] = {Literal(2), Literal(3)};
  std::uint32_t out[2];
  ASSERT_EQ(compiler.EmitPower(nullptr, out, base, exponent, 2), S_OK);
  EXPECT_EQ(Groups(), (std::vector<std::uint32_t>{kOpLog2, kOpMultiply, kOpExp2}));
  const std::vector<double> got = Run({out[0], out[1]}, {1.5});
  EXPECT_NEAR(got[0], 2.25, 1e-12);
  EXPECT_NEAR(got[1], 3.375, 1e-12);
}

}  // namespace
}  // namespace compilertest
