#include "d3d9/shader_tokens.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace platform::shader {
namespace {

// Profile sets, one bit per Profile.
constexpr std::uint16_t kVsAll = 0x003F, kVs20Up = 0x003E, kVs2xUp = 0x003C, kVs3 = 0x0030;
constexpr std::uint16_t kPs1x = 0x03C0, kPsAll = 0x7FC0, kPs20Up = 0x7C00, kPs2xUp = 0x7800, kPs3 = 0x6000;
constexpr std::uint16_t kPs11To13 = 0x01C0, kPs12To13 = 0x0180, kPs13Only = 0x0100, kPs14Only = 0x0200;
constexpr std::uint16_t kAll = kVsAll | kPsAll;

// Slot costs the format leaves open, kept as named choices.
constexpr std::uint8_t kTexLddSlots = 3;
constexpr std::uint8_t kTexLdlSlots = 2;
constexpr std::uint8_t kTexBemLSlots = 2;  // printed as "1+1"

// Sorted by opcode.
constexpr OpInfo kOps[] = {
    {kNop, "nop", kAll, kOther, kPlain, false, 0, 1},
    {kMov, "mov", kAll, kArith, kPlain, true, 1, 1},
    {kAdd, "add", kAll, kArith, kPlain, true, 2, 1},
    {kSub, "sub", kAll, kArith, kPlain, true, 2, 1},
    {kMad, "mad", kAll, kArith, kPlain, true, 3, 1},
    {kMul, "mul", kAll, kArith, kPlain, true, 2, 1},
    {kRcp, "rcp", kVsAll | kPs20Up, kArith, kPlain, true, 1, 1},
    {kRsq, "rsq", kVsAll | kPs20Up, kArith, kPlain, true, 1, 1},
    {kDp3, "dp3", kAll, kArith, kPlain, true, 2, 1},
    {kDp4, "dp4", kVsAll | kPs12To13 | kPs14Only | kPs20Up, kArith, kPlain, true, 2, 1},
    {kMin, "min", kVsAll | kPs20Up, kArith, kPlain, true, 2, 1},
    {kMax, "max", kVsAll | kPs20Up, kArith, kPlain, true, 2, 1},
    {kSlt, "slt", kVsAll, kArith, kPlain, true, 2, 1},
    {kSge, "sge", kVsAll, kArith, kPlain, true, 2, 1},
    {kExp, "exp", kVsAll | kPs20Up, kArith, kPlain, true, 1, 1},
    {kLog, "log", kVsAll | kPs20Up, kArith, kPlain, true, 1, 1},
    {kLit, "lit", kVsAll, kArith, kPlain, true, 1, 3},
    {kDst, "dst", kVsAll, kArith, kPlain, true, 2, 1},
    {kLrp, "lrp", kVs20Up | kPsAll, kArith, kPlain, true, 3, 2},
    {kFrc, "frc", kVsAll | kPs20Up, kArith, kPlain, true, 1, 1},
    {kM4x4, "m4x4", kVsAll | kPs20Up, kArith, kPlain, true, 2, 4},
    {kM4x3, "m4x3", kVsAll | kPs20Up, kArith, kPlain, true, 2, 3},
    {kM3x4, "m3x4", kVsAll | kPs20Up, kArith, kPlain, true, 2, 4},
    {kM3x3, "m3x3", kVsAll | kPs20Up, kArith, kPlain, true, 2, 3},
    {kM3x2, "m3x2", kVsAll | kPs20Up, kArith, kPlain, true, 2, 2},
    {kCall, "call", kVs20Up | kPs2xUp, kFlow, kPlain, false, 1, 2},
    {kCallNz, "callnz", kVs20Up | kPs2xUp, kFlow, kPlain, false, 2, 3},
    {kLoopOp, "loop", kVs20Up | kPs3, kFlow, kPlain, false, 2, 3},
    {kRet, "ret", kVs20Up | kPs2xUp, kFlow, kPlain, false, 0, 1},
    {kEndLoop, "endloop", kVs20Up | kPs3, kFlow, kPlain, false, 0, 2},
    {kLabelOp, "label", kVs20Up | kPs2xUp, kFlow, kPlain, false, 1, 0},
    {kDcl, "dcl", kVsAll | kPs20Up, kSetup, kDclShape, true, 0, 0},
    {kPow, "pow", kVs20Up | kPs20Up, kArith, kPlain, true, 2, 3},
    {kCrs, "crs", kVs20Up | kPs20Up, kArith, kPlain, true, 2, 2},
    {kSgn, "sgn", kVs20Up, kArith, kPlain, true, 3, 3},
    {kAbs, "abs", kVs20Up | kPs20Up, kArith, kPlain, true, 1, 1},
    {kNrm, "nrm", kVs20Up | kPs20Up, kArith, kPlain, true, 1, 3},
    {kSinCos, "sincos", kVs20Up | kPs20Up, kArith, kPlain, true, 3, 8},
    {kRep, "rep", kVs20Up | kPs2xUp, kFlow, kPlain, false, 1, 3},
    {kEndRep, "endrep", kVs20Up | kPs2xUp, kFlow, kPlain, false, 0, 2},
    {kIf, "if", kVs20Up | kPs2xUp, kFlow, kPlain, false, 1, 3},
    {kIfC, "if", kVs2xUp | kPs2xUp, kFlow, kPlain, false, 2, 3},
    {kElse, "else", kVs20Up | kPs2xUp, kFlow, kPlain, false, 0, 1},
    {kEndIf, "endif", kVs20Up | kPs2xUp, kFlow, kPlain, false, 0, 1},
    {kBreak, "break", kVs2xUp | kPs2xUp, kFlow, kPlain, false, 0, 1},
    {kBreakC, "break", kVs2xUp | kPs2xUp, kFlow, kPlain, false, 2, 3},
    {kMova, "mova", kVs20Up, kArith, kPlain, true, 1, 1},
    {kDefB, "defb", kVs20Up | kPs2xUp, kSetup, kDefShape, true, 1, 0},
    {kDefI, "defi", kVs20Up | kPs2xUp, kSetup, kDefShape, true, 4, 0},
    {kTexCoord, "texcoord", kPs1x, kTexture, kPlain, true, 0, 1},
    {kTexKill, "texkill", kPsAll, kTexture, kPlain, true, 0, 1},
    {kTex, "texld", kPsAll, kTexture, kPlain, true, 2, 1},
    {kTexBem, "texbem", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexBemL, "texbeml", kPs11To13, kTexture, kPlain, true, 1, kTexBemLSlots},
    {kTexReg2Ar, "texreg2ar", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexReg2Gb, "texreg2gb", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x2Pad, "texm3x2pad", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x2Tex, "texm3x2tex", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x3Pad, "texm3x3pad", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x3Tex, "texm3x3tex", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x3Spec, "texm3x3spec", kPs11To13, kTexture, kPlain, true, 2, 1},
    {kTexM3x3VSpec, "texm3x3vspec", kPs11To13, kTexture, kPlain, true, 1, 1},
    {kExpP, "expp", kVsAll, kArith, kPlain, true, 1, 1},
    {kLogP, "logp", kVsAll, kArith, kPlain, true, 1, 1},
    {kCnd, "cnd", kPs1x, kArith, kPlain, true, 3, 1},
    {kDef, "def", kAll, kSetup, kDefShape, true, 4, 0},
    {kTexReg2Rgb, "texreg2rgb", kPs12To13, kTexture, kPlain, true, 1, 1},
    {kTexDp3Tex, "texdp3tex", kPs12To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x2Depth, "texm3x2depth", kPs13Only, kTexture, kPlain, true, 1, 1},
    {kTexDp3, "texdp3", kPs12To13, kTexture, kPlain, true, 1, 1},
    {kTexM3x3, "texm3x3", kPs12To13, kTexture, kPlain, true, 1, 1},
    {kTexDepth, "texdepth", kPs14Only, kTexture, kPlain, true, 0, 1},
    {kCmp, "cmp", kPs12To13 | kPs14Only | kPs20Up, kArith, kPlain, true, 3, 1},
    {kBem, "bem", kPs14Only, kArith, kPlain, true, 2, 2},
    {kDp2Add, "dp2add", kPs20Up, kArith, kPlain, true, 3, 2},
    {kDsx, "dsx", kPs2xUp, kArith, kPlain, true, 1, 2},
    {kDsy, "dsy", kPs2xUp, kArith, kPlain, true, 1, 2},
    {kTexLdd, "texldd", kPs2xUp, kTexture, kPlain, true, 4, kTexLddSlots},
    {kSetP, "setp", kVs2xUp | kPs2xUp, kArith, kPlain, true, 2, 1},
    {kTexLdl, "texldl", kVs3 | kPs3, kTexture, kPlain, true, 2, kTexLdlSlots},
    {kBreakP, "breakp", kVs2xUp | kPs2xUp, kFlow, kPlain, false, 1, 3},
    {kPhase, "phase", kPs14Only, kOther, kPlain, false, 0, 0},
};

struct VersionRow {
  std::uint32_t token;
  Profile profile;
  const char* name;
};

constexpr VersionRow kVersions[] = {
    {0xFFFE0101, kVs11, "vs_1_1"}, {0xFFFE0200, kVs20, "vs_2_0"}, {0xFFFE0201, kVs2x, "vs_2_x"},
    {0xFFFE02FF, kVs2sw, "vs_2_sw"}, {0xFFFE0300, kVs30, "vs_3_0"}, {0xFFFE03FF, kVs3sw, "vs_3_sw"},
    {0xFFFF0101, kPs11, "ps_1_1"}, {0xFFFF0102, kPs12, "ps_1_2"}, {0xFFFF0103, kPs13, "ps_1_3"},
    {0xFFFF0104, kPs14, "ps_1_4"}, {0xFFFF0200, kPs20, "ps_2_0"}, {0xFFFF0201, kPs2x, "ps_2_x"},
    {0xFFFF02FF, kPs2sw, "ps_2_sw"}, {0xFFFF0300, kPs30, "ps_3_0"}, {0xFFFF03FF, kPs3sw, "ps_3_sw"},
};

std::string Format(const char* fmt, unsigned long long a) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

}  // namespace

