// SurfaceLock, VolumeLock and CopySurfaceBits on the software device, with
// every pitch padded: direct locks, widened rectangles, the staging copy with
// its write-back, the discard rule and the failure paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blit_test_util.h"
#include "gxl/tex/surface_lock.h"
#include "platform/testing_d3d9.h"
#include "tex_test_device.h"

namespace {

using blittest::Image;
using textest::Ref;

constexpr DWORD kNoSysLock = D3DLOCK_NOSYSLOCK;

class GxlBlitLock : public textest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    platform::test::SetD3D9PitchPadding(true);
  }

  void TearDown() override {
    for (auto it = m_textures.rbegin(); it != m_textures.rend(); ++it) (*it)->Release();
    m_textures.clear();
    DeviceTest::TearDown();
  }

  // A texture that lives until the end of the test.
  IDirect3DTexture9* MakeTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, usage, format, pool, &t, nullptr), D3D_OK);
    if (t) m_textures.push_back(t);
    return t;
  }

  // Level `level` of a texture that lives until the end of the test.
  Ref<IDirect3DSurface9> MakeSurface(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     UINT level = 0) {
    Ref<IDirect3DSurface9> s;
    if (IDirect3DTexture9* t = MakeTexture(w, h, levels, usage, format, pool)) {
      EXPECT_EQ(t->GetSurfaceLevel(level, &s), D3D_OK);
    }
    return s;
  }

  // "left,top,right,bottom,front,back".
  static std::string Box(const ImageBox& b) {
    return std::to_string(b.left) + "," + std::to_string(b.top) + "," + std::to_string(b.right) + "," +
           std::to_string(b.bottom) + "," + std::to_string(b.front) + "," + std::to_string(b.back);
  }

  // Writes a constant colour into a locked region through the blitter.
  static void Paint(ImageRegion& region, std::uint32_t argb) {
    const ImageBox& b = region.box;
    Image src(D3DFMT_A8R8G8B8, b.right - b.left, b.bottom - b.top, b.back - b.front);
    src.Fill(argb);
    ImageRegion s = src.Region();
    ImageBlitter blitter;
    ASSERT_EQ(blitter.Run(region, s, FilterFlags::None), S_OK);
  }

  // The lock flags of every logged lock of a surface, in order.
  static std::vector<std::string> LockCalls(const char* method = "Surface.LockRect") {
    std::vector<std::string> out;
    for (const auto& c : platform::test::D3D9Calls())
      if (c.method == method) out.push_back(c.args.substr(c.args.find(',') + 2));
    return out;
  }

  static std::string Flags(DWORD flags) { return std::to_string(flags); }

 private:
  std::vector<IDirect3DTexture9*> m_textures;
};

TEST_F(GxlBlitLock, WholeLockDescribesTheSurface) {
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
  PaletteEntry palette[256] = {};
  ImageRegion r{};
  SurfaceLock lock;
  ASSERT_EQ(lock.Lock(&r, s.get(), palette, nullptr, 0xFF00FF00, 0), S_OK);
  EXPECT_EQ(r.format, std::uint32_t{D3DFMT_A8R8G8B8});
  EXPECT_EQ(r.rowPitch, 8u * 4 + 16);  // padded
  EXPECT_EQ(r.slicePitch, 0u);
  EXPECT_EQ(Box(r.extent), "0,0,8,4,0,1");
  EXPECT_EQ(Box(r.box), "0,0,8,4,0,1");
  EXPECT_EQ(r.orderedDither, 1u);
  EXPECT_EQ(r.errorDiffusion, 0u);
  EXPECT_EQ(r.srgb, 0u);
  EXPECT_EQ(r.colourKey, 0xFF00FF00u);
  EXPECT_EQ(r.palette, palette);
  Paint(r, 0xFF336699);
  EXPECT_EQ(lock.Unlock(), S_OK);
  for (std::uint32_t v : Read32(s.get())) ASSERT_EQ(v, 0xFF336699u);
  // The holder has let go: the surface locks again directly.
  D3DLOCKED_RECT lr;
  EXPECT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(s->UnlockRect(), D3D_OK);
}

