// An owning reference to a COM-style object: released when the holder goes away.
#pragma once

#include <utility>

namespace gxl {

template <class T>
class ComRef {
 public:
  ComRef() = default;
  // Takes over a reference the caller already holds.
  explicit ComRef(T* p) : m_p(p) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : m_p(other.Detach()) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      m_p = other.Detach();
    }
    return *this;
  }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  // For out-parameters: drops what is held and hands out the slot.
  T** Put() {
    Reset();
    return &m_p;
  }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  T* Detach() { return std::exchange(m_p, nullptr); }

 private:
  T* m_p = nullptr;
};

}  // namespace gxl
