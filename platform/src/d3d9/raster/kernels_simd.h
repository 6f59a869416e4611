// The vector span kernels, written once over a register type V (SSE2: 4
// pixels per register; AVX2: 8) and included by kernels_sse2.cpp and
// kernels_avx2.cpp. Every kernel computes exactly what the scalar reference in
// kernels_scalar.cpp computes, with the same integer rounding, and leaves the
// cases and tails it does not cover to it.
//
// Pixels unpacked to 16-bit channels hold B, G, R, A of two pixels per 128
// bits (Lo8: pixels 0-1, Hi8: pixels 2-3 of each 128-bit lane); Pack undoes
// it. Everything here is in an unnamed namespace: each including file gets
// its own copy, compiled for its own instruction set.
#pragma once

#include <cstdint>
#include <cstring>

#include "d3d9/raster/raster.h"
#include "platform/d3d9_types.h"

namespace platform::d3d9::raster {
namespace {

template <class V>
using R = typename V::R;

// Not std::min: kernels_avx2.cpp is compiled for AVX2 as a whole, and a
// library template instantiated there could be emitted out of line and shared
// with code that runs on processors without AVX2.
inline int MinInt(int a, int b) { return a < b ? a : b; }

// round(x / 255) per 16-bit lane, for x <= 65407: with t = x + 128,
// (t + (t >> 8)) >> 8 equals (t x 257) >> 16, one high multiply.
template <class V>
inline R<V> Div255V(R<V> x) {
  return V::MulHi16(V::Add16(x, V::Set16(128)), V::Set16(257));
}

// 32-bit lanes: all ones where `value func reference` holds.
template <class V>
inline R<V> CompareV(unsigned func, R<V> value, R<V> reference) {
  const R<V> ones = V::Set32(0xFFFFFFFFu);
  switch (func) {
    case D3DCMP_NEVER: return V::Zero();
    case D3DCMP_LESS: return V::CmpGt32(reference, value);
    case D3DCMP_EQUAL: return V::CmpEq32(value, reference);
    case D3DCMP_LESSEQUAL: return V::Xor(V::CmpGt32(value, reference), ones);
    case D3DCMP_GREATER: return V::CmpGt32(value, reference);
    case D3DCMP_NOTEQUAL: return V::Xor(V::CmpEq32(value, reference), ones);
    case D3DCMP_GREATEREQUAL: return V::Xor(V::CmpGt32(reference, value), ones);
    default: return ones;
  }
}

template <class V>
inline R<V> Select(R<V> mask, R<V> a, R<V> b) {
  return V::Or(V::And(mask, a), V::AndNot(mask, b));
}

// Loads and stores of m <= N 32-bit lanes (the tail of a run); the lanes past
// m read as zero and are not written.
template <class V>
inline R<V> In(const std::uint32_t* p, int m) {
  return m == V::N ? V::Load(p) : V::LoadN(p, m);
}
template <class V>
inline void Out(std::uint32_t* p, R<V> v, int m) {
  if (m == V::N) V::Store(p, v);
  else V::StoreN(p, v, m);
}
template <class V>
inline R<V> LiveIn(const std::uint8_t* live, int m) {
  if (m == V::N) return V::LiveMask(live);
  std::uint8_t bytes[V::N] = {};
  std::memcpy(bytes, live, static_cast<std::size_t>(m));
  return V::LiveMask(bytes);
}

// A lane vector of start + j step (j = 0 .. N - 1) in wrapping arithmetic.
template <class V>
inline R<V> Ramp(std::int32_t start, std::int32_t step) {
  alignas(32) std::uint32_t v[V::N];
  for (int j = 0; j < V::N; ++j) v[j] = static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(j) * static_cast<std::uint32_t>(step);
  return V::Load(v);
}

inline std::int32_t Step(std::int32_t start, int k, std::int32_t step) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + static_cast<std::uint32_t>(k) * static_cast<std::uint32_t>(step));
}

// --- Blending ------------------------------------------------------------------

// One half (Lo8 or Hi8 layout) of the blend; a is the source alpha per channel.
template <class V, BlendKind kKind>
inline R<V> BlendHalf(R<V> s, R<V> d, R<V> a) {
  if constexpr (kKind == BlendKind::SrcAlpha) {
    const R<V> x = V::Add16(V::Mul16(s, a), V::Mul16(d, V::Sub16(V::Set16(255), a)));
    return Div255V<V>(x);
  } else {  // SrcAlphaAdd: saturated by the pack
    return V::Add16(Div255V<V>(V::Mul16(s, a)), d);
  }
}

