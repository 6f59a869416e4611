// Every operand group made to read one register: groups are repaired where
// they can be, and instructions whose groups still span registers are split
// per source register; the parts of a split dot product are summed.
#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

class OperandLegalizer {
 public:
  explicit OperandLegalizer(ShaderProgram& p) : m_p(p) {}
  HRESULT Run();

 private:
  HRESULT Legalize(std::uint32_t position);
  HRESULT SplitComponentwise(const IrInstruction& inst);
  HRESULT SplitDotProduct(const IrInstruction& inst);
  // Positions of `inst` not yet taken that read the registers position j
  // reads, in every group.
  std::uint32_t Agreeing(const IrInstruction& inst, std::uint32_t j, bool* taken, std::uint32_t* positions) const;
  std::uint32_t One() {
    if (m_one == kNoIndex) m_one = alloc::NewLiteral(m_p, 1.0);
    return m_one;
  }

  ShaderProgram& m_p;
  std::uint32_t m_old = 0;  // instructions before the pass; the rebuilt list follows them
  std::uint32_t m_next = 0;
  std::uint32_t m_one = kNoIndex;
};

std::uint32_t OperandLegalizer::Agreeing(const IrInstruction& inst, std::uint32_t j, bool* taken,
                                         std::uint32_t* positions) const {
  const std::uint32_t w = inst.Width(), groups = inst.argumentCount / w;
  std::uint32_t n = 0;
  for (std::uint32_t k = j; k < w && n < 4; ++k) {
    bool agree = !taken[k];
    for (std::uint32_t g = 0; g < groups && agree; ++g)
      agree = m_p.SameRegisterIndex(opt::Column(inst, g, j), opt::Column(inst, g, k));
    if (!agree) continue;
    taken[k] = true;
    positions[n++] = k;
  }
  return n;
}

HRESULT OperandLegalizer::SplitComponentwise(const IrInstruction& inst) {
  const std::uint32_t w = inst.Width(), groups = inst.argumentCount / w;
  auto takenArray = alloc::NewArray<bool>(w);
  if (!takenArray) return E_OUTOFMEMORY;
  std::uint32_t positions[4];
  for (std::uint32_t j = 0; j < w; ++j) {
    if (takenArray[j]) continue;
    const std::uint32_t n = Agreeing(inst, j, takenArray.get(), positions);
    const std::uint32_t index = alloc::NewInstruction(m_p, IrWord(inst.Group(), n), nullptr, nullptr, inst);
    IrInstruction* part = m_p.instructions[index];
    if (!part) return E_OUTOFMEMORY;
    for (std::uint32_t k = 0; k < n; ++k) {
      for (std::uint32_t g = 0; g < groups; ++g) part->arguments[g * n + k] = opt::Column(inst, g, positions[k]);
      part->results[k] = inst.results[positions[k]];
    }
  }
  return S_OK;
}

HRESULT OperandLegalizer::SplitDotProduct(const IrInstruction& inst) {
  const std::uint32_t w = inst.Width(), result = inst.results[0];
  bool taken[4] = {false, false, false, false};
  std::uint32_t positions[4], partials[4], moves[4], parts = 0;
  const std::uint32_t reg = m_next++;
  for (std::uint32_t j = 0; j < w; ++j) {
    if (taken[j]) continue;
    const std::uint32_t n = Agreeing(inst, j, taken, positions);
    const std::uint32_t partial = alloc::NewTemporary(m_p, reg, parts, result);
    if (partial == kNoIndex) return E_OUTOFMEMORY;
    std::uint32_t arguments[8];
    for (std::uint32_t k = 0; k < n; ++k) {
      arguments[k] = opt::Column(inst, 0, positions[k]);
      arguments[n + k] = opt::Column(inst, 1, positions[k]);
    }
    // One pair is a product, or a move of what the literal 1.0 multiplies.
    std::uint32_t word = IrWord(kOpDot, n);
    moves[parts] = kNoIndex;
    if (n == 1) {
      const IrValue *a = m_p.values[arguments[0]], *b = m_p.values[arguments[1]];
      const bool aOne = opt::IsLiteral(m_p, arguments[0]) && a->rangeLow == 1.0;
      const bool bOne = opt::IsLiteral(m_p, arguments[1]) && b->rangeLow == 1.0;
      word = IrWord(aOne || bOne ? kOpMove : kOpMultiply, 1);
      if (aOne) arguments[0] = arguments[1];
    }
    const std::uint32_t index = alloc::NewInstruction(m_p, word, arguments, &partial, inst);
    IrInstruction* part = m_p.instructions[index];
    if (!part) return E_OUTOFMEMORY;
    if (part->IsDot()) {
      if (HRESULT hr = m_p.FoldDotProduct(*part, false); FAILED(hr)) return hr;
    } else if (part->IsMove()) {
      moves[parts] = index;
    }
    partials[parts++] = partial;
  }
  std::uint32_t index;
  if (parts == 2) {
    // A part that only moves a value is read where it stands.
    for (std::uint32_t k = 0; k < 2; ++k) {
      if (moves[k] == kNoIndex) continue;
      IrInstruction& move = *m_p.instructions[moves[k]];
      partials[k] = move.arguments[0];
      opt::Empty(move);
    }
    index = alloc::NewInstruction(m_p, IrWord(kOpAdd, 1), partials, &result, inst);
  } else {
    const std::uint32_t one = One();
    if (one == kNoIndex) return E_OUTOFMEMORY;
    std::uint32_t arguments[8];
    for (std::uint32_t k = 0; k < parts; ++k) {
      arguments[k] = partials[k];
      arguments[parts + k] = one;
    }
    index = alloc::NewInstruction(m_p, IrWord(kOpDot, parts), arguments, &result, inst);
  }
  return index == kNoIndex ? E_OUTOFMEMORY : S_OK;
}

