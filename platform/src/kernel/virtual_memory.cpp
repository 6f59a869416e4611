// Virtual memory: reservations are PROT_NONE mappings aligned to the 64 KB
// allocation granularity; commits make 4 KB pages readable and writable. A test
// limit on committed bytes makes VirtualAlloc fail as it would when memory runs out.
#include <sys/mman.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "testing/failure.h"

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kGranularity = 65536;

struct Reservation {
  size_t size;
  std::vector<bool> committed;  // per page
};

struct Memory {
  std::mutex mutex;
  std::map<std::uintptr_t, Reservation> reservations;  // by base address
  size_t committed = 0;
  size_t limitBase = 0;         // committed bytes when the limit was set
  size_t limit = SIZE_MAX;      // bytes that may be committed beyond limitBase

  bool Allows(size_t more) const {
    if (limit == SIZE_MAX) return true;
    size_t used = committed > limitBase ? committed - limitBase : 0;
    return used + more <= limit;
  }
  // The reservation holding [p, p + n), or null.
  std::pair<const std::uintptr_t, Reservation>* Find(std::uintptr_t p, size_t n) {
    auto it = reservations.upper_bound(p);
    if (it == reservations.begin()) return nullptr;
    --it;
    if (p < it->first || p + n > it->first + it->second.size || p + n < p) return nullptr;
    return &*it;
  }
};

Memory& TheMemory() {
  static Memory memory;
  return memory;
}

void ResetLimit() {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.limit = SIZE_MAX;
  m.limitBase = 0;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetLimit), true);

size_t RoundUp(size_t v, size_t to) { return (v + to - 1) / to * to; }

int Protection(DWORD protect) {
  switch (protect) {
    case PAGE_NOACCESS:
      return PROT_NONE;
    case PAGE_READONLY:
      return PROT_READ;
    case PAGE_READWRITE:
      return PROT_READ | PROT_WRITE;
    default:
      return -1;
  }
}

// An anonymous mapping aligned to the allocation granularity.
void* MapAligned(size_t size, int prot) {
  size_t span = size + kGranularity;
  void* raw = ::mmap(nullptr, span, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<std::uintptr_t>(raw);
  std::uintptr_t base = RoundUp(start, kGranularity);
  if (base > start) ::munmap(raw, base - start);
  std::uintptr_t end = start + span;
  if (end > base + size) ::munmap(reinterpret_cast<void*>(base + size), end - (base + size));
  return reinterpret_cast<void*>(base);
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  int prot = Protection(protect);
  if (size == 0 || prot < 0 || (type & ~(MEM_COMMIT | MEM_RESERVE)) || !(type & (MEM_COMMIT | MEM_RESERVE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Tests arm "reserve" (a new reservation) or "commit" (pages of one) failures.
  if (platform::detail::ShouldFail("VirtualAlloc", nullptr, address ? "commit" : "reserve")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> lock(m.mutex);

  if (!address) {
    // A new reservation, committed at once unless only MEM_RESERVE was asked for.
    const bool commit = (type & MEM_COMMIT) != 0;
    size_t reserved = RoundUp(size, kGranularity);
    if (reserved < size) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    size_t pages = RoundUp(size, kPage) / kPage;
    if (commit && !m.Allows(pages * kPage)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    void* base = MapAligned(reserved, PROT_NONE);
    if (!base) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    Reservation r{reserved, std::vector<bool>(reserved / kPage, false)};
    if (commit) {
      ::mprotect(base, pages * kPage, prot);
      for (size_t i = 0; i < pages; ++i) r.committed[i] = true;
      m.committed += pages * kPage;
    }
    m.reservations.emplace(reinterpret_cast<std::uintptr_t>(base), std::move(r));
    return base;
  }

  if (!(type & MEM_COMMIT) || (type & MEM_RESERVE)) {
    SetLastError(ERROR_INVALID_ADDRESS);  // reserving at a chosen address is not offered
    return nullptr;
  }
  auto p = reinterpret_cast<std::uintptr_t>(address);
  std::uintptr_t first = p / kPage * kPage;
  size_t length = RoundUp(p + size, kPage) - first;
  auto* res = m.Find(first, length);
  if (!res) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  size_t index = (first - res->first) / kPage;
  size_t fresh = 0;
  for (size_t i = 0; i < length / kPage; ++i)
    if (!res->second.committed[index + i]) ++fresh;
  if (!m.Allows(fresh * kPage)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (::mprotect(reinterpret_cast<void*>(first), length, prot) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  for (size_t i = 0; i < length / kPage; ++i) res->second.committed[index + i] = true;
  m.committed += fresh * kPage;
  return reinterpret_cast<LPVOID>(first);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto p = reinterpret_cast<std::uintptr_t>(address);
  if (type == MEM_RELEASE) {
    auto it = m.reservations.find(p);
    if (size != 0 || it == m.reservations.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    for (bool c : it->second.committed)
      if (c) m.committed -= kPage;
    ::munmap(address, it->second.size);
    m.reservations.erase(it);
    return TRUE;
  }
  if (type == MEM_DECOMMIT) {
    std::uintptr_t first = p / kPage * kPage;
    auto* res = m.Find(first, 1);
    if (!res) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    // Size 0 at the base decommits the whole reservation.
    size_t length = size == 0 ? (p == res->first ? res->second.size : 0) : RoundUp(p + size, kPage) - first;
    if (length == 0 || !m.Find(first, length)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    ::madvise(reinterpret_cast<void*>(first), length, MADV_DONTNEED);
    ::mprotect(reinterpret_cast<void*>(first), length, PROT_NONE);
    size_t index = (first - res->first) / kPage;
    for (size_t i = 0; i < length / kPage; ++i) {
      if (res->second.committed[index + i]) m.committed -= kPage;
      res->second.committed[index + i] = false;
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

namespace platform::test {

void SetVirtualAllocCommitLimit(size_t bytes) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.limit = bytes;
  m.limitBase = m.committed;
}

size_t VirtualCommittedBytes() {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.committed;
}

}  // namespace platform::test
