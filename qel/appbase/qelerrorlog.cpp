#include "qel/appbase/qelerrorlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "errtext/hresult_description.h"
#include "errtext/hresult_name.h"
#include "platform/mm_timer.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qelfile.h"

C_ErrorLog g_ErrorLog;

namespace {
constexpr const char* kLogName = "ErrorLog.txt";
constexpr int kPrintfLimit = 1024;
}  // namespace

std::string C_ErrorLog::FormatLine(const std::string& text) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02u/%02u/%02u %02u:%02u:%02u", t.wMonth % 100u, t.wDay % 100u,
                t.wYear % 100u, t.wHour % 100u, t.wMinute % 100u, t.wSecond % 100u);
  // Built as a string: a long text is kept whole.
  return std::string(stamp) + " : " + text + "\r\n";
}

void C_ErrorLog::Emit(std::string line, const std::string& text, bool say) {
  bool written = true;
  if (m_nMode == kModeFile) {
    C_File file;
    written = file.Open(kLogName, false, OPEN_ALWAYS);
    if (written) {
      DWORD size = file.GetSize(nullptr);
      written = size != INVALID_FILE_SIZE &&
                file.Write(line.data(), static_cast<DWORD>(line.size()), static_cast<LONG>(size)) &&
                file.GetWrittenCount() == line.size();
    }
  }
  // A line the file cannot take (a read-only folder, a full disk) goes to
  // standard error, so that nothing is lost without a word; it is not said twice.
  if (!written) {
    const char* reason = HResultNameA(static_cast<HRESULT>(GetLastError()));
    line.resize(line.size() - 2);  // a plain line end on a terminal
    std::fprintf(stderr, "%s could not be written (%s): %s\n", kLogName, reason, line.c_str());
  } else if (say) {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void C_ErrorLog::Put(const std::string& text, bool say) {
  m_strLast = text;
  if (m_bDiscarding) return;
  if (m_bHolding) {
    m_Held.push_back({FormatLine(text), text, say});
    return;
  }
  Emit(FormatLine(text), text, say);
}

std::size_t C_ErrorLog::Discard() {
  m_bDiscarding = true;
  const std::size_t dropped = m_Held.size();
  m_Held.clear();
  return dropped;
}

void C_ErrorLog::Release() {
  std::vector<HeldLine> held;
  held.swap(m_Held);
  m_bHolding = m_bDiscarding = false;
  for (HeldLine& h : held) Emit(std::move(h.line), h.text, h.say);
}

std::int32_t C_ErrorLog::Write(const std::string& text) {
  Put(text, false);
  return 0;
}

std::int32_t C_ErrorLog::Report(const std::string& text) {
  Put(text, true);
  return 0;
}

std::int32_t C_ErrorLog::ReportOnce(const std::string& text) {
  return m_Reported.insert(text).second ? Report(text) : 0;
}

std::string SystemErrorText(DWORD error) {
  const char* description = HResultDescriptionA(static_cast<HRESULT>(error));
  std::string text = std::string(HResultNameA(static_cast<HRESULT>(error))) + " (" + std::to_string(error) + ")";
  if (std::strcmp(description, "n/a") != 0) text.append(" ").append(description);
  return text;
}

std::string ResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* description = HResultDescriptionA(hr);
  std::string text = std::string(HResultNameA(hr)) + " (" + code + ")";
  if (std::strcmp(description, "n/a") != 0) text.append(" ").append(description);
  return text;
}

std::int32_t C_ErrorLog::Printf(const char* format, ...) {
  char buf[kPrintfLimit + 1];
  va_list args;
  va_start(args, format);
  wvsprintfA(buf, format, args);
  va_end(args);
  buf[kPrintfLimit] = '\0';
  return Write(buf);
}

std::int32_t C_ErrorLog::WriteInt(std::int32_t n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", static_cast<int>(n));
  return Printf("%s", digits);
}
