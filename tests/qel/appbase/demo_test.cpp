// The demo program headless: it runs its frames, ends by itself, and its
// captured frames (read back by PIL) show the picture and the rate text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/qel/appbase/appbase_test_util.h"

namespace {

TEST(DxAppBaseDemo, RunsHeadlessAndShowsThePictureAndTheRate) {
  nura::test::TempDir dir;
  std::filesystem::create_directories(dir / "cg");
  std::filesystem::create_directories(dir / "frames");
  // The logo is read from its scrambled twin.
  const qeltest::Picture logo = qeltest::NoisePicture(64, 64, 31);
  qeltest::WriteTwin(dir / "cg/Logo.grp", logo);
  const std::string cmd = "cd '" + dir.path() + "' && PLATFORM_BACKEND=headless PLATFORM_CAPTURE_DIR='" +
                          (dir / "frames") + "' PLATFORM_CAPTURE_EVERY=60 LSAN_OPTIONS=suppressions=" +
                          nura::test::SourceDir() + "/tests/lsan.supp:print_suppressions=0 '" + QEL_DEMO_PATH +
                          "' --frames 60 2>&1";
  std::string output;
  ASSERT_EQ(nura::test::RunCommand(cmd, &output), 0) << output;
  ASSERT_TRUE(std::filesystem::exists(dir / "frames/frame_000060.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "frames/frame_000120.png"));

  const std::string raw = dir / "frame.rgb";
  const std::string decode = "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" +
                             (dir / "frames/frame_000060.png") + "').convert('RGB'); print(im.size); open('" + raw +
                             "', 'wb').write(im.tobytes())\" 2>&1";
  std::string size;
  ASSERT_EQ(nura::test::RunCommand(decode, &size), 0) << size;
  ASSERT_EQ(size, "(640, 480)\n");
  const auto rgb = nura::test::ReadFileBytes(raw);
  ASSERT_EQ(rgb.size(), 640u * 480u * 3u);
  auto at = [&](int x, int y) {
    const size_t i = (static_cast<size_t>(y) * 640 + x) * 3;
    return (std::uint32_t{rgb[i]} << 16) | (rgb[i + 1] << 8) | rgb[i + 2];
  };
  // The picture, centred, texel for texel.
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(at(288 + x, 208 + y), logo.At(x, y) & 0xFFFFFF) << x << "," << y;
  // The band behind it.
  EXPECT_EQ(at(10, 200), 0x203060u);
  // Yellow rate text in the top-left corner, nothing else up there.
  int yellow = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x) {
      const std::uint32_t v = at(x, y);
      if (v == 0) continue;
      EXPECT_EQ(v & 0xFF, 0u) << x << "," << y;
      EXPECT_EQ(v >> 16, (v >> 8) & 0xFF) << x << "," << y;
      yellow += v == 0xFFFF00u;
    }
  EXPECT_GT(yellow, 10);
}

}  // namespace
