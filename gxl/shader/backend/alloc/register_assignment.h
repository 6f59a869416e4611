// The assignment of one register bank's virtual registers to the physical
// registers of the target. Every group of results that packing and renaming
// made is a virtual register of up to four components; they are placed one
// at a time, widest first, in reverse program order, each where a copy
// partner already lies when that is free, else in the cheapest register and
// components whose live values do not collide with it. Values in mutually
// exclusive arms of one block may share a component; a value read inside a
// loop stays live to the loop's end.
//
// The context is the program's allocator context while it assigns; it
// serves the final assignment (commit mode) and the trial assignments with
// which texture hoisting and instruction pairing test their moves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

struct AssignReplay;

struct RegisterAllocatorContext {
  RegisterAllocatorContext();
  ~RegisterAllocatorContext();
  RegisterAllocatorContext(const RegisterAllocatorContext&) = delete;
  RegisterAllocatorContext& operator=(const RegisterAllocatorContext&) = delete;

  // Prepares the assignment of `bank` into `limit` physical registers: the
  // virtual registers, copy affinities, no-overlap pairs and room for the use
  // records. E_OUTOFMEMORY (what was made stays until Release). With
  // `usesStand` the caller vouches that nothing changed the program since
  // the last Build or Assign analysed it (only trial assignments ran), and
  // the use analysis is taken as it stands.
  HRESULT Build(ShaderProgram& program, std::uint32_t bank, std::uint32_t limit, bool usesStand = false);
  // Places every virtual register in the program's current order. In commit
  // mode the values take their physical registers and a value that fits
  // nowhere is reported (error 4004); E_FAIL when one does not fit.
  HRESULT Assign(bool commit);
  // Frees the arrays and clears the context; the program's allocator
  // pointer no longer names it.
  HRESULT Release();

  // Trial assignments of reorderings of one program (texture hoisting,
  // instruction pairing): after KeepReplays (between Build and the first
  // Assign), each run keeps its placements, and Reassign answers as
  // Assign(false) does for the program's current order while it reuses the
  // last run's placements wherever the instructions that moved since cannot
  // change them. It falls back to Assign(false) for programs with relative
  // reads or registers built up in place, and when the instructions came or
  // went; also for programs with flow control or predicates, unless
  // `blocks` vouches that the moves keep every flow-control instruction in
  // its place and move nothing across one. The program's use analysis is not
  // rebuilt by a reuse.
  HRESULT KeepReplays(bool blocks = false);
  HRESULT Reassign();
  // Whether the last Reassign reused the run before it (else it assigned
  // afresh); the placements of every virtual register after the last run.
  bool Reused() const;
  bool SamePlacements(const std::uint32_t* physical, const std::uint32_t* components) const;
  const std::uint32_t* Placements() const { return m.physical.get(); }
  const std::uint32_t* PlacedComponents() const { return m.physicalComponent.get(); }

  // Places the virtual register of `value` (then the values of its
  // relative-index chain) with a parity bias and an optional partner whose
  // no-overlap neighbours it avoids.
  HRESULT AssignValue(std::uint32_t value, std::int32_t bias, std::uint32_t partner);
  // AssignValue of the value's predicate, when it has one.
  HRESULT AssignParent(std::uint32_t value);
  // The cost of placing the virtual register of `value` in physical register
  // `reg`, with its component map through `map`; kImpossible when it cannot
  // go there. Stops early once the cost reaches `bound`.
  static constexpr std::uint32_t kImpossible = 0xFFFFFFFFu;
  std::uint32_t PlacementCost(std::uint32_t value, std::uint32_t reg, std::int32_t bias, std::uint32_t map[4],
                              std::uint32_t bound) const;
  // A placed value in (reg, component) whose live range collides with that
  // of `value`, or kNoIndex.
  std::uint32_t FindConflict(std::uint32_t value, std::uint32_t reg, std::uint32_t component) const;
  // Whether two values are live at once on one path.
  bool Collide(std::uint32_t a, std::uint32_t b) const;
  // Whether a value of the virtual component that `first` heads collides there.
  bool SlotCollides(std::uint32_t first, std::uint32_t reg, std::uint32_t component) const;

