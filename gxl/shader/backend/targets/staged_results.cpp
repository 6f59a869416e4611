// Results an instruction cannot write where they lie, written into a fresh
// temporary register that a move right after it copies across: before
// register assignment, so the copy is assigned (and legalised) like any.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

namespace {

// nrm takes its length from the x, y and z its source swizzle puts in the
// first three places, which are the places of the results written to x, y
// and z: the vector must lie there, and any fourth result in w.
bool NormalizeInPlace(const ShaderProgram& p, const IrInstruction& nrm) {
  for (std::uint32_t j = 0; j < nrm.resultCount; ++j) {
    const IrValue* r = p.Value(nrm.results[j]);
    if (!r || r->component > 3 || (r->component < 3) != (j < 3)) return false;
  }
  return true;
}

}  // namespace

std::uint32_t ShaderTarget::NextTemporaryRegister() const {
  const std::uint32_t bank = StandardBankIndex(StandardBank::Temporaries);
  // Values without a register yet take no register number.
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (const IrValue* v = Value(i); v && v->bank == bank && v->reg != kNoIndex) next = std::max(next, v->reg + 1);
  return next;
}

HRESULT ShaderTarget::NewTemporaryRegister(std::uint32_t count, std::uint32_t* out) {
  const std::uint32_t bank = StandardBankIndex(StandardBank::Temporaries), reg = NextTemporaryRegister();
  for (std::uint32_t c = 0; c < count; ++c)
    if ((out[c] = AddValue(bank, reg, c, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT ShaderTarget::StageResults(std::uint32_t index, bool packed) {
  IrInstruction* inst = Instruction(index);
  const std::uint32_t n = inst ? inst->resultCount : 0;
  if (n == 0 || n > 4) return E_FAIL;
  const std::uint32_t bank = StandardBankIndex(StandardBank::Temporaries), reg = NextTemporaryRegister();
  IrInstruction* move = sel::NewInstruction(IrWord(kOpMove, n), n, n);
  if (!move) return E_OUTOFMEMORY;
  for (std::uint32_t r = 0; r < n; ++r) {
    const IrValue& old = *Value(inst->results[r]);
    const std::uint32_t staged = AddValue(bank, reg, packed ? r : old.component & 3, 0.0);
    if (staged == kNoIndex) {
      delete move;
      return E_OUTOFMEMORY;
    }
    Value(staged)->predicate = old.predicate;
    Value(staged)->predicateSense = old.predicateSense;
    move->arguments[r] = staged;
    move->results[r] = inst->results[r];
    inst->results[r] = staged;
  }
  move->CopySourcePosition(inst);
  if (instructions.Append(move) == kNoIndex) {
    delete move;
    return E_OUTOFMEMORY;
  }
  for (std::uint32_t k = instructions.Count() - 1; k > index + 1; --k)
    std::swap(instructions.Slot(k), instructions.Slot(k - 1));
  return S_OK;
}

HRESULT ShaderTarget::StageNormalizeResults() {
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->Group() != kOpNormalize || inst->resultCount == 0 ||
        Value(inst->results[0])->bank != temporaries || NormalizeInPlace(*this, *inst))
      continue;
    const HRESULT hr = StageResults(i, true);
    if (FAILED(hr)) return hr;
    ++i;  // past the move
  }
  return S_OK;
}

}  // namespace gxl::shader
