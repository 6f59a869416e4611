// The validator's per-operand rules: register files and their sizes per
// version, relative addressing, declarations and definitions, masks,
// swizzles, modifiers, predicates and per-instruction operand constraints.
#include <map>

#include "d3d9/shader_validator.h"
#include "kernel/format.h"

namespace platform::shader {
namespace {

constexpr int kNo = -1;

// Registers per version (columns in Profile order); kNo: absent. Constant
// banks 11-13 use the c# row with their combined index.
constexpr int kRegCounts[20][kProfileCount] = {
    /* r#     */ {12, 12, 32, 32, 32, 32, 2, 2, 2, 6, 12, 32, 32, 32, 32},
    /* v#     */ {16, 16, 16, 16, 16, 16, 2, 2, 2, 2, 2, 2, 2, 10, 14},
    /* c#     */ {8192, 8192, 8192, 8192, 8192, 8192, 8, 8, 8, 8, 32, 32, 8192, 224, 8192},
    /* a0, t# */ {1, 1, 1, 1, 1, 1, 4, 4, 4, 6, 8, 8, 8, kNo, kNo},
    /* oPos.. */ {3, 3, 3, 3, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* oD#    */ {2, 2, 2, 2, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* oT#,o# */ {8, 8, 8, 8, 12, 16, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* i#     */ {kNo, 16, 16, 2048, 16, 2048, kNo, kNo, kNo, kNo, kNo, 16, 2048, 16, 2048},
    /* oC#    */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, 4, 4, 4, 4, 4},
    /* oDepth */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, 1, 1, 1, 1, 1},
    /* s#     */ {kNo, kNo, kNo, kNo, 4, 16, kNo, kNo, kNo, kNo, 16, 16, 16, 16, 16},
    /* c bank */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* c bank */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* c bank */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* b#     */ {kNo, 16, 16, 2048, 16, 2048, kNo, kNo, kNo, kNo, kNo, 16, 2048, 16, 2048},
    /* aL     */ {kNo, 1, 1, 1, 1, 1, kNo, kNo, kNo, kNo, kNo, kNo, kNo, 1, 1},
    /* half   */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
    /* vPos.. */ {kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo, 2, 2},
    /* l#     */ {kNo, 2048, 2048, 2048, 2048, 2048, kNo, kNo, kNo, kNo, kNo, 2048, 2048, 2048, 2048},
    /* p0     */ {kNo, kNo, 1, 1, 1, 1, kNo, kNo, kNo, kNo, kNo, 1, 1, 1, 1},
};

int RegCount(int type, Profile p) {
  if (type < 0 || type >= 20) return kNo;
  return kRegCounts[IsConstBank(type) ? kConst : type][p];
}

std::uint32_t RegIndex(std::uint32_t tok) {
  const int type = RegisterType(tok);
  return IsConstBank(type) ? ConstIndex(type, RegisterNumber(tok)) : RegisterNumber(tok);
}

bool SameRegister(std::uint32_t a, std::uint32_t b) {
  return RegisterType(a) == RegisterType(b) && RegisterNumber(a) == RegisterNumber(b);
}

// Scalar outputs take no write mask.
bool IsScalarDestination(std::uint32_t tok) {
  const int type = RegisterType(tok);
  return type == kDepthOut || (type == kRastOut && RegisterNumber(tok) != 0);
}

enum class Role { kFloat, kConst, kLabel, kBoolOrPred, kPred, kLoopReg, kInt, kSampler };

Role SourceRole(const Instruction& in, int i, const Version& v) {
  switch (in.Op()) {
    case kCall: case kLabelOp: return Role::kLabel;
    case kCallNz: return i == 0 ? Role::kLabel : Role::kBoolOrPred;
    case kLoopOp: return i == 0 ? Role::kLoopReg : Role::kInt;
    case kRep: return Role::kInt;
    case kIf: return Role::kBoolOrPred;
    case kBreakP: return Role::kPred;
    case kTex: return v.AtLeast2() && i == 1 ? Role::kSampler : Role::kFloat;
    case kTexLdl: case kTexLdd: return i == 1 ? Role::kSampler : Role::kFloat;
    case kTexM3x3Spec: return i == 1 ? Role::kConst : Role::kFloat;
    case kSinCos: return i > 0 ? Role::kConst : Role::kFloat;
    default: return Role::kFloat;
  }
}

const char* RoleText(Role r) {
  switch (r) {
    case Role::kLabel: return "a label";
    case Role::kBoolOrPred: return "b# or p0";
    case Role::kPred: return "p0";
    case Role::kLoopReg: return "aL";
    case Role::kInt: return "i#";
    case Role::kSampler: return "a sampler";
    case Role::kConst: return "c#";
    default: return "a readable register";
  }
}

bool FloatModifierAllowed(const Instruction& in, int mod, const Version& v) {
  switch (mod) {
    case kModNone: case kModNeg: return true;
    case kModBias: case kModBiasNeg: case kModSign: case kModSignNeg: case kModComp: return v.Ps1x();
    case kModX2: case kModX2Neg: return v.profile == kPs14;
    case kModDz: case kModDw: return v.profile == kPs14 && (in.Op() == kTex || in.Op() == kTexCoord);
    case kModAbs: case kModAbsNeg: return v.Is3();
    default: return false;
  }
}

bool SwizzleAllowed(const Instruction& in, std::uint32_t sw, const Version& v) {
  if (sw == kIdentitySwizzle) return true;
  if (v.Ps1x()) {
    if (v.minor < 4) return sw == 0xFF || (sw == 0xAA && in.hasDst && WriteMask(in.dst.token) == 0x8);
    const bool coords = in.Op() == kTex || in.Op() == kTexCoord;
    return IsReplicate(sw) || (coords && (sw == 0xA4 || sw == 0xF4));  // .xyz, .xyw
  }
  if (v.profile == kPs20) return IsReplicate(sw) || sw == 0xC9 || sw == 0xD2 || sw == 0x1B;
  return true;
}

int MatrixRows(std::uint16_t op) {
  return op == kM4x4 || op == kM3x4 ? 4 : op == kM3x2 ? 2 : 3;
}

}  // namespace

