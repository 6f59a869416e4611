// The kernel handle table shared by files and file mappings. Handles are never
// reused, so a handle that was closed stays invalid.
#pragma once

#include <memory>

#include "platform/win_types.h"

namespace platform::kernel {

struct KernelObject {
  virtual ~KernelObject() = default;
};

void SetLastErrorInvalidHandle();
HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null (and last error 6) when the handle is not open.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> Lookup(HANDLE handle) {
  auto p = std::dynamic_pointer_cast<T>(LookupHandle(handle));
  if (!p) SetLastErrorInvalidHandle();
  return p;
}
bool RemoveHandle(HANDLE handle);

// Maps errno to the nearest Win32 error number.
DWORD Win32FromErrno(int error);

}  // namespace platform::kernel
