// Texture creation from image files on the software device: sizes, levels
// and formats resolved against the file and fitted to the device, the mip
// chain, palettes and colour keys, pools, sources, the scrambled-twin road of
// the game's pictures, and clean failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "build_test_util.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_build.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

using buildtest::Ref;
using nura::test::ReadFileBytes;

constexpr std::uint32_t kWidth = 100, kHeight = 60;

int Channel(std::uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

class GxlBuild : public buildtest::BuildTest {
 protected:
  std::string Picture() { return MakePng("picture.png", imgtest::MakePicture(kWidth, kHeight), "-force"); }

  // Every level of a 2-D texture.
  std::vector<std::vector<std::uint32_t>> Levels(IDirect3DTexture9* t) {
    std::vector<std::vector<std::uint32_t>> out;
    for (UINT l = 0; l < t->GetLevelCount(); ++l) out.push_back(ReadLevel(t, l));
    return out;
  }

  static D3DSURFACE_DESC Desc(IDirect3DTexture9* t, UINT level = 0) {
    D3DSURFACE_DESC d{};
    EXPECT_EQ(t->GetLevelDesc(level, &d), D3D_OK);
    return d;
  }

  // A 16 x 16 palette picture of every index once.
  std::string PalettePicture(const std::string& name, const std::vector<PaletteEntry>& palette) {
    std::vector<std::uint8_t> indices(256);
    for (int i = 0; i < 256; ++i) indices[i] = static_cast<std::uint8_t>(i);
    return MakePalettePng(name, palette, indices, 16, 16);
  }
};

TEST_F(GxlBuild, DefaultSizesArePowersOfTwoWithAFullBoxFilteredChain) {
  const std::string path = Picture();
  Ref<IDirect3DTexture9> t;
  ImageInfo info{};
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, &info, nullptr, &t),
            S_OK);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.height, kHeight);
  EXPECT_EQ(info.fileType, ImageFileType::Png);
  const D3DSURFACE_DESC d = Desc(t.get());
  EXPECT_EQ(d.Width, 128u);
  EXPECT_EQ(d.Height, 64u);
  EXPECT_EQ(d.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
  ASSERT_EQ(t->GetLevelCount(), 8u);

  const auto levels = Levels(t.get());
  // Level 0 is the picture stretched: its red and green are ramps across and
  // down (the edges wrap around in the filter, so they are left out).
  for (std::uint32_t y = 4; y < 60; ++y)
    for (std::uint32_t x = 4; x < 124; ++x) {
      const double u = (x + 0.5) * kWidth / 128 - 0.5, v = (y + 0.5) * kHeight / 64 - 0.5;
      ASSERT_NEAR(Channel(levels[0][y * 128 + x], 16), u * 255 / (kWidth - 1), 3) << x << ", " << y;
      ASSERT_NEAR(Channel(levels[0][y * 128 + x], 8), v * 255 / (kHeight - 1), 3) << x << ", " << y;
    }
  // Every further level is the 2 x 2 average of the level above.
  for (std::size_t l = 1; l < levels.size(); ++l) {
    const std::uint32_t w = std::max(128u >> l, 1u), h = std::max(64u >> l, 1u), above = std::max(128u >> (l - 1), 1u);
    const std::uint32_t aboveH = std::max(64u >> (l - 1), 1u);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        for (int shift : {0, 8, 16}) {
          int sum = 0, n = 0;
          for (std::uint32_t dy = 0; dy < 2; ++dy)
            for (std::uint32_t dx = 0; dx < 2; ++dx) {
              const std::uint32_t sx = std::min(2 * x + dx, above - 1), sy = std::min(2 * y + dy, aboveH - 1);
              sum += Channel(levels[l - 1][sy * above + sx], shift);
              ++n;
            }
          ASSERT_NEAR(Channel(levels[l][y * w + x], shift), sum / static_cast<double>(n), 1)
              << "level " << l << " at " << x << ", " << y;
        }
  }
}

