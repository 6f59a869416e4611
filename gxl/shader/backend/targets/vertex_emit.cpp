// The vertex target's emission walk and its own rules: the vs 1.x load of
// a0.x ahead of each relative read, and exp, log and frac where vs 1.x only
// has their partial forms (expp's y is the fraction, its z the exponent; frc
// writes x and y only).
#include <algorithm>

#include "gxl/shader/backend/targets/vertex_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kMaxAddressDepth = 16;  // nested relative indexes followed

bool SameRegister(const IrValue& a, const IrValue& b) {
  return a.bank == b.bank && a.relativeIndex == b.relativeIndex && a.reg == b.reg;
}

// The destination writes of an emission in `order` would overwrite a source
// component another position still reads: the hazard of the scalar forms.
bool WritesSourceFirst(const ShaderProgram& p, const std::uint32_t* destinations, const std::uint32_t* sources,
                       std::uint32_t n, std::uint32_t m) {
  const IrValue* d0 = p.Value(destinations[0]);
  const IrValue* s0 = p.Value(sources[0]);
  if (!d0 || !s0 || !SameRegister(*d0, *s0)) return false;
  for (std::uint32_t i = 0; i < n; ++i)
    for (std::uint32_t j = 0; j < n; ++j) {
      const IrValue* s = p.Value(sources[m == 1 ? 0 : std::min(i, m - 1)]);
      const IrValue* d = p.Value(destinations[j]);
      if (i != j && s && d && s->component == d->component) return true;
    }
  return false;
}

}  // namespace

// --- The walk ----------------------------------------------------------------------------