template <class V, BlendKind kKind, bool kKeep>
void WriteKind(const WriteParams& p, const std::uint32_t* src, std::uint32_t* dst, const std::uint8_t* live, int n) {
  const R<V> keep = V::Set32(p.keep), alphaOr = V::Set32(p.alphaOr);
  for (int k = 0; k < n; k += V::N) {
    const int m = MinInt(V::N, n - k);
    const R<V> s = In<V>(src + k, m), d = In<V>(dst + k, m);
    R<V> b;
    if constexpr (kKind == BlendKind::Replace) {
      b = s;
    } else if constexpr (kKind == BlendKind::Add) {
      b = V::AddSat8(s, d);
    } else {
      // Exact at alpha 0 (the destination) and 255 (the source) too: a test
      // for them cost more in mispredicted branches on speckled sources
      // than it saved.
      b = V::Pack(BlendHalf<V, kKind>(V::Lo8(s), V::Lo8(d), V::AlphaLo(s)),
                  BlendHalf<V, kKind>(V::Hi8(s), V::Hi8(d), V::AlphaHi(s)));
    }
    R<V> out;
    if constexpr (kKeep) out = V::Or(V::Or(V::AndNot(keep, b), V::And(d, keep)), alphaOr);
    else out = V::Or(b, alphaOr);
    if (live) out = Select<V>(LiveIn<V>(live + k, m), out, d);
    Out<V>(dst + k, out, m);
  }
}

template <class V>
void Write(const WriteParams& p, const std::uint32_t* src, std::uint32_t* dst, const std::uint8_t* live, int n) {
  const bool keep = p.keep != 0;
  switch (p.kind) {
    case BlendKind::Replace:
      keep ? WriteKind<V, BlendKind::Replace, true>(p, src, dst, live, n)
           : WriteKind<V, BlendKind::Replace, false>(p, src, dst, live, n);
      break;
    case BlendKind::SrcAlpha:
      keep ? WriteKind<V, BlendKind::SrcAlpha, true>(p, src, dst, live, n)
           : WriteKind<V, BlendKind::SrcAlpha, false>(p, src, dst, live, n);
      break;
    case BlendKind::SrcAlphaAdd:
      keep ? WriteKind<V, BlendKind::SrcAlphaAdd, true>(p, src, dst, live, n)
           : WriteKind<V, BlendKind::SrcAlphaAdd, false>(p, src, dst, live, n);
      break;
    case BlendKind::Add:
      keep ? WriteKind<V, BlendKind::Add, true>(p, src, dst, live, n)
           : WriteKind<V, BlendKind::Add, false>(p, src, dst, live, n);
      break;
    default: ScalarKernels().write(p, src, dst, live, n); break;
  }
}

template <class V>
void Fill(const WriteParams& p, std::uint32_t colour, std::uint32_t* dst, const std::uint8_t* live, int n) {
  if (p.kind == BlendKind::Replace && !p.keep && !live) {
    // Every pixel takes the colour: nothing of the destination is read.
    const R<V> out = V::Set32(colour | p.alphaOr);
    int k = 0;
    for (; k + V::N <= n; k += V::N) V::Store(dst + k, out);
    if (k < n) V::StoreN(dst + k, out, n - k);
    return;
  }
  const R<V> keep = V::Set32(p.keep), alphaOr = V::Set32(p.alphaOr), c = V::Set32(colour);
  const unsigned a = colour >> 24;
  // The source's share of the result, per channel, is the same for every pixel.
  R<V> share = V::Zero(), inverse = V::Zero(), added = V::Zero();
  switch (p.kind) {
    case BlendKind::SrcAlpha:
      share = V::Mul16(V::Lo8(c), V::Set16(static_cast<std::uint16_t>(a)));
      inverse = V::Set16(static_cast<std::uint16_t>(255 - a));
      break;
    case BlendKind::SrcAlphaAdd: added = V::Pack(Div255V<V>(V::Mul16(V::Lo8(c), V::Set16(static_cast<std::uint16_t>(a)))), V::Zero()); break;
    case BlendKind::Add: added = c; break;
    case BlendKind::General: ScalarKernels().fill(p, colour, dst, live, n); return;
    default: break;
  }
  if (p.kind == BlendKind::SrcAlphaAdd) added = V::Unpacklo32(added, added);  // the 8 bytes of two pixels, to every pixel
  for (int k = 0; k < n; k += V::N) {
    const int m = MinInt(V::N, n - k);
    const R<V> d = In<V>(dst + k, m);
    R<V> b;
    switch (p.kind) {
      case BlendKind::Replace: b = c; break;
      case BlendKind::SrcAlpha:
        b = V::Pack(Div255V<V>(V::Add16(V::Mul16(V::Lo8(d), inverse), share)),
                    Div255V<V>(V::Add16(V::Mul16(V::Hi8(d), inverse), share)));
        break;
      default: b = V::AddSat8(d, added); break;
    }
    R<V> out = V::Or(V::Or(V::AndNot(keep, b), V::And(d, keep)), alphaOr);
    if (live) out = Select<V>(LiveIn<V>(live + k, m), out, d);
    Out<V>(dst + k, out, m);
  }
}

// --- Colour and combiner ---------------------------------------------------------

template <class V>
void Modulate(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t* out, int n, std::uint32_t modMask,
              std::uint32_t aMask, std::uint32_t bMask) {
  const R<V> mm = V::Set32(modMask), am = V::Set32(aMask), bm = V::Set32(bMask);
  for (int k = 0; k < n; k += V::N) {
    const int c = MinInt(V::N, n - k);
    const R<V> x = In<V>(a + k, c), y = In<V>(b + k, c);
    const R<V> m = V::Pack(Div255V<V>(V::Mul16(V::Lo8(x), V::Lo8(y))), Div255V<V>(V::Mul16(V::Hi8(x), V::Hi8(y))));
    Out<V>(out + k, V::Or(V::Or(V::And(m, mm), V::And(x, am)), V::And(y, bm)), c);
  }
}

