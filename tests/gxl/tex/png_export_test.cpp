// The image output stream around its 64 KB buffer, and the export entry
// points writing PNG files that pngcheck, PIL and ImageMagick read back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/image_export.h"
#include "gxl/tex/image_output_stream.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "platform/testing_d3d9.h"
#include "tests/support/test_util.h"
#include "tex_test_device.h"

namespace {

using nura::test::ReadFileBytes;
using nura::test::TempDir;
using textest::Ref;

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The stream

// Writes data in pieces of the given sizes (the last piece takes the rest).
void WriteInPieces(ImageOutputStream& stream, const std::vector<std::uint8_t>& data,
                   const std::vector<std::uint32_t>& pieces) {
  std::size_t at = 0;
  for (std::size_t i = 0; at < data.size(); ++i) {
    const std::uint32_t n = i < pieces.size() ? std::min<std::uint32_t>(pieces[i], data.size() - at)
                                              : static_cast<std::uint32_t>(data.size() - at);
    std::uint32_t written = 0;
    ASSERT_EQ(stream.Write(data.data() + at, n, &written), S_OK);
    ASSERT_EQ(written, n);
    at += n;
  }
}

TEST(GxlPngStream, FileAndMemorySinksGiveIdenticalBytesAroundTheBufferSize) {
  TempDir dir;
  // Pieces of 1000 bytes; pieces that end just before, at and after the buffer; one big piece.
  const std::vector<std::vector<std::uint32_t>> patterns = {
      {}, std::vector<std::uint32_t>(300, 1000), {1, 65535}, {65535, 2}, {0, 65536, 0}, {3, 131072}};
  for (std::uint32_t total : {65535u, 65536u, 65537u, 200000u}) {
    const std::vector<std::uint8_t> data = RandomBytes(total, total);
    for (std::size_t p = 0; p < patterns.size(); ++p) {
      SCOPED_TRACE(std::to_string(total) + " bytes, pattern " + std::to_string(p));
      const std::string path = dir / "out.bin";
      ImageOutputStream file;
      ASSERT_EQ(file.Open(path.c_str(), ImageSinkKind::FileA), S_OK);
      WriteInPieces(file, data, patterns[p]);
      EXPECT_EQ(file.Position(), total);
      EXPECT_EQ(file.MemoryBytes(), nullptr);
      ASSERT_EQ(file.Close(), S_OK);
      EXPECT_EQ(ReadFileBytes(path), data);

      ImageOutputStream memory;
      ASSERT_EQ(memory.Open(nullptr, ImageSinkKind::Memory), S_OK);
      WriteInPieces(memory, data, patterns[p]);
      ASSERT_EQ(memory.Position(), total);
      EXPECT_EQ(std::memcmp(memory.MemoryBytes(), data.data(), total), 0);
    }
  }
}

TEST(GxlPngStream, AFullBufferIsWrittenAtTheFlush) {
  TempDir dir;
  const std::string path = dir / "out.bin";
  const std::vector<std::uint8_t> data = RandomBytes(2 * kImageStreamBufferSize + 1, 3);
  ImageOutputStream stream;
  ASSERT_EQ(stream.Open(path.c_str(), ImageSinkKind::FileA), S_OK);
  ASSERT_EQ(stream.Write(data.data(), kImageStreamBufferSize, nullptr), S_OK);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  ASSERT_EQ(stream.Flush(), S_OK);
  EXPECT_EQ(std::filesystem::file_size(path), kImageStreamBufferSize);
  // One more than a buffer: the whole buffer goes out at once, one byte stays.
  ASSERT_EQ(stream.Write(data.data() + kImageStreamBufferSize, kImageStreamBufferSize + 1, nullptr), S_OK);
  EXPECT_EQ(std::filesystem::file_size(path), 2u * kImageStreamBufferSize);
  ASSERT_EQ(stream.Close(), S_OK);
  EXPECT_EQ(ReadFileBytes(path), data);
}

TEST(GxlPngStream, ClosedStreamsDropBytesAndBadSinksFail) {
  TempDir dir;
  ImageOutputStream stream;
  std::uint32_t written = 0;
  EXPECT_EQ(stream.Write("abc", 3, &written), S_OK);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(stream.Position(), 0u);
  EXPECT_EQ(stream.Open(nullptr, static_cast<ImageSinkKind>(7)), E_FAIL);
  EXPECT_EQ(stream.Open(nullptr, ImageSinkKind::FileA), D3DERR_INVALIDCALL);
  EXPECT_EQ(stream.Open((dir / "missing/out.bin").c_str(), ImageSinkKind::FileA), GXLERR_INVALIDDATA);

  // The folder's name is plain ASCII; the file's is not.
  const std::u16string wide = std::u16string(dir.path().begin(), dir.path().end()) + u"/ファイル.bin";
  const std::string name = dir / "ファイル.bin";
  ASSERT_EQ(stream.Open(wide.c_str(), ImageSinkKind::FileW), S_OK);
  ASSERT_EQ(stream.Write("xyz", 3, nullptr), S_OK);
  ASSERT_EQ(stream.Close(), S_OK);
  EXPECT_EQ(ReadFileBytes(name), (std::vector<std::uint8_t>{'x', 'y', 'z'}));
}

// ---------------------------------------------------------------------------
// Exports

class GxlPngExport : public textest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    imgtest::RequireTools({"pngcheck", "convert", "/usr/bin/python3"});
  }
  void TearDown() override {
    m_textures.clear();
    DeviceTest::TearDown();
  }

  // A texture whose level 0 holds pseudo-random bytes; its surface is kept.
  IDirect3DSurface9* MakeSurface(D3DFORMAT format, UINT w, UINT h, D3DPOOL pool = D3DPOOL_MANAGED,
                                 UINT levels = 1, DWORD usage = 0) {
    auto& t = m_textures.emplace_back();
    EXPECT_EQ(dev->CreateTexture(w, h, levels, usage, format, pool, &t.texture, nullptr), D3D_OK);
    if (!t.texture.get()) return nullptr;
    EXPECT_EQ(t.texture->GetSurfaceLevel(0, &t.surface), D3D_OK);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t.surface->LockRect(&lr, nullptr, 0), D3D_OK);
    const UINT bytes = w * FindPixelFormatInfo(format)->bitsPerTexel / 8;
    for (UINT y = 0; y < h; ++y) {
      const std::vector<std::uint8_t> row = RandomBytes(bytes, y * 77 + w);
      std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch, row.data(), bytes);
    }
    t.surface->UnlockRect();
    return t.surface.get();
  }

  // Level 0's texels as 8-bit RGBA (X8R8G8B8 with alpha 255).
  static std::vector<std::uint8_t> Rgba8(IDirect3DSurface9* s, const RECT& r) {
    D3DSURFACE_DESC d{};
    s->GetDesc(&d);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint8_t> out;
    for (LONG y = r.top; y < r.bottom; ++y)
      for (LONG x = r.left; x < r.right; ++x) {
        std::uint32_t w;
        std::memcpy(&w, static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch + 4 * x, 4);
        out.insert(out.end(), {static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 8),
                               static_cast<std::uint8_t>(w),
                               static_cast<std::uint8_t>(d.Format == D3DFMT_X8R8G8B8 ? 255 : w >> 24)});
      }
    s->UnlockRect();
    return out;
  }

  std::string Check(const std::string& path) {
    bool ok = false;
    const std::string report = imgtest::PngCheck(path, &ok);
    EXPECT_TRUE(ok) << report;
    return report;
  }

  struct Held {
    Ref<IDirect3DTexture9> texture;
    Ref<IDirect3DSurface9> surface;
  };
  std::list<Held> m_textures;
  TempDir m_dir;
};