HRESULT VertexShaderTarget::MapOperation() {
  const HRESULT sorted = SortAllResultsByComponent();
  if (FAILED(sorted)) return sorted;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    if (!Instruction(i)) continue;
    SetCurrentInstruction(i);
    const std::uint32_t group = current->Group();
    HRESULT hr = S_OK;
    if (!Version2() && group != kOpNop) {
      for (std::uint32_t k = 0; k < current->argumentCount; ++k) {
        const IrValue* v = Value(current->arguments[k]);
        if (v && v->relativeIndex != kNoIndex) {
          hr = LoadAddressRegister(v->relativeIndex);
          break;
        }
      }
    }
    if (SUCCEEDED(hr)) {
      switch (group) {
        case 0x105:
          hr = EmitVertexExp();
          break;
        case 0x106:
          hr = EmitVertexLog();
          break;
        case 0x710:
          hr = EmitVertexFraction();
          break;
        case 0x743:
        case 0x744:
        case 0x745:
        case 0x746:
        case 0x747:
          hr = (profileLimits.secondFlags & kVertexBreakCompare) ? EmitStandardRule(group) : E_NOTIMPL;
          break;
        case 0x000:
        case 0x100:
        case 0x101:
        case 0x103:
        case 0x104:
        case 0x107:
        case 0x10F:
        case 0x112:
        case 0x113:
        case 0x115:
        case 0x200:
        case 0x201:
        case 0x202:
        case 0x203:
        case 0x204:
        case 0x205:
        case 0x207:
        case 0x208:
        case 0x209:
        case 0x500:
        case 0x501:
        case 0x503:
        case 0x709:
        case 0x70D:
        case 0x74A:
        case 0x74B:
          hr = EmitStandardRule(group);
          break;
        default:
          hr = (group >= 0x700 && group <= 0x707) || (group >= 0x730 && group <= 0x742) ? EmitStandardRule(group)
                                                                                        : E_NOTIMPL;
          break;
      }
    }
    if (hr == E_NOTIMPL) {
      GXL_SHADER_REPORT(*this, current->sourcePosition, msg::kUnmappedVertexExpression);
      return E_NOTIMPL;
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT VertexShaderTarget::LoadAddressRegister(std::uint32_t index) {
  // The chain of indexes, innermost first: each load reads through the one before.
  std::uint32_t chain[kMaxAddressDepth];
  std::uint32_t depth = 0;
  for (std::uint32_t v = index; v != kNoIndex; v = Value(v)->relativeIndex) {
    if ((versionToken & 0xFFFF) <= 0x100) {
      GXL_SHADER_REPORT(*this, current ? current->sourcePosition : nullptr, msg::kRelativeInVs10);
      return E_NOTIMPL;
    }
    if (!Value(v) || depth == kMaxAddressDepth) return E_FAIL;
    chain[depth++] = v;
  }
  while (depth--) {
    const std::uint32_t v = chain[depth];
    if (addressCache == v) continue;
    HRESULT hr = BeginInstruction(kOpcodeMov);
    if (SUCCEEDED(hr)) hr = WriteDestinationToken(0xB0000000, 0x10000, 0);
    if (SUCCEEDED(hr)) hr = WriteSource(&v, 1, 0x10000, 0, false);
    if (SUCCEEDED(hr)) hr = FinishInstruction();
    if (FAILED(hr)) return hr;
    addressCache = v;
  }
  return S_OK;
}

// --- exp, log and frac --------------------------------------------------------------------

namespace {

// The registers a vs 1.x partial form writes through: the results, staged in
// a register of their own where a write would overwrite a source another
// position still reads, and one scratch register taken on first use.
class PartialForm {
 public:
  explicit PartialForm(VertexShaderTarget& t)
      : m_t(t),
        m_inst(*t.current),
        destinations(m_inst.results),
        m_excluded{t.Value(m_inst.results[0])->reg, kNoIndex} {}

  // `pieces`: the form writes the results by more than one instruction, which
  // an output register cannot take (a texture coordinate only takes .x, .xy,
  // .xyz or .xyzw), so they are staged and moved out by one write.
  HRESULT Stage(bool pieces = false) {
    const std::uint32_t n = m_inst.resultCount;
    const bool output = pieces && m_t.Value(m_inst.results[0])->bank == m_t.StandardBankIndex(StandardBank::Outputs);
    if (!output && !WritesSourceFirst(m_t, m_inst.results, m_inst.arguments, n, m_inst.argumentCount)) return S_OK;
    std::uint32_t highest = 0, all[4];
    for (std::uint32_t i = 0; i < n; ++i) highest = std::max(highest, m_t.Value(m_inst.results[i])->component);
    const HRESULT hr = m_t.FindFreeTemporary(m_t.currentIndex, highest + 1, all, m_excluded, 1);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < n; ++i) m_staged[i] = all[m_t.Value(m_inst.results[i])->component];
    m_excluded[m_count++] = m_t.Value(all[0])->reg;
    destinations = m_staged;
    return S_OK;
  }
  // Component c of the scratch register.
  HRESULT Scratch(std::uint32_t c, std::uint32_t** out) {
    if (!m_haveScratch) {
      const HRESULT hr = m_t.FindFreeTemporary(m_t.currentIndex, 4, m_scratch, m_excluded, m_count);
      if (FAILED(hr)) return hr;
      m_haveScratch = true;
    }
    *out = &m_scratch[c];
    return S_OK;
  }
  // `opcode` of the one source into scratch component c, then copied into position i.
  HRESULT Through(DWORD opcode, std::uint32_t c, const std::uint32_t* source, std::uint32_t i, std::uint32_t count) {
    std::uint32_t* t = nullptr;
    HRESULT hr = Scratch(c, &t);
    if (SUCCEEDED(hr)) hr = m_t.WriteInstruction(opcode, t, count, source, nullptr, nullptr, count);
    return SUCCEEDED(hr) ? m_t.WriteInstruction(kOpcodeMov, &destinations[i], count, t, nullptr, nullptr, count) : hr;
  }
  // One scalar to every result: through scratch component c.
  HRESULT Broadcast(DWORD opcode, std::uint32_t c) {
    std::uint32_t* t = nullptr;
    HRESULT hr = Scratch(c, &t);
    if (SUCCEEDED(hr)) hr = m_t.WriteInstruction(opcode, t, 1, m_inst.arguments, nullptr, nullptr, 1);
    if (FAILED(hr)) return hr;
    const std::uint32_t replicated[4] = {*t, *t, *t, *t};
    return m_t.WriteInstruction(kOpcodeMov, m_inst.results, m_inst.resultCount, replicated, nullptr, nullptr,
                                m_inst.resultCount);
  }
  // The staged results moved into their own.
  HRESULT Finish() {
    if (destinations == m_inst.results) return S_OK;
    return m_t.WriteInstruction(kOpcodeMov, m_inst.results, m_inst.resultCount, m_staged, nullptr, nullptr,
                                m_inst.resultCount);
  }

 private:
  VertexShaderTarget& m_t;
  const IrInstruction& m_inst;

 public:
  const std::uint32_t* destinations;

 private:
  std::uint32_t m_staged[4];
  std::uint32_t m_scratch[4];
  bool m_haveScratch = false;
  std::uint32_t m_excluded[2];
  std::uint32_t m_count = 1;
};

}  // namespace

HRESULT VertexShaderTarget::EmitVertexExp() { return EmitVertexExpLog(kOpcodeExp, kOpcodeExpp, true); }
HRESULT VertexShaderTarget::EmitVertexLog() { return EmitVertexExpLog(kOpcodeLog, kOpcodeLogp, false); }

HRESULT VertexShaderTarget::EmitVertexExpLog(DWORD full, DWORD partial, bool exactXW) {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.resultCount, m = inst.argumentCount;
  if (n == 0 || n > 4 || m == 0) return E_FAIL;
  bool partialPrecision = true;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue* r = Value(inst.results[i]);
    if (!r) return E_FAIL;
    partialPrecision &= (r->flags & kValueHalf) != 0;
  }
  if (!partialPrecision || Version2())
    return EmitScalarOperation(partialPrecision ? partial : full, inst.results, inst.arguments, n, m, 0);

  // vs 1.x partial forms: z holds the result; x and w only in special cases.
  PartialForm form(*this);
  if (n > m) return form.Broadcast(partial, 2);
  HRESULT hr = form.Stage();
  for (std::uint32_t i = 0; i < n && SUCCEEDED(hr); ++i) {
    const std::uint32_t* source = &inst.arguments[i];
    const IrValue* s = Value(*source);
    const std::uint32_t component = Value(inst.results[i])->component;
    const bool direct = component == 2 || (exactXW && component == 0 && (s->flags & kValueInteger)) ||
                        (exactXW && component == 3 && (s->flags & kValueNonNegative) && (s->flags & kValueNonPositive));
    hr = direct ? WriteInstruction(partial, &form.destinations[i], 1, source, nullptr, nullptr, 1)
                : form.Through(partial, 2, source, i, 1);
  }
  return SUCCEEDED(hr) ? form.Finish() : hr;
}

