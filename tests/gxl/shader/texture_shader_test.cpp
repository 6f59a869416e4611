// Texture shaders over hand-laid tx_1_0 code: the constant buffer sized from
// the "CTAB" block, every forwarded operation landing in that buffer, and the
// code refused when its writers would be device writers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "ctab_image.h"
#include "fail_alloc.h"
#include "gxl/shader/compiler/texture_shader_object.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace {

using gxl::ComRef;
using shadertest::CtabImage;
using shadertest::Fcc;

constexpr DWORD kTx = 0x54580100;

// Code of a version, the blocks given (tag, payload words) and the end token.
std::vector<DWORD> Code(DWORD version, const std::vector<std::pair<DWORD, std::vector<DWORD>>>& blocks) {
  std::vector<DWORD> code = {version};
  for (const auto& [tag, words] : blocks) {
    code.push_back(shadertest::Comment(DWORD(1 + words.size())));
    code.push_back(tag);
    code.insert(code.end(), words.begin(), words.end());
  }
  code.push_back(shadertest::kEnd);
  return code;
}
std::vector<DWORD> Words(const std::vector<std::uint8_t>& bytes) {
  std::vector<DWORD> words(bytes.size() / 4);
  std::memcpy(words.data(), bytes.data(), words.size() * 4);
  return words;
}

// float4 a : c0; float b[2] : c1; float3 v : c3; float4x4 m : c4 (by rows); bool f : c8 with default;
// float4x4 t : c9 (by columns); int i : c13.
CtabImage Scene(DWORD version = kTx) {
  CtabImage img(version);
  const std::uint32_t f4 = img.Type(1, 3, 1, 4, 1), f1x2 = img.Type(0, 3, 1, 1, 2), f3 = img.Type(1, 3, 1, 3, 1);
  const std::uint32_t rows = img.Type(2, 3, 4, 4, 1), columns = img.Type(3, 3, 4, 4, 1);
  const std::uint32_t b = img.Type(0, 1, 1, 1, 1), i = img.Type(0, 2, 1, 1, 1);
  const std::uint32_t flagDefault = img.Floats({1, 0, 0, 0});
  img.Constant("a", 2, 0, 1, f4);
  img.Constant("b", 2, 1, 2, f1x2);
  img.Constant("f", 2, 8, 1, b, flagDefault);
  img.Constant("i", 2, 13, 1, i);
  img.Constant("m", 2, 4, 4, rows);
  img.Constant("t", 2, 9, 4, columns);
  img.Constant("v", 2, 3, 1, f3);
  return img;
}

ComRef<TextureShaderObject> Create(const std::vector<DWORD>& code, HRESULT expected = S_OK) {
  ComRef<TextureShaderObject> shader;
  EXPECT_EQ(CreateTextureShader(code.data(), shader.Put()), expected);
  return shader;
}

std::vector<float> Floats(TextureShaderObject* shader) {
  ComRef<DataBuffer> buffer;
  EXPECT_EQ(shader->ConstantBuffer(buffer.Put()), S_OK);
  std::vector<float> out(buffer->GetSize() / 4);
  std::memcpy(out.data(), buffer->GetPointer(), out.size() * 4);
  return out;
}

TEST(GxlTextureShader, ConstantBufferCoversTheHighestFloatRegister) {
  struct Row {
    const char* what;
    std::uint16_t set, reg, count;
    DWORD bytes;
  } rows[] = {
      {"float registers 0-2", 2, 0, 3, 48},
      {"float register 5 alone", 2, 5, 1, 96},
      {"only a sampler", 3, 4, 1, 0},
  };
  for (const Row& r : rows) {
    CtabImage img(kTx);
    img.Constant("k", r.set, r.reg, r.count, img.Type(1, 3, 1, 4, r.count));
    ComRef<TextureShaderObject> shader = Create(Code(kTx, {{Fcc('C', 'T', 'A', 'B'), Words(img.Body())}}));
    ASSERT_TRUE(shader) << r.what;
    ComRef<DataBuffer> buffer;
    ASSERT_EQ(shader->ConstantBuffer(buffer.Put()), S_OK);
    EXPECT_EQ(buffer->GetSize(), r.bytes) << r.what;
  }
}

