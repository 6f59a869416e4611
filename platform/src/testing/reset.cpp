#include <atomic>
#include <mutex>
#include <vector>

#include "platform/testing.h"
#include "testing/failure.h"

namespace {
std::vector<void (*)()>& Resets() {
  static std::vector<void (*)()> resets;
  return resets;
}
std::atomic<bool> g_underTest{false};
}  // namespace

namespace platform::detail {
bool UnderTest() { return g_underTest.load(std::memory_order_relaxed); }
}  // namespace platform::detail

namespace platform::test {

void RegisterReset(void (*reset)()) { Resets().push_back(reset); }

void ResetAll() {
  g_underTest.store(true, std::memory_order_relaxed);
  for (auto* reset : Resets()) reset();
}

}  // namespace platform::test
