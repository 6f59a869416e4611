// Backend selection, frame presentation and the audio pull: the parts of the
// seam that both backends share.
#include "backend/backend.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "timer/clock.h"

namespace platform::backend {
namespace {

struct Selection {
  std::unique_ptr<Backend> backend;
  bool headless = true;
  bool display = true;  // false: no display opened and headless was not asked for
  pid_t owner = 0;      // the process that chose it; not a box's process forked from it
};

Selection& TheSelection() {
  static Selection s;
  return s;
}

void Choose(Selection& s) {
  s.owner = ::getpid();
  const char* want = std::getenv("PLATFORM_BACKEND");
  s.headless = true;
  if (want && std::strcmp(want, "headless") == 0) {
    s.backend = MakeHeadless();
    return;
  }
  std::string why;
  s.backend = MakeSdl(&why);
  if (s.backend) {
    s.headless = false;
    return;
  }
  // Nothing may run unseen unless asked to: the program gets no window.
  s.backend = MakeHeadless(false);
  s.display = false;
  std::fprintf(stderr,
               "platform: no display could be opened (%s); the program cannot show its window. "
               "Set PLATFORM_BACKEND=headless to run it without a display.\n",
               why.c_str());
}

struct Frames {
  std::int64_t count = 0;
  std::vector<std::function<void(const platform::test::Frame&)>> onPresent;
  std::vector<std::function<void(std::int64_t)>> onFrame;
  std::string captureDir;
  int captureEvery = 60;

  Frames() {
    if (const char* dir = std::getenv("PLATFORM_CAPTURE_DIR")) captureDir = dir;
    if (const char* every = std::getenv("PLATFORM_CAPTURE_EVERY")) captureEvery = std::max(1, std::atoi(every));
  }
};

Frames& TheFrames() {
  static Frames f;
  return f;
}

struct Audio {
  std::mutex mutex;
  MixFn mix = nullptr;
  void* user = nullptr;
  bool device = false;      // the backend plays the mix itself
  std::uint64_t baseMs = 0;  // fake time at registration
  std::uint64_t pulled = 0;  // frames pulled since registration
  std::function<void(const std::int16_t*, int)> tap;
};

Audio& TheAudio() {
  static Audio a;
  return a;
}

void ResetBackend() {
  Selection& s = TheSelection();
  // Tests are headless: a display backend is shut down.
  if (!s.backend || !s.headless || !s.display) {
    s.backend = MakeHeadless();
    s.headless = true;
    s.display = true;
  }
  s.owner = ::getpid();
  Frames& f = TheFrames();
  f.count = 0;
  f.onPresent.clear();
  f.onFrame.clear();
  Audio& a = TheAudio();
  std::lock_guard<std::mutex> lock(a.mutex);
  a.mix = nullptr;
  a.user = nullptr;
  a.device = false;
  a.pulled = 0;
  a.baseMs = 0;
  a.tap = nullptr;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetBackend), true);

void WritePng(const std::string& dir, std::int64_t frame, const platform::test::Frame& f) {
  char name[64];
  std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(frame));
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(f.width);
  image.height = static_cast<png_uint_32>(f.height);
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, (dir + name).c_str(), 0, f.rgba.data(), 0, nullptr))
    std::fprintf(stderr, "platform: cannot write %s%s\n", dir.c_str(), name);
}

}  // namespace

void DisplayLost(const std::string& why) {
  // A box's process (X11 puts a box in one, with a connection of its own)
  // loses the display with the program, which says it.
  if (::getpid() != TheSelection().owner) _exit(1);
  std::fprintf(stderr, "platform: the display connection was lost (%s); the program ends at once.\n", why.c_str());
  std::fflush(stderr);
  _exit(1);
}

Backend& Current() {
  Selection& s = TheSelection();
  if (!s.backend) Choose(s);
  return *s.backend;
}

bool IsHeadless() {
  Current();
  return TheSelection().headless;
}

Letterbox FitClient(int clientWidth, int clientHeight, int windowWidth, int windowHeight) {
  if (clientWidth <= 0 || clientHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) return {1.0, 0.0, 0.0};
  double sx = static_cast<double>(windowWidth) / clientWidth;
  double sy = static_cast<double>(windowHeight) / clientHeight;
  double scale = sx < sy ? sx : sy;
  return {scale, (windowWidth - clientWidth * scale) / 2, (windowHeight - clientHeight * scale) / 2};
}

