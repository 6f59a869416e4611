// The rounds of the first optimiser phase kept in step with the program, so
// that a round whose passes change a few instructions of a long program costs
// in proportion to what they change instead of to the program.
//
// The upkeep holds an image of every value and instruction as the last pass
// left it. A pass run in full is followed by a comparison of the whole program
// with the images; a pass run incrementally watches the lists (ListJournal)
// and compares only the records it reached. Either way the records that
// changed are known exactly, and from them the upkeep keeps:
// - who reads and writes each value (the use analysis of RebuildDefUse is set
//   from it for the values whose reads or writes changed);
// - per walk of a pass over the instructions, the positions whose outcome may
//   differ from that walk's last run: every instruction that reads, within
//   kReach steps along the readers of values, something that changed (the
//   passes look back no further through the instructions that define their
//   arguments, and through negations and reciprocals at any depth);
// - the liveness of RemoveDeadCode and the guards of RecomputePredicates as
//   reference counts, and the keys of MergeCommonInstructions,
//   MergeEquivalentValues and MergeDuplicateValues in tables, so that those
//   passes see at once whether anything is left for them to do.
// An incremental pass does what the full pass would do, step for step, at the
// positions whose outcome may differ; where it cannot tell, it runs the full
// pass. The upkeep serves programs without relative addressing or aliases
// whose instructions read values written before them, once, and name guards
// written before them (what the lowering leaves, unrolled or not); a program
// outside that class, or small, runs every pass in full.
//
// Flow control (blocks, loops, guards) is held still while the upkeep
// stands: a round that changes an instruction of blocks or loops, a value of
// their banks, or a guard that is not "always" or "never" into another one
// ends it (it is set up again some rounds later); a guard that ends at
// "always" or "never" (what dies inside a block) is followed. Between such
// rounds:
// - liveness counts the guards live values name, and pins the values each
//   loop carries to one another, with the reads of them from outside the
//   loop counted: where those end, or a value inside a loop loses a read
//   from outside it, the group may hold only itself, and the next run is
//   the full pass's (the counts are then set from it);
// - RecomputePredicates' two walks are kept from the guard each value's
//   readers ask for, from the values whose readers changed;
// - a condition whose definitions changed is decided by the full pass
//   where it is decided now, and otherwise has what it guards looked at
//   again (what it implies may have changed).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/ir/list_journal.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace upkeep {
class ValueImages;
class ReaderLists;
}  // namespace upkeep

// The passes of one round, in their order.
enum class RoundPass : std::uint8_t {
  Fold,
  DeadCode,
  Components,
  Common,
  Equivalent,
  Arithmetic,
  Indexes,
  Predicates,
  Guards,
};

// The program's own pass of that name, in full.
HRESULT RunRoundPass(ShaderProgram& p, RoundPass pass);

class RoundUpkeep {
 public:
  explicit RoundUpkeep(ShaderProgram& p);
  ~RoundUpkeep();
  RoundUpkeep(const RoundUpkeep&) = delete;
  RoundUpkeep& operator=(const RoundUpkeep&) = delete;

  // Runs `pass` as ShaderProgram's pass of that name would, incrementally
  // where it can; its status.
  HRESULT Run(RoundPass pass);
  // After the last round: the lists unwatched and the use analysis set in
  // full, as the last pass's rebuild left it.
  HRESULT Finish();

  struct Tables;  // liveness, guards and merge keys (round_upkeep_parts.h)
  // The walks of the passes over the instructions, each with its own
  // positions to visit.
  enum Walk : std::uint8_t {
    kFoldWalk,
    kComponentWalk,
    kReassociateWalk,
    kSignWalk,
    kCoefficientWalk,
    kDropWalk,
    kImpliedWalk,
    kWalkCount
  };

 private:
  // An instruction as the last comparison saw it.
  struct InstructionImage {
    const IrInstruction* node = nullptr;
    std::uint32_t word = 0, argumentCount = 0, resultCount = 0;
    std::uint32_t offset = 0, capacity = 0;  // its operands in m_operands: arguments, then results
    std::uint32_t pinned = 0, word10 = 0, level = 0, predicate = 0, word14 = 0, statementSequence = 0,
                  inlineDepth = 0;
    std::int32_t orderKey = 0;
    const ParseNode* sourcePosition = nullptr;
  };

  // Stop at the end of a scope, however a pass leaves it.
  class StopAtEnd {
   public:
    explicit StopAtEnd(RoundUpkeep& u) : m_u(u) {}
    ~StopAtEnd() { m_u.Stop(); }
    StopAtEnd(const StopAtEnd&) = delete;
    StopAtEnd& operator=(const StopAtEnd&) = delete;

   private:
    RoundUpkeep& m_u;
  };

