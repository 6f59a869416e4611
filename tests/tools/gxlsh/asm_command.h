// gxlsh asm FILE [novalidate] [-DNAME[=TEXT]]...: the file assembled by the
// shader tools, as hex text that the other commands read (the version, then
// one instruction, comment or end token per line); the messages go to the
// error stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace nura::gxlsh {

// Token words as hex text: the version, then one instruction, comment or end
// token per line.
void WriteTokenLines(const std::uint32_t* words, std::size_t count, std::ostream& out);

// args[0] is the file. Exit status: 0 assembled, 1 rejected, 2 a usage error.
int AssembleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nura::gxlsh
