// The DDS reader against files of ImageMagick and PIL; cube and volume files
// laid out by hand from the published layout, loaded into textures and
// exported back byte for byte; malformed headers; every format of the writer
// read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/dds_format.h"
#include "gxl/tex/image_export.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_build.h"
#include "image_test_util.h"
#include "tests/support/test_util.h"
#include "tex_test_device.h"

namespace {

using imgtest::DecodeBytes;
using nura::test::ReadFileBytes;
using textest::Ref;

// The pixel-format block: flags, four-character code, bits, masks.
struct Block {
  std::uint32_t flags, code, bits, masks[4];
};
constexpr Block kArgb = {0x41, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}};

void Put32(std::vector<std::uint8_t>& v, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Magic and header, flagged as the writer flags them (depth 0: no volume).
std::vector<std::uint8_t> Header(std::uint32_t width, std::uint32_t height, std::uint32_t depth, std::uint32_t mips,
                                 std::uint32_t caps2, const Block& b) {
  std::vector<std::uint8_t> h;
  for (std::uint32_t v : {0x20534444u, 124u, 0x1007u | (mips > 1 ? 0x20000 : 0) | (depth ? 0x800000 : 0), height, width,
                          0u, depth, mips > 1 ? mips : 0})
    Put32(h, v);
  h.resize(76, 0);
  for (std::uint32_t v : {32u, b.flags, b.code, b.bits, b.masks[0], b.masks[1], b.masks[2], b.masks[3]}) Put32(h, v);
  Put32(h, 0x1000 | (b.flags & 3 ? 0x2 : 0) | (mips > 1 ? 0x400008 : 0) | (caps2 & 0xFC00 ? 0x8 : 0));
  Put32(h, caps2);
  h.resize(128, 0);
  return h;
}

// The texel of face f, level l, slice z at (x, y).
std::uint32_t Texel(std::uint32_t f, std::uint32_t l, std::uint32_t z, std::uint32_t x, std::uint32_t y) {
  return 0x80000000u | f << 20 | l << 16 | z << 12 | y << 4 | x;
}

// A square A8R8G8B8 file of Texel()s: six faces when caps2 has face bits.
std::vector<std::uint8_t> ArgbFile(std::uint32_t size, std::uint32_t depth, std::uint32_t mips, std::uint32_t caps2) {
  std::vector<std::uint8_t> file = Header(size, size, depth, mips, caps2, kArgb);
  for (std::uint32_t f = 0; f < (caps2 & 0xFC00 ? 6u : 1u); ++f)
    for (std::uint32_t l = 0, s = size, d = std::max(depth, 1u); l < mips;
         ++l, s = std::max(s / 2, 1u), d = std::max(d / 2, 1u))
      for (std::uint32_t z = 0; z < d; ++z)
        for (std::uint32_t y = 0; y < s; ++y)
          for (std::uint32_t x = 0; x < s; ++x) Put32(file, Texel(f, l, z, x, y));
  return file;
}

class GxlDds : public textest::DeviceTest {
 protected:
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }
  nura::test::TempDir m_dir;
};

TEST_F(GxlDds, FilesOfOtherToolsDecodeToTheTexelsTheyReport) {
  imgtest::RequireTools({"convert", "/usr/bin/python3"});
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(37, 23));
  Make(R"(convert src.ppm \( -size 37x23 gradient:white-black \) -alpha off -compose copy_opacity -composite src.png
convert src.ppm -define dds:compression=none im-rgb.dds
convert src.png -define dds:compression=none im-rgba.dds
convert src.ppm -define dds:compression=dxt1 im-dxt1.dds
convert src.png -resize 32x16! -define dds:compression=dxt5 -define dds:mipmaps=3 im-dxt5.dds
/usr/bin/python3 -c 'from PIL import Image
im = Image.open("src.png")
im.save("pil-rgba.dds")
im.convert("RGB").save("pil-rgb.dds")'
)");
  struct Case {
    const char* file;
    D3DFORMAT format;
    std::uint32_t levels;
  } cases[] = {{"im-rgb.dds", D3DFMT_R8G8B8, 1},  {"im-rgba.dds", D3DFMT_A8R8G8B8, 1},
               {"im-dxt1.dds", D3DFMT_DXT1, 1},   {"im-dxt5.dds", D3DFMT_DXT5, 4},
               {"pil-rgb.dds", D3DFMT_R8G8B8, 1}, {"pil-rgba.dds", D3DFMT_A8R8G8B8, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / c.file);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(DecodeBytes(file, &image, &info), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Dds);
    EXPECT_EQ(info.mipCount, c.levels);
    ASSERT_EQ(image.format, c.format);
    // The levels halve and take up the file exactly.
    std::uint64_t bytes = 128;
    std::uint32_t w = image.width, h = image.height;
    for (const DecodedImage* r = &image; r; r = r->nextMip.get(), w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
      EXPECT_EQ(r->width * 1000 + r->height, w * 1000 + h);
      bytes += r->slicePitch;
    }
    EXPECT_EQ(bytes, file.size());
    EXPECT_LE(imgtest::MaxDifference(imgtest::Rgba8(image), imgtest::ConvertRgba8(m_dir / c.file)), 1);
  }
}

