// The last step of the colour encoder without diffusion: the endpoint pair
// that the fit on the 5-6-5 grid found is improved against the texels' own
// colours. Least-squares endpoints for the steps the texels take, rounded to
// the grid, then single level moves of either end in the direction the error
// falls. Every error is summed over the 16 texels four at a time; the three
// channels' ends go through the other steps side by side, lane by lane.
#include <xmmintrin.h>
#include <emmintrin.h>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"

namespace gxl::tex::detail {
namespace {

using Texels = PolishTexels;

// Per channel (red, green, blue; a fourth lane that nothing reads): the top
// level, the scale of a level's value in the error space, and its inverse.
const __m128 kTop = _mm_setr_ps(31.0f, 63.0f, 31.0f, 31.0f);
const __m128 kScale = _mm_setr_ps(kErrorWeightR, 1.0f, kErrorWeightB, 1.0f);
const __m128 kInverse = _mm_setr_ps(1.0f / kErrorWeightR, 1.0f, 1.0f / kErrorWeightB, 1.0f);

// An endpoint pair as grid levels, channel by channel in lanes.
struct Levels {
  __m128i a, z;
};

Levels ToLevels(std::uint16_t a, std::uint16_t z) {
  return Levels{_mm_setr_epi32(a >> 11, (a >> 5) & 63, a & 31, 0), _mm_setr_epi32(z >> 11, (z >> 5) & 63, z & 31, 0)};
}
std::uint16_t Word(__m128i levels) {
  alignas(16) std::int32_t v[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(v), levels);
  return static_cast<std::uint16_t>(v[0] << 11 | v[1] << 5 | v[2]);
}

// A level's value in the error space as the decoder expands it: level / top
// (the channel's own top), times the channel's scale.
inline __m128 Values(__m128i levels, __m128 top, __m128 scale) {
  return _mm_mul_ps(_mm_div_ps(_mm_cvtepi32_ps(levels), top), scale);
}
inline __m128 Values(__m128i levels) { return Values(levels, kTop, kScale); }

// The nearest levels of values in the error space, clamped to the grid
// (maxps yields its second operand for a NaN, which then reads as 0).
inline __m128i Nearest(__m128 value, __m128 top, __m128 inverse) {
  const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_mul_ps(value, inverse), _mm_setzero_ps()), _mm_set1_ps(1.0f));
  return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(clamped, top), _mm_set1_ps(0.5f)));
}
inline __m128i Nearest(__m128 value) { return Nearest(value, kTop, kInverse); }

inline float Lane(__m128 v, int i) {
  alignas(16) float parts[4];
  _mm_store_ps(parts, v);
  return parts[i];
}
inline __m128 Broadcast(__m128 v, int i) {
  switch (i) {
    case 0: return _mm_shuffle_ps(v, v, 0x00);
    case 1: return _mm_shuffle_ps(v, v, 0x55);
    default: return _mm_shuffle_ps(v, v, 0xAA);
  }
}

float Sum(__m128 v) {
  alignas(16) float parts[4];
  _mm_store_ps(parts, v);
  return (parts[0] + parts[1]) + (parts[2] + parts[3]);
}

// The sums of four vectors, each formed as Sum forms it, in the lanes of one.
__m128 Sums(__m128 a, __m128 b, __m128 c, __m128 d) {
  _MM_TRANSPOSE4_PS(a, b, c, d);
  return _mm_add_ps(_mm_add_ps(a, b), _mm_add_ps(c, d));
}

// Sums over the counted texels at fractions f (0 at a, 1 at z) of their
// steps: of (1 - f)^2, (1 - f) f and f^2, and of each channel c times (1 - f)
// and times f, channel by channel in lanes. They give the least-squares ends
// for those steps, and the error's gradient for any ends.
struct Moments {
  float ll, lh, hh;
  __m128 cl, ch;
};

// The fractions of the texels' steps, four texels a register.
struct Steps {
  __m128 f[4];
};

