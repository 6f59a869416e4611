// The last 240 positions of a mover along one axis, newest first.
#pragma once

#include <cstdint>

template <class T>
class C_History {
 public:
  static constexpr std::int32_t kLength = 240;

  void Fill(T value) {
    for (T& v : m_aValues) v = value;
    m_nNewest = 0;
  }
  // Puts value in front and drops the oldest entry.
  void Push(T value) {
    m_nNewest = (m_nNewest + kLength - 1) % kLength;
    m_aValues[m_nNewest] = value;
  }
  // The entry i frames old; an age outside the history reads its nearest end.
  T Get(std::int32_t i) const {
    if (i < 0) i = 0;
    if (i >= kLength) i = kLength - 1;
    return m_aValues[(m_nNewest + i) % kLength];
  }

 private:
  T m_aValues[kLength] = {};
  std::int32_t m_nNewest = 0;
};
