// ASCII case folding for the names the platform compares without regard to
// case (window classes, registry keys, modules, font faces, INI keys, script
// words). Bytes outside A-Z are left as they are, so UTF-8 passes through.
#pragma once

#include <string>
#include <string_view>

namespace platform::ascii {

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Fold(std::string s) {
  for (char& c : s) c = Lower(c);
  return s;
}

constexpr bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace platform::ascii
