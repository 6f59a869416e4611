// The colour half of the DXT encoders: texels quantised to the 5-6-5 grid,
// endpoints fitted in a space weighted by each channel's share of luma, and
// indices chosen by projection onto the line between the endpoints.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cfloat>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"

using namespace gxl::tex::detail;

namespace {

// The Rec. 709 luma coefficients over green's, and their reciprocals.
constexpr float kWeightR = 0.29703665f, kWeightG = 1.0f, kWeightB = 0.10078278f;
constexpr float kUnweightR = 3.3665881f, kUnweightG = 1.0f, kUnweightB = 9.9223299f;

// Refinement stops once the endpoints are this close (squared distance).
constexpr float kShortLine = 0.00024414062f;

struct Rgb {
  float r, g, b;
  Rgb operator+(const Rgb& o) const { return {r + o.r, g + o.g, b + o.b}; }
  Rgb operator-(const Rgb& o) const { return {r - o.r, g - o.g, b - o.b}; }
  Rgb operator*(float s) const { return {r * s, g * s, b * s}; }
};

inline float Dot(const Rgb& a, const Rgb& b) { return a.r * b.r + a.g * b.g + a.b * b.b; }
inline Rgb Weighted(const ColorF& c) { return {c.r * kWeightR, c.g * kWeightG, c.b * kWeightB}; }
inline ColorF Unweighted(const Rgb& c) { return ColorF(c.r * kUnweightR, c.g * kUnweightG, c.b * kUnweightB, 1.0f); }
inline Rgb ErrorSpace(const ColorF& c) { return {c.r * kErrorWeightR, c.g, c.b * kErrorWeightB}; }
inline Rgb ToRgb(const ColorF& c) { return {c.r, c.g, c.b}; }
inline ColorF ToColor(const Rgb& c) { return ColorF(c.r, c.g, c.b, 0.0f); }

// Palette weights of the low and high endpoint, step by step from low.
constexpr float kLow4[4] = {1.0f, 2.0f / 3.0f, 1.0f / 3.0f, 0.0f};
constexpr float kHigh4[4] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f};
constexpr float kLow3[3] = {1.0f, 0.5f, 0.0f};
constexpr float kHigh3[3] = {0.0f, 0.5f, 1.0f};

// The step of a projection t along a line of `count` steps (0 to count - 1).
inline int StepOf(float t, int count) {
  if (!(t > 0.0f)) return 0;
  if (t >= static_cast<float>(count - 1)) return count - 1;
  return Trunc(t + 0.5f);
}

void FitEndpoints(Rgb& lo, Rgb& hi, const Rgb* colours, int count, bool refine = true) {
  // The box's main diagonal may run against the colours' trend in green or
  // blue: take the diagonal along which the colours spread most.
  const Rgb span = hi - lo;
  const float length2 = Dot(span, span);
  if (length2 < FLT_MIN) return;
  const Rgb middle = (hi + lo) * 0.5f;
  float spread[4] = {};
  for (int i = 0; i < 16; ++i) {
    const Rgb d = colours[i] - middle;
    const float pr = d.r * span.r / length2, pg = d.g * span.g / length2, pb = d.b * span.b / length2;
    spread[0] += (pr + pg + pb) * (pr + pg + pb);
    spread[1] += (pr + pg - pb) * (pr + pg - pb);
    spread[2] += (pr - pg + pb) * (pr - pg + pb);
    spread[3] += (pr - pg - pb) * (pr - pg - pb);
  }
  int best = 0;
  for (int k = 1; k < 4; ++k)
    if (spread[k] > spread[best]) best = k;
  // The sign in front of pb is blue's, the one in front of pg green's.
  if (best & 1) std::swap(lo.b, hi.b);
  if (best & 2) std::swap(lo.g, hi.g);
  if (length2 < kShortLine || !refine) return;

  // Each round moves either end by the least-squares step for the texels
  // nearest its palette entries.
  const float* wlo = count == 4 ? kLow4 : kLow3;
  const float* whi = count == 4 ? kHigh4 : kHigh3;
  const float last = static_cast<float>(count - 1);
  for (int round = 0; round < 8; ++round) {
    const Rgb line = hi - lo;
    const float len2 = Dot(line, line);
    if (len2 < kShortLine) break;
    Rgb palette[4];
    for (int j = 0; j < count; ++j) palette[j] = lo * wlo[j] + hi * whi[j];
    const Rgb direction = line * (last / len2);
    Rgb glo{0, 0, 0}, ghi{0, 0, 0};
    float slo = 0, shi = 0;
    for (int i = 0; i < 16; ++i) {
      const int j = StepOf(Dot(colours[i] - lo, direction), count);
      const Rgb e = palette[j] - colours[i];
      const float kl = wlo[j] * 0.125f, kh = whi[j] * 0.125f;
      glo = glo + e * kl;
      slo += kl * wlo[j];
      ghi = ghi + e * kh;
      shi += kh * whi[j];
    }
    if (slo > 0.0f) lo = lo - glo * (1.0f / slo);
    if (shi > 0.0f) hi = hi - ghi * (1.0f / shi);
    constexpr float kSettled = 1.5258789e-05f;
    if (glo.r * glo.r < kSettled && glo.g * glo.g < kSettled && glo.b * glo.b < kSettled &&
        ghi.r * ghi.r < kSettled && ghi.g * ghi.g < kSettled && ghi.b * ghi.b < kSettled)
      break;
  }
}

