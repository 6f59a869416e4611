// The target of the pixel shader 1.x profiles ps_1_1 to ps_1_4. Their code
// has a fixed shape: a block of texture-addressing instructions, one per
// texture stage, then the arithmetic block (on ps_1_4 possibly two such
// pairs split by a phase instruction). The target places the optimised IR
// into that shape in two instruction lists: slots 0 .. stages-1 of a list
// are the texture stages, the arithmetic follows. The arithmetic, register
// and ps_1_4 phase rules are reached through Ps1Rules (ps1_rules.h).
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/backend/targets/ps1/ps1_rules.h"
#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// Kinds of the 1.x semantic word (kind | index << 8).
enum Ps1SemanticKind : std::uint32_t {
  kPs1Unknown = 0,
  kPs1Color = 1,
  kPs1Depth = 2,
  kPs1Texcoord = 3,
  kPs1Void = 4,
  kPs1Special = 5,  // the w of TEXCOORD1-3, moved to bank "spec": an eye vector
};
constexpr std::uint32_t Ps1SemanticWord(std::uint32_t kind, std::uint32_t index) { return kind | index << 8; }
constexpr std::uint32_t Ps1KindOf(std::uint32_t word) { return word & 0xFF; }
constexpr std::uint32_t Ps1IndexOf(std::uint32_t word) { return word >> 8 & 0xFFFF; }

// Result and source modifier bits of a value's binding word.
constexpr std::uint32_t kPs1Modifiers = 0x1FFE00;

// Operation groups this target creates.
enum Ps1Operation : std::uint32_t {
  kOpPs1Kill = 0x110,
  kOpPs1Lerp = 0x701,
  kOpPs1Mad = 0x703,
  kOpPs1MadNegated = 0x704,
  kOpPs1Cnd = 0x70F,
  kOpTexcoord = 0x721,
  kOpTexm3x2Pad = 0x722,
  kOpTexm3x2Tex = 0x723,
  kOpTexm3x3Pad = 0x724,
  kOpTexm3x3Tex = 0x725,
  kOpTexreg2Rgb = 0x726,
  kOpTexreg2Ar = 0x727,
  kOpTexreg2Gb = 0x728,
  // Both read their stage's texture coordinate, then the source register;
  // texm3x3spec a third group, the constant holding the eye.
  kOpTexm3x3Vspec = 0x729,
  kOpTexm3x3Spec = 0x72A,
  kOpTexdp3Tex = 0x72B,
  // A texCUBE of a reflection vector, until matched to texm3x3vspec or
  // texm3x3spec: the sampler group, the normal, then the eye (the inputs
  // "spec" holds for TEXCOORD1-3.w, or a constant register's xyz).
  kOpReflectEyeInTexcoord = 0x72C,
  kOpReflectEyeInConstant = 0x72D,
  kOpTexldDivideZ = 0x72E,
};

// One instruction list: instruction indexes (kNoIndex for an empty texture
// slot). "Exists" once allocated; at most kLimit entries.
class Ps1List {
 public:
  static constexpr std::uint32_t kLimit = 512;

  bool Exists() const { return m_exists; }
  std::uint32_t Count() const { return static_cast<std::uint32_t>(m_entries.Size()); }
  std::uint32_t operator[](std::uint32_t i) const { return i < Count() ? m_entries[i] : kNoIndex; }
  std::uint32_t& At(std::uint32_t i) { return m_entries[i]; }
  // An existing list of `slots` empty texture slots.
  HRESULT Allocate(std::uint32_t slots);
  // E_FAIL past the limit, E_OUTOFMEMORY.
  HRESULT Append(std::uint32_t instruction);
  void Truncate(std::uint32_t count) {
    if (count < Count()) m_entries.Truncate(count);
  }
  void Free() {
    m_entries.Reset();
    m_exists = false;
  }

 private:
  PodArray<std::uint32_t> m_entries;
  bool m_exists = false;
};

class PixelShader1Target : public ShaderTarget {
 public:
  static constexpr std::uint32_t kTextureOperationLimit14 = 12;
  static constexpr std::uint32_t kScratchTemporaries = 64;
  static constexpr std::uint32_t kScratchObjects = 16;

  // Null rules: the target's own (Ps1StandardRules).
  explicit PixelShader1Target(bool fragment, std::unique_ptr<Ps1Rules> rules = nullptr);
  ~PixelShader1Target() override;

