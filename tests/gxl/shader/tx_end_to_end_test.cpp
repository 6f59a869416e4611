// Texture shaders from HLSL to texels: compiled for tx_1_0 through the public
// entry point, wrapped as texture shaders, constants set by name, and 2-D,
// volume and cube textures filled; every texel against a C++ reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gxl/math/noise.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/compiler/texture_shader_object.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/expression_program.h"
#include "gxl/tex/texture_fill.h"
#include "hlsl_parse_run.h"
#include "log_text.h"
#include "platform/testing_d3d9.h"
#include "tests/gxl/tex/tex_test_device.h"

namespace {

using gxl::ComRef;
using gxl::shader::MakeTag;

struct Compiled {
  HRESULT hr = E_FAIL;
  ComRef<DataBuffer> code;
  std::string log;
  // Instructions of "FXLC".
  std::uint32_t Instructions() const {
    const auto* w = static_cast<const std::uint32_t*>(code->GetPointer());
    for (std::size_t i = 1; (w[i] & 0xFFFF) == 0xFFFE; i += 1 + (w[i] >> 16))
      if (w[i + 1] == MakeTag('F', 'X', 'L', 'C')) return w[i + 2];
    return 0;
  }
};

Compiled CompileTx(const char* source, const char* profile = "tx_1_0") {
  Compiled c;
  ComRef<DataBuffer> messages;
  c.hr = CompileShaderFromMemory(source, static_cast<UINT>(std::strlen(source)), nullptr, nullptr, "main", profile, 0,
                                 c.code.Put(), messages.Put(), nullptr);
  if (messages) c.log = static_cast<const char*>(messages->GetPointer());
  return c;
}

struct GxlTxEndToEnd : textest::DeviceTest {
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  }
  ComRef<TextureShaderObject> Shader(const char* source) {
    const Compiled c = CompileTx(source);
    EXPECT_EQ(c.hr, S_OK) << c.log;
    ComRef<TextureShaderObject> shader;
    if (c.code) {
      EXPECT_EQ(CreateTextureShader(static_cast<const DWORD*>(c.code->GetPointer()), shader.Put()), S_OK);
      RecordProperty("fxlc_instructions", static_cast<int>(c.Instructions()));
    }
    return shader;
  }
  // Checks the four floats of every texel of a locked box of n x n x depth.
  using Reference = std::function<void(int x, int y, int z, double out[4])>;
  static void Expect(const void* bits, UINT rowPitch, UINT slicePitch, int n, int depth, const Reference& want,
                     const char* what) {
    for (int z = 0; z < depth; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const float* texel =
              reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(bits) + z * slicePitch + y * rowPitch) +
              4 * x;
          double expected[4];
          want(x, y, z, expected);
          for (int k = 0; k < 4; ++k)
            ASSERT_NEAR(texel[k], expected[k], 2e-6 * std::max(1.0, std::fabs(expected[k])))
                << what << " texel " << x << "," << y << "," << z << " component " << k;
        }
  }
};