void BoundingBox(Rgb& lo, Rgb& hi, const Rgb* colours) {
  lo = {kWeightR, kWeightG, kWeightB};
  hi = {0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    lo = {std::min(lo.r, colours[i].r), std::min(lo.g, colours[i].g), std::min(lo.b, colours[i].b)};
    hi = {std::max(hi.r, colours[i].r), std::max(hi.g, colours[i].g), std::max(hi.b, colours[i].b)};
  }
}

// A four-colour block of one endpoint: colour0 = colour1 and indices 0.
void StoreOneColour(std::uint8_t* b, std::uint16_t colour) {
  Store16(b, colour);
  Store16(b + 2, colour);
  Store32(b + 4, 0);
}

// --- The encoder without diffusion, four texels a register -----------------

__m128 Min4(__m128 v) {
  v = _mm_min_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm_min_ss(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
}
__m128 Max4(__m128 v) {
  v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm_max_ss(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
}
float Add4(__m128 v) {
  alignas(16) float parts[4];
  _mm_store_ps(parts, v);
  return (parts[0] + parts[1]) + (parts[2] + parts[3]);
}

// The bounding box of a weighted plane: low from the channel's weight down,
// high from 0 up, as BoundingBox takes them.
void PlaneBox(const float* plane, float weight, float* lo, float* hi) {
  __m128 mn = _mm_set1_ps(weight), mx = _mm_setzero_ps();
  for (int i = 0; i < 16; i += 4) {
    const __m128 v = _mm_mul_ps(_mm_load_ps(plane + i), _mm_set1_ps(weight));
    mn = _mm_min_ps(mn, v);
    mx = _mm_max_ps(mx, v);
  }
  *lo = _mm_cvtss_f32(Min4(mn));
  *hi = _mm_cvtss_f32(Max4(mx));
}

// FitEndpoints without refinement on the weighted planes: the box diagonal
// along which the colours spread most.
void PickDiagonal(Rgb& lo, Rgb& hi, const BlockPlanes& t) {
  const Rgb span = hi - lo;
  const float length2 = Dot(span, span);
  if (length2 < FLT_MIN) return;
  const Rgb middle = (hi + lo) * 0.5f;
  const __m128 wr = _mm_set1_ps(kWeightR), wg = _mm_set1_ps(kWeightG), wb = _mm_set1_ps(kWeightB);
  const __m128 mr = _mm_set1_ps(middle.r), mg = _mm_set1_ps(middle.g), mb = _mm_set1_ps(middle.b);
  const __m128 sr = _mm_set1_ps(span.r), sg = _mm_set1_ps(span.g), sb = _mm_set1_ps(span.b);
  const __m128 len = _mm_set1_ps(length2);
  __m128 spread[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
  for (int i = 0; i < 16; i += 4) {
    const __m128 pr = _mm_div_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_load_ps(t.r + i), wr), mr), sr), len);
    const __m128 pg = _mm_div_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_load_ps(t.g + i), wg), mg), sg), len);
    const __m128 pb = _mm_div_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_load_ps(t.b + i), wb), mb), sb), len);
    const __m128 plus = _mm_add_ps(pr, pg), minus = _mm_sub_ps(pr, pg);
    const __m128 d[4] = {_mm_add_ps(plus, pb), _mm_sub_ps(plus, pb), _mm_add_ps(minus, pb), _mm_sub_ps(minus, pb)};
    for (int k = 0; k < 4; ++k) spread[k] = _mm_add_ps(spread[k], _mm_mul_ps(d[k], d[k]));
  }
  int best = 0;
  float most = Add4(spread[0]);
  for (int k = 1; k < 4; ++k) {
    const float v = Add4(spread[k]);
    if (v > most) {
      most = v;
      best = k;
    }
  }
  if (best & 1) std::swap(lo.b, hi.b);
  if (best & 2) std::swap(lo.g, hi.g);
}

