// Counters of unsupported features and refused uses, for tests and for the
// "a full run uses no unsupported feature" check.
#include <map>
#include <mutex>
#include <string>

#include "platform/testing.h"
#include "testing/failure.h"

namespace {

struct Counters {
  std::mutex mutex;
  std::map<std::string, int, std::less<>> counts;
};

Counters& Table() {
  static Counters counters;
  return counters;
}

void ResetDiagnostics() { platform::test::ClearDiagnostics(); }
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetDiagnostics), true);

}  // namespace

namespace platform::detail {

void CountDiagnostic(std::string_view name) {
  Counters& c = Table();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.counts.find(name);
  if (it == c.counts.end()) it = c.counts.emplace(std::string(name), 0).first;
  ++it->second;
}

}  // namespace platform::detail

namespace platform::test {

int DiagnosticCount(const std::string& name) {
  Counters& c = Table();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.counts.find(name);
  return it == c.counts.end() ? 0 : it->second;
}

std::map<std::string, int> Diagnostics() {
  Counters& c = Table();
  std::lock_guard<std::mutex> lock(c.mutex);
  return {c.counts.begin(), c.counts.end()};
}

void ClearDiagnostics() {
  Counters& c = Table();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.counts.clear();
}

}  // namespace platform::test
