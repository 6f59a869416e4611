// BuildTextureFromFileData and GXLRebuildMipChain.
#include "gxl/tex/texture_build.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "gxl/tex/com_ref.h"
#include "gxl/tex/decoded_image.h"
#include "gxl/tex/filter_flags.h"
#include "gxl/tex/fit.h"
#include "gxl/tex/pixel_format.h"
#include "gxl/tex/texture_import.h"
#include "gxl/tex/texture_levels.h"
#include "platform/d3d9_api.h"

using gxl::ComRef;
using gxl::tex::detail::GetLevelSurface;

namespace {

constexpr DWORD kDefaultFilter = FilterFlags::Triangle | FilterFlags::OrderedDither;

bool IsPowerOfTwo(UINT v) { return v && !(v & (v - 1)); }

// The smallest power of two not below v (1 for 0 and 1).
UINT RoundUpToPowerOfTwo(UINT v) {
  UINT p = 1;
  while (p < v && p <= 0x7FFFFFFFu) p <<= 1;
  return p;
}

// A size argument against the file's value.
UINT ResolveSize(UINT requested, UINT file) {
  if (requested == kGxlDefaultNonPow2 || requested == kGxlFromFile || static_cast<INT>(file) < 0) return file;
  if (requested == 0 || requested == kGxlDefault) return RoundUpToPowerOfTwo(file);
  return requested;
}

PaletteEntry EntryOfArgb(D3DCOLOR argb) {
  return PaletteEntry{static_cast<std::uint8_t>(argb >> 16), static_cast<std::uint8_t>(argb >> 8),
                      static_cast<std::uint8_t>(argb), static_cast<std::uint8_t>(argb >> 24)};
}

bool SameEntry(const PaletteEntry& a, const PaletteEntry& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.flags == b.flags;
}

// A palette that is exactly the grey ramp, or exactly the R3G3B2 colour cube:
// the indices are then the texels of that format.
bool IsGreyRamp(const PaletteEntry* p) {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    if (!SameEntry(p[i], PaletteEntry{v, v, v, 255})) return false;
  }
  return true;
}
bool IsR3G3B2Cube(const PaletteEntry* p) {
  static constexpr std::uint8_t kLevel3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
  static constexpr std::uint8_t kLevel2[4] = {0, 85, 170, 255};
  for (int i = 0; i < 256; ++i)
    if (!SameEntry(p[i], PaletteEntry{kLevel3[i >> 5], kLevel3[(i >> 2) & 7], kLevel2[i & 3], 255})) return false;
  return true;
}

std::uint32_t FaceCount(const DecodedImage& image) {
  std::uint32_t n = 0;
  for (const DecodedImage* f = &image; f; f = f->nextFace.get()) ++n;
  return n;
}

const DecodedImage* LevelOf(const DecodedImage* face, UINT level) {
  for (; face && level; --level) face = face->nextMip.get();
  return face;
}

// A file decodes for a texture of the device to no more texels than the
// device's largest texture holds (scratch textures know no device limits).
std::uint64_t DecodeCeiling(IDirect3DDevice9* device, D3DPOOL pool) {
  D3DCAPS9 caps{};
  if (pool == D3DPOOL_SCRATCH || FAILED(device->GetDeviceCaps(&caps))) return kDecodeTexelBudget;
  return std::min(kDecodeTexelBudget, std::uint64_t{caps.MaxTextureWidth} * caps.MaxTextureHeight);
}

HRESULT CreateOfType(IDirect3DDevice9* device, DWORD type, UINT width, UINT height, UINT depth, UINT levels,
                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DBaseTexture9** out) {
  HRESULT hr;
  if (type == D3DRTYPE_VOLUMETEXTURE) {
    IDirect3DVolumeTexture9* t = nullptr;
    hr = device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, &t, nullptr);
    *out = t;
  } else if (type == D3DRTYPE_CUBETEXTURE) {
    IDirect3DCubeTexture9* t = nullptr;
    hr = device->CreateCubeTexture(width, levels, usage, format, pool, &t, nullptr);
    *out = t;
  } else {
    IDirect3DTexture9* t = nullptr;
    hr = device->CreateTexture(width, height, levels, usage, format, pool, &t, nullptr);
    *out = t;
  }
  return hr;
}

