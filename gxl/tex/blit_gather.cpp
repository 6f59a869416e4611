// The flat triangle filter's gather, with SSE2 and with AVX2.
#include "gxl/tex/blit_gather.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace gxl::tex::detail {

bool ColumnSources::Build(const FilterWeightList& xs, std::uint32_t destinations, std::uint32_t zero) {
  if (std::uint64_t{zero} * sizeof(ColorF) > 0xFFFFFFFFu) return false;
  std::unique_ptr<std::uint32_t[]> count(new (std::nothrow) std::uint32_t[destinations]());
  if (!count) return false;
  for (std::uint32_t x = 0; x < xs.sourceCount; ++x)
    for (const FilterWeight* q = xs.begin(x); q != xs.end(x); ++q) terms = std::max(terms, ++count[q->index]);
  const std::uint64_t total = std::uint64_t{terms} * destinations;
  if (total > 2 * std::uint64_t{xs.recordStart[xs.sourceCount]} + destinations) return false;
  columns = destinations;
  offset.reset(new (std::nothrow) std::uint32_t[total ? total : 1]);
  weight.reset(new (std::nothrow) float[total ? 4 * total : 4]);
  if (!offset || !weight) return false;
  for (std::uint64_t i = 0; i < total; ++i) offset[i] = zero * static_cast<std::uint32_t>(sizeof(ColorF));
  for (std::uint64_t i = 0; i < 4 * total; ++i) weight[i] = -0.0f;
  std::memset(count.get(), 0, std::uint64_t{destinations} * sizeof(std::uint32_t));
  for (std::uint32_t x = 0; x < xs.sourceCount; ++x)
    for (const FilterWeight* q = xs.begin(x); q != xs.end(x); ++q) {
      const std::uint64_t i = std::uint64_t{count[q->index]++} * destinations + q->index;
      offset[i] = x * static_cast<std::uint32_t>(sizeof(ColorF));
      for (int lane = 0; lane < 4; ++lane) weight[4 * i + lane] = q->weight;
    }
  return true;
}

namespace {

const float* TexelAt(const ColorF* row, std::uint32_t offset) {
  return reinterpret_cast<const float*>(reinterpret_cast<const std::uint8_t*>(row) + offset);
}

// --- SSE2 -------------------------------------------------------------------

// acc[i][k] += in[x] x (wx x wy[i]) for every term of column k and each of N
// rows. The rows share the loads of texels and weights. kTerms: the columns'
// term count when it is a small constant (the loop over terms then unrolls),
// 0 otherwise.
template <int N, std::uint32_t kTerms>
void Gather(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy, GatherTargets acc) {
  const std::uint32_t terms = kTerms ? kTerms : columns.terms;
  const std::uint64_t stride = columns.columns;
  const std::uint32_t* offset = columns.offset.get();
  const float* weight = columns.weight.get();
  __m128 rowWeight[N];
  const ColorF* from[N];
  ColorF* to[N];
  for (int i = 0; i < N; ++i) {
    rowWeight[i] = _mm_set1_ps(wy[i]);
    from[i] = acc.from[i];
    to[i] = acc.to[i];
  }
  for (std::uint32_t k = 0; k < width; ++k, ++offset, weight += 4) {
    __m128 sum[N];
    for (int i = 0; i < N; ++i) sum[i] = _mm_loadu_ps(&from[i][k].r);
    for (std::uint32_t e = 0; e < terms; ++e) {
      const __m128 texel = _mm_loadu_ps(TexelAt(in, offset[e * stride])), wx = _mm_loadu_ps(weight + 4 * e * stride);
      for (int i = 0; i < N; ++i) sum[i] = _mm_add_ps(sum[i], _mm_mul_ps(texel, _mm_mul_ps(wx, rowWeight[i])));
    }
    for (int i = 0; i < N; ++i) _mm_storeu_ps(&to[i][k].r, sum[i]);
  }
}

template <int N>
void Gather(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy, GatherTargets acc) {
  switch (columns.terms) {
    case 2: Gather<N, 2>(columns, width, in, wy, acc); break;
    case 3: Gather<N, 3>(columns, width, in, wy, acc); break;
    case 4: Gather<N, 4>(columns, width, in, wy, acc); break;
    default: Gather<N, 0>(columns, width, in, wy, acc); break;
  }
}

// The rows of one source row, up to four at a time.
// Past four rows, the next four.
GatherTargets Advance(GatherTargets t) { return GatherTargets{t.from + 4, t.to + 4}; }

void GatherSse2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy, GatherTargets acc,
                std::uint32_t rows) {
  for (; rows >= 4; rows -= 4, wy += 4, acc = Advance(acc)) Gather<4>(columns, width, in, wy, acc);
  if (rows == 3) Gather<3>(columns, width, in, wy, acc);
  if (rows == 2) Gather<2>(columns, width, in, wy, acc);
  if (rows == 1) Gather<1>(columns, width, in, wy, acc);
}

