// The expansions of the trigonometric intrinsics and of the power function
// for targets without the native operations: range reduction and short
// polynomials, and powers by squaring where the exponent is a small integer.
#include <algorithm>
#include <bit>
#include <cmath>

#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

// The constants as the targets hold them: single-precision values.
constexpr double kInverseTwoPi = 0.15915493866300567;
constexpr double kTwoPi = 6.2831854820251465;
constexpr double kPi = 3.1415927410125732;
constexpr double kHalfPi = 1.5707963705062866;

// cos y = 1 + s (c1 + s (c2 + ...)) over y in [-pi, pi], s = y^2; highest first.
constexpr double kCosineSeries[5] = {-2.5239851768993087e-07, 2.47609e-05, -0.0013888397, 0.0416666418, -0.4999999963};
// acos |x| = sqrt(1 - |x|) (c0 + |x| (c1 + ...)); highest first.
constexpr double kArcCosineSeries[4] = {-0.0187293, 0.074261, -0.2121144, 1.5707288};
// atan t = t (c0 + s (c1 + ...)) over t in [0, 1], s = t^2; highest first.
constexpr double kArcTanSeries[5] = {0.0208351, -0.085133, 0.180141, -0.3302995, 0.999866};

constexpr std::uint32_t kFraction = kValueNonNegative | kValueUnitMagnitude;  // [0, 1)

}  // namespace

HRESULT ShaderCompiler::EmitSinCos(const ParseNode* node, const std::uint32_t* x, std::uint32_t* sine,
                                   std::uint32_t* cosine, std::uint32_t n) {
  if ((!sine && !cosine) || n == 0) return S_OK;
  const std::uint32_t caps = OperationCaps();
  if (caps & kCapNativeTrig) {
    HRESULT hr = sine ? Emit1(node, kOpSin, n, sine, x, kValueUnitMagnitude) : S_OK;
    if (SUCCEEDED(hr) && cosine) hr = Emit1(node, kOpCos, n, cosine, x, kValueUnitMagnitude);
    return hr;
  }
  if (!(caps & kCapSinCos) || std::any_of(x, x + n, [x](std::uint32_t v) { return v != x[0]; }))
    return EmitSinCosSeries(node, x, sine, cosine, n);

  // One combined operation on an angle brought into [-pi, pi].
  std::uint32_t angle = x[0];
  ValueRange range;
  if (FAILED(EvaluateRange(angle, &range)) || !(range.low >= -kPi && range.high <= kPi)) {
    HRESULT hr = Emit2Constant(node, kOpMultiply, 1, &angle, &angle, kInverseTwoPi);
    if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, 1, &angle, &angle, 0.5);
    if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, 1, &angle, &angle, kFraction);
    if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, 1, &angle, &angle, kTwoPi, kValueNonNegative);
    if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, 1, &angle, &angle, -kPi);
    if (FAILED(hr)) return hr;
  }
  const std::uint32_t arguments[4] = {angle, angle, angle, angle};
  std::uint32_t results[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  const HRESULT hr = EmitInstruction(node, IrWord(kOpSinCos, 4), results, arguments, nullptr, kValueUnitMagnitude);
  if (FAILED(hr)) return hr;
  if (cosine) std::fill_n(cosine, n, results[0]);
  if (sine) std::fill_n(sine, n, results[1]);
  return S_OK;
}

HRESULT ShaderCompiler::EmitSinCosSeries(const ParseNode* node, const std::uint32_t* x, std::uint32_t* sine,
                                         std::uint32_t* cosine, std::uint32_t n) {
  // Sine and cosine components side by side: sin x = cos(x - pi/2), made by
  // a phase of a quarter turn before the reduction into [-pi, pi].
  const std::uint32_t sines = sine ? n : 0, m = sines + (cosine ? n : 0);
  WordBlock w(*this, 4 * m);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *t = w.Get(), *phase = t + m, *s = phase + m, *p = s + m;
  const std::uint32_t quarter = sines ? ExpansionConstant(0.25) : kNoIndex;
  const std::uint32_t half = sines < m ? ExpansionConstant(0.5) : kNoIndex;
  const std::uint32_t unit = One();
  if ((sines && quarter == kNoIndex) || (sines < m && half == kNoIndex) || unit == kNoIndex) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < m; ++i) {
    t[i] = x[i % n];
    phase[i] = i < sines ? quarter : half;
  }
  HRESULT hr = Emit2Constant(node, kOpMultiply, m, t, t, kInverseTwoPi);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, m, t, t, phase);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, m, t, t, kFraction);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, m, t, t, kTwoPi, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, m, t, t, -kPi);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, m, s, t, t, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, m, p, s, kCosineSeries[0]);
  for (std::uint32_t k = 1; k < 5 && SUCCEEDED(hr); ++k) {
    hr = Emit2Constant(node, kOpAdd, m, p, p, kCosineSeries[k]);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, m, p, s, p);
  }
  std::fill_n(phase, m, unit);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, m, p, p, phase, kValueUnitMagnitude);
  if (FAILED(hr)) return hr;
  if (sine) std::copy_n(p, n, sine);
  if (cosine) std::copy_n(p + sines, n, cosine);
  return S_OK;
}

