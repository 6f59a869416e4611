// The compiler object of one HLSL compile and the IR helpers the lowering
// shares: reporting at tree locations, the choice of the entry function, the
// value-range analysis, placement of values in register banks, scratch
// storage, and the emission of IR instructions with constant folding, flag
// propagation and the expansions of operations a target lacks.
//
// Emission contract (what the lowering can rely on):
// - Every instruction goes through EmitInstruction. Its results are fresh
//   values of the temporary bank, guarded by the current block context and
//   polarity; a result entry that names a value hands that value's symbol slot
//   over to the new one and updates the value map.
// - Each result's range is evaluated and cached at once, so later folding and
//   flag tests are cheap; results known to be single numbers are folded into
//   moves of literals unless the options ask for no optimisation.
// - Arrays passed in are read before anything is written, so an output array
//   may alias an input array. Arrays handed out by ReserveScratch do not
//   survive the next ReserveScratch.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/syntax_tree.h"

class ConstantTable;
class DataBuffer;

namespace gxl::shader {

class ShaderPreprocessor;
class ShaderTarget;

// The lowering's bounds (ShaderCompiler::loweringRecordLimit and
// loweringBuildLimit): above what the rehearsals of nested loops that fit a
// profile hold (about a million records, ~190 MB), and small enough that a
// loop no profile can hold ends within about half a second and ~360 MB.
constexpr std::uint32_t kLoweringRecordLimit = std::uint32_t{1} << 21;
constexpr std::uint64_t kLoweringBuildLimit = std::uint64_t{1} << 20;
// What the lowering charges the compile's work budget: each instruction it
// builds (about what the back end's passes spend on it later), and each bank
// a kept simulation's reuse adds again (what reading its literal table would).
constexpr std::uint64_t kLoweringWork = 32;
constexpr std::uint64_t kReusedBankWork = 384;

// Bits of the target's operation capability word (ProfileLimits::capabilities)
// that the lowering reads.
enum OperationCapability : std::uint32_t {
  kCapSelectOneGuard = 0x4,       // a select takes one guard for all components
  kCapDot2 = 0x20,                // two-component dot product
  kCapNativeLit = 0x40,           // native lit; the smaller power budget under option 0x20
  kCapCompareBySelect = 0x80,     // comparisons, minimum and maximum through select
  kCapSinCos = 0x100,             // combined sine-cosine operation
  kCapNativeTrig = 0x200,         // sine, cosine, arc sine, arc cosine and arc tangents
  kCapNoInfinities = 0x100000,    // isfinite, isinf and isnan decided without a test
  kCapBlendedSelect = 0x2000000,  // selects blended as (1 - g) a + g b
};

// Bits of the target's flow-control word (ProfileLimits::secondFlags).
enum FlowCapability : std::uint32_t {
  kFlowInLoops = 0x4,
  kFlowRelativeArrays = 0x200,
  kFlowBinding = 0x400,
  kFlowComparison = 0x1000,
};

// Capability bit of the operation word: a relative index need not be whole.
constexpr std::uint32_t kCapFractionalIndex = 0x1000000;

// Bank type bit that register binding sets beside kBankRelative: the array
// is addressed relatively only through the loop counter.
constexpr std::uint32_t kBankCounterOnly = 0x100000;

// Compile options the lowering reads beyond those of shader_program.h.
constexpr std::uint32_t kOptionPartialPrecision = 0x20;
constexpr std::uint32_t kOptionAvoidFlowControl = 0x200;   // guarded code and unrolled loops where possible
constexpr std::uint32_t kOptionPreferFlowControl = 0x400;  // if blocks and loops where possible

// A closed range of doubles; the full range is {-inf, +inf}.
struct ValueRange {
  double low;
  double high;
};

// Sets n 32-bit entries to kNoIndex; returns 0.
std::uint32_t FillIndicesWithNone(std::uint32_t* array, std::uint32_t n);
// `size` bytes aligned to `alignment` (a power of two) from the current page
// pool; null when there is none or it is exhausted.
void* CurrentPoolAlloc(std::size_t size, std::size_t alignment);

// A uniform declared to the target: its values, and for each register
// position (packed position) and each component (ordinal slot) where in the
// source its element stands, for the debug information.
struct UniformRecord {
  const DeclarationNode* declaration = nullptr;
  const std::uint32_t* values = nullptr;  // in the page pool
  std::uint32_t count = 0;
  const SourceToken** byPosition = nullptr;
  std::uint32_t positions = 0;
  const SourceToken** byOrdinal = nullptr;
};

class ShaderCompiler {
 public:
  ShaderCompiler();
  ~ShaderCompiler();
  ShaderCompiler(const ShaderCompiler&) = delete;
  ShaderCompiler& operator=(const ShaderCompiler&) = delete;

  // --- The compile driver (compile_driver.cpp)
  // One compile from `source` (or from `parsed`, an already parsed program)
  // to code for `profile`: the expression when given, else the entry function
  // named `entry`, else the function `declarations` names with `arguments`
  // bound to its parameters. *code receives the code; *table (optional) a
  // constant table over it. S_OK; D3DERR_INVALIDCALL for bad options, no code
  // pointer or an unknown profile; E_FAIL after reported errors; the parser's
  // failure.
  HRESULT Compile(ShaderPreprocessor* source, const ProgramNode* parsed, const char* entry,
                  const ParseNode* declarations, const ParseNode* expression, const ParseNode* arguments,
                  std::uint32_t fragment, const char* profile, std::uint32_t options, DataBuffer** code,
                  ConstantTable** table);
  // The entry function `entry`; D3DERR_INVALIDCALL without one.
  HRESULT CompileSource(ShaderPreprocessor* source, const ProgramNode* parsed, const char* entry,
                        std::uint32_t fragment, const char* profile, std::uint32_t options, DataBuffer** code,
                        ConstantTable** table);
  // One function of a candidate list with the arguments of its call; option
  // bits 0x8 and 0x10 are dropped.
  HRESULT CompileFunction(ShaderPreprocessor* source, const ProgramNode* parsed, const ParseNode* declarations,
                          const ParseNode* arguments, std::uint32_t fragment, const char* profile,
                          std::uint32_t options, DataBuffer** code, ConstantTable** table);
  // An object-valued expression: code (*kind 0) for a plain value or a
  // compile expression, the bytes of an object literal (*kind 0) or of a
  // string with its terminator (*kind 1).
  HRESULT CompileObjectExpression(ShaderPreprocessor* source, const ProgramNode* parsed, const ParseNode* expression,
                                  const char* profile, std::uint32_t options, DataBuffer** buffer,
                                  std::uint32_t* kind);

