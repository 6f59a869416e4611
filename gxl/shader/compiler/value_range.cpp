// The value-range analysis: for each value the interval its components can
// take, derived from literals, the defining instruction and the facts the
// lowering asserted in the value's flags. Folding and branch elimination
// trust these bounds, so every rule must contain what the operation can
// produce (NaN results aside).
#include <algorithm>
#include <cmath>

#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

// Pi rounded to single precision, as the targets compute with it.
constexpr double kPi = 3.1415927410125732;
constexpr double kHalfPi = 1.5707963705062866;
// Chains longer than this are not followed: the value gets the full range.
constexpr std::uint32_t kMaxRangeDepth = 256;

bool FinitePoint(const ValueRange& r) { return r.low == r.high && std::isfinite(r.low); }

ValueRange Hull(const ValueRange& a, const ValueRange& b) {
  return {std::fmin(a.low, b.low), std::fmax(a.high, b.high)};
}

// A NaN bound bounds nothing.
ValueRange Widened(ValueRange r) {
  if (std::isnan(r.low)) r.low = -INFINITY;
  if (std::isnan(r.high)) r.high = INFINITY;
  return r;
}

// Where `value` stands among the instruction's results: the component the
// per-component rules use.
std::uint32_t ResultPosition(const IrInstruction& inst, std::uint32_t value, std::uint32_t otherwise) {
  for (std::uint32_t i = 0; i < inst.resultCount; ++i)
    if (inst.results[i] == value) return i;
  return otherwise;
}

}  // namespace

void ShaderCompiler::MultiplyRanges(ValueRange* out, const ValueRange& a, const ValueRange& b, std::uint32_t flags) {
  const double products[4] = {a.low * b.low, a.low * b.high, b.low * a.high, a.high * b.high};
  ValueRange r{INFINITY, -INFINITY};
  for (double p : products) {
    if (std::isnan(p)) {
      if (flags & kValueExact) {
        *out = {NAN, NAN};
        return;
      }
      p = 0.0;  // 0 x inf: the limit of the finite products
    }
    r.low = std::min(r.low, p);
    r.high = std::max(r.high, p);
  }
  *out = r;
}

HRESULT ShaderCompiler::GetConstantValue(std::uint32_t value, double* out) {
  const IrValue* v = Value(value);
  if (!v) return E_FAIL;
  double x = v->rangeLow;
  if (!(v->flags & kValueConstant)) {
    ValueRange r;
    if (FAILED(EvaluateRange(value, &r)) || r.low != r.high) return E_FAIL;
    x = r.low;
  }
  if (!std::isfinite(x)) return E_FAIL;
  if (out) *out = x;
  return S_OK;
}

HRESULT ShaderCompiler::EvaluateRange(std::uint32_t value, ValueRange* out) {
  ValueRange r;
  const HRESULT hr = EvaluateRangeAt(value, &r, 0);
  if (out) *out = r;
  return hr;
}

HRESULT ShaderCompiler::ArgumentRange(const IrInstruction& inst, std::uint32_t k, ValueRange* out,
                                      std::uint32_t depth) {
  if (k >= inst.argumentCount) {
    *out = {negativeInfinity, infinity};
    return E_FAIL;
  }
  const HRESULT hr = EvaluateRangeAt(inst.arguments[k], out, depth + 1);
  *out = Widened(*out);
  return hr;
}

