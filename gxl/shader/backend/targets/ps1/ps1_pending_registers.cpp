// Register, constant and co-issue rules not yet built: each changes nothing.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

HRESULT Ps1StandardRules::AssignRegisters(PixelShader1Target& t, bool trial) {
  return Ps1Rules::AssignRegisters(t, trial);
}
HRESULT Ps1StandardRules::AssignConstants(PixelShader1Target& t) { return Ps1Rules::AssignConstants(t); }
HRESULT Ps1StandardRules::MarkCoIssue(PixelShader1Target& t, bool phaseOne) {
  return Ps1Rules::MarkCoIssue(t, phaseOne);
}
HRESULT Ps1StandardRules::WarnClampedCoordinates(PixelShader1Target& t) { return Ps1Rules::WarnClampedCoordinates(t); }

}  // namespace gxl::shader