TEST_F(GxlPngExport, ArgbSurfacesAreWrittenWithTheirAlpha) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_A8R8G8B8, 23, 17);
  const std::string path = m_dir / "argb.png";
  ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, nullptr), S_OK);
  const std::string report = Check(path);
  EXPECT_NE(report.find("23 x 17 image, 32-bit RGB+alpha, non-interlaced"), std::string::npos) << report;
  EXPECT_NE(report.find("gAMA at"), std::string::npos);
  EXPECT_NE(report.find("0.45455"), std::string::npos) << report;

  const std::vector<std::uint8_t> texels = Rgba8(s, RECT{0, 0, 23, 17});
  std::string mode;
  EXPECT_EQ(imgtest::PilRgba(path, &mode), texels);
  EXPECT_EQ(mode, "RGBA");
  // Read back here: the written gamma needs no correction for the display.
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  DecodedImage back;
  ASSERT_EQ(back.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
  EXPECT_EQ(back.format, D3DFMT_A8R8G8B8);
  const std::vector<std::uint16_t> ours = imgtest::RecordRgba(back);
  EXPECT_EQ(std::vector<std::uint8_t>(ours.begin(), ours.end()), texels);
}

TEST_F(GxlPngExport, XrgbSurfacesAreWrittenWithoutAlpha) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_X8R8G8B8, 19, 5);
  const std::string path = m_dir / "xrgb.png";
  ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, nullptr), S_OK);
  const std::string report = Check(path);
  EXPECT_NE(report.find("19 x 5 image, 24-bit RGB, non-interlaced"), std::string::npos) << report;
  std::string mode;
  EXPECT_EQ(imgtest::PilRgba(path, &mode), Rgba8(s, RECT{0, 0, 19, 5}));
  EXPECT_EQ(mode, "RGB");
}

