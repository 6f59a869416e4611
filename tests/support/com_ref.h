// COM-style objects in tests: an owning pointer, released when it goes
// (`&ref` drops what it holds and hands out the slot for an out-parameter),
// and a look at an object's reference count.
#pragma once

#include <memory>

#include "platform/com.h"

namespace nura::test {

template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : m_p(p) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : m_p(other.detach()) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != std::addressof(other)) {
      reset();
      m_p = other.detach();
    }
    return *this;
  }
  T** operator&() {
    reset();
    return &m_p;
  }
  T* operator->() const { return m_p; }
  T* get() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  void reset() {
    if (m_p) m_p->Release();
    m_p = nullptr;
  }
  T* detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }

 private:
  T* m_p = nullptr;
};

// The reference count of an object, read without changing it.
inline ULONG RefCount(IUnknown* o) {
  o->AddRef();
  return o->Release();
}

}  // namespace nura::test
