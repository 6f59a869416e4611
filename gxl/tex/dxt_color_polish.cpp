// The last step of the colour encoder without diffusion: the endpoint pair
// that the fit on the 5-6-5 grid found is improved against the texels' own
// colours. Least-squares endpoints for the steps the texels take, rounded to
// the grid, then single level moves of either end in the direction the error
// falls. Every error is summed over the 16 texels four at a time.
#include <xmmintrin.h>
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"

namespace gxl::tex::detail {
namespace {

using Texels = PolishTexels;

// An endpoint pair as grid levels: a.r, a.g, a.b, z.r, z.g, z.b.
struct Levels {
  int v[6];
};
constexpr int kTop[6] = {31, 63, 31, 31, 63, 31};

Levels ToLevels(std::uint16_t a, std::uint16_t z) {
  return Levels{{a >> 11, (a >> 5) & 63, a & 31, z >> 11, (z >> 5) & 63, z & 31}};
}
std::uint16_t Word(const Levels& l, int end) {
  const int* v = l.v + 3 * end;
  return static_cast<std::uint16_t>(v[0] << 11 | v[1] << 5 | v[2]);
}

// The levels of the 5- and 6-bit channels as the decoder expands them, in
// the error space.
struct LevelTable {
  float r[32], g[64], b[32];
};
constexpr LevelTable MakeLevelTable() {
  LevelTable t{};
  for (int i = 0; i < 32; ++i) {
    t.r[i] = static_cast<float>(i) / 31.0f * kErrorWeightR;
    t.b[i] = static_cast<float>(i) / 31.0f * kErrorWeightB;
  }
  for (int i = 0; i < 64; ++i) t.g[i] = static_cast<float>(i) / 63.0f;
  return t;
}
constexpr LevelTable kLevelValues = MakeLevelTable();

constexpr const float* kChannelValues[6] = {kLevelValues.r, kLevelValues.g, kLevelValues.b,
                                            kLevelValues.r, kLevelValues.g, kLevelValues.b};
float LevelValue(int k, int level) { return kChannelValues[k][level]; }
// The nearest level of a value in the error space (clamped to the grid).
int NearestLevel(int k, float value) {
  const float unit = value * (k % 3 == 0 ? 1.0f / kErrorWeightR : k % 3 == 2 ? 1.0f / kErrorWeightB : 1.0f);
  const float clamped = unit > 0.0f ? (unit < 1.0f ? unit : 1.0f) : 0.0f;
  return static_cast<int>(clamped * static_cast<float>(kTop[k]) + 0.5f);
}

// NearestLevel of four values of channel k.
__m128i NearestLevels(int k, __m128 value) {
  const float scale = k % 3 == 0 ? 1.0f / kErrorWeightR : k % 3 == 2 ? 1.0f / kErrorWeightB : 1.0f;
  const __m128 unit = _mm_mul_ps(value, _mm_set1_ps(scale));
  // maxps yields its second operand for a NaN, which then reads as 0.
  const __m128 clamped = _mm_min_ps(_mm_max_ps(unit, _mm_setzero_ps()), _mm_set1_ps(1.0f));
  return _mm_cvttps_epi32(
      _mm_add_ps(_mm_mul_ps(clamped, _mm_set1_ps(static_cast<float>(kTop[k]))), _mm_set1_ps(0.5f)));
}

// A nearly flat block's ends in channel c around the mean m: for each low
// level within two of the mean's, the high level that puts the first step
// (the fraction `first` along) nearest to m; of these, the first pair that
// misses m least. The candidates four at a time.
void AroundMean(int c, float m, float first, int* low, int* high) {
  const int centre = NearestLevel(c, m);
  const int from = std::max(centre - 2, 0), n = std::min(centre + 2, kTop[c]) - from + 1;
  alignas(16) float v0[8], v1[8], miss[8];
  alignas(16) std::int32_t l1[8];
  for (int j = 0; j < 8; ++j) v0[j] = LevelValue(c, from + std::min(j, n - 1));
  const __m128 mean = _mm_set1_ps(m), step = _mm_set1_ps(first);
  for (int j = 0; j < 8; j += 4) {
    const __m128 lo = _mm_load_ps(v0 + j);
    _mm_store_si128(reinterpret_cast<__m128i*>(l1 + j),
                    NearestLevels(c, _mm_add_ps(lo, _mm_div_ps(_mm_sub_ps(mean, lo), step))));
  }
  for (int j = 0; j < 8; ++j) v1[j] = LevelValue(c, l1[j]);
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  for (int j = 0; j < n; j += 4) {
    const __m128 lo = _mm_load_ps(v0 + j), hi = _mm_load_ps(v1 + j);
    _mm_store_ps(miss + j, _mm_and_ps(_mm_sub_ps(_mm_add_ps(lo, _mm_mul_ps(_mm_sub_ps(hi, lo), step)), mean), magnitude));
  }
  float nearest = -1.0f;
  for (int j = 0; j < n; ++j) {
    if (nearest >= 0.0f && miss[j] >= nearest) continue;
    nearest = miss[j];
    *low = from + j;
    *high = l1[j];
  }
}

struct Ends {
  float v[6];  // a.r, a.g, a.b, z.r, z.g, z.b
};
Ends ValuesOf(const Levels& l) {
  Ends e;
  for (int k = 0; k < 6; ++k) e.v[k] = LevelValue(k, l.v[k]);
  return e;
}

// Sums over the counted texels at fractions f (0 at a, 1 at z) of their
// steps: of (1 - f)^2, (1 - f) f and f^2, and of each channel c times (1 - f)
// and times f. They give the least-squares ends for those steps, and the
// error's gradient for any ends.
struct Moments {
  float ll, lh, hh;
  float cl[3], ch[3];
};

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

// Squared error of the counted texels, each at its nearest of `count` steps
// from a to z, and the moments of those steps.
float Error(const Texels& t, const Ends& e, int count, Moments* m) {
  const float lr = e.v[3] - e.v[0], lg = e.v[4] - e.v[1], lb = e.v[5] - e.v[2];
  const float len2 = lr * lr + lg * lg + lb * lb;
  const float last = static_cast<float>(count - 1);
  const float k = len2 > 0.0f ? last / len2 : 0.0f;
  const __m128 ar = _mm_set1_ps(e.v[0]), ag = _mm_set1_ps(e.v[1]), ab = _mm_set1_ps(e.v[2]);
  const __m128 vr = _mm_set1_ps(lr), vg = _mm_set1_ps(lg), vb = _mm_set1_ps(lb);
  const __m128 dr = _mm_set1_ps(lr * k), dg = _mm_set1_ps(lg * k), db = _mm_set1_ps(lb * k);
  const __m128 top = _mm_set1_ps(last), half = _mm_set1_ps(0.5f), step = _mm_set1_ps(1.0f / last);
  const __m128 one = _mm_set1_ps(1.0f);
  __m128 sum = _mm_setzero_ps(), ll = sum, lh = sum, hh = sum, cl[3] = {sum, sum, sum}, ch[3] = {sum, sum, sum};
  for (int i = 0; i < 16; i += 4) {
    const __m128 r = _mm_load_ps(t.r + i), g = _mm_load_ps(t.g + i), b = _mm_load_ps(t.b + i);
    const __m128 w = _mm_load_ps(t.w + i);
    const __m128 cr = _mm_sub_ps(r, ar), cg = _mm_sub_ps(g, ag), cb = _mm_sub_ps(b, ab);
    __m128 p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(cr, dr), _mm_mul_ps(cg, dg)), _mm_mul_ps(cb, db));
    p = _mm_min_ps(_mm_max_ps(p, _mm_setzero_ps()), top);
    const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(p, half))), step);
    const __m128 er = _mm_sub_ps(_mm_mul_ps(vr, f), cr);
    const __m128 eg = _mm_sub_ps(_mm_mul_ps(vg, f), cg);
    const __m128 eb = _mm_sub_ps(_mm_mul_ps(vb, f), cb);
    const __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(er, er), _mm_mul_ps(eg, eg)), _mm_mul_ps(eb, eb));
    sum = _mm_add_ps(sum, _mm_mul_ps(d, w));
    if (m) {
      const __m128 l = _mm_sub_ps(one, f), wl = _mm_mul_ps(w, l), wh = _mm_mul_ps(w, f);
      ll = _mm_add_ps(ll, _mm_mul_ps(wl, l));
      lh = _mm_add_ps(lh, _mm_mul_ps(wl, f));
      hh = _mm_add_ps(hh, _mm_mul_ps(wh, f));
      const __m128 c[3] = {r, g, b};
      for (int j = 0; j < 3; ++j) {
        cl[j] = _mm_add_ps(cl[j], _mm_mul_ps(wl, c[j]));
        ch[j] = _mm_add_ps(ch[j], _mm_mul_ps(wh, c[j]));
      }
    }
  }
  if (!m) return Sum(sum);
  alignas(16) float sums[12];
  _mm_store_ps(sums, Sums(sum, ll, lh, hh));
  _mm_store_ps(sums + 4, Sums(cl[0], cl[1], cl[2], ch[0]));
  _mm_store_ps(sums + 8, Sums(ch[1], ch[2], sum, sum));
  m->ll = sums[1];
  m->lh = sums[2];
  m->hh = sums[3];
  for (int j = 0; j < 3; ++j) {
    m->cl[j] = sums[4 + j];
    m->ch[j] = sums[7 + j];
  }
  return sums[0];
}