bool StreamChecker::Declared(int type, std::uint32_t number) const {
  return m_declared.count((static_cast<std::uint32_t>(type) << 16) | number) != 0;
}

bool StreamChecker::CheckRegister(const Operand& op) {
  const int type = RegisterType(op.token);
  const int count = RegCount(type, m_v.profile);
  const std::string name = RegisterText(type, RegisterNumber(op.token), m_v);
  if (count < 0 || name.empty()) {
    Report(op.index, kMsgRegister,
           name.empty() ? Printf("register type %d does not exist", type)
                        : Printf("%s does not exist in %s", name.c_str(), m_v.Name()));
    return false;
  }
  if (RegIndex(op.token) >= static_cast<std::uint32_t>(count)) {
    Report(op.index, kMsgRegisterIndex, Printf("%s is out of range in %s", name.c_str(), m_v.Name()));
    return false;
  }
  if (op.token & 0xC000) Report(op.index, kMsgReservedBits, "reserved parameter bits 14-15 are set");
  return true;
}

void StreamChecker::CheckRelative(const Operand& op, bool dst) {
  if (!IsRelative(op.token)) return;
  const int type = RegisterType(op.token);
  const std::string name = RegisterText(type, RegisterNumber(op.token), m_v);
  bool allowed;
  if (dst)
    allowed = !m_v.pixel && m_v.Is3() && type == kTexCrdOut;
  else if (m_v.pixel)  // through aL only (below): inputs, and constants read in a loop
    allowed = m_v.Is3() && (type == kInput || IsConstBank(type));
  else
    allowed = IsConstBank(type) || (m_v.Is3() && type == kInput);
  if (!allowed) {
    Report(op.index, kMsgRelative, Printf("%s cannot be addressed relatively in %s", name.c_str(), m_v.Name()));
    return;
  }
  if (!m_v.AtLeast2()) return;  // vs_1_1: bit 13 alone means a0.x
  const std::uint32_t rel = op.relToken;
  const int relType = RegisterType(rel);
  const bool loopOnly = m_v.pixel || dst;
  if (relType == kLoop) {
    if (!InLoop()) Report(op.index + 1, kMsgRelative, "aL is used outside a loop");
  } else if (relType != kAddr || loopOnly) {
    Report(op.index + 1, kMsgRelative,
           Printf("%s is indexed by %s only", name.c_str(), loopOnly ? "aL" : "a0 or aL"));
    return;
  }
  if (RegisterNumber(rel) != 0 || (rel & 0x0F00E000u))
    Report(op.index + 1, kMsgRelative, Printf("malformed relative-address token 0x%08X", rel));
}

