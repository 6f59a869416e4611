// The TGA reader against files made by netpbm, ImageMagick and PIL (raw and
// run-length, colour-mapped, grey, both row orders), hand-made layouts no tool
// writes, malformed headers, and the writer's files as those tools read them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;

constexpr std::uint32_t kWidth = 37, kHeight = 23;

class GxlTga : public ::testing::Test {
 protected:
  void SetUp() override {
    imgtest::RequireTools({"convert", "pamtotga", "tgatoppm"});
    imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(kWidth, kHeight));
  }
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }
  static HRESULT Decode(const std::vector<std::uint8_t>& file, DecodedImage* image) {
    return image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true);
  }

  nura::test::TempDir m_dir;
};

TEST_F(GxlTga, FilesOfOtherToolsDecodeToTheTexelsTheyReport) {
  struct Case {
    const char* file;
    DWORD format;
    bool inPlace;
  } cases[] = {
      {"nb-rle.tga", D3DFMT_R8G8B8, false},    {"nb-raw.tga", D3DFMT_R8G8B8, false},
      {"nb-map-rle.tga", D3DFMT_P8, false},    {"nb-map.tga", D3DFMT_P8, false},
      {"nb-map16.tga", D3DFMT_P8, false},      {"nb-grey-rle.tga", D3DFMT_L8, false},
      {"nb-grey.tga", D3DFMT_L8, false},       {"im.tga", D3DFMT_R8G8B8, false},
      {"im-rle.tga", D3DFMT_R8G8B8, false},    {"im-alpha.tga", D3DFMT_A8R8G8B8, false},
      {"pil-alpha.tga", D3DFMT_A8R8G8B8, false}, {"pil-alpha-rle.tga", D3DFMT_A8R8G8B8, false},
      {"pil-top.tga", D3DFMT_R8G8B8, true},    {"pil-top-rle.tga", D3DFMT_R8G8B8, false},
  };
  Make(R"(convert src.ppm \( -size 37x23 gradient:white-black \) -alpha off -compose copy_opacity -composite src.png
convert src.ppm -colors 16 n16.ppm
ppmtopgm src.ppm > grey.pgm
pamtotga src.ppm > nb-rle.tga 2>/dev/null
pamtotga -norle src.ppm > nb-raw.tga
pamtotga -cmap n16.ppm > nb-map-rle.tga 2>/dev/null
pamtotga -cmap -norle n16.ppm > nb-map.tga 2>/dev/null
pamtotga -cmap16 -norle n16.ppm > nb-map16.tga 2>/dev/null
pamtotga -mono grey.pgm > nb-grey-rle.tga
pamtotga -mono -norle grey.pgm > nb-grey.tga
convert src.ppm TGA:im.tga
convert src.ppm -compress RLE TGA:im-rle.tga
convert src.png TGA:im-alpha.tga
/usr/bin/python3 -c 'import glob
from PIL import Image
im = Image.open("src.png")
im.save("pil-alpha.tga")
im.save("pil-alpha-rle.tga", rle=True)
im.convert("RGB").save("pil-top.tga", orientation=1)
im.convert("RGB").save("pil-top-rle.tga", orientation=1, rle=True)
for name in glob.glob("*.tga"):
    open(name + ".rgba", "wb").write(Image.open(name).convert("RGBA").tobytes())'
tgatoppm nb-map16.tga | convert - -depth 8 rgba:nb-map16.tga.rgba
)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / c.file);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Tga);
    ASSERT_EQ(static_cast<DWORD>(image.format), c.format);
    EXPECT_EQ(image.OwnsPixels(), !c.inPlace);
    // PIL's texels (netpbm's for the 15-bit map PIL takes as grey). The two
    // agree on row order; this ImageMagick reads (and writes) bottom-up files
    // upside down.
    EXPECT_LE(imgtest::MaxDifference(imgtest::Rgba8(image), ReadFileBytes(m_dir / c.file + ".rgba")), 1);
  }
}

// An 18-byte header of an image of 4 x 2 texels.
std::vector<std::uint8_t> Header(int type, int bits, int descriptor, int mapFirst = 0, int mapLength = 0,
                                 int entryBits = 0) {
  return {0,    std::uint8_t(mapLength ? 1 : 0), std::uint8_t(type), std::uint8_t(mapFirst), 0,
          std::uint8_t(mapLength), 0, std::uint8_t(entryBits), 0, 0, 0, 0, 4, 0, 2, 0, std::uint8_t(bits),
          std::uint8_t(descriptor)};
}

