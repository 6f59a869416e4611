// ImageBlitter::Run: its checks, the raw copy, the same-size conversion and the
// filter-none copy.
#include <gtest/gtest.h>

#include <cmath>

#include "blit_test_util.h"
#include "platform/d3d9_api.h"

namespace {

using blittest::Blit;
using blittest::Image;

TEST(GxlBlitRun, FilterWordsOutsideTheDefinedBitsAreRefused) {
  Image src(D3DFMT_A8R8G8B8, 4, 4), dst(D3DFMT_A8R8G8B8, 2, 2);
  for (std::uint32_t filter : {0u, 6u, 0x800005u, 0x80000000u, 0x10000u})
    EXPECT_EQ(Blit(dst, src, filter), D3DERR_INVALIDCALL) << std::hex << filter;
  EXPECT_EQ(Blit(dst, src, 0x7F0005), S_OK);
}

TEST(GxlBlitRun, TheFilterWordIsWrittenIntoBothRegions) {
  Image src(D3DFMT_A8R8G8B8, 4, 4), dst(D3DFMT_A8R8G8B8, 2, 2);
  ImageRegion d = dst.Region(), s = src.Region();
  d.srgb = 1;
  s.orderedDither = 7;
  ImageBlitter blitter;
  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Box | FilterFlags::OrderedDither | FilterFlags::SourceSrgb), S_OK);
  EXPECT_NE(d.orderedDither, 0u);
  EXPECT_EQ(d.errorDiffusion, 0u);
  EXPECT_EQ(d.srgb, 0u);
  EXPECT_NE(s.srgb, 0u);
  EXPECT_EQ(s.orderedDither, 7u);  // only the source's srgb word is the blitter's

  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Box | FilterFlags::ErrorDiffusion | FilterFlags::DestSrgb), S_OK);
  EXPECT_EQ(d.orderedDither, 0u);
  EXPECT_NE(d.errorDiffusion, 0u);
  EXPECT_NE(d.srgb, 0u);
  EXPECT_EQ(s.srgb, 0u);
}

TEST(GxlBlitRun, FormatsWithoutCodecFail) {
  Image src(D3DFMT_A8R8G8B8, 4, 4), dst(D3DFMT_D16, 4, 4);
  EXPECT_EQ(Blit(dst, src, FilterFlags::Point), E_FAIL);
  EXPECT_EQ(Blit(src, dst, FilterFlags::Point), E_FAIL);
}

TEST(GxlBlitRun, EmptyBoxes) {
  // Nothing to write succeeds, whatever the filter; the destination stays as it was.
  for (std::uint32_t filter = 1; filter <= 5; ++filter) {
    Image src(D3DFMT_A8R8G8B8, 4, 4), zeroWide(D3DFMT_A8R8G8B8, 0, 4), zeroHigh(D3DFMT_A8R8G8B8, 4, 0);
    EXPECT_EQ(Blit(zeroWide, src, filter), S_OK) << filter;
    EXPECT_EQ(Blit(zeroHigh, src, filter), S_OK) << filter;
    EXPECT_TRUE(zeroWide.PaddingIntact());
  }
  // Something to write from nothing fails, and writes nothing.
  for (std::uint32_t filter = 1; filter <= 5; ++filter) {
    Image empty(D3DFMT_A8R8G8B8, 0, 4), dst(D3DFMT_A8R8G8B8, 4, 4);
    dst.Fill(0x12345678);
    EXPECT_EQ(Blit(dst, empty, filter), E_FAIL) << filter;
    EXPECT_EQ(dst.Get(3, 3), 0x12345678u);
  }
  // An empty depth counts too.
  Image flat(D3DFMT_A8R8G8B8, 4, 4, 0), dst(D3DFMT_A8R8G8B8, 4, 4, 2);
  EXPECT_EQ(Blit(dst, flat, FilterFlags::Linear), E_FAIL);
}

TEST(GxlBlitRun, IdenticalFormatsAreCopiedWhateverTheDitherAndSrgbBits) {
  Image src(D3DFMT_A8R8G8B8, 7, 5, 1, 20), dst(D3DFMT_A8R8G8B8, 7, 5, 1, 8);
  src.FillRandom(1);
  const std::uint32_t filter = FilterFlags::Triangle | FilterFlags::OrderedDither | FilterFlags::ErrorDiffusion |
                               FilterFlags::SourceSrgb | FilterFlags::DestSrgb;
  ASSERT_EQ(Blit(dst, src, filter), S_OK);
  for (std::uint32_t y = 0; y < 5; ++y)
    for (std::uint32_t x = 0; x < 7; ++x) ASSERT_EQ(dst.Get(x, y), src.Get(x, y)) << x << "," << y;
  EXPECT_TRUE(dst.PaddingIntact());
}

