// The BMP and DIB reader against files made by ImageMagick, PIL and netpbm,
// hand-made layouts no tool writes (RLE4 escapes, top-down rows, shifted and
// unnamed bit fields), malformed headers, and the writer's files as those
// tools read them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/file_bytes.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using gxl::tex::detail::Load32;
using gxl::tex::detail::Store16;
using gxl::tex::detail::Store32;
using imgtest::Bytes;
using imgtest::Quote;
using nura::test::ReadFileBytes;

constexpr std::uint32_t kWidth = 37, kHeight = 23;  // odd, so that rows are padded

class GxlBmp : public ::testing::Test {
 protected:
  void SetUp() override {
    imgtest::RequireTools({"convert", "ppmtobmp", "bmptopnm"});
    imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(kWidth, kHeight));
  }
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }
  static DecodedImage* Decode(const std::vector<std::uint8_t>& file, DecodedImage* image, ImageInfo* info = nullptr) {
    EXPECT_EQ(image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), info, true), S_OK);
    return image;
  }

  nura::test::TempDir m_dir;
};

TEST_F(GxlBmp, FilesOfOtherToolsDecodeToTheTexelsTheyReport) {
  struct Case {
    const char* file;
    DWORD format;
    // ImageMagick widens 4-bit channels and 1-bit alpha by shifting: those
    // compare at the file's precision.
    int colourShift = 0, alphaShift = 0;
  } cases[] = {
      {"im-v5-argb.bmp", D3DFMT_A8R8G8B8}, {"im-rgb.bmp", D3DFMT_R8G8B8},       {"im-core.bmp", D3DFMT_R8G8B8},
      {"im-pal1.bmp", D3DFMT_P8},          {"im-pal4.bmp", D3DFMT_P8},          {"im-pal8.bmp", D3DFMT_P8},
      {"im-rle8.bmp", D3DFMT_P8},          {"im-rle8-few.bmp", D3DFMT_P8},      {"im-565.bmp", D3DFMT_R5G6B5},
      {"im-555.bmp", D3DFMT_X1R5G5B5},     {"im-4444.bmp", D3DFMT_A4R4G4B4, 4, 4}, {"im-1555.bmp", D3DFMT_A1R5G5B5, 3, 7},
      {"pil-rgb.bmp", D3DFMT_R8G8B8},      {"pil-rgba.bmp", D3DFMT_A8R8G8B8},   {"pil-p.bmp", D3DFMT_P8},
      {"pil-1.bmp", D3DFMT_P8},            {"pil-l.bmp", D3DFMT_P8},            {"pil.dib", D3DFMT_R8G8B8},
      {"nb-24.bmp", D3DFMT_R8G8B8},        {"nb-4.bmp", D3DFMT_P8},             {"nb-os2.bmp", D3DFMT_P8},
      {"nb-8.bmp", D3DFMT_P8},             {"nb-1.bmp", D3DFMT_P8},
  };
  Make(R"(convert src.ppm \( -size 37x23 gradient:white-black \) -alpha off -compose copy_opacity -composite src.png
convert src.png BMP:im-v5-argb.bmp
convert src.ppm BMP3:im-rgb.bmp
convert src.ppm BMP2:im-core.bmp
convert src.ppm -colors 2 BMP3:im-pal1.bmp
convert src.ppm -colors 16 BMP3:im-pal4.bmp
convert src.ppm -colors 200 BMP3:im-pal8.bmp
convert src.ppm -colors 200 -compress RLE BMP3:im-rle8.bmp
convert src.ppm -colors 4 -compress RLE BMP3:im-rle8-few.bmp
convert src.ppm -define bmp:subtype=RGB565 BMP:im-565.bmp
convert src.ppm -define bmp:subtype=RGB555 BMP:im-555.bmp
convert src.png -define bmp:subtype=ARGB4444 BMP:im-4444.bmp
convert src.png -define bmp:subtype=ARGB1555 BMP:im-1555.bmp
/usr/bin/python3 -c 'from PIL import Image
im = Image.open("src.png")
for mode, name in (("RGB", "rgb"), ("RGBA", "rgba"), ("P", "p"), ("1", "1"), ("L", "l")):
    im.convert(mode).save("pil-" + name + ".bmp")
im.convert("RGB").save("pil.dib", "DIB")'
convert src.ppm -colors 16 n16.ppm
convert src.ppm -colors 2 n2.ppm
ppmtobmp src.ppm > nb-24.bmp 2>/dev/null
ppmtobmp n16.ppm > nb-4.bmp 2>/dev/null
ppmtobmp -os2 n16.ppm > nb-os2.bmp 2>/dev/null
ppmtobmp -bpp=8 n16.ppm > nb-8.bmp 2>/dev/null
ppmtobmp n2.ppm > nb-1.bmp 2>/dev/null
)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = m_dir / c.file;
    const bool dib = std::string(c.file).ends_with(".dib");
    DecodedImage image;
    ImageInfo info{};
    Decode(ReadFileBytes(path), &image, &info);
    EXPECT_EQ(info.fileType, dib ? ImageFileType::Dib : ImageFileType::Bmp);
    ASSERT_EQ(static_cast<DWORD>(image.format), c.format);
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    // ImageMagick does not read bare DIBs; PIL does.
    std::vector<std::uint8_t> theirs = dib ? imgtest::PilRgba(path) : imgtest::ConvertRgba8(path);
    std::vector<std::uint8_t> ours = imgtest::Rgba8(image);
    for (auto* samples : {&ours, &theirs})
      for (std::size_t i = 0; i < samples->size(); ++i) (*samples)[i] >>= i % 4 == 3 ? c.alphaShift : c.colourShift;
    EXPECT_LE(imgtest::MaxDifference(ours, theirs), c.colourShift ? 0 : 1);
  }
}

