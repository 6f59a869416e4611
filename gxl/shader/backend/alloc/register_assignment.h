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

struct RegisterAllocatorContext {
  RegisterAllocatorContext() = default;
  ~RegisterAllocatorContext() { Release(); }
  RegisterAllocatorContext(const RegisterAllocatorContext&) = delete;
  RegisterAllocatorContext& operator=(const RegisterAllocatorContext&) = delete;

  // Prepares the assignment of `bank` into `limit` physical registers: the
  // virtual registers, copy affinities, no-overlap pairs and room for the use
  // records. E_OUTOFMEMORY (what was made stays until Release).
  HRESULT Build(ShaderProgram& program, std::uint32_t bank, std::uint32_t limit);
  // Places every virtual register in the program's current order. In commit
  // mode the values take their physical registers and a value that fits
  // nowhere is reported (error 4004); E_FAIL when one does not fit.
  HRESULT Assign(bool commit);
  // Frees the arrays and clears the context; the program's allocator
  // pointer no longer names it.
  HRESULT Release();

  // Places the virtual register of `value` (then the values of its
  // relative-index chain) with a parity bias and an optional partner whose
  // no-overlap neighbours it avoids.
  HRESULT AssignValue(std::uint32_t value, std::int32_t bias, std::uint32_t partner);
  // AssignValue of the value's predicate, when it has one.
  HRESULT AssignParent(std::uint32_t value);
  // The cost of placing the virtual register of `value` in physical register
  // `reg`, with its component map through `map`; 0xFFFFFFFF when it cannot
  // go there. Stops early once the cost reaches `bound`.
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
  HRESULT Place(std::uint32_t vreg, std::uint32_t reg, const std::uint32_t map[4]);
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
    // Per value: the next value of the same virtual register component.
    std::unique_ptr<std::uint32_t[]> slotNext;
    // Per sequence: use records (counted, started, filled, kept).
    std::unique_ptr<std::uint32_t[]> recordCount, recordStart, recordFilled, recordKept, recordOrder;
    std::unique_ptr<Record[]> records;
    std::uint32_t totalRecords = 0;
  };
  State m;
  PodArray<LoopExtent> m_loops;  // of the assignment running
};

using RegisterAssignment = RegisterAllocatorContext;

}  // namespace gxl::shader
