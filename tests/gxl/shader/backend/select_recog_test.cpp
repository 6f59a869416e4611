// Each recogniser as an identity: the program before and after the rewrite
// computes the same on random inputs (the IR kit's interpreter); the forms
// the instruction sets fix are checked, the free ones are not. Then the whole
// selection walk as slot 4 of the second phase over random programs, read by
// value and from the physical registers.
#include <cmath>

#include "../log_text.h"
#include "phase2_fixture.h"
#include "select_fixture.h"
#include "tests/support/test_util.h"

namespace selecttest {
namespace {

constexpr auto kVs20 = TestTarget::kVs20;
constexpr auto kVs30 = TestTarget::kVs30;
constexpr auto kPs20 = TestTarget::kPs20;
constexpr std::uint32_t kLerpNeedsSaturate = 0x2000000;

Values Sub(const Values& v, std::uint32_t n) { return Values(v.begin(), v.begin() + n); }
Values Lit(IrBuilder& b, double x, std::uint32_t n) { return Values(n, b.Literal(x)); }
Values Min(IrBuilder& b, const Values& x, const Values& y) { return b.Binary(kOpMin, x, y); }
Values Max(IrBuilder& b, const Values& x, const Values& y) { return b.Binary(kOpMax, x, y); }
Values Neg(IrBuilder& b, const Values& x) { return Negated(b.Program(), x); }
Values Mad(IrBuilder& b, const Values& x, const Values& y, const Values& z) {
  const auto n = static_cast<std::uint32_t>(x.size());
  return b.Emit(0x703, Concat(Concat(x, y), z), n, n);
}
// x, y and z of the inputs, n components.
#define XYZ(n) const Values x = Sub(in[0], n), y = Sub(in[1], n), z = Sub(in[2], n)

struct Case {
  const char* what;
  SelectTest::Build build;
  std::uint32_t group;  // the root's group
  Recognizer recognize;
  HRESULT want;
  std::uint32_t made;  // group of the rewritten root (0: not checked)
  TestTarget::Flavour flavour = kVs30;
  std::uint32_t capabilities = 0;  // added to the profile's
};

class GxlSelectRecog : public SelectTest {
 protected:
  void Check(const Case& c, const Inputs& inputs = Signed, std::uint32_t vectors = 1000) {
    ExpectSame(
        c.what, c.flavour, c.build,
        [&](TestTarget& t) {
          t.profileLimits.capabilities |= c.capabilities;
          const std::uint32_t at = Find(t, c.group);
          const HRESULT hr = RunAt(t, c.group, c.recognize);
          if (hr == S_OK && c.made) {
            EXPECT_TRUE(t.Instruction(at) && t.Instruction(at)->Group() == c.made) << c.what;
          }
          return hr;
        },
        c.want, inputs, vectors);
  }
};

TEST_F(GxlSelectRecog, ClampsBecomeSaturatedMoves) {
  const Case cases[] = {
      {"min(max(x, 0), 1)",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return Min(b, Max(b, x, Lit(b, 0, 3)), Lit(b, 1, 3));
       },
       kOpMin, RecognizeSaturate, S_OK, kOpMove},
      {"min(1, max(x, 0))",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return Min(b, Lit(b, 1, 2), Max(b, Lit(b, 0, 2), x));
       },
       kOpMin, RecognizeSaturate, S_OK, kOpMove},
      {"max(min(x, 1), 0)",
       [](IrBuilder& b, const Values* in) {
         XYZ(4);
         return Max(b, Min(b, x, Lit(b, 1, 4)), Lit(b, 0, 4));
       },
       kOpMax, RecognizeSaturate, S_OK, kOpMove},
      {"min(max(x, 0), 2) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return Min(b, Max(b, x, Lit(b, 0, 1)), Lit(b, 2, 1));
       },
       kOpMin, RecognizeSaturate, S_FALSE, 0},
      {"the add of min(max(x + y, 0), 1) saturates",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return Min(b, Max(b, b.Add(x, y), Lit(b, 0, 2)), Lit(b, 1, 2));
       },
       kOpMin, RecognizeSaturate, S_OK, 0},
      {"cmp(max(x, 0) - 1, 1, max(x, 0))",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values inner = b.Select(x, x, Lit(b, 0, 2));
         return b.Select(b.Add(Lit(b, -1, 2), inner), Lit(b, 1, 2), b.Select(x, x, Lit(b, 0, 2)));
       },
       kOpSelect, RecognizeSaturate, S_OK, kOpMove},
      {"cmp(min(x, 1), min(x, 1), 0)",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values a = b.Select(b.Add(x, Lit(b, -1, 3)), Lit(b, 1, 3), x);
         const Values c = b.Select(b.Add(x, Lit(b, -1, 3)), Lit(b, 1, 3), x);
         return b.Select(a, c, Lit(b, 0, 3));
       },
       kOpSelect, RecognizeSaturate, S_OK, kOpMove},
      {"cmp(1 - max(x, 0), max(x, 0), 1)",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         const Values inner = b.Select(x, x, Lit(b, 0, 1));
         return b.Select(b.Add(Neg(b, inner), Lit(b, 1, 1)), b.Select(x, x, Lit(b, 0, 1)), Lit(b, 1, 1));
       },
       kOpSelect, RecognizeSaturate, S_OK, kOpMove},
  };
  for (const Case& c : cases) Check(c);
}