template <class V>
void ModulateConst(const std::uint32_t* a, std::uint32_t b, std::uint32_t* out, int n, std::uint32_t modMask,
                   std::uint32_t aMask, std::uint32_t bMask) {
  const R<V> mm = V::Set32(modMask), am = V::Set32(aMask), y = V::Set32(b);
  const R<V> yb = V::And(y, V::Set32(bMask)), wide = V::Lo8(y);  // the same two pixels in both halves
  for (int k = 0; k < n; k += V::N) {
    const int c = MinInt(V::N, n - k);
    const R<V> x = In<V>(a + k, c);
    const R<V> m = V::Pack(Div255V<V>(V::Mul16(V::Lo8(x), wide)), Div255V<V>(V::Mul16(V::Hi8(x), wide)));
    Out<V>(out + k, V::Or(V::Or(V::And(m, mm), V::And(x, am)), yb), c);
  }
}

template <class V>
void Lerp(const std::uint32_t* a, const std::uint32_t* b, unsigned w, std::uint32_t* out, int n) {
  const R<V> wb = V::Set16(static_cast<std::uint16_t>(w)), wa = V::Set16(static_cast<std::uint16_t>(256 - w));
  const R<V> half = V::Set16(128);
  auto half8 = [&](R<V> x, R<V> y) {
    return V::template Shr16<8>(V::Add16(V::Add16(V::Mul16(x, wa), V::Mul16(y, wb)), half));
  };
  for (int k = 0; k < n; k += V::N) {
    const int m = MinInt(V::N, n - k);
    const R<V> x = In<V>(a + k, m), y = In<V>(b + k, m);
    Out<V>(out + k, V::Pack(half8(V::Lo8(x), V::Lo8(y)), half8(V::Hi8(x), V::Hi8(y))), m);
  }
}

template <class V>
void Gouraud(const std::int32_t* start, const std::int32_t* step, std::uint32_t* out, int n) {
  // Channel c of pixel j: start[c] + j step[c] in wrapping 32-bit arithmetic.
  R<V> value[4], stride[4];
  for (int c = 0; c < 4; ++c) {
    value[c] = Ramp<V>(start[c], step[c]);
    stride[c] = V::Set32(static_cast<std::uint32_t>(V::N) * static_cast<std::uint32_t>(step[c]));
  }
  const R<V> round = V::Set32(0x8000);
  int k = 0;
  for (; k + V::N <= n; k += V::N) {
    R<V> ch[4];
    for (int c = 0; c < 4; ++c) {
      ch[c] = V::template Sar32<16>(V::Add32(value[c], round));
      value[c] = V::Add32(value[c], stride[c]);
    }
    // Saturating packs clamp to 0-255; then B, R, G, A planes become pixels.
    const R<V> bytes = V::Pack(V::PackS32(ch[0], ch[2]), V::PackS32(ch[1], ch[3]));
    const R<V> t = V::Unpacklo8(bytes, V::template ShiftBytesRight<8>(bytes));
    V::Store(out + k, V::Unpacklo16(t, V::template ShiftBytesRight<8>(t)));
  }
  if (k < n) {
    std::int32_t rest[4];
    for (int c = 0; c < 4; ++c) rest[c] = Step(start[c], k, step[c]);
    ScalarKernels().gouraud(rest, step, out + k, n - k);
  }
}

// --- Tests -------------------------------------------------------------------------

template <class V>
int AlphaTest(const std::uint32_t* c, std::uint8_t* live, int n, unsigned func, unsigned ref) {
  const R<V> reference = V::Set32(ref);
  int count = 0, k = 0;
  for (; k + V::N <= n; k += V::N) {
    const R<V> pass = V::And(CompareV<V>(func, V::template Shr32<24>(V::Load(c + k)), reference), V::LiveMask(live + k));
    V::StoreLive(live + k, pass);
    count += V::Count(pass);
  }
  if (k < n) count += ScalarKernels().alphaTest(c + k, live + k, n - k, func, ref);
  return count;
}

template <class V>
int Depth(const DepthParams& p, void* row, std::uint8_t* live, int n) {
  if (p.format != DepthFormat::D16) return ScalarKernels().depth(p, row, live, n);
  auto* d = static_cast<std::uint16_t*>(row);
  const auto zRow = V::SetF(p.zRow), dz = V::SetF(p.dzdx), zero = V::SetF(0.0f), one = V::SetF(1.0f),
             scale = V::SetF(65535.0f);
  const R<V> write = V::Set32(p.write ? 0xFFFFFFFFu : 0u);
  R<V> x = V::Add32(V::Iota(), V::Set32(static_cast<std::uint32_t>(p.firstX)));
  const R<V> stride = V::Set32(V::N);
  int count = 0, k = 0;
  for (; k + V::N <= n; k += V::N, x = V::Add32(x, stride)) {
    auto z = V::AddF(zRow, V::MulF(V::CvtF(x), dz));
    z = V::MinF(V::MaxF(z, zero), one);
    const R<V> q = V::CvtI(V::MulF(z, scale));
    const R<V> stored = V::LoadU16(d + k);
    const R<V> pass = CompareV<V>(p.func, q, stored);
    const R<V> lv = V::And(pass, V::LiveMask(live + k));
    V::StoreU16(d + k, Select<V>(V::And(lv, write), q, stored));
    V::StoreLive(live + k, lv);
    count += V::Count(lv);
  }
  if (k < n) {
    DepthParams rest = p;
    rest.firstX += k;
    count += ScalarKernels().depth(rest, d + k, live + k, n - k);
  }
  return count;
}

