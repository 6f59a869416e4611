// Shared by the data-folder tests: where the folder is, the files the game
// names, an independent PNG decoder (libpng) and a table reader that follows
// the game's comma-separated reading rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nura::assets_test {

std::string DataDir();
std::string DataPath(const std::string& rel);

// Every picture the game names, spelled as the game spells it; the logo is
// read only from its scrambled twin.
const std::vector<std::string>& PictureNames();
const std::vector<std::string>& SoundNames();

struct Image {
  int width = 0, height = 0;
  int bitDepth = 0, colorType = 0;  // from the file's header
  std::vector<std::uint8_t> rgba;   // decoded, 4 bytes per pixel
  std::uint8_t alpha(int x, int y) const { return rgba[(static_cast<size_t>(y) * width + x) * 4 + 3]; }
  const std::uint8_t* px(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};
// Decodes PNG bytes with libpng; false (and a reason) when libpng refuses them.
bool DecodePng(const std::vector<std::uint8_t>& bytes, Image* out, std::string* why);
Image LoadPicture(const std::string& rel);  // handles the scrambled logo

// Rows of cells, read byte by byte: CR ends a row and skips the byte after it,
// a comma starts a new cell, every other byte (a lone LF too) is cell text.
// The row begun after the last line end is kept, as the game's reader keeps it.
using Table = std::vector<std::vector<std::string>>;
Table ReadTable(const std::vector<std::uint8_t>& bytes);
// The rows the game visits: all but the last.
inline size_t VisitedRows(const Table& t) { return t.empty() ? 0 : t.size() - 1; }

}  // namespace nura::assets_test
