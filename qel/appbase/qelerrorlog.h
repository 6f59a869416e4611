// Appends time-stamped lines "MM/DD/YY HH:MM:SS : text" (CR LF) to
// "ErrorLog.txt" in the working folder. The file is opened for each line; a
// line the file cannot take goes to standard error instead.
#pragma once

#include <cstdint>
#include <string>

class C_ErrorLog {
 public:
  static constexpr std::int32_t kModeFile = 1;

  C_ErrorLog() = default;
  virtual ~C_ErrorLog() = default;

  std::int32_t Write(const std::string& text);
  // printf-style, at most 1,024 characters of text.
  std::int32_t Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::int32_t WriteInt(std::int32_t n);
  // 1: append to the file; any other value: no output.
  std::int32_t SetMode(std::int32_t mode) {
    m_nMode = mode;
    return 0;
  }
  std::string GetLastText() const { return m_strLast; }

  // The line Write appends for text at the current local time.
  static std::string FormatLine(const std::string& text);

 private:
  std::int32_t m_nMode = kModeFile;
  std::string m_strLast;
};

extern C_ErrorLog g_ErrorLog;
