// What the render-target objects and the line drawer share: one reference
// count, the device they were made for, and the debug-runtime mute around
// device calls that may fail harmlessly. Internal to gxl/draw.
#pragma once

#include <new>

#include "gxl/math/services.h"
#include "gxl/tex/com_ref.h"
#include "platform/d3d9_api.h"

namespace gxl {

// Implements AddRef, Release and GetDeviceRef of Interface; the object starts
// with one reference and is deleted by the last Release (or by Destroy when
// its creator gives up on it).
template <class Interface>
class DrawingObject : public Interface {
 public:
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) Destroy();
    return refs;
  }
  HRESULT GetDeviceRef(IDirect3DDevice9** device) override {
    if (!device) return D3DERR_INVALIDCALL;
    // Before Init there is no device to hand out.
    if (!m_device) return D3DERR_INVALIDCALL;
    m_device->AddRef();
    *device = m_device.Get();
    return S_OK;
  }
  void Destroy() { delete this; }

 protected:
  DrawingObject() = default;
  virtual ~DrawingObject() = default;
  DrawingObject(const DrawingObject&) = delete;
  DrawingObject& operator=(const DrawingObject&) = delete;

  // The answer of the render-target objects: the out-pointer is cleared
  // first, then the object's own id and IID_IUnknown are answered.
  HRESULT AnswerInterface(REFIID iid, const IID& own, void** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!(iid == own || iid == IID_IUnknown)) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }

  // Takes a reference on the device (Init).
  void KeepDevice(IDirect3DDevice9* device) {
    device->AddRef();
    m_device = ComRef<IDirect3DDevice9>(device);
  }

  ComRef<IDirect3DDevice9> m_device;

 private:
  ULONG m_refs = 1;
};

// The vertex the line drawer and the environment-map resampling draw with:
// position, colour and one pair of texture coordinates.
struct DrawVertex {
  float x, y, z;
  D3DCOLOR color;
  float u, v;
};
static_assert(sizeof(DrawVertex) == 24);
constexpr DWORD kDrawVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// SetDebugMute(1) for the scope, SetDebugMute(0) after it.
class DebugMuteScope {
 public:
  DebugMuteScope() { SetDebugMute(1); }
  ~DebugMuteScope() { SetDebugMute(0); }
  DebugMuteScope(const DebugMuteScope&) = delete;
  DebugMuteScope& operator=(const DebugMuteScope&) = delete;
};

// The device's render target and depth surface, kept while an object draws
// into its own.
struct SavedTargets {
  ComRef<IDirect3DSurface9> target, depth;

  void Save(IDirect3DDevice9* device) {
    device->GetRenderTarget(0, target.Put());
    // A device without a depth surface answers D3DERR_NOTFOUND: null is kept.
    device->GetDepthStencilSurface(depth.Put());
  }
  // Gives both back, then applies `block` (setting the target reset the
  // viewport), and lets go of them.
  void Restore(IDirect3DDevice9* device, IDirect3DStateBlock9* block) {
    {
      DebugMuteScope mute;
      device->SetRenderTarget(0, target.Get());
      device->SetDepthStencilSurface(depth.Get());
      if (block) block->Apply();
    }
    Reset();
  }
  void Reset() {
    target.Reset();
    depth.Reset();
  }
};

// Lockable depth formats keep their contents: they are made without discard.
inline BOOL DiscardsDepth(D3DFORMAT format) { return format != D3DFMT_D16_LOCKABLE && format != D3DFMT_D32F_LOCKABLE; }

// Creator body shared by the drawing objects: build, Init, hand out or destroy.
template <class Object, class Interface, class... Args>
HRESULT CreateDrawingObject(Interface** out, Args... args) {
  auto* object = new (std::nothrow) Object;
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->Init(args...);
  if (FAILED(hr)) {
    object->Destroy();
    return hr;
  }
  *out = object;
  return S_OK;
}

}  // namespace gxl