HRESULT ShaderCompiler::EmitArcSinCos(const ParseNode* node, const std::uint32_t* x, std::uint32_t* arcSine,
                                      std::uint32_t* arcCosine, std::uint32_t n) {
  if ((!arcSine && !arcCosine) || n == 0) return S_OK;
  if (OperationCaps() & kCapNativeTrig) {
    HRESULT hr = arcSine ? Emit1(node, kOpAsin, n, arcSine, x) : S_OK;
    if (SUCCEEDED(hr) && arcCosine) hr = Emit1(node, kOpAcos, n, arcCosine, x, kValueNonNegative);
    return hr;
  }
  WordBlock w(*this, 8 * n);
  const std::uint32_t unit = One(), first = ExpansionConstant(kArcCosineSeries[0]);
  if (!w || unit == kNoIndex || first == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t *t = w.Get(), *a = t + n, *u = a + n, *q = u + n, *p = q + n, *r = p + n, *h = r + n, *g = h + n;
  std::fill_n(g, n, unit);
  HRESULT hr = Emit1(node, kOpNegate, n, t, x);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, a, x, t, kValueNonNegative);  // |x|
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, u, a, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, u, u, g);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpRsq, n, q, u, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, q, q, kValueNonNegative);  // sqrt(1 - |x|)
  std::fill_n(p, n, first);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, p, p, a);
  for (std::uint32_t k = 1; k < 4 && SUCCEEDED(hr); ++k) {
    hr = Emit2Constant(node, kOpAdd, n, p, p, kArcCosineSeries[k]);
    if (SUCCEEDED(hr) && k < 3) hr = Emit2(node, kOpMultiply, n, p, p, a);
  }
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, r, p, q);  // acos |x|
  // Negative x: pi - acos |x|.
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, n, h, r, -2.0);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, n, h, h, kPi);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, g, x, t, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, h, h, g);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, r, r, h, kValueNonNegative);  // acos x
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, h, r, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, n, h, h, kHalfPi);  // asin x = pi/2 - acos x
  if (SUCCEEDED(hr) && arcSine) hr = Emit1(node, kOpMove, n, arcSine, h);
  if (SUCCEEDED(hr) && arcCosine) hr = Emit1(node, kOpMove, n, arcCosine, r, kValueNonNegative);
  return hr;
}

HRESULT ShaderCompiler::EmitArcTan(const ParseNode* node, const std::uint32_t* y, const std::uint32_t* x,
                                   std::uint32_t* out, std::uint32_t n) {
  if (n == 0) return S_OK;
  if (OperationCaps() & kCapNativeTrig)
    return x ? Emit2(node, kOpAtan2, n, out, y, x) : Emit1(node, kOpAtan, n, out, y);
  WordBlock w(*this, 10 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *xs = w.Get(), *ny = xs + n, *ay = ny + n, *nx = ay + n, *ax = nx + n, *t = ax + n, *s = t + n,
                *p = s + n, *a = p + n, *k = a + n;
  if (x) {
    std::copy_n(x, n, xs);
  } else {
    const std::uint32_t unit = One();
    if (unit == kNoIndex) return E_OUTOFMEMORY;
    std::fill_n(xs, n, unit);
  }
  // t = min(|x|, |y|) / max(|x|, |y|) in [0, 1]
  HRESULT hr = Emit1(node, kOpNegate, n, ny, y);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, ay, y, ny, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, nx, xs);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, ax, xs, nx, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMin, n, t, ay, ax, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, s, ay, ax, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpReciprocal, n, s, s, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, t, t, s, kFraction);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, s, t, t, kFraction);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, n, p, s, kArcTanSeries[0]);
  for (std::uint32_t i = 1; i < 5 && SUCCEEDED(hr); ++i) {
    hr = Emit2Constant(node, kOpAdd, n, p, p, kArcTanSeries[i]);
    if (SUCCEEDED(hr) && i < 4) hr = Emit2(node, kOpMultiply, n, p, s, p);
  }
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, a, t, p);
  // |x| < |y|: pi/2 - a.
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, k, ax, ay, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, n, p, a, -2.0);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpAdd, n, p, p, kHalfPi);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, p, p, k);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, a, p, a);
  // x < 0: a - pi.
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, k, xs, nx, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2Constant(node, kOpMultiply, n, p, k, -kPi);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, a, a, p);
  // Negated where min(y, x) < 0 <= max(y, x).
  std::uint32_t *low = ny, *high = ay, *negated = nx;
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMin, n, low, y, xs);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMax, n, high, y, xs);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, negated, low);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpLess, n, k, low, negated, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, negated, high);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpGreaterEqual, n, s, high, negated, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, k, k, s, kValueComparison);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, p, a, a);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, n, p, p);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, p, k, p);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, n, out, a, p);
  return hr;
}

