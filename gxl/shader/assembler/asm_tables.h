// The vocabulary of the shader assembler: the versions it accepts and the
// column each selects, the instruction names with their operand forms per
// version, the register names with their counts per version, and the
// semantic usage names of declarations. Opcodes, register types and modifier
// bits are those of the Direct3D 9 shader token format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

namespace gxl::shader {

// Columns of both tables: vs_1_1, vs_2_0, vs_2_x, vs_2_sw, vs_3_0, vs_3_sw,
// ps_1_1, ps_1_2, ps_1_3, ps_1_4, ps_2_0, ps_2_x, ps_2_sw, ps_3_0, ps_3_sw.
constexpr int kAsmProfileCount = 15;
// The column of a version token, or -1 when the assembler has none.
int AssemblerProfileIndex(DWORD version);
DWORD AssemblerProfileVersion(int profileIndex);

// The operand form of an instruction name in one version.
enum class AsmClass : std::uint8_t {
  None,  // not in this version
  Op0,
  Op1,
  Op2,
  Op3,
  Op4,
  Op5,    // that many operands, the first the destination
  Def,    // a destination and four floats
  Defi,   // a destination and four integers
  Defb,   // a destination and a boolean
  Flow1,  // one source, no destination
  Flow2,  // two sources, no destination
};

// Operands of Op1..Op5; 0 for every other class.
constexpr int OperandCount(AsmClass c) {
  return c >= AsmClass::Op1 && c <= AsmClass::Op5 ? static_cast<int>(c) - static_cast<int>(AsmClass::Op0) : 0;
}

struct AsmInstructionRow {
  const char* name;
  std::uint32_t opcode;  // with texldp's and texldb's control bits
  AsmClass classes[kAsmProfileCount];
};

constexpr std::size_t kAsmInstructionCount = 84;
// Looked up by a linear, case-sensitive search in table order.
extern const AsmInstructionRow AssemblerInstructionTable[kAsmInstructionCount];
// "if" and "break" with a comparison suffix: Flow2 where they exist.
extern const AsmInstructionRow AssemblerComparisonRow;

// Register counts: kAbsentRegister, n for registers 0..n-1 (0: the register
// takes no number), or n | kRelativeCount when they may be addressed relatively.
constexpr std::int32_t kAbsentRegister = -1;
constexpr std::int32_t kRelativeCount = 0x10000;
constexpr std::int32_t kCountMask = 0xFFFF;

// Negative types stand for fixed registers of a type and number.
constexpr std::int32_t kFixedOPos = -3, kFixedOPts = -4, kFixedOFog = -5, kFixedVPos = -6, kFixedVFace = -7;

struct AsmRegisterRow {
  const char* name;
  std::int32_t type;
  std::int32_t counts[kAsmProfileCount];
  bool scalar;  // takes neither write mask nor swizzle
};

constexpr std::size_t kAsmRegisterCount = 21;
extern const AsmRegisterRow AssemblerRegisterTable[kAsmRegisterCount];

// The register type of an operand whose name could not be resolved.
constexpr std::uint32_t kUnresolvedRegister = 0xFFFFFFFFu;

// Fields of parameter tokens as the assembler writes them.
constexpr std::uint32_t kParameterBit = 0x80000000u;
constexpr std::uint32_t kRelativeBit = 0x00002000u;
constexpr std::uint32_t kFullMask = 0x000F0000u;
constexpr std::uint32_t kIdentitySwizzle = 0x00E40000u;
// Source modifiers, bits 24-27.
constexpr std::uint32_t kModNone = 0, kModNeg = 0x01000000u, kModBias = 0x02000000u, kModBiasNeg = 0x03000000u,
                        kModSign = 0x04000000u, kModSignNeg = 0x05000000u, kModComp = 0x06000000u, kModX2 = 0x07000000u,
                        kModX2Neg = 0x08000000u, kModDz = 0x09000000u, kModDw = 0x0A000000u, kModAbs = 0x0B000000u,
                        kModAbsNeg = 0x0C000000u, kModNot = 0x0D000000u;
// Result modifiers, bits 20-23 of a destination.
constexpr std::uint32_t kResultSat = 0x00100000u, kResultPp = 0x00200000u, kResultCentroid = 0x00400000u;
// The type of a parameter token: bits 0-2 of the type in bits 28-30, bits 3-4 in bits 11-12.
constexpr std::uint32_t RegisterTypeBits(std::uint32_t type) {
  return kParameterBit | (type & 7) << 28 | ((type >> 3) & 3) << 11;
}

// The usages of declarations, 0 POSITION to 13 SAMPLE.
constexpr DWORD kUsageCount = 14;
constexpr DWORD kMaxUsageIndex = 15;
// Upper-case name of a usage, "UNKNOWN" past 13.
const char* UsageName(DWORD usage);
// Instruction suffixes spell the usages in lower case.
const char* UsageSuffix(DWORD usage);
// Letters (1 to 20, compared in upper case, also DIFFUSE and SPECULAR for
// COLOR 0 and 1) then an optional decimal index below 16; else E_FAIL.
HRESULT ParseUsageName(const char* text, DWORD* usage, DWORD* index);

}  // namespace gxl::shader
