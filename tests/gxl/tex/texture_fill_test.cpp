// Texture fills by callback and by texture shader, on the headless device:
// where each texel's function is called, what is stored, and the references
// a shader fill takes and gives back.
#include "gxl/tex/texture_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "expr_test_code.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/texture_shader.h"
#include "platform/testing_d3d9.h"
#include "tex_test_device.h"

namespace {

using namespace exprtest;
using nura::test::RefCount;
using textest::Ref;

struct Call {
  float x, y, z, sx, sy, sz;
};

// Records each call and stores (x, y, z, 1) of the position.
void Record2D(Vec4* out, const Vec2* p, const Vec2* s, void* context) {
  static_cast<std::vector<Call>*>(context)->push_back({p->x, p->y, 0, s->x, s->y, 0});
  *out = Vec4(p->x, p->y, 0.0f, 1.0f);
}
void Record3D(Vec4* out, const Vec3* p, const Vec3* s, void* context) {
  static_cast<std::vector<Call>*>(context)->push_back({p->x, p->y, p->z, s->x, s->y, s->z});
  *out = Vec4(p->x, p->y, p->z, 1.0f);
}
void Constant2D(Vec4* out, const Vec2*, const Vec2*, void* context) { *out = *static_cast<Vec4*>(context); }

class GxlFill : public textest::DeviceTest {
 protected:
  // Float, block and signed formats as textures.
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(platform::test::SelectD3D9FormatProfile("wide"));
  }

  Ref<IDirect3DTexture9> Texture(UINT w, UINT h, UINT levels, D3DFORMAT format) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    return t;
  }

  // The first rowBytes of each of `rows` rows of a surface.
  static std::vector<std::uint8_t> Rows(IDirect3DSurface9* s, std::size_t rowBytes, UINT rows) {
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<std::uint8_t> out;
    for (UINT y = 0; y < rows; ++y) {
      const auto* row = static_cast<std::uint8_t*>(lr.pBits) + std::size_t{y} * lr.Pitch;
      out.insert(out.end(), row, row + rowBytes);
    }
    s->UnlockRect();
    return out;
  }
  // The texels of an A32B32G32R32F level or cube face, four floats each.
  static std::vector<float> Floats(IDirect3DBaseTexture9* t, UINT level, UINT face = 0) {
    Ref<IDirect3DSurface9> s;
    if (t->GetType() == D3DRTYPE_CUBETEXTURE)
      EXPECT_EQ(
          static_cast<IDirect3DCubeTexture9*>(t)->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), level, &s),
          D3D_OK);
    else
      EXPECT_EQ(static_cast<IDirect3DTexture9*>(t)->GetSurfaceLevel(level, &s), D3D_OK);
    D3DSURFACE_DESC d{};
    EXPECT_EQ(s->GetDesc(&d), D3D_OK);
    const std::vector<std::uint8_t> bytes = Rows(s.get(), std::size_t{d.Width} * 16, d.Height);
    std::vector<float> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
  }
  static std::vector<std::uint8_t> Bytes(IDirect3DTexture9* t, std::size_t rowBytes, UINT rows) {
    Ref<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
    return Rows(s.get(), rowBytes, rows);
  }
};

// --- Callback fills ---------------------------------------------------------------

TEST_F(GxlFill, EveryTexelOfEveryLevelSeesItsCentre) {
  auto t = Texture(4, 2, 2, D3DFMT_A32B32G32R32F);
  std::vector<Call> calls;
  ASSERT_EQ(GXLFillTextureByCallback(t.get(), Record2D, &calls), D3D_OK);
  ASSERT_EQ(calls.size(), 8u + 2u);
  EXPECT_EQ(calls[0].x, 0.125f);
  EXPECT_EQ(calls[0].y, 0.25f);
  EXPECT_EQ(calls[0].sx, 0.25f);
  EXPECT_EQ(calls[0].sy, 0.5f);
  // Level 0 row by row, then level 1 (2 x 1).
  for (UINT i = 0; i < 8; ++i) {
    EXPECT_EQ(calls[i].x, (i % 4 + 0.5f) / 4) << i;
    EXPECT_EQ(calls[i].y, (i / 4 + 0.5f) / 2) << i;
  }
  EXPECT_EQ(calls[8].x, 0.25f);
  EXPECT_EQ(calls[9].x, 0.75f);
  EXPECT_EQ(calls[9].y, 0.5f);
  EXPECT_EQ(calls[9].sx, 0.5f);
  EXPECT_EQ(calls[9].sy, 1.0f);
  // A float format stores what the function returned.
  const std::vector<float> level0 = Floats(t.get(), 0);
  for (UINT i = 0; i < 8; ++i) {
    EXPECT_EQ(level0[4 * i], calls[i].x);
    EXPECT_EQ(level0[4 * i + 1], calls[i].y);
    EXPECT_EQ(level0[4 * i + 3], 1.0f);
  }
  EXPECT_EQ(Floats(t.get(), 1)[4], 0.75f);
}

