// The DXT block decoders, the alpha halves of the encoders (explicit 4-bit
// alpha of DXT2/DXT3, interpolated alpha of DXT4/DXT5) and the premultiplied
// formats. The colour half is in dxt_color_block.cpp.
#include <emmintrin.h>

#include <algorithm>
#include <cfloat>

#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"

using namespace gxl::tex::detail;

ColorF LerpFloat4(const ColorF& a, const ColorF& b, float t) {
  return ColorF(a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t);
}

ColorF Rgb565ToFloat(std::uint16_t value) {
  return ColorF(static_cast<float>(value >> 11) / 31.0f, static_cast<float>((value >> 5) & 63) / 63.0f,
                static_cast<float>(value & 31) / 31.0f, 1.0f);
}

std::uint16_t FloatToRgb565(const ColorF& texel) {
  auto level = [](float c, float top) {
    const float unit = c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f;
    return static_cast<std::uint32_t>(unit * top + 0.5f);
  };
  return static_cast<std::uint16_t>(level(texel.r, 31.0f) << 11 | level(texel.g, 63.0f) << 5 |
                                    level(texel.b, 31.0f));
}

void PremultiplyBlock(const ColorF* in, ColorF* out) {
  for (int i = 0; i < 16; ++i) out[i] = ColorF(in[i].r * in[i].a, in[i].g * in[i].a, in[i].b * in[i].a, in[i].a);
}

void UnpremultiplyBlock(ColorF* texels) {
  for (int i = 0; i < 16; ++i) {
    ColorF& t = texels[i];
    if (t.a <= 0.0f) {
      t.r = t.g = t.b = 0.0f;
    } else if (t.a < 1.0f) {
      const float inverse = 1.0f / t.a;
      t.r = t.r >= t.a ? 1.0f : t.r * inverse;
      t.g = t.g >= t.a ? 1.0f : t.g * inverse;
      t.b = t.b >= t.a ? 1.0f : t.b * inverse;
    }
  }
}

