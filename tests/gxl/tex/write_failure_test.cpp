// The JPEG and PNG writers on an output that fails part-way: a file on a full
// device takes the stream's first 64 KB and refuses the rest, which the writer
// itself must report, not only the flush after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/image_output_stream.h"
#include "platform/d3d9_api.h"

namespace {

constexpr const char* kFullDevice = "/dev/full";

TEST(GxlWriteFailure, WritersReportAnOutputThatFillsUp) {
  if (!std::filesystem::exists(kFullDevice)) GTEST_SKIP() << "no " << kFullDevice;
  // Noise barely compresses: well over the stream's buffer either way.
  constexpr std::uint32_t kWidth = 512, kHeight = 256;
  std::vector<std::uint32_t> words(std::size_t{kWidth} * kHeight);
  std::mt19937 rng(7);
  for (auto& w : words) w = rng();
  ImageRegion region{};
  region.pixels = words.data();
  region.format = D3DFMT_X8R8G8B8;
  region.rowPitch = kWidth * 4;
  region.box = region.extent = ImageBox{0, 0, kWidth, kHeight, 0, 1};

  for (const ImageFileType type : {ImageFileType::Jpg, ImageFileType::Png}) {
    const bool jpg = type == ImageFileType::Jpg;
    DecodedImage image;
    ASSERT_EQ(image.SetFromRegion(region), S_OK);
    ImageOutputStream stream;
    ASSERT_EQ(stream.Open(kFullDevice, ImageSinkKind::FileA), S_OK);
    EXPECT_TRUE(FAILED(jpg ? image.WriteJpeg(stream) : image.WritePng(stream))) << (jpg ? "JPEG" : "PNG");
    DecodedImage again;
    ASSERT_EQ(again.SetFromRegion(region), S_OK);
    EXPECT_TRUE(FAILED(again.EncodeImage(kFullDevice, type, ImageSinkKind::FileA))) << (jpg ? "JPEG" : "PNG");
  }
}

}  // namespace
