#include "tests/support/shader/decode.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace nura::shtok {
namespace ps = platform::shader;
namespace {

const char* const kCompare[8] = {nullptr, "gt", "eq", "ge", "lt", "ne", "le", nullptr};
const char* const kUsage[14] = {"position", "blendweight", "blendindices", "normal", "psize",
                                "texcoord", "tangent", "binormal", "tessfactor", "positiont",
                                "color", "fog", "depth", "sample"};
const char kLetters[] = "xyzw";

// Thrown inside this file only; Disassemble turns it into its error text.
struct DecodeError {
  std::size_t index;
  std::string text;
};

[[noreturn]] void Fail(std::size_t index, const std::string& text) { throw DecodeError{index, text}; }

std::string MaskText(std::uint32_t mask) {
  if (mask == 0xF) return "";
  std::string s = ".";
  for (int c = 0; c < 4; ++c)
    if (mask & (1u << c)) s += kLetters[c];
  return s;
}

// The shortest text for a swizzle: trailing repeats are implied.
std::string SwizzleText(std::uint32_t tok) {
  if (ps::Swizzle(tok) == ps::kIdentitySwizzle) return "";
  std::string s;
  for (int c = 0; c < 4; ++c) s += kLetters[ps::SwizzleComponent(tok, c)];
  while (s.size() > 1 && s[s.size() - 1] == s[s.size() - 2]) s.pop_back();
  return "." + s;
}

class Decoder {
 public:
  explicit Decoder(const Version& v) : m_v(v) {}

  std::string Register(const ps::Operand& op) const {
    const std::uint32_t tok = op.token;
    const int type = ps::RegisterType(tok);
    std::string name = RegisterName(tok, m_v);
    if (name.empty()) Fail(op.index, "unknown register type " + std::to_string(type));
    if (!ps::IsRelative(tok) || !RelativeForm(type)) return name;
    // c[a0.x + 2], v[aL], o[aL + 1]
    std::string base = name.substr(0, name.find_first_of("0123456789"));
    const std::uint32_t offset = ps::IsConstBank(type) ? ps::ConstIndex(type, ps::RegisterNumber(tok))
                                                        : ps::RegisterNumber(tok);
    std::string index;
    if (!m_v.AtLeast2()) {
      index = "a0.x";
    } else {
      const int relType = ps::RegisterType(op.relToken);
      if (relType == ps::kLoop)
        index = "aL";
      else if (relType == ps::kAddr && !m_v.pixel)
        index = std::string("a0.") + kLetters[ps::SwizzleComponent(op.relToken, 0)];
      else
        Fail(op.index + 1, "relative address register must be a0 or aL");
    }
    return base + "%[" + index + (offset ? " + " + std::to_string(offset) : "") + "]";
  }

  std::string Destination(const ps::Operand& op) const {
    std::string s = Register(op);
    Strip(&s, "");
    const std::uint32_t mask = ps::WriteMask(op.token);
    if (!mask) Fail(op.index, "empty write mask");
    return s + MaskText(mask);
  }

  std::string Source(const ps::Operand& op) const {
    const std::uint32_t tok = op.token;
    std::string reg = Register(op);
    const char* prefix = "";
    const char* suffix = "";
    switch (ps::SourceModifier(tok)) {
      case ps::kModNone: break;
      case ps::kModNeg: prefix = "-"; break;
      case ps::kModBias: suffix = "_bias"; break;
      case ps::kModBiasNeg: prefix = "-"; suffix = "_bias"; break;
      case ps::kModSign: suffix = "_bx2"; break;
      case ps::kModSignNeg: prefix = "-"; suffix = "_bx2"; break;
      case ps::kModComp: prefix = "1-"; break;
      case ps::kModX2: suffix = "_x2"; break;
      case ps::kModX2Neg: prefix = "-"; suffix = "_x2"; break;
      case ps::kModDz: suffix = "_dz"; break;
      case ps::kModDw: suffix = "_dw"; break;
      case ps::kModAbs: suffix = "_abs"; break;
      case ps::kModAbsNeg: prefix = "-"; suffix = "_abs"; break;
      case ps::kModNot: prefix = "!"; break;
      default: Fail(op.index, "unknown source modifier " + std::to_string(ps::SourceModifier(tok)));
    }
    Strip(&reg, suffix);
    return prefix + reg + (ps::IsScalarSource(tok) ? "" : SwizzleText(tok));
  }

  std::string Modifiers(const ps::Operand& dst) const {
    std::string s;
    switch (ps::ShiftScale(dst.token)) {
      case 0: break;
      case 1: s += "_x2"; break;
      case 2: s += "_x4"; break;
      case 3: s += "_x8"; break;
      case 0xF: s += "_d2"; break;
      case 0xE: s += "_d4"; break;
      case 0xD: s += "_d8"; break;
      default: Fail(dst.index, "invalid result shift " + std::to_string(ps::ShiftScale(dst.token)));
    }
    const int mods = ps::ResultModifiers(dst.token);
    if (mods & 0x8) Fail(dst.index, "unknown result modifier");
    if (mods & ps::kResultSat) s += "_sat";
    if (mods & ps::kResultPp) s += "_pp";
    if (mods & ps::kResultCentroid) s += "_centroid";
    return s;
  }

