// Doubles truncated toward zero as the x86 conversion instructions do it: NaN
// and values outside the target's range give its most negative value instead
// of undefined behaviour. The back end folds to 32 bits, the parser to 64.
#pragma once

#include <cstdint>

namespace gxl::shader {

constexpr std::int32_t TruncToInt32(double x) {
  return x > -2147483649.0 && x < 2147483648.0 ? static_cast<std::int32_t>(x) : INT32_MIN;
}

constexpr std::int64_t TruncToInt64(double x) {
  return x >= -9223372036854775808.0 && x < 9223372036854775808.0 ? static_cast<std::int64_t>(x) : INT64_MIN;
}

}  // namespace gxl::shader
