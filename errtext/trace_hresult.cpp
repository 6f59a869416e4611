#include "errtext/trace_hresult.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "errtext/bounded_text.h"
#include "errtext/hresult_name.h"
#include "platform/win_kernel.h"
#include "platform/win_user.h"

namespace {

using errtext::detail::BoundedAppend;
using errtext::detail::BoundedCopy;
using errtext::detail::BoundedLength;

// Capacities of the call's own buffers, in characters of the trace's width;
// the file text holds 8-bit characters in both widths.
constexpr std::size_t kLineChars = 128;
constexpr std::size_t kOutputChars = 3000;
constexpr std::size_t kCodeChars = 256;
constexpr std::size_t kFileChars = 260;
constexpr std::size_t kCallingChars = 1024;
// A message with no terminator this far in counts as absent.
constexpr std::size_t kMessageScan = 1024;

// A literal in the width of the trace at hand.
template <typename Char>
constexpr const Char* Pick(const char* narrow, const char16_t* wide);
template <>
constexpr const char* Pick<char>(const char* narrow, const char16_t*) {
  return narrow;
}
template <>
constexpr const char16_t* Pick<char16_t>(const char*, const char16_t* wide) {
  return wide;
}
#define TRACE_TEXT(s) Pick<Char>(s, u"" s)

void SendDebug(const char* text) { OutputDebugStringA(text); }
void SendDebug(const char16_t* text) { OutputDebugStringW(text); }

int ShowBox(HWND owner, const char* text, const char* caption, UINT type) {
  return MessageBoxA(owner, text, caption, type);
}
int ShowBox(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  return MessageBoxW(owner, text, caption, type);
}

template <typename Char>
const Char* NameOf(HRESULT hr);
template <>
const char* NameOf<char>(HRESULT hr) {
  return HResultNameA(hr);
}
template <>
const char16_t* NameOf<char16_t>(HRESULT hr) {
  return HResultNameW(hr);
}

// Appends 8-bit text; a UTF-16 buffer gets it widened from the 8-bit code page.
template <std::size_t N>
void AppendNarrow(char (&out)[N], const char* text) {
  BoundedAppend(out, text);
}

template <std::size_t N>
void AppendNarrow(char16_t (&out)[N], const char* text) {
  // No UTF-16 unit takes more than three bytes, so a longer text is cut anyway;
  // the slack keeps a sequence split at the end clear of the units that stay.
  std::size_t bytes = strnlen(text, 3 * N + 4);
  if (bytes == 0) return;
  int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), nullptr, 0);
  if (units <= 0) return;
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), wide.data(), units) != units) return;
  BoundedAppend(out, wide.c_str());
}

template <typename Char>
HRESULT Trace(const char* file, DWORD line, HRESULT hr, const Char* message, BOOL showBox) {
  Char lineText[kLineChars] = {};
  Char output[kOutputChars] = {};
  Char codeText[kCodeChars] = {};

  // The line number is a 32-bit value printed signed, whatever `long` is here.
  char number[16];
  std::snprintf(number, sizeof number, "%ld", static_cast<long>(static_cast<LONG>(line)));
  AppendNarrow(lineText, number);

  if (file) {
    AppendNarrow(output, file);
    BoundedAppend(output, TRACE_TEXT("("));
    BoundedAppend(output, lineText);
    BoundedAppend(output, TRACE_TEXT("): "));
    SendDebug(output);
  }

  std::size_t messageLength = 0;
  if (!message || !BoundedLength(message, kMessageScan, &messageLength)) messageLength = 0;
  if (messageLength > 0) {
    SendDebug(message);
    SendDebug(TRACE_TEXT(" "));
  }

  char value[16];
  std::snprintf(value, sizeof value, " (0x%08x)", static_cast<unsigned>(hr));
  BoundedCopy(codeText, NameOf<Char>(hr));
  AppendNarrow(codeText, value);

  BoundedCopy(output, TRACE_TEXT("hr="));
  BoundedAppend(output, codeText);
  SendDebug(output);
  SendDebug(TRACE_TEXT("\n"));

  if (showBox) {
    char fileText[kFileChars] = {};
    if (file) BoundedCopy(fileText, file);
    Char callingText[kCallingChars] = {};
    if (messageLength > 0) {
      BoundedAppend(callingText, TRACE_TEXT("Calling: "));
      BoundedAppend(callingText, message);
      BoundedAppend(callingText, TRACE_TEXT("\n"));
    }

    BoundedCopy(output, TRACE_TEXT("File: "));
    AppendNarrow(output, fileText);
    BoundedAppend(output, TRACE_TEXT("\nLine: "));
    BoundedAppend(output, lineText);
    BoundedAppend(output, TRACE_TEXT("\nError Code: "));
    BoundedAppend(output, codeText);
    BoundedAppend(output, TRACE_TEXT("\n"));
    BoundedAppend(output, callingText);
    BoundedAppend(output, TRACE_TEXT("Do you want to debug the application?"));

    HWND owner = GetForegroundWindow();
    if (ShowBox(owner, output, TRACE_TEXT("Unexpected error encountered"), MB_YESNO | MB_ICONERROR) == IDYES) {
      DebugBreak();
    }
  }
  return hr;
}

#undef TRACE_TEXT

}  // namespace

HRESULT TraceHResultA(const char* file, DWORD line, HRESULT hr, const char* message, BOOL showBox) {
  return Trace<char>(file, line, hr, message, showBox);
}

HRESULT TraceHResultW(const char* file, DWORD line, HRESULT hr, const WCHAR* message, BOOL showBox) {
  return Trace<char16_t>(file, line, hr, message, showBox);
}
