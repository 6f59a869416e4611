// The headless software device of the fuzz targets that make textures: one
// per process, made at the first call and kept for the run.
#pragma once

#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "platform/d3d9_api.h"
#include "tests/support/d3d9_params.h"

namespace nura::fuzz {

inline IDirect3DDevice9* HeadlessDevice() {
  static IDirect3DDevice9* const device = [] {
    setenv("PLATFORM_BACKEND", "headless", 0);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    Require(d3d != nullptr, "Direct3DCreate9");
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
    IDirect3DDevice9* made = nullptr;
    Require(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &made) == D3D_OK,
            "CreateDevice");
    d3d->Release();
    return made;
  }();
  return device;
}

}  // namespace nura::fuzz