  std::string Line(const ps::Instruction& in) const {
    std::ostringstream out;
    if (m_v.AtLeast2() && (in.token & 0x10000000u) && !in.predicated)
      Fail(in.index, "a declaration cannot be predicated");
    if (in.coissue) out << '+';
    if (in.predicated) out << '(' << Source(in.pred) << ") ";
    const std::uint16_t op = in.Op();
    if (op == ps::kDcl) return out.str() + Declaration(in);
    out << Name(in);
    if (in.hasDst) out << Modifiers(in.dst);
    const char* sep = " ";
    if (in.hasDst) {
      out << sep << Destination(in.dst);
      sep = ", ";
    }
    for (int i = 0; i < in.literalCount; ++i, sep = ", ") out << sep << Literal(op, in.literal[i]);
    for (int i = 0; i < in.sourceCount; ++i, sep = ", ") out << sep << Source(in.src[i]);
    return out.str();
  }

 private:
  // Register types that print as base[index] when relative.
  static bool RelativeForm(int type) {
    return ps::IsConstBank(type) || type == ps::kInput || type == ps::kTexCrdOut;
  }

  // Puts the modifier suffix after the register name, before any "[index]".
  static void Strip(std::string* reg, const char* suffix) {
    const std::size_t mark = reg->find('%');
    if (mark == std::string::npos) {
      *reg += suffix;
    } else {
      reg->replace(mark, 1, suffix);
    }
  }

  std::string Name(const ps::Instruction& in) const {
    const std::uint16_t op = in.Op();
    auto compare = [&](const char* base) {
      const char* c = in.control < 8 ? kCompare[in.control] : nullptr;
      if (!c) Fail(in.index, "invalid comparison " + std::to_string(in.control));
      return std::string(base) + "_" + c;
    };
    switch (op) {
      case ps::kIfC: return compare("if");
      case ps::kBreakC: return compare("break");
      case ps::kSetP: return compare("setp");
      case ps::kTex:
        if (m_v.Ps1x()) return m_v.minor == 4 ? "texld" : "tex";
        if (in.control > 2) Fail(in.index, "invalid texture-load control " + std::to_string(in.control));
        return in.control == 1 ? "texldp" : in.control == 2 ? "texldb" : "texld";
      case ps::kTexCoord: return m_v.minor == 4 ? "texcrd" : "texcoord";
      default: return in.info->name;
    }
  }

  std::string Literal(std::uint16_t op, std::uint32_t bits) const {
    if (op == ps::kDefB) return bits ? "true" : "false";
    if (op == ps::kDefI) return std::to_string(static_cast<std::int32_t>(bits));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    char buf[64];
    // The assembly syntax has no literal for infinity or NaN. An infinity is
    // written as a number beyond the float range, which rounds back to it;
    // a NaN has no such number: it is written as 0 with its bits in a
    // comment, so the text still assembles.
    if (std::isinf(f)) return f > 0 ? "1e39" : "-1e39";
    if (std::isnan(f)) {
      std::snprintf(buf, sizeof buf, "0 /* NaN 0x%08X */", static_cast<unsigned>(bits));
      return buf;
    }
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    return buf;
  }

  std::string Declaration(const ps::Instruction& in) const {
    const std::uint32_t dcl = in.dclToken;
    const int type = ps::RegisterType(in.dst.token);
    std::string name = "dcl";
    if (type == ps::kSampler) {
      switch ((dcl >> 27) & 0xF) {
        case 2: name += "_2d"; break;
        case 3: name += "_cube"; break;
        case 4: name += "_volume"; break;
        default: Fail(in.dst.index - 1, "unknown sampler texture type");
      }
    } else if (!m_v.pixel || (m_v.Is3() && type == ps::kInput)) {
      const std::uint32_t usage = dcl & 0x1F, index = (dcl >> 16) & 0xF;
      if (usage > 13) Fail(in.dst.index - 1, "unknown usage " + std::to_string(usage));
      name += std::string("_") + kUsage[usage] + (index ? std::to_string(index) : "");
    }
    name += Modifiers(in.dst);
    std::string reg = Register(in.dst);
    Strip(&reg, "");
    const std::uint32_t mask = ps::WriteMask(in.dst.token);
    return name + " " + reg + (ps::IsScalarSource(in.dst.token) || type == ps::kSampler ? "" : MaskText(mask));
  }

  Version m_v;
};

}  // namespace

std::string RegisterName(std::uint32_t token, const Version& v) {
  return ps::RegisterText(ps::RegisterType(token), ps::RegisterNumber(token), v);
}

bool Disassemble(const std::uint32_t* words, std::size_t count, std::string* text, std::string* error) {
  text->clear();
  error->clear();
  Version v;
  if (count == 0 || !ps::ParseVersion(words[0], &v)) {
    *error = "token 0: not a shader version token";
    return false;
  }
  const Decoder decoder(v);
  std::string out = std::string(v.Name()) + "\n";
  std::size_t pos = 1;
  try {
    for (;;) {
      ps::Item item = ps::ReadItem(words, count, pos, v);
      switch (item.kind) {
        case ps::ItemKind::kIncomplete:
          Fail(pos, pos >= count ? "no end token" : "runs past the end of the stream");
        case ps::ItemKind::kError:
          Fail(item.errorIndex, item.error);
        case ps::ItemKind::kEnd:
          *text = out;
          return true;
        case ps::ItemKind::kComment: {
          char buf[64];
          std::snprintf(buf, sizeof buf, "// comment of %zu DWORD%s\n", item.commentWords,
                        item.commentWords == 1 ? "" : "s");
          out += buf;
          break;
        }
        case ps::ItemKind::kInstruction:
          out += decoder.Line(item.instr) + "\n";
          break;
      }
      pos = item.next;
    }
  } catch (const DecodeError& e) {
    *error = "token " + std::to_string(e.index) + ": " + e.text;
    return false;
  }
}

}  // namespace nura::shtok
