// The vertex target's selection (slot 4) and code-generation passes (slot
// 10): the recognisers and folds in their fixed order, dst and dot-product
// peepholes, the address loads of vs_2_0 and up, and the rebuild of the
// predicated program into flow control.
#include <algorithm>
#include <memory>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/vertex_target.h"

namespace gxl::shader {

namespace {

// Runs `rule` on every instruction whose group `applies` accepts, from the
// first to the last (the list may grow). A rewrite refreshes the use
// analysis the next rule reads. The first failure is returned.
template <typename Applies, typename Run>
HRESULT ForEach(ShaderTarget& t, Applies applies, Run run) {
  const SelectionWalk walk(t);
  for (std::uint32_t i = 0; i < t.instructions.Count(); i = t.currentIndex + 1) {
    t.SetCurrentInstruction(i);
    if (!t.current || !applies(t.current->Group())) continue;
    const HRESULT hr = run(t);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) {
      const HRESULT reset = t.ResetSelectionState();
      if (FAILED(reset)) return reset;
    }
  }
  return S_OK;
}

auto Is(std::uint32_t group) {
  return [group](std::uint32_t g) { return g == group; };
}
auto Within(std::uint32_t first, std::uint32_t last) {
  return [first, last](std::uint32_t g) { return g >= first && g <= last; };
}
auto IsScalarResult() {
  return [](std::uint32_t g) { return g == 0x103 || g == 0x105 || g == 0x106 || g == 0x107 || g == 0x500; };
}

// Two rules in turn on the same instruction.
template <typename A, typename B>
auto Then(A a, B b) {
  return [a, b](ShaderTarget& t) -> HRESULT {
    const HRESULT first = a(t);
    if (FAILED(first)) return first;
    const std::uint32_t index = t.currentIndex;
    if (first == S_OK) {
      const HRESULT reset = t.ResetSelectionState();
      if (FAILED(reset)) return reset;
    }
    t.SetCurrentInstruction(index);
    if (!t.current) return first;
    const HRESULT second = b(t);
    return FAILED(second) || second == S_OK ? second : first;
  };
}

// The rule's failures ignored, but for running out of memory.
template <typename A>
auto Quietly(A a) {
  return [a](ShaderTarget& t) -> HRESULT {
    const HRESULT hr = a(t);
    return hr == E_OUTOFMEMORY || hr == S_OK ? hr : S_FALSE;
  };
}

// One past the highest temporary register in use.
std::uint32_t NextFreeTemporary(const ShaderTarget& t) {
  const std::uint32_t temporaries = t.StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < t.values.Count(); ++i)
    if (const IrValue* v = t.values[i]; v && v->bank == temporaries && v->reg != kNoIndex)
      next = std::max(next, v->reg + 1);
  return next;
}

// A move of from[0..n) into to[0..n), appended; null when memory runs out.
IrInstruction* AddGatheringMove(ShaderTarget& t, const std::uint32_t* from, const std::uint32_t* to, std::uint32_t n) {
  const std::uint32_t move = t.AddInstruction(IrWord(kOpMove, n), n, n);
  if (move == kNoIndex) return nullptr;
  IrInstruction& m = *t.Instruction(move);
  std::copy(from, from + n, m.arguments);
  std::copy(to, to + n, m.results);
  return &m;
}

}  // namespace

