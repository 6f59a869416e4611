#include "draw_test_support.h"

#include <cstring>
#include <new>

#include "gxl/math/dispatch.h"
#include "gxl/math/math_testing.h"
#include "tests/support/d3d9_params.h"

namespace drawtest {

namespace {

// Every test starts from the math library's state at process start (the
// debug-mute calls and the dispatch table included).
[[maybe_unused]] const bool kMathReset = (platform::test::RegisterReset(&gxl::math::test::ResetMathState), true);

}  // namespace

std::vector<std::string> LoggedArgs(const std::string& method) {
  std::vector<std::string> out;
  for (const auto& c : platform::test::D3D9Calls())
    if (c.method == method) out.push_back(c.args);
  return out;
}

void SpriteTest::SetUp() {
  d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  RecreateDevice(D3DCREATE_HARDWARE_VERTEXPROCESSING);
}

void SpriteTest::RecreateDevice(DWORD behaviour) {
  if (dev) {
    EXPECT_EQ(dev->Release(), 0u) << platform::test::D3D9LiveObjectReport();
  }
  dev = nullptr;
  D3DPRESENT_PARAMETERS p = nura::test::WindowedParams();
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, behaviour, &p, &dev), D3D_OK);
}

void SpriteTest::TearDown() {
  if (dev) {
    EXPECT_EQ(dev->Release(), 0u) << platform::test::D3D9LiveObjectReport();
  }
  if (d3d) {
    EXPECT_EQ(d3d->Release(), 0u);
  }
  EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
}

ComRef<SpriteBatcher> SpriteTest::MakeBatcher() { return MakeBatcher(dev); }

ComRef<SpriteBatcher> SpriteTest::MakeBatcher(IDirect3DDevice9* device) {
  SpriteBatcher* b = nullptr;
  EXPECT_EQ(GXLCreateSpriteBatcher(device, &b), S_OK);
  return ComRef<SpriteBatcher>(b);
}

ComRef<IDirect3DTexture9> SpriteTest::MakeTexture(UINT width, UINT height,
                                                  const std::function<std::uint32_t(UINT x, UINT y)>& texel) {
  ComRef<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.Put(), nullptr), D3D_OK);
  if (!t) return t;
  D3DLOCKED_RECT lr{};
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  for (UINT y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch);
    for (UINT x = 0; x < width; ++x) row[x] = texel(x, y);
  }
  EXPECT_EQ(t->UnlockRect(0), D3D_OK);
  return t;
}

std::vector<SpriteVertex> SpriteTest::BoundVertices(UINT first, UINT count) {
  std::vector<SpriteVertex> out(count);
  ComRef<IDirect3DVertexBuffer9> vb;
  UINT offset = 0, stride = 0;
  EXPECT_EQ(dev->GetStreamSource(0, vb.Put(), &offset, &stride), D3D_OK);
  EXPECT_TRUE(vb) << "no vertex buffer bound";
  if (!vb) return {};
  EXPECT_EQ(stride, sizeof(SpriteVertex));
  void* data = nullptr;
  EXPECT_EQ(vb->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  std::memcpy(out.data(), static_cast<std::uint8_t*>(data) + offset + std::size_t(first) * sizeof(SpriteVertex),
              std::size_t(count) * sizeof(SpriteVertex));
  EXPECT_EQ(vb->Unlock(), D3D_OK);
  return out;
}

std::vector<std::uint32_t> SpriteTest::BackBufferPixels() {
  ComRef<IDirect3DSurface9> back;
  EXPECT_EQ(dev->GetRenderTarget(0, back.Put()), D3D_OK);
  return SurfacePixels(back.Get());
}

std::vector<std::uint32_t> SpriteTest::SurfacePixels(IDirect3DSurface9* surface) {
  D3DSURFACE_DESC desc{};
  EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
  ComRef<IDirect3DSurface9> copy;
  ComRef<IDirect3DTexture9> staging;
  IDirect3DSurface9* read = surface;
  D3DLOCKED_RECT lr{};
  if (FAILED(surface->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
    EXPECT_EQ(dev->CreateTexture(desc.Width, desc.Height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, staging.Put(), nullptr),
              D3D_OK);
    EXPECT_EQ(staging->GetSurfaceLevel(0, copy.Put()), D3D_OK);
    EXPECT_EQ(dev->GetRenderTargetData(surface, copy.Get()), D3D_OK);
    read = copy.Get();
    EXPECT_EQ(read->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  }
  std::vector<std::uint32_t> px(std::size_t(desc.Width) * desc.Height);
  for (UINT y = 0; y < desc.Height; ++y)
    std::memcpy(&px[std::size_t(y) * desc.Width], static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch,
                desc.Width * 4);
  EXPECT_EQ(read->UnlockRect(), D3D_OK);
  return px;
}

HRESULT FakeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  ++m_describeCalls;
  if (FAILED(m_failure)) return m_failure;
  if (level != 0 || !desc) return D3DERR_INVALIDCALL;
  *desc = D3DSURFACE_DESC{};
  desc->Format = D3DFMT_A8R8G8B8;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Pool = D3DPOOL_MANAGED;
  desc->Width = m_width;
  desc->Height = m_height;
  return D3D_OK;
}

// --- Math calls ---------------------------------------------------------------------

namespace {

using TransformArrayFn = Vec3* (*)(Vec3*, std::uint32_t, const Vec3*, std::uint32_t, const Matrix4*, std::uint32_t);
TransformArrayFn g_realTransformArray = nullptr;
std::vector<std::uint32_t> g_transformArrayCounts;

Vec3* CountingTransformArray(Vec3* out, std::uint32_t outStride, const Vec3* in, std::uint32_t inStride,
                             const Matrix4* m, std::uint32_t count) {
  g_transformArrayCounts.push_back(count);
  return g_realTransformArray(out, outStride, in, inStride, m, count);
}

}  // namespace

TransformArrayCalls::TransformArrayCalls() {
  // The first math call fills the table; the counter goes in afterwards.
  InitMathDispatch(1);
  MathDispatchTable& table = gxl::math::test::LiveDispatchTable();
  g_realTransformArray = table.Vec3TransformPointArray;
  table.Vec3TransformPointArray = &CountingTransformArray;
  g_transformArrayCounts.clear();
}

TransformArrayCalls::~TransformArrayCalls() {
  gxl::math::test::LiveDispatchTable().Vec3TransformPointArray = g_realTransformArray;
}

std::vector<std::uint32_t> TransformArrayCalls::Take() { return std::exchange(g_transformArrayCounts, {}); }

}  // namespace drawtest
