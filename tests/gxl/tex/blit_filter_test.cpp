// The resampling strategies of the blitter: point, box halving, linear and
// triangle, in two and three dimensions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "blit_test_util.h"
#include "gxl/tex/box_kernels.h"
#include "platform/cpu.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"

namespace {

using blittest::Blit;
using blittest::Image;

constexpr std::uint32_t kF32 = D3DFMT_A32B32G32R32F;

bool NearColour(const ColorF& a, const ColorF& b, float tolerance) {
  return std::fabs(a.r - b.r) <= tolerance && std::fabs(a.g - b.g) <= tolerance &&
         std::fabs(a.b - b.b) <= tolerance && std::fabs(a.a - b.a) <= tolerance;
}

TEST(GxlBlitPoint, EnlargesByRepeatingAndShrinksBySkipping) {
  Image src(D3DFMT_A8R8G8B8, 4, 4), big(D3DFMT_A8R8G8B8, 8, 8), small(D3DFMT_A8R8G8B8, 2, 2);
  src.FillRandom(4);
  ASSERT_EQ(Blit(big, src, FilterFlags::Point | FilterFlags::OrderedDither), S_OK);
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 8; ++x) ASSERT_EQ(big.Get(x, y), src.Get(x / 2, y / 2));
  ASSERT_EQ(Blit(small, src, FilterFlags::Point), S_OK);
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 2; ++x) ASSERT_EQ(small.Get(x, y), src.Get(2 * x, 2 * y));

  // 3 -> 2 steps by 1.5 texels; slices step like rows.
  Image vol(D3DFMT_L8, 3, 3, 4), out(D3DFMT_L8, 2, 2, 2);
  vol.FillRandom(5);
  ASSERT_EQ(Blit(out, vol, FilterFlags::Point), S_OK);
  for (std::uint32_t z = 0; z < 2; ++z)
    for (std::uint32_t y = 0; y < 2; ++y)
      for (std::uint32_t x = 0; x < 2; ++x) ASSERT_EQ(out.Get(x, y, z), vol.Get(x, y, 2 * z));
}

TEST(GxlBlitBox, KernelRoundsEachFieldHalfUp) {
  Image src(D3DFMT_A8R8G8B8, 4, 2), dst(D3DFMT_A8R8G8B8, 2, 1);
  src.Set(0, 0, 0, 0);
  src.Set(1, 0, 0, 1);
  src.Set(0, 1, 0, 1);
  src.Set(1, 1, 0, 0);
  src.Set(3, 1, 0, 1);
  ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK);
  EXPECT_EQ(dst.Get(0, 0), 1u);  // (2 + 2) >> 2
  EXPECT_EQ(dst.Get(1, 0), 0u);  // (1 + 2) >> 2
}

TEST(GxlBlitBox, OrderedDitherTakesTheFloatPath) {
  Image src(D3DFMT_A8R8G8B8, 2, 2), dst(D3DFMT_A8R8G8B8, 1, 1);
  src.Set(1, 1, 0, 1);  // blue sums to 1: the kernel gives 0
  ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK);
  EXPECT_EQ(dst.Get(0, 0), 0u);
  // 0.25 plus the first ordered offset (31/32) rounds up.
  ASSERT_EQ(Blit(dst, src, FilterFlags::Box | FilterFlags::OrderedDither), S_OK);
  EXPECT_EQ(dst.Get(0, 0) & 0xFF, 1u);
}

TEST(GxlBlitBox, TheColourKeyIsAppliedWhenHalving) {
  Image src(D3DFMT_A8R8G8B8, 4, 2), dst(D3DFMT_A8R8G8B8, 2, 1);
  src.Fill(0xFF00FF00);
  src.Set(2, 0, 0, 0xFF204060);
  src.Set(3, 0, 0, 0xFF204060);
  src.Set(2, 1, 0, 0xFF204060);
  src.Set(3, 1, 0, 0xFF204060);
  ImageRegion d = dst.Region(), s = src.Region();
  s.colourKey = 0xFF00FF00;
  ImageBlitter blitter;
  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Box), S_OK);
  EXPECT_EQ(dst.Get(0, 0), 0u);
  EXPECT_EQ(dst.Get(1, 0), 0xFF204060u);
}

