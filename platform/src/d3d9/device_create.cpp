// Resource creation: the pool, usage, format and capability rules, then the
// object itself.
#include <cstdio>

#include "d3d9/buffers.h"
#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/state_block.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "d3d9/volume.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

constexpr DWORD kTextureUsage = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_SOFTWAREPROCESSING |
                                D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP;

std::string Detail(const TextureShape& s) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%ux%ux%u levels=%u usage=0x%X format=%u pool=%u", s.width, s.height, s.depth,
                s.levels, static_cast<unsigned>(s.usage), static_cast<unsigned>(s.format),
                static_cast<unsigned>(s.pool));
  return buf;
}

// Checks a texture request against the pool, usage, format and capability
// rules; on success shape->levels holds the levels to store.
HRESULT CheckTexture(const Device& device, TextureShape* shape) {
  const TextureShape& s = *shape;
  if (s.pool > D3DPOOL_SCRATCH || s.width == 0 || s.height == 0 || s.depth == 0) return D3DERR_INVALIDCALL;
  if (s.usage & ~kTextureUsage) return D3DERR_INVALIDCALL;
  const FormatInfo* info = FindFormat(s.format);
  if (!info) return D3DERR_INVALIDCALL;
  if ((s.usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && s.pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if ((s.usage & D3DUSAGE_DYNAMIC) && (s.pool == D3DPOOL_MANAGED || s.pool == D3DPOOL_SCRATCH ||
                                       (s.usage & D3DUSAGE_RENDERTARGET)))
    return D3DERR_INVALIDCALL;
  const bool autogen = (s.usage & D3DUSAGE_AUTOGENMIPMAP) != 0;
  if (autogen && (s.pool == D3DPOOL_SYSTEMMEM || s.pool == D3DPOOL_SCRATCH || s.levels > 1))
    return D3DERR_INVALIDCALL;
  // A DXT level 0 is whole blocks.
  if (info->kind == FormatKind::Dxt && (s.width % 4 || s.height % 4)) return D3DERR_INVALIDCALL;
  const bool volume = s.type == D3DRTYPE_VOLUMETEXTURE;
  const UINT full = FullChainLength(s.width, s.height, volume ? s.depth : 1);
  if (s.levels > full) return D3DERR_INVALIDCALL;

  if (s.pool == D3DPOOL_SCRATCH) {
    // Any storable format and size, no caps.
    shape->levels = s.levels == 0 ? full : s.levels;
    return D3D_OK;
  }
  // System-memory textures take every storable format; the others what the
  // device answers for the format.
  if (s.pool != D3DPOOL_SYSTEMMEM && FAILED(CheckFormat(s.usage, s.type, s.format))) return D3DERR_INVALIDCALL;

  const D3DCAPS9 caps = device.Caps();
  const DWORD tc = caps.TextureCaps;
  DWORD mipCap = D3DPTEXTURECAPS_MIPMAP, pow2Cap = D3DPTEXTURECAPS_POW2;
  if (s.type == D3DRTYPE_CUBETEXTURE) {
    if (!(tc & D3DPTEXTURECAPS_CUBEMAP) || s.width > caps.MaxTextureWidth) return D3DERR_INVALIDCALL;
    mipCap = D3DPTEXTURECAPS_MIPCUBEMAP;
    pow2Cap = D3DPTEXTURECAPS_CUBEMAP_POW2;
  } else if (volume) {
    if (!(tc & D3DPTEXTURECAPS_VOLUMEMAP)) return D3DERR_INVALIDCALL;
    if (s.width > caps.MaxVolumeExtent || s.height > caps.MaxVolumeExtent || s.depth > caps.MaxVolumeExtent)
      return D3DERR_INVALIDCALL;
    mipCap = D3DPTEXTURECAPS_MIPVOLUMEMAP;
    pow2Cap = D3DPTEXTURECAPS_VOLUMEMAP_POW2;
  } else {
    if (s.width > caps.MaxTextureWidth || s.height > caps.MaxTextureHeight) return D3DERR_INVALIDCALL;
    if ((tc & D3DPTEXTURECAPS_SQUAREONLY) && s.width != s.height) return D3DERR_INVALIDCALL;
    const UINT ratio = caps.MaxTextureAspectRatio;
    if (ratio && (s.width / s.height > ratio || s.height / s.width > ratio)) return D3DERR_INVALIDCALL;
  }

  UINT levels = s.levels;
  if (autogen)
    levels = 1;
  else if (levels == 0)
    levels = (tc & mipCap) ? full : 1;
  if (levels > 1 && !(tc & mipCap)) return D3DERR_INVALIDCALL;

  const bool pow2 = IsPow2(s.width) && IsPow2(s.height) && (!volume || IsPow2(s.depth));
  // NONPOW2CONDITIONAL admits other sizes for 2-D textures of one level, not DXT.
  const bool conditional = s.type == D3DRTYPE_TEXTURE && (tc & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
                           levels == 1 && info->kind != FormatKind::Dxt;
  if ((tc & pow2Cap) && !pow2 && !conditional) return D3DERR_INVALIDCALL;
  shape->levels = levels;
  return D3D_OK;
}

}  // namespace

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  TextureShape shape{D3DRTYPE_TEXTURE, width, height, 1, levels, usage, format, pool};
  if (texture) *texture = nullptr;
  if (!texture || sharedHandle) {
    hr = D3DERR_INVALIDCALL;
  } else if (SUCCEEDED(hr = CheckTexture(*this, &shape)) &&
             !platform::detail::ShouldFail("CreateTexture", &hr, Detail(shape))) {
    Texture* t = nullptr;
    hr = Texture::Create(this, shape, &t);
    if (SUCCEEDED(hr)) *texture = t;
  }
  D3D9_RETURN("CreateTexture", hr, width, height, levels, usage, format, pool, texture ? *texture : nullptr);
}

HRESULT Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  TextureShape shape{D3DRTYPE_CUBETEXTURE, edgeLength, edgeLength, 1, levels, usage, format, pool};
  if (texture) *texture = nullptr;
  if (!texture || sharedHandle) {
    hr = D3DERR_INVALIDCALL;
  } else if (SUCCEEDED(hr = CheckTexture(*this, &shape)) &&
             !platform::detail::ShouldFail("CreateCubeTexture", &hr, Detail(shape))) {
    CubeTexture* t = nullptr;
    hr = CubeTexture::Create(this, shape, &t);
    if (SUCCEEDED(hr)) *texture = t;
  }
  D3D9_RETURN("CreateCubeTexture", hr, edgeLength, levels, usage, format, pool, texture ? *texture : nullptr);
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                    D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture,
                                    HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  TextureShape shape{D3DRTYPE_VOLUMETEXTURE, width, height, depth, levels, usage, format, pool};
  if (texture) *texture = nullptr;
  if (!texture || sharedHandle || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL))) {
    hr = D3DERR_INVALIDCALL;
  } else if (SUCCEEDED(hr = CheckTexture(*this, &shape)) &&
             !platform::detail::ShouldFail("CreateVolumeTexture", &hr, Detail(shape))) {
    VolumeTexture* t = nullptr;
    hr = VolumeTexture::Create(this, shape, &t);
    if (SUCCEEDED(hr)) *texture = t;
  }
  D3D9_RETURN("CreateVolumeTexture", hr, width, height, depth, levels, usage, format, pool,
              texture ? *texture : nullptr);
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  if (buffer) *buffer = nullptr;
  if (!buffer || sharedHandle) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateVertexBuffer", &hr)) {
    VertexBuffer* b = nullptr;
    hr = VertexBuffer::Create(this, length, usage, fvf, pool, &b);
    if (SUCCEEDED(hr)) *buffer = b;
  }
  D3D9_RETURN("CreateVertexBuffer", hr, length, usage, fvf, pool, buffer ? *buffer : nullptr);
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  if (buffer) *buffer = nullptr;
  if (!buffer || sharedHandle) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateIndexBuffer", &hr)) {
    IndexBuffer* b = nullptr;
    hr = IndexBuffer::Create(this, length, usage, format, pool, &b);
    if (SUCCEEDED(hr)) *buffer = b;
  }
  D3D9_RETURN("CreateIndexBuffer", hr, length, usage, format, pool, buffer ? *buffer : nullptr);
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                   DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                   HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  const D3DCAPS9 caps = Caps();
  if (surface) *surface = nullptr;
  if (!surface || sharedHandle || multiSample != D3DMULTISAMPLE_NONE || multiSampleQuality != 0 || width == 0 ||
      height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
      FAILED(CheckFormat(D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, format))) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateRenderTarget", &hr)) {
    Surface* s = nullptr;
    hr = Surface::Create(this, SurfaceRole::RenderTarget,
                         SurfaceShape{format, width, height, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT}, lockable != 0,
                         nullptr, 0, 0, &s);
    if (SUCCEEDED(hr)) *surface = s;
  }
  D3D9_RETURN("CreateRenderTarget", hr, width, height, format, multiSample, lockable,
              surface ? *surface : nullptr);
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                          DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                          HANDLE* sharedHandle) {
  HRESULT hr = D3D_OK;
  const D3DCAPS9 caps = Caps();
  if (surface) *surface = nullptr;
  if (!surface || sharedHandle || multiSample != D3DMULTISAMPLE_NONE || multiSampleQuality != 0 || width == 0 ||
      height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
      FAILED(CheckFormat(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format))) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateDepthStencilSurface", &hr)) {
    Surface* s = nullptr;
    hr = Surface::Create(this, SurfaceRole::DepthStencil,
                         SurfaceShape{format, width, height, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT}, false, nullptr,
                         0, 0, &s);
    if (SUCCEEDED(hr)) *surface = s;
  }
  D3D9_RETURN("CreateDepthStencilSurface", hr, width, height, format, multiSample, discard,
              surface ? *surface : nullptr);
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        IDirect3DVertexDeclaration9** declaration) {
  HRESULT hr = D3D_OK;
  if (declaration) *declaration = nullptr;
  if (!elements || !declaration) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateVertexDeclaration", &hr)) {
    VertexDeclaration* d = nullptr;
    hr = VertexDeclaration::Create(this, elements, &d);
    if (SUCCEEDED(hr)) *declaration = d;
  }
  D3D9_RETURN("CreateVertexDeclaration", hr, declaration ? *declaration : nullptr);
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) {
  HRESULT hr = D3D_OK;
  if (block) *block = nullptr;
  // Only whole-state blocks are made here; recorded blocks cover partial sets.
  if (!block || type != D3DSBT_ALL || m_recording) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("CreateStateBlock", &hr)) {
    auto* b = new StateBlock(this, true);
    b->RecordAll();
    *block = b;
  }
  D3D9_RETURN("CreateStateBlock", hr, type, block ? *block : nullptr);
}

}  // namespace platform::d3d9
