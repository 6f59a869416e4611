// gxlsh: the shader token kit on the command line.
//   gxlsh dis FILE        canonical assembly text of a token file
//   gxlsh validate FILE   the platform validator's verdict and messages
//   gxlsh run FILE ARG... interpret one vertex, pixel or 2x2 pixel quad
//   gxlsh pp FILE ...     the shader preprocessor's tokens, line by line
//   gxlsh asm FILE ...    the shader assembler's tokens as hex text
//   gxlsh parse FILE ...  the HLSL parser's messages
//   gxlsh compile -T PROFILE -E ENTRY FILE ...  the HLSL compiler's tokens as hex text
// Token files are little-endian binary or hex text. Commands are rows of one
// table, so new ones (pp, asm, compile) are a row and a function each.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace nura::gxlsh {

// args excludes the program name. Exit status: 0 success, 1 the input was
// rejected (decode error, invalid shader, failed run), 2 a usage or file error.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nura::gxlsh
