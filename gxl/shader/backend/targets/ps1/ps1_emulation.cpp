// The ps_1_1-1_3 emulations over the stage list's arithmetic: selections
// those models cannot swizzle are read through a dp3 into a temporary's w,
// and partial colour writes that later code reads as one register are
// merged by an lrp that writes the register whole.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_arith.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

namespace {

using ps1::ArithmeticRebuild;
using ps1::GroupSelection;
using ps1::kComponentW;

constexpr std::uint8_t kIdentity[4] = {0, 1, 2, 3};
constexpr std::uint8_t kAlpha[4] = {3, 3, 3, 3};
constexpr std::uint8_t kBlue[4] = {2, 2, 2, 2};

bool Live(const IrInstruction* inst) { return inst && inst->word >= 0x100000; }

bool WritesOnlyW(const PixelShader1Target& t, const IrInstruction& inst) {
  if (inst.IsDot() || inst.resultCount == 0) return false;
  for (std::uint32_t r = 0; r < inst.resultCount; ++r)
    if (t.Value(inst.results[r])->component != kComponentW) return false;
  return true;
}

HRESULT Unmapped(PixelShader1Target& t, std::uint32_t index) {
  t.SetCurrentInstruction(index);
  GXL_SHADER_REPORT(t, t.currentSource, msg::kUnmappedPixelExpression);
  return E_FAIL;
}

// The group's selection of one component read through the w of a new
// temporary; the group then reads that w.
HRESULT EmulateSelection(PixelShader1Target& t, ArithmeticRebuild& list, std::uint32_t index, std::uint32_t g,
                         std::uint32_t component) {
  IrInstruction* inst = t.Instruction(index);
  const std::uint32_t n = inst->Width();
  std::uint32_t* group = inst->arguments + g * n;
  std::uint32_t source = kNoIndex;
  for (std::uint32_t j = 0; j < n; ++j) {
    if (sel::BankTypeOf(t, group[j]) & kBankLiteral) continue;
    // One register read through one modifier; a dp3 cannot gather others.
    if (source != kNoIndex && !sel::SameOperand(t, source, group[j])) return Unmapped(t, index);
    source = group[j];
  }
  if (source == kNoIndex) return 1;
  std::uint32_t w = kNoIndex;
  const HRESULT hr = ps1::SelectIntoW(t, list, source, component, index, &w);
  if (FAILED(hr)) return hr;
  inst = t.Instruction(index);
  group = inst->arguments + g * n;
  for (std::uint32_t j = 0; j < n; ++j)
    if (!(sel::BankTypeOf(t, group[j]) & kBankLiteral)) group[j] = w;
  return S_OK;
}

}  // namespace

HRESULT Ps1StandardRules::EmulateSwizzles(PixelShader1Target& t) {
  if (t.Is14()) return 1;
  return ArithmeticRebuild(t).RewriteEach([&t](ArithmeticRebuild& list, std::uint32_t index) {
    HRESULT hr = 1;
    for (std::uint32_t g = 0; g < ps1::GroupCount(*t.Instruction(index)) && SUCCEEDED(hr); ++g) {
      GroupSelection s;
      if (!ps1::SelectionOf(t, *t.Instruction(index), g, &s)) break;
      if (ps1::FitsSwizzle(s, kIdentity) || ps1::FitsSwizzle(s, kAlpha) ||
          (WritesOnlyW(t, *t.Instruction(index)) && ps1::FitsSwizzle(s, kBlue)))
        continue;
      const std::uint32_t c = ps1::ReplicatedComponent(s);
      const HRESULT one = c == ps1::kNoSelection ? Unmapped(t, index) : EmulateSelection(t, list, index, g, c);
      hr = one == 1 ? hr : one;
    }
    return hr;
  });
}

// --- Write masks -------------------------------------------------------------------------

