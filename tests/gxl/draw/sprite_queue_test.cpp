// The sprite queue: the calling order, the quads a sprite becomes, growth of
// the queue and its failures, billboards and the world-view matrix.
#include <gtest/gtest.h>

#include <cstring>

#include "draw_test_support.h"
#include "gxl/math/matrix.h"

namespace drawtest {
namespace {

using SpriteBatcherCalls = SpriteTest;
using SpriteBatcherQueue = SpriteTest;
using SpriteBatcherBillboard = SpriteTest;
using SpriteBatcherWorldView = SpriteTest;

constexpr DWORD kNoSave = SpriteBatchFlags::NoStateSave;

// Positions come through the point transform, whose SIMD bodies scale by a
// refined 1/w: equal up to rounding.
void ExpectCorner(const SpriteVertex& v, float x, float y, float z, D3DCOLOR color, float u, float tv) {
  EXPECT_NEAR(v.position.x, x, 1e-5f);
  EXPECT_NEAR(v.position.y, y, 1e-5f);
  EXPECT_NEAR(v.position.z, z, 1e-5f);
  EXPECT_EQ(v.color, color);
  EXPECT_EQ(v.u, u);
  EXPECT_EQ(v.v, tv);
}

TEST_F(SpriteBatcherCalls, EachOperationRefusesTheWrongStateAndArguments) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  EXPECT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->FlushBatch(), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->EndBatch(), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->BeginBatch(0x100), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->BeginBatch(0x80000000u), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->EndBatch(), D3DERR_INVALIDCALL) << "a refused Begin opens no batch";

  ASSERT_EQ(b->BeginBatch(0xFF & ~SpriteBatchFlags::Billboard), S_OK);
  EXPECT_EQ(b->BeginBatch(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->QueueSprite(nullptr, nullptr, nullptr, nullptr, ~0u), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->SetWorldViewRightHanded(nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->SetWorldViewLeftHanded(nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->SetSpriteTransform(nullptr), D3DERR_INVALIDCALL);
  Matrix4 m;
  MatrixTranslation(&m, 1, 2, 3);
  EXPECT_EQ(b->SetSpriteTransform(&m), S_OK);
  EXPECT_EQ(b->FlushBatch(), S_OK);
  EXPECT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(b->SetWorldViewRightHanded(nullptr, nullptr), S_OK);
  EXPECT_EQ(b->SetWorldViewLeftHanded(&m, &m), S_OK);
}

TEST_F(SpriteBatcherCalls, DeviceEventsCloseTheBatch) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  for (int event = 0; event < 2; ++event) {
    ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
    ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), S_OK);
    EXPECT_EQ(event == 0 ? b->OnDeviceLost() : b->OnDeviceReset(), S_OK);
    EXPECT_EQ(b->EndBatch(), D3DERR_INVALIDCALL);
    EXPECT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), D3DERR_INVALIDCALL);
  }
  // The next batch starts with an empty queue.
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  EXPECT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("DrawIndexedPrimitive"), 0);
}

TEST_F(SpriteBatcherQueue, WholeTextureAtTheOriginByDefault) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(32, 16);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, 0x80FF4020), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 4);
  ExpectCorner(v[0], 0, 0, 0, 0x80FF4020, 0, 0);
  ExpectCorner(v[1], 0, 16, 0, 0x80FF4020, 0, 1);
  ExpectCorner(v[2], 32, 0, 0, 0x80FF4020, 1, 0);
  ExpectCorner(v[3], 32, 16, 0, 0x80FF4020, 1, 1);
}

TEST_F(SpriteBatcherQueue, RectangleCentreAndPosition) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(64, 32);
  const RECT r{8, 4, 24, 12};
  const Vec3 centre(8, 4, 0.5f);
  const Vec3 position(100, 50, 0.75f);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), &r, &centre, &position, 0xFFFFFFFF), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), &r, nullptr, &position, 0xFFFFFFFF), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), &r, &centre, nullptr, 0xFFFFFFFF), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 12);
  // 16 x 8 texels from (8, 4): u 0.125 to 0.375, v 0.125 to 0.375.
  ExpectCorner(v[0], 92, 46, 0.25f, ~0u, 0.125f, 0.125f);
  ExpectCorner(v[1], 92, 54, 0.25f, ~0u, 0.125f, 0.375f);
  ExpectCorner(v[2], 108, 46, 0.25f, ~0u, 0.375f, 0.125f);
  ExpectCorner(v[3], 108, 54, 0.25f, ~0u, 0.375f, 0.375f);
  ExpectCorner(v[4], 100, 50, 0.75f, ~0u, 0.125f, 0.125f);
  ExpectCorner(v[7], 116, 58, 0.75f, ~0u, 0.375f, 0.375f);
  ExpectCorner(v[8], -8, -4, -0.5f, ~0u, 0.125f, 0.125f);
  ExpectCorner(v[11], 8, 4, -0.5f, ~0u, 0.375f, 0.375f);
}

