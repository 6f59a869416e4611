// The headless backend: no display and no audio device. Input comes from a
// script of events released by presented frames or by clock time, from
// PLATFORM_INPUT_SCRIPT (one that cannot be read or parsed ends the program
// with 2) or from tests. PLATFORM_HEADLESS_DISPLAY_FD may name an inherited
// descriptor that stands for the display connection: when its other end
// closes, the display is lost, as when an X server goes away.
// PLATFORM_HEADLESS_BOX_PROCESS=1 puts each message box up in a process of its
// own, as the X11 box is, until that process ends (or the display is lost);
// the box then answers as one no one saw. It lets tests see what becomes of a
// box when the program or the display ends.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "kernel/ascii.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "platform/win_user.h"

namespace platform::backend {
namespace {

struct Scripted {
  enum class When { Now, Frame, Time } when;
  std::int64_t at;
  InputEvent event;
};

struct Script {
  std::deque<Scripted> pending;
  DWORD epoch = 0;  // clock time the "time" conditions count from
  bool haveEpoch = false;
  bool loadedEnv = false;

  // Taken when the first script arrives, not at the reset: other areas (the
  // clock among them) may reset after this one.
  void StartEpoch() {
    if (haveEpoch) return;
    haveEpoch = true;
    epoch = timeGetTime();
  }
};

Script& TheScript() {
  static Script s;
  return s;
}

bool ParseNumber(const std::string& s, long long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 0);
  if (*end) return false;
  *out = v;
  return true;
}

bool ParseVk(const std::string& token, UINT* vk) {
  std::string t = ascii::Fold(token);
  static const struct {
    const char* name;
    UINT vk;
  } kNames[] = {{"escape", VK_ESCAPE}, {"esc", VK_ESCAPE},   {"return", VK_RETURN},   {"enter", VK_RETURN},
                {"space", VK_SPACE},   {"left", VK_LEFT},     {"up", VK_UP},           {"right", VK_RIGHT},
                {"down", VK_DOWN},     {"back", VK_BACK},     {"backspace", VK_BACK},  {"tab", VK_TAB},
                {"shift", VK_SHIFT},   {"control", VK_CONTROL}, {"ctrl", VK_CONTROL}};
  for (const auto& n : kNames)
    if (t == n.name) {
      *vk = n.vk;
      return true;
    }
  if (t.size() == 1 && std::isalnum(static_cast<unsigned char>(t[0]))) {
    *vk = static_cast<UINT>(std::toupper(static_cast<unsigned char>(t[0])));
    return true;
  }
  if (t.size() >= 2 && t[0] == 'f' && std::isdigit(static_cast<unsigned char>(t[1]))) {
    int n = std::atoi(t.c_str() + 1);
    if (n >= 1 && n <= 12) {
      *vk = static_cast<UINT>(0x6F + n);
      return true;
    }
  }
  long long v;
  if (ParseNumber(token, &v) && v > 0 && v < 256) {
    *vk = static_cast<UINT>(v);
    return true;
  }
  return false;
}

// Parses "event ..." tokens starting at i.
bool ParseEvent(const std::vector<std::string>& tok, size_t i, InputEvent* ev, std::string* error) {
  if (i >= tok.size()) {
    *error = "missing event";
    return false;
  }
  std::string verb = ascii::Fold(tok[i]);
  size_t args = tok.size() - i - 1;
  auto button = [&](Button b, bool down) {
    ev->kind = down ? InputKind::ButtonDown : InputKind::ButtonUp;
    ev->button = b;
    return args == 0 || (*error = "unexpected text after " + verb, false);
  };
  if (verb == "move") {
    long long x, y;
    if (args != 2 || !ParseNumber(tok[i + 1], &x) || !ParseNumber(tok[i + 2], &y)) {
      *error = "move needs X and Y";
      return false;
    }
    ev->kind = InputKind::Move;
    ev->x = static_cast<int>(x);
    ev->y = static_cast<int>(y);
    return true;
  }
  if (verb == "ldown") return button(Button::Left, true);
  if (verb == "lup") return button(Button::Left, false);
  if (verb == "rdown") return button(Button::Right, true);
  if (verb == "rup") return button(Button::Right, false);
  if (verb == "mdown") return button(Button::Middle, true);
  if (verb == "mup") return button(Button::Middle, false);
  if (verb == "key" || verb == "keydown" || verb == "keyup") {
    size_t k = i + 1;
    bool down;
    if (verb == "key") {
      if (args != 2) {
        *error = "key needs down|up and a key";
        return false;
      }
      std::string dir = ascii::Fold(tok[k++]);
      if (dir != "down" && dir != "up") {
        *error = "key needs down or up";
        return false;
      }
      down = dir == "down";
    } else {
      if (args != 1) {
        *error = verb + " needs a key";
        return false;
      }
      down = verb == "keydown";
    }
    ev->kind = down ? InputKind::KeyDown : InputKind::KeyUp;
    if (!ParseVk(tok[k], &ev->vk)) {
      *error = "unknown key " + tok[k];
      return false;
    }
    return true;
  }
  const struct {
    const char* name;
    InputKind kind;
  } kSimple[] = {{"close", InputKind::Close}, {"activate", InputKind::Activate}, {"deactivate", InputKind::Deactivate}};
  for (const auto& s : kSimple)
    if (verb == s.name) {
      ev->kind = s.kind;
      return args == 0 || (*error = "unexpected text after " + verb, false);
    }
  *error = "unknown event " + tok[i];
  return false;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::string text = line.substr(0, line.find('#'));
  std::istringstream in(text);
  std::vector<std::string> tok;
  for (std::string t; in >> t;) tok.push_back(t);
  return tok;
}

bool ParseLine(const std::string& line, std::vector<Scripted>* out, std::string* error) {
  std::vector<std::string> tok = Tokens(line);
  if (tok.empty()) return true;
  Scripted s{Scripted::When::Now, 0, {}};
  size_t i = 0;
  std::string head = ascii::Fold(tok[0]);
  if (head == "frame" || head == "time") {
    long long at;
    if (tok.size() < 2 || !ParseNumber(tok[1], &at) || at < 0) {
      *error = head + " needs a number";
      return false;
    }
    s.when = head == "frame" ? Scripted::When::Frame : Scripted::When::Time;
    s.at = at;
    i = 2;
  }
  if (!ParseEvent(tok, i, &s.event, error)) return false;
  out->push_back(s);
  return true;
}

bool ParseScript(const std::string& text, std::vector<Scripted>* out, std::string* error) {
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::string why;
    if (!ParseLine(line, out, &why)) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
  }
  return true;
}

