#include "tests/support/ir/ir_interpreter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace irkit {

using namespace gxl::shader;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kFltMax = 3.402823466e+38;

// Binding-word modifiers the interpreter knows: a negated source, a saturated result.
constexpr std::uint32_t kSourceModifierBits = 0x1F0000;
constexpr std::uint32_t kNegateModifier = 0x80000;
constexpr std::uint32_t kResultShiftBits = 0xFC00;
constexpr std::uint32_t kSaturateResult = 0x200;

// The selected operations of the instruction sets (class 7): n = width.
// False for a group that is none of them.
bool Selected(std::uint32_t g, std::uint32_t n, const std::vector<double>& a, std::vector<double>& r,
              std::uint32_t results) {
  auto compare = [](std::uint32_t c, double x, double y) {  // ge, lt, ne, eq
    return c == 0 ? x >= y : c == 1 ? x < y : c == 2 ? x != y : x == y;
  };
  switch (g) {
    case 0x700:
      for (std::uint32_t i = 0; i < n; ++i) r.push_back(std::fabs(a[i]));
      return true;
    case 0x701:  // lrp(f, x, y) = y + f (x - y)
      for (std::uint32_t i = 0; i < n; ++i) r.push_back(a[2 * n + i] + a[i] * (a[n + i] - a[2 * n + i]));
      return true;
    case 0x702: {  // nrm: scaled by the length of the first three components
      double f = 0.0;
      for (std::uint32_t i = 0; i < std::min(n, 3u); ++i) f += a[i] * a[i];
      f = f != 0.0 ? 1.0 / std::sqrt(f) : kFltMax;
      for (std::uint32_t i = 0; i < n; ++i) r.push_back(a[i] * f);
      return true;
    }
    case 0x703:
    case 0x704:  // a b + c, c - a b
      for (std::uint32_t i = 0; i < n; ++i)
        r.push_back(g == 0x703 ? a[i] * a[n + i] + a[2 * n + i] : a[2 * n + i] - a[i] * a[n + i]);
      return true;
    case 0x708:  // dp2add: the two products and the third source's first component, replicated
      if (n != 2 || a.size() < 5) return false;
      r.assign(results, a[0] * a[2] + a[1] * a[3] + a[4]);
      return true;
    case 0x70B:
    case 0x70C:
      for (std::uint32_t i = 0; i < n; ++i)
        r.push_back(g == 0x70B ? (a[i] < a[n + i] ? a[i] : a[n + i]) : (a[i] >= a[n + i] ? a[i] : a[n + i]));
      return true;
    case 0x70D:  // pow(|x|, y)
      for (std::uint32_t i = 0; i < n; ++i) r.push_back(std::pow(std::fabs(a[i]), a[n + i]));
      return true;
    case 0x735:
    case 0x736:
    case 0x737:
    case 0x738:  // setp ge, lt, ne, eq
      for (std::uint32_t i = 0; i < n; ++i) r.push_back(compare(g - 0x735, a[i], a[n + i]) ? 1.0 : 0.0);
      return true;
    default:
      return false;
  }
}

double Unary(std::uint32_t group, double x) {
  switch (group) {
    case kOpMove:
    case kOpKeptMove:
    case kOpIfBegin:
    case kOpLoopEntry:  // structured code: the moves around a loop
    case kOpLoopEnd:
    case kOpLoopEntryCopy: return x;
    case kOpNegate: return -x;
    case kOpReciprocal: return 1.0 / x;
    case kOpFraction: return x - std::floor(x);
    case kOpExp2: return std::exp2(x);
    case kOpLog2: return std::log2(x);
    case kOpRsq: return 1.0 / std::sqrt(x);
    case kOpSin: return std::sin(x);
    case kOpCos: return std::cos(x);
    case kOpAsin: return std::asin(x);
    case kOpAcos: return std::acos(x);
    case kOpAtan: return std::atan(x);
    case kOpDdx:
    case kOpDdy: return 0.0;  // one pixel: no neighbours to differ from
    default: return kNaN;
  }
}

