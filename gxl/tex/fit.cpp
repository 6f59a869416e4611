#include "gxl/tex/fit.h"

#include <algorithm>
#include <cstdint>

#include "gxl/tex/pixel_format.h"
#include "platform/d3d9_api.h"

namespace {

constexpr UINT kDefault = 0xFFFFFFFFu;

bool IsPow2(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The smallest power of two not below v (1 for 0).
std::uint64_t RoundUpPow2(std::uint64_t v) {
  std::uint64_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

// The number of halvings that take v to 0.
UINT BitLength(std::uint64_t v) {
  UINT n = 0;
  for (; v; v >>= 1) ++n;
  return n;
}

}  // namespace

HRESULT FitResourceParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth, UINT* levels,
                              DWORD usage, D3DFORMAT* format, D3DPOOL pool, D3DRESOURCETYPE type) {
  if (!device) return D3DERR_INVALIDCALL;
  if (usage == 0xFFFFFFFFu) usage = 0;
  if (usage & ~kFitUsageMask) return D3DERR_INVALIDCALL;
  if (pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  const bool scratch = pool == D3DPOOL_SCRATCH;

  // Format.
  D3DFORMAT f = format ? *format : D3DFMT_UNKNOWN;
  if (!scratch) {
    f = FindBestPixelFormat(device, usage, type, *FindPixelFormatInfo(f));
    if (f == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
  } else if (f == D3DFMT_UNKNOWN) {
    f = D3DFMT_A8R8G8B8;
  }

  // Sizes, worked in 64 bits so that no rounding can wrap.
  std::uint64_t w = width ? *width : kDefault;
  std::uint64_t h = height ? *height : kDefault;
  std::uint64_t d = depth ? *depth : kDefault;
  const UINT requestedLevels = levels ? *levels : kDefault;
  if (w == kDefault && h == kDefault) {
    w = h = 256;
  } else {
    if (w == kDefault)
      w = h;
    else if (h == kDefault)
      h = w;
    if (w == 0) w = 1;
    if (h == 0) h = 1;
  }
  if (type == D3DRTYPE_CUBETEXTURE) w = h = std::max(w, h);
  if (d == kDefault || d == 0) d = 1;

  D3DCAPS9 caps{};
  if (!scratch) {
    const HRESULT hr = device->GetDeviceCaps(&caps);
    if (FAILED(hr)) return hr;
    DWORD pow2Bit;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
      d = std::min<std::uint64_t>(d, caps.MaxVolumeExtent);
      w = std::min<std::uint64_t>(w, caps.MaxVolumeExtent);
      h = std::min<std::uint64_t>(h, caps.MaxVolumeExtent);
      pow2Bit = D3DPTEXTURECAPS_VOLUMEMAP_POW2;
    } else {
      w = std::min<std::uint64_t>(w, caps.MaxTextureWidth);
      h = std::min<std::uint64_t>(h, caps.MaxTextureHeight);
      if (type == D3DRTYPE_TEXTURE) {
        const std::uint64_t aspect =
            (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : caps.MaxTextureAspectRatio;
        if (aspect != 0) {
          w = std::min(w, aspect * h);
          h = std::min(h, aspect * w);
        }
      }
      pow2Bit = type == D3DRTYPE_CUBETEXTURE ? D3DPTEXTURECAPS_CUBEMAP_POW2 : D3DPTEXTURECAPS_POW2;
    }
    // A conditional device takes other sizes for 2-D textures of one level
    // only; cube and volume textures keep their own power-of-two rule.
    bool pow2 = (caps.TextureCaps & pow2Bit) != 0;
    if (type == D3DRTYPE_TEXTURE && requestedLevels == 1 && (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
        !IsDxtFormat(f))
      pow2 = false;
    if (pow2) {
      w = RoundUpPow2(w);
      h = RoundUpPow2(h);
      d = RoundUpPow2(d);
    }
  }
  if (IsDxtFormat(f)) {
    w = (w + 3) & ~std::uint64_t{3};
    h = (h + 3) & ~std::uint64_t{3};
  }
  if (w > 0xFFFFFFFFu || h > 0xFFFFFFFFu || d > 0xFFFFFFFFu) return D3DERR_NOTAVAILABLE;

  // Level count.
  UINT n = requestedLevels;
  bool fullChainAllowed = true;
  if (!scratch) {
    const DWORD mipBit = type == D3DRTYPE_VOLUMETEXTURE  ? D3DPTEXTURECAPS_MIPVOLUMEMAP
                         : type == D3DRTYPE_CUBETEXTURE ? D3DPTEXTURECAPS_MIPCUBEMAP
                                                        : D3DPTEXTURECAPS_MIPMAP;
    if (!(caps.TextureCaps & mipBit) || ((caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
                                          (!IsPow2(w) || !IsPow2(h) || !IsPow2(d)))) {
      n = 1;
      fullChainAllowed = false;
    }
  }
  if (fullChainAllowed) {
    UINT full = std::max(BitLength(w), BitLength(h));
    if (type == D3DRTYPE_VOLUMETEXTURE) full = std::max(full, BitLength(d));
    if (n == 0 || n > full) n = full;
    if (n != 1 && (usage & D3DUSAGE_AUTOGENMIPMAP)) n = 0;
  }

  if (width) *width = static_cast<UINT>(w);
  if (height) *height = static_cast<UINT>(h);
  if (depth) *depth = static_cast<UINT>(d);
  if (levels) *levels = n;
  if (format) *format = f;
  return S_OK;
}

HRESULT GXLFitTextureParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                D3DFORMAT* format, D3DPOOL pool) {
  return FitResourceParameters(device, width, height, nullptr, levels, usage, format, pool, D3DRTYPE_TEXTURE);
}

HRESULT GXLFitCubeTextureParameters(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                    D3DFORMAT* format, D3DPOOL pool) {
  return FitResourceParameters(device, size, size, nullptr, levels, usage, format, pool, D3DRTYPE_CUBETEXTURE);
}

HRESULT GXLFitVolumeTextureParameters(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth,
                                      UINT* levels, DWORD usage, D3DFORMAT* format, D3DPOOL pool) {
  return FitResourceParameters(device, width, height, depth, levels, usage, format, pool,
                               D3DRTYPE_VOLUMETEXTURE);
}

HRESULT GXLCreateFittedTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage,
                               D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** out) {
  if (!device || !out) return D3DERR_INVALIDCALL;
  if (usage == 0xFFFFFFFFu) usage = 0;
  const HRESULT hr = FitResourceParameters(device, &width, &height, nullptr, &levels, usage, &format, pool,
                                           D3DRTYPE_TEXTURE);
  if (FAILED(hr)) return hr;
  return device->CreateTexture(width, height, levels, usage & ~kUsageQueryBits, format, pool, out, nullptr);
}

HRESULT GXLCreateFittedCubeTexture(IDirect3DDevice9* device, UINT size, UINT levels, DWORD usage,
                                   D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9** out) {
  if (!device || !out) return D3DERR_INVALIDCALL;
  if (usage == 0xFFFFFFFFu) usage = 0;
  const HRESULT hr = FitResourceParameters(device, &size, &size, nullptr, &levels, usage, &format, pool,
                                           D3DRTYPE_CUBETEXTURE);
  if (FAILED(hr)) return hr;
  return device->CreateCubeTexture(size, levels, usage & ~kUsageQueryBits, format, pool, out, nullptr);
}

HRESULT GXLCreateFittedVolumeTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT depth, UINT levels,
                                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** out) {
  if (!device || !out) return D3DERR_INVALIDCALL;
  if (usage == 0xFFFFFFFFu) usage = 0;
  const HRESULT hr = FitResourceParameters(device, &width, &height, &depth, &levels, usage, &format, pool,
                                           D3DRTYPE_VOLUMETEXTURE);
  if (FAILED(hr)) return hr;
  return device->CreateVolumeTexture(width, height, depth, levels, usage & ~kUsageQueryBits, format, pool, out,
                                     nullptr);
}
