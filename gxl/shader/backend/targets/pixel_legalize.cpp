// The pixel shader 2.x clean-up after register allocation: every instruction
// made acceptable to ps 2.x (dot products expanded where their swizzles are
// not allowed, derivatives of modified sources and awkward output writes
// routed through temporaries, other instructions split into parts whose
// swizzles are allowed) and put back in order.
#include <algorithm>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/pixel_shader2_target.h"

namespace gxl::shader {

namespace {

bool InRegisterOf(const IrValue& a, const IrValue& b) { return a.bank == b.bank && a.reg == b.reg; }

// Saturate and the result shifts (binding bits 9-15): how a value is written.
constexpr std::uint32_t kResultModifierBits = 0xFE00;

// `to` is written as `from` was; `from` is then written plainly.
void MoveResultModifiers(IrValue& from, IrValue& to) {
  to.binding = (to.binding & ~kResultModifierBits) | (from.binding & kResultModifierBits);
  from.binding &= ~kResultModifierBits;
}

}  // namespace

// mul and a mad per further component into fresh temporaries, the last one
// writing the destination.
HRESULT PixelShader2Target::ExpandDotProduct(IrInstruction& dot) {
  const std::uint32_t n = dot.Width();
  if (n == 0 || n > 4 || dot.argumentCount < 2 * n || dot.resultCount == 0) return E_FAIL;
  std::uint32_t arguments[8];
  std::copy(dot.arguments, dot.arguments + 2 * n, arguments);
  // Operands in the destination's register are read from a copy.
  const IrValue& destination = *Value(dot.results[0]);
  std::uint32_t from[8], to[8], copies = 0, t[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  for (std::uint32_t i = 0; i < 2 * n; ++i) {
    const IrValue* v = Value(arguments[i]);
    if (!v || !InRegisterOf(*v, destination) || v->component > 3) continue;
    if (t[0] == kNoIndex) {
      const HRESULT hr = NewTemporaryRegister(4, t);
      if (FAILED(hr)) return hr;
    }
    const std::uint32_t copy = t[v->component];
    if (std::find(to, to + copies, copy) == to + copies) from[copies] = arguments[i], to[copies++] = copy;
    arguments[i] = copy;
  }
  HRESULT hr = copies ? AppendNew(IrWord(kOpMove, copies), from, copies, to, copies, dot) : S_OK;
  std::uint32_t partial = kNoIndex;
  for (std::uint32_t i = 0; i < n && SUCCEEDED(hr); ++i) {
    std::uint32_t next = dot.results[0];
    if (i + 1 < n || dot.resultCount > 1) hr = NewTemporaryRegister(1, &next);
    const std::uint32_t operands[3] = {arguments[i], arguments[n + i], partial};
    if (SUCCEEDED(hr))
      hr = i == 0 ? AppendNew(IrWord(kOpMultiply, 1), operands, 2, &next, 1, dot)
                  : AppendNew(IrWord(0x703, 1), operands, 3, &next, 1, dot);
    partial = next;
  }
  if (SUCCEEDED(hr) && dot.resultCount > 1) {
    // The scalar replicated into every result.
    std::uint32_t sums[4];
    std::fill(sums, sums + 4, partial);
    hr = AppendNew(IrWord(kOpMove, std::min(dot.resultCount, 4u)), sums, std::min(dot.resultCount, 4u), dot.results,
                   std::min(dot.resultCount, 4u), dot);
  }
  return hr;
}

// The instruction computes into a temporary laid out like its results, and
// a move (or, with `argumentsFirst`, a move of the arguments before it)
// carries the values across.
HRESULT PixelShader2Target::MoveThroughTemporary(IrInstruction& inst, bool argumentsFirst) {
  const std::uint32_t n = inst.Width();
  std::uint32_t t[4];
  HRESULT hr = NewTemporaryRegister(4, t);
  if (FAILED(hr) || n == 0 || n > 4 || inst.resultCount < n) return FAILED(hr) ? hr : E_FAIL;
  std::uint32_t staged[4];
  for (std::uint32_t j = 0; j < n; ++j) staged[j] = t[Value(inst.results[j])->component & 3];
  if (argumentsFirst) {
    hr = AppendNew(IrWord(kOpMove, n), inst.arguments, n, staged, n, inst, true);
    std::copy(staged, staged + n, inst.arguments);
    return hr;
  }
  std::uint32_t results[4];
  std::copy(inst.results, inst.results + n, results);
  std::copy(staged, staged + n, inst.results);
  hr = SplitToAllowedSwizzles(inst);
  return SUCCEEDED(hr) ? AppendNew(IrWord(kOpMove, n), staged, n, results, n, inst) : hr;
}

// Whether the results marked in `keep` can be one instruction: each argument
// group reads one register with one source modifier, and with restricted
// swizzles an allowed swizzle.
bool PixelShader2Target::PartFits(const IrInstruction& inst, const std::uint8_t* keep) const {
  const std::uint32_t n = inst.Width();
  for (std::uint32_t k = 0; n && k < inst.argumentCount / n; ++k) {
    const IrValue* first = nullptr;
    for (std::uint32_t j = 0; j < n; ++j) {
      const IrValue* a = keep[j] ? Value(inst.arguments[k * n + j]) : nullptr;
      if (!a) continue;
      if (!first) first = a;
      if (a->bank != first->bank || a->reg != first->reg || a->relativeIndex != first->relativeIndex ||
          ((a->binding ^ first->binding) & sel::kSourceModifierBits))
        return false;
    }
    std::uint8_t pattern[4];
    ArgumentPattern(*this, inst, k, pattern, keep);
    if (RestrictedSwizzles() && MatchRestrictedSwizzle(pattern) < 0) return false;
  }
  return true;
}

// Appends the instruction whole, or, where one instruction cannot read its
// operands (groups over several registers or modifiers; swizzles ps_2_0 and
// ps_2_b do not have), as parts over subsets of its results: each part takes
// the remaining results in order while it still fits (one result alone
// always does). Where a part would overwrite what a later one reads, the
// parts compute into a temporary that one move then copies: a fresh register
// before register assignment (`position` kNoIndex), else a scratch register
// free at `position`.
HRESULT PixelShader2Target::SplitToAllowedSwizzles(IrInstruction& inst, std::uint32_t position) {
  static constexpr std::uint8_t kAll[4] = {1, 1, 1, 1};
  const std::uint32_t n = inst.Width();
  // A part of a nrm would take its length from the wrong components.
  if (!ComputesComponentWise(inst) || inst.Group() == kOpNormalize || n == 0 || n > 4 || PartFits(inst, kAll))
    return AddInstructionCopy(&inst) == kNoIndex ? E_OUTOFMEMORY : S_OK;
  const IrValue* r = Value(inst.results[0]);
  bool overlap = false;
  for (std::uint32_t a = 0; r && a < inst.argumentCount; ++a) {
    const IrValue* v = Value(inst.arguments[a]);
    overlap |= v && v->bank == r->bank && v->reg == r->reg;
  }
  if (!overlap) return AppendParts(inst);
  std::uint32_t t4[4], staged[4];
  HRESULT hr = position == kNoIndex ? NewTemporaryRegister(4, t4) : FindFreeTemporary(position, 4, t4);
  if (FAILED(hr)) return hr;
  IrInstruction* parts = sel::NewInstruction(inst.word, inst.argumentCount, inst.resultCount);
  if (!parts) return E_OUTOFMEMORY;
  hr = parts->CopyFrom(&inst);
  for (std::uint32_t j = 0; j < n && SUCCEEDED(hr); ++j) {
    staged[j] = t4[Value(inst.results[j])->component & 3];
    parts->results[j] = staged[j];
  }
  if (SUCCEEDED(hr)) hr = AppendParts(*parts);
  delete parts;
  if (SUCCEEDED(hr)) hr = AppendNew(IrWord(kOpMove, n), staged, n, inst.results, n, inst);
  // The parts write as the instruction did; the move copies plainly.
  for (std::uint32_t j = 0; j < n && SUCCEEDED(hr); ++j)
    MoveResultModifiers(*Value(inst.results[j]), *Value(staged[j]));
  return hr;
}

HRESULT PixelShader2Target::AppendParts(IrInstruction& inst) {
  const std::uint32_t n = inst.Width(), groups = inst.argumentCount / n;
  IrInstruction* saved = current;
  current = &inst;
  std::uint8_t remaining[4] = {1, 1, 1, 1};
  HRESULT hr = S_OK;
  for (std::uint32_t left = n; left && SUCCEEDED(hr);) {
    std::uint8_t keep[4] = {};
    std::uint32_t width = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (!remaining[j]) continue;
      keep[j] = 1;
      if (width > 0 && !PartFits(inst, keep)) {
        keep[j] = 0;
        continue;
      }
      remaining[j] = 0;
      ++width;
      --left;
    }
    hr = SplitByComponents(keep, groups, width);
  }
  current = saved;
  return hr;
}

HRESULT PixelShader2Target::LegalizePixelInstruction(std::uint32_t index) {
  SetCurrentInstruction(index);
  IrInstruction* inst = current;
  if (!inst) return S_OK;
  const std::uint32_t g = inst->Group();
  HRESULT hr = S_OK;
  bool appended = false;
  if (g == 0x605 || g == 0x60A || g == 0x60F || g == kOpDiscard || g == kOpNoise || g == 0x708) {
    // Sampling and kills whose coordinates the walk copies, noise and dp2add: as they are.
  } else if (g == kOpDot) {
    const IrValue* r = inst->resultCount ? Value(inst->results[0]) : nullptr;
    if (r && (BankOf(*r)->type & kBankOutput)) {
      GXL_SHADER_REPORT(*this, inst->sourcePosition, msg::kOutputWriteNotMov);
      return E_FAIL;
    }
    if (RestrictedSwizzles() && !HasRestrictedSwizzles(*this, *inst)) {
      hr = ExpandDotProduct(*inst);
      appended = true;
    }
  } else {
    if (g == kOpDdx || g == kOpDdy) {
      bool modified = false;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        modified |= Value(inst->arguments[a]) && (Value(inst->arguments[a])->binding & sel::kSourceModifierBits);
      if (modified) hr = MoveThroughTemporary(*inst, true);
    }
    // nrm, never split, reads a swizzle the profile lacks from a copy laid
    // out like its results.
    if (g == kOpNormalize && RestrictedSwizzles() && !HasRestrictedSwizzles(*this, *inst))
      hr = MoveThroughTemporary(*inst, true);
    // Colour outputs take a rotation of xyzw, depth a replicate, and neither
    // a source modifier: anything else is computed into a temporary first.
    const IrValue* r = inst->resultCount ? Value(inst->results[0]) : nullptr;
    if (SUCCEEDED(hr) && r && (BankOf(*r)->type & kBankOutput) && inst->Width()) {
      const std::uint32_t usage = SemanticUsageOf(r->registerKey);
      bool stage = false;
      for (std::uint32_t k = 0; k < inst->argumentCount / inst->Width() && !stage; ++k) {
        std::uint8_t pattern[4];
        ArgumentPattern(*this, *inst, k, pattern);
        stage = usage == kUsageColor   ? MatchRestrictedSwizzle(pattern, kFirstRotation, 7) < 0
                : usage == kUsageDepth ? MatchRestrictedSwizzle(pattern, 0, kFirstRotation - 1) < 0
                                       : false;
      }
      for (std::uint32_t a = 0; a < inst->argumentCount && !stage; ++a)
        stage = Value(inst->arguments[a]) && (Value(inst->arguments[a])->binding & sel::kSourceModifierBits);
      if (stage) {
        hr = MoveThroughTemporary(*inst, false);
        appended = true;
      }
    }
    if (SUCCEEDED(hr) && !appended) {
      hr = SplitToAllowedSwizzles(*inst);
      appended = true;
    }
  }
  if (SUCCEEDED(hr) && !appended && AddInstructionCopy(inst) == kNoIndex) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) inst->word = 0;
  return hr;
}

