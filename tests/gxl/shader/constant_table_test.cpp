// The constant table over "CTAB" blocks laid out by hand: name paths,
// handles, members and elements, descriptions, the checks on malformed
// blocks, and mutated blocks that must give only error codes.
#include "gxl/shader/compiler/constant_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ctab_image.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "tests/support/test_util.h"

namespace {

using gxl::ComRef;
using shadertest::CtabImage;

enum : std::uint16_t { kScalar = 0, kVector = 1, kRows = 2, kColumns = 3, kObject = 4, kStruct = 5 };
enum : std::uint16_t { kBoolSet = 0, kIntSet = 1, kFloatSet = 2, kSamplerSet = 3 };

// lights: struct { float3 color; float intensity; }[3] at c10; a name in two
// sets; a matrix, a vector with a default, a sampler and an int vector.
CtabImage Scene(DWORD version = 0xFFFE0200) {
  CtabImage img(version);
  const std::uint32_t float3 = img.Type(kVector, 3, 1, 3, 1);
  const std::uint32_t float1 = img.Type(kScalar, 3, 1, 1, 1);
  const std::uint32_t light = img.Type(kStruct, 0, 1, 4, 3, {{"color", float3}, {"intensity", float1}});
  const std::uint32_t matrix = img.Type(kColumns, 3, 4, 4, 1);
  const std::uint32_t float4 = img.Type(kVector, 3, 1, 4, 1);
  const std::uint32_t boolean = img.Type(kScalar, 1, 1, 1, 1);
  const std::uint32_t sampler = img.Type(kObject, 12, 1, 1, 1);
  const std::uint32_t int4 = img.Type(kVector, 2, 1, 4, 1);
  const std::uint32_t tint = img.Floats({1.0f, 0.5f, 0.25f, 1.0f});
  img.Constant("flag", kFloatSet, 5, 1, float1);
  img.Constant("flag", kBoolSet, 0, 1, boolean);
  img.Constant("lights", kFloatSet, 10, 6, light);
  img.Constant("loops", kIntSet, 0, 1, int4);
  img.Constant("tex", kSamplerSet, 1, 1, sampler);
  img.Constant("tint", kFloatSet, 4, 1, float4, tint);
  img.Constant("world", kFloatSet, 0, 4, matrix);
  return img;
}

ComRef<ConstantTable> Create(const std::vector<DWORD>& code, HRESULT* result = nullptr) {
  ComRef<ConstantTable> table;
  const HRESULT hr = CreateShaderConstantTable(code.data(), table.Put());
  if (result) *result = hr;
  return table;
}

struct GxlConstantTable : ::testing::Test {
  std::vector<DWORD> code = Scene().Code();
  ComRef<ConstantTable> table = Create(code);

