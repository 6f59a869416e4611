// SetDebugMute and the allocator self-check.
#include "gxl/math/services.h"

#include <atomic>
#include <mutex>
#include <new>

#include "gxl/math/cpu_detect.h"
#include "gxl/math/math_testing.h"
#include "platform/win_kernel.h"
#include "platform/win_registry.h"

namespace {

using DebugSetMuteFn = std::intptr_t (*)(DWORD);

struct DebugMuteState {
  std::mutex mutex;
  std::int32_t current = 0;
  DebugSetMuteFn retail = nullptr;  // "DebugSetMute" of "d3d9.dll"
  DebugSetMuteFn debug = nullptr;   // "DebugSetMute" of "d3d9d.dll"
  int doNotMute = -1;               // "GXLDoNotMute": -1 not read yet, then 0 or 1
};

DebugMuteState& MuteState() {
  static DebugMuteState state;
  return state;
}

// The export of a module that is already loaded. The module reference taken to
// look it up is kept only when the export is found, so that the function stays
// valid; a fruitless look-up leaves the reference count as it was.
DebugSetMuteFn FindDebugSetMute(const char* module) {
  if (!GetModuleHandleA(module)) return nullptr;
  HMODULE handle = LoadLibraryA(module);
  if (!handle) return nullptr;
  FARPROC proc = GetProcAddress(handle, "DebugSetMute");
  if (!proc) {
    FreeLibrary(handle);
    return nullptr;
  }
  return reinterpret_cast<DebugSetMuteFn>(proc);
}

std::atomic<bool> g_newDeleteChecked{false};

constexpr const char* kNewDeleteWarning[] = {
    "GXL: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n",
    "GXL: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n",
    "GXL: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n",
    "GXL: (WARN) GXL relies upon this behavior.\r\n",
};

void* GlobalNew(std::size_t size) { return ::operator new(size); }
void GlobalDelete(void* p) { ::operator delete(p); }

}  // namespace

std::int32_t SetDebugMute(std::int32_t mute) {
  DebugMuteState& s = MuteState();
  std::lock_guard<std::mutex> lock(s.mutex);
  const std::int32_t previous = s.current;
  s.current = mute;

  // Looked up again on every call until one runtime module offers the entry.
  if (!s.retail && !s.debug) {
    s.retail = FindDebugSetMute("d3d9.dll");
    if (!s.retail) s.debug = FindDebugSetMute("d3d9d.dll");
  }
  if (s.doNotMute < 0) {
    DWORD value = 0;
    s.doNotMute = (ReadDirect3DRegistryValue(REG_DWORD, "GXLDoNotMute", &value, sizeof value) && value != 0) ? 1 : 0;
  }
  if (s.doNotMute) return previous;
  if (s.retail) s.retail(static_cast<DWORD>(mute));
  if (s.debug) s.debug(static_cast<DWORD>(mute));
  return previous;
}

void CheckNewDeleteConformance() {
  if (g_newDeleteChecked.exchange(true)) return;
  gxl::math::test::RunNewDeleteCheck(&GlobalNew, &GlobalDelete);
}

namespace gxl::math::test {

void RunNewDeleteCheck(void* (*allocate)(std::size_t), void (*release)(void*)) {
  void* first = allocate(0);
  void* second = allocate(0);
  const bool conforms = first && second && first != second;
  if (first) release(first);
  if (second && second != first) release(second);
  release(nullptr);
  if (!conforms) {
    for (const char* line : kNewDeleteWarning) OutputDebugStringA(line);
  }
}

void ResetServiceState() {
  DebugMuteState& s = MuteState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.current = 0;
  s.retail = nullptr;
  s.debug = nullptr;
  s.doNotMute = -1;
  g_newDeleteChecked.store(false);
}

}  // namespace gxl::math::test
