// The DirectSound object: device start-up and buffer creation.
#include <atomic>
#include <new>

#include "dsound/mixer.h"
#include "dsound/sound_buffer.h"
#include "platform/dsound_api.h"

namespace platform::audio {
namespace {

class DirectSound final : public IDirectSound8 {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDirectSound8) {
      *out = static_cast<IDirectSound8*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Initialize(const GUID* device) override {
    if (m_initialised) return DSERR_ALREADYINITIALIZED;
    if (device != nullptr) return DSERR_NODRIVER;  // only the default device exists
    if (!ConnectSink()) return DSERR_NODRIVER;
    m_initialised = true;
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND, DWORD level) override {
    if (!m_initialised) return DSERR_UNINITIALIZED;
    if (level != DSSCL_NORMAL && level != DSSCL_PRIORITY) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

  HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, LPUNKNOWN outer) override {
    if (!m_initialised) return DSERR_UNINITIALIZED;
    if (!desc || !buffer) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (desc->dwSize != sizeof(DSBUFFERDESC)) return DSERR_INVALIDPARAM;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
      // The primary buffer has no size or format of its own.
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
      auto* primary = new (std::nothrow) PrimaryBuffer;
      if (!primary) return DSERR_OUTOFMEMORY;
      *buffer = primary;
      return DS_OK;
    }
    HRESULT hr = CheckSecondaryDesc(*desc);
    if (FAILED(hr)) return hr;
    try {
      *buffer = new SecondaryBuffer(*desc);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
    return DS_OK;
  }

 private:
  std::atomic<ULONG> m_refs{1};
  bool m_initialised = false;
};

HRESULT CreateDirectSound(REFIID iid, void** out) {
  auto* ds = new (std::nothrow) DirectSound;
  if (!ds) return E_OUTOFMEMORY;
  HRESULT hr = ds->QueryInterface(iid, out);
  ds->Release();
  return hr;
}

}  // namespace

bool RegisterDirectSoundClass() {
  static const bool registered = (RegisterComClass(CLSID_DirectSound8, &CreateDirectSound), true);
  return registered;
}

}  // namespace platform::audio
