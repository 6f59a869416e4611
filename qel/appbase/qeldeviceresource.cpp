#include "qel/appbase/qeldeviceresource.h"

IDirect3DDevice9* g_pDevice = nullptr;
constinit C_PtrList<C_DeviceResource> g_DeviceResources;

C_DeviceResource::C_DeviceResource() { g_DeviceResources.Add(this); }

C_DeviceResource::C_DeviceResource(const C_DeviceResource&) {}

C_DeviceResource::~C_DeviceResource() { g_DeviceResources.Remove(this); }

void NotifyDeviceCreated(IDirect3DDevice9* device) {
  g_pDevice = device;
  for (std::size_t i = 0; i < g_DeviceResources.Size(); ++i) g_DeviceResources[i]->Restore();
}

void NotifyDeviceReleased() {
  for (std::size_t i = 0; i < g_DeviceResources.Size(); ++i) g_DeviceResources[i]->Release();
}

IDirect3DDevice9* GetGlobalDevice() { return g_pDevice; }

namespace {
void RoundUp(int* v) {
  if (*v >= (1 << 30)) return;
  int p = 2;
  while (p <= *v) p <<= 1;
  *v = p;
}
}  // namespace

void RoundUpToPowerOfTwo(int* w, int* h) {
  RoundUp(w);
  RoundUp(h);
}
