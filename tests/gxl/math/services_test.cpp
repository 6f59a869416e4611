// SetDebugMute, the allocator self-check and the MMX test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "gxl/math/math_testing.h"
#include "gxl/math/services.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

const char kKey[] = "HKLM\\Software\\Platform\\Direct3D";

std::vector<DWORD> g_debugCalls;
std::intptr_t DebugRuntimeMute(DWORD mute) {
  g_debugCalls.push_back(mute);
  return 0;
}

TEST(MathServices, SetDebugMuteForwardsAndReturnsThePreviousValue) {
  platform::test::RecordDebugSetMuteCalls();
  EXPECT_EQ(SetDebugMute(1), 0);
  EXPECT_EQ(SetDebugMute(0), 1);
  EXPECT_EQ(SetDebugMute(7), 0);
  EXPECT_EQ(SetDebugMute(0), 7);
  EXPECT_EQ(platform::test::DebugSetMuteCalls(), (std::vector<DWORD>{1, 0, 7, 0}));
}

TEST(MathServices, SetDebugMuteTakesOneModuleReferenceAtMost) {
  for (int i = 0; i < 10; ++i) SetDebugMute(i & 1);
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 2);  // one kept for the entry found
}

TEST(MathServices, FruitlessLookupsLeaveNoReferenceBehind) {
  platform::test::RecordDebugSetMuteCalls();
  platform::test::RemoveExport("d3d9.dll", "DebugSetMute");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(SetDebugMute(i), i == 0 ? 0 : i - 1);
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 1);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
}

TEST(MathServices, NothingForwardedBeforeARuntimeIsLoaded) {
  platform::test::RecordDebugSetMuteCalls();
  platform::test::RemoveModule("d3d9.dll");
  EXPECT_EQ(SetDebugMute(1), 0);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
  // Looked up again on later calls: a runtime loaded meanwhile is found.
  platform::test::AddModule("d3d9d.dll", true);
  platform::test::RegisterExport("d3d9d.dll", "DebugSetMute", reinterpret_cast<platform::test::ExportFn>(
                                                                  &DebugRuntimeMute));
  g_debugCalls.clear();
  EXPECT_EQ(SetDebugMute(0), 1);
  EXPECT_EQ(g_debugCalls, (std::vector<DWORD>{0}));
}

TEST(MathServices, DoNotMuteSwitchStopsForwarding) {
  platform::test::RecordDebugSetMuteCalls();
  platform::test::RegistrySetDword(kKey, "GXLDoNotMute", 1);
  EXPECT_EQ(SetDebugMute(1), 0);
  EXPECT_EQ(SetDebugMute(0), 1);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
  // Read once: removing it later changes nothing.
  platform::test::RegistryRemove(kKey, "GXLDoNotMute");
  SetDebugMute(1);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
}

TEST(MathServices, DoNotMuteZeroOrStringStillForwards) {
  platform::test::RecordDebugSetMuteCalls();
  platform::test::RegistrySetString(kKey, "GXLDoNotMute", "1");
  SetDebugMute(1);
  EXPECT_EQ(platform::test::DebugSetMuteCalls().size(), 1u);
}

// A deliberately broken allocator: every zero-byte allocation gives one block.
char g_shared;
void* SharedZeroBlock(std::size_t size) { return size == 0 ? &g_shared : std::malloc(size); }
void* NullZeroBlock(std::size_t size) { return size == 0 ? nullptr : std::malloc(size); }
int g_released, g_nullReleased;
void CountingRelease(void* p) {
  if (!p) {
    ++g_nullReleased;
  } else {
    ++g_released;
    if (p != &g_shared) std::free(p);
  }
}

TEST(MathServices, AllocatorCheckWarnsAboutNonConformingOperators) {
  g_released = g_nullReleased = 0;
  gxl::math::test::RunNewDeleteCheck(&SharedZeroBlock, &CountingRelease);
  EXPECT_EQ(g_released, 1);  // the shared block is freed once
  EXPECT_EQ(g_nullReleased, 1);
  const auto& out = platform::test::DebugOutput();
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], "GXL: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n");
  EXPECT_EQ(out[1], "GXL: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n");
  EXPECT_EQ(out[2], "GXL: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n");
  EXPECT_EQ(out[3], "GXL: (WARN) GXL relies upon this behavior.\r\n");

  platform::test::ClearDebugOutput();
  g_released = g_nullReleased = 0;
  gxl::math::test::RunNewDeleteCheck(&NullZeroBlock, &CountingRelease);
  EXPECT_EQ(g_released, 0);
  EXPECT_EQ(platform::test::DebugOutput().size(), 4u);
}

TEST(MathServices, GlobalOperatorsConformAndTheCheckRunsOnce) {
  CheckNewDeleteConformance();
  CheckNewDeleteConformance();
  InitMathDispatch(1);  // runs the check too
  EXPECT_TRUE(platform::test::DebugOutput().empty());
}

}  // namespace
