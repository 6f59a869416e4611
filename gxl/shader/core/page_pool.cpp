// Page pool: bump allocation in reserved regions, committed a step at a time.
// Under AddressSanitizer the committed bytes not yet handed out are poisoned,
// so a read or write past the newest block is caught; the shadow is clean
// again before a region goes back to the system.
#include "gxl/shader/core/page_pool.h"

#include <algorithm>
#include <utility>

#include "platform/win_kernel.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define POOL_POISON(p, n) ((void)(p), (void)(n))
#define POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr std::size_t kLinkSize = sizeof(std::uintptr_t);
// Regions start on a page boundary at least, so offsets from the region's start
// align blocks absolutely up to this.
constexpr std::size_t kMaxAlignment = 4096;

PagePool* g_currentPool = nullptr;

std::size_t RoundUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }
std::size_t AlignUp(std::size_t v, std::size_t powerOfTwo) { return (v + powerOfTwo - 1) & ~(powerOfTwo - 1); }
std::size_t RoundDown(std::size_t v, std::size_t to) { return v / to * to; }
void* At(std::uintptr_t region, std::size_t offset) { return reinterpret_cast<void*>(region + offset); }

}  // namespace

PagePool::PagePool(std::size_t reservation, std::size_t commitStep) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize ? info.dwPageSize : 4096;
  // A step of 0 is one page; neither size may pass the ceiling.
  m_commitStep = std::max(page, RoundUp(std::min(commitStep, kCeiling), page));
  if (reservation == 0) reservation = 0x100000;
  m_defaultReservation = RoundUp(std::min(reservation, kCeiling), m_commitStep);
}

void* PagePool::Allocate(std::size_t size, std::size_t alignment) {
  if (failureHook && failureHook()) return nullptr;
  if (alignment == 0 || alignment > kMaxAlignment || (alignment & (alignment - 1)) != 0) return nullptr;
  if (size == 0) size = 1;
  if (m_regions == 0) return AllocateInNewRegion(size, alignment);

  const std::size_t offset = AlignUp(m_used, alignment);
  if (offset > m_reserved || size > m_reserved - offset) return AllocateInNewRegion(size, alignment);
  const std::size_t end = offset + size;
  if (end > m_committed) {
    // Regions are whole commit steps, so this stays inside the reservation.
    const std::size_t committed = RoundUp(end, m_commitStep);
    if (!VirtualAlloc(At(m_regions, m_committed), committed - m_committed, MEM_COMMIT, PAGE_READWRITE))
      return nullptr;
    POOL_POISON(At(m_regions, m_committed), committed - m_committed);
    m_totalCommitted += committed - m_committed;
    m_committed = committed;
  }
  POOL_UNPOISON(At(m_regions, m_used), end - m_used);
  m_used = end;
  return At(m_regions, offset);
}

void* PagePool::AllocateInNewRegion(std::size_t size, std::size_t alignment) {
  const std::size_t offset = AlignUp(kLinkSize, alignment);
  if (size > kCeiling - offset) return nullptr;
  const std::size_t end = offset + size;
  std::size_t regionSize = m_defaultReservation;
  while (regionSize < end) regionSize *= 2;  // end <= 1 GiB: no wrap, no pass of 2^31
  regionSize = std::min(regionSize, RoundDown(kCeiling - m_totalReserved, m_commitStep));
  if (regionSize < end) return nullptr;

  void* base = VirtualAlloc(nullptr, regionSize, MEM_RESERVE, PAGE_READWRITE);
  if (!base) return nullptr;
  const std::size_t committed = RoundUp(end, m_commitStep);
  if (!VirtualAlloc(base, committed, MEM_COMMIT, PAGE_READWRITE)) {
    VirtualFree(base, 0, MEM_RELEASE);
    return nullptr;
  }
  // The rest of the region before is abandoned: its shadow is cleared now,
  // while its extent is still known.
  if (m_regions) POOL_UNPOISON(At(m_regions, m_used), m_committed - m_used);

  const auto region = reinterpret_cast<std::uintptr_t>(base);
  *static_cast<std::uintptr_t*>(base) = m_regions;
  POOL_POISON(At(region, end), committed - end);
  m_regions = region;
  m_reserved = regionSize;
  m_committed = committed;
  m_totalCommitted += committed;
  m_used = end;
  m_totalReserved += regionSize;
  return At(region, offset);
}

void PagePool::FreeAll() {
  if (m_regions) POOL_UNPOISON(At(m_regions, m_used), m_committed - m_used);
  while (m_regions) {
    const std::uintptr_t region = m_regions;
    m_regions = *reinterpret_cast<const std::uintptr_t*>(region);
    VirtualFree(reinterpret_cast<void*>(region), 0, MEM_RELEASE);
  }
  m_used = m_committed = m_reserved = m_totalReserved = m_totalCommitted = m_takenCommitted = 0;
}

PagePool* SetCurrentPool(PagePool* pool) { return std::exchange(g_currentPool, pool); }

PagePool* CurrentPool() { return g_currentPool; }

void* PoolAlloc(std::size_t size) { return g_currentPool ? g_currentPool->Allocate(size, 16) : nullptr; }
