// The colour half of the DXT encoders: texels quantised to the 5-6-5 grid,
// endpoints fitted in a space weighted by each channel's share of luma, and
// indices chosen by projection onto the line between the endpoints.
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
  if (polish) PolishColorEndpoints(a, z, texels, counted, count);
  if (count == 4 && a == z) {
    Store16(b, a);
    Store16(b + 2, a);
    Store32(b + 4, 0);
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
