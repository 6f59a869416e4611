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

}  // namespace

HRESULT FitBound::Prepare(const ShaderProgram& p, const RegisterAllocatorContext& context, IrInstruction* const* table,
                          const std::uint32_t* order, std::uint32_t count) {
  m_usable = false;
  m_liveChange.reset();  // the live counts are of another program
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
  const std::uint32_t placed = alloc::Starts(m_valueStart.get(), vregs);
  m_placed = placed;
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
        p, k, [](std::uint32_t) {}, [](std::uint32_t, const IrValue&) {},
        [&](std::uint32_t bank, const RegisterBank&) {
          if (bank < p.banks.Count()) relative[bank] = 1;
        },
        [](std::uint32_t, const IrValue&) {});
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
          [&](std::uint32_t value, const IrValue&) {
            if (place[value] == kNoIndex) return;
            if (round) m_reads[m_readStart[place[value]]++] = t;
            else ++m_readStart[place[value]];
            touch(place[value]);
          },
          [](std::uint32_t, const RegisterBank&) {},
          [&](std::uint32_t value, const IrValue&) {
            if (place[value] == kNoIndex) return;
            if (round) m_defines[m_defineStart[place[value]]++] = t;
            else ++m_defineStart[place[value]];
            touch(place[value]);
          });
    }
    if (round == 0) {
      m_defines = opt::NewArray<std::uint32_t>(alloc::Starts(m_defineStart.get(), placed));
      m_reads = opt::NewArray<std::uint32_t>(alloc::Starts(m_readStart.get(), placed));
      m_touches = opt::NewArray<std::uint32_t>(alloc::Starts(m_touchStart.get(), count));
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
  m_ends = std::unique_ptr<Ends[]>(new (std::nothrow) Ends[m_activeCount ? m_activeCount : 1]);
  m_pass = opt::NewArray<std::uint32_t>(m_activeCount);
  m_blockers = Filled(m_activeCount, 0);
  m_blockerComponents = Filled(m_activeCount, 0);
  m_overlaps = opt::NewArray<std::uint32_t>(m_activeCount);
  m_used = opt::NewArray<std::uint32_t>(m_activeCount);
  m_fixed = opt::NewArray<std::uint8_t>(m_activeCount);
  m_stamp = Filled(m_activeCount, 0);
  m_head = Filled(std::size_t{count} * 3, kNoIndex);
  m_link = std::unique_ptr<Link[]>(new (std::nothrow) Link[m_activeCount ? 3 * std::size_t{m_activeCount} : 1]);
  if (!m_ends || !m_pass || !m_blockers || !m_blockerComponents || !m_overlaps || !m_used || !m_fixed || !m_stamp ||
      !m_head || !m_link)
    return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_activeCount; ++k) m_ends[k] = Ends{kNoIndex, kNoIndex, 0, kNoIndex};
  for (std::uint32_t k = 0; k < m_activeCount; ++k) {
    const std::uint32_t r = m_active[k];
    m_overlaps[k] = context.OverlapCount(r);
    m_used[k] = context.UsedComponents(r);
    m_fixed[k] = context.KeepsComponents(r);
    // Passes 0-3 place the widths 4 down to 1 at their reads; what nothing
    // reads comes after them all.
    bool read = false;
    for (std::uint32_t v = m_valueStart[r]; v < m_valueStart[r + 1] && !read; ++v)
      read = m_readStart[v] != m_readStart[v + 1];
    m_pass[k] = read ? 4 - context.PlacementWidth(r) : 4;
  }
  const HRESULT hr = Recount();
  m_usable = SUCCEEDED(hr);
  return hr;
}