const char* Version::Name() const { return kVersions[profile].name; }

bool ParseVersion(std::uint32_t token, Version* out) {
  for (const VersionRow& row : kVersions) {
    if (row.token != token) continue;
    out->token = token;
    out->profile = row.profile;
    out->pixel = (token >> 16) == 0xFFFF;
    out->major = static_cast<int>((token >> 8) & 0xFF);
    out->minor = static_cast<int>(token & 0xFF);
    return true;
  }
  return false;
}

std::string RegisterText(int type, std::uint32_t number, const Version& v) {
  // Appended rather than prefix + string: g++ 12 at -O3 warns (-Wrestrict) about
  // the insert that operator+(const char*, std::string&&) inlines.
  auto numbered = [number](const char* prefix) { return std::string(prefix).append(std::to_string(number)); };
  switch (type) {
    case kTemp: return numbered("r");
    case kInput: return numbered("v");
    case kConst: case kConst2: case kConst3: case kConst4:
      return std::string("c").append(std::to_string(ConstIndex(type, number)));
    case kAddr: return numbered(v.pixel ? "t" : "a");
    case kRastOut: return number == 0 ? "oPos" : number == 1 ? "oFog" : number == 2 ? "oPts" : "";
    case kAttrOut: return numbered("oD");
    case kTexCrdOut: return numbered(v.pixel || v.major < 3 ? "oT" : "o");
    case kConstInt: return numbered("i");
    case kColorOut: return numbered("oC");
    case kDepthOut: return number == 0 ? "oDepth" : "";
    case kSampler: return numbered("s");
    case kConstBool: return numbered("b");
    case kLoop: return number == 0 ? "aL" : "";
    case kMiscType: return number == 0 ? "vPos" : number == 1 ? "vFace" : "";
    case kLabel: return numbered("l");
    case kPredicate: return numbered("p");
    default: return "";
  }
}

