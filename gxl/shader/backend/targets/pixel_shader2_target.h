// The code-generating target of pixel shader 2.x ("ps_2_0", "ps_2_a",
// "ps_2_b" and "ps_2_sw"): per-version limits, the eight source swizzles that
// ps_2_0 and ps_2_b accept, min, max, slt and sge through cmp, texture
// coordinates copied into a temporary where they are not plain registers,
// one-dimensional sampling done as two-dimensional, the legalisation of
// output writes, the read-port rule, the v#, t#, oC# and oDepth registers with
// declarations carrying write masks, partial precision and centroid, and the
// output checks. There is no flow control in this target.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// --- The restricted source swizzles
// A component pattern: per position the component read there, or kFreeComponent.
constexpr std::uint8_t kFreeComponent = 0xFF;
// The first allowed row in [first, last] matching every fixed position of the
// pattern; -1 for none. Rows 0-3 replicate x, y, z, w; rows 4-7 are xyzw,
// yzxw, zxyw and wzyx.
constexpr int kFirstRotation = 4;
int MatchRestrictedSwizzle(const std::uint8_t pattern[4], int first = 0, int last = 7);
// Whether result j of the instruction is computed from column j of each
// argument group alone.
bool ComputesComponentWise(const IrInstruction& instruction);
// The pattern argument group k of an instruction reads: the value components at
// the positions of the result components they compute (or in order, for
// instructions that are not component-wise); with `keep`, only the columns it
// marks.
void ArgumentPattern(const ShaderProgram& p, const IrInstruction& instruction, std::uint32_t k, std::uint8_t pattern[4],
                     const std::uint8_t* keep = nullptr);
// Whether every argument group's pattern is one of the eight allowed swizzles.
bool HasRestrictedSwizzles(const ShaderProgram& p, const IrInstruction& instruction);

// A recogniser of the selection passes for the groups first to last;
// `otherwise` runs where it does not apply.
struct SelectionRule {
  std::uint32_t first, last;
  HRESULT (*apply)(ShaderTarget&);
  HRESULT (*otherwise)(ShaderTarget&) = nullptr;
};
// Every instruction through the rules of its group, in order, with fresh use
// analysis after each rewrite; the first failure is returned.
HRESULT ForEachInstruction(ShaderTarget& t, std::initializer_list<SelectionRule> rules);

// `pass` after a success of what came before: its failure, else S_OK.
HRESULT ThenPass(HRESULT hr, ShaderProgram& p, HRESULT (ShaderProgram::*pass)());
// Recognisers with their arguments bound, for the rule lists:
// RecognizeLerpFromMad without its warning, FormMultiplyAdd relaxed.
HRESULT LerpFromMadQuiet(ShaderTarget& t);
HRESULT MultiplyAddRelaxed(ShaderTarget& t);

// The selection's last passes after `hr` (returned when a failure): sincos
// destinations, then dead code, duplicate values, compaction and unused
// values, with fresh use analysis. S_OK or the first failure.
HRESULT FinishSelectionPasses(ShaderTarget& t, HRESULT hr);

// The selection that the pixel and shader model 3 targets open with: negate
// folding, saturate, min and max from compares, and abs from compares.
HRESULT SelectPixelOpening(ShaderTarget& t);

class PixelShader2Target : public ShaderTarget {
 public:
  explicit PixelShader2Target(bool fragment);

