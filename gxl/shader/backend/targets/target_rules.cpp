// Rules the vertex and pixel targets share.
#include "gxl/shader/backend/targets/target_rules.h"

#include <cstdio>

#include "gxl/shader/core/type_record.h"

namespace gxl::shader {

namespace {

enum PortFile { kInputFile, kTemporaryFile, kConstantFile, kSamplerFile, kUncounted };

PortFile FileOf(const ShaderProgram& p, const IrValue& v, bool samplerFile) {
  const RegisterBank* bank = p.BankOf(v);
  if (!bank || (samplerFile && v.bank >= kStandardBankCount)) return kUncounted;
  const std::uint32_t type = bank->type;
  if (type & kBankSampler) return samplerFile ? kSamplerFile : kUncounted;
  if (type & kBankUniform) return kConstantFile;
  if ((type & kBankInitialised) && SemanticUsageOf(v.registerKey) != kNoSemanticUsage) return kInputFile;
  return kTemporaryFile;
}

}  // namespace

std::uint32_t FindReadPortViolation(const ShaderProgram& p, const IrInstruction& inst, const ReadPortLimits& limits,
                                    std::uint32_t* group) {
  const std::uint32_t n = inst.Width();
  if (n == 0) return 0;
  const std::uint32_t g = inst.Group();
  const std::uint32_t groups = g >= 0x705 && g <= 0x707 ? 2 : inst.argumentCount / n;
  if (groups <= 1) return 0;
  const std::uint32_t limit[] = {limits.inputs, limits.temporaries, limits.constants, limits.samplers};
  std::uint32_t distinct[4] = {}, uniform = 0;
  for (std::uint32_t k = 0; k < groups; ++k) {
    const IrValue* v = p.Value(inst.arguments[k * n]);
    const RegisterBank* bank = v ? p.BankOf(*v) : nullptr;
    if (!bank) continue;
    // Every uniform operand counts, in whichever bank (samplers only where
    // they are a file of their own).
    const bool uniformOperand = (bank->type & kBankUniform) && (limits.samplerFile || !(bank->type & kBankSampler));
    bool violation = uniformOperand && ++uniform > limits.uniformOperands;
    const PortFile file = FileOf(p, *v, limits.samplerFile);
    if (file != kUncounted) {
      bool seen = false;
      for (std::uint32_t e = 0; e < k && !seen; ++e) {
        const IrValue* w = p.Value(inst.arguments[e * n]);
        seen = w && w->bank == v->bank && w->relativeIndex == v->relativeIndex && w->reg == v->reg;
      }
      violation |= !seen && ++distinct[file] > limit[file];
    }
    if (violation) {
      if (group) *group = k;
      return 1;
    }
  }
  return 0;
}

std::uint32_t ReadsEarlierTemporary(const ShaderProgram& p, const IrInstruction& inst, std::uint32_t position) {
  for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
    const IrValue* v = p.Value(inst.arguments[a]);
    const RegisterBank* bank = v ? p.BankOf(*v) : nullptr;
    if (!bank || RegisterFileOf(bank->type) != RegisterFile::Temporary) continue;
    const IrInstruction* producer = v->definingPosition < position ? p.Instruction(v->definingPosition) : nullptr;
    if (producer && producer->Group() != kOpNop) return 1;
  }
  return 0;
}

HRESULT NameFragmentInput(ShaderTarget& t, std::uint32_t value, DWORD* key) {
  const IrValue* v = t.Value(value);
  if (!v) return E_FAIL;
  if (key) *key = v->registerKey;
  if (SemanticUsageOf(v->registerKey) == kNoSemanticUsage) return S_OK;
  const SemanticTableRow* row = t.FindSemanticRecord(v->registerKey);
  char name[96];
  std::snprintf(name, sizeof name, "v_%s%u", row ? row->name : "", SemanticIndexOf(v->registerKey));
  HRESULT hr = t.fragmentNames[0].Add(name, v->reg, 1);
  const char* variable = DeclarationNameText(v->declaration);
  if (SUCCEEDED(hr) && (t.options & kOptionDebug) && variable) {
    std::snprintf(name, sizeof name, "n_%s", variable);
    hr = t.fragmentNames[0].Add(name, v->reg, 1);
  }
  return hr;
}

}  // namespace gxl::shader
