// State blocks: recording leaves the device's state alone, Capture refreshes
// exactly the recorded entries, Apply sets exactly those, and blocks hold what
// they contain.
#include "d3d9_fixture.h"

namespace {

using d3dtest::RefCount;
using d3dtest::Ref;
using platform::test::SnapshotState;

class D3D9ResStateBlock : public d3dtest::DeviceTest {
 protected:
  DWORD RS(D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    EXPECT_EQ(dev->GetRenderState(s, &v), D3D_OK);
    return v;
  }
  D3DVIEWPORT9 Viewport() {
    D3DVIEWPORT9 v{};
    EXPECT_EQ(dev->GetViewport(&v), D3D_OK);
    return v;
  }
};

TEST_F(D3D9ResStateBlock, RecordingLeavesTheCurrentStateUnchanged) {
  const auto before = SnapshotState(dev);
  Ref<IDirect3DTexture9> t;
  Ref<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateVertexBuffer(96, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  D3DMATRIX m{};
  m._11 = 3.0f;
  const D3DVIEWPORT9 v{1, 2, 30, 40, 0.5f, 0.5f};
  const float c[4] = {1, 2, 3, 4};
  EXPECT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
  EXPECT_EQ(dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
  EXPECT_EQ(dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3D_OK);
  EXPECT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
  EXPECT_EQ(dev->SetTransform(D3DTS_PROJECTION, &m), D3D_OK);
  EXPECT_EQ(dev->SetViewport(&v), D3D_OK);
  EXPECT_EQ(dev->SetFVF(0x144), D3D_OK);
  EXPECT_EQ(dev->SetStreamSource(0, vb.get(), 0, 24), D3D_OK);
  EXPECT_EQ(dev->SetVertexShader(nullptr), D3D_OK);
  EXPECT_EQ(dev->SetVertexShaderConstantF(5, c, 1), D3D_OK);
  EXPECT_EQ(dev->SetNPatchMode(3.0f), D3D_OK);
  // Gets see the device's own state throughout.
  EXPECT_EQ(RS(D3DRS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(Viewport().Width, 640u);
  EXPECT_EQ(before, SnapshotState(dev));
  Ref<IDirect3DStateBlock9> block;
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  EXPECT_EQ(before, SnapshotState(dev));
  ASSERT_EQ(block->Apply(), D3D_OK);
  const auto diff = platform::test::DiffStates(before, SnapshotState(dev));
  EXPECT_EQ(diff.size(), 10u);  // the null vertex shader changes nothing
  EXPECT_EQ(RS(D3DRS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(Viewport().X, 1u);
  EXPECT_EQ(dev->GetNPatchMode(), 3.0f);
  float got[4] = {};
  ASSERT_EQ(dev->GetVertexShaderConstantF(5, got, 1), D3D_OK);
  EXPECT_EQ(got[3], 4.0f);
}

TEST_F(D3D9ResStateBlock, LastValueWinsAndCaptureRefreshesOnlyRecordedEntries) {
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA), D3D_OK);
  Ref<IDirect3DStateBlock9> block;
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR), D3D_OK);
  ASSERT_EQ(block->Apply(), D3D_OK);
  EXPECT_EQ(RS(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));

  // Capture takes the device's value of the recorded entry and nothing else.
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVDESTCOLOR), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE), D3D_OK);
  ASSERT_EQ(block->Capture(), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO), D3D_OK);
  const auto before = SnapshotState(dev);
  ASSERT_EQ(block->Apply(), D3D_OK);
  EXPECT_EQ(RS(D3DRS_SRCBLEND), DWORD(D3DBLEND_INVDESTCOLOR));
  EXPECT_EQ(RS(D3DRS_DESTBLEND), DWORD(D3DBLEND_ZERO));
  EXPECT_EQ(platform::test::DiffStates(before, SnapshotState(dev)).size(), 1u);
}