TEST(GxlBlitBox, OddLastRowAndColumnAreNotRead) {
  Image src(D3DFMT_A8R8G8B8, 5, 5), dst(D3DFMT_A8R8G8B8, 2, 2);
  for (std::uint32_t i = 0; i < 5; ++i) {
    src.Set(4, i, 0, 0xFFFFFFFF);
    src.Set(i, 4, 0, 0xFFFFFFFF);
  }
  ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK);
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 2; ++x) EXPECT_EQ(dst.Get(x, y), 0u);
  // The float path (a different destination format) skips them as well.
  Image grey(D3DFMT_L8, 2, 2);
  ASSERT_EQ(Blit(grey, src, FilterFlags::Box), S_OK);
  EXPECT_EQ(grey.Get(1, 1), 0u);

  // 5 -> 3 is no halving: the triangle filter reaches the last row.
  Image three(D3DFMT_A8R8G8B8, 3, 3);
  ASSERT_EQ(Blit(three, src, FilterFlags::Box), S_OK);
  EXPECT_NE(three.Get(2, 2), 0u);
  EXPECT_NE(three.Get(1, 2), 0u);
}

TEST(GxlBlitBox, SingleTexelAxesStaySingle) {
  Image column(kF32, 1, 8), half(kF32, 1, 4);
  for (std::uint32_t y = 0; y < 8; ++y) {
    const float v = static_cast<float>(y) * 0.125f;
    column.SetFloat(0, y, 0, {v, 1 - v, 0.5f, 1});
  }
  ASSERT_EQ(Blit(half, column, FilterFlags::Box), S_OK);
  for (std::uint32_t y = 0; y < 4; ++y) {
    const float v = (2 * y + 0.5f) * 0.125f;
    EXPECT_TRUE(NearColour(half.GetFloat(0, y), ColorF(v, 1 - v, 0.5f, 1), 1e-6f)) << y;
  }
}

// Every format with an integer kernel agrees with the float path (decode,
// average, encode) within one step of each field.
TEST(GxlBlitBox, IntegerKernelsMatchTheFloatPath) {
  const std::uint32_t formats[] = {D3DFMT_A8R8G8B8, D3DFMT_A8B8G8R8, D3DFMT_X8R8G8B8, D3DFMT_X8B8G8R8,
                                   D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4,
                                   D3DFMT_X4R4G4B4, D3DFMT_R3G3B2,   D3DFMT_A8R3G3B2, D3DFMT_A8,
                                   D3DFMT_L8,       D3DFMT_A8L8,     D3DFMT_A4L4};
  for (std::uint32_t format : formats) {
    ASSERT_NE(FindBoxHalveKernel(static_cast<D3DFORMAT>(format)), nullptr) << format;
    Image src(format, 18, 10), dst(format, 9, 5);
    src.FillRandom(format);
    ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK) << format;
    EXPECT_TRUE(dst.PaddingIntact()) << format;
    // The unused bits of X formats are written as 0.
    std::uint32_t unused = 0;
    if (format == D3DFMT_X8R8G8B8 || format == D3DFMT_X8B8G8R8) unused = 0xFF000000;
    if (format == D3DFMT_X1R5G5B5) unused = 0x8000;
    if (format == D3DFMT_X4R4G4B4) unused = 0xF000;
    for (std::uint32_t y = 0; y < 5; ++y)
      for (std::uint32_t x = 0; x < 9; ++x) ASSERT_EQ(dst.Get(x, y) & unused, 0u) << format;

    const std::vector<ColorF> in = src.Decode();
    const std::vector<ColorF> out = dst.Decode();
    Image ref(format, 9, 5);
    ImageRegion r = ref.Region();
    auto writer = CreatePixelCodec(r);
    ASSERT_NE(writer, nullptr);
    for (std::uint32_t y = 0; y < 5; ++y) {
      std::vector<ColorF> row(9);
      for (std::uint32_t x = 0; x < 9; ++x) {
        auto at = [&](std::uint32_t sx, std::uint32_t sy) { return in[std::size_t{sy} * 18 + sx]; };
        row[x] = (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1)) * 0.25f;
      }
      writer->WriteRow(y, 0, row.data());
    }
    const std::vector<ColorF> expected = ref.Decode();
    // One step of the coarsest field (a 1-bit alpha may differ in full).
    float step = 1.0f / 255;
    switch (format) {
      case D3DFMT_R5G6B5:
      case D3DFMT_X1R5G5B5: step = 1.0f / 31; break;
      case D3DFMT_A1R5G5B5: step = 1.0f; break;
      case D3DFMT_A4R4G4B4:
      case D3DFMT_X4R4G4B4:
      case D3DFMT_A4L4: step = 1.0f / 15; break;
      case D3DFMT_R3G3B2:
      case D3DFMT_A8R3G3B2: step = 1.0f / 3; break;
      default: break;
    }
    for (std::size_t i = 0; i < out.size(); ++i)
      ASSERT_TRUE(NearColour(out[i], expected[i], step + 1e-6f)) << "format " << format << " texel " << i;
  }
}

