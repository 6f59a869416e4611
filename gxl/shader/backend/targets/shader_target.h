// The base of the code-generating targets. A target is at the same time the
// IR program that the lowering fills (it derives from ShaderProgram) and the
// writer of the compiled token stream: Compile takes the lowered program
// through optimisation, semantic and register binding, declarations, the
// per-operation emission rules and the comment blocks to the finished code,
// which the platform's shader validator checks as it grows.
//
// The virtual slots, in their fixed order, with what this class does; a
// target overrides what it needs.
//
//   0  destructor
//   1  CheckSemantics            semantic and register key of an input or output (semantics.cpp)
//   2  Compile(DataBuffer**)     the driver (compile_driver.cpp); Compile(std::uint32_t*) runs the
//                                optimiser phases before it, with the slot bound between them
//   3  SetupProfileLimits        base limits; every target its own
//   4  SelectInstructions        1 (instruction selection, per target)
//   5  AllocateRegisters         the register check and instruction pairing (allocate_registers.cpp)
//   6  FinishSelection           ShaderProgram's: 1 (port constraints and clean-up, per target)
//   7  FormatValueName           ShaderProgram's
//   8  NextArgumentToCopy        0: no argument group needs a copy (read-port rules, per target)
//   9  MapOperation              E_NOTIMPL: every target walks its instructions itself
//  10  GenerateCode              S_FALSE (code-generation passes, per target)
//  11  CheckOutputWrites         S_OK (output checks, per target)
//  12  NeedsSwizzleFix           ShaderProgram's: 0
//  13  ReadsEarlierResult        0
//  14  WriteVersionToken         the version token (WriteVersion)
//  15  DefineFloatConstant       def, or a named constant in fragment mode (emit_rules.cpp)
//  16  DefineIntegerConstant     defi, likewise
//  17  DeclareInputsOutputs      S_OK, nothing declared (per target)
//  18  DeclareSampler            S_OK, nothing declared (per target)
//  19  CheckSamplerConsistency   sampler kinds (register_encoding.cpp)
//  20-22 register keys           EncodeRegisterKey, RegisterKeyType, RegisterKeyIndex
//  23  MapOpcode                 the opcode unchanged
//  24  WriteInstructionLength    nothing; SetInstructionLength is the usual form
//  25  WriteDestinationToken     (register_encoding.cpp, as 26-32)
//  26  WriteSourceToken
//  27  EncodeDestinationRegister
//  28  EncodeDestinationMask
//  29  EncodeSourceRegister
//  30  MapSwizzle
//  31  EncodePredicate
//  32  FindFreeTemporary         scratch registers (scratch_temporary.cpp)
//  33  MapOutputRegister         E_FAIL (per target)
//  34  EncodeInputRegister       v# below the input limit
//  35-37 fragment register names and explicit bindings: inside WriteConstantTable (block_writers.h)
//  38  PropagateCentroid         (semantics.cpp)
//  39  CanReadFace               0
//  40  CheckSemanticConsistency  (semantics.cpp)
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/backend/ir/def_use_upkeep.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/targets/block_writers.h"
#include "gxl/shader/backend/targets/semantic_tables.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/register_names.h"
#include "gxl/shader/core/validator_link.h"

class DataBuffer;

