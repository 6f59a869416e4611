// Finding comment blocks in compiled shader code.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gxl/shader/bytecode.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

constexpr DWORD Fcc(char a, char b, char c, char d) { return MAKEFOURCC(a, b, c, d); }
constexpr DWORD Comment(DWORD length) { return 0xFFFE | (length << 16); }
constexpr DWORD kEnd = 0x0000FFFF;

struct Found {
  HRESULT hr;
  const void* data;
  UINT size;
};

Found Find(const std::vector<DWORD>& code, DWORD fourCC) {
  Found f{0, reinterpret_cast<const void*>(1), 99};
  f.hr = FindShaderComment(code.data(), fourCC, &f.data, &f.size);
  return f;
}

TEST(GxlShaderBytecode, FindsTheTaggedBlock) {
  // vs_2_0: instructions carry their length in bits 24-27.
  const std::vector<DWORD> code = {0xFFFE0200,
                                   Comment(3), Fcc('D', 'B', 'U', 'G'), 1, 2,
                                   0x02000001, 0x800F0000, 0x90E40000,  // an instruction with two parameters
                                   Comment(4), Fcc('C', 'T', 'A', 'B'), 7, 8, 9,
                                   kEnd};
  Found f = Find(code, Fcc('C', 'T', 'A', 'B'));
  EXPECT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.data, &code[10]);
  EXPECT_EQ(f.size, 12u);
  f = Find(code, Fcc('D', 'B', 'U', 'G'));
  EXPECT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.data, &code[3]);
  EXPECT_EQ(f.size, 8u);
  f = Find(code, Fcc('P', 'R', 'E', 'S'));
  EXPECT_EQ(f.hr, S_FALSE);
  EXPECT_EQ(f.data, nullptr);
  EXPECT_EQ(f.size, 0u);
}

TEST(GxlShaderBytecode, SkipsTheValuesOfDefinitionsInOldCode) {
  // ps_1_1: a def's four values need not have bit 31 set; here they look like a
  // comment token and the end token.
  const std::vector<DWORD> code = {0xFFFF0101,
                                   81, 0xA00F0000, Comment(1), 0, kEnd, 0x3F800000,
                                   0x00000001, 0x800F0000, 0xB0E40000,
                                   Comment(2), Fcc('F', 'I', 'N', 'F'), 42,
                                   kEnd};
  const Found f = Find(code, Fcc('F', 'I', 'N', 'F'));
  EXPECT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.data, &code[12]);
  EXPECT_EQ(f.size, 4u);
}

TEST(GxlShaderBytecode, ExpressionAndTextureShaderCode) {
  const std::vector<DWORD> fx = {0x46580200, Comment(2), Fcc('C', 'L', 'I', 'T'), 0,
                                 Comment(3), Fcc('F', 'X', 'L', 'C'), 0, 0, kEnd};
  EXPECT_EQ(Find(fx, Fcc('F', 'X', 'L', 'C')).hr, S_OK);
  EXPECT_EQ(Find(fx, Fcc('C', 'L', 'I', 'T')).size, 4u);
  const std::vector<DWORD> tx = {0x54580100, Comment(2), Fcc('C', 'T', 'A', 'B'), 5, kEnd};
  EXPECT_EQ(Find(tx, Fcc('C', 'T', 'A', 'B')).hr, S_OK);
  for (DWORD version : {0x7FFE0200u, 0x7FFF0101u}) {
    const std::vector<DWORD> fragment = {version, Comment(2), Fcc('F', 'R', 'A', 'G'), 0, kEnd};
    EXPECT_EQ(Find(fragment, Fcc('F', 'R', 'A', 'G')).hr, S_OK) << std::hex << version;
  }
}

TEST(GxlShaderBytecode, ACommentOfOnlyItsTagIsNotFound) {
  const std::vector<DWORD> code = {0xFFFE0101, Comment(1), Fcc('C', 'T', 'A', 'B'), kEnd};
  EXPECT_EQ(Find(code, Fcc('C', 'T', 'A', 'B')).hr, S_FALSE);
}

TEST(GxlShaderBytecode, NullCodeAndUnknownVersions) {
  const void* data = &data;
  UINT size = 5;
  EXPECT_EQ(FindShaderComment(nullptr, 0, &data, &size), D3DERR_INVALIDCALL);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0u);
  const std::vector<DWORD> code = {0x12340200, Comment(2), Fcc('C', 'T', 'A', 'B'), 0, kEnd};
  EXPECT_EQ(Find(code, Fcc('C', 'T', 'A', 'B')).hr, GXLERR_INVALIDDATA);
  // The outs are optional.
  const std::vector<DWORD> good = {0xFFFF0300, Comment(2), Fcc('C', 'T', 'A', 'B'), 0, kEnd};
  EXPECT_EQ(FindShaderComment(good.data(), Fcc('C', 'T', 'A', 'B'), nullptr, nullptr), S_OK);
}

}  // namespace