void StreamChecker::CheckDeclaration(const Instruction& in) {
  const Operand& d = in.dst;
  const std::uint32_t tok = d.token, dcl = in.dclToken;
  const int type = RegisterType(tok);
  bool ok;
  if (type == kSampler)
    ok = m_v.pixel ? m_v.AtLeast2() : m_v.Is3();
  else if (!m_v.pixel)
    ok = type == kInput || (m_v.Is3() && type == kTexCrdOut);
  else if (!m_v.Is3())
    ok = type == kInput || type == kAddr;
  else
    ok = type == kInput || type == kMiscType;
  if (!ok) {
    Report(d.index, kMsgDeclaration, Printf("register type %d cannot be declared in %s", type, m_v.Name()));
    return;
  }
  if (!CheckRegister(d)) return;
  const std::string name = RegisterText(type, RegisterNumber(tok), m_v);
  if (IsRelative(tok)) Report(d.index, kMsgRelative, "a declaration cannot be relative");
  const int mods = ResultModifiers(tok);
  const int allowedMods =
      m_v.pixel && m_v.AtLeast2() && type != kSampler && type != kMiscType ? (kResultPp | kResultCentroid) : 0;
  if ((mods & ~allowedMods) || ShiftScale(tok))
    Report(d.index, kMsgResultModifier, Printf("modifiers not allowed on the declaration of %s", name.c_str()));

  bool tokOk;
  if (type == kSampler) {
    const std::uint32_t textureType = (dcl >> 27) & 0xF;
    tokOk = (dcl & 0x07FFFFFFu) == 0 && textureType >= 2 && textureType <= 4;
  } else if (!m_v.pixel || (m_v.Is3() && type == kInput)) {
    tokOk = (dcl & 0x7FF0FFE0u) == 0 && (dcl & 0x1F) <= 13;  // usage and usage index
  } else {
    tokOk = dcl == 0x80000000u;
  }
  if (!tokOk) Report(d.index - 1, kMsgDeclaration, Printf("malformed declaration token 0x%08X", dcl));

  const std::uint32_t mask = WriteMask(tok);
  const bool full = type == kSampler || (type == kMiscType && RegisterNumber(tok) == 1);
  if (!mask)
    Report(d.index, kMsgWriteMask, "empty write mask");
  else if (full && mask != 0xF)
    Report(d.index, kMsgWriteMask, Printf("%s is declared with the full mask", name.c_str()));
  else if (type == kMiscType && RegisterNumber(tok) == 0 && (mask & 0xC))
    Report(d.index, kMsgWriteMask, "vPos is declared with .x, .y or .xy");
  if (!m_declared.insert((static_cast<std::uint32_t>(type) << 16) | RegisterNumber(tok)).second)
    Report(d.index, kMsgDeclaration, Printf("%s is declared twice", name.c_str()));
}

void StreamChecker::CheckDefinition(const Instruction& in) {
  const Operand& d = in.dst;
  const int type = RegisterType(d.token);
  const bool ok = in.Op() == kDef ? IsConstBank(type) : in.Op() == kDefI ? type == kConstInt : type == kConstBool;
  if (!ok) {
    Report(d.index, kMsgRegister, Printf("register type %d cannot be defined by %s", type, in.info->name));
    return;
  }
  if (!CheckRegister(d)) return;
  if (IsRelative(d.token)) Report(d.index, kMsgRelative, "a definition cannot be relative");
  if (ResultModifiers(d.token) || ShiftScale(d.token))
    Report(d.index, kMsgResultModifier, "a definition takes no modifiers");
  if (WriteMask(d.token) != 0xF) Report(d.index, kMsgWriteMask, "a definition writes all four components");
}