  // --- Set-up and comparison (round_upkeep.cpp)
  bool Build();
  void Drop();
  // Drop, and try the set-up again some rounds later.
  void Shed();
  void Attach();
  // Collect, then the journals detached.
  bool Stop();
  // Compares what the journals noted (`all`: every record) with the images,
  // hands what changed to Dispatch and takes the new images. False when the
  // upkeep no longer holds (lists cut, banks changed, memory): dropped then.
  // Without `banks` the banks' fields are not compared: a step of a walk
  // changes none (the use analysis and the removal of unused values do,
  // outside the walks), and the pass's end compares them.
  bool Collect(bool all, bool banks = true);
  bool ValueChanged(std::uint32_t v) const;
  // The image of the k-th changed value as it stood before the change; null
  // for a value that is new or was absent.
  const IrValue* OldValue(std::size_t k) const { return m_oldPresent[k] ? &m_oldValues[k] : nullptr; }
  bool InstructionChanged(std::uint32_t position) const;
  void TakeImage(std::uint32_t position);
  const std::uint32_t* ImageArguments(std::uint32_t position) const;
  const std::uint32_t* ImageResults(std::uint32_t position) const;
  // What the changes mean for the index, the tables and the walks.
  void Dispatch();
  // The program's own pass, then a full comparison.
  HRESULT RunFull(RoundPass pass);
  HRESULT RunOwn(RoundPass pass);
  HRESULT RunIncremental(RoundPass pass);
  // The upkeep's work owed so far charged; `status` unless the meter refuses.
  HRESULT ChargeOwed(HRESULT status);
  // With the program's check switch: the pass in full on a copy, compared
  // with what the upkeep's run left.
  struct Shadow;
  std::unique_ptr<Shadow> MakeShadow(RoundPass pass);
  void Compare(const Shadow& shadow, HRESULT status);

  // --- Index, use analysis, redirections (round_upkeep.cpp)
  // The instructions that name the value among their arguments (results)
  // now, distinct; the lists compacted.
  void Readers(std::uint32_t value, std::vector<std::uint32_t>& out);
  bool Reads(std::uint32_t position, std::uint32_t value) const;
  void UseWindow(std::uint32_t value, std::uint32_t* first, std::uint32_t* last);
  void Writers(std::uint32_t value, std::vector<std::uint32_t>& out);
  // The non-empty instruction writing the value (there is one at most).
  std::uint32_t Writer(std::uint32_t value) const;
  void MarkUses(std::uint32_t value);
  // RebuildDefUse's fields for the values whose reads or writes changed.
  HRESULT RefreshUses();
  // NumberValues over the values that may be redirected.
  void NumberValues();
  // ForwardRedirections over the redirected values; false when none was.
  bool ForwardRedirections();
  bool Topological(std::uint32_t position) const;
  // A change of a value that moves the blocks of the program: of a value of
  // the blocks' banks, or of a guard that is not "always" or "never".
  bool FlowChange(const IrValue* old, const IrValue* x) const;

  // --- Walks and the passes made of them (round_upkeep_walks.cpp)
  void MarkWalk(Walk walk, std::uint32_t position);
  void MarkReach(std::uint32_t position);
  void ReachCondition(std::uint32_t position);
  // The instruction at `position` listed under each block its results' guards name.
  void IndexGuarded(std::uint32_t position);
  // What reads `value` is reached, `left` steps along readers still to go.
  void Spread(std::uint32_t value, std::uint32_t left);
  void Reach();
  bool Small(Walk walk) const;
  void TakeAll(Walk walk);
  template <class Step>
  HRESULT RunWalk(Walk walk, bool descending, Step step);
  HRESULT FoldConstants();
  HRESULT MergeDuplicateComponents();
  HRESULT SimplifyArithmetic();
  HRESULT ResolveConstantIndexes();
  HRESULT SimplifyPredicates();

  // --- Tables and the passes they serve (round_upkeep_tables.cpp)
  void BuildTables();
  void TablesNoteInstruction(std::uint32_t position, bool existed);
  void TablesNoteValue(std::uint32_t value, const IrValue* old);
  // A value became live or dead (needed or not): its writer's mask is due.
  void Flip(std::uint32_t value, bool live);
  // The live reads (needs) of a value changed by `by`, by the instruction
  // at `reader` (or the writer of a guarded value).
  void Count(std::uint32_t value, int by, bool live, std::uint32_t reader);
  void TablesSettle();

  // --- Blocks and loops (round_upkeep_flow.cpp)
  // Liveness as RemoveDeadCode leaves it, counted afresh.
  void BuildLiveness();
  // What a loop end's result k carries: the result, what the end reads, the
  // merge's entry copy and what that copies (kNoIndex where none).
  void CarriedGroup(const IrInstruction& end, std::uint32_t k, std::uint32_t out[4]) const;
  // The loops, their groups and the support of each from outside.
  void FindLoops(const std::vector<std::uint8_t>& live);
  // The live reads of `value` changed by `by` at the instruction at
  // `reader`: whether what a loop carries may be left holding itself alone.
  bool MayStrand(std::uint32_t value, std::uint32_t reader, int by);
  // Whether RemoveDeadCode keeps the value (its writer's mask where that is
  // not component-wise).
  bool Live(std::uint32_t value) const;
  // The guard the value's liveness holds live brought up to date.
  void NameGuard(std::uint32_t value);

