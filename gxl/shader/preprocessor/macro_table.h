// The macro table of one preprocessing run: definitions by name, and the
// recursion test that refuses a macro whose body leads, through the bodies of
// the macros it names, into a cycle. Definitions and their tokens live in the
// run's page pool; the table only links them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/source_token.h"

namespace gxl::shader {

struct MacroDefinition {
  const char* name;
  std::uint32_t nameLength;
  std::uint32_t hash;
  std::uint32_t paramCount;  // 0 for an object-like macro
  const char* const* params;
  const SourceToken* body;           // texts copied into the pool with their spacing
  const std::uint32_t* bodyParam;    // per body token: 1 + the parameter it names, or 0
  std::uint32_t bodyCount;
  MacroDefinition* link;             // next in the bucket
  // Recursion-test verdict, valid while memoGeneration is the table's.
  std::uint32_t memoGeneration;
  std::uint8_t colour;
  bool refused;
};

std::uint32_t HashMacroName(const char* name, std::size_t length);

// Same parameter count and pairwise equal body tokens (parameters by position).
bool SameMacroDefinition(const MacroDefinition& a, const MacroDefinition& b);

class MacroTable {
 public:
  MacroTable() = default;
  ~MacroTable();
  MacroTable(const MacroTable&) = delete;
  MacroTable& operator=(const MacroTable&) = delete;

  // The definition of the name, refused or not; null when there is none.
  MacroDefinition* Lookup(const char* name, std::size_t length) const;
  // The definition when it may be expanded: null when absent or refused.
  MacroDefinition* FindExpandable(const char* name, std::size_t length);
  // Enters the definition (its hash set), replacing the one of the same name,
  // which *replaced receives (null when the name is new). False without memory.
  bool Insert(MacroDefinition* definition, MacroDefinition** replaced);
  // Unlinks the definition of the name, if any.
  void Remove(const char* name, std::size_t length);

 private:
  struct NameKey {
    const char* name;
    std::uint32_t length;
    std::uint32_t hash;
  };
  struct Frame {
    MacroDefinition* definition;
    std::uint32_t next;  // body token to look at
  };

  MacroDefinition** Slot(const char* name, std::size_t length, std::uint32_t hash);
  bool Grow();
  // Records the identifiers of the body, whose (re)definition can change verdicts.
  void NoteReferences(const MacroDefinition& definition);
  bool GrowReferenced();
  bool IsReferenced(const char* name, std::size_t length, std::uint32_t hash) const;
  // A change to the named macro: verdicts of others are dropped only when
  // some body names it.
  void Changed(const MacroDefinition* definition);
  bool Refused(MacroDefinition* root);

  MacroDefinition** m_buckets = nullptr;
  std::uint32_t m_bucketBits = 0;
  std::size_t m_count = 0;
  NameKey* m_referenced = nullptr;  // open addressing, power-of-two size
  std::size_t m_referencedCapacity = 0;
  std::size_t m_referencedCount = 0;
  bool m_referencedLost = false;  // the set could not grow: every change counts
  std::uint32_t m_generation = 1;
  PodArray<Frame> m_stack;
};

}  // namespace gxl::shader
