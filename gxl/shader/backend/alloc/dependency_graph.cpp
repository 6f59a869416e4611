#include "gxl/shader/backend/alloc/dependency_graph.h"
#include "gxl/shader/backend/ir/work_rates.h"

#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/alloc/guards.h"

namespace gxl::shader {

namespace {

constexpr std::uint8_t kDefined = 1, kRead = 2, kCounted = kDefined | kRead;

}  // namespace

std::int32_t CompareUnsigned(std::uint32_t a, std::uint32_t b, const void*) { return a < b ? -1 : (a > b ? 1 : 0); }

void SortUniqueIndices(std::uint32_t* indices, std::uint32_t* count) {
  std::sort(indices, indices + *count);  // equal entries are alike: any sort leaves the same list
  *count = static_cast<std::uint32_t>(std::unique(indices, indices + *count) - indices);
}

std::int32_t ComparePressure(std::uint32_t a, std::uint32_t b, const void* context) {
  const auto& graph = *static_cast<const DependencyGraph*>(context);
  const std::uint32_t x = graph.PressureBefore(a), y = graph.PressureBefore(b);
  if (x != y) return x > y ? -1 : 1;
  return CompareUnsigned(graph.InstructionAt(a), graph.InstructionAt(b), nullptr);
}

DependencyGraph::DependencyGraph(ShaderProgram* p) : ProgramPass(p), m_workLimit(~std::uint64_t{0}) {}

DependencyGraph::~DependencyGraph() = default;

bool DependencyGraph::RecordReads(std::uint32_t, std::uint32_t value) {
  const ShaderProgram& p = *program;
  for (std::uint32_t steps = 0; value != kNoIndex && steps <= m_values; ++steps) {
    value = p.ResolveAlias(value);
    const IrValue* v = p.values[value];
    if (!v) break;
    if (!(alloc::BankTypeOf(p, value) & kBankInitialised)) {
      if (!m_scratch.Append(value)) return false;
      m_tracked[value] |= kRead;
    }
    value = v->relativeIndex;
  }
  return true;
}

bool DependencyGraph::RecordDefinitions(std::uint32_t instruction, std::uint32_t value) {
  const IrValue* v = program->values[value];
  if (!v) return true;
  if (!(alloc::BankTypeOf(*program, value) & kBankOutput)) {
    if (!m_definitions.Append(value)) return false;
    m_tracked[value] |= kDefined;
  }
  return v->predicate == kNoIndex || RecordReads(instruction, v->predicate);
}

// Each list sorted and unique, appended to its array with its start and count.
static bool AppendList(PodArray<std::uint32_t>& scratch, PodArray<std::uint32_t>& list, std::uint32_t& start,
                       std::uint32_t& count) {
  auto n = static_cast<std::uint32_t>(scratch.Size());
  SortUniqueIndices(scratch.Data(), &n);
  start = static_cast<std::uint32_t>(list.Size());
  count = n;
  return list.Append(scratch.Data(), n);
}

HRESULT DependencyGraph::Collect() {
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const IrInstruction* inst = m_table[i];
    m_scratch.Clear();
    m_definitions.Clear();
    if (!alloc::IsEmpty(inst)) {
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (!RecordReads(i, inst->arguments[a])) return E_OUTOFMEMORY;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r)
        if (!RecordDefinitions(i, inst->results[r])) return E_OUTOFMEMORY;
    }
    if (!AppendList(m_scratch, m_readList, m_readStart[i], m_readCount[i]) ||
        !AppendList(m_definitions, m_definitionList, m_definitionStart[i], m_definitionCount[i]))
      return E_OUTOFMEMORY;
  }
  return S_OK;
}

void DependencyGraph::MeasurePressure(std::uint64_t* total, std::uint32_t* peak) { Measure(total, peak, true); }