// --- Sampling --------------------------------------------------------------------------

// The bilinear blend of four texel vectors with per-lane weights (16-bit,
// each pixel's weight in its four channels), rounded once per channel.
template <class V>
inline R<V> BilinearHalf(R<V> c00, R<V> c10, R<V> c01, R<V> c11, R<V> fx, R<V> fy) {
  const R<V> w256 = V::Set16(256), low = V::Set16(0xFF);
  const R<V> ifx = V::Sub16(w256, fx), ify = V::Sub16(w256, fy);
  // Down each column first (<= 65280), then across in two 8-bit halves.
  const R<V> v0 = V::Add16(V::Mul16(c00, ify), V::Mul16(c01, fy));
  const R<V> v1 = V::Add16(V::Mul16(c10, ify), V::Mul16(c11, fy));
  const R<V> high = V::Add16(V::Mul16(V::template Shr16<8>(v0), ifx), V::Mul16(V::template Shr16<8>(v1), fx));
  const R<V> rest = V::Add16(V::Mul16(V::And(v0, low), ifx), V::Mul16(V::And(v1, low), fx));
  return V::template Shr16<8>(V::Add16(V::Add16(high, V::Set16(128)), V::template Shr16<8>(rest)));
}

// The blend at 16.16 coordinates S, T: the weights are their bits 8-15.
template <class V>
inline R<V> Bilinear(R<V> t00, R<V> t10, R<V> t01, R<V> t11, R<V> S, R<V> T) {
  return V::Pack(BilinearHalf<V>(V::Lo8(t00), V::Lo8(t10), V::Lo8(t01), V::Lo8(t11), V::WeightLo(S), V::WeightLo(T)),
                 BilinearHalf<V>(V::Hi8(t00), V::Hi8(t10), V::Hi8(t01), V::Hi8(t11), V::WeightHi(S), V::WeightHi(T)));
}

// The same with one vertical weight for every pixel (16-bit, in every lane).
template <class V>
inline R<V> BilinearRow(R<V> t00, R<V> t10, R<V> t01, R<V> t11, R<V> S, R<V> fy) {
  return V::Pack(BilinearHalf<V>(V::Lo8(t00), V::Lo8(t10), V::Lo8(t01), V::Lo8(t11), V::WeightLo(S), fy),
                 BilinearHalf<V>(V::Hi8(t00), V::Hi8(t10), V::Hi8(t01), V::Hi8(t11), V::WeightHi(S), fy));
}

// Address modes the vector sampler handles: power-of-two WRAP and CLAMP.
template <class V, std::uint8_t kMode>
inline R<V> AddressV(R<V> x, R<V> limit) {
  if constexpr (kMode == kWrap) return V::And(x, limit);  // limit = size - 1
  else return V::ClampIndex(x, limit);
}

// Whether the vector sampler takes a level: those modes, and sizes and
// pitches below 2^15, for which 16-bit arithmetic gives addressed indices and
// row offsets exactly (a coordinate shifted down by 16 is a 16-bit value).
inline bool VectorModes(const SampleParams& p) {
  auto ok = [](std::uint8_t mode, int size) { return mode == kClamp || (mode == kWrap && (size & (size - 1)) == 0); };
  const TexLevel& l = p.level;
  return ok(p.addrU, l.width) && ok(p.addrV, l.height) && l.width < 32768 && l.height < 32768 && l.pitch < 32768;
}

