// Folding of one component of a one-argument operation: facts, literal
// evaluation in extended precision with the domain rules, and identities
// through the instruction that defines the argument.
#include <cmath>

#include "gxl/shader/backend/opt/fold.h"

namespace gxl::shader {

namespace {

// A unary operation of a literal, or false when it does not fold.
struct Evaluation {
  bool folds = false;
  long double value = 0.0L;
  const Message* error = nullptr;
};

Evaluation EvaluateUnary(std::uint32_t group, long double x, bool exact) {
  auto value = [](long double v) { return Evaluation{true, v, nullptr}; };
  auto domainError = [](const Message& m) { return Evaluation{true, 0.0L, &m}; };
  switch (group) {
    case kOpNegate:
      return value(-x);
    case kOpReciprocal:
      return value(x == 0 && !exact ? 0.0L : 1.0L / x);
    case kOpFraction:
      return value(!std::isfinite(x) && !exact ? 0.0L : x - std::floor(x));
    case kOpExp2:
      return value(std::exp2(x));
    case kOpLog2:
      if (x < 0)
        return exact ? Evaluation{true, std::log(x) / std::log(2.0L), &msg::kIndefiniteLogarithm}
                     : domainError(msg::kIndefiniteLogarithm);
      if (x == 0 && !exact) return Evaluation{};
      return value(std::log(x) / std::log(2.0L));
    case kOpRsq:
      if (x < 0 && !exact) return domainError(msg::kImaginarySquareRoot);
      // rsq reads |x|: -0.0 has the root of 0, not its negative infinity.
      return value(x == 0 ? HUGE_VALL : 1.0L / std::sqrt(x));
    case kOpSin:
      return value(std::sin(x));
    case kOpCos:
      return value(std::cos(x));
    case kOpAsin:
      if ((x < -1 || x > 1) && !exact) return domainError(msg::kIndefiniteArcsine);
      return value(std::asin(x));
    case kOpAcos:
      if ((x < -1 || x > 1) && !exact) return domainError(msg::kIndefiniteArccosine);
      return value(std::acos(x));
    case kOpAtan:
      return value(std::atan(x));
    case kOpDdx:
    case kOpDdy:
      return value(0.0L);
    default:
      return Evaluation{};
  }
}

}  // namespace

HRESULT ShaderProgram::FoldConstantOperation(IrInstruction& instruction, std::uint32_t result, std::uint32_t a) {
  const std::uint32_t group = instruction.Group();
  if (!fold::Foldable(*this, result) || !values[a]) return S_FALSE;
  const std::uint32_t f = fold::Flags(*this, a);
  if (group == kOpMove) {
    fold::Learn(*this, result, f & fold::kFacts);
    opt::Redirect(*this, result, a);
    return S_OK;
  }

  fold::Learn(*this, result, f & kValueExact);
  if ((group == kOpNegate || group == kOpReciprocal || group == kOpFraction || group == kOpDdx || group == kOpDdy) &&
      !opt::Precision(fold::Flags(*this, result)))
    fold::SetPrecision(*this, result, opt::Precision(f));
  switch (group) {
    case kOpNegate:
      // -x of a boolean is 0 or -1: no longer boolean.
      fold::Learn(*this, result,
                  (f & (kValueInteger | kValueUnitMagnitude)) |
                      (f & kValueNonNegative ? std::uint32_t{kValueNonPositive} : 0u) |
                      (f & kValueNonPositive ? std::uint32_t{kValueNonNegative} : 0u));
      break;
    case kOpReciprocal: {
      const std::uint32_t sign = f & fold::kKnownZero;
      fold::Learn(*this, result, sign == fold::kKnownZero ? kValueNonNegative : sign);
      break;
    }
    case kOpFraction:
    case kOpExp2:
    case kOpRsq:
      fold::Learn(*this, result, kValueNonNegative);
      break;
  }
  const bool exact = fold::Flags(*this, result) & kValueExact;

  if (opt::IsLiteral(*this, a)) {
    const Evaluation e = EvaluateUnary(group, values[a]->rangeLow, exact);
    if (e.error) fold::ReportDomainError(*this, instruction, *e.error);
    return e.folds ? fold::RedirectToLiteral(*this, result, e.value) : S_FALSE;
  }

  if (group == kOpFraction && (f & (kValueBoolean | kValueInteger))) return fold::RedirectToLiteral(*this, result, 0);
  if ((f & kValueNonPositive) && !exact) {
    if (group == kOpLog2) {
      if (!(f & kValueNonNegative)) fold::ReportDomainError(*this, instruction, msg::kIndefiniteLogarithm);
      return S_FALSE;
    }
    // A value known to be 0 (either sign) has a real root.
    if (group == kOpRsq && !(f & kValueNonNegative)) {
      fold::ReportDomainError(*this, instruction, msg::kImaginarySquareRoot);
      return fold::RedirectToLiteral(*this, result, 0);
    }
  }
  if ((group == kOpDdx || group == kOpDdy) && (opt::BankTypeOf(*this, a) & kBankUniform))
    return fold::RedirectToLiteral(*this, result, 0);
  if (exact || !(opt::BankTypeOf(*this, a) & kBankWritable)) return S_FALSE;

  // Identities through the instruction d that writes the argument.
  std::uint32_t slot;
  const IrInstruction* d = fold::Definer(*this, a, &slot);
  if (!d) return S_FALSE;
  const std::uint32_t inner = d->Group();
  const bool unaryInner = d->Class() == 1 && slot < d->argumentCount;
  if (unaryInner && ((group == kOpNegate && inner == kOpNegate) || (group == kOpReciprocal && inner == kOpReciprocal) ||
                     (group == kOpExp2 && inner == kOpLog2) || (group == kOpLog2 && inner == kOpExp2))) {
    opt::Redirect(*this, result, fold::UnaryArgument(*this, *d, slot));
    return S_OK;
  }
  if (inner != kOpMultiply || d->Class() != 2) return S_FALSE;
  const std::uint32_t n = d->Width();
  const std::uint32_t factors[2] = {opt::Root(*this, d->arguments[slot]), opt::Root(*this, d->arguments[n + slot])};
  for (int i = 0; i < 2; ++i) {
    std::uint32_t s;
    const IrInstruction* e = fold::Definer(*this, factors[i], &s);
    if (!e || e->Class() != 1 || s >= e->argumentCount) continue;
    const std::uint32_t operand = fold::UnaryArgument(*this, *e, s);
    // 1 / (x * rsq(x)) is rsq(x).
    if (group == kOpReciprocal && e->Group() == kOpRsq && operand == factors[1 - i]) {
      opt::Redirect(*this, result, factors[i]);
      return S_OK;
    }
    // exp2(log2(0) * y): a power of zero.
    if (group == kOpExp2 && e->Group() == kOpLog2 && fold::Has(*this, operand, fold::kKnownZero))
      return fold::RedirectToLiteral(*this, result, 0);
  }
  return S_FALSE;
}

}  // namespace gxl::shader
