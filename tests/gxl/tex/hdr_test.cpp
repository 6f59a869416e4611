// The HDR reader against files of ImageMagick, pfstools and stb_image_write
// (run-length and flat), read as stb_image reads them; the writer's files as
// those tools read them; hand-made headers, scanline orders and packets; and
// broken copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "tests/support/stb_image_hdr.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;

struct Floats {
  int width = 0, height = 0;
  std::vector<float> rgba;
};

// Texels across many magnitudes, with zeros and a negative value among them.
Floats MakeFloats(int width, int height, std::uint32_t seed) {
  Floats f{width, height, {}};
  for (int i = 0; i < width * height; ++i) {
    for (int c = 0; c < 3; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const float unit = static_cast<float>(seed >> 8) / 16777216.0f;
      f.rgba.push_back(i % 17 == 3 ? 0.0f : std::ldexp(unit, static_cast<int>(seed % 24) - 12));
    }
    if (i == 5) f.rgba.back() = -2.0f;
    f.rgba.push_back(1.0f);
  }
  return f;
}

void SetRecord(Floats& f, DecodedImage* record) {
  ImageRegion region{};
  region.pixels = f.rgba.data();
  region.format = D3DFMT_A32B32G32R32F;
  region.rowPitch = static_cast<std::uint32_t>(f.width) * 16;
  region.extent = region.box =
      ImageBox{0, 0, static_cast<std::uint32_t>(f.width), static_cast<std::uint32_t>(f.height), 0, 1};
  record->SetFromRegion(region);
}

Floats FromRecord(const DecodedImage& image) {
  Floats f{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  const auto* p = static_cast<const float*>(image.pixels);
  f.rgba.assign(p, p + std::size_t{image.width} * image.height * 4);
  return f;
}

Floats Stb(const std::string& path) {
  Floats f;
  int channels = 0;
  float* p = stbi_loadf(path.c_str(), &f.width, &f.height, &channels, 4);
  if (!p) {
    ADD_FAILURE() << "stb_image cannot read " << path;
    return f;
  }
  f.rgba.assign(p, p + std::size_t(f.width) * f.height * 4);
  stbi_image_free(p);
  return f;
}

// The largest difference of red, green and blue, relative to the largest
// channel of the reference texel; alpha must be 1. 1 when the sizes differ.
double WorstRelative(const Floats& a, const Floats& reference) {
  if (a.width != reference.width || a.height != reference.height || a.rgba.size() != reference.rgba.size()) return 1;
  double worst = 0;
  for (std::size_t i = 0; i < a.rgba.size(); i += 4) {
    if (a.rgba[i + 3] != 1.0f) return 1;
    const double top = std::max({reference.rgba[i], reference.rgba[i + 1], reference.rgba[i + 2], 1e-30f});
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(double{a.rgba[i + c]} - std::max(0.0f, reference.rgba[i + c])) / top);
  }
  return worst;
}

// One mantissa step of the largest channel, as the two readers differ by
// half of one (with a little room for float rounding).
constexpr double kHalfStep = 1.0 / 256 * (1 + 1e-5);

HRESULT Decode(const std::vector<std::uint8_t>& file, DecodedImage* image) {
  return image->DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true);
}

class GxlHdr : public ::testing::Test {
 protected:
  void Make(const std::string& script) { ASSERT_TRUE(imgtest::RunScript(m_dir.path(), script)); }
  nura::test::TempDir m_dir;
};

TEST_F(GxlHdr, FilesOfOtherToolsReadAsStbReadsThem) {
  imgtest::RequireTools({"convert", "pfsinppm", "pfsoutrgbe"});
  imgtest::WritePnm(m_dir / "src.ppm", imgtest::MakePicture(37, 23));
  imgtest::WritePnm(m_dir / "src5.ppm", imgtest::MakePicture(5, 3));
  Make(
      "convert src.ppm im.hdr\nconvert src5.ppm im5.hdr\n"
      "pfsinppm src.ppm | pfsoutrgbe pfs.hdr 2>/dev/null\n");
  for (const int width : {37, 5}) {
    Floats f = MakeFloats(width, 3, width);
    const std::string path = m_dir / ("stb" + std::to_string(width) + ".hdr");
    ASSERT_NE(stbi_write_hdr(path.c_str(), f.width, f.height, 4, f.rgba.data()), 0);
  }
  for (const char* name : {"im.hdr", "im5.hdr", "pfs.hdr", "stb37.hdr", "stb5.hdr"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = ReadFileBytes(m_dir / name);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Hdr);
    ASSERT_EQ(image.format, D3DFMT_A32B32G32R32F);
    EXPECT_LE(WorstRelative(FromRecord(image), Stb(m_dir / name)), kHalfStep);
  }
}

