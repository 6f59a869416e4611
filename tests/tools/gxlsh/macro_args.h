// The "-DNAME[=TEXT]" arguments of the gxlsh commands, as the macro
// definitions the shader tools take.
#pragma once

#include <string>
#include <vector>

#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace nura::gxlsh {

class MacroArguments {
 public:
  // Keeps the argument when it is a definition; false otherwise.
  bool Take(const std::string& arg) {
    if (arg.rfind("-D", 0) != 0 || arg.size() <= 2) return false;
    const std::size_t eq = arg.find('=');
    m_names.push_back(arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
    m_texts.push_back(eq == std::string::npos ? "" : arg.substr(eq + 1));
    return true;
  }

  // The definitions, ended by a null name; valid until the next Take.
  const gxl::shader::ShaderMacro* Macros() {
    m_macros.clear();
    for (std::size_t i = 0; i < m_names.size(); ++i) m_macros.push_back({m_names[i].c_str(), m_texts[i].c_str()});
    m_macros.push_back({nullptr, nullptr});
    return m_macros.data();
  }

 private:
  std::vector<std::string> m_names, m_texts;
  std::vector<gxl::shader::ShaderMacro> m_macros;
};

}  // namespace nura::gxlsh
