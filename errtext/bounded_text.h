// Bounded text operations on fixed buffers, for 8-bit and UTF-16 text alike.
// Each takes its capacity in characters from the buffer itself, never writes
// past it and always leaves a terminator; a text that does not fit is cut.
#pragma once

#include <cstddef>

namespace errtext::detail {

// Counts the characters of text up to its terminator, looking at no more than
// capacity of them. False (and no length) when no terminator lies within them.
template <typename Char>
bool BoundedLength(const Char* text, std::size_t capacity, std::size_t* length) {
  for (std::size_t i = 0; i < capacity; ++i) {
    if (text[i] == Char(0)) {
      *length = i;
      return true;
    }
  }
  return false;
}

// Appends text after what out holds, cutting it so that out keeps at most
// N - 1 characters. Copying into an emptied buffer is the bounded copy, and a
// run of appends gives what bounded formatting of the joined pieces gives.
template <typename Char, std::size_t N>
void BoundedAppend(Char (&out)[N], const Char* text) {
  std::size_t used = 0;
  while (used + 1 < N && out[used] != Char(0)) ++used;
  for (std::size_t i = 0; used + 1 < N && text[i] != Char(0); ++i) {
    out[used++] = text[i];
  }
  out[used] = Char(0);
}

template <typename Char, std::size_t N>
void BoundedCopy(Char (&out)[N], const Char* text) {
  out[0] = Char(0);
  BoundedAppend(out, text);
}

}  // namespace errtext::detail
