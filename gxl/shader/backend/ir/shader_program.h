// The program of one compile run: the lists of register banks, values and
// instructions (ir.h), the set-up that creates the standard banks, the
// reporters of every back-end message, and the use analysis that recomputes
// where each value is defined and read. Targets derive from it.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <new>

#include "gxl/shader/backend/ir/ir.h"
#include "gxl/shader/backend/ir/list_journal.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/messages.h"

class ParseNode;

namespace gxl::shader {

// A growing list of owned records: null slots allowed (passes delete records
// and compact later), null past the count.
template <class T>
class RecordList {
 public:
  explicit RecordList(std::uint32_t firstCapacity) : m_firstCapacity(firstCapacity) {}
  ~RecordList() { Clear(); }
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  std::uint32_t Count() const { return m_count; }
  std::uint32_t Capacity() const { return m_capacity; }
  T* operator[](std::uint32_t i) const {
    // One test on the common path: while a journal watches, nothing is below
    // m_unwatched and every access takes the noting path.
    if (i < m_unwatched) [[likely]]
      return m_items[i];
    return Watched(i);
  }
  // The record for reading only, not noted in a watching journal: for scans
  // that change nothing (null past the count).
  const T* Peek(std::uint32_t i) const { return i < m_count ? m_items[i] : nullptr; }
  // The slot itself, for passes that delete or move records (i below the count).
  T*& Slot(std::uint32_t i) {
    if (m_journal) [[unlikely]]
      m_journal->Note(i);
    return m_items[i];
  }
  // From now on every record reached through the list is noted in `journal`
  // (null: none); records appended later are not noted (the count tells).
  void Watch(ListJournal* journal) {
    m_journal = journal;
    m_unwatched = journal ? 0 : m_count;
  }

  // The record's index; kNoIndex when the list cannot grow, the record then destroyed.
  std::uint32_t Append(T* record);
  // Drops the slots from `count` on without destroying their records (compaction).
  void Truncate(std::uint32_t count) {
    if (m_journal) m_journal->NoteTruncated(count);
    if (count < m_count) m_count = count;
    if (!m_journal) m_unwatched = m_count;
  }
  // Destroys every record and frees the array.
  void Clear();
  // Copies of the other list's records, capacity its count; E_OUTOFMEMORY on
  // the first failure. `copy` makes one record.
  template <class Copy>
  HRESULT CopyFrom(const RecordList& other, Copy copy);

 private:
  // Past the count, or reached while a journal watches.
  [[gnu::noinline]] T* Watched(std::uint32_t i) const {
    if (i >= m_count) return nullptr;
    m_journal->Note(i);
    return m_items[i];
  }

