// Working storage that only grows: a data pointer and a capacity in elements.
// The owner keeps the count in use. Growth doubles (from 16 when empty) until
// the need is met, so a caller that reserves per call allocates only while its
// texts keep getting longer; a failed growth leaves the array as it was.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/win_types.h"

namespace gxl {

template <class T>
class GrowableArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy");

 public:
  GrowableArray() = default;
  GrowableArray(const GrowableArray&) = delete;
  GrowableArray& operator=(const GrowableArray&) = delete;

  T* Data() const { return m_data.get(); }
  std::uint32_t Capacity() const { return m_capacity; }
  T& operator[](std::size_t i) const { return m_data[i]; }

  // Room for at least `needed` elements; E_OUTOFMEMORY when that cannot be had.
  // Unless `discard`, the elements held so far are kept.
  HRESULT Reserve(std::uint64_t needed, bool discard = false) {
    if (needed <= m_capacity) return S_OK;
    std::uint64_t capacity = m_capacity ? m_capacity : 16;
    while (capacity < needed) capacity *= 2;
    if (capacity > kMaxElements) return E_OUTOFMEMORY;
    std::unique_ptr<T[]> data(new (std::nothrow) T[capacity]);
    if (!data) return E_OUTOFMEMORY;
    if (!discard && m_capacity) std::memcpy(data.get(), m_data.get(), sizeof(T) * m_capacity);
    m_data = std::move(data);
    m_capacity = static_cast<std::uint32_t>(capacity);
    return S_OK;
  }

 private:
  // Keeps every byte count and index within 32 bits.
  static constexpr std::uint64_t kMaxElements = (std::uint64_t{1} << 31) / sizeof(T);

  std::unique_ptr<T[]> m_data;
  std::uint32_t m_capacity = 0;
};

}  // namespace gxl
