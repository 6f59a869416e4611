// Loops and breaks of the instruction sets: the conditional break as breakc,
// counted loops over the aL register, and moves that make a loop merge's
// inputs lie in its result registers.
#include <algorithm>
#include <cmath>
#include <utility>

#include "gxl/shader/backend/select/expression_pattern.h"
#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

using namespace sel;

namespace {

constexpr std::uint32_t kLoopCounterType = kBankReadable | kBankAddress | kBankInitialised;  // 21

// Puts `node` at `position`, the instructions from there on one further.
HRESULT InsertAt(ShaderTarget& t, std::uint32_t position, IrInstruction* node) {
  const std::uint32_t at = t.instructions.Append(node);
  if (at == kNoIndex) return E_OUTOFMEMORY;
  for (std::uint32_t i = at; i > position; --i) std::swap(t.instructions.Slot(i), t.instructions.Slot(i - 1));
  return S_OK;
}

// The value a chain of moves copies into `value`: code without optimisation
// moves a counter's start into a temporary first. Only moves that run
// whenever their loop does are followed: unguarded, guarded by a loop, or
// under the same guard as the loop whose value is `loop` (an inner loop's
// start moved inside the outer loop's body).
std::uint32_t ThroughMoves(const ShaderProgram& p, std::uint32_t value, std::uint32_t loop) {
  const IrValue* opened = p.Value(loop);
  for (std::uint32_t steps = 0; steps < 16; ++steps) {
    const IrValue* v = p.Value(value);
    const IrInstruction* def = v && v->definingPosition != kNoIndex ? p.Instruction(v->definingPosition) : nullptr;
    if (!def || def->Group() != kOpMove || (v->binding & kSourceModifierBits)) break;
    const bool withLoop =
        opened && v->predicate == opened->predicate && v->predicateSense == opened->predicateSense;
    if (v->predicate != kNoIndex && !withLoop) {
      const IrValue* guard = p.Value(v->predicate);
      const IrInstruction* opener =
          guard && guard->definingPosition != kNoIndex ? p.Instruction(guard->definingPosition) : nullptr;
      if (!opener || (opener->Group() != kOpLoopBegin && opener->Group() != flow::kLoop)) break;
    }
    const std::uint32_t k =
        static_cast<std::uint32_t>(std::find(def->results, def->results + def->resultCount, value) - def->results);
    if (k >= def->resultCount || k >= def->argumentCount) break;
    value = def->arguments[k];
  }
  return value;
}

bool WholeLiteral(const ShaderProgram& p, std::uint32_t value, double low, double high, double* out) {
  if (!IsAnyLiteral(p, value)) return false;
  const double x = p.Value(value)->rangeLow;
  if (x != std::floor(x) || x < low || x > high) return false;
  *out = x;
  return true;
}

// The loop's limit: a whole literal, or a uniform whose register binding
// names an integer register (register(i#)), which then holds the count.
bool LoopLimit(const ShaderTarget& t, std::uint32_t value, double* limit, std::uint32_t* uniform) {
  if (WholeLiteral(t, value, -1e9, 1e9, limit)) return true;
  const IrValue* v = t.Value(value);
  const RegisterBank* bank = v ? t.BankOf(*v) : nullptr;
  std::uint32_t at = 0;
  constexpr std::uint32_t kBound = kBankUniform | kBankKeepValues;  // a uniform with a register semantic
  if (!bank || v->relativeIndex != kNoIndex || (v->binding & kSourceModifierBits) ||
      !t.profileLimits.integerConstants || (bank->type & (kBound | kBankLiteral)) != kBound ||
      FAILED(FindRegisterLetter(bank->name, &at, 'i')))
    return false;
  *uniform = value;
  return true;
}

// The one-component instruction of `group` whose only result is `value`,
// read without a modifier; its position through `at`.
const IrInstruction* DefinedBy(const ShaderProgram& p, std::uint32_t value, std::uint32_t group, std::uint32_t* at) {
  const IrValue* v = p.Value(value);
  if (!v || (v->binding & kSourceModifierBits) || v->definingPosition == kNoIndex) return nullptr;
  const IrInstruction* d = p.Instruction(v->definingPosition);
  if (!d || d->Group() != group || d->Width() != 1 || d->resultCount != 1 || d->results[0] != value) return nullptr;
  *at = v->definingPosition;
  return d;
}

// Code without optimisation leaves `for (...; a < b; ...)` through forms
// of the comparison that optimisation folds: breakc ge(-m, m) with m the
// comparison c = a < b or its magnitude max(c, -c), taken when c is 0,
// that is when a >= b; or breakc ge(a, -(-b)), the limit read negated
// twice. The two sides of the comparison, and the positions of the
// instructions before the break that compute it (`*chained` of them, at
// most four); false for any other break.
bool BreakOfComparison(const ShaderProgram& p, const IrInstruction& brk, std::uint32_t* left, std::uint32_t* right,
                       std::uint32_t* chain, std::uint32_t* chained) {
  *chained = 0;
  std::uint32_t at = kNoIndex;
  const IrValue* limit = p.Value(brk.arguments[1]);
  if (limit && (limit->binding & kSourceModifierBits) == kNegateBit && limit->alias != kNoIndex) {
    const IrInstruction* negated = DefinedBy(p, limit->alias, kOpNegate, &at);
    if (!negated) return false;
    chain[(*chained)++] = at;
    *left = brk.arguments[0];
    *right = negated->arguments[0];
    return true;
  }
  const IrInstruction* negated = DefinedBy(p, brk.arguments[0], kOpNegate, &at);
  if (!negated || negated->arguments[0] != brk.arguments[1]) return false;
  chain[(*chained)++] = at;
  std::uint32_t c = brk.arguments[1];
  if (const IrInstruction* magnitude = DefinedBy(p, c, kOpMax, &at)) {
    chain[(*chained)++] = at;
    c = kNoIndex;
    for (std::uint32_t side = 0; side < 2 && c == kNoIndex && magnitude->argumentCount == 2; ++side) {
      const IrInstruction* minus = DefinedBy(p, magnitude->arguments[1 - side], kOpNegate, &at);
      if (minus && minus->arguments[0] == magnitude->arguments[side]) {
        chain[(*chained)++] = at;
        c = magnitude->arguments[side];
      }
    }
  }
  const IrInstruction* less = c != kNoIndex ? DefinedBy(p, c, kOpLess, &at) : nullptr;
  if (!less || less->argumentCount != 2) return false;
  chain[(*chained)++] = at;
  *left = less->arguments[0];
  *right = less->arguments[1];
  return true;
}

// Whether no instruction but those at `positions` reads any result of them.
bool ReadOnlyWithin(const ShaderProgram& p, const std::uint32_t* positions, std::size_t n) {
  for (std::uint32_t i = 0; i < p.instructions.Count(); ++i) {
    const IrInstruction* inst = p.Instruction(i);
    if (!inst || inst->word < 0x100000 || std::find(positions, positions + n, i) != positions + n) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
      for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t result = p.Instruction(positions[k])->results[0];
        if (inst->arguments[a] == result || p.ResolveAlias(inst->arguments[a]) == result) return false;
      }
  }
  return true;
}

