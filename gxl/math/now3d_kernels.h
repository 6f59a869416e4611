// The matrix and quaternion kernels shared by the base 3DNow! bodies and the
// bodies for processors with the extended instructions (S::kExtended). Both
// forms perform the same float operations in the same order, so they give the
// same bits; the extended form gathers its operands with lane swaps, negating
// accumulates and byte-mask moves. No kernel executes the MMX exit.
//
// Only the 3DNow! source files include this header.
#pragma once

#include "gxl/math/now3d_bodies.h"

namespace gxl::math::now3d::kernel {

template <class S>
using VOf = typename S::V;

// (v1, v0).
template <class S>
VOf<S> Swapped(VOf<S> v) {
  if constexpr (S::kExtended) {
    return S::pswapd(v);
  } else {
    return S::Swap(v);
  }
}

// One element of a matrix as (e, 0).
template <class S>
VOf<S> Element(const Matrix4* m, int r, int c) {
  return S::load32(&m->m[r][c]);
}

template <class S>
typename S::Rows Identity() {
  typename S::Rows r;
  for (int i = 0; i < 4; ++i) {
    r.lo[i] = S::Pair(i == 0 ? 1.0f : 0.0f, i == 1 ? 1.0f : 0.0f);
    r.hi[i] = S::Pair(i == 2 ? 1.0f : 0.0f, i == 3 ? 1.0f : 0.0f);
  }
  return r;
}

// Rows (p0j, p1j, p2j, p3j) of the transpose.
template <class S>
typename S::Rows Transposed(const typename S::Rows& m) {
  typename S::Rows t;
  t.lo[0] = S::punpckldq(m.lo[0], m.lo[1]), t.hi[0] = S::punpckldq(m.lo[2], m.lo[3]);
  t.lo[1] = S::punpckhdq(m.lo[0], m.lo[1]), t.hi[1] = S::punpckhdq(m.lo[2], m.lo[3]);
  t.lo[2] = S::punpckldq(m.hi[0], m.hi[1]), t.hi[2] = S::punpckldq(m.hi[2], m.hi[3]);
  t.lo[3] = S::punpckhdq(m.hi[0], m.hi[1]), t.hi[3] = S::punpckhdq(m.hi[2], m.hi[3]);
  return t;
}

// a x b with b transposed first: every element ((a0 b0j + a1 b1j) + (a2 b2j + a3 b3j)).
template <class S>
typename S::Rows Product(const typename S::Rows& a, const typename S::Rows& b) {
  const typename S::Rows c = Transposed<S>(b);  // c.lo[j] = (b0j, b1j), c.hi[j] = (b2j, b3j)
  typename S::Rows out;
  for (int i = 0; i < 4; ++i) {
    VOf<S> e[4];
    for (int j = 0; j < 4; ++j) e[j] = S::pfacc(S::pfmul(a.lo[i], c.lo[j]), S::pfmul(a.hi[i], c.hi[j]));
    out.lo[i] = S::pfacc(e[0], e[1]);
    out.hi[i] = S::pfacc(e[2], e[3]);
  }
  return out;
}

// a x b as row combinations with sequential sums: ((a0 row0 + a1 row1) + a2 row2) + a3 row3.
template <class S>
typename S::Rows PlainProduct(const typename S::Rows& a, const typename S::Rows& b) {
  typename S::Rows out;
  for (int i = 0; i < 4; ++i) {
    const VOf<S> k[4] = {S::Lane0(a.lo[i]), S::Lane1(a.lo[i]), S::Lane0(a.hi[i]), S::Lane1(a.hi[i])};
    VOf<S> lo = S::pfmul(k[0], b.lo[0]), hi = S::pfmul(k[0], b.hi[0]);
    for (int r = 1; r < 4; ++r) {
      lo = S::pfadd(lo, S::pfmul(k[r], b.lo[r]));
      hi = S::pfadd(hi, S::pfmul(k[r], b.hi[r]));
    }
    out.lo[i] = lo, out.hi[i] = hi;
  }
  return out;
}

// The 2x2 minors of two rows, as (m01, m23), (m02, m03) and (m12, m13), where
// mij = u_i v_j - u_j v_i.
template <class S>
void Minors(VOf<S> ulo, VOf<S> uhi, VOf<S> vlo, VOf<S> vhi, VOf<S> minors[3]) {
  if constexpr (S::kExtended) {
    minors[0] = S::pfnacc(S::pfmul(ulo, S::pswapd(vlo)), S::pfmul(uhi, S::pswapd(vhi)));
  } else {
    minors[0] = S::pfsub(S::pfmul(S::punpckldq(ulo, uhi), S::punpckhdq(vlo, vhi)),
                         S::pfmul(S::punpckhdq(ulo, uhi), S::punpckldq(vlo, vhi)));
  }
  minors[1] = S::pfsub(S::pfmul(S::Lane0(ulo), vhi), S::pfmul(uhi, S::Lane0(vlo)));
  minors[2] = S::pfsub(S::pfmul(S::Lane1(ulo), vhi), S::pfmul(uhi, S::Lane1(vlo)));
}

// (c_i e_j - c_k e_l) + c_m e_n for a cofactor pair.
template <class S>
VOf<S> Cofactor(VOf<S> c0, VOf<S> e0, VOf<S> c1, VOf<S> e1, VOf<S> c2, VOf<S> e2) {
  return S::pfadd(S::pfsub(S::pfmul(c0, e0), S::pfmul(c1, e1)), S::pfmul(c2, e2));
}

// The adjugate of m by pairs of rows: lo[r] and hi[r] hold row r of the
// transposed cofactor matrix with the alternating signs not yet applied (rows
// 0 and 2 need (+, -), rows 1 and 3 (-, +)); the pairs mix rows 1 and 0, and
// rows 3 and 2, as (m1j, m0j) and (m3j, m2j).
template <class S>
typename S::Rows Adjugate(const typename S::Rows& m, bool lowHalvesOnly = false) {
  VOf<S> a[3], b[3];
  Minors<S>(m.lo[0], m.hi[0], m.lo[1], m.hi[1], a);
  Minors<S>(m.lo[2], m.hi[2], m.lo[3], m.hi[3], b);
  const VOf<S> a01 = S::Lane0(a[0]), a23 = S::Lane1(a[0]), a02 = S::Lane0(a[1]), a03 = S::Lane1(a[1]);
  const VOf<S> a12 = S::Lane0(a[2]), a13 = S::Lane1(a[2]);
  const VOf<S> b01 = S::Lane0(b[0]), b23 = S::Lane1(b[0]), b02 = S::Lane0(b[1]), b03 = S::Lane1(b[1]);
  const VOf<S> b12 = S::Lane0(b[2]), b13 = S::Lane1(b[2]);
  const VOf<S> c0 = S::punpckldq(m.lo[1], m.lo[0]), c1 = S::punpckhdq(m.lo[1], m.lo[0]);
  const VOf<S> c2 = S::punpckldq(m.hi[1], m.hi[0]), c3 = S::punpckhdq(m.hi[1], m.hi[0]);
  typename S::Rows u;
  u.lo[0] = Cofactor<S>(c1, b23, c2, b13, c3, b12);
  u.lo[1] = Cofactor<S>(c0, b23, c2, b03, c3, b02);
  u.lo[2] = Cofactor<S>(c0, b13, c1, b03, c3, b01);
  u.lo[3] = Cofactor<S>(c0, b12, c1, b02, c2, b01);
  if (lowHalvesOnly) return u;
  const VOf<S> d0 = S::punpckldq(m.lo[3], m.lo[2]), d1 = S::punpckhdq(m.lo[3], m.lo[2]);
  const VOf<S> d2 = S::punpckldq(m.hi[3], m.hi[2]), d3 = S::punpckhdq(m.hi[3], m.hi[2]);
  u.hi[0] = Cofactor<S>(d1, a23, d2, a13, d3, a12);
  u.hi[1] = Cofactor<S>(d0, a23, d2, a03, d3, a02);
  u.hi[2] = Cofactor<S>(d0, a13, d1, a03, d3, a01);
  u.hi[3] = Cofactor<S>(d0, a12, d1, a02, d2, a01);
  return u;
}

// det = (m00 u0 + m02 u2) - (m01 u1 + m03 u3) from the first lanes of the
// adjugate's low halves, in both lanes.
template <class S>
VOf<S> Determinant(const typename S::Rows& m, const typename S::Rows& u) {
  const VOf<S> sum =
      S::pfadd(S::pfmul(S::punpckldq(u.lo[0], u.lo[1]), m.lo[0]), S::pfmul(S::punpckldq(u.lo[2], u.lo[3]), m.hi[0]));
  if constexpr (S::kExtended) {
    return S::pfnacc(sum, sum);
  } else {
    return S::Sum(S::pfmul(sum, S::Pair(1.0f, -1.0f)));
  }
}

// The inverse: the determinant output (when asked) gets det also when it is 0;
// det exactly 0 leaves out untouched and gives false. Otherwise the adjugate
// times the refined 1/det with the cofactor signs by lane. 3DNow! arithmetic
// has no infinities, so there is nothing else to test.
template <class S>
bool Inverse(Matrix4* out, float* determinant, const Matrix4* matrix) {
  const typename S::Rows m = S::LoadRows(matrix);
  const typename S::Rows u = Adjugate<S>(m);
  const VOf<S> det = Determinant<S>(m, u);
  if (determinant) S::store32(determinant, det);
  if (S::lo32(S::pfcmpeq(det, S::Zero())) != 0) return false;
  const VOf<S> r = S::Rcp(det);
  const VOf<S> plus = S::pfmul(S::Pair(1.0f, -1.0f), r), minus = S::pfmul(S::Pair(-1.0f, 1.0f), r);
  typename S::Rows inv;
  for (int i = 0; i < 4; ++i) {
    const VOf<S> sign = (i & 1) ? minus : plus;
    inv.lo[i] = S::pfmul(u.lo[i], sign);
    inv.hi[i] = S::pfmul(u.hi[i], sign);
  }
  S::PutRows(out, inv);
  return true;
}

// The rotation matrix of q (not normalised): twice the components, then the
// nine products; 1 - (yy + zz) on the diagonal, xy + wz and the like off it.
template <class S>
typename S::Rows FromQuaternion(VOf<S> qxy, VOf<S> qzw) {
  const VOf<S> x = S::Lane0(qxy), y = S::Lane1(qxy), z = S::Lane0(qzw), w = S::Lane1(qzw);
  const VOf<S> x2 = S::pfadd(x, x), y2 = S::pfadd(y, y), z2 = S::pfadd(z, z);
  const VOf<S> xx = S::pfmul(x, x2), yy = S::pfmul(y, y2), zz = S::pfmul(z, z2);
  const VOf<S> xy = S::pfmul(x, y2), xz = S::pfmul(x, z2), yz = S::pfmul(y, z2);
  const VOf<S> wx = S::pfmul(w, x2), wy = S::pfmul(w, y2), wz = S::pfmul(w, z2);
  const VOf<S> one = S::Splat(1.0f), zero = S::Zero();
  // (difference, sum) of each off-diagonal pair.
  VOf<S> xyWz, xzWy, yzWx;
  if constexpr (S::kExtended) {
    xyWz = S::pfpnacc(S::punpckldq(xy, wz), S::punpckldq(xy, wz));
    xzWy = S::pfpnacc(S::punpckldq(xz, wy), S::punpckldq(xz, wy));
    yzWx = S::pfpnacc(S::punpckldq(yz, wx), S::punpckldq(yz, wx));
  } else {
    xyWz = S::punpckldq(S::pfsub(xy, wz), S::pfadd(xy, wz));
    xzWy = S::punpckldq(S::pfsub(xz, wy), S::pfadd(xz, wy));
    yzWx = S::punpckldq(S::pfsub(yz, wx), S::pfadd(yz, wx));
  }
  typename S::Rows m;
  m.lo[0] = S::punpckldq(S::pfsub(one, S::pfadd(yy, zz)), S::Lane1(xyWz));
  m.hi[0] = S::punpckldq(xzWy, zero);
  m.lo[1] = S::punpckldq(xyWz, S::pfsub(one, S::pfadd(xx, zz)));
  m.hi[1] = S::punpckldq(S::Lane1(yzWx), zero);
  m.lo[2] = S::punpckldq(S::Lane1(xzWy), yzWx);
  m.hi[2] = S::punpckldq(S::pfsub(one, S::pfadd(xx, yy)), zero);
  m.lo[3] = zero;
  m.hi[3] = S::Pair(0.0f, 1.0f);
  return m;
}

// The rotation quaternion of a matrix. The trace t and the differences
// dx = (m11 - m22) - m33, dy = (m22 - m11) - m33, dz = (m33 - m11) - m22 are
// formed together; t > 0 takes w as the major component, else the largest of
// dx, dy, dz (ties to x, then y). With v the major value, r = 0.5 rsqrt(v + 1):
// the major component is (v + 1) r, the others sums or differences of the
// off-diagonal elements times r.
template <class S>
void ToQuaternion(Quaternion* out, const Matrix4* m) {
  using V = VOf<S>;
  auto e = [m](int r, int c) { return Element<S>(m, r, c); };
  const V a = S::Lane0(e(0, 0)), b = S::Lane0(e(1, 1)), c = S::Lane0(e(2, 2));
  const V tdx = S::pfadd(S::pfadd(a, S::punpckldq(b, S::Negate(b))), S::punpckldq(c, S::Negate(c)));
  const V dydz = S::pfadd(S::pfadd(S::punpckldq(b, c), S::Negate(a)), S::Negate(S::punpckldq(c, b)));
  // Comparisons: 0 >= t, dx >= dz, then dx >= dy, dy >= dz.
  const V first = S::punpckldq(S::pfcmpge(S::Zero(), tdx), S::pfcmpge(S::Lane1(tdx), S::Lane1(dydz)));
  const V second = S::pfcmpge(S::punpckldq(S::Lane1(tdx), dydz), dydz);
  bool notW, dxGeDz, dxGeDy, dyGeDz;
  if constexpr (S::kExtended) {
    const int bits = S::pmovmskb(S::packssdw(first, second));
    notW = bits & 0x03, dxGeDz = bits & 0x0C, dxGeDy = bits & 0x30, dyGeDz = bits & 0xC0;
  } else {
    const V packed = S::por(S::pand(first, S::set(0x01u, 0x0100u)), S::pand(second, S::set(0x010000u, 0x01000000u)));
    const std::uint32_t bits = S::lo32(S::por(packed, S::psrlq(packed, 32)));
    notW = bits & 0x01u, dxGeDz = bits & 0x0100u, dxGeDy = bits & 0x010000u, dyGeDz = bits & 0x01000000u;
  }
  int major;  // 0 x, 1 y, 2 z, 3 w
  V v;
  if (!notW) {
    major = 3, v = S::Lane0(tdx);
  } else if (dxGeDy && dxGeDz) {
    major = 0, v = S::Lane1(tdx);
  } else if (dyGeDz) {
    major = 1, v = S::Lane0(dydz);
  } else {
    major = 2, v = S::Lane1(dydz);
  }
  v = S::pfadd(v, S::Splat(1.0f));
  const V r = S::pfmul(S::Splat(0.5f), S::Rsqrt(v));
  const V big = S::pfmul(v, r);
  // Sums and differences of the off-diagonal pairs, times r.
  const V s01 = S::pfmul(S::pfadd(e(0, 1), e(1, 0)), r), d01 = S::pfmul(S::pfsub(e(0, 1), e(1, 0)), r);
  const V s02 = S::pfmul(S::pfadd(e(0, 2), e(2, 0)), r), d20 = S::pfmul(S::pfsub(e(2, 0), e(0, 2)), r);
  const V s12 = S::pfmul(S::pfadd(e(1, 2), e(2, 1)), r), d12 = S::pfmul(S::pfsub(e(1, 2), e(2, 1)), r);
  V xy, zw;
  switch (major) {
    case 3:
      xy = S::punpckldq(d12, d20), zw = S::punpckldq(d01, big);
      break;
    case 0:
      xy = S::punpckldq(big, s01), zw = S::punpckldq(s02, d12);
      break;
    case 1:
      xy = S::punpckldq(s01, big), zw = S::punpckldq(s12, d20);
      break;
    default:
      xy = S::punpckldq(s02, s12), zw = S::punpckldq(big, d01);
      break;
  }
  S::Put(&out->x, xy, zw);
}

// The quaternion of yaw, pitch and roll from the cosines and sines of the half
// angles: x = cy sp cr + sy cp sr, y = sy cp cr - cy sp sr,
// z = cy cp sr - sy sp cr, w = cy cp cr + sy sp sr.
template <class S>
void FromYawPitchRoll(float yaw, float pitch, float roll, VOf<S>* qxy, VOf<S>* qzw) {
  using Scalar = ScalarBodies<typename S::Policy>;
  const VOf<S> half = S::Splat(0.5f);
  const VOf<S> y = Scalar::SinCos(S::pfmul(S::Splat(yaw), half));  // (cy, sy)
  const VOf<S> p = Scalar::SinCos(S::pfmul(S::Splat(pitch), half));
  const VOf<S> r = Scalar::SinCos(S::pfmul(S::Splat(roll), half));
  const VOf<S> ab = S::pfmul(y, S::Swap(p));  // (cy sp, sy cp)
  *qxy = S::pfadd(S::pfmul(ab, S::Lane0(r)), S::pfmul(S::pxor(S::Swap(ab), S::set(0, S::kSign)), S::Lane1(r)));
  const VOf<S> c = S::pfmul(y, p);  // (cy cp, sy sp)
  *qzw = S::pfadd(S::pfmul(S::Lane0(c), S::Swap(r)), S::pfmul(S::pxor(S::Lane1(c), S::set(S::kSign, 0)), r));
}

// Adds the Vec3 t (times sign) to the translation row.
template <class S>
void AddTranslation(typename S::Rows& m, const Vec3* t, float sign = 1.0f) {
  const VOf<S> k = S::Splat(sign);
  m.lo[3] = S::pfadd(m.lo[3], S::pfmul(S::Lo(&t->x), k));
  m.hi[3] = S::pfadd(m.hi[3], S::pfmul(S::Z(&t->x), k));
}

// The rotation and translation steps of the composition: the rotation about
// its centre (when given), then the translation.
template <class S>
void RotateAndTranslate(typename S::Rows& m, const Vec3* rotationCentre, const Quaternion* rotation,
                        const Vec3* translation) {
  if (rotation) {
    if (rotationCentre) AddTranslation<S>(m, rotationCentre, -1.0f);
    m = Product<S>(m, FromQuaternion<S>(S::Lo(&rotation->x), S::Hi(&rotation->x)));
    if (rotationCentre) AddTranslation<S>(m, rotationCentre);
  }
  if (translation) AddTranslation<S>(m, translation);
}

template <class S>
void Compose(Matrix4* out, const Vec3* scalingCentre, const Quaternion* scalingRotation, const Vec3* scaling,
             const Vec3* rotationCentre, const Quaternion* rotation, const Vec3* translation) {
  typename S::Rows m = Identity<S>();
  if (scaling) {
    const VOf<S> sxy = S::Lo(&scaling->x), sz = S::Z(&scaling->x);
    typename S::Rows d = Identity<S>();
    d.lo[0] = S::pand(sxy, S::set(~0u, 0)), d.lo[1] = S::pand(sxy, S::set(0, ~0u));
    d.hi[2] = sz;
    if (!scalingRotation) {
      m = d;
      if (scalingCentre) {
        const VOf<S> one = S::Splat(1.0f);
        m.lo[3] = S::pfmul(S::pfsub(one, sxy), S::Lo(&scalingCentre->x));
        m.hi[3] = S::por(S::pfmul(S::pfsub(one, sz), S::Z(&scalingCentre->x)), S::Pair(0.0f, 1.0f));
      }
    } else {
      const typename S::Rows q = FromQuaternion<S>(S::Lo(&scalingRotation->x), S::Hi(&scalingRotation->x));
      m = Product<S>(Product<S>(Transposed<S>(q), d), q);
      if (scalingCentre) {
        typename S::Rows shift = Identity<S>();
        AddTranslation<S>(shift, scalingCentre, -1.0f);
        m = Product<S>(shift, m);
        AddTranslation<S>(m, scalingCentre);
      }
    }
  }
  RotateAndTranslate<S>(m, rotationCentre, rotation, translation);
  S::PutRows(out, m);
}

// The viewport's inverse mapping and the inverse of the present matrices; the
// inverse's result is not tested, so a singular product is used uninverted.
template <class S>
void FromViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection, const Matrix4* view,
                  const Matrix4* world) {
  using V = VOf<S>;
  Matrix4 m;
  MatrixBodies<typename S::Policy>::Combined(&m, projection, view, world);
  S::InverseCore(&m, nullptr, &m);
  Vec3 u;
  if (vp) {
    const V xy = S::pi2fd(S::load(&vp->X)), size = S::pi2fd(S::load(&vp->Width)), depth = S::load(&vp->MinZ);
    const V rcpSize = S::punpckldq(S::Rcp(size), S::Rcp(S::Lane1(size)));
    const V q = S::pfsub(S::pfmul(S::pfmul(S::pfsub(S::Lo(&v->x), xy), S::Splat(2.0f)), rcpSize), S::Splat(1.0f));
    const V z = S::pfmul(S::pfsub(S::Z(&v->x), depth), S::Rcp(S::pfsub(S::Lane1(depth), depth)));
    S::Put3(&u.x, S::pxor(q, S::set(0, S::kSign)), z);
    v = &u;
  }
  VectorBodies<typename S::Policy>::Vec3TransformPoint(out, v, &m);
}

}  // namespace gxl::math::now3d::kernel
