// The demo's Direct3D scene headless: it renders through the device, presents,
// and the capture switch writes frames that an independent decoder reads.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

TEST(D3D9RasterDemo, SceneRendersHeadlessToPng) {
  const std::string demo = std::string(NURA_TEST_BINARY_DIR) + "/../../../platform/platform_demo";
  nura::test::TempDir dir;
  const std::string cmd = "PLATFORM_BACKEND=headless PLATFORM_CAPTURE_DIR='" + dir.path() +
                          "' PLATFORM_CAPTURE_EVERY=1 '" + demo + "' --scene --frames 2 2>&1";
  std::string output;
  ASSERT_EQ(nura::test::RunCommand(cmd, &output), 0) << output;
  const auto png = nura::test::ReadFileBytes(dir / "frame_000002.png");
  ASSERT_GT(png.size(), 8u);
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::HaveTool("/usr/bin/python3"), "/usr/bin/python3");
  // The background's top-left corner is its first vertex colour (0x203060);
  // the render target's cleared corner (0x101020) shows magnified at (26, 26).
  const std::string probe = "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" +
                            (dir / "frame_000002.png") +
                            "').convert('RGB'); print(im.size, im.getpixel((0, 0)), im.getpixel((26, 26)), "
                            "len(set(im.getdata())) > 1000)\" 2>&1";
  std::string out;
  ASSERT_EQ(nura::test::RunCommand(probe, &out), 0) << out;
  EXPECT_EQ(out, "(640, 480) (32, 48, 96) (16, 16, 32) True\n");
}

}  // namespace
