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

// The sound and music classes and their interfaces. Nothing outside this
// program reads these identifiers, so the values are the platform's own.
// {21E42F4F-7882-4C2E-9A74-8E2A502A88D8}
inline constexpr CLSID CLSID_DirectSound8 = {0x21E42F4F, 0x7882, 0x4C2E, {0x9A, 0x74, 0x8E, 0x2A, 0x50, 0x2A, 0x88, 0xD8}};
// {F2AF6127-5256-4FF8-93A1-2BB6C31627C6}
inline constexpr IID IID_IDirectSound8 = {0xF2AF6127, 0x5256, 0x4FF8, {0x93, 0xA1, 0x2B, 0xB6, 0xC3, 0x16, 0x27, 0xC6}};
// {BC07B864-1655-47F1-999A-8305983729A4}
inline constexpr IID IID_IDirectSoundBuffer8 = {0xBC07B864, 0x1655, 0x47F1, {0x99, 0x9A, 0x83, 0x05, 0x98, 0x37, 0x29, 0xA4}};
// {E2BBD0A8-E698-48DD-B740-83C2AFF5A003}
inline constexpr CLSID CLSID_FilterGraph = {0xE2BBD0A8, 0xE698, 0x48DD, {0xB7, 0x40, 0x83, 0xC2, 0xAF, 0xF5, 0xA0, 0x03}};
// {2BBBF5A2-2FAF-4698-82DF-B9E080DA01C6}
inline constexpr IID IID_IGraphBuilder = {0x2BBBF5A2, 0x2FAF, 0x4698, {0x82, 0xDF, 0xB9, 0xE0, 0x80, 0xDA, 0x01, 0xC6}};
// {548C31C0-B411-4492-A38E-C93C941706B3}
inline constexpr IID IID_IMediaControl = {0x548C31C0, 0xB411, 0x4492, {0xA3, 0x8E, 0xC9, 0x3C, 0x94, 0x17, 0x06, 0xB3}};
// {6A405209-5859-46D8-AA05-625CB63C4DB0}
inline constexpr IID IID_IMediaEvent = {0x6A405209, 0x5859, 0x46D8, {0xAA, 0x05, 0x62, 0x5C, 0xB6, 0x3C, 0x4D, 0xB0}};
// {466650B6-D4E0-4B8B-804E-B3C4E9ABFD6A}
inline constexpr IID IID_IMediaSeeking = {0x466650B6, 0xD4E0, 0x4B8B, {0x80, 0x4E, 0xB3, 0xC4, 0xE9, 0xAB, 0xFD, 0x6A}};

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