double Binary(std::uint32_t group, double a, double b) {
  switch (group) {
    case kOpMin: return std::min(a, b);
    case kOpMax: return std::max(a, b);
    case kOpLess: return a < b ? 1.0 : 0.0;
    case kOpGreaterEqual: return a >= b ? 1.0 : 0.0;
    case kOpAdd: return a + b;
    case kOpMultiply: return a * b;
    case kOpAtan2: return std::atan2(a, b);
    case kOpLoopMerge: return a;
    default: return kNaN;
  }
}

bool IsUnary(std::uint32_t g) {
  return (g >= kOpMove && g <= kOpIfBegin) || g == kOpLoopEntryCopy || g == kOpLoopEntry || g == kOpLoopEnd;
}
bool IsBinary(std::uint32_t g) { return (g >= kOpMin && g <= kOpAtan2) || g == kOpLoopMerge; }

}  // namespace

Texel ProceduralTexel(std::uint32_t sampler, std::uint32_t kind, const double p[3], double lod) {
  const double s = sampler;
  return {0.5 + 0.5 * std::sin(s + 1.7 * p[0] + 0.3 * kind), 0.5 + 0.5 * std::sin(2.3 * p[1] - s),
          0.5 + 0.5 * std::sin(1.1 * p[2] + 0.5 * p[0] * p[1]), 1.0 / (1.0 + std::fabs(lod))};
}

IrInterpreter::IrInterpreter(const ShaderProgram& program, Mode mode)
    : m_p(program), m_mode(mode), m_values(program.values.Count(), kNaN), m_written(program.values.Count(), false) {
  for (std::uint32_t i = 0; i < program.instructions.Count(); ++i) {
    const IrInstruction* inst = program.instructions[i];
    const std::uint32_t g = inst ? inst->Group() : 0;
    m_structured |= IsStructured(g) && g != 0x741 && (g < 0x744 || g > 0x747);
  }
  for (std::uint32_t b = 0; b < program.banks.Count(); ++b)
    if (const RegisterBank* bank = program.banks[b]; bank && bank->name && std::string(bank->name) == "al")
      m_counterBank = b;
}

void IrInterpreter::SetRegister(std::uint32_t bank, std::uint32_t reg, std::uint32_t component, double x) {
  m_registers[{bank, reg, component}] = x;
}

void IrInterpreter::SetRegister(StandardBank bank, std::uint32_t reg, std::initializer_list<double> components) {
  std::uint32_t c = 0;
  for (double x : components) SetRegister(m_p.StandardBankIndex(bank), reg, c++, x);
}

bool IrInterpreter::Fail(const std::string& message) {
  if (m_error.empty()) m_error = message;
  return false;
}

double IrInterpreter::Value(std::uint32_t value) const {
  const IrValue* v = m_p.values[value];
  const RegisterBank* bank = v ? m_p.banks[v->bank] : nullptr;
  if (bank && (bank->type & kBankLiteral) && v->relativeIndex == kNoIndex) return v->rangeLow;
  return value < m_values.size() && m_written[value] ? m_values[value] : kNaN;
}

std::vector<double> IrInterpreter::Values(const std::vector<std::uint32_t>& values) const {
  std::vector<double> out;
  for (std::uint32_t v : values) out.push_back(Value(v));
  return out;
}

double IrInterpreter::Register(std::uint32_t bank, std::uint32_t reg, std::uint32_t component) const {
  const auto it = m_registers.find({bank, reg, component});
  return it == m_registers.end() ? kNaN : it->second;
}

bool IrInterpreter::Location(const IrValue& v, RegisterKey& key) {
  if (v.reg == kNoIndex || v.component == kNoIndex) return false;
  std::int64_t reg = v.reg;
  if (v.relativeIndex != kNoIndex) {
    double offset;
    if (!Read(v.relativeIndex, offset)) return false;
    if (!std::isfinite(offset)) return Fail("relative address is not finite");
    reg += static_cast<std::int64_t>(std::floor(offset));
  }
  key = {v.bank, reg, v.component};
  return true;
}