  // --- Guards with blocks (round_upkeep_guards.cpp)
  bool FixedGuard(std::uint32_t value) const;
  // What the readers of a value ask for (RecomputePredicates' first walk).
  opt::Guard Asked(std::uint32_t value) const;
  opt::Guard AskOf(const IrInstruction& inst, std::uint32_t argument) const;
  opt::Guard AskedOf(std::uint32_t value, std::uint64_t* work);
  opt::Guard AvailableAt(opt::Guard g, std::uint32_t position) const;
  // What the results of the instruction at `position` get from the first
  // walk; *sure cleared where the pass's walk would read a partial widening.
  void ResultsAsked(std::uint32_t position, std::vector<opt::Guard>& out, std::uint64_t* work, bool* sure);
  // The first walk over the whole program.
  void BuildGuards();
  // The guard the second walk leaves a value with.
  opt::Guard Relaxed(std::uint32_t value, const std::unordered_map<std::uint32_t, opt::Guard>& final) const;
  // Both walks from the values whose guards may differ; S_FALSE where that
  // reaches too far or a guard would move an instruction (the full pass's).
  HRESULT UpdateGuards(bool* changed);
  // MergeEquivalentValues' groups brought up to date; false when one is
  // larger than the pass's look-back.
  bool UpdateGroups();
  bool MergesInGroup(std::uint32_t value);
  // No two members of any group past the pass's look-back merge.
  bool NoPairMerges();
  HRESULT RemoveDeadCode();
  HRESULT RecomputePredicates();
  HRESULT MergeCommonInstructions();
  HRESULT MergeEquivalentValues();
  HRESULT MergeDuplicateValues();

  ShaderProgram& m_p;
  const bool m_everyRound;  // tests: served from the first round, never given up for its cost
  bool m_ready = false;     // images, index and tables stand for the program
  bool m_watching = false;  // journals attached
  bool m_refreshed = false; // a refresh left the coalescing links as they were
  std::uint32_t m_retryRound = 3, m_retryGap = 1;  // when to try the set-up again
  std::uint32_t m_readyRounds = 0;
  std::uint32_t m_round = 0;
  ListJournal m_valueJournal, m_instructionJournal;

  // Images.
  std::unique_ptr<upkeep::ValueImages> m_images;
  std::vector<InstructionImage> m_instructions;
  std::vector<std::uint32_t> m_operands;
  std::vector<RegisterBank> m_banks;
  std::uint32_t m_valueCount = 0, m_instructionCount = 0;
  // The last comparison: changed values and positions (new records among them).
  std::vector<std::uint32_t> m_changedValues, m_changedPositions;
  std::vector<IrValue> m_oldValues;           // per changed value: its image
  std::vector<std::uint8_t> m_oldPresent;     // per changed value: it had one
  std::vector<std::uint8_t> m_changedPosition;  // per position: in m_changedPositions

  // Index.
  // Per value: the positions that read it, ascending, once each (and some
  // that stopped, dropped when met); the one non-empty instruction that
  // writes it; how often non-empty instructions read it.
  std::unique_ptr<upkeep::ReaderLists> m_readers;
  std::vector<std::uint32_t> m_writer, m_uses;
  std::vector<std::uint32_t> m_useDirty;   // values whose use fields the next refresh sets
  std::vector<std::uint32_t> m_useStamps;  // per value: m_useRound when listed in m_useDirty
  std::uint32_t m_useRound = 1;
  std::vector<std::uint32_t> m_positionStamps;  // per position: scratch stamps
  std::uint32_t m_positionRound = 1;
  std::vector<std::uint32_t> m_unnumbered;      // values that may be redirected
  std::vector<std::uint8_t> m_unnumberedMark;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> m_redirectedTo;  // value: values redirected to it
  std::vector<std::uint32_t> m_list, m_list2;   // scratch
  std::uint32_t m_outOfClass = 0;               // values and instructions outside the class served
  bool m_tangled = false;                       // a read before its write, or two writes of a value
  bool m_flow = false;         // the program has blocks, loops or guards
  bool m_flowChanged = false;  // a change moved them: the upkeep ends

  // Walks.
  struct Pending {
    std::vector<std::uint8_t> marked;
    std::vector<std::uint32_t> list;
    bool all = false;  // every position (then neither marked nor listed)
  };
  Pending m_pending[kWalkCount];
  // The walk running (kWalkCount: none), where it stands and what is left.
  std::uint8_t m_walk = kWalkCount;
  bool m_descending = false;
  std::uint32_t m_cursor = 0;
  std::vector<std::uint32_t> m_heap;
  std::vector<std::uint32_t> m_visitStamps;  // per position: m_visitRound once the running walk visited it
  std::uint32_t m_visitRound = 1;
  // Reach: per value the most that was left of kReach on arriving there.
  std::vector<std::vector<std::uint32_t>> m_reachBuckets;
  std::vector<std::uint32_t> m_reachStamps, m_reachLeft;
  std::uint32_t m_reachRound = 1;

  // The upkeep's own work not yet charged to the meter.
  std::uint64_t m_owed = 0;
  void Owe(std::uint64_t records, std::uint32_t rate) { m_owed += m_p.WalkWork(records, rate); }

  std::unique_ptr<Tables> m_tables;
};

}  // namespace gxl::shader
