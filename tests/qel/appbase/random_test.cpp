#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "qel/appbase/qelrandom.h"

namespace {

// A standard-library engine holding the same 624 words, about to regenerate.
std::mt19937 StdEngineWithState(const std::uint32_t* words) {
  std::stringstream text;
  for (int i = 0; i < C_MersenneTwister::kN; ++i) text << words[i] << ' ';
  text << C_MersenneTwister::kN;
  std::mt19937 engine;
  text >> engine;
  EXPECT_FALSE(text.fail());
  return engine;
}

TEST(MersenneTwister, UnseededStartsWithTheDefaultSeed) {
  C_MersenneTwister unseeded;
  EXPECT_EQ(unseeded.Next(), 2867219139u);
  EXPECT_EQ(unseeded.Next(), 1585203162u);
  EXPECT_EQ(unseeded.Next(), 3113124129u);

  C_MersenneTwister seeded;
  seeded.Seed(4357);
  C_MersenneTwister fresh;
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(seeded.Next(), fresh.Next()) << i;
}

TEST(MersenneTwister, SeedingIsTheLinearCongruentialFill) {
  C_MersenneTwister g;
  g.Seed(0);
  EXPECT_EQ(g.State()[0], 0x00000000u);
  EXPECT_EQ(g.State()[1], 0x00011C59u);
}

TEST(MersenneTwister, StreamEqualsTheStandardEngineWithTheSameState) {
  for (std::uint32_t seed : {4357u, 0u, 1u, 0xFFFFFFFFu, 20050322u}) {
    C_MersenneTwister g;
    g.Seed(seed);
    std::mt19937 reference = StdEngineWithState(g.State());
    // Several regenerations of the 624 words.
    for (int i = 0; i < 624 * 4 + 7; ++i) ASSERT_EQ(g.Next(), reference()) << "seed " << seed << " output " << i;
  }
}

TEST(MersenneTwister, ReseedingRestartsTheStream) {
  C_MersenneTwister g;
  g.Seed(99);
  std::uint32_t first = g.Next();
  for (int i = 0; i < 1000; ++i) g.Next();
  g.Seed(99);
  EXPECT_EQ(g.Next(), first);
}

}  // namespace
