#include "gxl/shader/core/register_names.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win_kernel.h"

namespace gxl::shader {

std::uint32_t RegisterNameTable::Hash(const char* name) {
  if (!name) return 0;
  std::uint32_t h = 0;
  for (const char* c = name; *c; ++c) {
    const int ch = static_cast<signed char>(*c);
    // toupper is defined for unsigned-char values only; bytes above 0x7F keep their signed value.
    h = h * 19 + static_cast<std::uint32_t>(ch >= 0 ? std::toupper(ch) : ch);
  }
  return h % kBuckets;
}

RegisterNameEntry* RegisterNameTable::Find(const char* name) const {
  if (!name) return nullptr;
  for (RegisterNameEntry* e = m_buckets[Hash(name)]; e; e = e->next)
    if (lstrcmpiA(e->name, name) == 0) return e;
  return nullptr;
}

HRESULT RegisterNameTable::Add(const char* name, std::uint32_t reg, std::uint32_t count, RegisterNameEntry** added) {
  if (!name) name = "";
  const std::size_t length = std::strlen(name) + 1;
  char* copy = static_cast<char*>(std::malloc(length));
  auto* entry = new (std::nothrow) RegisterNameEntry{copy, reg, count, 0, {}, nullptr};
  if (!copy || !entry) {
    std::free(copy);
    delete entry;
    return E_OUTOFMEMORY;
  }
  std::memcpy(copy, name, length);
  RegisterNameEntry*& head = m_buckets[Hash(name)];
  entry->next = head;
  head = entry;
  ++m_size;
  if (added) *added = entry;
  return S_OK;
}

void RegisterNameTable::Collect(const RegisterNameEntry** out) const {
  for (RegisterNameEntry* head : m_buckets)
    for (const RegisterNameEntry* e = head; e; e = e->next) *out++ = e;
}

void RegisterNameTable::Clear() {
  for (RegisterNameEntry*& head : m_buckets) {
    while (RegisterNameEntry* e = head) {
      head = e->next;
      std::free(e->name);
      delete e;
    }
  }
  m_size = 0;
}

}  // namespace gxl::shader