TEST_F(GxlTxEndToEnd, TwoDimensionalFill) {
  const char* source =
      "float4 tint;\n"
      "float4 main(float2 p : POSITION, float2 s : PSIZE) : COLOR {\n"
      "  return float4(p.x * tint.x + s.y, sin(p.y * 6.0), atan2(p.y - 0.5, p.x - 0.5), (p.x < 0.5) * 2.0 + (p.y >= "
      "p.x) * 0.5);\n"
      "}\n";
  ComRef<TextureShaderObject> shader = Shader(source);
  ASSERT_TRUE(shader);
  const Vec4 tint(3.0f, 0.0f, 0.0f, 0.0f);
  ASSERT_EQ(shader->WriteVector(shader->ConstantByName(0, "tint"), &tint), S_OK);
  constexpr int n = 8;
  textest::Ref<IDirect3DTexture9> texture;
  ASSERT_EQ(dev->CreateTexture(n, n, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillTextureFromShader(texture.get(), shader.Get()), S_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(texture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  Expect(
      lr.pBits, lr.Pitch, 0, n, 1,
      [](int x, int y, int, double out[4]) {
        const double px = (x + 0.5f) / n, py = (y + 0.5f) / n, sy = 1.0f / n;
        out[0] = px * 3.0 + sy;
        out[1] = std::sin(py * 6.0);
        out[2] = std::atan2(py - 0.5, px - 0.5);
        out[3] = (px < 0.5) * 2.0 + (py >= px) * 0.5;
      },
      "2-D");
  texture->UnlockRect(0);
}

TEST_F(GxlTxEndToEnd, VolumeFillWithNoise) {
  ComRef<TextureShaderObject> shader = Shader(
      "float scale;\n"
      "float4 main(float3 p : POSITION) : COLOR { return float4(noise(p * scale), p.z, max(p.x, p.y), 1); }\n");
  ASSERT_TRUE(shader);
  ASSERT_EQ(shader->WriteFloat(shader->ConstantByName(0, "scale"), 4.0f), S_OK);
  constexpr int n = 4;
  textest::Ref<IDirect3DVolumeTexture9> volume;
  ASSERT_EQ(dev->CreateVolumeTexture(n, n, n, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &volume, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillVolumeTextureFromShader(volume.get(), shader.Get()), S_OK);
  D3DLOCKED_BOX box{};
  ASSERT_EQ(volume->LockBox(0, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
  Expect(
      box.pBits, box.RowPitch, box.SlicePitch, n, n,
      [](int x, int y, int z, double out[4]) {
        const double p[3] = {(x + 0.5f) / n, (y + 0.5f) / n, (z + 0.5f) / n};
        const Vec3 at(static_cast<float>(p[0] * 4.0), static_cast<float>(p[1] * 4.0), static_cast<float>(p[2] * 4.0));
        out[0] = Noise3(&at);
        out[1] = p[2];
        out[2] = std::max(p[0], p[1]);
        out[3] = 1;
      },
      "volume");
  volume->UnlockBox(0);
}

// The reference cube is filled through a callback with the same directions.
void CubeReference(Vec4* out, const Vec3* d, const Vec3* s, void*) {
  const double x = d->x, y = d->y, z = d->z;
  *out = Vec4(x >= y ? 1.0f : 0.0f, static_cast<float>(z * z), s->x, static_cast<float>(x * x + y * y + z * z));
}

TEST_F(GxlTxEndToEnd, CubeFill) {
  ComRef<TextureShaderObject> shader = Shader(
      "float4 main(float3 d : POSITION, float3 s : PSIZE) : COLOR { return float4(d.x >= d.y, d.z * d.z, s.x, "
      "dot(d, d)); }\n");
  ASSERT_TRUE(shader);
  constexpr int n = 4;
  textest::Ref<IDirect3DCubeTexture9> cube, reference;
  ASSERT_EQ(dev->CreateCubeTexture(n, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateCubeTexture(n, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &reference, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillCubeTextureFromShader(cube.get(), shader.Get()), S_OK);
  ASSERT_EQ(GXLFillCubeTextureByCallback(reference.get(), &CubeReference, nullptr), S_OK);
  for (int face = 0; face < 6; ++face) {
    const auto f = static_cast<D3DCUBEMAP_FACES>(face);
    D3DLOCKED_RECT lr{}, want{};
    ASSERT_EQ(cube->LockRect(f, 0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    ASSERT_EQ(reference->LockRect(f, 0, &want, nullptr, D3DLOCK_READONLY), D3D_OK);
    Expect(
        lr.pBits, lr.Pitch, 0, n, 1,
        [&](int x, int y, int, double out[4]) {
          const float* texel =
              reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(want.pBits) + y * want.Pitch) + 4 * x;
          for (int k = 0; k < 4; ++k) out[k] = texel[k];
        },
        "cube");
    cube->UnlockRect(f, 0);
    reference->UnlockRect(f, 0);
  }
}

TEST_F(GxlTxEndToEnd, RefusedShaders) {
  struct Case {
    const char* what;
    const char* source;
    const char* message;
  } cases[] = {
      {"second position", "float4 main(float2 p : POSITION1) : COLOR { return p.xyxy; }",
       "error X4502: invalid reference to input semantic 'POSITION1'"},
      {"texture coordinates", "float4 main(float2 p : TEXCOORD0) : COLOR { return p.xyxy; }",
       "error X4502: invalid reference to input semantic 'TEXCOORD0'"},
      {"second colour", "float4 main(float2 p : POSITION) : COLOR1 { return p.xyxy; }",
       "error X4502: invalid reference to output semantic 'COLOR1'"},
      {"clip", "float4 main(float2 p : POSITION) : COLOR { clip(p.x - 0.5); return p.xyxy; }",
       "error X4500: clip not supported in texture shaders"},
      {"sampling", "sampler2D s;\nfloat4 main(float2 p : POSITION) : COLOR { return tex2D(s, p); }",
       "error X4532: cannot map expression to texture shader instruction set"},
  };
  for (const Case& c : cases) {
    const Compiled compiled = CompileTx(c.source);
    EXPECT_TRUE(FAILED(compiled.hr)) << c.what;
    EXPECT_FALSE(compiled.code) << c.what;
    EXPECT_NE(compiled.log.find(c.message), std::string::npos) << c.what << "\n" << compiled.log;
  }
}

}  // namespace

namespace {

// Plain-valued expressions compile into expression programs whose outputs
// are the expressions' values.
TEST(GxlTxEndToEndExpressions, PlainValuesEvaluateToTheirClosedForm) {
  const char* source =
      "float4 scaled = float4(1, 2, 3, 4) * 2 - 1;\n"
      "float angle = sin(0.5) + atan2(1, 2);\n"
      "float3 unit = normalize(float3(3, 0, 4));\n"
      "float2 picked = float2(0.25, -4) < 0 ? float2(7, 8) : float2(9, 10);\n";
  shadertest::ParseRun parse(source);
  ASSERT_EQ(parse.hr, S_OK) << parse.log;
  const struct {
    const char* name;
    std::vector<double> value;
  } cases[] = {
      {"scaled", {1, 3, 5, 7}},
      {"angle", {std::sin(0.5) + std::atan2(1.0, 2.0)}},
      {"unit", {0.6, 0, 0.8}},
      {"picked", {9, 8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gxl::shader::ShaderCompiler compiler;
    ComRef<DataBuffer> code;
    std::uint32_t kind = 7;
    ASSERT_EQ(compiler.CompileObjectExpression(&parse.pp, parse.tree, parse.InitialValue(c.name), "vs_2_0", 0,
                                               code.Put(), &kind),
              S_OK)
        << shadertest::LogText(parse.pp.Log());
    ASSERT_TRUE(code);
    EXPECT_EQ(*static_cast<const DWORD*>(code->GetPointer()), 0x46580200u);
    double outputs[16] = {}, constants[4] = {}, inputs[4] = {};
    ExpressionFiles files;
    files.inputs = inputs;
    files.inputMask = 3;
    files.constants = constants;
    files.constantMask = 3;
    for (int k = 0; k < 3; ++k) {
      files.outputs[k] = outputs;
      files.outputMasks[k] = 15;
    }
    ASSERT_EQ(ExpressionProgram::Evaluate(code->GetPointer(), code->GetSize(), files), S_OK);
    for (std::size_t k = 0; k < c.value.size(); ++k)
      EXPECT_NEAR(outputs[k], c.value[k], 1e-6 * std::max(1.0, std::fabs(c.value[k]))) << "component " << k;
  }
}

// A texture shader is no fragment: the fragment compile says which one failed.
TEST(GxlTxEndToEndExpressions, TextureShaderFragmentsFail) {
  const char* source =
      "float4 main(float2 p : POSITION) : COLOR { return p.xyxy; }\n"
      "pixelfragment f = compile_fragment tx_1_0 main();\n";
  ComRef<DataBuffer> fragments, messages;
  const HRESULT hr = CompileFragmentsFromMemory(source, static_cast<UINT>(std::strlen(source)), nullptr, nullptr, 0,
                                                fragments.Put(), messages.Put());
  EXPECT_TRUE(FAILED(hr));
  EXPECT_FALSE(fragments);
  const std::string log = messages ? static_cast<const char*>(messages->GetPointer()) : "";
  EXPECT_NE(log.find("error X2903: There was an error compiling the fragment 'f'"), std::string::npos) << log;
}

}  // namespace
