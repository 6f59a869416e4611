// Draw validation and its hand-off to the rasteriser, Present, device loss and
// Reset. A recording rasteriser stands in for the pipeline.
#include <memory>

#include "d3d9/device.h"
#include "d3d9/surface.h"
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;
using platform::test::DiagnosticCount;

struct Recorded {
  platform::d3d9::DrawRequest request;
  std::vector<std::uint8_t> firstVertex;  // stream 0's first bytes as the pipeline saw them
};

class RecordingRasterizer final : public platform::d3d9::Rasterizer {
 public:
  explicit RecordingRasterizer(std::vector<Recorded>* draws, int* presents) : m_draws(draws), m_presents(presents) {}
  void Draw(const platform::d3d9::DrawRequest& r) override {
    Recorded rec{r, {}};
    if (r.streams[0].data) rec.firstVertex.assign(r.streams[0].data, r.streams[0].data + 4);
    m_draws->push_back(rec);
  }
  void Present(platform::d3d9::Surface& back) override {
    ++*m_presents;
    EXPECT_TRUE(back.IsRenderTarget());
  }

 private:
  std::vector<Recorded>* m_draws;
  int* m_presents;
};

struct Vertex {  // FVF 0x142: position, diffuse, one texture coordinate pair
  float x, y, z;
  DWORD color;
  float u, v;
};
static_assert(sizeof(Vertex) == 24);

class D3D9ResDraw : public d3dtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    auto* device = dynamic_cast<platform::d3d9::Device*>(dev);
    ASSERT_NE(device, nullptr);
    device->ReplaceRasterizer(std::make_unique<RecordingRasterizer>(&draws, &presents));
    for (int i = 0; i < 10; ++i) vertices[i] = Vertex{float(i), 0, 0, 0xFF000000u | DWORD(i), 0, 0};
  }
  Ref<IDirect3DVertexBuffer9> Buffer(UINT count) {
    Ref<IDirect3DVertexBuffer9> vb;
    EXPECT_EQ(dev->CreateVertexBuffer(count * sizeof(Vertex), D3DUSAGE_WRITEONLY, 0x142, D3DPOOL_DEFAULT, &vb, nullptr),
              D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, vertices, std::min<std::size_t>(count, 10) * sizeof(Vertex));
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    return vb;
  }
  Ref<IDirect3DIndexBuffer9> Indices(const std::vector<WORD>& values) {
    Ref<IDirect3DIndexBuffer9> ib;
    EXPECT_EQ(dev->CreateIndexBuffer(UINT(values.size() * 2), 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr),
              D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, values.data(), values.size() * 2);
    EXPECT_EQ(ib->Unlock(), D3D_OK);
    return ib;
  }

  std::vector<Recorded> draws;
  int presents = 0;
  Vertex vertices[10];
};

TEST_F(D3D9ResDraw, DrawsNeedAScene) {
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(Vertex)), D3DERR_INVALIDCALL);
  EXPECT_EQ(DiagnosticCount("d3d9.draw-outside-scene"), 1);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(Vertex)), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0, vertices, sizeof(Vertex)), D3D_OK);  // no-op
  EXPECT_EQ(dev->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(7), 1, vertices, sizeof(Vertex)), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  ASSERT_EQ(draws.size(), 1u);
  const auto& r = draws[0].request;
  EXPECT_EQ(r.type, D3DPT_TRIANGLELIST);
  EXPECT_EQ(r.primitiveCount, 1u);
  EXPECT_EQ(r.vertexCount, 3u);
  EXPECT_EQ(r.streams[0].data, reinterpret_cast<const std::uint8_t*>(vertices));
  EXPECT_EQ(r.streams[0].stride, 24u);
  EXPECT_EQ(r.layout->streamExtent[0], 24u);
  EXPECT_FALSE(r.layout->transformed);
  EXPECT_EQ(r.indices, nullptr);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  EXPECT_EQ(static_cast<IDirect3DSurface9*>(r.target), back.get());
  EXPECT_NE(r.depth, nullptr);
}