void DependencyGraph::Measure(std::uint64_t* total, std::uint32_t* peak, bool base) {
  const std::uint32_t* reads = m_readList.Data();
  const std::uint32_t* definitions = m_definitionList.Data();
  std::uint32_t* last = base ? m_lastPosition.get() : m_trialPosition.get();
  for (std::uint32_t position = 0; position < m_count; ++position) {
    const std::uint32_t i = m_order[position];
    for (std::uint32_t k = 0; k < m_readCount[i]; ++k) last[reads[m_readStart[i] + k]] = position;
  }
  std::uint64_t sum = 0;
  std::uint32_t highest = 0;
  std::int64_t live = 0;
  for (std::uint32_t position = 0; position < m_count; ++position) {
    const std::uint32_t i = m_order[position];
    sum += static_cast<std::uint64_t>(live);
    highest = std::max(highest, static_cast<std::uint32_t>(live));
    std::int32_t delta = 0;
    for (std::uint32_t k = 0; k < m_definitionCount[i]; ++k)
      delta += m_tracked[definitions[m_definitionStart[i] + k]] == kCounted;
    for (std::uint32_t k = 0; k < m_readCount[i]; ++k) {
      const std::uint32_t v = reads[m_readStart[i] + k];
      if (last[v] != position) continue;
      if (base) m_lastReader[v] = i;
      delta -= m_tracked[v] == kCounted;
    }
    if (base) {
      m_before[position] = static_cast<std::uint32_t>(live);
      m_delta[i] = delta;
    }
    live += delta;
  }
  if (total) *total = sum;
  if (peak) *peak = highest;
  if (base && !program->referenceSearches) {
    // The running measurement starts from this one.
    m_running = true;
    std::fill(m_runCount.get(), m_runCount.get() + m_values + 1, 0u);
    for (std::uint32_t position = 0; position < m_count && m_running; ++position) {
      m_running = m_before[position] <= m_values;
      if (m_running) ++m_runCount[m_before[position]];
    }
    std::copy(m_before.get(), m_before.get() + m_count, m_runBefore.get());
    std::copy(m_lastPosition.get(), m_lastPosition.get() + m_values, m_runLast.get());
    m_runValues.Clear();
    m_runTotal = sum;
    m_runPeak = highest;
    m_touchLo = m_count;
    m_touchHi = 0;
  }
}

void DependencyGraph::Remeasure(std::uint32_t from, std::uint32_t to) {
  if (!m_running) return;
  const std::uint32_t* reads = m_readList.Data();
  // The values last read inside the range are last read where the range
  // now reads them last; every other last read stays where it was. Walking
  // the range backwards, the first read met of such a value is its last:
  // one pass over the reads finds them and counts the values each position
  // ends.
  ++m_runStamp;
  for (std::uint32_t position = to; position-- > from;) {
    const std::uint32_t i = m_order[position];
    std::uint32_t ends = 0;
    for (std::uint32_t k = 0; k < m_readCount[i]; ++k) {
      const std::uint32_t v = reads[m_readStart[i] + k];
      if (m_runMark[v] == m_runStamp || m_tracked[v] != kCounted || m_runLast[v] < from || m_runLast[v] >= to)
        continue;
      m_runMark[v] = m_runStamp;
      if (!m_runValues.Append(v)) {
        m_running = false;
        return;
      }
      m_runLast[v] = position;
      ++ends;
    }
    m_runEnds[position] = ends;
  }
  // The pressure before the range, and so after it, is unchanged.
  std::int64_t live = m_runBefore[from];
  for (std::uint32_t position = from; position < to; ++position) {
    if (live < 0 || live > static_cast<std::int64_t>(m_values)) {
      m_running = false;
      return;
    }
    const std::uint32_t before = static_cast<std::uint32_t>(live);
    m_runTotal += before;
    m_runTotal -= m_runBefore[position];
    --m_runCount[m_runBefore[position]];
    ++m_runCount[before];
    m_runPeak = std::max(m_runPeak, before);
    m_runBefore[position] = before;
    live += std::int64_t{m_definedCount[m_order[position]]} - m_runEnds[position];
  }
  while (m_runPeak > 0 && m_runCount[m_runPeak] == 0) --m_runPeak;
  m_touchLo = std::min(m_touchLo, from);
  m_touchHi = std::max(m_touchHi, to);
}