const OpInfo* FindOp(std::uint32_t opcode) {
  auto it = std::lower_bound(std::begin(kOps), std::end(kOps), opcode,
                             [](const OpInfo& info, std::uint32_t op) { return info.op < op; });
  return it != std::end(kOps) && it->op == opcode ? it : nullptr;
}

Operands OperandsOf(const OpInfo& info, const Version& v) {
  switch (info.op) {
    case kTex:
      if (v.Ps1x()) return {true, v.minor == 4 ? 1 : 0};
      break;
    case kTexCoord:
      return {true, v.pixel && v.major == 1 && v.minor == 4 ? 1 : 0};
    case kSinCos:
      if (v.Is3()) return {true, 1};
      break;
    default:
      break;
  }
  return {info.dst, info.shape == kPlain ? info.sources : 0};
}

int SlotCost(const OpInfo& info, const Version& v) {
  const bool vs11 = v.profile == kVs11;
  switch (info.op) {
    case kNop: return v.Ps1x() ? 0 : 1;
    case kExp: case kLog: return vs11 ? 10 : 1;
    case kFrc: return vs11 ? 3 : 1;
    case kLit: return vs11 ? 1 : 3;
    case kLrp: return v.Ps1x() ? 1 : 2;
    case kDp4: return v.profile == kPs12 || v.profile == kPs13 ? 2 : 1;
    default: return info.slots;
  }
}