// Squared error of the counted texels, each at its nearest of `count` steps
// from a to z, whose fractions go to `steps`. The sum only grows, term by
// term: with `stop`, once half of it reaches `bound`, the rest cannot bring
// it below, and the part is returned (the steps then stay incomplete).
float Error(const Texels& t, __m128 a, __m128 z, int count, bool stop, float bound, Steps* steps) {
  const __m128 line = _mm_sub_ps(z, a), square = _mm_mul_ps(line, line);
  const float len2 = (Lane(square, 0) + Lane(square, 1)) + Lane(square, 2);
  const float last = static_cast<float>(count - 1);
  const float k = len2 > 0.0f ? last / len2 : 0.0f;
  const __m128 direction = _mm_mul_ps(line, _mm_set1_ps(k));
  const __m128 ar = Broadcast(a, 0), ag = Broadcast(a, 1), ab = Broadcast(a, 2);
  const __m128 vr = Broadcast(line, 0), vg = Broadcast(line, 1), vb = Broadcast(line, 2);
  const __m128 dr = Broadcast(direction, 0), dg = Broadcast(direction, 1), db = Broadcast(direction, 2);
  const __m128 top = _mm_set1_ps(last), half = _mm_set1_ps(0.5f), step = _mm_set1_ps(1.0f / last);
  __m128 sum = _mm_setzero_ps();
  for (int i = 0; i < 16; i += 4) {
    const __m128 cr = _mm_sub_ps(_mm_load_ps(t.r + i), ar), cg = _mm_sub_ps(_mm_load_ps(t.g + i), ag);
    const __m128 cb = _mm_sub_ps(_mm_load_ps(t.b + i), ab);
    __m128 p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(cr, dr), _mm_mul_ps(cg, dg)), _mm_mul_ps(cb, db));
    p = _mm_min_ps(_mm_max_ps(p, _mm_setzero_ps()), top);
    const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(p, half))), step);
    steps->f[i / 4] = f;
    const __m128 er = _mm_sub_ps(_mm_mul_ps(vr, f), cr);
    const __m128 eg = _mm_sub_ps(_mm_mul_ps(vg, f), cg);
    const __m128 eb = _mm_sub_ps(_mm_mul_ps(vb, f), cb);
    const __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(er, er), _mm_mul_ps(eg, eg)), _mm_mul_ps(eb, eb));
    sum = _mm_add_ps(sum, _mm_mul_ps(d, _mm_load_ps(t.w + i)));
    if (stop && i == 4) {
      const float part = Sum(sum);
      if (part >= bound) return part;
    }
  }
  return Sum(sum);
}

Moments MomentsOf(const Texels& t, const Steps& steps) {
  const __m128 one = _mm_set1_ps(1.0f);
  __m128 ll = _mm_setzero_ps(), lh = ll, hh = ll, cl[3] = {ll, ll, ll}, ch[3] = {ll, ll, ll};
  for (int i = 0; i < 16; i += 4) {
    const __m128 f = steps.f[i / 4], w = _mm_load_ps(t.w + i);
    const __m128 l = _mm_sub_ps(one, f), wl = _mm_mul_ps(w, l), wh = _mm_mul_ps(w, f);
    ll = _mm_add_ps(ll, _mm_mul_ps(wl, l));
    lh = _mm_add_ps(lh, _mm_mul_ps(wl, f));
    hh = _mm_add_ps(hh, _mm_mul_ps(wh, f));
    const __m128 c[3] = {_mm_load_ps(t.r + i), _mm_load_ps(t.g + i), _mm_load_ps(t.b + i)};
    for (int j = 0; j < 3; ++j) {
      cl[j] = _mm_add_ps(cl[j], _mm_mul_ps(wl, c[j]));
      ch[j] = _mm_add_ps(ch[j], _mm_mul_ps(wh, c[j]));
    }
  }
  alignas(16) float sums[4];
  _mm_store_ps(sums, Sums(ll, lh, hh, hh));
  return Moments{sums[0], sums[1], sums[2], Sums(cl[0], cl[1], cl[2], cl[2]), Sums(ch[0], ch[1], ch[2], ch[2])};
}