HRESULT ShaderCompiler::EvaluateRangeAt(std::uint32_t value, ValueRange* out, std::uint32_t depth) {
  IrValue* v = Value(value);
  *out = {negativeInfinity, infinity};
  if (!v) return E_FAIL;
  if (v->flags & kValueRangeCached) {
    *out = {v->rangeLow, v->rangeHigh};
    return S_OK;
  }
  if (v->flags & kValueConstant) {
    *out = {v->rangeLow, v->rangeLow};
    return S_OK;
  }
  if (depth >= kMaxRangeDepth) return S_OK;  // full and not cached: a later, shallower call does better

  ValueRange r{negativeInfinity, infinity};
  HRESULT hr = S_OK;
  const RegisterBank* bank = Bank(v->bank);
  if (v->indexValue != kNoIndex) {
    // A register picked by a constant index: the range of the register's value.
    ValueRange index;
    const IrValue* iv = Value(v->indexValue);
    double k = iv && (iv->flags & kValueConstant) ? iv->rangeLow : NAN;
    if (iv && !(iv->flags & kValueConstant) && SUCCEEDED(EvaluateRangeAt(v->indexValue, &index, depth + 1)) &&
        index.low == index.high)
      k = index.low;
    // An index that no register can have (NaN, 1e30) picks nothing.
    if (std::isfinite(k) && std::fabs(k) < 2147483648.0 && v->reg != kNoIndex) {
      const std::int64_t reg = std::int64_t{v->reg} + static_cast<std::int64_t>(std::trunc(k));
      for (std::uint32_t i = 0; i < ValueCount(); ++i) {
        const IrValue* w = Value(i);
        if (w && w != v && w->bank == v->bank && w->indexValue == kNoIndex && w->reg == reg &&
            w->component == v->component) {
          hr = EvaluateRangeAt(i, &r, depth + 1);
          break;
        }
      }
    }
  } else if (bank && (bank->type & kBankWritable) && Instruction(v->definingPosition)) {
    hr = InstructionRange(*v, value, &r, depth);
  }
  if (FAILED(hr)) r = {negativeInfinity, infinity};
  if (!(v->flags & kValueExact)) r = Widened(r);

  // The facts the lowering asserted narrow the range; the range adds facts.
  std::uint32_t flags = v->flags;
  if (!(flags & kValueNonNegative)) {
    if (r.low >= 0) flags |= kValueNonNegative;
  } else {
    if (r.low <= 0) r.low = 0;
    if (r.high <= 0) r.high = 0;
  }
  if (!(flags & kValueNonPositive)) {
    if (r.high <= 0) flags |= kValueNonPositive;
  } else {
    if (r.low >= 0) r.low = 0;
    if (r.high >= 0) r.high = 0;
  }
  if (!(flags & kValueUnitMagnitude)) {
    if (r.low >= -1 && r.high <= 1) flags |= kValueUnitMagnitude;
  } else {
    r.low = std::clamp(r.low, -1.0, 1.0);
    r.high = std::clamp(r.high, -1.0, 1.0);
  }
  if (FinitePoint(r)) {
    flags |= kValueConstant;
    if (r.low == 0 || r.low == 1) flags |= kValueBoolean;
    // The double's own truncation: 3e9 is as whole as 3.
    if (std::fabs(r.low - std::trunc(r.low)) < epsilon) flags |= kValueInteger;
  }
  // A literal's range fields hold its value: a register of a literal table
  // read through an index gets its range, never a new value.
  if (!bank || !(bank->type & kBankLiteral)) {
    v->rangeLow = r.low;
    v->rangeHigh = r.high;
    v->flags = flags | kValueRangeCached;
  }
  *out = r;
  return hr;
}

