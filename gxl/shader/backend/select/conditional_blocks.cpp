// The structured rebuild: a recursive walk over the predicated program that
// appends, after the old instructions, the instructions of each side of a
// condition between if/ifc, else and endif, and loops between rep or loop and
// their end. Both sides of a condition lie interleaved under one predicate
// value in the predicated form, told apart by their predicate sense, so each
// side is one walk over the whole region picking its own sense; a walk that
// must not emit (the other side's nested blocks) still walks them to pass them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gxl/shader/backend/alloc/guards.h"
#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

using namespace sel;

bool IsConditionStart(std::uint32_t group) { return group == kOpIfBegin || (group >= 0x735 && group <= 0x738); }
bool IsBreakCompare(std::uint32_t group) { return group >= 0x743 && group <= 0x747; }

namespace {

HRESULT Fail(ShaderTarget& t, const IrInstruction& at, const Message& entry) {
  t.Report(at.sourcePosition, entry.severity, entry.code, "%s", entry.format);
  return E_FAIL;
}

// The value of 0.0 ifc compares with: one literal one register above the
// highest literal register in use, made once per target (and again when a
// renumbering pass dropped it).
std::uint32_t ZeroLiteral(ShaderTarget& t) {
  const std::uint32_t bank = t.StandardBankIndex(StandardBank::Literals);
  const IrValue* cached = t.zeroLiteral != kNoIndex ? t.Value(t.zeroLiteral) : nullptr;
  if (cached && cached->bank == bank && cached->rangeLow == 0.0 && cached->relativeIndex == kNoIndex &&
      cached->binding == 0 && cached->alias == kNoIndex)
    return t.zeroLiteral;
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < t.values.Count(); ++i)
    if (const IrValue* v = t.Value(i); v && v->bank == bank && v->reg != kNoIndex) next = std::max(next, v->reg + 1);
  t.zeroLiteral = t.AddValue(bank, next, 0, 0.0);
  return t.zeroLiteral;
}

// The condition may be tested as a boolean: a predicate or a uniform read
// directly, unless it is bound explicitly to a register that is not b# or i#.
bool BooleanCondition(const ShaderTarget& t, std::uint32_t value) {
  const IrValue* v = t.Value(value);
  const RegisterBank* bank = v ? t.BankOf(*v) : nullptr;
  if (!bank || !(bank->type & (kBankPredicate | kBankUniform)) || v->relativeIndex != kNoIndex) return false;
  return !(bank->type & kBankKeepValues) || (bank->name && std::strpbrk(bank->name, "iIbB"));
}

// The predicate value moves to the placeholder bank: it needs no register any more.
void RetirePredicate(ShaderTarget& t, std::uint32_t value) {
  if (IrValue* v = t.Value(value)) {
    v->bank = t.StandardBankIndex(StandardBank::Undefined);
    v->reg = v->component = kNoIndex;
  }
}

std::uint32_t Append(ShaderTarget& t, IrInstruction* node) { return node ? t.instructions.Append(node) : kNoIndex; }

// A value of bank "d" closing a block, guarded as `like`.
std::uint32_t BlockEndValue(ShaderTarget& t, const IrValue* like) {
  const std::uint32_t v = t.AddValue(t.StandardBankIndex(StandardBank::Clip), kNoIndex, kNoIndex, 0.0);
  if (v != kNoIndex && like) {
    t.Value(v)->predicate = like->predicate;
    t.Value(v)->predicateSense = like->predicateSense;
  }
  return v;
}

bool SameResultRegister(const ShaderTarget& t, std::uint32_t a, std::uint32_t b) {
  const IrValue* va = t.Value(a);
  const IrValue* vb = t.Value(b);
  return va && vb && va->bank == vb->bank && va->reg == vb->reg && va->component == vb->component &&
         va->relativeIndex == vb->relativeIndex && va->binding == vb->binding;
}

bool SameRegister(const ShaderTarget& t, std::uint32_t a, std::uint32_t b) {
  const IrValue* va = t.Value(a);
  const IrValue* vb = t.Value(b);
  return va && vb && va->bank == vb->bank && va->reg == vb->reg && va->component == vb->component &&
         va->relativeIndex == vb->relativeIndex;
}