// The single aL value, in a bank of its own made on first need.
std::uint32_t LoopCounterValue(ShaderTarget& t, std::uint32_t* made) {
  if (*made != kNoIndex) return *made;
  const std::uint32_t bank = t.AddRegisterBank("al", kLoopCounterType, kNoIndex, 4);
  *made = bank == kNoIndex ? kNoIndex : t.AddValue(bank, 0, 0, 0.0);
  return *made;
}

// The register offset n of an index that reads the counter as i + n: the
// counter itself, a move of it, the counter times 1 (an index scaled by a
// stride of one register), or one of these plus a whole literal n >= 0, each
// read without a modifier (-i is no counter that aL can stand for). False
// for any other index.
bool CounterOffset(const ShaderProgram& p, std::uint32_t index, std::uint32_t counter, std::uint32_t* offset,
                   std::uint32_t depth = 0) {
  const IrValue* v = p.Value(index);
  if (!v || (v->binding & kSourceModifierBits) || depth > 8) return false;
  if (p.ResolveAlias(index) == counter) return true;
  const IrInstruction* def = v->definingPosition != kNoIndex ? p.Instruction(v->definingPosition) : nullptr;
  const std::uint32_t n = def ? def->Width() : 0;
  const std::uint32_t k =
      def ? static_cast<std::uint32_t>(std::find(def->results, def->results + def->resultCount, index) - def->results)
          : 0;
  if (!def || k >= def->resultCount || k >= n) return false;
  if (def->Group() == kOpMove) return CounterOffset(p, def->arguments[k], counter, offset, depth + 1);
  if ((def->Group() != kOpMultiply && def->Group() != kOpAdd) || def->argumentCount != 2 * n) return false;
  for (std::uint32_t side = 0; side < 2; ++side) {
    const std::uint32_t x = def->arguments[side * n + k], other = def->arguments[(1 - side) * n + k];
    double literal = 0;
    if (def->Group() == kOpMultiply ? !IsLiteral(p, x, 1.0) : !WholeLiteral(p, x, 0, 0xFFFF, &literal)) continue;
    std::uint32_t inner = 0;
    if (!CounterOffset(p, other, counter, &inner, depth + 1)) continue;
    *offset += inner + (def->Group() == kOpAdd ? static_cast<std::uint32_t>(literal) : 0);
    return true;
  }
  return false;
}

