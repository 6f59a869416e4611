#include <gtest/gtest.h>

#include "platform/com.h"
#include "platform/testing.h"

namespace {

// {6B1F2D40-0001-4A1B-9C00-0000000000AA}
constexpr CLSID kTestClass = {0x6B1F2D40, 0x0001, 0x4A1B, {0x9C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA}};
constexpr CLSID kUnknownClass = {0x6B1F2D40, 0x0002, 0x4A1B, {0x9C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAB}};

struct Thing final : IUnknown {
  ULONG refs = 1;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    ULONG r = --refs;
    if (r == 0) delete this;
    return r;
  }
};

HRESULT MakeThing(REFIID iid, void** out) {
  auto* t = new Thing;
  HRESULT hr = t->QueryInterface(iid, out);
  t->Release();
  return hr;
}

const bool kRegistered = (platform::RegisterComClass(kTestClass, &MakeThing), true);

TEST(PlatformCom, InitialisationIsCounted) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(platform::test::ComInitCount(), 2);
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many does no harm
  EXPECT_EQ(platform::test::ComInitCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST(PlatformCom, CreateInstanceRules) {
  ASSERT_TRUE(kRegistered);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), CO_E_NOTINITIALIZED);
  EXPECT_EQ(out, nullptr);
  CoInitialize(nullptr);
  Thing outer;
  EXPECT_EQ(CoCreateInstance(kTestClass, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kUnknownClass, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), S_OK);
  ASSERT_NE(out, nullptr);
  auto* unk = static_cast<IUnknown*>(out);
  EXPECT_EQ(unk->AddRef(), 2u);
  EXPECT_EQ(unk->Release(), 1u);
  EXPECT_EQ(unk->Release(), 0u);
  CoUninitialize();
}

}  // namespace
