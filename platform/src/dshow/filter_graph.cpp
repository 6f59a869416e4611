// The filter graph: one decoded stream played as a voice of the mixer, with
// its media control, completion latch and seeking.
#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "dshow/pcm_stream.h"
#include "dsound/mixer.h"
#include "kernel/utf.h"
#include "platform/dshow_api.h"
#include "user/window_system.h"

namespace platform::audio {
namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;  // 100-ns units
constexpr std::size_t kDecodeFrames = 4096;

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEvent,
                          public IMediaSeeking,
                          public Voice {
 public:
  FilterGraph() : m_id(NextGraphId()) {}
  ~FilterGraph() override {
    if (m_stream) Mixer::Get().Remove(this);
  }

  // --- IUnknown (one identity for all interfaces) ---
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IGraphBuilder)
      *out = static_cast<IGraphBuilder*>(this);
    else if (iid == IID_IMediaControl)
      *out = static_cast<IMediaControl*>(this);
    else if (iid == IID_IMediaEvent)
      *out = static_cast<IMediaEvent*>(this);
    else if (iid == IID_IMediaSeeking)
      *out = static_cast<IMediaSeeking*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  // --- IGraphBuilder ---
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override {
    if (!file || playList) return E_INVALIDARG;
    if (m_stream) return E_UNEXPECTED;  // one stream per graph
    std::string name = utf::ToUtf8(file);
    std::unique_ptr<PcmStream> stream;
    HRESULT hr = OpenPcmStream(name, &stream);
    if (FAILED(hr)) return hr;
    test::AudioEvent e = MakeEvent(test::AudioEventKind::GraphOpen, m_id);
    e.name = name;
    Record(std::move(e));
    m_step = StepFor(stream->Rate());
    m_stream = std::move(stream);
    ConnectSink();
    Mixer::Get().Add(this);
    return S_OK;
  }

  // --- IMediaControl ---
  HRESULT Run() override {
    bool changed;
    {
      std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
      changed = m_state != State_Running;
      m_state = State_Running;
    }
    if (changed) Record(MakeEvent(test::AudioEventKind::GraphRun, m_id));
    return S_OK;
  }
  HRESULT Pause() override {
    bool changed;
    {
      std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
      changed = m_state != State_Paused;
      m_state = State_Paused;
    }
    if (changed) Record(MakeEvent(test::AudioEventKind::GraphPause, m_id));
    return S_OK;
  }
  HRESULT Stop() override {
    bool changed;
    {
      std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
      changed = m_state != State_Stopped;
      m_state = State_Stopped;
      m_complete = false;
    }
    if (changed) Record(MakeEvent(test::AudioEventKind::GraphStop, m_id));
    return S_OK;
  }
  HRESULT GetState(LONG, OAFilterState* state) override {
    if (!state) return E_POINTER;
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    *state = m_state;
    return S_OK;
  }

  // --- IMediaEvent ---
  HRESULT WaitForCompletion(LONG, LONG* code) override {
    if (!code) return E_POINTER;
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    *code = m_complete ? EC_COMPLETE : 0;
    return m_complete ? S_OK : E_ABORT;
  }

