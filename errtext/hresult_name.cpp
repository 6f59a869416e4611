#include "errtext/hresult_name.h"

#include "errtext/code_table.h"

namespace {

using errtext::detail::NameEntryA;
using errtext::detail::NameEntryW;

#include "errtext/hresult_name_table.inc"

static_assert(errtext::detail::IsStrictlyAscending(kNameTableA));
static_assert(errtext::detail::IsStrictlyAscending(kNameTableW));

}  // namespace

const char* HResultNameA(HRESULT hr) {
  const char* name = errtext::detail::FindText(kNameTableA, static_cast<std::uint32_t>(hr));
  return name ? name : "Unknown";
}

const WCHAR* HResultNameW(HRESULT hr) {
  const WCHAR* name = errtext::detail::FindText(kNameTableW, static_cast<std::uint32_t>(hr));
  return name ? name : u"Unknown";
}
