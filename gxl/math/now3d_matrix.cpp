// The 3DNow! bodies of the matrix operations and of the viewport projections
// that build on them. Sines and cosines come from the scalar routines; planes
// and axes are normalised by the vector group's bodies.
#include "gxl/math/now3d_instance.h"
#include "gxl/math/now3d_kernels.h"

namespace gxl::math::now3d {

template <class P>
Matrix4* MatrixBodies<P>::MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  PutRows(out, kernel::Product<MatrixBodies>(LoadRows(a), LoadRows(b)));
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixMultiplyTranspose(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  PutRows(out, kernel::Transposed<MatrixBodies>(kernel::Product<MatrixBodies>(LoadRows(a), LoadRows(b))));
  femms();
  return out;
}

template <class P>
void MatrixBodies<P>::MultiplyPlain(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  PutRows(out, kernel::PlainProduct<MatrixBodies>(LoadRows(a), LoadRows(b)));
}

template <class P>
void MatrixBodies<P>::Combined(Matrix4* out, const Matrix4* projection, const Matrix4* view, const Matrix4* world) {
  const Matrix4* const order[3] = {world, view, projection};
  const Matrix4* present[3];
  int n = 0;
  for (const Matrix4* m : order)
    if (m) present[n++] = m;
  if (n == 0) {
    PutRows(out, kernel::Identity<MatrixBodies>());
    return;
  }
  *out = *present[0];
  for (int i = 1; i < n; ++i) MultiplyPlain(out, out, present[i]);
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixTranspose(Matrix4* out, const Matrix4* m) {
  PutRows(out, kernel::Transposed<MatrixBodies>(LoadRows(m)));
  femms();
  return out;
}

// Expansion along the first row by the 2x2 minors of rows 2 and 3.
template <class P>
float MatrixBodies<P>::MatrixDeterminant(const Matrix4* matrix) {
  const Rows m = LoadRows(matrix);
  const V det = kernel::Determinant<MatrixBodies>(m, kernel::Adjugate<MatrixBodies>(m, true));
  femms();
  return First(det);
}

template <class P>
bool MatrixBodies<P>::InverseCore(Matrix4* out, float* determinant, const Matrix4* m) {
  return kernel::Inverse<MatrixBodies>(out, determinant, m);
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixInverse(Matrix4* out, float* determinant, const Matrix4* m) {
  const bool ok = InverseCore(out, determinant, m);
  femms();
  return ok ? out : nullptr;
}

// M = the present matrices' product; p = the point transform of v (always
// divided by w); then the viewport, its fields read as signed integers.
template <class P>
Vec3* MatrixBodies<P>::Vec3ToViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection,
                                      const Matrix4* view, const Matrix4* world) {
  Matrix4 m;
  Combined(&m, projection, view, world);
  if (!vp) return VectorBodies<P>::Vec3TransformPoint(out, v, &m);
  Vec3 p;
  VectorBodies<P>::Vec3TransformPoint(&p, v, &m);
  const V xy = pi2fd(load(&vp->X)), size = pi2fd(load(&vp->Width)), depth = load(&vp->MinZ);
  const V t = pfadd(pxor(Lo(&p.x), set(0, kSign)), Splat(1.0f));  // (x + 1, 1 - y)
  const V q = pfadd(pfmul(pfmul(t, size), Splat(0.5f)), xy);
  const V z = pfadd(pfmul(Z(&p.x), pfsub(Lane1(depth), depth)), depth);
  Put3(&out->x, q, z);
  femms();
  return out;
}

template <class P>
Vec3* MatrixBodies<P>::Vec3FromViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection,
                                        const Matrix4* view, const Matrix4* world) {
  kernel::FromViewport<MatrixBodies>(out, v, vp, projection, view, world);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixTranslation(Matrix4* out, float x, float y, float z) {
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[3] = Pair(x, y);
  m.hi[3] = Pair(z, 1.0f);
  PutRows(out, m);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixScaling(Matrix4* out, float sx, float sy, float sz) {
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[0] = Pair(sx, 0.0f);
  m.lo[1] = Pair(0.0f, sy);
  m.hi[2] = Pair(sz, 0.0f);
  PutRows(out, m);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixRotationX(Matrix4* out, float angle) {
  const V cs = S::SinCos(Splat(angle)), c = Lane0(cs), s = Lane1(cs);
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[1] = punpckldq(Zero(), c), m.hi[1] = punpckldq(s, Zero());
  m.lo[2] = punpckldq(Zero(), Negate(s)), m.hi[2] = punpckldq(c, Zero());
  PutRows(out, m);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixRotationY(Matrix4* out, float angle) {
  const V cs = S::SinCos(Splat(angle)), c = Lane0(cs), s = Lane1(cs);
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[0] = punpckldq(c, Zero()), m.hi[0] = punpckldq(Negate(s), Zero());
  m.lo[2] = punpckldq(s, Zero()), m.hi[2] = punpckldq(c, Zero());
  PutRows(out, m);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixRotationZ(Matrix4* out, float angle) {
  const V cs = S::SinCos(Splat(angle));
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[0] = cs;                             // (cos, sin)
  m.lo[1] = pxor(Swap(cs), set(kSign, 0));  // (-sin, cos)
  PutRows(out, m);
  femms();
  return out;
}

// n = the normalised axis (zeros for a zero axis); with s, c the sine and
// cosine and k = 1 - c: n_i n_j k on and off the diagonal, plus c on it and
// the n s terms off it.
template <class P>
Matrix4* MatrixBodies<P>::MatrixRotationAxis(Matrix4* out, const Vec3* axis, float angle) {
  Vec3 n;
  VectorBodies<P>::Vec3Normalize(&n, axis);
  const V cs = S::SinCos(Splat(angle)), c = Lane0(cs), s = Lane1(cs);
  const V k = pfsub(Splat(1.0f), c);
  const V nxy = Lo(&n.x), nz = Z(&n.x), x = Lane0(nxy), y = Lane1(nxy), z = Lane0(nz);
  const V xk = pfmul(x, k), yk = pfmul(y, k), zk = pfmul(z, k);
  const V xs = pfmul(x, s), ys = pfmul(y, s), zs = pfmul(z, s);
  const V xy = pfmul(xk, y), xz = pfmul(xk, z), yz = pfmul(yk, z);
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[0] = punpckldq(pfadd(pfmul(xk, x), c), pfadd(xy, zs));
  m.hi[0] = punpckldq(pfsub(xz, ys), Zero());
  m.lo[1] = punpckldq(pfsub(xy, zs), pfadd(pfmul(yk, y), c));
  m.hi[1] = punpckldq(pfadd(yz, xs), Zero());
  m.lo[2] = punpckldq(pfadd(xz, ys), pfsub(yz, xs));
  m.hi[2] = punpckldq(pfadd(pfmul(zk, z), c), Zero());
  PutRows(out, m);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixFromQuaternion(Matrix4* out, const Quaternion* q) {
  PutRows(out, kernel::FromQuaternion<MatrixBodies>(Lo(&q->x), Hi(&q->x)));
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixFromYawPitchRoll(Matrix4* out, float yaw, float pitch, float roll) {
  V qxy, qzw;
  kernel::FromYawPitchRoll<MatrixBodies>(yaw, pitch, roll, &qxy, &qzw);
  PutRows(out, kernel::FromQuaternion<MatrixBodies>(qxy, qzw));
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixCompose(Matrix4* out, const Vec3* scalingCentre, const Quaternion* scalingRotation,
                                        const Vec3* scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                                        const Vec3* translation) {
  kernel::Compose<MatrixBodies>(out, scalingCentre, scalingRotation, scaling, rotationCentre, rotation, translation);
  femms();
  return out;
}

template <class P>
Matrix4* MatrixBodies<P>::MatrixComposeAffine(Matrix4* out, float scaling, const Vec3* rotationCentre,
                                              const Quaternion* rotation, const Vec3* translation) {
  Rows m = kernel::Identity<MatrixBodies>();
  m.lo[0] = Pair(scaling, 0.0f);
  m.lo[1] = Pair(0.0f, scaling);
  m.hi[2] = Pair(scaling, 0.0f);
  kernel::RotateAndTranslate<MatrixBodies>(m, rotationCentre, rotation, translation);
  PutRows(out, m);
  femms();
  return out;
}

// The plane normalised by the plane body; dot = P . L over four components;
// element (r, c) = -P_r L_c, plus dot on the diagonal.
template <class P>
Matrix4* MatrixBodies<P>::MatrixPlanarShadow(Matrix4* out, const Vec4* light, const Plane* plane) {
  Plane p;
  VectorBodies<P>::PlaneNormalize(&p, plane);
  const V pab = Lo(&p.a), pcd = Hi(&p.a), lxy = Lo(&light->x), lzw = Hi(&light->x);
  const V dot = Dot4(pab, pcd, lxy, lzw);
  const V pr[4] = {Lane0(pab), Lane1(pab), Lane0(pcd), Lane1(pcd)};
  Rows m;
  for (int r = 0; r < 4; ++r) {
    const V k = Negate(pr[r]);
    m.lo[r] = pfmul(k, lxy);
    m.hi[r] = pfmul(k, lzw);
    V& half = r < 2 ? m.lo[r] : m.hi[r];
    half = Select(set((r & 1) ? 0 : ~0u, (r & 1) ? ~0u : 0), pfadd(half, dot), half);
  }
  PutRows(out, m);
  femms();
  return out;
}

// The plane normalised by the plane body; rows r < 4: -2 P_r (a, b, c) plus
// the identity, with a last column of (0, 0, 0, 1).
template <class P>
Matrix4* MatrixBodies<P>::MatrixPlaneReflection(Matrix4* out, const Plane* plane) {
  Plane p;
  VectorBodies<P>::PlaneNormalize(&p, plane);
  const V pab = Lo(&p.a), pcd = Hi(&p.a);
  const V pr[4] = {Lane0(pab), Lane1(pab), Lane0(pcd), Lane1(pcd)};
  const V one = Splat(1.0f);
  Rows m;
  for (int r = 0; r < 4; ++r) {
    const V k = pfmul(Splat(-2.0f), pr[r]);
    m.lo[r] = pfmul(k, pab);
    m.hi[r] = punpckldq(pfmul(k, pcd), r == 3 ? one : Zero());
    if (r < 2) m.lo[r] = Select(set((r & 1) ? 0 : ~0u, (r & 1) ? ~0u : 0), pfadd(m.lo[r], one), m.lo[r]);
    if (r == 2) m.hi[r] = Select(set(~0u, 0), pfadd(m.hi[r], one), m.hi[r]);
  }
  PutRows(out, m);
  femms();
  return out;
}

template struct MatrixBodies<Policy>;

}  // namespace gxl::math::now3d
