// Scratch registers for the emission rules that need a temporary of their
// own after register assignment: the temporary register that is free at the
// instruction and whose next definition lies farthest ahead.
#include <algorithm>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

HRESULT ShaderTarget::FindFreeTemporary(std::uint32_t position, std::uint32_t count, std::uint32_t* out,
                                        const std::uint32_t* excluded, std::uint32_t excludedCount) {
  if (!out || count == 0 || count > 4) return E_FAIL;
  const std::uint32_t limit = profileLimits.temporaries;
  auto isExcluded = [&](std::uint32_t reg) {
    return std::find(excluded, excluded + excludedCount, reg) != excluded + excludedCount;
  };

  // The register chosen last stays free until its next definition: nothing
  // between was written into it. A second request at the same position needs
  // another register.
  std::uint32_t chosen = kNoIndex;
  if (m_scratch.reg != kNoIndex && position > m_scratch.from && position < m_scratch.until &&
      !isExcluded(m_scratch.reg)) {
    chosen = m_scratch.reg;
  } else {
    // next[r]: the first definition of register r after the position, 0 when
    // r is in use at the position (kNoIndex: never defined again).
    std::unique_ptr<std::uint32_t[]> next(new (std::nothrow) std::uint32_t[limit ? limit : 1]);
    if (!next) return E_OUTOFMEMORY;
    std::fill(next.get(), next.get() + limit, kNoIndex);
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      const IrValue* v = Value(i);
      const RegisterBank* bank = v ? BankOf(*v) : nullptr;
      if (!bank || v->reg >= limit || RegisterFileOf(bank->type) != RegisterFile::Temporary) continue;
      // A value read without a definition here is live from the start.
      const std::uint32_t d = v->definingPosition;
      const std::uint32_t from = d != kNoIndex ? d : v->lastUse != kNoIndex ? 0 : kNoIndex;
      if (from == kNoIndex) continue;
      if (from == position || (from < position && v->lastUse != kNoIndex && v->lastUse >= position))
        next[v->reg] = 0;
      else if (from > position && next[v->reg] != 0)
        next[v->reg] = std::min(next[v->reg], from);
    }
    for (std::uint32_t r = 0; r < limit; ++r) {
      if (next[r] == 0 || isExcluded(r)) continue;
      if (chosen == kNoIndex || next[r] > next[chosen]) chosen = r;
    }
    if (chosen == kNoIndex) {
      GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kOutOfTemporaries);
      return E_FAIL;
    }
    m_scratch = {chosen, position, next[chosen]};
  }
  const std::uint32_t bank = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t c = 0; c < count; ++c) {
    const std::uint32_t v = AddValue(bank, chosen, c, 0.0);
    if (v == kNoIndex) return E_OUTOFMEMORY;
    IrValue* value = Value(v);
    value->definingPosition = value->firstUse = value->lastUse = position;
    out[c] = v;
  }
  return S_OK;
}

}  // namespace gxl::shader
