#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/win_kernel.h"
#include "tests/support/test_util.h"

namespace {

using nura::test::ScopedChdir;
using nura::test::TempDir;
using nura::test::WriteFileText;

// The full path; *filePart gets the text the file-part pointer marks, read
// while the buffer it points into is still alive (empty for a null pointer).
std::string Full(const char* name, std::string* filePart = nullptr) {
  char buf[MAX_PATH];
  char* part = nullptr;
  DWORD n = GetFullPathNameA(name, MAX_PATH, buf, filePart ? &part : nullptr);
  EXPECT_GT(n, 0u);
  EXPECT_EQ(n, std::string(buf).size());
  if (filePart) {
    EXPECT_TRUE(!part || (part >= buf && part < buf + n));
    *filePart = part ? part : "";
  }
  return buf;
}

TEST(PlatformPaths, FullPathIsLexical) {
  TempDir dir;
  ScopedChdir cd(dir.path());
  std::string cwd = dir.path();
  std::string part;
  EXPECT_EQ(Full("cg\\Title.png", &part), cwd + "/cg/Title.png");
  EXPECT_EQ(part, "Title.png");
  EXPECT_EQ(Full("a/./b/../c"), cwd + "/a/c");
  EXPECT_EQ(Full("\\x\\\\y\\", &part), "/x/y/");
  EXPECT_EQ(part, "") << "no file part";
  EXPECT_EQ(Full("/../.."), "/");
  EXPECT_EQ(Full("does/not/exist.txt"), cwd + "/does/not/exist.txt");  // no file is touched
}

TEST(PlatformPaths, FullPathBufferTooSmall) {
  char buf[4] = "abc";
  DWORD needed = GetFullPathNameA("/some/long/name", sizeof buf, buf, nullptr);
  EXPECT_EQ(needed, std::string("/some/long/name").size() + 1);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(GetFullPathNameA("", sizeof buf, buf, nullptr), 0u);
}

TEST(PlatformPaths, ModuleFileName) {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  ASSERT_GT(n, 0u);
  char real[MAX_PATH];
  ssize_t r = readlink("/proc/self/exe", real, sizeof real);
  ASSERT_GT(r, 0);
  EXPECT_EQ(std::string(buf, n), std::string(real, static_cast<size_t>(r)));
  // Too small: size - 1 characters, terminated, result = size, error 122.
  char small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(real, 4));
}

TEST(PlatformIni, Rules) {
  TempDir dir;
  std::string ini = dir / "nura.ini";
  WriteFileText(ini,
                "\xEF\xBB\xBF; settings\r\n"
                "[Other]\r\n"
                "START_STAGE=9\r\n"
                "  [ debug ]  \r\n"
                "; START_STAGE=7\r\n"
                "  start_stage =  12abc \r\n"
                "START_STAGE=13\r\n"
                "LIFE_INFINITY=-1\r\n"
                "SKIP_NAMEENTRY=\r\n"
                "START_LIFE=x\r\n"
                "[Debug]\r\n"
                "LATE=5\r\n");
  const char* f = ini.c_str();
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "START_STAGE", 1, f), 12u);  // first key, leading digits
  EXPECT_EQ(GetPrivateProfileIntA("DEBUG", "life_infinity", 5, f), 0u);  // negative gives 0
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "SKIP_NAMEENTRY", 3, f), 3u);  // empty: default
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "START_LIFE", 4, f), 0u);      // no digits
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "MISSING", 77, f), 77u);
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "LATE", 6, f), 6u);  // only the first [Debug] counts
  EXPECT_EQ(GetPrivateProfileIntA("Other", "START_STAGE", 1, f), 9u);
  EXPECT_EQ(GetPrivateProfileIntA("Nowhere", "START_STAGE", 2, f), 2u);
  EXPECT_EQ(GetPrivateProfileIntA("Debug", "START_STAGE", 8, (dir / "missing.ini").c_str()), 8u);
}

}  // namespace
