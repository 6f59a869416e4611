// IR constant folding: every unary fold against glibc's long double libm,
// the domain errors with their folded values, the pinned singular cases,
// identities and the exact flag that blocks them, and the soundness of every
// fact the folding derives, checked on random inputs the argument facts allow.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "../log_text.h"
#include "gxl/shader/core/page_pool.h"
#include "tests/support/ir/ir_builder.h"

namespace {

using namespace gxl::shader;
using irkit::IrBuilder;
using irkit::Values;
using shadertest::LogText;

constexpr double kInf = std::numeric_limits<double>::infinity();

// A program with its pools and log, and the helpers that build and read it.
struct Lab {
  Lab() : scope(&pages) { EXPECT_EQ(program.Init(nullptr, &log, 0xFFFE0300, 0), S_OK); }

  // What a value reads as after folding: the argument of the output move
  // made to read it.
  std::uint32_t Watch(std::uint32_t value) {
    const std::uint32_t reg = watched++;
    b.Output(reg / 4, {value});
    return program.instructions.Count() - 1;
  }
  std::uint32_t Seen(std::uint32_t watch) const { return program.Instruction(watch)->arguments[0]; }
  bool SeenLiteral(std::uint32_t watch, double* x) const {
    const IrValue& v = *program.Value(Seen(watch));
    if (!(program.Bank(v.bank)->type & kBankLiteral)) return false;
    *x = v.rangeLow;
    return true;
  }
  // A temporary that carries `flags`, as if computed.
  std::uint32_t Fresh(std::uint32_t flags = 0) {
    const std::uint32_t v = b.Register(StandardBank::Temporaries, fresh++, 1)[0];
    program.Value(v)->flags = flags;
    return v;
  }
  std::uint32_t Lit(double x) { return b.Literal(x); }
  std::uint32_t Unary(std::uint32_t group, std::uint32_t a) { return b.Unary(group, {a})[0]; }
  std::uint32_t Binary(std::uint32_t group, std::uint32_t a, std::uint32_t c) { return b.Binary(group, {a}, {c})[0]; }

  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  MessageLog log;
  ShaderProgram program;
  IrBuilder b{program};
  std::uint32_t watched = 0, fresh = 0;
};

std::int64_t UlpDistance(double a, double b) {
  if (a == b) return 0;
  std::int64_t x, y;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  if (x < 0) x = INT64_MIN - x;
  if (y < 0) y = INT64_MIN - y;
  return x > y ? x - y : y - x;
}

struct UnaryCase {
  std::uint32_t group;
  long double (*reference)(long double);
  double lo, hi;
};

TEST(GxlIrFold, UnaryFoldsMatchLongDoubleLibm) {
  const UnaryCase cases[] = {
      {kOpNegate, [](long double x) { return -x; }, -1e6, 1e6},
      {kOpReciprocal, [](long double x) { return 1 / x; }, -1e3, 1e3},
      {kOpFraction, [](long double x) { return x - floorl(x); }, -1e3, 1e3},
      {kOpExp2, exp2l, -120, 120},
      {kOpLog2, log2l, 1e-6, 1e6},
      {kOpRsq, [](long double x) { return 1 / sqrtl(x); }, 1e-6, 1e6},
      {kOpSin, sinl, -100, 100},
      {kOpCos, cosl, -100, 100},
      {kOpAsin, asinl, -1, 1},
      {kOpAcos, acosl, -1, 1},
      {kOpAtan, atanl, -1e3, 1e3},
  };
  std::mt19937_64 rng(2112);
  for (const UnaryCase& c : cases) {
    Lab lab;
    std::uniform_real_distribution<double> draw(c.lo, c.hi);
    std::vector<double> xs;
    std::vector<std::uint32_t> watches;
    for (int i = 0; i < 10000 / 11 + 1; ++i) {
      xs.push_back(draw(rng));
      watches.push_back(lab.Watch(lab.Unary(c.group, lab.Lit(xs.back()))));
    }
    ASSERT_EQ(lab.program.FoldConstants(), S_OK);
    for (std::size_t i = 0; i < xs.size(); ++i) {
      double got;
      ASSERT_TRUE(lab.SeenLiteral(watches[i], &got)) << std::hex << c.group << " of " << xs[i];
      const double want = static_cast<double>(c.reference(xs[i]));
      EXPECT_LE(UlpDistance(got, want), 2)
          << std::hex << c.group << std::dec << " of " << xs[i] << ": " << got << " against " << want;
    }
    EXPECT_EQ(lab.log.ErrorCount(), 0u);
  }
}

// One case of folding: what the built value reads as afterwards, and the
// message reported. In each case x is a temporary without facts, y one known
// to hold an integer, and z[] four more without facts.
struct FoldCase {
  const char* name;
  std::uint32_t (*build)(Lab&, const std::uint32_t* v);  // v: x, y, z0..z3
  enum { kLiteral, kValue, kUnchanged } outcome;
  double literal;  // kLiteral
  int value;       // kValue: index into v
  const char* message;
};

enum { X, Y, Z0, Z1, Z2, Z3 };

const FoldCase kFoldCases[] = {
    {"log2 of 0 stays", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpLog2, l.Lit(0)); }, FoldCase::kUnchanged,
     0, 0, ""},
    {"log2 of -1", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpLog2, l.Lit(-1)); }, FoldCase::kLiteral, 0, 0,
     "error X4002: indefinite logarithm"},
    {"rsq of -4", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpRsq, l.Lit(-4)); }, FoldCase::kLiteral, 0, 0,
     "error X4003: imaginary square root"},
    {"rsq of 4", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpRsq, l.Lit(4)); }, FoldCase::kLiteral, 0.5, 0,
     ""},
    {"asin of 1", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpAsin, l.Lit(1)); }, FoldCase::kLiteral, M_PI / 2,
     0, ""},
    {"asin of 1.0000001", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpAsin, l.Lit(1.0000001)); },
     FoldCase::kLiteral, 0, 0, "error X4005: indefinite arcsine"},
    {"acos of -2", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpAcos, l.Lit(-2)); }, FoldCase::kLiteral, 0, 0,
     "error X4006: indefinite arccosine"},
    {"rsq of a value known <= 0",
     [](Lab& l, const std::uint32_t*) { return l.Unary(kOpRsq, l.Fresh(kValueNonPositive)); }, FoldCase::kLiteral, 0, 0,
     "error X4003: imaginary square root"},
    {"log2 of a value known <= 0",
     [](Lab& l, const std::uint32_t*) { return l.Unary(kOpLog2, l.Fresh(kValueNonPositive)); }, FoldCase::kUnchanged, 0,
     0, "error X4002: indefinite logarithm"},
    {"frac of 2.75", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpFraction, l.Lit(2.75)); }, FoldCase::kLiteral,
     0.75, 0, ""},
    {"frac of an integer", [](Lab& l, const std::uint32_t* v) { return l.Unary(kOpFraction, v[Y]); },
     FoldCase::kLiteral, 0, 0, ""},
    // Pinned: the singular cases fold to 0.
    {"rcp of 0", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpReciprocal, l.Lit(0)); }, FoldCase::kLiteral, 0,
     0, ""},
    {"frac of inf", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpFraction, l.Lit(kInf)); }, FoldCase::kLiteral,
     0, 0, ""},
    {"frac of -inf", [](Lab& l, const std::uint32_t*) { return l.Unary(kOpFraction, l.Lit(-kInf)); },
     FoldCase::kLiteral, 0, 0, ""},
    {"-(-x)", [](Lab& l, const std::uint32_t* v) { return l.Unary(kOpNegate, l.Unary(kOpNegate, v[X])); },
     FoldCase::kValue, 0, X, ""},
    {"rcp(rcp(x))", [](Lab& l, const std::uint32_t* v) { return l.Unary(kOpReciprocal, l.Unary(kOpReciprocal, v[X])); },
     FoldCase::kValue, 0, X, ""},
    {"exp2(log2(x))", [](Lab& l, const std::uint32_t* v) { return l.Unary(kOpExp2, l.Unary(kOpLog2, v[X])); },
     FoldCase::kValue, 0, X, ""},
    {"log2(exp2(x))", [](Lab& l, const std::uint32_t* v) { return l.Unary(kOpLog2, l.Unary(kOpExp2, v[X])); },
     FoldCase::kValue, 0, X, ""},
    {"x + 0", [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpAdd, v[X], l.Lit(0)); }, FoldCase::kValue, 0, X,
     ""},
    {"1 * x", [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpMultiply, l.Lit(1), v[X]); }, FoldCase::kValue, 0,
     X, ""},
    {"x * 0", [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpMultiply, v[X], l.Lit(0)); }, FoldCase::kLiteral,
     0, 0, ""},
    {"x * (1/x)",
     [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpMultiply, v[X], l.Unary(kOpReciprocal, v[X])); },
     FoldCase::kLiteral, 1, 0, ""},
    {"(-x) * (1/x)",
     [](Lab& l, const std::uint32_t* v) {
       return l.Binary(kOpMultiply, l.Unary(kOpNegate, v[X]), l.Unary(kOpReciprocal, v[X]));
     },
     FoldCase::kLiteral, -1, 0, ""},
    {"x + (-x)", [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpAdd, v[X], l.Unary(kOpNegate, v[X])); },
     FoldCase::kLiteral, 0, 0, ""},
    {"0.5 * (x + x)",
     [](Lab& l, const std::uint32_t* v) { return l.Binary(kOpMultiply, l.Lit(0.5), l.Binary(kOpAdd, v[X], v[X])); },
     FoldCase::kValue, 0, X, ""},
    {"2 + 3", [](Lab& l, const std::uint32_t*) { return l.Binary(kOpAdd, l.Lit(2), l.Lit(3)); }, FoldCase::kLiteral, 5,
     0, ""},
    {"min(3, 2)", [](Lab& l, const std::uint32_t*) { return l.Binary(kOpMin, l.Lit(3), l.Lit(2)); }, FoldCase::kLiteral,
     2, 0, ""},
    {"3 >= 3", [](Lab& l, const std::uint32_t*) { return l.Binary(kOpGreaterEqual, l.Lit(3), l.Lit(3)); },
     FoldCase::kLiteral, 1, 0, ""},
    {"atan2(1, -1)", [](Lab& l, const std::uint32_t*) { return l.Binary(kOpAtan2, l.Lit(1), l.Lit(-1)); },
     FoldCase::kLiteral, 3 * M_PI / 4, 0, ""},
    {"dot (x,0,0,0).(1,z1,z2,z3)",
     [](Lab& l, const std::uint32_t* v) {
       return l.b.Dot({v[X], l.Lit(0), l.Lit(0), l.Lit(0)}, {l.Lit(1), v[Z1], v[Z2], v[Z3]});
     },
     FoldCase::kValue, 0, X, ""},
    {"dot of literals",
     [](Lab& l, const std::uint32_t*) {
       return l.b.Dot({l.Lit(2), l.Lit(3)}, {l.Lit(4), l.Lit(-1)});
     },
     FoldCase::kLiteral, 5, 0, ""},
    {"select of a literal", [](Lab& l, const std::uint32_t* v) { return l.b.Select({l.Lit(-1)}, {v[X]}, {v[Y]})[0]; },
     FoldCase::kValue, 0, Y, ""},
    {"x - y >= 0 ? y : x is min(x, y)",
     [](Lab& l, const std::uint32_t* v) {
       const std::uint32_t x = v[Z0], y = v[Z1];
       l.program.Value(x)->flags = kValueNonPositive;
       l.program.Value(y)->flags = kValueNonNegative;
       return l.b.Select({l.Binary(kOpAdd, x, l.Unary(kOpNegate, y))}, {y}, {x})[0];
     },
     FoldCase::kValue, 0, Z0, ""},
    {"a move", [](Lab& l, const std::uint32_t* v) { return l.b.Move({v[X]})[0]; }, FoldCase::kValue, 0, X, ""},
    // A later write to the array may change the element before the readers run.
    {"a move of an element of a writable array",
     [](Lab& l, const std::uint32_t* v) {
       return l.b.Move(l.b.RelativeRegister(StandardBank::Temporaries, 8, v[Y], 1))[0];
     },
     FoldCase::kUnchanged, 0, 0, ""},
};

