// The interpreter's program loading, operand access, flow control and the
// lockstep quad driver; the arithmetic itself is in interp_math.cpp.
#include "tests/support/shader/interp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace nura::shtok {
namespace ps = platform::shader;
using ps::Instruction;
using ps::Operand;

namespace {

constexpr std::size_t kFloatRegs = 8192, kIntRegs = 2048, kBoolRegs = 2048;
// Far beyond any version's call nesting: recursion ends here with an error.
constexpr std::size_t kMaxCallDepth = 64;

bool Compare(std::uint32_t control, float a, float b) {
  switch (control) {
    case 1: return a > b;
    case 2: return a == b;
    case 3: return a >= b;
    case 4: return a < b;
    case 5: return a != b;
    case 6: return a <= b;
    default: return false;
  }
}

Float4 Splat(float x) { return Float4(x, x, x, x); }

Float4 ApplyModifier(Float4 x, int mod) {
  for (int c = 0; c < 4; ++c) {
    float& f = x[c];
    switch (mod) {
      case ps::kModNeg: f = -f; break;
      case ps::kModBias: f = f - 0.5f; break;
      case ps::kModBiasNeg: f = -(f - 0.5f); break;
      case ps::kModSign: f = 2 * (f - 0.5f); break;
      case ps::kModSignNeg: f = -2 * (f - 0.5f); break;
      case ps::kModComp: f = 1 - f; break;
      case ps::kModX2: f = 2 * f; break;
      case ps::kModX2Neg: f = -2 * f; break;
      case ps::kModAbs: f = std::fabs(f); break;
      case ps::kModAbsNeg: f = -std::fabs(f); break;
      default: break;
    }
  }
  return x;
}

// Scalar instructions read one component: a replicate swizzle names it; code
// written without one (.xyzw) reads w.
float Selected(const Operand& op, const Float4& swizzled) {
  return ps::Swizzle(op.token) == ps::kIdentitySwizzle ? swizzled[3] : swizzled[0];
}

bool IsScalarOp(std::uint16_t op) {
  return op == ps::kRcp || op == ps::kRsq || op == ps::kExp || op == ps::kLog || op == ps::kExpP ||
         op == ps::kLogP || op == ps::kPow || op == ps::kSinCos;
}

bool IsMatrixOp(std::uint16_t op) { return op >= ps::kM4x4 && op <= ps::kM3x2; }

bool Supported(const ps::OpInfo& info, const ps::Version& v) {
  switch (info.cls) {
    case ps::kArith: case ps::kFlow: case ps::kSetup: return true;
    case ps::kTexture:
      return v.Ps1x() || info.op == ps::kTex || info.op == ps::kTexLdl || info.op == ps::kTexLdd ||
             info.op == ps::kTexKill;
    default: return info.op == ps::kNop || info.op == ps::kPhase;
  }
}

int ToAddress(float f) {
  const float r = std::nearbyint(f);
  return r > -1e9f && r < 1e9f ? static_cast<int>(r) : 0;
}

Declaration DescribeDeclaration(const Instruction& in, const ps::Version& v) {
  Declaration d;
  d.type = ps::RegisterType(in.dst.token);
  d.number = ps::RegisterNumber(in.dst.token);
  d.mask = ps::WriteMask(in.dst.token);
  d.modifiers = ps::ResultModifiers(in.dst.token);
  d.output = d.type == ps::kTexCrdOut;
  if (d.type == ps::kSampler) {
    d.samplerType = static_cast<int>((in.dclToken >> 27) & 0xF);
  } else if (v.pixel && !v.Is3()) {
    d.usage = d.type == ps::kInput ? kUsageColor : kUsageTexCoord;
    d.usageIndex = static_cast<int>(d.number);
    d.implied = true;
  } else if (d.type != ps::kMiscType) {
    d.usage = static_cast<int>(in.dclToken & 0x1F);
    d.usageIndex = static_cast<int>((in.dclToken >> 16) & 0xF);
  }
  return d;
}

}  // namespace

