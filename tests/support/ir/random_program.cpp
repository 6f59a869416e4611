#include "tests/support/ir/random_program.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace irkit {

using namespace gxl::shader;

namespace {

constexpr double kMagnitude = 1 << 20;  // no interval grows past this
constexpr double kAwayFromZero = 1.0 / 16;

struct Interval {
  double lo, hi;
};

Interval Hull(Interval a, Interval b) { return {std::min(a.lo, b.lo), std::max(a.hi, b.hi)}; }

Interval Product(Interval a, Interval b) {
  const double p[4] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
  return {*std::min_element(p, p + 4), *std::max_element(p, p + 4)};
}

double Bound(Interval a) { return std::max(std::fabs(a.lo), std::fabs(a.hi)); }

// The interval of one component of `group` over argument intervals.
Interval Range(std::uint32_t group, const Interval* a) {
  constexpr double pi = std::numbers::pi;
  switch (group) {
    case kOpMove: return a[0];
    case kOpNegate: return {-a[0].hi, -a[0].lo};
    case kOpReciprocal: return {1 / a[0].hi, 1 / a[0].lo};  // a[0] does not contain 0
    case kOpFraction: return {0, 1};
    case kOpExp2: return {std::exp2(a[0].lo), std::exp2(a[0].hi)};
    case kOpLog2: return {std::log2(a[0].lo), std::log2(a[0].hi)};
    case kOpRsq: return {1 / std::sqrt(a[0].hi), 1 / std::sqrt(a[0].lo)};
    case kOpSin:
    case kOpCos: return {-1, 1};
    case kOpAsin:
    case kOpAtan: return {-pi / 2, pi / 2};
    case kOpAcos: return {0, pi};
    case kOpMin: return {std::min(a[0].lo, a[1].lo), std::min(a[0].hi, a[1].hi)};
    case kOpMax: return {std::max(a[0].lo, a[1].lo), std::max(a[0].hi, a[1].hi)};
    case kOpLess:
    case kOpGreaterEqual: return {0, 1};
    case kOpAdd: return {a[0].lo + a[1].lo, a[0].hi + a[1].hi};
    case kOpMultiply: return Product(a[0], a[1]);
    case kOpAtan2: return {-pi, pi};
    case kOpSelect: return Hull(a[1], a[2]);
    default: return {-kMagnitude, kMagnitude};
  }
}

Values ValuesOf(const std::vector<RandomProgram::Typed>& typed) {
  Values out;
  for (const auto& t : typed) out.push_back(t.value);
  return out;
}

}  // namespace

RandomProgram::RandomProgram(ShaderProgram& program, std::uint32_t seed, const RandomShape& shape)
    : m_b(program), m_shape(shape), m_seed(seed), m_rng(seed) {
  m_scopes.emplace_back();
  for (std::uint32_t r = 0; r < shape.inputs; ++r)
    for (std::uint32_t v : m_b.Input(r)) Add({v, -2, 2});
  for (std::uint32_t r = 0; r < shape.constants; ++r)
    for (std::uint32_t v : m_b.Constant(r)) Add({v, -2, 2});
  for (double x : {0.0, 1.0, -1.0, 0.5, 2.0}) Add(Literal(x));
  for (std::uint32_t s = 0; s < shape.steps; ++s) Step(0);
  const std::uint32_t outputs = m_b.BankIndex(StandardBank::Outputs);
  for (std::uint32_t r = 0; r < shape.outputs; ++r) {
    std::vector<Typed> picked(1 + Pick(4));
    for (Typed& t : picked) t = AnyValue();
    m_b.Output(r, ValuesOf(picked));
    for (std::uint32_t c = 0; c < picked.size(); ++c) m_outputs.push_back({outputs, r, c});
  }
  m_instructions = program.instructions.Count();
}

RandomProgram::Typed RandomProgram::AnyValue() {
  std::size_t total = 0;
  for (const Scope& s : m_scopes) total += s.size();
  // Half the picks from the newest values, so that chains grow deep.
  std::size_t i = Chance(50) ? total - 1 - Pick(static_cast<std::uint32_t>(std::min<std::size_t>(total, 8)))
                             : Pick(static_cast<std::uint32_t>(total));
  for (const Scope& s : m_scopes) {
    if (i < s.size()) return s[i];
    i -= s.size();
  }
  return m_scopes.front().front();
}

