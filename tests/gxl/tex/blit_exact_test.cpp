// The blitter's fast paths give exactly the bytes of the float arithmetic they
// stand in for: the integer conversions between packed formats (every pair,
// with and without dither, over random texels, boxes, pitches and slices), and
// the triangle filter against its scatter written out plainly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "blit_test_util.h"
#include "gxl/tex/filter_weights.h"
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

// The flat triangle filter as a scatter: each source texel into every
// destination texel its tents reach, acc += texel x (wx x wy) channel by
// channel; a row is clamped to the source's range and written once its last
// source row has contributed.
void TriangleByScatter(Image& dst, Image& src, std::uint32_t filter) {
  ImageRegion d = dst.Region(), s = src.Region();
  d.orderedDither = filter & FilterFlags::OrderedDither;
  d.errorDiffusion = filter & FilterFlags::ErrorDiffusion;
  auto to = CreatePixelCodec(d), from = CreatePixelCodec(s);
  ASSERT_TRUE(to && from);
  ASSERT_EQ(PreparePixelCodecPair(to.get(), from.get()), S_OK);
  const auto xs = BuildFilterWeights(src.width, dst.width, !(filter & FilterFlags::MirrorU));
  const auto ys = BuildFilterWeights(src.height, dst.height, !(filter & FilterFlags::MirrorV));
  std::vector<std::vector<ColorF>> acc(dst.height, std::vector<ColorF>(dst.width, ColorF(0, 0, 0, 0)));
  std::vector<int> pending(dst.height);
  for (std::uint32_t y = 0; y < src.height; ++y)
    for (const FilterWeight* p = ys->begin(y); p != ys->end(y); ++p) ++pending[p->index];
  const float lo = from->Range() == ChannelRange::Unorm ? 0.0f : -1.0f;
  const float alphaLo = from->Range() == ChannelRange::SnormAll ? -1.0f : 0.0f;
  std::vector<ColorF> row(src.width);
  for (std::uint32_t y = 0; y < src.height; ++y) {
    from->ReadRow(y, 0, row.data());
    for (std::uint32_t x = 0; x < src.width; ++x)
      for (const FilterWeight* p = ys->begin(y); p != ys->end(y); ++p)
        for (const FilterWeight* q = xs->begin(x); q != xs->end(x); ++q) {
          ColorF& a = acc[p->index][q->index];
          const float w = q->weight * p->weight;
          a.r += row[x].r * w;
          a.g += row[x].g * w;
          a.b += row[x].b * w;
          a.a += row[x].a * w;
        }
    for (const FilterWeight* p = ys->begin(y); p != ys->end(y); ++p) {
      if (--pending[p->index]) continue;
      std::vector<ColorF>& out = acc[p->index];
      if (from->Range() != ChannelRange::Float)
        for (ColorF& c : out) {
          c = ColorF(std::clamp(c.r, lo, 1.0f), std::clamp(c.g, lo, 1.0f), std::clamp(c.b, lo, 1.0f),
                     std::clamp(c.a, alphaLo, 1.0f));
        }
      to->WriteRow(p->index, 0, out.data());
    }
  }
}

TEST(GxlBlitExact, TriangleFilterGivesTheBytesOfTheScatter) {
  struct Case {
    std::uint32_t from, to, sw, sh, dw, dh, flags;
  };
  const std::uint32_t kF32 = D3DFMT_A32B32G32R32F, kDither = FilterFlags::OrderedDither;
  const Case cases[] = {
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 64, 48, 103, 51, kDither},  // the upscale of picture loading
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 64, 48, 103, 51, kDither | FilterFlags::Mirror},
      {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, 61, 37, 23, 19, 0},
      {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 5, 9, 13, 3, FilterFlags::ErrorDiffusion},
      {D3DFMT_X8R8G8B8, D3DFMT_L8, 17, 11, 9, 29, kDither},
      {D3DFMT_V8U8, D3DFMT_A8R8G8B8, 13, 7, 20, 9, 0},
      {D3DFMT_A8R8G8B8, kF32, 9, 9, 31, 4, FilterFlags::MirrorV},
      {kF32, kF32, 11, 6, 18, 13, 0},
      {kF32, D3DFMT_A8R8G8B8, 7, 5, 3, 2, kDither},
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 2, 1, 5, 3, 0},  // tents wider than the destination wrap onto it twice
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 9, 4, 1, 1, 0},
      {D3DFMT_A8R8G8B8, D3DFMT_DXT5, 30, 14, 16, 8, 0},
  };
  std::mt19937 rng(5);
  for (const Case& c : cases) {
    Image src(c.from, c.sw, c.sh), fast(c.to, c.dw, c.dh);
    src.FillRandom(static_cast<std::uint32_t>(rng()));
    if (c.from == kF32) {
      // Wide values, negative zeros and specials, which the filter adds as they are.
      const float special[] = {-0.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                               1e30f, -3.5f};
      for (std::uint32_t y = 0; y < c.sh; ++y)
        for (std::uint32_t x = 0; x < c.sw; ++x) {
          float v[4];
          for (float& f : v)
            f = rng() % 7 == 0 ? special[rng() % 5] : static_cast<float>(rng() % 2001) / 1000.0f - 0.5f;
          src.SetFloat(x, y, 0, {v[0], v[1], v[2], v[3]});
        }
    }
    Image slow = fast;
    TriangleByScatter(slow, src, c.flags);
    ASSERT_EQ(blittest::Blit(fast, src, FilterFlags::Triangle | c.flags), S_OK);
    EXPECT_EQ(fast.bytes, slow.bytes) << std::hex << c.from << " to " << c.to << std::dec << ", " << c.sw << "x" << c.sh
                                      << " to " << c.dw << "x" << c.dh << ", flags " << std::hex << c.flags;
  }
}

}  // namespace
