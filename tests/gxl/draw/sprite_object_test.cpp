// The batcher as an object: creation and its failures, reference counting,
// interface queries, the device reference and what it takes from the caps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "draw_test_support.h"
#include "forwarding_device.h"
#include "gxl/draw/interface_ids.h"
#include "gxl/math/matrix.h"

namespace drawtest {
namespace {

using SpriteBatcherCreate = SpriteTest;
using SpriteBatcherInterface = SpriteTest;
using SpriteBatcherDeviceLevel = SpriteTest;
using SpriteBatcherCaps = SpriteTest;

SpriteBatcher* const kUntouched = reinterpret_cast<SpriteBatcher*>(std::uintptr_t{0x5A5A5A5A});

TEST_F(SpriteBatcherCreate, RefusesNullArguments) {
  SpriteBatcher* b = kUntouched;
  EXPECT_EQ(GXLCreateSpriteBatcher(nullptr, &b), D3DERR_INVALIDCALL);
  EXPECT_EQ(b, kUntouched);
  EXPECT_EQ(GXLCreateSpriteBatcher(dev, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(NothrowAllocationCount(), 0);
}

TEST_F(SpriteBatcherCreate, HoldsOneDeviceReferenceUntilReleased) {
  const ULONG before = RefCount(dev);
  SpriteBatcher* b = nullptr;
  ASSERT_EQ(GXLCreateSpriteBatcher(dev, &b), S_OK);
  ASSERT_NE(b, nullptr);
  EXPECT_GT(RefCount(dev), before);  // the batcher's and its declaration's
  EXPECT_EQ(RefCount(b), 1u);
  EXPECT_EQ(b->Release(), 0u);
  EXPECT_EQ(RefCount(dev), before);
}

TEST_F(SpriteBatcherCreate, ExhaustedMemoryTakesNothing) {
  const ULONG before = RefCount(dev);
  FailNothrowAllocation(1);
  SpriteBatcher* b = kUntouched;
  EXPECT_EQ(GXLCreateSpriteBatcher(dev, &b), E_OUTOFMEMORY);
  EXPECT_EQ(b, kUntouched);
  EXPECT_EQ(RefCount(dev), before);
}

TEST_F(SpriteBatcherCreate, FailedInitialisationPassesItsCodeAndReleasesWhatItTook) {
  const ULONG before = RefCount(dev);
  platform::test::FailCall("CreateVertexDeclaration", E_OUTOFMEMORY);
  SpriteBatcher* b = kUntouched;
  EXPECT_EQ(GXLCreateSpriteBatcher(dev, &b), E_OUTOFMEMORY);
  EXPECT_EQ(b, kUntouched);
  EXPECT_EQ(RefCount(dev), before);

  ForwardingDevice fwd(dev);
  fwd.Fail("GetDirect3D", D3DERR_NOTAVAILABLE);
  EXPECT_EQ(GXLCreateSpriteBatcher(&fwd, &b), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(b, kUntouched);
  EXPECT_EQ(fwd.References(), 1u);
  EXPECT_EQ(RefCount(dev), before);
}

TEST_F(SpriteBatcherInterface, AnswersItsOwnIdentifierAndIUnknown) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  for (const IID* iid : {&IidSpriteBatcher, &IID_IUnknown}) {
    void* out = nullptr;
    ASSERT_EQ(b->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(b.Get()));
    EXPECT_EQ(RefCount(b.Get()), 2u);
    EXPECT_EQ(b->Release(), 1u);
  }
}

TEST_F(SpriteBatcherInterface, RefusesOtherIdentifiersWithNull) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  for (const IID* iid : {&IidGlyphTextureFont, &IidSurfaceSceneRenderer, &IidEnvMapSceneRenderer, &IID_IDirect3DDevice9,
                         &IID_IDirect3DTexture9}) {
    void* out = &out;
    EXPECT_EQ(b->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(b->QueryInterface(IidSpriteBatcher, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(RefCount(b.Get()), 1u);
}

TEST_F(SpriteBatcherInterface, ReleaseReturnsTheRemainingCount) {
  SpriteBatcher* b = MakeBatcher().Detach();
  EXPECT_EQ(b->AddRef(), 2u);
  EXPECT_EQ(b->AddRef(), 3u);
  EXPECT_EQ(b->Release(), 2u);
  EXPECT_EQ(b->Release(), 1u);
  EXPECT_EQ(b->Release(), 0u);
}

TEST_F(SpriteBatcherInterface, GetDeviceRefAddsAReference) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  EXPECT_EQ(b->GetDeviceRef(nullptr), D3DERR_INVALIDCALL);
  const ULONG before = RefCount(dev);
  ComRef<IDirect3DDevice9> d;
  ASSERT_EQ(b->GetDeviceRef(d.Put()), S_OK);
  EXPECT_EQ(d.Get(), dev);
  EXPECT_EQ(RefCount(dev), before + 1);
}

TEST_F(SpriteBatcherInterface, SpriteTransformStartsAsIdentityAndRoundTrips) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  Matrix4 m;
  EXPECT_EQ(b->GetSpriteTransform(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(b->SetSpriteTransform(nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(b->GetSpriteTransform(&m), S_OK);
  Matrix4 identity;
  MatrixIdentity(&identity);
  EXPECT_EQ(std::memcmp(&m, &identity, sizeof m), 0);

  Matrix4 odd;
  for (int i = 0; i < 16; ++i) odd.m[i / 4][i % 4] = 0.25f * float(i) - 1.0f / 3.0f;
  odd.m[2][1] = std::nanf("");
  ASSERT_EQ(b->SetSpriteTransform(&odd), S_OK);
  ASSERT_EQ(b->GetSpriteTransform(&m), S_OK);
  EXPECT_EQ(std::memcmp(&m, &odd, sizeof m), 0);
}

TEST_F(SpriteBatcherDeviceLevel, FollowsDevCaps2AndStreams) {
  EXPECT_EQ(QueryDeviceLevel(nullptr), 0);
  EXPECT_EQ(QueryDeviceLevel(dev), 900);
  platform::test::EditD3D9Caps([](D3DCAPS9& c) {
    c.DevCaps2 = 0;
    c.MaxStreams = 16;
  });
  EXPECT_EQ(QueryDeviceLevel(dev), 800);
  platform::test::EditD3D9Caps([](D3DCAPS9& c) { c.MaxStreams = 0; });
  EXPECT_EQ(QueryDeviceLevel(dev), 700);
}

TEST_F(SpriteBatcherDeviceLevel, ADeviceThatCannotAnswerGivesZero) {
  for (const char* method : {"GetCreationParameters", "GetDirect3D"}) {
    ForwardingDevice fwd(dev);
    EXPECT_EQ(QueryDeviceLevel(&fwd), 900);
    fwd.Fail(method, D3DERR_INVALIDCALL);
    EXPECT_EQ(QueryDeviceLevel(&fwd), 0) << method;
  }
  const ULONG before = RefCount(d3d);
  QueryDeviceLevel(dev);
  EXPECT_EQ(RefCount(d3d), before);
}

// The sampler values Begin puts in place tell what the batcher took from the
// caps: "mag min mip anisotropy alpha-test" (filters 1 point, 2 linear, 3
// anisotropic).
std::string ChoiceOf(IDirect3DDevice9* device, SpriteBatcher* b) {
  DWORD mag = 0, min = 0, mip = 0, anisotropy = 0, alphaTest = 0;
  EXPECT_EQ(b->BeginBatch(SpriteBatchFlags::AlphaBlend), S_OK);
  device->GetSamplerState(0, D3DSAMP_MAGFILTER, &mag);
  device->GetSamplerState(0, D3DSAMP_MINFILTER, &min);
  device->GetSamplerState(0, D3DSAMP_MIPFILTER, &mip);
  device->GetSamplerState(0, D3DSAMP_MAXANISOTROPY, &anisotropy);
  device->GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
  EXPECT_EQ(b->EndBatch(), S_OK);
  std::string text;
  for (DWORD v : {mag, min, mip, anisotropy, alphaTest}) text += (text.empty() ? "" : " ") + std::to_string(v);
  return text;
}

TEST_F(SpriteBatcherCaps, DefaultProfileFiltersLinearly) {
  ComRef<SpriteBatcher> b = MakeBatcher();
  EXPECT_EQ(ChoiceOf(dev, b.Get()), "2 2 2 1 1");
}

TEST_F(SpriteBatcherCaps, AnisotropyAndPointMipsWhenOffered) {
  platform::test::EditD3D9Caps([](D3DCAPS9& c) {
    c.TextureFilterCaps |= D3DPTFILTERCAPS_MAGFANISOTROPIC | D3DPTFILTERCAPS_MINFANISOTROPIC;
    c.TextureFilterCaps &= ~D3DPTFILTERCAPS_MIPFLINEAR;
    c.MaxAnisotropy = 8;
    c.AlphaCmpCaps &= ~D3DPCMPCAPS_GREATER;
  });
  ComRef<SpriteBatcher> b = MakeBatcher();
  EXPECT_EQ(ChoiceOf(dev, b.Get()), "3 3 1 8 0");
}

TEST_F(SpriteBatcherCaps, UnreadableCapsAndParametersAreTreatedAsEmpty) {
  ForwardingDevice fwd(dev);
  fwd.Fail("GetDeviceCaps", D3DERR_INVALIDCALL);
  fwd.Fail("GetCreationParameters", D3DERR_INVALIDCALL);
  {
    ComRef<SpriteBatcher> b = MakeBatcher(&fwd);
    ASSERT_TRUE(b);
    platform::test::StartD3D9CallLog();
    EXPECT_EQ(ChoiceOf(&fwd, b.Get()), "2 2 1 0 0");
    const auto created = LoggedArgs("CreateVertexBuffer");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].rfind("393216, 520, 0, 0,", 0), 0u) << created[0];
  }
  EXPECT_EQ(fwd.References(), 1u);
}

TEST_F(SpriteBatcherCaps, SoftwareVertexProcessingKeepsBuffersInSystemMemory) {
  for (DWORD behaviour :
       {D3DCREATE_SOFTWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING, D3DCREATE_HARDWARE_VERTEXPROCESSING}) {
    RecreateDevice(behaviour);
    ComRef<SpriteBatcher> b = MakeBatcher();
    platform::test::StartD3D9CallLog();
    ASSERT_EQ(b->BeginBatch(0), S_OK);
    ASSERT_EQ(b->EndBatch(), S_OK);
    platform::test::StopD3D9CallLog();
    const char* pool = behaviour == D3DCREATE_HARDWARE_VERTEXPROCESSING ? "0" : "2";
    const auto vb = LoggedArgs("CreateVertexBuffer");
    const auto ib = LoggedArgs("CreateIndexBuffer");
    ASSERT_EQ(vb.size(), 1u);
    ASSERT_EQ(ib.size(), 1u);
    EXPECT_EQ(vb[0].rfind(std::string("393216, 520, 0, ") + pool + ",", 0), 0u) << vb[0];
    EXPECT_EQ(ib[0].rfind(std::string("49152, 8, 101, ") + pool + ",", 0), 0u) << ib[0];
    platform::test::ClearD3D9CallLog();
  }
}

}  // namespace
}  // namespace drawtest
