// The Direct3D 9 shader token format: versions, opcodes, register types and the
// splitting of a token stream into instructions, comments and the end token.
// The validator builds its rules on this; test tools (decoder, interpreter)
// read streams through it too, so it depends on nothing but the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::shader {

// Register types (5 bits, split over bits 28-30 and 11-12 of a parameter token).
enum RegType : int {
  kTemp = 0,
  kInput = 1,
  kConst = 2,
  kAddr = 3,  // a0 in vertex shaders, t# in pixel shaders
  kRastOut = 4,
  kAttrOut = 5,
  kTexCrdOut = 6,  // oT# before vs_3_0, o# in vs_3_0
  kConstInt = 7,
  kColorOut = 8,
  kDepthOut = 9,
  kSampler = 10,
  kConst2 = 11,
  kConst3 = 12,
  kConst4 = 13,
  kConstBool = 14,
  kLoop = 15,
  kTempFloat16 = 16,
  kMiscType = 17,
  kLabel = 18,
  kPredicate = 19,
};

enum Opcode : std::uint16_t {
  kNop = 0, kMov, kAdd, kSub, kMad, kMul, kRcp, kRsq, kDp3, kDp4, kMin, kMax, kSlt, kSge, kExp, kLog,
  kLit, kDst, kLrp, kFrc, kM4x4, kM4x3, kM3x4, kM3x3, kM3x2, kCall, kCallNz, kLoopOp, kRet, kEndLoop,
  kLabelOp, kDcl, kPow, kCrs, kSgn, kAbs, kNrm, kSinCos, kRep, kEndRep, kIf, kIfC, kElse, kEndIf,
  kBreak, kBreakC, kMova, kDefB, kDefI,
  kTexCoord = 64, kTexKill, kTex, kTexBem, kTexBemL, kTexReg2Ar, kTexReg2Gb, kTexM3x2Pad, kTexM3x2Tex,
  kTexM3x3Pad, kTexM3x3Tex, kTexM3x3Spec = 76, kTexM3x3VSpec, kExpP, kLogP, kCnd, kDef, kTexReg2Rgb,
  kTexDp3Tex, kTexM3x2Depth, kTexDp3, kTexM3x3, kTexDepth, kCmp, kBem, kDp2Add, kDsx, kDsy, kTexLdd,
  kSetP, kTexLdl, kBreakP,
  kPhase = 0xFFFD, kComment = 0xFFFE, kEnd = 0xFFFF,
};

enum SrcMod : int {
  kModNone = 0, kModNeg, kModBias, kModBiasNeg, kModSign, kModSignNeg, kModComp, kModX2, kModX2Neg,
  kModDz, kModDw, kModAbs, kModAbsNeg, kModNot,
};

// Result-modifier flags (bits 20-23 of a destination token, shifted down).
constexpr int kResultSat = 1, kResultPp = 2, kResultCentroid = 4;

constexpr std::uint32_t kEndToken = 0x0000FFFF;
constexpr std::uint32_t kIdentitySwizzle = 0xE4;

// The versions a stream can carry, in a fixed order (used as bit positions).
enum Profile : int {
  kVs11, kVs20, kVs2x, kVs2sw, kVs30, kVs3sw,
  kPs11, kPs12, kPs13, kPs14, kPs20, kPs2x, kPs2sw, kPs30, kPs3sw,
  kProfileCount,
};

struct Version {
  std::uint32_t token = 0;
  Profile profile = kVs11;
  bool pixel = false;
  int major = 0, minor = 0;

  bool AtLeast2() const { return major >= 2; }
  bool Is3() const { return major == 3; }
  bool Ps1x() const { return pixel && major == 1; }
  // 2_x, 2_sw and 3_0 features (predication, dynamic flow control, ...).
  bool Extended() const { return major == 3 || (major == 2 && minor != 0); }
  const char* Name() const;
};

// False when the token names no version of the format.
bool ParseVersion(std::uint32_t token, Version* out);

