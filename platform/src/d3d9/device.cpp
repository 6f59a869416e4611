// Device creation, the swap chain (back buffers and the automatic depth
// surface), status queries and Reset.
#include "d3d9/device.h"

#include "d3d9/buffers.h"
#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/direct3d.h"
#include "d3d9/out_param.h"
#include "d3d9/state_block.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "d3d9/window_size.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

struct SwapChain {
  std::vector<Surface*> backBuffers;
  Surface* depth = nullptr;
};

void Discard(SwapChain& chain) {
  for (Surface* s : chain.backBuffers) s->Unbind();
  if (chain.depth) chain.depth->Unbind();
  chain = SwapChain{};
}

// Checks presentation parameters and fills in what they leave to the device.
HRESULT ValidateParams(D3DPRESENT_PARAMETERS& p, HWND focus) {
  const D3DCAPS9 caps = CurrentCaps(D3DDEVTYPE_HAL);
  if (p.BackBufferCount > D3DPRESENT_BACK_BUFFERS_MAX) return D3DERR_INVALIDCALL;
  if (p.MultiSampleType != D3DMULTISAMPLE_NONE || p.MultiSampleQuality != 0) return D3DERR_INVALIDCALL;
  if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY) return D3DERR_INVALIDCALL;
  if (p.SwapEffect == D3DSWAPEFFECT_COPY && p.BackBufferCount > 1) return D3DERR_INVALIDCALL;
  if (p.Flags & ~(D3DPRESENTFLAG_LOCKABLE_BACKBUFFER | D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL |
                  D3DPRESENTFLAG_DEVICECLIP | D3DPRESENTFLAG_VIDEO))
    return D3DERR_INVALIDCALL;
  if (p.PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT && p.PresentationInterval != D3DPRESENT_INTERVAL_ONE &&
      p.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE)
    return D3DERR_INVALIDCALL;
  if (p.Windowed) {
    if (p.FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
      const HWND window = p.hDeviceWindow ? p.hDeviceWindow : focus;
      if (!window) return D3DERR_INVALIDCALL;
      UINT w, h;
      WindowClientSize(window, &w, &h);
      if (p.BackBufferWidth == 0) p.BackBufferWidth = w;
      if (p.BackBufferHeight == 0) p.BackBufferHeight = h;
    }
  } else {
    if (p.FullScreen_RefreshRateInHz != 0 && p.FullScreen_RefreshRateInHz != 60) return D3DERR_INVALIDCALL;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) return D3DERR_INVALIDCALL;
  }
  if (p.BackBufferFormat != D3DFMT_X8R8G8B8 && p.BackBufferFormat != D3DFMT_A8R8G8B8) return D3DERR_INVALIDCALL;
  if (p.BackBufferWidth > caps.MaxTextureWidth || p.BackBufferHeight > caps.MaxTextureHeight)
    return D3DERR_INVALIDCALL;
  if (p.EnableAutoDepthStencil &&
      FAILED(CheckFormat(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, p.AutoDepthStencilFormat)))
    return D3DERR_INVALIDCALL;
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  return D3D_OK;
}

HRESULT MakeSwapChain(Device* device, const D3DPRESENT_PARAMETERS& p, SwapChain* chain) {
  const bool lockable = (p.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
  for (UINT i = 0; i < p.BackBufferCount; ++i) {
    Surface* s = nullptr;
    const SurfaceShape shape{p.BackBufferFormat, p.BackBufferWidth, p.BackBufferHeight, D3DUSAGE_RENDERTARGET,
                             D3DPOOL_DEFAULT};
    HRESULT hr = Surface::Create(device, SurfaceRole::BackBuffer, shape, lockable, nullptr, &s);
    if (FAILED(hr)) {
      Discard(*chain);
      return hr;
    }
    s->Bind();
    chain->backBuffers.push_back(s);
  }
  if (p.EnableAutoDepthStencil) {
    const SurfaceShape shape{p.AutoDepthStencilFormat, p.BackBufferWidth, p.BackBufferHeight,
                             D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT};
    HRESULT hr = Surface::Create(device, SurfaceRole::AutoDepth, shape, false, nullptr, &chain->depth);
    if (FAILED(hr)) {
      Discard(*chain);
      return hr;
    }
    chain->depth->Bind();
  }
  return D3D_OK;
}

}  // namespace

Device::Device(Direct3D9* d3d, D3DDEVTYPE type, HWND focus, DWORD behavior) : Object("Device", true), m_d3d(d3d) {
  m_d3d->AddRef();
  m_creation = D3DDEVICE_CREATION_PARAMETERS{0, type, focus, behavior};
  m_raster = CreateRasterizer(*this);
}

HRESULT Device::Create(Direct3D9* d3d, D3DDEVTYPE type, HWND focus, DWORD behavior, D3DPRESENT_PARAMETERS* params,
                       Device** out) {
  D3DPRESENT_PARAMETERS p = *params;
  HRESULT hr = ValidateParams(p, focus);
  if (FAILED(hr)) return hr;
  auto* device = new Device(d3d, type, focus, behavior);
  SwapChain chain;
  hr = MakeSwapChain(device, p, &chain);
  if (FAILED(hr)) {
    device->Release();
    return hr;
  }
  device->m_backBuffers = std::move(chain.backBuffers);
  device->m_autoDepth = chain.depth;
  device->m_params = p;
  *params = p;
  device->RestoreDefaults();
  *out = device;
  return D3D_OK;
}

Device::~Device() {
  if (m_recording) {
    StateBlock* block = m_recording;
    m_recording = nullptr;
    block->Unbind();
  }
  UnbindAll();
  ReleaseSwapChain();
  m_raster.reset();
  m_d3d->Release();
}

