// Paths, the program's own file name and integers from INI files.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/ascii.h"
#include "platform/win_kernel.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string WorkingFolder() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return buf.data();
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
}

// Lexical normalisation: both separators, '.' and '..' resolved, '/' out.
std::string FullPath(const std::string& name) {
  std::string joined = IsSeparator(name[0]) ? name : WorkingFolder() + "/" + name;
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (char c : joined) {
    if (IsSeparator(c)) flush();
    else part.push_back(c);
  }
  const bool trailing = IsSeparator(joined.back());
  flush();
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  if (out.empty() || trailing) out += "/";
  return out;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const char* b) { return platform::ascii::SameNoCase(a, b); }

}  // namespace

DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart) {
  if (filePart) *filePart = nullptr;
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!*name) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full = FullPath(name);
  if (full.size() >= size || !buffer) return static_cast<DWORD>(full.size() + 1);  // needed size
  std::memcpy(buffer, full.c_str(), full.size() + 1);
  if (filePart && full.back() != '/') *filePart = buffer + full.rfind('/') + 1;
  return static_cast<DWORD>(full.size());
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module && module != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_MOD_NOT_FOUND);  // stand-in modules have no files
    return 0;
  }
  std::vector<char> path(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  auto len = static_cast<DWORD>(n);
  if (len >= size) {
    // Truncated to size - 1 characters and terminated; the result is the size.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.data(), len);
  buffer[len] = '\0';
  SetLastError(ERROR_SUCCESS);
  return len;
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  const UINT fallback = static_cast<UINT>(defaultValue);
  if (!section || !key || !fileName) return fallback;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return fallback;
  std::string line;
  bool inSection = false;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      if (inSection) return fallback;  // the first matching section is the one read
      inSection = close != std::string::npos && SameText(Trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos || !SameText(Trim(t.substr(0, eq)), key)) continue;
    std::string value = Trim(t.substr(eq + 1));
    if (value.empty()) return fallback;
    if (value[0] == '-') return 0;  // no negative values
    size_t i = value[0] == '+' ? 1 : 0;
    UINT result = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i)
      result = result * 10u + static_cast<UINT>(value[i] - '0');
    return result;
  }
  return fallback;
}
