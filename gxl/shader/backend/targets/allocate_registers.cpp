// Slot 5: the proof that the temporaries and address registers fit the
// profile, with the pairing of instructions that follows it, and the
// register helpers of the targets' own allocation.
#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

HRESULT ShaderTarget::AllocateRegisters() { return InstructionPairing(*this).Run(); }

void ShaderTarget::MoveInstruction(std::uint32_t to, std::uint32_t from) {
  gxl::shader::MoveInstruction(*this, to, from);
}

HRESULT ShaderTarget::SwapRegisters(std::uint32_t bank, std::uint32_t a, std::uint32_t b) {
  const RegisterBank* file = Bank(bank);
  if (!file || (file->type & kBankUniform)) return E_FAIL;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    if (v && v->bank == bank && (v->reg == a || v->reg == b) && v->renumber != kNoIndex) return E_FAIL;
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (!v || v->bank != bank) continue;
    if (v->reg == a)
      v->reg = b;
    else if (v->reg == b)
      v->reg = a;
  }
  return S_OK;
}

std::uint32_t IsParentChainInTable(const ShaderProgram& program, const IrInstruction& instruction,
                                   const std::uint32_t values[4], const std::uint32_t senses[4]) {
  std::uint32_t value = instruction.resultCount ? instruction.results[0] : kNoIndex;
  for (std::uint32_t steps = 0, bound = program.values.Count(); steps <= bound; ++steps) {
    const IrValue* v = program.Value(value);
    if (!v || v->predicate == kNoIndex) return 0;
    for (std::uint32_t k = 0; k < 4; ++k)
      if (values[k] == v->predicate && senses[k] == v->predicateSense) return 1;
    value = v->predicate;
  }
  return 0;
}

}  // namespace gxl::shader
