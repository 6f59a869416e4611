#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/win_kernel.h"
#include "tests/support/test_util.h"

namespace {

using nura::test::ReadFileBytes;
using nura::test::TempDir;
using nura::test::WriteFileText;

std::string ReadAll(const std::string& path) {
  auto b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(PlatformFiles, Dispositions) {
  TempDir dir;
  std::string f = dir / "a.bin";
  // OPEN_EXISTING and TRUNCATE_EXISTING need the file.
  SetLastError(0);
  EXPECT_EQ(Open(f, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(f, GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir / "no/such/x", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // CREATE_NEW makes it once.
  HANDLE h = Open(f, GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  EXPECT_EQ(n, 5u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Open(f, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  // OPEN_ALWAYS keeps the contents and reports that the file existed.
  h = Open(f, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  CloseHandle(h);
  h = Open(dir / "fresh", GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);

  // CREATE_ALWAYS truncates an existing file (and says it existed).
  h = Open(f, GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  WriteFile(h, "abc", 3, &n, nullptr);
  CloseHandle(h);

  // TRUNCATE_EXISTING empties it.
  h = Open(f, GENERIC_WRITE, TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  EXPECT_EQ(Open(f, GENERIC_READ, 99), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PlatformFiles, DirectoriesAndHandles) {
  TempDir dir;
  EXPECT_EQ(Open(dir.path(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE h = Open(dir / "x", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  // A closed handle stays invalid.
  char c;
  DWORD n = 7;
  EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(h));
}

// Each failure names its own cause, so that a report can tell a folder in the
// way, a full disk and a refused permission apart.
TEST(PlatformFiles, FailuresNameTheirCause) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_directory(dir / "locked");
  chmod((dir / "locked").c_str(), 0555);
  std::filesystem::create_symlink("/dev/full", dir / "full");
  auto opens = [&](const char* name, DWORD access, DWORD disposition) {
    HANDLE h = Open(dir / name, access, disposition);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  };
  auto writes = [&](const char* name) {
    HANDLE h = Open(dir / name, GENERIC_WRITE, OPEN_EXISTING);
    DWORD n = 0;
    const BOOL ok = WriteFile(h, "x", 1, &n, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return ok != FALSE;
  };
  const struct {
    const char* what;
    std::function<bool()> call;
    DWORD error;
    bool permissions;  // the case relies on file permissions
  } cases[] = {
      {"a folder read", [&] { return opens("folder", GENERIC_READ, OPEN_EXISTING); }, ERROR_DIRECTORY, false},
      {"a folder written", [&] { return opens("folder", GENERIC_WRITE, OPEN_ALWAYS); }, ERROR_DIRECTORY, false},
      {"a folder deleted", [&] { return DeleteFileA((dir / "folder").c_str()) != FALSE; }, ERROR_DIRECTORY, false},
      {"a full disk", [&] { return writes("full"); }, ERROR_DISK_FULL, false},
      {"a read-only folder", [&] { return opens("locked/new", GENERIC_WRITE, CREATE_NEW); }, ERROR_ACCESS_DENIED, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    nura::test::AsNobody nobody(c.permissions);
    SetLastError(0);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(PlatformFiles, ShortReadsAtTheEnd) {
  TempDir dir;
  WriteFileText(dir / "t.txt", "0123456789");
  HANDLE h = Open(dir / "t.txt", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[16] = {};
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "0123");
  EXPECT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "456789");
  EXPECT_TRUE(ReadFile(h, buf, 16, &n, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(n, 0u);
  // Writing through a read-only handle is refused.
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
}

TEST(PlatformFiles, SeekAndAppendBySize) {
  TempDir dir;
  std::string f = dir / "log.txt";
  WriteFileText(f, "first\n");
  HANDLE h = Open(f, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Append: seek to the size, then write.
  DWORD size = GetFileSize(h, nullptr);
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(size), nullptr, FILE_BEGIN), size);
  DWORD n;
  EXPECT_TRUE(WriteFile(h, "second\n", 7, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 13u);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 10u);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), 11u);

  // A negative position fails and leaves the pointer where it was.
  EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 11u);

  // Beyond the end is allowed; a write there zero-fills the gap.
  EXPECT_EQ(SetFilePointer(h, 20, nullptr, FILE_BEGIN), 20u);
  EXPECT_EQ(GetFileSize(h, nullptr), 13u);
  EXPECT_TRUE(WriteFile(h, "Z", 1, &n, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), 21u);
  CloseHandle(h);
  std::string all = ReadAll(f);
  EXPECT_EQ(all, std::string("first\nsecond\n") + std::string(7, '\0') + "Z");

  // 64-bit positions go through the high part.
  h = Open(f, GENERIC_READ, OPEN_EXISTING);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_BEGIN), 0u);
  DWORD sizeHigh = 9;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 21u);
  EXPECT_EQ(sizeHigh, 0u);
  CloseHandle(h);
}

TEST(PlatformFiles, DeleteAndWideNames) {
  TempDir dir;
  std::string f = dir / "ぬら.dat";
  std::u16string wide = u"ぬら.dat";
  std::u16string wpath(dir.path().begin(), dir.path().end());  // the temp path is ASCII
  wpath += u"/" + wide;
  HANDLE h = CreateFileW(wpath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(f).size(), 0u);  // the UTF-8 name exists
  EXPECT_TRUE(DeleteFileW(wpath.c_str()));
  EXPECT_FALSE(DeleteFileA(f.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Names are case-sensitive.
  WriteFileText(dir / "Case.txt", "x");
  EXPECT_EQ(Open(dir / "case.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

}  // namespace
