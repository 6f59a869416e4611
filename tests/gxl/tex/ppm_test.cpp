// The PPM reader against files made by netpbm and ImageMagick (binary and
// plain, various maximum values), hand-made headers, and broken copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using namespace std::string_literals;
using imgtest::Quote;
using nura::test::ReadFileBytes;

class GxlPpm : public ::testing::Test {
 protected:
  void SetUp() override {
    imgtest::RequireTools({"convert", "ppmmake", "pnmtoplainpnm", "pamdepth"});
    imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(37, 23));
  }
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }

  nura::test::TempDir m_dir;
};

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

HRESULT Decode(const std::vector<std::uint8_t>& file, DecodedImage* image, bool pixels = true) {
  ImageInfo info{};
  return image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, pixels);
}

TEST_F(GxlPpm, FilesOfOtherToolsDecodeToTheTexelsTheyReport) {
  const char* files[] = {"make.ppm", "plain.ppm", "depth15.ppm", "plain1000.ppm", "im.ppm", "im-plain.ppm"};
  Make("ppmmake rgb:20/80/c0 5 3 > make.ppm\npnmtoplainpnm src.ppm > plain.ppm\n"
       "pamdepth 15 src.ppm > depth15.ppm\npamdepth 1000 src.ppm | pnmtoplainpnm > plain1000.ppm\n"
       "convert src.ppm im.ppm\nconvert src.ppm -compress none im-plain.ppm\n");
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / name);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Ppm);
    ASSERT_EQ(image.format, D3DFMT_X8R8G8B8);
    // The samples are scaled by integer division, where ImageMagick rounds.
    EXPECT_LE(imgtest::MaxDifference(imgtest::Rgba8(image), imgtest::ConvertRgba8(m_dir / name)), 1);
  }
}

TEST_F(GxlPpm, HeadersAndSamplesReadAsWritten) {
  struct Case {
    const char* what;
    std::string file;
    std::vector<std::uint8_t> rgba;  // empty: the file is refused
  } cases[] = {
      {"P6, one line feed", "P6\n2 1\n255\n\x01\x02\x03\xFF\x80\x00"s, {1, 2, 3, 255, 255, 128, 0, 255}},
      {"P6 scaled", "P6 2 1 15\n\x0F\x00\x07\x0F\x0F\x0F"s, {255, 0, 119, 255, 255, 255, 255, 255}},
      {"P6, CR LF", "P6 1 1 255\r\n\n\x0D\x0A"s, {10, 13, 10, 255}},
      {"P6, CR alone", "P6 1 1 255\r\x0B\x0C\x0D"s, {11, 12, 13, 255}},  // no line feed: the CR is the separator
      {"P6, bytes beyond", "P6 1 1 255\n\x01\x02\x03\x04\x05"s, {1, 2, 3, 255}},
      {"P3, comments", "P3 # size\n2 # width\n# more\n1\n255 1 2 3\n4 5 6"s, {1, 2, 3, 255, 4, 5, 6, 255}},
      {"P3, 16-bit maximum", "P3 1 1 65535 65535 0 32768"s, {255, 0, 127, 255}},
      {"P3, sample above the maximum", "P3 1 1 15 20 0 15"s, {255, 0, 255, 255}},
      {"P6 short", "P6 2 1 255\n\x01\x02\x03\x04\x05"s, {}},
      {"P3 short", "P3 2 1 255 1 2 3 4 5"s, {}},
      {"P6 maximum above 255", "P6 1 1 256\n\x01\x02\x03\x04\x05\x06"s, {}},
      {"P3 maximum above 65535", "P3 1 1 65536 1 2 3"s, {}},
      {"width 0", "P3 0 1 255 1 2 3"s, {}},
      {"letters", "P3 1 x 255 1 2 3"s, {}},
      {"P6 without a separator", "P6 1 1 255\x01\x02\x03"s, {}},
      {"digits beyond 32 bits", "P6 99999999999999999999999 99999999999 255\n\x01\x02\x03"s, {}},
      {"an image beyond 32 bits", "P3 65536 65536 1 " + std::string(20, '1'), {}},
      {"comment without end", "P3 1 1 # 255"s, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodedImage image;
    const HRESULT hr = Decode(Bytes(c.file), &image);
    if (c.rgba.empty()) {
      EXPECT_EQ(hr, GXLERR_INVALIDDATA);
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(imgtest::Rgba8(image), c.rgba);
    // The texels are there even when only the header is asked for.
    DecodedImage header;
    ASSERT_EQ(Decode(Bytes(c.file), &header, false), S_OK);
    EXPECT_TRUE(header.OwnsPixels());
  }
}

TEST_F(GxlPpm, BrokenCopiesOfToolFilesFailCleanly) {
  Make("pnmtoplainpnm src.ppm > plain.ppm\npamdepth 100 src.ppm > depth.ppm\n");
  const std::vector<std::uint8_t> binary = ReadFileBytes(m_dir / "depth.ppm");
  const std::vector<std::uint8_t> plain = ReadFileBytes(m_dir / "plain.ppm");
  imgtest::ExpectBrokenCopiesFailCleanly(binary, binary.size(), 21);
  // A plain file cut inside its last sample still reads.
  imgtest::ExpectBrokenCopiesFailCleanly(plain, plain.size() - 5, 22);
}

}  // namespace