// One side of a predicated select: its values, or moves of them into
// temporaries standing where the select's results go.
HRESULT CollectSelect(ShaderTarget& t, const IrInstruction& select, std::uint32_t sense, BlockCollection& side) {
  const std::uint32_t n = select.Width();
  const std::uint32_t* group = select.arguments;
  if (const IrValue* other = t.Value(select.arguments[n]); other && other->predicateSense == sense)
    group = select.arguments + n;
  if (side.values.size() + n >= flow::kMaxCollected) return Fail(t, select, msg::kConditionalBlockTooComplex);
  bool inPlace = true;
  for (std::uint32_t i = 0; i < n && inPlace; ++i) inPlace = SameResultRegister(t, group[i], select.results[i]);
  if (inPlace) {
    side.values.insert(side.values.end(), group, group + n);
    side.results.insert(side.results.end(), select.results, select.results + n);
    return S_OK;
  }
  IrInstruction* move = NewInstruction(IrWord(kOpMove, n), n, n);
  if (!move) return E_OUTOFMEMORY;
  move->CopySourcePosition(&select);
  const std::uint32_t temporaries = t.StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t copy = t.AddValueCopy(t.Value(select.results[i]));
    if (copy == kNoIndex) {
      delete move;
      return E_OUTOFMEMORY;
    }
    // An output the select writes is written on each side itself: the
    // endif emits nothing that could carry a temporary into it.
    if (!(BankTypeOf(t, copy) & kBankOutput)) t.Value(copy)->bank = temporaries;
    t.Value(copy)->CopyVariableFields(t.Value(select.results[i]));
    move->arguments[i] = group[i];
    move->results[i] = copy;
    side.values.push_back(copy);
    side.results.push_back(select.results[i]);
  }
  return Append(t, move) == kNoIndex ? E_OUTOFMEMORY : S_OK;
}

HRESULT WalkCondition(ShaderTarget& t, const ConditionalWalk& walk, std::uint32_t* position, IrInstruction& start) {
  if (start.Width() != 1) return Fail(t, start, msg::kIfWiderThanOne);
  const std::uint32_t block = start.results[0];
  const bool emit = walk.emitBlocks && !walk.loopOnly && t.Value(block)->predicateSense == walk.sense;
  if (emit && Append(t, MakeConditionalInstruction(t, start, true)) == kNoIndex) return E_OUTOFMEMORY;
  ConditionalWalk side = walk;
  side.predicate = block;
  side.emitBlocks = emit;
  side.loopOnly = false;
  side.depth = walk.depth + 1;
  BlockCollection then, otherwise;
  std::uint32_t thenEnd = *position + 1, elseEnd = *position + 1;
  side.sense = 1;
  HRESULT hr = EmitConditionalBlock(t, side, &thenEnd, &then);
  if (FAILED(hr)) return hr;
  // A block passed over needs one walk: where a walk ends does not depend on
  // the sense, and walking the else side again would double the work at
  // every level of nesting.
  if (emit) {
    if (Append(t, MakeConditionalInstruction(t, start, false)) == kNoIndex) return E_OUTOFMEMORY;
    side.sense = 0;
    hr = EmitConditionalBlock(t, side, &elseEnd, &otherwise);
    if (FAILED(hr)) return hr;

    if (then.values.size() != otherwise.values.size() || then.results != otherwise.results)
      return Fail(t, start, msg::kEndifMismatch);
    const auto n = static_cast<std::uint32_t>(then.values.size());
    // The endif emits nothing: each side leaves its values where the results are.
    for (std::uint32_t k = 0; k < n; ++k)
      if (!SameRegister(t, then.values[k], then.results[k]) || !SameRegister(t, otherwise.values[k], then.results[k]))
        return Fail(t, start, msg::kEndifMismatch);
    IrInstruction* end = NewInstruction(IrWord(flow::kEndIf, n), 2 * n, n);
    if (!end) return E_OUTOFMEMORY;
    end->CopySourcePosition(&start);
    std::copy(then.values.begin(), then.values.end(), end->arguments);
    std::copy(otherwise.values.begin(), otherwise.values.end(), end->arguments + n);
    std::copy(then.results.begin(), then.results.end(), end->results);
    if (Append(t, end) == kNoIndex) return E_OUTOFMEMORY;
  }
  RetirePredicate(t, block);
  *position = emit ? std::max(thenEnd, elseEnd) : thenEnd;
  return S_OK;
}