  // The physical place of a value after an assignment; kNoIndex before.
  std::uint32_t PhysicalRegister(std::uint32_t value) const;
  std::uint32_t PhysicalComponent(std::uint32_t value) const;
  std::uint32_t Bank() const { return m.bank; }
  std::uint32_t Limit() const { return m.limit; }
  std::uint32_t VirtualCount() const { return m.virtualCount; }
  // The virtual register of a value the assignment places; kNoIndex for others.
  std::uint32_t PlacedRegister(std::uint32_t value) const {
    return m.sequence && value < m.programValues && m.sequence[value] != kNoIndex ? VirtualRegister(value) : kNoIndex;
  }
  // The registers a virtual register must not share with (with repeats).
  std::uint32_t OverlapCount(std::uint32_t vreg) const { return m.overlapCount[vreg]; }
  // After an assignment: the threshold at which a virtual register read by
  // an instruction is placed, the larger of its component count and its
  // copy partners' (at most 4).
  std::uint32_t PlacementWidth(std::uint32_t vreg) const {
    return std::min(4u, std::max(m.used[vreg], m.partnerWidth[vreg]));
  }
  // After an assignment: the components a virtual register uses, and
  // whether they keep their places (else any free ones take them).
  std::uint32_t UsedComponents(std::uint32_t vreg) const { return m.used[vreg]; }
  bool KeepsComponents(std::uint32_t vreg) const;

 private:
  struct Record {
    std::uint32_t position, predicate, sense;
  };
  // A value placed in a physical component, with the furthest end of it and
  // of every value placed there that begins no later.
  struct Placed {
    std::uint32_t begin, end, value, reach;
  };
  struct LoopExtent {
    std::uint32_t begin, end, value;
  };
  // The use records of `value` (and its relative-index chain) at an
  // instruction: counted while building, filled while assigning.
  void RecordUse(std::uint32_t value, std::uint32_t position, const IrInstruction& at);
  void RecordDefinition(std::uint32_t value, std::uint32_t position, const IrInstruction& at);
  // The values a group of a copy stands for: a loop-entry copy stands for
  // the argument of the copy instruction at its place.
  std::uint32_t CopySource(std::uint32_t value) const;
  bool InBank(std::uint32_t value) const;
  std::uint32_t VirtualRegister(std::uint32_t value) const;
  HRESULT BuildEdges(bool fill);
  // Per sequence: the latest use record of each arm, latest first.
  void KeepLatestRecords(std::uint32_t sequence);
  // The placement walk over the program's current order, from cleared places.
  // PlaceAll's steps, then the compile charged for every probe of the run.
  HRESULT PlaceAll();
  HRESULT PlaceAllSteps();
  // Replays (assign_replay.cpp): the decision of the run before for a
  // virtual register, when nothing that moved since can change it; each
  // placement noted; the run's end.
  bool AdoptPlacement(std::uint32_t value, std::uint32_t vreg, std::int32_t bias, std::uint32_t partner,
                      std::uint32_t* reg, std::uint32_t map[4], std::uint32_t* cost);
  HRESULT NotePlacement(std::uint32_t value, std::uint32_t vreg, std::int32_t bias, std::uint32_t partner,
                        std::uint32_t reg, const std::uint32_t map[4], std::uint32_t cost);
  // Whether a no-overlap neighbour of virtual register `of` lies in `reg`.
  bool NeighbourIn(std::uint32_t of, std::uint32_t reg) const;
  // Whether the ranges of a virtual register's values lie clear of every
  // moved end (after MarkBand).
  bool ClearOfBand(std::uint32_t vreg) const;
  bool MeetsBand(std::uint32_t value) const;
  void FillWalk(std::uint32_t lo, std::uint32_t hi);
  void MarkBand();
  HRESULT TakeOverPrefix(std::uint32_t* resume);
  HRESULT PrepareReplays();
  HRESULT FinishRun(bool complete);
  HRESULT ReassignInPlace(bool* done);
  void RecomputeRange(std::uint32_t value);
  void UpdateDifference(std::uint32_t vreg);
  // The hull of the ranges of a virtual register's values, also over the
  // ranges its moved values had in the run before when `withBefore`.
  void RangeHull(std::uint32_t vreg, bool withBefore, std::uint32_t* lo, std::uint32_t* hi) const;
  HRESULT Place(std::uint32_t vreg, std::uint32_t reg, const std::uint32_t map[4]);
  // The register just taken, moved to the back of the rotation window (without optimisation).
  void Rotate(std::uint32_t reg);
  // Whether placing `value` now would do nothing: its register is placed,
  // too narrow for the pass, or of another bank (nothing read through an index).
  bool Settled(std::uint32_t value) const {
    if (value >= m.programValues) return false;
    const std::uint32_t vreg = m.readAs[value];
    return vreg == kNoIndex - 1 ||
           (vreg != kNoIndex &&
            (m.physical[vreg] != kNoIndex || (m.used[vreg] < m.threshold && m.partnerWidth[vreg] < m.threshold)));
  }
  HRESULT Fail();