TEST_F(GxlBuild, SizesFromTheFileKeepThePictureExactly) {
  imgtest::WritePnm(m_dir / "mask.pgm", imgtest::MakeRaster(kWidth, kHeight, 1, 255, 5));
  const std::string rgba = MakePng("rgba.png", imgtest::MakeRaster(kWidth, kHeight, 3, 255, 4),
                                   "-force -alpha=" + imgtest::Quote(m_dir / "mask.pgm"));
  for (UINT size : {kGxlDefaultNonPow2, kGxlFromFile}) {
    Ref<IDirect3DTexture9> t;
    ASSERT_EQ(GXLBuildTextureFromFileA(dev, rgba.c_str(), size, size, kGxlFromFile, 0, D3DFMT_UNKNOWN,
                                       D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
              S_OK);
    const D3DSURFACE_DESC d = Desc(t.get());
    EXPECT_EQ(d.Width, kWidth);
    EXPECT_EQ(d.Height, kHeight);
    EXPECT_EQ(d.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(t->GetLevelCount(), 1u);
    EXPECT_EQ(ReadLevel(t.get(), 0), DecodedArgb(rgba));
  }
}

TEST_F(GxlBuild, ExactRequestsTheDeviceCannotMeetAreNotAvailable) {
  const std::string path = Picture();
  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("pow2-only"));
  auto* const untouched = reinterpret_cast<IDirect3DTexture9*>(0x40);
  IDirect3DTexture9* t = untouched;
  EXPECT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlFromFile, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(t, untouched);

  // 16 bits per channel, which the device does not sample.
  imgtest::WritePnm(m_dir / "mask.pgm", imgtest::MakeRaster(8, 8, 1, 65535, 1));
  const std::string wide =
      MakePng("wide.png", imgtest::MakeRaster(8, 8, 3, 65535, 2), "-force -alpha=" + imgtest::Quote(m_dir / "mask.pgm"));
  EXPECT_EQ(GXLBuildTextureFromFileA(dev, wide.c_str(), kGxlDefault, kGxlDefault, 1, 0, kGxlFormatFromFile,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(t, untouched);
  // Without the exact request the nearest sampled format stands in.
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, wide.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
            S_OK);
  EXPECT_EQ(Desc(t).Format, D3DFMT_A8R8G8B8);
  t->Release();
}

TEST_F(GxlBuild, GreyRampAndColourCubePalettesLoadAsTheirTexels) {
  std::vector<PaletteEntry> ramp(256), cube(256);
  const std::uint8_t level3[8] = {0, 36, 73, 109, 146, 182, 219, 255}, level2[4] = {0, 85, 170, 255};
  for (int i = 0; i < 256; ++i) {
    ramp[i] = PaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                           255};
    cube[i] = PaletteEntry{level3[i >> 5], level3[(i >> 2) & 7], level2[i & 3], 255};
  }
  std::vector<std::uint8_t> indices(256);
  for (int i = 0; i < 256; ++i) indices[i] = static_cast<std::uint8_t>(i);

  const std::string grey = PalettePicture("ramp.png", ramp);
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, grey.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
            S_OK);
  ASSERT_EQ(Desc(t.get()).Format, D3DFMT_L8);
  Ref<IDirect3DSurface9> s;
  ASSERT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
  EXPECT_EQ(ReadBytes(s.get(), 1), indices);

  // Asking for the palette keeps the indices (a scratch texture takes P8).
  PaletteEntry palette[256];
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, grey.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_SCRATCH, kGxlDefault, kGxlDefault, 0, nullptr, palette, &t),
            S_OK);
  ASSERT_EQ(Desc(t.get()).Format, D3DFMT_P8);
  EXPECT_EQ(std::memcmp(palette, ramp.data(), sizeof palette), 0);
  ASSERT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
  EXPECT_EQ(ReadBytes(s.get(), 1), indices);

  const std::string colours = PalettePicture("cube.png", cube);
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, colours.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_SCRATCH, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
            S_OK);
  ASSERT_EQ(Desc(t.get()).Format, D3DFMT_R3G3B2);
  ASSERT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
  EXPECT_EQ(ReadBytes(s.get(), 1), indices);
}