// The colour block of texels that are not all of one colour, without
// diffusion: the box's best diagonal on the 5-6-5 grid polished against the
// texels, which then choose their indices.
void EncodePolished(std::uint8_t* b, const BlockPlanes& t, std::uint32_t countedBits, int count) {
  Rgb lo, hi;
  PlaneBox(t.r, kWeightR, &lo.r, &hi.r);
  PlaneBox(t.g, kWeightG, &lo.g, &hi.g);
  PlaneBox(t.b, kWeightB, &lo.b, &hi.b);
  PickDiagonal(lo, hi, t);
  std::uint16_t a = FloatToRgb565(Unweighted(lo));
  std::uint16_t z = FloatToRgb565(Unweighted(hi));

  PolishTexels exact;
  const __m128 er = _mm_set1_ps(kErrorWeightR), eb = _mm_set1_ps(kErrorWeightB);
  for (int i = 0; i < 16; i += 4) {
    _mm_store_ps(exact.r + i, _mm_mul_ps(_mm_load_ps(t.r + i), er));
    _mm_store_ps(exact.g + i, _mm_load_ps(t.g + i));
    _mm_store_ps(exact.b + i, _mm_mul_ps(_mm_load_ps(t.b + i), eb));
  }
  for (int i = 0; i < 16; ++i) exact.w[i] = (countedBits >> i) & 1 ? 1.0f : 0.0f;
  PolishColorEndpoints(a, z, exact, count);
  if (count == 4 && a == z) {
    StoreOneColour(b, a);
    return;
  }

  // Four colours need colour0 > colour1, three colour0 <= colour1.
  const Rgb A = ErrorSpace(Rgb565ToFloat(a)), Z = ErrorSpace(Rgb565ToFloat(z));
  const bool keep = (count == 3) == (a <= z);
  Store16(b, keep ? a : z);
  Store16(b + 2, keep ? z : a);
  const Rgb p0 = keep ? A : Z, line = (keep ? Z : A) - p0;
  const Rgb direction = a == z ? Rgb{0, 0, 0} : line * (static_cast<float>(count - 1) / Dot(line, line));
  const __m128 pr = _mm_set1_ps(p0.r), pg = _mm_set1_ps(p0.g), pb = _mm_set1_ps(p0.b);
  const __m128 dr = _mm_set1_ps(direction.r), dg = _mm_set1_ps(direction.g), db = _mm_set1_ps(direction.b);
  const __m128 top = _mm_set1_ps(static_cast<float>(count - 1)), half = _mm_set1_ps(0.5f);
  alignas(16) std::int32_t steps[16];
  for (int i = 0; i < 16; i += 4) {
    const __m128 cr = _mm_sub_ps(_mm_load_ps(exact.r + i), pr), cg = _mm_sub_ps(_mm_load_ps(exact.g + i), pg);
    const __m128 cb = _mm_sub_ps(_mm_load_ps(exact.b + i), pb);
    const __m128 p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(cr, dr), _mm_mul_ps(cg, dg)), _mm_mul_ps(cb, db));
    // StepOf: 0 up to 0 (and for NaN), the last step from count - 1 on (the
    // clamp gives it), else rounded.
    const __m128 inside = _mm_min_ps(_mm_max_ps(p, _mm_setzero_ps()), top);
    const __m128i step = _mm_cvttps_epi32(_mm_add_ps(inside, half));
    _mm_store_si128(reinterpret_cast<__m128i*>(steps + i),
                    _mm_and_si128(_mm_castps_si128(_mm_cmpgt_ps(p, _mm_setzero_ps())), step));
  }
  static const int kMap4[4] = {0, 2, 3, 1};
  static const int kMap3[3] = {0, 2, 1};
  const int* map = count == 4 ? kMap4 : kMap3;
  std::uint32_t indices = 0;
  for (int i = 16; i-- > 0;) indices = indices << 2 | static_cast<std::uint32_t>((countedBits >> i) & 1 ? map[steps[i]] : 3);
  Store32(b + 4, indices);
}

}  // namespace

