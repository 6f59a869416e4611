// Text utilities with the original's semantics: wsprintfA writes at most 1,024
// bytes and reads `l` arguments as 32-bit values; lstrcmpiA folds ASCII only.
#include <cstdio>
#include <cstring>
#include <string>

#include "kernel/utf.h"
#include "platform/win_kernel.h"

namespace {

constexpr size_t kWsprintfLimit = 1024;  // bytes, the terminator included

// One conversion, formatted by the C library with an argument of the exact
// width the caller passed.
void Convert(std::string& out, std::string piece, char conv, bool wide, bool is64, va_list& args) {
  char buf[512];
  int n = 0;
  switch (conv) {
    case 'd':
    case 'i':
      if (is64) {
        piece += "lld";
        n = std::snprintf(buf, sizeof buf, piece.c_str(), static_cast<long long>(va_arg(args, std::int64_t)));
      } else {
        piece += 'd';
        n = std::snprintf(buf, sizeof buf, piece.c_str(), static_cast<int>(va_arg(args, std::int32_t)));
      }
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      if (is64) {
        piece += "ll";
        piece += conv;
        n = std::snprintf(buf, sizeof buf, piece.c_str(), static_cast<unsigned long long>(va_arg(args, std::uint64_t)));
      } else {
        piece += conv;
        n = std::snprintf(buf, sizeof buf, piece.c_str(), static_cast<unsigned>(va_arg(args, std::uint32_t)));
      }
      break;
    case 'p':
      piece += "lX";
      n = std::snprintf(buf, sizeof buf, piece.c_str(), static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(va_arg(args, void*))));
      break;
    case 'c': {
      int c = va_arg(args, int);
      std::string text;
      if (wide) {
        char16_t w = static_cast<char16_t>(c);
        text = platform::utf::ToUtf8(&w, 1);
      } else {
        text.assign(1, static_cast<char>(c));
      }
      piece += 's';
      n = std::snprintf(buf, sizeof buf, piece.c_str(), text.c_str());
      break;
    }
    case 's': {
      std::string text;
      if (wide) {
        const char16_t* w = va_arg(args, const char16_t*);
        text = w ? platform::utf::ToUtf8(w) : "(null)";
      } else {
        const char* s = va_arg(args, const char*);
        text = s ? s : "(null)";
      }
      piece += 's';
      // Long strings bypass the fixed buffer.
      int len = std::snprintf(nullptr, 0, piece.c_str(), text.c_str());
      if (len > 0) {
        std::string tmp(static_cast<size_t>(len) + 1, '\0');
        std::snprintf(tmp.data(), tmp.size(), piece.c_str(), text.c_str());
        tmp.pop_back();
        out += tmp;
      }
      return;
    }
    default:
      out += conv;  // unknown conversions print their letter
      return;
  }
  if (n > 0) out.append(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

}  // namespace

int wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
  if (!out) return 0;
  if (!format) {
    out[0] = '\0';
    return 0;
  }
  va_list ap;
  va_copy(ap, args);
  std::string result;
  for (const char* p = format; *p && result.size() < kWsprintfLimit;) {
    if (*p != '%') {
      result += *p++;
      continue;
    }
    ++p;
    if (*p == '%') {
      result += *p++;
      continue;
    }
    std::string piece = "%";
    while (*p && std::strchr("-+ #0", *p)) piece += *p++;
    if (*p == '*') {
      piece += std::to_string(va_arg(ap, int));
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') piece += *p++;
    }
    if (*p == '.') {
      piece += *p++;
      if (*p == '*') {
        piece += std::to_string(va_arg(ap, int));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') piece += *p++;
      }
    }
    bool wide = false, is64 = false, narrow = false;
    for (;;) {
      if (*p == 'l') {
        wide = true;  // 32-bit integers; wide text for s and c
        ++p;
      } else if (*p == 'h') {
        narrow = true;
        ++p;
      } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        is64 = true;
        p += 3;
      } else {
        break;
      }
    }
    if (!*p) break;
    char conv = *p++;
    if (conv == 'S' || conv == 'C') {
      wide = !narrow;
      conv = static_cast<char>(conv - 'A' + 'a');
    } else if (narrow) {
      wide = false;
    }
    Convert(result, piece, conv, wide, is64, ap);
  }
  va_end(ap);
  if (result.size() > kWsprintfLimit - 1) result.resize(kWsprintfLimit - 1);
  std::memcpy(out, result.c_str(), result.size() + 1);
  return static_cast<int>(result.size());
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(out, format, args);
  va_end(args);
  return n;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  for (;; ++a, ++b) {
    auto ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
}

int lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

int lstrlenW(LPCWSTR text) {
  if (!text) return 0;
  int n = 0;
  while (text[n]) ++n;
  return n;
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  bool negative = (product < 0) != (denominator < 0);
  std::uint64_t p = product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  std::uint64_t d = denominator < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(denominator))
                                    : static_cast<std::uint64_t>(denominator);
  std::uint64_t q = (2 * p + d) / (2 * d);  // halves away from zero
  if (q > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return -1;
  return negative ? static_cast<int>(0 - static_cast<std::int64_t>(q)) : static_cast<int>(q);
}