TEST_F(GxlBuild, PalettesLoadWithAlphaOnlyWhenAnEntryIsTranslucent) {
  std::vector<PaletteEntry> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[i] = PaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 3),
                              static_cast<std::uint8_t>(255 - i), 255};
  std::vector<std::uint32_t> expected(256);
  for (int opaque = 1; opaque >= 0; --opaque) {
    if (!opaque) palette[5].flags = 200;
    for (int i = 0; i < 256; ++i)
      expected[i] = (std::uint32_t{palette[i].flags} << 24) | (palette[i].red << 16) | (palette[i].green << 8) |
                    palette[i].blue;
    const std::string path = PalettePicture(opaque ? "opaque.png" : "translucent.png", palette);
    Ref<IDirect3DTexture9> t;
    ASSERT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                       D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &t),
              S_OK);
    EXPECT_EQ(Desc(t.get()).Format, opaque ? D3DFMT_X8R8G8B8 : D3DFMT_A8R8G8B8);
    std::vector<std::uint32_t> texels = ReadLevel(t.get(), 0);
    if (opaque)
      for (auto& w : texels) w |= 0xFF000000u;
    EXPECT_EQ(texels, expected);
  }
}

TEST_F(GxlBuild, ColourKeysTurnMatchingTexelsTransparentBlack) {
  std::vector<PaletteEntry> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[i] = PaletteEntry{static_cast<std::uint8_t>(i), 40, static_cast<std::uint8_t>(i / 2), 255};
  const std::string pal = PalettePicture("keyed.png", palette);
  const D3DCOLOR key = 0xFF072803;  // entry 7
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, pal.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, key, nullptr, nullptr, &t),
            S_OK);
  ASSERT_EQ(Desc(t.get()).Format, D3DFMT_A8R8G8B8);
  std::vector<std::uint32_t> texels = ReadLevel(t.get(), 0);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(texels[i], i == 7 ? 0u : 0xFF000000u | (i << 16) | (40 << 8) | (i / 2)) << i;

  // An RGB picture gains an alpha channel for the key.
  imgtest::Pnm raster = imgtest::MakeRaster(16, 4, 3, 255, 8);
  raster.samples[0] = 0x12, raster.samples[1] = 0x34, raster.samples[2] = 0x56;
  const std::string rgb = MakePng("rgb.png", raster, "-force");
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, rgb.c_str(), kGxlDefault, kGxlDefault, 1, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0xFF123456, nullptr, nullptr, &t),
            S_OK);
  ASSERT_EQ(Desc(t.get()).Format, D3DFMT_A8R8G8B8);
  texels = ReadLevel(t.get(), 0);
  const std::vector<std::uint32_t> decoded = DecodedArgb(rgb);
  for (std::size_t i = 0; i < texels.size(); ++i)
    EXPECT_EQ(texels[i], decoded[i] == 0xFF123456u ? 0u : decoded[i]) << i;
}

