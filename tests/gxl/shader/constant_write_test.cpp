// The constant table's writers into the software Direct3D device, read back
// through its Get*ShaderConstant* calls, and into a texture shader's constant
// buffer: shaping, conversion and widening per class and register set, and
// the equalities between the source forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ctab_image.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "tests/support/alloc_gauge.h"
#include "tests/support/d3d9_params.h"

namespace {

using gxl::ComRef;
using shadertest::CtabImage;

enum : std::uint16_t { kScalar = 0, kVector = 1, kRows = 2, kColumns = 3, kObject = 4, kStruct = 5 };
enum : std::uint16_t { kBoolSet = 0, kIntSet = 1, kFloatSet = 2, kSamplerSet = 3 };
enum : std::uint16_t { kBool = 1, kInt = 2, kFloat = 3 };
constexpr float kSentinel = 99.0f;

CtabImage Constants(DWORD version) {
  CtabImage img(version);
  const std::uint32_t f1 = img.Type(kScalar, kFloat, 1, 1, 1);
  const std::uint32_t b1 = img.Type(kScalar, kBool, 1, 1, 1);
  const std::uint32_t f4 = img.Type(kVector, kFloat, 1, 4, 1);
  const std::uint32_t f2 = img.Type(kVector, kFloat, 1, 2, 1);
  const std::uint32_t pair = img.Type(kStruct, 0, 1, 6, 2, {{"a", f4}, {"b", f2}});
  // Sorted by name.
  img.Constant("bb", kBoolSet, 0, 1, b1);
  img.Constant("bf", kFloatSet, 7, 1, b1);
  img.Constant("dual", kFloatSet, 8, 1, f1);
  img.Constant("dual", kBoolSet, 1, 1, b1);
  img.Constant("f3a", kFloatSet, 0, 2, img.Type(kVector, kFloat, 1, 3, 2));
  img.Constant("i1", kIntSet, 0, 1, img.Type(kScalar, kInt, 1, 1, 1), img.Words({7, 8, 9, 10}));
  img.Constant("i2", kIntSet, 1, 1, img.Type(kVector, kInt, 1, 2, 1));
  img.Constant("m43c", kFloatSet, 4, 3, img.Type(kColumns, kFloat, 4, 3, 1));
  img.Constant("m44c", kFloatSet, 20, 8, img.Type(kColumns, kFloat, 4, 4, 2));
  img.Constant("m44r", kFloatSet, 28, 8, img.Type(kRows, kFloat, 4, 4, 2));
  img.Constant("sa", kFloatSet, 10, 4, pair);
  img.Constant("tex", kSamplerSet, 0, 1, img.Type(kObject, 12, 1, 1, 1));
  img.Constant("v4", kFloatSet, 40, 4, img.Type(kVector, kFloat, 1, 4, 4),
               img.Floats({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  return img;
}

Matrix4 Counting(float base) {
  Matrix4 m;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.m[r][c] = base + 10.0f * r + c;
  return m;
}

class GxlConstantWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &dev), D3D_OK);
    code = Constants(0xFFFE0300).Code();
    ASSERT_EQ(CreateShaderConstantTable(code.data(), table.Put()), S_OK);
    ASSERT_TRUE(table);
    Fill(kSentinel);
  }
  void TearDown() override {
    table.Reset();
    if (dev) {
      EXPECT_EQ(dev->Release(), 0u);
    }
    if (d3d) {
      EXPECT_EQ(d3d->Release(), 0u);
    }
  }
  void Fill(float value) {
    std::vector<float> f(64 * 4, value);
    std::vector<int> i(16 * 4, 99);
    std::vector<BOOL> b(16, 99);
    ASSERT_EQ(dev->SetVertexShaderConstantF(0, f.data(), 64), D3D_OK);
    ASSERT_EQ(dev->SetVertexShaderConstantI(0, i.data(), 16), D3D_OK);
    ASSERT_EQ(dev->SetVertexShaderConstantB(0, b.data(), 16), D3D_OK);
  }
  std::vector<float> F(UINT first, UINT count) {
    std::vector<float> out(count * 4);
    EXPECT_EQ(dev->GetVertexShaderConstantF(first, out.data(), count), D3D_OK);
    return out;
  }
  std::vector<int> I(UINT first, UINT count) {
    std::vector<int> out(count * 4);
    EXPECT_EQ(dev->GetVertexShaderConstantI(first, out.data(), count), D3D_OK);
    return out;
  }
  std::vector<BOOL> B(UINT first, UINT count) {
    std::vector<BOOL> out(count);
    EXPECT_EQ(dev->GetVertexShaderConstantB(first, out.data(), count), D3D_OK);
    return out;
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* dev = nullptr;
  std::vector<DWORD> code;
  ComRef<ConstantTable> table;
};

TEST_F(GxlConstantWrite, WholeElementsOfAFloat3Array) {
  const float xs[6] = {1, 2, 3, 4, 5, 6};
  const float s = kSentinel;
  struct Case {
    UINT count;
    std::vector<float> registers;
  };
  const Case cases[] = {{3, {1, 2, 3, 0, s, s, s, s}},
                        {6, {1, 2, 3, 0, 4, 5, 6, 0}},
                        {5, {1, 2, 3, 0, s, s, s, s}},
                        {2, {s, s, s, s, s, s, s, s}}};
  for (const Case& c : cases) {
    Fill(kSentinel);
    EXPECT_EQ(table->WriteFloatArray(dev, "f3a", xs, c.count), S_OK);
    EXPECT_EQ(F(0, 2), c.registers) << c.count;
  }
}

TEST_F(GxlConstantWrite, IntRegistersReadZeroZeroOneZeroWhereUnwritten) {
  ASSERT_EQ(table->WriteInt(dev, "i1", 5), S_OK);
  const INT pair[2] = {5, 6};
  ASSERT_EQ(table->WriteIntArray(dev, "i2", pair, 2), S_OK);
  EXPECT_EQ(I(0, 2), (std::vector<int>{5, 0, 1, 0, 5, 6, 1, 0}));
  // Floats truncate toward zero; what no int holds reads INT_MIN.
  struct Case {
    float value;
    int expected;
  };
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case& c : {Case{2.7f, 2}, Case{-2.7f, -2}, Case{0.0f, 0}, Case{3e9f, INT32_MIN}, Case{-inf, INT32_MIN},
                        Case{std::numeric_limits<float>::quiet_NaN(), INT32_MIN}}) {
    ASSERT_EQ(table->WriteFloat(dev, "i1", c.value), S_OK);
    EXPECT_EQ(I(0, 1)[0], c.expected) << c.value;
  }
  ASSERT_EQ(table->WriteBool(dev, "i1", 7), S_OK);
  EXPECT_EQ(I(0, 1), (std::vector<int>{1, 0, 1, 0}));
}

