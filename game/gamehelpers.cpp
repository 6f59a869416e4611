#include "game/gamehelpers.h"

#include <climits>

double Clamp(double value, double upper, double lower) {
  if (value > upper) return upper;
  if (value < lower) return lower;
  return value;
}

std::int32_t Trunc(double value) {
  if (!(value > -2147483648.0)) return INT32_MIN;
  if (!(value < 2147483648.0)) return INT32_MAX;
  return static_cast<std::int32_t>(value);
}

bool PointInRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom, std::int32_t x,
                 std::int32_t y) {
  return left <= x && x <= right && top <= y && y <= bottom;
}

bool RectContains(const RECT& rect, std::int32_t x, std::int32_t y) {
  return PointInRect(rect.left, rect.top, rect.right, rect.bottom, x, y);
}

std::string IntToString(std::int32_t value, std::int32_t width) {
  if (value < 0) return "0";
  // The digits: the smallest n, up to width, for which value / 10^n is 0.
  std::int32_t n = 1;
  for (std::int64_t power = 10; n < width && value / power != 0; power *= 10) ++n;
  std::string text = std::to_string(value);
  return width > n ? std::string(static_cast<std::size_t>(width - n), ' ') + text : text;
}

double Sign(double value) {
  if (value > 0) return 1;
  if (value < 0) return -1;
  return 0;
}
