// COM: IUnknown, initialisation and object creation. Interfaces are plain C++
// abstract classes with QueryInterface, AddRef and Release first.
#pragma once

#include "platform/win_types.h"

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_ALL = 0x17;

// S_OK on the first call, S_FALSE afterwards; counted.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
// Knows the DirectSound object and the filter graph; others give REGDB_E_CLASSNOTREG.
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out);

namespace platform {
// A class that CoCreateInstance can make (registered by the area that implements
// it, usually from a static initialiser; registrations survive test resets). The
// factory returns E_NOINTERFACE for an interface the object does not have.
using ComFactory = HRESULT (*)(REFIID iid, void** out);
void RegisterComClass(const CLSID& clsid, ComFactory factory);
}  // namespace platform
