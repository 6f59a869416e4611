// The out-parameter rule the getters share: a null pointer is
// D3DERR_INVALIDCALL; otherwise the value is copied out, or an interface is
// handed out with a reference of its own.
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

}  // namespace platform::d3d9
