// Valid layouts other programs write or read that the readers once got wrong:
// 16-bit TGA colour maps without attribute bits, BMP texels after a gap,
// bit fields after a 40-byte header, and DXT2-5 colour blocks whose endpoints
// are in DXT1's three-colour order. Each file is made by a tool or, where no
// tool writes that layout, byte by byte here; ImageMagick and PIL read it too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/file_bytes.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using gxl::tex::detail::Load32;
using gxl::tex::detail::Store32;
using imgtest::Bytes;
using nura::test::ReadFileBytes;
using nura::test::WriteFileBytes;

class GxlPeerFiles : public ::testing::Test {
 protected:
  void SetUp() override { imgtest::RequireTools({"convert", "/usr/bin/python3"}); }

  // Our texels of the file, and ImageMagick's and PIL's; bare DIBs only PIL reads.
  void ExpectReadAlike(const std::string& name, const std::vector<std::uint8_t>& file, D3DFORMAT format,
                       ImageFileType type = ImageFileType::Bmp) {
    SCOPED_TRACE(name);
    const std::string path = m_dir / name;
    WriteFileBytes(path, file);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, type);
    EXPECT_EQ(image.format, format);
    const std::vector<std::uint8_t> ours = imgtest::Rgba8(image);
    if (type != ImageFileType::Dib) {
      EXPECT_LE(imgtest::MaxDifference(ours, imgtest::ConvertRgba8(path)), 1);
    }
    EXPECT_LE(imgtest::MaxDifference(ours, imgtest::PilRgba(path)), 1);
  }
  static HRESULT Decode(const std::vector<std::uint8_t>& file) {
    DecodedImage image;
    return image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true);
  }

  nura::test::TempDir m_dir;
};

// No tool writes 16-bit map entries (netpbm's are 15-bit); the map's unused
// entries 2 and 3 have the top bit set, the used ones do not.
TEST_F(GxlPeerFiles, TgaSixteenBitColourMapsAreOpaqueWithoutAttributeBits) {
  auto file = [](int descriptor) {
    Bytes b;
    b.u8({0, 1, 1}).u16(0).u16(4).u8({16}).u16(0).u16(0).u16(4).u16(2).u8({8, descriptor});
    for (std::uint32_t entry : {0x7C00u, 0x03E0u, 0x801Fu, 0xFFFFu}) b.u16(entry);
    return b.u8({0, 1, 0, 1, 1, 0, 1, 0}).v;
  };
  ExpectReadAlike("map16.tga", file(0x20), D3DFMT_P8, ImageFileType::Tga);

  // Declared attribute bits keep the top bit as alpha.
  DecodedImage image;
  const std::vector<std::uint8_t> alpha = file(0x21);
  ASSERT_EQ(image.DecodeImage(alpha.data(), static_cast<std::uint32_t>(alpha.size()), nullptr, true), S_OK);
  EXPECT_EQ(image.palette[0].flags, 0);
  EXPECT_EQ(image.palette[2].flags, 255);
}

// Files of ImageMagick with bytes put between the colour table and the
// texels, the file header's offset moved past them.
TEST_F(GxlPeerFiles, BmpTexelsStartAtTheFileHeadersOffset) {
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(13, 7));
  ASSERT_TRUE(imgtest::RunScript(m_dir.path(),
                                 "convert src.ppm -colors 16 BMP3:p4.bmp\nconvert src.ppm -colors 100 BMP3:p8.bmp\n"
                                 "convert src.ppm BMP3:rgb.bmp\n"));
  const struct {
    const char* name;
    D3DFORMAT format;
  } cases[] = {{"p4.bmp", D3DFMT_P8}, {"p8.bmp", D3DFMT_P8}, {"rgb.bmp", D3DFMT_R8G8B8}};
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> tool = ReadFileBytes(m_dir / c.name);
    ASSERT_GT(tool.size(), 54u);
    const std::uint32_t offset = Load32(&tool[10]);
    std::vector<std::uint8_t> gap(tool.begin(), tool.begin() + offset);
    gap.insert(gap.end(), 20, 0xA5);
    gap.insert(gap.end(), tool.begin() + offset, tool.end());
    Store32(&gap[2], static_cast<std::uint32_t>(gap.size()));
    Store32(&gap[10], offset + 20);
    ExpectReadAlike(std::string("gap-") + c.name, gap, c.format);

    // Offsets inside the file header or the info header, and past the end.
    for (std::uint32_t bad : {0u, 10u, 14u + 39u, static_cast<std::uint32_t>(gap.size()) + 1}) {
      std::vector<std::uint8_t> refused = gap;
      Store32(&refused[10], bad);
      EXPECT_EQ(Decode(refused), GXLERR_INVALIDDATA) << c.name << " offset " << bad;
    }
  }
}