bool IrInterpreter::Read(std::uint32_t value, double& out) {
  const IrValue* v = m_p.values[value];
  if (!v) return Fail("read of missing value " + std::to_string(value));
  // A value with an alias reads the register of the value at the chain's end,
  // through its own source modifier, as the code generator encodes it.
  std::uint32_t root = value;
  for (std::uint32_t steps = 0; m_p.values[root] && m_p.values[root]->alias != kNoIndex &&
                                m_p.values[root]->alias != root && steps <= m_p.values.Count();
       ++steps)
    root = m_p.values[root]->alias;
  if (!ReadStored(root, out)) return false;
  const std::uint32_t modifier = v->binding & kSourceModifierBits;
  double x = out;
  switch (modifier & ~kNegateModifier) {
    case 0: break;
    case 0x10000: x = 1.0 - x; break;          // complement
    case 0x20000: x = x - 0.5; break;          // bias
    case 0x40000: x = 2.0 * x; break;          // times two
    case 0x60000: x = 2.0 * (x - 0.5); break;  // signed scale
    case 0x100000: x = std::fabs(x); break;    // absolute value
    default: return Fail("source modifier of value " + std::to_string(value) + " is not interpreted");
  }
  // The instruction sets have no negated complement.
  if ((modifier & kNegateModifier) && modifier == (kNegateModifier | 0x10000))
    return Fail("source modifier of value " + std::to_string(value) + " is not interpreted");
  out = (modifier & kNegateModifier) ? -x : x;
  return true;
}

bool IrInterpreter::ReadStored(std::uint32_t value, double& out) {
  const IrValue* v = m_p.values[value];
  if (!v) return Fail("read of missing value " + std::to_string(value));
  const RegisterBank* bank = m_p.banks[v->bank];
  if (!bank) return Fail("value " + std::to_string(value) + " has no bank");
  if (v->relativeIndex != kNoIndex) {
    RegisterKey key;
    if (!Location(*v, key)) return Fail("relative read of value " + std::to_string(value) + " without a register");
    if (bank->type & kBankLiteral) return ReadLiteralRegister(key, out);
    const auto it = m_registers.find(key);
    if (it == m_registers.end())
      return Fail("relative read outside the written registers: register " + std::to_string(std::get<1>(key)));
    out = it->second;
    return true;
  }
  if (bank->type & kBankLiteral) {
    out = v->rangeLow;
    return true;
  }
  // Structured code shares registers between the values of one variable:
  // the register holds what the last write of any of them left.
  if (m_structured && v->reg != kNoIndex && v->component != kNoIndex) {
    const auto it = m_registers.find({v->bank, v->reg, v->component});
    if (it != m_registers.end()) {
      out = it->second;
      return true;
    }
  }
  if (m_written[value]) {
    if (!Content(value, out)) return Fail("register of value " + std::to_string(value) + " lost its content");
    return true;
  }
  if (bank->type & kBankInitialised) {
    const auto it = m_registers.find({v->bank, v->reg, v->component});
    if (it != m_registers.end()) {
      out = it->second;
      return true;
    }
  }
  return Fail("value " + std::to_string(value) + " read before it was written");
}

bool IrInterpreter::ReadLiteralRegister(const RegisterKey& key, double& out) {
  // A literal table holds one literal per register component; one that names
  // two different values has no answer.
  bool found = false;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    const IrValue* w = m_p.values[i];
    if (!w || w->bank != std::get<0>(key) || w->reg != std::get<1>(key) || w->component != std::get<2>(key) ||
        w->relativeIndex != kNoIndex)
      continue;
    if (found && w->rangeLow != out)
      return Fail("literal register " + std::to_string(std::get<1>(key)) + " is ambiguous");
    out = w->rangeLow;
    found = true;
  }
  return found || Fail("relative read outside the literal registers: register " + std::to_string(std::get<1>(key)));
}

bool IrInterpreter::Write(std::uint32_t value, double x) {
  const IrValue* v = m_p.values[value];
  if (!v) return Fail("write of missing value " + std::to_string(value));
  if (v->binding & kResultShiftBits) return Fail("result shift of value " + std::to_string(value) + " is not interpreted");
  if (v->binding & kSaturateResult) x = std::min(std::max(x, 0.0), 1.0);
  m_values[value] = x;
  m_written[value] = true;
  RegisterKey key;
  if (v->reg != kNoIndex && v->component != kNoIndex) {
    if (!Location(*v, key)) return false;
    m_registers[key] = x;
  }
  return true;
}

