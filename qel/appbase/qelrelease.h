// Releasing COM-style pointers that the framework's holders keep raw.
#pragma once

#include <utility>

// Releases the object when there is one and nulls the pointer.
template <class T>
void SafeRelease(T*& p) {
  if (T* q = std::exchange(p, nullptr)) q->Release();
}
