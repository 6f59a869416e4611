// Files over POSIX descriptors. Names are byte-exact and relative to the working
// folder; sharing modes are accepted but not enforced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kernel/handles.h"
#include "kernel/utf.h"
#include "platform/win_kernel.h"

namespace platform::kernel {

struct FileObject : KernelObject {
  int fd = -1;
  bool canRead = false;
  bool canWrite = false;
  ~FileObject() override {
    if (fd >= 0) ::close(fd);
  }
};

// For the mapping code: the descriptor behind a file handle, or -1.
int FileDescriptor(HANDLE handle, bool* readable) {
  auto f = Lookup<FileObject>(handle);
  if (!f) return -1;
  if (readable) *readable = f->canRead;
  return f->fd;
}

}  // namespace platform::kernel

using platform::kernel::FileObject;
using platform::kernel::Lookup;
using platform::kernel::Win32FromErrno;

namespace {

// ENOENT means a missing file when the folder exists, else a missing path.
DWORD MissingError(const char* name) {
  std::string dir = name;
  size_t slash = dir.rfind('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
  dir.resize(slash == 0 ? 1 : slash);
  struct stat st;
  return (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD OpenError(const char* name, int error) { return error == ENOENT ? MissingError(name) : Win32FromErrno(error); }

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD disposition, DWORD, HANDLE) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  int mode = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  mode |= O_CLOEXEC;

  int fd = -1;
  bool existed = false;
  switch (disposition) {
    case CREATE_NEW:
      fd = ::open(name, mode | O_CREAT | O_EXCL, 0666);
      break;
    case OPEN_EXISTING:
      fd = ::open(name, mode);
      break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      fd = ::open(name, mode | O_TRUNC);
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Create first, so that "existed" is exact even when another process races us.
      for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        fd = ::open(name, mode | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) break;
        fd = ::open(name, mode | (disposition == CREATE_ALWAYS ? O_TRUNC : 0));
        if (fd >= 0) existed = true;
        else if (errno != ENOENT) break;
      }
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (fd < 0) {
    SetLastError(OpenError(name, errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  const int statError = ::fstat(fd, &st) != 0 ? errno : 0;
  if (statError != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(statError != 0 ? Win32FromErrno(statError) : ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<FileObject>();
  file->fd = fd;
  file->canRead = read;
  file->canWrite = write;
  HANDLE h = platform::kernel::AddHandle(std::move(file));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string utf8 = platform::utf::ToUtf8(name);
  return CreateFileA(utf8.c_str(), access, share, security, disposition, flags, templateFile);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED*) {
  if (read) *read = 0;
  auto f = Lookup<FileObject>(file);
  if (!f) return FALSE;
  if (!f->canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (toRead > 0 && !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < toRead) {
    ssize_t n = ::read(f->fd, out + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read) *read = done;
      SetLastError(Win32FromErrno(errno));
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with a short count
    done += static_cast<DWORD>(n);
  }
  if (read) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED*) {
  if (written) *written = 0;
  auto f = Lookup<FileObject>(file);
  if (!f) return FALSE;
  if (!f->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (toWrite > 0 && !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (done < toWrite) {
    ssize_t n = ::write(f->fd, in + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = done;
      SetLastError(n < 0 ? Win32FromErrno(errno) : ERROR_DISK_FULL);
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  auto f = Lookup<FileObject>(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  // Without a high part the distance is a signed 32-bit value.
  std::int64_t move = distanceHigh
                          ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                                      static_cast<DWORD>(distance))
                          : static_cast<std::int64_t>(distance);
  std::int64_t base;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = ::lseek(f->fd, 0, SEEK_CUR);
      break;
    case FILE_END: {
      struct stat st;
      base = ::fstat(f->fd, &st) == 0 ? st.st_size : -1;
      break;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(Win32FromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t target;
  if (__builtin_add_overflow(base, move, &target) || target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  // A position that needs a high part cannot be reported without one.
  if (!distanceHigh && target > 0xFFFFFFFFll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (::lseek(f->fd, target, SEEK_SET) < 0) {
    SetLastError(Win32FromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
  SetLastError(ERROR_SUCCESS);  // 0xFFFFFFFF can be a real low part
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = Lookup<FileObject>(file);
  if (!f) return INVALID_FILE_SIZE;
  struct stat st;
  if (::fstat(f->fd, &st) != 0) {
    SetLastError(Win32FromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE handle) {
  if (!platform::kernel::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
  if (!name || !*name) {
    SetLastError(name ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::unlink(name) != 0) {
    SetLastError(OpenError(name, errno));
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return DeleteFileA(platform::utf::ToUtf8(name).c_str());
}
