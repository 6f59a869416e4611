// The weights of the linear and triangle filters. All float-to-integer
// conversions here truncate toward zero.
#include "gxl/tex/filter_weights.h"

#include <cmath>
#include <new>

std::unique_ptr<LinearWeight[]> BuildLinearWeights(std::uint32_t destinationSize, std::uint32_t sourceSize,
                                                   bool wrap) {
  if (!destinationSize || !sourceSize) return nullptr;
  std::unique_ptr<LinearWeight[]> weights(new (std::nothrow) LinearWeight[destinationSize]);
  if (!weights) return nullptr;
  const std::int64_t s = sourceSize;
  const float r = static_cast<float>(sourceSize) / static_cast<float>(destinationSize);
  for (std::uint32_t i = 0; i < destinationSize; ++i) {
    // c is the sample position plus one, so it is positive and truncation floors it.
    const float c = (static_cast<float>(i) + 0.5f) * r + 0.5f;
    const std::int64_t k = static_cast<std::int64_t>(c);
    std::int64_t i0 = k - 1;
    std::int64_t i1 = k;
    const float w0 = static_cast<float>(k + 1) - c;
    if (i0 < 0) i0 = wrap ? s - 1 : 0;
    if (i1 >= s) i1 = wrap ? 0 : s - 1;
    // Float rounding of sizes beyond 2^23 could carry a tap past the edge.
    if (i0 >= s) i0 = s - 1;
    weights[i] = LinearWeight{static_cast<std::uint32_t>(i0), w0, static_cast<std::uint32_t>(i1), 1.0f - w0};
  }
  return weights;
}

FilterWeightWalk::FilterWeightWalk(std::uint32_t sourceSize, std::uint32_t destinationSize, bool wrap)
    : m_sourceSize(sourceSize),
      m_destinationSize(destinationSize),
      m_wrap(wrap),
      m_ratio(static_cast<float>(destinationSize) / static_cast<float>(sourceSize)),
      m_halfOverRatio(0.5f / m_ratio),
      // Pairs too small to matter are dropped. Below a ratio of 1 every pair is
      // about r, so the bound shrinks with it: a fixed bound would drop every
      // pair of a reduction beyond 1:100000 and leave its destination unwritten.
      m_smallest(0.00001f * (m_ratio < 1.0f ? m_ratio : 1.0f)),
      // Each half of a tent spans r destination units: at most ceil(r) + 1
      // indices, one more for float rounding.
      m_perRecord(2 * (static_cast<std::uint32_t>(std::ceil(m_ratio)) + 2)) {}

std::uint32_t FilterWeightWalk::Next(FilterWeight* out) {
  const std::uint32_t i = m_source;
  m_source = i + 1 < m_sourceSize ? i + 1 : 0;
  if (i == 0) m_current = 0;
  const float r = m_ratio;
  const std::int64_t d = m_destinationSize;
  std::uint32_t count = 0;
  float accumulated = 0.0f;
  auto append = [&] {
    if (accumulated > m_smallest && count < m_perRecord)
      out[count++] = FilterWeight{static_cast<std::uint32_t>(m_current), accumulated};
  };
  for (int h = 0; h < 2; ++h) {
    const float t = static_cast<float>(i) + static_cast<float>(h) - 0.5f;
    float start = t * r;
    float end = start + r;
    if (!m_wrap) {
      if (start < 0.0f) start = 0.0f;
      if (end > static_cast<float>(d)) end = static_cast<float>(d);
    }
    for (std::int64_t x = static_cast<std::int64_t>(std::floor(start)); static_cast<float>(x) < end; ++x) {
      std::int64_t index = x < 0 ? x + d : (x >= d ? x - d : x);
      if (index < 0 || index >= d) index = ((x % d) + d) % d;
      if (index != m_current) {
        append();
        accumulated = 0.0f;
        m_current = index;
      }
      const float fx = static_cast<float>(x);
      const float lo = fx > start ? fx : start;
      const float hi = fx + 1.0f < end ? fx + 1.0f : end;
      float w = (hi + lo) * m_halfOverRatio - t;
      if (!m_wrap) {
        // The outer half at each edge is flat, so the edge keeps its full weight.
        if (t < 0.0f) w = 1.0f;
        if (t + 1.0f >= static_cast<float>(m_sourceSize)) w = 0.0f;
      }
      if (h == 1) w = 1.0f - w;
      accumulated += (hi - lo) * w;
    }
  }
  append();
  return count;
}

std::unique_ptr<FilterWeightList> BuildFilterWeights(std::uint32_t sourceSize, std::uint32_t destinationSize,
                                                     bool wrap) {
  if (!sourceSize || !destinationSize) return nullptr;
  FilterWeightWalk walk(sourceSize, destinationSize, wrap);
  std::unique_ptr<FilterWeight[]> record(new (std::nothrow) FilterWeight[walk.MaxPairs()]);
  if (!record) return nullptr;
  // One walk to count the pairs, so that the list holds what the tents
  // reach and no more; a second to keep them.
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < sourceSize; ++i) total += walk.Next(record.get());
  if (total > 0xFFFFFFFFu) return nullptr;

  std::unique_ptr<FilterWeightList> list(new (std::nothrow) FilterWeightList);
  if (!list) return nullptr;
  list->sourceCount = sourceSize;
  list->recordStart.reset(new (std::nothrow) std::uint32_t[std::uint64_t{sourceSize} + 1]);
  list->pairs.reset(new (std::nothrow) FilterWeight[total ? total : 1]);
  if (!list->recordStart || !list->pairs) return nullptr;
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < sourceSize; ++i) {
    list->recordStart[i] = count;
    count += walk.Next(list->pairs.get() + count);
  }
  list->recordStart[sourceSize] = count;
  return list;
}
