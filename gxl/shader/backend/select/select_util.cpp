#include "gxl/shader/backend/select/select_util.h"

#include <algorithm>
#include <cmath>

namespace gxl::shader::sel {

IrInstruction* NewInstruction(std::uint32_t word, std::uint32_t argumentCount, std::uint32_t resultCount) {
  auto* node = new IrInstruction;
  if (node && FAILED(node->Init(word, argumentCount, resultCount, true))) {
    delete node;
    return nullptr;
  }
  return node;
}

void ReplaceCurrent(ShaderTarget& t, IrInstruction* node) {
  IrInstruction*& slot = t.instructions.Slot(t.currentIndex);
  if (slot) node->CopySourcePosition(slot);
  delete slot;
  slot = node;
  t.current = node;
}

HRESULT ReplaceCurrentWith(ShaderTarget& t, std::uint32_t word, const std::uint32_t* arguments,
                           std::uint32_t argumentCount) {
  IrInstruction* node = NewInstruction(word, argumentCount, t.current->resultCount);
  if (!node) return E_OUTOFMEMORY;
  std::copy(arguments, arguments + argumentCount, node->arguments);
  std::copy(t.current->results, t.current->results + t.current->resultCount, node->results);
  ReplaceCurrent(t, node);
  return S_OK;
}

std::uint32_t BankTypeOf(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  const RegisterBank* bank = v ? p.banks[v->bank] : nullptr;
  return bank ? bank->type : 0;
}

bool IsAnyLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return v && v->relativeIndex == kNoIndex && !(v->binding & kSourceModifierBits) &&
         (BankTypeOf(p, value) & kBankLiteral) && !std::isnan(v->rangeLow);
}

bool IsLiteral(const ShaderProgram& p, std::uint32_t value, double x) {
  return IsAnyLiteral(p, value) && p.values[value]->rangeLow == x;
}

bool SameRegisterComponent(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  const IrValue* va = p.values.Peek(a);
  const IrValue* vb = p.values.Peek(b);
  return va && vb && va->bank == vb->bank && va->relativeIndex == vb->relativeIndex && va->reg != kNoIndex &&
         va->reg == vb->reg && va->component < 4 && va->component == vb->component;
}

bool SameSource(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  if (a == b || p.ResolveAlias(a) == p.ResolveAlias(b)) return a != kNoIndex;
  const IrValue* va = p.values[a];
  const IrValue* vb = p.values[b];
  if (!va || !vb) return false;
  const std::uint32_t literal = kBankLiteral;
  if ((BankTypeOf(p, a) & literal) && (BankTypeOf(p, b) & literal) && va->relativeIndex == kNoIndex &&
      vb->relativeIndex == kNoIndex)
    return va->rangeLow == vb->rangeLow && !std::isnan(va->rangeLow);
  // One register component holds one contents per write: the same write, or a
  // register no instruction writes.
  if (!SameRegisterComponent(p, a, b)) return false;
  const IrValue* ra = p.values[p.ResolveAlias(a)];
  const IrValue* rb = p.values[p.ResolveAlias(b)];
  if (!ra || !rb || ra->definingPosition != rb->definingPosition) return false;
  return ra->definingPosition != kNoIndex || !(BankTypeOf(p, a) & kBankWritable);
}

bool SameOperand(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  return SameSource(p, a, b) && p.values[a]->binding == p.values[b]->binding;
}

bool IsNegation(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  if (IsAnyLiteral(p, a) && IsAnyLiteral(p, b)) return p.values[a]->rangeLow == -p.values[b]->rangeLow;
  return SameSource(p, a, b) && (p.values[a]->binding ^ p.values[b]->binding) == kNegateBit;
}

std::uint32_t LiteralValue(ShaderTarget& t, double x) {
  const std::uint32_t bank = t.StandardBankIndex(StandardBank::Literals);
  for (std::uint32_t i = 0; i < t.values.Count(); ++i) {
    const IrValue* v = t.values[i];
    if (!v || v->bank != bank || v->relativeIndex != kNoIndex || v->reg == kNoIndex || v->rangeLow != x ||
        std::signbit(v->rangeLow) != std::signbit(x))
      continue;
    const std::uint32_t copy = t.AddValueCopy(v);
    if (copy == kNoIndex) return kNoIndex;
    IrValue* c = t.Value(copy);
    c->binding = 0;
    c->alias = kNoIndex;
    c->predicate = kNoIndex;
    c->predicateSense = 1;
    return copy;
  }
  return t.AddValue(bank, kNoIndex, kNoIndex, x);
}

