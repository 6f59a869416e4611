// Arithmetic rules not yet built: each changes nothing.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

HRESULT Ps1StandardRules::ForwardTextureCoordinateMove(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::ForwardTextureCoordinateMove(t, i);
}
HRESULT Ps1StandardRules::NegateConstant(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::NegateConstant(t, i);
}
HRESULT Ps1StandardRules::FoldResultScale(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::FoldResultScale(t, i);
}
HRESULT Ps1StandardRules::FuseMultiplyAdd(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::FuseMultiplyAdd(t, i);
}
HRESULT Ps1StandardRules::LegaliseOperands(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::LegaliseOperands(t, i);
}
HRESULT Ps1StandardRules::EmulateSwizzles(PixelShader1Target& t) { return Ps1Rules::EmulateSwizzles(t); }
HRESULT Ps1StandardRules::EmulateWriteMasks(PixelShader1Target& t) { return Ps1Rules::EmulateWriteMasks(t); }
HRESULT Ps1StandardRules::LowerConditionals(PixelShader1Target& t) { return Ps1Rules::LowerConditionals(t); }

}  // namespace gxl::shader