// One side of a flow-control block that writes an output register in pieces
// which together make .x, .xy, .xyz or .xyzw writes temporaries instead, and
// one move under the same guard, after its last piece (and the merges closing
// the same block with it), writes the register.
// (The move at the end below cannot gather writes of which only one side
// of a block runs.)
HRESULT VertexShaderTarget::GatherGuardedOutputWrites() {
  const std::uint32_t outputs = StandardBankIndex(StandardBank::Outputs);
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t next = NextFreeTemporary(*this);
  // The components of output register `reg` an instruction writes, and under which guard.
  auto written = [&](const IrInstruction* inst, std::uint32_t reg, std::uint32_t* predicate, std::uint32_t* sense) {
    std::uint32_t mask = 0;
    for (std::uint32_t r = 0; inst && inst->word && r < inst->resultCount; ++r) {
      const IrValue* v = Value(inst->results[r]);
      if (!v || v->bank != outputs || v->reg != reg || v->component > 3 || v->relativeIndex != kNoIndex) continue;
      mask |= 1u << v->component;
      *predicate = v->predicate;
      *sense = v->predicateSense;
    }
    return mask;
  };
  auto legal = [](std::uint32_t mask) { return mask == 1 || mask == 3 || mask == 7 || mask == 15; };
  for (std::uint32_t first = 0; first < instructions.Count(); ++first) {
    const IrInstruction* head = Instruction(first);
    const IrValue* v = head && head->word && head->resultCount ? Value(head->results[0]) : nullptr;
    if (!v || v->bank != outputs || v->predicate == kNoIndex || v->relativeIndex != kNoIndex) continue;
    const std::uint32_t reg = v->reg, predicate = v->predicate, sense = v->predicateSense;
    // The side's pieces up to the first write of the register under another guard.
    std::uint32_t last = first, mask = 0;
    bool pieces = false;
    for (std::uint32_t p = first; p < instructions.Count(); ++p) {
      std::uint32_t q = kNoIndex, s = 1;
      const std::uint32_t m = written(Instruction(p), reg, &q, &s);
      if (!m) continue;
      if (q != predicate || s != sense) break;
      pieces |= !legal(m) || (mask & m);
      mask |= m;
      last = p;
    }
    if (!pieces || !legal(mask)) continue;
    // A last piece that is one of the merges closing a nested block: the
    // block's merges stay together, so the move goes after the last of them.
    std::uint32_t after = last;
    const IrInstruction* closing = Instruction(last);
    const std::uint32_t block = closing->Group() == kOpIfMerge ? Value(closing->arguments[0])->predicate : kNoIndex;
    for (std::uint32_t p = last + 1; block != kNoIndex && p < instructions.Count(); ++p) {
      const IrInstruction* inst = Instruction(p);
      if (!inst || inst->word < 0x100000) continue;
      std::uint32_t q = kNoIndex, s = 1;
      if (inst->Group() != kOpIfMerge || Value(inst->arguments[0])->predicate != block || written(inst, reg, &q, &s))
        break;
      after = p;
    }
    // The pieces write a temporary; the last piece of each component feeds the move.
    const std::uint32_t highest = mask == 15 ? 3 : mask == 7 ? 2 : mask == 3 ? 1 : 0;
    std::uint32_t from[4], to[4];
    for (std::uint32_t p = first; p <= last; ++p) {
      IrInstruction* inst = Instruction(p);
      for (std::uint32_t r = 0; inst && inst->word && r < inst->resultCount; ++r) {
        const IrValue* out = Value(inst->results[r]);
        if (!out || out->bank != outputs || out->reg != reg || out->component > 3) continue;
        const std::uint32_t c = out->component, value = AddValue(temporaries, next, c, 0.0);
        if (value == kNoIndex) return E_OUTOFMEMORY;
        Value(value)->predicate = predicate;
        Value(value)->predicateSense = sense;
        from[c] = value;
        to[c] = inst->results[r];
        inst->results[r] = value;
      }
    }
    ++next;
    IrInstruction* m = AddGatheringMove(*this, from, to, highest + 1);
    if (!m) return E_OUTOFMEMORY;
    m->CopySourcePosition(Instruction(last));
    for (std::uint32_t p = instructions.Count() - 1; p > after + 1; --p)
      std::swap(instructions.Slot(p), instructions.Slot(p - 1));
    // The scan goes on from the next instruction: pieces of other registers
    // may lie between this register's first and last piece, or start in the
    // merges passed over.
  }
  return S_OK;
}

