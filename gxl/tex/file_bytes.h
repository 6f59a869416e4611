// Little-endian header fields of the image files, and the byte counts the
// readers check against the data before they trust a header (internal).
#pragma once

#include <cstdint>

namespace gxl::tex::detail {

inline std::uint32_t Load16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
inline std::uint32_t Load32(const std::uint8_t* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
inline void Store16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Store32(std::uint8_t* p, std::uint32_t v) {
  Store16(p, v);
  Store16(p + 2, v >> 16);
}

constexpr std::uint64_t RoundUp4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// What a record's 32-bit pitch fields and buffers can describe.
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

}  // namespace gxl::tex::detail
