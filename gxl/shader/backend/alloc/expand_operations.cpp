// Operations the target lacks replaced by ones it has, and values moved into
// the register shapes it requires: two-component dot products as a product
// and a sum, outputs through an ordered move, texture coordinates and
// discard tests in component order, and moves split per source.
//
// The last step lets an instruction write a move's destination itself: when
// a move copies, within one guard, all results of one component-wise
// instruction that nothing else reads into temporary components no other
// value occupies, that instruction writes those components and the move
// goes. The groups that read them still read one register.
#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

class OperationExpander {
 public:
  explicit OperationExpander(ShaderProgram& p) : m_p(p) {}
  HRESULT Run();

 private:
  using Step = HRESULT (OperationExpander::*)(alloc::Splicer&);
  HRESULT RunStep(Step step);
  HRESULT ExpandDot2(alloc::Splicer& splice);
  HRESULT OrderOutputs(alloc::Splicer& splice);
  HRESULT OrderTextureCoordinates(alloc::Splicer& splice);
  HRESULT OrderDiscards(alloc::Splicer& splice);
  HRESULT SplitMovesPerSource(alloc::Splicer& splice);
  HRESULT ForwardMoves();
  HRESULT OrderCoordinates(alloc::Splicer& splice, std::uint32_t position, std::uint32_t* group, std::uint32_t n);
  // Fresh temporaries at components 0.. of the next register, guarded as `like`.
  HRESULT Temporaries(std::uint32_t n, std::uint32_t like, std::uint32_t* out);
  // Places a new instruction beside `anchor`.
  HRESULT Add(alloc::Splicer& splice, std::uint32_t anchor, bool after, std::uint32_t word,
              const std::uint32_t* arguments, const std::uint32_t* results, const IrInstruction& origin);
  bool InComponentOrder(const std::uint32_t* group, std::uint32_t n) const {
    for (std::uint32_t k = 0; k < n; ++k)
      if (!m_p.values[group[k]] || m_p.values[group[k]]->component != k || !m_p.SameRegisterIndex(group[0], group[k]))
        return false;
    return true;
  }

  ShaderProgram& m_p;
  std::uint32_t m_next = 0;
  bool m_changed = false;
};

HRESULT OperationExpander::Temporaries(std::uint32_t n, std::uint32_t like, std::uint32_t* out) {
  const std::uint32_t reg = m_next++;
  for (std::uint32_t k = 0; k < n; ++k)
    if ((out[k] = alloc::NewTemporary(m_p, reg, k, like)) == kNoIndex) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT OperationExpander::Add(alloc::Splicer& splice, std::uint32_t anchor, bool after, std::uint32_t word,
                               const std::uint32_t* arguments, const std::uint32_t* results,
                               const IrInstruction& origin) {
  const std::uint32_t index = alloc::NewInstruction(m_p, word, arguments, results, origin);
  if (index == kNoIndex || !splice.Place(index, anchor, after)) return E_OUTOFMEMORY;
  m_changed = true;
  return S_OK;
}

HRESULT OperationExpander::RunStep(Step step) {
  alloc::Splicer splice(m_p);
  const bool changedBefore = m_changed;
  m_changed = false;
  HRESULT hr = (this->*step)(splice);
  const bool changed = m_changed || !splice.Empty();
  m_changed |= changedBefore;
  if (SUCCEEDED(hr) && !splice.Empty()) hr = splice.Apply();
  // A step that changed nothing leaves the use analysis standing.
  if (SUCCEEDED(hr) && (changed || m_p.referenceSearches)) hr = m_p.RebuildDefUse();
  return hr;
}

HRESULT OperationExpander::ExpandDot2(alloc::Splicer& splice) {
  if (m_p.profileLimits.capabilities & cap::kDot2) return S_OK;
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction& inst = *m_p.instructions[position];
    if (inst.word != IrWord(kOpDot, 2) || inst.argumentCount != 4 || inst.resultCount != 1) continue;
    std::uint32_t products[2];
    HRESULT hr = Temporaries(2, inst.results[0], products);
    if (SUCCEEDED(hr)) hr = Add(splice, position, false, IrWord(kOpMultiply, 2), inst.arguments, products, inst);
    if (SUCCEEDED(hr)) hr = Add(splice, position, false, IrWord(kOpAdd, 1), products, inst.results, inst);
    if (FAILED(hr)) return hr;
    opt::Empty(inst);
  }
  return S_OK;
}

