#include "d3d9/direct3d.h"

#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "platform/testing.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

[[maybe_unused]] const bool kExported =
    (platform::RegisterDefaultExport("d3d9.dll", "Direct3DCreate9",
                                     reinterpret_cast<platform::test::ExportFn>(&::Direct3DCreate9)),
     true);

bool KnownDeviceType(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF; }

const char* TypeName(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL ? "HAL" : "REF"; }

const char* ProcessingName(DWORD behavior) {
  if (behavior & D3DCREATE_HARDWARE_VERTEXPROCESSING) return "HARDWARE";
  if (behavior & D3DCREATE_MIXED_VERTEXPROCESSING) return "MIXED";
  return "SOFTWARE";
}

}  // namespace

HRESULT Direct3D9::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3D9*>(this), iid == IID_IUnknown || iid == IID_IDirect3D9, out);
}

ULONG Direct3D9::Release() {
  if (m_refs == 0) return 0;
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

UINT Direct3D9::GetAdapterCount() { return 1; }

HRESULT Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
  HRESULT hr = D3D_OK;
  if (adapter != 0 || !mode)
    hr = D3DERR_INVALIDCALL;
  else if (!platform::detail::ShouldFail("GetAdapterDisplayMode", &hr))
    *mode = DisplayMode();
  D3D9_RETURN("Direct3D.GetAdapterDisplayMode", hr, adapter);
}

HRESULT Direct3D9::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT backBufferFormat, BOOL windowed) {
  HRESULT hr = D3D_OK;
  if (adapter != 0 || !KnownDeviceType(type))
    hr = D3DERR_INVALIDCALL;
  else if (adapterFormat != D3DFMT_X8R8G8B8)
    hr = D3DERR_NOTAVAILABLE;
  else if (backBufferFormat != D3DFMT_X8R8G8B8 && backBufferFormat != D3DFMT_A8R8G8B8 &&
           !(windowed && backBufferFormat == D3DFMT_UNKNOWN))
    hr = D3DERR_NOTAVAILABLE;
  D3D9_RETURN("Direct3D.CheckDeviceType", hr, adapter, type, adapterFormat, backBufferFormat, windowed);
}

HRESULT Direct3D9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                     D3DRESOURCETYPE resourceType, D3DFORMAT format) {
  HRESULT hr = D3D_OK;
  if (adapter != 0 || !KnownDeviceType(type) || adapterFormat == D3DFMT_UNKNOWN)
    hr = D3DERR_INVALIDCALL;
  else if (adapterFormat != D3DFMT_X8R8G8B8)
    hr = D3DERR_NOTAVAILABLE;
  else
    hr = CheckFormat(usage, resourceType, format);
  D3D9_RETURN("Direct3D.CheckDeviceFormat", hr, adapter, type, adapterFormat, usage, resourceType, format);
}

HRESULT Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
  HRESULT hr = D3D_OK;
  if (adapter != 0 || !KnownDeviceType(type) || !caps)
    hr = D3DERR_INVALIDCALL;
  else
    *caps = CurrentCaps(type);
  D3D9_RETURN("Direct3D.GetDeviceCaps", hr, adapter, type);
}

HRESULT Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
  HRESULT hr = D3D_OK;
  const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                            D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
  const DWORD known = D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED | D3DCREATE_PUREDEVICE | processing |
                      0x100 | 0x400 | 0x800;  // driver management and window-change flags: no effect here
  if (device) *device = nullptr;
  if (adapter != 0 || !KnownDeviceType(type) || !params || !device || (behaviorFlags & ~known) ||
      (processing & (processing - 1)) || processing == 0 ||
      ((behaviorFlags & D3DCREATE_PUREDEVICE) && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING)) {
    hr = D3DERR_INVALIDCALL;
  } else {
    const std::string detail = std::string(TypeName(type)) + "/" + ProcessingName(behaviorFlags);
    if (!platform::detail::ShouldFail("CreateDevice", &hr, detail)) {
      Device* created = nullptr;
      hr = Device::Create(this, type, focusWindow, behaviorFlags, params, &created);
      if (SUCCEEDED(hr)) *device = created;
    }
  }
  D3D9_RETURN("Direct3D.CreateDevice", hr, adapter, type, behaviorFlags, device ? *device : nullptr);
}

}  // namespace platform::d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
  HRESULT hr = D3D_OK;
  IDirect3D9* d3d = nullptr;
  if (sdkVersion == D3D_SDK_VERSION && !platform::detail::ShouldFail("Direct3DCreate9", &hr))
    d3d = new platform::d3d9::Direct3D9();
  if (platform::d3d9::CallLogEnabled())
    platform::d3d9::LogCall("Direct3DCreate9", platform::d3d9::LogArgs(sdkVersion, d3d), d3d ? S_OK : E_FAIL);
  return d3d;
}
