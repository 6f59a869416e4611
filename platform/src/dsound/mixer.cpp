#include "dsound/mixer.h"

#include <algorithm>
#include <limits>

#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "testing/failure.h"

namespace platform::audio {

Mixer& Mixer::Get() {
  // Never destroyed: the sink thread may still pull while the process exits.
  static Mixer* mixer = new Mixer;
  return *mixer;
}

void Mixer::Add(Voice* voice) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_voices.push_back(voice);
}

void Mixer::Remove(Voice* voice) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_voices.erase(std::remove(m_voices.begin(), m_voices.end(), voice), m_voices.end());
}

std::size_t Mixer::VoiceCount() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_voices.size();
}

void Mixer::Mix(std::int16_t* out, std::size_t frames) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_acc.assign(frames * 2, 0);
  // A voice may finish while rendering but never leaves the list from here.
  for (Voice* v : m_voices) v->Render(m_acc.data(), frames);
  for (std::size_t i = 0; i < frames * 2; ++i) {
    std::int32_t s = m_acc[i];
    out[i] = static_cast<std::int16_t>(std::clamp<std::int32_t>(s, std::numeric_limits<std::int16_t>::min(),
                                                                std::numeric_limits<std::int16_t>::max()));
  }
  if (m_capturing) m_capture.insert(m_capture.end(), out, out + frames * 2);
}

void Mixer::SetCapture(bool on) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_capturing = on;
  if (on) m_capture.clear();
}

std::vector<std::int16_t> Mixer::Capture() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_capture;
}

void Mixer::Reset() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_capturing = false;
  m_capture.clear();
  m_capture.shrink_to_fit();
}

// --- Recorder ---------------------------------------------------------------

namespace {

constexpr std::size_t kMaxEvents = 1 << 16;  // a long test keeps the first ones

struct Recorder {
  std::mutex lock;
  std::vector<test::AudioEvent> events;
  unsigned nextBuffer = 1;
  unsigned nextGraph = 1;
};

Recorder& TheRecorder() {
  static Recorder* recorder = new Recorder;
  return *recorder;
}

void ResetAudio() {
  Recorder& r = TheRecorder();
  {
    std::lock_guard<std::mutex> hold(r.lock);
    r.events.clear();
    r.nextBuffer = 1;
    r.nextGraph = 1;
  }
  Mixer::Get().Reset();
}

const bool kResetRegistered = (test::RegisterReset(&ResetAudio), true);

std::uint32_t CrcTableEntry(std::uint32_t n) {
  std::uint32_t c = n;
  for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

}  // namespace

void Record(test::AudioEvent event) {
  (void)kResetRegistered;
  if (!detail::UnderTest()) return;
  Recorder& r = TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (r.events.size() < kMaxEvents) r.events.push_back(std::move(event));
}

void UpdateCreateCrc(unsigned id, std::uint32_t crc) {
  Recorder& r = TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  for (auto& e : r.events)
    if (e.kind == test::AudioEventKind::BufferCreate && e.id == id) e.crc = crc;
}

test::AudioEvent MakeEvent(test::AudioEventKind kind, unsigned id) {
  test::AudioEvent e{};
  e.kind = kind;
  e.timeMs = timeGetTime();
  e.frame = PresentedFrames();
  e.id = id;
  return e;
}

unsigned NextBufferId() {
  Recorder& r = TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.nextBuffer++;
}

unsigned NextGraphId() {
  Recorder& r = TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.nextGraph++;
}

}  // namespace platform::audio

namespace platform::test {

std::vector<AudioEvent> AudioEvents() {
  auto& r = audio::TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.events;
}

void ClearAudioEvents() {
  auto& r = audio::TheRecorder();
  std::lock_guard<std::mutex> hold(r.lock);
  r.events.clear();
}

std::vector<AudioEvent> AudioEventsOf(AudioEventKind kind) {
  std::vector<AudioEvent> out;
  for (auto& e : AudioEvents())
    if (e.kind == kind) out.push_back(e);
  return out;
}

std::uint32_t AudioCrc32(const void* data, std::size_t size) {
  static const auto table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t n = 0; n < 256; ++n) t[n] = audio::CrcTableEntry(n);
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  auto p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void StartMixCapture() { audio::Mixer::Get().SetCapture(true); }
std::vector<std::int16_t> MixCapture() { return audio::Mixer::Get().Capture(); }
void StopMixCapture() { audio::Mixer::Get().SetCapture(false); }

void PullAudio(std::size_t frames) {
  std::vector<std::int16_t> out(frames * 2);
  audio::Mixer::Get().Mix(out.data(), frames);
}

std::size_t AudioVoiceCount() { return audio::Mixer::Get().VoiceCount(); }

}  // namespace platform::test
