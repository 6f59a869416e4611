// Folding of one component of a two- or three-argument operation and of dot
// products: facts from the arguments, literal evaluation, and identities
// that hold for every input the facts allow.
#include <cmath>

#include "gxl/shader/backend/opt/fold.h"

namespace gxl::shader {

namespace {

using fold::Flags;
using fold::Has;
using fold::IsLiteralEqual;

double LiteralOf(const ShaderProgram& p, std::uint32_t value) { return p.values.Peek(value)->rangeLow; }

// Follows negations and reciprocals down from `value`: the value below them
// and how many of each were passed.
std::uint32_t Strip(const ShaderProgram& p, std::uint32_t value, std::uint32_t* negations, std::uint32_t* reciprocals) {
  *negations = *reciprocals = 0;
  for (std::uint32_t steps = 0; steps <= p.instructions.Count(); ++steps) {
    std::uint32_t slot;
    const IrInstruction* d = fold::Definer(p, value, &slot);
    if (!d || d->Class() != 1 || slot >= d->argumentCount) break;
    if (d->IsNegate()) {
      ++*negations;
    } else if (d->Group() == kOpReciprocal) {
      ++*reciprocals;
    } else {
      break;
    }
    value = fold::UnaryArgument(p, *d, slot);
  }
  return value;
}

// The two operands of the multiply or add (`group`) that writes `value`.
bool Operands(const ShaderProgram& p, std::uint32_t value, std::uint32_t group, std::uint32_t out[2]) {
  std::uint32_t slot;
  const IrInstruction* d = fold::Definer(p, value, &slot);
  if (!d || d->Group() != group || d->Class() != 2) return false;
  out[0] = opt::Root(p, d->arguments[slot]);
  out[1] = opt::Root(p, d->arguments[d->Width() + slot]);
  return true;
}

// Folds two literals; false for the operations that do not fold.
bool EvaluateBinary(std::uint32_t group, long double x, long double y, long double* out) {
  switch (group) {
    case kOpMin:
      *out = y <= x ? y : x;
      return true;
    case kOpMax:
      *out = x < y ? y : x;
      return true;
    case kOpLess:
      *out = x < y ? 1 : 0;
      return true;
    case kOpGreaterEqual:
      *out = x >= y ? 1 : 0;
      return true;
    case kOpAdd:
      *out = x + y;
      return true;
    case kOpMultiply:
      *out = x * y;
      return true;
    case kOpAtan2:
      *out = std::atan2(x, y);
      return true;
    default:
      return false;
  }
}

// The facts an operation's result has for arguments a and b.
std::uint32_t BinaryFacts(const ShaderProgram& p, std::uint32_t group, std::uint32_t a, std::uint32_t b) {
  const std::uint32_t f = Flags(p, a), g = Flags(p, b);
  const bool aNonNeg = f & kValueNonNegative, aNonPos = f & kValueNonPositive;
  const bool bNonNeg = g & kValueNonNegative, bNonPos = g & kValueNonPositive;
  switch (group) {
    case kOpAdd:
      return f & g & (kValueInteger | kValueNonNegative | kValueNonPositive);
    case kOpMin:
      return (f & g & fold::kFacts) | (aNonPos || bNonPos ? std::uint32_t{kValueNonPositive} : 0u);
    case kOpMax:
      return (f & g & fold::kFacts) | (aNonNeg || bNonNeg ? std::uint32_t{kValueNonNegative} : 0u);
    case kOpLess:
    case kOpGreaterEqual:
      return kValueComparison;
    case kOpMultiply: {
      std::uint32_t facts = f & g & (kValueBoolean | kValueInteger);
      if ((aNonNeg && bNonNeg) || (aNonPos && bNonPos) || a == b) facts |= kValueNonNegative;
      if ((aNonNeg && bNonPos) || (aNonPos && bNonNeg) || fold::NegationOf(p, a) == b || fold::NegationOf(p, b) == a)
        facts |= kValueNonPositive;
      return facts;
    }
    case kOpIfMerge:
    case kOpBreakMerge:
    case kOpLoopMerge:
      return f & g & fold::kFacts;
    default:
      return 0;
  }
}

}  // namespace

bool ShaderProgram::ImpliesCondition(std::uint32_t a, std::uint32_t b) const {
  // A move or product chain is as deep as the expression; the bound keeps a
  // malformed cycle finite.
  std::uint32_t pending[32];
  std::uint32_t top = 0;
  pending[top++] = opt::Root(*this, a);
  b = opt::Root(*this, b);
  for (std::uint32_t steps = 0; top && steps < 256; ++steps) {
    const std::uint32_t x = pending[--top];
    if (x == b) return true;
    std::uint32_t slot;
    const IrInstruction* d = fold::Definer(*this, x, &slot);
    if (!d) continue;
    if (d->IsMove() && slot < d->argumentCount && top < 32) {
      pending[top++] = opt::Root(*this, d->arguments[slot]);
    } else if (d->Group() == kOpMultiply && d->Class() == 2 && top + 2 <= 32) {
      pending[top++] = opt::Root(*this, d->arguments[slot]);
      pending[top++] = opt::Root(*this, d->arguments[d->Width() + slot]);
    }
  }
  return false;
}

HRESULT ShaderProgram::FoldBinaryComponent(const IrInstruction& instruction, std::uint32_t result, std::uint32_t a,
                                           std::uint32_t b) {
  if (!fold::Foldable(*this, result) || !values[a] || !values[b]) return S_FALSE;
  const std::uint32_t group = instruction.Group();
  const std::uint32_t f = Flags(*this, a), g = Flags(*this, b);
  const bool selection = group == kOpIfMerge || group == kOpBreakMerge || group == kOpLoopMerge;
  if ((group == kOpMin || group == kOpMax || group == kOpAdd || selection) && !opt::Precision(Flags(*this, result)))
    fold::SetPrecision(*this, result, opt::HighestPrecision(opt::Precision(f | g)));
  if (group >= kOpMin && group <= kOpLoopMerge) fold::Learn(*this, result, (f | g) & kValueExact);
  fold::Learn(*this, result, BinaryFacts(*this, group, a, b));
  if (selection) return S_FALSE;
  const bool exact = Flags(*this, result) & kValueExact;

  auto redirect = [&](std::uint32_t target) {
    opt::Redirect(*this, result, target);
    return S_OK;
  };
  auto literal = [&](long double x) { return fold::RedirectToLiteral(*this, result, x); };

  // Known signs decide the order of a and b.
  if (!exact) {
    const bool aNonNeg = f & kValueNonNegative, aNonPos = f & kValueNonPositive;
    const bool bNonNeg = g & kValueNonNegative, bNonPos = g & kValueNonPositive;
    if (aNonNeg && bNonPos) {
      if (group == kOpMin) return redirect(b);
      if (group == kOpMax) return redirect(a);
      if (group == kOpLess) return literal(0);
      if (group == kOpGreaterEqual) return literal(1);
    }
    if (aNonPos && bNonNeg) {
      if (group == kOpMin) return redirect(a);
      if (group == kOpMax) return redirect(b);
    }
  }

  const bool aLiteral = opt::IsLiteral(*this, a), bLiteral = opt::IsLiteral(*this, b);
  if (aLiteral && bLiteral) {
    long double x;
    return EvaluateBinary(group, LiteralOf(*this, a), LiteralOf(*this, b), &x) ? literal(x) : S_FALSE;
  }
  if (exact) return S_FALSE;

  // One literal c beside a value v.
  if (aLiteral || bLiteral) {
    const double c = LiteralOf(*this, aLiteral ? a : b);
    const std::uint32_t v = aLiteral ? b : a;
    if (group == kOpMin && c >= 1 && Has(*this, v, kValueBoolean)) return redirect(v);
    if (group == kOpAdd && c == 0) return redirect(v);
    if (group == kOpMultiply) {
      if (c == 0) return literal(0);
      if (c == 1) return redirect(v);
      std::uint32_t terms[2];
      if (c == 0.5 && Operands(*this, v, kOpAdd, terms) && terms[0] == terms[1]) return redirect(terms[0]);
    }
  }

  if (group == kOpAdd && (fold::NegationOf(*this, a) == b || fold::NegationOf(*this, b) == a)) return literal(0);
  if (group == kOpMultiply) {
    std::uint32_t negA, recA, negB, recB;
    if (Strip(*this, a, &negA, &recA) == Strip(*this, b, &negB, &recB) && (recA + recB) % 2 == 1)
      return literal((negA + negB) % 2 == 0 ? 1 : -1);
    if (Has(*this, a, kValueBoolean) && Has(*this, b, kValueBoolean)) {
      if (ImpliesCondition(a, b)) return redirect(a);
      if (ImpliesCondition(b, a)) return redirect(b);
    }
  }
  if (group == kOpLess && fold::NegationOf(*this, a) == b && Has(*this, b, kValueBoolean)) return redirect(b);
  return S_FALSE;
}

HRESULT ShaderProgram::FoldTernaryComponent(const IrInstruction& instruction, std::uint32_t result, std::uint32_t a,
                                            std::uint32_t b, std::uint32_t c) {
  // Only the sign selection has known facts: other three-argument operations
  // do not pick one of their arguments.
  if (instruction.Group() != kOpSelect || !fold::Foldable(*this, result) || !values[a] || !values[b] || !values[c])
    return S_FALSE;
  const std::uint32_t fb = Flags(*this, b), fc = Flags(*this, c);
  fold::Learn(*this, result, (fb & fc & fold::kFacts) | ((fb | fc) & kValueExact));
  if (!opt::Precision(Flags(*this, result)))
    fold::SetPrecision(*this, result, opt::HighestPrecision(opt::Precision(fb | fc)));
  if (a == b && (fc & kValueNonNegative)) fold::Learn(*this, result, kValueNonNegative);
  if (a == c && (fb & kValueNonPositive)) fold::Learn(*this, result, kValueNonPositive);
  const bool exact = Flags(*this, result) & kValueExact;

  auto redirect = [&](std::uint32_t target) {
    opt::Redirect(*this, result, target);
    return S_OK;
  };
  if (Has(*this, a, kValueNonNegative) && !exact) return redirect(b);
  if (opt::IsLiteral(*this, a)) return redirect(LiteralOf(*this, a) >= 0 ? b : c);
  if (b == c || (opt::IsLiteral(*this, b) && opt::IsLiteral(*this, c) && LiteralOf(*this, b) == LiteralOf(*this, c)))
    return redirect(b);
  if (exact) return S_FALSE;

  const bool zeroOne = IsLiteralEqual(*this, b, 0) && IsLiteralEqual(*this, c, 1);
  if (zeroOne) {
    // (-x >= 0 ? 0 : 1) and (x * negative >= 0 ? 0 : 1) are x for a boolean x.
    const std::uint32_t x = fold::NegationOf(*this, a);
    if (x != kNoIndex && Has(*this, x, kValueBoolean)) return redirect(x);
    std::uint32_t factors[2];
    if (Operands(*this, a, kOpMultiply, factors)) {
      for (int i = 0; i < 2; ++i) {
        const std::uint32_t other = factors[1 - i];
        if (Has(*this, factors[i], kValueBoolean) && opt::IsLiteral(*this, other) && LiteralOf(*this, other) < 0)
          return redirect(factors[i]);
      }
    }
  }

  // x + (-y): the selection is a comparison, a minimum or a maximum of x and y.
  std::uint32_t terms[2];
  if (!Operands(*this, a, kOpAdd, terms)) return S_FALSE;
  for (int i = 0; i < 2; ++i) {
    const std::uint32_t y = fold::NegationOf(*this, terms[1 - i]), x = terms[i];
    if (y == kNoIndex) continue;
    std::uint32_t group;
    if (zeroOne)
      group = kOpLess;
    else if (IsLiteralEqual(*this, b, 1) && IsLiteralEqual(*this, c, 0))
      group = kOpGreaterEqual;
    else if (b == y && c == x)
      group = kOpMin;
    else if (b == x && c == y)
      group = kOpMax;
    else
      continue;
    auto* temporary = new IrInstruction;
    if (!temporary) return E_OUTOFMEMORY;
    HRESULT hr = temporary->Init(IrWord(group, 1), 2, 1);
    if (SUCCEEDED(hr)) {
      temporary->arguments[0] = x;
      temporary->arguments[1] = y;
      temporary->results[0] = result;
      temporary->CopySourcePosition(&instruction);
      hr = FoldBinaryComponent(*temporary, result, x, y);
    }
    delete temporary;
    return hr;
  }
  return S_FALSE;
}

HRESULT ShaderProgram::FoldDotProduct(IrInstruction& instruction, bool fold) {
  const std::uint32_t n = instruction.Width();
  if (instruction.resultCount < 1 || instruction.argumentCount != 2 * n || n == 0) return S_FALSE;
  const std::uint32_t result = instruction.results[0];
  if (!fold::Foldable(*this, result)) return S_FALSE;
  auto left = [&](std::uint32_t k) { return opt::Root(*this, instruction.arguments[k]); };
  auto right = [&](std::uint32_t k) { return opt::Root(*this, instruction.arguments[n + k]); };

  bool nonNegative = true, nonPositive = true, integer = true;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t f = Flags(*this, left(k)), g = Flags(*this, right(k));
    const bool like = ((f & g) & kValueNonNegative) || ((f & g) & kValueNonPositive);
    const bool opposite =
        ((f & kValueNonNegative) && (g & kValueNonPositive)) || ((f & kValueNonPositive) && (g & kValueNonNegative));
    nonNegative = nonNegative && (like || left(k) == right(k));
    nonPositive = nonPositive && opposite;
    integer = integer && (f & g & kValueInteger);
  }
  fold::Learn(*this, result,
              (nonNegative ? std::uint32_t{kValueNonNegative} : 0u) |
                  (nonPositive ? std::uint32_t{kValueNonPositive} : 0u) |
                  (integer ? std::uint32_t{kValueInteger} : 0u));
  if (!fold) return S_FALSE;
  const bool exact = Flags(*this, result) & kValueExact;