std::uint32_t NegatedValue(ShaderTarget& t, std::uint32_t value, HRESULT* hr) {
  *hr = S_OK;
  const IrValue* source = t.Value(value);
  if (!source) {
    *hr = E_FAIL;
    return kNoIndex;
  }
  std::uint32_t made;
  if (IsAnyLiteral(t, value)) {
    made = LiteralValue(t, -source->rangeLow);
  } else {
    // The complement (1 - x) has no negated form.
    if (source->binding & kComplementBit) {
      *hr = S_FALSE;
      return kNoIndex;
    }
    const std::uint32_t alias = source->alias != kNoIndex ? source->alias : value;
    made = t.AddValueCopy(source);
    if (made != kNoIndex) {
      t.Value(made)->binding ^= kNegateBit;
      t.Value(made)->alias = alias;
    }
  }
  if (made == kNoIndex) *hr = E_OUTOFMEMORY;
  return made;
}

bool WrittenBetween(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t count, std::uint32_t from,
                    std::uint32_t to, const MatchedList* skip) {
  struct Place {
    std::uint32_t bank, relativeIndex, reg, component;
  };
  constexpr std::uint32_t kBatch = 16;
  if (count > kBatch)
    return WrittenBetween(p, values, kBatch, from, to, skip) ||
           WrittenBetween(p, values + kBatch, count - kBatch, from, to, skip);
  Place places[kBatch];
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrValue* v = p.values.Peek(values[i]);
    if (v && v->reg != kNoIndex && v->component < 4) places[n++] = {v->bank, v->relativeIndex, v->reg, v->component};
  }
  if (n == 0) return false;
  // One pass for all of them; reading only, so nothing is noted for the
  // def-use upkeep to look at again.
  const std::uint32_t end = std::min(to, p.instructions.Count());
  for (std::uint32_t position = from == kNoIndex ? 0 : from + 1; position < end; ++position) {
    const IrInstruction* inst = p.instructions.Peek(position);
    if (!inst || inst->word < 0x100000 || (skip && skip->Contains(position))) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* w = p.values.Peek(inst->results[r]);
      if (!w || w->reg == kNoIndex || w->component >= 4) continue;
      for (std::uint32_t k = 0; k < n; ++k)
        if (w->reg == places[k].reg && w->component == places[k].component && w->bank == places[k].bank &&
            w->relativeIndex == places[k].relativeIndex)
          return true;
    }
  }
  return false;
}

bool RegisterQuietBetween(const ShaderProgram& p, std::uint32_t value, std::uint32_t from, std::uint32_t to,
                          const MatchedList* skip) {
  const IrValue* v = p.values.Peek(value);
  if (!v || v->reg == kNoIndex || v->component >= 4) return true;
  for (std::uint32_t position = from + 1; position < to; ++position) {
    const IrInstruction* inst = p.instructions.Peek(position);
    if (!inst || inst->word < 0x100000 || (skip && skip->Contains(position))) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
      if (SameRegisterComponent(p, inst->arguments[a], value)) return false;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if (SameRegisterComponent(p, inst->results[r], value)) return false;
  }
  return true;
}

std::uint32_t RetirableMask(const ShaderProgram& p, const MatchedList& list, std::uint32_t root,
                            const std::uint32_t* arguments, std::uint32_t argumentCount) {
  std::uint32_t readers[kMaxMatched + 1] = {root};
  std::uint32_t readerCount = 1, mask = 0;
  // Parents come after their children: walking back, a parent is decided first.
  for (std::uint32_t i = list.count; i-- > 0;) {
    const std::uint32_t position = list.position[i];
    const IrInstruction* x = p.instructions[position];
    if (position == root || !x || x->word < 0x100000) continue;
    bool retire = true;
    for (std::uint32_t r = 0; r < x->resultCount && retire; ++r) {
      const std::uint32_t result = p.ResolveAlias(x->results[r]);
      const IrValue* v = p.values[result];
      retire = v && CountReadsAt(p, result, readers, readerCount) == v->useCount;
      for (std::uint32_t a = 0; a < argumentCount && retire; ++a) retire = p.ResolveAlias(arguments[a]) != result;
    }
    if (!retire) continue;
    mask |= 1u << i;
    readers[readerCount++] = position;
  }
  return mask;
}

void Retire(ShaderProgram& p, const MatchedList& list, std::uint32_t mask) {
  for (std::uint32_t i = 0; i < list.count; ++i)
    if (mask & (1u << i))
      if (IrInstruction* x = p.instructions[list.position[i]]) x->word = 0;
}

}  // namespace gxl::shader::sel