// Profiles without minimum and maximum write each clamp half as a compare.
// Every outer half composed with every inner half: a minimum over a maximum
// (or the reverse) of the bounds 1 and 0 saturates, equal kinds stay.
TEST_F(GxlSelectRecog, ClampsWrittenAsComparesSaturate) {
  constexpr std::uint32_t kClampsAsCompares = 0x400000;
  using HalfBuild = std::function<Values(IrBuilder&, const Values&)>;
  struct Half {
    const char* what;
    bool isMin;
    HalfBuild build;
    bool direct = false;  // cmp(x, x, 0), which pattern 9 and 11 nest without the profile
  };
  auto lit = [](IrBuilder& b, double x, const Values& like) {
    return Lit(b, x, static_cast<std::uint32_t>(like.size()));
  };
  const Half inner[] = {
      {"cmp(x, x, 0)", false, [&](IrBuilder& b, const Values& x) { return b.Select(x, x, lit(b, 0, x)); }, true},
      {"max(x, 0)", false, [&](IrBuilder& b, const Values& x) { return Max(b, x, lit(b, 0, x)); }},
      {"max7(0, x)", false,
       [&](IrBuilder& b, const Values& x) {
         const auto n = static_cast<std::uint32_t>(x.size());
         return b.Emit(0x70C, Concat(lit(b, 0, x), x), n, n);
       }},
      {"cmp(x + -0, x, 0)", false,
       [&](IrBuilder& b, const Values& x) { return b.Select(b.Add(x, lit(b, -0.0, x)), x, lit(b, 0, x)); }},
      {"cmp(x + 0.5, x + 0.5, 0)", false,
       [&](IrBuilder& b, const Values& x) {
         return b.Select(b.Add(x, lit(b, 0.5, x)), b.Add(lit(b, 0.5, x), x), lit(b, 0, x));
       }},
      {"cmp(x - 1, 1, x)", true,
       [&](IrBuilder& b, const Values& x) { return b.Select(b.Add(x, lit(b, -1, x)), lit(b, 1, x), x); }},
      {"cmp(1 - x, x, 1)", true,
       [&](IrBuilder& b, const Values& x) { return b.Select(b.Add(lit(b, 1, x), Neg(b, x)), x, lit(b, 1, x)); }},
      {"min(x, 1)", true, [&](IrBuilder& b, const Values& x) { return Min(b, x, lit(b, 1, x)); }},
      {"cmp(x - 0.5, 1, x + 0.5)", true,
       [&](IrBuilder& b, const Values& x) {
         return b.Select(b.Add(x, lit(b, -0.5, x)), lit(b, 1, x), b.Add(x, lit(b, 0.5, x)));
       }},
  };
  const Half outer[] = {
      {"cmp(y - 1, 1, y)", true,
       [&](IrBuilder& b, const Values& y) { return b.Select(b.Add(y, lit(b, -1, y)), lit(b, 1, y), y); }},
      {"cmp(-1 + y, 1, y)", true,
       [&](IrBuilder& b, const Values& y) { return b.Select(b.Add(lit(b, -1, y), y), lit(b, 1, y), y); }},
      {"cmp(1 - y, y, 1)", true,
       [&](IrBuilder& b, const Values& y) { return b.Select(b.Add(lit(b, 1, y), Neg(b, y)), y, lit(b, 1, y)); }},
      {"cmp(y + -0, y, 0)", false,
       [&](IrBuilder& b, const Values& y) { return b.Select(b.Add(y, lit(b, -0.0, y)), y, lit(b, 0, y)); }},
      {"cmp(0 - y, 0, y)", false,
       [&](IrBuilder& b, const Values& y) { return b.Select(b.Add(lit(b, 0, y), Neg(b, y)), lit(b, 0, y), y); }},
  };
  std::uint32_t k = 0;
  for (const Half& o : outer)
    for (const Half& i : inner) {
      const std::uint32_t n = 1 + k++ % 4;
      const bool clamp = o.isMin != i.isMin;
      for (bool profile : {true, false}) {
        const std::string what = std::string(o.what) + " of y = " + i.what + (profile ? "" : ", other profiles");
        const bool nested = o.isMin && i.direct;  // patterns 9 and 11
        Check({what.c_str(), [&](IrBuilder& b, const Values* in) { return o.build(b, i.build(b, Sub(in[0], n))); },
               kOpSelect, RecognizeSaturate, clamp && (profile || nested) ? S_OK : S_FALSE, kOpMove, kPs20,
               profile ? kClampsAsCompares : 0u},
              Signed, 200);
      }
    }
  // Bounds, modifiers and sharing that must hold for each component.
  const Case cases[] = {
      {"cmp(y - 2, 2, y) of y = cmp(x, x, 0) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values m = b.Select(x, x, Lit(b, 0, 2));
         return b.Select(b.Add(m, Lit(b, -2, 2)), Lit(b, 2, 2), m);
       },
       kOpSelect, RecognizeSaturate, S_FALSE, 0, kPs20, kClampsAsCompares},
      {"cmp(y - 1, 1, y) of y = max(x, 0.5) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values m = Max(b, x, Lit(b, 0.5, 3));
         return b.Select(b.Add(m, Lit(b, -1, 3)), Lit(b, 1, 3), m);
       },
       kOpSelect, RecognizeSaturate, S_FALSE, 0, kPs20, kClampsAsCompares},
      {"cmp(-y - 1, 1, -y) of y = max(x, 0) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values m = Neg(b, Max(b, x, Lit(b, 0, 2)));
         return b.Select(b.Add(m, Lit(b, -1, 2)), Lit(b, 1, 2), m);
       },
       kOpSelect, RecognizeSaturate, S_FALSE, 0, kPs20, kClampsAsCompares},
      {"cmp(y - 1, 1, y) of y = max(x, 0) from two instructions stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values m = Concat(Max(b, Sub(x, 1), Lit(b, 0, 1)), Max(b, Values{x[1]}, Lit(b, 0, 1)));
         return b.Select(b.Add(m, Lit(b, -1, 2)), Lit(b, 1, 2), m);
       },
       kOpSelect, RecognizeSaturate, S_FALSE, 0, kPs20, kClampsAsCompares},
      {"cmp(y - 1, 1, y) of y = max(x, 0) read elsewhere too",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values m = Max(b, x, Lit(b, 0, 3));
         return Concat(b.Select(b.Add(m, Lit(b, -1, 3)), Lit(b, 1, 3), m), b.Add(m, y));
       },
       kOpSelect, RecognizeSaturate, S_OK, kOpMove, kPs20, kClampsAsCompares},
      {"cmp(y - 1, 1, y) of y.yx = max(x, 0)",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values m = Max(b, x, Lit(b, 0, 2));
         const Values swizzled = {m[1], m[0]};
         return b.Select(b.Add(swizzled, Lit(b, -1, 2)), Lit(b, 1, 2), swizzled);
       },
       kOpSelect, RecognizeSaturate, S_OK, kOpMove, kPs20, kClampsAsCompares},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(GxlSelectRecog, MinimumMaximumAndAbsoluteFromCompares) {
  const Case cases[] = {
      {"cmp(x, 0, x) is min",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return b.Select(x, Lit(b, 0, 3), x);
       },
       kOpSelect, RecognizeMinMaxFromCompare, S_OK, 0x70B},
      {"cmp(x, x, 0) is max",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Select(x, x, Lit(b, 0, 2));
       },
       kOpSelect, RecognizeMinMaxFromCompare, S_OK, 0x70C},
      {"cmp(x - y, x, y) is max",
       [](IrBuilder& b, const Values* in) {
         XYZ(4);
         return b.Select(b.Add(x, Neg(b, y)), x, y);
       },
       kOpSelect, RecognizeMinMaxFromCompare, S_OK, 0x70C},
      {"cmp(-y + x, y, x) is min",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Select(b.Add(Neg(b, y), x), y, x);
       },
       kOpSelect, RecognizeMinMaxFromCompare, S_OK, 0x70B},
      {"cmp(x - y, x, z) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return b.Select(b.Add(x, Neg(b, y)), x, z);
       },
       kOpSelect, RecognizeMinMaxFromCompare, S_FALSE, 0},
      {"cmp(x + 0.5, 2, x + 2.5) is min",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Select(b.Add(x, Lit(b, 0.5, 2)), Lit(b, 2, 2), b.Add(Lit(b, 2.5, 2), x));
       },
       kOpSelect, RecognizeMinMaxFromCompareSums, S_OK, 0x70B},
      {"cmp(x + 0.5, x + 2.5, 2) is max",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return b.Select(b.Add(x, Lit(b, 0.5, 3)), b.Add(x, Lit(b, 2.5, 3)), Lit(b, 2, 3));
       },
       kOpSelect, RecognizeMinMaxFromCompareSums, S_OK, 0x70C},
      {"cmp(x + 0.5, 3, x + 2.5) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return b.Select(b.Add(x, Lit(b, 0.5, 1)), Lit(b, 3, 1), b.Add(x, Lit(b, 2.5, 1)));
       },
       kOpSelect, RecognizeMinMaxFromCompareSums, S_FALSE, 0},
      {"max(x, -x) is abs",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return Max(b, x, Neg(b, x));
       },
       kOpMax, RecognizeAbsFromMax, S_OK, 0x700},
      {"max(x, -y) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return Max(b, x, Neg(b, y));
       },
       kOpMax, RecognizeAbsFromMax, S_FALSE, 0},
      {"cmp(x, x, -x) is abs",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Select(x, x, Neg(b, x));
       },
       kOpSelect, RecognizeAbsFromCompare, S_OK, 0x700},
      {"cmp(-x, -x, x) is abs",
       [](IrBuilder& b, const Values* in) {
         XYZ(4);
         const Values n = Neg(b, x);
         return b.Select(n, n, x);
       },
       kOpSelect, RecognizeAbsFromCompareNegated, S_OK, 0x700},
  };
  for (const Case& c : cases) Check(c);
}