void StreamChecker::CheckDestination(const Instruction& in) {
  const Operand& d = in.dst;
  const std::uint32_t tok = d.token;
  const int type = RegisterType(tok);
  const std::uint16_t op = in.Op();
  const bool ps14 = m_v.profile == kPs14;
  bool ok;
  if (op == kSetP) {
    ok = type == kPredicate;
  } else if (op == kMova) {
    ok = type == kAddr;
  } else if (op == kTexKill) {
    if (m_v.Ps1x() && !ps14)
      ok = type == kAddr;
    else
      ok = type == kTemp || (type == kAddr && !m_v.Is3()) || (type == kInput && m_v.Is3());
  } else if (in.info->cls == kTexture) {
    ok = m_v.Ps1x() && !ps14 ? type == kAddr : type == kTemp;
  } else if (op == kSinCos || op == kNrm || op == kCrs || op == kPow) {
    ok = type == kTemp;
  } else if (!m_v.pixel) {
    ok = type == kTemp || type == kRastOut || type == kAttrOut || type == kTexCrdOut ||
         (type == kAddr && op == kMov && m_v.profile == kVs11);
  } else if (m_v.Ps1x()) {
    ok = type == kTemp || (type == kAddr && !ps14);
  } else {
    ok = type == kTemp || type == kColorOut || type == kDepthOut;
  }
  if (!ok) {
    Report(d.index, kMsgRegister,
           Printf("register type %d cannot be the destination of %s in %s", type, in.info->name, m_v.Name()));
    return;
  }
  if (!CheckRegister(d)) return;
  CheckRelative(d, true);
  const std::string name = RegisterText(type, RegisterNumber(tok), m_v);
  const bool needsDcl = (op == kTexKill && m_v.pixel && m_v.AtLeast2() && type != kTemp) ||
                        (!m_v.pixel && m_v.Is3() && type == kTexCrdOut);
  if (needsDcl && !Declared(type, RegisterNumber(tok)))
    Report(d.index, kMsgUndeclared, Printf("%s is used before its declaration", name.c_str()));

  const int mods = ResultModifiers(tok);
  const int shift = ShiftScale(tok);
  if (mods & 0x8) Report(d.index, kMsgResultModifier, "unknown result modifier");
  if ((mods & kResultSat) && (!(m_v.pixel || m_v.Is3()) || op == kSetP || op == kMova || op == kTexKill))
    Report(d.index, kMsgResultModifier, Printf("_sat is not allowed on %s in %s", in.info->name, m_v.Name()));
  if ((mods & kResultPp) && !(m_v.pixel && m_v.AtLeast2()))
    Report(d.index, kMsgResultModifier, Printf("_pp is not allowed in %s", m_v.Name()));
  if ((mods & kResultCentroid) && !(m_v.pixel && m_v.AtLeast2() && in.info->cls == kTexture))
    Report(d.index, kMsgResultModifier, "_centroid is allowed only on declarations and texture loads");
  if (shift) {
    const bool ok14 = shift <= 3 || shift >= 0xD;
    const bool ok11 = shift == 1 || shift == 2 || shift == 0xF;
    if (!m_v.Ps1x() || in.info->cls != kArith || !(ps14 ? ok14 : ok11))
      Report(d.index, kMsgResultModifier, Printf("result shift %d is not allowed here in %s", shift, m_v.Name()));
  }

  const std::uint32_t mask = WriteMask(tok);
  if (!mask)
    Report(d.index, kMsgWriteMask, "empty write mask");
  else if (IsScalarDestination(tok) && mask != 0xF)
    Report(d.index, kMsgWriteMask, Printf("scalar register %s cannot be masked", name.c_str()));
  else if (type == kAddr && m_v.profile == kVs11 && mask != 0x1)
    Report(d.index, kMsgWriteMask, "a0 is written only through .x in vs_1_1");
  else if (type == kTexCrdOut && !m_v.Is3() && mask != 0x1 && mask != 0x3 && mask != 0x7 && mask != 0xF)
    Report(d.index, kMsgWriteMask, Printf("%s takes only .x, .xy, .xyz or .xyzw", name.c_str()));
}

