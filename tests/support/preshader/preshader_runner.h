// Runs the preshader of compiled vertex or pixel code the way a device
// runtime would before a draw: the "PRES" block's expression program gets its
// constants by name through its own "CTAB", runs in the textures library's
// evaluator, and its results go into the float constant registers that its
// "PRSI" block names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace presrun {

// Values of uniforms by name, row by row as the source declares them.
using Uniforms = std::map<std::string, std::vector<double>>;

// The payload of the first comment block with `tag`, or empty.
std::vector<std::uint32_t> FindBlock(const std::uint32_t* code, std::size_t words, std::uint32_t tag);

// Float constant registers by number.
using Registers = std::map<std::uint32_t, std::array<float, 4>>;

// Runs the preshader of `code` (`words` dwords): `written` receives every
// register it writes. S_FALSE when the code has no "PRES" block; E_FAIL with
// the reason otherwise.
HRESULT RunPreshader(const std::uint32_t* code, std::size_t words, const Uniforms& uniforms, Registers& written,
                     std::string* error);

}  // namespace presrun