TEST_F(D3D9ResDraw, UserPointerDrawsLeaveStreamZeroAndIndicesUnset) {
  Ref<IDirect3DVertexBuffer9> vb = Buffer(10);
  Ref<IDirect3DIndexBuffer9> ib = Indices({0, 1, 2});
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 0, 24), D3D_OK);
  ASSERT_EQ(dev->SetIndices(ib.get()), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(Vertex)), D3D_OK);
  Ref<IDirect3DVertexBuffer9> stream;
  UINT offset = 1, stride = 1;
  ASSERT_EQ(dev->GetStreamSource(0, &stream, &offset, &stride), D3D_OK);
  EXPECT_FALSE(stream);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(stride, 0u);
  Ref<IDirect3DIndexBuffer9> indices;
  ASSERT_EQ(dev->GetIndices(&indices), D3D_OK);
  EXPECT_EQ(indices.get(), ib.get());  // only the indexed form unsets the indices
  indices.reset();
  const WORD list[3] = {2, 3, 4};
  ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 2, 3, 1, list, D3DFMT_INDEX16, vertices, 24), D3D_OK);
  ASSERT_EQ(dev->GetIndices(&indices), D3D_OK);
  EXPECT_FALSE(indices);
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[1].request.minIndex, 2u);
  EXPECT_EQ(draws[1].request.maxIndex, 4u);
  EXPECT_EQ(draws[1].request.indexSize, 2u);
  // The caller's array is known to hold only the vertices the hints name.
  EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 3, 2, 1, list, D3DFMT_INDEX16, vertices, 24),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 2, 3, 1, list, D3DFMT_A8, vertices, 24),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 20), D3DERR_INVALIDCALL);  // narrower than a vertex
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, 24), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
}

TEST_F(D3D9ResDraw, BufferDrawsStayInsideTheirBuffers) {
  Ref<IDirect3DVertexBuffer9> vb = Buffer(10);
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no stream
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 0, 24), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 7, 1), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 8, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_LINESTRIP, 0, 9), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_LINESTRIP, 0, 10), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, 0, 10), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 8), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 9), D3DERR_INVALIDCALL);
  // The stream offset counts against the buffer's end.
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 48, 24), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 5, 1), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 6, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  ASSERT_EQ(draws.size(), 5u);
  EXPECT_EQ(draws[0].request.firstVertex, 7u);
  EXPECT_EQ(draws.back().firstVertex[0], 0);  // x of vertex 2 (offset 48) is 2.0f: bytes 00 00 00 40
  EXPECT_EQ(draws.back().firstVertex[3], 0x40);
}

TEST_F(D3D9ResDraw, IndexedDrawsCheckEveryIndex) {
  Ref<IDirect3DVertexBuffer9> vb = Buffer(10);
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 0, 24), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 10, 0, 1), D3DERR_INVALIDCALL);  // no indices
  Ref<IDirect3DIndexBuffer9> ib = Indices({0, 1, 2, 7, 8, 9, 3, 4});
  ASSERT_EQ(dev->SetIndices(ib.get()), D3D_OK);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 10, 0, 2), D3D_OK);
  // The minimum-index and vertex-count hints are not enforced.
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 5, 1, 3, 1), D3D_OK);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 10, 0, 2), D3DERR_INVALIDCALL);  // 9 + 1
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 10, 3, 1), D3D_OK);            // 7..9 - 1
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 10, 0, 1), D3DERR_INVALIDCALL);  // 0 - 1
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 10, 6, 1), D3DERR_INVALIDCALL);   // 6 + 3 > 8
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 10, 6, 1), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  ASSERT_EQ(draws.size(), 4u);
  EXPECT_EQ(draws[0].request.minIndex, 0u);
  EXPECT_EQ(draws[0].request.maxIndex, 9u);
  EXPECT_EQ(draws[2].request.baseVertex, -1);
  EXPECT_EQ(draws[3].request.minIndex, 3u);
  EXPECT_EQ(draws[3].request.maxIndex, 4u);
}

TEST_F(D3D9ResDraw, DeclarationsMayReadSeveralStreams) {
  const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                        {1, 4, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                        D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> decl;
  ASSERT_EQ(dev->CreateVertexDeclaration(elements, &decl), D3D_OK);
  ASSERT_EQ(dev->SetVertexDeclaration(decl.get()), D3D_OK);
  Ref<IDirect3DVertexBuffer9> positions = Buffer(10), colours;
  ASSERT_EQ(dev->CreateVertexBuffer(8 * 3, 0, 0, D3DPOOL_MANAGED, &colours, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, positions.get(), 0, 24), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // stream 1 missing
  ASSERT_EQ(dev->SetStreamSource(1, colours.get(), 0, 8), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);  // colour of vertex 2 ends at 2 x 8 + 8
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 24), D3DERR_INVALIDCALL);  // one stream only
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].request.streams[1].stride, 8u);
  ASSERT_EQ(dev->SetVertexDeclaration(nullptr), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no vertex format
  ASSERT_EQ(dev->EndScene(), D3D_OK);
}