bool IrInterpreter::Content(std::uint32_t value, double& out) const {
  out = m_values[value];
  const IrValue* v = m_p.values[value];
  const RegisterBank* bank = v ? m_p.banks[v->bank] : nullptr;
  if (m_mode != Mode::kPhysicalRegisters || !bank || !(bank->type & kBankWritable) || v->reg == kNoIndex ||
      v->component == kNoIndex || v->relativeIndex != kNoIndex)
    return true;
  const auto it = m_registers.find({v->bank, v->reg, v->component});
  if (it == m_registers.end()) return false;
  out = it->second;
  return true;
}

bool IrInterpreter::GuardHolds(std::uint32_t value) const {
  const IrValue* v = m_p.values[value];
  if (!v) return true;
  // Without a predicate, sense 0 marks a value that is never written.
  if (v->predicate == kNoIndex) return v->predicateSense != 0;
  const std::uint32_t p = v->predicate;
  // A predicate outside a predicate bank guards nothing: the blocks around
  // the instruction decide whether it runs.
  const IrValue* pv = m_p.values[p];
  const RegisterBank* pb = pv ? m_p.banks[pv->bank] : nullptr;
  if (pb && !(pb->type & kBankPredicate)) return true;
  if (p >= m_written.size() || !m_written[p]) return false;  // the block was not entered
  double test;
  if (!Content(p, test)) return false;
  return (test != 0.0) == (v->predicateSense != 0);
}

bool IrInterpreter::ExecuteSample(const IrInstruction& inst, const std::vector<double>& a, std::vector<double>& r) {
  const std::uint32_t g = inst.Group(), w = inst.Width();
  const std::uint32_t kind = (g - 0x600) / 5 + 1, mode = (g - 0x600) % 5;  // plain, grad, proj, bias, lod
  const std::uint32_t dims = std::min<std::uint32_t>(kind, 3);
  const IrValue* sampler = m_p.values[inst.arguments[0]];
  if (!sampler || sampler->reg == kNoIndex) return Fail("sample without a sampler register");
  if (a.size() < 2 * w) return Fail("sample without coordinates");
  double p[3] = {0, 0, 0};
  for (std::uint32_t i = 0; i < dims; ++i) p[i] = a[w + i];
  double lod = 0.0;
  if (mode == 1) {
    double dx = 0, dy = 0;
    for (std::uint32_t i = 0; i < dims; ++i) {
      dx += a[2 * w + i] * a[2 * w + i];
      dy += a[3 * w + i] * a[3 * w + i];
    }
    lod = std::sqrt(std::max(dx, dy));
  } else if (mode >= 2) {
    if (w < 4) return Fail("projected, biased or level sample narrower than 4");
    if (mode == 2)
      for (double& c : p) c /= a[w + 3];
    else
      lod = a[w + 3];
  }
  if (kind == 4) {  // a cube: the face coordinates of the direction
    const double m = std::max({std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2])});
    for (double& c : p) c /= m;
  }
  const Texel t = ProceduralTexel(sampler->reg, kind, p, lod);
  r = {t.r, t.g, t.b, t.a};
  return true;
}