// The samples at coordinate vectors S, T, through gathers.
template <class V, bool kLinear, std::uint8_t kU, std::uint8_t kV>
inline R<V> Fetch(const TexLevel& l, R<V> S, R<V> T) {
  const R<V> limU = V::Set32(static_cast<std::uint32_t>(l.width - 1));
  const R<V> limV = V::Set32(static_cast<std::uint32_t>(l.height - 1));
  const R<V> pitch = V::Set32(static_cast<std::uint32_t>(l.pitch));
  const R<V> alphaOr = V::Set32(l.alphaOr);
  if constexpr (!kLinear) {
    const R<V> half = V::Set32(0x8000);
    const R<V> x = AddressV<V, kU>(V::template Sar32<16>(V::Add32(S, half)), limU);
    const R<V> y = AddressV<V, kV>(V::template Sar32<16>(V::Add32(T, half)), limV);
    return V::Or(V::Gather(l.texels, V::Add32(V::MulIndex(y, pitch), x)), alphaOr);
  } else {
    const R<V> one = V::Set32(1);
    const R<V> xi = V::template Sar32<16>(S), yi = V::template Sar32<16>(T);
    const R<V> x0 = AddressV<V, kU>(xi, limU), x1 = AddressV<V, kU>(V::Add32(xi, one), limU);
    const R<V> r0 = V::MulIndex(AddressV<V, kV>(yi, limV), pitch);
    const R<V> r1 = V::MulIndex(AddressV<V, kV>(V::Add32(yi, one), limV), pitch);
    R<V> t00, t10, t01, t11;
    if (V::AllZero(V::Xor(x1, V::Add32(x0, one)))) {
      // No lane's right-hand tap wraps or clamps: each pair of taps is one
      // 8-byte load (x0 + 1 lies inside the row).
      V::GatherPairs(l.texels, V::Add32(r0, x0), &t00, &t10);
      V::GatherPairs(l.texels, V::Add32(r1, x0), &t01, &t11);
    } else {
      t00 = V::Gather(l.texels, V::Add32(r0, x0));
      t10 = V::Gather(l.texels, V::Add32(r0, x1));
      t01 = V::Gather(l.texels, V::Add32(r1, x0));
      t11 = V::Gather(l.texels, V::Add32(r1, x1));
    }
    // Where each lane's four taps are one texel (flat areas), the blend is
    // that texel: the weights sum to one. Four lanes often are (the plain
    // inside of a turned sprite); eight seldom enough that the test costs
    // more than it saves.
    if constexpr (V::N == 4) {
      if (V::AllZero(V::Or(V::Or(V::Xor(t00, t10), V::Xor(t00, t01)), V::Xor(t00, t11)))) return V::Or(t00, alphaOr);
    }
    // The weights sum to one, so alpha read as 255 before the blend is 255 after it.
    return V::Or(Bilinear<V>(t00, t10, t01, t11, S, T), alphaOr);
  }
}

template <class V, bool kLinear, std::uint8_t kU, std::uint8_t kV>
void SampleT(const SampleParams& p, const std::int32_t* s, const std::int32_t* t, std::uint32_t* out, int n) {
  // Lanes past the end read coordinate 0, which addresses a valid texel.
  for (int k = 0; k < n; k += V::N) {
    const int m = MinInt(V::N, n - k);
    const auto* sk = reinterpret_cast<const std::uint32_t*>(s + k);
    const auto* tk = reinterpret_cast<const std::uint32_t*>(t + k);
    Out<V>(out + k, Fetch<V, kLinear, kU, kV>(p.level, In<V>(sk, m), In<V>(tk, m)), m);
  }
}

// Linear sampling along a texture row (t constant, 0 <= ds < 2 texels) with
// the row's texels loaded into registers and permuted into place, instead of
// gathered; vectors that reach past the row's end are gathered.
template <class V, std::uint8_t kU, std::uint8_t kV>
int RowPermuted(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::uint32_t* out, int n) {
  const TexLevel& l = p.level;
  const int yi = t0 >> 16;
  const std::uint32_t* top = l.texels + AddressTexel(yi, l.height, kV) * l.pitch;
  const std::uint32_t* bottom = l.texels + AddressTexel(yi + 1, l.height, kV) * l.pitch;
  const R<V> fy = V::Set16(static_cast<std::uint16_t>((t0 >> 8) & 0xFF));
  const R<V> alphaOr = V::Set32(l.alphaOr);
  const R<V> T = V::Set32(static_cast<std::uint32_t>(t0));
  R<V> S = Ramp<V>(s0, ds);
  const R<V> stride = V::Set32(static_cast<std::uint32_t>(V::N) * static_cast<std::uint32_t>(ds));
  int k = 0;
  for (; k + V::N <= n; k += V::N, S = V::Add32(S, stride)) {
    const int first = Step(s0, k, ds) >> 16, last = Step(s0, k + V::N - 1, ds) >> 16;
    if (first < 0 || last + 1 >= l.width || l.width < 17) {
      V::Store(out + k, Fetch<V, true, kU, kV>(l, S, T));  // taps to be addressed
      continue;
    }
    // Texels from `base` in a, from base + 1 in b: the right-hand taps are b
    // at the left-hand taps' indices. Near the row's end the window moves left.
    const bool narrow = last - first < 8;
    const int base = MinInt(first, l.width - (narrow ? 9 : 17));
    const R<V> rel = V::Sub32(V::template Sar32<16>(S), V::Set32(static_cast<std::uint32_t>(base)));
    R<V> t00, t10, t01, t11;
    if (narrow) {
      t00 = V::Permute8(V::Load(top + base), rel);
      t10 = V::Permute8(V::Load(top + base + 1), rel);
      t01 = V::Permute8(V::Load(bottom + base), rel);
      t11 = V::Permute8(V::Load(bottom + base + 1), rel);
    } else {
      t00 = V::Permute16(V::Load(top + base), V::Load(top + base + 8), rel);
      t10 = V::Permute16(V::Load(top + base + 1), V::Load(top + base + 9), rel);
      t01 = V::Permute16(V::Load(bottom + base), V::Load(bottom + base + 8), rel);
      t11 = V::Permute16(V::Load(bottom + base + 1), V::Load(bottom + base + 9), rel);
    }
    V::Store(out + k, V::Or(BilinearRow<V>(t00, t10, t01, t11, S, fy), alphaOr));
  }
  return k;
}

