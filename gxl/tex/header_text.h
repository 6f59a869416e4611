// The text headers of the HDR and PFM files (internal): lines, sizes and
// numbers, read the same under every process locale.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace gxl::tex::detail {

// The longest header line the readers look at, its line feed included.
constexpr std::uint32_t kMaxHeaderLine = 256;

// One line at a time from a position in the data.
class HeaderLines {
 public:
  HeaderLines(const std::uint8_t* data, std::uint32_t size, std::uint32_t at) : m_data(data), m_size(size), m_at(at) {}

  // The next line without its line feed, whose line feed must lie within
  // `limit` bytes; false when it does not (or the data ends first).
  bool Next(std::string_view* line, std::uint32_t limit = kMaxHeaderLine) {
    const std::uint32_t left = m_size - m_at;
    const void* end = std::memchr(m_data + m_at, '\n', left < limit ? left : limit);
    if (!end) return false;
    const auto length = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - (m_data + m_at));
    *line = std::string_view(reinterpret_cast<const char*>(m_data + m_at), length);
    m_at += length + 1;
    return true;
  }
  std::uint32_t At() const { return m_at; }

 private:
  const std::uint8_t* m_data;
  std::uint32_t m_size;
  std::uint32_t m_at;
};

// A cursor over one line: white space, unsigned sizes and decimal numbers.
class HeaderText {
 public:
  explicit HeaderText(std::string_view text) : m_at(text.data()), m_end(text.data() + text.size()) {}

  void SkipSpace() {
    while (m_at < m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\v' || *m_at == '\f')) ++m_at;
  }
  // Only white space is left.
  bool AtEnd() {
    SkipSpace();
    return m_at == m_end;
  }
  bool Accept(char c) {
    if (m_at == m_end || *m_at != c) return false;
    ++m_at;
    return true;
  }
  // A decimal size after white space: digits, no sign, at most 32 bits.
  bool ReadSize(std::uint32_t* value) {
    SkipSpace();
    std::uint32_t v = 0;
    const std::from_chars_result r = std::from_chars(m_at, m_end, v, 10);
    if (r.ec != std::errc()) return false;
    m_at = r.ptr;
    *value = v;
    return true;
  }
  // A decimal number after white space, with an optional sign; "inf" and
  // "nan" too. One beyond a double's range, either way, reads as an infinity
  // of its sign: the readers ignore such an exposure and use only the sign
  // of a scale.
  bool ReadNumber(double* value) {
    SkipSpace();
    const bool negative = m_at < m_end && *m_at == '-';
    const char* digits = m_at < m_end && *m_at == '+' ? m_at + 1 : m_at;
    if (digits < m_end && (*digits == '-' || *digits == '+') && digits != m_at) return false;
    double v = 0;
    const std::from_chars_result r = std::from_chars(digits, m_end, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
      v = negative ? -HUGE_VAL : HUGE_VAL;
    } else if (r.ec != std::errc()) {
      return false;
    }
    m_at = r.ptr;
    *value = v;
    return true;
  }

 private:
  const char* m_at;
  const char* m_end;
};

}  // namespace gxl::tex::detail
