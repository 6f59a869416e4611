// The Direct3D object: version check, adapter, display mode, caps, device
// types and device creation rules.
#include "d3d9_fixture.h"
#include "platform/win_kernel.h"

namespace {

using d3dtest::WindowedParams;
using d3dtest::Ref;

TEST(D3D9ResDirect3D, OnlyVersion32Creates) {
  EXPECT_EQ(Direct3DCreate9(31), nullptr);
  EXPECT_EQ(Direct3DCreate9(33), nullptr);
  Ref<IDirect3D9> d3d(Direct3DCreate9(32));
  ASSERT_TRUE(d3d);
  EXPECT_EQ(d3d->GetAdapterCount(), 1u);
  Ref<IUnknown> unknown;
  EXPECT_EQ(d3d->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(d3d.get()));
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(d3d->QueryInterface(IID_IDirect3DTexture9, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(D3D9ResDirect3D, ExportedFromTheModuleTable) {
  using Create = IDirect3D9* (*)(UINT);
  auto create = reinterpret_cast<Create>(GetProcAddress(GetModuleHandleA("d3d9.dll"), "Direct3DCreate9"));
  ASSERT_NE(create, nullptr);
  Ref<IDirect3D9> d3d(create(D3D_SDK_VERSION));
  EXPECT_TRUE(d3d);
}

TEST(D3D9ResDirect3D, DisplayModeIsX8R8G8B8AndConfigurable) {
  Ref<IDirect3D9> d3d(Direct3DCreate9(32));
  D3DDISPLAYMODE mode{};
  ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
  EXPECT_EQ(mode.Width, 640u);
  EXPECT_EQ(mode.Height, 480u);
  EXPECT_EQ(mode.RefreshRate, 60u);
  EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
  platform::test::SetD3D9DisplayMode(1920, 1080);
  ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
  EXPECT_EQ(mode.Width, 1920u);
  EXPECT_EQ(mode.Height, 1080u);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(0, nullptr), D3DERR_INVALIDCALL);
}

TEST(D3D9ResDirect3D, DeviceTypesAndFormats) {
  Ref<IDirect3D9> d3d(Direct3DCreate9(32));
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN, TRUE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_UNKNOWN, FALSE), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_UNKNOWN, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
            D3DERR_NOTAVAILABLE);
}

TEST(D3D9ResDirect3D, GameCapsProfile) {
  Ref<IDirect3D9> d3d(Direct3DCreate9(32));
  D3DCAPS9 c{};
  ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &c), D3D_OK);
  EXPECT_EQ(c.DeviceType, D3DDEVTYPE_REF);
  EXPECT_EQ(c.AdapterOrdinal, 0u);
  EXPECT_TRUE(c.Caps2 & D3DCAPS2_DYNAMICTEXTURES);
  EXPECT_FALSE(c.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP);
  EXPECT_TRUE(c.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  EXPECT_TRUE(c.DevCaps & D3DDEVCAPS_DRAWPRIMTLVERTEX);
  EXPECT_EQ(c.DevCaps2, D3DDEVCAPS2_STREAMOFFSET);  // non-zero: device level 900
  EXPECT_EQ(c.MaxStreams, 16u);
  EXPECT_EQ(c.MaxStreamStride, 508u);
  for (DWORD bit : {D3DPMISCCAPS_CULLNONE, D3DPMISCCAPS_CULLCW, D3DPMISCCAPS_CULLCCW, D3DPMISCCAPS_COLORWRITEENABLE,
                    D3DPMISCCAPS_BLENDOP, D3DPMISCCAPS_SEPARATEALPHABLEND})
    EXPECT_TRUE(c.PrimitiveMiscCaps & bit) << bit;
  EXPECT_EQ(c.StencilCaps, 0u);
  const DWORD texture = 0x1 | 0x4 | 0x2 | 0x100 | 0x800 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000;
  EXPECT_EQ(c.TextureCaps, texture);
  EXPECT_FALSE(c.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY);
  const DWORD filters = 0x100 | 0x200 | 0x10000 | 0x20000 | 0x1000000 | 0x2000000;
  EXPECT_EQ(c.TextureFilterCaps, filters);
  EXPECT_EQ(c.CubeTextureFilterCaps, filters);
  EXPECT_EQ(c.VolumeTextureFilterCaps, filters);
  EXPECT_EQ(c.TextureAddressCaps, 0x3Fu);
  EXPECT_EQ(c.MaxTextureWidth, 4096u);
  EXPECT_EQ(c.MaxTextureHeight, 4096u);
  EXPECT_EQ(c.MaxVolumeExtent, 256u);
  EXPECT_EQ(c.MaxTextureAspectRatio, 4096u);
  EXPECT_EQ(c.MaxTextureRepeat, 8192u);
  EXPECT_EQ(c.MaxAnisotropy, 1u);
  EXPECT_EQ(c.MaxTextureBlendStages, 8u);
  EXPECT_EQ(c.MaxSimultaneousTextures, 8u);
  EXPECT_EQ(c.AlphaCmpCaps, 0xFFu);
  EXPECT_EQ(c.ZCmpCaps, 0xFFu);
  EXPECT_EQ(c.SrcBlendCaps, 0x3FFu | 0x400 | 0x2000);
  EXPECT_EQ(c.DestBlendCaps, c.SrcBlendCaps);
  EXPECT_EQ(c.LineCaps, DWORD(D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP));
  EXPECT_FLOAT_EQ(c.MaxPointSize, 1.0f);
  EXPECT_EQ(c.MaxActiveLights, 0u);
  EXPECT_EQ(c.MaxUserClipPlanes, 0u);
  EXPECT_EQ(c.MaxVertexBlendMatrices, 0u);
  EXPECT_EQ(c.MaxPrimitiveCount, 0xFFFFFFu);
  EXPECT_EQ(c.MaxVertexIndex, 0xFFFFFFu);
  EXPECT_EQ(c.NumSimultaneousRTs, 1u);
  EXPECT_EQ(c.StretchRectFilterCaps, 0x100u | 0x200 | 0x1000000 | 0x2000000);
  EXPECT_EQ(c.VertexShaderVersion, 0xFFFE0000u);
  EXPECT_EQ(c.PixelShaderVersion, 0xFFFF0000u);
}

