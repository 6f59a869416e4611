// The scalar routines of the 3DNow! set: sine and cosine, tangent, the arc
// functions, logarithms, exponentials and the rounding helpers, in packed
// single precision. Every division is a refined reciprocal, and selections
// are made with comparison masks; comparisons "as integers" compare the bit
// patterns of non-negative floats. No routine tests for non-finite operands.
#include "gxl/math/now3d_instance.h"

namespace gxl::math::now3d {

namespace {

constexpr float kHalfPi = 1.57079637f;  // 0x3FC90FDB
constexpr std::uint32_t kOneBits = 0x3F800000u;

}  // namespace

// The octant n = trunc(|x| 4/pi) and r = |x| - n pi/4 (pi/4 in two parts),
// reflected to pi/4 - r in odd octants, so 0 <= r <= pi/4. The cosine and sine
// polynomials run side by side (cosine in lane 0), then change lanes when bits
// 0 and 1 of n differ; the cosine changes sign when bits 1 and 2 differ, the
// sine when the sign of x differs from bit 2.
template <class P>
auto ScalarBodies<P>::SinCos(V x) -> V {
  const V a = Lane0(Abs(x));
  const V n = pf2id(pfmul(a, Splat(1.27323949f)));
  const V nf = pi2fd(n);
  V r = pfadd(pfadd(a, pfmul(nf, Splat(-0.78515625f))), pfmul(nf, Splat(-0.000241913396f)));
  const V one = Ints(1);
  r = Select(pcmpeqd(pand(n, one), one), pfsub(Splat(0.785398185f), r), r);
  const V z = pfmul(r, r);
  V t = pfadd(Splat(1.0f), pfmul(Pair(-0.0178571437f, -0.0238095243f), z));
  t = pfadd(Splat(1.0f), pfmul(pfmul(Pair(-0.0333333351f, -0.0500000007f), z), t));
  t = pfadd(Splat(1.0f), pfmul(pfmul(Pair(-0.0833333358f, -0.166666672f), z), t));
  // Lane 0: 1 + (-0.5 z) t0, the cosine; lane 1: r t1, the sine.
  const V cs = pfadd(Pair(1.0f, 0.0f), pfmul(punpckldq(pfmul(Splat(-0.5f), z), r), t));
  const V swap = pcmpeqd(pand(pxor(n, psrld(n, 1)), one), one);
  const V cosFlip = pslld(pxor(psrld(n, 1), psrld(n, 2)), 31);
  const V sinFlip = pxor(pslld(psrld(n, 2), 31), SignOf(Lane0(x)));
  return pxor(Select(swap, Swap(cs), cs), punpckldq(cosFlip, sinFlip));
}

template <class P>
auto ScalarBodies<P>::Sin(V x) -> V {
  return Lane1(SinCos(x));
}

template <class P>
auto ScalarBodies<P>::Tan(V x) -> V {
  const V cs = SinCos(x);
  return pfmul(Lane1(cs), Rcp(cs));
}

namespace {

// t + t z P rcp(Q) with z = t^2: the arc tangent of t in [0, 1].
template <class S>
typename S::V AtanPoly(typename S::V t) {
  const auto z = S::pfmul(t, t);
  const auto p = S::pfadd(S::pfmul(S::pfadd(S::pfmul(S::Splat(-0.823362947f), z), S::Splat(-5.67486715f)), z),
                          S::Splat(-6.5655551f));
  auto q = S::pfmul(S::pfadd(z, S::Splat(11.3353882f)), z);
  q = S::pfadd(S::pfmul(S::pfadd(q, S::Splat(28.8424683f)), z), S::Splat(19.6966705f));
  return S::pfadd(t, S::pfmul(S::pfmul(S::pfmul(t, z), p), S::Rcp(q)));
}

// u + u z P rcp(Q) with z = u^2: the arc sine of u in [0, 0.575] or so.
template <class S>
typename S::V AsinPoly(typename S::V u) {
  const auto z = S::pfmul(u, u);
  const auto p = S::pfadd(S::pfmul(S::Splat(-0.501162291f), z), S::Splat(0.915201485f));
  const auto q = S::pfadd(S::pfmul(S::pfadd(z, S::Splat(-5.47865438f)), z), S::Splat(5.49123049f));
  return S::pfadd(u, S::pfmul(S::pfmul(S::pfmul(u, z), p), S::Rcp(q)));
}

}  // namespace

template <class P>
auto ScalarBodies<P>::Atan(V x) -> V {
  const V a = Lane0(Abs(x));
  const V small = pcmpgtd(Ints(kOneBits), a);
  const V r = AtanPoly<ScalarBodies>(pfmin(a, Rcp(a)));
  return por(Select(small, r, pfmax(r, pfsub(Splat(kHalfPi), r))), SignOf(Lane0(x)));
}

template <class P>
auto ScalarBodies<P>::Atan2(V x, V y) -> V {
  const V ax = Lane0(Abs(x)), ay = Lane0(Abs(y));
  const V steep = pcmpgtd(ay, ax);
  const V r = AtanPoly<ScalarBodies>(pfmul(pfmin(ax, ay), Rcp(pfmax(ax, ay))));
  const V negativeX = psrad(Lane0(x), 31);
  const V halfPi = Splat(kHalfPi);
  const V steepAngle = Select(negativeX, pfadd(halfPi, r), pfsub(halfPi, r));
  const V flatAngle = Select(negativeX, pfsub(pfadd(halfPi, halfPi), r), r);
  return por(Select(steep, steepAngle, flatAngle), SignOf(Lane0(y)));
}

namespace {

// The arc sine v of u = |x| below the split point 0.575, else of
// u = sqrt((1 - |x|)/2); big marks magnitudes above 1 (and NaN patterns).
template <class S>
struct ArcSine {
  typename S::V v, small, big;
  explicit ArcSine(typename S::V x) {
    const auto a = S::Lane0(S::Abs(x));
    big = S::pcmpgtd(a, S::Ints(kOneBits));
    small = S::pcmpgtd(S::Ints(0x3F133333u), a);
    const auto h = S::pfsub(S::Splat(0.5f), S::pfmul(S::Splat(0.5f), a));
    v = AsinPoly<S>(S::Select(small, a, S::pfmul(h, S::Rsqrt(h))));
  }
};

}  // namespace

// Near 0: pi/2 -+ v; else 2v, or pi - 2v for negative x; 0 beyond 1.
template <class P>
auto ScalarBodies<P>::Acos(V x) -> V {
  const ArcSine<ScalarBodies> as(x);
  const V negative = psrad(Lane0(x), 31);
  const V halfPi = Splat(kHalfPi);
  const V twice = pfadd(as.v, as.v);
  const V nearZero = Select(negative, pfadd(halfPi, as.v), pfsub(halfPi, as.v));
  const V nearOne = Select(negative, pfsub(pfadd(halfPi, halfPi), twice), twice);
  return pandn(as.big, Select(as.small, nearZero, nearOne));
}

// Near 0: v; else pi/2 - 2v; with the sign of x; 0 beyond 1.
template <class P>
auto ScalarBodies<P>::Asin(V x) -> V {
  const ArcSine<ScalarBodies> as(x);
  const V angle = Select(as.small, as.v, pfsub(Splat(kHalfPi), pfadd(as.v, as.v)));
  return pandn(as.big, por(angle, SignOf(Lane0(x))));
}

namespace {

// log2 |x| split as e + s terms: the mantissa m in [1, 2), halved (with the
// exponent raised) above sqrt(2); s = (m - 1)/(m + 1), w = s^2; the series
// factor c1 + w (c2 + w c3). E is the biased exponent field.
template <class S>
struct LogParts {
  typename S::V e, s, w, series, E;
};
template <class S>
LogParts<S> SplitLog(typename S::V x) {
  const auto bits = S::Lane0(x);
  auto m = S::por(S::pand(bits, S::Ints(0x007FFFFFu)), S::Ints(S::Bits(1.0f)));
  auto E = S::psrld(S::pand(bits, S::Ints(0x7F800000u)), 23);
  const auto above = S::pcmpgtd(m, S::Ints(0x3FB504F3u));
  m = S::psubd(m, S::pand(above, S::Ints(0x00800000u)));
  LogParts<S> p;
  p.E = E;
  E = S::psubd(E, above);
  p.e = S::pi2fd(S::psubd(E, S::Ints(127)));
  p.s = S::pfmul(S::pfsub(m, S::Splat(1.0f)), S::Rcp(S::pfadd(m, S::Splat(1.0f))));
  p.w = S::pfmul(p.s, p.s);
  p.series = S::pfadd(S::pfmul(p.w, S::pfadd(S::pfmul(p.w, S::Splat(0.14935258f)), S::Splat(0.199887976f))),
                      S::Splat(0.33333388f));
  return p;
}

// 1 + 2P / (Q - P): the Pade form shared by the exponentials, then n added to
// the exponent field.
template <class S>
typename S::V PadeScaled(typename S::V p, typename S::V q, typename S::V n) {
  const auto e = S::pfadd(S::Splat(1.0f), S::pfmul(S::pfadd(p, p), S::Rcp(S::pfsub(q, p))));
  return S::paddd(e, S::pslld(n, 23));
}

}  // namespace

template <class P>
auto ScalarBodies<P>::Log(V x) -> V {
  const LogParts<ScalarBodies> p = SplitLog<ScalarBodies>(x);
  const V twoS = pfadd(p.s, p.s);
  V r = pfadd(twoS, pfmul(pfmul(twoS, p.w), p.series));
  r = pfadd(pfadd(r, pfmul(p.e, Splat(1.42860677e-06f))), pfmul(p.e, Splat(0.693145752f)));
  return Select(pcmpeqd(p.E, Zero()), Ints(0xFF7FFFFFu), r);
}

template <class P>
auto ScalarBodies<P>::Log10(V x) -> V {
  return pfmul(Log(x), Splat(0.434294552f));
}

template <class P>
auto ScalarBodies<P>::Exp(V x) -> V {
  x = Lane0(x);
  const V n = pf2id(pfadd(pfmul(x, Splat(1.44269502f)), por(Splat(0.5f), SignOf(x))));
  const V nf = pi2fd(n);
  const V r = pfsub(pfsub(x, pfmul(nf, Splat(0.693145752f))), pfmul(nf, Splat(1.42860677e-06f)));
  const V z = pfmul(r, r);
  const V p = pfmul(r, pfadd(pfmul(Splat(0.0832428709f), z), Splat(5.00109053f)));
  const V value = PadeScaled<ScalarBodies>(p, pfadd(z, Splat(10.0021811f)), n);
  const V low = pfcmpgt(Splat(-87.3365479f), x);
  const V high = pfcmpge(x, Splat(88.7228394f));
  return pandn(low, Select(high, Ints(0x7F7FFFFFu), value));
}

template <class P>
auto ScalarBodies<P>::Pow(V x, V y) -> V {
  x = Lane0(x);
  y = Lane0(y);
  const V negative = pand(SignOf(x), pslld(pf2id(y), 31));
  const LogParts<ScalarBodies> p = SplitLog<ScalarBodies>(x);
  const V ks = pfmul(Splat(2.88539004f), p.s);
  const V log2 = pfadd(p.e, pfadd(ks, pfmul(pfmul(ks, p.w), p.series)));
  const V t = Select(pcmpeqd(p.E, Zero()), Splat(-3.40282347e+38f), pfmul(log2, y));
  const V n = pf2id(t);
  const V f = pfsub(t, pi2fd(n));
  const V z = pfmul(f, f);
  const V q = pfadd(pfmul(pfadd(z, Splat(376.005524f)), z), Splat(7306.22119f));
  const V value = PadeScaled<ScalarBodies>(pfmul(f, pfadd(pfmul(Splat(28.9322605f), z), Splat(2532.14331f))), q, n);
  const V high = pfcmpge(t, Splat(128.0f));
  const V low = pfcmpgt(Splat(-126.0f), t);
  return pxor(pandn(low, Select(high, Ints(0x7F7FFFFFu), value)), negative);
}

template <class P>
auto ScalarBodies<P>::Sqrt(V x) -> V {
  return pfmul(x, Rsqrt(x));
}

template <class P>
auto ScalarBodies<P>::Fabs(V x) -> V {
  return Abs(x);
}

template <class P>
auto ScalarBodies<P>::Ceil(V x) -> V {
  const V sign = SignOf(x);
  const V i = por(pi2fd(pf2id(x)), sign);
  const V up = por(pand(pfcmpgt(pfsub(x, i), Zero()), Splat(1.0f)), sign);
  return pfadd(i, up);
}

template <class P>
auto ScalarBodies<P>::Floor(V x) -> V {
  const V i = pi2fd(pf2id(x));
  return pfsub(i, pand(pfcmpgt(Zero(), pfsub(x, i)), Splat(1.0f)));
}

template <class P>
auto ScalarBodies<P>::Frexp(V x) -> V {
  const V fraction = pfmul(por(pand(x, Ints(0x807FFFFFu)), Ints(0x3F800000u)), Splat(0.5f));
  const V exponent = psubd(psrld(pand(x, Ints(0x7F800000u)), 23), Ints(126));
  return punpckldq(fraction, exponent);
}

template <class P>
auto ScalarBodies<P>::Ldexp(V x, V n) -> V {
  const V k = paddd(psrld(pand(x, Ints(kMagnitude)), 23), n);
  const V value = paddd(pslld(k, 23), pand(x, Ints(0x807FFFFFu)));
  const V inRange = pand(pcmpgtd(k, Ints(~0u)), pcmpgtd(Ints(256), k));
  const V over = pcmpgtd(k, Ints(255));
  return Select(inRange, value, pand(over, por(SignOf(x), Ints(0x7F800000u))));
}

template <class P>
auto ScalarBodies<P>::Modf(V x) -> V {
  const V whole = pi2fd(pf2id(Lane0(x)));
  return punpckldq(pfsub(x, whole), whole);
}

template <class P>
auto ScalarBodies<P>::Fmod(V x, V y) -> V {
  if (lo32(y) == 0) return Ints(0x7FFFFFFFu);
  const V q = pfmul(x, Rcp(y));
  return pfmul(y, pfsub(q, pi2fd(pf2id(q))));
}

template struct ScalarBodies<Policy>;

}  // namespace gxl::math::now3d
