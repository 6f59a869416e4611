// Half and single floats against the processor's own conversions, and the sRGB
// curves against pow.
#include <cpuid.h>
#include <immintrin.h>

#include <cmath>
#include <random>

#include "codec_test_util.h"

namespace {

using namespace codectest;

__attribute__((target("f16c"))) float HostHalfToFloat(std::uint16_t h) {
  return _mm_cvtss_f32(_mm_cvtph_ps(_mm_cvtsi32_si128(h)));
}

__attribute__((target("f16c"))) std::uint16_t HostFloatToHalf(float f) {
  return static_cast<std::uint16_t>(_mm_cvtsi128_si32(_mm_cvtps_ph(_mm_set_ss(f), _MM_FROUND_TO_NEAREST_INT)));
}

// F16C is a VEX encoding: it needs the AVX register state as well, which the
// "avx" check includes.
bool HostHasF16c() {
  unsigned a, b, c, d;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx") && __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) != 0;
}

TEST(GxlCodecFloat, HalvesReadAsTheProcessorConvertsThem) {
  if (!HostHasF16c()) GTEST_SKIP() << "the processor lacks F16C";
  std::vector<std::uint16_t> halves;
  for (std::uint32_t h = 0; h < 65536; ++h)
    if (((h >> 10) & 31) != 31) halves.push_back(static_cast<std::uint16_t>(h));  // exponent 31 is ordinary here
  std::vector<ColorF> row(halves.size());
  ImageRegion r = Region(halves.data(), D3DFMT_R16F, static_cast<std::uint32_t>(halves.size()));
  Make(r)->ReadRow(0, 0, row.data());
  for (std::size_t i = 0; i < halves.size(); ++i) {
    const float want = HostHalfToFloat(halves[i]);
    ASSERT_EQ(std::memcmp(&row[i].r, &want, 4), 0) << std::hex << halves[i];
    ASSERT_EQ(row[i].g, 1.0f);
  }
  // Exponent 31 is an ordinary exponent: 0x7BFF is 65504 and 0x7FFF is 131008.
  EXPECT_EQ(ReadTexel(D3DFMT_R16F, 0x7FFF).r, 131008.0f);
  EXPECT_EQ(ReadTexel(D3DFMT_R16F, 0xFC00).r, -65536.0f);
}

TEST(GxlCodecFloat, FloatsWriteAsTheProcessorConvertsThem) {
  if (!HostHasF16c()) GTEST_SKIP() << "the processor lacks F16C";
  std::mt19937 rng(16);
  std::uniform_real_distribution<float> magnitude(-30, 16);
  constexpr std::uint32_t kWidth = 4096;
  std::vector<ColorF> row(kWidth), wanted(kWidth);
  std::vector<std::uint16_t> image(kWidth * 4);
  for (int round = 0; round < 16; ++round) {
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 4; ++c) {
        // Magnitudes below 65520, where both conversions agree (denormals included).
        float v = std::exp2(magnitude(rng)) * ((rng() & 1) ? -1.0f : 1.0f);
        if (std::fabs(v) >= 65504.0f) v = 65504.0f;
        (&row[x].r)[c] = v;
      }
      wanted[x] = row[x];
    }
    ImageRegion r = Region(image.data(), D3DFMT_A16B16G16R16F, kWidth);
    Make(r)->WriteRow(0, 0, row.data());
    for (std::uint32_t x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(image[x * 4 + c], HostFloatToHalf((&wanted[x].r)[c])) << (&wanted[x].r)[c];
  }
}

TEST(GxlCodecFloat, OneAndTwoChannelHalvesAndFloats) {
  ColorF row[3] = {{0.5f, -2, 7, 9}, {65504, 1e-7f, 0, 0}, {-0.0f, 3, 0, 0}};
  std::uint16_t r16[3];
  Make(Region(r16, D3DFMT_R16F, 3))->WriteRow(0, 0, row);
  EXPECT_EQ(r16[0], 0x3800);
  EXPECT_EQ(r16[1], 0x7BFF);
  EXPECT_EQ(r16[2], 0x8000);
  ColorF in[2] = {{0.5f, -2, 7, 9}, {1, 2, 3, 4}};
  std::uint16_t g16r16[4];
  Make(Region(g16r16, D3DFMT_G16R16F, 2))->WriteRow(0, 0, in);
  EXPECT_EQ(g16r16[0], 0x3800);
  EXPECT_EQ(g16r16[1], 0xC000);
  EXPECT_EQ(g16r16[2], 0x3C00);
  EXPECT_EQ(g16r16[3], 0x4000);
  ColorF back[2];
  Make(Region(g16r16, D3DFMT_G16R16F, 2))->ReadRow(0, 0, back);
  EXPECT_TRUE(Near(back[0], ColorF(0.5f, -2, 1, 1), 0));
  EXPECT_TRUE(Near(back[1], ColorF(1, 2, 1, 1), 0));
}

TEST(GxlCodecFloat, FullFloatsPassUnchanged) {
  // No clamping and no rounding without sRGB.
  ColorF row[2] = {{3.5f, -2, 1e30f, -0.0f}, {1e-40f, 0.1f, -7, 2}};
  const ColorF want[2] = {row[0], row[1]};
  float image[8];
  ImageRegion r = Region(image, D3DFMT_A32B32G32R32F, 2);
  Make(r)->WriteRow(0, 0, row);
  ColorF back[2];
  Make(r)->ReadRow(0, 0, back);
  EXPECT_EQ(std::memcmp(back, want, sizeof want), 0);
  ColorF half[2] = {{3.5f, -2, 100, 0.25f}, {0.1f, 1, 1, 1}};
  std::uint16_t halves[8];
  ImageRegion h = Region(halves, D3DFMT_A16B16G16R16F, 2);
  Make(h)->WriteRow(0, 0, half);
  Make(h)->ReadRow(0, 0, back);
  EXPECT_TRUE(Near(back[0], ColorF(3.5f, -2, 100, 0.25f), 0));
}

