// The interpreter of expression code: the small compiled programs that fill
// textures from texture shaders (and evaluate effect expressions). The code is
// a version token followed by comment blocks: "FXLC" holds the instructions,
// "CLIT" the literal doubles. Validate reads and checks the code once into a
// decoded form whose every read is known to stay inside the code; Run then
// interprets it in double precision over register files that the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win_types.h"

// The version tokens of expression code: effect expressions and texture shaders.
constexpr DWORD kExpressionVersion = 0x46580200;
constexpr DWORD kExpressionVersion1 = 0x46580201;
constexpr DWORD kTextureShaderVersion = 0x54580100;

// Operand kinds. Every file is addressed by component (component k of register
// r at 4r + k) and comes with an index mask: the index used is index AND mask,
// so a file must hold mask + 1 values. Literals are indexed modulo their count.
enum ExpressionOperandKind : std::uint32_t {
  kExprLiteral = 1,
  kExprConstant = 2,
  kExprInput = 3,
  kExprOutput4 = 4,
  kExprOutput5 = 5,
  kExprOutput6 = 6,
  kExprTemporary = 7,
  kExprCell = 9,  // 32-bit floats
};

// The files of one run. A program that names a file left null is refused.
struct ExpressionFiles {
  const double* inputs = nullptr;
  std::uint32_t inputMask = 0;
  const double* constants = nullptr;
  std::uint32_t constantMask = 0;
  const float* cells = nullptr;
  std::uint32_t cellMask = 0;
  double* outputs[3] = {};  // kinds 4, 5 and 6 (they may be one file)
  std::uint32_t outputMasks[3] = {};
};

class ExpressionProgram {
 public:
  // Operand table size: the most inputs one instruction may have.
  static constexpr std::uint32_t kMaxInputs = 256;
  static constexpr std::uint32_t kTemporaryCount = 256;
  // The most components one instruction may work on. Real code works on
  // vectors, matrices and short arrays; the field's full range would let a
  // 20-byte instruction cost a million operations on every run (every texel
  // of a fill).
  static constexpr std::uint32_t kMaxComponents = 1024;

  // Reads byteSize bytes of code. E_FAIL for an unknown version token, a
  // missing or truncated "FXLC" or "CLIT" block, an instruction that runs past
  // its block, more than kMaxInputs inputs or kMaxComponents components, an
  // input operand of a kind other than 1-7 and 9 or an index term of a kind
  // other than 1-7, an output that is not kind 4-7 or is relatively addressed,
  // a known operation with fewer inputs than it reads, or literals named when
  // there are none. E_OUTOFMEMORY when the decoded form cannot be held. On
  // failure the program is empty.
  HRESULT Validate(const void* code, std::size_t byteSize);

  // Whether every file the program names is supplied.
  bool CanRunWith(const ExpressionFiles& files) const;

  // Runs the program once: writes only the output files. The temporaries start
  // at 0 on every run. E_FAIL, with nothing run, when CanRunWith is false.
  HRESULT Run(const ExpressionFiles& files) const;

  // Validate, then Run.
  static HRESULT Evaluate(const void* code, std::size_t byteSize, const ExpressionFiles& files);

  std::size_t InstructionCount() const { return m_instructions.size(); }
  std::size_t LiteralCount() const { return m_literals.size(); }

 private:
  struct Term {
    std::uint32_t kind;
    std::uint32_t index;
  };
  struct Operand {
    std::uint32_t kind;
    std::uint32_t index;
    std::uint32_t firstTerm;
    std::uint32_t termCount;
  };
  struct Instruction {
    std::uint32_t operation;  // token AND 0x7FF00000
    std::uint32_t count;      // components
    bool scalarFirst;
    std::uint32_t firstInput;
    std::uint32_t inputCount;
    std::uint32_t outputKind;
    std::uint32_t outputIndex;
  };

  HRESULT Decode(const std::uint8_t* fxlc, std::size_t fxlcSize, const std::uint8_t* clit, std::size_t clitSize);

  std::vector<Instruction> m_instructions;
  std::vector<Operand> m_operands;
  std::vector<Term> m_terms;
  std::vector<double> m_literals;
  std::uint32_t m_kindsUsed = 0;  // bit k: some operand, term or output is of kind k
};
