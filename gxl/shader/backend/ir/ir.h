// The intermediate representation of the shader back end: operation words,
// register banks, values and instructions. Records refer to one another only
// by their index in the program's lists (shader_program.h), never by address,
// so lists can be copied and renumbered. Values and instructions are nodes of
// two process-wide pools that draw from the compile's page pool and recycle
// freed nodes; they are touched only under the shader-tool lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/core/float_truncation.h"
#include "platform/win_types.h"

class PagePool;
class ParseNode;
class DeclarationNode;
class TokenNode;

namespace gxl::shader {

// "None" in every index, register, component and position field.
constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;

// --- Operation word -----------------------------------------------------------
// Bits 28-31 the operand class, 20-27 the operation within it, 0-19 the width
// (components per argument group). Class and operation together are the
// operation group, written as three hexadecimal digits.

constexpr std::uint32_t IrWord(std::uint32_t group, std::uint32_t width) { return group << 20 | (width & 0xFFFFF); }
constexpr std::uint32_t IrGroup(std::uint32_t word) { return word >> 20; }
constexpr std::uint32_t IrClass(std::uint32_t word) { return word >> 28; }
constexpr std::uint32_t IrWidth(std::uint32_t word) { return word & 0xFFFFF; }

// The groups the lowering emits and the passes name.
enum IrOperation : std::uint32_t {
  kOpNop = 0x000,
  kOpMove = 0x100,
  kOpNegate = 0x101,
  kOpKeptMove = 0x102,  // a move the first optimiser passes do not look through
  kOpReciprocal = 0x103,
  kOpFraction = 0x104,
  kOpExp2 = 0x105,
  kOpLog2 = 0x106,
  kOpRsq = 0x107,
  kOpSin = 0x108,
  kOpCos = 0x109,
  kOpAsin = 0x10A,
  kOpAcos = 0x10B,
  kOpAtan = 0x10C,
  kOpDdx = 0x10D,
  kOpDdy = 0x10E,
  kOpIfBegin = 0x10F,     // (test) -> block value
  kOpDiscard = 0x110,     // discards when an argument is negative
  kOpLoopBegin = 0x111,   // (literal iteration count) -> loop value
  kOpLoopEntry = 0x112,   // (values before the loop) -> entry values
  kOpLoopEntryCopy = 0x113,
  kOpBreak = 0x114,       // (condition) -> break value; zero leaves the loop
  kOpLoopEnd = 0x115,     // (loop merge results) -> values after the loop
  kOpMin = 0x200,
  kOpMax = 0x201,
  kOpLess = 0x202,          // 1.0 where a < b, else 0.0
  kOpGreaterEqual = 0x203,  // 1.0 where a >= b, else 0.0
  kOpAdd = 0x204,
  kOpMultiply = 0x205,
  kOpAtan2 = 0x206,      // (y, x)
  kOpIfMerge = 0x207,    // (then values, else values)
  kOpBreakMerge = 0x208, // (values after the body, values before it)
  kOpLoopMerge = 0x209,  // (loop-carried values, entry copies)
  kOpSelect = 0x300,     // b where a >= 0, else c
  kOpDot = 0x500,        // n pairs, one result
  kOpLit = 0x501,
  kOpNoise = 0x502,
  kOpSinCos = 0x503,
  kOpTex1D = 0x600,  // 0x600-0x613: texture samples, four per texture kind
  kOpTexCubeLod = 0x613,
  kOpNormalize = 0x702,  // x scaled by rsq(dot(x.xyz, x.xyz)), selected from its parts
};

// Operation sets the passes consult (each on the operation group of a word).
bool IsSpecialOperation(std::uint32_t word);
bool IsFlowControlOperation(std::uint32_t word);  // the operations taking implicit derivatives
bool InOperationSet1(std::uint32_t word);
bool InOperationSet2(std::uint32_t word);
bool InOperationSet3(std::uint32_t word);
bool InOperationSet4(std::uint32_t word);
bool InOperationSet5(std::uint32_t word);
bool InOperationSet6(std::uint32_t word);
bool InOperationSet7(std::uint32_t word);
bool InOperationSet8(std::uint32_t word);
// The operations the processor's expression evaluator runs (sincos split
// into its cosine and sine); work of any other stays on the device.
bool IsExpressionOperation(std::uint32_t word);

// --- Value flags --------------------------------------------------------------
// The flags word of an IrValue: what the lowering and the passes know about it.
// For a literal, bits 0-4 and 7 are computed when it joins a program.
enum IrValueFlag : std::uint32_t {
  kValueBoolean = 0x1,       // only 0 or 1 (a literal: equals 0.0 or 1.0)
  kValueInteger = 0x2,       // a whole number (within 1e-6)
  kValueNonNegative = 0x4,
  kValueNonPositive = 0x8,
  kValueUnitMagnitude = 0x10,  // |x| <= 1
  kValueExact = 0x40,          // not folded or simplified; NaN propagates through range products
  kValueConstant = 0x80,       // the range-low field holds its value (literals: properties computed)
  kValueRangeCached = 0x100,   // the range fields hold an evaluated range
  kValueKeep = 0x20,           // a move into it is written even as an identity when optimisation is skipped
  // Preshader extraction: not computable from constants alone. Shares the bit
  // with kValueKeep, which only counts when optimisation (and so extraction) is skipped.
  kValueVarying = 0x20,
  kValueCentroid = 0x1000000,  // an input or output with the centroid suffix, or computed from one
  kValueSemanticInvalid = 0x40000000,
  kValueComparison = 0x17,     // what comparison results carry
  kValueHalf = 0x2000000,
  kValueFloat = 0x4000000,
  kValueDouble = 0x8000000,
  kValuePrecisionMask = 0xE000000,
};

// The literal properties of x: bits 0-4 as above, with 0x80.
std::uint32_t ClassifyLiteral(double x);

// --- Register banks -------------------------------------------------------------

// Bits of a bank's type word.
enum BankType : std::uint32_t {
  kBankReadable = 0x1,
  kBankWritable = 0x2,
  kBankAddress = 0x4,     // readable: the address register
  kBankPredicate = 0x8,   // readable: predicates
  kBankInitialised = 0x10,  // values arrive initialised
  kBankOutput = 0x20,     // every value must be written
  kBankBound = 0x40,      // a bound register file
  kBankSampler = 0x80,
  kBankLiteral = 0x100,
  kBankUniform = 0x200,   // goes into the constant table
  kBankRelative = 0x400,  // an array read through relative indexes; its register count stays
  kBankKeepValues = 0x800,  // values stay, read or not: the bank of an explicit register semantic, named by it
  kBankBlockMoves = 0x1000,  // values moved inside a flow-control block
  kBankBoolean = 0x2000,
  kBankBlockValues = 0x4000,  // if-block and break values
  kBankLoop = 0x8000,
  kBankClip = 0x10000,        // clip results, always live
  kBankLoopEntry = 0x20000,   // loop entry copies
  kBankInteger = 0x40000,
  kBankAnyReadable = kBankReadable | kBankAddress | kBankPredicate,
};

struct RegisterBank {
  HRESULT Init(const char* bankName, std::uint32_t typeWord, std::uint32_t count, std::uint32_t componentCount);
  HRESULT CopyFrom(const RegisterBank* other);

