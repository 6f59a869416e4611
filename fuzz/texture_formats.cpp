// Texture creation from an image file in memory with the caller's choices:
// four leading bytes pick the texture format (the DXT formats among them),
// the filters that copy the file's levels and make the missing ones, the
// resource type, size and level requests, pool and colour key, and the
// device's capability and format profiles; the rest is the file. A built
// texture is read back level by level through the codecs. Files of more than
// a megatexel are left to the texture_build target, which builds them once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_input.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"
#include "platform/testing_d3d9.h"

namespace {

using gxl::ComRef;

constexpr D3DFORMAT kFormats[] = {D3DFMT_DXT1,
                                  D3DFMT_DXT2,
                                  D3DFMT_DXT3,
                                  D3DFMT_DXT4,
                                  D3DFMT_DXT5,
                                  D3DFMT_A8R8G8B8,
                                  D3DFMT_X8R8G8B8,
                                  D3DFMT_R5G6B5,
                                  D3DFMT_A1R5G5B5,
                                  D3DFMT_A4R4G4B4,
                                  D3DFMT_R3G3B2,
                                  D3DFMT_A8,
                                  D3DFMT_L8,
                                  D3DFMT_A8L8,
                                  D3DFMT_A4L4,
                                  D3DFMT_L16,
                                  D3DFMT_P8,
                                  D3DFMT_V8U8,
                                  D3DFMT_Q8W8V8U8,
                                  D3DFMT_A2B10G10R10,
                                  D3DFMT_G16R16,
                                  D3DFMT_R16F,
                                  D3DFMT_A16B16G16R16F,
                                  D3DFMT_R32F,
                                  D3DFMT_A32B32G32R32F,
                                  D3DFMT_A16B16G16R16,
                                  D3DFMT_UYVY,
                                  D3DFMT_YUY2,
                                  kGxlFormatFromFile,
                                  D3DFMT_UNKNOWN};
constexpr DWORD kFilters[] = {kGxlDefault,           FilterFlags::None, FilterFlags::Point, FilterFlags::Linear,
                              FilterFlags::Triangle, FilterFlags::Box,  FilterFlags::Box,   kGxlDefault};
constexpr UINT kSizes[] = {kGxlDefault, kGxlDefaultNonPow2, kGxlFromFile, 0};
constexpr UINT kLevels[] = {kGxlDefault, kGxlFromFile, 1, 3};
constexpr const char* kCapsProfiles[] = {"game",           "pow2-only", "square-only", "small-max",
                                         "no-cube-volume", "no-mip",    "game",        "game"};
constexpr std::uint64_t kMostTexels = std::uint64_t{1} << 20;
constexpr DWORD kTypes[] = {kGxlResourceTypeFromFile, D3DRTYPE_TEXTURE, D3DRTYPE_CUBETEXTURE, D3DRTYPE_VOLUMETEXTURE};

DWORD WithFlags(DWORD filter, DWORD flags) { return filter == kGxlDefault ? filter : filter | flags; }

// Reads every texel of a surface or volume through its codec.
template <class Lock, class Object>
void ReadBack(Object* object, const PaletteEntry* palette) {
  Lock lock;
  ImageRegion region{};
  if (FAILED(lock.Lock(&region, object, palette, nullptr, 0, LockFlags::ReadOnly))) return;
  std::unique_ptr<PixelCodec> codec = CreatePixelCodec(region);
  if (!codec) return;
  std::vector<ColorF> row(region.box.right - region.box.left);
  for (std::uint32_t z = 0; z < region.box.back - region.box.front; ++z)
    for (std::uint32_t y = 0; y < region.box.bottom - region.box.top; ++y) codec->ReadRow(y, z, row.data());
}

void ReadBackLevels(IDirect3DBaseTexture9* texture, const PaletteEntry* palette) {
  const DWORD levels = texture->GetLevelCount();
  for (DWORD level = 0; level < levels; ++level) {
    switch (texture->GetType()) {
      case D3DRTYPE_VOLUMETEXTURE: {
        ComRef<IDirect3DVolume9> volume;
        if (SUCCEEDED(static_cast<IDirect3DVolumeTexture9*>(texture)->GetVolumeLevel(level, volume.Put())))
          ReadBack<VolumeLock>(volume.Get(), palette);
        break;
      }
      case D3DRTYPE_CUBETEXTURE:
        for (int face = 0; face < 6; ++face) {
          ComRef<IDirect3DSurface9> surface;
          if (SUCCEEDED(static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(
                  static_cast<D3DCUBEMAP_FACES>(face), level, surface.Put())))
            ReadBack<SurfaceLock>(surface.Get(), palette);
        }
        break;
      default: {
        ComRef<IDirect3DSurface9> surface;
        if (SUCCEEDED(static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, surface.Put())))
          ReadBack<SurfaceLock>(surface.Get(), palette);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nura::fuzz::HeadlessDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kOptions = 4;
  if (size <= kOptions) return 0;
  const std::uint8_t* file = data + kOptions;
  const UINT fileSize = static_cast<UINT>(size - kOptions);
  ImageInfo header{};
  if (SUCCEEDED(ReadImageInfoFromFileData(file, fileSize, &header)) &&
      std::uint64_t{header.width} * header.height * header.depth > kMostTexels)
    return 0;

  const D3DFORMAT format = kFormats[data[0] % std::size(kFormats)];
  const std::uint8_t filters = data[1], request = data[2], device = data[3];
  platform::test::SelectD3D9CapsProfile(kCapsProfiles[device & 7]);
  platform::test::SelectD3D9FormatProfile(device & 8 ? "wide" : "game");
  // Dither on the copy; error diffusion and sRGB on both filters.
  const DWORD copyFlags = (filters & 0x40 ? FilterFlags::OrderedDither : 0) |
                          (filters & 0x80 ? FilterFlags::ErrorDiffusion | FilterFlags::SourceSrgb : 0);
  const DWORD mipFlags = filters & 0x80 ? FilterFlags::DestSrgb : 0;
  const DWORD filter = WithFlags(kFilters[filters & 7], copyFlags);
  const DWORD mipFilter = WithFlags(kFilters[(filters >> 3) & 7], mipFlags);
  const DWORD type = kTypes[request & 3];
  const UINT sizes = kSizes[(request >> 2) & 3];
  const UINT levels = kLevels[(request >> 4) & 3];
  const D3DCOLOR colourKey = request & 0x40 ? 0xFF000000u : 0;
  const D3DPOOL pool = request & 0x80 ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;

  PaletteEntry palette[256] = {};
  ImageInfo info{};
  IDirect3DBaseTexture9* texture = nullptr;
  const HRESULT hr = BuildTextureFromFileData(
      nura::fuzz::HeadlessDevice(), file, fileSize, sizes, sizes, type == D3DRTYPE_VOLUMETEXTURE ? sizes : 1, levels, 0,
      format, pool, filter, mipFilter, colourKey, &info, format == D3DFMT_P8 ? palette : nullptr, type, &texture);
  nura::fuzz::Require(SUCCEEDED(hr) == (texture != nullptr), "a texture exactly when the build succeeds");
  if (!texture) return 0;
  nura::fuzz::Require(type == kGxlResourceTypeFromFile || texture->GetType() == static_cast<D3DRESOURCETYPE>(type),
                      "the texture is of the type asked for");
  nura::fuzz::Require(levels != kGxlFromFile || texture->GetLevelCount() == info.mipCount,
                      "the file's level count when asked for exactly");
  // Default-pool textures cannot be locked; the others are read back.
  if (pool != D3DPOOL_DEFAULT) ReadBackLevels(texture, palette);
  texture->Release();
  return 0;
}