void DependencyGraph::ResetRunning() {
  if (!m_running) return;
  for (std::uint32_t position = m_touchLo; position < m_touchHi; ++position) {
    --m_runCount[m_runBefore[position]];
    m_runBefore[position] = m_before[position];
    ++m_runCount[m_runBefore[position]];
  }
  for (std::size_t k = 0; k < m_runValues.Size(); ++k) m_runLast[m_runValues[k]] = m_lastPosition[m_runValues[k]];
  m_runValues.Clear();
  m_runTotal = m_bestTotal;
  m_runPeak = m_bestPeak;
  m_touchLo = m_count;
  m_touchHi = 0;
}

bool DependencyGraph::AddReads(PodArray<std::uint32_t>& list, std::uint32_t* mark, std::uint32_t stamp,
                               std::uint32_t from, std::uint32_t to) {
  const std::uint32_t* reads = m_readList.Data();
  for (std::uint32_t position = from; position < to; ++position) {
    const std::uint32_t i = m_order[position];
    for (std::uint32_t k = 0; k < m_readCount[i]; ++k) {
      const std::uint32_t v = reads[m_readStart[i] + k];
      if (mark[v] == stamp) continue;
      mark[v] = stamp;
      if (!list.Append(v)) return false;
    }
  }
  return true;
}

void DependencyGraph::ReverseRange(std::uint32_t from, std::uint32_t to) {
  std::reverse(m_order.get() + from, m_order.get() + to);
}

void DependencyGraph::StampDependences(std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t position = from; position < to; ++position) {
    const IrInstruction* inst = m_table[m_order[position]];
    for (std::uint32_t k = 0; k < inst->predecessorCount; ++k) m_instructionStamp[inst->predecessors[k]] = m_stamp;
    for (std::uint32_t k = 0; k < inst->successorCount; ++k) m_instructionStamp[inst->successors[k]] = m_stamp;
  }
}

bool DependencyGraph::Improved() {
  std::uint64_t total = m_runTotal;
  std::uint32_t peak = m_runPeak;
  if (program->referenceSearches || !m_running) Measure(&total, &peak, false);
  return (total < m_bestTotal && peak <= m_bestPeak) || (total <= m_bestTotal && peak < m_bestPeak);
}