bool IrInterpreter::ExecuteLoopControl(const IrInstruction& inst, std::uint32_t& pc, const std::vector<double>& a,
                                       std::vector<double>& r) {
  switch (inst.Group()) {
    case kOpLoopBegin:
    case 0x741: {
      const std::int32_t count = TruncToInt32(a.at(0));
      if (count < 1) return Fail("loop of fewer than one iteration");
      m_loops.push_back(LoopFrame{pc, count, 0, false, {}});
      if (inst.Group() == 0x741 && !StartCounter(m_loops.back(), a)) return false;
      r.assign(inst.resultCount, 1.0);
      return true;
    }
    case kOpLoopEntry:
      if (m_loops.empty()) return Fail("loop entry outside a loop");
      r = m_loops.back().iteration == 0 ? a : m_loops.back().carried;
      if (r.size() != inst.resultCount) return Fail("loop entry and loop end widths differ");
      return true;
    case kOpBreak:
      if (m_loops.empty()) return Fail("break outside a loop");
      if (a.at(0) == 0.0) m_loops.back().broken = true;
      r = a;
      return true;
    case kOpLoopEnd: {
      if (m_loops.empty()) return Fail("loop end outside a loop");
      LoopFrame& frame = m_loops.back();
      if (!frame.broken && ++frame.iteration < frame.count) {
        frame.carried = a;
        pc = frame.begin + 1;  // back to the loop entry
        StepCounter(frame);
        r.clear();
        return true;
      }
      EndLoop();
      r = a;
      return true;
    }
  }
  return Fail("not a loop operation");
}

bool IrInterpreter::Execute(std::uint32_t& pc) {
  const IrInstruction* inst = m_p.instructions[pc];
  const std::uint32_t position = pc++;
  if (!inst || inst->Group() == kOpNop) return true;
  if (m_structured && IsStructured(inst->Group())) return ExecuteStructured(*inst, pc);
  if (inst->resultCount && !GuardHolds(inst->results[0])) {
    for (std::uint32_t i = 0; i < inst->resultCount; ++i)
      if (inst->results[i] < m_written.size()) m_written[inst->results[i]] = false;
    return true;
  }
  const std::uint32_t g = inst->Group(), n = inst->Width();
  std::vector<double>& a = m_arguments;
  std::vector<double>& r = m_results;
  a.assign(inst->argumentCount, 0.0);
  r.clear();
  // Merges read only the side that was written.
  const bool merge = g == kOpIfMerge || g == kOpBreakMerge;
  // A sample's first group names the sampler: no number to read.
  const std::uint32_t first = inst->Class() == 6 ? std::min(n, inst->argumentCount) : 0;
  for (std::uint32_t i = first; i < inst->argumentCount; ++i) {
    const std::uint32_t v = inst->arguments[i];
    if (merge && !(v < m_written.size() && m_written[v])) continue;
    if (!Read(v, a[i])) return false;
  }
  if (merge) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t then = inst->arguments[i];
      r.push_back(then < m_written.size() && m_written[then] ? a[i] : a[n + i]);
    }
  } else if (!m_structured && ((g >= kOpLoopBegin && g <= kOpLoopEnd && g != kOpLoopEntryCopy) || g == 0x741)) {
    std::uint32_t next = position;
    if (!ExecuteLoopControl(*inst, next, a, r)) return false;
    if (next != position) {
      pc = next;
      return true;
    }
  } else if (g == kOpDiscard) {
    if (std::any_of(a.begin(), a.end(), [](double x) { return x < 0.0; })) m_discarded = true;
    r = a;
  } else if (IsUnary(g)) {
    for (double x : a) r.push_back(Unary(g, x));
    // A scalar operation writes its one result to every result value.
    if (a.size() == 1 && inst->resultCount > 1) {
      const double x = r[0];
      r.assign(inst->resultCount, x);
    }
  } else if (IsBinary(g)) {
    for (std::uint32_t i = 0; i < n; ++i) r.push_back(Binary(g, a[i], a[n + i]));
  } else if (g == kOpSelect) {
    for (std::uint32_t i = 0; i < n; ++i) r.push_back(a[i] >= 0.0 ? a[n + i] : a[2 * n + i]);
  } else if (g == kOpDot) {
    double sum = 0.0;
    for (std::uint32_t i = 0; i < n; ++i) sum += a[i] * a[n + i];
    r.assign(inst->resultCount, sum);
  } else if (g == kOpLit && n == 4) {
    r = {1.0, std::max(0.0, a[0]), a[0] > 0.0 && a[1] > 0.0 ? std::pow(a[1], a[3]) : 0.0, 1.0};
  } else if (g == kOpNoise) {
    // The kit's stand-in for noise: smooth and deterministic.
    double s = 0.0;
    for (std::uint32_t i = 0; i < n; ++i) s += (i + 1) * a[i];
    r = {0.5 * std::sin(s)};
  } else if (g == kOpSinCos) {
    r.assign(inst->resultCount, kNaN);  // only the first two components are defined
    if (!r.empty()) r[0] = std::cos(a.at(0));
    if (r.size() > 1) r[1] = std::sin(a.at(0));
  } else if (g >= kOpTex1D && g <= kOpTexCubeLod) {
    if (!ExecuteSample(*inst, a, r)) return false;
  } else if (g >= 0x744 && g <= 0x747) {
    // breakc ne, eq, lt, ge: taken where the comparison holds; its value,
    // like that of 0x114, is zero where the loop is left.
    if (m_loops.empty()) return Fail("break outside a loop");
    static constexpr std::uint32_t kOrder[] = {2, 3, 1, 0};  // as setp ge, lt, ne, eq
    std::vector<double> truth;
    if (a.size() < 2 || !Selected(0x735 + kOrder[g - 0x744], 1, a, truth, 1)) return Fail("breakc operands");
    if (truth[0] != 0.0) m_loops.back().broken = true;
    r.assign(inst->resultCount, truth[0] != 0.0 ? 0.0 : 1.0);
  } else if (Selected(g, n, a, r, inst->resultCount)) {
  } else {
    return Fail("operation group " + std::to_string(g) + " is not interpreted");
  }
  if (r.size() != inst->resultCount) return Fail("result count of group " + std::to_string(g));
  for (std::uint32_t i = 0; i < inst->resultCount; ++i)
    if (!Write(inst->results[i], r[i])) return false;
  return true;
}

