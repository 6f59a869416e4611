// The triangle (tent) filter, the strategy that takes every size pair. Every
// source row is read once and scattered into the destination rows (or slices)
// it touches; a destination row is written as soon as its last source row has
// contributed, and its buffer goes to the next row that needs one. The flat
// case gathers instead: each destination texel takes its terms from the source
// row in the scatter's order, so the sums are the scatter's to the last bit.
#include <algorithm>
#include <cstring>

#include "gxl/tex/blit_convert.h"
#include "gxl/tex/blit_gather.h"
#include "gxl/tex/blit_rows.h"
#include "gxl/tex/filter_weights.h"
#include "gxl/tex/image_blitter.h"

using gxl::tex::detail::AddScaled;
using gxl::tex::detail::ColumnSources;
using gxl::tex::detail::GatherTargets;
using gxl::tex::detail::GatherRows;
using gxl::tex::detail::NewRow;
using gxl::tex::detail::RowBuffer;
using gxl::tex::detail::WritesClampToUnorm;
using gxl::tex::detail::ZeroTexels;

namespace {

// One destination row (flat case) or slice (general case).
struct FilterRowSlot {
  RowBuffer buffer;              // the accumulated texels while pending
  FilterRowSlot* next = nullptr;  // free list of finished slots
  std::uint32_t pending = 0;      // source rows or slices still to contribute
};

// Slots with their free list of buffers to reuse.
class SlotTable {
 public:
  bool Allocate(std::uint32_t count) {
    m_slots.reset(new (std::nothrow) FilterRowSlot[count ? count : 1]);
    return m_slots != nullptr;
  }
  FilterRowSlot& operator[](std::uint32_t i) { return m_slots[i]; }

  // Gives the slot a buffer of `texels`, a finished slot's when there is
  // one, zeroed when `zero` says so. Its sums begin here when *begun is set.
  bool Open(FilterRowSlot& slot, std::uint64_t texels, bool zero = true, bool* begun = nullptr) {
    if (begun) *begun = !slot.buffer;
    if (slot.buffer) return true;
    if (m_free) {
      slot.buffer = std::move(m_free->buffer);
      m_free = m_free->next;
    } else {
      slot.buffer = NewRow(texels);
      if (!slot.buffer) return false;
    }
    if (zero) ZeroTexels(slot.buffer.get(), texels);
    return true;
  }

  void Finish(FilterRowSlot& slot) {
    slot.next = m_free;
    m_free = &slot;
  }

 private:
  std::unique_ptr<FilterRowSlot[]> m_slots;
  FilterRowSlot* m_free = nullptr;
};

// Source rows longer than this are read a span at a time.
constexpr std::uint32_t kSpanTexels = 1u << 16;

inline float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Clamps accumulated texels to the range the source's texels came in.
void ClampToRange(ColorF* texels, std::uint64_t count, ChannelRange range) {
  if (range == ChannelRange::Float) return;
  const float lo = range == ChannelRange::Unorm ? 0.0f : -1.0f;
  const float alphaLo = range == ChannelRange::SnormAll ? -1.0f : 0.0f;
  for (std::uint64_t i = 0; i < count; ++i) {
    ColorF& c = texels[i];
    c.r = Clamp(c.r, lo, 1.0f);
    c.g = Clamp(c.g, lo, 1.0f);
    c.b = Clamp(c.b, lo, 1.0f);
    c.a = Clamp(c.a, alphaLo, 1.0f);
  }
}

}  // namespace