  T** m_items = nullptr;
  std::uint32_t m_count = 0;
  std::uint32_t m_capacity = 0;
  std::uint32_t m_firstCapacity;
  ListJournal* m_journal = nullptr;
  std::uint32_t m_unwatched = 0;  // m_count, or 0 while a journal watches
};

// The eighteen banks ShaderProgram::Init creates, in order.
enum class StandardBank : std::uint32_t {
  Undefined,        // "x"
  Literals,         // "l"
  FloatConstants,   // "c"
  Inputs,           // "v"
  Outputs,          // "o"
  Temporaries,      // "r"
  Address,          // "a"
  Predicates,       // "p"
  Samplers,         // "s"
  BlockMoves,       // "i"
  BoolConstants,    // "c"
  BlockValues,      // "p"
  Loops,            // "q"
  Clip,             // "d"
  LoopEntries,      // "y"
  IntConstants,     // "i"
  BoolOutputs,      // "k"
  IntOutputs,       // "j"
  Count
};
constexpr std::uint32_t kStandardBankCount = static_cast<std::uint32_t>(StandardBank::Count);

// The limits each target sets in SetupProfileLimits.
struct ProfileLimits {
  std::uint32_t inputs;
  std::uint32_t temporaries;
  std::uint32_t addressRegisters;
  std::uint32_t predicates;
  std::uint32_t floatConstants;
  std::uint32_t word5;
  std::uint32_t integerConstants;
  std::uint32_t usedInputs;
  std::uint32_t word8;
  std::uint32_t samplers;
  std::uint32_t firstTextureTemporary;  // 0 = none
  std::uint32_t word11;
  std::uint32_t word12;
  std::uint32_t word13;
  std::uint32_t booleanConstants;
  std::uint32_t word15;
  std::uint32_t loopIterations;
  std::uint32_t capabilities;
  std::uint32_t secondFlags;
};

// Bits of the capability word and of the second flag word of the profile
// limits that the optimiser and packing passes test.
namespace cap {
constexpr std::uint32_t kOutputsByOrderedMove = 0x1;  // outputs come from a move reading components in order
constexpr std::uint32_t kFixedOperands = 0x6;         // either bit: no dot forming, literals keep their places
constexpr std::uint32_t kOneFreeLiteral = 0x4;        // with kFixedOperands: one freely placed literal, in w
constexpr std::uint32_t kDot2 = 0x20;                 // a two-component dot product
constexpr std::uint32_t kUnitCoefficients = 0x100000;  // literal factors only within [-1, 1]
constexpr std::uint32_t kTruncatedIndex = 0x1000000;   // relative indexes truncate instead of rounding
// Second flag word.
constexpr std::uint32_t kCoordinatesInAnyOrder = 0x20;
}  // namespace cap

// The work the lowering may do, in the units ShaderProgram::ChargeWork
// counts (one unit is what the lowering charges per instruction it builds
// over kLoweringWork, some tens of nanoseconds; every pass charges for what
// it visits at the rate of its own time, work_rates.h). The lowering shares
// it out among the loops it simulates, so only loops unrolled or simulated
// past all reason meet it.
constexpr std::uint64_t kCompileWorkBudget = std::uint64_t{1} << 26;
// The most a whole compile may charge, whatever the budget above lends and
// refunds: every lowering attempt, optimiser round, later phase and preshader
// counts against it, and the phases after the lowering may spend what it
// leaves. So it bounds a compile's time: large compiles run at 12-19 ns a
// unit, some 3-4 s at the cap. It leaves room to the largest programs that
// compile (unrolled nests of 10^5 instructions through every phase: 210 M
// units), while the rounds of a program that will not fit end at their
// share of it (ShaderProgram::Optimize).
constexpr std::uint64_t kCompileWorkCap = std::uint64_t{15} << 24;
// What the phases after the optimiser's rounds charge per value and
// instruction, at most, for a program of kLaterPhasesFrom records or more;
// below that they cost little next to the cap.
constexpr std::uint64_t kLaterPhasesWorkPerRecord = 200;
constexpr std::uint64_t kLaterPhasesFrom = std::uint64_t{1} << 15;

// The first optimiser phase keeps its rounds in step incrementally from a
// program of this many instructions on (RoundUpkeep): below it a full pass
// costs little.
constexpr std::uint32_t kRoundUpkeepFrom = 4096;
// A program whose first-phase rounds still change it after this many is in
// their long tail: its rounds may stop at their share of the work, and the
// arithmetic pass reads chains of range tests whole (ShaderProgram::Optimize).
constexpr std::uint32_t kLongOptimizerRounds = 64;

// Option bits of a compile that the back end tests.
constexpr std::uint32_t kOptionDebug = 0x1;
constexpr std::uint32_t kOptionNoValidation = 0x2;
constexpr std::uint32_t kOptionNoOptimisation = 0x4;
constexpr std::uint32_t kOptionNoPreshader = 0x100;

struct RegisterAllocatorContext;  // of the second phase
struct FoldState;                 // of one FoldConstants run
class SubtreeScores;              // of the straight-line scheduler

// The three lists of a program.
class ProgramLists {
 public:
  virtual ~ProgramLists() = default;
  // The lists become deep copies of the other's (capacities its counts);
  // E_OUTOFMEMORY on the first failure.
  HRESULT CopyFrom(const ProgramLists& other);

  RecordList<RegisterBank> banks{16};
  RecordList<IrValue> values{1024};
  RecordList<IrInstruction> instructions{256};
};

class ShaderProgram : public ProgramLists {
 public:
  ShaderProgram();
  ~ShaderProgram() override;
  ShaderProgram(const ShaderProgram&) = delete;
  ShaderProgram& operator=(const ShaderProgram&) = delete;

