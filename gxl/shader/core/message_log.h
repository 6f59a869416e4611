// The error and warning lines of one shader-tool run: per-code warning states,
// error counting, and the joined text handed to the caller.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "gxl/shader/core/messages.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/source_token.h"
#include "platform/win_types.h"

class DataBuffer;

#define GXL_SHADER_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))

// Reports a catalogue entry (messages.h) with its own code and severity; the
// arguments are checked against the entry's format at compile time. The entry is
// named as written in the catalogue (msg::kName): the format goes in as the
// literal array kNameFormat, the one form both g++ and clang check.
#define GXL_SHADER_REPORT(log, position, entry, ...) \
  (log).Report((position), (entry).severity, (entry).code, entry##Format __VA_OPT__(, ) __VA_ARGS__)

namespace gxl::shader {

// Warning-state words: bits 0-3 the level (0 disabled, 1-4, 15 = error).
constexpr std::uint32_t kWarningLevelMask = 15;
constexpr std::uint32_t kWarningAsError = 15;
constexpr std::uint32_t kWarningOnce = 16;
constexpr std::uint32_t kWarningShown = 32;
// The pseudo-state that returns a code to level 1 without "once".
constexpr std::uint32_t kWarningDefault = 255;

struct WarningStateChange {
  std::uint32_t code;
  std::uint32_t state;
};

class MessageLog {
 public:
  // A formatted line holds at most this many characters before its line feed.
  static constexpr std::size_t kMaxLineText = 4094;

  MessageLog();
  ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // Logs and counts an error line at the token's file and line; position may be null.
  void ReportError(const SourceToken* position, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(4, 5);
  // Logs a warning as the code's state decides: dropped, shown, or shown as an error.
  void ReportWarning(const SourceToken* position, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(4, 5);
  void Report(const SourceToken* position, MessageSeverity severity, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(5, 6);
  void VReport(const SourceToken* position, MessageSeverity severity, std::uint32_t code, const char* format,
               va_list args) GXL_SHADER_PRINTF(5, 0);

  // "syntax error : unexpected %s" as an error with the code, describing the token.
  void DescribeToken(std::uint32_t code, const SourceToken& token);

  // 0-4, else E_FAIL.
  HRESULT SetWarningLevel(std::uint32_t level);
  // state: a level 0-4 or 15, kWarningOnce or kWarningDefault. S_OK or E_OUTOFMEMORY.
  HRESULT SetWarningState(std::uint32_t code, std::uint32_t state);
  // Applies the pairs in order; the first failure stops and is returned.
  HRESULT ApplyWarningStates(const WarningStateChange* changes, std::size_t count);

  std::uint32_t ErrorCount() const { return m_errorCount; }
  std::uint32_t WarningCount() const { return m_warningCount; }
  std::uint32_t WarningLevel() const { return m_warningLevel; }

  // A new buffer of all lines, oldest first, ending in NUL; null when the log
  // holds no text. A null out-pointer does nothing.
  HRESULT JoinMessages(DataBuffer** out) const;

  // Drops every line and the counts, and forgets which codes were shown;
  // levels and "once" marks stay.
  void Reset();

  // The log at one point, to go back to: a compile that starts over takes
  // back what its first try said.
  struct Mark {
    std::size_t textLength = 0;
    std::uint32_t errors = 0, warnings = 0;
    PodArray<std::uint32_t> shown;  // codes whose warning was shown
  };
  // False without memory (the mark is then unusable).
  bool SetMark(Mark* mark) const;
  // Lines, counts and shown warnings as they were at the mark.
  void RollBack(const Mark& mark);

  // What the log said after a mark: a try taken back to make another, and
  // put back when the other fails.
  struct Said {
    PodArray<char> text;
    Mark end;  // counts and shown warnings after it
  };
  // False without memory.
  bool KeepSaid(const Mark& from, Said* said) const;
  // After a roll-back to the mark it was kept from: the log as it was when kept.
  bool PutBack(const Said& said);

 private:
  struct CodeState {
    std::uint32_t code;
    std::uint32_t state;
  };

  // The state of the code, created with level 1 when new; null without memory.
  CodeState* FindOrAddState(std::uint32_t code);
  void AppendLine(const SourceToken* position, const char* kind, std::uint32_t code, const char* format,
                  va_list args);
  bool StoreText(const char* text, std::size_t length);

  std::unique_ptr<char[]> m_text;  // all lines, oldest first, no terminator
  std::size_t m_textLength = 0;
  std::size_t m_textCapacity = 0;
  std::uint32_t m_errorCount = 0;
  std::uint32_t m_warningCount = 0;
  std::uint32_t m_warningLevel = 1;
  std::unique_ptr<CodeState[]> m_states;  // sorted by code
  std::size_t m_stateCount = 0;
  std::size_t m_stateCapacity = 0;
};

}  // namespace gxl::shader
