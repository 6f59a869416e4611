// Sound: WAVE encoding, the synthesis helpers, the game's sound effects and
// its music.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/generator/output.h"

namespace assetgen {

struct WaveFormat {
  int rate = 22050;
  int channels = 1;
  bool formatChunk18 = false;  // write the 18-byte format (with a zero extra size)
  std::string title;           // when set, a LIST/INFO chunk with the title precedes the data
};

// 16-bit PCM WAVE of interleaved samples in -1..1. Every chunk has an even
// size, so readers that pad odd chunks and readers that do not agree.
std::vector<std::uint8_t> EncodeWave(const std::vector<float>& interleaved, const WaveFormat& format);

// Peak levels that leave the mixer headroom: it sums the music and the effects
// playing and saturates. The music peaks at -9 dBFS and each effect at
// -10.5 dBFS (amplitudes 10^(-9/20) and 10^(-10.5/20) of full scale), so even
// the music and two effects at their peaks together (0.95, with the encoder's
// overshoot on the music) stay below full scale; two effects at -6 dBFS would
// reach it on their own.
constexpr float kMusicPeak = 0.3548f;
constexpr float kEffectPeak = 0.2985f;

// Scales the samples so that their largest magnitude is `peak`.
inline void ScaleToPeak(std::vector<float>& samples, float peak) {
  float largest = 0;
  for (float x : samples) largest = std::max(largest, std::fabs(x));
  if (largest > 0)
    for (float& x : samples) x *= peak / largest;
}

void MakeSoundEffects(Output& out);
// Renders the looping tune and writes it as a WAVE file for the encoder.
void WriteMusic(const std::string& path);

namespace synth {

constexpr float kTau = 6.2831853f;

inline float NoteHz(int midi) { return 440.0f * std::pow(2.0f, (midi - 69) / 12.0f); }

// Deterministic white noise.
class Noise {
 public:
  explicit Noise(std::uint32_t seed = 0x9E3779B9u) : m_s(seed) {}
  float Next() {
    m_s ^= m_s << 13;
    m_s ^= m_s >> 17;
    m_s ^= m_s << 5;
    return (m_s & 0xFFFFFF) / 8388608.0f - 1.0f;
  }

 private:
  std::uint32_t m_s;
};

// One-pole low-pass; `cutoff` in Hz may change every sample.
class LowPass {
 public:
  float Run(float x, float cutoff, float rate) {
    float a = 1.0f - std::exp(-kTau * cutoff / rate);
    m_y += a * (x - m_y);
    return m_y;
  }

 private:
  float m_y = 0;
};

inline float Pulse(float phase, float duty) { return phase - std::floor(phase) < duty ? 1.0f : -1.0f; }
inline float Triangle(float phase) {
  float p = phase - std::floor(phase);
  return 4.0f * std::fabs(p - 0.5f) - 1.0f;
}
inline float Saw(float phase) { return 2.0f * (phase - std::floor(phase)) - 1.0f; }

// Attack-decay-sustain-release level at time t of a note held for `hold` s.
inline float Adsr(float t, float hold, float a, float d, float s, float r) {
  float level;
  if (t < a) level = t / a;
  else if (t < a + d) level = 1.0f - (1.0f - s) * (t - a) / d;
  else level = s;
  if (t > hold) {
    float held = hold < a ? hold / a : (hold < a + d ? 1.0f - (1.0f - s) * (hold - a) / d : s);
    level = held * std::max(0.0f, 1.0f - (t - hold) / r);
  }
  return level;
}

}  // namespace synth

}  // namespace assetgen
