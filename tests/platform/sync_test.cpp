#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/win_kernel.h"

namespace {

TEST(PlatformSync, CriticalSectionIsRecursive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  // Another thread cannot enter while this one holds it.
  BOOL other = TRUE;
  std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
  EXPECT_FALSE(other);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] {
    other = TryEnterCriticalSection(&cs);
    if (other) LeaveCriticalSection(&cs);
  }).join();
  EXPECT_TRUE(other);
  DeleteCriticalSection(&cs);
}

TEST(PlatformSync, ContentionKeepsCountsExact) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long plain = 0;
  volatile LONG atomic = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&cs);
        ++plain;
        LeaveCriticalSection(&cs);
        InterlockedIncrement(&atomic);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(plain, 80000);
  EXPECT_EQ(atomic, 80000);
  DeleteCriticalSection(&cs);
}

TEST(PlatformSync, InterlockedResults) {
  volatile LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedDecrement(&v), 5);
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 8), 9);  // no match: unchanged
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 9), 9);
  EXPECT_EQ(v, 1);
  v = 0x7FFFFFFF;
  EXPECT_EQ(InterlockedIncrement(&v), static_cast<LONG>(0x80000000u));  // wraps as 32 bits
}

}  // namespace