HRESULT OperandLegalizer::Legalize(std::uint32_t position) {
  IrInstruction& inst = *m_p.instructions[position];
  // A loop's entry reads values from before the loop: what its groups need is
  // built in front of the loop-begin and in the loop-begin's block, not
  // inside the loop, where it would run again on every iteration.
  // Vector packing may have cut the entry into one instruction per register.
  if (inst.Group() == kOpLoopBegin) {
    for (std::uint32_t next = position + 1; next < m_old; ++next) {
      IrInstruction* entry = m_p.instructions[next];
      if (alloc::IsEmpty(entry)) continue;
      if (entry->Group() != kOpLoopEntry) break;
      std::uint32_t* group;
      for (std::uint32_t g = 0, w; (w = entry->ArgumentGroup(g, &group)) != 0; ++g) {
        HRESULT hr;
        alloc::MakeGroupAddressable(m_p, group, w, inst, position, alloc::Repair::kBuild, &m_next, &hr);
        if (FAILED(hr)) return hr;
      }
    }
  }
  // A loop's entry and end carry its values as one list: they are never split.
  const bool loop = inst.Group() == kOpLoopEntry || inst.Group() == kOpLoopEnd;
  const bool componentwise = inst.IsArithmetic() && inst.Width() != 0 && !loop;
  const bool dot = inst.IsDot() && inst.Width() != 0 && inst.Width() <= 4 && inst.argumentCount == 2 * inst.Width() &&
                   inst.resultCount == 1;
  // Groups of instructions that cannot be split are rebuilt in a register of their own.
  const alloc::Repair repair = componentwise || dot ? alloc::Repair::kRepoint : alloc::Repair::kBuild;
  bool addressable = true;
  std::uint32_t* group;
  for (std::uint32_t g = 0, w; (w = inst.ArgumentGroup(g, &group)) != 0; ++g) {
    HRESULT hr;
    addressable &= alloc::MakeGroupAddressable(m_p, group, w, inst, position, repair, &m_next, &hr);
    if (FAILED(hr)) return hr;
  }
  if (addressable || InOperationSet1(inst.word) || (!componentwise && !dot))
    return m_p.AddInstructionCopy(&inst) == kNoIndex ? E_OUTOFMEMORY : S_OK;
  return componentwise ? SplitComponentwise(inst) : SplitDotProduct(inst);
}

HRESULT OperandLegalizer::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  m_p.NumberValues();
  m_next = alloc::NextFreeRegister(m_p, alloc::TemporaryBank(m_p));
  const std::uint32_t old = m_old = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < old; ++position) {
    if (alloc::IsEmpty(m_p.instructions[position])) continue;
    if (FAILED(hr = Legalize(position))) {
      for (std::uint32_t j = old; j < m_p.instructions.Count(); ++j) delete m_p.instructions.Slot(j);
      m_p.instructions.Truncate(old);
      return hr;
    }
  }
  for (std::uint32_t position = 0; position < old; ++position)
    if (IrInstruction* inst = m_p.instructions[position]) opt::Empty(*inst);
  for (HRESULT (ShaderProgram::*pass)() :
       {&ShaderProgram::RemoveDeadCode, &ShaderProgram::CompactInstructions, &ShaderProgram::MergeDuplicateValues}) {
    if (FAILED(hr = (m_p.*pass)())) return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT ShaderProgram::LegalizeOperands() { return OperandLegalizer(*this).Run(); }

}  // namespace gxl::shader
