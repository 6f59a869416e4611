// What the fuzz targets share: the input as a file the readers can open by
// name (an anonymous memory file, so nothing touches the disk), a private
// working folder for the game's readers of fixed file names, and the input
// cut in parts.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "qel/appbase/qelerrorlog.h"

namespace nura::fuzz {

// Stops the run as a finding when a property the target checks does not hold.
inline void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
  }
}

// The bytes as a file, readable through Path() while the object lives.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) : m_fd(memfd_create("fuzz-input", 0)) {
    Require(m_fd >= 0, "memfd_create");
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = write(m_fd, data + done, size - done);
      Require(n > 0, "write to the memory file");
      done += static_cast<std::size_t>(n);
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
  }
  ~MemoryFile() { close(m_fd); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& Path() const { return m_path; }

 private:
  int m_fd;
  std::string m_path;
};

// For the game's readers, which open fixed names in the working folder and
// report to the error log: a fresh folder of the run's own (removed at exit)
// becomes the working folder, and the log is silenced, since it would gain
// lines at every execution. The folder is in shared memory where there is
// one: on a disk, rewriting the files at every execution waits for the
// disk's write-back (milliseconds each on a busy machine, ten times the
// execution itself).
inline void EnterGameFolder() {
  // Never destroyed, so the exit handler that removes the folder can still
  // read its path: a static's destructor runs before a handler registered
  // while the static was being made.
  static const std::filesystem::path& folder = *new std::filesystem::path([] {
    std::error_code error;
    const std::filesystem::path parent = std::filesystem::is_directory("/dev/shm", error)
                                             ? std::filesystem::path("/dev/shm")
                                             : std::filesystem::temp_directory_path();
    std::string pattern = (parent / "nura-fuzz-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
      std::filesystem::remove_all(folder, ignored);
    });
    return pattern;
  }());
  std::filesystem::current_path(folder);
  g_ErrorLog.SetMode(0);
}

// Removes everything the previous execution left in the working folder, so
// each input starts from an empty game folder (files kept aside pile up
// otherwise, and the game rightly stops keeping them after a thousand).
inline void EmptyGameFolder() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(".", error))
    std::filesystem::remove_all(entry.path(), error);
}

// Writes the bytes as a file of the working folder.
inline void PutFile(const char* name, std::string_view bytes) {
  std::FILE* f = std::fopen(name, "wb");
  Require(f != nullptr, "create a file in the work folder");
  Require(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(), "write a file in the work folder");
  std::fclose(f);
}

// The input in parts: the text before the first NUL byte and the rest.
inline std::pair<std::string_view, std::string_view> SplitAtNul(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = all.find('\0');
  if (nul == std::string_view::npos) return {all, {}};
  return {all.substr(0, nul), all.substr(nul + 1)};
}

}  // namespace nura::fuzz
