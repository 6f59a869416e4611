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
      // A coordinate the texcoord instruction makes a register carries its semantic.
      const IrInstruction* producer = t.IsTemporaryValue(value) ? t.Instruction(t.ProducerOf(value)) : nullptr;
      const bool texcoord =
          Ps1KindOf(t.SemanticOf(value)) == kPs1Texcoord || (producer && producer->Group() == kOpTexcoord);
      for (std::uint32_t r = 0; producer && producer->Group() == kOpTexcoord && r < producer->resultCount; ++r)
        if (producer->results[r] == value && r < producer->argumentCount)
          saturated |= (t.Value(producer->arguments[r])->binding & kSaturate) != 0;
      if (!texcoord || saturated) continue;
      t.SetCurrentInstruction(t.stageList[k]);
      GXL_SHADER_REPORT(t, t.currentSource, msg::kTexcoordClamped, static_cast<int>(t.Minor()));
      return S_OK;
    }
  }
  return 1;
}

}  // namespace gxl::shader