HRESULT DependencyGraph::TryMove(std::uint32_t position) {
  if (program->referenceSearches) return TryMoveInFull(position);
  const std::uint32_t first = m_order[position];
  const IrInstruction& inst = *m_table[first];
  if (m_barrier[first] || inst.resultCount == 0) return 1;
  const ShaderProgram& p = *program;
  const IrValue* lead = p.values[inst.results[0]];
  if (!lead) return 1;
  const std::uint32_t guard = lead->predicate, sense = lead->predicateSense;
  const std::uint32_t* reads = m_readList.Data();

  // What TryMoveInFull keeps per value, known here without a pass over the
  // block's reads: at the start of every scan the values marked are the
  // block's reads, each with first use 1 when the block reads it last, else
  // 0; a scan changes only the first use of the values an instruction it
  // jumps reads last (to -1). So the benefit test needs two counts, taken
  // while scanning. The block and its dependences stay the same across a
  // swap, and so do their marks and its delta.
  ++m_attempt;
  std::uint32_t lo = position, hi = position + 1;  // the block: order[lo, hi)
  m_inBlock[first] = m_attempt;
  for (std::uint32_t k = 0; k < m_readCount[first]; ++k) m_blockMark[reads[m_readStart[first] + k]] = m_attempt;
  auto blockRead = [&](std::uint32_t v) { return m_blockMark[v] == m_attempt; };
  auto lastReadInBlock = [&](std::uint32_t v) { return m_inBlock[m_lastReader[v]] == m_attempt; };
  ++m_stamp;
  StampDependences(lo, hi);
  std::int64_t blockDelta = m_delta[first];
  bool swapped = false;
  while (blockDelta != 0) {
    // A block that defines more than it ends moves down, else up; the range
    // to jump runs outward up to and including the next instruction of the
    // block's own region.
    const bool down = blockDelta > 0;
    std::uint32_t jlo = down ? hi : lo, jhi = jlo;
    std::int64_t jumpedDelta = 0;
    std::uint32_t endedThere = 0, endedInBlock = 0;  // block reads read last by the range; range reads by the block
    bool dependent = false, leaves = false;
    ++m_scan;
    while (down ? jhi < m_count : jlo > 0) {
      const std::uint32_t j = m_order[down ? jhi : jlo - 1];
      const bool barrier = m_barrier[j] != 0;
      // An instruction of the block's own region ends the scan, one outside the region ends the attempt.
      const bool own = !barrier && m_leadPredicate[j] == guard && m_leadSense[j] == sense;
      if (!Spend(1) || (!barrier && !own &&
                        (!m_hasLead[j] || m_leadPredicate[j] == guard || m_leadPredicate[j] == kNoIndex ||
                         !alloc::InRegion(p, m_leadPredicate[j], guard, sense)))) {
        leaves = true;
        break;
      }
      jumpedDelta += m_delta[j];
      dependent = dependent || m_instructionStamp[j] == m_stamp;
      for (std::uint32_t k = 0; k < m_readCount[j]; ++k) {
        const std::uint32_t v = reads[m_readStart[j] + k];
        if (!blockRead(v)) continue;
        if (m_jumpMark[v] != m_scan) {
          m_jumpMark[v] = m_scan;
          endedInBlock += lastReadInBlock(v);
        }
        endedThere += m_lastReader[v] == j;
      }
      if (down)
        ++jhi;
      else
        --jlo;
      if (own) break;
    }
    if (leaves || jlo == jhi) break;
    const bool blocked = dependent || (down ? blockDelta - endedThere < jumpedDelta
                                            : blockDelta > jumpedDelta - static_cast<std::int64_t>(endedInBlock));
    if (blocked) {
      // The range joins the block, which goes on from beyond it.
      for (std::uint32_t k = jlo; k < jhi; ++k) {
        const std::uint32_t i = m_order[k];
        m_inBlock[i] = m_attempt;
        for (std::uint32_t r = 0; r < m_readCount[i]; ++r) m_blockMark[reads[m_readStart[i] + r]] = m_attempt;
      }
      lo = std::min(lo, jlo);
      hi = std::max(hi, jhi);
      blockDelta += jumpedDelta;
      StampDependences(jlo, jhi);
      continue;
    }
    // Block and range change places.
    const std::uint32_t from = down ? lo : jlo, to = down ? jhi : hi;
    const std::uint32_t size = hi - lo;
    if (!Spend(to - from)) break;
    ReverseRange(from, to);
    if (down) {
      ReverseRange(from, to - size);
      ReverseRange(to - size, to);
      lo = to - size;
      hi = to;
    } else {
      ReverseRange(from, from + size);
      ReverseRange(from + size, to);
      lo = from;
      hi = from + size;
    }
    swapped = true;
    Remeasure(from, to);
    if (Improved()) return 0;
  }
  if (swapped) {
    // Only what the running measurement saw touched differs from the saved order.
    const std::uint32_t begin = m_running ? m_touchLo : 0, end = m_running ? m_touchHi : m_count;
    std::copy(m_savedOrder.get() + begin, m_savedOrder.get() + end, m_order.get() + begin);
    ResetRunning();
  }
  return 1;
}