TEST_F(GxlFill, VolumeTexelsSeeTheirDepth) {
  Ref<IDirect3DVolumeTexture9> t;
  ASSERT_EQ(dev->CreateVolumeTexture(2, 2, 4, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  std::vector<Call> calls;
  ASSERT_EQ(GXLFillVolumeTextureByCallback(t.get(), Record3D, &calls), D3D_OK);
  ASSERT_EQ(calls.size(), 16u);
  for (UINT i = 0; i < 16; ++i) {
    EXPECT_EQ(calls[i].x, (i % 2 + 0.5f) / 2) << i;
    EXPECT_EQ(calls[i].y, (i / 2 % 2 + 0.5f) / 2) << i;
    EXPECT_EQ(calls[i].z, (i / 4 + 0.5f) / 4) << i;
    EXPECT_EQ(calls[i].sz, 0.25f);
  }
}

// The face whose centre a direction points at, and the texel it passes
// through, by the cube addressing rule: the major axis picks the face, and the
// other two coordinates over it give (s, t).
struct CubeHit {
  UINT face;
  float u, v;
};
CubeHit Address(float x, float y, float z) {
  const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  float sc, tc, ma;
  UINT face;
  if (ax >= ay && ax >= az) {
    face = x > 0 ? 0 : 1, sc = x > 0 ? -z : z, tc = -y, ma = ax;
  } else if (ay >= az) {
    face = y > 0 ? 2 : 3, sc = x, tc = y > 0 ? z : -z, ma = ay;
  } else {
    face = z > 0 ? 4 : 5, sc = z > 0 ? x : -x, tc = -y, ma = az;
  }
  return {face, (sc / ma + 1) / 2, (tc / ma + 1) / 2};
}

TEST_F(GxlFill, CubeTexelsSeeTheUnitDirectionThroughTheirCentre) {
  Ref<IDirect3DCubeTexture9> t;
  ASSERT_EQ(dev->CreateCubeTexture(4, 2, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  std::vector<Call> calls;
  ASSERT_EQ(GXLFillCubeTextureByCallback(t.get(), Record3D, &calls), D3D_OK);
  ASSERT_EQ(calls.size(), 6u * (16 + 4));
  std::size_t k = 0;
  for (UINT face = 0; face < 6; ++face) {
    for (UINT level = 0; level < 2; ++level) {
      const UINT size = 4 >> level;
      const std::vector<float> stored = Floats(t.get(), level, face);
      for (UINT y = 0; y < size; ++y) {
        for (UINT x = 0; x < size; ++x, ++k) {
          const Call& c = calls[k];
          EXPECT_NEAR(std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z), 1.0f, 1e-6f);
          const CubeHit hit = Address(c.x, c.y, c.z);
          EXPECT_EQ(hit.face, face) << "face " << face << " texel " << x << ", " << y;
          EXPECT_NEAR(hit.u * size - 0.5f, static_cast<float>(x), 1e-5f) << face;
          EXPECT_NEAR(hit.v * size - 0.5f, static_cast<float>(y), 1e-5f) << face;
          EXPECT_EQ(c.sx, 2.0f / size);
          EXPECT_EQ(c.sy, 2.0f / size);
          EXPECT_EQ(stored[4 * (y * size + x) + 2], c.z);
        }
      }
    }
  }
}

// Ramps that leave [0, 1] on both sides, or the same ramps clamped.
void Ramp(Vec4* out, const Vec2* p, const Vec2*, void* clamp) {
  Vec4 v(3.0f * p->x - 1.0f, 2.0f - 2.5f * p->y, 4.0f * p->x * p->y - 0.5f, 1.5f - 2.0f * p->x);
  if (*static_cast<bool*>(clamp))
    for (float* c : {&v.x, &v.y, &v.z, &v.w}) *c = std::fmin(std::fmax(*c, 0.0f), 1.0f);
  *out = v;
}

TEST_F(GxlFill, ValuesOutsideTheFormatsRangeAreClampedBeforeEncoding) {
  // Block and integer formats store overbright and negative values as the
  // clamped ones; a float format keeps them.
  struct Case {
    D3DFORMAT format;
    std::size_t rowBytes;
    UINT rows;
  } cases[] = {{D3DFMT_DXT1, 16, 2},
               {D3DFMT_DXT3, 32, 2},
               {D3DFMT_DXT5, 32, 2},
               {D3DFMT_A8R8G8B8, 32, 8},
               {D3DFMT_R5G6B5, 16, 8}};
  for (const Case& c : cases) {
    bool clamp = false;
    auto a = Texture(8, 8, 1, c.format);
    ASSERT_EQ(GXLFillTextureByCallback(a.get(), Ramp, &clamp), D3D_OK);
    clamp = true;
    auto b = Texture(8, 8, 1, c.format);
    ASSERT_EQ(GXLFillTextureByCallback(b.get(), Ramp, &clamp), D3D_OK);
    EXPECT_EQ(Bytes(a.get(), c.rowBytes, c.rows), Bytes(b.get(), c.rowBytes, c.rows)) << c.format;
  }
  Vec4 over(2.5f, -1.0f, 1e6f, 0.5f);
  auto f = Texture(2, 2, 1, D3DFMT_A32B32G32R32F);
  ASSERT_EQ(GXLFillTextureByCallback(f.get(), Constant2D, &over), D3D_OK);
  EXPECT_EQ(Floats(f.get(), 0), (std::vector<float>{2.5f, -1, 1e6f, 0.5f, 2.5f, -1, 1e6f, 0.5f, 2.5f, -1, 1e6f, 0.5f,
                                                    2.5f, -1, 1e6f, 0.5f}));
}

TEST_F(GxlFill, NullArgumentsAreRefused) {
  auto t = Texture(2, 2, 1, D3DFMT_A8R8G8B8);
  Vec4 c(0, 0, 0, 0);
  EXPECT_EQ(GXLFillTextureByCallback(nullptr, Constant2D, &c), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLFillTextureByCallback(t.get(), nullptr, &c), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLFillCubeTextureByCallback(nullptr, Record3D, &c), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLFillVolumeTextureByCallback(nullptr, Record3D, &c), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLFillTextureFromShader(t.get(), nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLFillTextureFromShader(nullptr, nullptr), D3DERR_INVALIDCALL);
}

// --- Texture-shader fills ---------------------------------------------------------------

// A texture shader that hands out the buffers it was given, or a failure.
class FakeShader final : public TextureShader {
 public:
  FakeShader(const Words& code, const std::vector<float>& constants) {
    EXPECT_EQ(CreateDataBuffer(static_cast<DWORD>(code.size() * 4), &function), S_OK);
    std::memcpy(function->GetPointer(), code.data(), code.size() * 4);
    EXPECT_EQ(CreateDataBuffer(static_cast<DWORD>(constants.size() * 4), &this->constants), S_OK);
    if (!constants.empty()) std::memcpy(this->constants->GetPointer(), constants.data(), constants.size() * 4);
  }
  ~FakeShader() {
    function->Release();
    constants->Release();
  }
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT FunctionBuffer(DataBuffer** out) override { return Hand(function, functionResult, out); }
  HRESULT ConstantBuffer(DataBuffer** out) override { return Hand(constants, constantResult, out); }

  ULONG refs = 1;
  DataBuffer* function = nullptr;
  DataBuffer* constants = nullptr;
  HRESULT functionResult = S_OK;
  HRESULT constantResult = S_OK;

 private:
  static HRESULT Hand(DataBuffer* b, HRESULT result, DataBuffer** out) {
    if (FAILED(result)) return result;
    b->AddRef();
    *out = b;
    return S_OK;
  }
};

const Arg kPosition{3, 0}, kSize{3, 4}, kColour{4, 0};

TEST_F(GxlFill, ShaderFillEvaluatesTheCodePerTexel) {
  // colour = position * c0 + (texel size).x; blue and alpha from the one literal.
  const Words code = Code({{kMul, 2, {kPosition, {2, 0}}, {7, 0}},
                           {kAdd | kScalar, 2, {kSize, {7, 0}}, kColour},
                           {kMov, 2, {{1, 1}}, {4, 2}}},
                          {0.5});
  FakeShader shader(code, {2, 4, 0, 0});
  auto t = Texture(4, 2, 1, D3DFMT_A32B32G32R32F);
  ASSERT_EQ(GXLFillTextureFromShader(t.get(), &shader), D3D_OK);
  const std::vector<float> texels = Floats(t.get(), 0);
  for (UINT i = 0; i < 8; ++i) {
    const float x = (i % 4 + 0.5f) / 4, y = (i / 4 + 0.5f) / 2;
    EXPECT_FLOAT_EQ(texels[4 * i], 2 * x + 0.25f) << i;
    EXPECT_FLOAT_EQ(texels[4 * i + 1], 4 * y + 0.25f) << i;
    EXPECT_EQ(texels[4 * i + 2], 0.5f);
    EXPECT_EQ(texels[4 * i + 3], 0.5f);
  }
  // Every reference the fill took is given back.
  EXPECT_EQ(shader.refs, 1u);
  EXPECT_EQ(RefCount(shader.function), 1u);
  EXPECT_EQ(RefCount(shader.constants), 1u);
}

TEST_F(GxlFill, ShaderConstantsFillAPowerOfTwoFileOfDoubles) {
  // Three registers (12 floats) make a file of 16 doubles: index 12 is past the
  // constants (0), index 16 wraps to constant 0.
  FakeShader shader(Code({{kMov, 1, {{2, 12}}, {4, 0}}, {kMov, 1, {{2, 16}}, {4, 1}}, {kMov, 1, {{2, 11}}, {4, 2}}}),
                    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 99, 99});  // 56 bytes: the last 8 are no register
  auto t = Texture(1, 1, 1, D3DFMT_A32B32G32R32F);
  ASSERT_EQ(GXLFillTextureFromShader(t.get(), &shader), D3D_OK);
  const std::vector<float> texel = Floats(t.get(), 0);
  EXPECT_EQ(texel[0], 0.0f);
  EXPECT_EQ(texel[1], 1.0f);
  EXPECT_EQ(texel[2], 12.0f);
}

TEST_F(GxlFill, CubeAndVolumeShaderFillsSeeThreeComponents) {
  FakeShader shader(Code({{kMov, 3, {kPosition}, kColour}, {kMov, 1, {{3, 6}}, {4, 3}}}), {});
  Ref<IDirect3DVolumeTexture9> v;
  ASSERT_EQ(dev->CreateVolumeTexture(1, 1, 2, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &v, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillVolumeTextureFromShader(v.get(), &shader), D3D_OK);
  D3DLOCKED_BOX lb{};
  ASSERT_EQ(v->LockBox(0, &lb, nullptr, D3DLOCK_READONLY), D3D_OK);
  float texel[4];
  std::memcpy(texel, static_cast<std::uint8_t*>(lb.pBits) + lb.SlicePitch, 16);
  v->UnlockBox(0);
  EXPECT_EQ(texel[2], 0.75f);
  EXPECT_EQ(texel[3], 0.5f);  // the texel size's z

  Ref<IDirect3DCubeTexture9> c;
  ASSERT_EQ(dev->CreateCubeTexture(1, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED, &c, nullptr), D3D_OK);
  ASSERT_EQ(GXLFillCubeTextureFromShader(c.get(), &shader), D3D_OK);
  const float want[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (UINT face = 0; face < 6; ++face) {
    const std::vector<float> f = Floats(c.get(), 0, face);
    // Normalised directions: the SSE bodies may leave a unit axis one ulp short.
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(f[k], want[face][k], 2e-7) << face;
  }
  EXPECT_EQ(shader.refs, 1u);
  EXPECT_EQ(RefCount(shader.function), 1u);
}

TEST_F(GxlFill, ShaderFailuresPassThroughAndReleaseTheBuffers) {
  const Words good = Code({{kMov, 4, {kPosition}, kColour}});
  struct Case {
    const char* what;
    Words code;
    HRESULT functionResult, constantResult, want;
  } cases[] = {
      {"function buffer fails", good, E_OUTOFMEMORY, S_OK, E_OUTOFMEMORY},
      {"constant buffer fails", good, S_OK, D3DERR_NOTAVAILABLE, D3DERR_NOTAVAILABLE},
      {"code that does not validate", Code({{kMov, 4, {kPosition}, {3, 0}}}), S_OK, S_OK, D3DERR_INVALIDCALL},
      {"code that needs a file of cells", Code({{kMov, 4, {{9, 0}}, kColour}}), S_OK, S_OK, D3DERR_INVALIDCALL},
  };
  for (const Case& c : cases) {
    FakeShader shader(c.code, {1, 2, 3, 4});
    shader.functionResult = c.functionResult;
    shader.constantResult = c.constantResult;
    auto t = Texture(2, 2, 1, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(GXLFillTextureFromShader(t.get(), &shader), c.want) << c.what;
    EXPECT_EQ(RefCount(shader.function), 1u) << c.what;
    EXPECT_EQ(RefCount(shader.constants), 1u) << c.what;
    EXPECT_EQ(shader.refs, 1u) << c.what;
  }
}

}  // namespace
