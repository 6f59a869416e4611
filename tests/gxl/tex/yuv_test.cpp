// The packed-pair codecs ("YUY2", "UYVY", "GRGB", "RGBG"): UYVY files made
// and read by netpbm (ppmtoyuv, yuvtoppm), the chroma filter of odd texels,
// the byte layouts, and writes that touch half a pair.
#include <algorithm>
#include <array>
#include <cctype>

#include "codec_test_util.h"
#include "gxl/tex/image_blitter.h"
#include "image_test_util.h"
#include "tests/support/test_util.h"

namespace {

using namespace codectest;

constexpr std::uint32_t kYuy2 = D3DFMT_YUY2, kUyvy = D3DFMT_UYVY;

std::uint8_t ToByte(float v) { return static_cast<std::uint8_t>(std::clamp(v * 255.0f + 0.5f, 0.0f, 255.0f)); }

// The samples of a binary PPM (P6, maxval 255).
std::vector<std::uint8_t> PpmSamples(const std::vector<std::uint8_t>& file) {
  std::size_t at = 0;
  for (int fields = 0; fields < 4 && at < file.size(); ++fields) {
    while (at < file.size() && std::isspace(file[at])) ++at;
    while (at < file.size() && !std::isspace(file[at])) ++at;
  }
  return std::vector<std::uint8_t>(file.begin() + std::min(at + 1, file.size()), file.end());
}

// Reads a whole w x h region of a packed-pair format as texels.
std::vector<ColorF> ReadAll(std::vector<std::uint8_t>& bytes, std::uint32_t format, std::uint32_t w, std::uint32_t h) {
  auto codec = Make(Region(bytes.data(), format, w, h, w * 2));
  std::vector<ColorF> out(std::size_t{w} * h);
  for (std::uint32_t y = 0; y < h; ++y) codec->ReadRow(y, 0, &out[std::size_t{y} * w]);
  return out;
}

TEST(GxlYuv, AgreesWithNetpbmOnEvenTexels) {
  imgtest::RequireTools({"ppmtoyuv", "yuvtoppm"});
  nura::test::TempDir dir;
  const imgtest::Pnm picture = imgtest::MakePicture(64, 32);
  imgtest::WritePnm(dir / "in.ppm", picture);
  const std::string q = imgtest::Quote(dir.path());

  // Reading what ppmtoyuv made.
  ASSERT_TRUE(imgtest::Run("cd " + q + " && ppmtoyuv in.ppm > in.yuv && yuvtoppm 64 32 in.yuv > theirs.ppm"));
  std::vector<std::uint8_t> uyvy = nura::test::ReadFileBytes(dir / "in.yuv");
  ASSERT_EQ(uyvy.size(), 64u * 32 * 2);
  std::vector<ColorF> ours = ReadAll(uyvy, kUyvy, 64, 32);
  std::vector<std::uint8_t> theirs = PpmSamples(nura::test::ReadFileBytes(dir / "theirs.ppm"));
  ASSERT_EQ(theirs.size(), 64u * 32 * 3);
  int worst = 0;
  for (std::size_t i = 0; i < ours.size(); i += 2)
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ToByte((&ours[i].r)[c]) - theirs[3 * i + c]));
  EXPECT_LE(worst, 2) << "reading ppmtoyuv's file";

  // Writing what yuvtoppm reads: even texels come back as they were.
  std::vector<std::uint8_t> written(64 * 32 * 2);
  {
    auto codec = Make(Region(written.data(), kUyvy, 64, 32, 128));
    std::vector<ColorF> row(64);
    for (std::uint32_t y = 0; y < 32; ++y) {
      for (std::uint32_t x = 0; x < 64; ++x) {
        const std::uint16_t* s = &picture.samples[3 * (y * 64 + x)];
        row[x] = ColorF(s[0] / 255.0f, s[1] / 255.0f, s[2] / 255.0f, 1);
      }
      codec->WriteRow(y, 0, row.data());
    }
  }
  nura::test::WriteFileBytes(dir / "ours.yuv", written);
  ASSERT_TRUE(imgtest::Run("cd " + q + " && yuvtoppm 64 32 ours.yuv > back.ppm"));
  theirs = PpmSamples(nura::test::ReadFileBytes(dir / "back.ppm"));
  ASSERT_EQ(theirs.size(), 64u * 32 * 3);
  worst = 0;
  for (std::size_t i = 0; i < 64 * 32; i += 2)
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(picture.samples[3 * i + c]) - theirs[3 * i + c]));
  EXPECT_LE(worst, 3) << "yuvtoppm reading ours";
}