class D3D9ResCreateDevice : public ::testing::Test {
 protected:
  void TearDown() override {
    d3d.reset();
    EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
  }
  HRESULT Create(D3DDEVTYPE type, DWORD behaviour, D3DPRESENT_PARAMETERS p, HWND focus = nullptr) {
    Ref<IDirect3DDevice9> dev;
    const HRESULT hr = d3d->CreateDevice(0, type, focus, behaviour, &p, &dev);
    if (SUCCEEDED(hr)) {
      EXPECT_TRUE(dev);
    }
    return hr;
  }
  Ref<IDirect3D9> d3d{Direct3DCreate9(32)};
};

TEST_F(D3D9ResCreateDevice, BehaviourNeedsExactlyOneVertexProcessing) {
  const D3DPRESENT_PARAMETERS p = WindowedParams();
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3D_OK);
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p), D3D_OK);
  EXPECT_EQ(Create(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p), D3D_OK);
  EXPECT_EQ(Create(D3DDEVTYPE_REF, D3DCREATE_MIXED_VERTEXPROCESSING, p), D3D_OK);
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, 0, p), D3DERR_INVALIDCALL);
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_SOFTWARE_VERTEXPROCESSING, p),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(Create(D3DDEVTYPE_SW, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  D3DPRESENT_PARAMETERS q = p;
  Ref<IDirect3DDevice9> dev;
  EXPECT_EQ(d3d->CreateDevice(1, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &q, &dev),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, nullptr, &dev),
            D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCreateDevice, PresentationParameterRules) {
  D3DPRESENT_PARAMETERS p = WindowedParams();
  p.BackBufferCount = 3;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3D_OK);
  p.BackBufferCount = 4;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.BackBufferFormat = D3DFMT_UNKNOWN;  // windowed: the display format
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3D_OK);
  p.Windowed = FALSE;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.BackBufferFormat = D3DFMT_R5G6B5;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.MultiSampleType = D3DMULTISAMPLE_NONMASKABLE;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.AutoDepthStencilFormat = D3DFMT_A8R8G8B8;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.PresentationInterval = 2;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams();
  p.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3D_OK);
  p = WindowedParams(0, 0);  // windowed with no window: nothing to take the size from
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_INVALIDCALL);
  p = WindowedParams(0, 0);
  p.Windowed = FALSE;
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p, reinterpret_cast<HWND>(1)),
            D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCreateDevice, FillsInWhatTheParametersLeaveOpen) {
  // The framework's windowed request: size 0 and count 1 take the window's
  // client area (the logical 640 x 480 of every window here).
  D3DPRESENT_PARAMETERS p = WindowedParams(0, 0);
  p.BackBufferCount = 0;
  p.BackBufferFormat = D3DFMT_UNKNOWN;
  Ref<IDirect3DDevice9> dev;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(0x10), D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                              &dev),
            D3D_OK);
  EXPECT_EQ(p.BackBufferWidth, 640u);
  EXPECT_EQ(p.BackBufferHeight, 480u);
  EXPECT_EQ(p.BackBufferCount, 1u);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(back->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
  Ref<IDirect3DSurface9> depth;
  ASSERT_EQ(dev->GetDepthStencilSurface(&depth), D3D_OK);
  ASSERT_EQ(depth->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_D16);
  EXPECT_EQ(desc.Usage, D3DUSAGE_DEPTHSTENCIL);

  D3DDEVICE_CREATION_PARAMETERS cp{};
  ASSERT_EQ(dev->GetCreationParameters(&cp), D3D_OK);
  EXPECT_EQ(cp.DeviceType, D3DDEVTYPE_HAL);
  EXPECT_EQ(cp.BehaviorFlags, D3DCREATE_HARDWARE_VERTEXPROCESSING);
  EXPECT_EQ(cp.hFocusWindow, reinterpret_cast<HWND>(0x10));
  Ref<IDirect3D9> parent;
  ASSERT_EQ(dev->GetDirect3D(&parent), D3D_OK);
  EXPECT_EQ(parent.get(), d3d.get());
  D3DDISPLAYMODE mode{};
  ASSERT_EQ(dev->GetDisplayMode(0, &mode), D3D_OK);
  EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(dev->GetDisplayMode(1, &mode), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCreateDevice, FailureInjectionPerTypeAndBehaviour) {
  // The framework's chain: HAL/hardware, then HAL/software, then REF/software.
  platform::test::FailSpec when;
  when.match = "HAL/HARDWARE";
  when.count = -1;
  platform::test::FailCall("CreateDevice", D3DERR_NOTAVAILABLE, when);
  const D3DPRESENT_PARAMETERS p = WindowedParams();
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(Create(D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p), D3D_OK);
  when.match = "SOFTWARE";
  platform::test::FailCall("CreateDevice", D3DERR_NOTAVAILABLE, when);
  EXPECT_EQ(Create(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(platform::test::InjectedFailureCount("CreateDevice"), 3);
  platform::test::FailCall("Direct3DCreate9", E_FAIL);
  EXPECT_EQ(Direct3DCreate9(32), nullptr);
  Ref<IDirect3D9> again(Direct3DCreate9(32));
  EXPECT_TRUE(again);
}

TEST_F(D3D9ResCreateDevice, DeviceHoldsTheDirect3DObject) {
  D3DPRESENT_PARAMETERS p = WindowedParams();
  IDirect3DDevice9* dev = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &dev), D3D_OK);
  EXPECT_EQ(d3dtest::RefCount(d3d.get()), 2u);
  IDirect3D9* raw = d3d.detach();
  EXPECT_EQ(raw->Release(), 1u);  // the device keeps it alive
  EXPECT_EQ(dev->Release(), 0u);
}

}  // namespace
