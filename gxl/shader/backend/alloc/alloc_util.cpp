#include "gxl/shader/backend/alloc/alloc_util.h"

#include <algorithm>

namespace gxl::shader {

bool ShaderProgram::SameRegisterIndex(std::uint32_t a, std::uint32_t b) const {
  const IrValue *x = values[a], *y = values[b];
  return x && y && x->bank == y->bank && x->relativeIndex == y->relativeIndex && x->reg == y->reg;
}

bool ShaderProgram::SameRegister(std::uint32_t a, std::uint32_t b) const {
  return SameRegisterIndex(a, b) && values[a]->predicate == values[b]->predicate &&
         values[a]->predicateSense == values[b]->predicateSense;
}

bool ShaderProgram::ComponentsCompatible(std::uint32_t a, std::uint32_t b) const {
  const IrValue *x = values[a], *y = values[b];
  return a == b || (x && y && (x->componentMask & y->componentMask) != 0);
}

namespace alloc {

std::uint32_t NextFreeRegister(const ShaderProgram& p, std::uint32_t bank) {
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < p.values.Count(); ++i) {
    const IrValue* v = p.values[i];
    if (v && v->bank == bank && v->reg != kNoIndex) next = std::max(next, v->reg + 1);
  }
  return next;
}

std::uint32_t NewTemporary(ShaderProgram& p, std::uint32_t reg, std::uint32_t component, std::uint32_t like) {
  const std::uint32_t index = p.AddValue(TemporaryBank(p), reg, component, 0.0);
  IrValue* v = p.values[index];
  if (const IrValue* model = p.values[like]; v && model) {
    v->predicate = model->predicate;
    v->predicateSense = model->predicateSense;
  }
  if (v) v->renumber = index;
  return index;
}

std::uint32_t NewLiteral(ShaderProgram& p, double x) {
  const std::uint32_t index = p.AddValue(LiteralBank(p), kNoIndex, kNoIndex, x);
  if (IrValue* v = p.values[index]) v->renumber = index;
  return index;
}

std::uint32_t NewInstruction(ShaderProgram& p, std::uint32_t word, const std::uint32_t* arguments,
                             const std::uint32_t* results, const IrInstruction& origin) {
  const std::uint32_t index = p.AddInstruction(word, kNoIndex, kNoIndex);
  IrInstruction* made = p.instructions[index];
  if (!made) return kNoIndex;
  made->CopyFields(origin);
  if (arguments) std::copy(arguments, arguments + made->argumentCount, made->arguments);
  if (results) std::copy(results, results + made->resultCount, made->results);
  return index;
}

bool Splicer::Place(std::uint32_t added, std::uint32_t anchor, bool after) {
  return m_entries.Append(Entry{added, anchor, after ? 1u : 0u});
}

HRESULT Splicer::Apply() {
  const std::uint32_t total = m_p.instructions.Count();
  // Per anchor and side, the entries in the order they were placed (a stable
  // counting sort), then the program rebuilt around its old instructions.
  auto start = NewArray<std::uint32_t>(2 * std::size_t{m_base} + 2);
  auto sorted = NewArray<std::uint32_t>(m_entries.Size());
  auto order = NewArray<std::uint32_t>(total);
  auto placed = NewArray<bool>(total);
  auto records = NewArray<IrInstruction*>(total);
  if (!start || !sorted || !order || !placed || !records) return E_OUTOFMEMORY;
  auto key = [](const Entry& e) { return 2 * std::size_t{e.anchor} + e.after; };
  for (std::size_t i = 0; i < m_entries.Size(); ++i) ++start[key(m_entries[i]) + 1];
  for (std::size_t k = 1; k < 2 * std::size_t{m_base} + 2; ++k) start[k] += start[k - 1];
  {
    auto fill = NewArray<std::uint32_t>(2 * std::size_t{m_base} + 1);
    if (!fill) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < m_entries.Size(); ++i) {
      const std::size_t k = key(m_entries[i]);
      sorted[start[k] + fill[k]++] = m_entries[i].added;
    }
  }
  std::uint32_t out = 0;
  auto emitSide = [&](std::size_t k) {
    for (std::uint32_t i = start[k]; i < start[k + 1]; ++i) {
      order[out++] = sorted[i];
      placed[sorted[i]] = true;
    }
  };
  for (std::uint32_t position = 0; position < m_base; ++position) {
    emitSide(2 * std::size_t{position});
    order[out++] = position;
    emitSide(2 * std::size_t{position} + 1);
  }
  for (std::uint32_t i = m_base; i < total; ++i)
    if (!placed[i]) order[out++] = i;
  for (std::uint32_t i = 0; i < total; ++i) records[i] = m_p.instructions.Slot(order[i]);
  for (std::uint32_t i = 0; i < total; ++i) m_p.instructions.Slot(i) = records[i];
  m_entries.Clear();
  m_base = total;
  return S_OK;
}

bool InOneRegister(const ShaderProgram& p, const std::uint32_t* group, std::uint32_t width) {
  for (std::uint32_t k = 1; k < width; ++k)
    if (!p.SameRegisterIndex(group[0], group[k])) return false;
  return width == 0 || p.values[group[0]] != nullptr;
}

void SortGroupByComponent(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t* permutation,
                          std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) permutation[k] = k;
  auto component = [&](std::uint32_t k) {
    const IrValue* v = p.values[values[k]];
    return v ? v->component : kNoIndex;
  };
  // Insertion sort: groups are at most a few components wide, and it is stable.
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::uint32_t moving = permutation[i];
    std::uint32_t j = i;
    for (; j > 0 && component(permutation[j - 1]) > component(moving); --j) permutation[j] = permutation[j - 1];
    permutation[j] = moving;
  }
}

}  // namespace alloc
}  // namespace gxl::shader
