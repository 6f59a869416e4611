// Creation entry points of the drawing objects, and the device level query.
// A creator checks its arguments, builds and initialises the object and hands
// out one reference; when initialisation fails the object is destroyed and
// the out-pointer is not written.
#pragma once

#include "gxl/draw/sprite_batcher.h"
#include "platform/d3d9_api.h"

// D3DERR_INVALIDCALL for a null device or out-pointer; E_OUTOFMEMORY; or the
// failure of the batcher's initialisation.
HRESULT GXLCreateSpriteBatcher(IDirect3DDevice9* device, SpriteBatcher** batcher);

// 900 when the device reports DevCaps2, 800 when it has vertex streams, else
// 700; 0 for a null device or one that cannot describe itself.
int QueryDeviceLevel(IDirect3DDevice9* device);