Float4* DeclaredSlot(Lane& lane, const Declaration& d) {
  auto slot = [&](Float4* file, std::uint32_t size) { return d.number < size ? file + d.number : nullptr; };
  switch (d.type) {
    case ps::kInput: return slot(lane.v, 16);
    case ps::kAddr: return slot(lane.t, 8);
    case ps::kTexCrdOut: return slot(lane.o, 16);
    case ps::kMiscType: return d.number == 0 ? &lane.vPos : nullptr;
    default: return nullptr;
  }
}

const Declaration* Interpreter::FindDeclaration(int usage, int usageIndex, bool output) const {
  for (const Declaration& d : m_declarations)
    if (d.usage == usage && d.usageIndex == usageIndex && d.output == output) return &d;
  return nullptr;
}

std::string ErrorAt(const Instruction& in, const std::string& text) {
  return "token " + std::to_string(in.index) + " (" + in.info->name + "): " + text;
}

Interpreter::Interpreter()
    : m_floats(kFloatRegs), m_defFloats(kFloatRegs), m_hasDefFloat(kFloatRegs), m_ints(kIntRegs),
      m_bools(kBoolRegs) {}

void Interpreter::SetFloat(int reg, const Float4& value) {
  if (reg >= 0 && static_cast<std::size_t>(reg) < kFloatRegs) m_floats[reg] = value;
}
void Interpreter::SetInt(int reg, int x, int y, int z, int w) {
  if (reg >= 0 && static_cast<std::size_t>(reg) < kIntRegs) m_ints[reg] = {x, y, z, w};
}
void Interpreter::SetBool(int reg, bool value) {
  if (reg >= 0 && static_cast<std::size_t>(reg) < kBoolRegs) m_bools[reg] = value;
}
void Interpreter::SetBumpEnv(int stage, const BumpEnv& env) {
  if (stage >= 0 && stage < 8) m_bump[stage] = env;
}

void QuadGradients(const Float4* values, int count, int lane, Float4* ddx, Float4* ddy) {
  *ddx = *ddy = Float4();
  if (count != 4) return;
  for (int c = 0; c < 4; ++c) {
    (*ddx)[c] = values[lane | 1][c] - values[lane & ~1][c];
    (*ddy)[c] = values[lane | 2][c] - values[lane & ~2][c];
  }
}

