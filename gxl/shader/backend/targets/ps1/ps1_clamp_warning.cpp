// The warning that ps_1_1-1_3 clamp texture coordinates read by arithmetic.
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSaturate = 0x200;

}  // namespace

HRESULT Ps1StandardRules::WarnClampedCoordinates(PixelShader1Target& t) {
  if (t.Is14()) return 1;
  for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
    const IrInstruction* inst = t.Instruction(t.stageList[k]);
    if (!inst || inst->word == 0) continue;
    if (inst->IsMove() && inst->resultCount && (t.BankOf(*t.Value(inst->results[0]))->type & kBankOutput)) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      std::uint32_t value = inst->arguments[a];
      bool saturated = t.Value(value)->binding & kSaturate;
      for (std::uint32_t steps = 0; steps < 8 && t.Value(value)->alias != kNoIndex; ++steps) {
        value = t.Value(value)->alias;
        saturated |= (t.Value(value)->binding & kSaturate) != 0;
      }
      // A coordinate that a texcoord instruction of a texture slot makes a
      // register; found by its results, since the later list rewrites leave
      // the values' defining positions behind.
      bool texcoord = Ps1KindOf(t.SemanticOf(value)) == kPs1Texcoord;
      for (std::uint32_t s = 0; s < t.Stages() && s < t.stageList.Count(); ++s) {
        const IrInstruction* producer = t.Instruction(t.stageList[s]);
        if (!producer || producer->Group() != kOpTexcoord || !t.IsTemporaryValue(value)) continue;
        for (std::uint32_t r = 0; r < producer->resultCount; ++r) {
          if (producer->results[r] != value) continue;
          texcoord = true;
          if (r < producer->argumentCount) saturated |= (t.Value(producer->arguments[r])->binding & kSaturate) != 0;
        }
      }
      if (!texcoord || saturated) continue;
      t.SetCurrentInstruction(t.stageList[k]);
      GXL_SHADER_REPORT(t, t.currentSource, msg::kTexcoordClamped, static_cast<int>(t.Minor()));
      return S_OK;
    }
  }
  return 1;
}

}  // namespace gxl::shader
