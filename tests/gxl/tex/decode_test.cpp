// File-type detection and the decoded-image record: what DecodeImage reports
// for the types it knows, what it does with bytes of no known type, the
// region description and the text helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_import.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;
using nura::test::TempDir;

class GxlDecode : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> MakeFile(const std::string& name, const std::string& tool) {
    imgtest::WritePnm(m_dir / "picture.ppm", imgtest::MakePicture(21, 13));
    const std::string path = m_dir / name;
    EXPECT_TRUE(imgtest::Run(tool + " " + Quote(m_dir / "picture.ppm") + " > " + Quote(path)));
    return ReadFileBytes(path);
  }

  TempDir m_dir;
};

TEST_F(GxlDecode, PngAndJpegFilesAreRecognisedWithTheirDescription) {
  imgtest::RequireTools({"pnmtopng", "convert"});
  struct {
    std::vector<std::uint8_t> bytes;
    ImageFileType type;
    D3DFORMAT format;
  } files[] = {{MakeFile("a.png", "pnmtopng -force"), ImageFileType::Png, D3DFMT_X8R8G8B8},
               {MakeFile("a.jpg", "convert - jpg:- <"), ImageFileType::Jpg, D3DFMT_X8R8G8B8}};
  for (auto& f : files) {
    ImageInfo info;
    std::memset(&info, 0xCD, sizeof info);
    DecodedImage image;
    ASSERT_EQ(image.DecodeImage(f.bytes.data(), static_cast<std::uint32_t>(f.bytes.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, f.type);
    EXPECT_EQ(image.fileType, f.type);
    EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(info.width, 21u);
    EXPECT_EQ(info.height, 13u);
    EXPECT_EQ(info.depth, 1u);
    EXPECT_EQ(info.mipCount, 1u);
    EXPECT_EQ(info.format, f.format);
    EXPECT_EQ(image.nextMip, nullptr);
    EXPECT_EQ(image.nextFace, nullptr);
    // The box covers the whole image.
    EXPECT_EQ(image.box.left, 0u);
    EXPECT_EQ(image.box.right, 21u);
    EXPECT_EQ(image.box.bottom, 13u);
    EXPECT_EQ(image.box.back, 1u);

    // The same through the header-only reader.
    ImageInfo header{};
    ASSERT_EQ(ReadImageInfoFromFileData(f.bytes.data(), static_cast<UINT>(f.bytes.size()), &header), S_OK);
    EXPECT_EQ(std::memcmp(&header, &info, sizeof info), 0);
  }
}

TEST_F(GxlDecode, BytesOfNoKnownTypeAreInvalidDataAndLeaveNothing) {
  const char* texts[] = {"plain text, not a picture", "\x89PNG\r\n\x1a\n but then nothing", "\xFF\xD8\xFF"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    DecodedImage image;
    ImageInfo info{};
    EXPECT_EQ(image.DecodeImage(text, static_cast<std::uint32_t>(std::strlen(text)), &info, true),
              GXLERR_INVALIDDATA);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.palette, nullptr);
    EXPECT_FALSE(image.OwnsPixels());
    EXPECT_FALSE(image.OwnsPalette());
  }
}

TEST_F(GxlDecode, NullDataOrNoSizeIsAnInvalidCall) {
  DecodedImage image;
  ImageInfo info{};
  const std::uint8_t byte = 0;
  EXPECT_EQ(image.DecodeImage(nullptr, 10, &info, true), D3DERR_INVALIDCALL);
  EXPECT_EQ(image.DecodeImage(&byte, 0, &info, true), D3DERR_INVALIDCALL);
  // Asking for neither information nor pixels reads nothing at all.
  EXPECT_EQ(image.DecodeImage(&byte, 1, nullptr, false), S_OK);
}

TEST_F(GxlDecode, ARecordReusedForAnotherFileDropsWhatItHeld) {
  imgtest::RequireTools({"pnmtopng"});
  const std::vector<std::uint8_t> png = MakeFile("a.png", "pnmtopng -force");
  DecodedImage image;
  ASSERT_EQ(image.DecodeImage(png.data(), static_cast<std::uint32_t>(png.size()), nullptr, true), S_OK);
  ASSERT_TRUE(image.OwnsPixels());
  EXPECT_EQ(image.DecodeImage("junk", 4, nullptr, true), GXLERR_INVALIDDATA);
  EXPECT_FALSE(image.OwnsPixels());
  EXPECT_EQ(image.pixels, nullptr);
}

TEST_F(GxlDecode, ChainsOfLevelsAndFacesAreOwnedAndCounted) {
  DecodedImage top;
  DecodedImage* level = &top;
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(level->AllocatePixels(64), nullptr);
    level->nextMip = std::make_unique<DecodedImage>();
    level = level->nextMip.get();
  }
  top.nextFace = std::make_unique<DecodedImage>();
  ASSERT_NE(top.nextFace->AllocatePalette(), nullptr);
  EXPECT_EQ(top.LevelCount(), 4u);
  EXPECT_EQ(top.nextFace->LevelCount(), 1u);
  // Beyond 32 bits nothing is allocated.
  EXPECT_EQ(level->AllocatePixels(std::uint64_t{1} << 32), nullptr);
  EXPECT_FALSE(level->OwnsPixels());
  top.Clear();
  EXPECT_EQ(top.nextMip, nullptr);
  EXPECT_EQ(top.nextFace, nullptr);
}

