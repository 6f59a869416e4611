// Float-to-integer conversion for values that callers compute freely.
#pragma once

#include <cmath>
#include <limits>

// Truncates toward zero, saturating at the ends of int; NaN gives 0.
inline int TruncateToInt(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0f) return std::numeric_limits<int>::max();
  if (value <= -2147483648.0f) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}
