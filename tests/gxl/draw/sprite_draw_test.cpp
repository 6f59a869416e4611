// Flushing: runs and the vertex ring, the index pattern, the lazy sprite
// transform, and what happens when buffers, locks or state blocks fail.
#include <gtest/gtest.h>

#include <cmath>

#include "draw_test_support.h"
#include "gxl/math/matrix.h"

namespace drawtest {
namespace {

constexpr DWORD kNoSave = SpriteBatchFlags::NoStateSave;
constexpr const char* kDiscard = "8192";
constexpr const char* kNoOverwrite = "4096";

// The index buffer bound once an empty batch has been begun, flushed and
// ended (null, with the failure recorded, when a step fails).
ComRef<IDirect3DIndexBuffer9> IndicesAfterEmptyBatch(IDirect3DDevice9* dev, SpriteBatcher* b) {
  ComRef<IDirect3DIndexBuffer9> ib;
  EXPECT_EQ(b->BeginBatch(kNoSave), S_OK);
  EXPECT_EQ(b->FlushBatch(), S_OK);
  EXPECT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(dev->GetIndices(ib.Put()), D3D_OK);
  return ib;
}

class SpriteBatcherDraw : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
  }
  void TearDown() override {
    if (dev) {
      EXPECT_EQ(dev->EndScene(), D3D_OK);
    }
    SpriteTest::TearDown();
  }

  // Queues n sprites of texture t at x = first, first + 1, ...
  static void Queue(SpriteBatcher* b, IDirect3DTexture9* t, int n, int first = 0) {
    for (int i = 0; i < n; ++i) {
      const Vec3 pos(float(first + i), 0, 0);
      ASSERT_EQ(b->QueueSprite(t, nullptr, nullptr, &pos, ~0u), S_OK);
    }
  }

  // The flags of every vertex-buffer lock ("8192" discard, "4096" no-overwrite).
  static std::vector<std::string> VertexLockFlags() {
    std::vector<std::string> out;
    for (const auto& args : LoggedArgs("VertexBuffer.Lock")) out.push_back(args.substr(args.rfind(", ") + 2));
    return out;
  }

  static void ExpectAllDrawsSucceeded() {
    for (const auto& c : platform::test::D3D9Calls())
      if (c.method == "DrawIndexedPrimitive") {
        EXPECT_EQ(c.result, D3D_OK) << c.args;
      }
  }
};

using SpriteBatcherTransform = SpriteBatcherDraw;
using SpriteBatcherFailure = SpriteBatcherDraw;

TEST_F(SpriteBatcherDraw, EmptyBatchDrawsNothing) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  platform::test::StartD3D9CallLog();
  EXPECT_EQ(b->EndBatch(), S_OK);
  for (const char* m : {"SetTexture", "VertexBuffer.Lock", "DrawIndexedPrimitive", "SetStreamSource"})
    EXPECT_EQ(platform::test::CountD3D9Calls(m), 0) << m;

  // A direct flush of an empty queue still binds the declaration and both buffers.
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  platform::test::ClearD3D9CallLog();
  EXPECT_EQ(b->FlushBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("SetVertexDeclaration"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("SetIndices"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("SetStreamSource"), 1);
  for (const char* m : {"SetTexture", "VertexBuffer.Lock", "DrawIndexedPrimitive"})
    EXPECT_EQ(platform::test::CountD3D9Calls(m), 0) << m;
  const std::string stream = LoggedArgs("SetStreamSource")[0];
  EXPECT_EQ(stream.rfind("0, VertexBuffer#", 0), 0u) << stream;
  EXPECT_EQ(stream.substr(stream.size() - 7), ", 0, 24") << stream;
  EXPECT_EQ(b->EndBatch(), S_OK);
}

TEST_F(SpriteBatcherDraw, OneTextureSplitsOnlyWhereTheRingFills) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 5000);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"),
            (std::vector<std::string>{"4, 0, 0, 16384, 0, 8192", "4, 0, 0, 3616, 0, 1808"}));
  EXPECT_EQ(VertexLockFlags(), (std::vector<std::string>{kDiscard, kDiscard}));
  EXPECT_EQ(platform::test::CountD3D9Calls("SetTexture"), 1);
  ExpectAllDrawsSucceeded();
  // The second run starts the ring over: its sprites are the last 904.
  const auto v = BoundVertices(0, 4);
  EXPECT_EQ(v[0].position.x, 4096.0f);
}

