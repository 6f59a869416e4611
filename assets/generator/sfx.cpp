// The game's sound effects, each made for its moment: the explosion when an
// enemy hits, the fall off the floor, the clear, the coin of each score line,
// the whoosh that ends the clear screen and the two menu clicks.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/generator/audio.h"

namespace assetgen {

namespace {

using namespace synth;

void Append16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Append32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>((x >> (8 * i)) & 0xFF));
}
void AppendTag(std::vector<std::uint8_t>& v, const char* tag) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(tag[i]));
}

std::vector<float> Buffer(float seconds, int rate) { return std::vector<float>(static_cast<size_t>(seconds * rate), 0.0f); }

// Fades the last milliseconds so that no effect ends in a click, and sets the
// effect's level.
void Finish(std::vector<float>& s, int rate, int channels) {
  size_t fade = std::min(s.size() / channels, static_cast<size_t>(rate / 200));
  size_t frames = s.size() / channels;
  for (size_t i = 0; i < fade; ++i)
    for (int c = 0; c < channels; ++c) s[(frames - 1 - i) * channels + c] *= static_cast<float>(i) / fade;
  ScaleToPeak(s, kEffectPeak);
}

// Hit by an enemy: a low boom with a crackling burst.
std::vector<float> Boom(int rate) {
  std::vector<float> s = Buffer(0.9f, rate);
  Noise n(7);
  LowPass lp, lp2;
  float phase = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float f = 38.0f + 110.0f * std::exp(-t * 9.0f);
    phase += f / rate;
    float body = std::sin(kTau * phase) * std::exp(-t * 4.0f);
    float crackle = lp.Run(n.Next(), 200.0f + 5000.0f * std::exp(-t * 7.0f), static_cast<float>(rate)) * std::exp(-t * 5.0f);
    float rumble = lp2.Run(n.Next(), 180.0f, static_cast<float>(rate)) * std::exp(-t * 2.5f) * 2.0f;
    float x = 0.9f * body + 0.9f * crackle + 0.6f * rumble;
    s[i] = std::tanh(x * 1.6f);
  }
  Finish(s, rate, 1);
  return s;
}

// Off the edge: a falling whistle, then a soft, distant thump.
std::vector<float> Fall(int rate) {
  std::vector<float> s = Buffer(0.95f, rate);
  Noise n(11);
  LowPass lp;
  float phase = 0, thump = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float x = 0;
    if (t < 0.6f) {
      float f = 1250.0f * std::pow(0.18f, t / 0.6f);
      phase += f / rate;
      float env = std::min(1.0f, t / 0.02f) * (1.0f - t / 0.6f);
      x += 0.45f * (std::sin(kTau * phase) + 0.25f * Triangle(phase * 2)) * env;
    }
    if (t >= 0.62f) {
      float u = t - 0.62f;
      thump += (70.0f * std::exp(-u * 6.0f) + 40.0f) / rate;
      x += 0.8f * std::sin(kTau * thump) * std::exp(-u * 9.0f);
      x += 0.35f * lp.Run(n.Next(), 600.0f, static_cast<float>(rate)) * std::exp(-u * 14.0f);
    }
    s[i] = x;
  }
  Finish(s, rate, 1);
  return s;
}

// The goal: a bright crash and a rising major flourish, in stereo.
std::vector<float> Crash(int rate) {
  const float seconds = 1.6f;
  std::vector<float> s(static_cast<size_t>(seconds * rate) * 2, 0.0f);
  Noise nl(21), nr(22);
  LowPass hl, hr;
  const int notes[4] = {72, 76, 79, 84};  // C E G C
  for (size_t i = 0; i < s.size() / 2; ++i) {
    float t = static_cast<float>(i) / rate;
    // Cymbal: high-passed noise (noise minus its low-passed part).
    float a = nl.Next(), b = nr.Next();
    float cl = (a - hl.Run(a, 3000.0f, static_cast<float>(rate))) * std::exp(-t * 2.6f);
    float cr = (b - hr.Run(b, 3000.0f, static_cast<float>(rate))) * std::exp(-t * 2.6f);
    float tone = 0;
    for (int k = 0; k < 4; ++k) {
      float start = 0.06f * k;
      if (t < start) continue;
      float u = t - start;
      float f = NoteHz(notes[k]);
      tone += (Pulse(u * f, 0.25f) * 0.35f + std::sin(kTau * u * f) * 0.5f) * Adsr(u, 0.25f, 0.005f, 0.1f, 0.5f, 0.9f);
    }
    s[2 * i] = 0.55f * cl + 0.32f * tone;
    s[2 * i + 1] = 0.55f * cr + 0.32f * tone;
  }
  Finish(s, rate, 2);
  return s;
}

// Each score line: a small coin.
std::vector<float> Coin(int rate) {
  std::vector<float> s = Buffer(0.45f, rate);
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float f = t < 0.07f ? NoteHz(95) : NoteHz(100);  // B6 then E7
    float env = t < 0.07f ? 1.0f : std::exp(-(t - 0.07f) * 9.0f);
    s[i] = 0.5f * (Pulse(t * f, 0.5f) * 0.5f + std::sin(kTau * t * f)) * env * std::min(1.0f, t / 0.002f);
  }
  Finish(s, rate, 1);
  return s;
}