// --- Structured flow control ----------------------------------------------------------

bool IrInterpreter::IsStructured(std::uint32_t g) { return g >= 0x730 && g <= 0x74B && (g < 0x735 || g > 0x738); }

bool IrInterpreter::StartCounter(LoopFrame& frame, const std::vector<double>& a) {
  if (a.size() < 3) return Fail("loop without start and step");
  if (m_counterBank == kNoIndex) return Fail("loop without an aL bank");
  frame.counted = true;
  frame.step = a[2];
  frame.counterValue = a[1];
  m_registers[{m_counterBank, 0, 0}] = a[1];
  return true;
}

void IrInterpreter::StepCounter(LoopFrame& frame) {
  if (frame.counted) m_registers[{m_counterBank, 0, 0}] = frame.counterValue += frame.step;
}

void IrInterpreter::EndLoop() {
  const bool counted = m_loops.back().counted;
  m_loops.pop_back();
  // aL is the innermost counted loop's: an outer one gets its own back.
  if (!counted) return;
  for (auto it = m_loops.rbegin(); it != m_loops.rend(); ++it)
    if (it->counted) {
      m_registers[{m_counterBank, 0, 0}] = it->counterValue;
      return;
    }
}

std::uint32_t IrInterpreter::MatchingEnd(std::uint32_t from, bool loop, bool stopAtElse) const {
  std::int32_t depth = 0;
  for (std::uint32_t i = from + 1; i < m_p.instructions.Count(); ++i) {
    const IrInstruction* inst = m_p.instructions[i];
    const std::uint32_t g = inst ? inst->Group() : 0;
    const bool open = loop ? (g == 0x741 || g == 0x742) : (g == 0x730 || g == 0x732 || (g >= 0x739 && g <= 0x73C));
    const bool close = loop ? (g == 0x74A || g == 0x74B) : g == 0x734;
    if (open) ++depth;
    if (close && depth-- == 0) return i;
    if (!loop && stopAtElse && depth == 0 && InOperationSet7(inst ? inst->word : 0)) return i;
  }
  return kNoIndex;
}