  // --- Slots a target overrides
  // S_OK when the target accepts the value's semantic.
  virtual HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags);
  // The two optimiser phases over the lowered program, which leave its values
  // in numbered registers; 0 through `result` when given. 0 or the first
  // failure.
  virtual HRESULT Compile(std::uint32_t* result);
  // Inputs 64, temporaries 64, float constants 8192, no address registers.
  virtual HRESULT SetupProfileLimits();
  // 0 changed, 1 nothing to do, negative on failure.
  virtual HRESULT SelectInstructions();
  // The target's register binding and reordering before code generation;
  // 1 in the base (nothing done).
  virtual HRESULT AllocateRegisters();
  // The target's port checks and clean-up after allocation; 1 in the base.
  virtual HRESULT FinishSelection();
  // After the literals are packed, before scheduling: S_OK where the
  // constants may fit their registers, else a failure after the limit's
  // message. S_OK in the base.
  virtual HRESULT FitConstantRegisters();
  // 1 where the instruction reads a swizzle the target has not; 0 in the base.
  virtual std::uint32_t NeedsSwizzleFix(const IrInstruction& instruction);
  // The bank name, an underscore when it is not one letter, the register or
  // "?"; always terminated. Characters written.
  virtual std::uint32_t FormatValueName(std::uint32_t value, char* buffer, std::uint32_t size) const;

  // --- Set-up
  // Binds the run and creates the standard banks: E_FAIL without a log (and
  // nothing created), E_OUTOFMEMORY, or what SetupProfileLimits returns.
  HRESULT Init(const ParseNode* root, MessageLog* messageLog, std::uint32_t version, std::uint32_t optionFlags);
  // A deep copy of the parent's lists and run, with its own version and options.
  HRESULT InitFrom(const ShaderProgram& parent, std::uint32_t version, std::uint32_t optionFlags);
  // A copy of `name` (null clears it); E_OUTOFMEMORY.
  HRESULT SetEntryName(const char* name);
  const char* EntryName() const { return m_entryName.get(); }

  // --- Records (indexes, kNoIndex on failure)
  std::uint32_t AddRegisterBank(const char* name, std::uint32_t typeWord, std::uint32_t registerCount,
                                std::uint32_t components);
  std::uint32_t AddRegisterBankCopy(const RegisterBank* bank);
  std::uint32_t AddValue(std::uint32_t bank, std::uint32_t reg, std::uint32_t component, double literal);
  std::uint32_t AddValueCopy(const IrValue* value);
  // Counts of kNoIndex take those the word derives.
  std::uint32_t AddInstruction(std::uint32_t operationWord, std::uint32_t argumentCount, std::uint32_t resultCount);
  std::uint32_t AddInstructionCopy(const IrInstruction* instruction);

  RegisterBank* Bank(std::uint32_t i) const { return banks[i]; }
  IrValue* Value(std::uint32_t i) const { return values[i]; }
  IrInstruction* Instruction(std::uint32_t i) const { return instructions[i]; }
  std::uint32_t StandardBankIndex(StandardBank b) const { return standardBanks[static_cast<std::uint32_t>(b)]; }
  RegisterBank* BankOf(const IrValue& v) const { return banks[v.bank]; }

  // "output" for a value in an output bank, else "input".
  const char* ValueDirectionText(std::uint32_t value) const;
  // "%s semantic '%s'" with the direction and the semantic (at most 63 characters).
  void FormatSemanticText(std::uint32_t value, char* buffer, std::uint32_t size) const;
  // The value's alias, or the value itself; kNoIndex stays kNoIndex.
  std::uint32_t ResolveAlias(std::uint32_t value) const {
    const IrValue* v = values.Peek(value);
    return v && v->alias != kNoIndex ? v->alias : value;
  }
  std::uint32_t RenumberingField(std::uint32_t value) const;
  // An entry of a two-row index map (mode 0: row `row`; else the larger of
  // the two rows for a non-zero row, the smaller for row 0), followed along
  // renumbering fields to the value that names itself.
  std::uint32_t FindRenumberedRoot(const std::uint32_t* const map[2], std::uint32_t column, std::uint32_t row,
                                   std::uint32_t mode) const;