// Texture coordinate outputs take only the masks .x, .xy, .xyz and .xyzw: an
// output register written in other pieces is computed into temporaries
// instead and written whole by one move at the end (holes hold 0).
HRESULT VertexShaderTarget::OrderOutputWrites() {
  HRESULT hr = GatherGuardedOutputWrites();
  if (SUCCEEDED(hr)) hr = ResetSelectionState();
  if (FAILED(hr)) return hr;
  const std::uint32_t outputs = StandardBankIndex(StandardBank::Outputs);
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  // The output values of each register, by component: the last one written.
  struct Written {
    std::uint32_t reg;
    std::uint32_t last[4];
    bool unordered, guarded;
  };
  PodArray<Written> registers;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    if (!v || v->bank != outputs || v->reg == kNoIndex || v->component > 3 || v->relativeIndex != kNoIndex) continue;
    std::size_t k = 0;
    while (k < registers.Size() && registers[k].reg != v->reg) ++k;
    if (k == registers.Size() &&
        !registers.Append(Written{v->reg, {kNoIndex, kNoIndex, kNoIndex, kNoIndex}, false, false}))
      return E_OUTOFMEMORY;
    Written& w = registers[k];
    w.guarded |= v->predicate != kNoIndex;
    std::uint32_t& last = w.last[v->component];
    if (last == kNoIndex || Value(last)->definingPosition < v->definingPosition) last = i;
  }
  // A write of components other than 0 to n - 1 of one register.
  for (std::uint32_t p = 0; p < instructions.Count(); ++p) {
    const IrInstruction* inst = Instruction(p);
    if (!inst || inst->word < 0x100000) continue;
    for (std::size_t k = 0; k < registers.Size(); ++k) {
      Written& w = registers[k];
      std::uint32_t mask = 0;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
        const IrValue* v = Value(inst->results[r]);
        if (v && v->bank == outputs && v->reg == w.reg && v->component < 4) mask |= 1u << v->component;
      }
      w.unordered |= mask && (mask & (mask + 1)) != 0;
      w.unordered |= mask && !(mask & 1);
    }
  }
  // Registers above every one in use: one for what the move reads, one for
  // what earlier writes of the same components leave unread.
  std::uint32_t next = NextFreeTemporary(*this);
  for (std::size_t k = 0; k < registers.Size(); ++k) {
    const Written& w = registers[k];
    if (!w.unordered || w.guarded) continue;
    const std::uint32_t into = next, unread = next + 1;
    next += 2;
    std::uint32_t highest = 0, from[4], to[4];
    for (std::uint32_t c = 0; c < 4; ++c)
      if (w.last[c] != kNoIndex) highest = c;
    for (std::uint32_t c = 0; c <= highest; ++c) {
      from[c] = AddValue(temporaries, into, c, 0.0);
      if (from[c] == kNoIndex) return E_OUTOFMEMORY;
      to[c] = w.last[c];
      if (to[c] == kNoIndex) {
        // A hole: the register is written whole, this component with 0.
        std::uint32_t any = 0;
        while (w.last[any] == kNoIndex) ++any;
        to[c] = AddValueCopy(Value(w.last[any]));
        const std::uint32_t zero = sel::LiteralValue(*this, 0.0);
        const std::uint32_t move = AddInstruction(IrWord(kOpMove, 1), 1, 1);
        if (to[c] == kNoIndex || zero == kNoIndex || move == kNoIndex) return E_OUTOFMEMORY;
        Value(to[c])->component = c;
        Instruction(move)->arguments[0] = zero;
        Instruction(move)->results[0] = from[c];
      }
    }
    // Every writer of the register writes temporaries; the last of each
    // component feeds the move.
    for (std::uint32_t p = 0; p < instructions.Count(); ++p) {
      IrInstruction* inst = Instruction(p);
      for (std::uint32_t r = 0; inst && r < inst->resultCount; ++r) {
        const IrValue* v = Value(inst->results[r]);
        if (!v || v->bank != outputs || v->reg != w.reg || v->component > highest) continue;
        const bool last = inst->results[r] == w.last[v->component];
        const std::uint32_t value = last ? from[v->component] : AddValue(temporaries, unread, v->component, 0.0);
        if (value == kNoIndex) return E_OUTOFMEMORY;
        Value(value)->predicate = v->predicate;
        Value(value)->predicateSense = v->predicateSense;
        inst->results[r] = value;
      }
    }
    IrInstruction* m = AddGatheringMove(*this, from, to, highest + 1);
    if (!m) return E_OUTOFMEMORY;
    if (w.last[0] != kNoIndex) {
      const IrValue* origin = Value(w.last[0]);
      if (const IrInstruction* d = Instruction(origin->definingPosition)) m->CopySourcePosition(d);
    }
  }
  return ResetSelectionState();
}

