// Vector packing: every instruction regrouped into instructions of at most
// four components, each writing one register. Consumers are packed before
// their producers, and each consumer group marks the values it reads with a
// bit of the producer's counter, so that a producer's components are grouped
// the way they are read.
//
// Beyond the consumer marks, the components of one new instruction always
// share their result bank and guard, and a loop's entry and end of up to
// four components stay whole, the loop carrying its values through them as
// one list: results in several registers are then written through
// temporaries and moved where they belong.
#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kComponents = 4;

bool SameBankAndGuard(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  const IrValue *x = p.values[a], *y = p.values[b];
  return x && y && x->bank == y->bank && opt::GuardOf(*x) == opt::GuardOf(*y);
}

// Values whose registers stay: bound register files and relatively addressed arrays.
bool KeepsRegister(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return !v || v->relativeIndex != kNoIndex || (alloc::BankTypeOf(p, value) & (kBankBound | kBankRelative));
}

class VectorPacker {
 public:
  explicit VectorPacker(ShaderProgram& p) : m_p(p) {}
  HRESULT Run();

 private:
  HRESULT Pack(IrInstruction& inst);
  HRESULT PackComponentwise(IrInstruction& inst);
  HRESULT PackDotProduct(IrInstruction& inst);
  HRESULT PackOther(IrInstruction& inst);
  // The instruction as it is; results that lie in several registers are
  // written through temporaries and moved where they belong.
  HRESULT CopyWhole(const IrInstruction& inst);
  void MarkConsumerGroups(const IrInstruction& inst);
  bool SourceRegistersClash(const IrInstruction& inst, std::uint32_t a, std::uint32_t b) const;
  // A new instruction of the packed one's group over `n` of its positions.
  HRESULT Take(const IrInstruction& inst, const std::uint32_t* positions, std::uint32_t n, bool* taken);
  // A dot product of the pairs `pairs` of `inst` (or of the given groups) into `result`.
  HRESULT Dot(const IrInstruction& origin, const std::uint32_t* left, const std::uint32_t* right, std::uint32_t n,
              std::uint32_t result);
  std::uint32_t One();
  void Reverse(std::uint32_t from);

  ShaderProgram& m_p;
  std::uint32_t m_one = kNoIndex;
  PodArray<std::uint32_t> m_touched;
};

std::uint32_t VectorPacker::One() {
  if (m_one == kNoIndex) m_one = alloc::NewLiteral(m_p, 1.0);
  return m_one;
}

void VectorPacker::Reverse(std::uint32_t from) {
  for (std::uint32_t i = from, j = m_p.instructions.Count(); i + 1 < j; ++i, --j)
    std::swap(m_p.instructions.Slot(i), m_p.instructions.Slot(j - 1));
}

void VectorPacker::MarkConsumerGroups(const IrInstruction& inst) {
  if (alloc::IsEmpty(&inst)) return;
  std::uint32_t* group;
  for (std::uint32_t g = 0, w; (w = inst.ArgumentGroup(g, &group)) != 0; ++g) {
    m_touched.Clear();
    for (std::uint32_t k = 0; k < w; ++k) {
      IrValue* v = m_p.values[group[k]];
      IrInstruction* d = v && v->relativeIndex == kNoIndex ? m_p.instructions[v->definingPosition] : nullptr;
      if (!d) continue;
      v->componentMask |= 1u << (d->pinned & 31);
      if (!d->word10) {
        d->word10 = 1;
        if (!m_touched.Append(v->definingPosition)) d->word10 = 0;  // no room: the counter stays
      }
    }
    for (std::size_t i = 0; i < m_touched.Size(); ++i) {
      IrInstruction& d = *m_p.instructions[m_touched[i]];
      d.pinned = (d.pinned + 1) % 32;
      d.word10 = 0;
    }
  }
}

bool VectorPacker::SourceRegistersClash(const IrInstruction& inst, std::uint32_t a, std::uint32_t b) const {
  const std::uint32_t w = inst.Width(), groups = w ? inst.argumentCount / w : 0;
  for (std::uint32_t g = 0; g < groups; ++g) {
    const std::uint32_t x = opt::Column(inst, g, a), y = opt::Column(inst, g, b);
    if ((alloc::BankTypeOf(m_p, x) & kBankBound) && (alloc::BankTypeOf(m_p, y) & kBankBound) && !m_p.SameRegister(x, y))
      return true;
  }
  return false;
}

