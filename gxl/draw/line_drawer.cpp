// The line drawer: creation, properties, the pattern texture, the buffers and
// the begin/end bracket with the device state it sets and restores.
#include <cmath>
#include <cstring>

#include "gxl/draw/interface_ids.h"
#include "gxl/draw/line_drawer_object.h"
#include "gxl/math/matrix.h"
#include "gxl/tex/fit.h"
#include "gxl/tex/texture_build.h"
#include "gxl/tex/texture_import.h"
#include "platform/win_kernel.h"

namespace gxl {

namespace {

constexpr DWORD kNeededFilterCaps =
    D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MINFPOINT;
constexpr DWORD kNeededAddressCaps = D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_WRAP;
constexpr UINT kPatternSize = 64;
constexpr UINT kQuadVertices = 4;

bool PositiveFinite(float v) { return v > 0.0f && std::isfinite(v); }

// Page-sized scratch from the system, given back in every case.
class PageScratch {
 public:
  explicit PageScratch(SIZE_T bytes) : m_p(VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) {}
  ~PageScratch() {
    if (m_p) VirtualFree(m_p, 0, MEM_RELEASE);
  }
  PageScratch(const PageScratch&) = delete;
  PageScratch& operator=(const PageScratch&) = delete;
  std::uint8_t* Get() const { return static_cast<std::uint8_t*>(m_p); }

 private:
  void* m_p;
};

}  // namespace

HRESULT BuildStippleTexture(IDirect3DTexture9* texture, DWORD pattern, bool smoothing, float width) {
  // The cross profile, outer edge first; smoothing ramps it up over about
  // 64 / width texels.
  std::uint8_t profile[32];
  std::memset(profile, 255, sizeof profile);
  if (smoothing) {
    const float peak = width >= 1.0f ? 255.0f : width * 255.0f;
    std::memset(profile, static_cast<int>(peak + 0.5f), sizeof profile);
    float ramp = 64.0f / width;
    if (ramp > 32.0f) ramp = 32.0f;
    ramp -= 0.5f;
    for (int k = 1; static_cast<float>(k) < ramp; ++k)
      profile[k - 1] = static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(k) / ramp * peak + 0.5f));
  }

  PageScratch scratch(kPatternSize * kPatternSize);
  if (!scratch.Get()) return E_OUTOFMEMORY;
  for (UINT r = 0; r < kPatternSize; ++r) {
    const std::uint8_t a = profile[r < 32 ? r : 63 - r];
    std::uint8_t* row = scratch.Get() + r * kPatternSize;
    for (UINT bit = 0; bit < 32; ++bit) row[2 * bit] = row[2 * bit + 1] = ((pattern >> bit) & 1) ? a : 0;
  }
  ComRef<IDirect3DSurface9> level;
  HRESULT hr = texture->GetSurfaceLevel(0, level.Put());
  if (FAILED(hr)) return hr;
  const RECT all{0, 0, static_cast<LONG>(kPatternSize), static_cast<LONG>(kPatternSize)};
  return GXLImportSurfaceFromPixels(level.Get(), nullptr, nullptr, scratch.Get(), D3DFMT_A8, kPatternSize, nullptr,
                                    &all, kGxlDefault, 0);
}

// --- Lifetime -----------------------------------------------------------------------

HRESULT LineDrawerObject::Init(IDirect3DDevice9* device) {
  if (!device) return D3DERR_INVALIDCALL;
  D3DCAPS9 caps{};
  const HRESULT hr = device->GetDeviceCaps(&caps);
  if (FAILED(hr)) return hr;
  if ((caps.TextureFilterCaps & kNeededFilterCaps) != kNeededFilterCaps ||
      (caps.TextureAddressCaps & kNeededAddressCaps) != kNeededAddressCaps)
    return D3DERR_INVALIDCALL;
  KeepDevice(device);
  m_blendCaps = (caps.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA) && (caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA);
  m_lineAntialiasCaps = caps.LineCaps & D3DLINECAPS_ANTIALIAS;
  m_pattern = kSolidPattern;
  m_patternScale = 1.0f;
  m_patternStep = 1.0f / 32.0f;
  m_width = 1.0f;
  m_smoothing = m_altQuads = false;
  return OnDeviceReset();
}

