// Mapped files, output files and module resources.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gxl/tex/mapped_file.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"
#include "tests/support/test_util.h"

namespace {

using nura::test::ReadFileBytes;
using nura::test::TempDir;
using nura::test::WriteFileBytes;

std::u16string Utf16(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
  out.pop_back();
  return out;
}

TEST(GxlBufferMappedFile, MapsTheWholeFile) {
  TempDir dir;
  std::vector<std::uint8_t> bytes(200000);
  std::mt19937 rng(7);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  WriteFileBytes(dir / "data.bin", bytes);

  MappedFile file;
  const std::string name = dir / "data.bin";
  ASSERT_EQ(file.Open(name.c_str(), false), S_OK);
  ASSERT_EQ(file.Size(), bytes.size());
  EXPECT_EQ(std::memcmp(file.Data(), bytes.data(), bytes.size()), 0);
  EXPECT_EQ(file.Close(), S_OK);
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0u);
}

TEST(GxlBufferMappedFile, OpensAnEmptyFileWithANullView) {
  TempDir dir;
  WriteFileBytes(dir / "empty.bin", "", 0);
  MappedFile file;
  const std::string name = dir / "empty.bin";
  ASSERT_EQ(file.Open(name.c_str(), false), S_OK);
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0u);
}

TEST(GxlBufferMappedFile, FailuresAreInvalidData) {
  TempDir dir;
  MappedFile file;
  const std::string missing = dir / "missing.bin";
  EXPECT_EQ(file.Open(missing.c_str(), false), GXLERR_INVALIDDATA);
  EXPECT_EQ(file.Open(dir.path().c_str(), false), GXLERR_INVALIDDATA);  // a folder
  EXPECT_EQ(file.Open(nullptr, false), D3DERR_INVALIDCALL);
  EXPECT_EQ(file.Data(), nullptr);
  file.Destroy();  // safe on a view that was never opened
}

TEST(GxlBufferMappedFile, WideNamesReachTheUtf8File) {
  TempDir dir;
  const std::string name = dir / "\xE7\x94\xBB\xE5\x83\x8F-\xC3\xA9.bin";  // 画像-é.bin
  WriteFileBytes(name, "hello", 5);
  MappedFile file;
  const std::u16string wide = Utf16(name);
  ASSERT_EQ(file.Open(wide.c_str(), true), S_OK);
  ASSERT_EQ(file.Size(), 5u);
  EXPECT_EQ(std::memcmp(file.Data(), "hello", 5), 0);
}

TEST(GxlBufferMappedFile, ReopeningReleasesTheFirstView) {
  TempDir dir;
  WriteFileBytes(dir / "a.bin", "aaaa", 4);
  WriteFileBytes(dir / "b.bin", "bb", 2);
  MappedFile file;
  const std::string a = dir / "a.bin", b = dir / "b.bin";
  ASSERT_EQ(file.Open(a.c_str(), false), S_OK);
  ASSERT_EQ(file.Open(b.c_str(), false), S_OK);
  ASSERT_EQ(file.Size(), 2u);
  EXPECT_EQ(std::memcmp(file.Data(), "bb", 2), 0);
}

TEST(GxlBufferMappedFile, CreatesFilesForWriting) {
  TempDir dir;
  const std::string name = dir / "out-\xC3\xA9.bin";
  WriteFileBytes(name, "old contents", 12);
  MappedFile holder;
  const std::u16string wide = Utf16(name);
  ASSERT_EQ(CreateFileForWriting(&holder, wide.c_str(), true), S_OK);
  ASSERT_NE(holder.FileHandle(), INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(holder.FileHandle(), "new", 3, &written, nullptr));
  EXPECT_EQ(holder.Close(), S_OK);
  EXPECT_EQ(holder.FileHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadFileBytes(name), (std::vector<std::uint8_t>{'n', 'e', 'w'}));

  const std::string bad = dir / "no-such-folder/out.bin";
  EXPECT_EQ(CreateFileForWriting(&holder, bad.c_str(), false), GXLERR_INVALIDDATA);
  EXPECT_EQ(CreateFileForWriting(&holder, nullptr, false), D3DERR_INVALIDCALL);
  EXPECT_EQ(CreateFileForWriting(nullptr, name.c_str(), false), D3DERR_INVALIDCALL);
}

// Resource blocks stay registered for the whole program, so each test uses names of its own.
const std::uint8_t kRaw[] = {1, 2, 3, 4, 5};
const std::uint8_t kBitmap[] = {40, 0, 0, 0, 9, 9};

TEST(GxlBufferResourceData, FindsRawDataEvenWhenABitmapIsTriedFirst) {
  platform::RegisterResource(nullptr, RT_RCDATA, "raw-only", kRaw, sizeof kRaw);
  ResourceData res;
  ASSERT_EQ(res.Find(nullptr, "raw-only", true, false), S_OK);
  ASSERT_EQ(res.Size(), sizeof kRaw);
  EXPECT_EQ(std::memcmp(res.Data(), kRaw, sizeof kRaw), 0);
}

TEST(GxlBufferResourceData, PrefersTheBitmapWhenAskedTo) {
  platform::RegisterResource(nullptr, RT_RCDATA, "both-kinds", kRaw, sizeof kRaw);
  platform::RegisterResource(nullptr, RT_BITMAP, "both-kinds", kBitmap, sizeof kBitmap);
  ResourceData res;
  ASSERT_EQ(res.Find(nullptr, "both-kinds", true, false), S_OK);
  EXPECT_EQ(res.Data(), static_cast<const void*>(kBitmap));
  ASSERT_EQ(res.Find(nullptr, "both-kinds", false, false), S_OK);  // raw data only
  EXPECT_EQ(res.Data(), static_cast<const void*>(kRaw));
  EXPECT_EQ(res.Reset(), S_OK);
  EXPECT_EQ(res.Data(), nullptr);
  EXPECT_EQ(res.Size(), 0u);
}

TEST(GxlBufferResourceData, WideNamesAndIntegerIds) {
  platform::RegisterResource(nullptr, RT_RCDATA, "Wide-Name", kRaw, sizeof kRaw);
  platform::RegisterResource(nullptr, RT_RCDATA, MAKEINTRESOURCEA(4711), kBitmap, sizeof kBitmap);
  ResourceData res;
  ASSERT_EQ(res.Find(nullptr, u"wide-name", false, true), S_OK);  // names ignore case
  EXPECT_EQ(res.Data(), static_cast<const void*>(kRaw));
  ASSERT_EQ(res.Find(nullptr, MAKEINTRESOURCEA(4711), true, false), S_OK);
  EXPECT_EQ(res.Data(), static_cast<const void*>(kBitmap));
}

TEST(GxlBufferResourceData, MissingAndEmptyResourcesAreInvalidData) {
  static const std::uint8_t nothing[1] = {0};
  platform::RegisterResource(nullptr, RT_RCDATA, "empty-block", nothing, 0);
  ResourceData res;
  EXPECT_EQ(res.Find(nullptr, "no-such-resource", true, false), GXLERR_INVALIDDATA);
  EXPECT_EQ(res.Find(nullptr, "empty-block", false, false), GXLERR_INVALIDDATA);
  EXPECT_EQ(res.Data(), nullptr);
}

}  // namespace
