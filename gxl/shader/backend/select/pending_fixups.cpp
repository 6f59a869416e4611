// Until the operand fix-ups, modifier folds and flow-control mapping land,
// each of their passes applies nowhere: it changes nothing and says so.
#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/targets/modifier_folds.h"

namespace gxl::shader {

HRESULT MapConditionalBreak(ShaderTarget&) { return S_FALSE; }
HRESULT RecognizeCountedLoop(ShaderTarget&) { return S_FALSE; }
HRESULT FoldNegate(ShaderTarget&, bool) { return S_FALSE; }
HRESULT TryLerpOrders(ShaderTarget&) { return S_FALSE; }
HRESULT FormMultiplyAdd(ShaderTarget&, bool) { return S_FALSE; }
HRESULT ShaderTarget::CheckPortConstraints() { return S_FALSE; }
HRESULT ShaderTarget::RebuildFlowControl() { return S_FALSE; }
HRESULT ShaderTarget::MaterializeLoopMerge() { return S_FALSE; }

}  // namespace gxl::shader
