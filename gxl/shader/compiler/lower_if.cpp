// Lowering of if statements: a known condition lowers one branch; otherwise
// the branches become a flow-control if block where the target has one and
// it pays, else code guarded by the condition whose results select merges.
#include <cstring>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

// An if block that changes this many variables, or holds more instructions
// than the limit, costs less than merging guarded code.
constexpr std::uint32_t kBlockVariables = 17;
constexpr std::uint32_t kBlockInstructions = 32;

bool IsSample(std::uint32_t word) { return IrClass(word) == 6; }
using loops::TakesDerivatives;

}  // namespace

struct ShaderCompiler::Branch {
  PodArray<std::uint32_t> map;  // the value map the branch leaves
  bool returned = false;
  bool discarded = false;
};

HRESULT ShaderCompiler::LowerBranch(const ParseNode* branch, const std::uint32_t* saved, Branch& out) {
  const HRESULT hr = branch ? LowerStatement(branch, saved) : S_OK;
  out.map.Clear();
  if (!out.map.Append(valueMap.Data(), valueMap.Size())) return OutOfMemory(branch);
  std::memcpy(valueMap.Data(), saved, valueMap.Size() * sizeof(std::uint32_t));
  out.returned = returned;
  out.discarded = discarded;
  returned = discarded = 0;
  return hr;
}

HRESULT ShaderCompiler::MergeBranches(const ParseNode* node, const Branch& then, const Branch& otherwise,
                                      const std::uint32_t* saved, bool flowControl, std::uint32_t block,
                                      std::uint32_t thenPolarity, std::uint32_t thenGuard) {
  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  auto missing = [&](std::uint32_t v) { return !Value(v) || Value(v)->bank == undefined; };
  PodArray<std::uint32_t> slots;
  for (std::uint32_t s = 0; s < valueMap.Size(); ++s) {
    const std::uint32_t t = then.map[s], e = otherwise.map[s];
    valueMap[s] = t;
    if (t == e) continue;
    // Guarded code needs no merge where one side never had a value.
    if (!flowControl && (missing(t) || missing(e))) {
      valueMap[s] = missing(t) ? e : t;
      continue;
    }
    if (!slots.Append(s)) return E_OUTOFMEMORY;
  }
  const auto m = static_cast<std::uint32_t>(slots.Size());
  if (m == 0) return S_OK;
  WordBlock words(*this, 5 * m);
  if (!words || Zero() == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t *thenValues = words.Get(), *elseValues = thenValues + m, *merged = elseValues + m;
  std::uint32_t *movedThen = merged + m, *movedElse = movedThen + m;
  for (std::uint32_t k = 0; k < m; ++k) {
    const std::uint32_t t = then.map[slots[k]], e = otherwise.map[slots[k]];
    thenValues[k] = missing(t) ? zero : t;
    elseValues[k] = missing(e) ? zero : e;
  }
  FillIndicesWithNone(merged, m);
  HRESULT hr;
  if (flowControl) {
    // Each side's values moved inside the block, then merged outside it.
    const std::uint32_t outerBlock = blockContext, outerPolarity = polarity;
    blockContext = block;
    polarity = thenPolarity;
    hr = Emit1(node, kOpMove, m, movedThen, thenValues);
    polarity = 1 - thenPolarity;
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpMove, m, movedElse, elseValues);
    blockContext = outerBlock;
    polarity = outerPolarity;
    if (FAILED(hr)) return hr;
    for (std::uint32_t k = 0; k < m; ++k) {
      PlaceIn(movedThen[k], StandardBank::BlockMoves);
      PlaceIn(movedElse[k], StandardBank::BlockMoves);
    }
    hr = EmitInstruction(node, IrWord(kOpIfMerge, m), merged, movedThen, movedElse, 0);
  } else {
    std::fill_n(movedThen, m, thenGuard);
    hr = EmitSelect(node, merged, elseValues, thenValues, movedThen, m);
  }
  if (FAILED(hr)) return hr;
  for (std::uint32_t k = 0; k < m; ++k) {
    const std::uint32_t s = slots[k];
    IrValue* v = Value(merged[k]);
    if (const IrValue* before = Value(saved[s])) v->CopyVariableFields(before);
    v->symbolSlot = s;
    valueMap[s] = merged[k];
  }
  return S_OK;
}

void ShaderCompiler::RestoreFacts(const PodArray<HeldFacts>& held) {
  for (std::size_t k = held.Size(); k-- > 0;) {
    if (IrValue* v = Value(held[k].value)) {
      v->flags = held[k].flags;
      v->rangeLow = held[k].low;
      v->rangeHigh = held[k].high;
    }
  }
}