void OptimizeColorEndpoints(ColorF* low, ColorF* high, const ColorF* colours, int count) {
  Rgb c[16];
  for (int i = 0; i < 16; ++i) c[i] = ToRgb(colours[i]);
  Rgb lo, hi;
  BoundingBox(lo, hi, c);
  FitEndpoints(lo, hi, c, count);
  *low = ToColor(lo);
  *high = ToColor(hi);
}

void EncodeColorBlock(void* block, const ColorF* texels, DxtAlphaMode mode, bool diffuse) {
  auto* b = static_cast<std::uint8_t*>(block);
  if (!diffuse) {
    BlockPlanes t;
    ToPlanes(texels, t);
    std::uint32_t opaque = 0xFFFF, same = 0xFFFF;
    const __m128 r0 = _mm_set1_ps(texels[0].r), g0 = _mm_set1_ps(texels[0].g), b0 = _mm_set1_ps(texels[0].b);
    for (int i = 0; i < 16; i += 4) {
      // Alpha at least 0.5 (NaN too, as the scalar test takes it).
      const __m128 below = _mm_cmplt_ps(_mm_load_ps(t.a + i), _mm_set1_ps(0.5f));
      opaque &= ~static_cast<std::uint32_t>(_mm_movemask_ps(below)) << i | ~(15u << i);
      const __m128 eq = _mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(_mm_load_ps(t.r + i), r0), _mm_cmpeq_ps(_mm_load_ps(t.g + i), g0)),
                                   _mm_cmpeq_ps(_mm_load_ps(t.b + i), b0));
      same &= static_cast<std::uint32_t>(_mm_movemask_ps(eq)) << i | ~(15u << i);
    }
    opaque &= 0xFFFF;
    same &= 0xFFFF;
    const bool oneBit = mode == DxtAlphaMode::OneBit;
    if (oneBit && opaque == 0) {
      Store16(b, 0x0000);
      Store16(b + 2, 0xFFFF);
      Store32(b + 4, 0xFFFFFFFFu);
      return;
    }
    const int count = oneBit && opaque != 0xFFFF ? 3 : 4;
    if (same != 0xFFFF) {
      EncodePolished(b, t, count == 4 ? 0xFFFF : opaque, count);
      return;
    }
  }
  int count = 4;
  if (mode == DxtAlphaMode::OneBit) {
    int transparent = 0;
    for (int i = 0; i < 16; ++i) transparent += texels[i].a < 0.5f;
    if (transparent == 16) {
      Store16(b, 0x0000);
      Store16(b + 2, 0xFFFF);
      Store32(b + 4, 0xFFFFFFFFu);
      return;
    }
    if (transparent) count = 3;
  }

  // Without diffusion the box's diagonal is polished against the texels' own
  // colours, which then also choose the indices, in place of the refinement
  // rounds on the 5-6-5 grid. A block of one colour keeps its one endpoint.
  Rgb exact[16];
  bool counted[16], oneColour = true;
  for (int i = 0; i < 16; ++i) {
    exact[i] = ErrorSpace(texels[i]);
    counted[i] = count == 4 || texels[i].a >= 0.5f;
    oneColour = oneColour && texels[i].r == texels[0].r && texels[i].g == texels[0].g && texels[i].b == texels[0].b;
  }
  const bool polish = !diffuse && !oneColour;

  // The texels on the 5-6-5 grid (as they stand for the polish), weighted.
  Rgb colours[16];
  Rgb error[16] = {};
  for (int i = 0; i < 16 && polish; ++i) colours[i] = Weighted(texels[i]);
  for (int i = 0; i < 16 && !polish; ++i) {
    Rgb c = ToRgb(texels[i]);
    if (diffuse) c = c + error[i];
    const Rgb q{static_cast<float>(Trunc(c.r * 31.0f + 0.5f)) / 31.0f,
                static_cast<float>(Trunc(c.g * 63.0f + 0.5f)) / 63.0f,
                static_cast<float>(Trunc(c.b * 31.0f + 0.5f)) / 31.0f};
    if (diffuse) DiffuseInBlock(error, i, c - q);
    colours[i] = Weighted(ColorF(q.r, q.g, q.b, 0.0f));
  }

  Rgb lo, hi;
  BoundingBox(lo, hi, colours);
  FitEndpoints(lo, hi, colours, count, !polish);
  std::uint16_t a = FloatToRgb565(Unweighted(lo));
  std::uint16_t z = FloatToRgb565(Unweighted(hi));
  if (polish) {
    PolishTexels t;
    for (int i = 0; i < 16; ++i) {
      t.r[i] = exact[i].r;
      t.g[i] = exact[i].g;
      t.b[i] = exact[i].b;
      t.w[i] = counted[i] ? 1.0f : 0.0f;
    }
    PolishColorEndpoints(a, z, t, count);
  }
  if (count == 4 && a == z) {
    StoreOneColour(b, a);
    return;
  }

  // Four colours need colour0 > colour1, three colour0 <= colour1.
  const Rgb A = diffuse ? Weighted(Rgb565ToFloat(a)) : ErrorSpace(Rgb565ToFloat(a));
  const Rgb Z = diffuse ? Weighted(Rgb565ToFloat(z)) : ErrorSpace(Rgb565ToFloat(z));
  const bool keep = (count == 3) == (a <= z);
  Store16(b, keep ? a : z);
  Store16(b + 2, keep ? z : a);
  Rgb palette[4];
  palette[0] = keep ? A : Z;
  palette[1] = keep ? Z : A;
  const Rgb line = palette[1] - palette[0];
  if (count == 3) {
    palette[2] = palette[0] + line * 0.5f;
  } else {
    palette[2] = palette[0] + line * 0.33333334f;
    palette[3] = palette[0] + line * 0.6666667f;
  }
  const float len2 = Dot(line, line);
  const Rgb direction = a == z ? Rgb{0, 0, 0} : line * (static_cast<float>(count - 1) / len2);

  static const int kMap4[4] = {0, 2, 3, 1};
  static const int kMap3[3] = {0, 2, 1};
  const int* map = count == 4 ? kMap4 : kMap3;
  std::fill(error, error + 16, Rgb{0, 0, 0});
  std::uint32_t indices = 0;
  for (int i = 0; i < 16; ++i) {
    int index = 3;  // transparent black
    if (counted[i]) {
      Rgb c = diffuse ? colours[i] + error[i] : exact[i];
      index = map[StepOf(Dot(c - palette[0], direction), count)];
      if (diffuse) DiffuseInBlock(error, i, c - palette[index]);
    }
    indices = indices >> 2 | static_cast<std::uint32_t>(index) << 30;
  }
  Store32(b + 4, indices);
}

void gxl::tex::detail::ToPlanes(const ColorF* texels, BlockPlanes& planes) {
  for (int i = 0; i < 16; i += 4) {
    __m128 r = _mm_loadu_ps(&texels[i].r), g = _mm_loadu_ps(&texels[i + 1].r);
    __m128 b = _mm_loadu_ps(&texels[i + 2].r), a = _mm_loadu_ps(&texels[i + 3].r);
    _MM_TRANSPOSE4_PS(r, g, b, a);
    _mm_store_ps(planes.r + i, r);
    _mm_store_ps(planes.g + i, g);
    _mm_store_ps(planes.b + i, b);
    _mm_store_ps(planes.a + i, a);
  }
}
