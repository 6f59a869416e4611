#include "qel/appbase/qelcsvtable.h"

#include "platform/win_kernel.h"

namespace {
constexpr char kCR = 13;
constexpr char kLF = 10;
constexpr char kComma = ',';

// Reads a file in blocks and hands out one byte at a time.
class ByteReader {
 public:
  explicit ByteReader(HANDLE file) : m_file(file) {}
  // -1 at the end of the file (or on a read error).
  int Next() {
    if (m_pos == m_len) {
      DWORD got = 0;
      if (!ReadFile(m_file, m_buf, sizeof m_buf, &got, nullptr) || got == 0) return -1;
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

 private:
  HANDLE m_file;
  char m_buf[4096];
  DWORD m_len = 0;
  DWORD m_pos = 0;
};
}  // namespace

std::int32_t C_CsvTable::Load(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;

  ByteReader in(file);
  std::vector<std::string> row(1);
  bool rowHasText = false;
  for (;;) {
    int c = in.Next();
    if (c < 0) break;
    if (c == kCR) {
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
  // A last line without a line end still counts when it holds anything.
  if (rowHasText) m_Rows.push_back(std::move(row));
  CloseHandle(file);
  return 1;
}

std::string C_CsvTable::GetCell(std::uint32_t row, std::uint32_t column) const {
  if (row >= m_Rows.size() || column >= m_Rows[row].size()) return std::string();
  return m_Rows[row][column];
}
