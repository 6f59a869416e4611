#include "gxl/shader/backend/alloc/fit_bound.h"

#include <algorithm>

#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/ir/def_use_walk.h"

namespace gxl::shader {

namespace {

std::unique_ptr<std::uint32_t[]> Filled(std::size_t n, std::uint32_t value) {
  auto a = opt::NewArray<std::uint32_t>(n);
  if (a) std::fill(a.get(), a.get() + n, value);
  return a;
}

// Offsets from counts, in place; the total.
std::uint32_t Starts(std::uint32_t* counts, std::size_t n) {
  std::uint32_t total = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t c = counts[k];
    counts[k] = total;
    total += c;
  }
  counts[n] = total;
  return total;
}

}  // namespace

HRESULT FitBound::Prepare(const ShaderProgram& p, const RegisterAllocatorContext& context, IrInstruction* const* table,
                          const std::uint32_t* order, std::uint32_t count) {
  m_usable = false;
  m_limit = context.Limit();
  const std::uint32_t values = p.values.Count(), vregs = context.VirtualCount();
  for (std::uint32_t k = 0; k < count; ++k)
    if (!alloc::IsEmpty(table[order[k]]) && IsSpecialOperation(table[order[k]])) return S_OK;
  for (std::uint32_t i = 0; i < values; ++i)
    if (p.values[i] && p.values[i]->predicate != kNoIndex) return S_OK;

  // The values placed, by virtual register; one to a component.
  m_valueStart = opt::NewArray<std::uint32_t>(std::size_t{vregs} + 1);
  auto slot = Filled(std::size_t{vregs} * 4, kNoIndex);
  auto place = Filled(values, kNoIndex);  // value -> its place in m_values
  if (!m_valueStart || !slot || !place) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < values; ++i) {
    const std::uint32_t vreg = context.PlacedRegister(i);
    if (vreg == kNoIndex) continue;
    std::uint32_t& owner = slot[std::size_t{vreg} * 4 + p.values[i]->component];
    if (owner != kNoIndex) return S_OK;  // a register built up in place
    owner = i;
    ++m_valueStart[vreg];
  }
  const std::uint32_t placed = Starts(m_valueStart.get(), vregs);
  m_values = opt::NewArray<std::uint32_t>(placed);
  auto fill = opt::NewArray<std::uint32_t>(std::size_t{vregs} + 1);
  if (!m_values || !fill) return E_OUTOFMEMORY;
  std::copy(m_valueStart.get(), m_valueStart.get() + vregs + 1, fill.get());
  for (std::uint32_t i = 0; i < values; ++i) {
    const std::uint32_t vreg = context.PlacedRegister(i);
    if (vreg == kNoIndex) continue;
    place[i] = fill[vreg]++;
    m_values[place[i]] = i;
  }

  // A bank read through an index is live over its whole window of such
  // reads: no plain spans for values that are, or stand for, placed ones.
  auto relative = opt::NewArray<std::uint8_t>(std::size_t{p.banks.Count()} + 1);
  if (!relative) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < count; ++k)
    defuse::VisitInstruction(
        p, k, [](std::uint32_t) {}, [](std::uint32_t) {},
        [&](std::uint32_t bank) {
          if (bank < p.banks.Count()) relative[bank] = 1;
        },
        [](std::uint32_t) {});
  for (std::uint32_t i = 0; i < values; ++i) {
    const IrValue* v = p.values[i];
    if (v && v->bank < p.banks.Count() && relative[v->bank] && context.PlacedRegister(p.ResolveAlias(i)) != kNoIndex)
      return S_OK;
  }
  // The assignment places what instructions read at their arguments; an
  // index a result is written through is read, but placed only at the end.
  for (std::uint32_t k = 0; k < count; ++k) {
    const IrInstruction* inst = table[order[k]];
    if (alloc::IsEmpty(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = p.values[inst->results[r]];
      for (std::uint32_t index = v ? v->relativeIndex : kNoIndex, steps = 0; index != kNoIndex && steps <= values;
           ++steps) {
        const std::uint32_t resolved = p.ResolveAlias(index);
        if (context.PlacedRegister(resolved) != kNoIndex) return S_OK;
        index = p.values[resolved] ? p.values[resolved]->relativeIndex : kNoIndex;
      }
    }
  }

  // Who defines and reads each placed value as the use analysis counts it,
  // and which virtual registers each instruction touches: counted, then filled.
  m_defineStart = opt::NewArray<std::uint32_t>(std::size_t{placed} + 1);
  m_readStart = opt::NewArray<std::uint32_t>(std::size_t{placed} + 1);
  m_touchStart = opt::NewArray<std::uint32_t>(std::size_t{count} + 1);
  auto stamp = Filled(vregs, 0);
  if (!m_defineStart || !m_readStart || !m_touchStart || !stamp) return E_OUTOFMEMORY;
  m_stampNow = 0;
  for (int round = 0; round < 2; ++round) {
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t t = order[k];
      ++m_stampNow;
      auto touch = [&](std::uint32_t at) {
        const std::uint32_t vreg = context.PlacedRegister(m_values[at]);
        if (stamp[vreg] == m_stampNow) return;
        stamp[vreg] = m_stampNow;
        if (round) m_touches[m_touchStart[t]++] = vreg;
        else ++m_touchStart[t];
      };
      defuse::VisitInstruction(
          p, k, [](std::uint32_t) {},
          [&](std::uint32_t value) {
            if (place[value] == kNoIndex) return;
            if (round) m_reads[m_readStart[place[value]]++] = t;
            else ++m_readStart[place[value]];
            touch(place[value]);
          },
          [](std::uint32_t) {},
          [&](std::uint32_t value) {
            if (place[value] == kNoIndex) return;
            if (round) m_defines[m_defineStart[place[value]]++] = t;
            else ++m_defineStart[place[value]];
            touch(place[value]);
          });
    }
    if (round == 0) {
      m_defines = opt::NewArray<std::uint32_t>(Starts(m_defineStart.get(), placed));
      m_reads = opt::NewArray<std::uint32_t>(Starts(m_readStart.get(), placed));
      m_touches = opt::NewArray<std::uint32_t>(Starts(m_touchStart.get(), count));
      if (!m_defines || !m_reads || !m_touches) return E_OUTOFMEMORY;
    }
  }
  // The fill moved each start to the next list's: move them back.
  for (std::uint32_t k = placed; k-- > 0;) {
    m_defineStart[k + 1] = m_defineStart[k];
    m_readStart[k + 1] = m_readStart[k];
  }
  m_defineStart[0] = m_readStart[0] = 0;
  for (std::uint32_t k = count; k-- > 0;) m_touchStart[k + 1] = m_touchStart[k];
  m_touchStart[0] = 0;

  m_count = count;
  m_position = opt::NewArray<std::uint32_t>(count);
  m_active = opt::NewArray<std::uint32_t>(vregs);
  auto slotOf = Filled(vregs, kNoIndex);
  if (!m_position || !m_active || !slotOf) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < count; ++k) m_position[order[k]] = k;
  m_activeCount = 0;
  for (std::uint32_t r = 0; r < vregs; ++r)
    if (m_valueStart[r] != m_valueStart[r + 1]) slotOf[r] = m_activeCount, m_active[m_activeCount++] = r;
  // The touches by the registers' slots from here on.
  for (std::uint32_t k = 0; k < m_touchStart[count]; ++k) m_touches[k] = slotOf[m_touches[k]];
  m_place = std::unique_ptr<Place[]>(new (std::nothrow) Place[m_activeCount ? m_activeCount : 1]);
  m_pass = opt::NewArray<std::uint32_t>(m_activeCount);
  m_blockers = Filled(m_activeCount, 0);
  m_overlaps = opt::NewArray<std::uint32_t>(m_activeCount);
  m_stamp = Filled(m_activeCount, 0);
  if (!m_place || !m_pass || !m_blockers || !m_overlaps || !m_stamp) return E_OUTOFMEMORY;
  std::uint32_t mostOverlaps = 0;
  for (std::uint32_t k = 0; k < m_activeCount; ++k) {
    const std::uint32_t r = m_active[k];
    m_overlaps[k] = context.OverlapCount(r);
    mostOverlaps = std::max(mostOverlaps, m_overlaps[k]);
    // Passes 0-3 place the widths 4 down to 1 at their reads; what nothing
    // reads comes after them all.
    bool read = false;
    for (std::uint32_t v = m_valueStart[r]; v < m_valueStart[r + 1] && !read; ++v)
      read = m_readStart[v] != m_readStart[v + 1];
    m_pass[k] = read ? 4 - context.PlacementWidth(r) : 4;
  }
  m_histogramSize = m_activeCount + mostOverlaps + 1;
  m_histogram = opt::NewArray<std::uint32_t>(m_histogramSize);
  if (!m_histogram) return E_OUTOFMEMORY;
  const HRESULT hr = Recount();
  m_usable = SUCCEEDED(hr);
  return hr;
}

