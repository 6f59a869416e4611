#include <gtest/gtest.h>

#include <cstring>

#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

std::intptr_t FakeExport() { return 42; }

TEST(PlatformModules, DefaultTable) {
  HMODULE d3d9 = GetModuleHandleA("D3D9.DLL");
  ASSERT_NE(d3d9, nullptr);
  EXPECT_NE(GetProcAddress(d3d9, "DebugSetMute"), nullptr);
  EXPECT_NE(GetProcAddress(d3d9, "Direct3DShaderValidatorCreate9"), nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(d3d9, "Direct3DShaderValidatorCreate9A"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("d3d9d.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA("usp10.dll"), nullptr);
  EXPECT_NE(GetModuleHandleA("gdi32.dll"), nullptr);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

TEST(PlatformModules, ReferenceCountsFollowLoadAndFree) {
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 1);
  HMODULE a = LoadLibraryA("d3d9.dll");
  HMODULE b = LoadLibraryA("d3d9.dll");
  EXPECT_EQ(a, b);
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 3);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(platform::test::ModuleRefCount("d3d9.dll"), 1);
}

TEST(PlatformModules, StandInMuteRecordsValuesOnlyWhileATestAsks) {
  using MuteFn = std::intptr_t (*)(DWORD);
  auto mute = reinterpret_cast<MuteFn>(GetProcAddress(GetModuleHandleA("d3d9.dll"), "DebugSetMute"));
  ASSERT_NE(mute, nullptr);
  mute(1);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
  platform::test::RecordDebugSetMuteCalls();
  mute(1);
  mute(0);
  EXPECT_EQ(platform::test::DebugSetMuteCalls(), (std::vector<DWORD>{1, 0}));
  platform::test::ResetAll();
  mute(1);
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
}

TEST(PlatformModules, TestsAddAndRemoveModulesAndExports) {
  platform::test::AddModule("usp10.dll", false);
  EXPECT_EQ(GetModuleHandleA("usp10.dll"), nullptr);  // known, not loaded
  HMODULE m = LoadLibraryA("usp10.dll");
  ASSERT_NE(m, nullptr);
  platform::test::RegisterExport("usp10.dll", "ScriptItemize", &FakeExport);
  FARPROC f = GetProcAddress(m, "ScriptItemize");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f(), 42);
  platform::test::RemoveExport("gdi32.dll", "GetCharWidthI");
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("gdi32.dll"), "GetCharWidthI"), nullptr);
  platform::test::RemoveModule("d3d9.dll");
  EXPECT_EQ(GetModuleHandleA("d3d9.dll"), nullptr);
  platform::test::ResetAll();
  EXPECT_NE(GetModuleHandleA("d3d9.dll"), nullptr);
  EXPECT_EQ(LoadLibraryA("usp10.dll"), nullptr);
}

TEST(PlatformResources, LookupByNameTypeAndId) {
  static const char kData[] = "resource bytes";
  platform::RegisterResource(nullptr, RT_RCDATA, "Shader.fx", kData, sizeof kData);
  platform::RegisterResource(nullptr, RT_RCDATA, MAKEINTRESOURCEA(7), kData, 4);
  HRSRC r = FindResourceA(nullptr, "SHADER.FX", RT_RCDATA);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, r), sizeof kData);
  EXPECT_EQ(std::memcmp(LockResource(LoadResource(nullptr, r)), kData, sizeof kData), 0);
  EXPECT_NE(FindResourceA(nullptr, "#7", RT_RCDATA), nullptr);
  EXPECT_NE(FindResourceW(nullptr, u"shader.fx", RT_RCDATAW), nullptr);
  SetLastError(0);
  EXPECT_EQ(FindResourceA(nullptr, "other", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceA(nullptr, "Shader.fx", RT_BITMAP), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

}  // namespace
