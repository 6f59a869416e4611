// Resource descriptions, types and owners, and failure injection on creation.
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResResource : public d3dtest::DeviceTest {};

TEST_F(D3D9ResResource, CubeDescriptions) {
  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(dev->CreateCubeTexture(32, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &cube, nullptr),
            D3D_OK);
  EXPECT_EQ(cube->GetType(), D3DRTYPE_CUBETEXTURE);
  EXPECT_EQ(cube->GetLevelCount(), 6u);
  D3DSURFACE_DESC d;
  ASSERT_EQ(cube->GetLevelDesc(2, &d), D3D_OK);
  EXPECT_EQ(d.Width, 8u);
  EXPECT_EQ(d.Height, 8u);
  EXPECT_EQ(d.Usage, D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(d.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(cube->GetLevelDesc(6, &d), D3DERR_INVALIDCALL);
  // A face of a render-target cube is a render target.
  Ref<IDirect3DSurface9> face;
  ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Z, 0, &face), D3D_OK);
  EXPECT_EQ(dev->SetRenderTarget(0, face.get()), D3D_OK);
  D3DLOCKED_RECT lr;
  EXPECT_EQ(cube->LockRect(D3DCUBEMAP_FACE_POSITIVE_X, 0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
  Ref<IDirect3DDevice9> owner;
  ASSERT_EQ(cube->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
}

TEST_F(D3D9ResResource, VolumeDescriptions) {
  Ref<IDirect3DVolumeTexture9> vt;
  ASSERT_EQ(dev->CreateVolumeTexture(16, 8, 4, 0, 0, D3DFMT_A8L8, D3DPOOL_MANAGED, &vt, nullptr), D3D_OK);
  EXPECT_EQ(vt->GetType(), D3DRTYPE_VOLUMETEXTURE);
  EXPECT_EQ(vt->GetLevelCount(), 5u);  // the chain runs to 1 x 1 x 1 by the largest side
  D3DVOLUME_DESC d;
  ASSERT_EQ(vt->GetLevelDesc(3, &d), D3D_OK);
  EXPECT_EQ(d.Width, 2u);
  EXPECT_EQ(d.Height, 1u);
  EXPECT_EQ(d.Depth, 1u);
  EXPECT_EQ(d.Type, D3DRTYPE_VOLUME);
  EXPECT_EQ(d.Format, D3DFMT_A8L8);
  EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
  Ref<IDirect3DVolume9> v;
  ASSERT_EQ(vt->GetVolumeLevel(1, &v), D3D_OK);
  ASSERT_EQ(v->GetDesc(&d), D3D_OK);
  EXPECT_EQ(d.Width, 8u);
  EXPECT_EQ(d.Depth, 2u);
  D3DLOCKED_BOX box;
  ASSERT_EQ(v->LockBox(&box, nullptr, 0), D3D_OK);
  EXPECT_EQ(box.RowPitch, 16);
  EXPECT_EQ(box.SlicePitch, 16 * 4);
  EXPECT_EQ(v->LockBox(&box, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(v->UnlockBox(), D3D_OK);
  EXPECT_EQ(v->UnlockBox(), D3DERR_INVALIDCALL);
  const D3DBOX outside{0, 0, 8, 4, 0, 3};
  EXPECT_EQ(v->LockBox(&box, &outside, 0), D3DERR_INVALIDCALL);
  Ref<IDirect3DDevice9> owner;
  ASSERT_EQ(v->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
  Ref<IDirect3DVolume9> none;
  EXPECT_EQ(vt->GetVolumeLevel(5, &none), D3DERR_INVALIDCALL);
  // Default-pool volumes lock only when dynamic.
  Ref<IDirect3DVolumeTexture9> fixed, dynamic;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &fixed, nullptr), D3D_OK);
  EXPECT_EQ(fixed->LockBox(0, &box, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dynamic, nullptr),
            D3D_OK);
  EXPECT_EQ(dynamic->LockBox(0, &box, nullptr, D3DLOCK_DISCARD), D3D_OK);
  EXPECT_EQ(dynamic->UnlockBox(0), D3D_OK);
  EXPECT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &fixed,
                                     nullptr),
            D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResResource, SurfaceDescriptionsAndOwners) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(64, 32, 2, D3DUSAGE_DYNAMIC, D3DFMT_A4R4G4B4, D3DPOOL_DEFAULT, &t, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> level(Level(t.get(), 1));
  D3DSURFACE_DESC d;
  ASSERT_EQ(level->GetDesc(&d), D3D_OK);
  EXPECT_EQ(d.Format, D3DFMT_A4R4G4B4);
  EXPECT_EQ(d.Type, D3DRTYPE_SURFACE);
  EXPECT_EQ(d.Usage, D3DUSAGE_DYNAMIC);
  EXPECT_EQ(d.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(d.MultiSampleType, D3DMULTISAMPLE_NONE);
  EXPECT_EQ(d.Width, 32u);
  EXPECT_EQ(d.Height, 16u);
  EXPECT_EQ(level->GetDesc(nullptr), D3DERR_INVALIDCALL);
  Ref<IDirect3DDevice9> owner;
  ASSERT_EQ(level->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
  Ref<IDirect3DSurface9> none;
  EXPECT_EQ(t->GetSurfaceLevel(2, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->GetSurfaceLevel(0, nullptr), D3DERR_INVALIDCALL);

  Ref<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
  EXPECT_EQ(vb->GetType(), D3DRTYPE_VERTEXBUFFER);
  ASSERT_EQ(vb->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
  const D3DVERTEXELEMENT9 end[] = {D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> decl;
  ASSERT_EQ(dev->CreateVertexDeclaration(end, &decl), D3D_OK);
  ASSERT_EQ(decl->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
}

TEST_F(D3D9ResResource, CreationFailuresCanBeInjected) {
  platform::test::FailSpec when;
  when.match = "pool=0";
  platform::test::FailCall("CreateTexture", E_OUTOFMEMORY, when);
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
            E_OUTOFMEMORY);
  EXPECT_FALSE(t);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr), D3D_OK);
  for (const char* api : {"CreateVertexBuffer", "CreateIndexBuffer", "CreateRenderTarget",
                          "CreateDepthStencilSurface", "CreateVertexDeclaration", "CreateCubeTexture",
                          "CreateVolumeTexture", "CreateStateBlock", "GetSurfaceLevel"})
    platform::test::FailCall(api, D3DERR_OUTOFVIDEOMEMORY);
  Ref<IDirect3DVertexBuffer9> vb;
  Ref<IDirect3DIndexBuffer9> ib;
  Ref<IDirect3DSurface9> s;
  Ref<IDirect3DVertexDeclaration9> decl;
  Ref<IDirect3DCubeTexture9> cube;
  Ref<IDirect3DVolumeTexture9> volume;
  Ref<IDirect3DStateBlock9> block;
  const D3DVERTEXELEMENT9 end[] = {D3DDECL_END()};
  EXPECT_EQ(dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &s, nullptr),
            D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateDepthStencilSurface(8, 8, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &s, nullptr),
            D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateVertexDeclaration(end, &decl), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateCubeTexture(8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateVolumeTexture(8, 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &volume, nullptr),
            D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreateStateBlock(D3DSBT_ALL, &block), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(t->GetSurfaceLevel(0, &s), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_FALSE(vb || ib || s || decl || cube || volume || block);
}

TEST_F(D3D9ResResource, AbsurdSizesFailCleanly) {
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(65536, 65536, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SCRATCH, &t, nullptr),
            E_OUTOFMEMORY);
  Ref<IDirect3DVertexBuffer9> vb;
  EXPECT_EQ(dev->CreateVertexBuffer(0xFFFFFFF0u, 0, 0, D3DPOOL_SYSTEMMEM, &vb, nullptr), E_OUTOFMEMORY);
}

}  // namespace