// A nearly flat block's ends around the means m (per channel): for each low
// level within two of the mean's, the high level that puts the first step
// (the fraction `first` along) nearest to m; of these, the first pair that
// misses m least. Five candidates a channel, lane 5c + j.
void AroundMean(__m128 m, float first, Levels* around) {
  alignas(16) std::int32_t centre[4], lowLevel[16], highLevel[16];
  alignas(16) float mean[4], miss[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(centre), Nearest(m));
  _mm_store_ps(mean, m);
  int from[3], n[3];
  static const int kTopLevel[3] = {31, 63, 31};
  for (int c = 0; c < 3; ++c) {
    from[c] = centre[c] > 2 ? centre[c] - 2 : 0;
    n[c] = (centre[c] + 2 < kTopLevel[c] ? centre[c] + 2 : kTopLevel[c]) - from[c] + 1;
    for (int j = 0; j < 5; ++j) lowLevel[5 * c + j] = from[c] + (j < n[c] ? j : n[c] - 1);
  }
  lowLevel[15] = 0;
  const float topOf[3] = {31.0f, 63.0f, 31.0f}, scaleOf[3] = {kErrorWeightR, 1.0f, kErrorWeightB};
  const float inverseOf[3] = {1.0f / kErrorWeightR, 1.0f, 1.0f / kErrorWeightB};
  const __m128 step = _mm_set1_ps(first), magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  for (int q = 0; q < 16; q += 4) {
    alignas(16) float top[4], scale[4], inverse[4], centreOf[4];
    for (int j = 0; j < 4; ++j) {
      const int c = (q + j) / 5 < 3 ? (q + j) / 5 : 2;
      top[j] = topOf[c];
      scale[j] = scaleOf[c];
      inverse[j] = inverseOf[c];
      centreOf[j] = mean[c];
    }
    const __m128 t = _mm_load_ps(top), s = _mm_load_ps(scale), mq = _mm_load_ps(centreOf);
    const __m128 lo = Values(_mm_load_si128(reinterpret_cast<const __m128i*>(lowLevel + q)), t, s);
    const __m128i high = Nearest(_mm_add_ps(lo, _mm_div_ps(_mm_sub_ps(mq, lo), step)), t, _mm_load_ps(inverse));
    const __m128 hi = Values(high, t, s);
    _mm_store_si128(reinterpret_cast<__m128i*>(highLevel + q), high);
    _mm_store_ps(miss + q, _mm_and_ps(_mm_sub_ps(_mm_add_ps(lo, _mm_mul_ps(_mm_sub_ps(hi, lo), step)), mq), magnitude));
  }
  alignas(16) std::int32_t a[4] = {}, z[4] = {};
  for (int c = 0; c < 3; ++c) {
    float nearest = -1.0f;
    for (int j = 0; j < n[c]; ++j) {
      const float v = miss[5 * c + j];
      if (nearest >= 0.0f && v >= nearest) continue;
      nearest = v;
      a[c] = lowLevel[5 * c + j];
      z[c] = highLevel[5 * c + j];
    }
  }
  around->a = _mm_load_si128(reinterpret_cast<const __m128i*>(a));
  around->z = _mm_load_si128(reinterpret_cast<const __m128i*>(z));
}

// Single level moves of each end of each channel with the texels' steps held:
// the error then changes by 2 d G + d^2 S for a move d of one end, the
// gradient G and S from the moments, G kept up to date without visiting the
// texels. In each sweep every channel tries its low end, then its high end,
// a level down, else up; a channel's moves change only its own gradients, so
// the channels sweep side by side until none moves (at most 8 sweeps). False
// when nothing moved.
bool Sweep(const Moments& m, Levels* levels) {
  const __m128 ll = _mm_set1_ps(m.ll), lh = _mm_set1_ps(m.lh), hh = _mm_set1_ps(m.hh);
  const __m128 a = Values(levels->a), z = Values(levels->z);
  __m128 low = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(ll, a), _mm_mul_ps(lh, z)), m.cl);
  __m128 high = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(lh, a), _mm_mul_ps(hh, z)), m.ch);
  const __m128i one = _mm_set1_epi32(1), lanes = _mm_setr_epi32(-1, -1, -1, 0);
  const __m128i topLevel = _mm_setr_epi32(31, 63, 31, 31);
  const __m128 two = _mm_set1_ps(2.0f), floor = _mm_set1_ps(-1e-9f);
  // The move of one end: -1, else +1 where that lowers the error.
  auto move = [&](__m128i& level, __m128 gradient, __m128 s, __m128* d) {
    const __m128 here = Values(level);
    const __m128i down = _mm_sub_epi32(level, one), up = _mm_add_epi32(level, one);
    const __m128 dDown = _mm_sub_ps(Values(down), here), dUp = _mm_sub_ps(Values(up), here);
    auto lowers = [&](__m128 dv) {
      return _mm_cmpnge_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(two, dv), gradient), _mm_mul_ps(_mm_mul_ps(dv, dv), s)),
                           floor);
    };
    const __m128i takeDown = _mm_and_si128(_mm_castps_si128(lowers(dDown)), _mm_cmpgt_epi32(level, _mm_setzero_si128()));
    const __m128i takeUp = _mm_andnot_si128(
        takeDown, _mm_and_si128(_mm_castps_si128(lowers(dUp)), _mm_cmplt_epi32(level, topLevel)));
    const __m128i taken = _mm_and_si128(_mm_or_si128(takeDown, takeUp), lanes);
    // The masks are -1 where set.
    level = _mm_sub_epi32(_mm_add_epi32(level, _mm_and_si128(takeDown, lanes)), _mm_and_si128(takeUp, lanes));
    *d = _mm_and_ps(_mm_castsi128_ps(taken), _mm_or_ps(_mm_and_ps(_mm_castsi128_ps(takeDown), dDown),
                                                      _mm_andnot_ps(_mm_castsi128_ps(takeDown), dUp)));
    return taken;
  };
  // Gradients change only where an end moved.
  auto update = [](__m128& gradient, __m128 d, __m128 s, __m128i taken) {
    gradient = _mm_or_ps(_mm_and_ps(_mm_castsi128_ps(taken), _mm_add_ps(gradient, _mm_mul_ps(d, s))),
                         _mm_andnot_ps(_mm_castsi128_ps(taken), gradient));
  };
  bool moved = false;
  for (int sweep = 0; sweep < 8; ++sweep) {
    __m128 d;
    const __m128i lowMoved = move(levels->a, low, ll, &d);
    update(low, d, ll, lowMoved);
    update(high, d, lh, lowMoved);
    const __m128i highMoved = move(levels->z, high, hh, &d);
    update(low, d, lh, highMoved);
    update(high, d, hh, highMoved);
    if (_mm_movemask_epi8(_mm_or_si128(lowMoved, highMoved)) == 0) break;
    moved = true;
  }
  return moved;
}

}  // namespace