HRESULT ShaderCompiler::EmitPower(const ParseNode* node, std::uint32_t* results, const std::uint32_t* base,
                                  const std::uint32_t* exponent, std::uint32_t n) {
  if (n == 0) return S_OK;
  WordBlock w(*this, 2 * n);
  if (!w) return E_OUTOFMEMORY;
  std::uint32_t *l = w.Get(), *u = l + n;

  // 0^e and 1^e as the targets compute them.
  bool zeros = true, ones = true;
  for (std::uint32_t i = 0; i < n && (zeros || ones); ++i) {
    double b;
    const bool known = SUCCEEDED(GetConstantValue(base[i], &b));
    zeros = zeros && known && b == 0;
    ones = ones && known && b == 1;
  }
  if (zeros || ones) {
    const std::uint32_t literal = zeros ? Zero() : One();
    if (literal == kNoIndex) return E_OUTOFMEMORY;
    std::fill_n(l, n, literal);
    return Emit1(node, kOpMove, n, results, l);
  }

  double e;
  if (std::all_of(exponent, exponent + n, [exponent](std::uint32_t v) { return v == exponent[0]; }) &&
      SUCCEEDED(GetConstantValue(exponent[0], &e)) && std::fabs(e) < 2147483648.0) {
    // An exponent outside the 32-bit range (1e30) is no small integer.
    const double k = std::trunc(e);
    if (std::fabs(e - k) < 1e-6) {
      const std::int64_t whole = static_cast<std::int64_t>(k);
      const std::uint64_t magnitude = whole < 0 ? 0 - static_cast<std::uint64_t>(whole) : whole;
      std::uint64_t cost = magnitude ? (std::bit_width(magnitude) - 1) + (std::popcount(magnitude) - 1) : 0;
      if (whole < 0) cost += n;
      const std::uint64_t factor = target->profileLimits.word15 ? target->profileLimits.word15 : 1;
      const std::uint64_t limit = (OperationCaps() & kCapNativeLit) && (options & kOptionPartialPrecision)
                                      ? std::uint64_t{n} + 1
                                      : 2 * factor * n + 1;
      if (cost <= limit) return EmitIntegerPower(node, results, base, whole, n);
    } else if (std::fabs(std::fabs(e) - 0.5) < 1e-6) {
      HRESULT hr = Emit1(node, kOpRsq, n, results, base, kValueNonNegative);
      if (SUCCEEDED(hr) && e >= 0) hr = Emit1(node, kOpReciprocal, n, results, results, kValueNonNegative);
      return hr;
    }
  }
  // exp2(e log2 b)
  HRESULT hr = Emit1(node, kOpLog2, n, l, base);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, n, u, exponent, l);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpExp2, n, results, u, kValueNonNegative);
  return hr;
}

HRESULT ShaderCompiler::EmitIntegerPower(const ParseNode* node, std::uint32_t* results, const std::uint32_t* base,
                                         std::int64_t k, std::uint32_t n) {
  WordBlock w(*this, 2 * n);
  const std::uint32_t unit = One();
  if (!w || unit == kNoIndex) return E_OUTOFMEMORY;
  std::uint32_t *r = w.Get(), *p = r + n;
  std::fill_n(p, n, unit);
  HRESULT hr = Emit1(node, kOpMove, n, r, p);
  std::uint64_t bits = k < 0 ? 0 - static_cast<std::uint64_t>(k) : static_cast<std::uint64_t>(k);
  if (bits && SUCCEEDED(hr)) hr = Emit1(node, kOpMove, n, p, base);
  // Square and multiply from the lowest bit.
  for (; bits && SUCCEEDED(hr); bits >>= 1) {
    if (bits & 1) hr = Emit2(node, kOpMultiply, n, r, r, p);
    if (SUCCEEDED(hr) && bits > 1) hr = Emit2(node, kOpMultiply, n, p, p, p, kValueNonNegative);
  }
  if (SUCCEEDED(hr) && k < 0) hr = Emit1(node, kOpReciprocal, n, r, r);
  if (SUCCEEDED(hr)) std::copy_n(r, n, results);
  return hr;
}

}  // namespace gxl::shader