TEST_F(D3D9ResStateBlock, ViewportBlocksSaveAndRestoreTheApplicationViewport) {
  // A renderer records its own viewport once, then captures the application's
  // into the same block before switching, and applies it afterwards.
  const D3DVIEWPORT9 mine{0, 0, 256, 256, 0, 1};
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  ASSERT_EQ(dev->SetViewport(&mine), D3D_OK);
  Ref<IDirect3DStateBlock9> block;
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  const D3DVIEWPORT9 app{10, 10, 320, 240, 0.0f, 1.0f};
  ASSERT_EQ(dev->SetViewport(&app), D3D_OK);
  ASSERT_EQ(block->Capture(), D3D_OK);
  ASSERT_EQ(dev->SetViewport(&mine), D3D_OK);
  ASSERT_EQ(block->Apply(), D3D_OK);
  EXPECT_EQ(Viewport().X, 10u);
  EXPECT_EQ(Viewport().Width, 320u);

  // An injected SetViewport failure changes nothing; Apply still sets the block's viewport.
  platform::test::FailCall("SetViewport", E_OUTOFMEMORY, 1, -1);
  EXPECT_EQ(dev->SetViewport(&mine), E_OUTOFMEMORY);
  EXPECT_EQ(Viewport().Width, 320u);
  Ref<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetRenderTarget(0, &back), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, back.get()), D3D_OK);
  EXPECT_EQ(Viewport().Width, 640u);
  ASSERT_EQ(block->Apply(), D3D_OK);
  EXPECT_EQ(Viewport().Width, 320u);
  EXPECT_EQ(platform::test::InjectedFailureCount("SetViewport"), 1);
}

TEST_F(D3D9ResStateBlock, SavedAndDrawingPairRestoresTheDevice) {
  Ref<IDirect3DTexture9> glyphs;
  ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &glyphs, nullptr), D3D_OK);
  Ref<IDirect3DStateBlock9> saved, drawing;
  for (auto* block : {&saved, &drawing}) {
    ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
    ASSERT_EQ(dev->SetTexture(0, glyphs.get()), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHAREF, 8), D3D_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL), D3D_OK);
    ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE), D3D_OK);
    ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT), D3D_OK);
    ASSERT_EQ(dev->EndStateBlock(&(*block)), D3D_OK);
  }
  ASSERT_EQ(dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR), D3D_OK);
  const auto application = SnapshotState(dev);
  ASSERT_EQ(saved->Capture(), D3D_OK);
  ASSERT_EQ(drawing->Apply(), D3D_OK);
  EXPECT_NE(application, SnapshotState(dev));
  ASSERT_EQ(saved->Apply(), D3D_OK);
  EXPECT_EQ(application, SnapshotState(dev)) << ::testing::PrintToString(
      platform::test::DiffStates(application, SnapshotState(dev)));
}

