// The 3DNow! bodies of the quaternion operations. The spherical interpolation
// is the one body that the barycentric, spline and spline set-up bodies build
// on; sines, cosines and the arc functions come from the scalar routines.
#include "gxl/math/now3d_instance.h"
#include "gxl/math/now3d_kernels.h"

namespace gxl::math::now3d {

// Hamilton product q2 q1 as lane products: pairs of q1 with the (-0, 0) and
// (0, -0) sign masks, each times one component of q2, summed in order w, x, y, z.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionMultiply(Quaternion* out, const Quaternion* q1, const Quaternion* q2) {
  const V axy = Lo(&q1->x), azw = Hi(&q1->x), bxy = Lo(&q2->x), bzw = Hi(&q2->x);
  const V bx = Lane0(bxy), by = Lane1(bxy), bz = Lane0(bzw), bw = Lane1(bzw);
  const V signHi = set(0, kSign), signLo = set(kSign, 0);
  const V wzNeg = pxor(Swap(azw), signHi);  // (aw, -az)
  const V xy =
      pfadd(pfadd(pfadd(pfmul(bw, axy), pfmul(bx, wzNeg)), pfmul(by, azw)), pfmul(bz, pxor(Swap(axy), signLo)));
  const V zw =
      pfadd(pfadd(pfadd(pfmul(bw, azw), pfmul(bx, pxor(Swap(axy), signHi))), pfmul(by, Negate(axy))), pfmul(bz, wzNeg));
  Put(&out->x, xy, zw);
  femms();
  return out;
}

template <class P>
Quaternion* QuaternionBodies<P>::QuaternionNormalize(Quaternion* out, const Quaternion* q) {
  VectorBodies<P>::Vec4Normalize(reinterpret_cast<Vec4*>(out), reinterpret_cast<const Vec4*>(q));
  return out;
}

// The zero test on the squared length (limit: the smallest normal float);
// the conjugate times the refined reciprocal of the squared length.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionInverse(Quaternion* out, const Quaternion* q) {
  const V xy = Lo(&q->x), zw = Hi(&q->x);
  const V n = Dot4(xy, zw, xy, zw);
  const V mask = Positive(n), r = Rcp(n);
  Put(&out->x, pfmul(pand(Negate(xy), mask), r), pfmul(pand(pxor(zw, set(kSign, 0)), mask), r));
  femms();
  return out;
}

template <class P>
void QuaternionBodies<P>::QuaternionToAxisAngle(const Quaternion* q, Vec3* axis, float* angle) {
  const V xy = Lo(&q->x), zw = Hi(&q->x);
  if (axis) Put3(&axis->x, xy, zw);
  if (angle) store32(angle, pfmul(Splat(2.0f), S::Acos(Lane1(zw))));
  femms();
}

template <class P>
Quaternion* QuaternionBodies<P>::QuaternionFromMatrix(Quaternion* out, const Matrix4* m) {
  kernel::ToQuaternion<QuaternionBodies>(out, m);
  femms();
  return out;
}

template <class P>
Quaternion* QuaternionBodies<P>::QuaternionFromYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll) {
  V xy, zw;
  kernel::FromYawPitchRoll<QuaternionBodies>(yaw, pitch, roll, &xy, &zw);
  Put(&out->x, xy, zw);
  femms();
  return out;
}

// The axis normalised by the Vec3 body into a copy (a zero axis gives
// (0, 0, 0, cos)), times the sine of half the angle.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionFromAxisAngle(Quaternion* out, const Vec3* axis, float angle) {
  Vec3 n;
  VectorBodies<P>::Vec3Normalize(&n, axis);
  const V cs = S::SinCos(pfmul(Splat(angle), Splat(0.5f)));
  const V s = Lane1(cs);
  Put(&out->x, pfmul(Lo(&n.x), s), punpckldq(pfmul(Z(&n.x), s), cs));
  femms();
  return out;
}

// d = q1 . q2; d <= 0 (0 included) negates the weight of q2 and d. Up to the
// limit 0.99999 the weights are sin((1 - t) theta) and sin(t theta) over
// sin theta, with theta = atan2(sin theta, d); above it, 1 - t and t.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t) {
  const V axy = Lo(&q1->x), azw = Hi(&q1->x), bxy = Lo(&q2->x), bzw = Hi(&q2->x);
  V d = Dot4(axy, azw, bxy, bzw);
  const V flip = pand(pfcmpge(Zero(), d), Ints(kSign));
  d = pxor(d, flip);
  const V tt = Splat(t), one = Splat(1.0f);
  V w1 = pfsub(one, tt), w2 = tt;
  if (lo32(pfcmpge(Ints(0x3F7FFF58u), d)) != 0) {
    const V r = Rsqrt(pfsub(one, pfmul(d, d)));
    const V theta = S::Atan2(d, Rcp(r));
    w1 = pfmul(S::Sin(pfmul(theta, w1)), r);
    w2 = pfmul(S::Sin(pfmul(theta, tt)), r);
  }
  w2 = pxor(w2, flip);
  Put(&out->x, pfadd(pfmul(w1, axy), pfmul(w2, bxy)), pfadd(pfmul(w1, azw), pfmul(w2, bzw)));
  femms();
  return out;
}

