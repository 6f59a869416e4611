// DirectSound 8: one device object, a primary buffer and static secondary
// buffers of PCM samples, mixed in software into 44,100 Hz stereo 16-bit
// output. Made with CoCreateInstance(CLSID_DirectSound8, ..., IID_IDirectSound8).
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"

// ---------------------------------------------------------------------------
// Wave format (packed: 18 bytes, as stored in a RIFF "fmt " chunk)
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

constexpr WORD WAVE_FORMAT_PCM = 1;

// ---------------------------------------------------------------------------
// Result codes
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = (HRESULT)0x88780032u;
constexpr HRESULT DSERR_BADFORMAT = (HRESULT)0x88780064u;
constexpr HRESULT DSERR_NODRIVER = (HRESULT)0x88780078u;
constexpr HRESULT DSERR_ALREADYINITIALIZED = (HRESULT)0x88780082u;
constexpr HRESULT DSERR_UNINITIALIZED = (HRESULT)0x887800AAu;
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_NOINTERFACE = E_NOINTERFACE;

// ---------------------------------------------------------------------------
// Constants
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;

constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;

constexpr DWORD DSBPLAY_LOOPING = 0x1;

constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;

// Secondary buffer limits.
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;

struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  GUID guid3DAlgorithm;
};
using LPDSBUFFERDESC = DSBUFFERDESC*;
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

// ---------------------------------------------------------------------------
// Interfaces
struct IDirectSoundBuffer : IUnknown {
  virtual HRESULT GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) = 0;
  virtual HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) = 0;
  // DSBSTATUS_PLAYING, with DSBSTATUS_LOOPING when looping.
  virtual HRESULT GetStatus(LPDWORD status) = 0;
  virtual HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, LPDWORD bytes1, LPVOID* ptr2, LPDWORD bytes2,
                       DWORD flags) = 0;
  // Plays from the current position; reserved1 and priority must be 0.
  virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD position) = 0;
  // Keeps the position.
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(LPVOID ptr1, DWORD bytes1, LPVOID ptr2, DWORD bytes2) = 0;

 protected:
  ~IDirectSoundBuffer() = default;
};
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;

struct IDirectSoundBuffer8 : IDirectSoundBuffer {
 protected:
  ~IDirectSoundBuffer8() = default;
};
using LPDIRECTSOUNDBUFFER8 = IDirectSoundBuffer8*;

struct IDirectSound8 : IUnknown {
  virtual HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, LPUNKNOWN outer) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
  // NULL: the default device.
  virtual HRESULT Initialize(const GUID* device) = 0;

 protected:
  ~IDirectSound8() = default;
};
using LPDIRECTSOUND8 = IDirectSound8*;

// CLSID_DirectSound8, IID_IDirectSound8 and IID_IDirectSoundBuffer8 are in
// com.h; the base buffer interface is this area's own.
// {8E9C1F55-2A61-4C3B-9F0E-6B1D2C7A4E02}
inline constexpr IID IID_IDirectSoundBuffer = {0x8E9C1F55, 0x2A61, 0x4C3B, {0x9F, 0x0E, 0x6B, 0x1D, 0x2C, 0x7A, 0x4E, 0x02}};

namespace platform::audio {
// Registers the DirectSound class with COM (once). Every file that includes
// this header calls it, so a program that uses DirectSound links the class.
bool RegisterDirectSoundClass();
inline const bool kDirectSoundClassRegistered = RegisterDirectSoundClass();
}  // namespace platform::audio

// Output format of the mixer.
namespace platform::audio {
constexpr DWORD kOutputRate = 44100;
constexpr DWORD kOutputChannels = 2;
}  // namespace platform::audio