  using ShaderTarget::Compile;
  HRESULT Compile(DataBuffer** code) override;
  HRESULT SetupProfileLimits() override;
  HRESULT SelectInstructions() override;
  HRESULT FinishSelection() override;
  std::uint32_t NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) override;
  HRESULT MapOperation() override;
  HRESULT GenerateCode() override;
  HRESULT CheckOutputWrites() override;
  std::uint32_t NeedsSwizzleFix(const IrInstruction& instruction) override;
  std::uint32_t ReadsEarlierResult(const IrInstruction& instruction, std::uint32_t position) override;
  HRESULT WriteVersionToken() override;
  HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key) override;
  HRESULT DeclareSampler(std::uint32_t value) override;
  HRESULT WriteInstructionLength() override;
  HRESULT EncodeDestinationMask(const std::uint32_t* values, std::uint32_t count, DWORD* bits,
                                std::uint32_t fullMask) override;
  HRESULT MapSwizzle(const std::uint32_t* values, std::uint32_t count, DWORD mask, DWORD* swizzle) override;
  HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                            std::uint32_t* fullMask) override;
  HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) override;

  // Makes the instruction at `index` acceptable to ps 2.x and appends it (or
  // what replaces it) at the end of the list, emptying its first place.
  HRESULT LegalizePixelInstruction(std::uint32_t index);

  // The pixel rules of min, max, slt and sge.
  HRESULT EmitPixelMin() { return EmitPixelMinMax(false); }
  HRESULT EmitPixelMax() { return EmitPixelMinMax(true); }
  HRESULT EmitPixelSetLess() { return EmitPixelSetCompare(false); }
  HRESULT EmitPixelSetGreaterEqual() { return EmitPixelSetCompare(true); }

  bool RestrictedSwizzles() const { return profileLimits.capabilities & 0x2; }

  // Per t register 0-7 and v register 0-1: the highest component read + 1.
  std::uint32_t texcoordWidths[8] = {};
  std::uint32_t colorWidths[2] = {};
  // The literals 0.0 and 1.0 that slt and sge select, made once per compile
  // (kNoIndex until needed).
  std::uint32_t zeroSelect = kNoIndex;
  std::uint32_t oneSelect = kNoIndex;
  // Test hook: the coordinate copies' scratch temporary fails with this status.
  HRESULT scratchFailure = S_OK;

 private:
  HRESULT EmitPixelMinMax(bool max);
  HRESULT EmitPixelSetCompare(bool greaterEqual);
  // add t, a, -b over the current instruction's two argument groups, into a
  // scratch temporary laid out like its results.
  HRESULT WriteDifference(std::uint32_t** a, std::uint32_t** b, std::uint32_t* t);
  // Coordinates that are not plain t# or r# registers read a temporary
  // filled by a move first.
  HRESULT CopySampleCoordinates();
  HRESULT CopyCoordinates(std::uint32_t index);
  HRESULT EmitCurrent();
  // Legalisation steps (pixel_legalize.cpp).
  HRESULT ExpandDotProduct(IrInstruction& dot);
  HRESULT MoveThroughTemporary(IrInstruction& inst, bool argumentsFirst);
  HRESULT SplitToAllowedSwizzles(IrInstruction& inst, std::uint32_t position = kNoIndex);
  bool PartFits(const IrInstruction& inst, const std::uint8_t* keep) const;
  // The parts of an instruction whose results its operands do not overlap.
  HRESULT AppendParts(IrInstruction& inst);
  // An output register written whole: its writers and, where they must be
  // gathered, the temporary they write instead.
  static constexpr std::uint32_t kMaxOutputGathers = 8;
  struct OutputGather {
    std::uint32_t bank = kNoIndex, reg = kNoIndex;
    std::uint32_t writers = 0, lastWriter = kNoIndex;
    bool gather = false;
    std::uint32_t staged[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
    std::uint32_t outputs[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  };
  HRESULT GatherOutputWrites(OutputGather* gathers, std::uint32_t* count);
  // An instruction appended after the current end of the list; with `split`
  // in parts whose swizzles the profile accepts.
  HRESULT AppendNew(std::uint32_t word, const std::uint32_t* arguments, std::uint32_t argumentCount,
                    const std::uint32_t* results, std::uint32_t resultCount, const IrInstruction& from,
                    bool split = false);

  DWORD m_codeVersion = 0;  // the version the code declares
};

}  // namespace gxl::shader