namespace {

// One pass over the arithmetic entries: a partial colour write whose results
// later code reads in one group with values an earlier write left in other
// colour components (so they would share a register, and widening either
// write would clobber the other) is merged with them.
class WriteMaskEmulation {
 public:
  explicit WriteMaskEmulation(PixelShader1Target& t) : m_t(t), m_list(t) {}
  HRESULT Run();

 private:
  enum : std::uint8_t { kPlaced = 1, kPending = 2 };

  bool InResults(const IrInstruction& inst, std::uint32_t value) const {
    const std::uint32_t root = m_t.ResolveAlias(value);
    return std::find(inst.results, inst.results + inst.resultCount, root) != inst.results + inst.resultCount;
  }
  // Temporaries outside a set that entries after `k` read in one group with
  // a member (`member` takes alias roots), through `visit`.
  template <class Member, class Visit>
  void ForEachPartner(std::uint32_t k, Member member, Visit visit) const;
  // Whether a value is a result of `inst`.
  auto ResultsOf(const IrInstruction& inst) const {
    return [this, &inst](std::uint32_t v) { return InResults(inst, v); };
  }
  bool PartialColour(const IrInstruction& inst) const;
  HRESULT SplitDotIntoW(std::uint32_t k, bool* done);
  HRESULT Merge(std::uint32_t k, bool* merged);
  // Later reads of from[c] read to[c] instead, keeping their modifiers.
  HRESULT Rename(std::uint32_t k, const std::uint32_t* from, const std::uint32_t* to, std::uint32_t count);
  std::uint8_t State(std::uint32_t i) const { return i < m_states.Size() ? m_states[i] : 0; }

  PixelShader1Target& m_t;
  ArithmeticRebuild m_list;
  PodArray<std::uint8_t> m_states;  // per instruction: placed in the rebuilt list, or still to come
};

template <class Member, class Visit>
void WriteMaskEmulation::ForEachPartner(std::uint32_t k, Member member, Visit visit) const {
  for (std::uint32_t later = k + 1; later < m_list.Count(); ++later) {
    const IrInstruction* reader = m_t.Instruction(m_list[later]);
    if (!Live(reader)) continue;
    const std::uint32_t n = reader->Width();
    const std::uint32_t groups = ps1::GroupCount(*reader);
    for (std::uint32_t g = 0; g < groups; ++g) {
      const std::uint32_t* group = reader->arguments + g * n;
      if (std::none_of(group, group + n, [&](std::uint32_t v) { return member(m_t.ResolveAlias(v)); })) continue;
      for (std::uint32_t j = 0; j < n; ++j) {
        const std::uint32_t root = m_t.ResolveAlias(group[j]);
        if (!member(root) && m_t.IsTemporaryValue(root)) visit(root);
      }
    }
  }
}

bool WriteMaskEmulation::PartialColour(const IrInstruction& inst) const {
  if (inst.resultCount == 0 || inst.resultCount > 3) return false;
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    const IrValue* v = m_t.Value(inst.results[r]);
    if (!v || v->component >= kComponentW || !m_t.IsTemporaryValue(inst.results[r])) return false;
  }
  return inst.resultCount < 3;
}

// A dot product whose scalar lands in w beside other components of a later
// group is computed into a temporary's w and moved.
HRESULT WriteMaskEmulation::SplitDotIntoW(std::uint32_t k, bool* done) {
  *done = false;
  IrInstruction* dot = m_t.Instruction(m_list[k]);
  if (!dot->IsDot() || dot->resultCount != 1 || m_t.Value(dot->results[0])->component != kComponentW) return S_OK;
  bool shared = false;
  ForEachPartner(k, ResultsOf(*dot), [&](std::uint32_t) { shared = true; });
  if (!shared) return S_OK;
  const std::uint32_t result = dot->results[0];
  const std::uint32_t w = ps1::NewTemporary(m_t, kComponentW);
  if (w == kNoIndex) return E_OUTOFMEMORY;
  const std::uint32_t move = ps1::AddProducer(m_t, IrWord(kOpMove, 1), &w, 1, &result, 1, m_list[k]);
  if (move == kNoIndex) return E_OUTOFMEMORY;
  m_t.Instruction(m_list[k])->results[0] = w;
  m_t.Value(w)->definingPosition = m_list[k];
  HRESULT hr = m_list.Append(m_list[k], m_list[k]);
  if (SUCCEEDED(hr)) hr = m_list.Append(move, m_list[k]);
  *done = true;
  return hr;
}

