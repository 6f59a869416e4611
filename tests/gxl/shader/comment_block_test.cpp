// The comment-block builder, its insertion after the version token, and the
// register-name table, checked against the block framing laid out by hand.
#include "gxl/shader/core/comment_block.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/core/register_names.h"
#include "gxl/tex/result_codes.h"
#include "shader_code.h"

namespace {

using gxl::shader::CommentBlockBuilder;
using gxl::shader::RegisterNameEntry;
using gxl::shader::RegisterNameTable;
using B = CommentBlockBuilder;

std::vector<DWORD> Serialized(const CommentBlockBuilder& b) {
  std::vector<DWORD> out(b.SizeInDwords(), 0x12345678u);
  EXPECT_EQ(b.Serialize(out.data()), S_OK);
  return out;
}

std::string PayloadBytes(const std::vector<DWORD>& block) {
  return std::string(reinterpret_cast<const char*>(block.data() + 2), (block.size() - 2) * 4);
}

TEST(GxlCommentBlock, FiveByteTextFillsTwoDwordsWithPadding) {
  CommentBlockBuilder b(shadertest::Fcc('T', 'E', 'S', 'T'));
  std::uint32_t offset = 99;
  ASSERT_EQ(b.Append("abcd", B::kZeroTerminated, B::kText, &offset), S_OK);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(b.PayloadBytes(), 5u);
  EXPECT_EQ(b.SizeInDwords(), 4u);
  const std::vector<DWORD> block = Serialized(b);
  EXPECT_EQ(block[0], 0x0003FFFEu);
  EXPECT_EQ(block[1], shadertest::Fcc('T', 'E', 'S', 'T'));
  EXPECT_EQ(PayloadBytes(block), std::string("abcd\0\xAB\xAB\xAB", 8));
}

TEST(GxlCommentBlock, SharingFollowsTheFlags) {
  CommentBlockBuilder b(gxl::shader::kTagConstantTable);
  struct Step {
    const char* text;
    DWORD flags;
    std::uint32_t offset;  // expected
  };
  // Names (7) share; texts (5) neither share nor are shared; copies are
  // always shared, so they meet the first name.
  const Step steps[] = {
      {"pos", B::kName, 0},  {"pos", B::kName, 0},  {"pos", B::kText, 4},           {"pos", B::kText, 8},
      {"pos", 0, 0},         {"nrm", 0, 12},        {"nrm", B::kUnalignedCopy, 12}, {"nrm", B::kName, 12},
      {"nrm", B::kText, 16}, {"pos", B::kTypes, 0},
  };
  for (const Step& s : steps) {
    std::uint32_t offset = 0;
    ASSERT_EQ(b.Append(s.text, B::kZeroTerminated, s.flags, &offset), S_OK);
    EXPECT_EQ(offset, s.offset) << s.text << " flags " << s.flags;
  }
}

TEST(GxlCommentBlock, AlignedPiecesLeaveGapsOfPadBytes) {
  CommentBlockBuilder b(gxl::shader::kTagDebugInfo);
  const std::uint8_t word[4] = {1, 2, 3, 4};
  std::uint32_t offsets[4] = {};
  ASSERT_EQ(b.Append("x", 1, B::kText, &offsets[0]), S_OK);      // 1 byte at 0
  ASSERT_EQ(b.Append(word, 4, B::kRecords, &offsets[1]), S_OK);  // aligned: 4
  ASSERT_EQ(b.Append("yz", 2, B::kText, &offsets[2]), S_OK);     // unaligned: 8
  ASSERT_EQ(b.Append(word, 3, 0, &offsets[3]), S_OK);            // copied, aligned: 12
  EXPECT_EQ(offsets[1], 4u);
  EXPECT_EQ(offsets[2], 8u);
  EXPECT_EQ(offsets[3], 12u);
  EXPECT_EQ(PayloadBytes(Serialized(b)), std::string("x\xAB\xAB\xAB\x01\x02\x03\x04yz\xAB\xAB\x01\x02\x03\xAB", 16));
}

TEST(GxlCommentBlock, ReferencedPiecesAreReadAtSerialize) {
  CommentBlockBuilder b(gxl::shader::kTagConstantTable);
  std::uint32_t header[2] = {0, 0};
  ASSERT_EQ(b.Append(header, sizeof header, B::kRecords, nullptr), S_OK);
  std::uint32_t offset = 0;
  ASSERT_EQ(b.Append("name", B::kZeroTerminated, B::kName, &offset), S_OK);
  header[0] = 28;
  header[1] = offset;
  const std::vector<DWORD> block = Serialized(b);
  EXPECT_EQ(block[2], 28u);
  EXPECT_EQ(block[3], 8u);
}

TEST(GxlCommentBlock, OwnedDataIsFreedAlsoWhenShared) {
  // LeakSanitizer would report either block if the builder kept it.
  CommentBlockBuilder b(gxl::shader::kTagConstantTable);
  for (int i = 0; i < 2; ++i) {
    auto* data = static_cast<std::uint32_t*>(std::malloc(16));
    for (int k = 0; k < 4; ++k) data[k] = 0x3F800000u;
    std::uint32_t offset = 1;
    ASSERT_EQ(b.Append(data, 16, B::kOwnedData, &offset), S_OK);
    EXPECT_EQ(offset, 0u);
  }
  EXPECT_EQ(b.PayloadBytes(), 16u);
}

TEST(GxlCommentBlock, RejectsDataItCannotFrame) {
  CommentBlockBuilder b(gxl::shader::kTagConstantTable);
  EXPECT_EQ(b.Append(nullptr, 4, 0, nullptr), E_FAIL);
  EXPECT_EQ(b.Append(nullptr, B::kZeroTerminated, B::kText, nullptr), E_FAIL);
  EXPECT_EQ(b.Append(nullptr, 0, B::kRecords, nullptr), S_OK);
  EXPECT_EQ(b.PayloadBytes(), 0u);
  EXPECT_EQ(b.SizeInDwords(), 2u);
  std::vector<DWORD> out(4);
  EXPECT_EQ(b.Serialize(out.data(), 1), E_FAIL);  // smaller than needed
  EXPECT_EQ(b.Serialize(out.data(), 4), S_OK);    // larger: padded
  EXPECT_EQ(out[0], 0x0003FFFEu);
  EXPECT_EQ(out[2], 0xABABABABu);
  EXPECT_EQ(out[3], 0xABABABABu);
}

TEST(GxlCommentBlock, HoldsAtMost32768Dwords) {
  struct Case {
    std::uint32_t bytes;
    std::uint32_t dwords;
    HRESULT serialized;
  };
  const Case cases[] = {{32766 * 4, 32768, S_OK}, {32766 * 4 - 3, 32768, S_OK}, {32766 * 4 + 1, 32769, E_FAIL}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> payload(c.bytes, 0x5A);
    CommentBlockBuilder b(gxl::shader::kTagDebugInfo);
    ASSERT_EQ(b.Append(payload.data(), c.bytes, B::kRecords, nullptr), S_OK);
    EXPECT_EQ(b.SizeInDwords(), c.dwords);
    std::vector<DWORD> out(c.dwords);
    EXPECT_EQ(b.Serialize(out.data()), c.serialized) << c.bytes;
    if (c.serialized == S_OK) {
      EXPECT_EQ(out[0], 0x7FFFFFFEu);
    }
    std::vector<DWORD> tokens = {0xFFFE0200, shadertest::kEnd};
    gxl::shader::PodArray<DWORD> stream;
    stream.Append(tokens.data(), tokens.size());
    EXPECT_EQ(gxl::shader::InsertAfterVersion(&stream, b), c.serialized);
    EXPECT_EQ(stream.Size(), c.serialized == S_OK ? 2u + c.dwords : 2u);
  }
}

TEST(GxlCommentBlock, InsertedBlocksAreFoundAfterTheVersionToken) {
  gxl::shader::PodArray<DWORD> stream;
  const DWORD code[] = {0xFFFF0200, 0x02000001, 0x800F0800, 0xA0E40000, shadertest::kEnd};
  stream.Append(code, 5);
  for (DWORD tag : {gxl::shader::kTagPreshader, gxl::shader::kTagConstantTable}) {
    CommentBlockBuilder b(tag);
    ASSERT_EQ(b.Append(&tag, 4, 0, nullptr), S_OK);
    ASSERT_EQ(gxl::shader::InsertAfterVersion(&stream, b), S_OK);
  }
  const std::vector<DWORD> expected = {0xFFFF0200,
                                       0x0002FFFE,
                                       gxl::shader::kTagConstantTable,
                                       gxl::shader::kTagConstantTable,
                                       0x0002FFFE,
                                       gxl::shader::kTagPreshader,
                                       gxl::shader::kTagPreshader,
                                       0x02000001,
                                       0x800F0800,
                                       0xA0E40000,
                                       shadertest::kEnd};
  EXPECT_EQ(std::vector<DWORD>(stream.Data(), stream.Data() + stream.Size()), expected);
  EXPECT_EQ(GetShaderSize(stream.Data()), expected.size() * 4);
  const void* data = nullptr;
  UINT size = 0;
  EXPECT_EQ(FindShaderComment(stream.Data(), gxl::shader::kTagPreshader, &data, &size), S_OK);
  EXPECT_EQ(size, 4u);
}

// h = h * 19 + toupper(c), mod 7, recomputed here.
std::uint32_t ReferenceHash(const std::string& name) {
  std::uint32_t h = 0;
  for (char c : name) h = h * 19 + static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(c)));
  return h % 7;
}

