// The blitter's integer conversions between packed formats give exactly the
// bytes of the float rows they stand in for: every pair, with and without
// dither, over random texels, boxes, pitches and slices.
#include <gtest/gtest.h>

#include <random>

#include "blit_test_util.h"
#include "platform/d3d9_api.h"

namespace {

using blittest::Image;

constexpr std::uint32_t kFormats[] = {
    D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4,
    D3DFMT_R8G8B8,   D3DFMT_A8,       D3DFMT_L8,     D3DFMT_R3G3B2,   D3DFMT_A8R3G3B2, D3DFMT_X4R4G4B4,
    D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8, D3DFMT_A8L8,   D3DFMT_A4L4,     D3DFMT_V8U8,     D3DFMT_A2R10G10B10};

// The same box of both images, converted row by row through the two codecs'
// float rows: what the same-size conversion does without its integer paths.
void ConvertThroughFloatRows(Image& dst, const ImageBox& db, Image& src, const ImageBox& sb, bool dither) {
  ImageRegion d = dst.Region(), s = src.Region();
  d.box = db;
  s.box = sb;
  d.orderedDither = dither;
  auto to = CreatePixelCodec(d), from = CreatePixelCodec(s);
  ASSERT_TRUE(to && from);
  ASSERT_EQ(PreparePixelCodecPair(to.get(), from.get()), S_OK);
  std::vector<ColorF> row(to->Width());
  for (std::uint32_t z = 0; z < to->Depth(); ++z)
    for (std::uint32_t y = 0; y < to->Height(); ++y) {
      from->ReadRow(y, z, row.data());
      to->WriteRow(y, z, row.data());
    }
}

ImageBox RandomBox(std::mt19937& rng, const Image& image, std::uint32_t w, std::uint32_t h, std::uint32_t d) {
  const std::uint32_t x = rng() % (image.width - w + 1), y = rng() % (image.height - h + 1);
  const std::uint32_t z = rng() % (image.depth - d + 1);
  return ImageBox{x, y, x + w, y + h, z, z + d};
}

TEST(GxlBlitExact, EveryPackedPairGivesTheBytesOfTheFloatRows) {
  std::mt19937 rng(20);
  for (std::uint32_t from : kFormats)
    for (std::uint32_t to : kFormats) {
      if (from == to) continue;
      for (bool dither : {false, true})
        for (int round = 0; round < 3; ++round) {
          // Round 2 is a volume, so that the slices' offsets differ too.
          const std::uint32_t w = 1 + rng() % 37, h = 1 + rng() % 6, d = round == 2 ? 1 + rng() % 5 : 1;
          Image src(from, w + rng() % 5, h + rng() % 3, d + rng() % 2, rng() % 9);
          Image fast(to, w + rng() % 5, h + rng() % 3, d + rng() % 2, rng() % 9);
          src.FillRandom(static_cast<std::uint32_t>(rng()));
          fast.FillRandom(static_cast<std::uint32_t>(rng()));
          Image slow = fast;
          const ImageBox sb = RandomBox(rng, src, w, h, d), db = RandomBox(rng, fast, w, h, d);

          ConvertThroughFloatRows(slow, db, src, sb, dither);
          ImageRegion dr = fast.Region(), sr = src.Region();
          dr.box = db;
          sr.box = sb;
          ImageBlitter blitter;
          ASSERT_EQ(blitter.Run(dr, sr, FilterFlags::Point | (dither ? FilterFlags::OrderedDither : 0)), S_OK);
          ASSERT_EQ(fast.bytes, slow.bytes) << std::hex << "from " << from << " to " << to << " dither " << dither
                                            << std::dec << " box " << w << "x" << h << "x" << d;
        }
    }
}

TEST(GxlBlitExact, WideRowsOfEveryCodeRoundLikeTheFloatRows) {
  // Rows long enough for the vector loops, holding every byte value in every channel.
  for (std::uint32_t to : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8})
    for (bool dither : {false, true}) {
      Image src(D3DFMT_A8R8G8B8, 259, 4, 1, 4), fast(to, 259, 4, 1, 6);
      for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 259; ++x) src.Set(x, y, 0, (x * 0x01030507u + y * 0x40404040u) ^ (x << 24));
      Image slow = fast;
      ConvertThroughFloatRows(slow, slow.Region().box, src, src.Region().box, dither);
      ASSERT_EQ(blittest::Blit(fast, src, FilterFlags::Point | (dither ? FilterFlags::OrderedDither : 0)), S_OK);
      EXPECT_EQ(fast.bytes, slow.bytes) << std::hex << to << " dither " << dither;
    }
}

}  // namespace
