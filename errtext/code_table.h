// Constant tables from result codes to texts, searched by halving. They are
// plain constant data: a lookup allocates nothing and needs no set-up, so it
// works at any time, static initialisation included.
#pragma once

#include <cstddef>
#include <cstdint>

namespace errtext::detail {

struct NameEntryA {
  std::uint32_t code;
  const char* text;
};

struct NameEntryW {
  std::uint32_t code;
  const char16_t* text;
};

// The text of code (compared as all 32 bits), or null when the table has none.
template <typename Entry, std::size_t N>
constexpr auto FindText(const Entry (&table)[N], std::uint32_t code) -> decltype(table[0].text) {
  std::size_t lo = 0;
  std::size_t hi = N;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (table[mid].code < code) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < N && table[lo].code == code ? table[lo].text : nullptr;
}

// The search relies on ascending codes without repeats.
template <typename Entry, std::size_t N>
constexpr bool IsStrictlyAscending(const Entry (&table)[N]) {
  for (std::size_t i = 1; i < N; ++i) {
    if (table[i - 1].code >= table[i].code) return false;
  }
  return true;
}

}  // namespace errtext::detail
