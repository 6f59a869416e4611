// The triangle (tent) filter, the strategy that takes every size pair. Every
// source row is read once and scattered into the destination rows (or slices)
// it touches; a destination row is written as soon as its last source row has
// contributed, and its buffer goes to the next row that needs one. The flat
// case gathers instead: each destination texel takes its terms from the source
// row in the scatter's order, so the sums are the scatter's to the last bit.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "gxl/tex/blit_convert.h"
#include "gxl/tex/blit_rows.h"
#include "gxl/tex/filter_weights.h"
#include "gxl/tex/image_blitter.h"

using gxl::tex::detail::AddScaled;
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

  // Gives the slot a zeroed buffer of `texels`, a finished slot's when there is one.
  bool Open(FilterRowSlot& slot, std::uint64_t texels) {
    if (slot.buffer) return true;
    if (m_free) {
      slot.buffer = std::move(m_free->buffer);
      m_free = m_free->next;
    } else {
      slot.buffer = NewRow(texels);
      if (!slot.buffer) return false;
    }
    ZeroTexels(slot.buffer.get(), texels);
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

// The X pairs turned around: for each destination column, the source columns
// that reach it with their weights, in the order the scatter meets them (source
// column, then record order), so that every accumulator sums the same terms in
// the same order as the scatter, texel by texel. Every column holds as many
// terms as the longest: the others end with terms of a zero texel at weight
// -0, each exactly -0, which leaves any sum as it is.
struct ColumnSources {
  std::uint32_t terms = 0;
  std::unique_ptr<std::uint32_t[]> source;  // column k's terms from k x terms
  std::unique_ptr<float[]> weight;

  // `zero` indexes the zero texel. False when memory runs out, or when padding
  // would more than double the terms (the scatter then does the work).
  bool Build(const FilterWeightList& xs, std::uint32_t destinations, std::uint32_t zero) {
    std::unique_ptr<std::uint32_t[]> count(new (std::nothrow) std::uint32_t[destinations]());
    if (!count) return false;
    for (std::uint32_t x = 0; x < xs.sourceCount; ++x)
      for (const FilterWeight* q = xs.begin(x); q != xs.end(x); ++q) terms = std::max(terms, ++count[q->index]);
    const std::uint64_t total = std::uint64_t{terms} * destinations;
    if (total > 2 * std::uint64_t{xs.recordStart[xs.sourceCount]} + destinations) return false;
    source.reset(new (std::nothrow) std::uint32_t[total ? total : 1]);
    weight.reset(new (std::nothrow) float[total ? total : 1]);
    if (!source || !weight) return false;
    for (std::uint64_t i = 0; i < total; ++i) {
      source[i] = zero;
      weight[i] = -0.0f;
    }
    std::memset(count.get(), 0, std::uint64_t{destinations} * sizeof(std::uint32_t));
    for (std::uint32_t x = 0; x < xs.sourceCount; ++x)
      for (const FilterWeight* q = xs.begin(x); q != xs.end(x); ++q) {
        const std::uint64_t i = std::uint64_t{q->index} * terms + count[q->index]++;
        source[i] = x;
        weight[i] = q->weight;
      }
    return true;
  }
};

// acc[i][k] += in[x] x (wx x wy[i]) for every term (x, wx) of column k and
// each of N destination rows, per channel; the weight product first, as the
// scatter forms it. The rows share the loads of texels and weights.
// kTerms: the columns' term count when it is a small constant (the loop over
// terms then unrolls), 0 otherwise.
template <int N, std::uint32_t kTerms>
void Gather(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy, ColorF* const* acc) {
  const std::uint32_t terms = kTerms ? kTerms : columns.terms;
  const std::uint32_t* source = columns.source.get();
  const float* weight = columns.weight.get();
  __m128 rowWeight[N];
  for (int i = 0; i < N; ++i) rowWeight[i] = _mm_set1_ps(wy[i]);
  for (std::uint32_t k = 0; k < width; ++k, source += terms, weight += terms) {
    __m128 sum[N];
    for (int i = 0; i < N; ++i) sum[i] = _mm_loadu_ps(&acc[i][k].r);
    for (std::uint32_t e = 0; e < terms; ++e) {
      const __m128 texel = _mm_loadu_ps(&in[source[e]].r), wx = _mm_set1_ps(weight[e]);
      for (int i = 0; i < N; ++i) sum[i] = _mm_add_ps(sum[i], _mm_mul_ps(texel, _mm_mul_ps(wx, rowWeight[i])));
    }
    for (int i = 0; i < N; ++i) _mm_storeu_ps(&acc[i][k].r, sum[i]);
  }
}

template <int N>
void Gather(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy, ColorF* const* acc) {
  switch (columns.terms) {
    case 2: Gather<N, 2>(columns, width, in, wy, acc); break;
    case 3: Gather<N, 3>(columns, width, in, wy, acc); break;
    case 4: Gather<N, 4>(columns, width, in, wy, acc); break;
    default: Gather<N, 0>(columns, width, in, wy, acc); break;
  }
}

// The rows of one source row, up to four at a time.
void GatherRows(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                ColorF* const* acc, std::uint32_t rows) {
  for (; rows >= 4; rows -= 4, wy += 4, acc += 4) Gather<4>(columns, width, in, wy, acc);
  if (rows == 3) Gather<3>(columns, width, in, wy, acc);
  if (rows == 2) Gather<2>(columns, width, in, wy, acc);
  if (rows == 1) Gather<1>(columns, width, in, wy, acc);
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
  std::unique_ptr<ColorF*[]> acc(new (std::nothrow) ColorF*[reach]);
  SlotTable slots;
  if (!rowPairs || !wy || !acc || !slots.Allocate(d.Height())) return E_OUTOFMEMORY;
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
  RowBuffer in;
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
  }
  // A destination whose writes clamp each channel to [0, 1] themselves needs no clamp first.
  const bool clamp = !(s.Range() == ChannelRange::Unorm && WritesClampToUnorm(d));

  const std::uint32_t width = d.Width();
  for (std::uint32_t y = 0; y < s.Height(); ++y) {
    const std::uint32_t rowCount = ys.Next(rowPairs.get());
    const FilterWeight* const rowsBegin = rowPairs.get();
    const FilterWeight* const rowsEnd = rowsBegin + rowCount;
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p)
      if (!slots.Open(slots[p->index], width)) return E_OUTOFMEMORY;
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
      // A row named twice (a wrapping tent) takes its terms column by column,
      // in record order, as the scatter gives them; so do all rows without
      // columns.
      bool twice = !gather;
      for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p)
        for (const FilterWeight* q = rowsBegin; q != p; ++q) twice = twice || q->index == p->index;
      if (!twice) {
        std::uint32_t rows = 0;
        for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p, ++rows) {
          wy[rows] = p->weight;
          acc[rows] = slots[p->index].buffer.get();
        }
        GatherRows(columns, width, in.get(), wy.get(), acc.get(), rows);
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