TEST_F(GxlBlitLock, PartialLockWritesOnlyTheRectangle) {
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
  ImageRegion r{};
  {
    SurfaceLock lock;
    const RECT rect{2, 3, 6, 7};
    ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &rect, 0, 0), S_OK);
    EXPECT_EQ(Box(r.box), "0,0,4,4,0,1");
    EXPECT_EQ(Box(r.extent), "0,0,6,5,0,1");  // counted from the locked corner, like the box
    Paint(r, 0xFFFFFFFF);
  }  // the destructor unlocks
  const auto texels = Read32(s.get());
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 8; ++x)
      ASSERT_EQ(texels[y * 8 + x], x >= 2 && x < 6 && y >= 3 && y < 7 ? 0xFFFFFFFFu : 0u) << x << "," << y;
}

TEST_F(GxlBlitLock, BlockAndPairFormatsWidenTheRectangle) {
  platform::test::StartD3D9CallLog();
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED);
  D3DLOCKED_RECT whole{};
  ASSERT_EQ(s->LockRect(&whole, nullptr, 0), D3D_OK);
  ASSERT_EQ(s->UnlockRect(), D3D_OK);
  platform::test::ClearD3D9CallLog();

  SurfaceLock lock;
  ImageRegion r{};
  const RECT first{1, 1, 3, 3};
  ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &first, 0, 0), S_OK);
  EXPECT_EQ(r.pixels, whole.pBits);
  EXPECT_EQ(Box(r.box), "1,1,3,3,0,1");
  const RECT second{5, 5, 7, 7};
  ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &second, 0, 0), S_OK);
  EXPECT_EQ(r.pixels, static_cast<std::uint8_t*>(whole.pBits) + whole.Pitch + 8);
  EXPECT_EQ(Box(r.box), "1,1,3,3,0,1");
  // Widened to the whole surface: a whole lock.
  const RECT third{0, 2, 8, 8};
  ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &third, 0, 0), S_OK);
  EXPECT_EQ(Box(r.box), "0,2,8,8,0,1");
  lock.Unlock();
  EXPECT_EQ(LockCalls(), (std::vector<std::string>{"(0,0,4,4), " + Flags(kNoSysLock),
                                                   "(4,4,8,8), " + Flags(kNoSysLock), "null, " + Flags(kNoSysLock)}));

  // Pairs: left and right to even columns, rows unchanged.
  platform::test::ClearD3D9CallLog();
  const Ref<IDirect3DSurface9> y = MakeSurface(8, 4, 1, 0, D3DFMT_YUY2, D3DPOOL_SCRATCH);
  const RECT pair{1, 1, 4, 2};
  ASSERT_EQ(lock.Lock(&r, y.get(), nullptr, &pair, 0, LockFlags::ReadOnly), S_OK);
  EXPECT_EQ(Box(r.box), "1,0,4,1,0,1");
  lock.Unlock();
  EXPECT_EQ(LockCalls(), std::vector<std::string>{"(0,1,4,2), " + Flags(kNoSysLock | D3DLOCK_READONLY)});
}

TEST_F(GxlBlitLock, RectanglesOutsideTheSurfaceAreRefused) {
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
  SurfaceLock lock;
  ImageRegion r{};
  for (const RECT& rect : {RECT{-1, 0, 4, 4}, RECT{0, 0, 9, 8}, RECT{4, 0, 2, 8}, RECT{0, 5, 8, 4}, RECT{0, 0, 8, 9}})
    EXPECT_EQ(lock.Lock(&r, s.get(), nullptr, &rect, 0, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(lock.Lock(&r, nullptr, nullptr, nullptr, 0, 0), D3DERR_INVALIDCALL);
  // Nothing is held: one reference each, and the surface locks directly.
  EXPECT_EQ(s->AddRef(), 3u);  // the test's texture and surface references, and this one
  s->Release();
  D3DLOCKED_RECT lr;
  EXPECT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(s->UnlockRect(), D3D_OK);
}

// Default-pool textures cannot be locked: reads go through a render target into
// a system-memory copy, and writes come back with UpdateSurface on unlock.
TEST_F(GxlBlitLock, UnlockableSurfacesGoThroughAStagingCopy) {
  for (DWORD usage : {DWORD{0}, DWORD{D3DUSAGE_RENDERTARGET}}) {
    const Ref<IDirect3DSurface9> s = MakeSurface(16, 8, 1, usage, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    platform::test::StartD3D9CallLog();
    platform::test::ClearD3D9CallLog();
    SurfaceLock lock;
    ImageRegion r{};
    // A whole write needs no copy of the old contents.
    ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, nullptr, 0, 0), S_OK);
    EXPECT_EQ(r.rowPitch, 16u * 4 + 16);
    Paint(r, 0xFF102030);
    lock.Unlock();
    EXPECT_EQ(platform::test::CountD3D9Calls("StretchRect"), 0);
    EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 1);

    // A partial write starts from the surface's contents.
    const RECT rect{4, 2, 12, 6};
    ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &rect, 0, 0), S_OK);
    EXPECT_EQ(platform::test::CountD3D9Calls("StretchRect"), 1);
    Paint(r, 0xFFFFFFFF);
    lock.Unlock();
    EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 2);
    platform::test::StopD3D9CallLog();
    auto texels = Read32(s.get());
    for (std::uint32_t y = 0; y < 8; ++y)
      for (std::uint32_t x = 0; x < 16; ++x)
        ASSERT_EQ(texels[y * 16 + x], x >= 4 && x < 12 && y >= 2 && y < 6 ? 0xFFFFFFFFu : 0xFF102030u)
            << "usage " << usage << " at " << x << "," << y;

    // A read-only lock sees the contents and writes nothing back.
    platform::test::StartD3D9CallLog();
    ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, nullptr, 0, LockFlags::ReadOnly), S_OK);
    const auto* row = static_cast<const std::uint32_t*>(r.pixels) + r.rowPitch / 4 * 2;
    EXPECT_EQ(row[4], 0xFFFFFFFFu);
    EXPECT_EQ(row[3], 0xFF102030u);
    Paint(r, 0xFF000000);
    lock.Unlock();
    EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 2);
    platform::test::StopD3D9CallLog();
    EXPECT_EQ(Read32(s.get()), texels);
  }
}

