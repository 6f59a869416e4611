// SIGINT and SIGTERM close the main window, so that a program ends as when the
// user closes it. The handler only records the signal; the message pump turns
// it into WM_CLOSE. When the pump cannot take it (a message box is up, or the
// program waits elsewhere for more than a second), and on a second signal, the
// process ends at once with status 128 + the signal's number: it is then in no
// write of its own, since the pump runs on the one thread that writes files.
// The handlers stay after the main window is gone when a signal closed it, so
// that a second one during the program's end is said as well.
//
// A box on screen may live in a process of its own, a child of the thread that
// shows it (the X11 box does). Ending the program at once ends that process
// too, or the box would stay on screen, holding the display, with no one
// behind it; and so does an end the program has no say in (SIGKILL, a crash):
// a process forked while a box is up asks to be killed when the thread that
// forked it ends.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/testing.h"
#include "user/window_system.h"

namespace platform::user {
namespace {

std::atomic<int> g_pending{0};  // a signal the pump has not taken yet
std::atomic<int> g_count{0};    // signals since the handlers were installed
std::atomic<bool> g_boxUp{false};
pid_t g_boxOwner = 0;  // the process showing the box

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGALRM};
struct sigaction g_previous[3];
bool g_installed = false;

// The box's thread's list of children ("/proc/self/task/TID/children"), and
// the children it had before the box came up, which are not the box's.
char g_boxChildrenPath[64];
constexpr int kMaxChildren = 64;
pid_t g_childrenBefore[kMaxChildren];
int g_childrenBeforeCount = 0;

void Say(const char* text) {
  const std::size_t n = std::strlen(text);
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, n);
}

// The children listed at path, up to max; only calls a signal handler may make.
int ReadChildren(const char* path, pid_t* children, int max) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[1024];
  ssize_t n = 0, got;
  while (n < static_cast<ssize_t>(sizeof text) && (got = ::read(fd, text + n, sizeof text - n)) > 0) n += got;
  ::close(fd);
  int count = 0;
  pid_t pid = 0;
  bool digits = false;
  for (ssize_t i = 0; i <= n && count < max; ++i) {
    if (i < n && text[i] >= '0' && text[i] <= '9') {
      pid = pid * 10 + (text[i] - '0');
      digits = true;
    } else {
      if (digits) children[count++] = pid;
      pid = 0;
      digits = false;
    }
  }
  return count;
}

// Kills the processes the box's thread started while the box was up.
void EndBoxProcesses() {
  pid_t children[kMaxChildren];
  const int count = ReadChildren(g_boxChildrenPath, children, kMaxChildren);
  for (int i = 0; i < count; ++i) {
    bool before = false;
    for (int j = 0; j < g_childrenBeforeCount; ++j) before = before || g_childrenBefore[j] == children[i];
    if (!before) ::kill(children[i], SIGKILL);
  }
}

[[noreturn]] void EndNow(int sig, const char* why) {
  if (g_boxUp.load()) EndBoxProcesses();
  Say(sig == SIGINT ? "platform: SIGINT " : "platform: SIGTERM ");
  Say(why);
  Say("; the program ends at once.\n");
  _exit(128 + sig);
}

void OnSignal(int sig) {
  if (g_count.fetch_add(1) > 0) EndNow(sig, "came again");
  if (g_boxUp.load()) EndNow(sig, "came while a message box was up");
  g_pending.store(sig);
  alarm(1);
}

void OnAlarm(int) {
  const int sig = g_pending.load();
  if (sig) EndNow(sig, "was not taken by the message loop within a second");
}

// In the child of a fork: a box's process ends with the thread that shows the
// box, also when that has already ended.
void EndWithTheBoxOwner() {
  if (!g_boxUp.load()) return;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != g_boxOwner) _exit(1);
}

void ResetSignals() {
  RemoveSignalHandlers(true);
  g_boxUp.store(false);
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetSignals), true);

}  // namespace

void InstallSignalHandlers() {
  // A new main window starts afresh, also where the handlers stayed after a
  // signal closed the last one.
  g_pending.store(0);
  g_count.store(0);
  if (g_installed) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = kSignals[i] == SIGALRM ? &OnAlarm : &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
  g_installed = true;
}

void RemoveSignalHandlers(bool evenAfterASignal) {
  if (!g_installed) return;
  alarm(0);
  if (g_count.load() > 0 && !evenAfterASignal) {
    g_pending.store(0);  // taken: the window it closed is gone
    return;
  }
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  g_installed = false;
  g_pending.store(0);
}

bool TakeSignal() {
  if (!g_pending.exchange(0)) return false;
  alarm(0);
  return true;
}

void SetMessageBoxUp(bool up) {
  [[maybe_unused]] static const bool kWatchingForks = ::pthread_atfork(nullptr, nullptr, &EndWithTheBoxOwner) == 0;
  if (up) {
    g_boxOwner = ::getpid();
    std::snprintf(g_boxChildrenPath, sizeof g_boxChildrenPath, "/proc/self/task/%d/children",
                  static_cast<int>(::gettid()));
    g_childrenBeforeCount = ReadChildren(g_boxChildrenPath, g_childrenBefore, kMaxChildren);
  }
  g_boxUp.store(up);
}

}  // namespace platform::user
