#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "platform/win_kernel.h"

namespace {

TEST(PlatformText, WsprintfLongIs32Bits) {
  char buf[1100];
  LONG v = -5;
  DWORD u = 0xFFFFFFFFu;
  // %ld and %lu read 32-bit arguments; the following argument must still line up.
  EXPECT_EQ(wsprintfA(buf, "%ld|%lu|%lx|%d", v, u, u, 7), 24);
  EXPECT_STREQ(buf, "-5|4294967295|ffffffff|7");
}

TEST(PlatformText, WsprintfFormats) {
  char buf[1100];
  wsprintfA(buf, "[ FPS : %03d/s ]", 90);
  EXPECT_STREQ(buf, "[ FPS : 090/s ]");
  wsprintfA(buf, "FPS:%2d", 5);
  EXPECT_STREQ(buf, "FPS: 5");
  wsprintfA(buf, "%s-%-4s|%c%%%X", "ab", "c", 'z', 0xBEEFu);
  EXPECT_STREQ(buf, "ab-c   |z%BEEF");
  wsprintfA(buf, "%I64d %ls %S", static_cast<std::int64_t>(-1) << 40, u"ぬら", u"x");
  EXPECT_STREQ(buf, "-1099511627776 ぬら x");
  wsprintfA(buf, "%.2s", "abcdef");
  EXPECT_STREQ(buf, "ab");
}

TEST(PlatformText, WsprintfStopsAt1024Bytes) {
  std::string big(3000, 'x');
  char buf[2000];
  std::fill(std::begin(buf), std::end(buf), '#');
  EXPECT_EQ(wsprintfA(buf, "%s", big.c_str()), 1023);
  EXPECT_EQ(std::string(buf).size(), 1023u);
  EXPECT_EQ(buf[1024], '#');
}

TEST(PlatformText, CompareAndLength) {
  EXPECT_EQ(lstrcmpiA("D3DFWSampleClass", "d3dfwsampleCLASS"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
  EXPECT_NE(lstrcmpiA("\xC3\x84", "\xC3\xA4"), 0);  // only ASCII folds
  EXPECT_EQ(lstrlenA("hello"), 5);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(u"ぬらもぺい"), 5);
}

TEST(PlatformText, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(12, 96, 72), 16);
  EXPECT_EQ(MulDiv(1, 1, 2), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(1, -3, 2), -2);
  EXPECT_EQ(MulDiv(5, 1, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);  // 64-bit product
  EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);                   // overflow
  for (int a = -50; a <= 50; ++a)
    for (int c = -7; c <= 7; ++c) {
      if (c == 0) continue;
      double exact = static_cast<double>(a) * 3 / c;
      int expect = static_cast<int>(exact < 0 ? -std::floor(-exact + 0.5) : std::floor(exact + 0.5));
      ASSERT_EQ(MulDiv(a, 3, c), expect) << a << "*3/" << c;
    }
}

}  // namespace