namespace gxl::shader {

// Token words shared by the targets.
constexpr DWORD kEndToken = 0x0000FFFF;
constexpr DWORD kParameterBit = 0x80000000u;
constexpr DWORD kRelativeBit = 0x2000;
constexpr DWORD kPredicatedBit = 0x10000000;
constexpr DWORD kFullMask = 0xF0000;
constexpr DWORD kIdentitySwizzle = 0xE40000;
constexpr DWORD kSaturateBit = 0x100000;
constexpr DWORD kCentroidBit = 0x400000;
constexpr DWORD kPartialPrecisionBit = 0x200000;
// Source modifiers (bits 24-27).
constexpr DWORD kModifierMask = 0xF000000;
constexpr DWORD kModifierNegate = 0x1000000;
constexpr DWORD kModifierAbs = 0xB000000;
constexpr DWORD kModifierAbsNegate = 0xC000000;
constexpr DWORD kModifierNot = 0xD000000;

// Opcodes the rules write.
enum ShaderOpcode : DWORD {
  kOpcodeMov = 1,
  kOpcodeAdd = 2,
  kOpcodeMad = 4,
  kOpcodeMul = 5,
  kOpcodeRcp = 6,
  kOpcodeRsq = 7,
  kOpcodeDp3 = 8,
  kOpcodeDp4 = 9,
  kOpcodeMin = 10,
  kOpcodeMax = 11,
  kOpcodeSlt = 12,
  kOpcodeSge = 13,
  kOpcodeExp = 14,
  kOpcodeLog = 15,
  kOpcodeLit = 16,
  kOpcodeDst = 17,
  kOpcodeLrp = 18,
  kOpcodeFrc = 19,
  kOpcodeM4x4 = 20,
  kOpcodeM4x3 = 21,
  kOpcodeM3x4 = 22,
  kOpcodeM3x3 = 23,
  kOpcodeM3x2 = 24,
  kOpcodeLoop = 27,
  kOpcodeEndLoop = 29,
  kOpcodeDcl = 31,
  kOpcodePow = 32,
  kOpcodeAbs = 35,
  kOpcodeNrm = 36,
  kOpcodeSinCos = 37,
  kOpcodeRep = 38,
  kOpcodeEndRep = 39,
  kOpcodeIf = 40,
  kOpcodeIfc = 41,
  kOpcodeElse = 42,
  kOpcodeEndIf = 43,
  kOpcodeBreak = 44,
  kOpcodeBreakc = 45,
  kOpcodeMova = 46,
  kOpcodeDefi = 48,
  kOpcodeTexkill = 65,
  kOpcodeTex = 66,
  kOpcodeDef = 81,
  kOpcodeCmp = 88,
  kOpcodeDp2add = 90,
  kOpcodeDsx = 91,
  kOpcodeDsy = 92,
  kOpcodeTexldd = 93,
  kOpcodeSetp = 94,
  kOpcodeTexldl = 95,
};

// Comparison codes of ifc, breakc and setp (bits 16-23 of the opcode token).
enum ShaderComparison : DWORD { kCompareEqual = 2, kCompareGreaterEqual = 3, kCompareLess = 4, kCompareNotEqual = 5 };

// The register files a bank's type word stands for when it is encoded.
enum class RegisterFile {
  Temporary,
  Address,
  Predicate,
  Output,
  LoopCounter,
  Input,
  FloatConstant,
  Sampler,
  BoolConstant,
  IntegerConstant,
  Other,
};
RegisterFile RegisterFileOf(std::uint32_t bankType);

// The usage and index of an input or output value's semantic from a table,
// as its register key. A semantic the table does not accept sets the value's
// invalid bit and is left to the caller to report; `error` tells that a
// message was given here already. S_OK.
HRESULT ParseInputSemantic(ShaderProgram& program, std::uint32_t value, const SemanticTableRow* table,
                           std::uint16_t directions, bool* error, bool warnDeprecated = true);
// The position of the first register in a register-semantic text with the
// given (lower-case) letter; E_FAIL when there is none.
HRESULT FindRegisterLetter(const char* text, std::uint32_t* position, char letter);

// 1 when a predicate on the chain of the instruction's first result stands
// in the four-entry table with the same sense.
std::uint32_t IsParentChainInTable(const ShaderProgram& program, const IrInstruction& instruction,
                                   const std::uint32_t values[4], const std::uint32_t senses[4]);

class ShaderTarget : public ShaderProgram, public PreshaderSource {
 public:
  explicit ShaderTarget(bool fragment);
  ~ShaderTarget() override;

