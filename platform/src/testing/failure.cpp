// Armed failures: per entry point, the nth matching call and the ones after it
// fail with a chosen code. Calls may come from more than one thread (audio), so
// the table is locked; an atomic flag keeps unarmed calls lock-free.
#include "testing/failure.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/testing.h"

namespace {

struct Armed {
  std::string api;
  HRESULT hr;
  platform::test::FailSpec when;
  int seen = 0;  // matching calls so far
};

struct FailureTable {
  std::mutex mutex;
  std::vector<Armed> armed;
  std::map<std::string, int> injected;
  std::atomic<bool> any{false};
};

FailureTable& Table() {
  static FailureTable table;
  return table;
}

void ResetFailures() { platform::test::ClearFailures(); }
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetFailures), true);

}  // namespace

namespace platform::detail {

bool ShouldFail(const char* api, HRESULT* hr, std::string_view detail) {
  FailureTable& t = Table();
  if (!t.any.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(t.mutex);
  bool fail = false;
  for (Armed& a : t.armed) {
    if (a.api != api) continue;
    if (!a.when.match.empty() && detail.find(a.when.match) == std::string_view::npos) continue;
    int n = ++a.seen;
    if (fail || n < a.when.nth) continue;
    if (a.when.count >= 0 && n >= a.when.nth + a.when.count) continue;
    fail = true;
    if (hr) *hr = a.hr;
  }
  if (fail) ++t.injected[api];
  return fail;
}

}  // namespace platform::detail

namespace platform::test {

void FailCall(const std::string& api, HRESULT hr, const FailSpec& when) {
  FailureTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.armed.push_back(Armed{api, hr, when});
  t.any.store(true, std::memory_order_release);
}

void FailCall(const std::string& api, HRESULT hr, int nth, int count) {
  FailSpec when;
  when.nth = nth;
  when.count = count;
  FailCall(api, hr, when);
}

void ClearFailures() {
  FailureTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.armed.clear();
  t.injected.clear();
  t.any.store(false, std::memory_order_release);
}

int InjectedFailureCount(const std::string& api) {
  FailureTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (api.empty()) {
    int total = 0;
    for (const auto& [name, n] : t.injected) total += n;
    return total;
  }
  auto it = t.injected.find(api);
  return it == t.injected.end() ? 0 : it->second;
}

}  // namespace platform::test
