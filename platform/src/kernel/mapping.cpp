// Read-only file mappings over mmap. A mapping object remembers its file's size
// when it was made; each view maps the whole file privately.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "kernel/handles.h"
#include "platform/win_kernel.h"

namespace platform::kernel {
int FileDescriptor(HANDLE handle, bool* readable);
}

namespace {

struct MappingObject : platform::kernel::KernelObject {
  int fd = -1;  // a duplicate, so the mapping outlives the file handle
  std::uint64_t size = 0;
  ~MappingObject() override {
    if (fd >= 0) ::close(fd);
  }
};

struct Views {
  std::mutex mutex;
  std::map<const void*, size_t> sizes;
};

Views& TheViews() {
  static Views views;
  return views;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES*, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          LPCSTR name) {
  if (protect != PAGE_READONLY || name) {
    SetLastError(ERROR_INVALID_PARAMETER);  // only unnamed read-only mappings of files exist here
    return nullptr;
  }
  bool readable = false;
  int fd = platform::kernel::FileDescriptor(file, &readable);
  if (fd < 0) return nullptr;
  if (!readable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastError(platform::kernel::Win32FromErrno(errno));
    return nullptr;
  }
  std::uint64_t wanted = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (fileSize == 0 && wanted == 0) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  if (wanted > fileSize) {
    SetLastError(ERROR_ACCESS_DENIED);  // a read-only mapping cannot grow the file
    return nullptr;
  }
  auto mapping = std::make_shared<MappingObject>();
  mapping->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (mapping->fd < 0) {
    SetLastError(platform::kernel::Win32FromErrno(errno));
    return nullptr;
  }
  mapping->size = wanted ? wanted : fileSize;
  HANDLE h = platform::kernel::AddHandle(std::move(mapping));
  SetLastError(ERROR_SUCCESS);
  return h;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  auto m = platform::kernel::Lookup<MappingObject>(mapping);
  if (!m) return nullptr;
  std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
  if (access != FILE_MAP_READ || offset % 65536 != 0 || offset >= m->size ||
      (bytes && bytes > m->size - offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t length = bytes ? bytes : static_cast<size_t>(m->size - offset);
  void* p = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, m->fd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Views& v = TheViews();
  std::lock_guard<std::mutex> lock(v.mutex);
  v.sizes[p] = length;
  return p;
}

BOOL UnmapViewOfFile(LPCVOID view) {
  Views& v = TheViews();
  std::lock_guard<std::mutex> lock(v.mutex);
  auto it = v.sizes.find(view);
  if (it == v.sizes.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  ::munmap(const_cast<void*>(view), it->second);
  v.sizes.erase(it);
  return TRUE;
}
