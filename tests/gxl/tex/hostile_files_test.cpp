// Small hostile files for the readers whose headers can claim more than the
// data holds: PNG chunks and sizes, JPEG sizes and scans, HDR sizes behind
// run-length repeats. Each must fail cleanly, or decode, without the reader
// asking for memory in proportion to what the header claims; what the call
// allocated is seen through the sanitizer's allocator.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_build.h"
#include "image_test_util.h"
#include "platform/testing.h"
#include "tests/support/alloc_gauge.h"
#include "tex_test_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using nura::test::AllocGauge;
using textest::Ref;

// What a refused file may cost: the libraries' own structures and tables.
constexpr std::size_t kSmall = 4u << 20;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
Bytes Be16(std::uint32_t v) { return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}; }
Bytes Be32(std::uint32_t v) {
  Bytes b = Be16(v >> 16);
  Append(b, Be16(v & 0xFFFF));
  return b;
}

struct Outcome {
  HRESULT hr;
  ImageInfo info;
  std::size_t largest;  // the largest single allocation of the call
  std::size_t total;    // all of its allocations
  DecodedImage image;
};

// DecodeImage of the bytes, full or header-only, under a gauge.
void Decode(const Bytes& file, bool pixels, Outcome* out, std::uint64_t maxTexels = kDecodeTexelBudget) {
  out->image.maxTexels = maxTexels;
  out->info = ImageInfo{};
  AllocGauge gauge;
  out->hr = out->image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &out->info, pixels);
  out->largest = gauge.Largest();
  out->total = gauge.Total();
}

// A refused or header-only call asked for no memory in proportion to the
// declared size.
void ExpectSmall(const Outcome& o) {
  if (!AllocGauge::Available()) return;  // only the sanitizer build sees allocations
  EXPECT_LT(o.largest, kSmall);
  EXPECT_LT(o.total, 4 * kSmall);
}

// ---------------------------------------------------------------------------
// PNG

Bytes PngChunk(const char* type, const Bytes& data, std::uint32_t declared) {
  Bytes body(type, type + 4);
  Append(body, data);
  Bytes chunk = Be32(declared);
  Append(chunk, body);
  Append(chunk, Be32(static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())))));
  return chunk;
}
Bytes PngChunk(const char* type, const Bytes& data) {
  return PngChunk(type, data, static_cast<std::uint32_t>(data.size()));
}

// The signature and a header of 8-bit samples.
Bytes PngStart(std::uint32_t width, std::uint32_t height, std::uint8_t colourType) {
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header = Be32(width);
  Append(header, Be32(height));
  Append(header, Bytes{8, colourType, 0, 0, 0});
  Append(file, PngChunk("IHDR", header));
  return file;
}