void FitBound::Measure(std::uint32_t slot) {
  // The earliest definition begins the range (none: it is live from the
  // start); the latest read or definition ends it, a definition at the
  // instruction after it (by a key of 2 x position, + 1 for a definition).
  const std::uint32_t vreg = m_active[slot];
  Ends e{kNoIndex, kNoIndex, 0, kNoIndex};
  std::uint32_t begin = kNoIndex, key = 0, read = 0;
  bool fromStart = false;
  for (std::uint32_t k = m_valueStart[vreg]; k < m_valueStart[vreg + 1]; ++k) {
    if (m_defineStart[k] == m_defineStart[k + 1]) fromStart = true;
    for (std::uint32_t d = m_defineStart[k]; d < m_defineStart[k + 1]; ++d) {
      const std::uint32_t t = m_defines[d], at = m_position[t];
      if (begin == kNoIndex || at < begin) begin = at, e.first = t;
      if (e.last == kNoIndex || 2 * at + 1 > key) key = 2 * at + 1, e.last = t, e.add = 1;
    }
    for (std::uint32_t r = m_readStart[k]; r < m_readStart[k + 1]; ++r) {
      const std::uint32_t t = m_reads[r], at = m_position[t];
      if (e.last == kNoIndex || 2 * at > key) key = 2 * at, e.last = t, e.add = 0;
      if (e.reader == kNoIndex || at > read) read = at, e.reader = t;
    }
  }
  if (fromStart) e.first = kNoIndex;
  // A range from the start that no later instruction ends reaches the first one.
  if (e.first == kNoIndex && e.last != kNoIndex && key / 2 + key % 2 == 0) e.last = kNoIndex;
  // Relink the register under the instructions its place now depends on.
  const std::uint32_t now[3] = {e.first, e.last, e.reader};
  const std::uint32_t was[3] = {m_ends[slot].first, m_ends[slot].last, m_ends[slot].reader};
  for (std::uint32_t list = 0; list < 3; ++list) {
    if (was[list] == now[list]) continue;
    Link& link = m_link[3 * std::size_t{slot} + list];
    if (was[list] != kNoIndex) {
      if (link.previous != kNoIndex)
        m_link[3 * std::size_t{link.previous} + list].next = link.next;
      else
        m_head[3 * std::size_t{was[list]} + list] = link.next;
      if (link.next != kNoIndex) m_link[3 * std::size_t{link.next} + list].previous = link.previous;
    }
    if (now[list] != kNoIndex) {
      std::uint32_t& head = m_head[3 * std::size_t{now[list]} + list];
      link = Link{kNoIndex, head};
      if (head != kNoIndex) m_link[3 * std::size_t{head} + list].previous = slot;
      head = slot;
    }
  }
  m_ends[slot] = e;
}

FitBound::Place FitBound::PlaceOf(std::uint32_t slot) const {
  const Ends& e = m_ends[slot];
  const std::uint32_t begin = e.first == kNoIndex ? 0 : m_position[e.first];
  const std::uint32_t end = e.last == kNoIndex ? begin + 1 : m_position[e.last] + e.add;
  return {begin, std::max(end, begin + 1), e.reader == kNoIndex ? 0 : m_position[e.reader]};
}

bool FitBound::Blocks(std::uint32_t u, const Place& a, std::uint32_t v, const Place& b) const {
  if (!(a.begin < b.end && b.begin < a.end)) return false;
  // Within a pass the walk goes from the last instruction back; reads at
  // the same instruction may go either way, and the unread ones in any order.
  return m_pass[u] < m_pass[v] || (m_pass[u] == m_pass[v] && (m_pass[u] == 4 || a.read >= b.read));
}

