#include "gxl/draw/creators.h"

#include <new>

#include "gxl/tex/com_ref.h"
#include "gxl/draw/sprite_batcher_object.h"

HRESULT GXLCreateSpriteBatcher(IDirect3DDevice9* device, SpriteBatcher** batcher) {
  if (!device || !batcher) return D3DERR_INVALIDCALL;
  auto* object = new (std::nothrow) gxl::SpriteBatcherObject;
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->Init(device);
  if (FAILED(hr)) {
    object->Destroy();
    return hr;
  }
  *batcher = object;
  return S_OK;
}

int QueryDeviceLevel(IDirect3DDevice9* device) {
  if (!device) return 0;
  D3DDEVICE_CREATION_PARAMETERS params{};
  if (FAILED(device->GetCreationParameters(&params))) return 0;
  gxl::ComRef<IDirect3D9> d3d;
  if (FAILED(device->GetDirect3D(d3d.Put())) || !d3d) return 0;
  D3DCAPS9 caps{};
  const HRESULT hr = d3d->GetDeviceCaps(params.AdapterOrdinal, params.DeviceType, &caps);
  d3d.Reset();
  if (FAILED(hr)) return 0;
  if (caps.DevCaps2 != 0) return 900;
  return caps.MaxStreams > 0 ? 800 : 700;
}
