// The result-code list the name tables are generated from, read back by the
// tests as an independent account of which identifier has which value.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace errtext_test {

struct CodeRow {
  std::uint32_t value;
  std::string name;
  std::string family;  // "win32": a plain Win32 number, answered in both forms
};

const std::vector<CodeRow>& CodeRows();

// The entries no header defines: bare numbers named like security codes and
// the driver-specific input codes named by their offset.
const std::set<std::uint32_t>& CodesNoHeaderDefines();

// Every code the tables could answer: each value of the list, the HRESULT
// form of each Win32 number, and the entries no header defines.
const std::set<std::uint32_t>& CandidateCodes();

constexpr std::uint32_t kWin32Facility = 0x80070000u;

// A code of the list as the HRESULT the lookups take.
inline HRESULT Code(std::uint32_t value) { return static_cast<HRESULT>(value); }

// The parts of a name joined by " & ".
std::vector<std::string> NameParts(const std::string& name);

// UTF-16 text (ASCII expected) as 8-bit text; non-ASCII units become '?'.
std::string Narrow(const char16_t* text);

}  // namespace errtext_test
