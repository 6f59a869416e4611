// Modules, exports and resources over a table of named stand-in modules.
// There are no real libraries: a module is a name with a reference count, a set
// of named functions and a set of registered resource blocks.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "d3d9/shader_validator.h"
#include "kernel/ascii.h"
#include "kernel/utf.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"

namespace {

using platform::ascii::Fold;

// A resource name or type: an integer id or a case-folded string.
struct ResKey {
  bool isId = false;
  WORD id = 0;
  std::string name;
  bool operator<(const ResKey& o) const {
    if (isId != o.isId) return isId;
    return isId ? id < o.id : name < o.name;
  }
};

ResKey MakeKey(LPCSTR s) {
  ResKey k;
  if (IS_INTRESOURCE(s)) {
    k.isId = true;
    k.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(s));
  } else {
    // "#123" names an integer id, as on the original.
    if (s[0] == '#' && std::isdigit(static_cast<unsigned char>(s[1]))) {
      k.isId = true;
      k.id = static_cast<WORD>(std::atoi(s + 1));
    } else {
      k.name = Fold(s);
    }
  }
  return k;
}

struct Resource {
  const void* bytes;
  DWORD size;
};

struct Module {
  std::string name;  // folded
  int refs = 0;      // 0: known but not loaded
  std::map<std::string, platform::test::ExportFn> exports;
  std::map<ResKey, std::map<ResKey, Resource>> resources;  // type -> name -> block
};

// Values passed to the stand-in "DebugSetMute", kept only while a test asks:
// every sprite batch calls it, so a running program would grow the list forever.
struct MuteRecord {
  std::mutex mutex;
  bool on = false;
  std::vector<DWORD> calls;
};

MuteRecord& Mutes() {
  static MuteRecord record;
  return record;
}

std::intptr_t StandInDebugSetMute(DWORD mute) {
  MuteRecord& r = Mutes();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.on) r.calls.push_back(mute);
  return 0;
}

struct DefaultExport {
  std::string module, name;
  platform::test::ExportFn fn;
};

struct ModuleTable {
  std::recursive_mutex mutex;
  Module program;
  std::vector<std::unique_ptr<Module>> modules;  // never shrinks: handles stay valid
  std::vector<DefaultExport> defaults;

  ModuleTable() { Reset(); }

  Module* Find(const std::string& name) {
    std::string f = Fold(name);
    for (auto& m : modules)
      if (m->name == f) return m.get();
    return nullptr;
  }
  Module* FindOrAdd(const std::string& name) {
    if (Module* m = Find(name)) return m;
    modules.push_back(std::make_unique<Module>());
    modules.back()->name = Fold(name);
    return modules.back().get();
  }
  Module* FromHandle(HMODULE h) {
    if (!h) return &program;
    auto* p = reinterpret_cast<Module*>(h);
    if (p == &program) return p;
    for (auto& m : modules)
      if (m.get() == p) return p;
    return nullptr;
  }

  void Reset() {
    for (auto& m : modules) {
      m->refs = -1;  // removed; the record stays so old handles do not dangle
      m->exports.clear();
      m->resources.clear();
    }
    program.resources.clear();
    {
      std::lock_guard<std::mutex> lock(Mutes().mutex);
      Mutes().on = false;
      Mutes().calls.clear();
    }
    Module* d3d9 = FindOrAdd("d3d9.dll");
    d3d9->refs = 1;
    d3d9->exports["DebugSetMute"] = reinterpret_cast<platform::test::ExportFn>(&StandInDebugSetMute);
    FindOrAdd("gdi32.dll")->refs = 1;
    d3d9->exports["Direct3DShaderValidatorCreate9"] =
        reinterpret_cast<platform::test::ExportFn>(&platform::shader::CreateStructuralValidator);
    for (const auto& d : defaults) {
      Module* m = FindOrAdd(d.module);
      if (m->refs < 0) m->refs = 1;
      m->exports[d.name] = d.fn;
    }
    // Program resources survive a reset: they are compiled into the program.
    for (const auto& r : programResources) program.resources[r.first.first][r.first.second] = r.second;
  }

  std::map<std::pair<ResKey, ResKey>, Resource> programResources;
};

ModuleTable& Table() {
  static ModuleTable table;
  return table;
}

