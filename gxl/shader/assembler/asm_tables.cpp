#include "gxl/shader/assembler/asm_tables.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/d3d9_api.h"

namespace gxl::shader {

namespace {

constexpr DWORD kProfileVersions[kAsmProfileCount] = {
    0xFFFE0101, 0xFFFE0200, 0xFFFE0201, 0xFFFE02FF, 0xFFFE0300, 0xFFFE03FF, 0xFFFF0101, 0xFFFF0102,
    0xFFFF0103, 0xFFFF0104, 0xFFFF0200, 0xFFFF0201, 0xFFFF02FF, 0xFFFF0300, 0xFFFF03FF,
};

// The tables are written as the cells of one row per line, one cell per
// version, and turned into typed rows at compile time: a malformed cell or a
// row of the wrong width stops the build.
template <typename Cell, typename Parse>
constexpr void ParseCells(std::string_view cells, Cell (&out)[kAsmProfileCount], Parse parse) {
  int column = 0;
  for (std::size_t i = 0; i < cells.size();) {
    if (cells[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t end = cells.find(' ', i);
    if (end == std::string_view::npos) end = cells.size();
    if (column == kAsmProfileCount) throw "a row has more cells than versions";
    out[column++] = parse(cells.substr(i, end - i));
    i = end;
  }
  if (column != kAsmProfileCount) throw "a row has fewer cells than versions";
}

constexpr AsmClass ClassCell(std::string_view cell) {
  if (cell == "-") return AsmClass::None;
  if (cell.size() == 1 && cell[0] >= '0' && cell[0] <= '5')
    return static_cast<AsmClass>(static_cast<int>(AsmClass::Op0) + (cell[0] - '0'));
  if (cell == "D") return AsmClass::Def;
  if (cell == "I") return AsmClass::Defi;
  if (cell == "B") return AsmClass::Defb;
  if (cell == "F1") return AsmClass::Flow1;
  if (cell == "F2") return AsmClass::Flow2;
  throw "unknown instruction class";
}

constexpr std::int32_t CountCell(std::string_view cell) {
  if (cell == "-") return kAbsentRegister;
  std::int32_t flag = 0;
  if (cell[0] == 'R') {
    flag = kRelativeCount;
    cell.remove_prefix(1);
  }
  std::int32_t n = 0;
  for (char c : cell) {
    if (c < '0' || c > '9') throw "unknown register count";
    n = n * 10 + (c - '0');
  }
  if (n > kCountMask) throw "register count out of range";
  return n | flag;
}

constexpr AsmInstructionRow Row(const char* name, std::uint32_t opcode, std::string_view cells) {
  AsmInstructionRow row{name, opcode, {}};
  ParseCells(cells, row.classes, ClassCell);
  return row;
}

constexpr AsmRegisterRow Reg(const char* name, std::int32_t type, std::string_view cells, bool scalar) {
  AsmRegisterRow row{name, type, {}, scalar};
  ParseCells(cells, row.counts, CountCell);
  return row;
}

constexpr const char* kUsageNames[kUsageCount] = {
    "POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL", "PSIZE", "TEXCOORD", "TANGENT",
    "BINORMAL", "TESSFACTOR",  "POSITIONT",    "COLOR",  "FOG",   "DEPTH",    "SAMPLE",
};
constexpr const char* kUsageSuffixes[kUsageCount] = {
    "position", "blendweight", "blendindices", "normal", "psize", "texcoord", "tangent",
    "binormal", "tessfactor",  "positiont",    "color",  "fog",   "depth",    "sample",
};

}  // namespace

//                               vs: 1_1 2_0 2_x 2sw 3_0 3sw  ps: 1_1 1_2 1_3 1_4 2_0 2_x 2sw 3_0 3sw
constinit const AsmInstructionRow AssemblerInstructionTable[kAsmInstructionCount] = {
    Row("nop", 0, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"),
    Row("mov", 1, "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2"),
    Row("add", 2, "3 3 3 3 3 3 3 3 3 3 3 3 3 3 3"),
    Row("sub", 3, "3 3 3 3 3 3 3 3 3 3 3 3 3 3 3"),
    Row("mad", 4, "4 4 4 4 4 4 4 4 4 4 4 4 4 4 4"),
    Row("mul", 5, "3 3 3 3 3 3 3 3 3 3 3 3 3 3 3"),
    Row("rcp", 6, "2 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("rsq", 7, "2 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("dp3", 8, "3 3 3 3 3 3 3 3 3 3 3 3 3 3 3"),
    Row("dp4", 9, "3 3 3 3 3 3 - 3 3 3 3 3 3 3 3"),
    Row("min", 10, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("max", 11, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("slt", 12, "3 3 3 3 3 3 - - - - - - - - -"),
    Row("sge", 13, "3 3 3 3 3 3 - - - - - - - - -"),
    Row("exp", 14, "2 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("log", 15, "2 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("lit", 16, "2 2 2 2 2 2 - - - - - - - - -"),
    Row("dst", 17, "3 3 3 3 3 3 - - - - - - - - -"),
    Row("lrp", 18, "- 4 4 4 4 4 4 4 4 4 4 4 4 4 4"),
    Row("frc", 19, "2 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("m4x4", 20, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("m4x3", 21, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("m3x4", 22, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("m3x3", 23, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("m3x2", 24, "3 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("call", 25, "- F1 F1 F1 F1 F1 - - - - - F1 F1 F1 F1"),
    Row("callnz", 26, "- F2 F2 F2 F2 F2 - - - - - F2 F2 F2 F2"),
    Row("loop", 27, "- F2 F2 F2 F2 F2 - - - - - - - F2 F2"),
    Row("ret", 28, "- 0 0 0 0 0 - - - - - 0 0 0 0"),
    Row("endloop", 29, "- 0 0 0 0 0 - - - - - - - 0 0"),
    Row("label", 30, "- F1 F1 F1 F1 F1 - - - - - F1 F1 F1 F1"),
    Row("dcl", 31, "1 1 1 1 1 1 - - - - 1 1 1 1 1"),
    Row("pow", 32, "- 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("crs", 33, "- 3 3 3 3 3 - - - - 3 3 3 3 3"),
    Row("sgn", 34, "- 4 4 4 4 4 - - - - - - - - -"),
    Row("abs", 35, "- 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("nrm", 36, "- 2 2 2 2 2 - - - - 2 2 2 2 2"),
    Row("sincos", 37, "- 4 4 4 2 2 - - - - 4 4 4 2 2"),
    Row("rep", 38, "- F1 F1 F1 F1 F1 - - - - - F1 F1 F1 F1"),
    Row("endrep", 39, "- 0 0 0 0 0 - - - - - 0 0 0 0"),
    Row("if", 40, "- F1 F1 F1 F1 F1 - - - - F1 F1 F1 F1 F1"),
    Row("else", 42, "- 0 0 0 0 0 - - - - 0 0 0 0 0"),
    Row("endif", 43, "- 0 0 0 0 0 - - - - 0 0 0 0 0"),
    Row("break", 44, "- 0 0 0 0 0 - - - - - 0 0 0 0"),
    Row("breakp", 96, "- - F1 F1 F1 F1 - - - - - F1 F1 F1 F1"),
    Row("mova", 46, "- 2 2 2 2 2 - - - - - - - - -"),
    Row("texcoord", 64, "- - - - - - 1 1 1 - - - - - -"),
    Row("texcrd", 64, "- - - - - - - - - 2 - - - - -"),
    Row("texkill", 65, "- - - - - - 1 1 1 1 1 1 1 1 1"),
    Row("tex", 66, "- - - - - - 1 1 1 - - - - - -"),
    Row("texld", 66, "- - - - - - - - - 2 3 3 3 3 3"),
    // The projecting and biasing forms of texld carry their control in the opcode word.
    Row("texldp", 66 | 0x10000, "- - - - - - - - - - 3 3 3 3 3"),
    Row("texldb", 66 | 0x20000, "- - - - - - - - - - 3 3 3 3 3"),
    Row("texbem", 67, "- - - - - - 2 2 2 - - - - - -"),
    Row("texbeml", 68, "- - - - - - 2 2 2 - - - - - -"),
    Row("texreg2ar", 69, "- - - - - - 2 2 2 - - - - - -"),
    Row("texreg2gb", 70, "- - - - - - 2 2 2 - - - - - -"),
    Row("texm3x2pad", 71, "- - - - - - 2 2 2 - - - - - -"),
    Row("texm3x2tex", 72, "- - - - - - 2 2 2 - - - - - -"),
    Row("texm3x3pad", 73, "- - - - - - 2 2 2 - - - - - -"),
    Row("texm3x3tex", 74, "- - - - - - 2 2 2 - - - - - -"),
    Row("texm3x3spec", 76, "- - - - - - 3 3 3 - - - - - -"),
    Row("texm3x3vspec", 77, "- - - - - - 2 2 2 - - - - - -"),
    Row("expp", 78, "2 2 2 2 2 2 - - - - - - - - -"),
    Row("logp", 79, "2 2 2 2 2 2 - - - - - - - - -"),
    Row("cnd", 80, "- - - - - - 4 4 4 4 - - - - -"),
    Row("def", 81, "D D D D D D D D D D D D D D D"),
    Row("defi", 48, "- I I I I I - - - - - I I I I"),
    Row("defb", 47, "- B B B B B - - - - B B B B B"),
    Row("texreg2rgb", 82, "- - - - - - - 2 2 - - - - - -"),
    Row("texdp3tex", 83, "- - - - - - - 2 2 - - - - - -"),
    Row("texm3x2depth", 84, "- - - - - - - - 2 - - - - - -"),
    Row("texdp3", 85, "- - - - - - - 2 2 - - - - - -"),
    Row("texm3x3", 86, "- - - - - - - 2 2 - - - - - -"),
    Row("texdepth", 87, "- - - - - - - - - 1 - - - - -"),
    Row("cmp", 88, "- - - - - - - 4 4 4 4 4 4 4 4"),
    Row("bem", 89, "- - - - - - - - - 3 - - - - -"),
    Row("dp2add", 90, "- - - - - - - - - - 4 4 4 4 4"),
    Row("dsx", 91, "- - - - - - - - - - - 2 2 2 2"),
    Row("dsy", 92, "- - - - - - - - - - - 2 2 2 2"),
    Row("texldd", 93, "- - - - - - - - - - - 5 5 5 5"),
    Row("setp", 94, "- - 3 3 3 3 - - - - - 3 3 3 3"),
    Row("texldl", 95, "- - - - 3 3 - - - - - - - 3 3"),
    Row("phase", 0xFFFD, "- - - - - - - - - 0 - - - - -"),
};

constinit const AsmInstructionRow AssemblerComparisonRow = Row("if, break", 0, "- - F2 F2 F2 F2 - - - - - F2 F2 F2 F2");

//                           vs: 1_1 2_0 2_x 2sw 3_0 3sw  ps: 1_1 1_2 1_3 1_4 2_0 2_x 2sw 3_0 3sw
constinit const AsmRegisterRow AssemblerRegisterTable[kAsmRegisterCount] = {
    Reg("v", 1, "16 16 16 16 R16 R16 2 2 2 2 2 2 2 R10 R14", false),
    Reg("r", 0, "12 12 32 32 32 32 2 2 2 6 12 32 32 32 32", false),
    Reg("c", 2, "R8192 R8192 R8192 R8192 R8192 R8192 8 8 8 8 32 32 8192 224 8192", false),
    Reg("a", 3, "1 1 1 1 1 1 - - - - - - - - -", false),
    Reg("t", 3, "- - - - - - 4 4 4 6 8 8 8 - -", false),
    Reg("oPos", kFixedOPos, "0 0 0 0 - - - - - - - - - - -", false),
    Reg("oPts", kFixedOPts, "0 0 0 0 - - - - - - - - - - -", true),
    Reg("oFog", kFixedOFog, "0 0 0 0 - - - - - - - - - - -", true),
    Reg("oD", 5, "2 2 2 2 - - - - - - - - - - -", false),
    Reg("oT", 6, "8 8 8 8 - - - - - - - - - - -", false),
    Reg("i", 7, "- 16 16 2048 16 2048 - - - - - 16 2048 16 2048", false),
    Reg("oC", 8, "- - - - - - - - - - 4 4 4 4 4", false),
    Reg("oDepth", 9, "- - - - - - - - - - 0 0 0 0 0", true),
    Reg("s", 10, "- - - - 4 4 - - - - 16 16 16 16 16", false),
    Reg("b", 14, "- 16 16 2048 16 2048 - - - - 16 16 2048 16 2048", true),
    Reg("aL", 15, "- 0 0 0 0 0 - - - - - - - 0 0", true),
    Reg("vPos", kFixedVPos, "- - - - - - - - - - - - - 0 0", false),
    Reg("vFace", kFixedVFace, "- - - - - - - - - - - - - 0 0", true),
    Reg("l", 18, "- 2048 2048 2048 2048 2048 - - - - - 2048 2048 2048 2048", true),
    Reg("p", 19, "- - 1 1 1 1 - - - - - 1 1 1 1", false),
    Reg("o", 6, "- - - - R12 R16 - - - - - - - - -", false),
};

int AssemblerProfileIndex(DWORD version) {
  for (int i = 0; i < kAsmProfileCount; ++i)
    if (kProfileVersions[i] == version) return i;
  return -1;
}

DWORD AssemblerProfileVersion(int profileIndex) {
  return profileIndex >= 0 && profileIndex < kAsmProfileCount ? kProfileVersions[profileIndex] : 0;
}

const char* UsageName(DWORD usage) { return usage < kUsageCount ? kUsageNames[usage] : "UNKNOWN"; }

const char* UsageSuffix(DWORD usage) { return usage < kUsageCount ? kUsageSuffixes[usage] : nullptr; }

HRESULT ParseUsageName(const char* text, DWORD* usage, DWORD* index) {
  if (!text) return E_FAIL;
  char letters[21];
  std::size_t n = 0;
  for (; std::isalpha(static_cast<unsigned char>(text[n])); ++n) {
    if (n == 20) return E_FAIL;
    letters[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[n])));
  }
  if (n == 0) return E_FAIL;
  letters[n] = '\0';
  DWORD number = 0;
  for (const char* d = text + n; *d; ++d) {
    if (*d < '0' || *d > '9') return E_FAIL;
    number = number * 10 + static_cast<DWORD>(*d - '0');
    if (number > kMaxUsageIndex) return E_FAIL;  // also stops a long run of digits from wrapping
  }
  DWORD found = kUsageCount;
  for (DWORD u = 0; u < kUsageCount; ++u)
    if (std::strcmp(letters, kUsageNames[u]) == 0) found = u;
  if (std::strcmp(letters, "DIFFUSE") == 0 || std::strcmp(letters, "SPECULAR") == 0) {
    if (text[n] != '\0') return E_FAIL;
    found = 10;
    number = letters[0] == 'S' ? 1 : 0;
  }
  if (found == kUsageCount) return E_FAIL;
  *usage = found;
  *index = number;
  return S_OK;
}

}  // namespace gxl::shader
