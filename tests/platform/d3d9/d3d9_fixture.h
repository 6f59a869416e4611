// Shared by the device tests: an owning pointer for COM objects and a fixture
// with a headless 640 x 480 device that checks, after every test, that no
// Direct3D object is left alive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/support/com_ref.h"
#include "tests/support/d3d9_params.h"

namespace d3dtest {

using nura::test::Ref;
using nura::test::RefCount;
using nura::test::WindowedParams;

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS p = WindowedParams();
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &dev), D3D_OK);
  }
  void TearDown() override {
    if (dev) {
      EXPECT_EQ(dev->Release(), 0u) << platform::test::D3D9LiveObjectReport();
    }
    if (d3d) {
      EXPECT_EQ(d3d->Release(), 0u);
    }
    EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
  }

  // A texture's level surface (with a reference the Ref drops).
  static IDirect3DSurface9* Level(IDirect3DTexture9* t, UINT level = 0) {
    IDirect3DSurface9* s = nullptr;
    EXPECT_EQ(t->GetSurfaceLevel(level, &s), D3D_OK);
    return s;
  }

  // The 32-bit texels of a lockable surface.
  static std::vector<std::uint32_t> Read(IDirect3DSurface9* s) {
    D3DSURFACE_DESC d;
    EXPECT_EQ(s->GetDesc(&d), D3D_OK);
    D3DLOCKED_RECT lr;
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint32_t> px(std::size_t(d.Width) * d.Height);
    for (UINT y = 0; y < d.Height; ++y)
      std::memcpy(&px[std::size_t(y) * d.Width], static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch,
                  d.Width * 4);
    EXPECT_EQ(s->UnlockRect(), D3D_OK);
    return px;
  }

  // The 32-bit texels of a render-target surface, read back through system memory.
  std::vector<std::uint32_t> ReadBack(IDirect3DSurface9* rt) {
    D3DSURFACE_DESC desc;
    EXPECT_EQ(rt->GetDesc(&desc), D3D_OK);
    Ref<IDirect3DTexture9> copy;
    EXPECT_EQ(dev->CreateTexture(desc.Width, desc.Height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr),
              D3D_OK);
    Ref<IDirect3DSurface9> level(Level(copy.get()));
    EXPECT_EQ(dev->GetRenderTargetData(rt, level.get()), D3D_OK);
    return Read(level.get());
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* dev = nullptr;
};

}  // namespace d3dtest
