#include "tests/errtext/code_list.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/test_util.h"

namespace errtext_test {

const std::vector<CodeRow>& CodeRows() {
  static const std::vector<CodeRow> rows = [] {
    std::vector<CodeRow> out;
    std::ifstream in(nura::test::SourceDir() + "/errtext/tools/hresult-codes.tsv");
    if (!in) throw std::runtime_error("cannot read errtext/tools/hresult-codes.tsv");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string value, name, family;
      std::getline(fields, value, '\t');
      std::getline(fields, name, '\t');
      std::getline(fields, family, '\t');
      out.push_back({static_cast<std::uint32_t>(std::stoul(value, nullptr, 16)), name, family});
    }
    return out;
  }();
  return rows;
}

const std::set<std::uint32_t>& CodesNoHeaderDefines() {
  static const std::set<std::uint32_t> codes = [] {
    std::set<std::uint32_t> out;
    for (std::uint32_t c = 1266; c <= 1270; ++c) out.insert(c);
    for (std::uint32_t c = 0x80040301; c <= 0x80040305; ++c) out.insert(c);
    return out;
  }();
  return codes;
}

const std::set<std::uint32_t>& CandidateCodes() {
  static const std::set<std::uint32_t> codes = [] {
    std::set<std::uint32_t> out = CodesNoHeaderDefines();
    for (const CodeRow& row : CodeRows()) {
      out.insert(row.value);
      if (row.family == "win32") out.insert(kWin32Facility + row.value);
    }
    return out;
  }();
  return codes;
}

std::vector<std::string> NameParts(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t cut = name.find(" & ", start);
    parts.push_back(name.substr(start, cut - start));
    if (cut == std::string::npos) return parts;
    start = cut + 3;
  }
}

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

}  // namespace errtext_test