bool Due(const Scripted& s, const Script& script) {
  switch (s.when) {
    case Scripted::When::Now:
      return true;
    case Scripted::When::Frame:
      return FrameCount() >= s.at;
    case Scripted::When::Time:
      return static_cast<DWORD>(timeGetTime() - script.epoch) >= static_cast<std::uint64_t>(s.at);
  }
  return false;
}

// The whole file, or false with the system's reason.
bool ReadScriptFile(const char* name, std::string* text, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name, "rb"), &std::fclose);
  if (file) {
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file.get())) > 0;) text->append(block, n);
    if (!std::ferror(file.get())) return true;
  }
  *error = std::strerror(errno);
  return false;
}

void LoadEnvScript(Script& s) {
  if (s.loadedEnv) return;
  s.loadedEnv = true;
  s.StartEpoch();
  const char* file = std::getenv("PLATFORM_INPUT_SCRIPT");
  if (!file || !*file) return;
  // Without its script a headless run would wait for input that never comes
  // (its close among it) until it is killed: it ends here, as an unknown
  // PLATFORM_CPU ends it.
  std::string text, error;
  if (!ReadScriptFile(file, &text, &error)) {
    std::fprintf(stderr, "platform: cannot read the input script %s (%s)\n", file, error.c_str());
    std::_Exit(2);
  }
  std::vector<Scripted> events;
  if (!ParseScript(text, &events, &error)) {
    std::fprintf(stderr, "platform: %s: %s\n", file, error.c_str());
    std::_Exit(2);
  }
  s.pending.insert(s.pending.end(), events.begin(), events.end());
}

void ReleaseDue() {
  Script& s = TheScript();
  LoadEnvScript(s);
  while (!s.pending.empty() && Due(s.pending.front(), s)) {
    InputEvent ev = s.pending.front().event;
    s.pending.pop_front();
    DeliverInput(ev);
  }
}