HRESULT ImageBlitter::BlitTriangleFlat() {
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  if (d.Depth() != 1 || s.Depth() != 1 || !s.Width() || !s.Height() || !d.Width() || !d.Height()) return E_FAIL;
  // The rows' weights are walked as the rows come, so nothing is held per
  // source row; the pending counts and the most rows one source row reaches
  // come from a first walk.
  FilterWeightWalk ys(s.Height(), d.Height(), Wraps(FilterFlags::MirrorV));
  const std::uint32_t reach = ys.MaxPairs();
  std::unique_ptr<FilterWeight[]> rowPairs(new (std::nothrow) FilterWeight[reach]);
  std::unique_ptr<float[]> wy(new (std::nothrow) float[reach]);
  std::unique_ptr<const ColorF*[]> from(new (std::nothrow) const ColorF*[reach]);
  std::unique_ptr<ColorF*[]> to(new (std::nothrow) ColorF*[reach]);
  SlotTable slots;
  if (!rowPairs || !wy || !from || !to || !slots.Allocate(d.Height())) return E_OUTOFMEMORY;
  for (std::uint32_t y = 0; y < s.Height(); ++y) {
    const std::uint32_t n = ys.Next(rowPairs.get());
    for (std::uint32_t i = 0; i < n; ++i) ++slots[rowPairs[i].index].pending;
  }

  // A source row too long to hold as floats (with a weight record per texel)
  // is read and weighted a span at a time; the terms reach each accumulator
  // in the same order either way.
  const bool spans = s.IsAddressable() && s.Width() > kSpanTexels;
  std::unique_ptr<FilterWeightList> xs;
  ColumnSources columns;
  FilterWeightWalk xw(s.Width(), d.Width(), Wraps(FilterFlags::MirrorU));
  std::unique_ptr<FilterWeight[]> columnPairs;
  bool gather = false;
  RowBuffer in, zeros;  // the gather's sums of rows not yet begun start from zeros
  if (spans) {
    in = NewRow(kSpanTexels);
    columnPairs.reset(new (std::nothrow) FilterWeight[xw.MaxPairs()]);
    if (!in || !columnPairs) return E_OUTOFMEMORY;
  } else {
    xs = BuildFilterWeights(s.Width(), d.Width(), Wraps(FilterFlags::MirrorU));
    if (!xs) return E_FAIL;
    in = NewRow(std::uint64_t{s.Width()} + 1);  // and the zero texel
    if (!in) return E_OUTOFMEMORY;
    ZeroTexels(in.get() + s.Width(), 1);
    gather = columns.Build(*xs, d.Width(), s.Width());
    if (gather) {
      zeros = NewRow(d.Width());
      if (!zeros) return E_OUTOFMEMORY;
      ZeroTexels(zeros.get(), d.Width());
    }
  }
  // A destination whose writes clamp each channel to [0, 1] themselves needs no clamp first.
  const bool clamp = !(s.Range() == ChannelRange::Unorm && WritesClampToUnorm(d));

  const std::uint32_t width = d.Width();
  for (std::uint32_t y = 0; y < s.Height(); ++y) {
    const std::uint32_t rowCount = ys.Next(rowPairs.get());
    const FilterWeight* const rowsBegin = rowPairs.get();
    const FilterWeight* const rowsEnd = rowsBegin + rowCount;
    // A row named twice (a wrapping tent) takes its terms column by column,
    // in record order, as the scatter gives them; so do all rows without
    // columns.
    bool twice = !gather;
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p)
      for (const FilterWeight* q = rowsBegin; q != p; ++q) twice = twice || q->index == p->index;
    std::uint32_t rows = 0;
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p, ++rows) {
      FilterRowSlot& slot = slots[p->index];
      bool begun = false;
      if (!slots.Open(slot, width, twice, &begun)) return E_OUTOFMEMORY;
      wy[rows] = p->weight;
      from[rows] = begun ? zeros.get() : slot.buffer.get();
      to[rows] = slot.buffer.get();
    }
    if (spans) {
      // The walk is back at column 0 after the last column of each row.
      for (std::uint32_t x0 = 0; x0 < s.Width(); x0 += kSpanTexels) {
        const std::uint32_t count = std::min(kSpanTexels, s.Width() - x0);
        s.ReadSpan(y, 0, x0, count, in.get());
        for (std::uint32_t x = 0; x < count; ++x) {
          const ColorF texel = in[x];
          const FilterWeight* const columnsEnd = columnPairs.get() + xw.Next(columnPairs.get());
          for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p) {
            ColorF* row = slots[p->index].buffer.get();
            for (const FilterWeight* q = columnPairs.get(); q != columnsEnd; ++q)
              AddScaled(row[q->index], texel, q->weight * p->weight);
          }
        }
      }
    } else {
      s.ReadRow(y, 0, in.get());
      if (!twice) {
        GatherRows(columns, width, in.get(), wy.get(), GatherTargets{from.get(), to.get()}, rows);
      } else {
        for (std::uint32_t x = 0; x < s.Width(); ++x) {
          const ColorF texel = in[x];
          for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p) {
            ColorF* row = slots[p->index].buffer.get();
            for (const FilterWeight* q = xs->begin(x); q != xs->end(x); ++q)
              AddScaled(row[q->index], texel, q->weight * p->weight);
          }
        }
      }
    }
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p) {
      FilterRowSlot& slot = slots[p->index];
      if (--slot.pending) continue;
      if (clamp) ClampToRange(slot.buffer.get(), width, s.Range());
      d.WriteRow(p->index, 0, slot.buffer.get());
      slots.Finish(slot);
    }
  }
  return S_OK;
}