TEST(GxlCommentBlock, RegisterNamesIgnoreCaseAndCollectByBucket) {
  for (const char* name : {"", "r_temp", "v_TEXCOORD2", "c_worldViewProjection", "o_position"})
    EXPECT_EQ(RegisterNameTable::Hash(name), ReferenceHash(name)) << name;
  EXPECT_EQ(RegisterNameTable::Hash(nullptr), 0u);

  RegisterNameTable table;
  const char* names[] = {"r_a", "r_b", "r_c", "r_d", "r_e", "r_f", "r_g", "r_h", "r_i"};
  for (std::uint32_t i = 0; i < 9; ++i) ASSERT_EQ(table.Add(names[i], i, 1), S_OK);
  ASSERT_NE(table.Find("R_A"), nullptr);
  EXPECT_EQ(table.Find("R_A")->reg, 0u);
  EXPECT_EQ(table.Find("r_z"), nullptr);
  EXPECT_EQ(table.Size(), 9u);

  std::vector<const RegisterNameEntry*> all(table.Size());
  table.Collect(all.data());
  // Bucket order, and within a bucket the newest first.
  std::vector<std::string> expected;
  for (std::uint32_t bucket = 0; bucket < 7; ++bucket)
    for (int i = 8; i >= 0; --i)
      if (ReferenceHash(names[i]) == bucket) expected.push_back(names[i]);
  std::vector<std::string> got;
  for (const RegisterNameEntry* e : all) got.push_back(e->name);
  EXPECT_EQ(got, expected);
  table.Clear();
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(table.Find("r_a"), nullptr);
}

}  // namespace