// Colour and depth outputs are written whole by one move from one register.
// Where the program writes one in parts or computes into it, the parts go
// into a temporary of the output's layout, moved out after the last of them.
HRESULT PixelShader2Target::GatherOutputWrites(OutputGather* gathers, std::uint32_t* count) {
  *count = 0;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->Group() == kOpNop) continue;
    for (std::uint32_t j = 0; j < inst->resultCount; ++j) {
      const IrValue* r = Value(inst->results[j]);
      std::uint32_t type = 0, index = 0, full = 0;
      if (!r || !(BankOf(*r)->type & kBankOutput) || r->component > 3 ||
          FAILED(MapOutputRegister(inst->results[j], &type, &index, &full)) || !full)
        continue;
      OutputGather* g = gathers;
      while (g < gathers + *count && (g->bank != r->bank || g->reg != r->reg)) ++g;
      if (g == gathers + *count) {
        if (*count == kMaxOutputGathers) return E_FAIL;
        *g = OutputGather{r->bank, r->reg};
        ++*count;
      }
      if (g->lastWriter != i) ++g->writers;
      g->lastWriter = i;
      g->outputs[r->component] = inst->results[j];
      // One move reading one register needs no gathering.
      bool whole = inst->Group() == kOpMove && inst->argumentCount >= inst->resultCount;
      for (std::uint32_t a = 1; whole && a < inst->resultCount; ++a) {
        const IrValue* first = Value(inst->arguments[0]);
        const IrValue* other = Value(inst->arguments[a]);
        whole = first && other && first->bank == other->bank && first->reg == other->reg &&
                first->relativeIndex == other->relativeIndex;
      }
      g->gather |= !whole;
    }
  }
  for (OutputGather* g = gathers; g < gathers + *count; ++g) {
    g->gather |= g->writers > 1;
    if (!g->gather) continue;
    const HRESULT hr = NewTemporaryRegister(4, g->staged);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT PixelShader2Target::FinishSelection() {
  HRESULT hr = StageNormalizeResults();
  if (SUCCEEDED(hr)) hr = CheckPortConstraints();
  if (SUCCEEDED(hr)) hr = ResetAfterPortCheck();
  OutputGather gathers[kMaxOutputGathers];
  std::uint32_t gatherCount = 0;
  if (SUCCEEDED(hr) && !fragmentMode) hr = GatherOutputWrites(gathers, &gatherCount);
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst || inst->Group() == kOpNop) continue;
    for (OutputGather* g = gathers; g < gathers + gatherCount; ++g) {
      if (!g->gather) continue;
      for (std::uint32_t j = 0; j < inst->resultCount; ++j) {
        IrValue* r = Value(inst->results[j]);
        if (!r || r->bank != g->bank || r->reg != g->reg || r->component > 3) continue;
        // The temporary takes the result modifiers; the move copies plainly.
        IrValue* staged = Value(g->staged[r->component]);
        MoveResultModifiers(*r, *staged);
        staged->flags |= r->flags & kValuePrecisionMask;
        inst->results[j] = g->staged[r->component];
      }
    }
    hr = LegalizePixelInstruction(i);
    for (OutputGather* g = gathers; g < gathers + gatherCount && SUCCEEDED(hr); ++g) {
      if (!g->gather || g->lastWriter != i) continue;
      std::uint32_t from[4], to[4], n = 0;
      for (std::uint32_t c = 0; c < 4; ++c)
        if (g->outputs[c] != kNoIndex) from[n] = g->staged[c], to[n++] = g->outputs[c];
      hr = AppendNew(IrWord(kOpMove, n), from, n, to, n, *inst);
    }
  }
  if (SUCCEEDED(hr)) hr = RemoveDeadCode();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  if (SUCCEEDED(hr)) hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace gxl::shader