  // --- Slots
  HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags) override;
  using ShaderTarget::Compile;
  HRESULT Compile(DataBuffer** code) override;
  HRESULT SetupProfileLimits() override;
  HRESULT SelectInstructions() override;
  HRESULT AllocateRegisters() override;
  HRESULT GenerateCode() override;
  HRESULT CheckOutputWrites() override;
  std::uint32_t NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) override;
  HRESULT MapOperation() override;
  HRESULT MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) override;
  std::uint32_t ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) override;
  HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key) override;
  DWORD MapOpcode(DWORD opcode) override;
  HRESULT WriteInstructionLength() override;
  HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                            std::uint32_t* fullMask) override;
  HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) override;
  // 1 when a co-issued pair reads more registers of a kind than the pair may.
  std::uint32_t ExceedsPairReadPorts(const IrInstruction& first, const IrInstruction& second);

  // --- Model
  std::uint32_t Minor() const { return versionToken & 0xFF; }
  bool Is14() const { return Minor() >= 4; }
  std::uint32_t Stages() const { return profileLimits.samplers; }
  std::uint32_t TexcoordLimit() const { return profileLimits.word5; }

  // --- What the rules and placement share
  // The 1.x semantic word of an input or output value; kNoIndex for another.
  std::uint32_t SemanticOf(std::uint32_t value) const;
  bool IsInputValue(std::uint32_t value) const;
  bool IsTemporaryValue(std::uint32_t value) const;
  bool IsConstantValue(std::uint32_t value) const;  // a uniform or literal bank
  // The operation groups of texture operations: samples, tex2Dproj, texld
  // divided by z, clip and the reflection markers.
  static bool IsTextureOperation(std::uint32_t group);
  static bool IsTextureLoad(std::uint32_t group);
  // The first argument of an operation's coordinate group, and its width.
  static std::uint32_t CoordinateStart(const IrInstruction& instruction);
  // The instruction writing `value` (through its alias), or kNoIndex.
  std::uint32_t ProducerOf(std::uint32_t value) const;
  // Co-issue word of an instruction (also the collection mark of placement).
  static std::uint32_t& CoIssueMark(IrInstruction& instruction) { return instruction.word14; }
  static std::uint32_t CoIssueMark(const IrInstruction& instruction) { return instruction.word14; }
  // Replaces, in instructions [first, last] other than `skip`, every argument
  // that is (or aliases) from[j] by to[j]; 4801 when an argument reads a
  // component of the same register that `from` does not cover.
  HRESULT InputRemap(std::uint32_t first, std::uint32_t last, std::uint32_t skip, const std::uint32_t* from,
                     const std::uint32_t* to, std::uint32_t count);
  // An input value of TEXCOORD `index`, component `component`: the program's
  // own, or a new one.
  std::uint32_t TexcoordValue(std::uint32_t index, std::uint32_t component);
  // A texcoord (texcrd) instruction of TEXCOORD `index`, components 0 ..
  // count-1, into new temporaries; `inputs` and `results` receive its
  // operands. Its index, or kNoIndex when memory ran out.
  std::uint32_t AddTexcoordInstruction(std::uint32_t index, std::uint32_t count, std::uint32_t sourceOf,
                                       std::uint32_t* inputs, std::uint32_t* results);
  // An instruction of `word` added to the program, arguments and results
  // filled from the arrays; its index, or kNoIndex when memory ran out.
  std::uint32_t AddFilledInstruction(std::uint32_t word, const std::uint32_t* arguments, std::uint32_t argumentCount,
                                     const std::uint32_t* results, std::uint32_t resultCount, std::uint32_t sourceOf);
  // Whether a value is a texture register of ps_1_1 (a TEXCOORD input, or a
  // temporary a sample writes or assigned to t#).
  bool IsTextureRegisterRead(std::uint32_t value) const;
  // A move of every component onto itself, modifiers alike: it emits nothing.
  bool IsIdentityMove(const IrInstruction& instruction) const;
  // Instruction slots of a list's arithmetic, a co-issued pair counted once.
  std::uint32_t CountSlots(const Ps1List& list) const;
  // The fewest slots the arithmetic of entries [0, end) can take, whatever
  // registers and read ports later refuse of its pairs.
  std::uint32_t FewestSlots(const Ps1List& list, std::uint32_t end) const;
  // A temporary register whose four components are free across the entry at
  // sequence position `position` (phase-one list first, then the stage
  // list), other than the `excluded` registers; kNoIndex when none is.
  std::uint32_t FreeRegisterAt(std::uint32_t position, const std::uint32_t* excluded, std::uint32_t count) const;
  // The instruction count past which ps_1_1-1_3 (ps_1_4) programs are refused.
  static constexpr std::uint32_t kPs1xInstructionLimit = 128;
  static constexpr std::uint32_t kPs14InstructionLimit = 64;

  // --- Texture instructions (ps1_sampling.cpp, ps1_reflection.cpp, ps1_placement.cpp, ps1_dependent.cpp)
  HRESULT CheckClip(std::uint32_t index);
  HRESULT RejectUnsupportedSampling();
  // A texCUBE at `index` whose coordinate computes a reflection becomes a
  // reflection marker: 0 when it did, 1 when it does not apply.
  HRESULT RecogniseReflection(std::uint32_t index);
  HRESULT PlaceTextureOperations();
  HRESULT CopyConstantCoordinates();
  HRESULT MatchDependentReads();

  // --- ps_1_4 partition search (ps1_phases.cpp)
  struct PartitionCounts {
    std::uint32_t phaseOneArithmetic, phaseOneTextures, phaseTwoArithmetic, phaseTwoTextures;
  };
  static std::uint32_t ScorePartition(const PartitionCounts& c);
  PartitionCounts CountPartition() const;
  // Whether both phases' arithmetic fits the slots of a phase: with
  // `fewest`, whether it can (the fewest slots, without an output move that
  // folds), else whether it does as the lists stand.
  bool PhasesFit14(bool fewest) const;
  HRESULT SearchPartitions14();
  HRESULT TakeSnapshot();
  HRESULT RestoreSnapshot();
  // A new trial: the carry-over's moves of the last one are gone with its restore.
  void ForgetScratchMoves();
  void ClearSamplerRecords();

  // --- State
  std::unique_ptr<Ps1Rules> rules;
  Ps1List phaseOneList;  // ps_1_4 phase one; ps_1_1-1_3 the dependent-read chains while they are matched
  Ps1List stageList;
  PodArray<IrInstruction*> instructionSnapshot;  // owned
  PodArray<IrValue*> valueSnapshot;              // owned
  std::uint32_t texcoordComponentsRead[8] = {};
  std::uint32_t colorComponentsRead[4] = {};
  // The phase carry-over's moves (instruction indexes: a trial's snapshot
  // restore drops them), their count, and the trial they belong to.
  std::uint32_t scratchMoves[kScratchObjects] = {};
  std::uint32_t scratchMoveCount = 0;
  std::uint32_t scratchTrial = 0;
  std::uint32_t scratchTemporaries[kScratchTemporaries] = {};
  std::uint32_t scratchTemporaryCount = 0;
  std::uint32_t scratchTemporaryCursor = 0;
  struct SamplerRecord {
    std::uint32_t bank = kNoIndex;
    std::uint32_t value = kNoIndex;
  };
  SamplerRecord samplerRecords[6];
  std::uint32_t zeroValue = kNoIndex, oneValue = kNoIndex;
  std::uint32_t specBank = kNoIndex;
  // The bank of the constant registers c0-c7 that literal groups were given
  // (kNoIndex before constant assignment); its reads are registers, not values.
  std::uint32_t literalRegisterBank = kNoIndex;
  bool diagnosticsIssued = false;
  bool conditionalLowered = false;
  std::uint32_t textureOperations[kTextureOperationLimit14] = {};
  std::uint32_t textureOperationCount = 0;
  std::uint32_t outputMove = kNoIndex;  // the move into the outputs made before placement
  bool registersAssigned = false;       // temporaries hold their 1.x registers
  // ps_1_4: the phases are balanced by their slots (BalancePhases14), for a
  // program whose standard balance cannot fit them.
  bool slotBalance14 = false;
  std::uint32_t emitPosition = 0;       // sequence position of the entry being emitted

 private:
  // The steps of GenerateCode.
  HRESULT CheckGeneralReads();
  HRESULT RunFolds();
  HRESULT RunFoldSteps();
  HRESULT MoveOutputsThroughTemporaries();
  HRESULT FoldOutputMove();
  // Whether the output move folds into its producers, registers as assigned.
  bool OutputMoveFolds() const;
  // Emission (ps1_emit.cpp).
  HRESULT EmitList(const Ps1List& list);
  HRESULT EmitEntry(std::uint32_t slot, bool textureSlot);
  HRESULT EmitTextureInstruction(std::uint32_t slot);
  HRESULT EmitDotProduct4();
  HRESULT EmitTextureRegisterOnly(DWORD opcode, std::uint32_t slot);
  // RebuildDefUse after a rewrite.
  HRESULT Refresh() { return ResetSelectionState(); }
};

// The texture coordinate a texture operation reads plainly (every coordinate
// component a TEXCOORD k input without modifier), or kNoIndex.
std::uint32_t PlainTexcoordOf(const PixelShader1Target& t, const IrInstruction& inst);

}  // namespace gxl::shader