TEST(GxlTextureShader, EveryWriterLandsInTheConstantBuffer) {
  CtabImage img = Scene();
  const std::vector<DWORD> code = Code(kTx, {{Fcc('C', 'T', 'A', 'B'), Words(img.Body())}});
  Matrix4 m;
  for (int k = 0; k < 16; ++k) m.m[k / 4][k % 4] = static_cast<float>(k + 1);
  const Matrix4* pm[] = {&m};
  const Vec4 vec(1, 2, 3, 4);
  const float two[] = {5, 6};
  const BOOL bools[] = {0};
  const INT ints[] = {-7};
  const std::uint32_t raw[] = {0x3F800000, 0x40000000, 0x40400000, 0x40800000};
  const Vec4* vp = &vec;
  const float* tp = two;
  const BOOL* bp = bools;
  const INT* ip = ints;
  const std::uint32_t* rp = raw;
  const Matrix4* const* pp = pm;
  std::vector<float> rowsOfM, columnsOfM;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      rowsOfM.push_back(m.m[r][c]);
      columnsOfM.push_back(m.m[c][r]);
    }
  // Each write and the registers it must leave: first register and values.
  struct Case {
    const char* what;
    std::function<HRESULT(TextureShaderObject*)> write;
    UINT reg;
    std::vector<float> values;
  };
  const std::vector<Case> cases = {
      {"float 0.5 to b", [&](auto* s) { return s->WriteFloat("b", 0.5f); }, 1, {0.5f, 0, 0, 0}},
      {"float array to b", [&](auto* s) { return s->WriteFloatArray("b", tp, 2); }, 1, {5, 0, 0, 0, 6, 0, 0, 0}},
      {"vector to float3 v", [&](auto* s) { return s->WriteVector("v", vp); }, 3, {1, 2, 3, 0}},
      {"vector array to a", [&](auto* s) { return s->WriteVectorArray("a", vp, 1); }, 0, {1, 2, 3, 4}},
      {"bool 7 to f", [&](auto* s) { return s->WriteBool("f", 7); }, 8, {1, 0, 0, 0}},
      {"bool array to f", [&](auto* s) { return s->WriteBoolArray("f", bp, 1); }, 8, {0, 0, 0, 0}},
      {"int -7 to i", [&](auto* s) { return s->WriteInt("i", -7); }, 13, {-7, 0, 0, 0}},
      {"int array to b", [&](auto* s) { return s->WriteIntArray("b", ip, 1); }, 1, {-7, 0, 0, 0}},
      {"raw words to a", [&](auto* s) { return s->WriteRaw("a", rp, 16); }, 0, {1, 2, 3, 4}},
      {"matrix to m by rows", [&](auto* s) { return s->WriteMatrix("m", &m); }, 4, rowsOfM},
      {"matrix array to t by columns", [&](auto* s) { return s->WriteMatrixArray("t", &m, 1); }, 9, columnsOfM},
      {"matrix pointers to m", [&](auto* s) { return s->WriteMatrixPointers("m", pp, 1); }, 4, rowsOfM},
      {"transposed matrix to m", [&](auto* s) { return s->WriteTransposedMatrix("m", &m); }, 4, columnsOfM},
      {"transposed array to m", [&](auto* s) { return s->WriteTransposedMatrixArray("m", &m, 1); }, 4, columnsOfM},
      {"transposed pointers to t", [&](auto* s) { return s->WriteTransposedMatrixPointers("t", pp, 1); }, 9, rowsOfM},
      {"defaults", [&](auto* s) { return s->WriteDefaults(); }, 8, {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    ComRef<TextureShaderObject> shader = Create(code);
    ASSERT_TRUE(shader);
    // A pattern no writer produces, to see what a write leaves alone.
    ComRef<DataBuffer> buffer;
    ASSERT_EQ(shader->ConstantBuffer(buffer.Put()), S_OK);
    ASSERT_EQ(buffer->GetSize(), 14u * 16);
    std::vector<float> expected(14 * 4, -99.0f);
    std::memcpy(buffer->GetPointer(), expected.data(), buffer->GetSize());
    ASSERT_EQ(c.write(shader.Get()), S_OK) << c.what;
    std::copy(c.values.begin(), c.values.end(), expected.begin() + c.reg * 4);
    EXPECT_EQ(Floats(shader.Get()), expected) << c.what;
  }
}

TEST(GxlTextureShader, LookupsAndBuffersForwardToTheTable) {
  CtabImage img = Scene();
  std::vector<DWORD> code = Code(kTx, {{Fcc('C', 'T', 'A', 'B'), Words(img.Body())}});
  code.push_back(0x12345678);  // past the end token: not part of the code
  ComRef<TextureShaderObject> shader = Create(code);
  ASSERT_TRUE(shader);

  ConstantTableDesc table{};
  ASSERT_EQ(shader->Describe(&table), S_OK);
  EXPECT_EQ(table.version, kTx);
  EXPECT_EQ(table.constants, 7u);
  ConstantHandle b = shader->ConstantByName(nullptr, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(shader->ConstantByIndex(nullptr, 1), b);
  ConstantHandle b1 = shader->ConstantElement(b, 1);
  ConstantDesc d{};
  UINT count = 1;
  ASSERT_EQ(shader->DescribeConstants(b1, &d, &count), S_OK);
  EXPECT_EQ(d.registerIndex, 2u);
  EXPECT_EQ(shader->DescribeConstants("nothing", &d, &count), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->WriteFloat("nothing", 1.0f), D3DERR_INVALIDCALL);
  ASSERT_EQ(shader->WriteFloat(b1, 0.25f), S_OK);
  EXPECT_EQ(Floats(shader.Get())[8], 0.25f);

  // The code is a private copy up to the end token; each call adds a reference.
  ComRef<DataBuffer> first, second;
  ASSERT_EQ(shader->FunctionBuffer(first.Put()), S_OK);
  ASSERT_EQ(shader->FunctionBuffer(second.Put()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(first->AddRef(), 4u);  // the shader's, the two handed out and this one
  first->Release();
  ASSERT_EQ(first->GetSize(), (code.size() - 1) * 4);
  EXPECT_NE(first->GetPointer(), static_cast<const void*>(code.data()));
  EXPECT_EQ(std::memcmp(first->GetPointer(), code.data(), first->GetSize()), 0);
  EXPECT_EQ(shader->FunctionBuffer(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->ConstantBuffer(nullptr), D3DERR_INVALIDCALL);

  void* out = nullptr;
  EXPECT_EQ(shader->QueryInterface(IID_TextureShader, &out), S_OK);
  EXPECT_EQ(out, static_cast<TextureShader*>(shader.Get()));
  EXPECT_EQ(shader->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(shader->QueryInterface(IID_ConstantTable, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(shader->Release(), 2u);
  EXPECT_EQ(shader->Release(), 1u);
}

TEST(GxlTextureShader, CodeWhoseWritersWouldBeDeviceWritersIsRefused) {
  const DWORD ctab = Fcc('C', 'T', 'A', 'B');
  CtabImage shortHeader = Scene();
  shortHeader.headerSize = 24;
  struct Row {
    const char* what;
    std::vector<DWORD> code;
    HRESULT result;
  } rows[] = {
      {"vertex code", Code(0xFFFE0200, {{ctab, Words(Scene(0xFFFE0200).Body())}}), GXLERR_INVALIDDATA},
      {"pixel code", Code(0xFFFF0200, {{ctab, Words(Scene(0xFFFF0200).Body())}}), GXLERR_INVALIDDATA},
      {"tx code with a vertex table", Code(kTx, {{ctab, Words(Scene(0xFFFE0200).Body())}}), GXLERR_INVALIDDATA},
      {"tx code without a table", Code(kTx, {{Fcc('F', 'X', 'L', 'C'), {0}}}), GXLERR_INVALIDDATA},
      {"a header of 24 bytes", Code(kTx, {{ctab, Words(shortHeader.Body())}}), GXLERR_INVALIDDATA},
  };
  for (const Row& r : rows) {
    auto* out = reinterpret_cast<TextureShaderObject*>(&rows);
    EXPECT_EQ(CreateTextureShader(r.code.data(), &out), r.result) << r.what;
    EXPECT_EQ(out, nullptr) << r.what;
  }
  auto* out = reinterpret_cast<TextureShaderObject*>(&rows);
  EXPECT_EQ(CreateTextureShader(nullptr, &out), D3DERR_INVALIDCALL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CreateTextureShader(rows[0].code.data(), nullptr), D3DERR_INVALIDCALL);

  // Every allocation of a creation failed in turn: out of memory, nothing
  // handed out, nothing leaked (the leak checker sees the rest).
  const std::vector<DWORD> good = Code(kTx, {{ctab, Words(Scene().Body())}});
  shadertest::FailNthAllocation(~std::uint64_t{0});
  out = nullptr;
  ASSERT_EQ(CreateTextureShader(good.data(), &out), S_OK);
  const std::uint64_t total = shadertest::AllocationsCounted();
  shadertest::FailNthAllocation(0);
  ASSERT_NE(out, nullptr);
  out->Release();
  ASSERT_GT(total, 1u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    shadertest::FailNthAllocation(n);
    out = reinterpret_cast<TextureShaderObject*>(&rows);
    const HRESULT hr = CreateTextureShader(good.data(), &out);
    const bool failed = shadertest::AllocationFailed();
    shadertest::FailNthAllocation(0);
    ASSERT_TRUE(failed) << "allocation " << n << " of " << total;
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n << " of " << total;
    EXPECT_EQ(out, nullptr) << "allocation " << n << " of " << total;
  }
}

}  // namespace
