// Reference counts: resources hold their device, levels share their texture's
// count and are the same object on every call, bindings keep objects alive
// without cycles, and nothing outlives the last release.
#include "d3d9_fixture.h"

namespace {

using d3dtest::RefCount;
using d3dtest::Ref;

class D3D9ResRefCount : public d3dtest::DeviceTest {};

TEST_F(D3D9ResRefCount, ResourcesHoldTheirDevice) {
  EXPECT_EQ(RefCount(dev), 1u);
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(dev->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_EQ(RefCount(dev), 2u);
  IDirect3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(dev->CreateVertexBuffer(256, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
  EXPECT_EQ(RefCount(dev), 3u);
  IDirect3DDevice9* owner = nullptr;
  ASSERT_EQ(t->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner, dev);
  EXPECT_EQ(owner->Release(), 3u);
  EXPECT_EQ(t->AddRef(), 2u);
  EXPECT_EQ(t->Release(), 1u);
  EXPECT_EQ(t->Release(), 0u);
  EXPECT_EQ(RefCount(dev), 2u);
  EXPECT_EQ(vb->Release(), 0u);
  EXPECT_EQ(RefCount(dev), 1u);
}

TEST_F(D3D9ResRefCount, LevelsAreTheSameObjectAndShareTheCount) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(32, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  IDirect3DSurface9* a = nullptr;
  IDirect3DSurface9* b = nullptr;
  ASSERT_EQ(t->GetSurfaceLevel(1, &a), D3D_OK);
  ASSERT_EQ(t->GetSurfaceLevel(1, &b), D3D_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(RefCount(t.get()), 3u);
  EXPECT_EQ(a->Release(), 2u);
  EXPECT_EQ(b->Release(), 1u);

  // A level keeps its texture alive after the texture's own reference goes.
  IDirect3DSurface9* level = nullptr;
  ASSERT_EQ(t->GetSurfaceLevel(0, &level), D3D_OK);
  IDirect3DTexture9* raw = t.detach();
  EXPECT_EQ(raw->Release(), 1u);
  IDirect3DTexture9* container = nullptr;
  ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
  EXPECT_EQ(container, raw);
  EXPECT_EQ(container->Release(), 1u);
  EXPECT_EQ(level->Release(), 0u);
}

TEST_F(D3D9ResRefCount, CubeFacesAndVolumesAreStableToo) {
  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(dev->CreateCubeTexture(16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> f1, f2, f3;
  ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Y, 0, &f1), D3D_OK);
  ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Y, 0, &f2), D3D_OK);
  ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_Y, 0, &f3), D3D_OK);
  EXPECT_EQ(f1.get(), f2.get());
  EXPECT_NE(f1.get(), f3.get());
  EXPECT_EQ(RefCount(cube.get()), 4u);
  void* asTexture = reinterpret_cast<void*>(1);
  EXPECT_EQ(f1->GetContainer(IID_IDirect3DTexture9, &asTexture), E_NOINTERFACE);
  EXPECT_EQ(asTexture, nullptr);
  Ref<IDirect3DCubeTexture9> back;
  EXPECT_EQ(f1->GetContainer(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&back)), D3D_OK);
  EXPECT_EQ(back.get(), cube.get());

  Ref<IDirect3DVolumeTexture9> vt;
  ASSERT_EQ(dev->CreateVolumeTexture(8, 8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &vt, nullptr), D3D_OK);
  Ref<IDirect3DVolume9> v1, v2;
  ASSERT_EQ(vt->GetVolumeLevel(2, &v1), D3D_OK);
  ASSERT_EQ(vt->GetVolumeLevel(2, &v2), D3D_OK);
  EXPECT_EQ(v1.get(), v2.get());
  EXPECT_EQ(RefCount(vt.get()), 3u);
  Ref<IDirect3DVolumeTexture9> vback;
  EXPECT_EQ(v1->GetContainer(IID_IDirect3DVolumeTexture9, reinterpret_cast<void**>(&vback)), D3D_OK);
  EXPECT_EQ(vback.get(), vt.get());
}

