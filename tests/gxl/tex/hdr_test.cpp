// The HDR reader against files of ImageMagick, pfstools and stb_image_write,
// read as stb_image reads them; the writer's files as those tools read
// them; hand-made headers, scanline orders and packets; broken copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "gxl/tex/filter_flags.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_build.h"
#include "image_test_util.h"
#include "tex_test_device.h"
#include "tests/support/stb_image_hdr.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::DecodeBytes;
using imgtest::Quote;
using imgtest::RecordFloats;
using nura::test::ReadFileBytes;

// RGBA texels across many magnitudes, with zeros and a negative value.
std::vector<float> MakeFloats(int texels, std::uint32_t seed) {
  std::vector<float> f;
  for (int i = 0; i < texels; ++i) {
    for (int c = 0; c < 3; ++c) {
      seed = seed * 1664525u + 1013904223u;
      f.push_back(i % 17 == 3 ? 0.0f : std::ldexp((seed >> 8) / 16777216.0f, static_cast<int>(seed % 24) - 12));
    }
    f.push_back(1.0f);
  }
  if (texels > 5) f[4 * 5 + 2] = -2.0f;
  return f;
}

std::vector<float> Stb(const std::string& path) {
  int w = 0, h = 0, channels = 0;
  float* p = stbi_loadf(path.c_str(), &w, &h, &channels, 4);
  if (!p) return {};
  std::vector<float> f(p, p + std::size_t(w) * h * 4);
  stbi_image_free(p);
  return f;
}

// The largest difference of red, green and blue relative to the largest
// channel of the reference texel (negative references count as 0); alpha
// must be 1. 1 when the sizes differ.
double WorstRelative(const std::vector<float>& a, const std::vector<float>& reference) {
  if (a.size() != reference.size() || a.empty()) return 1;
  double worst = 0;
  for (std::size_t i = 0; i < a.size(); i += 4) {
    if (a[i + 3] != 1.0f) return 1;
    const double top = std::max({reference[i], reference[i + 1], reference[i + 2], 1e-30f});
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a[i + c] - std::max(0.0f, reference[i + c])) / top);
  }
  return worst;
}

// Half a mantissa step of the largest channel: this reader takes a mantissa
// m as m + 0.5, stb_image as m (with room for float rounding).
constexpr double kHalfStep = 1.0 / 256 * (1 + 1e-5);

class GxlHdr : public ::testing::Test {
 protected:
  nura::test::TempDir m_dir;
};

TEST_F(GxlHdr, FilesOfOtherToolsReadAsStbReadsThem) {
  imgtest::RequireTools({"convert", "pfsinppm", "pfsoutrgbe"});
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(37, 23));
  imgtest::WritePnm(m_dir / "src5.ppm", imgtest::MakePicture(5, 3));
  // (pfstools writes run-length scanlines below width 8 too, which readers
  // take as flat: only its wide file is read here.)
  ASSERT_TRUE(imgtest::RunScript(m_dir.path(),
                                 "convert src.ppm im.hdr\nconvert src5.ppm im5.hdr\n"
                                 "pfsinppm src.ppm | pfsoutrgbe pfs.hdr 2>/dev/null\n"));
  for (const int width : {37, 5}) {
    std::vector<float> f = MakeFloats(width * 3, width);
    ASSERT_TRUE(stbi_write_hdr((m_dir / ("stb" + std::to_string(width) + ".hdr")).c_str(), width, 3, 4, f.data()));
  }
  for (const char* name : {"im.hdr", "im5.hdr", "pfs.hdr", "stb37.hdr", "stb5.hdr"}) {
    DecodedImage image;
    ImageInfo info{};
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / name);
    ASSERT_EQ(DecodeBytes(file, &image, &info), S_OK) << name;
    EXPECT_EQ(info.fileType, ImageFileType::Hdr);
    EXPECT_LE(WorstRelative(RecordFloats(image), Stb(m_dir / name)), kHalfStep) << name;
  }
}