bool ReadsCounter(const ShaderProgram& p, std::uint32_t index, std::uint32_t counter) {
  std::uint32_t offset = 0;
  return index != kNoIndex && CounterOffset(p, index, counter, &offset);
}

// Whether `inst` lies inside a counted loop nested in the loop whose value
// is `loop`: there aL is the inner loop's counter.
bool InsideInnerCountedLoop(const ShaderProgram& p, const IrInstruction& inst, std::uint32_t loop) {
  const IrValue* r = inst.resultCount ? p.Value(inst.results[0]) : nullptr;
  std::uint32_t guard = r ? r->predicate : kNoIndex;
  for (std::uint32_t steps = 0; guard != kNoIndex && guard != loop && steps < p.values.Count(); ++steps) {
    const IrValue* v = p.Value(guard);
    const IrInstruction* def = v && v->definingPosition != kNoIndex ? p.Instruction(v->definingPosition) : nullptr;
    if (!v) break;
    if (def && def->Group() == flow::kLoop) return true;
    guard = v->predicate;
  }
  return false;
}

// Whether `value` is read through the aL of a counted loop.
bool ReadsLoopRegister(const ShaderProgram& p, const IrValue& value) {
  const IrValue* index = value.relativeIndex != kNoIndex ? p.Value(value.relativeIndex) : nullptr;
  const RegisterBank* bank = index ? p.BankOf(*index) : nullptr;
  return bank && bank->type == kLoopCounterType;
}

// Relative reads through the counter between `from` and `to` read through
// aL instead; whether any did. Nothing changes (S_FALSE) where one of them
// lies inside an inner counted loop, whose aL it would read, or where the
// body reads an enclosing loop's aL, which this loop's would hide.
HRESULT RedirectCounterReads(ShaderTarget& t, std::uint32_t from, std::uint32_t to, std::uint32_t counter,
                             std::uint32_t* aL, bool* any) {
  const std::uint32_t loop = t.Instruction(from)->results[0];
  for (std::uint32_t i = from; i <= to && i < t.instructions.Count(); ++i) {
    const IrInstruction* inst = t.Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    const bool inner = InsideInnerCountedLoop(t, *inst, loop);
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const IrValue* v = t.Value(inst->arguments[a]);
      if (v && ((inner && ReadsCounter(t, v->relativeIndex, counter)) || (!inner && ReadsLoopRegister(t, *v))))
        return S_FALSE;
    }
  }
  for (std::uint32_t i = from; i <= to && i < t.instructions.Count(); ++i) {
    const IrInstruction* inst = t.Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      IrValue* v = t.Value(inst->arguments[a]);
      std::uint32_t offset = 0;
      if (!v || v->relativeIndex == kNoIndex || !CounterOffset(t, v->relativeIndex, counter, &offset) ||
          v->reg == kNoIndex || v->reg > kNoIndex - 1 - offset)
        continue;
      const std::uint32_t index = LoopCounterValue(t, aL);
      if (index == kNoIndex) return E_OUTOFMEMORY;
      v = t.Value(inst->arguments[a]);
      // A literal added to the index moves into the register, as aL adds
      // nothing but itself.
      IrValue* alias = v->alias != kNoIndex ? t.Value(v->alias) : nullptr;
      if (alias && alias->relativeIndex == v->relativeIndex && alias->reg == v->reg) {
        alias->relativeIndex = index;
        alias->MoveWithinVariable(alias->reg + offset);
      }
      v->relativeIndex = index;
      v->MoveWithinVariable(v->reg + offset);
      *any = true;
    }
  }
  return S_OK;
}

