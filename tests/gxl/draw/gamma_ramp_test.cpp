// Gamma ramps against pow from the C library.
#include "gxl/draw/gamma_ramp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gxl/tex/result_codes.h"

namespace {

const WORD* Channel(const D3DGAMMARAMP& r, int k) { return k == 0 ? r.red : k == 1 ? r.green : r.blue; }

// ((i / 255) (high - low) + low) clamped, to the power 1 / gamma, in 0..65535.
double Reference(int i, float low, float high, float gamma) {
  const double t = std::fmin(1.0, std::fmax(0.0, i / 255.0 * (double(high) - low) + low));
  return std::pow(t, 1.0 / gamma) * 65535.0;
}

TEST(GammaRamp, ValuesFollowPow) {
  const struct {
    ColorF low, high, gamma;
  } cases[] = {
      {{0, 0, 0, 1}, {1, 1, 1, 1}, {2.2f, 1.0f, 0.45f, 1}},
      {{0.1f, -0.5f, 0.25f, 0}, {0.9f, 1.5f, 0.5f, 0}, {1.8f, 3.0f, 0.7f, 0}},
      {{1, 1, 0.5f, 1}, {0, 0, 0.5f, 1}, {1.0f, 2.0f, 100.0f, 1}},  // falling, and flat
  };
  for (const auto& c : cases) {
    D3DGAMMARAMP ramp{};
    ASSERT_EQ(GXLComputeGammaRamp(&ramp, &c.low, &c.high, &c.gamma), S_OK);
    for (int k = 0; k < 3; ++k)
      for (int i = 0; i < 256; ++i) {
        const double want = Reference(i, c.low[k], c.high[k], c.gamma[k]);
        // Within the rounding to f32 of the intermediate values.
        ASSERT_NEAR(Channel(ramp, k)[i], want, 0.5 + want * 1e-6 + 0.01) << "channel " << k << " entry " << i;
      }
  }
}

TEST(GammaRamp, DefaultsCopiesAndRefusals) {
  D3DGAMMARAMP ramp{};
  ASSERT_EQ(GXLComputeGammaRamp(&ramp, nullptr, nullptr, nullptr), S_OK);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 256; ++i) ASSERT_EQ(Channel(ramp, k)[i], 257 * i) << k << " " << i;

  // Green fails after red is written; blue is left alone.
  D3DGAMMARAMP partial{};
  const ColorF gamma(2.0f, 0.0f, 1.0f, 1.0f);
  EXPECT_EQ(GXLComputeGammaRamp(&partial, nullptr, nullptr, &gamma), GXLERR_INVALIDDATA);
  EXPECT_EQ(partial.red[128], WORD(std::pow(128 / 255.0, 0.5) * 65535 + 0.5));
  EXPECT_EQ(partial.green[255], 0);
  EXPECT_EQ(partial.blue[255], 0);
  const ColorF negative(1.0f, 1.0f, -1.0f, 1.0f);
  EXPECT_EQ(GXLComputeGammaRamp(&partial, nullptr, nullptr, &negative), GXLERR_INVALIDDATA);
  EXPECT_EQ(GXLComputeGammaRamp(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);

  // A channel equal to an earlier one is its copy; values that are no number give 0.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const ColorF low(0.2f, nan, 0.2f, 0), high(0.8f, 1.0f, 0.8f, 0), g(1.5f, 1.0f, 1.5f, 0);
  ASSERT_EQ(GXLComputeGammaRamp(&ramp, &low, &high, &g), S_OK);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(ramp.blue[i], ramp.red[i]);
    ASSERT_EQ(ramp.green[i], 0);
  }
}

}  // namespace