TEST(GxlBlitBox, VectorKernelsEqualThePlainOnes) {
  for (std::uint32_t width = 2; width <= 40; width += 2) {
    for (std::uint32_t height : {2u, 6u}) {
      Image src(D3DFMT_A8R8G8B8, width, height, 1, 4 * (width % 3));
      src.FillRandom(width * 31 + height);
      Image a(D3DFMT_A8R8G8B8, width / 2, height / 2), b(D3DFMT_A8R8G8B8, width / 2, height / 2);
      Image c(D3DFMT_A8R8G8B8, width / 2, height / 2), d(D3DFMT_A8R8G8B8, width / 2, height / 2);
      BoxHalveArgb(a.Texel(0, 0), src.Texel(0, 0), width, height, src.pitch, a.pitch);
      BoxHalveArgbVector(b.Texel(0, 0), src.Texel(0, 0), width, height, src.pitch, b.pitch);
      BoxHalveXrgb(c.Texel(0, 0), src.Texel(0, 0), width, height, src.pitch, c.pitch);
      BoxHalveXrgbVector(d.Texel(0, 0), src.Texel(0, 0), width, height, src.pitch, d.pitch);
      ASSERT_EQ(a.bytes, b.bytes) << width << "x" << height;
      ASSERT_EQ(c.bytes, d.bytes) << width << "x" << height;
      EXPECT_EQ(c.Get(0, 0) >> 24, 0u);
    }
  }
}