// The opener becomes loop aL over (count, start, step); a uniform count
// (not kNoIndex) stands for the literal one.
HRESULT MakeCountedLoop(ShaderTarget& t, std::uint32_t opener, double count, double start, double step,
                        std::uint32_t uniformCount = kNoIndex) {
  IrInstruction*& slot = t.instructions.Slot(opener);
  IrInstruction* loop = NewInstruction(IrWord(flow::kLoop, 1), 3, 1);
  if (!loop) return E_OUTOFMEMORY;
  const double parts[3] = {count, start, step};
  for (std::uint32_t k = 0; k < 3; ++k) {
    loop->arguments[k] = k == 0 && uniformCount != kNoIndex ? uniformCount : LiteralValue(t, parts[k]);
    if (loop->arguments[k] == kNoIndex) {
      delete loop;
      return E_OUTOFMEMORY;
    }
  }
  loop->results[0] = slot->results[0];
  loop->CopySourcePosition(slot);
  loop->CopyTrailingFields(*slot);
  delete slot;
  slot = loop;
  return S_OK;
}

// The repeat opener whose loop value guards `value`: its position, or kNoIndex.
std::uint32_t OpenerOf(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.Value(value);
  const IrValue* loop = v && v->predicate != kNoIndex ? p.Value(v->predicate) : nullptr;
  const std::uint32_t at = loop ? loop->definingPosition : kNoIndex;
  const IrInstruction* opener = at != kNoIndex ? p.Instruction(at) : nullptr;
  return opener && opener->word == IrWord(kOpLoopBegin, 1) && opener->results[0] == v->predicate ? at : kNoIndex;
}

// One component of the current 0x209 matched on its own: the match's list
// and captures.
bool MatchComponent(ShaderTarget& t, std::uint32_t j, std::uint32_t pattern, MatchedList& list, Captures& captures) {
  IrInstruction* whole = t.current;
  IrInstruction* one = NewInstruction(IrWord(kOpLoopMerge, 1), 2, 1);
  if (!one) return false;
  const std::uint32_t n = whole->Width();
  one->arguments[0] = whole->arguments[j];
  one->arguments[1] = whole->arguments[n + j];
  one->results[0] = whole->results[j];
  IrInstruction*& slot = t.instructions.Slot(t.currentIndex);
  slot = one;
  list.count = 0;
  captures.Clear();
  const bool matched = MatchExpressionPattern(t, t.currentIndex, Pattern(pattern), list, captures,
                                              ComponentMap::Identity(), 1, true) == S_OK;
  slot = whole;
  delete one;
  return matched;
}

// The argument of the matched add that the loop entry defines: the counter;
// the add's other argument, the step, through `step`.
std::uint32_t CounterOf(const ShaderProgram& p, const MatchedList& list, std::uint32_t* step = nullptr) {
  for (std::uint32_t i = 0; i < list.count; ++i) {
    const IrInstruction* add = p.Instruction(list.position[i]);
    if (!add || add->Group() != kOpAdd || add->argumentCount != 2) continue;
    for (std::uint32_t a = 0; a < 2; ++a) {
      const IrValue* v = p.Value(add->arguments[a]);
      const IrInstruction* def = v && v->definingPosition != kNoIndex ? p.Instruction(v->definingPosition) : nullptr;
      if (!def || def->Group() != kOpLoopEntry || (v->binding & kSourceModifierBits)) continue;
      if (step) *step = add->arguments[1 - a];
      return p.ResolveAlias(add->arguments[a]);
    }
  }
  return kNoIndex;
}

