// Per-axis weights of the resampling filters: the two-tap weights of the linear
// filter and the scattered tent weights of the triangle filter.
#pragma once

#include <cstdint>
#include <memory>

// Destination index i samples the source at (i + 0.5) x S / D - 0.5, between
// source texels i0 and i1; w0 + w1 = 1.
struct LinearWeight {
  std::uint32_t i0;
  float w0;
  std::uint32_t i1;
  float w1;
};

// One weight per destination index. wrap: a neighbour outside the source is
// taken from the other edge; otherwise the edge texel stands in for it. Null
// for a zero size or when memory runs out.
std::unique_ptr<LinearWeight[]> BuildLinearWeights(std::uint32_t destinationSize, std::uint32_t sourceSize,
                                                   bool wrap);

struct FilterWeight {
  std::uint32_t index;  // destination index
  float weight;
};

// The tent of every source texel (two source texels wide) integrated over the
// destination texels it covers: one record of (destination, weight) pairs per
// source index, in source order. The weights into each destination index sum
// to 1; a destination may appear twice in one record when the tent wraps.
struct FilterWeightList {
  std::uint32_t sourceCount = 0;
  std::unique_ptr<std::uint32_t[]> recordStart;  // sourceCount + 1 offsets into pairs
  std::unique_ptr<FilterWeight[]> pairs;

  const FilterWeight* begin(std::uint32_t source) const { return pairs.get() + recordStart[source]; }
  const FilterWeight* end(std::uint32_t source) const { return pairs.get() + recordStart[source + 1]; }
};

// The same records one source index at a time, in source order, for callers
// that cannot hold a record per source index (a source far larger than its
// destination): memory follows the destination, not the source.
class FilterWeightWalk {
 public:
  // Without wrap the outer half of each edge texel's tent is flat, which
  // keeps every destination's total at 1. Sizes must not be 0.
  FilterWeightWalk(std::uint32_t sourceSize, std::uint32_t destinationSize, bool wrap);

  // The most pairs one record holds.
  std::uint32_t MaxPairs() const { return m_perRecord; }
  // Writes the next source index's pairs (at most MaxPairs()) and returns
  // their count; back to source index 0 after the last.
  std::uint32_t Next(FilterWeight* out);

 private:
  std::uint32_t m_sourceSize;
  std::int64_t m_destinationSize;
  bool m_wrap;
  float m_ratio;
  float m_halfOverRatio;
  float m_smallest;
  std::uint32_t m_perRecord;
  std::uint32_t m_source = 0;
  std::int64_t m_current = 0;  // carries over from one record to the next
};

// Null for a zero size, a list beyond 32-bit offsets, or when memory runs out.
std::unique_ptr<FilterWeightList> BuildFilterWeights(std::uint32_t sourceSize, std::uint32_t destinationSize,
                                                     bool wrap);
