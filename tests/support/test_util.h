// Small helpers shared by the test programs.
#pragma once

#include <locale.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nura::test {

// A fresh folder under the test's build folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Makes the folder the working folder for the scope.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  std::string m_previous;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const void* data, size_t size);
inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
  WriteFileBytes(path, data.data(), data.size());
}
inline void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, text.data(), text.size());
}

// UTF-8 text (characters of the Basic Multilingual Plane only) as UTF-16, for wide paths.
inline std::u16string Utf16(const std::string& utf8) {
  std::u16string wide;
  for (const char* p = utf8.c_str(); *p;) {
    const auto c = static_cast<unsigned char>(*p);
    const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : 2;
    char16_t u = static_cast<char16_t>(extra == 0 ? c : extra == 1 ? c & 0x1F : c & 0x0F);
    for (int i = 1; i <= extra; ++i) u = static_cast<char16_t>(u << 6 | (p[i] & 0x3F));
    wide += u;
    p += 1 + extra;
  }
  return wide;
}

// Runs a shell command; returns its exit status (-1 when it did not exit) and,
// when asked, its standard output. Its standard error is kept apart from the
// output: in *errors when asked, else printed with the command and the status
// on the test's standard error when the command fails.
int RunCommand(const std::string& command, std::string* output = nullptr, std::string* errors = nullptr);
// Runs a command that must succeed; false, with a test failure naming the
// command, its status and its standard error, when it does not exit with 0.
bool RunTool(const std::string& command, std::string* output = nullptr);
// True when the program is on PATH.
bool HaveTool(const std::string& name);

// A locale whose decimal separator is a comma (de_DE.UTF-8, made with
// localedef in dir when the system lacks it); null when the tools are missing.
locale_t MakeCommaDecimalLocale(const TempDir& dir);

// File permissions count for the scope: root, which ignores them, reaches files
// as the user "nobody" (file-system uid 65534) on this thread.
class AsNobody {
 public:
  explicit AsNobody(bool wanted = true);
  ~AsNobody();
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;

 private:
  bool m_bRoot;
};

// NURA_LONG=1 (any value but empty or 0) asks the long randomized validations
// for their full size, run before an issue is resolved; without it each runs a
// share of a few seconds, sized for the sanitizer build of every CI run.
bool LongMode();
// `full` in the long mode, else `share`: the size knob of a long validation.
inline int LongOrShare(int full, int share) { return LongMode() ? full : share; }

// The source tree's root (for test data kept in the tree).
std::string SourceDir();
// The folder the current test program was built in (for files tests leave behind).
std::string BinaryDir();

}  // namespace nura::test
