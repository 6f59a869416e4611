// The digits the screens show for a time in milliseconds: m:ss.cc. Times of
// ten minutes or more have no minutes digit of their own and show as the
// largest time that fits, 9:59.99; the stored times are not touched.
#pragma once

#include <cstdint>
#include <string>

struct C_TimeDigits {
  static constexpr std::uint32_t kLargestShown = 599990;  // 9:59.99

  explicit C_TimeDigits(std::uint32_t ms);

  std::uint32_t minutes;
  std::uint32_t tensOfSeconds;
  std::uint32_t seconds;
  std::uint32_t tenths;
  std::uint32_t hundredths;
};

// " m: s:cc" as right-aligned two-character fields (minutes, seconds and
// hundredths of the time).
std::string FormatTime(std::uint32_t ms);
