// Test-only shader token decoder: a token stream becomes canonical assembly
// text (the version line, then one lower-case instruction per line, def values
// as %.9g, infinities as 1e39 and -1e39, NaN as 0 with its bits in a comment)
// that the public assembly syntax accepts again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/src/d3d9/shader_tokens.h"

namespace nura::shtok {

using platform::shader::Version;

// False (with "token N: ..." in `error`) on a stream it cannot represent: an
// unknown version, opcode, register, modifier or comparison, a framing fault,
// or no end token within `count`. Never reads at or past `count`.
bool Disassemble(const std::uint32_t* words, std::size_t count, std::string* text, std::string* error);

// The text of one parameter token as a source operand without modifiers, e.g.
// "c2100", "aL", "p0" (no relative part, no swizzle); empty when unknown.
std::string RegisterName(std::uint32_t token, const Version& v);

}  // namespace nura::shtok