HRESULT WriteMaskEmulation::Rename(std::uint32_t k, const std::uint32_t* from, const std::uint32_t* to,
                                   std::uint32_t count) {
  for (std::uint32_t later = k + 1; later < m_list.Count(); ++later) {
    IrInstruction* reader = m_t.Instruction(m_list[later]);
    if (!Live(reader)) continue;
    for (std::uint32_t a = 0; a < reader->argumentCount; ++a) {
      const std::uint32_t original = reader->arguments[a];
      const std::uint32_t* at = std::find(from, from + count, m_t.ResolveAlias(original));
      if (at == from + count) continue;
      const std::uint32_t target = to[at - from];
      if (original == *at) {
        reader->arguments[a] = target;
        continue;
      }
      const std::uint32_t copy = m_t.AddValueCopy(m_t.Value(target));
      if (copy == kNoIndex) return E_OUTOFMEMORY;
      m_t.Value(copy)->binding = m_t.Value(original)->binding;
      m_t.Value(copy)->alias = target;
      m_t.Instruction(m_list[later])->arguments[a] = copy;
    }
  }
  return S_OK;
}

// This partial write and the one earlier write whose values later code reads
// with it become one lrp into new temporaries: selector 1 takes this
// write's components, 0 the earlier write's.
HRESULT WriteMaskEmulation::Merge(std::uint32_t k, bool* merged) {
  *merged = false;
  const std::uint32_t index = m_list[k];
  const IrInstruction& inst = *m_t.Instruction(index);
  std::uint32_t own[3] = {kNoIndex, kNoIndex, kNoIndex}, kept[3] = {kNoIndex, kNoIndex, kNoIndex};
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) own[m_t.Value(inst.results[r])->component] = r;
  std::uint32_t earlier = kNoIndex;
  HRESULT hr = S_OK;
  bool grew = false;
  auto take = [&](std::uint32_t v) {
    const std::uint32_t producer = m_t.ProducerOf(v);
    const std::uint32_t state = State(producer);
    const std::uint32_t c = m_t.Value(v)->component;
    // Alpha shares a register with colour freely; a later write merges itself.
    if (FAILED(hr) || c >= kComponentW || state == kPending) return;
    m_t.SetCurrentInstruction(index);
    if (state != kPlaced) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kIllformedWriteField);
      hr = E_FAIL;
      return;
    }
    if (own[c] != kNoIndex || (kept[c] != kNoIndex && kept[c] != v) || (earlier != kNoIndex && earlier != producer)) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kWriteMaskEmulation, static_cast<int>(m_t.Minor()));
      hr = E_FAIL;
      return;
    }
    grew |= kept[c] != v;
    kept[c] = v;
    earlier = producer;
  };
  ForEachPartner(k, ResultsOf(inst), take);
  // The kept values move to the lrp's register, which it writes whole: what
  // later code reads in one group with them must move along.
  auto merging = [&](std::uint32_t v) { return InResults(inst, v) || std::find(kept, kept + 3, v) != kept + 3; };
  while (grew && SUCCEEDED(hr)) {
    grew = false;
    ForEachPartner(k, merging, take);
  }
  if (FAILED(hr) || earlier == kNoIndex) return hr;
  // A partial move without result modifiers feeds the lrp its sources.
  bool dropped = inst.IsMove() && inst.argumentCount == inst.resultCount;
  for (std::uint32_t r = 0; r < inst.resultCount && dropped; ++r)
    dropped = !(m_t.Value(inst.results[r])->binding & (mod::kSaturate | mod::kResultShiftBits));
  const std::uint32_t* mine = dropped ? inst.arguments : inst.results;
  std::uint32_t firstKept = kNoIndex;
  for (const std::uint32_t v : kept)
    if (firstKept == kNoIndex) firstKept = v;
  // Per merged component: the selector, this write's value and the kept one.
  // The unused side of each group reads the same register at that component
  // (times a zero factor), so each group stays one register.
  std::uint32_t groups[3][3], from[3], to[3], m = 0;
  for (std::uint32_t c = 0; c < kComponentW; ++c) {
    if (own[c] == kNoIndex && kept[c] == kNoIndex) continue;
    const bool mineHere = own[c] != kNoIndex;
    groups[0][m] = mineHere ? m_t.oneValue : m_t.zeroValue;
    groups[1][m] = mine[mineHere ? own[c] : 0];
    groups[2][m] = mineHere ? firstKept : kept[c];
    from[m] = mineHere ? inst.results[own[c]] : kept[c];
    if ((to[m] = ps1::NewTemporary(m_t, c)) == kNoIndex) return E_OUTOFMEMORY;
    ++m;
  }
  std::uint32_t arguments[9];
  for (std::uint32_t g = 0; g < 3; ++g) std::copy(groups[g], groups[g] + m, arguments + g * m);
  const std::uint32_t lerp = ps1::AddProducer(m_t, IrWord(kOpPs1Lerp, m), arguments, 3 * m, to, m, index);
  if (lerp == kNoIndex || !m_states.Reserve(lerp + 1)) return E_OUTOFMEMORY;
  while (m_states.Size() <= lerp) m_states.Append(0);
  m_states[lerp] = kPlaced;
  if (!dropped) {
    m_states[index] = kPlaced;
    if (FAILED(hr = m_list.Append(index, index))) return hr;
  } else {
    m_t.Instruction(index)->word = 0;
  }
  if (FAILED(hr = m_list.Append(lerp, index))) return hr;
  *merged = true;
  return Rename(k, from, to, m);
}