  const char* name = nullptr;  // kept, not copied: a constant string
  std::uint32_t type = 0;
  std::uint32_t registerCount = 0;  // kNoIndex for unbounded
  std::uint32_t components = 0;     // at most 4
  std::uint32_t registersUsed = 0;  // one past the highest register in use
  std::uint32_t word5 = 0;
  std::uint32_t word6 = kNoIndex;
  std::uint32_t word7 = 0;
  std::uint32_t* definitions = nullptr;  // four entries per register, inside the use analysis only
  std::uint32_t word9 = kNoIndex;
  std::uint32_t firstRelativeUse = kNoIndex;  // window of relative reads
  std::uint32_t lastRelativeUse = 0;
  std::uint32_t relativeUseCount = 0;
};

// Register keys of the targets: (index << shift) | (type & typeMask).
struct RegisterKeyFormat {
  std::uint32_t typeMask = 0xFFFF;
  std::uint32_t indexMask = 0xFFFF0000u;
  std::uint32_t shift = 16;

  constexpr std::uint32_t Pack(std::uint32_t type, std::uint32_t index) const {
    return index << shift | (type & typeMask);
  }
  constexpr std::uint32_t Type(std::uint32_t key) const { return key & typeMask; }
  constexpr std::uint32_t Index(std::uint32_t key) const { return (key & indexMask) >> shift; }
};

// --- Values -----------------------------------------------------------------------

// One component of one register, or one literal.
struct IrValue {
  static void* operator new(std::size_t size) noexcept;  // from the value pool; null when exhausted
  static void operator delete(void* node) noexcept;      // back to the free list

