// The order of the instructions before registers are assigned: texture
// levels for targets whose texture reads come in dependent phases, the
// instruction predicates, and an order that keeps few values live.
// Straight-line programs are emitted depth first, each instruction's inputs
// in the order of a score of their subtrees; programs with flow control are
// grouped by their blocks and then improved by DependencyGraph. The walks
// keep their own stacks, so a long dependence chain costs no native stack.
#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/dependency_graph.h"
#include "gxl/shader/backend/alloc/guards.h"
#include "gxl/shader/backend/alloc/subtree_scores.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kTexturePhases = 0x04000000 | 0x08000000;
constexpr std::int64_t kScoreStep = 0x10000;

bool IsTextureStyle(const IrInstruction& inst) { return inst.Class() == 6 || inst.Group() == kOpDiscard; }

// The chain of a predicate value lifted `steps` times; the sense of the last
// value left behind through `sense`.
std::uint32_t Lift(const ShaderProgram& p, std::uint32_t predicate, std::uint32_t steps, std::uint32_t* sense) {
  for (; steps > 0 && predicate != kNoIndex; --steps) {
    const IrValue* v = p.values[predicate];
    if (!v) return kNoIndex;
    if (sense) *sense = v->predicateSense;
    predicate = v->predicate;
  }
  return predicate;
}

// The nearest predicate both chains share (kNoIndex: the top level).
std::uint32_t CommonAncestor(const ShaderProgram& p, std::uint32_t a, std::uint32_t b) {
  std::uint32_t da = alloc::GuardDepth(p, a), db = alloc::GuardDepth(p, b);
  if (da > db) a = Lift(p, a, da - db, nullptr), da = db;
  if (db > da) b = Lift(p, b, db - da, nullptr), db = da;
  while (a != b && da-- > 0) {
    a = Lift(p, a, 1, nullptr);
    b = Lift(p, b, 1, nullptr);
  }
  return a == b ? a : kNoIndex;
}

// From the position of `instruction`, the extent of the blocks its guard
// lies in below `ancestor`: their definitions to their last instructions.
void Span(const ShaderProgram& p, std::uint32_t instruction, std::uint32_t guard, std::uint32_t ancestor,
          std::uint32_t* start, std::uint32_t* end) {
  *start = *end = instruction;
  for (std::uint32_t steps = 0, bound = p.values.Count(); guard != ancestor && guard != kNoIndex && steps <= bound;
       ++steps) {
    const IrValue* v = p.values[guard];
    if (!v) break;
    if (v->definingPosition != kNoIndex) *start = std::min(*start, v->definingPosition);
    *end = std::max(*end, v->lastUse);
    guard = v->predicate;
  }
}

// The sense of a result's chain at the level just below `ancestor`.
std::uint32_t SenseBelow(const ShaderProgram& p, std::uint32_t value, std::uint32_t ancestor) {
  for (std::uint32_t steps = 0, bound = p.values.Count(); steps <= bound; ++steps) {
    const IrValue* v = p.values[value];
    if (!v) return 1;
    if (v->predicate == ancestor || v->predicate == kNoIndex) return v->predicateSense;
    value = v->predicate;
  }
  return 1;
}

std::uint32_t FirstResultPredicate(const ShaderProgram& p, const IrInstruction& inst) {
  return inst.resultCount ? alloc::PredicateOf(p, inst.results[0]) : kNoIndex;
}

// A ready list of instructions, smallest rank first.
struct RankHeap {
  std::uint32_t* items;
  std::uint32_t size = 0;
  const std::uint32_t* rank;
  bool operator()(std::uint32_t a, std::uint32_t b) const { return rank[a] > rank[b]; }
  void Push(std::uint32_t i) {
    items[size++] = i;
    std::push_heap(items, items + size, *this);
  }
  std::uint32_t Pop() {
    std::pop_heap(items, items + size, *this);
    return items[--size];
  }
};

// The instruction list rewritten in `order` (a permutation of its indexes).
HRESULT Reorder(ShaderProgram& p, const std::uint32_t* order, std::uint32_t count) {
  auto records = opt::NewArray<IrInstruction*>(count);
  if (!records) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < count; ++k) records[k] = p.instructions[order[k]];
  for (std::uint32_t k = 0; k < count; ++k) p.instructions.Slot(k) = records[k];
  return S_OK;
}

