// The input registers a compiled vertex shader declares, read from the dcl
// lines of the token kit's disassembly: semantic ("POSITION0", "TEXCOORD1")
// to register number.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace shadertest {

inline std::map<std::string, int> DeclaredInputs(const std::string& text) {
  std::map<std::string, int> inputs;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("dcl_", 0) != 0) continue;
    const std::size_t space = line.find(' ');
    const std::size_t v = line.find(" v");
    if (space == std::string::npos || v == std::string::npos) continue;
    std::string usage = line.substr(4, space - 4);
    std::transform(usage.begin(), usage.end(), usage.begin(), ::toupper);
    if (usage.empty() || !std::isdigit(static_cast<unsigned char>(usage.back()))) usage += "0";
    inputs[usage] = std::atoi(line.c_str() + v + 2);
  }
  return inputs;
}

}  // namespace shadertest
