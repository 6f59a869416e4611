// The pipeline against the device's other state: vertex layouts and buffers,
// several stages and coordinate sets, specular, depth surfaces written by
// locks and partial clears, merged rectangles, and the diagnostics of states
// that have no effect here.
#include <limits>

#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

using platform::test::DiagnosticCount;
using rastertest::Ref;
using rastertest::TlVertex;

class D3D9RasterState : public rastertest::RasterTest {};

TEST_F(D3D9RasterState, IndexedBufferDrawsThroughADeclaration) {
  // The sprite batcher's road: a declaration, a vertex and an index buffer.
  struct SpriteVertex {
    float x, y, z;
    DWORD color;
    float u, v;
  };
  const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                        {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                        {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                        D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> decl;
  ASSERT_EQ(dev->CreateVertexDeclaration(elements, &decl), D3D_OK);
  Ref<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(dev->CreateVertexBuffer(8 * sizeof(SpriteVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                    D3DPOOL_DEFAULT, &vb, nullptr),
            D3D_OK);
  Ref<IDirect3DIndexBuffer9> ib;
  ASSERT_EQ(dev->CreateIndexBuffer(12 * 2, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                   &ib, nullptr),
            D3D_OK);
  void* p = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
  auto* v = static_cast<SpriteVertex*>(p);
  // Two 0.5-pixel-up-and-left rectangles in clip space via an identity projection.
  auto corner = [](float x, float y) { return std::pair<float, float>{(x - 0.5f) / 320 - 1, 1 - (y - 0.5f) / 240}; };
  const float rects[2][4] = {{10, 10, 30, 20}, {100, 50, 104, 90}};
  for (int r = 0; r < 2; ++r) {
    const DWORD colour = r ? 0xFF00FF00 : 0xFFFF0000;
    for (int k = 0; k < 4; ++k) {
      const auto [cx, cy] = corner(rects[r][k & 1 ? 2 : 0], rects[r][k & 2 ? 3 : 1]);
      v[4 * r + k] = {cx, cy, 0, colour, 0, 0};
    }
  }
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  ASSERT_EQ(ib->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
  const WORD index[12] = {0, 1, 2, 1, 3, 2, 4, 5, 6, 5, 7, 6};
  std::memcpy(p, index, sizeof index);
  ASSERT_EQ(ib->Unlock(), D3D_OK);
  ASSERT_EQ(dev->SetVertexDeclaration(decl.get()), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(0, vb.get(), 0, sizeof(SpriteVertex)), D3D_OK);
  ASSERT_EQ(dev->SetIndices(ib.get()), D3D_OK);
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 8, 0, 4), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  const auto px = Screen();
  EXPECT_EQ(CountNot(px, 0), 20 * 10 + 4 * 40);
  EXPECT_EQ(At(px, 10, 10), 0xFF0000u);
  EXPECT_EQ(At(px, 29, 19), 0xFF0000u);
  EXPECT_EQ(At(px, 103, 89), 0x00FF00u);
}

TEST_F(D3D9RasterState, TwoStagesWithTheirOwnCoordinateSets) {
  // FVF with two coordinate sets: stage 0 reads set 1, stage 1 reads set 0.
  struct V2 {
    float x, y, z, rhw;
    DWORD color;
    float u0, v0, u1, v1;
  };
  auto a = Texture(2, 1, {0xFFFF0000, 0xFF00FF00});
  auto b = Texture(1, 2, {0xFF808080, 0xFFFFFFFF});
  ASSERT_EQ(dev->SetTexture(0, a.get()), D3D_OK);
  ASSERT_EQ(dev->SetTexture(1, b.get()), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT), D3D_OK);
  // Set 1 runs u across (texture a: red | green), set 0 runs v down (b: grey / white).
  const V2 q[4] = {{0, 0, 0, 1, ~0u, 0, 0, 0, 0},
                   {4, 0, 0, 1, ~0u, 0, 0, 1, 0},
                   {0, 4, 0, 1, ~0u, 0, 1, 0, 0},
                   {4, 4, 0, 1, ~0u, 0, 1, 1, 0}};
  ASSERT_EQ(dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2), D3D_OK);
  Clear(0);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V2)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  const auto px = Screen();
  EXPECT_EQ(At(px, 0, 0), 0x800000u);  // red x grey
  EXPECT_EQ(At(px, 3, 0), 0x008000u);  // green x grey
  EXPECT_EQ(At(px, 0, 3), 0xFF0000u);  // red x white
  EXPECT_EQ(At(px, 3, 3), 0x00FF00u);
}