template <class V, bool kLinear, std::uint8_t kU, std::uint8_t kV>
void LineT(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt, std::uint32_t* out,
           int n) {
  int k = 0;
  if constexpr (V::kPermute && kLinear) {
    if (dt == 0 && ds >= 0 && ds < 2 * 65536) k = RowPermuted<V, kU, kV>(p, s0, ds, t0, out, n);
  }
  R<V> S = Ramp<V>(Step(s0, k, ds), ds), T = Ramp<V>(Step(t0, k, dt), dt);
  const R<V> strideS = V::Set32(static_cast<std::uint32_t>(V::N) * static_cast<std::uint32_t>(ds));
  const R<V> strideT = V::Set32(static_cast<std::uint32_t>(V::N) * static_cast<std::uint32_t>(dt));
  for (; k + V::N <= n; k += V::N, S = V::Add32(S, strideS), T = V::Add32(T, strideT))
    V::Store(out + k, Fetch<V, kLinear, kU, kV>(p.level, S, T));
  // The tail as a whole vector: lanes past the end address valid texels (WRAP
  // and CLAMP keep every index inside), and only the wanted ones are kept.
  if (k < n) Out<V>(out + k, Fetch<V, kLinear, kU, kV>(p.level, S, T), n - k);
}

template <class V, bool kLinear>
void SampleModes(const SampleParams& p, const std::int32_t* s, const std::int32_t* t, std::uint32_t* out, int n) {
  const bool wrapU = p.addrU == kWrap, wrapV = p.addrV == kWrap;
  if (wrapU && wrapV) SampleT<V, kLinear, kWrap, kWrap>(p, s, t, out, n);
  else if (wrapU) SampleT<V, kLinear, kWrap, kClamp>(p, s, t, out, n);
  else if (wrapV) SampleT<V, kLinear, kClamp, kWrap>(p, s, t, out, n);
  else SampleT<V, kLinear, kClamp, kClamp>(p, s, t, out, n);
}

template <class V>
void Sample(const SampleParams& p, const std::int32_t* s, const std::int32_t* t, std::uint32_t* out, int n) {
  if (!VectorModes(p)) ScalarKernels().sample(p, s, t, out, n);
  else if (p.linear) SampleModes<V, true>(p, s, t, out, n);
  else SampleModes<V, false>(p, s, t, out, n);
}

// One texture row's texels for columns first .. first + count - 1, addressed
// (not BORDER): the row itself when they lie inside it, else a copy in `scratch`.
inline const std::uint32_t* RowTexels(const SampleParams& p, int row, int first, int count, std::uint32_t* scratch) {
  const TexLevel& l = p.level;
  const std::uint32_t* texels = l.texels + row * l.pitch;
  if (first >= 0 && first + count <= l.width) return texels + first;
  int k = 0;
  while (k < count) {
    const int x = AddressTexel(first + k, l.width, p.addrU);
    if (p.addrU == kWrap || (p.addrU != kMirror && first + k == x)) {
      // A run up to the row's end: wrapped, or inside the row unchanged.
      const int run = MinInt(count - k, l.width - x);
      std::memcpy(scratch + k, texels + x, static_cast<std::size_t>(run) * 4);
      k += run;
    } else {
      scratch[k++] = texels[x];
    }
  }
  return scratch;
}