void PresentFrame(const std::uint32_t* argb, int width, int height, int pitchBytes) {
  Frames& f = TheFrames();
  Backend& b = Current();
  const std::int64_t frame = ++f.count;
  platform::clock::FramePresented();
  const bool valid = argb && width > 0 && height > 0 && pitchBytes >= width * 4;
  if (valid) b.Present(argb, width, height, pitchBytes);

  const bool capture = !f.captureDir.empty() && frame % f.captureEvery == 0;
  if (valid && (capture || !f.onPresent.empty())) {
    platform::test::Frame out{frame, width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 4)};
    std::uint8_t* p = out.rgba.data();
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const std::uint8_t*>(argb) +
                                                               static_cast<std::ptrdiff_t>(y) * pitchBytes);
      for (int x = 0; x < width; ++x, p += 4) {
        std::uint32_t c = row[x];
        p[0] = static_cast<std::uint8_t>(c >> 16);
        p[1] = static_cast<std::uint8_t>(c >> 8);
        p[2] = static_cast<std::uint8_t>(c);
        p[3] = 255;
      }
    }
    auto callbacks = f.onPresent;  // a callback may register others
    for (auto& cb : callbacks) cb(out);
    if (capture) WritePng(f.captureDir, frame, out);
  }
  b.FramePresented(frame);
  auto callbacks = f.onFrame;
  for (auto& cb : callbacks) cb(frame);
}

std::int64_t FrameCount() { return TheFrames().count; }

void SetAudioMixer(MixFn mix, void* user) {
  Backend& b = Current();
  Audio& a = TheAudio();
  bool startDevice = false;
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    startDevice = mix && !a.device && !IsHeadless();
  }
  bool device = startDevice ? b.StartAudio() : false;
  if (a.device) b.LockAudio();
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    a.device = a.device || device;
    a.mix = mix;
    a.user = user;
    a.baseMs = platform::clock::FakeElapsedMs();
    a.pulled = 0;
  }
  if (a.device) b.UnlockAudio();
}

void MixInto(std::int16_t* out, int frames) {
  MixFn mix;
  void* user;
  {
    Audio& a = TheAudio();
    std::lock_guard<std::mutex> lock(a.mutex);
    mix = a.mix;
    user = a.user;
  }
  if (mix) mix(user, out, frames);
  else std::memset(out, 0, static_cast<size_t>(frames) * kAudioChannels * sizeof(std::int16_t));
}

void FakeTimeAdvanced(std::uint64_t totalMs) {
  Audio& a = TheAudio();
  MixFn mix;
  void* user;
  std::uint64_t frames;
  std::function<void(const std::int16_t*, int)> tap;
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    if (!a.mix || a.device || totalMs < a.baseMs) return;
    std::uint64_t due = (totalMs - a.baseMs) * 441 / 10;  // 44.1 frames per millisecond
    if (due <= a.pulled) return;
    frames = due - a.pulled;
    a.pulled = due;
    mix = a.mix;
    user = a.user;
    tap = a.tap;
  }
  std::vector<std::int16_t> buffer(kMixerPeriodFrames * kAudioChannels);
  while (frames > 0) {
    int n = static_cast<int>(frames < kMixerPeriodFrames ? frames : kMixerPeriodFrames);
    mix(user, buffer.data(), n);
    if (tap) tap(buffer.data(), n);
    frames -= static_cast<std::uint64_t>(n);
  }
}

}  // namespace platform::backend

namespace platform::test {

void OnPresent(std::function<void(const Frame&)> callback) {
  platform::backend::TheFrames().onPresent.push_back(std::move(callback));
}

void OnFrame(std::function<void(std::int64_t)> callback) {
  platform::backend::TheFrames().onFrame.push_back(std::move(callback));
}

std::int64_t FrameCount() { return platform::backend::FrameCount(); }

void OnAudioPulled(std::function<void(const std::int16_t*, int)> callback) {
  auto& a = platform::backend::TheAudio();
  std::lock_guard<std::mutex> lock(a.mutex);
  a.tap = std::move(callback);
}

}  // namespace platform::test
