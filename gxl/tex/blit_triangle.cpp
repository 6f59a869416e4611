// The triangle (tent) filter, the strategy that takes every size pair. Every
// source row is read once and scattered into the destination rows (or slices)
// it touches; a destination row is written as soon as its last source row has
// contributed, and its buffer goes to the next row that needs one.
#include "gxl/tex/blit_rows.h"
#include "gxl/tex/filter_weights.h"
#include "gxl/tex/image_blitter.h"

using gxl::tex::detail::AddScaled;
using gxl::tex::detail::NewRow;
using gxl::tex::detail::RowBuffer;
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
  if (d.Depth() != 1 || s.Depth() != 1) return E_FAIL;
  const auto xs = BuildFilterWeights(s.Width(), d.Width(), Wraps(FilterFlags::MirrorU));
  const auto ys = BuildFilterWeights(s.Height(), d.Height(), Wraps(FilterFlags::MirrorV));
  if (!xs || !ys) return E_FAIL;
  SlotTable slots;
  RowBuffer in = NewRow(s.Width());
  if (!slots.Allocate(d.Height()) || !in) return E_OUTOFMEMORY;

  const std::uint32_t width = d.Width();
  for (std::uint32_t y = 0; y < s.Height(); ++y)
    for (const FilterWeight* p = ys->begin(y); p != ys->end(y); ++p) ++slots[p->index].pending;

  for (std::uint32_t y = 0; y < s.Height(); ++y) {
    const FilterWeight* const rowsBegin = ys->begin(y);
    const FilterWeight* const rowsEnd = ys->end(y);
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p)
      if (!slots.Open(slots[p->index], width)) return E_OUTOFMEMORY;
    s.ReadRow(y, 0, in.get());
    for (std::uint32_t x = 0; x < s.Width(); ++x) {
      const ColorF texel = in[x];
      for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p) {
        ColorF* acc = slots[p->index].buffer.get();
        for (const FilterWeight* q = xs->begin(x); q != xs->end(x); ++q)
          AddScaled(acc[q->index], texel, q->weight * p->weight);
      }
    }
    for (const FilterWeight* p = rowsBegin; p != rowsEnd; ++p) {
      FilterRowSlot& slot = slots[p->index];
      if (--slot.pending) continue;
      ClampToRange(slot.buffer.get(), width, s.Range());
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