// A file header and an info header of headerSize bytes (masks when 52 or
// more, or after a 40-byte header with bit fields); the offset of the texels
// is the end of the colour table.
Bytes BmpHeader(std::uint32_t headerSize, std::int32_t width, std::int32_t height, std::uint32_t bits,
                std::uint32_t compression, std::uint32_t colours, std::vector<std::uint32_t> masks = {}) {
  const std::uint32_t maskWords = compression == 3 && headerSize == 40 ? 3 : (headerSize - 40) / 4;
  const std::uint64_t entries = colours ? colours : bits <= 8 ? 1u << bits : 0;
  Bytes b;
  b.u8({'B', 'M'}).u32(0).u32(0).u32(static_cast<std::uint32_t>(14 + 40 + 4 * maskWords + 4 * entries));
  b.u32(headerSize).u32(width).u32(height).u16(1).u16(bits).u32(compression).u32(0).u32(0).u32(0).u32(colours).u32(0);
  masks.resize(maskWords);
  for (std::uint32_t m : masks) b.u32(m);
  return b;
}

TEST_F(GxlBmp, RunLengthFourBitEscapesPlaceTheirTexels) {
  Bytes f = BmpHeader(40, 9, 4, 4, 2, 16);
  for (int i = 0; i < 16; ++i) f.u8({i * 16, 255 - i * 16, i, 0});
  f.u8({5, 0x12, 0, 3, 0x34, 0x50, 0, 0})        // a run of 5, an absolute run of 3, end of row
      .u8({0, 5, 0x67, 0x89, 0xA0, 0, 0, 2, 2, 1})  // 5 nibbles take 4 bytes; move right 2, down 1
      .u8({2, 0xBC, 0, 0, 9, 0xDE, 0, 1});          // end of row, a run across a whole row, end of bitmap
  DecodedImage image;
  Decode(f.v, &image);
  ASSERT_EQ(image.format, D3DFMT_P8);
  const char* rows[] = {"DEDEDEDED", "0000000BC", "6789A0000", "121213450"};  // top row first
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 9; ++x)
      EXPECT_EQ(static_cast<const std::uint8_t*>(image.pixels)[y * image.rowPitch + x],
                std::stoi(std::string(1, rows[y][x]), nullptr, 16))
          << x << "," << y;
  EXPECT_EQ(image.palette[3].blue, 48);
  EXPECT_EQ(image.palette[3].red, 3);
  EXPECT_EQ(image.palette[16].flags, 255);

  // Runs beyond the row's padding (16 nibbles) or the last row, and data that
  // ends before the bitmap.
  const std::vector<std::vector<int>> bad = {{17, 0x11}, {0, 2, 17, 0}, {0, 2, 0, 5}, {0, 9, 1, 2}, {4}};
  for (const auto& stream : bad) {
    Bytes g = BmpHeader(40, 9, 4, 4, 2, 16);
    g.v.resize(g.v.size() + 64);
    for (int b : stream) g.u8({b});
    EXPECT_EQ(image.DecodeImage(g.v.data(), static_cast<std::uint32_t>(g.v.size()), nullptr, true),
              GXLERR_INVALIDDATA)
        << stream[0] << " " << stream.size();
  }
}