// slerp(slerp(q1, q2, s), slerp(q1, q3, s), g / s) with s = f + g; an s within
// 2^-23 of 0 copies q1, as the portable body does (g / s would be meaningless).
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionBarycentric(Quaternion* out, const Quaternion* q1, const Quaternion* q2,
                                                       const Quaternion* q3, float f, float g) {
  const V s = pfadd(Splat(f), Splat(g));
  if (lo32(pfcmpge(Splat(kNearlyZero), Abs(s))) != 0) {
    if (out != q1) Put(&out->x, Lo(&q1->x), Hi(&q1->x));
    femms();
    return out;
  }
  const float k = First(pfmul(Splat(g), Rcp(s)));
  const float sf = First(s);
  femms();
  Quaternion a, b;
  QuaternionSlerp(&a, q1, q2, sf);
  QuaternionSlerp(&b, q1, q3, sf);
  return QuaternionSlerp(out, &a, &b, k);
}

template <class P>
Quaternion* QuaternionBodies<P>::QuaternionSpline(Quaternion* out, const Quaternion* q1, const Quaternion* a,
                                                  const Quaternion* b, const Quaternion* c, float t) {
  const V tt = Splat(t);
  const float weight = First(pfmul(pfsub(tt, pfmul(tt, tt)), Splat(2.0f)));
  femms();
  Quaternion outer, inner;
  QuaternionSlerp(&outer, q1, c, t);
  QuaternionSlerp(&inner, a, b, t);
  return QuaternionSlerp(out, &outer, &inner, weight);
}

// w >= 1 copies x, y, z; otherwise theta = acos w and s = sin theta, and x, y, z
// are scaled by theta / s unless |s| is below 2^-23. w becomes 0.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionLn(Quaternion* out, const Quaternion* q) {
  V xy = Lo(&q->x), zw = Hi(&q->x);
  const V w = Lane1(zw);
  if (lo32(pfcmpge(w, Splat(1.0f))) == 0) {
    const V theta = S::Acos(w), s = S::Sin(theta);
    const V k = pfmul(theta, Rcp(s));
    const V scale = pfcmpge(Abs(s), Splat(kNearlyZero));
    xy = Select(scale, pfmul(xy, k), xy);
    zw = Select(scale, pfmul(zw, k), zw);
  }
  Put(&out->x, xy, punpckldq(zw, Zero()));
  femms();
  return out;
}

// theta = |xyz| (q rsqrt q); x, y, z times sin(theta) / theta, w = cos theta.
// Only an angle within 2^-23 of 0 keeps x, y, z as they are (the limit of
// sin t / t): near theta = pi the sine is small but the quotient is not.
template <class P>
Quaternion* QuaternionBodies<P>::QuaternionExp(Quaternion* out, const Quaternion* q) {
  V xy = Lo(&q->x), z = Z(&q->x);
  const V n = Dot3(xy, z, xy, z), rs = Rsqrt(n);
  const V theta = pfmul(n, rs);
  const V cs = S::SinCos(theta);
  const V k = pfmul(Lane1(cs), rs);
  const V scale = pfcmpgt(theta, Splat(kNearlyZero));
  xy = Select(scale, pfmul(xy, k), xy);
  z = Select(scale, pfmul(z, k), z);
  Put(&out->x, xy, punpckldq(z, cs));
  femms();
  return out;
}

namespace {

// |a - b|^2 > |a + b|^2.
template <class S>
bool Farther(const Quaternion& a, const Quaternion& b) {
  const auto axy = S::Lo(&a.x), azw = S::Hi(&a.x), bxy = S::Lo(&b.x), bzw = S::Hi(&b.x);
  const auto dxy = S::pfsub(axy, bxy), dzw = S::pfsub(azw, bzw), sxy = S::pfadd(axy, bxy), szw = S::pfadd(azw, bzw);
  return S::lo32(S::pfcmpgt(S::Dot4(dxy, dzw, dxy, dzw), S::Dot4(sxy, szw, sxy, szw))) != 0;
}

// q1 exp(-(ln(q1^-1 q0) + ln(q1^-1 q2)) / 4) with this set's bodies.
template <class S>
Quaternion Control(const Quaternion& q0, const Quaternion& q1, const Quaternion& q2) {
  Quaternion inverse, t0, t2, sum, e, out;
  S::QuaternionInverse(&inverse, &q1);
  S::QuaternionLn(&t0, S::QuaternionMultiply(&t0, &inverse, &q0));
  S::QuaternionLn(&t2, S::QuaternionMultiply(&t2, &inverse, &q2));
  const auto k = S::Splat(-0.25f);
  S::Put(&sum.x, S::pfmul(S::pfadd(S::Lo(&t0.x), S::Lo(&t2.x)), k), S::pfmul(S::pfadd(S::Hi(&t0.x), S::Hi(&t2.x)), k));
  S::QuaternionExp(&e, &sum);
  S::QuaternionMultiply(&out, &q1, &e);
  return out;
}

}  // namespace

template <class P>
void QuaternionBodies<P>::QuaternionSplineSetup(Quaternion* a, Quaternion* b, Quaternion* c, const Quaternion* q0,
                                                const Quaternion* q1, const Quaternion* q2, const Quaternion* q3) {
  Quaternion Q0 = *q0, Q1 = *q1, Q2 = *q2, Q3 = *q3;
  if (Farther<QuaternionBodies>(Q0, Q1)) Q0 = -Q0;
  if (Farther<QuaternionBodies>(Q1, Q2)) Q2 = -Q2;
  if (Farther<QuaternionBodies>(Q2, Q3)) Q3 = -Q3;
  const Quaternion ra = Control<QuaternionBodies>(Q0, Q1, Q2);
  const Quaternion rb = Control<QuaternionBodies>(Q1, Q2, Q3);
  *a = ra;
  *b = rb;
  *c = Q2;
  femms();
}

template struct QuaternionBodies<Policy>;

}  // namespace gxl::math::now3d
