// Appends time-stamped lines "MM/DD/YY HH:MM:SS : text" (CR LF) to
// "ErrorLog.txt" in the working folder. The file is opened for each line; a
// line the file cannot take goes to standard error instead. Failures the user
// must hear of (a file that cannot be read or written) are reported: logged
// and said on standard error, once per text.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/win_types.h"

class C_ErrorLog {
 public:
  static constexpr std::int32_t kModeFile = 1;

  C_ErrorLog() = default;
  virtual ~C_ErrorLog() = default;

  std::int32_t Write(const std::string& text);
  // printf-style, at most 1,024 characters of text.
  std::int32_t Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::int32_t WriteInt(std::int32_t n);
  // Writes the line and says its text on standard error.
  std::int32_t Report(const std::string& text);
  // The same, unless the text was reported once before: files are read again
  // and again (an effect at each play), and a missing one must not fill the log.
  std::int32_t ReportOnce(const std::string& text);
  // ReportOnce says texts reported before again.
  void ForgetReports() { m_Reported.clear(); }
  // Lines are kept back (from the file and stderr) until Release: a program
  // started in the wrong folder must leave no log there and say it in one line.
  void Hold() { m_bHolding = true; }
  // Drops the lines kept back, and every later one until Release; the number
  // dropped so far.
  std::size_t Discard();
  // Writes the lines kept back, in order, unless discarded, and ends holding.
  void Release();
  // True while lines are kept back and neither released nor discarded.
  bool Holding() const { return m_bHolding && !m_bDiscarding; }
  // 1: append to the file; any other value: no output.
  std::int32_t SetMode(std::int32_t mode) {
    m_nMode = mode;
    return 0;
  }
  std::string GetLastText() const { return m_strLast; }

  // The line Write appends for text at the current local time.
  static std::string FormatLine(const std::string& text);

 private:
  struct HeldLine {
    std::string line;  // as formatted when it came
    std::string text;
    bool say;          // also on stderr
  };

  // Logs the text, and says it on stderr when say is set.
  void Put(const std::string& text, bool say);
  // Writes one formatted line and says its text; false when the log file
  // could not take the line (which then went to stderr).
  void Emit(std::string line, const std::string& text, bool say);

  std::int32_t m_nMode = kModeFile;
  std::string m_strLast;
  std::set<std::string> m_Reported;
  bool m_bHolding = false;
  bool m_bDiscarding = false;
  std::vector<HeldLine> m_Held;
};

// The system's reason for a Win32 error code: "ERROR_ACCESS_DENIED (5) Access is denied."
std::string SystemErrorText(DWORD error);
// The same for a failure code: "VFW_E_NOT_FOUND (0x80040216) ..."
std::string ResultText(HRESULT hr);

extern C_ErrorLog g_ErrorLog;
