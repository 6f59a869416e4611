// Texture creation from an image file in memory with the caller's choices:
// four leading bytes pick the texture format (the DXT formats among them),
// the filters that copy the file's levels and make the missing ones, the
// resource type, size and level requests, pool and colour key, and the
// device's capability and format profiles; the rest is the file. A built
// texture is exported as a DDS file in memory, which must read back with
// every level's texels, and read level by level through the codecs. Files of
// more than a megatexel are left to the texture_build target, which builds
// them once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_input.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/image_export.h"
#include "gxl/tex/pixel_codec.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/surface_lock.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"
#include "platform/testing_d3d9.h"

namespace {

using gxl::ComRef;
using nura::fuzz::Require;

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

// The record of a face and level in a decoded chain, or null.
const DecodedImage* RecordAt(const DecodedImage* image, UINT face, UINT level) {
  for (; image && face; --face) image = image->nextFace.get();
  for (; image && level; --level) image = image->nextMip.get();
  return image;
}

// Compares a locked level with the record its texture's DDS export read back
// as, byte for byte, then reads every texel through the level's codec.
template <class Lock, class Object>
void CheckLevel(Object* object, const PaletteEntry* palette, const DecodedImage* exported) {
  Lock lock;
  ImageRegion region{};
  Require(SUCCEEDED(lock.Lock(&region, object, palette, nullptr, 0, LockFlags::ReadOnly)), "a level locks");
  const D3DFORMAT format = static_cast<D3DFORMAT>(region.format);
  const std::uint32_t width = region.box.right - region.box.left, height = region.box.bottom - region.box.top,
                      depth = region.box.back - region.box.front;
  Require(exported && exported->format == format && exported->width == width && exported->height == height &&
              exported->depth == depth,
          "the DDS export keeps every level's format and size");
  const std::uint64_t rowBytes = StoredRowBytes(format, width), rows = StoredRowCount(format, height);
  const auto* texels = static_cast<const std::uint8_t*>(region.pixels);
  const auto* saved = static_cast<const std::uint8_t*>(exported->pixels);
  for (std::uint64_t z = 0; z < depth; ++z)
    for (std::uint64_t y = 0; y < rows; ++y)
      Require(std::memcmp(texels + z * region.slicePitch + y * region.rowPitch,
                          saved + z * exported->slicePitch + y * exported->rowPitch, rowBytes) == 0,
              "the DDS export keeps the texels");
  if (format == D3DFMT_P8)
    Require(std::memcmp(exported->palette, palette, 256 * sizeof(PaletteEntry)) == 0,
            "the DDS export keeps the palette");

  std::unique_ptr<PixelCodec> codec = CreatePixelCodec(region);
  if (!codec) return;
  std::vector<ColorF> row(width);
  for (std::uint32_t z = 0; z < depth; ++z)
    for (std::uint32_t y = 0; y < height; ++y) codec->ReadRow(y, z, row.data());
}

void CheckLevels(IDirect3DBaseTexture9* texture, const PaletteEntry* palette) {
  ComRef<DataBuffer> bytes;
  Require(SUCCEEDED(GXLExportTextureToMemory(bytes.Put(), ImageFileType::Dds, texture, palette)),
          "a texture exports as DDS");
  DecodedImage exported;
  Require(SUCCEEDED(exported.DecodeImage(bytes->GetPointer(), bytes->GetSize(), nullptr, true)),
          "the DDS export reads back");
  const DWORD levels = texture->GetLevelCount();
  Require(exported.LevelCount() == levels, "the DDS export keeps the level count");
  for (DWORD level = 0; level < levels; ++level) {
    switch (texture->GetType()) {
      case D3DRTYPE_VOLUMETEXTURE: {
        ComRef<IDirect3DVolume9> volume;
        Require(SUCCEEDED(static_cast<IDirect3DVolumeTexture9*>(texture)->GetVolumeLevel(level, volume.Put())),
                "volume level");
        CheckLevel<VolumeLock>(volume.Get(), palette, RecordAt(&exported, 0, level));
        break;
      }
      case D3DRTYPE_CUBETEXTURE:
        for (UINT face = 0; face < 6; ++face) {
          ComRef<IDirect3DSurface9> surface;
          Require(SUCCEEDED(static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(
                      static_cast<D3DCUBEMAP_FACES>(face), level, surface.Put())),
                  "cube face level");
          CheckLevel<SurfaceLock>(surface.Get(), palette, RecordAt(&exported, face, level));
        }
        break;
      default: {
        ComRef<IDirect3DSurface9> surface;
        Require(SUCCEEDED(static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, surface.Put())),
                "surface level");
        CheckLevel<SurfaceLock>(surface.Get(), palette, RecordAt(&exported, 0, level));
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
  Require(SUCCEEDED(hr) == (texture != nullptr), "a texture exactly when the build succeeds");
  if (!texture) return 0;
  Require(type == kGxlResourceTypeFromFile || texture->GetType() == static_cast<D3DRESOURCETYPE>(type),
          "the texture is of the type asked for");
  Require(levels != kGxlFromFile || texture->GetLevelCount() == info.mipCount,
          "the file's level count when asked for exactly");
  // Default-pool textures cannot be locked; the others are checked.
  if (pool != D3DPOOL_DEFAULT) CheckLevels(texture, format == D3DFMT_P8 ? palette : nullptr);
  texture->Release();
  return 0;
}