// Faces in the order +X, -X, +Y, -Y, +Z, -Z and slices land where the
// published layout puts them; the texture exports as the very same file.
TEST_F(GxlDds, CubeAndVolumeFilesLoadIntoTexturesAndExportUnchanged) {
  const std::vector<std::uint8_t> cubeFile = ArgbFile(4, 0, 2, 0xFE00), volumeFile = ArgbFile(4, 4, 3, 0x200000);
  ImageInfo info{};
  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(GXLBuildCubeTextureFromFileData(dev, cubeFile.data(), static_cast<UINT>(cubeFile.size()), kGxlFromFile,
                                            kGxlFromFile, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 1, kGxlDefault, 0, &info,
                                            nullptr, &cube),
            S_OK);
  EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
  for (std::uint32_t f = 0; f < 6; ++f)
    for (UINT level = 0; level < 2; ++level) {
      Ref<IDirect3DSurface9> s;
      ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(f), level, &s), D3D_OK);
      const std::vector<std::uint32_t> texels = Read32(s.get());
      for (std::uint32_t i = 0; i < texels.size(); ++i)
        ASSERT_EQ(texels[i], Texel(f, level, 0, i % (4 >> level), i / (4 >> level))) << f << " " << level;
    }

  Ref<IDirect3DVolumeTexture9> volume;
  ASSERT_EQ(GXLBuildVolumeTextureFromFileData(dev, volumeFile.data(), static_cast<UINT>(volumeFile.size()),
                                              kGxlFromFile, kGxlFromFile, kGxlFromFile, kGxlFromFile, 0, D3DFMT_UNKNOWN,
                                              D3DPOOL_MANAGED, 1, kGxlDefault, 0, &info, nullptr, &volume),
            S_OK);
  EXPECT_EQ(info.resourceType, D3DRTYPE_VOLUMETEXTURE);
  ASSERT_EQ(volume->GetLevelCount(), 3u);
  for (UINT level = 0; level < 3; ++level) {
    D3DLOCKED_BOX box{};
    ASSERT_EQ(volume->LockBox(level, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
    const std::uint32_t n = 4 >> level;
    for (std::uint32_t i = 0; i < n * n * n; ++i) {
      std::uint32_t texel;
      const std::uint32_t x = i % n, y = i / n % n, z = i / n / n;
      std::memcpy(&texel, static_cast<std::uint8_t*>(box.pBits) + z * box.SlicePitch + y * box.RowPitch + 4 * x, 4);
      ASSERT_EQ(texel, Texel(0, level, z, x, y)) << level;
    }
    volume->UnlockBox(level);
  }

  for (IDirect3DBaseTexture9* texture :
       {static_cast<IDirect3DBaseTexture9*>(cube.get()), static_cast<IDirect3DBaseTexture9*>(volume.get())}) {
    DataBuffer* buffer = nullptr;
    ASSERT_EQ(GXLExportTextureToMemory(&buffer, ImageFileType::Dds, texture, nullptr), S_OK);
    const auto* p = static_cast<const std::uint8_t*>(buffer->GetPointer());
    EXPECT_EQ(std::vector<std::uint8_t>(p, p + buffer->GetSize()), texture == cube.get() ? cubeFile : volumeFile);
    buffer->Release();
  }
}

TEST_F(GxlDds, HeadersAreCheckedBeforeAByteIsRead) {
  // A 5 x 3 DXT1 level is one row of two blocks; the next, 2 x 1, one block.
  // The flags carry RGB beside the code, which the code overrides.
  std::vector<std::uint8_t> dxt = Header(5, 3, 0, 2, 0, Block{0x44, D3DFMT_DXT1, 32, {}});
  dxt.resize(dxt.size() + 24);
  DecodedImage image;
  ASSERT_EQ(DecodeBytes(dxt, &image), S_OK);
  EXPECT_EQ(image.format, D3DFMT_DXT1);
  EXPECT_EQ(image.rowPitch * 1000 + image.slicePitch, 16016u);
  EXPECT_EQ(image.nextMip->width * 1000 + image.nextMip->height, 2001u);
  EXPECT_EQ(image.nextMip->slicePitch, 8u);

  // The 10-bit layouts by their published masks: red in the low bits of
  // A2B10G10R10, blue in those of A2R10G10B10.
  for (const bool redLow : {true, false}) {
    const std::uint32_t low = 0x3FF, high = 0x3FF00000;
    std::vector<std::uint8_t> file =
        Header(1, 1, 0, 1, 0, Block{0x41, 0, 32, {redLow ? low : high, 0xFFC00, redLow ? high : low, 0xC0000000}});
    Put32(file, 0xC00003FF);  // opaque, the low channel full
    ASSERT_EQ(DecodeBytes(file, &image), S_OK);
    EXPECT_EQ(image.format, redLow ? D3DFMT_A2B10G10R10 : D3DFMT_A2R10G10B10);
    EXPECT_EQ(imgtest::Rgba8(image)[redLow ? 0 : 2], 255);
  }

  // A palette of 1024 bytes follows the header; the records point into it.
  std::vector<std::uint8_t> p8 = Header(2, 2, 0, 1, 0, Block{0x20, 0, 8, {}});
  p8.resize(p8.size() + 1024 + 4);
  ASSERT_EQ(DecodeBytes(p8, &image), S_OK);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(image.palette), p8.data() + 128);

  const std::vector<std::uint8_t> cube = ArgbFile(2, 0, 1, 0xFE00);
  std::vector<std::uint8_t> cases[] = {
      ArgbFile(2, 0, 1, 0x3C00),                                // three face bits
      std::vector<std::uint8_t>(cube.begin(), cube.end() - 1),  // one byte short
      ArgbFile(4, 0, 4, 0),                                     // more levels than 4 x 4 has
      ArgbFile(0, 0, 1, 0),                                     // width 0
      Header(1, 1, 0xFFFFFFFF, 1, 0x200000, kArgb),             // slices beyond the data
      ArgbFile(2, 0, 1, 0),                                     // block size 31
      ArgbFile(2, 0, 1, 0),                                     // masks of no format
      std::vector<std::uint8_t>(p8.begin(), p8.end() - 8),      // palette cut short
  };
  cases[4].resize(cases[4].size() + 64);
  cases[5][76] = 31;
  cases[6][92] = 0x12;
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(DecodeBytes(cases[i], &image), GXLERR_INVALIDDATA) << i;
}