// A whole file: the image data is one compressed row of zeros, as much as a
// file may hold for any size it declares.
Bytes PngFile(std::uint32_t width, std::uint32_t height, std::uint8_t colourType) {
  Bytes file = PngStart(width, height, colourType);
  const Bytes row(1 + std::size_t{width} * (colourType == 6 ? 4 : 1), 0);
  Bytes packed(compressBound(static_cast<uLong>(row.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  EXPECT_EQ(compress(packed.data(), &packedSize, row.data(), static_cast<uLong>(row.size())), Z_OK);
  packed.resize(packedSize);
  Append(file, PngChunk("IDAT", packed));
  Append(file, PngChunk("IEND", {}));
  return file;
}

TEST(GxlHostileFiles, PngChunksLongerThanTheFileAreNeverAllocated) {
  // A header, then a chunk that claims 1.8 GB and ends the file: 41 bytes.
  for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "abCd"}) {
    Bytes file = PngStart(1000, 1000, 6);
    Append(file, Be32(0x6B49D200u));
    Append(file, std::string(type));
    ASSERT_EQ(file.size(), 41u);
    for (const bool pixels : {false, true}) {
      SCOPED_TRACE(std::string(type) + (pixels ? ", full decode" : ", header only"));
      Outcome o;
      Decode(file, pixels, &o);
      EXPECT_EQ(o.hr, GXLERR_INVALIDDATA);
      EXPECT_EQ(o.image.pixels, nullptr);
      ExpectSmall(o);
    }
  }
}

TEST(GxlHostileFiles, PngSizesAboveTheCeilingAreReportedButNotDecoded) {
  struct Case {
    std::uint32_t width, height;
    std::uint8_t colourType;
    HRESULT headerOnly, full;
  };
  const Case cases[] = {
      {30000, 30000, 6, S_OK, E_OUTOFMEMORY},                   // 3.6 GB of texels from one row of data
      {8193, 8192, 0, S_OK, E_OUTOFMEMORY},                     // one column above the ceiling
      {1000001, 1, 0, GXLERR_INVALIDDATA, GXLERR_INVALIDDATA},  // wider than any PNG is read
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const Bytes file = PngFile(c.width, c.height, c.colourType);
    Outcome header, full;
    Decode(file, false, &header);
    Decode(file, true, &full);
    EXPECT_EQ(header.hr, c.headerOnly);
    if (header.hr == S_OK) {
      EXPECT_EQ(header.info.width, c.width);
      EXPECT_EQ(header.info.height, c.height);
    }
    EXPECT_EQ(full.hr, c.full);
    ExpectSmall(header);
    ExpectSmall(full);
  }
  // At the ceiling the image is allocated, and the missing rows fail the decode.
  Outcome atCeiling;
  Decode(PngFile(8192, 8192, 0), true, &atCeiling);
  EXPECT_EQ(atCeiling.hr, GXLERR_INVALIDDATA);
  if (AllocGauge::Available()) {
    EXPECT_GE(atCeiling.largest, std::size_t{8192} * 8192);
  }
}

// ---------------------------------------------------------------------------
// JPEG, made by hand: every quantiser 1, one Huffman code (of length 1) for
// DC difference 0 and one for the end of a block, so every block takes a bit
// or two and decodes to grey 128.

Bytes JpegSegment(std::uint8_t marker, const Bytes& body) {
  Bytes s = {0xFF, marker};
  Append(s, Be16(static_cast<std::uint32_t>(body.size() + 2)));
  Append(s, body);
  return s;
}

Bytes JpegTables(std::uint8_t frameMarker, std::uint32_t width, std::uint32_t height, std::uint8_t components) {
  Bytes file = {0xFF, 0xD8};
  Bytes quantiser = {0x00};
  quantiser.resize(65, 1);
  Append(file, JpegSegment(0xDB, quantiser));
  Bytes frame = {8};
  Append(frame, Be16(height));
  Append(frame, Be16(width));
  frame.push_back(components);
  for (std::uint8_t c = 1; c <= components; ++c) Append(frame, Bytes{c, 0x11, 0});
  Append(file, JpegSegment(frameMarker, frame));
  for (const std::uint8_t table : {0x00, 0x10}) {  // DC 0, AC 0
    Bytes huffman = {table, 1};
    huffman.resize(17, 0);
    huffman.push_back(0);  // the one symbol: DC difference 0, or the end of block
    Append(file, JpegSegment(0xC4, huffman));
  }
  return file;
}

Bytes JpegScan(std::uint8_t components, std::uint8_t end, const Bytes& data) {
  Bytes scan = {components};
  for (std::uint8_t c = 1; c <= components; ++c) Append(scan, Bytes{c, 0x00});
  Append(scan, Bytes{0, end, 0});
  Bytes s = JpegSegment(0xDA, scan);
  Append(s, data);
  return s;
}

// A baseline file; its single data byte ends long before a large image does.
Bytes BaselineJpeg(std::uint32_t width, std::uint32_t height, std::uint8_t components, const Bytes& data) {
  Bytes file = JpegTables(0xC0, width, height, components);
  Append(file, JpegScan(components, 63, data));
  Append(file, Bytes{0xFF, 0xD9});
  return file;
}

// A progressive grey file of `scans` DC scans, each of one byte.
Bytes ProgressiveJpeg(std::uint32_t width, std::uint32_t height, int scans) {
  Bytes file = JpegTables(0xC2, width, height, 1);
  for (int i = 0; i < scans; ++i) Append(file, JpegScan(1, 0, {0x0F}));
  Append(file, Bytes{0xFF, 0xD9});
  return file;
}

TEST(GxlHostileFiles, JpegSizesAreCheckedFromTheHeaderBeforeDecoding) {
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t width, height;
  };
  const Case cases[] = {
      // A whole-image coefficient buffer of 8 GB, read scan by scan, just to learn the size.
      {"progressive", ProgressiveJpeg(65500, 65500, 1), 65500, 65500},
      // 1.6 GB of texels that all decode as zeros after the first byte.
      {"baseline", BaselineJpeg(20000, 20000, 3, {0x00}), 20000, 20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_LT(c.file.size(), 160u);
    Outcome header, full;
    Decode(c.file, false, &header);
    EXPECT_EQ(header.hr, S_OK);
    EXPECT_EQ(header.info.fileType, ImageFileType::Jpg);
    EXPECT_EQ(header.info.width, c.width);
    EXPECT_EQ(header.info.height, c.height);
    EXPECT_EQ(header.image.pixels, nullptr);
    ExpectSmall(header);
    Decode(c.file, true, &full);
    EXPECT_EQ(full.hr, E_OUTOFMEMORY);
    EXPECT_EQ(full.image.pixels, nullptr);
    ExpectSmall(full);
  }
}

TEST(GxlHostileFiles, JpegCeilingAndScanCountBoundTheDecode) {
  // 16 x 16 texels: 4 blocks of 2 bits; grey 128 everywhere.
  const Bytes grey = BaselineJpeg(16, 16, 1, {0x00});
  struct Case {
    const char* name;
    Bytes file;
    std::uint64_t maxTexels;
    HRESULT hr;
  };
  const Case cases[] = {
      {"at the ceiling", grey, 256, S_OK},
      {"one texel above it", grey, 255, E_OUTOFMEMORY},
      {"colour", BaselineJpeg(16, 16, 3, {0x00, 0x00, 0x00}), 256, S_OK},
      {"twenty scans", ProgressiveJpeg(16, 16, 20), 256, S_OK},
      // Each repeated scan is a pass over the whole image for 11 bytes.
      {"a thousand scans", ProgressiveJpeg(16, 16, 1000), 256, GXLERR_INVALIDDATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o;
    Decode(c.file, true, &o, c.maxTexels);
    EXPECT_EQ(o.hr, c.hr);
    if (o.hr != S_OK) continue;
    ASSERT_EQ(o.image.width, 16u);
    ASSERT_EQ(o.image.height, 16u);
    const auto* texels = static_cast<const std::uint8_t*>(o.image.pixels);
    const bool colour = o.image.format == D3DFMT_X8R8G8B8;
    for (std::uint32_t i = 0; i < 256; ++i) {
      if (colour) {
        std::uint32_t word;
        std::memcpy(&word, texels + 4 * i, 4);
        ASSERT_EQ(word, 0x808080u) << i;
      } else {
        ASSERT_EQ(texels[i], 128) << i;
      }
    }
  }
}

TEST(GxlHostileFiles, JpegColourTexelsHaveAZeroTopByteAtEverySize) {
  // Rows of every alignment, in images below and above the size (4 MiB) that
  // the reader writes past the cache. Above it, widths that are not multiples
  // of 4 start rows 4, 8 and 12 bytes off 16-byte alignment; the others start
  // every row aligned.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{13, 7},     {1100, 1000}, {1024, 1100},
                                                           {1101, 960}, {1102, 960},  {1103, 960}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Outcome o;
    Decode(BaselineJpeg(w, h, 3, {0x00, 0x00, 0x00}), true, &o);
    ASSERT_EQ(o.hr, S_OK);
    ASSERT_EQ(o.image.format, D3DFMT_X8R8G8B8);
    ASSERT_EQ(o.image.rowPitch, 4 * w);
    const auto* texels = static_cast<const std::uint8_t*>(o.image.pixels);
    for (std::uint64_t i = 0; i < std::uint64_t{w} * h; ++i) {
      std::uint32_t word;
      std::memcpy(&word, texels + 4 * i, 4);
      ASSERT_EQ(word, 0x808080u) << i;
    }
  }
}

// ---------------------------------------------------------------------------
// HDR: flat scanlines of one texel and old-style repeats of it, each repeat
// counting 256 times as much as the one before, so that 20 bytes make a
// scanline of 2^27 texels.

Bytes HdrFile(std::uint32_t width, std::uint32_t height, const std::string& extraHeader = "") {
  Bytes file;
  Append(file, "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n" + extraHeader + "\n-Y " + std::to_string(height) + " +X " +
                   std::to_string(width) + "\n");
  Bytes scanline = {0x80, 0x40, 0x20, 0x81};
  for (std::uint32_t left = width - 1; left; left >>= 8)
    Append(scanline, Bytes{1, 1, 1, static_cast<std::uint8_t>(left)});
  for (std::uint32_t y = 0; y < height; ++y) Append(file, scanline);
  return file;
}

TEST(GxlHostileFiles, HdrSizesAreReadFromTheHeaderAndCheckedBeforeAllocating) {
  const Bytes file = HdrFile(1u << 27, 1);  // 2 GB of texels
  EXPECT_LE(file.size(), 73u);
  Outcome header, full;
  Decode(file, false, &header);
  EXPECT_EQ(header.hr, S_OK);
  EXPECT_EQ(header.info.fileType, ImageFileType::Hdr);
  EXPECT_EQ(header.info.width, 1u << 27);
  EXPECT_EQ(header.info.height, 1u);
  EXPECT_EQ(header.info.format, D3DFMT_A32B32G32R32F);
  EXPECT_EQ(header.image.pixels, nullptr);
  ExpectSmall(header);
  Decode(file, true, &full);
  EXPECT_EQ(full.hr, E_OUTOFMEMORY);
  ExpectSmall(full);

  // Within the ceiling the repeats decode as laid out: (128.5, 64.5, 32.5) x 2^-7.
  Outcome small;
  Decode(HdrFile(300, 2), true, &small, 600);
  ASSERT_EQ(small.hr, S_OK);
  const std::vector<float> texels = imgtest::RecordFloats(small.image);
  ASSERT_EQ(texels.size(), 600u * 4);
  for (std::uint32_t i = 0; i < 600; ++i) {
    ASSERT_EQ(texels[4 * i], 128.5f / 128) << i;
    ASSERT_EQ(texels[4 * i + 1], 64.5f / 128) << i;
    ASSERT_EQ(texels[4 * i + 3], 1.0f) << i;
  }
  Decode(HdrFile(300, 2), true, &small, 599);
  EXPECT_EQ(small.hr, E_OUTOFMEMORY);
}

TEST(GxlHostileFiles, HdrFilesTooShortForTheirScanlinesAreRefusedBeforeAllocating) {
  // 8,192 x 8,192 texels, at the ceiling, in 4 bytes a scanline: a scanline
  // longer than one texel takes at least 8 (a texel and a repeat), so 32 KiB
  // cannot hold the 64 KiB the picture needs, and its 256 MiB of texels are
  // never asked for.
  Bytes file;
  Append(file, "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 8192 +X 8192\n");
  for (int y = 0; y < 8192; ++y) Append(file, Bytes{0x80, 0x40, 0x20, 0x81});
  for (const bool pixels : {false, true}) {
    SCOPED_TRACE(pixels ? "full decode" : "header only");
    Outcome o;
    Decode(file, pixels, &o);
    EXPECT_EQ(o.hr, GXLERR_INVALIDDATA);
    EXPECT_EQ(o.image.pixels, nullptr);
    ExpectSmall(o);
  }
}

// ---------------------------------------------------------------------------
// BMP: run-length data that ends the bitmap at once can stand for any size.

// An 8-bit run-length file of two palette entries (black, white).
Bytes Rle8Bmp(std::uint32_t width, std::uint32_t height, const Bytes& runs) {
  constexpr std::uint32_t kBits = 14 + 40 + 8;
  imgtest::Bytes file;
  file.u8({'B', 'M'}).u32(static_cast<std::uint32_t>(kBits + runs.size())).u32(0).u32(kBits);
  file.u32(40).u32(width).u32(height).u16(1).u16(8).u32(1).u32(0).u32(0).u32(0).u32(2).u32(0);
  file.u32(0).u32(0x00FFFFFF).add(runs);
  return file.v;
}

TEST(GxlHostileFiles, RunLengthBmpSizesAboveTheCeilingAreReportedButNotDecoded) {
  const Bytes file = Rle8Bmp(30000, 30000, {0, 1});  // 900 M texels, ended by its first code
  Outcome header, full;
  Decode(file, false, &header);
  EXPECT_EQ(header.hr, S_OK);
  EXPECT_EQ(header.info.fileType, ImageFileType::Bmp);
  EXPECT_EQ(header.info.width, 30000u);
  EXPECT_EQ(header.info.height, 30000u);
  ExpectSmall(header);
  Decode(file, true, &full);
  EXPECT_EQ(full.hr, E_OUTOFMEMORY);
  ExpectSmall(full);

  // Within the ceiling the runs decode as laid out, bottom row first.
  const Bytes runs{4, 1, 0, 0, 3, 1, 0, 1};
  Outcome small, above;
  Decode(Rle8Bmp(4, 2, runs), true, &small, 8);
  ASSERT_EQ(small.hr, S_OK);
  ASSERT_EQ(small.image.format, D3DFMT_P8);
  const auto* texels = static_cast<const std::uint8_t*>(small.image.pixels);
  EXPECT_EQ(Bytes(texels, texels + 8), (Bytes{1, 1, 1, 0, 1, 1, 1, 1}));
  Decode(Rle8Bmp(4, 2, runs), true, &above, 7);
  EXPECT_EQ(above.hr, E_OUTOFMEMORY);
}

// A texture build decodes no more texels than the device's largest texture
// holds: 256 x 256 on this profile.
class GxlHostileBuild : public textest::DeviceTest {};

TEST_F(GxlHostileBuild, FilesLargerThanTheDevicesLargestTextureAreRefusedBeforeDecoding) {
  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("small-max"));
  struct Case {
    const char* name;
    Bytes file;
    D3DPOOL pool;
    HRESULT hr;
  };
  const Case cases[] = {
      {"HDR at the limit", HdrFile(256, 256), D3DPOOL_MANAGED, S_OK},
      {"HDR above it", HdrFile(257, 256), D3DPOOL_MANAGED, E_OUTOFMEMORY},
      {"HDR in the scratch pool", HdrFile(257, 256), D3DPOOL_SCRATCH, S_OK},
      {"PNG above it", PngFile(4096, 4096, 0), D3DPOOL_MANAGED, E_OUTOFMEMORY},
      {"JPEG above it", BaselineJpeg(512, 512, 1, {0x00}), D3DPOOL_MANAGED, E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<IDirect3DTexture9> texture;
    AllocGauge gauge;
    const HRESULT hr =
        GXLBuildTextureFromFileData(dev, c.file.data(), static_cast<UINT>(c.file.size()), kGxlFromFile, kGxlFromFile, 1,
                                    0, D3DFMT_UNKNOWN, c.pool, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &texture);
    EXPECT_EQ(hr, c.hr);
    if (FAILED(hr)) {
      EXPECT_EQ(texture.get(), nullptr);
      if (AllocGauge::Available()) {
        EXPECT_LT(gauge.Largest(), kSmall);
      }
      continue;
    }
    D3DSURFACE_DESC d{};
    ASSERT_EQ(texture->GetLevelDesc(0, &d), D3D_OK);
    EXPECT_EQ(d.Width, c.pool == D3DPOOL_SCRATCH ? 257u : 256u);
    EXPECT_EQ(d.Height, 256u);
  }
}


// ---------------------------------------------------------------------------
// What a texture build holds at once from a small file that declares a long
// picture: the picture as decoded and the texture, not their product. The
// default device's largest texture is 4096 x 4096, so 16,777,215 x 1 texels
// decode and are reduced 4096 to 1 into one 4096 x 1 row.

class GxlTextureMemory : public textest::DeviceTest {
 protected:
  // Builds `levels` levels (kGxlDefault: the whole chain) in `format` (the
  // file's for D3DFMT_UNKNOWN) with the default sizes and filters (the
  // triangle filter, a box-filtered chain) under a gauge; the level-0 texels
  // are read back through `read`.
  template <class Read>
  std::size_t Build(const Bytes& file, UINT levels, D3DFORMAT format, D3DFORMAT expected, Read read) {
    Ref<IDirect3DTexture9> texture;
    std::size_t peak = 0;
    {
      AllocGauge gauge;
      EXPECT_EQ(GXLBuildTextureFromFileData(dev, file.data(), static_cast<UINT>(file.size()), kGxlDefault, kGxlDefault,
                                            levels, 0, format, D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0,
                                            nullptr, nullptr, &texture),
                S_OK);
      peak = gauge.Peak();
    }
    if (!texture) return peak;
    D3DSURFACE_DESC d{};
    EXPECT_EQ(texture->GetLevelDesc(0, &d), D3D_OK);
    EXPECT_EQ(d.Width, 4096u);
    EXPECT_EQ(d.Height, 1u);
    EXPECT_EQ(d.Format, expected);
    EXPECT_EQ(texture->GetLevelCount(), levels == kGxlDefault ? 13u : levels);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    if (lr.pBits) read(lr.pBits);
    texture->UnlockRect(0);
    return peak;
  }
};

constexpr std::uint32_t kLongRow = 16777215;
constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST_F(GxlTextureMemory, OneRowRunLengthBmpHoldsThePictureAndTheTexture) {
  // 255 white texels, then the end of the bitmap: the rest is palette entry 0, black.
  const Bytes file = Rle8Bmp(kLongRow, 1, {255, 1, 0, 1});
  ASSERT_LT(file.size(), 100u);
  const std::size_t peak = Build(file, kGxlDefault, D3DFMT_UNKNOWN, D3DFMT_X8R8G8B8, [](const void* bits) {
    const auto* texels = static_cast<const std::uint32_t*>(bits);
    // The white run lies under the first texel's footprint alone.
    const std::uint32_t first = texels[0] & 0xFFFFFF;
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, 0xFFFFFFu);
    EXPECT_EQ(first & 0xFF, first >> 16 & 0xFF);
    for (std::uint32_t x = 2; x < 4096; ++x) ASSERT_EQ(texels[x] & 0xFFFFFF, 0u) << x;
  });
  if (!AllocGauge::Available()) return;
  // The P8 picture (16 MB) and a few row buffers.
  EXPECT_LT(peak, kLongRow + 8 * kMiB);
  EXPECT_LT(peak, 256 * kMiB);
}

