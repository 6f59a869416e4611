// The last step of the colour encoder without diffusion: the endpoint pair
// that the fit on the 5-6-5 grid found is improved against the texels' own
// colours. Least-squares endpoints for the steps the texels take, rounded to
// the grid, then single level moves of either end in the direction the error
// falls. Every error is summed over the 16 texels four at a time.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"

namespace gxl::tex::detail {
namespace {

// The texels in the error space, channel by channel; w is 1 for a counted
// texel and 0 for one left out.
struct Texels {
  alignas(16) float r[16];
  alignas(16) float g[16];
  alignas(16) float b[16];
  alignas(16) float w[16];
};

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

float LevelValue(int k, int level) {
  return k % 3 == 0 ? kLevelValues.r[level] : k % 3 == 1 ? kLevelValues.g[level] : kLevelValues.b[level];
}
// The nearest level of a value in the error space (clamped to the grid).
int NearestLevel(int k, float value) {
  const float scale = k % 3 == 0 ? kErrorWeightR : k % 3 == 2 ? kErrorWeightB : 1.0f;
  const float unit = value / scale;
  const float clamped = unit > 0.0f ? (unit < 1.0f ? unit : 1.0f) : 0.0f;
  return static_cast<int>(clamped * static_cast<float>(kTop[k]) + 0.5f);
}

struct Ends {
  float v[6];  // a.r, a.g, a.b, z.r, z.g, z.b
};
Ends ValuesOf(const Levels& l) {
  Ends e;
  for (int k = 0; k < 6; ++k) e.v[k] = LevelValue(k, l.v[k]);
  return e;
}

// Squared error of the counted texels, each at its nearest of `count` steps
// from a to z; the steps' fractions (0 at a, 1 at z) go to `at` when asked.
float Error(const Texels& t, const Ends& e, int count, float* at) {
  const float lr = e.v[3] - e.v[0], lg = e.v[4] - e.v[1], lb = e.v[5] - e.v[2];
  const float len2 = lr * lr + lg * lg + lb * lb;
  const float last = static_cast<float>(count - 1);
  const float k = len2 > 0.0f ? last / len2 : 0.0f;
  const __m128 ar = _mm_set1_ps(e.v[0]), ag = _mm_set1_ps(e.v[1]), ab = _mm_set1_ps(e.v[2]);
  const __m128 vr = _mm_set1_ps(lr), vg = _mm_set1_ps(lg), vb = _mm_set1_ps(lb);
  const __m128 dr = _mm_set1_ps(lr * k), dg = _mm_set1_ps(lg * k), db = _mm_set1_ps(lb * k);
  const __m128 top = _mm_set1_ps(last), half = _mm_set1_ps(0.5f), step = _mm_set1_ps(1.0f / last);
  __m128 sum = _mm_setzero_ps();
  for (int i = 0; i < 16; i += 4) {
    const __m128 cr = _mm_sub_ps(_mm_load_ps(t.r + i), ar);
    const __m128 cg = _mm_sub_ps(_mm_load_ps(t.g + i), ag);
    const __m128 cb = _mm_sub_ps(_mm_load_ps(t.b + i), ab);
    __m128 p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(cr, dr), _mm_mul_ps(cg, dg)), _mm_mul_ps(cb, db));
    p = _mm_min_ps(_mm_max_ps(p, _mm_setzero_ps()), top);
    const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(p, half))), step);
    if (at) _mm_storeu_ps(at + i, f);
    const __m128 er = _mm_sub_ps(_mm_mul_ps(vr, f), cr);
    const __m128 eg = _mm_sub_ps(_mm_mul_ps(vg, f), cg);
    const __m128 eb = _mm_sub_ps(_mm_mul_ps(vb, f), cb);
    const __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(er, er), _mm_mul_ps(eg, eg)), _mm_mul_ps(eb, eb));
    sum = _mm_add_ps(sum, _mm_mul_ps(d, _mm_load_ps(t.w + i)));
  }
  alignas(16) float parts[4];
  _mm_store_ps(parts, sum);
  return (parts[0] + parts[1]) + (parts[2] + parts[3]);
}

// The least-squares ends for the texels at fractions `at`: the minimum of the
// sum of |(1 - f) a + f z - c|^2. False when the fractions do not fix them.
bool LeastSquares(const Texels& t, const float* at, Ends& e) {
  float ll = 0, lh = 0, hh = 0, cl[3] = {}, ch[3] = {};
  for (int i = 0; i < 16; ++i) {
    const float h = at[i] * t.w[i], l = (1.0f - at[i]) * t.w[i];
    ll += l * (1.0f - at[i]);
    lh += l * at[i];
    hh += h * at[i];
    const float c[3] = {t.r[i], t.g[i], t.b[i]};
    for (int j = 0; j < 3; ++j) {
      cl[j] += c[j] * l;
      ch[j] += c[j] * h;
    }
  }
  const float det = ll * hh - lh * lh;
  if (!(det > 1e-6f)) return false;
  for (int j = 0; j < 3; ++j) {
    e.v[j] = (cl[j] * hh - ch[j] * lh) / det;
    e.v[3 + j] = (ch[j] * ll - cl[j] * lh) / det;
  }
  return true;
}

}  // namespace

