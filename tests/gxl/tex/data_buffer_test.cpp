// Data buffers: creation, reference counts, interfaces, growth, alignment and
// the packed string list. ASan checks every byte written below.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gxl/tex/data_buffer.h"
#include "platform/d3d9_api.h"
#include "tests/support/com_ref.h"

namespace {

using nura::test::RefCount;

TEST(GxlBuffer, CreatesBuffersOfTheAskedSize) {
  for (DWORD size : {0u, 1u, 7u, 4096u}) {
    DataBuffer* b = nullptr;
    ASSERT_EQ(GXLCreateDataBuffer(size, &b), S_OK);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetSize(), size);
    if (size) std::memset(b->GetPointer(), 0xAB, size);  // the whole block is ours
    EXPECT_EQ(b->Release(), 0u);
  }
}

TEST(GxlBuffer, NullOutPointersAreInvalidCalls) {
  EXPECT_EQ(CreateDataBuffer(4, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLCreateDataBuffer(4, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(CreateAlignedDataBuffer(4, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(CreateStringListBuffer(4, nullptr), D3DERR_INVALIDCALL);
}

TEST(GxlBuffer, CountsReferencesAndAnswersItsInterfaces) {
  DataBuffer* b = nullptr;
  ASSERT_EQ(CreateDataBuffer(16, &b), S_OK);
  EXPECT_EQ(RefCount(b), 1u);
  EXPECT_EQ(b->AddRef(), 2u);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(b->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(b));
  EXPECT_EQ(RefCount(b), 3u);
  EXPECT_EQ(b->QueryInterface(IID_DataBuffer, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(b));
  EXPECT_EQ(RefCount(b), 4u);

  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(b->QueryInterface(IID_IDirect3DTexture9, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(RefCount(b), 4u);

  EXPECT_EQ(b->Release(), 3u);
  EXPECT_EQ(b->Release(), 2u);
  EXPECT_EQ(b->Release(), 1u);
  EXPECT_EQ(b->Release(), 0u);  // freed: LeakSanitizer would report it otherwise
}

TEST(GxlBuffer, GrowKeepsTheContents) {
  DataBuffer* b = nullptr;
  ASSERT_EQ(CreateDataBuffer(5, &b), S_OK);
  std::memcpy(b->GetPointer(), "abcde", 5);
  EXPECT_EQ(b->Grow(3), S_OK);  // not larger: nothing happens
  EXPECT_EQ(b->GetSize(), 5u);
  EXPECT_EQ(b->Grow(5000), S_OK);
  ASSERT_EQ(b->GetSize(), 5000u);
  EXPECT_EQ(std::memcmp(b->GetPointer(), "abcde", 5), 0);
  std::memset(static_cast<char*>(b->GetPointer()) + 5, 0, 4995);
  b->Release();
}

TEST(GxlBuffer, AlignedBuffersAreSixteenByteAligned) {
  std::vector<DataBuffer*> held;  // held together, so the allocator hands out varied addresses
  for (DWORD size = 0; size <= 100; ++size) {
    DataBuffer* b = nullptr;
    ASSERT_EQ(CreateAlignedDataBuffer(size, &b), S_OK);
    EXPECT_EQ(b->GetSize(), size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->GetPointer()) % 16, 0u) << size;
    if (size) std::memset(b->GetPointer(), 0x5A, size);
    held.push_back(b);
  }
  // Growing keeps both the alignment and the bytes.
  DataBuffer* b = held[100];
  ASSERT_EQ(b->Grow(1000), S_OK);
  EXPECT_EQ(b->GetSize(), 1000u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->GetPointer()) % 16, 0u);
  const auto* p = static_cast<const std::uint8_t*>(b->GetPointer());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0x5A);
  for (DataBuffer* h : held) EXPECT_EQ(h->Release(), 0u);
}

std::vector<std::string> ListOf(StringListBuffer* list) {
  std::vector<std::string> out;
  for (char** p = list->ListBegin(); p != list->ListEnd(); ++p) out.emplace_back(*p);
  return out;
}

TEST(GxlBuffer, StringListGrowsEnoughForTheStringAndItsPointer) {
  StringListBuffer* list = nullptr;
  ASSERT_EQ(CreateStringListBuffer(8, &list), S_OK);
  EXPECT_EQ(list->ListBegin(), list->ListEnd());
  ASSERT_EQ(list->AppendString("abcdef"), S_OK);
  // size + n (14) would not hold the 7 bytes of the string and an 8-byte pointer.
  EXPECT_EQ(list->GetSize(), 6u + 1u + sizeof(char*));
  EXPECT_EQ(ListOf(list), std::vector<std::string>{"abcdef"});
  list->Release();
}

TEST(GxlBuffer, StringListGrowsByAFifthAtLeast) {
  StringListBuffer* list = nullptr;
  ASSERT_EQ(CreateStringListBuffer(100, &list), S_OK);
  // 100 bytes hold 8 strings of 3 characters (12 bytes each) but not a 9th.
  for (int i = 0; i < 8; ++i) ASSERT_EQ(list->AppendString("abc"), S_OK);
  EXPECT_EQ(list->GetSize(), 100u);
  ASSERT_EQ(list->AppendString("abc"), S_OK);
  EXPECT_EQ(list->GetSize(), 120u);
  list->Release();
}

TEST(GxlBuffer, StringListKeepsEveryEntryThroughRandomAppends) {
  std::mt19937 rng(20240617);
  for (int round = 0; round < 200; ++round) {
    StringListBuffer* list = nullptr;
    ASSERT_EQ(CreateStringListBuffer(rng() % 64, &list), S_OK);
    std::vector<std::string> expected;
    const int count = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      std::string s(rng() % 50, '\0');
      for (char& c : s) c = static_cast<char>('a' + rng() % 26);
      ASSERT_EQ(list->AppendString(s.c_str()), S_OK);
      expected.push_back(s);
      ASSERT_EQ(ListOf(list), expected);
      // The pointer list and the strings lie inside the block without overlapping.
      const auto* begin = static_cast<const char*>(list->GetPointer());
      const auto* end = begin + list->GetSize();
      const auto* listEnd = reinterpret_cast<const char*>(list->ListEnd());
      for (char** p = list->ListBegin(); p != list->ListEnd(); ++p) {
        EXPECT_GE(*p, listEnd);
        EXPECT_LE(*p + std::strlen(*p) + 1, end);
      }
    }
    EXPECT_EQ(list->Release(), 0u);
  }
}

TEST(GxlBuffer, StringListRejectsANullString) {
  StringListBuffer* list = nullptr;
  ASSERT_EQ(CreateStringListBuffer(0, &list), S_OK);
  EXPECT_EQ(list->AppendString(nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(list->AppendString(""), S_OK);
  EXPECT_EQ(ListOf(list), std::vector<std::string>{""});
  list->Release();
}

}  // namespace