TEST_F(SpriteBatcherDraw, FlushesAndBatchesAppendToTheRing) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 10);
  ASSERT_EQ(b->FlushBatch(), S_OK);
  Queue(b.Get(), t.Get(), 10, 10);
  ASSERT_EQ(b->EndBatch(), S_OK);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 3980, 20);
  ASSERT_EQ(b->FlushBatch(), S_OK);
  // 4000 sprites used: 96 fit before the end, the rest start over.
  Queue(b.Get(), t.Get(), 200, 4000);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"), (std::vector<std::string>{
                                                    "4, 0, 0, 40, 0, 20",
                                                    "4, 0, 40, 40, 60, 20",
                                                    "4, 0, 80, 15920, 120, 7960",
                                                    "4, 0, 16000, 384, 24000, 192",
                                                    "4, 0, 0, 416, 0, 208",
                                                }));
  EXPECT_EQ(VertexLockFlags(),
            (std::vector<std::string>{kDiscard, kNoOverwrite, kNoOverwrite, kNoOverwrite, kDiscard}));
  ExpectAllDrawsSucceeded();
  const auto v = BoundVertices(0, 416);
  EXPECT_EQ(v[0].position.x, 4096.0f);
  EXPECT_EQ(v[412].position.x, 4199.0f);
}

TEST_F(SpriteBatcherDraw, EveryTextureChangeInDrawOrderStartsARun) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> ta = MakeTexture(2, 2), tb = MakeTexture(2, 2);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), ta.Get(), 1, 0);
  Queue(b.Get(), tb.Get(), 2, 1);
  Queue(b.Get(), ta.Get(), 1, 3);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->EndBatch(), S_OK);
  const std::string a = platform::test::D3D9ObjectName(ta.Get()), bb = platform::test::D3D9ObjectName(tb.Get());
  EXPECT_EQ(LoggedArgs("SetTexture"), (std::vector<std::string>{"0, " + a, "0, " + bb, "0, " + a}));
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"), (std::vector<std::string>{
                                                    "4, 0, 0, 4, 0, 2",
                                                    "4, 0, 4, 8, 6, 4",
                                                    "4, 0, 12, 4, 18, 2",
                                                }));
}

// Quad q's indices are 4q, 4q+1, 4q+2, 4q+2, 4q+1, 4q+3: two triangles
// (0, 1, 2) and (2, 1, 3) over top-left, bottom-left, top-right, bottom-right.
TEST_F(SpriteBatcherDraw, IndexBufferHoldsTheQuadPattern) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DIndexBuffer9> ib = IndicesAfterEmptyBatch(dev, b.Get());
  ASSERT_TRUE(ib);
  D3DINDEXBUFFER_DESC desc{};
  ASSERT_EQ(ib->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Size, 49152u);
  EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
  void* data = nullptr;
  ASSERT_EQ(ib->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  const auto* idx = static_cast<const std::uint16_t*>(data);
  const int offsets[6] = {0, 1, 2, 2, 1, 3};
  for (int q = 0; q < 4096; ++q)
    for (int k = 0; k < 6; ++k) ASSERT_EQ(idx[6 * q + k], 4 * q + offsets[k]) << "quad " << q;
  ib->Unlock();
}

