#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "tests/support/test_util.h"

namespace {

using nura::test::TempDir;
using nura::test::WriteFileText;

HANDLE OpenRead(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(PlatformMapping, MapsWholeFileReadOnly) {
  TempDir dir;
  std::string content(70000, 'q');
  content[0] = 'A';
  content.back() = 'Z';
  WriteFileText(dir / "m.bin", content);
  HANDLE f = OpenRead(dir / "m.bin");
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  HANDLE m = CreateFileMappingA(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(m, nullptr);
  // The mapping outlives the file handle.
  EXPECT_TRUE(CloseHandle(f));
  auto* view = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, content.size()), content);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(m));
}

TEST(PlatformMapping, EmptyFileDoesNotMap) {
  TempDir dir;
  WriteFileText(dir / "empty", "");
  HANDLE f = OpenRead(dir / "empty");
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_EQ(CreateFileMappingA(f, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
  CloseHandle(f);
  // A file handle is not a mapping and vice versa.
  EXPECT_EQ(MapViewOfFile(f, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(PlatformVirtualMemory, ReserveCommitDecommitRelease) {
  size_t before = platform::test::VirtualCommittedBytes();
  auto* base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 100000, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(base) % 65536, 0u);
  EXPECT_EQ(platform::test::VirtualCommittedBytes(), before);

  // Commit two pages from the middle of one: the start rounds down to the page.
  auto* p = static_cast<unsigned char*>(VirtualAlloc(base + 4096 + 10, 4096, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_EQ(p, base + 4096);
  EXPECT_EQ(platform::test::VirtualCommittedBytes(), before + 8192);
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(p[i], 0);
  std::memset(p, 0x5A, 8192);
  // Committing again keeps the contents and counts nothing new.
  EXPECT_EQ(VirtualAlloc(p, 8192, MEM_COMMIT, PAGE_READWRITE), p);
  EXPECT_EQ(p[8191], 0x5A);
  EXPECT_EQ(platform::test::VirtualCommittedBytes(), before + 8192);

  // Decommit, recommit: zero again.
  EXPECT_TRUE(VirtualFree(p, 8192, MEM_DECOMMIT));
  EXPECT_EQ(platform::test::VirtualCommittedBytes(), before);
  EXPECT_EQ(VirtualAlloc(p, 4096, MEM_COMMIT, PAGE_READWRITE), p);
  EXPECT_EQ(p[0], 0);

  // Outside the reservation; release needs the base and size 0.
  EXPECT_EQ(VirtualAlloc(base + 200000, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(base, 4096, MEM_RELEASE));
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
  EXPECT_EQ(platform::test::VirtualCommittedBytes(), before);
}

TEST(PlatformVirtualMemory, ReserveAndCommitTogether) {
  auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(p, nullptr);
  p[0] = 1;
  p[4095] = 2;
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PlatformVirtualMemory, CommitLimit) {
  platform::test::SetVirtualAllocCommitLimit(3 * 4096);
  void* a = VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(a, nullptr);
  SetLastError(0);
  EXPECT_EQ(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  // Reserving costs nothing; committing a page within the limit works, the next fails.
  auto* r = static_cast<char*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(r, nullptr);
  EXPECT_NE(VirtualAlloc(r, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(VirtualAlloc(r + 4096, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  // Freeing makes room again.
  EXPECT_TRUE(VirtualFree(a, 0, MEM_RELEASE));
  EXPECT_NE(VirtualAlloc(r + 4096, 8192, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_TRUE(VirtualFree(r, 0, MEM_RELEASE));
  // The reset lifts the limit.
  platform::test::ResetAll();
  void* big = VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  EXPECT_NE(big, nullptr);
  VirtualFree(big, 0, MEM_RELEASE);
}

}  // namespace
