// Instructions combined into wider ones: sums of products read once become
// dot products, and like instructions merge into one of up to four
// components.
//
// Merging, as this pass does it: an instruction A (component-wise, not
// special, not one of the scalar operations, only moves on targets with
// fixed operands) merges with an instruction B of the same operation that
// stands within 32 instructions of it, after the definitions of A's
// arguments and before the first reader of A's results, when both write
// temporaries under one guard and together at most four components. The
// merged instruction stands where B stood. Their results must share a
// register, or the results of one of them, read by no group that also reads
// another instruction's, move into free components of the other's register;
// A's result components must hold no other value, so that writing them at
// B's place overwrites nothing. Every argument group of the merged
// instruction must read one register, commutative operands taken in either
// order.
#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kReach = 32;

class InstructionCombiner {
 public:
  explicit InstructionCombiner(ShaderProgram& p) : m_p(p) {}
  HRESULT Run();

 private:
  HRESULT FormDotProducts();
  HRESULT Merge();
  // A dot product or scalar product feeding only the sum at `position`: its pairs.
  std::uint32_t Pairs(std::uint32_t value, std::uint32_t position, std::uint32_t* left, std::uint32_t* right,
                      std::uint32_t* definer) const;
  // Replaces instruction `position` by the new instruction `made`.
  void Replace(std::uint32_t position, std::uint32_t made);
  bool Mergeable(const IrInstruction& inst) const;
  HRESULT TryMerge(std::uint32_t a, std::uint32_t b, bool* merged);
  // Results of `position` read only in groups of its own.
  bool Movable(std::uint32_t position) const { return !m_shared[position]; }
  HRESULT Analyse();

  ShaderProgram& m_p;
  std::unique_ptr<bool[]> m_shared;          // per instruction: a group reads its results with others'
  std::unique_ptr<std::uint32_t[]> m_count;  // per temporary register component: values there
  std::uint32_t m_registers = 0;
  bool m_changed = false;
};

void InstructionCombiner::Replace(std::uint32_t position, std::uint32_t made) {
  std::swap(m_p.instructions.Slot(position), m_p.instructions.Slot(made));
  opt::Empty(*m_p.instructions[made]);
}

std::uint32_t InstructionCombiner::Pairs(std::uint32_t value, std::uint32_t position, std::uint32_t* left,
                                         std::uint32_t* right, std::uint32_t* definer) const {
  const IrValue* v = m_p.values[value];
  if (!v || !alloc::IsTemporary(m_p, value) || v->useCount != 1 || v->firstUse != position || v->lastUse != position ||
      v->binding != 0)
    return 0;
  const IrInstruction* d = m_p.instructions[*definer = v->definingPosition];
  if (alloc::IsEmpty(d) || d->resultCount != 1) return 0;
  const std::uint32_t n = d->word == IrWord(kOpMultiply, 1) ? 1 : d->IsDot() ? d->Width() : 0;
  if (n == 0 || n > 4 || d->argumentCount != 2 * n) return 0;
  std::copy(d->arguments, d->arguments + n, left);
  std::copy(d->arguments + n, d->arguments + 2 * n, right);
  return n;
}

HRESULT InstructionCombiner::FormDotProducts() {
  const std::uint32_t capabilities = m_p.profileLimits.capabilities;
  if (capabilities & cap::kFixedOperands) return S_OK;
  const std::uint32_t smallest = capabilities & cap::kDot2 ? 2 : 3;
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    const IrInstruction& sum = *m_p.instructions[position];
    if (sum.word != IrWord(kOpAdd, 1) || sum.argumentCount != 2 || sum.resultCount != 1) continue;
    std::uint32_t left[2][4], right[2][4], definer[2];
    const std::uint32_t n0 = Pairs(sum.arguments[0], position, left[0], right[0], &definer[0]);
    const std::uint32_t n1 = n0 ? Pairs(sum.arguments[1], position, left[1], right[1], &definer[1]) : 0;
    const std::uint32_t n = n0 + n1;
    if (!n1 || definer[0] == definer[1] || n < smallest || n > 4) continue;
    const opt::Guard guard = opt::GuardOf(*m_p.values[sum.results[0]]);
    if (!(opt::GuardOf(*m_p.values[sum.arguments[0]]) == guard) ||
        !(opt::GuardOf(*m_p.values[sum.arguments[1]]) == guard))
      continue;
    for (std::uint32_t first = 0; first < 2; ++first) {
      std::uint32_t arguments[8];
      const std::uint32_t a = first, b = 1 - first;
      const std::uint32_t na = a ? n1 : n0, nb = b ? n1 : n0;
      std::copy(left[a], left[a] + na, arguments);
      std::copy(left[b], left[b] + nb, arguments + na);
      std::copy(right[a], right[a] + na, arguments + n);
      std::copy(right[b], right[b] + nb, arguments + n + na);
      HRESULT hr;
      if (!alloc::MakeGroupAddressable(m_p, arguments, n, sum, position, alloc::Repair::kRepoint, nullptr, &hr) ||
          !alloc::MakeGroupAddressable(m_p, arguments + n, n, sum, position, alloc::Repair::kRepoint, nullptr, &hr)) {
        if (FAILED(hr)) return hr;
        continue;
      }
      const std::uint32_t made = alloc::NewInstruction(m_p, IrWord(kOpDot, n), arguments, sum.results, sum);
      if (made == kNoIndex) return E_OUTOFMEMORY;
      Replace(position, made);
      opt::Empty(*m_p.instructions[definer[0]]);
      opt::Empty(*m_p.instructions[definer[1]]);
      m_changed = true;
      break;
    }
  }
  return S_OK;
}