// Copies one decoded record into level `level` of face `face`.
HRESULT ImportLevel(IDirect3DBaseTexture9* texture, DWORD type, UINT face, UINT level, const DecodedImage& record,
                    D3DFORMAT format, const PaletteEntry* destinationPalette, const PaletteEntry* sourcePalette,
                    DWORD filter, D3DCOLOR colourKey) {
  HRESULT hr;
  if (type == D3DRTYPE_VOLUMETEXTURE) {
    ComRef<IDirect3DVolume9> volume;
    hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetVolumeLevel(level, volume.Put());
    if (FAILED(hr)) return hr;
    const D3DBOX box{record.box.left,   record.box.top,   record.box.right,
                     record.box.bottom, record.box.front, record.box.back};
    return GXLImportVolumeFromPixels(volume.Get(), destinationPalette, nullptr, record.pixels, format, record.rowPitch,
                                     record.slicePitch, sourcePalette, &box, filter, colourKey);
  }
  ComRef<IDirect3DSurface9> surface;
  hr = GetLevelSurface(texture, static_cast<D3DRESOURCETYPE>(type), face, level, surface.Put());
  if (FAILED(hr)) return hr;
  const RECT rect{static_cast<LONG>(record.box.left), static_cast<LONG>(record.box.top),
                  static_cast<LONG>(record.box.right), static_cast<LONG>(record.box.bottom)};
  return GXLImportSurfaceFromPixels(surface.Get(), destinationPalette, nullptr, record.pixels, format, record.rowPitch,
                                    sourcePalette, &rect, filter, colourKey);
}

}  // namespace