bool Interpreter::Load(const std::uint32_t* words, std::size_t count, std::string* error) {
  m_program.clear();
  m_labels.clear();
  m_defInts.clear();
  m_defBools.clear();
  m_declarations.clear();
  std::fill(m_hasDefFloat.begin(), m_hasDefFloat.end(), false);
  std::fill(std::begin(m_inputMask), std::end(m_inputMask), 0xFu);
  std::fill(std::begin(m_samplerType), std::end(m_samplerType), 0);
  if (count == 0 || !ps::ParseVersion(words[0], &m_v)) {
    *error = "token 0: not a shader version token";
    return false;
  }
  for (std::size_t pos = 1;;) {
    ps::Item item = ps::ReadItem(words, count, pos, m_v);
    if (item.kind == ps::ItemKind::kIncomplete) {
      *error = "token " + std::to_string(pos) + ": the stream ends without an end token";
      return false;
    }
    if (item.kind == ps::ItemKind::kError) {
      *error = "token " + std::to_string(item.errorIndex) + ": " + item.error;
      return false;
    }
    if (item.kind == ps::ItemKind::kEnd) break;
    pos = item.next;
    if (item.kind == ps::ItemKind::kComment) continue;
    const Instruction& in = item.instr;
    if (!Supported(*in.info, m_v)) {
      *error = ErrorAt(in, "not supported by the interpreter");
      return false;
    }
    const std::uint32_t n = ps::RegisterNumber(in.dst.token);
    const int type = ps::RegisterType(in.dst.token);
    switch (in.Op()) {
      case ps::kDcl:
        m_declarations.push_back(DescribeDeclaration(in, m_v));
        if (type == ps::kSampler && n < 16) m_samplerType[n] = static_cast<int>((in.dclToken >> 27) & 0xF);
        if (type == ps::kInput && !m_v.pixel && n < 16) m_inputMask[n] = ps::WriteMask(in.dst.token);
        break;
      case ps::kDef:
        if (ps::IsConstBank(type)) {
          const std::uint32_t index = ps::ConstIndex(type, n);
          for (int c = 0; c < 4; ++c) std::memcpy(&m_defFloats[index][c], &in.literal[c], sizeof(float));
          m_hasDefFloat[index] = true;
        }
        break;
      case ps::kDefI:
        for (int c = 0; c < 4; ++c) m_defInts[n][c] = static_cast<std::int32_t>(in.literal[c]);
        break;
      case ps::kDefB:
        m_defBools[n] = in.literal[0] != 0;
        break;
      case ps::kLabelOp:
        if (!m_labels.emplace(ps::RegisterNumber(in.src[0].token), m_program.size()).second) {
          *error = ErrorAt(in, "label defined twice");
          return false;
        }
        break;
      default:
        break;
    }
    m_program.push_back(in);
  }
  // Match the blocks once so that jumps are table lookups.
  m_match.assign(m_program.size(), 0);
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < m_program.size(); ++i) {
    const std::uint16_t op = m_program[i].Op();
    auto close = [&](std::initializer_list<std::uint16_t> openers) {
      if (open.empty() || std::find(openers.begin(), openers.end(), m_program[open.back()].Op()) == openers.end()) {
        *error = ErrorAt(m_program[i], "unbalanced flow control");
        return false;
      }
      m_match[open.back()] = i;
      m_match[i] = open.back();
      open.pop_back();
      return true;
    };
    if (op == ps::kIf || op == ps::kIfC || op == ps::kLoopOp || op == ps::kRep) {
      open.push_back(i);
    } else if (op == ps::kElse) {
      if (!close({ps::kIf, ps::kIfC})) return false;
      open.push_back(i);
    } else if (op == ps::kEndIf) {
      if (!close({ps::kIf, ps::kIfC, ps::kElse})) return false;
    } else if (op == ps::kEndLoop) {
      if (!close({ps::kLoopOp})) return false;
    } else if (op == ps::kEndRep) {
      if (!close({ps::kRep})) return false;
    }
  }
  if (!open.empty()) {
    *error = ErrorAt(m_program[open.back()], "block is not closed");
    return false;
  }
  return true;
}

bool Interpreter::Run(Lane* lanes, int count, std::string* error) {
  if (count < 1) {
    *error = "no lanes to run";
    return false;
  }
  for (int l = 0; l < count; ++l) {
    Lane fresh;
    std::copy(std::begin(lanes[l].v), std::end(lanes[l].v), std::begin(fresh.v));
    std::copy(std::begin(lanes[l].t), std::end(lanes[l].t), std::begin(fresh.t));
    fresh.vPos = lanes[l].vPos;
    fresh.vFace = lanes[l].vFace;
    lanes[l] = fresh;
  }
  if (m_v.Ps1x()) return RunPs1(lanes, count, error);
  std::vector<Thread> threads(static_cast<std::size_t>(count));
  for (int l = 0; l < count; ++l) threads[l].lane = l;
  if (!(m_v.pixel && count == 4)) {
    for (int l = 0; l < count; ++l)
      if (RunUntilWait(lanes[l], threads[l], false, error) == Step::kError) return false;
    return true;
  }
  for (;;) {
    for (int l = 0; l < 4; ++l)
      if (!threads[l].done && RunUntilWait(lanes[l], threads[l], true, error) == Step::kError) return false;
    const bool allDone = std::all_of(threads.begin(), threads.end(), [](const Thread& t) { return t.done; });
    if (allDone) return true;
    for (int l = 1; l < 4; ++l) {
      if (threads[l].done != threads[0].done || threads[l].pc != threads[0].pc) {
        const Thread& waiting = threads[0].done ? threads[l] : threads[0];
        *error = ErrorAt(m_program[waiting.pc], "gradient in control flow that diverges within the quad");
        return false;
      }
    }
    if (!ExecuteGradient(lanes, threads.data(), 4, error)) return false;
  }
}

