// What the simulation of a flow-control loop learns, and what of it an inner
// loop's reuse keeps (lower_loop.cpp, loop_memo.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

// What the simulation of a flow-control loop learns for its emission.
struct ShaderCompiler::LoopState {
  PodArray<ValueRange> head, exit;  // per symbol: ranges at the loop's head and after it
  PodArray<std::uint32_t> headFlags, exitFlags;
  std::uint32_t iterations = 0;
  bool counter = true;
  std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex;
};

// The rest of what one simulation found: what decides whether the loop is
// emitted, and what the simulation did besides building IR that is rolled
// back (its reuse does none of it, so only a simulation without any is kept).
struct ShaderCompiler::LoopFindings {
  std::uint32_t iterations = 0;
  bool certain = true, outOfBounds = false, abandon = false;
  bool running = false;      // the accumulated condition was still a known non-zero constant
  bool unknownGuard = false;  // at some pass it was no known constant (where a probe ends)
  bool derivatives = false;  // an instruction that takes implicit derivatives
  bool notCheap = false;     // an instruction a fixed loop does not unroll as cheaply
  std::vector<std::uint32_t> carried;  // slots with a value at the start that the loop changed
  std::uint32_t statements = 0;        // statements lowered (each takes a sequence number)
  std::uint32_t messages = 0;          // messages reported
  // The values and instructions it made (all rolled back before the loop
  // is emitted): how much IR the simulation builds, for checks.
  std::uint32_t valuesMade = 0, instructionsMade = 0;
  // Banks of literal tables it added: a rollback leaves them (empty), and a
  // reuse adds them again, so that the program's banks are those it would have.
  std::vector<RegisterBank> banks;
  bool errors = false, guardChanged = false, blockChanged = false;
  bool identityMade = false;       // the identity table was made (once per run: not again at a reuse)
  bool counterAfterStart = false;  // the counter's final value is no older than the outermost simulation
  bool covered = false;            // facts that cover every pass, not a simulation's (loop_cover.cpp)

  bool LeavesNothing() const { return !messages && !errors && !guardChanged && !blockChanged && !identityMade; }
};

// An inner loop's findings under its entry facts. Head and exit facts are
// kept for the slots where they differ from those the loop started with.
struct ShaderCompiler::LoopMemo {
  std::vector<double> key;
  std::uint32_t reuses = 0;
  LoopFindings found;
  bool counter = false;
  std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex;
  std::vector<std::uint32_t> slots;
  std::vector<ValueRange> head, exit;
  std::vector<std::uint32_t> headFlags, exitFlags;
};

// An inner loop's entries under one run of an outer simulation: how each
// symbol it touches stood at the last one, the hull of the facts met, and
// which symbols are entered widened.
struct ShaderCompiler::LoopHistory {
  const ParseNode* node = nullptr;
  std::vector<double> context;
  std::uint32_t entries = 0;
  bool stopped = false;
  std::vector<std::uint32_t> slots;            // touched, ascending
  std::vector<std::vector<double>> described;  // per touched slot, at the last entry
  std::vector<ValueRange> hull, wide;
  std::vector<std::uint32_t> hullFacts, wideFacts;
  std::vector<std::uint8_t> widened;
};

// A flow-control loop's simulation between its passes (SimulateLoop).
struct ShaderCompiler::LoopRun {
  LoopRun(const ParseNode* loop, const ParseNode* first, const ParseNode* test, const ParseNode* pass,
          const std::uint32_t* start, std::uint32_t values, std::uint32_t instructions, std::uint32_t passes,
          std::size_t own, std::uint32_t one)
      : node(loop), init(first), condition(test), body(pass), startMap(start), valuesBefore(values),
        instructionsBefore(instructions), limit(passes), frame(own), accumulated(one), n(passes) {}
  const ParseNode *node = nullptr, *init = nullptr, *condition = nullptr, *body = nullptr;
  const std::uint32_t* startMap = nullptr;
  std::uint32_t valuesBefore = 0, instructionsBefore = 0, limit = 0;
  std::size_t frame = 0;                 // its own in LoopLowering::loopFrames
  std::size_t level = kNoLevel;          // the simulation level it runs in (LoopLowering::levels)
  std::uint32_t accumulated = kNoIndex;  // the conditions met so far, multiplied
  bool certain = true, guessed = false;
  std::uint32_t n = 0;  // the trip count, once found
  // The settled pass's loop-entry instruction: no instruction of the loop's.
  std::uint32_t settledEntry = kNoIndex;
  // The pass before which the loop ends at the latest, once a projection
  // rehearsed its condition and step (0 before).
  std::uint32_t end = 0;
  bool endFound = false;  // the rehearsal saw the condition fail before `end`
};