HRESULT BuildTextureFromFileData(IDirect3DDevice9* device, const void* data, UINT size, UINT width, UINT height,
                                 UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                 DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PaletteEntry* palette,
                                 DWORD resourceType, IDirect3DBaseTexture9** out) {
  if (!device || !data || !size || !out) return D3DERR_INVALIDCALL;
  const bool exactWidth = width == kGxlFromFile, exactHeight = height == kGxlFromFile;
  const bool exactDepth = depth == kGxlFromFile, exactLevels = levels == kGxlFromFile;
  const bool exactFormat = format == kGxlFormatFromFile;

  ImageInfo localInfo{};
  DecodedImage image;
  image.maxTexels = DecodeCeiling(device, pool);
  HRESULT hr = image.DecodeImage(data, size, info ? info : &localInfo, true);
  if (FAILED(hr)) return hr;
  if (resourceType == kGxlResourceTypeFromFile) resourceType = image.resourceType;

  const UINT fileLevels = image.LevelCount();
  const UINT faces = resourceType == D3DRTYPE_CUBETEXTURE ? 6 : 1;
  if (resourceType == D3DRTYPE_CUBETEXTURE && FaceCount(image) != 6) return E_FAIL;
  if (exactLevels) levels = fileLevels;
  width = ResolveSize(width, image.width);
  height = ResolveSize(height, image.height);
  depth = ResolveSize(depth, image.depth);

  if (filter == kGxlDefault) filter = kDefaultFilter;
  if (mipFilter == kGxlDefault) mipFilter = FilterFlags::Box;
  if (resourceType == D3DRTYPE_CUBETEXTURE) {
    filter |= FilterFlags::Mirror;
    mipFilter |= FilterFlags::Mirror;
  }
  const DWORD filterKind = filter & 0xFF, mipKind = mipFilter & 0xFF;
  const bool rebuild = filterKind == FilterFlags::None || mipKind == FilterFlags::Point || mipKind == FilterFlags::Box;

  // The palette the import reads: the file's with the colour key applied, or
  // opaque white.
  PaletteEntry working[256];
  D3DFORMAT decoded = image.format;
  if (image.palette) {
    std::memcpy(working, image.palette, sizeof working);
    if (colourKey) {
      const PaletteEntry key = EntryOfArgb(colourKey);
      for (PaletteEntry& e : working)
        if (SameEntry(e, key)) e = PaletteEntry{0, 0, 0, 0};
      colourKey = 0;
    }
    // Indices that are plain grey or R3G3B2 texels load as such, unless the
    // caller wants the palette itself.
    if (format != D3DFMT_P8 && decoded == D3DFMT_P8 && !palette) {
      if (IsGreyRamp(working))
        decoded = D3DFMT_L8;
      else if (IsR3G3B2Cube(working))
        decoded = D3DFMT_R3G3B2;
    }
  } else {
    for (PaletteEntry& e : working) e = PaletteEntry{255, 255, 255, 255};
  }

  if (format == D3DFMT_UNKNOWN || exactFormat) {
    format = decoded;
    const PixelFormatInfo* d = FindPixelFormatInfo(decoded);
    if (colourKey && d->alpha == 0 &&
        (d->formatClass == kClassColour || d->formatClass == kClassPalettized || d->formatClass == kClassLuminance)) {
      // The key needs an alpha channel.
      PixelFormatInfo request = *d;
      request.format = D3DFMT_UNKNOWN;
      request.alpha = 1;
      const D3DFORMAT keyed = FindBestPixelFormat(nullptr, usage, static_cast<D3DRESOURCETYPE>(resourceType), request);
      if (keyed != D3DFMT_UNKNOWN) format = keyed;
    }
  }
  format = MapPrivateFormat(format);
  if (pool != D3DPOOL_SCRATCH && format == D3DFMT_R8G8B8) format = D3DFMT_X8R8G8B8;

  bool keepFormat = false;
  if (palette) {
    std::memcpy(palette, working, sizeof working);
    keepFormat = image.palette != nullptr;
  }
  if (!keepFormat) {
    if (exactFormat && (format == D3DFMT_A8P8 || format == D3DFMT_P8)) return D3DERR_INVALIDCALL;
    if (format == D3DFMT_A8P8) {
      format = D3DFMT_A8R8G8B8;
    } else if (format == D3DFMT_P8) {
      const bool translucent =
          std::any_of(std::begin(working), std::end(working), [](const PaletteEntry& e) { return e.flags < 255; });
      format = translucent ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    }
  }

  const bool staging = pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC);
  UINT fitWidth = width, fitHeight = height, fitDepth = depth, fitLevels = levels;
  D3DFORMAT fitFormat = format;
  hr = FitResourceParameters(device, &fitWidth, &fitHeight, &fitDepth, &fitLevels, usage, &fitFormat, pool,
                             static_cast<D3DRESOURCETYPE>(resourceType));
  if (FAILED(hr)) return hr;
  if ((exactWidth && fitWidth != width) || (exactHeight && fitHeight != height) || (exactDepth && fitDepth != depth) ||
      (exactLevels && fitLevels != levels) || (exactFormat && fitFormat != format))
    return D3DERR_NOTAVAILABLE;

  ComRef<IDirect3DBaseTexture9> texture, stagingTexture;
  hr = CreateOfType(device, resourceType, fitWidth, fitHeight, fitDepth, fitLevels, usage & ~kUsageQueryBits, fitFormat,
                    pool, texture.Put());
  if (FAILED(hr)) return hr;
  if (staging) {
    hr = CreateOfType(device, resourceType, fitWidth, fitHeight, fitDepth, fitLevels, 0, fitFormat, D3DPOOL_SYSTEMMEM,
                      stagingTexture.Put());
    if (FAILED(hr)) return hr;
  }
  IDirect3DBaseTexture9* written = staging ? stagingTexture.Get() : texture.Get();

  const UINT textureLevels = written->GetLevelCount();
  const UINT copied = std::min(textureLevels, fileLevels);
  const DecodedImage* face = &image;
  for (UINT f = 0; f < faces && face; ++f, face = face->nextFace.get()) {
    for (UINT level = 0; level < copied; ++level) {
      hr = ImportLevel(written, resourceType, f, level, *LevelOf(face, level), decoded, palette, working, filter,
                       colourKey);
      if (FAILED(hr)) return hr;
    }
    if (!rebuild) {
      const DecodedImage& last = *LevelOf(face, copied - 1);
      for (UINT level = copied; level < textureLevels; ++level) {
        hr = ImportLevel(written, resourceType, f, level, last, decoded, palette, working, filter, colourKey);
        if (FAILED(hr)) return hr;
      }
    }
  }
  if (rebuild && fileLevels < textureLevels) {
    hr = GXLRebuildMipChain(written, working, fileLevels - 1, mipFilter);
    if (FAILED(hr)) return hr;
  }
  if (staging) {
    hr = device->UpdateTexture(stagingTexture.Get(), texture.Get());
    if (FAILED(hr)) return hr;
  }
  *out = texture.Detach();
  return S_OK;
}

