// A growable list of object pointers for the framework's registries. It is
// constant-initialised and trivially destructible, so objects built or
// destroyed before or after main (globals in any file) always find it; its
// storage goes when the last entry leaves.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

template <class T>
class C_PtrList {
 public:
  constexpr C_PtrList() = default;
  C_PtrList(const C_PtrList&) = delete;
  C_PtrList& operator=(const C_PtrList&) = delete;

  void Add(T* item) {
    if (m_nSize == m_nCapacity) {
      std::size_t capacity = m_nCapacity ? m_nCapacity * 2 : 4;
      void* grown = std::realloc(m_pItems, capacity * sizeof(T*));
      if (!grown) throw std::bad_alloc();
      m_pItems = static_cast<T**>(grown);
      m_nCapacity = capacity;
    }
    m_pItems[m_nSize++] = item;
  }

  // Removes the first entry equal to item; false when there is none.
  bool Remove(T* item) {
    for (std::size_t i = 0; i < m_nSize; ++i) {
      if (m_pItems[i] != item) continue;
      for (std::size_t j = i + 1; j < m_nSize; ++j) m_pItems[j - 1] = m_pItems[j];
      if (--m_nSize == 0) {
        std::free(m_pItems);
        m_pItems = nullptr;
        m_nCapacity = 0;
      }
      return true;
    }
    return false;
  }

  std::size_t Size() const { return m_nSize; }
  T* operator[](std::size_t i) const { return m_pItems[i]; }
  T* const* begin() const { return m_pItems; }
  T* const* end() const { return m_pItems + m_nSize; }

 private:
  T** m_pItems = nullptr;
  std::size_t m_nSize = 0;
  std::size_t m_nCapacity = 0;
};