TEST_F(GxlHdr, WrittenFilesReadAlikeInStbPfstoolsAndImageMagick) {
  imgtest::RequireTools({"convert", "pfsinrgbe", "pfsoutpfm"});
  const std::string path = m_dir / "out.hdr";
  // Run-length scanlines for 37 and 8, flat ones (which other readers
  // expect there) for 5 and 32768; the tools read the narrow ones.
  for (const std::uint32_t width : {37u, 8u, 5u, 32768u}) {
    SCOPED_TRACE(width);
    const std::uint32_t height = width > 100 ? 1 : 3;
    std::vector<float> source = MakeFloats(width * height, 7);
    DecodedImage record;
    imgtest::SetFloatRecord(source, width, height, &record);
    ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Hdr, ImageSinkKind::FileA), S_OK);
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    const std::string text(file.begin(), file.end());
    const std::string resolution = "\n\n-Y " + std::to_string(height) + " +X " + std::to_string(width) + "\n";
    EXPECT_TRUE(std::regex_match(text.substr(0, text.find(resolution)),
                                 std::regex("#\\?RADIANCE\n#File created by the GXL library\nFORMAT=32-bit_rle_rgbe\n"
                                            "#Timestamp: \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d")));
    const std::size_t scan = text.find(resolution) + resolution.size();
    EXPECT_EQ(file[scan] == 2 && file[scan + 1] == 2, width >= 8 && width <= 32767);

    const std::vector<float> stb = Stb(path);
    EXPECT_LE(WorstRelative(stb, source), 2 * kHalfStep);
    DecodedImage back;
    ASSERT_EQ(DecodeBytes(file, &back), S_OK);
    EXPECT_LE(WorstRelative(RecordFloats(back), stb), kHalfStep);
    if (width > 100) continue;

    // pfstools hands the texels on as a float map, ImageMagick as raw floats
    // of its 16-bit samples clipped to [0, 1] (taken as they stand, not as
    // linear light).
    ASSERT_TRUE(imgtest::Run("pfsinrgbe " + Quote(path) + " | pfsoutpfm " + Quote(m_dir / "pfs.pfm") + " && convert " +
                             Quote(path) + " -set colorspace sRGB -depth 32 -define quantum:format=floating-point " +
                             "-endian LSB rgba:" + Quote(m_dir / "im.raw")));
    DecodedImage pfs;
    ASSERT_EQ(DecodeBytes(ReadFileBytes(m_dir / "pfs.pfm"), &pfs), S_OK);
    EXPECT_LE(WorstRelative(RecordFloats(pfs), stb), 2 * kHalfStep);
    const std::vector<std::uint8_t> raw = ReadFileBytes(m_dir / "im.raw");
    ASSERT_EQ(raw.size(), stb.size() * 4);
    for (std::size_t i = 0; i < stb.size(); ++i) {
      float im;
      std::memcpy(&im, &raw[4 * i], 4);
      ASSERT_NEAR(im, std::clamp(stb[i], 0.0f, 1.0f), 2.0 / 65535 + 2 * kHalfStep) << i;
    }
  }
}

std::vector<std::uint8_t> HdrFile(const std::string& header, const std::string& resolution,
                                  std::vector<std::uint8_t> scanlines) {
  const std::string text = "#?RADIANCE\n" + header + "\n" + resolution + "\n";
  scanlines.insert(scanlines.begin(), text.begin(), text.end());
  return scanlines;
}