  // --- Messages
  // Every back-end error and warning: GXL_SHADER_REPORT(program, node, entry,
  // ...) with a catalogue entry (messages.h). Formats into 255 characters and
  // logs at the node's location: a token or expression node's own, a
  // declaration's name token, else none. An error sets the error flag; a
  // warning leaves it.
  void Report(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(5, 6);

  // --- Work budget
  // Takes `steps` from the compile's budget (workLeft): S_OK while it lasts;
  // past it "the compile exceeded its work bound" (X4004, reported once) and
  // E_FAIL, for this and every later charge. Long passes charge what they
  // visit, so that a program no compile can finish in reasonable time fails
  // instead. Each charge also takes the memory the compile's pool committed
  // since the last one (workrate::kFreshPage), from the cap only.
  HRESULT ChargeWork(std::uint64_t steps);
  // Work owed to the cap alone, taken at the next charge as fresh memory
  // is: the lowering's walks over the syntax of loop bodies, whose share of
  // its time follows the nest's shape, while its budget stays the measure of
  // what it builds.
  void OweCap(std::uint64_t units) { capOwed += units; }
  // A walk over the whole program at `rate` sixteenths of a unit per value
  // and instruction (work_rates.h).
  HRESULT ChargeWalk(std::uint32_t rate) {
    return ChargeWork(WalkWork(std::uint64_t{instructions.Count()} + values.Count(), rate));
  }
  // A walk of the phases after the first (the second phase's steps and the
  // target's): at the plain rate whatever the program's size. They go down
  // the lists in order, and their time per record over programs far past
  // the caches stays near it (2^19 records: 16-19 ns a unit, where the
  // first phase's walks, charged by size, run at 15).
  HRESULT ChargeLaterWalk(std::uint32_t rate) {
    return ChargeWork(((std::uint64_t{instructions.Count()} + values.Count()) * rate + 15) / 16);
  }
  // What a walk over `records` records at `rate` sixteenths each charges.
  // The rates hold for a program that fits the processor's caches; once the
  // lowering has ended (walksBySize), a walk over a larger program, whose
  // records each cost a miss or more, charges more per record, as measured.
  std::uint64_t WalkWork(std::uint64_t records, std::uint32_t rate) const;
  // What the next charges may take before one fails: the budget's rest or
  // the compile's cap's, the less.
  std::uint64_t WorkRemaining() const {
    return workExhausted ? 0 : std::min(workLeft, workCap - std::min(workCap, workCharged));
  }
  // Once the program is lowered: the later phases may spend what the
  // compile's cap leaves. Returns the run's whole budget: what the lowering
  // spent of it and what is left.
  std::uint64_t GrantRestOfCap(std::uint64_t budget);
  // The bound's message, once, when the budget is exhausted.
  void ReportWorkBound();
  // What the phases after the optimiser's rounds (the second phase,
  // selection, emission and validation) charge at most for a program of
  // this size, as the rounds leave it or smaller.
  std::uint64_t LaterPhasesWork() const {
    const std::uint64_t records = std::uint64_t{instructions.Count()} + values.Count();
    return records < kLaterPhasesFrom ? 0 : kLaterPhasesWorkPerRecord * records;
  }

  // --- Use analysis
  // Definitions, uses, live ranges, relative-use windows and coalescing
  // cycles; with the register-table flag also the definition points.
  HRESULT RebuildDefUse();
  // RebuildDefUse, then per instruction the instructions it depends on and
  // those depending on it, ascending and unique.
  HRESULT BuildDependencyLists();
  void NumberValues();
  void RenumberValueLinks();

  // --- First optimiser phase (backend/opt/). Passes return S_OK when they
  // changed the program, S_FALSE when not, a failure code otherwise.
  // Runs the passes to a fixed point; once per program.
  HRESULT Optimize();
  HRESULT CheckUninitializedUse();
  HRESULT RemoveDeadCode();
  HRESULT MergeDuplicateValues();
  HRESULT CompactInstructions();
  HRESULT RemoveUnusedValues();
  HRESULT PackVectors();
  HRESULT RouteOutputsThroughTemporaries();
  HRESULT FoldConstants();
  HRESULT MergeDuplicateComponents();
  // Non-zero `unpinnedOnly` leaves instructions whose pinned field is set alone.
  HRESULT MergeCommonInstructions(std::uint32_t unpinnedOnly);
  HRESULT MergeEquivalentValues();
  HRESULT SimplifyArithmetic();
  HRESULT ResolveConstantIndexes();
  HRESULT SimplifyPredicates();
  HRESULT RecomputePredicates();
  HRESULT WriteOutputsDirectly();
  // Moves the work that reads only constants into the preshader: S_FALSE
  // when the options ask for none.
  HRESULT ExtractPreshader();
  // Flags every value that is not computable from constants alone.
  HRESULT MarkVaryingValues();
  // On the preshader copy: only the uniform work stays.
  HRESULT KeepUniformWork();
  // On the main program: the uniform work goes (but negations); S_FALSE when nothing went.
  HRESULT RemoveUniformWork();
  // Once the main program's constants have registers: the preshader writes
  // them there, and no longer what the main program dropped. S_FALSE without
  // a preshader.
  HRESULT MapPreshaderOutputs();
  // On the preshader: outputs without a constant are no longer written.
  HRESULT PrunePreshaderOutputs();

  // --- Second phase: vector packing, operand, expansion and literal passes
  // (backend/alloc/). Same statuses as the first-phase passes.
  HRESULT LegalizeOperands();
  // Mode 1: results into registers of their own at components 0, 1, ...;
  // mode 0: only results that leave component 0 unused.
  HRESULT RenameTemporaries(std::uint32_t mode);
  HRESULT CoalesceMoves();
  HRESULT CanonicalizeOperands();
  HRESULT ExpandOperations();
  HRESULT CombineInstructions();
  HRESULT PackLiterals();

  // --- Second phase: scheduling and register assignment (backend/alloc/).
  // The nineteen steps after the first phase: 0 or the first failure.
  HRESULT ScheduleAndAllocate();
  // Texture levels, instruction predicates and an order of low register
  // pressure; 1 when optimisation is skipped (levels and predicates only).
  HRESULT ScheduleInstructions();
  // Depth-first emission of `instruction` and the inputs it still needs into
  // `order` (`count` entries so far). With `scores` the inputs are scored
  // by it instead of by SubtreeScore, to the same result; unscored, they
  // keep their order.
  HRESULT ScheduleSubtree(std::uint32_t instruction, std::uint32_t* order, std::uint32_t* count,
                          SubtreeScores* scores = nullptr, bool scored = true);
  // Marks the inputs of `instruction` with `tag` (word 14), counting the
  // newly marked into `size`.
  HRESULT MarkSubtree(std::uint32_t instruction, std::uint32_t* size, std::uint32_t tag);
  // MarkSubtree, then `score` lowered for each scheduled input a marked
  // instruction reads and raised for each unscheduled reader outside the mark.
  HRESULT SubtreeScore(std::uint32_t instruction, std::uint32_t* size, std::int32_t* score, std::uint32_t tag);
  // On targets with texture phases: texture reads moved earlier while the
  // temporaries still fit; 1 elsewhere.
  HRESULT HoistTextureReads();
  std::uint32_t CountTexturePhases() const;
  // 1 when the texture read at `position` moved up past the group before it.
  std::uint32_t MoveTextureEarlier(std::uint32_t position);
  // Register classes merged, then address, temporary and predicate
  // registers placed within the profile limits (error 4004 when they do not
  // fit) and identity moves dropped.
  HRESULT AssignRegisters();
  // Error 4004 for a value the register assignment finds no place for at
  // `position`; while holdFitReport is set only the first is noted
  // (fitFailed, fitFailurePosition), for the caller to report or to try
  // another order first.
  void ReportUnfitRegisters(const ParseNode* position);
  // The values of every bank with all `required` and none of `excluded`
  // type bits moved into `target`, each bank's registers after the last's.
  HRESULT MergeRegisterClass(std::uint32_t target, std::uint32_t required, std::uint32_t excluded);
  // 1 when the points (a, senseA) and (b, senseB) lie in different arms
  // under their nearest common predicate.
  std::uint32_t ArmsExclusive(std::uint32_t a, std::uint32_t senseA, std::uint32_t b, std::uint32_t senseB) const;

  // Bank, relative index, register, predicate and sense equal.
  bool SameRegister(std::uint32_t a, std::uint32_t b) const;
  // Bank, relative index and register equal.
  bool SameRegisterIndex(std::uint32_t a, std::uint32_t b) const;
  // Read together by some consumer group (PackVectors), or the same value.
  bool ComponentsCompatible(std::uint32_t a, std::uint32_t b) const;
  // Folding of one component (fold_*.cpp).
  HRESULT FoldConstantOperation(IrInstruction& instruction, std::uint32_t result, std::uint32_t argument);
  HRESULT FoldBinaryComponent(const IrInstruction& instruction, std::uint32_t result, std::uint32_t a,
                              std::uint32_t b);
  HRESULT FoldTernaryComponent(const IrInstruction& instruction, std::uint32_t result, std::uint32_t a,
                               std::uint32_t b, std::uint32_t c);
  HRESULT FoldDotProduct(IrInstruction& instruction, bool fold);
  // True when condition `a` being non-zero makes `b` non-zero: the same
  // value, a move of it, or a product with a factor that implies it.
  bool ImpliesCondition(std::uint32_t a, std::uint32_t b) const;

  // Test hook: runs after the passes of every optimiser round; S_OK counts as a change.
  HRESULT (*optimizerRoundHook)(ShaderProgram&) = nullptr;
  // The first optimiser phase's round in progress (0 outside it).
  std::uint32_t optimizerRound = 0;
  // Test hook: runs after each step (1-19) of ScheduleAndAllocate with that
  // step's status; a failure it returns ends the phase.
  HRESULT (*secondPhaseStepHook)(ShaderProgram&, std::uint32_t step, HRESULT status) = nullptr;
  // Test hook: runs after each run of the second phase's instruction
  // merging with that run's status; what it returns counts instead.
  HRESULT (*secondPhaseMergeHook)(ShaderProgram&, HRESULT status) = nullptr;
  // Runs of the second phase's instruction-merging loop (at most 256).
  std::uint32_t secondPhaseMergeRuns = 0;
  // Test switch: the searches that re-measure the program after each step
  // (instruction pairing, the scheduler's improvement, texture hoisting,
  // the ps_1_4 partition search, selection's def-use upkeep) take their
  // plain full re-measurement instead of the incremental one. Both must
  // give the same code; tests compare them. A preshader inherits it.
  bool referenceSearches = false;
  // What is left of the compile's work budget (ChargeWork); a preshader
  // starts with what its program has left. While holdWorkReport is set (the
  // lowering) the bound's end is not said at once: the lowering may name a
  // loop as the cause instead (workReported then), else ReportWorkBound
  // says it afterwards.
  std::uint64_t workLeft = kCompileWorkBudget;
  // Every unit charged so far in the compile, refunds of the budget
  // notwithstanding (a preshader and a later lowering attempt start from
  // what came before), and the compile's cap on it.
  std::uint64_t workCharged = 0;
  std::uint64_t workCap = kCompileWorkCap;
  // A phase that may end early (the optimiser's rounds) keeps the work of
  // the phases after it: a charge that leaves less than this floor under
  // the cap still succeeds but marks the phase's share spent, and the phase
  // stops at the end of its step.
  std::uint64_t workShareFloor = 0;
  bool workShareSpent = false;
  std::uint64_t capOwed = 0;  // OweCap
  bool walksBySize = false;  // set when the lowering ends (GrantRestOfCap); a preshader inherits it
  // A compile whose refusal is not heard (the second compile, with 0x4, of a
  // program whose optimised code passed a limit: where it fails, the first
  // compile's refusal stands): only whether it fits matters, so a bound
  // certain to fail it refuses at any size (ShaderTarget::FitSlotLimit).
  bool refusalUnheard = false;
  bool workExhausted = false;
  bool holdWorkReport = false;
  bool workReported = false;
  std::uint32_t unmeteredWork = 0;  // UnmeteredWork scopes open: charges count nothing
  bool holdFitReport = false;  // ReportUnfitRegisters
  bool fitFailed = false;
  const ParseNode* fitFailurePosition = nullptr;
  // With the switch: fields of values and banks that selection's def-use
  // upkeep set otherwise than the full rebuild (DefUseUpkeep).
  std::uint32_t defUseUpkeepMismatches = 0;
  // With the switch: trial orders that the bound of instruction pairing or
  // texture hoisting proved to fit (or to fail) and the assignment did not
  // confirm (FitBound).
  std::uint32_t refutedFitProofs = 0;
  // With the switch: trial assignments of texture hoisting that took over
  // the run before them and answered or placed otherwise than the full
  // assignment (RegisterAllocatorContext::Reassign).
  std::uint32_t reassignMismatches = 0;
  // With the switch: moves after which texture hoisting's local count of
  // phases differed from the full count.
  std::uint32_t phaseCountMismatches = 0;
  FoldState* foldState = nullptr;  // set while FoldConstants runs
  // The optimiser's rounds run incrementally (RoundUpkeep) from a program of
  // this many instructions on; tests set 0 to run every program so. With
  // checkRoundUpkeep each incremental pass is also run in full on a copy and
  // each difference counts in roundUpkeepMismatches; roundUpkeepPasses counts
  // the passes run incrementally. A preshader inherits none of it.
  std::uint32_t roundUpkeepFrom = kRoundUpkeepFrom;
  bool checkRoundUpkeep = false;
  std::uint32_t roundUpkeepMismatches = 0;
  std::uint32_t roundUpkeepPasses = 0;
  // The readers the upkeep met spreading changes to its walks (what a walk
  // costs beyond its steps); tests read it too.
  std::uint64_t roundUpkeepReadersMet = 0;

  ProfileLimits profileLimits{};
  std::uint32_t standardBanks[kStandardBankCount];
  RegisterAllocatorContext* allocator = nullptr;
  const ParseNode* root = nullptr;
  MessageLog* log = nullptr;
  std::uint32_t versionToken = 0;
  std::uint32_t options = 0;
  std::uint32_t errorFlag = 0;
  std::uint32_t firstError = 0;  // the code of the first error reported, 0 before one
  std::uint32_t optimisedFlag = 0;
  std::uint32_t registerTableFlag = 0;  // RebuildDefUse also builds the definition chains
  std::unique_ptr<ShaderProgram> preshader;

 private:
  void VReport(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format,
               va_list args) GXL_SHADER_PRINTF(5, 0);
  // Shared tail of Init and InitFrom.
  HRESULT FinishSetup();

  std::unique_ptr<char[]> m_entryName;
};

// Work done only to check other work (the reference switch's full
// re-measurements) is not charged to the budget while one of these lives, so
// that a compile checked that way ends where an unchecked one ends.
class UnmeteredWork {
 public:
  explicit UnmeteredWork(ShaderProgram& p) : m_p(p) { ++m_p.unmeteredWork; }
  ~UnmeteredWork() { --m_p.unmeteredWork; }
  UnmeteredWork(const UnmeteredWork&) = delete;
  UnmeteredWork& operator=(const UnmeteredWork&) = delete;

