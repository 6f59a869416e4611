// The structured rebuild of a predicated program (LowerPredicatedBlocks of the
// vertex and shader model 3 code generation): the blocks, then bool and loop
// conditions into the constant registers their instructions read.
#include <algorithm>
#include <new>
#include <vector>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

using namespace sel;

namespace {

// An integer register made for a literal count, and the start and step a
// loop put into it (none while only reps read it).
struct CountRegister {
  std::uint32_t literal, bound;
  bool claimed;
  double start, step;
};

// The register for a loop over `literal` from `start` by `step`: one made for
// the same triple, else one no loop has claimed (a rep reads the count
// alone), else a new one. An integer constant is its whole triple: loops
// that agree on the count alone must not share it.
HRESULT BindLoopCount(ShaderTarget& t, std::uint32_t literal, double start, double step,
                      std::vector<CountRegister>& made, std::uint32_t* bound) {
  CountRegister* free = nullptr;
  for (CountRegister& r : made) {
    if (r.literal != literal) continue;
    if (r.claimed && r.start == start && r.step == step) return *bound = r.bound, S_OK;
    if (!r.claimed && !free) free = &r;
  }
  if (free) {
    *free = {literal, free->bound, true, start, step};
    return *bound = free->bound, S_OK;
  }
  // The literal's binding link names the register made first, which a rep
  // may go on to read; a new one leaves it there.
  IrValue& v = *t.Value(literal);
  const std::uint32_t first = v.renumber;
  v.renumber = kNoIndex;
  const HRESULT hr = t.BindValueToOwnBank("i", kBankInteger, literal, bound);
  if (first != kNoIndex) t.Value(literal)->renumber = first;
  if (FAILED(hr)) return hr;
  made.push_back({literal, *bound, true, start, step});
  return S_OK;
}

// Conditions of if and loop instructions that their instructions read from
// b# and i# registers.
HRESULT BindFlowConditions(ShaderTarget& t) {
  std::vector<CountRegister> made;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) {
    IrInstruction* inst = t.Instruction(i);
    if (!inst || inst->word < 0x100000 || inst->Width() != 1 || inst->argumentCount == 0) continue;
    const std::uint32_t group = inst->Group();
    const std::uint32_t type = BankTypeOf(t, inst->arguments[0]);
    std::uint32_t bound = kNoIndex;
    if (group >= flow::kIf && group <= flow::kElseNot) {
      if (!(type & kBankUniform) || (type & kBankBoolean)) continue;
      const HRESULT hr = t.BindValueToOwnBank("b", kBankBoolean, inst->arguments[0], &bound);
      if (FAILED(hr)) return hr;
      inst->arguments[0] = bound;
    } else if (group == flow::kIfNotEqual && inst->argumentCount == 2 && IsLiteral(t, inst->arguments[1], 0.0)) {
      // The zero compared with is read negated; -0.0 compares as 0.0.
      const std::uint32_t copy = t.AddValueCopy(t.Value(inst->arguments[1]));
      if (copy == kNoIndex) return E_OUTOFMEMORY;
      t.Value(copy)->binding ^= kNegateBit;
      inst->arguments[1] = copy;
    } else if (group == flow::kLoop || group == flow::kRep) {
      if (!(type & kBankUniform) || (type & kBankInteger)) continue;
      const std::uint32_t count = inst->arguments[0];
      HRESULT hr;
      if ((type & kBankLiteral) && group == flow::kLoop && inst->argumentCount == 3) {
        hr = BindLoopCount(t, count, t.Value(inst->arguments[1])->rangeLow, t.Value(inst->arguments[2])->rangeLow,
                           made, &bound);
      } else {
        hr = t.BindValueToOwnBank("i", kBankInteger, count, &bound);
        auto same = [&](const CountRegister& r) { return r.bound == bound; };
        if (SUCCEEDED(hr) && (type & kBankLiteral) && std::none_of(made.begin(), made.end(), same))
          made.push_back({count, bound, false, 0, 0});
      }
      if (FAILED(hr)) return hr;
      const IrValue& counter = *t.Value(bound);
      const std::uint32_t bank = counter.bank, reg = counter.reg;
      // start and step go to components 1 and 2 of the count's register.
      for (std::uint32_t k = 1; k < inst->argumentCount; ++k) {
        const double literal = t.Value(inst->arguments[k])->rangeLow;
        const std::uint32_t v = t.AddValue(bank, reg, k, literal);
        if (v == kNoIndex) return E_OUTOFMEMORY;
        inst->arguments[k] = v;
      }
      inst->arguments[0] = bound;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT ShaderTarget::RebuildFlowControl() {
  // Renumbering field and coalescing link carry the pending predicate and
  // sense of the values the rebuild moves out of their blocks.
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = Value(i)) v->renumber = v->coalesceLink = kNoIndex;
  const std::uint32_t oldCount = instructions.Count();
  ConditionalWalk walk;
  walk.end = oldCount;
  std::uint32_t position = 0;
  HRESULT hr;
  try {
    hr = EmitConditionalBlock(*this, walk, &position, nullptr);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr) && position < oldCount) {
    // An instruction guarded by a value that opens no block here.
    GXL_SHADER_REPORT(*this, Instruction(position)->sourcePosition, msg::kIfPredicatesMismatch);
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    // The program stays as it was; only the appended copies go.
    for (std::uint32_t i = oldCount; i < instructions.Count(); ++i) delete instructions.Slot(i);
    instructions.Truncate(oldCount);
    return hr;
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (!v || v->coalesceLink == kNoIndex) continue;  // the sense marks a pending move
    v->predicate = v->renumber;
    v->predicateSense = v->coalesceLink;
    v->renumber = v->coalesceLink = kNoIndex;
  }
  for (std::uint32_t i = 0; i < oldCount; ++i)
    if (IrInstruction* inst = Instruction(i)) inst->word = 0;
  currentIndex = oldCount;
  current = Instruction(oldCount);
  hr = SimplifyNestedBoolConditions(*this);
  if (SUCCEEDED(hr)) hr = BindFlowConditions(*this);
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderTarget::LowerPredicatedBlocks() {
  HRESULT hr = BindArithmeticBooleansAsFloats();
  if (SUCCEEDED(hr)) hr = RebuildFlowControl();
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace gxl::shader