LineDrawerObject::~LineDrawerObject() {
  m_drawingState.Reset();
  m_savedState.Reset();
  m_savedIndices.Reset();
  m_vertexBuffer.Reset();
  m_indexBuffer.Reset();
  m_patternTexture.Reset();
  m_device.Reset();
}

HRESULT LineDrawerObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return D3DERR_INVALIDCALL;
  // A refusal leaves the out-pointer as it was.
  if (!(iid == IidSpriteBatcher || iid == IID_IUnknown)) return E_NOINTERFACE;
  *out = static_cast<LineDrawer*>(this);
  AddRef();
  return S_OK;
}

HRESULT LineDrawerObject::OnDeviceLost() {
  if (!m_device) return S_OK;
  m_drawingState.Reset();
  m_savedState.Reset();
  m_savedIndices.Reset();
  m_patternTexture.Reset();
  m_builtWidth = 0.0f;
  m_builtPattern = 0;
  m_builtSmoothing = false;
  m_vertexBuffer.Reset();
  m_cursor = kLineSlots;
  m_capacity = m_stride = 0;
  m_indexBuffer.Reset();
  m_indexCount = 0;
  return S_OK;
}

HRESULT LineDrawerObject::OnDeviceReset() {
  m_targetBlends = true;
  ComRef<IDirect3DSurface9> target;
  D3DDEVICE_CREATION_PARAMETERS params{};
  ComRef<IDirect3D9> d3d;
  D3DSURFACE_DESC desc{};
  D3DDISPLAYMODE mode{};
  // Only a target that the device says cannot blend turns blending off.
  if (FAILED(m_device->GetRenderTarget(0, target.Put())) || !target ||
      FAILED(m_device->GetCreationParameters(&params)) || FAILED(m_device->GetDirect3D(d3d.Put())) || !d3d ||
      FAILED(target->GetDesc(&desc)) || FAILED(m_device->GetDisplayMode(0, &mode)))
    return S_OK;
  if (FAILED(d3d->CheckDeviceFormat(params.AdapterOrdinal, params.DeviceType, mode.Format,
                                    D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE,
                                    desc.Format)))
    m_targetBlends = false;
  return S_OK;
}

// --- Properties ------------------------------------------------------------------------

HRESULT LineDrawerObject::SetStipple(DWORD pattern) {
  if (m_inBracket) return D3DERR_INVALIDCALL;
  m_pattern = pattern;
  return S_OK;
}

HRESULT LineDrawerObject::SetStippleScale(float scale) {
  if (m_inBracket || !PositiveFinite(scale)) return D3DERR_INVALIDCALL;
  m_patternScale = scale;
  m_patternStep = 1.0f / (scale * 32.0f);
  return S_OK;
}

HRESULT LineDrawerObject::SetLineWidth(float width) {
  if (m_inBracket || !PositiveFinite(width)) return D3DERR_INVALIDCALL;
  m_width = width;
  return S_OK;
}

HRESULT LineDrawerObject::SetSmoothing(BOOL smoothing) {
  if (m_inBracket) return D3DERR_INVALIDCALL;
  if ((smoothing != 0) == m_smoothing) return S_OK;
  m_drawingState.Reset();
  m_smoothing = smoothing != 0;
  return S_OK;
}

HRESULT LineDrawerObject::SetAltQuadMode(BOOL on) {
  if (m_inBracket) return D3DERR_INVALIDCALL;
  m_altQuads = on != 0;
  return S_OK;
}

// --- What a bracket needs --------------------------------------------------------------

