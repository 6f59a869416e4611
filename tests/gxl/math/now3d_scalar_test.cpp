// The 3DNow! scalar routines (on the emulated instructions) against libm, with
// their exact edge values and their documented deviations.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>

#include "gxl/math/now3d_bodies.h"
#include "platform/cpu_3dnow.h"

namespace {

using platform::cpu::M64;
using S = gxl::math::now3d::ScalarBodies<platform::cpu::Emu3DNow>;
}  // namespace
extern template struct gxl::math::now3d::ScalarBodies<platform::cpu::Emu3DNow>;
namespace {

M64 F(float a) {
  M64 m;
  m.f[0] = m.f[1] = a;
  return m;
}
M64 I(std::int32_t n) {
  M64 m;
  m.i[0] = m.i[1] = n;
  return m;
}
std::uint32_t Bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// The largest |routine(x) - reference(x)| over n steps of [lo, hi], relative
// to max(1, |reference|).
double WorstError(float lo, float hi, const std::function<float(float)>& routine,
                  const std::function<double(double)>& reference, int n = 20000) {
  double worst = 0;
  for (int k = 0; k <= n; ++k) {
    const float x = lo + (hi - lo) * static_cast<float>(k) / static_cast<float>(n);
    const double want = reference(x);
    worst = std::fmax(worst, std::fabs(routine(x) - want) / std::fmax(1.0, std::fabs(want)));
  }
  return worst;
}

TEST(Math3DNowScalar, AgainstLibm) {
  struct Row {
    const char* name;
    float lo, hi;
    std::function<float(float)> routine;
    std::function<double(double)> reference;
    double bound;
  };
  auto lane0 = [](M64 (*f)(M64)) { return [f](float x) { return f(F(x)).f[0]; }; };
  const Row rows[] = {
      {"cos", -100, 100, lane0(S::SinCos), [](double x) { return std::cos(x); }, 1e-6},
      {"sin", -100, 100, [](float x) { return S::SinCos(F(x)).f[1]; }, [](double x) { return std::sin(x); }, 1e-6},
      {"sin both lanes", -10, 10, [](float x) { return S::Sin(F(x)).f[1]; }, [](double x) { return std::sin(x); },
       1e-6},
      {"tan", -1.5f, 1.5f, lane0(S::Tan), [](double x) { return std::tan(x); }, 2e-6},
      {"atan", -100, 100, lane0(S::Atan), [](double x) { return std::atan(x); }, 5e-7},
      {"acos", -1, 1, lane0(S::Acos), [](double x) { return std::acos(x); }, 1e-6},
      {"asin", -1, 1, lane0(S::Asin), [](double x) { return std::asin(x); }, 1e-6},
      {"log", 1e-3f, 1e3f, lane0(S::Log), [](double x) { return std::log(x); }, 1e-6},
      {"log10", 1e-3f, 1e3f, lane0(S::Log10), [](double x) { return std::log10(x); }, 1e-6},
      {"exp", -80, 80, [](float x) { return static_cast<float>(S::Exp(F(x)).f[0] / std::exp(static_cast<double>(x))); },
       [](double) { return 1.0; }, 1e-6},
      {"sqrt", 1e-3f, 1e3f, lane0(S::Sqrt), [](double x) { return std::sqrt(x); }, 1e-6},
      {"ceil", -1e6f, 1e6f, lane0(S::Ceil), [](double x) { return std::ceil(x); }, 0},
      {"floor", -1e6f, 1e6f, lane0(S::Floor), [](double x) { return std::floor(x); }, 0},
      {"modf fraction", -1e3f, 1e3f, lane0(S::Modf),
       [](double x) {
         double whole;
         return std::modf(x, &whole);
       },
       0},
      {"atan2 around the circle", -3.1f, 3.1f, [](float a) { return S::Atan2(F(std::cos(a)), F(std::sin(a))).f[0]; },
       [](double a) {
         return std::atan2(static_cast<double>(std::sin(static_cast<float>(a))),
                           static_cast<double>(std::cos(static_cast<float>(a))));
       },
       5e-7},
      {"pow", 0.1f, 10,
       [](float x) {
         const float y = x * 0.7f - 3;
         return static_cast<float>(S::Pow(F(x), F(y)).f[0] / std::pow(static_cast<double>(x), static_cast<double>(y)));
       },
       [](double) { return 1.0; }, 2e-6},
      // Next to a multiple of y the quotient may round to the other side, giving
      // y - r for r: the error is measured around the circle of length y.
      {"fmod", -100, 100,
       [](float x) {
         const double y = 3.7f, d = std::fabs(S::Fmod(F(x), F(3.7f)).f[0] - std::fmod(static_cast<double>(x), y));
         return static_cast<float>(std::fmin(d, std::fabs(d - y)));
       },
       [](double) { return 0.0; }, 2e-5},
  };
  for (const Row& r : rows) EXPECT_LE(WorstError(r.lo, r.hi, r.routine, r.reference), r.bound) << r.name;
}

TEST(Math3DNowScalar, FrexpLdexpAndModfOfNormalValues) {
  for (float x : {1.0f, -3.5f, 1e-30f, 6e37f, 0.75f, -1234.5f}) {
    int e;
    const double fraction = std::frexp(x, &e);
    const M64 r = S::Frexp(F(x));
    EXPECT_EQ(r.f[0], fraction) << x;
    EXPECT_EQ(r.i[1], e) << x;
    for (int n : {-20, 0, 7, 100}) {
      const double want = std::ldexp(static_cast<double>(x), n);
      if (std::fabs(want) < FLT_MIN || std::fabs(want) > FLT_MAX) continue;
      EXPECT_EQ(S::Ldexp(F(x), I(n)).f[0], static_cast<float>(want)) << x << " " << n;
    }
  }
  for (float x : {-3.5f, 0.75f, -1234.5f, 2e9f, -0.0f}) {  // within the int32 range
    const M64 m = S::Modf(F(x));
    double whole;
    EXPECT_EQ(m.f[0], static_cast<float>(std::modf(x, &whole))) << x;
    EXPECT_EQ(m.f[1], static_cast<float>(whole)) << x;
  }
}

// The routines' own values where they differ from libm, and the exact cases.
TEST(Math3DNowScalar, EdgeValuesAndDeviations) {
  const float pi = 3.14159274f;
  EXPECT_EQ(S::SinCos(F(0)).f[0], 1.0f);
  EXPECT_EQ(S::SinCos(F(0)).f[1], 0.0f);
  EXPECT_NEAR(S::SinCos(F(-1)).f[0], 0.5403023f, 1e-7f);  // octant 1: reflected, lanes swapped
  EXPECT_NEAR(S::SinCos(F(-1)).f[1], -0.8414710f, 1e-7f);
  EXPECT_NEAR(S::SinCos(F(2)).f[0], -0.4161468f, 1e-7f);
  EXPECT_NEAR(S::SinCos(F(2)).f[1], 0.9092974f, 1e-7f);
  EXPECT_EQ(S::Acos(F(1)).f[0], 0.0f);
  EXPECT_EQ(S::Acos(F(-1)).f[0], pi);
  EXPECT_EQ(S::Acos(F(1.0000001f)).f[0], 0.0f);  // |x| > 1 gives 0, not NaN
  EXPECT_EQ(S::Asin(F(-2)).f[0], 0.0f);
  EXPECT_NEAR(S::Acos(F(0.5f)).f[0], 1.0471976f, 1e-7f);
  EXPECT_EQ(S::Atan2(F(-1), F(0)).f[0], pi);
  EXPECT_EQ(S::Atan2(F(-1), F(-0.0f)).f[0], -pi);
  EXPECT_EQ(S::Atan2(F(0), F(1)).f[0], 1.57079637f);
  EXPECT_EQ(S::Atan2(F(-0.0f), F(0)).f[0], pi);
  EXPECT_EQ(S::Log(F(0)).f[0], -FLT_MAX);  // zero and denormals: -FLT_MAX, not -infinity
  EXPECT_EQ(S::Log(F(1e-40f)).f[0], -FLT_MAX);
  EXPECT_NEAR(S::Log(F(-2.7182817f)).f[0], 1.0f, 1e-6f);  // the sign is ignored
  EXPECT_EQ(S::Exp(F(-88)).f[0], 0.0f);
  EXPECT_EQ(S::Exp(F(89)).f[0], FLT_MAX);
  EXPECT_EQ(S::Pow(F(-2), F(3)).f[0], -8.0f);
  EXPECT_EQ(S::Pow(F(-2), F(2)).f[0], 4.0f);
  EXPECT_EQ(S::Pow(F(0), F(2)).f[0], 0.0f);
  EXPECT_EQ(S::Pow(F(2), F(200)).f[0], FLT_MAX);
  EXPECT_EQ(Bits(S::Ceil(F(-0.5f)).f[0]), Bits(-0.0f));
  EXPECT_EQ(S::Floor(F(-0.5f)).f[0], -1.0f);
  EXPECT_EQ(S::Fmod(F(5), F(0)).u[0], 0x7FFFFFFFu);
  EXPECT_EQ(S::Fmod(F(5), F(0)).u[1], 0x7FFFFFFFu);
  EXPECT_NEAR(S::Fmod(F(-5), F(3)).f[0], -2.0f, 1e-6f);
  EXPECT_EQ(S::Sqrt(F(0)).f[0], 0.0f);
  EXPECT_EQ(Bits(S::Fabs(F(-0.0f)).f[1]), 0u);
  // Frexp of zero gives (0.5, -126); Ldexp below the exponent range gives +0,
  // above it the infinity pattern with the sign of x.
  EXPECT_EQ(S::Frexp(F(0)).f[0], 0.5f);
  EXPECT_EQ(S::Frexp(F(0)).i[1], -126);
  EXPECT_EQ(Bits(S::Ldexp(F(-1), I(-200)).f[0]), 0u);
  EXPECT_EQ(S::Ldexp(F(-1), I(200)).f[0], -INFINITY);
}

}  // namespace
