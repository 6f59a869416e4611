// Ordering: the heap sort against std::stable_sort, and the orders a flush
// draws in.
#include "gxl/draw/sprite_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

#include "draw_test_support.h"
#include "gxl/math/matrix.h"

namespace drawtest {
namespace {

using SpriteBatcherSort = ::testing::Test;

std::vector<std::uint32_t> Iota(std::uint32_t n) {
  std::vector<std::uint32_t> v(n);
  std::iota(v.begin(), v.end(), 0u);
  return v;
}

IDirect3DTexture9* FakeAddress(std::uintptr_t a) { return reinterpret_cast<IDirect3DTexture9*>(a); }

// Random keys drawn from a few values, so that ties are common.
struct RandomKeys {
  std::vector<IDirect3DTexture9*> textures;
  std::vector<float> depths;
  SpriteSortKeys keys;

  RandomKeys(std::mt19937& rng, std::uint32_t n, int distinct) {
    std::uniform_int_distribution<int> pick(0, distinct - 1);
    for (std::uint32_t i = 0; i < n; ++i) {
      // Addresses on both sides of the sign bit, compared as unsigned.
      const int k = pick(rng);
      textures.push_back(FakeAddress((k & 1 ? std::uintptr_t{1} << 63 : 0) + 0x1000 * std::uintptr_t(k)));
      const int d = pick(rng);
      depths.push_back(d == 0 ? -0.0f : float(d - distinct / 2) * 0.5f);  // -0 ties with 0
    }
    keys = SpriteSortKeys{textures.data(), depths.data()};
  }
};

TEST_F(SpriteBatcherSort, HeapSortMatchesStableSort) {
  std::mt19937 rng(20050322);
  std::vector<std::uint32_t> sizes;
  for (std::uint32_t n = 0; n <= 70; ++n) sizes.push_back(n);
  for (std::uint32_t n : {127u, 128u, 129u, 1000u, 4097u}) sizes.push_back(n);
  for (std::uint32_t n : sizes) {
    for (int distinct : {1, 2, 5, 1000}) {
      const RandomKeys r(rng, n, distinct);
      const auto& tex = r.textures;
      const auto& depth = r.depths;
      struct Order {
        SpriteIndexComparator comparator;
        std::function<bool(std::uint32_t, std::uint32_t)> before;
      };
      const Order orders[] = {
          {CompareSpritesByTexture,
           [&](std::uint32_t a, std::uint32_t b) {
             return reinterpret_cast<std::uintptr_t>(tex[a]) > reinterpret_cast<std::uintptr_t>(tex[b]);
           }},
          {CompareSpritesByDepthAscending, [&](std::uint32_t a, std::uint32_t b) { return depth[a] < depth[b]; }},
          {CompareSpritesByDepthDescending, [&](std::uint32_t a, std::uint32_t b) { return depth[a] > depth[b]; }},
      };
      for (const Order& o : orders) {
        std::vector<std::uint32_t> expected = Iota(n);
        std::stable_sort(expected.begin(), expected.end(), o.before);
        std::vector<std::uint32_t> got = Iota(n);
        HeapSortIndices(o.comparator, got.data(), n, &r.keys);
        ASSERT_EQ(got, expected) << "n " << n << " distinct " << distinct << " order " << (&o - orders);
        // The index tie-break makes the order total: any starting permutation gives it.
        std::shuffle(got.begin(), got.end(), rng);
        HeapSortIndices(o.comparator, got.data(), n, &r.keys);
        ASSERT_EQ(got, expected);
      }
    }
  }
}

TEST_F(SpriteBatcherSort, ComparatorsAnswerTheSameIndexWithZero) {
  IDirect3DTexture9* textures[] = {FakeAddress(0x2000), FakeAddress(0x1000), FakeAddress(0x2000)};
  float depths[] = {1.0f, std::nanf(""), 1.0f};
  const SpriteSortKeys keys{textures, depths};
  EXPECT_EQ(CompareSpritesByTexture(0, 0, &keys), 0);
  EXPECT_LT(CompareSpritesByTexture(0, 1, &keys), 0);
  EXPECT_GT(CompareSpritesByTexture(1, 0, &keys), 0);
  EXPECT_LT(CompareSpritesByTexture(0, 2, &keys), 0);
  EXPECT_GT(CompareSpritesByTexture(2, 0, &keys), 0);
  // Unordered keys fall back to the index.
  EXPECT_EQ(CompareSpritesByDepthAscending(1, 1, &keys), 0);
  EXPECT_LT(CompareSpritesByDepthAscending(0, 1, &keys), 0);
  EXPECT_GT(CompareSpritesByDepthDescending(1, 0, &keys), 0);
  EXPECT_LT(CompareSpritesByDepthDescending(0, 2, &keys), 0);
}

TEST_F(SpriteBatcherSort, NothingToDoForFewerThanTwo) {
  const SpriteIndexComparator never = [](std::uint32_t, std::uint32_t, const void*) -> int {
    ADD_FAILURE() << "compared";
    return 0;
  };
  HeapSortIndices(never, nullptr, 0, nullptr);
  std::uint32_t one = 7;
  HeapSortIndices(never, &one, 1, nullptr);
  EXPECT_EQ(one, 7u);
}

TEST_F(SpriteBatcherSort, NotANumberKeysStillGiveAPermutation) {
  std::mt19937 rng(7);
  std::vector<float> depths(500);
  for (float& d : depths) d = rng() % 4 == 0 ? std::nanf("") : float(rng() % 50);
  const SpriteSortKeys keys{nullptr, depths.data()};
  for (SpriteIndexComparator c : {CompareSpritesByDepthAscending, CompareSpritesByDepthDescending}) {
    std::vector<std::uint32_t> v = Iota(500);
    HeapSortIndices(c, v.data(), 500, &keys);
    std::sort(v.begin(), v.end());
    EXPECT_EQ(v, Iota(500));
  }
}

// The textures of the runs a flush drew, from the call log, and the x of every
// sprite in draw order from the vertex buffer.
struct DrawOrder {
  std::vector<std::string> textures;
  std::vector<float> xs;
};

class SpriteBatcherOrderTest : public SpriteTest {
 protected:
  DrawOrder Draw(DWORD flags, const std::vector<IDirect3DTexture9*>& textures, const std::vector<float>& zs) {
    ComRef<SpriteBatcher> b = MakeBatcher();
    platform::test::ClearD3D9CallLog();
    platform::test::StartD3D9CallLog();
    EXPECT_EQ(b->BeginBatch(flags | SpriteBatchFlags::NoStateSave), S_OK);
    for (std::size_t i = 0; i < textures.size(); ++i) {
      const Vec3 pos(float(i), 0, zs.empty() ? 0.0f : zs[i]);
      EXPECT_EQ(b->QueueSprite(textures[i], nullptr, nullptr, &pos, ~0u), S_OK);
    }
    EXPECT_EQ(b->EndBatch(), S_OK);
    platform::test::StopD3D9CallLog();
    DrawOrder out;
    for (const auto& c : platform::test::D3D9Calls())
      if (c.method == "SetTexture" && c.args.rfind("0, Texture", 0) == 0) out.textures.push_back(c.args.substr(3));
    const auto v = BoundVertices(0, UINT(textures.size() * 4));
    for (std::size_t i = 0; i < textures.size(); ++i) out.xs.push_back(v[4 * i].position.x);
    EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive").size(), out.textures.size());
    return out;
  }
};

TEST_F(SpriteBatcherOrderTest, SortByTextureGroupsRunsAndKeepsQueueOrderWithin) {
  ComRef<IDirect3DTexture9> a = MakeTexture(4, 4), c = MakeTexture(4, 4);
  const std::vector<IDirect3DTexture9*> queue = {a.Get(), c.Get(), a.Get(), c.Get(), c.Get(), a.Get()};
  const DrawOrder plain = Draw(0, queue, {});
  EXPECT_EQ(plain.textures.size(), 5u);  // runs a, c, a, c c, a
  EXPECT_EQ(plain.xs, (std::vector<float>{0, 1, 2, 3, 4, 5}));

  // The texture that comes first depends on the addresses: accept either.
  for (DWORD extra : {0u, DWORD{SpriteBatchFlags::SortDepthAscending}}) {
    const DrawOrder sorted = Draw(SpriteBatchFlags::SortByTexture | extra, queue, {5, 4, 3, 2, 1, 0});
    ASSERT_EQ(sorted.textures.size(), 2u);
    const bool aFirst = reinterpret_cast<std::uintptr_t>(a.Get()) > reinterpret_cast<std::uintptr_t>(c.Get());
    const std::vector<float> expected =
        aFirst ? std::vector<float>{0, 2, 5, 1, 3, 4} : std::vector<float>{1, 3, 4, 0, 2, 5};
    EXPECT_EQ(sorted.xs, expected) << "only the texture order applies";
    EXPECT_NE(sorted.textures[0], sorted.textures[1]);
  }
}

TEST_F(SpriteBatcherOrderTest, DepthOrdersFollowMinusZ) {
  ComRef<IDirect3DTexture9> a = MakeTexture(4, 4);
  const std::vector<IDirect3DTexture9*> queue(5, a.Get());
  const std::vector<float> zs = {0.5f, 0.1f, 0.9f, 0.1f, 0.3f};
  // Keys are -4z: ascending keys draw the largest z first; ties keep queue order.
  EXPECT_EQ(Draw(SpriteBatchFlags::SortDepthAscending, queue, zs).xs, (std::vector<float>{2, 0, 4, 1, 3}));
  EXPECT_EQ(Draw(SpriteBatchFlags::SortDepthDescending, queue, zs).xs, (std::vector<float>{1, 3, 4, 0, 2}));
  EXPECT_EQ(Draw(SpriteBatchFlags::SortDepthAscending | SpriteBatchFlags::SortDepthDescending, queue, zs).xs,
            (std::vector<float>{2, 0, 4, 1, 3}));
  EXPECT_EQ(Draw(SpriteBatchFlags::SortDepthAscending, queue, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f}).xs,
            (std::vector<float>{0, 1, 2, 3, 4}));
}

// Depth keys are taken after the sprite transform.
TEST_F(SpriteBatcherOrderTest, DepthKeysSeeTheSpriteTransform) {
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  ComRef<SpriteBatcher> b = MakeBatcher();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::SortDepthDescending | SpriteBatchFlags::NoStateSave), S_OK);
  Matrix4 flip;
  std::memset(&flip, 0, sizeof flip);
  flip.m[0][0] = flip.m[1][1] = flip.m[3][3] = 1;
  flip.m[2][2] = -1;  // z -> -z
  const Vec3 p0(0, 0, 0.25f), p1(1, 0, 0.5f), p2(2, 0, 0.75f);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &p0, ~0u), S_OK);
  ASSERT_EQ(b->SetSpriteTransform(&flip), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &p1, ~0u), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &p2, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 12);
  // z after the transform: 0.25, -0.5, -0.75; descending keys (-4z) draw the smallest z first.
  EXPECT_FLOAT_EQ(v[0].position.x, 2.0f);
  EXPECT_FLOAT_EQ(v[0].position.z, -0.75f);
  EXPECT_FLOAT_EQ(v[4].position.x, 1.0f);
  EXPECT_EQ(v[8].position.x, 0.0f);
}

}  // namespace
}  // namespace drawtest