// The clear screen closes: a sweeping whoosh.
std::vector<float> Whoosh(int rate) {
  std::vector<float> s = Buffer(0.7f, rate);
  Noise n(5);
  LowPass lo, hi;
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float sweep = 300.0f + 4000.0f * std::sin(static_cast<float>(M_PI) * t / 0.7f);
    float x = n.Next();
    float band = lo.Run(x, sweep, static_cast<float>(rate)) - hi.Run(x, sweep * 0.3f, static_cast<float>(rate));
    float env = std::sin(static_cast<float>(M_PI) * t / 0.7f);
    s[i] = 1.6f * band * env * env;
  }
  Finish(s, rate, 1);
  return s;
}

// Menu choice: a rising two-note blip.
std::vector<float> Decide(int rate) {
  std::vector<float> s = Buffer(0.16f, rate);
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float f = t < 0.05f ? NoteHz(81) : NoteHz(88);
    float env = t < 0.05f ? 1.0f : std::exp(-(t - 0.05f) * 28.0f);
    s[i] = 0.38f * Pulse(t * f, 0.25f) * env;
  }
  Finish(s, rate, 1);
  return s;
}

// A letter picked: a soft, short tick.
std::vector<float> Tick(int rate) {
  std::vector<float> s = Buffer(0.09f, rate);
  for (size_t i = 0; i < s.size(); ++i) {
    float t = static_cast<float>(i) / rate;
    float f = NoteHz(84) * (1.0f + 0.3f * std::exp(-t * 60.0f));
    s[i] = 0.55f * Triangle(t * f) * std::exp(-t * 40.0f) * std::min(1.0f, t / 0.001f);
  }
  Finish(s, rate, 1);
  return s;
}

}  // namespace

std::vector<std::uint8_t> EncodeWave(const std::vector<float>& interleaved, const WaveFormat& format) {
  // The title, zero-terminated and padded to an even size.
  std::string name = format.title;
  if (!name.empty()) name.append(name.size() % 2 ? 1 : 2, '\0');
  const std::uint32_t fmtSize = format.formatChunk18 ? 18 : 16;
  const std::uint32_t listSize = name.empty() ? 0 : 4 + 8 + static_cast<std::uint32_t>(name.size());
  const std::uint32_t dataSize = static_cast<std::uint32_t>(interleaved.size() * 2);
  const std::uint32_t riffSize = 4 + 8 + fmtSize + (listSize ? 8 + listSize : 0) + 8 + dataSize;

  // Written byte by byte in file order into a buffer reserved for all of it.
  std::vector<std::uint8_t> out;
  out.reserve(8 + riffSize);
  AppendTag(out, "RIFF");
  Append32(out, riffSize);
  AppendTag(out, "WAVE");
  AppendTag(out, "fmt ");
  Append32(out, fmtSize);
  Append16(out, 1);  // PCM
  Append16(out, static_cast<std::uint16_t>(format.channels));
  Append32(out, static_cast<std::uint32_t>(format.rate));
  Append32(out, static_cast<std::uint32_t>(format.rate * format.channels * 2));
  Append16(out, static_cast<std::uint16_t>(format.channels * 2));
  Append16(out, 16);
  if (format.formatChunk18) Append16(out, 0);
  if (listSize) {
    AppendTag(out, "LIST");
    Append32(out, listSize);
    AppendTag(out, "INFO");
    AppendTag(out, "INAM");
    Append32(out, static_cast<std::uint32_t>(name.size()));
    for (char c : name) out.push_back(static_cast<std::uint8_t>(c));
  }
  AppendTag(out, "data");
  Append32(out, dataSize);
  for (float x : interleaved) {
    long v = std::lround(std::clamp(x, -1.0f, 1.0f) * 32767.0f);
    Append16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
  }
  return out;
}

void MakeSoundEffects(Output& out) {
  const int rate = 22050;
  out.Bytes("SE/bom25.wav", EncodeWave(Boom(rate), {rate, 1, false, ""}));
  out.Bytes("SE/don11.wav", EncodeWave(Fall(rate), {rate, 1, true, ""}));
  out.Bytes("SE/crash17.wav", EncodeWave(Crash(44100), {44100, 2, true, "Stage clear"}));
  out.Bytes("SE/chari08.wav", EncodeWave(Coin(rate), {rate, 1, false, "Coin"}));
  out.Bytes("SE/noise01.wav", EncodeWave(Whoosh(rate), {rate, 1, true, ""}));
  out.Bytes("SE/cursor08.wav", EncodeWave(Decide(rate), {rate, 1, false, ""}));
  out.Bytes("SE/cursor04.wav", EncodeWave(Tick(rate), {rate, 1, true, ""}));
}

}  // namespace assetgen