// Sorts the instructions by blocks, then takes them in that order as far as
// their dependences allow: the comparator is no strict weak ordering, so the
// sorted order alone need not respect them.
HRESULT SortByBlocks(ShaderProgram& p) {
  const std::uint32_t count = p.instructions.Count();
  auto sorted = opt::NewArray<std::uint32_t>(count);
  auto rank = opt::NewArray<std::uint32_t>(count);
  auto waiting = opt::NewArray<std::uint32_t>(count);
  auto heap = opt::NewArray<std::uint32_t>(count);
  auto order = opt::NewArray<std::uint32_t>(count);
  if (!sorted || !rank || !waiting || !heap || !order) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) sorted[i] = i;
  SortIndicesByComparator(CompareScheduleOrder, sorted.get(), count, &p);
  for (std::uint32_t k = 0; k < count; ++k) rank[sorted[k]] = k;
  RankHeap ready{heap.get(), 0, rank.get()};
  for (std::uint32_t i = 0; i < count; ++i) {
    waiting[i] = p.instructions[i]->predecessorCount;
    if (waiting[i] == 0) ready.Push(i);
  }
  std::uint32_t emitted = 0;
  while (ready.size) {
    const std::uint32_t i = ready.Pop();
    order[emitted++] = i;
    const IrInstruction& inst = *p.instructions[i];
    for (std::uint32_t k = 0; k < inst.successorCount; ++k)
      if (--waiting[inst.successors[k]] == 0) ready.Push(inst.successors[k]);
  }
  // Dependences are acyclic in any program with an order; keep the old one otherwise.
  return emitted == count ? Reorder(p, order.get(), count) : S_OK;
}

}  // namespace

std::int32_t CompareScheduleOrder(std::uint32_t a, std::uint32_t b, const void* context) {
  const ShaderProgram& p = *static_cast<const ShaderProgram*>(context);
  const IrInstruction &x = *p.instructions[a], &y = *p.instructions[b];
  const std::uint32_t ancestor = CommonAncestor(p, x.predicate, y.predicate);
  std::uint32_t startA, endA, startB, endB;
  Span(p, a, x.predicate, ancestor, &startA, &endA);
  Span(p, b, y.predicate, ancestor, &startB, &endB);
  const bool nested = (a >= startB && a <= endB) || (b >= startA && b <= endA);
  if (nested && startA != startB) return startA < startB ? 1 : -1;
  const std::uint32_t pa = FirstResultPredicate(p, x), pb = FirstResultPredicate(p, y);
  const std::uint32_t below = CommonAncestor(p, pa, pb);
  const std::uint32_t senseA = x.resultCount ? SenseBelow(p, x.results[0], below) : 1;
  const std::uint32_t senseB = y.resultCount ? SenseBelow(p, y.results[0], below) : 1;
  if (senseA == 0 && senseB != 0) return 1;
  if (senseA != 0 && senseB == 0) return -1;
  return a < b ? -1 : (a > b ? 1 : 0);
}

HRESULT ShaderProgram::ScheduleInstructions() {
  HRESULT hr = CompactInstructions();
  if (SUCCEEDED(hr)) hr = BuildDependencyLists();
  if (FAILED(hr)) return hr;
  const std::uint32_t count = instructions.Count();

  if (profileLimits.capabilities & kTexturePhases) {
    for (std::uint32_t i = 0; i < count; ++i) instructions[i]->level = 0;
    for (std::uint32_t i = count; i-- > 0;) {
      IrInstruction& inst = *instructions[i];
      if (alloc::IsEmpty(&inst)) continue;
      std::uint32_t level = inst.level;
      if (IsTextureStyle(inst)) {
        inst.level = level + 1;
        level += 2;
      }
      for (std::uint32_t k = 0; k < inst.predecessorCount; ++k) {
        IrInstruction& before = *instructions[inst.predecessors[k]];
        before.level = std::max(before.level, level);
      }
    }
  }

  bool guarded = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    IrInstruction& inst = *instructions[i];
    if (alloc::IsEmpty(&inst)) continue;
    inst.predicate = alloc::InstructionGuard(*this, inst);
    guarded = guarded || inst.predicate != kNoIndex;
  }
  if (options & kOptionNoOptimisation) return S_FALSE;

  if (guarded) {
    if (FAILED(hr = RebuildDefUse())) return hr;
    alloc::ExtendGuardRanges(*this);
    if (FAILED(hr = SortByBlocks(*this)) || FAILED(hr = BuildDependencyLists())) return hr;
    DependencyGraph graph(this);
    hr = graph.Run(1);
    return FAILED(hr) ? hr : S_OK;
  }

  auto order = opt::NewArray<std::uint32_t>(count);
  if (!order) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) {
    instructions[i]->word14 = kNoIndex;
    instructions[i]->pinned = 0;
  }
  // The reference switch keeps the walks of SubtreeScore. Past what the
  // bitsets hold the walks would cost the square of the program, which
  // straight code must never need: the inputs then keep their order.
  const bool scored = SubtreeScores::Fits(count);
  SubtreeScores scores(*this);
  hr = referenceSearches || !scored ? S_FALSE : scores.Prepare();
  if (FAILED(hr)) return hr;
  SubtreeScores* fast = hr == S_OK ? &scores : nullptr;
  std::uint32_t emitted = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrInstruction& inst = *instructions[i];
    if (alloc::IsEmpty(&inst) || inst.successorCount) continue;
    if (FAILED(hr = ScheduleSubtree(i, order.get(), &emitted, fast, scored))) return hr;
  }
  if (fast) fast->Finish();
  if (emitted != count) return S_OK;  // only empty instructions stay out; compaction left none
  hr = Reorder(*this, order.get(), count);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderProgram::MarkSubtree(std::uint32_t instruction, std::uint32_t* size, std::uint32_t tag) {
  PodArray<std::uint32_t> pending;
  if (!pending.Append(instruction)) return E_OUTOFMEMORY;
  while (!pending.Empty()) {
    IrInstruction& x = *instructions[pending.Back()];
    pending.PopBack();
    if (x.word14 == tag) continue;
    x.word14 = tag;
    ++*size;
    if (!pending.Append(x.predecessors, x.predecessorCount)) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT ShaderProgram::SubtreeScore(std::uint32_t instruction, std::uint32_t* size, std::int32_t* score,
                                    std::uint32_t tag) {
  // The walks are quadratic on long chains: they serve programs too large
  // for SubtreeScores within the compile's work budget.
  const std::uint32_t before = *size;
  HRESULT hr = MarkSubtree(instruction, size, tag);
  if (SUCCEEDED(hr)) hr = ChargeWork(std::uint64_t{*size - before} + instructions.Count());
  if (FAILED(hr)) return hr;
  std::int64_t sum = *score;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction& y = *instructions[i];
    if (y.pinned || y.predecessorCount == 0) continue;
    const bool marked = y.word14 == tag;
    for (std::uint32_t k = 0; k < y.predecessorCount; ++k) {
      const IrInstruction& x = *instructions[y.predecessors[k]];
      if (marked && x.pinned) sum -= kScoreStep;
      if (!marked && x.word14 == tag) sum += kScoreStep;
    }
  }
  *score = static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX));
  return S_OK;
}