// Every format of the writer, three levels of random bytes, reads back byte
// for byte; the common ones read alike in ImageMagick. (Random DXT2 to DXT5
// blocks are left out there: where colour 0 is not above colour 1 the codecs
// take index 3 as black, ImageMagick does not.)
TEST_F(GxlDds, EveryFormatOfTheWriterReadsBack) {
  std::uint32_t state = 1;
  auto next = [&state] { return static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24); };
  std::vector<PaletteEntry> palette(256);
  for (PaletteEntry& e : palette) e = PaletteEntry{next(), next(), next(), 255};
  std::uint32_t count = 0;
  for (const D3DFORMAT* f = DdsCandidateFormats(); *f; ++f, ++count) {
    SCOPED_TRACE(*f);
    std::vector<std::vector<std::uint8_t>> levels;
    DecodedImage head;
    DecodedImage* record = &head;
    for (std::uint32_t l = 0, w = 7, h = 5; l < 3; ++l, w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
      if (l) record = (record->nextMip = std::make_unique<DecodedImage>()).get();
      const std::uint64_t rowBytes = StoredRowBytes(*f, w);
      levels.emplace_back(rowBytes * StoredRowCount(*f, h));
      for (std::uint8_t& b : levels.back()) b = next();
      ImageRegion region{};
      region.pixels = levels.back().data();
      region.format = *f;
      region.rowPitch = static_cast<std::uint32_t>(rowBytes);
      region.extent = region.box = ImageBox{0, 0, w, h, 0, 1};
      region.palette = palette.data();
      record->SetFromRegion(region);
    }
    const std::vector<std::uint8_t> file = imgtest::EncodeToMemory(head, ImageFileType::Dds);
    DecodedImage back;
    ASSERT_EQ(DecodeBytes(file, &back), S_OK);
    ASSERT_EQ(back.format, *f);
    ASSERT_EQ(back.LevelCount(), 3u);
    const DecodedImage* b = &back;
    for (std::size_t l = 0; l < 3; ++l, b = b->nextMip.get())
      EXPECT_EQ(std::memcmp(b->pixels, levels[l].data(), levels[l].size()), 0) << "level " << l;
    EXPECT_TRUE(!back.palette || std::memcmp(back.palette, palette.data(), 1024) == 0);
    if (*f == D3DFMT_A8R8G8B8 || *f == D3DFMT_R8G8B8 || *f == D3DFMT_R5G6B5 || *f == D3DFMT_A1R5G5B5 ||
        *f == D3DFMT_A4R4G4B4 || *f == D3DFMT_L8 || *f == D3DFMT_DXT1) {
      nura::test::WriteFileBytes(m_dir / "out.dds", file);
      EXPECT_LE(imgtest::MaxDifference(imgtest::Rgba8(back), imgtest::ConvertRgba8(m_dir / "out.dds")), 1);
    }
  }
  EXPECT_EQ(count, kDdsFormatCount);
}

