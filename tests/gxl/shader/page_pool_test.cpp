// The page pool against the platform's virtual memory: region geometry, failed
// reservations and commits, random requests under the sanitizers, the ceiling.
#include "gxl/shader/core/page_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/testing.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * KB;

std::uintptr_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// Committed bytes since construction.
struct CommitMeter {
  std::size_t start = platform::test::VirtualCommittedBytes();
  std::size_t operator()() const { return platform::test::VirtualCommittedBytes() - start; }
};

TEST(GxlShaderPagePool, FirstRegionIsOneMegabyteWithOneStepCommitted) {
  CommitMeter committed;
  PagePool pool(0, 0x10000);
  EXPECT_EQ(committed(), 0u);  // nothing reserved before the first request
  char* a = static_cast<char*>(pool.Allocate(24, 16));
  ASSERT_NE(a, nullptr);
  const std::uintptr_t region = Addr(a) - 16;  // behind the link word
  EXPECT_EQ(region % 0x10000, 0u);
  EXPECT_EQ(committed(), 64 * KB);
  // The rest of the megabyte is served in place, committing as it goes...
  char* b = static_cast<char*>(pool.Allocate(MB - 48, 16));
  EXPECT_EQ(Addr(b), region + 48);
  EXPECT_EQ(committed(), MB);
  // ...and not a byte more: the next request opens a new region.
  char* c = static_cast<char*>(pool.Allocate(1, 1));
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(Addr(c) < region || Addr(c) >= region + MB);
  EXPECT_EQ(Addr(c) % 0x10000, sizeof(std::uintptr_t));
}

TEST(GxlShaderPagePool, LargeRequestDoublesTheRegion) {
  CommitMeter committed;
  PagePool pool(0, 0x10000);
  char* big = static_cast<char*>(pool.Allocate(3 * MB, 16));
  ASSERT_NE(big, nullptr);
  const std::uintptr_t region = Addr(big) - 16;
  EXPECT_EQ(committed(), 3 * MB + 64 * KB);
  EXPECT_EQ(Addr(pool.Allocate(16, 16)), region + 16 + 3 * MB);
  // 4 MB reserved: filled exactly, then a new region.
  EXPECT_EQ(Addr(pool.Allocate(4 * MB - 32 - 3 * MB, 1)), region + 32 + 3 * MB);
  const std::uintptr_t next = Addr(pool.Allocate(1, 1));
  EXPECT_TRUE(next < region || next >= region + 4 * MB);
}

TEST(GxlShaderPagePool, PacksStringsAndAlignsRecords) {
  PagePool pool(0, 0x10000);
  const std::uintptr_t base = Addr(pool.Allocate(3, 1)) - 8;
  EXPECT_EQ(Addr(pool.Allocate(6, 1)), base + 11);
  EXPECT_EQ(Addr(pool.Allocate(4, 4)), base + 20);
  EXPECT_EQ(Addr(pool.Allocate(0, 16)), base + 32);  // size 0 counts as 1
  EXPECT_EQ(Addr(pool.Allocate(1, 16)), base + 48);
  EXPECT_EQ(pool.Allocate(8, 3), nullptr);
  EXPECT_EQ(pool.Allocate(8, 0), nullptr);
}

TEST(GxlShaderPagePool, NewRegionServesWhatTheOldOneHadRoomFor) {
  PagePool pool(0, 0x10000);
  const std::uintptr_t first = Addr(pool.Allocate(MB - 116, 16)) - 16;  // 100 bytes left
  const std::uintptr_t second = Addr(pool.Allocate(200, 16));
  EXPECT_TRUE(second < first || second >= first + MB);
  EXPECT_EQ(Addr(pool.Allocate(50, 16)), second + 208);
}

TEST(GxlShaderPagePool, FailedCommitChangesNothing) {
  CommitMeter committed;
  PagePool pool(0, 0x10000);
  const std::uintptr_t a = Addr(pool.Allocate(16, 16));
  platform::test::SetVirtualAllocCommitLimit(0);
  EXPECT_EQ(pool.Allocate(100 * KB, 16), nullptr);  // beyond the committed step
  EXPECT_EQ(pool.Allocate(2 * MB, 16), nullptr);    // a new region cannot commit either
  EXPECT_EQ(committed(), 64 * KB);
  EXPECT_EQ(Addr(pool.Allocate(1000, 16)), a + 16);  // within the step: still served, in place
  platform::test::SetVirtualAllocCommitLimit(SIZE_MAX);
  EXPECT_EQ(Addr(pool.Allocate(100 * KB, 16)), a + 1024);
}