HRESULT InstructionCombiner::Analyse() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = m_p.instructions.Count();
  const std::uint32_t temporaries = alloc::TemporaryBank(m_p);
  m_registers = alloc::NextFreeRegister(m_p, temporaries);
  m_shared = alloc::NewArray<bool>(count);
  m_count = alloc::NewArray<std::uint32_t>(std::size_t{m_registers} * 4);
  if (!m_shared || !m_count) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    const IrValue* v = m_p.values[i];
    if (v && v->bank == temporaries && v->reg < m_registers && v->component < 4) ++m_count[v->reg * 4 + v->component];
  }
  for (std::uint32_t position = 0; position < count; ++position) {
    const IrInstruction* inst = m_p.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    std::uint32_t* group;
    for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g) {
      bool mixed = false;
      for (std::uint32_t k = 1; k < w && !mixed; ++k)
        mixed = m_p.values[group[k]] && m_p.values[group[0]] &&
                m_p.values[group[k]]->definingPosition != m_p.values[group[0]]->definingPosition;
      for (std::uint32_t k = 0; k < w && mixed; ++k)
        if (const IrValue* v = m_p.values[group[k]]; v && v->definingPosition < count)
          m_shared[v->definingPosition] = true;
    }
  }
  return S_OK;
}

bool InstructionCombiner::Mergeable(const IrInstruction& inst) const {
  if (alloc::IsEmpty(&inst) || !inst.IsArithmetic() || IsSpecialOperation(&inst) || InOperationSet2(inst.word) ||
      inst.Width() == 0 || inst.Width() > 3 || inst.resultCount != inst.Width())
    return false;
  if ((m_p.profileLimits.capabilities & cap::kFixedOperands) && inst.Group() != kOpMove) return false;
  for (std::uint32_t k = 0; k < inst.resultCount; ++k) {
    const IrValue* v = m_p.values[inst.results[k]];
    if (!alloc::IsTemporary(m_p, inst.results[k]) || v->binding != 0 || v->alias != kNoIndex || v->reg >= m_registers ||
        v->component >= 4 || !(opt::GuardOf(*v) == opt::GuardOf(*m_p.values[inst.results[0]])))
      return false;
  }
  return true;
}