// The least-squares ends for the steps of the moments: the minimum of the sum
// of |(1 - f) a + f z - c|^2. False when the steps do not fix them.
bool LeastSquares(const Moments& m, Ends& e) {
  const float det = m.ll * m.hh - m.lh * m.lh;
  if (!(det > 1e-6f)) return false;
  for (int j = 0; j < 3; ++j) {
    e.v[j] = (m.cl[j] * m.hh - m.ch[j] * m.lh) / det;
    e.v[3 + j] = (m.ch[j] * m.ll - m.cl[j] * m.lh) / det;
  }
  return true;
}

}  // namespace

void PolishColorEndpoints(std::uint16_t& a, std::uint16_t& z, const PolishTexels& t, int count) {
  Levels best = ToLevels(a, z);
  Moments moments;
  float bestError = Error(t, ValuesOf(best), count, &moments);
  // Takes a pair (and the moments of its steps) when it lowers the error.
  auto consider = [&](const Levels& candidate) {
    Moments m;
    const float error = Error(t, ValuesOf(candidate), count, &m);
    if (!(error < bestError)) return false;
    bestError = error;
    best = candidate;
    moments = m;
    return true;
  };

  // Nearly flat blocks (ends at most a level apart) are best served by ends
  // around the mean colour whose first interpolated step lies on it: per
  // channel, for each low level near the mean, the high level that puts
  // (2 a + z) / 3 (three steps: (a + z) / 2) nearest to it.
  bool flat = true;
  for (int c = 0; c < 3; ++c) flat = flat && std::abs(best.v[c] - best.v[3 + c]) <= 1;
  if (flat) {
    const float weight = moments.ll + 2.0f * moments.lh + moments.hh;  // the counted texels
    const float first = count == 4 ? 1.0f / 3.0f : 0.5f;
    Levels around = best;
    for (int c = 0; c < 3; ++c)
      AroundMean(c, (moments.cl[c] + moments.ch[c]) / weight, first, &around.v[c], &around.v[3 + c]);
    consider(around);
  }

  // The least-squares ends for the steps the texels take, at the nearest levels.
  Ends ends;
  if (LeastSquares(moments, ends)) {
    Levels fitted;
    for (int k = 0; k < 6; ++k) fitted.v[k] = NearestLevel(k, ends.v[k]);
    consider(fitted);
  }

  // Single level moves with the texels' steps held: the error then changes by
  // 2 d G + d^2 S for a move d of one end's channel, the gradient G and S from
  // the moments, G kept up to date without visiting the texels. A held step
  // is never nearer than the nearest, so each accepted move lowers the error.
  for (int round = 0; round < 2; ++round) {
    const Ends e = ValuesOf(best);
    const float ll = moments.ll, lh = moments.lh, hh = moments.hh;
    float gradient[6];
    for (int c = 0; c < 3; ++c) {
      gradient[c] = ll * e.v[c] + lh * e.v[3 + c] - moments.cl[c];
      gradient[3 + c] = lh * e.v[c] + hh * e.v[3 + c] - moments.ch[c];
    }
    Levels next = best;
    bool moved = false;
    for (int sweep = 0; sweep < 8; ++sweep) {
      bool any = false;
      for (int k = 0; k < 6; ++k) {
        const bool high = k >= 3;
        const int c = k % 3;
        for (int delta : {-1, 1}) {
          const int level = next.v[k] + delta;
          if (level < 0 || level > kTop[k]) continue;
          const float d = LevelValue(k, level) - LevelValue(k, next.v[k]);
          if (2.0f * d * gradient[k] + d * d * (high ? hh : ll) >= -1e-9f) continue;
          next.v[k] = level;
          gradient[c] += d * (high ? lh : ll);
          gradient[3 + c] += d * (high ? hh : lh);
          any = moved = true;
          break;
        }
      }
      if (!any) break;
    }
    if (!moved || !consider(next)) break;
  }
  a = Word(best, 0);
  z = Word(best, 1);
}

}  // namespace gxl::tex::detail