  // Every field to its initial value, both range bounds to `literal`.
  HRESULT Init(std::uint32_t bankIndex, std::uint32_t registerIndex, std::uint32_t componentIndex, double literal);
  HRESULT CopyFrom(const IrValue* other);
  // The six fields from `declaration` to `sequence`: what a merged value takes over.
  HRESULT CopyVariableFields(const IrValue* other);
  // The read moved to register `registerIndex` of its variable, its offset in
  // the variable with it (the constant table finds the variable's first
  // register through it).
  void MoveWithinVariable(std::uint32_t registerIndex);
  // Runs the (empty) destructor; with bit 0 the node goes back to the free list.
  void Destroy(std::uint32_t flags);

  // What the use analysis and most passes sweep comes first, within the
  // node's first cache line: on large programs each sweep is bound by the
  // lines of the values it reads.
  std::uint32_t flags = 0;
  std::uint32_t bank = 0;
  std::uint32_t relativeIndex = kNoIndex;  // the value that addresses this register relatively
  std::uint32_t reg = kNoIndex;            // register within the bank
  std::uint32_t component = kNoIndex;
  std::uint32_t predicate = kNoIndex;      // guards the write: the block value, or a predicate component
  std::uint32_t alias = kNoIndex;
  std::uint32_t renumber = kNoIndex;       // index after renumbering; redirection link of the passes
  std::uint32_t coalesceLink = kNoIndex;   // cycle of values that may share a register
  std::uint32_t definingPosition = kNoIndex;
  std::uint32_t earliestDefinition = kNoIndex;
  std::uint32_t latestDefinition = kNoIndex;
  std::uint32_t firstUse = kNoIndex;
  std::uint32_t lastUse = kNoIndex;
  std::uint32_t useCount = 0;
  std::uint32_t predicateSense = 1;        // written when the predicate is true (1) or false (0)
  double rangeLow = 0.0;                   // a literal's value
  double rangeHigh = 0.0;
  std::uint32_t binding = 0;               // non-zero blocks coalescing; bits 21-23 sampler dimensions
  std::uint32_t componentMask = kNoIndex;
  std::uint32_t preshaderOutput = kNoIndex;  // the preshader output that feeds it (and back)
  // Kept by the lowering.
  std::uint32_t symbolSlot = kNoIndex;
  std::uint32_t moveSource = kNoIndex;
  std::uint32_t tag = 0;
  std::uint32_t ordinalSlot = kNoIndex;
  std::uint32_t indexValue = kNoIndex;  // the index of an indexed value
  // The variable fields (CopyVariableFields).
  DeclarationNode* declaration = nullptr;
  std::uint32_t variableComponent = 0;  // component within the variable
  TokenNode* semantic = nullptr;
  std::uint32_t registerKey = kNoIndex;  // target key, or the semantic word of inputs and outputs
  std::uint32_t variableOffset = 0;      // component offset within the variable
  std::uint32_t sequence = kNoIndex;
};

// --- Instructions -------------------------------------------------------------------

class IrInstruction {
 public:
  static constexpr std::uint32_t kInlineArguments = 8;
  static constexpr std::uint32_t kInlineResults = 4;

  static void* operator new(std::size_t size) noexcept;  // from the instruction pool
  static void operator delete(void* node) noexcept;

  IrInstruction();
  IrInstruction(const IrInstruction&) = delete;
  IrInstruction& operator=(const IrInstruction&) = delete;

  // Counts derived from the word unless `explicitCounts`; a given count of
  // kNoIndex takes the derived one. E_FAIL for a count that differs or stays
  // unknown, E_OUTOFMEMORY when an operand array cannot be drawn.
  HRESULT Init(std::uint32_t operationWord, std::uint32_t argumentCount, std::uint32_t resultCount,
               bool explicitCounts = false);
  HRESULT CopyFrom(const IrInstruction* other);
  HRESULT CopySourcePosition(const IrInstruction* other);
  // Every field but the word, the counts, the operand arrays and the dependency lists.
  void CopyFields(const IrInstruction& other);
  // pinned, word10, level, orderKey, predicate and word14.
  void CopyTrailingFields(const IrInstruction& other);
  void Destroy(std::uint32_t flags);

