// The test hooks themselves: failure injection (generic), the d3d9 call log
// and the diagnostic counters.
#include "d3d9_fixture.h"
#include "testing/failure.h"

namespace {

using d3dtest::Ref;

TEST(D3D9ResHooks, FailuresHitTheNthMatchingCallAndTheCountAfterIt) {
  using platform::detail::ShouldFail;
  HRESULT hr = S_OK;
  EXPECT_FALSE(ShouldFail("Anything", &hr));
  platform::test::FailCall("Thing", E_OUTOFMEMORY, 2, 2);
  std::vector<bool> seen;
  for (int i = 0; i < 5; ++i) seen.push_back(ShouldFail("Thing", &hr));
  EXPECT_EQ(seen, (std::vector<bool>{false, true, true, false, false}));
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_FALSE(ShouldFail("Other", &hr));

  platform::test::FailSpec when;
  when.match = "pool=0";
  when.count = -1;
  platform::test::FailCall("Create", E_FAIL, when);
  EXPECT_FALSE(ShouldFail("Create", &hr, "pool=1"));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ShouldFail("Create", &hr, "8x8 pool=0"));
  EXPECT_EQ(platform::test::InjectedFailureCount("Create"), 3);
  EXPECT_EQ(platform::test::InjectedFailureCount(), 5);
  platform::test::ClearFailures();
  EXPECT_FALSE(ShouldFail("Create", &hr, "pool=0"));
  EXPECT_EQ(platform::test::InjectedFailureCount(), 0);
}

TEST(D3D9ResHooks, ResetDisarmsFailuresAndCounters) {
  platform::test::FailCall("Thing", E_FAIL, 1, -1);
  platform::detail::CountDiagnostic("d3d9.example");
  platform::detail::CountDiagnostic("d3d9.example");
  EXPECT_EQ(platform::test::DiagnosticCount("d3d9.example"), 2);
  EXPECT_EQ(platform::test::Diagnostics().at("d3d9.example"), 2);
  platform::test::ResetAll();
  HRESULT hr = S_OK;
  EXPECT_FALSE(platform::detail::ShouldFail("Thing", &hr));
  EXPECT_EQ(platform::test::DiagnosticCount("d3d9.example"), 0);
  EXPECT_TRUE(platform::test::Diagnostics().empty());
}

class D3D9ResCallLog : public d3dtest::DeviceTest {};

TEST_F(D3D9ResCallLog, RecordsCallsArgumentsAndResults) {
  platform::test::StartD3D9CallLog();
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  const std::string texture = platform::test::D3D9ObjectName(t.get());
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
  ASSERT_EQ(dev->SetTexture(0, t.get()), D3D_OK);
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  platform::test::StopD3D9CallLog();
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE), D3D_OK);  // not recorded

  const std::string& lockArgs = platform::test::D3D9Calls()[4].args;
  const std::string surface = lockArgs.substr(0, lockArgs.find(','));
  const std::string expected = "CreateTexture(4, 4, 1, 0, 21, 1, " + texture + ")\n" +
                               "SetRenderState(27, 1)\n" + "SetTexture(0, " + texture + ")\n" +
                               "EndScene() = 0x8876086C\n" + "Surface.LockRect(" + surface + ", null, 0)\n" +
                               "Surface.UnlockRect(" + surface + ")\n";
  EXPECT_EQ(platform::test::D3D9CallLogText(), expected);
  EXPECT_EQ(platform::test::CountD3D9Calls("SetRenderState"), 1);
  EXPECT_EQ(surface.rfind("Surface#", 0), 0u);
  platform::test::ClearD3D9CallLog();
  EXPECT_TRUE(platform::test::D3D9Calls().empty());
}

TEST_F(D3D9ResCallLog, CountsDrawCallsTheWayBatchTestsNeed) {
  const float quad[4 * 7] = {};
  ASSERT_EQ(dev->SetFVF(0x144), D3D_OK);
  platform::test::StartD3D9CallLog();
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, 28), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(platform::test::CountD3D9Calls("DrawPrimitiveUP"), 3);
  EXPECT_EQ(platform::test::D3D9Calls()[1].args, "5, 2, ptr, 28");
}

}  // namespace