// The argument that an instruction of `group` (a loop entry or its copy)
// turns into `value`; kNoIndex when `value` is no result of one.
std::uint32_t EntryArgument(const ShaderProgram& p, std::uint32_t group, std::uint32_t value) {
  const IrValue* v = p.Value(value);
  const IrInstruction* def = v && v->definingPosition != kNoIndex ? p.Instruction(v->definingPosition) : nullptr;
  if (!def || def->Group() != group) return kNoIndex;
  const std::uint32_t* at = std::find(def->results, def->results + def->resultCount, value);
  const std::uint32_t k = static_cast<std::uint32_t>(at - def->results);
  return k < def->resultCount && k < def->argumentCount ? def->arguments[k] : kNoIndex;
}

}  // namespace

HRESULT MapConditionalBreak(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpBreak || cur->Width() != 1 || cur->argumentCount < 1 || cur->resultCount < 1)
    return S_FALSE;
  if (!(t.profileLimits.secondFlags & 0x4)) {
    GXL_SHADER_REPORT(t, cur->sourcePosition, msg::kGeneralLoopUnmapped);
    return E_FAIL;
  }
  // Taken when x equals its own negation, that is when x is zero; a source
  // with no negated form is compared with 0.0 instead.
  const std::uint32_t x = cur->arguments[0];
  HRESULT hr;
  std::uint32_t other = NegatedValue(t, x, &hr);
  if (hr == S_FALSE) other = LiteralValue(t, 0.0);
  if (other == kNoIndex) return E_OUTOFMEMORY;
  const std::uint32_t arguments[2] = {x, other};
  return ReplaceCurrentWith(t, IrWord(flow::kBreakEqual, 1), arguments, 2);
}

HRESULT ShaderTarget::MaterializeLoopMerges() {
  bool changed = false;
  // The index moves past the moves a merge inserts.
  for (std::uint32_t i = 0; i < instructions.Count(); i = currentIndex + 1) {
    SetCurrentInstruction(i);
    if (!current || current->Group() != kOpBreakMerge) continue;
    const HRESULT hr = MaterializeLoopMerge();
    if (FAILED(hr)) return hr;
    changed |= hr == S_OK;
  }
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* opener = Instruction(i);
    if (!opener || (opener->Group() != kOpLoopBegin && opener->Group() != flow::kLoop) || !opener->resultCount)
      continue;
    const HRESULT hr = CarryLoopValuesIntoEntries(*this, opener->results[0]);
    if (FAILED(hr)) return hr;
    changed |= hr == S_OK;
  }
  const HRESULT hr = changed ? ResetSelectionState() : S_OK;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderTarget::MaterializeLoopMerge() {
  IrInstruction* merge = current;
  if (!merge || merge->Group() != kOpBreakMerge) return S_FALSE;
  const std::uint32_t n = merge->Width();
  if (merge->resultCount != n || merge->argumentCount < 2 * n) return S_FALSE;
  bool inserted = false;
  for (std::uint32_t k = 0; k < 2; ++k) {
    std::uint32_t* group = merge->arguments + k * n;
    bool inPlace = true;
    for (std::uint32_t i = 0; i < n && inPlace; ++i) {
      const IrValue* a = Value(group[i]);
      const IrValue* r = Value(merge->results[i]);
      inPlace = a && r && a->bank == r->bank && a->relativeIndex == r->relativeIndex && a->reg == r->reg &&
                a->component == r->component;
    }
    if (inPlace) continue;
    IrInstruction* move = NewInstruction(IrWord(kOpMove, n), n, n);
    if (!move) return E_OUTOFMEMORY;
    move->CopySourcePosition(merge);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t copy = AddValueCopy(Value(merge->results[i]));
      if (copy == kNoIndex) {
        delete move;
        return E_OUTOFMEMORY;
      }
      Value(copy)->predicate = Value(group[i])->predicate;
      Value(copy)->predicateSense = Value(group[i])->predicateSense;
      move->arguments[i] = group[i];
      move->results[i] = copy;
      group[i] = copy;
    }
    // In front of this merge and of the merges just before it.
    std::uint32_t at = currentIndex;
    while (at > 0 && Instruction(at - 1) && Instruction(at - 1)->Group() == kOpBreakMerge) --at;
    const HRESULT hr = InsertAt(*this, at, move);
    if (FAILED(hr)) return hr;
    ++currentIndex;
    inserted = true;
  }
  return inserted ? S_OK : S_FALSE;
}