 private:
  ShaderProgram& m_p;
};

// While one lives, a program compiled on behalf of another (its preshader)
// charges the other's budget: the meter is lent and handed back.
class LentWork {
 public:
  LentWork(ShaderProgram& owner, ShaderProgram& borrower) : m_owner(owner), m_borrower(borrower) {
    m_borrower.workLeft = m_owner.workLeft;
    m_borrower.workCharged = m_owner.workCharged;
    m_borrower.workCap = m_owner.workCap;
    m_borrower.workExhausted = m_owner.workExhausted;
    m_borrower.workReported = m_owner.workReported;
  }
  ~LentWork() {
    m_owner.workLeft = m_borrower.workLeft;
    m_owner.workCharged = m_borrower.workCharged;
    m_owner.workExhausted = m_owner.workExhausted || m_borrower.workExhausted;
    m_owner.workReported = m_owner.workReported || m_borrower.workReported;
  }
  LentWork(const LentWork&) = delete;
  LentWork& operator=(const LentWork&) = delete;

 private:
  ShaderProgram& m_owner;
  ShaderProgram& m_borrower;
};

// A new, empty preshader program (an expression program of the targets);
// null when memory runs out.
std::unique_ptr<ShaderProgram> CreatePreshaderProgram();

// Where a message or a debug record about `node` points: a token or
// expression node's own token, a declaration's name token, else nowhere.
const SourceToken* LocationOf(const ParseNode* node);

// A pass that keeps per-program state.
class ProgramPass {
 public:
  explicit ProgramPass(ShaderProgram* p) : program(p) {}
  virtual ~ProgramPass() = default;
  virtual HRESULT Run() { return E_NOTIMPL; }

