// The clocks. Real: CLOCK_MONOTONIC milliseconds, nanosleep, localtime_r. Fake:
// time moves only by Sleep, by Advance and by an optional cost per presented
// frame; its wall time is a base plus the time elapsed. The fake clock is in use
// when PLATFORM_FAKE_CLOCK=start[,wallbase] is set, when PLATFORM_BACKEND=headless
// is asked for explicitly, and under test.
#include "timer/clock.h"

#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"

namespace {

constexpr DWORD kDefaultStart = 100000;
constexpr DWORD kMaxPeriod = 1000000;
constexpr std::int64_t kRealBase = 100000;

// 2005-03-22 14:07:09 as seconds of a UTC-like civil calendar.
std::int64_t DefaultWallBase() {
  struct tm t = {};
  t.tm_year = 2005 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 22;
  t.tm_hour = 14;
  t.tm_min = 7;
  t.tm_sec = 9;
  return timegm(&t);
}

bool ParseWall(const char* s, std::int64_t* out) {
  struct tm t = {};
  int y, mo, d, h, mi, se;
  char sep;
  if (std::sscanf(s, "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &se) != 7 || (sep != 'T' && sep != ' '))
    return false;
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = se;
  *out = timegm(&t);
  return true;
}

struct Clock {
  std::mutex mutex;
  bool fake = false;
  DWORD start = kDefaultStart;
  std::uint64_t elapsed = 0;  // fake milliseconds since start
  DWORD msPerPresent = 0;
  std::int64_t wallBase = 0;  // seconds
  bool recording = false;  // tests read the period calls; programs never do
  std::vector<platform::test::TimerPeriodCall> calls;
  std::multiset<UINT> periods;

  Clock() { Configure(false); }

  // From the environment; `test` forces the fake clock.
  void Configure(bool test) {
    const char* backend = std::getenv("PLATFORM_BACKEND");
    const char* setting = std::getenv("PLATFORM_FAKE_CLOCK");
    fake = test || (setting && *setting) || (backend && std::strcmp(backend, "headless") == 0);
    start = kDefaultStart;
    wallBase = DefaultWallBase();
    if (setting && *setting) {
      char* end = nullptr;
      unsigned long v = std::strtoul(setting, &end, 0);
      if (end != setting) start = static_cast<DWORD>(v);
      if (end && *end == ',') ParseWall(end + 1, &wallBase);
    }
    elapsed = 0;
    msPerPresent = 0;
    recording = test;
    calls.clear();
    periods.clear();
  }
};

Clock& TheClock() {
  static Clock clock;
  return clock;
}

void ResetClock() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.Configure(true);
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetClock), true);

std::int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

DWORD Now() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.fake) return static_cast<DWORD>(c.start + c.elapsed);  // wraps modulo 2^32
  return static_cast<DWORD>(MonotonicMs() + kRealBase);
}

void FillSystemTime(const struct tm& t, int ms, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(ms);
}

}  // namespace

namespace platform::clock {

bool IsFake() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.fake;
}

std::uint64_t FakeElapsedMs() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.fake ? c.elapsed : 0;
}

void Advance(DWORD ms) {
  std::uint64_t total;
  {
    Clock& c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.fake) return;
    c.elapsed += ms;
    total = c.elapsed;
  }
  // Outside the lock: the mixer may read the clock.
  platform::backend::FakeTimeAdvanced(total);
}

void FramePresented() {
  DWORD cost;
  {
    Clock& c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    cost = c.fake ? c.msPerPresent : 0;
  }
  if (cost) Advance(cost);
}

}  // namespace platform::clock

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) {
  if (!caps || size != sizeof(TIMECAPS)) return TIMERR_NOCANDO;
  caps->wPeriodMin = 1;
  caps->wPeriodMax = kMaxPeriod;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT period) {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  MMRESULT r = (period >= 1 && period <= kMaxPeriod) ? TIMERR_NOERROR : TIMERR_NOCANDO;
  if (r == TIMERR_NOERROR) c.periods.insert(period);
  if (c.recording) c.calls.push_back({true, period, r});
  return r;
}

MMRESULT timeEndPeriod(UINT period) {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  // Only a period that was begun can end.
  auto it = c.periods.find(period);
  MMRESULT r = it != c.periods.end() ? TIMERR_NOERROR : TIMERR_NOCANDO;
  if (it != c.periods.end()) c.periods.erase(it);
  if (c.recording) c.calls.push_back({false, period, r});
  return r;
}

DWORD timeGetTime() { return Now(); }

DWORD GetTickCount() { return Now(); }

void Sleep(DWORD milliseconds) {
  if (platform::clock::IsFake()) {
    platform::clock::Advance(milliseconds);
    sched_yield();
    return;
  }
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void GetLocalTime(SYSTEMTIME* out) {
  if (!out) return;
  std::int64_t seconds;
  int ms;
  bool fake;
  {
    Clock& c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    fake = c.fake;
    seconds = c.wallBase + static_cast<std::int64_t>(c.elapsed / 1000);
    ms = static_cast<int>(c.elapsed % 1000);
  }
  struct tm t;
  if (fake) {
    time_t s = static_cast<time_t>(seconds);
    gmtime_r(&s, &t);  // the base is a civil time: no zone applies
  } else {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    localtime_r(&ts.tv_sec, &t);
    ms = static_cast<int>(ts.tv_nsec / 1000000);
  }
  FillSystemTime(t, ms, out);
}

namespace platform::test {

void UseFakeClock(DWORD start) {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.fake = true;
  c.start = start;
  c.elapsed = 0;
}

void UseRealClock() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.fake = false;
}

void AdvanceClock(DWORD ms) { platform::clock::Advance(ms); }

void SetClockMsPerPresent(DWORD ms) {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.msPerPresent = ms;
}

void SetWallClockBase(const SYSTEMTIME& base) {
  struct tm t = {};
  t.tm_year = base.wYear - 1900;
  t.tm_mon = base.wMonth - 1;
  t.tm_mday = base.wDay;
  t.tm_hour = base.wHour;
  t.tm_min = base.wMinute;
  t.tm_sec = base.wSecond;
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.wallBase = timegm(&t);
}

std::vector<TimerPeriodCall> TimerPeriodCalls() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.calls;
}

}  // namespace platform::test
