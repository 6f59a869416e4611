// The seam between the platform's shared layers and its backends. Everything
// above it (message queue, windows, the Direct3D device, the mixer) is shared; a
// backend supplies only an event source, a presentation sink, an audio sink and
// the interactive dialogs. Two exist: the SDL2 backend (window, mouse, keyboard,
// audio device) and the headless backend (scripted input, no display, audio
// pulled by the fake clock). PLATFORM_BACKEND=sdl|headless chooses; by default
// SDL is used. Without a display only an explicit headless choice runs: a
// program that asked for nothing gets no window, so it ends instead of running
// unseen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_types.h"

namespace platform::backend {

// ---------------------------------------------------------------------------
// Event source: what a backend reports. The window system (platform/src/user)
// turns these into window messages.
enum class InputKind { Move, ButtonDown, ButtonUp, KeyDown, KeyUp, Close, Activate, Deactivate };
enum class Button { Left, Right, Middle };
struct InputEvent {
  InputKind kind;
  int x = 0;  // Move: client pixels, possibly outside the client area
  int y = 0;
  Button button = Button::Left;
  UINT vk = 0;  // KeyDown, KeyUp: virtual-key code
};
void DeliverInput(const InputEvent& event);

struct WindowDesc {
  int clientWidth;
  int clientHeight;
  bool fullScreen;  // a desktop-sized window with the picture scaled and letter-boxed
  std::string title;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;
  // Drains pending input through DeliverInput; never blocks.
  virtual void PumpEvents() = 0;
  // The one window a backend shows; false when it cannot be shown (the reason
  // has gone to stderr).
  virtual bool OpenWindow(const WindowDesc& desc) = 0;
  virtual void ShowWindow(bool visible) = 0;
  virtual void ResizeWindow(int clientWidth, int clientHeight) = 0;
  virtual void SetTitle(const std::string& utf8) = 0;
  virtual void CloseWindow() = 0;
  // Moves the system cursor to client pixels (the window system has already
  // recorded the new position and posted its mouse message).
  virtual void WarpCursor(int clientX, int clientY) = 0;
  virtual void ShowCursor(bool visible) = 0;
  // Presentation sink: one frame of 0xAARRGGBB pixels.
  virtual void Present(const std::uint32_t* argb, int width, int height, int pitchBytes) = 0;
  // Runs after each presented frame has been counted.
  virtual void FramePresented(std::int64_t frame) = 0;
  // Audio sink: true when the backend plays the mix on its own device, pulling
  // it through MixInto from its own thread; false when the fake clock pulls it.
  virtual bool StartAudio() = 0;
  virtual void LockAudio() = 0;
  virtual void UnlockAudio() = 0;
  // Display monitors windows and boxes are seen on (0 headless).
  virtual int Monitors() = 0;
  // A modal box with the user's answer; false when this backend shows none,
  // with *why saying what kept a box it tried from being shown (else empty).
  virtual bool ShowMessageBox(const std::string& caption, const std::string& text, UINT type, int* answer,
                              std::string* why) = 0;
};

// The backend in use, chosen on first use.
Backend& Current();
bool IsHeadless();
// Headless for a program that asked for it (or a test); `windows` false stands
// for a display that could not be opened, and refuses every window.
std::unique_ptr<Backend> MakeHeadless(bool windows = true);
// Null when no display can be opened; *why then says what failed.
std::unique_ptr<Backend> MakeSdl(std::string* why);

// The display connection is gone: says why on stderr and ends the process at
// once with status 1, running no destructor (they would talk to the dead
// connection). The backends notice the loss inside their own calls on the
// program's thread, so no write of the program is cut in half.
[[noreturn]] void DisplayLost(const std::string& why);

// ---------------------------------------------------------------------------
// Presentation: the Direct3D device's Present calls this with its back buffer.
// Interactive: shown scaled and letter-boxed in the window. Headless: the frame
// is counted, the fake clock's cost per frame is added, the tests' OnPresent
// callbacks see it as RGBA, due script events are released. With no window
// nothing is shown; the frame is still counted and seen by the hooks.
void PresentFrame(const std::uint32_t* argb, int width, int height, int pitchBytes);
// Frames presented since the start (or the last test reset).
std::int64_t FrameCount();

// ---------------------------------------------------------------------------
// Audio: S16 stereo at 44,100 Hz. The mixer registers one function that fills
// `frames` interleaved stereo frames. Interactive, SDL's audio thread calls it;
// headless, every advance of the fake clock pulls exactly elapsed ms x 44.1
// frames (fractions carried over), so sound follows the fake time exactly.
constexpr int kAudioRate = 44100;
constexpr int kAudioChannels = 2;
// The mixer's period: the frames the audio device takes per call, and the most
// the fake clock pulls at once. A looping tune is rewound within one period.
constexpr int kMixerPeriodFrames = 1024;
using MixFn = void (*)(void* user, std::int16_t* out, int frames);
// Null removes the mixer. Registration restarts the pull count.
void SetAudioMixer(MixFn mix, void* user);
// For audio sinks: fills `frames` frames from the mixer, or with silence.
void MixInto(std::int16_t* out, int frames);
// Called by the fake clock with its total elapsed milliseconds.
void FakeTimeAdvanced(std::uint64_t totalMs);

// Shared by the backends: the client rectangle inside a window of the given
// size when the picture is scaled to fit and centred.
struct Letterbox {
  double scale;
  double offsetX;
  double offsetY;
};
Letterbox FitClient(int clientWidth, int clientHeight, int windowWidth, int windowHeight);

}  // namespace platform::backend
