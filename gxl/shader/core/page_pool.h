// The arena of one shader-tool run: blocks are cut from reserved regions of
// address space by bump allocation, committed a step at a time, and released
// only all together.
#pragma once

#include <cstddef>
#include <cstdint>

class PagePool {
 public:
  // Address space one pool may reserve in all. Source-controlled counts
  // (unrolled loops, array sizes) reach the pool, so it must fail before the
  // machine runs out; callers turn null into E_OUTOFMEMORY.
  static constexpr std::size_t kCeiling = std::size_t{1} << 30;

  // The commit step is rounded up to the system page size; the reservation
  // (0 for 1 MB) up to the commit step. Nothing is reserved until the first
  // allocation.
  PagePool(std::size_t reservation, std::size_t commitStep);
  ~PagePool() { FreeAll(); }
  PagePool(const PagePool&) = delete;
  PagePool& operator=(const PagePool&) = delete;

  // `size` bytes (0 counts as 1) aligned to `alignment`, a power of two; null
  // when the request is malformed, passes the ceiling, or memory cannot be
  // reserved or committed. A failed request leaves the pool as it was.
  void* Allocate(std::size_t size, std::size_t alignment);

  // Releases every region; the pool then serves allocations afresh.
  void FreeAll();
  // Bytes committed since the last call, over every region: fresh memory,
  // whose first touch costs the system a page fault each page.
  std::size_t TakeFreshBytes() {
    const std::size_t fresh = m_totalCommitted - m_takenCommitted;
    m_takenCommitted = m_totalCommitted;
    return fresh;
  }

  // Test hook: asked before every allocation; true fails it as exhausted memory does.
  static inline bool (*failureHook)() = nullptr;

 private:
  void* AllocateInNewRegion(std::size_t size, std::size_t alignment);

  // Newest region; the first word of each region links to the one before it.
  std::uintptr_t m_regions = 0;
  std::size_t m_commitStep;
  std::size_t m_used = 0;       // bytes of the newest region handed out, link included
  std::size_t m_committed = 0;  // bytes of the newest region committed
  std::size_t m_reserved = 0;   // bytes reserved for the newest region
  std::size_t m_defaultReservation;
  std::size_t m_totalReserved = 0;  // over every region, against kCeiling
  std::size_t m_totalCommitted = 0, m_takenCommitted = 0;  // over every region (TakeFreshBytes)
};

// The process-wide current pool, used only while the shader-tool lock is held.
// The setter returns the pointer it replaces; a run puts it back when it ends.
PagePool* SetCurrentPool(PagePool* pool);
PagePool* CurrentPool();

// `size` bytes aligned to 16 from the current pool; null when there is no
// current pool or it is exhausted. Blocks are never freed one by one.
void* PoolAlloc(std::size_t size);
