// The expression evaluator on hand-assembled code: the operation table against
// libm, addressing, and the rejection of malformed code. Register files live
// on the heap at exactly their masked size, so a read or write outside them is
// caught by the address sanitizer.
#include "gxl/tex/expression_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "expr_test_code.h"
#include "gxl/math/noise.h"

namespace {

using namespace exprtest;

// Register files of exact sizes: inputs 8, constants 16, outputs 4 each, cells 4.
struct Files {
  std::vector<double> inputs = std::vector<double>(8, 0.0);
  std::vector<double> constants = std::vector<double>(16, 0.0);
  std::vector<float> cells = std::vector<float>(4, 0.0f);
  std::vector<double> out4 = std::vector<double>(4, -99.0), out5 = out4, out6 = out4;

  ExpressionFiles Get() {
    ExpressionFiles f;
    f.inputs = inputs.data();
    f.inputMask = 7;
    f.constants = constants.data();
    f.constantMask = 15;
    f.cells = cells.data();
    f.cellMask = 3;
    f.outputs[0] = out4.data();
    f.outputs[1] = out5.data();
    f.outputs[2] = out6.data();
    f.outputMasks[0] = f.outputMasks[1] = f.outputMasks[2] = 3;
    return f;
  }
};

HRESULT Validate(ExpressionProgram& p, const Words& code) {
  // A heap copy of exactly the code, so that any read past it is caught.
  const std::vector<std::uint32_t> copy(code);
  return p.Validate(copy.data(), copy.size() * 4);
}

HRESULT Evaluate(const Words& code, Files& files) {
  const std::vector<std::uint32_t> copy(code);
  return ExpressionProgram::Evaluate(copy.data(), copy.size() * 4, files.Get());
}

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

const Arg kIn0{3, 0}, kIn1{3, 4}, kC0{2, 0}, kOut{4, 0};

// --- The operation table ------------------------------------------------------------

struct OpCase {
  const char* name;
  std::uint32_t op;
  int inputs;
  std::function<double(double, double, double)> expected;
};

TEST(GxlExprOperations, EveryOperationAgreesWithLibm) {
  const OpCase cases[] = {
      {"mov", kMov, 1, [](double a, double, double) { return a; }},
      {"neg", kNeg, 1, [](double a, double, double) { return -a; }},
      {"rcp", kRcp, 1, [](double a, double, double) { return 1.0 / a; }},
      {"frac", kFrac, 1, [](double a, double, double) { return a - std::floor(a); }},
      {"exp", kExp, 1, [](double a, double, double) { return std::pow(2.0, a); }},
      {"log", kLog, 1, [](double a, double, double) { return a == 0 ? 0.0 : std::log(std::fabs(a)) / std::log(2.0); }},
      {"rsq", kRsq, 1, [](double a, double, double) { return 1.0 / std::sqrt(std::fabs(a)); }},
      {"sin", kSin, 1, [](double a, double, double) { return std::sin(a); }},
      {"cos", kCos, 1, [](double a, double, double) { return std::cos(a); }},
      {"asin", kAsin, 1, [](double a, double, double) { return std::asin(a); }},
      {"acos", kAcos, 1, [](double a, double, double) { return std::acos(a); }},
      {"atan", kAtan, 1, [](double a, double, double) { return std::atan(a); }},
      {"min", kMin, 2, [](double a, double b, double) { return b <= a ? b : a; }},
      {"max", kMax, 2, [](double a, double b, double) { return a <= b ? b : a; }},
      {"lt", kLt, 2, [](double a, double b, double) { return a < b ? 1.0 : 0.0; }},
      {"ge", kGe, 2, [](double a, double b, double) { return a >= b ? 1.0 : 0.0; }},
      {"add", kAdd, 2, [](double a, double b, double) { return a + b; }},
      {"mul", kMul, 2, [](double a, double b, double) { return a * b; }},
      {"atan2", kAtan2, 2, [](double a, double b, double) { return std::atan2(a, b); }},
      {"cmp", kCmp, 3, [](double a, double b, double c) { return a < 0 ? c : b; }},
  };
  // Rows of (a, b, c) components: signs, zeros of both signs, ties, and values
  // outside the domains of asin and acos.
  const double a[][4] = {{-2.5, -0.5, 0.0, 0.75}, {8.0, -8.0, 0.0, 1.0}, {3.0, 2.0, 0.0, -0.0}};
  const double b[][4] = {{1.5, -0.5, -0.0, 0.25}, {-1.0, 2.0, 0.0, -0.0}, {3.0, -2.0, -0.0, 0.0}};
  const double c[4] = {10.0, 20.0, 30.0, 40.0};
  for (const OpCase& op : cases) {
    for (int row = 0; row < 3; ++row) {
      Files f;
      for (int i = 0; i < 4; ++i) {
        f.inputs[i] = a[row][i];
        f.inputs[4 + i] = b[row][i];
        f.constants[i] = c[i];
      }
      std::vector<Arg> inputs = {kIn0, kIn1, kC0};
      inputs.resize(op.inputs);
      ASSERT_EQ(Evaluate(Code({{op.op, 4, inputs, kOut}}), f), S_OK) << op.name;
      for (int i = 0; i < 4; ++i) {
        const double want = op.expected(a[row][i], b[row][i], c[i]);
        if (op.op == kExp || op.op == kLog)
          EXPECT_NEAR(f.out4[i], want, 1e-15 * std::fabs(want)) << op.name << " row " << row << " component " << i;
        else
          EXPECT_PRED2(SameDouble, f.out4[i], want) << op.name << " row " << row << " component " << i;
      }
    }
  }
}

TEST(GxlExprOperations, ScalarFirstFormsAndReductions) {
  Files f;
  const double x[4] = {1.5, -2.0, 0.25, 4.0}, y[4] = {2.0, 3.0, 8.0, -1.0};
  for (int i = 0; i < 4; ++i) f.inputs[i] = x[i], f.inputs[4 + i] = y[i];
  ASSERT_EQ(Evaluate(Code({{kAdd | kScalar, 4, {kIn0, kIn1}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{3.5, 4.5, 9.5, 0.5}));
  // Reductions write component 0 only.
  f.out4.assign(4, -99.0);
  ASSERT_EQ(Evaluate(Code({{kDot | kScalar, 3, {kIn0, kIn1}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{1.5 * (2 + 3 + 8), -99, -99, -99}));
  ASSERT_EQ(Evaluate(Code({{kDot, 3, {kIn0, kIn1}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4[0], 1.5 * 2 - 2.0 * 3 + 0.25 * 8);
  // The halves of the input list multiplied pairwise.
  ASSERT_EQ(Evaluate(Code({{kDotInputs, 1, {{3, 0}, {3, 1}, {3, 4}, {3, 5}}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4[0], x[0] * y[0] + x[1] * y[1]);
  // Noise of two components: the third is 0.
  ASSERT_EQ(Evaluate(Code({{kNoise, 2, {kIn0}, kOut}}), f), S_OK);
  const Vec3 p(1.5f, -2.0f, 0.0f);
  EXPECT_EQ(f.out4[0], static_cast<double>(Noise3(&p)));
  EXPECT_EQ(f.out4[1], -99.0);
  // t0 = (1.5, -2, 0.25); t0.x = dot(t0, t0): the output is one of the inputs.
  const Arg t0{7, 0};
  ASSERT_EQ(Evaluate(Code({{kMov, 3, {kIn0}, t0}, {kDot, 3, {t0, t0}, t0}, {kMov, 4, {t0}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{1.5 * 1.5 + 4 + 0.0625, -2, 0.25, 0}));
  // The flag on an operation without a scalar-first form, or an unknown one: nothing happens.
  for (std::uint32_t op : {kMov, kNeg, kCmp, kDotInputs, 0x7FF00000u}) {
    Files g;
    ASSERT_EQ(Evaluate(Code({{op | kScalar, 4, {kIn0, kIn1, kC0}, kOut}}), g), S_OK);
    EXPECT_EQ(g.out4, std::vector<double>(4, -99.0)) << std::hex << op;
  }
}

// --- Addressing -------------------------------------------------------------------------

TEST(GxlExprAddressing, LiteralsAreTakenModuloTheirCount) {
  Files f;
  ASSERT_EQ(Evaluate(Code({{kMov, 1, {{1, 5}}, kOut}}, {10, 20, 30}), f), S_OK);
  EXPECT_EQ(f.out4[0], 30.0);
  ASSERT_EQ(Evaluate(Code({{kMov, 4, {{1, 2}}, kOut}}, {10, 20, 30}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{30, 10, 20, 30}));
}

TEST(GxlExprAddressing, RelativeTermsScaleByFourAndTruncate) {
  // The operand is constant 1 (index 1) offset by 4 x inputs[2] truncated; a
  // second term then reads constant 1 + 4 x that and offsets by 4 x its value.
  struct Case {
    const char* what;
    double index;  // inputs[2]
    bool twoTerms;
    double want;
  } cases[] = {
      {"2.7 truncates to 2: c[1 + 8]", 2.7, false, 109},
      {"-0.9 truncates to 0: c[1]", -0.9, false, 101},
      {"-1 wraps under the mask: c[(1 - 4) & 15]", -1.0, false, 113},
      {"NaN reads as 0", NAN, false, 101},
      {"huge values saturate and stay masked: c[(1 + 4 * 0x7FFFFFFF) & 15]", 1e300, false, 113},
      {"chained: c[1 + 4 * 2] = 3, then c[1 + 4 * 3]", 2.0, true, 113},
  };
  for (const Case& c : cases) {
    Files f;
    for (int i = 0; i < 16; ++i) f.constants[i] = 100 + i;
    f.inputs[2] = c.index;
    Arg source{2, 1, {{3, 2}}};
    if (c.twoTerms) {
      f.constants[9] = 3.0;
      source.terms.push_back({2, 1});
    }
    ASSERT_EQ(Evaluate(Code({{kMov, 1, {source}, kOut}}), f), S_OK) << c.what;
    EXPECT_EQ(f.out4[0], c.want) << c.what;
  }
}

TEST(GxlExprAddressing, EveryComponentIsMasked) {
  // Eight components from inputs 0-7 into output 2 of a 4-entry file: writes
  // wrap around, the later ones winning.
  Files f;
  for (int i = 0; i < 8; ++i) f.inputs[i] = i + 1;
  ASSERT_EQ(Evaluate(Code({{kMov, 8, {kIn0}, {4, 2}}}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{7, 8, 5, 6}));
  // A count far beyond every file, from a high index: temporary j last
  // receives component j + 768 (or j + 512), which reads constant j mod 16.
  for (int i = 0; i < 16; ++i) f.constants[i] = 100 + i;
  ASSERT_EQ(Evaluate(Code({{kMov, 1000, {{2, 0xFFFFFFF0u}}, {7, 0}}, {kMov, 4, {{7, 4}}, kOut}}), f), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{104, 105, 106, 107}));
}

TEST(GxlExprAddressing, TemporariesStartAtZeroOnEveryRun) {
  // o0.x = t5; t5 = 7: a second run still reads 0.
  ExpressionProgram p;
  ASSERT_EQ(Validate(p, Code({{kMov, 1, {{7, 5}}, kOut}, {kMov, 1, {{1, 0}}, {7, 5}}}, {7.0})), S_OK);
  Files f;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(p.Run(f.Get()), S_OK);
    EXPECT_EQ(f.out4[0], 0.0) << run;
  }
}

TEST(GxlExprAddressing, EachKindReachesItsOwnFileAndMissingFilesRefuseTheRun) {
  ExpressionProgram p;
  ASSERT_EQ(
      Validate(p, Code({{kMov, 2, {{9, 1}}, {4, 0}}, {kAdd, 1, {{9, 3}, kC0}, {5, 1}}, {kMov, 1, {{9, 0}}, {6, 2}}})),
      S_OK);
  Files f;
  f.cells = {0.5f, 1.5f, 2.5f, 3.5f};
  f.constants[0] = 10;
  ASSERT_EQ(p.Run(f.Get()), S_OK);
  EXPECT_EQ(f.out4, (std::vector<double>{1.5, 2.5, -99, -99}));
  EXPECT_EQ(f.out5, (std::vector<double>{-99, 13.5, -99, -99}));
  EXPECT_EQ(f.out6, (std::vector<double>{-99, -99, 0.5, -99}));
  // A file the program names may not be missing; one it does not name may.
  for (int drop = 0; drop < 4; ++drop) {
    Files g;
    ExpressionFiles files = g.Get();
    if (drop == 0) files.constants = nullptr;
    if (drop == 1) files.cells = nullptr;
    if (drop == 2) files.outputs[2] = nullptr;
    if (drop == 3) files.inputs = nullptr;
    const bool runs = drop == 3;
    EXPECT_EQ(p.CanRunWith(files), runs) << drop;
    EXPECT_EQ(p.Run(files), runs ? S_OK : E_FAIL) << drop;
    EXPECT_EQ(g.out4[0], runs ? 0.0 : -99.0) << drop;
  }
}

// --- Validation ---------------------------------------------------------------------

TEST(GxlExprValidate, RejectsMalformedCode) {
  const Words fxlcOk = FxlcData({{kMov, 4, {kIn0}, kOut}});
  const Words clitOk = ClitData({1.0});
  Words clitShort = ClitData({1.0, 2.0});
  clitShort[0] = 3;  // three literals claimed, two present
  Words fxlcShort = fxlcOk;
  fxlcShort[0] = 2;  // two instructions claimed, one present
  Words fxlcHugeTerms = FxlcData({{kMov, 4, {kIn0}, kOut}});
  fxlcHugeTerms[3] = 0xFFFFFFFF;  // the input's term count
  const std::vector<Arg> many(257, kIn0);
  struct Case {
    const char* what;
    Words code;
  } cases[] = {
      {"version 0x46580202", Code({{kMov, 4, {kIn0}, kOut}}, {}, 0x46580202)},
      {"version 0xFFFE0000", Code({{kMov, 4, {kIn0}, kOut}}, {}, 0xFFFE0000)},
      {"no CLIT block", CodeOf(kTx, &fxlcOk, nullptr)},
      {"no FXLC block", CodeOf(kTx, nullptr, &clitOk)},
      {"output of kind 3", Code({{kMov, 4, {kIn0}, {3, 0}}})},
      {"output with a relative term", Code({{kMov, 4, {kIn0}, {4, 0, {{3, 0}}}}})},
      {"input of kind 0", Code({{kMov, 4, {{0, 0}}, kOut}})},
      {"input of kind 8", Code({{kMov, 4, {{8, 0}}, kOut}})},
      {"input of kind 10", Code({{kMov, 4, {{10, 0}}, kOut}})},
      {"index term of kind 9", Code({{kMov, 4, {{3, 0, {{9, 0}}}}, kOut}})},
      {"index term of kind 8", Code({{kMov, 4, {{3, 0, {{8, 0}}}}, kOut}})},
      {"257 inputs", Code({{kDotInputs, 1, many, kOut}})},
      {"1025 components", Code({{kMov, 1025, {kIn0}, kOut}})},
      {"all 20 bits of components", Code({{kSin, 0xFFFFF, {kIn0}, kOut}})},
      {"add with one input", Code({{kAdd, 4, {kIn0}, kOut}})},
      {"cmp with two inputs", Code({{kCmp, 4, {kIn0, kIn1}, kOut}})},
      {"mov with no input", Code({{kMov, 4, {}, kOut}})},
      {"literal named with none", Code({{kMov, 1, {{1, 0}}, kOut}})},
      {"literal as an index term with none", Code({{kMov, 1, {{3, 0, {{1, 0}}}}, kOut}})},
      {"more literals claimed than stored", CodeOf(kTx, &fxlcOk, &clitShort)},
      {"more instructions claimed than stored", CodeOf(kTx, &fxlcShort, &clitOk)},
      {"a term count beyond the block", CodeOf(kTx, &fxlcHugeTerms, &clitOk)},
  };
  for (const Case& c : cases) {
    ExpressionProgram p;
    EXPECT_EQ(Validate(p, c.code), E_FAIL) << c.what;
    EXPECT_EQ(p.InstructionCount(), 0u) << c.what;
  }
  // 256 inputs, 1024 components, every version and unknown operations are accepted.
  ExpressionProgram p;
  EXPECT_EQ(Validate(p, Code({{kDotInputs, 1, std::vector<Arg>(256, kIn0), kOut}})), S_OK);
  EXPECT_EQ(Validate(p, Code({{kMov, 1024, {kIn0}, kOut}})), S_OK);
  for (std::uint32_t version : {0x46580200u, 0x46580201u, 0x54580100u}) {
    EXPECT_EQ(Validate(p, Code({{kMov, 4, {kIn0}, kOut}, {0x12300000, 4, {}, kOut}}, {}, version)), S_OK);
    EXPECT_EQ(p.InstructionCount(), 2u);
  }
  EXPECT_EQ(p.Validate(nullptr, 64), E_FAIL);
}

TEST(GxlExprValidate, EveryTruncationFailsWithoutReadingPastTheCode) {
  const Words code = Code({{kAdd, 4, {{3, 0, {{2, 1}}}, {1, 1}}, {7, 0}}, {kMov, 4, {{7, 0}}, kOut}}, {1.0, 2.0});
  for (std::size_t bytes = 0; bytes < code.size() * 4; ++bytes) {
    std::vector<std::uint8_t> copy(reinterpret_cast<const std::uint8_t*>(code.data()),
                                   reinterpret_cast<const std::uint8_t*>(code.data()) + bytes);
    ExpressionProgram p;
    // The end token is not needed once both blocks are read.
    const HRESULT want = bytes >= (code.size() - 1) * 4 ? S_OK : E_FAIL;
    EXPECT_EQ(p.Validate(copy.data(), bytes), want) << bytes;
  }
  // Code at an odd address reads the same.
  std::vector<std::uint8_t> shifted(code.size() * 4 + 1);
  std::memcpy(shifted.data() + 1, code.data(), code.size() * 4);
  ExpressionProgram p;
  EXPECT_EQ(p.Validate(shifted.data() + 1, code.size() * 4), S_OK);
  EXPECT_EQ(p.LiteralCount(), 2u);
}

TEST(GxlExprValidate, MutatedCodeNeverRunsOutsideItsFiles) {
  const Words base = Code({{kAdd, 4, {{3, 0, {{2, 1}}}, {1, 1}}, {7, 0}},
                           {kDot | kScalar, 3, {{7, 0}, {2, 4}}, {5, 1}},
                           {kCmp, 4, {{7, 0}, {1, 0}, {3, 4}}, kOut}},
                          {1.0, -2.0, 0.5});
  std::mt19937 rng(26);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    Words code = base;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) {
      std::uint32_t& w = code[1 + rng() % (code.size() - 1)];
      // A random word, one flipped bit, or a small value (a kind, count or index).
      const std::uint32_t how = rng() % 3;
      w = how == 0 ? rng() : how == 1 ? w ^ 1u << (rng() % 32) : rng() % 12;
    }
    ExpressionProgram p;
    if (Validate(p, code) != S_OK) continue;
    ++accepted;
    Files f;
    f.inputs = {NAN, 1e300, -3.0, 2.5, -1e9, 0.5, 7.0, -0.0};
    const HRESULT hr = p.Run(f.Get());
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
  }
  EXPECT_GT(accepted, 100);
}

}  // namespace
