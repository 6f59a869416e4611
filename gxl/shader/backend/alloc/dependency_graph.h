// The local search that improves the order of a program with flow control:
// blocks of instructions move up or down within their flow-control region
// while the total and the peak register pressure of the order improve.
//
// Pressure counts the values an instruction defines and another reads
// (outputs and values that arrive initialised do not count), from their
// definition to their last reader in the current order; it is measured
// exactly after every move, so an accepted move never makes it worse.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

// The positions the improvement rounds of one run may scan and re-measure,
// per instruction and in all; past them the order found so far stands. A
// round costs at least the program's length and a program takes about as
// many rounds as it has instructions, so the search left alone grows with
// the square of the program: this keeps it in proportion to the rest of the
// compile, which grows with the program (a position costs about 20 ns, an
// instruction's unoptimised compile some 35 us). Past 341 instructions the
// bound in all holds (some 40 ms), so that a long program's search, with
// the trials of pairing after it, leaves its optimised compile within a few
// times its unoptimised one. The corpus needs at most 4,941 per instruction
// (ntsc's 321 instructions: 1.59 million in all).
constexpr std::uint64_t kImproveWorkPerInstruction = 6144;
constexpr std::uint64_t kImproveWorkInAll = std::uint64_t{1} << 21;
inline std::uint64_t ImproveWorkBound(std::uint64_t instructions) {
  return std::min(kImproveWorkPerInstruction * instructions, kImproveWorkInAll);
}

// Sorts `count` indexes ascending and drops repeats; the new count through `count`.
void SortUniqueIndices(std::uint32_t* indices, std::uint32_t* count);
std::int32_t CompareUnsigned(std::uint32_t a, std::uint32_t b, const void* unused);
// Positions of a graph (the context) by the pressure before them, higher
// first; ties by the instruction there, lower first.
std::int32_t ComparePressure(std::uint32_t a, std::uint32_t b, const void* graph);

class DependencyGraph : public ProgramPass {
 public:
  // Over the program's instructions as they stand; they must be compact,
  // with current dependency lists.
  explicit DependencyGraph(ShaderProgram* program);
  ~DependencyGraph() override;

  using ProgramPass::Run;
  // Collects reads and definitions; with a non-zero mode improves the order
  // and rewrites the instruction list in it. 0, or E_OUTOFMEMORY with the
  // order unchanged.
  HRESULT Run(std::uint32_t mode);
  // Pressure of the current order: the sum over positions of the values
  // live before each, and its maximum. Either pointer may be null. The
  // order's deltas and last readers become those the moves go by.
  void MeasurePressure(std::uint64_t* total, std::uint32_t* peak);
  // One round: 0 when a move improved the order, 1 when none does.
  HRESULT ImproveOnce();
  // Moves the block starting with the instruction at `position` as far as
  // pays: 0 improved (the order keeps it), 1 not (the order restored).
  HRESULT TryMove(std::uint32_t position);
  // TryMove as the reference switch runs it: the block's reads and their
  // first uses marked afresh after every step.
  HRESULT TryMoveInFull(std::uint32_t position);
  // Reverses order[from .. to - 1].
  void ReverseRange(std::uint32_t from, std::uint32_t to);

  // The positions the improvement rounds may scan and re-measure before
  // the order found so far stands, when below the bound that grows with the
  // program (tests lower it).
  void SetWorkLimit(std::uint64_t positions) { m_workLimit = positions; }
  // The positions the last run's rounds scanned and re-measured.
  std::uint64_t WorkSpent() const { return m_workGiven - m_work; }

  std::uint32_t InstructionAt(std::uint32_t position) const { return m_order[position]; }
  std::uint32_t PressureBefore(std::uint32_t position) const { return m_before[position]; }