void StreamChecker::CheckSource(const Instruction& in, int i) {
  const Operand& op = in.src[i];
  const std::uint32_t tok = op.token;
  const int type = RegisterType(tok);
  const std::uint32_t number = RegisterNumber(tok);
  const Role role = SourceRole(in, i, m_v);
  const std::uint16_t opc = in.Op();
  bool ok;
  switch (role) {
    case Role::kLabel: ok = type == kLabel; break;
    case Role::kBoolOrPred: ok = type == kConstBool || (type == kPredicate && m_v.Extended()); break;
    case Role::kPred: ok = type == kPredicate; break;
    case Role::kLoopReg: ok = type == kLoop; break;
    case Role::kInt: ok = type == kConstInt; break;
    case Role::kSampler: ok = type == kSampler; break;
    case Role::kConst: ok = IsConstBank(type); break;
    default:
      switch (type) {
        case kTemp: case kInput: case kConst: case kConst2: case kConst3: case kConst4: ok = true; break;
        case kAddr: ok = m_v.pixel && !m_v.Is3(); break;  // t#; a0 is never read as a value
        case kLoop: ok = m_v.AtLeast2(); break;
        case kMiscType:
          // vFace only as a condition compared with 0: setp, if, break, or cmp's first source.
          ok = m_v.pixel && m_v.Is3() &&
               (number == 0 || opc == kSetP || opc == kIfC || opc == kBreakC || (opc == kCmp && i == 0));
          break;
        default: ok = false;
      }
  }
  if (!ok) {
    Report(op.index, kMsgRegister,
           Printf("source %d of %s must be %s (register type %d)", i, in.info->name, RoleText(role), type));
    return;
  }
  if (!CheckRegister(op)) return;
  CheckRelative(op, false);
  const std::string name = RegisterText(type, number, m_v);

  bool needsDcl = role == Role::kSampler;
  if (role == Role::kFloat && m_v.AtLeast2() && m_v.pixel)
    needsDcl = type == kInput || type == kMiscType || type == kAddr;
  else if (role == Role::kFloat && !m_v.pixel)
    needsDcl = type == kInput;
  if (needsDcl && !Declared(type, number))
    Report(op.index, kMsgUndeclared, Printf("%s is used before its declaration", name.c_str()));
  if (type == kLoop && role == Role::kFloat && !InLoop())
    Report(op.index, kMsgRegister, "aL is used outside a loop");

  const int mod = SourceModifier(tok);
  const bool boolish = role == Role::kBoolOrPred || role == Role::kPred;
  bool modOk;
  if (boolish)
    modOk = mod == kModNone || mod == kModNot;
  else if (role == Role::kFloat || role == Role::kConst)
    // ps_1_4 takes no range modifier on a constant.
    modOk = FloatModifierAllowed(in, mod, m_v) &&
            !(m_v.profile == kPs14 && IsConstBank(type) && mod != kModNone && mod != kModNeg);
  else
    modOk = mod == kModNone;
  if (!modOk)
    Report(op.index, kMsgSourceModifier,
           Printf("source modifier %d is not allowed on %s of %s in %s", mod, name.c_str(), in.info->name, m_v.Name()));

  const std::uint32_t sw = Swizzle(tok);
  if (IsScalarSource(tok)) {
    if (sw != kIdentitySwizzle && sw != 0)
      Report(op.index, kMsgSwizzle, Printf("scalar register %s cannot be swizzled", name.c_str()));
  } else if (boolish) {
    if (!IsReplicate(sw)) Report(op.index, kMsgSwizzle, "p0 as a condition takes a replicate swizzle");
  } else if (role == Role::kFloat && !SwizzleAllowed(in, sw, m_v)) {
    Report(op.index, kMsgSwizzle, Printf("swizzle 0x%02X is not allowed here in %s", sw, m_v.Name()));
  }
}