TEST_F(SpriteBatcherQueue, ReversedRectangleMirrors) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(16, 16);
  const RECT r{12, 0, 4, 8};  // right < left
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), &r, nullptr, nullptr, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 4);
  ExpectCorner(v[0], 0, 0, 0, ~0u, 0.75f, 0);
  ExpectCorner(v[2], -8, 0, 0, ~0u, 0.25f, 0);
  ExpectCorner(v[3], -8, 8, 0, ~0u, 0.25f, 0.5f);
}

// Extreme rectangles must not overflow: the size is the exact difference.
TEST_F(SpriteBatcherQueue, ExtremeRectangleSizesAreExact) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(4, 4);
  const RECT r{-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647};
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), &r, nullptr, nullptr, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 4);
  EXPECT_EQ(v[3].position.x, 4294967295.0f);
  EXPECT_EQ(v[3].position.y, 4294967295.0f);
}

TEST_F(SpriteBatcherQueue, TextureSizeIsReadOncePerChange) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> a = MakeTexture(8, 8), c = MakeTexture(16, 4);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  for (IDirect3DTexture9* t : {a.Get(), a.Get(), c.Get(), c.Get(), a.Get()})
    ASSERT_EQ(b->QueueSprite(t, nullptr, nullptr, nullptr, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("Texture.GetLevelDesc"), 3);
  const auto v = BoundVertices(0, 20);
  EXPECT_EQ(v[8 + 3].position.x, 16.0f);
  EXPECT_EQ(v[8 + 3].position.y, 4.0f);
  EXPECT_EQ(v[16 + 3].position.x, 8.0f);
}

TEST_F(SpriteBatcherQueue, ATextureThatCannotDescribeItselfIsRefused) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(8, 8);
  FakeTexture broken(8, 8, D3DERR_NOTAVAILABLE);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  const int allocations = NothrowAllocationCount();
  EXPECT_EQ(b->QueueSprite(&broken, nullptr, nullptr, nullptr, ~0u), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(NothrowAllocationCount(), allocations) << "refused before the queue grows";
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), S_OK);
  EXPECT_EQ(b->QueueSprite(&broken, nullptr, nullptr, nullptr, ~0u), D3DERR_NOTAVAILABLE);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto draws = LoggedArgs("DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0], "4, 0, 0, 4, 0, 2");
  EXPECT_EQ(broken.References(), 1u) << "queued textures are not referenced";
}

TEST_F(SpriteBatcherQueue, GrowsGeometricallyKeepingWhatIsQueued) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t1 = MakeTexture(2, 2), t2 = MakeTexture(4, 4);
  ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
  const int base = NothrowAllocationCount();
  std::vector<int> allocationsAfter;
  for (int i = 0; i < 129; ++i) {
    const Vec3 pos(float(i), float(2 * i), 0);
    ASSERT_EQ(b->QueueSprite(i % 3 ? t1.Get() : t2.Get(), nullptr, nullptr, &pos, D3DCOLOR(i)), S_OK);
    allocationsAfter.push_back(NothrowAllocationCount() - base);
  }
  // Four arrays at 64, again at 128 (the 65th sprite) and at 256 (the 129th).
  EXPECT_EQ(allocationsAfter[0], 4);
  EXPECT_EQ(allocationsAfter[63], 4);
  EXPECT_EQ(allocationsAfter[64], 8);
  EXPECT_EQ(allocationsAfter[127], 8);
  EXPECT_EQ(allocationsAfter[128], 12);
  ASSERT_EQ(b->EndBatch(), S_OK);
  const auto v = BoundVertices(0, 129 * 4);
  for (int i = 0; i < 129; ++i) {
    const float size = i % 3 ? 2.0f : 4.0f;
    EXPECT_EQ(v[4 * i].position.x, float(i));
    EXPECT_EQ(v[4 * i + 3].position.y, float(2 * i) + size);
    EXPECT_EQ(v[4 * i + 2].color, D3DCOLOR(i));
  }
  // A steady frame allocates nothing; the capacity never shrinks.
  const int steady = NothrowAllocationCount();
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
    for (int i = 0; i < (frame == 1 ? 10 : 250); ++i)
      ASSERT_EQ(b->QueueSprite(t1.Get(), nullptr, nullptr, nullptr, ~0u), S_OK);
    ASSERT_EQ(b->EndBatch(), S_OK);
  }
  EXPECT_EQ(NothrowAllocationCount(), steady);
}