namespace {

// The alphas of indices 0 to 7 of a block whose ends are a0 and a1: six steps
// between them, or four and then 0 and 1.
void AlphaPalette(float palette[8], float a0, float a1, bool eightSteps) {
  palette[0] = a0;
  palette[1] = a1;
  if (eightSteps) {
    for (int j = 1; j <= 6; ++j)
      palette[j + 1] = (static_cast<float>(j) * a1 + static_cast<float>(7 - j) * a0) * 0.14285715f;
  } else {
    for (int j = 1; j <= 4; ++j)
      palette[j + 1] = (static_cast<float>(j) * a1 + static_cast<float>(5 - j) * a0) * 0.2f;
    palette[6] = 0.0f;
    palette[7] = 1.0f;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoding

namespace {

// The colour half of every block. DXT1 has the three-colour mode with
// transparent black when colour0 <= colour1; the colour blocks of DXT2 to
// DXT5 always interpolate four colours, whatever the endpoint order.
void DecodeColorBlock(ColorF* texels, const std::uint8_t* b, bool dxt1) {
  const std::uint16_t c0 = Load16(b);
  const std::uint16_t c1 = Load16(b + 2);
  ColorF palette[4];
  palette[0] = Rgb565ToFloat(c0);
  palette[1] = Rgb565ToFloat(c1);
  if (c0 > c1 || !dxt1) {
    palette[2] = LerpFloat4(palette[0], palette[1], 0.33333334f);
    palette[3] = LerpFloat4(palette[0], palette[1], 0.6666667f);
  } else {
    palette[2] = LerpFloat4(palette[0], palette[1], 0.5f);
    palette[3] = ColorF(0, 0, 0, 0);
  }
  const std::uint32_t indices = Load32(b + 4);
  for (int i = 0; i < 16; ++i) texels[i] = palette[(indices >> (2 * i)) & 3];
}

}  // namespace

HRESULT DecodeDxt1Block(ColorF* texels, const void* block) {
  DecodeColorBlock(texels, static_cast<const std::uint8_t*>(block), true);
  return S_OK;
}

HRESULT DecodeDxt3Block(ColorF* texels, const void* block) {
  const auto* b = static_cast<const std::uint8_t*>(block);
  DecodeColorBlock(texels, b + 8, false);
  std::uint64_t alphas;
  std::memcpy(&alphas, b, 8);
  for (int i = 0; i < 16; ++i) texels[i].a = static_cast<float>((alphas >> (4 * i)) & 15) * 0.06666667f;
  return S_OK;
}

HRESULT DecodeDxt5Block(ColorF* texels, const void* block) {
  const auto* b = static_cast<const std::uint8_t*>(block);
  DecodeColorBlock(texels, b + 8, false);
  float palette[8];
  AlphaPalette(palette, static_cast<float>(b[0]) * 0.003921569f, static_cast<float>(b[1]) * 0.003921569f,
               b[0] > b[1]);
  std::uint64_t indices = 0;
  std::memcpy(&indices, b + 2, 6);
  for (int i = 0; i < 16; ++i) texels[i].a = palette[(indices >> (3 * i)) & 7];
  return S_OK;
}

HRESULT DecodeDxt2Block(ColorF* texels, const void* block) {
  DecodeDxt3Block(texels, block);
  UnpremultiplyBlock(texels);
  return S_OK;
}

HRESULT DecodeDxt4Block(ColorF* texels, const void* block) {
  DecodeDxt5Block(texels, block);
  UnpremultiplyBlock(texels);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Encoding

HRESULT EncodeDxt1Block(void* block, const ColorF* texels, bool diffuse) {
  if (!diffuse) {
    EncodeColorBlock(block, texels, DxtAlphaMode::OneBit, false);
    return S_OK;
  }
  // Alpha becomes 0 or 1 first, its error diffused, so that the share of
  // transparent texels follows the alpha.
  ColorF binary[16];
  float error[16] = {};
  for (int i = 0; i < 16; ++i) {
    binary[i] = texels[i];
    const float v = texels[i].a + error[i];
    const float q = static_cast<float>(Trunc(v + 0.5f));
    binary[i].a = q;
    DiffuseInBlock(error, i, v - q);
  }
  EncodeColorBlock(block, binary, DxtAlphaMode::OneBit, true);
  return S_OK;
}

HRESULT EncodeDxt3Block(void* block, const ColorF* texels, bool diffuse) {
  auto* b = static_cast<std::uint8_t*>(block);
  std::uint32_t words[2] = {0, 0};
  float error[16] = {};
  for (int i = 0; i < 16; ++i) {
    const float v = texels[i].a + error[i];
    const std::int32_t q = Trunc(v * 15.0f + 0.5f);
    // Values outside [0, 1] would not fit the nibble; as in the other codecs,
    // the error is that of rounding alone, so saturation does not spread.
    words[i / 8] = words[i / 8] >> 4 | static_cast<std::uint32_t>(std::clamp(q, 0, 15)) << 28;
    if (diffuse) DiffuseInBlock(error, i, v - static_cast<float>(q) * 0.06666667f);
  }
  Store32(b, words[0]);
  Store32(b + 4, words[1]);
  EncodeColorBlock(b + 8, texels, DxtAlphaMode::Opaque, diffuse);
  return S_OK;
}

void OptimizeAlphaEndpoints(float* low, float* high, const float* alphas, int steps) {
  const bool six = steps == 6;
  float lo = FLT_MAX, hi = -FLT_MAX;
  if (!six) {
    for (int i = 0; i < 16; ++i) {
      lo = std::min(lo, alphas[i]);
      hi = std::max(hi, alphas[i]);
    }
  } else {
    // 0 and 1 have steps of their own: fit only what lies between.
    for (int i = 0; i < 16; ++i) {
      if (alphas[i] > 0.0f) lo = std::min(lo, alphas[i]);
      if (alphas[i] < 1.0f) hi = std::max(hi, alphas[i]);
    }
    if (lo == FLT_MAX) lo = 1.0f;
    if (hi == -FLT_MAX) hi = 0.0f;
    if (lo == hi) hi = 1.0f;
  }

  const float last = static_cast<float>(steps - 1);
  for (int round = 0; round < 8 && hi - lo >= 0.00390625f; ++round) {
    const float scale = last / (hi - lo);
    float palette[8], wlo[8], whi[8];
    for (int j = 0; j < steps; ++j) {
      whi[j] = static_cast<float>(j) / last;
      wlo[j] = 1.0f - whi[j];
      palette[j] = lo * wlo[j] + hi * whi[j];
    }
    float glo = 0, ghi = 0, slo = 0, shi = 0;
    for (int i = 0; i < 16; ++i) {
      const float a = alphas[i];
      const float t = (a - lo) * scale;
      int j;
      if (t > 0.0f && t < last) {
        j = Trunc(t + 0.5f);
      } else if (t >= last) {
        if (six && a >= (hi + 1.0f) * 0.5f) continue;  // nearer the step 1
        j = steps - 1;
      } else {
        if (six && a <= lo * 0.5f) continue;  // nearer the step 0
        j = 0;
      }
      const float e = palette[j] - a;
      glo += e * wlo[j];
      slo += wlo[j] * wlo[j];
      ghi += e * whi[j];
      shi += whi[j] * whi[j];
    }
    if (slo > 0.0f) lo -= glo / slo;
    if (shi > 0.0f) hi -= ghi / shi;
    if (hi < lo) std::swap(lo, hi);
    if (glo * glo < 0.015625f && ghi * ghi < 0.015625f) break;
  }
  lo = std::clamp(lo, 0.0f, 1.0f);
  hi = std::clamp(hi, 0.0f, 1.0f);
  // Without alphas strictly between 0 and 1 the six-step search starts from
  // lo 1, hi 0; stored in that order the block would decode as eight steps.
  if (hi < lo) std::swap(lo, hi);
  *low = lo;
  *high = hi;
}

namespace {

// The index the encoder gives alpha v in a palette of `steps` steps whose ends
// are palette[0] and palette[1]: by projection onto the steps between them,
// and, with six steps, the extra 0 or 1 where v is nearer to it.
int AlphaIndex(float v, const float* palette, int steps, float scale) {
  static const int kEight[8] = {0, 2, 3, 4, 5, 6, 7, 1};
  static const int kSix[6] = {0, 2, 3, 4, 5, 1};
  const float last = static_cast<float>(steps - 1);
  const float t = (v - palette[0]) * scale;
  if (t > 0.0f && t < last) return (steps == 8 ? kEight : kSix)[Trunc(t + 0.5f)];
  if (t >= last) return steps == 6 && v >= (palette[1] + 1.0f) * 0.5f ? 7 : 1;
  return steps == 6 && v <= palette[0] * 0.5f ? 6 : 0;
}

// The palette of the ends as stored (alpha0, alpha1) and its projection scale.
float StoredAlphaPalette(float palette[8], int alpha0, int alpha1, int steps) {
  AlphaPalette(palette, static_cast<float>(alpha0) / 255.0f, static_cast<float>(alpha1) / 255.0f, steps == 8);
  return palette[0] == palette[1] ? 0.0f : static_cast<float>(steps - 1) / (palette[1] - palette[0]);
}

// AlphaIndex of 16 alphas, four at a time: the step by projection (the
// clamp gives the ends), then the extra 0 and 1 of six steps.
void AlphaIndices(const float* alphas, const float* palette, int steps, float scale, int indices[16]) {
  static const int kEight[8] = {0, 2, 3, 4, 5, 6, 7, 1};
  static const int kSix[6] = {0, 2, 3, 4, 5, 1};
  const int* map = steps == 8 ? kEight : kSix;
  const __m128 p0 = _mm_set1_ps(palette[0]), sc = _mm_set1_ps(scale), zero = _mm_setzero_ps();
  const __m128 last = _mm_set1_ps(static_cast<float>(steps - 1)), half = _mm_set1_ps(0.5f);
  const bool six = steps == 6;
  const __m128 towardOne = _mm_set1_ps((palette[1] + 1.0f) * 0.5f), towardZero = _mm_set1_ps(palette[0] * 0.5f);
  for (int i = 0; i < 16; i += 4) {
    const __m128 v = _mm_loadu_ps(alphas + i);
    const __m128 t = _mm_mul_ps(_mm_sub_ps(v, p0), sc);
    alignas(16) std::int32_t step[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(step),
                    _mm_cvttps_epi32(_mm_add_ps(_mm_min_ps(_mm_max_ps(t, zero), last), half)));
    int high = 0, low = 0;
    if (six) {
      high = _mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(t, last), _mm_cmpge_ps(v, towardOne)));
      low = _mm_movemask_ps(_mm_and_ps(_mm_cmpngt_ps(t, zero), _mm_cmple_ps(v, towardZero)));
    }
    for (int k = 0; k < 4; ++k) indices[i + k] = (high >> k) & 1 ? 7 : (low >> k) & 1 ? 6 : map[step[k]];
  }
}

float AlphaError(int alpha0, int alpha1, const float* alphas, int steps) {
  float palette[8];
  const float scale = StoredAlphaPalette(palette, alpha0, alpha1, steps);
  int indices[16];
  AlphaIndices(alphas, palette, steps, scale, indices);
  float error = 0.0f;
  for (int i = 0; i < 16; ++i) {
    const float e = palette[indices[i]] - alphas[i];
    error += e * e;
  }
  return error;
}

// Single level moves of the quantised ends while they lower the error of the
// block as the encoder indexes it; the order the step count needs is kept
// (eight steps: low < high; six: low <= high).
void PolishAlphaEndpoints(std::int32_t& low, std::int32_t& high, const float* alphas, int steps) {
  const bool eight = steps == 8;
  auto error = [&](std::int32_t l, std::int32_t h) {
    return eight ? AlphaError(h, l, alphas, steps) : AlphaError(l, h, alphas, steps);
  };
  float best = error(low, high);
  for (int pass = 0; pass < 2 && best > 0.0f; ++pass) {
    bool moved = false;
    for (int k = 0; k < 4; ++k) {
      std::int32_t l = low + (k == 0 ? -1 : k == 1 ? 1 : 0), h = high + (k == 2 ? -1 : k == 3 ? 1 : 0);
      if (l < 0 || h > 255 || (eight ? l >= h : l > h)) continue;
      const float e = error(l, h);
      if (e < best) {
        best = e;
        low = l;
        high = h;
        moved = true;
      }
    }
    if (!moved) break;
  }
}

}  // namespace

HRESULT EncodeDxt5Block(void* block, const ColorF* texels, bool diffuse) {
  auto* b = static_cast<std::uint8_t*>(block);
  alignas(16) float alphas[16];
  float error[16] = {};
  float minimum = texels[0].a, maximum = texels[0].a;
  if (diffuse) {
    for (int i = 0; i < 16; ++i) {
      const float v = texels[i].a + error[i];
      alphas[i] = static_cast<float>(Trunc(v * 255.0f + 0.5f)) * 0.003921569f;
      DiffuseInBlock(error, i, v - alphas[i]);
      minimum = std::min(minimum, alphas[i]);
      maximum = std::max(maximum, alphas[i]);
    }
  } else {
    // Four at a time, Trunc's limits and all (maxps takes the limit for a NaN).
    const __m128 limit = _mm_set1_ps(1073741824.0f), low = _mm_set1_ps(-1073741824.0f);
    __m128 mn = _mm_set1_ps(FLT_MAX), mx = _mm_set1_ps(-FLT_MAX);
    for (int i = 0; i < 16; i += 4) {
      const __m128 a = _mm_setr_ps(texels[i].a, texels[i + 1].a, texels[i + 2].a, texels[i + 3].a);
      const __m128 v = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(a, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)), low), limit);
      const __m128 q = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(v)), _mm_set1_ps(0.003921569f));
      _mm_store_ps(alphas + i, q);
      mn = _mm_min_ps(mn, q);
      mx = _mm_max_ps(mx, q);
    }
    alignas(16) float lows[4], highs[4];
    _mm_store_ps(lows, mn);
    _mm_store_ps(highs, mx);
    // In texel order from texel 0's own alpha, as the loop above takes them.
    for (int k = 0; k < 4; ++k) {
      minimum = std::min(minimum, lows[k]);
      maximum = std::max(maximum, highs[k]);
    }
  }
  EncodeColorBlock(b + 8, texels, DxtAlphaMode::Opaque, diffuse);

  std::memset(b, 0, 8);
  if (minimum == 1.0f) {
    b[0] = b[1] = 0xFF;
    return S_OK;
  }
  const int steps = minimum == 0.0f || maximum == 1.0f ? 6 : 8;
  float lo, hi;
  OptimizeAlphaEndpoints(&lo, &hi, alphas, steps);
  std::int32_t ql = Trunc(lo * 255.0f + 0.5f);
  std::int32_t qh = Trunc(hi * 255.0f + 0.5f);
  const bool eight = steps == 8;
  // Without diffusion the quantised ends are polished against the block,
  // unless six steps hold its alphas exactly (only 0 and 1).
  bool partial = false;
  for (int i = 0; i < 16; ++i) partial = partial || (alphas[i] > 0.0f && alphas[i] < 1.0f);
  if (!diffuse && partial && !(eight && ql == qh)) PolishAlphaEndpoints(ql, qh, alphas, steps);
  if (eight && ql == qh) {
    b[0] = b[1] = static_cast<std::uint8_t>(ql);
    return S_OK;
  }
  // Eight steps store the larger end first, six the smaller.
  const std::int32_t alpha0 = eight ? qh : ql, alpha1 = eight ? ql : qh;
  b[0] = static_cast<std::uint8_t>(alpha0);
  b[1] = static_cast<std::uint8_t>(alpha1);
  float palette[8];
  const float scale = StoredAlphaPalette(palette, alpha0 & 255, alpha1 & 255, steps);
  std::fill(error, error + 16, 0.0f);
  int indices[16];
  if (!diffuse) AlphaIndices(alphas, palette, steps, scale, indices);
  std::uint32_t runs[2] = {0, 0};
  for (int i = 0; i < 16; ++i) {
    int index = indices[i];
    if (diffuse) {
      const float v = alphas[i] + error[i];
      index = AlphaIndex(v, palette, steps, scale);
      DiffuseInBlock(error, i, v - palette[index]);
    }
    runs[i / 8] = runs[i / 8] >> 3 | static_cast<std::uint32_t>(index) << 21;
  }
  for (int k = 0; k < 3; ++k) {
    b[2 + k] = static_cast<std::uint8_t>(runs[0] >> (8 * k));
    b[5 + k] = static_cast<std::uint8_t>(runs[1] >> (8 * k));
  }
  return S_OK;
}

namespace {

template <DxtEncodeBlockFn Encode>
HRESULT EncodePremultiplied(void* block, const ColorF* texels, bool diffuse) {
  ColorF premultiplied[16];
  PremultiplyBlock(texels, premultiplied);
  return Encode(block, premultiplied, diffuse);
}

}  // namespace

HRESULT EncodeDxt2Block(void* block, const ColorF* texels, bool diffuse) {
  return EncodePremultiplied<EncodeDxt3Block>(block, texels, diffuse);
}
HRESULT EncodeDxt4Block(void* block, const ColorF* texels, bool diffuse) {
  return EncodePremultiplied<EncodeDxt5Block>(block, texels, diffuse);
}
