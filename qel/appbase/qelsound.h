// Sound effects: RIFF WAVE files played through DirectSound buffers. One
// DirectSound object and its primary buffer are made at start-up; each
// C_SoundBuffer holds one secondary buffer, replaced on every Load.
#pragma once

#include <cstdint>

#include "platform/dsound_api.h"
#include "qel/appbase/qelptrlist.h"

class C_SoundBuffer {
 public:
  C_SoundBuffer();
  // Leaves the list; the buffer is released by Release or ShutdownSound.
  ~C_SoundBuffer();
  C_SoundBuffer(const C_SoundBuffer&) = delete;
  C_SoundBuffer& operator=(const C_SoundBuffer&) = delete;

  // Replaces the buffer with the file's sound; a missing or malformed file
  // leaves the object empty.
  void Load(const char* name);
  // Once, from the current position.
  void Play();
  void LoadAndPlay(const char* name);
  // Keeps the position.
  void Stop();
  bool IsPlaying();
  void Release();

  bool HasBuffer() const { return m_pBuffer != nullptr; }

  // Reads a PCM RIFF WAVE file: the sample bytes (a new block in *data, freed
  // with delete[]) and their count, or 0 on failure.
  static std::uint32_t ReadWave(const char* name, std::uint8_t** data, WAVEFORMATEX* format);

 private:
  IDirectSoundBuffer8* m_pBuffer = nullptr;
};

// Creates the DirectSound object and its primary buffer; false on failure
// (the program then runs silent).
bool InitSound(HWND hWnd);
// Releases every listed sound buffer, the primary buffer and the device.
void ShutdownSound();

extern IDirectSound8* g_pDirectSound;
extern IDirectSoundBuffer* g_pPrimaryBuffer;
extern constinit C_PtrList<C_SoundBuffer> g_SoundBuffers;