// The region's working box is kept exactly: a 2 x 2 corner of a block format
// stays 2 x 2 (widening it belongs to the writers that store whole blocks).
TEST_F(GxlDecode, RegionsAreDescribedWithTheirExactBox) {
  std::uint8_t memory[256] = {};
  const PaletteEntry palette[256] = {};
  struct {
    D3DFORMAT format;
    ImageBox box;
  } cases[] = {{D3DFMT_A8R8G8B8, {3, 2, 9, 7, 0, 1}},
               {D3DFMT_DXT1, {1, 1, 3, 3, 0, 1}},
               {D3DFMT_DXT5, {5, 6, 7, 11, 0, 1}},
               {D3DFMT_YUY2, {1, 0, 4, 2, 0, 1}},
               {D3DFMT_P8, {0, 0, 4, 4, 1, 3}}};
  for (const auto& c : cases) {
    ImageRegion region{};
    region.pixels = memory;
    region.format = c.format;
    region.rowPitch = 32;
    region.slicePitch = 128;
    region.box = c.box;
    region.palette = palette;
    DecodedImage record;
    ASSERT_NE(record.AllocatePixels(16), nullptr);
    ASSERT_EQ(record.SetFromRegion(region), S_OK);
    EXPECT_FALSE(record.OwnsPixels());
    EXPECT_EQ(record.pixels, memory);
    EXPECT_EQ(record.palette, palette);
    EXPECT_EQ(record.format, c.format);
    EXPECT_EQ(std::memcmp(&record.box, &c.box, sizeof c.box), 0);
    EXPECT_EQ(record.width, c.box.right - c.box.left);
    EXPECT_EQ(record.height, c.box.bottom - c.box.top);
    EXPECT_EQ(record.depth, c.box.back - c.box.front);
    EXPECT_EQ(record.rowPitch, 32u);
    EXPECT_EQ(record.slicePitch, 128u);
  }
}

TEST_F(GxlDecode, TextHelpers) {
  EXPECT_EQ(FindNewline("abc\ndef", 7), 3u);
  EXPECT_EQ(FindNewline("\nabc", 4), 0u);
  EXPECT_EQ(FindNewline("abc", 3), 0u);
  // A line feed beyond the given length does not count.
  EXPECT_EQ(FindNewline("abc\n", 3), 0u);
  EXPECT_EQ(ByteSwapFloat(0x0000803Fu), 1.0f);
  EXPECT_EQ(ByteSwapFloat(0x000080BFu), -1.0f);
  EXPECT_EQ(ByteSwapFloat(0x00004842u), 50.0f);
}

}  // namespace