// A minimum or maximum whose argument lies in the result's register is left
// as the compare, whichever argument it is.
TEST_F(GxlSelectRecog, MinimumMaximumRefusedOverTheirResultRegister) {
  struct Row {
    const char* what;
    const char* argument;  // temporary register component holding x
    const char* result;
    bool literalFirst;  // cmp(x, 0, x) rather than cmp(x, x, 0)
    HRESULT want;
  };
  const Row rows[] = {{"r0.x into r0.y, min", "x", "y", true, S_FALSE},
                      {"r0.x into r0.y, max", "x", "y", false, S_FALSE},
                      {"r0.x into r0.x", "x", "x", false, S_FALSE}};
  for (const Row& row : rows) {
    for (std::uint32_t resultRegister : {0u, 1u}) {
      ExpectSame(
          row.what, kVs30,
          [&](IrBuilder& b, const Values* in) {
            auto& t = static_cast<TestTarget&>(b.Program());
            const Values x = t.Reg(StandardBank::Temporaries, 0, row.argument);
            t.Put(kOpMove, 1, {in[0][0]}, x);
            const Values r = t.Reg(StandardBank::Temporaries, resultRegister, row.result);
            const std::uint32_t zero = b.Literal(0);
            t.Put(kOpSelect, 1, row.literalFirst ? Values{x[0], zero, x[0]} : Values{x[0], x[0], zero}, r);
            return r;
          },
          [](TestTarget& t) { return RunAt(t, kOpSelect, RecognizeMinMaxFromCompare); },
          resultRegister == 0 ? row.want : S_OK);
    }
  }
}