HRESULT WriteMaskEmulation::Run() {
  HRESULT hr = m_list.Take();
  if (FAILED(hr)) return hr;
  if (!m_states.Reserve(m_t.instructions.Count())) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) m_states.Append(0);
  for (std::uint32_t k = 0; k < m_t.Stages() && k < m_t.stageList.Count(); ++k)
    if (m_t.stageList[k] != kNoIndex) m_states[m_t.stageList[k]] = kPlaced;
  for (std::uint32_t k = 0; k < m_list.Count(); ++k)
    if (m_list[k] < m_states.Size()) m_states[m_list[k]] = kPending;
  bool changed = false;
  for (std::uint32_t k = 0; k < m_list.Count(); ++k) {
    const std::uint32_t index = m_list[k];
    const IrInstruction* inst = m_t.Instruction(index);
    bool done = false;
    if (Live(inst) && inst->IsDot() && FAILED(hr = SplitDotIntoW(k, &done))) return hr;
    inst = m_t.Instruction(index);
    // A partial write that later code reads with values already written
    // merges with them; one read only with later writes waits for those.
    if (!done && Live(inst) && !ps1::IsTextureSide(inst->Group()) && PartialColour(*inst) &&
        FAILED(hr = Merge(k, &done)))
      return hr;
    changed |= done;
    if (index < m_states.Size()) m_states[index] = kPlaced;
    if (!done && FAILED(hr = m_list.Append(index, index))) return hr;
  }
  return changed ? m_t.ResetSelectionState() : 1;
}

}  // namespace

HRESULT Ps1StandardRules::EmulateWriteMasks(PixelShader1Target& t) {
  if (t.Is14()) return 1;
  return WriteMaskEmulation(t).Run();
}

}  // namespace gxl::shader
