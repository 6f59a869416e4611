// The one table from a compile's version token to the target that generates
// its code.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win_types.h"

namespace gxl::shader {

class ShaderTarget;

// Version token of an expression program ("FX", version 2.0).
constexpr DWORD kExpressionProgramVersion = 0x46580200;
// Options of the texture-shader target and of expression programs: no preshader.
constexpr std::uint32_t kOptionExpressionProgram = 0x100;

enum class TargetChoice {
  kMade,      // *target holds the new target
  kNone,      // no row for the token
  kNoFragment,  // the target makes no fragments
  kNoMemory,  // the target could not be allocated
};

// The target for `version`, constructed with the fragment flag where it
// takes one; the row's option changes are applied to *options.
TargetChoice ChooseTarget(DWORD version, bool fragment, std::uint32_t* options, std::unique_ptr<ShaderTarget>* target);
// The options the target for `version` compiles with (the pixel 1.x target
// always optimises).
std::uint32_t TargetOptions(DWORD version, std::uint32_t options);

}  // namespace gxl::shader
