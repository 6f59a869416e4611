// "Fjord": the play music. A 24-bar tune in D minor at 128 beats per minute
// (45 s): lead, arpeggio, bass and drums. It is rendered as a ring, so the
// tails of the last notes sound at its start and the loop has no seam.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets/generator/audio.h"

namespace assetgen {

namespace {

using namespace synth;

constexpr int kRate = 44100;
constexpr float kBpm = 128.0f;
constexpr float kStep = 60.0f / kBpm / 4.0f;  // one sixteenth
constexpr int kBars = 24;
constexpr int kStepsPerBar = 16;

struct Note {
  int step;      // start, in sixteenths from the top
  int length;    // in sixteenths
  int midi;      // -1: rest
};

// Parses "A4:4 D5:2 R:2 ..." (name, optional # or b, octave; length in
// sixteenths) into notes starting at `step`.
std::vector<Note> Melody(const std::string& text, int step) {
  std::vector<Note> notes;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    size_t end = text.find(' ', i);
    std::string tok = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? text.size() : end;
    size_t colon = tok.find(':');
    if (colon == std::string::npos) throw std::runtime_error("melody: missing length in " + tok);
    int len = std::stoi(tok.substr(colon + 1));
    std::string name = tok.substr(0, colon);
    int midi = -1;
    if (name != "R") {
      static const int base[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
      if (name[0] < 'A' || name[0] > 'G') throw std::runtime_error("melody: bad note " + tok);
      int pc = base[name[0] - 'A'];
      size_t k = 1;
      if (k < name.size() && name[k] == '#') ++pc, ++k;
      else if (k < name.size() && name[k] == 'b') --pc, ++k;
      int octave = std::stoi(name.substr(k));
      midi = 12 * (octave + 1) + pc;
    }
    notes.push_back({step, len, midi});
    step += len;
  }
  return notes;
}

// The chords of the 24 bars, as MIDI roots and minor/major quality.
struct Chord {
  int root;
  bool minor;
};
const Chord kChords[kBars] = {
    {62, true},  {58, false}, {65, false}, {60, false}, {62, true},  {58, false}, {55, true},  {57, false},
    {58, false}, {60, false}, {62, true},  {62, true},  {58, false}, {60, false}, {57, false}, {57, false},
    {62, true},  {58, false}, {65, false}, {60, false}, {62, true},  {58, false}, {55, true},  {57, false}};

const char* const kLead[kBars] = {
    // A
    "A4:4 D5:2 E5:2 F5:4 E5:2 D5:2", "F5:6 G5:2 F5:4 D5:4", "C5:4 F5:2 G5:2 A5:4 G5:2 F5:2", "E5:8 C5:4 E5:4",
    "A4:4 D5:2 E5:2 F5:4 A5:4", "Bb5:6 A5:2 G5:4 F5:4", "G5:4 F5:2 E5:2 D5:4 E5:4", "C#5:8 E5:4 A4:4",
    // B
    "D5:2 F5:2 Bb5:4 A5:4 F5:4", "E5:2 G5:2 C6:4 Bb5:4 G5:4", "A5:6 F5:2 D5:4 F5:4", "A5:4 G5:2 F5:2 E5:4 D5:4",
    "D5:2 F5:2 Bb5:4 A5:4 F5:4", "G5:2 A5:2 C6:4 D6:4 C6:4", "C#6:6 B5:2 A5:4 G5:4", "E5:4 A5:4 C#6:4 E6:4",
    // A'
    "D6:4 A5:2 F5:2 D5:4 F5:2 A5:2", "Bb5:6 A5:2 G5:4 F5:4", "A5:4 C6:2 A5:2 F5:4 C5:4", "G5:8 E5:4 C5:4",
    "D5:4 F5:2 A5:2 D6:4 C6:2 A5:2", "Bb5:4 D6:4 C6:4 Bb5:4", "A5:4 G5:2 F5:2 E5:4 D5:4", "E5:4 C#5:4 A4:4 E5:4"};

// Adds a sample to the ring at a frame that may run past its end.
struct Ring {
  std::vector<float> left, right;
  explicit Ring(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
  void Add(size_t frame, float l, float r) {
    frame %= left.size();
    left[frame] += l;
    right[frame] += r;
  }
};

void RenderLead(Ring& ring) {
  std::vector<Note> notes;
  for (int bar = 0; bar < kBars; ++bar) {
    std::vector<Note> b = Melody(kLead[bar], bar * kStepsPerBar);
    notes.insert(notes.end(), b.begin(), b.end());
  }
  // An echo of a dotted eighth, panned to the other side.
  const size_t echo = static_cast<size_t>(3 * kStep * kRate);
  for (const Note& n : notes) {
    if (n.midi < 0) continue;
    float f = NoteHz(n.midi), hold = n.length * kStep * 0.92f;
    size_t start = static_cast<size_t>(n.step * kStep * kRate);
    size_t frames = static_cast<size_t>((hold + 0.25f) * kRate);
    LowPass lp;
    for (size_t i = 0; i < frames; ++i) {
      float t = static_cast<float>(i) / kRate;
      float vib = 1.0f + 0.004f * std::sin(kTau * 5.5f * t) * std::min(1.0f, t / 0.25f);
      float ph = t * f * vib;
      float x = 0.55f * Pulse(ph, 0.25f) + 0.45f * Triangle(ph);
      x = lp.Run(x, 2600.0f + 2000.0f * std::exp(-t * 6.0f), static_cast<float>(kRate));
      x *= Adsr(t, hold, 0.01f, 0.12f, 0.65f, 0.12f) * 0.24f;
      ring.Add(start + i, x * 0.9f, x * 0.7f);
      ring.Add(start + i + echo, x * 0.18f, x * 0.3f);
      ring.Add(start + i + 2 * echo, x * 0.12f, x * 0.07f);
    }
  }
}

void RenderArpeggio(Ring& ring) {
  for (int bar = 0; bar < kBars; ++bar) {
    const Chord& c = kChords[bar];
    int tones[4] = {c.root, c.root + (c.minor ? 3 : 4), c.root + 7, c.root + 12};
    for (int s = 0; s < kStepsPerBar; ++s) {
      static const int order[8] = {0, 1, 2, 3, 2, 1, 2, 3};
      int midi = tones[order[s % 8]] + (s >= 8 && bar % 2 ? 12 : 0);
      float f = NoteHz(midi);
      size_t start = static_cast<size_t>((bar * kStepsPerBar + s) * kStep * kRate);
      size_t frames = static_cast<size_t>(kStep * 1.6f * kRate);
      float pan = (s % 2) ? 0.35f : 0.65f;
      for (size_t i = 0; i < frames; ++i) {
        float t = static_cast<float>(i) / kRate;
        float x = (0.6f * Saw(t * f) + 0.4f * Triangle(t * f)) * std::exp(-t * 14.0f) * 0.07f;
        ring.Add(start + i, x * (1.0f - pan) * 2.0f, x * pan * 2.0f);
      }
    }
  }
}

void RenderBass(Ring& ring) {
  for (int bar = 0; bar < kBars; ++bar) {
    const Chord& c = kChords[bar];
    for (int e = 0; e < 8; ++e) {
      static const int pattern[8] = {0, 0, 12, 0, 7, 0, 12, 7};
      int midi = c.root - 24 + pattern[e];
      float f = NoteHz(midi), hold = kStep * 1.7f;
      size_t start = static_cast<size_t>((bar * kStepsPerBar + 2 * e) * kStep * kRate);
      size_t frames = static_cast<size_t>((hold + 0.05f) * kRate);
      for (size_t i = 0; i < frames; ++i) {
        float t = static_cast<float>(i) / kRate;
        float x = (0.8f * Triangle(t * f) + 0.35f * std::sin(kTau * t * f * 0.5f)) * Adsr(t, hold, 0.004f, 0.08f, 0.7f, 0.05f) * 0.32f;
        ring.Add(start + i, x, x);
      }
    }
  }
}

void RenderDrums(Ring& ring) {
  Noise noise(99);
  for (int bar = 0; bar < kBars; ++bar)
    for (int s = 0; s < kStepsPerBar; ++s) {
      size_t start = static_cast<size_t>((bar * kStepsPerBar + s) * kStep * kRate);
      bool kick = s == 0 || s == 8 || (s == 10 && bar % 2) || (s == 14 && bar % 4 == 3);
      bool snare = s == 4 || s == 12 || (bar % 8 == 7 && s >= 13);
      bool hat = s % 2 == 0 || (bar % 2 && s == 15);
      if (kick) {
        float ph = 0;
        for (size_t i = 0; i < static_cast<size_t>(0.22f * kRate); ++i) {
          float t = static_cast<float>(i) / kRate;
          ph += (45.0f + 110.0f * std::exp(-t * 30.0f)) / kRate;
          float x = std::sin(kTau * ph) * std::exp(-t * 14.0f) * 0.55f;
          ring.Add(start + i, x, x);
        }
      }
      if (snare) {
        LowPass lp;
        for (size_t i = 0; i < static_cast<size_t>(0.18f * kRate); ++i) {
          float t = static_cast<float>(i) / kRate;
          float n = noise.Next();
          float x = (0.7f * (n - lp.Run(n, 1200.0f, kRate)) + 0.4f * std::sin(kTau * 190.0f * t)) * std::exp(-t * 20.0f) * 0.3f;
          ring.Add(start + i, x * 0.9f, x);
        }
      }
      if (hat) {
        LowPass lp;
        float level = s % 4 == 2 ? 0.11f : 0.07f;
        for (size_t i = 0; i < static_cast<size_t>(0.05f * kRate); ++i) {
          float t = static_cast<float>(i) / kRate;
          float n = noise.Next();
          float x = (n - lp.Run(n, 7000.0f, kRate)) * std::exp(-t * 70.0f) * level;
          ring.Add(start + i, x, x * 0.8f);
        }
      }
    }
}

}  // namespace

void WriteMusic(const std::string& path) {
  const size_t frames = static_cast<size_t>(kBars * kStepsPerBar * kStep * kRate);
  Ring ring(frames);
  RenderLead(ring);
  RenderArpeggio(ring);
  RenderBass(ring);
  RenderDrums(ring);
  std::vector<float> mixed(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    mixed[2 * i] = ring.left[i];
    mixed[2 * i + 1] = ring.right[i];
  }
  ScaleToPeak(mixed, kMusicPeak);
  std::vector<std::uint8_t> wav = EncodeWave(mixed, {kRate, 2, false, "Fjord"});
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace assetgen