bool IrInterpreter::ExecuteStructured(const IrInstruction& inst, std::uint32_t& pc) {
  const std::uint32_t g = inst.Group(), position = pc - 1;
  std::vector<double>& a = m_arguments;
  const bool endIf = g == 0x734;
  a.assign(inst.argumentCount, 0.0);
  for (std::uint32_t i = endIf ? inst.argumentCount : 0; i < inst.argumentCount; ++i)
    if (!Read(inst.arguments[i], a[i])) return false;
  auto compare = [&](std::uint32_t c) {  // ge, lt, ne, eq
    if (a.size() < 2) return Fail("comparison without two operands"), false;
    return c == 0 ? a[0] >= a[1] : c == 1 ? a[0] < a[1] : c == 2 ? a[0] != a[1] : a[0] == a[1];
  };
  if (g == 0x730 || g == 0x732 || (g >= 0x739 && g <= 0x73C)) {
    if (a.empty()) return Fail("if without a condition");
    const bool taken = g == 0x730 ? a[0] != 0.0 : g == 0x732 ? a[0] == 0.0 : compare(g - 0x739);
    if (!m_error.empty()) return false;
    for (std::uint32_t i = 0; i < inst.resultCount; ++i)
      if (!Write(inst.results[i], taken ? 1.0 : 0.0)) return false;
    m_ifs.push_back(taken);
    if (taken) return true;
    const std::uint32_t next = MatchingEnd(position, false, true);
    if (next == kNoIndex) return Fail("if without an endif");
    pc = m_p.instructions[next]->Group() == 0x734 ? next : next + 1;
    return true;
  }
  if (InOperationSet7(inst.word)) {  // the then side is done
    const std::uint32_t end = MatchingEnd(position, false, false);
    if (end == kNoIndex) return Fail("else without an endif");
    pc = end;
    return true;
  }
  if (endIf) {
    if (m_ifs.empty()) return Fail("endif without an if");
    const bool taken = m_ifs.back();
    m_ifs.pop_back();
    const std::uint32_t n = inst.Width();
    if (inst.argumentCount < 2 * n || inst.resultCount != n) return Fail("endif operands");
    for (std::uint32_t i = 0; i < n; ++i) {
      double x;
      if (!Read(inst.arguments[taken ? i : n + i], x) || !Write(inst.results[i], x)) return false;
    }
    return true;
  }
  if (g == 0x741 || g == 0x742) {
    if (a.empty()) return Fail("loop without a count");
    const std::int32_t count = TruncToInt32(a[0]);
    m_loops.push_back(LoopFrame{position, count, 0, false, {}});
    m_loops.back().ifDepth = m_ifs.size();
    if (g == 0x741 && !StartCounter(m_loops.back(), a)) return false;
    if (count >= 1) return true;
    const std::uint32_t end = MatchingEnd(position, true, false);
    if (end == kNoIndex) return Fail("loop without an end");
    EndLoop();
    pc = end + 1;
    return true;
  }
  if (g == 0x74A || g == 0x74B) {
    if (m_loops.empty()) return Fail("loop end outside a loop");
    LoopFrame& frame = m_loops.back();
    if (++frame.iteration < frame.count) {
      StepCounter(frame);
      pc = frame.begin + 1;
    } else {
      EndLoop();
    }
    return true;
  }
  if (g >= 0x744 && g <= 0x747) {
    static constexpr std::uint32_t kCompare[] = {2, 3, 1, 0};  // ne, eq, lt, ge
    if (m_loops.empty()) return Fail("break outside a loop");
    const bool taken = compare(kCompare[g - 0x744]);
    if (!m_error.empty()) return false;
    for (std::uint32_t i = 0; i < inst.resultCount; ++i)
      if (!Write(inst.results[i], taken ? 0.0 : 1.0)) return false;
    if (!taken) return true;
    const std::uint32_t end = MatchingEnd(m_loops.back().begin, true, false);
    if (end == kNoIndex) return Fail("loop without an end");
    // The ifs opened inside the loop close with it.
    while (m_ifs.size() > m_loops.back().ifDepth) m_ifs.pop_back();
    EndLoop();
    pc = end + 1;
    return true;
  }
  return Fail("structured operation " + std::to_string(g) + " is not interpreted");
}

bool IrInterpreter::Run() {
  m_error.clear();
  for (std::uint32_t pc = 0; pc < m_p.instructions.Count();) {
    if (++m_steps > kMaxSteps) return Fail("step limit reached");
    if (!Execute(pc)) return false;
  }
  if (!m_loops.empty()) return Fail("loop without an end");
  return true;
}

}  // namespace irkit
