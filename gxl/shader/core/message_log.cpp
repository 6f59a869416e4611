#include "gxl/shader/core/message_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "gxl/tex/data_buffer.h"

namespace gxl::shader {

namespace {

// Lines past this much text are still counted but no longer kept, so that a
// small source that reports without end cannot exhaust memory.
constexpr std::size_t kMaxTotalText = std::size_t{16} << 20;

// Formats the pieces of one line; a piece that overflows fills the room.
class LineWriter {
 public:
  explicit LineWriter(char* buffer) : m_buffer(buffer) { m_buffer[0] = '\0'; }

  void Print(const char* format, ...) GXL_SHADER_PRINTF(2, 3) {
    va_list args;
    va_start(args, format);
    VPrint(format, args);
    va_end(args);
  }
  void VPrint(const char* format, va_list args) GXL_SHADER_PRINTF(2, 0) {
    const std::size_t room = MessageLog::kMaxLineText - m_used;
    const int n = std::vsnprintf(m_buffer + m_used, room + 1, format, args);
    if (n < 0) {
      m_buffer[m_used] = '\0';
      return;
    }
    m_used += std::min(static_cast<std::size_t>(n), room);
  }
  // Adds the line feed and the terminator, which always fit; the length without the terminator.
  std::size_t Finish() {
    m_buffer[m_used++] = '\n';
    m_buffer[m_used] = '\0';
    return m_used;
  }