HRESULT VectorPacker::Take(const IrInstruction& inst, const std::uint32_t* positions, std::uint32_t n, bool* taken) {
  const std::uint32_t w = inst.Width(), groups = inst.argumentCount / w;
  const std::uint32_t index = alloc::NewInstruction(m_p, IrWord(inst.Group(), n), nullptr, nullptr, inst);
  IrInstruction* made = m_p.instructions[index];
  if (!made) return E_OUTOFMEMORY;
  made->pinned = made->word10 = 0;
  for (std::uint32_t j = 0; j < n; ++j) {
    for (std::uint32_t g = 0; g < groups; ++g) made->arguments[g * n + j] = opt::Column(inst, g, positions[j]);
    made->results[j] = inst.results[positions[j]];
    taken[positions[j]] = true;
  }
  return S_OK;
}

HRESULT VectorPacker::PackComponentwise(IrInstruction& inst) {
  const std::uint32_t w = inst.Width();
  auto takenArray = alloc::NewArray<bool>(w);
  if (!takenArray) return E_OUTOFMEMORY;
  bool* taken = takenArray.get();
  std::uint32_t positions[kComponents];
  HRESULT hr;
  if (InOperationSet2(inst.word)) {
    for (std::uint32_t k = 0; k < w; ++k)
      if (FAILED(hr = Take(inst, &k, 1, taken))) return hr;
    return S_OK;
  }
  const std::uint32_t* results = inst.results;
  const std::uint32_t group = inst.Group();
  if ((group == kOpLoopEntry || group == kOpLoopEnd) && w <= kComponents) return CopyWhole(inst);
  // Results in bound register files: one instruction per register.
  for (std::uint32_t k = 0; k < w; ++k) {
    if (taken[k] || !(alloc::BankTypeOf(m_p, results[k]) & kBankBound)) continue;
    std::uint32_t n = 0;
    for (std::uint32_t j = k; j < w; ++j) {
      if (taken[j] || !m_p.SameRegister(results[k], results[j])) continue;
      positions[n++] = j;
      if (n == kComponents) {
        if (FAILED(hr = Take(inst, positions, n, taken))) return hr;
        n = 0;
      }
    }
    if (n && FAILED(hr = Take(inst, positions, n, taken))) return hr;
  }

  bool constrained = IsSpecialOperation(&inst);
  for (std::uint32_t k = 0; k < w; ++k)
    constrained = constrained || (!taken[k] && (alloc::BankTypeOf(m_p, results[k]) & kBankBlockMoves));
  auto fits = [&](std::uint32_t r, std::uint32_t s) {
    return SameBankAndGuard(m_p, results[r], results[s]) && m_p.ComponentsCompatible(results[r], results[s]) &&
           !SourceRegistersClash(inst, r, s);
  };
  for (;;) {
    std::uint32_t remaining = 0, first = kNoIndex;
    for (std::uint32_t k = 0; k < w; ++k) {
      if (taken[k]) continue;
      if (first == kNoIndex) first = k;
      ++remaining;
    }
    if (remaining == 0) return S_OK;
    std::uint32_t n = 0;
    if (remaining <= kComponents && !constrained) {
      for (std::uint32_t k = first; k < w; ++k)
        if (!taken[k] && SameBankAndGuard(m_p, results[first], results[k])) positions[n++] = k;
    } else {
      std::uint32_t leader = first, most = 0;
      for (std::uint32_t r = first; r < w; ++r) {
        if (taken[r]) continue;
        std::uint32_t count = 0;
        for (std::uint32_t s = first; s < w && count < kComponents; ++s) count += !taken[s] && fits(r, s);
        if (count > most) {
          most = count;
          leader = r;
        }
      }
      for (std::uint32_t s = first; s < w && n < kComponents; ++s)
        if (!taken[s] && fits(leader, s)) positions[n++] = s;
    }
    if (FAILED(hr = Take(inst, positions, n, taken))) return hr;
  }
}

