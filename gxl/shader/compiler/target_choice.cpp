#include "gxl/shader/compiler/target_choice.h"

#include <new>

#include "gxl/shader/backend/targets/expression_target.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"
#include "gxl/shader/backend/targets/shader_model3_target.h"
#include "gxl/shader/backend/targets/vertex_target.h"

namespace gxl::shader {

namespace {

using MakeTarget = ShaderTarget* (*)(bool fragment);

ShaderTarget* MakeVertexTarget(bool fragment) { return new (std::nothrow) VertexShaderTarget(fragment); }
ShaderTarget* MakePixel2Target(bool fragment) { return new (std::nothrow) PixelShader2Target(fragment); }
ShaderTarget* MakeExpressionTarget(bool) { return new (std::nothrow) ExpressionTarget; }
ShaderTarget* MakePixel1Target(bool fragment) { return new (std::nothrow) PixelShader1Target(fragment); }
ShaderTarget* MakeShaderModel3Target(bool fragment) { return new (std::nothrow) ShaderModel3Target(fragment); }

struct TargetRow {
  DWORD versions[4];  // 0 pads
  MakeTarget make;
  std::uint32_t setOptions;
  std::uint32_t clearOptions;
  bool noFragments = false;  // its code is no fragment a linker could take
};

constexpr TargetRow kTargetRows[] = {
    {{0x54580100}, &MakeExpressionTarget, kOptionExpressionProgram, 0, true},  // tx_1_0: texture shaders
    {{kExpressionProgramVersion}, &MakeExpressionTarget, kOptionExpressionProgram, 0},
    {{0xFFFE0101, 0xFFFE0200, 0xFFFE0202, 0xFFFE02FF}, &MakeVertexTarget, 0, 0},
    {{0xFFFE0300, 0xFFFE03FF, 0xFFFF0300, 0xFFFF03FF}, &MakeShaderModel3Target, 0, 0},
    {{0xFFFF0101, 0xFFFF0102, 0xFFFF0103, 0xFFFF0104}, &MakePixel1Target, 0, 0x4},  // pixel 1.x
    {{0xFFFF0200, 0xFFFF0202, 0xFFFF0203, 0xFFFF02FF}, &MakePixel2Target, 0, 0},
};

}  // namespace

std::uint32_t TargetOptions(DWORD version, std::uint32_t options) {
  for (const TargetRow& row : kTargetRows)
    for (const DWORD v : row.versions)
      if (v != 0 && v == version) return (options | row.setOptions) & ~row.clearOptions;
  return options;
}

TargetChoice ChooseTarget(DWORD version, bool fragment, std::uint32_t* options, std::unique_ptr<ShaderTarget>* target) {
  target->reset();
  for (const TargetRow& row : kTargetRows) {
    bool served = false;
    for (const DWORD v : row.versions) served |= v != 0 && v == version;
    if (!served) continue;
    if (fragment && row.noFragments) return TargetChoice::kNoFragment;
    *options = (*options | row.setOptions) & ~row.clearOptions;
    target->reset(row.make(fragment));
    return *target ? TargetChoice::kMade : TargetChoice::kNoMemory;
  }
  return TargetChoice::kNone;
}

}  // namespace gxl::shader
