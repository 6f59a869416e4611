// Format profiles (CheckDeviceFormat's answers, which creation obeys) and caps
// profiles (sizes, powers of two, cube and volume support, mip maps).
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

HRESULT Check(IDirect3D9* d3d, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
  return d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, format);
}

const D3DFORMAT kSampled[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
                              D3DFMT_A4R4G4B4, D3DFMT_A8,       D3DFMT_X4R4G4B4, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8,
                              D3DFMT_L8,       D3DFMT_A8L8,     D3DFMT_DXT1,     D3DFMT_DXT2,     D3DFMT_DXT3,
                              D3DFMT_DXT4,     D3DFMT_DXT5};
const D3DFORMAT kDepth[] = {D3DFMT_D16,   D3DFMT_D16_LOCKABLE, D3DFMT_D24S8,
                            D3DFMT_D24X8, D3DFMT_D32,          D3DFMT_D32F_LOCKABLE};

class D3D9ResCaps : public d3dtest::DeviceTest {};

TEST_F(D3D9ResCaps, GameProfileTexturesAreTheSampledSet) {
  for (D3DRESOURCETYPE type : {D3DRTYPE_TEXTURE, D3DRTYPE_CUBETEXTURE, D3DRTYPE_VOLUMETEXTURE}) {
    for (D3DFORMAT f : kSampled) {
      EXPECT_EQ(Check(d3d, 0, type, f), D3D_OK) << f;
      EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_FILTER, type, f), D3D_OK) << f;
      EXPECT_EQ(Check(d3d, D3DUSAGE_AUTOGENMIPMAP, type, f), D3DOK_NOAUTOGEN) << f;
      EXPECT_EQ(Check(d3d, D3DUSAGE_DYNAMIC, type, f), D3D_OK) << f;
    }
    for (D3DFORMAT f : {D3DFMT_R3G3B2, D3DFMT_R8G8B8, D3DFMT_P8, D3DFMT_A16B16G16R16, D3DFMT_R32F, D3DFMT_V8U8,
                        D3DFMT_YUY2, D3DFMT_D16, D3DFMT_L16})
      EXPECT_EQ(Check(d3d, 0, type, f), D3DERR_NOTAVAILABLE) << f;
    EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_SRGBREAD, type, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_VERTEXTEXTURE, type, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  }
}

TEST_F(D3D9ResCaps, GameProfileTargetsAndDepth) {
  const DWORD blending = D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_RENDERTARGET;
  for (D3DFORMAT f : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}) {
    EXPECT_EQ(Check(d3d, D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, f), D3D_OK);
    EXPECT_EQ(Check(d3d, blending, D3DRTYPE_SURFACE, f), D3D_OK);
  }
  for (D3DFORMAT f : {D3DFMT_R5G6B5, D3DFMT_A4R4G4B4, D3DFMT_A8B8G8R8}) {
    EXPECT_EQ(Check(d3d, D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, f), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(Check(d3d, blending, D3DRTYPE_SURFACE, f), D3DERR_NOTAVAILABLE);
  }
  for (D3DFORMAT f : kDepth) {
    EXPECT_EQ(Check(d3d, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, f), D3D_OK) << f;
    EXPECT_EQ(Check(d3d, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, f), D3DERR_NOTAVAILABLE) << f;
  }
  EXPECT_EQ(Check(d3d, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D15S1), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(Check(d3d, 0x40000000, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCaps, WideProfileAddsTheCodecFormats) {
  EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, D3DFMT_A16B16G16R16), D3DERR_NOTAVAILABLE);
  ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  for (D3DFORMAT f : {D3DFMT_R3G3B2, D3DFMT_A16B16G16R16, D3DFMT_A2R10G10B10, D3DFMT_L16, D3DFMT_V8U8,
                      D3DFMT_Q16W16V16U16, D3DFMT_R16F, D3DFMT_A32B32G32R32F, D3DFMT_A4L4, D3DFMT_CxV8U8})
    EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, f), D3D_OK) << f;
  for (D3DFORMAT f : {D3DFMT_P8, D3DFMT_A8P8, D3DFMT_R8G8B8, D3DFMT_YUY2, D3DFMT_UYVY, D3DFMT_D16})
    EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, f), D3DERR_NOTAVAILABLE) << f;
  EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_R32F), D3D_OK);
  EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_A32B32G32R32F), D3D_OK);
  EXPECT_EQ(Check(d3d, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_FALSE(platform::test::SelectD3D9FormatProfile("nonsense"));
}

TEST_F(D3D9ResCaps, ScriptedAnswersReplaceTheProfile) {
  // A device that also accepts R8G8B8 textures, otherwise the game profile.
  platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (format == D3DFMT_R8G8B8 && type == D3DRTYPE_TEXTURE && usage == 0) return D3D_OK;
    return platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
  });
  EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, D3DFMT_R8G8B8), D3D_OK);
  EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
  EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, D3DFMT_P8), D3DERR_NOTAVAILABLE);
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  platform::test::SetD3D9FormatAnswer(nullptr);
  EXPECT_EQ(Check(d3d, 0, D3DRTYPE_TEXTURE, D3DFMT_R8G8B8), D3DERR_NOTAVAILABLE);
}