TEST_F(D3D9ResStateBlock, RecordingRules) {
  Ref<IDirect3DStateBlock9> block;
  EXPECT_EQ(dev->EndStateBlock(&block), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  EXPECT_EQ(dev->BeginStateBlock(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndStateBlock(nullptr), D3DERR_INVALIDCALL);  // still recording
  Ref<IDirect3DStateBlock9> other;
  EXPECT_EQ(dev->CreateStateBlock(D3DSBT_ALL, &other), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  const float quad[4 * 7] = {};
  ASSERT_EQ(dev->SetFVF(0x144), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, 28), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3D_OK);
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  EXPECT_EQ(block->Apply(), D3DERR_INVALIDCALL);
  EXPECT_EQ(block->Capture(), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->EndStateBlock(&other), D3D_OK);
  EXPECT_EQ(block->Apply(), D3D_OK);
  Ref<IDirect3DDevice9> owner;
  ASSERT_EQ(block->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner.get(), dev);
}

TEST_F(D3D9ResStateBlock, BlocksHoldWhatTheyContain) {
  IDirect3DTexture9* t = nullptr;
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateVertexBuffer(96, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateIndexBuffer(96, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  ASSERT_EQ(dev->SetTexture(3, t), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(2, vb, 0, 12), D3D_OK);
  ASSERT_EQ(dev->SetIndices(ib), D3D_OK);
  Ref<IDirect3DStateBlock9> block;
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  EXPECT_EQ(t->Release(), 0u);
  EXPECT_EQ(vb->Release(), 0u);
  EXPECT_EQ(ib->Release(), 0u);
  // Still alive through the block: applying binds them.
  ASSERT_EQ(block->Apply(), D3D_OK);
  Ref<IDirect3DBaseTexture9> bound;
  ASSERT_EQ(dev->GetTexture(3, &bound), D3D_OK);
  EXPECT_EQ(bound.get(), static_cast<IDirect3DBaseTexture9*>(t));
  EXPECT_EQ(bound->GetType(), D3DRTYPE_TEXTURE);
  bound.reset();
  // Capturing empty slots lets go of them.
  ASSERT_EQ(dev->SetTexture(3, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(2, nullptr, 0, 0), D3D_OK);
  ASSERT_EQ(dev->SetIndices(nullptr), D3D_OK);
  ASSERT_EQ(block->Capture(), D3D_OK);
  EXPECT_EQ(platform::test::D3D9LiveObjects().size(), 5u) << platform::test::D3D9LiveObjectReport();
}

TEST_F(D3D9ResStateBlock, ABlockBeingRecordedDoesNotKeepTheDeviceAlive) {
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
  EXPECT_EQ(RefCount(dev), 1u);
  // The fixture releases the device mid-recording; nothing may be left.
}

TEST_F(D3D9ResStateBlock, WholeStateBlocks) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
  const int regs[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(dev->SetPixelShaderConstantI(1, regs, 2), D3D_OK);
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  const auto captured = SnapshotState(dev);
  Ref<IDirect3DStateBlock9> all;
  EXPECT_EQ(dev->CreateStateBlock(D3DSBT_PIXELSTATE, &all), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->CreateStateBlock(D3DSBT_ALL, &all), D3D_OK);
  // Change a bit of everything, then put it all back.
  D3DMATRIX m{};
  m._44 = 2.0f;
  const D3DVIEWPORT9 v{3, 3, 30, 30, 0.2f, 0.8f};
  const int zero[8] = {};
  ASSERT_EQ(dev->SetTransform(D3DTS_WORLDMATRIX(200), &m), D3D_OK);
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
  ASSERT_EQ(dev->SetSamplerState(D3DDMAPSAMPLER, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP), D3D_OK);
  ASSERT_EQ(dev->SetTextureStageState(5, D3DTSS_ALPHAARG2, D3DTA_TFACTOR), D3D_OK);
  ASSERT_EQ(dev->SetPixelShaderConstantI(1, zero, 2), D3D_OK);
  ASSERT_EQ(dev->SetFVF(0x144), D3D_OK);
  EXPECT_NE(captured, SnapshotState(dev));
  ASSERT_EQ(all->Apply(), D3D_OK);
  EXPECT_EQ(captured, SnapshotState(dev)) << ::testing::PrintToString(
      platform::test::DiffStates(captured, SnapshotState(dev)));
}

TEST_F(D3D9ResStateBlock, AppliedViewportsObeyTheTargetOfTheMoment) {
  const D3DVIEWPORT9 big{0, 0, 640, 480, 0, 1};
  ASSERT_EQ(dev->BeginStateBlock(), D3D_OK);
  ASSERT_EQ(dev->SetViewport(&big), D3D_OK);
  Ref<IDirect3DStateBlock9> block;
  ASSERT_EQ(dev->EndStateBlock(&block), D3D_OK);
  Ref<IDirect3DSurface9> small;
  ASSERT_EQ(dev->CreateRenderTarget(64, 64, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &small, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, small.get()), D3D_OK);
  EXPECT_EQ(block->Apply(), D3DERR_INVALIDCALL);  // reported, never outside the target
  EXPECT_EQ(Viewport().Width, 64u);
}

}  // namespace
