// Test hooks of the audio areas (DirectSound buffers and DirectShow graphs):
// a recorder of what was created, played, stopped and completed when, and a
// capture of the mixed output. Included by testing.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dsound_api.h"

namespace platform::test {

enum class AudioEventKind {
  // Sound buffers (id: the buffer's number, counted from 1 per reset)
  BufferCreate,   // format, bytes, crc (of the data as last unlocked)
  BufferPlay,     // crc of the data played, looping
  BufferStop,     // stopped by the program
  BufferEnd,      // a one-shot buffer ran out
  BufferRelease,  // last reference dropped
  // Filter graphs (id: the graph's number, counted from 1 per reset)
  GraphOpen,      // name (UTF-8) of the file rendered
  GraphRun,
  GraphPause,
  GraphStop,
  GraphComplete,  // the last sample of the stream was mixed
  GraphSeek,      // position in 100-ns units
};

struct AudioEvent {
  AudioEventKind kind;
  DWORD timeMs;         // timeGetTime() when it happened
  std::int64_t frame;   // frames presented by then
  unsigned id;
  WAVEFORMATEX format;  // BufferCreate
  DWORD bytes;          // BufferCreate
  std::uint32_t crc;    // CRC-32 of the buffer's data (BufferCreate, BufferPlay)
  bool looping;         // BufferPlay
  std::string name;     // GraphOpen
  LONGLONG position;    // GraphSeek
};

// Events since the last reset, in order.
std::vector<AudioEvent> AudioEvents();
void ClearAudioEvents();
// The events of one kind.
std::vector<AudioEvent> AudioEventsOf(AudioEventKind kind);

// CRC-32 (the zip polynomial) of bytes, to match BufferCreate and BufferPlay
// records with the files they came from.
std::uint32_t AudioCrc32(const void* data, std::size_t size);

// Captures the mixed output (44,100 Hz, interleaved stereo S16) from now on.
void StartMixCapture();
// The capture so far; capturing continues.
std::vector<std::int16_t> MixCapture();
void StopMixCapture();

// Mixes frames of output now, as the audio sink would (for tests that drive
// the mixer without the clock).
void PullAudio(std::size_t frames);

// Voices (playing or not) the mixer holds.
std::size_t AudioVoiceCount();

}  // namespace platform::test