TEST(GxlBlitLinear, MirrorBitsReflectAndClearBitsWrap) {
  Image src(kF32, 2, 1), dst(kF32, 4, 1);
  src.SetFloat(0, 0, 0, {0, 0, 0, 1});
  src.SetFloat(1, 0, 0, {1, 1, 1, 1});
  ASSERT_EQ(Blit(dst, src, FilterFlags::Linear | FilterFlags::MirrorU), S_OK);
  const float mirrored[] = {0.0f, 0.25f, 0.75f, 1.0f};
  for (std::uint32_t x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(dst.GetFloat(x, 0).r, mirrored[x]) << x;
  ASSERT_EQ(Blit(dst, src, FilterFlags::Linear), S_OK);
  const float wrapped[] = {0.25f, 0.25f, 0.75f, 0.75f};
  for (std::uint32_t x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(dst.GetFloat(x, 0).r, wrapped[x]) << x;

  // The same along the other axes.
  Image column(kF32, 1, 2, 1), tall(kF32, 1, 4, 1);
  column.SetFloat(0, 1, 0, {1, 1, 1, 1});
  ASSERT_EQ(Blit(tall, column, FilterFlags::Linear | FilterFlags::MirrorV), S_OK);
  EXPECT_FLOAT_EQ(tall.GetFloat(0, 0).r, 0.0f);
  ASSERT_EQ(Blit(tall, column, FilterFlags::Linear), S_OK);
  EXPECT_FLOAT_EQ(tall.GetFloat(0, 0).r, 0.25f);
  Image pillar(kF32, 1, 1, 2), deep(kF32, 1, 1, 4);
  pillar.SetFloat(0, 0, 1, {1, 1, 1, 1});
  ASSERT_EQ(Blit(deep, pillar, FilterFlags::Linear | FilterFlags::MirrorW), S_OK);
  EXPECT_FLOAT_EQ(deep.GetFloat(0, 0, 0).r, 0.0f);
  EXPECT_FLOAT_EQ(deep.GetFloat(0, 0, 1).r, 0.25f);
  ASSERT_EQ(Blit(deep, pillar, FilterFlags::Linear), S_OK);
  EXPECT_FLOAT_EQ(deep.GetFloat(0, 0, 0).r, 0.25f);
}

TEST(GxlBlitTriangle, MirrorBitsKeepTheEdgesFromWrapping) {
  // A bright right edge bleeds into the left edge only when the axis wraps.
  Image src(kF32, 8, 1), dst(kF32, 4, 1);
  src.SetFloat(7, 0, 0, {1, 1, 1, 1});
  ASSERT_EQ(Blit(dst, src, FilterFlags::Triangle | FilterFlags::MirrorU), S_OK);
  EXPECT_EQ(dst.GetFloat(0, 0).r, 0.0f);
  EXPECT_NEAR(dst.GetFloat(3, 0).r, 0.5f, 1e-6f);
  ASSERT_EQ(Blit(dst, src, FilterFlags::Triangle), S_OK);
  EXPECT_NEAR(dst.GetFloat(0, 0).r, 0.0625f, 1e-6f);
  EXPECT_NEAR(dst.GetFloat(3, 0).r, 0.4375f, 1e-6f);
}

TEST(GxlBlitTriangle, ResultsAreClampedToTheSourceRange) {
  // Unsigned sources: the weights' rounding never lifts a texel above 1.
  Image white(D3DFMT_A8R8G8B8, 5, 7), out(kF32, 3, 4);
  white.Fill(0xFFFFFFFF);
  ASSERT_EQ(Blit(out, white, FilterFlags::Triangle), S_OK);
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) {
      const ColorF c = out.GetFloat(x, y);
      ASSERT_LE(std::max(std::max(c.r, c.g), std::max(c.b, c.a)), 1.0f);
      ASSERT_NEAR(c.r, 1.0f, 1e-4f);
    }
  // Float sources are not clamped; an unsigned destination clamps them itself.
  Image src(kF32, 4, 1), dst(kF32, 3, 1), bytes(D3DFMT_A8R8G8B8, 3, 1);
  for (std::uint32_t x = 0; x < 4; ++x) src.SetFloat(x, 0, 0, {4, -2, 0.5f, 1});
  ASSERT_EQ(Blit(dst, src, FilterFlags::Triangle), S_OK);
  EXPECT_NEAR(dst.GetFloat(1, 0).r, 4.0f, 1e-4f);
  EXPECT_NEAR(dst.GetFloat(1, 0).g, -2.0f, 1e-4f);
  ASSERT_EQ(Blit(bytes, src, FilterFlags::Triangle), S_OK);
  EXPECT_EQ(bytes.Get(1, 0), 0xFFFF0080u);
}

// Rows too long to hold whole are read and weighted a span at a time; the
// volume filter, which holds its rows whole, resamples a volume of two such
// images alike.
TEST(GxlBlitTriangle, RowsReadInSpansMatchRowsReadWhole) {
  constexpr std::uint32_t kWide = 3 * 65536 + 77;
  for (const std::uint32_t mirror : {0u, std::uint32_t{FilterFlags::Mirror}}) {
    SCOPED_TRACE(mirror);
    Image flat(D3DFMT_A8R8G8B8, kWide, 3), vol(D3DFMT_A8R8G8B8, kWide, 3, 2);
    flat.FillRandom(5);
    for (std::uint32_t z = 0; z < 2; ++z)
      for (std::uint32_t y = 0; y < 3; ++y) std::memcpy(vol.Texel(0, y, z), flat.Texel(0, y), std::size_t{kWide} * 4);
    Image flatOut(kF32, 997, 2), volOut(kF32, 997, 2, 1);
    ASSERT_EQ(Blit(flatOut, flat, FilterFlags::Triangle | mirror), S_OK);
    ASSERT_EQ(Blit(volOut, vol, FilterFlags::Triangle | mirror), S_OK);
    for (std::uint32_t y = 0; y < 2; ++y)
      for (std::uint32_t x = 0; x < 997; ++x)
        ASSERT_TRUE(NearColour(volOut.GetFloat(x, y), flatOut.GetFloat(x, y), 1e-5f)) << x << "," << y;
  }
}

// The AVX2 bodies (reads and writes of four-byte texels, the flat triangle
// gather) give the plain SSE2 bodies' bytes; a forced processor profile runs
// the plain ones.
TEST(GxlBlitTriangle, WideVectorsGiveThePlainBytes) {
  if (!platform::cpu::WideVectorsAvailable()) GTEST_SKIP() << "the processor has no AVX2";
  struct Case {
    std::uint32_t from, to, sw, sh, dw, dh, filter;
  };
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 640, 480, 1024, 512, FilterFlags::Triangle | FilterFlags::OrderedDither},
      {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, 37, 23, 51, 31, FilterFlags::Triangle},
      {D3DFMT_A8B8G8R8, D3DFMT_A8B8G8R8, 301, 199, 97, 61, FilterFlags::Triangle | FilterFlags::Mirror},
      {D3DFMT_X8R8G8B8, kF32, 99, 70, 255, 3, FilterFlags::Triangle | FilterFlags::MirrorU},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sw) + " x " + std::to_string(c.sh));
    Image src(c.from, c.sw, c.sh), wide(c.to, c.dw, c.dh), plain(c.to, c.dw, c.dh);
    src.FillRandom(c.sw);
    ASSERT_EQ(Blit(wide, src, c.filter), S_OK);
    ASSERT_TRUE(platform::test::ForceCpuProfile("sse2"));
    ASSERT_FALSE(platform::cpu::WideVectorsAvailable());
    const HRESULT hr = Blit(plain, src, c.filter);
    platform::test::ClearCpuForce();
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(wide.bytes, plain.bytes);
  }
}