 private:
  // Takes `positions` from the work left to the rounds; false (and the
  // search ends) when not that many are left.
  bool Spend(std::uint64_t positions);
  // The positions in ComparePressure's order, by counting; false when a
  // pressure lies beyond the counts.
  bool SortCandidates();
  // The reads of `instruction` from `value`: the value (through its alias)
  // and the values along its relative-index chain.
  // False when memory runs out.
  bool RecordReads(std::uint32_t instruction, std::uint32_t value);
  // A result that counts for pressure, and the read of its predicate.
  bool RecordDefinitions(std::uint32_t instruction, std::uint32_t value);
  HRESULT Collect();
  // Stamps the instructions that depend on, or are depended on by, those of order[from, to).
  void StampDependences(std::uint32_t from, std::uint32_t to);
  // The pressure of the current order; with `base` it also becomes what the
  // moves of a round go by: the deltas, last readers and pressure before.
  void Measure(std::uint64_t* total, std::uint32_t* peak, bool base);
  // True when the order is better than the best measured.
  bool Improved();
  // Adds the reads of order[from, to) not yet in `list` (marked with `stamp`
  // in `mark`); false when memory runs out.
  bool AddReads(PodArray<std::uint32_t>& list, std::uint32_t* mark, std::uint32_t stamp, std::uint32_t from,
                std::uint32_t to);
  // The running measurement after order[from, to) was permuted: only the
  // last readers and the pressure inside the range can change.
  void Remeasure(std::uint32_t from, std::uint32_t to);
  // The running measurement back to that of the round's start.
  void ResetRunning();

  std::uint32_t m_count = 0;   // instructions
  std::uint32_t m_values = 0;  // values of the program
  std::unique_ptr<IrInstruction*[]> m_table;
  // Reads and definitions per instruction: offsets into the lists.
  std::unique_ptr<std::uint32_t[]> m_readStart, m_readCount, m_definitionStart, m_definitionCount;
  PodArray<std::uint32_t> m_readList, m_definitionList;
  PodArray<std::uint32_t> m_blockReads, m_jumpedReads, m_scratch, m_definitions;
  std::unique_ptr<std::int32_t[]> m_delta;    // per instruction, in the current order
  std::unique_ptr<std::uint32_t[]> m_before;  // per position
  std::unique_ptr<std::uint32_t[]> m_order, m_savedOrder, m_candidates;
  std::unique_ptr<std::uint8_t[]> m_barrier;
  std::unique_ptr<std::uint32_t[]> m_instructionStamp;
  // Per value: counted for pressure, its last reader's position, its stamp
  // and what the moving block means to it (1: the block reads it last, -1:
  // an instruction jumped over does, 0: neither).
  std::unique_ptr<std::uint8_t[]> m_tracked;
  std::unique_ptr<std::uint32_t[]> m_lastPosition, m_trialPosition, m_lastReader, m_valueStamp;
  std::unique_ptr<std::int8_t[]> m_firstUse;
  std::unique_ptr<std::uint32_t[]> m_inBlock;  // per instruction: the attempt whose block holds it
  std::uint32_t m_stamp = 0, m_attempt = 0;
  std::unique_ptr<std::uint32_t[]> m_levelStart, m_positionOf;  // scratch of SortCandidates
  std::uint64_t m_workLimit, m_work = 0;  // positions the rounds may still scan and re-measure
  std::uint64_t m_workGiven = 0;          // of a run, at its start
  bool m_spent = false;
  std::uint32_t m_bestPeak = 0;
  std::uint64_t m_bestTotal = 0;

  // Unique read lists without sorting: per value the attempt (block) or the
  // scan (jumped range) that listed it.
  std::unique_ptr<std::uint32_t[]> m_blockMark, m_jumpMark;
  std::uint32_t m_scan = 0;
  // The running measurement of the order as moves change it: each value's
  // last read position, the pressure before each position with a count of
  // positions per pressure, the total and the peak. What it touched since
  // the round's start is put back from the round's measurement.
  bool m_running = false;  // off while a pressure lies outside the counts
  std::unique_ptr<std::uint32_t[]> m_runLast, m_runBefore, m_runCount, m_runMark, m_definedCount;
  std::unique_ptr<std::uint32_t[]> m_runEnds;  // per position: the values Remeasure found last read there
  // Per instruction: whether its first result exists, and that result's
  // predicate and sense (the region the scans ask about).
  std::unique_ptr<std::uint8_t[]> m_hasLead;
  std::unique_ptr<std::uint32_t[]> m_leadPredicate, m_leadSense;
  PodArray<std::uint32_t> m_runValues;
  std::uint32_t m_runStamp = 0, m_runPeak = 0, m_touchLo = 0, m_touchHi = 0;
  std::uint64_t m_runTotal = 0;
};

}  // namespace gxl::shader
