// The software mixer behind DirectSound buffers and DirectShow graphs. Voices
// add themselves; the audio sink pulls interleaved stereo S16 at 44,100 Hz.
// Every voice and every call that touches voice state runs under the mixer's
// lock (the interactive sink mixes on its own thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/testing_audio.h"

namespace platform::audio {

// Something the mixer sums into its output.
class Voice {
 public:
  virtual ~Voice() = default;
  // Adds frames of stereo output into acc (interleaved, two i32 per frame).
  // Called with the mixer lock held.
  virtual void Render(std::int32_t* acc, std::size_t frames) = 0;
};

class Mixer {
 public:
  static Mixer& Get();

  std::mutex& Lock() { return m_lock; }
  // Both take the lock.
  void Add(Voice* voice);
  void Remove(Voice* voice);
  std::size_t VoiceCount();

  // Fills out with frames of output; takes the lock.
  void Mix(std::int16_t* out, std::size_t frames);

  // Test capture of the output.
  void SetCapture(bool on);
  std::vector<std::int16_t> Capture();
  void Reset();

 private:
  Mixer() = default;

  std::mutex m_lock;
  std::vector<Voice*> m_voices;
  std::vector<std::int32_t> m_acc;
  bool m_capturing = false;
  std::vector<std::int16_t> m_capture;
};

// Makes sure an audio sink pulls the mixer; false when no device is available.
bool ConnectSink();
// Frames presented so far (for the recorder).
std::int64_t PresentedFrames();

// --- PCM sample access ----------------------------------------------------

struct PcmLayout {
  unsigned channels;  // 1 or 2
  unsigned bits;      // 8 (unsigned) or 16 (signed)
  unsigned blockAlign;
};

// The frame at index as a left and right 16-bit pair; unsigned 8-bit samples
// are centred and widened, mono goes to both sides.
inline void ReadFrame(const std::uint8_t* data, const PcmLayout& layout, std::size_t index, int* left,
                      int* right) {
  const std::uint8_t* p = data + index * layout.blockAlign;
  if (layout.bits == 8) {
    *left = (static_cast<int>(p[0]) - 128) * 256;
    *right = layout.channels == 2 ? (static_cast<int>(p[1]) - 128) * 256 : *left;
  } else {
    *left = static_cast<std::int16_t>(p[0] | (p[1] << 8));
    *right = layout.channels == 2 ? static_cast<std::int16_t>(p[2] | (p[3] << 8)) : *left;
  }
}

// Linear interpolation between a and b at frac / 2^32.
inline int Lerp(int a, int b, std::uint32_t frac) {
  return a + static_cast<int>((static_cast<std::int64_t>(b - a) * frac) >> 32);
}

// 32.32 step through the source per output frame.
inline std::uint64_t StepFor(std::uint32_t sourceRate) {
  return (static_cast<std::uint64_t>(sourceRate) << 32) / 44100u;
}

// --- Recorder ---------------------------------------------------------------

void Record(test::AudioEvent event);
// Sets the checksum of buffer id's creation record.
void UpdateCreateCrc(unsigned id, std::uint32_t crc);
test::AudioEvent MakeEvent(test::AudioEventKind kind, unsigned id);
unsigned NextBufferId();
unsigned NextGraphId();

}  // namespace platform::audio
