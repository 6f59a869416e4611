// Texture creation from an image file in memory on the headless software
// device: the file's own resource type, every level down to 1 x 1 made by
// the box filter, in the file's format and, once more, fitted to A8R8G8B8.
#include "gxl/tex/texture_build.h"

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_input.h"

namespace {

void Build(const std::uint8_t* data, std::size_t size, D3DFORMAT format) {
  IDirect3DBaseTexture9* texture = nullptr;
  const HRESULT hr = BuildTextureFromFileData(
      nura::fuzz::HeadlessDevice(), data, static_cast<UINT>(size), kGxlDefault, kGxlDefault, kGxlDefault, kGxlDefault,
      0, format, D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr, nullptr, kGxlResourceTypeFromFile, &texture);
  nura::fuzz::Require(SUCCEEDED(hr) == (texture != nullptr), "a texture exactly when the build succeeds");
  if (texture) texture->Release();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nura::fuzz::HeadlessDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Build(data, size, D3DFMT_UNKNOWN);
  Build(data, size, D3DFMT_A8R8G8B8);
  return 0;
}