TEST_F(GxlPngExport, SixteenBitSurfacesKeepEveryBit) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_A16B16G16R16, 13, 9, D3DPOOL_SCRATCH);
  const std::string path = m_dir / "wide.png";
  ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, nullptr), S_OK);
  const std::string report = Check(path);
  EXPECT_NE(report.find("13 x 9 image, 64-bit RGB+alpha, non-interlaced"), std::string::npos) << report;

  std::vector<std::uint16_t> texels;
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  for (int y = 0; y < 9; ++y) {
    const auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch);
    texels.insert(texels.end(), row, row + 13 * 4);
  }
  s->UnlockRect();
  EXPECT_EQ(imgtest::ConvertRgba(path, 16), texels);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  DecodedImage back;
  ASSERT_EQ(back.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
  EXPECT_EQ(back.format, D3DFMT_A16B16G16R16);
  EXPECT_EQ(imgtest::RecordRgba(back), texels);
}

TEST_F(GxlPngExport, OtherFormatsAreConvertedToTheNearestCandidate) {
  struct {
    D3DFORMAT format;
    D3DPOOL pool;
    const char* layout;
  } cases[] = {{D3DFMT_R5G6B5, D3DPOOL_MANAGED, "24-bit RGB,"},
               {D3DFMT_A1R5G5B5, D3DPOOL_MANAGED, "32-bit RGB+alpha,"},
               {D3DFMT_L8, D3DPOOL_MANAGED, "24-bit RGB,"},
               {D3DFMT_P8, D3DPOOL_SCRATCH, "32-bit RGB+alpha,"}};
  PaletteEntry palette[256];
  for (int i = 0; i < 256; ++i)
    palette[i] = PaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                              static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i | 0x0F)};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    IDirect3DSurface9* s = MakeSurface(c.format, 8, 4, c.pool);
    const std::string path = m_dir / "converted.png";
    ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, palette, nullptr), S_OK);
    const std::string report = Check(path);
    EXPECT_NE(report.find(c.layout), std::string::npos) << report;
    if (c.format != D3DFMT_P8) continue;
    // The palette's colours, alpha included.
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        const PaletteEntry& e = palette[static_cast<std::uint8_t*>(lr.pBits)[y * lr.Pitch + x]];
        expected.insert(expected.end(), {e.red, e.green, e.blue, e.flags});
      }
    s->UnlockRect();
    EXPECT_EQ(imgtest::PilRgba(path), expected);
  }
}

TEST_F(GxlPngExport, RectanglesExportExactlyTheirTexels) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_A8R8G8B8, 32, 24);
  const RECT r{3, 5, 20, 17};
  const std::string path = m_dir / "part.png";
  ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, &r), S_OK);
  EXPECT_NE(Check(path).find("17 x 12 image"), std::string::npos);
  EXPECT_EQ(imgtest::PilRgba(path), Rgba8(s, r));
  const RECT outside{3, 5, 33, 17};
  EXPECT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, &outside), D3DERR_INVALIDCALL);
}

TEST_F(GxlPngExport, MemoryExportsMatchFileExportsByteForByte) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_A8R8G8B8, 200, 150);
  const std::string path = m_dir / "file.png";
  ASSERT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Png, s, nullptr, nullptr), S_OK);
  DataBuffer* buffer = nullptr;
  ASSERT_EQ(GXLExportSurfaceToMemory(&buffer, ImageFileType::Png, s, nullptr, nullptr), S_OK);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  // Random texels barely compress: the buffer had to grow well beyond its start.
  ASSERT_GT(file.size(), 100000u);
  ASSERT_EQ(buffer->GetSize(), file.size());
  EXPECT_EQ(std::memcmp(buffer->GetPointer(), file.data(), file.size()), 0);
  EXPECT_EQ(buffer->Release(), 0u);

  const std::u16string wide = std::u16string(m_dir.path().begin(), m_dir.path().end()) + u"/ワイド.png";
  ASSERT_EQ(GXLExportSurfaceToFileW(wide.c_str(), ImageFileType::Png, s, nullptr, nullptr), S_OK);
  EXPECT_EQ(ReadFileBytes(m_dir / "ワイド.png"), file);
}

