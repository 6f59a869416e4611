// The interactive backend over SDL2: one window showing the logical client area
// scaled to fit and letter-boxed, mouse and keyboard input, an S16 stereo audio
// device and message boxes.
#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "platform/win_user.h"

namespace platform::backend {
namespace {

UINT VkFromKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<UINT>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<UINT>('0' + (key - SDLK_0));
  if (key >= SDLK_F1 && key <= SDLK_F12) return static_cast<UINT>(0x70 + (key - SDLK_F1));
  switch (key) {
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    default:
      return 0;
  }
}

void AudioCallback(void*, Uint8* stream, int bytes) {
  MixInto(reinterpret_cast<std::int16_t*>(stream), bytes / (kAudioChannels * 2));
}

// Xlib's own I/O error handler calls exit(), whose destructors then wait on the
// dead connection for ever; the program ends at once instead.
int OnXConnectionLost(void*) {
  const char* display = SDL_getenv("DISPLAY");
  DisplayLost(std::string("the X server of DISPLAY \"") + (display ? display : "") + "\" went away");
}

// Xlib is SDL's to load; its handler setter is looked up in the copy SDL loaded.
void CatchXConnectionLoss() {
  void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (!x11) return;
  using Handler = int (*)(void*);
  using SetHandler = Handler (*)(Handler);
  if (auto set = reinterpret_cast<SetHandler>(dlsym(x11, "XSetIOErrorHandler"))) set(&OnXConnectionLost);
  dlclose(x11);
}

// The errors SDL sets while it tries to show a box, in order. It keeps only
// the last, a generic one once every way has failed; the one that says why
// (a font the X server lacks, say) is set in the box's own process. SDL logs
// each error it sets at debug priority, so while this lives its error log goes
// through a pipe that the box's process inherits.
class BoxErrors {
 public:
  BoxErrors() {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) m_pipe[0] = m_pipe[1] = -1;
    SDL_LogGetOutputFunction(&m_previous, &m_previousData);
    m_priority = SDL_LogGetPriority(SDL_LOG_CATEGORY_ERROR);
    SDL_LogSetOutputFunction(&Log, this);
    SDL_LogSetPriority(SDL_LOG_CATEGORY_ERROR, SDL_LOG_PRIORITY_DEBUG);
  }
  ~BoxErrors() {
    SDL_LogSetPriority(SDL_LOG_CATEGORY_ERROR, m_priority);
    SDL_LogSetOutputFunction(m_previous, m_previousData);
    for (int fd : m_pipe)
      if (fd >= 0) ::close(fd);
  }
  BoxErrors(const BoxErrors&) = delete;
  BoxErrors& operator=(const BoxErrors&) = delete;

  // Each error once, in the order set, joined by "; ".
  std::string Text() const {
    std::string all;
    char bytes[4096];
    ssize_t n;
    while (m_pipe[0] >= 0 && (n = ::read(m_pipe[0], bytes, sizeof bytes)) > 0) all.append(bytes, n);
    std::vector<std::string> seen;
    std::string text;
    for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string error = all.substr(at, end - at);
      if (error.empty() || std::find(seen.begin(), seen.end(), error) != seen.end()) continue;
      seen.push_back(error);
      text += (text.empty() ? "" : "; ") + error;
    }
    return text;
  }

 private:
  // Also in the box's process: only write(), which a forked child may call.
  static void Log(void* self, int category, SDL_LogPriority priority, const char* message) {
    auto* errors = static_cast<BoxErrors*>(self);
    if (category != SDL_LOG_CATEGORY_ERROR) {
      if (errors->m_previous) errors->m_previous(errors->m_previousData, category, priority, message);
      return;
    }
    if (errors->m_pipe[1] < 0) return;
    [[maybe_unused]] ssize_t written = ::write(errors->m_pipe[1], message, std::strlen(message));
    written = ::write(errors->m_pipe[1], "\n", 1);
  }

  int m_pipe[2];
  SDL_LogOutputFunction m_previous = nullptr;
  void* m_previousData = nullptr;
  SDL_LogPriority m_priority;
};

