// The Direct3D object: one adapter (the display), capability and format
// answers from the selected profiles, and device creation.
#pragma once

#include "d3d9/object.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

class Direct3D9 final : public IDirect3D9, public Object {
 public:
  Direct3D9() : Object("Direct3D", true) {}

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override;

  UINT GetAdapterCount() override;
  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
  HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                          BOOL windowed) override;
  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT format) override;
  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                       D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

  ULONG PublicRefs() const override { return m_refs; }

 private:
  ULONG m_refs = 1;
};

}  // namespace platform::d3d9
