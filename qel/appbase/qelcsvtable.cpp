#include "qel/appbase/qelcsvtable.h"

#include "platform/win_kernel.h"
#include "qel/appbase/qelerrorlog.h"

namespace {
constexpr char kCR = 13;
constexpr char kLF = 10;
constexpr char kComma = ',';

// Reads a file in blocks and hands out one byte at a time.
class ByteReader {
 public:
  explicit ByteReader(HANDLE file) : m_file(file) {}
  // -1 at the end of the file or on a read error.
  int Next() {
    if (m_pos == m_len) {
      DWORD got = 0;
      if (!ReadFile(m_file, m_buf, sizeof m_buf, &got, nullptr)) {
        m_error = GetLastError();
        return -1;
      }
      if (got == 0) return -1;
      m_len = got;
      m_pos = 0;
    }
    return static_cast<unsigned char>(m_buf[m_pos++]);
  }
  int Peek() {
    int c = Next();
    if (c >= 0) --m_pos;
    return c;
  }
  // The system's error when a read failed, else 0.
  DWORD Error() const { return m_error; }

 private:
  HANDLE m_file;
  DWORD m_error = 0;
  char m_buf[4096];
  DWORD m_len = 0;
  DWORD m_pos = 0;
};
}  // namespace

std::int32_t C_CsvTable::Load(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    g_ErrorLog.ReportOnce(std::string(name) + " could not be opened: " + SystemErrorText(GetLastError()));
    return 0;
  }

  ByteReader in(file);
  const std::size_t before = m_Rows.size();
  std::vector<std::string> row(1);
  bool rowHasText = false;
  bool sawCR = false, sawLF = false;
  int last = -1;
  for (;;) {
    int c = in.Next();
    if (c < 0) break;
    last = c;
    sawLF |= c == kLF;
    if (c == kCR) {
      sawCR = true;
      if (in.Peek() == kLF) in.Next();
      m_Rows.push_back(std::move(row));
      row.assign(1, std::string());
      rowHasText = false;
    } else if (c == kComma) {
      row.emplace_back();
      rowHasText = true;
    } else {
      row.back().push_back(static_cast<char>(c));
      rowHasText = true;
    }
  }
  CloseHandle(file);
  if (in.Error()) {
    // Half a table is no table: nothing of it is kept.
    m_Rows.resize(before);
    g_ErrorLog.ReportOnce(std::string(name) + " could not be read whole: " + SystemErrorText(in.Error()));
    return 0;
  }
  // A last line without a line end still counts when it holds anything, but
  // every line of a whole table ends: the file may have been cut short. One
  // that ends with LF alone was not; its lines end so. Nor is a file whose
  // lines all end with LF alone said to be cut: its line ends, which its
  // reader names, are what is wrong with it (many editors end such a file
  // without one).
  const bool withoutCR = sawLF && !sawCR;
  if (rowHasText) {
    m_Rows.push_back(std::move(row));
    if (last != kLF && !withoutCR)
      g_ErrorLog.ReportOnce(std::string(name) + " ends inside a line: it may have been cut short");
  }
  m_bLinesEndWithoutCR |= withoutCR;
  return 1;
}

std::string C_CsvTable::GetCell(std::uint32_t row, std::uint32_t column) const {
  if (row >= m_Rows.size() || column >= m_Rows[row].size()) return std::string();
  return m_Rows[row][column];
}