HRESULT WalkLoop(ShaderTarget& t, const ConditionalWalk& walk, std::uint32_t* position, IrInstruction& opener,
                 BlockCollection* collection) {
  const std::uint32_t loop = opener.resultCount ? opener.results[0] : kNoIndex;
  const bool emit = walk.emitBlocks && !walk.loopOnly && t.Value(loop)->predicateSense == walk.sense;
  ConditionalWalk body = walk;
  body.predicate = loop;
  body.sense = 1;
  body.depth = walk.depth + 1;
  // The entry moves go first, outside the loop, guarded as the loop is.
  body.emitBlocks = false;
  body.loopOnly = emit;
  body.outerPredicate = walk.predicate;
  body.outerSense = walk.sense;
  std::uint32_t end = *position + 1;
  HRESULT hr = EmitConditionalBlock(t, body, &end, collection);
  if (FAILED(hr) || !emit) {  // a loop passed over is walked once
    if (SUCCEEDED(hr)) RetirePredicate(t, loop);
    *position = end;
    return hr;
  }
  const bool repeat = opener.Group() == kOpLoopBegin;
  if (emit) {
    const std::uint32_t word = opener.word;
    if (repeat) opener.word = IrWord(flow::kRep, opener.Width());
    const std::uint32_t at = t.AddInstructionCopy(&opener);
    opener.word = word;
    if (at == kNoIndex) return E_OUTOFMEMORY;
  }
  body.emitBlocks = emit;
  body.loopOnly = false;
  end = *position + 1;
  hr = EmitConditionalBlock(t, body, &end, collection);
  if (FAILED(hr)) return hr;
  if (emit) {
    IrInstruction* close = NewInstruction(IrWord(repeat ? flow::kEndRep : flow::kEndLoop, 1), 0, 1);
    if (!close) return E_OUTOFMEMORY;
    close->CopySourcePosition(&opener);
    close->results[0] = BlockEndValue(t, t.Value(loop));
    if (close->results[0] == kNoIndex) {
      delete close;
      return E_OUTOFMEMORY;
    }
    if (Append(t, close) == kNoIndex) return E_OUTOFMEMORY;
  }
  RetirePredicate(t, loop);
  *position = end;
  return S_OK;
}

// A move that leaves every component where it found it.
bool MovesOntoItself(const ShaderTarget& t, const IrInstruction& inst) {
  const std::uint32_t g = inst.Group();
  if (g != kOpMove && g != kOpLoopMerge) return false;
  for (std::uint32_t i = 0; i < inst.resultCount; ++i) {
    const std::uint32_t a = inst.arguments[i], r = inst.results[i];
    if (!SameRegisterComponent(t, a, r) || (t.Value(a)->binding & kSourceModifierBits) ||
        (t.Value(r)->binding & kSourceModifierBits))
      return false;
  }
  return true;
}

// The positions of the work a break's exit needs, in program order: after the
// break stand the moves of its exit side (the loop-carried values as they are
// when it is taken, guarded by its false sense) and the loop's tail, which
// carries the merged values into the registers the loop's end reads. Both run
// only where nothing runs once the break is taken; moves onto themselves are
// left out. False when the exit holds blocks of its own.
bool ExitWork(const ShaderTarget& t, const ConditionalWalk& walk, std::uint32_t breakAt, std::uint32_t taken,
              std::vector<std::uint32_t>* work) {
  for (std::uint32_t pos = breakAt + 1; pos < walk.end; ++pos) {
    const IrInstruction* inst = t.Instruction(pos);
    if (!inst || inst->word < 0x100000 || inst->resultCount == 0) continue;
    const IrValue& first = *t.Value(inst->results[0]);
    const std::uint32_t g = inst->Group();
    if (g == kOpIfMerge) continue;  // closes a block of the iteration
    if (first.predicate == taken) {
      if (first.predicateSense != 0) continue;
    } else if (first.predicate == walk.predicate) {
      if (first.predicateSense != walk.sense) return false;
      if (g == kOpBreakMerge) continue;
    } else if (alloc::InRegion(t, inst->results[0], taken, 1)) {
      continue;  // the rest of the iteration
    } else if (alloc::InRegion(t, inst->results[0], taken, 0)) {
      return false;
    } else {
      break;  // past the loop
    }
    if (IsSpecialOperation(inst->word) && g != kOpLoopMerge) return false;  // blocks of their own
    if (!MovesOntoItself(t, *inst)) work->push_back(pos);
  }
  return true;
}

