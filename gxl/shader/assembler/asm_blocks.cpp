// What fragments and debug information add to an assembly run: the table of
// symbolic register names of a fragment and the comment blocks written after
// the version token. Until the comment-block writers and the fragment names
// exist, fragments know no symbolic name and no block is written.
#include <new>

#include "gxl/shader/assembler/asm_reduce.h"
#include "gxl/shader/assembler/shader_assembler.h"

namespace gxl::shader {

class FragmentInfo {
 public:
  std::int32_t profileIndex;  // the profile whose register names apply
};

void FragmentInfoDeleter::operator()(FragmentInfo* info) const { delete info; }

HRESULT ShaderAssembler::CreateFragmentInfo() {
  m_fragmentInfo.reset(new (std::nothrow) FragmentInfo{m_profileIndex});
  return m_fragmentInfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShaderAssembler::ResolveFragmentName(const TokenNode& name, const AsmOperandNode* /*relative*/,
                                             std::uint32_t* /*type*/, std::uint32_t* /*number*/) {
  GXL_ASM_REPORT(this, name.token, msg::kInvalidRegisterName, name.token.value.text);
  return E_FAIL;
}

HRESULT ShaderAssembler::WriteCommentBlocks() { return S_OK; }

}  // namespace gxl::shader
