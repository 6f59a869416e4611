// gxlsh parse FILE [-DNAME[=TEXT]]...: the file parsed by the HLSL parser,
// its message lines printed as the shader tools log them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace nura::gxlsh {

// args[0] is the file. Exit status: 0 parsed, 1 rejected, 2 a usage or file error.
int ParseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nura::gxlsh