HRESULT GXLRebuildMipChain(IDirect3DBaseTexture9* texture, const PaletteEntry* palette, UINT sourceLevel,
                           DWORD filter) {
  if (!texture) return D3DERR_INVALIDCALL;
  const D3DRESOURCETYPE type = texture->GetType();
  if (type != D3DRTYPE_TEXTURE && type != D3DRTYPE_VOLUMETEXTURE && type != D3DRTYPE_CUBETEXTURE)
    return D3DERR_INVALIDCALL;

  if (filter == kGxlDefault) {
    bool powers;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
      D3DVOLUME_DESC d{};
      const HRESULT hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetLevelDesc(0, &d);
      if (FAILED(hr)) return hr;
      powers = IsPowerOfTwo(d.Width) && IsPowerOfTwo(d.Height) && IsPowerOfTwo(d.Depth);
    } else {
      D3DSURFACE_DESC d{};
      const HRESULT hr = type == D3DRTYPE_CUBETEXTURE
                             ? static_cast<IDirect3DCubeTexture9*>(texture)->GetLevelDesc(0, &d)
                             : static_cast<IDirect3DTexture9*>(texture)->GetLevelDesc(0, &d);
      if (FAILED(hr)) return hr;
      powers = IsPowerOfTwo(d.Width) && IsPowerOfTwo(d.Height);
    }
    filter = powers ? FilterFlags::Box : kDefaultFilter;
  }
  if (type == D3DRTYPE_CUBETEXTURE) filter |= FilterFlags::Mirror;
  // Every level is written and then read: both sRGB sides or neither.
  if (filter & FilterFlags::DestSrgb)
    filter |= FilterFlags::SourceSrgb;
  else
    filter &= ~(FilterFlags::SourceSrgb | FilterFlags::DestSrgb);

  if (sourceLevel == kGxlDefault) sourceLevel = 0;
  const UINT levels = texture->GetLevelCount();
  if (sourceLevel >= levels) return D3DERR_INVALIDCALL;
  const DWORD kind = filter & 0xFF;
  const bool chain = kind == FilterFlags::Point || kind == FilterFlags::Box;

  const UINT faces = type == D3DRTYPE_CUBETEXTURE ? 6 : 1;
  for (UINT face = 0; face < faces; ++face) {
    if (type == D3DRTYPE_VOLUMETEXTURE) {
      auto* volumes = static_cast<IDirect3DVolumeTexture9*>(texture);
      ComRef<IDirect3DVolume9> source;
      HRESULT hr = volumes->GetVolumeLevel(sourceLevel, source.Put());
      if (FAILED(hr)) return hr;
      for (UINT level = sourceLevel + 1; level < levels; ++level) {
        ComRef<IDirect3DVolume9> target;
        hr = volumes->GetVolumeLevel(level, target.Put());
        if (SUCCEEDED(hr))
          hr = GXLImportVolumeFromVolume(target.Get(), palette, nullptr, source.Get(), palette, nullptr, filter, 0);
        if (FAILED(hr)) return hr;
        if (chain) std::swap(source, target);
      }
    } else {
      ComRef<IDirect3DSurface9> source;
      HRESULT hr = GetLevelSurface(texture, type, face, sourceLevel, source.Put());
      if (FAILED(hr)) return hr;
      for (UINT level = sourceLevel + 1; level < levels; ++level) {
        ComRef<IDirect3DSurface9> target;
        hr = GetLevelSurface(texture, type, face, level, target.Put());
        if (SUCCEEDED(hr))
          hr = GXLImportSurfaceFromSurface(target.Get(), palette, nullptr, source.Get(), palette, nullptr, filter, 0);
        if (FAILED(hr)) return hr;
        if (chain) std::swap(source, target);
      }
    }
  }
  return S_OK;
}
