// Texture creation from an image file in memory on the headless software
// device: the file's own resource type, every level down to 1 x 1 made by
// the box filter, in the file's format and, once more, fitted to A8R8G8B8.
#include "gxl/tex/texture_build.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/support/d3d9_params.h"

namespace {

IDirect3DDevice9* g_device = nullptr;

void Build(const std::uint8_t* data, std::size_t size, D3DFORMAT format) {
  IDirect3DBaseTexture9* texture = nullptr;
  const HRESULT hr = BuildTextureFromFileData(g_device, data, static_cast<UINT>(size), kGxlDefault, kGxlDefault,
                                              kGxlDefault, kGxlDefault, 0, format, D3DPOOL_MANAGED, kGxlDefault,
                                              kGxlDefault, 0, nullptr, nullptr, kGxlResourceTypeFromFile, &texture);
  nura::fuzz::Require(SUCCEEDED(hr) == (texture != nullptr), "a texture exactly when the build succeeds");
  if (texture) texture->Release();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("PLATFORM_BACKEND", "headless", 0);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  nura::fuzz::Require(d3d != nullptr, "Direct3DCreate9");
  D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
  nura::fuzz::Require(
      d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &g_device) == D3D_OK,
      "CreateDevice");
  d3d->Release();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Build(data, size, D3DFMT_UNKNOWN);
  Build(data, size, D3DFMT_A8R8G8B8);
  return 0;
}
