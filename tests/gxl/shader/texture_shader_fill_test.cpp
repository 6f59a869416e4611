// A texture shader whose "CTAB" the compiler's block writer made, filled
// through the textures library's evaluator: writers and evaluator must agree
// on where a constant register lies in the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/targets/block_writers.h"
#include "gxl/shader/compiler/texture_shader_object.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/texture_fill.h"
#include "platform/testing_d3d9.h"
#include "tests/gxl/tex/tex_test_device.h"
#include "tree_kit.h"

namespace {

using gxl::ComRef;
using gxl::shader::MakeTag;

constexpr DWORD kTx = 0x54580100;

// A "CTAB" made by the compiler's writer from a program whose float constant
// "tint" sits in c0, then a tx_1_0 program (as the evaluator reads it) that
// moves c0 to the output: every texel of the fill is the vector written.
struct GxlTextureShaderFill : textest::DeviceTest {
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  }
};

TEST_F(GxlTextureShaderFill, TexelsAreTheVectorWrittenThroughTheShader) {
  PagePool pages{0x100000, 0x10000};
  gxl::shader::IrPoolScope scope(&pages);
  shadertest::TreePool trees;
  gxl::shader::MessageLog log;
  gxl::shader::ShaderProgram program;
  ASSERT_EQ(program.Init(nullptr, &log, kTx, 0), S_OK);
  DeclarationNode* tint = shadertest::Variable("tint", shadertest::Type(shadertest::kVector, shadertest::kFloat, 1, 4));
  for (std::uint32_t c = 0; c < 4; ++c) {
    const std::uint32_t v =
        program.AddValue(program.StandardBankIndex(gxl::shader::StandardBank::FloatConstants), 0, c, 0.0);
    ASSERT_NE(v, gxl::shader::kNoIndex);
    program.Value(v)->declaration = tint;
    program.Value(v)->variableOffset = c;
    program.Value(v)->variableComponent = c;
  }
  gxl::shader::PodArray<DWORD> tokens;
  ASSERT_TRUE(tokens.Append(kTx));
  std::uint32_t inserted = 0;
  std::size_t validated = 1;
  gxl::shader::BlockTarget target;
  target.program = &program;
  target.tokens = &tokens;
  target.insertedDwords = &inserted;
  target.validatedCount = &validated;
  target.profileVersion = kTx;
  ASSERT_EQ(gxl::shader::WriteConstantTable(target), S_OK);

  std::vector<DWORD> code(tokens.Data(), tokens.Data() + tokens.Size());
  // mov (4 components): one input, constant 0; output kind 4, index 0. No literals.
  const std::vector<DWORD> fxlc = {1, 0x10000000 | 4, 1, 0, 2, 0, 0, 4, 0};
  for (const auto& [tag, words] :
       {std::pair{MakeTag('F', 'X', 'L', 'C'), fxlc}, std::pair{MakeTag('C', 'L', 'I', 'T'), std::vector<DWORD>{0}}}) {
    code.push_back(0xFFFE | DWORD(1 + words.size()) << 16);
    code.push_back(tag);
    code.insert(code.end(), words.begin(), words.end());
  }
  code.push_back(0x0000FFFF);

  ComRef<TextureShaderObject> shader;
  ASSERT_EQ(CreateTextureShader(code.data(), shader.Put()), S_OK);
  const Vec4 colour(0.25f, 0.5f, 0.75f, 1.0f);
  ASSERT_EQ(shader->WriteVector("tint", &colour), S_OK);
  textest::Ref<IDirect3DTexture9> texture;
  ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillTextureFromShader(texture.get(), shader.Get()), S_OK);
  textest::Ref<IDirect3DSurface9> surface;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(surface->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const float* texel =
          reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(lr.pBits) + y * lr.Pitch) + 4 * x;
      EXPECT_EQ(std::vector<float>(texel, texel + 4), (std::vector<float>{colour.x, colour.y, colour.z, colour.w}))
          << x << "," << y;
    }
  surface->UnlockRect();
}

}  // namespace