// A loop being lowered (LowerLoop).
struct ShaderCompiler::LoopFrame {
  const ParseNode *condition = nullptr, *body = nullptr, *plainBody = nullptr, *step = nullptr;
  enum class Trip : std::uint8_t { kUnknown, kKnown, kAny } trip = Trip::kUnknown;
  std::vector<std::uint8_t> tripSlots;  // with kKnown: the slots that may decide its trip count
  bool decided = false;                 // its condition and step alone decide its trip count
  // Or they do but for indexes of the body's arrays, which read only what
  // the step writes: those that may end the loop first.
  std::vector<const ParseNode*> indexes;
  bool indexesKnown = false;
  bool simulating = false;              // its simulation runs: the histories are of the loops inside it
  bool open = false;                    // in the pass its simulation is at, its condition is no longer known
  // A loop inside it was covered while its simulation knew its condition,
  // and may write what decides its trip count: that simulation may find the
  // condition unknown where the exact one knows it (TaintEnclosingTrips).
  bool tripCovered = false;
  std::vector<LoopHistory> histories;
};

// The entry of a loop simulated from widened facts.
struct ShaderCompiler::WideEntry {
  std::size_t frame = 0, history = 0;  // where its history lies
  bool tracked = false;                // it has one
  std::vector<std::uint32_t> slots;
  std::vector<ValueRange> ranges;
  std::vector<std::uint32_t> facts;
};

// Everything the lowering of a statement changes, to go back to: the IR and
// the banks made since are dropped, the map and the lowering's state put back.
struct ShaderCompiler::LoweringMark {
  ShaderCompiler& c;
  std::uint32_t values, instructions, banks, statements, identityTable, identityValues;
  PodArray<std::uint32_t> map;
  std::uint32_t guard, blockContext, polarity, inlineDepth, loopAttempt, outOfBounds, abandonLoop, loopDepth;
  std::uint32_t errorFlag, reportedMessages, returned, discarded, staticIfs, dynamicIfs, defaultPrecision;
  ValueRange loopCounter;
  const std::uint32_t* callArguments;
  const PodArray<HeldFacts>* heldFacts;
  ParseNodeKind10* function;

  explicit LoweringMark(ShaderCompiler& compiler)
      : c(compiler), values(c.ValueCount()), instructions(c.InstructionCount()), banks(c.target->banks.Count()),
        statements(c.m_statementSequence), identityTable(c.m_identityTable), identityValues(c.m_identityValues),
        guard(c.guard), blockContext(c.blockContext), polarity(c.polarity), inlineDepth(c.inlineDepth),
        loopAttempt(c.loopAttempt), outOfBounds(c.outOfBounds), abandonLoop(c.abandonLoop), loopDepth(c.loopDepth),
        errorFlag(c.errorFlag), reportedMessages(c.reportedMessages), returned(c.returned), discarded(c.discarded),
        staticIfs(c.staticIfs), dynamicIfs(c.dynamicIfs), defaultPrecision(c.defaultPrecision),
        loopCounter(c.loopCounter), callArguments(c.callArguments), heldFacts(c.heldFacts), function(c.m_function) {
    map.Append(c.valueMap.Data(), c.valueMap.Size());
  }
  bool Saved() const { return map.Size() == c.valueMap.Size(); }

