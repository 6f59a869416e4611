// A headless device for the texture tests (with a read-back of surfaces), and an
// owning pointer for COM objects.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/support/com_ref.h"
#include "tests/support/d3d9_params.h"

namespace textest {

using nura::test::Ref;

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &dev),
              D3D_OK);
  }
  void TearDown() override {
    if (dev) {
      EXPECT_EQ(dev->Release(), 0u) << platform::test::D3D9LiveObjectReport();
    }
    if (d3d) {
      EXPECT_EQ(d3d->Release(), 0u);
    }
  }

  // What the device answers for the format (the check that fitting makes).
  bool DeviceAccepts(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    D3DCAPS9 caps{};
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(dev->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(dev->GetDisplayMode(0, &mode), D3D_OK);
    return SUCCEEDED(d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format, usage, type, format));
  }

  // The 32-bit texels of a surface of 32-bit texels, read directly or, for a
  // surface that cannot be locked, through a lockable render target.
  std::vector<std::uint32_t> Read32(IDirect3DSurface9* s) {
    D3DSURFACE_DESC d{};
    EXPECT_EQ(s->GetDesc(&d), D3D_OK);
    Ref<IDirect3DSurface9> target;
    IDirect3DSurface9* from = s;
    D3DLOCKED_RECT lr{};
    if (FAILED(s->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
      EXPECT_EQ(dev->CreateRenderTarget(d.Width, d.Height, d.Format, D3DMULTISAMPLE_NONE, 0, TRUE, &target, nullptr),
                D3D_OK);
      EXPECT_EQ(dev->StretchRect(s, nullptr, target.get(), nullptr, D3DTEXF_NONE), D3D_OK);
      EXPECT_EQ(target->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
      from = target.get();
    }
    std::vector<std::uint32_t> out(std::size_t{d.Width} * d.Height);
    for (UINT y = 0; y < d.Height; ++y)
      std::memcpy(&out[std::size_t{y} * d.Width], static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch,
                  std::size_t{d.Width} * 4);
    from->UnlockRect();
    return out;
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* dev = nullptr;
};

}  // namespace textest
