// The import functions and the mip-chain rebuild: rectangles from files,
// surface-to-surface copies by the device and by the blitter, a surface into
// itself, destinations that keep their texels when a conversion fails, and
// mip levels that are box averages of the level above.
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "build_test_util.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/result_codes.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"
#include "platform/testing.h"

namespace {

using buildtest::Ref;
using nura::test::ReadFileBytes;

class GxlBuildImport : public buildtest::BuildTest {
 protected:
  // A texture of pseudo-random texels; system-memory copies fill the other pools.
  IDirect3DTexture9* MakeTexture(UINT w, UINT h, UINT levels, D3DPOOL pool, DWORD usage = 0,
                                 D3DFORMAT format = D3DFMT_A8R8G8B8) {
    m_textures.emplace_back();
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, usage, format, pool, &m_textures.back(), nullptr), D3D_OK);
    t = m_textures.back().get();
    Ref<IDirect3DTexture9> system;
    IDirect3DTexture9* fill = t;
    if (pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC)) {
      EXPECT_EQ(dev->CreateTexture(w, h, levels, 0, format, D3DPOOL_SYSTEMMEM, &system, nullptr), D3D_OK);
      fill = system.get();
    }
    std::uint32_t state = w * 31 + h;
    for (UINT l = 0; l < fill->GetLevelCount(); ++l) {
      D3DSURFACE_DESC d{};
      fill->GetLevelDesc(l, &d);
      D3DLOCKED_RECT lr{};
      EXPECT_EQ(fill->LockRect(l, &lr, nullptr, 0), D3D_OK);
      for (UINT y = 0; y < d.Height; ++y)
        for (UINT x = 0; x < d.Width; ++x) {
          state = state * 1664525u + 1013904223u;
          reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = state;
        }
      fill->UnlockRect(l);
    }
    if (system.get()) {
      EXPECT_EQ(dev->UpdateTexture(system.get(), t), D3D_OK);
    }
    return t;
  }

  // A level's surface, held until the end of the test.
  IDirect3DSurface9* Level(IDirect3DTexture9* t, UINT level = 0) {
    m_surfaces.emplace_back();
    EXPECT_EQ(t->GetSurfaceLevel(level, &m_surfaces.back()), D3D_OK);
    return m_surfaces.back().get();
  }

  static std::vector<std::uint32_t> Crop(const std::vector<std::uint32_t>& texels, UINT width, const RECT& r) {
    std::vector<std::uint32_t> out;
    for (LONG y = r.top; y < r.bottom; ++y)
      for (LONG x = r.left; x < r.right; ++x) out.push_back(texels[y * width + x]);
    return out;
  }

  void TearDown() override {
    m_surfaces.clear();
    m_textures.clear();
    BuildTest::TearDown();
  }

  std::list<Ref<IDirect3DTexture9>> m_textures;
  std::list<Ref<IDirect3DSurface9>> m_surfaces;
};