TEST_F(GxlHdr, ScanlineOrdersPacketsAndHeaderLinesReadAsLaidOut) {
  const std::string format = "FORMAT=32-bit_rle_rgbe\n";
  // Six texels of red 128.5 + i, and which of them lands at each place of
  // the 2 x 3 image, row by row from the top.
  std::vector<std::uint8_t> six;
  for (std::uint8_t i = 0; i < 6; ++i) six.insert(six.end(), {std::uint8_t(128 + i), 0, 0, 136});
  struct Order {
    const char* resolution;
    int texels[6];
  } orders[] = {
      {"-Y 3 +X 2", {0, 1, 2, 3, 4, 5}}, {"+Y 3 +X 2", {4, 5, 2, 3, 0, 1}}, {"-Y 3 -X 2", {1, 0, 3, 2, 5, 4}},
      {"+Y 3 -X 2", {5, 4, 3, 2, 1, 0}}, {"+X 2 -Y 3", {0, 3, 1, 4, 2, 5}}, {"+X 2 +Y 3", {2, 5, 1, 4, 0, 3}},
      {"-X 2 -Y 3", {3, 0, 4, 1, 5, 2}}, {"-X 2 +Y 3", {5, 2, 4, 1, 3, 0}},
  };
  for (const Order& o : orders) {
    DecodedImage image;
    ASSERT_EQ(DecodeBytes(HdrFile(format, o.resolution, six), &image), S_OK) << o.resolution;
    ASSERT_EQ(image.width * 10 + image.height, 23u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(RecordFloats(image)[4 * i], 128.5f + o.texels[i]) << o.resolution << i;
  }

  // A run-length scanline of 8: red one run, green literal bytes, blue a run
  // and literals, the exponent a run. A flat one of 300: a texel and 43 +
  // (1 << 8) repeats of it.
  const std::vector<std::uint8_t> packets = {2, 2, 0, 8,    0x88, 200, 8, 1, 2, 3, 4,    5,
                                             6, 7, 8, 0x84, 255,  4,   9, 9, 9, 9, 0x88, 137};
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    std::size_t texel;
    float rgb[3];
  } reads[] = {
      {"two exposures of 2",
       HdrFile(format + "EXPOSURE=2\nEXPOSURE= 2.0\n", "-Y 1 +X 1", {128, 0, 0, 136}),
       0,
       {128.5f / 4, 0.5f / 4, 0.5f / 4}},
      {"exposures of 0 and inf ignored",
       HdrFile("EXPOSURE=0\nFORMAT=  32-bit_rle_xyze\nEXPOSURE=inf\n#note\n", "-Y 1 +X 1", {128, 0, 0, 136}),
       0,
       {128.5f, 0.5f, 0.5f}},
      // Narrower than 8: flat, whatever its first texel looks like.
      {"flat texel like a run start", HdrFile(format, "-Y 1 +X 3", {2, 2, 0, 137, 1, 1, 1, 2}), 2, {5, 5, 1}},
      {"packets, first texel", HdrFile(format, "-Y 1 +X 8", packets), 0, {401, 3, 511}},
      {"packets, last texel", HdrFile(format, "-Y 1 +X 8", packets), 7, {401, 17, 19}},
      {"repeats",
       HdrFile(format, "-Y 1 +X 300", {128, 64, 32, 136, 1, 1, 1, 43, 1, 1, 1, 1}),
       299,
       {128.5f, 64.5f, 32.5f}},
  };
  for (const Case& c : reads) {
    DecodedImage image;
    ASSERT_EQ(DecodeBytes(c.file, &image), S_OK) << c.what;
    const std::vector<float> f = RecordFloats(image);
    EXPECT_EQ(std::vector<float>(f.begin() + 4 * c.texel, f.begin() + 4 * c.texel + 3),
              std::vector<float>(c.rgb, c.rgb + 3))
        << c.what;
  }

  std::vector<std::uint8_t> longRun = packets;
  longRun[4] = 0x89;
  const std::vector<std::uint8_t> one = {9, 9, 9, 9};
  std::vector<std::uint8_t> failures[] = {
      HdrFile(format, "-Y 1 +X 9", packets),                   // run-length width is not the scanline's
      HdrFile(format, "-Y 1 +X 8", longRun),                   // a packet past the scanline
      HdrFile(format, "-Y 1 +X 2", {1, 1, 1, 1, 9, 9, 9, 9}),  // a repeat of nothing
      // five repeats in a row: a shift of 32
      HdrFile(format, "-Y 1 +X 2", {9, 9, 9, 9, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1}),
      HdrFile(format, "-Y 1 +X 3", {9, 9, 9, 9, 1, 1, 1, 3}),  // a repeat past the scanline
      HdrFile(format, "-Y -5 +X 1", one),                      // a negative size
      HdrFile(format, "-Y 4294967297 +X 1", one),              // a size beyond 32 bits
      HdrFile(format, "-Y 1 +Y 1", one),                       // one axis twice
      HdrFile("EXPOSURE=1\n", "-Y 1 +X 1", one),               // no FORMAT line
      HdrFile("FORMAT=32-bit_rle_rgbf\n", "-Y 1 +X 1", one),   // another FORMAT
      HdrFile(format, "-Y 2 +X 1", {9, 9, 9, 9, 9, 9, 9}),     // texels cut short
      HdrFile(format, "", {}),                                 // the header never ends
  };
  failures[11].resize(failures[11].size() - 2);
  for (std::size_t i = 0; i < std::size(failures); ++i) {
    DecodedImage image;
    EXPECT_EQ(DecodeBytes(failures[i], &image), GXLERR_INVALIDDATA) << i;
  }
}

// Every exponent with every mantissa (texel (m, m ^ 0x55, 255 - m, e) at
// row e, column m) reads as ldexp(m + 0.5, e - 136) / exposure rounded once
// to float, alpha 1: decoded, and made into an A32B32G32R32F texture of the
// scratch pool without filtering, from the picture in whatever form the
// reader keeps it.
class GxlHdrTexels : public textest::DeviceTest {};

