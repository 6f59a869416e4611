// The out-parameter rule the getters share: a null pointer is
// D3DERR_INVALIDCALL; otherwise the value is copied out, or an interface is
// handed out with a reference of its own. QueryInterface has its own rule.
#pragma once

#include "platform/d3d9_api.h"

namespace platform::d3d9 {

template <class T>
HRESULT CopyOut(T* out, const T& value) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = value;
  return D3D_OK;
}

// `held` may be null, which is handed out as it is.
template <class Interface, class Object>
HRESULT RefOut(Interface** out, Object* held) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = held;
  if (held) held->AddRef();
  return D3D_OK;
}

// The interfaces every resource (and every texture) has; each class adds its own.
inline bool IsResourceIid(REFIID iid) { return iid == IID_IUnknown || iid == IID_IDirect3DResource9; }
inline bool IsBaseTextureIid(REFIID iid) { return IsResourceIid(iid) || iid == IID_IDirect3DBaseTexture9; }

// QueryInterface: a null `out` is E_POINTER; an interface the object has
// (`known`) is handed out as `self` with a reference, any other clears `out`.
template <class Interface>
HRESULT QueryOut(Interface* self, bool known, void** out) {
  if (!out) return E_POINTER;
  if (!known) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  *out = self;
  self->AddRef();
  return S_OK;
}

}  // namespace platform::d3d9