TEST_F(GxlBmp, TopDownRowsAreUsedInPlaceAndBottomUpRowsAreCopied) {
  Make("convert src.ppm BMP3:up.bmp\n");
  const std::vector<std::uint8_t> up = ReadFileBytes(m_dir / "up.bmp");
  std::vector<std::uint8_t> down = up;
  const std::uint32_t pitch = (kWidth * 3 + 3) & ~3u, bits = 54;
  for (std::uint32_t y = 0; y < kHeight; ++y)
    std::memcpy(&down[bits + y * pitch], &up[bits + (kHeight - 1 - y) * pitch], pitch);
  Store32(&down[22], static_cast<std::uint32_t>(-static_cast<std::int32_t>(kHeight)));
  DecodedImage a, b;
  Decode(up, &a);
  Decode(down, &b);
  EXPECT_TRUE(a.OwnsPixels());
  EXPECT_FALSE(b.OwnsPixels());
  EXPECT_EQ(b.pixels, down.data() + bits);
  EXPECT_EQ(imgtest::Rgba8(a), imgtest::Rgba8(b));
}

TEST_F(GxlBmp, BitFieldsOutsideTheNamedFormatsAreCopiedOrReadAsFloats) {
  // X8R8G8B8 one byte up in the word, the file's last texel at the end of the
  // buffer: it is copied from bytes 1 to 3 of each texel, nothing beyond.
  Bytes shifted = BmpHeader(52, 2, 1, 32, 3, 0, {0xFF000000, 0xFF0000, 0xFF00});
  shifted.u8({9, 0x30, 0x20, 0x10, 9, 0x60, 0x50, 0x40});
  DecodedImage image;
  Decode(shifted.v, &image);
  ASSERT_EQ(image.format, D3DFMT_X8R8G8B8);
  EXPECT_TRUE(image.OwnsPixels());
  EXPECT_EQ(imgtest::Rgba8(image), (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 255, 0x40, 0x50, 0x60, 255}));

  // A4B4G4R4 is no format of its own; a blue mask of 0 reads as 1.
  Bytes floats = BmpHeader(56, 2, 1, 16, 3, 0, {0xF, 0xF0, 0, 0xF000});
  floats.u16(0x50F3).u16(0x0000);
  Decode(floats.v, &image);
  ASSERT_EQ(image.format, D3DFMT_A32B32G32R32F);
  const auto* f = static_cast<const float*>(image.pixels);
  const float expected[8] = {3 / 15.f, 1.f, 1.f, 5 / 15.f, 0.f, 0.f, 1.f, 0.f};
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(f[i], expected[i]) << i;
}

// Headers whose sizes wrap 32-bit arithmetic, or that describe nothing.
TEST_F(GxlBmp, MalformedHeadersAreRefused) {
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"width 0", BmpHeader(40, 0, 2, 24, 0, 0)},
      {"negative width", BmpHeader(40, -2, 2, 24, 0, 0)},
      {"height 0", BmpHeader(40, 2, 0, 24, 0, 0)},
      {"row bytes beyond 32 bits", BmpHeader(40, 0x40000001, 4, 32, 0, 0)},
      {"float rows beyond 32 bits", BmpHeader(52, 0x10000001, 1, 16, 3, 0, {1, 2, 4})},
      {"colour table beyond 32 bits", BmpHeader(40, 2, 2, 8, 0, 0x40000001)},
      {"colour table beyond the data", BmpHeader(40, 2, 2, 8, 0, 300)},
      {"RLE8 at 24 bits", BmpHeader(40, 2, 2, 24, 1, 0)},
      {"RLE4 at 8 bits", BmpHeader(40, 2, 2, 8, 2, 0)},
      {"RLE8 at 4 bits", BmpHeader(40, 2, 2, 4, 1, 0)},
      {"compression 4", BmpHeader(40, 2, 2, 24, 4, 0)},
      {"bit fields in a 44-byte header", BmpHeader(44, 2, 2, 16, 3, 0)},
      {"bit fields at 8 bits", BmpHeader(52, 2, 2, 8, 3, 0, {0xE0, 0x1C, 3})},
      {"header of 30 bytes", BmpHeader(40, 2, 2, 24, 0, 0)},
      {"two planes", BmpHeader(40, 2, 2, 24, 0, 0)},
      {"file size beyond the data", BmpHeader(40, 2, 2, 24, 0, 0)},
  };
  Store32(&cases[13].file.v[14], 30);
  Store16(&cases[14].file.v[26], 2);
  for (Case& c : cases) {
    c.file.v.resize(c.file.v.size() + 1100);
    Store32(&c.file.v[2], static_cast<std::uint32_t>(c.file.v.size()) + (&c == &cases[15]));
    DecodedImage image;
    EXPECT_EQ(image.DecodeImage(c.file.v.data(), static_cast<std::uint32_t>(c.file.v.size()), nullptr, true),
              GXLERR_INVALIDDATA)
        << c.what;
  }
  // The same header with sane fields is accepted.
  Bytes good = BmpHeader(40, 2, 2, 24, 0, 0);
  good.v.resize(good.v.size() + 16);
  DecodedImage image;
  Decode(good.v, &image);
}

