// Capability and format profiles. "game" is what the device reports by default;
// the other caps profiles restrict it the way older devices did, so that format
// and size fitting can be exercised against several devices.
#include <algorithm>
#include <cstring>

#include "d3d9/config.h"
#include "d3d9/formats.h"
#include "platform/d3d9_api.h"
#include "platform/testing.h"

namespace platform::d3d9 {
namespace {

D3DCAPS9 GameCaps(D3DDEVTYPE type) {
  D3DCAPS9 c;
  std::memset(&c, 0, sizeof c);
  c.DeviceType = type;
  c.AdapterOrdinal = 0;
  c.Caps2 = D3DCAPS2_DYNAMICTEXTURES;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
              D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
              D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
              D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                        D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_SEPARATEALPHABLEND;
  c.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_MIPMAPLODBIAS;
  c.ZCmpCaps = 0xFF;
  c.AlphaCmpCaps = 0xFF;
  c.SrcBlendCaps = 0x3FF | D3DPBLENDCAPS_SRCALPHASAT | D3DPBLENDCAPS_BLENDFACTOR;
  c.DestBlendCaps = c.SrcBlendCaps;
  c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
  c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_POW2 |
                  D3DPTEXTURECAPS_NONPOW2CONDITIONAL | D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP |
                  D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPVOLUMEMAP | D3DPTEXTURECAPS_MIPCUBEMAP |
                  D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_VOLUMEMAP_POW2;
  c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                        D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c.CubeTextureFilterCaps = c.TextureFilterCaps;
  c.VolumeTextureFilterCaps = c.TextureFilterCaps;
  c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                         D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
  c.VolumeTextureAddressCaps = c.TextureAddressCaps;
  c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP;
  c.MaxTextureWidth = 4096;
  c.MaxTextureHeight = 4096;
  c.MaxVolumeExtent = 256;
  c.MaxTextureRepeat = 8192;
  c.MaxTextureAspectRatio = 4096;
  c.MaxAnisotropy = 1;
  c.MaxVertexW = 1e10f;
  c.GuardBandLeft = -16384.0f;
  c.GuardBandTop = -16384.0f;
  c.GuardBandRight = 16384.0f;
  c.GuardBandBottom = 16384.0f;
  c.FVFCaps = 8;
  c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                    D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD |
                    D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT | D3DTEXOPCAPS_BLENDDIFFUSEALPHA |
                    D3DTEXOPCAPS_BLENDTEXTUREALPHA | D3DTEXOPCAPS_BLENDFACTORALPHA | D3DTEXOPCAPS_BLENDCURRENTALPHA;
  c.MaxTextureBlendStages = 8;
  c.MaxSimultaneousTextures = 8;
  c.MaxPointSize = 1.0f;
  c.MaxPrimitiveCount = 0xFFFFFF;
  c.MaxVertexIndex = 0xFFFFFF;
  c.MaxStreams = 16;
  c.MaxStreamStride = 508;
  c.VertexShaderVersion = 0xFFFE0000u;
  c.PixelShaderVersion = 0xFFFF0000u;
  c.DevCaps2 = D3DDEVCAPS2_STREAMOFFSET;
  c.NumberOfAdaptersInGroup = 1;
  c.DeclTypes = D3DDTCAPS_UBYTE4;
  c.NumSimultaneousRTs = 1;
  c.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                            D3DPTFILTERCAPS_MAGFLINEAR;
  return c;
}

// The formats the rasteriser samples ("game" textures).
constexpr D3DFORMAT kSampled[] = {
    D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
    D3DFMT_A4R4G4B4, D3DFMT_A8,       D3DFMT_X4R4G4B4, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8,
    D3DFMT_L8,       D3DFMT_A8L8,     D3DFMT_DXT1,     D3DFMT_DXT2,     D3DFMT_DXT3,
    D3DFMT_DXT4,     D3DFMT_DXT5};
// What "wide" adds: the other formats the texture library's codecs handle.
constexpr D3DFORMAT kWideExtra[] = {
    D3DFMT_R3G3B2,      D3DFMT_A8R3G3B2,      D3DFMT_A2B10G10R10,   D3DFMT_G16R16,   D3DFMT_A2R10G10B10,
    D3DFMT_A16B16G16R16, D3DFMT_A4L4,         D3DFMT_L16,           D3DFMT_V8U8,     D3DFMT_L6V5U5,
    D3DFMT_X8L8V8U8,    D3DFMT_Q8W8V8U8,      D3DFMT_V16U16,        D3DFMT_A2W10V10U10, D3DFMT_Q16W16V16U16,
    D3DFMT_CxV8U8,      D3DFMT_R16F,          D3DFMT_G16R16F,       D3DFMT_A16B16G16R16F, D3DFMT_R32F,
    D3DFMT_G32R32F,     D3DFMT_A32B32G32R32F};
constexpr D3DFORMAT kRenderTargets[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8};
constexpr D3DFORMAT kDepth[] = {D3DFMT_D16,  D3DFMT_D16_LOCKABLE, D3DFMT_D24S8,
                                D3DFMT_D24X8, D3DFMT_D32,         D3DFMT_D32F_LOCKABLE};
constexpr D3DFORMAT kVertexTextures[] = {D3DFMT_R32F, D3DFMT_A32B32G32R32F};

template <size_t N>
bool In(const D3DFORMAT (&set)[N], D3DFORMAT f) {
  return std::find(std::begin(set), std::end(set), f) != std::end(set);
}

constexpr DWORD kQueryBits = 0x1F8000;
constexpr DWORD kKnownUsage = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_WRITEONLY |
                              D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP |
                              D3DUSAGE_DMAP | kQueryBits;

bool IsTextureType(D3DRESOURCETYPE t) {
  return t == D3DRTYPE_TEXTURE || t == D3DRTYPE_CUBETEXTURE || t == D3DRTYPE_VOLUMETEXTURE;
}

unsigned g_capsVersion = 1;

void ResetConfig() {
  GetConfig() = Config{};
  CapsChanged();
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetConfig), true);

}  // namespace

