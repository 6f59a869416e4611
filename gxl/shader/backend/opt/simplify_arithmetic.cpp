// Arithmetic rewriting by exact identities. Each rule leaves fewer
// instructions, or reads values defined earlier, so the rounds settle:
// - literals of a sum (product) of a sum (product) read once meet in the
//   outer instruction: (x + a) + b -> x + (a + b);
// - only the sign of what a select or a discard tests matters: x + x and
//   x * c with a literal c > 0 test as x;
// - a sum or product whose components are each a literal coefficient times
//   one base value (through moves, negations and literal products) becomes
//   one move, negation, doubling or literal product of the bases;
// - a product of two less-than tests of one value against literals is the
//   tighter test (in the rounds' long tail, also through products of them);
// - the fraction of x + n, n a whole literal, is the fraction of x.
#include <cmath>

#include "gxl/shader/backend/opt/fold.h"

namespace gxl::shader {

namespace {

// x < bound (upper) or bound < x, on one tested value x.
struct RangeTest {
  std::uint32_t tested = kNoIndex;
  double bound = 0.0;
  bool upper = false;
};

// How many products of tests a test is read through once the rounds are in
// their long tail: a chain of products, each the last times one more test
// (the passes of a kept loop, each tested against its count), then tightens
// this many links a round instead of one. Before, only tests themselves are
// read, so the code of programs whose rounds settle early stays as it was.
constexpr std::uint32_t kRangeTestDepth = 32;

struct Term {
  double coefficient = 1.0;
  std::uint32_t base = kNoIndex;
  bool lookedThrough = false;
};

class ArithmeticSimplifier {
 public:
  explicit ArithmeticSimplifier(ShaderProgram& p) : m_p(p) {}
  HRESULT Run();
  // The three walks' work on one instruction.
  HRESULT ReassociateAt(std::uint32_t position, bool* changed);
  bool SignTestAt(std::uint32_t position);
  HRESULT CoefficientsAt(std::uint32_t position, bool* changed);

 private:
  bool Exact(const IrInstruction& inst) const {
    return inst.resultCount && fold::Has(m_p, inst.results[0], kValueExact);
  }
  bool FiniteLiteral(std::uint32_t value, double* x) const {
    if (!opt::IsLiteral(m_p, value) || !std::isfinite(m_p.values[value]->rangeLow)) return false;
    *x = m_p.values[value]->rangeLow;
    return true;
  }
  // The instruction defining `value`, when it may be looked through: a
  // direct, computed value without the exact flag.
  const IrInstruction* Through(std::uint32_t value, std::uint32_t* slot) const {
    const IrValue* v = m_p.values[value];
    if (!v || v->relativeIndex != kNoIndex || (v->flags & kValueExact) ||
        !(opt::BankTypeOf(m_p, value) & kBankWritable) || (opt::BankTypeOf(m_p, value) & kBankBlockMoves))
      return nullptr;
    return fold::Definer(m_p, value, slot);
  }
  std::uint32_t Literal(double x);
  Term DecomposeTerm(std::uint32_t value) const;
  bool Reassociate(IrInstruction& outer);
  bool SimplifySignTest(IrInstruction& inst);
  HRESULT RebuildCoefficients(IrInstruction& inst, bool* changed);
  // The less-than test of one value against a literal that `value` is,
  // through up to `depth` products of such tests.
  bool TestOf(std::uint32_t value, std::uint32_t depth, RangeTest* test) const;
  static bool Joins(const RangeTest& a, const RangeTest& b) { return a.tested == b.tested && a.upper == b.upper; }
  HRESULT TightenRangeTests(IrInstruction& inst, bool* changed);
  bool FractionOfSum(IrInstruction& inst);

