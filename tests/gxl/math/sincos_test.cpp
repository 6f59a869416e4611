// The four-lane sine and cosine kernels of the SSE and SSE2 sets, and the
// sine, arc tangent and arc cosine kernels, against libm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "gxl/math/processor_bodies.h"

namespace {

namespace sse = gxl::math::sse;
namespace sse2 = gxl::math::sse2;

using SinCos4Fn = void (*)(const float*, float*, float*);
using SinCos1Fn = __m128 (*)(__m128);
struct Form {
  const char* name;
  SinCos4Fn sinCos4;
  SinCos1Fn sinCos1;
};
const Form kForms[] = {{"SSE", &sse::SinCos4, &sse::SinCos1}, {"SSE2", &sse2::SinCos4, &sse2::SinCos1}};

struct Four {
  alignas(16) float v[4];
};

TEST(MathSinCos, KnownValues) {
  for (const Form& f : kForms) {
    SCOPED_TRACE(f.name);
    Four a{{0.0f, 1.5707964f, 3.1415927f, 1.0f}}, s, c;
    f.sinCos4(a.v, s.v, c.v);
    const float sines[4] = {0.0f, 1.0f, -8.742278e-8f, 0.84147096f};
    const float cosines[4] = {1.0f, -4.371139e-8f, -1.0f, 0.5403023f};
    for (int i = 0; i < 4; ++i) {
      EXPECT_FLOAT_EQ(s.v[i], sines[i]) << i;
      EXPECT_FLOAT_EQ(c.v[i], cosines[i]) << i;
    }
    Four b{{-0.0f, -1.5707964f, 0.0f, 0.0f}};
    f.sinCos4(b.v, b.v, c.v);  // the sines over the angles
    EXPECT_TRUE(b.v[0] == 0.0f && std::signbit(b.v[0]));
    EXPECT_EQ(c.v[0], 1.0f);
    EXPECT_FLOAT_EQ(b.v[1], -1.0f);
    EXPECT_FLOAT_EQ(c.v[1], -4.371139e-8f);
  }
}

// Absolute error bounds against the double results, by range of the angle.
TEST(MathSinCos, AgainstLibmByRange) {
  struct Range {
    float lo, hi;
    double bound;
  };
  // Past about 1e5 the f32 products of the reduction are no longer exact, and the
  // error grows with the angle.
  const Range ranges[] = {
      {0, 0.785f, 1.2e-7}, {0.785f, 100, 1.5e-7}, {100, 1e4, 2e-7}, {1e4, 1e5, 5e-6}, {1e5, 1e6, 0.07}};
  std::mt19937 gen(11);
  for (const Form& f : kForms) {
    for (const Range& r : ranges) {
      SCOPED_TRACE(::testing::Message() << f.name << " " << r.lo << ".." << r.hi);
      std::uniform_real_distribution<float> angle(r.lo, r.hi);
      double worst = 0;
      for (int i = 0; i < 5000; ++i) {
        Four a, s, c;
        for (float& x : a.v) x = (gen() & 1) ? angle(gen) : -angle(gen);
        f.sinCos4(a.v, s.v, c.v);
        for (int k = 0; k < 4; ++k) {
          worst = std::max(worst, std::fabs(s.v[k] - std::sin(static_cast<double>(a.v[k]))));
          worst = std::max(worst, std::fabs(c.v[k] - std::cos(static_cast<double>(a.v[k]))));
        }
        // SinCos1 gives the same bits as lane 0, for one angle in every lane.
        alignas(16) float cs[4];
        _mm_store_ps(cs, f.sinCos1(_mm_set1_ps(a.v[0])));
        ASSERT_TRUE(cs[0] == c.v[0] && cs[1] == s.v[0] && cs[2] == c.v[0] && cs[3] == s.v[0]) << a.v[0];
      }
      EXPECT_LT(worst, r.bound);
    }
  }
}

TEST(MathSinCos, BothFormsGiveTheSameBits) {
  std::mt19937 gen(12);
  std::uniform_real_distribution<float> angle(-1e5f, 1e5f);
  for (int i = 0; i < 5000; ++i) {
    Four a, s1, c1, s2, c2;
    for (float& x : a.v) x = angle(gen) * ((i & 3) ? 1e-4f : 1.0f);
    sse::SinCos4(a.v, s1.v, c1.v);
    sse2::SinCos4(a.v, s2.v, c2.v);
    ASSERT_EQ(std::memcmp(&s1, &s2, sizeof s1), 0);
    ASSERT_EQ(std::memcmp(&c1, &c2, sizeof c1), 0);
  }
}

TEST(MathSinCos, SineArcTangentAndArcCosineKernels) {
  std::mt19937 gen(13);
  struct Range {
    float limit;
    double bound;
  };
  // Within pi/2 the polynomial alone; then pi in three parts; past 10000 in x87.
  for (const Range& r : {Range{1.5707964f, 2e-7}, Range{10000, 2e-6}, Range{1e5f, 2e-2}}) {
    std::uniform_real_distribution<float> x(-r.limit, r.limit);
    double worst = 0;
    for (int i = 0; i < 3000; ++i) {
      Four in, out;
      for (float& v : in.v) v = x(gen);
      _mm_store_ps(out.v, sse::Sin4(_mm_load_ps(in.v)));
      for (int k = 0; k < 4; ++k) worst = std::max(worst, std::fabs(out.v[k] - std::sin(double{in.v[k]})));
    }
    EXPECT_LT(worst, r.bound) << r.limit;
  }

  std::uniform_real_distribution<float> coord(-5, 5);
  double worst = 0;
  for (int i = 0; i < 5000; ++i) {
    Four y, x, out;
    for (int k = 0; k < 4; ++k) y.v[k] = coord(gen), x.v[k] = coord(gen);
    if (i % 50 == 0) x.v[i % 4] = 0.0f;  // outside the reduction: the x87 arc tangent
    _mm_store_ps(out.v, sse::Atan4(y.v, x.v));
    for (int k = 0; k < 4; ++k) worst = std::max(worst, std::fabs(out.v[k] - std::atan2(double{y.v[k]}, x.v[k])));
  }
  EXPECT_LT(worst, 5e-7);

  std::uniform_real_distribution<float> cosine(-1, 1);
  worst = 0;
  for (int i = 0; i < 5000; ++i) {
    Four in, out;
    for (float& v : in.v) v = cosine(gen);
    sse::TwoAcos4(in.v, out.v);
    float one;
    sse::TwoAcos1(in.v[0], &one);
    ASSERT_EQ(one, out.v[0]);
    for (int k = 0; k < 4; ++k) worst = std::max(worst, std::fabs(out.v[k] - 2 * std::acos(double{in.v[k]})));
  }
  EXPECT_LT(worst, 1e-6);
}

}  // namespace
