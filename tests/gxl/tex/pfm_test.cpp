// The PFM reader against float maps of netpbm (both byte orders) and
// ImageMagick, read as pfmtopam reads them; hand-made headers; the writer's
// files as those tools read them, under a comma-decimal locale too; broken
// copies.
#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::DecodeBytes;
using imgtest::Quote;
using imgtest::RecordFloats;
using nura::test::ReadFileBytes;

constexpr std::uint32_t kWidth = 37, kHeight = 23;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class GxlPfm : public ::testing::Test {
 protected:
  void SetUp() override { imgtest::RequireTools({"convert", "pamtopfm", "pfmtopam"}); }

  // Our texels are the raster's samples / maxval, and what pfmtopam reads.
  void ExpectTexels(const std::string& name, const imgtest::Pnm& raster, double tolerance) {
    SCOPED_TRACE(name);
    DecodedImage image;
    ASSERT_EQ(DecodeBytes(ReadFileBytes(m_dir / name), &image), S_OK);
    ASSERT_EQ(image.width * 1000 + image.height, raster.width * 1000 + raster.height);
    // pfmtopam's own maxval (255): with -maxval it reads uninitialised memory
    // and fails now and then.
    ASSERT_TRUE(imgtest::Run("pfmtopam " + Quote(m_dir / name) + " > " + Quote(m_dir / "out.pam")));
    const std::vector<std::uint8_t> pam = ReadFileBytes(m_dir / "out.pam");
    const std::string text(pam.begin(), pam.end());
    ASSERT_NE(text.find("\nMAXVAL 255\n"), std::string::npos);
    const std::size_t at = text.find("ENDHDR\n") + 7;
    ASSERT_EQ(pam.size() - at, raster.samples.size());
    const std::vector<float> ours = RecordFloats(image);
    for (std::size_t t = 0; t < std::size_t{raster.width} * raster.height; ++t) {
      for (std::uint32_t c = 0; c < 3; ++c) {
        const std::size_t s = t * raster.channels + (raster.channels == 3 ? c : 0);
        ASSERT_NEAR(ours[4 * t + c], raster.samples[s] / double(raster.maxval), tolerance) << t;
        ASSERT_NEAR(ours[4 * t + c] * 255, pam[at + s], 0.5 + 1e-3) << t;
      }
      ASSERT_EQ(ours[4 * t + 3], 1.0f);
    }
  }

  nura::test::TempDir m_dir;
};

TEST_F(GxlPfm, FilesOfOtherToolsReadAsPfmtopamReadsThem) {
  const imgtest::Pnm colour = imgtest::MakeRaster(kWidth, kHeight, 3, 255, 5);
  const imgtest::Pnm grey = imgtest::MakeRaster(kWidth, kHeight, 1, 255, 6);
  imgtest::WritePnm(m_dir / "src.ppm", colour);
  imgtest::WritePnm(m_dir / "src.pgm", grey);
  ASSERT_TRUE(
      imgtest::RunScript(m_dir.path(),
                         "pamtopfm -endian=little src.ppm > little.pfm\npamtopfm -endian=big src.ppm > big.pfm\n"
                         "pamtopfm src.pgm > grey.pfm\nconvert src.ppm im.pfm\nconvert src.pgm im-grey.pfm\n"));
  ExpectTexels("little.pfm", colour, 1e-6);
  ExpectTexels("big.pfm", colour, 1e-6);
  ExpectTexels("grey.pfm", grey, 1e-6);
  // ImageMagick's 16-bit samples in between.
  ExpectTexels("im.pfm", colour, 1.0 / 65535);
  ExpectTexels("im-grey.pfm", grey, 1.0 / 65535);
}