TEST_F(GxlBuildImport, FileRectanglesLandExactly) {
  const std::string path = MakePng("picture.png", imgtest::MakeRaster(37, 23, 3, 255, 3), "-force");
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  const UINT size = static_cast<UINT>(file.size());
  auto* t = MakeTexture(16, 16, 1, D3DPOOL_MANAGED);
  IDirect3DSurface9* s = Level(t);
  const std::vector<std::uint32_t> before = Read32(s);

  const RECT from{2, 3, 12, 9}, to{5, 6, 15, 12};
  ImageInfo info{};
  ASSERT_EQ(GXLImportSurfaceFromFileData(s, nullptr, &to, file.data(), size, &from, 1, 0, &info), S_OK);
  EXPECT_EQ(info.width, 37u);
  const std::vector<std::uint32_t> after = Read32(s);
  EXPECT_EQ(Crop(after, 16, to), Crop(DecodedArgb(path), 37, from));
  // Outside the rectangle nothing changed.
  for (UINT y = 0; y < 16; ++y)
    for (UINT x = 0; x < 16; ++x)
      if (x < 5 || x >= 15 || y < 6 || y >= 12) {
        ASSERT_EQ(after[y * 16 + x], before[y * 16 + x]);
      }

  for (const RECT& bad : {RECT{0, 0, 38, 5}, RECT{4, 0, 3, 5}, RECT{-1, 0, 3, 5}, RECT{0, 0, 3, 24}})
    EXPECT_EQ(GXLImportSurfaceFromFileData(s, nullptr, nullptr, file.data(), size, &bad, 1, 0, nullptr),
              D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLImportSurfaceFromFileData(s, nullptr, nullptr, file.data(), 0, nullptr, 1, 0, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLImportSurfaceFromFileData(nullptr, nullptr, nullptr, file.data(), size, nullptr, 1, 0, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLImportSurfaceFromFileA(s, nullptr, nullptr, (m_dir / "missing").c_str(), nullptr, 1, 0, nullptr),
            GXLERR_INVALIDDATA);
}

// A conversion that fails (no codec for the source) must not destroy what the
// destination held, also where the write goes through a staging copy.
TEST_F(GxlBuildImport, FailedConversionsLeaveTheDestinationAsItWas) {
  const std::uint8_t depth[8 * 32] = {};
  const RECT source{0, 0, 8, 8};
  for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
    auto* t = MakeTexture(8, 8, 1, pool);
    IDirect3DSurface9* s = Level(t);
    const std::vector<std::uint32_t> before = Read32(s);
    for (const RECT* rect : {static_cast<const RECT*>(nullptr), &source}) {
      EXPECT_EQ(GXLImportSurfaceFromPixels(s, nullptr, rect, depth, D3DFMT_D24S8, 32, nullptr, &source,
                                           kGxlDefault, 0),
                E_FAIL);
      EXPECT_EQ(Read32(s), before) << "pool " << pool;
    }
    // An invalid filter is refused before anything is written.
    const std::uint32_t texels[64] = {};
    EXPECT_EQ(GXLImportSurfaceFromPixels(s, nullptr, nullptr, texels, D3DFMT_A8R8G8B8, 32, nullptr, &source,
                                         0x800005, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(Read32(s), before);
  }
  const std::uint32_t one = 0;
  auto* t = MakeTexture(8, 8, 1, D3DPOOL_MANAGED);
  IDirect3DSurface9* s = Level(t);
  const RECT inverted{4, 0, 2, 1};
  EXPECT_EQ(GXLImportSurfaceFromPixels(s, nullptr, nullptr, &one, D3DFMT_A8R8G8B8, 4, nullptr, &inverted, 1, 0),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLImportSurfaceFromPixels(s, nullptr, nullptr, &one, D3DFMT_A8R8G8B8, 4, nullptr, nullptr, 1, 0),
            D3DERR_INVALIDCALL);
}

TEST_F(GxlBuildImport, SameSizeCopiesFromSystemMemoryGoThroughTheDevice) {
  auto* from = MakeTexture(16, 8, 1, D3DPOOL_SYSTEMMEM);
  auto* to = MakeTexture(16, 8, 1, D3DPOOL_DEFAULT);
  IDirect3DSurface9* source = Level(from);
  IDirect3DSurface9* destination = Level(to);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(GXLImportSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr,
                                        kGxlDefault, 0),
            S_OK);
  platform::test::StopD3D9CallLog();
  EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("Surface.LockRect"), 0);
  EXPECT_EQ(Read32(destination), Read32(source));

  // A colour key needs the blitter: the keyed texel becomes transparent black.
  const std::vector<std::uint32_t> texels = Read32(source);
  auto* managed = MakeTexture(16, 8, 1, D3DPOOL_MANAGED);
  IDirect3DSurface9* keyed = Level(managed);
  ASSERT_NE(texels[9], 0u);
  ASSERT_EQ(GXLImportSurfaceFromSurface(keyed, nullptr, nullptr, source, nullptr, nullptr, 1, texels[9]), S_OK);
  const std::vector<std::uint32_t> after = Read32(keyed);
  for (std::size_t i = 0; i < texels.size(); ++i) EXPECT_EQ(after[i], texels[i] == texels[9] ? 0u : texels[i]) << i;
}

TEST_F(GxlBuildImport, ASurfaceCopiedIntoItselfReadsTheOriginal) {
  auto* t = MakeTexture(16, 16, 1, D3DPOOL_MANAGED);
  IDirect3DSurface9* s = Level(t);
  const std::vector<std::uint32_t> before = Read32(s);
  const RECT from{0, 0, 10, 10}, to{4, 4, 14, 14};
  ASSERT_EQ(GXLImportSurfaceFromSurface(s, nullptr, &to, s, nullptr, &from, 1, 0), S_OK);
  EXPECT_EQ(Crop(Read32(s), 16, to), Crop(before, 16, from));
}

TEST_F(GxlBuildImport, DefaultPoolSourcesReadFromALostDeviceFail) {
  auto* from = MakeTexture(8, 8, 1, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC);
  auto* to = MakeTexture(8, 8, 1, D3DPOOL_MANAGED);
  IDirect3DSurface9* source = Level(from);
  IDirect3DSurface9* destination = Level(to);
  platform::test::SetD3D9DeviceLost(true);
  EXPECT_EQ(GXLImportSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr,
                                        FilterFlags::Box, 0),
            D3DERR_DEVICELOST);
  platform::test::SetD3D9DeviceLost(false);
  EXPECT_EQ(GXLImportSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr,
                                        FilterFlags::Box, 0),
            S_OK);
}