// A constant image stays constant through every strategy and mirror mode.
TEST(GxlBlitAllStrategies, ConstantStaysConstant) {
  struct Case {
    std::uint32_t sw, sh, sd, dw, dh, dd;
  };
  const Case cases[] = {{8, 8, 1, 4, 4, 1},  {5, 5, 1, 2, 2, 1},  {3, 7, 1, 8, 2, 1}, {1, 8, 1, 1, 4, 1},
                        {8, 6, 4, 4, 3, 2},  {4, 4, 3, 7, 5, 2},  {6, 5, 1, 9, 11, 1}, {2, 2, 2, 2, 2, 5},
                        {16, 1, 1, 5, 1, 1}, {7, 3, 5, 3, 7, 2}};
  for (const Case& c : cases) {
    for (std::uint32_t kind = FilterFlags::None; kind <= FilterFlags::Box; ++kind) {
      for (std::uint32_t extra : {0u, FilterFlags::Mirror, FilterFlags::OrderedDither}) {
        Image src(D3DFMT_A8R8G8B8, c.sw, c.sh, c.sd), dst(D3DFMT_A8R8G8B8, c.dw, c.dh, c.dd);
        src.Fill(0x80C04020);
        dst.Fill(0x01010101);
        ASSERT_EQ(Blit(dst, src, kind | extra), S_OK);
        for (std::uint32_t z = 0; z < c.dd; ++z)
          for (std::uint32_t y = 0; y < c.dh; ++y)
            for (std::uint32_t x = 0; x < c.dw; ++x) {
              const bool inside = kind != FilterFlags::None || (x < c.sw && y < c.sh && z < c.sd);
              ASSERT_EQ(dst.Get(x, y, z), inside ? 0x80C04020u : 0u)
                  << "filter " << kind << " extra " << extra << " " << c.sw << "x" << c.sh << "x" << c.sd << " -> "
                  << c.dw << "x" << c.dh << "x" << c.dd << " at " << x << "," << y << "," << z;
            }
        ASSERT_TRUE(dst.PaddingIntact());
      }
    }
  }
}

