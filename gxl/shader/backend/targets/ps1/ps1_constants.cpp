// Constant assignment of the 1.x target: every argument group of literals
// becomes one of the eight constant registers c0-c7 that the user's
// constants leave, shared by groups whose components agree.
#include <algorithm>

#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kLiteralBankType = 785;
constexpr std::uint32_t kConstantRegisters = 8;

bool IsFloatLiteralBank(const RegisterBank* b) { return b && (b->type & kBankLiteral) && !(b->type & kBankInteger); }

class ConstantAssignment {
 public:
  explicit ConstantAssignment(PixelShader1Target& t) : m_t(t) {}

  HRESULT Run() {
    // Registers the user's float constants take once they are bound.
    std::uint32_t user = 0;
    for (std::uint32_t b = 0; b < m_t.banks.Count(); ++b) {
      const RegisterBank* bank = m_t.Bank(b);
      if (!bank || !(bank->type & kBankUniform) ||
          (bank->type & (kBankLiteral | kBankSampler | kBankBoolean | kBankInteger)))
        continue;
      std::uint32_t highest = 0;
      for (std::uint32_t i = 0; i < m_t.values.Count(); ++i) {
        const IrValue* v = m_t.Value(i);
        if (v && v->bank == b && v->reg != kNoIndex) highest = std::max(highest, v->reg + 1);
      }
      user += highest;
    }
    if (user > kConstantRegisters) {
      GXL_SHADER_REPORT(m_t, nullptr, msg::kTooManyConstantRegisters);
      return E_FAIL;
    }
    m_available = kConstantRegisters - user;
    m_bank = m_t.AddRegisterBank("c", kLiteralBankType, kConstantRegisters, 4);
    if (m_bank == kNoIndex) return E_OUTOFMEMORY;
    m_t.literalRegisterBank = m_bank;
    for (const Ps1List* list : {&m_t.phaseOneList, &m_t.stageList})
      for (std::uint32_t k = m_t.Stages(); k < list->Count(); ++k) {
        IrInstruction* inst = m_t.Instruction((*list)[k]);
        if (!inst || inst->word == 0) continue;
        m_t.SetCurrentInstruction((*list)[k]);
        const std::uint32_t n = inst->Width();
        for (std::uint32_t g = 0; n && g < inst->argumentCount / n; ++g) {
          const HRESULT hr = AssignGroup(*inst, g);
          if (FAILED(hr)) return hr;
        }
      }
    // Literals no group reads any more get no register and no definition.
    for (std::uint32_t i = 0; i < m_t.values.Count(); ++i) {
      IrValue* v = m_t.Value(i);
      if (v && v->bank != m_bank && IsFloatLiteralBank(m_t.BankOf(*v))) v->reg = kNoIndex;
    }
    return S_OK;
  }

 private:
  HRESULT AssignGroup(IrInstruction& inst, std::uint32_t g) {
    const std::uint32_t n = inst.Width();
    std::uint32_t* group = inst.arguments + g * n;
    std::uint32_t literals = 0;
    for (std::uint32_t j = 0; j < n; ++j) literals += IsFloatLiteralBank(Bank(group[j]));
    if (literals == 0) return S_OK;
    if (literals != n || n > 4) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kArgumentsNotVectorized);
      return E_FAIL;
    }
    // The vector by destination component (by position for a dot product).
    double vector[4] = {};
    bool defined[4] = {};
    std::uint32_t component[4];
    bool outside = false;
    for (std::uint32_t j = 0; j < n; ++j) {
      const IrValue* result = j < inst.resultCount ? m_t.Value(inst.results[j]) : nullptr;
      component[j] = inst.Group() == kOpDot || !result || result->component > 3 ? j : result->component;
      const double x = m_t.Value(m_t.ResolveAlias(group[j]))->rangeLow;
      if (defined[component[j]] && vector[component[j]] != x) {
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kArgumentsNotVectorized);
        return E_FAIL;
      }
      vector[component[j]] = x;
      defined[component[j]] = true;
      outside |= x < -1.0 || x > 1.0;
    }
    if (outside) GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kLiteralClamped);
    std::uint32_t reg = 0;
    for (; reg < m_available; ++reg) {
      bool agrees = true;
      for (std::uint32_t c = 0; c < 4 && agrees; ++c)
        agrees = !defined[c] || !m_defined[reg][c] || m_values[reg][c] == vector[c];
      if (agrees) break;
    }
    if (reg == m_available) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kOutOfConstantRegisters);
      return E_FAIL;
    }
    for (std::uint32_t c = 0; c < 4; ++c)
      if (defined[c]) {
        m_defined[reg][c] = true;
        m_values[reg][c] = vector[c];
      }
    for (std::uint32_t j = 0; j < n; ++j) {
      const std::uint32_t made = m_t.AddValue(m_bank, reg, component[j], vector[component[j]]);
      if (made == kNoIndex) return E_OUTOFMEMORY;
      // A negated literal stays a negated read of the register.
      m_t.Value(made)->binding = m_t.Value(group[j])->binding & kPs1Modifiers;
      group[j] = made;
    }
    return S_OK;
  }

  const RegisterBank* Bank(std::uint32_t value) const {
    const IrValue* v = m_t.Value(value);
    return v ? m_t.BankOf(*v) : nullptr;
  }

  PixelShader1Target& m_t;
  std::uint32_t m_bank = kNoIndex;
  std::uint32_t m_available = 0;
  bool m_defined[kConstantRegisters][4] = {};
  double m_values[kConstantRegisters][4] = {};
};

}  // namespace

HRESULT Ps1StandardRules::AssignConstants(PixelShader1Target& t) { return ConstantAssignment(t).Run(); }

}  // namespace gxl::shader