  ConstantDesc Desc(ConstantHandle h) {
    ConstantDesc d{};
    EXPECT_EQ(table->DescribeConstants(h, &d, nullptr), S_OK);
    return d;
  }
};

TEST_F(GxlConstantTable, NamePathsResolveToRecords) {
  ASSERT_TRUE(table);
  struct Path {
    const char* path;
    UINT set, reg, count, typeClass, elements;
    const char* name;
  };
  const Path paths[] = {
      {"lights", 2, 10, 6, kStruct, 3, "lights"},
      {"lights[1]", 2, 12, 2, kStruct, 1, "lights"},
      {" lights [ 2 ] . color ", 2, 14, 1, kVector, 1, "color"},
      {"lights[2].color", 2, 14, 1, kVector, 1, "color"},
      {"lights[2].intensity", 2, 15, 1, kScalar, 1, "intensity"},
      {"lights.intensity", 2, 11, 1, kScalar, 1, "intensity"},
      {"world", 2, 0, 4, kColumns, 1, "world"},
      {"tint[0]", 2, 4, 1, kVector, 1, "tint"},
      {"loops", 1, 0, 1, kVector, 1, "loops"},
  };
  for (const Path& p : paths) {
    const ConstantHandle h = table->ConstantByName(nullptr, p.path);
    ASSERT_NE(h, nullptr) << p.path;
    const ConstantDesc d = Desc(h);
    EXPECT_STREQ(d.name, p.name) << p.path;
    EXPECT_EQ(d.registerSet, p.set) << p.path;
    EXPECT_EQ(d.registerIndex, p.reg) << p.path;
    EXPECT_EQ(d.registerCount, p.count) << p.path;
    EXPECT_EQ(d.typeClass, p.typeClass) << p.path;
    EXPECT_EQ(d.elements, p.elements) << p.path;
  }
  for (const char* bad : {"", "  ", "lights[3]", "world.x", "tint[1]", "tint.", "lights[]", "lights[1", "lights]",
                          "lights[1]color", "light", "lightsx", "-tint", "lights..color", "lights[1]..color"}) {
    EXPECT_EQ(table->ConstantByName(nullptr, bad), nullptr) << bad;
    ConstantDesc d{};
    EXPECT_EQ(table->DescribeConstants(bad, &d, nullptr), D3DERR_INVALIDCALL) << bad;
  }
}

TEST_F(GxlConstantTable, HandlesAreRegistryIndexesThatComeBackUnchanged) {
  ASSERT_TRUE(table);
  const ConstantHandle tint = table->ConstantByName(nullptr, "tint");
  ASSERT_NE(tint, nullptr);
  const auto value = reinterpret_cast<std::intptr_t>(tint);
  EXPECT_LT(value, 0);
  EXPECT_LT(-value, 1 << 20);  // an index, never an address
  EXPECT_EQ(table->ConstantByName(nullptr, tint), tint);
  EXPECT_EQ(table->ConstantElement(tint, 0), tint);
  EXPECT_EQ(table->ConstantElement(tint, 1), nullptr);
  // Elements are built once: every road to one gives the same handle.
  const ConstantHandle lights = table->ConstantByName(nullptr, "lights");
  const ConstantHandle second = table->ConstantElement(lights, 1);
  EXPECT_EQ(second, table->ConstantByName(nullptr, "lights[1]"));
  EXPECT_EQ(table->ConstantByName(second, "intensity"), table->ConstantByName(nullptr, "lights[1].intensity"));
  EXPECT_EQ(table->ConstantByName(second, ".intensity"), table->ConstantByName(second, "intensity"));
  EXPECT_EQ(table->ConstantByIndex(second, 1), table->ConstantByName(second, "intensity"));
  EXPECT_EQ(table->ConstantByIndex(second, 2), nullptr);
  EXPECT_EQ(table->ConstantByIndex(nullptr, 7), nullptr);
  EXPECT_STREQ(Desc(table->ConstantByIndex(nullptr, 6)).name, "world");
  // Handles the table never gave out.
  for (std::intptr_t h : {std::intptr_t{-1000000}, std::intptr_t{-9999}, INTPTR_MIN}) {
    const auto bogus = reinterpret_cast<ConstantHandle>(h);
    EXPECT_EQ(table->ConstantByName(nullptr, bogus), nullptr);
    EXPECT_EQ(table->ConstantElement(bogus, 0), nullptr);
    EXPECT_EQ(table->ConstantByIndex(bogus, 0), nullptr);
    EXPECT_EQ(table->SamplerIndex(bogus), -1);
    ConstantDesc d{};
    EXPECT_EQ(table->DescribeConstants(bogus, &d, nullptr), D3DERR_INVALIDCALL);
  }
}

TEST_F(GxlConstantTable, SharedNamesChainTheirRecords) {
  ASSERT_TRUE(table);
  ConstantDesc d[3] = {};
  UINT count = 0;
  ASSERT_EQ(table->DescribeConstants("flag", d, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(d[0].registerSet, 2u);
  EXPECT_EQ(d[1].name, nullptr);  // only one filled
  count = 3;
  ASSERT_EQ(table->DescribeConstants("flag", d, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(d[1].registerSet, 0u);
  EXPECT_EQ(d[1].type, 1u);
  count = 9;
  EXPECT_EQ(table->DescribeConstants("flag", nullptr, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(table->DescribeConstants("flag", nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(GxlConstantTable, DescriptionsAndSamplers) {
  ASSERT_TRUE(table);
  ConstantTableDesc t{};
  ASSERT_EQ(table->Describe(&t), S_OK);
  EXPECT_STREQ(t.creator, "hand-laid");
  EXPECT_EQ(t.version, 0xFFFE0200u);
  EXPECT_EQ(t.constants, 7u);
  EXPECT_EQ(table->Describe(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(table->DataSize() % 4, 0u);
  EXPECT_EQ(std::memcmp(table->Data(), code.data() + 3, table->DataSize()), 0);

  const ConstantDesc tint = Desc("tint");
  EXPECT_EQ(tint.bytes, 16u);
  ASSERT_NE(tint.defaultValue, nullptr);
  float values[4];
  std::memcpy(values, tint.defaultValue, sizeof values);
  EXPECT_EQ(values[1], 0.5f);
  EXPECT_EQ(Desc("world").bytes, 64u);
  EXPECT_EQ(Desc("lights").bytes, 3u * 4 * 4);
  EXPECT_EQ(Desc("lights").structMembers, 2u);
  EXPECT_EQ(table->SamplerIndex("tex"), 1);
  EXPECT_EQ(table->SamplerIndex("tint"), -1);
  EXPECT_EQ(table->SamplerIndex("nothing"), -1);

  void* out = nullptr;
  EXPECT_EQ(table->QueryInterface(IID_ConstantTable, &out), S_OK);
  EXPECT_EQ(out, table.Get());
  EXPECT_EQ(table->Release(), 1u);
  EXPECT_EQ(table->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(table->Release(), 1u);
  EXPECT_EQ(table->QueryInterface(IID_DataBuffer, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(GxlConstantTable, MembersAreCutToTheirParentsRegisters) {
  CtabImage img;
  const std::uint32_t float4 = img.Type(kVector, 3, 1, 4, 1);
  const std::uint32_t pair = img.Type(kStruct, 0, 1, 8, 1, {{"a", float4}, {"b", float4}});
  img.Constant("p", kFloatSet, 7, 1, pair);
  img.Constant("q", kFloatSet, 9, 2, pair);
  code = img.Code();
  table = Create(code);
  ASSERT_TRUE(table);
  struct Expected {
    const char* path;
    UINT reg, count;
  };
  for (const Expected& e :
       {Expected{"p.a", 7, 1}, Expected{"p.b", 8, 0}, Expected{"q.a", 9, 1}, Expected{"q.b", 10, 1}}) {
    const ConstantDesc d = Desc(e.path);
    EXPECT_EQ(d.registerIndex, e.reg) << e.path;
    EXPECT_EQ(d.registerCount, e.count) << e.path;
  }
}

TEST_F(GxlConstantTable, CreationOverEveryKindOfCode) {
  HRESULT hr = S_OK;
  EXPECT_FALSE(Create(Scene(0x54580100).Code(), &hr));  // texture-shader code: no table
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(Create(Scene(0xFFFF0300).Code(), &hr));
  ConstantTable* out = reinterpret_cast<ConstantTable*>(1);
  EXPECT_EQ(CreateShaderConstantTable(nullptr, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CreateShaderConstantTable(code.data(), nullptr), D3DERR_INVALIDCALL);
  // No block; an empty table.
  EXPECT_FALSE(Create({0xFFFE0200, shadertest::kEnd}, &hr));
  EXPECT_EQ(hr, GXLERR_INVALIDDATA);
  CtabImage empty;
  ComRef<ConstantTable> none = Create(empty.Code(), &hr);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->ConstantByIndex(nullptr, 0), nullptr);
  EXPECT_EQ(none->WriteDefaults(nullptr), S_OK);
}

TEST_F(GxlConstantTable, ConstantBufferCoversTheFloatRegisters) {
  struct Case {
    std::uint16_t reg, count;
    DWORD bytes;
  };
  for (const Case& c : {Case{0, 3, 48}, Case{5, 1, 96}}) {
    CtabImage img(0x54580100);
    img.Constant("k", kFloatSet, c.reg, c.count, img.Type(kVector, 3, 1, 4, c.count));
    img.Constant("n", kIntSet, 40, 1, img.Type(kVector, 2, 1, 4, 1));
    const std::vector<DWORD> tx = img.Code();
    ConstantTable* created = nullptr;
    ASSERT_EQ(CreateShaderConstantTable(tx.data(), &created), S_OK);
    EXPECT_EQ(created, nullptr);
    // The texture shader's road: a table asked for its buffer.
    auto* t = new ConstantTable;
    ComRef<ConstantTable> owner(t);
    ComRef<DataBuffer> buffer;
    ASSERT_EQ(t->InitFromCode(tx.data(), buffer.Put()), S_OK);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->GetSize(), c.bytes);
  }
}

// Spoils a well-formed block one way each.
struct Spoil {
  const char* what;
  std::function<void(CtabImage&)> before;                 // on the image
  std::function<void(std::vector<std::uint8_t>&)> after;  // on the finished body
  HRESULT expected;
};

std::uint32_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
void SetWord(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
void SetHalf(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
// The byte offset of the first constant record's field.
std::size_t EntryField(const std::vector<std::uint8_t>& b, std::size_t field) { return Word(b, 16) + field; }

TEST_F(GxlConstantTable, MalformedBlocksAreRefused) {
  const HRESULT bad = GXLERR_INVALIDDATA;
  const Spoil spoils[] = {
      {"header size 24", [](CtabImage& i) { i.headerSize = 24; }, nullptr, bad},
      {"creator past the end", [](CtabImage& i) { i.creator = 100000; }, nullptr, bad},
      {"target past the end", [](CtabImage& i) { i.target = 100000; }, nullptr, bad},
      {"constant count past the block", [](CtabImage& i) { i.countOverride = 1000; }, nullptr, bad},
      {"records past the block", nullptr, [](auto& b) { SetWord(b, 16, static_cast<std::uint32_t>(b.size()) - 8); },
       bad},
      {"name past the end", nullptr, [](auto& b) { SetWord(b, EntryField(b, 0), 1u << 30); }, bad},
      {"name without its NUL", nullptr,
       [](auto& b) {
         SetWord(b, EntryField(b, 0), static_cast<std::uint32_t>(b.size()) - 1);
         b.back() = 'x';
       },
       bad},
      {"type past the end", nullptr,
       [](auto& b) { SetWord(b, EntryField(b, 12), static_cast<std::uint32_t>(b.size()) - 8); }, bad},
      {"default past the end", nullptr,
       [](auto& b) { SetWord(b, EntryField(b, 16), static_cast<std::uint32_t>(b.size()) - 4); }, bad},
      {"register count past the default", nullptr,
       [](auto& b) {
         SetWord(b, EntryField(b, 16), 28);
         SetHalf(b, EntryField(b, 8), 0xFFFF);
       },
       bad},
  };
  for (const Spoil& s : spoils) {
    CtabImage img;
    const std::uint32_t float4 = img.Type(kVector, 3, 1, 4, 1);
    img.Constant("a", kFloatSet, 0, 1, float4, img.Floats({1, 2, 3, 4}));
    if (s.before) s.before(img);
    std::vector<std::uint8_t> body = img.Body();
    if (s.after) s.after(body);
    HRESULT hr = S_OK;
    EXPECT_FALSE(Create(shadertest::CodeWithBlock(0xFFFE0200, shadertest::Fcc('C', 'T', 'A', 'B'), body), &hr))
        << s.what;
    EXPECT_EQ(hr, s.expected) << s.what;
  }
}

TEST_F(GxlConstantTable, TypesMustEndAndNestAtMost64Deep) {
  auto nest = [](CtabImage& img, int depth) {
    std::uint32_t t = img.Type(kVector, 3, 1, 4, 1);
    for (int i = 1; i < depth; ++i) t = img.Type(kStruct, 0, 1, 4, 1, {{"m", t}});
    return t;
  };
  auto oneMember = [](CtabImage& img) { return img.Type(kStruct, 0, 1, 4, 1, {{"m", 0}}); };
  // The finished body, with the entry's type record at typeAt.
  using Patch = std::function<void(std::vector<std::uint8_t>&, std::uint32_t typeAt)>;
  struct Case {
    const char* what;
    std::function<std::uint32_t(CtabImage&)> type;
    Patch patch;
    HRESULT expected;
  };
  const Case cases[] = {
      {"64 levels", [&](CtabImage& img) { return nest(img, 64); }, nullptr, S_OK},
      {"65 levels", [&](CtabImage& img) { return nest(img, 65); }, nullptr, GXLERR_INVALIDDATA},
      {"no elements", [](CtabImage& img) { return img.Type(kVector, 3, 1, 4, 0); }, nullptr, GXLERR_INVALIDDATA},
      {"member infos past the end", oneMember,
       [](auto& b, std::uint32_t typeAt) { SetWord(b, typeAt + 12, static_cast<std::uint32_t>(b.size()) - 4); },
       GXLERR_INVALIDDATA},
      {"a member type that refers to its struct", oneMember,
       [](auto& b, std::uint32_t typeAt) { SetWord(b, Word(b, typeAt + 12) + 4, typeAt); }, GXLERR_INVALIDDATA},
      {"a member name past the end", oneMember,
       [](auto& b, std::uint32_t typeAt) { SetWord(b, Word(b, typeAt + 12), 1u << 20); }, GXLERR_INVALIDDATA},
  };
  for (const Case& c : cases) {
    CtabImage img;
    img.Constant("x", kFloatSet, 0, 4, c.type(img));
    std::vector<std::uint8_t> body = img.Body();
    if (c.patch) c.patch(body, Word(body, EntryField(body, 12)));
    HRESULT hr = S_OK;
    Create(shadertest::CodeWithBlock(0xFFFE0200, shadertest::Fcc('C', 'T', 'A', 'B'), body), &hr);
    EXPECT_EQ(hr, c.expected) << c.what;
  }
}

// Every operation of a table that came out of a mutated block, with every
// handle it gives out: only error codes may come back.
void Exercise(ConstantTable* t, DataBuffer* buffer) {
  ConstantTableDesc td{};
  t->Describe(&td);
  float values[64] = {1, 2, 3};
  Matrix4 m[2] = {};
  const Matrix4* pointers[2] = {&m[0], &m[1]};
  for (UINT i = 0; i < td.constants && i < 64; ++i) {
    ConstantHandle stack[8] = {t->ConstantByIndex(nullptr, i)};
    int n = 1;
    while (n > 0) {
      const ConstantHandle h = stack[--n];
      if (!h) continue;
      ConstantDesc d[2];
      UINT count = 2;
      t->DescribeConstants(h, d, &count);
      t->SamplerIndex(h);
      t->WriteFloatArray(buffer, h, values, 64);
      t->WriteMatrixPointers(buffer, h, pointers, 2);
      t->WriteRaw(buffer, h, values, sizeof values);
      if (d[0].name) t->ConstantByName(nullptr, d[0].name);
      for (UINT k = 0; k < 2 && n < 8; ++k) stack[n++] = t->ConstantByIndex(h, k);
      for (UINT k = 0; k < 2 && n < 8; ++k) stack[n++] = t->ConstantElement(h, k + 1);
    }
  }
  t->WriteDefaults(buffer);
}

TEST_F(GxlConstantTable, MutatedBlocksGiveOnlyErrorCodes) {
  CtabImage img(0x54580100);
  const std::uint32_t float4 = img.Type(kVector, 3, 1, 4, 1);
  const std::uint32_t float3 = img.Type(kVector, 3, 1, 3, 2);
  const std::uint32_t inner = img.Type(kStruct, 0, 1, 7, 2, {{"a", float4}, {"b", float3}});
  const std::uint32_t outer = img.Type(kStruct, 0, 1, 14, 3, {{"in", inner}, {"w", float4}});
  const std::uint32_t matrix = img.Type(kColumns, 3, 4, 3, 2);
  img.Constant("m", kFloatSet, 0, 6, matrix, img.Floats(std::vector<float>(24, 0.5f)));
  img.Constant("s", kFloatSet, 6, 30, outer);
  img.Constant("v", kFloatSet, 36, 1, float4, img.Floats({1, 2, 3, 4}));
  const std::vector<std::uint8_t> body = img.Body();
  ComRef<DataBuffer> buffer;
  ASSERT_EQ(CreateDataBuffer(64 * 16, buffer.Put()), S_OK);

  std::mt19937 rng(20240607);
  int accepted = 0;
  for (int round = 0; round < nura::test::LongOrShare(20000, 5000); ++round) {
    std::vector<std::uint8_t> b = body;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % (b.size() - 3);
      switch (rng() % 5) {
        case 0:
          b[at] = static_cast<std::uint8_t>(rng());
          break;  // any byte
        case 1:
          SetWord(b, at & ~std::size_t{3}, rng() % (b.size() + 8));
          break;  // an offset near the block
        case 2:
          SetHalf(b, at & ~std::size_t{1}, static_cast<std::uint16_t>(rng() % 70));
          break;  // a count
        case 3:
          SetHalf(b, at & ~std::size_t{1}, static_cast<std::uint16_t>(rng()));
          break;
        default: {  // a member pointing at some type record (perhaps its own)
          const std::uint32_t types[] = {float4, float3, inner, outer, matrix};
          SetWord(b, at & ~std::size_t{3}, types[rng() % 5]);
        }
      }
    }
    HRESULT hr = S_OK;
    auto* t = new ConstantTable;
    ComRef<ConstantTable> owner(t);
    const std::vector<DWORD> tx = shadertest::CodeWithBlock(0x54580100, shadertest::Fcc('C', 'T', 'A', 'B'), b);
    hr = t->InitFromCode(tx.data(), nullptr);
    ASSERT_TRUE(hr == S_OK || hr == GXLERR_INVALIDDATA || hr == E_OUTOFMEMORY) << std::hex << hr;
    if (hr != S_OK) continue;
    ++accepted;
    Exercise(t, buffer.Get());
  }
  EXPECT_GT(accepted, 1000);  // the mutations leave many blocks usable
}

}  // namespace