HRESULT RecognizeCountedLoop(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpLoopMerge || cur->Width() == 0) return S_FALSE;
  const std::uint32_t n = cur->Width();
  for (std::uint32_t j = 0; j < n; ++j) {
    MatchedList list;
    Captures captures;
    bool matched = false;
    for (std::uint32_t pattern : {42u, 44u, 46u, 48u})
      if ((matched = MatchComponent(t, j, pattern, list, captures))) break;
    if (!matched) continue;
    // The merge the counter update goes through lies under a one-component repeat.
    std::uint32_t merge = kNoIndex;
    for (std::uint32_t i = 0; i < list.count; ++i)
      if (t.Instruction(list.position[i])->Group() == kOpBreakMerge) merge = list.position[i];
    const std::uint32_t opener = merge != kNoIndex ? OpenerOf(t, t.Instruction(merge)->results[0]) : kNoIndex;
    if (opener == kNoIndex) continue;
    const std::uint32_t loop = t.Instruction(opener)->results[0];
    std::uint32_t breakAt = kNoIndex;
    for (std::uint32_t i = opener + 1; i < t.currentIndex; ++i) {
      const IrInstruction* inst = t.Instruction(i);
      if (!inst || inst->word != IrWord(flow::kBreakGreaterEqual, 1) || inst->resultCount == 0 ||
          t.Value(inst->results[0])->predicate != loop)
        continue;
      if (breakAt != kNoIndex) {
        GXL_SHADER_REPORT(t, inst->sourcePosition, msg::kMultipleBreaks);
        return E_FAIL;
      }
      breakAt = i;
    }
    if (breakAt == kNoIndex) return S_FALSE;
    // Counted only when the break tests this counter against a literal limit
    // and start, step and count fit the loop's integer constant.
    IrInstruction& brk = *t.Instruction(breakAt);
    const std::uint32_t counter = CounterOf(t, list);
    double start, step, limit = 0, iterations;
    std::uint32_t uniformLimit = kNoIndex;
    const IrInstruction& open = *t.Instruction(opener);
    // A limit in an integer register is read by the loop alone: the break
    // that code without optimisation computes from it goes with the break,
    // so that both ways count the loop alike.
    std::uint32_t left = brk.arguments[0], right = brk.arguments[1];
    std::uint32_t chain[5], chained = 0;  // and the break
    double literal;
    std::uint32_t uniform = kNoIndex;
    const bool plain = t.ResolveAlias(left) == counter && LoopLimit(t, right, &literal, &uniform);
    bool computed = false;
    if (counter != kNoIndex && !plain && BreakOfComparison(t, brk, &left, &right, chain, &chained)) {
      chain[chained] = breakAt;
      computed = LoopLimit(t, right, &literal, &uniform) && uniform != kNoIndex &&
                 ReadOnlyWithin(t, chain, chained + 1);
      if (!computed) left = brk.arguments[0], right = brk.arguments[1];
    }
    if (counter == kNoIndex || t.ResolveAlias(left) != counter || (t.Value(left)->binding & kSourceModifierBits) ||
        !WholeLiteral(t, ThroughMoves(t, Capture(captures, 1, 0), loop), 0, 255, &start) ||
        !WholeLiteral(t, Capture(captures, 0, 0), 1, 127, &step) || !LoopLimit(t, right, &limit, &uniformLimit) ||
        !WholeLiteral(t, open.arguments[0], 1, 1e9, &iterations) || iterations != t.profileLimits.loopIterations)
      continue;
    // A uniform limit is the count only when counting from 0 by 1; its
    // register then holds (count, 0, 1), as the constant table writes an int.
    if (uniformLimit != kNoIndex && (start != 0 || step != 1)) continue;
    const double count = uniformLimit != kNoIndex ? 1 : std::ceil((limit - start) / step);
    if (count < 1 || count > 255) continue;
    // Work before the break runs once more in the iteration the break ends;
    // without the break it would not.
    bool first = true;
    for (std::uint32_t i = opener + 1; i < breakAt && first; ++i) {
      const IrInstruction* inst = t.Instruction(i);
      first = !inst || inst->word < 0x100000 || inst->Group() == kOpLoopEntry || inst->Group() == kOpLoopEntryCopy ||
              (computed && std::find(chain, chain + chained, i) != chain + chained);
    }
    if (!first) continue;

    std::uint32_t aL = kNoIndex;
    bool redirected = false;
    HRESULT hr = RedirectCounterReads(t, opener, t.currentIndex, counter, &aL, &redirected);
    if (FAILED(hr)) return hr;
    // Reads left on the counter stay relative through it.
    if (redirected) {
      hr = MakeCountedLoop(t, opener, count, start, step, uniformLimit);
    } else {
      const std::uint32_t literal = uniformLimit != kNoIndex ? uniformLimit : LiteralValue(t, count);
      if (literal == kNoIndex) return E_OUTOFMEMORY;
      t.Instruction(opener)->arguments[0] = literal;
    }
    if (FAILED(hr)) return hr;
    // The count ends the loop now: the break and its merges go.
    const std::uint32_t broken = brk.results[0];
    brk.word = 0;
    for (std::uint32_t i = opener; i <= t.currentIndex; ++i) {
      IrInstruction* inst = t.Instruction(i);
      if (!inst || inst->Group() != kOpBreakMerge || inst->argumentCount == 0 ||
          t.Value(inst->arguments[0])->predicate != broken)
        continue;
      const std::uint32_t w = inst->Width();
      inst->word = IrWord(kOpMove, w);
      inst->argumentCount = w;
    }
    for (std::uint32_t v = 0; v < t.values.Count(); ++v)
      if (IrValue* value = t.Value(v); value && value->predicate == broken) value->predicate = loop;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT RecognizeCountedLoopCounter(ShaderTarget& t) {
  IrInstruction* cur = t.current;
  if (!cur || cur->Group() != kOpLoopMerge || cur->Width() == 0) return S_FALSE;
  const std::uint32_t n = cur->Width();
  for (std::uint32_t j = 0; j < n; ++j) {
    // Lowered code moves the counter's update before the merge takes it. A
    // counter that a break merge carries (42-48) counts the passes too: the
    // pass the break ends is the last.
    for (std::uint32_t pattern : {50u, 54u, 51u, 55u, 42u, 44u, 46u, 48u}) {
      MatchedList list;
      Captures captures;
      if (!MatchComponent(t, j, pattern, list, captures)) continue;
      // The counter counts from 0 by 1 into its own entry, under a repeat
      // whose count aL can take.
      std::uint32_t step = kNoIndex;
      const std::uint32_t counter = CounterOf(t, list, &step);
      const std::uint32_t opener = OpenerOf(t, cur->results[j]);
      double iterations, start, by;
      if (counter == kNoIndex || opener == kNoIndex || OpenerOf(t, counter) != opener ||
          !WholeLiteral(t, ThroughMoves(t, EntryArgument(t, kOpLoopEntry, counter), t.Instruction(opener)->results[0]),
                        0, 255, &start) ||
          !WholeLiteral(t, step, -128, 127, &by) || by == 0 ||
          t.ResolveAlias(EntryArgument(t, kOpLoopEntryCopy, cur->arguments[n + j])) != counter ||
          !WholeLiteral(t, t.Instruction(opener)->arguments[0], 1, 255, &iterations))
        break;
      std::uint32_t aL = kNoIndex;
      bool redirected = false;
      const HRESULT hr = RedirectCounterReads(t, opener, t.currentIndex, counter, &aL, &redirected);
      if (FAILED(hr)) return hr;
      if (!redirected) break;
      return MakeCountedLoop(t, opener, iterations, start, by);
    }
  }
  return S_FALSE;
}

}  // namespace gxl::shader
