// Token streams as files: little-endian binary DWORDs, or hex text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nura::shtok {

// Hex text: 32-bit words in hexadecimal separated by blanks or commas, each
// with an optional 0x prefix; '#', ';' and "//" start a comment to the end of
// the line.
bool ParseTokenText(const std::string& text, std::vector<std::uint32_t>* words, std::string* error);

// A file of printable text is read as hex text; anything else as binary,
// whose size must be a multiple of four.
bool ReadTokenFile(const std::string& path, std::vector<std::uint32_t>* words, std::string* error);

}  // namespace nura::shtok