  // Everything the context holds; Release puts it back to this.
  struct State {
    ShaderProgram* program = nullptr;
    std::uint32_t bank = kNoIndex;
    std::uint32_t threshold = 0;  // a virtual register narrower than this waits
    std::uint32_t limit = 0;      // physical registers
    std::uint32_t virtualCount = 0;
    std::uint32_t valueCount = 0;  // values of the bank, numbered by their sequence
    std::uint32_t programValues = 0;
    std::uint32_t rotationWindow = 0;
    std::uint32_t flags = 0;
    bool filling = false;                    // records are filled (Assign), not counted (Build)
    bool usesFresh = false;  // the use analysis Build made still stands: nothing ran since
    const IrInstruction* current = nullptr;  // for the position of a message

    // Per virtual register (four entries where per component).
    std::unique_ptr<std::uint32_t[]> used, partnerWidth, physical, physicalComponent, valueAt;
    std::unique_ptr<std::uint32_t[]> affinityCount, affinityStart, affinityList;
    std::unique_ptr<std::uint32_t[]> overlapCount, overlapStart, overlapList;
    std::unique_ptr<std::uint8_t[]> keepComponents;
    // Per physical component: the values placed there, by definition; per
    // physical register: the order in which registers are tried.
    std::unique_ptr<PodArray<Placed>[]> placed;
    std::unique_ptr<std::uint32_t[]> order;
    // Per value of the program: its sequence in the bank and its live range
    // (definition, last use).
    std::unique_ptr<std::uint32_t[]> sequence, begin, end;
    std::unique_ptr<const IrInstruction*[]> definer;
    // Per value of the program, for the walk's quick exit: the virtual
    // register it is read as (aliases resolved), kNoIndex - 1 when it is of
    // another bank, kNoIndex when it reads through an index.
    std::unique_ptr<std::uint32_t[]> readAs;
    bool unguarded = false;  // no value has a predicate: results have no parents to place
    bool loopMerges = false;  // some instruction merges a loop's values
    std::unique_ptr<std::uint32_t[]> ownRegister;  // per value of the bank: its virtual register
    // Per virtual register: read by an instruction (placed by the walk's
    // passes); per pass width: such registers not yet placed.
    std::unique_ptr<std::uint8_t[]> read;
    bool countWaiting = false;
    std::uint32_t waiting[5] = {};
    std::uint32_t walkPosition = kNoIndex;  // the instruction the widest passes' walk is at
    // Per value: the next value of the same virtual register component.
    std::unique_ptr<std::uint32_t[]> slotNext;
    // Per sequence: use records (counted, started, filled, kept).
    std::unique_ptr<std::uint32_t[]> recordCount, recordStart, recordFilled, recordKept, recordOrder;
    std::unique_ptr<Record[]> records;
    std::uint32_t totalRecords = 0;
    // Collisions tested, placements weighed and records filled since the
    // compile was last charged for them.
    mutable std::uint64_t probes = 0;
  };
  State m;
  PodArray<LoopExtent> m_loops;  // of the assignment running
  std::unique_ptr<AssignReplay> m_replay;
};

using RegisterAssignment = RegisterAllocatorContext;

}  // namespace gxl::shader
