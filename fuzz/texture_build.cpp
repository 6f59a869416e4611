// Texture creation from an image file in memory on the headless software
// device: the file's own resource type, every level down to 1 x 1 made by
// the box filter, in the file's format and, for files of at most a megatexel,
// once more fitted to A8R8G8B8. (A file at the device's largest texture takes
// a fifth of a second to build natively and several seconds under the
// fuzzer's instrumentation: one build of it is enough.)
#include "gxl/tex/texture_build.h"

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_input.h"
#include "gxl/tex/texture_import.h"

namespace {

constexpr std::uint64_t kSecondBuildTexels = std::uint64_t{1} << 20;

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
  ImageInfo info{};
  if (SUCCEEDED(ReadImageInfoFromFileData(data, static_cast<UINT>(size), &info)) &&
      std::uint64_t{info.width} * info.height * info.depth <= kSecondBuildTexels)
    Build(data, size, D3DFMT_A8R8G8B8);
  return 0;
}
