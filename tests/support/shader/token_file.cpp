#include "tests/support/shader/token_file.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace nura::shtok {

bool ParseTokenText(const std::string& text, std::vector<std::uint32_t>* words, std::string* error) {
  words->clear();
  int line = 1;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
      ++i;
      continue;
    }
    if (c == '#' || c == ';' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
      const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
      value = value * 16 + static_cast<std::uint64_t>(d <= '9' ? d - '0' : d - 'a' + 10);
      if (value > 0xFFFFFFFFu) break;
    }
    const bool endsWord = i >= text.size() || std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ',' ||
                          text[i] == '#' || text[i] == ';' || text[i] == '/';
    if (digits == 0 || value > 0xFFFFFFFFu || !endsWord) {
      *error = "line " + std::to_string(line) + ": not a 32-bit hexadecimal word";
      return false;
    }
    words->push_back(static_cast<std::uint32_t>(value));
  }
  return true;
}

bool ReadTokenFile(const std::string& path, std::vector<std::uint32_t>* words, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bool text = !bytes.empty();
  for (unsigned char c : bytes)
    if (!(std::isprint(c) || std::isspace(c))) text = false;
  if (text) return ParseTokenText(bytes, words, error);
  if (bytes.size() % 4) {
    *error = path + ": binary size is not a multiple of four";
    return false;
  }
  words->resize(bytes.size() / 4);
  for (std::size_t i = 0; i < words->size(); ++i) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + 4 * i);
    (*words)[i] = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                  static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  }
  return true;
}

}  // namespace nura::shtok