TEST_F(GxlBuild, CubeTexturesNeedSixFacesAndVolumesTakeOneSlice) {
  const std::string path = Picture();
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  IDirect3DCubeTexture9* cube = nullptr;
  EXPECT_EQ(GXLBuildCubeTextureFromFileData(dev, file.data(), static_cast<UINT>(file.size()), kGxlDefault,
                                            kGxlDefault, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kGxlDefault, kGxlDefault,
                                            0, nullptr, nullptr, &cube),
            E_FAIL);
  EXPECT_EQ(cube, nullptr);

  Ref<IDirect3DVolumeTexture9> volume;
  ASSERT_EQ(GXLBuildVolumeTextureFromFileDataDefaults(dev, file.data(), static_cast<UINT>(file.size()), &volume),
            S_OK);
  D3DVOLUME_DESC d{};
  ASSERT_EQ(volume->GetLevelDesc(0, &d), D3D_OK);
  EXPECT_EQ(d.Width, 128u);
  EXPECT_EQ(d.Height, 64u);
  EXPECT_EQ(d.Depth, 1u);
  EXPECT_EQ(volume->GetLevelCount(), 8u);

  // Volumes keep to powers of two; without a filter the picture lands unscaled
  // in the corner and the rest is transparent black.
  ASSERT_EQ(GXLBuildVolumeTextureFromFileData(dev, file.data(), static_cast<UINT>(file.size()), kGxlDefaultNonPow2,
                                              kGxlDefaultNonPow2, kGxlDefaultNonPow2, 1, 0, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, 1, kGxlDefault, 0, nullptr, nullptr, &volume),
            S_OK);
  ASSERT_EQ(volume->GetLevelDesc(0, &d), D3D_OK);
  ASSERT_EQ(d.Width, 128u);
  ASSERT_EQ(d.Height, 64u);
  D3DLOCKED_BOX box{};
  ASSERT_EQ(volume->LockBox(0, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
  const std::vector<std::uint32_t> decoded = DecodedArgb(path);
  for (std::uint32_t y = 0; y < 64; ++y)
    for (std::uint32_t x = 0; x < 128; ++x) {
      std::uint32_t texel;
      std::memcpy(&texel, static_cast<std::uint8_t*>(box.pBits) + y * box.RowPitch + 4 * x, 4);
      ASSERT_EQ(texel, x < kWidth && y < kHeight ? decoded[y * kWidth + x] : 0u) << x << ", " << y;
    }
  volume->UnlockBox(0);
}

TEST_F(GxlBuild, DefaultPoolTexturesAreFilledThroughASystemMemoryCopy) {
  const std::string path = Picture();
  Ref<IDirect3DTexture9> managed, pooled;
  ASSERT_EQ(GXLBuildTextureFromFileDefaultsA(dev, path.c_str(), &managed), S_OK);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_UNKNOWN,
                                     D3DPOOL_DEFAULT, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, &pooled),
            S_OK);
  platform::test::StopD3D9CallLog();
  EXPECT_EQ(platform::test::CountD3D9Calls("UpdateTexture"), 1);
  EXPECT_EQ(Desc(pooled.get()).Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(Levels(pooled.get()), Levels(managed.get()));
}

// The game keeps some pictures only as scrambled twins: the first 256 bytes
// combined by exclusive-or with their index. Restored, the twin is the picture.
TEST_F(GxlBuild, ScrambledTwinsRestoreAndLoadLikeThePlainFile) {
  const std::string path = Picture();
  const std::vector<std::uint8_t> plain = ReadFileBytes(path);
  const std::vector<std::uint8_t> twin = imgtest::Scramble(plain);
  ASSERT_NE(twin, plain);
  const std::vector<std::uint8_t> restored = imgtest::Scramble(twin);
  ASSERT_EQ(restored, plain);
  // The twin itself is no picture.
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, twin.data(), static_cast<UINT>(twin.size()), &t),
            GXLERR_INVALIDDATA);

  // Loaded as the framework loads twins (A8R8G8B8, linear filters) and as a file.
  Ref<IDirect3DTexture9> fromTwin, fromFile;
  ASSERT_EQ(GXLBuildTextureFromFileData(dev, restored.data(), static_cast<UINT>(restored.size()), kGxlDefault,
                                        kGxlDefault, kGxlDefault, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, 3, 3, 0,
                                        nullptr, nullptr, &fromTwin),
            S_OK);
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, 3, 3, 0, nullptr, nullptr, &fromFile),
            S_OK);
  EXPECT_EQ(Desc(fromTwin.get()).Width, 128u);
  EXPECT_EQ(fromTwin->GetLevelCount(), 8u);
  EXPECT_EQ(Levels(fromTwin.get()), Levels(fromFile.get()));
}