HRESULT VertexShaderTarget::SelectInstructions() {
  const bool two = Version2();
  const bool optimise = !(options & kOptionNoOptimisation);
  auto reset = [this] { return ResetSelectionState(); };
  HRESULT hr = OrderOutputWrites();
  // Optimised, one walk over steps 1 to 4: between them the use analysis is
  // kept up to date, not built again for each.
  // Held by pointer: g++ 12 takes an empty optional of it for one read
  // uninitialised (-Wmaybe-uninitialized).
  std::unique_ptr<SelectionWalk> walk;
  if (optimise) walk = std::make_unique<SelectionWalk>(*this);

  // 1. vs_1_1's frc; conditional breaks by comparison.
  if (SUCCEEDED(hr) && (profileLimits.secondFlags & kVertexFractionForm))
    for (std::uint32_t i = 0; i < instructions.Count(); ++i)
      if (IrInstruction* inst = Instruction(i); inst && inst->Group() == kOpFraction)
        inst->word = IrWord(0x710, inst->Width());
  if (SUCCEEDED(hr)) hr = ForEach(*this, Is(0x114), RecognizeBreakComparison);

  // 2. Folds and fused forms.
  if (SUCCEEDED(hr) && optimise) {
    hr = ForEach(*this, Is(kOpNegate), [](ShaderTarget& t) { return FoldNegate(t, true); });
    if (SUCCEEDED(hr) && two) hr = ForEach(*this, Is(kOpExp2), RecognizePower);
    if (SUCCEEDED(hr)) hr = ForEach(*this, Is(kOpIfBegin), RecognizePredicateComparison);
    if (SUCCEEDED(hr)) hr = ForEach(*this, Is(0x114), RecognizeBreakComparison);
    if (SUCCEEDED(hr) && two) hr = ForEach(*this, Is(kOpMax), RecognizeAbsFromMax);
    if (SUCCEEDED(hr)) hr = ForEach(*this, Is(kOpAdd), [](ShaderTarget& t) { return FormMultiplyAdd(t, true); });
    if (SUCCEEDED(hr)) hr = RemoveDeadCode();
    if (SUCCEEDED(hr)) hr = reset();
    if (SUCCEEDED(hr) && two) hr = ForEach(*this, Is(kOpMultiply), RecognizeNormalize);
    if (SUCCEEDED(hr) && two)
      hr = ForEach(*this, Is(0x703), [](ShaderTarget& t) { return RecognizeLerpFromMad(t, true); });
    if (SUCCEEDED(hr))
      hr = ForEach(*this, Within(0x735, 0x736), Then(FoldSquareIntoComparison, FoldSquaresIntoComparison));
    if (SUCCEEDED(hr)) hr = ForEach(*this, Within(0x746, 0x747), Then(FoldSquareIntoBreak, FoldSquaresIntoBreak));
    if (SUCCEEDED(hr)) hr = ForEach(*this, Within(0x735, 0x738), FoldSumIntoComparison);
    if (SUCCEEDED(hr)) hr = ForEach(*this, Within(0x744, 0x747), FoldSumIntoBreak);
    if (SUCCEEDED(hr)) hr = ForEach(*this, Is(0x737), CompareWithNegatedSelf);
  }

  // 3. Breaks and counted loops.
  if (SUCCEEDED(hr)) hr = reset();
  if (SUCCEEDED(hr)) hr = ForEach(*this, Within(0x746, 0x747), Then(FoldSquareIntoBreak, FoldSquaresIntoBreak));
  if (SUCCEEDED(hr)) hr = ForEach(*this, Within(0x744, 0x747), Quietly(FoldSumIntoBreak));
  if (SUCCEEDED(hr)) hr = ForEach(*this, Is(kOpLoopMerge), RecognizeCountedLoop);
  if (SUCCEEDED(hr)) hr = ForEach(*this, Is(0x114), MapConditionalBreak);
  if (SUCCEEDED(hr) && two)
    hr = ForEach(*this, Is(0x703), [](ShaderTarget& t) { return RecognizeLerpFromMad(t, false); });
  if (SUCCEEDED(hr)) hr = reset();

  // 4. Scalar results read by one move; lerp orders; sincos destinations.
  if (SUCCEEDED(hr)) hr = ForEach(*this, IsScalarResult(), FoldMoveIntoScalarResult);
  if (SUCCEEDED(hr) && two) hr = ForEach(*this, Is(0x703), TryLerpOrders);
  if (SUCCEEDED(hr)) hr = reset();
  if (SUCCEEDED(hr)) hr = ForEach(*this, Is(kOpSinCos), FixSinCosDestination);

  // 5. Clean-up.
  walk.reset();
  if (SUCCEEDED(hr)) hr = RemoveDeadCode();
  if (SUCCEEDED(hr)) hr = MergeDuplicateValues();
  if (SUCCEEDED(hr)) hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = RemoveUnusedValues();
  if (SUCCEEDED(hr)) hr = reset();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT VertexShaderTarget::GenerateCode() {
  HRESULT hr = profileLimits.word13 ? MaterializeLoopMerges() : S_OK;
  if (SUCCEEDED(hr) && !(options & kOptionNoOptimisation)) {
    hr = ForEach(
        *this, [](std::uint32_t g) { return g != kOpNop; },
        [](ShaderTarget& t) { return static_cast<VertexShaderTarget&>(t).MatchDistanceVector(); });
    if (SUCCEEDED(hr))
      hr = ForEach(*this, Is(kOpDot),
                   [](ShaderTarget& t) { return static_cast<VertexShaderTarget&>(t).FoldDotProduct(); });
    if (SUCCEEDED(hr)) hr = ResetSelectionState();
    if (SUCCEEDED(hr)) hr = ForEach(*this, IsScalarResult(), FoldMoveIntoScalarResult);
  }
  if (SUCCEEDED(hr) && profileLimits.addressRegisters) hr = LoadAddressRegistersInPasses();
  if (SUCCEEDED(hr) && profileLimits.booleanConstants) hr = LowerPredicatedBlocks();
  return FAILED(hr) ? hr : S_OK;
}

// --- Peepholes ---------------------------------------------------------------------------

HRESULT VertexShaderTarget::FoldDotProduct() {
  IrInstruction* dot = current;
  if (!dot || dot->Width() < 3 || dot->resultCount != 1) return S_FALSE;
  const std::uint32_t position = currentIndex;
  std::uint32_t at = kNoIndex;
  if (Version2() && dot->Width() == 3) {
    const HRESULT hr = FoldNormalize();
    if (hr != S_FALSE) return hr;
  }
  if (CheckProducerFusion(*this, kOpMove, position, &at, 1, 1) != S_OK) return S_FALSE;
  IrInstruction* move = Instruction(at);
  if (!move || move->resultCount < 2 || move->resultCount > 4) return S_FALSE;
  const std::uint32_t outputs = StandardBankIndex(StandardBank::Outputs);
  for (std::uint32_t r = 0; r < move->resultCount; ++r) {
    const IrValue* v = Value(move->results[r]);
    if (!v || v->bank != outputs || move->arguments[r] != dot->results[0]) return S_FALSE;
  }
  // The dot product moves to the copy's place (its arguments stay until
  // there) and writes the copy's results itself.
  IrInstruction* fused = sel::NewInstruction(dot->word, dot->argumentCount, move->resultCount);
  if (!fused) return E_OUTOFMEMORY;
  std::copy(dot->arguments, dot->arguments + dot->argumentCount, fused->arguments);
  std::copy(move->results, move->results + move->resultCount, fused->results);
  fused->CopyFields(*move);
  fused->CopySourcePosition(dot);
  delete move;
  instructions.Slot(at) = fused;
  for (std::uint32_t r = 0; r < fused->resultCount; ++r) Value(fused->results[r])->definingPosition = at;
  dot->word = 0;
  return S_OK;
}

// x * rsq(dot(x, x)) over three components (and w alongside) is nrm.
HRESULT VertexShaderTarget::FoldNormalize() {
  const IrInstruction* dot = current;
  const std::uint32_t* x = dot->arguments;
  for (std::uint32_t c = 0; c < 3; ++c)
    if (!sel::SameOperand(*this, x[c], dot->arguments[3 + c])) return S_FALSE;
  // The reciprocal square root of the dot product, read only by one multiply.
  const IrValue* length = Value(dot->results[0]);
  const IrInstruction* rsq = length && length->useCount == 1 ? Instruction(length->firstUse) : nullptr;
  if (!rsq || rsq->word != 0x10700001 || rsq->arguments[0] != dot->results[0]) return S_FALSE;
  const IrValue* scale = Value(rsq->results[0]);
  const std::uint32_t at = scale ? scale->firstUse : kNoIndex;
  const IrInstruction* mul = at != kNoIndex && scale->lastUse == at ? Instruction(at) : nullptr;
  if (!mul || (mul->word != 0x20500003 && mul->word != 0x20500004)) return S_FALSE;
  const std::uint32_t n = mul->Width();
  // One group is the vector (its first three components x), the other the scale.
  for (std::uint32_t g = 0; g < 2; ++g) {
    const std::uint32_t* vector = mul->arguments + g * n;
    const std::uint32_t* scales = mul->arguments + (1 - g) * n;
    bool fits = true;
    for (std::uint32_t c = 0; c < n && fits; ++c)
      fits = scales[c] == rsq->results[0] && (c >= 3 || sel::SameOperand(*this, vector[c], x[c]));
    // The registers were assigned to a multiply, which may write the register
    // it reads; nrm may not, so there the three instructions stay.
    for (std::uint32_t r = 0; r < n && fits; ++r)
      for (std::uint32_t c = 0; c < n && fits; ++c)
        fits = !SameRegisterIndex(ResolveAlias(mul->results[r]), ResolveAlias(vector[c]));
    if (!fits) continue;
    IrInstruction* nrm = sel::NewInstruction(IrWord(0x702, n), n, n);
    if (!nrm) return E_OUTOFMEMORY;
    std::copy(vector, vector + n, nrm->arguments);
    std::copy(mul->results, mul->results + n, nrm->results);
    nrm->CopyFields(*mul);
    nrm->CopySourcePosition(mul);
    // In the multiply's place, where the vector is still there to read; the
    // dot product and the rsq go.
    Instruction(length->firstUse)->word = 0;
    current->word = 0;
    IrInstruction*& slot = instructions.Slot(at);
    delete slot;
    slot = nrm;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT VertexShaderTarget::MatchDistanceVector() {
  const IrInstruction* reader = current;
  const std::uint32_t width = reader ? reader->Width() : 0;
  if (!reader || reader->word < 0x100000 || width != 4) return S_FALSE;
  // The one-result instruction that defines a value, and its position.
  auto definer = [this](std::uint32_t value, std::uint32_t word, std::uint32_t* at) -> const IrInstruction* {
    const IrValue* v = Value(value);
    const IrInstruction* d = v && v->definingPosition != kNoIndex ? Instruction(v->definingPosition) : nullptr;
    if (!d || d->word != word || d->resultCount != 1 || d->results[0] != value) return nullptr;
    *at = v->definingPosition;
    return d;
  };
  constexpr std::uint32_t kMove1 = 0x10000001, kMultiply1 = 0x20500001;
  for (std::uint32_t g = 0; g < reader->argumentCount / width; ++g) {
    const std::uint32_t* group = reader->arguments + g * width;
    bool inOrder = true;
    for (std::uint32_t c = 0; c < 4 && inOrder; ++c) {
      const IrValue* v = Value(group[c]);
      inOrder = v && v->component == c && v->relativeIndex == kNoIndex && v->binding == 0 &&
                v->bank == Value(group[0])->bank && v->reg == Value(group[0])->reg;
    }
    if (!inOrder) continue;
    // x = 1.0, y = a * b, z = p, w = q, each by an instruction of its own.
    MatchedList matched;
    const IrInstruction *one, *product, *zMove, *wMove;
    if (!(one = definer(group[0], kMove1, &matched.position[0])) || !sel::IsLiteral(*this, one->arguments[0], 1.0) ||
        !(product = definer(group[1], kMultiply1, &matched.position[1])) ||
        !(zMove = definer(group[2], kMove1, &matched.position[2])) ||
        !(wMove = definer(group[3], kMove1, &matched.position[3])))
      continue;
    matched.count = 4;
    const std::uint32_t a = product->arguments[0], b = product->arguments[1];
    const std::uint32_t p = zMove->arguments[0], q = wMove->arguments[0];
    // Each source of dst is one register: a with p, b with q.
    const IrValue *va = Value(a), *vb = Value(b), *vp = Value(p), *vq = Value(q);
    if (!va || !vb || !vp || !vq || !SameRegisterIndex(a, p) || !SameRegisterIndex(b, q)) continue;
    IrInstruction* dst = sel::NewInstruction(IrWord(0x709, 4), 8, 4);
    if (!dst) return E_OUTOFMEMORY;
    const std::uint32_t arguments[8] = {a, a, p, a, b, b, b, q};
    std::copy(arguments, arguments + 8, dst->arguments);
    std::copy(group, group + 4, dst->results);
    dst->CopyFields(*product);
    dst->CopySourcePosition(product);
    const HRESULT hr = PlaceCombinedInstruction(dst, matched.position, matched.count);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) return S_OK;
    delete dst;
  }
  return S_FALSE;
}

}  // namespace gxl::shader