TEST(GxlIrFold, EdgeCases) {
  for (const FoldCase& c : kFoldCases) {
    Lab lab;
    std::uint32_t v[6];
    v[X] = lab.Fresh();
    v[Y] = lab.Fresh(kValueInteger);
    for (int i = Z0; i <= Z3; ++i) v[i] = lab.Fresh();
    const std::uint32_t result = c.build(lab, v);
    const std::uint32_t watch = lab.Watch(result);
    ASSERT_TRUE(SUCCEEDED(lab.program.FoldConstants())) << c.name;
    double x;
    switch (c.outcome) {
      case FoldCase::kLiteral:
        ASSERT_TRUE(lab.SeenLiteral(watch, &x)) << c.name;
        EXPECT_LE(UlpDistance(x, c.literal), 1) << c.name << ": " << x;
        break;
      case FoldCase::kValue:
        EXPECT_EQ(lab.Seen(watch), v[c.value]) << c.name;
        break;
      case FoldCase::kUnchanged:
        EXPECT_EQ(lab.Seen(watch), result) << c.name;
        break;
    }
    const std::string text = LogText(lab.log);
    if (*c.message)
      EXPECT_NE(text.find(c.message), std::string::npos) << c.name << ": " << text;
    else
      EXPECT_EQ(text, "<null>") << c.name;
  }
}

