// One headless Direct3D 9 device for a whole benchmark run.
#pragma once

#include <cstdlib>

#include "platform/d3d9_api.h"
#include "tests/support/d3d9_params.h"

namespace benchdevice {

inline IDirect3DDevice9* Device() {
  static IDirect3DDevice9* device = [] {
    setenv("PLATFORM_BACKEND", "headless", 0);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
    IDirect3DDevice9* d = nullptr;
    if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &d)))
      std::abort();
    return d;  // kept for the process
  }();
  return device;
}

}  // namespace benchdevice
