// Constant folding: every foldable intrinsic on random literals against the C
// library, identities of the vector and matrix intrinsics, the domain errors,
// and the conversions of folded components.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "hlsl_fixture.h"

namespace {

using namespace shadertest;

class GxlHlslFold : public HlslTest {
 protected:
  // A float literal of the given values: a scalar, a vector, or rows x n/rows.
  ParseNode* Lit(const std::vector<double>& values, std::uint32_t rows = 1) {
    const auto n = static_cast<std::uint32_t>(values.size());
    TypeNode* t = n == 1 ? Scalar(kBaseFloat) : rows == 1 ? Vec(kBaseFloat, n) : Mat(kBaseFloat, rows, n / rows);
    FoldedValue v;
    for (double x : values) v.push_back(StoreDouble(x, kComponentFloat));
    return parser.MakeLiteralNode(t, v, SourceToken{});
  }
  ParseNode* Call(const char* name, std::initializer_list<ParseNode*> args) {
    return parser.ResolveCall(Name(name), Args(args), false);
  }
  std::vector<double> Random(std::size_t n, double lo, double hi) {
    std::uniform_real_distribution<double> d(lo, hi);
    std::vector<double> v(n);
    for (double& x : v) x = d(rng);
    return v;
  }
  std::mt19937 rng{1234};
};

TEST_F(GxlHlslFold, IntrinsicsEqualTheCLibrary) {
  using F = std::function<double(double, double, double)>;
  const struct {
    const char* name;
    int arity;
    double lo, hi;
    F f;
    double tolerance = 1e-12;  // relative
  } cases[] = {
      {"abs", 1, -9, 9, [](double x, double, double) { return std::fabs(x); }},
      {"acos", 1, -1, 1, [](double x, double, double) { return std::acos(x); }},
      {"asin", 1, -1, 1, [](double x, double, double) { return std::asin(x); }},
      {"atan", 1, -9, 9, [](double x, double, double) { return std::atan(x); }},
      {"atan2", 2, -9, 9, [](double x, double y, double) { return std::atan2(x, y); }},
      {"ceil", 1, -9, 9, [](double x, double, double) { return std::ceil(x); }},
      {"floor", 1, -9, 9, [](double x, double, double) { return std::floor(x); }},
      // max, then min: with the edges reversed the upper one wins, as at run time.
      {"clamp", 3, -9, 9, [](double x, double a, double b) { return std::fmin(std::fmax(x, a), b); }},
      {"cos", 1, -9, 9, [](double x, double, double) { return std::cos(x); }},
      {"cosh", 1, -3, 3, [](double x, double, double) { return std::cosh(x); }},
      {"sin", 1, -9, 9, [](double x, double, double) { return std::sin(x); }},
      {"sinh", 1, -3, 3, [](double x, double, double) { return std::sinh(x); }},
      {"tan", 1, -1, 1, [](double x, double, double) { return std::tan(x); }},
      {"tanh", 1, -3, 3, [](double x, double, double) { return std::tanh(x); }},
      {"exp", 1, -5, 5, [](double x, double, double) { return std::exp(x); }},
      {"exp2", 1, -5, 5, [](double x, double, double) { return std::exp2(x); }},
      // The folding factors are the single-precision ones.
      {"degrees", 1, -9, 9, [](double x, double, double) { return x * 180.0 / M_PI; }, 1e-7},
      {"radians", 1, -999, 999, [](double x, double, double) { return x * M_PI / 180.0; }, 1e-7},
      {"ddx", 1, -9, 9, [](double, double, double) { return 0.0; }},
      {"fwidth", 1, -9, 9, [](double, double, double) { return 0.0; }},
      {"fmod", 2, -9, 9, [](double x, double y, double) { return std::fmod(x, y); }},
      {"frac", 1, -9, 9, [](double x, double, double) { return x - std::floor(x); }},
      {"ldexp", 2, -4, 4, [](double x, double e, double) { return x * std::exp2(e); }},
      {"lerp", 3, -9, 9, [](double a, double b, double s) { return a + s * (b - a); }},
      {"log", 1, 0.01, 99, [](double x, double, double) { return std::log(x); }},
      {"log10", 1, 0.01, 99, [](double x, double, double) { return std::log10(x); }},
      {"log2", 1, 0.01, 99, [](double x, double, double) { return std::log2(x); }},
      {"max", 2, -9, 9, [](double a, double b, double) { return std::fmax(a, b); }},
      {"min", 2, -9, 9, [](double a, double b, double) { return std::fmin(a, b); }},
      {"pow", 2, 0.1, 4, [](double x, double y, double) { return std::pow(x, y); }},
      {"round", 1, -9, 9, [](double x, double, double) { return std::floor(x + 0.5); }},
      {"rsqrt", 1, 0.01, 99, [](double x, double, double) { return 1.0 / std::sqrt(x); }},
      {"sqrt", 1, 0, 99, [](double x, double, double) { return std::sqrt(x); }},
      {"saturate", 1, -2, 2, [](double x, double, double) { return std::fmin(1.0, std::fmax(0.0, x)); }},
      {"sign", 1, -9, 9, [](double x, double, double) { return x < 0   ? -1.0
                                                               : x > 0 ? 1.0
                                                                       : 0.0; }},
      {"step", 2, -9, 9, [](double a, double x, double) { return x >= a ? 1.0 : 0.0; }},
      // Edges in either order: the clamped ratio the code computes.
      {"smoothstep", 3, -9, 9,
       [](double a, double b, double x) {
         const double t = std::clamp((x - a) / (b - a), 0.0, 1.0);
         return t * t * (3.0 - 2.0 * t);
       }},
      {"isfinite", 1, -9, 9, [](double x, double, double) { return std::isfinite(x) ? 1.0 : 0.0; }},
  };
  for (const auto& c : cases) {
    for (int round = 0; round < 5; ++round) {
      std::vector<std::vector<double>> args;
      for (int k = 0; k < c.arity; ++k) args.push_back(Random(3, c.lo, c.hi));
      ParseNode* call = nullptr;
      if (c.arity == 1) call = Call(c.name, {Lit(args[0])});
      if (c.arity == 2) call = Call(c.name, {Lit(args[0]), Lit(args[1])});
      if (c.arity == 3) call = Call(c.name, {Lit(args[0]), Lit(args[1]), Lit(args[2])});
      const std::vector<double> got = Values(call);
      ASSERT_EQ(got.size(), 3u) << c.name << Log();
      for (std::size_t i = 0; i < 3; ++i) {
        const double want = c.f(args[0][i], c.arity > 1 ? args[1][i] : 0, c.arity > 2 ? args[2][i] : 0);
        EXPECT_NEAR(got[i], want, c.tolerance * std::fmax(1.0, std::fabs(want))) << c.name << " " << args[0][i];
      }
    }
  }
  EXPECT_EQ(Log(), "<null>");
  // The folding factor of degrees is the table's, not 180/pi.
  EXPECT_EQ(Values(Call("degrees", {Lit({1})})), (std::vector<double>{57.29577791868205}));
  EXPECT_EQ(Values(Call("radians", {Lit({1})})), (std::vector<double>{0.017453293005625408}));
}

TEST_F(GxlHlslFold, VectorAndMatrixIdentities) {
  auto matrix = [&](std::uint32_t n) { return Random(n * n, -2, 2); };
  for (std::uint32_t n = 1; n <= 4; ++n) {
    std::vector<double> identity(n * n, 0.0);
    for (std::uint32_t i = 0; i < n; ++i) identity[i * n + i] = 1.0;
    ParseNode* id = n == 1 ? Lit({1}) : Lit(identity, n);
    EXPECT_EQ(Values(Call("determinant", {id})), (std::vector<double>{1})) << n;
    const std::vector<double> a = matrix(n), b = matrix(n);
    ParseNode* A = n == 1 ? Lit(a) : Lit(a, n);
    ParseNode* B = n == 1 ? Lit(b) : Lit(b, n);
    const double detA = Values(Call("determinant", {A}))[0];
    const double detB = Values(Call("determinant", {B}))[0];
    const std::vector<double> detAB = Values(Call("determinant", {Call("mul", {A, B})}));
    ASSERT_EQ(detAB.size(), 1u) << Log();
    EXPECT_NEAR(detAB[0], detA * detB, 1e-9) << n;
    EXPECT_EQ(Values(Call("transpose", {Call("transpose", {A})})), a);
  }
  // A non-square transpose and a row-vector product agree with each other.
  const std::vector<double> m = Random(6, -2, 2), v = Random(2, -2, 2);
  EXPECT_EQ(TypeText(TypeOf(Call("transpose", {Lit(m, 2)}))), "float3x2");
  std::vector<double> vm = Values(Call("mul", {Lit(v), Lit(m, 2)}));
  std::vector<double> mtv = Values(Call("mul", {Call("transpose", {Lit(m, 2)}), Lit(v)}));
  ASSERT_EQ(vm.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(vm[i], mtv[i], 1e-12);
  }

  for (int round = 0; round < 20; ++round) {
    const std::vector<double> a = Random(3, -5, 5), b = Random(3, -5, 5);
    EXPECT_NEAR(Values(Call("dot", {Call("cross", {Lit(a), Lit(b)}), Lit(a)}))[0], 0.0, 1e-9);
    ParseNode* unit = Call("normalize", {Lit(a)});
    EXPECT_NEAR(Values(Call("length", {unit}))[0], 1.0, 1e-12);
    EXPECT_NEAR(Values(Call("distance", {Lit(a), Lit(b)}))[0],
                std::sqrt(Values(Call("dot", {Lit({a[0] - b[0], a[1] - b[1], a[2] - b[2]}),
                                              Lit({a[0] - b[0], a[1] - b[1], a[2] - b[2]})}))[0]),
                1e-12);
    const std::vector<double> twice = Values(Call("reflect", {Call("reflect", {Lit(b), unit}), unit}));
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(twice[i], b[i], 1e-9);
    }
    // A ratio of 1 leaves a ray that meets the surface from outside unchanged.
    const double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    ParseNode* n = d <= 0 ? unit : parser.MakeOperator(kExprNegate, unit, nullptr);
    const std::vector<double> same = Values(Call("refract", {Lit(b), n, Lit({1})}));
    ASSERT_EQ(same.size(), 3u) << Log();
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(same[i], b[i], 1e-9);
    }
    const double lo = std::fmin(a[0], b[0]), hi = std::fmax(a[0], b[0]) + 1;
    EXPECT_EQ(Values(Call("smoothstep", {Lit({lo}), Lit({hi}), Lit({lo})})), (std::vector<double>{0}));
    EXPECT_EQ(Values(Call("smoothstep", {Lit({lo}), Lit({hi}), Lit({hi})})), (std::vector<double>{1}));
    EXPECT_NEAR(Values(Call("smoothstep", {Lit({lo}), Lit({hi}), Lit({(lo + hi) / 2})}))[0], 0.5, 1e-12);
    // Reversed edges fall: 1 below both, 0 above both; equal edges step at the edge.
    EXPECT_EQ(Values(Call("smoothstep", {Lit({hi}), Lit({lo}), Lit({lo - 1})})), (std::vector<double>{1}));
    EXPECT_EQ(Values(Call("smoothstep", {Lit({hi}), Lit({lo}), Lit({hi + 1})})), (std::vector<double>{0}));
    EXPECT_EQ(Values(Call("smoothstep", {Lit({lo}), Lit({lo}), Lit({lo})})), (std::vector<double>{1}));
    EXPECT_EQ(Values(Call("smoothstep", {Lit({lo}), Lit({lo}), Lit({lo - 1})})), (std::vector<double>{0}));
  }
  EXPECT_EQ(Values(Call("normalize", {Lit({0, 0, 0})})), (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(Values(Call("lit", {Lit({2}), Lit({3}), Lit({2})})), (std::vector<double>{1, 2, 9, 1}));
  EXPECT_EQ(Values(Call("lit", {Lit({-2}), Lit({3}), Lit({2})})), (std::vector<double>{1, 0, 0, 1}));
  EXPECT_EQ(Values(Call("dst", {Lit({1, 2, 3, 4}), Lit({5, 6, 7, 8})})), (std::vector<double>{1, 12, 3, 8}));
  EXPECT_EQ(Values(Call("D3DCOLORtoUBYTE4", {Lit({0, 0.5, 1, 1})})), (std::vector<double>{255, 127, 0, 255}));
  EXPECT_EQ(Values(Call("faceforward", {Lit({1, 2}), Lit({1, 0}), Lit({1, 0})})), (std::vector<double>{-1, -2}));
  EXPECT_EQ(Values(Call("all", {Lit({1, 0, 2})})), (std::vector<double>{0}));
  EXPECT_EQ(Values(Call("any", {Lit({1, 0, 2})})), (std::vector<double>{1}));
  EXPECT_EQ(Log(), "<null>");
}

TEST_F(GxlHlslFold, DomainErrorsStillFold) {
  const struct {
    ParseNode* expression;
    const char* message;
  } cases[] = {
      {Call("sqrt", {Lit({-1})}), "error X3031: imaginary square root"},
      {Call("rsqrt", {Lit({0})}), "error X3033: division by zero"},
      {Call("rsqrt", {Lit({-4})}), "error X3031: imaginary square root"},
      {Call("log", {Lit({0})}), "error X3032: infinite/indefinite log"},
      {Call("log2", {Lit({-1})}), "error X3032: infinite/indefinite log"},
      {Call("acos", {Lit({2})}), "error X3070: indefinite acos"},
      {Call("asin", {Lit({-2})}), "error X3071: indefinite asin"},
      {Call("pow", {Lit({-1}), Lit({0.5})}), "error X3032: indefinite power"},
      {parser.MakeOperator(kExprDivide, Int(7), Int(0)), "error X3033: division by zero"},
      {parser.MakeOperator(kExprModulo, Float(7), Int(0)), "error X3033: division by zero"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(parser.IsLiteral(c.expression)) << c.message;
    EXPECT_TRUE(Logged(c.message)) << c.message;
  }
  // The integer quotient of 7 / 0 is stored through the 64-bit truncation: 0.
  EXPECT_EQ(Values(cases[8].expression), (std::vector<double>{0}));
  EXPECT_TRUE(std::isnan(Values(cases[9].expression)[0]));
}

TEST_F(GxlHlslFold, OperatorsAccessAndLiteralDimensions) {
  EXPECT_EQ(Values(parser.MakeOperator(kExprDivide, Int(7), Int(2))), (std::vector<double>{3}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprDivide, Float(7), Int(2))), (std::vector<double>{3.5}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprModulo, Float(5), Float(3))), (std::vector<double>{2}));
  ParseNode* seven = Declare("x", Scalar(kBaseFloat), 0, parser.MakeOperator(kExprDivide, Int(7), Int(2)));
  EXPECT_EQ(Values(VariableOf(seven)->nodes[2]), (std::vector<double>{3}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprNot, Lit({0, 2}), nullptr)), (std::vector<double>{1, 0}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprLessEqual, Lit({1, 2}), Lit({2}))), (std::vector<double>{1, 1}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprOr, Bool(false), Int(0))), (std::vector<double>{0}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprSequence, Int(4), Int(5))), (std::vector<double>{4}));
  // Unsigned meeting signed is signed: the low 32 bits of 4294967294.
  EXPECT_EQ(Values(parser.MakeOperator(kExprSubtract, Int(0xFFFFFFFFu), Int(1))), (std::vector<double>{-2}));
  EXPECT_EQ(Values(parser.MakeOperator(kExprSubtract, Int(0xFFFFFFFFu), Int(1, kTokenIntU))),
            (std::vector<double>{4294967294.0}));

  ParseNode* v = Lit({1, 2, 3, 4});
  EXPECT_EQ(Values(parser.MakeIndex(v, Int(2))), (std::vector<double>{3}));
  EXPECT_EQ(Values(parser.MakeIndex(Lit({1, 2, 3, 4, 5, 6}, 2), Int(1))), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(Values(parser.MakeSelection(v, Name("wzx"))), (std::vector<double>{4, 3, 1}));
  EXPECT_EQ(Values(parser.MakeSelection(Lit({1, 2, 3, 4}, 2), Name("_m10_m01"))), (std::vector<double>{3, 2}));
  EXPECT_EQ(Values(parser.MakeConditional(Lit({1, 0}), Lit({5, 6}), Lit({7, 8}))), (std::vector<double>{5, 8}));
  EXPECT_EQ(Values(parser.MakeConditional(Int(0), Lit({5, 6}), Int(1))), (std::vector<double>{1, 1}));
  // Casts keep the first components; a matrix keeps each row's first columns.
  EXPECT_EQ(Values(parser.MakeConstructor(Vec(kBaseFloat, 2), v, true, false)), (std::vector<double>{1, 2}));
  EXPECT_EQ(Values(parser.MakeConstructor(Mat(kBaseFloat, 2, 2), Lit({1, 2, 3, 4, 5, 6, 7, 8, 9}, 3), true, false)),
            (std::vector<double>{1, 2, 4, 5}));
  EXPECT_EQ(Values(parser.MakeConstructor(Vec(kBaseInt, 3), Args({Lit({-0.5, 2.9999995}), Float(-2.5)}), false, false)),
            (std::vector<double>{0, 3, -2}));

  std::int32_t n = 0;
  EXPECT_EQ(parser.EvaluateLiteralInt(Float(2.9999995), &n), S_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(parser.EvaluateLiteralInt(Float(2.999), &n), S_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(parser.EvaluateLiteralInt(Lit({1, 2}), &n), E_FAIL);
  EXPECT_EQ(TypeText(VariableOf(Declare("a", Scalar(kBaseFloat), 0, nullptr, {Float(2.9999995)}))->nodes[0]),
            "float[3]");

  // Calls that never fold stay calls.
  Declare("s", Obj(22));
  for (ParseNode* call :
       {Call("tex2D", {Var("s"), Lit({0.5, 0.5})}), Call("clip", {Lit({1})}), Call("noise", {Lit({1, 2})})}) {
    ASSERT_NE(call, nullptr) << Log();
    EXPECT_EQ(E(call)->op, kExprIntrinsic);
  }
  EXPECT_EQ(Log(), "<null>");
}

TEST_F(GxlHlslFold, ComponentConversions) {
  const double nan = std::nan("");
  for (double v : {nan, double{INFINITY}, -double{INFINITY}, 1e19, -1e19, 9223372036854775808.0}) {
    EXPECT_EQ(TruncToInt64(v), INT64_MIN) << v;
  }
  EXPECT_EQ(TruncToInt64(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(TruncToInt64(4611686018427387904.0), 4611686018427387904LL);
  EXPECT_EQ(TruncToInt64(-2.9), -2);
  EXPECT_EQ(StoreDouble(nan, kComponentBool).bits, 1u);
  EXPECT_EQ(StoreDouble(0.0, kComponentBool).bits, 0u);
  EXPECT_EQ(StoreDouble(-0.5, kComponentInt).bits, 0u);
  EXPECT_EQ(StoreDouble(INFINITY, kComponentUint).bits, 0u);
  EXPECT_EQ(StoreDouble(4294967296.5, kComponentUint).bits, 0u);  // low 32 bits of 2^32
  FoldedComponent c;
  ASSERT_TRUE(ConvertComponent({kComponentUint, 0xFFFFFFFFu}, kComponentInt, &c));
  EXPECT_EQ(ComponentToDouble(c), -1.0);
  ASSERT_TRUE(ConvertComponent({kComponentInt, 0xFFFFFFFFu}, kComponentUint, &c));
  EXPECT_EQ(ComponentToDouble(c), 4294967295.0);
  EXPECT_FALSE(ConvertComponent({kComponentObject, 0}, kComponentFloat, &c));
  EXPECT_FALSE(ConvertComponent({kComponentFloat, 0}, kComponentSampler, &c));
  EXPECT_TRUE(ConvertComponent({kComponentSampler, 7}, kComponentSampler, &c));
}

}  // namespace