HRESULT InstructionCombiner::TryMerge(std::uint32_t pa, std::uint32_t pb, bool* merged) {
  IrInstruction &a = *m_p.instructions[pa], &b = *m_p.instructions[pb];
  const std::uint32_t wa = a.Width(), wb = b.Width(), w = wa + wb, groups = a.Class();
  if (!Mergeable(b) || b.word != IrWord(a.Group(), wb) || w > 4 ||
      !(opt::GuardOf(*m_p.values[a.results[0]]) == opt::GuardOf(*m_p.values[b.results[0]])))
    return S_OK;
  // A's result components hold nothing else.
  for (std::uint32_t k = 0; k < wa; ++k) {
    const IrValue& r = *m_p.values[a.results[k]];
    if (m_count[r.reg * 4 + r.component] != 1) return S_OK;
  }
  // The register both write: B's, A's results moving there, or the reverse.
  std::uint32_t mask[2] = {0, 0};
  for (std::uint32_t k = 0; k < wa; ++k) mask[0] |= 1u << m_p.values[a.results[k]]->component;
  for (std::uint32_t k = 0; k < wb; ++k) mask[1] |= 1u << m_p.values[b.results[k]]->component;
  const bool shareRegister = m_p.SameRegisterIndex(a.results[0], b.results[0]);
  std::uint32_t mover = 2, target = 0;
  if (shareRegister) {
    if (mask[0] & mask[1]) return S_OK;
  } else {
    if (m_p.profileLimits.capabilities & cap::kFixedOperands) return S_OK;
    for (std::uint32_t side = 0; side < 2 && mover == 2; ++side) {
      const IrInstruction& moving = side ? b : a;
      const IrInstruction& staying = side ? a : b;
      if (!Movable(side ? pb : pa)) continue;
      const IrValue& home = *m_p.values[staying.results[0]];
      std::uint32_t free = 0;
      for (std::uint32_t c = 0; c < 4; ++c) free += m_count[home.reg * 4 + c] == 0;
      if (free >= moving.Width()) {
        mover = side;
        target = home.reg;
      }
    }
    if (mover == 2) return S_OK;
  }

  // The groups of the merged instruction, commutative operands in either order.
  const bool commutative = groups == 2 && InOperationSet3(a.word);
  std::uint32_t arguments[16];
  bool found = false;
  for (std::uint32_t swaps = 0; swaps < (commutative ? 4u : 1u) && !found; ++swaps) {
    for (std::uint32_t g = 0; g < groups; ++g) {
      const std::uint32_t ga = (swaps & 1) ? 1 - g : g, gb = (swaps & 2) ? 1 - g : g;
      std::copy(alloc::Group(a, ga), alloc::Group(a, ga) + wa, arguments + g * w);
      std::copy(alloc::Group(b, gb), alloc::Group(b, gb) + wb, arguments + g * w + wa);
    }
    found = true;
    for (std::uint32_t g = 0; g < groups && found; ++g) {
      HRESULT hr;
      found = alloc::MakeGroupAddressable(m_p, arguments + g * w, w, b, pb, alloc::Repair::kRepoint, nullptr, &hr);
      if (FAILED(hr)) return hr;
    }
  }
  if (!found) return S_OK;

  std::uint32_t results[4];
  std::copy(a.results, a.results + wa, results);
  std::copy(b.results, b.results + wb, results + wa);
  const std::uint32_t made = alloc::NewInstruction(m_p, IrWord(a.Group(), w), arguments, results, b);
  if (made == kNoIndex) return E_OUTOFMEMORY;
  if (mover != 2) {
    const IrInstruction& moving = mover ? b : a;
    for (std::uint32_t k = 0, c = 0; k < moving.Width(); ++k) {
      IrValue& v = *m_p.values[moving.results[k]];
      while (m_count[target * 4 + c] != 0) ++c;
      --m_count[v.reg * 4 + v.component];
      v.reg = target;
      v.component = c;
      ++m_count[target * 4 + c];
    }
  }
  // Def-use kept current for the windows of later candidates.
  for (std::uint32_t k = 0; k < wa; ++k) m_p.values[a.results[k]]->definingPosition = pb;
  for (std::uint32_t i = 0; i < a.argumentCount; ++i) {
    IrValue& v = *m_p.values[a.arguments[i]];
    v.firstUse = std::min(v.firstUse, pb);
    v.lastUse = v.lastUse == kNoIndex ? pb : std::max(v.lastUse, pb);
  }
  m_shared[pb] = true;  // the analysis no longer covers the merged results
  opt::Empty(a);
  Replace(pb, made);
  *merged = true;
  return S_OK;
}

HRESULT InstructionCombiner::Merge() {
  HRESULT hr = Analyse();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = m_shared ? m_p.instructions.Count() : 0;
  for (std::uint32_t pa = 0; pa < count; ++pa) {
    const IrInstruction& a = *m_p.instructions[pa];
    if (!Mergeable(a)) continue;
    std::uint32_t low = 0, high = count;
    for (std::uint32_t i = 0; i < a.argumentCount; ++i) {
      const IrValue* v = m_p.values[a.arguments[i]];
      if (v && v->definingPosition != kNoIndex) low = std::max(low, v->definingPosition + 1);
    }
    for (std::uint32_t k = 0; k < a.resultCount; ++k) high = std::min(high, m_p.values[a.results[k]]->firstUse);
    low = std::max(low, pa > kReach ? pa - kReach : 0);
    high = std::min(high, pa + kReach + 1);
    bool merged = false;
    for (std::uint32_t pb = low; pb < high && pb < count && !merged; ++pb)
      if (pb != pa && FAILED(hr = TryMerge(pa, pb, &merged))) return hr;
    m_changed |= merged;
  }
  return S_OK;
}

HRESULT InstructionCombiner::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  m_p.NumberValues();
  if (FAILED(hr = FormDotProducts()) || FAILED(hr = Merge())) return hr;
  if (FAILED(hr = m_p.CompactInstructions())) return hr;
  return m_changed ? S_OK : S_FALSE;
}

}  // namespace

HRESULT ShaderProgram::CombineInstructions() { return InstructionCombiner(*this).Run(); }

}  // namespace gxl::shader
