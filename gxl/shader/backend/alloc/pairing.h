// The last reordering before code generation: with the temporaries (and
// address registers) proven to fit, the program is walked backwards and
// earlier independent instructions are moved next to later ones. On targets
// that co-issue a colour and an alpha instruction, an instruction writing
// only colour components is paired with one writing only alpha; elsewhere
// instructions of the same expression tree (same predicate) are gathered.
// Every move stands only when the registers still fit.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/backend/alloc/register_assignment.h"
#include "gxl/shader/backend/ir/shader_program.h"

namespace gxl::shader {

// Depth-first stamps over the dependency lists, which index `table` (the
// instructions as they stood when the lists were built): the instruction
// and every instruction it depends on (Predecessors) or that depends on it
// (Successors) get `stamp` in their pinned field, or in word 10 (Alt). The
// walks keep their own stack: E_OUTOFMEMORY when it cannot grow, else 0.
HRESULT StampPredecessors(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp);
HRESULT StampPredecessorsAlt(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp);
HRESULT StampSuccessors(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp);
HRESULT StampSuccessorsAlt(IrInstruction* const* table, std::uint32_t instruction, std::uint32_t stamp);

// Moves the instruction at `from` to `to`, the ones between shifting by one.
void MoveInstruction(ShaderProgram& program, std::uint32_t to, std::uint32_t from);

class InstructionPairing {
 public:
  explicit InstructionPairing(ShaderProgram& program) : m_p(program) {}
  // 1 when skipped (no optimisation) or when no assignment fits, 0 after
  // the walk, E_OUTOFMEMORY.
  HRESULT Run();
  // Moves an instruction writing only the other kind (colour or alpha) next
  // to the one at `position`: 0 moved, 1 not.
  HRESULT PairForCoIssue(std::uint32_t position, bool colour, bool alpha);
  // Moves an independent instruction of the same predicate as the one
  // before `position` next to it: 0 moved, 1 not.
  HRESULT GatherSameTree(std::uint32_t position, bool addressCheck);

 private:
  struct Kinds {
    bool colour, alpha;
  };
  // What an instruction writes, with the temporaries where the last trial
  // assignment put them.
  Kinds KindsOf(const IrInstruction& inst) const;
  // KindsOf every instruction, kept from the last assignment that fitted.
  void NoteKinds();
  // The trial assignment of the temporaries: E_OUTOFMEMORY, else whether they fit.
  HRESULT TemporariesFit();
  // The instruction at `from` moves to `to`, in the program and the working order.
  void Move(std::uint32_t to, std::uint32_t from);
  // The program back in the order last accepted.
  void Restore();
  IrInstruction& At(std::uint32_t position) const { return *m_table[m_order[position]]; }

  ShaderProgram& m_p;
  RegisterAssignment m_temporaries, m_address;
  std::unique_ptr<IrInstruction*[]> m_table;  // the instructions the dependency lists index
  // The working order and the order last accepted, as indexes into the table.
  std::unique_ptr<std::uint32_t[]> m_order, m_saved;
  std::unique_ptr<Kinds[]> m_kinds;  // per table index
  std::uint32_t m_count = 0;
  bool m_physicalComponents = false;  // components are the values' own: no assignment to test
  // Instructions the trial assignments may still walk; once spent, the pass
  // keeps the order it has. Real programs take a small share of it.
  std::uint64_t m_budget = 0;
  bool m_spent = false;
};

}  // namespace gxl::shader