void FitBound::Measure(std::uint32_t slot) {
  // The earliest definition begins the range (none: it is live from the
  // start); the latest read or definition ends it, a definition at the
  // instruction after it (by a key of 2 x position, + 1 for a definition).
  const std::uint32_t vreg = m_active[slot];
  std::uint32_t begin = kNoIndex, key = 0, read = 0;
  bool fromStart = false, ended = false;
  for (std::uint32_t k = m_valueStart[vreg]; k < m_valueStart[vreg + 1]; ++k) {
    if (m_defineStart[k] == m_defineStart[k + 1]) fromStart = true;
    for (std::uint32_t d = m_defineStart[k]; d < m_defineStart[k + 1]; ++d) {
      const std::uint32_t at = m_position[m_defines[d]];
      begin = std::min(begin, at);
      if (!ended || 2 * at + 1 > key) key = 2 * at + 1, ended = true;
    }
    for (std::uint32_t r = m_readStart[k]; r < m_readStart[k + 1]; ++r) {
      const std::uint32_t at = m_position[m_reads[r]];
      if (!ended || 2 * at > key) key = 2 * at, ended = true;
      read = std::max(read, at);
    }
  }
  if (fromStart || begin == kNoIndex) begin = 0;
  Place& place = m_place[slot];
  place.begin = begin;
  place.read = read;
  place.last = key / 2;
  place.add = key % 2;
  // A range from the start that no later instruction ends reaches the first one.
  if (!ended || place.End() <= begin) place.last = begin, place.add = 1;
}

