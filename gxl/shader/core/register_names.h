// A small case-insensitive table of register names: the symbolic registers of
// an assembly fragment ("v_", "r_", "o_" and constant names) and the fragment
// register names of the code-generation targets. Seven buckets, each a chain
// with the newest entry first.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace gxl::shader {

struct RegisterNameEntry {
  char* name;                // own copy
  std::uint32_t reg;         // register number
  std::uint32_t count;       // registers (or the target's kind word)
  std::uint32_t hasDefault;  // defaultValue holds the register's value
  std::uint32_t defaultValue[4];
  RegisterNameEntry* next;
};

class RegisterNameTable {
 public:
  static constexpr std::uint32_t kBuckets = 7;

  RegisterNameTable() = default;
  ~RegisterNameTable() { Clear(); }
  RegisterNameTable(const RegisterNameTable&) = delete;
  RegisterNameTable& operator=(const RegisterNameTable&) = delete;

  // h = h * 19 + toupper(c) over the characters (as signed bytes), mod 7; a
  // null or empty name hashes to 0.
  static std::uint32_t Hash(const char* name);

  // The entry whose name equals `name` ignoring case, or null.
  RegisterNameEntry* Find(const char* name) const;
  // Copies the name and puts a new entry at the head of its bucket; the new
  // entry through `added` (optional). E_OUTOFMEMORY.
  HRESULT Add(const char* name, std::uint32_t reg, std::uint32_t count, RegisterNameEntry** added = nullptr);
  // The entries of buckets 0 to 6, each in chain order, into out (room for Size()).
  void Collect(const RegisterNameEntry** out) const;
  std::uint32_t Size() const { return m_size; }
  void Clear();

 private:
  RegisterNameEntry* m_buckets[kBuckets] = {};
  std::uint32_t m_size = 0;
};

}  // namespace gxl::shader