  // --- Slots (see the table above)
  HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags) override;
  // ShaderProgram's phases with the slot bound (FitSlotLimit) after the first.
  HRESULT Compile(std::uint32_t* result) override;
  // The code with its comment blocks and end token in a new buffer (code may be null).
  virtual HRESULT Compile(DataBuffer** code);
  // Whether the compile was refused for a limit of the profile that other
  // code of the same program may meet: registers, constants, instruction
  // slots, flow control, what the 1.x pixel targets can map. Not for the
  // work bound, nor for a fault of the compiler's own.
  bool PassedALimit() const;
  // The codes of those limits (X4004 of the work bound as well).
  static bool IsLimitCode(std::uint32_t code);
  HRESULT SetupProfileLimits() override;
  HRESULT AllocateRegisters() override;
  // Non-zero while an argument group must first be copied into a temporary;
  // the group through `group`.
  virtual std::uint32_t NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group);
  virtual HRESULT MapOperation();
  virtual HRESULT GenerateCode();
  virtual HRESULT CheckOutputWrites();
  virtual std::uint32_t ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position);
  virtual HRESULT WriteVersionToken();
  HRESULT DefineFloatConstant(std::uint32_t reg, const DWORD values[4]);
  HRESULT DefineIntegerConstant(std::uint32_t reg, const DWORD values[4]);
  // Declares the register of an input (or output) value; its key through `key` (optional).
  virtual HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key);
  virtual HRESULT DeclareSampler(std::uint32_t value);
  HRESULT CheckSamplerConsistency();
  std::uint32_t EncodeRegisterKey(std::uint32_t type, std::uint32_t index) const { return keyFormat.Pack(type, index); }
  std::uint32_t RegisterKeyType(std::uint32_t key) const { return keyFormat.Type(key); }
  std::uint32_t RegisterKeyIndex(std::uint32_t key) const { return keyFormat.Index(key); }
  virtual DWORD MapOpcode(DWORD opcode);
  virtual HRESULT WriteInstructionLength();
  HRESULT WriteDestinationToken(DWORD registerBits, DWORD maskBits, DWORD predicate);
  virtual HRESULT WriteSourceToken(DWORD registerBits, DWORD swizzleBits, std::uint32_t relative);
  // The destination parameter of a value: the register bits, whether the
  // register is written whole (optional) and the predicate token (optional).
  virtual HRESULT EncodeDestinationRegister(std::uint32_t value, DWORD* token, std::uint32_t* fullMask,
                                            DWORD* predicate);
  // Write mask and result modifiers of the values an instruction writes.
  virtual HRESULT EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                        std::uint32_t fullMask);
  // Register bits with the value's own source modifier, and its relative index.
  HRESULT EncodeSourceRegister(std::uint32_t value, DWORD* token, std::uint32_t* relative);
  virtual HRESULT MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle);
  HRESULT EncodePredicate(std::uint32_t value, DWORD* token);
  // `count` values of one free temporary register, components 0 to count-1,
  // usable at instruction `position`; no register of `excluded` is chosen.
  HRESULT FindFreeTemporary(std::uint32_t position, std::uint32_t count, std::uint32_t* values,
                            const std::uint32_t* excluded = nullptr, std::uint32_t excludedCount = 0);
  // Before register assignment (staged_results.cpp): one more than the
  // highest temporary register, and a new register there, `count` values at
  // components 0 up.
  std::uint32_t NextTemporaryRegister() const;
  HRESULT NewTemporaryRegister(std::uint32_t count, std::uint32_t* out);
  // Instruction `index` writes a new temporary register in place of its
  // results (at components 0 up in result order when `packed`, else at the
  // results' own components), which a move inserted right after it copies
  // to them.
  HRESULT StageResults(std::uint32_t index, bool packed);
  // Every nrm into temporaries whose vector does not lie in x, y and z
  // (where its length comes from) is staged, packed.
  HRESULT StageNormalizeResults();
  // Register type and index of an output value, and whether it is written whole.
  virtual HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                                    std::uint32_t* fullMask);
  virtual HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type);
  HRESULT PropagateCentroid();
  virtual std::uint32_t CanReadFace(const IrInstruction& instruction, std::uint32_t group);
  // Whether argument group `group` reads VFACE, which no copy may take.
  virtual bool ReadsFace(const IrInstruction& instruction, std::uint32_t group);
  virtual HRESULT CheckSemanticConsistency();

  // --- Register allocation helpers (allocate_registers.cpp)
  // Moves the instruction at `from` to `to`, the ones between shifting by one.
  void MoveInstruction(std::uint32_t to, std::uint32_t from);
  // Exchanges registers a and b among the values of a bank: E_FAIL for a
  // uniform bank or when a value of either has its renumbering field set.
  HRESULT SwapRegisters(std::uint32_t bank, std::uint32_t a, std::uint32_t b);

  // --- Preshader: its outputs mapped to this program's constants, then its code
  HRESULT PreparePreshader() override;
  HRESULT CompilePreshader(DataBuffer** code) override;

  // Refreshes the use analysis for the emission walk: 0 or the failure.
  // Inside a selection walk it is kept up to date rather than rebuilt.
  HRESULT ResetSelectionState();
  // The same after CheckPortConstraints, which ends every change it makes
  // with a reset: outside a walk the use analysis stands and only the
  // scratch choices are cleared (the reference path resets in full).
  HRESULT ResetAfterPortCheck();
  // A walk of the recognisers over the instructions (SelectionWalk): while
  // one runs, each rewrite changes a few instructions, and
  // ResetSelectionState refreshes only what they reached.
  void BeginSelectionWalk() { ++m_selectionWalks; }
  void EndSelectionWalk() {
    if (--m_selectionWalks == 0) m_upkeep.Stop();
  }

  // --- Operand fix-ups and modifier folding (operand_copies.cpp, modifier_fold.cpp;
  // the peepholes in modifier_folds.h)
  // Every argument group slot 8 names is read through a move into fresh
  // temporaries placed before its reader (one move per group and reader):
  // 0 when something was copied, 1 when not, or a failure.
  HRESULT InsertOperandCopies();
  // One copy per register that breaks the read-port rule, into the next free
  // temporary register, shared by the later constrained readers of the same
  // predicate chain while the old values live: 0, 1 (nothing to do), E_FAIL
  // (internal error reported) or E_OUTOFMEMORY.
  HRESULT CheckPortConstraints();
  // Folds `instruction` (the current one when null), whose results are
  // temporaries computing `modifier` of `arguments` (one per result), into
  // its readers: each reader then reads the argument with the modifier. An
  // argument whose existing modifier bits lie outside `allowed` refuses the
  // fold, unless `modifier` equals `required` (non-zero), which forces it:
  // the instruction then becomes a move carrying the modifier. `keep` lets
  // an argument be redefined before the last reader. 0 folded, 1 refused
  // (nothing changed), or a failure.
  // Whether a reader reads a result of `inst` through a modified copy of
  // its own that the fold would stack onto `combined` (each result's
  // argument modifier) otherwise than its bits say.
  bool StacksModifiers(const IrInstruction& inst, const std::uint32_t* combined);
  HRESULT FoldIntoSourceModifier(std::uint32_t modifier, std::uint32_t allowed, const std::uint32_t* arguments,
                                 std::uint32_t required, IrInstruction* instruction, bool keep);

  // --- Flow control (backend/select/flow_control.h; rebuild_flow.cpp)
  // Rebuilds the predicated program into if/ifc/else/endif, rep/endrep,
  // loop/endloop and breakc blocks, moves bool and loop conditions into b
  // and i registers and drops the values left unused (the targets' code
  // generation calls it as LowerPredicatedBlocks). 0 or a failure.
  HRESULT RebuildFlowControl();
  // Bool uniforms read by arithmetic bound as floats, the rebuild, fresh use
  // analysis and the values left unused dropped: the last step of the
  // vertex and shader model 3 code generation. 0 or a failure.
  HRESULT LowerPredicatedBlocks();
  // The current 0x208: moves in front of it bring each group that does not
  // already lie in the result registers there. 0 when moves were inserted,
  // 1 when none were needed, E_OUTOFMEMORY.
  HRESULT MaterializeLoopMerge();
  // MaterializeLoopMerge on every 0x208, then fresh use analysis where
  // moves went in. 0 or a failure.
  HRESULT MaterializeLoopMerges();

  // --- Flow control that fits the version (flow_limits.cpp)
  // The loops the front end unrolls whatever the target allows, whether it
  // can be asked for more, and those a compile asks it for.
  struct LoopUnrolling {
    PodArray<const ParseNode*> unrolled, requested;
    bool more = false;
    bool Unrolls(const ParseNode* loop) const {
      for (std::size_t i = 0; i < unrolled.Size(); ++i)
        if (unrolled[i] == loop) return true;
      return false;
    }
  };
  // The structured program against the flow-control limits of the version
  // its code declares (static instructions, loop, static and dynamic
  // nesting) and the relative reads inside its loops: S_OK when it fits;
  // S_FALSE when the loops it put in loopUnrolling->requested are to be
  // unrolled; else E_FAIL after the limit's message. A relative read that
  // no unrolling can help is left to its emission.
  HRESULT FitFlowControl();
  // The kept loops' counts against the profile's integer constant registers,
  // before the optimiser: S_OK where they may fit; S_FALSE when the loops
  // put in loopUnrolling->requested are to be unrolled; else E_FAIL after
  // the registers' message.
  HRESULT FitLoopRegisters();
  // A lower bound on the optimised program's instruction slots against the
  // version's slot limit, before scheduling and allocation: S_OK where it
  // may fit, else E_FAIL after the limit's message (slot_bound.cpp).
  HRESULT FitSlotLimit();

  // --- Selection helpers (backend/select/), on the current instruction
  // Bubble-sorts the results into component order, every argument group's
  // columns along; 1 when the instruction is not component-wise.
  HRESULT SortResultsByComponent();
  // SortResultsByComponent on every instruction; the first failure.
  HRESULT SortAllResultsByComponent();
  // Appends a copy restricted to the results j with keep[j] set (`width` of
  // them) and their columns of the `groupCount` argument groups.
  HRESULT SplitByComponents(const std::uint8_t* keep, std::uint32_t groupCount, std::uint32_t width);
  // Arguments addressed through a value outside the address register read
  // through copies addressed by new address values, which an appended move
  // loads: 0; 1 when no argument needs it; E_FAIL (nothing changed) for more
  // indexes than the address register has components.
  HRESULT LoadAddressRegisters();
  // LoadAddressRegisters on every instruction, each then moved behind its
  // loads, in up to 16 passes until every index fits; then "relative
  // address refrences too deep" at those still failing and E_FAIL.
  HRESULT LoadAddressRegistersInPasses();
  // The loops of the list as it stands, for the passes above.
  HRESULT FindAddressPassLoops();
  // Puts `combined` at the earliest matched position where its arguments are
  // ready and its results may be written, retiring every matched instruction:
  // 0, the program then owning it; 1 when no position fits or the target
  // refuses it (nothing changed).
  HRESULT PlaceCombinedInstruction(IrInstruction* combined, const std::uint32_t* matched, std::uint32_t count);

  // --- Token stream
  HRESULT AppendToken(DWORD token);
  // Room for n more tokens: the capacity starts at 1024 and doubles.
  HRESULT AllocateTokens(std::size_t n);
  // Hands the tokens not validated yet to the validator: its result.
  HRESULT ValidateNewTokens();
  // The validator's message callback: kinds 2 and 6 are errors numbered 5000 + code.
  static HRESULT ReportValidatorMessage(const char* file, int line, DWORD kind, DWORD code, const char* text,
                                        void* target);
  // The version token (bit 31 cleared in fragment mode), validated.
  HRESULT WriteVersion(DWORD version);
  // Bits 24-27 of the opcode token: the dwords written after it.
  HRESULT SetInstructionLength();

  // --- Semantics and register binding (semantics.cpp, register_binding.cpp)
  // The record with the semantic word in the second, first, then third table.
  const SemanticTableRow* FindSemanticRecord(std::uint32_t key) const;
  // Places the registers of the banks with all `required` and none of the
  // `excluded` type bits within `limit` registers: explicit register
  // semantics first, then whole banks, then single registers; the values then
  // move to `targetBank` (kNoIndex: they stay).
  HRESULT BindRegisterSemantics(std::uint32_t targetBank, std::uint32_t limit, std::uint32_t required,
                                std::uint32_t excluded, char letter);
  HRESULT BindValueToOwnBank(const char* bankName, std::uint32_t typeBits, std::uint32_t value, std::uint32_t* index);
  // Bool uniforms that arithmetic reads are bound as float constants (b#
  // registers are read only by if): their banks lose the boolean bit, and the
  // flow-control rebuild gives the ifs that test them copies in b#. S_OK.
  HRESULT BindArithmeticBooleansAsFloats();

  // --- Emission (emit_rules.cpp, emit_flow.cpp)
  // Makes instruction `index` current; a statement node becomes the source position.
  void SetCurrentInstruction(std::uint32_t index);
  // The rule of an operation group (the no-op rule for group 0); E_NOTIMPL for none.
  HRESULT EmitStandardRule(std::uint32_t group);
  HRESULT BeginInstruction(DWORD opcode);
  HRESULT PutToken(DWORD token);
  // One instruction: destinations, up to three sources of `count` components,
  // a modifier per source (kModifierNegate toggles negation).
  HRESULT WriteInstruction(DWORD opcode, const std::uint32_t* destinations, std::uint32_t destinationCount,
                           const std::uint32_t* source0, const std::uint32_t* source1, const std::uint32_t* source2,
                           std::uint32_t count, DWORD modifier0 = 0, DWORD modifier1 = 0, DWORD modifier2 = 0);
  HRESULT EmitNothing();
  HRESULT EmitSimpleOperation(DWORD opcode);
  HRESULT EmitScalarOperation(DWORD opcode, const std::uint32_t* destinations, const std::uint32_t* sources,
                              std::uint32_t destinationCount, std::uint32_t sourceCount, DWORD modifier);
  HRESULT EmitMove();
  HRESULT EmitNegate();
  HRESULT EmitDotProduct();
  HRESULT EmitMatrixMultiply();
  HRESULT EmitMultiplyAdd();
  HRESULT EmitNormalize();
  HRESULT EmitPower();
  HRESULT EmitSinCos();
  HRESULT EmitClip();
  HRESULT EmitSetPredicate();
  HRESULT EmitPredicatedSelect();
  HRESULT EmitLerp();
  HRESULT EmitScalar(DWORD opcode);
  HRESULT EmitIfBool(std::uint32_t negated);
  HRESULT EmitIfCompare();
  HRESULT EmitElse();
  HRESULT EmitEndIf();
  HRESULT EmitLoop();
  HRESULT EmitRep();
  HRESULT EmitBreakCompare();
  HRESULT EmitEndLoop();
  HRESULT EmitEndRep();
  HRESULT EmitTexLoad();
  HRESULT EmitTexLoadGradient();
  HRESULT EmitTexLoadProjected();
  HRESULT EmitTexLoadBiased();
  HRESULT EmitTexLoadLod();

  // --- Comment blocks (block_writers.h), over this target's stream
  HRESULT WriteConstantTable();
  HRESULT WritePreshader();
  HRESULT WriteDebugInfo();
  BlockTarget Blocks();

  // --- State
  RegisterKeyFormat keyFormat;
  // Inputs of a vertex shader; vertex outputs and pixel inputs; pixel
  // outputs. Set by each target's constructor; null where it has none.
  const SemanticTableRow* semanticTables[3] = {};
  std::uint32_t currentIndex = 0;
  IrInstruction* current = nullptr;
  const ParseNode* currentSource = nullptr;  // statement the current instruction came from
  DWORD profileVersion = 0;                  // the version the limits were set up for
  PodArray<DWORD> tokens;
  std::size_t validatedCount = 0;
  std::uint32_t insertedDwords = 0;  // comment blocks after the version token
  std::size_t instructionStart = 0;  // opcode token of the instruction being written
  PodArray<DebugLineRecord> debugRecords;
  bool debugRecordsOn = false;
  const char* sourceText = nullptr;  // never set by the compile: "DBUG" carries no source
  std::uint32_t sourceLength = 0;
  bool relativeAddressing = false;  // sources may be addressed relatively
  bool fragmentMode;                // "FINF", named registers and constants
  bool sinCosConstants = false;     // sincos reads the two constant registers
  std::uint32_t sinCosValues[2][4];
  std::uint32_t integerLiteralBank = kNoIndex;
  std::uint32_t addressCache = kNoIndex;  // index value last loaded into a0.x
  ValidatorLink validator;
  RegisterNameTable fragmentNames[2];  // fragment inputs, temporaries
  std::uint32_t namedConstantCount = 0;
  // Peephole state: 1 while a fold would miss a modifier chance, 2 once the
  // fold was refused for it (the peephole then warns).
  std::uint32_t missedChance = 0;
  std::uint32_t zeroLiteral = kNoIndex;            // 0.0 that ifc compares with, made once
  std::uint32_t twoLiteral = kNoIndex;             // 2.0 of the multiply-add forms, in a bank of its own
  std::uint32_t foldLiterals[3] = {kNoIndex, kNoIndex, kNoIndex};  // literals the folds made, reused by value
  LoopUnrolling* loopUnrolling = nullptr;  // the front end's, where it can unroll loops on request

 protected:
  struct ScratchState {
    std::uint32_t reg = kNoIndex;  // register handed out last
    std::uint32_t from = 0;        // position it was chosen at
    std::uint32_t until = 0;       // next definition of it after that
  };
  // Slot 1 for one value against one table; reports what the parse leaves to it.
  HRESULT CheckSemanticAgainst(std::uint32_t value, const SemanticTableRow* table, std::uint16_t directions);
  // Whether the deprecation of this semantic was reported already.
  bool NoteDeprecationReported(const void* semantic);
  // One "maximum register" message of a binding letter: step 0 explicit, 1
  // automatic, 2 per element.
  HRESULT ReportRegisterLimit(char letter, int step, const ParseNode* where);
  // One instruction in full: what WriteInstruction takes, plus up to four
  // sources and the choice of predicate token.
  struct Operation {
    enum PredicateMode { kOwnPredicate, kNoPredicate, kGivenPredicate };
    DWORD opcode;
    const std::uint32_t* destinations;
    std::uint32_t destinationCount;
    const std::uint32_t* sources[4];
    DWORD modifiers[4];
    std::uint32_t sourceCount;
    std::uint32_t count;
    PredicateMode predicateMode = kOwnPredicate;  // own: the destination value's predicate
    DWORD predicate = 0;                          // kGivenPredicate
  };
  HRESULT WriteOperation(const Operation& op);
  // One source parameter (with its relative-address token): the swizzle from
  // the values under `mask`, or the identity; kModifierNegate negates.
  HRESULT WriteSource(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD modifier, bool identity);
  // Where a source to be negated has no negated modifier, a copy of it in a
  // scratch register (`copy`) becomes the source.
  HRESULT NegatableSource(const std::uint32_t* values, std::uint32_t count, std::uint32_t* copy,
                          const std::uint32_t** source);
  // Slot 24 and validation: the end of every instruction.
  HRESULT FinishInstruction();
  HRESULT EmitBare(DWORD opcode);
  HRESULT EmitCompareForm(DWORD opcode, DWORD comparison);
  HRESULT EmitTexForm(DWORD opcode);
  HRESULT WriteDefinition(DWORD opcode, DWORD registerBits, const DWORD values[4]);
  // Fragment mode: the constant as a named register ("c_$zz%d", "i_$zz%d").
  HRESULT NameConstant(const char* format, std::uint32_t reg, const DWORD values[4]);
  // The compile's own steps (compile_driver.cpp).
  HRESULT BindSemanticsAndFile();
  HRESULT DefineLiterals();
  HRESULT DeclareRegisters();
  HRESULT FinishCode(DataBuffer** code);
  // The token stream in a new buffer; nothing without `code`.
  HRESULT CopyTokens(DataBuffer** code) const;
  void CleanUp();

 private:
  ScratchState m_scratch;
  DefUseUpkeep m_upkeep{*this};
  std::uint32_t m_selectionWalks = 0;
  // Pairs of positions (opening, closing) of each loop as a pass of
  // LoadAddressRegistersInPasses starts: an address loaded before a loop and
  // read inside it stays live to the loop's end.
  PodArray<std::uint32_t> m_addressPassLoops;
  PodArray<const void*> m_deprecationsReported;
  // Work tables of one compile: the value filed under each register.
  enum FileKind { kFileInputs, kFileOutputs, kFileSamplers, kFileNone, kFileAll };
  FileKind FileKindOf(const IrValue* v) const;
  // Files every input, output and sampler value (or those of one kind)
  // under its register; E_FAIL for an input or output without a semantic.
  HRESULT FileRegisters(FileKind only);
  PodArray<std::uint32_t> m_inputs, m_outputs, m_samplers;
  std::uint32_t m_inputsInUse = 0;
};

// The scope of a selection walk (ShaderTarget::BeginSelectionWalk).
class SelectionWalk {
 public:
  explicit SelectionWalk(ShaderTarget& t) : m_t(t) { m_t.BeginSelectionWalk(); }
  ~SelectionWalk() { m_t.EndSelectionWalk(); }
  SelectionWalk(const SelectionWalk&) = delete;
  SelectionWalk& operator=(const SelectionWalk&) = delete;

 private:
  ShaderTarget& m_t;
};

}  // namespace gxl::shader