HRESULT LineDrawerObject::PreparePatternTexture() {
  const bool wanted = !m_stripMode && (m_smoothing || m_pattern != kSolidPattern) && m_width != 0.0f;
  if (!wanted) {
    if (m_patternTexture) {
      m_drawingState.Reset();
      m_device->SetTexture(0, nullptr);
      m_patternTexture.Reset();
      m_builtPattern = kSolidPattern;
      m_builtWidth = 0.0f;
      m_builtSmoothing = false;
    }
    return S_OK;
  }
  if (m_builtPattern == m_pattern && m_builtSmoothing == m_smoothing && m_builtWidth == m_width) return S_OK;
  if (!m_patternTexture) {
    m_drawingState.Reset();
    const HRESULT hr = GXLCreateFittedTexture(m_device.Get(), kPatternSize, kPatternSize, 1, 0, D3DFMT_A8,
                                              D3DPOOL_MANAGED, m_patternTexture.Put());
    if (FAILED(hr)) return hr;
  }
  const HRESULT hr = BuildStippleTexture(m_patternTexture.Get(), m_pattern, m_smoothing, m_width);
  if (FAILED(hr)) return hr;
  m_builtPattern = m_pattern;
  m_builtSmoothing = m_smoothing;
  m_builtWidth = m_width;
  return S_OK;
}

HRESULT LineDrawerObject::PrepareIndexBuffer() {
  if (m_stripMode) {
    if (m_indexBuffer) {
      m_drawingState.Reset();
      m_indexBuffer.Reset();
    }
    m_indexCount = 0;
    return S_OK;
  }
  if (m_indexCount == kQuadIndexCount) return S_OK;
  m_drawingState.Reset();
  m_indexBuffer.Reset();
  HRESULT hr = m_device->CreateIndexBuffer(kQuadIndexCount * sizeof(std::uint16_t), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                           D3DPOOL_DEFAULT, m_indexBuffer.Put(), nullptr);
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  hr = m_indexBuffer->Lock(0, 0, &data, 0);
  if (FAILED(hr)) return hr;
  auto* index = static_cast<std::uint16_t*>(data);
  for (std::uint32_t q = 0; q < kLineSlots; ++q) {
    const std::uint32_t v = q * kQuadVertices;
    const std::uint32_t quad[6] = {v, v + 1, v + 2, v + 1, v + 3, v + 2};
    for (const std::uint32_t i : quad) *index++ = static_cast<std::uint16_t>(i);
  }
  hr = m_indexBuffer->Unlock();
  if (FAILED(hr)) return hr;
  m_indexCount = kQuadIndexCount;
  return S_OK;
}

HRESULT LineDrawerObject::PrepareVertexBuffer() {
  const std::uint32_t wanted = m_stripMode ? kLineSlots : kLineSlots * kQuadVertices;
  if (m_capacity == wanted) return S_OK;
  m_drawingState.Reset();
  m_vertexBuffer.Reset();
  m_capacity = 0;
  m_cursor = kLineSlots;
  m_stride = sizeof(LineVertex);
  const HRESULT hr = m_device->CreateVertexBuffer(wanted * sizeof(LineVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                                  kDrawVertexFvf, D3DPOOL_DEFAULT, m_vertexBuffer.Put(), nullptr);
  if (FAILED(hr)) return hr;
  m_capacity = wanted;
  return S_OK;
}

// The saved form names the states the drawing changes (Capture fills in
// their values); the drawing form sets them for the current bracket.
void LineDrawerObject::RecordStateList(bool saved) {
  IDirect3DDevice9* d = m_device.Get();
  d->SetFVF(kDrawVertexFvf);
  d->SetVertexShader(nullptr);
  d->SetPixelShader(nullptr);
  Matrix4 identity;
  MatrixIdentity(&identity);
  const auto* m = reinterpret_cast<const D3DMATRIX*>(&identity);
  d->SetTransform(D3DTS_WORLD, m);
  d->SetTransform(D3DTS_VIEW, m);
  d->SetTransform(D3DTS_PROJECTION, m);
  d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  d->SetRenderState(D3DRS_WRAP0, 0);
  d->SetRenderState(D3DRS_CLIPPING, TRUE);
  d->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
  d->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
  d->SetNPatchMode(0.0f);
  for (const D3DRENDERSTATETYPE s : {D3DRS_INDEXEDVERTEXBLENDENABLE, D3DRS_FOGENABLE, D3DRS_RANGEFOGENABLE,
                                     D3DRS_SPECULARENABLE, D3DRS_TWOSIDEDSTENCILMODE})
    d->SetRenderState(s, FALSE);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_COLORVERTEX, TRUE);
  d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);

  if (saved) {
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
    d->SetRenderState(D3DRS_ALPHAREF, 0);
    d->SetRenderState(D3DRS_ANTIALIASEDLINEENABLE, FALSE);
  } else {
    if (m_blendCaps && m_targetBlends) {
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
      d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    } else {
      // Without blending, the faint half of the pattern's alpha is cut away.
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
      d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
      d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
      d->SetRenderState(D3DRS_ALPHAREF, 127);
    }
    if (m_stripMode) d->SetRenderState(D3DRS_ANTIALIASEDLINEENABLE, m_smoothing);
  }

  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  if (saved || (!m_stripMode && m_patternTexture)) {
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TEXTURE);
    const DWORD filter = m_smoothing ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTexture(0, m_patternTexture.Get());
  } else {
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    d->SetTexture(0, nullptr);
  }
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  d->SetStreamSource(0, m_vertexBuffer.Get(), 0, sizeof(LineVertex));
}

