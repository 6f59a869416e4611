// Comma-separated tables: every cell read back, and the row and cell counts
// consistent with the bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "qel/appbase/qelcsvtable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nura::fuzz::MemoryFile file(data, size);
  C_CsvTable table;
  nura::fuzz::Require(table.Load(file.Path().c_str()) == 1, "an existing file loads");
  std::size_t cellBytes = 0, cells = 0;
  for (std::uint32_t row = 0; row < table.GetRowCount(); ++row) {
    const std::uint32_t columns = table.GetColumnCount(row);
    for (std::uint32_t column = 0; column < columns; ++column) cellBytes += table.GetCell(row, column).size();
    cells += columns;
    nura::fuzz::Require(table.GetCell(row, columns).empty(), "no cell past a row's end");
  }
  // Cells keep the file's bytes: with their separators they never exceed it.
  nura::fuzz::Require(cellBytes <= size, "cells hold no more bytes than the file");
  nura::fuzz::Require(table.GetRowCount() <= size + 1 && cells <= size + table.GetRowCount(),
                      "no more rows and cells than separators allow");
  nura::fuzz::Require(table.GetCell(table.GetRowCount(), 0).empty(), "no row past the end");
  // Without a CR every line feed stays in a cell: the file reads as one row.
  nura::fuzz::Require(!table.LinesEndWithoutCR() || table.GetRowCount() == 1, "LF line ends give one row");
  return 0;
}
