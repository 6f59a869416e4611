// The per-axis weights of the linear and triangle filters.
#include <gtest/gtest.h>

#include <vector>

#include "gxl/tex/filter_weights.h"

namespace {

// The total weight each destination index receives from a triangle list.
std::vector<double> TriangleTotals(const FilterWeightList& list, std::uint32_t destination) {
  std::vector<double> totals(destination, 0.0);
  for (std::uint32_t i = 0; i < list.sourceCount; ++i)
    for (const FilterWeight* p = list.begin(i); p != list.end(i); ++p) {
      EXPECT_LT(p->index, destination);
      if (p->index < destination) totals[p->index] += p->weight;
    }
  return totals;
}

// The pairs of one source index, in order.
std::vector<std::pair<std::uint32_t, float>> Record(const FilterWeightList& list, std::uint32_t source) {
  std::vector<std::pair<std::uint32_t, float>> pairs;
  for (const FilterWeight* p = list.begin(source); p != list.end(source); ++p) pairs.emplace_back(p->index, p->weight);
  return pairs;
}

TEST(GxlBlitWeights, LinearSamplesBetweenTheTwoNeighbours) {
  // 2 -> 4: destination 0 samples the source at -0.25.
  auto mirrored = BuildLinearWeights(4, 2, false);
  ASSERT_NE(mirrored, nullptr);
  EXPECT_EQ(mirrored[0].i0, 0u);
  EXPECT_EQ(mirrored[0].i1, 0u);
  EXPECT_FLOAT_EQ(mirrored[0].w0, 0.25f);
  EXPECT_FLOAT_EQ(mirrored[0].w1, 0.75f);
  // The last one samples at 1.25: the right neighbour is cut to the edge.
  EXPECT_EQ(mirrored[3].i0, 1u);
  EXPECT_EQ(mirrored[3].i1, 1u);
  EXPECT_FLOAT_EQ(mirrored[3].w0, 0.75f);

  auto wrapped = BuildLinearWeights(4, 2, true);
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(wrapped[0].i0, 1u);
  EXPECT_EQ(wrapped[0].i1, 0u);
  EXPECT_EQ(wrapped[3].i0, 1u);
  EXPECT_EQ(wrapped[3].i1, 0u);
  // Inner texels are the same in both modes.
  EXPECT_EQ(wrapped[1].i0, 0u);
  EXPECT_EQ(wrapped[1].i1, 1u);
  EXPECT_FLOAT_EQ(wrapped[1].w0, 0.75f);
}

TEST(GxlBlitWeights, LinearWeightsStayInsideTheSourceForEverySize) {
  for (std::uint32_t s = 1; s <= 64; ++s)
    for (std::uint32_t d = 1; d <= 64; ++d)
      for (bool wrap : {false, true}) {
        auto w = BuildLinearWeights(d, s, wrap);
        ASSERT_NE(w, nullptr);
        for (std::uint32_t i = 0; i < d; ++i) {
          ASSERT_LT(w[i].i0, s) << s << " -> " << d;
          ASSERT_LT(w[i].i1, s) << s << " -> " << d;
          ASSERT_NEAR(w[i].w0 + w[i].w1, 1.0f, 1e-6f);
          ASSERT_GE(w[i].w0, 0.0f);
          ASSERT_LE(w[i].w0, 1.0f);
        }
      }
}

TEST(GxlBlitWeights, ZeroSizesGiveNoWeights) {
  EXPECT_EQ(BuildLinearWeights(0, 4, true), nullptr);
  EXPECT_EQ(BuildLinearWeights(4, 0, false), nullptr);
  EXPECT_EQ(BuildFilterWeights(0, 4, true), nullptr);
  EXPECT_EQ(BuildFilterWeights(4, 0, false), nullptr);
}

TEST(GxlBlitWeights, TriangleHalvingAtTheEdges) {
  auto mirrored = BuildFilterWeights(8, 4, false);
  ASSERT_NE(mirrored, nullptr);
  const auto first = Record(*mirrored, 0);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].first, 0u);
  EXPECT_FLOAT_EQ(first[0].second, 0.5f);

  auto wrapped = BuildFilterWeights(8, 4, true);
  ASSERT_NE(wrapped, nullptr);
  const auto w = Record(*wrapped, 0);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].first, 3u);
  EXPECT_FLOAT_EQ(w[0].second, 0.0625f);
  EXPECT_EQ(w[1].first, 0u);
  EXPECT_FLOAT_EQ(w[1].second, 0.4375f);
}

TEST(GxlBlitWeights, TriangleEnlargementSpreadsTheFirstTexel) {
  auto list = BuildFilterWeights(2, 5, false);
  ASSERT_NE(list, nullptr);
  const auto w = Record(*list, 0);
  ASSERT_EQ(w.size(), 4u);
  const float expected[] = {1.0f, 0.8875f, 0.5f, 0.1125f};
  for (std::uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(w[i].first, i);
    EXPECT_NEAR(w[i].second, expected[i], 1e-6f) << i;
  }
}

TEST(GxlBlitWeights, TriangleWeightsIntoEveryDestinationSumToOne) {
  for (std::uint32_t s = 1; s <= 64; ++s)
    for (std::uint32_t d = 1; d <= 64; ++d)
      for (bool wrap : {false, true}) {
        auto list = BuildFilterWeights(s, d, wrap);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->sourceCount, s);
        const std::vector<double> totals = TriangleTotals(*list, d);
        for (std::uint32_t i = 0; i < d; ++i)
          ASSERT_NEAR(totals[i], 1.0, 1e-5) << s << " -> " << d << (wrap ? " wrapped" : " mirrored") << ", index " << i;
      }
}

TEST(GxlBlitWeights, GreatReductionsKeepTheirWeights) {
  // Every source texel gives about 1/150000 to its destination: none may be
  // dropped as negligible. (Float positions this far out are coarse, hence
  // the tolerance.)
  for (bool wrap : {false, true}) {
    auto list = BuildFilterWeights(300000, 2, wrap);
    ASSERT_NE(list, nullptr);
    const std::vector<double> totals = TriangleTotals(*list, 2);
    EXPECT_NEAR(totals[0], 1.0, 5e-3);
    EXPECT_NEAR(totals[1], 1.0, 5e-3);
  }
}

TEST(GxlBlitWeights, WrappedTentIsTheMirroredOneShiftedRound) {
  // A tent far from both edges is the same in both modes.
  auto mirrored = BuildFilterWeights(16, 40, false);
  auto wrapped = BuildFilterWeights(16, 40, true);
  ASSERT_NE(mirrored, nullptr);
  ASSERT_NE(wrapped, nullptr);
  for (std::uint32_t i = 2; i < 14; ++i) EXPECT_EQ(Record(*mirrored, i), Record(*wrapped, i)) << i;
  // At the edge the wrapped tent reaches the far end of the destination.
  bool reachesEnd = false;
  for (const auto& p : Record(*wrapped, 0)) reachesEnd |= p.first == 39;
  EXPECT_TRUE(reachesEnd);
  for (const auto& p : Record(*mirrored, 0)) EXPECT_LT(p.first, 5u);
}

}  // namespace