Interpreter::Step Interpreter::RunUntilWait(Lane& lane, Thread& th, bool stopAtGradient, std::string* error) {
  for (;;) {
    if (th.done || th.pc >= m_program.size()) {
      th.done = true;
      return Step::kDone;
    }
    const Instruction& in = m_program[th.pc];
    const std::uint16_t op = in.Op();
    if (m_v.pixel && (op == ps::kDsx || op == ps::kDsy || op == ps::kTex)) {
      if (stopAtGradient) return Step::kWait;
      if (!ExecuteGradient(&lane, &th, 1, error)) return Step::kError;
      continue;
    }
    if (++th.executed > m_budget) {
      *error = ErrorAt(in, "instruction budget of " + std::to_string(m_budget) + " exhausted");
      return Step::kError;
    }
    if (!Execute(in, lane, th, error)) return Step::kError;
  }
}

bool Interpreter::ExecuteGradient(Lane* lanes, Thread* threads, int count, std::string* error) {
  const Instruction& in = m_program[threads[0].pc];
  const std::uint16_t op = in.Op();
  Float4 value[4], raw[4];
  for (int l = 0; l < count; ++l) {
    if (++threads[l].executed > m_budget) {
      *error = ErrorAt(in, "instruction budget of " + std::to_string(m_budget) + " exhausted");
      return false;
    }
    raw[l] = value[l] = Read(in.src[0], lanes[l], threads[l]);
    if (op == ps::kTex && in.control == 1)
      for (int c = 0; c < 3; ++c) value[l][c] /= raw[l][3];
  }
  for (int l = 0; l < count; ++l) {
    Float4 ddx, ddy;
    QuadGradients(value, count, l, &ddx, &ddy);
    Float4 result;
    if (op == ps::kDsx) {
      result = ddx;
    } else if (op == ps::kDsy) {
      result = ddy;
    } else {
      const SampleKind kind =
          in.control == 1 ? SampleKind::kProjected : in.control == 2 ? SampleKind::kBias : SampleKind::kImplicit;
      result = Sample(in, value[l], ddx, ddy, in.control == 2 ? raw[l][3] : 0.0f, kind, threads[l].lane);
    }
    Write(in, lanes[l], threads[l], result, 0xF);
    ++threads[l].pc;
  }
  return true;
}

bool Interpreter::Execute(const Instruction& in, Lane& lane, Thread& th, std::string* error) {
  const std::uint16_t op = in.Op();
  if (in.info->cls == ps::kFlow) return Flow(in, lane, th, error);
  if (in.info->cls != ps::kSetup && op != ps::kNop) {
    const std::array<bool, 4> pmask = PredicateMask(in, lane);
    if (op == ps::kTexKill) {
      const Operand& d = in.dst;
      const Float4 value = Fetch(ps::RegisterType(d.token), ps::RegisterNumber(d.token), lane, th);
      for (int c = 0; c < 3; ++c)
        if (pmask[c] && value[c] < 0) lane.killed = true;
    } else if (op == ps::kSetP) {
      const Float4 a = Read(in.src[0], lane, th), b = Read(in.src[1], lane, th);
      const std::uint32_t mask = ps::WriteMask(in.dst.token);
      for (int c = 0; c < 4; ++c)
        if ((mask >> c & 1) && pmask[c]) lane.p0[c] = Compare(in.control, a[c], b[c]);
    } else if (op == ps::kTexLdl) {
      const Float4 coord = Read(in.src[0], lane, th);
      Write(in, lane, th, Sample(in, coord, Float4(), Float4(), coord[3], SampleKind::kLod, th.lane), 0xF);
    } else if (op == ps::kTexLdd) {
      const Float4 coord = Read(in.src[0], lane, th);
      const Float4 ddx = Read(in.src[2], lane, th), ddy = Read(in.src[3], lane, th);
      Write(in, lane, th, Sample(in, coord, ddx, ddy, 0, SampleKind::kGradient, th.lane), 0xF);
    } else {
      Float4 s[5];
      if (IsMatrixOp(op)) {
        s[0] = Read(in.src[0], lane, th);
        for (int row = 0; row < 4; ++row) s[1 + row] = Read(in.src[1], lane, th, row);
      } else {
        for (int i = 0; i < in.sourceCount; ++i) {
          s[i] = Read(in.src[i], lane, th);
          if (IsScalarOp(op) && (i == 0 || op == ps::kPow)) s[i] = Splat(Selected(in.src[i], s[i]));
        }
      }
      Float4 d;
      std::uint32_t produced;
      if (!Compute(op, m_v, s, &d, &produced)) {
        *error = ErrorAt(in, "not supported by the interpreter");
        return false;
      }
      Write(in, lane, th, d, produced);
    }
  }
  ++th.pc;
  return true;
}

