#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

TEST(PlatformCodePage, Utf8RoundTripIncludingSurrogatePairs) {
  const char* text = "ぬらもぺい A\xF0\x9F\x8E\xAE";  // with a character outside the BMP
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  ASSERT_GT(n, 0);
  std::u16string w(n, u'\0');
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, w.data(), n), n);
  EXPECT_EQ(w[0], u'ぬ');
  EXPECT_EQ(w[n - 1], u'\0');
  int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string back(m, '\0');
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, back.data(), m, nullptr, nullptr), m);
  EXPECT_STREQ(back.c_str(), text);
  EXPECT_EQ(GetACP(), 65001u);
}

TEST(PlatformCodePage, BufferTooSmallAndInvalidInput) {
  char16_t out[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, out, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // Invalid UTF-8 becomes U+FFFD, or fails when asked to.
  char16_t w[4];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xFF", 2, w, 4), 2);
  EXPECT_EQ(w[1], u'\uFFFD');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xFF", 2, w, 4), 0);
  // A lone surrogate becomes '?'.
  const char16_t lone[] = {u'x', static_cast<char16_t>(0xD800), 0};
  char s[8];
  BOOL usedDefault = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, s, 8, nullptr, &usedDefault), 3);
  EXPECT_STREQ(s, "x?");
  EXPECT_TRUE(usedDefault);
}

TEST(PlatformCodePage, MalformedUtf8NeverDecodesToTheCharacterItDisguises) {
  // Overlong forms of '/' and of U+0800, surrogates, values past U+10FFFF and
  // cut-off sequences each become one U+FFFD; the shortest forms at each
  // length's lower bound decode.
  const struct {
    const char* bytes;
    std::u16string want;
  } cases[] = {
      {"\xC0\xAF", u"\uFFFD"},
      {"\xE0\x80\xAF", u"\uFFFD"},
      {"\xF0\x80\x80\xAF", u"\uFFFD"},
      {"\xC1\xBF", u"\uFFFD"},
      {"\xE0\x9F\xBF", u"\uFFFD"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD"},
      {"\xE3\x81/", u"\uFFFD/"},
      {"\x80/", u"\uFFFD/"},
      {"\xC2\x80", u"\u0080"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& c : cases) {
    const int bytes = static_cast<int>(std::strlen(c.bytes));
    std::string hex;
    for (int i = 0; i < bytes; ++i) hex += " " + std::to_string(static_cast<unsigned char>(c.bytes[i]));
    char16_t out[8] = {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, c.bytes, bytes, out, 8);
    EXPECT_EQ(std::u16string(out, std::max(n, 0)), c.want) << hex;
    const bool valid = c.want.find(u'\uFFFD') == std::u16string::npos;
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes, bytes, out, 8) != 0, valid) << hex;
  }
}

TEST(PlatformDebugOutput, RecordsEachCallSeparately) {
  OutputDebugStringA("first ");
  OutputDebugStringW(u"zweite ぬ\n");
  const auto& out = platform::test::DebugOutput();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "first ");
  EXPECT_EQ(out[1], "zweite ぬ\n");
  platform::test::ClearDebugOutput();
  EXPECT_TRUE(platform::test::DebugOutput().empty());
}

int g_breaks = 0;
TEST(PlatformDebugOutput, DebugBreakHook) {
  g_breaks = 0;
  platform::test::SetDebugBreakHook([] { ++g_breaks; });
  DebugBreak();
  EXPECT_EQ(g_breaks, 1);
  EXPECT_EQ(platform::test::DebugBreakCount(), 1);
}

}  // namespace