  ShaderProgram& m_p;
  HRESULT m_status = S_OK;
};

std::uint32_t ArithmeticSimplifier::Literal(double x) {
  const std::uint32_t index = m_p.AddValue(m_p.StandardBankIndex(StandardBank::Literals), kNoIndex, kNoIndex, x);
  if (IrValue* v = m_p.values[index]) v->renumber = index;
  return index;
}

Term ArithmeticSimplifier::DecomposeTerm(std::uint32_t value) const {
  Term t;
  for (std::uint32_t steps = 0; steps < 64; ++steps) {
    t.base = value;
    std::uint32_t slot;
    const IrInstruction* d = Through(value, &slot);
    if (!d || d->Class() < 1 || d->Class() > 2) return t;
    const std::uint32_t a = opt::Root(m_p, opt::Column(*d, 0, slot));
    double x;
    if (d->Group() == kOpMove || d->Group() == kOpNegate) {
      if (d->Group() == kOpNegate) t.coefficient = -t.coefficient;
      value = a;
    } else if (d->Group() == kOpMultiply && d->Class() == 2) {
      const std::uint32_t b = opt::Root(m_p, opt::Column(*d, 1, slot));
      if (FiniteLiteral(b, &x)) {
        value = a;
      } else if (FiniteLiteral(a, &x)) {
        value = b;
      } else {
        return t;
      }
      if (!std::isfinite(t.coefficient * x) || x == 0.0) return t;
      t.coefficient *= x;
    } else {
      return t;
    }
    t.lookedThrough = true;
  }
  return t;
}

bool ArithmeticSimplifier::Reassociate(IrInstruction& outer) {
  const std::uint32_t group = outer.Group();
  if (outer.Class() != 2 || (group != kOpAdd && group != kOpMultiply) || Exact(outer)) return false;
  bool changed = false;
  for (std::uint32_t k = 0; k < outer.Width(); ++k) {
    for (std::uint32_t side = 0; side < 2; ++side) {
      const std::uint32_t x = opt::Root(m_p, opt::Column(outer, side, k));
      double c, d;
      if (!FiniteLiteral(opt::Root(m_p, opt::Column(outer, 1 - side, k)), &c)) continue;
      std::uint32_t slot;
      const IrInstruction* inner = Through(x, &slot);
      if (!inner || inner->Group() != group || inner->Class() != 2 || m_p.values[x]->useCount != 1) continue;
      const std::uint32_t u = opt::Root(m_p, opt::Column(*inner, 0, slot));
      const std::uint32_t w = opt::Root(m_p, opt::Column(*inner, 1, slot));
      std::uint32_t y;
      if (FiniteLiteral(w, &d) && !opt::IsLiteral(m_p, u)) {
        y = u;
      } else if (FiniteLiteral(u, &d) && !opt::IsLiteral(m_p, w)) {
        y = w;
      } else {
        continue;
      }
      const double combined = group == kOpAdd ? c + d : c * d;
      if (!std::isfinite(combined)) continue;
      const std::uint32_t literal = Literal(combined);
      if (literal == kNoIndex) {
        m_status = E_OUTOFMEMORY;
        return changed;
      }
      outer.arguments[side * outer.Width() + k] = y;
      outer.arguments[(1 - side) * outer.Width() + k] = literal;
      changed = true;
      break;
    }
  }
  return changed;
}

bool ArithmeticSimplifier::SimplifySignTest(IrInstruction& inst) {
  const bool select = inst.Group() == kOpSelect && inst.Class() == 3;
  // A discard's results copy what it tests: only unread ones may change.
  bool discard = inst.Group() == kOpDiscard && inst.Class() == 1;
  for (std::uint32_t r = 0; discard && r < inst.resultCount; ++r)
    discard = !m_p.values[inst.results[r]] || m_p.values[inst.results[r]]->useCount == 0;
  if ((!select && !discard) || Exact(inst)) return false;
  bool changed = false;
  for (std::uint32_t k = 0; k < inst.Width(); ++k) {
    std::uint32_t a = opt::Root(m_p, inst.arguments[k]);
    const std::uint32_t original = a;
    for (std::uint32_t steps = 0; steps < 64; ++steps) {
      std::uint32_t slot;
      const IrInstruction* d = Through(a, &slot);
      if (!d || d->Class() != 2) break;
      const std::uint32_t u = opt::Root(m_p, opt::Column(*d, 0, slot));
      const std::uint32_t v = opt::Root(m_p, opt::Column(*d, 1, slot));
      double c;
      if (d->Group() == kOpAdd && u == v) {
        a = u;
      } else if (d->Group() == kOpMultiply && FiniteLiteral(v, &c) && c > 0) {
        a = u;
      } else if (d->Group() == kOpMultiply && FiniteLiteral(u, &c) && c > 0) {
        a = v;
      } else {
        break;
      }
    }
    if (a != original) {
      inst.arguments[k] = a;
      changed = true;
    }
  }
  return changed;
}

HRESULT ArithmeticSimplifier::RebuildCoefficients(IrInstruction& inst, bool* changed) {
  const std::uint32_t group = inst.Group(), w = inst.Width();
  if (inst.Class() != 2 || (group != kOpAdd && group != kOpMultiply) || w == 0 || w > 16 || Exact(inst)) return S_OK;
  double coefficient[16];
  std::uint32_t base[16];
  bool lookedThrough = false;
  for (std::uint32_t k = 0; k < w; ++k) {
    const std::uint32_t a = opt::Root(m_p, opt::Column(inst, 0, k)), b = opt::Root(m_p, opt::Column(inst, 1, k));
    double x;
    if (group == kOpAdd) {
      if (opt::IsLiteral(m_p, a) || opt::IsLiteral(m_p, b)) return S_OK;
      const Term s = DecomposeTerm(a), t = DecomposeTerm(b);
      if (s.base != t.base) return S_OK;
      coefficient[k] = s.coefficient + t.coefficient;
      base[k] = s.base;
      lookedThrough = lookedThrough || s.lookedThrough || t.lookedThrough || a == b;
    } else {
      const bool literalB = FiniteLiteral(b, &x);
      if (!literalB && !FiniteLiteral(a, &x)) return S_OK;
      const Term s = DecomposeTerm(literalB ? a : b);
      if (opt::IsLiteral(m_p, s.base)) return S_OK;
      coefficient[k] = s.coefficient * x;
      base[k] = s.base;
      lookedThrough = lookedThrough || s.lookedThrough;
    }
    if (!std::isfinite(coefficient[k])) return S_OK;
  }
  if (!lookedThrough) return S_OK;

  bool common = true, unit = true;
  for (std::uint32_t k = 0; k < w; ++k) {
    common = common && coefficient[k] == coefficient[0];
    unit = unit && std::fabs(coefficient[k]) <= 1.0;
  }
  const double c = coefficient[0];
  std::uint32_t newGroup, classCount;
  if (common && (c == 1.0 || c == 0.0 || c == -1.0)) {
    newGroup = c == -1.0 ? kOpNegate : kOpMove;
    classCount = 1;
  } else if (common && c == 2.0) {
    newGroup = kOpAdd;
    classCount = 2;
  } else {
    if ((m_p.profileLimits.capabilities & cap::kUnitCoefficients) && !unit) return S_OK;
    newGroup = kOpMultiply;
    classCount = 2;
  }
  // The same form again is no rewrite.
  if (newGroup == kOpAdd && group == kOpAdd) {
    bool same = true;
    for (std::uint32_t k = 0; k < w && same; ++k)
      same = opt::Root(m_p, opt::Column(inst, 0, k)) == base[k] && opt::Root(m_p, opt::Column(inst, 1, k)) == base[k];
    if (same) return S_OK;
  }
  if (newGroup == kOpMultiply && group == kOpMultiply) {
    bool same = true;
    for (std::uint32_t k = 0; k < w && same; ++k) {
      const std::uint32_t a = opt::Root(m_p, opt::Column(inst, 0, k)), b = opt::Root(m_p, opt::Column(inst, 1, k));
      same = (a == base[k] && fold::IsLiteralEqual(m_p, b, coefficient[k])) ||
             (b == base[k] && fold::IsLiteralEqual(m_p, a, coefficient[k]));
    }
    if (same) return S_OK;
  }

  std::uint32_t arguments[32];
  for (std::uint32_t k = 0; k < w; ++k) {
    if (newGroup == kOpMove && c == 0.0) {
      const std::uint32_t zero = k ? arguments[0] : Literal(0.0);
      if (zero == kNoIndex) return E_OUTOFMEMORY;
      arguments[k] = zero;
      continue;
    }
    arguments[k] = base[k];
    if (newGroup == kOpAdd) arguments[w + k] = base[k];
    if (newGroup == kOpMultiply) {
      std::uint32_t literal = kNoIndex;
      for (std::uint32_t j = 0; j < k && literal == kNoIndex; ++j)
        if (coefficient[j] == coefficient[k]) literal = arguments[w + j];
      if (literal == kNoIndex && (literal = Literal(coefficient[k])) == kNoIndex) return E_OUTOFMEMORY;
      arguments[w + k] = literal;
    }
  }
  inst.word = IrWord(newGroup, w);
  inst.argumentCount = classCount * w;
  std::copy(arguments, arguments + inst.argumentCount, inst.arguments);
  *changed = true;
  return S_OK;
}

bool ArithmeticSimplifier::TestOf(std::uint32_t value, std::uint32_t depth, RangeTest* test) const {
  std::uint32_t slot;
  const IrInstruction* d = Through(value, &slot);
  if (!d || d->Class() != 2) return false;
  if (d->Group() == kOpLess) {
    const std::uint32_t u = opt::Root(m_p, opt::Column(*d, 0, slot));
    const std::uint32_t v = opt::Root(m_p, opt::Column(*d, 1, slot));
    test->upper = FiniteLiteral(v, &test->bound);
    if (!test->upper && !FiniteLiteral(u, &test->bound)) return false;
    test->tested = test->upper ? u : v;
    return !opt::IsLiteral(m_p, test->tested);
  }
  // A product of tests not yet tightened reads as the tightened test.
  if (d->Group() != kOpMultiply || !depth || Exact(*d)) return false;
  RangeTest sides[2];
  for (std::uint32_t side = 0; side < 2; ++side)
    if (!TestOf(opt::Root(m_p, opt::Column(*d, side, slot)), depth - 1, &sides[side])) return false;
  if (!Joins(sides[0], sides[1])) return false;
  *test = sides[0];
  test->bound = test->upper ? std::min(sides[0].bound, sides[1].bound) : std::max(sides[0].bound, sides[1].bound);
  return true;
}

HRESULT ArithmeticSimplifier::TightenRangeTests(IrInstruction& inst, bool* changed) {
  const std::uint32_t w = inst.Width();
  if (inst.Group() != kOpMultiply || inst.Class() != 2 || w == 0 || w > 16 || Exact(inst)) return S_OK;
  // Each component: (x < a) * (x < b), or (a < x) * (b < x), on one x.
  const std::uint32_t depth = m_p.optimizerRound >= kLongOptimizerRounds ? kRangeTestDepth : 0;
  std::uint32_t tested[16];
  double bound[16];
  bool upper[16];
  for (std::uint32_t k = 0; k < w; ++k) {
    RangeTest sides[2];
    for (std::uint32_t side = 0; side < 2; ++side)
      if (!TestOf(opt::Root(m_p, opt::Column(inst, side, k)), depth, &sides[side])) return S_OK;
    if (!Joins(sides[0], sides[1])) return S_OK;
    tested[k] = sides[0].tested;
    upper[k] = sides[0].upper;
    bound[k] = sides[0].upper ? std::min(sides[0].bound, sides[1].bound) : std::max(sides[0].bound, sides[1].bound);
  }
  std::uint32_t arguments[32];
  for (std::uint32_t k = 0; k < w; ++k) {
    const std::uint32_t literal = Literal(bound[k]);
    if (literal == kNoIndex) return E_OUTOFMEMORY;
    arguments[k] = upper[k] ? tested[k] : literal;
    arguments[w + k] = upper[k] ? literal : tested[k];
  }
  inst.word = IrWord(kOpLess, w);
  std::copy(arguments, arguments + 2 * w, inst.arguments);
  *changed = true;
  return S_OK;
}

bool ArithmeticSimplifier::FractionOfSum(IrInstruction& inst) {
  if (inst.Group() != kOpFraction || inst.Class() != 1 || Exact(inst)) return false;
  bool changed = false;
  for (std::uint32_t k = 0; k < inst.Width(); ++k) {
    std::uint32_t slot;
    const IrInstruction* d = Through(opt::Root(m_p, inst.arguments[k]), &slot);
    if (!d || d->Group() != kOpAdd || d->Class() != 2) continue;
    for (std::uint32_t side = 0; side < 2; ++side) {
      double n;
      const std::uint32_t x = opt::Root(m_p, opt::Column(*d, 1 - side, slot));
      if (!FiniteLiteral(opt::Root(m_p, opt::Column(*d, side, slot)), &n) || n != std::floor(n) ||
          opt::IsLiteral(m_p, x))
        continue;
      inst.arguments[k] = x;
      changed = true;
      break;
    }
  }
  return changed;
}

HRESULT ArithmeticSimplifier::ReassociateAt(std::uint32_t position, bool* changed) {
  IrInstruction* inst = m_p.instructions[position];
  if (!opt::IsEmpty(inst)) *changed |= Reassociate(*inst);
  return m_status;
}

bool ArithmeticSimplifier::SignTestAt(std::uint32_t position) {
  IrInstruction* inst = m_p.instructions[position];
  return !opt::IsEmpty(inst) && SimplifySignTest(*inst);
}

HRESULT ArithmeticSimplifier::CoefficientsAt(std::uint32_t position, bool* changed) {
  IrInstruction* inst = m_p.instructions[position];
  if (opt::IsEmpty(inst)) return S_OK;
  HRESULT hr;
  if (FAILED(hr = RebuildCoefficients(*inst, changed)) || FAILED(hr = TightenRangeTests(*inst, changed))) return hr;
  *changed |= FractionOfSum(*inst);
  return S_OK;
}

HRESULT ArithmeticSimplifier::Run() {
  HRESULT hr = m_p.RebuildDefUse();
  if (FAILED(hr)) return hr;
  m_p.NumberValues();
  bool changed = false;
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position)
    if (FAILED(hr = ReassociateAt(position, &changed))) return hr;
  if (changed && FAILED(hr = m_p.RebuildDefUse())) return hr;
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) changed |= SignTestAt(position);
  if (changed) return S_OK;