TEST_F(GxlSelectRecog, PowerNormalizeDotAddAndLerp) {
  const Case cases[] = {
      {"exp(y log x) is pow",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return b.Unary(kOpExp2, b.Mul(b.Unary(kOpLog2, x), y));
       },
       kOpExp2, RecognizePower, S_OK, 0x70D},
      {"exp(log x y) is pow",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return b.Unary(kOpExp2, b.Mul(y, b.Unary(kOpLog2, x)));
       },
       kOpExp2, RecognizePower, S_OK, 0x70D},
      {"pow of width 2 stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Unary(kOpExp2, b.Mul(b.Unary(kOpLog2, x), y));
       },
       kOpExp2, RecognizePower, S_FALSE, 0},
      {"pow into an output stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(1);
         return b.Emit(kOpExp2, b.Mul(b.Unary(kOpLog2, x), y), 1, kNoIndex, StandardBank::Outputs);
       },
       kOpExp2, RecognizePower, S_FALSE, 0},
      {"x rsq(dot(x, x)) is nrm",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values r = b.Unary(kOpRsq, {b.Dot(x, x)});
         return b.Mul(Values(3, r[0]), x);
       },
       kOpMultiply, RecognizeNormalize, S_OK, 0x702},
      {"rsq(dot(x, x)) x is nrm",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values r = b.Unary(kOpRsq, {b.Dot(x, x)});
         return b.Mul(x, Values(3, r[0]));
       },
       kOpMultiply, RecognizeNormalize, S_OK, 0x702},
      {"a four-component normalize stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(4);
         const Values r = b.Unary(kOpRsq, {b.Dot(x, x)});
         return b.Mul(Values(4, r[0]), x);
       },
       kOpMultiply, RecognizeNormalize, S_FALSE, 0},
      {"y rsq(dot(x, x)) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         const Values r = b.Unary(kOpRsq, {b.Dot(x, x)});
         return b.Mul(Values(3, r[0]), y);
       },
       kOpMultiply, RecognizeNormalize, S_FALSE, 0},
      {"dot2(x, y) + z is dp2add",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Add({b.Dot(x, y)}, {z[0]});
       },
       kOpAdd, RecognizeDotAdd2, S_OK, 0x708},
      {"z - dot2(x, y) is dp2add",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return b.Add({z[0]}, Neg(b, {b.Dot(x, y)}));
       },
       kOpAdd, RecognizeDotAdd2, S_OK, 0x708},
      {"dot2(x, y) + z over two components",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const std::uint32_t d = b.Dot(x, y);
         return b.Add({d, d}, {z[1], z[1]});
       },
       kOpAdd, RecognizeDotAdd2, S_OK, 0x708},
      {"dot2 read twice stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const std::uint32_t d = b.Dot(x, y);
         return Concat(b.Add({d}, {z[0]}), b.Mul({d}, {z[1]}));
       },
       kOpAdd, RecognizeDotAdd2, S_FALSE, 0},
      {"a lone dot2 is dp2add",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return Values{b.Dot(x, y)};
       },
       kOpDot, ConvertDot2ToDotAdd2, S_OK, 0x708},
      {"mad(x - z, y, z) is lrp",
       [](IrBuilder& b, const Values* in) {
         XYZ(3);
         return Mad(b, b.Add(x, Neg(b, z)), y, z);
       },
       0x703, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }, S_OK, 0x701},
      {"mad(y, x - z, z) is lrp",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return Mad(b, y, b.Add(x, Neg(b, z)), z);
       },
       0x703, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }, S_OK, 0x701},
      {"mad(x - y, y, z) stays",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         return Mad(b, b.Add(x, Neg(b, y)), y, z);
       },
       0x703, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }, S_FALSE, 0},
      {"a saturated factor makes lrp where the profile asks for one",
       [](IrBuilder& b, const Values* in) {
         XYZ(2);
         const Values f = b.Move(y);
         for (std::uint32_t v : f) b.Program().Value(v)->binding |= 0x200;
         return Mad(b, b.Add(x, Neg(b, z)), f, z);
       },
       0x703, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }, S_OK, 0x701, kPs20, kLerpNeedsSaturate},
  };
  for (const Case& c : cases) Check(c, Positive);

  // An unsaturated factor where the profile asks for a saturated one: X4703, the mad stays.
  Check({"an unsaturated factor",
         [](IrBuilder& b, const Values* in) {
           XYZ(2);
           return Mad(b, b.Add(x, Neg(b, z)), y, z);
         },
         0x703, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }, S_FALSE, 0, kPs20, kLerpNeedsSaturate});
  EXPECT_NE(shadertest::LogText(log).find("warning X4703: cannot match lerp because lerp factor is not _sat'd"),
            std::string::npos)
      << shadertest::LogText(log);
}