TEST_F(GxlBlitLock, AFailedDirectLockRetriesThroughStaging) {
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
  platform::test::StartD3D9CallLog();
  platform::test::FailCall("LockRect", E_FAIL, 1, 1);
  platform::test::RecordDebugSetMuteCalls();
  const std::size_t mutes = platform::test::DebugSetMuteCalls().size();
  SurfaceLock lock;
  ImageRegion r{};
  const RECT rect{0, 0, 4, 8};
  ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, &rect, 0, 0), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateTexture"), 1);  // the staging texture
  // The failing lock and the copy ran muted, and the mute was lifted after.
  const auto& muteCalls = platform::test::DebugSetMuteCalls();
  ASSERT_GT(muteCalls.size(), mutes);
  EXPECT_EQ(muteCalls[mutes], 1u);
  EXPECT_EQ(muteCalls.back(), 0u);
  Paint(r, 0xFFABCDEF);
  lock.Unlock();
  // UpdateSurface refuses a managed destination: the copy goes back by locking.
  EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 1);
  const auto texels = Read32(s.get());
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 8; ++x) ASSERT_EQ(texels[y * 8 + x], x < 4 ? 0xFFABCDEFu : 0u);
}

TEST_F(GxlBlitLock, BlockFormatStagingUsesALevelOfAWholeBlockTexture) {
  auto t = MakeTexture(8, 8, 4, 0, D3DFMT_DXT1, D3DPOOL_DEFAULT);
  for (UINT level : {2u, 3u}) {
    Ref<IDirect3DSurface9> s;
    ASSERT_EQ(t->GetSurfaceLevel(level, &s), D3D_OK);
    platform::test::StartD3D9CallLog();
    platform::test::ClearD3D9CallLog();
    SurfaceLock lock;
    ImageRegion r{};
    ASSERT_EQ(lock.Lock(&r, s.get(), nullptr, nullptr, 0, 0), S_OK);
    EXPECT_EQ(r.box.right, level == 2 ? 2u : 1u);
    std::memset(r.pixels, 0x5A, 8);
    lock.Unlock();
    const auto& calls = platform::test::D3D9Calls();
    std::string created, updated;
    for (const auto& c : calls) {
      if (c.method == "CreateTexture") created = c.args;
      if (c.method == "UpdateSurface") updated = c.args + (c.result == D3D_OK ? " ok" : " failed");
    }
    // 2x2 shifts once (4x4, 2 levels), 1x1 twice (4x4, 3 levels); the
    // staging level is the surface's size.
    EXPECT_EQ(created.substr(0, 10), level == 2 ? "4, 4, 2, 0" : "4, 4, 3, 0") << created;
    EXPECT_NE(created.find(", 2, Texture#"), std::string::npos) << created;
    EXPECT_NE(updated.find(" ok"), std::string::npos) << updated;
    platform::test::StopD3D9CallLog();
  }
}