TEST_F(GxlPfm, HeadersAreReadAsLaidOut) {
  // One texel of red 2.0, green 0.5, blue -1 in either byte order.
  const std::string little("\0\0\0\x40\0\0\0\x3f\0\0\x80\xbf", 12), big("\x40\0\0\0\x3f\0\0\0\xbf\x80\0\0", 12);
  struct Case {
    const char* what;
    std::string file;
    float first[3];  // the top-left texel; red 0 marks a refused file
  } cases[] = {
      {"scale 1.0 is big-endian", "PF\n1 1\n1.0\n" + big, {2, 0.5f, -1}},
      {"scale -1.0 is little-endian", "PF\n1 1\n-1.0\n" + little, {2, 0.5f, -1}},
      {"scale nan is little-endian", "PF\n1 1\nnan\n" + little, {2, 0.5f, -1}},
      {"spaces around the numbers", "PF\n 1  1 \r\n -4e2 \n" + little, {2, 0.5f, -1}},
      {"grey", "Pf\n1 1\n-1\n" + little.substr(4, 4), {0.5f, 0.5f, 0.5f}},
      {"the first file row is the bottom one", "Pf\n1 2\n-1\n" + little.substr(4, 4) + little.substr(0, 4), {2, 2, 2}},
      {"negative width", "PF\n-5 1\n-1\n" + little, {}},
      {"a third size", "PF\n1 1 1\n-1\n" + little, {}},
      {"width beyond 32 bits", "PF\n4294967297 1\n-1\n" + little, {}},
      {"width 0", "PF\n0 1\n-1\n", {}},
      {"scale not a number", "PF\n1 1\nabc\n" + little, {}},
      {"more after the scale", "PF\n1 1\n-1 x\n" + little, {}},
      {"one byte short", "PF\n1 1\n-1\n" + little.substr(1), {}},
      {"size line beyond 256 bytes", "PF\n1 1" + std::string(300, ' ') + "\n-1\n" + little, {}},
  };
  for (const Case& c : cases) {
    DecodedImage image;
    const HRESULT hr = DecodeBytes(Bytes(c.file), &image);
    ASSERT_EQ(hr, c.first[0] == 0.0f ? GXLERR_INVALIDDATA : S_OK) << c.what;
    if (FAILED(hr)) continue;
    const std::vector<float> texels = RecordFloats(image);
    EXPECT_EQ(std::vector<float>(texels.begin(), texels.begin() + 4),
              (std::vector<float>{c.first[0], c.first[1], c.first[2], 1.0f}))
        << c.what;
  }
}

// Under a comma-decimal locale too (where there is one): "-1.000000",
// little-endian samples, no alpha; read back bit for bit, and alike by
// netpbm and ImageMagick.
TEST_F(GxlPfm, WrittenFilesReadAlikeInNetpbmAndImageMagick) {
  locale_t comma = nura::test::MakeCommaDecimalLocale(m_dir);
  const locale_t before = comma ? uselocale(comma) : nullptr;
  const imgtest::Pnm raster = imgtest::MakeRaster(kWidth, kHeight, 3, 255, 9);
  std::vector<float> texels;
  for (std::size_t i = 0; i < raster.samples.size(); i += 3)
    texels.insert(texels.end(),
                  {raster.samples[i] / 255.0f, raster.samples[i + 1] / 255.0f, raster.samples[i + 2] / 255.0f, 0.25f});
  DecodedImage record;
  imgtest::SetFloatRecord(texels, kWidth, kHeight, &record);
  const std::string path = m_dir / "out.pfm";
  ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Pfm, ImageSinkKind::FileA), S_OK);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  const std::string header = "PF\n37 23\n-1.000000\n";
  ASSERT_EQ(file.size(), header.size() + kWidth * kHeight * 12);
  EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);
  DecodedImage back;
  ASSERT_EQ(DecodeBytes(file, &back), S_OK);
  // An HDR exposure of 0.5 alike: texel (128, 0, 0, 136) has red 128.5.
  std::vector<std::uint8_t> hdr = Bytes("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=0.5\n\n-Y 1 +X 1\n");
  hdr.insert(hdr.end(), {128, 0, 0, 136});
  DecodedImage exposed;
  ASSERT_EQ(DecodeBytes(hdr, &exposed), S_OK);
  EXPECT_EQ(RecordFloats(exposed)[0], 257.0f);
  if (comma) {
    EXPECT_EQ(uselocale(before), comma);
    freelocale(comma);
  }
  for (std::size_t i = 3; i < texels.size(); i += 4) texels[i] = 1.0f;
  EXPECT_EQ(RecordFloats(back), texels);
  ExpectTexels("out.pfm", raster, 1e-6);
  EXPECT_LE(imgtest::MaxDifference(imgtest::ConvertRgba8(path), imgtest::Rgba8(back)), 1);

  // Values no integer format holds come back bit for bit.
  std::vector<float> odd = {-2.5f, 1e30f, std::numeric_limits<float>::infinity(), 1, 5e-39f, -0.0f, 7, 1};
  imgtest::SetFloatRecord(odd, 1, 2, &record);
  ASSERT_EQ(DecodeBytes(imgtest::EncodeToMemory(record, ImageFileType::Pfm), &back), S_OK);
  EXPECT_EQ(std::memcmp(RecordFloats(back).data(), odd.data(), 32), 0);
}

TEST_F(GxlPfm, BrokenCopiesFailCleanly) {
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakeRaster(kWidth, kHeight, 3, 255, 12));
  ASSERT_TRUE(imgtest::RunScript(m_dir.path(), "pamtopfm -endian=big src.ppm > big.pfm\n"));
  const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / "big.pfm");
  imgtest::ExpectBrokenCopiesFailCleanly(file, file.size(), 41);
}

}  // namespace