void PolishColorEndpoints(std::uint16_t& a, std::uint16_t& z, const PolishTexels& t, int count) {
  Levels best = ToLevels(a, z);
  Steps steps;
  float bestError = Error(t, Values(best.a), Values(best.z), count, false, 0.0f, &steps);
  Moments moments = MomentsOf(t, steps);
  // Takes a pair (and the moments of its steps) when it lowers the error;
  // the pair in hand never does.
  auto consider = [&](const Levels& candidate) {
    const __m128i same = _mm_and_si128(_mm_cmpeq_epi32(candidate.a, best.a), _mm_cmpeq_epi32(candidate.z, best.z));
    if (_mm_movemask_epi8(same) == 0xFFFF) return false;
    const float error = Error(t, Values(candidate.a), Values(candidate.z), count, true, bestError, &steps);
    if (!(error < bestError)) return false;
    bestError = error;
    best = candidate;
    moments = MomentsOf(t, steps);
    return true;
  };

  // Nearly flat blocks (ends at most a level apart) are best served by ends
  // around the mean colour whose first interpolated step lies on it: per
  // channel, for each low level near the mean, the high level that puts
  // (2 a + z) / 3 (three steps: (a + z) / 2) nearest to it.
  const __m128i apart = _mm_sub_epi32(best.a, best.z);
  const __m128i far = _mm_or_si128(_mm_cmpgt_epi32(apart, _mm_set1_epi32(1)), _mm_cmplt_epi32(apart, _mm_set1_epi32(-1)));
  if (_mm_movemask_epi8(far) == 0) {
    const float weight = moments.ll + 2.0f * moments.lh + moments.hh;  // the counted texels
    Levels around;
    AroundMean(_mm_div_ps(_mm_add_ps(moments.cl, moments.ch), _mm_set1_ps(weight)), count == 4 ? 1.0f / 3.0f : 0.5f,
               &around);
    consider(around);
  }

  // The least-squares ends for the steps the texels take, at the nearest
  // levels: the minimum of the sum of |(1 - f) a + f z - c|^2.
  const float det = moments.ll * moments.hh - moments.lh * moments.lh;
  if (det > 1e-6f) {
    const __m128 ll = _mm_set1_ps(moments.ll), lh = _mm_set1_ps(moments.lh), hh = _mm_set1_ps(moments.hh);
    const __m128 d = _mm_set1_ps(det);
    const __m128 low = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(moments.cl, hh), _mm_mul_ps(moments.ch, lh)), d);
    const __m128 high = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(moments.ch, ll), _mm_mul_ps(moments.cl, lh)), d);
    const __m128i lanes = _mm_setr_epi32(-1, -1, -1, 0);
    consider(Levels{_mm_and_si128(Nearest(low), lanes), _mm_and_si128(Nearest(high), lanes)});
  }

  // Single level moves, each accepted move lowering the error (a held step is
  // never nearer than the nearest); then again from the moments of the new
  // pair's steps.
  for (int round = 0; round < 2; ++round) {
    Levels next = best;
    if (!Sweep(moments, &next) || !consider(next)) break;
  }
  a = Word(best.a);
  z = Word(best.z);
}

}  // namespace gxl::tex::detail
