// Device state around a batch: what Begin sets, what End gives back for each
// flag, the pixel projection, the alpha list and the debug-mute bracket.
#include <gtest/gtest.h>

#include <cmath>

#include "draw_test_support.h"
#include "forwarding_device.h"
#include "gxl/math/matrix.h"

namespace drawtest {
namespace {

class SpriteBatcherState : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
  }
  void TearDown() override {
    m_appVertices.Reset();
    m_appIndices.Reset();
    m_appTexture.Reset();
    if (dev) {
      EXPECT_EQ(dev->EndScene(), D3D_OK);
    }
    SpriteTest::TearDown();
  }

  // An application state far from the defaults and from the batcher's lists.
  void SetApplicationState() {
    ASSERT_EQ(
        dev->CreateVertexBuffer(28 * 64, D3DUSAGE_WRITEONLY, 0x144, D3DPOOL_MANAGED, m_appVertices.Put(), nullptr),
        D3D_OK);
    ASSERT_EQ(
        dev->CreateIndexBuffer(256, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, m_appIndices.Put(), nullptr),
        D3D_OK);
    m_appTexture = MakeTexture(8, 8);
    dev->SetFVF(0x144);
    dev->SetStreamSource(0, m_appVertices.Get(), 28, 28);
    dev->SetIndices(m_appIndices.Get());
    dev->SetTexture(0, m_appTexture.Get());
    dev->SetTexture(1, m_appTexture.Get());
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_CULLMODE, D3DCULL_CW},
        {D3DRS_FILLMODE, D3DFILL_WIREFRAME},
        {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ONE},
        {D3DRS_ALPHABLENDENABLE, TRUE},
        {D3DRS_ALPHATESTENABLE, TRUE},
        {D3DRS_ALPHAREF, 8},
        {D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
        {D3DRS_COLORWRITEENABLE, 7},
        {D3DRS_FOGENABLE, TRUE},
        {D3DRS_BLENDOP, D3DBLENDOP_SUBTRACT},
        {D3DRS_SEPARATEALPHABLENDENABLE, TRUE},
        {D3DRS_CLIPPING, FALSE},
        {D3DRS_SHADEMODE, D3DSHADE_FLAT},
        {D3DRS_ZENABLE, FALSE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
    };
    for (const auto& [state, value] : states) dev->SetRenderState(state, value);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 4);
    dev->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 2);
    dev->SetNPatchMode(2.0f);
    Matrix4 world, view, projection;
    MatrixRotationZ(&world, 0.5f);
    MatrixTranslation(&view, 3, -4, 5);
    MatrixOrthoOffCenterLH(&projection, 0, 320, 240, 0, 0, 1);
    dev->SetTransform(D3DTS_WORLD, reinterpret_cast<D3DMATRIX*>(&world));
    dev->SetTransform(D3DTS_VIEW, reinterpret_cast<D3DMATRIX*>(&view));
    dev->SetTransform(D3DTS_PROJECTION, reinterpret_cast<D3DMATRIX*>(&projection));
    const D3DVIEWPORT9 vp{10, 20, 300, 200, 0.0f, 1.0f};
    dev->SetViewport(&vp);
  }

  DWORD RenderState(D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    dev->GetRenderState(s, &v);
    return v;
  }
  Matrix4 Transform(D3DTRANSFORMSTATETYPE t) {
    Matrix4 m;
    dev->GetTransform(t, reinterpret_cast<D3DMATRIX*>(&m));
    return m;
  }

  ComRef<IDirect3DVertexBuffer9> m_appVertices;
  ComRef<IDirect3DIndexBuffer9> m_appIndices;
  ComRef<IDirect3DTexture9> m_appTexture;
};

// Whatever the flags, a batch that saves state leaves the device exactly as it found it.
TEST_F(SpriteBatcherState, EndRestoresExactlyWhatBeginFound) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t1 = MakeTexture(4, 4), t2 = MakeTexture(8, 2);
  const DWORD cases[] = {
      0,
      SpriteBatchFlags::AlphaBlend,
      SpriteBatchFlags::ObjectSpace,
      SpriteBatchFlags::Billboard,
      SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::ObjectSpace,
      SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::SortByTexture,
      SpriteBatchFlags::SortDepthAscending,
      SpriteBatchFlags::Billboard | SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::SortDepthDescending,
  };
  // First on the device's defaults, then on an application's state.
  for (int round = 0; round < 2; ++round) {
    if (round == 1) SetApplicationState();
    for (const DWORD flags : cases) {
      SCOPED_TRACE(flags);
      const auto before = platform::test::SnapshotState(dev);
      platform::test::ClearD3D9CallLog();
      platform::test::StartD3D9CallLog();
      ASSERT_EQ(b->BeginBatch(flags), S_OK);
      EXPECT_EQ(RenderState(D3DRS_CULLMODE), DWORD{D3DCULL_NONE}) << "the general list is in place";
      for (int i = 0; i < 6; ++i) {
        const Vec3 pos(float(10 * i), float(i), 0.125f * float(i));
        ASSERT_EQ(b->QueueSprite(i % 2 ? t1.Get() : t2.Get(), nullptr, nullptr, &pos, 0x80FFFFFF), S_OK);
        if (i == 2) {
          ASSERT_EQ(b->FlushBatch(), S_OK);
        }
      }
      ASSERT_EQ(b->EndBatch(), S_OK);
      platform::test::StopD3D9CallLog();
      EXPECT_GT(platform::test::CountD3D9Calls("DrawIndexedPrimitive"), 0);
      for (const auto& c : platform::test::D3D9Calls())
        if (c.method == "DrawIndexedPrimitive") {
          EXPECT_EQ(c.result, D3D_OK);
        }
      const auto after = platform::test::SnapshotState(dev);
      EXPECT_EQ(platform::test::DiffStates(before, after), std::vector<std::string>{});
    }
  }
}