  ShaderProgram* program;  // not owned
};

// Comparators of index arrays; the context is the program unless said.
std::int32_t CompareLiteralValues(std::uint32_t a, std::uint32_t b, const void* program);
std::int32_t CompareValueKeys(std::uint32_t a, std::uint32_t b, const void* program);
std::int32_t CompareIndexes(std::uint32_t a, std::uint32_t b, const void* unused);
std::int32_t CompareOrderKeys(std::uint32_t a, std::uint32_t b, const void* program);
// Instructions by their blocks: an instruction inside the extent of another's
// block goes first, then arms whose sense is true, then index order. It is no
// strict weak ordering: sort with it only through SortIndicesByComparator.
std::int32_t CompareScheduleOrder(std::uint32_t a, std::uint32_t b, const void* program);
std::int32_t CompareComponentMasks(std::uint32_t a, std::uint32_t b, const void* program);
std::int32_t CompareBankSizes(std::uint32_t a, std::uint32_t b, const void* program);
std::int32_t CompareDebugValues(std::uint32_t a, std::uint32_t b, const void* program);
// Over an array of three-word records (the context): second word unsigned,
// then third signed (Records); first word descending (Keys); the first rule,
// ties by the second (Entries).
std::int32_t CompareAllocationRecords(std::uint32_t a, std::uint32_t b, const void* records);
std::int32_t CompareAllocationKeys(std::uint32_t a, std::uint32_t b, const void* records);
std::int32_t CompareAllocationEntries(std::uint32_t a, std::uint32_t b, const void* records);

// --- RecordList -----------------------------------------------------------------

template <class T>
std::uint32_t RecordList<T>::Append(T* record) {
  if (!record) return kNoIndex;
  if (m_count == m_capacity) {
    const std::uint64_t grown = m_capacity ? std::uint64_t{m_capacity} * 2 : m_firstCapacity;
    T** items = grown < kNoIndex ? new (std::nothrow) T*[grown]() : nullptr;
    if (!items) {
      delete record;
      return kNoIndex;
    }
    for (std::uint32_t i = 0; i < m_count; ++i) items[i] = m_items[i];
    delete[] m_items;
    m_items = items;
    m_capacity = static_cast<std::uint32_t>(grown);
  }
  m_items[m_count] = record;
  if (!m_journal) m_unwatched = m_count + 1;
  return m_count++;
}

template <class T>
void RecordList<T>::Clear() {
  if (m_journal) m_journal->NoteReshaped();
  for (std::uint32_t i = 0; i < m_count; ++i) delete m_items[i];
  delete[] m_items;
  m_items = nullptr;
  m_count = m_capacity = m_unwatched = 0;
}

template <class T>
template <class Copy>
HRESULT RecordList<T>::CopyFrom(const RecordList& other, Copy copy) {
  Clear();
  if (other.m_count == 0) return S_OK;
  m_items = new (std::nothrow) T*[other.m_count]();
  if (!m_items) return E_OUTOFMEMORY;
  m_capacity = other.m_count;
  for (std::uint32_t i = 0; i < other.m_count; ++i) {
    if (other.m_items[i] && !(m_items[i] = copy(*other.m_items[i]))) {
      m_count = i;  // the copies so far go with the list
      if (!m_journal) m_unwatched = m_count;
      return E_OUTOFMEMORY;
    }
  }
  m_count = other.m_count;
  if (!m_journal) m_unwatched = m_count;
  return S_OK;
}

}  // namespace gxl::shader
