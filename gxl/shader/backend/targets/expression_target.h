// The target of programs that the processor evaluates instead of a device:
// texture shaders ("tx_1_0"), expression programs and preshaders. Its code is
// a version token, then "PRSI" (preshaders only), "CTAB", "CLIT" (the literal
// doubles) and "FXLC" (the instructions, which address the IR's own registers:
// no selection and no register allocation of its own), then the end token.
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/comment_block.h"

namespace gxl::shader {

// The versions this target writes.
constexpr DWORD kTextureShaderVersionToken = 0x54580100;  // tx_1_0
constexpr DWORD kExpressionVersionToken = 0x46580200;     // an expression compiled from a function node
constexpr DWORD kPreshaderVersionToken = 0x46580201;

// Tags of the expression-code blocks.
constexpr DWORD kTagPreshaderRegisters = MakeTag('P', 'R', 'S', 'I');
constexpr DWORD kTagLiterals = MakeTag('C', 'L', 'I', 'T');
constexpr DWORD kTagExpressionCode = MakeTag('F', 'X', 'L', 'C');
// The two dwords that close "FXLC".
constexpr DWORD kExpressionCodeEnd[2] = {0xF0F0F0F0, 0x0F0F0F0F};

// Operand kinds of "FXLC": the register file a bank stands for.
enum ExpressionOperandKind : std::uint32_t {
  kOperandNone = 0,  // a bank that has no file here
  kOperandLiteral = 1,
  kOperandConstant = 2,
  kOperandInput = 3,
  kOperandOutput = 4,
  kOperandBoolOutput = 5,  // "k"
  kOperandIntOutput = 6,   // "j"
  kOperandTemporary = 7,
  kOperandAddress = 8,
  kOperandSampler = 9,
};
ExpressionOperandKind OperandKindOf(std::uint32_t bankType);

// Bit 31 of an "FXLC" operation word: the first argument is one scalar for
// every component.
constexpr std::uint32_t kScalarFirstMark = 0x80000000u;
// The dot product whose 2w arguments are written as one-component operands.
constexpr std::uint32_t kDotOfScalars = 0x70E00001;
// The evaluator's temporaries: 64 registers of four components.
constexpr std::uint32_t kExpressionTemporaries = 64;

// One instruction of "FXLC" before it is encoded: an operation word (with
// the scalar mark when set), `groups` argument operands of `width` values
// each (one for a scalar first group; every argument alone for
// kDotOfScalars) and the first result value.
struct ExpressionInstruction {
  std::uint32_t word = 0;
  std::uint32_t groups = 0;
  std::vector<std::uint32_t> operands;  // the first value of each argument operand, in order
  std::uint32_t result = kNoIndex;
  std::uint32_t source = kNoIndex;  // the IR instruction it came from
};

class ExpressionTarget : public ShaderTarget {
 public:
  ExpressionTarget();
  ~ExpressionTarget() override;

  // Slot 1: 'FX' programs key each variable by the semantic counter; texture
  // shaders accept only the inputs POSITION and PSIZE and the output COLOR0.
  HRESULT CheckSemantics(std::uint32_t value, std::uint32_t flags) override;
  using ShaderTarget::Compile;
  // Slot 2: S_FALSE and no code for a program without instructions. With a
  // null `code` the stream stays in the target (preshaders).
  HRESULT Compile(DataBuffer** code) override;
  HRESULT SetupProfileLimits() override;
  // Slot 5: the code addresses the IR's registers as they stand.
  HRESULT AllocateRegisters() override;

  // The instructions of the last compile, as "FXLC" holds them.
  const std::vector<ExpressionInstruction>& ExpressionCode() const { return m_code; }

  std::uint32_t semanticCounter = 0;

 private:
  // Register numbers of the output banks "o", "k" and "j": lowest, highest.
  struct OutputSpan {
    std::uint32_t low = kNoIndex;
    std::uint32_t high = 0;
  };
  HRESULT GenerateExpressionCode();
  // Step of the compile: literal table, the texture-shader register rules,
  // the contiguous instruction list, the blocks.
  HRESULT FillLiterals(std::vector<double>& literals, std::uint32_t count);
  HRESULT PlaceTextureShaderRegisters();
  HRESULT BuildInstructions();
  HRESULT AppendContiguous(const IrInstruction& in, std::uint32_t position);
  HRESULT AppendSplit(const IrInstruction& in, std::uint32_t position);
  HRESULT AppendNoise(const IrInstruction& in, std::uint32_t position);
  HRESULT WriteRegisterMap(const OutputSpan spans[3], const std::vector<std::uint8_t> used[3]);
  HRESULT WriteLiteralBlock(const std::vector<double>& literals);
  HRESULT WriteCodeBlock();
  HRESULT EncodeOperand(std::uint32_t value, std::vector<DWORD>& out);
  HRESULT AppendBlock(DWORD tag, const std::vector<DWORD>& payload);

  std::vector<ExpressionInstruction> m_code;
  std::uint32_t m_temporaries = 0;  // temporary registers in use, before any staging register
};

}  // namespace gxl::shader