TEST(GxlBlitRun, SubBoxesOfVolumesAreCopied) {
  Image src(D3DFMT_R5G6B5, 6, 5, 4), dst(D3DFMT_R5G6B5, 5, 4, 3);
  src.FillRandom(2);
  ImageRegion s = src.Region(), d = dst.Region();
  s.box = ImageBox{1, 1, 4, 4, 1, 3};
  d.box = ImageBox{2, 0, 5, 3, 0, 2};
  ImageBlitter blitter;
  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Point), S_OK);
  for (std::uint32_t z = 0; z < 2; ++z)
    for (std::uint32_t y = 0; y < 3; ++y)
      for (std::uint32_t x = 0; x < 3; ++x) ASSERT_EQ(dst.Get(x + 2, y, z), src.Get(x + 1, y + 1, z + 1));
  EXPECT_EQ(dst.Get(0, 0, 0), 0u);
  EXPECT_EQ(dst.Get(2, 0, 2), 0u);
  EXPECT_TRUE(dst.PaddingIntact());
}

TEST(GxlBlitRun, AColourKeyForcesAConversionBetweenIdenticalFormats) {
  Image src(D3DFMT_A8R8G8B8, 3, 2), dst(D3DFMT_A8R8G8B8, 3, 2);
  src.Fill(0xFF102030);
  src.Set(1, 1, 0, 0xFFFF00FF);
  ASSERT_EQ(Blit(dst, src, FilterFlags::None, 0xFFFF00FF), S_OK);
  EXPECT_EQ(dst.Get(1, 1), 0u);
  EXPECT_EQ(dst.Get(0, 0), 0xFF102030u);
  EXPECT_EQ(dst.Get(2, 1), 0xFF102030u);
}

TEST(GxlBlitRun, PalettizedRegionsAreCopiedOnlyWithTheSamePalette) {
  PaletteEntry grey[256], reversed[256], uniform[256], uniformCopy[256];
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    const auto r = static_cast<std::uint8_t>(255 - i);
    grey[i] = PaletteEntry{v, v, v, 255};
    reversed[i] = PaletteEntry{r, r, r, 255};
    uniform[i] = uniformCopy[i] = PaletteEntry{7, 7, 7, 255};
  }
  Image src(D3DFMT_P8, 4, 1), dst(D3DFMT_P8, 4, 1);
  for (std::uint32_t x = 0; x < 4; ++x) src.Set(x, 0, 0, 10 + x);
  ImageBlitter blitter;

  // Different contents: the colours are kept, so the indices change.
  ImageRegion s = src.Region(), d = dst.Region();
  s.palette = grey;
  d.palette = reversed;
  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Point), S_OK);
  for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(dst.Get(x, 0), 245 - x);

  // Equal contents at another address: the indices are copied, even where a
  // conversion would pick the first of equal entries.
  s.palette = uniform;
  d.palette = uniformCopy;
  ASSERT_EQ(blitter.Run(d, s, FilterFlags::Point), S_OK);
  for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(dst.Get(x, 0), 10 + x);
}

TEST(GxlBlitRun, SameSizeConversionKeepsSrgbWhenBothSidesAreSrgb) {
  Image src(D3DFMT_A8R8G8B8, 2, 1), dst(D3DFMT_X8R8G8B8, 2, 1);
  src.Set(0, 0, 0, 0x80406080);
  src.Set(1, 0, 0, 0x11C0FF00);
  ASSERT_EQ(Blit(dst, src, FilterFlags::Point | FilterFlags::SourceSrgb | FilterFlags::DestSrgb), S_OK);
  EXPECT_EQ(dst.Get(0, 0), 0x00406080u);
  EXPECT_EQ(dst.Get(1, 0), 0x00C0FF00u);

  // Only the source sRGB: decoded to linear.
  ASSERT_EQ(Blit(dst, src, FilterFlags::Point | FilterFlags::SourceSrgb), S_OK);
  const auto expected = static_cast<std::uint32_t>(SrgbToLinear(0x60 * (1.0f / 255.0f)) * 255.0f + 0.5f);
  EXPECT_EQ((dst.Get(0, 0) >> 8) & 0xFF, expected);
  EXPECT_LT(expected, 0x60u);
}

