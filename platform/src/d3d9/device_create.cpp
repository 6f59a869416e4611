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

// The frame every creation shares: the out pointer cleared, a refused call
// answered D3DERR_INVALIDCALL, then the failure hooks, then `make`, whose
// object is handed out when it succeeds.
template <class Object, class Interface, class Make>
HRESULT CreateInto(const char* method, bool refused, Interface** out, Make make) {
  if (out) *out = nullptr;
  if (!out || refused) return D3DERR_INVALIDCALL;
  HRESULT hr = D3D_OK;
  if (platform::detail::ShouldFail(method, &hr)) return hr;
  Object* object = nullptr;
  hr = make(&object);
  if (SUCCEEDED(hr)) *out = object;
  return hr;
}

// The same for textures, whose request is checked (and its levels settled)
// before the failure hooks see it.
template <class TextureType, class Interface>
HRESULT CreateTextureOf(Device* device, const char* method, TextureShape shape, bool refused, Interface** texture) {
  if (texture) *texture = nullptr;
  if (!texture || refused) return D3DERR_INVALIDCALL;
  HRESULT hr = CheckTexture(*device, &shape);
  if (FAILED(hr) || platform::detail::ShouldFail(method, &hr, Detail(shape))) return hr;
  TextureType* t = nullptr;
  hr = TextureType::Create(device, shape, &t);
  if (SUCCEEDED(hr)) *texture = t;
  return hr;
}

// A render target or depth-stencil surface of its own, in the default pool.
HRESULT CreateLoneSurface(Device* device, const char* method, SurfaceRole role, DWORD usage, UINT width, UINT height,
                          D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality, bool lockable,
                          HANDLE* sharedHandle, IDirect3DSurface9** surface) {
  const D3DCAPS9 caps = device->Caps();
  const bool refused = !surface || sharedHandle || multiSample != D3DMULTISAMPLE_NONE || multiSampleQuality != 0 ||
                       width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
                       FAILED(CheckFormat(usage, D3DRTYPE_SURFACE, format));
  return CreateInto<Surface>(method, refused, surface, [&](Surface** s) {
    return Surface::Create(device, role, SurfaceShape{format, width, height, usage, D3DPOOL_DEFAULT}, lockable, nullptr,
                           s);
  });
}

}  // namespace

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle) {
  const HRESULT hr =
      CreateTextureOf<Texture>(this, "CreateTexture", {D3DRTYPE_TEXTURE, width, height, 1, levels, usage, format, pool},
                               sharedHandle != nullptr, texture);
  D3D9_RETURN("CreateTexture", hr, width, height, levels, usage, format, pool, texture ? *texture : nullptr);
}

HRESULT Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) {
  const HRESULT hr = CreateTextureOf<CubeTexture>(
      this, "CreateCubeTexture", {D3DRTYPE_CUBETEXTURE, edgeLength, edgeLength, 1, levels, usage, format, pool},
      sharedHandle != nullptr, texture);
  D3D9_RETURN("CreateCubeTexture", hr, edgeLength, levels, usage, format, pool, texture ? *texture : nullptr);
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                    D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) {
  const HRESULT hr = CreateTextureOf<VolumeTexture>(
      this, "CreateVolumeTexture", {D3DRTYPE_VOLUMETEXTURE, width, height, depth, levels, usage, format, pool},
      sharedHandle || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)), texture);
  D3D9_RETURN("CreateVolumeTexture", hr, width, height, depth, levels, usage, format, pool,
              texture ? *texture : nullptr);
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE* sharedHandle) {
  const HRESULT hr = CreateInto<VertexBuffer>(
      "CreateVertexBuffer", sharedHandle != nullptr, buffer,
      [&](VertexBuffer** b) { return VertexBuffer::Create(this, length, usage, fvf, pool, b); });
  D3D9_RETURN("CreateVertexBuffer", hr, length, usage, fvf, pool, buffer ? *buffer : nullptr);
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
  const HRESULT hr = CreateInto<IndexBuffer>(
      "CreateIndexBuffer", sharedHandle != nullptr, buffer,
      [&](IndexBuffer** b) { return IndexBuffer::Create(this, length, usage, format, pool, b); });
  D3D9_RETURN("CreateIndexBuffer", hr, length, usage, format, pool, buffer ? *buffer : nullptr);
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                   DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                   HANDLE* sharedHandle) {
  const HRESULT hr =
      CreateLoneSurface(this, "CreateRenderTarget", SurfaceRole::RenderTarget, D3DUSAGE_RENDERTARGET, width, height,
                        format, multiSample, multiSampleQuality, lockable != 0, sharedHandle, surface);
  D3D9_RETURN("CreateRenderTarget", hr, width, height, format, multiSample, lockable, surface ? *surface : nullptr);
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                          DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                          HANDLE* sharedHandle) {
  const HRESULT hr =
      CreateLoneSurface(this, "CreateDepthStencilSurface", SurfaceRole::DepthStencil, D3DUSAGE_DEPTHSTENCIL, width,
                        height, format, multiSample, multiSampleQuality, false, sharedHandle, surface);
  D3D9_RETURN("CreateDepthStencilSurface", hr, width, height, format, multiSample, discard,
              surface ? *surface : nullptr);
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration) {
  const HRESULT hr = CreateInto<VertexDeclaration>(
      "CreateVertexDeclaration", !elements, declaration,
      [&](VertexDeclaration** d) { return VertexDeclaration::Create(this, elements, d); });
  D3D9_RETURN("CreateVertexDeclaration", hr, declaration ? *declaration : nullptr);
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) {
  // Only whole-state blocks are made here; recorded blocks cover partial sets.
  const HRESULT hr =
      CreateInto<StateBlock>("CreateStateBlock", type != D3DSBT_ALL || m_recording, block, [&](StateBlock** b) {
        *b = new StateBlock(this, true);
        (*b)->RecordAll();
        return D3D_OK;
      });
  D3D9_RETURN("CreateStateBlock", hr, type, block ? *block : nullptr);
}

}  // namespace platform::d3d9