TEST(GxlYuv, ChromaOfPairsAndOddTexels) {
  // YUY2 words: Y0 U Y1 V.
  auto row = [](std::vector<std::array<int, 4>> pairs) {
    std::vector<std::uint8_t> bytes;
    for (auto& p : pairs) bytes.insert(bytes.end(), {std::uint8_t(p[0]), std::uint8_t(p[1]), std::uint8_t(p[2]),
                                                     std::uint8_t(p[3])});
    return ReadAll(bytes, kYuy2, static_cast<std::uint32_t>(pairs.size() * 2), 1);
  };
  // The colour of luma y with the chroma u, v (the even texel of a lone pair).
  auto colour = [&](int y, int u, int v) { return row({{y, u, y, v}})[0]; };

  const std::vector<ColorF> lone = row({{100, 90, 150, 240}});
  EXPECT_TRUE(ColorsEqual(lone[1], colour(150, 90, 240))) << lone[1];
  // Odd texels filter the chroma of the pairs around them: (-1, 9, 9, -1) / 16,
  // pairs beyond the row repeating the edge, rounding by adding 8.
  const std::vector<ColorF> four = row({{128, 10, 128, 30}, {128, 50, 128, 60}, {128, 200, 128, 90}, {128, 90, 128, 70}});
  EXPECT_TRUE(ColorsEqual(four[3], colour(128, (9 * 250 - 10 - 90 + 8) >> 4, (9 * 150 - 30 - 70 + 8) >> 4)));
  EXPECT_TRUE(ColorsEqual(four[1], colour(128, (9 * 60 - 10 - 200 + 8) >> 4, (9 * 90 - 30 - 90 + 8) >> 4)));
  EXPECT_TRUE(ColorsEqual(four[7], colour(128, (9 * 180 - 200 - 90 + 8) >> 4, (9 * 140 - 90 - 70 + 8) >> 4)));
  // Black and white of the studio range.
  EXPECT_TRUE(ColorsEqual(colour(16, 128, 128), ColorF(0, 0, 0, 1)));
  EXPECT_TRUE(Near(colour(235, 128, 128), ColorF(1, 1, 1, 1), 1e-6f));
}

TEST(GxlYuv, ByteLayouts) {
  const struct {
    std::uint32_t format;
    ColorF first, second;
    std::array<std::uint8_t, 4> bytes;
  } cases[] = {
      {kYuy2, ColorF(1, 1, 1, 1), ColorF(0, 0, 0, 1), {235, 128, 16, 128}},
      {kUyvy, ColorF(1, 1, 1, 1), ColorF(0, 0, 0, 1), {128, 235, 128, 16}},
      // Red and blue of the first texel; each texel's own green.
      {D3DFMT_G8R8_G8B8, ColorF(0.2f, 0.4f, 0.6f, 1), ColorF(1, 0.8f, 0, 1), {51, 102, 153, 204}},
      {D3DFMT_R8G8_B8G8, ColorF(0.2f, 0.4f, 0.6f, 1), ColorF(1, 0.8f, 0, 1), {102, 51, 204, 153}},
      // Out of range does not spill into the neighbouring byte.
      {D3DFMT_R8G8_B8G8, ColorF(-0.5f, 1.5f, 2, 1), ColorF(0, -1, 0, 1), {255, 0, 0, 255}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes(4);
    {
      auto codec = Make(Region(bytes.data(), c.format, 2, 1, 4));
      ColorF row[2] = {c.first, c.second};
      codec->WriteRow(0, 0, row);
    }
    EXPECT_EQ(std::vector<std::uint8_t>(bytes), std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()))
        << "format " << std::hex << c.format;
  }
}

TEST(GxlYuv, WritingHalfAPairKeepsThePartner) {
  // Y0 U Y1 V, then a second pair that the box does not touch.
  std::vector<std::uint8_t> bytes = {100, 110, 150, 150, 1, 2, 3, 4};
  ImageRegion r = Region(bytes.data(), kYuy2, 4, 1, 8);
  r.box.left = 1;
  r.box.right = 2;
  {
    auto codec = Make(r);
    ColorF white(1, 1, 1, 1);
    codec->WriteRow(0, 0, &white);
  }
  // The partner is stored again from its own colour, and the pair's chroma
  // is the partner's.
  EXPECT_NEAR(bytes[0], 100, 1);
  EXPECT_NEAR(bytes[1], 110, 1);
  EXPECT_EQ(bytes[2], 235);
  EXPECT_NEAR(bytes[3], 150, 1);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end()), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(GxlYuv, EqualRegionsCopyTheirWords) {
  std::vector<std::uint8_t> from(8 * 3 * 2), to(from.size());
  for (std::size_t i = 0; i < from.size(); ++i) from[i] = static_cast<std::uint8_t>(i * 37 + 11);
  ImageRegion source = Region(from.data(), kYuy2, 8, 3, 16);
  ImageRegion destination = Region(to.data(), kYuy2, 8, 3, 16);
  ImageBlitter blitter;
  ASSERT_EQ(blitter.Run(destination, source, 0x80004), S_OK);
  EXPECT_EQ(to, from);
}

}  // namespace