// A copy of an exit instruction with results of its own where the loop's
// normal flow writes the same values: loop merges become the moves they are.
HRESULT AppendExitCopy(ShaderTarget& t, const IrInstruction& inst, bool ownResults) {
  const std::uint32_t at = t.AddInstructionCopy(&inst);
  if (at == kNoIndex) return E_OUTOFMEMORY;
  IrInstruction& copy = *t.Instruction(at);
  if (copy.Group() == kOpLoopMerge) {
    copy.word = IrWord(kOpMove, copy.Width());
    copy.argumentCount = copy.Width();
  }
  for (std::uint32_t r = 0; ownResults && r < copy.resultCount; ++r) {
    const std::uint32_t v = t.AddValueCopy(t.Value(copy.results[r]));
    if (v == kNoIndex) return E_OUTOFMEMORY;
    copy.results[r] = v;
  }
  return S_OK;
}

// A break whose exit needs work: if (the break's test) { the work; break; }.
HRESULT EmitBreakWithExit(ShaderTarget& t, const IrInstruction& brk, const std::vector<std::uint32_t>& work,
                          std::uint32_t taken) {
  const IrValue* like = t.Value(brk.results[0]);
  static constexpr std::uint32_t kIfForBreak[] = {flow::kIfCompare + 2, flow::kIfCompare + 3, flow::kIfCompare + 1,
                                                  flow::kIfCompare};  // ne, eq, lt, ge
  IrInstruction* open = NewInstruction(IrWord(kIfForBreak[brk.Group() - flow::kBreakNotEqual], 1), 2, 1);
  if (!open) return E_OUTOFMEMORY;
  open->CopySourcePosition(&brk);
  open->arguments[0] = brk.arguments[0];
  open->arguments[1] = brk.arguments[1];
  if ((open->results[0] = BlockEndValue(t, like)) == kNoIndex || Append(t, open) == kNoIndex) {
    delete open;
    return E_OUTOFMEMORY;
  }
  for (const std::uint32_t pos : work) {
    const IrInstruction& inst = *t.Instruction(pos);
    const HRESULT hr = AppendExitCopy(t, inst, t.Value(inst.results[0])->predicate != taken);
    if (FAILED(hr)) return hr;
  }
  for (const std::uint32_t group : {flow::kBreak, flow::kEndIf}) {
    const bool end = group == flow::kEndIf;
    IrInstruction* node = NewInstruction(IrWord(group, end ? 0 : 1), 0, end ? 0 : 1);
    if (!node) return E_OUTOFMEMORY;
    node->CopySourcePosition(&brk);
    if ((!end && (node->results[0] = BlockEndValue(t, like)) == kNoIndex) || Append(t, node) == kNoIndex) {
      delete node;
      return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

}  // namespace

IrInstruction* MakeConditionalInstruction(ShaderTarget& t, const IrInstruction& condition, bool thenSide) {
  const std::uint32_t n = condition.Width();
  std::uint32_t group;
  std::uint32_t argumentCount = 2 * n;
  bool againstZero = false;
  switch (condition.Group()) {
    case kOpIfBegin:
      if (BooleanCondition(t, condition.arguments[0])) {
        group = thenSide ? flow::kIf : flow::kElse;
        argumentCount = n;
      } else {
        group = thenSide ? flow::kIfNotEqual : flow::kElseCompare + 2;
        againstZero = true;
      }
      break;
    default:  // setp ge, lt, ne, eq
      group = (thenSide ? flow::kIfCompare : flow::kElseCompare) + (condition.Group() - 0x735);
      break;
  }
  const std::uint32_t zero = againstZero ? ZeroLiteral(t) : kNoIndex;
  if (againstZero && zero == kNoIndex) return nullptr;
  IrInstruction* node = NewInstruction(IrWord(group, n), argumentCount, thenSide ? condition.resultCount : 1);
  if (!node) return nullptr;
  node->CopySourcePosition(&condition);
  for (std::uint32_t i = 0; i < argumentCount; ++i)
    node->arguments[i] = againstZero && i >= n ? zero : condition.arguments[i];
  if (thenSide) {
    std::copy(condition.results, condition.results + condition.resultCount, node->results);
  } else if ((node->results[0] = BlockEndValue(t, t.Value(condition.results[0]))) == kNoIndex) {
    delete node;
    return nullptr;
  }
  return node;
}

HRESULT EmitConditionalBlock(ShaderTarget& t, const ConditionalWalk& walk, std::uint32_t* position,
                             BlockCollection* collection) {
  if (walk.depth > flow::kMaxBlockDepth) {
    const IrInstruction* at = *position < walk.end ? t.Instruction(*position) : nullptr;
    GXL_SHADER_REPORT(t, at ? at->sourcePosition : nullptr, msg::kConditionalBlockTooComplex);
    return E_FAIL;
  }
  std::uint32_t pos = *position;
  HRESULT hr = S_OK;
  for (; pos < walk.end && SUCCEEDED(hr);) {
    IrInstruction* inst = t.Instruction(pos);
    if (!inst || inst->word < 0x100000) {
      ++pos;
      continue;
    }
    if (inst->resultCount == 0) return Fail(t, *inst, msg::kInstructionMissingOutputs);
    const IrValue& first = *t.Value(inst->results[0]);
    const std::uint32_t group = inst->Group();
    if (group == kOpIfMerge) {
      if (walk.loopOnly) {
        ++pos;
        continue;
      }
      const IrValue* a = t.Value(inst->arguments[0]);
      const IrValue* b = t.Value(inst->arguments[inst->Width()]);
      if (!a || !b || a->predicate != b->predicate) return Fail(t, *inst, msg::kIfPredicatesMismatch);
      if (!collection) return Fail(t, *inst, msg::kUnexpectedEndifFound);
      if (a->predicate != walk.predicate) break;
      if (walk.emitBlocks) hr = CollectSelect(t, *inst, walk.sense, *collection);
      ++pos;
      continue;
    }
    if (first.predicate != walk.predicate) break;
    if (IsConditionStart(group)) {
      hr = WalkCondition(t, walk, &pos, *inst);
    } else if (IsBreakCompare(group)) {
      const bool emit = walk.emitBlocks && !walk.loopOnly && first.predicateSense == walk.sense;
      std::vector<std::uint32_t> work;
      if (emit && inst->Group() != flow::kBreak && ExitWork(t, walk, pos, inst->results[0], &work) && !work.empty()) {
        hr = EmitBreakWithExit(t, *inst, work, inst->results[0]);
        if (FAILED(hr)) return hr;
      } else if (emit && t.AddInstructionCopy(inst) == kNoIndex) {
        return E_OUTOFMEMORY;
      }
      ConditionalWalk after = walk;
      after.predicate = inst->results[0];
      after.sense = 1;
      after.emitBlocks = emit;
      after.loopOnly = false;
      after.depth = walk.depth + 1;
      RetirePredicate(t, inst->results[0]);
      ++pos;
      hr = EmitConditionalBlock(t, after, &pos, collection);
    } else if (group == kOpLoopBegin || group == flow::kLoop) {
      hr = WalkLoop(t, walk, &pos, *inst, collection);
    } else if (group == kOpLoopEntry) {
      // Entry moves run once, before their loop opener.
      if (walk.loopOnly) {
        for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
          t.Value(inst->results[r])->renumber = walk.outerPredicate;
          t.Value(inst->results[r])->coalesceLink = walk.outerSense;
        }
        if (t.AddInstructionCopy(inst) == kNoIndex) return E_OUTOFMEMORY;
      }
      ++pos;
    } else {
      if (walk.emitBlocks && !walk.loopOnly && first.predicateSense == walk.sense &&
          t.AddInstructionCopy(inst) == kNoIndex)
        return E_OUTOFMEMORY;
      ++pos;
    }
  }
  *position = pos;
  return hr;
}

}  // namespace gxl::shader
