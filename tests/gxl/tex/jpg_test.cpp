// The JPEG reader against baseline, progressive and grey files made by
// ImageMagick, compared with the texels ImageMagick decodes and with the
// picture they were made from; broken streams; and the writer, read back by PIL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/result_codes.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using imgtest::Quote;
using nura::test::ReadFileBytes;
using nura::test::TempDir;

constexpr std::uint32_t kWidth = 61, kHeight = 47;

// RGBA bytes of a raster (grey rasters repeat their sample).
std::vector<std::uint8_t> RasterRgba(const imgtest::Pnm& r) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < std::size_t{r.width} * r.height; ++i) {
    for (std::uint32_t c = 0; c < 3; ++c)
      out.push_back(static_cast<std::uint8_t>(r.samples[r.channels == 1 ? i : 3 * i + c]));
    out.push_back(255);
  }
  return out;
}

std::vector<std::uint8_t> Narrow(const std::vector<std::uint16_t>& samples) {
  return std::vector<std::uint8_t>(samples.begin(), samples.end());
}

HRESULT Decode(DecodedImage& image, const std::vector<std::uint8_t>& bytes, std::size_t size, bool pixels = true) {
  return image.DecodeImage(bytes.data(), static_cast<std::uint32_t>(size), nullptr, pixels);
}

class GxlJpg : public ::testing::Test {
 protected:
  void SetUp() override {
    imgtest::RequireTools({"convert"});
    m_picture = imgtest::MakePicture(kWidth, kHeight);
    m_grey = m_picture;
    m_grey.channels = 1;
    m_grey.samples.clear();
    for (std::size_t i = 0; i < m_picture.samples.size(); i += 3) m_grey.samples.push_back(m_picture.samples[i + 1]);
    imgtest::WritePnm(m_dir / "picture.ppm", m_picture);
    imgtest::WritePnm(m_dir / "grey.pgm", m_grey);
  }

  // A file ImageMagick makes from picture.ppm (or grey.pgm) with the options.
  std::string Make(const std::string& name, const std::string& source, const std::string& options) {
    const std::string path = m_dir / name;
    EXPECT_TRUE(imgtest::Run("convert " + Quote(m_dir / source) + " " + options + " " + Quote(path)));
    return path;
  }

  TempDir m_dir;
  imgtest::Pnm m_picture, m_grey;
};

TEST_F(GxlJpg, BaselineProgressiveAndGreyFilesDecodeAsImageMagickReadsThem) {
  struct Case {
    std::string path;
    D3DFORMAT format;
    const imgtest::Pnm* source;
  } cases[] = {
      {Make("baseline.jpg", "picture.ppm", "-quality 92"), D3DFMT_X8R8G8B8, &m_picture},
      {Make("progressive.jpg", "picture.ppm", "-quality 92 -interlace JPEG"), D3DFMT_X8R8G8B8, &m_picture},
      {Make("grey.jpg", "grey.pgm", "-quality 92"), D3DFMT_L8, &m_grey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::vector<std::uint8_t> file = ReadFileBytes(c.path);
    DecodedImage image;
    ImageInfo info{};
    ASSERT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), &info, true), S_OK);
    EXPECT_EQ(info.fileType, ImageFileType::Jpg);
    ASSERT_EQ(image.format, c.format);
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    EXPECT_EQ(image.rowPitch, kWidth * (c.format == D3DFMT_L8 ? 1 : 4));

    const std::vector<std::uint8_t> ours = Narrow(imgtest::RecordRgba(image));
    const std::vector<std::uint8_t> theirs = Narrow(imgtest::ConvertRgba(c.path, 8));
    ASSERT_EQ(ours.size(), theirs.size());
    int worst = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
    EXPECT_LE(worst, 1);
    EXPECT_GE(imgtest::PsnrRgb(ours, RasterRgba(*c.source)), 30.0);
  }
}

TEST_F(GxlJpg, CmykFilesAreRefused) {
  const std::vector<std::uint8_t> file = ReadFileBytes(Make("cmyk.jpg", "picture.ppm", "-colorspace CMYK"));
  DecodedImage image;
  image.decodePixels = true;
  EXPECT_EQ(image.ReadJpeg(file.data(), static_cast<std::uint32_t>(file.size())), E_FAIL);
  DecodedImage detected;
  EXPECT_EQ(Decode(detected, file, file.size()), GXLERR_INVALIDDATA);
}

// The reader offers the whole file at the first request for data; a second
// request means the data ended early and must end the read, not repeat it.
TEST_F(GxlJpg, TruncatedStreamsFailInsteadOfRepeatingTheData) {
  for (const std::string& path : {Make("baseline.jpg", "picture.ppm", ""),
                                  Make("progressive.jpg", "picture.ppm", "-interlace JPEG")}) {
    const std::vector<std::uint8_t> file = ReadFileBytes(path);
    for (std::size_t cut : {std::size_t{2}, std::size_t{100}, file.size() / 3, file.size() / 2, file.size() - 2}) {
      SCOPED_TRACE(path + " cut at " + std::to_string(cut));
      DecodedImage image;
      image.decodePixels = true;
      EXPECT_EQ(image.ReadJpeg(file.data(), static_cast<std::uint32_t>(cut)), E_FAIL);
      DecodedImage detected;
      EXPECT_EQ(Decode(detected, file, cut), GXLERR_INVALIDDATA);
      EXPECT_EQ(detected.pixels, nullptr);
    }
  }
}