TEST_F(SpriteBatcherQueue, FailedGrowthRefusesOnlyThatSprite) {
  ComRef<IDirect3DTexture9> t = MakeTexture(2, 2);
  {
    ComRef<SpriteBatcher> b = MakeBatcher();
    ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
    FailNothrowAllocation(1);
    EXPECT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), E_OUTOFMEMORY);
    EXPECT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, nullptr, ~0u), S_OK);
    EXPECT_EQ(b->EndBatch(), S_OK);
  }
  // The growth from 64 to 128 fails at each of its four arrays in turn.
  for (int failing = 1; failing <= 4; ++failing) {
    SCOPED_TRACE(failing);
    ComRef<SpriteBatcher> b = MakeBatcher();
    ASSERT_EQ(b->BeginBatch(kNoSave), S_OK);
    for (int i = 0; i < 70; ++i) {
      const Vec3 pos(float(i), 0, 0);
      if (i == 64) {
        FailNothrowAllocation(failing);
        ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &pos, ~0u), E_OUTOFMEMORY);
      }
      const int before = NothrowAllocationCount();
      ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &pos, ~0u), S_OK);
      // The capacity stayed at 64, so the retry grows all four arrays again.
      if (i == 64) {
        EXPECT_EQ(NothrowAllocationCount() - before, 4);
      }
    }
    platform::test::StartD3D9CallLog();
    ASSERT_EQ(b->EndBatch(), S_OK);
    platform::test::StopD3D9CallLog();
    const auto v = BoundVertices(0, 70 * 4);
    for (int i = 0; i < 70; ++i) ASSERT_EQ(v[4 * i].position.x, float(i));
    EXPECT_EQ(LoggedArgs("DrawIndexedPrimitive"), std::vector<std::string>{"4, 0, 0, 280, 0, 140"});
    platform::test::ClearD3D9CallLog();
  }
}

TEST_F(SpriteBatcherBillboard, ImpliesObjectSpaceAndKeepsTheProjection) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  Matrix4 world, view, projection, got;
  MatrixTranslation(&world, 1, 2, 3);
  MatrixScaling(&view, 2, 2, 2);
  MatrixPerspectiveFovLH(&projection, 1.0f, 4.0f / 3.0f, 1.0f, 100.0f);
  dev->SetTransform(D3DTS_WORLD, reinterpret_cast<D3DMATRIX*>(&world));
  dev->SetTransform(D3DTS_VIEW, reinterpret_cast<D3DMATRIX*>(&view));
  dev->SetTransform(D3DTS_PROJECTION, reinterpret_cast<D3DMATRIX*>(&projection));
  Matrix4 identity;
  MatrixIdentity(&identity);

  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::Billboard), S_OK);
  dev->GetTransform(D3DTS_WORLD, reinterpret_cast<D3DMATRIX*>(&got));
  EXPECT_EQ(std::memcmp(&got, &identity, sizeof got), 0);
  dev->GetTransform(D3DTS_VIEW, reinterpret_cast<D3DMATRIX*>(&got));
  EXPECT_EQ(std::memcmp(&got, &identity, sizeof got), 0);
  dev->GetTransform(D3DTS_PROJECTION, reinterpret_cast<D3DMATRIX*>(&got));
  EXPECT_EQ(std::memcmp(&got, &projection, sizeof got), 0);
  ASSERT_EQ(b->EndBatch(), S_OK);
  dev->GetTransform(D3DTS_WORLD, reinterpret_cast<D3DMATRIX*>(&got));
  EXPECT_EQ(std::memcmp(&got, &world, sizeof got), 0);
  dev->GetTransform(D3DTS_VIEW, reinterpret_cast<D3DMATRIX*>(&got));
  EXPECT_EQ(std::memcmp(&got, &view, sizeof got), 0);

  // With ObjectSpace alone no transform is touched.
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::ObjectSpace), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("SetTransform"), 0);
}