  for (std::uint32_t position = m_p.instructions.Count(); position-- > 0;)
    if (FAILED(hr = CoefficientsAt(position, &changed))) return hr;
  if (changed) return S_OK;
  return opt::FinishArithmetic(m_p);
}

}  // namespace

HRESULT ShaderProgram::SimplifyArithmetic() { return ArithmeticSimplifier(*this).Run(); }

HRESULT opt::ReassociateAt(ShaderProgram& p, std::uint32_t position, bool* changed) {
  return ArithmeticSimplifier(p).ReassociateAt(position, changed);
}

bool opt::SignTestAt(ShaderProgram& p, std::uint32_t position) { return ArithmeticSimplifier(p).SignTestAt(position); }

HRESULT opt::CoefficientsAt(ShaderProgram& p, std::uint32_t position, bool* changed) {
  return ArithmeticSimplifier(p).CoefficientsAt(position, changed);
}

HRESULT opt::FinishArithmetic(ShaderProgram& p) {
  HRESULT hr;
  for (HRESULT (ShaderProgram::*pass)() :
       {&ShaderProgram::RemoveDeadCode, &ShaderProgram::CompactInstructions, &ShaderProgram::RemoveUnusedValues}) {
    if (FAILED(hr = (p.*pass)())) return hr;
  }
  return S_FALSE;
}

}  // namespace gxl::shader
