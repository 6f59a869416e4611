// The flat triangle filter's gather (internal): each destination texel takes
// the terms of its column from one source row, in the order the scatter gives
// them, so that the sums are the scatter's to the last bit. A body for SSE2
// and one for AVX2 (two destination texels per register), which give the same
// bits; GatherRows takes AVX2 where the platform offers it.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/math/records.h"
#include "gxl/tex/filter_weights.h"
#include "platform/cpu.h"

namespace gxl::tex::detail {

// The X pairs turned around: for each destination column, the source columns
// that reach it with their weights, in the order the scatter meets them (source
// column, then record order), so that every accumulator sums the same terms in
// the same order as the scatter, texel by texel. Every column holds as many
// terms as the longest: the others end with terms of a zero texel at weight
// -0, each exactly -0, which leaves any sum as it is.
struct ColumnSources {
  std::uint32_t terms = 0;
  std::uint32_t columns = 0;
  // Term e of column k at e x columns + k: the source texel's byte offset in
  // the row, and the weight four times over, as a register of four lanes
  // takes it.
  std::unique_ptr<std::uint32_t[]> offset;
  std::unique_ptr<float[]> weight;

  // `zero` indexes the zero texel. False when memory runs out, for rows whose
  // offsets pass 32 bits, or when padding would more than double the terms
  // (the scatter then does the work).
  bool Build(const FilterWeightList& xs, std::uint32_t destinations, std::uint32_t zero);
};

// The accumulators of the destination rows that one source row reaches: row
// i's sums so far are read from from[i] (a row of zeros for a row not yet
// begun) and written to to[i].
struct GatherTargets {
  const ColorF* const* from;
  ColorF* const* to;
};

// to[i][k] = from[i][k] + in[x] x (wx x wy[i]) for every term (x, wx) of each
// of the `width` columns and each of `rows` destination rows, per channel,
// term after term; the weight product first, as the scatter forms it.
void GatherRowsSse2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                    GatherTargets targets, std::uint32_t rows);
// Only where platform::cpu::WideVectorsAvailable().
void GatherRowsAvx2(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                    GatherTargets targets, std::uint32_t rows);

inline void GatherRows(const ColumnSources& columns, std::uint32_t width, const ColorF* in, const float* wy,
                       GatherTargets targets, std::uint32_t rows) {
  (platform::cpu::WideVectorsAvailable() ? GatherRowsAvx2 : GatherRowsSse2)(columns, width, in, wy, targets, rows);
}

}  // namespace gxl::tex::detail
