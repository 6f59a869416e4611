// DirectSound buffer objects: the primary buffer (a placeholder whose format
// is never changed) and static secondary buffers, each a voice of the mixer.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "dsound/mixer.h"
#include "platform/dsound_api.h"

namespace platform::audio {

// Checks a secondary buffer's description; DS_OK or the error to return.
HRESULT CheckSecondaryDesc(const DSBUFFERDESC& desc);

class PrimaryBuffer final : public IDirectSoundBuffer {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override;

  HRESULT GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override;
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) override;
  HRESULT GetStatus(LPDWORD status) override;
  HRESULT Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD) override { return DSERR_INVALIDCALL; }
  HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override;
  HRESULT SetCurrentPosition(DWORD) override { return DSERR_INVALIDCALL; }
  HRESULT Stop() override;
  HRESULT Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DSERR_INVALIDCALL; }

 private:
  std::atomic<ULONG> m_refs{1};
  bool m_playing = false;
};

class SecondaryBuffer final : public IDirectSoundBuffer8, public Voice {
 public:
  // desc must have passed CheckSecondaryDesc.
  explicit SecondaryBuffer(const DSBUFFERDESC& desc);
  ~SecondaryBuffer() override;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override;

  HRESULT GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override;
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) override;
  HRESULT GetStatus(LPDWORD status) override;
  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, LPDWORD bytes1, LPVOID* ptr2, LPDWORD bytes2,
               DWORD flags) override;
  HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override;
  HRESULT SetCurrentPosition(DWORD position) override;
  HRESULT Stop() override;
  HRESULT Unlock(LPVOID ptr1, DWORD bytes1, LPVOID ptr2, DWORD bytes2) override;

  void Render(std::int32_t* acc, std::size_t frames) override;

 private:
  std::uint32_t DataCrc() const;

  std::atomic<ULONG> m_refs{1};
  const unsigned m_id;
  WAVEFORMATEX m_format;
  PcmLayout m_layout;
  std::size_t m_frames;               // whole frames in the buffer
  std::vector<std::uint8_t> m_data;   // read by the mixer under its lock
  std::vector<std::uint8_t> m_locked; // what Lock hands out; copied back by Unlock
  bool m_isLocked = false;
  std::uint64_t m_pos = 0;            // 32.32 frames
  std::uint64_t m_step;
  bool m_playing = false;
  bool m_looping = false;
};

}  // namespace platform::audio