TEST(GxlShaderPagePool, FailedReservationAndFirstCommitReturnNull) {
  for (const char* what : {"reserve", "commit"}) {
    SCOPED_TRACE(what);
    platform::test::ResetAll();
    CommitMeter committed;
    PagePool pool(0, 0x10000);
    platform::test::FailCall("VirtualAlloc", E_OUTOFMEMORY, platform::test::FailSpec{what, 1, 1});
    EXPECT_EQ(pool.Allocate(16, 16), nullptr);
    EXPECT_EQ(platform::test::InjectedFailureCount("VirtualAlloc"), 1);
    EXPECT_EQ(committed(), 0u);
    void* p = pool.Allocate(16, 16);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Addr(p) % 0x10000, 16u);
  }
}

// Random sizes and alignments: every block aligned, writable in full (the
// sanitizer watches the bytes not handed out) and disjoint from the others;
// then again after FreeAll.
TEST(GxlShaderPagePool, RandomBlocksAreAlignedDisjointAndWritable) {
  std::mt19937 rng(7);
  PagePool pool(0, 0x10000);
  CommitMeter committed;
  for (int round = 0; round < 2; ++round) {
    struct Block {
      unsigned char* p;
      std::size_t size;
    };
    std::vector<Block> blocks;
    for (int i = 0; i < 3000; ++i) {
      const std::size_t align = std::size_t{1} << (rng() % 13);
      std::size_t size = rng() % 6 == 0 ? rng() % (300 * KB) : rng() % 200;
      auto* p = static_cast<unsigned char*>(pool.Allocate(size, align));
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(Addr(p) % align, 0u);
      size = std::max<std::size_t>(size, 1);
      std::memset(p, i & 0xFF, size);
      blocks.push_back({p, size});
    }
    for (std::size_t i = 0; i < blocks.size(); ++i)
      ASSERT_EQ(blocks[i].p[blocks[i].size - 1], i & 0xFF) << "block " << i << " overwritten";
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.p < b.p; });
    for (std::size_t i = 1; i < blocks.size(); ++i) ASSERT_LE(blocks[i - 1].p + blocks[i - 1].size, blocks[i].p);
    pool.FreeAll();
    EXPECT_EQ(committed(), 0u);
  }
}

#if defined(__SANITIZE_ADDRESS__)
TEST(GxlShaderPagePool, ReadingPastTheNewestBlockIsCaught) {
  PagePool pool(0, 0x10000);
  auto* p = static_cast<volatile char*>(pool.Allocate(10, 16));
  EXPECT_DEATH(p[10] = p[10] + 1, "use-after-poison");
}
#endif

TEST(GxlShaderPagePool, CeilingBoundsEveryPool) {
  PagePool pool(0, 0x10000);
  EXPECT_EQ(pool.Allocate(PagePool::kCeiling - 15, 16), nullptr);
  EXPECT_EQ(pool.Allocate(SIZE_MAX, 1), nullptr);
  EXPECT_EQ(pool.Allocate(SIZE_MAX - 7, 16), nullptr);
  EXPECT_NE(pool.Allocate(1, 16), nullptr);

  // A pool whose first region takes the whole gigabyte serves what fits it and
  // nothing that would need a second region, until FreeAll.
  PagePool whole(PagePool::kCeiling, 0x10000);
  EXPECT_NE(whole.Allocate(1, 16), nullptr);
  EXPECT_NE(whole.Allocate(MB, 16), nullptr);
  EXPECT_EQ(whole.Allocate(PagePool::kCeiling - MB, 16), nullptr);
  whole.FreeAll();
  EXPECT_NE(whole.Allocate(1, 16), nullptr);
}

TEST(GxlShaderPagePool, PoolAllocServesTheCurrentPool) {
  EXPECT_EQ(CurrentPool(), nullptr);
  EXPECT_EQ(PoolAlloc(16), nullptr);
  PagePool a(0, 0), b(0, 0);
  EXPECT_EQ(SetCurrentPool(&a), nullptr);
  void* p = PoolAlloc(5);
  EXPECT_EQ(Addr(p) % 0x10000, 16u);
  EXPECT_EQ(SetCurrentPool(&b), &a);
  EXPECT_EQ(Addr(PoolAlloc(5)) % 0x10000, 16u);
  EXPECT_EQ(SetCurrentPool(&a), &b);
  EXPECT_EQ(Addr(PoolAlloc(5)), Addr(p) + 16);
  EXPECT_EQ(SetCurrentPool(nullptr), &a);
}

}  // namespace
