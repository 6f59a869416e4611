// The colour encoder's endpoint polish against an error measured here in
// double: each counted texel at its nearest palette step, the ends expanded
// as level / top in the polish's error space. The polish may settle anywhere,
// but never on a pair worse than the one it was given, so a pair that no other
// pair beats (found by exhaustive search where that is cheap) stays as good.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "gxl/tex/dxt_block_internal.h"
#include "tests/support/test_util.h"

namespace {

using gxl::tex::detail::kErrorWeightB;
using gxl::tex::detail::kErrorWeightR;
using gxl::tex::detail::PolishColorEndpoints;
using gxl::tex::detail::PolishTexels;

struct Point {
  double r, g, b;
};

Point Value(std::uint16_t word) {
  return {(word >> 11) / 31.0 * kErrorWeightR, ((word >> 5) & 63) / 63.0, (word & 31) / 31.0 * kErrorWeightB};
}

double PairError(std::uint16_t a, std::uint16_t z, const PolishTexels& t, int count) {
  const Point A = Value(a), Z = Value(z);
  double sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (t.w[i] == 0.0f) continue;
    double nearest = 1e30;
    for (int k = 0; k < count; ++k) {
      const double f = static_cast<double>(k) / (count - 1);
      const double dr = A.r + f * (Z.r - A.r) - t.r[i], dg = A.g + f * (Z.g - A.g) - t.g[i];
      const double db = A.b + f * (Z.b - A.b) - t.b[i];
      nearest = std::min(nearest, dr * dr + dg * dg + db * db);
    }
    sum += t.w[i] * nearest;
  }
  return sum;
}

// The polish sums in float: its "lower" may be a rounding above ours.
bool NoWorse(double after, double before) { return after <= before * (1 + 1e-5) + 1e-12; }

class Blocks {
 public:
  explicit Blocks(unsigned seed) : m_rng(seed) {}
  float U() { return m_unit(m_rng); }
  std::uint16_t Word() { return static_cast<std::uint16_t>(m_rng()); }
  // Every texel counted, or about two in three (at least one).
  void Weights(PolishTexels& t, bool weighted) {
    for (float& w : t.w) w = !weighted || m_rng() % 3 ? 1.0f : 0.0f;
    t.w[m_rng() % 16] = 1.0f;
  }

 private:
  std::mt19937 m_rng;
  std::uniform_real_distribution<float> m_unit{0.0f, 1.0f};
};

// Colours in [0, 1], scaled into the error space.
void SetTexel(PolishTexels& t, int i, float r, float g, float b) {
  auto unit = [](float v) { return std::min(1.0f, std::max(0.0f, v)); };
  t.r[i] = unit(r) * kErrorWeightR;
  t.g[i] = unit(g);
  t.b[i] = unit(b) * kErrorWeightB;
}

TEST(DxtPolish, NeverEndsOnAPairWorseThanTheOneGiven) {
  // Noise, colours along a line with a little noise, and nearly flat blocks;
  // from random pairs, from one word twice (the nearly flat blocks' search
  // around the mean), and again from each result, where most candidates are
  // worse than the pair in hand.
  Blocks rng(31);
  const int blocks = nura::test::LongOrShare(40000, 4000);
  for (int n = 0; n < blocks; ++n) {
    const int count = n % 2 ? 3 : 4, shape = (n / 2) % 3;
    const bool weighted = (n / 6) % 2;
    PolishTexels t{};
    rng.Weights(t, weighted);
    const float r0 = rng.U(), g0 = rng.U(), b0 = rng.U(), dr = rng.U() - r0, dg = rng.U() - g0, db = rng.U() - b0;
    for (int i = 0; i < 16; ++i) {
      if (shape == 0) {
        SetTexel(t, i, rng.U(), rng.U(), rng.U());
      } else {
        const float along = shape == 1 ? rng.U() : 0.0f, noise = shape == 1 ? 0.05f : 0.02f;
        SetTexel(t, i, r0 + along * dr + noise * (rng.U() - 0.5f), g0 + along * dg + noise * (rng.U() - 0.5f),
                 b0 + along * db + noise * (rng.U() - 0.5f));
      }
    }
    std::uint16_t a = rng.Word(), z = (n / 12) % 2 ? a : rng.Word();
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE("block " + std::to_string(n) + ", round " + std::to_string(round));
      const std::uint16_t a0 = a, z0 = z;
      const double before = PairError(a, z, t, count);
      PolishColorEndpoints(a, z, t, count);
      const double after = PairError(a, z, t, count);
      ASSERT_TRUE(NoWorse(after, before)) << std::hex << a0 << " " << z0 << " became " << a << " " << z << std::dec
                                          << ": " << before << " to " << after;
    }
  }
}

TEST(DxtPolish, KeepsTheBestPairOfOneChannelBlocks) {
  // Texels that vary in one channel only, the others 0: no pair beats the
  // best one whose other channels are 0 (a level above 0 there only adds to
  // every step's distance), so a search of that channel's level pairs finds
  // the best pair of all. Given it, in either order, the polish keeps its error.
  Blocks rng(37);
  const int blocks = nura::test::LongOrShare(12000, 1500);
  for (int n = 0; n < blocks; ++n) {
    const int count = n % 2 ? 3 : 4, channel = (n / 2) % 3;
    const bool weighted = (n / 6) % 2;
    const int shift = channel == 0 ? 11 : channel == 1 ? 5 : 0, levels = channel == 1 ? 64 : 32;
    PolishTexels t{};
    rng.Weights(t, weighted);
    const float lo = rng.U(), span = rng.U() * (1 - lo);
    for (int i = 0; i < 16; ++i) {
      const float v = lo + span * rng.U();
      SetTexel(t, i, channel == 0 ? v : 0.0f, channel == 1 ? v : 0.0f, channel == 2 ? v : 0.0f);
    }
    double best = 1e30;
    std::uint16_t a = 0, z = 0;
    for (int low = 0; low < levels; ++low) {
      for (int high = low; high < levels; ++high) {
        const auto wl = static_cast<std::uint16_t>(low << shift), wh = static_cast<std::uint16_t>(high << shift);
        const double e = PairError(wl, wh, t, count);
        if (e < best) best = e, a = wl, z = wh;
      }
    }
    if (n % 4 >= 2) std::swap(a, z);
    const std::uint16_t a0 = a, z0 = z;
    PolishColorEndpoints(a, z, t, count);
    const double after = PairError(a, z, t, count);
    ASSERT_TRUE(NoWorse(after, best)) << "block " << n << ": " << std::hex << a0 << " " << z0 << " became " << a
                                      << " " << z << std::dec << ": " << best << " to " << after;
  }
}

}  // namespace