HRESULT DependencyGraph::TryMoveInFull(std::uint32_t position) {
  const std::uint32_t first = m_order[position];
  const IrInstruction& inst = *m_table[first];
  if (m_barrier[first] || inst.resultCount == 0) return 1;
  const ShaderProgram& p = *program;
  const IrValue* lead = p.values[inst.results[0]];
  if (!lead) return 1;
  const std::uint32_t guard = lead->predicate, sense = lead->predicateSense;
  const std::uint32_t* reads = m_readList.Data();

  // The deltas and last readers stay those of the order the round started
  // from, so the direction of the block changes only when it grows.
  ++m_attempt;
  std::uint32_t lo = position, hi = position + 1;  // the block: order[lo, hi)
  m_inBlock[first] = m_attempt;
  m_blockReads.Clear();
  if (!AddReads(m_blockReads, m_blockMark.get(), m_attempt, lo, hi)) return E_OUTOFMEMORY;
  auto lastReadInBlock = [&](std::uint32_t v) { return m_inBlock[m_lastReader[v]] == m_attempt; };
  bool swapped = false;
  for (bool attempt = true; attempt;) {
    // (a) The block as it now stands.
    ++m_stamp;
    StampDependences(lo, hi);
    std::int64_t blockDelta = 0;
    for (std::uint32_t k = lo; k < hi; ++k) blockDelta += m_delta[m_order[k]];
    for (std::size_t k = 0; k < m_blockReads.Size(); ++k) {
      const std::uint32_t v = m_blockReads[k];
      m_valueStamp[v] = m_stamp;
      m_firstUse[v] = lastReadInBlock(v) ? 1 : 0;
    }
    for (;;) {
      // (b) A block that defines more than it ends moves down, else up.
      if (blockDelta == 0) {
        attempt = false;
        break;
      }
      const bool down = blockDelta > 0;
      // (c) The range to jump: outward up to and including the next
      // instruction of the block's own region.
      std::uint32_t jlo = down ? hi : lo, jhi = jlo;
      std::int64_t jumpedDelta = 0;
      bool dependent = false, leaves = false;
      m_jumpedReads.Clear();
      ++m_scan;
      while (down ? jhi < m_count : jlo > 0) {
        const std::uint32_t j = m_order[down ? jhi : jlo - 1];
        const IrInstruction& other = *m_table[j];
        const bool barrier = m_barrier[j] != 0;
        if (!Spend(1) ||
            (!barrier && (other.resultCount == 0 || !alloc::InRegion(p, other.results[0], guard, sense)))) {
          leaves = true;
          break;
        }
        if (!m_jumpedReads.Append(reads + m_readStart[j], m_readCount[j])) return E_OUTOFMEMORY;
        jumpedDelta += m_delta[j];
        dependent = dependent || m_instructionStamp[j] == m_stamp;
        for (std::uint32_t k = 0; k < m_readCount[j]; ++k) {
          const std::uint32_t v = reads[m_readStart[j] + k];
          const bool last = m_lastReader[v] == j;
          if (m_valueStamp[v] != m_stamp || last) {
            m_valueStamp[v] = m_stamp;
            m_firstUse[v] = last ? -1 : 0;
          }
        }
        if (down)
          ++jhi;
        else
          --jlo;
        const IrValue* r = barrier ? nullptr : p.values[other.results[0]];
        if (r && r->predicate == guard && r->predicateSense == sense) break;
      }
      // (d) Nothing to jump, or the region ends before the next instruction of it.
      if (leaves || jlo == jhi) {
        attempt = false;
        break;
      }
      if (jhi - jlo > 1) {
        auto n = static_cast<std::uint32_t>(m_jumpedReads.Size());
        SortUniqueIndices(m_jumpedReads.Data(), &n);
        m_jumpedReads.Truncate(n);
      }
      // (e) Whether the move can pay.
      bool blocked = dependent;
      if (!blocked) {
        std::int64_t t;
        if (down) {
          t = blockDelta;
          for (std::size_t k = 0; k < m_blockReads.Size(); ++k) t -= m_firstUse[m_blockReads[k]] == -1;
          blocked = t < jumpedDelta;
        } else {
          t = jumpedDelta;
          for (std::size_t k = 0; k < m_jumpedReads.Size(); ++k) t -= m_firstUse[m_jumpedReads[k]] == 1;
          blocked = blockDelta > t;
        }
      }
      if (blocked) {
        // (f) The range joins the block, which goes on from beyond it.
        for (std::uint32_t k = jlo; k < jhi; ++k) m_inBlock[m_order[k]] = m_attempt;
        lo = std::min(lo, jlo);
        hi = std::max(hi, jhi);
        if (!m_blockReads.Append(m_jumpedReads.Data(), m_jumpedReads.Size())) return E_OUTOFMEMORY;
        auto n = static_cast<std::uint32_t>(m_blockReads.Size());
        SortUniqueIndices(m_blockReads.Data(), &n);
        m_blockReads.Truncate(n);
        for (std::size_t k = 0; k < m_blockReads.Size(); ++k) {
          const std::uint32_t v = m_blockReads[k];
          m_valueStamp[v] = m_stamp;
          m_firstUse[v] = lastReadInBlock(v) ? 1 : 0;
        }
        blockDelta += jumpedDelta;
        StampDependences(jlo, jhi);
        continue;
      }
      // (g) Block and range change places.
      const std::uint32_t from = down ? lo : jlo, to = down ? jhi : hi;
      const std::uint32_t size = hi - lo;
      if (!Spend(to - from)) {
        attempt = false;
        break;
      }
      ReverseRange(from, to);
      if (down) {
        ReverseRange(from, to - size);
        ReverseRange(to - size, to);
        lo = to - size;
        hi = to;
      } else {
        ReverseRange(from, from + size);
        ReverseRange(from + size, to);
        lo = from;
        hi = from + size;
      }
      swapped = true;
      if (Improved()) return 0;
      break;  // back to (a) at the new place
    }
  }
  if (swapped) {
    std::copy(m_savedOrder.get(), m_savedOrder.get() + m_count, m_order.get());
    ResetRunning();
  }
  return 1;
}

