#include "errtext/hresult_description.h"

#include "errtext/code_table.h"

namespace {

using errtext::detail::NameEntryA;
using errtext::detail::NameEntryW;

#include "errtext/hresult_description_table.inc"

static_assert(errtext::detail::IsStrictlyAscending(kDescriptionTableA));
static_assert(errtext::detail::IsStrictlyAscending(kDescriptionTableW));

}  // namespace

const char* HResultDescriptionA(HRESULT hr) {
  const char* text = errtext::detail::FindText(kDescriptionTableA, static_cast<std::uint32_t>(hr));
  return text ? text : "n/a";
}

const WCHAR* HResultDescriptionW(HRESULT hr) {
  const WCHAR* text = errtext::detail::FindText(kDescriptionTableW, static_cast<std::uint32_t>(hr));
  return text ? text : u"n/a";
}