TEST(GxlBlitRun, FilterNoneCopiesTheOverlapAndClearsTheRest) {
  Image src(D3DFMT_A8R8G8B8, 4, 4), big(D3DFMT_A8R8G8B8, 8, 8);
  src.FillRandom(3);
  big.Fill(0x12345678);
  ASSERT_EQ(Blit(big, src, FilterFlags::None), S_OK);
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 8; ++x)
      ASSERT_EQ(big.Get(x, y), x < 4 && y < 4 ? src.Get(x, y) : 0u) << x << "," << y;

  // Shrinking keeps the top-left part.
  Image small(D3DFMT_A8R8G8B8, 3, 2);
  ASSERT_EQ(Blit(small, big, FilterFlags::None), S_OK);
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) EXPECT_EQ(small.Get(x, y), src.Get(x, y));

  // Slices beyond the source's are cleared whole.
  Image vol(D3DFMT_A8R8G8B8, 2, 2, 2), deeper(D3DFMT_A8R8G8B8, 3, 3, 3);
  vol.Fill(0xFFFFFFFF);
  deeper.Fill(0x12345678);
  ASSERT_EQ(Blit(deeper, vol, FilterFlags::None), S_OK);
  EXPECT_EQ(deeper.Get(1, 1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(deeper.Get(2, 1, 1), 0u);
  EXPECT_EQ(deeper.Get(0, 0, 2), 0u);
}

TEST(GxlBlitRun, FilterNoneTransparentPartStaysBlackUnderErrorDiffusion) {
  // A column whose quantisation leaves an error on every row: the error that
  // diffuses into the transparent part must not pile up from row to row. (The
  // codec diffuses in the caller's row when it has no range to adapt.)
  Image src(D3DFMT_A8R8G8B8, 1, 64), dst(D3DFMT_A4R4G4B4, 8, 64);
  src.Fill(0x05050505);  // 0.29 of a 4-bit step
  ASSERT_EQ(Blit(dst, src, FilterFlags::None | FilterFlags::ErrorDiffusion), S_OK);
  int lit = 0;
  for (std::uint32_t y = 0; y < 64; ++y)
    for (std::uint32_t x = 2; x < 8; ++x) lit += dst.Get(x, y) != 0;
  EXPECT_EQ(lit, 0);
  // The column itself shows the diffused error: some of its texels lit.
  int columnLit = 0;
  for (std::uint32_t y = 0; y < 64; ++y) columnLit += (dst.Get(0, y) & 0xF) != 0;
  EXPECT_GT(columnLit, 5);
  EXPECT_LT(columnLit, 40);
}

TEST(GxlBlitRun, ConversionRoundsAndAdaptsRanges) {
  // Float to unsigned clamps; unsigned to signed maps [0, 1] onto [-1, 1].
  Image src(D3DFMT_A32B32G32R32F, 2, 1), dst(D3DFMT_A8R8G8B8, 2, 1);
  src.SetFloat(0, 0, 0, {-3.0f, 0.5f, 2.0f, 1.0f});
  src.SetFloat(1, 0, 0, {0.25f, 0.75f, 1.0f, 0.0f});
  ASSERT_EQ(Blit(dst, src, FilterFlags::Point), S_OK);
  EXPECT_EQ(dst.Get(0, 0), 0xFF0080FFu);
  EXPECT_EQ(dst.Get(1, 0), 0x0040BFFFu);

  Image unorm(D3DFMT_A8R8G8B8, 1, 1), snorm(D3DFMT_V8U8, 1, 1);
  unorm.Set(0, 0, 0, 0xFFC0FF00);  // red 192/255, green 1.0
  ASSERT_EQ(Blit(snorm, unorm, FilterFlags::Point), S_OK);
  EXPECT_EQ(snorm.Get(0, 0), 0x7F40u);  // V (green) 127, U (red) 64
}

TEST(GxlBlitCopyDxtBlocks, CopiesRowsOfBlocks) {
  // 16 x 8 texels of DXT1 (4 x 2 blocks) and DXT5 (16-byte blocks).
  for (std::uint32_t format : {std::uint32_t{D3DFMT_DXT1}, std::uint32_t{D3DFMT_DXT5}}) {
    const std::uint32_t blockBytes = format == D3DFMT_DXT1 ? 8 : 16;
    std::vector<std::uint8_t> src(4 * blockBytes * 2 * 2), dst(6 * blockBytes * 3 * 2 + 40, 0xEE);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 7 + 1);
    ImageRegion s{}, d{};
    s.pixels = src.data();
    s.format = d.format = format;
    s.rowPitch = 4 * blockBytes;
    s.slicePitch = s.rowPitch * 2;
    s.box = s.extent = ImageBox{0, 0, 16, 8, 0, 2};
    d.pixels = dst.data();
    d.rowPitch = 6 * blockBytes + 4;
    d.slicePitch = d.rowPitch * 3;
    d.extent = ImageBox{0, 0, 24, 12, 0, 2};
    d.box = ImageBox{8, 4, 24, 12, 0, 2};
    ASSERT_EQ(CopyDxtBlocks(d, s), S_OK);
    for (std::uint32_t z = 0; z < 2; ++z)
      for (std::uint32_t by = 0; by < 2; ++by)
        for (std::uint32_t b = 0; b < 4 * blockBytes; ++b)
          ASSERT_EQ(dst[z * d.slicePitch + (by + 1) * d.rowPitch + 2 * blockBytes + b],
                    src[z * s.slicePitch + by * s.rowPitch + b]);
    EXPECT_EQ(dst[0], 0xEE);
    EXPECT_EQ(dst[d.rowPitch + 2 * blockBytes - 1], 0xEE);

    // Boxes that are not whole blocks, or another format, are not copied.
    d.box = ImageBox{8, 4, 22, 12, 0, 2};
    s.box = ImageBox{0, 0, 14, 8, 0, 2};
    EXPECT_EQ(CopyDxtBlocks(d, s), E_FAIL);
    s.format = d.format = D3DFMT_A8R8G8B8;
    s.box = ImageBox{0, 0, 16, 8, 0, 2};
    d.box = ImageBox{8, 4, 24, 12, 0, 2};
    EXPECT_EQ(CopyDxtBlocks(d, s), E_FAIL);
  }
}

}  // namespace
