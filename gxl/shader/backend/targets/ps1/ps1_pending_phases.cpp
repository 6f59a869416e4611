// ps_1_4 phase rules not yet built: each changes nothing.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

HRESULT Ps1StandardRules::ProjectiveRewrite(PixelShader1Target& t, std::uint32_t i) {
  return Ps1Rules::ProjectiveRewrite(t, i);
}
HRESULT Ps1StandardRules::PreparePhases14(PixelShader1Target& t) { return Ps1Rules::PreparePhases14(t); }
HRESULT Ps1StandardRules::BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) {
  return Ps1Rules::BuildPhaseLists14(t, mask, trial);
}
HRESULT Ps1StandardRules::BalancePhases14(PixelShader1Target& t) { return Ps1Rules::BalancePhases14(t); }
HRESULT Ps1StandardRules::PlacePhaseTwo14(PixelShader1Target& t) { return Ps1Rules::PlacePhaseTwo14(t); }

}  // namespace gxl::shader