HRESULT ShaderProgram::ScheduleSubtree(std::uint32_t instruction, std::uint32_t* order, std::uint32_t* count,
                                       SubtreeScores* scores, bool scored) {
  // The recursion of a depth-first walk, on a stack of frames: entering an
  // instruction, scheduling its inputs, then following the readers that
  // became ready.
  enum Phase : std::uint32_t { kEnter, kInputs, kReaders };
  struct Frame {
    std::uint32_t instruction, phase, next;
  };
  PodArray<Frame> stack;
  if (!stack.Append(Frame{instruction, kEnter, 0})) return E_OUTOFMEMORY;
  while (!stack.Empty()) {
    const Frame frame = stack.Back();
    IrInstruction& inst = *instructions[frame.instruction];
    if (frame.phase == kEnter) {
      if (inst.pinned) {
        stack.PopBack();
        continue;
      }
      // Inputs are scored only to choose their order: a single one has none to choose.
      if (scored && inst.predecessorCount > 1) {
        for (std::uint32_t k = 0; k < inst.predecessorCount; ++k) {
          const std::uint32_t q = inst.predecessors[k];
          std::uint32_t size = 0;
          std::int32_t score = 0;
          const HRESULT hr = scores ? scores->Score(q, &size, &score) : SubtreeScore(q, &size, &score, q);
          if (FAILED(hr)) return hr;
          instructions[q]->orderKey =
              score / static_cast<std::int32_t>(std::min<std::uint32_t>(size, INT32_MAX - 1) + 1);
        }
        SortIndicesByComparator(CompareOrderKeys, inst.predecessors, inst.predecessorCount, this);
      }
      stack.Back() = Frame{frame.instruction, kInputs, 0};
      continue;
    }
    if (frame.phase == kInputs) {
      if (frame.next < inst.predecessorCount) {
        stack.Back().next++;
        if (!stack.Append(Frame{inst.predecessors[frame.next], kEnter, 0})) return E_OUTOFMEMORY;
        continue;
      }
      if (inst.pinned) {
        stack.PopBack();
        continue;
      }
      inst.pinned = 1;
      if (scores) scores->Scheduled(frame.instruction);
      order[(*count)++] = frame.instruction;
      stack.Back() = Frame{frame.instruction, kReaders, 0};
      continue;
    }
    if (frame.next >= inst.predecessorCount) {
      stack.PopBack();
      continue;
    }
    stack.Back().next++;
    // An input with exactly one reader left, whose inputs are all there:
    // that reader follows at once.
    const IrInstruction& input = *instructions[inst.predecessors[frame.next]];
    std::uint32_t waiting = kNoIndex, unscheduled = 0;
    for (std::uint32_t k = 0; k < input.successorCount; ++k) {
      if (instructions[input.successors[k]]->pinned) continue;
      waiting = input.successors[k];
      ++unscheduled;
    }
    if (unscheduled != 1) continue;
    const IrInstruction& reader = *instructions[waiting];
    bool ready = true;
    for (std::uint32_t k = 0; k < reader.predecessorCount && ready; ++k)
      ready = instructions[reader.predecessors[k]]->pinned != 0;
    if (ready && !stack.Append(Frame{waiting, kEnter, 0})) return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace gxl::shader
