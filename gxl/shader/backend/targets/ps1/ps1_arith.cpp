// Helpers of the 1.x arithmetic rewrites (ps1_arith.h).
#include "gxl/shader/backend/targets/ps1/ps1_arith.h"

#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader::ps1 {

std::uint32_t GroupCount(const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  if (n == 0 || n > 4 || inst.argumentCount % n) return 0;
  return inst.argumentCount / n;
}

bool SelectionOf(const PixelShader1Target& t, const IrInstruction& inst, std::uint32_t g, GroupSelection* out) {
  const std::uint32_t n = inst.Width();
  if (g >= GroupCount(inst)) return false;
  const bool dot = inst.Group() == kOpDot;
  if (!dot && inst.resultCount != n) return false;
  out->count = n;
  for (std::uint32_t j = 0; j < n; ++j) {
    const std::uint32_t arg = inst.arguments[g * n + j];
    const IrValue* v = t.Value(arg);
    if (!v) return false;
    const bool literal = sel::BankTypeOf(t, arg) & kBankLiteral;
    out->source[j] = literal || v->component > 3 ? kNoSelection : static_cast<std::uint8_t>(v->component);
    const IrValue* r = dot ? nullptr : t.Value(inst.results[j]);
    if (!dot && (!r || r->component > 3)) return false;
    out->destination[j] = static_cast<std::uint8_t>(dot ? j : r->component);
  }
  return true;
}

bool FitsSwizzle(const GroupSelection& s, const std::uint8_t entry[4]) {
  for (std::uint32_t j = 0; j < s.count; ++j)
    if (s.source[j] != kNoSelection && s.source[j] != entry[s.destination[j]]) return false;
  return true;
}

std::uint32_t ReplicatedComponent(const GroupSelection& s) {
  std::uint32_t c = kNoSelection;
  for (std::uint32_t j = 0; j < s.count; ++j) {
    if (s.source[j] == kNoSelection) continue;
    if (c != kNoSelection && c != s.source[j]) return kNoSelection;
    c = s.source[j];
  }
  return c;
}

std::uint32_t NewTemporary(PixelShader1Target& t, std::uint32_t component) {
  return t.AddValue(t.StandardBankIndex(StandardBank::Temporaries), kNoIndex, component, 0.0);
}

std::uint32_t AddProducer(PixelShader1Target& t, std::uint32_t word, const std::uint32_t* arguments,
                          std::uint32_t argumentCount, const std::uint32_t* results, std::uint32_t resultCount,
                          std::uint32_t sourceOf) {
  const std::uint32_t made = t.AddFilledInstruction(word, arguments, argumentCount, results, resultCount, sourceOf);
  for (std::uint32_t r = 0; made != kNoIndex && r < resultCount; ++r) t.Value(results[r])->definingPosition = made;
  return made;
}

std::uint32_t Literal(PixelShader1Target& t, double x) { return sel::LiteralValue(t, x); }

bool IsTextureSide(std::uint32_t group) {
  return PixelShader1Target::IsTextureOperation(group) || (group >= kOpTexcoord && group <= kOpTexldDivideZ);
}

HRESULT SelectIntoW(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t source, std::uint32_t component,
                    std::uint32_t sourceOf, std::uint32_t* w) {
  *w = NewTemporary(t, kComponentW);
  if (*w == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t arguments[6] = {source, source, source, t.zeroValue, t.zeroValue, t.zeroValue};
  arguments[3 + component] = t.oneValue;
  const std::uint32_t dot = AddProducer(t, IrWord(kOpDot, 3), arguments, 6, w, 1, sourceOf);
  return dot == kNoIndex ? E_OUTOFMEMORY : list.Append(dot, sourceOf);
}

HRESULT ArithmeticRebuild::Take() {
  Ps1List& list = m_t.stageList;
  const std::uint32_t first = m_t.Stages();
  m_entries.Clear();
  for (std::uint32_t k = first; k < list.Count(); ++k)
    if (!m_entries.Append(list[k])) return E_OUTOFMEMORY;
  list.Truncate(first);
  return S_OK;
}

HRESULT ArithmeticRebuild::Append(std::uint32_t instruction, std::uint32_t sourceOf) {
  const HRESULT hr = m_t.stageList.Append(instruction);
  if (hr == E_FAIL) {
    // A size limit, not an allocation failure.
    m_t.SetCurrentInstruction(sourceOf);
    GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kProgramTooBig);
  }
  return hr;
}

}  // namespace gxl::shader::ps1