bool Interpreter::Flow(const Instruction& in, Lane& lane, Thread& th, std::string* error) {
  const std::size_t pc = th.pc;
  auto intOperand = [&](const Operand& op) {
    const std::uint32_t n = ps::RegisterNumber(op.token);
    auto def = m_defInts.find(n);
    return def != m_defInts.end() ? def->second : m_ints[n];
  };
  auto compare = [&] {
    return Compare(in.control, Read(in.src[0], lane, th)[0], Read(in.src[1], lane, th)[0]);
  };
  auto doBreak = [&] {
    if (th.frames.empty()) {
      *error = ErrorAt(in, "break outside a loop");
      return false;
    }
    th.pc = th.frames.back().end + 1;
    th.frames.pop_back();
    return true;
  };
  auto call = [&] {
    auto label = m_labels.find(ps::RegisterNumber(in.src[0].token));
    if (label == m_labels.end()) {
      *error = ErrorAt(in, "call to an undefined label");
      return false;
    }
    if (th.calls.size() >= kMaxCallDepth) {
      *error = ErrorAt(in, "calls nested too deep");
      return false;
    }
    th.calls.push_back(pc + 1);
    th.pc = label->second + 1;
    return true;
  };
  switch (in.Op()) {
    case ps::kIf:
      th.pc = Condition(in, 0, lane, th) ? pc + 1 : m_match[pc] + 1;
      return true;
    case ps::kIfC:
      th.pc = compare() ? pc + 1 : m_match[pc] + 1;
      return true;
    case ps::kElse:
      th.pc = m_match[pc] + 1;
      return true;
    case ps::kLoopOp: case ps::kRep: {
      const bool loop = in.Op() == ps::kLoopOp;
      const std::array<int, 4> i = intOperand(in.src[loop ? 1 : 0]);
      if (i[0] <= 0) {
        th.pc = m_match[pc] + 1;
      } else {
        th.frames.push_back({loop, i[0], i[1], i[2], pc + 1, m_match[pc]});
        th.pc = pc + 1;
      }
      return true;
    }
    case ps::kEndLoop: case ps::kEndRep: {
      if (th.frames.empty() || th.frames.back().end != pc) {
        *error = ErrorAt(in, "block end without its frame");
        return false;
      }
      Frame& f = th.frames.back();
      // Wraps rather than overflows on counters no valid shader holds.
      f.aL = static_cast<int>(static_cast<unsigned>(f.aL) + static_cast<unsigned>(f.step));
      if (--f.count > 0) {
        th.pc = f.start;
      } else {
        th.frames.pop_back();
        th.pc = pc + 1;
      }
      return true;
    }
    case ps::kBreak:
      return doBreak();
    case ps::kBreakC:
      if (compare()) return doBreak();
      break;
    case ps::kBreakP:
      if (Condition(in, 0, lane, th)) return doBreak();
      break;
    case ps::kCall:
      return call();
    case ps::kCallNz:
      if (Condition(in, 1, lane, th)) return call();
      break;
    case ps::kRet:
      if (th.calls.empty()) {
        th.done = true;
      } else {
        th.pc = th.calls.back();
        th.calls.pop_back();
      }
      return true;
    default:
      break;  // endif, label
  }
  th.pc = pc + 1;
  return true;
}