TEST_F(GxlSelectRecog, LerpFromOneMinusFactor) {
  // a (1 - t) + b t, the sum of products as mad(a, 1 - t, b t).
  struct Groups {
    Values a, complement, b, t;
  } g;
  for (std::uint32_t n : {1u, 3u}) {
    ExpectSame(
        "a(1 - t) + bt", kVs30,
        [&](IrBuilder& b, const Values* in) {
          g.a = Sub(in[0], n), g.b = Sub(in[1], n), g.t = Sub(in[2], n);
          g.complement = b.Add(Lit(b, 1, n), Neg(b, g.t));
          return Mad(b, g.a, g.complement, b.Mul(g.b, g.t));
        },
        [&](TestTarget& t) {
          return RunAt(t, 0x703, [&](ShaderTarget& s) {
            return RecognizeLerp(s, g.a.data(), g.complement.data(), g.b.data(), g.t.data());
          });
        },
        S_OK);
  }
  // The factor of the complement must be the one multiplied.
  ExpectSame(
      "a(1 - t) + bu", kVs30,
      [&](IrBuilder& b, const Values* in) {
        g.a = Sub(in[0], 2), g.b = Sub(in[1], 2), g.t = Sub(in[2], 2);
        g.complement = b.Add(Lit(b, 1, 2), Neg(b, g.t));
        return Mad(b, g.a, g.complement, b.Mul(g.b, g.b));
      },
      [&](TestTarget& t) {
        return RunAt(t, 0x703, [&](ShaderTarget& s) {
          return RecognizeLerp(s, g.a.data(), g.complement.data(), g.b.data(), g.b.data());
        });
      },
      S_FALSE);
}