TEST_F(GxlConstantWrite, BoolsKeepTheirValueInTheBoolSet) {
  ASSERT_EQ(table->WriteBool(dev, "bb", 7), S_OK);
  EXPECT_EQ(B(0, 1)[0], 7);
  ASSERT_EQ(table->WriteBool(dev, "bf", 7), S_OK);
  EXPECT_EQ(F(7, 1), (std::vector<float>{1, 0, 0, 0}));
  ASSERT_EQ(table->WriteFloat(dev, "bb", 0.25f), S_OK);
  EXPECT_EQ(B(0, 1)[0], 1);
  ASSERT_EQ(table->WriteInt(dev, "bf", 0), S_OK);
  EXPECT_EQ(F(7, 1), (std::vector<float>{0, 0, 0, 0}));
}

TEST_F(GxlConstantWrite, ASharedNameWritesBothConstants) {
  ASSERT_EQ(table->WriteFloat(dev, "dual", 3.0f), S_OK);
  EXPECT_EQ(F(8, 1), (std::vector<float>{3, 0, 0, 0}));
  EXPECT_EQ(B(1, 1)[0], 1);
}

TEST_F(GxlConstantWrite, MatricesByColumnsHoldOneColumnPerRegister) {
  const Matrix4 m = Counting(0);
  ASSERT_EQ(table->WriteMatrix(dev, "m43c", &m), S_OK);
  EXPECT_EQ(F(4, 3), (std::vector<float>{0, 10, 20, 30, 1, 11, 21, 31, 2, 12, 22, 32}));
  // By columns = transposed by rows, for arrays and pointers alike.
  const Matrix4 two[2] = {Counting(0), Counting(100)};
  const Matrix4* pointers[2] = {&two[0], &two[1]};
  ASSERT_EQ(table->WriteMatrixArray(dev, "m44c", two, 2), S_OK);
  ASSERT_EQ(table->WriteTransposedMatrixArray(dev, "m44r", two, 2), S_OK);
  const std::vector<float> byColumns = F(20, 8);
  EXPECT_EQ(F(28, 8), byColumns);
  EXPECT_EQ(byColumns[1], 10.0f);
  Fill(kSentinel);
  ASSERT_EQ(table->WriteMatrixPointers(dev, "m44c", pointers, 2), S_OK);
  ASSERT_EQ(table->WriteTransposedMatrixPointers(dev, "m44r", pointers, 2), S_OK);
  EXPECT_EQ(F(20, 8), byColumns);
  EXPECT_EQ(F(28, 8), byColumns);
  Fill(kSentinel);
  ASSERT_EQ(table->WriteMatrix(dev, "m44r", &two[0]), S_OK);
  ASSERT_EQ(table->WriteTransposedMatrix(dev, "m44c", &two[0]), S_OK);
  EXPECT_EQ(F(28, 4), std::vector<float>(&two[0].m[0][0], &two[0].m[0][0] + 16));
  EXPECT_EQ(F(20, 4), F(28, 4));
  EXPECT_EQ(F(32, 1), (std::vector<float>(4, kSentinel)));  // one matrix writes one element
}

