// gxlsh pp FILE [asm|hlsl] [-DNAME[=TEXT]]...: the file preprocessed, one
// output line per source line, tokens separated by blanks; the messages go
// to the error stream. .vsh and .psh files are read as assembly unless told.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace nura::gxlsh {

// args[0] is the file. Exit status: 0 no error, 1 errors were reported, 2 a usage error.
int PreprocessCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nura::gxlsh