TEST_F(GxlSelectRecog, ScalarResultsWrittenThroughTheirMove) {
  ExpectSame(
      "rcp into o0.xy", kVs30,
      [](IrBuilder& b, const Values* in) {
        const Values r = b.Unary(kOpReciprocal, {in[0][2]});
        return b.Output(0, {r[0], r[0]});
      },
      [](TestTarget& t) {
        const HRESULT hr = RunAt(t, kOpReciprocal, FoldMoveIntoScalarResult);
        EXPECT_EQ(Find(t, kOpMove), kNoIndex) << "the move goes";
        EXPECT_EQ(t.Instruction(Find(t, kOpReciprocal))->resultCount, 2u);
        return hr;
      },
      S_OK, Positive);
  Check({"a dot read by a move and an add",
         [](IrBuilder& b, const Values* in) {
           const Values d = {b.Dot(Sub(in[0], 3), Sub(in[1], 3))};
           return Concat(b.Output(0, d), b.Add(d, {in[2][0]}));
         },
         kOpDot, FoldMoveIntoScalarResult, S_FALSE, 0});
  // Two results on one component.
  Check({"rcp into o0.x twice",
         [](IrBuilder& b, const Values* in) {
           auto& t = static_cast<TestTarget&>(b.Program());
           const Values r = b.Unary(kOpReciprocal, {in[0][2]});
           const Values out = t.Reg(StandardBank::Outputs, 0, "xx");
           t.Put(kOpMove, 2, {r[0], r[0]}, out);
           return r;
         },
         kOpReciprocal, FoldMoveIntoScalarResult, E_FAIL, 0},
        Positive);
  EXPECT_NE(shadertest::LogText(log).find("error X4822: internal error: multiple write to same output"),
            std::string::npos)
      << shadertest::LogText(log);
}

// Predicates observed through the if block they open.
Values IfOn(IrBuilder& b, const Values& test, const Values* in) {
  return b.If(
      test[0], [&] { return b.Mul({in[0][0]}, {in[1][0]}); }, [&] { return b.Add({in[0][1]}, {in[2][0]}); });
}

// Extreme magnitudes around zero, for the square and sum folds.
double Extreme(std::mt19937& rng) {
  static constexpr double kValues[] = {0.0, 1e-30, -1e-30, 1e30, -1e30, 0.5, -2.0};
  return kValues[rng() % std::size(kValues)];
}

// Runs the recognisers in turn on the last instruction of each group; each must rewrite.
std::function<HRESULT(TestTarget&)> Chain(std::initializer_list<std::pair<std::uint32_t, Recognizer>> steps) {
  std::vector<std::pair<std::uint32_t, Recognizer>> list(steps);
  return [list](TestTarget& t) {
    HRESULT hr = S_OK;
    for (const auto& [group, recognize] : list)
      if ((hr = RunAt(t, group, recognize)) != S_OK) return hr;
    return hr;
  };
}

