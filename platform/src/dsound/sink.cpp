// Connects the mixer to the backend's audio sink: SDL's audio thread pulls it
// interactively; headless, every advance of the fake clock does.
#include <mutex>

#include "backend/backend.h"
#include "dsound/mixer.h"
#include "platform/testing.h"

namespace platform::audio {
namespace {

std::mutex g_sinkLock;
bool g_connected = false;

void MixCallback(void*, std::int16_t* out, int frames) {
  if (frames > 0) Mixer::Get().Mix(out, static_cast<std::size_t>(frames));
}

// A reset of the platform also drops the backend's registration.
void ResetSink() {
  std::lock_guard<std::mutex> hold(g_sinkLock);
  g_connected = false;
}

[[maybe_unused]] const bool kResetRegistered = (test::RegisterReset(&ResetSink), true);

}  // namespace

bool ConnectSink() {
  std::lock_guard<std::mutex> hold(g_sinkLock);
  if (!g_connected) {
    backend::SetAudioMixer(&MixCallback, nullptr);
    g_connected = true;
  }
  return true;
}

std::int64_t PresentedFrames() { return backend::FrameCount(); }

}  // namespace platform::audio
