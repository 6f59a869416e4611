// The registry: an in-memory store of typed values under case-insensitive key
// paths. It starts empty, or seeded from PLATFORM_REGISTRY_FILE.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/ascii.h"
#include "platform/testing.h"
#include "platform/win_registry.h"

namespace {

using platform::ascii::Fold;

// "a\\b\\" and "a/b" both become "a\\b", case-folded.
std::string NormalisePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return Fold(out);
}

struct Value {
  DWORD type;
  std::vector<BYTE> data;
};

struct OpenKey {
  std::string path;  // normalised, including the root
};

struct Store {
  std::mutex mutex;
  std::map<std::string, std::map<std::string, Value>> keys;  // path -> folded name -> value
  std::vector<std::unique_ptr<OpenKey>> open;

  Store() { Seed(); }

  void Seed() {
    keys.clear();
    if (const char* file = std::getenv("PLATFORM_REGISTRY_FILE")) {
      std::ifstream in(file);
      std::stringstream ss;
      ss << in.rdbuf();
      LoadText(ss.str());
    }
  }

  bool LoadText(const std::string& text);

  // A key and all its parents.
  std::map<std::string, Value>& Ensure(const std::string& path) {
    for (size_t p = path.find('\\'); p != std::string::npos; p = path.find('\\', p + 1)) keys[path.substr(0, p)];
    return keys[path];
  }
};

Store& TheStore() {
  static Store store;
  return store;
}

std::string RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "hklm";
  if (root == HKEY_CURRENT_USER) return "hkcu";
  if (root == HKEY_CLASSES_ROOT) return "hkcr";
  return {};
}

// The full path of a parent key (a root or an opened key); empty when invalid.
std::string PathOf(Store& s, HKEY key) {
  std::string root = RootName(key);
  if (!root.empty()) return root;
  for (auto& k : s.open)
    if (reinterpret_cast<HKEY>(k.get()) == key) return k->path;
  return {};
}

// "HKEY_LOCAL_MACHINE\\X" and "HKLM\\X" name the same key.
std::string CanonicalRoot(std::string path) {
  path = NormalisePath(path);
  static const std::pair<const char*, const char*> kRoots[] = {
      {"hkey_local_machine", "hklm"}, {"hkey_current_user", "hkcu"}, {"hkey_classes_root", "hkcr"}};
  for (auto& r : kRoots) {
    size_t n = std::strlen(r.first);
    if (path.compare(0, n, r.first) == 0 && (path.size() == n || path[n] == '\\'))
      return std::string(r.second) + path.substr(n);
  }
  return path;
}

bool Store::LoadText(const std::string& text) {
  std::istringstream in(text);
  std::string line, key;
  bool ok = true;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line[b] == ';' || line[b] == '#') continue;
    line = line.substr(b);
    if (line.front() == '[' && line.back() == ']') {
      key = CanonicalRoot(line.substr(1, line.size() - 2));
      Ensure(key);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || key.empty()) {
      ok = false;
      continue;
    }
    std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    Value v;
    if (value.compare(0, 6, "dword:") == 0) {
      DWORD d = static_cast<DWORD>(std::strtoul(value.c_str() + 6, nullptr, 16));
      v.type = REG_DWORD;
      v.data.resize(4);
      std::memcpy(v.data.data(), &d, 4);
    } else if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      v.type = REG_SZ;
      std::string s = value.substr(1, value.size() - 2);
      v.data.assign(s.begin(), s.end());
      v.data.push_back(0);
    } else {
      ok = false;
      continue;
    }
    keys[key][Fold(name)] = std::move(v);
  }
  return ok;
}

void ResetRegistry() {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.keys.clear();  // tests start empty; they seed what they need
  s.open.clear();
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetRegistry), true);

LONG Open(HKEY parent, LPCSTR subKey, HKEY* result, bool create) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::string base = PathOf(s, parent);
  if (base.empty()) return ERROR_INVALID_HANDLE;
  std::string path = base;
  if (subKey && *subKey) path = NormalisePath(base + "\\" + subKey);
  if (s.keys.find(path) == s.keys.end()) {
    if (!create) return ERROR_FILE_NOT_FOUND;
    // Creating a key makes its parents exist as well.
    s.Ensure(path);
  }
  s.open.push_back(std::make_unique<OpenKey>(OpenKey{path}));
  *result = reinterpret_cast<HKEY>(s.open.back().get());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyA(HKEY parent, LPCSTR subKey, HKEY* result) { return Open(parent, subKey, result, false); }

LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, DWORD, HKEY* result) {
  return Open(parent, subKey, result, false);
}

LONG RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD, LPSTR, DWORD, DWORD, void*, HKEY* result,
                     LPDWORD disposition) {
  if (disposition) *disposition = 1;  // REG_CREATED_NEW_KEY (or opened: not told apart here)
  return Open(parent, subKey, result, true);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::string path = PathOf(s, key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  auto k = s.keys.find(path);
  if (k == s.keys.end()) return ERROR_FILE_NOT_FOUND;
  auto v = k->second.find(Fold(name ? name : ""));
  if (v == k->second.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->second.type;
  DWORD need = static_cast<DWORD>(v->second.data.size());
  if (!data) {
    if (size) *size = need;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  if (*size < need) {
    *size = need;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, v->second.data.data(), need);
  *size = need;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::string path = PathOf(s, key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (!data && size) return ERROR_INVALID_PARAMETER;
  Value v{type, std::vector<BYTE>(data, data + size)};
  s.keys[path][Fold(name ? name : "")] = std::move(v);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!RootName(key).empty()) return ERROR_SUCCESS;
  for (auto it = s.open.begin(); it != s.open.end(); ++it) {
    if (reinterpret_cast<HKEY>(it->get()) == key) {
      s.open.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_INVALID_HANDLE;
}

namespace platform::test {

void RegistrySetDword(const std::string& keyPath, const std::string& name, DWORD value) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  Value v{REG_DWORD, std::vector<BYTE>(4)};
  std::memcpy(v.data.data(), &value, 4);
  s.Ensure(CanonicalRoot(keyPath))[Fold(name)] = std::move(v);
}

void RegistrySetString(const std::string& keyPath, const std::string& name, const std::string& value) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  Value v{REG_SZ, std::vector<BYTE>(value.begin(), value.end())};
  v.data.push_back(0);
  s.Ensure(CanonicalRoot(keyPath))[Fold(name)] = std::move(v);
}

void RegistryRemove(const std::string& keyPath, const std::string& name) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto k = s.keys.find(CanonicalRoot(keyPath));
  if (k != s.keys.end()) k->second.erase(Fold(name));
}

void RegistryClear() {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.keys.clear();
}

bool RegistryLoadText(const std::string& text) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.LoadText(text);
}

}  // namespace platform::test