TEST_F(GxlBlitLock, WholeWritesOfDynamicSurfacesDiscard) {
  auto single = MakeTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
  auto chain = MakeTexture(8, 8, 2, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
  Ref<IDirect3DSurface9> one, top;
  ASSERT_EQ(single->GetSurfaceLevel(0, &one), D3D_OK);
  ASSERT_EQ(chain->GetSurfaceLevel(0, &top), D3D_OK);
  platform::test::StartD3D9CallLog();
  SurfaceLock lock;
  ImageRegion r{};
  const RECT part{0, 0, 4, 4};
  ASSERT_EQ(lock.Lock(&r, one.get(), nullptr, nullptr, 0, 0), S_OK);                     // only level
  ASSERT_EQ(lock.Lock(&r, top.get(), nullptr, nullptr, 0, 0), S_OK);                     // one of two
  ASSERT_EQ(lock.Lock(&r, top.get(), nullptr, nullptr, 0, LockFlags::MayDiscard), S_OK);  // allowed
  ASSERT_EQ(lock.Lock(&r, one.get(), nullptr, nullptr, 0, LockFlags::ReadOnly), S_OK);
  ASSERT_EQ(lock.Lock(&r, one.get(), nullptr, &part, 0, LockFlags::MayDiscard), S_OK);
  lock.Unlock();
  const std::string discard = Flags(kNoSysLock | D3DLOCK_DISCARD);
  EXPECT_EQ(LockCalls(), (std::vector<std::string>{"null, " + discard, "null, " + Flags(kNoSysLock),
                                                   "null, " + discard,
                                                   "null, " + Flags(kNoSysLock | D3DLOCK_READONLY),
                                                   "(0,0,4,4), " + Flags(kNoSysLock)}));
}

TEST_F(GxlBlitLock, AFailedStagingSetUpReleasesEverything) {
  const Ref<IDirect3DSurface9> s = MakeSurface(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
  const std::size_t live = platform::test::D3D9LiveObjects().size();
  platform::test::FailCall("CreateTexture", E_OUTOFMEMORY, 1, 1);
  SurfaceLock lock;
  ImageRegion r{};
  EXPECT_EQ(lock.Lock(&r, s.get(), nullptr, nullptr, 0, 0), E_OUTOFMEMORY);
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), live);

  // A failing lock of the staging surface keeps the staging objects until
  // the holder lets go; nothing is written back then.
  platform::test::FailCall("LockRect", E_FAIL, 1, 1);
  platform::test::StartD3D9CallLog();
  EXPECT_EQ(lock.Lock(&r, s.get(), nullptr, nullptr, 0, 0), E_FAIL);
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), live + 1);
  lock.Unlock();
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), live);
  EXPECT_EQ(platform::test::CountD3D9Calls("UpdateSurface"), 0);
}