// Linear sampling along a texture row (t constant) with a step of more than 0
// and at most 2 texels, in 128-bit registers: the two texture rows are
// blended down each texel column once (16 bits a channel, as the bilinear
// blend forms them), then each pixel blends its two columns across, with the
// bilinear blend's own rounding.
inline void RowScaled(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::uint32_t* out,
                      int n) {
  const TexLevel& l = p.level;
  const int first = s0 >> 16;
  const int count = (Step(s0, n - 1, ds) >> 16) - first + 2;  // the last pixel's columns x0 and x0 + 1
  alignas(16) std::uint32_t scratch[2][2 * kChunk + 4];
  alignas(16) std::uint16_t column[(2 * kChunk + 4) * 4];
  const int yi = t0 >> 16;
  const std::uint32_t* top = RowTexels(p, AddressTexel(yi, l.height, p.addrV), first, count, scratch[0]);
  const std::uint32_t* bottom = RowTexels(p, AddressTexel(yi + 1, l.height, p.addrV), first, count, scratch[1]);
  const __m128i zero = _mm_setzero_si128();
  const __m128i fy = _mm_set1_epi16(static_cast<short>((t0 >> 8) & 0xFF));
  const __m128i ify = _mm_sub_epi16(_mm_set1_epi16(256), fy);
  // Down the columns, four at a time; the last group reads copies.
  for (int i = 0; i < count; i += 4) {
    __m128i a, b;
    if (i + 4 <= count) {
      a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i));
      b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i));
    } else {
      alignas(16) std::uint32_t ta[4] = {}, tb[4] = {};
      std::memcpy(ta, top + i, static_cast<std::size_t>(count - i) * 4);
      std::memcpy(tb, bottom + i, static_cast<std::size_t>(count - i) * 4);
      a = _mm_load_si128(reinterpret_cast<const __m128i*>(ta));
      b = _mm_load_si128(reinterpret_cast<const __m128i*>(tb));
    }
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), ify),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), fy));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), ify),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), fy));
    _mm_store_si128(reinterpret_cast<__m128i*>(column + 4 * i), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(column + 4 * i + 8), hi);
  }
  // Across: pixel k blends columns x0 and x0 + 1 (one 16-byte load) with the
  // weight in bits 8-15 of its coordinate, four pixels at a time (the last
  // group repeats its last pixel).
  const __m128i low = _mm_set1_epi16(0xFF), w256 = _mm_set1_epi16(256), half = _mm_set1_epi16(128);
  const __m128i alphaOr = _mm_set1_epi32(static_cast<int>(l.alphaOr));
  auto columns = [&](std::uint32_t s) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 4 * ((static_cast<std::int32_t>(s) >> 16) - first)));
  };
  // Two pixels' columns and weights (16 bits, in their four channels).
  auto across = [&](__m128i va, __m128i vb, __m128i fx) {
    const __m128i v0 = _mm_unpacklo_epi64(va, vb), v1 = _mm_unpackhi_epi64(va, vb);
    const __m128i ifx = _mm_sub_epi16(w256, fx);
    const __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(v0, 8), ifx), _mm_mullo_epi16(_mm_srli_epi16(v1, 8), fx));
    const __m128i rest = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(v0, low), ifx), _mm_mullo_epi16(_mm_and_si128(v1, low), fx));
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(high, half), _mm_srli_epi16(rest, 8)), 8);
  };
  const std::uint32_t step = static_cast<std::uint32_t>(ds);
  __m128i S = _mm_setr_epi32(s0, static_cast<int>(static_cast<std::uint32_t>(s0) + step),
                     static_cast<int>(static_cast<std::uint32_t>(s0) + 2 * step),
                     static_cast<int>(static_cast<std::uint32_t>(s0) + 3 * step));
  const __m128i stride = _mm_set1_epi32(static_cast<int>(4 * step)), byte = _mm_set1_epi32(0xFF);
  std::uint32_t s = static_cast<std::uint32_t>(s0);
  for (int k = 0; k < n; k += 4, s += 4 * step, S = _mm_add_epi32(S, stride)) {
    const std::uint32_t last = s + static_cast<std::uint32_t>(MinInt(3, n - 1 - k)) * step;
    const __m128i va = columns(s), vb = columns(k + 1 < n ? s + step : last);
    const __m128i vc = columns(k + 2 < n ? s + 2 * step : last), vd = columns(last);
    // Bits 8-15 of the four coordinates, spread over each pixel's channels.
    const __m128i w = _mm_and_si128(_mm_srli_epi32(S, 8), byte);
    const __m128i w16 = _mm_unpacklo_epi16(_mm_packs_epi32(w, w), _mm_packs_epi32(w, w));
    const __m128i r = _mm_or_si128(_mm_packus_epi16(across(va, vb, _mm_unpacklo_epi32(w16, w16)),
                                                    across(vc, vd, _mm_unpackhi_epi32(w16, w16))),
                                   alphaOr);
    if (k + 4 <= n) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), r);
    } else {
      alignas(16) std::uint32_t four[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(four), r);
      std::memcpy(out + k, four, static_cast<std::size_t>(n - k) * 4);
    }
  }
}