HRESULT ImageBlitter::BlitTriangle() {
  PixelCodec& d = *m_destination;
  PixelCodec& s = *m_source;
  const auto xs = BuildFilterWeights(s.Width(), d.Width(), Wraps(FilterFlags::MirrorU));
  const auto ys = BuildFilterWeights(s.Height(), d.Height(), Wraps(FilterFlags::MirrorV));
  const auto zs = BuildFilterWeights(s.Depth(), d.Depth(), Wraps(FilterFlags::MirrorW));
  if (!xs || !ys || !zs) return E_FAIL;
  SlotTable slots;
  RowBuffer in = NewRow(s.Width());
  if (!slots.Allocate(d.Depth()) || !in) return E_OUTOFMEMORY;

  const std::uint32_t width = d.Width();
  const std::uint64_t sliceTexels = std::uint64_t{width} * d.Height();
  for (std::uint32_t z = 0; z < s.Depth(); ++z)
    for (const FilterWeight* p = zs->begin(z); p != zs->end(z); ++p) ++slots[p->index].pending;

  for (std::uint32_t z = 0; z < s.Depth(); ++z) {
    const FilterWeight* const slicesBegin = zs->begin(z);
    const FilterWeight* const slicesEnd = zs->end(z);
    for (const FilterWeight* p = slicesBegin; p != slicesEnd; ++p)
      if (!slots.Open(slots[p->index], sliceTexels)) return E_OUTOFMEMORY;
    for (std::uint32_t y = 0; y < s.Height(); ++y) {
      s.ReadRow(y, z, in.get());
      for (std::uint32_t x = 0; x < s.Width(); ++x) {
        const ColorF texel = in[x];
        for (const FilterWeight* pz = slicesBegin; pz != slicesEnd; ++pz) {
          ColorF* slice = slots[pz->index].buffer.get();
          for (const FilterWeight* py = ys->begin(y); py != ys->end(y); ++py) {
            ColorF* acc = slice + std::uint64_t{py->index} * width;
            for (const FilterWeight* px = xs->begin(x); px != xs->end(x); ++px)
              AddScaled(acc[px->index], texel, px->weight * py->weight * pz->weight);
          }
        }
      }
    }
    for (const FilterWeight* p = slicesBegin; p != slicesEnd; ++p) {
      FilterRowSlot& slot = slots[p->index];
      if (--slot.pending) continue;
      ClampToRange(slot.buffer.get(), sliceTexels, s.Range());
      for (std::uint32_t y = 0; y < d.Height(); ++y)
        d.WriteRow(y, p->index, slot.buffer.get() + std::uint64_t{y} * width);
      slots.Finish(slot);
    }
  }
  return S_OK;
}