// --- The bracket ------------------------------------------------------------------------

HRESULT LineDrawerObject::BeginLines() {
  if (m_inBracket) return D3DERR_INVALIDCALL;
  IDirect3DDevice9* d = m_device.Get();
  {
    DebugMuteScope mute;
    d->GetIndices(m_savedIndices.Put());
    m_cursor = kLineSlots;  // every bracket starts with a discarding lock
    if (!m_savedState) {
      d->BeginStateBlock();
      RecordStateList(true);
      d->EndStateBlock(m_savedState.Put());
    }

    const bool strip = m_width == 1.0f && m_pattern == kSolidPattern && (!m_smoothing || m_lineAntialiasCaps);
    if (strip != m_stripMode) m_drawingState.Reset();
    m_stripMode = strip;
    HRESULT hr = PreparePatternTexture();
    if (SUCCEEDED(hr)) hr = PrepareIndexBuffer();
    if (SUCCEEDED(hr)) hr = PrepareVertexBuffer();
    if (FAILED(hr)) return hr;
    if (!m_drawingState) {
      d->BeginStateBlock();
      RecordStateList(false);
      d->EndStateBlock(m_drawingState.Put());
    }

    if (m_savedState) m_savedState->Capture();
    if (m_drawingState) m_drawingState->Apply();
    d->SetIndices(m_indexBuffer.Get());
  }
  // Pixels of the viewport, y down, counted from its corner.
  D3DVIEWPORT9 vp{};
  d->GetViewport(&vp);
  Matrix4 projection;
  MatrixOrthoOffCenterLH(&projection, 0.0f, static_cast<float>(vp.Width), static_cast<float>(vp.Height), 0.0f, 0.0f,
                         1.0f);
  d->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(&projection));
  m_inBracket = true;
  return S_OK;
}

HRESULT LineDrawerObject::EndLines() {
  if (!m_inBracket) return D3DERR_INVALIDCALL;
  {
    DebugMuteScope mute;
    if (m_savedState) m_savedState->Apply();
    // The saved reference stays until the next bracket.
    m_device->SetIndices(m_savedIndices.Get());
  }
  m_inBracket = false;
  return S_OK;
}

}  // namespace gxl

HRESULT GXLCreateLineDrawer(IDirect3DDevice9* device, LineDrawer** drawer) {
  if (!device || !drawer) return D3DERR_INVALIDCALL;
  return gxl::CreateDrawingObject<gxl::LineDrawerObject>(drawer, device);
}
