// A table of text cells read from a comma-separated file. Cells keep the
// file's bytes; only CR, LF and comma mean anything to the reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class C_CsvTable {
 public:
  // 1 when read (rows are appended to those held), 0 when the file cannot be
  // opened or read whole (the table is unchanged; the error log and stderr
  // name the file and the system's reason).
  std::int32_t Load(const char* name);
  // The cell's text; "" outside the table.
  std::string GetCell(std::uint32_t row, std::uint32_t column) const;
  // Rows read. The empty row that follows the last line end is not one; a
  // last line without a line end is.
  std::uint32_t GetRowCount() const { return static_cast<std::uint32_t>(m_Rows.size()); }
  // Cells of a row; 0 outside the table.
  std::uint32_t GetColumnCount(std::uint32_t row) const {
    return row < m_Rows.size() ? static_cast<std::uint32_t>(m_Rows[row].size()) : 0;
  }
  // True when a file read held line feeds but no CR: saved with LF line ends,
  // it reads as one row, which its reader must name rather than its cells.
  bool LinesEndWithoutCR() const { return m_bLinesEndWithoutCR; }

 private:
  std::vector<std::vector<std::string>> m_Rows;
  bool m_bLinesEndWithoutCR = false;
};