HRESULT ShaderCompiler::LowerIf(const ParseNode* node, std::uint32_t condition, const ParseNode* then,
                                const ParseNode* otherwise) {
  const PodArray<HeldFacts>* held = heldFacts;  // for this if alone, not for those in its branches
  heldFacts = nullptr;
  if (!target || !Value(condition)) return E_FAIL;
  struct Restore {
    ShaderCompiler& c;
    std::uint32_t guard, block, polarity, staticIfs, dynamicIfs;
    const PodArray<HeldFacts>* held;
    ~Restore() {
      c.guard = guard;
      c.blockContext = block;
      c.polarity = polarity;
      c.staticIfs = staticIfs;
      c.dynamicIfs = dynamicIfs;
      if (held) c.RestoreFacts(*held);
    }
  } restore{*this, guard, blockContext, polarity, staticIfs, dynamicIfs, held};

  // A known condition lowers one branch.
  ValueRange r;
  if (SUCCEEDED(EvaluateRange(condition, &r))) {
    if (r.low > 0 || r.high < 0) return LowerStatement(then, nullptr);
    if (r.low == 0 && r.high == 0) return LowerStatement(otherwise, nullptr);
  }

  // The test T, its opposite U, and which branch T opens.
  std::uint32_t resolved = condition, test = kNoIndex, opposite = kNoIndex, b = kNoIndex;
  HRESULT hr = ResolveMoveSources(nullptr, &resolved, 1);
  if (FAILED(hr)) return hr;
  bool testOpensThen = true, isStatic = false;
  auto uniformRead = [this](std::uint32_t value) {
    const IrValue* v = Value(value);
    const RegisterBank* bank = v ? Bank(v->bank) : nullptr;
    return bank && (bank->type & kBankInitialised) && (bank->type & kBankUniform) && v->relativeIndex == kNoIndex;
  };
  // A logical not of a boolean b: greater-or-equal(-b, b).
  if (const IrValue* v = Value(resolved); const IrInstruction* inst = Instruction(v->definingPosition)) {
    const std::uint32_t n = inst->Width();
    for (std::uint32_t k = 0; k < inst->resultCount && inst->Group() == kOpGreaterEqual; ++k) {
      if (inst->results[k] != resolved || n + k >= inst->argumentCount) continue;
      const std::uint32_t negated = inst->arguments[k], operand = inst->arguments[n + k];
      const IrInstruction* negate = Value(negated) ? Instruction(Value(negated)->definingPosition) : nullptr;
      for (std::uint32_t j = 0; negate && negate->Group() == kOpNegate && j < negate->resultCount; ++j)
        if (negate->results[j] == negated && negate->arguments[j] == operand && (Value(operand)->flags & kValueBoolean))
          b = operand;
    }
  }
  if (b != kNoIndex) {
    if (FAILED(hr = ResolveMoveSources(nullptr, &b, 1))) return hr;
    hr = Emit1(node, kOpMove, 1, &test, &b, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpMove, 1, &opposite, &condition, kValueComparison);
    testOpensThen = false;
    isStatic = uniformRead(b);
  } else if (Value(condition)->flags & kValueBoolean) {
    std::uint32_t negated = kNoIndex;
    hr = Emit1(node, kOpNegate, 1, &negated, &condition, kValueUnitMagnitude);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpMove, 1, &test, &condition, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, 1, &opposite, &negated, &condition, kValueComparison);
    isStatic = uniformRead(resolved);
  } else {
    std::uint32_t m = kNoIndex, negated = kNoIndex;
    hr = EmitComparisonOperands(node, &m, &negated, &condition, 1);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, 1, &test, &negated, &m, kValueComparison);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, 1, &opposite, &negated, &m, kValueComparison);
  }
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;

  // What the test's storage and the target allow.
  std::uint32_t blockTest = test;
  if (FAILED(hr = ResolveMoveSources(nullptr, &blockTest, 1))) return hr;
  const RegisterBank* bank = Bank(Value(blockTest)->bank);
  const ProfileLimits& limits = target->profileLimits;
  const std::uint32_t staticLimit = limits.word11, dynamicLimit = limits.word12;
  const bool predicateIfs = limits.predicates != 0;
  const bool freePredicate = predicateIfs && blockContext == kNoIndex;
  const bool named = bank && (bank->type & kBankKeepValues) && bank->name;
  bool flow = false, guarded = true;
  if (named && std::strpbrk(bank->name, "bB")) {
    flow = staticLimit && isStatic;
    guarded = !flow;
  } else if (named && std::strpbrk(bank->name, "cC")) {
    isStatic = false;
    flow = dynamicLimit || freePredicate;
  } else {
    flow = dynamicLimit || (staticLimit && isStatic) || freePredicate;
  }
  if (flow && guarded && !predicateIfs && (isStatic ? staticIfs >= staticLimit : dynamicIfs >= dynamicLimit))
    flow = false;
  if ((options & kOptionAvoidFlowControl) && guarded) flow = false;
  if ((options & kOptionPreferFlowControl) && flow) guarded = false;

  PodArray<std::uint32_t> saved;
  if (!saved.Append(valueMap.Data(), valueMap.Size())) return OutOfMemory(node);
  Branch thenBranch, elseBranch;
  const std::uint32_t thenPolarity = testOpensThen ? 1 : 0;
  bool merged = false;
  if (flow) {
    const std::uint32_t noted = InstructionCount();
    if (!predicateIfs) ++(isStatic ? staticIfs : dynamicIfs);
    std::uint32_t block = kNoIndex;
    if (FAILED(hr = Emit1(node, kOpIfBegin, 1, &block, &blockTest)))
      return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
    PlaceIn(block, predicateIfs ? StandardBank::Predicates : StandardBank::BlockValues);
    const std::uint32_t outerBlock = blockContext, outerPolarity = polarity;
    blockContext = block;
    polarity = thenPolarity;
    hr = LowerBranch(then, saved.Data(), thenBranch);
    polarity = 1 - thenPolarity;
    if (SUCCEEDED(hr)) hr = LowerBranch(otherwise, saved.Data(), elseBranch);
    blockContext = outerBlock;
    polarity = outerPolarity;
    staticIfs = restore.staticIfs;
    dynamicIfs = restore.dynamicIfs;
    if (FAILED(hr)) return hr;
    std::uint32_t differ = 0;
    for (std::uint32_t s = 0; s < valueMap.Size(); ++s) differ += thenBranch.map[s] != elseBranch.map[s];
    bool keep = !guarded || differ >= kBlockVariables || EmittedSince(noted) > kBlockInstructions ||
                AnyInstructionSince(noted, IsSample);
    // Derivatives need every pixel of the quad to run the same code.
    if (!isStatic && AnyInstructionSince(noted, TakesDerivatives)) keep = false;
    if (keep) {
      if (held) RestoreFacts(*held);
      hr = MergeBranches(node, thenBranch, elseBranch, saved.Data(), true, block, thenPolarity, kNoIndex);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
      merged = true;
    } else {
      DropInstructionsFrom(noted);
      std::memcpy(valueMap.Data(), saved.Data(), valueMap.Size() * sizeof(std::uint32_t));
    }
  }
  if (!merged) {
    const std::uint32_t thenGuard = testOpensThen ? test : opposite;
    const std::uint32_t elseGuard = testOpensThen ? opposite : test;
    const std::uint32_t outerGuard = Value(guard) ? guard : One();
    for (int side = 0; side < 2; ++side) {
      const ParseNode* branch = side == 0 ? then : otherwise;
      Branch& out = side == 0 ? thenBranch : elseBranch;
      guard = outerGuard;
      if (branch) {
        std::uint32_t g = kNoIndex;
        const std::uint32_t own = side == 0 ? thenGuard : elseGuard;
        if (FAILED(hr = Emit2(node, kOpMultiply, 1, &g, &outerGuard, &own, kValueComparison)))
          return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
        guard = g;
      }
      hr = LowerBranch(branch, saved.Data(), out);
      guard = outerGuard;
      if (FAILED(hr)) return hr;
    }
    if (held) RestoreFacts(*held);
    hr = MergeBranches(node, thenBranch, elseBranch, saved.Data(), false, kNoIndex, 1, thenGuard);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  }

  // A return on one side only would need the rest of the function guarded.
  const bool t = thenBranch.returned, e = elseBranch.returned;
  if ((t && !e && !elseBranch.discarded) || (e && !t && !thenBranch.discarded)) {
    GXL_SHADER_REPORT(*this, node, msg::kAsymmetricReturns);
    return E_NOTIMPL;
  }
  discarded = thenBranch.discarded && elseBranch.discarded;
  returned = t || e;
  return S_OK;
}

}  // namespace gxl::shader