int Interpreter::RelativeOffset(const Operand& op, const Lane& lane, const Thread& th) const {
  if (!m_v.AtLeast2()) return lane.a0[0];
  if (ps::RegisterType(op.relToken) == ps::kLoop) {
    for (auto f = th.frames.rbegin(); f != th.frames.rend(); ++f)
      if (f->loop) return f->aL;
    return 0;
  }
  return lane.a0[ps::SwizzleComponent(op.relToken, 0)];
}

Float4 Interpreter::Read(const Operand& op, const Lane& lane, const Thread& th, int row) const {
  const std::uint32_t tok = op.token;
  const int type = ps::RegisterType(tok);
  long index = static_cast<long>(ps::IsConstBank(type) ? ps::ConstIndex(type, ps::RegisterNumber(tok))
                                                       : ps::RegisterNumber(tok)) + row;
  if (ps::IsRelative(tok)) index += RelativeOffset(op, lane, th);
  const Float4 raw = index < 0 ? Float4() : Fetch(type, static_cast<std::uint32_t>(index), lane, th);
  Float4 swizzled;
  for (int c = 0; c < 4; ++c) swizzled[c] = raw[ps::SwizzleComponent(tok, c)];
  return ApplyModifier(swizzled, ps::SourceModifier(tok));
}

Float4 Interpreter::Fetch(int type, std::uint32_t index, const Lane& lane, const Thread& th) const {
  auto from = [index](const Float4* file, std::uint32_t size) { return index < size ? file[index] : Float4(); };
  switch (type) {
    case ps::kTemp: return from(lane.r, 32);
    case ps::kInput: {
      Float4 value = from(lane.v, 16);
      if (!m_v.pixel && index < 16) {
        // Components the declaration leaves out read as from (0, 0, 0, 1).
        for (int c = 0; c < 4; ++c)
          if (!(m_inputMask[index] >> c & 1)) value[c] = c == 3 ? 1.0f : 0.0f;
      }
      return value;
    }
    case ps::kConst: case ps::kConst2: case ps::kConst3: case ps::kConst4:
      if (index >= kFloatRegs) return Float4();
      return m_hasDefFloat[index] ? m_defFloats[index] : m_floats[index];
    case ps::kAddr:
      if (m_v.Ps1x() && m_v.minor < 4) return from(lane.tex, 8);
      if (m_v.pixel) return from(lane.t, 8);
      return Float4(static_cast<float>(lane.a0[0]), static_cast<float>(lane.a0[1]), static_cast<float>(lane.a0[2]),
                    static_cast<float>(lane.a0[3]));
    case ps::kConstInt: {
      if (index >= kIntRegs) return Float4();
      auto def = m_defInts.find(index);
      const std::array<int, 4>& i = def != m_defInts.end() ? def->second : m_ints[index];
      return Float4(static_cast<float>(i[0]), static_cast<float>(i[1]), static_cast<float>(i[2]),
                    static_cast<float>(i[3]));
    }
    case ps::kConstBool: {
      if (index >= kBoolRegs) return Float4();
      auto def = m_defBools.find(index);
      return Splat((def != m_defBools.end() ? def->second : m_bools[index]) ? 1.0f : 0.0f);
    }
    case ps::kLoop:
      for (auto f = th.frames.rbegin(); f != th.frames.rend(); ++f)
        if (f->loop) return Splat(static_cast<float>(f->aL));
      return Float4();
    case ps::kMiscType:
      return index == 0 ? lane.vPos : index == 1 ? Splat(lane.vFace) : Float4();
    case ps::kPredicate:
      return Float4(lane.p0[0], lane.p0[1], lane.p0[2], lane.p0[3]);
    default:
      return Float4();
  }
}