TEST_F(SpriteBatcherState, NoStateSaveLeavesBeginsStateAndTheCallersBlend) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  SetApplicationState();
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::NoStateSave), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("StateBlock.Capture"), 0);
  EXPECT_EQ(platform::test::CountD3D9Calls("GetIndices"), 0);
  // Begin's drawing state stays after End.
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), DWORD{D3DCULL_NONE});
  EXPECT_EQ(RenderState(D3DRS_COLORWRITEENABLE), 0xFu);
  EXPECT_EQ(Transform(D3DTS_PROJECTION).m[0][0], 2.0f / 300.0f);
  DWORD address = 0, colorOp = 0;
  dev->GetSamplerState(0, D3DSAMP_ADDRESSV, &address);
  dev->GetTextureStageState(1, D3DTSS_COLOROP, &colorOp);
  EXPECT_EQ(address, DWORD{D3DTADDRESS_CLAMP});
  EXPECT_EQ(colorOp, DWORD{D3DTOP_DISABLE});
  // The blend state belongs to AlphaBlend alone: the caller's stays.
  EXPECT_EQ(RenderState(D3DRS_SRCBLEND), DWORD{D3DBLEND_ONE});
  EXPECT_EQ(RenderState(D3DRS_ALPHAREF), 8u);
  EXPECT_EQ(RenderState(D3DRS_BLENDOP), DWORD{D3DBLENDOP_SUBTRACT});
}

TEST_F(SpriteBatcherState, KeepRenderStateLeavesTheGeneralList) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  SetApplicationState();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::KeepRenderState), S_OK);
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), DWORD{D3DCULL_CW});
  EXPECT_EQ(Transform(D3DTS_PROJECTION).m[1][1], -2.0f / 200.0f) << "the transforms are still set";
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), DWORD{D3DCULL_CW});
  EXPECT_EQ(Transform(D3DTS_PROJECTION).m[0][0], 2.0f / 320.0f) << "and restored";
}

// Sprite coordinates are target pixels, y down, shifted by half a pixel.
TEST_F(SpriteBatcherState, PixelProjectionMapsSpritePixelsToPixelCorners) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::NoStateSave), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const Matrix4 p = Transform(D3DTS_PROJECTION);
  const float expected[16] = {2.0f / 640,        0, 0, 0, 0, -2.0f / 480, 0, 0, 0, 0, 1, 0, -1.0f - 1.0f / 640,
                              1.0f + 1.0f / 480, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p.m[i / 4][i % 4], expected[i]) << i;

  const D3DVIEWPORT9 vp{10, 20, 300, 200, 0.25f, 0.75f};
  dev->SetViewport(&vp);
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::NoStateSave), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const Matrix4 q = Transform(D3DTS_PROJECTION);
  // The device's viewport mapping of (x, y, z) lands at (x - 1/2, y - 1/2, z).
  for (float x : {10.0f, 11.0f, 160.0f, 309.5f, 310.0f})
    for (float y : {20.0f, 21.0f, 119.0f, 220.0f}) {
      const double cx = x * q.m[0][0] + q.m[3][0], cy = y * q.m[1][1] + q.m[3][1];
      EXPECT_NEAR(vp.X + (1 + cx) * vp.Width / 2, x - 0.5, 1e-4);
      EXPECT_NEAR(vp.Y + (1 - cy) * vp.Height / 2, y - 0.5, 1e-4);
    }
  EXPECT_EQ(q.m[2][2], 1.0f);
  EXPECT_EQ(q.m[3][2], 0.0f);
  EXPECT_EQ(q.m[3][3], 1.0f);
}

struct AlphaState {
  DWORD testEnable, ref, func, blendEnable, separate, src, dest, op;
};

AlphaState ReadAlpha(IDirect3DDevice9* d) {
  AlphaState a{};
  d->GetRenderState(D3DRS_ALPHATESTENABLE, &a.testEnable);
  d->GetRenderState(D3DRS_ALPHAREF, &a.ref);
  d->GetRenderState(D3DRS_ALPHAFUNC, &a.func);
  d->GetRenderState(D3DRS_ALPHABLENDENABLE, &a.blendEnable);
  d->GetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, &a.separate);
  d->GetRenderState(D3DRS_SRCBLEND, &a.src);
  d->GetRenderState(D3DRS_DESTBLEND, &a.dest);
  d->GetRenderState(D3DRS_BLENDOP, &a.op);
  return a;
}

