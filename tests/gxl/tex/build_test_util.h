// A device fixture for the texture-creation and import tests: PNG files made
// by netpbm and PIL, and the texels of surfaces read back through the device.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/tex/decoded_image.h"
#include "image_test_util.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"
#include "tex_test_device.h"

namespace buildtest {

using textest::Ref;

class BuildTest : public textest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    imgtest::RequireTools({"pnmtopng", "/usr/bin/python3"});
  }

  // A PNG made by pnmtopng from the raster.
  std::string MakePng(const std::string& name, const imgtest::Pnm& raster, const std::string& options = "") {
    const std::string source = m_dir / (name + (raster.channels == 1 ? ".pgm" : ".ppm"));
    imgtest::WritePnm(source, raster);
    const std::string path = m_dir / name;
    EXPECT_TRUE(imgtest::Run("pnmtopng " + options + " " + imgtest::Quote(source) + " > " + imgtest::Quote(path)));
    return path;
  }

  // A palette PNG made by PIL: width x height indices (row by row) into the
  // given entries; a tRNS chunk when any entry is translucent.
  std::string MakePalettePng(const std::string& name, const std::vector<PaletteEntry>& palette,
                             const std::vector<std::uint8_t>& indices, std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> rgb, alpha, all;
    bool translucent = false;
    for (const PaletteEntry& e : palette) {
      rgb.insert(rgb.end(), {e.red, e.green, e.blue});
      alpha.push_back(e.flags);
      translucent |= e.flags != 255;
    }
    nura::test::WriteFileBytes(m_dir / (name + ".rgb"), rgb);
    nura::test::WriteFileBytes(m_dir / (name + ".alpha"), alpha);
    nura::test::WriteFileBytes(m_dir / (name + ".idx"), indices);
    const std::string path = m_dir / name;
    const std::string script =
        "import sys\nfrom PIL import Image\nd = sys.argv[1]\n"
        "im = Image.frombytes('P', (" + std::to_string(width) + ", " + std::to_string(height) + "), "
        "open(d + '.idx', 'rb').read())\n"
        "im.putpalette(open(d + '.rgb', 'rb').read())\n" +
        (translucent ? std::string("im.save(d, transparency=open(d + '.alpha', 'rb').read())\n")
                     : std::string("im.save(d)\n"));
    nura::test::WriteFileText(m_dir / (name + ".py"), script);
    EXPECT_TRUE(imgtest::Run("/usr/bin/python3 " + imgtest::Quote(m_dir / (name + ".py")) + " " +
                             imgtest::Quote(path)));
    return path;
  }

  // The bytes of a surface's rows (width x bytes per texel each), read directly.
  std::vector<std::uint8_t> ReadBytes(IDirect3DSurface9* s, UINT bytesPerTexel) {
    D3DSURFACE_DESC d{};
    EXPECT_EQ(s->GetDesc(&d), D3D_OK);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint8_t> out;
    for (UINT y = 0; y < d.Height; ++y) {
      const auto* row = static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch;
      out.insert(out.end(), row, row + std::size_t{d.Width} * bytesPerTexel);
    }
    s->UnlockRect();
    return out;
  }

  std::vector<std::uint32_t> ReadLevel(IDirect3DTexture9* t, UINT level) {
    Ref<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(level, &s), D3D_OK);
    return s.get() ? Read32(s.get()) : std::vector<std::uint32_t>{};
  }

  // The decoded texels of a file as A8R8G8B8 words (X8R8G8B8 with alpha 255).
  static std::vector<std::uint32_t> DecodedArgb(const std::string& path) {
    const std::vector<std::uint8_t> file = nura::test::ReadFileBytes(path);
    DecodedImage image;
    EXPECT_EQ(image.DecodeImage(file.data(), static_cast<std::uint32_t>(file.size()), nullptr, true), S_OK);
    const std::vector<std::uint16_t> rgba = imgtest::RecordRgba(image);
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
      out.push_back((std::uint32_t{rgba[i + 3]} << 24) | (std::uint32_t{rgba[i]} << 16) |
                    (std::uint32_t{rgba[i + 1]} << 8) | rgba[i + 2]);
    return out;
  }

  nura::test::TempDir m_dir;
};

}  // namespace buildtest