HRESULT FitBound::Recount() {
  // In placement order, each register counts the ranges placed before it (or
  // with it) that meet its own: those that begin before it ends, less those
  // that end by its beginning, less itself; and their components alike.
  for (std::uint32_t k = 0; k < m_activeCount; ++k) Measure(k);
  auto place = opt::NewArray<Place>(m_activeCount);
  auto ranked = opt::NewArray<std::uint32_t>(m_activeCount);
  // Fenwick trees over positions 0 .. count + 1 of begins and ends, counted
  // and weighed by components.
  const std::uint32_t size = m_count + 2;
  auto trees = opt::NewArray<std::uint64_t>(4 * std::size_t{size});
  if (!place || !ranked || !trees) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_activeCount; ++k) ranked[k] = k, place[k] = PlaceOf(k);
  auto rank = [&](std::uint32_t k) {
    return std::uint64_t{m_pass[k]} << 32 | (m_pass[k] == 4 ? 0 : 0xFFFFFFFFu - place[k].read);
  };
  std::sort(ranked.get(), ranked.get() + m_activeCount, [&](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
  std::uint64_t *begins = trees.get(), *ends = begins + size, *beginWeights = ends + size, *endWeights = beginWeights + size;
  auto add = [&](std::uint64_t* tree, std::uint32_t at, std::uint64_t by) {
    for (++at; at <= size; at += at & (0u - at)) tree[at - 1] += by;
  };
  auto below = [&](const std::uint64_t* tree, std::uint32_t at) {  // entries before `at`
    std::uint64_t n = 0;
    for (; at > 0; at -= at & (0u - at)) n += tree[at - 1];
    return n;
  };
  m_unproved = 0;
  m_stale = false;
  for (std::uint32_t k = 0; k < m_activeCount;) {
    std::uint32_t group = k;
    for (; group < m_activeCount && rank(ranked[group]) == rank(ranked[k]); ++group) {
      const std::uint32_t slot = ranked[group];
      add(begins, place[slot].begin, 1);
      add(ends, place[slot].end, 1);
      add(beginWeights, place[slot].begin, m_used[slot]);
      add(endWeights, place[slot].end, m_used[slot]);
    }
    for (; k < group; ++k) {
      const std::uint32_t slot = ranked[k];
      const Place& at = place[slot];
      m_blockers[slot] = static_cast<std::uint32_t>(below(begins, at.end) - below(ends, at.begin + 1) - 1);
      m_blockerComponents[slot] =
          static_cast<std::uint32_t>(below(beginWeights, at.end) - below(endWeights, at.begin + 1) - m_used[slot]);
      m_unproved += !Placed(slot);
    }
  }
  return S_OK;
}

bool FitBound::Placed(std::uint32_t slot) const {
  if (m_overlaps[slot] >= m_limit) return false;
  const std::uint64_t left = m_limit - m_overlaps[slot];
  return m_blockers[slot] < left ||
         (!m_fixed[slot] && m_used[slot] <= 4 && m_blockerComponents[slot] < left * (5 - m_used[slot]));
}

std::uint32_t FitBound::Slot(std::uint32_t vreg) const {
  const std::uint32_t* slot = std::lower_bound(m_active.get(), m_active.get() + m_activeCount, vreg);
  return slot != m_active.get() + m_activeCount && *slot == vreg ? static_cast<std::uint32_t>(slot - m_active.get())
                                                                 : kNoIndex;
}

std::uint32_t FitBound::BlockersOf(std::uint32_t vreg) const {
  const std::uint32_t slot = Slot(vreg);
  return slot == kNoIndex ? 0 : m_blockers[slot];
}

std::uint32_t FitBound::BlockerComponentsOf(std::uint32_t vreg) const {
  const std::uint32_t slot = Slot(vreg);
  return slot == kNoIndex ? 0 : m_blockerComponents[slot];
}

void FitBound::Count(std::uint32_t slot, std::int32_t blockers, std::int32_t components) {
  if (blockers == 0 && components == 0) return;
  m_unproved -= !Placed(slot);
  m_blockers[slot] += blockers;
  m_blockerComponents[slot] += components;
  m_unproved += !Placed(slot);
}

HRESULT FitBound::Reordered(const std::uint32_t* order, bool proveFits) {
  if (!m_usable) return S_OK;
  // The live counts' table is made here, so that a failure to make it is
  // reported like any other instead of only losing the proof.
  if (!m_liveChange && !MakeLiveTables()) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < m_count; ++k) m_position[order[k]] = k;
  if (MostLive() > 4 * std::uint64_t{m_limit}) {
    m_stale = true;
    return S_FALSE;
  }
  if (!proveFits) {
    m_stale = true;
    return S_OK;
  }
  const HRESULT hr = Recount();
  m_usable = SUCCEEDED(hr);
  return hr;
}

