// gxlsh compile -T PROFILE -E ENTRY FILE [novalidate] [noopt] [-DNAME[=TEXT]]...:
// the HLSL file compiled by the shader tools, as the hex text the other
// commands read; the messages go to the error stream.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace nura::gxlsh {

// Exit status: 0 compiled, 1 rejected, 2 a usage or file error.
int CompileCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nura::gxlsh
