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

#include "gxl/shader/backend/alloc/fit_bound.h"
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
  // The trial assignments the last Run ran (orders the bounds proved not counted).
  std::uint32_t Trials() const { return m_trials; }

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
  // Whether the bank of `context` fits (S_OK) or not (S_FALSE) in the current
  // order, by the bound's proof where it has one, else by the assignment;
  // E_OUTOFMEMORY. `spend`: an assignment that finds the budget short does
  // not run and ends the walk.
  HRESULT Fits(RegisterAssignment& context, const FitBound& bound, bool spend);
  // The instruction at `from` moves to `to`, in the program and the working order.
  void Move(std::uint32_t to, std::uint32_t from);
  // The program back in the order last accepted.
  void Restore();
  // Whether the instruction at `q` is an input of one at (q, p]: such an
  // instruction stays where it is while the walk from p looks for partners.
  bool FeedsRange(std::uint32_t q, std::uint32_t p) const;
  // The next place below q the walk from p looks at: every place with the
  // reference switch, else the next that is no input of (q, p], is empty or
  // ends the walk.
  std::uint32_t Below(std::uint32_t q, std::uint32_t p) const;
  // The key of an instruction for Below: its first reader's place; above
  // every place when it ends every walk, 0 when empty.
  std::uint32_t WalkKey(std::uint32_t instruction) const;
  // First readers and keys after the instructions at [from, to] moved.
  void NoteReaders(std::uint32_t from, std::uint32_t to);
  void NoteAllReaders();
  // The walk from p passed the instruction at q.
  HRESULT Visit(std::uint32_t q, std::uint32_t p);
  IrInstruction& At(std::uint32_t position) const { return *m_table[m_order[position]]; }

  ShaderProgram& m_p;
  RegisterAssignment m_temporaries, m_address;
  // Proofs that the trial orders fit, kept up to date by every move while
  // instructions are gathered (co-issue pairing reads the assignment itself).
  FitBound m_temporariesBound, m_addressBound;
  std::unique_ptr<IrInstruction*[]> m_table;  // the instructions the dependency lists index
  // The working order and the order last accepted, as indexes into the table.
  std::unique_ptr<std::uint32_t[]> m_order, m_saved;
  std::unique_ptr<std::uint32_t[]> m_position;  // per table index: its place in the working order
  // Per table index: the place of its first reader (kNoIndex: none); and per
  // place the walk keys in a tree of maxima.
  std::unique_ptr<std::uint32_t[]> m_firstReader;
  class Readers {
   public:
    bool Prepare(std::uint32_t count);
    void Set(std::uint32_t position, std::uint32_t key);
    // The last place before `end` whose key exceeds `bound`; kNoIndex when none.
    std::uint32_t LastAbove(std::uint32_t end, std::uint32_t bound) const;

   private:
    std::uint32_t m_leaves = 0;
    std::unique_ptr<std::uint32_t[]> m_tree;
  } m_readers;
  std::unique_ptr<Kinds[]> m_kinds;  // per table index
  std::uint32_t m_count = 0;
  bool m_physicalComponents = false;  // components are the values' own: no assignment to test
  // Instructions the trial assignments may still walk; once spent, the pass
  // keeps the order it has. Real programs take a small share of it.
  std::uint64_t m_budget = 0;
  bool m_spent = false;
  std::uint32_t m_trials = 0;
  // The reference switch: inputs found by the stamps of the walks
  // (StampPredecessors) instead of by the positions of their readers.
  bool m_walks = false;
};

}  // namespace gxl::shader
