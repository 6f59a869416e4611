#include "qel/appbase/qelsound.h"

#include <cstring>
#include <memory>

#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelfile.h"
#include "qel/appbase/qelrelease.h"

IDirectSound8* g_pDirectSound = nullptr;
IDirectSoundBuffer* g_pPrimaryBuffer = nullptr;
constinit C_PtrList<C_SoundBuffer> g_SoundBuffers;

bool InitSound(HWND hWnd) {
  if (FAILED(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_IDirectSound8, reinterpret_cast<void**>(&g_pDirectSound))))
    return false;
  if (FAILED(g_pDirectSound->Initialize(nullptr))) return false;
  if (FAILED(g_pDirectSound->SetCooperativeLevel(hWnd, DSSCL_PRIORITY)) &&
      FAILED(g_pDirectSound->SetCooperativeLevel(hWnd, DSSCL_NORMAL)))
    return false;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  if (FAILED(g_pDirectSound->CreateSoundBuffer(&desc, &g_pPrimaryBuffer, nullptr))) return false;
  return true;
}

void ShutdownSound() {
  for (C_SoundBuffer* buffer : g_SoundBuffers) buffer->Release();
  SafeRelease(g_pPrimaryBuffer);
  SafeRelease(g_pDirectSound);
}

C_SoundBuffer::C_SoundBuffer() { g_SoundBuffers.Add(this); }

C_SoundBuffer::~C_SoundBuffer() { g_SoundBuffers.Remove(this); }

void C_SoundBuffer::Load(const char* name) {
  Release();
  std::uint8_t* raw = nullptr;
  WAVEFORMATEX format{};
  std::uint32_t bytes = ReadWave(name, &raw, &format);
  std::unique_ptr<std::uint8_t[]> samples(raw);  // freed in every case
  if (bytes == 0) {
    // The buffer stays silent and the game goes on, but not without a word.
    C_File probe;
    g_ErrorLog.ReportOnce(probe.Open(name, true, OPEN_EXISTING)
                              ? std::string(name) + " is no RIFF WAVE file with PCM samples"
                              : std::string(name) + " could not be opened: " + SystemErrorText(GetLastError()));
    return;
  }
  if (!g_pDirectSound) return;

  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_LOCSOFTWARE;
  desc.dwBufferBytes = bytes;
  desc.lpwfxFormat = &format;
  IDirectSoundBuffer* first = nullptr;
  const HRESULT created = g_pDirectSound->CreateSoundBuffer(&desc, &first, nullptr);
  if (FAILED(created)) {
    // Without a device every effect fails alike, and the device's absence has been said.
    if (created == DSERR_BADFORMAT)
      g_ErrorLog.ReportOnce(std::string(name) + " could not be played: " + ResultText(created));
    return;
  }
  HRESULT hr = first->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&m_pBuffer));
  first->Release();
  if (FAILED(hr)) {
    m_pBuffer = nullptr;
    return;
  }

  void* p1 = nullptr;
  void* p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  if (SUCCEEDED(m_pBuffer->Lock(0, bytes, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) {
    std::memcpy(p1, samples.get(), n1 < bytes ? n1 : bytes);
    m_pBuffer->Unlock(p1, n1, p2, n2);
  }
}

void C_SoundBuffer::Play() {
  if (m_pBuffer) m_pBuffer->Play(0, 0, 0);
}

void C_SoundBuffer::LoadAndPlay(const char* name) {
  Load(name);
  Play();
}

void C_SoundBuffer::Stop() {
  if (m_pBuffer) m_pBuffer->Stop();
}

bool C_SoundBuffer::IsPlaying() {
  if (!m_pBuffer) return false;
  DWORD status = 0;
  if (FAILED(m_pBuffer->GetStatus(&status))) return false;
  return status == DSBSTATUS_PLAYING;
}

void C_SoundBuffer::Release() {
  if (!m_pBuffer) return;
  m_pBuffer->Stop();
  SafeRelease(m_pBuffer);
}