TEST(GxlIrFold, ExactResultsKeepTheirSingularities) {
  Lab lab;
  const std::uint32_t x = lab.Fresh();
  const std::uint32_t rcp = lab.Unary(kOpReciprocal, lab.Lit(0));
  const std::uint32_t product = lab.Binary(kOpMultiply, x, lab.Lit(0));
  const std::uint32_t sum = lab.Binary(kOpAdd, x, lab.Lit(0));
  const std::uint32_t twice = lab.Unary(kOpNegate, lab.Unary(kOpNegate, x));
  const std::uint32_t watch[] = {lab.Watch(rcp), lab.Watch(product), lab.Watch(sum), lab.Watch(twice)};
  for (std::uint32_t r : {rcp, product, sum, twice}) lab.program.Value(r)->flags |= kValueExact;
  ASSERT_EQ(lab.program.FoldConstants(), S_OK);
  double value;
  ASSERT_TRUE(lab.SeenLiteral(watch[0], &value));
  EXPECT_EQ(value, kInf);
  EXPECT_EQ(lab.Seen(watch[1]), product);
  EXPECT_EQ(lab.Seen(watch[2]), sum);
  EXPECT_EQ(lab.Seen(watch[3]), twice);
}

TEST(GxlIrFold, LitDecidesAtZero) {
  // x = 0 counts as not negative: the power is decided, y^1 = y.
  Lab lab;
  const Values lit = lab.b.Emit(kOpLit, {lab.Lit(0), lab.Lit(0.5), lab.Fresh(), lab.Lit(1)}, 4);
  std::uint32_t watch[4];
  for (int i = 0; i < 4; ++i) watch[i] = lab.Watch(lit[i]);
  ASSERT_EQ(lab.program.FoldConstants(), S_OK);
  const double want[4] = {1, 0, 0.5, 1};
  for (int i = 0; i < 4; ++i) {
    double x;
    ASSERT_TRUE(lab.SeenLiteral(watch[i], &x)) << i;
    EXPECT_EQ(x, want[i]) << i;
  }
}