HRESULT DependencyGraph::ImproveOnce() {
  if (!Spend(m_count)) return 1;
  MeasurePressure(&m_bestTotal, &m_bestPeak);
  std::copy(m_order.get(), m_order.get() + m_count, m_savedOrder.get());
  if (program->referenceSearches || !SortCandidates()) {
    for (std::uint32_t k = 0; k < m_count; ++k) m_candidates[k] = k;
    SortIndicesByComparator(ComparePressure, m_candidates.get(), m_count, this);
  }
  for (std::uint32_t k = 0; k < m_count && !m_spent; ++k) {
    const HRESULT hr = TryMove(m_candidates[k]);
    if (hr != 1) return hr;
  }
  return 1;
}

bool DependencyGraph::SortCandidates() {
  // ComparePressure's order by counting: the pressures are at most the value
  // count, and taking the instructions in index order keeps each pressure's
  // positions in the order of their instructions.
  std::uint32_t highest = 0;
  for (std::uint32_t k = 0; k < m_count; ++k) highest = std::max(highest, m_before[k]);
  if (highest > m_values) return false;
  std::uint32_t* start = m_levelStart.get();
  std::fill(start, start + highest + 2, 0u);
  for (std::uint32_t k = 0; k < m_count; ++k) {
    m_positionOf[m_order[k]] = k;
    ++start[highest - m_before[k] + 1];
  }
  for (std::uint32_t level = 1; level <= highest + 1; ++level) start[level] += start[level - 1];
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const std::uint32_t position = m_positionOf[i];
    m_candidates[start[highest - m_before[position]]++] = position;
  }
  return true;
}

bool DependencyGraph::Spend(std::uint64_t positions) {
  if (m_spent || positions > m_work) {
    m_spent = true;
    return false;
  }
  m_work -= positions;
  return true;
}

