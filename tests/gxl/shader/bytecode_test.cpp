// Walking compiled shader code: comment blocks, size, and the semantics,
// sampler and debug-information queries, over streams laid by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/core/token_walker.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "shader_code.h"
#include "tests/support/shader/decode.h"

namespace {

using namespace shadertest;

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

// --- Fixtures: one stream per kind of code -----------------------------------

constexpr DWORD kNegative = std::bit_cast<DWORD>(-1.0f);

// vs_1_1: dcl usage tokens, a def whose values look like parameters, a comment
// and the end token, and writes to every output kind.
const std::vector<DWORD> kVs11 = {
    0xFFFE0101,
    Op(31), Usage(D3DDECLUSAGE_POSITION, 0), Dst(kInput, 0),
    Op(31), Usage(D3DDECLUSAGE_TEXCOORD, 3), Dst(kInput, 1),
    Op(81), Dst(kConst, 0), kNegative, Dst(kTexcrdOut, 5), kEnd, Comment(1),
    Comment(0),
    Op(1), Dst(kRastOut, 0), Src(kInput, 0),
    Op(1), Dst(kTexcrdOut, 1), Src(kInput, 1),
    Op(1), Dst(kAttrOut, 0), Src(kInput, 0),
    Op(1), Dst(kRastOut, 2, 1), Src(kConst, 0),
    // Registers beyond the output tables: oT8, oD2 and rasteriser output 3.
    Op(1), Dst(kTexcrdOut, 8), Src(kInput, 0),
    Op(1), Dst(kAttrOut, 2), Src(kInput, 0),
    Op(1), Dst(kRastOut, 3), Src(kInput, 0),
    Comment(3), Fcc('T', 'E', 'S', 'T'), 1, 2,
    kEnd};

// vs_3_0: declared inputs, outputs and a sampler; lengths in the instruction tokens.
const std::vector<DWORD> kVs30 = {
    0xFFFE0300,
    Op(31, 2), Usage(D3DDECLUSAGE_POSITION, 0), Dst(kInput, 0),
    Op(31, 2), Usage(D3DDECLUSAGE_NORMAL, 1), Dst(kInput, 3),
    Op(31, 2), Usage(D3DDECLUSAGE_TEXCOORD, 2), Dst(kTexcrdOut, 3),
    Op(31, 2), Usage(D3DDECLUSAGE_COLOR, 1), Dst(kTexcrdOut, 1),
    Op(31, 2), 0x90000000, Dst(kSampler, 0),
    Op(1, 2), Dst(kTexcrdOut, 3), Src(kInput, 0),
    kEnd};

// ps_1_1: texture registers count as inputs only as destinations of texture
// addressing; t2 is only read, t7 is beyond the table.
const std::vector<DWORD> kPs11 = {
    0xFFFF0101,
    Op(81), Dst(kConst, 0), kNegative, Src(kTexture, 5), 0, 0,
    Op(66), Dst(kTexture, 0),
    Op(67), Dst(kTexture, 1), Src(kTexture, 0),
    Op(66), Dst(kTexture, 7),
    Op(1), Dst(kTemp, 0), Src(kInput, 1),
    Op(2), Dst(kTemp, 0), Src(kTemp, 0), Src(kTexture, 2),
    Op(2), Dst(kTemp, 0), Src(kTemp, 0), Src(kInput, 4),
    kEnd};

// ps_1_4: every texture-register parameter is a use.
const std::vector<DWORD> kPs14 = {
    0xFFFF0104,
    Op(66), Dst(kTemp, 0), Src(kTexture, 2),
    Op(64), Dst(kTemp, 1), Src(kTexture, 0),
    0x0000FFFD,  // phase
    Op(1), Dst(kTemp, 0), Src(kInput, 0),
    kEnd};

// ps_2_0: declared texture and colour inputs and a sampler; a def value that
// looks like oC5 and an output beyond the table (oC20).
const std::vector<DWORD> kPs20 = {
    0xFFFF0200,
    Op(81, 5), Dst(kConst, 0), Dst(kColorOut, 5), 0, 0, 0,
    Op(31, 2), 0x80000000, Dst(kTexture, 0),
    Op(31, 2), 0x80000000, Dst(kInput, 1),
    Op(31, 2), 0x90000000, Dst(kSampler, 0),
    Op(66, 3), Dst(kTemp, 0), Src(kTexture, 0), Src(kSampler, 0),
    Op(1, 2), Dst(kColorOut, 0), Src(kTemp, 0),
    Op(1, 2), Dst(kColorOut, 20), Src(kTemp, 0),
    Op(1, 2), Dst(kDepthOut, 0, 1), Src(kTemp, 0),
    kEnd};

// ps_3_0: declared inputs (vPos is no input register) and a colour output.
const std::vector<DWORD> kPs30 = {
    0xFFFF0300,
    Op(31, 2), Usage(D3DDECLUSAGE_TEXCOORD, 0), Dst(kInput, 0),
    Op(31, 2), Usage(D3DDECLUSAGE_COLOR, 1), Dst(kInput, 1),
    Op(31, 2), 0x80000000, Dst(kMisc, 0),
    Op(1, 2), Dst(kColorOut, 1), Src(kInput, 1),
    kEnd};

using Records = std::vector<std::pair<DWORD, DWORD>>;

struct Queried {
  HRESULT hr;
  Records records;
};

template <class QueryFn>
Queried Query(QueryFn query, const std::vector<DWORD>& code) {
  UINT counted = 99;
  HRESULT hr = query(code.data(), nullptr, &counted);
  std::vector<ShaderSemantic> out(counted > 64 ? 0 : counted + 1, ShaderSemantic{0xEE, 0xEE});
  UINT written = 99;
  const HRESULT hr2 = query(code.data(), out.data(), &written);
  EXPECT_EQ(hr, hr2);
  if (FAILED(hr2)) return {hr2, {}};
  EXPECT_EQ(written, counted);
  EXPECT_EQ(out.back().usage, 0xEEu) << "a record beyond the count was written";
  Records r;
  for (UINT i = 0; i < written; ++i) r.emplace_back(out[i].usage, out[i].usageIndex);
  return {hr, r};
}

constexpr DWORD POS = D3DDECLUSAGE_POSITION, TEX = D3DDECLUSAGE_TEXCOORD, COL = D3DDECLUSAGE_COLOR,
                PSZ = D3DDECLUSAGE_PSIZE, DEP = D3DDECLUSAGE_DEPTH, NRM = D3DDECLUSAGE_NORMAL;

TEST(GxlShaderBytecode, SemanticsOfEachKindOfCode) {
  const struct {
    const char* name;
    const std::vector<DWORD>* code;
    Records inputs, outputs;
  } kCases[] = {
      {"vs_1_1", &kVs11, {{POS, 0}, {TEX, 3}}, {{TEX, 1}, {COL, 0}, {POS, 0}, {PSZ, 0}}},
      {"vs_3_0", &kVs30, {{POS, 0}, {NRM, 1}}, {{TEX, 2}, {COL, 1}}},
      {"ps_1_1", &kPs11, {{TEX, 0}, {TEX, 1}, {COL, 1}}, {{COL, 0}}},
      {"ps_1_4", &kPs14, {{TEX, 0}, {TEX, 2}, {COL, 0}}, {{COL, 0}}},
      {"ps_2_0", &kPs20, {{TEX, 0}, {COL, 1}}, {{COL, 0}, {DEP, 0}}},
      {"ps_3_0", &kPs30, {{TEX, 0}, {COL, 1}}, {{COL, 1}}},
  };
  for (const auto& c : kCases) {
    const Queried in = Query(GetShaderInputSemantics, *c.code);
    EXPECT_EQ(in.hr, S_OK) << c.name;
    EXPECT_EQ(in.records, c.inputs) << c.name;
    const Queried out = Query(GetShaderOutputSemantics, *c.code);
    EXPECT_EQ(out.hr, S_OK) << c.name;
    EXPECT_EQ(out.records, c.outputs) << c.name;
  }
}

// The fixtures are read by the token kit's decoder too, so that a fault in
// laying them out cannot pass as a finding of the queries. The decoder knows
// no rasteriser output 3: vs_1_1 is read up to it, and read whole without it.
TEST(GxlShaderBytecode, FixturesAreStreamsTheTokenKitReads) {
  const DWORD rast3[] = {Op(1), Dst(kRastOut, 3), Src(kInput, 0)};
  std::vector<DWORD> vs11 = kVs11;
  const auto at = std::search(vs11.begin(), vs11.end(), std::begin(rast3), std::end(rast3));
  ASSERT_NE(at, vs11.end());
  const std::size_t rast3At = static_cast<std::size_t>(at - vs11.begin()) + 1;
  vs11.erase(at, at + 3);
  const struct {
    const char* name;
    const std::vector<DWORD>* code;
  } kFixtures[] = {{"vs_1_1", &vs11},  {"vs_3_0", &kVs30}, {"ps_1_1", &kPs11},
                   {"ps_1_4", &kPs14}, {"ps_2_0", &kPs20}, {"ps_3_0", &kPs30}};
  std::string text, error;
  for (const auto& f : kFixtures)
    EXPECT_TRUE(nura::shtok::Disassemble(f.code->data(), f.code->size(), &text, &error)) << f.name << ": " << error;
  EXPECT_FALSE(nura::shtok::Disassemble(kVs11.data(), kVs11.size(), &text, &error));
  EXPECT_EQ(error, "token " + std::to_string(rast3At) + ": unknown register type 4");
}

TEST(GxlShaderBytecode, SemanticsQueriesRefuseWhatTheyCannotRead) {
  UINT count = 7;
  EXPECT_EQ(GetShaderInputSemantics(nullptr, nullptr, &count), D3DERR_INVALIDCALL);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(GetShaderOutputSemantics(nullptr, nullptr, &count), D3DERR_INVALIDCALL);
  const std::vector<DWORD> fx = {0x46580200, Op(1, 2), Dst(kTemp, 0), Src(kInput, 0), kEnd};
  EXPECT_EQ(Query(GetShaderInputSemantics, fx).records, Records{});
  EXPECT_EQ(Query(GetShaderOutputSemantics, fx).hr, S_OK);
  for (DWORD version : {0x54580100u, 0x7FFE0200u, 0x7FFF0200u}) {
    const std::vector<DWORD> code = {version, kEnd};
    EXPECT_EQ(GetShaderInputSemantics(code.data(), nullptr, &count), GXLERR_INVALIDDATA);
    EXPECT_EQ(GetShaderOutputSemantics(code.data(), nullptr, &count), GXLERR_INVALIDDATA);
    EXPECT_EQ(count, 0u);
  }
  // Pixel inputs of other major versions cannot be told; outputs below 2.0 are COLOR0.
  const std::vector<DWORD> ps0 = {0xFFFF0000, kEnd};
  EXPECT_EQ(GetShaderInputSemantics(ps0.data(), nullptr, nullptr), E_FAIL);
  EXPECT_EQ(Query(GetShaderOutputSemantics, ps0).records, (Records{{COL, 0}}));
}

TEST(GxlShaderBytecode, Pixel2InputsOtherThanTexturesAndTwoColours) {
  const DWORD dclV2[] = {Op(31, 2), 0x80000000, Dst(kInput, 2)};
  const DWORD dclTemp[] = {Op(31, 2), 0x80000000, Dst(kTemp, 0)};
  for (const auto* dcl : {dclV2, dclTemp}) {
    std::vector<DWORD> code = kPs20;
    code.insert(code.end() - 1, dcl, dcl + 3);
    ShaderSemantic out[8];
    EXPECT_EQ(GetShaderInputSemantics(code.data(), out, nullptr), E_FAIL);
    // Counting alone counts every declaration but the sampler's.
    UINT count = 0;
    EXPECT_EQ(GetShaderInputSemantics(code.data(), nullptr, &count), S_OK);
    EXPECT_EQ(count, 3u);
  }
}

TEST(GxlShaderBytecode, SizeAndVersion) {
  const std::vector<DWORD> bare = {0xFFFE0200, kEnd};
  EXPECT_EQ(GetShaderSize(bare.data()), 8u);
  EXPECT_EQ(GetShaderSize(nullptr), 0u);
  EXPECT_EQ(GetShaderVersion(nullptr), 0u);
  for (const auto* code : {&kVs11, &kVs30, &kPs11, &kPs14, &kPs20, &kPs30}) {
    EXPECT_EQ(GetShaderSize(code->data()), code->size() * 4);
    EXPECT_EQ(GetShaderVersion(code->data()), (*code)[0]);
  }
  // The size walk does not look at the version.
  const std::vector<DWORD> odd = {0x12340100, Op(81), 0, kEnd, kEnd, 0, 0, kEnd};
  EXPECT_EQ(GetShaderSize(odd.data()), 32u);
}

TEST(GxlShaderBytecode, CommentsOfLengthZeroOneAndMore) {
  EXPECT_EQ(Find(kVs11, Fcc('T', 'E', 'S', 'T')).data, &kVs11[kVs11.size() - 3]);
  const std::vector<DWORD> code = {0xFFFF0200, Comment(0), Comment(1), Fcc('A', 'B', 'C', 'D'),
                                   Comment(2), Fcc('A', 'B', 'C', 'D'), 5, kEnd};
  const Found f = Find(code, Fcc('A', 'B', 'C', 'D'));
  EXPECT_EQ(f.hr, S_OK);
  EXPECT_EQ(f.data, &code[6]);
  EXPECT_EQ(f.size, 4u);
}

TEST(GxlShaderBytecode, BoundedWalkStopsAtTheEndOfTheCode) {
  using gxl::shader::FindShaderCommentBounded;
  const std::vector<DWORD> code = {0xFFFF0200, Op(1, 2), Dst(kTemp, 0), Src(kTemp, 0),
                                   Comment(2), Fcc('A', 'B', 'C', 'D'), 5, kEnd};
  const DWORD tag = Fcc('A', 'B', 'C', 'D');
  for (std::size_t bytes = 4; bytes <= code.size() * 4; ++bytes) {
    // A heap copy of exactly the bytes given, so that any read past them is caught.
    std::vector<DWORD> copy(code.begin(), code.begin() + static_cast<long>(bytes / 4));
    const HRESULT hr = FindShaderCommentBounded(copy.data(), bytes, tag, nullptr, nullptr);
    EXPECT_EQ(hr, bytes >= 28 ? S_OK : GXLERR_INVALIDDATA) << bytes;
    const HRESULT absent = FindShaderCommentBounded(copy.data(), bytes, Fcc('N', 'O', 'N', 'E'), nullptr, nullptr);
    EXPECT_EQ(absent, bytes >= 32 ? S_FALSE : GXLERR_INVALIDDATA) << bytes;
  }
}

TEST(GxlShaderBytecode, BoundedWalkOfRandomTokens) {
  using gxl::shader::ShaderTokenWalker;
  std::mt19937 rng(7);
  const DWORD kinds[] = {0xFFFE0101, 0xFFFF0104, 0xFFFE0300, 0xFFFF0200, 0x46580200};
  for (int round = 0; round < 2000; ++round) {
    std::vector<DWORD> code(1 + rng() % 24);
    code[0] = kinds[rng() % 5];
    for (std::size_t i = 1; i < code.size(); ++i) {
      // Mostly small instructions, comments, parameters and the odd end token.
      switch (rng() % 5) {
        case 0: code[i] = Comment(rng() % 6); break;
        case 1: code[i] = Op(rng() % 100, rng() % 16); break;
        case 2: code[i] = kEnd; break;
        default: code[i] = 0x80000000u | rng(); break;
      }
    }
    for (auto mode : {ShaderTokenWalker::Mode::Instructions, ShaderTokenWalker::Mode::Parameters}) {
      ShaderTokenWalker walker(code.data(), code.size() * 4, mode);
      int steps = 0;
      for (auto item = walker.Next(); item != ShaderTokenWalker::Item::End && item != ShaderTokenWalker::Item::Overrun;
           item = walker.Next()) {
        ASSERT_LT(walker.Token(), code.data() + code.size());
        ASSERT_LT(++steps, 100);
      }
    }
  }
}

// --- Samplers ------------------------------------------------------------------

struct Samplers {
  HRESULT hr;
  std::vector<std::string> names;
};

Samplers Sample(const std::vector<DWORD>& code) {
  const char* names[17] = {};
  UINT count = 99;
  Samplers s{GetShaderSamplers(code.data(), names, &count), {}};
  if (SUCCEEDED(s.hr)) {
    for (UINT i = 0; i < count; ++i) {
      // Every name points into the code.
      EXPECT_GE(reinterpret_cast<const void*>(names[i]), reinterpret_cast<const void*>(code.data()));
      EXPECT_LT(reinterpret_cast<const void*>(names[i]), reinterpret_cast<const void*>(code.data() + code.size()));
      s.names.push_back(names[i]);
    }
  } else {
    EXPECT_EQ(count, 0u);
  }
  return s;
}

constexpr DWORD kCtab = Fcc('C', 'T', 'A', 'B');

TEST(GxlShaderBytecode, SamplersOfAConstantTable) {
  // Three records: a float constant and two samplers; names after the records.
  const std::string strings = std::string("Colour\0Base\0Detail\0", 19);
  const auto body = ConstantTableBody(3, 28, {{88, 2}, {95, 3}, {100, 3}}, strings, 88);
  EXPECT_EQ(Sample(CodeWithBlock(0xFFFF0200, kCtab, body)).names, (std::vector<std::string>{"Base", "Detail"}));
  // Vertex and expression code list none, whatever their table holds.
  EXPECT_EQ(Sample(CodeWithBlock(0xFFFE0200, kCtab, body)).names.size(), 0u);
  EXPECT_EQ(Sample(CodeWithBlock(0x46580200, kCtab, body)).hr, S_OK);
  EXPECT_EQ(Sample(CodeWithBlock(0x54580100, kCtab, body)).hr, GXLERR_INVALIDDATA);
  // Without a table: none.
  const Samplers none = Sample({0xFFFF0200, kEnd});
  EXPECT_EQ(none.hr, S_OK);
  EXPECT_TRUE(none.names.empty());
  const char* names[16];
  EXPECT_EQ(GetShaderSamplers(nullptr, names, nullptr), D3DERR_INVALIDCALL);
}

TEST(GxlShaderBytecode, MalformedConstantTables) {
  const std::string name = std::string("s\0", 2);
  const struct {
    const char* what;
    std::vector<std::uint8_t> body;
    HRESULT hr;
  } kCases[] = {
      {"shorter than its header", std::vector<std::uint8_t>(24, 0), GXLERR_INVALIDDATA},
      {"fewer bytes than its records", ConstantTableBody(4, 28, {{60, 3}}, name, 60), GXLERR_INVALIDDATA},
      // 28 + 20 x count wraps to 32 in 32 bits.
      {"a count near 2^32", ConstantTableBody(0x0CCCCCCD, 28, {{60, 3}}, name, 60), GXLERR_INVALIDDATA},
      {"records past the end", ConstantTableBody(1, 0xFFFFFFF0, {}, name, 60), GXLERR_INVALIDDATA},
      {"records that run out of the block", ConstantTableBody(1, 52, {}, name, 28), GXLERR_INVALIDDATA},
      {"a name offset past the block", ConstantTableBody(1, 28, {{0x7FFFFFFF, 3}}, name, 48), GXLERR_INVALIDDATA},
      {"a name without NUL", ConstantTableBody(1, 28, {{48, 3}}, "abcd", 48), GXLERR_INVALIDDATA},
      {"a name without NUL, not a sampler", ConstantTableBody(1, 28, {{48, 2}}, "abcd", 48), S_OK},
      {"records inside the header", ConstantTableBody(1, 0, {{0, 3}}, "", 28), GXLERR_INVALIDDATA},
  };
  for (const auto& c : kCases) {
    std::vector<DWORD> code = CodeWithBlock(0xFFFF0200, kCtab, c.body);
    EXPECT_EQ(Sample(code).hr, c.hr) << c.what;
  }
  // Seventeen samplers are too many; sixteen are not.
  for (int n : {16, 17}) {
    std::vector<ConstantRecord> records(n, ConstantRecord{28 + 20 * DWORD(n), 3});
    const auto body = ConstantTableBody(n, 28, records, std::string("s\0", 2), 28 + 20 * n);
    EXPECT_EQ(Sample(CodeWithBlock(0xFFFF0300, kCtab, body)).hr, n == 16 ? S_OK : GXLERR_INVALIDDATA);
  }
}

TEST(GxlShaderBytecode, DebugInformation) {
  gxl::ComRef<DataBuffer> buffer;
  const std::vector<DWORD> with = {0xFFFE0200, Comment(4), Fcc('D', 'B', 'U', 'G'), 12, 34, 56, kEnd};
  ASSERT_EQ(GetShaderDebugInfo(with.data(), buffer.Put()), S_OK);
  ASSERT_EQ(buffer->GetSize(), 12u);
  EXPECT_EQ(std::memcmp(buffer->GetPointer(), &with[3], 12), 0);
  const std::vector<DWORD> without = {0xFFFE0200, kEnd};
  ASSERT_EQ(GetShaderDebugInfo(without.data(), buffer.Put()), S_OK);
  ASSERT_EQ(buffer->GetSize(), 40u);
  std::vector<DWORD> words(10);
  std::memcpy(words.data(), buffer->GetPointer(), 40);
  EXPECT_EQ(words, (std::vector<DWORD>{40, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(GetShaderDebugInfo(nullptr, buffer.Put()), D3DERR_INVALIDCALL);
  EXPECT_EQ(GetShaderDebugInfo(without.data(), nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
