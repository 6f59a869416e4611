// Storage of surfaces, volumes and buffers: one zeroed, 64-byte aligned block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform::d3d9 {

// No single resource may exceed this; larger requests fail as out of memory
// instead of reaching the allocator.
constexpr std::uint64_t kMaxResourceBytes = std::uint64_t(1) << 29;

class Memory {
 public:
  Memory() = default;
  ~Memory() { std::free(m_data); }
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  // False when the size is above the limit or memory ran out.
  bool Allocate(std::uint64_t bytes) {
    if (bytes > kMaxResourceBytes) return false;
    const std::size_t rounded = static_cast<std::size_t>((bytes + 63) & ~std::uint64_t(63));
    void* p = std::aligned_alloc(64, rounded ? rounded : 64);
    if (!p) return false;
    std::memset(p, 0, rounded ? rounded : 64);
    std::free(m_data);
    m_data = static_cast<std::uint8_t*>(p);
    m_size = static_cast<std::size_t>(bytes);
    return true;
  }
  std::uint8_t* Data() const { return m_data; }
  std::size_t Size() const { return m_size; }

 private:
  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
};

// The decoded 32-bit ARGB copy the rasteriser samples from a texture level in a
// format it does not sample in place. Locks and copies mark it dirty; the
// rasteriser rebuilds it at the first draw that samples the level.
struct SampleCache {
  bool dirty = true;
  bool opaque = false;  // every texel of the copy has alpha 255
  std::uint32_t* texels = nullptr;  // width x height (x depth), owned below
  Memory storage;
  // Where the level reads alpha 0, for draws that skip what cannot change
  // their target: bit x of row y (clearWords 64-bit words a row) is set when
  // texel (x, y) has alpha 0. Null when there is no run of 8 such texels.
  // clearShare: the share of the rows' aligned groups of 8 texels that are
  // all clear, in 256ths.
  const std::uint64_t* clear = nullptr;
  std::size_t clearWords = 0;
  unsigned clearShare = 0;
  Memory clearStorage;
};

// The range of values a depth surface holds, in its stored depth units (D16:
// 0-65535; D24: the 24 depth bits), kept by clears and draws so that draws
// that pass everywhere skip reading the surface. Unknown after a lock.
struct DepthBound {
  bool known = true;  // new surfaces hold zeros
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
};

}  // namespace platform::d3d9