HRESULT DependencyGraph::Run(std::uint32_t mode) {
  ShaderProgram& p = *program;
  HRESULT hr = p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  m_count = p.instructions.Count();
  m_values = p.values.Count();
  m_table = opt::NewArray<IrInstruction*>(m_count);
  m_readStart = opt::NewArray<std::uint32_t>(m_count);
  m_readCount = opt::NewArray<std::uint32_t>(m_count);
  m_definitionStart = opt::NewArray<std::uint32_t>(m_count);
  m_definitionCount = opt::NewArray<std::uint32_t>(m_count);
  m_delta = opt::NewArray<std::int32_t>(m_count);
  m_before = opt::NewArray<std::uint32_t>(m_count);
  m_order = opt::NewArray<std::uint32_t>(m_count);
  m_savedOrder = opt::NewArray<std::uint32_t>(m_count);
  m_candidates = opt::NewArray<std::uint32_t>(m_count);
  m_barrier = opt::NewArray<std::uint8_t>(m_count);
  m_instructionStamp = opt::NewArray<std::uint32_t>(m_count);
  m_tracked = opt::NewArray<std::uint8_t>(m_values);
  m_lastPosition = opt::NewArray<std::uint32_t>(m_values);
  m_valueStamp = opt::NewArray<std::uint32_t>(m_values);
  m_firstUse = opt::NewArray<std::int8_t>(m_values);
  m_lastReader = opt::NewArray<std::uint32_t>(m_values);
  m_trialPosition = opt::NewArray<std::uint32_t>(m_values);
  m_inBlock = opt::NewArray<std::uint32_t>(m_count);
  m_blockMark = opt::NewArray<std::uint32_t>(m_values);
  m_jumpMark = opt::NewArray<std::uint32_t>(m_values);
  m_runLast = opt::NewArray<std::uint32_t>(m_values);
  m_runMark = opt::NewArray<std::uint32_t>(m_values);
  m_runCount = opt::NewArray<std::uint32_t>(std::size_t{m_values} + 1);
  m_levelStart = opt::NewArray<std::uint32_t>(std::size_t{m_values} + 2);
  m_positionOf = opt::NewArray<std::uint32_t>(m_count);
  m_runBefore = opt::NewArray<std::uint32_t>(m_count);
  m_definedCount = opt::NewArray<std::uint32_t>(m_count);
  m_runEnds = opt::NewArray<std::uint32_t>(m_count);
  m_leadPredicate = opt::NewArray<std::uint32_t>(m_count);
  m_leadSense = opt::NewArray<std::uint32_t>(m_count);
  m_hasLead = opt::NewArray<std::uint8_t>(m_count);
  if (!m_lastReader || !m_trialPosition || !m_inBlock || !m_blockMark || !m_jumpMark || !m_runLast || !m_runMark ||
      !m_runCount || !m_runBefore || !m_definedCount || !m_runEnds || !m_leadPredicate || !m_leadSense ||
      !m_hasLead || !m_levelStart || !m_positionOf)
    return E_OUTOFMEMORY;
  if (!m_table || !m_readStart || !m_readCount || !m_definitionStart || !m_definitionCount || !m_delta || !m_before ||
      !m_order || !m_savedOrder || !m_candidates || !m_barrier || !m_instructionStamp || !m_tracked ||
      !m_lastPosition || !m_valueStamp || !m_firstUse)
    return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    m_table[i] = p.instructions[i];
    m_order[i] = i;
    m_barrier[i] = alloc::IsEmpty(m_table[i]) || IsSpecialOperation(m_table[i]);
    const IrValue* lead = m_table[i]->resultCount ? p.values[m_table[i]->results[0]] : nullptr;
    m_hasLead[i] = lead != nullptr;
    m_leadPredicate[i] = lead ? lead->predicate : kNoIndex;
    m_leadSense[i] = lead ? lead->predicateSense : 0;
  }
  if (FAILED(hr = Collect())) return hr;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    m_definedCount[i] = 0;
    for (std::uint32_t k = 0; k < m_definitionCount[i]; ++k)
      m_definedCount[i] += m_tracked[m_definitionList[m_definitionStart[i] + k]] == kCounted;
  }
  m_stamp = m_attempt = m_scan = m_runStamp = 0;
  if (mode == 0) return S_OK;
  // Each round lowers the total or the peak, but the total may be large: the
  // rounds stop at a number that grows with the program, far above what
  // real programs take (ntsc's 321 instructions: 271 rounds). The positions
  // the rounds scan and re-measure are bounded as above.
  // The compile pays for the positions scanned; with less left than the
  // bound, the rounds stop sooner and keep the best order found.
  const std::uint64_t affordable = p.WorkRemaining() / workrate::kPositionsPerUnit;
  m_work = m_workGiven = std::min({m_workLimit, ImproveWorkBound(m_count), affordable});
  m_spent = false;
  for (std::uint64_t rounds = 4 * std::uint64_t{m_count} + 256;
       rounds-- > 0 && !m_spent && (hr = ImproveOnce()) == S_OK;) {
  }
  if (FAILED(hr)) return hr;
  if (FAILED(hr = p.ChargeWork((m_workGiven - m_work) / workrate::kPositionsPerUnit))) return hr;
  for (std::uint32_t k = 0; k < m_count; ++k) p.instructions.Slot(k) = m_table[m_order[k]];
  return S_OK;
}

}  // namespace gxl::shader