Config& GetConfig() {
  static Config config;
  return config;
}

bool ProfileCaps(const std::string& name, D3DDEVTYPE type, D3DCAPS9* caps) {
  D3DCAPS9 c = GameCaps(type);
  if (name == "game") {
  } else if (name == "pow2-only") {
    c.TextureCaps &= ~D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
  } else if (name == "square-only") {
    c.TextureCaps = (c.TextureCaps & ~D3DPTEXTURECAPS_NONPOW2CONDITIONAL) | D3DPTEXTURECAPS_SQUAREONLY;
  } else if (name == "small-max") {
    c.MaxTextureWidth = c.MaxTextureHeight = 256;
    c.MaxVolumeExtent = 64;
    c.MaxTextureAspectRatio = 256;
  } else if (name == "no-cube-volume") {
    c.TextureCaps &= ~(D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_MIPCUBEMAP |
                       D3DPTEXTURECAPS_MIPVOLUMEMAP | D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_VOLUMEMAP_POW2);
  } else if (name == "no-mip") {
    c.TextureCaps &= ~(D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP | D3DPTEXTURECAPS_MIPVOLUMEMAP);
    const DWORD mip = D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR;
    c.TextureFilterCaps &= ~mip;
    c.CubeTextureFilterCaps &= ~mip;
    c.VolumeTextureFilterCaps &= ~mip;
  } else {
    return false;
  }
  *caps = c;
  return true;
}

void CapsChanged() { ++g_capsVersion; }

D3DCAPS9 CurrentCaps(D3DDEVTYPE type) {
  // Draws and stream changes ask for the caps; build them once per change.
  struct Cached {
    unsigned version = 0;
    D3DCAPS9 caps;
  };
  static Cached cache[2];
  Cached& slot = cache[type == D3DDEVTYPE_REF ? 1 : 0];
  if (slot.version != g_capsVersion) {
    const Config& config = GetConfig();
    D3DCAPS9 c;
    if (!ProfileCaps(config.capsProfile, type, &c)) c = GameCaps(type);
    for (const auto& edit : config.capsEdits) edit(c);
    slot.caps = c;
    slot.version = g_capsVersion;
  }
  return slot.caps;
}

bool IsFormatProfile(const std::string& name) { return name == "game" || name == "wide"; }

HRESULT ProfileFormatAnswer(const std::string& profile, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
  if (usage & ~kKnownUsage) return D3DERR_INVALIDCALL;
  const bool wide = profile == "wide";
  if (type == D3DRTYPE_VERTEXBUFFER) return format == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
  if (type == D3DRTYPE_INDEXBUFFER)
    return format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32 ? D3D_OK : D3DERR_NOTAVAILABLE;
  if (type < D3DRTYPE_SURFACE || type > D3DRTYPE_CUBETEXTURE) return D3DERR_INVALIDCALL;

  const DWORD query = usage & kQueryBits;
  if (usage & D3DUSAGE_DMAP) return D3DERR_NOTAVAILABLE;
  if ((usage & D3DUSAGE_RENDERTARGET) && (usage & D3DUSAGE_DEPTHSTENCIL)) return D3DERR_NOTAVAILABLE;

  if (usage & D3DUSAGE_DEPTHSTENCIL) {
    // Depth buffers are surfaces only: no depth textures.
    if (type != D3DRTYPE_SURFACE || query || !In(kDepth, format)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  if (usage & D3DUSAGE_RENDERTARGET) {
    if (type == D3DRTYPE_VOLUME || type == D3DRTYPE_VOLUMETEXTURE || !In(kRenderTargets, format))
      return D3DERR_NOTAVAILABLE;
  } else {
    const bool plain = In(kSampled, format) || (wide && In(kWideExtra, format));
    if (!plain) return D3DERR_NOTAVAILABLE;
  }
  if (query & (D3DUSAGE_QUERY_SRGBREAD | D3DUSAGE_QUERY_SRGBWRITE | D3DUSAGE_QUERY_LEGACYBUMPMAP))
    return D3DERR_NOTAVAILABLE;
  if ((query & D3DUSAGE_QUERY_FILTER) && !In(kSampled, format)) return D3DERR_NOTAVAILABLE;
  if ((query & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) && !In(kRenderTargets, format))
    return D3DERR_NOTAVAILABLE;
  if ((query & D3DUSAGE_QUERY_VERTEXTEXTURE) && !(wide && IsTextureType(type) && In(kVertexTextures, format)))
    return D3DERR_NOTAVAILABLE;
  if (usage & D3DUSAGE_AUTOGENMIPMAP) return IsTextureType(type) ? D3DOK_NOAUTOGEN : D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT CheckFormat(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
  const Config& config = GetConfig();
  if ((usage & D3DUSAGE_DYNAMIC) && !(CurrentCaps(D3DDEVTYPE_HAL).Caps2 & D3DCAPS2_DYNAMICTEXTURES) &&
      type != D3DRTYPE_VERTEXBUFFER && type != D3DRTYPE_INDEXBUFFER)
    return D3DERR_NOTAVAILABLE;
  if (config.scriptedFormats) return config.scriptedFormats(usage, type, format);
  return ProfileFormatAnswer(config.formatProfile, usage, type, format);
}

D3DDISPLAYMODE DisplayMode() {
  const Config& config = GetConfig();
  return D3DDISPLAYMODE{config.displayWidth, config.displayHeight, 60, D3DFMT_X8R8G8B8};
}

}  // namespace platform::d3d9