bool FitBound::MakeLiveTables() {
  m_liveChange = std::unique_ptr<std::int32_t[]>(new (std::nothrow) std::int32_t[std::size_t{m_count} + 1]);
  m_liveAt = opt::NewArray<std::uint32_t>(m_count);
  m_liveSpan = std::unique_ptr<LiveSpan[]>(new (std::nothrow) LiveSpan[m_placed ? m_placed : 1]);
  m_liveStamp = Filled(m_placed, 0);
  m_liveStampNow = 0;
  m_liveCounted = false;
  if (m_liveChange && m_liveAt && m_liveSpan && m_liveStamp) return true;
  m_liveChange.reset();
  return false;
}

FitBound::LiveSpan FitBound::SpanOf(std::uint32_t k) const {
  // A value live from its definition d to its latest read r > d collides
  // with every other such value live at any x in [d, r): the one defined
  // first is read after the other's definition. Values defined more than
  // once may begin later than their first definition: they are left out,
  // which only lowers the count.
  const std::uint32_t defines = m_defineStart[k + 1] - m_defineStart[k];
  if (defines > 1 || m_readStart[k] == m_readStart[k + 1]) return {0, 0};
  const std::uint32_t begin = defines ? m_position[m_defines[m_defineStart[k]]] : 0;
  std::uint32_t read = 0;
  for (std::uint32_t r = m_readStart[k]; r < m_readStart[k + 1]; ++r) read = std::max(read, m_position[m_reads[r]]);
  return read <= begin ? LiveSpan{0, 0} : LiveSpan{begin, read};
}

std::uint32_t FitBound::MostLive() {
  if (!m_liveChange && !MakeLiveTables()) return 0;
  auto count = [&](std::uint32_t k, std::int32_t sign) {
    const LiveSpan& s = m_liveSpan[k];
    if (s.begin == s.read) return;
    m_liveChange[s.begin] += sign;
    m_liveChange[s.read] -= sign;
  };
  if (!m_liveCounted) {
    std::fill(m_liveChange.get(), m_liveChange.get() + m_count + 1, 0);
    for (std::uint32_t k = 0; k < m_placed; ++k) {
      m_liveSpan[k] = SpanOf(k);
      count(k, 1);
    }
    std::copy(m_position.get(), m_position.get() + m_count, m_liveAt.get());
    m_liveCounted = true;
  } else {
    // Only the spans of values an instruction that moved since touches can
    // have changed: those are counted again.
    if (++m_liveStampNow == 0) {
      std::fill(m_liveStamp.get(), m_liveStamp.get() + m_placed, 0u);
      m_liveStampNow = 1;
    }
    for (std::uint32_t t = 0; t < m_count; ++t) {
      if (m_position[t] == m_liveAt[t]) continue;
      m_liveAt[t] = m_position[t];
      for (std::uint32_t w = m_touchStart[t]; w < m_touchStart[t + 1]; ++w) {
        const std::uint32_t vreg = m_active[m_touches[w]];
        for (std::uint32_t k = m_valueStart[vreg]; k < m_valueStart[vreg + 1]; ++k) {
          if (m_liveStamp[k] == m_liveStampNow) continue;
          m_liveStamp[k] = m_liveStampNow;
          count(k, -1);
          m_liveSpan[k] = SpanOf(k);
          count(k, 1);
        }
      }
    }
  }
  std::int64_t live = 0, most = 0;
  for (std::uint32_t k = 0; k <= m_count; ++k) most = std::max(most, live += m_liveChange[k]);
  return static_cast<std::uint32_t>(most);
}