RandomProgram::Typed RandomProgram::Literal(double x) { return {m_b.Literal(x), x, x}; }

std::vector<RandomProgram::Typed> RandomProgram::Emit(std::uint32_t group,
                                                      const std::vector<std::vector<Typed>>& groups) {
  const std::size_t width = groups.front().size();
  Values arguments;
  for (const auto& g : groups)
    for (const Typed& t : g) arguments.push_back(t.value);
  const Values results = group == kOpDot ? Values{m_b.Dot(ValuesOf(groups[0]), ValuesOf(groups[1]))}
                                         : m_b.Emit(group, arguments, static_cast<std::uint32_t>(width));
  std::vector<Typed> out;
  if (group == kOpDot) {
    Interval sum{0, 0};
    for (std::size_t k = 0; k < width; ++k) {
      const Interval p = Product({groups[0][k].lo, groups[0][k].hi}, {groups[1][k].lo, groups[1][k].hi});
      sum = {sum.lo + p.lo, sum.hi + p.hi};
    }
    out.push_back({results[0], sum.lo, sum.hi});
  } else if (group == kOpLit) {
    const Interval x{groups[0][0].lo, groups[0][0].hi}, y{groups[0][1].lo, groups[0][1].hi};
    const Interval w{groups[0][3].lo, groups[0][3].hi};
    const double power = std::max({std::pow(y.hi, w.hi), std::pow(y.hi, w.lo), std::pow(y.lo, w.hi),
                                   std::pow(y.lo, w.lo)});
    out = {{results[0], 1, 1}, {results[1], 0, std::max(0.0, x.hi)}, {results[2], 0, power}, {results[3], 1, 1}};
  } else {
    for (std::size_t k = 0; k < width; ++k) {
      Interval a[3];
      for (std::size_t g = 0; g < groups.size(); ++g) a[g] = {groups[g][k].lo, groups[g][k].hi};
      const Interval r = Range(group, a);
      out.push_back({results[k], r.lo, r.hi});
    }
  }
  for (const Typed& t : out) Add(t);
  return out;
}

RandomProgram::Typed RandomProgram::Unit(const Typed& t) { return Emit(kOpSin, {{t}})[0]; }

RandomProgram::Typed RandomProgram::Positive(const Typed& t) {
  const Typed x = Bound({t.lo, t.hi}) > 1024 ? Unit(t) : t;
  Typed square = Emit(kOpMultiply, {{x}, {x}})[0];
  // The square of one value is never negative, whatever the interval product says.
  square.lo = x.lo > 0 ? x.lo * x.lo : x.hi < 0 ? x.hi * x.hi : 0;
  m_scopes.back().back() = square;
  const double c = 0.25 * (1 + Pick(4));
  return Emit(kOpAdd, {{square}, {Literal(c)}})[0];
}

RandomProgram::Typed RandomProgram::Clamp(const Typed& t, double bound) {
  const Typed low = Emit(kOpMax, {{t}, {Literal(-bound)}})[0];
  return Emit(kOpMin, {{low}, {Literal(bound)}})[0];
}

void RandomProgram::Step(std::uint32_t depth) {
  if (depth < m_shape.maxDepth && Chance(m_shape.ifPercent)) return IfElse(depth);
  if (depth < m_shape.maxDepth && Chance(m_shape.loopPercent)) return Loop(depth);
  Operation();
}

void RandomProgram::RelativeRead() {
  // The index stays within the constant registers the inputs load.
  const std::uint32_t base = Pick(std::max<std::uint32_t>(m_shape.constants, 2) - 1);
  std::uint32_t index;
  if (Chance(40)) {
    index = Literal(Pick(2)).value;
  } else {
    const Typed test = Emit(Chance(50) ? kOpLess : kOpGreaterEqual, {{AnyValue()}, {AnyValue()}})[0];
    index = Chance(50) ? test.value : Emit(kOpAdd, {{Literal(0)}, {test}})[0].value;
  }
  const Values read = m_b.RelativeRegister(StandardBank::FloatConstants, base, index, 1 + Pick(4));
  for (std::uint32_t v : read) Add({v, -2, 2});
}

