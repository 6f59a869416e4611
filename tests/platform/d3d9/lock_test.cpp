// Pools, usages and lock rules: which resources lock, with which flags, and
// what a lock does (dirty marking, discard poison, bounds).
#include "d3d9/surface.h"
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResLock : public d3dtest::DeviceTest {
 protected:
  HRESULT LockLevel0(DWORD usage, D3DPOOL pool, DWORD flags = 0) {
    Ref<IDirect3DTexture9> t;
    HRESULT hr = dev->CreateTexture(16, 16, 1, usage, D3DFMT_A8R8G8B8, pool, &t, nullptr);
    EXPECT_EQ(hr, D3D_OK);
    if (FAILED(hr)) return hr;
    D3DLOCKED_RECT lr{};
    hr = t->LockRect(0, &lr, nullptr, flags);
    if (SUCCEEDED(hr)) {
      EXPECT_NE(lr.pBits, nullptr);
      EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    } else {
      EXPECT_EQ(lr.pBits, nullptr);
    }
    return hr;
  }
};

TEST_F(D3D9ResLock, TextureLocksByPoolAndUsage) {
  EXPECT_EQ(LockLevel0(0, D3DPOOL_MANAGED), D3D_OK);
  EXPECT_EQ(LockLevel0(0, D3DPOOL_SYSTEMMEM), D3D_OK);
  EXPECT_EQ(LockLevel0(0, D3DPOOL_SCRATCH), D3D_OK);
  EXPECT_EQ(LockLevel0(D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT), D3D_OK);
  EXPECT_EQ(LockLevel0(D3DUSAGE_DYNAMIC, D3DPOOL_SYSTEMMEM, D3DLOCK_DISCARD), D3D_OK);
  // The refusals are real, so staging paths run.
  EXPECT_EQ(LockLevel0(0, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
  EXPECT_EQ(LockLevel0(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
  EXPECT_EQ(LockLevel0(D3DUSAGE_AUTOGENMIPMAP, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResLock, PoolAndUsageCombinations) {
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_QUERY_FILTER, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(4), &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  HANDLE shared = nullptr;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, &shared), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
  // Automatic mip maps report one level and make nothing.
  ASSERT_EQ(dev->CreateTexture(64, 64, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 1u);
  EXPECT_EQ(dev->CreateTexture(64, 64, 2, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResLock, SurfaceLocksByKind) {
  D3DLOCKED_RECT lr;
  Ref<IDirect3DSurface9> rt, fixed;
  ASSERT_EQ(dev->CreateRenderTarget(32, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &rt, nullptr), D3D_OK);
  EXPECT_EQ(rt->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(rt->UnlockRect(), D3D_OK);
  ASSERT_EQ(dev->CreateRenderTarget(32, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &fixed, nullptr), D3D_OK);
  EXPECT_EQ(fixed->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);

  for (D3DFORMAT f : {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D32}) {
    Ref<IDirect3DSurface9> d;
    ASSERT_EQ(dev->CreateDepthStencilSurface(8, 8, f, D3DMULTISAMPLE_NONE, 0, TRUE, &d, nullptr), D3D_OK);
    EXPECT_EQ(d->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL) << f;
  }
  for (D3DFORMAT f : {D3DFMT_D16_LOCKABLE, D3DFMT_D32F_LOCKABLE}) {
    Ref<IDirect3DSurface9> d;
    ASSERT_EQ(dev->CreateDepthStencilSurface(8, 8, f, D3DMULTISAMPLE_NONE, 0, FALSE, &d, nullptr), D3D_OK);
    EXPECT_EQ(d->LockRect(&lr, nullptr, 0), D3D_OK) << f;
    EXPECT_EQ(d->UnlockRect(), D3D_OK);
  }
  // The back buffer locks only when the presentation flags ask for it.
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  EXPECT_EQ(back->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResLock, LockableBackBuffer) {
  D3DPRESENT_PARAMETERS p = d3dtest::WindowedParams(64, 32);
  p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  Ref<IDirect3DDevice9> other;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other), D3D_OK);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(other->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(lr.Pitch, 256);
  EXPECT_EQ(*static_cast<std::uint32_t*>(lr.pBits), 0xFF000000u);  // X8R8G8B8's X byte reads 0xFF
  EXPECT_EQ(back->UnlockRect(), D3D_OK);
}

TEST_F(D3D9ResLock, LockStateAndRectangleRules) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  D3DLOCKED_RECT lr;
  EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  EXPECT_EQ(t->LockRect(1, &lr, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
  for (const RECT& bad : {RECT{-1, 0, 4, 4}, RECT{0, 0, 17, 4}, RECT{0, 0, 4, 17}, RECT{5, 0, 4, 4}})
    EXPECT_EQ(t->LockRect(0, &lr, &bad, 0), D3DERR_INVALIDCALL);
  // DISCARD only on dynamic resources; NOOVERWRITE never on images.
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_NOOVERWRITE), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT), D3D_OK);
  EXPECT_EQ(t->UnlockRect(0), D3D_OK);
  Ref<IDirect3DTexture9> dyn;
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dyn, nullptr), D3D_OK);
  EXPECT_EQ(dyn->LockRect(0, &lr, nullptr, D3DLOCK_READONLY | D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResLock, UnlockMarksTheLevelDirtyUnlessReadOnly) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(4, 4, 2, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> level(Level(t.get(), 1));
  auto* impl = dynamic_cast<platform::d3d9::Surface*>(level.get());
  ASSERT_NE(impl, nullptr);
  impl->Cache().dirty = false;  // as the rasteriser leaves it after decoding
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(1, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  ASSERT_EQ(t->UnlockRect(1), D3D_OK);
  EXPECT_FALSE(impl->Cache().dirty);
  ASSERT_EQ(t->LockRect(1, &lr, nullptr, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(1), D3D_OK);
  EXPECT_TRUE(impl->Cache().dirty);
}

TEST_F(D3D9ResLock, DiscardPoisonFillsWhatIsReturned) {
  platform::test::SetD3D9DiscardPoison(true);
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(lr.pBits)[5], 0);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(lr.pBits)[5], 0xCD);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);

  Ref<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(dev->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vb, nullptr),
            D3D_OK);
  void* p = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(p)[63], 0xCD);
  std::memset(p, 7, 64);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  // No-overwrite keeps the contents and returns the same memory.
  void* q = nullptr;
  ASSERT_EQ(vb->Lock(16, 16, &q, D3DLOCK_NOOVERWRITE), D3D_OK);
  EXPECT_EQ(q, static_cast<std::uint8_t*>(p) + 16);
  EXPECT_EQ(static_cast<std::uint8_t*>(q)[0], 7);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
}

TEST_F(D3D9ResLock, BufferLockRules) {
  Ref<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(dev->CreateVertexBuffer(100, D3DUSAGE_WRITEONLY, 0x144, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
  void* p = nullptr;
  void* base = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &base, 0), D3D_OK);  // default-pool buffers lock
  EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
  ASSERT_EQ(vb->Lock(60, 40, &p, 0), D3D_OK);
  EXPECT_EQ(p, static_cast<std::uint8_t*>(base) + 60);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  EXPECT_EQ(vb->Lock(60, 41, &p, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(101, 0, &p, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(0, 0, &p, D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(0, 0, &p, D3DLOCK_NOOVERWRITE), D3DERR_INVALIDCALL);
  D3DVERTEXBUFFER_DESC vd;
  ASSERT_EQ(vb->GetDesc(&vd), D3D_OK);
  EXPECT_EQ(vd.Size, 100u);
  EXPECT_EQ(vd.FVF, 0x144u);
  EXPECT_EQ(vd.Usage, D3DUSAGE_WRITEONLY);
  EXPECT_EQ(vd.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(vd.Type, D3DRTYPE_VERTEXBUFFER);
  EXPECT_EQ(vd.Format, D3DFMT_VERTEXDATA);

  Ref<IDirect3DIndexBuffer9> ib;
  ASSERT_EQ(dev->CreateIndexBuffer(49152, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
  D3DINDEXBUFFER_DESC id;
  ASSERT_EQ(ib->GetDesc(&id), D3D_OK);
  EXPECT_EQ(id.Format, D3DFMT_INDEX16);
  EXPECT_EQ(id.Size, 49152u);
  EXPECT_EQ(ib->GetType(), D3DRTYPE_INDEXBUFFER);
  EXPECT_EQ(dev->CreateIndexBuffer(64, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &ib, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateIndexBuffer(64, D3DUSAGE_DYNAMIC, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVertexBuffer(0, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_SCRATCH, &vb, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVertexBuffer(20, 0, 0x144, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResLock, InjectedLockFailures) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  platform::test::FailCall("LockRect", E_OUTOFMEMORY, 2, 1);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), E_OUTOFMEMORY);
  EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);  // nothing was locked
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(t->UnlockRect(0), D3D_OK);
}

}  // namespace
