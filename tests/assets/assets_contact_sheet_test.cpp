// Writes every picture of the data folder onto one sheet in the build tree
// (assets_contact_sheet.png) for a person to look at, on a checkerboard so
// that transparency shows.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>

#include "tests/assets/assets_support.h"
#include "tests/support/test_util.h"

namespace nura::assets_test {
namespace {

TEST(AssetsContactSheet, AllPicturesOnOneSheet) {
  const int width = 2048, gap = 8;
  struct Placed {
    Image img;
    int x, y;
  };
  std::vector<Image> pictures;
  for (const std::string& name : PictureNames()) {
    pictures.push_back(LoadPicture(name));
    ASSERT_GT(pictures.back().width, 0) << name;
  }
  // Shelf packing, tallest first.
  std::vector<size_t> order(pictures.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return pictures[a].height > pictures[b].height; });
  std::vector<Placed> placed;
  int x = gap, y = gap, shelf = 0;
  for (size_t i : order) {
    const Image& img = pictures[i];
    if (x + img.width + gap > width) {
      x = gap;
      y += shelf + gap;
      shelf = 0;
    }
    placed.push_back({img, x, y});
    x += img.width + gap;
    shelf = std::max(shelf, img.height);
  }
  const int height = y + shelf + gap;
  std::vector<std::uint8_t> sheet(static_cast<size_t>(width) * height * 4);
  for (int py = 0; py < height; ++py)
    for (int px = 0; px < width; ++px) {
      std::uint8_t v = ((px / 8 + py / 8) % 2) ? 0x3A : 0x48;
      std::uint8_t* d = &sheet[(static_cast<size_t>(py) * width + px) * 4];
      d[0] = v, d[1] = v, d[2] = static_cast<std::uint8_t>(v + 10), d[3] = 255;
    }
  for (const Placed& p : placed)
    for (int iy = 0; iy < p.img.height; ++iy)
      for (int ix = 0; ix < p.img.width; ++ix) {
        const std::uint8_t* s = p.img.px(ix, iy);
        std::uint8_t* d = &sheet[(static_cast<size_t>(p.y + iy) * width + p.x + ix) * 4];
        for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>((s[c] * s[3] + d[c] * (255 - s[3])) / 255);
      }
  std::string path = test::BinaryDir() + "/assets_contact_sheet.png";
  png_image out;
  std::memset(&out, 0, sizeof out);
  out.version = PNG_IMAGE_VERSION;
  out.width = width;
  out.height = static_cast<png_uint_32>(height);
  out.format = PNG_FORMAT_RGBA;
  ASSERT_TRUE(png_image_write_to_file(&out, path.c_str(), 0, sheet.data(), 0, nullptr)) << out.message;
  Image back;
  std::string why;
  ASSERT_TRUE(DecodePng(test::ReadFileBytes(path), &back, &why)) << why;
  EXPECT_EQ(back.width, width);
  EXPECT_EQ(back.height, height);
}

}  // namespace
}  // namespace nura::assets_test