  long double sum = 0;
  std::uint32_t zeros = 0, units = 0, unitValue = kNoIndex;
  bool zerosAtEnd = true;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t x = left(k), y = right(k);
    const bool xLiteral = opt::IsLiteral(*this, x), yLiteral = opt::IsLiteral(*this, y);
    if (!exact && (IsLiteralEqual(*this, x, 0) || IsLiteralEqual(*this, y, 0))) {
      ++zeros;
      continue;
    }
    if (zeros) zerosAtEnd = false;
    if (xLiteral && yLiteral) {
      sum += static_cast<long double>(LiteralOf(*this, x)) * LiteralOf(*this, y);
      continue;
    }
    if (!exact && (xLiteral || yLiteral) && LiteralOf(*this, xLiteral ? x : y) == 1.0) {
      ++units;
      unitValue = xLiteral ? y : x;
    } else {
      units = 2;  // a general pair: no unit fold
    }
  }
  if (units == 0) {
    const HRESULT hr = fold::RedirectToLiteral(*this, result, sum);
    if (SUCCEEDED(hr)) opt::Empty(instruction);
    return hr;
  }
  if (units == 1 && sum == 0) {
    opt::Redirect(*this, result, unitValue);
    opt::Empty(instruction);
    return S_OK;
  }
  if (zeros == 0 || exact) return S_FALSE;
  const std::uint32_t remaining = n - zeros;
  const std::uint32_t capabilities = profileLimits.capabilities;
  if ((remaining == 2 && !(capabilities & 0x20)) || ((capabilities & 0x6) && !zerosAtEnd && remaining > 1))
    return S_FALSE;
  std::uint32_t out = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    if (IsLiteralEqual(*this, left(k), 0) || IsLiteralEqual(*this, right(k), 0)) continue;
    instruction.arguments[out] = instruction.arguments[k];
    instruction.arguments[n + out] = instruction.arguments[n + k];
    ++out;
  }
  // The right-hand group moves down behind the kept left-hand pairs.
  for (std::uint32_t k = 0; k < out; ++k) instruction.arguments[out + k] = instruction.arguments[n + k];
  instruction.word = IrWord(kOpDot, out);
  instruction.argumentCount = 2 * out;
  return S_OK;
}

}  // namespace gxl::shader