TEST_F(GxlBuildImport, RebuiltLevelsAreBoxAveragesOfTheLevelAbove) {
  auto* t = MakeTexture(32, 16, 0, D3DPOOL_MANAGED);
  ASSERT_EQ(GXLRebuildMipChain(t, nullptr, kGxlDefault, kGxlDefault), S_OK);
  for (UINT l = 1; l < t->GetLevelCount(); ++l) {
    const std::vector<std::uint32_t> above = ReadLevel(t, l - 1), level = ReadLevel(t, l);
    const UINT w = std::max(32u >> l, 1u), aw = std::max(32u >> (l - 1), 1u), ah = std::max(16u >> (l - 1), 1u);
    for (std::size_t i = 0; i < level.size(); ++i) {
      const UINT x = i % w, y = i / w;
      for (int shift : {0, 8, 16, 24}) {
        int sum = 0, n = 0;
        for (UINT dy = 0; dy < 2; ++dy)
          for (UINT dx = 0; dx < 2; ++dx, ++n)
            sum += (above[std::min(2 * y + dy, ah - 1) * aw + std::min(2 * x + dx, aw - 1)] >> shift) & 0xFF;
        ASSERT_NEAR(static_cast<int>((level[i] >> shift) & 0xFF), sum / static_cast<double>(n), 1)
            << "level " << l << " texel " << i;
      }
    }
  }
  // Rebuilding from a lower level leaves the levels above it alone.
  const std::vector<std::uint32_t> top = ReadLevel(t, 0);
  ASSERT_EQ(GXLRebuildMipChain(t, nullptr, 2, FilterFlags::Point), S_OK);
  EXPECT_EQ(ReadLevel(t, 0), top);

  EXPECT_EQ(GXLRebuildMipChain(nullptr, nullptr, 0, kGxlDefault), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLRebuildMipChain(t, nullptr, t->GetLevelCount(), kGxlDefault), D3DERR_INVALIDCALL);
}

TEST_F(GxlBuildImport, CubeAndVolumeChainsAreRebuiltFaceByFace) {
  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(dev->CreateCubeTexture(8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
  for (int face = 0; face < 6; ++face) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = 0x202020 * face;
    cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0);
  }
  ASSERT_EQ(GXLRebuildMipChain(cube.get(), nullptr, 0, kGxlDefault), S_OK);
  for (int face = 0; face < 6; ++face) {
    Ref<IDirect3DSurface9> last;
    ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), 3, &last), D3D_OK);
    EXPECT_EQ(Read32(last.get())[0] & 0xFFFFFF, 0x202020u * face) << face;
  }

  Ref<IDirect3DVolumeTexture9> volume;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &volume, nullptr), D3D_OK);
  D3DLOCKED_BOX box{};
  ASSERT_EQ(volume->LockBox(0, &box, nullptr, 0), D3D_OK);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(box.pBits) + z * box.SlicePitch +
                                         y * box.RowPitch)[x] = z < 2 ? 0xFF000000u : 0xFF0000FEu;
  volume->UnlockBox(0);
  ASSERT_EQ(GXLRebuildMipChain(volume.get(), nullptr, 0, kGxlDefault), S_OK);
  ASSERT_EQ(volume->LockBox(2, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(*static_cast<std::uint32_t*>(box.pBits), 0xFF00007Fu);
  volume->UnlockBox(2);
}

}  // namespace
