// Outputs during the rounds are written through temporaries and copied out
// by moves at the end, so the passes treat them as any other value; after
// the rounds the instruction that computes an output writes it itself again.
#include <algorithm>
#include <new>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

// Outputs one move may write: one register of one bank, under one guard.
bool SameMove(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  const IrValue &x = *p.values.Peek(a), &y = *p.values.Peek(b);
  return x.reg != kNoIndex && x.bank == y.bank && x.relativeIndex == y.relativeIndex && x.reg == y.reg &&
         opt::GuardOf(x) == opt::GuardOf(y) && x.alias == y.alias && x.binding == y.binding;
}

// The first instruction that is not a move on the way back from `value`
// through the moves that define it.
const IrInstruction* ComputingInstruction(const ShaderProgram& p, std::uint32_t value) {
  const IrInstruction* found = nullptr;
  for (std::uint32_t steps = 0; steps <= p.instructions.Count(); ++steps) {
    const IrValue* v = p.values.Peek(value);
    const IrInstruction* d = v ? p.instructions.Peek(v->definingPosition) : nullptr;
    if (opt::IsEmpty(d)) break;
    found = d;
    const std::uint32_t slot = opt::ResultSlot(*d, value);
    if (d->Group() != kOpMove || slot >= d->argumentCount) break;
    value = d->arguments[slot];
  }
  return found;
}

// Which registers values defined by instructions are in (bank, register and
// relative index), counted, and which values each position defines: so that
// whether another instruction writes an output's register costs a lookup
// instead of a walk over every value. The counts follow the values moved.
class DefinedRegisters {
 public:
  explicit DefinedRegisters(const ShaderProgram& p) : m_p(p) {}

  HRESULT Build() try {
    const std::uint32_t count = m_p.values.Count();
    m_definedAt.assign(m_p.instructions.Count() + std::size_t{1}, {});
    for (std::uint32_t i = 0; i < count; ++i) {
      const IrValue* v = m_p.values[i];
      if (!v || v->definingPosition == kNoIndex) continue;
      ++m_count[KeyOf(*v)];
      if (v->definingPosition < m_definedAt.size()) m_definedAt[v->definingPosition].push_back(i);
    }
    m_built = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  bool Built() const { return m_built; }

  // Some value defined elsewhere than `position` is in `out`'s register.
  bool WrittenElsewhere(const IrValue& out, std::uint32_t position) const {
    const Key key = KeyOf(out);
    const auto found = m_count.find(key);
    std::uint32_t n = found == m_count.end() ? 0 : found->second;
    if (position < m_definedAt.size())
      for (const std::uint32_t i : m_definedAt[position])
        if (const IrValue* v = m_p.values[i]; v && v->definingPosition == position && KeyOf(*v) == key) --n;
    return n != 0;
  }

  // `v` is about to change register; Moved once it has.
  void Leaving(const IrValue& v) {
    if (!m_built || v.definingPosition == kNoIndex) return;
    if (const auto found = m_count.find(KeyOf(v)); found != m_count.end()) --found->second;
  }
  HRESULT Moved(const IrValue& v) try {
    if (m_built && v.definingPosition != kNoIndex) ++m_count[KeyOf(v)];
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

 private:
  struct Key {
    std::uint32_t bank, reg, relative;
    bool operator==(const Key& o) const { return bank == o.bank && reg == o.reg && relative == o.relative; }
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      return (std::size_t{k.bank} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{k.reg} * 0xC2B2AE3D27D4EB4Full) ^ k.relative;
    }
  };
  static Key KeyOf(const IrValue& v) { return {v.bank, v.reg, v.relativeIndex}; }

  const ShaderProgram& m_p;
  bool m_built = false;
  std::unordered_map<Key, std::uint32_t, KeyHash> m_count;
  std::vector<std::vector<std::uint32_t>> m_definedAt;
};

}  // namespace

