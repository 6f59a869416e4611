// A growable array of trivially copyable values on the C heap for the shader
// tools' scratch lists: growth that fails is reported, never thrown, and the
// array stays as it was.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace gxl::shader {

template <typename T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodArray() = default;
  ~PodArray() { std::free(m_data); }
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;

  T* Data() { return m_data; }
  const T* Data() const { return m_data; }
  std::size_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }
  T& operator[](std::size_t i) { return m_data[i]; }
  const T& operator[](std::size_t i) const { return m_data[i]; }
  T& Back() { return m_data[m_size - 1]; }

  void Clear() { m_size = 0; }
  // Frees the storage; the array is then empty.
  void Reset() {
    std::free(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
  }
  // Shrinks to n elements (n <= Size()).
  void Truncate(std::size_t n) { m_size = n; }
  // n elements, those past the old size uninitialised; false when it cannot grow.
  bool Resize(std::size_t n) {
    if (!Reserve(n)) return false;
    m_size = n;
    return true;
  }
  void PopBack() { --m_size; }

  bool Reserve(std::size_t n) {
    if (n <= m_capacity) return true;
    std::size_t capacity = m_capacity ? m_capacity : 16;
    while (capacity < n) {
      if (capacity > SIZE_MAX / 2 / sizeof(T)) return false;
      capacity *= 2;
    }
    void* grown = std::realloc(static_cast<void*>(m_data), capacity * sizeof(T));
    if (!grown) return false;
    m_data = static_cast<T*>(grown);
    m_capacity = capacity;
    return true;
  }
  bool Append(const T& value) {
    const T copy = value;  // value may live in this array
    if (m_size == m_capacity && !Reserve(m_size + 1)) return false;
    m_data[m_size++] = copy;
    return true;
  }
  bool Append(const T* values, std::size_t n) {
    if (n > SIZE_MAX - m_size || !Reserve(m_size + n)) return false;
    if (n) std::memcpy(static_cast<void*>(m_data + m_size), values, n * sizeof(T));
    m_size += n;
    return true;
  }

 private:
  T* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace gxl::shader