TEST(GxlIrFold, InstructionFoldsOnlyAsAWhole) {
  // One component folds to a register, the other to a literal: neither
  // does, but the register's facts stay with the result.
  Lab lab;
  const std::uint32_t x = lab.Fresh(kValueInteger | kValueNonNegative);
  const Values sum = lab.b.Add({x, lab.Lit(1)}, {lab.Lit(0), lab.Lit(2)});
  const std::uint32_t w0 = lab.Watch(sum[0]), w1 = lab.Watch(sum[1]);
  const std::uint32_t values = lab.program.values.Count();
  ASSERT_EQ(lab.program.FoldConstants(), S_OK);
  EXPECT_EQ(lab.Seen(w0), sum[0]);
  EXPECT_EQ(lab.Seen(w1), sum[1]);
  EXPECT_EQ(lab.program.Value(sum[0])->flags & 0x1F, kValueInteger | kValueNonNegative);
  EXPECT_EQ(lab.program.values.Count(), values);  // the literal 3 made for the attempt is gone
  EXPECT_EQ(lab.program.FoldConstants(), S_FALSE);
}

// --- Fact soundness -----------------------------------------------------------------

// Argument classes as flags, and a draw of a value that has them.
struct ArgumentClass {
  std::uint32_t flags;
  double (*draw)(std::mt19937_64&);
};

double Uniform(std::mt19937_64& r, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(r); }
double Integer(std::mt19937_64& r, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); }

const ArgumentClass kClasses[] = {
    {0, [](std::mt19937_64& r) { return Uniform(r, -100, 100); }},
    {kValueBoolean, [](std::mt19937_64& r) { return Integer(r, 0, 1); }},
    {kValueInteger, [](std::mt19937_64& r) { return Integer(r, -50, 50); }},
    {kValueInteger | kValueNonNegative, [](std::mt19937_64& r) { return Integer(r, 0, 50); }},
    // A zero known only to be <= 0 is -0, as a product or sum makes it.
    {kValueNonPositive, [](std::mt19937_64& r) { return r() % 8 ? Uniform(r, -100, 0) : -0.0; }},
    {kValueNonNegative, [](std::mt19937_64& r) { return r() % 8 ? Uniform(r, 0, 100) : 0.0; }},
    {kValueNonNegative | kValueNonPositive, [](std::mt19937_64&) { return 0.0; }},
    {kValueUnitMagnitude, [](std::mt19937_64& r) { return Uniform(r, -1, 1); }},
    {kValueUnitMagnitude | kValueNonNegative, [](std::mt19937_64& r) { return Uniform(r, 0, 1); }},
};