HRESULT ShaderProgram::RouteOutputsThroughTemporaries() {
  const std::uint32_t count = values.Count();
  auto outputs = opt::NewArray<std::uint32_t>(count);
  auto twins = opt::NewArray<std::uint32_t>(count);
  if (!outputs || !twins) return E_OUTOFMEMORY;
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < count; ++i)
    if (values[i] && (opt::BankTypeOf(*this, i) & kBankOutput)) outputs[n++] = i;
  if (n == 0) return S_FALSE;

  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t k = 0; k < n; ++k) {
    twins[k] = AddValue(temporaries, kNoIndex, kNoIndex, 0.0);
    if (twins[k] == kNoIndex) return E_OUTOFMEMORY;  // the twins made so far are unread
    IrValue &twin = *values[twins[k]], &output = *values[outputs[k]];
    twin.predicate = output.predicate;
    twin.predicateSense = output.predicateSense;
  }
  // Instructions write and read the twins from here on.
  NumberValues();
  for (std::uint32_t k = 0; k < n; ++k) values[outputs[k]]->renumber = twins[k];
  RenumberValueLinks();
  NumberValues();
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;

  // The twin of each output, found again after sorting the outputs.
  for (std::uint32_t k = 0; k < n; ++k) values[outputs[k]]->renumber = twins[k];
  SortIndicesByComparator(CompareValueKeys, outputs.get(), n, this);
  for (std::uint32_t start = 0, end; start < n; start = end) {
    for (end = start + 1; end < n && end - start < 4 && SameMove(*this, outputs[start], outputs[end]); ++end) {
    }
    const std::uint32_t width = end - start;
    const std::uint32_t index = AddInstruction(IrWord(kOpMove, width), kNoIndex, kNoIndex);
    if (index == kNoIndex) {
      NumberValues();
      return E_OUTOFMEMORY;
    }
    IrInstruction& move = *instructions[index];
    for (std::uint32_t k = 0; k < width; ++k) {
      move.arguments[k] = values[outputs[start + k]]->renumber;
      move.results[k] = outputs[start + k];
    }
    for (std::uint32_t k = 0; k < width && !move.sourcePosition; ++k) {
      if (const IrInstruction* origin = ComputingInstruction(*this, move.arguments[k])) move.CopySourcePosition(origin);
    }
  }
  NumberValues();
  return S_OK;
}

HRESULT ShaderProgram::WriteOutputsDirectly() {
  if (profileLimits.capabilities & 0x1) return S_FALSE;
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  DefinedRegisters registers(*this);
  bool changed = false;
  for (std::uint32_t position = instructions.Count(); position-- > 0;) {
    IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst) || (inst->Group() != kOpMove && inst->Group() != kOpIfMerge) || inst->resultCount == 0)
      continue;
    const bool merge = inst->Group() == kOpIfMerge;
    const std::uint32_t n = inst->resultCount;
    auto fits = [&](std::uint32_t a) {
      const std::uint32_t argument = inst->arguments[a], result = inst->results[a % n];
      const IrValue* v = values[argument];
      const IrValue* out = values[result];
      if (!v || !out || !(opt::BankTypeOf(*this, result) & kBankOutput) ||
          !(opt::BankTypeOf(*this, argument) & kBankWritable) || v->relativeIndex != kNoIndex || v->useCount != 1 ||
          v->firstUse != position || v->definingPosition >= position)
        return false;
      // The argument must be written exactly when the output is: under the
      // same guard, or for a merge under one side of a block that has it.
      const opt::Guard guard = opt::GuardOf(*v);
      const IrValue* block = values[guard.predicate];
      if (merge ? !block || !(opt::GuardOf(*block) == opt::GuardOf(*out)) || guard.sense != (a < n ? 1u : 0u)
                : !(guard == opt::GuardOf(*out)))
        return false;
      // A whole-list operation writes its k-th result to component k.
      const IrInstruction& d = *instructions[v->definingPosition];
      return d.IsArithmetic() || opt::ResultSlot(d, argument) == out->component;
    };
    // A merge whose output register other instructions write too stays: the
    // target may have to gather the register's pieces into one write, which
    // it can for writes outside blocks only.
    auto sharesRegister = [&] {
      for (std::uint32_t r = 0; r < n; ++r) {
        const IrValue* out = values[inst->results[r]];
        if (out && registers.WrittenElsewhere(*out, position)) return true;
      }
      return false;
    };
    if (merge && !registers.Built() && FAILED(hr = registers.Build())) return hr;
    bool all = !merge || !sharesRegister();
    for (std::uint32_t a = 0; a < inst->argumentCount && all; ++a) all = fits(a);
    if (!all || inst->argumentCount != (merge ? 2 * n : n)) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      IrValue& v = *values[inst->arguments[a]];
      const IrValue& out = *values[inst->results[a % n]];
      registers.Leaving(v);
      v.bank = out.bank;
      v.relativeIndex = out.relativeIndex;
      v.reg = out.reg;
      v.component = out.component;
      if (FAILED(hr = registers.Moved(v))) return hr;
      opt::TakeOver(v, out);
      v.semantic = out.semantic;
      v.registerKey = out.registerKey;
      v.variableOffset = out.variableOffset;
    }
    for (std::uint32_t r = 0; r < n; ++r) {
      if (const IrValue* result = values[inst->results[r]]) registers.Leaving(*result);
      opt::Discard(*this, inst->results[r]);
      const IrValue* result = values[inst->results[r]];
      if (result && FAILED(hr = registers.Moved(*result))) return hr;
    }
    opt::Empty(*inst);
    changed = true;
  }
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
