// Debugger output and DebugBreak. Records go to the sink chosen by
// PLATFORM_DEBUG_OUTPUT (stderr by default, "off", or a file name); once a test
// has reset the platform they are also kept in memory for the test to read.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/utf.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

constexpr std::size_t kMaxRecords = 1 << 16;  // a long test keeps the first ones

struct DebugSink {
  std::mutex mutex;
  bool capturing = false;
  bool echo = true;
  std::vector<std::string> records;
  FILE* file = nullptr;  // null: stderr
  bool off = false;
  void (*breakHook)() = nullptr;
  int breakCount = 0;

  DebugSink() {
    const char* where = std::getenv("PLATFORM_DEBUG_OUTPUT");
    if (where && std::strcmp(where, "off") == 0) {
      off = true;
    } else if (where && *where && std::strcmp(where, "stderr") != 0) {
      file = std::fopen(where, "a");
    }
  }
  ~DebugSink() {
    if (file) std::fclose(file);
  }

  void Write(std::string text) {
    std::lock_guard<std::mutex> lock(mutex);
    if (echo && !off) {
      std::fputs(text.c_str(), file ? file : stderr);
      std::fflush(file ? file : stderr);
    }
    if (capturing && records.size() < kMaxRecords) records.push_back(std::move(text));
  }
};

DebugSink& Sink() {
  static DebugSink sink;
  return sink;
}

void ResetDebugOutput() {
  DebugSink& s = Sink();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.capturing = true;
  s.records.clear();
  // Under test the records are read back, so they stay off the terminal unless
  // a sink was asked for explicitly.
  s.echo = std::getenv("PLATFORM_DEBUG_OUTPUT") != nullptr;
  s.breakHook = nullptr;
  s.breakCount = 0;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetDebugOutput), true);

}  // namespace

void OutputDebugStringA(LPCSTR text) { Sink().Write(text ? text : ""); }

void OutputDebugStringW(LPCWSTR text) { Sink().Write(platform::utf::ToUtf8(text)); }

void DebugBreak() {
  void (*hook)() = nullptr;
  {
    DebugSink& s = Sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.breakCount;
    hook = s.breakHook;
  }
  if (hook) {
    hook();
  } else {
    std::raise(SIGTRAP);
  }
}

namespace platform::test {

const std::vector<std::string>& DebugOutput() { return Sink().records; }

void ClearDebugOutput() {
  std::lock_guard<std::mutex> lock(Sink().mutex);
  Sink().records.clear();
}

void SetDebugOutputEcho(bool echo) {
  std::lock_guard<std::mutex> lock(Sink().mutex);
  Sink().echo = echo;
}

void SetDebugBreakHook(void (*hook)()) {
  std::lock_guard<std::mutex> lock(Sink().mutex);
  Sink().breakHook = hook;
}

int DebugBreakCount() { return Sink().breakCount; }

}  // namespace platform::test