TEST_F(SpriteBatcherTransform, AppliedOncePerRunOfOneTransform) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  Matrix4 t1, t2, identity;
  MatrixTranslation(&t1, 100, 50, 0);
  MatrixScaling(&t2, 2, 3, 1);
  MatrixIdentity(&identity);
  TransformArrayCalls calls;

  ASSERT_EQ(b->SetSpriteTransform(&t1), S_OK);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 3, 0);
  EXPECT_TRUE(calls.Take().empty()) << "nothing is transformed at queue time";
  ASSERT_EQ(b->SetSpriteTransform(&t2), S_OK);
  EXPECT_EQ(calls.Take(), std::vector<std::uint32_t>{12});
  Queue(b.Get(), t.Get(), 2, 3);
  ASSERT_EQ(b->SetSpriteTransform(&identity), S_OK);
  EXPECT_EQ(calls.Take(), std::vector<std::uint32_t>{8});
  Queue(b.Get(), t.Get(), 4, 5);
  ASSERT_EQ(b->SetSpriteTransform(&identity), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_TRUE(calls.Take().empty()) << "the identity transforms nothing";

  const auto v = BoundVertices(0, 36);
  EXPECT_FLOAT_EQ(v[0].position.x, 100.0f);  // sprite 0 under t1
  EXPECT_FLOAT_EQ(v[3].position.y, 52.0f);
  EXPECT_FLOAT_EQ(v[12].position.x, 6.0f);  // sprite 3 under t2
  EXPECT_FLOAT_EQ(v[15].position.y, 6.0f);
  EXPECT_EQ(v[20].position.x, 5.0f);  // sprite 5 untransformed
  EXPECT_EQ(v[23].position.y, 2.0f);

  // One run, one call, at the flush; nothing is left for a later change.
  ASSERT_EQ(b->SetSpriteTransform(&t1), S_OK);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 10);
  ASSERT_EQ(b->FlushBatch(), S_OK);
  EXPECT_EQ(calls.Take(), std::vector<std::uint32_t>{40});
  ASSERT_EQ(b->SetSpriteTransform(&t2), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_TRUE(calls.Take().empty());
}

TEST_F(SpriteBatcherTransform, NearlyIdentityIsNotIdentity) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  Matrix4 m;
  MatrixIdentity(&m);
  m.m[1][1] = std::nextafter(1.0f, 2.0f);
  TransformArrayCalls calls;
  ASSERT_EQ(b->SetSpriteTransform(&m), S_OK);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 1);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(calls.Take(), std::vector<std::uint32_t>{4});
}

// A transform with a w column divides, as Vec3TransformPoint does.
TEST_F(SpriteBatcherTransform, ProjectiveTransformsDivideByW) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  Matrix4 m;
  MatrixIdentity(&m);
  m.m[3][3] = 2.0f;  // w = 2 everywhere
  ASSERT_EQ(b->SetSpriteTransform(&m), S_OK);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  const Vec3 pos(10, 20, 0);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &pos, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 4);
  EXPECT_FLOAT_EQ(v[0].position.x, 5.0f);
  EXPECT_FLOAT_EQ(v[3].position.y, 12.0f);
}

TEST_F(SpriteBatcherFailure, BufferCreationFailureOpensNoBatchAndIsRetried) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  platform::test::StartD3D9CallLog();
  for (const char* api : {"CreateIndexBuffer", "CreateVertexBuffer"}) {
    platform::test::FailCall(api, E_OUTOFMEMORY);
    EXPECT_EQ(b->BeginBatch(kNoSave), E_OUTOFMEMORY) << api;
    EXPECT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), D3DERR_INVALIDCALL);
    EXPECT_EQ(b->EndBatch(), D3DERR_INVALIDCALL);
  }
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 1);
  ASSERT_EQ(b->EndBatch(), S_OK);
  // The index buffer made before the vertex buffer failed was kept.
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateIndexBuffer"), 2);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateVertexBuffer"), 2);
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive").size(), 1u);
  ExpectAllDrawsSucceeded();
}