void RandomProgram::Operation() {
  // Tested first only when asked for, so that other shapes draw the numbers they always drew.
  if (m_shape.relativePercent && m_shape.constants >= 2 && Chance(m_shape.relativePercent)) return RelativeRead();
  static constexpr std::uint32_t kPlain[] = {kOpMove, kOpNegate, kOpFraction, kOpMin,  kOpMax,    kOpLess,
                                             kOpGreaterEqual, kOpAdd, kOpMultiply, kOpSelect, kOpDot, kOpAdd,
                                             kOpMultiply};
  static constexpr std::uint32_t kTranscendental[] = {kOpExp2, kOpLog2, kOpRsq,   kOpReciprocal, kOpSin, kOpCos,
                                                      kOpAsin, kOpAcos, kOpAtan, kOpAtan2,      kOpLit};
  const std::uint32_t plain = std::size(kPlain), all = plain + (m_shape.transcendental ? std::size(kTranscendental) : 0);
  const std::uint32_t k = Pick(all);
  std::uint32_t group = k < plain ? kPlain[k] : kTranscendental[k - plain];
  if (group == kOpLit && !m_shape.lit) group = kOpAtan2;
  if (Chance(10)) Add(Literal(0.25 * (static_cast<int>(Pick(17)) - 8)));  // a fresh literal now and then

  if (group == kOpLit) {
    Typed x = AnyValue(), y = AnyValue(), z = AnyValue(), w = AnyValue();
    if (x.lo <= 0 && x.hi >= 0) x = Chance(50) ? Positive(x) : Literal(Chance(50) ? 0.5 : -0.75);
    y = Positive(Unit(y));  // within [1/4, 2]
    if (Bound({w.lo, w.hi}) > 1) w = Unit(w);
    Emit(kOpLit, {{x, y, z, w}});
    return;
  }
  const std::uint32_t width = group == kOpDot ? 2 + Pick(3) : 1 + Pick(4);
  const std::uint32_t arity = group == kOpSelect ? 3 : (group >= kOpMin && group <= kOpAtan2) || group == kOpDot ? 2 : 1;
  std::vector<std::vector<Typed>> groups(arity, std::vector<Typed>(width));
  for (auto& g : groups)
    for (Typed& t : g) t = AnyValue();
  for (std::uint32_t c = 0; c < width; ++c) {
    Typed& a = groups[0][c];
    const Interval ia{a.lo, a.hi};
    switch (group) {
      case kOpLog2:
      case kOpRsq:
        if (a.lo < kAwayFromZero) a = Positive(a);
        break;
      case kOpReciprocal:
        if (a.lo < kAwayFromZero && a.hi > -kAwayFromZero) a = Positive(a);
        break;
      case kOpAsin:
      case kOpAcos:
        if (Bound(ia) > 1) a = Unit(a);
        break;
      case kOpExp2:
        if (Bound(ia) > 16) a = Unit(a);
        break;
      case kOpMultiply:
      case kOpDot:
        if (Bound(ia) * Bound({groups[1][c].lo, groups[1][c].hi}) > kMagnitude / 8) groups[1][c] = Unit(groups[1][c]);
        if (Bound(ia) > kMagnitude / 8) a = Unit(a);
        break;
      case kOpAdd:
        if (Bound(ia) + Bound({groups[1][c].lo, groups[1][c].hi}) > kMagnitude / 8) a = Unit(a);
        break;
      case kOpAtan2:
        // The sign of a zero y decides atan2 (y, x < 0), and folding knows no signed zeros.
        if (a.lo < kAwayFromZero && a.hi > -kAwayFromZero) {
          a = Positive(a);
          if (Chance(50)) a = Emit(kOpNegate, {{a}})[0];
        }
        break;
    }
  }
  Emit(group, groups);
}

std::vector<RandomProgram::Typed> RandomProgram::Block(std::uint32_t depth, std::uint32_t steps, std::uint32_t width) {
  m_scopes.emplace_back();
  for (std::uint32_t s = 0; s < steps; ++s) Step(depth);
  std::vector<Typed> picked(width);
  for (Typed& t : picked) t = AnyValue();
  m_scopes.pop_back();
  return picked;
}