TEST_F(GxlHdr, WrittenFilesReadAlikeInStbPfstoolsAndImageMagick) {
  imgtest::RequireTools({"convert", "pfsinrgbe", "pfsoutpfm"});
  struct Case {
    int width, height;
    bool tools;  // also through pfstools and ImageMagick
  } cases[] = {{37, 23, true}, {5, 3, true}, {8, 2, true}, {32768, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Floats source = MakeFloats(c.width, c.height, 7);
    DecodedImage record;
    SetRecord(source, &record);
    const std::string path = m_dir / "out.hdr";
    ASSERT_EQ(record.EncodeImage(path.c_str(), ImageFileType::Hdr, ImageSinkKind::FileA), S_OK);
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    const std::string text(file.begin(), file.end());
    const std::string start = "#?RADIANCE\n#File created by the GXL library\nFORMAT=32-bit_rle_rgbe\n#Timestamp: ";
    const std::string resolution = "\n\n-Y " + std::to_string(c.height) + " +X " + std::to_string(c.width) + "\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_TRUE(std::regex_match(text.substr(start.size(), 17), std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")));
    EXPECT_EQ(text.substr(start.size() + 17, resolution.size()), resolution);
    // Run-length scanlines only where other readers expect them.
    const std::size_t scan = text.find(resolution) + resolution.size();
    EXPECT_EQ(file[scan] == 2 && file[scan + 1] == 2, c.width >= 8 && c.width <= 32767);

    const Floats stb = Stb(path);
    EXPECT_LE(WorstRelative(stb, source), 2 * kHalfStep);
    DecodedImage back;
    ASSERT_EQ(Decode(file, &back), S_OK);
    EXPECT_LE(WorstRelative(FromRecord(back), stb), kHalfStep);
    if (!c.tools) continue;

    // pfstools hands the texels on as a float map, ImageMagick as raw floats.
    ASSERT_TRUE(imgtest::Run("pfsinrgbe " + Quote(path) + " | pfsoutpfm " + Quote(m_dir / "pfs.pfm") + " && convert " +
                             Quote(path) +
                             " -set colorspace sRGB -depth 32 -define quantum:format=floating-point -endian LSB rgba:" +
                             Quote(m_dir / "im.raw")));
    DecodedImage pfs;
    ASSERT_EQ(Decode(ReadFileBytes(m_dir / "pfs.pfm"), &pfs), S_OK);
    EXPECT_LE(WorstRelative(FromRecord(pfs), stb), 2 * kHalfStep);
    // This ImageMagick keeps 16-bit samples and clips them to [0, 1].
    const std::vector<std::uint8_t> raw = ReadFileBytes(m_dir / "im.raw");
    ASSERT_EQ(raw.size(), stb.rgba.size() * 4);
    for (std::size_t i = 0; i < stb.rgba.size(); ++i) {
      float im;
      std::memcpy(&im, &raw[4 * i], 4);
      ASSERT_NEAR(im, std::clamp(stb.rgba[i], 0.0f, 1.0f), 2.0 / 65535 + 2 * kHalfStep) << i;
    }
  }
}

std::vector<std::uint8_t> HdrFile(const std::string& header, const std::string& resolution,
                                  const std::vector<std::uint8_t>& scanlines) {
  const std::string text = "#?RADIANCE\n" + header + "\n" + resolution + "\n";
  std::vector<std::uint8_t> file(text.begin(), text.end());
  file.insert(file.end(), scanlines.begin(), scanlines.end());
  return file;
}

// Texel i of the flat data below: mantissas (128 + i, 0, 0), exponent 136,
// so red reads as 128.5 + i.
std::vector<std::uint8_t> Counting(int n) {
  std::vector<std::uint8_t> data;
  for (int i = 0; i < n; ++i) data.insert(data.end(), {std::uint8_t(128 + i), 0, 0, 136});
  return data;
}

