// The 3DNow! bodies of the vector, plane and half-float operations. Records go
// through 8-byte halves, lane 0 first: a Vec3 as (x, y) and (z, 0), four-float
// records and matrix rows as (x, y) and (z, w). Lengths and dot products are
// lane sums; normalisation takes the mask zero test and the refined 1/sqrt and
// never copies a nearly unit input; point transforms always multiply by the
// refined 1/w.
#include <cstring>

#include "gxl/math/now3d_instance.h"
#include "gxl/math/portable.h"

namespace gxl::math::now3d {

namespace {

// The halves of an n-float record: lo = (0, 1); hi = (2, 3), or (2, 0) for n = 3.
template <class S, int N>
struct Halves {
  typename S::V lo, hi;
  explicit Halves(const float* p) : lo(S::Lo(p)), hi(N == 4 ? S::Hi(p) : N == 3 ? S::Z(p) : S::Zero()) {}
  Halves(typename S::V l, typename S::V h) : lo(l), hi(h) {}
  void Store(float* p) const {
    S::store(p, lo);
    if constexpr (N == 4) S::store(p + 2, hi);
    if constexpr (N == 3) S::store32(p + 2, hi);
  }
};

// a + k b per half, with k in both lanes.
template <class S, int N>
Halves<S, N> AddScaled(const Halves<S, N>& a, typename S::V k, const Halves<S, N>& b) {
  return {S::pfadd(a.lo, S::pfmul(k, b.lo)), S::pfadd(a.hi, S::pfmul(k, b.hi))};
}
template <class S, int N>
Halves<S, N> Scaled(typename S::V k, const Halves<S, N>& b) {
  return {S::pfmul(k, b.lo), S::pfmul(k, b.hi)};
}

// ((w0 a + w1 b) + w2 c) + w3 d over n floats.
template <class S, int N>
void Weighted(float* out, const float* a, const float* b, const float* c, const float* d, const typename S::V w[4]) {
  const Halves<S, N> A(a), Bh(b), C(c), D(d);
  const Halves<S, N> r = AddScaled(AddScaled(AddScaled(Scaled(w[0], A), w[1], Bh), w[2], C), w[3], D);
  r.Store(out);
}

// Hermite weights from s^2 and s^3 with the pairs (2, 2), (3, 3) and (1, 1).
template <class S>
void HermiteWeights(float s, typename S::V w[4]) {
  const auto s1 = S::Splat(s), s2 = S::pfmul(s1, s1), s3 = S::pfmul(s2, s1);
  const auto twice = S::pfmul(S::Splat(2.0f), s3), thrice = S::pfmul(S::Splat(3.0f), s2);
  w[0] = S::pfadd(S::pfsub(twice, thrice), S::Splat(1.0f));
  w[3] = S::pfsub(s3, s2);
  w[1] = S::pfadd(S::pfsub(w[3], s2), s1);
  w[2] = S::pfsub(thrice, twice);
}

// Catmull-Rom weights before the final halving: -s^3 + 2s^2 - s,
// 3s^3 - 5s^2 + 2, -3s^3 + 4s^2 + s, s^3 - s^2.
template <class S>
void CatmullRomWeights(float s, typename S::V w[4]) {
  const auto s1 = S::Splat(s), s2 = S::pfmul(s1, s1), s3 = S::pfmul(s2, s1);
  const auto three = S::pfmul(S::Splat(3.0f), s3);
  w[0] = S::pfsub(S::pfsub(S::pfmul(S::Splat(2.0f), s2), s3), s1);
  w[1] = S::pfadd(S::pfsub(three, S::pfmul(S::Splat(5.0f), s2)), S::Splat(2.0f));
  w[2] = S::pfadd(S::pfadd(S::Negate(three), S::pfmul(S::Splat(4.0f), s2)), s1);
  w[3] = S::pfsub(s3, s2);
}

template <class S, int N>
void CatmullRom(float* out, const float* p0, const float* p1, const float* p2, const float* p3, float s) {
  typename S::V w[4];
  CatmullRomWeights<S>(s, w);
  const Halves<S, N> sum =
      AddScaled(AddScaled(AddScaled(Scaled(w[0], Halves<S, N>(p0)), w[1], Halves<S, N>(p1)), w[2], Halves<S, N>(p2)),
                w[3], Halves<S, N>(p3));
  Scaled(S::Splat(0.5f), sum).Store(out);
}

// (p1 + f (p2 - p1)) + g (p3 - p1).
template <class S, int N>
void Barycentric(float* out, const float* p1, const float* p2, const float* p3, float f, float g) {
  const Halves<S, N> a(p1), b(p2), c(p3);
  const Halves<S, N> ab{S::pfsub(b.lo, a.lo), S::pfsub(b.hi, a.hi)}, ac{S::pfsub(c.lo, a.lo), S::pfsub(c.hi, a.hi)};
  AddScaled(AddScaled(a, S::Splat(f), ab), S::Splat(g), ac).Store(out);
}

// The normalisation of n floats: the zero test, then times the refined 1/sqrt.
template <class S, int N>
void Normalize(float* out, const float* v) {
  const Halves<S, N> h(v);
  const auto q = N == 2 ? S::Sum(S::pfmul(h.lo, h.lo)) : S::Dot4(h.lo, h.hi, h.lo, h.hi);
  const auto mask = S::Positive(q), r = S::Rsqrt(q);
  Halves<S, N>(S::pfmul(S::pand(h.lo, mask), r), S::pfmul(S::pand(h.hi, mask), r)).Store(out);
}

// a x b of two Vec3 halves: (ay bz - az by, az bx - ax bz) and (ax by - ay bx, 0).
template <class S>
void Cross3(typename S::V axy, typename S::V az, typename S::V bxy, typename S::V bz, typename S::V* cxy,
            typename S::V* cz) {
  const auto ayz = S::punpckldq(S::psrlq(axy, 32), az), azx = S::punpckldq(az, axy);
  const auto byz = S::punpckldq(S::psrlq(bxy, 32), bz), bzx = S::punpckldq(bz, bxy);
  *cxy = S::pfsub(S::pfmul(ayz, bzx), S::pfmul(azx, byz));
  const auto t = S::pfmul(axy, S::Swap(bxy));
  *cz = S::pand(S::pfsub(t, S::psrlq(t, 32)), S::set(~0u, 0));
}

}  // namespace

template <class P>
Vec4* VectorBodies<P>::Vec2Transform(Vec4* out, const Vec2* v, const Matrix4* m) {
  const V xy = Lo(&v->x), x = Lane0(xy), y = Lane1(xy);
  const Rows r = LoadRows(m);
  Put(&out->x, pfadd(pfadd(pfmul(x, r.lo[0]), r.lo[3]), pfmul(y, r.lo[1])),
      pfadd(pfadd(pfmul(x, r.hi[0]), r.hi[3]), pfmul(y, r.hi[1])));
  femms();
  return out;
}

template <class P>
Vec4* VectorBodies<P>::Vec3Transform(Vec4* out, const Vec3* v, const Matrix4* m) {
  const V xy = Lo(&v->x), x = Lane0(xy), y = Lane1(xy), z = Lane0(Z(&v->x));
  const Rows r = LoadRows(m);
  Put(&out->x, pfadd(pfadd(pfmul(x, r.lo[0]), r.lo[3]), pfadd(pfmul(y, r.lo[1]), pfmul(z, r.lo[2]))),
      pfadd(pfadd(pfmul(x, r.hi[0]), r.hi[3]), pfadd(pfmul(y, r.hi[1]), pfmul(z, r.hi[2]))));
  femms();
  return out;
}

template <class P>
Vec4* VectorBodies<P>::Vec4Transform(Vec4* out, const Vec4* v, const Matrix4* m) {
  const V xy = Lo(&v->x), zw = Hi(&v->x);
  const V x = Lane0(xy), y = Lane1(xy), z = Lane0(zw), w = Lane1(zw);
  const Rows r = LoadRows(m);
  Put(&out->x, pfadd(pfadd(pfmul(x, r.lo[0]), pfmul(y, r.lo[1])), pfadd(pfmul(z, r.lo[2]), pfmul(w, r.lo[3]))),
      pfadd(pfadd(pfmul(x, r.hi[0]), pfmul(y, r.hi[1])), pfadd(pfmul(z, r.hi[2]), pfmul(w, r.hi[3]))));
  femms();
  return out;
}

template <class P>
Plane* VectorBodies<P>::PlaneTransform(Plane* out, const Plane* p, const Matrix4* m) {
  Vec4Transform(reinterpret_cast<Vec4*>(out), reinterpret_cast<const Vec4*>(p), m);
  return out;
}

template <class P>
Vec2* VectorBodies<P>::Vec2TransformDirection(Vec2* out, const Vec2* v, const Matrix4* m) {
  const V xy = Lo(&v->x);
  store(&out->x, pfadd(pfmul(Lane0(xy), Lo(m->m[0])), pfmul(Lane1(xy), Lo(m->m[1]))));
  femms();
  return out;
}

template <class P>
Vec3* VectorBodies<P>::Vec3TransformDirection(Vec3* out, const Vec3* v, const Matrix4* m) {
  const V xy = Lo(&v->x), x = Lane0(xy), y = Lane1(xy), z = Lane0(Z(&v->x));
  const Rows r = LoadRows(m);
  Put3(&out->x, pfadd(pfmul(x, r.lo[0]), pfadd(pfmul(y, r.lo[1]), pfmul(z, r.lo[2]))),
       pfadd(pfmul(x, r.hi[0]), pfadd(pfmul(y, r.hi[1]), pfmul(z, r.hi[2]))));
  femms();
  return out;
}

template <class P>
Vec2* VectorBodies<P>::Vec2TransformPoint(Vec2* out, const Vec2* v, const Matrix4* m) {
  const V xy = Lo(&v->x), x = Lane0(xy), y = Lane1(xy);
  const Rows r = LoadRows(m);
  const V lo = pfadd(pfadd(pfmul(x, r.lo[0]), r.lo[3]), pfmul(y, r.lo[1]));
  const V hi = pfadd(pfadd(pfmul(x, r.hi[0]), r.hi[3]), pfmul(y, r.hi[1]));
  store(&out->x, pfmul(lo, Rcp(Lane1(hi))));
  femms();
  return out;
}

template <class P>
Vec3* VectorBodies<P>::Vec3TransformPoint(Vec3* out, const Vec3* v, const Matrix4* m) {
  const V xy = Lo(&v->x), x = Lane0(xy), y = Lane1(xy), z = Lane0(Z(&v->x));
  const Rows r = LoadRows(m);
  const V lo = pfadd(pfadd(pfmul(x, r.lo[0]), r.lo[3]), pfadd(pfmul(y, r.lo[1]), pfmul(z, r.lo[2])));
  const V hi = pfadd(pfadd(pfmul(x, r.hi[0]), r.hi[3]), pfadd(pfmul(y, r.hi[1]), pfmul(z, r.hi[2])));
  const V rw = Rcp(Lane1(hi));
  Put3(&out->x, pfmul(lo, rw), pfmul(hi, rw));
  femms();
  return out;
}

template <class P>
Vec2* VectorBodies<P>::Vec2Normalize(Vec2* out, const Vec2* v) {
  Normalize<VectorBodies, 2>(&out->x, &v->x);
  femms();
  return out;
}

template <class P>
Vec3* VectorBodies<P>::Vec3Normalize(Vec3* out, const Vec3* v) {
  Normalize<VectorBodies, 3>(&out->x, &v->x);
  femms();
  return out;
}

template <class P>
Vec4* VectorBodies<P>::Vec4Normalize(Vec4* out, const Vec4* v) {
  Normalize<VectorBodies, 4>(&out->x, &v->x);
  femms();
  return out;
}

// The zero test on a^2 + b^2 + c^2; all four components times the refined
// 1/sqrt, d included.
template <class P>
Plane* VectorBodies<P>::PlaneNormalize(Plane* out, const Plane* p) {
  const V ab = Lo(&p->a), cd = Hi(&p->a);
  const V q = Dot3(ab, pand(cd, set(~0u, 0)), ab, cd);
  const V mask = Positive(q), r = Rsqrt(q);
  Put(&out->a, pfmul(pand(ab, mask), r), pfmul(pand(cd, mask), r));
  femms();
  return out;
}

template <class P>
Plane* VectorBodies<P>::PlaneFromPointNormal(Plane* out, const Vec3* point, const Vec3* normal) {
  const V nxy = Lo(&normal->x), nz = Z(&normal->x);
  const V d = pfadd(Sum(pfmul(Lo(&point->x), nxy)), pfmul(Z(&point->x), nz));
  Put(&out->a, nxy, punpckldq(nz, Negate(d)));
  femms();
  return out;
}

template <class P>
Plane* VectorBodies<P>::PlaneFromPoints(Plane* out, const Vec3* p1, const Vec3* p2, const Vec3* p3) {
  const V axy = Lo(&p1->x), az = Z(&p1->x);
  V nxy, nz;
  Cross3<VectorBodies>(pfsub(axy, Lo(&p2->x)), pfsub(az, Z(&p2->x)), pfsub(axy, Lo(&p3->x)), pfsub(az, Z(&p3->x)), &nxy,
                       &nz);
  const V q = Dot3(nxy, nz, nxy, nz);
  const V mask = Positive(q), r = Rsqrt(q);
  nxy = pfmul(pand(nxy, mask), r);
  nz = pfmul(pand(nz, mask), r);
  Put(&out->a, nxy, punpckldq(nz, Negate(Dot3(axy, az, nxy, nz))));
  femms();
  return out;
}

// D = n . (p1 - p2); exactly 0 returns null and writes nothing. Otherwise
// t = (n . p1 + d) times the refined 1/D and out = p1 + (p2 - p1) t.
template <class P>
Vec3* VectorBodies<P>::PlaneIntersectLine(Vec3* out, const Plane* p, const Vec3* p1, const Vec3* p2) {
  const V nab = Lo(&p->a), cd = Hi(&p->a), nc = pand(cd, set(~0u, 0));
  const V axy = Lo(&p1->x), az = Z(&p1->x), bxy = Lo(&p2->x), bz = Z(&p2->x);
  const V D = Dot3(nab, nc, pfsub(axy, bxy), pfsub(az, bz));
  if (lo32(pfcmpeq(D, Zero())) != 0) {
    femms();
    return nullptr;
  }
  const V t = pfmul(pfadd(Dot3(nab, nc, axy, az), Lane1(cd)), Rcp(D));
  Put3(&out->x, pfadd(axy, pfmul(pfsub(bxy, axy), t)), pfadd(az, pfmul(pfsub(bz, az), t)));
  femms();
  return out;
}

// The 2x2 minors of v and w give a..f; each output pair is three lane products
// with the signs of the portable formula.
template <class P>
Vec4* VectorBodies<P>::Vec4Cross(Vec4* out, const Vec4* u, const Vec4* v, const Vec4* w) {
  const V uxy = Lo(&u->x), uzw = Hi(&u->x), vxy = Lo(&v->x), vzw = Hi(&v->x), wxy = Lo(&w->x), wzw = Hi(&w->x);
  const V vyz = punpckldq(psrlq(vxy, 32), vzw), wyz = punpckldq(psrlq(wxy, 32), wzw);
  const V ab = pfsub(pfmul(Lane0(vxy), wyz), pfmul(vyz, Lane0(wxy)));
  const V cd = pfsub(pfmul(vxy, Swap(wzw)), pfmul(Swap(vzw), wxy));
  const V ef = pfsub(pfmul(vyz, Lane1(wzw)), pfmul(Lane1(vzw), wyz));
  const V signHi = set(0, kSign), signLo = set(kSign, 0);
  const V xy =
      pfadd(pfadd(pfmul(pxor(Swap(uxy), signHi), Lane1(ef)), pfmul(pxor(Lane0(uzw), signLo), punpckldq(ef, cd))),
            pfmul(pxor(Lane1(uzw), signHi), punpckhdq(cd, ab)));
  const V zw = pfadd(pfadd(pfmul(pxor(Lane0(uxy), signHi), punpckldq(ef, psrlq(cd, 32))),
                           pfmul(pxor(Lane1(uxy), signLo), punpckldq(cd, psrlq(ab, 32)))),
                     pfmul(pxor(Swap(uzw), signHi), Lane0(ab)));
  Put(&out->x, xy, zw);
  femms();
  return out;
}

#define GXL_NOW3D_SPLINES(Vec, N)                                                                                     \
  template <class P>                                                                                                  \
  Vec* VectorBodies<P>::Vec##Hermite(Vec* out, const Vec* p1, const Vec* t1, const Vec* p2, const Vec* t2, float s) { \
    V w[4];                                                                                                           \
    HermiteWeights<VectorBodies>(s, w);                                                                               \
    Weighted<VectorBodies, N>(&out->x, &p1->x, &t1->x, &p2->x, &t2->x, w);                                            \
    femms();                                                                                                          \
    return out;                                                                                                       \
  }                                                                                                                   \
  template <class P>                                                                                                  \
  Vec* VectorBodies<P>::Vec##CatmullRom(Vec* out, const Vec* p0, const Vec* p1, const Vec* p2, const Vec* p3,         \
                                        float s) {                                                                    \
    CatmullRom<VectorBodies, N>(&out->x, &p0->x, &p1->x, &p2->x, &p3->x, s);                                          \
    femms();                                                                                                          \
    return out;                                                                                                       \
  }                                                                                                                   \
  template <class P>                                                                                                  \
  Vec* VectorBodies<P>::Vec##Barycentric(Vec* out, const Vec* p1, const Vec* p2, const Vec* p3, float f, float g) {   \
    Barycentric<VectorBodies, N>(&out->x, &p1->x, &p2->x, &p3->x, f, g);                                              \
    femms();                                                                                                          \
    return out;                                                                                                       \
  }