Item ReadItem(const std::uint32_t* words, std::size_t count, std::size_t pos, const Version& v) {
  Item item;
  auto fail = [&](std::size_t index, std::string text) {
    item.kind = ItemKind::kError;
    item.errorIndex = index;
    item.error = std::move(text);
    return item;
  };
  if (pos >= count) {
    item.kind = ItemKind::kIncomplete;
    return item;
  }
  const std::uint32_t t = words[pos];
  if (t == kEndToken) {
    item.kind = ItemKind::kEnd;
    item.next = pos + 1;
    return item;
  }
  if (t & 0x80000000u) return fail(pos, "parameter token where an instruction was expected");
  if ((t & 0xFFFF) == kComment) {
    const std::size_t n = (t >> 16) & 0x7FFF;
    if (n > count - pos - 1) {
      item.kind = ItemKind::kIncomplete;
      return item;
    }
    item.kind = ItemKind::kComment;
    item.commentWords = n;
    item.next = pos + 1 + n;
    return item;
  }
  const OpInfo* info = FindOp(t & 0xFFFF);
  if (!info) return fail(pos, Format("unknown opcode %llu", t & 0xFFFF));
  Instruction& in = item.instr;
  in.index = pos;
  in.token = t;
  in.info = info;
  in.control = (t >> 16) & 0xFF;
  in.coissue = (t & 0x40000000u) != 0;
  // Declarations and definitions have no place for a predicate token.
  in.predicated = v.AtLeast2() && (t & 0x10000000u) != 0 && info->shape == kPlain;
  const Operands ops = OperandsOf(*info, v);

  std::size_t length;  // DWORDs after the instruction token
  if (v.AtLeast2()) {
    length = (t >> 24) & 0xF;
  } else if (info->shape == kDclShape) {
    length = 2;
  } else if (info->shape == kDefShape) {
    length = 1 + static_cast<std::size_t>(info->sources);
  } else {
    length = (ops.dst ? 1 : 0) + static_cast<std::size_t>(ops.sources);
  }
  if (length > count - pos - 1) {
    item.kind = ItemKind::kIncomplete;
    return item;
  }
  const std::size_t end = pos + 1 + length;
  std::size_t cursor = pos + 1;
  bool shortBody = false;
  std::size_t badBit = 0;
  // Takes one parameter token; relative-address tokens exist from 2_0 on (vs_1_1
  // marks relative addressing with bit 13 alone).
  auto param = [&](Operand* op, bool mayBeRelative) {
    if (shortBody || badBit) return;
    if (cursor >= end) {
      shortBody = true;
      return;
    }
    op->index = cursor;
    op->token = words[cursor++];
    if (!(op->token & 0x80000000u)) {
      badBit = op->index;
      return;
    }
    if (mayBeRelative && v.AtLeast2() && IsRelative(op->token)) {
      if (cursor >= end) {
        shortBody = true;
        return;
      }
      op->hasRelToken = true;
      op->relToken = words[cursor++];
      if (!(op->relToken & 0x80000000u)) badBit = cursor - 1;
    }
  };
  if (info->shape == kDclShape) {
    Operand dcl;
    param(&dcl, false);
    in.dclToken = dcl.token;
    in.hasDst = true;
    param(&in.dst, false);
  } else if (info->shape == kDefShape) {
    in.hasDst = true;
    param(&in.dst, false);
    in.literalCount = info->sources;
    for (int i = 0; i < in.literalCount && !shortBody && !badBit; ++i) {
      if (cursor >= end) {
        shortBody = true;
        break;
      }
      in.literal[i] = words[cursor++];
    }
  } else {
    in.hasDst = ops.dst;
    if (ops.dst) param(&in.dst, true);
    if (in.predicated) param(&in.pred, false);
    in.sourceCount = ops.sources;
    for (int i = 0; i < ops.sources; ++i) param(&in.src[i], true);
  }
  if (badBit) return fail(badBit, "parameter token without bit 31");
  if (shortBody || cursor != end) {
    return fail(pos, Format("instruction length %llu does not match its operands", length));
  }
  in.size = 1 + length;
  item.kind = ItemKind::kInstruction;
  item.next = end;
  return item;
}

}  // namespace platform::shader