// --- AVX2 -------------------------------------------------------------------
// Two destination texels a register: the same products and sums, lane for lane.

#define GXL_AVX2 __attribute__((target("avx2")))

template <int N, std::uint32_t kTerms>
GXL_AVX2 void GatherPairs(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                          GatherTargets acc) {
  const std::uint32_t terms = kTerms ? kTerms : columns.terms;
  const std::uint64_t stride = columns.columns;
  const std::uint32_t* offset = columns.offset.get();
  const float* weight = columns.weight.get();
  __m256 rowWeight[N];
  const ColorF* from[N];
  ColorF* to[N];
  for (int i = 0; i < N; ++i) {
    rowWeight[i] = _mm256_set1_ps(wy[i]);
    from[i] = acc.from[i];
    to[i] = acc.to[i];
  }
  std::uint32_t k = 0;
  for (; k + 2 <= width; k += 2, offset += 2, weight += 8) {
    __m256 sum[N];
    for (int i = 0; i < N; ++i) sum[i] = _mm256_loadu_ps(&from[i][k].r);
    for (std::uint32_t e = 0; e < terms; ++e) {
      const std::uint32_t* at = offset + e * stride;
      const __m256 texel = _mm256_set_m128(_mm_loadu_ps(TexelAt(in, at[1])), _mm_loadu_ps(TexelAt(in, at[0])));
      const __m256 wx = _mm256_loadu_ps(weight + 4 * e * stride);
      for (int i = 0; i < N; ++i)
        sum[i] = _mm256_add_ps(sum[i], _mm256_mul_ps(texel, _mm256_mul_ps(wx, rowWeight[i])));
    }
    for (int i = 0; i < N; ++i) _mm256_storeu_ps(&to[i][k].r, sum[i]);
  }
  if (k < width) {
    __m128 sum[N];
    for (int i = 0; i < N; ++i) sum[i] = _mm_loadu_ps(&from[i][k].r);
    for (std::uint32_t e = 0; e < terms; ++e) {
      const __m128 texel = _mm_loadu_ps(TexelAt(in, offset[e * stride])), wx = _mm_loadu_ps(weight + 4 * e * stride);
      for (int i = 0; i < N; ++i)
        sum[i] = _mm_add_ps(sum[i], _mm_mul_ps(texel, _mm_mul_ps(wx, _mm256_castps256_ps128(rowWeight[i]))));
    }
    for (int i = 0; i < N; ++i) _mm_storeu_ps(&to[i][k].r, sum[i]);
  }
}

template <int N>
GXL_AVX2 void GatherPairs(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                          GatherTargets acc) {
  switch (columns.terms) {
    case 2: GatherPairs<N, 2>(columns, width, in, wy, acc); break;
    case 3: GatherPairs<N, 3>(columns, width, in, wy, acc); break;
    case 4: GatherPairs<N, 4>(columns, width, in, wy, acc); break;
    default: GatherPairs<N, 0>(columns, width, in, wy, acc); break;
  }
}

GXL_AVX2 void GatherAvx2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                         GatherTargets acc, std::uint32_t rows) {
  for (; rows >= 4; rows -= 4, wy += 4, acc = Advance(acc)) GatherPairs<4>(columns, width, in, wy, acc);
  if (rows == 3) GatherPairs<3>(columns, width, in, wy, acc);
  if (rows == 2) GatherPairs<2>(columns, width, in, wy, acc);
  if (rows == 1) GatherPairs<1>(columns, width, in, wy, acc);
}

#undef GXL_AVX2

}  // namespace

void GatherRowsSse2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                    GatherTargets acc, std::uint32_t rows) {
  GatherSse2(columns, width, in, wy, acc, rows);
}

void GatherRowsAvx2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                    GatherTargets acc, std::uint32_t rows) {
  GatherAvx2(columns, width, in, wy, acc, rows);
}

}  // namespace gxl::tex::detail