// A volume whose slices are all one image resamples, slice by slice, like the
// image itself (the depth weights sum to 1).
TEST(GxlBlitAllStrategies, VolumesOfEqualSlicesMatchTheFlatResult) {
  struct Case {
    std::uint32_t filter, sw, sh, sd, dw, dh, dd;
  };
  const Case cases[] = {{FilterFlags::Box, 8, 6, 4, 4, 3, 2},
                        {FilterFlags::Box, 1, 6, 2, 1, 3, 1},
                        {FilterFlags::Linear, 5, 4, 3, 9, 7, 5},
                        {FilterFlags::Linear | FilterFlags::Mirror, 6, 6, 2, 4, 9, 3},
                        {FilterFlags::Triangle, 7, 5, 3, 4, 8, 2},
                        {FilterFlags::Triangle | FilterFlags::Mirror, 4, 6, 2, 9, 3, 5}};
  for (const Case& c : cases) {
    Image flat(kF32, c.sw, c.sh), vol(kF32, c.sw, c.sh, c.sd);
    Image flatOut(kF32, c.dw, c.dh), volOut(kF32, c.dw, c.dh, c.dd);
    std::mt19937 rng(c.filter + c.sw);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (std::uint32_t y = 0; y < c.sh; ++y)
      for (std::uint32_t x = 0; x < c.sw; ++x) {
        const float f[4] = {unit(rng), unit(rng), unit(rng), unit(rng)};
        flat.SetFloat(x, y, 0, f);
        for (std::uint32_t z = 0; z < c.sd; ++z) vol.SetFloat(x, y, z, f);
      }
    ASSERT_EQ(Blit(flatOut, flat, c.filter), S_OK);
    ASSERT_EQ(Blit(volOut, vol, c.filter), S_OK);
    for (std::uint32_t z = 0; z < c.dd; ++z)
      for (std::uint32_t y = 0; y < c.dh; ++y)
        for (std::uint32_t x = 0; x < c.dw; ++x)
          ASSERT_TRUE(NearColour(volOut.GetFloat(x, y, z), flatOut.GetFloat(x, y), 3e-5f))
              << "filter " << c.filter << " at " << x << "," << y << "," << z;
  }
}

TEST(GxlBlitBox, VolumeHalvingAveragesEightTexels) {
  Image src(kF32, 2, 2, 2), dst(kF32, 1, 1, 1);
  float sum = 0;
  for (std::uint32_t i = 0; i < 8; ++i) {
    const float v = static_cast<float>(i + 1) / 10;
    sum += v;
    src.SetFloat(i & 1, (i >> 1) & 1, i >> 2, {v, 0, 0, 1});
  }
  ASSERT_EQ(Blit(dst, src, FilterFlags::Box), S_OK);
  EXPECT_NEAR(dst.GetFloat(0, 0).r, sum / 8, 1e-6f);
  EXPECT_FLOAT_EQ(dst.GetFloat(0, 0).a, 1.0f);
}

}  // namespace
