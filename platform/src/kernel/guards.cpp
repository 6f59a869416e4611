// Scoped guards for the numeric locale and the floating-point environment.
#include <fenv.h>
#include <locale.h>

#include <cstring>

#include "platform/win_kernel.h"

namespace platform {


ScopedCNumericLocale::ScopedCNumericLocale() : m_previous(nullptr), m_c(nullptr) {
  locale_t current = uselocale(static_cast<locale_t>(0));
  // Only the numeric category changes; text and collation stay as they were.
  locale_t copy = duplocale(current);
  locale_t c = copy ? newlocale(LC_NUMERIC_MASK, "C", copy) : static_cast<locale_t>(0);
  if (!c) {
    if (copy) freelocale(copy);
    return;
  }
  m_c = c;
  m_previous = uselocale(c);
}

ScopedCNumericLocale::~ScopedCNumericLocale() {
  if (!m_c) return;
  uselocale(static_cast<locale_t>(m_previous));
  freelocale(static_cast<locale_t>(m_c));
}

namespace {
void SetX87Precision64() {
  unsigned short cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  cw = static_cast<unsigned short>((cw & ~0x0300u) | 0x0300u);  // PC = 11: 64-bit mantissa
  __asm__ volatile("fldcw %0" : : "m"(cw));
}
}  // namespace

ScopedFpEnv::ScopedFpEnv() {
  static_assert(sizeof(fenv_t) <= sizeof(m_env));
  fegetenv(reinterpret_cast<fenv_t*>(m_env));
  fedisableexcept(FE_ALL_EXCEPT);  // masks x87 and SSE alike; rounding is untouched
  SetX87Precision64();
}

ScopedFpEnv::~ScopedFpEnv() { fesetenv(reinterpret_cast<const fenv_t*>(m_env)); }

}  // namespace platform
