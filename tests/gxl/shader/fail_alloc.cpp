#include "fail_alloc.h"

#include <cstdlib>
#include <new>

#include "gxl/shader/core/page_pool.h"

namespace {

thread_local bool t_failNext = false;
thread_local std::uint64_t t_countdown = 0;  // 0: disarmed
thread_local std::uint64_t t_counted = 0;
thread_local bool t_failed = false;

// Counts one allocation; true when it is the one to fail.
bool CountdownFires() {
  ++t_counted;
  if (t_countdown == 0 || --t_countdown != 0) return false;
  t_failed = true;
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (t_failNext) {
    t_failNext = false;
    return nullptr;
  }
  if (CountdownFires()) return nullptr;
  return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace shadertest {

void FailNextAllocation() { t_failNext = true; }

void FailNthAllocation(std::uint64_t n) {
  PagePool::failureHook = CountdownFires;
  t_countdown = n;
  t_counted = 0;
  t_failed = false;
}

std::uint64_t AllocationsCounted() { return t_counted; }
bool AllocationFailed() { return t_failed; }

}  // namespace shadertest

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
