// The PFM reader against float maps of netpbm (both byte orders) and
// ImageMagick, read as pfmtopam reads them; hand-made headers; the writer's
// files as those tools read them; numbers under a comma-decimal locale; and
// broken copies.
#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;

constexpr std::uint32_t kWidth = 37, kHeight = 23;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

HRESULT Decode(const std::vector<std::uint8_t>& file, DecodedImage* image) {
  return image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true);
}

std::vector<float> Floats(const DecodedImage& image) {
  const auto* p = static_cast<const float*>(image.pixels);
  return std::vector<float>(p, p + std::size_t{image.width} * image.height * 4);
}

// The samples of a 16-bit PAM (netpbm's P7), top row first.
std::vector<std::uint16_t> PamSamples(const std::vector<std::uint8_t>& pam) {
  const std::string text(pam.begin(), pam.end());
  const std::size_t start = text.find("ENDHDR\n");
  if (start == std::string::npos) return {};
  std::vector<std::uint16_t> samples;
  for (std::size_t i = start + 7; i + 1 < pam.size(); i += 2)
    samples.push_back(static_cast<std::uint16_t>(pam[i] << 8 | pam[i + 1]));
  return samples;
}

class GxlPfm : public ::testing::Test {
 protected:
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }

  // Our texels must be the raster's samples / maxval, and agree with what
  // pfmtopam reads from the same file.
  void ExpectTexels(const std::string& name, const imgtest::Pnm& raster, double tolerance) {
    SCOPED_TRACE(name);
    DecodedImage image;
    ASSERT_EQ(Decode(ReadFileBytes(m_dir / name), &image), S_OK);
    ASSERT_EQ(image.format, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(image.width, raster.width);
    ASSERT_EQ(image.height, raster.height);
    ASSERT_TRUE(imgtest::Run("pfmtopam -maxval 65535 " + Quote(m_dir / name) + " > " + Quote(m_dir / "out.pam")));
    const std::vector<std::uint16_t> theirs = PamSamples(ReadFileBytes(m_dir / "out.pam"));
    ASSERT_EQ(theirs.size(), std::size_t{raster.width} * raster.height * raster.channels);
    const std::vector<float> ours = Floats(image);
    for (std::size_t t = 0; t < std::size_t{raster.width} * raster.height; ++t) {
      for (std::uint32_t c = 0; c < 3; ++c) {
        const std::size_t s = t * raster.channels + (raster.channels == 3 ? c : 0);
        ASSERT_NEAR(ours[4 * t + c], raster.samples[s] / double(raster.maxval), tolerance) << t;
        ASSERT_NEAR(ours[4 * t + c] * 65535, theirs[s], 1.0) << t;
      }
      ASSERT_EQ(ours[4 * t + 3], 1.0f);
    }
  }

  nura::test::TempDir m_dir;
};

TEST_F(GxlPfm, FilesOfOtherToolsReadAsPfmtopamReadsThem) {
  imgtest::RequireTools({"convert", "pamtopfm", "pfmtopam"});
  const imgtest::Pnm colour = imgtest::MakeRaster(kWidth, kHeight, 3, 255, 5);
  const imgtest::Pnm grey = imgtest::MakeRaster(kWidth, kHeight, 1, 255, 6);
  imgtest::WritePnm(m_dir / "src.ppm", colour);
  imgtest::WritePnm(m_dir / "src.pgm", grey);
  Make(
      "pamtopfm -endian=little src.ppm > little.pfm\npamtopfm -endian=big src.ppm > big.pfm\n"
      "pamtopfm -endian=little src.pgm > grey.pfm\nconvert src.ppm im.pfm\nconvert src.pgm im-grey.pfm\n");
  ExpectTexels("little.pfm", colour, 1e-6);
  ExpectTexels("big.pfm", colour, 1e-6);
  ExpectTexels("grey.pfm", grey, 1e-6);
  // ImageMagick's 16-bit samples in between.
  ExpectTexels("im.pfm", colour, 1.0 / 65535);
  ExpectTexels("im-grey.pfm", grey, 1.0 / 65535);
  EXPECT_EQ(ReadFileBytes(m_dir / "im-grey.pfm")[1], 'f');
}