void ResetModules() {
  std::lock_guard<std::recursive_mutex> lock(Table().mutex);
  Table().Reset();
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetModules), true);

HMODULE Handle(Module* m) { return reinterpret_cast<HMODULE>(m); }

}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  if (!name) return Handle(&t.program);
  Module* m = t.Find(name);
  if (!m || m->refs <= 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return Handle(m);
}

HMODULE LoadLibraryA(LPCSTR name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Module* m = t.Find(name);
  // A known but unloaded module loads; an unknown or removed one is absent.
  if (!m || m->refs < 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++m->refs;
  return Handle(m);
}

BOOL FreeLibrary(HMODULE module) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FromHandle(module);
  if (!m || m == &t.program || m->refs <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --m->refs;
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FromHandle(module);
  if (!m || (m != &t.program && m->refs <= 0)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!name || IS_INTRESOURCE(name)) {  // ordinals are not exported by the stand-ins
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto it = m->exports.find(name);
  if (it == m->exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(it->second);
}

// ---------------------------------------------------------------------------
// Resources

namespace {

using platform::ascii::Fold;
struct ResourceHandle {
  Resource res;
};

HRSRC FindIn(Module* m, const ResKey& type, const ResKey& name) {
  auto t = m->resources.find(type);
  if (t == m->resources.end()) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  auto n = t->second.find(name);
  if (n == t->second.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  // The map node is stable until a reset, which is how long the handle lives.
  return reinterpret_cast<HRSRC>(&n->second);
}
}  // namespace

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FromHandle(module);
  if (!m || !name || !type) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return FindIn(m, MakeKey(type), MakeKey(name));
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  auto convert = [](LPCWSTR w, std::string& keep) -> LPCSTR {
    if (IS_INTRESOURCE(w)) return reinterpret_cast<LPCSTR>(w);
    keep = platform::utf::ToUtf8(w);
    return keep.c_str();
  };
  if (!name || !type) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::string n, ty;
  return FindResourceA(module, convert(name, n), convert(type, ty));
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<Resource*>(resource)->size;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return reinterpret_cast<HGLOBAL>(resource);
}

LPVOID LockResource(HGLOBAL data) {
  if (!data) return nullptr;
  return const_cast<void*>(reinterpret_cast<Resource*>(data)->bytes);
}

BOOL FreeResource(HGLOBAL) { return FALSE; }

namespace platform {

void RegisterResource(HMODULE module, LPCSTR type, LPCSTR name, const void* bytes, DWORD size) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FromHandle(module);
  if (!m || !type || !name) return;
  Resource r{bytes, size};
  m->resources[MakeKey(type)][MakeKey(name)] = r;
  if (m == &t.program) t.programResources[{MakeKey(type), MakeKey(name)}] = r;
}

void RegisterDefaultExport(const char* module, const char* name, test::ExportFn fn) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  t.defaults.push_back({module, name, fn});
  Module* m = t.FindOrAdd(module);
  if (m->refs < 0) m->refs = 1;
  m->exports[name] = fn;
}

namespace test {

void AddModule(const std::string& name, bool loaded) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FindOrAdd(name);
  if (m->refs <= 0) m->refs = loaded ? 1 : 0;
}

void RemoveModule(const std::string& name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  if (Module* m = t.Find(name)) {
    m->refs = -1;
    m->exports.clear();
    m->resources.clear();
  }
}

void RegisterExport(const std::string& module, const std::string& name, ExportFn fn) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.FindOrAdd(module);
  if (m->refs < 0) m->refs = 1;
  m->exports[name] = fn;
}

void RemoveExport(const std::string& module, const std::string& name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  if (Module* m = t.Find(module)) m->exports.erase(name);
}

int ModuleRefCount(const std::string& name) {
  ModuleTable& t = Table();
  std::lock_guard<std::recursive_mutex> lock(t.mutex);
  Module* m = t.Find(name);
  return m ? m->refs : -1;
}

void RecordDebugSetMuteCalls() {
  std::lock_guard<std::mutex> lock(Mutes().mutex);
  Mutes().on = true;
}

std::vector<DWORD> DebugSetMuteCalls() {
  std::lock_guard<std::mutex> lock(Mutes().mutex);
  return Mutes().calls;
}

}  // namespace test
}  // namespace platform