void PolishColorEndpoints(std::uint16_t& a, std::uint16_t& z, const ColorF* texels, const bool* counted, int count) {
  Texels t;
  for (int i = 0; i < 16; ++i) {
    t.r[i] = texels[i].r * kErrorWeightR;
    t.g[i] = texels[i].g;
    t.b[i] = texels[i].b * kErrorWeightB;
    t.w[i] = counted[i] ? 1.0f : 0.0f;
  }
  Levels best = ToLevels(a, z);
  float at[16];
  float bestError = Error(t, ValuesOf(best), count, at);

  // Nearly flat blocks are best served by ends around the mean colour whose
  // first interpolated step lies on it: per channel the pair of levels near
  // the mean with (2 a + z) / 3 (three steps: (a + z) / 2) nearest to it.
  float mean[3] = {}, weight = 0;
  for (int i = 0; i < 16; ++i) {
    mean[0] += t.r[i] * t.w[i];
    mean[1] += t.g[i] * t.w[i];
    mean[2] += t.b[i] * t.w[i];
    weight += t.w[i];
  }
  const float first = count == 4 ? 1.0f / 3.0f : 0.5f;
  Levels around;
  for (int c = 0; c < 3; ++c) {
    const float m = mean[c] / weight;
    const int centre = NearestLevel(c, m);
    float nearest = -1.0f;
    for (int l0 = centre - 2; l0 <= centre + 2; ++l0)
      for (int l1 = centre - 2; l1 <= centre + 2; ++l1) {
        if (l0 < 0 || l1 < 0 || l0 > kTop[c] || l1 > kTop[c]) continue;
        const float v = LevelValue(c, l0) + (LevelValue(c, l1) - LevelValue(c, l0)) * first;
        if (nearest >= 0.0f && std::fabs(v - m) >= nearest) continue;
        nearest = std::fabs(v - m);
        around.v[c] = l0;
        around.v[3 + c] = l1;
      }
  }
  float aroundAt[16];
  const float aroundError = Error(t, ValuesOf(around), count, aroundAt);
  if (aroundError < bestError) {
    bestError = aroundError;
    best = around;
    std::copy(aroundAt, aroundAt + 16, at);
  }

  // Two rounds of least squares from the best pair so far, then the nearest levels.
  float startAt[16];
  std::copy(at, at + 16, startAt);
  Ends ends = ValuesOf(best);
  for (int round = 0; round < 2 && LeastSquares(t, at, ends); ++round) Error(t, ends, count, at);
  Levels fitted;
  for (int k = 0; k < 6; ++k) fitted.v[k] = NearestLevel(k, ends.v[k]);
  const float fittedError = Error(t, ValuesOf(fitted), count, at);
  if (fittedError < bestError) {
    bestError = fittedError;
    best = fitted;
  } else {
    std::copy(startAt, startAt + 16, at);
  }

  // Single level moves with the texels' steps held: the error then changes by
  // 2 d G + d^2 S for a move d of one end's channel, G and S sums over the
  // texels kept up to date without visiting them. A held step is never
  // nearer than the nearest, so each accepted move lowers the error too.
  for (int round = 0; round < 2; ++round) {
    const Ends e = ValuesOf(best);
    float gradient[6] = {}, ll = 0, lh = 0, hh = 0;
    for (int i = 0; i < 16; ++i) {
      const float f = at[i], w = t.w[i], c[3] = {t.r[i], t.g[i], t.b[i]};
      ll += w * (1.0f - f) * (1.0f - f);
      lh += w * (1.0f - f) * f;
      hh += w * f * f;
      for (int j = 0; j < 3; ++j) {
        const float residual = ((1.0f - f) * e.v[j] + f * e.v[3 + j] - c[j]) * w;
        gradient[j] += residual * (1.0f - f);
        gradient[3 + j] += residual * f;
      }
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
    if (!moved) break;
    float nextAt[16];
    const float error = Error(t, ValuesOf(next), count, nextAt);
    if (!(error < bestError)) break;
    bestError = error;
    best = next;
    std::copy(nextAt, nextAt + 16, at);
  }
  a = Word(best, 0);
  z = Word(best, 1);
}

}  // namespace gxl::tex::detail