// --- Parameter tokens -------------------------------------------------------
inline int RegisterType(std::uint32_t tok) { return static_cast<int>(((tok >> 28) & 7) | (((tok >> 11) & 3) << 3)); }
inline std::uint32_t RegisterNumber(std::uint32_t tok) { return tok & 0x7FF; }
inline bool IsRelative(std::uint32_t tok) { return (tok & 0x2000) != 0; }
inline std::uint32_t WriteMask(std::uint32_t tok) { return (tok >> 16) & 0xF; }
inline int ResultModifiers(std::uint32_t tok) { return static_cast<int>((tok >> 20) & 0xF); }
inline int ShiftScale(std::uint32_t tok) { return static_cast<int>((tok >> 24) & 0xF); }
inline std::uint32_t Swizzle(std::uint32_t tok) { return (tok >> 16) & 0xFF; }
inline int SwizzleComponent(std::uint32_t tok, int channel) {
  return static_cast<int>((tok >> (16 + 2 * channel)) & 3);
}
inline int SourceModifier(std::uint32_t tok) { return static_cast<int>((tok >> 24) & 0xF); }
// Float constants past c2047 live in three further register types.
inline bool IsConstBank(int type) { return type == kConst || (type >= kConst2 && type <= kConst4); }
inline std::uint32_t ConstIndex(int type, std::uint32_t number) {
  return type == kConst ? number : (static_cast<std::uint32_t>(type - kConst2 + 1) << 11) + number;
}
// Registers holding one value (b#, aL, l#, vFace) take no swizzle.
inline bool IsScalarSource(std::uint32_t tok) {
  const int type = RegisterType(tok);
  return type == kConstBool || type == kLoop || type == kLabel || (type == kMiscType && RegisterNumber(tok) == 1);
}
inline bool IsReplicate(std::uint32_t swizzle) {
  return swizzle == 0x00 || swizzle == 0x55 || swizzle == 0xAA || swizzle == 0xFF;
}

// Assembly name of a register ("r3", "c2100", "oPos", "aL"); empty when the
// type or number names no register of the version's kind.
std::string RegisterText(int type, std::uint32_t number, const Version& v);

// --- Opcodes ----------------------------------------------------------------
enum OpClass : std::uint8_t {
  kArith,    // computes a value into a destination
  kTexture,  // texture loads and ps_1_x texture-address instructions
  kFlow,     // flow control
  kSetup,    // dcl, def, defi, defb
  kOther,    // nop, phase
};

// Operand layout of an instruction after its token.
enum Shape : std::uint8_t {
  kPlain,    // [dst] srcs..., each with an optional relative-address token
  kDclShape, // DCL token, dst
  kDefShape, // dst, literal DWORDs
};

struct OpInfo {
  std::uint16_t op;
  const char* name;
  std::uint16_t profiles;  // bit per Profile where the opcode exists
  OpClass cls;
  Shape shape;
  bool dst;
  std::int8_t sources;  // or literal count for kDefShape
  std::uint8_t slots;
};

// Null when the opcode is unknown.
const OpInfo* FindOp(std::uint32_t opcode);
inline bool Available(const OpInfo& info, Profile p) { return (info.profiles >> p) & 1; }

// Destination and source count of an opcode in a version (tex, texcoord and
// sincos change shape between versions).
struct Operands {
  bool dst;
  int sources;
};
Operands OperandsOf(const OpInfo& info, const Version& v);
// Slots the instruction costs (before predication), per the version.
int SlotCost(const OpInfo& info, const Version& v);

// --- Splitting a stream ------------------------------------------------------
struct Operand {
  std::uint32_t token = 0;
  std::size_t index = 0;  // position of the token in the stream
  bool hasRelToken = false;
  std::uint32_t relToken = 0;
};

constexpr int kMaxSources = 4;

struct Instruction {
  std::size_t index = 0;
  std::uint32_t token = 0;
  const OpInfo* info = nullptr;
  std::uint32_t control = 0;  // bits 16-23
  bool predicated = false, coissue = false;
  bool hasDst = false;
  Operand dst;
  Operand pred;
  int sourceCount = 0;
  Operand src[kMaxSources];
  std::uint32_t dclToken = 0;
  int literalCount = 0;
  std::uint32_t literal[4] = {};
  std::size_t size = 1;  // DWORDs including the instruction token

  std::uint16_t Op() const { return info->op; }
};

enum class ItemKind { kInstruction, kComment, kEnd, kIncomplete, kError };

struct Item {
  ItemKind kind = ItemKind::kError;
  Instruction instr;             // kInstruction
  std::size_t commentWords = 0;  // kComment: data DWORDs
  std::size_t next = 0;          // position after the item
  std::size_t errorIndex = 0;    // kError
  std::string error;             // kError
};

// Reads the item at `pos` (pos >= 1, after the version token). Never reads at or
// past `count`: an item that would run past it is kIncomplete. Framing faults
// (a parameter token where an instruction belongs, an unknown opcode, a length
// field that disagrees with the operands, a parameter token without bit 31)
// are kError with the index of the offending token.
Item ReadItem(const std::uint32_t* words, std::size_t count, std::size_t pos, const Version& v);

}  // namespace platform::shader
