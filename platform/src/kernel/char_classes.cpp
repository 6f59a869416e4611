// Wide character classes over a C.UTF-8 locale object made once for the
// process. Where the system has no such locale, only ASCII is classified.
#include <locale.h>
#include <wctype.h>

#include "platform/win_kernel.h"

namespace platform::crt {
namespace {

locale_t Utf8Locale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    return l;  // kept for the process
  }();
  return locale;
}

bool Classifiable(WCHAR c) { return (c < 0xD800 || c > 0xDFFF) && Utf8Locale(); }

}  // namespace

int iswalpha(WCHAR c) { return Classifiable(c) && ::iswalpha_l(static_cast<wint_t>(c), Utf8Locale()); }
int iswdigit(WCHAR c) { return Classifiable(c) && ::iswdigit_l(static_cast<wint_t>(c), Utf8Locale()); }
int iswpunct(WCHAR c) { return Classifiable(c) && ::iswpunct_l(static_cast<wint_t>(c), Utf8Locale()); }
int iswspace(WCHAR c) { return Classifiable(c) && ::iswspace_l(static_cast<wint_t>(c), Utf8Locale()); }

}  // namespace platform::crt