TEST_F(SpriteBatcherState, AlphaListBlendsOnTargetsThatCan) {
  SetApplicationState();
  ComRef<SpriteBatcher> b = MakeBatcher();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend), S_OK);
  const AlphaState a = ReadAlpha(dev);
  EXPECT_EQ(a.testEnable, DWORD{TRUE});
  EXPECT_EQ(a.ref, 0u);
  EXPECT_EQ(a.func, DWORD{D3DCMP_GREATER});
  EXPECT_EQ(a.blendEnable, DWORD{TRUE});
  EXPECT_EQ(a.separate, DWORD{FALSE});
  EXPECT_EQ(a.src, DWORD{D3DBLEND_SRCALPHA});
  EXPECT_EQ(a.dest, DWORD{D3DBLEND_INVSRCALPHA});
  EXPECT_EQ(a.op, DWORD{D3DBLENDOP_ADD});
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(ReadAlpha(dev).op, DWORD{D3DBLENDOP_SUBTRACT});
}

// A target without post-pixel-shader blending gets a hard alpha test instead.
TEST_F(SpriteBatcherState, AlphaListTestsInsteadOnTargetsThatCannotBlend) {
  platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (usage & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) return D3DERR_NOTAVAILABLE;
    return platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
  });
  ComRef<SpriteBatcher> b = MakeBatcher();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::NoStateSave), S_OK);
  AlphaState a = ReadAlpha(dev);
  EXPECT_EQ(a.testEnable, DWORD{TRUE});
  EXPECT_EQ(a.ref, 0x3Fu);
  EXPECT_EQ(a.func, DWORD{D3DCMP_GREATER});
  EXPECT_EQ(a.blendEnable, DWORD{FALSE});
  ASSERT_EQ(b->EndBatch(), S_OK);

  // The lists keep the answer of their recording until a device loss.
  platform::test::SetD3D9FormatAnswer(nullptr);
  EXPECT_EQ(b->OnDeviceReset(), S_OK);
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::NoStateSave), S_OK);
  EXPECT_EQ(ReadAlpha(dev).blendEnable, DWORD{FALSE});
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(b->OnDeviceLost(), S_OK);
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::NoStateSave), S_OK);
  a = ReadAlpha(dev);
  EXPECT_EQ(a.blendEnable, DWORD{TRUE});
  EXPECT_EQ(a.ref, 0u);
  ASSERT_EQ(b->EndBatch(), S_OK);
}

// Without a device that can say which target it draws to, blending stays on.
TEST_F(SpriteBatcherState, UnansweredTargetQuestionKeepsBlending) {
  platform::test::SetD3D9FormatAnswer([](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (usage & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) return D3DERR_NOTAVAILABLE;
    return platform::test::D3D9ProfileFormatAnswer("game", usage, type, format);
  });
  for (const char* method : {"GetRenderTarget", "GetDisplayMode"}) {
    ForwardingDevice fwd(dev);
    fwd.Fail(method, D3DERR_NOTFOUND);
    {
      ComRef<SpriteBatcher> b = MakeBatcher(&fwd);
      ASSERT_TRUE(b);
      ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend | SpriteBatchFlags::NoStateSave), S_OK) << method;
      EXPECT_EQ(ReadAlpha(dev).blendEnable, DWORD{TRUE}) << method;
      ASSERT_EQ(b->EndBatch(), S_OK);
    }
    EXPECT_EQ(fwd.References(), 1u);
  }
}

TEST_F(SpriteBatcherState, BeginAndEndMuteTheDebugRuntime) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  platform::test::RecordDebugSetMuteCalls();
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
  ASSERT_EQ(b->BeginBatch(0), S_OK);
  EXPECT_EQ(platform::test::DebugSetMuteCalls(), (std::vector<DWORD>{1, 0}));
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::DebugSetMuteCalls(), (std::vector<DWORD>{1, 0, 1, 0}));
  EXPECT_EQ(b->BeginBatch(0x100), D3DERR_INVALIDCALL);
  EXPECT_EQ(platform::test::DebugSetMuteCalls().size(), 4u);
}

// The application's index buffer is held from a saving Begin until the next
// one, a device loss or the batcher's end.
TEST_F(SpriteBatcherState, SavedIndexBufferIsHeldUntilReplaced) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DIndexBuffer9> app;
  ASSERT_EQ(dev->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, app.Put(), nullptr), D3D_OK);
  dev->SetIndices(app.Get());
  const ULONG bound = RefCount(app.Get());
  ASSERT_EQ(b->BeginBatch(0), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(RefCount(app.Get()), bound + 1);
  dev->SetIndices(nullptr);
  ASSERT_EQ(b->BeginBatch(0), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(RefCount(app.Get()), bound);
  dev->SetIndices(app.Get());
  ASSERT_EQ(b->BeginBatch(0), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(b->OnDeviceLost(), S_OK);
  EXPECT_EQ(RefCount(app.Get()), bound);
}

}  // namespace
}  // namespace drawtest