TEST_F(D3D9ResDraw, LockedResourcesAndTheCurrentTargetAreNotDrawn) {
  Ref<IDirect3DVertexBuffer9> vb = Buffer(10);
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 0, 24), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  void* p = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  EXPECT_EQ(DiagnosticCount("d3d9.draw-locked-resource"), 1);

  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(1, &lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(t->UnlockRect(1), D3D_OK);
  EXPECT_EQ(DiagnosticCount("d3d9.draw-locked-resource"), 2);

  // Sampling the texture being drawn into.
  Ref<IDirect3DTexture9> target;
  ASSERT_EQ(dev->CreateTexture(640, 480, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
            D3D_OK);
  Ref<IDirect3DSurface9> level(Level(target.get()));
  ASSERT_EQ(dev->SetRenderTarget(0, level.get()), D3D_OK);
  ASSERT_EQ(dev->SetTexture(1, target.get()), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);  // stage 1 is off
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(DiagnosticCount("d3d9.sample-render-target"), 1);
  ASSERT_EQ(dev->SetTexture(1, nullptr), D3D_OK);

  // A depth surface smaller than the target.
  Ref<IDirect3DSurface9> depth;
  ASSERT_EQ(dev->CreateDepthStencilSurface(320, 480, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetDepthStencilSurface(nullptr), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(draws.back().request.depth, nullptr);
  // Drawing marks the target's sampling copy stale.
  EXPECT_TRUE(dynamic_cast<platform::d3d9::Surface*>(level.get())->Cache().dirty);
}

TEST_F(D3D9ResDraw, PresentRules) {
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  const RECT r{0, 0, 1, 1};
  EXPECT_EQ(dev->Present(&r, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Present(nullptr, &r, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Present(nullptr, nullptr, reinterpret_cast<HWND>(1), nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, &r), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(presents, 2);
  EXPECT_EQ(platform::test::D3D9PresentCount(dev), 2u);
}

TEST_F(D3D9ResDraw, PresentHandsTheBackBufferToTheBackend) {
  std::vector<platform::test::Frame> frames;
  platform::test::OnPresent([&](const platform::test::Frame& f) { frames.push_back(f); });
  const std::int64_t before = platform::test::FrameCount();
  const D3DRECT left{0, 0, 320, 480};
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00102030, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->Clear(1, &left, D3DCLEAR_TARGET, 0xFFC08040, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(platform::test::FrameCount(), before + 1);
  const auto& f = frames[0];
  ASSERT_EQ(f.width, 640);
  ASSERT_EQ(f.height, 480);
  const std::uint8_t* leftPixel = &f.rgba[(100 * 640 + 5) * 4];
  const std::uint8_t* rightPixel = &f.rgba[(479 * 640 + 639) * 4];
  EXPECT_EQ(std::vector<int>(leftPixel, leftPixel + 4), (std::vector<int>{0xC0, 0x80, 0x40, 255}));
  EXPECT_EQ(std::vector<int>(rightPixel, rightPixel + 4), (std::vector<int>{0x10, 0x20, 0x30, 255}));
  // A refused present shows nothing.
  platform::test::SetD3D9DeviceLost(true);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(frames.size(), 1u);
}

TEST_F(D3D9ResDraw, BackBufferPoison) {
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  EXPECT_EQ(ReadBack(back.get())[0], 0xFF102030u);  // the back buffer keeps its contents
  platform::test::SetD3D9BackBufferPoison(true);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  for (std::uint32_t p : ReadBack(back.get())) ASSERT_EQ(p, 0xFFFF00FFu);
}

TEST_F(D3D9ResDraw, DeviceLossAndReset) {
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  platform::test::SetD3D9DeviceLost(true);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  D3DPRESENT_PARAMETERS p = d3dtest::WindowedParams();
  {
    // Live default-pool resources keep the reset failing, as the game's targets do.
    Ref<IDirect3DTexture9> target;
    ASSERT_EQ(
        dev->CreateTexture(512, 512, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
        D3D_OK);
    EXPECT_EQ(dev->Reset(&p), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  }
  {
    Ref<IDirect3DSurface9> back;
    ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    EXPECT_EQ(dev->Reset(&p), D3DERR_INVALIDCALL);  // held implicit surfaces count too
  }
  // Managed resources survive; state returns to the defaults and is unbound.
  Ref<IDirect3DTexture9> managed;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, managed.get()), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
  const D3DVIEWPORT9 v{1, 1, 2, 2, 0, 1};
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  p = d3dtest::WindowedParams(320, 240);
  ASSERT_EQ(dev->Reset(&p), D3D_OK);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  DWORD cull = 0;
  ASSERT_EQ(dev->GetRenderState(D3DRS_CULLMODE, &cull), D3D_OK);
  EXPECT_EQ(cull, DWORD(D3DCULL_CCW));
  Ref<IDirect3DBaseTexture9> bound;
  ASSERT_EQ(dev->GetTexture(0, &bound), D3D_OK);
  EXPECT_FALSE(bound);
  D3DVIEWPORT9 got{};
  ASSERT_EQ(dev->GetViewport(&got), D3D_OK);
  EXPECT_EQ(got.Width, 320u);
  EXPECT_EQ(got.Height, 240u);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DSURFACE_DESC d;
  ASSERT_EQ(back->GetDesc(&d), D3D_OK);
  EXPECT_EQ(d.Width, 320u);
  EXPECT_EQ(dev->Reset(nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