TEST_F(GxlPfm, HeadersAreReadAsLaidOut) {
  // One texel of red 2.0 (0x40000000), green 0.5, blue -1, in either order;
  // files list their rows bottom-up.
  const std::string little("\0\0\0\x40\0\0\0\x3f\0\0\x80\xbf", 12), big("\x40\0\0\0\x3f\0\0\0\xbf\x80\0\0", 12);
  struct Case {
    const char* what;
    std::string file;
    float first[3];  // the top-left texel; 0.0 red marks a refused file
  } cases[] = {
      {"scale 1.0 is big-endian", "PF\n1 1\n1.0\n" + big, {2.0f, 0.5f, -1.0f}},
      {"scale -1.0 is little-endian", "PF\n1 1\n-1.0\n" + little, {2.0f, 0.5f, -1.0f}},
      {"scale nan is little-endian", "PF\n1 1\nnan\n" + little, {2.0f, 0.5f, -1.0f}},
      {"spaces around the numbers", "PF\n 1  1 \r\n -4e2 \n" + little, {2.0f, 0.5f, -1.0f}},
      {"grey", "Pf\n1 1\n-1\n" + std::string("\0\0\0\x3f", 4), {0.5f, 0.5f, 0.5f}},
      {"the first file row is the bottom one",
       "Pf\n1 2\n-1\n" + std::string("\0\0\0\x3f\0\0\0\x40", 8),
       {2.0f, 2.0f, 2.0f}},
      {"negative width", "PF\n-5 1\n-1\n" + little, {}},
      {"a third size", "PF\n1 1 1\n-1\n" + little, {}},
      {"width beyond 32 bits", "PF\n4294967297 1\n-1\n" + little, {}},
      {"width 0", "PF\n0 1\n-1\n", {}},
      {"scale not a number", "PF\n1 1\nabc\n" + little, {}},
      {"more after the scale", "PF\n1 1\n-1 x\n" + little, {}},
      {"one byte short", "PF\n1 1\n-1\n" + little.substr(1), {}},
      {"size line beyond 256 bytes", "PF\n1 1" + std::string(300, ' ') + "\n-1\n" + little, {}},
      {"no line feed after the magic", "PF 1 1\n-1\n" + little, {}},
  };
  for (const Case& c : cases) {
    DecodedImage image;
    const HRESULT hr = Decode(Bytes(c.file), &image);
    if (c.first[0] == 0.0f) {
      EXPECT_EQ(hr, GXLERR_INVALIDDATA) << c.what;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.what;
    const std::vector<float> texels = Floats(image);
    EXPECT_EQ(std::vector<float>(texels.begin(), texels.begin() + 4),
              (std::vector<float>{c.first[0], c.first[1], c.first[2], 1.0f}))
        << c.what;
  }
}

TEST_F(GxlPfm, WrittenFilesReadAlikeInNetpbmAndImageMagick) {
  imgtest::RequireTools({"convert", "pfmtopam"});
  const imgtest::Pnm raster = imgtest::MakeRaster(kWidth, kHeight, 3, 255, 9);
  std::vector<float> texels;
  for (std::size_t i = 0; i < raster.samples.size(); i += 3)
    texels.insert(texels.end(),
                  {raster.samples[i] / 255.0f, raster.samples[i + 1] / 255.0f, raster.samples[i + 2] / 255.0f, 0.25f});
  ImageRegion region{};
  region.pixels = texels.data();
  region.format = D3DFMT_A32B32G32R32F;
  region.rowPitch = kWidth * 16;
  region.extent = region.box = ImageBox{0, 0, kWidth, kHeight, 0, 1};
  DecodedImage record;
  record.SetFromRegion(region);
  const std::string path = m_dir / "out.pfm";
  ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Pfm, ImageSinkKind::FileA), S_OK);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  const std::string header = "PF\n37 23\n-1.000000\n";
  ASSERT_EQ(file.size(), header.size() + kWidth * kHeight * 12);  // no alpha
  EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);

  // Read back exactly, alpha 1; netpbm and ImageMagick read the samples.
  DecodedImage back;
  ASSERT_EQ(Decode(file, &back), S_OK);
  for (std::size_t i = 3; i < texels.size(); i += 4) texels[i] = 1.0f;
  EXPECT_EQ(Floats(back), texels);
  ExpectTexels("out.pfm", raster, 1e-6);
  EXPECT_LE(imgtest::MaxDifference(imgtest::ConvertRgba8(path), imgtest::Rgba8(back)), 1);

  // Values no integer format holds come back bit for bit; R32F is written grey.
  const float odd[] = {-2.5f, 1e30f, std::numeric_limits<float>::infinity(), 1.0f, 5e-39f, -0.0f, 7.0f, 1.0f};
  float grey[] = {0.75f, -3.0f};
  for (const bool colour : {true, false}) {
    region.pixels = colour ? static_cast<void*>(const_cast<float*>(odd)) : grey;
    region.format = colour ? D3DFMT_A32B32G32R32F : D3DFMT_R32F;
    region.rowPitch = colour ? 16 : 4;
    region.extent = region.box = ImageBox{0, 0, 1, 2, 0, 1};
    record.SetFromRegion(region);
    ImageOutputStream stream;
    DataBuffer* unused = nullptr;
    ASSERT_EQ(stream.Open(&unused, ImageSinkKind::Memory), S_OK);
    ASSERT_EQ(record.WritePfm(stream), S_OK);
    std::vector<std::uint8_t> bytes(stream.MemoryBytes(), stream.MemoryBytes() + stream.Position());
    ASSERT_EQ(Decode(bytes, &back), S_OK);
    const std::vector<float> got = Floats(back);
    const std::vector<float> want =
        colour ? std::vector<float>(odd, odd + 8) : std::vector<float>{0.75f, 0.75f, 0.75f, 1, -3.0f, -3.0f, -3.0f, 1};
    EXPECT_EQ(std::memcmp(got.data(), want.data(), 32), 0) << (colour ? "PF" : "Pf");
    EXPECT_EQ(bytes[1], colour ? 'F' : 'f');
  }
}

