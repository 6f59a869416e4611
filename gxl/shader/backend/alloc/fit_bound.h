// A cheap proof that a register assignment fits, for the trial moves of
// instruction pairing.
//
// The assignment places one virtual register at a time in a physical
// register none of whose placed values collide with it and that holds none
// of its no-overlap partners. It places the registers that instructions read
// widest first (by their placement width), each width from the last read
// backwards, and the unread ones last. So a register can only be kept out of
// a place by the registers ahead of it in that order whose ranges meet its
// own (its blockers), and by its partners. Each blocker holds its components
// in one physical register: when the blockers are fewer than the physical
// registers left by the partners, one of those holds none of them; when the
// register may take any free components, it also finds a place while its
// blockers' components are fewer than those registers times one more than
// the components it lacks room for (5 less its own). When every register
// finds a place so, the assignment fits, whatever costs it goes by.
//
// The bound keeps the blockers and their components for each virtual
// register, over ranges that hold the live ranges of its values. Moving one
// instruction changes the ranges and reads of the values it touches only,
// since the others keep their order. Where the bound proves nothing the
// caller runs the assignment itself.
//
// It serves straight-line programs whose live ranges are plain spans between
// instructions: no flow control, no relative reads of the bank, one value per
// virtual component.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "gxl/shader/backend/alloc/register_assignment.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

class FitBound {
 public:
  // Over the program as it stands (`order[k]` the index into `table` of its
  // k-th instruction) for the bank and limit of a context that has just
  // assigned it. S_OK, also when the program is of a shape it does not
  // serve; E_OUTOFMEMORY.
  HRESULT Prepare(const ShaderProgram& program, const RegisterAllocatorContext& context, IrInstruction* const* table,
                  const std::uint32_t* order, std::uint32_t count);
  // The instruction now at `to` came from `from`, those between shifting by one.
  void Moved(const std::uint32_t* order, std::uint32_t to, std::uint32_t from);
  // The instructions in any new order, every place measured afresh: for
  // callers whose steps move many instructions at once. S_FALSE when the
  // order is surely overfull (SurelyFails): the places are then measured
  // only when next needed. E_OUTOFMEMORY (the bound then serves no more).
  // Without `proveFits` only the failure is proved (the places are left to
  // be measured when next needed), for callers whose own test is cheaper.
  HRESULT Reordered(const std::uint32_t* order, bool proveFits = true);
  // True when more values are live across one instruction than the bank has
  // components: every two of them collide, so no assignment of the current
  // order fits. Measured on each call.
  bool SurelyFails() { return m_usable && MostLive() > 4 * std::uint64_t{m_limit}; }
  // True when every assignment of the bank in the current order fits.
  bool SurelyFits() const { return m_usable && !m_stale && m_unproved == 0; }
  // Whether the program is of a shape it serves; the blockers of a virtual
  // register with values and their components (0 for others).
  bool Serves() const { return m_usable; }
  std::uint32_t BlockersOf(std::uint32_t vreg) const;
  std::uint32_t BlockerComponentsOf(std::uint32_t vreg) const;

 private:
  // Where a virtual register stands: its range [begin, end) from its
  // earliest definition (0 when a value of it no instruction defines: live
  // from the start) to its latest read, or to the instruction after its
  // latest definition when that is later; `read` is its latest read (0 when none).
  struct Place {
    std::uint32_t begin, end, read;
  };
  // The instructions a place is measured from: the earliest definition
  // (kNoIndex: from the start), the latest read or definition (`add` 1 for
  // a definition; kNoIndex: the range ends after the first instruction) and
  // the latest read (kNoIndex: none).
  struct Ends {
    std::uint32_t first, last, add, reader;
  };
  // The registers whose ends lie at one instruction, in three lists (first,
  // last, reader) through each register's links.
  struct Link {
    std::uint32_t previous, next;
  };
  struct Near {
    std::uint32_t slot;
    Place place;
    std::int32_t change, components;
  };
  Place PlaceOf(std::uint32_t slot) const;
  // The ends of the register in slot `slot` from the positions of the
  // instructions that touch its values, and its links to them.
  void Measure(std::uint32_t slot);
  // Whether the register in slot `u` (at `a`) may be placed before the one
  // in slot `v` (at `b`) and meet it.
  bool Blocks(std::uint32_t u, const Place& a, std::uint32_t v, const Place& b) const;
  // Every place measured and every count made afresh.
  HRESULT Recount();
  // Whether the register in a slot surely finds a place.
  bool Placed(std::uint32_t slot) const;
  void Count(std::uint32_t slot, std::int32_t blockers, std::int32_t components);
  std::uint32_t Slot(std::uint32_t vreg) const;
  // The most values live across one instruction, counting only those whose
  // range is sure: one definition (or none, live from the start) and a
  // later read.
  std::uint32_t MostLive();
  // The span [begin, read) the value at offset k adds to the live counts
  // (begin == read: none); the tables that keep them between counts.
  struct LiveSpan {
    std::uint32_t begin, read;
  };
  LiveSpan SpanOf(std::uint32_t k) const;
  bool MakeLiveTables();

  bool m_usable = false;
  std::uint32_t m_limit = 0, m_count = 0;
  std::uint32_t m_unproved = 0;  // slots whose register may find no place
  std::unique_ptr<std::uint32_t[]> m_position;  // per table index
  // Per virtual register: its values (offsets into m_values).
  std::unique_ptr<std::uint32_t[]> m_valueStart, m_values;
  // Per value (by its offset in m_values): the instructions that define it
  // and that read it, as table indexes.
  std::unique_ptr<std::uint32_t[]> m_defineStart, m_defines, m_readStart, m_reads;
  // Per table index: the slots of the registers whose values it touches.
  std::unique_ptr<std::uint32_t[]> m_touchStart, m_touches;
  // Per slot, one for each virtual register with values: the register, its
  // ends, its pass (widest first, the unread ones last), its blockers and
  // their components, its no-overlap partners, its components and whether
  // they keep their places.
  std::unique_ptr<std::uint32_t[]> m_active;
  std::uint32_t m_activeCount = 0;
  std::unique_ptr<Ends[]> m_ends;
  std::unique_ptr<std::uint32_t[]> m_pass, m_blockers, m_blockerComponents, m_overlaps, m_used, m_stamp;
  std::unique_ptr<std::uint8_t[]> m_fixed;
  std::unique_ptr<std::uint32_t[]> m_head;  // per table index, three lists
  std::unique_ptr<Link[]> m_link;           // per slot, three links
  PodArray<std::int32_t> m_meets, m_meetComponents;
  PodArray<Place> m_before;
  PodArray<Near> m_near;
  std::uint32_t m_stampNow = 0;
  std::uint32_t m_placed = 0;  // values placed, over all registers
  bool m_stale = false;        // the counts are of an earlier order
  // For MostLive: per position the change of the count there; per table
  // index the position its spans were last counted at; per value (offset)
  // its span counted.
  std::unique_ptr<std::int32_t[]> m_liveChange;
  std::unique_ptr<std::uint32_t[]> m_liveAt, m_liveStamp;
  std::unique_ptr<LiveSpan[]> m_liveSpan;
  std::uint32_t m_liveStampNow = 0;
  bool m_liveCounted = false;
};

}  // namespace gxl::shader
