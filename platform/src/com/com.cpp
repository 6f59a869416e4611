// COM: initialisation is counted (the framework initialises twice), and
// CoCreateInstance makes the classes that areas register with RegisterComClass.
// There are no apartments, no marshalling and no aggregation.
#include <mutex>
#include <vector>

#include "platform/com.h"
#include "platform/testing.h"

namespace {

struct ComState {
  std::mutex mutex;
  int initCount = 0;
  std::vector<std::pair<CLSID, platform::ComFactory>> classes;  // registrations survive resets
};

ComState& Com() {
  static ComState s;
  return s;
}

void ResetCom() {
  std::lock_guard<std::mutex> lock(Com().mutex);
  Com().initCount = 0;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetCom), true);

}  // namespace

HRESULT CoInitialize(LPVOID) {
  std::lock_guard<std::mutex> lock(Com().mutex);
  return Com().initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  std::lock_guard<std::mutex> lock(Com().mutex);
  if (Com().initCount > 0) --Com().initCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  platform::ComFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(Com().mutex);
    if (Com().initCount == 0) return CO_E_NOTINITIALIZED;
    for (const auto& c : Com().classes)
      if (c.first == clsid) factory = c.second;
  }
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return E_INVALIDARG;
  if (!factory) return REGDB_E_CLASSNOTREG;
  HRESULT hr = factory(iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

namespace platform {

void RegisterComClass(const CLSID& clsid, ComFactory factory) {
  std::lock_guard<std::mutex> lock(Com().mutex);
  for (auto& c : Com().classes)
    if (c.first == clsid) {
      c.second = factory;
      return;
    }
  Com().classes.emplace_back(clsid, factory);
}

namespace test {
int ComInitCount() {
  std::lock_guard<std::mutex> lock(Com().mutex);
  return Com().initCount;
}
}  // namespace test

}  // namespace platform
