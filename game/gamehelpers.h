// Small helpers shared by the game: clamping, truncation, inclusive rectangle
// tests and right-aligned number text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

// upper when value > upper, else lower when value < lower, else value.
double Clamp(double value, double upper, double lower);
// Toward zero, as movement results are converted; a value beyond the 32-bit
// range (possible only with absurd data) saturates.
std::int32_t Trunc(double value);
// Edges included.
bool PointInRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom, std::int32_t x,
                 std::int32_t y);
bool RectContains(const RECT& rect, std::int32_t x, std::int32_t y);
// The value right-aligned in width characters, blank-padded; longer values are
// not cut; a negative value gives "0".
std::string IntToString(std::int32_t value, std::int32_t width);
// 1, -1 or 0.
double Sign(double value);