TEST_F(GxlBlitLock, CopySurfaceBitsCopiesRowsBetweenPitches) {
  platform::test::SetD3D9PitchPadding(false);
  auto plain = MakeTexture(8, 8, 1, 0, D3DFMT_DXT5, D3DPOOL_SYSTEMMEM);
  platform::test::SetD3D9PitchPadding(true);
  auto padded = MakeTexture(8, 8, 1, 0, D3DFMT_DXT5, D3DPOOL_MANAGED);
  Ref<IDirect3DSurface9> a, b;
  ASSERT_EQ(plain->GetSurfaceLevel(0, &a), D3D_OK);
  ASSERT_EQ(padded->GetSurfaceLevel(0, &b), D3D_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(a->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int i = 0; i < 64; ++i) static_cast<std::uint8_t*>(lr.pBits)[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_EQ(a->UnlockRect(), D3D_OK);
  ASSERT_EQ(CopySurfaceBits(a.get(), b.get()), S_OK);
  ASSERT_EQ(b->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(lr.Pitch, 32 + 16);
  for (int row = 0; row < 2; ++row)
    for (int i = 0; i < 32; ++i)
      ASSERT_EQ(static_cast<std::uint8_t*>(lr.pBits)[row * lr.Pitch + i], row * 32 + i + 1);
  ASSERT_EQ(b->UnlockRect(), D3D_OK);

  // A destination that cannot be locked: the source is left unlocked.
  const Ref<IDirect3DSurface9> c = MakeSurface(8, 8, 1, 0, D3DFMT_DXT5, D3DPOOL_DEFAULT);
  EXPECT_EQ(CopySurfaceBits(a.get(), c.get()), D3DERR_INVALIDCALL);
  ASSERT_EQ(a->LockRect(&lr, nullptr, 0), D3D_OK);
  ASSERT_EQ(a->UnlockRect(), D3D_OK);
}

TEST_F(GxlBlitLock, VolumeLocks) {
  Ref<IDirect3DVolumeTexture9> t;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  Ref<IDirect3DVolume9> v;
  ASSERT_EQ(t->GetVolumeLevel(0, &v), D3D_OK);
  VolumeLock lock;
  ImageRegion r{};
  const D3DBOX box{1, 1, 3, 3, 1, 3};
  ASSERT_EQ(lock.Lock(&r, v.get(), nullptr, &box, 0x12345678, 0), S_OK);
  EXPECT_EQ(r.rowPitch, 4u * 4 + 16);
  EXPECT_EQ(r.slicePitch, r.rowPitch * 4);
  EXPECT_EQ(Box(r.extent), "0,0,3,3,0,3");
  EXPECT_EQ(Box(r.box), "0,0,2,2,0,2");
  EXPECT_EQ(r.colourKey, 0x12345678u);
  EXPECT_EQ(r.orderedDither, 1u);
  Paint(r, 0xFFFFFFFF);
  lock.Unlock();

  D3DLOCKED_BOX lb{};
  ASSERT_EQ(v->LockBox(&lb, nullptr, D3DLOCK_READONLY), D3D_OK);
  for (std::uint32_t z = 0; z < 4; ++z)
    for (std::uint32_t y = 0; y < 4; ++y)
      for (std::uint32_t x = 0; x < 4; ++x) {
        std::uint32_t texel;
        std::memcpy(&texel, static_cast<std::uint8_t*>(lb.pBits) + z * lb.SlicePitch + y * lb.RowPitch + x * 4, 4);
        const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3 && z >= 1 && z < 3;
        ASSERT_EQ(texel, inside ? 0xFFFFFFFFu : 0u) << x << "," << y << "," << z;
      }
  ASSERT_EQ(v->UnlockBox(), D3D_OK);

  for (const D3DBOX& bad : {D3DBOX{0, 0, 5, 4, 0, 4}, D3DBOX{0, 0, 4, 4, 3, 2}, D3DBOX{3, 0, 2, 4, 0, 4},
                            D3DBOX{0, 0, 4, 4, 0, 5}})
    EXPECT_EQ(lock.Lock(&r, v.get(), nullptr, &bad, 0, 0), D3DERR_INVALIDCALL);

  // Default-pool volumes lock only when dynamic; a lone level may discard.
  Ref<IDirect3DVolumeTexture9> fixed, dynamic;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &fixed, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dynamic, nullptr),
            D3D_OK);
  Ref<IDirect3DVolume9> fv, dv;
  ASSERT_EQ(fixed->GetVolumeLevel(0, &fv), D3D_OK);
  ASSERT_EQ(dynamic->GetVolumeLevel(0, &dv), D3D_OK);
  EXPECT_EQ(lock.Lock(&r, fv.get(), nullptr, nullptr, 0, 0), D3DERR_INVALIDCALL);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(lock.Lock(&r, dv.get(), nullptr, nullptr, 0, 0), S_OK);
  lock.Unlock();
  EXPECT_EQ(LockCalls("Volume.LockBox"), std::vector<std::string>{"null, " + Flags(kNoSysLock | D3DLOCK_DISCARD)});
}

TEST_F(GxlBlitLock, DxtVolumeBoxesWidenToBlocks) {
  Ref<IDirect3DVolumeTexture9> t;
  ASSERT_EQ(dev->CreateVolumeTexture(8, 8, 2, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  Ref<IDirect3DVolume9> v;
  ASSERT_EQ(t->GetVolumeLevel(0, &v), D3D_OK);
  platform::test::StartD3D9CallLog();
  VolumeLock lock;
  ImageRegion r{};
  const D3DBOX box{5, 1, 6, 3, 1, 2};
  ASSERT_EQ(lock.Lock(&r, v.get(), nullptr, &box, 0, LockFlags::ReadOnly), S_OK);
  EXPECT_EQ(Box(r.box), "1,1,2,3,0,1");
  lock.Unlock();
  EXPECT_EQ(LockCalls("Volume.LockBox"),
            std::vector<std::string>{"(4,0,8,4,1,2), " + Flags(kNoSysLock | D3DLOCK_READONLY)});
}

}  // namespace