// An index buffer that cannot be filled is not kept (it would draw garbage).
TEST_F(SpriteBatcherFailure, IndexBufferThatCannotBeLockedIsDropped) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  platform::test::FailCall("Lock", D3DERR_WASSTILLDRAWING);
  EXPECT_EQ(b->BeginBatch(kNoSave), D3DERR_WASSTILLDRAWING);
  for (const auto& o : platform::test::D3D9LiveObjects())
    EXPECT_EQ(o.name.rfind("IndexBuffer", 0), std::string::npos) << o.name;
  ComRef<IDirect3DIndexBuffer9> ib = IndicesAfterEmptyBatch(dev, b.Get());
  ASSERT_TRUE(ib);
  void* data = nullptr;
  ASSERT_EQ(ib->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<const std::uint16_t*>(data)[24575], 16383);
  ib->Unlock();
}

// A vertex buffer that cannot be locked cannot be written: the flush stops,
// says so, and the next batch draws normally.
TEST_F(SpriteBatcherFailure, VertexLockFailureStopsTheFlushAndIsReported) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 5);
  platform::test::FailCall("Lock", D3DERR_WASSTILLDRAWING);
  platform::test::StartD3D9CallLog();
  EXPECT_EQ(b->EndBatch(), D3DERR_WASSTILLDRAWING);
  EXPECT_EQ(platform::test::CountD3D9Calls("DrawIndexedPrimitive"), 0);
  EXPECT_EQ(b->EndBatch(), D3DERR_INVALIDCALL);

  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  Queue(b.Get(), t.Get(), 2);
  EXPECT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"), std::vector<std::string>{"4, 0, 0, 8, 0, 4"});
}

TEST_F(SpriteBatcherFailure, StateBlocksThatFailToRecordAreRecordedNextTime) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  platform::test::FailCall("BeginStateBlock", E_OUTOFMEMORY, platform::test::FailSpec{"", 1, -1});
  for (DWORD flags : {0u, DWORD{SpriteBatchFlags::AlphaBlend}, DWORD{SpriteBatchFlags::Billboard}}) {
    ASSERT_EQ(b->BeginBatch(flags), S_OK);
    Queue(b.Get(), t.Get(), 2);
    EXPECT_EQ(b->EndBatch(), S_OK);
  }
  platform::test::ClearFailures();
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(0), S_OK);
  EXPECT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("BeginStateBlock"), 6);
  EXPECT_EQ(platform::test::CountD3D9Calls("StateBlock.Capture"), 2);
}

TEST_F(SpriteBatcherFailure, DeviceLossReleasesBuffersAndBlocksAndBeginMakesThemAgain) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  auto count = [](const char* prefix) {
    int n = 0;
    for (const auto& o : platform::test::D3D9LiveObjects()) n += o.name.rfind(prefix, 0) == 0;
    return n;
  };
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend), S_OK);
  Queue(b.Get(), t.Get(), 1);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(count("StateBlock"), 6);
  EXPECT_EQ(count("VertexBuffer"), 1);
  EXPECT_EQ(count("IndexBuffer"), 1);
  EXPECT_EQ(b->OnDeviceLost(), S_OK);
  EXPECT_EQ(count("StateBlock"), 0);
  EXPECT_EQ(count("VertexBuffer"), 0);
  EXPECT_EQ(count("IndexBuffer"), 0);
  EXPECT_EQ(count("VertexDeclaration"), 1) << "the declaration stays";

  // A reset alone re-tests the target and makes nothing.
  platform::test::StartD3D9CallLog();
  EXPECT_EQ(b->OnDeviceReset(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateVertexBuffer"), 0);
  EXPECT_EQ(platform::test::CountD3D9Calls("BeginStateBlock"), 0);
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend), S_OK);
  Queue(b.Get(), t.Get(), 1);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateVertexBuffer"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("CreateIndexBuffer"), 1);
  EXPECT_EQ(platform::test::CountD3D9Calls("BeginStateBlock"), 6);
  EXPECT_EQ(VertexLockFlags(), std::vector<std::string>{kDiscard});
  ExpectAllDrawsSucceeded();
}

}  // namespace
}  // namespace drawtest