TEST_F(GxlDds, BrokenCopiesFailCleanly) {
  imgtest::RequireTools({"convert"});
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(32, 16));
  Make(
      "convert src.ppm -define dds:compression=dxt5 -define dds:mipmaps=2 mips.dds\n"
      "convert src.ppm -define dds:compression=none raw.dds\n");
  imgtest::ExpectBrokenCopiesFailCleanly(ReadFileBytes(m_dir / "mips.dds"), 128 + 512, 21);
  imgtest::ExpectBrokenCopiesFailCleanly(ReadFileBytes(m_dir / "raw.dds"), 128 + 32 * 16 * 3, 22);
  imgtest::ExpectBrokenCopiesFailCleanly(ArgbFile(4, 0, 3, 0xFE00), 128 + 6 * 84, 23);
}

// A second check of the cube face order and of volume levels, on files no
// code of this project lays out: a cube of six flat faces assembled and given
// its mip chain by NVIDIA's texture tools, and a volume of three levels
// written by a Python script from the published layout (no tool here writes
// volumes with levels).
TEST_F(GxlDds, CubesAndVolumesOfOtherWritersReadInTheirOrder) {
  imgtest::RequireTools({"convert", "nvassemble", "nvcompress", "/usr/bin/python3"});
  Make(R"sh(for f in 0 1 2 3 4 5; do convert -size 8x8 xc:"rgb($((f * 40)),$((250 - f * 40)),$((f * 9 + 7)))" face$f.png; done
nvassemble -cube face0.png face1.png face2.png face3.png face4.png face5.png -o flat.dds > /dev/null
nvcompress -rgb -nocuda flat.dds cube.dds > /dev/null
/usr/bin/python3 -c 'import struct
f = struct.pack("<8I", 0x20534444, 124, 0x821007, 4, 4, 0, 4, 3) + bytes(44)
f += struct.pack("<8I", 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
f += struct.pack("<2I", 0x401002 | 8, 0x200000) + bytes(12)
for level, size in enumerate((4, 2, 1)):
    for z in range(size):
        for y in range(size):
            for x in range(size):
                f += struct.pack("<I", 0xFF000000 | level << 16 | z << 8 | y << 4 | x)
open("volume.dds", "wb").write(f)'
)sh");
  // The records point into the files' bytes.
  const std::vector<std::uint8_t> cubeFile = ReadFileBytes(m_dir / "cube.dds");
  const std::vector<std::uint8_t> volumeFile = ReadFileBytes(m_dir / "volume.dds");
  DecodedImage cube;
  ImageInfo info{};
  ASSERT_EQ(DecodeBytes(cubeFile, &cube, &info), S_OK);
  EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
  EXPECT_EQ(info.mipCount, 4u);
  int face = 0;
  for (const DecodedImage* f = &cube; f; f = f->nextFace.get(), ++face) {
    const std::uint8_t flat[3] = {std::uint8_t(face * 40), std::uint8_t(250 - face * 40), std::uint8_t(face * 9 + 7)};
    std::uint32_t size = 8;
    for (const DecodedImage* l = f; l; l = l->nextMip.get(), size /= 2) {
      ASSERT_EQ(l->width, size) << face;
      const std::vector<std::uint8_t> texels = imgtest::Rgba8(*l);
      // (Alpha is the tool's own choice.)
      for (std::size_t i = 0; i < texels.size(); ++i) {
        if (i % 4 == 3) continue;
        ASSERT_NEAR(texels[i], flat[i % 4], 1) << face << " " << size;
      }
    }
  }
  EXPECT_EQ(face, 6);

  DecodedImage volume;
  ASSERT_EQ(DecodeBytes(volumeFile, &volume, &info), S_OK);
  EXPECT_EQ(info.resourceType, D3DRTYPE_VOLUMETEXTURE);
  ASSERT_EQ(volume.LevelCount(), 3u);
  std::uint32_t level = 0;
  for (const DecodedImage* l = &volume; l; l = l->nextMip.get(), ++level) {
    const std::uint32_t size = 4 >> level;
    ASSERT_EQ(l->depth, size);
    for (std::uint32_t z = 0; z < size; ++z)
      for (std::uint32_t y = 0; y < size; ++y)
        for (std::uint32_t x = 0; x < size; ++x) {
          std::uint32_t texel;
          std::memcpy(&texel, static_cast<const std::uint8_t*>(l->pixels) + z * l->slicePitch + y * l->rowPitch + 4 * x,
                      4);
          ASSERT_EQ(texel, 0xFF000000u | level << 16 | z << 8 | y << 4 | x) << level << " " << z << " " << y;
        }
  }
}

}  // namespace