HRESULT ShaderCompiler::InstructionRange(const IrValue& v, std::uint32_t value, ValueRange* out, std::uint32_t depth) {
  const IrInstruction& inst = *Instruction(v.definingPosition);
  const std::uint32_t c = ResultPosition(inst, value, v.component), n = inst.Width();
  const std::uint32_t group = inst.Group(), op = group & 0xFF;
  const ValueRange full{negativeInfinity, infinity};
  ValueRange& r = *out;
  r = full;
  if (c == kNoIndex) return S_OK;
  ValueRange a, b, s;
  HRESULT hr = S_OK;

  switch (inst.Class()) {
    case 1: {
      if (op >= 0x0F) return S_OK;  // flow control, discard: the argument is not looked at
      if (FAILED(hr = ArgumentRange(inst, c, &a, depth))) return hr;
      switch (op) {
        case 0x00:
          r = a;
          break;
        case 0x01:
          r = {-a.high, -a.low};
          break;
        case 0x02:  // a kept move: widened away from zero, never leaving the value itself out
          r = {a.low < 0 ? a.low - epsilon : a.low, a.high > 0 ? a.high + epsilon : a.high};
          break;
        case 0x03:
          if (!(a.low <= 0 && 0 <= a.high)) r = {1 / a.high, 1 / a.low};
          break;
        case 0x04:
          if (FinitePoint(a))
            r = {a.low - std::floor(a.low), a.low - std::floor(a.low)};
          else
            r = a.low == a.high ? ValueRange{0, 0} : ValueRange{0, 1};
          break;
        case 0x05:
          r = {std::exp2(a.low), std::exp2(a.high)};
          break;
        case 0x06:
          r = {a.low > 0 ? std::log2(a.low) : negativeInfinity, a.high > 0 ? std::log2(a.high) : negativeInfinity};
          break;
        case 0x07:
          if (a.low >= 0) r = {1 / std::sqrt(a.high), 1 / std::sqrt(a.low)};
          break;
        case 0x08:
          r = FinitePoint(a) ? ValueRange{std::sin(a.low), std::sin(a.low)} : ValueRange{-1, 1};
          break;
        case 0x09:
          r = FinitePoint(a) ? ValueRange{std::cos(a.low), std::cos(a.low)} : ValueRange{-1, 1};
          break;
        case 0x0A:
          r = a.low < -1 || a.high > 1 ? ValueRange{-kHalfPi, kHalfPi}
                                       : ValueRange{std::asin(a.low), std::asin(a.high)};
          break;
        case 0x0B:
          r = a.low < -1 || a.high > 1 ? ValueRange{0, kPi} : ValueRange{std::acos(a.high), std::acos(a.low)};
          break;
        case 0x0C:
          r = FinitePoint(a) ? ValueRange{std::atan(a.low), std::atan(a.low)} : ValueRange{-kHalfPi, kHalfPi};
          break;
        case 0x0D:
        case 0x0E:
          if (FinitePoint(a)) r = {0, 0};
          break;
      }
      return S_OK;
    }
    case 2: {
      if (op > 0x08) return S_OK;
      if (FAILED(hr = ArgumentRange(inst, c, &a, depth)) || FAILED(hr = ArgumentRange(inst, n + c, &b, depth)))
        return hr;
      switch (op) {
        case 0x00:
          r = {std::fmin(a.low, b.low), std::fmin(a.high, b.high)};
          break;
        case 0x01:
          r = {std::fmax(a.low, b.low), std::fmax(a.high, b.high)};
          break;
        case 0x02:
          r = a.high < b.low ? ValueRange{1, 1} : a.low >= b.high ? ValueRange{0, 0} : ValueRange{0, 1};
          break;
        case 0x03:
          r = a.low >= b.high ? ValueRange{1, 1} : a.high < b.low ? ValueRange{0, 0} : ValueRange{0, 1};
          break;
        case 0x04:
          r = {a.low + b.low, a.high + b.high};
          break;
        case 0x05:
          MultiplyRanges(&r, a, b, v.flags);
          break;
        case 0x06:
          r = FinitePoint(a) && FinitePoint(b) ? ValueRange{std::atan2(a.low, b.low), std::atan2(a.low, b.low)}
                                               : ValueRange{-kPi, kPi};
          break;
        case 0x07:
        case 0x08:
          r = Hull(a, b);
          break;
      }
      return S_OK;
    }
    default:
      break;
  }

  switch (group) {
    case kOpSelect: {
      if (FAILED(hr = ArgumentRange(inst, c, &a, depth)) || FAILED(hr = ArgumentRange(inst, n + c, &b, depth)) ||
          FAILED(hr = ArgumentRange(inst, 2 * n + c, &s, depth)))
        return hr;
      // A select of the guard itself knows the guard's sign on each side.
      if (inst.arguments[c] == inst.arguments[n + c]) b = {std::max(b.low, 0.0), std::max(b.high, 0.0)};
      if (inst.arguments[c] == inst.arguments[2 * n + c]) s = {std::min(s.low, 0.0), std::min(s.high, 0.0)};
      r = a.low >= 0 ? b : a.high < 0 ? s : Hull(b, s);
      return S_OK;
    }
    case kOpDot: {
      ValueRange sum{0, 0};
      for (std::uint32_t i = 0; i < n; ++i) {
        if (FAILED(hr = ArgumentRange(inst, i, &a, depth)) || FAILED(hr = ArgumentRange(inst, n + i, &b, depth)))
          return hr;
        MultiplyRanges(&s, a, b, v.flags);
        sum = {sum.low + s.low, sum.high + s.high};
      }
      r = sum;
      return S_OK;
    }
    case kOpLit: {
      if (c == 0 || c == 3) {
        r = {1, 1};
        return S_OK;
      }
      if (c > 2 || n < 4) return S_OK;
      if (FAILED(hr = ArgumentRange(inst, 0, &a, depth))) return hr;
      if (c == 1) {
        r = {std::max(0.0, a.low), std::max(0.0, a.high)};
        return S_OK;
      }
      ValueRange w;
      if (FAILED(hr = ArgumentRange(inst, 1, &b, depth)) || FAILED(hr = ArgumentRange(inst, 3, &w, depth))) return hr;
      if (a.high <= 0 || b.high <= 0) {
        r = {0, 0};
        return S_OK;
      }
      // y^w is monotone in each argument for y > 0: its extremes are corners.
      // Where the test x > 0, y > 0 may fail the result is 0.
      const double y0 = std::max(b.low, 0.0);
      const double corners[4] = {std::pow(y0, w.low), std::pow(y0, w.high), std::pow(b.high, w.low),
                                 std::pow(b.high, w.high)};
      r = {INFINITY, -INFINITY};
      for (double p : corners) r = Hull(r, {p, p});
      if (a.low <= 0 || b.low <= 0) r = Hull(r, {0, 0});
      return S_OK;
    }
    case kOpSinCos: {
      if (c > 1) return S_OK;
      if (FAILED(hr = ArgumentRange(inst, 0, &a, depth))) return hr;
      if (!FinitePoint(a))
        r = {-1, 1};
      else if (c == 0)
        r = {std::cos(a.low), std::cos(a.low)};
      else
        r = {std::sin(a.low), std::sin(a.low)};
      return S_OK;
    }
    default:
      return S_OK;
  }
}

}  // namespace gxl::shader
