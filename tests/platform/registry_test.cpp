#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "platform/testing.h"
#include "platform/win_registry.h"

namespace {

constexpr const char* kKey = "Software\\Platform\\Direct3D";

TEST(PlatformRegistry, EmptyUntilSeeded) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
}

TEST(PlatformRegistry, DwordQueryWithSizesAndTypes) {
  platform::test::RegistrySetDword("HKLM\\Software\\Platform\\Direct3D", "DisablePSGP", 1);
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\PLATFORM\\direct3d", &key), 0);
  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "disablepsgp", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), 0);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(size, 4u);

  // NULL data asks for the size; a short buffer (down to one byte short)
  // reports the size needed, and nothing is written past the given size.
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "DisablePSGP", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(size, 4u);
  for (DWORD given : {0u, 2u, 3u, 4u, 5u}) {
    BYTE buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), BYTE{0xAB});
    size = given;
    const LONG want = given < 4 ? static_cast<LONG>(ERROR_MORE_DATA) : 0;
    EXPECT_EQ(RegQueryValueExA(key, "DisablePSGP", nullptr, &type, buffer, &size), want) << given;
    EXPECT_EQ(size, 4u) << given;
    for (DWORD i = std::min(given, 4u); i < 8; ++i) EXPECT_EQ(buffer[i], 0xAB) << given << ": byte " << i;
  }
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_NE(RegCloseKey(key), 0);  // closed twice
}

TEST(PlatformRegistry, StringReportsItsType) {
  platform::test::RegistrySetString("HKEY_LOCAL_MACHINE\\Software\\Platform\\Direct3D", "DisableMMX", "1");
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), 0);
  DWORD type = 0;
  char text[8];
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "DisableMMX", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_STREQ(text, "1");
  RegCloseKey(key);
}

TEST(PlatformRegistry, SeedTextAndParents) {
  EXPECT_TRUE(platform::test::RegistryLoadText(
      "; comment\n[HKLM\\Software\\Platform\\Direct3D]\nGXLDoNotMute=dword:0000000a\nName=\"text\"\n"));
  HKEY parent, key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &parent), 0);
  ASSERT_EQ(RegOpenKeyA(parent, "Platform\\Direct3D", &key), 0);
  DWORD type, value, size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "GXLDoNotMute", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), 0);
  EXPECT_EQ(value, 10u);
  RegCloseKey(key);
  RegCloseKey(parent);
  platform::test::RegistryRemove("HKLM\\Software\\Platform\\Direct3D", "GXLDoNotMute");
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), 0);
  EXPECT_EQ(RegQueryValueExA(key, "GXLDoNotMute", nullptr, &type, nullptr, &size), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
}

}  // namespace