TEST_F(GxlSelectRecog, PredicatesFromComparisons) {
  struct Row {
    const char* what;
    SelectTest::Build build;
    std::function<HRESULT(TestTarget&)> select;
    std::uint32_t made;
  };
  const auto square = [](IrBuilder& b, const Values* in) { return b.Mul({in[0][0]}, {in[0][0]}); };
  const Row rows[] = {
      {"slt", [](IrBuilder& b, const Values* in) { return IfOn(b, b.Binary(kOpLess, {in[0][0]}, {in[1][0]}), in); },
       Chain({{0x10F, RecognizePredicateComparison}}), 0x736},
      {"sge",
       [](IrBuilder& b, const Values* in) { return IfOn(b, b.Binary(kOpGreaterEqual, {in[0][0]}, {in[1][0]}), in); },
       Chain({{0x10F, RecognizePredicateComparison}}), 0x735},
      {"cmp(x + y, 1, 0)",
       [](IrBuilder& b, const Values* in) {
         return IfOn(b, b.Select(b.Add({in[0][0]}, {in[1][0]}), {b.Literal(1)}, {b.Literal(0)}), in);
       },
       Chain({{0x10F, RecognizePredicateComparison}}), 0x735},
      {"cmp(x + y, 0, 1)",
       [](IrBuilder& b, const Values* in) {
         return IfOn(b, b.Select(b.Add({in[0][0]}, {in[1][0]}), {b.Literal(0)}, {b.Literal(1)}), in);
       },
       Chain({{0x10F, RecognizePredicateComparison}}), 0x736},
      {"cmp(x, 1, 0)",
       [](IrBuilder& b, const Values* in) { return IfOn(b, b.Select({in[0][0]}, {b.Literal(1)}, {b.Literal(0)}), in); },
       Chain({{0x10F, RecognizePredicateFromCompare}}), 0x735},
      {"cmp(x, 0, 1)",
       [](IrBuilder& b, const Values* in) { return IfOn(b, b.Select({in[0][0]}, {b.Literal(0)}, {b.Literal(1)}), in); },
       Chain({{0x10F, RecognizePredicateFromCompare}}), 0x736},
      {"-(x x) < 0, then x != -x",
       [&](IrBuilder& b, const Values* in) {
         return IfOn(b, b.Binary(kOpLess, Neg(b, square(b, in)), {b.Literal(0)}), in);
       },
       Chain(
           {{0x10F, RecognizePredicateComparison}, {0x736, FoldSquareIntoComparison}, {0x737, CompareWithNegatedSelf}}),
       0x737},
      {"-(x x) >= 0",
       [&](IrBuilder& b, const Values* in) {
         return IfOn(b, b.Binary(kOpGreaterEqual, Neg(b, square(b, in)), {b.Literal(0)}), in);
       },
       Chain({{0x10F, RecognizePredicateComparison}, {0x735, FoldSquareIntoComparison}}), 0x738},
      {"-(x x) >= x x",
       [&](IrBuilder& b, const Values* in) {
         const Values s = square(b, in);
         return IfOn(b, b.Binary(kOpGreaterEqual, Neg(b, s), square(b, in)), in);
       },
       Chain({{0x10F, RecognizePredicateComparison}, {0x735, FoldSquaresIntoComparison}}), 0x738},
      {"x + y >= 0",
       [](IrBuilder& b, const Values* in) {
         return IfOn(b, b.Binary(kOpGreaterEqual, b.Add({in[0][0]}, {in[1][0]}), {b.Literal(0)}), in);
       },
       Chain({{0x10F, RecognizePredicateComparison}, {0x735, FoldSumIntoComparison}}), 0x735},
  };
  for (const Row& row : rows)
    ExpectSame(
        row.what, kVs30, row.build,
        [&](TestTarget& t) {
          const HRESULT hr = row.select(t);
          const std::uint32_t at = Find(t, row.made);
          EXPECT_NE(at, kNoIndex) << row.what;
          return hr;
        },
        S_OK, Extreme);
}

// A loop of at most five iterations counting up from 0 while `condition` holds.
Values CountWhile(IrBuilder& b, const std::function<Values()>& condition) {
  return b.Loop(
      5, {b.Literal(0)}, [&](const Values& entry) { return b.Add(entry, {b.Literal(1)}); },
      [&](const Values&) { return condition()[0]; });
}

TEST_F(GxlSelectRecog, BreaksFromComparisons) {
  struct Row {
    const char* what;
    std::function<Values(IrBuilder&, const Values*)> test;
    std::function<HRESULT(TestTarget&)> select;
    std::uint32_t made;
  };
  const auto square = [](IrBuilder& b, const Values* in) { return b.Mul({in[0][0]}, {in[0][0]}); };
  const Row rows[] = {
      {"slt", [](IrBuilder& b, const Values* in) { return b.Binary(kOpLess, {in[0][0]}, {in[1][0]}); },
       Chain({{0x114, RecognizeBreakComparison}}), 0x747},
      {"sge", [](IrBuilder& b, const Values* in) { return b.Binary(kOpGreaterEqual, {in[0][0]}, {in[1][0]}); },
       Chain({{0x114, RecognizeBreakComparison}}), 0x746},
      {"cmp(x + y, 1, 0)",
       [](IrBuilder& b, const Values* in) {
         return b.Select(b.Add({in[0][0]}, {in[1][0]}), {b.Literal(1)}, {b.Literal(0)});
       },
       Chain({{0x114, RecognizeBreakComparison}}), 0x746},
      {"-(x x) < 0",
       [&](IrBuilder& b, const Values* in) { return b.Binary(kOpLess, Neg(b, square(b, in)), {b.Literal(0)}); },
       Chain({{0x114, RecognizeBreakComparison}, {0x747, FoldSquareIntoBreak}}), 0x745},
      {"-(x x) >= 0",
       [&](IrBuilder& b, const Values* in) { return b.Binary(kOpGreaterEqual, Neg(b, square(b, in)), {b.Literal(0)}); },
       Chain({{0x114, RecognizeBreakComparison}, {0x746, FoldSquareIntoBreak}}), 0x744},
      {"-(x x) < x x",
       [&](IrBuilder& b, const Values* in) {
         const Values s = square(b, in);
         return b.Binary(kOpLess, Neg(b, s), square(b, in));
       },
       Chain({{0x114, RecognizeBreakComparison}, {0x747, FoldSquaresIntoBreak}}), 0x745},
      {"x + y < 0",
       [](IrBuilder& b, const Values* in) { return b.Binary(kOpLess, b.Add({in[0][0]}, {in[1][0]}), {b.Literal(0)}); },
       Chain({{0x114, RecognizeBreakComparison}, {0x747, FoldSumIntoBreak}}), 0x747},
  };
  for (const Row& row : rows)
    ExpectSame(
        row.what, kVs30, [&](IrBuilder& b, const Values* in) { return CountWhile(b, [&] { return row.test(b, in); }); },
        [&](TestTarget& t) {
          const HRESULT hr = row.select(t);
          EXPECT_NE(Find(t, row.made), kNoIndex) << row.what;
          EXPECT_EQ(Find(t, 0x114), kNoIndex) << row.what;
          return hr;
        },
        S_OK, Extreme, 200);
}