GXL_NOW3D_SPLINES(Vec2, 2)
GXL_NOW3D_SPLINES(Vec3, 3)
GXL_NOW3D_SPLINES(Vec4, 4)
#undef GXL_NOW3D_SPLINES

namespace {

// Four floats to four halves: magnitudes up to 2^-14 first get the half
// denormal's mantissa into the kept bits (by adding 2^-14 as floats), then the
// exponent is rebiased and the 13 dropped bits rounded half to even in one
// integer addition; 131040 and above (infinities and NaN too) give 0x7FFF.
template <class S>
typename S::V FourHalves(const float* in) {
  typename S::V packed[2];
  for (int k = 0; k < 2; ++k) {
    const auto b = S::load(in + 2 * k);
    const auto sign = S::pand(S::psrld(b, 16), S::Ints(0x8000u));
    const auto a0 = S::pand(b, S::Ints(S::kMagnitude));
    const auto small = S::pfcmpge(S::Splat(6.1035156e-5f), a0);
    const auto a = S::Select(small, S::psubd(S::pfadd(a0, S::Splat(6.1035156e-5f)), S::Ints(0x00800000u)), a0);
    const auto r = S::paddd(S::paddd(a, S::pand(S::psrld(a, 13), S::Ints(1))), S::Ints(0xC8000FFFu));
    const auto h = S::Select(S::pcmpgtd(a0, S::Ints(0x47FFEFFFu)), S::Ints(0x7FFFu), S::psrld(r, 13));
    const auto both = S::por(h, sign);             // (h0, h1) as 32-bit lanes
    packed[k] = S::por(both, S::psrlq(both, 16));  // h0 | h1 << 16 in lane 0
  }
  return S::punpckldq(packed[0], packed[1]);
}

// Two halves (as 32-bit lanes) to two floats: the magnitude rebiased into the
// f32 exponent; a zero exponent is taken as 2^-14 (1 + m/1024) and 2^-14 is
// subtracted as floats, which leaves m 2^-24 exactly.
template <class S>
typename S::V TwoFloats(typename S::V h) {
  const auto zero = S::pcmpeqd(S::pand(h, S::Ints(0x7C00u)), S::Zero());
  auto m = S::paddd(S::paddd(S::pand(h, S::Ints(0x7FFFu)), S::Ints(0x1C000u)), S::pand(zero, S::Ints(0x400u)));
  m = S::pslld(m, 13);
  m = S::Select(zero, S::pfsub(m, S::Splat(6.1035156e-5f)), m);
  return S::por(m, S::pslld(S::pand(h, S::Ints(0x8000u)), 16));
}

}  // namespace