// A unit step along a row (quads drawn 1:1): contiguous texels with one
// constant fraction.
template <class V>
void UnitRow(const SampleParams& p, std::int32_t s0, std::int32_t t, std::uint32_t* out, int n) {
  const TexLevel& l = p.level;
  if (p.addrU == kWrap && (l.width & (l.width - 1)) == 0 && l.width >= V::N && n > l.width) {
    // A wrapped texture narrower than the span repeats every `width` pixels
    // (s0 + 65536 width addresses what s0 does): one period, then copies.
    UnitRow<V>(p, s0, t, out, l.width);
    int k = l.width;
    for (; k + V::N <= n; k += V::N) V::Store(out + k, V::Load(out + k - l.width));
    for (; k < n; ++k) out[k] = out[k - l.width];
    return;
  }
  const R<V> alphaOr = V::Set32(l.alphaOr);
  alignas(32) std::uint32_t scratch[2][kChunk + 1];
  if (!p.linear || (((s0 | t) >> 8) & 0xFF) == 0) {
    // Point sampling, or linear at texel centres: a copy.
    const int x = p.linear ? s0 >> 16 : (s0 + 0x8000) >> 16;
    const int y = AddressTexel(p.linear ? t >> 16 : (t + 0x8000) >> 16, l.height, p.addrV);
    const std::uint32_t* row = RowTexels(p, y, x, n, scratch[0]);
    int k = 0;
    for (; k + V::N <= n; k += V::N) V::Store(out + k, V::Or(V::Load(row + k), alphaOr));
    for (; k < n; ++k) out[k] = row[k] | l.alphaOr;
    return;
  }
  const int x0 = s0 >> 16, yi = t >> 16;
  // Pixels lo .. hi - 1 have both taps inside the row. When only a few at the
  // ends do not (a quad as wide as its texture, sampled at texel corners),
  // those are sampled on their own and the rest read the rows in place.
  const int lo = MinInt(-x0 > 0 ? -x0 : 0, n), hi = MinInt(l.width - 1 - x0 > lo ? l.width - 1 - x0 : lo, n);
  if ((lo > 0 || hi < n) && hi - lo >= 2 * V::N && lo + n - hi <= 2) {
    if (lo > 0) ScalarKernels().sampleLine(p, s0, 65536, t, 0, out, lo);
    UnitRow<V>(p, Step(s0, lo, 65536), t, out + lo, hi - lo);
    if (hi < n) ScalarKernels().sampleLine(p, Step(s0, hi, 65536), 65536, t, 0, out + hi, n - hi);
    return;
  }
  const std::uint32_t* top = RowTexels(p, AddressTexel(yi, l.height, p.addrV), x0, n + 1, scratch[0]);
  const std::uint32_t* bottom = RowTexels(p, AddressTexel(yi + 1, l.height, p.addrV), x0, n + 1, scratch[1]);
  const unsigned wx = (s0 >> 8) & 0xFF, wy = (t >> 8) & 0xFF;
  const R<V> fx = V::Set16(static_cast<std::uint16_t>(wx));
  const R<V> fy = V::Set16(static_cast<std::uint16_t>(wy));
  int k = 0;
  if (wx == 128 && wy == 128) {
    // Texel corners (quads at integer positions): every weight is 1/4, so the
    // blend is (sum + 2) >> 2 exactly.
    const R<V> two = V::Set16(2);
    auto quarter = [&](R<V> a, R<V> b, R<V> c, R<V> d) {
      return V::template Shr16<2>(V::Add16(V::Add16(V::Add16(a, b), V::Add16(c, d)), two));
    };
    for (; k + V::N <= n; k += V::N) {
      const R<V> t00 = V::Load(top + k), t10 = V::Load(top + k + 1);
      const R<V> t01 = V::Load(bottom + k), t11 = V::Load(bottom + k + 1);
      const R<V> r = V::Pack(quarter(V::Lo8(t00), V::Lo8(t10), V::Lo8(t01), V::Lo8(t11)),
                             quarter(V::Hi8(t00), V::Hi8(t10), V::Hi8(t01), V::Hi8(t11)));
      V::Store(out + k, V::Or(r, alphaOr));
    }
  }
  for (; k + V::N <= n; k += V::N) {
    const R<V> t00 = V::Load(top + k), t10 = V::Load(top + k + 1);
    const R<V> t01 = V::Load(bottom + k), t11 = V::Load(bottom + k + 1);
    const R<V> r = V::Pack(BilinearHalf<V>(V::Lo8(t00), V::Lo8(t10), V::Lo8(t01), V::Lo8(t11), fx, fy),
                           BilinearHalf<V>(V::Hi8(t00), V::Hi8(t10), V::Hi8(t01), V::Hi8(t11), fx, fy));
    V::Store(out + k, V::Or(r, alphaOr));
  }
  if (k < n) ScalarKernels().sampleLine(p, Step(s0, k, 65536), 65536, t, 0, out + k, n - k);
}

template <class V, bool kLinear>
void LineModes(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt,
               std::uint32_t* out, int n) {
  const bool wrapU = p.addrU == kWrap, wrapV = p.addrV == kWrap;
  if (wrapU && wrapV) LineT<V, kLinear, kWrap, kWrap>(p, s0, ds, t0, dt, out, n);
  else if (wrapU) LineT<V, kLinear, kWrap, kClamp>(p, s0, ds, t0, dt, out, n);
  else if (wrapV) LineT<V, kLinear, kClamp, kWrap>(p, s0, ds, t0, dt, out, n);
  else LineT<V, kLinear, kClamp, kClamp>(p, s0, ds, t0, dt, out, n);
}

template <class V>
void SampleLine(const SampleParams& p, std::int32_t s0, std::int32_t ds, std::int32_t t0, std::int32_t dt,
                std::uint32_t* out, int n) {
  const bool border = p.addrU == kBorder || p.addrV == kBorder;
  if (dt == 0 && ds == 65536 && !border) UnitRow<V>(p, s0, t0, out, n);
  else if (!V::kPermute && p.linear && dt == 0 && ds > 0 && ds <= 2 * 65536 && !border && n <= kChunk)
    RowScaled(p, s0, ds, t0, out, n);
  else if (!VectorModes(p)) ScalarKernels().sampleLine(p, s0, ds, t0, dt, out, n);
  else if (p.linear) LineModes<V, true>(p, s0, ds, t0, dt, out, n);
  else LineModes<V, false>(p, s0, ds, t0, dt, out, n);
}

template <class V>
Kernels MakeKernels() {
  return Kernels{Sample<V>,    SampleLine<V>, Lerp<V>,  Gouraud<V>, Modulate<V>, ModulateConst<V>,
                 AlphaTest<V>, Depth<V>,      Write<V>, Fill<V>,    false};
}

}  // namespace
}  // namespace platform::d3d9::raster