void RandomProgram::IfElse(std::uint32_t depth) {
  std::uint32_t test;
  if (Chance(60)) {
    const Typed a = AnyValue(), b = AnyValue();
    test = Emit(Chance(50) ? kOpLess : kOpGreaterEqual, {{a}, {b}})[0].value;
  } else {
    test = AnyValue().value;
  }
  const std::uint32_t width = 1 + Pick(3);
  std::vector<Typed> thenValues, elseValues;
  const Values merged = m_b.If(
      test,
      [&] {
        thenValues = Block(depth + 1, 1 + Pick(3), width);
        return ValuesOf(thenValues);
      },
      [&] {
        elseValues = Block(depth + 1, 1 + Pick(3), width);
        return ValuesOf(elseValues);
      });
  for (std::uint32_t k = 0; k < width; ++k) {
    const Interval h = Hull({thenValues[k].lo, thenValues[k].hi}, {elseValues[k].lo, elseValues[k].hi});
    Add({merged[k], h.lo, h.hi});
  }
}

void RandomProgram::Loop(std::uint32_t depth) {
  constexpr double kCarried = 2;  // carried values are clamped to [-2, 2]
  const std::uint32_t count = 1 + Pick(3), width = 1 + Pick(3);
  std::vector<Typed> initial(width);
  for (Typed& t : initial) t = AnyValue();
  auto entryTyped = [&](const Values& entry) {
    std::vector<Typed> typed;
    for (std::uint32_t k = 0; k < width; ++k)
      typed.push_back({entry[k], std::min(initial[k].lo, -kCarried), std::max(initial[k].hi, kCarried)});
    return typed;
  };
  IrBuilder::LoopCondition condition;
  if (Chance(50)) {
    const double threshold = 0.25 * (static_cast<int>(Pick(9)) - 4);
    condition = [&, threshold](const Values& entry) {
      const Typed limit = Literal(threshold);
      m_scopes.emplace_back(entryTyped(entry));
      const std::uint32_t test = Emit(kOpLess, {{m_scopes.back()[0]}, {limit}})[0].value;
      m_scopes.pop_back();
      return test;
    };
  }
  const Values after = m_b.Loop(
      count, ValuesOf(initial),
      [&](const Values& entry) {
        m_scopes.emplace_back(entryTyped(entry));
        for (std::uint32_t s = 1 + Pick(3); s-- > 0;) Step(depth + 1);
        std::vector<Typed> carried(width);
        for (Typed& t : carried) t = Clamp(AnyValue(), kCarried);
        m_scopes.pop_back();
        return ValuesOf(carried);
      },
      condition);
  const std::vector<Typed> typed = entryTyped(after);
  for (const Typed& t : typed) Add(t);
}

void RandomProgram::LoadInputs(IrInterpreter& run, std::uint32_t index) const {
  std::mt19937 rng(m_seed * 7919u + index * 104729u + 1);
  std::uniform_real_distribution<double> magnitude(kAwayFromZero, 2.0);
  auto draw = [&] { return (rng() & 1 ? 1 : -1) * magnitude(rng); };
  for (std::uint32_t r = 0; r < m_shape.inputs; ++r)
    run.SetRegister(StandardBank::Inputs, r, {draw(), draw(), draw(), draw()});
  for (std::uint32_t r = 0; r < m_shape.constants; ++r)
    run.SetRegister(StandardBank::FloatConstants, r, {draw(), draw(), draw(), draw()});
}

bool RandomProgram::Evaluate(const ShaderProgram& program, std::uint32_t index, std::vector<double>& out,
                             std::string* error, IrInterpreter::Mode mode) const {
  IrInterpreter run(program, mode);
  LoadInputs(run, index);
  // A preshader runs first and hands its results to the constants that stand for them.
  if (program.preshader) {
    IrInterpreter pre(*program.preshader);
    LoadInputs(pre, index);
    if (!pre.Run()) {
      if (error) *error = "preshader: " + pre.Error();
      return false;
    }
    for (std::uint32_t i = 0; i < program.values.Count(); ++i)
      if (const IrValue* v = program.Value(i); v && v->preshaderOutput != kNoIndex)
        run.SetRegister(v->bank, v->reg, v->component, pre.Value(v->preshaderOutput));
  }
  if (!run.Run()) {
    if (error) *error = run.Error();
    return false;
  }
  out.clear();
  for (const Slot& s : m_outputs) out.push_back(run.Register(s.bank, s.reg, s.component));
  return true;
}

}  // namespace irkit