HRESULT VectorPacker::Dot(const IrInstruction& origin, const std::uint32_t* left, const std::uint32_t* right,
                          std::uint32_t n, std::uint32_t result) {
  std::uint32_t arguments[2 * kComponents];
  std::copy(left, left + n, arguments);
  std::copy(right, right + n, arguments + n);
  const std::uint32_t index = alloc::NewInstruction(m_p, IrWord(kOpDot, n), arguments, &result, origin);
  if (index == kNoIndex) return E_OUTOFMEMORY;
  m_p.instructions[index]->pinned = m_p.instructions[index]->word10 = 0;
  return S_OK;
}

HRESULT VectorPacker::PackDotProduct(IrInstruction& inst) {
  const std::uint32_t n = inst.Width(), result = inst.results[0];
  const std::uint32_t* a = inst.arguments;
  const std::uint32_t* b = inst.arguments + n;
  if (n <= kComponents) return Dot(inst, a, b, n, result);

  auto takenArray = alloc::NewArray<bool>(n);
  PodArray<std::uint32_t> partials;
  if (!takenArray || !partials.Reserve(n)) return E_OUTOFMEMORY;
  bool* taken = takenArray.get();
  auto agree = [&](std::uint32_t x, std::uint32_t y) {
    return m_p.SameRegisterIndex(x, y) && m_p.values[x]->definingPosition == m_p.values[y]->definingPosition;
  };
  std::uint32_t remaining = n;
  std::uint32_t left[kComponents], right[kComponents], set[kComponents], best[kComponents];
  while (remaining > 0) {
    std::uint32_t size = 0;
    if (remaining <= kComponents) {
      for (std::uint32_t k = 0; k < n; ++k)
        if (!taken[k]) best[size++] = k;
    } else {
      for (std::uint32_t seed = 0; seed < n; ++seed) {
        if (taken[seed]) continue;
        std::uint32_t m = 0;
        for (std::uint32_t k = seed; k < n && m < kComponents; ++k)
          if (!taken[k] && agree(a[seed], a[k]) && agree(b[seed], b[k])) set[m++] = k;
        if (m > size) {
          size = m;
          std::copy(set, set + m, best);
        }
      }
    }
    for (std::uint32_t j = 0; j < size; ++j) {
      left[j] = a[best[j]];
      right[j] = b[best[j]];
      taken[best[j]] = true;
    }
    remaining -= size;
    const std::uint32_t partial = alloc::NewTemporary(m_p, kNoIndex, kNoIndex, result);
    if (partial == kNoIndex) return E_OUTOFMEMORY;
    partials.Append(partial);
    if (HRESULT hr = Dot(inst, left, right, size, partial); FAILED(hr)) return hr;
  }

  // Partial sums, four at a time, until one value is left.
  while (partials.Size() > 1) {
    const bool many = partials.Size() > kComponents;
    std::uint32_t next = 0;
    for (std::size_t start = 0; start < partials.Size(); start += kComponents) {
      const std::uint32_t m = static_cast<std::uint32_t>(std::min<std::size_t>(kComponents, partials.Size() - start));
      const std::uint32_t target = many ? alloc::NewTemporary(m_p, kNoIndex, kNoIndex, result) : result;
      if (target == kNoIndex) return E_OUTOFMEMORY;
      const std::uint32_t* sum = partials.Data() + start;
      std::uint32_t index;
      if (m == 1) {
        index = alloc::NewInstruction(m_p, IrWord(kOpMove, 1), sum, &target, inst);
      } else if (m == 2) {
        index = alloc::NewInstruction(m_p, IrWord(kOpAdd, 1), sum, &target, inst);
      } else {
        const std::uint32_t one = One();
        if (one == kNoIndex) return E_OUTOFMEMORY;
        const std::uint32_t ones[kComponents] = {one, one, one, one};
        index = Dot(inst, sum, ones, m, target) == S_OK ? 0 : kNoIndex;
      }
      if (index == kNoIndex) return E_OUTOFMEMORY;
      partials[next++] = target;  // start >= next: the entries read above are not yet overwritten
    }
    partials.Truncate(next);
  }
  return S_OK;
}

HRESULT VectorPacker::PackOther(IrInstruction& inst) { return CopyWhole(inst); }