// Bit fields with the plain 40-byte header, the three masks after it: a
// 16-bit 5-6-5 file, and a 32-bit DIB as the clipboard holds it, bare and in
// a file.
TEST_F(GxlPeerFiles, BmpBitFieldsAfterAFortyByteHeader) {
  auto info = [](std::int32_t width, std::int32_t height, int bits, std::uint32_t imageBytes) {
    Bytes b;
    b.u32(40).u32(width).u32(height).u16(1).u16(bits).u32(3).u32(imageBytes).u32(2834).u32(2834).u32(0).u32(0);
    return b;
  };
  auto bmp = [](const Bytes& dib) {
    Bytes b;
    b.u8({'B', 'M'}).u32(14 + static_cast<std::uint32_t>(dib.v.size())).u32(0).u32(14 + 52);
    return b.add(dib.v).v;
  };
  Bytes r565 = info(3, 2, 16, 16).u32(0xF800).u32(0x7E0).u32(0x1F);
  r565.u16(0xF800).u16(0x07E0).u16(0x001F).u16(0).u16(0xFFFF).u16(0x0000).u16(0x8410).u16(0);
  ExpectReadAlike("565.bmp", bmp(r565), D3DFMT_R5G6B5);

  Bytes clip = info(3, -2, 32, 24).u32(0xFF0000).u32(0xFF00).u32(0xFF);
  for (std::uint32_t texel : {0x112233u, 0x445566u, 0x778899u, 0xAABBCCu, 0xDDEEFFu, 0x010203u}) clip.u32(texel);
  ExpectReadAlike("clip.dib", clip.v, D3DFMT_X8R8G8B8, ImageFileType::Dib);
  ExpectReadAlike("clip.bmp", bmp(clip), D3DFMT_X8R8G8B8);

  // Masks cut off by the end of the data.
  Bytes cut = info(1, 1, 32, 4);
  cut.u32(0xFF0000);
  EXPECT_EQ(Decode(bmp(cut)), GXLERR_INVALIDDATA);
}

// One 4 x 4 block per file, colour0 < colour1 and each row using indices 0
// to 3. No tool writes such DXT3 or DXT5 blocks; ImageMagick and PIL read
// them with four colours, DXT1 with three and transparent black.
TEST_F(GxlPeerFiles, DxtColourBlocksOfDxt2To5HaveFourColours) {
  auto dds = [](const char* code, const std::vector<std::uint8_t>& alpha) {
    Bytes b;
    b.u8({'D', 'D', 'S', ' '}).u32(124).u32(0x1007).u32(4).u32(4).u32(0).u32(0).u32(0);
    for (int i = 0; i < 11; ++i) b.u32(0);
    b.u32(32).u32(4).u8({code[0], code[1], code[2], code[3]}).u32(0).u32(0).u32(0).u32(0).u32(0);
    b.u32(0x1000).u32(0).u32(0).u32(0).u32(0);
    return b.add(alpha).u16(0x001F).u16(0xF800).u32(0xE4E4E4E4).v;
  };
  const std::vector<std::uint8_t> opaque3(8, 0xFF), opaque5 = {255, 255, 0, 0, 0, 0, 0, 0};
  ExpectReadAlike("dxt1.dds", dds("DXT1", {}), D3DFMT_DXT1, ImageFileType::Dds);
  ExpectReadAlike("dxt3.dds", dds("DXT3", opaque3), D3DFMT_DXT3, ImageFileType::Dds);
  ExpectReadAlike("dxt5.dds", dds("DXT5", opaque5), D3DFMT_DXT5, ImageFileType::Dds);

  // Neither tool reads the premultiplied formats: opaque, they decode as
  // their straight twins, index 3 two thirds of the way to colour1.
  const std::vector<std::uint8_t> block3 = dds("DXT3", opaque3), block5 = dds("DXT5", opaque5);
  ColorF straight[16], premultiplied[16];
  const struct {
    DxtDecodeBlockFn decode, twin;
    const std::vector<std::uint8_t>* block;
  } pairs[] = {{DecodeDxt2Block, DecodeDxt3Block, &block3}, {DecodeDxt4Block, DecodeDxt5Block, &block5}};
  for (const auto& [decode, twin, block] : pairs) {
    decode(premultiplied, block->data() + 128);
    twin(straight, block->data() + 128);
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(ColorsEqual(premultiplied[i], straight[i])) << i;
    EXPECT_TRUE(ColorsEqual(straight[3], LerpFloat4(Rgb565ToFloat(0x001F), Rgb565ToFloat(0xF800), 0.6666667f)))
        << straight[3];
  }
}

}  // namespace
