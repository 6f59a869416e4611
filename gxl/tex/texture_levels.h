// Reaching a texture's levels, and whether the device survived a read
// (internal to the entry points that build, import and export textures).
#pragma once

#include "platform/d3d9_api.h"

namespace gxl::tex::detail {

// The level surface (or cube face) of a 2-D or cube texture.
inline HRESULT GetLevelSurface(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT level,
                               IDirect3DSurface9** out) {
  if (type == D3DRTYPE_CUBETEXTURE)
    return static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), level,
                                                                           out);
  return static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, out);
}

// D3DERR_DEVICELOST when the resource's device is lost: what was just read
// from a default-pool resource then holds nothing meaningful.
template <class Resource>
HRESULT CheckDeviceNotLost(Resource* resource) {
  IDirect3DDevice9* device = nullptr;
  HRESULT hr = resource->GetDevice(&device);
  if (FAILED(hr)) return hr;
  hr = device->TestCooperativeLevel();
  device->Release();
  return FAILED(hr) ? D3DERR_DEVICELOST : S_OK;
}

}  // namespace gxl::tex::detail