TEST_F(GxlTextureMemory, OneRowHdrHoldsThePictureAndTheTexture) {
  // Every texel (128.5, 64.5, 32.5) / 128 (divided by 2 more with an
  // exposure of 2), which the device's A8R8G8B8 holds as red 255 (128) and
  // the rest rounded with the ordered dither. The picture is kept as the
  // file's four bytes a texel, or as three floats when an exposure divides
  // them; either way, with a few row buffers, under 256 MB.
  struct Case {
    const char* exposure;
    std::uint8_t blue, green, red;
    std::size_t texelBytes;
  };
  for (const Case& c : {Case{"", 64, 128, 255, 4}, Case{"EXPOSURE=2\n", 32, 64, 128, 12}}) {
    SCOPED_TRACE(c.exposure);
    const Bytes file = HdrFile(kLongRow, 1, c.exposure);
    ASSERT_LT(file.size(), 100u);
    const std::size_t peak = Build(file, 1, D3DFMT_A32B32G32R32F, D3DFMT_A8R8G8B8, [&](const void* bits) {
      const auto* texels = static_cast<const std::uint8_t*>(bits);
      for (std::uint32_t x = 0; x < 4096; ++x) {
        const std::uint8_t* t = texels + 4 * x;  // blue, green, red, alpha
        ASSERT_TRUE(t[0] == c.blue || t[0] == c.blue + 1) << x << ": " << int{t[0]};
        ASSERT_TRUE(t[1] == c.green || t[1] == c.green + 1) << x << ": " << int{t[1]};
        ASSERT_TRUE(t[2] == c.red || (c.red < 255 && t[2] == c.red + 1)) << x << ": " << int{t[2]};
        ASSERT_EQ(t[3], 255) << x;
      }
    });
    if (!AllocGauge::Available()) continue;
    EXPECT_LT(peak, std::size_t{kLongRow} * c.texelBytes + 8 * kMiB);
    EXPECT_LT(peak, 256 * kMiB);
  }
}

TEST_F(GxlTextureMemory, HdrHeaderReadsRefuseMoreTexelsThanThirtyTwoBitPitchesDescribe) {
  // 2^28 texels of 16 bytes are 4 GB: one texel more than the largest 32-bit size.
  struct Case {
    std::uint32_t width;
    bool read;
  };
  for (const Case& c : {Case{(1u << 28) - 1, true}, Case{1u << 28, false}}) {
    SCOPED_TRACE(c.width);
    Outcome header;
    Decode(HdrFile(c.width, 1), false, &header);
    EXPECT_EQ(SUCCEEDED(header.hr), c.read);
    EXPECT_EQ(header.info.width, c.read ? c.width : 0u);
    ExpectSmall(header);
  }
}

}  // namespace