bool FitBound::Blocks(std::uint32_t u, const Place& a, std::uint32_t v, const Place& b) const {
  if (!(a.begin < b.End() && b.begin < a.End())) return false;
  // Within a pass the walk goes from the last instruction back; reads at
  // the same instruction may go either way, and the unread ones in any order.
  return m_pass[u] < m_pass[v] || (m_pass[u] == m_pass[v] && (m_pass[u] == 4 || a.read >= b.read));
}

HRESULT FitBound::Recount() {
  // In placement order, each register counts the ranges placed before it (or
  // with it) that meet its own: those that begin before it ends, less those
  // that end by its beginning, less itself.
  for (std::uint32_t k = 0; k < m_activeCount; ++k) Measure(k);
  auto ranked = opt::NewArray<std::uint32_t>(m_activeCount);
  auto begins = opt::NewArray<std::uint32_t>(std::size_t{m_count} + 2);
  auto ends = opt::NewArray<std::uint32_t>(std::size_t{m_count} + 2);
  if (!ranked || !begins || !ends) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_activeCount; ++k) ranked[k] = k;
  auto rank = [&](std::uint32_t k) {
    return std::uint64_t{m_pass[k]} << 32 | (m_pass[k] == 4 ? 0 : 0xFFFFFFFFu - m_place[k].read);
  };
  std::sort(ranked.get(), ranked.get() + m_activeCount, [&](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
  // Fenwick trees over positions 0 .. count + 1 counting begins and ends.
  const std::uint32_t size = m_count + 2;
  auto add = [&](std::uint32_t* tree, std::uint32_t at) {
    for (++at; at <= size; at += at & (0u - at)) ++tree[at - 1];
  };
  auto below = [&](const std::uint32_t* tree, std::uint32_t at) {  // entries before `at`
    std::uint32_t n = 0;
    for (; at > 0; at -= at & (0u - at)) n += tree[at - 1];
    return n;
  };
  std::fill(m_histogram.get(), m_histogram.get() + m_histogramSize, 0u);
  m_peak = 0;
  for (std::uint32_t k = 0; k < m_activeCount;) {
    std::uint32_t group = k;
    for (; group < m_activeCount && rank(ranked[group]) == rank(ranked[k]); ++group) {
      add(begins.get(), m_place[ranked[group]].begin);
      add(ends.get(), m_place[ranked[group]].End());
    }
    for (; k < group; ++k) {
      const std::uint32_t slot = ranked[k];
      const Place& at = m_place[slot];
      m_blockers[slot] = below(begins.get(), at.End()) - below(ends.get(), at.begin + 1) - 1 + m_overlaps[slot];
      ++m_histogram[m_blockers[slot]];
      m_peak = std::max(m_peak, m_blockers[slot]);
    }
  }
  return S_OK;
}

void FitBound::Count(std::uint32_t slot, std::uint32_t blockers) {
  --m_histogram[m_blockers[slot]];
  m_blockers[slot] = blockers;
  ++m_histogram[blockers];
  m_peak = std::max(m_peak, blockers);
  while (m_peak > 0 && m_histogram[m_peak] == 0) --m_peak;
}

void FitBound::Moved(const std::uint32_t* order, std::uint32_t to, std::uint32_t from) {
  if (!m_usable) return;
  const std::uint32_t t = order[to], lo = std::min(to, from), hi = std::max(to, from);
  for (std::uint32_t k = lo; k <= hi; ++k) m_position[order[k]] = k;
  if (lo == 0) {
    // A range from the start reaches at least the first instruction,
    // whichever that is: everything is measured afresh.
    m_usable = SUCCEEDED(Recount());
    return;
  }
  // The registers whose ranges and reads may change otherwise than by the
  // shift, before and after.
  ++m_stampNow;
  const std::uint32_t* moved = m_touches.get() + m_touchStart[t];
  const std::uint32_t count = m_touchStart[t + 1] - m_touchStart[t];
  m_before.Clear();
  m_meets.Clear();
  Place oldWindow{kNoIndex, 0, 0, 0}, newWindow{kNoIndex, 0, 0, 0};
  for (std::uint32_t w = 0; w < count; ++w) {
    const std::uint32_t slot = moved[w];
    m_stamp[slot] = m_stampNow;
    if (!m_before.Append(m_place[slot]) || !m_meets.Append(0)) {
      m_usable = false;
      return;
    }
    Widen(oldWindow, m_place[slot]);
    Measure(slot);
    Widen(newWindow, m_place[slot]);
  }
  // Every other register loses what the old places of these blocked, in the
  // old positions, and gains what the new ones block; in between its place
  // follows the shift.
  const bool down = from < to;
  auto shift = [&](std::uint32_t& at) {
    if (down ? at > from && at <= to : at >= to && at < from) at += down ? -1u : 1u;
  };
  for (std::uint32_t k = 0; k < m_activeCount; ++k) {
    Place& at = m_place[k];
    if (m_stamp[k] == m_stampNow) continue;
    if (at.begin < oldWindow.End() && oldWindow.begin < at.End()) {
      std::uint32_t lost = 0;
      for (std::uint32_t w = 0; w < count; ++w) lost += Blocks(moved[w], m_before[w], k, at);
      if (lost) Count(k, m_blockers[k] - lost);
    }
    shift(at.begin);
    shift(at.last);
    shift(at.read);
    if (at.begin < newWindow.End() && newWindow.begin < at.End()) {
      std::uint32_t gained = 0;
      for (std::uint32_t w = 0; w < count; ++w) {
        gained += Blocks(moved[w], m_place[moved[w]], k, at);
        m_meets[w] += Blocks(k, at, moved[w], m_place[moved[w]]);
      }
      if (gained) Count(k, m_blockers[k] + gained);
    }
  }
  for (std::uint32_t w = 0; w < count; ++w) {
    std::uint32_t blockers = m_meets[w] + m_overlaps[moved[w]];
    for (std::uint32_t x = 0; x < count; ++x)
      blockers += x != w && Blocks(moved[x], m_place[moved[x]], moved[w], m_place[moved[w]]);
    Count(moved[w], blockers);
  }
}

}  // namespace gxl::shader