bool FactsHold(std::uint32_t flags, double v) {
  if (std::isnan(v)) return true;  // no fact speaks of NaN
  if ((flags & kValueBoolean) && v != 0 && v != 1) return false;
  if ((flags & kValueInteger) && std::isfinite(v) && v != std::trunc(v)) return false;
  if ((flags & kValueNonNegative) && v < 0) return false;
  if ((flags & kValueNonPositive) && v > 0) return false;
  if ((flags & kValueUnitMagnitude) && std::fabs(v) > 1) return false;
  return true;
}

struct FactCase {
  std::uint32_t group;
  int arity;  // 1, 2, 3 (select), or 0 for a two-pair dot product
  double (*evaluate)(const double*);
};

TEST(GxlIrFold, DerivedFactsHoldOfTheResult) {
  const FactCase cases[] = {
      {kOpNegate, 1, [](const double* a) { return -a[0]; }},
      {kOpReciprocal, 1, [](const double* a) { return 1 / a[0]; }},
      {kOpFraction, 1, [](const double* a) { return a[0] - std::floor(a[0]); }},
      {kOpExp2, 1, [](const double* a) { return std::exp2(a[0]); }},
      {kOpRsq, 1, [](const double* a) { return 1 / std::sqrt(a[0]); }},
      {kOpMin, 2, [](const double* a) { return std::fmin(a[0], a[1]); }},
      {kOpMax, 2, [](const double* a) { return std::fmax(a[0], a[1]); }},
      {kOpLess, 2, [](const double* a) { return a[0] < a[1] ? 1.0 : 0.0; }},
      {kOpGreaterEqual, 2, [](const double* a) { return a[0] >= a[1] ? 1.0 : 0.0; }},
      {kOpAdd, 2, [](const double* a) { return a[0] + a[1]; }},
      {kOpMultiply, 2, [](const double* a) { return a[0] * a[1]; }},
      {kOpSelect, 3, [](const double* a) { return a[0] >= 0 ? a[1] : a[2]; }},
      {kOpDot, 0, [](const double* a) { return a[0] * a[2] + a[1] * a[3]; }},
  };
  std::mt19937_64 rng(77);
  const int classCount = static_cast<int>(std::size(kClasses));
  for (const FactCase& c : cases) {
    const int arguments = c.arity == 0 ? 4 : c.arity;
    // Every pairing of classes for the first two arguments, the rest drawn;
    // also each argument the same value as the first, which some facts use.
    std::uint32_t checked = 0;
    for (int combination = 0; checked < 10000; ++combination) {
      int cls[4];
      for (int i = 0; i < 4; ++i)
        cls[i] = i < 2 ? (combination / (i ? classCount : 1)) % classCount : rng() % classCount;
      const bool same = combination % 5 == 4 && arguments > 1;
      Lab lab;
      std::uint32_t args[4];
      for (int i = 0; i < arguments; ++i) args[i] = same && i == 1 ? args[0] : lab.Fresh(kClasses[cls[i]].flags);
      if (same) cls[1] = cls[0];
      std::uint32_t result;
      if (c.arity == 0)
        result = lab.b.Dot({args[0], args[1]}, {args[2], args[3]});
      else if (c.arity == 3)
        result = lab.b.Select({args[0]}, {args[1]}, {args[2]})[0];
      else if (c.arity == 2)
        result = lab.Binary(c.group, args[0], args[1]);
      else
        result = lab.Unary(c.group, args[0]);
      lab.Watch(result);
      ASSERT_TRUE(SUCCEEDED(lab.program.FoldConstants()));
      const std::uint32_t facts = lab.program.Value(result)->flags & 0x1F;
      for (int draw = 0; draw < 40; ++draw, ++checked) {
        double a[4];
        for (int i = 0; i < arguments; ++i) a[i] = same && i == 1 ? a[0] : kClasses[cls[i]].draw(rng);
        // rsq(-0) is -inf: zero is the singular point the folds send to 0.
        if (c.group == kOpRsq && a[0] == 0) continue;
        const double v = c.evaluate(a);
        ASSERT_TRUE(FactsHold(facts, v)) << std::hex << "group " << c.group << " facts " << facts << std::dec
                                         << " classes " << cls[0] << "," << cls[1] << " args " << a[0] << ", " << a[1]
                                         << " result " << v;
      }
    }
  }
}

}  // namespace