TEST_F(D3D9RasterState, SpecularAddsWhenEnabled) {
  struct VS {
    float x, y, z, rhw;
    DWORD diffuse, specular;
  };
  const VS q[4] = {{0, 0, 0, 1, 0xFF404040, 0x00102030},
                   {4, 0, 0, 1, 0xFF404040, 0x00102030},
                   {0, 4, 0, 1, 0xFF404040, 0x00102030},
                   {4, 4, 0, 1, 0xFF404040, 0x00102030}};
  ASSERT_EQ(dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR), D3D_OK);
  for (BOOL enable : {FALSE, TRUE}) {
    ASSERT_EQ(dev->SetRenderState(D3DRS_SPECULARENABLE, enable), D3D_OK);
    Clear(0);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(VS)), D3D_OK);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    EXPECT_EQ(At(Screen(), 1, 1), enable ? 0x506070u : 0x404040u);
  }
}

TEST_F(D3D9RasterState, DepthWrittenByLocksAndPartialClears) {
  ASSERT_EQ(dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
  Ref<IDirect3DSurface9> depth;
  ASSERT_EQ(dev->CreateDepthStencilSurface(640, 480, D3DFMT_D16_LOCKABLE, D3DMULTISAMPLE_NONE, 0, FALSE, &depth, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
  // Cleared near, then a far rectangle cleared into it: z = 0.5 shows only there.
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
  const D3DRECT far{20, 20, 40, 30};
  ASSERT_EQ(dev->Clear(1, &far, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  Quad(0, 0, 100, 100, 0xFFFFFFFF, 0, 0, 1, 1, 0.5f);
  EXPECT_EQ(CountNot(Screen(), 0), 20 * 10);
  // Values written through a lock: a column of far pixels.
  D3DLOCKED_RECT lr;
  ASSERT_EQ(depth->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      static_cast<std::uint16_t*>(lr.pBits)[y * lr.Pitch / 2 + x] = x == 70 ? 0xFFFF : 0x1000;
  ASSERT_EQ(depth->UnlockRect(), D3D_OK);
  Clear(0);
  Quad(0, 0, 100, 100, 0xFFFFFFFF, 0, 0, 1, 1, 0.5f);
  const auto px = Screen();
  EXPECT_EQ(CountNot(px, 0), 100);
  EXPECT_NE(At(px, 70, 50), 0u);
  // The draw wrote its depth where it passed: again at z = 0.5 it passes there.
  ASSERT_EQ(depth->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<std::uint16_t*>(lr.pBits)[50 * lr.Pitch / 2 + 70], 32768);
  EXPECT_EQ(static_cast<std::uint16_t*>(lr.pBits)[50 * lr.Pitch / 2 + 71], 0x1000);
  ASSERT_EQ(depth->UnlockRect(), D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(nullptr), D3D_OK);
}

TEST_F(D3D9RasterState, MergedRectanglesMatchTheirTriangles) {
  // The same Gouraud-textured rectangle as one strip (merged) and as two
  // separate draws: the same pixels, colours within one step.
  std::vector<std::uint32_t> texels(16 * 16);
  for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | std::uint32_t(i * 2654435761u);
  auto tex = Texture(16, 16, texels);
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3D_OK);
  // The fourth corner's attributes are the affine continuation of the others.
  const TlVertex affine[4] = {{10.3f, 12.7f, 0, 1, 0xFF102030, 0.1f, 0.2f},
                              {90.3f, 12.7f, 0, 1, 0xFF806050, 0.9f, 0.2f},
                              {10.3f, 70.7f, 0, 1, 0xFF305070, 0.1f, 0.8f},
                              {90.3f, 70.7f, 0, 1, 0xFFA09090, 0.9f, 0.8f}};
  Clear(0);
  DrawTl(D3DPT_TRIANGLESTRIP, 2, affine);
  const auto merged = Screen();
  Clear(0);
  const TlVertex first[3] = {affine[0], affine[1], affine[2]}, second[3] = {affine[1], affine[3], affine[2]};
  DrawTl(D3DPT_TRIANGLELIST, 1, first);
  DrawTl(D3DPT_TRIANGLELIST, 1, second);
  const auto split = Screen();
  int differ = 0;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    ASSERT_EQ(merged[i] == 0, split[i] == 0) << i;
    for (int c = 0; c < 24; c += 8) differ += std::abs(int(rastertest::Channel(merged[i], c)) - int(rastertest::Channel(split[i], c))) > 1;
  }
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(CountNot(merged, 0), 80 * 58);
}

TEST_F(D3D9RasterState, UnusableRhwCountsAsOne) {
  const TlVertex q[4] = {{0, 0, 0, 0, 0xFF00FF00, 0, 0}, {8, 0, 0, 0, 0xFF00FF00, 1, 0}, {0, 8, 0, 0, 0xFF00FF00, 0, 1},
                         {8, 8, 0, 0, 0xFF00FF00, 1, 1}};
  Clear(0);
  DrawTl(D3DPT_TRIANGLESTRIP, 2, q);
  EXPECT_EQ(CountNot(Screen(), 0), 64);
}

TEST_F(D3D9RasterState, NonFiniteInputsDrawNothingWrong) {
  // NaN and huge texture coordinates and positions, affine and in perspective:
  // the draws succeed, nothing is drawn where positions are unusable.
  auto tex = Texture(4, 4, std::vector<std::uint32_t>(16, 0xFF00FF00u));
  ASSERT_EQ(dev->SetTexture(0, tex.get()), D3D_OK);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float rhw : {1.0f, 0.5f}) {
    const TlVertex bad[3] = {{10, 10, 0, 1, ~0u, nan, 1e30f}, {50, 10, 0, rhw, ~0u, -inf, 0}, {10, 50, 0, 1, ~0u, 0, nan}};
    Clear(0);
    DrawTl(D3DPT_TRIANGLELIST, 1, bad);
    EXPECT_GT(CountNot(Screen(), 0), 0);  // drawn, whatever the texels
    const TlVertex lost[3] = {{nan, 10, 0, 1, ~0u, 0, 0}, {50, inf, 0, rhw, ~0u, 0, 0}, {10, 50, nan, 1, ~0u, 0, 0}};
    Clear(0);
    DrawTl(D3DPT_TRIANGLELIST, 1, lost);
    EXPECT_EQ(CountNot(Screen(), 0), 0);
  }
}

TEST_F(D3D9RasterState, StatesWithoutEffectAreCounted) {
  ASSERT_EQ(dev->SetRenderState(D3DRS_FOGENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_STENCILENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3), D3D_OK);
  Clear(0);
  Quad(0, 0, 4, 4, 0xFF0000FF);
  EXPECT_EQ(DiagnosticCount("d3d9.fog"), 1);
  EXPECT_EQ(DiagnosticCount("d3d9.stencil"), 1);
  EXPECT_EQ(DiagnosticCount("d3d9.fill-mode"), 1);
  EXPECT_EQ(DiagnosticCount("d3d9.unknown-texture-op"), 1);
  // Drawn as solid, and the unknown operation as SELECTARG1 (no texture: the diffuse colour).
  EXPECT_EQ(At(Screen(), 2, 2), 0x0000FFu);
  // Lighting counts only for vertices it would light.
  ASSERT_EQ(dev->SetRenderState(D3DRS_LIGHTING, TRUE), D3D_OK);
  Quad(0, 0, 4, 4, 0xFF0000FF);
  EXPECT_EQ(DiagnosticCount("d3d9.lighting"), 0);
  const rastertest::Vertex tri[3] = {{0, 0, 0.5f, ~0u, 0, 0}, {1, 0, 0.5f, ~0u, 0, 0}, {0, 1, 0.5f, ~0u, 0, 0}};
  ASSERT_EQ(dev->SetFVF(rastertest::kFvf), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof tri[0]), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(DiagnosticCount("d3d9.lighting"), 1);
}

TEST_F(D3D9RasterState, CubeTexturesReadMagenta) {
  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(dev->CreateCubeTexture(8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, cube.get()), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1), D3D_OK);
  Clear(0);
  Quad(0, 0, 4, 4, ~0u);
  EXPECT_EQ(At(Screen(), 1, 1), 0xFF00FFu);
  EXPECT_EQ(DiagnosticCount("d3d9.unsupported-texture-type"), 1);
}

}  // namespace