 private:
  char* m_buffer;
  std::size_t m_used = 0;
};

void Describe(char (&out)[256], const char* format, ...) GXL_SHADER_PRINTF(2, 3);
void Describe(char (&out)[256], const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(out, sizeof out, format, args);
  va_end(args);
}

}  // namespace

MessageLog::MessageLog() = default;
MessageLog::~MessageLog() = default;

void MessageLog::ReportError(const SourceToken* position, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(position, MessageSeverity::Error, code, format, args);
  va_end(args);
}

void MessageLog::ReportWarning(const SourceToken* position, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(position, MessageSeverity::Warning, code, format, args);
  va_end(args);
}

void MessageLog::Report(const SourceToken* position, MessageSeverity severity, std::uint32_t code,
                        const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(position, severity, code, format, args);
  va_end(args);
}

void MessageLog::VReport(const SourceToken* position, MessageSeverity severity, std::uint32_t code,
                         const char* format, va_list args) {
  if (severity == MessageSeverity::Error) {
    ++m_errorCount;
    AppendLine(position, "error", code, format, args);
    return;
  }
  CodeState* entry = FindOrAddState(code);
  if (!entry) return;
  const std::uint32_t level = entry->state & kWarningLevelMask;
  if (level == kWarningAsError) {
    ++m_errorCount;
    AppendLine(position, "error", code, format, args);
    return;
  }
  const bool onceShown = (entry->state & (kWarningOnce | kWarningShown)) == (kWarningOnce | kWarningShown);
  if (m_warningLevel == 0 || level == 0 || m_warningLevel < level || onceShown) return;
  entry->state |= kWarningShown;
  ++m_warningCount;
  AppendLine(position, "warning", code, format, args);
}

void MessageLog::AppendLine(const SourceToken* position, const char* kind, std::uint32_t code,
                            const char* format, va_list args) {
  char line[kMaxLineText + 2];
  LineWriter writer(line);
  if (position) {
    if (position->file) writer.Print("%s", position->file);
    writer.Print("(%u): ", position->line ? position->line : 1u);
  }
  if (code != 0) writer.Print("%s X%u: ", kind, code);
  writer.VPrint(format, args);
  const std::size_t length = writer.Finish();
  StoreText(line, length);
}

bool MessageLog::StoreText(const char* text, std::size_t length) {
  if (length > kMaxTotalText - m_textLength) return false;
  if (m_textLength + length > m_textCapacity) {
    const std::size_t capacity = std::min(kMaxTotalText, std::max(m_textCapacity * 2, m_textLength + length + 256));
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
    if (!grown) return false;
    if (m_textLength) std::memcpy(grown.get(), m_text.get(), m_textLength);
    m_text = std::move(grown);
    m_textCapacity = capacity;
  }
  std::memcpy(m_text.get() + m_textLength, text, length);
  m_textLength += length;
  return true;
}

void MessageLog::DescribeToken(std::uint32_t code, const SourceToken& token) {
  char description[256];
  const SourceToken::Value& v = token.value;
  switch (token.kind) {
    case kTokenVersion: Describe(description, "version token"); break;
    case kTokenPunctuator: Describe(description, "token '%.3s'", v.punctuator); break;
    case kTokenInt: Describe(description, "integer '%u'", v.number); break;
    case kTokenIntL: Describe(description, "integer '%dl'", static_cast<int>(v.number)); break;
    case kTokenIntU: Describe(description, "integer '%uul'", v.number); break;
    case kTokenFloat: Describe(description, "float '%g'", v.real); break;
    case kTokenFloatH: Describe(description, "float '%gh'", v.real); break;
    case kTokenFloatF: Describe(description, "float '%gf'", v.real); break;
    case kTokenFloatL: Describe(description, "float '%gl'", v.real); break;
    case kTokenIdentifier: Describe(description, "token '%s'", v.text ? v.text : ""); break;
    case kTokenString: Describe(description, "string constant"); break;
    case kTokenEndOfLine: Describe(description, "end of line"); break;
    case kTokenEndOfInput: Describe(description, "end of file"); break;
    default: Describe(description, "token"); break;
  }
  ReportError(&token, code, "syntax error : unexpected %s", description);
}

HRESULT MessageLog::SetWarningLevel(std::uint32_t level) {
  if (level > 4) return E_FAIL;
  m_warningLevel = level;
  return S_OK;
}

HRESULT MessageLog::SetWarningState(std::uint32_t code, std::uint32_t state) {
  CodeState* entry = FindOrAddState(code);
  if (!entry) return E_OUTOFMEMORY;
  if (state == kWarningDefault)
    entry->state = 1 | (entry->state & kWarningShown);
  else if (state == kWarningOnce)
    entry->state |= kWarningOnce;
  else
    entry->state = (entry->state & ~kWarningLevelMask) | (state & kWarningLevelMask);
  return S_OK;
}

HRESULT MessageLog::ApplyWarningStates(const WarningStateChange* changes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const HRESULT hr = SetWarningState(changes[i].code, changes[i].state);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

MessageLog::CodeState* MessageLog::FindOrAddState(std::uint32_t code) {
  CodeState* begin = m_states.get();
  CodeState* end = begin + m_stateCount;
  CodeState* at = std::lower_bound(begin, end, code, [](const CodeState& s, std::uint32_t c) { return s.code < c; });
  if (at != end && at->code == code) return at;
  const std::size_t index = static_cast<std::size_t>(at - begin);
  if (m_stateCount == m_stateCapacity) {
    const std::size_t capacity = m_stateCapacity ? m_stateCapacity * 2 : 1;
    std::unique_ptr<CodeState[]> grown(new (std::nothrow) CodeState[capacity]);
    if (!grown) return nullptr;
    std::copy(begin, end, grown.get());
    m_states = std::move(grown);
    m_stateCapacity = capacity;
  }
  CodeState* states = m_states.get();
  std::copy_backward(states + index, states + m_stateCount, states + m_stateCount + 1);
  states[index] = {code, 1};
  ++m_stateCount;
  return &states[index];
}

HRESULT MessageLog::JoinMessages(DataBuffer** out) const {
  if (!out) return S_OK;
  *out = nullptr;
  if (m_textLength == 0) return S_OK;
  DataBuffer* buffer = nullptr;
  const HRESULT hr = CreateDataBuffer(static_cast<DWORD>(m_textLength + 1), &buffer);
  if (FAILED(hr)) return hr;
  auto* bytes = static_cast<char*>(buffer->GetPointer());
  std::memcpy(bytes, m_text.get(), m_textLength);
  bytes[m_textLength] = '\0';
  *out = buffer;
  return S_OK;
}

void MessageLog::Reset() {
  m_text.reset();
  m_textLength = 0;
  m_textCapacity = 0;
  m_errorCount = 0;
  m_warningCount = 0;
  for (std::size_t i = 0; i < m_stateCount; ++i) m_states[i].state &= ~kWarningShown;
}

bool MessageLog::SetMark(Mark* mark) const {
  mark->textLength = m_textLength;
  mark->errors = m_errorCount;
  mark->warnings = m_warningCount;
  mark->shown.Clear();
  for (std::size_t i = 0; i < m_stateCount; ++i)
    if ((m_states[i].state & kWarningShown) && !mark->shown.Append(m_states[i].code)) return false;
  return true;
}

void MessageLog::RollBack(const Mark& mark) {
  if (mark.textLength < m_textLength) m_textLength = mark.textLength;
  m_errorCount = mark.errors;
  m_warningCount = mark.warnings;
  const std::uint32_t* begin = mark.shown.Data();
  const std::uint32_t* end = begin + mark.shown.Size();
  for (std::size_t i = 0; i < m_stateCount; ++i)
    if (std::find(begin, end, m_states[i].code) == end) m_states[i].state &= ~kWarningShown;
}

bool MessageLog::KeepSaid(const Mark& from, Said* said) const {
  said->text.Clear();
  const std::size_t length = m_textLength - std::min(from.textLength, m_textLength);
  if (length && !said->text.Append(m_text.get() + m_textLength - length, length)) return false;
  return SetMark(&said->end);
}

bool MessageLog::PutBack(const Said& said) {
  if (!said.text.Empty() && !StoreText(said.text.Data(), said.text.Size())) return false;
  m_errorCount = said.end.errors;
  m_warningCount = said.end.warnings;
  for (std::size_t i = 0; i < said.end.shown.Size(); ++i) {
    CodeState* state = FindOrAddState(said.end.shown[i]);
    if (!state) return false;
    state->state |= kWarningShown;
  }
  return true;
}

}  // namespace gxl::shader