// Billboards are placed through sprite transform x world-view at queue time,
// sized by that matrix's row lengths, signed by the sprite transform's diagonal.
TEST_F(SpriteBatcherBillboard, PlacedAndScaledByTheCombinedMatrix) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(8, 4);
  Matrix4 scale, move, sprite, view;
  MatrixScaling(&scale, -1, 2, 1);
  MatrixTranslation(&move, 10, 20, 0);
  MatrixMultiply(&sprite, &scale, &move);
  MatrixTranslation(&view, 0, 0, 5);
  ASSERT_EQ(b->SetWorldViewLeftHanded(nullptr, &view), S_OK);
  ASSERT_EQ(b->SetSpriteTransform(&sprite), S_OK);
  TransformArrayCalls transforms;
  ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::Billboard | kNoSave), S_OK);
  const Vec3 position(1, 1, 0), centre(2, 1, 0);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &position, ~0u), S_OK);
  ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, &centre, &position, ~0u), S_OK);
  ASSERT_EQ(b->EndBatch(), S_OK);
  EXPECT_TRUE(transforms.Take().empty()) << "billboards are not transformed again";
  const auto v = BoundVertices(0, 8);
  // (1, 1, 0) -> (9, 22, 5); width 8 x -1, height 4 x 2.
  ExpectCorner(v[0], 9, 22, 5, ~0u, 0, 0);
  ExpectCorner(v[3], 1, 30, 5, ~0u, 1, 1);
  // The centre is scaled too: (2 x -1, 1 x 2).
  ExpectCorner(v[4], 11, 20, 5, ~0u, 0, 0);
  ExpectCorner(v[7], 3, 28, 5, ~0u, 1, 1);
}

// ObjectSpace depth keys follow the view direction: minus the world-view's
// third column for the right-handed form, the column itself for the left-handed.
TEST_F(SpriteBatcherWorldView, ViewDirectionOrdersDepth) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  ComRef<IDirect3DTexture9> t = MakeTexture(1, 1);
  // A view whose third column is +x: the viewer of the right-handed form looks down -x.
  Matrix4 turn;
  MatrixIdentity(&turn);
  turn.m[0][0] = 0;
  turn.m[0][2] = 1;
  turn.m[2][0] = -1;
  turn.m[2][2] = 0;
  Matrix4 grow;
  MatrixScaling(&grow, 3, 3, 3);
  struct Case {
    bool right;
    const Matrix4* world;
    const Matrix4* view;
    float order[3];  // x (or z) of the sprites in draw order
    bool alongX;
  };
  const Case cases[] = {
      {true, nullptr, nullptr, {3, 2, 1}, false},  // keys -z: smaller key = larger z
      {false, nullptr, nullptr, {1, 2, 3}, false}, {true, nullptr, &turn, {3, 2, 1}, true},
      {false, &turn, nullptr, {1, 2, 3}, true},    {true, &grow, &turn, {3, 2, 1}, true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.right ? b->SetWorldViewRightHanded(c.world, c.view) : b->SetWorldViewLeftHanded(c.world, c.view), S_OK);
    b->OnDeviceLost();  // ring back to 0 for the read-back
    ASSERT_EQ(b->BeginBatch(SpriteBatchFlags::ObjectSpace | SpriteBatchFlags::SortDepthAscending | kNoSave), S_OK);
    for (float k : {2.0f, 1.0f, 3.0f}) {
      const Vec3 pos = c.alongX ? Vec3(k, 0, 0) : Vec3(0, 0, k);
      ASSERT_EQ(b->QueueSprite(t.Get(), nullptr, nullptr, &pos, ~0u), S_OK);
    }
    ASSERT_EQ(b->EndBatch(), S_OK);
    const auto v = BoundVertices(0, 12);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(c.alongX ? v[4 * i].position.x : v[4 * i].position.z, c.order[i]) << "case " << (&c - cases);
  }
}

}  // namespace
}  // namespace drawtest