TEST_F(GxlSelectRecog, SinCosIntoOutputsGoesThroughATemporary) {
  for (const auto flavour : {kVs20, kVs30}) {
    ExpectSame(
        "sincos into o0", flavour,
        [](IrBuilder& b, const Values* in) {
          auto& t = static_cast<TestTarget&>(b.Program());
          // Temporaries in r2 and not yet assigned: the fresh register is r3.
          t.Put(kOpMove, 1, {in[1][0]}, t.Reg(StandardBank::Temporaries, 2, "y"));
          b.Move({in[1][1]});
          const Values out = t.Reg(StandardBank::Outputs, 0, "xyzw");
          t.Put(kOpSinCos, 4, Values(4, in[0][0]), out);
          return Sub(out, 2);
        },
        [&](TestTarget& t) {
          const HRESULT hr = RunAt(t, kOpSinCos, FixSinCosDestination);
          // From version 3.0 sincos reads no constants.
          EXPECT_EQ(t.sinCosConstants, flavour == kVs20);
          const IrInstruction* s = t.Instruction(Find(t, kOpSinCos));
          EXPECT_EQ(t.Value(s->results[0])->bank, t.StandardBankIndex(StandardBank::Temporaries));
          EXPECT_EQ(t.Value(s->results[0])->reg, 3u);
          return hr;
        },
        S_OK);
  }
}

// A profile's target whose slot 4 is the selection walk.
class SelectingTarget : public TestTarget {
 public:
  using TestTarget::TestTarget;
  HRESULT SelectInstructions() override { return SelectionWalk(*this); }
};

// Selection as slot 4 of the second phase: random programs through both
// phases give what the first phase's output gives, read by value and from
// the physical registers.
TEST_F(GxlSelectRecog, SelectionKeepsRandomProgramsResults) {
  const std::uint32_t kPrograms = nura::test::LongOrShare(2000, 300), kVectors = 2;
  std::uint32_t selected = 0;
  for (std::uint32_t seed = 1; seed <= kPrograms; ++seed) {
    // The vertex profile, and the pixel profile, whose outputs come by ordered
    // moves and whose lerp factors must be saturated.
    const TestTarget::Flavour flavour = seed % 2 ? kVs30 : kPs20;
    irkit::RandomShape shape;
    shape.steps = 8 + seed % 16;
    MessageLog runLog;
    SelectingTarget p(flavour);  // destroyed before its log
    ASSERT_EQ(p.Init(nullptr, &runLog, flavour, 0), S_OK);
    if (seed % 4 == 0) p.profileLimits.capabilities |= 0x400000;  // clamps written as compares
    const irkit::RandomProgram generated(p, seed, shape);
    ASSERT_EQ(p.Optimize(), S_OK) << seed;
    const auto want = irtest::Outputs(generated, p, kVectors);
    ASSERT_EQ(p.ScheduleAndAllocate(), S_OK) << "seed " << seed << "\n" << shadertest::LogText(runLog);
    ASSERT_EQ(runLog.ErrorCount(), 0u) << "seed " << seed << "\n" << shadertest::LogText(runLog);
    for (std::uint32_t i = 0; i < p.instructions.Count(); ++i)
      if (const IrInstruction* inst = p.Instruction(i); inst && inst->Class() == 7) ++selected;
    ASSERT_TRUE(irtest::SameOutputs(want, irtest::Outputs(generated, p, kVectors))) << "seed " << seed;
    ASSERT_TRUE(irtest::SameOutputs(
        want, irtest::Outputs(generated, p, kVectors, irkit::IrInterpreter::Mode::kPhysicalRegisters)))
        << "seed " << seed << ", physical registers";
  }
  EXPECT_GT(selected, kPrograms / 4) << "the walk hardly selected anything";
}

}  // namespace
}  // namespace selecttest
