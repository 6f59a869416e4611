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
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    if (!Instruction(i)) continue;
    SetCurrentInstruction(i);
    const HRESULT hr = SortResultsByComponent();
    if (FAILED(hr)) return hr;
  }
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
  std::uint32_t scratch[4];  // t: the partial result's z
  bool haveScratch = false;
  auto takeScratch = [&](const std::uint32_t* excluded, std::uint32_t count) -> HRESULT {
    if (haveScratch) return S_OK;
    haveScratch = true;
    return FindFreeTemporary(currentIndex, 4, scratch, excluded, count);
  };
  if (n > m) {  // one scalar to every result
    HRESULT hr = takeScratch(nullptr, 0);
    if (SUCCEEDED(hr)) hr = WriteInstruction(partial, &scratch[2], 1, inst.arguments, nullptr, nullptr, 1);
    if (FAILED(hr)) return hr;
    std::uint32_t replicated[4] = {scratch[2], scratch[2], scratch[2], scratch[2]};
    return WriteInstruction(kOpcodeMov, inst.results, n, replicated, nullptr, nullptr, n);
  }
  // Results go to a register of their own first where a direct write would
  // overwrite a source another position still reads.
  const std::uint32_t* destinations = inst.results;
  std::uint32_t staged[4];
  const bool hazard = WritesSourceFirst(*this, inst.results, inst.arguments, n, m);
  std::uint32_t stagedRegister = kNoIndex;
  if (hazard) {
    std::uint32_t highest = 0, all[4];
    for (std::uint32_t i = 0; i < n; ++i) highest = std::max(highest, Value(inst.results[i])->component);
    const std::uint32_t excluded = Value(inst.results[0])->reg;
    HRESULT hr = FindFreeTemporary(currentIndex, highest + 1, all, &excluded, 1);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < n; ++i) staged[i] = all[Value(inst.results[i])->component];
    stagedRegister = Value(all[0])->reg;
    destinations = staged;
  }
  const std::uint32_t excluded[2] = {Value(inst.results[0])->reg, stagedRegister};
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t source = inst.arguments[i];
    const IrValue* s = Value(source);
    const std::uint32_t component = Value(inst.results[i])->component;
    const bool direct = component == 2 || (exactXW && component == 0 && (s->flags & kValueInteger)) ||
                        (exactXW && component == 3 && (s->flags & kValueNonNegative) && (s->flags & kValueNonPositive));
    HRESULT hr;
    if (direct) {
      hr = WriteInstruction(partial, &destinations[i], 1, &source, nullptr, nullptr, 1);
    } else {
      hr = takeScratch(excluded, hazard ? 2 : 1);
      if (SUCCEEDED(hr)) hr = WriteInstruction(partial, &scratch[2], 1, &source, nullptr, nullptr, 1);
      if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMov, &destinations[i], 1, &scratch[2], nullptr, nullptr, 1);
    }
    if (FAILED(hr)) return hr;
  }
  return hazard ? WriteInstruction(kOpcodeMov, inst.results, n, staged, nullptr, nullptr, n) : S_OK;
}

HRESULT VertexShaderTarget::EmitVertexFraction() {
  const IrInstruction& inst = *current;
  const std::uint32_t n = inst.resultCount, m = inst.argumentCount;
  if (n == 0 || n > 4 || m == 0) return E_FAIL;
  std::uint32_t scratch[4];
  bool haveScratch = false;
  std::uint32_t excluded[2] = {Value(inst.results[0]) ? Value(inst.results[0])->reg : kNoIndex, kNoIndex};
  auto takeScratch = [&](std::uint32_t count) -> HRESULT {
    if (haveScratch) return S_OK;
    haveScratch = true;
    return FindFreeTemporary(currentIndex, 4, scratch, excluded, count);
  };
  if (n > m) {
    HRESULT hr = takeScratch(0);
    if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeExpp, &scratch[1], 1, inst.arguments, nullptr, nullptr, 1);
    if (FAILED(hr)) return hr;
    std::uint32_t replicated[4] = {scratch[1], scratch[1], scratch[1], scratch[1]};
    return WriteInstruction(kOpcodeMov, inst.results, n, replicated, nullptr, nullptr, n);
  }
  // The two passes write in another order than the positions: stage the
  // results where any write could precede a read of the same component.
  const std::uint32_t* destinations = inst.results;
  std::uint32_t staged[4];
  const bool hazard = WritesSourceFirst(*this, inst.results, inst.arguments, n, m);
  if (hazard) {
    std::uint32_t highest = 0, all[4];
    for (std::uint32_t i = 0; i < n; ++i) highest = std::max(highest, Value(inst.results[i])->component);
    HRESULT hr = FindFreeTemporary(currentIndex, highest + 1, all, excluded, 1);
    if (FAILED(hr)) return hr;
    for (std::uint32_t i = 0; i < n; ++i) staged[i] = all[Value(inst.results[i])->component];
    excluded[1] = Value(all[0])->reg;
    destinations = staged;
  }
  const std::uint32_t excludedCount = hazard ? 2 : 1;
  auto component = [&](std::uint32_t i) { return Value(inst.results[i])->component; };
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint32_t i = 0; i < n;) {
      HRESULT hr = S_OK;
      if (component(i) == 1 && i + 2 < n) {
        if (pass == 1) hr = WriteInstruction(kOpcodeExpp, &destinations[i], 1, &inst.arguments[i], nullptr, nullptr, 1);
        i += 1;
      } else if (i + 1 < n) {
        if (component(i) == 0 && component(i + 1) == 1) {
          if (pass == 1)
            hr = WriteInstruction(kOpcodeFrc, &destinations[i], 2, &inst.arguments[i], nullptr, nullptr, 2);
        } else if (pass == 0) {
          hr = takeScratch(excludedCount);
          if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeFrc, scratch, 2, &inst.arguments[i], nullptr, nullptr, 2);
          if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMov, &destinations[i], 2, scratch, nullptr, nullptr, 2);
        }
        i += 2;
      } else {
        if (pass == 0) {
          hr = takeScratch(excludedCount);
          if (SUCCEEDED(hr))
            hr = WriteInstruction(kOpcodeExpp, &scratch[1], 1, &inst.arguments[i], nullptr, nullptr, 1);
          if (SUCCEEDED(hr)) hr = WriteInstruction(kOpcodeMov, &destinations[i], 1, &scratch[1], nullptr, nullptr, 1);
        }
        i += 1;
      }
      if (FAILED(hr)) return hr;
    }
  }
  return hazard ? WriteInstruction(kOpcodeMov, inst.results, n, staged, nullptr, nullptr, n) : S_OK;
}

}  // namespace gxl::shader