void StreamChecker::CheckPredicate(const Instruction& in) {
  const std::uint32_t tok = in.pred.token;
  const std::uint32_t sw = Swizzle(tok);
  const int mod = SourceModifier(tok);
  if (RegisterType(tok) != kPredicate || RegisterNumber(tok) != 0 || (tok & 0xE000))
    Report(in.pred.index, kMsgPredicate, "the predicate token must name p0");
  else if (mod != kModNone && mod != kModNot)
    Report(in.pred.index, kMsgPredicate, "the predicate takes only the not modifier");
  else if (sw != kIdentitySwizzle && !IsReplicate(sw))
    Report(in.pred.index, kMsgPredicate, "the predicate swizzle must be .xyzw or a replicate");
  else if (in.Op() == kSinCos && !m_v.Is3() && !IsReplicate(sw))
    Report(in.pred.index, kMsgPredicate, Printf("a predicated sincos takes a replicate swizzle in %s", m_v.Name()));
}

void StreamChecker::CheckOperandRules(const Instruction& in) {
  const std::uint16_t op = in.Op();
  const std::uint32_t dst = in.hasDst ? in.dst.token : 0;
  const std::uint32_t mask = WriteMask(dst);
  auto src = [&](int i) { return in.src[i].token; };
  auto replicate = [&](int i, bool identityToo) {
    const std::uint32_t sw = Swizzle(src(i));
    if (!IsScalarSource(src(i)) && !IsReplicate(sw) && !(identityToo && sw == kIdentitySwizzle))
      Report(in.src[i].index, kMsgSwizzle, Printf("source %d of %s needs a replicate swizzle", i, in.info->name));
  };
  auto noAlias = [&](int i) {
    if (SameRegister(dst, src(i)))
      Report(in.src[i].index, kMsgAlias, Printf("the destination of %s cannot be source %d", in.info->name, i));
  };
  auto maskWithin = [&](std::uint32_t allowed, const char* text) {
    if (mask & ~allowed) Report(in.dst.index, kMsgWriteMask, Printf("%s writes only %s", in.info->name, text));
  };
  switch (op) {
    case kRcp: case kRsq: case kExp: case kLog: case kExpP: case kLogP:
      // vs_2_0 and later code may leave the component unwritten (.xyzw, read as .w).
      replicate(0, true);
      break;
    case kPow:
      replicate(0, true);
      replicate(1, true);
      noAlias(1);
      break;
    case kSinCos:
      replicate(0, false);
      maskWithin(0x7, ".x and .y");
      if (!m_v.Is3() && SameRegister(src(1), src(2)))
        Report(in.src[2].index, kMsgRegister, "sincos takes two different constant registers");
      break;
    case kCrs:
      maskWithin(0x7, ".x, .y and .z");
      for (int i = 0; i < 2; ++i) {
        if (Swizzle(src(i)) != kIdentitySwizzle)
          Report(in.src[i].index, kMsgSwizzle, "the sources of crs cannot be swizzled");
        noAlias(i);
      }
      break;
    case kNrm:
      noAlias(0);
      break;
    case kSgn:
      if (RegisterType(src(1)) != kTemp || RegisterType(src(2)) != kTemp || SameRegister(src(1), src(2)))
        Report(in.src[1].index, kMsgRegister, "sgn takes two different temporary registers as sources 1 and 2");
      break;
    case kM4x4: case kM4x3: case kM3x4: case kM3x3: case kM3x2: {
      if (Swizzle(src(1)) != kIdentitySwizzle)
        Report(in.src[1].index, kMsgSwizzle, "the matrix operand cannot be swizzled");
      if (SourceModifier(src(1)) != kModNone)
        Report(in.src[1].index, kMsgSourceModifier, "the matrix operand takes no modifier");
      noAlias(0);
      const std::uint32_t first = RegisterNumber(src(1)), d = RegisterNumber(dst);
      if (RegisterType(dst) == RegisterType(src(1)) && d >= first && d < first + MatrixRows(op))
        Report(in.dst.index, kMsgAlias, "the destination cannot be a row of the matrix");
      break;
    }
    case kIfC: case kBreakC:
      replicate(0, false);
      replicate(1, false);
      break;
    case kIf: case kBreakP:
      break;  // p0's swizzle is checked with the source
    case kDp2Add:
      replicate(2, false);
      break;
    case kTex:
      if (!m_v.AtLeast2()) break;
      if (!m_v.Is3()) {
        if (mask != 0xF) Report(in.dst.index, kMsgWriteMask, Printf("texld writes .xyzw in %s", m_v.Name()));
        const int t0 = RegisterType(src(0));
        if (t0 != kTemp && t0 != kAddr)
          Report(in.src[0].index, kMsgRegister, "texture coordinates come from t# or r#");
        for (int i = 0; i < 2; ++i)
          if (Swizzle(src(i)) != kIdentitySwizzle || SourceModifier(src(i)) != kModNone)
            Report(in.src[i].index, kMsgSwizzle, Printf("texld sources take no swizzle or modifier in %s", m_v.Name()));
      }
      [[fallthrough]];
    case kTexLdl: case kTexLdd:
      if (SourceModifier(src(1)) != kModNone)
        Report(in.src[1].index, kMsgSourceModifier, "the sampler takes no modifier");
      break;
    case kBem:
      if (mask != 0x3) Report(in.dst.index, kMsgWriteMask, "bem writes .rg");
      break;
    case kFrc:
      if (m_v.profile == kVs11) maskWithin(0x3, ".x and .y in vs_1_1");
      break;
    case kCnd:
      // Before ps_1_4 the condition is r0's alpha, nothing else.
      if (m_v.minor < 4 && (RegisterType(src(0)) != kTemp || RegisterNumber(src(0)) != 0 ||
                            Swizzle(src(0)) != 0xFF || SourceModifier(src(0)) != kModNone))
        Report(in.src[0].index, kMsgRegister, Printf("the condition of cnd is r0.a in %s", m_v.Name()));
      break;
    case kCmp:
      if (m_v.profile == kPs12 || m_v.profile == kPs13)
        for (int i = 0; i < 3; ++i) noAlias(i);
      break;
    default:
      break;
  }
}