TEST_F(D3D9ResCaps, CreationObeysTheFormatAnswers) {
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_R3G3B2, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &t, nullptr),
            D3DERR_INVALIDCALL);
  // System memory and scratch take every storable format.
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_R3G3B2, D3DPOOL_SYSTEMMEM, &t, nullptr), D3D_OK);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_P8, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> s;
  EXPECT_EQ(dev->CreateRenderTarget(8, 8, D3DFMT_R5G6B5, D3DMULTISAMPLE_NONE, 0, FALSE, &s, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateDepthStencilSurface(8, 8, D3DFMT_D15S1, D3DMULTISAMPLE_NONE, 0, TRUE, &s, nullptr),
            D3DERR_INVALIDCALL);
  for (D3DFORMAT f : kDepth)
    EXPECT_EQ(dev->CreateDepthStencilSurface(8, 8, f, D3DMULTISAMPLE_NONE, 0, TRUE, &s, nullptr), D3D_OK) << f;
}

TEST_F(D3D9ResCaps, DefaultProfileSizeRules) {
  Ref<IDirect3DTexture9> t;
  // Non-power-of-two 2-D textures: one level, not DXT.
  EXPECT_EQ(dev->CreateTexture(100, 60, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_EQ(dev->CreateTexture(100, 60, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(100, 60, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(100, 60, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(2048, 2048, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
            D3D_OK);
  EXPECT_EQ(dev->CreateTexture(4096, 1, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_EQ(dev->CreateTexture(8192, 8, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  Ref<IDirect3DCubeTexture9> c;
  EXPECT_EQ(dev->CreateCubeTexture(48, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &c, nullptr), D3DERR_INVALIDCALL);
  Ref<IDirect3DVolumeTexture9> v;
  EXPECT_EQ(dev->CreateVolumeTexture(256, 256, 256, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &v, nullptr), D3D_OK);
  EXPECT_EQ(dev->CreateVolumeTexture(512, 4, 4, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &v, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVolumeTexture(12, 4, 4, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &v, nullptr), D3DERR_INVALIDCALL);
  // Scratch: any size, no caps.
  EXPECT_EQ(dev->CreateTexture(8192, 3, 0, 0, D3DFMT_A8, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
}

TEST_F(D3D9ResCaps, RestrictedProfiles) {
  Ref<IDirect3DTexture9> t;
  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("pow2-only"));
  EXPECT_EQ(dev->CreateTexture(100, 60, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(128, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);

  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("square-only"));
  EXPECT_EQ(dev->CreateTexture(128, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);

  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("small-max"));
  EXPECT_EQ(dev->CreateTexture(512, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);

  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("no-cube-volume"));
  Ref<IDirect3DCubeTexture9> c;
  Ref<IDirect3DVolumeTexture9> v;
  EXPECT_EQ(dev->CreateCubeTexture(16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &c, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &v, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateCubeTexture(16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &c, nullptr), D3D_OK);

  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("no-mip"));
  ASSERT_EQ(dev->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 1u);  // 0 levels: as many as the device can
  EXPECT_EQ(dev->CreateTexture(64, 64, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  D3DCAPS9 caps;
  ASSERT_EQ(dev->GetDeviceCaps(&caps), D3D_OK);
  EXPECT_FALSE(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP);
  EXPECT_FALSE(caps.TextureFilterCaps & D3DPTFILTERCAPS_MIPFLINEAR);

  EXPECT_FALSE(platform::test::SelectD3D9CapsProfile("nonsense"));
}

TEST_F(D3D9ResCaps, EditsChangeWhatIsReportedAndEnforced) {
  platform::test::EditD3D9Caps([](D3DCAPS9& c) {
    c.MaxTextureWidth = 64;
    c.DevCaps2 = 0;
  });
  D3DCAPS9 caps;
  ASSERT_EQ(dev->GetDeviceCaps(&caps), D3D_OK);
  EXPECT_EQ(caps.MaxTextureWidth, 64u);
  EXPECT_EQ(caps.DevCaps2, 0u);
  EXPECT_EQ(caps.MaxTextureHeight, 4096u);
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(128, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(platform::test::D3D9ProfileCaps("game").MaxTextureWidth, 4096u);
  platform::test::EditD3D9Caps([](D3DCAPS9& c) { c.Caps2 &= ~D3DCAPS2_DYNAMICTEXTURES; });
  EXPECT_EQ(Check(d3d, D3DUSAGE_DYNAMIC, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(dev->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
            D3DERR_INVALIDCALL);
}

}  // namespace