TEST_F(GxlPfm, NumbersReadAndWriteAlikeUnderACommaDecimalLocale) {
  locale_t comma = nura::test::MakeCommaDecimalLocale(m_dir);
  if (!comma) GTEST_SKIP() << "no comma-decimal locale available";
  const locale_t before = uselocale(comma);
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 0.5);
  EXPECT_STREQ(text, "0,5");

  float texel[4] = {0.5f, 0.25f, 2.0f, 1.0f};
  ImageRegion region{};
  region.pixels = texel;
  region.format = D3DFMT_A32B32G32R32F;
  region.rowPitch = 16;
  region.extent = region.box = ImageBox{0, 0, 1, 1, 0, 1};
  DecodedImage record;
  record.SetFromRegion(region);
  const std::string path = m_dir / "comma.pfm";
  ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Pfm, ImageSinkKind::FileA), S_OK);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  const std::string header = "PF\n1 1\n-1.000000\n";
  EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);
  DecodedImage back;
  ASSERT_EQ(Decode(file, &back), S_OK);
  EXPECT_EQ(Floats(back), (std::vector<float>{0.5f, 0.25f, 2.0f, 1.0f}));

  // An HDR exposure with a decimal point: texel (128, 0, 0, 136) is 128.5 red.
  std::vector<std::uint8_t> hdr = Bytes("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=0.5\n\n-Y 1 +X 1\n");
  hdr.insert(hdr.end(), {128, 0, 0, 136});
  ASSERT_EQ(Decode(hdr, &back), S_OK);
  EXPECT_EQ(Floats(back)[0], 257.0f);

  EXPECT_EQ(uselocale(before), comma);
  freelocale(comma);
}

TEST_F(GxlPfm, BrokenCopiesFailCleanly) {
  imgtest::RequireTools({"pamtopfm"});
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakeRaster(kWidth, kHeight, 3, 255, 12));
  Make("pamtopfm -endian=big src.ppm > big.pfm\n");
  const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / "big.pfm");
  imgtest::ExpectBrokenCopiesFailCleanly(file, file.size(), 41);
}

}  // namespace
