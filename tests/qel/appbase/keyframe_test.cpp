#include <gtest/gtest.h>

#include "qel/appbase/qelkeyframe.h"

namespace {

struct Found {
  std::uint32_t key;
  std::int32_t dt;
};

Found At(const C_KeyFrameTable& table, std::int32_t t) {
  Found f{0xDEADBEEF, 12345};
  EXPECT_EQ(table.Lookup(t, &f.key, &f.dt), 0);
  return f;
}

C_KeyFrameTable ThreeKeys() {
  C_KeyFrameTable table;
  table.AddKey(0, 0);
  table.AddKey(100, 1);
  table.AddKey(250, 2);
  return table;
}

TEST(KeyFrameTable, LookupFindsTheKeyInForce) {
  C_KeyFrameTable table = ThreeKeys();
  Found f = At(table, 99);
  EXPECT_EQ(f.key, 0u);
  EXPECT_EQ(f.dt, 99);
  f = At(table, 100);
  EXPECT_EQ(f.key, 1u);
  EXPECT_EQ(f.dt, 0);
  f = At(table, 1000);
  EXPECT_EQ(f.key, 2u);
  EXPECT_EQ(f.dt, 750);
}

TEST(KeyFrameTable, AddingAHigherKeyFillsTheGap) {
  C_KeyFrameTable table = ThreeKeys();
  table.AddKey(500, 5);
  ASSERT_EQ(table.GetKeyCount(), 6u);
  for (std::uint32_t k = 3; k <= 5; ++k) {
    std::int32_t time = 0;
    EXPECT_EQ(table.GetKeyTime(k, &time), S_OK);
    EXPECT_EQ(time, 500) << k;
  }
  // Keys 3 and 4 start with 5, so the scan stops past them.
  Found f = At(table, 600);
  EXPECT_EQ(f.key, 5u);
  EXPECT_EQ(f.dt, 100);
}

TEST(KeyFrameTable, KeyOneAtZeroAlsoSetsKeyZero) {
  C_KeyFrameTable table;
  table.AddKey(0, 1);
  ASSERT_EQ(table.GetKeyCount(), 2u);
  std::int32_t time = -1;
  EXPECT_EQ(table.GetKeyTime(0, &time), S_OK);
  EXPECT_EQ(time, 0);
  EXPECT_EQ(At(table, 0).key, 1u);
}

TEST(KeyFrameTable, GetKeyTimeOutOfRangeFails) {
  C_KeyFrameTable table = ThreeKeys();
  std::int32_t time = 77;
  EXPECT_EQ(table.GetKeyTime(3, &time), E_FAIL);
  EXPECT_EQ(time, 77);
  EXPECT_EQ(table.GetKeyTime(2, &time), S_OK);
  EXPECT_EQ(time, 250);
}

TEST(KeyFrameTable, EmptyTableAndEarlyTimesGiveKeyZero) {
  C_KeyFrameTable empty;
  Found f = At(empty, 40);
  EXPECT_EQ(f.key, 0u);
  EXPECT_EQ(f.dt, 40);

  C_KeyFrameTable late;
  late.AddKey(100, 0);
  late.AddKey(200, 1);
  f = At(late, 50);
  EXPECT_EQ(f.key, 0u);
  EXPECT_EQ(f.dt, -50);
}

TEST(KeyFrameTable, RangesAreKeyedByStartTime) {
  C_KeyFrameTable table = ThreeKeys();
  EXPECT_EQ(table.GetRangeCount(), 3u);
  // A second range with the same start is not added, but the key time is set.
  table.AddKey(100, 4);
  EXPECT_EQ(table.GetRangeCount(), 3u);
  EXPECT_EQ(table.RemoveRange(100, 0, 0), 0);  // end and key are not compared
  EXPECT_EQ(table.RemoveRange(100, 0, 0), 1);
  EXPECT_EQ(table.GetRangeCount(), 2u);
  table.ClearRanges();
  EXPECT_EQ(table.GetRangeCount(), 0u);
  EXPECT_EQ(table.GetKeyCount(), 5u);  // times stay
}

}  // namespace