void Device::ReleaseSwapChain() {
  SwapChain chain{std::move(m_backBuffers), m_autoDepth};
  m_backBuffers.clear();
  m_autoDepth = nullptr;
  Discard(chain);
}

void Device::UnbindAll() {
  for (auto& t : m_state.textures) Rebind(t, static_cast<BaseTexture*>(nullptr));
  for (auto& s : m_state.streams) {
    Rebind(s.buffer, static_cast<VertexBuffer*>(nullptr));
    s.offset = s.stride = 0;
  }
  Rebind(m_state.indices, static_cast<IndexBuffer*>(nullptr));
  Rebind(m_state.declaration, static_cast<VertexDeclaration*>(nullptr));
  Rebind(m_renderTarget, static_cast<Surface*>(nullptr));
  Rebind(m_depthStencil, static_cast<Surface*>(nullptr));
}

void Device::RestoreDefaults() {
  UnbindAll();
  Surface* back = m_backBuffers.front();
  SetDefaultState(m_state, m_autoDepth != nullptr, D3DVIEWPORT9{0, 0, back->Width(), back->Height(), 0.0f, 1.0f});
  for (RegisterFile& f : m_constants.files) f.Clear();
  m_layoutValid = false;
  Rebind(m_renderTarget, back);
  Rebind(m_depthStencil, m_autoDepth);
}

HRESULT Device::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DDevice9*>(this), iid == IID_IUnknown || iid == IID_IDirect3DDevice9, out);
}

ULONG Device::AddRef() { return ++m_refs; }

ULONG Device::Release() {
  if (m_refs == 0) {
    platform::detail::CountDiagnostic("d3d9.over-release");
    return 0;
  }
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

HRESULT Device::HandOut(IDirect3DDevice9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  AddRef();
  *out = this;
  return D3D_OK;
}

D3DCAPS9 Device::Caps() const { return CurrentCaps(m_creation.DeviceType); }

std::string Device::Describe() const {
  const Surface* back = m_backBuffers.empty() ? nullptr : m_backBuffers.front();
  // Appended piece by piece: g++ 12 warns falsely about "text" + std::string at -O3.
  std::string text = m_creation.DeviceType == D3DDEVTYPE_HAL ? "HAL" : "REF";
  if (back) {
    text += ' ';
    text += std::to_string(back->Width());
    text += 'x';
    text += std::to_string(back->Height());
  }
  return text;
}

HRESULT Device::TestCooperativeLevel() {
  const HRESULT hr = GetConfig().deviceLost ? D3DERR_DEVICENOTRESET : D3D_OK;
  D3D9_RETURN("TestCooperativeLevel", hr);
}

HRESULT Device::GetDirect3D(IDirect3D9** d3d) { D3D9_RETURN("GetDirect3D", RefOut(d3d, m_d3d)); }

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
  HRESULT hr;
  if (!platform::detail::ShouldFail("GetDeviceCaps", &hr)) hr = CopyOut(caps, Caps());
  D3D9_RETURN("GetDeviceCaps", hr);
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
  HRESULT hr = D3D_OK;
  if (swapChain != 0 || !mode) {
    hr = D3DERR_INVALIDCALL;
  } else {
    *mode = DisplayMode();
    if (!m_params.Windowed) {
      // Full screen shows the back buffer's size; the display format stays X8R8G8B8.
      mode->Width = m_params.BackBufferWidth;
      mode->Height = m_params.BackBufferHeight;
    }
  }
  D3D9_RETURN("GetDisplayMode", hr, swapChain);
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
  const HRESULT hr = CopyOut(params, m_creation);
  D3D9_RETURN("GetCreationParameters", hr);
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** backBuffer) {
  HRESULT hr = D3D_OK;
  if (backBuffer) *backBuffer = nullptr;
  if (swapChain != 0 || index >= m_backBuffers.size() || type != D3DBACKBUFFER_TYPE_MONO || !backBuffer) {
    hr = D3DERR_INVALIDCALL;
  } else {
    m_backBuffers[index]->AddRef();
    *backBuffer = m_backBuffers[index];
  }
  D3D9_RETURN("GetBackBuffer", hr, swapChain, index, backBuffer ? *backBuffer : nullptr);
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* params) {
  HRESULT hr = D3D_OK;
  bool blocked = false;
  Object::ForEach([&](Object& o) {
    auto* child = dynamic_cast<DeviceChild*>(&o);
    if (child && child->Dev() == this && child->BlocksReset()) blocked = true;
  });
  D3DPRESENT_PARAMETERS p{};
  if (params) p = *params;
  if (!params || blocked) {
    // Live default-pool resources keep a reset from succeeding, as on the original.
    if (blocked) platform::detail::CountDiagnostic("d3d9.reset-with-default-resources");
    hr = D3DERR_INVALIDCALL;
  } else if (FAILED(hr = ValidateParams(p, m_creation.hFocusWindow))) {
  } else if (!platform::detail::ShouldFail("Reset", &hr)) {
    SwapChain chain;
    hr = MakeSwapChain(this, p, &chain);
    if (SUCCEEDED(hr)) {
      if (m_recording) {
        StateBlock* block = m_recording;
        m_recording = nullptr;
        block->Unbind();
      }
      m_inScene = false;
      UnbindAll();
      ReleaseSwapChain();
      m_backBuffers = std::move(chain.backBuffers);
      m_autoDepth = chain.depth;
      m_params = p;
      *params = p;
      RestoreDefaults();
      GetConfig().deviceLost = false;
    }
  }
  D3D9_RETURN("Reset", hr);
}

Surface* AsSurface(IDirect3DSurface9* surface, const Device* device) {
  auto* s = surface ? dynamic_cast<Surface*>(surface) : nullptr;
  return s && s->Dev() == device ? s : nullptr;
}

}  // namespace platform::d3d9
