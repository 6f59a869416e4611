// Constant folding over the IR: per instruction, each result component is
// evaluated, simplified by identities, or given the facts its arguments
// allow. Folding redirects results and never rewrites an instruction; an
// instruction folds only as a whole, so that a vector is never split between
// a register and literals.
#include "gxl/shader/backend/opt/fold.h"

#include <algorithm>
#include <cmath>

namespace gxl::shader {

namespace fold {

void Learn(ShaderProgram& p, std::uint32_t value, std::uint32_t bits) {
  IrValue* v = p.values[value];
  if (!v || (v->flags & bits) == bits) return;
  v->flags |= bits;
  if (p.foldState) p.foldState->factsChanged = true;
}

void SetPrecision(ShaderProgram& p, std::uint32_t value, std::uint32_t field) {
  IrValue* v = p.values[value];
  if (!v || opt::Precision(v->flags) == field) return;
  opt::SetPrecision(*v, field);
  if (p.foldState) p.foldState->factsChanged = true;
}

bool Foldable(const ShaderProgram& p, std::uint32_t value) {
  const std::uint32_t type = opt::BankTypeOf(p, value);
  return (type & kBankReadable) && !(type & kBankBlockMoves) && opt::Replaceable(p, value);
}

HRESULT RedirectToLiteral(ShaderProgram& p, std::uint32_t result, long double x) {
  const double value = static_cast<double>(x);
  FoldState& state = *p.foldState;
  const bool zero = value == 0.0 && !std::signbit(value), one = value == 1.0;
  std::uint32_t& shared = zero ? state.zero : state.one;
  std::uint32_t literal = (zero || one) ? shared : kNoIndex;
  if (literal == kNoIndex) {
    literal = p.AddValue(p.StandardBankIndex(StandardBank::Literals), 0, 0, value);
    if (literal == kNoIndex) return E_OUTOFMEMORY;
    p.values[literal]->renumber = literal;
    if (zero || one) shared = literal;
  }
  opt::Redirect(p, result, literal);
  return S_OK;
}

const IrInstruction* Definer(const ShaderProgram& p, std::uint32_t value, std::uint32_t* slot) {
  const IrValue* v = p.values.Peek(value);
  const IrInstruction* d =
      v && !(opt::BankTypeOf(p, value) & kBankLiteral) ? p.instructions.Peek(v->definingPosition) : nullptr;
  if (opt::IsEmpty(d)) return nullptr;
  const std::uint32_t s = opt::ResultSlot(*d, value);
  if (s == kNoIndex) return nullptr;
  if (slot) *slot = s;
  return d;
}

std::uint32_t NegationOf(const ShaderProgram& p, std::uint32_t value) {
  std::uint32_t slot;
  const IrInstruction* d = Definer(p, value, &slot);
  return d && d->IsNegate() && slot < d->argumentCount ? UnaryArgument(p, *d, slot) : kNoIndex;
}

void ReportDomainError(ShaderProgram& p, IrInstruction& instruction, const Message& message) {
  if (instruction.word14 & kDomainReported) return;
  instruction.word14 |= kDomainReported;
  p.Report(instruction.sourcePosition, message.severity, message.code, "%s", message.format);
}

}  // namespace fold

namespace {

using fold::Flags;

// lit (x, y, z, w) -> (1, max(x, 0), y^w where x and y are not negative, 1),
// decided only as far as literal arguments allow.
HRESULT FoldLit(ShaderProgram& p, const IrInstruction& inst) {
  if (inst.argumentCount != 4 || inst.resultCount != 4) return S_FALSE;
  std::uint32_t a[4];
  for (int i = 0; i < 4; ++i) a[i] = opt::Root(p, inst.arguments[i]);
  auto literal = [&](int i, double* x) {
    if (!opt::IsLiteral(p, a[i])) return false;
    *x = p.values[a[i]]->rangeLow;
    return true;
  };
  // Each of results 1 and 2: a literal value, a value, or undecided.
  struct Decision {
    bool decided = false;
    bool isValue = false;
    std::uint32_t value = kNoIndex;
    double literal = 0.0;
  } result[2];
  double x, y, w;
  if (literal(0, &x)) {
    if (x < 0) {
      result[0] = {true, false, kNoIndex, 0.0};
      result[1] = {true, false, kNoIndex, 0.0};
    } else {
      result[0] = {true, true, a[0], 0.0};
      if (literal(1, &y)) {
        if (y < 0)
          result[1] = {true, false, kNoIndex, 0.0};
        else if (literal(3, &w) && w == 0)
          result[1] = {true, false, kNoIndex, 1.0};
        else if (literal(3, &w) && w == 1)
          result[1] = {true, true, a[1], 0.0};
      }
    }
  }
  for (int r = 0; r < 2; ++r) {
    if (!result[r].decided && p.values[inst.results[1 + r]]->useCount != 0) return S_FALSE;
  }
  for (std::uint32_t r : {0u, 3u}) {
    if (HRESULT hr = fold::RedirectToLiteral(p, inst.results[r], 1.0L); FAILED(hr)) return hr;
  }
  for (int r = 0; r < 2; ++r) {
    const std::uint32_t target = inst.results[1 + r];
    if (result[r].isValue) {
      opt::Redirect(p, target, result[r].value);
    } else if (HRESULT hr = fold::RedirectToLiteral(p, target, result[r].literal); FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

// Precision of the arguments of a minimum or maximum: the larger of their
// fields, then the smaller of that and the result's, written back into an
// argument computed and read only here.
void MergeMinMaxPrecision(ShaderProgram& p, const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  for (std::uint32_t k = 0; k < n && k < inst.resultCount; ++k) {
    const std::uint32_t a = opt::Root(p, inst.arguments[k]), b = opt::Root(p, inst.arguments[n + k]);
    const std::uint32_t larger = opt::HighestPrecision(opt::Precision(Flags(p, a) | Flags(p, b)));
    const std::uint32_t field = opt::LowestPrecision(larger | opt::Precision(Flags(p, inst.results[k])));
    for (std::uint32_t v : {a, b}) {
      IrValue* value = p.values[v];
      if (value && (opt::BankTypeOf(p, v) & kBankWritable) && value->useCount == 1) fold::SetPrecision(p, v, field);
    }
  }
}

// Moves and negations: result and argument share the finest precision either has.
void ShareMovePrecision(ShaderProgram& p, const IrInstruction& inst) {
  for (std::uint32_t k = 0; k < inst.resultCount && k < inst.argumentCount; ++k) {
    const std::uint32_t a = opt::Root(p, inst.arguments[k]);
    IrValue* result = p.values[inst.results[k]];
    IrValue* argument = p.values[a];
    if (!result || !argument) continue;
    const std::uint32_t field = opt::LowestPrecision(opt::Precision(result->flags | argument->flags));
    fold::SetPrecision(p, inst.results[k], field);
    if ((opt::BankTypeOf(p, a) & kBankWritable) && argument->useCount == 1) fold::SetPrecision(p, a, field);
  }
}

// After an instruction's components were tried: keeps its redirections when
// every result moved and all targets share a bank, else takes them back,
// keeping what the results learnt. True when the instruction folded.
bool SettleInstruction(ShaderProgram& p, const IrInstruction& inst) {
  FoldState& state = *p.foldState;
  bool all = inst.resultCount != 0, oneBank = true;
  std::uint32_t bank = kNoIndex;
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    const std::uint32_t target = opt::Root(p, inst.results[r]);
    if (target == inst.results[r]) {
      all = false;
      continue;
    }
    // An element of a writable array may be written again before the
    // result's readers run: they keep reading the result.
    if (p.values[target]->relativeIndex != kNoIndex && (opt::BankTypeOf(p, target) & kBankWritable)) all = false;
    const std::uint32_t b = p.values[target]->bank;
    oneBank = oneBank && (bank == kNoIndex || bank == b);
    bank = b;
  }
  if (all && oneBank) {
    for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
      const IrValue& result = *p.values[inst.results[r]];
      IrValue& target = *p.values[opt::Root(p, inst.results[r])];
      if ((opt::BankTypeOf(p, opt::Root(p, inst.results[r])) & kBankWritable) && !target.declaration) {
        target.declaration = result.declaration;
        target.variableComponent = result.variableComponent;
      }
    }
    return true;
  }
  for (std::uint32_t r = 0; r < inst.resultCount; ++r) {
    IrValue& result = *p.values[inst.results[r]];
    if (result.renumber == inst.results[r]) continue;
    fold::Learn(p, inst.results[r], Flags(p, opt::Root(p, inst.results[r])) & fold::kFacts);
    result.renumber = inst.results[r];
  }
  for (std::uint32_t i = p.values.Count(); i-- > state.firstCreated;) {
    delete p.values.Slot(i);
    p.values.Slot(i) = nullptr;
  }
  p.values.Truncate(state.firstCreated);
  if (state.zero >= state.firstCreated) state.zero = kNoIndex;
  if (state.one >= state.firstCreated) state.one = kNoIndex;
  return false;
}

}  // namespace

namespace fold {

HRESULT FoldAt(ShaderProgram& p, std::uint32_t position, bool* folded) {
  IrInstruction* inst = p.instructions[position];
  if (opt::IsEmpty(inst)) return S_OK;
  FoldState& state = *p.foldState;
  state.firstCreated = p.values.Count();
  const std::uint32_t group = inst->Group(), n = inst->Width();
  HRESULT hr = S_FALSE;
  switch (inst->Class()) {
    case 1:
      if (group == kOpDiscard) break;
      if (group == kOpMove || group == kOpNegate) ShareMovePrecision(p, *inst);
      for (std::uint32_t k = 0; k < n && SUCCEEDED(hr); ++k)
        hr = p.FoldConstantOperation(*inst, inst->results[k], opt::Root(p, inst->arguments[k]));
      break;
    case 2:
      if (group == kOpMin || group == kOpMax) MergeMinMaxPrecision(p, *inst);
      for (std::uint32_t k = 0; k < n && SUCCEEDED(hr); ++k)
        hr = p.FoldBinaryComponent(*inst, inst->results[k], opt::Root(p, inst->arguments[k]),
                                   opt::Root(p, inst->arguments[n + k]));
      break;
    case 3:
      for (std::uint32_t k = 0; k < n && SUCCEEDED(hr); ++k)
        hr = p.FoldTernaryComponent(*inst, inst->results[k], opt::Root(p, inst->arguments[k]),
                                    opt::Root(p, inst->arguments[n + k]), opt::Root(p, inst->arguments[2 * n + k]));
      break;
    default:
      if (group == kOpDot) {
        // Rewrites the instruction itself: S_OK when it did.
        if ((hr = p.FoldDotProduct(*inst, true)) == S_OK) *folded = true;
        if (FAILED(hr)) return hr;
        if (opt::IsEmpty(inst)) return S_OK;
      } else if (inst->word == IrWord(kOpLit, 4) &&
                 std::all_of(inst->results, inst->results + inst->resultCount,
                             [&p](std::uint32_t r) { return fold::Foldable(p, r); })) {
        hr = FoldLit(p, *inst);
      }
      break;
  }
  if (FAILED(hr)) return hr;
  *folded |= SettleInstruction(p, *inst);
  return S_OK;
}

}  // namespace fold

HRESULT ShaderProgram::FoldConstants() {
  fold::FoldRun run(*this);
  FoldState& state = run.State();
  NumberValues();
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  bool folded = false;
  const std::uint32_t valuesBefore = values.Count();
  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    if (FAILED(hr = fold::FoldAt(*this, position, &folded))) return hr;
  if (folded) opt::ForwardRedirections(*this);
  // A new literal may equal one made by an earlier round; the merging passes
  // of the round compare arguments by identity, so equal literals become one.
  if (values.Count() != valuesBefore && FAILED(hr = MergeDuplicateValues())) return hr;
  return folded || state.factsChanged ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