class Sdl final : public Backend {
 public:
  Sdl() = default;
  ~Sdl() override {
    CloseWindow();
    if (m_audio) SDL_CloseAudioDevice(m_audio);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS | (m_audio ? SDL_INIT_AUDIO : 0));
  }

  bool Init() {
    // The window system turns SIGINT and SIGTERM into closing the window itself,
    // also while SDL's event loop does not run.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && SDL_strcmp(driver, "x11") == 0) CatchXConnectionLoss();
    return true;
  }

  const char* Name() const override { return "sdl"; }

  void PumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) Handle(e);
  }

  bool OpenWindow(const WindowDesc& desc) override {
    CloseWindow();
    m_clientW = desc.clientWidth;
    m_clientH = desc.clientHeight;
    m_fullScreen = desc.fullScreen;
    // Full screen is applied once the window is shown: some desktops ignore it before.
    Uint32 flags = SDL_WINDOW_HIDDEN | (desc.fullScreen ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_RESIZABLE);
    // A borderless window covering the desktop is full screen even where no
    // window manager applies the full-screen state.
    SDL_Rect r = {SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, std::max(1, m_clientW), std::max(1, m_clientH)};
    if (desc.fullScreen && SDL_GetDisplayBounds(0, &r) != 0)
      r = {SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, std::max(1, m_clientW), std::max(1, m_clientH)};
    m_window = SDL_CreateWindow(desc.title.c_str(), r.x, r.y, r.w, r.h, flags);
    if (!m_window) {
      std::fprintf(stderr, "platform: cannot open a window: %s\n", SDL_GetError());
      return false;
    }
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_ACCELERATED);
    if (!m_renderer) m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_SOFTWARE);
    if (!m_renderer) {
      std::fprintf(stderr, "platform: cannot draw into the window: %s\n", SDL_GetError());
      CloseWindow();
      return false;
    }
    return true;
  }

  void ShowWindow(bool visible) override {
    if (!m_window) return;
    if (visible) {
      SDL_ShowWindow(m_window);
      if (m_fullScreen) SDL_SetWindowFullscreen(m_window, SDL_WINDOW_FULLSCREEN_DESKTOP);
      SDL_RaiseWindow(m_window);
    } else {
      SDL_HideWindow(m_window);
    }
  }

  void ResizeWindow(int clientWidth, int clientHeight) override {
    m_clientW = clientWidth;
    m_clientH = clientHeight;
    if (m_window && !m_fullScreen)
      SDL_SetWindowSize(m_window, std::max(1, clientWidth), std::max(1, clientHeight));
  }

  void SetTitle(const std::string& utf8) override {
    if (m_window) SDL_SetWindowTitle(m_window, utf8.c_str());
  }

  void CloseWindow() override {
    if (m_texture) SDL_DestroyTexture(m_texture);
    if (m_renderer) SDL_DestroyRenderer(m_renderer);
    if (m_window) SDL_DestroyWindow(m_window);
    m_texture = nullptr;
    m_renderer = nullptr;
    m_window = nullptr;
  }

  void WarpCursor(int clientX, int clientY) override {
    if (!m_window) return;
    Letterbox lb = Fit();
    int wx = static_cast<int>(std::floor(lb.offsetX + (clientX + 0.5) * lb.scale));
    int wy = static_cast<int>(std::floor(lb.offsetY + (clientY + 0.5) * lb.scale));
    // The echo of the warp is then no move: the window system already has it.
    m_haveLast = true;
    m_lastX = clientX;
    m_lastY = clientY;
    SDL_WarpMouseInWindow(m_window, wx, wy);
  }

  void ShowCursor(bool visible) override { SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE); }

  void Present(const std::uint32_t* argb, int width, int height, int pitchBytes) override {
    if (!m_renderer) return;
    if (!m_texture || width != m_texW || height != m_texH) {
      if (m_texture) SDL_DestroyTexture(m_texture);
      m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
      m_texW = width;
      m_texH = height;
      if (!m_texture) return;
    }
    SDL_UpdateTexture(m_texture, nullptr, argb, pitchBytes);
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(m_renderer, &outW, &outH);
    Letterbox lb = FitClient(width, height, outW, outH);
    SDL_Rect dst = {static_cast<int>(std::lround(lb.offsetX)), static_cast<int>(std::lround(lb.offsetY)),
                    static_cast<int>(std::lround(width * lb.scale)), static_cast<int>(std::lround(height * lb.scale))};
    SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
    SDL_RenderClear(m_renderer);
    SDL_RenderCopy(m_renderer, m_texture, nullptr, &dst);
    SDL_RenderPresent(m_renderer);
  }

  void FramePresented(std::int64_t) override {}

  bool StartAudio() override {
    if (m_audio) return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      const char* named = SDL_getenv("SDL_AUDIODRIVER");
      if (named && *named)
        std::fprintf(stderr, "platform: no sound device: SDL_AUDIODRIVER names \"%s\", which SDL cannot use (%s)\n",
                     named, SDL_GetError());
      else
        std::fprintf(stderr, "platform: no sound device: %s\n", SDL_GetError());
      return false;
    }
    SDL_AudioSpec want = {}, have = {};
    want.freq = kAudioRate;
    want.format = AUDIO_S16SYS;
    want.channels = kAudioChannels;
    want.samples = kMixerPeriodFrames;
    want.callback = &AudioCallback;
    m_audio = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!m_audio) {
      std::fprintf(stderr, "platform: no sound device: %s\n", SDL_GetError());
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    SDL_PauseAudioDevice(m_audio, 0);
    return true;
  }

  void LockAudio() override {
    if (m_audio) SDL_LockAudioDevice(m_audio);
  }
  void UnlockAudio() override {
    if (m_audio) SDL_UnlockAudioDevice(m_audio);
  }

  int Monitors() override { return std::max(0, SDL_GetNumVideoDisplays()); }

  bool ShowMessageBox(const std::string& caption, const std::string& text, UINT type, int* answer,
                      std::string* why) override {
    const bool yesNo = (type & 0xF) == MB_YESNO;
    SDL_MessageBoxButtonData buttons[2];
    int count;
    if (yesNo) {
      buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"};
      buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"};
      count = 2;
    } else {
      buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK, "OK"};
      count = 1;
    }
    Uint32 icon = (type & 0xF0) == MB_ICONERROR     ? SDL_MESSAGEBOX_ERROR
                  : (type & 0xF0) == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING
                                                    : SDL_MESSAGEBOX_INFORMATION;
    SDL_MessageBoxData data = {icon, m_window, caption.c_str(), text.c_str(), count, buttons, nullptr};
    int pressed = -1;
    BoxErrors errors;
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
      *why = errors.Text();
      if (why->empty()) *why = SDL_GetError();
      // A box gone with the X server: the event pump meets the lost
      // connection, and the loss is said rather than the box.
      SDL_PumpEvents();
      return false;
    }
    *answer = pressed < 0 ? (yesNo ? IDNO : IDOK) : pressed;  // closing the box answers No / OK
    return true;
  }

 private:
  Letterbox Fit() const {
    int w = 0, h = 0;
    SDL_GetWindowSize(m_window, &w, &h);
    return FitClient(m_clientW, m_clientH, w, h);
  }

  void MoveTo(int windowX, int windowY) {
    Letterbox lb = Fit();
    InputEvent ev{InputKind::Move};
    ev.x = static_cast<int>(std::floor((windowX - lb.offsetX) / lb.scale));
    ev.y = static_cast<int>(std::floor((windowY - lb.offsetY) / lb.scale));
    if (m_haveLast && ev.x == m_lastX && ev.y == m_lastY) return;
    m_haveLast = true;
    m_lastX = ev.x;
    m_lastY = ev.y;
    DeliverInput(ev);
  }

  void Handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:
        DeliverInput({InputKind::Close});
        break;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            DeliverInput({InputKind::Close});
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            DeliverInput({InputKind::Activate});
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            DeliverInput({InputKind::Deactivate});
            break;
          case SDL_WINDOWEVENT_LEAVE: {
            // Outside the window: place the cursor where it went, so it reads as outside.
            int gx, gy, wx, wy;
            SDL_GetGlobalMouseState(&gx, &gy);
            if (m_window) {
              SDL_GetWindowPosition(m_window, &wx, &wy);
              MoveTo(gx - wx, gy - wy);
            }
            break;
          }
          default:
            break;
        }
        break;
      case SDL_MOUSEMOTION:
        MoveTo(e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        MoveTo(e.button.x, e.button.y);
        InputEvent ev{e.type == SDL_MOUSEBUTTONDOWN ? InputKind::ButtonDown : InputKind::ButtonUp};
        if (e.button.button == SDL_BUTTON_LEFT) ev.button = Button::Left;
        else if (e.button.button == SDL_BUTTON_RIGHT) ev.button = Button::Right;
        else if (e.button.button == SDL_BUTTON_MIDDLE) ev.button = Button::Middle;
        else break;
        DeliverInput(ev);
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        UINT vk = VkFromKey(e.key.keysym.sym);
        if (!vk) break;
        InputEvent ev{e.type == SDL_KEYDOWN ? InputKind::KeyDown : InputKind::KeyUp};
        ev.vk = vk;
        DeliverInput(ev);
        break;
      }
      default:
        break;
    }
  }

  SDL_Window* m_window = nullptr;
  SDL_Renderer* m_renderer = nullptr;
  SDL_Texture* m_texture = nullptr;
  SDL_AudioDeviceID m_audio = 0;
  bool m_fullScreen = false;
  int m_clientW = 640, m_clientH = 480;
  int m_texW = 0, m_texH = 0;
  bool m_haveLast = false;
  int m_lastX = 0, m_lastY = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeSdl(std::string* why) {
  // Without a display to talk to, SDL would only probe and complain.
  const char* x11 = SDL_getenv("DISPLAY");
  const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
  const char* driver0 = SDL_getenv("SDL_VIDEODRIVER");
  if ((!x11 || !*x11) && (!wayland || !*wayland) && (!driver0 || !*driver0)) {
    *why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    return nullptr;
  }
  // When SDL picks its own driver and none of the displays named answers, it
  // falls back to one that shows nothing: the display is what failed.
  auto noAnswer = [&] {
    const bool named = x11 && *x11;
    std::string text = "no display answered at the address";
    if (named) text.append(" DISPLAY names (\"").append(x11).append("\")");
    if (wayland && *wayland)
      text.append(named ? " or" : "").append(" WAYLAND_DISPLAY names (\"").append(wayland).append("\")");
    return text;
  };
  const bool chosen = driver0 && *driver0;
  auto sdl = std::make_unique<Sdl>();
  if (!sdl->Init()) {
    *why = chosen ? SDL_GetError() : noAnswer() + ": " + SDL_GetError();
    return nullptr;
  }
  // The dummy video driver opens without a display; that is not interactive.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || SDL_strcmp(driver, "dummy") == 0 || SDL_strcmp(driver, "offscreen") == 0) {
    *why = chosen ? std::string("SDL's video driver \"") + (driver ? driver : "") + "\" shows nothing" : noAnswer();
    return nullptr;
  }
  return sdl;
}

}  // namespace platform::backend