  void RollBack() {
    c.RollBackIr(values, instructions, map.Data());
    RecordList<RegisterBank>& list = c.target->banks;
    for (std::uint32_t b = list.Count(); b-- > banks;) {
      delete list.Slot(b);
      list.Slot(b) = nullptr;
    }
    list.Truncate(banks);
    c.m_statementSequence = statements;
    c.m_identityTable = identityTable;
    c.m_identityValues = identityValues;
    c.guard = guard;
    c.blockContext = blockContext;
    c.polarity = polarity;
    c.inlineDepth = inlineDepth;
    c.loopAttempt = loopAttempt;
    c.outOfBounds = outOfBounds;
    c.abandonLoop = abandonLoop;
    c.loopDepth = loopDepth;
    c.errorFlag = errorFlag;
    c.reportedMessages = reportedMessages;
    c.returned = returned;
    c.discarded = discarded;
    c.staticIfs = staticIfs;
    c.dynamicIfs = dynamicIfs;
    c.defaultPrecision = defaultPrecision;
    c.loopCounter = loopCounter;
    c.callArguments = callArguments;
    c.heldFacts = heldFacts;
    c.m_function = function;
  }
};

// Messages of a lowering caught until it is known whether they stand, then
// delivered in order (dead loops' rehearsals, exact simulations that may be
// given up).
struct ShaderCompiler::CaughtMessages {
  struct Line {
    const SourceToken* at;
    MessageSeverity severity;
    std::uint32_t code;
    std::size_t text;  // offset of its terminated text in `texts`
    bool held;         // counted, never logged (MessageHold)
  };
  PodArray<Line> lines;
  PodArray<char> texts;
  bool lost = false;             // one did not fit in memory
  std::uint32_t outerHolds = 0;  // MessageHolds open where the catch began
};

class ShaderCompiler::MessageCatch {
 public:
  MessageCatch(ShaderCompiler& c, CaughtMessages& into) : m_c(c), m_outer(c.m_caught) {
    into.outerHolds = c.m_heldMessages;
    c.m_caught = &into;
  }
  ~MessageCatch() { m_c.m_caught = m_outer; }
  MessageCatch(const MessageCatch&) = delete;
  MessageCatch& operator=(const MessageCatch&) = delete;

 private:
  ShaderCompiler& m_c;
  CaughtMessages* m_outer;
};

// Counts a scope open (the simulations, passes and rehearsals the lowering
// asks about while they run).
struct OpenCount {
  std::uint32_t& n;
  explicit OpenCount(std::uint32_t& count) : n(count) { ++n; }
  ~OpenCount() { --n; }
  OpenCount(const OpenCount&) = delete;
  OpenCount& operator=(const OpenCount&) = delete;
};

// A pass over a loop's condition and step alone: on leaving it, the IR, the
// value map and the flags lowering touches are as they were at its start.
struct ShaderCompiler::ConditionPass {
  ShaderCompiler& c;
  std::uint32_t values, instructions;
  PodArray<std::uint32_t> map;
  std::uint32_t errors, outside, returned, discarded, guard;
  ValueRange counter;

  explicit ConditionPass(ShaderCompiler& compiler)
      : c(compiler), values(compiler.ValueCount()), instructions(compiler.InstructionCount()),
        errors(compiler.errorFlag), outside(compiler.outOfBounds), returned(compiler.returned),
        discarded(compiler.discarded), guard(compiler.guard), counter(compiler.loopCounter) {}
  ~ConditionPass() {
    c.RollBackIr(values, instructions, map.Size() ? map.Data() : nullptr);
    c.errorFlag = errors;
    c.outOfBounds = outside;
    c.returned = returned;
    c.discarded = discarded;
    c.loopCounter = counter;
    c.guard = guard < values ? guard : c.One();
  }
  bool Save() { return map.Append(c.valueMap.Data(), c.valueMap.Size()); }
  // Nothing the pass cannot undo or tell from the condition alone happened.
  bool Clean() const { return c.errorFlag == errors && !c.outOfBounds && !c.returned && !c.discarded; }
};

}  // namespace gxl::shader