HRESULT OperationExpander::OrderOutputs(alloc::Splicer& splice) {
  if (!(m_p.profileLimits.capabilities & cap::kOutputsByOrderedMove)) return S_OK;
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction& inst = *m_p.instructions[position];
    const std::uint32_t n = inst.resultCount;
    if (alloc::IsEmpty(&inst) || n == 0 || n > 4 || !(alloc::BankTypeOf(m_p, inst.results[0]) & kBankOutput)) continue;
    bool ordered = true;
    std::uint32_t* group;
    for (std::uint32_t g = 0, w; ordered && (w = inst.ArgumentGroup(g, &group)) != 0; ++g)
      ordered = InComponentOrder(group, w);
    if (ordered) continue;
    std::uint32_t temporaries[4], outputs[4];
    if (HRESULT hr = Temporaries(n, inst.results[0], temporaries); FAILED(hr)) return hr;
    for (std::uint32_t k = 0; k < n; ++k) {
      outputs[k] = inst.results[k];
      m_p.values[temporaries[k]]->predicate = m_p.values[outputs[k]]->predicate;
      m_p.values[temporaries[k]]->predicateSense = m_p.values[outputs[k]]->predicateSense;
      inst.results[k] = temporaries[k];
    }
    if (HRESULT hr = Add(splice, position, true, IrWord(kOpMove, n), temporaries, outputs, inst); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT OperationExpander::OrderCoordinates(alloc::Splicer& splice, std::uint32_t position, std::uint32_t* group,
                                            std::uint32_t n) {
  const IrInstruction& inst = *m_p.instructions[position];
  const opt::Guard guard = inst.resultCount ? opt::GuardOf(*m_p.values[inst.results[0]]) : opt::Guard{};
  // Copies of the group's values held in one register at components 0 .. n-1.
  auto usable = [&](std::uint32_t value, std::uint32_t component) {
    const IrValue* v = m_p.values[value];
    return v && v->component == component && v->definingPosition < position && opt::GuardOf(*v) == guard;
  };
  const std::uint32_t bound = m_p.values.Count();
  std::uint32_t best[4], found[4];
  double bestDistance = -1.0;
  std::uint32_t w = group[0];
  for (std::uint32_t steps = 0; steps < bound; ++steps, w = m_p.values[w]->coalesceLink) {
    if (!m_p.values[w] || (steps && w == group[0])) break;
    if (!usable(w, 0)) continue;
    found[0] = w;
    bool all = true;
    for (std::uint32_t c = 1; c < n && all; ++c) {
      all = false;
      std::uint32_t u = group[c];
      for (std::uint32_t s = 0; s < bound && !all; ++s, u = m_p.values[u]->coalesceLink) {
        if (!m_p.values[u] || (s && u == group[c])) break;
        if (usable(u, c) && m_p.SameRegisterIndex(u, w)) {
          found[c] = u;
          all = true;
        }
      }
    }
    if (!all) continue;
    double distance = 0.0;
    for (std::uint32_t c = 0; c < n; ++c) {
      const double d = static_cast<double>(position) - m_p.values[found[c]]->definingPosition;
      distance += d * d;
    }
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      std::copy(found, found + n, best);
    }
  }
  if (bestDistance < 0) {
    const std::uint32_t like = inst.resultCount ? inst.results[0] : kNoIndex;
    if (HRESULT hr = Temporaries(n, like, best); FAILED(hr)) return hr;
    if (HRESULT hr = Add(splice, position, false, IrWord(kOpMove, n), group, best, inst); FAILED(hr)) return hr;
  }
  std::copy(best, best + n, group);
  m_changed = true;
  return S_OK;
}

HRESULT OperationExpander::OrderTextureCoordinates(alloc::Splicer& splice) {
  if (m_p.profileLimits.samplers == 0 || (m_p.profileLimits.secondFlags & cap::kCoordinatesInAnyOrder)) return S_OK;
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction& inst = *m_p.instructions[position];
    if (alloc::IsEmpty(&inst) || inst.Class() != 6) continue;
    std::uint32_t* group;
    for (std::uint32_t g = 1, w; (w = inst.ArgumentGroup(g, &group)) != 0; ++g) {
      if (w > 4 || InComponentOrder(group, w)) continue;
      if (HRESULT hr = OrderCoordinates(splice, position, group, w); FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT OperationExpander::OrderDiscards(alloc::Splicer& splice) {
  if (m_p.profileLimits.samplers == 0) return S_OK;
  const std::uint32_t clip = m_p.StandardBankIndex(StandardBank::Clip);
  RegisterBank* clipBank = m_p.banks[clip];
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction& inst = *m_p.instructions[position];
    const std::uint32_t n = inst.argumentCount;
    if (alloc::IsEmpty(&inst) || inst.Group() != kOpDiscard || n == 0 || inst.resultCount != n) continue;
    std::uint32_t seen = 0;
    bool distinct = n == 4 && !(alloc::BankTypeOf(m_p, inst.arguments[0]) & kBankUniform);
    for (std::uint32_t k = 0; k < n && distinct; ++k) {
      const std::uint32_t c = m_p.values[inst.arguments[k]]->component;
      distinct = c < 4 && !(seen & (1u << c));
      seen |= c < 4 ? 1u << c : 0;
    }
    if (distinct) {
      std::uint32_t order[4];
      alloc::SortGroupByComponent(m_p, inst.arguments, order, 4);
      std::uint32_t arguments[4], results[4];
      for (std::uint32_t k = 0; k < 4; ++k) {
        arguments[k] = inst.arguments[order[k]];
        results[k] = inst.results[order[k]];
      }
      for (std::uint32_t k = 0; k < 4; ++k) {
        m_changed |= inst.arguments[k] != arguments[k];
        inst.arguments[k] = arguments[k];
        inst.results[k] = results[k];
      }
      continue;
    }
    // Four components of a fresh temporary, the last argument repeated.
    std::uint32_t moved[4], arguments[4], tests[4];
    for (std::uint32_t k = 0; k < 4; ++k) arguments[k] = inst.arguments[k < n ? k : n - 1];
    if (HRESULT hr = Temporaries(4, inst.results[0], moved); FAILED(hr)) return hr;
    if (!clipBank) return E_FAIL;
    for (std::uint32_t k = 0; k < 4; ++k) {
      if ((tests[k] = m_p.AddValue(clip, clipBank->registerCount, k, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
      m_p.values[tests[k]]->predicate = m_p.values[inst.results[0]]->predicate;
      m_p.values[tests[k]]->predicateSense = m_p.values[inst.results[0]]->predicateSense;
    }
    ++clipBank->registerCount;
    HRESULT hr = Add(splice, position, false, IrWord(kOpMove, 4), arguments, moved, inst);
    if (SUCCEEDED(hr)) hr = Add(splice, position, false, IrWord(kOpDiscard, 4), moved, tests, inst);
    if (FAILED(hr)) return hr;
    for (std::uint32_t k = 0; k < n; ++k) opt::Discard(m_p, inst.results[k]);
    opt::Empty(inst);
  }
  return S_OK;
}

HRESULT OperationExpander::SplitMovesPerSource(alloc::Splicer& splice) {
  if (!(m_p.profileLimits.capabilities & cap::kFixedOperands)) return S_OK;
  const std::uint32_t count = m_p.instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction& inst = *m_p.instructions[position];
    const std::uint32_t w = inst.Width();
    if (alloc::IsEmpty(&inst) || inst.Group() != kOpMove || inst.Class() != 1 || w < 2 || w > 4 ||
        (alloc::BankTypeOf(m_p, inst.results[0]) & kBankOutput))
      continue;
    auto definer = [&](std::uint32_t k) { return m_p.values[inst.arguments[k]]->definingPosition; };
    bool one = true;
    for (std::uint32_t k = 1; k < w && one; ++k) one = definer(k) == definer(0);
    if (one) continue;
    bool done[4] = {false, false, false, false};
    for (std::uint32_t k = 0; k < w; ++k) {
      if (done[k]) continue;
      std::uint32_t arguments[4], results[4], n = 0;
      for (std::uint32_t j = k; j < w; ++j) {
        if (done[j] || definer(j) != definer(k)) continue;
        done[j] = true;
        arguments[n] = inst.arguments[j];
        results[n++] = inst.results[j];
      }
      if (HRESULT hr = Add(splice, position, false, IrWord(kOpMove, n), arguments, results, inst); FAILED(hr))
        return hr;
    }
    opt::Empty(inst);
  }
  return S_OK;
}

HRESULT OperationExpander::ForwardMoves() {
  // How many values occupy each component of each temporary register.
  const std::uint32_t temporaries = alloc::TemporaryBank(m_p);
  const std::uint32_t registers = alloc::NextFreeRegister(m_p, temporaries);
  auto occupied = alloc::NewArray<std::uint32_t>(std::size_t{registers} * 4);
  if (!occupied) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    const IrValue* v = m_p.values[i];
    if (v && v->bank == temporaries && v->reg < registers && v->component < 4) ++occupied[v->reg * 4 + v->component];
  }
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    IrInstruction& move = *m_p.instructions[position];
    const std::uint32_t n = move.Width();
    if (alloc::IsEmpty(&move) || move.Group() != kOpMove || move.Class() != 1 || n == 0 || n > 4) continue;
    const IrValue* first = m_p.values[move.arguments[0]];
    IrInstruction* d = first ? m_p.instructions[first->definingPosition] : nullptr;
    if (alloc::IsEmpty(d) || !d->IsArithmetic() || IsSpecialOperation(d) || d->resultCount != n) continue;
    const opt::Guard guard = opt::GuardOf(*m_p.values[move.results[0]]);
    std::uint32_t slot[4];
    bool fits = opt::GuardOf(*m_p.values[d->results[0]]) == guard;
    for (std::uint32_t k = 0; k < n && fits; ++k) {
      const IrValue& a = *m_p.values[move.arguments[k]];
      const IrValue& r = *m_p.values[move.results[k]];
      slot[k] = opt::ResultSlot(*d, move.arguments[k]);
      fits = slot[k] != kNoIndex && a.useCount == 1 && a.firstUse == position && a.binding == 0 &&
             a.alias == kNoIndex && alloc::IsTemporary(m_p, move.arguments[k]) &&
             alloc::IsTemporary(m_p, move.results[k]) && r.binding == 0 && r.alias == kNoIndex &&
             opt::GuardOf(r) == guard && r.reg < registers && r.component < 4 && occupied[r.reg * 4 + r.component] == 1;
      for (std::uint32_t j = 0; j < k && fits; ++j) fits = slot[j] != slot[k];
    }
    if (!fits) continue;
    for (std::uint32_t k = 0; k < n; ++k) {
      opt::Discard(m_p, d->results[slot[k]]);
      d->results[slot[k]] = move.results[k];
    }
    opt::Empty(move);
    m_changed = true;
  }
  return S_OK;
}

HRESULT OperationExpander::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  m_p.NumberValues();
  m_next = alloc::NextFreeRegister(m_p, alloc::TemporaryBank(m_p));
  for (Step step :
       {&OperationExpander::ExpandDot2, &OperationExpander::OrderOutputs, &OperationExpander::OrderTextureCoordinates,
        &OperationExpander::OrderDiscards, &OperationExpander::SplitMovesPerSource}) {
    if (FAILED(hr = RunStep(step))) return hr;
  }
  if (FAILED(hr = ForwardMoves())) return hr;
  return m_changed ? S_OK : S_FALSE;
}

}  // namespace

HRESULT ShaderProgram::ExpandOperations() { return OperationExpander(*this).Run(); }

}  // namespace gxl::shader