TEST_F(GxlJpg, BitFlippedStreamsDoNoHarm) {
  const std::vector<std::uint8_t> file = ReadFileBytes(Make("progressive.jpg", "picture.ppm", "-interlace JPEG"));
  std::uint32_t state = 5;
  int decoded = 0;
  for (int n = 0; n < 120; ++n) {
    state = state * 1664525u + 1013904223u;
    std::vector<std::uint8_t> broken = file;
    broken[(state >> 8) % broken.size()] ^= static_cast<std::uint8_t>(1u << ((state >> 4) & 7));
    DecodedImage image;
    if (SUCCEEDED(Decode(image, broken, broken.size()))) {
      ++decoded;
      // A damaged size field may change the size; the record must describe its storage.
      EXPECT_GE(image.rowPitch, image.width);
      EXPECT_TRUE(image.OwnsPixels());
    } else {
      EXPECT_FALSE(image.OwnsPixels());
    }
  }
  // Most flips land in entropy-coded data, which decodes to something.
  EXPECT_GT(decoded, 0);
}

TEST_F(GxlJpg, WrittenFilesReadInPilAtHighFidelity) {
  imgtest::RequireTools({"/usr/bin/python3"});
  // The picture as X8R8G8B8 words with a junk top byte, which the writer ignores.
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < m_picture.samples.size(); i += 3)
    words.push_back(0x5A000000u | (std::uint32_t{m_picture.samples[i]} << 16) |
                    (std::uint32_t{m_picture.samples[i + 1]} << 8) | m_picture.samples[i + 2]);
  ImageRegion region{};
  region.pixels = words.data();
  region.format = D3DFMT_X8R8G8B8;
  region.rowPitch = kWidth * 4;
  region.box = region.extent = ImageBox{0, 0, kWidth, kHeight, 0, 1};

  const std::string path = m_dir / "written.jpg";
  DecodedImage toFile;
  toFile.SetFromRegion(region);
  ASSERT_EQ(toFile.EncodeImage(path.c_str(), ImageFileType::Jpg, ImageSinkKind::FileA), S_OK);
  std::string mode;
  const std::vector<std::uint8_t> read = imgtest::PilRgba(path, &mode);
  EXPECT_EQ(mode, "RGB");
  EXPECT_GE(imgtest::PsnrRgb(read, RasterRgba(m_picture)), 30.0);

  DecodedImage toMemory;
  toMemory.SetFromRegion(region);
  DataBuffer* buffer = nullptr;
  ASSERT_EQ(toMemory.EncodeImage(&buffer, ImageFileType::Jpg, ImageSinkKind::Memory), S_OK);
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  ASSERT_EQ(buffer->GetSize(), file.size());
  EXPECT_EQ(std::memcmp(buffer->GetPointer(), file.data(), file.size()), 0);
  buffer->Release();
}

TEST_F(GxlJpg, OtherFormatsAreConvertedBeforeWriting) {
  // R5G6B5: full red at the left, full blue at the right.
  std::vector<std::uint16_t> texels(std::size_t{kWidth} * kHeight);
  for (std::uint32_t y = 0; y < kHeight; ++y)
    for (std::uint32_t x = 0; x < kWidth; ++x) texels[y * kWidth + x] = x < kWidth / 2 ? 0xF800 : 0x001F;
  ImageRegion region{};
  region.pixels = texels.data();
  region.format = D3DFMT_R5G6B5;
  region.rowPitch = kWidth * 2;
  region.box = region.extent = ImageBox{0, 0, kWidth, kHeight, 0, 1};
  DecodedImage record;
  record.SetFromRegion(region);
  DataBuffer* buffer = nullptr;
  ASSERT_EQ(record.EncodeImage(&buffer, ImageFileType::Jpg, ImageSinkKind::Memory), S_OK);
  EXPECT_EQ(record.format, D3DFMT_X8R8G8B8);
  EXPECT_TRUE(record.OwnsPixels());

  DecodedImage back;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer->GetPointer());
  ASSERT_EQ(back.DecodeImage(bytes, buffer->GetSize(), nullptr, true), S_OK);
  buffer->Release();
  const std::vector<std::uint16_t> rgba = imgtest::RecordRgba(back);
  const std::size_t left = (std::size_t{kHeight / 2} * kWidth + 5) * 4, right = left + (kWidth - 11) * 4;
  EXPECT_GT(rgba[left], 240);
  EXPECT_LT(rgba[left + 2], 16);
  EXPECT_LT(rgba[right], 16);
  EXPECT_GT(rgba[right + 2], 240);
}

}  // namespace
