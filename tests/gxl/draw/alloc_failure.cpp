// The nothrow allocation operators of this test program, replaced so that
// tests can count them and make one fail. Only the drawing objects allocate
// this way (they report exhausted memory instead of throwing).
#include <new>

#include "draw_test_support.h"

namespace {

int g_failCountdown = 0;
int g_allocations = 0;

bool NextAllocationFails() {
  ++g_allocations;
  return g_failCountdown > 0 && --g_failCountdown == 0;
}

void ResetAllocationHooks() {
  g_failCountdown = 0;
  g_allocations = 0;
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetAllocationHooks), true);

}  // namespace

namespace drawtest {
void FailNothrowAllocation(int nth) { g_failCountdown = nth; }
int NothrowAllocationCount() { return g_allocations; }
}  // namespace drawtest

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (NextAllocationFails()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (NextAllocationFails()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