bool Interpreter::Condition(const Instruction& in, int src, const Lane& lane, const Thread& th) const {
  const std::uint32_t tok = in.src[src].token;
  const bool value = ps::RegisterType(tok) == ps::kPredicate
                         ? lane.p0[ps::SwizzleComponent(tok, 0)]
                         : Fetch(ps::kConstBool, ps::RegisterNumber(tok), lane, th)[0] != 0;
  return ps::SourceModifier(tok) == ps::kModNot ? !value : value;
}

std::array<bool, 4> Interpreter::PredicateMask(const Instruction& in, const Lane& lane) const {
  std::array<bool, 4> mask = {true, true, true, true};
  if (!in.predicated) return mask;
  const bool invert = ps::SourceModifier(in.pred.token) == ps::kModNot;
  for (int c = 0; c < 4; ++c) mask[c] = lane.p0[ps::SwizzleComponent(in.pred.token, c)] != invert;
  return mask;
}

void Interpreter::Write(const Instruction& in, Lane& lane, const Thread& th, const Float4& value,
                        std::uint32_t produced) const {
  const std::uint32_t tok = in.dst.token;
  const int type = ps::RegisterType(tok);
  long index = ps::RegisterNumber(tok);
  if (ps::IsRelative(tok)) index += RelativeOffset(in.dst, lane, th);
  const std::array<bool, 4> pmask = PredicateMask(in, lane);
  const std::uint32_t mask = ps::WriteMask(tok) & produced;
  Float4 v = value;
  if (m_v.Ps1x()) {
    // The result shift comes before saturation.
    const int shift = (ps::ShiftScale(tok) ^ 8) - 8;
    for (int c = 0; c < 4; ++c) v[c] = std::ldexp(v[c], shift);
  }
  if (ps::ResultModifiers(tok) & ps::kResultSat)
    for (int c = 0; c < 4; ++c) v[c] = std::min(std::max(v[c], 0.0f), 1.0f);
  auto enabled = [&](int c) { return (mask >> c & 1) && pmask[c]; };
  Float4* target = nullptr;
  auto slot = [&](Float4* file, long size) { return index >= 0 && index < size ? file + index : nullptr; };
  switch (type) {
    case ps::kTemp: target = slot(lane.r, 32); break;
    case ps::kRastOut:
      target = index == 0 ? &lane.oPos : index == 1 ? &lane.oFog : index == 2 ? &lane.oPts : nullptr;
      break;
    case ps::kAttrOut: target = slot(lane.oD, 2); break;
    case ps::kTexCrdOut: target = slot(lane.o, 16); break;
    case ps::kColorOut: target = slot(lane.oC, 4); break;
    case ps::kDepthOut:
      if (enabled(0)) {
        lane.oDepth = v[0];
        lane.depthWritten = true;
      }
      return;
    case ps::kAddr:
      if (!m_v.pixel) {
        for (int c = 0; c < 4; ++c)
          if (enabled(c)) lane.a0[c] = ToAddress(v[c]);
        return;
      }
      if (m_v.Ps1x() && m_v.minor < 4) target = slot(lane.tex, 8);
      break;
    default:
      break;
  }
  if (!target) return;
  for (int c = 0; c < 4; ++c)
    if (enabled(c)) (*target)[c] = v[c];
}

Float4 Interpreter::Sample(const Instruction& in, const Float4& coord, const Float4& ddx, const Float4& ddy, float lod,
                           SampleKind kind, int lane) const {
  const Operand& sampler = in.src[1];
  SampleRequest request;
  request.sampler = static_cast<int>(ps::RegisterNumber(sampler.token));
  request.textureType = request.sampler < 16 ? m_samplerType[request.sampler] : 0;
  request.kind = kind;
  request.coord = coord;
  request.lod = lod;
  request.ddx = ddx;
  request.ddy = ddy;
  request.lane = lane;
  const Float4 t = m_sampler ? m_sampler(request) : Float4(0, 0, 0, 1);
  if (!m_v.Is3()) return t;
  // Shader model 3 samplers may swizzle the looked-up value.
  Float4 swizzled;
  for (int c = 0; c < 4; ++c) swizzled[c] = t[ps::SwizzleComponent(sampler.token, c)];
  return swizzled;
}

}  // namespace nura::shtok
