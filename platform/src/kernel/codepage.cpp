// Code pages and the per-thread last error.
#include <cstring>

#include "kernel/utf.h"
#include "platform/win_kernel.h"

namespace {
thread_local DWORD t_lastError = 0;

bool IsUtf8CodePage(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_THREAD_ACP || cp == CP_UTF8; }
}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

UINT GetACP() { return CP_UTF8; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out, int outChars) {
  if (!IsUtf8CodePage(codePage) || !text || bytes == 0 || outChars < 0 || (outChars > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A length of -1 takes the terminator along.
  size_t n = bytes < 0 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
  bool invalid = false;
  std::u16string w = platform::utf::ToUtf16(text, n, &invalid);
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
    return 0;
  }
  if (outChars == 0) return static_cast<int>(w.size());
  if (w.size() > static_cast<size_t>(outChars)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, w.data(), w.size() * sizeof(char16_t));
  return static_cast<int>(w.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int chars, LPSTR out, int outBytes, LPCSTR,
                        BOOL* usedDefault) {
  if (!IsUtf8CodePage(codePage) || !text || chars == 0 || outBytes < 0 || (outBytes > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = static_cast<size_t>(chars);
  if (chars < 0) {
    n = 0;
    while (text[n]) ++n;
    ++n;  // the terminator
  }
  bool lossy = false;
  std::string s = platform::utf::ToUtf8(text, n, &lossy);
  if (usedDefault) *usedDefault = lossy ? TRUE : FALSE;
  if (outBytes == 0) return static_cast<int>(s.size());
  if (s.size() > static_cast<size_t>(outBytes)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, s.data(), s.size());
  return static_cast<int>(s.size());
}