TEST_F(GxlPngExport, FailedExportsHandOutNothing) {
  IDirect3DSurface9* s = MakeSurface(D3DFMT_A8R8G8B8, 16, 16);
  auto* const untouched = reinterpret_cast<DataBuffer*>(0x1234);
  DataBuffer* buffer = untouched;
  // An empty rectangle makes the PNG writer fail after the stream was opened.
  const RECT empty{5, 5, 5, 9};
  EXPECT_EQ(GXLExportSurfaceToMemory(&buffer, ImageFileType::Png, s, nullptr, &empty), E_FAIL);
  EXPECT_EQ(buffer, untouched);
  EXPECT_EQ(GXLExportSurfaceToMemory(nullptr, ImageFileType::Png, s, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLExportSurfaceToMemory(&buffer, ImageFileType::Png, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);

  // No writer for PPM nor for unknown types; neither creates a file.
  const std::string path = m_dir / "none";
  EXPECT_EQ(GXLExportSurfaceToFileA(path.c_str(), ImageFileType::Ppm, s, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLExportSurfaceToFileA(path.c_str(), static_cast<ImageFileType>(9), s, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_FALSE(std::filesystem::exists(path));

  // A default-pool texture read while the device is lost.
  IDirect3DSurface9* dynamic = MakeSurface(D3DFMT_A8R8G8B8, 8, 8, D3DPOOL_DEFAULT, 1, D3DUSAGE_DYNAMIC);
  platform::test::SetD3D9DeviceLost(true);
  EXPECT_EQ(GXLExportSurfaceToMemory(&buffer, ImageFileType::Png, dynamic, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(buffer, untouched);
  platform::test::SetD3D9DeviceLost(false);
  ASSERT_EQ(GXLExportSurfaceToMemory(&buffer, ImageFileType::Png, dynamic, nullptr, nullptr), S_OK);
  buffer->Release();
}

TEST_F(GxlPngExport, TexturesExportTheTopLevelOfTheFirstFace) {
  MakeSurface(D3DFMT_A8R8G8B8, 16, 8, D3DPOOL_MANAGED, 0);
  IDirect3DTexture9* texture = m_textures.back().texture.get();
  ASSERT_EQ(texture->GetLevelCount(), 5u);
  const std::string path = m_dir / "texture.png";
  ASSERT_EQ(GXLExportTextureToFileA(path.c_str(), ImageFileType::Png, texture, nullptr), S_OK);
  EXPECT_EQ(imgtest::PilRgba(path), Rgba8(m_textures.back().surface.get(), RECT{0, 0, 16, 8}));

  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(dev->CreateCubeTexture(4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
  for (int face = 0; face < 6; ++face) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = 0x10203 * face;
    cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0);
  }
  DataBuffer* buffer = nullptr;
  ASSERT_EQ(GXLExportTextureToMemory(&buffer, ImageFileType::Png, cube.get(), nullptr), S_OK);
  DecodedImage back;
  ASSERT_EQ(back.DecodeImage(buffer->GetPointer(), buffer->GetSize(), nullptr, true), S_OK);
  buffer->Release();
  EXPECT_EQ(back.width, 4u);
  EXPECT_EQ(imgtest::RecordRgba(back)[0], 0u);  // face 0 is black

  Ref<IDirect3DVolumeTexture9> volume;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &volume, nullptr), D3D_OK);
  ASSERT_EQ(GXLExportTextureToMemory(&buffer, ImageFileType::Png, volume.get(), nullptr), S_OK);
  ASSERT_EQ(back.DecodeImage(buffer->GetPointer(), buffer->GetSize(), nullptr, true), S_OK);
  buffer->Release();
  EXPECT_EQ(back.width, 4u);
  EXPECT_EQ(back.height, 2u);
  EXPECT_EQ(GXLExportTextureToMemory(&buffer, ImageFileType::Png, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST(GxlPngEncode, SizesBeyond32BitsAreRefusedBeforeAnyAllocation) {
  std::uint16_t texel = 0;
  ImageRegion region{};
  region.pixels = &texel;
  region.format = D3DFMT_R5G6B5;
  region.rowPitch = 2;
  region.box = region.extent = ImageBox{0, 0, 70000, 70000, 0, 1};
  DecodedImage record;
  record.SetFromRegion(region);
  DataBuffer* buffer = nullptr;
  EXPECT_EQ(record.EncodeImage(&buffer, ImageFileType::Png, ImageSinkKind::Memory), E_OUTOFMEMORY);
  EXPECT_EQ(buffer, nullptr);
}

}  // namespace