  // --- Messages
  // Formats into 255 characters and logs at the node's location (a
  // declaration's name, a statement's first located child, an expression's
  // own token). Errors set the error flag. Use GXL_SHADER_REPORT(compiler,
  // node, msg::kName, ...) so the arguments are checked against the entry.
  void Report(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(5, 6);
  void ReportError(const ParseNode* node, std::uint32_t code, const char* format, ...) GXL_SHADER_PRINTF(4, 5);
  void ReportWarning(const ParseNode* node, std::uint32_t code, const char* format, ...) GXL_SHADER_PRINTF(4, 5);

  // --- Entry functions
  // The function of the program's top-level declarations named `name`, with
  // a body, not flagged as no entry point, whose target clause fits the
  // compile's version: the largest fitting target wins, the first on ties.
  ParseNodeKind10* FindEntryPoint(const char* name);
  // The same choice among the functions with a body that `declarations` (a
  // list of declarations, or of values addressing them) names; `name`, when
  // given, receives the chosen function's name.
  ParseNodeKind10* FindEntryPointByDeclaration(const ParseNode* declarations, const char** name);

  // --- Ranges
  // The value's range, cached in the value; S_OK, or E_FAIL with the full
  // range when a value it depends on is missing. `out` may be null.
  HRESULT EvaluateRange(std::uint32_t value, ValueRange* out);
  // The hull of the four corner products. A NaN product counts as 0, unless
  // `flags` has kValueExact: then the result is {NaN, NaN}.
  static void MultiplyRanges(ValueRange* out, const ValueRange& a, const ValueRange& b, std::uint32_t flags);
  // S_OK and the value when it is one finite number, else E_FAIL.
  HRESULT GetConstantValue(std::uint32_t value, double* out);

  // --- Placement
  // Gives rows x columns values consecutive registers of a bank with a fixed
  // register count: row by row, a matrix (shape 2) without kTypeRowMajor in
  // `typeFlags` column by column; each row starts a register. Values get the
  // bank, the tag, register, component and packed position (running offset
  // plus 4 per register). E_FAIL for a missing bank, one without a fixed
  // count, or a missing value.
  HRESULT PlaceValuesInBank(std::uint32_t shape, std::uint32_t rows, std::uint32_t columns, std::uint32_t typeFlags,
                            const std::uint32_t* values, std::uint32_t bank, std::uint32_t* runningOffset,
                            std::uint32_t tag, std::uint32_t* count);
  bool AllValuesTagged(const std::uint32_t* values, std::uint32_t count) const;
  // Whether a rows x columns operand (values row by row) is better read by
  // rows (CheckRowLayout) or by columns: 1 or 0.
  std::uint32_t CheckRowLayout(const std::uint32_t* values, std::uint32_t shape, std::uint32_t rows,
                               std::uint32_t columns) const;
  std::uint32_t CheckColumnLayout(const std::uint32_t* values, std::uint32_t shape, std::uint32_t rows,
                                  std::uint32_t columns) const;

  // --- Scratch storage
  // The scratch array with room for n indices; growth drops the old contents.
  // Null when memory runs out.
  std::uint32_t* ReserveScratch(std::uint32_t n);
  // Room for n words on the word stack; null when memory runs out. Blocks are
  // popped in reverse order of their pushes.
  std::uint32_t* PushWords(std::uint32_t n);
  void PopWords(std::uint32_t* block);

  // --- Emission
  // One instruction of `word` over `arguments` (the first group) and
  // `further` (the other groups one after another), or the sequence that
  // stands for it on this target. `results` (optional, one entry per result)
  // receives the result values. S_OK, E_FAIL after an internal error, or
  // E_OUTOFMEMORY.
  HRESULT EmitInstruction(const ParseNode* node, std::uint32_t word, std::uint32_t* results,
                          const std::uint32_t* arguments, const std::uint32_t* further, std::uint32_t resultFlags);
  // results = guard ? b : a per component; guards are 0 or 1.
  HRESULT EmitSelect(const ParseNode* node, std::uint32_t* results, const std::uint32_t* a, const std::uint32_t* b,
                     const std::uint32_t* guard, std::uint32_t n);
  // A pair (first, second) with less-than(second, first) 1 exactly where x is
  // not 0, and greater-or-equal(second, first) 1 exactly where x is 0.
  HRESULT EmitComparisonOperands(const ParseNode* node, std::uint32_t* first, std::uint32_t* second,
                                 const std::uint32_t* x, std::uint32_t n);

  // --- Types and values
  // One flags word per component of the type (at most `capacity`; `count`
  // receives the number of components). E_FAIL after reporting a malformed type.
  HRESULT TypeFlagsOf(const ParseNode* type, std::uint32_t* flags, std::uint32_t capacity, std::uint32_t* count);
  HRESULT ApplyTypeFlags(const ParseNode* type, const std::uint32_t* values, std::uint32_t count);
  // Replaces each value by the start of its chain of moves. With a type,
  // values that all turn out to be unplaced literals are replaced by literal
  // copies placed in a bank of their own in the type's layout.
  HRESULT ResolveMoveSources(const ParseNode* type, std::uint32_t* values, std::uint32_t count);
  // Whether `condition` tests the iteration count against a uniform integer
  // counter (count < counter): its symbol slot goes to `slot`. A counter
  // already in `counter` must be the same one; the counter found is stored there.
  bool MatchLoopCounter(std::uint32_t condition, std::uint32_t iterations, std::uint32_t* slot, std::uint32_t* counter);
  // A scalar, vector or matrix, looked through expressions, lists,
  // declarations and statements.
  static bool IsPlainValueType(const ParseNode* node);
  // Adds a bank of four literals for each register the source's "def"
  // pragmas give for this compile's profile.
  HRESULT ApplyPragmaDefs();

  // --- Expansions of intrinsics: the out arrays receive n value indexes each
  // (they are only written, and name no symbols to take over)
  HRESULT EmitSinCos(const ParseNode* node, const std::uint32_t* x, std::uint32_t* sine, std::uint32_t* cosine,
                     std::uint32_t n);
  HRESULT EmitArcSinCos(const ParseNode* node, const std::uint32_t* x, std::uint32_t* arcSine, std::uint32_t* arcCosine,
                        std::uint32_t n);
  // The arc tangent of y / x in the right quadrant; x null means 1.
  HRESULT EmitArcTan(const ParseNode* node, const std::uint32_t* y, const std::uint32_t* x, std::uint32_t* out,
                     std::uint32_t n);
  HRESULT EmitPower(const ParseNode* node, std::uint32_t* results, const std::uint32_t* base,
                    const std::uint32_t* exponent, std::uint32_t n);

  // --- Lowering of expressions (each delivers one value per component)
  // The expression's values into `results` (rows x columns entries, or null
  // when they are not needed). With `targetFlag` the expression is written
  // to: its values are those of the target's slots, left unconverted.
  HRESULT LowerExpression(const ParseNode* expression, std::uint32_t* results, std::uint32_t targetFlag);
  // A value node, an expression, or a list of them, into `count` values.
  HRESULT LowerValue(const ParseNode* node, std::uint32_t* results, std::uint32_t count);
  // Element `index` of an array of `total` components in elements of
  // `elementSize`; `base` holds the whole array. Reads pick the element
  // directly, through relative addressing, a dot product or a select chain;
  // writes need the element's own storage.
  HRESULT LowerArrayAccess(const ParseNode* node, std::uint32_t* results, std::uint32_t elementSize,
                           const std::uint32_t* base, std::uint32_t total, const ParseNode* arrayType,
                           const std::uint32_t* index, std::uint32_t write);
  // An expression program: the expression's values moved into the output bank.
  HRESULT LowerExpressionProgram(const ParseNode* expression);
  // --- Lowering of programs, functions and statements
  // Sets the program up over the parsed tree (standard banks, value map,
  // literals) and lowers the global declarations. S_OK, E_FAIL after a
  // reported error, E_OUTOFMEMORY.
  HRESULT LowerProgram();
  // One function, inlined: `arguments` is the call's "Parameters" list (its
  // inputs, then its output assignments), `results` receives the return
  // value of a called function. The entry binds its parameters and return
  // value to inputs, outputs and constants; `byDeclaration` lets only its
  // uniform parameters take arguments.
  HRESULT LowerFunction(const char* name, ParseNodeKind10* function, const ParseNode* arguments,
                        std::uint32_t* results, std::uint32_t isEntry, std::uint32_t byDeclaration);
  // A statement or statement list. `savedMap` (the value map at the start of
  // the enclosing body or branch) turns a discard into one discard of the
  // statement alone.
  HRESULT LowerStatement(const ParseNode* statement, const std::uint32_t* savedMap);
  // The branches of an if on `condition`: only the one a known condition
  // picks, an if block, or guarded code merged by select.
  HRESULT LowerIf(const ParseNode* node, std::uint32_t condition, const ParseNode* then, const ParseNode* otherwise);
  // A loop (`init` equal to `body` for a do loop): a flow-control loop where
  // the target allows one and it pays, else unrolled.
  HRESULT LowerLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                    const ParseNode* step = nullptr);
  // The two ways of a loop, over the value map at the loop's start; `body`
  // includes a for loop's step, `init` is the body of a do loop run first.
  HRESULT LowerFlowControlLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                               const ParseNode* body, const std::uint32_t* startMap);
  // How the condition and `step` (a for loop's step apart, or null) of an
  // unrolled loop relate to its body (TripCountWithoutBody).
  enum class Trip {
    kDependsOnBody,
    kWithoutBody,     // the body changes nothing they read, but may end the loop early
    kIndexesKnown,    // as kWithoutBody, but only indexes the conditions' rehearsal checks end it early
    kDecided,         // they alone decide the trip count
  };
  // Nonzero `passes` lowers that many passes at most, and the loop ends
  // there without a message (a dead loop's rehearsal takes the first).
  HRESULT UnrollLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                     const std::uint32_t* startMap, const ParseNode* step = nullptr,
                     Trip trip = Trip::kDependsOnBody, const PodArray<const ParseNode*>* indexes = nullptr,
                     std::uint32_t passes = 0);
  // What an unrolling whose condition and step do not tell its end watches
  // of its passes (unroll_endless.cpp): the slice of the loop that decides
  // its trip count, and the state of that slice at the last pass's start.
  struct EndlessWatch {
    bool sliced = false, usable = false, plain = false, rehearsed = false;
    std::vector<const ParseNode*> slice;
    std::vector<std::uint8_t> slots;
    std::vector<double> last;
    // The first state watched and its pass: where the unrolling then runs
    // to its limit, it runs there again from that state.
    std::vector<double> first;
    std::uint32_t firstPass = 0;
  };
  // At the start of pass `pass` (C the unguarded map, `accumulated` the
  // conditions so far): whether the unrolling will run to its limit, its
  // slice's state the same as at the last pass's start or as one found
  // before to run to the limit, or (once, past its first passes) its slice
  // rehearsed to the limit.
  bool RunsToLimit(EndlessWatch& w, const ParseNode* node, const ParseNode* condition, const ParseNode* body,
                   const PodArray<std::uint32_t>& c, std::uint32_t accumulated, std::uint32_t pass);
  // The state of the slots `slots` marks in `map`, of the accumulated
  // condition and of the attempt mode, each value by its facts alone: what
  // an unrolling's trip from there depends on. False where it cannot be told.
  bool TripState(const std::vector<std::uint8_t>& slots, const std::uint32_t* map, std::uint32_t accumulated,
                 std::vector<double>* state);
  // The state of a condition and step that alone decide a trip count, as
  // the memo of endless unrollings keeps it: each value by its range and
  // range facts alone, with which slots share one.
  void EndlessKey(const std::vector<std::uint8_t>& slots, const std::uint32_t* map, std::uint32_t accumulated,
                  std::vector<double>* state);
  // The unrolling of `loop` from a trip state (TripState, or EndlessKey for
  // a condition and step alone) found before to run to the limit from `pass`
  // or an earlier pass (its `certain`, where given).
  bool FoundEndless(const ParseNode* loop, std::uint32_t pass, const std::vector<double>& state,
                    bool* certain = nullptr) const;
  // The condition and the statements of `slice` lowered pass after pass from
  // `pass` on, as the unrolling's unguarded copy lowers them: whether they
  // run to the limit, or end the loop before it, or cannot tell (a pass
  // reports something or fails). Leaves everything as found.
  enum class Endless : std::uint8_t { kUnclear, kEnds, kRuns };
  // (`bodyFirst`: a do loop's, from its start: the slice lowered once first.)
  Endless RehearseSlice(const ParseNode* node, const ParseNode* condition, const std::vector<const ParseNode*>& slice,
                     const PodArray<std::uint32_t>& c, std::uint32_t accumulated, std::uint32_t pass,
                     bool bodyFirst = false);
  // After an unrolled iteration's exit test (A and C the maps it started
  // from) read past an array outside an attempt: S_OK where the guard is
  // then known to be 0, as the read only ends the loop; else the index's
  // message and E_FAIL.
  HRESULT ExitTestPastArray(const ParseNode* condition, std::uint32_t accumulated, const PodArray<std::uint32_t>& a,
                            const PodArray<std::uint32_t>& c);
  // Whether a loop's condition and step read nothing its body may write, so
  // that they alone decide its trip count, and (unless `endsEarly`) nothing
  // in the body ends an unrolling early (a return, a discard, an index that
  // may fall outside its array). Decided on the syntax tree; false where it
  // cannot tell. With `indexes`, indexes are allowed whose operands read
  // nothing the body writes or declares, and collected there: the step and
  // the start alone decide their values, so a rehearsal of the conditions
  // and step can tell the iteration where one falls outside its array.
  bool TripCountWithoutBody(const ParseNode* condition, const ParseNode* body, const ParseNode* step,
                            bool endsEarly = false, PodArray<const ParseNode*>* indexes = nullptr);
  // Whether a loop statement (while lowering a function) writes only locals
  // of that function that nothing outside it reads, and does nothing else
  // that outlives it: then it need not be lowered (dead_loops.cpp).
  bool LoopIsDead(const ParseNode* loop);
  // A dead loop lowered for its messages alone (dead_loops.cpp): as a live
  // one where that takes at most kDeadLoopWork and no unrolling in it runs
  // to the iteration limit, else each loop of it for its first pass only;
  // its code is thrown away, its messages are the program's.
  HRESULT LowerDeadLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const ParseNode* step);
  // LowerLoop past the test for a dead loop.
  HRESULT LowerLiveLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const ParseNode* step);
  // Marks the slots of every variable a loop's parts name (read, written or
  // declared), a called function's with its parameters and return value;
  // false where a part is not understood.
  bool LoopTouches(const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                   PodArray<std::uint8_t>* touched);
  // Marks the slots whose values may decide a loop's trip count: those its
  // condition reads, with its step's where the two alone decide it
  // (`plainBody` the body without the step); else, until none adds more,
  // all that a statement of `body` reads where it writes a marked slot or
  // may end the loop (a return, a discard). False where a part is not
  // understood.
  bool LoopTripSlots(const ParseNode* condition, const ParseNode* body, const ParseNode* plainBody,
                     const ParseNode* step, std::vector<std::uint8_t>* slots);
  // The statements of a loop's body (its step included) that decide its
  // trip count, in order, and the slots they and the condition read: as
  // LoopTripSlots, where besides a return or a discard an index that may
  // fall outside its array at one pass and not at another may end the loop
  // (loop_slice.cpp). Every other statement changes nothing they read and
  // cannot end the loop, so the condition and these alone tell whether an
  // unrolling runs to its limit. `plain`: they and the condition hold no
  // loop and no call. False where a part is not understood.
  // `endings`: with the statements that may end the loop (else those that
  // move what the condition reads alone).
  bool LoopTripSlice(const ParseNode* condition, const ParseNode* body, std::vector<const ParseNode*>* slice,
                     std::vector<std::uint8_t>* slots, bool* plain, bool endings = true);
  // Marks the slots the parts read; false where a part is not understood
  // (a call among them).
  bool LoopReads(std::initializer_list<const ParseNode*> parts, std::vector<std::uint8_t>* read);
  // Marks the slots a loop's parts may write, called functions' included;
  // false where a part is not understood.
  bool LoopWrites(const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                  std::vector<std::uint8_t>* written);
  // Drops the values and instructions from the counts on and restores the map.
  void RollBackIr(std::uint32_t valueCount, std::uint32_t instructionCount, const std::uint32_t* map);
  // Discards where any of the values, times the guard, is negative.
  HRESULT EmitDiscard(const ParseNode* node, const std::uint32_t* values, std::uint32_t count);
  // An intrinsic call (operator 26) into `results`.
  HRESULT LowerIntrinsic(const ParseNode* call, std::uint32_t* results);

  // --- Register binding
  // Places the values of a variable of `type`. Into a uniform bank they go
  // in a bank of their own (named by a register annotation that applies),
  // samplers in a sampler bank; into other banks (inputs, outputs) in
  // consecutive registers of that bank, each component with the semantic of
  // its struct member or else `semantic`. S_OK; S_FALSE when a component of
  // an input or output has no semantic; E_FAIL, E_OUTOFMEMORY.
  HRESULT BindRegisters(const ParseNode* type, const std::uint32_t* values, std::uint32_t count, std::uint32_t bank,
                        TokenNode* semantic, const ParseNode* annotations);
  // The register annotation that applies to this compile (exact profile,
  // then the bare shader type, then one without profile) named on `bank`,
  // which becomes an explicitly bound bank. Nothing in fragment mode.
  HRESULT BindRegisterAnnotations(const ParseNode* annotations, std::uint32_t bank);
  // Walks the type (members, elements, leaves), placing the values in turn.
  struct Placement;
  HRESULT BindTypeRegisters(const ParseNode* type, Placement& placement, TokenNode* semantic, std::uint32_t depth);
  // Fills the record's source-position tables once; E_OUTOFMEMORY.
  HRESULT DeclareUniform(UniformRecord& record);

  // The value-map slot of a variable: its own, or the one a global got.
  std::uint32_t SlotOf(const ParseNodeKind11* variable) const;

  // --- Literals and the program's lists
  // A new value of the literal bank; kNoIndex when memory runs out.
  std::uint32_t NewLiteral(double x);
  // The literals 1.0, 0.0 and -1.0 of the program, made on first use.
  std::uint32_t One();
  std::uint32_t Zero();
  std::uint32_t MinusOne();
  // Entries kNoIndex, one per symbol slot; E_OUTOFMEMORY.
  HRESULT ResetValueMap(std::uint32_t slots);

  RegisterBank* Bank(std::uint32_t i) const { return target ? target->Bank(i) : nullptr; }
  IrValue* Value(std::uint32_t i) const { return target ? target->Value(i) : nullptr; }
  IrInstruction* Instruction(std::uint32_t i) const { return target ? target->Instruction(i) : nullptr; }
  std::uint32_t ValueCount() const { return target ? target->values.Count() : 0; }
  static bool IsUnaryWord(std::uint32_t word) { return IrClass(word) == 1; }
  static bool IsBinaryWord(std::uint32_t word) { return IrClass(word) == 2; }
  static bool IsFixedCountWord(std::uint32_t word) { return IrClass(word) == 6; }
  static bool IsDiscardWord(std::uint32_t word) { return (word & 0xFFF00000u) == 0x11000000u; }

  // --- The run
  ShaderPreprocessor* source = nullptr;   // its log takes the messages
  const char* profile = nullptr;          // the profile compiled for, as named
  const ParseNode* tree = nullptr;        // the parsed program
  std::unique_ptr<ShaderProgram> target;  // the program being filled
  // Handed to the target's program (ShaderProgram::referenceSearches); tests only.
  bool referenceSearches = false;
  // Handed to the target's program (ShaderProgram::secondPhaseStepHook);
  // tests and benchmarks only.
  HRESULT (*secondPhaseStepHook)(ShaderProgram&, std::uint32_t step, HRESULT status) = nullptr;
  // The work budget of a run's lowering (ShaderProgram::workLeft; the later
  // phases get what the cap leaves, ShaderProgram::GrantRestOfCap); tests set
  // less. workGranted: the last run's whole budget.
  std::uint64_t workBudget = kCompileWorkBudget;
  std::uint64_t workGranted = kCompileWorkBudget;
  // Of the last run's program: the work it spent, and with the reference
  // switch, the fields selection's def-use upkeep set otherwise than the
  // full rebuild (ShaderProgram::defUseUpkeepMismatches).
  std::uint64_t workSpent = 0;
  // The cap on the work of a whole compile (ShaderProgram::workCap; tests
  // set less), and what the last compile charged in all, every run of it.
  std::uint64_t workCap = kCompileWorkCap;
  std::uint64_t workCharged = 0;
  // Of the last compile: whether an optimised refusal at a limit was
  // compiled again with 0x4 (GenerateWithinLimits).
  std::uint32_t secondCompiles = 0;
  std::uint32_t defUseUpkeepMismatches = 0;
  // Handed to the target's program (ShaderProgram::roundUpkeepFrom and
  // checkRoundUpkeep); tests only. Of the last run: the optimiser passes run
  // incrementally, and with the check those that left the program otherwise
  // than the full pass (ShaderProgram::roundUpkeepPasses, roundUpkeepMismatches),
  // and the readers met spreading changes (roundUpkeepReadersMet).
  std::uint32_t roundUpkeepFrom = kRoundUpkeepFrom;
  bool checkRoundUpkeep = false;
  std::uint32_t roundUpkeepPasses = 0, roundUpkeepMismatches = 0;
  std::uint64_t roundUpkeepReadersMet = 0;
  // Test switch: the first reuse of each kept simulation of an inner loop
  // inside an outer one (which referenceSearches turns off), and every n-th
  // reuse besides, also runs the simulation, unmetered, and compares every
  // finding the reuse would have supplied; 0 checks none. Of the last run:
  // the reuses, those checked, and those whose findings differed.
  std::uint32_t checkLoopMemos = 0;
  std::uint32_t loopMemoHits = 0, loopMemoChecks = 0, loopMemoMismatches = 0;
  // Of the last run: the simulations of inner loops run from widened entry
  // facts (loop_widening.cpp), reuses left out.
  std::uint32_t widenedSimulations = 0;
  // Of the last run: the simulations that settled (lower_loop.cpp,
  // SettleLoop), and with referenceSearches, those also simulated through
  // every pass and the ones whose settled findings did not cover the full
  // simulation's.
  std::uint32_t settledSimulations = 0, settleChecks = 0, settleMismatches = 0;
  // Of the last run: the flow-control loops compiled from covering facts
  // because their simulation passed the budget (loop_cover.cpp), and with
  // referenceSearches, those also simulated in full where that fit four times
  // the lowering's bound, and the ones whose facts did not cover the full ones.
  std::uint32_t coveredLoops = 0, coverChecks = 0, coverMismatches = 0;
  // Of those, the loops whose simulation was given up by projection (its
  // work so far and the passes it may still run would pass its share of
  // what is left: loop_projection.cpp), and with referenceSearches, those
  // whose full simulation was measured, and the ones it showed within the
  // share after all.
  std::uint32_t projectedLoops = 0, projectionChecks = 0, projectionMisses = 0;
  // Of the compile: unrollings forced below the kept depth that were reused
  // from an entry met before instead of built again (unroll_memo.cpp).
  std::uint32_t reusedUnrollings = 0;
  // Of the compile: the steps the descriptions of loop entries took along
  // chains of moves (MoveRoot), each link walked once.
  std::uint64_t moveChainSteps = 0;
  // With the switch: hoisting's trial assignments that took over the run
  // before them and disagreed with the full one (ShaderProgram::reassignMismatches).
  std::uint32_t reassignMismatches = 0;
  // Bounds of the lowering, which unrolls and rehearses loops: the values and
  // instructions it holds at once (the memory), and the instructions it
  // builds in all, rolled-back ones included (the time). Past either, the
  // compile ends as past the work budget. Tests set less.
  std::uint32_t loweringRecordLimit = kLoweringRecordLimit;
  std::uint64_t loweringBuildLimit = kLoweringBuildLimit;
  std::uint64_t loweringBuilt = 0;  // of the current run
  // The instructions the lowering built in the last run, those of
  // simulations given up and rehearsals rolled back included (the work of
  // loops, whatever was refunded); for tests.
  std::uint64_t InstructionsBuilt() const;
  std::uint32_t version = 0;              // version token of the compile target
  std::uint32_t options = 0;
  std::uint32_t fragmentMode = 0;
  PodArray<std::uint32_t> valueMap;  // value per symbol slot
  std::uint32_t one = kNoIndex, zero = kNoIndex, minusOne = kNoIndex;
  std::uint32_t guard = kNoIndex;         // the value conditioning the current code
  std::uint32_t blockContext = kNoIndex;  // innermost open flow-control block
  std::uint32_t polarity = 1;             // the block side being emitted
  std::uint32_t inlineDepth = 0;
  // Loop attempts: while loopAttempt is set, array errors are recorded in
  // outOfBounds instead of reported, and code a flow-control loop cannot hold
  // sets abandonLoop. loopCounter is the counter's range in the iteration
  // being simulated.
  std::uint32_t loopAttempt = 0;
  std::uint32_t outOfBounds = 0;
  std::uint32_t abandonLoop = 0;
  std::uint32_t loopDepth = 0;
  ValueRange loopCounter{0.0, 0.0};
  // The values a variable reference without a symbol slot reads: the
  // current intrinsic argument's.
  const std::uint32_t* callArguments = nullptr;
  std::uint32_t defaultPrecision = kValueFloat;  // for results that name none
  std::uint32_t errorFlag = 0;
  std::uint32_t reportedMessages = 0;  // errors and warnings of the run
  // Statement lowering: the stop flags of the function being lowered (a
  // return, a discard), the open if blocks, and the uniforms declared.
  std::uint32_t returned = 0;
  std::uint32_t discarded = 0;
  std::uint32_t staticIfs = 0;
  std::uint32_t dynamicIfs = 0;
  PodArray<UniformRecord> uniforms;

  const double infinity;
  const double negativeInfinity;
  const double epsilon = 1e-6;  // widening step and integer tolerance of the ranges

 private:
  struct WordStack;

  HRESULT EvaluateRangeAt(std::uint32_t value, ValueRange* out, std::uint32_t depth);
  HRESULT InstructionRange(const IrValue& v, std::uint32_t value, ValueRange* out, std::uint32_t depth);
  HRESULT ArgumentRange(const IrInstruction& inst, std::uint32_t k, ValueRange* out, std::uint32_t depth);
  void VReport(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format, va_list args)
      GXL_SHADER_PRINTF(5, 0);
  // A formatted message: counted, then caught, held back or logged.
  void Deliver(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* text, bool held);
  ParseNodeKind10* ChooseEntryPoint(const char* name, const ParseNode* declarations, const char** chosenName);
  std::uint32_t OperationCaps() const { return target ? target->profileLimits.capabilities : 0; }
  std::uint32_t FlowCaps() const { return target ? target->profileLimits.secondFlags : 0; }
  // Lowering of statements (lower_program.cpp, lower_statement.cpp,
  // lower_if.cpp, lower_loop.cpp).
  struct GlobalSlot {
    const ParseNodeKind11* variable;
    std::uint32_t slot;
  };
  struct Branch;
  struct LoopState;
  struct LoopFindings;
  struct LoopMemo;
  // A value's own facts (flags and range fields), kept while an unrolled
  // iteration's body borrows those of the unguarded iteration.
  struct HeldFacts {
    std::uint32_t value, flags;
    double low, high;
  };
  // Puts the facts back, latest first, so that a value held twice ends with its own.
  void RestoreFacts(const PodArray<HeldFacts>& held);
  // The facts of the values before an unrolled iteration, set for the if
  // that guards its body: that if takes them and puts them back before it
  // merges, as the side that skips the body reads those values.
  const PodArray<HeldFacts>* heldFacts = nullptr;
  HRESULT AssignGlobalSlots(std::uint32_t* slots);
  // A new target made the run's (Compile), its counters cleared; the target.
  ShaderTarget* TakeTarget(std::unique_ptr<ShaderTarget> made);
  // The per-run state of the lowering, as a run starts.
  void ResetRun();
  // One try of a Compile from the parsed tree: the lowering, then the
  // target's code generation into `code`. S_FALSE where the target asks for
  // loops to be unrolled (ShaderTarget::FitFlowControl).
  HRESULT LowerAndGenerate(ShaderTarget* generator, const char* entry, const ParseNode* declarations,
                           const ParseNode* expression, const ParseNode* arguments, DataBuffer** code);
  // The tries of a Compile from the parsed tree (LowerAndGenerate), the
  // kept loops the target cannot hold unrolled: its code, or its failure.
  HRESULT GenerateFitting(ShaderTarget* generator, const char* entry, const ParseNode* declarations,
                          const ParseNode* expression, const ParseNode* arguments, DataBuffer** code);
  // GenerateFitting, and where optimised code passes a limit of the profile,
  // the same with 0x4 (ShaderTarget::PassedALimit).
  HRESULT GenerateWithinLimits(ShaderTarget* generator, const char* entry, const ParseNode* declarations,
                               const ParseNode* expression, const ParseNode* arguments, DataBuffer** code);
  // Loops the run unrolls whatever the target allows, as their kept form
  // does not fit it (set by Compile while it runs).
  const PodArray<const ParseNode*>* m_unrolledLoops = nullptr;
  bool UnrollsLoop(const ParseNode* loop) const;
  // The globals, then the entry function or the expression of a Compile.
  HRESULT LowerEntry(const char* entry, const ParseNode* declarations, const ParseNode* expression,
                     const ParseNode* arguments);
  // The global declaration of a function (where its messages point), or null.
  const DeclarationNode* DeclarationOf(const ParseNodeKind10* function) const;
  HRESULT LowerDeclaration(const DeclarationNode& declaration);
  HRESULT LowerStatementNode(const StatementNode& s);
  HRESULT LowerReturn(const StatementNode& s);
  // n new values of `bank` for the variable's slots, entered in the map.
  HRESULT NewVariableValues(const DeclarationNode* declaration, std::uint32_t slot, std::uint32_t n,
                            std::uint32_t bank, std::uint32_t* values);
  HRESULT BindEntryParameter(const char* function, const DeclarationNode& parameter, std::uint32_t* values);
  HRESULT BindEntryOutputs(const char* function, const ParseNode* type, std::uint32_t* values, std::uint32_t n,
                           const DeclarationNode* parameter, TokenNode* semantic, const ParseNode* annotations);
  HRESULT MergeRepeatedInputs(const ParseNode* node, const std::uint32_t* inputs, std::uint32_t n);
  // Destroys the instructions from `count` on; their results lose their definition.
  void DropInstructionsFrom(std::uint32_t count);
  // Instructions emitted from `position` on, with those an unrolling left
  // out (AddSkipped) where its unguarded copy of an iteration would only
  // have repeated the guarded one: what heuristics that weigh the emitted
  // code count, so that leaving them out changes no decision.
  std::uint64_t EmittedSince(std::uint32_t position) const;
  bool AddSkipped(std::uint64_t count);
  // Whether an instruction from `from` on, `except` aside, passes `test`.
  bool AnyInstructionSince(std::uint32_t from, bool (*test)(std::uint32_t word),
                           std::uint32_t except = kNoIndex) const;
  std::uint32_t InstructionCount() const { return target ? target->instructions.Count() : 0; }
  void PlaceIn(std::uint32_t value, StandardBank bank);
  HRESULT LowerBranch(const ParseNode* branch, const std::uint32_t* saved, Branch& out);
  HRESULT MergeBranches(const ParseNode* node, const Branch& then, const Branch& otherwise, const std::uint32_t* saved,
                        bool flowControl, std::uint32_t block, std::uint32_t thenPolarity, std::uint32_t thenGuard);
  HRESULT LowerLoopBody(const ParseNode* body);
  // What a loop's simulation starts from for a symbol's value: its range
  // (empty where there is none), and its facts (all of them where it has no
  // value or an undefined one).
  ValueRange EnteredRange(std::uint32_t value);
  std::uint32_t EnteredFacts(std::uint32_t value) const;
  // Takes a slot's value at a loop's test into its exit facts: where the
  // condition is known to hold the loop cannot end at this test and they
  // start afresh from the value, else they cover it too.
  void NoteExitFacts(LoopState& st, std::size_t slot, std::uint32_t value, bool running);
  // After a loop's test that read past its array: true, the record dropped,
  // where the test fails there whatever it read (a bound beside the read
  // decides it), so that it ends the loop as any failing test.
  bool FailsWithoutPastRead(std::uint32_t test);
  // What an unrolling starting from the value map as it stands learns from
  // its conditions and steps alone (the caller made sure its body changes
  // nothing they read): whether every iteration is known to run until one is
  // known not to, and, with `toLimit`, whether they reach the iteration
  // limit. Lowered with messages held back; leaves IR and map as found.
  struct TripFacts {
    bool certain = false;
    bool endless = false;
  };
  TripFacts RehearseTrip(const ParseNode* node, const ParseNode* condition, const ParseNode* step, bool toLimit,
                         const PodArray<const ParseNode*>* indexes = nullptr);
  // Whether a flow-control loop would fail for want of a break: simulated
  // through its condition and step alone (which decide the trip count), it
  // runs fewer than two passes, or its condition is not known to hold in
  // every pass and counts against no uniform. Leaves IR and map as found.
  bool LoopNeedsBreak(const ParseNode* condition, const ParseNode* step);
  // How a loop whose condition and step alone decide its trip count runs
  // from the value map as it stands, through them alone while the
  // accumulated condition is a known constant: it ends within `limit`
  // passes, still holds after them, or stops being known; unclear where a
  // pass reports something or fails. Leaves IR and map as found.
  enum class EntryTrip : std::uint8_t { kUnclear, kOpen, kEnds, kRunning };
  EntryTrip RehearseEntryTrip(const ParseNode* node, const ParseNode* condition, const ParseNode* step,
                              std::uint32_t limit);
  struct ConditionPass;
  // The state of the lowering at one point, to go back to (dead_loops.cpp).
  struct LoweringMark;
  // Messages of a rehearsal kept back until it is known whether they stand,
  // then delivered in order (dead_loops.cpp).
  struct CaughtMessages;
  class MessageCatch;
  CaughtMessages* m_caught = nullptr;
  void Catch(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* text, bool held);
  // Holds back the messages of a rehearsal (lowering that is rolled back)
  // for its lifetime: they count in reportedMessages and set the error flag
  // but reach no log.
  class MessageHold {
   public:
    explicit MessageHold(ShaderCompiler& c) : m_c(c) { ++m_c.m_heldMessages; }
    ~MessageHold() { --m_c.m_heldMessages; }
    MessageHold(const MessageHold&) = delete;
    MessageHold& operator=(const MessageHold&) = delete;

   private:
    ShaderCompiler& m_c;
  };
  // X3511 for an unrolling that reached its iteration limit; E_FAIL.
  HRESULT RefuseEndlessLoop(const ParseNode* node);
  // After the work bound ended a loop's unrolling (the IR and map from
  // before its first iteration given): X3511 in place of the bound's
  // message when its condition and step alone reach the iteration limit,
  // or where the body moves what the condition reads (`bodyDecides`, or a
  // do loop's `init`), its condition and the statements that move it do.
  void ClaimEndlessUnrolling(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                             const ParseNode* body, const ParseNode* step, bool bodyDecides, std::uint32_t values,
                             std::uint32_t instructions, const std::uint32_t* startMap);
  // S_FALSE, with the symbols through `missed`, when the body changes symbols
  // the simulation saw unchanged (its values there were known, here only
  // their ranges are): the loop must carry them too.
  HRESULT EmitFlowControlLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                              const ParseNode* body, const PodArray<std::uint32_t>& carried, LoopState& state,
                              const std::uint32_t* startMap, PodArray<std::uint32_t>* missed);
  // The iterations of a flow-control loop's simulation from the map at its
  // start (`valuesBefore` values then), up to `limit`. With `unknown`, a
  // probe: it ends, setting *unknown and finding nothing, at the first pass
  // whose accumulated condition is not a known constant.
  HRESULT SimulateLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                       const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                       std::uint32_t limit, LoopState& st, LoopFindings* found, bool* unknown = nullptr);
  // The findings of a flow-control loop's simulation from its entry facts in
  // `st`: run, or inside an outer simulation those of an earlier run under
  // the same facts (kept for later where there are none).
  // A simulation in progress: what the passes carry from one to the next.
  struct LoopRun;
  using LoopPass = std::function<HRESULT(std::uint32_t pass, bool* stop)>;
  // After a few exact passes of a long simulation whose condition and step
  // alone decide its trip count: the rest of the trip rehearsed through them,
  // and the body lowered once from entry facts that cover every pass left.
  // S_OK where it settled (the run and `st` as the full simulation's, or
  // wider), S_FALSE where it did not (all as it was: the passes go on).
  HRESULT SettleLoop(LoopRun& run, std::uint32_t pass, LoopState& st, const LoopPass& exactPass);
  // The rehearsal and the settled pass of SettleLoop.
  HRESULT SettleOnce(LoopRun& run, std::uint32_t pass, LoopState& st);
  HRESULT RehearseRest(LoopRun& run, std::uint32_t pass, LoopState& st, const std::vector<std::uint8_t>& stepped,
                       PodArray<ValueRange>* left, PodArray<std::uint32_t>* leftFacts);
  // The findings of a flow-control loop's simulation (SimulateEntry), or
  // where the simulation would pass the lowering's bound, facts that cover
  // every pass (CoverLoop) in their place (loop_cover.cpp).
  HRESULT FindLoopFacts(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                        std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st, LoopFindings* found);
  // S_FALSE where nothing covers it (its facts do not settle, or it
  // returns): it is unrolled. `projectedShare`: where a projection gave the
  // simulation up at a loop whose condition and step end it, the share it was projected past (for
  // the reference check: that loop's passes are known, so the full
  // simulation cannot be cheaper), else 0.
  HRESULT CoverLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                    const std::uint32_t* startMap, std::uint32_t valuesBefore, std::uint32_t instructionsBefore,
                    std::uint32_t limit, LoopState& st, LoopFindings* found, std::uint64_t projectedShare = 0);
  // The covering pass of a loop whose condition and step do not decide its
  // trip count: S_FALSE where its facts do not settle.
  HRESULT CoverPass(const ParseNode* node, const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                    const std::uint32_t* startMap, std::uint32_t valuesBefore, std::uint32_t instructionsBefore,
                    std::uint32_t limit, LoopState& st, LoopFindings* found,
                    const std::vector<std::uint8_t>* bare = nullptr);
  // A loop met inside a covering pass, covered in one pass of its own: each
  // symbol it may write (`bare` in CoverPass) enters without facts, so the
  // pass covers every pass at once, and the loops inside it are covered so
  // too. Its facts serve only the covering pass around it.
  HRESULT CoverInsidePass(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                          const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                          std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st, LoopFindings* found);
  // What the declared type of the variable a value belongs to gives every
  // value it holds (integer, boolean); 0 where it cannot be told.
  std::uint32_t DeclaredFacts(std::uint32_t value);
  // Under the reference switch: the full simulation's findings beside the
  // covering ones (`decided`: the trip count came from the condition and
  // step).
  void CheckCoveredLoop(const LoopState& covered, const LoopFindings& coveredFound, const LoopState& full,
                        const LoopFindings& fullFound, const std::uint32_t* startMap, std::uint32_t limit,
                        bool decided);
  // Whether the lowering now does work the ceilings do not measure: checks
  // and reruns stand for work the other mode does not do, and a dead loop's
  // rehearsal has a bound of its own.
  bool Unmeasured() const;
  // Whether the lowering of an exact simulation stops here: the simulation
  // work has reached the lowering's bound, or a simulation inside another
  // has passed its share (m_pastCeiling is then set until the simulation
  // m_cutLevel names takes it).
  bool PastCeiling();
  // What the lowering has spent at one point, and giving back what it spent
  // since (a simulation or covering pass given up), within the bound on
  // refunds: false past that bound.
  struct SpentWork {
    std::uint64_t simulation, built, left, bankWork;
  };
  SpentWork SpentSoFar() const;
  // `projected`: given up by projection, after a few passes, however
  // little of the bound was left when it began.
  bool Refund(const SpentWork& at, bool projected = false);
  // The projection of an exact simulation open (one level of m_levels):
  // where it began, and its share: the outermost's of what was left then of
  // the lowering's bound and of the work budget, one inside another's of
  // what was left then of that one's share (loop_projection.cpp).
  struct Projection {
    bool on = false;
    std::uint64_t start = 0, startBudget = 0, share = 0, budgetShare = 0;
    // The work of rehearsals of conditions (PassesLeft): not the simulation's.
    std::uint64_t rehearsed = 0, rehearsedBudget = 0;
    std::size_t outermost = 0;  // its first run in m_openRuns
    std::uint32_t coverPasses = 0;  // m_coverPasses when it began
    // An unrolling's passes, not a simulation: the loops inside share what
    // it has, but it is never given up (LevelCoverable); where its code
    // serves only a simulation or a covering pass around it (`rehearsal`),
    // past its share that one is given up (LevelPastShare).
    bool unrolling = false, rehearsal = false;
    // Its work so far, and whether it has passed its share.
    std::uint64_t Spent(std::uint64_t work) const { return work - start - rehearsed; }
    std::uint64_t SpentBudget(std::uint64_t work) const { return work - startBudget - rehearsedBudget; }
  };
  Projection OpenProjection() const;
  // Whether the loop of the level `index` may be covered: its conditions so
  // far are not all known, or its condition and step end it within the
  // limit or decide its trip count (an exact simulation unrolls a loop known
  // to run through the limit, which covering facts cannot tell from one
  // that may end). A loop around it whose trip count its writes may decide
  // is then kept only where its own end stays known (TaintEnclosingTrips).
  bool LevelCoverable(std::size_t index);
  // A simulation inside another that has passed its share: the innermost
  // that may be covered (its index in m_levels), or none. An unrolling past
  // its share inside a simulation (or a covering pass) gives up the
  // innermost simulation around it that may be covered, the outermost
  // included (*outermost set), or where there is none, the covering pass
  // (kCoverPassLevel).
  std::size_t LevelPastShare(bool* outermost);
  static constexpr std::size_t kCoverPassLevel = ~std::size_t{0} - 1;
  // Whether the innermost level open is an unrolling's passes that have
  // spent its share: the loops inside its passes left are covered in one
  // pass each, as inside a covering pass, not simulated.
  bool UnrollingPastShare() const;
  // The outermost simulation open (its index in m_levels), or none.
  std::size_t OutermostSimulation() const;
  // The outermost simulation's level, or one inside it: given up, its loop
  // covered. With the level's messages caught, its work measured.
  HRESULT SimulateLevel(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                        std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st, LoopFindings* found);
  // Whether a covering pass is the innermost lowering open: the loops met
  // there are covered in one pass (no simulation inside a covering pass).
  bool InsideCoverPass() const;
  // The simulation work of a loop's last passes.
  struct PassCosts {
    std::uint64_t work[2] = {0, 0}, budget[2] = {0, 0};
    std::uint64_t atWork = 0, atBudget = 0;
  };
  void BeginPass(PassCosts& costs) const;
  void EndPass(PassCosts& costs) const;
  // Whether the simulation at `run`'s pass `pass` stops by projection: the
  // work spent since the outermost simulation began, and the cheaper of the
  // last two passes times the passes the loop may still run, pass its share
  // (m_pastCeiling and m_projected are then set). Only where covering facts
  // cannot take a loop that runs past the iteration limit for one that may
  // end within it: the outermost loop's conditions so far are not all known,
  // or its condition and step end it within the limit.
  bool ProjectionStops(LoopRun& run, std::uint32_t pass, const PassCosts& costs);
  // The passes from `pass` on that a loop whose condition and step alone
  // decide its trip count may still run, from a rehearsal of them (kept in
  // the run); the limit's rest for any other loop.
  std::uint32_t PassesLeft(LoopRun& run, std::uint32_t pass);
  // The lowering's instructions built but for simulations run where the
  // compile without the reference switch reuses or skips them, checks, and
  // simulations given up: the same with and without the switch.
  std::uint64_t SimulationWork() const;
  // The compile's work budget that work takes, with the banks of reused
  // simulations (m_reusedBankWork).
  std::uint64_t SimulationBudgetWork() const;
  // Whether the loop's remaining passes are worth settling.
  bool SettlesAt(const LoopRun& run, std::uint32_t pass, std::uint64_t builtPerPass);
  HRESULT SimulateOrReuse(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                          const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                          std::uint32_t limit, LoopState& st, LoopFindings* found, bool* unknown = nullptr);
  // The simulation of a flow-control loop at its entry (LowerFlowControlLoop
  // has set up `st` from the map): SimulateOrReuse from the entry, or inside
  // an outer simulation from widened facts where the entry's are met
  // otherwise at each pass (loop_widening.cpp).
  HRESULT SimulateEntry(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const std::uint32_t* startMap, std::uint32_t valuesBefore,
                        std::uint32_t instructionsBefore, std::uint32_t limit, LoopState& st, LoopFindings* found);
  // What a kept simulation did besides finding facts, done again: the banks
  // it added, the statement numbers it took; a failure past the work budget.
  HRESULT ReplayLoopMemo(const LoopMemo& memo);
  // A kept simulation's findings into `found`, its facts over the entry
  // facts in `st`.
  static void ApplyLoopMemo(const LoopMemo& memo, LoopState& st, LoopFindings* found);
  // What a simulation would keep.
  static void MakeLoopMemo(std::vector<double> key, const PodArray<ValueRange>& entryHead,
                           const PodArray<std::uint32_t>& entryFlags, const LoopState& st, const LoopFindings& found,
                           LoopMemo* out);
  // Whether two simulations' findings and facts are the same.
  static bool SameLoopFindings(const LoopState& a, const LoopFindings& f, const LoopState& b,
                               const LoopFindings& g);
  // A move of `from` into the symbol's slot (the loops' counter).
  HRESULT MoveIntoSlot(const ParseNode* node, std::uint32_t slot, std::uint32_t from);

  // Intrinsic expansions (lower_intrinsic.cpp, lower_intrinsic_forms.cpp).
  struct IntrinsicCall;
  HRESULT ExpandIntrinsic(IntrinsicCall& call);
  HRESULT ExpandAllAny(IntrinsicCall& call);
  HRESULT ExpandDeterminant(IntrinsicCall& call);
  HRESULT ExpandFiniteTest(IntrinsicCall& call);
  HRESULT ExpandLit(IntrinsicCall& call);
  HRESULT ExpandModfFrexp(IntrinsicCall& call);
  HRESULT ExpandMul(IntrinsicCall& call);
  HRESULT ExpandRefract(IntrinsicCall& call);
  HRESULT ExpandSmoothstep(IntrinsicCall& call);
  HRESULT ExpandSample(IntrinsicCall& call);

  // The literal, made on first use and kept in `slot`.
  std::uint32_t KeptLiteral(std::uint32_t& slot, double x);
  // A literal of the expansions: the literal bank, register 0, component 0.
  std::uint32_t ExpansionConstant(double x);
  HRESULT AppendInstruction(const ParseNode* node, std::uint32_t word, std::uint32_t* results,
                            const std::uint32_t* arguments, const std::uint32_t* further, std::uint32_t resultFlags);
  HRESULT FoldToLiterals(IrInstruction& inst);
  void PropagateFlags(const IrInstruction& inst);
  HRESULT EmitDotOfTwo(const ParseNode* node, std::uint32_t* results, const std::uint32_t* a, const std::uint32_t* b,
                       std::uint32_t resultFlags);
  HRESULT EmitCompareBySelect(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* results,
                              const std::uint32_t* a, const std::uint32_t* b, std::uint32_t resultFlags);
  // Instructions of one or two groups over n components into `out`, which
  // may alias an argument, for the expansions.
  HRESULT Emit1(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out, const std::uint32_t* a,
                std::uint32_t flags = 0);
  HRESULT Emit2(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out, const std::uint32_t* a,
                const std::uint32_t* b, std::uint32_t flags = 0);
  // Emit2 with the literal x in every component of the second group.
  HRESULT Emit2Constant(const ParseNode* node, std::uint32_t group, std::uint32_t n, std::uint32_t* out,
                        const std::uint32_t* a, double x, std::uint32_t flags = 0);
  HRESULT EmitSinCosSeries(const ParseNode* node, const std::uint32_t* x, std::uint32_t* sine, std::uint32_t* cosine,
                           std::uint32_t n);
  HRESULT EmitIntegerPower(const ParseNode* node, std::uint32_t* results, const std::uint32_t* base, std::int64_t k,
                           std::uint32_t n);
  HRESULT BindLiteralCopies(const ParseNode* type, std::uint32_t* values, std::uint32_t count);

  // Lowering helpers (lower_expression.cpp, lower_value.cpp, lower_array.cpp).
  struct Operands;
  HRESULT ApplyOperator(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n, const Operands& operands,
                        std::uint32_t targetFlag, bool wanted);
  HRESULT LowerBinary(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n, const std::uint32_t* a,
                      const std::uint32_t* b);
  HRESULT LowerConditional(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n, const Operands& operands);
  HRESULT StoreInto(const ParseNodeKind13& e, std::uint32_t* out, std::uint32_t n, const std::uint32_t* target,
                    std::uint32_t group, const std::uint32_t* a, const std::uint32_t* b);
  HRESULT ConvertToType(const ParseNodeKind13& e, std::uint32_t* values, std::uint32_t n);
  HRESULT LowerLeaf(const ParseNode* node, std::uint32_t* results, std::uint32_t count);
  // 1 where x is 0 (`zero`) or where it is not, flagged as comparisons.
  HRESULT EmitTruth(const ParseNode* node, std::uint32_t* out, const std::uint32_t* x, std::uint32_t n, bool zero);
  // The whole number at or below *value (an array index), unless it is one.
  HRESULT EmitIndexFloor(const ParseNode* node, std::uint32_t* value);
  HRESULT EmitRelativeRead(const ParseNode* node, std::uint32_t* results, std::uint32_t s, const std::uint32_t* values,
                           std::uint32_t lo, std::uint32_t end, std::uint32_t stride, std::uint32_t index);
  HRESULT EmitSelectedElement(const ParseNode* node, std::uint32_t* results, std::uint32_t s,
                              const std::uint32_t* values, std::uint32_t lo, std::uint32_t end, bool bound,
                              bool sameRegister, std::uint32_t index);
  // The 4 x 4 identity table of literals, made once per program.
  std::uint32_t IdentityTable();
  HRESULT OutOfMemory(const ParseNode* node);

  std::unique_ptr<WordStack> m_words;
  ParseNodeKind10* m_function = nullptr;  // the function being lowered
  PodArray<GlobalSlot> m_globalSlots;     // by variable address
  std::uint32_t m_statementSequence = 0;
  std::uint32_t* m_scratch = nullptr;
  std::uint32_t m_scratchCapacity = 0;
  // Running totals of skipped instructions (AddSkipped), each at the
  // instruction count when it was added; dropped with the instructions.
  struct Skipped {
    std::uint32_t position;
    std::uint64_t total;
  };
  PodArray<Skipped> m_skipped;
  // The loops of the run LoopIsDead has judged.
  struct DeadLoop {
    const ParseNode* loop;
    bool dead;
  };
  std::uint32_t m_heldMessages = 0;  // MessageHold scopes open
  std::uint32_t m_identityTable = kNoIndex;  // bank of IdentityTable
  struct RerunScope;
  // The exact simulations open that may be given up: kNoLevel, none.
  static constexpr std::size_t kNoLevel = ~std::size_t{0};
  // Unrollings forced below the kept depth where their code is thrown away
  // (unroll_memo.cpp): whether one here may be reused, its entry by facts,
  // and the unrolling or the reuse of one met before from the same entry.
  bool UnrollingReusable() const;
  std::vector<double> UnrollingKey(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                   const ParseNode* body);
  HRESULT UnrollOrReuse(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                        const ParseNode* body, const std::uint32_t* startMap, const ParseNode* step, Trip trip,
                        const PodArray<const ParseNode*>* indexes);
  struct KeptUnrolling;
  HRESULT ReuseUnrolling(const ParseNode* node, const KeptUnrolling& kept);
  // The entry facts of a loop that decide its simulation; empty where none can be had.
  std::vector<double> LoopMemoKey(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                  const ParseNode* body);
  // What the lowering can learn of a value, appended to `out` (values met
  // before, in `seen`, by where they were met); false past the nesting bound.
  bool DescribeValue(std::uint32_t x, std::vector<double>* out, std::vector<std::uint32_t>* seen, std::uint32_t depth);
  // The value that x's chain of moves ends at, as ResolveMoveSources walks
  // it (without its side effect): a value copied at every pass of an unrolled
  // loop makes a chain as long as the passes, met again at every key.
  std::uint32_t MoveRoot(std::uint32_t x);
  // The key's part that is not a symbol's: the loop, and the lowering's
  // state around it.
  bool DescribeLoopContext(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                           std::vector<double>* out, std::vector<std::uint32_t>* seen);
  // The loops being lowered, innermost last (loop_widening.cpp): what
  // decides each one's trip count, and while one simulates itself, what the
  // loops inside it met at their entries.
  struct LoopFrame;
  struct LoopHistory;
  struct WideEntry;
  // The slots of the innermost loop's entry that earlier entries under the
  // same outer simulation met otherwise, with the facts that cover them all;
  // none where the loop is simulated from its own entry facts.
  void WidenLoopEntry(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                      const ParseNode* body, const LoopState& st, WideEntry* out);
  // Whether symbols of `written` (a loop's writes) may decide the trip count
  // of a loop around the frame `own` whose simulation still knows its
  // condition: facts lost for them could make that loop seem to end.
  bool DecidesEnclosingTrip(std::size_t own, const std::vector<std::uint8_t>& written, bool mark = false);
  // A loop (the frame `own`) covered: each loop around it whose trip count
  // what it may write decides, while its simulation knows its condition, is
  // marked (LoopFrame::tripCovered). Facts lost for those symbols can make
  // such a loop seem to end within the iteration limit where it runs past
  // it, so its simulation is no longer taken for a loop that may end there.
  void TaintEnclosingTrips(std::size_t own, const ParseNode* init, const ParseNode* condition,
                           const ParseNode* body);
  // The widened slots given entry values with the widened facts, in the map
  // and in `st` (head and exit alike).
  HRESULT EnterWidened(const ParseNode* node, const WideEntry& wide, LoopState& st);
  // The entry of the symbols `entered` marks, with their facts.
  static WideEntry EntryOf(const std::vector<std::uint8_t>& entered, const std::vector<ValueRange>& ranges,
                           const std::vector<std::uint32_t>& facts);
  // Stops widening the loop's entries for the rest of the outer simulation.
  void StopWidening(const WideEntry& wide);
  std::uint32_t m_identityValues = kNoIndex;  // its first value
  // The state of the loop lowering (loop/loop_state.h).
  struct LoopLowering;
  std::unique_ptr<LoopLowering> m_loop;
};

// A block of the word stack for the length of a scope.
class WordBlock {
 public:
  WordBlock(ShaderCompiler& compiler, std::uint32_t n) : m_compiler(compiler), m_words(compiler.PushWords(n)) {}
  ~WordBlock() {
    if (m_words) m_compiler.PopWords(m_words);
  }
  WordBlock(const WordBlock&) = delete;
  WordBlock& operator=(const WordBlock&) = delete;

  std::uint32_t* Get() const { return m_words; }
  std::uint32_t& operator[](std::uint32_t i) const { return m_words[i]; }
  explicit operator bool() const { return m_words != nullptr; }

 private:
  ShaderCompiler& m_compiler;
  std::uint32_t* m_words;
};

}  // namespace gxl::shader