HRESULT VertexShaderTarget::EmitVertexFraction() {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.resultCount, m = inst.argumentCount;
  if (n == 0 || n > 4 || m == 0 || !Value(inst.results[0])) return E_FAIL;
  PartialForm form(*this);
  if (n > m) return form.Broadcast(kOpcodeExpp, 1);
  // The two passes write in another order than the positions: the results
  // are staged where any write could precede a read of the same component.
  // More than two results take more than one write.
  HRESULT hr = form.Stage(n > 2);
  auto component = [&](std::uint32_t i) { return Value(inst.results[i])->component; };
  for (int pass = 0; pass < 2 && SUCCEEDED(hr); ++pass) {
    for (std::uint32_t i = 0; i < n && SUCCEEDED(hr);) {
      const std::uint32_t* source = &inst.arguments[i];
      if (component(i) == 1 && i + 2 < n) {
        if (pass == 1) hr = WriteInstruction(kOpcodeExpp, &form.destinations[i], 1, source, nullptr, nullptr, 1);
        i += 1;
      } else if (i + 1 < n) {
        if (component(i) == 0 && component(i + 1) == 1) {
          if (pass == 1) hr = WriteInstruction(kOpcodeFrc, &form.destinations[i], 2, source, nullptr, nullptr, 2);
        } else if (pass == 0) {
          hr = form.Through(kOpcodeFrc, 0, source, i, 2);
        }
        i += 2;
      } else {
        if (pass == 0) hr = form.Through(kOpcodeExpp, 1, source, i, 1);
        i += 1;
      }
    }
  }
  return SUCCEEDED(hr) ? form.Finish() : hr;
}

}  // namespace gxl::shader