TEST_F(GxlHdr, ScanlineOrdersPacketsAndHeaderLinesReadAsLaidOut) {
  const std::string format = "FORMAT=32-bit_rle_rgbe\n";
  // Six texels in file order, and which of them lands at each place of the
  // 2 x 3 image, row by row from the top.
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
    ASSERT_EQ(Decode(HdrFile(format, o.resolution, Counting(6)), &image), S_OK) << o.resolution;
    ASSERT_EQ(image.width, 2u);
    ASSERT_EQ(image.height, 3u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(FromRecord(image).rgba[4 * i], 128.5f + o.texels[i]) << o.resolution << i;
  }

  // Packets of a run-length scanline of 8: red one run, green literal bytes,
  // blue a run and literals, the exponent a run. A flat scanline of 300: one
  // texel and 43 + (1 << 8) repeats of it.
  const std::vector<std::uint8_t> packets = {2, 2, 0, 8,    0x88, 200, 8, 1, 2, 3, 4,    5,
                                             6, 7, 8, 0x84, 255,  4,   9, 9, 9, 9, 0x88, 137};
  const std::vector<std::uint8_t> repeats = {128, 64, 32, 136, 1, 1, 1, 43, 1, 1, 1, 1};
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    std::size_t texel;
    float rgb[3];
  } reads[] = {
      {"two exposures of 2",
       HdrFile(format + "EXPOSURE=2\nEXPOSURE= 2.0\n", "-Y 1 +X 1", Counting(1)),
       0,
       {128.5f / 4, 0.5f / 4, 0.5f / 4}},
      {"exposures of 0 and inf are ignored",
       HdrFile("EXPOSURE=0\nFORMAT=  32-bit_rle_xyze\nEXPOSURE=inf\n#comment\n", "-Y 1 +X 1", Counting(1)),
       0,
       {128.5f, 0.5f, 0.5f}},
      // Narrower than 8: flat, whatever its first texel looks like.
      {"a flat texel like a run-length start",
       HdrFile(format, "-Y 1 +X 3", {2, 2, 0, 137, 1, 1, 1, 2}),
       2,
       {5.0f, 5.0f, 1.0f}},
      {"packets, first texel", HdrFile(format, "-Y 1 +X 8", packets), 0, {401.0f, 3.0f, 511.0f}},
      {"packets, last texel", HdrFile(format, "-Y 1 +X 8", packets), 7, {401.0f, 17.0f, 19.0f}},
      {"repeats", HdrFile(format, "-Y 1 +X 300", repeats), 299, {128.5f, 64.5f, 32.5f}},
  };
  for (const Case& c : reads) {
    DecodedImage image;
    ASSERT_EQ(Decode(c.file, &image), S_OK) << c.what;
    const Floats f = FromRecord(image);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.rgba[4 * c.texel + i], c.rgb[i]) << c.what << " " << i;
  }

  std::vector<std::uint8_t> longRun = packets;
  longRun[4] = 0x89;
  struct Failure {
    const char* what;
    std::vector<std::uint8_t> file;
  } failures[] = {
      {"run-length width other than the scanline's", HdrFile(format, "-Y 1 +X 9", packets)},
      {"packet past the scanline", HdrFile(format, "-Y 1 +X 8", longRun)},
      {"repeat with nothing before it", HdrFile(format, "-Y 1 +X 2", {1, 1, 1, 1, 9, 9, 9, 9})},
      {"five repeats in a row",
       HdrFile(format, "-Y 1 +X 2", {9, 9, 9, 9, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1})},
      {"repeat past the scanline", HdrFile(format, "-Y 1 +X 3", {9, 9, 9, 9, 1, 1, 1, 3})},
      {"negative size", HdrFile(format, "-Y -5 +X 1", Counting(8))},
      {"size beyond 32 bits", HdrFile(format, "-Y 4294967297 +X 1", Counting(8))},
      {"one axis twice", HdrFile(format, "-Y 2 +Y 2", Counting(8))},
      {"no FORMAT line", HdrFile("EXPOSURE=1\n", "-Y 1 +X 1", Counting(1))},
      {"another FORMAT", HdrFile("FORMAT=32-bit_rle_rgbf\n", "-Y 1 +X 1", Counting(1))},
      {"texels cut short", HdrFile(format, "-Y 2 +X 1", Counting(2))},
      {"no end of the header", HdrFile("FORMAT=32-bit_rle_rgbe", "", {})},
  };
  failures[10].file.pop_back();
  failures[11].file.resize(failures[11].file.size() - 2);
  for (const Failure& c : failures) {
    DecodedImage image;
    EXPECT_EQ(Decode(c.file, &image), GXLERR_INVALIDDATA) << c.what;
  }
}

TEST_F(GxlHdr, WrittenTexelsRoundNormaliseAndSaturate) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  Floats f{6, 1, {0.25f, 0.5f, 1.0f, 1, kInf, 1, 0, 1, std::nanf(""), 0.5f, 0, 1,
                  3e38f, 0,    0,    1, -1,   0, 0, 1, 1e-33f,        0,    0, 1}};
  DecodedImage record;
  SetRecord(f, &record);
  DataBuffer* buffer = nullptr;
  ASSERT_EQ(record.EncodeImage(&buffer, ImageFileType::Hdr, ImageSinkKind::Memory), S_OK);
  const auto* p = static_cast<const std::uint8_t*>(buffer->GetPointer());
  const std::vector<std::uint8_t> texels(p + buffer->GetSize() - 24, p + buffer->GetSize());
  buffer->Release();
  EXPECT_EQ(texels, (std::vector<std::uint8_t>{32,  64, 128, 129, 255, 0, 0, 255, 0, 128, 0, 128,  //
                                               255, 0,  0,   255, 0,   0, 0, 0,   0, 0,   0, 0}));
}

TEST_F(GxlHdr, BrokenCopiesFailCleanly) {
  Floats wide = MakeFloats(40, 12, 3), narrow = MakeFloats(5, 30, 4);
  for (Floats* f : {&wide, &narrow}) {
    SCOPED_TRACE(f->width);
    const std::string path = m_dir / "stb.hdr";
    ASSERT_NE(stbi_write_hdr(path.c_str(), f->width, f->height, 4, f->rgba.data()), 0);
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    imgtest::ExpectBrokenCopiesFailCleanly(file, file.size(), 31);
  }
}

}  // namespace