TEST_F(GxlHdrTexels, EveryExponentAndMantissaReadsAsLdexpOverTheExposure) {
  std::vector<std::uint8_t> texels;
  for (int e = 0; e < 256; ++e)
    for (int m = 0; m < 256; ++m)
      texels.insert(texels.end(), {std::uint8_t(m), std::uint8_t(m ^ 0x55), std::uint8_t(255 - m), std::uint8_t(e)});
  struct Case {
    const char* header;
    double exposure;
  };
  for (const Case& c : {Case{"", 1.0}, Case{"EXPOSURE=2\n", 2.0}, Case{"EXPOSURE=0.3\nEXPOSURE=1.7\n", 1.0 * 0.3 * 1.7}}) {
    SCOPED_TRACE(c.header);
    const std::vector<std::uint8_t> file = HdrFile(std::string("FORMAT=32-bit_rle_rgbe\n") + c.header, "-Y 256 +X 256", texels);
    std::vector<float> expected;
    for (std::size_t i = 0; i < texels.size(); i += 4) {
      for (int k = 0; k < 3; ++k)
        expected.push_back(static_cast<float>(std::ldexp(texels[i + k] + 0.5, texels[i + 3] - 136) / c.exposure));
      expected.push_back(1.0f);
    }
    DecodedImage image;
    ASSERT_EQ(DecodeBytes(file, &image), S_OK);
    EXPECT_EQ(std::memcmp(RecordFloats(image).data(), expected.data(), expected.size() * 4), 0);

    textest::Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(GXLBuildTextureFromFileData(dev, file.data(), static_cast<UINT>(file.size()), kGxlFromFile, kGxlFromFile, 1,
                                          0, D3DFMT_A32B32G32R32F, D3DPOOL_SCRATCH, FilterFlags::None, kGxlDefault, 0,
                                          nullptr, nullptr, &texture),
              S_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 256; ++y)
      ASSERT_EQ(std::memcmp(static_cast<const std::uint8_t*>(lr.pBits) + y * lr.Pitch, &expected[y * 256 * 4], 256 * 16), 0)
          << y;
    texture->UnlockRect(0);
  }
}

// (0.25, 0.5, 1.0): frexp(1.0) is (0.5, 1), so the scale is 0.5 x 256 / 1.0.
// Infinity and values from 2^127 on saturate; NaN, negative and tiny values
// count as 0.
TEST_F(GxlHdr, WrittenTexelsRoundNormaliseAndSaturate) {
  std::vector<float> f = {0.25f,
                          0.5f,
                          1.0f,
                          1,
                          std::numeric_limits<float>::infinity(),
                          1,
                          0,
                          1,
                          std::nanf(""),
                          0.5f,
                          0,
                          1,
                          3e38f,
                          0,
                          0,
                          1,
                          -1,
                          0,
                          0,
                          1,
                          1e-33f,
                          0,
                          0,
                          1};
  DecodedImage record;
  imgtest::SetFloatRecord(f, 6, 1, &record);
  const std::vector<std::uint8_t> file = imgtest::EncodeToMemory(record, ImageFileType::Hdr);
  ASSERT_GE(file.size(), 24u);
  EXPECT_EQ(std::vector<std::uint8_t>(file.end() - 24, file.end()),
            (std::vector<std::uint8_t>{32,  64, 128, 129, 255, 0, 0, 255, 0, 128, 0, 128,  //
                                       255, 0,  0,   255, 0,   0, 0, 0,   0, 0,   0, 0}));
}

TEST_F(GxlHdr, BrokenCopiesFailCleanly) {
  for (const int width : {40, 5}) {
    std::vector<float> f = MakeFloats(width * 12, 3);
    const std::string path = m_dir / "stb.hdr";
    ASSERT_TRUE(stbi_write_hdr(path.c_str(), width, 12, 4, f.data()));
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    imgtest::ExpectBrokenCopiesFailCleanly(file, file.size(), 31 + width);
  }
}

// A literal packet may hold 128 bytes (counts above 128 are runs): a
// scanline of 130 whose red plane is a literal of 128 and one of 2, read
// alike by stb_image.
TEST_F(GxlHdr, LiteralPacketsOfExactly128Bytes) {
  std::vector<std::uint8_t> line = {2, 2, 0, 130, 128};
  for (int i = 0; i < 128; ++i) line.push_back(static_cast<std::uint8_t>(255 - i));
  line.insert(line.end(), {2, 200, 201});
  for (std::uint8_t value : {std::uint8_t{3}, std::uint8_t{4}, std::uint8_t{136}})
    line.insert(line.end(), {0xFF, value, 0x83, value});
  const std::vector<std::uint8_t> file = HdrFile("FORMAT=32-bit_rle_rgbe\n", "-Y 1 +X 130", line);
  DecodedImage image;
  ASSERT_EQ(DecodeBytes(file, &image), S_OK);
  const std::vector<float> f = RecordFloats(image);
  ASSERT_EQ(f.size(), 130u * 4);
  for (int i = 0; i < 130; ++i) {
    const float red = i < 128 ? 255.5f - static_cast<float>(i) : i == 128 ? 200.5f : 201.5f;
    EXPECT_EQ(std::vector<float>(f.begin() + 4 * i, f.begin() + 4 * i + 4), (std::vector<float>{red, 3.5f, 4.5f, 1}))
        << i;
  }
  nura::test::WriteFileBytes(m_dir / "literal.hdr", file);
  EXPECT_LE(WorstRelative(f, Stb(m_dir / "literal.hdr")), kHalfStep);
}

}  // namespace
