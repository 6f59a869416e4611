// SIGINT and SIGTERM close the main window, so that a program ends as when the
// user closes it. The handler only records the signal; the message pump turns
// it into WM_CLOSE. When the pump cannot take it (a message box is up, or the
// program waits elsewhere for more than a second), and on a second signal, the
// process ends at once with status 128 + the signal's number: it is then in no
// write of its own, since the pump runs on the one thread that writes files.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/testing.h"
#include "user/window_system.h"

namespace platform::user {
namespace {

std::atomic<int> g_pending{0};  // a signal the pump has not taken yet
std::atomic<int> g_count{0};    // signals since the handlers were installed
std::atomic<bool> g_boxUp{false};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGALRM};
struct sigaction g_previous[3];
bool g_installed = false;

void Say(const char* text) {
  const std::size_t n = std::strlen(text);
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, n);
}

[[noreturn]] void EndNow(int sig, const char* why) {
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

void ResetSignals() {
  RemoveSignalHandlers();
  g_boxUp.store(false);
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetSignals), true);

}  // namespace

void InstallSignalHandlers() {
  if (g_installed) return;
  g_pending.store(0);
  g_count.store(0);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = kSignals[i] == SIGALRM ? &OnAlarm : &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
  g_installed = true;
}

void RemoveSignalHandlers() {
  if (!g_installed) return;
  alarm(0);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  g_installed = false;
  g_pending.store(0);
}

bool TakeSignal() {
  if (!g_pending.exchange(0)) return false;
  alarm(0);
  return true;
}

void SetMessageBoxUp(bool up) { g_boxUp.store(up); }

}  // namespace platform::user
