// The final register assignment: register classes merged into one bank
// each, address, temporary and predicate registers placed within the
// profile limits, and the moves that became identities dropped.
#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/register_assignment.h"

namespace gxl::shader {

namespace {

struct ClassMerge {
  StandardBank target;
  std::uint32_t required, excluded;
  enum When { kAlways, kExpressionTargets, kNotVertex, kNotPixel } when;
};

constexpr ClassMerge kClassMerges[] = {
    {StandardBank::Temporaries, 0x3, 0x20400, ClassMerge::kAlways},
    {StandardBank::Address, 0x6, 0x401, ClassMerge::kAlways},
    {StandardBank::Predicates, 0xA, 0x4401, ClassMerge::kAlways},
    {StandardBank::Temporaries, 0x2, 0x31028, ClassMerge::kExpressionTargets},
    // The loop counter aL arrives initialised too, but is no input.
    {StandardBank::Inputs, 0x10, 0x204, ClassMerge::kNotVertex},
    {StandardBank::Outputs, 0x20, 0x42000, ClassMerge::kAlways},
    {StandardBank::BoolOutputs, 0x2020, 0x40000, ClassMerge::kAlways},
    {StandardBank::IntOutputs, 0x40020, 0x2000, ClassMerge::kAlways},
    {StandardBank::Samplers, 0x80, 0, ClassMerge::kNotPixel},
};

// Address values that do not fit the address registers become temporaries.
constexpr std::uint32_t kAddressAsTemporaryRequired = 0x2, kAddressAsTemporaryExcluded = 0x30028;

bool Applies(ClassMerge::When when, std::uint32_t version) {
  const std::uint32_t kind = version >> 16;
  switch (when) {
    case ClassMerge::kExpressionTargets:
      return kind == 0x4658 || kind == 0x5458;
    case ClassMerge::kNotVertex:
      return kind != 0xFFFE;
    case ClassMerge::kNotPixel:
      return kind < 0xFFFF;
    default:
      return true;
  }
}

// Build and assign one bank; the context is released either way.
HRESULT AssignBank(ShaderProgram& p, std::uint32_t bank, std::uint32_t limit, bool commit) {
  RegisterAssignment context;
  HRESULT hr = context.Build(p, bank, limit);
  if (SUCCEEDED(hr)) hr = context.Assign(commit);
  context.Release();
  return hr;
}

// Same place, same guard, nothing bound: the move copies a register onto itself.
bool IsIdentity(const IrValue& result, const IrValue& argument) {
  return result.bank == argument.bank && result.relativeIndex == argument.relativeIndex && result.reg == argument.reg &&
         result.component == argument.component && result.predicate == argument.predicate &&
         result.predicateSense == argument.predicateSense && result.binding == 0 && argument.binding == 0;
}

}  // namespace

HRESULT ShaderProgram::MergeRegisterClass(std::uint32_t target, std::uint32_t required, std::uint32_t excluded) {
  RegisterBank* into = banks[target];
  if (!into) return S_OK;
  const std::uint32_t count = banks.Count();
  auto base = opt::NewArray<std::uint32_t>(count);
  auto matches = opt::NewArray<bool>(count);
  if (!base || !matches) return E_OUTOFMEMORY;
  for (std::uint32_t b = 0; b < count; ++b) {
    const RegisterBank* bank = banks[b];
    matches[b] = bank && (bank->type & required) == required && (bank->type & excluded) == 0;
  }
  // Each bank's count: one past its highest register; an unassigned register
  // (kNoIndex) counts for nothing.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = values[i];
    if (v && v->bank < count && matches[v->bank] && v->reg != kNoIndex)
      base[v->bank] = std::max(base[v->bank], v->reg + 1);
  }
  std::uint64_t total = 0;
  bool relative = false;
  for (std::uint32_t b = 0; b < count; ++b) {
    if (!matches[b]) continue;
    const std::uint32_t size = base[b];
    base[b] = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, kNoIndex - 1));
    total += size;
    relative = relative || (banks[b]->type & kBankRelative);
    banks[b]->word6 = target;
  }
  if (total >= kNoIndex) return E_OUTOFMEMORY;  // no program has that many registers
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    if (!v || v->bank >= count || !matches[v->bank]) continue;
    if (v->reg != kNoIndex) v->reg += base[v->bank];
    v->bank = target;
  }
  into->registerCount = static_cast<std::uint32_t>(total);
  if (relative) into->type |= kBankRelative;
  return S_OK;
}

void ShaderProgram::ReportUnfitRegisters(const ParseNode* position) {
  if (!holdFitReport) {
    GXL_SHADER_REPORT(*this, position, msg::kTooManyActiveValues);
  } else if (!fitFailed) {
    fitFailed = true;
    fitFailurePosition = position;
  }
}

HRESULT ShaderProgram::AssignRegisters() {
  HRESULT hr;
  for (const ClassMerge& merge : kClassMerges) {
    if (!Applies(merge.when, versionToken)) continue;
    if (FAILED(hr = MergeRegisterClass(StandardBankIndex(merge.target), merge.required, merge.excluded))) return hr;
  }
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  if (profileLimits.addressRegisters != 0) {
    const std::uint32_t address = StandardBankIndex(StandardBank::Address);
    hr = AssignBank(*this, address, profileLimits.addressRegisters, false);
    if (hr == E_OUTOFMEMORY) return hr;
    hr = FAILED(hr) ? MergeRegisterClass(temporaries, kAddressAsTemporaryRequired, kAddressAsTemporaryExcluded)
                    : AssignBank(*this, address, profileLimits.addressRegisters, true);
    if (FAILED(hr)) return hr;
  }
  if (FAILED(hr = AssignBank(*this, temporaries, profileLimits.temporaries, true)) ||
      FAILED(hr = AssignBank(*this, StandardBankIndex(StandardBank::Predicates), profileLimits.predicates, true)))
    return hr;
  if (options & kOptionNoOptimisation) return S_OK;

  // Moves onto their own place go; their readers read the source.
  NumberValues();
  bool dropped = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    IrInstruction* inst = instructions[position];
    if (alloc::IsEmpty(inst) || inst->Group() != kOpMove || inst->Width() != inst->resultCount) continue;
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < inst->resultCount; ++k) {
      IrValue* result = values[inst->results[k]];
      const IrValue* argument = values[inst->arguments[k]];
      if (result && argument && IsIdentity(*result, *argument)) {
        result->renumber = argument->renumber;
        continue;
      }
      inst->results[kept] = inst->results[k];
      inst->arguments[kept++] = inst->arguments[k];
    }
    if (kept == inst->resultCount) continue;
    dropped = true;
    if (kept == 0) {
      opt::Empty(*inst);
    } else {
      inst->word = IrWord(kOpMove, kept);
      inst->argumentCount = inst->resultCount = kept;
    }
  }
  if (!dropped) return S_OK;
  RenumberValueLinks();
  if (FAILED(hr = RemoveUnusedValues())) return hr;
  hr = CompactInstructions();
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace gxl::shader