void ResetScript() {
  Script& s = TheScript();
  s.pending.clear();
  s.loadedEnv = true;  // tests script their own input
  s.haveEpoch = false;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetScript), true);

// The monitors a test lets the headless backend count (SetHeadlessMonitors).
std::atomic<int>& MonitorCount() {
  static std::atomic<int> count{0};
  return count;
}

void ResetMonitors() { MonitorCount() = 0; }

[[maybe_unused]] const bool kMonitorsRegistered = (platform::test::RegisterReset(&ResetMonitors), true);

bool BoxInAProcess() {
  const char* text = std::getenv("PLATFORM_HEADLESS_BOX_PROCESS");
  return text && std::string(text) == "1";
}

// The descriptor PLATFORM_HEADLESS_DISPLAY_FD names, or -1.
int DisplayDescriptor() {
  const char* text = std::getenv("PLATFORM_HEADLESS_DISPLAY_FD");
  long long fd;
  if (!text || !ParseNumber(text, &fd) || fd < 0 || fd > 65535) return -1;
  return static_cast<int>(fd);
}

class Headless final : public Backend {
 public:
  explicit Headless(bool windows) : m_windows(windows), m_display(windows ? DisplayDescriptor() : -1) {}
  const char* Name() const override { return "headless"; }
  void PumpEvents() override {
    CheckDisplay();
    ReleaseDue();
  }
  bool OpenWindow(const WindowDesc&) override { return m_windows; }
  void ShowWindow(bool) override {}
  void ResizeWindow(int, int) override {}
  void SetTitle(const std::string&) override {}
  void CloseWindow() override {}
  void WarpCursor(int, int) override {}
  void ShowCursor(bool) override {}
  void Present(const std::uint32_t*, int, int, int) override {}
  void FramePresented(std::int64_t) override { ReleaseDue(); }
  bool StartAudio() override { return false; }
  void LockAudio() override {}
  void UnlockAudio() override {}
  int Monitors() override { return MonitorCount(); }
  bool ShowMessageBox(const std::string&, const std::string&, UINT, int*, std::string*) override {
    if (!BoxInAProcess()) return false;
    const pid_t box = ::fork();
    if (box == 0) {
      // Up until it is ended, or until the display goes (the X11 box has a
      // connection of its own, which it loses with the program's).
      for (;;) {
        pollfd p{m_display, POLLIN, 0};
        if (::poll(&p, m_display >= 0 ? 1 : 0, -1) > 0) CheckDisplay();
      }
    }
    if (box > 0) {
      int status;
      while (::waitpid(box, &status, 0) < 0 && errno == EINTR) {
      }
      CheckDisplay();  // a box gone with the display: the loss is said, not the box
    }
    return false;
  }

 private:
  void CheckDisplay() {
    if (m_display < 0) return;
    pollfd p{m_display, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    bool lost = (p.revents & (POLLERR | POLLNVAL)) != 0;
    if (!lost && (p.revents & (POLLIN | POLLHUP))) {
      char bytes[64];
      lost = ::read(m_display, bytes, sizeof bytes) == 0;  // anything else the display says is ignored
    }
    if (lost)
      DisplayLost("the headless display's descriptor " + std::to_string(m_display) + " was closed at its other end");
  }

  bool m_windows;
  int m_display;
};

}  // namespace

std::unique_ptr<Backend> MakeHeadless(bool windows) { return std::make_unique<Headless>(windows); }

}  // namespace platform::backend

namespace platform::test {

bool ScriptInput(const std::string& text, std::string* error) {
  using namespace platform::backend;
  std::vector<Scripted> events;
  if (!ParseScript(text, &events, error)) return false;
  Script& s = TheScript();
  s.StartEpoch();
  s.pending.insert(s.pending.end(), events.begin(), events.end());
  return true;
}

bool InputNow(const std::string& event, std::string* error) {
  using namespace platform::backend;
  std::vector<std::string> tok = Tokens(event);
  InputEvent ev;
  std::string why;
  if (!ParseEvent(tok, 0, &ev, &why)) {
    if (error) *error = why;
    return false;
  }
  DeliverInput(ev);
  return true;
}

size_t PendingInputEvents() { return platform::backend::TheScript().pending.size(); }

void SetHeadlessMonitors(int count) { platform::backend::MonitorCount() = count; }

}  // namespace platform::test