TEST_F(GxlConstantWrite, StructArraysTakeMemberAfterMemberElementAfterElement) {
  const Vec4 v[4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  ASSERT_EQ(table->WriteVectorArray(dev, "sa", v, 4), S_OK);
  EXPECT_EQ(F(10, 4), (std::vector<float>{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}));
  // One element of it: registers 12 and 13 only.
  Fill(kSentinel);
  ASSERT_EQ(table->WriteVectorArray(dev, "sa[1]", v, 2), S_OK);
  EXPECT_EQ(F(10, 4), (std::vector<float>{kSentinel, kSentinel, kSentinel, kSentinel, kSentinel, kSentinel, kSentinel,
                                          kSentinel, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST_F(GxlConstantWrite, SourceFormsAgree) {
  const float flat[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  Vec4 vectors[4];
  std::memcpy(vectors, flat, sizeof flat);
  struct Pair {
    const char* what;
    std::function<HRESULT()> a, b;
    const char* name;
    UINT first, count;
  };
  const Matrix4 m = Counting(1);
  const Pair pairs[] = {
      {"vectors = floats", [&] { return table->WriteVectorArray(dev, "v4", vectors, 4); },
       [&] { return table->WriteFloatArray(dev, "v4", flat, 16); }, "v4", 40, 4},
      {"raw image = floats", [&] { return table->WriteRaw(dev, "v4", flat, sizeof flat); },
       [&] { return table->WriteFloatArray(dev, "v4", flat, 16); }, "v4", 40, 4},
      {"raw = matrix", [&] { return table->WriteRaw(dev, "m44c", &m, sizeof m); },
       [&] { return table->WriteMatrix(dev, "m44c", &m); }, "m44c", 20, 4},
      {"one vector = its floats", [&] { return table->WriteVector(dev, "v4[2]", &vectors[1]); },
       [&] { return table->WriteFloatArray(dev, "v4[2]", flat + 4, 4); }, "v4", 42, 1},
      {"matrix rows as vectors", [&] { return table->WriteMatrixArray(dev, "v4", &m, 1); },
       [&] { return table->WriteVectorArray(dev, "v4", reinterpret_cast<const Vec4*>(&m), 4); }, "v4", 40, 4},
  };
  for (const Pair& p : pairs) {
    Fill(kSentinel);
    ASSERT_EQ(p.a(), S_OK) << p.what;
    const std::vector<float> first = F(p.first, p.count);
    Fill(-1.0f);
    ASSERT_EQ(p.b(), S_OK) << p.what;
    EXPECT_EQ(F(p.first, p.count), first) << p.what;
    EXPECT_NE(first[0], kSentinel) << p.what;
  }
}

TEST_F(GxlConstantWrite, DefaultsAreWrittenAsTheyStand) {
  ASSERT_EQ(table->WriteDefaults(dev), S_OK);
  EXPECT_EQ(I(0, 1), (std::vector<int>{7, 8, 9, 10}));
  EXPECT_EQ(F(40, 4), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(F(44, 1), (std::vector<float>(4, kSentinel)));
  EXPECT_EQ(F(0, 1), (std::vector<float>(4, kSentinel)));  // no default: untouched
}

TEST_F(GxlConstantWrite, FailuresAndNothingToWrite) {
  const float xs[4] = {};
  EXPECT_EQ(table->WriteFloatArray(dev, "nothing", xs, 4), D3DERR_INVALIDCALL);
  EXPECT_EQ(table->WriteFloat(dev, "tex", 1.0f), E_NOTIMPL);
  EXPECT_EQ(table->WriteMatrixArray(dev, "m44c", nullptr, 0), S_OK);
  EXPECT_EQ(table->WriteVector(dev, "v4", nullptr), D3DERR_INVALIDCALL);
  const Matrix4* none[1] = {nullptr};
  EXPECT_EQ(table->WriteMatrixPointers(dev, "m44c", none, 1), D3DERR_INVALIDCALL);
  // The device's refusal comes back: registers past its 224 pixel float constants.
  CtabImage img(0xFFFF0300);
  img.Constant("far", kFloatSet, 222, 4, img.Type(kVector, kFloat, 1, 4, 4));
  const std::vector<DWORD> pixel = img.Code();
  ComRef<ConstantTable> far;
  ASSERT_EQ(CreateShaderConstantTable(pixel.data(), far.Put()), S_OK);
  const Vec4 v[4] = {};
  EXPECT_EQ(far->WriteVectorArray(dev, "far", v, 2), S_OK);
  EXPECT_EQ(far->WriteVectorArray(dev, "far", v, 4), D3DERR_INVALIDCALL);
}

TEST_F(GxlConstantWrite, PixelCodeWritesPixelRegisters) {
  const std::vector<DWORD> pixel = Constants(0xFFFF0200).Code();
  ComRef<ConstantTable> ps;
  ASSERT_EQ(CreateShaderConstantTable(pixel.data(), ps.Put()), S_OK);
  ASSERT_EQ(ps->WriteFloat(dev, "dual", 2.0f), S_OK);
  float f[4];
  BOOL b = 0;
  ASSERT_EQ(dev->GetPixelShaderConstantF(8, f, 1), D3D_OK);
  ASSERT_EQ(dev->GetPixelShaderConstantB(1, &b, 1), D3D_OK);
  EXPECT_EQ(f[0], 2.0f);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(F(8, 1)[0], kSentinel);  // the vertex registers are untouched
}

TEST_F(GxlConstantWrite, TextureShadersWriteTheirConstantBuffer) {
  CtabImage img(0x54580100);
  img.Constant("f", kFloatSet, 2, 1, img.Type(kScalar, kFloat, 1, 1, 1));
  img.Constant("i", kFloatSet, 0, 1, img.Type(kVector, kInt, 1, 3, 1));
  img.Constant("past", kFloatSet, 3, 2, img.Type(kVector, kFloat, 1, 4, 2));
  img.Constant("v", kFloatSet, 1, 1, img.Type(kVector, kFloat, 1, 3, 1));
  const std::vector<DWORD> tx = img.Code();
  auto* t = new ConstantTable;
  ComRef<ConstantTable> owner(t);
  ComRef<DataBuffer> buffer;
  ASSERT_EQ(t->InitFromCode(tx.data(), buffer.Put()), S_OK);
  ASSERT_EQ(buffer->GetSize(), 80u);
  const Vec4 v{1, 2, 3, 4};
  ASSERT_EQ(t->WriteFloat(buffer.Get(), "f", 0.5f), S_OK);
  ASSERT_EQ(t->WriteVector(buffer.Get(), "v", &v), S_OK);
  const INT is[3] = {-3, 4, 5};
  ASSERT_EQ(t->WriteIntArray(buffer.Get(), "i", is, 3), S_OK);
  std::vector<float> bytes(12);
  std::memcpy(bytes.data(), buffer->GetPointer(), 48);
  EXPECT_EQ(bytes, (std::vector<float>{-3, 4, 5, 0, 1, 2, 3, 0, 0.5f, 0, 0, 0}));
  // A constant whose registers pass the buffer is refused, not written past it.
  DataBuffer* small = nullptr;
  ASSERT_EQ(CreateDataBuffer(64, &small), S_OK);
  ComRef<DataBuffer> smallOwner(small);
  const Vec4 two[2] = {};
  EXPECT_EQ(t->WriteVectorArray(small, "past", two, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->WriteVectorArray(buffer.Get(), "past", two, 2), S_OK);
}

TEST_F(GxlConstantWrite, WritingAllocatesNothing) {
  const ConstantHandle handles[] = {table->ConstantByName(nullptr, "f3a"), table->ConstantByName(nullptr, "m44c"),
                                    table->ConstantByName(nullptr, "sa"), table->ConstantByName(nullptr, "i2"),
                                    table->ConstantByName(nullptr, "sa[1].b")};
  const Matrix4 two[2] = {Counting(0), Counting(1)};
  const Matrix4* pointers[2] = {&two[0], &two[1]};
  const float flat[32] = {1, 2, 3};
  auto writeAll = [&] {
    for (ConstantHandle h : handles) {
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(table->WriteFloatArray(dev, h, flat, 32), S_OK);
      EXPECT_EQ(table->WriteMatrixArray(dev, h, two, 2), S_OK);
      EXPECT_EQ(table->WriteTransposedMatrixPointers(dev, h, pointers, 2), S_OK);
      EXPECT_EQ(table->WriteIntArray(dev, h, reinterpret_cast<const INT*>(flat), 32), S_OK);
      EXPECT_EQ(table->WriteRaw(dev, h, flat, sizeof flat), S_OK);
    }
    EXPECT_EQ(table->WriteDefaults(dev), S_OK);
  };
  writeAll();  // the device's registers exist after this
  if (!nura::test::AllocGauge::Available()) GTEST_SKIP() << "the allocation gauge needs AddressSanitizer";
  {
    nura::test::AllocGauge gauge;
    writeAll();
    EXPECT_EQ(gauge.Total(), 0u);
  }
  // The gauge does see the table allocate: an element built on first use.
  nura::test::AllocGauge lookup;
  EXPECT_NE(table->ConstantByName(nullptr, "m44c[1]"), nullptr);
  EXPECT_GT(lookup.Total(), 0u);
}

}  // namespace