  // --- IMediaSeeking ---
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD stopFlags) override {
    if ((stopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning) return E_NOTIMPL;
    DWORD how = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (how == AM_SEEKING_NoPositioning) return S_OK;
    if (how != AM_SEEKING_AbsolutePositioning) return E_NOTIMPL;
    if (!current) return E_POINTER;
    if (*current < 0) return E_INVALIDARG;
    if (!m_stream) return E_UNEXPECTED;
    {
      std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
      std::uint64_t frame = static_cast<std::uint64_t>(*current / kUnitsPerSecond) * m_stream->Rate() +
                            static_cast<std::uint64_t>(*current % kUnitsPerSecond) * m_stream->Rate() /
                                kUnitsPerSecond;
      if (!m_stream->Seek(frame)) return E_FAIL;
      m_consumed = std::min(frame, m_stream->Length());
      m_buffer.clear();
      m_pos = 0;
      m_ended = false;
      m_complete = false;
    }
    test::AudioEvent e = MakeEvent(test::AudioEventKind::GraphSeek, m_id);
    e.position = *current;
    Record(std::move(e));
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* current) override {
    if (!current) return E_POINTER;
    if (!m_stream) return E_UNEXPECTED;
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    std::uint64_t frame = m_consumed + (m_pos >> 32);
    *current = ToUnits(frame);
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* duration) override {
    if (!duration) return E_POINTER;
    if (!m_stream) return E_UNEXPECTED;
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    *duration = ToUnits(m_stream->Length());
    return S_OK;
  }

  // --- Voice ---
  void Render(std::int32_t* acc, std::size_t frames) override {
    if (m_state != State_Running || m_complete) return;
    Compact();
    const unsigned channels = m_stream->Channels();
    for (std::size_t k = 0; k < frames; ++k) {
      std::size_t i = static_cast<std::size_t>(m_pos >> 32);
      if (!Have(i + 1)) break;
      std::size_t j = Have(i + 2) ? i + 1 : i;  // the last frame holds its value
      std::uint32_t frac = static_cast<std::uint32_t>(m_pos);
      int l0, r0, l1, r1;
      Frame(i, channels, &l0, &r0);
      Frame(j, channels, &l1, &r1);
      acc[2 * k] += Lerp(l0, l1, frac);
      acc[2 * k + 1] += Lerp(r0, r1, frac);
      m_pos += m_step;
    }
    if (!Have(static_cast<std::size_t>(m_pos >> 32) + 1)) {
      // The last sample has been mixed: latch the completion and keep running.
      // The message loop is woken so that a looping player, which polls from
      // the window procedure, rewinds before the next period is mixed.
      m_complete = true;
      Record(MakeEvent(test::AudioEventKind::GraphComplete, m_id));
      user::WakeMessageLoop();
    }
  }

 private:
  LONGLONG ToUnits(std::uint64_t frame) const {
    unsigned rate = m_stream->Rate();
    return static_cast<LONGLONG>(frame / rate) * kUnitsPerSecond +
           static_cast<LONGLONG>(frame % rate) * kUnitsPerSecond / rate;
  }

  // Drops the decoded frames before the current one.
  void Compact() {
    const unsigned channels = m_stream->Channels();
    std::size_t held = m_buffer.size() / channels;
    std::size_t used = std::min(static_cast<std::size_t>(m_pos >> 32), held);
    if (used == 0) return;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(used * channels));
    m_pos -= static_cast<std::uint64_t>(used) << 32;
    m_consumed += used;
  }

  // True when the buffer holds at least count frames, decoding more when needed.
  bool Have(std::size_t count) {
    const unsigned channels = m_stream->Channels();
    std::size_t held = m_buffer.size() / channels;
    while (held < count && !m_ended) {
      m_buffer.resize((held + kDecodeFrames) * channels);
      std::size_t got = m_stream->Read(m_buffer.data() + held * channels, kDecodeFrames);
      held += got;
      m_buffer.resize(held * channels);
      if (got == 0) m_ended = true;
    }
    return held >= count;
  }

  void Frame(std::size_t i, unsigned channels, int* left, int* right) const {
    *left = m_buffer[i * channels];
    *right = channels == 2 ? m_buffer[i * channels + 1] : *left;
  }

  std::atomic<ULONG> m_refs{1};
  const unsigned m_id;
  std::unique_ptr<PcmStream> m_stream;
  // Mixer state, under the mixer lock.
  FILTER_STATE m_state = State_Stopped;
  bool m_complete = false;
  bool m_ended = false;                // the stream has no more frames
  std::vector<std::int16_t> m_buffer;  // decoded frames from m_pos's origin
  std::uint64_t m_consumed = 0;        // stream frames before the buffer
  std::uint64_t m_pos = 0;             // 32.32 frames into the buffer
  std::uint64_t m_step = 0;
};

HRESULT CreateFilterGraph(REFIID iid, void** out) {
  auto* graph = new (std::nothrow) FilterGraph;
  if (!graph) return E_OUTOFMEMORY;
  HRESULT hr = graph->QueryInterface(iid, out);
  graph->Release();
  return hr;
}

}  // namespace

bool RegisterFilterGraphClass() {
  static const bool registered = (RegisterComClass(CLSID_FilterGraph, &CreateFilterGraph), true);
  return registered;
}

}  // namespace platform::audio