TEST_F(GxlBuild, LinearMipFiltersMakeEveryLevelFromTheFileLevel) {
  imgtest::Pnm flat = imgtest::MakePicture(24, 20);
  for (std::size_t i = 0; i < flat.samples.size(); ++i) flat.samples[i] = i % 3 == 0 ? 200 : i % 3 == 1 ? 100 : 50;
  const std::string path = MakePng("flat.png", flat, "-force");
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(GXLBuildTextureFromFileA(dev, path.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, 3, 3, 0, nullptr, nullptr, &t),
            S_OK);
  ASSERT_EQ(t->GetLevelCount(), 6u);  // 32 x 32 down to 1 x 1
  for (const auto& level : Levels(t.get()))
    for (std::uint32_t texel : level) ASSERT_EQ(texel, 0xFFC86432u);
}

TEST_F(GxlBuild, FilesResourcesAndWideNamesLoadAlike) {
  const std::string path = Picture();
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  platform::RegisterResource(nullptr, RT_RCDATA, "PICTURE", file.data(), static_cast<DWORD>(file.size()));
  Ref<IDirect3DTexture9> a, b, c, d;
  ASSERT_EQ(GXLBuildTextureFromFileDefaultsA(dev, path.c_str(), &a), S_OK);
  const std::u16string wide(path.begin(), path.end());
  ASSERT_EQ(GXLBuildTextureFromFileDefaultsW(dev, wide.c_str(), &b), S_OK);
  ASSERT_EQ(GXLBuildTextureFromResourceDefaultsA(dev, nullptr, "PICTURE", &c), S_OK);
  ASSERT_EQ(GXLBuildTextureFromResourceDefaultsW(dev, nullptr, u"PICTURE", &d), S_OK);
  const auto levels = Levels(a.get());
  EXPECT_EQ(Levels(b.get()), levels);
  EXPECT_EQ(Levels(c.get()), levels);
  EXPECT_EQ(Levels(d.get()), levels);
}

TEST_F(GxlBuild, FailuresHandOutNothingAndReleaseEverything) {
  const std::string path = Picture();
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  const UINT size = static_cast<UINT>(file.size());
  auto* const untouched = reinterpret_cast<IDirect3DTexture9*>(0x40);
  IDirect3DTexture9* t = untouched;
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(nullptr, file.data(), size, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, nullptr, size, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, file.data(), 0, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, file.data(), size, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, "not a picture", 13, &t), GXLERR_INVALIDDATA);
  EXPECT_EQ(GXLBuildTextureFromFileDefaultsA(dev, (m_dir / "missing.png").c_str(), &t), GXLERR_INVALIDDATA);
  EXPECT_EQ(GXLBuildTextureFromResourceDefaultsA(dev, nullptr, "NO SUCH PICTURE", &t), GXLERR_INVALIDDATA);
  // A truncated picture fails in the decoder; an invalid filter in the copy.
  EXPECT_EQ(GXLBuildTextureFromFileDataDefaults(dev, file.data(), size / 2, &t), GXLERR_INVALIDDATA);
  EXPECT_EQ(GXLBuildTextureFromFileData(dev, file.data(), size, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                        D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 0, kGxlDefault, 0, nullptr, nullptr, &t),
            D3DERR_INVALIDCALL);
  // Device failures pass through, for the texture and for the staging copy.
  for (int nth : {1, 2}) {
    platform::test::FailCall("CreateTexture", E_OUTOFMEMORY, nth, 1);
    EXPECT_EQ(GXLBuildTextureFromFileData(dev, file.data(), size, kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                          D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, kGxlDefault, kGxlDefault, 0, nullptr,
                                          nullptr, &t),
              E_OUTOFMEMORY);
    platform::test::ClearFailures();
  }
  EXPECT_EQ(t, untouched);
  // Nothing but the device is alive.
  const auto live = platform::test::D3D9LiveObjects();
  for (const auto& o : live) EXPECT_EQ(o.name.find("Texture"), std::string::npos) << o.name;
}

}  // namespace