void FitBound::Moved(const std::uint32_t* order, std::uint32_t to, std::uint32_t from) {
  if (!m_usable) return;
  const std::uint32_t t = order[to], lo = std::min(to, from), hi = std::max(to, from);
  if (lo == 0 || m_stale) {
    // A range from the start reaches at least the first instruction,
    // whichever that is: everything is measured afresh.
    for (std::uint32_t k = lo; k <= hi; ++k) m_position[order[k]] = k;
    m_usable = SUCCEEDED(Recount());
    return;
  }
  // The places of the registers the moved instruction touches may change
  // anywhere within [lo, hi + 1]; every other place keeps its order to them
  // except where one of its ends or its read lies among the instructions
  // there. Only those pairs are counted again, before and after.
  const std::uint32_t* moved = m_touches.get() + m_touchStart[t];
  const std::uint32_t count = m_touchStart[t + 1] - m_touchStart[t];
  ++m_stampNow;
  m_near.Clear();
  m_before.Clear();
  for (std::uint32_t w = 0; w < count; ++w) m_stamp[moved[w]] = m_stampNow;
  bool grown = true;
  for (std::uint32_t w = 0; w < count; ++w) grown = grown && m_before.Append(PlaceOf(moved[w]));
  for (std::uint32_t k = lo; k <= hi && grown; ++k)
    for (std::uint32_t list = 0; list < 3 && grown; ++list)
      for (std::uint32_t u = m_head[3 * std::size_t{order[k]} + list]; u != kNoIndex && grown;
           u = m_link[3 * std::size_t{u} + list].next) {
        if (m_stamp[u] == m_stampNow) continue;
        m_stamp[u] = m_stampNow;
        grown = m_near.Append(Near{u, PlaceOf(u), 0, 0});
      }
  if (!grown) {
    m_usable = false;
    return;
  }
  // Each pair counts for the later placed, with the earlier one's components.
  auto pairs = [&](const Place* moving, std::int32_t sign) {
    for (std::size_t n = 0; n < m_near.Size(); ++n) {
      Near& near = m_near[n];
      for (std::uint32_t w = 0; w < count; ++w) {
        if (Blocks(moved[w], moving[w], near.slot, near.place))
          near.change += sign, near.components += sign * static_cast<std::int32_t>(m_used[moved[w]]);
        if (Blocks(near.slot, near.place, moved[w], moving[w]))
          m_meets[w] += sign, m_meetComponents[w] += sign * static_cast<std::int32_t>(m_used[near.slot]);
      }
    }
    for (std::uint32_t w = 0; w < count; ++w)
      for (std::uint32_t x = 0; x < count; ++x)
        if (x != w && Blocks(moved[x], moving[x], moved[w], moving[w]))
          m_meets[w] += sign, m_meetComponents[w] += sign * static_cast<std::int32_t>(m_used[moved[x]]);
  };
  m_meets.Clear();
  m_meetComponents.Clear();
  for (std::uint32_t w = 0; w < count; ++w) grown = grown && m_meets.Append(0) && m_meetComponents.Append(0);
  if (!grown) {
    m_usable = false;
    return;
  }
  pairs(m_before.Data(), -1);
  for (std::uint32_t k = lo; k <= hi; ++k) m_position[order[k]] = k;
  m_before.Clear();
  for (std::uint32_t w = 0; w < count; ++w) {
    Measure(moved[w]);
    m_before.Append(PlaceOf(moved[w]));  // room reserved above
  }
  for (std::size_t n = 0; n < m_near.Size(); ++n) m_near[n].place = PlaceOf(m_near[n].slot);
  pairs(m_before.Data(), 1);
  for (std::size_t n = 0; n < m_near.Size(); ++n) Count(m_near[n].slot, m_near[n].change, m_near[n].components);
  for (std::uint32_t w = 0; w < count; ++w) Count(moved[w], m_meets[w], m_meetComponents[w]);
}

}  // namespace gxl::shader
