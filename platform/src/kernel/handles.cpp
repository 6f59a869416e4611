// The handle table and the errno translation shared by the kernel sources.
#include "kernel/handles.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/win_kernel.h"

namespace platform::kernel {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::uintptr_t next = 0x100;
  std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

void SetLastErrorInvalidHandle() { SetLastError(ERROR_INVALID_HANDLE); }

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == t.objects.end()) return nullptr;
  return it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> keep;  // destroyed outside the lock
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == t.objects.end()) return false;
  keep = std::move(it->second);
  t.objects.erase(it);
  return true;
}

DWORD Win32FromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    // Kept apart from the permission errors, so that a report names the cause.
    case EISDIR:
      return ERROR_DIRECTORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace platform::kernel
