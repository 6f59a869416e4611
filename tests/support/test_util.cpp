#include "tests/support/test_util.h"

#include <sys/fsuid.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace nura::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  fs::path base = fs::temp_directory_path() / "nura-tests";
  fs::create_directories(base);
  for (;;) {
    // Appended piece by piece: g++ 12 warns falsely about "t" + std::string at -O2.
    std::string name = "t";
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(counter++);
    fs::path p = base / name;
    if (fs::create_directory(p)) {
      m_path = p.string();
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

ScopedChdir::ScopedChdir(const std::string& dir) : m_previous(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedChdir::~ScopedChdir() {
  std::error_code ec;
  fs::current_path(m_previous, ec);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

int RunCommand(const std::string& command, std::string* output, std::string* errors) {
  // Standard error goes to a file of its own, so that a tool's complaint never
  // lands in the output (or in a file the command redirects into) unseen.
  char errorPath[] = "/tmp/nura-stderr-XXXXXX";
  const int fd = mkstemp(errorPath);
  if (fd < 0) return -1;
  close(fd);
  // The newline ends a command that ends in a comment.
  const std::string wrapped = "(" + command + "\n) 2>'" + errorPath + "'";
  int status = -1;
  if (FILE* p = popen(wrapped.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
      if (output) output->append(buf, n);
    const int raw = pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string printed;
  {
    std::ifstream in(errorPath, std::ios::binary);
    printed.assign(std::istreambuf_iterator<char>(in), {});
  }
  unlink(errorPath);
  if (errors)
    *errors += printed;
  else if (status != 0)
    std::fprintf(stderr, "command exited with %d: %s\n%s", status, command.c_str(), printed.c_str());
  return status;
}

bool RunTool(const std::string& command, std::string* output) {
  std::string errors;
  const int status = RunCommand(command, output, &errors);
  if (status == 0) return true;
  ADD_FAILURE() << "command exited with " << status << ": " << command << "\n" << errors;
  return false;
}

bool LongMode() {
  const char* value = std::getenv("NURA_LONG");
  return value && *value && std::string(value) != "0";
}

AsNobody::AsNobody(bool wanted) : m_bRoot(wanted && geteuid() == 0) {
  if (m_bRoot) setfsuid(65534);
}

AsNobody::~AsNobody() {
  if (m_bRoot) setfsuid(0);
}

bool HaveTool(const std::string& name) {
  std::string errors;
  return RunCommand("command -v '" + name + "' >/dev/null", nullptr, &errors) == 0;
}

locale_t MakeCommaDecimalLocale(const TempDir& dir) {
  locale_t de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (de) return de;
  if (!HaveTool("localedef")) return nullptr;
  std::string errors;
  RunCommand("localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8") + "' >/dev/null", nullptr, &errors);
  setenv("LOCPATH", dir.path().c_str(), 1);
  de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  unsetenv("LOCPATH");
  return de;
}

std::string SourceDir() { return NURA_SOURCE_DIR; }
std::string BinaryDir() { return fs::current_path().string(); }

}  // namespace nura::test
