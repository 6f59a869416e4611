// What a call allocates from the heap, seen from the sanitizer's allocator:
// every malloc, calloc, realloc and operator new of this thread while the
// gauge lives, including those of system libraries (libpng, libjpeg), which
// a replaced operator new would not see, and the most bytes held at once.
// Without AddressSanitizer the gauge sees nothing and says so (Available() is
// false).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define NURA_ALLOC_GAUGE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NURA_ALLOC_GAUGE 1
#endif
#endif

#ifdef NURA_ALLOC_GAUGE
// The sanitizer runtime's (g++ ships no header that declares it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace nura::test {

class AllocGauge {
 public:
  AllocGauge() : m_outer(Current()) {
    Install();
    Current() = this;
  }
  ~AllocGauge() { Current() = m_outer; }
  AllocGauge(const AllocGauge&) = delete;
  AllocGauge& operator=(const AllocGauge&) = delete;

  static bool Available() {
#ifdef NURA_ALLOC_GAUGE
    return true;
#else
    return false;
#endif
  }
  // The largest single request, and the sum of all requests, in bytes.
  std::size_t Largest() const { return m_largest; }
  std::size_t Total() const { return m_total; }
  // The most bytes held at once beyond what was held when the gauge began
  // (blocks freed that were allocated before it count against what came after).
  std::size_t Peak() const { return static_cast<std::size_t>(m_peak); }

 private:
  static AllocGauge*& Current() {
    static thread_local AllocGauge* current = nullptr;
    return current;
  }
  static void OnMalloc(const volatile void*, std::size_t size) {
    // Outer gauges see what inner ones see.
    for (AllocGauge* g = Current(); g; g = g->m_outer) {
      g->m_total += size;
      if (size > g->m_largest) g->m_largest = size;
      g->m_live += static_cast<std::int64_t>(size);
      if (g->m_live > g->m_peak) g->m_peak = g->m_live;
    }
  }
  static void OnFree(const volatile void* p) {
#ifdef NURA_ALLOC_GAUGE
    if (!Current()) return;
    const auto size = static_cast<std::int64_t>(__sanitizer_get_allocated_size(p));
    for (AllocGauge* g = Current(); g; g = g->m_outer) g->m_live -= size;
#else
    (void)p;
#endif
  }
  // The sanitizer keeps hooks for the life of the process: install them once.
  static void Install() {
#ifdef NURA_ALLOC_GAUGE
    static const int installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    (void)installed;
#endif
  }

  AllocGauge* m_outer;
  std::size_t m_largest = 0;
  std::size_t m_total = 0;
  std::int64_t m_live = 0;
  std::int64_t m_peak = 0;
};

}  // namespace nura::test
