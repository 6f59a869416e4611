// The validator's ps_1_x stage and phase rules: the rows of texm3x2 and
// texm3x3 on consecutive stages reading one register, texture-address sources
// from earlier stages, and what ps_1_4 allows in one of its phases only.
#include <map>
#include <set>

#include "d3d9/shader_validator.h"
#include "kernel/format.h"

namespace platform::shader {
namespace {

int MatrixRowsOf(std::uint16_t op) {
  switch (op) {
    case kTexM3x2Pad:
    case kTexM3x2Tex:
    case kTexM3x2Depth:
      return 2;
    case kTexM3x3Pad:
    case kTexM3x3Tex:
    case kTexM3x3Spec:
    case kTexM3x3VSpec:
    case kTexM3x3:
      return 3;
    default:
      return 0;
  }
}

// Register type and number of a parameter token.
std::uint32_t RegisterOf(std::uint32_t tok) { return tok & 0x70001FFFu; }

// The components of source `i` an arithmetic instruction reads (bit 0 = x),
// after its swizzle.
std::uint32_t ComponentsRead(const Instruction& in, int i, const Version& v) {
  const std::uint32_t tok = in.src[i].token;
  std::uint32_t lanes;  // operation channels that use the source
  switch (in.Op()) {
    case kDp3:
      lanes = 0x7;
      break;
    case kDp4:
      lanes = 0xF;
      break;
    case kCnd:
      lanes = i == 0 && v.minor < 4 ? 0x8 : WriteMask(in.dst.token);
      break;
    default:
      lanes = WriteMask(in.dst.token);
      break;
  }
  std::uint32_t read = 0;
  for (int c = 0; c < 4; ++c)
    if (lanes >> c & 1) read |= 1u << SwizzleComponent(tok, c);
  return read;
}

}  // namespace

void StreamChecker::CheckTextureStages(const Instruction& in) {
  if (in.info->cls == kSetup) return;
  const std::uint16_t op = in.Op();
  const bool bump = op == kTexBem || op == kTexBemL;
  for (int i = 0; i < in.sourceCount; ++i) {
    const Operand& s = in.src[i];
    const std::uint32_t n = RegisterNumber(s.token);
    if (RegisterType(s.token) != kAddr || n >= 32) continue;
    if ((m_bumpRead >> n & 1) && !bump)
      Report(s.index, kMsgTextureStage, Printf("t%u, read by texbem, is read again by %s", n, in.info->name));
    if (m_depthWritten >> n & 1) Report(s.index, kMsgTextureStage, Printf("t%u is read after texm3x2depth", n));
  }
  if (bump && RegisterType(in.src[0].token) == kAddr && RegisterNumber(in.src[0].token) < 32)
    m_bumpRead |= 1u << RegisterNumber(in.src[0].token);
  if (op == kTexM3x2Depth && RegisterNumber(in.dst.token) < 32) m_depthWritten |= 1u << RegisterNumber(in.dst.token);
  const int rows = MatrixRowsOf(op);
  const bool pad = op == kTexM3x2Pad || op == kTexM3x3Pad;
  const bool reads = in.info->cls == kTexture && in.sourceCount > 0;
  const std::uint32_t stage = RegisterNumber(in.dst.token);
  const std::uint32_t source = reads ? RegisterOf(in.src[0].token) : 0;
  if (reads) {
    const Operand& s = in.src[0];
    if (RegisterType(s.token) != kAddr)
      Report(s.index, kMsgTextureStage, Printf("%s reads a t# register", in.info->name));
    else if (RegisterNumber(s.token) >= stage)
      Report(s.index, kMsgTextureStage,
             Printf("%s on stage %u reads t%u, not an earlier stage", in.info->name, stage, RegisterNumber(s.token)));
    // Texture addressing takes no source modifier but _bx2: on the texm rows,
    // and from ps_1_2 on everything but texreg2ar, texreg2gb and the bumps.
    const int mod = SourceModifier(s.token);
    const bool bx2 = rows > 0 || (m_v.minor >= 2 && !bump && op != kTexReg2Ar && op != kTexReg2Gb);
    if (mod != kModNone && !(mod == kModSign && bx2))
      Report(s.index, kMsgSourceModifier,
             Printf("source modifier %d is not allowed on %s in %s", mod, in.info->name, m_v.Name()));
    if (in.sourceCount > 1 && SourceModifier(in.src[1].token) != kModNone)
      Report(in.src[1].index, kMsgSourceModifier, Printf("the eye vector of %s takes no modifier", in.info->name));
  }
  if (m_rows.pads > 0) {
    const bool next = rows == m_rows.rows && (pad ? m_rows.pads < rows - 1 : m_rows.pads == rows - 1);
    if (next) {
      if (stage != m_rows.nextStage)
        Report(
            in.dst.index, kMsgTextureStage,
            Printf("the rows of texm3x%d are on consecutive stages: t%u after t%u", rows, stage, m_rows.nextStage - 1));
      if (source != m_rows.source)
        Report(in.src[0].index, kMsgTextureStage, Printf("the rows of texm3x%d read one register", rows));
      if (pad) {
        ++m_rows.pads;
        m_rows.nextStage = stage + 1;
      } else {
        m_rows = PendingRows();
      }
      return;
    }
    Report(m_rows.index, kMsgTextureStage,
           Printf("texm3x%dpad is not followed directly by the rest of its rows", m_rows.rows));
    m_rows = PendingRows();
  }
  if (pad)
    m_rows = {rows, 1, stage + 1, source, in.index};
  else if (rows)
    Report(in.index, kMsgTextureStage, Printf("%s without the texm3x%dpad rows before it", in.info->name, rows));
}

// The two halves of a pair run in one slot: neither may depend on whether
// it sees the other's result.
void StreamChecker::CheckPairReads(const Instruction& first, const Instruction& second) {
  for (const auto& [reader, writer] : {std::pair{&first, &second}, std::pair{&second, &first}}) {
    for (int i = 0; i < reader->sourceCount; ++i) {
      if (RegisterOf(reader->src[i].token) == RegisterOf(writer->dst.token) &&
          (ComponentsRead(*reader, i, m_v) & WriteMask(writer->dst.token)))
        Report(reader->src[i].index, kMsgCoissue,
               Printf("%s reads components its co-issued %s writes", reader->info->name, writer->info->name));
    }
  }
  // The two halves share one slot's read ports: three registers of a file.
  std::map<int, std::set<std::uint32_t>> distinct;
  for (const Instruction* in : {&first, &second})
    for (int i = 0; i < in->sourceCount; ++i) {
      const int type = RegisterType(in->src[i].token);
      const std::uint32_t number = RegisterNumber(in->src[i].token);
      distinct[IsConstBank(type) ? kConst : type].insert(IsConstBank(type) ? ConstIndex(type, number) : number);
    }
  for (const auto& [type, registers] : distinct)
    if (registers.size() > 3)
      Report(second.index, kMsgReadPorts,
             Printf("co-issued %s and %s read %zu different %s registers; a pair reads at most 3", first.info->name,
                    second.info->name, registers.size(),
                    type == kConst  ? "c#"
                    : type == kTemp ? "r#"
                    : type == kAddr ? "t#"
                                    : "v#"));
}

void StreamChecker::CheckPs14(const Instruction& in) {
  const std::uint16_t op = in.Op();
  if (op == kPhase) {
    for (const auto& [index, text] : m_phaseTwoOnly) Report(index, kMsgPhase, text + " in phase one");
    m_phaseTwoOnly.clear();
    return;
  }
  // Before any phase it is not known yet whether this is phase one.
  const bool phaseTwo = m_phases > 0;
  auto phaseTwoOnly = [&](std::size_t index, const std::string& text) {
    if (!phaseTwo) m_phaseTwoOnly.emplace_back(index, text);
  };
  for (int i = 0; i < in.sourceCount; ++i) {
    const Operand& s = in.src[i];
    const int type = RegisterType(s.token), mod = SourceModifier(s.token);
    if (type == kInput) phaseTwoOnly(s.index, Printf("%s reads v%u", in.info->name, RegisterNumber(s.token)));
    if (mod == kModDz) {
      if (type != kTemp)
        Report(s.index, kMsgSourceModifier, "_dz applies to r# sources only");
      else
        phaseTwoOnly(s.index, "_dz");
      if (++m_dzCount == 3) Report(s.index, kMsgSourceModifier, "_dz is used more than twice");
    }
    if (mod == kModDw && type != kAddr) Report(s.index, kMsgSourceModifier, "_dw applies to t# sources only");
  }
  const int dstType = RegisterType(in.dst.token);
  switch (op) {
    case kTex: {
      const int type = RegisterType(in.src[0].token);
      if (type == kTemp)
        phaseTwoOnly(in.index, "texld from r# (a dependent read)");
      else if (type != kAddr)
        Report(in.src[0].index, kMsgRegister, "texld reads t# or r#");
      break;
    }
    case kTexCoord:
      if (RegisterType(in.src[0].token) != kAddr) Report(in.src[0].index, kMsgRegister, "texcrd reads t# only");
      break;
    case kTexKill:
      if (dstType == kTemp) phaseTwoOnly(in.index, "texkill of r#");
      break;
    case kTexDepth:
      if (dstType != kTemp || RegisterNumber(in.dst.token) != 5)
        Report(in.dst.index, kMsgRegister, "texdepth works on r5 only");
      phaseTwoOnly(in.index, "texdepth");
      break;
    case kBem:
      if (phaseTwo) Report(in.index, kMsgPhase, "bem in phase two");
      m_bems.push_back(in.index);
      if (m_bems.size() == 2) Report(in.index, kMsgPhase, "bem more than once");
      break;
    default:
      break;
  }
}

void StreamChecker::FinishPs1() {
  if (m_rows.pads > 0)
    Report(m_rows.index, kMsgTextureStage,
           Printf("texm3x%dpad is not followed directly by the rest of its rows", m_rows.rows));
  m_rows = PendingRows();
  // Without a phase instruction the whole program is phase two.
  if (m_phases == 0)
    for (std::size_t index : m_bems) Report(index, kMsgPhase, "bem in a program without phase (all phase two)");
}

}  // namespace platform::shader