TEST_F(D3D9ResRefCount, StandAloneSurfacesHaveNoTextureContainer) {
  Ref<IDirect3DSurface9> rt;
  ASSERT_EQ(dev->CreateRenderTarget(64, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &rt, nullptr), D3D_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(rt->GetContainer(IID_IDirect3DTexture9, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  Ref<IDirect3DDevice9> owner;
  EXPECT_EQ(rt->GetContainer(IID_IDirect3DDevice9, reinterpret_cast<void**>(&owner)), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
  EXPECT_EQ(rt->GetType(), D3DRTYPE_SURFACE);
}

TEST_F(D3D9ResRefCount, BindingsKeepObjectsAliveWithoutCountingThem) {
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, t), D3D_OK);
  EXPECT_EQ(RefCount(t), 1u);
  EXPECT_EQ(t->Release(), 0u);  // still bound: alive, without a device reference
  EXPECT_EQ(RefCount(dev), 1u);
  Ref<IDirect3DBaseTexture9> bound;
  ASSERT_EQ(dev->GetTexture(0, &bound), D3D_OK);
  EXPECT_EQ(bound.get(), static_cast<IDirect3DBaseTexture9*>(t));
  EXPECT_EQ(RefCount(dev), 2u);
  bound.reset();
  ASSERT_EQ(dev->SetTexture(0, nullptr), D3D_OK);  // unbinding destroys it
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), 4u) << platform::test::D3D9LiveObjectReport();
}

TEST_F(D3D9ResRefCount, ReleasingTheDeviceDropsWhatItStillBinds) {
  IDirect3DTexture9* t = nullptr;
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  IDirect3DSurface9* rt = nullptr;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr), D3D_OK);
  ASSERT_EQ(t->GetSurfaceLevel(0, &rt), D3D_OK);
  ASSERT_EQ(dev->SetTexture(1, t), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, vb, 0, 16), D3D_OK);
  ASSERT_EQ(dev->SetIndices(ib), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, rt), D3D_OK);
  EXPECT_EQ(rt->Release(), 1u);
  EXPECT_EQ(t->Release(), 0u);
  EXPECT_EQ(vb->Release(), 0u);
  EXPECT_EQ(ib->Release(), 0u);
  // The fixture's teardown releases the device and checks that nothing is left.
}

TEST_F(D3D9ResRefCount, BackBufferAndDepthSurfaceCounts) {
  Ref<IDirect3DSurface9> back, target, depth;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  ASSERT_EQ(dev->GetRenderTarget(0, &target), D3D_OK);
  EXPECT_EQ(back.get(), target.get());
  EXPECT_EQ(RefCount(back.get()), 2u);
  EXPECT_EQ(RefCount(dev), 2u);  // the surface's references hold the device once
  ASSERT_EQ(dev->GetDepthStencilSurface(&depth), D3D_OK);
  EXPECT_EQ(RefCount(dev), 3u);
  back.reset();
  target.reset();
  depth.reset();
  EXPECT_EQ(RefCount(dev), 1u);
  IDirect3DSurface9* none = reinterpret_cast<IDirect3DSurface9*>(1);
  EXPECT_EQ(dev->GetBackBuffer(0, 1, D3DBACKBUFFER_TYPE_MONO, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
}

TEST_F(D3D9ResRefCount, QueryInterfaceFollowsTheInterfaceChain) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  for (const IID* iid : {&IID_IUnknown, &IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DTexture9}) {
    void* out = nullptr;
    ASSERT_EQ(t->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);
  }
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(t->QueryInterface(IID_IDirect3DCubeTexture9, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  Ref<IDirect3DDevice9> same;
  EXPECT_EQ(dev->QueryInterface(IID_IDirect3DDevice9, reinterpret_cast<void**>(&same)), S_OK);
  EXPECT_EQ(same.get(), dev);
}

TEST_F(D3D9ResRefCount, LiveObjectReportNamesWhatIsLeft) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(16, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  const std::string name = platform::test::D3D9ObjectName(t.get());
  EXPECT_EQ(name.rfind("Texture#", 0), 0u);
  bool found = false;
  for (const auto& o : platform::test::D3D9LiveObjects())
    if (o.name == name) {
      found = true;
      EXPECT_EQ(o.refs, 1u);
      EXPECT_EQ(o.binds, 0u);
      EXPECT_NE(o.description.find("DXT1"), std::string::npos) << o.description;
    }
  EXPECT_TRUE(found) << platform::test::D3D9LiveObjectReport();
  EXPECT_NE(platform::test::D3D9LiveObjectReport().find(name + " refs=1"), std::string::npos);
  EXPECT_EQ(platform::test::D3D9ObjectName(nullptr), "null");
}

}  // namespace