TEST_F(GxlBmp, BrokenCopiesOfToolFilesFailCleanly) {
  Make("convert src.ppm -colors 200 -compress RLE BMP3:rle.bmp\nconvert src.ppm -colors 16 BMP3:p4.bmp\n"
       "convert src.ppm -define bmp:subtype=RGB565 BMP:565.bmp\n"
       "/usr/bin/python3 -c 'from PIL import Image\nImage.open(\"src.ppm\").save(\"a.dib\", \"DIB\")'\n");
  std::uint32_t seed = 1;
  for (const char* name : {"rle.bmp", "p4.bmp", "565.bmp", "a.dib"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / name);
    // A bare DIB ends where its texels end; a BMP file cut anywhere fails.
    imgtest::ExpectBrokenCopiesFailCleanly(file, file.size(), seed++);
  }
}

// The writer's files for every format it stores: read back exactly, and read
// alike by ImageMagick (at the file's precision: it widens narrow channels by
// shifting), and by netpbm and PIL for the 40-byte headers they know (they
// refuse or ignore the masks of 52- and 56-byte ones).
TEST_F(GxlBmp, WrittenFilesAreReadAlikeByOtherTools) {
  struct Case {
    D3DFORMAT format;
    D3DFORMAT readBack;
    int colourShift, alphaShift;  // alphaShift 8: no alpha to compare
    bool header40;
  } cases[] = {
      {D3DFMT_P8, D3DFMT_P8, 0, 8, true},
      {D3DFMT_L8, D3DFMT_P8, 0, 8, true},
      {D3DFMT_R3G3B2, D3DFMT_P8, 0, 8, true},
      {D3DFMT_R8G8B8, D3DFMT_R8G8B8, 0, 8, true},
      {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, 0, 8, true},
      {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 0, 0, true},
      {D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, 3, 8, true},
      {D3DFMT_R5G6B5, D3DFMT_R5G6B5, 3, 8, false},
      {D3DFMT_X4R4G4B4, D3DFMT_X4R4G4B4, 4, 8, false},
      {D3DFMT_A1R5G5B5, D3DFMT_A1R5G5B5, 3, 7, false},
      {D3DFMT_A4R4G4B4, D3DFMT_A4R4G4B4, 4, 4, false},
      {D3DFMT_A8R3G3B2, D3DFMT_A8R3G3B2, 6, 0, false},
      {D3DFMT_X8B8G8R8, D3DFMT_X8B8G8R8, 0, 8, false},
      {D3DFMT_A8B8G8R8, D3DFMT_A8B8G8R8, 0, 0, false},
      {D3DFMT_A2R10G10B10, D3DFMT_A2R10G10B10, 0, 6, false},
  };
  std::uint32_t seed = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    imgtest::Storage storage;
    DecodedImage record;
    imgtest::MakeRecord(c.format, kWidth, kHeight, seed++, &storage, &record);
    const std::vector<std::uint8_t> ours = imgtest::Rgba8(record);
    const std::string path = m_dir / "out.bmp";
    ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Bmp, ImageSinkKind::FileA), S_OK);
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    EXPECT_EQ(Load32(&file[2]), file.size());
    EXPECT_EQ(file.size() % 4, 0u);

    DecodedImage back;
    Decode(file, &back);
    EXPECT_EQ(back.format, c.readBack);
    EXPECT_EQ(imgtest::Rgba8(back), ours);
    // Samples at the file's precision; alpha too, or 255 for both.
    const auto reduce = [&](std::vector<std::uint8_t> rgba, int alphaShift) {
      for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = i % 4 != 3 ? rgba[i] >> c.colourShift : alphaShift == 8 ? 255 : rgba[i] >> alphaShift;
      return rgba;
    };
    EXPECT_LE(imgtest::MaxDifference(reduce(imgtest::ConvertRgba8(path), c.alphaShift), reduce(ours, c.alphaShift)),
              1);
    if (!c.header40) continue;
    ASSERT_TRUE(imgtest::Run("bmptopnm -quiet " + Quote(path) + " > " + Quote(path + ".ppm")));
    EXPECT_LE(imgtest::MaxDifference(reduce(imgtest::ConvertRgba8(path + ".ppm"), 8), reduce(ours, 8)), 1);
    EXPECT_LE(imgtest::MaxDifference(reduce(imgtest::PilRgba(path), 8), reduce(ours, 8)), 1);
  }
}

}  // namespace