void StreamChecker::CheckReadPorts(const Instruction& in) {
  // Macros spread their reads over several slots.
  if (SlotCost(*in.info, m_v) != 1 || in.info->cls == kFlow) return;
  std::map<int, std::set<std::uint32_t>> distinct;
  int constReads = 0;
  for (int i = 0; i < in.sourceCount; ++i) {
    const Role role = SourceRole(in, i, m_v);
    if (role != Role::kFloat && role != Role::kConst) continue;
    const int type = RegisterType(in.src[i].token);
    const bool constant = IsConstBank(type);
    distinct[constant ? kConst : type].insert(RegIndex(in.src[i].token));
    constReads += constant ? 1 : 0;
  }
  auto limit = [&](int type, std::size_t most, const char* file) {
    if (distinct[type].size() > most)
      Report(in.index, kMsgReadPorts,
             Printf("%s reads %zu different %s registers; %s allows %zu", in.info->name, distinct[type].size(), file,
                    m_v.Name(), most));
  };
  if (!m_v.pixel) {
    limit(kConst, 1, "c#");
    limit(kInput, 1, "v#");
    limit(kTemp, 3, "r#");
  } else if (m_v.Ps1x()) {
    static constexpr std::size_t kTexPorts[4] = {2, 3, 3, 1};
    limit(kConst, 2, "c#");
    limit(kTemp, m_v.minor == 4 ? 3 : 2, "r#");
    limit(kAddr, kTexPorts[m_v.minor - 1], "t#");
    limit(kInput, 2, "v#");
  } else if (m_v.profile == kPs2x && constReads > 2) {
    Report(in.index, kMsgReadPorts, Printf("%s reads c# %d times; ps_2_x allows 2", in.info->name, constReads));
  }
}

}  // namespace platform::shader