// Grey texels 1..8 in image order (top row first), as each layout stores them.
TEST_F(GxlTga, RowOrdersAndPacketsAcrossRowsPlaceEveryTexel) {
  struct Case {
    const char* what;
    int type, descriptor;
    std::vector<std::uint8_t> texels;
  } cases[] = {
      {"top-down", 3, 0x20, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"bottom-up", 3, 0x00, {5, 6, 7, 8, 1, 2, 3, 4}},
      {"right to left", 3, 0x30, {4, 3, 2, 1, 8, 7, 6, 5}},
      {"both", 3, 0x10, {8, 7, 6, 5, 4, 3, 2, 1}},
      // Raw 3 texels, raw 2 across the row end, then a run of 3 (0x83 is four
      // copies; the last is read but not stored).
      {"packets across rows", 11, 0x20, {0x02, 1, 2, 3, 0x01, 4, 5, 0x83, 6}},
  };
  const std::uint8_t expected[2][8] = {{1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 6, 6}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> file = Header(c.type, 8, c.descriptor);
    file.insert(file.end(), c.texels.begin(), c.texels.end());
    DecodedImage image;
    ASSERT_EQ(Decode(file, &image), S_OK) << c.what;
    EXPECT_EQ(image.format, D3DFMT_L8);
    EXPECT_EQ(std::memcmp(image.pixels, expected[c.type == 11], 8), 0) << c.what;
    EXPECT_EQ(image.OwnsPixels(), c.descriptor != 0x20 || c.type == 11) << c.what;
  }

  // 16-bit texels without their top bit hold no alpha; one set bit keeps it.
  for (const std::uint8_t top : {0x7F, 0xFF}) {
    std::vector<std::uint8_t> file = Header(2, 16, 0x21);
    for (int i = 0; i < 8; ++i) file.insert(file.end(), {0xFF, std::uint8_t(i == 5 ? top : 0x7F)});
    DecodedImage image;
    ASSERT_EQ(Decode(file, &image), S_OK);
    EXPECT_EQ(image.format, top == 0xFF ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5);
  }

  // A map of 16-bit entries whose alpha bits are all clear is opaque.
  std::vector<std::uint8_t> mapped = Header(1, 8, 0x20, 2, 2, 16);
  mapped.insert(mapped.end(), {0x1F, 0x00, 0x00, 0x7C, 2, 3, 2, 3, 3, 2, 3, 2});
  DecodedImage image;
  ASSERT_EQ(Decode(mapped, &image), S_OK);
  EXPECT_EQ(imgtest::Rgba8(image)[0], 0);
  EXPECT_EQ(imgtest::Rgba8(image)[2], 255);  // entry 2 is blue
  EXPECT_EQ(imgtest::Rgba8(image)[3], 255);
  EXPECT_EQ(image.palette[0].red, 255);  // outside the map: opaque white
}

TEST_F(GxlTga, MalformedHeadersAreRefused) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
  } cases[] = {
      {"colour-map type 2", Header(2, 24, 0)},
      {"image type 4", Header(4, 24, 0)},
      {"no image data", Header(8, 24, 0)},
      {"width 0", Header(2, 24, 0)},
      {"grey at 16 bits", Header(3, 16, 0)},
      {"true colour at 8 bits", Header(2, 8, 0)},
      {"mapped without a map", Header(1, 8, 0)},
      {"map entries of 8 bits", Header(1, 8, 0, 0, 2, 8)},
      {"map past entry 256", Header(1, 8, 0, 250, 10, 24)},
      {"map beyond the data", Header(1, 8, 0, 0, 255, 32)},
      {"raw texels beyond the data", Header(2, 32, 0)},
      {"packets beyond the data", Header(10, 24, 0)},
  };
  cases[0].file[1] = 2;
  cases[3].file[12] = 0;
  for (Case& c : cases) {
    c.file.resize(c.file.size() + (c.what[0] == 'm' ? 40 : 24), 0);
    DecodedImage image;
    EXPECT_EQ(Decode(c.file, &image), GXLERR_INVALIDDATA) << c.what;
  }
}

TEST_F(GxlTga, BrokenCopiesOfToolFilesFailCleanly) {
  Make("convert src.ppm -colors 16 n16.ppm\npamtotga src.ppm > rle.tga 2>/dev/null\n"
       "pamtotga -cmap n16.ppm > map.tga 2>/dev/null\nconvert src.ppm TGA:raw.tga\n");
  std::uint32_t seed = 11;
  for (const char* name : {"rle.tga", "map.tga", "raw.tga"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / name);
    imgtest::ExpectBrokenCopiesFailCleanly(file, file.size() / 2, seed++);
  }
}

TEST_F(GxlTga, WrittenFilesAreReadAlikeByOtherTools) {
  std::uint32_t seed = 3;
  for (const D3DFORMAT format : {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8}) {
    SCOPED_TRACE(format);
    imgtest::Storage storage;
    DecodedImage record;
    imgtest::MakeRecord(format, kWidth, kHeight, seed++, &storage, &record);
    const std::vector<std::uint8_t> ours = imgtest::Rgba8(record);
    const std::string path = m_dir / "out.tga";
    ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Tga, ImageSinkKind::FileA), S_OK);
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    // The ID field holds its text and the terminating NUL.
    ASSERT_EQ(file[0], 13);
    EXPECT_EQ(std::string(file.begin() + 18, file.begin() + 31), std::string("Saved by GXL", 13));

    DecodedImage back;
    ASSERT_EQ(Decode(file, &back), S_OK);
    EXPECT_EQ(back.format, format);
    EXPECT_FALSE(back.OwnsPixels());
    EXPECT_EQ(imgtest::Rgba8(back), ours);
    EXPECT_EQ(imgtest::ConvertRgba8(path), ours);
    EXPECT_EQ(imgtest::PilRgba(path), ours);
    ASSERT_TRUE(imgtest::Run("tgatoppm " + Quote(path) + " > " + Quote(path + ".ppm")));
    std::vector<std::uint8_t> opaque = ours;
    for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    EXPECT_EQ(imgtest::ConvertRgba8(path + ".ppm"), opaque);
  }
}

}  // namespace