HRESULT VectorPacker::CopyWhole(const IrInstruction& inst) {
  const std::uint32_t index = m_p.AddInstructionCopy(&inst);
  IrInstruction* copy = m_p.instructions[index];
  if (!copy) return E_OUTOFMEMORY;
  copy->CopyFields(inst);
  copy->pinned = copy->word10 = 0;
  const std::uint32_t n = inst.resultCount;
  bool oneRegister = true;
  for (std::uint32_t k = 1; k < n; ++k) oneRegister = oneRegister && m_p.SameRegister(inst.results[0], inst.results[k]);
  if (oneRegister) return S_OK;

  // Through temporaries, and a move to the results packed as any move is.
  const std::uint32_t moveIndex = alloc::NewInstruction(m_p, IrWord(kOpMove, n), nullptr, inst.results, inst);
  IrInstruction* move = m_p.instructions[moveIndex];
  if (!move) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t old = inst.results[k];
    const std::uint32_t t = alloc::NewTemporary(m_p, kNoIndex, kNoIndex, old);
    if (t == kNoIndex) return E_OUTOFMEMORY;
    m_p.values[t]->flags = m_p.values[old]->flags;
    m_p.values[t]->CopyVariableFields(m_p.values[old]);
    copy->results[k] = move->arguments[k] = t;
  }
  const HRESULT hr = PackComponentwise(*move);
  opt::Empty(*move);
  return hr;
}

HRESULT VectorPacker::Pack(IrInstruction& inst) {
  if (inst.IsArithmetic() && inst.Width() != 0) return PackComponentwise(inst);
  if (inst.IsDot() && inst.Width() != 0 && inst.argumentCount == 2 * inst.Width() && inst.resultCount == 1)
    return PackDotProduct(inst);
  return PackOther(inst);
}

HRESULT VectorPacker::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    IrValue* v = m_p.values[i];
    if (!v) continue;
    v->componentMask = 0;
    if (!KeepsRegister(m_p, i)) v->reg = v->component = kNoIndex;
  }
  for (std::uint32_t i = 0; i < m_p.instructions.Count(); ++i) {
    if (IrInstruction* inst = m_p.instructions[i]) inst->pinned = inst->word10 = 0;
  }
  if (FAILED(hr = m_p.RebuildDefUse())) return hr;

  const std::uint32_t old = m_p.instructions.Count();
  for (std::uint32_t i = old; i-- > 0;) {
    IrInstruction* inst = m_p.instructions[i];
    if (alloc::IsEmpty(inst)) continue;
    const std::uint32_t first = m_p.instructions.Count();
    hr = Pack(*inst);
    if (FAILED(hr)) {
      // The program stays as it was: what was made so far goes.
      for (std::uint32_t j = old; j < m_p.instructions.Count(); ++j) delete m_p.instructions.Slot(j);
      m_p.instructions.Truncate(old);
      return hr;
    }
    for (std::uint32_t j = first; j < m_p.instructions.Count(); ++j) MarkConsumerGroups(*m_p.instructions[j]);
    Reverse(first);
  }
  Reverse(old);
  for (std::uint32_t i = 0; i < old; ++i)
    if (IrInstruction* inst = m_p.instructions[i]) opt::Empty(*inst);
  if (FAILED(hr = m_p.CompactInstructions())) return hr;

  // Each instruction's results in unbound banks take a register of their own.
  for (std::uint32_t b = 0; b < m_p.banks.Count(); ++b)
    if (RegisterBank* bank = m_p.banks[b]; bank && !(bank->type & kBankBound)) bank->registersUsed = 0;
  for (std::uint32_t i = 0; i < m_p.instructions.Count(); ++i) {
    const IrInstruction& inst = *m_p.instructions[i];
    if (inst.resultCount == 0 || KeepsRegister(m_p, inst.results[0])) continue;
    RegisterBank& bank = *m_p.banks[m_p.values[inst.results[0]]->bank];
    for (std::uint32_t k = 0; k < inst.resultCount; ++k) {
      IrValue* v = m_p.values[inst.results[k]];
      if (!v || KeepsRegister(m_p, inst.results[k])) continue;
      v->reg = bank.registersUsed + k / kComponents;
      v->component = k % kComponents;
    }
    bank.registersUsed += (inst.resultCount + kComponents - 1) / kComponents;
  }
  return S_OK;
}

}  // namespace

HRESULT ShaderProgram::PackVectors() { return VectorPacker(*this).Run(); }

}  // namespace gxl::shader