// sRGB ----------------------------------------------------------------------

TEST(GxlCodecSrgb, CurvesFollowThePowerLaw) {
  double worstEncode = 0, worstDecode = 0;
  for (int i = 0; i <= 100000; ++i) {
    const float x = i / 100000.0f;
    worstEncode = std::max(worstEncode, std::fabs(LinearToSrgb(x) - std::pow(double(x), 1 / 2.2)));
    worstDecode = std::max(worstDecode, std::fabs(SrgbToLinear(x) - std::pow(double(x), 2.2)));
  }
  EXPECT_LT(worstEncode, 2e-3);
  EXPECT_LT(worstDecode, 2e-3);
  EXPECT_EQ(LinearToSrgb(0), 0.0f);
  EXPECT_EQ(LinearToSrgb(1), 1.0f);
  EXPECT_EQ(SrgbToLinear(1), 1.0f);
  // Outside [0, 1] the input is clamped first; NaN reads as 0.
  EXPECT_EQ(LinearToSrgb(-3), 0.0f);
  EXPECT_EQ(LinearToSrgb(7), 1.0f);
  EXPECT_EQ(SrgbToLinear(1e30f), 1.0f);
  EXPECT_EQ(SrgbToLinear(std::nanf("")), 0.0f);
  EXPECT_EQ(LinearToSrgb(std::nanf("")), 0.0f);
}

TEST(GxlCodecSrgb, TablesHoldTheCurves) {
  for (int i = 0; i < 255; ++i) {
    EXPECT_EQ(SrgbEncodeTable[i], static_cast<float>(std::pow(i / 254.0, 1 / 1.1))) << i;
    EXPECT_EQ(SrgbDecodeTable[i], static_cast<float>(std::pow(i / 254.0, 1.1))) << i;
  }
  EXPECT_EQ(SrgbEncodeTable[255], 1.0f);
  EXPECT_EQ(SrgbDecodeTable[255], 1.0f);
}

TEST(GxlCodecSrgb, CodecsEncodeOnWriteAndDecodeOnRead) {
  std::uint32_t texel = 0;
  ImageRegion r = Region(&texel, D3DFMT_A8R8G8B8, 1);
  r.srgb = 1;
  auto codec = Make(r);
  ASSERT_EQ(PreparePixelCodecPair(codec.get(), Make(Region(&texel, D3DFMT_R32F, 1)).get()), S_OK);
  ColorF c(0.2f, 0.5f, 0.9f, 0.5f);
  codec->WriteRow(0, 0, &c);
  EXPECT_NEAR((texel >> 16) & 0xFF, 255 * std::pow(0.2, 1 / 2.2), 1.0);
  EXPECT_NEAR((texel >> 8) & 0xFF, 255 * std::pow(0.5, 1 / 2.2), 1.0);
  EXPECT_EQ(texel >> 24, 128u);  // alpha is linear
  ColorF back;
  codec->ReadRow(0, 0, &back);
  EXPECT_TRUE(Near(back, ColorF(0.2f, 0.5f, 0.9f, 128.0f / 255), 0.01f)) << back;
}

TEST(GxlCodecSrgb, BothSidesSrgbUseTheSquareCurves) {
  std::uint32_t src = 0xFF80FF40, dst = 0;
  ImageRegion in = Region(&src, D3DFMT_A8R8G8B8, 1);
  in.srgb = 1;
  ImageRegion out = Region(&dst, D3DFMT_A8R8G8B8, 1);
  out.srgb = 1;
  auto reader = Make(in);
  auto writer = Make(out);
  ASSERT_EQ(PreparePixelCodecPair(writer.get(), reader.get()), S_OK);
  EXPECT_TRUE(reader->SrgbBoth());
  EXPECT_TRUE(writer->SrgbBoth());
  ColorF c;
  reader->ReadRow(0, 0, &c);
  EXPECT_FLOAT_EQ(c.r, (128.0f / 255) * (128.0f / 255));
  EXPECT_FLOAT_EQ(c.b, (64.0f / 255) * (64.0f / 255));
  writer->WriteRow(0, 0, &c);
  EXPECT_EQ(dst, src);  // square root and square undo each other within a code
}

TEST(GxlCodecSrgb, SignedFormatsEncodeOnlyTheirLuminance) {
  std::uint16_t texel = 0;
  ImageRegion r = Region(&texel, D3DFMT_L6V5U5, 1);
  r.srgb = 1;
  auto codec = Make(r);
  ASSERT_TRUE(codec->Srgb());
  ColorF c(0.5f, -0.5f, 0, 0.25f);
  codec->WriteRow(0, 0, &c);
  EXPECT_EQ(texel & 0x1F, 8u);          // U 0.5 x 15 = 7.5, as it is
  EXPECT_EQ((texel >> 5) & 0x1F, 0x19u);  // V -7.5 rounds half up, to -7
  EXPECT_NEAR(texel >> 10, 63 * std::pow(0.25, 1 / 2.2), 1.0);
}

}  // namespace