  // Group k of the arguments (results): its width, with `out` at its first
  // entry; 0 and null past the count.
  std::uint32_t ArgumentGroup(std::uint32_t k, std::uint32_t** out) const;
  std::uint32_t ResultGroup(std::uint32_t k, std::uint32_t** out) const;
  std::uint32_t ResultGroupWidth() const;
  std::uint32_t ArgumentGroupCount() const;  // 0 for a width of 0

  std::uint32_t Group() const { return IrGroup(word); }
  std::uint32_t Class() const { return IrClass(word); }
  std::uint32_t Width() const { return IrWidth(word); }
  bool IsClass0() const { return Class() == 0; }
  bool IsClass3() const { return Class() == 3; }
  bool IsArithmetic() const { return Class() >= 1 && Class() <= 4; }  // classes 1 to 4
  bool IsMove() const { return Group() == kOpMove; }
  bool IsNegate() const { return Group() == kOpNegate; }
  bool IsDot() const { return Group() == kOpDot; }
  bool IsLoopMerge() const { return Group() == kOpLoopMerge; }
  bool IsBlockEnd() const {
    return Group() == kOpIfMerge || Group() == kOpBreakMerge || Group() == kOpLoopEnd;
  }

  std::uint32_t word = 0;
  std::uint32_t argumentCount = 0;
  std::uint32_t* arguments = m_inlineArguments;  // value indexes
  std::uint32_t resultCount = 0;
  std::uint32_t* results = m_inlineResults;
  std::uint32_t predecessorCount = 0;  // instruction indexes, ascending
  std::uint32_t* predecessors = nullptr;
  std::uint32_t successorCount = 0;
  std::uint32_t* successors = nullptr;
  std::uint32_t pinned = 0;
  std::uint32_t word10 = 0;
  std::uint32_t level = 0;
  std::int32_t orderKey = -1;
  std::uint32_t predicate = kNoIndex;
  std::uint32_t word14 = 0;
  const ParseNode* sourcePosition = nullptr;  // the statement that produced it
  std::uint32_t statementSequence = 0;
  std::uint32_t inlineDepth = 0;

 private:
  // Points `array` at the inline storage or at `count` entries from the pool,
  // every entry kNoIndex.
  static HRESULT PrepareArray(std::uint32_t*& array, std::uint32_t* inlineArray, std::uint32_t inlineSize,
                              std::uint32_t count);

  std::uint32_t m_inlineArguments[kInlineArguments];
  std::uint32_t m_inlineResults[kInlineResults];
};

inline bool IsSpecialOperation(const IrInstruction* i) { return IsSpecialOperation(i->word); }
inline bool IsFlowControlOperation(const IrInstruction* i) { return IsFlowControlOperation(i->word); }

// --- Node pools -----------------------------------------------------------------------
// Binding empties the free list; null unbinds. Nodes freed while no pool is
// bound are dropped with their page pool.

void AttachInstructionPool(PagePool* pool);
void AttachValuePool(PagePool* pool);
void* AllocInstructionNode(std::size_t size);
void* AllocValueNode(std::size_t size);
void FreeInstructionNode(void* node);
void FreeValueNode(void* node);
// The page pool of the instruction pool, which also serves operand arrays and
// dependency lists; null when unbound.
PagePool* InstructionPagePool();

// Binds both pools for its lifetime (the compile driver's scope).
class IrPoolScope {
 public:
  explicit IrPoolScope(PagePool* pool) {
    AttachInstructionPool(pool);
    AttachValuePool(pool);
  }
  ~IrPoolScope() {
    AttachInstructionPool(nullptr);
    AttachValuePool(nullptr);
  }
  IrPoolScope(const IrPoolScope&) = delete;
  IrPoolScope& operator=(const IrPoolScope&) = delete;
};

// --- Sorting -------------------------------------------------------------------------

// Negative, zero or positive as a orders before, with or after b.
using IndexComparator = std::int32_t (*)(std::uint32_t a, std::uint32_t b, const void* context);

// Heap sort of `count` indexes into ascending comparator order. Equal
// elements keep no particular order; a comparator that is no strict weak
// ordering leaves some permutation of the array.
void SortIndicesByComparator(IndexComparator comparator, std::uint32_t* indices, std::uint32_t count,
                             const void* context);

}  // namespace gxl::shader