// Blocks of four, front to back; the last one, when 1 to 3 elements remain,
// ends at the last element and stores only the elements not yet written: in
// place, the halves already written may cover the floats it re-reads.
template <class P>
Float16* VectorBodies<P>::FloatToHalfArray(Float16* out, const float* in, std::uint32_t count) {
  if (count < 4) return portable::FloatToHalfArray(out, in, count);
  const std::uint32_t head = count & ~3u;
  for (std::uint32_t i = 0; i < head; i += 4) store(out + i, FourHalves<VectorBodies>(in + i));
  if (head < count) {
    Float16 last[4];
    store(last, FourHalves<VectorBodies>(in + count - 4));
    std::memcpy(out + head, last + 4 - (count - head), (count - head) * sizeof(Float16));
  }
  femms();
  return out;
}

// Blocks of four, back to front (the floats written in place lie ahead of the
// halves not yet read); the first block, when 1 to 3 elements remain, starts at
// element 0 and stores only the elements not yet written.
template <class P>
float* VectorBodies<P>::HalfToFloatArray(float* out, const Float16* in, std::uint32_t count) {
  if (count < 4) return portable::HalfToFloatArray(out, in, count);
  const std::uint32_t rest = count & 3u;
  for (std::uint32_t i = count; i >= rest + 4; i -= 4) {
    const V h = load(in + i - 4);
    Put(out + i - 4, TwoFloats<VectorBodies>(punpcklwd(h, Zero())), TwoFloats<VectorBodies>(punpckhwd(h, Zero())));
  }
  if (rest != 0) {
    const V h = load(in);
    float first[4];
    Put(first, TwoFloats<VectorBodies>(punpcklwd(h, Zero())), TwoFloats<VectorBodies>(punpckhwd(h, Zero())));
    std::memcpy(out, first, rest * sizeof(float));
  }
  femms();
  return out;
}

template struct VectorBodies<Policy>;

}  // namespace gxl::math::now3d
